// The stream layer's byte runs at the AVX-512 level: the read translation in
// 64-byte steps, the staging in doubling steps with a CR before each LF.
#include "streams/avx512_steps.h"
#include "streams/byte_scan.h"

namespace avx512 {

namespace {

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

// Whole 64-byte steps move all their bytes, with one store each behind the
// bytes they have read; a step at a stop or at the end moves its bytes up to
// the stop and stores them alone.
AVX512_CODE unsigned char* translate_span(unsigned char*& in_position, unsigned char* end,
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
AVX512_CODE int stage_piece(const unsigned char*& source_position, const unsigned char* end,
                            unsigned char* stage) {
    // A local copy, which the stores cannot alias.
    const unsigned char* source = source_position;
    unsigned char* out = stage;
    const unsigned char* limit = stage + STAGING_LIMIT;
    while (end - source >= STEP && out < limit) {
        source += stage_step(doubled(load_step(source)), STEP, out, limit);
    }
    if (source != end && out < limit) {
        std::ptrdiff_t count = end - source;
        source += stage_step(doubled(_mm512_maskz_loadu_epi8(first(count), source)), count, out,
                             limit);
    }
    source_position = source;
    return static_cast<int>(out - stage);
}

}  // namespace avx512
