// The seam between tagsplit and the operating system: every system call the
// program makes goes through these functions, and nothing else in the source
// tree knows which operating system it runs on. The build picks one file that
// provides them: POSIX, Windows, or the scripted fake that unit tests link.
#pragma once

#include <cstddef>
#include <cstdint>

// A descriptor on POSIX, a HANDLE on Windows.
using OsHandle = std::intptr_t;
inline constexpr OsHandle NO_OS_HANDLE = -1;

// What the platform says a standard handle is; `missing` covers a handle that
// does not exist and one of no known type. A `device` is a console: any character
// device on Windows, a terminal alone on POSIX.
enum class FileType : unsigned char { missing, device, pipe, disk };

struct StandardHandle {
    OsHandle handle;  // NO_OS_HANDLE when the type is `missing`
    FileType type;
};

// Makes the standard handles ready for use; called once before anything else.
void platform_prepare_standard_handles();

// Handle 0, 1 or 2 and its type.
StandardHandle platform_standard_handle(int index);

// One read of at most `size` bytes: the count read, 0 at the end of the data
// (a writer that went away included), or -1 on failure.
int platform_read(OsHandle handle, unsigned char* destination, int size);

// Delivers `size` bytes the way a synchronous handle does; returns how many
// reached the handle, fewer than `size` only after a real failure.
int platform_write(OsHandle handle, const unsigned char* source, int size);

// Moves a file's position one byte back; false when it cannot.
bool platform_step_back(OsHandle handle);

// A block of memory that lives until the process ends, or nullptr when refused.
unsigned char* platform_allocate(std::size_t size);

// Ends the process with the status.
[[noreturn]] void platform_exit(int status);
