// The meters' inner loops work on vectors wider than the baseline's registers. Built twice with
// this attribute, once for AVX2 and once for the baseline, such a loop takes one register per
// vector on machines that have AVX2; the loader picks the copy when the program starts. clang 14
// and other targets build the baseline copy only.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSIL_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TESSIL_WIDE_CLONES
#endif
