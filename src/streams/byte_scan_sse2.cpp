// The stream layer's byte runs in 16-byte steps, byte loops finishing.
#include <emmintrin.h>

#include <cstddef>

#include "streams/byte_scan.h"

namespace {

constexpr int STEP = 16;

__m128i load(const unsigned char* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }
void store(unsigned char* to, __m128i bytes) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes); }

__m128i equal(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

unsigned bits(__m128i flags) { return static_cast<unsigned>(_mm_movemask_epi8(flags)); }

// The byte loops that finish what the steps leave.
const unsigned char* find_cr_or_end_mark_bytes(const unsigned char* from, const unsigned char* to) {
    while (from != to && *from != CR && *from != END_OF_DATA) ++from;
    return from;
}

int stage_bytes(const unsigned char*& source, const unsigned char* end, unsigned char* stage, int staged) {
    for (; source != end && staged < STAGING_LIMIT; ++source) {
        if (*source == LF) stage[staged++] = CR;
        stage[staged++] = *source;
    }
    return staged;
}

}  // namespace

// Two steps a turn: most reads hold no CR and no 0x1A at all.
const unsigned char* find_cr_or_end_mark(const unsigned char* from, const unsigned char* to) {
    for (; to - from >= 2 * STEP; from += 2 * STEP) {
        __m128i low = load(from), high = load(from + STEP);
        unsigned found = bits(_mm_or_si128(equal(low, CR), equal(low, END_OF_DATA))) |
                         bits(_mm_or_si128(equal(high, CR), equal(high, END_OF_DATA))) << STEP;
        if (found != 0) return from + __builtin_ctz(found);
    }
    return find_cr_or_end_mark_bytes(from, to);
}

// A step stores its 16 bytes whole, then each LF puts a CR in its place and
// stores the rest again one byte further on. A step reads 32 bytes and
// stores 48 ahead of where it starts and stages at most 32, so steps stop
// 32 short of the staging limit, which STAGE_SIZE leaves room for, and the
// byte loop stages the rest of the piece.
int stage_piece(const unsigned char*& source_position, const unsigned char* end, unsigned char* stage) {
    const unsigned char* source = source_position;  // a local copy, which the stores cannot alias
    unsigned char* out = stage;
    for (;;) {
        std::ptrdiff_t to_read = end - source, room = stage + STAGING_LIMIT - out;
        if (to_read < 2 * STEP || room < 2 * STEP) break;
        std::ptrdiff_t by_input = (to_read - 2 * STEP) / STEP, by_room = (room - 2 * STEP) / (2 * STEP);
        for (std::ptrdiff_t steps = 1 + (by_input < by_room ? by_input : by_room); steps > 0; --steps, source += STEP) {
            __m128i bytes = load(source);
            store(out, bytes);
            const unsigned char* run = source;  // its bytes are stored from `out` on
            for (unsigned lfs = bits(equal(bytes, LF)); lfs != 0; lfs &= lfs - 1) {
                const unsigned char* lf = source + __builtin_ctz(lfs);
                out += lf - run;
                *out++ = CR;
                run = lf;
                store(out, load(run));
            }
            out += source + STEP - run;
        }
    }
    int staged = stage_bytes(source, end, stage, static_cast<int>(out - stage));
    source_position = source;
    return staged;
}
