#pragma once
// The Ui of the desktop: Qt message boxes owned by the active window, and the status panes.
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

class QFileDialog;

#include "platform/ui.h"

class StatusPanes;
class QPrinter;

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
  // One open and one save dialog for the process, made on first use, so that each keeps
  // its folder from one use to the next; with all, an open dialog that takes several files
  // and puts every chosen path there.
  FileDialogAnswer RunFileDialog(std::unique_ptr<QFileDialog>& dialog, bool save,
                                 const FileDialogRequest& request,
                                 std::vector<std::string>* all = nullptr);
  std::unique_ptr<QFileDialog> openDialog_, saveDialog_, openFilesDialog_;
  // The printer the page setup asks for papers, minimum margins and resolution.
  QPrinter& Printer();
  std::unique_ptr<QPrinter> printer_;
  QString printFile_;
  QPointer<QWidget> owner_;
  StatusPanes* panes_;
};
