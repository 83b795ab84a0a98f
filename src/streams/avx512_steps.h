// What the AVX-512 steps of the byte path share. A doubling step takes up to
// 32 bytes and puts each of them in both places of a pair in one 64-byte
// register; compares there find the places that reach the output, a fill byte
// (an LF after the byte, or a CR before it) takes one place of every pair, and
// one compress into the register and one store write the step's output.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

// The processor features the AVX-512 kernels use. Only functions that carry
// this attribute are built for them, so no shared code runs their instructions
// unless choose_byte_path found the processor has them.
#define AVX512_CODE \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt")))

namespace avx512 {

inline constexpr int LANES = 64;        // bytes in a register
inline constexpr int STEP = LANES / 2;  // input bytes a doubling step takes
inline constexpr std::uint64_t ALL = ~std::uint64_t{0};
inline constexpr std::uint64_t EVEN = ALL / 3;  // the first place of each pair
inline constexpr std::uint64_t ODD = EVEN << 1;

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

inline constexpr Doubling DOUBLING = doubling();

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

}  // namespace avx512
