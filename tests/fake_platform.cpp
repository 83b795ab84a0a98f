#include "fake_platform.h"

#include <algorithm>
#include <csetjmp>
#include <memory>

#include "formatter/formatter.h"
#include "streams/text_stream.h"

namespace fake {

Handle handles[3];
std::vector<Call> calls;
bool memory_refused = false;
std::vector<std::unique_ptr<unsigned char[]>> blocks;  // what platform_allocate gave out
std::jmp_buf exit_target;
int exit_status;

void reset() {
    for (Handle& h : handles) h = Handle{};
    calls.clear();
    blocks.clear();
    memory_refused = false;
    streams_start_over();
}

int run_process(int argument_count) {
    if (setjmp(exit_target) == 0) {
        classify_standard_handles();
        exit_process(run_formatter(argument_count));
    }
    return exit_status;
}

}  // namespace fake

using fake::handles;

void platform_prepare_standard_handles() {}

StandardHandle platform_standard_handle(int index) {
    if (handles[index].type == FileType::missing) return {NO_OS_HANDLE, FileType::missing};
    return {index, handles[index].type};
}

int platform_read(OsHandle index, unsigned char* destination, int size) {
    fake::Handle& h = handles[index];
    int call = h.reads;
    ++h.reads;
    int n = call < int(h.chunks.size()) ? std::min(size, h.chunks[call]) : size;
    std::string bytes = call == h.failing_read ? "" : h.input.substr(h.position, n);
    bytes.copy(reinterpret_cast<char*>(destination), bytes.size());
    h.position += bytes.size();
    int result = call == h.failing_read ? -1 : int(bytes.size());
    fake::calls.push_back({'R', int(index), size, result, bytes});
    return result;
}

int platform_write(OsHandle index, const unsigned char* source, int size) {
    fake::Handle& h = handles[index];
    auto limit = h.write_limits.find(h.writes);
    ++h.writes;
    int n = limit != h.write_limits.end() ? std::min(size, limit->second) : size;
    std::string bytes(reinterpret_cast<const char*>(source), n);
    fake::calls.push_back({'W', int(index), size, n, bytes});
    return n;
}

bool platform_step_back(OsHandle index) {
    fake::Handle& h = handles[index];
    bool moved = h.type == FileType::disk && h.can_step_back;
    if (moved) --h.position;
    fake::calls.push_back({'B', int(index), 1, moved ? 0 : -1, ""});
    return moved;
}

unsigned char* platform_allocate(std::size_t size) {
    fake::calls.push_back({'M', -1, int(size), 0, ""});
    if (fake::memory_refused) return nullptr;
    fake::blocks.push_back(std::make_unique<unsigned char[]>(size));
    return fake::blocks.back().get();
}

void platform_exit(int status) {
    fake::exit_status = status;
    std::longjmp(fake::exit_target, 1);
}
