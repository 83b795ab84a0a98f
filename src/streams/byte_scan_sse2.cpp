// The stream layer's byte runs at the SSE2 level: 16-byte steps, byte loops finishing.
#include "streams/byte_scan.h"
#include "streams/sse2_steps.h"

namespace sse2 {

namespace {

// Two steps a turn: most reads hold no CR and no 0x1A at all.
const unsigned char* find_cr_or_ctrl_z(const unsigned char* from, const unsigned char* to) {
    for (; to - from >= 2 * STEP; from += 2 * STEP) {
        __m128i low = load(from);
        __m128i high = load(from + STEP);
        unsigned found = bits(_mm_or_si128(equal(low, CR), equal(low, CTRL_Z))) |
                         bits(_mm_or_si128(equal(high, CR), equal(high, CTRL_Z))) << STEP;
        if (found != 0) return from + __builtin_ctz(found);
    }
    while (from != to && *from != CR && *from != CTRL_Z) ++from;
    return from;
}

}  // namespace

unsigned char* translate_span(unsigned char*& in, unsigned char* end, unsigned char* out) {
    return translate_runs<find_cr_or_ctrl_z>(in, end, out);
}

// A step stores its 16 bytes whole, then each LF puts a CR in its place and
// stores the rest again one byte further on: it reads up to 32 bytes, stores
// up to 48 ahead of where it starts and stages at most 32. So steps stop 32
// short of the staging limit, STAGE_SIZE leaves room for the stores, and the
// byte loop stages the rest of the piece.
int stage_piece(const unsigned char*& source_position, const unsigned char* end,
                unsigned char* stage) {
    const unsigned char* source = source_position;  // a local copy, which the stores cannot alias
    unsigned char* out = stage;
    for (;;) {
        std::ptrdiff_t room = stage + STAGING_LIMIT - out;
        std::ptrdiff_t steps = steps_that_fit(end - source, room, 2 * STEP, 2 * STEP, 2 * STEP);
        if (steps == 0) break;
        for (std::ptrdiff_t step = 0; step < steps; ++step) {
            __m128i bytes = load(source);
            store(out, bytes);
            const unsigned char* run = source;  // its bytes are stored from `out` on
            for (unsigned lfs = bits(equal(bytes, LF)); lfs != 0; lfs &= lfs - 1) {
                const unsigned char* lf = source + __builtin_ctz(lfs);
                out += lf - run;
                out[0] = CR;
                ++out;
                run = lf;
                store(out, load(run));
            }
            out += source + STEP - run;
            source += STEP;
        }
    }
    for (; source != end && out - stage < STAGING_LIMIT; ++source) {
        if (*source == LF) {
            out[0] = CR;
            ++out;
        }
        out[0] = *source;
        ++out;
    }
    source_position = source;
    return static_cast<int>(out - stage);
}

}  // namespace sse2
