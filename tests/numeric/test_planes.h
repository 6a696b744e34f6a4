#pragma once
// Small planes for the numeric tests.
#include <cstdint>
#include <vector>

#include "numeric/matrix.h"

// Deterministic values in [-1, 1), made without touching the program's generator.
inline matrix Noise(int w, int h, uint32_t seed) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = float(seed >> 8) / float(1 << 23) - 1.0f;
  }
  return m;
}

inline std::vector<float> Values(const matrix& m) { return std::vector<float>(m.x, m.x + m.n); }
