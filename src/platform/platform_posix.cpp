// The platform on POSIX: descriptors 0, 1 and 2 stand for the standard handles.
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

int descriptor(OsHandle handle) { return static_cast<int>(handle); }

// Waits until a non-blocking descriptor is ready, so that it behaves like a
// blocking one; false when it never will be.
bool wait_until_ready(int fd, short events) {
    pollfd entry = {fd, events, 0};
    for (;;) {
        int ready = poll(&entry, 1, -1);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

bool would_block() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

void platform_prepare_standard_handles() {
    // A reader that has gone ends the process, even under a parent that ignored or blocked
    // SIGPIPE. Results ignored: a valid signal's action and mask can always be set.
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_signal, nullptr);
}

StandardHandle platform_standard_handle(int index) {
    struct stat status;
    if (fstat(index, &status) != 0) return {NO_OS_HANDLE, FileType::missing};
    if (S_ISCHR(status.st_mode) && isatty(index)) return {index, FileType::device};
    // Any other character device (/dev/null, a printer) takes output in blocks, as a pipe does.
    if (S_ISCHR(status.st_mode)) return {index, FileType::pipe};
    if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) return {index, FileType::pipe};
    return {index, FileType::disk};
}

// An interrupted read or write is made again. tagsplit installs no signal handler, so only
// code loaded into it that does could interrupt one; the retry keeps such a run whole.
int platform_read(OsHandle handle, unsigned char* destination, int size) {
    for (;;) {
        ssize_t got = read(descriptor(handle), destination, static_cast<std::size_t>(size));
        if (got >= 0) return static_cast<int>(got);
        if (errno == EINTR) continue;
        if (would_block() && wait_until_ready(descriptor(handle), POLLIN)) continue;
        return -1;
    }
}

int platform_write(OsHandle handle, const unsigned char* source, int size) {
    int written = 0;
    while (written < size) {
        std::size_t left = static_cast<std::size_t>(size - written);
        ssize_t put = write(descriptor(handle), source + written, left);
        if (put > 0) {
            written += static_cast<int>(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else if (put < 0 && would_block() && wait_until_ready(descriptor(handle), POLLOUT)) {
            continue;
        } else {
            break;  // a real failure, or a write that took nothing and would again
        }
    }
    return written;
}

bool platform_step_back(OsHandle handle) {
    return lseek(descriptor(handle), -1, SEEK_CUR) != -1;
}

unsigned char* platform_allocate(std::size_t size) {
    return static_cast<unsigned char*>(std::malloc(size));
}

void platform_exit(int status) {
    std::exit(status);
}
