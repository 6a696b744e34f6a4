// Xin Li enlargement, the classic model of four neighbours and the twelve-coefficient one.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "numeric/resample.h"
#include "numeric/triangulate.h"
#include "numeric/xinli.h"
#include "ops/resize/resize.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/zep_test.h"

namespace {

constexpr CSpaceCode kRgb = 0x17;

float Busy(int c, int x, int y) {
  return 128.0f + 60.0f * std::sin(0.5f * x + 0.9f * c) * std::cos(0.37f * y - 0.4f * c) +
         float((x * 7 + y * 3 + c * 5) % 11);
}

fpbuffer Picture(int w, int h) {
  fpbuffer image(w, h, kRgb);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) image.plane[c].z[y][x] = Busy(c, x, y);
    }
  }
  return image;
}

fpbuffer Constant(int w, int h, float v) {
  fpbuffer image(w, h, kRgb);
  for (int c = 0; c < 3; ++c) image.plane[c].fill(v);
  return image;
}

// The default parameters of both variants, any of them changed by a test.
struct Params {
  float bias = 1;
  int window = 8;
  float taper = 0;
  float normalization = 0;
  int dominant = 0;
  int passes = 1;
  bool rotate = false;
  float sigma = 1.5f;
};

fpbuffer Enlarged(const fpbuffer& source, bool twelve, const Params& p, bool incremental = true) {
  fpbuffer image;
  image = source;  // with its mask
  StartProgress(1e9f);
  if (twelve) {
    image.XinLiEnlarge(p.bias, p.window, p.taper, p.normalization, p.dominant, p.passes, p.rotate,
                       p.sigma, incremental);
  } else {
    image.xinlipasses(p.bias, p.window, p.taper, p.normalization, p.dominant, p.passes, p.rotate);
  }
  return image;
}

float MaxDifference(const matrix& a, const matrix& b) {
  float d = 0;
  for (int k = 0; k < a.n; ++k) d = std::max(d, std::fabs(a.x[k] - b.x[k]));
  return d;
}

using XinLiTest = ZepTest;

}  // namespace

TEST_F(XinLiTest, KnownSamplesStayAndConstantsStayConstant) {
  const fpbuffer source = Picture(30, 26);
  for (bool twelve : {false, true}) {
    for (int window : {2, 4, 8}) {
      Params p;
      p.window = window;
      const fpbuffer big = Enlarged(source, twelve, p);
      ASSERT_EQ(big.width, 60);
      ASSERT_EQ(big.height, 52);
      for (int c = 0; c < 3; ++c) {
        for (int y = 0; y < source.height; ++y) {
          for (int x = 0; x < source.width; ++x) {
            ASSERT_EQ(big.plane[c].z[2 * y][2 * x], source.plane[c].z[y][x])
                << twelve << " " << window << " " << c << " " << x << " " << y;
          }
        }
      }
    }
  }
  // Flat areas: with and without the sum correction, tapered, and with bias 0, where no
  // finite fit exists and every target takes its prior prediction.
  for (float level : {173.0f, 37.7f, 255.0f})
    for (bool twelve : {false, true}) {
      const fpbuffer flat = Constant(24, 22, level);
      for (float bias : {1.0f, 0.0f}) {
        for (float normalization : {0.0f, 3.0f, 10000.0f}) {
          for (float taper : {0.0f, 1.0f}) {
            Params p;
            p.bias = bias;
            p.window = 4;
            p.normalization = normalization;
            p.taper = taper;
            p.passes = 2;
            const fpbuffer big = Enlarged(flat, twelve, p);
            for (int c = 0; c < 3; ++c) {
              for (int k = 0; k < big.plane[c].n; ++k) {
                ASSERT_NEAR(big.plane[c].x[k], level, 1e-3f * level)
                    << twelve << " bias " << bias << " K " << normalization << " taper " << taper;
              }
            }
          }
        }
      }
    }
}

TEST_F(XinLiTest, InfiniteNormalizationWeightMakesTheWeightsSumToOne) {
  // Channel 1 decides; channel 2 holds ones, so it receives the sum of the weights of every
  // target.
  fpbuffer source = Picture(32, 28);
  source.plane[1].fill(1.0f);
  for (bool twelve : {false, true}) {
    for (float taper : {0.0f, 1.5f}) {
      Params p;
      p.dominant = 1;
      p.taper = taper;
      p.normalization = 10000;
      const fpbuffer exact = Enlarged(source, twelve, p);
      EXPECT_LT(MaxDifference(exact.plane[1], Constant(64, 56, 1.0f).plane[0]), 1e-5f)
          << twelve << " " << taper;
      p.normalization = 0;
      const fpbuffer free = Enlarged(source, twelve, p);
      EXPECT_GT(MaxDifference(free.plane[1], Constant(64, 56, 1.0f).plane[0]), 1e-4f)
          << twelve << " " << taper;
    }
  }
}

TEST_F(XinLiTest, ClassicTrainingCentresAreTheNearestKnownSamples) {
  // Phase 1 fills (1, 1) from the input grid (even rows and columns): the nearest n x n of
  // them by the largest coordinate distance. Phases 2 and 3 fill (1, 0) and (0, 1) from
  // everything known after phase 1 (rows and columns both even or both odd): the nearest
  // n x n by the sum of the coordinate distances.
  for (int n : {2, 4, 8}) {
    for (int phase = 1; phase <= 3; ++phase) {
      const xinli::Position target = phase == 1   ? xinli::Position{1, 1}
                                     : phase == 2 ? xinli::Position{1, 0}
                                                  : xinli::Position{0, 1};
      std::vector<std::pair<int, std::pair<int, int>>> known;
      for (int r = -30; r <= 30; ++r) {
        for (int c = -30; c <= 30; ++c) {
          const bool isKnown = phase == 1 ? (r % 2 == 0 && c % 2 == 0) : ((r + c) % 2 == 0);
          if (!isKnown) continue;
          const int dr = std::abs(r - target.row), dc = std::abs(c - target.column);
          known.push_back({phase == 1 ? std::max(dr, dc) : dr + dc, {r, c}});
        }
      }
      std::sort(known.begin(), known.end());
      // No tie straddles the n x n-th place.
      ASSERT_LT(known[size_t(n * n - 1)].first, known[size_t(n * n)].first) << n << " " << phase;
      std::set<std::pair<int, int>> nearest, centres;
      for (int k = 0; k < n * n; ++k) nearest.insert(known[size_t(k)].second);
      for (int d = 0; d < n; ++d) {
        for (int t = 0; t < n; ++t) {
          const xinli::Position p = xinli::ClassicCentre(phase, d, t, n);
          centres.insert({p.row, p.column});
        }
      }
      EXPECT_EQ(centres, nearest) << n << " " << phase;
    }
  }
}

TEST_F(XinLiTest, ClassicOnNoInnerPositionsIsTriangulation) {
  // Window 4: border width 3, so 6 rows leave no inner position. The inner samples are
  // the triangulation on the diagonals chosen from the input; the last row and column
  // repeat their neighbours.
  const fpbuffer source = Picture(11, 6);
  Params p;
  p.window = 4;
  const fpbuffer big = Enlarged(source, false, p);
  for (int c = 0; c < 3; ++c) {
    bitmask diagonals;
    ChooseTriangleDiagonals(diagonals, source.plane[source.dominantchannel(0) - 1]);
    matrix expected;
    ResampleTriangulation(expected, source.plane[c], diagonals, 2, 2, 0.5, 0.5, false);
    const matrix& got = big.plane[c];
    for (int y = 0; y < got.ny - 1; ++y) {
      for (int x = 0; x < got.nx - 1; ++x) {
        ASSERT_NEAR(got.z[y][x], expected.z[y][x], 1e-4f) << c << " " << x << " " << y;
      }
    }
    for (int x = 0; x < got.nx; ++x) EXPECT_EQ(got.z[got.ny - 1][x], got.z[got.ny - 2][x]) << x;
    for (int y = 0; y < got.ny; ++y) EXPECT_EQ(got.z[y][got.nx - 1], got.z[y][got.nx - 2]) << y;
  }
}

TEST_F(XinLiTest, TwelveOnNoTargetsIsTheLanczos15Doubling) {
  // Window 8: L = 5, so a low-resolution side of 10 leaves no target.
  for (auto [w, h] : {std::pair{10, 30}, std::pair{30, 10}, std::pair{3, 2}}) {
    const fpbuffer source = Picture(w, h);
    const fpbuffer big = Enlarged(source, true, Params{});
    matrix kx, ky, expected;
    BuildLanczosKernelForSizes(kx, 15, w, 2 * w, 0.5f);
    BuildLanczosKernelForSizes(ky, 15, h, 2 * h, 0.5f);
    for (int c = 0; c < 3; ++c) {
      ResampleSeparable(expected, source.plane[c], kx, ky);
      EXPECT_LT(MaxDifference(big.plane[c], expected), 1e-3f) << w << "x" << h << " " << c;
    }
  }
}

TEST_F(XinLiTest, TheTurnActsFromTheSecondPassOn) {
  const fpbuffer source = Picture(26, 24);
  for (bool twelve : {false, true}) {
    Params p;
    p.window = 4;
    Params turned = p;
    turned.rotate = true;
    const fpbuffer one = Enlarged(source, twelve, p), oneTurned = Enlarged(source, twelve, turned);
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(MaxDifference(one.plane[c], oneTurned.plane[c]), 0) << twelve;
    p.passes = turned.passes = 2;
    const fpbuffer two = Enlarged(source, twelve, p), twoTurned = Enlarged(source, twelve, turned);
    ASSERT_EQ(twoTurned.width, 104);
    ASSERT_EQ(twoTurned.height, 96);
    // Upright again: input sample (i, j) lands on (4i + 1, 4j + 1), a sample further on
    // than without the turn, where the second pass placed it on the turned grid.
    for (int y = 0; y < source.height; ++y) {
      for (int x = 0; x < source.width; ++x) {
        ASSERT_EQ(twoTurned.plane[0].z[4 * y + 1][4 * x + 1], source.plane[0].z[y][x]) << twelve;
        ASSERT_EQ(two.plane[0].z[4 * y][4 * x], source.plane[0].z[y][x]) << twelve;
      }
    }
    EXPECT_GT(MaxDifference(two.plane[0], twoTurned.plane[0]), 0.1f) << twelve;
  }
}

TEST_F(XinLiTest, TheMaskComesBackAtTheNewSize) {
  fpbuffer source = Picture(20, 16);
  source.mask.dim(20, 16);
  for (int y = 4; y < 10; ++y) {
    for (int x = 6; x < 14; ++x) source.mask.set(x, y, true);
  }
  for (bool twelve : {false, true}) {
    Params p;
    p.passes = 2;
    p.rotate = true;
    const fpbuffer big = Enlarged(source, twelve, p);
    ASSERT_EQ(big.mask.width, 80) << twelve;
    ASSERT_EQ(big.mask.height, 64) << twelve;
    EXPECT_TRUE(big.mask.get(40, 28)) << twelve;
    EXPECT_FALSE(big.mask.get(8, 8)) << twelve;
  }
}

TEST_F(XinLiTest, AChannelTheImageLacksChangesNothing) {
  fpbuffer source = Picture(20, 16);
  source.mask.dim(20, 16);
  for (bool twelve : {false, true}) {
    Params p;
    p.dominant = 5;
    const fpbuffer same = Enlarged(source, twelve, p);
    EXPECT_EQ(same.width, 20);
    EXPECT_EQ(same.mask.width, 20);
    EXPECT_EQ(MaxDifference(same.plane[0], source.plane[0]), 0);
  }
}

TEST_F(XinLiTest, OddWindowsAreTakenAsTheEvenSizeBelow) {
  const fpbuffer source = Picture(30, 26);
  for (bool twelve : {false, true}) {
    for (auto [odd, even] : {std::pair{5, 4}, std::pair{-5, 4}, std::pair{1, 2}, std::pair{0, 2}}) {
      Params a, b;
      a.window = odd;
      b.window = even;
      a.taper = b.taper = 1;
      const fpbuffer x = Enlarged(source, twelve, a), y = Enlarged(source, twelve, b);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(MaxDifference(x.plane[c], y.plane[c]), 0) << odd;
    }
  }
}

TEST_F(XinLiTest, RegressorsFollowTheirTables) {
  matrix plane(17, 15);
  for (int k = 0; k < plane.n; ++k) plane.x[k] = float((k * 37) % 101) + 0.25f * float(k % 7);
  const struct {
    void (*unrolled)(const float* const*, int, int, double*);
    const xinli::Regressor* table;
  } kinds[] = {{xinli::DiagonalRegressors, xinli::kDiagonalRegressors},
               {xinli::AxialRegressors, xinli::kAxialRegressors}};
  for (const auto& kind : kinds) {
    for (int r = 3; r < plane.ny - 3; ++r) {
      for (int c = 3; c < plane.nx - 3; ++c) {
        double x[12];
        kind.unrolled(plane.z, r, c, x);
        for (int i = 0; i < 12; ++i) {
          const xinli::Regressor& g = kind.table[i];
          const double plain = (double(plane.z[r + g.a.row][c + g.a.column]) +
                                plane.z[r + g.b.row][c + g.b.column]) /
                               2;
          ASSERT_EQ(x[i], plain) << i << " at " << r << "," << c;
        }
      }
    }
  }
}

TEST_F(XinLiTest, IncrementalSumsMatchTheDirectForm) {
  const fpbuffer source = Picture(40, 36);
  // 18 also spans more than one group of a lattice column's samples.
  for (int window : {2, 4, 6, 8, 10, 12, 18}) {
    Params p;
    p.window = window;
    const fpbuffer direct = Enlarged(source, true, p, false);
    const fpbuffer incremental = Enlarged(source, true, p, true);
    for (int c = 0; c < 3; ++c) {
      EXPECT_LT(MaxDifference(direct.plane[c], incremental.plane[c]), 1e-4f) << window << " " << c;
    }
  }
}

// Four models solved side by side give each model's own solution bit for bit, also where a
// lane has no finite fit (a flat window without a prior, a value that is not a number) or
// its sum correction fails, and whatever the other lanes hold.
TEST_F(XinLiTest, ModelsSolvedSideBySideEqualEachSolvedAlone) {
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1664525u + 1013904223u;
    return double(seed >> 8) / double(1u << 24);
  };
  enum Lane { kBusy, kFlat, kNaN, kHuge };
  const Lane patterns[][4] = {{kBusy, kBusy, kBusy, kBusy},
                              {kFlat, kBusy, kNaN, kBusy},
                              {kBusy, kHuge, kBusy, kFlat}};
  for (const auto& pattern : patterns) {
    for (double lambda : {0.0, 0.5}) {
      for (int normalise : {0, 1, 2}) {  // off, exact, K = 3
        alignas(32) double sums[4][xinli::kSums] = {};
        for (int l = 0; l < 4; ++l) {
          double x[12];
          for (int sample = 0; sample < 20; ++sample) {
            for (double& v : x) v = pattern[l] == kFlat ? 7.0 : 255 * next();
            double y = pattern[l] == kFlat ? 7.0 : 255 * next();
            if (pattern[l] == kNaN && sample == 3) y = std::nan("");
            if (pattern[l] == kHuge) y *= 1e300;
            xinli::AddProducts(sums[l], x, y, 1.0);
          }
        }
        const double* const lanes[4] = {sums[0], sums[1], sums[2], sums[3]};
        xinli::LocalModels12x4 side;
        side.set(lanes, lambda, 0.25, 0.0);
        double together[4][12];
        side.solve(normalise != 0, normalise == 1, 1.0 / 9, 0.25, 0.0, together);
        for (int l = 0; l < 4; ++l) {
          xinli::LocalModel12 alone;
          alone.reset(lambda, 0.25, 0.0);
          alone.add(sums[l]);
          if (alone.solve() && normalise) alone.normalise(normalise == 1, 1.0 / 9);
          for (int i = 0; i < 12; ++i) {
            ASSERT_EQ(std::memcmp(&together[l][i], &alone.b[i], sizeof(double)), 0)
                << "lane " << l << " coefficient " << i << ": " << together[l][i] << " against "
                << alone.b[i] << ", lambda " << lambda << ", normalise " << normalise;
          }
        }
        // The flat lane without a prior and the lane that is not a number fall back.
        for (int l = 0; l < 4; ++l) {
          if ((pattern[l] == kFlat && lambda == 0) || pattern[l] == kNaN) {
            EXPECT_EQ(together[l][0], 0.25);
            EXPECT_EQ(together[l][11], 0.0);
          }
        }
      }
    }
  }
}

TEST_F(XinLiTest, RadialWeightsAverageOne) {
  matrix w(4, 4);
  w.radialweights(2.0f);
  EXPECT_NEAR(w.sum(), 16.0, 1e-4);
  // Distances sqrt(0.5) at the centre and sqrt(4.5) at the corners: a ratio of 9 by d^-2.
  EXPECT_NEAR(w.z[1][1] / w.z[0][0], 9.0f, 1e-4f);
  EXPECT_FLOAT_EQ(w.z[1][2], w.z[2][1]);
}

TEST_F(XinLiTest, TicksOncePerRowOfEveryPhaseAndACancelThrows) {
  // 24 x 20 doubled twice: the classic passes tick every input row of their three phases,
  // 3 x 20 x (1 + 2); the twelve-coefficient ones every row of targets, 3 x (20 - 10) +
  // 3 x (40 - 10) with L = 5.
  const fpbuffer source = Picture(24, 20);
  Params p;
  p.passes = 2;
  for (auto [twelve, ticks] : {std::pair{false, 180}, std::pair{true, 120}}) {
    Enlarged(source, twelve, p);
    EXPECT_EQ(Progress().count, ticks) << twelve;
    platform.CancelAtPoll(1);
    EXPECT_THROW(Enlarged(source, twelve, p), Cancelled) << twelve;
    platform.CancelAtPoll(0);
  }
}
