#pragma once
// The one place where an image value becomes an integer: NaN gives 0, values outside
// [lo, hi] give the nearer end, and the rest are truncated. Callers add 0.5 first where
// they round.
#include <cstdint>

inline int64_t ClampToInteger(double v, int64_t lo, int64_t hi) {
  if (!(v >= static_cast<double>(lo))) return (v != v) ? 0 : lo;  // NaN: 0
  if (v >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(v);
}
