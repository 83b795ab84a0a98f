/* Runs EXE with its standard input and output on pipes of one kind, feeds it this program's
   input in pieces (sizes from the comma-separated SIZES, the last one repeating) with a pause
   after each, drains its output slowly, and exits with EXE's status.
   Usage: windows_pipes probe | windows_pipes EXE nowait|message SIZES */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Pipe buffers small enough that the child's writes to a full no-wait pipe come back short;
   pauses long enough that it finds its input empty and its output full. */
enum { PIPE_BUFFER = 512, FEED_PAUSE_MS = 2, DRAIN_SIZE = 256, DRAIN_PAUSE_MS = 1 };
/* The most input this program takes, and its status when it cannot run EXE. */
enum { INPUT_ROOM = 1 << 22, OWN_FAILURE = 125 };

static char input[INPUT_ROOM];
static DWORD input_size = 0;
static const char* piece_sizes;
static HANDLE feed_end;

/* Writes the input to the child in pieces, pausing after each, and then closes the pipe. */
static DWORD WINAPI feed(void* unused) {
    const char* size_at = piece_sizes;
    DWORD at = 0;
    while (at < input_size) {
        char* end = NULL;
        DWORD piece = strtoul(size_at, &end, 10);
        if (*end == ',') size_at = end + 1;
        if (piece > input_size - at) piece = input_size - at;
        DWORD written = 0;
        /* No retry: a failed write means the child has closed its input. */
        if (!WriteFile(feed_end, input + at, piece, &written, NULL)) break;
        at += written;
        Sleep(FEED_PAUSE_MS);
    }
    CloseHandle(feed_end);
    return 0;
}

/* A pipe whose client end, in `mode`, is returned for the child to inherit; *ours is the
   server end, for writing when `direction` is outbound, else for reading. */
static HANDLE make_pipe(DWORD direction, DWORD type, DWORD mode, HANDLE* ours) {
    char name[64];
    sprintf(name, "\\\\.\\pipe\\windows_pipes_%lu_%lu", GetCurrentProcessId(), direction);
    *ours = CreateNamedPipeA(name, direction, type, 1, PIPE_BUFFER, PIPE_BUFFER, 0, NULL);
    /* Setting the mode of a reading end takes the right to write its attributes. */
    DWORD reading = GENERIC_READ | FILE_WRITE_ATTRIBUTES;
    DWORD access = direction == PIPE_ACCESS_OUTBOUND ? reading : GENERIC_WRITE;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE child = CreateFileA(name, access, 0, &inherit, OPEN_EXISTING, 0, NULL);
    if (!SetNamedPipeHandleState(child, &mode, NULL, NULL)) *ours = INVALID_HANDLE_VALUE;
    return child;
}

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "probe") == 0) return 0;
    int nowait = argc == 4 && strcmp(argv[2], "nowait") == 0;
    if (argc != 4 || (!nowait && strcmp(argv[2], "message") != 0)) return OWN_FAILURE;
    piece_sizes = argv[3];
    _setmode(_fileno(stdin), _O_BINARY);
    input_size = fread(input, 1, INPUT_ROOM, stdin);
    DWORD in_type = nowait ? PIPE_TYPE_BYTE : PIPE_TYPE_MESSAGE;
    DWORD in_mode = nowait ? PIPE_READMODE_BYTE | PIPE_NOWAIT : PIPE_READMODE_MESSAGE;
    DWORD out_mode = nowait ? PIPE_READMODE_BYTE | PIPE_NOWAIT : PIPE_READMODE_BYTE;
    HANDLE drain = NULL;
    STARTUPINFOA start = {.cb = sizeof start, .dwFlags = STARTF_USESTDHANDLES};
    start.hStdInput = make_pipe(PIPE_ACCESS_OUTBOUND, in_type, in_mode, &feed_end);
    start.hStdOutput = make_pipe(PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, out_mode, &drain);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    char command[MAX_PATH + 2];
    snprintf(command, sizeof command, "\"%s\"", argv[1]);
    if (input_size == INPUT_ROOM || feed_end == INVALID_HANDLE_VALUE ||
        drain == INVALID_HANDLE_VALUE ||
        !CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process)) {
        return OWN_FAILURE;
    }
    /* Only the child holds its ends now, so that its exit ends our reads. */
    CloseHandle(start.hStdInput);
    CloseHandle(start.hStdOutput);
    HANDLE feeder = CreateThread(NULL, 0, feed, NULL, 0, NULL);
    char chunk[DRAIN_SIZE];
    for (;;) {
        DWORD got = 0;
        DWORD put = 0;
        /* The end of the output is the child closing it, which fails the read. */
        if (!ReadFile(drain, chunk, DRAIN_SIZE, &got, NULL)) break;
        /* Result ignored: a copy that fails shows as bytes missing from the output. */
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), chunk, got, &put, NULL);
        Sleep(DRAIN_PAUSE_MS);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    WaitForSingleObject(feeder, INFINITE);
    DWORD status = OWN_FAILURE;
    GetExitCodeProcess(process.hProcess, &status);
    return (int)status;
}
