// The built program over real files, pipes, pseudo-terminals, closed
// descriptors and /dev/full: the exact bytes it writes and its exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "case_name.h"
#include "process_runner.h"
#include "transform.h"

namespace {

using std::string_literals::operator""s;

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
    bool on_wine = false;  // the case means the same to a Windows program under wine
    bool interrupted = false;  // a signal interrupts the program's system calls all along
};

const std::string LARGE = random_bytes(3 << 20, 7);
const std::string SMALL = random_bytes(50000, 8);  // for a device, which takes one write a byte

const Case CASES[] = {
    {"readme example file to file", {}, README_INPUT, Attach::file, Attach::file, README_OUTPUT, 0, true},
    {"readme example pipe to pipe", {}, README_INPUT, Attach::pipe, Attach::pipe, README_OUTPUT, 0, true},
    {"part example", {}, "<html>\r\n  <body>\tHi</body>\r\n</html>\r\n", Attach::file, Attach::file,
     "<html>\r\n  <body>\r\nHi</body>\r\n</html>\r\n", 0, true},
    {"empty input", {}, "", Attach::file, Attach::file, "", 0, true},
    {"one argument prints the usage", {"x"}, "<a>", Attach::file, Attach::file, USAGE_TEXT, 2, true},
    {"an empty argument prints the usage", {""}, "<a>", Attach::pipe, Attach::pipe, USAGE_TEXT, 2, true},
    {"several arguments print the usage", {"a", "b", "c"}, "", Attach::file, Attach::pty, USAGE_TEXT, 2},
    {"usage never waits for a console", {"x"}, "<a>", Attach::pty, Attach::file, USAGE_TEXT, 2},
    {"0x1A ends a file", {}, "<a>\x1a<b>", Attach::file, Attach::file, "<a>\r\n", 0, true},
    {"0x1A ends a pipe", {}, "<a>b\x1a<b>", Attach::pipe, Attach::file, "<a>\r\nb", 0, true},
    {"NUL and bytes 128 to 255 pass unchanged", {}, "\0\x80\xfe\xff>"s, Attach::file, Attach::pipe,
     "\0\x80\xfe\xff>\r\n"s, 0, true},
    {"console output byte by byte", {}, "<a>\tb>", Attach::file, Attach::pty, "<a>\r\nb>\r\n", 0},
    {"several blocks from a file", {}, LARGE, Attach::file, Attach::file, expected_output(LARGE), 0, true},
    {"several blocks through pipes", {}, LARGE, Attach::pipe, Attach::pipe, expected_output(LARGE), 0, true},
    {"CR on a block edge in a file", {}, cr_on_every_block_edge(), Attach::file, Attach::file,
     expected_output(cr_on_every_block_edge()), 0, true},
    {"CR on a block edge in a pipe", {}, cr_on_every_block_edge(), Attach::pipe, Attach::file,
     expected_output(cr_on_every_block_edge()), 0, true},
    {"closed output with nothing to write", {}, "\t\r\n", Attach::file, Attach::closed, "", 0},
    {"closed output with bytes to write", {}, "<a>", Attach::file, Attach::closed, "", 1},
    {"full device", {}, SMALL, Attach::file, Attach::dev_full, "", 1, true},
    {"reader gone", {}, LARGE, Attach::pipe, Attach::gone_reader, "", 1, true},
    {"closed input", {}, "", Attach::closed, Attach::file, "", 1},
    {"usage to a closed output still ends with 2", {"x"}, "", Attach::file, Attach::closed, "", 2},
    {"non-blocking output pipe drained slowly", {}, LARGE, Attach::file, Attach::nonblocking,
     expected_output(LARGE), 0},
    {"non-blocking input pipe", {}, LARGE, Attach::nonblocking, Attach::pipe, expected_output(LARGE), 0},
    {"reads and writes interrupted by a signal", {}, LARGE, Attach::pipe, Attach::nonblocking,
     expected_output(LARGE), 0, false, true},
    {"input writer killed after writing", {}, README_INPUT + "<p>cut", Attach::dying_writer, Attach::pipe,
     expected_output(README_INPUT + "<p>cut"), 0},
    {"several arguments print the usage to a file", {"a", "", "b c"}, "", Attach::file, Attach::file,
     USAGE_TEXT, 2, true},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Runs `launch` with the case's arguments, input and handles, and checks
// the bytes written and the exit status.
void expect_case(Launch launch, const Case& c) {
    launch.command.insert(launch.command.end(), c.arguments.begin(), c.arguments.end());
    launch.input = c.input;
    launch.in = c.in;
    launch.out = c.out;
    Outcome outcome = run_process(launch);
    ASSERT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_TRUE(outcome.output == c.output)
        << "got " << outcome.output.size() << " bytes, expected " << c.output.size();
}

class EndToEnd : public testing::TestWithParam<Case> {};

TEST_P(EndToEnd, WritesTheseBytesAndEndsWithThisStatus) {
    Launch launch{{TAGSPLIT_BINARY}};
    if (GetParam().interrupted) launch.environment = {"LD_PRELOAD=" EINTR_SHIM};
    expect_case(launch, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Program, EndToEnd, testing::ValuesIn(CASES), case_name<Case>);

TEST(EndToEndStderr, ClosedStandardErrorChangesNothing) {
    Launch run{{TAGSPLIT_BINARY}, README_INPUT, Attach::pipe, Attach::pipe, true};
    Outcome outcome = run_process(run);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.output, README_OUTPUT);
}

// The Windows executables under wine, where the machine can run them.
struct WineTarget {
    const char* loader;
    const char* exe;
};

// A run of `target` in the tests' own wine prefix.
Launch on_wine(const WineTarget& target) {
    Launch launch{{target.loader, target.exe}};
    launch.environment = {"WINEDEBUG=-all", "WINEPREFIX=" WINE_PREFIX};
    launch.seconds = 120;  // the first run in a prefix takes a while
    return launch;
}

// Why `target` cannot run here, or "" when it can.
std::string wine_unavailable(const WineTarget& target) {
    if (std::string(target.exe).empty()) return "mingw-w64 is not installed";
    if (std::string(target.loader).empty()) return "wine is not installed";
    Launch probe = on_wine(target);
    probe.command.push_back("x");
    if (run_process(probe).status != 2) {
        return std::string(target.loader) + " cannot run " + target.exe + " on this machine";
    }
    return "";
}

std::vector<Case> wine_cases() {
    std::vector<Case> cases;
    for (const Case& c : CASES) {
        if (c.on_wine) cases.push_back(c);
    }
    return cases;
}

void run_on_wine(const WineTarget& target, const Case& c) {
    // Probed once per exe and remembered beside it, since CTest runs every
    // test in a process of its own and a wine that hangs costs minutes.
    std::string remembered = std::string(target.exe) + ".wine-probe";
    std::string unavailable = read_file(remembered);
    if (unavailable.empty()) {
        unavailable = wine_unavailable(target);
        if (unavailable.empty()) unavailable = "ok";
        std::ofstream(remembered) << unavailable;
    }
    if (unavailable != "ok") GTEST_SKIP() << "SKIPPED: " << unavailable;
    expect_case(on_wine(target), c);
}

class Wine32 : public testing::TestWithParam<Case> {};
class Wine64 : public testing::TestWithParam<Case> {};

TEST_P(Wine32, WritesTheseBytesAndEndsWithThisStatus) { run_on_wine({WINE, WINDOWS_EXE_32}, GetParam()); }
TEST_P(Wine64, WritesTheseBytesAndEndsWithThisStatus) { run_on_wine({WINE64, WINDOWS_EXE_64}, GetParam()); }

INSTANTIATE_TEST_SUITE_P(Exe, Wine32, testing::ValuesIn(wine_cases()), case_name<Case>);
INSTANTIATE_TEST_SUITE_P(Exe, Wine64, testing::ValuesIn(wine_cases()), case_name<Case>);

}  // namespace
