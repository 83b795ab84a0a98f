// A scripted platform for unit tests: each standard handle has a type, input
// to play back in chosen chunks, and write calls that can be made to fail or
// come back short; every read, write and step back is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct Handle {
    FileType type = FileType::disk;
    std::string input;            // what reads of this handle yield, in order
    std::vector<int> chunks;      // read k yields at most chunks[k] bytes
    int failing_read = -1;        // the read call (counted from 0) that fails
    bool can_step_back = true;    // a disk file's position can move back
    std::map<int, int> write_limits;  // write call k delivers only so many bytes
    // Filled in by the fake:
    std::size_t position = 0;
    int reads = 0;
    int writes = 0;
    std::string output;
};

struct Call {
    enum Op { read, write, step_back } op;
    int handle;
    int asked;           // bytes asked for or offered
    std::string bytes;   // bytes read or delivered
    int result;          // what the platform call returned
};

// Starts a new scene: three disk handles with no input, memory granted, and
// every stream record back at its start.
void reset();
Handle& handle(int index);
void refuse_memory(bool refused);
int allocations();
const std::vector<Call>& calls();
std::vector<Call> calls_of(Call::Op op, int handle);

// Runs `body`, which ends in exit_process, and returns the exit status.
int run_until_exit(void (*body)());

}  // namespace fake
