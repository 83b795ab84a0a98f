// unit_tests LEVEL: over the scripted platform and the byte path's level named, random scenarios
// against the property, the order of calls and the bytes a pipe gives that the property leaves
// open, and argument counts.
#include <cstdio>
#include <iterator>
#include <random>
#include <string_view>

#include "fake_platform.h"
#include "byte_path/levels.h"
#include "platform/command_line.h"
#include "streams/text_stream.h"

namespace {

int failed;

void expect(bool holds, const std::string& what, const std::string& detail) {
    if (holds) return;
    ++failed;
    std::printf("FAILED: %s\n  %s\n", what.c_str(), detail.c_str());
}

// The input is read 3 bytes first: a full output block is written only when the process ends.
void full_block_waits_for_the_end() {
    fake::reset();
    fake::handles[0] = {FileType::disk, std::string(BUFFER_SIZE, 'x'), {3}};
    fake::run_process(1);
    std::string order;  // R read, M memory, W write
    for (const fake::Call& call : fake::calls) order += call.op;
    expect(order == "RMRRWWWW", "a full block waits for the end of the process", "got " + order);
}

// Read 3 bytes first, a CR LF split across reads or whole is one LF; other CRs stay.
void pipe_gives_cr_lf_as_lf() {
    fake::reset();
    std::string pad(64, 'x');  // so that the second read holds a whole 64-byte step
    fake::handles[0] = {FileType::pipe, "ab\r\ncd\r\r\ne\rf\rg\r\nh\rx\n" + pad + "\r", {3}};
    classify_standard_handles();
    std::string bytes;
    for (;;) {
        int c = stream_get_byte(standard_input);
        if (c == END) break;
        bytes += char(c);
    }
    std::string want = "ab\ncd\r\ne\rf\rg\nh\rx\n" + pad + "\r";
    expect(bytes == want, "pipe: a CR LF split or whole is one LF", "got " + bytes);
}

// Only whether the count is 1 matters: a quoted program name that holds a blank and ends in a
// backslash, quoted and empty arguments, an escaped quote, blanks at the end.
const std::pair<const char*, int> COMMAND_LINES[] = {
    {"\"C:\\Program Files\\\" a", 2}, {"tagsplit \"\" \"a b\" a\\\"b c \t ", 5}};

}  // namespace

int main(int argc, char** argv) {
    int levels = static_cast<int>(std::size(BYTE_PATH_NAMES));
    int level = 0;  // the level named by the argument
    while (level < levels && (argc != 2 || argv[1] != std::string_view(BYTE_PATH_NAMES[level]))) {
        ++level;
    }
    if (level == levels) {
        std::printf("usage: unit_tests scalar|sse2|avx512\n");
        return 2;
    }
    const char* lacks = byte_path_lacks(BytePath(level));
    if (*lacks != '\0') {
        std::printf("SKIPPED: the %s byte path needs, and this processor lacks:%s\n",
                    BYTE_PATH_NAMES[level], lacks);
        return 77;
    }
    BytePath chosen = choose_byte_path(BytePath(level));
    expect(chosen == BytePath(level), "the level chosen", BYTE_PATH_NAMES[int(chosen)]);
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> s(fake::SCENARIO_HEADER + random() % 14000);
        for (std::uint8_t& c : s) c = std::uint8_t(random());
        const char* fault = fake::scenario_fails(s.data(), s.size());
        expect(fault == nullptr, "property, round " + std::to_string(round), fault ? fault : "");
    }
    full_block_waits_for_the_end();
    pipe_gives_cr_lf_as_lf();
    for (auto [line, count] : COMMAND_LINES) {
        int counted = count_arguments(line);
        expect(counted == count, line, "counted " + std::to_string(counted));
    }
    std::printf("%d failed\n", failed);
    return failed == 0 ? 0 : 1;
}
