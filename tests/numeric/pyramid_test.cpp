#include "numeric/pyramid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/adjoint.h"
#include "test_planes.h"

namespace {
const std::vector<PlaneSize> kSizes = {{1, 9}, {2, 2}, {3, 5}, {64, 64}, {101, 60}};

matrix Zero(PlaneSize s) {
  matrix m(s.first, s.second);
  m.zero();
  return m;
}

float MaxDifference(const matrix& a, const matrix& b) {
  float d = 0.0f;
  for (int k = 0; k < a.n; ++k) d = std::max(d, std::fabs(a.x[k] - b.x[k]));
  return d;
}

// The level sizes of a pyramid of an w x h plane, and of its difference planes.
std::vector<PlaneSize> Levels(PlaneSize s, int limit) {
  std::vector<int> w, h;
  PyramidLevelSizes(s.first, s.second, limit, w, h);
  std::vector<PlaneSize> out;
  for (size_t i = 0; i < w.size(); ++i) out.push_back({w[i], h[i]});
  return out;
}
}  // namespace

TEST(PyramidTest, LevelCountsAndSizes) {
  std::vector<int> w, h;
  ASSERT_EQ(PyramidLevelSizes(101, 60, 4, w, h), 5);
  EXPECT_EQ(w, (std::vector<int>{102, 52, 26, 14, 8}));
  EXPECT_EQ(h, (std::vector<int>{60, 30, 16, 8, 4}));
  // The pyramid has exactly those sizes.
  matrixarray p;
  p.pyramid(Noise(101, 60, 1), 4, false);
  ASSERT_EQ(p.n, 5);
  for (int i = 0; i < p.n; ++i) {
    EXPECT_EQ(p[i].nx, w[i]) << i;
    EXPECT_EQ(p[i].ny, h[i]) << i;
  }
  // One level: the plane as it is, odd sides kept.
  EXPECT_EQ(PyramidLevelSizes(5, 7, 8, w, h), 1);
  EXPECT_EQ(w, std::vector<int>{5});
  EXPECT_EQ(h, std::vector<int>{7});

  struct Depth {
    int a, limit, depth;
  };
  for (Depth d : {Depth{100, 16, 4}, Depth{16, 16, 2}, Depth{20, 32, 1}, Depth{40, 32, 2},
                  Depth{100, 32, 3}}) {
    EXPECT_EQ(PyramidDepth(d.a, d.limit), d.depth) << d.a << " " << d.limit;
  }
  // Limits that a side of 1 always meets end all the same.
  EXPECT_EQ(PyramidDepth(1, 1), 1);
  EXPECT_EQ(PyramidDepth(8, 0), 4);  // 8, 4, 2, 1
  EXPECT_EQ(PyramidLevelSizes(8, 3, 0, w, h), 4);
}

TEST(PyramidTest, ReductionWeightsAtTheBorders) {
  matrix row(6, 1);
  for (int i = 0; i < 6; ++i) row.x[i] = float(1 << i);  // 1 2 4 8 16 32
  matrix r;
  r.reduceh(row);
  ASSERT_EQ(r.nx, 3);
  EXPECT_FLOAT_EQ(r.x[0], (1 + 2) * 0.42857143f + 4 * 0.14285715f);
  EXPECT_FLOAT_EQ(r.x[1], (2 + 16) * 0.125f + (4 + 8) * 0.375f);
  EXPECT_FLOAT_EQ(r.x[2], (16 + 32) * 0.42857143f + 8 * 0.14285715f);
  row.dim(5, 1);
  for (int i = 0; i < 5; ++i) row.x[i] = float(1 << i);
  r.reduceh(row);
  ASSERT_EQ(r.nx, 3);
  EXPECT_FLOAT_EQ(r.x[2], 8 * 0.25f + 16 * 0.75f);
  // The mirroring reduction: index -1 reads 1, index w reads w-2; 10 and 12 samples both
  // give 6, and a 2-sample row gives 2.
  matrix m(10, 1);
  for (int i = 0; i < 10; ++i) m.x[i] = float(i * i);
  r.reducemirrorh(m);
  ASSERT_EQ(r.nx, 6);
  EXPECT_FLOAT_EQ(r.x[0], (1 + 4) * 0.125f + (0 + 1) * 0.375f);
  // Output 5 reads 9, 10, 11, 12, mirrored to 9, 8, 7, 6.
  EXPECT_FLOAT_EQ(r.x[5], (81 + 36) * 0.125f + (64 + 49) * 0.375f);
  m.dim(12, 1);
  EXPECT_EQ(r.reducemirrorh(m).nx, 6);
  matrix two(2, 1);
  two.x[0] = 3;
  two.x[1] = 5;
  r.reducemirrorh(two);
  ASSERT_EQ(r.nx, 2);
  EXPECT_FLOAT_EQ(r.x[1], (3 + 5) * 0.125f + (3 + 5) * 0.375f);
}

TEST(PyramidTest, ConstantsSurviveReductionsAndExpansion) {
  for (PlaneSize s : kSizes) {
    matrix c(s.first, s.second), r, t;
    c.fill(42.25f);
    for (int kind = 0; kind < 4; ++kind) {
      if (kind == 0) r.reduceh(c);
      if (kind == 1) r.reducev(c);
      if (kind == 2) r.reducemirrorh(c);
      if (kind == 3) r.reducemirror(c);
      for (int k = 0; k < r.n; ++k) ASSERT_NEAR(r.x[k], 42.25f, 1e-5f) << kind << " " << k;
    }
    // Expanding a constant subtracts the same constant everywhere.
    matrix coarse(HalfUp(s.first), HalfUp(s.second));
    coarse.fill(2.5f);
    matrix fine(s.first + s.first % 2, s.second + s.second % 2);
    fine.fill(10.0f);
    fine.expand(coarse, -1);
    for (int k = 0; k < fine.n; ++k) ASSERT_FLOAT_EQ(fine.x[k], 7.5f);
  }
}

TEST(PyramidTest, ExpansionLeavesAnOddLastColumnAndRow) {
  matrix coarse(2, 2);
  coarse.fill(1.0f);
  matrix fine(5, 3);
  fine.fill(9.0f);
  fine.expand(coarse, 0);
  for (int y = 0; y < 3; ++y) {
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(fine.at(i, y), (i == 4 || y == 2) ? 9.0f : 1.0f) << i << " " << y;
    }
  }
}

TEST(PyramidTest, LaplacianPyramidCollapsesToTheInput) {
  for (PlaneSize s : {PlaneSize{101, 60}, PlaneSize{5, 7}, PlaneSize{1, 9}, PlaneSize{64, 64}}) {
    const matrix plane = Noise(s.first, s.second, 7);
    for (int limit : {1, 2, 4}) {
      matrixarray gauss, lap;
      gauss.pyramid(plane, limit, false);
      lap.pyramid(plane, limit, true);
      ASSERT_EQ(lap.n, gauss.n);
      // The coarsest level keeps its Gaussian values; the others hold details.
      EXPECT_EQ(Values(lap[lap.n - 1]), Values(gauss[gauss.n - 1]));
      lap.collapse();
      EXPECT_LT(MaxDifference(lap[0], gauss[0]), 1e-5f) << s.first << "x" << s.second;
      matrix back(s.first, s.second);
      back.extend(lap[0]);
      EXPECT_LT(MaxDifference(back, plane), 1e-5f);
    }
  }
}

TEST(PyramidTest, TransposesAreAdjoint) {
  for (PlaneSize s : kSizes) {
    const int w = s.first, h = s.second;
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    for (bool planar : {true, false}) {
      auto shape = [planar](int a, int b) {
        return planar ? PlaneSize{a, b} : PlaneSize{a * b, 1};
      };
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            PlaneStack g(2);
            u.forwarddiff(g[0], g[1], planar);
            return g;
          },
          [&](const PlaneStack& g) { return Zero(s).forwarddiffT(g[0], g[1]); }, s,
          {shape(w - 1, h), shape(w, h - 1)}));
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            PlaneStack g(2);
            u.diagdiff(g[0], g[1], planar);
            return g;
          },
          [&](const PlaneStack& g) { return Zero(s).diagdiffT(g[0], g[1]); }, s,
          {shape(w - 1, h - 1), shape(w - 1, h - 1)}));
    }
    auto one = [](auto f) {
      return [f](const matrix& u) {
        PlaneStack out(1);
        f(out[0], u);
        return out;
      };
    };
    const int mw = w / 2 + (w / 2) % 2, mh = h / 2 + (h / 2) % 2;
    EXPECT_TRUE(CheckAdjoint(one([](matrix& o, const matrix& u) { o.reduceh(u); }),
                             [&](const PlaneStack& r) { return Zero(s).reducehT(r[0]); }, s,
                             {{HalfUp(w), h}}));
    EXPECT_TRUE(CheckAdjoint(one([](matrix& o, const matrix& u) { o.reducev(u); }),
                             [&](const PlaneStack& r) { return Zero(s).reducevT(r[0]); }, s,
                             {{w, HalfUp(h)}}));
    EXPECT_TRUE(CheckAdjoint(one([](matrix& o, const matrix& u) { o.reducemirrorh(u); }),
                             [&](const PlaneStack& r) { return Zero(s).reducemirrorhT(r[0]); }, s,
                             {{mw, h}}));
    EXPECT_TRUE(CheckAdjoint(one([](matrix& o, const matrix& u) { o.reducemirrorv(u); }),
                             [&](const PlaneStack& r) { return Zero(s).reducemirrorvT(r[0]); }, s,
                             {{w, mh}}));
    EXPECT_TRUE(CheckAdjoint(one([](matrix& o, const matrix& u) { o.reducemirror(u); }),
                             [&](const PlaneStack& r) { return Zero(s).addreducemirrorT(r[0]); }, s,
                             {{mw, mh}}));

    for (bool diagonal : {false, true}) {
      SCOPED_TRACE(diagonal ? "diagonal" : "forward");
      // The pyramid operator on the unknown of the pyramid solver, which has the level-0 size.
      for (int limit : {1, 2, 8}) {
        const std::vector<PlaneSize> levels = Levels(s, limit);
        std::vector<PlaneSize> out;
        for (int part = 0; part < 2; ++part) {
          for (PlaneSize l : levels) {
            out.push_back({l.first - (diagonal || part == 0 ? 1 : 0),
                           l.second - (diagonal || part == 1 ? 1 : 0)});
          }
        }
        const int count = int(levels.size());
        EXPECT_TRUE(CheckAdjoint(
            [&](const matrix& u) {
              matrixarray gauss, g1, g2;
              u.gradpyramid(gauss, g1, g2, limit, diagonal);
              PlaneStack st;
              for (int i = 0; i < g1.n; ++i) st.push_back(g1[i]);
              for (int i = 0; i < g2.n; ++i) st.push_back(g2[i]);
              return st;
            },
            [&](const PlaneStack& st) {
              matrixarray g1(count), g2(count), scratch;
              for (int i = 0; i < count; ++i) {
                g1[i] = st[i];
                g2[i] = st[count + i];
              }
              matrix plane;
              PyramidGradientsT(plane, scratch, g1, g2, diagonal);
              return plane;
            },
            levels[0], out))
            << "limit " << limit;
      }
      // The multi-resolution operator over three levels of the renormalising reduction.
      std::vector<PlaneSize> out;
      for (int part = 0; part < 2; ++part) {
        for (int k = 0, lw = w, lh = h; k < 3; ++k, lw = HalfUp(lw), lh = HalfUp(lh)) {
          out.push_back(
              {lw - (diagonal || part == 0 ? 1 : 0), lh - (diagonal || part == 1 ? 1 : 0)});
        }
      }
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            matrixarray levels, g1, g2;
            MultiresolutionGradients(u, 3, levels, g1, g2, diagonal);
            PlaneStack st;
            for (int i = 0; i < 3; ++i) st.push_back(g1[i]);
            for (int i = 0; i < 3; ++i) st.push_back(g2[i]);
            return st;
          },
          [&](const PlaneStack& st) {
            matrixarray g1(3), g2(3), scratch;
            for (int i = 0; i < 3; ++i) {
              g1[i] = st[i];
              g2[i] = st[3 + i];
            }
            matrix plane(w, h);
            MultiresolutionGradientsT(plane, scratch, g1, g2, diagonal);
            return plane;
          },
          s, out));
    }
  }
}

TEST(PyramidTest, GradientHelpers) {
  matrix a1(3, 1), a2(3, 1), b1(3, 1), b2(3, 1);
  const float av[3][2] = {{3, 4}, {1, 0}, {0, 2}}, bv[3][2] = {{0, 5}, {0, 2}, {1, 1}};
  for (int k = 0; k < 3; ++k) {
    a1.x[k] = av[k][0];
    a2.x[k] = av[k][1];
    b1.x[k] = bv[k][0];
    b2.x[k] = bv[k][1];
  }
  matrix l1(a1), l2(a2), s1(a1), s2(a2);
  KeepLargerGradients(l1, l2, b1, b2);  // equal magnitudes (5 and 5) keep a
  EXPECT_EQ(Values(l1), (std::vector<float>{3, 0, 0}));
  EXPECT_EQ(Values(l2), (std::vector<float>{4, 2, 2}));
  KeepSmallerGradients(s1, s2, b1, b2);
  EXPECT_EQ(Values(s1), (std::vector<float>{3, 1, 1}));
  EXPECT_EQ(Values(s2), (std::vector<float>{4, 0, 1}));
  matrix m;
  m.magnitude(a1, a2);
  EXPECT_EQ(Values(m), (std::vector<float>{5, 1, 2}));
  EXPECT_EQ(m.maxabs(), 5.0f);
  EXPECT_EQ(matrix().maxabs(), 0.0f);
  matrix half(m);
  half.mulscalar(0.5f);
  half.x[1] = 7;
  matrix zero(m);
  zero.x[2] = 0;
  RescaleGradients(zero, half, a1, a2);  // the zero magnitude leaves its pair alone
  EXPECT_EQ(Values(a1), (std::vector<float>{1.5f, 7, 0}));
  EXPECT_EQ(Values(a2), (std::vector<float>{2, 0, 2}));
}
