// The SSE2 level, in 16-byte steps: the filter and the staging store each step whole and store
// the run after each byte that changes again where it belongs; the read translation finds CR and
// 0x1A two steps at a time and moves the runs between them.
#include <emmintrin.h>

#include "byte_path/filter.h"
#include "byte_path/text_mode.h"

namespace sse2 {

namespace {

constexpr int STEP = 16;

__m128i load(const unsigned char* from) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}

void store(unsigned char* to, __m128i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
}

__m128i equal(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

// Bit i is set when byte i of `flags` is.
unsigned bits(__m128i flags) { return static_cast<unsigned>(_mm_movemask_epi8(flags)); }

// How many steps can start one after the other from here, when each needs
// `reads` bytes to read and `writes` bytes of room from where it starts, and
// moves one step on in the input and at most `grows` bytes on in the output.
std::ptrdiff_t steps_that_fit(std::ptrdiff_t to_read, std::ptrdiff_t room, int reads, int writes,
                              int grows) {
    if (to_read < reads || room < writes) return 0;
    std::ptrdiff_t by_input = (to_read - reads) / STEP;
    std::ptrdiff_t by_room = (room - writes) / grows;
    return 1 + (by_input < by_room ? by_input : by_room);
}

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

// A step stores its 16 bytes whole; where some are TAB, CR, LF or '>', each such byte leaves
// what filter_bytes would, and the run after it is stored again where it now belongs. A step
// therefore reads up to 32 bytes and stores up to 48 ahead of where it starts; what lands past
// the end of the output is overwritten or never counted.
void filter(const unsigned char*& in_position, const unsigned char* in_end,
            unsigned char*& out_position, const unsigned char* out_end) {
    // Local copies, which the byte stores cannot alias.
    const unsigned char* in = in_position;
    unsigned char* out = out_position;
    for (;;) {
        std::ptrdiff_t room = out_end - out;
        std::ptrdiff_t steps = steps_that_fit(in_end - in, room, 2 * STEP, 3 * STEP, 2 * STEP);
        if (steps == 0) break;
        for (std::ptrdiff_t step = 0; step < steps; ++step) {
            __m128i bytes = load(in);
            __m128i tabs_or_lfs = _mm_or_si128(equal(bytes, TAB), equal(bytes, LF));
            unsigned dropped = bits(_mm_or_si128(tabs_or_lfs, equal(bytes, CR)));
            unsigned ends = bits(equal(bytes, GREATER_THAN));
            store(out, bytes);
            unsigned run = 0;  // the run of kept bytes from here on is stored from `out` on
            // Each turn ends the run at a '>', which gets its line feed, or at
            // a cluster of dropped bytes, which is skipped whole.
            for (unsigned specials = dropped | ends; specials != 0; specials &= ~0u << run) {
                unsigned special = static_cast<unsigned>(__builtin_ctz(specials));
                out += special - run;
                out[0] = GREATER_THAN;
                out[1] = LF;
                unsigned is_end = ends >> special & 1;
                out += 2 * is_end;
                unsigned cluster = static_cast<unsigned>(__builtin_ctz(~(dropped >> special)));
                run = special + is_end + cluster;
                store(out, load(in + run));
            }
            out += STEP - run;
            in += STEP;
        }
    }
    filter_bytes(in, in_end, out, out_end);
    in_position = in;
    out_position = out;
}

unsigned char* translate(unsigned char*& in, unsigned char* end, unsigned char* out) {
    return translate_runs<find_cr_or_ctrl_z>(in, end, out);
}

// A step stores its 16 bytes whole, then each LF puts a CR in its place and
// stores the rest again one byte further on: it reads up to 32 bytes, stores
// up to 48 ahead of where it starts and stages at most 32. So steps stop 32
// short of the staging limit, STAGE_SIZE leaves room for the stores, and the
// byte loop stages the rest of the piece.
int stage(const unsigned char*& source_position, const unsigned char* end, unsigned char* piece) {
    const unsigned char* source = source_position;  // a local copy, which the stores cannot alias
    unsigned char* out = piece;
    for (;;) {
        std::ptrdiff_t room = piece + STAGING_LIMIT - out;
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
    stage_bytes(source, end, out, piece + STAGING_LIMIT);
    source_position = source;
    return static_cast<int>(out - piece);
}

}  // namespace sse2
