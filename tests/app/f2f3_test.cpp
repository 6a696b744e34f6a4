#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/imageview.h"
#include "fake_host.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
class F2F3Test : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    v.currentLayer().dim(3, 3, 0x17);
    v.currentBitmap() = DisplayBitmap(3, 3);
  }
  std::string StepName(int i) { return LiveSettings().program.stepNames[i]; }
  int Count(int pane, const std::string& text) {
    return int(std::count(ui.paneHistory.begin(), ui.paneHistory.end(),
                          std::pair<int, std::string>(pane, text)));
  }
  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(F2F3Test, OperationListPushesMovesAndDrops) {
  Settings& s = LiveSettings();
  for (int id = 5000; id < 5025; ++id) v.SelectOperation(id, true);
  EXPECT_EQ(s.operationList[0], 5024);
  EXPECT_EQ(s.operationList[24], 5000);
  v.SelectOperation(5010, true);  // listed: only the check mark moves
  EXPECT_EQ(s.operationIndex, 14);
  EXPECT_EQ(s.operationList[0], 5024);
  v.SelectOperation(6000, true);  // new: enters at the top, the oldest falls off
  EXPECT_EQ(s.operationList[0], 6000);
  EXPECT_EQ(s.operationList[24], 5001);
  EXPECT_EQ(s.operationIndex, 0);
  EXPECT_EQ(v.f2OperationId, 6000);

  v.Dispatch(CommandId::NextOperation);  // Next on the newest stays
  EXPECT_EQ(s.operationIndex, 0);
  s.operationIndex = 24;
  v.Dispatch(CommandId::PriorOperation);  // Prior on the oldest stays
  EXPECT_EQ(s.operationIndex, 24);
  EXPECT_EQ(v.f2OperationId, 5001);

  s.operationList[1] = int(CommandId::DestroyBuffers);
  const CommandState entry = v.QueryCommand(CommandId::OperationEntry2);
  EXPECT_EQ(entry.text, std::string(" 2. ") + OperationName(int(CommandId::DestroyBuffers)));
  EXPECT_EQ(entry.checked, 0);
  v.Dispatch(CommandId::OperationEntry2);
  EXPECT_EQ(s.operationIndex, 1);
  EXPECT_EQ(v.QueryCommand(CommandId::OperationEntry2).checked, 1);
}

TEST_F(F2F3Test, DeletingEntries) {
  Settings& s = LiveSettings();
  for (int i = 0; i < 25; ++i) s.operationList[i] = int(CommandId::NoOp);
  s.operationList[0] = int(CommandId::DestroyBuffers);
  s.operationList[1] = int(CommandId::CreateFloatingPointBuffer);
  s.operationIndex = 0;
  v.Dispatch(
      CommandId::DeleteCheckedOp);  // the next older command takes its place, and the menu re-opens
  EXPECT_EQ(s.operationList[0], CommandId::CreateFloatingPointBuffer);
  EXPECT_EQ(v.f2OperationId, CommandId::CreateFloatingPointBuffer);
  EXPECT_EQ(host.popdowns.back(), 18);
  host.popdowns.clear();
  v.Dispatch(CommandId::DeleteCheckedOp);  // the last one: NoOp, no re-opening
  EXPECT_EQ(s.operationList[0], CommandId::NoOp);
  EXPECT_EQ(v.operationName, "NoOp");
  EXPECT_TRUE(host.popdowns.empty());
  s.operationList[3] = int(CommandId::DestroyBuffers);
  v.Dispatch(CommandId::DeleteAllOps);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(s.operationList[i], CommandId::NoOp);
  v.Dispatch(CommandId::F2ProgrammedOperation);  // F2 on NoOp does nothing
  EXPECT_EQ(v.currentLayer().n, 9);
}

TEST_F(F2F3Test, F2RunsTheCurrentOperationWithoutItsPage) {
  v.SelectOperation(CommandId::DestroyBuffers, true);  // Destroy Floating Point Buffers
  v.Dispatch(CommandId::F2ProgrammedOperation);
  EXPECT_EQ(v.currentLayer().n, 0);
  EXPECT_FALSE(Flags().F2Active);
  EXPECT_FALSE(v.QueryCommand(CommandId::F3ProgrammedOperation).enabled);  // F3 needs a float image
}

TEST_F(F2F3Test, UnitModifiers) {
  EXPECT_DOUBLE_EQ(ApplyModifierScale(5.0f), 5.0);
  Flags().CtrlVariant = true;
  EXPECT_DOUBLE_EQ(ApplyModifierScale(5.0f), 0.5);
  EXPECT_DOUBLE_EQ(ApplyModifierPower(2.0f), std::pow(2.0, 0.1));
  EXPECT_DOUBLE_EQ(ApplyModifierInversePower(2.0f), 1024.0);
  Flags().ShiftVariant = true;  // Ctrl wins
  EXPECT_DOUBLE_EQ(ApplyModifierScale(5.0f), 0.5);
  Flags().CtrlVariant = false;
  EXPECT_DOUBLE_EQ(ApplyModifierScale(5.0f), 50.0);
  EXPECT_DOUBLE_EQ(ApplyModifierPower(2.0f), 1024.0);
}

TEST_F(F2F3Test, RecordingAppendsStepsAndEndingRestoresTheSettings) {
  Settings& s = LiveSettings();
  s.scrollAmount = 11;
  v.Dispatch(CommandId::RecordProgram);  // start recording
  EXPECT_TRUE(Flags().Recording);
  EXPECT_TRUE(v.QueryCommand(CommandId::DeleteLastStep).enabled);
  EXPECT_FALSE(v.QueryCommand(CommandId::RunProgram).enabled);  // no running while recording
  s.scrollAmount = 99;                                          // changed while recording

  v.SelectOperation(CommandId::AutomaticQueryOfProperties,
                    true);  // Automatic Query, always enabled
  v.Dispatch(CommandId::F2ProgrammedOperation);
  v.Dispatch(CommandId::CtrlF2);  // Ctrl+F2
  EXPECT_EQ(s.program.stepCount, 2);
  EXPECT_EQ(StepName(0),
            std::string(OperationName(int(CommandId::AutomaticQueryOfProperties))) + " (F2)");
  EXPECT_EQ(StepName(1),
            std::string(OperationName(int(CommandId::AutomaticQueryOfProperties))) + " (Ctl+F2)");
  EXPECT_EQ(s.program.stepCtrl[1], 1);
  EXPECT_FALSE(Flags().CtrlVariant);

  v.SelectOperation(CommandId::MaskByColor, true);  // Mask by Color: repeated presses are one step
  for (int i = 0; i < 3; ++i) v.Dispatch(CommandId::F3ProgrammedOperation);
  EXPECT_EQ(s.program.stepCount, 3);
  EXPECT_EQ(StepName(2), std::string(OperationName(int(CommandId::MaskByColor))) + " (F3)");
  EXPECT_EQ(s.program.stepIsF3[2], 1);

  v.Dispatch(CommandId::DeleteLastStep);  // Delete Last Step
  EXPECT_EQ(s.program.stepCount, 2);
  EXPECT_EQ(StepName(2), "NoOp");

  ui.ExpectProperties(CancelOn(101));  // not ending: recording goes on
  v.Dispatch(CommandId::RecordProgram);
  EXPECT_TRUE(Flags().Recording);
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(CommandId::RecordProgram);
  EXPECT_FALSE(Flags().Recording);
  EXPECT_EQ(s.scrollAmount, 11);      // back to the value of before the recording
  EXPECT_EQ(s.program.stepCount, 2);  // the program stays
  EXPECT_EQ(v.f2OperationId, CommandId::RunProgram);
}

TEST_F(F2F3Test, RunningAProgramReportsItsStepsAndRestoresEverything) {
  Settings& s = LiveSettings();
  RecordedProgram& p = s.program;
  p.stepCount = 2;
  p.stepIds[0] = p.stepIds[1] =
      int(CommandId::AutomaticQueryOfProperties);  // each step toggles autoQuery
  const uint8_t autoQuery = s.autoQuery;
  v.Dispatch(CommandId::RunProgram);
  const auto at = [&](const char* text) {
    return std::find(ui.paneHistory.begin(), ui.paneHistory.end(),
                     std::pair<int, std::string>(4, text)) -
           ui.paneHistory.begin();
  };
  EXPECT_LT(at("Processing step 1 of 2"), at("Processing step 2 of 2"));
  EXPECT_LT(at("Processing step 2 of 2"), at("Finished"));
  EXPECT_EQ(Count(4, "Processing step 3 of 2"), 0);
  EXPECT_EQ(v.pixelInfoText, "Finished");
  EXPECT_EQ(s.autoQuery, autoQuery);
  EXPECT_FALSE(Flags().Playing || Flags().F2Active || Flags().F3Active);

  v.pixelInfoText = "Processed 3 of 9";  // inside a batch the prefix stays
  v.Dispatch(CommandId::RunProgram);
  EXPECT_EQ(v.pixelInfoText, "Processed 3 of 9, Finished");

  Flags().CtrlHeld = true;  // Ctrl only selects
  v.Dispatch(CommandId::RunProgram);
  EXPECT_EQ(v.f2OperationId, CommandId::RunProgram);
}

TEST_F(F2F3Test, AFullProgramStopsRecording) {
  Settings& s = LiveSettings();
  v.Dispatch(CommandId::RecordProgram);
  s.program.stepCount = 32;
  v.SelectOperation(CommandId::AutomaticQueryOfProperties, true);
  ui.ExpectMessage("Number of operations (32) has been exceeded");
  ui.ExpectProperties(TypeAndOk(101));
  v.Dispatch(CommandId::F2ProgrammedOperation);
  EXPECT_EQ(ui.messages.front().caption, "No Longer Recording");
  EXPECT_FALSE(Flags().Recording);
  EXPECT_EQ(s.program.stepCount, 32);
}

TEST_F(F2F3Test, ConditionalAndOtherDefaults) {
  Settings& s = LiveSettings();
  v.Dispatch(CommandId::ConditionalOperations);
  EXPECT_EQ(s.conditional, 0);
  v.layers[1].dim(3, 3, 0x17);
  v.bitmaps[1] = DisplayBitmap(3, 3);
  v.current = 1;
  v.currentLayer().convert(0x200 | 7);
  v.Dispatch(CommandId::SetOtherDefaults);  // Set Other Defaults
  EXPECT_FALSE(v.Layer2Exists());
  EXPECT_EQ(v.current, 0);
  EXPECT_EQ(s.conditional, 1);
  EXPECT_EQ(v.currentLayer().code, 0x17u);
  s.reserved = 7;
  s.scrollAmount = 3;
  v.Dispatch(CommandId::SetPropertiesToDefault);
  EXPECT_EQ(s.scrollAmount, 50);
  EXPECT_EQ(s.reserved, 7u);
}

TEST_F(F2F3Test, StepsTakeTheirSnapshotAtThePress) {
  Settings& s = LiveSettings();
  v.Dispatch(CommandId::RecordProgram);
  s.resize.outputWidth = 321;
  // Stair Interpolation is now disabled: its step is kept all the same.
  v.currentLayer().clear(false);
  v.SelectOperation(CommandId::StairInterpolation, true);
  v.Dispatch(CommandId::F2ProgrammedOperation);
  ASSERT_EQ(s.program.stepCount, 1);
  ResizeParams recorded;
  std::memcpy(&recorded, s.program.steps[0].bytes, sizeof recorded);
  EXPECT_EQ(recorded.outputWidth, 321);
  EXPECT_EQ(std::memcmp(&recorded, &s.resize, sizeof recorded), 0);
}

TEST_F(F2F3Test, ASlotReusedByAShorterStepKeepsNothingOfTheEarlierRecording) {
  Settings& s = LiveSettings();
  std::memset(s.program.steps[0].bytes, 0xA5, sizeof s.program.steps[0].bytes);
  v.Dispatch(CommandId::RecordProgram);
  // Automatic Query keeps no settings in its step: the whole slot must read as zeros, or
  // a saved program would carry the earlier recording's bytes.
  v.SelectOperation(CommandId::AutomaticQueryOfProperties, true);
  v.Dispatch(CommandId::F2ProgrammedOperation);
  ASSERT_EQ(s.program.stepCount, 1);
  const auto& bytes = s.program.steps[0].bytes;
  EXPECT_TRUE(std::all_of(std::begin(bytes), std::end(bytes), [](uint8_t b) { return b == 0; }));
}

TEST_F(F2F3Test, ProgramCommandsInsideAProgramAreSkipped) {
  RecordedProgram& p = LiveSettings().program;
  p.stepCount = 3;
  p.stepIds[0] = int(CommandId::AutomaticQueryOfProperties);
  p.stepIds[1] = int(CommandId::RunProgram);  // Run Program inside a program: never recursed into
  std::strcpy(p.stepNames[1], "Run Prog (F2)");
  p.stepIds[2] = int(CommandId::AutomaticQueryOfProperties);
  const uint8_t autoQuery = LiveSettings().autoQuery;
  v.Dispatch(CommandId::RunProgram);
  EXPECT_EQ(Count(4, "Skipped step 2: Run Prog (F2)"), 1);
  EXPECT_EQ(v.pixelInfoText, "Finished");
  EXPECT_EQ(LiveSettings().autoQuery, autoQuery);
}

namespace {
FileDialogAnswer Chosen(const std::string& path) {
  FileDialogAnswer a;
  a.ok = true;
  a.path = path;
  a.extensionTyped = true;
  return a;
}
}  // namespace

TEST_F(F2F3Test, ProgramFilesRoundTripAndHostileOnesAreRefused) {
  Settings& s = LiveSettings();
  RecordedProgram& p = s.program;
  p.stepCount = 2;
  p.stepIds[0] = int(CommandId::AutomaticQueryOfProperties);
  p.stepIds[1] = int(CommandId::Bilinear);
  std::strcpy(p.stepNames[1], "Bilinear (F2)");
  const std::string first = (home / "a.ZEP").string();
  ui.ExpectSaveDialog(Chosen(first));
  v.Dispatch(CommandId::SaveProgram);
  EXPECT_EQ(std::filesystem::file_size(first), RecordedProgram::kSize);
  EXPECT_EQ(v.programFileName, first);

  const std::string good = ReadBytes(first);
  p.stepCount = 0;
  s.autoQuery = 0;
  ui.ExpectOpenDialog(Chosen(first));
  v.Dispatch(CommandId::LoadProgram);
  EXPECT_EQ(p.stepCount, 2);
  EXPECT_EQ(v.f2OperationId, CommandId::RunProgram);
  const std::string second = (home / "b").string();
  FileDialogAnswer noExtension = Chosen(second);
  noExtension.extensionTyped = false;
  ui.ExpectSaveDialog(noExtension);
  v.Dispatch(CommandId::SaveProgram);
  EXPECT_TRUE(ReadBytes(second + ".ZEP") == good);  // save, load, save: the same bytes

  struct Case {
    const char* name;
    size_t offset;
    std::string bytes;
  };
  auto word = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const Case cases[] = {
      {"step count 99", 4, word(99)},
      {"capacity 31", 0, word(31)},
      {"unterminated name", 8, std::string(50, 'x')},
      {"unknown command", 1608 + 4, word(123456)},
      {"flag 7", 1736, std::string(1, '\7')},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    bytes.replace(c.offset, c.bytes.size(), c.bytes);
    const std::string path = (home / "bad.ZEP").string();
    std::ofstream(path, std::ios::binary) << bytes;
    ui.ExpectOpenDialog(Chosen(path));
    ui.ExpectMessage("Problem Reading File!");
    v.Dispatch(CommandId::LoadProgram);
    EXPECT_EQ(ui.messages.back().caption, path) << c.name;
    EXPECT_EQ(p.stepCount, 2) << c.name;  // the old program stays
    EXPECT_EQ(p.stepIds[1], CommandId::Bilinear) << c.name;
  }
  std::ofstream(home / "short.ZEP", std::ios::binary) << good.substr(0, 100);
  ui.ExpectOpenDialog(Chosen((home / "short.ZEP").string()));
  ui.ExpectMessage("Problem Reading File!");
  v.Dispatch(CommandId::LoadProgram);
  EXPECT_EQ(p.stepCount, 2);
}

namespace {
// Little-endian words into a file image, at the offsets of the record layouts.
void PutWord(std::string& bytes, size_t at, int32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = char(uint32_t(value) >> (8 * i) & 0xFF);
}

// A program file of three steps: Automatic Query, the given step, Automatic Query.
std::string ProgramFileWithStep(int32_t id, const char* name) {
  std::string bytes(RecordedProgram::kSize, '\0');
  PutWord(bytes, 0, 32);  // capacity
  PutWord(bytes, 4, 3);   // step count
  for (int k = 0; k < RecordedProgram::kSlots; ++k) {
    bytes.replace(8 + 50 * size_t(k), 4, "NoOp");
    PutWord(bytes, 1608 + 4 * size_t(k), int(CommandId::NoOp));
  }
  const std::string aq = "AQ (F2)";
  for (size_t k : {0u, 2u}) {
    bytes.replace(8 + 50 * k, aq.size(), aq);
    PutWord(bytes, 1608 + 4 * k, int(CommandId::AutomaticQueryOfProperties));
  }
  bytes.replace(8 + 50, std::strlen(name) + 1, std::string(name) + '\0');
  PutWord(bytes, 1608 + 4, id);
  return bytes;
}
}  // namespace

// As the current operation, F2 and F3 would send themselves without end.
TEST_F(F2F3Test, F2AndF3NeverSendThemselves) {
  Settings& s = LiveSettings();
  for (int self : {int(CommandId::F2ProgrammedOperation), int(CommandId::F3ProgrammedOperation),
                   int(CommandId::ShiftF2), int(CommandId::CtrlF2), int(CommandId::ShiftF3),
                   int(CommandId::CtrlF3)}) {
    s.operationList[0] = self;  // as a file that was not checked would leave it
    v.SelectListEntry(1);
    for (int press : {int(CommandId::F2ProgrammedOperation), int(CommandId::F3ProgrammedOperation),
                      int(CommandId::ShiftF2), int(CommandId::CtrlF2), int(CommandId::ShiftF3),
                      int(CommandId::CtrlF3)}) {
      v.Dispatch(press);
      EXPECT_FALSE(Flags().F2Active || Flags().F3Active || Flags().CtrlVariant ||
                   Flags().ShiftVariant)
          << self << " " << press;
    }
    v.Dispatch(CommandId::ReopenDialogBox);  // Reopen Dialog Box sends the current operation too
    // Nor is such a press recorded as a step.
    v.Dispatch(CommandId::RecordProgram);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    v.Dispatch(CommandId::CtrlF3);
    EXPECT_EQ(s.program.stepCount, 0) << self;
    ui.ExpectProperties(TypeAndOk(101));
    v.Dispatch(CommandId::RecordProgram);
  }
  EXPECT_EQ(v.currentLayer().n, 9);
}

TEST_F(F2F3Test, AProgramFileWithAnF2StepIsRefusedOrRunsWithoutIt) {
  Settings& s = LiveSettings();
  s.autoQuery = 0;
  v.SelectOperation(CommandId::RunProgram,
                    true);  // F2 would run the program, which would press F2 ...
  const std::string path = (home / "f2.ZEP").string();
  std::ofstream(path, std::ios::binary)
      << ProgramFileWithStep(int(CommandId::F2ProgrammedOperation), "F2 (F2)");
  ui.ExpectOpenDialog(Chosen(path));
  ui.ExpectMessage("Problem Reading File!");
  v.Dispatch(CommandId::LoadProgram);  // Load Program takes a program whole or not at all
  EXPECT_EQ(s.program.stepCount, 0);

  // The settings record's reader puts the step back to the empty command.
  ASSERT_FALSE(s.program.Load(path));
  EXPECT_EQ(s.program.stepCount, 3);
  EXPECT_EQ(s.program.stepIds[1], RecordedProgram::kEmptyId);
  v.Dispatch(CommandId::RunProgram);
  const int lastStepShown = Count(4, "Processing step 3 of 3");
  EXPECT_GT(lastStepShown, 0);
  EXPECT_EQ(v.pixelInfoText, "Finished");

  // A step held in memory is skipped like the program commands.
  s.program.stepIds[1] = int(CommandId::ShiftF3);
  v.Dispatch(CommandId::F2ProgrammedOperation);
  EXPECT_GT(Count(4, "Skipped step 2: F2 (F2)"), 0);
  EXPECT_EQ(Count(4, "Processing step 3 of 3"), 2 * lastStepShown);
  EXPECT_EQ(v.pixelInfoText, "Finished");
}

TEST_F(F2F3Test, ASettingsFileListingF3LosesTheEntryAndF3DoesNothing) {
  std::string bytes(reinterpret_cast<const char*>(&DefaultSettings()), Settings::kSize);
  PutWord(bytes, 16, int(CommandId::F3ProgrammedOperation));           // operationList[0]
  PutWord(bytes, 20, int(CommandId::AutomaticQueryOfProperties));      // operationList[1]
  PutWord(bytes, 24, int(CommandId::ShiftF2));                         // operationList[2]
  PutWord(bytes, 1784 + 1608, int(CommandId::F2ProgrammedOperation));  // program step 0
  PutWord(bytes, 1784 + 4, 1);                                         // one step
  std::ofstream(ProgramPath(kSettingsFileName), std::ios::binary) << bytes;
  Settings& s = LiveSettings();
  LoadSettingsAtStartUp(s);
  EXPECT_EQ(s.operationList[0], 0);
  EXPECT_EQ(s.operationList[1], CommandId::AutomaticQueryOfProperties);
  EXPECT_EQ(s.operationList[2], 0);
  EXPECT_EQ(s.program.stepIds[0], RecordedProgram::kEmptyId);
  CImageView fresh{&host};
  fresh.currentLayer().dim(3, 3, 0x17);
  fresh.currentBitmap() = DisplayBitmap(3, 3);
  for (int press : {int(CommandId::F2ProgrammedOperation), int(CommandId::F3ProgrammedOperation),
                    int(CommandId::CtrlF2)})
    fresh.Dispatch(press);
  fresh.Dispatch(CommandId::RunProgram);
  EXPECT_EQ(fresh.pixelInfoText, "Finished");
  EXPECT_GT(Count(4, "Processing step 1 of 1"), 0);
  EXPECT_EQ(s.operationList[0], 0);
}
