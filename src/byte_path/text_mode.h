// The byte path's kernels for the text rules of the stream layer: moving a read's bytes down over
// the CR of each CR LF, and staging a write piece with a CR before every LF. Each level of the
// byte path has its own, in a namespace of the level's name; choose_byte_path points the
// stream layer at one.
#pragma once

#include <cstddef>
#include <cstring>

inline constexpr unsigned char LF = 10;
inline constexpr unsigned char CR = 13;
inline constexpr unsigned char CTRL_Z = 0x1A;  // ends the input data

inline constexpr int STAGING_LIMIT = 1024;  // a write piece closes at this many bytes

// A staging area: a piece and the 63 bytes past it that a vector store may reach.
inline constexpr int STAGE_SIZE = STAGING_LIMIT + 64;

// Moves the bytes of [in, end) down to `out`, which never runs ahead of `in`,
// leaving out each CR that an LF follows among them; stops at the first 0x1A
// or at a CR that is the last byte and leaves `in` there, or at `end`.
// Returns the new `out`.
using TranslateSpan = unsigned char*(unsigned char*& in, unsigned char* end, unsigned char* out);

// Stages bytes from `source` on into `piece`, a CR before every LF, until the source ends
// or STAGING_LIMIT or more bytes are staged; returns the staged count.
using StagePiece = int(const unsigned char*& source, const unsigned char* end,
                       unsigned char* piece);

namespace scalar {
TranslateSpan translate;
StagePiece stage;
}  // namespace scalar

namespace sse2 {
TranslateSpan translate;
StagePiece stage;
}  // namespace sse2

namespace avx2 {
TranslateSpan translate;
StagePiece stage;
}  // namespace avx2

namespace avx512 {
TranslateSpan translate;
StagePiece stage;
}  // namespace avx512

// The kernels of the level in use.
extern TranslateSpan* translate_span;
extern StagePiece* stage_piece;

// Stages the bytes from `source` on one at a time at `out`, a CR before every LF, until the
// source ends or `out` reaches `limit`, and advances both: how the levels' steps stage the
// bytes too few for a step.
inline void stage_bytes(const unsigned char*& source, const unsigned char* end,
                        unsigned char*& out, const unsigned char* limit) {
    for (; source != end && out < limit; ++source) {
        if (*source == LF) {
            out[0] = CR;
            ++out;
        }
        out[0] = *source;
        ++out;
    }
}

// The first CR or 0x1A in [from, to), or `to`.
using FindCrOrCtrlZ = const unsigned char*(const unsigned char* from, const unsigned char* to);

// translate_span as one memmove for each run between the CRs and 0x1As that `find` finds.
template <FindCrOrCtrlZ* find>
unsigned char* translate_runs(unsigned char*& in_position, unsigned char* end, unsigned char* out) {
    unsigned char* in = in_position;
    for (;;) {
        unsigned char* found = in + (find(in, end) - in);
        std::size_t run = static_cast<std::size_t>(found - in);
        if (out != in) std::memmove(out, in, run);
        out += run;
        in = found;
        if (found == end || *found == CTRL_Z || found + 1 == end) break;
        // The LF of a CR LF moves with the next run; any other byte, a 0x1A
        // included, leaves the CR in place.
        if (found[1] != LF) {
            out[0] = CR;
            ++out;
        }
        ++in;
    }
    in_position = in;
    return out;
}
