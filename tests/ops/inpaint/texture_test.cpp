#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/flags.h"
#include "numeric/kernels.h"
#include "ops/basic/basic_fixture.h"

namespace {
using Id = CommandId;
const Id F2 = Id::F2ProgrammedOperation;

// A busy texture: a pattern with a period of a few pixels plus pseudo-random noise.
float Busy(int c, int x, int y) {
  const uint32_t hash = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
  return 100.0f + 40.0f * std::sin(0.9f * x + 0.4f * y + c) + float(hash % 1000) * 0.03f;
}

matrix Plane(int w, int h, float (*f)(int, int, int), int c = 0) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) m.z[y][x] = f(c, x, y);
  return m;
}

std::string Bytes(const fpbuffer& b) {
  std::string s;
  for (int c = 0; c < b.channels; ++c)
    s.append(reinterpret_cast<const char*>(b.plane[c].x), sizeof(float) * size_t(b.n));
  return s;
}

class TextureTest : public BasicTest {
 protected:
  void SetUp() override {
    BasicTest::SetUp();
    for (matrix& m : TextureModel()) m.free();
  }
  void TearDown() override {
    for (matrix& m : TextureModel()) m.free();
    BasicTest::TearDown();
  }
  InpaintParams& P() { return LiveSettings().inpaint; }
  void Picture(int w, int h, CSpaceCode code = 0x17, int shift = 0) {
    Make(w, h, code, [=](int c, int k) { return Busy(c, k % w + shift, k / w); });
    v.Paint(w, h);  // a client of the picture's size: window and image pixels coincide
  }
  // Records the model of the whole picture with a w x h neighbourhood, then draws the
  // picture shifted: a pixel whose neighbours are still the sample's could otherwise draw
  // its own residual and come back unchanged.
  void Fit(int w, int h) {
    const fpbuffer& image = v.currentLayer();
    P().autoregressiveWidth = w;
    P().autoregressiveHeight = h;
    v.dragStart = {0, 0};
    v.dragEnd = {image.width - 1, image.height - 1};
    v.Dispatch(Id::RecordTexture);
    ASSERT_TRUE(ModelHeld());
    Picture(image.width, image.height, image.code, 7);
  }
  // A drag kept as a rectangle (Ctrl at the release), in image coordinates.
  void Drag(Point a, Point b) {
    const int top = v.currentLayer().height - 1;
    v.OnRightButtonDown({a.x, top - a.y});
    v.OnMouseMove({b.x, top - b.y});
    Flags().CtrlHeld = true;
    v.OnRightButtonUp({b.x, top - b.y});
  }
  bool ModelHeld() {
    for (const matrix& m : TextureModel())
      if (m.n == 0) return false;
    return true;
  }
};
}  // namespace

// With no block origin in the sample the prior alone decides: every coefficient is the
// mean weight 1/8 and every residual 0, so a fill makes each pixel the mean of the eight
// pixels to its right and above, as they are by then.
TEST(TextureModel, ASampleWithoutBlocksGivesTheMean) {
  matrix c, r;
  Plane(4, 4, Busy).texturemodel(c, r, 3, 3);
  ASSERT_EQ(c.nx, 8);
  ASSERT_EQ(c.ny, 1);
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(c.x[k], 0.125f, 1e-7f);
  ASSERT_EQ(r.n, 1);
  EXPECT_EQ(r.x[0], 0.0f);

  const matrix before = Plane(7, 6, Busy);
  matrix p(before);
  p.texturefill(c, r, nullptr, 3, 3);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 7; ++x) {
      if (x == 0 || y == 0) {
        EXPECT_EQ(p.z[y][x], before.z[y][x]) << x << "," << y;
        continue;
      }
      EXPECT_NE(p.z[y][x], before.z[y][x]) << x << "," << y;
      // Neighbours inside the plane are final when the pixel is computed.
      if (x + 2 >= 7 || y + 2 >= 6) continue;
      double mean = 0.0;
      for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) mean += (i || j) ? p.z[y + j][x + i] / 8.0 : 0.0;
      EXPECT_NEAR(p.z[y][x], mean, 1e-3) << x << "," << y;
    }
  }
}

// The fit on a sample whose every block follows one linear rule exactly finds the rule,
// and the residuals are (close to) 0.
TEST(TextureModel, AnExactlyPredictableSampleHasNoResiduals) {
  // t(x, y) = 2 t(x + 1, y) - t(x + 2, y) holds for any plane linear in x.
  const matrix s = Plane(30, 12, [](int, int x, int y) { return 3.0f * x + 0.25f * y * y; });
  matrix c, r;
  s.texturemodel(c, r, 3, 1);
  ASSERT_EQ(c.n, 2);
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 27; ++x) EXPECT_NEAR(r.z[y][x], 0.0f, 2e-3f) << x << "," << y;
  // Rows of different offsets leave one rule: 2 t(x + 1, y) - t(x + 2, y).
  EXPECT_NEAR(c.x[0], 2.0f, 1e-3f);
  EXPECT_NEAR(c.x[1], -1.0f, 1e-3f);
}

// Samples not larger than the block, and fills that cannot be made, change nothing.
TEST(TextureModel, DegenerateShapes) {
  matrix c(3, 1), r(2, 2);
  Plane(3, 5, Busy).texturemodel(c, r, 3, 3);
  EXPECT_EQ(c.n, 0);
  EXPECT_EQ(r.n, 0);
  Plane(4, 4, Busy).texturemodel(c, r, 3, 3);
  for (int size : {1, 2, 3}) {
    SCOPED_TRACE(size);
    const matrix before = Plane(size, size, Busy);
    matrix p(before);
    p.texturefill(c, r, nullptr, 3, 3);
    for (int y = 1; y < size; ++y)
      for (int x = 1; x < size; ++x) EXPECT_NE(p.z[y][x], before.z[y][x]);
    EXPECT_EQ(p.z[0][0], before.z[0][0]);
    // Coefficients of another neighbourhood, or a region of another size: nothing.
    matrix q(before);
    q.texturefill(c, r, nullptr, 2, 2);
    bitmask other(size + 1, size);
    other.set(1, 1, true);
    q.texturefill(c, r, &other, 3, 3);
    for (int k = 0; k < q.n; ++k) EXPECT_EQ(q.x[k], before.x[k]);
  }
}

// The coefficients are the least-squares solution of the block equations with the prior
// rows 1e-6 c_k = 1e-6/d, as numpy solves it: a small neighbourhood, and the default 15 x 15
// one, whose 224 predictors need the factor kept in double precision.
TEST_F(TextureTest, CoefficientsAgreeWithNumpy) {
  if (std::system("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-numpy is not installed";
  }
  const std::string script =
      "import numpy as np, sys\n"
      "W, H, w, h = (int(a) for a in sys.argv[3:7])\n"
      "d = w * h - 1\n"
      "t = np.fromfile(sys.argv[1], np.float32).astype(np.float64).reshape(H, W)\n"
      "rows, rhs = [], []\n"
      "for y in range(1, H - h):\n"
      "  for x in range(1, W - w):\n"
      "    b = t[y:y + h, x:x + w].ravel()\n"
      "    rows.append(b[1:]); rhs.append(b[0])\n"
      "A = np.vstack([np.array(rows), 1e-6 * np.eye(d)])\n"
      "y = np.concatenate([rhs, np.full(d, 1e-6 / d)])\n"
      "c = np.linalg.lstsq(A, y, rcond=None)[0]\n"
      "c.tofile(sys.argv[2])\n";
  std::ofstream(home / "lstsq.py") << script;
  struct Case {
    int W, H, w, h;
  };
  for (const Case& s : {Case{41, 33, 5, 4}, Case{60, 52, 15, 15}}) {
    SCOPED_TRACE(s.w);
    const int d = s.w * s.h - 1;
    const matrix sample = Plane(s.W, s.H, Busy);
    const std::string in = (home / "sample.f32").string(), out = (home / "lstsq.f64").string();
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(sample.x), std::streamsize(sample.n * 4));
    const std::string command = "/usr/bin/python3 '" + (home / "lstsq.py").string() + "' '" + in +
                                "' '" + out + "' " + std::to_string(s.W) + " " +
                                std::to_string(s.H) + " " + std::to_string(s.w) + " " +
                                std::to_string(s.h);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<double> want(size_t(d), 0.0);
    std::ifstream(out, std::ios::binary)
        .read(reinterpret_cast<char*>(want.data()), std::streamsize(d * 8));
    matrix c, r;
    sample.texturemodel(c, r, s.w, s.h);
    ASSERT_EQ(c.n, d);
    double largest = 0.0;
    for (double value : want) largest = std::max(largest, std::fabs(value));
    for (int k = 0; k < d; ++k) ASSERT_NEAR(c.x[k], want[size_t(k)], 1e-4 * largest) << k;
    // Every residual is the misfit of its block under those coefficients.
    for (int y = 1; y < s.H - s.h; ++y) {
      for (int x = 1; x < s.W - s.w; ++x) {
        double predicted = 0.0;
        for (int k = 1; k <= d; ++k)
          predicted += want[size_t(k - 1)] * sample.z[y + k / s.w][x + k % s.w];
        ASSERT_NEAR(r.z[y][x], sample.z[y][x] - predicted, 1e-2) << x << "," << y;
      }
    }
  }
}

// The menu shows page 76 and fits the dragged rectangle; the same command then destroys the
// model and forgets the drag, which disables it until the next drag.
TEST_F(TextureTest, RecordFromTheMenuThenDestroy) {
  Picture(20, 16);
  const std::string picture = Bytes(v.currentLayer());
  Drag({13, 3}, {2, 12});
  EXPECT_EQ(v.QueryCommand(Id::RecordTexture).text, "Record Texture");
  EXPECT_TRUE(v.QueryCommand(Id::RecordTexture).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::TextureInpainting).enabled);
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(76, {{1, "3"}, {2, "4"}}));
  v.Dispatch(Id::RecordTexture);
  ASSERT_TRUE(ModelHeld());
  EXPECT_EQ(Bytes(v.currentLayer()), picture);
  // Columns 2-13 and rows 3-12: channel c's model is the fit of that block of channel c.
  for (int c = 0; c < 3; ++c) {
    matrix sample(12, 10), coefficients, residuals;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) sample.z[y][x] = v.currentLayer().plane[c].z[3 + y][2 + x];
    sample.texturemodel(coefficients, residuals, 3, 4);
    const matrix& kept = TextureModel()[size_t(c)];
    const matrix& misfits = TextureModel()[size_t(c) + 3];
    ASSERT_EQ(kept.n, 11);
    ASSERT_EQ(misfits.nx, 9);
    ASSERT_EQ(misfits.ny, 6);
    for (int k = 0; k < 11; ++k) EXPECT_EQ(kept.x[k], coefficients.x[k]);
    for (int k = 0; k < misfits.n; ++k) EXPECT_EQ(misfits.x[k], residuals.x[k]);
  }
  EXPECT_EQ(v.QueryCommand(Id::RecordTexture).text, "Destroy Texture");
  EXPECT_TRUE(v.QueryCommand(Id::TextureInpainting).enabled);

  // No page this time (the scripted Ui would fail on one).
  v.Dispatch(Id::RecordTexture);
  for (const matrix& m : TextureModel()) EXPECT_EQ(m.n, 0);
  EXPECT_EQ(v.QueryCommand(Id::RecordTexture).text, "Record Texture");
  EXPECT_FALSE(v.QueryCommand(Id::RecordTexture).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::TextureInpainting).enabled);
  Drag({1, 1}, {9, 9});
  EXPECT_TRUE(v.QueryCommand(Id::RecordTexture).enabled);
}

// A drag made before a crop is clipped to the image; what is left must be larger than the
// neighbourhood in both directions.
TEST_F(TextureTest, TheSampleIsClippedAndMustExceedTheNeighbourhood) {
  Picture(12, 10);
  P().autoregressiveWidth = 3;
  P().autoregressiveHeight = 3;
  v.dragStart = {-5, 4};
  v.dragEnd = {30, 20};
  v.Dispatch(Id::RecordTexture);
  ASSERT_TRUE(ModelHeld());
  EXPECT_EQ(TextureModel()[3].nx, 12 - 3);
  EXPECT_EQ(TextureModel()[3].ny, 6 - 3);
  v.Dispatch(Id::RecordTexture);  // destroys it

  struct Case {
    Point a, b;
  };
  const Case refused[] = {
      {{0, 0}, {3, 5}},      // 4 wide: not larger than a width of 4
      {{0, 2}, {9, 5}},      // 4 high
      {{8, 7}, {30, 20}},    // 4 x 3 inside the image
      {{20, 20}, {25, 25}},  // wholly outside
  };
  P().autoregressiveWidth = 4;
  P().autoregressiveHeight = 4;
  for (const Case& c : refused) {
    v.dragStart = c.a;
    v.dragEnd = c.b;
    ui.ExpectMessage("The texture sample must be larger than the autoregressive neighbourhood.");
    v.Dispatch(Id::RecordTexture);
    ui.VerifyAllAnswered();
    for (const matrix& m : TextureModel()) EXPECT_EQ(m.n, 0);
  }
}

// F2 without a selection and with Cond off synthesises every pixel but row 0 and column 0
// of channels 0-2; a fourth channel is kept. The same generator state gives the same bytes,
// by F2 or by F3.
TEST_F(TextureTest, F2FillsTheWholeImageButRowAndColumnZero) {
  Picture(11, 9, cspace::kCMYK | 0xF);
  ASSERT_EQ(v.currentLayer().channels, 4);
  Fit(3, 2);
  const fpbuffer before(v.currentLayer());
  const randgen start = GlobalRandom();
  Press(Id::TextureInpainting, F2);
  EXPECT_EQ(v.operationName, "Paint Texture");
  const fpbuffer& after = v.currentLayer();
  for (int c = 0; c < 4; ++c) {
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 11; ++x) {
        const bool kept = c == 3 || x == 0 || y == 0;
        EXPECT_EQ(after.plane[c].z[y][x] == before.plane[c].z[y][x], kept)
            << c << " " << x << "," << y;
      }
    }
  }
  const std::string first = Bytes(after);
  // F3 fills as F2 does.
  GlobalRandom() = start;
  v.currentLayer() = before;
  v.Dispatch(Id::F3ProgrammedOperation);
  EXPECT_EQ(Bytes(v.currentLayer()), first);
}

// With Cond on, channel 1 hidden and an image mask, channels 0 and 2 change inside the mask
// only (intersected with a selection when there is one).
TEST_F(TextureTest, CondLimitsTheFillToVisibleChannelsAndTheMask) {
  Picture(12, 10, cspace::kRGB | 0x5);
  Fit(2, 2);
  const auto masked = [](int x, int y) { return x >= 3 && x < 9 && y >= 2 && y < 7; };
  v.currentLayer().clearmask();
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) v.currentLayer().mask.set(x, y, masked(x, y));
  LiveSettings().conditional = 1;
  for (const bool withSelection : {false, true}) {
    SCOPED_TRACE(withSelection);
    const fpbuffer before(v.currentLayer());
    if (withSelection) {
      v.selection.dim(12, 10);
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 12; ++x) v.selection.set(x, y, y >= 4);
    }
    Press(Id::TextureInpainting, F2);
    const fpbuffer& after = v.currentLayer();
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
          const bool filled = c != 1 && masked(x, y) && (!withSelection || y >= 4);
          EXPECT_EQ(after.plane[c].z[y][x] != before.plane[c].z[y][x], filled)
              << c << " " << x << "," << y;
        }
      }
    }
    v.selection.free();
  }
}

// A right-button paint drag with texture inpainting as the F2 operation fills the painted
// pixels alone.
TEST_F(TextureTest, ARightButtonPaintDragFillsThePaintedPixels) {
  Picture(16, 12);
  Fit(3, 3);
  v.SelectOperation(Id::TextureInpainting, true);
  const fpbuffer before(v.currentLayer());
  v.paintMode = true;
  LiveSettings().mask.cursorRadius = 1;
  const auto at = [](int x, int y) { return Point{x, 11 - y}; };
  v.OnRightButtonDown(at(4, 6));
  for (int x = 5; x <= 9; ++x) v.OnMouseMove(at(x, 6));
  const bitmask painted(v.selection);
  ASSERT_TRUE(painted.covers(16, 12));
  v.OnRightButtonUp(at(9, 6));
  int filled = 0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < 12; ++y) {
      for (int x = 0; x < 16; ++x) {
        const bool changed = v.currentLayer().plane[c].z[y][x] != before.plane[c].z[y][x];
        EXPECT_EQ(changed, painted.get(x, y)) << c << " " << x << "," << y;
        filled += changed;
      }
    }
  }
  EXPECT_GT(filled, 3 * 6);
}

// A recorded program replays both commands with the neighbourhood of its steps.
TEST_F(TextureTest, ARecordedProgramRecordsAndFills) {
  Picture(14, 10);
  const fpbuffer picture(v.currentLayer());
  const randgen start = GlobalRandom();
  P().autoregressiveWidth = 4;
  P().autoregressiveHeight = 3;
  v.dragStart = {1, 1};
  v.dragEnd = {12, 8};
  v.Dispatch(Id::RecordProgram);
  v.SelectOperation(Id::RecordTexture, false);
  v.Dispatch(F2);
  ASSERT_TRUE(ModelHeld());
  v.SelectOperation(Id::TextureInpainting, false);
  v.Dispatch(F2);
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(Id::RecordProgram);
  ASSERT_EQ(LiveSettings().program.stepCount, 2);
  const std::string recorded = Bytes(v.currentLayer());
  const std::array<matrix, 6> model = TextureModel();

  for (matrix& m : TextureModel()) m.free();
  v.currentLayer() = picture;
  GlobalRandom() = start;
  P().autoregressiveWidth = 2;
  P().autoregressiveHeight = 2;
  v.Dispatch(Id::RunProgram);
  EXPECT_EQ(Bytes(v.currentLayer()), recorded);
  ASSERT_TRUE(ModelHeld());
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(TextureModel()[i].n, model[i].n);
}

// The fill reads the neighbourhood the model was fitted with, whatever the settings say by
// then (another size would read past the coefficients).
TEST_F(TextureTest, TheFillKeepsTheFittedNeighbourhood) {
  Picture(10, 8);
  P().autoregressiveWidth = 3;
  P().autoregressiveHeight = 2;
  v.dragStart = {0, 0};
  v.dragEnd = {9, 7};
  v.Dispatch(Id::RecordTexture);
  ASSERT_TRUE(ModelHeld());
  matrix want(v.currentLayer().plane[0]);
  const randgen start = GlobalRandom();
  want.texturefill(TextureModel()[0], TextureModel()[3], nullptr, 3, 2);
  GlobalRandom() = start;
  P().autoregressiveWidth = 5;
  P().autoregressiveHeight = 5;
  Press(Id::TextureInpainting, F2);
  for (int k = 0; k < want.n; ++k) ASSERT_EQ(v.currentLayer().plane[0].x[k], want.x[k]) << k;
}

// Tiny images, and regions along every border, through both commands.
TEST_F(TextureTest, TinyImagesAndBorderRegions) {
  P().autoregressiveWidth = 2;
  P().autoregressiveHeight = 2;
  Picture(3, 3);
  v.dragStart = {0, 0};
  v.dragEnd = {2, 2};
  v.Dispatch(Id::RecordTexture);
  ASSERT_TRUE(ModelHeld());
  for (int size : {1, 2, 3}) {
    SCOPED_TRACE(size);
    Picture(size, size);
    const fpbuffer before(v.currentLayer());
    Press(Id::TextureInpainting, F2);
    EXPECT_FALSE(v.operationFailed);
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(v.currentLayer().plane[c].z[0][0], before.plane[c].z[0][0]);
  }
  // One region per border of a 7 x 6 image: the right column, the top row, the left
  // column and the bottom row; only pixels off row 0 and column 0 change.
  Picture(7, 6);
  for (int side = 0; side < 4; ++side) {
    SCOPED_TRACE(side);
    const fpbuffer before(v.currentLayer());
    v.selection.dim(7, 6);
    const auto on = [side](int x, int y) {
      return side == 0 ? x == 6 : side == 1 ? y == 5 : side == 2 ? x == 0 : y == 0;
    };
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) v.selection.set(x, y, on(x, y));
    v.Dispatch(F2);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 7; ++x) {
        const bool changed = v.currentLayer().plane[0].z[y][x] != before.plane[0].z[y][x];
        EXPECT_EQ(changed, on(x, y) && x > 0 && y > 0) << x << "," << y;
      }
    }
    v.selection.free();
  }
}
