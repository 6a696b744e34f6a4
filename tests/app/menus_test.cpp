// The menu bar, the accelerators and the window's command table as views of the program's
// command table.
#include "app/menus.h"

#include <algorithm>
#include <set>
#include <string>

#include "app/imageview.h"
#include "fake_host.h"
#include "params/commands.h"
#include "params/settings.h"
#include "support/zep_test.h"

namespace {
using MenusTest = ZepTest;

TEST_F(MenusTest, TheMenuBarShowsEveryItemOfTheTableInItsOrder) {
  std::vector<int> fromTable;
  for (const CommandDescriptor& d : CommandTable()) {
    if (d.HasMenuItem()) fromTable.push_back(d.Id());
  }
  std::vector<int> shown;
  std::set<int> menus;
  for (const MenuItem& item : MenuItems()) {
    shown.push_back(item.id);
    menus.insert(item.menu);
    const CommandDescriptor* d = CommandDescriptorOf(item.id);
    ASSERT_NE(d, nullptr) << item.id;
    EXPECT_EQ(item.menu, static_cast<int>(d->menu));
    EXPECT_STREQ(item.text, d->caption);
  }
  EXPECT_EQ(shown, fromTable);
  // Every menu but the window list, which the adapter fills, has items.
  for (int m = 0; m < kMenuCount; ++m) EXPECT_EQ(menus.count(m), m == 15 ? 0u : 1u) << m;
}

TEST_F(MenusTest, HiddenKeysAreThoseOfBuiltCommands) {
  std::set<std::string> keys;
  for (const MenuItem& item : HiddenAccelerators()) {
    EXPECT_EQ(item.menu, -1);
    const CommandDescriptor* d = CommandDescriptorOf(item.id);
    ASSERT_NE(d, nullptr) << item.id;
    EXPECT_TRUE(std::string(item.key) == (d->key ? d->key : "") ||
                std::string(item.key) == (d->otherKey ? d->otherKey : ""))
        << item.id;
    EXPECT_TRUE(keys.insert(item.key).second) << item.key << " twice";
  }
  // The window's keypad toggles, the frame's Space and the second keys of the list.
  for (const char* key : {"Num+1", "Space", ",", ".", "Return", "Enter", "Ctrl+Down"}) {
    EXPECT_EQ(keys.count(key), 1u) << key;
  }
  // The rolls of the bottom layer and by ten pixels are keys of the window.
  for (const char* key : {"Shift+Left", "Ctrl+Alt+Up", "Shift+Alt+Down", "Ctrl+R"}) {
    EXPECT_EQ(keys.count(key), 1u) << key;
  }
  EXPECT_TRUE(IsFrameCommand(static_cast<int>(CommandId::Nothing)));
  EXPECT_TRUE(IsFrameCommand(static_cast<int>(CommandId::Exit)));
  // Answered by an image window when one is active.
  EXPECT_FALSE(IsFrameCommand(static_cast<int>(CommandId::SetPropertiesToDefault)));
  EXPECT_FALSE(IsFrameCommand(int(CommandId::SaveImageAs) + 1));
}

TEST_F(MenusTest, TheWindowHasARowForEachOfItsCommandsAndOnlyThose) {
  std::set<int> rows;
  for (int id : CImageView::CommandIds()) {
    rows.insert(id);
    const CommandDescriptor* d = CommandDescriptorOf(id);
    ASSERT_NE(d, nullptr) << id;
    const CommandEntry* entry = CImageView::FindCommand(id);
    // A built command can be reached: from a menu, by a key, or by the program itself.
    if (entry->handler) {
      EXPECT_TRUE(d->HasMenuItem() || d->key || d->menu == Menu::NoItem) << id;
    }
  }
  for (const CommandDescriptor& d : CommandTable()) {
    EXPECT_EQ(rows.count(d.Id()), d.enable == EnableRule::Frame ? 0u : 1u) << d.Id();
  }
}

TEST_F(MenusTest, AnUnbuiltCommandIsGreyedAndSendingItDoesNothing) {
  LiveSettings().SetDefaults();
  FakeHost host;
  CImageView v(&host);
  v.currentLayer().dim(3, 3, 0x17);
  v.currentLayer().plane[0].fill(7.0f);
  v.currentBitmap() = DisplayBitmap(3, 3);
  // Any command without a handler whose own enable rule holds for a float layer.
  int unbuilt = 0;
  for (int id : CImageView::CommandIds()) {
    if (CImageView::FindCommand(id)->handler == nullptr && v.QueryCommand(id).enabled) {
      unbuilt = id;
      break;
    }
  }
  if (unbuilt == 0) GTEST_SKIP() << "every command is built";
  EXPECT_FALSE(v.QueryMenuItem(unbuilt).enabled);
  EXPECT_FALSE(v.Dispatch(unbuilt));  // left to the frame, which has nothing for it
  EXPECT_EQ(v.currentLayer().plane[0].x[0], 7.0f);
  // A built command keeps its update handler's verdict and its check mark.
  const CommandState histogram = v.QueryMenuItem(static_cast<int>(CommandId::Histogram));
  EXPECT_TRUE(histogram.enabled);
  const CommandState condition =
      v.QueryMenuItem(static_cast<int>(CommandId::ConditionalOperations));
  EXPECT_TRUE(condition.enabled);
  EXPECT_EQ(condition.checked, 1);
}
}  // namespace

// What RegisterOperations binds (the fixture makes the call): every row is a command of
// the table, reachable from a menu item or a key unless the program sends it itself, and
// Ctrl on a command that keeps no settings selects it without running its handler.
TEST_F(MenusTest, EveryBoundCommandIsADescriptorRowWithinReach) {
  int bound = 0;
  for (int id : CImageView::CommandIds()) {
    const CommandDescriptor* d = CommandDescriptorOf(id);
    ASSERT_NE(d, nullptr) << id;
    const CommandEntry* entry = CImageView::FindCommand(id);
    if (!entry->handler) continue;
    ++bound;
    EXPECT_TRUE(d->HasMenuItem() || d->key || d->menu == Menu::NoItem) << CommandIdName(id);
  }
  EXPECT_GT(bound, 60);
  for (CommandId id : {CommandId::Lanczos, CommandId::OpenImage, CommandId::BatchOperation}) {
    EXPECT_TRUE(CImageView::FindCommand(int(id))->handler) << CommandIdName(int(id));
  }

  CImageView v;
  v.currentLayer().dim(2, 2, 0x17);
  v.currentBitmap() = DisplayBitmap(2, 2);
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::StoreZep1Fdib);  // would write the slot
  EXPECT_EQ(v.f2OperationId, CommandId::StoreZep1Fdib);
  EXPECT_FALSE(std::filesystem::exists(home / "ZEP1.FDIB"));
  EXPECT_FALSE(Flags().CtrlHeld);
}
