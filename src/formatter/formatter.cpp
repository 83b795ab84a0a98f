#include "formatter/formatter.h"

#include "streams/text_stream.h"

namespace {

constexpr char BANNER[] = "a simple pretty html formatter";
constexpr char USAGE[] = "usage: tagsplit <input >output";

constexpr unsigned char TAB = 9;
constexpr unsigned char LINE_END = '>';

// Output bytes per input byte: dropped, copied, or copied with a line feed.
struct OutputLengths {
    unsigned char of[256];
};

constexpr OutputLengths output_lengths() {
    OutputLengths lengths{};
    for (int byte = 0; byte < 256; ++byte) lengths.of[byte] = 1;
    lengths.of[TAB] = lengths.of[LF] = lengths.of[CR] = 0;
    lengths.of[LINE_END] = 2;
    return lengths;
}

constexpr OutputLengths OUTPUT_LENGTHS = output_lengths();

void filter_byte(int byte) {
    if (byte == TAB || byte == LF || byte == CR) return;
    stream_put_byte(standard_output, byte);  // results not looked at: a lost write never stops the input
    if (byte == LINE_END) stream_put_byte(standard_output, LF);
}

// Filters `n` bytes into `out`, which has room for 2 * n; returns the new end.
// Every byte is stored with a line feed after it, and `out` advances past as
// many of the two as the byte really produces, so the loop has no branch.
unsigned char* filter_span(const unsigned char* in, int n, unsigned char* out) {
#pragma GCC unroll 8
    for (const unsigned char* end = in + n; in != end; ++in) {
        unsigned char byte = *in;  // read once: the stores below may alias it
        out[0] = byte;
        out[1] = LF;
        out += OUTPUT_LENGTHS.of[byte];
    }
    return out;
}

// Moves the bytes already in standard input's buffer into the room left in
// standard output's buffer, exactly as stream_get_byte and stream_put_byte
// would, for as long as every byte is sure to fit. A console or an
// unbuffered output has no room, so there every byte takes filter_byte.
void filter_buffered_bytes() {
    TextStream& in = standard_input;
    TextStream& out = standard_output;
    for (;;) {
        int n = in.count < out.count / 2 ? in.count : out.count / 2;
        if (n == 0) return;
        unsigned char* end = filter_span(in.position, n, out.position);
        in.position += n;
        in.count -= n;
        out.count -= static_cast<int>(end - out.position);
        out.position = end;
    }
}

}  // namespace

int run_formatter(int argument_count) {
    if (argument_count != 1) {
        print_usage();
        return STATUS_USAGE;
    }
    return filter_input();
}

void print_usage() {
    // Results not looked at: the usage status is the same whether or not they arrive.
    stream_put_line(standard_output, BANNER);
    stream_put_line(standard_output, USAGE);
}

int filter_input() {
    for (;;) {
        filter_buffered_bytes();
        int byte = stream_get_byte(standard_input);
        if (byte == END) break;
        filter_byte(byte);
    }
    // The last block is written here rather than at exit, so that its loss counts.
    stream_flush(standard_output);
    bool lost = (standard_output.flags | standard_input.flags) & flag::error;
    return lost ? STATUS_OUTPUT_LOST : STATUS_FILTERED;
}
