// The byte path at the AVX2 level: the filter, the read translation and the
// staging in 32-byte steps. AVX2 has no byte compress, so two small tables of
// byte shuffles for groups of 8 bytes do the moving: a pack row moves the
// bytes a group keeps to its front, and a spread row puts a fill byte after
// each marked byte. The filter packs and then spreads every step; the read
// translation and the staging move a step's bytes by a place or two around
// its CR LF or its LFs, and take the tables only for the few steps that hold
// more of them.
#include <immintrin.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "byte_path/filter.h"
#include "byte_path/text_mode.h"
#include "byte_path/x86_64_features.h"

namespace avx2 {

namespace {

constexpr int STEP = 32;                   // bytes in a register, and a step's input
constexpr int LANE = 16;                   // bytes a byte shuffle reaches within
constexpr int GROUP = 8;                   // bytes a table row packs or spreads
constexpr int GROUPS = STEP / GROUP;
constexpr int ROWS = 1 << GROUP;           // a row for each mark of a group's bytes
constexpr unsigned GROUP_MARKS = ROWS - 1;
constexpr int SPREAD = 2 * GROUP;          // the most bytes a group spreads to
constexpr int SPREAD_SCALE = 4;            // SPREAD is 1 << SPREAD_SCALE
constexpr unsigned char ZERO_PLACE = 0x80;  // a shuffle index that gives 0
constexpr unsigned char FILL_PLACE = GROUP;  // where a spread finds its fill byte
constexpr std::uint32_t ALL_BYTES = ~std::uint32_t{0};
constexpr int FILL_BITS = STEP;            // where a step's fill marks start in a word of sizes
constexpr unsigned char ALL_SET = 0xFF;     // a byte with every bit set
constexpr std::uint64_t ONE_IN_EACH_BYTE = ~std::uint64_t{0} / ALL_SET;
// GROUP added to each of 8 shuffle indices, which moves them to a lane's second half.
constexpr long long IN_SECOND_HALF = ONE_IN_EACH_BYTE * GROUP;

// Row m lists, lowest first, the places of the group's bytes that m marks,
// then ZERO_PLACE: a byte shuffle by it packs those bytes to the group's front
// and zeroes the rest. 256 rows of 8 bytes: 2,048 bytes.
struct PackRows {
    std::uint64_t of[ROWS];
};

constexpr PackRows pack_rows() {
    PackRows rows{};
    for (int marks = 0; marks < ROWS; ++marks) {
        std::uint64_t row = 0;
        int packed = 0;
        for (int place = 0; place < GROUP; ++place) {
            if ((marks >> place & 1) == 0) continue;
            row |= std::uint64_t{static_cast<unsigned char>(place)} << (CHAR_BIT * packed);
            ++packed;
        }
        for (; packed < GROUP; ++packed) row |= std::uint64_t{ZERO_PLACE} << (CHAR_BIT * packed);
        rows.of[marks] = row;
    }
    return rows;
}

constexpr PackRows PACK = pack_rows();

// Row m lists the places of the group's 8 bytes in order, with FILL_PLACE
// after each place that m marks, then ZERO_PLACE: a byte shuffle by it of the
// group and a fill byte after it puts the fill after each marked byte.
// 256 rows of 16 bytes: 4,096 bytes.
struct SpreadRows {
    alignas(SPREAD) unsigned char of[ROWS][SPREAD];
};

constexpr SpreadRows spread_rows() {
    SpreadRows rows{};
    for (int marks = 0; marks < ROWS; ++marks) {
        int spread = 0;
        for (int place = 0; place < GROUP; ++place) {
            rows.of[marks][spread] = static_cast<unsigned char>(place);
            ++spread;
            if ((marks >> place & 1) == 0) continue;
            rows.of[marks][spread] = FILL_PLACE;
            ++spread;
        }
        for (; spread < SPREAD; ++spread) rows.of[marks][spread] = ZERO_PLACE;
    }
    return rows;
}

constexpr SpreadRows SPREAD_ROWS = spread_rows();

// A byte shuffle of this row by a byte below 128 whose low four bits are i
// gives entry i: the byte itself if it is TAB, LF or CR, and another byte
// otherwise; a byte of 128 or more gives 0. 16 bytes.
struct alignas(LANE) DroppedLookup {
    unsigned char of[LANE];
};

constexpr DroppedLookup dropped_lookup() {
    DroppedLookup lookup{};
    for (int low_bits = 0; low_bits < LANE; ++low_bits) {
        bool dropped = low_bits == TAB || low_bits == LF || low_bits == CR;
        lookup.of[low_bits] = static_cast<unsigned char>(dropped ? low_bits : low_bits == 0);
    }
    return lookup;
}

constexpr DroppedLookup DROPPED = dropped_lookup();

// 32 bytes of 0 and 32 of 0xFF: the 32 bytes from STEP - n on are 0xFF from place n on.
// 64 bytes.
struct FromPlace {
    unsigned char of[2 * STEP];
};

constexpr FromPlace from_place() {
    FromPlace window{};
    for (int place = 0; place < 2 * STEP; ++place) {
        window.of[place] = static_cast<unsigned char>(place < STEP ? 0 : ALL_SET);
    }
    return window;
}

constexpr FromPlace FROM_PLACE = from_place();

AVX2_CODE inline int popcount(std::uint64_t bits) {
    return static_cast<int>(_mm_popcnt_u64(bits));
}

AVX2_CODE inline __m256i load(const unsigned char* from) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}

AVX2_CODE inline void store(unsigned char* to, __m256i bytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), bytes);
}

AVX2_CODE inline void store_lane(unsigned char* to, __m128i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
}

AVX2_CODE inline void store_group(unsigned char* to, __m128i bytes) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(to), bytes);
}

// The high 8 bytes of `bytes`; movhps, which any address suits.
AVX2_CODE inline void store_high_group(unsigned char* to, __m128i bytes) {
    _mm_storeh_pi(reinterpret_cast<__m64*>(to), _mm_castsi128_ps(bytes));
}

AVX2_CODE inline __m256i splat(unsigned char byte) {
    return _mm256_set1_epi8(static_cast<char>(byte));
}

AVX2_CODE inline __m256i equal(__m256i bytes, unsigned char value) {
    return _mm256_cmpeq_epi8(bytes, splat(value));
}

// Bit i is set when byte i of `flags` is.
AVX2_CODE inline std::uint32_t bits(__m256i flags) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(flags));
}

// The marks of group g among a step's 32.
inline std::uint64_t group_marks(std::uint64_t marks, int group) {
    return marks >> (GROUP * group) & GROUP_MARKS;
}

// How many bytes the groups before group g give, where `sizes` has a bit for
// each byte a group gives: group g's among bits 8g to 8g + 7 for its bytes
// and 8g + 32 to 8g + 39 for its fills.
AVX2_CODE inline int before_group(std::uint64_t sizes, int group) {
    std::uint64_t half = (std::uint64_t{1} << (GROUP * group)) - 1;
    return popcount(sizes & (half | half << FILL_BITS));
}

// Where the spread row for the marks of group g starts in SPREAD_ROWS, from
// a step's marks times 16: group g's marks times 16, as many bits as they.
inline std::uint64_t spread_row_at(std::uint64_t scaled_marks, int group) {
    return scaled_marks >> (GROUP * group) & std::uint64_t{GROUP_MARKS} << SPREAD_SCALE;
}

// 0xFF where a byte of `bytes` is TAB, LF or CR.
AVX2_CODE inline __m256i dropped_in(__m256i bytes) {
    __m256i lookup = _mm256_broadcastsi128_si256(_mm_load_si128(
        reinterpret_cast<const __m128i*>(DROPPED.of)));
    return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(lookup, bytes), bytes);
}

// Each group of `bytes` with the bytes that `kept` marks packed to its front and zeroes after.
AVX2_CODE inline __m256i packed(__m256i bytes, std::uint32_t kept) {
    __m128i low = _mm_set_epi64x(static_cast<long long>(PACK.of[group_marks(kept, 1)]),
                                 static_cast<long long>(PACK.of[group_marks(kept, 0)]));
    __m128i high = _mm_set_epi64x(static_cast<long long>(PACK.of[group_marks(kept, 3)]),
                                  static_cast<long long>(PACK.of[group_marks(kept, 2)]));
    // The second group of each lane takes its bytes from the lane's second half.
    __m256i second_half = _mm256_set_epi64x(IN_SECOND_HALF, 0, IN_SECOND_HALF, 0);
    __m256i places = _mm256_or_si256(_mm256_set_m128i(high, low), second_half);
    return _mm256_shuffle_epi8(bytes, places);
}

// Two spread rows, one in each lane, from where they start in SPREAD_ROWS.
AVX2_CODE inline __m256i spread_rows(std::uint64_t low_at, std::uint64_t high_at) {
    const unsigned char* rows = SPREAD_ROWS.of[0];
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(rows + high_at),
                               reinterpret_cast<const __m128i*>(rows + low_at));
}

// Spreads each group of `bytes` with `fill` after each byte that `marks`
// marks, and stores the groups one after the other from `out`, each as many
// bytes as `sizes` gives it (see before_group). Returns the end of the stored
// bytes; each group stores 16 bytes, so up to 16 bytes past that end are written.
AVX2_CODE inline unsigned char* store_spread(unsigned char* out, __m256i bytes,
                                             std::uint32_t marks, unsigned char fill,
                                             std::uint64_t sizes) {
    constexpr int SECOND_GROUPS = 0xCC;  // the dwords of each lane's second group
    constexpr int FIRST_GROUPS = 0x33;
    std::uint64_t scaled_marks = std::uint64_t{marks} << SPREAD_SCALE;
    std::uint64_t row_at[GROUPS];
    for (int group = 0; group < GROUPS; ++group) {
        row_at[group] = spread_row_at(scaled_marks, group);
    }
    __m256i fills = splat(fill);
    __m256i first_groups = _mm256_blend_epi32(bytes, fills, SECOND_GROUPS);
    __m256i second_groups = _mm256_blend_epi32(bytes, fills, FIRST_GROUPS);
    // The rows of the second groups index the lane's halves the other way round.
    __m256i first_rows = spread_rows(row_at[0], row_at[2]);
    __m256i second_rows = _mm256_xor_si256(spread_rows(row_at[1], row_at[3]), splat(GROUP));
    __m256i first = _mm256_shuffle_epi8(first_groups, first_rows);
    __m256i second = _mm256_shuffle_epi8(second_groups, second_rows);
    store_lane(out, _mm256_castsi256_si128(first));
    store_lane(out + before_group(sizes, 1), _mm256_castsi256_si128(second));
    store_lane(out + before_group(sizes, 2), _mm256_extracti128_si256(first, 1));
    store_lane(out + before_group(sizes, 3), _mm256_extracti128_si256(second, 1));
    return out + popcount(sizes);
}

// Filters the 32 `bytes` to `out`, which has room for 64; returns the new `out`.
AVX2_CODE inline unsigned char* filter_step(__m256i bytes, unsigned char* out) {
    std::uint32_t kept = ~bits(dropped_in(bytes));
    // The sizes from the '>'s where they are, known well before those where they are packed.
    std::uint64_t sizes = kept | std::uint64_t{bits(equal(bytes, GREATER_THAN))} << FILL_BITS;
    __m256i kept_bytes = packed(bytes, kept);
    std::uint32_t ends = bits(equal(kept_bytes, GREATER_THAN));
    return store_spread(out, kept_bytes, ends, LF, sizes);
}

// How many of a step's 32 bytes, from the first on, start before `room`
// bytes are staged, when each of them stages one byte and those `lfs` marks two.
AVX2_CODE inline int bytes_starting_within(std::uint32_t lfs, std::ptrdiff_t room) {
    int last = 0;  // the last byte known to start within the room
    for (int half = STEP / 2; half > 0; half /= 2) {
        int probe = last + half;
        std::uint32_t before = (std::uint32_t{1} << probe) - 1;
        bool starts_within = probe + popcount(lfs & before) < room;
        last = starts_within ? probe : last;
    }
    return last + 1;
}

// The sizes (see before_group) of a step's groups staged: each byte, and a CR for each LF.
inline std::uint64_t staged_sizes(std::uint32_t lfs) {
    return ALL_BYTES | std::uint64_t{lfs} << FILL_BITS;
}

// `bytes` with a CR for each LF that `lf_places` marks.
AVX2_CODE inline __m256i crs_for_lfs(__m256i bytes, __m256i lf_places) {
    return _mm256_xor_si256(bytes, _mm256_and_si256(lf_places, splat(LF ^ CR)));
}

// Stages the 32 bytes at `source` at `out`, a CR before each LF, and
// advances `out`; returns the LFs' marks. Stores up to 64 bytes from `out`.
AVX2_CODE inline std::uint32_t stage_step(const unsigned char* source, unsigned char*& out) {
    __m256i bytes = load(source);
    __m256i lf_places = equal(bytes, LF);
    std::uint32_t lfs = bits(lf_places);
    // Each LF becomes a CR, and the fill after it the LF.
    out = store_spread(out, crs_for_lfs(bytes, lf_places), lfs, LF, staged_sizes(lfs));
    return lfs;
}

// As stage_step, where the 32 bytes past the step may be read too. Most
// steps hold two LFs or fewer, and then, whether none, one or two, the
// output is the step's bytes with the LFs made CRs, the 32 bytes from the
// first LF on one place further, and those from the second on two places
// further with a CR before them. Stores up to 66 bytes from `out`.
AVX2_CODE inline void stage_step_ahead(const unsigned char* source, unsigned char*& out) {
    __m256i bytes = load(source);
    __m256i lf_places = equal(bytes, LF);
    std::uint32_t lfs = bits(lf_places);
    __m256i crs = crs_for_lfs(bytes, lf_places);
    std::uint32_t later_lfs = lfs & (lfs - 1);
    if ((later_lfs & (later_lfs - 1)) != 0) {
        out = store_spread(out, crs, lfs, LF, staged_sizes(lfs));
        return;
    }
    int first = static_cast<int>(_tzcnt_u32(lfs));  // 32 where there is none
    int second = static_cast<int>(_tzcnt_u32(later_lfs));  // 32 where there are fewer than 2
    __m256i from_first = load(source + first);
    __m256i from_second = load(source + second);
    store(out, crs);
    store(out + first + 1, from_first);
    store(out + second + 2, from_second);
    out[second + 1] = CR;
    out += STEP + popcount(lfs);
}

// As stage_step, taking only the bytes that start before `limit`; returns how many it took.
AVX2_CODE inline int stage_step_before(const unsigned char* source, unsigned char*& out,
                                       const unsigned char* limit) {
    unsigned char* start = out;
    std::uint32_t lfs = stage_step(source, out);
    int taken = bytes_starting_within(lfs, limit - start);
    std::uint32_t before = taken < STEP ? (std::uint32_t{1} << taken) - 1 : ALL_BYTES;
    out = start + taken + popcount(lfs & before);
    return taken;
}

// The first CR or 0x1A in [from, to), or `to`.
const unsigned char* find_cr_or_ctrl_z(const unsigned char* from, const unsigned char* to) {
    while (from != to && *from != CR && *from != CTRL_Z) ++from;
    return from;
}

// Moves the 32 bytes `bytes`, whose next 32 are `next`, to `out`, but for the
// CRs that `cr_lfs` marks; returns the new `out`. Stores 32 bytes at `out`.
AVX2_CODE inline unsigned char* move_step(unsigned char* out, __m256i bytes, __m256i next,
                                          std::uint32_t cr_lfs) {
    if ((cr_lfs & (cr_lfs - 1)) == 0) {
        // None or one: from the CR on, each place takes the byte after it.
        int cr = static_cast<int>(_tzcnt_u32(cr_lfs));
        __m256i after_cr = load(FROM_PLACE.of + STEP - cr);
        store(out, _mm256_blendv_epi8(bytes, next, after_cr));
        return out + STEP - popcount(cr_lfs);
    }
    std::uint32_t kept = ~cr_lfs;
    __m256i kept_bytes = packed(bytes, kept);
    __m128i low = _mm256_castsi256_si128(kept_bytes);
    __m128i high = _mm256_extracti128_si256(kept_bytes, 1);
    store_group(out, low);
    out += popcount(group_marks(kept, 0));
    store_high_group(out, low);
    out += popcount(group_marks(kept, 1));
    store_group(out, high);
    out += popcount(group_marks(kept, 2));
    store_high_group(out, high);
    return out + popcount(group_marks(kept, 3));
}

}  // namespace

// Whole steps while the input lasts for one and the output has room for twice
// its bytes, then filter_bytes. Where they can, turns take two steps and load
// the next turn's first before they store: a load after the stores waits for
// their places, which the popcounts give late.
AVX2_CODE void filter(const unsigned char*& in_position, const unsigned char* in_end,
                      unsigned char*& out_position, const unsigned char* out_end) {
    // Local copies, which the stores cannot alias.
    const unsigned char* in = in_position;
    unsigned char* out = out_position;
    if (in_end - in >= 3 * STEP && out_end - out >= 4 * STEP) {
        __m256i bytes = load(in);
        do {
            __m256i next = load(in + STEP);
            __m256i after = load(in + 2 * STEP);
            out = filter_step(bytes, out);
            out = filter_step(next, out);
            bytes = after;
            in += 2 * STEP;
        } while (in_end - in >= 3 * STEP && out_end - out >= 4 * STEP);
    }
    while (in_end - in >= STEP && out_end - out >= 2 * STEP) {
        out = filter_step(load(in), out);
        in += STEP;
    }
    filter_bytes(in, in_end, out, out_end);
    in_position = in;
    out_position = out;
}

// A step reads its 32 bytes and the byte after them, so that a CR in its last
// place knows its next byte, and stores 32 bytes behind the bytes it read. A
// step that holds a 0x1A, and the last 32 bytes, go by runs.
AVX2_CODE unsigned char* translate(unsigned char*& in_position, unsigned char* end,
                                   unsigned char* out) {
    unsigned char* in = in_position;
    while (end - in > STEP) {
        __m256i bytes = load(in);
        __m256i next = load(in + 1);
        if (bits(equal(bytes, CTRL_Z)) != 0) break;
        std::uint32_t cr_lfs = bits(_mm256_and_si256(equal(bytes, CR), equal(next, LF)));
        out = move_step(out, bytes, next, cr_lfs);
        in += STEP;
    }
    in_position = in;
    return translate_runs<find_cr_or_ctrl_z>(in_position, end, out);
}

// Steps start before the staging limit and store up to 64 bytes, or 66 where
// they start 64 or more before it, which STAGE_SIZE leaves room for; the last
// bytes of the source, fewer than a step, go one by one.
AVX2_CODE int stage(const unsigned char*& source_position, const unsigned char* end,
                    unsigned char* piece) {
    // A local copy, which the stores cannot alias.
    const unsigned char* source = source_position;
    unsigned char* out = piece;
    const unsigned char* limit = piece + STAGING_LIMIT;
    // Steps that the piece cannot close in, then those it may.
    while (end - source >= 2 * STEP && limit - out >= 2 * STEP) {
        stage_step_ahead(source, out);
        source += STEP;
    }
    while (end - source >= STEP && limit - out >= 2 * STEP) {
        stage_step(source, out);
        source += STEP;
    }
    while (end - source >= STEP && out < limit) {
        source += stage_step_before(source, out, limit);
    }
    stage_bytes(source, end, out, limit);
    source_position = source;
    return static_cast<int>(out - piece);
}

}  // namespace avx2
