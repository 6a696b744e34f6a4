// Periodic smoothing's lattice filter and its WMMR-average.
#include <iterator>
#include <vector>

#include "numeric/matrix.h"
#include "numeric/test_planes.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
matrix Row(const std::vector<float>& v) {
  matrix m(int(v.size()), 1);
  for (int k = 0; k < m.n; ++k) m.x[k] = v[k];
  return m;
}

float Median(matrix& v) { return v.median(); }
float Wmmr(matrix& v) { return v.wmmr(); }
float ShortHalfMean(matrix& v) { return v.shorthmean(); }
float Mean(matrix& v) { return v.mean(); }

// One reflection about the edge sample, enough for offsets shorter than the side.
int Mirror(int t, int n) { return t < 0 ? -t : t >= n ? 2 * n - 2 - t : t; }
}  // namespace

using PeriodicTest = ZepTest;

TEST_F(PeriodicTest, ShortHalfMeanTakesTheFirstNarrowestWindowButNeverTheLast) {
  struct Case {
    std::vector<float> values;
    float expected;
  } cases[] = {
      {{1, 2, 3, 10}, 1.5f},  // windows at 0 and 1 tie: the first
      {{5, 1}, 1.0f},         // one window of one value, at 0
      {{7}, 7.0f},
      {{11, 0, 5, 10}, 2.5f},      // the window (10, 11) at 2 is narrower but not examined
      {{100, 6, 5, 0, 7}, 6.0f},   // b = 3: (5, 6, 7) from 1 beats (0, 5, 6)
      {{4, 4, 4, 4, 4, 4}, 4.0f},  // a constant
  };
  for (const Case& c : cases) {
    matrix m = Row(c.values);
    EXPECT_FLOAT_EQ(m.shorthmean(), c.expected) << c.values.size() << " values";
  }
  EXPECT_FLOAT_EQ(Row({1, 2, 3, 10}).mean(), 4.0f);
  EXPECT_EQ(matrix().mean(), 0.0f);
}

// The filter beside a plain rendering of its definition: offsets inside the plane, every
// statistic, two passes each reading the plane the pass before left.
TEST_F(PeriodicTest, NeighbourhoodMatchesItsDefinitionAtEveryPixel) {
  const int w = 13, h = 11;
  const matrix input = Noise(w, h, 5);
  const int32_t dx[] = {0, 3, 2, -2, -3, -2, 2};
  const int32_t dy[] = {0, 0, 3, 3, 0, -3, -4};
  float (*const functions[])(matrix&) = {Median, Wmmr, ShortHalfMean, Mean};
  for (int f = 0; f < 4; ++f) {
    for (const int count : {2, 5, 7}) {
      SCOPED_TRACE(testing::Message() << "function " << f << ", " << count << " offsets");
      matrix want(input);
      for (int pass = 0; pass < 2; ++pass) {
        const matrix before(want);
        for (int i = 0; i < h; ++i) {
          for (int j = 0; j < w; ++j) {
            matrix v(count, 1);
            for (int k = 0; k < count; ++k) {
              v.x[k] = before.z[Mirror(i + dy[k], h)][Mirror(j + dx[k], w)];
            }
            want.z[i][j] = functions[f](v);
          }
        }
      }
      matrix got(input);
      got.neighbourhood(dx, dy, count, functions[f], 2);
      EXPECT_EQ(Values(got), Values(want));
    }
  }
}

TEST_F(PeriodicTest, ZeroOffsetsLeaveThePlaneAndFarOffsetsFoldAgain) {
  const matrix input = Noise(5, 4, 9);
  const int32_t zeros[7] = {};
  matrix same(input);
  same.neighbourhood(zeros, zeros, 7, Median, 3);
  EXPECT_EQ(Values(same), Values(input));

  // Offsets of several widths and heights: whole periods of the reflection (8 columns, 6
  // rows) come back to the pixel itself; 15 columns read one column to the left.
  const int32_t periodX[] = {-24, 16}, periodY[] = {12, -6};
  matrix folded(input);
  folded.neighbourhood(periodX, periodY, 2, Mean, 1);
  EXPECT_EQ(Values(folded), Values(input));
  const int32_t farX[] = {15}, farY[] = {-18};
  matrix shifted(input);
  shifted.neighbourhood(farX, farY, 1, Mean, 1);
  const int from[] = {1, 0, 1, 2, 3};
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 5; ++j) EXPECT_EQ(shifted.z[i][j], input.z[i][from[j]]) << j << "," << i;
  }
  // A single row or column reads itself everywhere across it.
  const int32_t acrossX[] = {0, 7}, acrossY[] = {-3, 2};
  matrix line = Noise(9, 1, 2), column = Noise(1, 9, 3);
  const matrix lineBefore(line), columnBefore(column);
  line.neighbourhood(acrossX, acrossY, 1, Mean, 1);  // (0, -3): the row itself
  EXPECT_EQ(Values(line), Values(lineBefore));
  column.neighbourhood(acrossX + 1, acrossY + 1, 1, Mean, 1);  // (7, 2): two rows up
  for (int i = 0; i < 9; ++i) EXPECT_EQ(column.x[i], columnBefore.x[Mirror(i + 2, 9)]) << i;
}

TEST_F(PeriodicTest, OneAndEightThreadsGiveTheSameBytes) {
  const matrix input = Noise(211, 97, 4);
  const int32_t dx[] = {0, 10, 5, -5, -10, -5, 5};
  const int32_t dy[] = {0, 0, 9, 9, 0, -9, -9};
  matrix one(input), eight(input);
  SetParallelThreads(1);
  one.neighbourhood(dx, dy, 7, ShortHalfMean, 2);
  SetParallelThreads(8);
  eight.neighbourhood(dx, dy, 7, ShortHalfMean, 2);
  SetParallelThreads(0);
  EXPECT_EQ(Values(one), Values(eight));
}
