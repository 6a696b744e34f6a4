#pragma once
// Row loops that the window filters spend their time in are compiled twice, for AVX2 and
// for the baseline instruction set, and the loader picks the one the processor runs. The
// AVX2 form has wider registers but no fused multiply-add, so both give the same bits.
//
// Not under ThreadSanitizer: the loader runs the choosing function before the sanitizer's
// run time is up, and the instrumented function crashes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZEP_VECTOR_CLONES
#endif

// The same with a third form for AVX-512. That instruction set has fused multiply-add, so
// contraction is turned off in these functions: the three forms still give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_WIDE_VECTOR_CLONES \
  __attribute__((target_clones("avx512f", "avx2", "default"), optimize("fp-contract=off")))
#else
#define ZEP_WIDE_VECTOR_CLONES
#endif
