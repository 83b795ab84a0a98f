// The filter at the AVX-512 level: a doubling step puts an LF after each of 32
// bytes and keeps each byte but TAB, CR and LF, and the LF after each '>'.
#include "formatter/filter_span.h"
#include "streams/avx512_steps.h"

namespace avx512 {

namespace {

// A byte shuffle of this table by a byte below 128 whose low four bits are i
// gives entry i of a 16-byte row: the byte itself if it is TAB, LF or CR, and
// another byte otherwise; a byte of 128 or more gives 0.
struct alignas(LANES) DroppedLookup {
    unsigned char of[LANES];
};

constexpr int ROW = 16;

constexpr DroppedLookup dropped_lookup() {
    DroppedLookup lookup{};
    for (int place = 0; place < LANES; ++place) {
        int low_bits = place % ROW;
        bool dropped = low_bits == TAB || low_bits == LF || low_bits == CR;
        lookup.of[place] = static_cast<unsigned char>(dropped ? low_bits : low_bits == 0);
    }
    return lookup;
}

constexpr DroppedLookup DROPPED = dropped_lookup();

// The kept places among the `taken` places of `pairs`: each byte in its even
// place but TAB, LF and CR, and the odd place after each '>'.
AVX512_CODE inline std::uint64_t filter_kept(__m512i pairs, std::uint64_t taken) {
    __m512i dropped_if_equal = _mm512_shuffle_epi8(_mm512_loadu_si512(DROPPED.of), pairs);
    std::uint64_t kept = _mm512_mask_cmpneq_epi8_mask(taken & EVEN, pairs, dropped_if_equal);
    return kept | places_among(taken & ODD, pairs, GREATER_THAN);
}

}  // namespace

AVX512_CODE void filter_span(const unsigned char*& in_position, const unsigned char* in_end,
                             unsigned char*& out_position, const unsigned char* out_end) {
    // Local copies, which the stores cannot alias.
    const unsigned char* in = in_position;
    unsigned char* out = out_position;
    // Whole steps while there is room for twice the step's bytes.
    while (in_end - in >= STEP && out_end - out >= LANES) {
        __m512i pairs = doubled(load_step(in));
        out = store_kept(out, filled(pairs, ODD, LF), filter_kept(pairs, ALL));
        in += STEP;
    }
    // Then steps of the bytes left, each taken while all its output fits.
    for (;;) {
        std::ptrdiff_t count = in_end - in < STEP ? in_end - in : STEP;
        __m512i pairs = doubled(_mm512_maskz_loadu_epi8(first(count), in));
        std::uint64_t kept = filter_kept(pairs, first(2 * count));
        int fitting = pairs_within(kept, out_end - out, false);
        if (fitting > count) fitting = static_cast<int>(count);
        if (fitting == 0) break;
        out = store_kept_alone(out, filled(pairs, ODD, LF), kept & first(2 * fitting));
        in += fitting;
    }
    in_position = in;
    out_position = out;
}

}  // namespace avx512
