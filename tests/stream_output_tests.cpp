// Standard output over the scripted platform: block edges, CR LF pieces,
// consoles, failed writes and refused memory.
#include <gtest/gtest.h>

#include "fake_scene.h"

namespace {

using Sizes = std::vector<int>;

void put(const std::string& bytes) {
    for (char c : bytes) stream_put_byte(standard_output, static_cast<unsigned char>(c));
}

int write_to_output(const std::string& bytes) {
    return handle_write(1, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
}

TEST(BlockEdges, FullBufferWaitsForTheFlush) {
    scene(FileType::disk, FileType::disk);
    put(std::string(4096, 'a'));
    EXPECT_EQ(write_sizes(1), Sizes{});
    streams_flush_all();
    EXPECT_EQ(write_sizes(1), (Sizes{1024, 1024, 1024, 1024}));
}

TEST(BlockEdges, ByteAfterAFullBufferWritesTheBlock) {
    scene(FileType::disk, FileType::pipe);
    put(std::string(4096, 'a'));
    EXPECT_EQ(stream_put_byte(standard_output, 'b'), 'b');
    EXPECT_EQ(fake::handle(1).output, std::string(4096, 'a'));
    streams_flush_all();
    EXPECT_EQ(fake::handle(1).output, std::string(4096, 'a') + 'b');
    EXPECT_EQ(write_sizes(1), (Sizes{1024, 1024, 1024, 1024, 1}));
}

TEST(LineFeeds, BlockOfLineFeedsLeavesAsCrLfInPiecesOf1024) {
    scene(FileType::disk, FileType::disk);
    put(std::string(4096, '\n'));
    streams_flush_all();
    EXPECT_EQ(write_sizes(1), Sizes(8, 1024));
    std::string expected;
    for (int i = 0; i < 4096; ++i) expected += "\r\n";
    EXPECT_EQ(fake::handle(1).output, expected);
}

TEST(LineFeeds, LineFeedInTheLastFreePlaceMakesAPieceOf1025) {
    scene(FileType::disk, FileType::disk);
    EXPECT_EQ(write_to_output(std::string(1023, 'a') + "\nbc"), 1026);
    EXPECT_EQ(write_sizes(1), (Sizes{1025, 2}));
    EXPECT_EQ(fake::handle(1).output, std::string(1023, 'a') + "\r\nbc");
}

TEST(LineFeeds, LineFeedAfterTheLimitStartsTheNextPiece) {
    scene(FileType::disk, FileType::disk);
    EXPECT_EQ(write_to_output(std::string(1024, 'a') + "\n"), 1025);
    EXPECT_EQ(write_sizes(1), (Sizes{1024, 2}));
}

struct ShortWrite {
    const char* name;
    std::string source;
    std::map<int, int> limits;
    int result;
};

// What handle_write reports: source bytes whose whole output reached the handle.
const ShortWrite SHORT_WRITES[] = {
    {"nothing written", "ab\ncd", {{0, 0}}, -1},
    {"CR of a CR LF written without its LF", "ab\ncd", {{0, 3}}, 2},
    {"whole CR LF written", "ab\ncd", {{0, 4}}, 3},
    {"only a CR written", "\nab", {{0, 1}}, 0},
    {"second piece short", std::string(1100, '\n'), {{1, 101}}, 512 + 50},
    {"second piece fails", std::string(1030, 'x'), {{1, 0}}, 1024},
};

TEST(ShortWrites, CountOnlySourceBytesWhoseOutputAllArrived) {
    for (const ShortWrite& c : SHORT_WRITES) {
        scene(FileType::disk, FileType::disk);
        fake::handle(1).write_limits = c.limits;
        EXPECT_EQ(write_to_output(c.source), c.result) << c.name;
    }
}

TEST(FailedBlocks, FailedBlockIsDroppedAndTheNextIsAttempted) {
    scene(FileType::disk, FileType::pipe);
    fake::handle(1).write_limits = {{0, 0}};
    put(std::string(4096, 'a'));
    EXPECT_EQ(stream_put_byte(standard_output, 'b'), -1);
    EXPECT_TRUE(standard_output.flags & flag::error);
    put(std::string(4095, 'b'));
    EXPECT_EQ(stream_put_byte(standard_output, 'c'), 'c');
    EXPECT_EQ(stream_flush(standard_output), 0);
    EXPECT_EQ(fake::handle(1).output, std::string(4096, 'b') + 'c');
}

TEST(MissingOutput, EveryWriteFailsSilently) {
    scene(FileType::disk, FileType::missing);
    EXPECT_EQ(standard_output.handle, -1);
    EXPECT_EQ(stream_put_byte(standard_output, 'a'), -1);
    EXPECT_EQ(stream_put_line(standard_output, "usage"), 0);  // taken, then lost in the flush
    EXPECT_TRUE(standard_output.flags & flag::error);
    EXPECT_EQ(trace(), "");
}

TEST(Console, EveryByteIsWrittenByItself) {
    scene(FileType::disk, FileType::character);
    put("a\nb");
    EXPECT_EQ(trace(), "W1.1:a W1.2:\\r\\n W1.1:b");
    EXPECT_EQ(fake::allocations(), 0);
}

TEST(Console, LineArrivesInOneWriteThroughALineBufferObtainedOnce) {
    scene(FileType::disk, FileType::character);
    EXPECT_EQ(stream_put_line(standard_output, "first"), 0);
    EXPECT_EQ(stream_put_line(standard_output, "second"), 0);
    EXPECT_EQ(trace(), "W1.7:first\\r\\n W1.8:second\\r\\n");
    EXPECT_EQ(fake::allocations(), 1);
    EXPECT_EQ(standard_output.base, nullptr);  // the line buffer is taken back
    EXPECT_EQ(standard_output.count, 0);
    EXPECT_FALSE(standard_output.flags & flag::temporary_buffer);
}

TEST(RefusedMemory, ConsoleLineGoesThroughTheTwoByteSpare) {
    scene(FileType::disk, FileType::character);
    fake::refuse_memory(true);
    EXPECT_EQ(stream_put_line(standard_output, "abcde"), 0);
    EXPECT_EQ(trace(), "W1.2:ab W1.2:cd W1.3:e\\r\\n");
}

TEST(RefusedMemory, FileOutputBecomesUnbufferedByteByByte) {
    scene(FileType::disk, FileType::disk);
    fake::refuse_memory(true);
    put("ab");
    EXPECT_TRUE(standard_output.flags & flag::unbuffered);
    EXPECT_EQ(stream_put_line(standard_output, "c"), 0);
    EXPECT_EQ(trace(), "W1.1:a W1.1:b W1.1:c W1.2:\\r\\n");
}

}  // namespace
