// Standard input over the scripted platform: what stream_get_byte returns and
// exactly which reads, peeks and step backs it costs.
#include <gtest/gtest.h>

#include "case_name.h"
#include "fake_scene.h"

namespace {

using std::string_literals::operator""s;

struct InputCase {
    const char* name;
    FileType type;
    std::string input;
    std::vector<int> chunks;
    int ends;            // how many END results to read
    std::string bytes;   // what stream_get_byte gave, '$' for END
    std::string calls;   // trace() of the platform calls
};

const InputCase INPUT_CASES[] = {
    {"disk CR LF split across reads costs one step back", FileType::disk, "ab\r\ncd", {3}, 1,
     "ab\ncd$", "R0.4096:ab\\r R0.1:\\n B R0.4096:\\ncd R0.4096:"},
    {"pipe CR LF split across reads arrives as one LF", FileType::pipe, "ab\r\ncd", {3}, 1,
     "ab\ncd$", "R0.4096:ab\\r R0.1:\\n R0.4096:cd R0.4096:"},
    {"device CR LF split across reads arrives as one LF", FileType::character, "ab\r\ncd", {3}, 1,
     "ab\ncd$", "R0.4096:ab\\r R0.1:\\n R0.4096:cd R0.4096:"},
    {"pipe holds back the byte after a final CR", FileType::pipe, "ab\rxy", {3}, 1,
     "ab\rxy$", "R0.4096:ab\\r R0.1:x R0.4095:y R0.4096:"},
    {"disk steps back over the byte after a final CR", FileType::disk, "ab\rxy", {3}, 1,
     "ab\rxy$", "R0.4096:ab\\r R0.1:x B R0.4096:xy R0.4096:"},
    {"disk read of a lone CR takes the LF without stepping back", FileType::disk, "\r\nx", {1}, 1,
     "\nx$", "R0.4096:\\r R0.1:\\n R0.4096:x R0.4096:"},
    {"CR at the end of the input stays", FileType::disk, "a\r", {}, 1,
     "a\r$", "R0.4096:a\\r R0.1: R0.4096:"},
    {"CR LF inside a read is one LF and other CRs stay", FileType::pipe, "a\r\nb\r\r\nc\rd", {}, 1,
     "a\nb\r\nc\rd$", "R0.4096:a\\r\\nb\\r\\r\\nc\\rd R0.4096:"},
    {"CR just before 0x1A needs no peek", FileType::pipe, "a\r\x1a" "b", {}, 2,
     "a\r$$", "R0.4096:a\\r\x1a" "b"},
    {"0x1A ends a disk file for good", FileType::disk, "abc\x1a" "def", {}, 3,
     "abc$$$", "R0.4096:abc\x1a" "def"},
    {"0x1A ends a pipe for good", FileType::pipe, "abc\x1a" "def", {2}, 2,
     "abc$$", "R0.4096:ab R0.4096:c\x1a" "def"},
    {"0x1A first in a file gives END at once", FileType::disk, "\x1a" "abc", {}, 1,
     "$", "R0.4096:\x1a" "abc"},
    {"0x1A on a device loses the rest of that read only", FileType::character, "ab\x1a" "cdef", {5}, 1,
     "abef$", "R0.4096:ab\x1a" "cd R0.4096:ef R0.4096:"},
    {"a device read that begins with 0x1A gives END and is not remembered", FileType::character,
     "ab\x1a" "cdef", {2, 3}, 2, "ab$ef$", "R0.4096:ab R0.4096:\x1a" "cd R0.4096:ef R0.4096:"},
    {"NUL and bytes 128 to 255 are bytes, never END", FileType::disk, "\0\x80\xff"s, {}, 1,
     "\0\x80\xff$"s, "R0.4096:\0\x80\xff R0.4096:"s},
};

void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

class InputCases : public testing::TestWithParam<InputCase> {};

TEST_P(InputCases, GivesTheBytesWithTheseCalls) {
    const InputCase& c = GetParam();
    scene(c.type, FileType::disk, c.input, c.chunks);
    EXPECT_EQ(read_all(c.ends), c.bytes);
    EXPECT_EQ(trace(), c.calls);
}

INSTANTIATE_TEST_SUITE_P(Reads, InputCases, testing::ValuesIn(INPUT_CASES), case_name<InputCase>);

TEST(Input, DiskThatCannotStepBackHoldsTheByteLikeAPipe) {
    scene(FileType::disk, FileType::disk, "ab\rxy", {3});
    fake::handle(0).can_step_back = false;
    EXPECT_EQ(read_all(), "ab\rxy$");
    EXPECT_EQ(trace(), "R0.4096:ab\\r R0.1:x B R0.4095:y R0.4096:");
}

TEST(Input, FailedReadGivesEndWithErrorSet) {
    scene(FileType::pipe, FileType::disk, "abc", {1});
    fake::handle(0).failing_read = 1;
    EXPECT_EQ(read_all(), "a$");
    EXPECT_TRUE(standard_input.flags & flag::error);
    EXPECT_FALSE(standard_input.flags & flag::end_of_input);
}

}  // namespace
