#pragma once
// A Ui for tests: every message box and dialog must have been expected, in order, with
// the answer to give; an unexpected one or one left unanswered at the end fails the
// test. Everything shown is recorded. Ready-made dialog answers are in dialog_scripts.h.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

class ScriptedUi : public Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
    MessageStyle style;
  };

  // Installs itself as the process Ui; the destructor restores the previous one and
  // fails the test when expected boxes never came.
  ScriptedUi();
  ~ScriptedUi() override;
  ScriptedUi(const ScriptedUi&) = delete;
  ScriptedUi& operator=(const ScriptedUi&) = delete;

  // The next box must show exactly this text; it is answered with answer.
  ScriptedUi& ExpectMessage(const std::string& text, DialogResult answer = DialogResult::Ok);
  // The next box must show a text starting with prefix.
  ScriptedUi& ExpectMessageStartingWith(const std::string& prefix,
                                        DialogResult answer = DialogResult::Ok);
  // The next call must be the properties dialog; script plays the user on the model and
  // returns the button that ends it.
  using PropertiesScript = std::function<DialogResult(Dialog2&)>;
  ScriptedUi& ExpectProperties(PropertiesScript script);
  // The next call must be the prompt dialog; script may change dialog.text.
  using PromptScript = std::function<DialogResult(Dialog1&)>;
  ScriptedUi& ExpectPrompt(PromptScript script);
  // The next call must be the open (save) file dialog; it is answered with answer, and its
  // request is kept in fileDialogs.
  ScriptedUi& ExpectOpenDialog(FileDialogAnswer answer);
  ScriptedUi& ExpectSaveDialog(FileDialogAnswer answer);
  // The next call must be the open dialog with multiple selection; its request is kept in
  // fileDialogs too.
  ScriptedUi& ExpectOpenFilesDialog(FileListAnswer answer);
  // The next call must be the page setup dialog; script may change the page data and
  // look at the sample.
  using PageSetupScript = std::function<DialogResult(PageSetup&, const PageSample&)>;
  ScriptedUi& ExpectPageSetup(PageSetupScript script);
  // Fails the test now when expected boxes are still waiting.
  void VerifyAllAnswered();

  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override;
  void SetPaneText(int pane, std::string_view text) override;
  void ShowProgressPane() override { ++progressPaneShown; }
  void DrawProgress(int percent) override { progressDrawn.push_back(percent); }
  DialogResult ShowPropertiesDialog(Dialog2& dialog) override;
  DialogResult ShowPrompt(Dialog1& dialog) override;
  FileDialogAnswer OpenFileDialog(const FileDialogRequest& request) override;
  FileDialogAnswer SaveFileDialog(const FileDialogRequest& request) override;
  FileListAnswer OpenFilesDialog(const FileDialogRequest& request) override;
  // Moves the file into trashFolder when one is set (the test's stand-in for the desktop
  // trash); without one there is no trash and the file stays.
  bool MoveToTrash(const std::string& path) override;
  DialogResult ShowPageSetup(PageSetup& page, const PageSample& sample) override;
  // Prints into printed instead of onto paper.
  std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup& page,
                                               std::string_view name) override;

  // A document as the printer received it.
  struct PrintedBitmap {
    int x, y, width, height;
    bool smooth;
    int bitmapWidth, bitmapHeight;
    std::vector<uint8_t> bytes;  // the bitmap's rows as passed, padding included
  };
  struct PrintedDocument {
    std::string name;
    PageSetup page;
    bool pageStarted = false, pageEnded = false, ended = false, aborted = false;
    std::vector<PrintedBitmap> drawn;
  };
  std::vector<PrintedDocument> printed;
  bool printerStartFails = false;  // StartPrintDocument returns null
  bool pageStartFails = false;     // StartPage returns false

  std::vector<Message> messages;
  std::vector<std::string> paneText = std::vector<std::string>(6);
  std::vector<std::pair<int, std::string>> paneHistory;  // every pane write, in order
  std::vector<int> progressDrawn;
  int progressPaneShown = 0;
  std::vector<FileDialogRequest> fileDialogs;
  std::string trashFolder;

 private:
  struct Expected {
    std::string text;  // a message's text, or what kind of dialog is expected
    bool prefix = false;
    DialogResult answer = DialogResult::Cancel;
    PropertiesScript properties;
    PromptScript prompt;
    FileDialogAnswer file;
    PageSetupScript pageSetup;
    FileListAnswer files;
  };
  // Takes the next expectation when it is of the kind the call is; fails the test and
  // returns false otherwise.
  bool Next(const char* what, Expected& e, bool dialog);
  static Expected Expect(const std::string& text, bool prefix = false,
                         DialogResult answer = DialogResult::Cancel);
  FileDialogAnswer FileDialog(const char* what, const FileDialogRequest& request);
  std::deque<Expected> expected_;
  Ui* previous_;
};
