// The filter's fast path in 16-byte steps. A step whose bytes hold no TAB,
// CR, LF or '>' is one load and one store. In any other, each special byte
// leaves what filter_bytes would, and the run after it is stored with one
// unaligned store that may reach 16 bytes past it: a step therefore starts
// only with 32 bytes left to read and 48 bytes of room, and bytes stored past
// the end of the output are overwritten or never counted.
#include <emmintrin.h>

#include <cstddef>

#include "formatter/filter_span.h"

namespace {

constexpr int STEP = 16;

__m128i load(const unsigned char* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }
void store(unsigned char* to, __m128i bytes) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes); }

__m128i equal(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

unsigned bits(__m128i flags) { return static_cast<unsigned>(_mm_movemask_epi8(flags)); }

// Steps that can start one after the other from here: each reads 32 bytes
// and writes 48 ahead of where it starts, and moves at most 16 and 32 on.
std::ptrdiff_t steps_that_fit(std::ptrdiff_t to_read, std::ptrdiff_t room) {
    std::ptrdiff_t by_input = (to_read - 2 * STEP) / STEP, by_room = (room - 3 * STEP) / (2 * STEP);
    return 1 + (by_input < by_room ? by_input : by_room);
}

}  // namespace

void filter_span(const unsigned char*& in_position, const unsigned char* in_end, unsigned char*& out_position,
                 const unsigned char* out_end) {
    // Local copies, which the byte stores cannot alias.
    const unsigned char* in = in_position;
    unsigned char* out = out_position;
    while (in_end - in >= 2 * STEP && out_end - out >= 3 * STEP) {
        for (std::ptrdiff_t steps = steps_that_fit(in_end - in, out_end - out); steps > 0; --steps, in += STEP) {
            __m128i bytes = load(in);
            unsigned dropped = bits(_mm_or_si128(_mm_or_si128(equal(bytes, TAB), equal(bytes, LF)), equal(bytes, CR)));
            unsigned ends = bits(equal(bytes, LINE_END));
            store(out, bytes);
            unsigned run = 0;  // the run of kept bytes from here on is stored from `out` on
            // Each turn ends the run at a '>', which gets its line feed, or at a
            // cluster of dropped bytes, which is skipped whole.
            for (unsigned specials = dropped | ends; specials != 0; specials &= ~0u << run) {
                unsigned special = static_cast<unsigned>(__builtin_ctz(specials));
                out += special - run;
                out[0] = LINE_END;
                out[1] = LF;
                unsigned is_end = ends >> special & 1;
                out += 2 * is_end;
                run = special + is_end + static_cast<unsigned>(__builtin_ctz(~(dropped >> special)));
                store(out, load(in + run));
            }
            out += STEP - run;
        }
    }
    filter_bytes(in, in_end, out, out_end);
    in_position = in;
    out_position = out;
}
