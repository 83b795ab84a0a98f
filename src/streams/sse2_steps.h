// What the 16-byte SSE2 steps of the byte path share: unaligned loads and
// stores, a bit for each byte that matches, and how many steps fit.
#pragma once

#include <emmintrin.h>

#include <cstddef>

namespace sse2 {

inline constexpr int STEP = 16;

inline __m128i load(const unsigned char* from) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
}

inline void store(unsigned char* to, __m128i bytes) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
}

inline __m128i equal(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

// Bit i is set when byte i of `flags` is.
inline unsigned bits(__m128i flags) { return static_cast<unsigned>(_mm_movemask_epi8(flags)); }

// How many steps can start one after the other from here, when each needs
// `reads` bytes to read and `writes` bytes of room from where it starts, and
// moves one step on in the input and at most `grows` bytes on in the output.
inline std::ptrdiff_t steps_that_fit(std::ptrdiff_t to_read, std::ptrdiff_t room, int reads,
                                     int writes, int grows) {
    if (to_read < reads || room < writes) return 0;
    std::ptrdiff_t by_input = (to_read - reads) / STEP;
    std::ptrdiff_t by_room = (room - writes) / grows;
    return 1 + (by_input < by_room ? by_input : by_room);
}

}  // namespace sse2
