// Program files and zep.ini made byte by byte from their layouts, as an earlier build of
// the program wrote them: they load, replay through the dispatcher and save back to the
// same bytes.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {
// The program layout: the file is the record's program block, with no header.
constexpr size_t kCount = 4, kNames = 8, kNameSize = 50, kIds = 1608, kSteps = 1832,
                 kStepSize = 464;
// ResizeParams starts at 688 of the settings record; a step keeps the whole block, so a
// field sits at its record offset less 688 inside the snapshot.
constexpr size_t kResize = 688;
constexpr size_t kOutputWidth = 744 - kResize, kScaleX = 752 - kResize, kScaleY = 760 - kResize,
                 kPrecedence = 784 - kResize;

template <typename T>
void Put(std::string& bytes, size_t at, T value) {
  unsigned char raw[sizeof value];
  std::memcpy(raw, &value, sizeof value);  // the layouts are little-endian, as this machine
  bytes.replace(at, sizeof value, reinterpret_cast<const char*>(raw), sizeof value);
}

struct Step {
  CommandId id;
  const char* name;
  double scaleX, scaleY;
};

// A program of the given resize steps, each keeping a resize block that scales (mode 6).
// The empty slots are as the program's reset leaves them.
std::string ProgramBytes(const std::vector<Step>& steps) {
  std::string bytes(RecordedProgram::kSize, '\0');
  Put<int32_t>(bytes, 0, 32);
  Put<int32_t>(bytes, kCount, int32_t(steps.size()));
  std::string block(kStepSize, '\0');
  std::memcpy(block.data(), &DefaultSettings().resize, sizeof(ResizeParams));
  for (size_t k = 0; k < RecordedProgram::kSlots; ++k) {
    const bool used = k < steps.size();
    const std::string name = used ? steps[k].name : "NoOp";
    bytes.replace(kNames + kNameSize * k, name.size(), name);
    Put<int32_t>(bytes, kIds + 4 * k, int32_t(used ? steps[k].id : CommandId::NoOp));
    if (!used) continue;
    Put<int32_t>(block, kPrecedence, 6);
    Put<int32_t>(block, kOutputWidth, 999);  // unused by mode 6
    Put<double>(block, kScaleX, steps[k].scaleX);
    Put<double>(block, kScaleY, steps[k].scaleY);
    bytes.replace(kSteps + kStepSize * k, kStepSize, block);
  }
  return bytes;
}

const std::vector<Step> kSteps2 = {{CommandId::Lanczos, "Lanczos (F2)", 2.0, 2.0},
                                   {CommandId::Bilinear, "Bilinear (F2)", 0.5, 1.5}};

class ProgramReplayTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }
  // A 10 x 6 ramp, different in each channel, as float image and bitmap.
  static void Draw(CImageView& v) {
    fpbuffer& layer = v.currentLayer();
    layer.dim(10, 6, 0x17);
    for (int c = 0; c < 3; ++c) layer.plane[c].ramp(float(40 * c), float(3 - c));
    v.currentBitmap() = DisplayBitmap(10, 6);
    layer.todib(v.currentBitmap().toprow());
  }
  static std::string Pixels(CImageView& v) {
    const DisplayBitmap& b = v.currentBitmap();
    return std::string(reinterpret_cast<const char*>(b.data()), size_t(b.bytes()));
  }
  // The steps run one by one as F2 presses with their blocks set by hand: what a replay
  // must give.
  std::string Expected() {
    CImageView w(&host);
    Draw(w);
    const ResizeParams saved = LiveSettings().resize;
    for (const Step& s : kSteps2) {
      LiveSettings().resize.precedence = 6;
      LiveSettings().resize.outputWidth = 999;
      LiveSettings().resize.horizontalScaleFactor = s.scaleX;
      LiveSettings().resize.verticalScaleFactor = s.scaleY;
      Flags().F2Active = true;
      w.Dispatch(s.id);
    }
    LiveSettings().resize = saved;
    EXPECT_EQ(w.currentBitmap().width(), 10);
    EXPECT_EQ(w.currentBitmap().height(), 18);
    return Pixels(w);
  }
  // Runs the live program on a fresh picture.
  std::string Replay() {
    CImageView w(&host);
    Draw(w);
    w.Dispatch(CommandId::RunProgram);
    EXPECT_EQ(w.currentBitmap().width(), 10);
    EXPECT_EQ(w.currentBitmap().height(), 18);
    return Pixels(w);
  }

  FakeHost host;
};
}  // namespace

TEST_F(ProgramReplayTest, AnOldProgramFileLoadsReplaysAndSavesBackToItsBytes) {
  const std::string bytes = ProgramBytes(kSteps2);
  const std::string path = (home / "old.ZEP").string();
  std::ofstream(path, std::ios::binary) << bytes;
  const std::string expected = Expected();

  LiveSettings().resize.horizontalScaleFactor = 3.0;  // the snapshots must win over this
  CImageView v(&host);
  ui.ExpectOpenDialog({true, path, 1, true});
  v.Dispatch(CommandId::LoadProgram);
  ASSERT_EQ(LiveSettings().program.stepCount, 2);
  EXPECT_EQ(LiveSettings().program.stepIds[1], CommandId::Bilinear);
  EXPECT_EQ(Replay(), expected);
  EXPECT_EQ(LiveSettings().resize.horizontalScaleFactor, 3.0);  // the run gives it back

  const std::string again = (home / "again.ZEP").string();
  ui.ExpectSaveDialog({true, again, 1, true});
  v.Dispatch(CommandId::SaveProgram);
  EXPECT_TRUE(ReadBytes(again) == bytes);
}

TEST_F(ProgramReplayTest, AnOldSettingsFileLoadsReplaysItsProgramAndSavesBackToItsBytes) {
  const std::string expected = Expected();
  std::string record(reinterpret_cast<const char*>(&DefaultSettings()), Settings::kSize);
  record.replace(RecordedProgram::kOffset, RecordedProgram::kSize, ProgramBytes(kSteps2));
  Put<double>(record, 752, 3.0);  // the live resize block's horizontal scale
  Put<int32_t>(record, 784, 6);   // and its mode
  std::ofstream(ProgramPath(kSettingsFileName), std::ios::binary) << record;

  Settings& live = LiveSettings();
  LoadSettingsAtStartUp(live);
  EXPECT_EQ(live.resize.horizontalScaleFactor, 3.0);
  EXPECT_EQ(live.resize.precedence, 6);
  ASSERT_EQ(live.program.stepCount, 2);
  EXPECT_EQ(Replay(), expected);

  SaveSettingsAtShutDown(live);
  EXPECT_TRUE(ReadBytes(ProgramPath(kSettingsFileName)) == record);
}
