#include "numeric/bitmask.h"

#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "support/zep_test.h"

using BitmaskTest = ZepTest;

namespace {
// A mask from rows of '#' (set) and '.', the first string row 0.
bitmask Mask(const std::vector<std::string>& rows) {
  bitmask m(int(rows[0].size()), int(rows.size()));
  for (int y = 0; y < m.height; ++y) {
    for (int x = 0; x < m.width; ++x) m.set(x, y, rows[size_t(y)][size_t(x)] == '#');
  }
  return m;
}

std::vector<std::string> Rows(const bitmask& m) {
  std::vector<std::string> rows;
  for (int y = 0; y < m.height; ++y) {
    std::string r;
    for (int x = 0; x < m.width; ++x) r += m.get(x, y) ? '#' : '.';
    rows.push_back(r);
  }
  return rows;
}

// True when no bit past n is set.
bool TailClear(const bitmask& m) {
  for (int k = m.n; k < m.words * 32; ++k) {
    if ((m.bits[k >> 5] >> (k & 31)) & 1u) return false;
  }
  return true;
}
}  // namespace

TEST_F(BitmaskTest, LayoutAndWordCounts) {
  // ceil(n/32) words whichever way the mask was made.
  bitmask a(32, 1), b;
  b.dim(32, 1);
  EXPECT_EQ(a.words, 1);
  EXPECT_EQ(b.words, 1);
  EXPECT_EQ(bitmask(33, 1).words, 2);
  // Pixel (0, 1) of a 10-wide mask is bit 10 of word 0.
  bitmask m(10, 4);
  m.set(0, 1, true);
  EXPECT_EQ(m.bits[0], 0x400u);
  // Reshaping with the same count keeps the bits, read with the new width.
  bitmask r(4, 8);
  r.set(1, 2, true);  // index 9
  r.dim(8, 4);
  EXPECT_TRUE(r.get(1, 1));
  // Inverting complements the pixels but leaves the bits past n clear, so equal masks
  // compare equal word by word.
  bitmask t(5, 3);
  t.set(4, 2, true);
  t.invert();
  EXPECT_FALSE(t.get(4, 2));
  EXPECT_TRUE(t.get(0, 0));
  EXPECT_TRUE(TailClear(t));
  bitmask o(5, 3);
  o.invert().xorwith(t);
  EXPECT_EQ(o.bits[0], 1u << 14);
  o.orwith(t).andwith(t);
  EXPECT_EQ(o.bits[0], t.bits[0]);
}

TEST_F(BitmaskTest, GrowAndBoundary) {
  struct Case {
    const char* name;
    std::vector<std::string> in, grown, boundary;
  } cases[] = {
      {"corner", {"#...", "....", "...."}, {"#...", "....", "...."}, {"....", "....", "...."}},
      {"inner",
       {".....", ".#...", ".....", "....."},
       {"###..", "###..", "###..", "....."},
       {".....", ".#...", ".....", "....."}},
      {"block",
       {".....", ".###.", ".###.", ".###.", "....."},
       {"#####", "#####", "#####", "#####", "#####"},
       {".....", ".###.", ".#.#.", ".###.", "....."}},
      {"full", {"####", "####", "####"}, {"####", "####", "####"}, {"....", "....", "...."}},
  };
  for (const Case& c : cases) {
    bitmask g = Mask(c.in), b = Mask(c.in);
    EXPECT_EQ(Rows(g.grow()), c.grown) << c.name;
    EXPECT_EQ(Rows(b.boundary()), c.boundary) << c.name;
  }
}

TEST_F(BitmaskTest, FlipsShiftsAndLines) {
  bitmask m = Mask({"#..", "##.", "..."});
  EXPECT_EQ(Rows(bitmask(m).fliph()), (std::vector<std::string>{"..#", ".##", "..."}));
  EXPECT_EQ(Rows(bitmask(m).flipv()), (std::vector<std::string>{"...", "##.", "#.."}));

  struct Shift {
    int dx, dy;
    std::vector<std::string> want;
  } shifts[] = {{1, 0, {".#..", "...."}}, {-1, 0, {"...#", "...."}}, {0, 1, {"....", "#..."}},
                {4, 0, {"#...", "...."}}, {-9, 0, {"#...", "...."}}, {2, -1, {"....", "..#."}}};
  for (const Shift& s : shifts) {
    bitmask r = Mask({"#...", "...."});
    EXPECT_EQ(Rows(r.shift(s.dx, s.dy)), s.want) << s.dx << " " << s.dy;
  }

  bitmask l(6, 4);
  l.line(0, 0, 4, 2, true);
  EXPECT_EQ(Rows(l), (std::vector<std::string>{"#.....", ".##...", "...##.", "......"}));
  l.line(4, 2, 0, 0, false);  // the same pixels from the other end
  int count, x, y, w, h;
  l.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(x + y + w + h, 0);
  // Steep lines and lines running past the edges are clipped to the mask.
  l.line(1, -3, 2, 9, true);
  l.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(x, 1);  // x = trunc(1.75 + y/12): 1 for rows 0 to 2, 2 for row 3
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 4);
  EXPECT_TRUE(l.get(2, 3));
  l.line(-100, 1, 100, 1, true);
  l.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 9);
  EXPECT_EQ(w, 6);
}

TEST_F(BitmaskTest, IndicesAndPositive) {
  matrix p(4, 2);
  const float values[] = {0.5f, 0.0f, -1.0f, 2.0f, NAN, 1e-30f, 0.0f, 7.0f};
  for (int k = 0; k < 8; ++k) p.x[k] = values[k];
  bitmask m;
  m.positive(p);
  cvector<int> v;
  m.indices(v);
  EXPECT_EQ(std::vector<int>(v.x, v.x + v.n), (std::vector<int>{0, 3, 5, 7}));
  // An empty mask leaves the vector untouched.
  bitmask empty;
  empty.indices(v);
  EXPECT_EQ(v.n, 4);
}

TEST_F(BitmaskTest, ResampleAndSmooth) {
  bitmask m(10, 10);
  for (int y = 2; y < 7; ++y) {
    for (int x = 3; x < 8; ++x) m.set(x, y, true);
  }
  bitmask big(m);
  big.resample(2, 2, 0, 0);
  ASSERT_EQ(big.width, 20);
  ASSERT_EQ(big.height, 20);
  EXPECT_TRUE(TailClear(big));
  // The block of 5 x 5 becomes 10 x 10 at twice the position.
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      EXPECT_EQ(big.get(x, y), x >= 6 && x < 16 && y >= 4 && y < 14) << x << " " << y;
    }
  }
  bitmask small(big);
  small.resample(0.5, 0.5, 0, 0);
  EXPECT_EQ(Rows(small), Rows(m));

  // Smoothing a staircase: a single notch in a straight edge is filled or the spur
  // removed, and a large square keeps its interior.
  bitmask s(12, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 12; ++x) s.set(x, y, x >= 2 && x < 10 && y >= 2 && y < 10);
  }
  s.set(10, 5, true);  // a one-pixel spur
  s.smooth(8);
  EXPECT_FALSE(s.get(10, 5));
  EXPECT_TRUE(s.get(5, 5));
  EXPECT_FALSE(s.get(0, 0));
  bitmask none;
  none.smooth(3).resample(2, 2, 0, 0);
  EXPECT_FALSE(none.present());
}

TEST_F(BitmaskTest, ByteMaskAndDisc) {
  bytemask b;
  b.dim(16, 2);
  EXPECT_EQ(b.bytes, 5);
  b.set(3, 0, true);
  EXPECT_EQ(b.data[0], 0x10);
  EXPECT_TRUE(b.get(3, 0));
  bytemask copy(b);
  copy.invert();
  EXPECT_EQ(copy.data[0], 0xEF);

  b.circle(3, 2, 2);
  EXPECT_EQ(b.width, 16);
  EXPECT_EQ(b.height, 11);
  // An outline around the centre (5, 5), the centre itself set, the padding clear.
  EXPECT_TRUE(b.get(5, 5));
  EXPECT_TRUE(b.get(2, 5));
  EXPECT_TRUE(b.get(8, 5));
  EXPECT_TRUE(b.get(5, 8));
  EXPECT_FALSE(b.get(3, 5));
  EXPECT_FALSE(b.get(9, 5));
  for (int y = 0; y < 11; ++y) {
    for (int x = 11; x < 16; ++x) EXPECT_FALSE(b.get(x, y));
  }
  bytemask far;
  far.circle(2, 40, -40);  // centre outside: nothing drawn outside the bytes
  EXPECT_EQ(far.width, 16);
  far = bytemask();  // an empty copy frees, and reads nothing
  EXPECT_EQ(far.data, nullptr);
  EXPECT_EQ(far.bytes, 0);

  cmatrix c(3, 3);
  EXPECT_EQ(c.disk(), 9);
  c.dim(5, 5);
  EXPECT_EQ(c.disk(), 21);
  EXPECT_EQ(c.rows[0][0], 0);
  EXPECT_EQ(c.rows[0][1], 1);
  EXPECT_EQ(c.rows[4][4], 0);
}
