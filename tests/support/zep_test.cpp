#include "support/zep_test.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/imageview.h"
#include "ops/operations.h"
#include "params/settings.h"
#include "platform/programdir.h"

namespace fs = std::filesystem;

void ZepTest::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name =
      "zep-test-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name();
  for (char& ch : name) {
    if (ch == '/') ch = '_';  // parameterised tests
  }
  home = fs::temp_directory_path() / name;
  fs::remove_all(home);
  ASSERT_TRUE(InitProgramDirectory(home));
  // Every test starts from the defaults, with no key held and every command bound.
  LiveSettings().SetDefaults();
  Flags() = CommandFlags();
  RegisterOperations();
}

void ZepTest::TearDown() {
  ui.VerifyAllAnswered();
  Flags() = CommandFlags();
  ShutDownProgramDirectory();
  std::error_code ec;
  fs::remove_all(home, ec);
}

std::string ZepTest::ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

fs::path ZepTest::TestData() {
  if (const char* dir = std::getenv("ZEP_TESTDATA"); dir && *dir) return dir;
  return fs::path(ZEP_SOURCE_DIR) / "tests" / "data";
}
