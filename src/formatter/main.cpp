// The process entry: choose the byte path, classify the handles, run, flush and exit.
#include "byte_path/levels.h"
#include "formatter/formatter.h"
#include "streams/text_stream.h"

int main(int argument_count, char**) {
    // The level taken is not looked at: every level makes the same bytes and calls. The build
    // sets MOST_BYTE_PATH, the widest level the program asks for.
    choose_byte_path(MOST_BYTE_PATH);
    classify_standard_handles();
    exit_process(run_formatter(argument_count));
}
