// Printing on the desktop: a picture printed into a PDF file and rendered back by an
// independent tool lands where the placement says, right way up; the page setup dialog
// turns its controls into page data and draws the picture in its sample.
#include "qt/printing.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QImage>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>

#include "app/imageview.h"
#include "app/print.h"
#include "params/settings.h"
#include "platform/format.h"
#include "support/zep_test.h"

namespace {
// Prints into a PDF file through the Qt printing code; everything else stays scripted.
class PdfUi : public ScriptedUi {
 public:
  explicit PdfUi(QString file) : file_(std::move(file)) {}
  std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup& page,
                                               std::string_view name) override {
    return StartQtPrintJob(page, name, file_);
  }

 private:
  QString file_;
};

// Top left red, top right green, bottom left blue, bottom right black.
void Quadrants(DisplayBitmap& b) {
  for (int j = 0; j < b.height(); ++j) {
    for (int i = 0; i < b.width(); ++i) {
      const bool top = j >= b.height() / 2, left = i < b.width() / 2;
      uint8_t* px = b.row(j) + 3 * i;
      px[0] = !top && left ? 255 : 0;
      px[1] = top && !left ? 255 : 0;
      px[2] = top && left ? 255 : 0;
    }
  }
}

bool Near(QRgb c, int r, int g, int b) {
  return std::abs(qRed(c) - r) < 48 && std::abs(qGreen(c) - g) < 48 && std::abs(qBlue(c) - b) < 48;
}

using PrintingTest = ZepTest;
}  // namespace

TEST_F(PrintingTest, PdfRenderedByAnotherToolShowsThePictureAtItsPlacement) {
  LiveSettings().SetDefaults();
  Flags() = CommandFlags();
  CImageView v;
  v.currentBitmap() = DisplayBitmap(60, 20);
  Quadrants(v.currentBitmap());
  // 4 x 3 inches, half-inch margins, a printer that cannot reach the outer fifth of an
  // inch, 50 dpi: the picture is 150 x 50 dots, 15 dots inside the printable area, which
  // starts 10 dots in from the edge.
  PageSetup& page = LastPageSetup();
  page = PageSetup{500, 500, 500, 500, 200, 200, 200, 200, 4000, 3000, 50, 50};
  const QString pdf = QString::fromStdString((home / "print.pdf").string());
  const std::string png = (home / "page").string();

  for (int mode : {0, 1, 2}) {
    for (bool centred : {false, true}) {
      SCOPED_TRACE(Format("mode %d, vertical centring %d", mode, int(centred)));
      LiveSettings().print.printInterpolationMode = mode;
      LiveSettings().print.verticalCentering = centred;
      {
        PdfUi pdfUi(pdf);
        FlagScope f2(Flags().F2Active, true);  // no dialogs: the last page setup
        v.Dispatch(CommandId::PrintImage);
      }
      const PrintPlacement at = PlaceOnPage(page, 60, 20, true, centred);
      ASSERT_EQ((std::array{at.x0, at.y0, at.width, at.height}),
                (std::array{15, centred ? 40 : 15, 150, 50}));
      // Rendered at 100 dpi, two pixels a dot, by poppler's pdftoppm.
      const std::string command =
          "pdftoppm -png -r 100 -singlefile '" + pdf.toStdString() + "' '" + png + "'";
      ASSERT_EQ(std::system(command.c_str()), 0) << command;
      QImage sheet(QString::fromStdString(png + ".png"));
      ASSERT_EQ(sheet.size(), QSize(400, 300));
      // The box of everything not white.
      int left = 400, right = -1, top = 300, bottom = -1;
      for (int y = 0; y < sheet.height(); ++y) {
        for (int x = 0; x < sheet.width(); ++x) {
          if (Near(sheet.pixel(x, y), 255, 255, 255)) continue;
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
      }
      const int x = 2 * (10 + at.x0), y = 2 * (10 + at.y0), w = 2 * at.width, h = 2 * at.height;
      EXPECT_NEAR(left, x, 1);
      EXPECT_NEAR(right, x + w - 1, 1);
      EXPECT_NEAR(top, y, 1);
      EXPECT_NEAR(bottom, y + h - 1, 1);
      // Right way up and round: the quadrants' middles.
      EXPECT_TRUE(Near(sheet.pixel(x + w / 4, y + h / 4), 255, 0, 0));
      EXPECT_TRUE(Near(sheet.pixel(x + 3 * w / 4, y + h / 4), 0, 255, 0));
      EXPECT_TRUE(Near(sheet.pixel(x + w / 4, y + 3 * h / 4), 0, 0, 255));
      EXPECT_TRUE(Near(sheet.pixel(x + 3 * w / 4, y + 3 * h / 4), 0, 0, 0));
    }
  }

  // An aborted document leaves no file behind.
  QFile::remove(pdf);
  {
    std::unique_ptr<PrintJob> job = StartQtPrintJob(page, "aborted", pdf);
    ASSERT_TRUE(job && job->StartPage());
    job->Abort();
  }
  EXPECT_FALSE(QFile::exists(pdf));
  // Page data without a resolution cannot start a document.
  EXPECT_EQ(StartQtPrintJob(PageSetup{}, "nothing", pdf), nullptr);
}

TEST_F(PrintingTest, PageSetupDialogMakesPageDataAndDrawsThePictureInItsSample) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setResolution(100);
  DisplayBitmap picture(40, 20);
  rgbbuffer(picture.toprow(), 40, 20).fill(0x0000ff);  // blue
  const PageSample sample{ViewOf(picture), [](const PageSetup& p, int w, int h) {
                            return PlaceOnSample(p, w, h, 40, 20, true, true);
                          }};
  PageSetup start{1000, 1000, 1000, 1000, 0, 0, 0, 0, 8500, 11000, 0, 0};  // letter
  PageSetupDialog dialog(start, sample, printer);
  dialog.resize(500, 400);
  EXPECT_EQ(dialog.paper()->currentData().value<QPageSize>().id(), QPageSize::Letter);
  const PageSetup& page = dialog.page();
  EXPECT_EQ((std::array{page.paperWidth, page.paperHeight, page.marginLeft, page.marginBottom}),
            (std::array{8500, 11000, 1000, 1000}));
  EXPECT_EQ((std::array{page.hdpi, page.vdpi}), (std::array{100, 100}));

  // The orientation is shown, not chosen: a click on Landscape changes nothing.
  dialog.show();
  EXPECT_FALSE(dialog.landscape()->isEnabled());
  QTest::mouseClick(dialog.landscape(), Qt::LeftButton);
  EXPECT_FALSE(dialog.landscape()->isChecked());
  EXPECT_EQ((std::array{page.paperWidth, page.paperHeight}), (std::array{8500, 11000}));

  // Page data of a landscape sheet shows it so.
  dialog.landscape()->setChecked(true);
  dialog.margin(0)->setValue(0.5);
  EXPECT_EQ((std::array{page.paperWidth, page.paperHeight, page.marginLeft, page.marginRight}),
            (std::array{11000, 8500, 500, 1000}));

  // The sample: blue inside the placed rectangle, white paper in the margins around it.
  dialog.show();
  const QImage shot = dialog.sample()->grab().toImage();
  const QRect sheet = dialog.sample()->Sheet();
  const PixelRect r = sample.place(page, sheet.width(), sheet.height());
  ASSERT_GT(r.width, 4);
  const QPoint middle = sheet.topLeft() + QPoint(r.x + r.width / 2, r.y + r.height / 2);
  EXPECT_TRUE(Near(shot.pixel(middle), 0, 0, 255));
  EXPECT_TRUE(
      Near(shot.pixel(sheet.topLeft() + QPoint(r.x / 2 + 1, r.y + r.height / 2)), 255, 255, 255));
  EXPECT_TRUE(
      Near(shot.pixel(sheet.topLeft() + QPoint(r.x + r.width / 2, r.y / 2 + 1)), 255, 255, 255));
}
