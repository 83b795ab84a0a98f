/* Usage: windows_pipes probe | windows_pipes EXE nowait|message|bytes|socket SIZES. Runs EXE with
   its input on a no-wait pipe, a message-type pipe read as messages (with the right to read data
   alone) or as bytes, or a socket, feeds it this program's input in pieces of SIZES
   (comma-separated, the last repeating, 0 an empty message) with a pause after each, drains its
   output slowly, and exits with EXE's status. */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Pipe buffers small enough that the child's writes to a full no-wait pipe come back short;
   pauses long enough that it finds its input empty and its output full. */
enum { PIPE_BUFFER = 512, FEED_PAUSE_MS = 2, DRAIN_SIZE = 256, DRAIN_PAUSE_MS = 1 };
/* The largest piece fed, the status when the arguments are wrong, and that of a child ended
   because it still ran after CHILD_LIMIT_MS, so that a hang fails its row and leaves no process. */
enum { PIECE_ROOM = 1 << 16, OWN_FAILURE = 125, HUNG = 124, CHILD_LIMIT_MS = 30000 };
/* The rights of a pipe handed over for reading alone: it cannot tell its type, as the read-data
   right does not cover the pipe's attributes. */
enum { READ_DATA_ONLY = FILE_READ_DATA | SYNCHRONIZE };

static HANDLE feed_end;
static int feeding_socket;

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
        if (got == 0 && size != 0) break;
        /* No retry: a failed write means the child has closed its input. */
        if (!WriteFile(feed_end, piece, got, &put, NULL)) break;
        /* Waits until the child has read the piece, so that an empty message comes alone; result
           ignored: a socket cannot wait so, and a child gone fails the next write. */
        FlushFileBuffers(feed_end);
        Sleep(FEED_PAUSE_MS);
    }
    /* A socket shuts down only its sending side, and stays open until the child has exited. */
    if (feeding_socket) {
        shutdown((SOCKET)feed_end, SD_SEND);
    } else {
        CloseHandle(feed_end);
    }
    return 0;
}

/* A pipe whose server end, created in `mode`, is returned for the child, inheritable and with
   the `rights` alone (0: all of them), as runtimes hand them out; *ours is the client end, for
   writing when `direction` is inbound. */
static HANDLE make_pipe(DWORD direction, DWORD mode, DWORD rights, HANDLE* ours) {
    char name[64];
    sprintf(name, "\\\\.\\pipe\\windows_pipes_%lu_%lu", GetCurrentProcessId(), direction);
    HANDLE server = CreateNamedPipeA(name, direction, mode, 1, PIPE_BUFFER, PIPE_BUFFER, 0, NULL);
    DWORD access = direction == PIPE_ACCESS_INBOUND ? GENERIC_WRITE : GENERIC_READ;
    *ours = CreateFileA(name, access, 0, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE child = NULL;
    DWORD options = DUPLICATE_CLOSE_SOURCE | (rights == 0 ? DUPLICATE_SAME_ACCESS : 0);
    /* Result ignored: a handle that was not made leaves the child without input, which fails the
       row. */
    DuplicateHandle(GetCurrentProcess(), server, GetCurrentProcess(), &child, rights, TRUE,
                    options);
    return child;
}

/* Two connected TCP sockets: the child's, made for plain ReadFile calls, is returned; *ours is
   the one we send from. Results unchecked: a pair that failed shows as output missing. */
static HANDLE make_socket(HANDLE* ours) {
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {AF_INET, 0, {.s_addr = htonl(INADDR_LOOPBACK)}};
    int length = sizeof address;
    bind(server, (struct sockaddr*)&address, length);
    listen(server, 1);
    getsockname(server, (struct sockaddr*)&address, &length);
    SOCKET child = WSASocketW(AF_INET, SOCK_STREAM, 0, NULL, 0, 0);
    connect(child, (struct sockaddr*)&address, length);
    *ours = (HANDLE)accept(server, NULL, NULL);
    return (HANDLE)child;
}

static DWORD WINAPI end_if_hung(void* child) {
    if (WaitForSingleObject(child, CHILD_LIMIT_MS) == WAIT_TIMEOUT) TerminateProcess(child, HUNG);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 4) return argc == 2 && strcmp(argv[1], "probe") == 0 ? 0 : OWN_FAILURE;
    int nowait = strcmp(argv[2], "nowait") == 0;
    feeding_socket = strcmp(argv[2], "socket") == 0;
    DWORD read_mode = strcmp(argv[2], "bytes") == 0 ? PIPE_READMODE_BYTE : PIPE_READMODE_MESSAGE;
    DWORD in_mode = nowait ? PIPE_NOWAIT : PIPE_TYPE_MESSAGE | read_mode;
    DWORD in_rights = strcmp(argv[2], "message") == 0 ? READ_DATA_ONLY : 0;
    DWORD out_mode = nowait ? PIPE_NOWAIT : PIPE_WAIT;
    HANDLE drain = NULL;
    STARTUPINFOA start = {.cb = sizeof start, .dwFlags = STARTF_USESTDHANDLES};
    if (feeding_socket) {
        start.hStdInput = make_socket(&feed_end);
    } else {
        start.hStdInput = make_pipe(PIPE_ACCESS_INBOUND, in_mode, in_rights, &feed_end);
    }
    start.hStdOutput = make_pipe(PIPE_ACCESS_OUTBOUND, out_mode, 0, &drain);
    char command[MAX_PATH + 2];
    snprintf(command, sizeof command, "\"%s\"", argv[1]);
    PROCESS_INFORMATION process = {0};
    /* Result ignored: a child that did not start leaves no status to replace OWN_FAILURE. */
    CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &process);
    /* Only the child holds its ends now, so that its exit ends our reads. */
    CloseHandle(start.hStdInput);
    CloseHandle(start.hStdOutput);
    HANDLE feeder = CreateThread(NULL, 0, feed, argv[3], 0, NULL);
    CreateThread(NULL, 0, end_if_hung, process.hProcess, 0, NULL);
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
