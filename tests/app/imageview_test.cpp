#include "app/imageview.h"

#include <array>
#include <cstring>
#include <fstream>

#include "fake_host.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {
// A window whose current layer holds a small RGB image and its bitmap.
void Load(CImageView& v, int w, int h, CSpaceCode code = 0x17) {
  fpbuffer& f = v.currentLayer();
  f.dim(w, h, 0x17);
  for (int c = 0; c < 3; ++c) f.plane[c].ramp(float(10 * c), 1.0f);
  f.convert(code);
  v.currentBitmap() = DisplayBitmap(w, h);
  f.todib(v.currentBitmap().toprow());
}

class ImageViewTest : public ZepTest {
 protected:
  void SetUp() override { ZepTest::SetUp(); }
  FakeHost host;
};
}  // namespace

TEST_F(ImageViewTest, RefreshRendersClearsFlagsAndReusesTheBitmap) {
  CImageView v(&host);
  Load(v, 4, 3);
  v.frameTitle = "photo.png  ( 1.000 KB )";
  const uint8_t* bits = v.currentBitmap().data();
  v.currentLayer().plane[0].fill(200.0f);
  Flags().F2Active = Flags().F3Active = Flags().CtrlHeld = true;
  v.RefreshDisplay(false);
  EXPECT_FALSE(Flags().F2Active || Flags().F3Active || Flags().CtrlHeld);
  EXPECT_EQ(v.currentBitmap().data(), bits);    // same size: same bitmap
  EXPECT_EQ(v.currentBitmap().row(0)[2], 200);  // red byte
  EXPECT_EQ(host.title, v.frameTitle);
  EXPECT_GE(host.invalidated, 1);

  v.currentLayer().dim(6, 2, 0x17);  // a new size: a new bitmap
  v.RefreshDisplay(false);
  EXPECT_EQ(v.currentBitmap().width(), 6);
  EXPECT_EQ(v.currentBitmap().height(), 2);
}

TEST_F(ImageViewTest, StatusPanes) {
  CImageView v(&host);
  v.UpdateStatus();  // an empty window: captions only
  EXPECT_EQ(ui.paneText[0], "Dimensions");
  EXPECT_EQ(ui.paneText[4], "Pixel Info (Left Click)");

  struct Case {
    int width;
    CSpaceCode code;
    const char* dims;
    const char* space;
    const char* letters;
  };
  const Case cases[] = {
      {12, 0x17, "  12 X 2", "RGB", "RGB"},
      {9999, 0x8000 | 5, "  9999 X 2", "LAB", "LB"},
      {10000, 0x2000 | 0xD, "10000 X 2", "CMYK", "CYK"},
      {3, 0x20000 | 7, "  3 X 2", "YCbCr", "YCbCr"},
      {3, 0x20 | 0xF, "  3 X 2", "L1", "rgbL1"},
  };
  for (const Case& c : cases) {
    Load(v, c.width, 2, c.code);
    v.pixelInfoText = "(1, 1)";
    v.UpdateStatus();
    EXPECT_EQ(ui.paneText[0], c.dims);
    EXPECT_EQ(ui.paneText[1], c.space);
    EXPECT_EQ(ui.paneText[2], c.letters) << c.space;
    EXPECT_EQ(ui.paneText[3], "Layer 1 of 1");
    EXPECT_EQ(ui.paneText[4], "(1, 1)");
  }
  v.Dispatch(CommandId::DestroyBuffers);  // Destroy Floating Point Buffers
  EXPECT_EQ(v.currentLayer().n, 0);
  EXPECT_FALSE(v.currentBitmap().empty());  // the image stays visible
  v.pixelInfoText = "(4, 5)";
  v.UpdateStatus();
  EXPECT_EQ(ui.paneText[2], "");
  EXPECT_EQ(ui.paneText[4], "(4, 5) (No FDIB)");
}

TEST_F(ImageViewTest, DisabledCommandsAreDroppedSilently) {
  CImageView v(&host);
  // Destroy Floating Point Buffers without float data: nothing happens, no message.
  EXPECT_TRUE(v.Dispatch(CommandId::DestroyFloatingPointBuffers));
  EXPECT_TRUE(host.popdowns.empty());
  Load(v, 3, 3);
  v.layers[1].dim(3, 3, 0x17);
  EXPECT_TRUE(v.QueryCommand(CommandId::DestroyFloatingPointBuffers).enabled);
  EXPECT_TRUE(v.Dispatch(CommandId::DestroyFloatingPointBuffers));
  EXPECT_EQ(v.layers[0].n + v.layers[1].n, 0);
  EXPECT_EQ(v.layers[0].code, 0x17u);
  EXPECT_EQ(host.popdowns, std::vector<int>{6});  // the Resize menu opens again
  EXPECT_FALSE(v.Dispatch(99999));                // no row: not this window's command
}

TEST_F(ImageViewTest, CtrlSelectsInsteadOfDestroying) {
  CImageView v(&host);
  Load(v, 2, 2);
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::DestroyBuffers);
  EXPECT_EQ(v.currentLayer().n, 4);
  EXPECT_EQ(v.f2OperationId, CommandId::DestroyBuffers);
  EXPECT_FALSE(Flags().CtrlHeld);
}

TEST_F(ImageViewTest, UpdateTable) {
  // Window states: empty, bitmap only, float RGB, float with mask, two layers (equal and
  // unequal sizes).
  enum State { kEmpty, kBitmap, kFloat, kMasked, kTwoEqual, kTwoUnequal };
  auto build = [](CImageView& v, State s) {
    if (s == kEmpty) return;
    Load(v, 4, 4);
    if (s == kBitmap) v.currentLayer().clear(true);
    if (s == kMasked) v.currentLayer().clearmask();
    if (s == kTwoEqual || s == kTwoUnequal) {
      v.layers[1].dim(s == kTwoEqual ? 4 : 5, 4, 0x17);
      v.bitmaps[1] = DisplayBitmap(s == kTwoEqual ? 4 : 5, 4);
    }
  };
  struct Case {
    int id;
    State state;
    bool enabled;
    int checked;
  };
  const Case cases[] = {
      {int(CommandId::Rgb), kEmpty, true, 1},
      {int(CommandId::Rgb), kFloat, true, 1},
      {int(CommandId::YCbCr), kFloat, true, 0},
      {int(CommandId::XChannel), kEmpty, false, 1},
      {int(CommandId::XChannel), kFloat, true, 1},
      {int(CommandId::CreateSecondLayer), kBitmap, true, 0},
      {int(CommandId::CreateSecondLayer), kTwoEqual, true, 1},
      {int(CommandId::SaveImageAs), kEmpty, false, -1},
      {int(CommandId::SaveImageAs), kBitmap, true, -1},
      {int(CommandId::CreateMask), kFloat, true, 0},
      {int(CommandId::CreateMask), kMasked, true, 1},
      {int(CommandId::ShowMaskedArea), kFloat, false, 0},
      {int(CommandId::ShowMaskedArea), kMasked, true, 0},
      {int(CommandId::ShowUnmaskedArea), kMasked, true, 1},
      {int(CommandId::Erode), kMasked, true, -1},
      {int(CommandId::SetForCroppingTwoLayers), kTwoEqual, true, 0},
      {int(CommandId::SetForCroppingTwoLayers), kTwoUnequal, false, 0},
      {int(CommandId::AddSubtractLayers), kTwoEqual, true, -1},
      {int(CommandId::AddSubtractLayers), kTwoUnequal, false, -1},
      {int(CommandId::ShowCombined), kFloat, false, 0},
      {int(CommandId::ShowCombined), kTwoEqual, true, 0},
      {int(CommandId::MatchCanvasSizes), kTwoUnequal, true, -1},
      {int(CommandId::DestroyFloatingPointBuffers), kEmpty, false, 1},
      {int(CommandId::DestroyFloatingPointBuffers), kBitmap, false, 1},
      {int(CommandId::DestroyFloatingPointBuffers), kFloat, true, 0},
      {int(CommandId::CreateFloatingPointBuffer), kBitmap, true, 0},
      {int(CommandId::CreateFloatingPointBuffer), kFloat, false, 1},
      {int(CommandId::Refresh), kFloat, false, -1},
      {int(CommandId::BatchOperation), kEmpty, true, -1},
      {int(CommandId::AnimateSequence), kFloat, false, -1},
      {int(CommandId::CreateNoiseProfile), kFloat, false, -1},
      {int(CommandId::DrawAvoidanceRemovalRegions), kFloat, true, -1},
      {int(CommandId::Stacking), kEmpty, true, -1},
      {int(CommandId::BlockAlignLayers), kTwoEqual, true, -1},
      {int(CommandId::BlockAlignLayers), kTwoUnequal, false, -1},
      {int(CommandId::ChangeMinimumKeepMaximum), kEmpty, false, -1},
      {int(CommandId::ChangeMinimumKeepMaximum), kFloat, true, -1},
      {int(CommandId::AutomaticQueryOfProperties), kEmpty, true, 1},
      {int(CommandId::ConditionalOperations), kEmpty, true, 1},
      {int(CommandId::SoundNotification), kEmpty, true, 0},
      {int(CommandId::AwakenSleepingMonitor), kEmpty, true, 1},
      {int(CommandId::PutMonitorToSleep), kEmpty, true, 0},
  };
  for (const Case& c : cases) {
    CImageView v(&host);
    build(v, c.state);
    const CommandState s = v.QueryCommand(c.id);
    EXPECT_EQ(s.enabled, c.enabled) << c.id << " in state " << c.state;
    EXPECT_EQ(s.checked, c.checked) << c.id << " in state " << c.state;
  }
}

TEST_F(ImageViewTest, MenuTextsOfChannelsQueueAndTexture) {
  CImageView v(&host);
  Load(v, 3, 3, 0x800 | 7);
  EXPECT_EQ(v.QueryCommand(CommandId::ZChannel).text, "Channel Z = Intensity\tNumPad 9");
  Load(v, 3, 3, 0x800000 | 7);
  EXPECT_EQ(v.QueryCommand(CommandId::YChannel).text, "Channel Y = Chroma U\tNumPad 5");
  v.queuePoints[1] = {7, 8};
  v.queueColours[1] = {1.5f, 2.25f, 3, 0};
  EXPECT_EQ(v.QueryCommand(CommandId::PointColor2).text, "Queue(2) = (7, 8)(1.50, 2.25, 3.00)");
  EXPECT_EQ(v.QueryCommand(CommandId::RecordTexture).text, "Record Texture");
  v.dragStart = {0, 0};
  v.dragEnd = {60, 40};
  EXPECT_FALSE(v.QueryCommand(CommandId::CreateNoiseProfile).enabled);
  v.dragEnd = {60, 60};
  EXPECT_TRUE(v.QueryCommand(CommandId::CreateNoiseProfile).enabled);
  v.channelView = 2;
  EXPECT_EQ(v.QueryCommand(CommandId::ViewingNormal).text, "Green->Blue\tF7");
}

TEST_F(ImageViewTest, CompletionReportAndOptions) {
  EXPECT_EQ(ElapsedText(90000), "90.00 secs, 1.50 mins., 0.03 hrs., 0.00 days");
  CImageView v(&host);
  // A window that never timed a command (a batch times nothing while it runs quietly) has
  // no time to show: not the clock's own reading.
  ui.paneText[5] = "Elapsed Time";
  v.ReportCompletion(true);
  EXPECT_EQ(v.elapsedText, "");
  EXPECT_EQ(ui.paneText[5], "Elapsed Time");

  // The time goes to its own pane, also when no status update follows (a save), and the
  // pixel information stays.
  v.startClock = platform.clock;
  platform.clock += 1500;
  ui.paneText[4] = "(3, 4)";
  v.ReportCompletion(true);
  EXPECT_EQ(ui.paneText[5], "1.50 secs, 0.03 mins., 0.00 hrs., 0.00 days");
  EXPECT_EQ(ui.paneText[4], "(3, 4)");

  Flags().Quiet = true;  // batch runs report nothing
  ui.paneText[5] = "kept";
  v.ReportCompletion(true);
  EXPECT_EQ(ui.paneText[5], "kept");
  Flags().Quiet = false;

  ui.ExpectMessageStartingWith("File, zep.wav, not found.\nPut any WAV file renamed zep.wav in ");
  v.Dispatch(CommandId::SoundNotification);
  EXPECT_EQ(LiveSettings().soundOnCompletion, 0);
  std::ofstream(ProgramPath("zep.wav")) << "RIFF";
  v.Dispatch(CommandId::SoundNotification);
  EXPECT_EQ(LiveSettings().soundOnCompletion, 1);
  v.Dispatch(CommandId::AwakenSleepingMonitor);
  EXPECT_EQ(LiveSettings().monitorWakeAtCompletion, 0);
  EXPECT_EQ(host.popdowns.back(), 13);
  Flags().F2Active = true;  // replays never open menus
  host.popdowns.clear();
  v.Dispatch(CommandId::PutMonitorToSleep);
  EXPECT_TRUE(host.popdowns.empty());
}

TEST_F(ImageViewTest, AWindowGainingTheFocusTakesTheCurrentOperationOfTheList) {
  CImageView first(&host);
  FakeHost otherHost;
  CImageView second(&otherHost);
  first.SelectOperation(CommandId::ConditionalOperations,
                        true);  // chosen with Ctrl in the first window
  EXPECT_NE(second.f2OperationId, CommandId::ConditionalOperations);
  const int captions = otherHost.captionUpdates;
  second.OnSetFocus();
  EXPECT_EQ(
      (std::array{second.f2OperationId, second.f3OperationId}),
      (std::array{int(CommandId::ConditionalOperations), int(CommandId::ConditionalOperations)}));
  EXPECT_EQ(second.operationName, "TogCond");
  EXPECT_GT(otherHost.captionUpdates, captions);  // the menu bar shows it
}

TEST_F(ImageViewTest, KeypadToggleSkipsThePopdown) {
  CImageView v(&host);
  v.Dispatch(CommandId::KeypadChannelX);
  EXPECT_TRUE(Flags().SkipPopdown);  // the channel toggle's handler comes with its command
  v.PopdownMenu(2);
  EXPECT_FALSE(Flags().SkipPopdown);
  EXPECT_TRUE(host.popdowns.empty());
}

TEST_F(ImageViewTest, OutOfMemoryEmptiesBothLayersWithItsMessage) {
  CImageView v(&host);
  Load(v, 3, 3);
  ui.ExpectMessage("Try using \"Destroy Floating Point Buffer\" option!");
  v.HandleOutOfMemory();
  EXPECT_EQ(v.layers[0].n, 0);
  EXPECT_TRUE(v.bitmaps[0].empty());
}

TEST_F(ImageViewTest, CreateFloatingPointBufferImportsTheBitmap) {
  CImageView v(&host);
  Load(v, 5, 3, 0x200 | 7);
  const fpbuffer before(v.currentLayer());
  v.currentLayer().clear(true);  // keeps HSV for the rebuild
  EXPECT_TRUE(v.QueryCommand(CommandId::CreateFloatingPointBuffer).enabled);
  v.Dispatch(CommandId::CreateFloatingPointBuffer);
  ASSERT_EQ(v.currentLayer().n, 15);
  EXPECT_EQ(v.currentLayer().code, 0x207u);
  for (int k = 0; k < 15; ++k)
    EXPECT_NEAR(v.currentLayer().plane[2].x[k], before.plane[2].x[k], 0.6f);
  EXPECT_FALSE(v.QueryCommand(CommandId::CreateFloatingPointBuffer).enabled);

  CImageView big(&host);
  big.currentBitmap() = DisplayBitmap(600, 600);
  platform.memory.availPhys = 100;  // the import cannot get its planes
  ui.ExpectMessageStartingWith("Out of memory!");
  big.Dispatch(CommandId::CreateFloatingPointBuffer);
  EXPECT_EQ(big.currentLayer().n, 0);
  EXPECT_FALSE(big.currentBitmap().empty());  // the image is still shown
}

TEST_F(ImageViewTest, ReopenDialogBoxNeverRunsTheOperation) {
  CImageView v(&host);
  Load(v, 3, 3);
  Settings& s = LiveSettings();
  s.operationList[s.operationIndex] =
      int(CommandId::DestroyBuffers);  // Destroy Floating Point Buffers is current
  s.autoQuery = 0;
  v.Dispatch(CommandId::ReopenDialogBox);
  EXPECT_EQ(v.currentLayer().n, 9);  // it only became the current operation again
  EXPECT_EQ(v.f2OperationId, CommandId::DestroyBuffers);
  EXPECT_FALSE(Flags().CtrlHeld);
  EXPECT_EQ(s.autoQuery, 0);                                       // put back
  s.operationList[s.operationIndex] = int(CommandId::RunProgram);  // Run Program: nothing at all
  v.Dispatch(CommandId::ReopenDialogBox);
  EXPECT_EQ(v.currentLayer().n, 9);
}
