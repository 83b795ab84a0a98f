// The formatter over the scripted platform: output bytes, exit statuses, the
// usage path, and the buffer fast path against the plain byte-by-byte loop.
#include <gtest/gtest.h>

#include <random>

#include "fake_scene.h"

namespace {

using std::string_literals::operator""s;

struct Example {
    std::string input;
    std::string output;
};

const Example EXAMPLES[] = {
    {"", ""},
    {"<html>\r\n  <body>\tHi</body>\r\n</html>\r\n", "<html>\r\n  <body>\r\nHi</body>\r\n</html>\r\n"},
    {"<p>text", "<p>\r\ntext"},
    {"a > b", "a >\r\n b"},
    {"<a title='x>y'>", "<a title='x>\r\ny'>\r\n"},
    {"one\ntwo", "onetwo"},
    {"one\ttwo", "onetwo"},
    {">>", ">\r\n>\r\n"},
    {"\v\f \0\x80\xff"s, "\v\f \0\x80\xff"s},
    {"<b>\x1a<i>", "<b>\r\n"},
};

TEST(Filter, PartExamplesGiveTheseBytesAndStatusZero) {
    for (FileType out : {FileType::disk, FileType::pipe, FileType::character}) {
        for (const Example& e : EXAMPLES) {
            scene(FileType::disk, out, e.input);
            EXPECT_EQ(run_process(1), STATUS_FILTERED) << e.input;
            EXPECT_EQ(fake::handle(1).output, e.output) << e.input;
        }
    }
}

TEST(Usage, AnyArgumentCountButOnePrintsTwoLinesWithoutReading) {
    for (int count : {0, 2, 5}) {
        scene(FileType::pipe, FileType::pipe, "<never read>");
        EXPECT_EQ(run_process(count), STATUS_USAGE);
        EXPECT_EQ(trace(), "W1.64:a simple pretty html formatter\\r\\nusage: tagsplit <input >output\\r\\n");
    }
}

TEST(Usage, ConsoleGetsEachLineInOneWrite) {
    scene(FileType::character, FileType::character);
    EXPECT_EQ(run_process(2), STATUS_USAGE);
    EXPECT_EQ(write_sizes(1), (std::vector<int>{32, 32}));
}

TEST(Usage, StatusStaysTwoWhenTheLinesAreLost) {
    scene(FileType::disk, FileType::disk);
    fake::handle(1).write_limits = {{0, 0}};
    EXPECT_EQ(run_process(2), STATUS_USAGE);
}

TEST(Status, LostBlockGivesOneAfterReadingEverything) {
    std::string input(3 * 4096, 'x');
    scene(FileType::pipe, FileType::pipe, input);
    fake::handle(1).write_limits = {{0, 0}};
    EXPECT_EQ(run_process(1), STATUS_OUTPUT_LOST);
    EXPECT_EQ(fake::handle(0).position, input.size());
    EXPECT_EQ(fake::handle(1).output, std::string(2 * 4096, 'x'));  // later blocks still go
}

TEST(Status, ShortFinalFlushGivesOne) {
    scene(FileType::disk, FileType::disk, "<a>");
    fake::handle(1).write_limits = {{0, 4}};
    EXPECT_EQ(run_process(1), STATUS_OUTPUT_LOST);
}

TEST(Status, FailedReadGivesOne) {
    scene(FileType::pipe, FileType::disk, "<a><b>", {3});
    fake::handle(0).failing_read = 1;
    EXPECT_EQ(run_process(1), STATUS_OUTPUT_LOST);
    EXPECT_EQ(fake::handle(1).output, "<a>\r\n");
}

TEST(Status, MissingOutputGivesOneOnlyWhenThereWasSomethingToWrite) {
    scene(FileType::disk, FileType::missing, "\t\r\n");
    EXPECT_EQ(run_process(1), STATUS_FILTERED);
    scene(FileType::disk, FileType::missing, "x");
    EXPECT_EQ(run_process(1), STATUS_OUTPUT_LOST);
}

TEST(Status, MissingInputIsAFailedRead) {
    scene(FileType::missing, FileType::disk);
    EXPECT_EQ(run_process(1), STATUS_OUTPUT_LOST);
    EXPECT_EQ(trace(), "");
}

// The filter as a plain loop of one stream_get_byte and one or two
// stream_put_byte calls per byte, as the fast path must behave.
void plain_filter() {
    for (int c; (c = stream_get_byte(standard_input)) != END;) {
        if (c == 9 || c == 10 || c == 13) continue;
        stream_put_byte(standard_output, c);
        if (c == '>') stream_put_byte(standard_output, 10);
    }
    stream_flush(standard_output);
}

TEST(FastPath, MatchesThePlainLoopCallForCall) {
    std::mt19937 random(20261206);
    const char alphabet[] = "<>>>\t\r\n\n  abc\x80\xff";
    const FileType kinds[] = {FileType::disk, FileType::pipe, FileType::character};
    for (int round = 0; round < 400; ++round) {
        std::string input(random() % 12000, 'a');
        for (char& c : input) c = alphabet[random() % (sizeof alphabet - 1)];
        if (random() % 8 == 0) input.insert(random() % (input.size() + 1), 1, '\x1a');
        std::vector<int> chunks(random() % 6);
        for (int& chunk : chunks) chunk = static_cast<int>(random() % 5000);
        FileType in = kinds[random() % 3];
        FileType out = kinds[random() % 3];
        std::map<int, int> limits;
        if (random() % 4 == 0) limits[random() % 8] = static_cast<int>(random() % 1025);

        scene(in, out, input, chunks);
        fake::handle(1).write_limits = limits;
        plain_filter();
        std::string expected = trace();

        scene(in, out, input, chunks);
        fake::handle(1).write_limits = limits;
        filter_input();
        ASSERT_EQ(trace(), expected) << "round " << round;
    }
}

}  // namespace
