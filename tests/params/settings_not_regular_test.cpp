// A settings file that is a pipe, a device or a folder is a missing one: the defaults
// hold, and the start-up never waits on it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "params/settings.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;
using SettingsNotRegularTest = ZepTest;

TEST_F(SettingsNotRegularTest, APipeOrAFolderInPlaceOfTheFileGivesTheDefaults) {
  alarm(60);  // a read that waits on the pipe ends the run instead of hanging it
  for (bool pipe : {true, false}) {
    const fs::path file = ProgramPath(kSettingsFileName);
    if (pipe) {
      ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    } else {
      ASSERT_TRUE(fs::create_directory(file));
    }
    auto live = std::make_unique<Settings>(DefaultSettings());
    live->soundOnCompletion ^= 1;  // what Load leaves is the record as it was
    const Settings before = *live;
    EXPECT_TRUE(live->Load(kSettingsFileName)) << pipe;
    EXPECT_EQ(std::memcmp(live.get(), &before, sizeof before), 0) << pipe;
    *live = DefaultSettings();
    LoadSettingsAtStartUp(*live);
    EXPECT_EQ(std::memcmp(live.get(), &DefaultSettings(), sizeof(Settings)), 0) << pipe;
    fs::remove(file);
  }
  alarm(0);
}

TEST_F(SettingsNotRegularTest, APipeNamedAsAProgramFileIsRefusedWithoutWaiting) {
  alarm(60);
  const fs::path file = home / "steps.ZEP";
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  auto live = std::make_unique<Settings>(DefaultSettings());
  const Settings before = *live;
  EXPECT_TRUE(live->program.Load(file.string()));
  EXPECT_EQ(std::memcmp(live.get(), &before, sizeof before), 0);
  alarm(0);
}
