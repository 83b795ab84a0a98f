// libFuzzer target: the whole process (classification, formatter, exit) over
// the scripted platform, with handle kinds, read chunks, short or failed
// writes, refused memory and the argument count all taken from the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_scene.h"
#include "transform.h"

namespace {

const FileType TYPES[] = {FileType::disk, FileType::pipe, FileType::character, FileType::missing};

#define check(holds)                                                   \
    do {                                                               \
        if (!(holds)) {                                                \
            std::fprintf(stderr, "fuzz oracle failed: %s\n", #holds);   \
            std::abort();                                              \
        }                                                              \
    } while (false)

bool is_file_or_pipe(FileType type) { return type == FileType::disk || type == FileType::pipe; }

// Every LF on the wire follows a CR in the same write, and no write is too long.
void check_write_calls(const std::vector<fake::Call>& writes) {
    for (const fake::Call& call : writes) {
        check(call.asked <= MAX_PIECE);
        for (std::size_t i = 0; i < call.bytes.size(); ++i) {
            if (call.bytes[i] == '\n') check(i > 0 && call.bytes[i - 1] == '\r');
        }
    }
}

// To a buffered file or pipe, no piece crosses a 4096-byte block of source
// bytes, and a piece that stops short of the staging limit ends its block.
void check_blocks(const std::vector<fake::Call>& writes) {
    long source = 0;
    for (std::size_t k = 0; k < writes.size(); ++k) {
        const std::string& piece = writes[k].bytes;
        long length = static_cast<long>(piece.size());
        for (char c : piece) length -= c == '\n';
        long end = source + length;
        check(source / BUFFER_SIZE == (end - 1) / BUFFER_SIZE);
        bool last = k + 1 == writes.size();
        if (static_cast<int>(piece.size()) < STAGING_LIMIT && !last) check(end % BUFFER_SIZE == 0);
        source = end;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    FileType in = TYPES[provider.ConsumeIntegralInRange(0, 3)];
    FileType out = TYPES[provider.ConsumeIntegralInRange(0, 3)];
    std::uint8_t arguments = provider.ConsumeIntegral<std::uint8_t>();
    int argument_count = arguments < 224 ? 1 : arguments % 4;
    bool memory_refused = provider.ConsumeIntegralInRange(0, 7) == 0;
    bool can_step_back = provider.ConsumeIntegralInRange(0, 7) != 0;
    std::vector<int> chunks(provider.ConsumeIntegralInRange(0, 8));
    for (int& chunk : chunks) chunk = provider.ConsumeIntegralInRange(1, 5000);
    bool read_fails = provider.ConsumeIntegralInRange(0, 7) == 0;
    int failing_read = provider.ConsumeIntegralInRange(0, 10);
    std::map<int, int> limits;
    for (int n = provider.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        int call = provider.ConsumeIntegralInRange(0, 20);
        limits[call] = provider.ConsumeIntegralInRange(0, MAX_PIECE);
    }
    std::string input = provider.ConsumeRemainingBytesAsString();

    scene(in, out, input, chunks);
    fake::handle(0).can_step_back = can_step_back;
    if (read_fails) fake::handle(0).failing_read = failing_read;
    fake::handle(1).write_limits = limits;
    fake::refuse_memory(memory_refused);
    int status = run_process(argument_count);

    std::vector<fake::Call> reads = fake::calls_of(fake::Call::read, 0);
    std::vector<fake::Call> writes = fake::calls_of(fake::Call::write, 1);
    bool read_failed = in == FileType::missing;
    // A failed one-byte peek after a CR only keeps the CR; it loses nothing.
    for (const fake::Call& call : reads) read_failed |= call.result < 0 && call.asked > 1;
    bool write_lost = false;
    for (const fake::Call& call : writes) write_lost |= static_cast<int>(call.bytes.size()) < call.asked;

    check_write_calls(writes);
    if (argument_count != 1) {
        check(status == STATUS_USAGE);
        check(reads.empty());
        if (out != FileType::missing && !write_lost) check(fake::handle(1).output == USAGE_TEXT);
        return 0;
    }
    if (is_file_or_pipe(out) && !memory_refused && !write_lost) check_blocks(writes);
    if (!is_file_or_pipe(in) || read_failed) {
        // The bytes a console gives are not worked out here, so neither is
        // whether a missing output had anything to lose.
        if (read_failed || write_lost) {
            check(status == STATUS_OUTPUT_LOST);
        } else if (out != FileType::missing) {
            check(status == STATUS_FILTERED);
        } else {
            check(status == STATUS_FILTERED || status == STATUS_OUTPUT_LOST);
        }
        return 0;
    }
    std::string expected = expected_output(input);
    bool lost = write_lost || (out == FileType::missing && !expected.empty());
    check(status == (lost ? STATUS_OUTPUT_LOST : STATUS_FILTERED));
    if (!lost) check(fake::handle(1).output == expected);
    return 0;
}
