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
  EXPECT_EQ(CommandDescriptorOf(4002), nullptr);
  EXPECT_EQ(CommandDescriptorOf(-4000), nullptr);
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
      {ResizeParams::kOffset, 0, ResizeParams::kSize, {4005, 4006, 4007, 4008, 4009, 4118, 4162,
                                                       4197, 4198, 4212, 4213, 4214, 4215, 4216,
                                                       4217, 4227, 4229, 4230, 4234, 4236, 4252}},
      {BlurParams::kOffset,
       0,
       BlurParams::kSize,
       {4034, 4035, 4060, 4061, 4062, 4063, 4131, 4164, 4178, 4207, 4235, 4274, 4275, 4306}},
      {DeconvParams::kOffset, 0, DeconvParams::kSize, {4222}},
      {BasicParams::kOffset, 0, BasicParams::kSize, {4091, 4255, 4054, 4056, 4069, 4303}},
      {StackParams::kOffset, 0, StackParams::kSize, {4093}},
      {IfsParams::kOffset, 0, IfsParams::kSize, {4168, 4181}},
      {PeriodicParams::kOffset, 0, PeriodicParams::kSize, {4226}},
      {LayerParams::kOffset,
       0,
       LayerParams::kSize,
       {4088, 4092, 4139, 4219, 4244, 4246, 4253, 4256}},
      {ToneMapParams::kOffset, 0, ToneMapParams::kSize, {4247, 4248}},
      {GeometryParams::kOffset, 0, GeometryParams::kSize, {4087, 4101}},
      {InpaintParams::kOffset, 0, InpaintParams::kSize, {4182, 4183, 4208, 4209}},
      {MaskParams::kOffset, 0, MaskParams::kSize, {4076, 4110, 4225}},
      {RegularizationParams::kOffset, 0, RegularizationParams::kSize, {4210, 4211}},
      {BarPatternParams::kOffset, 0, BarPatternParams::kSize, {4155}},
      {GammaParams::kOffset, 0, GammaParams::kSize, {4176, 4177}},
      {BlurParams::kOffset, 0, 4, {4021}},
      {BasicParams::kOffset, 16, 4, {4086}},
      {BasicParams::kOffset, 12, 4, {4085}},
      {LayerParams::kOffset, 0, 4, {4058}},
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
      {CommandId::OpenImage, 4000, Menu::File, nullptr, "Open Image", "O"},
      {CommandId::DeleteAllScratchFiles, 4271, Menu::File, "Scratch Files",
       "Delete All Scratch Files", "Ctrl+Delete"},
      {CommandId::RotateXyz, 4106, Menu::CSpace, nullptr, "Rotate X->Y->Z->X", nullptr},
      {CommandId::ChangeMinimumKeepMaximum, 4303, Menu::Basic, nullptr,
       "Set F2/F3 Change Minimum, Keep Maximum", nullptr},
      {CommandId::Clear, 4050, Menu::Basic, nullptr, "Clear", "0"},
      {CommandId::ManualFourPointRegistration, 4103, Menu::Geom, nullptr,
       "Set F2/F3 for Manual Four Point Registration or Perspective Crop", nullptr},
      {CommandId::RotateArbitraryAngle, 4101, Menu::Geom, nullptr,
       "Rotate Arbitrary Angle and/or Shift", "Shift+R"},
      {CommandId::BackprojectedJensenXinLi, 4198, Menu::Resize, nullptr,
       "Backprojected Jensen-Xin Li (BPJXL)", nullptr},
      {CommandId::StairInterpolation, 4217, Menu::Resize, nullptr, "Stair Interpolation (SI)",
       nullptr},
      {CommandId::IsophoteSmoothing, 4034, Menu::BlurSharpen, nullptr, "Isophote Smoothing", "T"},
      {CommandId::WeightedMajorityWithMinimumRange, 4063, Menu::BlurSharpen, nullptr,
       "Weighted Majority with Minimum Range", "W"},
      {CommandId::Align2Pt, 4240, Menu::Stacking, nullptr,
       "Set F2 for Rotational/Resized/Translational (Align2Pt)", nullptr},
      {CommandId::Stacking, 4093, Menu::Stacking, nullptr, "Stacking (Regular and Modified)",
       nullptr},
      {CommandId::MatchLevels, 4246, Menu::Layer, "Match Top to Bottom",
       "Match Top to Bottom by Levels ", nullptr},
      {CommandId::TopLayerEqualsBottomLayer, 4017, Menu::Layer, "Cloning",
       "Top Layer = Bottom Layer", "="},
      {CommandId::MaskByColor, 4076, Menu::Mask, nullptr, "Set F2, F3 to Mask by Color", nullptr},
      {CommandId::ShowMaskedArea, 4036, Menu::Mask, "View", "Show Masked Area", "Ctrl+S"},
      {CommandId::MaskEnlargementForTschumperle, 4209, Menu::Paint, nullptr,
       "Mask Enlargement for Tschumperle", nullptr},
      {CommandId::DeleteLastStep, 4123, Menu::Prog, nullptr, "Delete Last Step", "Shift+Del"},
      {CommandId::PutMonitorToSleep, 4224, Menu::Options, nullptr,
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
