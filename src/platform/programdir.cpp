#include "platform/programdir.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {
fs::path programDir;
fs::path scratchDir;
constexpr const char* kScratchPrefix = "scratch-";

bool ProcessRuns(long pid) {
  std::error_code ec;
  return fs::exists(fs::path("/proc") / std::to_string(pid), ec);
}

void RemoveStaleScratchFolders(const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0 || !entry.is_directory(ec)) continue;
    char* end = nullptr;
    const long pid =
        std::strtol(name.c_str() + std::char_traits<char>::length(kScratchPrefix), &end, 10);
    if (end == nullptr || *end != '\0' || pid <= 0) continue;
    if (pid == static_cast<long>(getpid()) || ProcessRuns(pid)) continue;
    fs::remove_all(entry.path(), ec);
  }
}
}  // namespace

fs::path DefaultProgramDirectory() {
  if (const char* home = std::getenv("ZEP_HOME"); home && *home) return fs::path(home);
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "zep";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "zep";
}

bool InitProgramDirectory(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) return false;
  const fs::path scratch = dir / (kScratchPrefix + std::to_string(getpid()));
  fs::create_directories(scratch, ec);
  if (!fs::is_directory(scratch, ec)) return false;
  RemoveStaleScratchFolders(dir);
  programDir = dir;
  scratchDir = scratch;
  return true;
}

void ShutDownProgramDirectory() {
  std::error_code ec;
  if (!scratchDir.empty()) fs::remove_all(scratchDir, ec);
  scratchDir.clear();
  programDir.clear();
}

const fs::path& ProgramDirectory() { return programDir; }
const fs::path& ScratchDirectory() { return scratchDir; }

fs::path ProgramPath(const std::string& name) {
  return programDir.empty() ? fs::path(name) : programDir / name;
}
fs::path ScratchPath(const std::string& name) {
  return scratchDir.empty() ? fs::path(name) : scratchDir / name;
}

bool WritePathReplacing(const fs::path& target,
                        const std::function<bool(const fs::path& temp)>& writer) {
  static std::atomic<unsigned> serial{0};
  fs::path temp = target;
  temp += ".part" + std::to_string(getpid()) + "-" + std::to_string(serial++);
  bool ok = writer(temp);
  std::error_code ec;
  if (ok) {
    fs::rename(temp, target, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(temp, ec);
  return ok;
}

bool WriteFileReplacing(const fs::path& target, const std::function<bool(std::FILE*)>& writer) {
  return WritePathReplacing(target, [&](const fs::path& temp) {
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) return false;
    bool ok = writer(file);
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    return ok;
  });
}
