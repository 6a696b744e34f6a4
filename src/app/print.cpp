// Print Image and its Ctrl+P twin, and the placement arithmetic they share with the page
// setup's sample.
#include "app/print.h"

#include <cmath>

#include "app/imageview.h"
#include "numeric/resample.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/progress.h"

namespace {
constexpr const char* kDocumentName = "CDC::StartDoc() Code Fragment";
constexpr const char* kFailedToCreate =
    "Failed to create bitmap!\n\nPossible cause is fragmented memory.\n\nPlease, read manual.";

// dots x thousandths of an inch / 1000, truncated toward zero; in 64 bits, since a large
// paper at a fine resolution overflows 32.
int Dots(int32_t dpi, int64_t thousandths) { return int(int64_t(dpi) * thousandths / 1000); }

// Shrinks the area (x, y, w, h) to the picture's aspect ratio along the direction with room
// to spare, moving it to the middle of that room only when that direction is centred.
void Fit(int& x, int& y, int& w, int& h, int W, int H, bool horizontalCentering,
         bool verticalCentering) {
  if (double(w) / W > double(h) / H) {
    const int width = int(double(W) / H * h);
    if (horizontalCentering) x += (w - width) / 2;
    w = width;
  } else {
    const int height = int(double(w) * H / W);
    if (verticalCentering) y += (h - height) / 2;
    h = height;
  }
}
}  // namespace

PrintPlacement PlaceOnPage(const PageSetup& page, int W, int H, bool horizontalCentering,
                           bool verticalCentering) {
  PrintPlacement p;
  p.x0 = Dots(page.hdpi, int64_t(page.marginLeft) - page.minMarginLeft);
  p.y0 = Dots(page.vdpi, int64_t(page.marginTop) - page.minMarginTop);
  p.width = Dots(page.hdpi, int64_t(page.paperWidth) - page.marginRight - page.marginLeft);
  p.height = Dots(page.vdpi, int64_t(page.paperHeight) - page.marginBottom - page.marginTop);
  if (W > 0 && H > 0) {
    Fit(p.x0, p.y0, p.width, p.height, W, H, horizontalCentering, verticalCentering);
  }
  return p;
}

PixelRect PlaceOnSample(const PageSetup& page, int sheetWidth, int sheetHeight, int W, int H,
                        bool horizontalCentering, bool verticalCentering) {
  PixelRect r{0, 0, sheetWidth, sheetHeight};
  if (page.paperWidth <= 0 || page.paperHeight <= 0 || W <= 0 || H <= 0) return r;
  const double sx = double(sheetWidth) / page.paperWidth;
  const float sy = float(sheetHeight) / float(page.paperHeight);
  const int left = int(sx * page.marginLeft), right = int(sx * page.marginRight);
  const int top = int(sy * float(page.marginTop)), bottom = int(sy * float(page.marginBottom));
  r.x = left;
  r.y = top;
  r.width = sheetWidth - left - right;
  r.height = sheetHeight - top - bottom;
  Fit(r.x, r.y, r.width, r.height, W, H, horizontalCentering, verticalCentering);
  return r;
}

PageSetup& LastPageSetup() {
  static PageSetup page;
  return page;
}

BitmapView ViewOf(const DisplayBitmap& bitmap) {
  return {bitmap.data(), bitmap.width(), bitmap.height()};
}

bool ResampleForPrint(const DisplayBitmap& source, DisplayBitmap& out, int mode, int order) {
  const int W = source.width(), H = source.height();
  const int width = out.width(), height = out.height();
  // The resamplers read through row tables; the source is only read.
  const rgbbuffer from(const_cast<uint8_t*>(source.toprow()), W, H);
  rgbbuffer to(out.toprow(), width, height);
  if (mode == 1 && W < width) {
    StartProgress(float(height));
    return to.triangulate(from, 0.0, 0.0);
  }
  matrix kx, ky;
  BuildLanczosKernelForSizes(kx, mode == 1 ? 3 : order, W, width, 0.0f);
  BuildLanczosKernelForSizes(ky, mode == 1 ? 3 : order, H, height, 0.0f);
  return to.resample(from, kx, ky, true, true);
}

void CImageView::OnCtrlPrint(int) {
  // The Ctrl of the accelerator is not the Ctrl that selects an operation.
  Flags().CtrlHeld = false;
  OnPrintImage(int(CommandId::PrintImage));
}

void CImageView::OnPrintImage(int) {
  CommandFlags& f = Flags();
  const bool ctrl = f.CtrlHeld;
  f.CtrlHeld = false;
  Settings& s = LiveSettings();
  PageSetup& page = LastPageSetup();
  const bool replay = !ctrl && (f.F2Active || f.F3Active);
  if (ctrl) SelectOperation(CommandId::PrintImage, true);
  const int W = currentBitmap().width(), H = currentBitmap().height();

  // A replay prints with the page of the last setup; before any setup there is none, and
  // printing with zero page data would put nothing anywhere, so the setup is asked once.
  if (!replay || page.paperWidth <= 0) {
    auto cancelled = [&] {
      if (ctrl) SelectOperation(CommandId::NoOp, true);
    };
    if (!replay && Dialog2(s).RunPage(94, 1, 0) != DialogResult::Ok) return cancelled();
    PageSetup edited = page;
    const PrintParams& params = s.print;
    PageSample sample{ViewOf(currentBitmap()), [&params, W, H](const PageSetup& p, int w, int h) {
                        return PlaceOnSample(p, w, h, W, H, params.horizontalCentering != 0,
                                             params.verticalCentering != 0);
                      }};
    if (GetUi().ShowPageSetup(edited, sample) != DialogResult::Ok) return cancelled();
    page = edited;
  }

  const PrintPlacement place =
      PlaceOnPage(page, W, H, s.print.horizontalCentering != 0, s.print.verticalCentering != 0);
  if (ctrl) {
    GetUi().MessageBox(
        Format("Horizontal Resolution = %d dpi, Vertical Resolution = %d dpi\n\n\tOptimum "
               "Dimensions:\n\nWidth = %d pixels, Height = %d pixels\n\n\tOptimum "
               "Scale:\n\nHorizontal = %f, Vertical = %f",
               page.hdpi, page.vdpi, place.width, place.height, double(place.width) / W,
               double(place.height) / H),
        "Information", MessageStyle{.notice = true});
    return;
  }
  if (f.Recording) return;  // the step is recorded; nothing is printed while recording
  if (place.width <= 0 || place.height <= 0) {
    // Margins wider than the paper, or a picture too narrow for a single dot.
    ShowMessage("The picture does not fit between the margins of the page.");
    return;
  }
  bool printed;
  {
    ProcessTimer timer(startClock, nullptr);
    if (host) host->Invalidate();
    printed = PrintPicture(page, place);
  }
  // Only a printed page reports its time and sound: a cancel is silent, a failure has
  // said so.
  if (printed) ReportCompletion(true);
  UpdateStatus();
}

bool CImageView::PrintPicture(const PageSetup& page, const PrintPlacement& place) {
  std::unique_ptr<PrintJob> job;
  try {
    job = GetUi().StartPrintDocument(page, kDocumentName);
  } catch (const Cancelled&) {
    return false;  // the user closed the file chooser of a desktop without a printer
  }
  if (!job) {
    ShowMessage("Printer wouldn't initalize");
    return false;
  }
  if (!job->StartPage()) {
    ShowMessage("Could not start page");
    job->Abort();
    return false;
  }
  const PrintParams& params = LiveSettings().print;
  const int mode = params.printInterpolationMode;
  if (mode != 1 && mode != 2) {
    // Any other stored code is the driver's own stretching, as the page shows it.
    job->DrawBitmap(ViewOf(currentBitmap()), place.x0, place.y0, place.width, place.height, true);
  } else {
    // The float image stays where it is: parking it on disk to make room could lose it.
    DisplayBitmap scaled;
    bool cancelled = false;
    try {
      scaled = DisplayBitmap(place.width, place.height);
      cancelled = ResampleForPrint(currentBitmap(), scaled, mode, params.printLanczosOrder);
    } catch (const std::bad_alloc&) {
      job->Abort();
      GetUi().MessageBox(kFailedToCreate, "", MessageStyle{MessageButtons::Ok, MessageIcon::Error});
      return false;
    }
    if (cancelled) {
      // The sheet stays blank: the document is dropped rather than ended.
      job->Abort();
      return false;
    }
    SetStatusText("", 5);
    job->DrawBitmap(ViewOf(scaled), place.x0, place.y0, place.width, place.height, false);
  }
  job->EndPage();
  job->EndDocument();
  return true;
}
