// What tagsplit must write for an input read from a file or pipe, worked out
// the simplest way: cut at the first 0x1A, drop TAB, CR and LF, and end a
// line with CR LF after every '>'.
#pragma once

#include <string>

inline std::string expected_output(const std::string& input) {
    std::string out;
    for (char c : input.substr(0, input.find('\x1a'))) {
        if (c == '\t' || c == '\r' || c == '\n') continue;
        out += c;
        if (c == '>') out += "\r\n";
    }
    return out;
}
