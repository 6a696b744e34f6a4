#include <cmath>
#include <functional>
#include <string>

#include "image/fpbuffer.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
using Fill = std::function<float(int c, int x, int y)>;
using Inside = std::function<bool(int x, int y)>;

class CloneTest : public ZepTest {
 protected:
  static fpbuffer Image(int w, int h, const Fill& f, CSpaceCode code = 0x17) {
    fpbuffer b(w, h, code);
    for (int c = 0; c < b.channels; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.plane[c].z[y][x] = f(c, x, y);
    return b;
  }
  static void Mask(fpbuffer& b, const Inside& inside) {
    b.clearmask();
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) b.mask.set(x, y, inside(x, y));
  }
  static std::string Bytes(const fpbuffer& b) {
    std::string s;
    for (int c = 0; c < b.channels; ++c)
      s.append(reinterpret_cast<const char*>(b.plane[c].x), sizeof(float) * size_t(b.n));
    return s;
  }
};

const Inside kSquare = [](int x, int y) { return x >= 4 && x < 10 && y >= 3 && y < 9; };
const Fill kBusy = [](int c, int x, int y) {
  return 60.0f + 20.0f * std::sin(0.7f * x + c) + 3.0f * y;
};
}  // namespace

TEST_F(CloneTest, AConstantSourceTakesTheRingsValue) {
  fpbuffer d = Image(14, 12, [](int, int x, int y) { return kSquare(x, y) ? 200.0f : 10.0f; });
  const fpbuffer s = Image(14, 12, [](int, int, int) { return 77.0f; });
  Mask(d, kSquare);
  SeamlessClone(d, s, 300, 2.0f, 3.0f, 0, nullptr);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 14; ++x) ASSERT_NEAR(d.plane[1].z[y][x], 10.0f, 0.01f) << x << "," << y;
}

// Mode 1 keeps the destination's own edge where the source is flat; mode 0 loses it.
TEST_F(CloneTest, TransparentModeKeepsAStrongEdge) {
  const Fill edge = [](int, int x, int) { return x < 7 ? 20.0f : 120.0f; };
  const fpbuffer s = Image(14, 12, [](int, int, int) { return 50.0f; });
  for (int mode : {0, 1}) {
    fpbuffer d = Image(14, 12, edge);
    Mask(d, kSquare);
    SeamlessClone(d, s, 500, 2.0f, 3.0f, mode, nullptr);
    const float jump = d.plane[0].z[6][7] - d.plane[0].z[6][6];
    if (mode == 1) {
      EXPECT_NEAR(jump, 100.0f, 1.0f);
      EXPECT_NEAR(d.plane[0].z[6][5], 20.0f, 1.0f);
    } else {
      EXPECT_LT(jump, 50.0f);
    }
  }
}

// With no iterations the region holds the start values: the source times the level
// factor, mean(outer ring of the destination) / mean(inner ring of the source).
TEST_F(CloneTest, StartValuesAndTheLightLevelFactor) {
  struct Case {
    const char* name;
    int mode;
    float source, destination, factor;
  };
  const Case cases[] = {
      {"mode 3, means 50 and 100", 3, 50.0f, 100.0f, 2.0f},
      {"mode 4, means 50 and 100", 4, 50.0f, 100.0f, 2.0f},
      {"mode 0 applies none", 0, 50.0f, 100.0f, 1.0f},
      {"mode 3 on a source of 0", 3, 0.0f, 100.0f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fpbuffer d = Image(14, 12, [&](int, int, int) { return c.destination; });
    // The source level everywhere but one bump inside, off the inner ring.
    const fpbuffer s = Image(14, 12, [&](int, int x, int y) {
      return c.source + (x == 6 && y == 5 ? 10.0f : 0.0f);
    });
    Mask(d, kSquare);
    SeamlessClone(d, s, 0, 2.0f, 3.0f, c.mode, nullptr);
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 14; ++x) {
        const float want = kSquare(x, y) ? c.factor * s.plane[2].z[y][x] : c.destination;
        ASSERT_FLOAT_EQ(d.plane[2].z[y][x], want) << x << "," << y;
      }
    }
  }
}

TEST_F(CloneTest, AWholeImageRegionIsTheSource) {
  fpbuffer d = Image(9, 7, [](int c, int x, int y) { return float(c * 40 + x * y); });
  const fpbuffer s = Image(9, 7, kBusy);
  Mask(d, [](int, int) { return true; });
  SeamlessClone(d, s, 50, 2.0f, 3.0f, 3, nullptr);
  EXPECT_EQ(Bytes(d), Bytes(s));
}

TEST_F(CloneTest, TheSelectionLimitsTheCloneAndIsNarrowedToTheMask) {
  const fpbuffer s = Image(14, 12, kBusy);
  const Fill flat = [](int, int, int) { return 30.0f; };
  bitmask selection(14, 12);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 14; ++x) selection.set(x, y, x >= 6);
  // The selection alone.
  fpbuffer d = Image(14, 12, flat);
  SeamlessClone(d, s, 0, 2.0f, 3.0f, 0, &selection);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 14; ++x) {
      ASSERT_EQ(d.plane[0].z[y][x], x >= 6 ? s.plane[0].z[y][x] : 30.0f) << x << "," << y;
    }
  }
  // With the mask: their intersection, and the selection keeps it.
  fpbuffer both = Image(14, 12, flat);
  Mask(both, kSquare);
  SeamlessClone(both, s, 0, 2.0f, 3.0f, 0, &selection);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 14; ++x) {
      const bool in = kSquare(x, y) && x >= 6;
      ASSERT_EQ(selection.get(x, y), in);
      ASSERT_EQ(both.plane[0].z[y][x], in ? s.plane[0].z[y][x] : 30.0f) << x << "," << y;
    }
  }
  // Neither: nothing happens.
  fpbuffer none = Image(14, 12, flat);
  SeamlessClone(none, s, 20, 2.0f, 3.0f, 0, nullptr);
  EXPECT_EQ(Bytes(none), Bytes(Image(14, 12, flat)));
}

TEST_F(CloneTest, FourChannelsAndLayersThatDoNotMatch) {
  fpbuffer d = Image(
      14, 12, [](int, int, int) { return 10.0f; }, 0x2007);
  const fpbuffer s = Image(
      14, 12, [](int c, int, int) { return 40.0f + c; }, 0x2007);
  ASSERT_EQ(d.channels, 4);
  Mask(d, kSquare);
  SeamlessClone(d, s, 0, 2.0f, 3.0f, 0, nullptr);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(d.plane[c].z[5][6], 40.0f + c);
  // Three source channels clone three; another size clones nothing.
  fpbuffer four = Image(
      14, 12, [](int, int, int) { return 10.0f; }, 0x2007);
  Mask(four, kSquare);
  SeamlessClone(four, Image(14, 12, kBusy), 0, 2.0f, 3.0f, 0, nullptr);
  EXPECT_EQ(four.plane[2].z[5][6], kBusy(2, 6, 5));
  EXPECT_EQ(four.plane[3].z[5][6], 10.0f);
  fpbuffer other = Image(14, 12, [](int, int, int) { return 10.0f; });
  Mask(other, kSquare);
  SeamlessClone(other, Image(13, 12, kBusy), 10, 2.0f, 3.0f, 0, nullptr);
  EXPECT_EQ(other.plane[0].z[5][6], 10.0f);
}

// Regions on every border and tiny images: nothing reads outside the planes.
TEST_F(CloneTest, TinyImagesAndBorderRegions) {
  const Inside regions[] = {
      [](int x, int) { return x == 0; },
      [](int, int y) { return y == 0; },
      [](int x, int y) { return x + y >= 2; },
      [](int, int) { return true; },
  };
  for (int size = 1; size <= 4; ++size) {
    for (const Inside& inside : regions) {
      for (int mode = 0; mode <= 4; ++mode) {
        fpbuffer d = Image(size, size, kBusy);
        Mask(d, inside);
        SeamlessClone(d, Image(size, size, [](int, int x, int) { return 5.0f * x; }), 10, 2.0f,
                      3.0f, mode, nullptr);
        for (int k = 0; k < d.n; ++k) ASSERT_TRUE(std::isfinite(d.plane[0].x[k]));
      }
    }
  }
}

TEST_F(CloneTest, TheSameBytesOnOneAndEightThreads) {
  std::string results[2];
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : 8);
    fpbuffer d =
        Image(300, 290, [](int c, int x, int y) { return float((x * 3 + y * 5 + c) % 97); });
    Mask(d, [](int x, int y) { return x > 3 && y > 2 && x < 296 && y < 287; });
    SeamlessClone(d, Image(300, 290, kBusy), 15, 2.0f, 3.0f, 4, nullptr);
    results[t] = Bytes(d);
  }
  SetParallelThreads(0);
  EXPECT_EQ(results[0], results[1]);
}
