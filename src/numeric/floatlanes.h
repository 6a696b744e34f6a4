#pragma once
// Lanes of floats and doubles for the solvers' row loops (GCC vector extensions): unaligned
// loads and stores, and sums of squares formed in double.
#include <cstring>

using Float4 = float __attribute__((vector_size(16)));
using Float8 = float __attribute__((vector_size(32)));
using Double4 = double __attribute__((vector_size(32)));
// The helpers pass vectors by value; they are internal and always inlined, so the calling
// convention of such values never matters.
#pragma GCC diagnostic ignored "-Wpsabi"

[[gnu::always_inline]] inline Float8 Load8(const float* p) {
  Float8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
[[gnu::always_inline]] inline void Store8(float* p, Float8 v) { std::memcpy(p, &v, sizeof v); }

// Adds the squares of v in double to two lanes of four.
[[gnu::always_inline]] inline void AddSquares(Float8 v, Double4& s0, Double4& s1) {
  const Double4 lo = __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3), Double4);
  const Double4 hi = __builtin_convertvector(__builtin_shufflevector(v, v, 4, 5, 6, 7), Double4);
  s0 += lo * lo;
  s1 += hi * hi;
}
[[gnu::always_inline]] inline double Total(Double4 s0, Double4 s1) {
  return ((s0[0] + s0[1]) + (s0[2] + s0[3])) + ((s1[0] + s1[1]) + (s1[2] + s1[3]));
}
