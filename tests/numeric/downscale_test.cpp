#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>
#include <string>
#include <vector>

#include "downscale_measures.h"
#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using DownscaleTest = ZepTest;

namespace {
double Sum(const matrix& m) {
  double s = 0;
  for (int k = 0; k < m.n; ++k) s += m.x[k];
  return s;
}

// Values 0-255 with detail at every scale.
matrix Picture(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      m.z[y][x] = 128.0f + 60.0f * m.z[y][x] + 50.0f * std::sin(0.3f * x) * std::cos(0.21f * y);
    }
  }
  return m;
}

}  // namespace

TEST_F(DownscaleTest, KernelTapsFollowTheFactorAndType) {
  struct Case {
    int a, type;
    std::vector<double> proportional;
  };
  const Case cases[] = {
      {2, 0, {1, 1}},
      {3, 0, {1, 1, 1}},
      {3, 1, {0, 1.0 / 3, 2.0 / 3, 1, 2.0 / 3, 1.0 / 3, 0}},
      {2, 1, {0.25, 0.75, 0.75, 0.25}},
  };
  for (const Case& c : cases) {
    matrix k;
    k.DownscaleKernel(c.a, c.type, 0, 0);
    ASSERT_EQ(k.n, int(c.proportional.size())) << c.a << " " << c.type;
    double total = 0;
    for (double v : c.proportional) total += v;
    for (int i = 0; i < k.n; ++i) EXPECT_NEAR(k.x[i], c.proportional[i] / total, 1e-6);
  }

  // Lengths of the cubics and Lanczos kernels, symmetric and of sum 1; the reduction of a
  // constant keeps it.
  struct Length {
    int a, type, taps;
  };
  for (const Length& l : {Length{4, -1, 16}, Length{3, -2, 13}, Length{2, -5, 8}, Length{2, 3, 12},
                          Length{3, 3, 19}, Length{5, 2, 21}, Length{4, 64, 512}}) {
    matrix k;
    k.DownscaleKernel(l.a, l.type, 0, 0);
    ASSERT_EQ(k.n, l.taps) << l.a << " " << l.type;
    EXPECT_NEAR(Sum(k), 1.0, 1e-5);
    for (int i = 0; i < k.n; ++i) EXPECT_NEAR(k.x[i], k.x[k.n - 1 - i], 1e-6);
  }

  for (auto [a, type] : {std::pair{2, 65}, std::pair{2, -6}, std::pair{0, 3}, std::pair{-2, 0}}) {
    matrix k(3, 1);
    EXPECT_TRUE(k.DownscaleKernel(a, type, 0, 0).empty()) << a << " " << type;
  }
}

TEST_F(DownscaleTest, RadiusConvolvesWithTheGaussianOrItsUnsharpMask) {
  matrix plain, blurred, sharpened, g;
  plain.DownscaleKernel(2, 3, 0, 0);
  blurred.DownscaleKernel(2, 3, 1.0f, 0);
  sharpened.DownscaleKernel(2, 3, 1.0f, 0.5f);
  g.gaussian(2.0f, 3.0f);
  ASSERT_EQ(blurred.n, plain.n + g.n - 1);
  ASSERT_EQ(sharpened.n, blurred.n);
  EXPECT_NEAR(Sum(blurred), 1.0, 1e-5);
  EXPECT_NEAR(Sum(sharpened), 1.0, 1e-5);
  // 1.5 plain - 0.5 blurred, tap by tap (the plain kernel centred in the longer one).
  const int pad = g.n / 2;
  for (int i = 0; i < sharpened.n; ++i) {
    const int j = i - pad;
    const double p = j >= 0 && j < plain.n ? plain.x[j] : 0.0;
    EXPECT_NEAR(sharpened.x[i], 1.5 * p - 0.5 * blurred.x[i], 1e-5) << i;
  }
}

TEST_F(DownscaleTest, DecimationMatrixIsTheTransposeOfTheReduction) {
  const int N = 23;
  for (int a : {2, 3, 4}) {
    for (int type : {0, 1, -1, 3}) {
      matrix k, D;
      k.DownscaleKernel(a, type, type == 3 ? 0.5f : 0.0f, type == 3 ? 0.4f : 0.0f);
      D.decimationmatrix(k, a, N);
      ASSERT_EQ(D.nx, N);
      ASSERT_EQ(D.ny, a * N);
      const matrix x = Noise(a * N, 1, 7 + a);
      // The same samples as one column: (D^T x)[i] = sum over r of D[r][i] x[r].
      matrix column(1, a * N), reduced(N, 1), product;
      for (int r = 0; r < a * N; ++r) column.x[r] = x.x[r];
      reduced.decimate(x, k, a);
      product.transposeproduct(column, D);
      ASSERT_EQ(product.nx, 1);
      ASSERT_EQ(product.ny, N);
      const int off = (k.n - a) / 2;
      for (int i = 0; i < N; ++i) {
        if (i * a - off < 0 || i * a - off + k.n > a * N) continue;  // window folds
        EXPECT_NEAR(product.x[i], reduced.x[i], 1e-5) << a << " " << type << " " << i;
      }
    }
  }
}

// The product skips the rows where a column holds only zeros; its sums must be those over
// every row bit for bit: banded decimation models (with zero taps inside the band), dense
// planes, a column of zeros, and a plane with a value that is not finite.
TEST_F(DownscaleTest, TransposeProductEqualsTheSumOverEveryRow) {
  auto plain = [](const matrix& a, const matrix& b) {
    matrix p(a.nx, b.nx);
    for (int i = 0; i < b.nx; ++i) {
      for (int j = 0; j < a.nx; ++j) {
        double s = 0.0;
        for (int k = 0; k < std::min(a.ny, b.ny); ++k) s += double(b.z[k][i]) * a.z[k][j];
        p.z[i][j] = float(s);
      }
    }
    return p;
  };
  std::vector<std::pair<matrix, matrix>> cases;
  for (auto [a, ta, tb] : {std::tuple{2, 3, 5}, std::tuple{3, 1, -1}, std::tuple{4, 3, 0}}) {
    matrix ka, kb, A, B;
    ka.DownscaleKernel(a, ta, 0, 0);
    kb.DownscaleKernel(a, tb, 0, 0);
    cases.emplace_back(A.decimationmatrix(ka, a, 23), B.decimationmatrix(kb, a, 23));
  }
  matrix dense = Noise(7, 12, 5), other = Noise(5, 10, 6);
  for (int k = 0; k < other.ny; ++k) other.z[k][2] = 0.0f;
  cases.emplace_back(dense, other);
  matrix nan = dense;
  nan.z[4][3] = std::nanf("");  // against the zero column
  cases.emplace_back(other, nan);
  for (const auto& [a, b] : cases) {
    const matrix want = plain(a, b);
    matrix got;
    got.transposeproduct(a, b);
    ASSERT_EQ(got.nx, want.nx);
    ASSERT_EQ(got.ny, want.ny);
    EXPECT_EQ(std::memcmp(got.x, want.x, sizeof(float) * size_t(want.n)), 0) << a.nx << "x" << a.ny;
  }
}

TEST_F(DownscaleTest, BoxOfBoxIsPixelReplication) {
  for (int a : {2, 3}) {
    matrix g;
    g.pseudoinversekernel(a, 0, 0, 0, 0);
    ASSERT_EQ(g.n, 1);
    EXPECT_FLOAT_EQ(g.x[0], 1.0f);
    const matrix y = Picture(9, 7, 3);
    matrix cache, big;
    StartProgress(1e9f);
    big.pseudoinverseenlarge(y, a, 0, 0, cache, false, 0, 0, false);
    ASSERT_EQ(big.nx, 9 * a);
    ASSERT_EQ(big.ny, 7 * a);
    for (int r = 0; r < big.ny; ++r) {
      for (int c = 0; c < big.nx; ++c) ASSERT_EQ(big.z[r][c], y.z[r / a][c / a]) << r << " " << c;
    }
  }
}

TEST_F(DownscaleTest, EnlargementReducesBackToItsInput) {
  const matrix y = Picture(48, 44, 11);
  for (int a : {2, 3, 4}) {
    for (int reduction : {0, 1, -1, -4, 3}) {
      for (int base : {0, 1, -1, 3, 5}) {
        matrix cache, big;
        StartProgress(1e9f);
        big.pseudoinverseenlarge(y, a, reduction, base, cache, false, 0, 0, false);
        // The prefilter is symmetric and odd, and its ends are not what the model fits.
        EXPECT_EQ(cache.n % 2, 1);
        EXPECT_LT(ReductionRms(big, y, a, reduction, 8), 0.5)
            << a << " " << reduction << " " << base;
      }
    }
  }
}

TEST_F(DownscaleTest, ABaseWithoutEnlargementIsRefused) {
  const matrix y = Picture(8, 8, 2);
  for (int base : {-4, -5, 65}) {
    matrix cache, big;
    try {
      big.pseudoinverseenlarge(y, 2, 3, base, cache, false, 0, 0, true);
      ADD_FAILURE() << base;
    } catch (const TextException& e) {
      EXPECT_EQ(e.text(), kUnknownBaseMessage);
    }
  }
  EXPECT_TRUE(IsBaseType(7) && IsBaseType(15) && IsBaseType(-3) && !IsBaseType(-4));
  EXPECT_TRUE(IsReductionType(-5) && IsReductionType(5) && !IsReductionType(7));
}
