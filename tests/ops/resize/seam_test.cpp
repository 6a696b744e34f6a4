#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "ops/resize/seamcarve.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {
using Id = CommandId;

// Deterministic texture in 20-230.
float Texture(int c, int x, int y) {
  uint32_t s = uint32_t(x * 7919 + y * 104729 + c * 1299709) * 2654435761u;
  s ^= s >> 13;
  return 20.0f + float(s % 2110) / 10.0f;
}

class SeamTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    LiveSettings().conditional = 0;
    P().energyFunctionType = 1;  // RGB: no colour round trip, so values compare exactly
    P().updateEnergyFunction = 0;
    P().derivativeBlendingIterations = 0;
  }
  static ResizeParams& P() { return LiveSettings().resize; }

  static void Fill(CImageView& v, int w, int h, float (*f)(int, int, int)) {
    fpbuffer& layer = v.currentLayer();
    layer.dim(w, h, cspace::kRGB | 7);
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) layer.plane[c].z[y][x] = f(c, x, y);
      }
    }
    v.currentBitmap() = DisplayBitmap(w, h);
    layer.todib(v.currentBitmap().toprow());
  }
  // Paints a rectangle of the window's selection (made of the image's size).
  static void Select(CImageView& v, int x0, int y0, int w, int h) {
    const fpbuffer& layer = v.currentLayer();
    v.selection.dim(layer.width, layer.height);
    for (int k = 0; k < v.selection.n; ++k) v.selection.setbit(k, false);
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) v.selection.set(x, y, true);
    }
  }
  static void Carve(CImageView& v, int w, int h) {
    P().seamWidth = w;
    P().seamHeight = h;
    v.Dispatch(Id::SeamCarving);
  }
  static std::vector<float> Plane(const fpbuffer& image, int c) {
    return std::vector<float>(image.plane[c].x, image.plane[c].x + image.n);
  }
  static std::vector<float> Row(const fpbuffer& image, int c, int y) {
    return std::vector<float>(image.plane[c].z[y], image.plane[c].z[y] + image.width);
  }
  static bool ScratchEmpty() {
    for (const auto& e : std::filesystem::directory_iterator(ScratchDirectory())) {
      if (e.path().filename() != kScratchMarker) return false;
    }
    return true;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(SeamTest, TheSameSizeReturnsTheImage) {
  for (int type : {1, 0, 8}) {
    SCOPED_TRACE(type);
    P().energyFunctionType = type;
    Fill(v, 12, 9, Texture);
    const fpbuffer before(v.currentLayer());
    Carve(v, 12, 9);
    const fpbuffer& after = v.currentLayer();
    ASSERT_EQ(after.width, 12);
    ASSERT_EQ(after.height, 9);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < after.n; ++k) {
        // Only the colour space's round trip may move a value.
        ASSERT_NEAR(after.plane[c].x[k], before.plane[c].x[k], type == 1 ? 0.0 : 2e-3);
      }
    }
    EXPECT_EQ(after.code, before.code);
  }
}

// Each size must lie between half of it less one and twice it, and be at least 1.
TEST_F(SeamTest, TargetBounds) {
  struct Case {
    int w, h, tw, th;
    bool accepted;
  };
  const Case cases[] = {
      {801, 2, 398, 2, false},  {801, 2, 399, 2, true}, {801, 2, 1602, 2, true},
      {801, 2, 1603, 2, false}, {3, 5, 3, 1, true},     {3, 5, 3, 11, false},
      {1, 1, 0, 1, false},      {1, 1, 2, 2, true},     {1, 3, 1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " to " + std::to_string(c.tw) +
                 "x" + std::to_string(c.th));
    Fill(v, c.w, c.h, Texture);
    const std::vector<float> before = Plane(v.currentLayer(), 0);
    if (!c.accepted)
      ui.ExpectMessage("Width and height must be between half and twice that of original.");
    Carve(v, c.tw, c.th);
    ui.VerifyAllAnswered();
    const fpbuffer& after = v.currentLayer();
    if (c.accepted) {
      EXPECT_EQ(after.width, c.tw);
      EXPECT_EQ(after.height, c.th);
    } else {
      EXPECT_EQ(Plane(after, 0), before);
    }
  }
}

// A bright vertical line on a flat picture is never crossed while narrowing.
TEST_F(SeamTest, AHighEnergyLineSurvivesNarrowing) {
  for (int type : {0, 1, 2, 5, 9}) {
    SCOPED_TRACE(type);
    P().energyFunctionType = type;
    Fill(v, 20, 10, [](int, int x, int) { return x == 13 ? 250.0f : 40.0f; });
    Carve(v, 12, 10);
    const fpbuffer& after = v.currentLayer();
    ASSERT_EQ(after.width, 12);
    for (int y = 0; y < 10; ++y) {
      const std::vector<float> row = Row(after, 1, y);
      EXPECT_EQ(std::count_if(row.begin(), row.end(), [](float f) { return f > 200.0f; }), 1)
          << "row " << y;
    }
  }
}

// Avoided pixels stay as they were; pixels marked for removal go first; the marks never
// reach the result.
TEST_F(SeamTest, AvoidanceAndRemovalRegions) {
  Fill(v, 16, 8, Texture);
  const fpbuffer unmarked(v.currentLayer());
  v.Dispatch(Id::DrawAvoidanceRemovalRegions);  // from the menu: keeps the unmarked image
  EXPECT_EQ(v.f2OperationId, int(Id::DrawAvoidanceRemovalRegions));
  Select(v, 3, 0, 4, 8);  // avoid columns 3-6
  v.Dispatch(Id::F2ProgrammedOperation);
  EXPECT_EQ(v.currentLayer().plane[1].z[0][3], -1e16f);
  EXPECT_EQ(v.currentLayer().plane[2].z[0][3], -1e16f);
  Select(v, 10, 0, 2, 8);  // remove columns 10-11
  v.Dispatch(Id::F3ProgrammedOperation);
  EXPECT_EQ(v.currentLayer().plane[0].z[5][11], -1e16f);
  v.selection.free();
  Carve(v, 12, 8);
  const fpbuffer& after = v.currentLayer();
  ASSERT_EQ(after.width, 12);
  for (int y = 0; y < 8; ++y) {
    for (int c = 0; c < 3; ++c) {
      const std::vector<float> row = Row(after, c, y);
      // The avoided run is still there, in one piece.
      const std::vector<float> avoided(unmarked.plane[c].z[y] + 3, unmarked.plane[c].z[y] + 7);
      EXPECT_NE(std::search(row.begin(), row.end(), avoided.begin(), avoided.end()), row.end())
          << "row " << y;
      for (int x = 10; x < 12; ++x) {
        EXPECT_EQ(std::count(row.begin(), row.end(), unmarked.plane[c].z[y][x]), 0);
      }
      EXPECT_TRUE(std::all_of(row.begin(), row.end(), [](float f) { return f >= 20.0f; }));
    }
  }
  EXPECT_TRUE(v.seamUnmarked.empty()) << "the carving uses the unmarked image up";
}

// F2 with nothing selected fills channel 2 with -1e-16 (no mark) and channel 3 with
// -1e16: the avoidance marks are gone, and the carving takes the unmarked image.
TEST_F(SeamTest, F2WithoutSelectionClearsTheAvoidanceMarks) {
  Fill(v, 10, 6, Texture);
  const fpbuffer unmarked(v.currentLayer());
  v.Dispatch(Id::DrawAvoidanceRemovalRegions);
  Select(v, 2, 2, 3, 3);
  v.Dispatch(Id::F2ProgrammedOperation);
  ASSERT_TRUE(HasSeamMarks(v.currentLayer()));
  v.selection.free();
  v.Dispatch(Id::F2ProgrammedOperation);
  const fpbuffer& marked = v.currentLayer();
  EXPECT_FALSE(HasSeamMarks(marked));
  for (int k = 0; k < marked.n; ++k) {
    ASSERT_EQ(marked.plane[1].x[k], -1e-16f);
    ASSERT_EQ(marked.plane[2].x[k], -1e16f);
  }
  Carve(v, 10, 6);
  EXPECT_EQ(Plane(v.currentLayer(), 1), Plane(unmarked, 1));
  EXPECT_EQ(Plane(v.currentLayer(), 2), Plane(unmarked, 2));
}

// Marks with Cond on take the image mask: ANDed into the selection, or alone.
TEST_F(SeamTest, CondNarrowsTheMarksToTheImageMask) {
  LiveSettings().conditional = 1;
  Fill(v, 6, 4, Texture);
  fpbuffer& layer = v.currentLayer();
  layer.mask.dim(6, 4);
  for (int x = 0; x < 6; ++x) layer.mask.set(x, 1, true);  // row 1
  v.Dispatch(Id::DrawAvoidanceRemovalRegions);
  Select(v, 0, 0, 2, 4);  // columns 0-1
  v.Dispatch(Id::F2ProgrammedOperation);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      EXPECT_EQ(layer.plane[1].z[y][x] < -1e15f, y == 1 && x < 2) << x << "," << y;
    }
  }
  v.selection.free();
  v.Dispatch(Id::F3ProgrammedOperation);
  for (int x = 0; x < 6; ++x) EXPECT_LT(layer.plane[0].z[1][x], -1e15f);
  EXPECT_GT(layer.plane[0].z[0][0], 0.0f);
}

TEST_F(SeamTest, MarksWithoutTheUnmarkedImageCarveNothing) {
  Fill(v, 10, 6, Texture);
  // F2 straight away: no copy was taken from the menu.
  v.f2OperationId = int(Id::DrawAvoidanceRemovalRegions);
  Select(v, 2, 2, 3, 3);
  v.Dispatch(Id::F2ProgrammedOperation);
  const std::vector<float> marked = Plane(v.currentLayer(), 1);
  ui.ExpectMessage("The unmarked image is missing; mark the regions again.");
  Carve(v, 8, 6);
  ui.VerifyAllAnswered();
  EXPECT_EQ(v.currentLayer().width, 10);
  EXPECT_EQ(Plane(v.currentLayer(), 1), marked);
  // A copy of another size does not count either.
  v.seamUnmarked.dim(9, 6, cspace::kRGB | 7);
  ui.ExpectMessage("The unmarked image is missing; mark the regions again.");
  Carve(v, 8, 6);
  ui.VerifyAllAnswered();
  EXPECT_TRUE(v.seamUnmarked.empty());
}

// Each window keeps its own unmarked image: marking B after A leaves A's for A.
TEST_F(SeamTest, TwoWindowsKeepTheirOwnUnmarkedImages) {
  CImageView b{&host};
  Fill(v, 14, 7, Texture);
  Fill(b, 14, 7, [](int c, int x, int y) { return 255.0f - Texture(c, x, y); });
  // The result A must give: its unmarked image carved with the same marks.
  fpbuffer expected(v.currentLayer());
  fpbuffer expectedCopy(expected);
  bitmask region(14, 7);
  for (int y = 0; y < 7; ++y) region.set(5, y, true);
  expected.markavoidance(&region, false);
  expected.seamcarve(&expectedCopy, 11, 7, 1e16f, -1000.0f, 1, false, 0, false, 0.0f);

  v.Dispatch(Id::DrawAvoidanceRemovalRegions);
  Select(v, 5, 0, 1, 7);
  v.Dispatch(Id::F2ProgrammedOperation);
  b.Dispatch(Id::DrawAvoidanceRemovalRegions);
  Select(b, 1, 0, 3, 7);
  b.Dispatch(Id::F2ProgrammedOperation);
  Carve(v, 11, 7);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Plane(v.currentLayer(), c), Plane(expected, c));
  EXPECT_FALSE(b.seamUnmarked.empty());
}

// Every combination of growing and shrinking, with energy updates, blending and the
// image mask: exact sizes, finite values (source values without blending), the mask
// carried, no scratch file left.
TEST_F(SeamTest, ResizesInEveryDirection) {
  struct Case {
    int tw, th, type, iterations;
    bool diagonal;
  };
  const Case cases[] = {
      {10, 9, 0, 0, false},  {23, 12, 3, 0, false},  {16, 20, 4, 0, false}, {20, 8, 7, 15, false},
      {11, 17, 6, 15, true}, {25, 18, 11, 15, true}, {9, 7, 2, 10, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.tw) + "x" + std::to_string(c.th) + " type " +
                 std::to_string(c.type));
    P().energyFunctionType = c.type;
    P().derivativeBlendingIterations = c.iterations;
    P().useDiagonalDerivatives = c.diagonal;
    P().updateEnergyFunction = 1;
    P().blendingAvoidanceWeight = 0.5f;
    Fill(v, 16, 12, Texture);
    fpbuffer& layer = v.currentLayer();
    layer.mask.dim(16, 12);
    for (int k = 0; k < layer.n; ++k) layer.mask.setbit(k, k % 3 == 0);
    v.Dispatch(Id::DrawAvoidanceRemovalRegions);
    Select(v, 4, 4, 2, 2);
    v.Dispatch(Id::F2ProgrammedOperation);
    v.selection.free();
    Carve(v, c.tw, c.th);
    const fpbuffer& after = v.currentLayer();
    ASSERT_EQ(after.width, c.tw);
    ASSERT_EQ(after.height, c.th);
    EXPECT_TRUE(after.mask.covers(c.tw, c.th));
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = 0; k < after.n; ++k) {
        ASSERT_TRUE(std::isfinite(after.plane[ch].x[k]));
        // Without blending every pixel is a source pixel (after the colour round trip).
        if (c.iterations == 0) {
          ASSERT_GT(after.plane[ch].x[k], 19.9f);
          ASSERT_LT(after.plane[ch].x[k], 231.1f);
        }
      }
    }
    EXPECT_TRUE(ScratchEmpty());
  }
}

// Each energy type against a direct evaluation in its own colour space.
TEST_F(SeamTest, EnergyTypesAgainstBruteForce) {
  const CSpaceCode spaces[12] = {0x20000,  0x10,    0x20000,  0x10,    0x20000,  0x10,
                                 0x400000, 0x40000, 0x400000, 0x40000, 0x400000, 0x40000};
  fpbuffer rgb(7, 5, cspace::kRGB | 7);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < rgb.n; ++k) rgb.plane[c].x[k] = Texture(c, k % 7, k / 7);
  }
  const auto reflect = [](int i, int n) {
    return n == 1 ? 0 : i < 0 ? -i : i >= n ? 2 * n - 2 - i : i;
  };
  for (int type = 0; type < 12; ++type) {
    SCOPED_TRACE(type);
    EXPECT_EQ(SeamEnergySpace(type), spaces[type]);
    fpbuffer image(rgb);
    image.convert(spaces[type] | 7);
    matrix energy;
    fpbuffer converted(rgb);
    converted.convert(SeamEnergySpace(type) | 7);
    converted.seamenergy(energy, type % 6);
    const int t = type % 6;
    const int channels = t % 2 ? 3 : 1;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) {
        double sum = 0;
        for (int c = 0; c < channels; ++c) {
          const auto at = [&](int dx, int dy) {
            return double(image.plane[c].z[reflect(y + dy, 5)][reflect(x + dx, 7)]);
          };
          if (t < 2) {
            sum += std::fabs(at(0, 1) - at(0, -1)) + std::fabs(at(1, 0) - at(-1, 0));
          } else {
            double axis = 0, diagonal = 0;
            for (int dy = -1; dy <= 1; ++dy) {
              for (int dx = -1; dx <= 1; ++dx) {
                const double d = at(dx, dy) - at(0, 0);
                (dx != 0 && dy != 0 ? diagonal : axis) += d * d;
              }
            }
            sum += 0.5 * diagonal + axis;
          }
        }
        double want = sum;
        if (t == 1 || t == 5) want = sum / 3;
        if (t == 2) want = std::sqrt(sum);
        if (t == 3) want = std::sqrt(sum) / 3;
        EXPECT_NEAR(energy.z[y][x], want, 1e-4 * std::max(1.0, want)) << x << "," << y;
      }
    }
  }
}

// One-pixel lines read their neighbours by reflection: nothing leaves the image.
TEST_F(SeamTest, OnePixelImages) {
  for (int type : {0, 3, 4}) {
    P().energyFunctionType = type;
    P().updateEnergyFunction = 1;
    Fill(v, 1, 6, Texture);
    Carve(v, 2, 4);
    EXPECT_EQ(v.currentLayer().width, 2);
    EXPECT_EQ(v.currentLayer().height, 4);
    Fill(v, 5, 1, Texture);
    Carve(v, 3, 2);
    EXPECT_EQ(v.currentLayer().width, 3);
    EXPECT_EQ(v.currentLayer().height, 2);
  }
}
