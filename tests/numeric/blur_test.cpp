// The Gaussian, motion and gradient lens blurs of a plane.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/gaussrows.h"
#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "support/zep_test.h"
#include "test_planes.h"

namespace {
using BlurTest = ZepTest;

// exp(-(i/sigma)^2/2), made here rather than by the kernel under test.
double Tap(int i, double sigma) { return std::exp(-0.5 * (i / sigma) * (i / sigma)); }

// A busy picture on the 0-255 scale.
matrix Picture(int w, int h, uint32_t seed) {
  matrix m = Noise(w, h, seed);
  for (int k = 0; k < m.n; ++k) m.x[k] = 128.0f + 100.0f * m.x[k];
  return m;
}

matrix Transposed(const matrix& m) {
  matrix t(m.ny, m.nx);
  for (int y = 0; y < m.ny; ++y)
    for (int x = 0; x < m.nx; ++x) t.z[x][y] = m.z[y][x];
  return t;
}

bool SameBytes(const matrix& a, const matrix& b) {
  return a.nx == b.nx && a.ny == b.ny && std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0;
}

// One reflection about the edge sample (index -1 reads 1) and about the edge (index -1
// reads 0).
int MirrorWhole(int i, int n) { return i < 0 ? -i : (i >= n ? 2 * n - 2 - i : i); }
int MirrorHalf(int i, int n) { return i < 0 ? -1 - i : (i >= n ? 2 * n - 1 - i : i); }

bitmask Mask(int w, int h, const std::vector<std::pair<int, int>>& set) {
  bitmask m(w, h);
  for (auto [x, y] : set) m.set(x, y, true);
  return m;
}
}  // namespace

TEST_F(BlurTest, SevenSamplesOfSigmaOneAreAllRenormalised) {
  // A line as long as the kernel (L = 7) has no plain-sum sample: each takes the taps that
  // fall inside, divided by their sum; sample 0 taps 3..6, the middle one all seven.
  const float v[7] = {3, 1, 4, 1, 5, 9, 2};
  matrix row(7, 1), columns(3, 7);
  for (int i = 0; i < 7; ++i) {
    row.x[i] = v[i];
    for (int c = 0; c < 3; ++c) columns.z[i][c] = v[i] * float(c + 1);
  }
  const matrix before = row;
  row.gaussblurx(1.0f, 0);
  columns.gaussblury(1.0f, 0);
  for (int p = 0; p < 7; ++p) {
    double s = 0, w = 0;
    for (int j = std::max(0, 3 - p); j < std::min(7, 10 - p); ++j) {
      s += Tap(j - 3, 1.0) * v[p - 3 + j];
      w += Tap(j - 3, 1.0);
    }
    EXPECT_NEAR(row.x[p], s / w, 1e-5) << p;
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(columns.z[p][c], (c + 1) * s / w, 1e-4) << p;
  }
  // Flag 1 computes only samples whose kernel lies wholly inside: none of these.
  matrix kept = before;
  kept.gaussblurx(1.0f, 1).gaussblury(1.0f, 1);
  EXPECT_TRUE(SameBytes(kept, before));
}

TEST_F(BlurTest, FlagOneKeepsTheFirstFAndLastFPlusOneSamples) {
  // sigma 2: L = 13, f = 6. On 30 samples the plain sums are samples 6..22.
  for (bool alongRows : {true, false}) {
    SCOPED_TRACE(alongRows ? "rows" : "columns");
    const matrix source = alongRows ? Picture(30, 4, 5) : Picture(4, 30, 5);
    matrix zero = source, one = source;
    if (alongRows) {
      zero.gaussblurx(2.0f, 0);
      one.gaussblurx(2.0f, 1);
    } else {
      zero.gaussblury(2.0f, 0);
      one.gaussblury(2.0f, 1);
    }
    for (int line = 0; line < 4; ++line) {
      for (int p = 0; p < 30; ++p) {
        const int k = alongRows ? line * 30 + p : p * 4 + line;
        if (p >= 6 && p <= 22) {
          EXPECT_EQ(one.x[k], zero.x[k]) << p;
        } else {
          EXPECT_EQ(one.x[k], source.x[k]) << p;
          EXPECT_NE(zero.x[k], source.x[k]) << p;
        }
      }
    }
  }
}

TEST_F(BlurTest, AgreesWithScipyCorrelateInsideAndRenormalisedSumsAtTheEnds) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import scipy' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-scipy is not installed";
  }
  struct Case {
    int w, h;
    float sx, sy;
  };
  // Wide and narrow kernels, lines shorter than the kernel, an axis left alone.
  const Case cases[] = {{37, 23, 1.0f, 1.0f}, {40, 9, 2.5f, 0.5f}, {5, 4, 2.5f, 1.7f},
                        {2, 2, 1.0f, 1.0f},   {1, 5, 1.0f, 1.0f},  {300, 7, 32.0f, 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " " << c.sx << " " << c.sy);
    const matrix source = Picture(c.w, c.h, 11);
    const auto taps = [](float sigma) {
      std::ostringstream t;
      t.precision(9);
      if (!(sigma > 0)) return std::string("1 1");
      matrix k;
      k.gaussian(sigma, 3.0f);
      t << k.n;
      for (int i = 0; i < k.n; ++i) t << " " << k.x[i];
      return t.str();
    };
    const std::string in = (home / "plane.txt").string(), out = (home / "blurred.txt").string();
    {
      std::ofstream f(in);
      f.precision(9);
      f << c.w << " " << c.h << "\n" << taps(c.sy) << "\n" << taps(c.sx) << "\n";
      for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) f << source.z[y][x] << " ";
        f << "\n";
      }
    }
    const std::string cmd = std::string(python) + " " + ZEP_SOURCE_DIR +
                            "/tests/numeric/reference/gausspass.py '" + in + "' '" + out + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::vector<double> theirs;
    std::ifstream f(out);
    for (double v; f >> v;) theirs.push_back(v);
    ASSERT_EQ(theirs.size(), size_t(source.n));
    matrix mine = source;
    mine.gaussblur(c.sx, c.sy, nullptr);
    for (int k = 0; k < mine.n; ++k) ASSERT_NEAR(mine.x[k], theirs[size_t(k)], 1e-4) << k;
  }
}

TEST_F(BlurTest, MaskedGaussianMirrorsAroundTheMaskAndWritesOnlyItsPixels) {
  const matrix source = Picture(40, 30, 3);
  const float sx = 1.5f, sy = 1.0f;  // L 9 and 7: reaches 4 and 3
  matrix whole = source;
  whole.gaussblur(sx, sy, nullptr);

  // Far enough from the borders, the masked blur is the unmasked one.
  std::vector<std::pair<int, int>> blob;
  for (int y = 8; y < 20; ++y)
    for (int x = 10 + y % 3; x < 30; x += 2) blob.emplace_back(x, y);
  const bitmask inner = Mask(40, 30, blob);
  matrix masked = source;
  masked.gaussblur(sx, sy, &inner);
  for (int k = 0; k < masked.n; ++k) {
    if (inner.getbit(k)) {
      EXPECT_NEAR(masked.x[k], whole.x[k], 1e-4) << k;
    } else {
      EXPECT_EQ(masked.x[k], source.x[k]) << k;
    }
  }

  // A single pixel at a corner: the tile reaches outside and is mirrored about the edge
  // sample; only that pixel changes.
  double kx[9], ky[7], wx = 0, wy = 0;
  for (int i = 0; i < 9; ++i) wx += kx[i] = Tap(i - 4, sx);
  for (int i = 0; i < 7; ++i) wy += ky[i] = Tap(i - 3, sy);
  for (auto [cx, cy] : {std::pair{0, 0}, std::pair{39, 29}, std::pair{0, 29}}) {
    SCOPED_TRACE(testing::Message() << cx << "," << cy);
    const bitmask corner = Mask(40, 30, {{cx, cy}});
    matrix m = source;
    m.gaussblur(sx, sy, &corner);
    double want = 0;
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 9; ++c)
        want += ky[r] * kx[c] * source.z[MirrorWhole(cy - 3 + r, 30)][MirrorWhole(cx - 4 + c, 40)];
    EXPECT_NEAR(m.z[cy][cx], want / (wx * wy), 1e-4);
    m.z[cy][cx] = source.z[cy][cx];
    EXPECT_TRUE(SameBytes(m, source));
  }

  // A mask with no bit set changes nothing.
  const bitmask empty(40, 30);
  matrix m = source;
  m.gaussblur(sx, sy, &empty);
  EXPECT_TRUE(SameBytes(m, source));
}

TEST_F(BlurTest, ConstantPlanesStayConstant) {
  const float c = 77.7f;
  const std::vector<std::pair<const char*, std::function<void(matrix&, const bitmask*)>>> blurs = {
      {"gauss 1", [](matrix& m, const bitmask* k) { m.gaussblur(1.0f, 1.0f, k); }},
      {"gauss 2.5 x 0.5", [](matrix& m, const bitmask* k) { m.gaussblur(2.5f, 0.5f, k); }},
      {"motion 21/0", [](matrix& m, const bitmask* k) { m.motionblur(21, 0, k, false); }},
      {"motion 10/-60", [](matrix& m, const bitmask* k) { m.motionblur(10, -60, k, false); }},
      {"motion 7/30 masked input",
       [](matrix& m, const bitmask* k) { m.motionblur(7, 30, k, true); }},
      {"gradient lens", [](matrix& m, const bitmask* k) {
         matrix r(m.nx, m.ny);
         for (int i = 0; i < r.n; ++i) r.x[i] = float(i % 5) * 0.9f - 1.5f;
         m.gradientlensblur(r, k);
       }}};
  for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{2, 2}, std::pair{37, 23}}) {
    bitmask checker(w, h);
    for (int k = 0; k < w * h; ++k) checker.setbit(k, k % 3 != 1);
    for (const bitmask* mask :
         {static_cast<const bitmask*>(nullptr), static_cast<const bitmask*>(&checker)}) {
      for (const auto& [name, blur] : blurs) {
        SCOPED_TRACE(testing::Message() << name << " " << w << "x" << h << (mask ? " masked" : ""));
        matrix m(w, h);
        m.fill(c);
        blur(m, mask);
        for (int k = 0; k < m.n; ++k) ASSERT_NEAR(m.x[k], c, 1e-4) << k;
      }
    }
    // A sigma far beyond the plane renormalises every sample over the whole line.
    matrix m(w, h);
    m.fill(c);
    m.gaussblur(1e30f, 7.0f, nullptr);
    for (int k = 0; k < m.n; ++k) ASSERT_NEAR(m.x[k], c, 1e-4) << w << "x" << h;
  }
}

TEST_F(BlurTest, MotionStencils) {
  struct Case {
    float length, angle;
    int side, count;
    std::vector<std::pair<int, int>> ends;  // columns and rows that must be set
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {21, 0, 21, 21, {{0, 10}, {20, 10}}},
      {10, 0, 9, 9, {{0, 4}, {8, 4}}},  // 10 is even: the tie between 9 and 11 goes down
      {10, -60, 9, 9, {{2, 8}, {6, 0}}},
      {10, 90, 9, 9, {{4, 0}, {4, 8}}},
      {2, 0, 1, 1, {{0, 0}}},  // too short to leave the centre: the centre alone
      {nan, 0, 1, 1, {{0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " at " << c.angle);
    bitmask s;
    EXPECT_EQ(s.motionline(c.length, c.angle), c.count);
    ASSERT_EQ(s.width, c.side);
    ASSERT_EQ(s.height, c.side);
    for (auto [x, y] : c.ends) EXPECT_TRUE(s.get(x, y)) << x << "," << y;
    // Through the centre, one cell per step along the longer axis.
    EXPECT_TRUE(s.get(c.side / 2, c.side / 2));
    for (int k = 0; k < c.side; ++k) {
      int cells = 0;
      for (int j = 0; j < c.side; ++j) cells += c.angle == 0 ? s.get(k, j) : s.get(j, k);
      EXPECT_EQ(cells, 1) << k;
    }
  }
  // A stencil beyond any memory is refused as an allocation, not overflowed.
  bitmask s;
  EXPECT_THROW(s.motionline(1e30f, 45), std::bad_alloc);
}

TEST_F(BlurTest, MotionBlurAveragesTheStencilOverTheEdgeRepeatingPadding) {
  matrix row(5, 1);
  const float v[5] = {1, 2, 4, 8, 16};
  for (int i = 0; i < 5; ++i) row.x[i] = v[i];
  row.motionblur(3, 0, nullptr, false);
  const float want[5] = {4 / 3.0f, 7 / 3.0f, 14 / 3.0f, 28 / 3.0f, 40 / 3.0f};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(row.x[i], want[i], 1e-5) << i;

  // Vertical is horizontal on the transposed plane.
  const matrix source = Picture(23, 17, 9);
  matrix vertical = source, horizontal = Transposed(source);
  vertical.motionblur(7, 90, nullptr, false);
  horizontal.motionblur(7, 0, nullptr, false);
  EXPECT_TRUE(SameBytes(vertical, Transposed(horizontal)));

  // Length 2 is the centre alone: nothing changes.
  matrix same = source;
  same.motionblur(2, 0, nullptr, false);
  EXPECT_TRUE(SameBytes(same, source));
}

TEST_F(BlurTest, MaskedMotionBlur) {
  const matrix source = Picture(9, 5, 4);
  matrix whole = source;
  whole.motionblur(3, 0, nullptr, false);
  // Row 2: pixels 3, 4 and 6 masked; pixel 6's neighbours are not.
  const bitmask mask = Mask(9, 5, {{3, 2}, {4, 2}, {6, 2}});

  matrix plain = source;
  plain.motionblur(3, 0, &mask, false);
  matrix input = source;
  input.motionblur(3, 0, &mask, true);
  for (int k = 0; k < source.n; ++k) {
    if (mask.getbit(k)) {
      EXPECT_EQ(plain.x[k], whole.x[k]) << k;
    } else {
      EXPECT_EQ(plain.x[k], source.x[k]) << k;
      EXPECT_EQ(input.x[k], source.x[k]) << k;
    }
  }
  const float* r = source.z[2];
  EXPECT_NEAR(input.z[2][3], (r[3] + r[4]) / 2, 1e-5);
  EXPECT_NEAR(input.z[2][4], (r[3] + r[4]) / 2, 1e-5);
  EXPECT_EQ(input.z[2][6], r[6]);
}

TEST_F(BlurTest, GradientLensBlur) {
  const matrix source = Picture(12, 9, 2);
  matrix radius(12, 9);
  // Radius 0 (and NaN, which counts as 0) leaves the plane as it was.
  for (float r : {0.0f, 0.49f, std::numeric_limits<float>::quiet_NaN()}) {
    radius.fill(r);
    matrix m = source;
    m.gradientlensblur(radius, nullptr);
    EXPECT_TRUE(SameBytes(m, source)) << r;
  }
  // Radius 0.5 (or -0.5) is a disc of radius 1: the 3 x 3 square, over the edge-repeating
  // padding.
  radius.fill(-0.5f);
  matrix m = source;
  m.gradientlensblur(radius, nullptr);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 12; ++x) {
      double s = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) s += source.z[MirrorHalf(y + j, 9)][MirrorHalf(x + i, 12)];
      EXPECT_NEAR(m.z[y][x], s / 9, 1e-4) << x << "," << y;
    }
  }
  // Radii beyond the larger side are that side.
  matrix huge = source, side = source;
  radius.fill(1e30f);
  huge.gradientlensblur(radius, nullptr);
  radius.fill(12.0f);
  side.gradientlensblur(radius, nullptr);
  EXPECT_TRUE(SameBytes(huge, side));

  // Masked: only the mask's pixels change, each the mean of its disc's masked pixels.
  const bitmask mask = Mask(12, 9, {{0, 0}, {1, 0}, {5, 5}});
  radius.fill(1.0f);
  matrix masked = source;
  masked.gradientlensblur(radius, &mask);
  for (int k = 0; k < source.n; ++k) {
    if (!mask.getbit(k)) {
      EXPECT_EQ(masked.x[k], source.x[k]) << k;
    }
  }
  EXPECT_NEAR(masked.z[0][0], (source.z[0][0] + source.z[0][1]) / 2, 1e-5);
  EXPECT_EQ(masked.z[5][5], source.z[5][5]);
}

TEST_F(BlurTest, TheSameBytesWithOneThreadAndWithEight) {
  const std::vector<std::pair<const char*, std::function<void(matrix&)>>> blurs = {
      {"gauss", [](matrix& m) { m.gaussblur(2.5f, 1.5f, nullptr); }},
      {"gauss wider than the plane", [](matrix& m) { m.gaussblur(40.0f, 60.0f, nullptr); }},
      {"gauss masked",
       [](matrix& m) {
         bitmask k(m.nx, m.ny);
         for (int i = 0; i < m.n; i += 7) k.setbit(i, true);
         m.gaussblur(3.0f, 2.0f, &k);
       }},
      {"motion", [](matrix& m) { m.motionblur(15, 30, nullptr, false); }},
      {"motion masked input",
       [](matrix& m) {
         bitmask k(m.nx, m.ny);
         for (int i = 0; i < m.n; i += 3) k.setbit(i, true);
         m.motionblur(9, -45, &k, true);
       }},
      {"gradient lens", [](matrix& m) {
         matrix r(m.nx, m.ny);
         for (int i = 0; i < r.n; ++i) r.x[i] = float(i % 7) * 0.8f;
         m.gradientlensblur(r, nullptr);
       }}};
  for (auto [w, h] : {std::pair{1, 263}, std::pair{263, 1}, std::pair{311, 131}}) {
    const matrix source = Picture(w, h, 8);
    for (const auto& [name, blur] : blurs) {
      SCOPED_TRACE(testing::Message() << name << " " << w << "x" << h);
      matrix one = source, eight = source;
      SetParallelThreads(1);
      blur(one);
      SetParallelThreads(8);
      blur(eight);
      SetParallelThreads(0);
      EXPECT_TRUE(SameBytes(one, eight));
    }
  }
}

TEST_F(BlurTest, TheRowAtATimeBlurGivesTheBytesOfTheTwoPasses) {
  // Rows several blocks tall and wider than a strip with a tail, kernels just shorter than
  // a side, and sigmas that take the copy of the plane: every row once, the bytes of
  // gaussblury then gaussblurx, with the sink writing each row back into the plane.
  for (auto [w, h] :
       {std::pair{300, 257}, std::pair{16, 900}, std::pair{700, 31}, std::pair{40, 33}}) {
    for (float sigma : {0.4f, 1.0f, 2.5f, 5.0f, 9.0f, 0.0f}) {
      for (int threads : {1, 8}) {
        SCOPED_TRACE(testing::Message()
                     << w << "x" << h << " sigma " << sigma << " threads " << threads);
        SetParallelThreads(threads);
        const matrix source = Picture(w, h, 12);
        matrix passes = source, rows = source;
        passes.gaussblury(sigma, 0).gaussblurx(sigma, 0);
        std::vector<int> seen(size_t(h), 0);
        GaussianBlurRows(rows, sigma, [&](int64_t y, const float* row) {
          ++seen[size_t(y)];
          std::copy(row, row + w, rows.z[y]);
        });
        SetParallelThreads(0);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), h);
        EXPECT_TRUE(SameBytes(rows, passes));
      }
    }
  }
}

TEST_F(BlurTest, RenormalisedEndSamplesAreTheExactQuotients) {
  // Each end sample is the sum of the inside taps times the samples, in tap order, over the
  // sum of those taps in the same order: bit for bit, on lines longer and shorter than the
  // kernel (sigma 2: 13 taps; on 5 samples or fewer the kernel itself is cut to the line), on
  // several rows that share the kept sums.
  matrix kernel;
  kernel.gaussian(2.0f, 3.0f);
  const int L = kernel.n, f = L / 2;
  for (int w : {30, 14, 7}) {
    SCOPED_TRACE(w);
    const matrix source = Picture(w, 3, 7);
    matrix blurred = source;
    blurred.gaussblurx(2.0f, 0);
    for (int y = 0; y < 3; ++y) {
      for (int p = 0; p < w; ++p) {
        if (p >= f && p <= w - f - 2) continue;
        double s = 0, weight = 0;
        for (int j = std::max(0, f - p); j < std::min(L, w + f - p); ++j) {
          weight += kernel.x[j];
          s += double(kernel.x[j]) * source.z[y][p - f + j];
        }
        EXPECT_EQ(blurred.z[y][p], float(s / weight)) << p << "," << y;
      }
    }
  }
}
