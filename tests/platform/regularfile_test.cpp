// Only regular files are opened for reading; a pipe, a device or a folder is told apart
// from a missing file, and nothing waits for a pipe's writer.
#include "platform/regularfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "support/zep_test.h"

namespace fs = std::filesystem;
using RegularFileTest = ZepTest;

TEST_F(RegularFileTest, OnlyRegularFilesOpenAndNothingWaits) {
  alarm(60);  // an open that waits on the pipe ends the run instead of hanging it
  std::ofstream(home / "plain.txt") << "bytes";
  ASSERT_EQ(mkfifo((home / "pipe").c_str(), 0600), 0);
  fs::create_directory(home / "folder");
  fs::create_symlink(home / "plain.txt", home / "link");
  fs::create_symlink(home / "pipe", home / "pipelink");
  const struct {
    fs::path path;
    FileKind kind;
  } cases[] = {{home / "plain.txt", FileKind::Regular}, {home / "link", FileKind::Regular},
               {home / "pipe", FileKind::NotRegular},   {home / "pipelink", FileKind::NotRegular},
               {home / "folder", FileKind::NotRegular}, {"/dev/null", FileKind::NotRegular},
               {home / "missing", FileKind::Missing}};
  for (const auto& c : cases) {
    EXPECT_EQ(KindOfFile(c.path.string()), c.kind) << c.path;
    FileKind kind = FileKind::Regular;
    std::FILE* f = OpenRegularFile(c.path.string(), &kind);
    EXPECT_EQ(kind, c.kind) << c.path;
    EXPECT_EQ(f != nullptr, c.kind == FileKind::Regular) << c.path;
    if (f) {
      char text[8] = {};
      // Reads as a file opened the usual way: whole, and blocking.
      EXPECT_EQ(std::fread(text, 1, sizeof text, f), 5u);
      EXPECT_STREQ(text, "bytes");
      std::fclose(f);
    }
  }
  alarm(0);
}
