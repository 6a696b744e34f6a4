#include "numeric/pyramid.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "numeric/border.h"
#include "numeric/pyramidtaps.h"
#include "platform/parallel.h"

namespace {
// Expansion of b samples to the whole pairs of n outputs: output 2k = 3/4 s[k] + 1/4 s[k-1],
// output 2k+1 = 3/4 s[k] + 1/4 s[k+1], indices reflected about the end samples.
TapTable ExpansionTaps(int b, int n) {
  TapTable table;
  if (b <= 0) return table;
  table.resize(size_t(std::max(0, n / 2) * 2));
  for (int k = 0; 2 * k + 1 < n; ++k) {
    for (int side = 0; side < 2; ++side) {
      Taps& t = table[2 * k + side];
      t.count = 2;
      t.index[0] = ReflectWhole(k, b);
      t.weight[0] = 0.75f;
      t.index[1] = ReflectWhole(side == 0 ? k - 1 : k + 1, b);
      t.weight[1] = 0.25f;
    }
  }
  return table;
}

// body(y0, y1) over rows [0, rows) on the parallel helper, in blocks of rows of `width`
// samples each. Every row of these passes writes only rows of its own, so the bytes do not
// depend on the thread count.
void ForRows(int rows, int width, const BlockBody& body) {
  if (rows <= 0) return;
  ParallelBlocks(rows, BlockFor(std::max(width, 1)), body);
}

void Put(float& target, float value, int mode) {
  if (mode == 1) {
    target += value;
  } else if (mode == -1) {
    target -= value;
  } else {
    target = value;
  }
}

// dst[y][k] (stored, added or subtracted by mode) = the taps of output k over row y of src.
void PassH(const TapTable& table, const matrix& src, matrix& dst, int mode) {
  const int rows = std::min(src.ny, dst.ny);
  const int outs = std::min(int(table.size()), dst.nx);
  if (src.n == 0 || dst.n == 0) return;
  ForRows(rows, outs * 3, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* s = src.z[y];
      float* d = dst.z[y];
      for (int k = 0; k < outs; ++k) {
        const Taps& t = table[size_t(k)];
        float v = 0.0f;
        for (int j = 0; j < t.count; ++j) v += t.weight[j] * s[t.index[j]];
        Put(d[k], v, mode);
      }
    }
  });
}

// The same down the columns, for the first `cols` columns; whole rows at a time.
void PassV(const TapTable& table, const matrix& src, matrix& dst, int mode, int cols) {
  cols = std::min({cols, src.nx, dst.nx});
  const int outs = std::min(int(table.size()), dst.ny);
  if (src.n == 0 || dst.n == 0 || cols <= 0) return;
  ForRows(outs, cols * 3, [&](int64_t k0, int64_t k1) {
    std::vector<float> v(size_t(cols), 0.0f);
    for (int64_t k = k0; k < k1; ++k) {
      const Taps& t = table[size_t(k)];
      std::fill(v.begin(), v.end(), 0.0f);
      for (int j = 0; j < t.count; ++j) {
        const float w = t.weight[j];
        const float* s = src.z[t.index[j]];
        for (int i = 0; i < cols; ++i) v[size_t(i)] += w * s[i];
      }
      float* d = dst.z[k];
      for (int i = 0; i < cols; ++i) Put(d[i], v[size_t(i)], mode);
    }
  });
}

// The transposes: every reduced value spread back onto its taps, added into dst.
void PassHT(const TapTable& table, const matrix& reduced, matrix& dst) {
  const int rows = std::min(reduced.ny, dst.ny);
  const int outs = std::min(int(table.size()), reduced.nx);
  if (reduced.n == 0 || dst.n == 0) return;
  ForRows(rows, outs * 3, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* r = reduced.z[y];
      float* d = dst.z[y];
      for (int k = 0; k < outs; ++k) {
        const Taps& t = table[size_t(k)];
        for (int j = 0; j < t.count; ++j) d[t.index[j]] += t.weight[j] * r[k];
      }
    }
  });
}

void PassVT(const TapTable& table, const matrix& reduced, matrix& dst) {
  const int cols = std::min(reduced.nx, dst.nx);
  const int outs = std::min(int(table.size()), reduced.ny);
  if (reduced.n == 0 || dst.n == 0) return;
  // Gathered per row of dst, the taps in the order a scatter over k would add them: each
  // row is then one block's own, and every sum is formed in the same order.
  std::vector<std::vector<std::pair<int, float>>> into(size_t(dst.ny));
  for (int k = 0; k < outs; ++k) {
    const Taps& t = table[size_t(k)];
    for (int j = 0; j < t.count; ++j) into[size_t(t.index[j])].emplace_back(k, t.weight[j]);
  }
  ForRows(dst.ny, cols * 3, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* d = dst.z[y];
      for (const auto& [k, w] : into[size_t(y)]) {
        const float* r = reduced.z[k];
        for (int i = 0; i < cols; ++i) d[i] += w * r[i];
      }
    }
  });
}

// out = source reduced along its rows (or down its columns) by a tap table of its length.
matrix& ReduceRows(matrix& out, const matrix& source, TapTable (*taps)(int)) {
  if (&source == &out) return ReduceRows(out, matrix(source), taps);
  const TapTable table = taps(source.nx);
  out.dim(int(table.size()), source.ny);
  PassH(table, source, out, 0);
  return out;
}

matrix& ReduceColumns(matrix& out, const matrix& source, TapTable (*taps)(int)) {
  if (&source == &out) return ReduceColumns(out, matrix(source), taps);
  const TapTable table = taps(source.ny);
  out.dim(source.nx, int(table.size()));
  PassV(table, source, out, 0, source.nx);
  return out;
}

// Planar (a x b) or single-row (a*b x 1) shape of a difference plane.
void ShapeDifference(matrix& g, int a, int b, bool planar) {
  a = std::max(a, 0);
  b = std::max(b, 0);
  if (planar) {
    g.dim(a, b);
  } else {
    g.dim(a * b, 1);
  }
}

// The transpose of the Gaussian pyramid's reductions, folded from the coarsest level into
// level 0 in place.
void FoldPyramidT(matrixarray& levels) {
  for (int i = levels.n - 1; i >= 1; --i) levels[i - 1].addreducemirrorT(levels[i]);
}

void AddDifferencesT(matrix& plane, const matrix& a, const matrix& b, bool diagonal) {
  if (diagonal) {
    plane.diagdiffT(a, b);
  } else {
    plane.forwarddiffT(a, b);
  }
}

double SquareSum(const matrix& a, const matrix& b, int k) {
  return double(a.x[k]) * a.x[k] + double(b.x[k]) * b.x[k];
}
}  // namespace

int PyramidDepth(int a, int limit) {
  int depth = 1;
  // A side of 1 no longer shrinks; without the second test a limit below 2 never ended.
  while (a >= limit && a > 1) {
    a = HalfUp(a);
    ++depth;
  }
  return depth;
}

int PyramidLevelSizes(int w, int h, int limit, std::vector<int>& widths,
                      std::vector<int>& heights) {
  widths.assign(1, w);
  heights.assign(1, h);
  while (w > limit && h > limit && std::max(w, h) > 1) {
    w = HalfUp(w);
    h = HalfUp(h);
    widths.push_back(w);
    heights.push_back(h);
  }
  if (widths.size() > 1) {
    for (int& v : widths) v += v % 2;
    for (int& v : heights) v += v % 2;
  }
  return int(widths.size());
}

matrix& matrix::reduceh(const matrix& source) {
  return ReduceRows(*this, source, RenormalisingTaps);
}

matrix& matrix::reducev(const matrix& source) {
  return ReduceColumns(*this, source, RenormalisingTaps);
}

matrix& matrix::reducehT(const matrix& reduced) {
  PassHT(RenormalisingTaps(nx), reduced, *this);
  return *this;
}

matrix& matrix::reducevT(const matrix& reduced) {
  PassVT(RenormalisingTaps(ny), reduced, *this);
  return *this;
}

matrix& matrix::setreducevT(const matrix& reduced) { return zero().reducevT(reduced); }

matrix& matrix::reducemirrorh(const matrix& source) {
  return ReduceRows(*this, source, MirroringTaps);
}

matrix& matrix::reducemirrorv(const matrix& source) {
  return ReduceColumns(*this, source, MirroringTaps);
}

matrix& matrix::reducemirror(const matrix& source) {
  matrix across;
  across.reducemirrorh(source);
  return reducemirrorv(across);
}

matrix& matrix::reducemirrorhT(const matrix& reduced) {
  PassHT(MirroringTaps(nx), reduced, *this);
  return *this;
}

matrix& matrix::reducemirrorvT(const matrix& reduced) {
  PassVT(MirroringTaps(ny), reduced, *this);
  return *this;
}

matrix& matrix::setreducemirrorhT(const matrix& reduced) { return zero().reducemirrorhT(reduced); }

matrix& matrix::addreducemirrorT(const matrix& coarser) {
  matrix across(nx, coarser.ny);
  across.setreducemirrorhT(coarser);
  return reducemirrorvT(across);
}

matrix& matrix::expand(const matrix& coarser, int mode) {
  if (&coarser == this) return expand(matrix(coarser), mode);
  matrix across(nx, coarser.ny);
  PassH(ExpansionTaps(coarser.nx, nx), coarser, across, 0);
  // Only the columns the horizontal pass wrote: an odd last column stays untouched.
  PassV(ExpansionTaps(coarser.ny, ny), across, *this, mode, nx / 2 * 2);
  return *this;
}

const matrix& matrix::forwarddiff(matrix& gx, matrix& gy, bool planar) const {
  const int w = n > 0 ? nx : 0;
  const int h = n > 0 ? ny : 0;
  ShapeDifference(gx, w - 1, h, planar);
  ShapeDifference(gy, w, h - 1, planar);
  ForRows(h, 2 * w, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      if (w > 1) {
        float* g = gx.x + y * (w - 1);
        for (int i = 0; i + 1 < w; ++i) g[i] = z[y][i + 1] - z[y][i];
      }
      if (y + 1 < h) {
        float* g = gy.x + y * w;
        for (int i = 0; i < w; ++i) g[i] = z[y + 1][i] - z[y][i];
      }
    }
  });
  return *this;
}

matrix& matrix::forwarddiffT(const matrix& gx, const matrix& gy) {
  if (n == 0) return *this;
  const int w = nx, h = ny;
  const bool across = gx.n == (w - 1) * h && w > 1;
  const bool down = gy.n == w * (h - 1) && h > 1;
  // Each row gathers what lands on it, its own differences first, then those of the rows
  // above and below, in the order a scatter row by row would add them.
  ForRows(h, 4 * w, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* d = z[y];
      if (across) {
        const float* g = gx.x + y * (w - 1);
        for (int i = 0; i + 1 < w; ++i) {
          d[i + 1] += g[i];
          d[i] -= g[i];
        }
      }
      if (!down) continue;
      if (y > 0) {
        const float* above = gy.x + (y - 1) * w;
        for (int i = 0; i < w; ++i) d[i] += above[i];
      }
      if (y + 1 < h) {
        const float* g = gy.x + y * w;
        for (int i = 0; i < w; ++i) d[i] -= g[i];
      }
    }
  });
  return *this;
}

const matrix& matrix::diagdiff(matrix& d1, matrix& d2, bool planar) const {
  const int w = n > 0 ? nx : 0;
  const int h = n > 0 ? ny : 0;
  ShapeDifference(d1, w - 1, h - 1, planar);
  ShapeDifference(d2, w - 1, h - 1, planar);
  if (w < 2) return *this;
  ForRows(h - 1, 2 * w, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* a = d1.x + y * (w - 1);
      float* b = d2.x + y * (w - 1);
      for (int i = 0; i + 1 < w; ++i) {
        a[i] = z[y + 1][i + 1] - z[y][i];
        b[i] = z[y][i + 1] - z[y + 1][i];
      }
    }
  });
  return *this;
}

matrix& matrix::diagdiffT(const matrix& d1, const matrix& d2) {
  if (n == 0) return *this;
  const int w = nx, h = ny;
  if (w < 2 || h < 2 || d1.n != (w - 1) * (h - 1) || d2.n != d1.n) return *this;
  // Pixel (x, y) gathers +d1 and -d2 of difference row y - 1, then +d2 and -d1 of row y, in
  // the order a scatter over the difference rows would add them.
  ForRows(h, 4 * w, [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      float* d = z[y];
      if (y > 0) {
        const float* a = d1.x + (y - 1) * (w - 1);
        const float* b = d2.x + (y - 1) * (w - 1);
        for (int i = 0; i < w; ++i) {
          if (i > 0) d[i] += a[i - 1];
          if (i + 1 < w) d[i] -= b[i];
        }
      }
      if (y + 1 < h) {
        const float* a = d1.x + y * (w - 1);
        const float* b = d2.x + y * (w - 1);
        for (int i = 0; i < w; ++i) {
          if (i > 0) d[i] += b[i - 1];
          if (i + 1 < w) d[i] -= a[i];
        }
      }
    }
  });
  return *this;
}

const matrix& matrix::gradpyramid(matrixarray& gauss, matrixarray& g1, matrixarray& g2, int limit,
                                  bool diagonal) const {
  gauss.pyramid(*this, limit, false).gradients(g1, g2, diagonal);
  return *this;
}

matrix& matrix::pyramidT(const matrixarray& levels) {
  if (levels.n == 0) return *this;
  matrixarray folded(levels);
  FoldPyramidT(folded);
  return assign(folded[0]);
}

matrix& matrix::magnitude(const matrix& a, const matrix& b) {
  dim(a.nx, a.ny);
  ParallelBlocks(n, BlockFor(4), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) x[k] = float(std::sqrt(SquareSum(a, b, int(k))));
  });
  return *this;
}

float matrix::maxabs() const {
  float m = 0.0f;
  for (int k = 0; k < n; ++k) m = std::max(m, std::fabs(x[k]));
  return m;
}

matrixarray& matrixarray::pyramid(const matrix& plane, int limit, bool laplacian) {
  std::vector<int> widths, heights;
  resize(PyramidLevelSizes(plane.nx, plane.ny, limit, widths, heights));
  m[0].dim(widths[0], heights[0]);
  m[0].extend(plane);
  for (int i = 1; i < n; ++i) m[i].reducemirror(m[i - 1]);
  if (laplacian) {
    for (int i = 1; i < n; ++i) m[i - 1].expand(m[i], -1);
  }
  return *this;
}

matrixarray& matrixarray::collapse() {
  for (int i = n - 1; i >= 1; --i) m[i - 1].expand(m[i], 1);
  return *this;
}

matrixarray& matrixarray::dimlike(const matrixarray& other) {
  resize(other.n);
  for (int i = 0; i < n; ++i) m[i].dim(other.m[i].nx, other.m[i].ny);
  return *this;
}

matrixarray& matrixarray::mul(const matrixarray& other) {
  for (int i = 0; i < std::min(n, other.n); ++i) m[i].mul(other.m[i]);
  return *this;
}

matrixarray& matrixarray::add(const matrixarray& other) {
  for (int i = 0; i < std::min(n, other.n); ++i) m[i].add(other.m[i]);
  return *this;
}

matrixarray& matrixarray::axpy(float a, const matrixarray& other) {
  for (int i = 0; i < std::min(n, other.n); ++i) m[i].axpy(a, other.m[i]);
  return *this;
}

const matrixarray& matrixarray::gradients(matrixarray& g1, matrixarray& g2, bool diagonal) const {
  g1.resize(n);
  g2.resize(n);
  for (int i = 0; i < n; ++i) {
    if (diagonal) {
      m[i].diagdiff(g1[i], g2[i], true);
    } else {
      m[i].forwarddiff(g1[i], g2[i], true);
    }
  }
  return *this;
}

matrixarray& matrixarray::gradientsT(const matrixarray& g1, const matrixarray& g2, bool diagonal) {
  resize(std::min(g1.n, g2.n));
  for (int i = 0; i < n; ++i) {
    // g1 is one column narrower and g2 one row shorter than the level, for both kinds.
    AddDifferencesT(m[i].dim(g1[i].nx + 1, g2[i].ny + 1).zero(), g1[i], g2[i], diagonal);
  }
  return *this;
}

matrixarray& matrixarray::keeplargergradients(matrixarray& a2, const matrixarray& b1,
                                              const matrixarray& b2) {
  for (int i = 0; i < std::min({n, a2.n, b1.n, b2.n}); ++i) {
    KeepLargerGradients(m[i], a2[i], b1[i], b2[i]);
  }
  return *this;
}

matrixarray& matrixarray::keepsmallergradients(matrixarray& a2, const matrixarray& b1,
                                               const matrixarray& b2) {
  for (int i = 0; i < std::min({n, a2.n, b1.n, b2.n}); ++i) {
    KeepSmallerGradients(m[i], a2[i], b1[i], b2[i]);
  }
  return *this;
}

void PyramidGradientsT(matrix& plane, matrixarray& scratch, const matrixarray& g1,
                       const matrixarray& g2, bool diagonal) {
  scratch.gradientsT(g1, g2, diagonal);
  if (scratch.n == 0) return;
  FoldPyramidT(scratch);
  plane.assign(scratch[0]);
}

namespace {
// Where keep(a, b) holds for the squared magnitudes, a1, a2 become b1, b2.
template <class Keep>
void ReplaceGradients(matrix& a1, matrix& a2, const matrix& b1, const matrix& b2, Keep keep) {
  const int count = std::min({a1.n, a2.n, b1.n, b2.n});
  for (int k = 0; k < count; ++k) {
    if (keep(SquareSum(a1, a2, k), SquareSum(b1, b2, k))) {
      a1.x[k] = b1.x[k];
      a2.x[k] = b2.x[k];
    }
  }
}
}  // namespace

void KeepLargerGradients(matrix& a1, matrix& a2, const matrix& b1, const matrix& b2) {
  ReplaceGradients(a1, a2, b1, b2, [](double a, double b) { return b > a; });
}

void KeepSmallerGradients(matrix& a1, matrix& a2, const matrix& b1, const matrix& b2) {
  ReplaceGradients(a1, a2, b1, b2, [](double a, double b) { return a > b; });
}

void RescaleGradients(const matrix& oldMagnitude, const matrix& newMagnitude, matrix& g1,
                      matrix& g2) {
  const int count = std::min({oldMagnitude.n, newMagnitude.n, g1.n, g2.n});
  ParallelBlocks(count, BlockFor(4), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const double before = oldMagnitude.x[k];
      if (!(before > 0.0)) continue;
      const double factor = newMagnitude.x[k] / before;
      g1.x[k] = float(g1.x[k] * factor);
      g2.x[k] = float(g2.x[k] * factor);
    }
  });
}

void MultiresolutionGradients(const matrix& plane, int count, matrixarray& levels, matrixarray& g1,
                              matrixarray& g2, bool diagonal) {
  levels.resize(std::max(count, 0));
  if (levels.n > 0) levels[0].assign(plane);
  matrix across;
  for (int k = 1; k < levels.n; ++k) levels[k].reducev(across.reduceh(levels[k - 1]));
  levels.gradients(g1, g2, diagonal);
}

void MultiresolutionGradientsT(matrix& plane, matrixarray& scratch, const matrixarray& g1,
                               const matrixarray& g2, bool diagonal) {
  const int count = std::min(g1.n, g2.n);
  if (count == 0) return;
  std::vector<int> widths(size_t(count), plane.nx), heights(size_t(count), plane.ny);
  for (int k = 1; k < count; ++k) {
    widths[k] = HalfUp(widths[k - 1]);
    heights[k] = HalfUp(heights[k - 1]);
  }
  // From the coarsest level: its transposed differences, pushed one level finer through
  // the transposed reductions, plus that level's own, down to level 0.
  scratch.resize(count);
  scratch[count - 1].dim(widths[count - 1], heights[count - 1]).zero();
  AddDifferencesT(scratch[count - 1], g1[count - 1], g2[count - 1], diagonal);
  matrix down;
  for (int k = count - 1; k >= 1; --k) {
    down.dim(widths[k], heights[k - 1]).setreducevT(scratch[k]);
    scratch[k - 1].dim(widths[k - 1], heights[k - 1]).zero().reducehT(down);
    AddDifferencesT(scratch[k - 1], g1[k - 1], g2[k - 1], diagonal);
  }
  plane.assign(scratch[0]);
}
