// Non-local means beside its brute form, the definition evaluated in double precision, and
// the properties a denoiser must keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "image/nlmeansbrute.h"
#include "numeric/kernels.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
struct Setting {
  float h;
  int b, c, distribution;
  bool median, combined, modification;
};

std::string Name(const Setting& s) {
  return "h " + std::to_string(s.h) + " b " + std::to_string(s.b) + " c " + std::to_string(s.c) +
         " fn " + std::to_string(s.distribution) + (s.median ? " median" : " mean") +
         (s.combined ? " combined" : " per channel") + (s.modification ? " mod" : "");
}

// A smooth picture with a step and deterministic noise of about sigma.
fpbuffer Noisy(int w, int h, float sigma, unsigned seed) {
  fpbuffer f(w, h, cspace::kDefault);
  uint32_t state = seed * 2654435761u + 1u;
  auto uniform = [&] {
    state = state * 1664525u + 1013904223u;
    return (float(state >> 8) + 0.5f) / 16777216.0f;
  };
  for (int c = 0; c < f.channels; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const float clean = (x > w / 2 ? 160.0f : 60.0f) + 30.0f * std::sin(0.2f * y + c);
        // Sum of three uniforms: variance 3/12, so scale by 2 for sigma.
        const float n = (uniform() + uniform() + uniform() - 1.5f) * 2.0f * sigma;
        f.plane[c].z[y][x] = clean + n;
      }
    }
  }
  return f;
}

// The brute form: each pixel's candidates weighed one by one, distances summed in double.
fpbuffer Direct(const fpbuffer& in, const Setting& s, bool cond) {
  return NlMeansBrute(in, s.h, s.b, s.c, s.median, s.distribution, s.combined, cond,
                      s.modification);
}

fpbuffer Filter(fpbuffer f, const Setting& s, bool cond = false) {
  f.nlmeans(s.h, s.b, s.c, s.median, s.distribution, s.combined, cond, s.modification);
  return f;
}

// The picture rounded to integers and its spread multiplied by `stretch` about 128.
fpbuffer Rounded(fpbuffer f, bool round, float stretch = 1.0f) {
  if (!round) return f;
  for (int k = 0; k < f.channels; ++k) {
    for (int i = 0; i < f.n; ++i) {
      f.plane[k].x[i] = std::round(128.0f + stretch * (f.plane[k].x[i] - 128.0f));
    }
  }
  return f;
}

bool InWindow(const fpbuffer& in, int k, int y, int x, int b, float value) {
  const int m = 2 * b + 1;
  const int sy = std::clamp(y - b, 0, in.height - m), sx = std::clamp(x - b, 0, in.width - m);
  for (int yy = sy; yy < sy + m; ++yy) {
    for (int xx = sx; xx < sx + m; ++xx) {
      if (in.plane[k].z[yy][xx] == value) return true;
    }
  }
  return false;
}

double Psnr(const fpbuffer& a, const fpbuffer& b) {
  double se = 0.0;
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < a.n; ++i) {
      const double e = double(a.plane[k].x[i]) - b.plane[k].x[i];
      se += e * e;
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (se / (3.0 * a.n)));
}

class NlMeansTest : public ::testing::Test {
 protected:
  void SetUp() override { StartProgress(1); }
  void TearDown() override { SetParallelThreads(0); }
};
}  // namespace

TEST_F(NlMeansTest, TheFastPathMatchesTheDirectDefinition) {
  // Means within 0.01 at every pixel; medians equal but for ties within rounding, which
  // must still be values of the search window.
  int setting = 0;
  for (const int c : {1, 2}) {
    for (const int b : {2, 4}) {
      for (const int fn : {1, 2, 3, 4}) {
        for (const bool median : {false, true}) {
          for (const bool combined : {false, true}) {
            const Setting s{12.0f, b, c, fn, median, combined, (setting++ % 3) != 0};
            SCOPED_TRACE(Name(s));
            // Every other picture rounded to integers: its distances are summed in single
            // precision.
            const fpbuffer in = Rounded(Noisy(40, 31, 10.0f, unsigned(setting)), setting % 2);
            const fpbuffer fast = Filter(in, s), direct = Direct(in, s, false);
            for (int k = 0; k < 3; ++k) {
              int differing = 0;
              for (int y = 0; y < in.height; ++y) {
                for (int x = 0; x < in.width; ++x) {
                  const float got = fast.plane[k].z[y][x], want = direct.plane[k].z[y][x];
                  if (!median) {
                    ASSERT_NEAR(got, want, 0.01) << k << " " << x << "," << y;
                  } else if (got != want) {
                    ++differing;
                    EXPECT_TRUE(InWindow(in, k, y, x, b, got));
                  }
                }
              }
              EXPECT_LE(differing, 1) << k;
            }
          }
        }
      }
    }
  }
}

TEST_F(NlMeansTest, IntegerSamplesGiveTheBytesOfDoubleSums) {
  // Integer samples of small spread are summed in single precision, where every sum is
  // exact: a single fractional sample sends the whole picture to double sums, and beyond
  // its reach the bytes are the same.
  const fpbuffer in = Rounded(Noisy(44, 37, 12.0f, 21), true);
  fpbuffer marked = in;
  marked.plane[0].z[0][0] += 0.25f;
  for (const bool median : {false, true}) {
    for (const bool combined : {false, true}) {
      const Setting s{10.0f, 3, 2, 3, median, combined, true};
      SCOPED_TRACE(Name(s));
      const fpbuffer a = Filter(in, s), b = Filter(marked, s);
      const int reach = 2 * (s.b + s.c);
      for (int k = 0; k < 3; ++k) {
        for (int y = reach + 1; y < in.height; ++y) {
          for (int x = reach + 1; x < in.width; ++x) {
            ASSERT_EQ(a.plane[k].z[y][x], b.plane[k].z[y][x]) << k << " " << x << "," << y;
          }
        }
      }
    }
  }
  // Integer samples of a wide spread: single precision for a small patch of one channel,
  // double for larger patches and the three channels together; all within 0.01.
  const fpbuffer wide = Rounded(Noisy(30, 26, 30.0f, 23), true, 3.0f);
  for (const int c : {1, 3}) {
    for (const bool combined : {false, true}) {
      const Setting s{60.0f, 2, c, 3, false, combined, true};
      SCOPED_TRACE(Name(s));
      const fpbuffer fast = Filter(wide, s), direct = Direct(wide, s, false);
      for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < wide.n; ++i) {
          ASSERT_NEAR(fast.plane[k].x[i], direct.plane[k].x[i], 0.01) << k << ":" << i;
        }
      }
    }
  }
}

TEST_F(NlMeansTest, AConstantImageStaysExactlyConstant) {
  const Setting settings[] = {{1.25f, 3, 2, 3, false, true, true},
                              {0.5f, 2, 1, 1, false, false, false},
                              {4.0f, 4, 3, 2, true, false, true},
                              {1.0f, 3, 1, 4, true, true, false}};
  for (const Setting& s : settings) {
    SCOPED_TRACE(Name(s));
    fpbuffer f(17, 12, cspace::kDefault);
    for (int k = 0; k < 3; ++k) f.plane[k].fill(100.3f + float(k));
    const fpbuffer out = Filter(f, s);
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < f.n; ++i)
        ASSERT_EQ(out.plane[k].x[i], 100.3f + float(k)) << k << ":" << i;
    }
  }
}

TEST_F(NlMeansTest, NoiseOnAFlatImageLosesVarianceAndAPictureGainsPsnr) {
  fpbuffer flat(48, 48, cspace::kDefault);
  for (int k = 0; k < 3; ++k) flat.plane[k].fill(128.0f);
  fpbuffer noisy = Noisy(48, 48, 20.0f, 7);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < flat.n; ++i) {
      noisy.plane[k].x[i] = 128.0f + noisy.plane[k].x[i] - Noisy(48, 48, 0.0f, 7).plane[k].x[i];
    }
  }
  const fpbuffer out = Filter(noisy, {20.0f, 5, 2, 3, false, true, true});
  EXPECT_GT(Psnr(out, flat), Psnr(noisy, flat) + 6.0);

  // The piecewise-smooth picture, sigma 10 and 20.
  for (const float sigma : {10.0f, 20.0f}) {
    const fpbuffer clean = Noisy(64, 48, 0.0f, 3), dirty = Noisy(64, 48, sigma, 3);
    const double before = Psnr(dirty, clean);
    for (const bool median : {false, true}) {
      const double after = Psnr(Filter(dirty, {sigma, 5, 2, 3, median, true, true}), clean);
      EXPECT_GT(after, before + 3.0) << sigma << (median ? " median" : " mean");
    }
  }
}

TEST_F(NlMeansTest, ImagesSmallerThanAWindowAreRefusedUnchanged) {
  struct Case {
    int w, h, b, c;
    bool refused;
  };
  const Case cases[] = {{30, 30, 20, 2, true}, {30, 30, 14, 2, false}, {1, 1, 1, 1, true},
                        {1, 9, 1, 1, true},    {9, 1, 1, 1, true},     {2, 2, 1, 1, true},
                        {3, 3, 1, 1, false},   {9, 9, 1, 5, true},     {5, 7, 2, 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " b " + std::to_string(c.b) +
                 " c " + std::to_string(c.c));
    const fpbuffer in = Noisy(c.w, c.h, 10.0f, 5);
    fpbuffer f = in;
    if (c.refused) {
      try {
        f.nlmeans(10.0f, c.b, c.c, false, 3, true, false, true);
        ADD_FAILURE() << "not refused";
      } catch (const TextException& e) {
        EXPECT_EQ(e.text(), "Search and window radii must be smaller than half image dimensions.");
      }
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::equal(f.plane[k].x, f.plane[k].x + f.n, in.plane[k].x));
      }
    } else {
      f.nlmeans(10.0f, c.b, c.c, false, 3, true, false, true);
      EXPECT_FALSE(std::equal(f.plane[0].x, f.plane[0].x + f.n, in.plane[0].x));
    }
  }
}

TEST_F(NlMeansTest, UniformWithATinyThresholdKeepsEveryPixel) {
  const fpbuffer in = Noisy(20, 15, 10.0f, 9);
  for (const bool modification : {false, true}) {
    for (const bool median : {false, true}) {
      const fpbuffer out = Filter(in, {1e-3f, 3, 1, 4, median, false, modification});
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::equal(out.plane[k].x, out.plane[k].x + in.n, in.plane[k].x));
      }
    }
  }
}

TEST_F(NlMeansTest, CondChoosesChannelsOnlyWhenChannelsAreFilteredApart) {
  const fpbuffer in = Noisy(20, 15, 10.0f, 11);
  fpbuffer hidden = in;
  hidden.code = cspace::kRGB | 0x5;  // channel 1 hidden
  const Setting apart{12.0f, 2, 1, 3, false, false, true};
  Setting together = apart;
  together.combined = true;
  const fpbuffer a = Filter(hidden, apart, true), t = Filter(hidden, together, true);
  EXPECT_TRUE(std::equal(a.plane[1].x, a.plane[1].x + in.n, in.plane[1].x));
  EXPECT_FALSE(std::equal(a.plane[0].x, a.plane[0].x + in.n, in.plane[0].x));
  EXPECT_FALSE(std::equal(t.plane[1].x, t.plane[1].x + in.n, in.plane[1].x));
  const fpbuffer direct = Direct(hidden, apart, true);
  for (int k = 0; k < 3; ++k) {
    for (int i = 0; i < in.n; ++i) ASSERT_NEAR(a.plane[k].x[i], direct.plane[k].x[i], 0.01);
  }
}

TEST_F(NlMeansTest, AGreyImageGivesTheSameCombinedAndApart) {
  fpbuffer grey = Noisy(24, 18, 10.0f, 13);
  grey.plane[1].copydata(grey.plane[0]);
  grey.plane[2].copydata(grey.plane[0]);
  for (const bool median : {false, true}) {
    const fpbuffer a = Filter(grey, {10.0f, 3, 1, 3, median, false, true});
    const fpbuffer t = Filter(grey, {10.0f, 3, 1, 3, median, true, true});
    for (int k = 0; k < 3; ++k) {
      for (int i = 0; i < grey.n; ++i) ASSERT_NEAR(a.plane[k].x[i], t.plane[k].x[i], 1e-3) << i;
    }
  }
}

TEST_F(NlMeansTest, ANotANumberStaysInsideTheWindowsThatSeeIt) {
  const fpbuffer clean = Noisy(30, 26, 10.0f, 17);
  fpbuffer holed = clean;
  holed.plane[0].z[4][5] = NAN;
  holed.plane[1].z[20][22] = INFINITY;
  const Setting s{10.0f, 2, 1, 3, false, false, true};
  const fpbuffer a = Filter(clean, s), b = Filter(holed, s);
  for (const auto [k, hy, hx] : {std::array{0, 4, 5}, std::array{1, 20, 22}}) {
    for (int y = 0; y < clean.height; ++y) {
      for (int x = 0; x < clean.width; ++x) {
        // Beyond the reach of the search window and its patches the hole is unseen.
        if (std::abs(y - hy) > 2 * (s.b + s.c) || std::abs(x - hx) > 2 * (s.b + s.c)) {
          ASSERT_NEAR(b.plane[k].z[y][x], a.plane[k].z[y][x], 1e-3) << k << " " << x << "," << y;
        }
      }
    }
  }
  Setting median = s;
  median.median = true;
  Filter(holed, median);  // runs clean under the sanitizers
}

TEST_F(NlMeansTest, OneAndEightThreadsGiveTheSameBytes) {
  // Distances summed in double and, for integer samples, in single precision.
  for (const bool rounded : {false, true}) {
    const fpbuffer in = Rounded(Noisy(70, 53, 15.0f, 19), rounded);
    for (const bool median : {false, true}) {
      SetParallelThreads(1);
      const fpbuffer one = Filter(in, {12.0f, 4, 2, 3, median, true, true});
      SetParallelThreads(8);
      const fpbuffer eight = Filter(in, {12.0f, 4, 2, 3, median, true, true});
      for (int k = 0; k < 3; ++k) {
        EXPECT_TRUE(std::equal(one.plane[k].x, one.plane[k].x + in.n, eight.plane[k].x))
            << rounded << median << k;
      }
    }
  }
}
