// The process entry on Windows, in place of a C runtime: count the arguments
// of the command line, call main, and end the process with its status.
#include <windows.h>

#include "platform/command_line.h"

int main(int argument_count, char** arguments);

// GCC calls this from main to run static constructors; the program has none.
extern "C" void __main() {}

// The stack is aligned here because a 32-bit loader promises only 4 bytes.
extern "C" __attribute__((force_align_arg_pointer)) void tagsplit_start() {
    ExitProcess(static_cast<UINT>(main(count_arguments(GetCommandLineA()), nullptr)));
}
