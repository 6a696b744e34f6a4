#include "platform/programdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/messages.h"

namespace fs = std::filesystem;

namespace {
fs::path programDir;
fs::path scratchDir;
constexpr const char* kScratchPrefix = "scratch-";
constexpr const char* kMarkerTag = "zep-scratch";

// Field 22 of /proc/<pid>/stat: when the process started, in clock ticks since boot.
// 0 when it cannot be read. The command name in field 2 may hold spaces and brackets,
// so the fields are counted from its closing bracket.
unsigned long long ProcessStartTime(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return 0;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 1));
  std::string field;
  for (int n = 3; n < 22; ++n) rest >> field;
  unsigned long long start = 0;
  return rest >> start ? start : 0;
}

bool ProcessRuns(long pid, unsigned long long start) {
  std::error_code ec;
  if (!fs::exists(fs::path("/proc") / std::to_string(pid), ec)) return false;
  // Another process that was given the same pid since started at another time.
  const unsigned long long now = ProcessStartTime(pid);
  return start == 0 || now == 0 || now == start;
}

bool WriteMarker(const fs::path& folder) {
  const long pid = static_cast<long>(getpid());
  std::ofstream out(folder / kScratchMarker);
  out << kMarkerTag << ' ' << pid << ' ' << ProcessStartTime(pid) << '\n';
  out.close();
  return !out.fail();
}

// Reads the marker of a scratch folder; false when there is none or it is not ours.
bool ReadMarker(const fs::path& folder, long& pid, unsigned long long& start) {
  std::ifstream in(folder / kScratchMarker);
  std::string tag;
  return in >> tag >> pid >> start && tag == kMarkerTag && pid > 0;
}

void RemoveStaleScratchFolders(const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0 || entry.is_symlink(ec) || !entry.is_directory(ec)) {
      continue;
    }
    long pid = 0;
    unsigned long long start = 0;
    if (!ReadMarker(entry.path(), pid, start) || ProcessRuns(pid, start)) continue;
    fs::remove_all(entry.path(), ec);
  }
}

// A new folder for this process: scratch-<pid>, or scratch-<pid>-<n> when a folder of
// that name exists that is not ours to take. Empty when none can be made.
fs::path CreateScratchFolder(const fs::path& dir) {
  const std::string base = kScratchPrefix + std::to_string(getpid());
  for (int n = 0; n < 100; ++n) {
    const fs::path folder = dir / (n == 0 ? base : base + "-" + std::to_string(n));
    std::error_code ec;
    if (!fs::create_directory(folder, ec)) {
      if (ec) return {};
      continue;  // there already
    }
    if (WriteMarker(folder)) return folder;
    fs::remove_all(folder, ec);
    return {};
  }
  return {};
}

// Follows a chain of symbolic links to the file it ends in, so that a replacing write
// changes that file and the links stay links. Empty when the chain does not end.
fs::path ResolveLinks(const fs::path& target) {
  fs::path path = target;
  std::error_code ec;
  for (int hops = 0; hops < 40; ++hops) {
    if (!fs::is_symlink(path, ec)) return path;
    const fs::path link = fs::read_symlink(path, ec);
    if (ec) return {};
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return {};
}

bool InOurGroups(gid_t gid) {
  if (gid == getegid()) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == gid) return true;
  }
  return false;
}

// The rename would replace a file whatever its mode, so the mode is asked first. The
// write bit of the class that applies to us holds for root too: whoever took the write
// bit away wants the file kept.
bool WriteProtected(const fs::path& path, const struct stat& st) {
  mode_t bit = S_IWOTH;
  if (st.st_uid == geteuid()) {
    bit = S_IWUSR;
  } else if (InOurGroups(st.st_gid)) {
    bit = S_IWGRP;
  }
  return (st.st_mode & bit) == 0 || faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// A short name that is free in the folder of path: ".zep-" and six random characters,
// so that a target of the longest name a folder takes can still be written.
fs::path TemporaryBeside(const fs::path& path) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = ".zep-";
    for (int i = 0; i < 6; ++i) name += kChars[pick(random)];
    const fs::path temp = path.parent_path() / name;
    struct stat st;
    if (lstat(temp.c_str(), &st) != 0 && errno == ENOENT) return temp;
  }
  return {};
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
  // First, so that a folder of an earlier process that had our pid is gone before ours.
  RemoveStaleScratchFolders(dir);
  // Set up again in the same directory, the process keeps its folder.
  const fs::path scratch = scratchDir.parent_path() == dir && fs::is_directory(scratchDir, ec)
                               ? scratchDir
                               : CreateScratchFolder(dir);
  if (scratch.empty()) return false;
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

namespace {
bool SyncFile(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  return (close(fd) == 0) && ok;
}
}  // namespace

bool WritePathReplacing(const fs::path& target,
                        const std::function<bool(const fs::path& temp)>& writer) {
  const fs::path real = ResolveLinks(target);
  if (real.empty()) return false;
  struct stat st;
  const bool exists = stat(real.c_str(), &st) == 0;
  // A pipe, a device or a folder of that name is the user's, not a file to put ours over.
  if (exists && !S_ISREG(st.st_mode)) {
    ShowMessage(target.string() + " is not a regular file; it was not replaced.");
    return false;
  }
  if (exists && WriteProtected(real, st)) {
    ShowMessage(target.string() + " is write-protected; it was not replaced.");
    return false;
  }
  const fs::path temp = TemporaryBeside(real);
  if (temp.empty()) return false;
  bool ok = false;
  try {
    ok = writer(temp);
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
  // The new file takes the old one's permissions; a new file keeps the mode it was
  // created with, which the umask decided.
  if (ok && exists) ok = chmod(temp.c_str(), st.st_mode & 0777) == 0;
  // On the disk before it takes the old file's place, so that a crash just after the
  // rename cannot leave an empty file where the user's image was.
  if (ok) ok = SyncFile(temp);
  if (ok) ok = std::rename(temp.c_str(), real.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

bool WriteFileReplacing(const fs::path& target, const std::function<bool(std::FILE*)>& writer) {
  return WritePathReplacing(target, [&](const fs::path& temp) {
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
      close(fd);
      return false;
    }
    bool ok = false;
    try {
      ok = writer(file);
    } catch (...) {
      std::fclose(file);
      throw;
    }
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    return ok;
  });
}

std::filesystem::path ShippedFile(const std::string& name) {
  std::vector<std::filesystem::path> folders;
  if (!ProgramDirectory().empty()) folders.push_back(ProgramDirectory());
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) folders.push_back(exe.parent_path() / "../share/zep");
#ifdef ZEP_BUILD_DATA_DIR
  folders.emplace_back(ZEP_BUILD_DATA_DIR);
#endif
  for (const std::filesystem::path& folder : folders) {
    const std::filesystem::path p = folder / name;
    if (std::filesystem::is_regular_file(p, ec)) return p;
  }
  return {};
}
