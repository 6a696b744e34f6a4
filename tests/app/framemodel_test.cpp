#include "app/framemodel.h"

#include "image/fpbuffer.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/messages.h"
#include "support/zep_test.h"

namespace {
class CountingHost : public FrameHost {
 public:
  void OpenImageWindow() override { ++windows; }
  int ImageWindowCount() const override { return windows; }
  void ShowAbout() override { ++abouts; }
  void Repaint() override { ++repaints; }
  int windows = 0, abouts = 0, repaints = 0;
};
}  // namespace

using FrameModelTest = ZepTest;

TEST_F(FrameModelTest, TenWindowsAtMost) {
  CountingHost host;
  FrameModel frame(&host);
  for (int i = 0; i < 10; ++i) frame.Dispatch(CommandId::New);
  EXPECT_EQ(host.windows, 10);
  ui.ExpectMessage("Maximum Number of Windows is 10.");
  frame.Dispatch(CommandId::New);
  EXPECT_EQ(host.windows, 10);
  --host.windows;  // one window closed
  frame.Dispatch(CommandId::New);
  EXPECT_EQ(host.windows, 10);
}

TEST_F(FrameModelTest, ResetKeepsTheReservedWordAndOptionsToggle) {
  CountingHost host;
  FrameModel frame(&host);
  Settings& s = LiveSettings();
  s.SetDefaults();
  s.reserved = 0xBEEF;
  s.autoQuery = 0;
  s.scrollAmount = 7;
  frame.Dispatch(CommandId::SetPropertiesToDefault);
  EXPECT_EQ(s.reserved, 0xBEEFu);
  EXPECT_EQ(s.autoQuery, 1);
  EXPECT_EQ(s.scrollAmount, 50);
  EXPECT_EQ(host.repaints, 1);
  EXPECT_EQ(frame.Checked(CommandId::ScrollLockMultipleWindows), 1);
  frame.Dispatch(CommandId::ScrollLockMultipleWindows);
  EXPECT_EQ(frame.Checked(CommandId::ScrollLockMultipleWindows), 0);
  EXPECT_TRUE(frame.Dispatch(CommandId::Nothing));
  EXPECT_FALSE(frame.Dispatch(CommandId::OpenImage));
}

TEST_F(FrameModelTest, PropertiesOpensTheRootPageWhateverAutoQuerySays) {
  FrameModel frame(nullptr);
  LiveSettings().SetDefaults();
  LiveSettings().autoQuery = 0;
  int shownPage = -99;
  ui.ExpectProperties([&](Dialog2& d) {
    shownPage = d.CurrentPage();
    return DialogResult::Cancel;
  });
  frame.Dispatch(CommandId::Properties);
  EXPECT_EQ(shownPage, -1);
}

TEST_F(FrameModelTest, Diagnostics) {
  EXPECT_EQ(LargestSquareBitmap(100), 255);
  EXPECT_EQ(LargestSquareBitmap(uint64_t(GetDibBytes24(1000, 1000))), 1000);
  EXPECT_EQ(LargestSquareBitmap(uint64_t(1) << 62), 99999);  // the probe's ceiling
  FrameModel frame(nullptr);
  platform.memory.availPhys = uint64_t(GetDibBytes24(2000, 2000));
  ui.ExpectMessage("2000 X 2000 Pixels\n\n4.000000 Megapixels\n\n0.012000 Gigabytes");
  frame.Dispatch(CommandId::MaximumDibSize);
  EXPECT_EQ(ui.messages.back().caption, "Approximate Maximum Possible DIB Size");
  ui.ExpectMessageStartingWith("\n\nMEMORY STATUS:\nMemory usage: 25 Percent");
  frame.Dispatch(CommandId::CurrentMemoryStatus);
  ui.ExpectMessageStartingWith("ZEP is provided \"as is\"");
  frame.Dispatch(CommandId::LegalDisclaimer);
  EXPECT_EQ(ui.messages.back().caption, "Legal Notice");
  // What the user asked to see is told as a notice, never as a failure; the memory
  // report of a failed allocation is none.
  for (const auto& m : ui.messages) EXPECT_TRUE(m.style.notice) << m.caption;
  ui.ExpectMessageStartingWith("Out of memory!");
  ShowMemoryStatus("Out of memory!");
  EXPECT_FALSE(ui.messages.back().style.notice);
  EXPECT_EQ(HomePageUrl().rfind("file://", 0), 0u);
}
