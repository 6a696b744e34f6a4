#include "params/opnames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(OperationNameTest, KnownAndUnknownIds) {
  const struct {
    uint32_t id;
    const char* name;
  } cases[] = {
      {4000, "Open"},
      {4016, "X"},
      {4017, "="},
      {4052, "Add/Sub Layers"},
      {4095, "RollBottomRight"},
      {4112, "Store 1"},
      {4121, "RunProg"},
      {4185, "-ZEP.FDIB"},
      {4188, "+ZEP2.FDIB"},
      {4209, "MaskEnlargement"},
      {4238, "DestroyContrast"},
      {4270, "Recall 9"},
      {4306, "PoissonSharp"},
      // No name: the empty list entry, F2 and F3 themselves, Delete Last Step, the
      // 1-pixel rolls, ids outside the menu.
      {0, "NoOp"},
      {4020, "NoOp"},
      {4018, "NoOp"},
      {4019, "NoOp"},
      {4123, "NoOp"},
      {4079, "NoOp"},
      {4082, "NoOp"},
      {3999, "NoOp"},
      {4307, "NoOp"},
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
  EXPECT_EQ(OperationName(4006), OperationName(4006));
}
