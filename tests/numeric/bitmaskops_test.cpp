#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"
#include "support/zep_test.h"
#include "test_planes.h"

using BitmaskOpsTest = ZepTest;

namespace {
matrix Plane(int w, int h, const std::vector<float>& v) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) m.x[k] = v[size_t(k)];
  return m;
}

std::vector<int> SetBits(const bitmask& m) {
  std::vector<int> v;
  for (int k = 0; k < m.n; ++k) {
    if (m.getbit(k)) v.push_back(k);
  }
  return v;
}

std::vector<int> SetRows(const bitmask& m) {
  std::vector<int> rows;
  for (int y = 0; y < m.height; ++y) {
    bool all = true, any = false;
    for (int x = 0; x < m.width; ++x) all &= m.get(x, y), any |= m.get(x, y);
    EXPECT_EQ(all, any) << "row " << y << " only partly set";
    if (all) rows.push_back(y);
  }
  return rows;
}

// Runs the reference script on a plane written as "w h" and its values; returns its 0/1s.
std::vector<int> Reference(const std::filesystem::path& home, const matrix& p,
                           const std::string& args) {
  const std::filesystem::path in = home / "in.txt", out = home / "out.txt";
  {
    std::ofstream f(in);
    f.precision(9);
    f << p.nx << " " << p.ny << "\n";
    for (int k = 0; k < p.n; ++k) f << p.x[k] << "\n";
  }
  const std::string cmd = std::string("/usr/bin/python3 ") + ZEP_SOURCE_DIR +
                          "/tests/numeric/reference/mask_reference.py '" + in.string() + "' '" +
                          out.string() + "' " + args;
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream f(out);
  std::vector<int> v;
  for (int b; f >> b;) v.push_back(b);
  return v;
}

bool HaveScipy() { return std::system("/usr/bin/python3 -c 'import scipy' 2>/dev/null") == 0; }
}  // namespace

TEST_F(BitmaskOpsTest, ByColorThresholdsAndNorms) {
  // Two pixels against the colour (100, 100, 100) with weights 1/255: (120, 90, 125) lies
  // 25/255 away at most, (126, 100, 100) 26/255.
  const float w = 1.0f / 255;
  const matrix r = Plane(2, 1, {120, 126}), g = Plane(2, 1, {90, 100}), b = Plane(2, 1, {125, 100});
  const matrix* const planes[3] = {&r, &g, &b};
  const float c[3] = {100, 100, 100}, ws[3] = {w, w, w};
  struct Case {
    const char* name;
    int norm;
    float t;
    bool first, second;
  };
  // L1: sums 55/255 and 26/255 against 3t; L2: 1125/255^2 and 676/255^2 against 3t^2.
  const Case cases[] = {
      {"Linf 0.1", 0, 0.1f, true, false},      {"Linf 26.5/255", 0, 26.5f / 255, true, true},
      {"L1 0.1", 1, 0.1f, true, true},         {"L1 0.07", 1, 0.07f, false, true},
      {"L2 0.1", 2, 0.1f, true, true},         {"L2 0.07", 2, 0.07f, false, true},
      {"unknown norm", 3, 1.0f, false, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    bitmask m(2, 1);
    m.bycolor3(planes, c, ws, k.t, k.norm);
    EXPECT_EQ(m.get(0, 0), k.first);
    EXPECT_EQ(m.get(1, 0), k.second);
  }
  // Bits already set stay set, and two or four channels test alike.
  bitmask m(2, 1);
  m.set(1, 0, true);
  m.bycolor2(r, 100, w, g, 100, w, 0.1f, 0);
  EXPECT_EQ(SetBits(m), (std::vector<int>{0, 1}));
  const matrix* const four[4] = {&r, &g, &b, &b};
  const float c4[4] = {100, 100, 100, 100}, w4[4] = {w, w, w, w};
  bitmask m4(2, 1);
  m4.bycolor4(four, c4, w4, 0.1f, 0);
  EXPECT_EQ(SetBits(m4), (std::vector<int>{0}));
}

TEST_F(BitmaskOpsTest, ByColorOneChannelIgnoresTheNormAndANegativeWeightTakesAll) {
  const matrix p = Plane(4, 1, {10, 12, 13, -100});
  bitmask m(4, 1);
  m.bycolor1(p, 10, 0.5f, 1.0f);  // |v - 10| <= 2
  EXPECT_EQ(SetBits(m), (std::vector<int>{0, 1}));
  bitmask all(4, 1);
  all.bycolor1(p, 10, -1, 0.0f);
  EXPECT_EQ(SetBits(all), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(BitmaskOpsTest, GradientEdgesMarkFromTheExactThresholdAndNeverTheBorder) {
  // A step of 20 between columns 2 and 3: Sobel gives gx = 80 and Prewitt 60 on columns
  // 2 and 3 of the inner rows.
  matrix p(6, 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) p.at(x, y) = x >= 3 ? 20.0f : 0.0f;
  }
  struct Case {
    const char* name;
    bool sobel;
    float t;
    bool marked;
  };
  const Case cases[] = {{"sobel at 20", true, 20, true},
                        {"sobel just above", true, 20.01f, false},
                        {"prewitt at 20", false, 20, true},
                        {"prewitt just above", false, 20.01f, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bitmask m(6, 5);
    if (c.sobel) {
      p.sobel(c.t, &m);
    } else {
      p.prewitt(c.t, &m);
    }
    std::vector<int> want;
    if (c.marked) {
      for (int y = 1; y <= 3; ++y) want.push_back(2 + 6 * y), want.push_back(3 + 6 * y);
    }
    EXPECT_EQ(SetBits(m), want);
  }
  // Without a mask the plane becomes the magnitude, 0 on the border.
  matrix q(p);
  q.sobel(0, nullptr);
  EXPECT_EQ(q.at(2, 2), 80.0f);
  EXPECT_EQ(q.at(1, 2), 0.0f);
  EXPECT_EQ(q.at(3, 0), 0.0f);
  // Planes too small for an interior, and a mask of another size, mark nothing.
  for (const auto& [w, h] : {std::pair{1, 1}, {1, 7}, {7, 2}}) {
    matrix s(Noise(w, h, 3));
    bitmask m(w, h);
    s.sobel(-1, &m);
    EXPECT_TRUE(SetBits(m).empty());
  }
  bitmask other(5, 6);
  p.sobel(0, &other);
  EXPECT_TRUE(SetBits(other).empty());
}

TEST_F(BitmaskOpsTest, GradientEdgesAgreeWithScipy) {
  if (!HaveScipy()) GTEST_SKIP() << "python3-scipy is not installed";
  const matrix p = Noise(41, 23, 5);
  for (const char* what : {"sobel", "prewitt"}) {
    SCOPED_TRACE(what);
    bitmask m(p.nx, p.ny);
    matrix q(p);
    const float t = 0.9f;
    if (std::string(what) == "sobel") {
      q.sobel(t, &m);
    } else {
      q.prewitt(t, &m);
    }
    const std::vector<int> theirs = Reference(home, p, std::string(what) + " 0.9");
    ASSERT_EQ(theirs.size(), size_t(p.n));
    int marked = 0;
    for (int k = 0; k < p.n; ++k) {
      EXPECT_EQ(int(m.getbit(k)), theirs[size_t(k)]) << k;
      marked += theirs[size_t(k)];
    }
    EXPECT_GT(marked, 0);
    EXPECT_LT(marked, p.n);
  }
}

TEST_F(BitmaskOpsTest, FloodFillStaysInsideItsComponent) {
  // A ring with a diagonal gap at its lower-left corner: filling inside must neither
  // leak through the gap nor cross the ring.
  const std::vector<std::string> rows = {
      ".......",  //
      ".#####.",  //
      "#....#.",  //
      ".#...#.",  //
      ".#####.",  //
      ".......",
  };
  bitmask m(7, 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 7; ++x) m.set(x, y, rows[size_t(y)][size_t(x)] == '#');
  }
  const bitmask before(m);
  bitmask inside(m);
  inside.floodfill(3, 2, true);
  int added = 0;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 7; ++x) {
      const bool interior = (y == 2 && x >= 1 && x <= 4) || (y == 3 && x >= 2 && x <= 4);
      EXPECT_EQ(inside.get(x, y), before.get(x, y) || interior) << x << "," << y;
      added += inside.get(x, y) && !before.get(x, y);
    }
  }
  EXPECT_EQ(added, 7);
  // A seed already holding the value, or outside, changes nothing.
  for (const auto& [x, y, v] :
       {std::tuple{1, 1, true}, {0, 0, false}, {-1, 0, true}, {7, 0, true}}) {
    bitmask same(m);
    same.floodfill(x, y, v);
    EXPECT_EQ(SetBits(same), SetBits(m));
  }
  // Clearing from a ring pixel removes the ring (4-connected) but not the lone pixel at
  // the diagonal gap.
  bitmask cleared(m);
  cleared.floodfill(1, 1, false);
  EXPECT_EQ(SetBits(cleared), (std::vector<int>{0 + 2 * 7}));
  // Corners of a clear mask and a 1x1 mask fill everything.
  for (const auto& [x, y] : {std::pair{0, 0}, {6, 0}, {0, 5}, {6, 5}}) {
    bitmask all(7, 6);
    all.floodfill(x, y, true);
    EXPECT_EQ(SetBits(all).size(), 42u);
  }
  bitmask one(1, 1);
  one.floodfill(0, 0, true);
  EXPECT_TRUE(one.get(0, 0));
}

TEST_F(BitmaskOpsTest, FloodFillAgreesWithScipyLabel) {
  if (!HaveScipy()) GTEST_SKIP() << "python3-scipy is not installed";
  const matrix noise = Noise(53, 31, 9);
  bitmask m(noise.nx, noise.ny);
  matrix zeroOne(noise.nx, noise.ny);
  for (int k = 0; k < noise.n; ++k) {
    m.setbit(k, noise.x[k] > 0.1f);
    zeroOne.x[k] = m.getbit(k) ? 1.0f : 0.0f;
  }
  int seed = 0;
  while (m.getbit(seed)) ++seed;
  const int sx = seed % m.width, sy = seed / m.width;
  const std::vector<int> component =
      Reference(home, zeroOne, "fill " + std::to_string(sx) + " " + std::to_string(sy));
  ASSERT_EQ(component.size(), size_t(m.n));
  bitmask filled(m);
  filled.floodfill(sx, sy, true);
  for (int k = 0; k < m.n; ++k) {
    EXPECT_EQ(filled.getbit(k), m.getbit(k) || component[size_t(k)] == 1) << k;
  }
}

TEST_F(BitmaskOpsTest, BarsSetWholeRowsAndColumnsInBands) {
  struct Case {
    const char* name;
    int count, period, start;
    bool fromBottom;
    std::vector<int> rows;
  };
  const Case cases[] = {
      {"from the top", 2, 8, -1, false, {3, 4, 11, 12, 19}},
      {"from the bottom", 2, 8, -1, true, {0, 7, 8, 15, 16}},
      {"no width", 0, 8, 0, false, {}},
      {"no period", 2, 0, 0, false, {}},
      {"start past the edge", 2, 8, 25, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bitmask m(10, 20);
    m.rowbars(c.count, c.period, c.start, c.fromBottom);
    EXPECT_EQ(SetRows(m), c.rows);
  }
  bitmask m(10, 20);
  m.columnbars(2, 8, -1);
  for (int x = 0; x < 10; ++x) {
    bool whole = true;
    for (int y = 0; y < 20; ++y) whole &= m.get(x, y);
    EXPECT_EQ(whole, x == 0 || x == 7 || x == 8) << x;
  }
  EXPECT_EQ(SetBits(m).size(), 60u);
  bitmask thin(1, 5);
  thin.columnbars(1, 1, 0);
  EXPECT_EQ(SetBits(thin).size(), 5u);
}

TEST_F(BitmaskOpsTest, EllipseOutlineAndDegenerateThirdPoints) {
  bitmask m(40, 20);
  m.ellipse(10, 10, 30, 10, 20, 15, true);
  const std::vector<int> set = SetBits(m);
  ASSERT_FALSE(set.empty());
  for (int k : set) {
    const double x = k % 40 - 20.0, y = k / 40 - 10.0;
    // Every pixel lies within a pixel of the outline with semi-axes 10 and 5.
    const double r = std::hypot(x / 10, y / 5);
    EXPECT_NEAR(r, 1.0, 0.21) << x << "," << y;
  }
  for (const auto& [x, y] : {std::pair{30, 10}, {10, 10}, {20, 15}, {20, 5}}) {
    EXPECT_TRUE(m.get(x, y)) << x << "," << y;
  }
  // Clearing with the same points takes them all back.
  m.ellipse(10, 10, 30, 10, 20, 15, false);
  EXPECT_TRUE(SetBits(m).empty());
  struct Case {
    const char* name;
    int x3, y3;
  };
  const Case none[] = {
      {"on the axis", 25, 10}, {"beyond the axis end", 31, 12}, {"at an end", 30, 14}};
  for (const Case& c : none) {
    SCOPED_TRACE(c.name);
    bitmask e(40, 20);
    e.ellipse(10, 10, 30, 10, c.x3, c.y3, true);
    EXPECT_TRUE(SetBits(e).empty());
  }
  // An ellipse reaching past the edges draws its inside part only.
  bitmask edge(8, 8);
  edge.ellipse(-5, 0, 5, 0, 0, 3, true);
  for (int k : SetBits(edge)) EXPECT_LE(k % 8, 5);
  EXPECT_TRUE(edge.get(0, 3));
}

TEST_F(BitmaskOpsTest, MaskBuildersGiveTheSameBitsOnOneAndEightThreads) {
  // An odd width puts row ends inside words, where parallel blocks would meet.
  const matrix p = Noise(301, 97, 21);
  const auto build = [&](int threads) {
    SetParallelThreads(threads);
    bitmask a(p.nx, p.ny), b(p.nx, p.ny);
    a.bycolor1(p, 0.2f, 1.0f, 0.3f);
    matrix q(p);
    q.sobel(0.5f, &b);
    matrix r(p);
    r.prewitt(0, nullptr);
    SetParallelThreads(0);
    return std::tuple{SetBits(a), SetBits(b), Values(r)};
  };
  EXPECT_EQ(build(1), build(8));
}

// The tests run row by row into pieces and are packed into words afterwards: on a plane
// whose rows end inside words, every bit equals the per-pixel test, for each norm and
// channel count, and bits already set stay set.
TEST_F(BitmaskOpsTest, ByColorRowPiecesMatchThePerPixelTest) {
  const matrix r = Noise(301, 97, 3), g = Noise(301, 97, 4), b = Noise(301, 97, 5);
  const matrix* const planes[3] = {&r, &g, &b};
  const float c[3] = {0.1f, -0.2f, 0.3f}, w[3] = {1.0f, 0.5f, 2.0f}, t = 0.6f;
  for (int norm = 0; norm <= 2; ++norm) {
    SCOPED_TRACE(norm);
    bitmask m(r.nx, r.ny), one(r.nx, r.ny);
    for (int k = 0; k < m.n; k += 37) m.setbit(k, true);
    m.bycolor3(planes, c, w, t, norm);
    one.bycolor1(r, c[0], w[0], t);
    const float limit = norm == 0 ? t : norm == 1 ? 3 * t : 3 * t * t;
    for (int k = 0; k < m.n; ++k) {
      float acc = 0;
      for (int i = 0; i < 3; ++i) {
        const float d = w[i] * std::fabs(planes[i]->x[k] - c[i]);
        acc = norm == 0 ? std::max(acc, d) : acc + (norm == 1 ? d : d * d);
      }
      ASSERT_EQ(m.getbit(k), acc <= limit || k % 37 == 0) << k;
      ASSERT_EQ(one.getbit(k), std::fabs(r.x[k] - c[0]) <= t / w[0]) << k;
    }
  }
}
