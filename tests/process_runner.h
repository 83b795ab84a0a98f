// Runs a command with its standard input and output attached to real files,
// pipes, pseudo-terminals or nothing at all, and collects what it wrote.
#pragma once

#include <string>
#include <vector>

enum class Attach {
    file,
    pipe,
    pty,
    closed,
    dev_full,
    gone_reader,     // output: a pipe whose reading end is closed before the start
    dying_writer,    // input: a pipe fed by a process that is killed once it has written
    nonblocking      // a pipe set O_NONBLOCK; as output, drained a little at a time
};

struct Launch {
    std::vector<std::string> command = {};
    std::string input = {};
    Attach in = Attach::file;
    Attach out = Attach::file;
    bool close_stderr = false;
    std::vector<std::string> environment = {};  // NAME=value for the child
    int seconds = 20;  // a run still going then is killed and fails the test
};

struct Outcome {
    std::string output;
    int status = -1;        // exit status, or -1 when it did not exit normally
    bool timed_out = false;
};

Outcome run_process(const Launch& launch);

// The file's bytes, or "" when it cannot be read.
std::string read_file(const std::string& path);
