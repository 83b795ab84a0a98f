// The process entry: choose the byte path, classify the handles, run, flush and exit.
#include "formatter/byte_path.h"
#include "formatter/formatter.h"
#include "streams/text_stream.h"

int main(int argument_count, char**) {
    // The level taken is not looked at: every level makes the same bytes and calls.
    choose_byte_path(BytePath::avx512);
    classify_standard_handles();
    exit_process(run_formatter(argument_count));
}
