#pragma once
// The user-facing half of the desktop seam: everything the toolkit-free code asks of the
// screen. The Qt adapter implements it for real; tests answer it from a script.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Buttons pressed in a message box. The numbers are those that stored settings and
// recorded answers have always used, so they stay fixed.
enum class DialogResult : int {
  Ok = 1,
  Cancel = 2,
  Abort = 3,
  Retry = 4,
  Ignore = 5,
  Yes = 6,
  No = 7
};

enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class MessageIcon { None, Information, Warning, Error, Question };

class Dialog1;
class Dialog2;

struct MessageStyle {
  MessageButtons buttons = MessageButtons::Ok;
  MessageIcon icon = MessageIcon::None;
  // The box tells what the user asked to see (file information, a report, a figure) and
  // reports no failure. The screen shows no difference; a script runner needs to tell
  // such a box from the plain boxes that report failures.
  bool notice = false;
};

// A file dialog of Open or Save As. filter is the program's form: "|" separates each
// description from its patterns and ends each pair; filterIndex is 1-based (0: the first).
struct FileDialogRequest {
  std::string filter;
  int filterIndex = 0;
  std::string initialPath;
  std::string defaultExtension;  // save dialogs; empty for open dialogs
};

// What the user chose: ok false when the dialog was cancelled. extensionTyped tells whether
// the chosen name has an extension of its own (the caller supplies one otherwise).
struct FileDialogAnswer {
  bool ok = false;
  std::string path;
  int filterIndex = 1;
  bool extensionTyped = false;
};

// What the user chose in the open dialog with multiple selection: the full paths in the
// order the dialog gives them; ok false when the dialog was cancelled.
struct FileListAnswer {
  bool ok = false;
  std::vector<std::string> paths;
};

// The page a print is laid out on, as the last confirmed page setup left it: lengths in
// thousandths of an inch, the paper as oriented, the minimum margins those of the
// printer's printable area, and the printer's resolutions in dots per inch. A paper width
// of 0 means no page setup was confirmed yet.
struct PageSetup {
  int32_t marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
  int32_t minMarginLeft = 0, minMarginTop = 0, minMarginRight = 0, minMarginBottom = 0;
  int32_t paperWidth = 0, paperHeight = 0;
  int32_t hdpi = 0, vdpi = 0;
};

// A 24-bit bitmap as the seam passes it: blue, green, red bytes, rows padded to four
// bytes, the bottom picture row first in memory.
struct BitmapView {
  const uint8_t* bits = nullptr;
  int width = 0, height = 0;
};

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// What the page setup dialog draws in its sample sheet: the picture, placed by place
// (page data, sheet width and height in pixels) -> its rectangle from the sheet's top
// left corner.
struct PageSample {
  BitmapView bitmap;
  std::function<PixelRect(const PageSetup&, int, int)> place;
};

// One document on the printer, ended by EndDocument or Abort (the destructor aborts a
// document left open). Positions and sizes are printer dots from the printable area's top
// left corner.
class PrintJob {
 public:
  virtual ~PrintJob() = default;
  virtual bool StartPage() = 0;
  // Stretches the whole bitmap onto the rectangle; smooth asks for the printer's own
  // filtered stretching, otherwise pixels are copied (the bitmap already has the size).
  virtual void DrawBitmap(const BitmapView& bitmap, int x, int y, int width, int height,
                          bool smooth) = 0;
  virtual void EndPage() = 0;
  virtual void EndDocument() = 0;
  virtual void Abort() = 0;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal message box owned by the active window. An empty caption means the
  // program's name.
  virtual DialogResult MessageBox(std::string_view text, std::string_view caption,
                                  MessageStyle style) = 0;

  // Writes a status-bar pane and repaints the status bar at once (the event loop does
  // not run while a command works).
  virtual void SetPaneText(int pane, std::string_view text) = 0;

  // Turns the progress pane (pane 5) into the owner-drawn progress bar, 300 pixels wide.
  virtual void ShowProgressPane() = 0;

  // Repaints the progress pane at once with a bar of 3 pixels per percent; values above
  // 100 are drawn as they come.
  virtual void DrawProgress(int percent) = 0;

  // Returns the progress pane to its plain style after an operation.
  virtual void EndProgressPane() {}

  // The wait cursor over the application while an operation runs.
  virtual void BeginWaitCursor() {}
  virtual void EndWaitCursor() {}
  // Puts the monitor to sleep (1) or wakes it (-1), where the desktop allows it.
  virtual void SetMonitorPower(int) {}
  // Plays a sound file without waiting for it; a missing file is silence.
  virtual void PlaySoundFile(const std::string&) {}
  // Opens a web page or document in the desktop's browser.
  virtual void OpenUrl(const std::string&) {}

  // Shows the properties dialog modally on the model's current page (the adapter wakes
  // the monitor first). The Ui types into the model's rows, selects pages, presses its
  // restore buttons, and returns Ok only after dialog.PressOk() returned true, or Cancel.
  // An untouched dialog has nothing to read back, so a Ui that types nothing may return
  // Ok without calling PressOk.
  virtual DialogResult ShowPropertiesDialog(Dialog2& dialog) = 0;

  // Shows the prompt dialog modally: its title, prompt and the edit box holding
  // dialog.text, which the Ui may change. Returns Ok or Cancel.
  virtual DialogResult ShowPrompt(Dialog1& dialog) = 0;

  // The open dialog (the file must exist) and the save dialog (asks before overwriting),
  // modal. A Ui that cannot ask anybody answers cancelled.
  virtual FileDialogAnswer OpenFileDialog(const FileDialogRequest&) { return {}; }
  virtual FileDialogAnswer SaveFileDialog(const FileDialogRequest&) { return {}; }
  // The open dialog allowing several files at once (each must exist), modal.
  virtual FileListAnswer OpenFilesDialog(const FileDialogRequest&) { return {}; }

  // Moves a file to the desktop's trash, from which the user can restore it. False when
  // there is no trash to move it to: the file is then left where it is, never deleted.
  virtual bool MoveToTrash(const std::string&) { return false; }
  // The page setup dialog: paper, orientation and margins of page (filled from the
  // printer when it has no paper yet), with sample drawn in its page sample. On Ok page
  // holds the new data, the printer's minimum margins and resolutions included.
  virtual DialogResult ShowPageSetup(PageSetup&, const PageSample&) { return DialogResult::Cancel; }
  // Starts a document called name on the printer, laid out by page; null when the printer
  // would not start. Throws Cancelled when the user cancels a file chooser shown first.
  virtual std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup&, std::string_view) {
    return nullptr;
  }
};

// Whether a file name (the part after the last '/') has an extension.
bool HasExtension(std::string_view path);

// The process-wide Ui. Until one is installed, a console Ui prints messages to stderr and
// answers every box with its first button.
Ui& GetUi();
// Installs ui (not owned); nullptr restores the console Ui. Returns the previous one.
Ui* SetUi(Ui* ui);
