// The processor features each x86_64 level's kernels are built for. One list serves both the
// target attribute that lets the compiler use them and the check that the processor has them, so
// a feature the kernels may use is never left out of the check.
#pragma once

#define AVX2_FEATURES "avx2,bmi,popcnt"
#define AVX512_FEATURES "avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi2,popcnt"

// Only functions that carry these attributes are built for the level's features, so no shared
// code runs their instructions unless choose_byte_path found the processor has them.
#define AVX2_CODE __attribute__((target(AVX2_FEATURES)))
#define AVX512_CODE __attribute__((target(AVX512_FEATURES)))
