// The Jensen edge model: moment kernels, the line offset, the blend across the line, the
// robust side value and the edge candidates.
#include "numeric/jensenedge.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/orderstats.h"
#include "numeric/sort.h"

float MeanDistanceFromCentre(int n) {
  if (n < 2) return 0.0f;
  const double c = (n - 1) / 2.0;
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) sum += std::hypot(i - c, j - c);
  }
  const double cells = double(n) * n - (n % 2 ? 1 : 0);
  return float(sum / cells);
}

float EdgeLineOffset(float rho, float theta, float m1, float m2, float m3, float m4) {
  return rho * (std::cos(2 * theta) * m3 + std::sin(2 * theta) * m4) /
         (std::cos(theta) * m1 + std::sin(theta) * m2);
}

void BlendJensenEdge(float* cell0, float* cell1, float* cell2, float x, float y, float r, float s,
                     float c, const float plus[3], const float minus[3], float k, float weight) {
  float* const cells[3] = {cell0, cell1, cell2};
  const float f = y * s + x * c + r;
  float wPlus, wMinus;
  if (k != 0) {
    const float near = float(weight / (1.0 + std::exp(-double(k) * std::fabs(f))));
    const float far = weight - near;
    wPlus = f >= 0 ? far : near;
    wMinus = f >= 0 ? near : far;
  } else if (f == 0) {
    wPlus = wMinus = weight / 2;
  } else {
    wPlus = f > 0 ? 0.0f : weight;
    wMinus = f > 0 ? weight : 0.0f;
  }
  for (int i = 0; i < 3; ++i) *cells[i] += wPlus * plus[i] + wMinus * minus[i];
}

void EdgeMoments(const float* window, int n, const matrix kernels[4], float moments[4]) {
  const int cells = n * n;
  double mean = 0;
  for (int v = 0; v < cells; ++v) mean += window[v];
  mean /= cells;
  for (int q = 0; q < 4; ++q) {
    const float* k = kernels[q].x;
    double sum = 0;
    for (int v = 0; v < cells; ++v) sum += (window[v] - mean) * k[v];
    moments[q] = float(sum);
  }
}

matrix& matrix::momentkernel(int size, int type) {
  dim(size, size);
  const float c = float(size - 1) / 2;
  constexpr double kRootPi = 1.7724539;
  double sumsq = 0.0;
  for (int row = 0; row < size; ++row) {
    for (int col = 0; col < size; ++col) {
      const float dy = c - float(row), dx = c - float(col);
      // cos t, sin t, cos 2t and sin 2t from the offsets themselves, so that mirrored cells
      // hold exactly opposite (or equal) values.
      const double dd = double(dx) * dx + double(dy) * dy, dist = std::sqrt(dd);
      double v;
      if (dd == 0) {
        v = 0.0;
      } else if (type >= 1 && type <= 4) {
        const double f = type == 1   ? dx / dist
                         : type == 2 ? dy / dist
                         : type == 3 ? (double(dx) * dx - double(dy) * dy) / dd
                                     : 2.0 * dx * dy / dd;
        v = f / kRootPi;
      } else {
        v = 1.0 / std::sqrt(2 * 3.14159265358979323846);
      }
      z[row][col] = float(v);
      sumsq += double(z[row][col]) * z[row][col];
    }
  }
  if (sumsq > 0) mulscalar(float(1.0 / sumsq));
  return *this;
}

float matrix::shortesthalf(int count) {
  if (count > n) count = n;
  if (count <= 0) return 0.0f;
  SortFloats(x, count);
  return ShortestHalfSorted(x, count);
}

bitmask& bitmask::edgedetect(const matrix& plane, float threshold, bool restrict) {
  const bool restricted = restrict && covers(plane.nx, plane.ny);
  if (restricted && threshold <= 0) return *this;
  bitmask kept;
  if (restricted) kept = *this;
  dim(plane.nx, plane.ny);
  if (words) std::memset(bits, 0, sizeof(uint32_t) * size_t(words));
  const double bound = 16.0 * double(threshold) * threshold;
  for (int y = 1; y + 1 < plane.ny; ++y) {
    const float* below = plane.z[y - 1];
    const float* here = plane.z[y];
    const float* above = plane.z[y + 1];
    for (int x = 1; x + 1 < plane.nx; ++x) {
      if (restricted && !kept.get(x, y)) continue;
      const double right = double(below[x + 1]) + here[x + 1] + above[x + 1];
      const double left = double(below[x - 1]) + here[x - 1] + above[x - 1];
      const double top = double(above[x - 1]) + above[x] + above[x + 1];
      const double bottom = double(below[x - 1]) + below[x] + below[x + 1];
      const double sum = right + left + here[x] + above[x] + below[x];
      const double gx = right - left, gy = bottom - top;
      if (gx * gx + gy * gy >= bound * sum * sum) set(x, y, true);
    }
  }
  return *this;
}

struct EdgeWindowFit::Work {
  const matrix& dominant;
  const matrix* colours[3];
  int n;
  float accept;
  bool robust, rejectEmpty;
  float rho, centre;
  matrix kernels[4];
  std::vector<float> window;
  std::vector<uint8_t> sides;
  matrix lists[2];
};

EdgeWindowFit::EdgeWindowFit(const matrix& dominant, const matrix* const colours[3], int n,
                             float accept, bool robust, bool rejectEmptySide)
    : work_(new Work{dominant, {colours[0], colours[1], colours[2]}, n, accept, robust,
                     rejectEmptySide, MeanDistanceFromCentre(n), float(n - 1) / 2, {}, {}, {}, {}}) {
  for (int q = 0; q < 4; ++q) work_->kernels[q].momentkernel(n, q + 1);
  const size_t cells = size_t(n) * n;
  work_->window.resize(cells);
  work_->sides.resize(cells);
  if (robust) {
    for (auto& list : work_->lists) list = matrix(n * n, 1);
  }
}

EdgeWindowFit::~EdgeWindowFit() { delete work_; }

bool EdgeWindowFit::Fit(int top, int left, EdgeModel& m) {
  Work& w = *work_;
  const int n = w.n, cells = n * n;
  for (int rr = 0; rr < n; ++rr) {
    const float* row = w.dominant.z[top + rr] + left;
    std::copy(row, row + n, w.window.data() + size_t(rr) * n);
  }
  float moments[4];
  EdgeMoments(w.window.data(), n, w.kernels, moments);
  const float m1 = moments[0], m2 = moments[1];
  if (m1 == 0 && m2 == 0) return false;
  const float theta = std::atan2(m2, m1);
  m.r = EdgeLineOffset(w.rho, theta, m1, m2, moments[2], moments[3]);
  m.s = std::sin(theta);
  m.c = std::cos(theta);

  double total = 0, sum[2] = {0, 0};
  int count[2] = {0, 0};
  for (int rr = 0; rr < n; ++rr) {
    for (int cc = 0; cc < n; ++cc) {
      const int v = rr * n + cc;
      const int side =
          SideOfLine(float(cc) - w.centre, float(rr) - w.centre, m.r, m.s, m.c) > 0 ? 1 : 0;
      w.sides[v] = uint8_t(side);
      total += w.window[v];
      sum[side] += w.window[v];
      ++count[side];
    }
  }
  // A side without cells has no robust value, and its mean of 0 would paint black.
  if ((w.robust || w.rejectEmpty) && (count[0] == 0 || count[1] == 0)) return false;
  const double mean = total / cells;
  const double sideMean[2] = {count[0] ? sum[0] / count[0] : 0.0,
                              count[1] ? sum[1] / count[1] : 0.0};
  double spread = 0, residual = 0;
  for (int v = 0; v < cells; ++v) {
    spread += (w.window[v] - mean) * (w.window[v] - mean);
    const double e = w.window[v] - sideMean[w.sides[v]];
    residual += e * e;
  }
  if (spread * w.accept * w.accept < residual) return false;

  // Side 0 is -1 (minus), side 1 is +1 (plus).
  for (int q = 0; q < 3; ++q) {
    const matrix* p = w.colours[q];
    if (!p) {
      m.plus[q] = m.minus[q] = 0;
      continue;
    }
    if (w.robust) {
      int filled[2] = {0, 0};
      for (int rr = 0; rr < n; ++rr) {
        const float* row = p->z[top + rr] + left;
        for (int cc = 0; cc < n; ++cc) {
          const int side = w.sides[rr * n + cc];
          w.lists[side].x[filled[side]++] = row[cc];
        }
      }
      m.minus[q] = w.lists[0].shortesthalf(filled[0]);
      m.plus[q] = w.lists[1].shortesthalf(filled[1]);
    } else {
      double s[2] = {0, 0};
      for (int rr = 0; rr < n; ++rr) {
        const float* row = p->z[top + rr] + left;
        for (int cc = 0; cc < n; ++cc) s[w.sides[rr * n + cc]] += row[cc];
      }
      m.minus[q] = count[0] ? float(s[0] / count[0]) : 0.0f;
      m.plus[q] = count[1] ? float(s[1] / count[1]) : 0.0f;
    }
  }
  return true;
}
