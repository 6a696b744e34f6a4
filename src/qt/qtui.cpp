#include "qt/qtui.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>
#include <QUrl>

#include "platform/errors.h"
#include "qt/dialogs.h"
#include "qt/namefilters.h"
#include "qt/printing.h"
#include "qt/qtfiles.h"
#include "qt/statuspanes.h"

namespace {
QString FromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QMessageBox::StandardButtons Buttons(MessageButtons b) {
  switch (b) {
    case MessageButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::RetryCancel:
      return QMessageBox::Retry | QMessageBox::Cancel;
    case MessageButtons::Ok:
      break;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon Icon(MessageIcon i) {
  switch (i) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

DialogResult Result(int button) {
  switch (button) {
    case QMessageBox::Cancel:
      return DialogResult::Cancel;
    case QMessageBox::Yes:
      return DialogResult::Yes;
    case QMessageBox::No:
      return DialogResult::No;
    case QMessageBox::Retry:
      return DialogResult::Retry;
    default:
      return DialogResult::Ok;
  }
}
}  // namespace

DialogScope::DialogScope(QWidget* owner) : focus_(QApplication::focusWidget()), owner_(owner) {}

DialogScope::~DialogScope() {
  // A popup that outlived its dialog would swallow the next click.
  for (int i = 0; i < 8 && QApplication::activePopupWidget(); ++i) {
    QApplication::activePopupWidget()->close();
  }
  QWidget* target = focus_.data();
  if (!target && owner_) target = owner_->focusWidget() ? owner_->focusWidget() : owner_.data();
  if (target && target->isVisible()) {
    target->window()->activateWindow();
    target->setFocus(Qt::OtherFocusReason);
  }
  // Paint now: the command's work may keep the event loop away for a long while.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (target && target->isVisible()) target->window()->repaint();
}

DialogResult QtUi::MessageBox(std::string_view text, std::string_view caption, MessageStyle style) {
  QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : owner_.data();
  DialogScope scope(owner_.data());
  QMessageBox box(Icon(style.icon), caption.empty() ? QStringLiteral("ZEP") : FromUtf8(caption),
                  FromUtf8(text), Buttons(style.buttons), parent);
  return Result(box.exec());
}

void QtUi::SetPaneText(int pane, std::string_view text) {
  if (panes_) panes_->setText(pane, FromUtf8(text));
}

void QtUi::ShowProgressPane() {
  if (panes_) panes_->showProgressPane();
}

void QtUi::DrawProgress(int percent) {
  if (panes_) panes_->drawProgress(percent);
}

void QtUi::EndProgressPane() {
  if (panes_) panes_->endProgress();
}

void QtUi::BeginWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
void QtUi::EndWaitCursor() { QApplication::restoreOverrideCursor(); }

namespace {
QWidget* DialogParent(QWidget* owner) {
  return QApplication::activeWindow() ? QApplication::activeWindow() : owner;
}
}  // namespace

DialogResult QtUi::ShowPropertiesDialog(Dialog2& dialog) {
  DialogScope scope(owner_.data());
  PropertiesDialog box(dialog, DialogParent(owner_.data()));
  return box.exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
}

QtUi::QtUi(QWidget* owner, StatusPanes* panes) : owner_(owner), panes_(panes) {}
QtUi::~QtUi() = default;

QPrinter& QtUi::Printer() {
  if (!printer_) {
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    // Without a system printer the output is a PDF file; 300 dpi prints well and keeps the
    // resampled picture a sensible size.
    if (printer_->outputFormat() == QPrinter::PdfFormat || !printFile_.isEmpty()) {
      printer_->setOutputFormat(QPrinter::PdfFormat);
      printer_->setResolution(300);
    }
  }
  return *printer_;
}

DialogResult QtUi::ShowPageSetup(PageSetup& page, const PageSample& sample) {
  DialogScope scope(owner_.data());
  PageSetupDialog box(page, sample, Printer(), DialogParent(owner_.data()));
  if (box.exec() != QDialog::Accepted) return DialogResult::Cancel;
  page = box.page();
  return DialogResult::Ok;
}

namespace {
// The Print to File chooser of a desktop without a printer; empty when cancelled.
QString ChoosePdfFile(QWidget* parent) {
  QFileDialog dialog(parent, QStringLiteral("Print to File"), QString(),
                     QStringLiteral("PDF files (*.pdf)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // PDF is the only format written, so a bare name gets its extension.
  dialog.setDefaultSuffix(QStringLiteral("pdf"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  QString file = dialog.selectedFiles().front();
  if (!HasExtension(file.toStdString())) file += QStringLiteral(".pdf");
  return file;
}
}  // namespace

std::unique_ptr<PrintJob> QtUi::StartPrintDocument(const PageSetup& page, std::string_view name) {
  QString file = printFile_;
  if (file.isEmpty() && Printer().outputFormat() == QPrinter::PdfFormat) {
    {
      DialogScope scope(owner_.data());
      file = ChoosePdfFile(DialogParent(owner_.data()));
    }
    if (file.isEmpty()) throw Cancelled{};  // the user's choice: nothing to report
  }
  return StartQtPrintJob(page, name, file);
}

DialogResult QtUi::ShowPrompt(Dialog1& dialog) {
  DialogScope scope(owner_.data());
  PromptDialog box(dialog, DialogParent(owner_.data()));
  return box.exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
}

void QtUi::PlaySoundFile(const std::string& path) {
  if (!QFileInfo::exists(QString::fromStdString(path))) return;  // a missing file is silence
  static QSoundEffect* effect = nullptr;
  if (!effect) effect = new QSoundEffect(qApp);
  effect->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
  effect->play();
}

void QtUi::SetMonitorPower(int power) {
  // Best effort: X11 displays with DPMS switch the monitor through xset; elsewhere the
  // option simply has no effect.
  if (qEnvironmentVariableIsEmpty("DISPLAY")) return;
  QProcess::startDetached(QStringLiteral("xset"),
                          {QStringLiteral("dpms"), QStringLiteral("force"),
                           power > 0 ? QStringLiteral("off") : QStringLiteral("on")});
}

void QtUi::OpenUrl(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

FileDialogAnswer QtUi::RunFileDialog(FileDialogPlace& place, bool save,
                                     const FileDialogRequest& request,
                                     std::vector<std::string>* all) {
  const QStringList filters = NameFilters(request.filter);
  QStringList chosen;
  QString chosenFilter;
  {
    DialogScope scope(owner_.data());  // ends after the dialog is gone
    QFileDialog dialog(owner_.data());
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save  ? QFileDialog::AnyFile
                       : all ? QFileDialog::ExistingFiles
                             : QFileDialog::ExistingFile);
    // The filter first: choosing it rewrites the extension of the name shown with the
    // filter's own spelling ("name.png" would become "name.PNG", another file here), so the
    // name is put in after it, as it stands.
    dialog.setNameFilters(filters);
    const int index =
        std::clamp(request.filterIndex, 1, int(std::max<qsizetype>(filters.size(), 1)));
    if (!filters.isEmpty()) dialog.selectNameFilter(filters[index - 1]);
    if (!place.folder.isEmpty()) {
      dialog.setDirectory(place.folder);
      if (!place.file.isEmpty()) dialog.selectFile(place.file);
    } else if (!request.initialPath.empty()) {
      dialog.selectFile(QString::fromStdString(request.initialPath));
    }
    // The extension of a name typed without one is the caller's to choose, by the filter.
    dialog.setDefaultSuffix(QString());
    const bool accepted = dialog.exec() == QDialog::Accepted;
    place.folder = dialog.directory().absolutePath();
    if (accepted) {
      chosen = dialog.selectedFiles();
      chosenFilter = dialog.selectedNameFilter();
    }
    if (!chosen.isEmpty()) place.file = QFileInfo(chosen.front()).fileName();
  }
  FileDialogAnswer answer;
  if (chosen.isEmpty()) return answer;
  answer.ok = true;
  answer.path = chosen.front().toStdString();
  answer.filterIndex = int(filters.indexOf(chosenFilter)) + 1;
  if (answer.filterIndex < 1) answer.filterIndex = 1;
  answer.extensionTyped = HasExtension(answer.path);
  if (all) {
    for (const QString& file : chosen) all->push_back(file.toStdString());
  }
  return answer;
}

FileDialogAnswer QtUi::OpenFileDialog(const FileDialogRequest& request) {
  return RunFileDialog(openPlace_, false, request);
}

FileDialogAnswer QtUi::SaveFileDialog(const FileDialogRequest& request) {
  return RunFileDialog(savePlace_, true, request);
}

FileListAnswer QtUi::OpenFilesDialog(const FileDialogRequest& request) {
  FileListAnswer list;
  list.ok = RunFileDialog(openFilesPlace_, false, request, &list.paths).ok;
  return list;
}

bool QtUi::MoveToTrash(const std::string& path) { return MoveFileToTrash(path); }
