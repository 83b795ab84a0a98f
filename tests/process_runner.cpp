#include "process_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Ends {
    int child = -1;   // the descriptor the child gets
    int parent = -1;  // ours: to feed input, or to collect output
    std::string path; // a temporary file
};

std::string temporary_file(const std::string& contents) {
    char path[] = "/tmp/tagsplit-e2e-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) {
        // A short write would show up as a wrong result in the test itself.
        (void)!write(fd, contents.data(), contents.size());
        close(fd);
    }
    return path;
}

// A raw pseudo-terminal, so that the line discipline changes no byte.
Ends open_raw_pty() {
    Ends ends;
    termios raw{};
    cfmakeraw(&raw);
    openpty(&ends.parent, &ends.child, nullptr, &raw, nullptr);
    return ends;
}

Ends file_ends(const std::string& contents, int flags) {
    Ends ends;
    ends.path = temporary_file(contents);
    ends.child = open(ends.path.c_str(), flags);
    return ends;
}

// A pipe whose end `child_end` (0 to read, 1 to write) goes to the child.
Ends pipe_ends(int child_end, bool nonblocking) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    Ends ends = {fds[child_end], fds[1 - child_end], ""};
    if (nonblocking) fcntl(ends.child, F_SETFL, O_NONBLOCK);
    return ends;
}

// A pipe fed by a process that is killed as soon as it has written the input.
Ends dying_writer_ends(const std::string& input) {
    Ends ends = pipe_ends(0, false);
    if (fork() == 0) {
        close(ends.child);
        (void)!write(ends.parent, input.data(), input.size());
        raise(SIGKILL);
    }
    close(ends.parent);
    ends.parent = -1;
    return ends;
}

Ends input_ends(const Launch& launch) {
    switch (launch.in) {
    case Attach::file: return file_ends(launch.input, O_RDONLY);
    case Attach::pipe: return pipe_ends(0, false);
    case Attach::nonblocking: return pipe_ends(0, true);
    case Attach::pty: return open_raw_pty();
    case Attach::dying_writer: return dying_writer_ends(launch.input);
    default: return {};  // closed: the child gets no descriptor 0
    }
}

Ends output_ends(const Launch& launch) {
    Ends ends;
    switch (launch.out) {
    case Attach::file: return file_ends("", O_WRONLY);
    case Attach::pipe: return pipe_ends(1, false);
    case Attach::nonblocking: return pipe_ends(1, true);
    case Attach::gone_reader:
        ends = pipe_ends(1, false);
        close(ends.parent);
        ends.parent = -1;
        return ends;
    case Attach::pty: return open_raw_pty();
    case Attach::dev_full:
        ends.child = open("/dev/full", O_WRONLY);
        return ends;
    default: return ends;  // closed: the child gets no descriptor 1
    }
}

[[noreturn]] void exec_child(const Launch& launch, const Ends& in, const Ends& out) {
    signal(SIGPIPE, SIG_DFL);
    if (in.child >= 0) dup2(in.child, 0); else close(0);
    if (out.child >= 0) dup2(out.child, 1); else close(1);
    if (launch.close_stderr) close(2);
    for (const std::string& setting : launch.environment) putenv(const_cast<char*>(setting.c_str()));
    for (int fd = 3; fd < 256; ++fd) close(fd);
    std::vector<char*> argv;
    for (const std::string& word : launch.command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// Feeds the input and drains the output together, so that neither side can
// stall the other. A pty's input is never closed: a program reading it waits.
void exchange(const Launch& launch, int& feed, int drain, std::string& output,
              std::chrono::steady_clock::time_point deadline) {
    std::size_t fed = 0;
    if (feed >= 0) fcntl(feed, F_SETFL, O_NONBLOCK);
    while (drain >= 0 || (feed >= 0 && fed < launch.input.size())) {
        if (std::chrono::steady_clock::now() > deadline) return;
        pollfd fds[2] = {{drain, POLLIN, 0}, {fed < launch.input.size() ? feed : -1, POLLOUT, 0}};
        poll(fds, 2, 20);
        if (fds[1].revents & (POLLOUT | POLLERR)) {
            ssize_t put = write(feed, launch.input.data() + fed, launch.input.size() - fed);
            if (put > 0) fed += static_cast<std::size_t>(put);
            if (put < 0 && errno != EAGAIN) fed = launch.input.size();  // the reader has gone
        }
        if (feed >= 0 && fed == launch.input.size() && launch.in != Attach::pty) {
            close(feed);
            feed = -1;
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            bool slow = launch.out == Attach::nonblocking;
            if (slow) usleep(200);
            ssize_t got = read(drain, buffer, slow ? 512 : sizeof buffer);
            if (got > 0) {
                output.append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EAGAIN) {
                drain = -1;  // end of a pipe, or EIO once a pty's last user has gone
            }
        }
    }
}

}  // namespace

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Outcome run_process(const Launch& launch) {
    signal(SIGPIPE, SIG_IGN);  // a child that never reads its input must not end the test
    Ends in = input_ends(launch);
    Ends out = output_ends(launch);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(launch.seconds);
    pid_t child = fork();
    if (child == 0) exec_child(launch, in, out);
    if (in.child >= 0) close(in.child);
    if (out.child >= 0) close(out.child);

    Outcome outcome;
    exchange(launch, in.parent, out.parent, outcome.output, deadline);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            outcome.timed_out = true;
            kill(child, SIGKILL);
        }
        usleep(1000);
    }
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    if (in.parent >= 0) close(in.parent);
    if (out.parent >= 0) close(out.parent);
    if (!out.path.empty()) outcome.output = read_file(out.path);
    if (!in.path.empty()) unlink(in.path.c_str());
    if (!out.path.empty()) unlink(out.path.c_str());
    return outcome;
}
