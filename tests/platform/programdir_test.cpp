#include "platform/programdir.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/zep_test.h"

namespace fs = std::filesystem;
using ProgramDirTest = ZepTest;

TEST_F(ProgramDirTest, ScratchFilesLiveInThisProcesssFolder) {
  EXPECT_EQ(ProgramDirectory(), home);
  EXPECT_EQ(ScratchDirectory().parent_path(), home);
  EXPECT_EQ(ScratchPath("temp1.mat"), ScratchDirectory() / "temp1.mat");
  EXPECT_EQ(ProgramPath("zep.ini"), home / "zep.ini");
}

TEST_F(ProgramDirTest, StartRemovesScratchOfDeadProcessesOnly) {
  // pid 2^22+1 is above the kernel's maximum, so no process can have it.
  const fs::path dead = home / "scratch-4194305";
  const fs::path alive = home / ("scratch-" + std::to_string(getppid()));
  const fs::path keep = home / "scratch-notes";
  for (const auto& d : {dead, alive, keep}) {
    fs::create_directories(d);
    std::ofstream(d / "temp0.mat") << "x";
  }
  std::ofstream(home / "ZEP1.FDIB") << "slot";
  ASSERT_TRUE(InitProgramDirectory(home));
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(alive / "temp0.mat"));
  EXPECT_TRUE(fs::exists(keep / "temp0.mat"));
  EXPECT_TRUE(fs::exists(home / "ZEP1.FDIB"));
}

TEST_F(ProgramDirTest, ShutDownRemovesTheScratchFolderWhole) {
  const fs::path scratch = ScratchDirectory();
  std::ofstream(ScratchPath("a.mat")) << "x";
  std::ofstream(ProgramPath("ZEP3.FDIB")) << "slot";
  ShutDownProgramDirectory();
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_TRUE(fs::exists(home / "ZEP3.FDIB"));
  EXPECT_EQ(ScratchPath("a.mat"), fs::path("a.mat"));
}

TEST_F(ProgramDirTest, ReplacingWriteKeepsTheOldFileOnFailure) {
  const fs::path target = home / "settings.bin";
  std::ofstream(target) << "old";
  EXPECT_FALSE(WriteFileReplacing(target, [](std::FILE* f) {
    std::fputs("half", f);
    return false;
  }));
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_TRUE(WriteFileReplacing(target, [](std::FILE* f) { return std::fputs("new", f) >= 0; }));
  EXPECT_EQ(ReadBytes(target), "new");
  // No temporary file is left beside it.
  int files = 0;
  for (const auto& e : fs::directory_iterator(home)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 1);
}

TEST(DefaultProgramDirectoryTest, FollowsTheEnvironment) {
  const char* saved[3] = {std::getenv("ZEP_HOME"), std::getenv("XDG_DATA_HOME"),
                          std::getenv("HOME")};
  const std::string keep[3] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "",
                               saved[2] ? saved[2] : ""};
  setenv("ZEP_HOME", "/z/home", 1);
  setenv("XDG_DATA_HOME", "/x/data", 1);
  setenv("HOME", "/h", 1);
  EXPECT_EQ(DefaultProgramDirectory(), fs::path("/z/home"));
  unsetenv("ZEP_HOME");
  EXPECT_EQ(DefaultProgramDirectory(), fs::path("/x/data/zep"));
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultProgramDirectory(), fs::path("/h/.local/share/zep"));
  const char* names[3] = {"ZEP_HOME", "XDG_DATA_HOME", "HOME"};
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) {
      setenv(names[i], keep[i].c_str(), 1);
    } else {
      unsetenv(names[i]);
    }
  }
}
