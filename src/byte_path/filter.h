// The filter's fast path over bytes already in memory: TAB, CR and LF are dropped and a line feed
// follows every '>'. Each level of the byte path has its own kernel, in a namespace of the
// level's name; choose_byte_path points the formatter at one.
#pragma once

#include <algorithm>
#include <cstddef>

#include "byte_path/text_mode.h"

inline constexpr unsigned char TAB = 9;
inline constexpr unsigned char GREATER_THAN = '>';  // a line break follows it

// Output bytes per input byte: dropped, copied, or copied with a line feed.
struct OutputLengths {
    unsigned char of[256];
};

constexpr OutputLengths output_lengths() {
    OutputLengths lengths{};
    for (int byte = 0; byte < 256; ++byte) lengths.of[byte] = 1;
    lengths.of[TAB] = 0;
    lengths.of[LF] = 0;
    lengths.of[CR] = 0;
    lengths.of[GREATER_THAN] = 2;
    return lengths;
}

inline constexpr OutputLengths OUTPUT_LENGTHS = output_lengths();

// Filters from `in` to `out`, and advances both, for as long as at least 2 bytes of room are left
// before `out_end`, so that every byte is sure to fit, and stops at the first byte before which
// fewer are left, or at `in_end`. Every byte is stored with a line feed after it, and `out` moves
// past as many of the two as the byte produces, so the loop has no branch.
inline void filter_bytes(const unsigned char*& in_position, const unsigned char* in_end,
                         unsigned char*& out_position, const unsigned char* out_end) {
    const unsigned char* in = in_position;  // local copies, which the stores cannot alias
    unsigned char* out = out_position;
    for (;;) {
        std::ptrdiff_t n = std::min(in_end - in, (out_end - out) / 2);
        if (n <= 0) break;
#pragma GCC unroll 8
        for (const unsigned char* end = in + n; in != end; ++in) {
            unsigned char byte = *in;
            out[0] = byte;
            out[1] = LF;
            out += OUTPUT_LENGTHS.of[byte];
        }
    }
    in_position = in;
    out_position = out;
}

// As filter_bytes, faster where the level can: every level takes the same bytes and stops at
// the same byte, the first with fewer than 2 bytes of room before it.
using FilterSpan = void(const unsigned char*& in, const unsigned char* in_end, unsigned char*& out,
                        const unsigned char* out_end);

namespace scalar {
FilterSpan filter;
}

namespace sse2 {
FilterSpan filter;
}

namespace avx2 {
FilterSpan filter;
}

namespace avx512 {
FilterSpan filter;
}

// The kernel of the level in use.
extern FilterSpan* filter_span;
