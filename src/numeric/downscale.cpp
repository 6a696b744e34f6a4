// Integer-factor reduction kernels and the dense decimation model built from them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "numeric/kernels.h"
#include "numeric/matrix.h"

namespace {
struct Shape {
  KernelFunction f = nullptr;
  double parameter = 0;
  int64_t support = 0;  // taps per factor step (the box has no extra centre tap)
};

bool ShapeOf(int type, Shape& s) {
  static constexpr double kCubic[] = {-0.5, -1.0, 0.0, -1.5, -2.0};  // types -1 to -5
  if (type == 0) {
    s = {KernelBox, 2.0, 1};  // 1 on [-1, 1): every tap of the box
  } else if (type == 1) {
    s = {KernelTriangle, 1.0, 2};
  } else if (type >= -5 && type <= -1) {
    s = {KernelCubic, kCubic[-type - 1], 4};
  } else if (type >= 2 && type <= 64) {
    s = {KernelLanczos, double(type), 2 * int64_t(type)};
  } else {
    return false;
  }
  return true;
}
}  // namespace

matrix& NormaliseSum(matrix& k) {
  double sum = 0.0;
  for (int i = 0; i < k.n; ++i) sum += k.x[i];
  if (sum == 0.0 || !std::isfinite(sum)) return k;
  for (int i = 0; i < k.n; ++i) k.x[i] = static_cast<float>(k.x[i] / sum);
  return k;
}

int SaturatedProduct(int a, int b) {
  return static_cast<int>(std::min<int64_t>(int64_t(a) * b, std::numeric_limits<int32_t>::max()));
}

bool IsReductionType(int type) { return type >= -5 && type <= 5; }

bool IsBaseType(int type) { return (type >= -3 && type <= 5) || type == 7 || type == 15; }

matrix& matrix::DownscaleKernel(int a, int type, float radius, float amount) {
  Shape s;
  if (a < 1 || !ShapeOf(type, s)) return free();
  const int64_t taps = type == 0 ? a : s.support * a + (a % 2);
  dim(static_cast<int>(std::min<int64_t>(taps, std::numeric_limits<int32_t>::max())), 1);
  // Even factors sample between the two middle taps, odd ones on a centre tap.
  const double centre = (n - 1) / 2.0;
  for (int i = 0; i < n; ++i) x[i] = static_cast<float>(s.f((i - centre) / a, s.parameter));
  NormaliseSum(*this);
  if (radius > 0.0f) {
    matrix g;
    g.gaussian(radius * float(a), 3.0f);
    if (amount != 0.0f) {
      // (1 + amount) identity - amount Gaussian: an unsharp mask of the reduction.
      float& c = g.x[g.n / 2];
      c -= 1.0f;
      g.mulscalar(-amount);
      c += 1.0f;
    }
    convolvefull(g, *this);
  }
  return *this;
}

matrix& matrix::decimationmatrix(const matrix& kernel, int a, int N) {
  const matrix k(kernel);  // may be this plane
  dim(N, SaturatedProduct(a, N));
  zero();
  const int64_t off = (int64_t(k.n) - a) / 2;
  for (int i = 0; i < N; ++i) {
    for (int t = 0; t < k.n; ++t) {
      const int64_t r = int64_t(i) * a - off + t;
      if (r >= 0 && r < ny) z[r][i] = k.x[t];
    }
  }
  return *this;
}

namespace {
// The rows [first, last) of each column of p outside which it holds only zeros.
std::vector<std::pair<int, int>> NonzeroRows(const matrix& p, int rows, bool& finite) {
  std::vector<std::pair<int, int>> r(size_t(p.nx), {rows, 0});
  for (int k = 0; k < rows; ++k) {
    for (int i = 0; i < p.nx; ++i) {
      const float v = p.z[k][i];
      finite = finite && std::isfinite(v);
      if (v != 0.0f) r[size_t(i)] = {std::min(r[size_t(i)].first, k), k + 1};
    }
  }
  return r;
}
}  // namespace

matrix& matrix::transposeproduct(const matrix& A, const matrix& B) {
  const matrix a(A), b(B);  // either may be this plane
  dim(a.nx, b.nx);
  const int rows = std::min(a.ny, b.ny);
  // Decimation models are banded: each sum runs over the rows where both columns may be
  // nonzero. A skipped product is a zero, and adding a zero to a sum that starts at +0
  // never changes it, so the sums are those over every row. A value that is not finite
  // times a zero is not zero: then every sum runs over every row.
  bool finite = true;
  auto ra = NonzeroRows(a, rows, finite), rb = NonzeroRows(b, rows, finite);
  if (!finite) {
    std::fill(ra.begin(), ra.end(), std::pair<int, int>{0, rows});
    std::fill(rb.begin(), rb.end(), std::pair<int, int>{0, rows});
  }
  for (int i = 0; i < b.nx; ++i) {
    for (int j = 0; j < a.nx; ++j) {
      double s = 0.0;
      const int k0 = std::max(rb[size_t(i)].first, ra[size_t(j)].first);
      const int k1 = std::min(rb[size_t(i)].second, ra[size_t(j)].second);
      for (int k = k0; k < k1; ++k) s += double(b.z[k][i]) * a.z[k][j];
      z[i][j] = static_cast<float>(s);
    }
  }
  return *this;
}
