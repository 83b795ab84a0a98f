// The POSIX platform over real descriptors: what it takes each kind of standard handle for, its
// step back, and the SIGPIPE action and mask it sets at start-up.
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

int failed = 0;

void expect(bool holds, const char* what) {
    std::printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    failed += holds ? 0 : 1;
}

constexpr off_t FAR = (off_t{1} << 32) + 2;  // where 32-bit file offsets would not reach

struct Row {
    const char* name;
    int fd;  // -1: standard input closed
    FileType type;
};

// Puts `fd` in place of standard input, or closes it; false when that fails.
bool as_standard_input(int fd) {
    if (fd < 0) return close(0) == 0;
    return dup2(fd, 0) == 0;
}

}  // namespace

int main() {
    // Results ignored below: a call that fails leaves -1 or a small file, which fails its row.
    int file = open("/tmp", O_TMPFILE | O_RDWR, 0600);
    bool grown = ftruncate(file, FAR) == 0;
    int small_file = open("/tmp", O_TMPFILE | O_RDWR, 0600);
    int directory = open("/tmp", O_RDONLY | O_DIRECTORY);
    int pipe_ends[2] = {-1, -1};
    pipe(pipe_ends);
    int socket_ends[2] = {-1, -1};
    socketpair(AF_UNIX, SOCK_STREAM, 0, socket_ends);
    int master = -1;
    int terminal = -1;
    openpty(&master, &terminal, nullptr, nullptr, nullptr);
    int null_device = open("/dev/null", O_RDWR);
    // Before the rows move descriptors onto 0, which `file` is when the test has no input.
    bool at_far = lseek(file, FAR, SEEK_SET) == FAR;
    bool stepped = platform_step_back(file);
    bool one_back = lseek(file, 0, SEEK_CUR) == FAR - 1;
    expect(grown && at_far && stepped && one_back, "a step back past 4 GiB moves one byte back");
    expect(!platform_step_back(pipe_ends[0]), "a step back on a pipe fails");
    const Row rows[] = {
        {"a file is a disk file", small_file, FileType::disk},
        {"a file past 4 GiB is a disk file", file, FileType::disk},
        {"a directory is a disk file", directory, FileType::disk},
        {"a pipe is a pipe", pipe_ends[0], FileType::pipe},
        {"a socket is a pipe", socket_ends[0], FileType::pipe},
        {"a terminal is a console", terminal, FileType::device},
        {"/dev/null is a pipe, not a console", null_device, FileType::pipe},
        {"a closed descriptor is missing", -1, FileType::missing},
    };
    for (const Row& row : rows) {
        bool moved = as_standard_input(row.fd);
        StandardHandle found = platform_standard_handle(0);
        OsHandle handle = row.type == FileType::missing ? NO_OS_HANDLE : 0;
        expect(moved && found.handle == handle && found.type == row.type, row.name);
    }

    // Results ignored: SIGPIPE can always be ignored and blocked.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigprocmask(SIG_BLOCK, &pipe_signal, nullptr);
    platform_prepare_standard_handles();
    void (*action)(int) = std::signal(SIGPIPE, SIG_DFL);  // reads back the action now set
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    bool unblocked = sigismember(&blocked, SIGPIPE) == 0;
    expect(action == SIG_DFL && unblocked, "start-up unblocks an ignored SIGPIPE, at its default");
    return failed == 0 ? 0 : 1;
}
