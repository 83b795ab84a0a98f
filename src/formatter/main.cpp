// The process entry: classify the handles, run, flush and exit.
#include "formatter/formatter.h"
#include "streams/text_stream.h"

int main(int argument_count, char**) {
    classify_standard_handles();
    exit_process(run_formatter(argument_count));
}
