#pragma once
// Printing on the desktop: the page setup dialog with the picture in its page sample, and
// print documents on a QPrinter (or into a PDF file).
#include <QDialog>
#include <QPrinter>
#include <QWidget>
#include <memory>

#include "platform/ui.h"

class QComboBox;
class QDoubleSpinBox;
class QRadioButton;
class QDialogButtonBox;

// The sheet of paper drawn small: white paper, the margins dashed, and the picture where
// the page data puts it.
class PageSampleWidget : public QWidget {
 public:
  PageSampleWidget(const PageSample& sample, QWidget* parent = nullptr);
  void SetPage(const PageSetup& page);
  // The sheet's rectangle inside the widget.
  QRect Sheet() const;

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  const PageSample& sample_;
  PageSetup page_;
};

// Paper, orientation and margins (in inches on screen, thousandths of an inch in the page
// data); the printer gives the minimum margins and the resolutions.
class PageSetupDialog : public QDialog {
 public:
  PageSetupDialog(const PageSetup& page, const PageSample& sample, QPrinter& printer,
                  QWidget* parent = nullptr);
  // The page data as the dialog shows it now.
  const PageSetup& page() const { return page_; }
  // The controls, for tests.
  QComboBox* paper() const { return paper_; }
  QRadioButton* landscape() const { return landscape_; }
  QDoubleSpinBox* margin(int side) const { return margins_[side]; }  // left, top, right, bottom
  PageSampleWidget* sample() const { return sample_; }

 private:
  void Recompute();

  QPrinter& printer_;
  PageSetup page_;
  QComboBox* paper_;
  QRadioButton* portrait_;
  QRadioButton* landscape_;
  QDoubleSpinBox* margins_[4];
  PageSampleWidget* sample_;
  QDialogButtonBox* buttons_;
};

// Starts a document on a printer set up from page: the system's printer, or a PDF file
// when pdfFile is not empty. Null when the printer would not start.
std::unique_ptr<PrintJob> StartQtPrintJob(const PageSetup& page, std::string_view name,
                                          const QString& pdfFile);

// A top-down QImage copy of a bottom-up 24-bit bitmap.
QImage ToQImage(const BitmapView& bitmap);
