#pragma once
// The block geometry the fractal codec shares between its plane operations and its
// decoder loops, so that both read exactly the same samples and round the same way.
#include <cstdint>

// The eight block isometries: output (x, y) of a W x H source block reads source
// (sx, sy). Codes 3 and 5 turn the block (output H x W) and undo each other; the others
// are their own inverses. False for a code outside 0-7.
inline bool IsometrySource(int code, int x, int y, int W, int H, int& sx, int& sy) {
  switch (code) {
    case 0: sx = x, sy = y; return true;                  // identity
    case 1: sx = W - 1 - x, sy = y; return true;          // left-right flip
    case 2: sx = x, sy = H - 1 - y; return true;          // up-down flip
    case 3: sx = y, sy = H - 1 - x; return true;          // quarter turn
    case 4: sx = W - 1 - x, sy = H - 1 - y; return true;  // half turn
    case 5: sx = W - 1 - y, sy = x; return true;          // three-quarter turn
    case 6: sx = W - 1 - y, sy = H - 1 - x; return true;  // anti-transpose
    case 7: sx = y, sy = x; return true;                  // transpose
    default: return false;
  }
}

// The stored code whose isometry undoes code j.
inline int InverseIsometry(int j) { return j == 3 ? 5 : j == 5 ? 3 : j; }

// The mean of the q x q cell (q 3, else 2) whose first sample is column x of row y; the
// sum is taken in double in row order and multiplied by 1/4 or 1/9.
inline float CellMean(const float* const* z, int x, int y, int q) {
  if (q == 3) {
    double s = 0;
    for (int j = 0; j < 3; ++j) s += double(z[y + j][x]) + double(z[y + j][x + 1]) + double(z[y + j][x + 2]);
    return float(s * (1.0 / 9.0));
  }
  return float((double(z[y][x]) + double(z[y][x + 1]) + double(z[y + 1][x]) + double(z[y + 1][x + 1])) *
               0.25);
}

// out[i] = CellMean(z, x + i, y, q) for i in [0, n): the same sums, a row of cells at a
// time in vector registers.
void CellMeanRow(const float* const* z, int x, int y, int q, int n, float* out);

// The largest |difference| of two horizontal, vertical or diagonal neighbours in the w x h
// block whose first sample is column x0 of row y0; 0 for a single sample.
inline float MaxNeighbourDiff(const float* const* z, int x0, int y0, int w, int h) {
  float m = 0;
  auto see = [&m](float a, float b) {
    const float d = a > b ? a - b : b - a;
    if (d > m) m = d;
  };
  for (int j = y0; j < y0 + h; ++j) {
    for (int i = x0; i < x0 + w; ++i) {
      if (i + 1 < x0 + w) see(z[j][i], z[j][i + 1]);
      if (j + 1 < y0 + h) {
        see(z[j][i], z[j + 1][i]);
        if (i + 1 < x0 + w) see(z[j][i], z[j + 1][i + 1]);
        if (i > x0) see(z[j][i], z[j + 1][i - 1]);
      }
    }
  }
  return m;
}
