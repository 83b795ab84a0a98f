// Over the scripted platform: random scenarios against the property, the
// exact calls of the cases a property cannot pin down, and argument counts.
#include <cstdio>
#include <random>

#include "fake_platform.h"
#include "platform/command_line.h"
#include "streams/text_stream.h"

namespace {

using T = FileType;
int failed;

void expect(bool holds, const std::string& what, const std::string& detail) {
    if (holds) return;
    ++failed;
    std::printf("FAILED: %s\n  %s\n", what.c_str(), detail.c_str());
}

// The calls in one line: R0.4096:bytes, W1.2:\r\n, B, M; bytes beyond 16 as #count.
std::string trace() {
    std::string out;
    for (const fake::Call& call : fake::calls) {
        out += (out.empty() ? "" : " ") + std::string(1, call.op);
        if (call.op == 'B' || call.op == 'M') continue;
        out += std::to_string(call.handle) + '.' + std::to_string(call.asked) + ':';
        std::string shown;
        for (char c : call.bytes) shown += c == CR ? "\\r" : c == LF ? "\\n" : std::string(1, c);
        out += call.bytes.size() > 16 ? '#' + std::to_string(call.bytes.size()) : shown;
    }
    return out;
}

struct Row {
    const char* name;
    T in, out;
    std::string input, trace, bytes;  // bytes: what the stream gives; "" runs the process
};

const std::string X4096(BUFFER_SIZE, 'x');
const std::string PIECES = " W1.1024:#1024 W1.1024:#1024 W1.1024:#1024 W1.1024:#1024";

// The input comes in reads of 3 bytes and then whatever is left.
const Row ROWS[] = {
    {"pipe: a CR LF split or whole is one LF; other CRs stay", T::pipe, T::disk,
     "ab\r\ncd\r\r\ne\rf\r", "R0.4096:ab\\r R0.1:\\n R0.4096:cd\\r\\r\\ne\\rf\\r R0.1: R0.4096:",
     "ab\ncd\r\ne\rf\r"},
    {"a full block waits for the end of the process", T::disk, T::disk, X4096,
     "R0.4096:xxx M R0.4096:#4093 R0.4096:" + PIECES, ""},
    {"the byte after a full block writes it", T::disk, T::pipe, X4096 + "y",
     "R0.4096:xxx M R0.4096:#4094" + PIECES + " R0.4096: W1.1:y", ""},
    {"a console gets each byte as it is made", T::pipe, T::character, "a>bc",
     "R0.4096:a>b W1.1:a W1.1:> W1.2:\\r\\n W1.1:b R0.4096:c W1.1:c R0.4096:", ""},
};

// Classifies the handles and takes bytes from standard input until END.
std::string bytes_before_end() {
    classify_standard_handles();
    std::string bytes;
    for (;;) {
        int c = stream_get_byte(standard_input);
        if (c == END) return bytes;
        bytes += char(c);
    }
}

void rows_make_exactly_these_calls() {
    for (const Row& row : ROWS) {
        fake::reset();
        fake::handles[0] = {row.in, row.input, {3}};
        fake::handles[1].type = row.out;
        std::string bytes;
        if (row.bytes.empty()) fake::run_process(1);
        else bytes = bytes_before_end();
        expect(trace() == row.trace, row.name, "got calls " + trace());
        if (!row.bytes.empty()) expect(bytes == row.bytes, row.name, "got bytes " + bytes);
    }
}

// Only whether the count is 1 matters: a quoted program name, blanks and empty arguments.
const std::pair<const char*, int> COMMAND_LINES[] = {
    {"", 0}, {"tagsplit \t ", 1}, {"\"C:\\dir\\\" a", 2},
    {"\"C:\\Program Files\\tagsplit.exe\"", 1}, {"tagsplit \"\" \"a b\" a\\\"b c", 5}};

// Random bytes of any length up to 14000; a third end within 2 bytes of a block edge.
int input_length(std::mt19937& random) {
    if (random() % 3 != 0) return random() % 14000;
    int blocks = 1 + random() % 3;
    return BUFFER_SIZE * blocks + random() % 5 - 2;
}

}  // namespace

int main() {
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> s(fake::SCENARIO_HEADER + input_length(random));
        for (std::uint8_t& c : s) c = std::uint8_t(random());
        const char* fault = fake::scenario_fails(s.data(), s.size());
        expect(fault == nullptr, "property, round " + std::to_string(round), fault ? fault : "");
    }
    rows_make_exactly_these_calls();
    for (auto [line, count] : COMMAND_LINES) {
        int counted = count_arguments(line);
        expect(counted == count, line, "counted " + std::to_string(counted));
    }
    std::printf("%d failed\n", failed);
    return failed == 0 ? 0 : 1;
}
