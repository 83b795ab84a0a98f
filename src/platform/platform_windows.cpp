// The platform on Windows: KERNEL32 alone.
#include <windows.h>

#include "platform/platform.h"

// Windows 10 1803 and later; older systems refuse it, and mingw-w64's headers lack it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

HANDLE native(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

const DWORD STANDARD_HANDLE_IDS[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

// How long a read or write waits for a no-wait pipe that was empty or full: in milliseconds for
// Sleep, and as a relative due time (negative, in 100 ns units) for a waitable timer.
const DWORD NO_WAIT_PAUSE_MS = 1;
const LONGLONG NO_WAIT_PAUSE_DUE = -10000;

// The timer the pauses wait on, made at start-up; null where the system has no high-resolution
// timer, and Sleep waits instead: since Windows 10 2004, Sleep(1) waits a whole 15.6 ms tick
// unless the process has raised the timer resolution.
HANDLE pause_timer = nullptr;

using CreateWaitableTimerExFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD,
                                                      DWORD);

// Only a pipe in no-wait mode comes back at once with nothing done; asking the pipe for its
// mode would need a right that a write-only end often lacks.
bool is_pipe(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_PIPE; }

// A message-type pipe can carry a message of no bytes, which is not its end; a socket, whose
// peer's shutdown reads as zero bytes, is no named pipe and fails the question. A pipe handed
// over without the right to read its attributes is refused the answer; it still counts as a
// message-type pipe, since a byte-type pipe reports its end as an error, never as zero bytes;
// a socket, which Winsock hands over with every right, is asked and refused as no pipe.
bool is_message_pipe(HANDLE handle) {
    if (!is_pipe(handle)) return false;
    DWORD flags = 0;
    if (GetNamedPipeInfo(handle, &flags, nullptr, nullptr, nullptr)) {
        return (flags & PIPE_TYPE_MESSAGE) != 0;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

// A high-resolution timer, or null where the system refuses the flag. The function is looked
// up, not imported, so that the exe still starts on systems older than Vista, which lack it.
HANDLE make_pause_timer() {
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateWaitableTimerExW");
    if (found == nullptr) return nullptr;
    auto create = reinterpret_cast<CreateWaitableTimerExFunction>(
        reinterpret_cast<void (*)()>(found));
    DWORD access = TIMER_MODIFY_STATE | SYNCHRONIZE;
    return create(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, access);
}

// Waits about NO_WAIT_PAUSE_MS for a no-wait pipe to fill or drain.
void pause_for_pipe() {
    BOOL timer_set = FALSE;
    if (pause_timer != nullptr) {
        LARGE_INTEGER due;
        due.QuadPart = NO_WAIT_PAUSE_DUE;
        timer_set = SetWaitableTimer(pause_timer, &due, 0, nullptr, nullptr, FALSE);
    }
    // Where the timer was refused or could not be set, Sleep waits instead.
    if (!timer_set) {
        Sleep(NO_WAIT_PAUSE_MS);
        return;
    }
    // Result ignored: the wait on our own timer, just set, ends when it fires.
    WaitForSingleObject(pause_timer, INFINITE);
}

}  // namespace

void platform_prepare_standard_handles() {
    pause_timer = make_pause_timer();
}

StandardHandle platform_standard_handle(int index) {
    HANDLE handle = GetStdHandle(STANDARD_HANDLE_IDS[index]);
    // A process started without a handle may have 0 in its place.
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        return {NO_OS_HANDLE, FileType::missing};
    }
    OsHandle os_handle = reinterpret_cast<OsHandle>(handle);
    switch (GetFileType(handle)) {
    case FILE_TYPE_UNKNOWN: return {NO_OS_HANDLE, FileType::missing};
    case FILE_TYPE_CHAR: return {os_handle, FileType::device};
    case FILE_TYPE_PIPE: return {os_handle, FileType::pipe};
    default: return {os_handle, FileType::disk};
    }
}

int platform_read(OsHandle handle, unsigned char* destination, int size) {
    for (;;) {
        DWORD got = 0;
        DWORD wanted = static_cast<DWORD>(size);
        BOOL read = ReadFile(native(handle), destination, wanted, &got, nullptr);
        // An empty message leaves the pipe open; the next message is read in its place.
        bool empty_message = read && got == 0 && is_message_pipe(native(handle));
        if (empty_message) continue;
        if (read) return static_cast<int>(got);
        DWORD error = GetLastError();
        // A writer that has gone away ends the data; it is no failure.
        if (error == ERROR_BROKEN_PIPE) return 0;
        // Part of a longer message: the next read gets the rest of it.
        if (error == ERROR_MORE_DATA) return static_cast<int>(got);
        // An empty no-wait pipe waits for its writer; any other failure is final.
        if (error != ERROR_NO_DATA || !is_pipe(native(handle))) return -1;
        pause_for_pipe();
    }
}

int platform_write(OsHandle handle, const unsigned char* source, int size) {
    int written = 0;
    while (written < size) {
        DWORD put = 0;
        DWORD left = static_cast<DWORD>(size - written);
        BOOL wrote = WriteFile(native(handle), source + written, left, &put, nullptr);
        // No retry after a failure: a reader gone or a full disk stays so.
        if (!wrote) break;
        written += static_cast<int>(put);
        if (put == 0) {
            // A full no-wait pipe takes nothing for now; any other handle that does never will.
            if (!is_pipe(native(handle))) break;
            pause_for_pipe();
        }
    }
    return written;
}

bool platform_step_back(OsHandle handle) {
    // The high part makes the move 64-bit, so files past 4 GiB step back too.
    LONG high = -1;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(native(handle), -1, &high, FILE_CURRENT);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

unsigned char* platform_allocate(std::size_t size) {
    return static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, size));
}

void platform_exit(int status) {
    ExitProcess(static_cast<UINT>(status));
}
