#include <cstring>

#include "app/imageview.h"
#include "fake_host.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
class OperationTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    v.currentLayer().dim(4, 3, 0x17);
    for (int c = 0; c < 3; ++c) v.currentLayer().plane[c].ramp(1.0f, 1.0f);
    v.currentBitmap() = DisplayBitmap(4, 3);
  }
  // An operation that keeps the basic block and shows page 12, whose parameter is the
  // block's first float.
  bool Brighten(std::function<void(fpbuffer&)> extra = nullptr) {
    BasicParams& block = LiveSettings().basic;
    return v.RunFloatOperation(int(CommandId::MultiplyDivideByConstant), [&](fpbuffer& f) {
      float amount;
      std::memcpy(&amount, &block, sizeof amount);
      for (int c = 0; c < 3; ++c) f.plane[c].addscalar(amount);
      if (extra) extra(f);
    });
  }
  void SetAmount(float a) { std::memcpy(&LiveSettings().basic, &a, sizeof a); }
  float Pixel() { return v.currentLayer().plane[0].x[0]; }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(OperationTest, AutoQueryOffRunsAtOnceAndCtrlOnlySelects) {
  LiveSettings().autoQuery = 0;
  SetAmount(10.0f);
  EXPECT_TRUE(Brighten());
  EXPECT_EQ(Pixel(), 11.0f);
  Flags().CtrlHeld = true;
  EXPECT_FALSE(Brighten());
  EXPECT_EQ(Pixel(), 11.0f);  // unchanged: the command only became the F2/F3 operation
  EXPECT_EQ(v.f2OperationId, CommandId::MultiplyDivideByConstant);
  EXPECT_FALSE(Flags().CtrlHeld);
}

TEST_F(OperationTest, PageShownWithAutoQueryAndCancelStops) {
  SetAmount(5.0f);
  ui.ExpectProperties(CancelOn(12));
  EXPECT_FALSE(Brighten());
  EXPECT_EQ(Pixel(), 1.0f);
  ui.ExpectProperties([](Dialog2&) { return DialogResult::Ok; });
  EXPECT_TRUE(Brighten());
  EXPECT_EQ(Pixel(), 6.0f);
  EXPECT_FALSE(Flags().F2Active || Flags().F3Active || Flags().CtrlHeld);
}

TEST_F(OperationTest, RecordingAndPlayingCopyTheBlock) {
  // The parameter is the add/subtract constant, accepted in (0, 1].
  Settings& s = LiveSettings();
  SetAmount(0.25f);
  Flags().F2Active = true;
  Flags().Recording = true;
  s.program.stepCount = 2;
  EXPECT_TRUE(Brighten());
  float stored;
  std::memcpy(&stored, s.program.steps[2].bytes, sizeof stored);
  EXPECT_EQ(stored, 0.25f);
  Flags().Recording = false;

  SetAmount(1.0f);
  Flags().F3Active = true;
  Flags().Playing = true;
  Flags().PlayStep = 2;
  EXPECT_TRUE(Brighten());
  EXPECT_EQ(Pixel(), 1.5f);  // 1 + 0.25 (recorded) + 0.25 (played back)

  // A snapshot from a program file holding a value the page would refuse is played with
  // the default instead.
  const float bad = 3.0f;
  std::memcpy(s.program.steps[2].bytes, &bad, sizeof bad);
  Flags().F2Active = true;
  EXPECT_TRUE(Brighten());
  float now;
  std::memcpy(&now, &s.basic, sizeof now);
  EXPECT_EQ(now, DefaultSettings().basic.addSubtractConstant);
}

TEST_F(OperationTest, OnlyAFinishedOperationReportsItsTimeAndSound) {
  // Hears the completion sound.
  class SoundUi : public ScriptedUi {
   public:
    void PlaySoundFile(const std::string& path) override { sounds.push_back(path); }
    std::vector<std::string> sounds;
  } screen;
  LiveSettings().autoQuery = 0;
  LiveSettings().soundOnCompletion = 1;
  SetAmount(1.0f);
  struct Case {
    const char* how;
    std::function<void()> end;
    const char* elapsed;
  } cases[] = {
      {"cancelled", [] { throw Cancelled{}; }, ""},
      {"failed", [] { throw TextException("Singular Matrix"); }, ""},
      {"finished", [] {}, "2.00 secs, 0.03 mins., 0.00 hrs., 0.00 days"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    v.elapsedText.clear();
    screen.sounds.clear();
    if (std::string(c.how) == "failed") screen.ExpectMessage("Singular Matrix");
    Brighten([&](fpbuffer&) {
      platform.clock += 2000;
      c.end();
    });
    EXPECT_EQ(v.elapsedText, c.elapsed);
    EXPECT_EQ(screen.paneText[5], c.elapsed);
    EXPECT_EQ(screen.sounds.size(), *c.elapsed ? 1u : 0u);
    EXPECT_FALSE(v.currentBitmap().empty());  // shown again either way
  }
}

TEST_F(OperationTest, CancelAndFailureKeepTheImageBefore) {
  LiveSettings().autoQuery = 0;
  SetAmount(50.0f);
  EXPECT_FALSE(Brighten([](fpbuffer&) { throw Cancelled{}; }));
  EXPECT_EQ(Pixel(), 1.0f);
  EXPECT_FALSE(Flags().CtrlHeld);
  ui.ExpectMessage("Singular Matrix");
  EXPECT_FALSE(Brighten([](fpbuffer&) { throw TextException("Singular Matrix"); }));
  EXPECT_EQ(Pixel(), 1.0f);
  ui.ExpectMessage("Try using \"Destroy Floating Point Buffer\" option!");
  EXPECT_FALSE(Brighten([](fpbuffer& f) {
    f.dim(9, 9, 0x17);  // a half-finished change of size
    throw OutOfMemory();
  }));
  EXPECT_EQ(v.currentLayer().width, 4);
  EXPECT_EQ(Pixel(), 1.0f);
  EXPECT_FALSE(v.currentBitmap().empty());

  // With no room for a copy in memory the image is parked in a scratch file.
  platform.memory.availPhys = 10;
  EXPECT_FALSE(Brighten([](fpbuffer&) { throw Cancelled{}; }));
  EXPECT_EQ(Pixel(), 1.0f);
}
