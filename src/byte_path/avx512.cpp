// The AVX-512 level. A doubling step takes up to 32 bytes and puts each of them in both places of
// a pair in one 64-byte register; compares there find the places that reach the output, a fill
// byte (an LF after the byte for the filter, a CR before it for the staging) takes one place of
// every pair, and one compress into the register and one store write the step's output. The read
// translation takes 64 bytes a step and compresses out the CR of each CR LF in the same way.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "byte_path/filter.h"
#include "byte_path/text_mode.h"
#include "byte_path/x86_64_features.h"

namespace avx512 {

namespace {

constexpr int LANES = 64;        // bytes in a register
constexpr int STEP = LANES / 2;  // input bytes a doubling step takes
constexpr std::uint64_t ALL = ~std::uint64_t{0};
constexpr std::uint64_t EVEN = ALL / 3;  // the first place of each pair
constexpr std::uint64_t ODD = EVEN << 1;

// Place i of a doubling step holds input byte i / 2.
struct alignas(LANES) Doubling {
    unsigned char of[LANES];
};

constexpr Doubling doubling() {
    Doubling index{};
    for (int place = 0; place < LANES; ++place) {
        index.of[place] = static_cast<unsigned char>(place / 2);
    }
    return index;
}

constexpr Doubling DOUBLING = doubling();

// The first `count` bits; `count` from 0 to 64, as bzhi reads only its low 8 bits.
AVX512_CODE inline std::uint64_t first(std::ptrdiff_t count) {
    return _bzhi_u64(ALL, static_cast<unsigned>(count));
}

AVX512_CODE inline int popcount(std::uint64_t bits) {
    return static_cast<int>(_mm_popcnt_u64(bits));
}

AVX512_CODE inline __m512i splat(unsigned char byte) {
    return _mm512_set1_epi8(static_cast<char>(byte));
}

// Bit i is set where byte i of `bytes` is `value`.
AVX512_CODE inline std::uint64_t places_of(__m512i bytes, unsigned char value) {
    return _mm512_cmpeq_epi8_mask(bytes, splat(value));
}

// As places_of, among the places in `among` alone.
AVX512_CODE inline std::uint64_t places_among(std::uint64_t among, __m512i bytes,
                                              unsigned char value) {
    return _mm512_mask_cmpeq_epi8_mask(among, bytes, splat(value));
}

// A whole doubling step's 32 bytes, in the register's low half; the high half
// is left unset, as doubling looks at the low half alone.
AVX512_CODE inline __m512i load_step(const unsigned char* from) {
    return _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
}

// The bytes in the low half of `bytes`, each in both places of its pair.
AVX512_CODE inline __m512i doubled(__m512i bytes) {
    // Zero-masked with every place chosen, as GCC 12 warns on the unmasked form.
    return _mm512_maskz_permutexvar_epi8(ALL, _mm512_loadu_si512(DOUBLING.of), bytes);
}

// `pairs` with `fill` in the `fill_places`.
AVX512_CODE inline __m512i filled(__m512i pairs, std::uint64_t fill_places, unsigned char fill) {
    return _mm512_mask_blend_epi8(fill_places, pairs, splat(fill));
}

// Packs the `kept` places of `places` to the front and stores all 64 bytes at
// `out`, where the caller has room for them; returns the end of the kept bytes.
AVX512_CODE inline unsigned char* store_kept(unsigned char* out, __m512i places,
                                             std::uint64_t kept) {
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, places));
    return out + popcount(kept);
}

// As store_kept, storing the kept bytes alone.
AVX512_CODE inline unsigned char* store_kept_alone(unsigned char* out, __m512i places,
                                                   std::uint64_t kept) {
    int count = popcount(kept);
    _mm512_mask_storeu_epi8(out, first(count), _mm512_maskz_compress_epi8(kept, places));
    return out + count;
}

// How many pairs, from the first on, have all their kept places among the
// first `room` kept places; with `split_counts`, the pair those first places
// end inside counts too.
AVX512_CODE inline int pairs_within(std::uint64_t kept, std::ptrdiff_t room, bool split_counts) {
    std::uint64_t fit = _pdep_u64(first(room < LANES ? room : LANES), kept);
    std::uint64_t over = kept & ~fit;
    std::uint64_t before = ~over & (over - 1);  // the places before the first one over
    std::uint64_t split = (over & (0 - over)) >> 1 & kept & EVEN;
    return popcount(before & ODD) + (split_counts && split != 0 ? 1 : 0);
}

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


// The kept places among the `taken` places of `pairs`: each byte in its odd
// place, and the even place before each LF; one compare with the pairs' LF in
// every even place finds both.
AVX512_CODE inline std::uint64_t stage_kept(__m512i pairs, std::uint64_t taken) {
    return _mm512_mask_cmpeq_epi8_mask(taken, pairs, filled(pairs, EVEN, LF));
}

// Stages the first `count` bytes of `pairs` at `out`, and advances it, while
// fewer than `limit` bytes are staged; returns how many were.
AVX512_CODE inline std::ptrdiff_t stage_step(__m512i pairs, std::ptrdiff_t count,
                                             unsigned char*& out, const unsigned char* limit) {
    std::uint64_t kept = stage_kept(pairs, first(2 * count));
    std::ptrdiff_t room = limit - out;
    if (popcount(kept) >= room) {
        // The piece closes in this step, inside it or at its end.
        int staged = pairs_within(kept, room, true);
        count = staged < count ? staged : count;
        kept &= first(2 * count);
    }
    out = store_kept(out, filled(pairs, EVEN, CR), kept);
    return count;
}

// The places of `bytes`, among `taken`, that stop a step: a 0x1A, and a CR in
// the last place, whose next byte only the next step holds, or which is the last byte.
AVX512_CODE inline std::uint64_t stops_in(__m512i bytes, std::uint64_t crs, std::uint64_t taken) {
    std::uint64_t last_place = taken ^ taken >> 1;
    return places_of(bytes, CTRL_Z) | (crs & last_place);
}

// The CRs of `bytes` that an LF follows in the next place.
AVX512_CODE inline std::uint64_t cr_lfs_in(__m512i bytes, std::uint64_t crs) {
    return crs & (places_of(bytes, LF) >> 1);
}

}  // namespace

AVX512_CODE void filter(const unsigned char*& in_position, const unsigned char* in_end,
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
    // Then steps of the bytes left, each byte taken while 2 or more bytes of
    // room are left before it: the first, and one after each pair whose output
    // leaves that much.
    for (;;) {
        std::ptrdiff_t count = in_end - in < STEP ? in_end - in : STEP;
        std::ptrdiff_t room = out_end - out;
        if (count == 0 || room < 2) break;
        __m512i pairs = doubled(_mm512_maskz_loadu_epi8(first(count), in));
        std::uint64_t kept = filter_kept(pairs, first(2 * count));
        int fitting = 1 + pairs_within(kept, room - 2, false);
        if (fitting > count) fitting = static_cast<int>(count);
        out = store_kept_alone(out, filled(pairs, ODD, LF), kept & first(2 * fitting));
        in += fitting;
    }
    in_position = in;
    out_position = out;
}

// Whole 64-byte steps move all their bytes, with one store each behind the
// bytes they have read; a step at a stop or at the end moves its bytes up to
// the stop and stores them alone.
AVX512_CODE unsigned char* translate(unsigned char*& in_position, unsigned char* end,
                                     unsigned char* out) {
    unsigned char* in = in_position;
    for (;;) {
        while (end - in >= LANES) {
            __m512i bytes = _mm512_loadu_si512(in);
            std::uint64_t crs = places_of(bytes, CR);
            if (stops_in(bytes, crs, ALL) != 0) break;
            out = store_kept(out, bytes, ~cr_lfs_in(bytes, crs));
            in += LANES;
        }
        if (in == end) break;
        std::uint64_t taken = first(end - in < LANES ? end - in : LANES);
        __m512i bytes = _mm512_maskz_loadu_epi8(taken, in);
        std::uint64_t crs = places_of(bytes, CR);
        std::uint64_t stops = stops_in(bytes, crs, taken);
        std::uint64_t moved = ~stops & (stops - 1) & taken;
        out = store_kept_alone(out, bytes, moved & ~cr_lfs_in(bytes, crs));
        in += popcount(moved);
        if (stops != 0 && (*in == CTRL_Z || in + 1 == end)) break;
    }
    in_position = in;
    return out;
}

// Every step stores 64 bytes at a place before the staging limit, which
// STAGE_SIZE leaves room for.
AVX512_CODE int stage(const unsigned char*& source_position, const unsigned char* end,
                      unsigned char* piece) {
    // A local copy, which the stores cannot alias.
    const unsigned char* source = source_position;
    unsigned char* out = piece;
    const unsigned char* limit = piece + STAGING_LIMIT;
    while (end - source >= STEP && out < limit) {
        source += stage_step(doubled(load_step(source)), STEP, out, limit);
    }
    if (source != end && out < limit) {
        std::ptrdiff_t count = end - source;
        source += stage_step(doubled(_mm512_maskz_loadu_epi8(first(count), source)), count, out,
                             limit);
    }
    source_position = source;
    return static_cast<int>(out - piece);
}

}  // namespace avx512
