#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/ui.h"

namespace {

class ConsoleUi : public Ui {
 public:
  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override {
    std::cerr << (caption.empty() ? std::string_view("ZEP") : caption) << ": " << text << "\n";
    switch (style.buttons) {
      case MessageButtons::YesNo:
      case MessageButtons::YesNoCancel:
        return DialogResult::Yes;
      case MessageButtons::RetryCancel:
        return DialogResult::Retry;
      default:
        return DialogResult::Ok;
    }
  }
  void SetPaneText(int, std::string_view) override {}
  void ShowProgressPane() override {}
  void DrawProgress(int) override {}
  // Without a screen nobody can type: the dialogs are confirmed as they stand.
  DialogResult ShowPropertiesDialog(Dialog2&) override { return DialogResult::Ok; }
  DialogResult ShowPrompt(Dialog1&) override { return DialogResult::Ok; }
  // Nobody can pick a file either: the dialog is cancelled, as a user would.
  FileDialogAnswer OpenFileDialog(const FileDialogRequest& r) override {
    std::cerr << "ZEP: open dialog (" << r.initialPath << ") cancelled without a screen\n";
    return {};
  }
  FileListAnswer OpenFilesDialog(const FileDialogRequest&) override {
    std::cerr << "ZEP: open dialog for several files cancelled without a screen\n";
    return {};
  }
  FileDialogAnswer SaveFileDialog(const FileDialogRequest& r) override {
    std::cerr << "ZEP: save dialog (" << r.initialPath << ") cancelled without a screen\n";
    return {};
  }
  // Without a desktop session there is no trash; the file stays.
  bool MoveToTrash(const std::string&) override { return false; }
};

ConsoleUi& TheConsoleUi() {
  static ConsoleUi ui;
  return ui;
}
SystemPlatform& TheSystemPlatform() {
  static SystemPlatform platform;
  return platform;
}
Ui* currentUi = nullptr;
Platform* currentPlatform = nullptr;

// Reads "Key:   1234 kB" lines of a /proc file into bytes.
uint64_t ProcField(const std::string& content, const char* key) {
  size_t at = 0;
  const size_t keyLen = std::strlen(key);
  while ((at = content.find(key, at)) != std::string::npos) {
    if ((at == 0 || content[at - 1] == '\n') && content.compare(at + keyLen, 1, ":") == 0) {
      std::istringstream line(content.substr(at + keyLen + 1, 64));
      uint64_t value = 0;
      std::string unit;
      line >> value >> unit;
      return unit == "kB" ? value * 1024 : value;
    }
    at += keyLen;
  }
  return 0;
}

std::string Slurp(const char* path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

bool HasExtension(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot != std::string_view::npos && dot > 0 && dot + 1 < name.size();
}

Ui& GetUi() { return currentUi ? *currentUi : TheConsoleUi(); }
Ui* SetUi(Ui* ui) {
  Ui* previous = currentUi;
  currentUi = ui;
  return previous;
}

Platform& GetPlatform() { return currentPlatform ? *currentPlatform : TheSystemPlatform(); }
Platform* SetPlatform(Platform* platform) {
  Platform* previous = currentPlatform;
  currentPlatform = platform;
  return previous;
}

int64_t SystemPlatform::ClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

MemoryFigures SystemPlatform::Memory() { return ReadSystemMemoryFigures(); }

MemoryFigures ReadSystemMemoryFigures() {
  MemoryFigures m;
  const std::string info = Slurp("/proc/meminfo");
  m.totalPhys = ProcField(info, "MemTotal");
  m.availPhys = ProcField(info, "MemAvailable");
  m.totalPageFile = m.totalPhys + ProcField(info, "SwapTotal");
  m.availPageFile = m.availPhys + ProcField(info, "SwapFree");
  if (m.totalPhys > 0) {
    m.memoryLoad = static_cast<long>(100 - (m.availPhys * 100) / m.totalPhys);
  }
  // The user half of the x86-64 address space, less what this process has mapped.
  m.totalVirtual = uint64_t{1} << 47;
  const uint64_t mapped = ProcField(Slurp("/proc/self/status"), "VmSize");
  m.availVirtual = mapped < m.totalVirtual ? m.totalVirtual - mapped : 0;
  return m;
}

bool MemoryAllows(uint64_t bytes) {
  if (bytes < (uint64_t{1} << 20)) return true;
  return bytes <= GetPlatform().Memory().availPhys;
}
