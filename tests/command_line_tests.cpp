// Argument counts of Windows command lines, program name included.
#include <gtest/gtest.h>

#include "platform/command_line.h"

namespace {

struct CommandLine {
    const char* text;
    int count;
};

const CommandLine COMMAND_LINES[] = {
    {"", 0},
    {"tagsplit", 1},
    {"tagsplit   ", 1},
    {"tagsplit.exe x", 2},
    {"\"C:\\Program Files\\tagsplit.exe\"", 1},
    {"\"C:\\Program Files\\tagsplit.exe\" a", 2},
    {"\"C:\\dir\\\" a", 2},                 // in the name a backslash never escapes a quote
    {"tagsplit \"\"", 2},                   // an empty argument counts
    {"tagsplit \"\" \"\"", 3},
    {"tagsplit \"a b\"", 2},
    {"tagsplit a\"b c\"d", 2},              // quotes group inside a word
    {"tagsplit \"unclosed quote runs to the end", 2},
    {"tagsplit a\\\\\"b c\"", 2},           // 2n backslashes: the quote groups
    {"tagsplit a\\\"b c", 3},               // 2n+1 backslashes: the quote is literal
    {"tagsplit a\\\\\\\"b c", 3},
    {"tagsplit \\\\server\\share x", 3},    // backslashes alone are literal
    {"tagsplit\ta\t\tb", 3},
    {"tagsplit \"a\"\"b\" c", 3},
};

TEST(CommandLine, CountsArgumentsTheWayThePlatformSplitsThem) {
    for (const CommandLine& line : COMMAND_LINES) {
        EXPECT_EQ(count_arguments(line.text), line.count) << line.text;
    }
}

}  // namespace
