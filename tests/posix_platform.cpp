// The POSIX platform over real descriptors: what it takes each kind of standard handle for,
// its step back, and the SIGPIPE action it sets at start-up.
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

int passed, failed;

void expect(bool holds, const char* what) {
    if (!holds) std::printf("FAILED: %s\n", what);
    passed += holds ? 1 : 0;
    failed += holds ? 0 : 1;
}

// The result of a call that makes what the rows need; the test stops if it failed.
int made(int result, const char* what) {
    if (result >= 0) return result;
    std::perror(what);
    std::exit(1);
}

constexpr off_t FAR = (off_t{1} << 32) + 2;  // where 32-bit file offsets would not reach

struct Row {
    const char* name;
    int fd;
    FileType type;
};

}  // namespace

int main() {
    int saved = dup(0);
    if (saved < 0) made(open("/dev/null", O_RDONLY), "/dev/null");  // so that no row's is 0
    int file = made(open("/tmp", O_TMPFILE | O_RDWR, 0600), "a file in /tmp");
    made(ftruncate(file, FAR), "ftruncate");
    int pipe_ends[2];
    made(pipe(pipe_ends), "pipe");
    int socket_ends[2];
    made(socketpair(AF_UNIX, SOCK_STREAM, 0, socket_ends), "socketpair");
    int master;
    int terminal;
    made(openpty(&master, &terminal, nullptr, nullptr, nullptr), "openpty");
    int null_device = made(open("/dev/null", O_RDWR), "/dev/null");
    int directory = made(open(".", O_RDONLY | O_DIRECTORY), ".");
    const Row rows[] = {
        {"a regular file past 4 GiB is a disk file", file, FileType::disk},
        {"a pipe is a pipe", pipe_ends[0], FileType::pipe},
        {"a socket is a pipe", socket_ends[0], FileType::pipe},
        {"a terminal is a console", terminal, FileType::character},
        {"/dev/null is a pipe, not a console", null_device, FileType::pipe},
        {"a directory is a disk file", directory, FileType::disk},
    };
    for (const Row& row : rows) {
        made(dup2(row.fd, 0), "dup2");
        StandardHandle found = platform_standard_handle(0);
        expect(found.handle == 0 && found.type == row.type, row.name);
    }
    close(0);  // result ignored: descriptor 0 is open here
    StandardHandle none = platform_standard_handle(0);
    bool missing = none.handle == NO_OS_HANDLE && none.type == FileType::missing;
    expect(missing, "a closed descriptor is missing");
    if (saved >= 0) made(dup2(saved, 0), "dup2");

    bool at_far = lseek(file, FAR, SEEK_SET) == FAR;
    bool stepped = platform_step_back(file);
    bool one_back = lseek(file, 0, SEEK_CUR) == FAR - 1;
    expect(at_far && stepped && one_back, "a step back on a file past 4 GiB moves one byte back");
    expect(!platform_step_back(pipe_ends[0]), "a step back on a pipe fails");

    std::signal(SIGPIPE, SIG_IGN);
    platform_prepare_standard_handles();
    struct sigaction now;
    made(sigaction(SIGPIPE, nullptr, &now), "sigaction");
    expect(now.sa_handler == SIG_DFL, "start-up sets an ignored SIGPIPE to its default action");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
