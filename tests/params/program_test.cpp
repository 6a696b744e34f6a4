// Program files: the raw 16,680-byte program block, written safely and checked when read.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "file_size_limit.h"
#include "params/settings.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {

std::string BytesOf(const RecordedProgram& p) {
  return std::string(reinterpret_cast<const char*>(&p), sizeof p);
}

class ProgramFileTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    program = std::make_unique<RecordedProgram>(DefaultSettings().program);
    path = (home / "steps.ZEP").string();
  }
  void WriteFile(const std::string& bytes) const { std::ofstream(path, std::ios::binary) << bytes; }

  std::unique_ptr<RecordedProgram> program;
  std::string path;
};

TEST_F(ProgramFileTest, AProgramRoundTripsThroughItsFileByteForByte) {
  program->stepCount = 2;
  std::strcpy(program->stepNames[0], "Lanczos (F2)");
  program->stepIds[0] = int(CommandId::Lanczos);
  std::strcpy(program->stepNames[1], "Gamma (Ctl+F3)");
  program->stepIds[1] = int(CommandId::GammaAdjustment);
  program->stepIsF3[1] = 1;
  program->stepCtrl[1] = 1;
  std::memcpy(program->steps[0].bytes, &DefaultSettings().resize, sizeof(ResizeParams));
  std::memset(program->steps[1].bytes, 0x5A, sizeof(StepParams));
  ASSERT_FALSE(program->Save(path));
  EXPECT_EQ(fs::file_size(path), 16680u);
  EXPECT_EQ(ReadBytes(path), BytesOf(*program));

  auto loaded = std::make_unique<RecordedProgram>(DefaultSettings().program);
  ASSERT_FALSE(loaded->Load(path));
  EXPECT_EQ(BytesOf(*loaded), BytesOf(*program));
  const std::string again = (home / "again.ZEP").string();
  ASSERT_FALSE(loaded->Save(again));
  EXPECT_EQ(ReadBytes(again), ReadBytes(path));
}

// The reset writes the listed fields only: names get "NoOp" and its terminator, and the
// snapshots and the rest of each name keep their bytes.
TEST_F(ProgramFileTest, TheResetLeavesSnapshotsAndNameTailsAlone) {
  std::memset(program.get(), 0xEE, sizeof *program);
  program->SetDefaults();
  EXPECT_EQ(program->capacity, 32);
  EXPECT_EQ(program->stepCount, 0);
  for (int i = 0; i < RecordedProgram::kSlots; ++i) {
    EXPECT_STREQ(program->stepNames[i], "NoOp");
    EXPECT_EQ(static_cast<unsigned char>(program->stepNames[i][5]), 0xEE);
    EXPECT_EQ(program->stepIds[i], CommandId::NoOp);
    EXPECT_EQ(program->stepIsF3[i] | program->stepShift[i] | program->stepCtrl[i], 0);
    EXPECT_EQ(program->steps[i].bytes[0], 0xEE);
    EXPECT_EQ(program->steps[i].bytes[463], 0xEE);
  }
}

TEST_F(ProgramFileTest, BadBookkeepingInAFileFallsBackToDefaults) {
  RecordedProgram hostile = DefaultSettings().program;
  hostile.capacity = 7;
  hostile.stepCount = 1000;
  std::memset(hostile.stepNames[2], 'N', RecordedProgram::kNameSize);
  hostile.stepShift[5] = 9;
  hostile.stepIds[0] = int(CommandId::Lanczos);
  hostile.stepIds[1] = int(CommandId::F2ProgrammedOperation);  // F2 as a step would press itself
  hostile.stepIds[2] = int(CommandId::CtrlF3);
  std::memset(hostile.steps[0].bytes, 0x11, sizeof(StepParams));
  WriteFile(BytesOf(hostile));

  ASSERT_FALSE(program->Load(path));
  RecordedProgram expected = hostile;
  expected.capacity = 32;
  expected.stepCount = 0;
  std::memcpy(expected.stepNames[2], DefaultSettings().program.stepNames[2],
              RecordedProgram::kNameSize);
  expected.stepShift[5] = 0;
  expected.stepIds[1] = expected.stepIds[2] = RecordedProgram::kEmptyId;
  EXPECT_EQ(BytesOf(*program), BytesOf(expected));
}

TEST_F(ProgramFileTest, AFileOfAnotherLengthIsRefusedAndChangesNothing) {
  program->stepCount = 1;
  const std::string before = BytesOf(*program);
  const std::string valid = BytesOf(DefaultSettings().program);
  for (const std::string& bytes : {valid.substr(0, 16679), valid + "x", std::string()}) {
    WriteFile(bytes);
    EXPECT_TRUE(program->Load(path)) << bytes.size();
    EXPECT_EQ(BytesOf(*program), before);
  }
  EXPECT_TRUE(program->Load((home / "missing.ZEP").string()));
  EXPECT_EQ(BytesOf(*program), before);
}

TEST_F(ProgramFileTest, AFailedSaveIsReportedAndKeepsThePreviousFile) {
  WriteFile("previous");
  {
    FileSizeLimit limit(100);
    EXPECT_TRUE(program->Save(path));
  }
  EXPECT_EQ(ReadBytes(path), "previous");
  int files = 0;
  for (const auto& e : fs::directory_iterator(home)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
  EXPECT_TRUE(program->Save((home / "no" / "such" / "folder.ZEP").string()));
}

}  // namespace
