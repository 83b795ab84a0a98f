// The filter at the SSE2 level, in 16-byte steps. A step stores its 16 bytes whole;
// where some are TAB, CR, LF or '>', each such byte leaves what filter_bytes
// would, and the run after it is stored again where it now belongs. A step
// therefore reads up to 32 bytes and stores up to 48 ahead of where it
// starts; what lands past the end of the output is overwritten or never counted.
#include "formatter/filter_span.h"
#include "streams/sse2_steps.h"

namespace sse2 {

void filter_span(const unsigned char*& in_position, const unsigned char* in_end,
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

}  // namespace sse2
