// A scripted platform for the tests: each standard handle has a type, input
// played back in chosen chunks, a read that fails, and writes that come back
// short; every read, write, step back and allocation is recorded.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

struct Handle {
    FileType type = FileType::disk;
    std::string input;                // what reads yield, in order
    std::vector<int> chunks;          // read k yields at most chunks[k] bytes
    int failing_read = -1;            // the read call (from 0) that fails
    bool can_step_back = true;
    std::map<int, int> write_limits;  // write call k delivers only so many bytes
    std::size_t position = 0;         // filled in by the fake from here on
    int reads = 0, writes = 0;
};

struct Call {
    char op;  // 'R' read, 'W' write, 'B' step back, 'M' memory
    int handle, asked, result;
    std::string bytes;  // read or delivered
    bool operator==(const Call&) const = default;
};

extern Handle handles[3];
extern std::vector<Call> calls;
extern bool memory_refused;

// Three empty disk handles, memory granted, every stream record as at start-up.
void reset();

// Classifies the handles, runs the formatter and exit_process, and returns the status.
int run_process(int argument_count);

// nullptr when the scenario in `data` (a header, then the input) ran as it must, or what failed.
inline constexpr int SCENARIO_HEADER = 30;
const char* scenario_fails(const std::uint8_t* data, std::size_t size);

}  // namespace fake
