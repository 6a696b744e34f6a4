// The command table: one row per command, and the tables that are views of it.
#include "params/commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "params/blocks.h"
#include "params/opnames.h"

namespace {
// Numbers beyond every command, so the views are swept whole.
constexpr int kSweepEnd = 70000;

TEST(CommandTableTest, EveryIdHasOneRowAndEveryRowIsWellFormed) {
  std::set<int> ids;
  for (const CommandDescriptor& d : CommandTable()) {
    EXPECT_TRUE(ids.insert(d.Id()).second) << d.Id() << " twice";
    EXPECT_EQ(CommandDescriptorOf(d.Id()), &d) << d.Id();
    if (d.HasMenuItem()) {
      EXPECT_NE(d.caption, nullptr) << d.Id();
      EXPECT_NE(d.menu, Menu::Window) << d.Id() << ": the window list is the adapter's";
    } else {
      EXPECT_EQ(d.submenu, nullptr) << d.Id();
    }
    if (d.menu == Menu::HiddenKey) {
      EXPECT_NE(d.key, nullptr) << d.Id() << " is out of reach";
    }
    if (d.menu == Menu::NoItem) {
      EXPECT_EQ(d.key, nullptr) << d.Id();
    }
    // The page list is filled from the front.
    bool ended = false;
    for (int16_t page : d.pages) {
      if (page < 0) ended = true;
      EXPECT_FALSE(ended && page >= 0) << d.Id();
    }
    if (d.name) {
      EXPECT_LE(std::strlen(d.name), size_t(kMaxOperationNameLength)) << d.Id();
    }
  }
  EXPECT_EQ(CommandDescriptorOf(0), nullptr);
  EXPECT_EQ(CommandDescriptorOf(int(CommandId::SaveImageAs) + 1), nullptr);
  EXPECT_EQ(CommandDescriptorOf(-int(CommandId::OpenImage)), nullptr);
}

TEST(CommandTableTest, OperationNamesAndSnapshotsAreViewsOfTheRows) {
  for (int id = 0; id < kSweepEnd; ++id) {
    const CommandDescriptor* d = CommandDescriptorOf(id);
    const std::string name = OperationName(uint32_t(id));
    if (name != "NoOp") {
      ASSERT_NE(d, nullptr) << id;
      EXPECT_EQ(name, d->name) << id;
    }
    if (const StepSnapshotRange* r = StepSnapshotOf(id)) {
      ASSERT_NE(d, nullptr) << id;
      EXPECT_EQ(r, &d->snapshot) << id;
    }
  }
}

// Recorded programs copy these bytes into their steps, so the ranges are the program
// files' format: each command keeps exactly what it kept when its program was written.
TEST(CommandTableTest, EachStepKeepsTheBytesItAlwaysKept) {
  struct Kept {
    uint32_t offset, begin, length;
    std::set<int> ids;
  };
  const Kept kept[] = {
      {ResizeParams::kOffset,
       0,
       ResizeParams::kSize,
       {int(CommandId::XinLi),
        int(CommandId::Lanczos),
        int(CommandId::Bilinear),
        int(CommandId::Bicubic),
        int(CommandId::JensenXinLi),
        int(CommandId::BoxNearestNeighbor),
        int(CommandId::Triangulation),
        int(CommandId::BackprojectedXinLi),
        int(CommandId::BackprojectedJensenXinLi),
        int(CommandId::ModifiedBSpline),
        int(CommandId::NewDataDependentLanczos),
        int(CommandId::JensenDdl),
        int(CommandId::BackprojectedDdl),
        int(CommandId::BackprojectedJddl),
        int(CommandId::StairInterpolation),
        int(CommandId::PyramidSimulation),
        int(CommandId::Presharpen),
        int(CommandId::WindowlessXinLi),
        int(CommandId::PseudoInverseEnlargement),
        int(CommandId::OldDataDependentLanczos),
        int(CommandId::SeamCarving)}},
      {BlurParams::kOffset,
       0,
       BlurParams::kSize,
       {int(CommandId::IsophoteSmoothing), int(CommandId::JensenEdgeEnhancement),
        int(CommandId::BilateralFilter), int(CommandId::LensBlur), int(CommandId::Median),
        int(CommandId::WeightedMajorityWithMinimumRange), int(CommandId::UnsharpMask),
        int(CommandId::GaussianBlur), int(CommandId::Xsharpen), int(CommandId::MotionBlur),
        int(CommandId::NlMeans), int(CommandId::HysteresisSmoothing),
        int(CommandId::FastBilateralApproximation), int(CommandId::PoissonSharpener)}},
      {DeconvParams::kOffset, 0, DeconvParams::kSize, {int(CommandId::RegularizedDeconvolution)}},
      {BasicParams::kOffset,
       0,
       BasicParams::kSize,
       {int(CommandId::ScaleAndShiftTo0255), int(CommandId::ApplyCurve),
        int(CommandId::AddSubtractConstant), int(CommandId::MultiplyDivideByConstant),
        int(CommandId::GammaAdjustment), int(CommandId::ChangeMinimumKeepMaximum)}},
      {StackParams::kOffset, 0, StackParams::kSize, {int(CommandId::Stacking)}},
      {IfsParams::kOffset,
       0,
       IfsParams::kSize,
       {int(CommandId::IteratedFunctionSystems), int(CommandId::ReopenIfs)}},
      {PeriodicParams::kOffset, 0, PeriodicParams::kSize, {int(CommandId::PeriodicSmoothing)}},
      {LayerParams::kOffset,
       0,
       LayerParams::kSize,
       {int(CommandId::MatchCanvasSizes), int(CommandId::LsMatch2), int(CommandId::LadMatch1),
        int(CommandId::LsMatch1), int(CommandId::WaveletMatch), int(CommandId::MatchLevels),
        int(CommandId::SeamlessCloning), int(CommandId::CombineSharpestFeatures)}},
      {ToneMapParams::kOffset,
       0,
       ToneMapParams::kSize,
       {int(CommandId::ToneMap1), int(CommandId::ToneMap2)}},
      {GeometryParams::kOffset,
       0,
       GeometryParams::kSize,
       {int(CommandId::CreateBlankImage), int(CommandId::RotateArbitraryAngle)}},
      {InpaintParams::kOffset,
       0,
       InpaintParams::kSize,
       {int(CommandId::RecordTexture), int(CommandId::TextureInpainting),
        int(CommandId::TschumperleInpainting), int(CommandId::MaskEnlargementForTschumperle)}},
      {MaskParams::kOffset,
       0,
       MaskParams::kSize,
       {int(CommandId::MaskByColor), int(CommandId::MaskByEdgeDetection),
        int(CommandId::SmoothMask)}},
      {RegularizationParams::kOffset,
       0,
       RegularizationParams::kSize,
       {int(CommandId::TschumperleRegularization), int(CommandId::ShockFilter)}},
      {BarPatternParams::kOffset, 0, BarPatternParams::kSize, {int(CommandId::DrawBarPattern)}},
      {GammaParams::kOffset,
       0,
       GammaParams::kSize,
       {int(CommandId::RgbGammaX), int(CommandId::YCbCrGammaX)}},
      {BlurParams::kOffset, 0, 4, {int(CommandId::Fast3x3Average)}},
      {BasicParams::kOffset, 16, 4, {int(CommandId::InterpolateExtrapolateColor)}},
      {BasicParams::kOffset, 12, 4, {int(CommandId::AddSubtractColor)}},
      {LayerParams::kOffset, 0, 4, {int(CommandId::InterpolateExtrapolateLayers)}},
  };
  for (int id = 0; id < kSweepEnd; ++id) {
    const StepSnapshotRange* r = StepSnapshotOf(id);
    const Kept* expected = nullptr;
    for (const Kept& k : kept) {
      if (k.ids.count(id)) expected = &k;
    }
    if (!expected) {
      EXPECT_EQ(r, nullptr) << id;
      continue;
    }
    ASSERT_NE(r, nullptr) << id;
    EXPECT_EQ(r->blockOffset, expected->offset) << id;
    EXPECT_EQ(r->begin, expected->begin) << id;
    EXPECT_EQ(r->length, expected->length) << id;
  }
}

// Ids, menus and texts as the menu resource has them, across the menu bar.
TEST(CommandTableTest, CommandsAcrossTheMenusHaveTheirIdsAndTexts) {
  const struct {
    CommandId command;
    int id;
    Menu menu;
    const char* submenu;
    const char* caption;
    const char* key;
  } cases[] = {
      {CommandId::OpenImage, int(CommandId::OpenImage), Menu::File, nullptr, "Open Image", "O"},
      {CommandId::DeleteAllScratchFiles, int(CommandId::DeleteAllScratchFiles), Menu::File,
       "Scratch Files", "Delete All Scratch Files", "Ctrl+Delete"},
      {CommandId::RotateXyz, int(CommandId::RotateXyz), Menu::CSpace, nullptr, "Rotate X->Y->Z->X",
       nullptr},
      {CommandId::ChangeMinimumKeepMaximum, int(CommandId::ChangeMinimumKeepMaximum), Menu::Basic,
       nullptr, "Set F2/F3 Change Minimum, Keep Maximum", nullptr},
      {CommandId::Clear, int(CommandId::Clear), Menu::Basic, nullptr, "Clear", "0"},
      {CommandId::ManualFourPointRegistration, int(CommandId::ManualFourPointRegistration),
       Menu::Geom, nullptr, "Set F2/F3 for Manual Four Point Registration or Perspective Crop",
       nullptr},
      {CommandId::RotateArbitraryAngle, int(CommandId::RotateArbitraryAngle), Menu::Geom, nullptr,
       "Rotate Arbitrary Angle and/or Shift", "Shift+R"},
      {CommandId::BackprojectedJensenXinLi, int(CommandId::BackprojectedJensenXinLi), Menu::Resize,
       nullptr, "Backprojected Jensen-Xin Li (BPJXL)", nullptr},
      {CommandId::StairInterpolation, int(CommandId::StairInterpolation), Menu::Resize, nullptr,
       "Stair Interpolation (SI)", nullptr},
      {CommandId::IsophoteSmoothing, int(CommandId::IsophoteSmoothing), Menu::BlurSharpen, nullptr,
       "Isophote Smoothing", "T"},
      {CommandId::WeightedMajorityWithMinimumRange,
       int(CommandId::WeightedMajorityWithMinimumRange), Menu::BlurSharpen, nullptr,
       "Weighted Majority with Minimum Range", "W"},
      {CommandId::Align2Pt, int(CommandId::Align2Pt), Menu::Stacking, nullptr,
       "Set F2 for Rotational/Resized/Translational (Align2Pt)", nullptr},
      {CommandId::Stacking, int(CommandId::Stacking), Menu::Stacking, nullptr,
       "Stacking (Regular and Modified)", nullptr},
      {CommandId::MatchLevels, int(CommandId::MatchLevels), Menu::Layer, "Match Top to Bottom",
       "Match Top to Bottom by Levels ", nullptr},
      {CommandId::TopLayerEqualsBottomLayer, int(CommandId::TopLayerEqualsBottomLayer), Menu::Layer,
       "Cloning", "Top Layer = Bottom Layer", "="},
      {CommandId::MaskByColor, int(CommandId::MaskByColor), Menu::Mask, nullptr,
       "Set F2, F3 to Mask by Color", nullptr},
      {CommandId::ShowMaskedArea, int(CommandId::ShowMaskedArea), Menu::Mask, "View",
       "Show Masked Area", "Ctrl+S"},
      {CommandId::MaskEnlargementForTschumperle, int(CommandId::MaskEnlargementForTschumperle),
       Menu::Paint, nullptr, "Mask Enlargement for Tschumperle", nullptr},
      {CommandId::DeleteLastStep, int(CommandId::DeleteLastStep), Menu::Prog, nullptr,
       "Delete Last Step", "Shift+Del"},
      {CommandId::PutMonitorToSleep, int(CommandId::PutMonitorToSleep), Menu::Options, nullptr,
       "Put Monitor to Sleep at Beginning of Selected Processes ", nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(c.command), c.id);
    const CommandDescriptor* d = CommandDescriptorOf(c.id);
    ASSERT_NE(d, nullptr) << c.id;
    EXPECT_EQ(d->menu, c.menu) << c.id;
    EXPECT_STREQ(d->caption, c.caption) << c.id;
    EXPECT_EQ(d->submenu ? std::string(d->submenu) : "", c.submenu ? c.submenu : "") << c.id;
    EXPECT_EQ(d->key ? std::string(d->key) : "", c.key ? c.key : "") << c.id;
  }
}
}  // namespace
