#pragma once
// Row loops that the window filters spend their time in are compiled twice, for AVX2 and
// for the baseline instruction set, and the loader picks the one the processor runs. The
// AVX2 form has wider registers but no fused multiply-add, so both give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ZEP_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEP_VECTOR_CLONES
#endif
