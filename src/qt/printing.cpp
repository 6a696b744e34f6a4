#include "qt/printing.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPageLayout>
#include <QPainter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {
int Thousandths(double inches) { return int(std::lround(inches * 1000.0)); }

// The papers offered: the printer's own list when it has one, else the common sizes.
QList<QPageSize> Papers(const QPrinter& printer) {
  QList<QPageSize> papers = QPrinterInfo(printer).supportedPageSizes();
  if (papers.isEmpty()) {
    for (QPageSize::PageSizeId id :
         {QPageSize::Letter, QPageSize::Legal, QPageSize::Executive, QPageSize::Tabloid,
          QPageSize::A3, QPageSize::A4, QPageSize::A5, QPageSize::B5}) {
      papers.append(QPageSize(id));
    }
  }
  return papers;
}

// The paper of page data, its size as oriented.
QPageSize PaperOf(const PageSetup& page) {
  const QSizeF size(page.paperWidth / 1000.0, page.paperHeight / 1000.0);
  return QPageSize(size.width() > size.height() ? size.transposed() : size, QPageSize::Inch,
                   QString(), QPageSize::FuzzyMatch);
}
}  // namespace

QImage ToQImage(const BitmapView& b) {
  const qsizetype stride = (qsizetype(b.width) * 3 + 3) & ~qsizetype(3);
  // The bottom row comes first: a top-down view of the bytes, mirrored (which copies).
  return QImage(b.bits, b.width, b.height, stride, QImage::Format_BGR888).mirrored(false, true);
}

PageSampleWidget::PageSampleWidget(const PageSample& sample, QWidget* parent)
    : QWidget(parent), sample_(sample) {
  setMinimumSize(220, 220);
}

void PageSampleWidget::SetPage(const PageSetup& page) {
  page_ = page;
  update();
}

QRect PageSampleWidget::Sheet() const {
  if (page_.paperWidth <= 0 || page_.paperHeight <= 0) return {};
  const double scale =
      std::min((width() - 20.0) / page_.paperWidth, (height() - 20.0) / page_.paperHeight);
  const int w = int(page_.paperWidth * scale), h = int(page_.paperHeight * scale);
  return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void PageSampleWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect sheet = Sheet();
  if (sheet.isEmpty()) return;
  p.fillRect(sheet.translated(3, 3), palette().color(QPalette::Dark));
  p.fillRect(sheet, Qt::white);
  p.setPen(Qt::black);
  p.drawRect(sheet.adjusted(0, 0, -1, -1));
  if (!sample_.bitmap.bits || !sample_.place) return;
  const PixelRect r = sample_.place(page_, sheet.width(), sheet.height());
  if (r.width <= 0 || r.height <= 0) return;
  // The sample is small: the picture is shrunk without filtering, as a quick preview.
  p.drawImage(QRect(sheet.x() + r.x, sheet.y() + r.y, r.width, r.height), ToQImage(sample_.bitmap));
}

PageSetupDialog::PageSetupDialog(const PageSetup& page, const PageSample& sample, QPrinter& printer,
                                 QWidget* parent)
    : QDialog(parent), printer_(printer), page_(page) {
  setWindowTitle(QStringLiteral("Page Setup"));
  paper_ = new QComboBox;
  for (const QPageSize& size : Papers(printer))
    paper_->addItem(size.name(), QVariant::fromValue(size));
  portrait_ = new QRadioButton(QStringLiteral("P&ortrait"));
  landscape_ = new QRadioButton(QStringLiteral("L&andscape"));
  const char* labels[4] = {"&Left:", "&Top:", "&Right:", "&Bottom:"};
  auto* marginForm = new QFormLayout;
  for (int i = 0; i < 4; ++i) {
    margins_[i] = new QDoubleSpinBox;
    margins_[i]->setDecimals(3);
    margins_[i]->setSingleStep(0.125);
    margins_[i]->setSuffix(QStringLiteral(" in"));
    marginForm->addRow(QString::fromLatin1(labels[i]), margins_[i]);
  }

  // Start from the page data when there is some, else from the printer's own page.
  QPageLayout layout = printer.pageLayout();
  layout.setUnits(QPageLayout::Inch);
  QPageSize start = layout.pageSize();
  bool wide = layout.orientation() == QPageLayout::Landscape;
  QMarginsF m = layout.margins();
  if (page.paperWidth > 0 && page.paperHeight > 0) {
    start = PaperOf(page);
    wide = page.paperWidth > page.paperHeight;
    m = QMarginsF(page.marginLeft, page.marginTop, page.marginRight, page.marginBottom) / 1000.0;
  }
  int index = -1;
  for (int i = 0; i < paper_->count() && index < 0; ++i) {
    if (paper_->itemData(i).value<QPageSize>().isEquivalentTo(start)) index = i;
  }
  if (index < 0) {
    paper_->addItem(start.name(), QVariant::fromValue(start));
    index = paper_->count() - 1;
  }
  paper_->setCurrentIndex(index);
  (wide ? landscape_ : portrait_)->setChecked(true);
  const double sides[4] = {m.left(), m.top(), m.right(), m.bottom()};
  for (int i = 0; i < 4; ++i) margins_[i]->setValue(sides[i]);

  sample_ = new PageSampleWidget(sample);
  auto* paperBox = new QGroupBox(QStringLiteral("Paper"));
  auto* paperLayout = new QFormLayout(paperBox);
  paperLayout->addRow(QStringLiteral("Si&ze:"), paper_);
  auto* orientationBox = new QGroupBox(QStringLiteral("Orientation"));
  auto* orientationLayout = new QVBoxLayout(orientationBox);
  orientationLayout->addWidget(portrait_);
  orientationLayout->addWidget(landscape_);
  // Shown, not chosen: the orientation is the one of the paper the page data or the printer
  // gives.
  orientationBox->setEnabled(false);
  auto* marginBox = new QGroupBox(QStringLiteral("Margins"));
  marginBox->setLayout(marginForm);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* controls = new QVBoxLayout;
  controls->addWidget(paperBox);
  controls->addWidget(orientationBox);
  controls->addWidget(marginBox);
  controls->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(sample_, 1);
  top->addLayout(controls);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addWidget(buttons_);

  connect(paper_, &QComboBox::currentIndexChanged, this, [this] { Recompute(); });
  connect(portrait_, &QRadioButton::toggled, this, [this] { Recompute(); });
  for (QDoubleSpinBox* box : margins_) {
    connect(box, &QDoubleSpinBox::valueChanged, this, [this] { Recompute(); });
  }
  Recompute();
}

void PageSetupDialog::Recompute() {
  const QPageSize size = paper_->currentData().value<QPageSize>();
  const bool wide = landscape_->isChecked();
  printer_.setPageSize(size);
  printer_.setPageOrientation(wide ? QPageLayout::Landscape : QPageLayout::Portrait);
  QPageLayout layout = printer_.pageLayout();
  layout.setUnits(QPageLayout::Inch);
  const QMarginsF least = layout.minimumMargins();
  QSizeF paper = size.size(QPageSize::Inch);
  if (wide) paper.transpose();

  page_.paperWidth = Thousandths(paper.width());
  page_.paperHeight = Thousandths(paper.height());
  const double leastSides[4] = {least.left(), least.top(), least.right(), least.bottom()};
  int32_t* minimum[4] = {&page_.minMarginLeft, &page_.minMarginTop, &page_.minMarginRight,
                         &page_.minMarginBottom};
  int32_t* margin[4] = {&page_.marginLeft, &page_.marginTop, &page_.marginRight,
                        &page_.marginBottom};
  for (int i = 0; i < 4; ++i) {
    // The printer cannot reach closer to the edge than its minimum margin.
    const QSignalBlocker quiet(margins_[i]);
    margins_[i]->setRange(leastSides[i], (i % 2 ? paper.height() : paper.width()));
    *minimum[i] = Thousandths(leastSides[i]);
    *margin[i] = Thousandths(margins_[i]->value());
  }
  page_.hdpi = page_.vdpi = printer_.resolution();
  // OK only while the margins leave room for the picture.
  buttons_->button(QDialogButtonBox::Ok)
      ->setEnabled(page_.marginLeft + page_.marginRight < page_.paperWidth &&
                   page_.marginTop + page_.marginBottom < page_.paperHeight);
  sample_->SetPage(page_);
}

namespace {
class QtPrintJob : public PrintJob {
 public:
  ~QtPrintJob() override {
    if (painter_.isActive()) Abort();
  }

  bool Begin(const PageSetup& page, std::string_view name, const QString& pdfFile) {
    if (page.hdpi <= 0 || page.vdpi <= 0 || page.paperWidth <= 0 || page.paperHeight <= 0) {
      return false;
    }
    pdfFile_ = pdfFile;
    if (!pdfFile.isEmpty()) {
      printer_.setOutputFormat(QPrinter::PdfFormat);
      printer_.setOutputFileName(pdfFile);
    }
    printer_.setDocName(QString::fromUtf8(name.data(), qsizetype(name.size())));
    printer_.setResolution(std::max(page.hdpi, page.vdpi));
    // The whole sheet is the painter's, so positions are counted from the paper's corner
    // and the printable area's offset is added here.
    printer_.setFullPage(true);
    const bool wide = page.paperWidth > page.paperHeight;
    printer_.setPageLayout(QPageLayout(PaperOf(page),
                                       wide ? QPageLayout::Landscape : QPageLayout::Portrait,
                                       QMarginsF(), QPageLayout::Inch));
    if (!painter_.begin(&printer_)) return false;
    const double dpi = printer_.resolution();
    painter_.scale(dpi / page.hdpi, dpi / page.vdpi);
    painter_.translate(page.hdpi * page.minMarginLeft / 1000.0,
                       page.vdpi * page.minMarginTop / 1000.0);
    return true;
  }

  // The painter's first page is open from the start.
  bool StartPage() override { return painter_.isActive(); }

  void DrawBitmap(const BitmapView& bitmap, int x, int y, int width, int height,
                  bool smooth) override {
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter_.drawImage(QRect(x, y, width, height), ToQImage(bitmap));
  }

  void EndPage() override {}
  void EndDocument() override { painter_.end(); }

  void Abort() override {
    const bool dropped = printer_.abort();
    if (painter_.isActive()) painter_.end();
    // A PDF engine cannot drop its document; the file it wrote goes instead.
    if (!dropped && !pdfFile_.isEmpty()) QFile::remove(pdfFile_);
  }

 private:
  QPrinter printer_{QPrinter::HighResolution};
  QPainter painter_;
  QString pdfFile_;
};
}  // namespace

std::unique_ptr<PrintJob> StartQtPrintJob(const PageSetup& page, std::string_view name,
                                          const QString& pdfFile) {
  auto job = std::make_unique<QtPrintJob>();
  if (!job->Begin(page, name, pdfFile)) return nullptr;
  return job;
}
