// zep-run: runs a script of commands headlessly through the image windows' dispatcher,
// the same road the menus take.
//
//   zep-run [--home DIR] [--keep-going] [--threads N] SCRIPT
//   zep-run --list-commands
//
// --threads N runs the heavy loops on N threads (1 to 1024; 1 runs them on the calling
// thread alone), over ZEP_THREADS and the hardware's count.
// --list-commands prints every command of the program, a line each, tab-separated: id,
// name, menu path, caption, accelerator, and "built" or "not built".
//
// One statement a line ('#' starts a comment):
//   new                      File New: opens an image window
//   set NAME VALUE           sets the settings member NAME (NAME[I] for element I of an
//                            array) as its properties row reads VALUE: "True" or "False"
//                            (or the flag's two names), the name of a choice, an integer,
//                            a number or "Infinity", a text; refused values stop the run
//   get NAME                 prints "NAME = VALUE" in the form set takes
//   poke OFFSET TYPE VALUE   writes a value into the settings record; TYPE is one of
//                            u8, i32, u32, f32, f64, str
//   settings FILE            reads a settings record file over the live record
//   command NAME|ID          sends a command as the menu does (NAME as CommandId spells
//                            it: "Lanczos"; or its number)
//   f2 | f3                  presses F2 or F3 (Ctrl+ or Shift+ after ctrl or shift)
//   ctrl | shift             holds the key for the next command or F2/F3
//   answer ok|cancel|yes|no  the answer of the next dialog or message box
//   answer text TEXT         types TEXT into the next prompt and presses OK
//   answer file PATH         picks PATH in the next file dialog (a file dialog without a
//                            queued file answer fails the run)
//   answer files A B ...     picks the files A, B, ... (in that order) in the next open
//                            dialog for several files
//   answer print FILE        the next print document goes into the PDF file FILE (a print
//                            without one fails the run: there is no printer)
//   escape after N           the cancel poll finds Escape after N more polls that find
//                            nothing (an animation polls once a frame: N frames play)
//   open FILE                Open Image with FILE picked in its dialog
//   save FILE                Save Image As with FILE picked in its dialog
//   print FILE               Print Image into the PDF file FILE
//   status                   prints the six status panes
//   timing                   prints the wall time of the last command, F2 or F3 and the
//                            longest stretch of it without a cancel poll (how long a
//                            user waits for Escape to be seen), in seconds
//   quit                     the shut-down: writes "zep.ini" and ends
// Every dialog and message box is printed with its caption; one without a queued answer
// is answered OK. A statement fails when it cannot run, when an open, save or print
// leaves no file behind it, or when a message box with OK alone reports something other
// than what was asked to be seen (a failure or a warning). A failure ends the run with
// status 1, the line number and the message; with --keep-going the run goes on and ends
// with status 1. After a failure the rest of its statement has its dialogs cancelled.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/framemodel.h"
#include "app/imageview.h"
#include "app/menus.h"
#include "fileio/imagefile.h"
#include "ops/operations.h"
#include "params/commands.h"
#include "params/dialog1.h"
#include "params/dialog2.h"
#include "params/fields.h"
#include "params/pages.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/ui.h"
#include "qt/headlessprint.h"
#include "qt/qtfiles.h"

namespace fs = std::filesystem;

namespace {

struct ScriptError {
  std::string what;
};

class RunnerUi : public Ui {
 public:
  explicit RunnerUi(HeadlessPrinting& printing) : printing_(printing) {}

  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override {
    std::cout << "[message" << (caption.empty() ? "" : ": ") << caption << "] " << text << "\n";
    // A box with more buttons asks; one with OK alone tells, and what it tells is a
    // failure unless it is what the user asked to see.
    if (style.buttons == MessageButtons::Ok && !style.notice) {
      Fail(caption.empty() ? std::string(text) : std::string(caption) + ": " + std::string(text));
    }
    // A box with OK alone can only be closed with OK.
    return Next(DialogResult::Ok,
                style.buttons == MessageButtons::Ok ? DialogResult::Ok : DialogResult::Cancel)
        .result;
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
    if (a.kind == Answer::Text) dialog.text = a.text;
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
    if (!Waiting(Answer::Files)) {
      Fail("the open dialog for several files has no files answer");
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
  DialogResult ShowPageSetup(PageSetup& page, const PageSample& sample) override {
    std::cout << "[page setup]\n";
    const Answer a = Next(DialogResult::Ok);
    if (a.result != DialogResult::Ok) return DialogResult::Cancel;
    page = printing_.ConfirmPageSetup(page, sample);
    std::cout << "[page setup confirmed] paper " << page.paperWidth << " x " << page.paperHeight
              << ", margins " << page.marginLeft << " " << page.marginTop << " " << page.marginRight
              << " " << page.marginBottom << ", least " << page.minMarginLeft << " "
              << page.minMarginTop << " " << page.minMarginRight << " " << page.minMarginBottom
              << ", " << page.hdpi << " x " << page.vdpi << " dpi\n";
    return DialogResult::Ok;
  }
  std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup& page,
                                               std::string_view name) override {
    if (!Waiting(Answer::Print)) {
      Fail("the print has no file answer");
      return nullptr;
    }
    const std::string pdf = answers.front().text;
    answers.pop_front();
    std::cout << "[print] " << pdf << "\n";
    return printing_.StartPdf(page, name, pdf);
  }

  struct Answer {
    // Files, lists of files and print files wait for their own dialog or document.
    enum Kind { Button, Text, File, Files, Print } kind = Button;
    DialogResult result = DialogResult::Ok;
    std::string text;
    std::vector<std::string> files;
  };
  // Only the first failure of a statement is told.
  void Fail(const std::string& what) {
    if (failure.empty()) failure = what;
  }

  std::deque<Answer> answers;
  std::string panes[6];
  std::string failure;  // what went wrong in the statement running

 private:
  bool Waiting(Answer::Kind kind) const { return !answers.empty() && answers.front().kind == kind; }
  // After a failure nobody is there to put it right: the rest of the statement is
  // answered afterFailure (cancelled) rather than asked again.
  Answer Next(DialogResult fallback, DialogResult afterFailure = DialogResult::Cancel) {
    Answer a;
    a.result = failure.empty() ? fallback : afterFailure;
    if (!failure.empty() || answers.empty()) return a;
    const Answer::Kind kind = answers.front().kind;
    if (kind != Answer::Button && kind != Answer::Text) return a;
    a = answers.front();
    answers.pop_front();
    return a;
  }
  FileDialogAnswer FileDialog(const char* kind, const FileDialogRequest& r) {
    std::cout << "[" << kind << " dialog] " << r.initialPath << "\n";
    if (!Waiting(Answer::File)) {
      Fail(std::string("the ") + kind + " dialog has no file answer");
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

  HeadlessPrinting& printing_;
};

// The cancel poll of a script: Escape is found when the script said so, never otherwise.
class RunnerPlatform : public SystemPlatform {
 public:
  using Clock = std::chrono::steady_clock;
  bool CancelRequested() override {
    Mark();
    if (pollsBeforeEscape < 0) return false;
    return pollsBeforeEscape-- == 0;
  }
  // Starts timing a command: its start counts as a poll.
  void StartTiming() {
    start = last = Clock::now();
    longestGap = 0;
  }
  // Ends it: the stretch after the last poll counts too.
  void EndTiming() {
    Mark();
    elapsed = std::chrono::duration<double>(last - start).count();
  }
  int64_t pollsBeforeEscape = -1;  // -1: no Escape to come
  double elapsed = 0, longestGap = 0;

 private:
  void Mark() {
    const Clock::time_point now = Clock::now();
    longestGap = std::max(longestGap, std::chrono::duration<double>(now - last).count());
    last = now;
  }
  Clock::time_point start = Clock::now(), last = start;
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

// A member of the settings record as a row of the properties dialog of its own would
// show and read it: the same texts and the same accepted values, without the fallbacks
// some pages apply to a refused text (a script's refused value is an error), and within
// what the member's type holds (a page's colour keeps the low byte of 300; a script is
// told).
struct MemberRow {
  explicit MemberRow(const std::string& written);
  MemberRow(const MemberRow&) = delete;
  MemberRow& operator=(const MemberRow&) = delete;

  Field field;
  PageRow row;
};

MemberRow::MemberRow(const std::string& written) : field{} {
  std::string name = written;
  int element = 0;
  bool indexed = false;
  if (const size_t open = written.find('['); open != std::string::npos && written.back() == ']') {
    name = written.substr(0, open);
    const char* first = written.data() + open + 1;
    const char* last = written.data() + written.size() - 1;
    const auto [end, ec] = std::from_chars(first, last, element);
    if (ec != std::errc() || end != last) throw ScriptError{"bad element in " + written};
    indexed = true;
  }
  const Field* member = FindField(name);
  if (!member) throw ScriptError{"no settings member named " + name};
  if (element < 0 || element >= member->count) {
    throw ScriptError{name + " has " + std::to_string(member->count) + " elements"};
  }
  if (member->count > 1 && !indexed) {
    throw ScriptError{name + " is an array: name one element as " + name + "[I]"};
  }
  field = *member;
  Accept& a = field.accept;
  auto within = [&a](double least, double most) {
    a.unchecked = false;
    if (least > a.min) a.min = least, a.minOpen = false;
    if (most < a.max) a.max = most, a.maxOpen = false;
  };
  row.label = written;
  row.field = &field;
  row.element = element;
  switch (field.type) {
    case FieldType::Text:
      row.kind = RowKind::Text;
      break;
    case FieldType::Flag:
      row.kind = RowKind::Flag;
      break;
    case FieldType::Float:
    case FieldType::Double:
      row.kind = a.choices ? RowKind::Choice : RowKind::Number;
      break;
    case FieldType::Byte:
      within(0, 255);
      row.kind = a.choices ? RowKind::Choice : RowKind::Integer;
      break;
    case FieldType::Int32:
      within(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
      row.kind = a.choices ? RowKind::Choice : RowKind::Integer;
      break;
    case FieldType::UInt32:
      within(0, std::numeric_limits<uint32_t>::max());
      row.kind = a.choices ? RowKind::Choice : RowKind::Integer;
      break;
  }
}

void SetMember(const std::string& written, const std::string& value) {
  const MemberRow member(written);
  switch (ReadRow(LiveSettings(), member.row, value)) {
    case ReadOutcome::Stored:
      return;
    case ReadOutcome::NotInteger:
      throw ScriptError{written + " takes an integer, not " + value};
    case ReadOutcome::NotNumber:
      throw ScriptError{written + " takes a number, not " + value};
    case ReadOutcome::Kept:
      break;
  }
  throw ScriptError{written + " does not accept " + value};
}

// Numbers in full (the shortest text that reads back to the same value); everything else
// as the properties row shows it.
std::string MemberText(const std::string& written) {
  const MemberRow member(written);
  const Field& f = member.field;
  const PageRow& row = member.row;
  if (row.kind == RowKind::Integer || row.kind == RowKind::Number) {
    const double v = ReadNumber(LiveSettings(), f, row.element);
    if (v != f.accept.infinity) {
      char text[64];
      const auto r = f.type == FieldType::Float ? std::to_chars(text, text + 64, float(v))
                                                : std::to_chars(text, text + 64, v);
      return std::string(text, r.ptr);
    }
  }
  return ShowRow(LiveSettings(), row);
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
  FrameModel model(&frame);
  if (!RouteCommand(frame.active(), model, id))
    throw ScriptError{"no window handles command " + std::to_string(id)};
}

// A command by its name ("Lanczos") or by its number.
int CommandNumber(const std::string& word) {
  if (const int id = CommandIdOfName(word)) return id;
  int id = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), id);
  if (ec != std::errc() || end != word.data() + word.size()) {
    throw ScriptError{"no command is called " + word};
  }
  return id;
}

// The rest of the line, which must not be empty.
std::string Rest(std::istringstream& in, const std::string& what) {
  std::string text;
  std::getline(in >> std::ws, text);
  if (text.empty()) throw ScriptError{what};
  return text;
}

// When a file was last written; nothing when there is none.
std::optional<fs::file_time_type> WriteTime(const std::string& path) {
  std::error_code ec;
  const fs::file_time_type t = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return t;
}

struct Options {
  bool keepGoing = false;
};

int Run(std::istream& script, RunnerUi& ui, RunnerPlatform& platform, const Options& options) {
  HeadlessFrame frame;
  std::string line;
  int number = 0;
  bool ctrl = false, shift = false, failed = false;
  while (std::getline(script, line)) {
    ++number;
    std::istringstream in(line);
    std::string word;
    if (!(in >> word) || word[0] == '#') continue;
    ui.failure.clear();
    bool quit = false;
    try {
      if (word == "new") {
        FrameModel(&frame).OnFileNew();
      } else if (word == "set") {
        std::string name;
        if (!(in >> name)) throw ScriptError{"set needs NAME VALUE"};
        std::string value;
        std::getline(in >> std::ws, value);
        SetMember(name, value);
      } else if (word == "get") {
        std::string name;
        if (!(in >> name)) throw ScriptError{"get needs a NAME"};
        const std::string text = MemberText(name);
        std::cout << name << " = " << text << "\n";
      } else if (word == "poke") {
        Poke(in);
      } else if (word == "settings") {
        ReadSettingsFile(Rest(in, "settings needs a file"));
      } else if (word == "command") {
        std::string word;
        if (!(in >> word)) throw ScriptError{"command needs an id"};
        const int id = CommandNumber(word);
        FlagScope c(Flags().CtrlHeld, ctrl || Flags().CtrlHeld);
        FlagScope s(Flags().ShiftHeld, shift || Flags().ShiftHeld);
        ctrl = shift = false;
        platform.StartTiming();
        Send(frame, id);
        platform.EndTiming();
      } else if (word == "f2" || word == "f3") {
        // F2/F3, or their Ctrl and Shift variants when the key is held.
        const bool inverse = word == "f3";
        using Id = CommandId;
        const Id id = ctrl    ? (inverse ? Id::CtrlF3 : Id::CtrlF2)
                      : shift ? (inverse ? Id::ShiftF3 : Id::ShiftF2)
                              : (inverse ? Id::F3ProgrammedOperation : Id::F2ProgrammedOperation);
        ctrl = shift = false;
        platform.StartTiming();
        Send(frame, int(id));
        platform.EndTiming();
      } else if (word == "open") {
        RunnerUi::Answer a;
        a.kind = RunnerUi::Answer::File;
        a.text = Rest(in, "open needs a file");
        ui.answers.push_front(a);
        Send(frame, int(CommandId::OpenImage));
        // Its message says why it failed; a window that does not hold the file fails too.
        const CImageView* view = frame.active();
        if (ui.failure.empty() && (!view || view->filePath != a.text || !view->filePresent)) {
          throw ScriptError{a.text + " was not opened"};
        }
      } else if (word == "save" || word == "print") {
        RunnerUi::Answer a;
        a.kind = word == "save" ? RunnerUi::Answer::File : RunnerUi::Answer::Print;
        a.text = Rest(in, word + " needs a file");
        CImageView* view = frame.active();
        // A name without an extension is given the one of the file type picked.
        std::string path = a.text;
        if (word == "save" && view && !HasExtension(path)) {
          path =
              path + "." +
              DefaultSaveExtension(view->filterIndex > 0 ? view->filterIndex : 1, view->HasFloat());
        }
        const auto before = WriteTime(path);
        ui.answers.push_front(a);
        Send(frame, int(word == "save" ? CommandId::SaveImageAs : CommandId::PrintImage));
        const auto after = WriteTime(path);
        if (ui.failure.empty() && (!after || after == before)) {
          throw ScriptError{"nothing was written to " + path};
        }
      } else if (word == "ctrl") {
        ctrl = true;
      } else if (word == "shift") {
        shift = true;
      } else if (word == "escape") {
        std::string after;
        int64_t polls = -1;
        if (!(in >> after >> polls) || after != "after" || polls < 0) {
          throw ScriptError{"escape needs after N"};
        }
        platform.pollsBeforeEscape = polls;
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
          a.kind = RunnerUi::Answer::File;
          a.text = Rest(in, "answer file needs a path");
        } else if (kind == "files") {
          a.kind = RunnerUi::Answer::Files;
          for (std::string name; in >> name;) a.files.push_back(name);
          if (a.files.empty()) throw ScriptError{"answer files needs paths"};
        } else if (kind == "print") {
          a.kind = RunnerUi::Answer::Print;
          a.text = Rest(in, "answer print needs a file");
        } else if (kind == "text") {
          a.kind = RunnerUi::Answer::Text;
          std::getline(in >> std::ws, a.text);
        } else {
          throw ScriptError{"unknown answer " + kind};
        }
        ui.answers.push_back(a);
      } else if (word == "status") {
        for (int i = 0; i < 6; ++i) std::cout << "pane " << i << ": " << ui.panes[i] << "\n";
      } else if (word == "timing") {
        std::cout << "time " << platform.elapsed << " s, longest poll gap "
                  << platform.longestGap << " s\n";
      } else if (word == "quit") {
        frame.views.clear();
        SaveSettingsAtShutDown(LiveSettings());
        quit = true;
      } else {
        throw ScriptError{"unknown statement " + word};
      }
      if (!ui.failure.empty()) throw ScriptError{ui.failure};
    } catch (const ScriptError& e) {
      std::cerr << "line " << number << ": " << e.what << "\n";
      failed = true;
      if (!options.keepGoing) return 1;
    }
    if (quit) return failed ? 1 : 0;
  }
  frame.views.clear();
  return failed ? 1 : 0;
}

// The command table as tab-separated lines, with whether each command's handler is built.
void ListCommands() {
  for (const CommandDescriptor& d : CommandTable()) {
    std::string path;
    if (d.HasMenuItem()) {
      path = MenuTitle(static_cast<int>(d.menu));
      if (d.submenu) path = path + "/" + d.submenu;
    }
    std::cout << d.Id() << '\t' << CommandIdName(d.Id()) << '\t' << path << '\t'
              << (d.caption ? d.caption : "") << '\t' << (d.key ? d.key : "") << '\t'
              << (IsCommandBuilt(d.Id()) ? "built" : "not built") << '\n';
  }
}
}  // namespace

int main(int argc, char** argv) {
  const char* usage =
      "usage: zep-run [--home DIR] [--keep-going] [--threads N] SCRIPT\n"
      "       zep-run --list-commands\n";
  if (argc == 2 && std::string(argv[1]) == "--list-commands") {
    RegisterOperations();
    ListCommands();
    return 0;
  }
  std::string home, scriptPath;
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg == "--keep-going") {
      options.keepGoing = true;
    } else if (arg == "--threads" && i + 1 < argc) {
      const int threads = ParseThreadCount(argv[++i]);
      if (threads == 0) {
        std::cerr << "bad thread count " << argv[i] << "\n" << usage;
        return 2;
      }
      SetParallelThreads(threads);
    } else if (scriptPath.empty()) {
      scriptPath = arg;
    } else {
      std::cerr << usage;
      return 2;
    }
  }
  if (scriptPath.empty()) {
    std::cerr << usage;
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
  // The printing's application object first: the image library then uses it.
  HeadlessPrinting printing;
  QtImagingSession imaging;
  RegisterOperations();
  RunnerUi ui(printing);
  RunnerPlatform platform;
  SetUi(&ui);
  SetPlatform(&platform);
  LoadSettingsAtStartUp(LiveSettings());
  const int status = Run(script, ui, platform, options);
  SetPlatform(nullptr);
  SetUi(nullptr);
  ShutDownProgramDirectory();
  return status;
}
