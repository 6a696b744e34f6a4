// Tone Map 1 and Tone Map 2: the rank transform and the luminance compression, the
// drivers on small HDR scenes, and the commands through a real window's dispatcher.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "ops/stacking/tonemap.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
std::vector<float> Values(const matrix& m) { return std::vector<float>(m.x, m.x + m.n); }

matrix Row(std::vector<float> v) {
  matrix m(int(v.size()), 1);
  std::copy(v.begin(), v.end(), m.x);
  return m;
}

bool AllFinite(const fpbuffer& f) {
  for (int c = 0; c < f.channels; ++c) {
    for (int k = 0; k < f.n; ++k) {
      if (!std::isfinite(f.plane[c].x[k])) return false;
    }
  }
  return true;
}

// A colour HDR scene spanning about 10^5: a dark and a bright half joined by a soft step,
// with a +-5 % checker of 2-pixel cells in the middle of each half.
fpbuffer Scene(int w = 48, int h = 40, float texture = 0.05f) {
  fpbuffer f(w, h, cspace::kDefault);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double t = 1.0 / (1.0 + std::exp(-(x - w / 2.0)));
      double l = std::exp(std::log(3.0) + t * std::log(3e4 / 3.0));
      const bool inPatch = (x >= 4 && x < 16) || (x >= w - 16 && x < w - 4);
      if (inPatch && y >= 8 && y < h - 8) l *= ((x / 2 + y / 2) % 2) ? 1 + texture : 1 - texture;
      f.plane[0].z[y][x] = float(l * 1.2);
      f.plane[1].z[y][x] = float(l);
      f.plane[2].z[y][x] = float(l * 0.7);
    }
  }
  return f;
}

// The mean of the bright checker cells less the mean of the dark ones inside a patch,
// from the rounded 8-bit green channel.
double CheckerContrast(const fpbuffer& f, int x0, int x1) {
  double on = 0, off = 0;
  int non = 0, noff = 0;
  for (int y = 8; y < f.height - 8; ++y) {
    for (int x = x0; x < x1; ++x) {
      const double v = std::round(std::clamp(f.plane[1].z[y][x], 0.0f, 255.0f));
      if ((x / 2 + y / 2) % 2) {
        on += v;
        ++non;
      } else {
        off += v;
        ++noff;
      }
    }
  }
  return on / non - off / noff;
}

}  // namespace

using ToneMapTest = ZepTest;

TEST_F(ToneMapTest, RankEqualizeRanksMagnitudesAndKeepsSigns) {
  struct Case {
    std::vector<float> in;
    int type;
    std::vector<float> want;
  };
  const Case cases[] = {
      // The tie at sorted positions 0 and 1 gets floor(1/2)/3 = 0.
      {{-4, 1, 1, 9}, 0, {-2.0f / 3, 0, 0, 1}},
      {{5}, 0, {1}},
      {{-5}, 0, {-1}},
      {{2, 2, 2}, 0, {0.5f, 0.5f, 0.5f}},
      // Ranks (0, 1/2, 1) brought to the largest (3), the median (2) or the sum (6).
      {{1, -2, 3}, 1, {0, -1.5f, 3}},
      {{1, -2, 3}, 2, {0, -2, 4}},
      {{1, -2, 3}, 3, {0, -2, 4}},
      // Every rank 0: the sum cannot be matched, the ranks stay.
      {{7, 7}, 3, {0, 0}},
  };
  for (const Case& c : cases) {
    matrix m = Row(c.in);
    m.rankequalize(c.type);
    const std::vector<float> got = Values(m);
    ASSERT_EQ(got.size(), c.want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_FLOAT_EQ(got[i], c.want[i]) << c.type << i;
  }
  matrix empty;
  EXPECT_EQ(empty.rankequalize(0).n, 0);
}

TEST_F(ToneMapTest, RankTransformOfAPlaneOfManySortBlocks) {
  // 170 000 values over several blocks of the sort, many tied, with both signs and both
  // zeros: each becomes its sign times the middle position of its tie among the sorted
  // magnitudes, counted here by a plain sort.
  const int n = 170000;
  matrix m(n, 1);
  uint32_t seed = 3;
  for (int i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const float v = float(seed >> 22) * 0.25f - 128.0f;
    m.x[i] = v == 0.0f && (seed & 1) ? -0.0f : v;
  }
  std::vector<float> sorted(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) sorted[size_t(i)] = std::fabs(m.x[i]);
  std::sort(sorted.begin(), sorted.end());
  std::vector<float> want(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const float a = std::fabs(m.x[i]);
    const auto lo = std::lower_bound(sorted.begin(), sorted.end(), a) - sorted.begin();
    const auto hi = std::upper_bound(sorted.begin(), sorted.end(), a) - sorted.begin() - 1;
    const float rank = float(double((lo + hi) / 2) / double(n - 1));
    want[size_t(i)] = m.x[i] < 0.0f ? -rank : rank;
  }
  m.rankequalize(0);
  for (int i = 0; i < n; ++i) ASSERT_EQ(m.x[i], want[size_t(i)]) << i;
}

TEST_F(ToneMapTest, LevelCountFollowsTheSmallerSide) {
  EXPECT_EQ(ToneMap2Levels(20, 300, 0), 1);
  EXPECT_EQ(ToneMap2Levels(300, 40, 0), 2);
  EXPECT_EQ(ToneMap2Levels(100, 100, 0), 3);
  EXPECT_EQ(ToneMap2Levels(100, 100, 2), 2);
  EXPECT_EQ(ToneMap2Levels(100, 100, 9), 3);
}

TEST_F(ToneMapTest, CompressionKeepsItsDenominatorPositive) {
  // S ln(S/L) is lowest (-L/e) at S = L/e: up to a sharpener of e the formula stands as
  // it is, above it the limit holds the denominator at k m.
  const matrix l = Row({10, 10, 50, 200});
  const matrix s = Row({10 / 2.718281828f, 30, 50, 20});
  const double km = 0.5 * 67.5;
  for (const float a : {0.0f, 1.0f, 2.718f, 5.0f}) {
    matrix got(l);
    got.compressluminance(s, 0.5f, a);
    std::vector<double> want(4);
    double largest = 0;
    for (int i = 0; i < 4; ++i) {
      const double detail =
          std::max(a * double(s.x[i]) * std::log(double(s.x[i]) / l.x[i]), -double(l.x[i]));
      if (a <= 2.7182818) {
        EXPECT_GT(detail, -double(l.x[i])) << a;
      }
      want[size_t(i)] = l.x[i] / (detail + l.x[i] + km);
      largest = std::max(largest, want[size_t(i)]);
    }
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(std::isfinite(got.x[i]));
      EXPECT_NEAR(got.x[i], want[size_t(i)] * 255 / largest, 1e-3) << a << " " << i;
    }
  }
  // k = 0: L - a S ln(S/L) alone, no rescaling; a = 0 keeps L.
  matrix plain(l);
  plain.compressluminance(s, 0, 0);
  EXPECT_EQ(Values(plain), Values(l));
  plain.compressluminance(s, 0, 2);
  EXPECT_NEAR(plain.x[1], 10 - 2 * 30 * std::log(3.0), 1e-3);
}

TEST_F(ToneMapTest, ToneMap1WithoutContrastOrSharpenerOnlyStretchesAndSaturates) {
  const fpbuffer scene = Scene();
  fpbuffer got = scene;
  got.tonemap1(0, 0.6f, 0, 1, 0.5f, 3, 1);
  // The same frame with the luminance passed through unchanged (a linear curve).
  fpbuffer want = scene;
  want.applytonecurve(ToneCurve(1, false), 1, nullptr, false, true, 0.6);
  want.scaleshift(1);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < scene.n; ++k) {
      ASSERT_NEAR(got.plane[c].x[k], want.plane[c].x[k], 2e-3) << c << " " << k;
    }
  }
}

TEST_F(ToneMapTest, OutputSpansTheDisplayRangeWithoutNaN) {
  const fpbuffer scene = Scene();
  // Tone Map 1 with a sharpener far above e, and Tone Map 2 with every curve.
  fpbuffer one = scene;
  one.tonemap1(0.025f, 0.5f, 5, 1, 0.5f, 10, 0);
  std::vector<fpbuffer> results{one};
  for (int preset = 0; preset <= 9; ++preset) {
    fpbuffer two = scene;
    two.tonemap2(30, 0, 0.5f, preset % 2 == 0, preset, 0.5, true, preset % 3 != 0, 0);
    results.push_back(two);
  }
  for (size_t i = 0; i < results.size(); ++i) {
    const fpbuffer& f = results[i];
    ASSERT_TRUE(AllFinite(f)) << i;
    float lo = 1e30f, hi = -1e30f;
    for (int c = 0; c < 3; ++c) {
      float l, h;
      f.plane[c].minmax(l, h);
      lo = std::min(lo, l);
      hi = std::max(hi, h);
    }
    EXPECT_NEAR(lo, 0, 1e-3) << i;
    EXPECT_NEAR(hi, 255, 1e-3) << i;
    EXPECT_EQ(f.code, scene.code);
  }
}

TEST_F(ToneMapTest, AConstantImageStaysConstant) {
  for (const float v : {0.0f, 40.0f, 3e4f}) {
    fpbuffer flat(9, 7, cspace::kDefault);
    for (int c = 0; c < 3; ++c) flat.plane[c].fill(v);
    fpbuffer one = flat, two = flat;
    one.tonemap1(0.025f, 0.5f, 2, 1, 0.5f, 5, 3);
    two.tonemap2(20, 0, 0.5f, true, 3, 0.5, true, true, 3);
    for (const fpbuffer* f : {&one, &two}) {
      ASSERT_TRUE(AllFinite(*f)) << v;
      for (int c = 0; c < 3; ++c) {
        float lo, hi;
        f->plane[c].minmax(lo, hi);
        EXPECT_EQ(lo, hi) << v << " " << c;
      }
    }
  }
}

TEST_F(ToneMapTest, TextureInTheDarkestAndBrightestDecadesStaysVisible) {
  const fpbuffer scene = Scene();
  const int w = scene.width;
  fpbuffer one = scene, two = scene;
  // Tone Map 1's knee sits at k times the mean luminance, which lies in the bright decade
  // here: the default 0.025 puts the darkest decade below one grey level, 0.001 keeps it.
  one.tonemap1(0.001f, 0.5f, 2, 1, 0.5f, 250, 0);
  two.tonemap2(500, 0, 0.5f, true, 0, 0.5, true, true, 0);
  for (const fpbuffer* f : {&one, &two}) {
    SCOPED_TRACE(f == &one ? "Tone Map 1" : "Tone Map 2");
    EXPECT_GE(CheckerContrast(*f, 4, 16), 1.5);
    EXPECT_GE(CheckerContrast(*f, w - 16, w - 4), 1.5);
  }
  // A global gamma of 1/2.2 over the whole range flattens the dark checker to one level.
  fpbuffer gamma = scene;
  float lo, hi;
  gamma.plane[1].minmax(lo, hi);
  for (int k = 0; k < scene.n; ++k) {
    gamma.plane[1].x[k] = float(255 * std::pow(gamma.plane[1].x[k] / hi, 1 / 2.2));
  }
  EXPECT_LT(CheckerContrast(gamma, 4, 16), 0.5);
}

TEST_F(ToneMapTest, TheSameBytesOnOneThreadAndOnMany) {
  // Wide enough that the element loops and the solvers' passes span several blocks.
  const fpbuffer scene = Scene(311, 131);
  fpbuffer shifted = scene;
  shifted.roll(3, 1);
  std::vector<fpbuffer> results[2];
  for (const int threads : {1, 5}) {
    SetParallelThreads(threads);
    fpbuffer one = scene, two = scene, three = scene, four = scene;
    one.tonemap1(0.025f, 0.5f, 2, 1, 0.5f, 4, 1);
    two.tonemap2(6, 0, 0.5f, true, 6, 0.5, true, true, 1);
    three.combinesharpest(shifted, 5, false, false);
    four.combinesharpest(shifted, 5, true, false);
    results[threads == 1 ? 0 : 1] = {one, two, three, four};
  }
  SetParallelThreads(0);
  for (size_t i = 0; i < 4; ++i) {
    for (int c = 0; c < 3; ++c) {
      const matrix& a = results[0][i].plane[c];
      const matrix& b = results[1][i].plane[c];
      ASSERT_EQ(a.n, b.n);
      EXPECT_EQ(std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)), 0) << i << " " << c;
    }
  }
}

TEST_F(ToneMapTest, TinyImagesComeOutFinite) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{7, 1}, std::pair{2, 2}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    fpbuffer scene = Scene(48, 40);
    scene.crop(2, 10, w, h);
    fpbuffer one = scene, two = scene, three = scene;
    one.tonemap1(0.025f, 0.5f, 2, 1, 0.5f, 5, 3);
    two.tonemap2(5, 0, 0.5f, true, 8, 0.5, true, true, 3);
    three.combinesharpest(scene, 5, true, false);
    for (const fpbuffer* f : {&one, &two, &three}) {
      EXPECT_EQ(f->width, w);
      EXPECT_TRUE(AllFinite(*f));
    }
  }
}
