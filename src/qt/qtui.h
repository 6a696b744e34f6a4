#pragma once
// The Ui of the desktop: Qt message boxes owned by the active window, and the status panes.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

#include "platform/ui.h"

class StatusPanes;
class QPrinter;

// Brackets a modal dialog. When it has closed: a popup it left open (a file name's
// completion list) goes, the focus returns where it was (else to the owner's focus
// widget), so the menu shortcuts answer at once, and pending paint events are processed so
// that no dead dialog stays drawn over the image while the command works.
class DialogScope {
 public:
  explicit DialogScope(QWidget* owner);
  ~DialogScope();
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;

 private:
  QPointer<QWidget> focus_, owner_;
};

class QtUi : public Ui {
 public:
  QtUi(QWidget* owner, StatusPanes* panes);
  ~QtUi() override;

  DialogResult MessageBox(std::string_view text, std::string_view caption,
                          MessageStyle style) override;
  void SetPaneText(int pane, std::string_view text) override;
  void ShowProgressPane() override;
  void DrawProgress(int percent) override;
  void EndProgressPane() override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  DialogResult ShowPropertiesDialog(Dialog2& dialog) override;
  DialogResult ShowPrompt(Dialog1& dialog) override;
  void PlaySoundFile(const std::string& path) override;
  void SetMonitorPower(int power) override;
  void OpenUrl(const std::string& url) override;
  FileDialogAnswer OpenFileDialog(const FileDialogRequest& request) override;
  FileDialogAnswer SaveFileDialog(const FileDialogRequest& request) override;
  FileListAnswer OpenFilesDialog(const FileDialogRequest& request) override;
  bool MoveToTrash(const std::string& path) override;
  DialogResult ShowPageSetup(PageSetup& page, const PageSample& sample) override;
  std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup& page,
                                               std::string_view name) override;
  // Prints into this PDF file instead of on the printer (empty: the printer).
  void SetPrintFile(const QString& pdf) { printFile_ = pdf; }

 private:
  // Where a kind of file dialog was left: its folder and the file chosen last.
  struct FileDialogPlace {
    QString folder, file;
  };
  // A file dialog made for this one use and destroyed with its folder model when it
  // closes (a model left alive keeps rescanning its folder while the program is idle);
  // each kind reopens where it was left. With all, an open dialog that takes several
  // files and puts every chosen path there.
  FileDialogAnswer RunFileDialog(FileDialogPlace& place, bool save,
                                 const FileDialogRequest& request,
                                 std::vector<std::string>* all = nullptr);
  FileDialogPlace openPlace_, savePlace_, openFilesPlace_;
  // The printer the page setup asks for papers, minimum margins and resolution.
  QPrinter& Printer();
  std::unique_ptr<QPrinter> printer_;
  QString printFile_;
  QPointer<QWidget> owner_;
  StatusPanes* panes_;
};
