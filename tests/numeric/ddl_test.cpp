#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/shift.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using DdlTest = ZepTest;

namespace {

using Map = cvector<uint8_t>;

matrix Double(const matrix& source, const Map& map, int order) {
  matrix out;
  out.ddlfilldiagonal(source, map, order);
  return out.ddlfillhv(map, order);
}

matrix Double(const matrix& source, int order, Map* decided = nullptr) {
  Map map;
  source.ddldirections(map, order);
  if (decided) *decided = map;
  return Double(source, map, order);
}

Map RandomMap(int count, uint32_t seed) {
  Map map(count);
  for (int k = 0; k < count; ++k) {
    seed = seed * 1664525u + 1013904223u;
    map.x[k] = uint8_t(seed >> 24);
  }
  return map;
}

// The chosen pair at distance d of new sample (r, c) of a doubled plane, read the way the
// direction table describes it, with the reflection about the end samples of the doubled
// grid.
std::pair<float, float> ChosenPair(const matrix& X, const Map& map, int r, int c, int d) {
  const int W = X.nx / 2;
  auto at = [&](int rr, int cc) { return X.z[ReflectWhole(rr, X.ny)][ReflectWhole(cc, X.nx)]; };
  const uint8_t m = map.x[(r / 2) * W + c / 2];
  if (r % 2 == 1 && c % 2 == 1) {
    return (m & 0x03) ? std::pair{at(r - d, c + d), at(r + d, c - d)}
                      : std::pair{at(r - d, c - d), at(r + d, c + d)};
  }
  if (r % 2 == 0) {  // horizontal midpoint
    return (m & 0x0C) ? std::pair{at(r - d, c), at(r + d, c)}
                      : std::pair{at(r, c - d), at(r, c + d)};
  }
  return (m & 0x30) ? std::pair{at(r, c - d), at(r, c + d)} : std::pair{at(r - d, c), at(r + d, c)};
}

}  // namespace

TEST_F(DdlTest, SourceOnEvenPositionsAndSizeDoubledAtEveryOrderAndSize) {
  // 1 x 1, 1 x N and 2 x 2 too: every read past an edge folds as often as it needs.
  for (auto [w, h] : {std::pair{9, 7}, std::pair{1, 1}, std::pair{1, 5}, std::pair{6, 1},
                      std::pair{2, 2}, std::pair{3, 4}}) {
    const matrix source = Noise(w, h, 7);
    for (int order = -6; order <= 6; ++order) {
      StartProgress(100);
      const matrix X = Double(source, order);
      ASSERT_EQ(X.nx, 2 * w);
      ASSERT_EQ(X.ny, 2 * h);
      for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) ASSERT_EQ(X.z[2 * i][2 * j], source.z[i][j]);
      }
      for (int k = 0; k < X.n; ++k) ASSERT_TRUE(std::isfinite(X.x[k])) << order;
    }
  }
}

TEST_F(DdlTest, ConstantGivesZeroMapAndTheConstant) {
  matrix source(8, 6);
  source.fill(37.25f);
  for (int order = -5; order <= 5; ++order) {
    Map map = RandomMap(source.n, 3);  // storage reused: every byte is written
    source.ddldirections(map, order);
    ASSERT_EQ(map.n, source.n);
    for (int k = 0; k < map.n; ++k) ASSERT_EQ(map.x[k], 0) << order;
    const matrix X = Double(source, map, order);
    for (int k = 0; k < X.n; ++k) ASSERT_NEAR(X.x[k], 37.25f, 2e-5) << order;
  }
}

TEST_F(DdlTest, EqualRowsInterpolateHorizontalMidpointsVerticallyWhereTheBlurredEnergyIsPositive) {
  // A step between columns 3 and 4, the same in every row: the vertical energy is 0, so
  // bit 2 is set exactly where the horizontal energy, blurred by the 7-tap Gaussian of
  // sigma 1, reaches: columns 0-6 for the two-point difference (nonzero at column 3) and
  // 0-7 for the four-point one (nonzero at 2, 3, 4).
  matrix source(16, 5);
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 16; ++j) source.z[i][j] = j < 4 ? 0.0f : 10.0f;
  }
  for (auto [order, last] : {std::pair{1, 6}, std::pair{0, 6}, std::pair{3, 7}, std::pair{-4, 7}}) {
    Map map;
    source.ddldirections(map, order);
    for (int i = 0; i < 5; ++i) {
      for (int j = 0; j < 16; ++j) {
        EXPECT_EQ((map.x[i * 16 + j] & 0x04) != 0, j <= last) << order << " " << i << " " << j;
      }
    }
  }
}

TEST_F(DdlTest, EqualDiagonalEnergiesKeepTheMainDiagonal) {
  // Along a ramp across the columns both diagonal differences have the same size.
  matrix source(10, 8);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 10; ++j) source.z[i][j] = float(3 * j);
  }
  for (int order : {1, 3}) {
    Map map;
    source.ddldirections(map, order);
    for (int k = 0; k < map.n; ++k) ASSERT_EQ(map.x[k] & 0x03, 0) << order << " " << k;
  }
  // An image brighter towards the upper right has its low energy on the anti-diagonal.
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 10; ++j) source.z[i][j] = float(i + j);
  }
  Map map;
  source.ddldirections(map, 1);
  EXPECT_EQ(map.x[3 * 10 + 4] & 0x03, 1);
}

TEST_F(DdlTest, NewSamplesFollowTheChosenPair) {
  // Any map (bits 1, 3 and 5 select like 0, 2 and 4): order +-1 gives the mean of the
  // chosen pair; negative orders stay within it; orders outside -5..5 leave 0.
  const matrix source = Noise(7, 6, 11);
  const Map map = RandomMap(source.n, 5);
  for (int order : {1, -1, -2, -3, -4, -5, 6, -6}) {
    StartProgress(100);
    const matrix X = Double(source, map, order);
    for (int r = 0; r < X.ny; ++r) {
      for (int c = 0; c < X.nx; ++c) {
        if (r % 2 == 0 && c % 2 == 0) continue;
        const auto [a, b] = ChosenPair(X, map, r, c, 1);
        const float v = X.z[r][c];
        if (order == 1 || order == -1) {
          ASSERT_EQ(v, float(0.5 * (double(a) + b))) << order << " " << r << " " << c;
        } else if (order < 0 && order >= -5) {
          ASSERT_GE(v, std::min(a, b)) << order << " " << r << " " << c;
          ASSERT_LE(v, std::max(a, b)) << order << " " << r << " " << c;
        } else {
          ASSERT_EQ(v, 0.0f);
        }
      }
    }
  }
}

TEST_F(DdlTest, RowBelowTheLastOddRowIsTheLastEvenRow) {
  const matrix source = Noise(5, 4, 9);
  Map map(source.n);
  for (int k = 0; k < map.n; ++k) map.x[k] = 0;  // vertical midpoints interpolate vertically
  const matrix X = Double(source, map, 1);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(X.z[7][2 * j], source.z[3][j]);
}

TEST_F(DdlTest, TapWeightsOfOrdersTwoAndThree) {
  // A single bright sample, every horizontal midpoint interpolated along its row: the
  // midpoints at distance 1, 3, 5 (doubled grid) from it carry the taps.
  matrix source(12, 3);
  source.zero();
  source.z[1][5] = 1.0f;
  Map map(source.n);
  for (int k = 0; k < map.n; ++k) map.x[k] = 0;
  const struct {
    int order;
    std::vector<double> taps;
  } cases[] = {{2, {9.0 / 16, -1.0 / 16}}, {3, {225.0 / 368, -50.0 / 368, 9.0 / 368}}};
  for (const auto& tc : cases) {
    const matrix X = Double(source, map, tc.order);
    for (size_t k = 0; k < tc.taps.size(); ++k) {
      const int d = int(2 * k + 1);
      EXPECT_NEAR(X.z[2][10 + d], tc.taps[k], 1e-7) << tc.order << " " << k;
      EXPECT_NEAR(X.z[2][10 - d], tc.taps[k], 1e-7) << tc.order << " " << k;
    }
    EXPECT_EQ(X.z[2][10 + 2 * int(tc.taps.size()) + 1], 0.0f);
  }
}

TEST_F(DdlTest, PlanesAreReproducedInTheInterior) {
  // Away from the borders, where the horizontal and vertical midpoints read diagonal
  // midpoints that read reflected samples (up to 4 |t| + 2 samples of the doubled grid).
  matrix source(40, 36);
  for (int i = 0; i < 36; ++i) {
    for (int j = 0; j < 40; ++j) source.z[i][j] = 40.0f + 1.5f * float(j) - 0.75f * float(i);
  }
  for (int order = 0; order <= 5; ++order) {
    const matrix X = Double(source, order);
    const int margin = 4 * std::max(order, 1) + 2;
    for (int r = margin; r < X.ny - margin; ++r) {
      for (int c = margin; c < X.nx - margin; ++c) {
        ASSERT_NEAR(X.z[r][c], 40.0 + 0.75 * c - 0.375 * r, 1e-4) << order << " " << r << " " << c;
      }
    }
  }
}

TEST_F(DdlTest, FillsTickPerSourceRowAndACancelThrows) {
  const matrix source = Noise(6, 5, 1);
  Map map;
  source.ddldirections(map, 3);
  StartProgress(100);
  const int before = Progress().count;
  matrix X = Double(source, map, 3);
  EXPECT_EQ(Progress().count - before, 10);
  platform.CancelAtPoll(1);
  StartProgress(100);
  EXPECT_THROW(X.ddlfilldiagonal(source, map, 3), Cancelled);
}

namespace {

// One to three doublings as the driver makes them, built from the three steps.
matrix Doublings(const matrix& source, int order, int passes, bool turn) {
  matrix x = source;
  for (int p = 0; p < passes; ++p) {
    if (turn && p == 1) x.fliph().flipv();
    x = Double(x, order);
  }
  if (turn && passes >= 2) x.fliph().flipv();
  return x;
}

bool Same(const matrix& a, const matrix& b) {
  return a.nx == b.nx && a.ny == b.ny && Values(a) == Values(b);
}

}  // namespace

TEST_F(DdlTest, EnlargeTurnsOnceAfterTheFirstDoublingAndBack) {
  // An asymmetric plane, so that a missing or extra turn changes the result.
  const matrix source = Noise(9, 7, 21);
  for (int passes = 1; passes <= 3; ++passes) {
    for (bool turn : {false, true}) {
      matrix in = source;
      bytemaps maps;
      matrix out;
      out.DdlEnlarge(in, 3, passes, turn, false, false, false, maps, false);
      EXPECT_TRUE(Same(out, Doublings(source, 3, passes, turn))) << passes << " " << turn;
      EXPECT_TRUE(Same(in, source));
      EXPECT_EQ(maps.n, passes);
    }
  }
}

// The enlargement writes each row of a doubled plane in one go, turned and recentred on the
// way, instead of through the two public fills, the turn and the shift of the whole plane;
// both ways must give the same bits at every order, on planes narrower than the taps, at
// the reflected edges and where the rows of a shift are cut into blocks.
TEST_F(DdlTest, EnlargeEqualsTheTwoFillsTurnAndShiftAtEveryOrderAndSize) {
  for (auto [w, h] :
       {std::pair{1, 1}, std::pair{2, 2}, std::pair{1, 5}, std::pair{6, 1}, std::pair{3, 4},
        std::pair{11, 9}, std::pair{37, 23}, std::pair{300, 40}, std::pair{64, 100}}) {
    const matrix source = Noise(w, h, unsigned(7 * w + h));
    for (int order = -6; order <= 6; ++order) {
      for (int passes : {1, 2}) {
        for (bool recentre : {false, true}) {
          matrix in = source, out;
          bytemaps maps;
          out.DdlEnlarge(in, order, passes, true, recentre, false, false, maps, false);
          matrix expected = Doublings(source, order, passes, true);
          if (recentre) ShiftHalfPixelNoCancel(expected, true, true);
          EXPECT_TRUE(Same(out, expected))
              << w << "x" << h << " order " << order << " passes " << passes << " " << recentre;
        }
      }
    }
  }
}

TEST_F(DdlTest, EnlargeNegatesOrderAndReleasesMaps) {
  const matrix source = Noise(8, 8, 2);
  matrix in = source, out;
  bytemaps maps;
  out.DdlEnlarge(in, 3, 2, false, false, false, true, maps, true);
  EXPECT_TRUE(Same(out, Doublings(source, -3, 2, false)));
  ASSERT_EQ(maps.n, 2);
  EXPECT_EQ(maps[0].n, 0);
  EXPECT_EQ(maps[1].n, 0);
}

TEST_F(DdlTest, EnlargeReusesAListOfAsManyMapsAsDoublings) {
  const matrix a = Noise(8, 6, 3), b = Noise(8, 6, 4);
  matrix in = a, out;
  bytemaps maps;
  out.DdlEnlarge(in, 2, 2, true, true, false, false, maps, false);
  const Map first = maps[0], second = maps[1];

  // b doubled with a's maps, and the maps untouched.
  in = b;
  out.DdlEnlarge(in, 2, 2, true, true, false, false, maps, false);
  matrix expected = b;
  expected = Double(expected, first, 2);
  expected.fliph().flipv();
  expected = Double(expected, second, 2).fliph().flipv();
  ShiftHalfPixelNoCancel(expected, true, true);
  EXPECT_TRUE(Same(out, expected));
  EXPECT_EQ(std::vector<uint8_t>(maps[0].x, maps[0].x + maps[0].n),
            std::vector<uint8_t>(first.x, first.x + first.n));

  // Maps of another size are decided again from the plane, never read past their end.
  matrix big = Noise(13, 11, 5), own;
  bytemaps fresh;
  in = big;
  own.DdlEnlarge(in, 2, 2, true, true, false, false, fresh, false);
  in = big;
  out.DdlEnlarge(in, 2, 2, true, true, false, false, maps, false);
  EXPECT_TRUE(Same(out, own));
}

TEST_F(DdlTest, EnlargeWithoutDoublingsIsAPlainCopy) {
  const matrix source = Noise(5, 4, 8);
  matrix in = source, out;
  bytemaps maps;
  out.DdlEnlarge(in, 3, 0, true, true, true, false, maps, false);
  EXPECT_TRUE(Same(out, source));
  EXPECT_TRUE(Same(in, source));
}

TEST_F(DdlTest, EnlargeThroughScratchFilesMatchesMemoryAndLeavesNoFile) {
  const matrix source = Noise(10, 9, 12);
  auto scratchFiles = [&] {
    int count = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home)) {
      count += e.path().extension() == ".mat";
    }
    return count;
  };
  matrix in = source, memory, disk;
  bytemaps m1, m2;
  StartProgress(1000);
  memory.DdlEnlarge(in, -3, 3, true, true, false, false, m1, false);
  disk.DdlEnlarge(in, -3, 3, true, true, true, false, m2, false);
  EXPECT_TRUE(Same(memory, disk));
  EXPECT_TRUE(Same(in, source));
  EXPECT_EQ(scratchFiles(), 0);

  // A cancel at the first tick: the source comes back and no file stays.
  platform.CancelAtPoll(1);
  StartProgress(1000);
  bytemaps m3;
  EXPECT_THROW(disk.DdlEnlarge(in, 3, 2, true, true, true, false, m3, false), Cancelled);
  EXPECT_TRUE(Same(in, source));
  EXPECT_EQ(scratchFiles(), 0);
}
