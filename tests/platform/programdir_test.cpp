#include "platform/programdir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/zep_test.h"

namespace fs = std::filesystem;
using ProgramDirTest = ZepTest;

TEST_F(ProgramDirTest, ScratchFilesLiveInThisProcesssFolder) {
  EXPECT_EQ(ProgramDirectory(), home);
  EXPECT_EQ(ScratchDirectory().parent_path(), home);
  EXPECT_EQ(ScratchPath("temp1.mat"), ScratchDirectory() / "temp1.mat");
  EXPECT_EQ(ProgramPath("zep.ini"), home / "zep.ini");
}

namespace {
// A scratch folder as a process of the program leaves it.
void MakeOurs(const fs::path& folder, long pid, unsigned long long start) {
  fs::create_directories(folder);
  std::ofstream(folder / kScratchMarker) << "zep-scratch " << pid << ' ' << start << '\n';
  std::ofstream(folder / "temp0.mat") << "x";
}

unsigned long long StartTimeOf(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream rest(line.substr(line.rfind(')') + 1));
  std::string field;
  for (int n = 3; n < 22; ++n) rest >> field;
  unsigned long long start = 0;
  rest >> start;
  return start;
}
}  // namespace

TEST_F(ProgramDirTest, StartRemovesOnlyOurScratchOfProcessesThatAreGone) {
  // pid 2^22+1 is above the kernel's maximum, so no process can have it.
  const fs::path dead = home / "scratch-4194305";
  MakeOurs(dead, 4194305, 77);
  const long parent = static_cast<long>(getppid());
  const fs::path alive = home / ("scratch-" + std::to_string(parent));
  MakeOurs(alive, parent, StartTimeOf(parent));
  // The parent's pid, but recorded by a process that started at another time.
  const fs::path reused = home / ("scratch-" + std::to_string(parent) + "-1");
  MakeOurs(reused, parent, StartTimeOf(parent) + 1);
  // Without our marker, whatever the name says.
  const fs::path foreign = home / "scratch-123";
  const fs::path notes = home / "scratch-notes";
  for (const auto& d : {foreign, notes}) {
    fs::create_directories(d);
    std::ofstream(d / "temp0.mat") << "x";
  }
  const fs::path otherMarker = home / "scratch-4194306";
  fs::create_directories(otherMarker);
  std::ofstream(otherMarker / kScratchMarker) << "someone 4194306 5\n";
  std::ofstream(home / "ZEP1.FDIB") << "slot";

  ASSERT_TRUE(InitProgramDirectory(home));
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(reused));
  EXPECT_TRUE(fs::exists(alive / "temp0.mat"));
  EXPECT_TRUE(fs::exists(foreign / "temp0.mat"));
  EXPECT_TRUE(fs::exists(notes / "temp0.mat"));
  EXPECT_TRUE(fs::exists(otherMarker / kScratchMarker));
  EXPECT_TRUE(fs::exists(home / "ZEP1.FDIB"));
  // Our own folder survives our own start-up.
  EXPECT_TRUE(fs::is_directory(ScratchDirectory()));
}

TEST_F(ProgramDirTest, TheScratchFolderCarriesItsMarker) {
  std::ifstream in(ScratchDirectory() / kScratchMarker);
  std::string tag;
  long pid = 0;
  unsigned long long start = 0;
  ASSERT_TRUE(in >> tag >> pid >> start);
  EXPECT_EQ(tag, "zep-scratch");
  EXPECT_EQ(pid, static_cast<long>(getpid()));
  EXPECT_EQ(start, StartTimeOf(getpid()));
  EXPECT_NE(start, 0u);

  // A foreign folder that has our name is left alone; we take another name.
  ShutDownProgramDirectory();
  const fs::path taken = home / ("scratch-" + std::to_string(getpid()));
  fs::create_directories(taken);
  std::ofstream(taken / "theirs") << "x";
  ASSERT_TRUE(InitProgramDirectory(home));
  EXPECT_NE(ScratchDirectory(), taken);
  EXPECT_TRUE(fs::exists(ScratchDirectory() / kScratchMarker));
  ShutDownProgramDirectory();
  EXPECT_TRUE(fs::exists(taken / "theirs"));
  ASSERT_TRUE(InitProgramDirectory(home));
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

namespace {
bool WriteText(const fs::path& target, const std::string& text) {
  return WriteFileReplacing(target, [&](std::FILE* f) { return std::fputs(text.c_str(), f) >= 0; });
}

mode_t ModeOf(const fs::path& path) {
  struct stat st;
  stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

// Every entry of the folder (links included), by name.
std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

TEST_F(ProgramDirTest, ReplacingKeepsThePermissionsAndNewFilesFollowTheUmask) {
  const fs::path dir = home / "files";
  fs::create_directories(dir);
  for (mode_t mode : {0600, 0640, 0755, 0604}) {
    const fs::path target = dir / "kept.png";
    std::ofstream(target) << "old";
    chmod(target.c_str(), mode);
    ASSERT_TRUE(WriteText(target, "new")) << std::oct << mode;
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(ModeOf(target), mode) << std::oct << mode;
    fs::remove(target);
  }
  const mode_t saved = umask(027);
  EXPECT_TRUE(WriteText(dir / "fresh.png", "x"));
  EXPECT_TRUE(WritePathReplacing(dir / "fresh.tif", [](const fs::path& temp) {
    return static_cast<bool>(std::ofstream(temp) << "x");
  }));
  umask(saved);
  EXPECT_EQ(ModeOf(dir / "fresh.png"), 0640u);
  EXPECT_EQ(ModeOf(dir / "fresh.tif"), 0640u);
  EXPECT_EQ(Entries(dir), (std::vector<std::string>{"fresh.png", "fresh.tif"}));
}

// Held to the mode bits, so this holds when the tests run as root too.
TEST_F(ProgramDirTest, AWriteProtectedFileIsNotReplaced) {
  const fs::path dir = home / "files";
  fs::create_directories(dir);
  const fs::path target = dir / "keep.png";
  for (mode_t mode : {0444, 0400, 0000, 0464}) {
    std::ofstream(target) << "old";
    chmod(target.c_str(), mode);
    const std::string message = target.string() + " is write-protected; it was not replaced.";
    ui.ExpectMessage(message).ExpectMessage(message);
    EXPECT_FALSE(WriteText(target, "new")) << std::oct << mode;
    EXPECT_FALSE(WritePathReplacing(target, [](const fs::path&) { return true; }));
    chmod(target.c_str(), 0600);
    EXPECT_EQ(ReadBytes(target), "old") << std::oct << mode;
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"keep.png"});
    fs::remove(target);
  }
}

TEST_F(ProgramDirTest, APipeOrAFolderOfTheTargetsNameIsNotReplaced) {
  const fs::path dir = home / "files";
  fs::create_directories(dir);
  const fs::path target = dir / "zep.ini";
  for (bool pipe : {true, false}) {
    if (pipe) {
      ASSERT_EQ(mkfifo(target.c_str(), 0600), 0);
    } else {
      ASSERT_TRUE(fs::create_directory(target));
    }
    ui.ExpectMessage(target.string() + " is not a regular file; it was not replaced.");
    EXPECT_FALSE(WriteText(target, "new")) << pipe;
    EXPECT_EQ(fs::is_fifo(target), pipe);
    EXPECT_EQ(fs::is_directory(target), !pipe);
    EXPECT_EQ(Entries(dir), std::vector<std::string>{"zep.ini"});
    fs::remove(target);
  }
}

TEST_F(ProgramDirTest, ALinkIsFollowedAndStaysALink) {
  fs::create_directories(home / "a");
  fs::create_directories(home / "b");
  const fs::path real = home / "b" / "picture.png";
  std::ofstream(real) << "old";
  chmod(real.c_str(), 0640);
  const fs::path link = home / "a" / "link.png";
  const fs::path chained = home / "a" / "chained.png";
  fs::create_symlink("../b/picture.png", link);  // relative to the link's folder
  fs::create_symlink(link, chained);
  ASSERT_TRUE(WriteText(chained, "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_symlink(chained));
  EXPECT_EQ(ReadBytes(real), "new");
  EXPECT_EQ(ModeOf(real), 0640u);
  EXPECT_EQ(Entries(home / "b"), std::vector<std::string>{"picture.png"});
  EXPECT_EQ(Entries(home / "a"), (std::vector<std::string>{"chained.png", "link.png"}));

  // A link to a file not there yet creates it.
  const fs::path dangling = home / "a" / "later.png";
  fs::create_symlink("../b/later.png", dangling);
  ASSERT_TRUE(WriteText(dangling, "made"));
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(ReadBytes(home / "b" / "later.png"), "made");

  // A loop of links ends nowhere: nothing is written.
  fs::create_symlink("loop2", home / "a" / "loop1");
  fs::create_symlink("loop1", home / "a" / "loop2");
  EXPECT_FALSE(WriteText(home / "a" / "loop1", "x"));
  EXPECT_TRUE(fs::is_symlink(home / "a" / "loop1"));
}

TEST_F(ProgramDirTest, NamesOfTheLongestLengthCanBeWritten) {
  const fs::path dir = home / "files";
  fs::create_directories(dir);
  for (size_t length : {241u, 250u, 255u}) {
    const fs::path target = dir / (std::string(length - 4, 'n') + ".png");
    ASSERT_TRUE(WriteText(target, "first")) << length;
    ASSERT_TRUE(WriteText(target, "second")) << length;
    EXPECT_EQ(ReadBytes(target), "second");
    EXPECT_EQ(Entries(dir), std::vector<std::string>{target.filename().string()});
    fs::remove(target);
  }
}

TEST_F(ProgramDirTest, NoTemporaryFileStaysWhenAWriterFailsOrThrows) {
  const fs::path dir = home / "files";
  fs::create_directories(dir);
  const fs::path target = dir / "t.fit";
  std::ofstream(target) << "old";
  EXPECT_FALSE(WritePathReplacing(target, [](const fs::path& temp) {
    std::ofstream(temp) << "half";
    return false;
  }));
  EXPECT_THROW(WriteFileReplacing(target,
                                  [](std::FILE* f) -> bool {
                                    std::fputs("half", f);
                                    throw std::runtime_error("writer");
                                  }),
               std::runtime_error);
  EXPECT_THROW(WritePathReplacing(target,
                                  [](const fs::path& temp) -> bool {
                                    std::ofstream(temp) << "half";
                                    throw std::runtime_error("writer");
                                  }),
               std::runtime_error);
  EXPECT_EQ(ReadBytes(target), "old");
  EXPECT_EQ(Entries(dir), std::vector<std::string>{"t.fit"});
  // The temporary file is short and lies beside the target.
  fs::path seen;
  EXPECT_TRUE(WritePathReplacing(target, [&](const fs::path& temp) {
    seen = temp;
    return static_cast<bool>(std::ofstream(temp) << "new");
  }));
  EXPECT_EQ(seen.parent_path(), dir);
  EXPECT_EQ(seen.filename().string().size(), 11u);
  EXPECT_EQ(seen.filename().string().rfind(".zep-", 0), 0u);
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
