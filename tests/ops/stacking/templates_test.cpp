// Brightness/contrast templates through the dispatcher: Create, Destroy and Set F2 for
// Adjustment, from the menu, under F2 and in a recorded program.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "fileio/png.h"
#include "image/fileinfo.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
using Id = CommandId;

float Picture(int c, int x, int y) {
  return 110.0f + 40.0f * std::sin(0.3f * float(x) + float(c)) +
         25.0f * std::cos(0.21f * float(y) - 0.5f * float(c)) + float((x * 7 + y * 3 + c) % 5);
}

class TemplateTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }
  // The current layer holds the picture times gain, and its bitmap.
  static void Draw(CImageView& w, float gain = 1.0f, int width = 24, int height = 20,
                   CSpaceCode code = cspace::kDefault) {
    fpbuffer& layer = w.currentLayer();
    layer.dim(width, height, code);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) layer.plane[c].z[y][x] = gain * Picture(c, x, y);
    w.currentBitmap() = DisplayBitmap(width, height);
    layer.todib(w.currentBitmap().toprow());
  }
  static float MaxDifference(const matrix& a, const matrix& b) {
    float worst = 0;
    for (int k = 0; k < a.n; ++k) worst = std::max(worst, std::fabs(a.x[k] - b.x[k]));
    return worst;
  }
  void PressF2() { v.Dispatch(Id::F2ProgrammedOperation); }
  bool HasTemplate() { return v.brightnessTemplate[0].n > 0; }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(TemplateTest, CreateAsksForTheLevelCountAndRecordsAllThreeChannels) {
  EXPECT_FALSE(v.QueryCommand(Id::CreateBrightnessContrastTemplate).enabled);
  Draw(v, 1.0f, 24, 20, cspace::kRGB | 1);
  EXPECT_TRUE(v.QueryCommand(Id::CreateBrightnessContrastTemplate).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::Adjustment).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::DestroyBrightnessContrastTemplate).enabled);

  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(CancelOn(66));
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  EXPECT_FALSE(HasTemplate());

  LiveSettings().conditional = 1;  // only channel 0 visible: Create still takes all three
  ui.ExpectProperties(TypeAndOk(66, {{1, "1"}}));
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  for (int c = 0; c < 3; ++c) {
    matrix levels;
    float mean = 0, rms = 0;
    v.currentLayer().plane[c].bctemplate(levels, mean, rms, 1);
    EXPECT_EQ(v.brightnessTemplate[size_t(c)].n, 1);
    EXPECT_EQ(v.brightnessTemplate[size_t(c)].x[0], levels.x[0]);
    EXPECT_EQ(v.brightnessMean[size_t(c)], mean);
    EXPECT_EQ(v.brightnessRms[size_t(c)], rms);
  }
  EXPECT_NE(v.brightnessMean[0], v.brightnessMean[1]);
  EXPECT_TRUE(v.QueryCommand(Id::Adjustment).enabled);
  EXPECT_TRUE(v.QueryCommand(Id::DestroyBrightnessContrastTemplate).enabled);
}

TEST_F(TemplateTest, CreateTwiceDropsTheStackingMenuOnce) {
  Draw(v);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  EXPECT_EQ(host.popdowns, std::vector<int>{8});
  EXPECT_TRUE(HasTemplate());
}

TEST_F(TemplateTest, DestroyWithCtrlOnlySelects) {
  Draw(v);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  Flags().CtrlHeld = true;
  v.Dispatch(Id::DestroyBrightnessContrastTemplate);
  EXPECT_TRUE(HasTemplate());
  EXPECT_EQ(v.f2OperationId, int(Id::DestroyBrightnessContrastTemplate));
  EXPECT_EQ(v.operationName, "DestroyContrast");
  EXPECT_FALSE(Flags().CtrlHeld);

  PressF2();  // F2 destroys, Ctrl or not
  EXPECT_FALSE(HasTemplate());
  EXPECT_FALSE(v.QueryCommand(Id::Adjustment).enabled);
  EXPECT_FALSE(v.QueryCommand(Id::DestroyBrightnessContrastTemplate).enabled);
}

TEST_F(TemplateTest, AdjustmentSelectsItselfAndRunsUnderF2) {
  Draw(v);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  const fpbuffer reference(v.currentLayer());
  Draw(v, 2.0f);
  Flags().CtrlHeld = true;  // irrelevant
  v.Dispatch(Id::Adjustment);
  EXPECT_EQ(v.f2OperationId, int(Id::Adjustment));
  EXPECT_EQ(v.operationName, "Contrast");
  EXPECT_EQ(v.currentLayer().plane[0].x[5], 2.0f * reference.plane[0].x[5]);  // not run

  PressF2();  // the doubled picture is brought back
  for (int c = 0; c < 3; ++c)
    EXPECT_LT(MaxDifference(v.currentLayer().plane[c], reference.plane[c]), 2e-3f);

  // With Cond on and channel 0 alone visible, channel 0 alone changes.
  Draw(v, 2.0f, 24, 20, cspace::kRGB | 1);
  LiveSettings().conditional = 1;
  Flags().F3Active = true;  // F3 does the same
  v.Dispatch(Id::Adjustment);
  EXPECT_LT(MaxDifference(v.currentLayer().plane[0], reference.plane[0]), 2e-3f);
  for (int c = 1; c < 3; ++c)
    EXPECT_EQ(v.currentLayer().plane[c].x[7], 2.0f * reference.plane[c].x[7]);
}

TEST_F(TemplateTest, ALayerWithoutFloatImageKeepsItsBitmap) {
  Draw(v);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  v.currentLayer().clear(true);  // the bitmap alone
  const std::vector<uint8_t> bitmap(v.currentBitmap().data(),
                                    v.currentBitmap().data() + v.currentBitmap().bytes());
  v.Dispatch(Id::Adjustment);
  PressF2();
  v.Dispatch(Id::DestroyBrightnessContrastTemplate);
  EXPECT_FALSE(HasTemplate());
  ASSERT_EQ(v.currentBitmap().width(), 24);
  EXPECT_EQ(std::vector<uint8_t>(v.currentBitmap().data(),
                                 v.currentBitmap().data() + v.currentBitmap().bytes()),
            bitmap);
}

TEST_F(TemplateTest, AWideTemplateOnATinyImage) {
  // 640 x 480 gives six levels, holes up to 32 apart, imposed on 7 x 5.
  Draw(v, 1.0f, 640, 480);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  ASSERT_EQ(v.brightnessTemplate[0].n, 6);
  Draw(v, 1.0f, 7, 5);
  v.Dispatch(Id::Adjustment);
  PressF2();
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 35; ++k) ASSERT_TRUE(std::isfinite(v.currentLayer().plane[c].x[k]));
}

// A recorded step keeps no settings: it plays with the Cond flag and the template of the
// moment of playback.
TEST_F(TemplateTest, ARecordedAdjustmentPlaysWithTheSettingsOfPlayback) {
  Draw(v);
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  const fpbuffer reference(v.currentLayer());
  Settings& s = LiveSettings();
  v.Dispatch(Id::RecordProgram);
  // No settings, and no leftovers of an earlier recording in the slot either.
  const std::vector<uint8_t> nothing(sizeof(StepParams), 0);
  v.Dispatch(Id::Adjustment);
  Draw(v, 2.0f);
  PressF2();  // recorded with Cond off: every channel
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(Id::RecordProgram);
  ASSERT_EQ(s.program.stepCount, 1);
  EXPECT_EQ(s.program.stepIds[0], int(Id::Adjustment));
  EXPECT_EQ(
      std::vector<uint8_t>(s.program.steps[0].bytes, s.program.steps[0].bytes + sizeof(StepParams)),
      nothing);

  Draw(v, 2.0f, 24, 20, cspace::kRGB | 1);
  s.conditional = 1;
  v.Dispatch(Id::RunProgram);
  EXPECT_LT(MaxDifference(v.currentLayer().plane[0], reference.plane[0]), 2e-3f);
  for (int c = 1; c < 3; ++c)
    EXPECT_EQ(v.currentLayer().plane[c].x[7], 2.0f * reference.plane[c].x[7]);
}

// A batch imposes the template on every file under F2 and, asked to, destroys it at the
// end: two copies of the picture at half its levels come back to the picture.
TEST_F(TemplateTest, ABatchImposesTheTemplateOnEveryFile) {
  Draw(v, 1.0f);
  for (int c = 0; c < 3; ++c) {  // whole levels, as a PNG holds them
    for (int k = 0; k < v.currentLayer().n; ++k) {
      v.currentLayer().plane[c].x[k] = std::round(v.currentLayer().plane[c].x[k]);
    }
  }
  v.Dispatch(Id::CreateBrightnessContrastTemplate);
  const fpbuffer reference(v.currentLayer());
  std::vector<std::string> inputs;
  for (const char* name : {"a.png", "b.png"}) {
    fpbuffer half(reference);
    for (int c = 0; c < 3; ++c) half.plane[c].mulscalar(0.5f);
    inputs.push_back((home / name).string());
    ASSERT_EQ(WritePng(half, inputs.back(), 8, 6), nullptr);
  }
  Settings& s = LiveSettings();
  std::memcpy(s.file.batchSuffix, ".0", 3);
  std::memcpy(s.file.batchExtension, "PNG", 4);
  s.file.destroyContrastTemplateAtEnd = 1;
  v.Dispatch(Id::Adjustment);  // the F2 operation
  ui.ExpectOpenFilesDialog({true, inputs});
  v.Dispatch(Id::BatchOperation);
  EXPECT_FALSE(HasTemplate());
  for (const char* name : {"a.0.PNG", "b.0.PNG"}) {
    SCOPED_TRACE(name);
    fpbuffer out;
    ImageFileInfo info;
    LoadPng(out, (home / name).string(), info);
    ASSERT_EQ(out.n, reference.n);
    for (int c = 0; c < 3; ++c) EXPECT_LE(MaxDifference(out.plane[c], reference.plane[c]), 2.0f);
  }
}
