// Helpers shared by the unit tests over the scripted platform.
#pragma once

#include <string>
#include <vector>

#include "formatter/formatter.h"
#include "platform/platform_fake.h"
#include "streams/text_stream.h"

// Sets the handles' types, classifies them, and gives standard input its bytes.
inline void scene(FileType in, FileType out, const std::string& input = "",
                  std::vector<int> chunks = {}) {
    fake::reset();
    fake::handle(0).type = in;
    fake::handle(1).type = out;
    fake::handle(0).input = input;
    fake::handle(0).chunks = std::move(chunks);
    classify_standard_handles();
}

// Runs the process from the formatter on (the handles are classified
// already) and returns its exit status.
inline int run_process(int argument_count) {
    static int count;
    count = argument_count;
    return fake::run_until_exit([] { exit_process(run_formatter(count)); });
}

// Every platform call in one line: R<handle>.<asked>:<bytes> for a read,
// W<handle>.<offered>:<bytes> for a write, B for a step back, with CR and LF
// shown as \r and \n.
inline std::string trace() {
    std::string out;
    for (const fake::Call& call : fake::calls()) {
        if (!out.empty()) out += ' ';
        if (call.op == fake::Call::step_back) {
            out += 'B';
            continue;
        }
        out += call.op == fake::Call::read ? 'R' : 'W';
        out += std::to_string(call.handle) + '.' + std::to_string(call.asked) + ':';
        for (char c : call.bytes) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return out;
}

// Bytes given to stream_get_byte until END, with END shown as '$'.
inline std::string read_all(int max_ends = 1) {
    std::string got;
    for (int ends = 0; ends < max_ends;) {
        int c = stream_get_byte(standard_input);
        if (c == END) {
            got += '$';
            ++ends;
        } else {
            got += static_cast<char>(c);
        }
    }
    return got;
}

inline std::vector<int> write_sizes(int handle) {
    std::vector<int> sizes;
    for (const fake::Call& call : fake::calls_of(fake::Call::write, handle)) {
        sizes.push_back(static_cast<int>(call.bytes.size()));
    }
    return sizes;
}
