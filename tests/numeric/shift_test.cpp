#include "numeric/shift.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/resample.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using ShiftTest = ZepTest;

namespace {
matrix Ramp(int w, int h) {
  matrix m(w, h);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) m.z[j][i] = float(i);
  }
  return m;
}
}  // namespace

TEST_F(ShiftTest, ConstantPlaneStaysConstantUnderEveryFilter) {
  for (int dir = 0; dir < 6; ++dir) {
    // 1 x N and 2 x 2 planes too: the mirror folds again on lines shorter than the taps.
    for (auto [w, h] : {std::pair{7, 5}, std::pair{1, 4}, std::pair{2, 2}}) {
      matrix m(w, h);
      m.fill(42.5f);
      StartProgress(100);
      switch (dir) {
        case 0:
          EXPECT_FALSE(ShiftHalfPixel(m, true, true));
          break;
        case 1:
          EXPECT_FALSE(ShiftHalfPixelReverse(m, true, true));
          break;
        case 2:
          ShiftHalfPixelNoCancel(m, true, true);
          break;
        case 3:
          ShiftHalfPixelReverseNoCancel(m, true, true);
          break;
        case 4:
          ShiftQuarterPixel(m, true, true);
          break;
        case 5:
          ShiftHalfPixelSigned(m, -1, 1);
          break;
      }
      for (int k = 0; k < m.n; ++k) EXPECT_NEAR(m.x[k], 42.5f, 1e-4) << dir << " " << w;
    }
  }
}

TEST_F(ShiftTest, RampMovesByHalfAndQuarterPixel) {
  matrix m = Ramp(12, 2);
  ShiftHalfPixelNoCancel(m, true, false);
  // The mirrored first sample: (225(0 + 0) - 50(1 + 1) + 9(2 + 2))/368.
  EXPECT_NEAR(m.z[0][0], -64.0 / 368, 1e-6);
  for (int i = 3; i <= 9; ++i) EXPECT_NEAR(m.z[1][i], i - 0.5, 1e-5) << i;

  m = Ramp(12, 1);
  ShiftHalfPixelReverseNoCancel(m, true, false);
  for (int i = 2; i <= 8; ++i) EXPECT_NEAR(m.x[i], i + 0.5, 1e-5) << i;

  // The quarter-pixel taps of the Lanczos-3 kernel, rounded, and the ramp moved by 1/4.
  const double taps[6] = {0.007378, -0.067997, 0.271011, 0.892771, -0.133275, 0.030112};
  matrix impulse(13, 1);
  impulse.zero();
  impulse.x[6] = 1;
  ShiftQuarterPixel(impulse, true, false);
  // Output j weighs input j+k by tap k+3, so the impulse at 6 shows tap t at 6-(t-3).
  for (int t = 0; t < 6; ++t) EXPECT_NEAR(impulse.x[9 - t], taps[t], 1e-6) << t;
  // The truncated kernel's first moment is not exactly -1/4: a ramp moves by the taps'
  // own moment, sum of tap k times k (about -0.2302).
  double moment = 0;
  for (int t = 0; t < 6; ++t) moment += taps[t] * (t - 3);
  m = Ramp(12, 1);
  ShiftQuarterPixel(m, true, false);
  for (int i = 3; i <= 9; ++i) EXPECT_NEAR(m.x[i], i + moment, 1e-5) << i;
}

TEST_F(ShiftTest, AxesAndSignedDirections) {
  const matrix base = Noise(9, 8, 21);
  // The y pass is the x pass of the transposed plane.
  matrix t(base.ny, base.nx);
  for (int j = 0; j < base.ny; ++j) {
    for (int i = 0; i < base.nx; ++i) t.z[i][j] = base.z[j][i];
  }
  matrix a(base);
  ShiftHalfPixelNoCancel(a, false, true);
  ShiftHalfPixelNoCancel(t, true, false);
  for (int j = 0; j < base.ny; ++j) {
    for (int i = 0; i < base.nx; ++i) EXPECT_EQ(a.z[j][i], t.z[i][j]);
  }

  // Each signed direction against the direct calls; values off {-1, 0, 1} change nothing.
  struct Case {
    int dx, dy;
    bool fx, fy, rx, ry;
  } cases[] = {{1, 0, 1, 0, 0, 0},  {1, 1, 1, 1, 0, 0},  {1, -1, 1, 0, 0, 1}, {0, 1, 0, 1, 0, 0},
               {0, -1, 0, 0, 0, 1}, {-1, 0, 0, 0, 1, 0}, {-1, 1, 0, 1, 1, 0}, {-1, -1, 0, 0, 1, 1},
               {0, 0, 0, 0, 0, 0},  {2, 0, 0, 0, 0, 0},  {0, 5, 0, 0, 0, 0},  {1, -2, 0, 0, 0, 0}};
  for (const Case& c : cases) {
    matrix got(base), want(base);
    ShiftHalfPixelSigned(got, c.dx, c.dy);
    ShiftHalfPixelNoCancel(want, c.fx, c.fy);
    ShiftHalfPixelReverseNoCancel(want, c.rx, c.ry);
    for (int k = 0; k < base.n; ++k) EXPECT_NEAR(got.x[k], want.x[k], 1e-6) << c.dx << c.dy;
  }
}

TEST_F(ShiftTest, HalfPixelAgreesWithTheResamplerAwayFromTheBorders) {
  const matrix base = Noise(20, 1, 8);
  matrix shifted(base);
  ShiftHalfPixelNoCancel(shifted, true, false);
  matrix kx, ky, resampled;
  BuildLanczosKernelForScale(kx, 3, base.nx, 1.0, -0.5f, true);
  BuildLanczosKernelForScale(ky, 3, 1, 1.0, 0.0f, true);
  ResampleSeparable(resampled, base, kx, ky);
  for (int i = 3; i < base.nx - 3; ++i) EXPECT_NEAR(shifted.x[i], resampled.x[i], 1e-6) << i;
}

TEST_F(ShiftTest, CancelStopsBetweenLines) {
  const matrix base = Noise(6, 5, 2);
  matrix x(base);
  ShiftHalfPixelNoCancel(x, true, false);

  // Cancel at the third row of the x pass: two rows shifted, the rest untouched.
  matrix m(base);
  StartProgress(11);
  platform.CancelAtPoll(3);
  EXPECT_TRUE(ShiftHalfPixel(m, true, true));
  for (int j = 0; j < m.ny; ++j) {
    for (int i = 0; i < m.nx; ++i) EXPECT_EQ(m.z[j][i], (j < 2 ? x : base).z[j][i]);
  }
  // The quarter pixel unwinds by the cancel exception.
  platform.CancelAtPoll(1);
  EXPECT_THROW(ShiftQuarterPixel(m, true, false), Cancelled);
}

// Both passes against the half-pixel filter written sample by sample, in double, taps in
// order, ends reflected about the half sample: bit for bit, at lengths from 1 (every tap
// reflected) up, forward and reverse. The column pass filters in place keeping only the
// few rows above it, which the short planes stress most.
TEST_F(ShiftTest, BothPassesEqualTheFilterSampleBySample) {
  const double taps[6] = {9.0 / 368, -50.0 / 368, 225.0 / 368, 225.0 / 368, -50.0 / 368, 9.0 / 368};
  for (int reverse = 0; reverse < 2; ++reverse) {
    const int first = reverse ? -2 : -3;
    for (int w : {1, 2, 3, 4, 7, 13}) {
      for (int h : {1, 2, 3, 5, 6, 11}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (reverse ? " reverse" : ""));
        const matrix base = Noise(w, h, unsigned(w * 17 + h));
        matrix along(base), down(base);
        if (reverse) {
          ShiftHalfPixelReverseNoCancel(along, true, false);
          ShiftHalfPixelReverseNoCancel(down, false, true);
        } else {
          ShiftHalfPixelNoCancel(along, true, false);
          ShiftHalfPixelNoCancel(down, false, true);
        }
        for (int j = 0; j < h; ++j) {
          for (int i = 0; i < w; ++i) {
            double x = 0.0, y = 0.0;
            for (int t = 0; t < 6; ++t) {
              x += taps[t] * base.z[j][ReflectHalf(i + first + t, w)];
              y += taps[t] * base.z[ReflectHalf(j + first + t, h)][i];
            }
            ASSERT_EQ(along.z[j][i], static_cast<float>(x)) << i << "," << j;
            ASSERT_EQ(down.z[j][i], static_cast<float>(y)) << i << "," << j;
          }
        }
      }
    }
  }
}

// Both axes in one call run as one sweep of row blocks over the plane in place; it must
// give the bits of the x pass followed by the y pass, also across the seams of its blocks
// (of 128 rows and more) and on planes shorter than the filter. So must the sweep from a
// plane into another, which leaves its input alone.
TEST_F(ShiftTest, BothAxesAtOnceEqualTheTwoPassesInTurn) {
  for (int reverse = 0; reverse < 2; ++reverse) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{5, 2}, std::pair{3, 9}, std::pair{13, 7},
                        std::pair{2048, 150}, std::pair{300, 131}, std::pair{700, 200}}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (reverse ? " reverse" : ""));
      const matrix base = Noise(w, h, unsigned(w * 31 + h));
      matrix both(base), turn(base);
      if (reverse) {
        ShiftHalfPixelReverseNoCancel(both, true, true);
        ShiftHalfPixelReverseNoCancel(turn, true, false);
        ShiftHalfPixelReverseNoCancel(turn, false, true);
      } else {
        ShiftHalfPixelNoCancel(both, true, true);
        ShiftHalfPixelNoCancel(turn, true, false);
        ShiftHalfPixelNoCancel(turn, false, true);
        const matrix input(base);
        matrix into(7, 3);
        ShiftHalfPixelNoCancel(input, into);
        ASSERT_EQ(into.nx, w);
        ASSERT_EQ(into.ny, h);
        ASSERT_EQ(0, std::memcmp(into.x, turn.x, sizeof(float) * size_t(into.n)));
        ASSERT_EQ(0, std::memcmp(input.x, base.x, sizeof(float) * size_t(base.n)));
      }
      ASSERT_EQ(0, std::memcmp(both.x, turn.x, sizeof(float) * size_t(both.n)));
    }
  }
}

TEST_F(ShiftTest, ShiftIntoAnotherPlaneEqualsTheShiftInPlace) {
  // Lines shorter than the taps fold the mirror again; the tall planes split into blocks.
  for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 4}, std::pair{2, 2}, std::pair{7, 5},
                      std::pair{300, 131}, std::pair{64, 700}}) {
    for (int threads : {1, 8}) {
      SetParallelThreads(threads);
      for (bool x : {true, false}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (x ? " x " : " y ") +
                     std::to_string(threads));
        const matrix in = Noise(w, h, unsigned(w * 17 + h));
        matrix inPlace(in), out(3, 3);
        ShiftHalfPixelNoCancel(inPlace, x, !x);
        ShiftHalfPixelInto(out, in, x);
        ASSERT_EQ(out.nx, w);
        ASSERT_EQ(out.ny, h);
        EXPECT_EQ(Values(out), Values(inPlace));
        EXPECT_EQ(Values(in), Values(Noise(w, h, unsigned(w * 17 + h))));
        // Into itself: the shift in place.
        matrix self(in);
        ShiftHalfPixelInto(self, self, x);
        EXPECT_EQ(Values(self), Values(inPlace));
      }
    }
  }
  SetParallelThreads(0);
}
