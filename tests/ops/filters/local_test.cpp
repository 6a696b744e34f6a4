// The local window filters, the sharpeners and NL Means as the user reaches them: the
// drivers on a colour image, and the commands through the dispatcher of a real image window.
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/kernels.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 23, kH = 17;

float Busy(int c, int x, int y) {
  const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
  return 20.0f + float(h % 200u) + 5.0f * std::sin(0.3f * float(x + y));
}

fpbuffer Picture(int w, int h, CSpaceCode code = cspace::kDefault) {
  fpbuffer f(w, h, code);
  for (int c = 0; c < f.channels; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = Busy(c, x, y);
    }
  }
  return f;
}

std::vector<float> Channel(const fpbuffer& f, int c) {
  return std::vector<float>(f.plane[c].x, f.plane[c].x + f.plane[c].n);
}

struct Command {
  CommandId id;
  int page;
  const char* name;
  // The driver call the command makes with the live settings, for the expected image.
  std::function<void(fpbuffer&, bitmask*, bool)> driver;
};

BlurParams& P() { return LiveSettings().blur; }

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {CommandId::Fast3x3Average, 51, "Fast 3x3 Average",
       [](fpbuffer& f, bitmask*, bool) {
         for (int i = 0; i < P().averageIterations; ++i) f.average3x3();
       }},
      {CommandId::LensBlur, 52, "Lens Blur",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.lensblur(P().lensBlurIterations, P().lensBlurRadius, P().lensBlurMaskedInput, s, cond);
       }},
      {CommandId::Median, 53, "Median",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.median(P().medianIterations, P().medianRadius, P().medianMaskedInput, s, cond,
                  P().medianGaussianWeighted);
       }},
      {CommandId::WeightedMajorityWithMinimumRange, 54, "WMMR",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.wmmr(P().wmmrIterations, P().wmmrRadius, P().wmmrMaskedInput, s, cond);
       }},
      {CommandId::BilateralFilter, 55, "Bilateral",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.bilateral(P().bilateralSpreadFactor, P().bilateralIterations, P().bilateralWindowSize,
                     P().bilateralDistribution, s, cond, P().bilateralUseMedian);
       }},
      {CommandId::UnsharpMask, 58, "USM",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.unsharp(UnsharpSmoother(P().unsharpMode), P().unsharpRadius, UnsharpResponse,
                   P().unsharpAmount, P().unsharpBlurThreshold, P().unsharpNoOpThreshold,
                   P().unsharpSharpeningThreshold, s, cond);
       }},
      {CommandId::Xsharpen, 105, "Xsharpen",
       [](fpbuffer& f, bitmask* s, bool cond) {
         f.xsharpen(P().xsharpenWindowSize, P().xsharpenThreshold, P().xsharpenAmount,
                    P().xsharpenIterations, s, cond);
       }},
      {CommandId::NlMeans, 142, "NL Means",
       [](fpbuffer& f, bitmask*, bool cond) {
         f.nlmeans(P().nlMeansThreshold, P().nlMeansSearchRadius, P().nlMeansWindowRadius,
                   P().nlMeansUseMedian, P().nlMeansDistribution, P().nlMeansCombinedChannels, cond,
                   P().nlMeansUseModification);
       }},
  };
  return commands;
}

class LocalFilterCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    P().bilateralSpreadFactor = 40.0f;  // wide enough that every filtered pixel moves
    P().bilateralWindowSize = 5;
    P().nlMeansSearchRadius = 4;  // the default 20 is too wide for the picture
    P().nlMeansThreshold = 20.0f;
    Load(v, Picture(kW, kH));
  }
  static void Load(CImageView& w, const fpbuffer& image) {
    w.currentLayer() = image;
    w.currentBitmap() = DisplayBitmap(image.width, image.height);
    w.currentLayer().todib(w.currentBitmap().toprow());
    w.Paint(image.width, image.height);
  }
  // The picture after the driver with the live settings.
  static fpbuffer Expected(const Command& c, bitmask* selection = nullptr, bool cond = true) {
    fpbuffer f = Picture(kW, kH);
    c.driver(f, selection, cond);
    return f;
  }
  static void ExpectImage(const fpbuffer& got, const fpbuffer& want) {
    ASSERT_EQ(got.channels, want.channels);
    for (int c = 0; c < got.channels; ++c) EXPECT_EQ(Channel(got, c), Channel(want, c)) << c;
  }
  Point At(int x, int y) const { return {x, kH - 1 - y}; }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(LocalFilterCommandTest, EachCommandFromItsMenuShowsItsPageAndFilters) {
  LiveSettings().autoQuery = 1;
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    Load(v, Picture(kW, kH));
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), Expected(c));
    EXPECT_NE(Channel(v.currentLayer(), 0), Channel(Picture(kW, kH), 0));
  }
}

TEST_F(LocalFilterCommandTest, F2RunsWithoutAPageAndCtrlOnlySelects) {
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    Load(v, Picture(kW, kH));
    Flags().F2Active = true;
    v.Dispatch(c.id);  // no page expected
    ExpectImage(v.currentLayer(), Expected(c));

    Load(v, Picture(kW, kH));
    Flags().F3Active = true;  // F3 does what F2 does
    v.Dispatch(c.id);
    ExpectImage(v.currentLayer(), Expected(c));

    Load(v, Picture(kW, kH));
    LiveSettings().autoQuery = 1;
    Flags().CtrlHeld = true;
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ExpectImage(v.currentLayer(), Picture(kW, kH));
    EXPECT_EQ(v.f2OperationId, int(c.id));
    Flags() = CommandFlags();
    LiveSettings().autoQuery = 0;
  }
}

TEST_F(LocalFilterCommandTest, ARightButtonRegionChangesOnlyThePaintedPixels) {
  LiveSettings().mask.cursorRadius = 1;
  for (const Command& c : Commands()) {
    if (c.id == CommandId::Fast3x3Average) continue;  // not a region operation
    SCOPED_TRACE(c.name);
    Load(v, Picture(kW, kH));
    v.SelectOperation(c.id, false);
    v.paintMode = true;
    v.OnRightButtonDown(At(8, 8));
    for (int x = 9; x <= 12; ++x) v.OnMouseMove(At(x, 8));
    v.OnRightButtonUp(At(12, 8));
    // The painted pixels: five overlapping 3 x 3 disks from (8, 8) to (12, 8).
    bitmask painted(kW, kH);
    for (int y = 7; y <= 9; ++y) {
      for (int x = 7; x <= 13; ++x) painted.set(x, y, true);
    }
    const fpbuffer whole = Expected(c);
    const fpbuffer before = Picture(kW, kH);
    if (c.id == CommandId::NlMeans) {
      ExpectImage(v.currentLayer(), before);  // not a region operation: the drag does nothing
      v.paintMode = false;
      continue;
    }
    int changed = 0;
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = 0; k < kW * kH; ++k) {
        const float got = v.currentLayer().plane[ch].x[k];
        EXPECT_EQ(got, painted.getbit(k) ? whole.plane[ch].x[k] : before.plane[ch].x[k]) << k;
        changed += got != before.plane[ch].x[k];
      }
    }
    EXPECT_GT(changed, 0);
    EXPECT_FALSE(v.selection.present());  // the drag's selection is gone
    v.paintMode = false;
  }
}

TEST_F(LocalFilterCommandTest, ARecordedStepKeepsTheBlockAndReplaysIt) {
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    P().averageIterations = 2;
    P().lensBlurRadius = 2;
    P().medianRadius = 2.4f;
    P().wmmrRadius = 2;
    P().bilateralUseMedian = 1;
    P().unsharpMode = 2;
    P().xsharpenIterations = 2;
    P().nlMeansSearchRadius = 3;
    P().nlMeansUseMedian = 1;
    const BlurParams recorded = P();
    v.Dispatch(CommandId::RecordProgram);
    v.SelectOperation(c.id, false);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    ASSERT_EQ(LiveSettings().program.stepCount, 1);
    const uint8_t* step = LiveSettings().program.steps[0].bytes;
    // Fast 3x3 Average keeps its one word, the others the whole block of 59 words.
    const size_t words = c.id == CommandId::Fast3x3Average ? 1 : 59;
    EXPECT_EQ(std::memcmp(step, &recorded, 4 * words), 0);
    for (size_t k = 4 * words; k < sizeof(BlurParams); ++k) ASSERT_EQ(step[k], 0) << k;
    ui.ExpectProperties(TypeAndOk(101));
    v.Dispatch(CommandId::RecordProgram);  // the recording ends; the settings come back

    const fpbuffer want = Expected(c);
    P() = BlurParams();
    P().SetDefaults();
    Load(v, Picture(kW, kH));
    v.Dispatch(CommandId::RunProgram);
    ExpectImage(v.currentLayer(), want);
  }
}

TEST_F(LocalFilterCommandTest, AReplayedEvenBilateralWindowFallsBackToItsDefault) {
  BlurParams stored = P();
  stored.bilateralWindowSize = 4;  // only odd sizes of 3 and more are accepted
  RecordedProgram& program = LiveSettings().program;
  program.stepCount = 1;
  program.stepIds[0] = int(CommandId::BilateralFilter);
  std::memcpy(program.steps[0].bytes, &stored, sizeof stored);
  v.Dispatch(CommandId::RunProgram);

  P().bilateralWindowSize = 11;
  const fpbuffer want = Expected(Commands()[4]);
  ExpectImage(v.currentLayer(), want);
}

TEST_F(LocalFilterCommandTest, FastAverageSpreadsAnImpulseOverTheVisibleChannelsAlone) {
  // Channel 1 hidden: it keeps its impulse whatever Cond and the image mask say.
  for (const bool cond : {false, true}) {
    fpbuffer f(7, 6, cspace::kRGB | 0x5);
    f.zero();
    for (int c = 0; c < 3; ++c) f.plane[c].z[3][2] = 9.0f;
    f.mask.dim(7, 6);
    f.mask.set(0, 0, true);
    LiveSettings().conditional = cond;
    f.average3x3();
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 7; ++x) {
          const bool block = std::abs(x - 2) <= 1 && std::abs(y - 3) <= 1;
          const float want = c == 1 ? (x == 2 && y == 3 ? 9.0f : 0.0f) : (block ? 1.0f : 0.0f);
          EXPECT_FLOAT_EQ(f.plane[c].z[y][x], want) << c << ":" << x << "," << y;
        }
      }
    }
  }
}

TEST_F(LocalFilterCommandTest, CondChoosesChannelsAndTheImageMaskNarrowsTheSelection) {
  const fpbuffer before = Picture(kW, kH, cspace::kRGB | 0x3);  // channel 2 hidden
  P().lensBlurMaskedInput = 0;
  for (const Command& command : Commands()) {
    if (command.id == CommandId::Fast3x3Average || command.id == CommandId::Median ||
        command.id == CommandId::WeightedMajorityWithMinimumRange ||
        command.id == CommandId::BilateralFilter) {
      continue;  // the same scope as Lens Blur
    }
    if (command.id == CommandId::NlMeans) continue;  // no selection: every pixel (own tests)
    for (const bool cond : {false, true}) {
      SCOPED_TRACE(testing::Message() << command.name << (cond ? " Cond on" : " Cond off"));
      fpbuffer f = before;
      f.mask.dim(kW, kH);
      for (int k = 0; k < f.n; k += 2) f.mask.setbit(k, true);
      bitmask selection(kW, kH);
      for (int k = 0; k < f.n; k += 3) selection.setbit(k, true);
      command.driver(f, &selection, cond);
      for (int k = 0; k < f.n; ++k) {
        const bool picked = k % 3 == 0 && (!cond || k % 2 == 0);
        EXPECT_EQ(selection.getbit(k), picked) << k;  // reduced in place under Cond
        for (int c = 0; c < 3; ++c) {
          const bool touched = picked && (!cond || c != 2);
          if (!touched) {
            EXPECT_EQ(f.plane[c].x[k], before.plane[c].x[k]) << c << ":" << k;
          }
        }
      }
      if (cond) {
        EXPECT_EQ(Channel(f, 2), Channel(before, 2));
      } else {
        EXPECT_NE(Channel(f, 2), Channel(before, 2));  // Cond off filters every channel
      }
    }
  }
}

TEST_F(LocalFilterCommandTest, MedianRadiusAndDistributionChoices) {
  // Without Gaussian Weighted the radius is rounded to a disc, at least 1.
  const std::pair<float, int> radii[] = {{0.65f, 1}, {2.4f, 2}, {2.5f, 3}, {0.2f, 1}};
  for (const auto& [radius, disc] : radii) {
    SCOPED_TRACE(radius);
    fpbuffer f = Picture(kW, kH);
    f.median(1, radius, false, nullptr, false, false);
    matrix want(Picture(kW, kH).plane[0]);
    want.discmedian(disc, nullptr, false);
    EXPECT_EQ(Channel(f, 0), std::vector<float>(want.x, want.x + want.n));
  }
  // "None" weighs as "Gaussian"; the others differ from it.
  fpbuffer gaussian = Picture(kW, kH);
  gaussian.bilateral(20.0f, 1, 5, 3, nullptr, false, false);
  for (int distribution = 0; distribution <= 4; ++distribution) {
    fpbuffer f = Picture(kW, kH);
    f.bilateral(20.0f, 1, 5, distribution, nullptr, false, false);
    if (distribution == 0 || distribution == 3) {
      ExpectImage(f, gaussian);
    } else {
      EXPECT_NE(Channel(f, 0), Channel(gaussian, 0)) << distribution;
    }
  }
}

TEST_F(LocalFilterCommandTest, AFilterThatCannotGetItsMemoryKeepsTheImage) {
  P().medianRadius = 1e9f;  // a disc no plane could hold
  Flags().F2Active = true;
  P().medianGaussianWeighted = 0;
  ui.ExpectMessage("Try using \"Destroy Floating Point Buffer\" option!");
  v.Dispatch(CommandId::Median);
  ExpectImage(v.currentLayer(), Picture(kW, kH));
  EXPECT_TRUE(v.operationFailed);
}

TEST_F(LocalFilterCommandTest, NlMeansRefusesAWindowWiderThanThePictureAndACancelKeepsIt) {
  const fpbuffer square = Picture(30, 30);
  Load(v, square);
  Flags().F2Active = true;
  P().nlMeansSearchRadius = 20;  // 41 candidates a side
  ui.ExpectMessage("Search and window radii must be smaller than half image dimensions.");
  v.Dispatch(CommandId::NlMeans);
  ui.VerifyAllAnswered();
  ExpectImage(v.currentLayer(), square);

  P().nlMeansSearchRadius = 14;  // 29 a side fits
  Flags().F2Active = true;
  platform.CancelAtPoll(1);
  v.Dispatch(CommandId::NlMeans);
  ExpectImage(v.currentLayer(), square);
  EXPECT_TRUE(v.operationFailed);

  platform.CancelAtPoll(0);
  Flags().F2Active = true;
  v.Dispatch(CommandId::NlMeans);
  EXPECT_FALSE(v.operationFailed);
  EXPECT_NE(Channel(v.currentLayer(), 0), Channel(square, 0));
}
