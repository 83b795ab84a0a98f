/* Usage: windows_pipes probe | windows_pipes EXE nowait|message SIZES. Runs EXE with its standard
   input and output on pipes of one kind (any MODE but nowait is message), feeds it this program's
   input in pieces of SIZES (comma-separated, the last repeating) with a pause after each, drains
   its output slowly, and exits with EXE's status. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Pipe buffers small enough that the child's writes to a full no-wait pipe come back short;
   pauses long enough that it finds its input empty and its output full. */
enum { PIPE_BUFFER = 512, FEED_PAUSE_MS = 2, DRAIN_SIZE = 256, DRAIN_PAUSE_MS = 1 };
/* The largest piece fed, and the status when the arguments are wrong. */
enum { PIECE_ROOM = 1 << 16, OWN_FAILURE = 125 };

static HANDLE feed_end;

static DWORD WINAPI feed(void* sizes) {
    static char piece[PIECE_ROOM];
    const char* size_at = sizes;
    for (;;) {
        char* end = NULL;
        DWORD size = strtoul(size_at, &end, 10);
        if (*end == ',') size_at = end + 1;
        DWORD got = 0;
        DWORD put = 0;
        /* Result ignored: a read that fails leaves `got` at 0, which ends the input. */
        ReadFile(GetStdHandle(STD_INPUT_HANDLE), piece, min(size, PIECE_ROOM), &got, NULL);
        if (got == 0) break;
        /* No retry: a failed write means the child has closed its input. */
        if (!WriteFile(feed_end, piece, got, &put, NULL)) break;
        Sleep(FEED_PAUSE_MS);
    }
    CloseHandle(feed_end);
    return 0;
}

/* A pipe whose server end, created in `mode` and inheritable, is returned for the child, as
   some runtimes hand out; *ours is the client end, for writing when `direction` is inbound. */
static HANDLE make_pipe(DWORD direction, DWORD mode, HANDLE* ours) {
    char name[64];
    sprintf(name, "\\\\.\\pipe\\windows_pipes_%lu_%lu", GetCurrentProcessId(), direction);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE child = CreateNamedPipeA(name, direction, mode, 1, PIPE_BUFFER, PIPE_BUFFER, 0,
                                    &inherit);
    DWORD access = direction == PIPE_ACCESS_INBOUND ? GENERIC_WRITE : GENERIC_READ;
    *ours = CreateFileA(name, access, 0, NULL, OPEN_EXISTING, 0, NULL);
    return child;
}

int main(int argc, char** argv) {
    if (argc != 4) return argc == 2 && strcmp(argv[1], "probe") == 0 ? 0 : OWN_FAILURE;
    int nowait = strcmp(argv[2], "nowait") == 0;
    DWORD in_mode = nowait ? PIPE_NOWAIT : PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE;
    DWORD out_mode = nowait ? PIPE_NOWAIT : PIPE_WAIT;
    HANDLE drain = NULL;
    STARTUPINFOA start = {.cb = sizeof start, .dwFlags = STARTF_USESTDHANDLES};
    start.hStdInput = make_pipe(PIPE_ACCESS_INBOUND, in_mode, &feed_end);
    start.hStdOutput = make_pipe(PIPE_ACCESS_OUTBOUND, out_mode, &drain);
    char command[MAX_PATH + 2];
    snprintf(command, sizeof command, "\"%s\"", argv[1]);
    PROCESS_INFORMATION process = {0};
    /* Result ignored: a child that did not start leaves no status to replace OWN_FAILURE. */
    CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process);
    /* Only the child holds its ends now, so that its exit ends our reads. */
    CloseHandle(start.hStdInput);
    CloseHandle(start.hStdOutput);
    HANDLE feeder = CreateThread(NULL, 0, feed, argv[3], 0, NULL);
    char chunk[DRAIN_SIZE];
    DWORD got = 0;
    DWORD put = 0;
    /* The end of the output is the child closing it, which fails the read. */
    while (ReadFile(drain, chunk, DRAIN_SIZE, &got, NULL)) {
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
