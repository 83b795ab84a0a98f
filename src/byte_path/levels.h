// The levels of the byte path: the kernels that filter, translate reads and stage writes. A build
// for x86_64 holds all four and the processor decides which one runs; other builds hold the
// scalar level alone.
#pragma once

enum class BytePath : unsigned char { scalar, sse2, avx2, avx512 };

inline constexpr const char* BYTE_PATH_NAMES[] = {"scalar", "sse2", "avx2", "avx512"};

// What this build or processor lacks to run `level`, as names each after a
// space; empty when it lacks nothing.
const char* byte_path_lacks(BytePath level);

// Points the kernels at the best level up to `most` that the build holds and
// the processor runs, and returns that level.
BytePath choose_byte_path(BytePath most);
