#include "platform/platform_fake.h"

#include <csetjmp>
#include <memory>

#include "streams/text_stream.h"

namespace fake {
namespace {

Handle handles[3];
std::vector<Call> recorded;
std::vector<std::unique_ptr<unsigned char[]>> blocks;
bool memory_refused = false;
std::jmp_buf* exit_target = nullptr;
int exit_status = -1;

}  // namespace

void reset() {
    for (Handle& h : handles) h = Handle{};
    recorded.clear();
    blocks.clear();
    memory_refused = false;
    streams_start_over();
}

Handle& handle(int index) { return handles[index]; }
void refuse_memory(bool refused) { memory_refused = refused; }
int allocations() { return static_cast<int>(blocks.size()); }
const std::vector<Call>& calls() { return recorded; }

std::vector<Call> calls_of(Call::Op op, int index) {
    std::vector<Call> found;
    for (const Call& call : recorded) {
        if (call.op == op && call.handle == index) found.push_back(call);
    }
    return found;
}

int run_until_exit(void (*body)()) {
    std::jmp_buf target;
    exit_target = &target;
    if (setjmp(target) == 0) body();
    exit_target = nullptr;
    return exit_status;
}

}  // namespace fake

using fake::Call;
using fake::handles;

void platform_prepare_standard_handles() {}

StandardHandle platform_standard_handle(int index) {
    if (handles[index].type == FileType::missing) return {NO_OS_HANDLE, FileType::missing};
    return {index, handles[index].type};
}

int platform_read(OsHandle index, unsigned char* destination, int size) {
    fake::Handle& h = handles[index];
    int call = h.reads++;
    if (call == h.failing_read) {
        fake::recorded.push_back({Call::read, static_cast<int>(index), size, "", -1});
        return -1;
    }
    std::size_t n = h.input.size() - h.position;
    if (n > static_cast<std::size_t>(size)) n = static_cast<std::size_t>(size);
    if (call < static_cast<int>(h.chunks.size()) && n > static_cast<std::size_t>(h.chunks[call])) {
        n = static_cast<std::size_t>(h.chunks[call]);
    }
    std::string bytes = h.input.substr(h.position, n);
    bytes.copy(reinterpret_cast<char*>(destination), n);
    h.position += n;
    fake::recorded.push_back({Call::read, static_cast<int>(index), size, bytes, static_cast<int>(n)});
    return static_cast<int>(n);
}

int platform_write(OsHandle index, const unsigned char* source, int size) {
    fake::Handle& h = handles[index];
    int call = h.writes++;
    int n = size;
    auto limit = h.write_limits.find(call);
    if (limit != h.write_limits.end() && limit->second < n) n = limit->second;
    std::string bytes(reinterpret_cast<const char*>(source), static_cast<std::size_t>(n));
    h.output += bytes;
    fake::recorded.push_back({Call::write, static_cast<int>(index), size, bytes, n});
    return n;
}

bool platform_step_back(OsHandle index) {
    fake::Handle& h = handles[index];
    bool moved = h.type == FileType::disk && h.can_step_back && h.position > 0;
    if (moved) --h.position;
    fake::recorded.push_back({Call::step_back, static_cast<int>(index), 1, "", moved ? 0 : -1});
    return moved;
}

unsigned char* platform_allocate(std::size_t size) {
    if (fake::memory_refused) return nullptr;
    fake::blocks.push_back(std::make_unique<unsigned char[]>(size));
    return fake::blocks.back().get();
}

void platform_exit(int status) {
    fake::exit_status = status;
    std::longjmp(*fake::exit_target, 1);
}
