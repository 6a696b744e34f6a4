#pragma once
// Printing for the headless runner, without windows on screen and without Qt's headers in
// its sources: the page setup dialog confirmed as it opens, and documents printed into
// PDF files by the same code as the program's.
#include <memory>
#include <string>
#include <string_view>

#include "platform/ui.h"

class QApplication;
class QPrinter;

class HeadlessPrinting {
 public:
  // Makes the application object on the offscreen platform when there is none yet; made
  // before anything else of Qt, so that the image library uses it too.
  HeadlessPrinting();
  ~HeadlessPrinting();
  HeadlessPrinting(const HeadlessPrinting&) = delete;
  HeadlessPrinting& operator=(const HeadlessPrinting&) = delete;

  // The page data the page setup dialog gives when OK is pressed as it opens: from page
  // when it has a paper, else the printer's own page, with the printer's minimum margins
  // and resolution.
  PageSetup ConfirmPageSetup(const PageSetup& page, const PageSample& sample);
  // Starts a document printed into the PDF file pdf; null when it would not start.
  std::unique_ptr<PrintJob> StartPdf(const PageSetup& page, std::string_view name,
                                     const std::string& pdf);

 private:
  QPrinter& Printer();

  std::unique_ptr<QApplication> app_;
  std::unique_ptr<QPrinter> printer_;
};
