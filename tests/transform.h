// What tagsplit must write, worked out the simplest way.
#pragma once

#include <string>

// The two usage lines, as they reach the handle.
inline const std::string USAGE_TEXT =
    "a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n";

// For an input read from a file or pipe: cut at the first 0x1A, drop TAB, CR
// and LF, and end a line with CR LF after every '>'.
inline std::string expected_output(const std::string& input) {
    std::string out;
    for (char c : input.substr(0, input.find('\x1a'))) {
        if (c == '\t' || c == '\r' || c == '\n') continue;
        out += c;
        if (c == '>') out += "\r\n";
    }
    return out;
}
