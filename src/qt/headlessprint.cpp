#include "qt/headlessprint.h"

#include <QApplication>
#include <QPrinter>

#include "qt/printing.h"

HeadlessPrinting::HeadlessPrinting() {
  if (QCoreApplication::instance()) return;
  // Nothing is ever shown: no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "zep";
  static char* argv[] = {name, nullptr};
  app_ = std::make_unique<QApplication>(argc, argv);
}

HeadlessPrinting::~HeadlessPrinting() = default;

QPrinter& HeadlessPrinting::Printer() {
  if (!printer_) {
    // The program's printer without a system printer: a PDF file at 300 dpi.
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setOutputFormat(QPrinter::PdfFormat);
    printer_->setResolution(300);
  }
  return *printer_;
}

PageSetup HeadlessPrinting::ConfirmPageSetup(const PageSetup& page, const PageSample& sample) {
  PageSetupDialog box(page, sample, Printer());
  return box.page();
}

std::unique_ptr<PrintJob> HeadlessPrinting::StartPdf(const PageSetup& page, std::string_view name,
                                                     const std::string& pdf) {
  return StartQtPrintJob(page, name, QString::fromStdString(pdf));
}
