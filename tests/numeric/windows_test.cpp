// Cutting reflected windows out of planes and masks, and pasting their inner part back.
#include <gtest/gtest.h>

#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/test_planes.h"
#include "support/zep_test.h"

namespace {
// A row plane of the given values.
matrix Row(const std::vector<float>& v) {
  matrix m(int(v.size()), 1);
  for (size_t i = 0; i < v.size(); ++i) m.x[i] = v[i];
  return m;
}

std::vector<float> Cut(const matrix& source, int width, int x0) {
  matrix window(width, 1);
  return Values(window.extract(source, x0, 0));
}
}  // namespace

using WindowsTest = ZepTest;

TEST_F(WindowsTest, ExtractReflectsOnTheEdgeSample) {
  const matrix abcde = Row({1, 2, 3, 4, 5, 6});  // a, b, c, ...
  const matrix abcd = Row({1, 2, 3, 4});
  const matrix abc = Row({1, 2, 3});
  struct Case {
    const char* name;
    const matrix& source;
    int width, x0;
    std::vector<float> expected;
  } cases[] = {
      {"inside: a plain copy", abcde, 3, 2, {3, 4, 5}},
      {"width 5 at -2: c, b, a, b, c", abcde, 5, -2, {3, 2, 1, 2, 3}},
      {"width 3 at 3 of 4: d, c, b", abcd, 3, 3, {4, 3, 2}},
      // Three widths beyond a 3-sample source: the reflection folds again and again
      // (period 4: a b c b a b c b ...).
      {"far right of a 3-sample source", abc, 4, 9, {2, 3, 2, 1}},
      {"far left of a 3-sample source", abc, 4, -9, {2, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Cut(c.source, c.width, c.x0), c.expected);
  }

  // Rows reflect as columns do; a 1 x 1 source fills any window.
  matrix column(1, 3);
  column.x[0] = 1, column.x[1] = 2, column.x[2] = 3;
  matrix window(1, 5);
  EXPECT_EQ(Values(window.extract(column, 0, -2)), (std::vector<float>{3, 2, 1, 2, 3}));
  matrix one(1, 1);
  one.x[0] = 7;
  matrix wide(3, 2);
  EXPECT_EQ(Values(wide.extract(one, -40, 17)), std::vector<float>(6, 7.0f));
}

TEST_F(WindowsTest, MaskExtractSetsAndClearsEveryBitAsThePlaneReads) {
  bitmask source(5, 3);
  source.set(0, 0, true);
  source.set(2, 1, true);
  source.set(4, 2, true);
  matrix plane(5, 3);
  for (int k = 0; k < plane.n; ++k) plane.x[k] = source.getbit(k) ? 1.0f : 0.0f;
  for (const auto& [x0, y0] : {std::pair{-3, -2}, std::pair{1, 1}, std::pair{3, 2}}) {
    bitmask window(6, 4);
    for (int k = 0; k < window.n; ++k) window.setbit(k, true);  // no clearing needed
    window.extract(source, x0, y0);
    matrix reference(6, 4);
    reference.extract(plane, x0, y0);
    for (int k = 0; k < window.n; ++k) EXPECT_EQ(window.getbit(k), reference.x[k] == 1.0f) << k;
  }
}

TEST_F(WindowsTest, PasteInnerWritesTheInnerBlockInsideTheDestinationOnly) {
  const matrix window = Noise(4, 3, 5);
  struct Case {
    const char* name;
    int x0, y0, left, right, top, bottom;
    bool masked;
  } cases[] = {
      {"whole window at the origin", 0, 0, 0, 0, 0, 0, false},
      {"margins", 1, 2, 1, 1, 1, 0, false},
      {"hanging over the right and bottom edges", 3, 3, 0, 0, 0, 0, false},
      {"hanging over the left", -2, 0, 0, 1, 0, 0, false},
      {"masked", 1, 1, 0, 0, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    matrix dest(5, 5);
    dest.fill(-1.0f);
    bitmask mask(5, 5);
    for (int k = 0; k < 25; k += 2) mask.setbit(k, true);
    dest.pasteinner(c.x0, c.y0, window, c.masked ? &mask : nullptr, c.left, c.right, c.top,
                    c.bottom);
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 5; ++x) {
        const int col = x - c.x0 + c.left, row = y - c.y0 + c.top;
        const bool inBlock = col >= c.left && col < window.nx - c.right && row >= c.top &&
                             row < window.ny - c.bottom;
        const bool written = inBlock && (!c.masked || mask.get(x, y));
        EXPECT_EQ(dest.at(x, y), written ? window.at(col, row) : -1.0f) << x << "," << y;
      }
    }
  }
}
