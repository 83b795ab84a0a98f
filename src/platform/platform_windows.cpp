// The platform on Windows: KERNEL32 alone.
#include <windows.h>

#include "platform/platform.h"

namespace {

HANDLE native(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }

const DWORD STANDARD_HANDLE_IDS[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

}  // namespace

void platform_prepare_standard_handles() {}

StandardHandle platform_standard_handle(int index) {
    HANDLE handle = GetStdHandle(STANDARD_HANDLE_IDS[index]);
    // A process started without a handle may have 0 in its place.
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return {NO_OS_HANDLE, FileType::missing};
    OsHandle os_handle = reinterpret_cast<OsHandle>(handle);
    switch (GetFileType(handle)) {
    case FILE_TYPE_UNKNOWN: return {NO_OS_HANDLE, FileType::missing};
    case FILE_TYPE_CHAR: return {os_handle, FileType::character};
    case FILE_TYPE_PIPE: return {os_handle, FileType::pipe};
    default: return {os_handle, FileType::disk};
    }
}

int platform_read(OsHandle handle, unsigned char* destination, int size) {
    DWORD got = 0;
    if (ReadFile(native(handle), destination, static_cast<DWORD>(size), &got, nullptr)) {
        return static_cast<int>(got);
    }
    // A writer that has gone away ends the data; it is no failure.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

int platform_write(OsHandle handle, const unsigned char* source, int size) {
    DWORD written = 0;
    // No retry: a synchronous handle has written all it ever will.
    WriteFile(native(handle), source, static_cast<DWORD>(size), &written, nullptr);
    return static_cast<int>(written);
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
