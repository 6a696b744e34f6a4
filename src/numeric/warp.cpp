#include "numeric/warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/kernels.h"
#include "platform/errors.h"
#include "platform/parallel.h"

// --- Records ---

namespace {
SimilarityParams Record4(float c, float s, float tx, float ty) {
  SimilarityParams p(4, 1);
  p.x[0] = c;
  p.x[1] = s;
  p.x[2] = tx;
  p.x[3] = ty;
  return p;
}
}  // namespace

SimilarityParams RotateShiftTransform(float cx, float cy, float t, float dx, float dy) {
  const float c = std::cos(t), s = std::sin(t);
  const float X = cx + dx, Y = cy + dy;
  return Record4(c, s, cx - X * c - s * Y, cy + X * s - c * Y);
}

SimilarityParams ShiftRotateTransform(float cx, float cy, float t, float dx, float dy) {
  const float c = std::cos(t), s = std::sin(t);
  return Record4(c, s, cx - dx - cx * c - s * cy, cy - dy + cx * s - c * cy);
}

SimilarityParams SimilarityFromTwoPoints(float x1, float y1, float x2, float y2, float sx1,
                                         float sy1, float sx2, float sy2) {
  const float dx = x2 - x1, dy = y2 - y1, du = sx2 - sx1, dv = sy2 - sy1;
  const float q = 1.0f / (dx * dx + dy * dy);
  const float c = q * (dx * du + dy * dv), s = q * (dy * du - dx * dv);
  return Record4(c, s, sx1 - c * x1 - s * y1, sy1 + s * x1 - c * y1);
}

HomographyParams HomographyFromFourPoints(const std::array<float, 8>& source,
                                          const std::array<float, 8>& output) {
  // Equation e (the four sx-rows, then the four sy-rows) is column e of a, since SolveLinear
  // solves X a = b for the row X.
  matrix a(8, 8), b(8, 1);
  a.zero();
  for (int k = 0; k < 4; ++k) {
    const float x = output[size_t(2 * k)], y = output[size_t(2 * k + 1)];
    const float sx = source[size_t(2 * k)], sy = source[size_t(2 * k + 1)];
    const float rowX[8] = {x, y, 1, 0, 0, 0, -sx * x, -sx * y};
    const float rowY[8] = {0, 0, 0, x, y, 1, -sy * x, -sy * y};
    for (int j = 0; j < 8; ++j) {
      a.z[j][k] = rowX[j];
      a.z[j][k + 4] = rowY[j];
    }
    b.x[k] = sx;
    b.x[k + 4] = sy;
  }
  HomographyParams p;
  SolveLinear(p, b, a);
  return p;
}

// --- Weight table ---

weighttable6& weighttable6::dim(int n) {
  n = std::max(n, 0);
  if (n == count && (taps || n == 0)) return *this;
  taps.reset(n > 0 ? new Taps6[size_t(n)] : nullptr);
  count = n;
  return *this;
}

weighttable6& weighttable6::lanczos3(int n) {
  dim(n);
  // The fraction of entry k is formed in floats (1 / (count - 1) as an integer would be 0).
  const float step = count > 1 ? 1.0f / float(count - 1) : 0.0f;
  for (int k = 0; k < count; ++k) {
    const float f = step * float(k);
    Taps6& t = taps[size_t(k)];
    float sum = 0.0f;
    for (int j = 0; j < 6; ++j) {
      t.w[j] = float(KernelLanczos(double(j - 2) - double(f), 3.0));
      sum += t.w[j];
    }
    for (float& w : t.w) w /= sum;
  }
  return *this;
}

const Taps6& weighttable6::at(float f) const {
  const float k = float(count - 1) * f + 0.5f;
  const int i = k >= 0.0f ? int(std::min(k, float(count - 1))) : 0;
  return taps[size_t(i)];
}

// --- Warps ---

namespace {
constexpr double kFar = 16777216.0;  // 2^24

// The Catmull-Rom weights of a fraction, for the offsets -1 .. 2.
void CatmullRom(float f, float* w) {
  const float f2 = f * f, f3 = f2 * f;
  w[0] = -0.5f * f3 + f2 - 0.5f * f;
  w[1] = 1.5f * f3 - 2.5f * f2 + 1.0f;
  w[2] = -1.5f * f3 + 2.0f * f2 + 0.5f * f;
  w[3] = 0.5f * f3 - 0.5f * f2;
}

// out = in sampled through map with N x N weights from weights(f, buffer); the stencil's
// first offset is -(N/2 - 1). flags, when given, receives 1 for every pixel whose stencil
// left the input or whose position is not a number.
template <int N, class Map, class Weights>
void WarpPlane(matrix& out, const matrix& in, const Map& map, const Weights& weights,
               uint8_t* flags, bool ticks) {
  constexpr int kFirst = -(N / 2 - 1);
  const int w = in.nx, h = in.ny, ow = out.nx;
  const BlockBody body = [&](int64_t y0, int64_t y1) {
    float bx[N], by[N];
    int cols[N], rows[N];
    for (int64_t y = y0; y < y1; ++y) {
      float* o = out.z[y];
      uint8_t* fl = flags ? flags + y * ow : nullptr;
      for (int x = 0; x < ow; ++x) {
        double u, v;
        map(x, int(y), u, v);
        if (std::isnan(u) || std::isnan(v)) {
          o[x] = 0.0f;
          if (fl) fl[x] = 1;
          continue;
        }
        u = std::clamp(u, -kFar, kFar);
        v = std::clamp(v, -kFar, kFar);
        const double lu = std::floor(u), lv = std::floor(v);
        const float* wx = weights(float(u - lu), bx);
        const float* wy = weights(float(v - lv), by);
        const int c0 = int(lu) + kFirst, r0 = int(lv) + kFirst;
        float sum = 0.0f;
        if (c0 >= 0 && c0 + N <= w && r0 >= 0 && r0 + N <= h) {
          for (int m = 0; m < N; ++m) {
            const float* row = in.z[r0 + m] + c0;
            float s = 0.0f;
            for (int k = 0; k < N; ++k) s += wx[k] * row[k];
            sum += wy[m] * s;
          }
        } else {
          for (int k = 0; k < N; ++k) {
            cols[k] = ReflectOnce(int64_t(c0) + k, w);
            rows[k] = ReflectOnce(int64_t(r0) + k, h);
          }
          for (int m = 0; m < N; ++m) {
            const float* row = in.z[rows[m]];
            float s = 0.0f;
            for (int k = 0; k < N; ++k) s += wx[k] * row[cols[k]];
            sum += wy[m] * s;
          }
          if (fl) fl[x] = 1;
        }
        o[x] = sum;
      }
    }
  };
  const int64_t block = BlockFor(int64_t(ow) * N * N);
  if (ticks) {
    if (ParallelBlocksTicking(out.ny, block, body)) throw Cancelled{};
  } else {
    ParallelBlocks(out.ny, block, body);
  }
}

// Runs the warp with the marks collected per pixel and put into the mask afterwards (the
// words of a mask are shared by neighbouring rows, so the blocks cannot set bits).
template <int N, class Map, class Weights>
void WarpWithMarks(matrix& out, const matrix& source, const Map& map, const Weights& weights,
                   bitmask* marks, bool clearMarks, bool ticks) {
  if (out.n == 0) return;
  // A source that is this plane is read from a copy.
  matrix copy;
  const matrix& in = &source == &out ? (copy = source) : source;
  if (in.n == 0) return;
  std::vector<uint8_t> flags;
  if (marks) flags.assign(size_t(out.n), 0);
  WarpPlane<N>(out, in, map, weights, marks ? flags.data() : nullptr, ticks);
  if (!marks) return;
  if (clearMarks || !marks->present() || marks->width != out.nx || marks->height != out.ny) {
    marks->dim(out.nx, out.ny);
    std::memset(marks->bits, 0, sizeof(uint32_t) * size_t(marks->words));
  }
  for (int k = 0; k < out.n; ++k) {
    if (flags[size_t(k)]) marks->setbit(k, true);
  }
}

struct SimilarityMap {
  double c, s, tx, ty;
  explicit SimilarityMap(const matrix& p) : c(p.x[0]), s(p.x[1]), tx(p.x[2]), ty(p.x[3]) {}
  void operator()(int x, int y, double& u, double& v) const {
    u = c * x + s * y + tx;
    v = -s * x + c * y + ty;
  }
};

struct PerspectiveMap {
  double a, b, c, d, e, f, g, h;
  explicit PerspectiveMap(const matrix& p)
      : a(p.x[0]), b(p.x[1]), c(p.x[2]), d(p.x[3]), e(p.x[4]), f(p.x[5]), g(p.x[6]), h(p.x[7]) {}
  void operator()(int x, int y, double& u, double& v) const {
    const double den = g * x + h * y + 1.0;
    u = (a * x + b * y + c) / den;
    v = (d * x + e * y + f) / den;
  }
};

struct TableWeights {
  const weighttable6& table;
  const float* operator()(float f, float*) const { return table.at(f).w; }
};

struct BicubicWeights {
  const float* operator()(float f, float* w) const {
    CatmullRom(f, w);
    return w;
  }
};
}  // namespace

matrix& matrix::WarpSimilarity6Tap(const matrix& source, const matrix& record,
                                   const weighttable6& table, bitmask* marks, bool ticks) {
  if (record.n < 4 || table.count == 0) return *this;
  const SimilarityMap map(record);
  if (&source == this) {
    WarpWithMarks<6>(*this, source, map, TableWeights{table}, marks, true, ticks);
    return *this;
  }
  dim(source.nx, source.ny);
  WarpWithMarks<6>(*this, source, map, TableWeights{table}, marks, true, ticks);
  return *this;
}

matrix& matrix::WarpPerspective6Tap(const matrix& source, const matrix& record,
                                    const weighttable6& table, bitmask* marks, bool ticks) {
  if (record.n != 8 || table.count == 0) return *this;
  WarpWithMarks<6>(*this, source, PerspectiveMap(record), TableWeights{table}, marks, false, ticks);
  return *this;
}

matrix& matrix::WarpSimilarityBicubic(const matrix& source, const matrix& record, bitmask* marks) {
  if (record.n < 4) return *this;
  if (&source != this) dim(source.nx, source.ny);
  WarpWithMarks<4>(*this, source, SimilarityMap(record), BicubicWeights{}, marks, true, false);
  return *this;
}
