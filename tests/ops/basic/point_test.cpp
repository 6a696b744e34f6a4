#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "basic_fixture.h"
#include "image/colorspace.h"
#include "platform/progress.h"

namespace {
using Id = CommandId;

void ExpectClose(const std::vector<float>& got, const std::vector<float>& want, const char* what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_NEAR(got[i], want[i], 1e-4 * std::max(1.0f, std::fabs(want[i])))
        << what << " [" << i << "]";
  }
}

class PointTest : public BasicTest {
 protected:
  // The three channels of the first pixel.
  std::vector<float> Pixel0() { return {At(0, 0), At(1, 0), At(2, 0)}; }
  void MakePixel(std::vector<float> channels, CSpaceCode code) {
    Make(1, 1, code, [&](int c, int) { return channels[size_t(c)]; });
  }
};
}  // namespace

// The F2/F3 arithmetic of the four parameterised operations, with the unit variants.
TEST_F(PointTest, ForwardAndInverseValues) {
  struct Case {
    const char* name;
    Id op;
    float BasicParams::*param;
    float value;
    Id key;
    CSpaceCode code;
    std::vector<float> in, out;
  };
  const Id F2 = Id::F2ProgrammedOperation, F3 = Id::F3ProgrammedOperation;
  const float g = 255.0f / 280.5f;
  const float tiny = 1e-39f;  // its inverse overflows a float
  const Case cases[] = {
      {"add 0.1",
       Id::AddSubtractConstant,
       &BasicParams::addSubtractConstant,
       0.1f,
       F2,
       0x17,
       {10, 20, 30},
       {35.5f, 45.5f, 55.5f}},
      {"add 0.1 Shift+F2",
       Id::AddSubtractConstant,
       &BasicParams::addSubtractConstant,
       0.1f,
       Id::ShiftF2,
       0x17,
       {10, 20, 30},
       {265, 275, 285}},
      {"add 0.1 Ctrl+F2",
       Id::AddSubtractConstant,
       &BasicParams::addSubtractConstant,
       0.1f,
       Id::CtrlF2,
       0x17,
       {10, 20, 30},
       {12.55f, 22.55f, 32.55f}},
      {"subtract 0.1",
       Id::AddSubtractConstant,
       &BasicParams::addSubtractConstant,
       0.1f,
       F3,
       0x17,
       {10, 20, 30},
       {-15.5f, -5.5f, 4.5f}},
      {"add 0.1 in HSV",
       Id::AddSubtractConstant,
       &BasicParams::addSubtractConstant,
       0.1f,
       F2,
       0x207,
       {100, 0.3f, 50},
       {136, 0.4f, 75.5f}},
      {"multiply 2",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       2,
       F2,
       0x17,
       {10, -20, 30},
       {20, -40, 60}},
      {"divide 2",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       2,
       F3,
       0x17,
       {10, -20, 30},
       {5, -10, 15}},
      {"multiply Ctrl+F2",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       2,
       Id::CtrlF2,
       0x17,
       {10, 20, 30},
       {float(10 * std::pow(2.0, 0.1)), float(20 * std::pow(2.0, 0.1)),
        float(30 * std::pow(2.0, 0.1))}},
      {"negative constant Ctrl+F2: no real power",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       -2,
       Id::CtrlF2,
       0x17,
       {10, 20, 30},
       {10, 20, 30}},
      {"divide by 0",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       0,
       F3,
       0x17,
       {10, 20, 30},
       {10, 20, 30}},
      {"inverse overflows",
       Id::MultiplyDivideByConstant,
       &BasicParams::multiplyDivideConstant,
       tiny,
       F3,
       0x17,
       {10, 20, 30},
       {10, 20, 30}},
      {"gamma 2",
       Id::GammaAdjustment,
       &BasicParams::gamma,
       2,
       F2,
       0x17,
       {127.5f, -127.5f, 0},
       {63.75f, -63.75f, 0}},
      {"gamma 2 inverse",
       Id::GammaAdjustment,
       &BasicParams::gamma,
       2,
       F3,
       0x17,
       {63.75f, -63.75f, 255},
       {127.5f, -127.5f, 255}},
      {"change minimum 0.1",
       Id::ChangeMinimumKeepMaximum,
       &BasicParams::shiftAmount,
       0.1f,
       F2,
       0x17,
       {255, 0, 100},
       {255, 255 - 255 * g, 100 * g + (1 - g) * 255}},
      {"change minimum 0.1 inverse",
       Id::ChangeMinimumKeepMaximum,
       &BasicParams::shiftAmount,
       0.1f,
       F3,
       0x17,
       {255, 0, 100},
       {255, -25.5f, 84.5f}},
      {"change minimum in CMY",
       Id::ChangeMinimumKeepMaximum,
       &BasicParams::shiftAmount,
       0.1f,
       F2,
       0x1007,
       {100, 0, 255},
       {110, 0, 280.5f}},
      {"change minimum in CMY inverse",
       Id::ChangeMinimumKeepMaximum,
       &BasicParams::shiftAmount,
       0.1f,
       F3,
       0x1007,
       {110, 0, 280.5f},
       {100, 0, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LiveSettings().SetDefaults();
    LiveSettings().autoQuery = 0;
    LiveSettings().conditional = 0;
    LiveSettings().basic.*c.param = c.value;
    MakePixel(c.in, c.code);
    Press(c.op, c.key);
    ExpectClose(Pixel0(), c.out, c.name);
    EXPECT_FALSE(Flags().F2Active || Flags().F3Active || Flags().CtrlVariant);
  }
}

// F2 and then F3 with the same setting give the image back.
TEST_F(PointTest, InverseUndoesForward) {
  struct Case {
    Id op;
    float BasicParams::*param;
    float value;
    CSpaceCode code;
  };
  const Case cases[] = {
      {Id::AddSubtractConstant, &BasicParams::addSubtractConstant, 0.3f, 0x207},
      {Id::MultiplyDivideByConstant, &BasicParams::multiplyDivideConstant, 2, 0x17},
      {Id::GammaAdjustment, &BasicParams::gamma, 2.2f, 0x17},
      {Id::ChangeMinimumKeepMaximum, &BasicParams::shiftAmount, 0.1f, 0x17},
      {Id::ChangeMinimumKeepMaximum, &BasicParams::shiftAmount, -0.2f, 0x4007},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op));
    LiveSettings().basic.*c.param = c.value;
    Make(7, 3, c.code, [](int ch, int k) { return float(3 * k + ch) * 0.4f - 2.0f; });
    const std::vector<float> before = Channel(1);
    Press(c.op, Id::F2ProgrammedOperation);
    EXPECT_NE(Channel(1), before);
    v.Dispatch(Id::F3ProgrammedOperation);
    ExpectClose(Channel(1), before, "restored");
  }
}

// From the menu the four open their page, and on OK become the F2/F3 operation without
// running; a gamma not above 0 and an amount of 0 open nothing at all.
TEST_F(PointTest, MenuPathsSelectWithoutRunning) {
  LiveSettings().autoQuery = 1;
  MakeRow({10, 20});
  ui.ExpectProperties(TypeAndOk(11, {{1, "0.5"}}));
  v.Dispatch(Id::AddSubtractConstant);
  EXPECT_EQ(v.f2OperationId, int(Id::AddSubtractConstant));
  EXPECT_FLOAT_EQ(LiveSettings().basic.addSubtractConstant, 0.5f);
  ui.ExpectProperties(CancelOn(12));
  v.Dispatch(Id::MultiplyDivideByConstant);
  EXPECT_EQ(v.f2OperationId, int(Id::AddSubtractConstant));
  EXPECT_EQ(Channel(0), (std::vector<float>{10, 20}));

  LiveSettings().basic.gamma = 0;
  v.Dispatch(Id::GammaAdjustment);
  LiveSettings().basic.gamma = std::nanf("");
  v.Dispatch(Id::GammaAdjustment);
  LiveSettings().basic.shiftAmount = 0;
  v.Dispatch(Id::ChangeMinimumKeepMaximum);
  Press(Id::GammaAdjustment, Id::F2ProgrammedOperation);
  EXPECT_EQ(Channel(0), (std::vector<float>{10, 20}));
}

// Cond on with channel 1 hidden and an image mask: Clear and Negative touch channels 0 and
// 2 under the mask; Clip Negative takes the channel rule alone (every pixel), as does
// equalisation.
TEST_F(PointTest, ScopeOfTheCommands) {
  LiveSettings().conditional = 1;
  auto setup = [&] {
    Make(2, 1, 0x15, [](int c, int k) { return k == 0 ? -10.0f - c : 100.0f + c; });
    v.currentLayer().mask.dim(2, 1);
    v.currentLayer().mask.setbit(1, true);
  };
  setup();
  v.Dispatch(Id::Clear);
  EXPECT_EQ(Channel(0), (std::vector<float>{-10, 0}));
  EXPECT_EQ(Channel(1), (std::vector<float>{-11, 101}));
  EXPECT_EQ(Channel(2), (std::vector<float>{-12, 0}));
  setup();
  v.Dispatch(Id::Negative);
  EXPECT_EQ(Channel(0), (std::vector<float>{-10, 155}));
  EXPECT_EQ(Channel(1), (std::vector<float>{-11, 101}));
  setup();
  v.Dispatch(Id::ClipNegativeValuesToZero);
  EXPECT_EQ(Channel(0), (std::vector<float>{0, 100}));
  EXPECT_EQ(Channel(1), (std::vector<float>{-11, 101}));
  EXPECT_EQ(Channel(2), (std::vector<float>{0, 102}));
  setup();
  v.Dispatch(Id::HistogramEqualization);
  EXPECT_EQ(Channel(0), (std::vector<float>{63.75f, 191.25f}));
  EXPECT_EQ(Channel(1), (std::vector<float>{-11, 101}));
}

TEST_F(PointTest, NegativeReflectsAtTheUpperBound) {
  MakePixel({100, 0.25f, 55}, 0x207);
  v.Dispatch(Id::Negative);
  ExpectClose(Pixel0(), {260, 0.75f, 200}, "HSV");
}

TEST_F(PointTest, Equalization) {
  Make(2, 2, 0x17, [](int c, int k) {
    return c == 1 ? 7.0f : std::vector<float>{10, 20, 20, 30}[size_t(k)];
  });
  v.Dispatch(Id::HistogramEqualization);
  EXPECT_EQ(Channel(0), (std::vector<float>{31.875f, 127.5f, 127.5f, 223.125f}));
  EXPECT_EQ(Channel(1), (std::vector<float>{127.5f, 127.5f, 127.5f, 127.5f}));
}

// A cancel at the first progress tick leaves the image as it was.
TEST_F(PointTest, CancelAtTheFirstTickKeepsTheImage) {
  for (const Id op : {Id::HistogramEqualization, Id::GammaAdjustment}) {
    MakeRow({1, 2, 3});
    LiveSettings().basic.gamma = 2;
    platform.CancelAtPoll(1);
    Press(op, Id::F2ProgrammedOperation);
    EXPECT_EQ(Channel(0), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(Channel(2), (std::vector<float>{1, 2, 3}));
    EXPECT_TRUE(v.operationFailed);
    platform.CancelAtPoll(0);
  }
}

// Gamma keeps copies of the channels it changes rather than the window a copy of the
// layer: a cancel at any channel's tick restores every channel already changed, with the
// memory for the copies and without it (the window's copy then serves); a run that
// completes gives the bytes of the plain in-place power.
TEST_F(PointTest, GammaCancelledAtAnyTickKeepsTheImage) {
  const int w = 300, h = 150;  // a layer of more than the 1 MB every memory check allows
  auto value = [](int c, int k) { return float((k * 37 + c * 101) % 256); };
  fpbuffer expected(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < w * h; ++k) expected.plane[c].x[k] = value(c, k);
  }
  expected.gamma(2, nullptr, false);
  for (const uint64_t memory : {uint64_t(1) << 40, uint64_t(0)}) {
    platform.memory.availPhys = memory;
    for (const int poll : {1, 2, 3, 4}) {
      SCOPED_TRACE(testing::Message() << "memory " << memory << ", cancel at poll " << poll);
      Make(w, h, 0x17, value);
      LiveSettings().basic.gamma = 2;
      platform.CancelAtPoll(poll);
      Press(Id::GammaAdjustment, Id::F2ProgrammedOperation);
      platform.CancelAtPoll(0);
      EXPECT_EQ(v.operationFailed, poll <= 3);
      int differ = 0;
      for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < w * h; ++k) {
          const float want = poll <= 3 ? value(c, k) : expected.plane[c].x[k];
          const float got = At(c, k);
          if (std::memcmp(&got, &want, 4) != 0) ++differ;
        }
      }
      EXPECT_EQ(differ, 0);
    }
  }
}

TEST_F(PointTest, GradientBetweenTheTwoNewestQueueEntries) {
  Make(21, 2, 0x17, [](int, int) { return -1.0f; });
  v.PushColorQueue(10, 0, 255, 255, 255, 0);
  v.PushColorQueue(0, 0, 0, 0, 0, 0);
  v.Dispatch(Id::Gradient);
  for (int c = 0; c < 3; ++c) {
    EXPECT_FLOAT_EQ(At(c, 5), 127.5f);
    EXPECT_FLOAT_EQ(At(c, 21 + 5), 127.5f);
    EXPECT_FLOAT_EQ(At(c, 20), 510.0f);
  }
  // Two equal points change nothing.
  Make(3, 1, 0x17, [](int, int k) { return float(k); });
  v.PushColorQueue(0, 0, 9, 9, 9, 0);
  v.Dispatch(Id::Gradient);
  EXPECT_EQ(Channel(0), (std::vector<float>{0, 1, 2}));
}

TEST_F(PointTest, DifferenceStatisticsText) {
  MakeRow({1, 2, 3});
  v.otherLayer().copy(v.currentLayer());
  v.otherBitmap() = DisplayBitmap(3, 1);
  const std::string same = "PSNR = inf,  RMSE = 0.000000,  AAE = 0.000000,  MAE = 0.000000";
  ui.ExpectMessage("X Channel:\n\n" + same + "\n\n\nY Channel:\n\n" + same +
                   "\n\n\nZ Channel:\n\n" + same +
                   "\n\n\nLegend:\n\t\tPSNR - Peak Signal to Noise Ratio\n\t\tRMSE - Root Mean "
                   "Squared Error\n\t\tAAE - Average Absolute Error\n\t\tMAE - Maximum Absolute "
                   "Error");
  v.Dispatch(Id::DifferenceStatistics);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Statistics");

  // One difference of 2 in channel 0 over 3 pixels: RMSE sqrt(4/3).
  v.otherLayer().plane[0].x[1] = 4;
  ui.ExpectMessageStartingWith(
      "X Channel:\n\nPSNR = 46.881416,  RMSE = 1.154701,  AAE = 0.666667,  MAE = 2.000000\n\n\n");
  v.Dispatch(Id::DifferenceStatistics);

  // Another size: nothing, also as a program step.
  v.otherLayer().dim(2, 1, 0x17);
  v.Dispatch(Id::DifferenceStatistics);
  Press(Id::DifferenceStatistics, Id::F2ProgrammedOperation);
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(PointTest, ScaleAndShift) {
  const float inf = std::numeric_limits<float>::infinity();
  // 10..110 becomes 0..255; infinities and NaN do not count and stay.
  Make(3, 2, 0x17, [&](int c, int k) {
    const float values[] = {10, 60, 110, 35, inf, std::nanf("")};
    return c == 1 ? 50.0f : values[k];
  });
  v.Dispatch(Id::ScaleAndShiftTo0255);
  EXPECT_FLOAT_EQ(At(0, 0), 0);
  EXPECT_FLOAT_EQ(At(0, 1), 127.5f);
  EXPECT_FLOAT_EQ(At(0, 2), 255);
  EXPECT_FLOAT_EQ(At(1, 0), 102);
  EXPECT_EQ(At(0, 4), inf);
  EXPECT_TRUE(std::isnan(At(0, 5)));

  // A constant image, and one without a finite value, stay as they are.
  for (const float value : {7.0f, inf}) {
    Make(2, 2, 0x17, [&](int, int) { return value; });
    v.Dispatch(Id::ScaleAndShiftTo0255);
    EXPECT_EQ(Channel(2), std::vector<float>(4, value));
  }

  // With an image mask the extremes and the change are the mask's pixels'; the space
  // comes back, visible bits included.
  Make(3, 1, 0x15, [](int, int k) { return float(20 * k + 20); });
  v.currentLayer().mask.dim(3, 1);
  v.currentLayer().mask.setbit(0, true);
  v.currentLayer().mask.setbit(1, true);
  v.Dispatch(Id::ScaleAndShiftTo0255);
  EXPECT_EQ(Channel(0), (std::vector<float>{0, 255, 60}));
  EXPECT_EQ(v.currentLayer().code, 0x15u);
  v.currentLayer().mask.free();

  // With a radius the extremes come from a median-smoothed copy: a lone spike does not
  // set them, and the image itself is not smoothed.
  LiveSettings().basic.outlierSmoothingRadius = 1;
  Make(5, 5, 0x17, [](int, int k) { return k == 12 ? 1000.0f : float(k % 5) * 10 + 10; });
  Press(Id::ScaleAndShiftTo0255, Id::F2ProgrammedOperation);
  EXPECT_FLOAT_EQ(At(0, 0), 0);
  EXPECT_FLOAT_EQ(At(0, 4), 255);
  EXPECT_FLOAT_EQ(At(0, 12), (1000.0f - 10) * 255 / 40);
}

// A recorded program replays the steps with the values they were recorded with.
TEST_F(PointTest, RecordedProgramReplays) {
  auto draw = [&] { Make(4, 2, 0x17, [](int c, int k) { return 20.0f * float(k) + float(c); }); };
  draw();
  BasicParams& p = LiveSettings().basic;
  p.addSubtractConstant = 0.1f;
  p.gamma = 2;
  p.multiplyDivideConstant = 3;
  Flags().Recording = true;
  LiveSettings().program.stepCount = 0;
  Press(Id::AddSubtractConstant, Id::F2ProgrammedOperation);
  Press(Id::GammaAdjustment, Id::ShiftF3);
  Press(Id::MultiplyDivideByConstant, Id::CtrlF2);
  Press(Id::Negative, Id::F2ProgrammedOperation);
  Flags().Recording = false;
  const std::vector<float> recorded = Channel(2);
  EXPECT_EQ(LiveSettings().program.stepCount, 4);

  p.addSubtractConstant = 0.7f;
  p.gamma = 0.5f;
  p.multiplyDivideConstant = 9;
  draw();
  v.Dispatch(Id::RunProgram);
  EXPECT_EQ(Channel(2), recorded);
  EXPECT_FLOAT_EQ(p.gamma, 0.5f) << "the settings come back after the run";
}

// NaN, infinities and the smallest shapes through every command of the family: nothing
// reads outside an image and every image keeps its size.
TEST_F(PointTest, NonFiniteValuesAndTinyImagesThroughEveryCommand) {
  const float inf = std::numeric_limits<float>::infinity();
  const float special[] = {std::nanf(""), inf, -inf, 0.0f, -5.0f, 300.0f};
  const Id commands[] = {Id::Rgb,
                         Id::Hsv,
                         Id::YCbCr,
                         Id::Cmy,
                         Id::LogRgb,
                         Id::LogCmy,
                         Id::Hsi,
                         Id::YCbCr2,
                         Id::Yuv,
                         Id::Lab,
                         Id::RgbGammaX,
                         Id::YCbCrGammaX,
                         Id::XChannel,
                         Id::RotateXyz,
                         Id::EnterAverageColor,
                         Id::SetImageToColor,
                         Id::AddSubtractColor,
                         Id::InterpolateExtrapolateColor,
                         Id::AddSubtractConstant,
                         Id::MultiplyDivideByConstant,
                         Id::GammaAdjustment,
                         Id::ChangeMinimumKeepMaximum,
                         Id::Clear,
                         Id::Negative,
                         Id::Gradient,
                         Id::ClipNegativeValuesToZero,
                         Id::HistogramEqualization};
  const int shapes[][2] = {{1, 1}, {1, 6}, {6, 1}, {2, 3}};
  for (const auto& shape : shapes) {
    for (const Id id : commands) {
      for (const Id key : {Id::F2ProgrammedOperation, Id::F3ProgrammedOperation}) {
        SCOPED_TRACE(std::to_string(int(id)) + " on " + std::to_string(shape[0]) + "x" +
                     std::to_string(shape[1]));
        Make(shape[0], shape[1], 0x17,
             [&](int c, int k) { return special[size_t(k + 2 * c) % std::size(special)]; });
        v.PushColorQueue(0, 0, std::nanf(""), inf, 1, 0);
        v.selection.dim(shape[0], shape[1]);
        v.selection.setbit(0, true);
        Press(id, key);
        EXPECT_EQ(v.currentLayer().width, shape[0]);
        EXPECT_EQ(v.currentLayer().height, shape[1]);
        v.selection.free();
      }
    }
  }
}
