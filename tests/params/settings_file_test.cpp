// The settings file: start-up, shut-down, version reset and the validation of what is
// read.
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include "file_size_limit.h"
#include "params/fields.h"
#include "params/opnames.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {

std::string BytesOf(const Settings& s) {
  return std::string(reinterpret_cast<const char*>(&s), sizeof s);
}

class SettingsFileTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    live = std::make_unique<Settings>(DefaultSettings());
  }

  fs::path File() const { return ProgramPath(kSettingsFileName); }
  void WriteFile(const std::string& bytes) const {
    std::ofstream(File(), std::ios::binary) << bytes;
  }

  std::unique_ptr<Settings> live;
};

TEST_F(SettingsFileTest, AMissingFileGivesDefaultsAndIsCreatedAtShutDown) {
  LoadSettingsAtStartUp(*live);
  EXPECT_EQ(BytesOf(*live), BytesOf(DefaultSettings()));
  EXPECT_FALSE(fs::exists(File()));

  SaveSettingsAtShutDown(*live);
  const std::string written = ReadBytes(File());
  EXPECT_EQ(written.size(), 19544u);
  EXPECT_EQ(written, BytesOf(DefaultSettings()));
}

TEST_F(SettingsFileTest, AShortFileOfTheCurrentVersionChangesOnlyItsBytes) {
  Settings head = DefaultSettings();
  head.conditional = 0;
  head.soundOnCompletion = 1;
  head.autoQuery = 0;
  head.reserved = 0xCAFEBABE;
  head.autoMenu = 1;
  const std::string sixteen = BytesOf(head).substr(0, 16);
  WriteFile(sixteen);

  LoadSettingsAtStartUp(*live);
  const std::string now = BytesOf(*live);
  EXPECT_EQ(now.substr(0, 16), sixteen);
  EXPECT_EQ(now.substr(16), BytesOf(DefaultSettings()).substr(16));
  // The version matched, so nothing was rewritten.
  EXPECT_EQ(ReadBytes(File()), sixteen);
}

TEST_F(SettingsFileTest, AnotherVersionResetsAndRewritesKeepingTheReservedWord) {
  const uint32_t versions[] = {std::bit_cast<uint32_t>(0.0f), std::bit_cast<uint32_t>(3.6f),
                               0x7FC00001u,  // a NaN
                               std::bit_cast<uint32_t>(std::nextafter(3.7f, 4.0f))};
  for (uint32_t bits : versions) {
    SCOPED_TRACE(bits);
    Settings old = DefaultSettings();
    old.version = std::bit_cast<float>(bits);
    old.reserved = 0x12345678;
    old.file.jpegQuality = 10;
    old.program.stepCount = 3;
    WriteFile(BytesOf(old));

    *live = DefaultSettings();
    LoadSettingsAtStartUp(*live);
    Settings expected = DefaultSettings();
    expected.reserved = 0x12345678;
    EXPECT_EQ(BytesOf(*live), BytesOf(expected));
    EXPECT_EQ(ReadBytes(File()), BytesOf(expected));
  }
}

TEST_F(SettingsFileTest, AResetKeepsTheReservedWordThroughShutDown) {
  live->reserved = 77;
  live->resize.tileHeight = 200;
  live->operationList[0] = int(CommandId::Lanczos);
  live->program.stepCount = 2;
  live->ResetToDefaults();
  SaveSettingsAtShutDown(*live);

  Settings expected = DefaultSettings();
  expected.reserved = 77;
  EXPECT_EQ(ReadBytes(File()), BytesOf(expected));
}

TEST_F(SettingsFileTest, AFileRoundTripsByteForByte) {
  live->file.jpegQuality = 33;
  WriteText(*live, FieldNamed("batchSuffix"), ".Batch");
  live->resize.horizontalScaleFactor = 1.0 / 3.0;
  live->stack.stackLevelParams[2] = 12.5f;
  live->program.stepCount = 1;
  std::memset(live->program.steps[0].bytes, 0xA5, sizeof(StepParams));
  ASSERT_FALSE(live->Save(kSettingsFileName));

  auto back = std::make_unique<Settings>(DefaultSettings());
  ASSERT_FALSE(back->Load(kSettingsFileName));
  EXPECT_EQ(BytesOf(*back), BytesOf(*live));
}

// Fields a damaged or hostile file may hold: each falls back to its default, the valid
// fields around them are kept, and nothing reads outside the record.
TEST_F(SettingsFileTest, OutOfRangeFieldsOfAFileTakeTheirDefaults) {
  Settings hostile = DefaultSettings();
  hostile.operationCount = 1000;
  hostile.operationIndex = -5;
  std::memset(hostile.file.batchSuffix, 'A', sizeof hostile.file.batchSuffix);
  std::memset(hostile.program.stepNames[4], 'B', RecordedProgram::kNameSize);
  hostile.stack.hdrColorSpace = 0x1234;
  hostile.program.stepCount = 1000;
  hostile.program.capacity = 7;
  hostile.resize.xinLiBias = std::numeric_limits<float>::quiet_NaN();
  hostile.resize.horizontalScaleFactor = std::numeric_limits<double>::infinity();
  hostile.basic.controlPoints = 100;  // beyond the 31 curve values
  hostile.periodic.periodicPoints = 17;
  hostile.stack.stackScaleLevels = -1;
  hostile.deconv.customKernelHCount = 22;
  hostile.mask.queueColors = 6;
  hostile.blur.unsharpMode = 5;
  hostile.autoQuery = 7;
  hostile.program.stepIsF3[31] = 2;
  // F2/F3 as a listed operation or a step would send themselves without end.
  const int32_t f2f3[] = {int(CommandId::F2ProgrammedOperation),
                          int(CommandId::F3ProgrammedOperation),
                          int(CommandId::ShiftF2),
                          int(CommandId::CtrlF2),
                          int(CommandId::ShiftF3),
                          int(CommandId::CtrlF3)};
  for (int i = 0; i < 6; ++i) hostile.operationList[5 + i] = f2f3[i];
  hostile.program.stepIds[2] = int(CommandId::F3ProgrammedOperation);
  std::memcpy(hostile.file.batchExtension, "../x", 5);
  // Valid values that must survive.
  hostile.file.jpegQuality = 10;
  hostile.operationList[3] = int(CommandId::Lanczos);
  hostile.program.stepIds[1] = int(CommandId::XinLi);
  hostile.stack.stackLevelParams[0] = 16;
  WriteFile(BytesOf(hostile));

  LoadSettingsAtStartUp(*live);
  Settings expected = DefaultSettings();
  expected.file.jpegQuality = 10;
  expected.operationList[3] = int(CommandId::Lanczos);
  expected.program.stepIds[1] = int(CommandId::XinLi);
  expected.stack.stackLevelParams[0] = 16;
  EXPECT_EQ(BytesOf(*live), BytesOf(expected));

  // What the rest of the program indexes with these fields now stays in bounds.
  for (int i = 0; i < live->operationCount; ++i) OperationName(live->operationList[i]);
  EXPECT_LT(live->operationIndex, live->operationCount);
}

TEST_F(SettingsFileTest, TheOperationIndexMustLieInsideTheList) {
  struct Case {
    int32_t count, index, wantIndex;
  } cases[] = {{10, 9, 9}, {10, 10, 0}, {25, 24, 24}, {1, 0, 0}, {0, 0, 0}};
  for (const Case& c : cases) {
    Settings s = DefaultSettings();
    s.operationCount = c.count;
    s.operationIndex = c.index;
    s.Validate();
    EXPECT_EQ(s.operationIndex, c.wantIndex) << c.count << " " << c.index;
    EXPECT_EQ(s.operationCount, c.count < 1 ? 25 : c.count);
  }
}

TEST_F(SettingsFileTest, AnUnreadableFileChangesNothing) {
  fs::create_directory(File());  // opens, but cannot be read
  live->file.jpegQuality = 12;
  const std::string before = BytesOf(*live);
  EXPECT_TRUE(live->Load(kSettingsFileName));
  EXPECT_EQ(BytesOf(*live), before);
}

TEST_F(SettingsFileTest, AFailedWriteAtShutDownIsReportedAndKeepsThePreviousFile) {
  WriteFile("previous");
  ui.ExpectMessage("Problem writing file zep.ini");
  {
    FileSizeLimit limit(100);
    SaveSettingsAtShutDown(*live);
  }

  EXPECT_EQ(ReadBytes(File()), "previous");
  int files = 0;
  for (const auto& e : fs::directory_iterator(home)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "");  // the application's title
}

}  // namespace
