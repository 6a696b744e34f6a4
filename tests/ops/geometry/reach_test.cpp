// The commands are reachable from their menus and keys, and a recorded program replays
// them with the settings kept in its steps.
#include "geometry_fixture.h"
#include "params/commands.h"
#include "support/dialog_scripts.h"

TEST_F(GeometryTest, EveryCommandIsAnEnabledItemOfItsMenuOnATwoLayerWindow) {
  Make(v, 12, 10, true, 1);
  Make(v, 12, 10, true, 0);
  struct Item {
    CommandId id;
    Menu menu;
  };
  const Item items[] = {
      {CommandId::Crop, Menu::Geom},
      {CommandId::SetForCroppingTwoLayers, Menu::Geom},
      {CommandId::Rotate90Degrees, Menu::Geom},
      {CommandId::VerticalFlip, Menu::Geom},
      {CommandId::HorizontalFlip, Menu::Geom},
      {CommandId::CreateBlankImage, Menu::Geom},
      {CommandId::ManualOnePointRegistration, Menu::Geom},
      {CommandId::RotateArbitraryAngle, Menu::Geom},
      {CommandId::ManualTwoPointRegistration, Menu::Geom},
      {CommandId::ManualFourPointRegistration, Menu::Geom},
      {CommandId::CreateSecondLayer, Menu::Layer},
      {CommandId::ExchangeLayers, Menu::Layer},
      {CommandId::TopLayerEqualsBottomLayer, Menu::Layer},
      {CommandId::AddSubtractLayers, Menu::Layer},
      {CommandId::InterpolateExtrapolateLayers, Menu::Layer},
      {CommandId::Minimum, Menu::Layer},
      {CommandId::Maximum, Menu::Layer},
      {CommandId::MatchCanvasSizes, Menu::Layer},
      {CommandId::GradientLensBlur, Menu::Layer},
      {CommandId::TilingTopIntoBottom, Menu::Layer},
      {CommandId::ToggleNormalView, Menu::Layer},
      {CommandId::RollLeft, Menu::NoItem},
      {CommandId::RollBottomDown, Menu::HiddenKey},
      {CommandId::RollUp10, Menu::HiddenKey},
      {CommandId::RollBottomRight10, Menu::HiddenKey},
      {CommandId::SelectRotate90, Menu::HiddenKey},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(CommandIdName(int(item.id)));
    EXPECT_EQ(CommandDescriptorOf(int(item.id))->menu, item.menu);
    EXPECT_TRUE(v.QueryMenuItem(item.id).enabled);
  }
}

TEST_F(GeometryTest, ARecordedProgramReplaysTheStepsWithTheirSettings) {
  Make(v, 16, 16, false);
  GeometryParams& g = LiveSettings().geometry;
  g.rotationAngle = 90;
  g.rotationHorizontalOffset = g.rotationVerticalOffset = 0;
  g.rotationAccuracyIterations = 0;
  v.Dispatch(CommandId::RecordProgram);
  F2(CommandId::RotateArbitraryAngle);
  F2(CommandId::VerticalFlip);
  F2(CommandId::RollRight10);
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(CommandId::RecordProgram);
  ASSERT_EQ(LiveSettings().program.stepCount, 3);
  fpbuffer expected(v.currentLayer());

  Make(v, 16, 16, false);
  g.rotationAngle = 0;  // the step keeps its own angle
  v.Dispatch(CommandId::RunProgram);
  const fpbuffer& f = v.currentLayer();
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < f.n; ++k) ASSERT_EQ(f.plane[c].x[k], expected.plane[c].x[k]);
  // The turn was a quarter turn, then the flip and the roll: pixel (0, 0) came from the
  // top-right-hand side of the picture.
  fpbuffer direct(expected);
  Make(v, 16, 16, false);
  v.Dispatch(CommandId::Rotate90Degrees);
  v.Dispatch(CommandId::VerticalFlip);
  v.Dispatch(CommandId::RollRight10);
  for (int k = 0; k < f.n; ++k)
    ASSERT_NEAR(v.currentLayer().plane[1].x[k], direct.plane[1].x[k], 0.01);
}
