#include "params/opnames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "params/commandids.h"

TEST(OperationNameTest, KnownAndUnknownIds) {
  const struct {
    uint32_t id;
    const char* name;
  } cases[] = {
      {int(CommandId::OpenImage), "Open"},
      {int(CommandId::ExchangeLayers), "X"},
      {int(CommandId::TopLayerEqualsBottomLayer), "="},
      {int(CommandId::AddSubtractLayers), "Add/Sub Layers"},
      {int(CommandId::RollBottomRight), "RollBottomRight"},
      {int(CommandId::StoreZep1Fdib), "Store 1"},
      {int(CommandId::RunProgram), "RunProg"},
      {int(CommandId::SubtractZep1Fdib), "-ZEP.FDIB"},
      {int(CommandId::AddZep2Fdib), "+ZEP2.FDIB"},
      {int(CommandId::MaskEnlargementForTschumperle), "MaskEnlargement"},
      {int(CommandId::DestroyBrightnessContrastTemplate), "DestroyContrast"},
      {int(CommandId::RecallZep9Fdib), "Recall 9"},
      {int(CommandId::PoissonSharpener), "PoissonSharp"},
      // No name: the empty list entry, F2 and F3 themselves, Delete Last Step, the
      // 1-pixel rolls, ids outside the menu.
      {0, "NoOp"},
      {int(CommandId::NoOp), "NoOp"},
      {int(CommandId::F2ProgrammedOperation), "NoOp"},
      {int(CommandId::F3ProgrammedOperation), "NoOp"},
      {int(CommandId::DeleteLastStep), "NoOp"},
      {int(CommandId::RollLeft), "NoOp"},
      {int(CommandId::RollDown), "NoOp"},
      {3999, "NoOp"},
      {int(CommandId::PoissonSharpener) + 1, "NoOp"},
      {0xFFFFFFFF, "NoOp"},
  };
  for (const auto& c : cases) EXPECT_STREQ(OperationName(c.id), c.name) << c.id;
}

TEST(OperationNameTest, EveryNameFitsAStepName) {
  int named = 0;
  size_t longest = 0;
  for (uint32_t id = 0; id < 70000; ++id) {
    const char* name = OperationName(id);
    longest = std::max(longest, std::strlen(name));
    if (std::string(name) != "NoOp") ++named;
  }
  EXPECT_EQ(longest, static_cast<size_t>(kMaxOperationNameLength));
  EXPECT_EQ(named, 172);
  // The name with its longest suffix and terminator fits a program slot's 50 bytes.
  EXPECT_LE(longest + std::strlen(" (Shift+F2)") + 1, 50u);
  // Callers keep the pointer.
  EXPECT_EQ(OperationName(int(CommandId::Lanczos)), OperationName(int(CommandId::Lanczos)));
}
