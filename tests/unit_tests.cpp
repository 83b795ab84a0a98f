// Over the scripted platform: random scenarios against the property, the
// exact calls of the cases a property cannot pin down, and argument counts.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "fake_platform.h"
#include "platform/command_line.h"
#include "property.h"
#include "streams/text_stream.h"

namespace {

using T = FileType;
int passed, failed;

void expect(bool holds, const std::string& what, const std::string& detail) {
    ++(holds ? passed : failed);
    if (!holds) std::printf("FAILED: %s\n  %s\n", what.c_str(), detail.c_str());
}

// Random bytes decode to a scenario; a third of the inputs end near a block edge.
std::string random_scenario(std::mt19937& random) {
    constexpr int HEADER = 30;
    int length = random() % 3 ? random() % 14000 : BUFFER_SIZE * (1 + random() % 3) + random() % 5 - 2;
    std::string s(HEADER + length, 0);
    for (char& c : s) c = char(random());
    return s;
}

struct Row {
    const char* name;
    T in, out;
    std::string input;
    std::vector<int> chunks;
    std::string trace;
    std::string bytes;  // given by stream_get_byte to its second END ('$'); "" runs the process
    bool can_step_back = true;
};

const std::string X4096(BUFFER_SIZE, 'x'), PIECES = " W1.1024:#1024 W1.1024:#1024 W1.1024:#1024 W1.1024:#1024";

const Row ROWS[] = {
    {"disk: a CR LF split across reads costs a step back", T::disk, T::disk, "ab\r\ncd", {3},
     "R0.4096:ab\\r R0.1:\\n B R0.4096:\\ncd R0.4096: R0.4096:", "ab\ncd$$"},
    {"disk: the byte after a final CR is read again", T::disk, T::disk, "ab\rxy", {3},
     "R0.4096:ab\\r R0.1:x B R0.4096:xy R0.4096: R0.4096:", "ab\rxy$$"},
    {"disk: a lone CR takes its LF without a step back", T::disk, T::disk, "\r\nx", {1},
     "R0.4096:\\r R0.1:\\n R0.4096:x R0.4096: R0.4096:", "\nx$$"},
    {"disk that cannot step back holds the byte", T::disk, T::disk, "ab\rxy", {3},
     "R0.4096:ab\\r R0.1:x B R0.4095:y R0.4096: R0.4096:", "ab\rxy$$", false},
    {"pipe: a CR LF split across reads is one LF", T::pipe, T::disk, "ab\r\ncd", {3},
     "R0.4096:ab\\r R0.1:\\n R0.4096:cd R0.4096: R0.4096:", "ab\ncd$$"},
    {"device: the byte after a final CR is held", T::character, T::disk, "ab\rxy", {3},
     "R0.4096:ab\\r R0.1:x R0.4095:y R0.4096: R0.4096:", "ab\rxy$$"},
    {"a CR at the end of the input stays", T::pipe, T::disk, "a\r", {}, "R0.4096:a\\r R0.1: R0.4096: R0.4096:",
     "a\r$$"},
    {"CR LF within a read is one LF; other CRs stay", T::pipe, T::disk, "a\r\nb\r\r\nc\rd", {},
     "R0.4096:a\\r\\nb\\r\\r\\nc\\rd R0.4096: R0.4096:", "a\nb\r\nc\rd$$"},
    {"device: a read that begins with 0x1A is an END", T::character, T::disk, "ab\x1a" "cdef", {2, 3},
     "R0.4096:ab R0.4096:\x1a" "cd R0.4096:ef R0.4096:", "ab$ef$"},
    {"a full block waits for the end of the process", T::disk, T::disk, X4096, {},
     "R0.4096:#4096 M R0.4096:" + PIECES},
    {"the byte after a full block writes it", T::disk, T::pipe, X4096 + "y", {},
     "R0.4096:#4096 M R0.4096:y" + PIECES + " R0.4096: W1.1:y"},
    {"a console gets each byte as it is made", T::pipe, T::character, "a>b", {2},
     "R0.4096:a> W1.1:a W1.1:> W1.2:\\r\\n R0.4096:b W1.1:b R0.4096:"},
};

void rows_make_exactly_these_calls() {
    for (const Row& row : ROWS) {
        fake::reset();
        fake::handles[0] = {row.in, row.input, row.chunks, -1, row.can_step_back};
        fake::handles[1].type = row.out;
        std::string bytes;
        if (row.bytes.empty()) {
            fake::run_process(1);
        } else {
            classify_standard_handles();
            for (int ends = 0, c; ends < 2; ends += c == END) {
                c = stream_get_byte(standard_input);
                bytes += c == END ? '$' : char(c);
            }
        }
        expect(fake::trace() == row.trace, row.name, "got calls " + fake::trace());
        expect(bytes == row.bytes, row.name, "got bytes " + bytes);
    }
}

// Only whether the count is 1 matters: a quoted program name, blanks and empty arguments.
const std::pair<const char*, int> COMMAND_LINES[] = {
    {"", 0}, {"tagsplit", 1}, {"tagsplit \t ", 1}, {"\"C:\\Program Files\\tagsplit.exe\"", 1},
    {"\"C:\\dir\\\" a", 2}, {"tagsplit \"\"", 2}, {"tagsplit \"\" \"a b\" a\\\"b c", 5},
};

}  // namespace

int main(int argc, char** argv) {
    std::mt19937 random(20261206);
    if (argc == 3 && std::string(argv[1]) == "--seeds") {  // a corpus for the fuzz target
        std::filesystem::create_directories(argv[2]);
        for (int i = 0; i < 64; ++i) std::ofstream(argv[2] + ("/" + std::to_string(i))) << random_scenario(random);
        return 0;
    }
    for (int round = 0; round < 3000; ++round) {
        std::string s = random_scenario(random);
        const char* fault = scenario_fails(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
        expect(fault == nullptr, "property, round " + std::to_string(round), fault ? fault : "");
    }
    rows_make_exactly_these_calls();
    for (auto [line, count] : COMMAND_LINES) {
        expect(count_arguments(line) == count, line, "counted " + std::to_string(count_arguments(line)));
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
