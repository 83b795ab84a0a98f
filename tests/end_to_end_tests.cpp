// The built program over real files, pipes, pseudo-terminals, closed
// descriptors and /dev/full: the exact bytes it writes and its exit status.
#include <gtest/gtest.h>

#include <random>

#include "process_runner.h"
#include "transform.h"

namespace {

using std::string_literals::operator""s;

const std::string USAGE_TEXT = "a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n";

// The example in the README.
const std::string README_INPUT = "<ul>\n\t<li><a href=\"/a\">First</a></li>\r\n\t<li>Second</li>\n</ul>\n";
const std::string README_OUTPUT =
    "<ul>\r\n<li>\r\n<a href=\"/a\">\r\nFirst</a>\r\n</li>\r\n<li>\r\nSecond</li>\r\n</ul>\r\n";

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    const char frequent[] = "<>\t\r\n ";
    for (char& c : bytes) {
        unsigned roll = random() % 16;
        c = roll < 6 ? frequent[roll] : static_cast<char>(random() % 256);
        if (c == '\x1a') c = 'z';
    }
    return bytes;
}

// A CR at the very end of each 4096-byte read, followed by another byte.
std::string cr_on_every_block_edge() {
    std::string bytes;
    for (int block = 0; block < 4; ++block) bytes += std::string(4095, block % 2 ? '>' : 'a') + '\r';
    return bytes + "x";
}

struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string input;
    Attach in, out;
    std::string output;
    int status;
};

const std::string LARGE = random_bytes(3 << 20, 7);

const Case CASES[] = {
    {"readme example file to file", {}, README_INPUT, Attach::file, Attach::file, README_OUTPUT, 0},
    {"readme example pipe to pipe", {}, README_INPUT, Attach::pipe, Attach::pipe, README_OUTPUT, 0},
    {"part example", {}, "<html>\r\n  <body>\tHi</body>\r\n</html>\r\n", Attach::file, Attach::file,
     "<html>\r\n  <body>\r\nHi</body>\r\n</html>\r\n", 0},
    {"empty input", {}, "", Attach::file, Attach::file, "", 0},
    {"one argument prints the usage", {"x"}, "<a>", Attach::file, Attach::file, USAGE_TEXT, 2},
    {"an empty argument prints the usage", {""}, "<a>", Attach::pipe, Attach::pipe, USAGE_TEXT, 2},
    {"several arguments print the usage", {"a", "b", "c"}, "", Attach::file, Attach::pty, USAGE_TEXT, 2},
    {"usage never waits for a console", {"x"}, "<a>", Attach::pty, Attach::file, USAGE_TEXT, 2},
    {"0x1A ends a file", {}, "<a>\x1a<b>", Attach::file, Attach::file, "<a>\r\n", 0},
    {"0x1A ends a pipe", {}, "<a>b\x1a<b>", Attach::pipe, Attach::file, "<a>\r\nb", 0},
    {"NUL and bytes 128 to 255 pass unchanged", {}, "\0\x80\xfe\xff>"s, Attach::file, Attach::pipe,
     "\0\x80\xfe\xff>\r\n"s, 0},
    {"console output byte by byte", {}, "<a>\tb>", Attach::file, Attach::pty, "<a>\r\nb>\r\n", 0},
    {"console input ends at a read of 0x1A", {}, "<a>\tb", Attach::pty, Attach::file, "<a>\r\nb", 0},
    {"several blocks from a file", {}, LARGE, Attach::file, Attach::file, expected_output(LARGE), 0},
    {"several blocks through pipes", {}, LARGE, Attach::pipe, Attach::pipe, expected_output(LARGE), 0},
    {"CR on a block edge in a file", {}, cr_on_every_block_edge(), Attach::file, Attach::file,
     expected_output(cr_on_every_block_edge()), 0},
    {"CR on a block edge in a pipe", {}, cr_on_every_block_edge(), Attach::pipe, Attach::file,
     expected_output(cr_on_every_block_edge()), 0},
    {"closed output with nothing to write", {}, "\t\r\n", Attach::file, Attach::closed, "", 0},
    {"closed output with bytes to write", {}, "<a>", Attach::file, Attach::closed, "", 1},
    {"full device", {}, LARGE, Attach::file, Attach::dev_full, "", 1},
    {"reader gone", {}, LARGE, Attach::pipe, Attach::gone_reader, "", 1},
    {"closed input", {}, "", Attach::closed, Attach::file, "", 1},
    {"usage to a closed output still ends with 2", {"x"}, "", Attach::file, Attach::closed, "", 2},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class EndToEnd : public testing::TestWithParam<Case> {};

TEST_P(EndToEnd, WritesTheseBytesAndEndsWithThisStatus) {
    const Case& c = GetParam();
    Launch run{{TAGSPLIT_BINARY}, c.input, c.in, c.out};
    for (const std::string& argument : c.arguments) run.command.push_back(argument);
    Outcome outcome = run_process(run);
    ASSERT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_TRUE(outcome.output == c.output)
        << "got " << outcome.output.size() << " bytes, expected " << c.output.size();
}

INSTANTIATE_TEST_SUITE_P(Program, EndToEnd, testing::ValuesIn(CASES), [](const auto& info) {
    std::string name;
    for (char ch : std::string(info.param.name)) name += isalnum(ch) ? ch : '_';
    return name;
});

TEST(EndToEndStderr, ClosedStandardErrorChangesNothing) {
    Launch run{{TAGSPLIT_BINARY}, README_INPUT, Attach::pipe, Attach::pipe, true};
    Outcome outcome = run_process(run);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, README_OUTPUT);
}

}  // namespace
