#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "image/fpbuffer.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
constexpr CSpaceCode kRGB = 0x17;

struct Params {
  int iterations = 300;
  float sigma = 1.5f;
  float step = 0.5f;
  int dominant = 4;
  int interval = 10;
  int mode = 1;
  bool initialize = true;
  float parameter = 1.0f;
  float tolerance = 0.001f;
};

class InpaintTest : public ZepTest {
 protected:
  // A w x h RGB image, channel c of pixel (x, y) being f(c, x, y).
  static fpbuffer Image(int w, int h, const std::function<float(int, int, int)>& f) {
    fpbuffer b(w, h, kRGB);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.plane[c].z[y][x] = f(c, x, y);
    return b;
  }
  static void Mask(fpbuffer& b, const std::function<bool(int, int)>& inside) {
    b.clearmask();
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) b.mask.set(x, y, inside(x, y));
  }
  static void Inpaint(fpbuffer& b, const Params& r, bitmask* selection = nullptr) {
    b.tschumperleinpaint(r.iterations, r.sigma, r.step, selection, r.dominant, r.interval, r.mode,
                         r.initialize, r.parameter, r.tolerance);
  }
  static std::string Bytes(const fpbuffer& b) {
    std::string s;
    for (int c = 0; c < b.channels; ++c)
      s.append(reinterpret_cast<const char*>(b.plane[c].x), sizeof(float) * size_t(b.n));
    return s;
  }
};
}  // namespace

TEST_F(InpaintTest, AUniformImageStaysUniform) {
  for (int mode : {1, 2}) {
    for (bool init : {false, true}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " init " << init);
      fpbuffer b = Image(20, 16, [](int c, int, int) { return 40.0f + c; });
      Mask(b, [](int x, int y) { return x >= 5 && x < 12 && y >= 4 && y < 10; });
      Params r;
      r.mode = mode;
      r.initialize = init;
      Inpaint(b, r);
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < b.n; ++k) ASSERT_EQ(b.plane[c].x[k], 40.0f + c);
    }
  }
}

TEST_F(InpaintTest, ZeroStepsRunTheInitialFillAlone) {
  fpbuffer b = Image(7, 7, [](int, int, int) { return 10.0f; });
  b.plane[1].z[3][3] = 200.0f;
  Mask(b, [](int x, int y) { return x == 3 && y == 3; });
  Params r;
  r.iterations = 0;
  Inpaint(b, r);
  EXPECT_EQ(b.plane[1].z[3][3], 10.0f);
  // Without the initial fill nothing happens at all.
  b.plane[1].z[3][3] = 200.0f;
  r.initialize = false;
  r.iterations = 50;
  r.step = 0.0f;
  Inpaint(b, r);
  EXPECT_EQ(b.plane[1].z[3][3], 200.0f);
}

// A gap across a vertical 0|100 edge: the diffusion runs along the edge, so the gap's
// pixels two columns or more from it take their side's value. (The diagonal stencil
// cannot damp a checkerboard, so mode 2 rings a little next to the edge.)
TEST_F(InpaintTest, AStraightEdgeContinuesThroughAGap) {
  for (int mode : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    const int w = 24, h = 24, edge = 12;  // columns below edge are 0
    fpbuffer b = Image(w, h, [&](int, int x, int) { return x < edge ? 0.0f : 100.0f; });
    for (int c = 0; c < 3; ++c)
      for (int y = 10; y < 14; ++y)
        for (int x = 4; x < 20; ++x) b.plane[c].z[y][x] = 50.0f;
    Mask(b, [](int x, int y) { return x >= 4 && x < 20 && y >= 10 && y < 14; });
    Params r;
    r.mode = mode;
    r.iterations = 5000;
    r.sigma = 5.0f;
    Inpaint(b, r);
    for (int y = 10; y < 14; ++y) {
      for (int x = 4; x < 20; ++x) {
        const float v = b.plane[0].z[y][x];
        if (x <= edge - 2) {
          EXPECT_NEAR(v, 0.0f, 5.0f) << x << "," << y;
        } else if (x >= edge + 1) {
          EXPECT_NEAR(v, 100.0f, 5.0f) << x << "," << y;
        }
      }
    }
  }
}

// The dominant channel is the one the tensor comes from: the run with D = 2 (3) is the
// run with D = 1 on the image whose channels 0 and 1 (0 and 2) are exchanged.
TEST_F(InpaintTest, TheDominantChannelSteersTheTensor) {
  const auto f = [](int c, int x, int y) {
    const float edges[3] = {x < 8 ? 0.0f : 90.0f, y < 7 ? 10.0f : 80.0f,
                            float((x * 7 + y * 3) % 23)};
    return edges[c];
  };
  const auto inside = [](int x, int y) { return x >= 5 && x < 11 && y >= 4 && y < 10; };
  for (int d : {2, 3}) {
    SCOPED_TRACE(d);
    Params r;
    r.iterations = 40;
    r.dominant = d;
    fpbuffer a = Image(16, 14, f);
    Mask(a, inside);
    Inpaint(a, r);
    fpbuffer swapped = Image(16, 14, f);
    swapped.plane[0].swapwith(swapped.plane[d - 1]);
    Mask(swapped, inside);
    r.dominant = 1;
    Inpaint(swapped, r);
    swapped.plane[0].swapwith(swapped.plane[d - 1]);
    EXPECT_EQ(Bytes(a), Bytes(swapped));
    fpbuffer first = Image(16, 14, f);
    Mask(first, inside);
    Inpaint(first, r);
    EXPECT_NE(Bytes(a), Bytes(first));
  }
}

TEST_F(InpaintTest, BorderPixelsChangeOnlyInTheInitialFill) {
  const auto f = [](int c, int x, int y) { return float((x * 5 + y * 11 + c * 3) % 17); };
  const auto inside = [](int x, int y) { return x < 6 && y < 5; };  // touches two borders
  Params r;
  r.iterations = 100;
  fpbuffer filled = Image(12, 10, f), stepped = Image(12, 10, f);
  Mask(filled, inside);
  Mask(stepped, inside);
  r.iterations = 0;
  Inpaint(filled, r);
  r.iterations = 100;
  Inpaint(stepped, r);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 12; ++x) {
        const bool border = x == 0 || y == 0;
        if (border) {
          EXPECT_EQ(stepped.plane[c].z[y][x], filled.plane[c].z[y][x]);
        }
      }
    }
  }
  EXPECT_NE(Bytes(filled), Bytes(stepped));
}

TEST_F(InpaintTest, SelectionMeetsTheMaskAndNeitherMeansNothing) {
  const auto f = [](int c, int x, int y) { return float((x * 5 + y * 11 + c * 3) % 17); };
  Params r;
  r.iterations = 5;
  fpbuffer plain = Image(9, 9, f);
  const std::string before = Bytes(plain);
  Inpaint(plain, r);
  EXPECT_EQ(Bytes(plain), before);

  // The selection is narrowed to the mask in place, also with Cond off.
  fpbuffer b = Image(9, 9, f);
  Mask(b, [](int x, int) { return x < 5; });
  bitmask selection(9, 9);
  for (int k = 0; k < 81; ++k) selection.setbit(k, k % 9 >= 3);
  Inpaint(b, r, &selection);
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) {
      EXPECT_EQ(selection.get(x, y), x >= 3 && x < 5);
      if (x < 3 || x >= 5) {
        EXPECT_EQ(b.plane[0].z[y][x], f(0, x, y));
      }
    }
  }
}

// Regions on every border, empty and whole, on images from 1 x 1 up: nothing reads
// outside the planes (the sanitizers watch), and images below 3 x 3 are left alone.
TEST_F(InpaintTest, TinyImagesAndRegionsOnEveryBorder) {
  const std::function<bool(int, int, int, int)> regions[] = {
      [](int, int, int, int) { return false; },
      [](int, int, int, int) { return true; },
      [](int x, int, int, int) { return x == 0; },
      [](int x, int, int w, int) { return x == w - 1; },
      [](int, int y, int, int) { return y == 0; },
      [](int, int y, int, int h) { return y == h - 1; },
  };
  for (int s = 1; s <= 5; ++s) {
    for (size_t i = 0; i < std::size(regions); ++i) {
      for (int mode : {1, 2}) {
        SCOPED_TRACE(testing::Message() << s << "x" << s << " region " << i << " mode " << mode);
        fpbuffer b = Image(s, s, [](int c, int x, int y) { return float(x * 30 + y * 7 + c); });
        Mask(b, [&](int x, int y) { return regions[i](x, y, s, s); });
        const std::string before = Bytes(b);
        Params r;
        r.iterations = 20;
        r.mode = mode;
        r.interval = 3;
        Inpaint(b, r);
        if (s < 3 || i == 0) {
          EXPECT_EQ(Bytes(b), before);
        }
        for (int c = 0; c < 3; ++c)
          for (int k = 0; k < b.n; ++k) ASSERT_TRUE(std::isfinite(b.plane[c].x[k]));
      }
    }
  }
}

TEST_F(InpaintTest, TheSameBytesOnOneAndEightThreads) {
  const auto f = [](int c, int x, int y) {
    return float((x * 37 + y * 101 + c * 53) % 256) + (x > 60 ? 40.0f : 0.0f);
  };
  std::string results[2];
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : 8);
    fpbuffer b = Image(200, 190, f);
    Mask(b, [](int x, int y) { return x >= 2 && x < 198 && y >= 2 && y < 188; });
    Params r;
    r.iterations = 12;
    r.interval = 5;
    r.tolerance = 0.5f;
    Inpaint(b, r);
    results[t] = Bytes(b);
  }
  SetParallelThreads(0);
  EXPECT_EQ(results[0], results[1]);
}
