// Combine Sharpest Features on its own, and the two tone maps and it as commands through
// the dispatcher of a real image window: menus, F2/F3, Ctrl, recorded steps and cancels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "params/settings.h"
#include "platform/progress.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 32, kH = 24;

// A sharp colour picture: hashed texture over two flat halves.
fpbuffer Picture(CSpaceCode code = cspace::kDefault) {
  fpbuffer f(kW, kH, code);
  for (int c = 0; c < f.channels; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
        f.plane[c].z[y][x] = (x < kW / 2 ? 60.0f : 170.0f) + float(h % 60u);
      }
    }
  }
  return f;
}

// The picture with the columns [x0, x1) of every channel blurred (3 x 3 box, twice).
fpbuffer BlurredColumns(const fpbuffer& sharp, int x0, int x1) {
  fpbuffer f = sharp;
  for (int c = 0; c < f.channels; ++c) {
    matrix& p = f.plane[c];
    for (int pass = 0; pass < 2; ++pass) {
      const matrix src(p);
      for (int y = 0; y < kH; ++y) {
        for (int x = x0; x < x1; ++x) {
          double s = 0;
          for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
              s += src.z[std::clamp(y + dy, 0, kH - 1)][std::clamp(x + dx, 0, kW - 1)];
            }
          }
          p.z[y][x] = float(s / 9);
        }
      }
    }
  }
  return f;
}

double Rmse(const fpbuffer& a, const fpbuffer& b) {
  double s = 0;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < a.n; ++k) s += std::pow(double(a.plane[c].x[k]) - b.plane[c].x[k], 2);
  }
  return std::sqrt(s / (3.0 * a.n));
}

std::vector<float> Channel(const fpbuffer& f, int c) {
  return std::vector<float>(f.plane[c].x, f.plane[c].x + f.plane[c].n);
}

void ExpectImage(const fpbuffer& got, const fpbuffer& want) {
  ASSERT_EQ(got.channels, want.channels);
  ASSERT_EQ(got.code, want.code);
  for (int c = 0; c < got.channels; ++c) EXPECT_EQ(Channel(got, c), Channel(want, c)) << c;
}

// An HDR version of the picture for the tone maps.
fpbuffer Hdr() {
  fpbuffer f = Picture();
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = std::exp(f.plane[c].x[k] / 20.0f);
  }
  return f;
}

ToneMapParams& Tone() { return LiveSettings().toneMap; }
LayerParams& Layer() { return LiveSettings().layer; }

struct Command {
  CommandId id;
  int page;
  size_t words;  // of the block a recorded step keeps
  const void* block;
  fpbuffer (*input)();
  void (*driver)(fpbuffer& image, const fpbuffer& other);
  int midPoll;  // a cancel part-way: after the first tick (in Combine's second channel)
};

fpbuffer Sharp() { return Picture(); }

const Command kCommands[] = {
    {CommandId::ToneMap1, 78, 14, &LiveSettings().toneMap, Hdr,
     [](fpbuffer& f, const fpbuffer&) {
       const ToneMapParams& p = Tone();
       f.tonemap1(p.toneMap1Contrast, p.toneMap1Saturation, p.toneMap1Sharpener,
                  p.toneMap1HysteresisIterations, p.toneMap1HysteresisTolerance,
                  p.toneMap1HaloIterations, p.toneMap1OutlierRadius);
     },
     5},
    {CommandId::ToneMap2, 74, 14, &LiveSettings().toneMap, Hdr,
     [](fpbuffer& f, const fpbuffer&) {
       const ToneMapParams& p = Tone();
       f.tonemap2(p.toneMap2Iterations, p.toneMap2Levels, p.toneMap2Saturation,
                  p.toneMap2Equalize != 0, p.toneMap2Preset, p.toneMap2PresetC,
                  p.toneMap2DiagonalDifferences != 0, p.toneMap2Magnitudes != 0,
                  p.toneMap2OutlierRadius);
     },
     5},
    {CommandId::CombineSharpestFeatures, 82, 18, &LiveSettings().layer, Sharp,
     [](fpbuffer& f, const fpbuffer& other) {
       f.combinesharpest(other, Layer().cloningIterations, Layer().usePyramid != 0,
                         LiveSettings().conditional != 0);
     },
     12},
};

class ToneCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    Tone().toneMap1HaloIterations = 6;
    Tone().toneMap2Iterations = 12;
    Layer().cloningIterations = 9;
  }
  // The command's input in the current layer, the blurred-left picture in the other.
  void Load(const Command& c) {
    const fpbuffer image = c.input();
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
    v.otherLayer() = Other();
    v.otherBitmap() = DisplayBitmap(kW, kH);
    v.otherLayer().todib(v.otherBitmap().toprow());
    v.Paint(image.width, image.height);
  }
  static fpbuffer Other() { return BlurredColumns(Picture(), 0, kW / 2); }
  static fpbuffer Expected(const Command& c) {
    fpbuffer f = c.input();
    c.driver(f, Other());
    return f;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(ToneCommandTest, EqualLayersComeBackBitIdentical) {
  for (const bool pyramid : {false, true}) {
    fpbuffer f = Picture();
    f.combinesharpest(Picture(), 50, pyramid, false);
    ExpectImage(f, Picture());
  }
}

TEST_F(ToneCommandTest, HalvesBlurredInOppositeLayersComeBackSharp) {
  // Fine waves: a blur lowers every gradient of the texture, so the sharp layer's win.
  fpbuffer truth(kW, kH, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        truth.plane[c].z[y][x] = float(128 + 50 * std::sin(1.3 * x + 0.4 * c) * std::cos(1.1 * y) +
                                       30 * std::sin(0.5 * x + 0.8 * y));
      }
    }
  }
  const fpbuffer left = BlurredColumns(truth, 0, kW / 2);
  const fpbuffer right = BlurredColumns(truth, kW / 2, kW);
  const double better = std::min(Rmse(left, truth), Rmse(right, truth));
  for (const bool pyramid : {false, true}) {
    fpbuffer f = left;
    f.combinesharpest(right, 500, pyramid, false);
    EXPECT_LT(Rmse(f, truth), 0.5 * better) << pyramid << " " << better;
    ExpectImage(right, BlurredColumns(truth, kW / 2, kW));  // the other layer is untouched
  }
}

TEST_F(ToneCommandTest, CondMergesTheVisibleChannelsAndCountsTheirTicks) {
  // Channel 0 alone visible; a four-channel space's fourth channel has no plane to merge.
  const fpbuffer right = BlurredColumns(Picture(), kW / 2, kW);
  for (const bool cond : {true, false}) {
    fpbuffer f = BlurredColumns(Picture(cspace::kRGB | 0x1), 0, kW / 2);
    const fpbuffer before = f;
    f.combinesharpest(right, 7, false, cond);
    EXPECT_EQ(Progress().count, cond ? 7 : 21);
    EXPECT_NE(Channel(f, 0), Channel(before, 0));
    for (int c = 1; c < 3; ++c) EXPECT_EQ(Channel(f, c) == Channel(before, c), cond) << c;
  }
}

TEST_F(ToneCommandTest, EachCommandFromItsMenuF2F3AndCtrl) {
  for (const Command& c : kCommands) {
    SCOPED_TRACE(int(c.id));
    const fpbuffer want = Expected(c);
    EXPECT_NE(Channel(want, 0), Channel(c.input(), 0));

    LiveSettings().autoQuery = 1;
    Load(c);
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), want);

    for (bool* key : {&Flags().F2Active, &Flags().F3Active}) {
      Load(c);
      *key = true;
      v.Dispatch(c.id);  // no page
      ExpectImage(v.currentLayer(), want);
    }

    Load(c);
    Flags().CtrlHeld = true;
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), c.input());
    EXPECT_EQ(v.f2OperationId, int(c.id));
    Flags() = CommandFlags();

    ui.ExpectProperties(CancelOn(c.page));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), c.input());
    LiveSettings().autoQuery = 0;
  }
}

TEST_F(ToneCommandTest, ARecordedStepKeepsItsBlockAndReplaysIt) {
  Tone().toneMap1Saturation = 0.8f;
  Tone().toneMap2Equalize = 0;
  Tone().toneMap2Preset = 6;
  Layer().usePyramid = 1;
  for (const Command& c : kCommands) {
    SCOPED_TRACE(int(c.id));
    const ToneMapParams tone = Tone();
    const LayerParams layer = Layer();
    Load(c);
    v.Dispatch(CommandId::RecordProgram);
    v.SelectOperation(c.id, false);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    ASSERT_EQ(LiveSettings().program.stepCount, 1);
    EXPECT_EQ(std::memcmp(LiveSettings().program.steps[0].bytes, c.block, 4 * c.words), 0);
    ui.ExpectProperties(TypeAndOk(101));
    v.Dispatch(CommandId::RecordProgram);

    const fpbuffer want = Expected(c);
    Tone().SetDefaults();
    Layer().SetDefaults();
    Load(c);
    v.Dispatch(CommandId::RunProgram);
    Tone() = tone;
    Layer() = layer;
    ExpectImage(v.currentLayer(), want);
  }
}

TEST_F(ToneCommandTest, ACancelKeepsThePictureBitIdentical) {
  for (const Command& c : kCommands) {
    for (const int poll : {1, c.midPoll}) {
      SCOPED_TRACE(testing::Message() << int(c.id) << " poll " << poll);
      Load(c);
      Flags().F2Active = true;
      platform.CancelAtPoll(poll);
      v.Dispatch(c.id);
      ExpectImage(v.currentLayer(), c.input());
      EXPECT_TRUE(v.operationFailed);
      platform.CancelAtPoll(0);
    }
  }
}
