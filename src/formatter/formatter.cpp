#include "formatter/formatter.h"

#include "byte_path/filter.h"
#include "streams/text_stream.h"

namespace {

constexpr char BANNER[] = "a simple pretty html formatter";
constexpr char USAGE[] = "usage: tagsplit <input >output";

void filter_byte(int byte) {
    if (byte == TAB || byte == LF || byte == CR) return;
    // Results not looked at: a lost write never stops the input.
    stream_put_byte(standard_output, byte);
    if (byte == GREATER_THAN) stream_put_byte(standard_output, LF);
}

// Moves the bytes already in standard input's buffer into the room left in
// standard output's buffer, exactly as stream_get_byte and stream_put_byte
// would, for as long as every byte is sure to fit. A console or an
// unbuffered output has no room, so there every byte takes filter_byte.
void filter_buffered_bytes() {
    TextStream& in = standard_input;
    TextStream& out = standard_output;
    if (out.count == 0) return;
    const unsigned char* from = in.position;
    unsigned char* to = out.position;
    filter_span(from, from + in.count, to, to + out.count);
    stream_advance(in, from);
    stream_advance(out, to);
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
