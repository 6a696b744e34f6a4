#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "support/zep_test.h"
#include "test_planes.h"

using FilterTest = ZepTest;

namespace {
matrix Row(std::initializer_list<float> v) {
  matrix m(int(v.size()), 1);
  int k = 0;
  for (float f : v) m.x[k++] = f;
  return m;
}
matrix Constant(int w, int h, float c) {
  matrix m(w, h);
  m.fill(c);
  return m;
}

const std::pair<int, int> kShapes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {7, 5}, {4, 9}};
}  // namespace

TEST_F(FilterTest, RowCorrelationReflectsWithoutRepeatingTheEdge) {
  matrix in(4, 3);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 4; ++i) in.z[j][i] = 10.0f * (i + 1);
  }
  matrix out;
  out.correlatex(Row({1, 2, 3}), in);
  EXPECT_FLOAT_EQ(out.z[0][0], 100.0f);  // index -1 reads 1
  EXPECT_FLOAT_EQ(out.z[0][1], 140.0f);
  EXPECT_FLOAT_EQ(out.z[2][3], 200.0f);  // index 4 reads 2

  // Columns the same way, and in place.
  matrix col(1, 4);
  for (int j = 0; j < 4; ++j) col.x[j] = 10.0f * (j + 1);
  col.correlatey(Row({1, 2, 3}), col);
  EXPECT_EQ(Values(col), (std::vector<float>{100, 140, 200, 200}));
}

TEST_F(FilterTest, OneTapKernelsAreTheIdentity) {
  const matrix in = Noise(5, 4, 1);
  matrix out(5, 4);
  out.correlatexy(Row({5}), Row({7}), in);
  EXPECT_EQ(Values(out), Values(in));
  out.setscatterxy(Row({5}), Row({7}), in);
  EXPECT_EQ(Values(out), Values(in));
  // scatterxy adds, also with two identity kernels.
  out.scatterxy(Row({5}), Row({7}), in);
  for (int k = 0; k < in.n; ++k) EXPECT_FLOAT_EQ(out.x[k], 2 * in.x[k]);
}

// <A u, v> = <u, A' v> for every correlation and its scatter, on odd and tiny planes, with
// kernels of odd and even length, some longer than the plane.
TEST_F(FilterTest, ScattersAreTheAdjointsOfTheCorrelations) {
  const std::vector<matrix> kernels = {Row({0.25f, 0.5f, 0.25f}), Row({1, -2, 0.5f, 3}),
                                       Row({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f}),
                                       Row({-1, 1})};
  using Forward = std::function<void(matrix&, const matrix&, const matrix&, const matrix&)>;
  struct Pair {
    const char* name;
    Forward forward, adjoint;  // adjoint writes into a zeroed plane
  } pairs[] = {
      {"x",
       [](matrix& o, const matrix& kx, const matrix&, const matrix& u) { o.correlatex(kx, u); },
       [](matrix& o, const matrix& kx, const matrix&, const matrix& v) { o.correlatexadj(kx, v); }},
      {"y",
       [](matrix& o, const matrix&, const matrix& ky, const matrix& u) { o.correlatey(ky, u); },
       [](matrix& o, const matrix&, const matrix& ky, const matrix& v) {
         o.dim(v.nx, v.ny).zero();
         o.scattery(ky, v);
       }},
      {"xy",
       [](matrix& o, const matrix& kx, const matrix& ky, const matrix& u) {
         o.correlatexy(kx, ky, u);
       },
       [](matrix& o, const matrix& kx, const matrix& ky, const matrix& v) {
         o.setscatterxy(kx, ky, v);
       }},
  };
  for (auto [w, h] : kShapes) {
    for (size_t a = 0; a < kernels.size(); ++a) {
      const matrix& kx = kernels[a];
      const matrix& ky = kernels[(a + 1) % kernels.size()];
      for (const Pair& p : pairs) {
        const matrix u = Noise(w, h, 11 + a), v = Noise(w, h, 97 + a);
        matrix au(w, h), atv(w, h);
        p.forward(au, kx, ky, u);
        p.adjoint(atv, kx, ky, v);
        const double left = matrix::dot(au, v), right = matrix::dot(u, atv);
        const double scale = std::max({std::fabs(left), std::sqrt(au.sumsq() * v.sumsq()), 1e-3});
        EXPECT_LT(std::fabs(left - right) / scale, 1e-5)
            << p.name << " " << w << "x" << h << " kernel " << a;
      }
    }
  }
}

// Planes wide enough for the block loops and their remainders, against sums taken sample by
// sample through the border rule; the adjoint identity on the same planes.
TEST_F(FilterTest, WidePlanesMatchDirectSums) {
  const matrix kx = Row({0.5f, -1, 0, 2, 0.25f}), ky = Row({1, 0.5f, -0.75f});
  matrix k2(4, 3);
  for (int k = 0; k < k2.n; ++k) k2.x[k] = k % 5 == 2 ? 0.0f : 0.1f * float(k) - 0.4f;
  auto direct = [](const matrix& k, const matrix& in) {
    matrix out(in.nx, in.ny);
    for (int y = 0; y < in.ny; ++y) {
      for (int x = 0; x < in.nx; ++x) {
        double s = 0;
        for (int j = 0; j < k.ny; ++j) {
          for (int i = 0; i < k.nx; ++i) {
            s += double(k.z[j][i]) *
                 in.z[ReflectWhole(y + j - k.ny / 2, in.ny)][ReflectWhole(x + i - k.nx / 2, in.nx)];
          }
        }
        out.z[y][x] = float(s);
      }
    }
    return out;
  };
  matrix column(1, ky.n), outer;
  for (int j = 0; j < ky.n; ++j) column.x[j] = ky.x[j];
  outer.outer(kx, ky);
  for (auto [w, h] : {std::pair{16, 3}, {17, 20}, {47, 9}, {64, 33}}) {
    const std::string shape = std::to_string(w) + "x" + std::to_string(h);
    const matrix in = Noise(w, h, 31), v = Noise(w, h, 32);
    matrix ours;
    struct Case {
      const char* name;
      std::function<void()> run;
      matrix want;
    } cases[] = {
        {"x", [&] { ours.correlatex(kx, in); }, direct(kx, in)},
        {"y", [&] { ours.correlatey(ky, in); }, direct(column, in)},
        {"xy", [&] { ours.correlatexy(kx, ky, in); }, direct(outer, in)},
        {"2-D", [&] { ours.correlate(k2, in); }, direct(k2, in)},
    };
    for (Case& c : cases) {
      c.run();
      ASSERT_EQ(ours.n, in.n);
      for (int k = 0; k < in.n; ++k) {
        ASSERT_NEAR(ours.x[k], c.want.x[k], 1e-5) << c.name << " " << shape << " at " << k;
      }
    }
    matrix au, atv;
    au.correlatexy(kx, ky, in);
    atv.setscatterxy(kx, ky, v);
    const double left = matrix::dot(au, v), right = matrix::dot(in, atv);
    EXPECT_LT(std::fabs(left - right) / std::sqrt(au.sumsq() * v.sumsq()), 1e-5) << shape;
  }
}

// The row transpose sample by sample against the scatter of every tap through the border
// rule, in double: rows with a plain middle and its block remainder, rows that are all
// border, kernels odd, even, lopsided and longer than the row; set, added, and in place.
TEST_F(FilterTest, RowTransposeMatchesTheScatterOfEveryTap) {
  const std::vector<matrix> kernels = {Row({0.25f, 0.5f, 0.25f}), Row({1, -2, 0.5f, 3}),
                                       Row({0, 0, 0, 0.5f, -1, 2, 0.25f}), Row({-1, 1}),
                                       Row({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f})};
  for (const matrix& k : kernels) {
    for (const int w : {1, 2, 5, 9, 40, 77, 131}) {
      const matrix v = Noise(w, 3, 7 + w), base = Noise(w, 3, 300 + w);
      matrix want(w, 3);
      want.zero();
      for (int y = 0; y < 3; ++y) {
        std::vector<double> row(size_t(w), 0.0);
        for (int x = 0; x < w; ++x) {
          for (int j = 0; j < k.n; ++j) {
            row[size_t(ReflectWhole(x + j - k.n / 2, w))] += double(k.x[j]) * v.z[y][x];
          }
        }
        for (int x = 0; x < w; ++x) want.z[y][x] = float(row[size_t(x)]);
      }
      matrix set, added(base), inplace(v);
      set.correlatexadj(k, v);
      added.scatterx(k, v);
      inplace.scatterx(k, inplace);
      const std::string where = std::to_string(k.n) + " taps, width " + std::to_string(w);
      for (int i = 0; i < v.n; ++i) {
        ASSERT_NEAR(set.x[i], want.x[i], 1e-5f) << where << " at " << i;
        ASSERT_NEAR(added.x[i], base.x[i] + want.x[i], 1e-5f) << where << " at " << i;
        ASSERT_NEAR(inplace.x[i], v.x[i] + want.x[i], 1e-5f) << where << " at " << i;
      }
    }
  }
}

TEST_F(FilterTest, TwoDimensionalCorrelationOfAnOuterProductIsSeparable) {
  const matrix kx = Row({1, 2, -1, 0.5f}), ky = Row({0.5f, -3, 2});
  matrix k2;
  k2.outer(kx, ky);
  for (auto [w, h] : kShapes) {
    const matrix in = Noise(w, h, 5);
    matrix full, separable(w, h);
    full.correlate(k2, in);
    separable.correlatexy(kx, ky, in);
    for (int k = 0; k < in.n; ++k) EXPECT_NEAR(full.x[k], separable.x[k], 1e-5) << w << "x" << h;
  }
  // In place, and normalising the kernel itself.
  matrix box = Constant(3, 3, 2.0f);
  matrix plane = Noise(6, 5, 9);
  const matrix before(plane);
  plane.correlate(box, plane, true);
  EXPECT_FLOAT_EQ(float(box.sum()), 1.0f);
  double mean = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) mean += before.z[2 + dy][3 + dx];
  }
  EXPECT_NEAR(plane.z[2][3], mean / 9, 1e-6);
  // At the corner index -1 reads 1 in both directions.
  EXPECT_NEAR(plane.z[0][0],
              (before.z[0][0] + 2 * before.z[0][1] + 2 * before.z[1][0] + 4 * before.z[1][1]) / 9,
              1e-6);
}

TEST_F(FilterTest, NormalisedSmoothingKeepsAConstantAtEverySize) {
  matrix g;
  g.gaussian(1.5f, 3.0f);
  for (auto [w, h] : kShapes) {
    const matrix c = Constant(w, h, 3.5f);
    matrix a(w, h), b(w, h), t(w, h), d;
    a.correlatexy(g, g, c);
    d.atrous(c, 30);  // holes far longer than the plane fold back inside it
    t = c;
    t.mean3x3();
    b.correlate(g, c);
    for (int k = 0; k < c.n; ++k) {
      EXPECT_NEAR(a.x[k], 3.5f, 1e-5) << w << "x" << h;
      EXPECT_NEAR(d.x[k], 3.5f, 1e-5) << w << "x" << h;
      EXPECT_NEAR(t.x[k], 3.5f, 1e-5) << w << "x" << h;
      EXPECT_NEAR(b.x[k], 3.5f * float(g.sum()), 1e-5) << w << "x" << h;
    }
  }
}

TEST_F(FilterTest, AtrousUsesHolesOfTwoToTheLevel) {
  const matrix in = Noise(20, 1, 3);
  for (int level : {0, 1, 2}) {
    matrix out;
    out.atrous(in, level);
    const int h = 1 << level;
    for (int j = 0; j < 20; ++j) {
      auto at = [&](int i) { return double(in.x[ReflectWhole(i, 20)]); };
      const double want =
          0.375 * at(j) + 0.25 * (at(j - h) + at(j + h)) + 0.0625 * (at(j - 2 * h) + at(j + 2 * h));
      EXPECT_NEAR(out.x[j], want, 1e-6) << level << " " << j;
    }
  }
}

TEST_F(FilterTest, PaddingAndExtension) {
  matrix src(3, 3);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) src.z[j][i] = float(i + 1);
  }
  matrix padded;
  padded.mirrorpad(src, 2);
  ASSERT_EQ(padded.nx, 7);
  ASSERT_EQ(padded.ny, 7);
  for (int j = 0; j < 7; ++j) {
    EXPECT_EQ(std::vector<float>(padded.z[j], padded.z[j] + 7),
              (std::vector<float>{2, 1, 1, 2, 3, 3, 2}));
  }
  // A margin wider than the plane keeps folding.
  const matrix two = Row({1, 2});
  padded.mirrorpad(two, 3);
  EXPECT_EQ(std::vector<float>(padded.z[0], padded.z[0] + 8),
            (std::vector<float>{2, 2, 1, 1, 2, 2, 1, 1}));

  matrix wide(7, 1);
  wide.extend(Row({1, 2, 3}));
  EXPECT_EQ(Values(wide), (std::vector<float>{1, 2, 3, 2, 1, 2, 3}));
  matrix small(2, 1);
  small.extend(Row({4, 5, 6}));  // a larger source gives its first part
  EXPECT_EQ(Values(small), (std::vector<float>{4, 5}));
}

TEST_F(FilterTest, KernelGenerators) {
  struct GaussCase {
    float sigma, k;
    int taps;
  } gauss[] = {{1, 1, 3}, {2, 3, 13}, {0.1f, 1, 3}, {1, 2, 5}, {0, 3, 3}};
  for (const GaussCase& c : gauss) {
    matrix g;
    g.gaussian(c.sigma, c.k);
    ASSERT_EQ(g.n, c.taps) << c.sigma;
    EXPECT_NEAR(g.sum(), 1.0, 1e-6);
    for (int i = 0; i < g.n; ++i) EXPECT_FLOAT_EQ(g.x[i], g.x[g.n - 1 - i]);
    EXPECT_GT(g.x[g.n / 2], g.x[0]);
  }
  const std::vector<std::vector<float>> diff = {{-1, 1},
                                                {-1, 1},
                                                {1, -2, 1},
                                                {1, -3, 3, -1},
                                                {1, -4, 6, -4, 1},
                                                {1, -5, 10, -10, 5, -1},
                                                {1, -6, 15, -20, 15, -6, 1},
                                                {1, -7, 21, -35, 35, -21, 7, -1},
                                                {1, -8, 28, -56, 70, -56, 28, -8, 1},
                                                {-1, 1}};
  for (int order = 0; order <= 9; ++order) {
    matrix d;
    d.diffkernel(order);
    EXPECT_EQ(d.ny, 1);
    EXPECT_EQ(Values(d), diff[size_t(order)]) << order;
  }
  matrix full;
  full.convolvefull(Row({1, 2}), Row({1, 1, 1}));
  EXPECT_EQ(Values(full), (std::vector<float>{1, 3, 3, 2}));
}

TEST_F(FilterTest, CircularShifts) {
  struct Case {
    int dx, dy;
    std::vector<float> want;
  } cases[] = {
      {1, 0, {4, 1, 2, 3, 8, 5, 6, 7}}, {-1, 0, {2, 3, 4, 1, 6, 7, 8, 5}},
      {4, 0, {1, 2, 3, 4, 5, 6, 7, 8}}, {-4, 0, {1, 2, 3, 4, 5, 6, 7, 8}},
      {0, 1, {5, 6, 7, 8, 1, 2, 3, 4}}, {-1, -1, {6, 7, 8, 5, 2, 3, 4, 1}},
      {0, 2, {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const Case& c : cases) {
    matrix m(4, 2);
    m.ramp(1, 1);
    m.shift(c.dx, c.dy);
    EXPECT_EQ(Values(m), c.want) << c.dx << "," << c.dy;
  }
}

TEST_F(FilterTest, MeanOfThreeByThreeLeavesTheBorder) {
  matrix m = Noise(4, 3, 2);
  const matrix before(m);
  m.mean3x3();
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 4; ++i) {
      if (j == 1 && (i == 1 || i == 2)) {
        double s = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) s += before.z[j + dy][i + dx];
        }
        EXPECT_NEAR(m.z[j][i], s / 9, 1e-6);
      } else {
        EXPECT_EQ(m.z[j][i], before.z[j][i]);
      }
    }
  }
}

// The tiny planes where a border rule most easily reads outside its array; the sanitizer
// build turns any stray access into a failure, and each step checks what it must keep.
TEST_F(FilterTest, TinyPlanesStayInsideTheirArrays) {
  for (auto [w, h] : {std::pair{1, 1}, {1, 5}, {5, 1}, {2, 2}}) {
    const std::string shape = std::to_string(w) + "x" + std::to_string(h);
    const matrix in = Noise(w, h, 21);

    matrix m(in);
    m.shift(1, 1).shift(-1, -1).shift(3, -7);
    m.shift(-3, 7);
    EXPECT_EQ(Values(m), Values(in)) << shape;

    matrix padded, back;
    padded.mirrorpad(in, 3);
    back = padded;
    back.crop(3, 3, w, h);
    EXPECT_EQ(Values(back), Values(in)) << shape;
    matrix bigger(2 * w + 3, 3 * h + 1);
    bigger.extend(in);
    bigger.crop(0, 0, w, h);
    EXPECT_EQ(Values(bigger), Values(in)) << shape;

    matrix wide;
    wide.gaussian(4.0f, 3.0f);  // 25 taps over planes of at most 5 samples
    matrix out(w, h), adj(w, h);
    out.correlatexy(wide, wide, in);
    adj.setscatterxy(wide, wide, in);
    out.correlate(in, in);  // the plane as its own kernel
    out.atrous(in, 6);
    out.mean3x3();
    out.convolvefull(in, wide);
    EXPECT_EQ(out.n, in.n + wide.n - 1);

    matrix s(in);
    std::vector<float> sorted = Values(in);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(s.select(in.n - 1), sorted.back()) << shape;
    const float median = in.n % 2 ? sorted[size_t(in.n / 2)]
                                  : (sorted[size_t(in.n / 2 - 1)] + sorted[size_t(in.n / 2)]) / 2;
    EXPECT_FLOAT_EQ(s.median(), median) << shape;
    s.sort();
    EXPECT_EQ(Values(s), sorted) << shape;
  }
}

TEST_F(FilterTest, GaussianBlurRenormalisesAtTheEnds) {
  // An impulse in the middle spreads into the normalised Gaussian over 3 sigma.
  matrix line(15, 1);
  line.fill(0.0f);
  line.x[7] = 1.0f;
  line.gaussblurx(1.0f, 0);
  double sum = 0;
  for (int k = -3; k <= 3; ++k) sum += std::exp(-0.5 * k * k);
  for (int k = -4; k <= 4; ++k) {
    const double want = std::abs(k) <= 3 ? std::exp(-0.5 * k * k) / sum : 0.0;
    EXPECT_NEAR(line.x[7 + k], want, 1e-6) << k;
  }
  // A constant stays constant up to the ends of planes smaller than the kernel, along both
  // axes; a sigma of 0 changes nothing.
  for (const auto& [w, h] : kShapes) {
    matrix m = Constant(w, h, 42.0f);
    m.gaussblurx(2.5f, 0).gaussblury(1.7f, 0).gaussblurx(0.0f, 0);
    for (int i = 0; i < m.n; ++i) EXPECT_NEAR(m.x[i], 42.0f, 1e-4) << w << "x" << h;
  }
  matrix ramp(5, 4);
  ramp.ramp(1.0f, 2.0f);
  const matrix before = ramp;
  ramp.gaussblury(0.0f, 0).gaussblurx(-1.0f, 0);
  EXPECT_EQ(0, std::memcmp(ramp.x, before.x, sizeof(float) * 20));
}
