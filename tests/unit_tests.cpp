// Over the scripted platform: random scenarios against the property, the
// exact calls of the cases a property cannot pin down, and argument counts.
#include <cstdio>
#include <random>

#include "fake_platform.h"
#include "platform/command_line.h"
#include "streams/text_stream.h"

namespace {

using T = FileType;
int passed, failed;

void expect(bool holds, const std::string& what, const std::string& detail) {
    ++(holds ? passed : failed);
    if (!holds) std::printf("FAILED: %s\n  %s\n", what.c_str(), detail.c_str());
}

// The calls in one line: R0.4096:bytes, W1.2:\r\n, B, M; bytes beyond 16 as #count.
std::string trace() {
    std::string out;
    for (const fake::Call& call : fake::calls) {
        out += (out.empty() ? "" : " ") + std::string(1, call.op);
        if (call.op == 'B' || call.op == 'M') continue;
        out += std::to_string(call.handle) + '.' + std::to_string(call.asked) + ':';
        if (call.bytes.size() > 16) out += '#' + std::to_string(call.bytes.size());
        else for (char c : call.bytes) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return out;
}

struct Row {
    const char* name;
    T in, out;
    std::string input, trace, bytes;  // bytes: what stream_get_byte gives before END; "" runs the process
};

const std::string X4096(BUFFER_SIZE, 'x'), PIECE = " W1.1024:#1024", PIECES = PIECE + PIECE + PIECE + PIECE;

// The input comes in reads of 3 bytes and then whatever is left.
const Row ROWS[] = {
    {"pipe: a CR LF split or whole is one LF; other CRs stay", T::pipe, T::disk, "ab\r\ncd\r\r\ne\rf\r",
     "R0.4096:ab\\r R0.1:\\n R0.4096:cd\\r\\r\\ne\\rf\\r R0.1: R0.4096:", "ab\ncd\r\ne\rf\r"},
    {"a full block waits for the end of the process", T::disk, T::disk, X4096,
     "R0.4096:xxx M R0.4096:#4093 R0.4096:" + PIECES, ""},
    {"the byte after a full block writes it", T::disk, T::pipe, X4096 + "y",
     "R0.4096:xxx M R0.4096:#4094" + PIECES + " R0.4096: W1.1:y", ""},
    {"a console gets each byte as it is made", T::pipe, T::character, "a>bc",
     "R0.4096:a>b W1.1:a W1.1:> W1.2:\\r\\n W1.1:b R0.4096:c W1.1:c R0.4096:", ""},
};

void rows_make_exactly_these_calls() {
    for (const Row& row : ROWS) {
        fake::reset();
        fake::handles[0] = {row.in, row.input, {3}};
        fake::handles[1].type = row.out;
        std::string bytes;
        if (row.bytes.empty()) fake::run_process(1);
        else classify_standard_handles();
        for (int c; !row.bytes.empty() && (c = stream_get_byte(standard_input)) != END;) bytes += char(c);
        expect(trace() == row.trace, row.name, "got calls " + trace());
        if (!row.bytes.empty()) expect(bytes == row.bytes, row.name, "got bytes " + bytes);
    }
}

// Only whether the count is 1 matters: a quoted program name, blanks and empty arguments.
const std::pair<const char*, int> COMMAND_LINES[] = {{"", 0}, {"tagsplit \t ", 1}, {"\"C:\\dir\\\" a", 2},
    {"\"C:\\Program Files\\tagsplit.exe\"", 1}, {"tagsplit \"\" \"a b\" a\\\"b c", 5}};

}  // namespace

int main() {
    std::mt19937 random(20261206);
    for (int round = 0; round < 3000; ++round) {  // random bytes; a third end near a block edge
        int length = random() % 3 ? random() % 14000 : BUFFER_SIZE * (1 + random() % 3) + random() % 5 - 2;
        std::string s(fake::SCENARIO_HEADER + length, 0);
        for (char& c : s) c = char(random());
        const char* fault = fake::scenario_fails(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
        expect(fault == nullptr, "property, round " + std::to_string(round), fault ? fault : "");
    }
    rows_make_exactly_these_calls();
    for (auto [line, count] : COMMAND_LINES) {
        expect(count_arguments(line) == count, line, "counted " + std::to_string(count_arguments(line)));
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
