// Jensen Edge Enhancement, the Poisson Sharpener and Periodic Smoothing: their drivers on a
// colour image, and the commands through the dispatcher of a real image window.
#include <cmath>
#include <cstring>
#include <functional>
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
constexpr int kW = 21, kH = 16;

fpbuffer Picture(CSpaceCode code = cspace::kDefault) {
  fpbuffer f(kW, kH, code);
  for (int c = 0; c < f.channels; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
        f.plane[c].z[y][x] = (x < 10 ? 60.0f : 190.0f) + float(h % 40u);
      }
    }
  }
  return f;
}

std::vector<float> Channel(const fpbuffer& f, int c) {
  return std::vector<float>(f.plane[c].x, f.plane[c].x + f.plane[c].n);
}

void ExpectImage(const fpbuffer& got, const fpbuffer& want) {
  ASSERT_EQ(got.channels, want.channels);
  for (int c = 0; c < got.channels; ++c) EXPECT_EQ(Channel(got, c), Channel(want, c)) << c;
}

PeriodicParams& Periodic() { return LiveSettings().periodic; }
BlurParams& Blur() { return LiveSettings().blur; }

void RunPeriodic(fpbuffer& f, bool cond) {
  const PeriodicParams& p = Periodic();
  f.periodicsmooth(p.periodicDx, p.periodicDy, p.periodicPoints, p.periodicFunction,
                   p.periodicIterations, cond);
}

void RunPoisson(fpbuffer& f, bitmask*, bool cond) {
  f.poissonsharpen(Blur().poissonIterations, Blur().poissonSharpeningAmount,
                   Blur().poissonScaleFactor, cond);
}

void RunJensen(fpbuffer& f, bitmask* selection, bool cond) {
  const BlurParams& p = Blur();
  for (int i = 0; i < p.jensenEdgeIterations; ++i) {
    f.jensenedges(p.jensenEdgeParameter1, p.jensenEdgeParameter2, p.jensenEdgeBlurring,
                  p.jensenEdgeWindowSize, p.jensenEdgeDominantChannel, p.jensenEdgeMode != 0,
                  selection, cond, p.jensenEdgeSegments, p.jensenEdgeDefringing != 0);
  }
}

struct Command {
  CommandId id;
  std::vector<int> pages;
  size_t words;  // of the block a recorded step keeps
  void (*driver)(fpbuffer&, bitmask*, bool);
  bool region;  // a right-button drag runs it on the painted pixels
};

const Command kCommands[] = {
    {CommandId::JensenEdgeEnhancement, {57}, 59, RunJensen, true},
    {CommandId::PoissonSharpener, {84}, 59, RunPoisson, false},
    {CommandId::PeriodicSmoothing,
     {140, 141},
     37,
     [](fpbuffer& f, bitmask*, bool cond) { RunPeriodic(f, cond); },
     false},
};

class SharpenCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    Blur().poissonIterations = 6;
    Periodic().periodicRadius = 3;
    Periodic().ApplyPattern(1);  // honeycomb of radius 3
    Load(Picture());
  }
  void Load(const fpbuffer& image) {
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
    v.Paint(image.width, image.height);
  }
  static fpbuffer Expected(const Command& c, bitmask* selection = nullptr) {
    fpbuffer f = Picture();
    c.driver(f, selection, LiveSettings().conditional != 0);
    return f;
  }
  void ExpectPages(const Command& c) {
    for (const int page : c.pages) ui.ExpectProperties(TypeAndOk(page));
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(SharpenCommandTest, PeriodicFunctionsAndCondChannels) {
  // Channel 2 alone visible: Cond on leaves channels 0 and 1; off filters all three.
  const fpbuffer before = Picture(cspace::kRGB | 0x4);
  float (*const statistics[])(matrix&) = {
      [](matrix& m) { return m.median(); }, [](matrix& m) { return m.wmmr(); },
      [](matrix& m) { return m.shorthmean(); }, [](matrix& m) { return m.mean(); },
      [](matrix& m) { return m.median(); }};
  const int codes[] = {0, 1, 2, 3, 9};  // an unknown code is the median
  for (int i = 0; i < 5; ++i) {
    Periodic().periodicFunction = codes[i];
    for (const bool cond : {true, false}) {
      SCOPED_TRACE(testing::Message() << "function " << codes[i] << (cond ? ", Cond" : ""));
      fpbuffer f = before;
      RunPeriodic(f, cond);
      for (int c = 0; c < 3; ++c) {
        matrix want(before.plane[c]);
        if (!cond || c == 2) {
          want.neighbourhood(Periodic().periodicDx, Periodic().periodicDy, 7, statistics[i], 1);
          EXPECT_NE(Channel(f, c), Channel(before, c)) << c;
        }
        EXPECT_EQ(Channel(f, c), std::vector<float>(want.x, want.x + want.n)) << c;
      }
    }
  }
}

TEST_F(SharpenCommandTest, PoissonSharpensTheChannelsCondGivesAndCountsTheirIterations) {
  // YCbCr with the luminance alone visible.
  const fpbuffer before = Picture(cspace::kYCbCr | 0x1);
  for (const bool cond : {true, false}) {
    fpbuffer f = before;
    f.poissonsharpen(5, 2, 0.25f, cond);
    EXPECT_FLOAT_EQ(Progress().factor, 101.0f / (cond ? 5 : 15));
    EXPECT_EQ(Progress().count, cond ? 5 : 15);
    for (int c = 0; c < 3; ++c) {
      matrix want(before.plane[c]);
      if (!cond || c == 0) want.poissonsharpen(5, 2, 0.25f);
      EXPECT_EQ(Channel(f, c), std::vector<float>(want.x, want.x + want.n)) << cond << c;
    }
    EXPECT_NE(Channel(f, 0), Channel(before, 0));
  }
  fpbuffer none = before;
  none.poissonsharpen(0, 2, 0.25f, false);
  ExpectImage(none, before);
}

TEST_F(SharpenCommandTest, EachCommandFromItsMenuF2F3AndCtrl) {
  for (const Command& c : kCommands) {
    SCOPED_TRACE(int(c.id));
    const fpbuffer want = Expected(c);
    EXPECT_NE(Channel(want, 0), Channel(Picture(), 0));

    LiveSettings().autoQuery = 1;
    Load(Picture());
    ExpectPages(c);
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), want);

    for (bool* key : {&Flags().F2Active, &Flags().F3Active}) {
      Load(Picture());
      *key = true;
      v.Dispatch(c.id);  // no page
      ExpectImage(v.currentLayer(), want);
    }

    Load(Picture());
    Flags().CtrlHeld = true;
    ExpectPages(c);
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), Picture());
    EXPECT_EQ(v.f2OperationId, int(c.id));
    Flags() = CommandFlags();

    // Cancelling the last page ends the command.
    for (size_t k = 0; k + 1 < c.pages.size(); ++k) ui.ExpectProperties(TypeAndOk(c.pages[k]));
    ui.ExpectProperties(CancelOn(c.pages.back()));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), Picture());
    LiveSettings().autoQuery = 0;

    // A right-button drag with it as the F2 operation: Jensen on the painted pixels, the
    // others not at all.
    v.SelectOperation(c.id, false);
    v.paintMode = true;
    LiveSettings().mask.cursorRadius = 1;
    v.OnRightButtonDown(Point{8, kH - 1 - 8});
    for (int x = 9; x <= 12; ++x) v.OnMouseMove(Point{x, kH - 1 - 8});
    v.OnRightButtonUp(Point{12, kH - 1 - 8});
    v.paintMode = false;
    if (!c.region) {
      ExpectImage(v.currentLayer(), Picture());
      continue;
    }
    bitmask painted(kW, kH);
    for (int y = 7; y <= 9; ++y) {
      for (int x = 7; x <= 13; ++x) painted.set(x, y, true);
    }
    bitmask selection(painted);
    ExpectImage(v.currentLayer(), Expected(c, &selection));
    EXPECT_NE(Channel(v.currentLayer(), 0), Channel(Picture(), 0));
    for (int k = 0; k < kW * kH; ++k) {
      if (painted.getbit(k)) continue;
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(v.currentLayer().plane[ch].x[k], Picture().plane[ch].x[k]) << k;
      }
    }
  }
}

TEST_F(SharpenCommandTest, PeriodicDefaultsLeaveThePicture) {
  Periodic().SetDefaults();
  LiveSettings().autoQuery = 1;
  ExpectPages(kCommands[2]);
  v.Dispatch(CommandId::PeriodicSmoothing);
  ExpectImage(v.currentLayer(), Picture());
  EXPECT_FALSE(v.operationFailed);
}

TEST_F(SharpenCommandTest, ARecordedStepKeepsItsBlockAndReplaysIt) {
  Blur().poissonSharpeningAmount = 3;
  Blur().jensenEdgeIterations = 2;
  Blur().jensenEdgeMode = 0;
  Periodic().periodicFunction = 2;
  Periodic().periodicIterations = 2;
  for (const Command& c : kCommands) {
    SCOPED_TRACE(int(c.id));
    const BlurParams blur = Blur();
    const PeriodicParams periodic = Periodic();
    const void* block = c.id == CommandId::PeriodicSmoothing ? static_cast<const void*>(&periodic)
                                                             : static_cast<const void*>(&blur);
    v.Dispatch(CommandId::RecordProgram);
    v.SelectOperation(c.id, false);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    ASSERT_EQ(LiveSettings().program.stepCount, 1);
    const uint8_t* step = LiveSettings().program.steps[0].bytes;
    EXPECT_EQ(std::memcmp(step, block, 4 * c.words), 0);
    ui.ExpectProperties(TypeAndOk(101));
    v.Dispatch(CommandId::RecordProgram);

    const fpbuffer want = Expected(c);
    Blur().SetDefaults();
    Periodic().SetDefaults();
    Load(Picture());
    v.Dispatch(CommandId::RunProgram);
    ExpectImage(v.currentLayer(), want);
    Blur() = blur;
    Periodic() = periodic;
  }
}

TEST_F(SharpenCommandTest, APoissonCancelKeepsTheWholePicture) {
  // At the first tick, and in the second channel after the first was sharpened.
  for (const int poll : {1, 8}) {
    SCOPED_TRACE(poll);
    Load(Picture());
    Flags().F2Active = true;
    platform.CancelAtPoll(poll);
    v.Dispatch(CommandId::PoissonSharpener);
    ExpectImage(v.currentLayer(), Picture());
    EXPECT_TRUE(v.operationFailed);
  }
}

TEST_F(SharpenCommandTest, JensenDefringingOnRgbSaysSoOncePerIterationAndStrip) {
  Blur().jensenEdgeDefringing = 1;
  Blur().jensenEdgeIterations = 2;
  Blur().jensenEdgeSegments = 3;  // 16 rows: strips of 5, 5, 5 and 1
  Flags().F2Active = true;
  for (int k = 0; k < 8; ++k) ui.ExpectMessage("Color space must be YCbCr, YCbCr2 or YUV!");
  v.Dispatch(CommandId::JensenEdgeEnhancement);
  ui.VerifyAllAnswered();
  ExpectImage(v.currentLayer(), Picture());
}
