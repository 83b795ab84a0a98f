// unit_tests LEVEL: the byte path's level named against the scalar kernels; over the scripted
// platform at that level, random scenarios against the property, the order of calls and the bytes
// a pipe gives that the property leaves open, and argument counts.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>
#include <string_view>

#include "byte_path/filter.h"
#include "byte_path/levels.h"
#include "byte_path/text_mode.h"
#include "fake_platform.h"
#include "platform/command_line.h"
#include "streams/text_stream.h"

namespace {

int failed;

void expect(bool holds, const std::string& what, const std::string& detail) {
    if (holds) return;
    ++failed;
    std::printf("FAILED: %s\n  %s\n", what.c_str(), detail.c_str());
}

// A buffer that ends where the span it holds ends, so that the sanitized build sees any access past
// it, with a byte before the span, so that its start is never null.
struct Span {
    std::vector<unsigned char> bytes;
    unsigned char* begin() { return bytes.data() + 1; }
    unsigned char* end() { return bytes.data() + bytes.size(); }
};

// A span of `length` bytes drawn from a few neighbours in a ring of the bytes that the kernels act
// on and "any byte", so that some spans are all '>' or all LF, the most a step can grow.
Span random_span(std::mt19937& random, std::size_t length) {
    const char acted_on[] = ">\n\r\t\x1a<ab ";
    const unsigned symbols = sizeof acted_on;  // the last stands for any byte
    unsigned first = random() % symbols;
    unsigned kinds = 1 + random() % symbols;
    Span span{std::vector<unsigned char>(1 + length)};
    for (unsigned char& byte : span) {
        unsigned pick = (first + random() % kinds) % symbols;
        byte = pick < symbols - 1 ? acted_on[pick] : static_cast<unsigned char>(random());
    }
    return span;
}

// The level's filter against the scalar one, into `room` bytes: the same bytes, the same stops.
bool filter_agrees(Span& in, std::size_t room) {
    Span out{std::vector<unsigned char>(1 + room)};
    Span scalar_out = out;
    const unsigned char* from = in.begin();
    const unsigned char* scalar_from = in.begin();
    unsigned char* to = out.begin();
    unsigned char* scalar_to = scalar_out.begin();
    filter_span(from, in.end(), to, out.end());
    scalar::filter(scalar_from, in.end(), scalar_to, scalar_out.end());
    bool same_stops = from == scalar_from && to - out.begin() == scalar_to - scalar_out.begin();
    return same_stops && std::equal(out.begin(), to, scalar_out.begin());
}

// The level's read translation against the scalar one, in place: the same bytes, the same stops.
bool translation_agrees(Span moved) {
    Span scalar_moved = moved;
    unsigned char* from = moved.begin();
    unsigned char* scalar_from = scalar_moved.begin();
    unsigned char* to = translate_span(from, moved.end(), moved.begin());
    unsigned char* scalar_end = scalar_moved.end();
    unsigned char* scalar_to = scalar::translate(scalar_from, scalar_end, scalar_moved.begin());
    bool same_stops = from - moved.begin() == scalar_from - scalar_moved.begin();
    bool same_count = to - moved.begin() == scalar_to - scalar_moved.begin();
    return same_stops && same_count && std::equal(moved.begin(), to, scalar_moved.begin());
}

// The level's staging against the scalar one: the same piece, the same stop.
bool staging_agrees(Span& source) {
    std::vector<unsigned char> piece(STAGE_SIZE);
    std::vector<unsigned char> scalar_piece(STAGE_SIZE);
    const unsigned char* from = source.begin();
    const unsigned char* scalar_from = source.begin();
    int staged = stage_piece(from, source.end(), piece.data());
    int scalar_staged = scalar::stage(scalar_from, source.end(), scalar_piece.data());
    bool same_stops = from == scalar_from && staged == scalar_staged;
    return same_stops && std::equal(piece.data(), piece.data() + staged, scalar_piece.data());
}

// The level in use against the scalar kernels on random spans: every offset near a step and
// across several, output room from none to more than a few steps, pieces up to and past the
// staging limit.
void kernels_agree_with_scalar(std::mt19937& random) {
    for (int round = 0; round < 20000; ++round) {
        Span in = random_span(random, random() % 300);
        std::string name = " agrees with scalar, round " + std::to_string(round);
        expect(filter_agrees(in, random() % 300), "the filter" + name, "");
        expect(translation_agrees(in), "the read translation" + name, "");
        Span source = random_span(random, random() % 2100);
        expect(staging_agrees(source), "the staging" + name, "");
    }
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
        std::printf("usage: unit_tests scalar|sse2|avx2|avx512\n");
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
    // The scalar kernels are what the others are held to; the property checks them.
    if (BytePath(level) != BytePath::scalar) kernels_agree_with_scalar(random);
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
