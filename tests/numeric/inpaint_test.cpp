#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"

namespace {
matrix Plane(int w, int h, const std::function<float(int, int)>& f) {
  matrix p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.z[y][x] = f(x, y);
  return p;
}

bitmask Region(int w, int h, const std::function<bool(int, int)>& inside) {
  bitmask r(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) r.set(x, y, inside(x, y));
  return r;
}
}  // namespace

// Only the border is known: the fill must still reach the middle, ring by ring.
TEST(FillMasked, ReachesTheMiddleFromAKnownBorderAlone) {
  const int w = 9, h = 7;
  matrix p = Plane(w, h, [&](int x, int y) {
    return x == 0 || y == 0 || x == w - 1 || y == h - 1 ? 10.0f : -500.0f;
  });
  const bitmask r =
      Region(w, h, [&](int x, int y) { return x > 0 && y > 0 && x < w - 1 && y < h - 1; });
  p.fillmasked(r);
  for (int k = 0; k < p.n; ++k) EXPECT_EQ(p.x[k], 10.0f) << k;
}

TEST(FillMasked, MeansOfKnownNeighboursAndBordersUntouched) {
  // A 5x4 plane: the masked pixels are (2, 1), (3, 1) and the border pixel (0, 2).
  matrix p = Plane(5, 4, [](int x, int y) { return float(x + 10 * y); });
  p.z[1][2] = p.z[1][3] = p.z[2][0] = -1.0f;
  const bitmask r = Region(
      5, 4, [](int x, int y) { return (y == 1 && (x == 2 || x == 3)) || (x == 0 && y == 2); });
  p.fillmasked(r);
  EXPECT_EQ(p.z[2][0], -1.0f);
  // (2, 1) has seven known neighbours (not (3, 1)), (3, 1) seven (not (2, 1)); both are
  // filled in the first pass from the values before it.
  const float a = (1 + 2 + 3 + 11 + 21 + 22 + 23) / 7.0f;
  const float b = (2 + 3 + 4 + 14 + 22 + 23 + 24) / 7.0f;
  EXPECT_FLOAT_EQ(p.z[1][2], a);
  EXPECT_FLOAT_EQ(p.z[1][3], b);
}

TEST(InpaintInit, SettlesOnALinearRampAndMirrorsAtTheBorder) {
  // 3 x 3 averaging keeps a linear ramp: the hole settles on it.
  const int w = 12, h = 10;
  const auto ramp = [](int x, int y) { return 3.0f * x + 2.0f * y; };
  matrix p = Plane(w, h, ramp);
  const bitmask hole =
      Region(w, h, [](int x, int y) { return x >= 3 && x < 8 && y >= 2 && y < 7; });
  for (int y = 2; y < 7; ++y)
    for (int x = 3; x < 8; ++x) p.z[y][x] = 0.0f;
  p.inpaintinit(hole, 1e-5f);
  for (int y = 2; y < 7; ++y)
    for (int x = 3; x < 8; ++x) EXPECT_NEAR(p.z[y][x], ramp(x, y), 0.01f) << x << "," << y;

  // A masked corner pixel of a flat plane takes the flat value from mirrored neighbours.
  matrix flat = Plane(4, 4, [](int, int) { return 7.0f; });
  flat.z[0][0] = 100.0f;
  flat.inpaintinit(Region(4, 4, [](int x, int y) { return x == 0 && y == 0; }), 1e-4f);
  EXPECT_NEAR(flat.z[0][0], 7.0f, 1e-3f);

  // Tiny planes and a whole-plane region stay finite and in range.
  for (int s = 1; s <= 3; ++s) {
    matrix t = Plane(s, s, [](int x, int y) { return float(x + y); });
    t.inpaintinit(Region(s, s, [](int, int) { return true; }), 1e-3f);
    for (int k = 0; k < t.n; ++k) EXPECT_TRUE(t.x[k] >= 0.0f && t.x[k] <= 4.0f);
  }
  // A region of another size changes nothing.
  matrix other = Plane(3, 3, [](int, int) { return 1.0f; });
  other.inpaintinit(Region(4, 3, [](int, int) { return true; }), 1e-3f);
  for (int k = 0; k < other.n; ++k) EXPECT_EQ(other.x[k], 1.0f);
}

TEST(GridMask, KeepsOneLatticePixelPerBlock) {
  struct Case {
    int s, w, h, offset;
    int d;  // the lattice start, or -1 for a lattice that sets nothing
  };
  const Case cases[] = {
      {4, 400, 300, 0, 0}, {4, 400, 300, 1, 1}, {3, 300, 300, 2, 1},
      {5, 20, 15, 9, 2},   {4, 12, 8, 400, -1}, {2, 6, 4, -1, 1},  // -1 skips to 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "s=" << c.s << " offset=" << c.offset);
    bitmask m(3, 3);
    m.gridmask(c.s, c.w, c.h, c.offset);
    ASSERT_TRUE(m.covers(c.w, c.h));
    int kept = 0;
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) {
        const bool lattice = c.d >= 0 && x % c.s == c.d && y % c.s == c.d;
        ASSERT_EQ(m.get(x, y), !lattice) << x << "," << y;
        kept += lattice;
      }
    }
    if (c.d >= 0) {
      EXPECT_EQ(kept, (c.w / c.s) * (c.h / c.s));
    }
  }
}
