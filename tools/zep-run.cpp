// zep-run: runs a script of commands headlessly through the image windows' dispatcher,
// the same road the menus take.
//
//   zep-run [--home DIR] SCRIPT
//
// One statement a line ('#' starts a comment):
//   new                      File New: opens an image window
//   poke OFFSET TYPE VALUE   writes a value into the settings record; TYPE is one of
//                            u8, i32, u32, f32, f64, str
//   settings FILE            reads a settings record file over the live record
//   command ID               sends a command as the menu does
//   f2 | f3                  presses F2 or F3 (Ctrl+ or Shift+ after ctrl or shift)
//   ctrl | shift             holds the key for the next command or F2/F3
//   answer ok|cancel|yes|no  the answer of the next dialog or message box
//   answer text TEXT         types TEXT into the next prompt and presses OK
//   answer file PATH         picks PATH in the next file dialog (a file dialog without a
//                            queued file answer fails the run)
//   answer files A B ...     picks the files A, B, ... (in that order) in the next open
//                            dialog for several files
//   open FILE                Open Image with FILE picked in its dialog
//   save FILE                Save Image As with FILE picked in its dialog
//   status                   prints the six status panes
//   quit                     the shut-down: writes "zep.ini" and ends
// Every dialog and message box is printed with its caption; one without a queued answer
// is answered OK. An error ends the run with a non-zero status and the line number.
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/framemodel.h"
#include "app/imageview.h"
#include "app/menus.h"
#include "fileio/imagefile.h"
#include "ops/resize/resize.h"
#include "params/dialog1.h"
#include "params/dialog2.h"
#include "params/fields.h"
#include "params/settings.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/ui.h"
#include "qt/qtfiles.h"

namespace {

struct ScriptError {
  std::string what;
};

class RunnerUi : public Ui {
 public:
  DialogResult MessageBox(std::string_view text, std::string_view caption, MessageStyle) override {
    std::cout << "[message" << (caption.empty() ? "" : ": ") << caption << "] " << text << "\n";
    return Next(DialogResult::Ok).result;
  }
  void SetPaneText(int pane, std::string_view text) override {
    if (pane >= 0 && pane < 6) panes[size_t(pane)] = std::string(text);
  }
  void ShowProgressPane() override {}
  void DrawProgress(int) override {}
  DialogResult ShowPropertiesDialog(Dialog2& dialog) override {
    std::cout << "[properties: page " << dialog.CurrentPage() << "]\n";
    const Answer a = Next(DialogResult::Ok);
    if (a.result != DialogResult::Ok) return a.result;
    return dialog.PressOk() ? DialogResult::Ok : DialogResult::Cancel;
  }
  DialogResult ShowPrompt(Dialog1& dialog) override {
    std::cout << "[prompt: " << dialog.title << "] " << dialog.prompt << "\n";
    const Answer a = Next(DialogResult::Ok);
    if (a.hasText) dialog.text = a.text;
    return a.result;
  }

  FileDialogAnswer OpenFileDialog(const FileDialogRequest& r) override {
    return FileDialog("open", r);
  }
  FileDialogAnswer SaveFileDialog(const FileDialogRequest& r) override {
    return FileDialog("save", r);
  }
  FileListAnswer OpenFilesDialog(const FileDialogRequest&) override {
    std::cout << "[open dialog for several files]\n";
    if (answers.empty() || !answers.front().isFile || answers.front().files.empty()) {
      failure = "the open dialog for several files has no files answer";
      return {};
    }
    FileListAnswer list{true, answers.front().files};
    answers.pop_front();
    return list;
  }
  bool MoveToTrash(const std::string& path) override {
    std::cout << "[trash] " << path << "\n";
    return MoveFileToTrash(path);
  }

  struct Answer {
    DialogResult result = DialogResult::Ok;
    bool hasText = false;
    std::string text;
    bool isFile = false;
    std::vector<std::string> files;  // the answer of a dialog for several files
  };
  std::deque<Answer> answers;
  std::string panes[6];
  std::string failure;  // set when a dialog came that the script did not answer

 private:
  Answer Next(DialogResult fallback) {
    // A file answer waits for its file dialog.
    if (answers.empty() || answers.front().isFile) {
      Answer a;
      a.result = fallback;
      return a;
    }
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  FileDialogAnswer FileDialog(const char* kind, const FileDialogRequest& r) {
    std::cout << "[" << kind << " dialog] " << r.initialPath << "\n";
    if (answers.empty() || !answers.front().isFile || !answers.front().files.empty()) {
      failure = std::string("the ") + kind + " dialog has no file answer";
      return {};
    }
    const Answer a = answers.front();
    answers.pop_front();
    FileDialogAnswer f;
    f.ok = true;
    f.path = a.text;
    f.filterIndex = r.filterIndex > 0 ? r.filterIndex : 1;
    f.extensionTyped = HasExtension(a.text);
    return f;
  }
};

class QuietHost : public ViewHost {
 public:
  void Invalidate() override {}
  void SetFrameTitle(const std::string& title) override {
    std::cout << "[title] " << title << "\n";
  }
  void MenuCaptionsChanged() override {}
  void PopdownMenu(int) override {}
  void MakeForeground() override {}
};

class HeadlessFrame : public FrameHost {
 public:
  void OpenImageWindow() override { views.push_back(std::make_unique<CImageView>(&host)); }
  int ImageWindowCount() const override { return int(views.size()); }
  void ShowAbout() override { std::cout << "[about] ZEP Image Processor\n"; }
  void Repaint() override {}

  CImageView* active() { return views.empty() ? nullptr : views.back().get(); }
  QuietHost host;
  std::vector<std::unique_ptr<CImageView>> views;
};

void Poke(std::istringstream& in) {
  uint32_t offset = 0;
  std::string type;
  if (!(in >> offset >> type)) throw ScriptError{"poke needs OFFSET TYPE VALUE"};
  std::string value;
  std::getline(in >> std::ws, value);
  uint8_t* record = reinterpret_cast<uint8_t*>(&LiveSettings());
  auto store = [&](const void* bytes, size_t size) {
    if (offset > Settings::kSize || size > Settings::kSize - offset) {
      throw ScriptError{"poke past the end of the settings record"};
    }
    std::memcpy(record + offset, bytes, size);
  };
  try {
    if (type == "u8") {
      const unsigned long v = std::stoul(value);
      if (v > 255) throw ScriptError{"u8 value out of range"};
      const uint8_t b = uint8_t(v);
      store(&b, 1);
    } else if (type == "i32") {
      const int32_t v = std::stoi(value);
      store(&v, 4);
    } else if (type == "u32") {
      const uint32_t v = uint32_t(std::stoul(value, nullptr, 0));
      store(&v, 4);
    } else if (type == "f32") {
      const float v = std::stof(value);
      store(&v, 4);
    } else if (type == "f64") {
      const double v = std::stod(value);
      store(&v, 8);
    } else if (type == "str") {
      store(value.c_str(), value.size() + 1);
    } else {
      throw ScriptError{"unknown type " + type};
    }
  } catch (const std::logic_error&) {
    throw ScriptError{"not a " + type + ": " + value};
  }
}

void ReadSettingsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScriptError{"cannot read " + path};
  Settings copy = LiveSettings();
  in.read(reinterpret_cast<char*>(&copy), Settings::kSize);
  copy.Validate();
  LiveSettings() = copy;
}

void Send(HeadlessFrame& frame, int id) {
  CImageView* view = frame.active();
  FrameModel model(&frame);
  if (view && !IsFrameCommand(id) && view->Dispatch(id)) return;
  if (!model.Dispatch(id)) throw ScriptError{"no window handles command " + std::to_string(id)};
}

int Run(std::istream& script, RunnerUi& ui) {
  HeadlessFrame frame;
  std::string line;
  int number = 0;
  bool ctrl = false, shift = false;
  while (std::getline(script, line)) {
    ++number;
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#') continue;
    try {
      if (word == "new") {
        FrameModel(&frame).OnFileNew();
      } else if (word == "poke") {
        Poke(in);
      } else if (word == "settings") {
        std::string path;
        in >> path;
        ReadSettingsFile(path);
      } else if (word == "command") {
        int id = 0;
        if (!(in >> id)) throw ScriptError{"command needs an id"};
        FlagScope c(Flags().CtrlHeld, ctrl || Flags().CtrlHeld);
        FlagScope s(Flags().ShiftHeld, shift || Flags().ShiftHeld);
        ctrl = shift = false;
        Send(frame, id);
      } else if (word == "f2" || word == "f3") {
        // F2/F3, or their Ctrl and Shift variants when the key is held.
        const bool inverse = word == "f3";
        const int id = ctrl    ? (inverse ? 4117 : 4115)
                       : shift ? (inverse ? 4116 : 4114)
                               : (inverse ? 4019 : 4018);
        ctrl = shift = false;
        Send(frame, id);
      } else if (word == "open" || word == "save") {
        std::string path;
        std::getline(in >> std::ws, path);
        if (path.empty()) throw ScriptError{word + " needs a file"};
        RunnerUi::Answer a;
        a.isFile = true;
        a.text = path;
        ui.answers.push_front(a);
        Send(frame, word == "open" ? 4000 : 4001);
      } else if (word == "ctrl") {
        ctrl = true;
      } else if (word == "shift") {
        shift = true;
      } else if (word == "answer") {
        std::string kind;
        in >> kind;
        RunnerUi::Answer a;
        if (kind == "ok") {
          a.result = DialogResult::Ok;
        } else if (kind == "cancel") {
          a.result = DialogResult::Cancel;
        } else if (kind == "yes") {
          a.result = DialogResult::Yes;
        } else if (kind == "no") {
          a.result = DialogResult::No;
        } else if (kind == "file") {
          a.isFile = true;
          std::getline(in >> std::ws, a.text);
          if (a.text.empty()) throw ScriptError{"answer file needs a path"};
        } else if (kind == "files") {
          a.isFile = true;
          for (std::string name; in >> name;) a.files.push_back(name);
          if (a.files.empty()) throw ScriptError{"answer files needs paths"};
        } else if (kind == "text") {
          a.hasText = true;
          std::getline(in >> std::ws, a.text);
        } else {
          throw ScriptError{"unknown answer " + kind};
        }
        ui.answers.push_back(a);
      } else if (word == "status") {
        for (int i = 0; i < 6; ++i) std::cout << "pane " << i << ": " << ui.panes[i] << "\n";
      } else if (word == "quit") {
        frame.views.clear();
        SaveSettingsAtShutDown(LiveSettings());
        return 0;
      } else {
        throw ScriptError{"unknown statement " + word};
      }
      if (!ui.failure.empty()) throw ScriptError{ui.failure};
    } catch (const ScriptError& e) {
      std::cerr << "line " << number << ": " << e.what << "\n";
      return 2;
    }
  }
  frame.views.clear();
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  std::string home, scriptPath;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (scriptPath.empty()) {
      scriptPath = arg;
    } else {
      std::cerr << "usage: zep-run [--home DIR] SCRIPT\n";
      return 2;
    }
  }
  if (scriptPath.empty()) {
    std::cerr << "usage: zep-run [--home DIR] SCRIPT\n";
    return 2;
  }
  std::ifstream script(scriptPath);
  if (!script) {
    std::cerr << "cannot read " << scriptPath << "\n";
    return 2;
  }
  if (!InitProgramDirectory(home.empty() ? DefaultProgramDirectory()
                                         : std::filesystem::path(home))) {
    std::cerr << "cannot create the program directory\n";
    return 2;
  }
  QtImagingSession imaging;
  RegisterFileCommands();
  RunnerUi ui;
  SetUi(&ui);
  LoadSettingsAtStartUp(LiveSettings());
  RegisterResizeCommands();
  const int status = Run(script, ui);
  SetUi(nullptr);
  ShutDownProgramDirectory();
  return status;
}
