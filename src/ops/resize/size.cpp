// The size dialog and the target size of the six resize modes.
#include "app/imageview.h"
#include "ops/resize/resize.h"
#include "params/dialog2.h"
#include "params/settings.h"

bool AskTargetSize() {
  // The row that takes the focus: the value the mode asks of the user.
  static constexpr int kFocusRow[7] = {0, 1, 2, 3, 4, 1, 3};
  const int mode = LiveSettings().resize.precedence;
  if (mode < 1 || mode > 6) return false;
  return Dialog2(LiveSettings()).RunPage(30, kFocusRow[mode], 0) != DialogResult::Ok;
}

void ComputeTargetSize(CImageView& v) {
  ResizeParams& p = LiveSettings().resize;
  const int w = v.currentBitmap().width(), h = v.currentBitmap().height();
  if (w == 0 || h == 0) return;
  switch (p.precedence) {
    case 1:
      p.horizontalScaleFactor = p.verticalScaleFactor = double(p.outputWidth) / w;
      p.outputHeight = ResizedLength(h, p.verticalScaleFactor);
      break;
    case 2:
      p.horizontalScaleFactor = p.verticalScaleFactor = double(p.outputHeight) / h;
      p.outputWidth = ResizedLength(w, p.horizontalScaleFactor);
      break;
    case 3:
    case 4:
    case 6:
      if (p.precedence == 3) p.verticalScaleFactor = p.horizontalScaleFactor;
      if (p.precedence == 4) p.horizontalScaleFactor = p.verticalScaleFactor;
      p.outputWidth = ResizedLength(w, p.horizontalScaleFactor);
      p.outputHeight = ResizedLength(h, p.verticalScaleFactor);
      break;
    case 5:
      p.horizontalScaleFactor = double(p.outputWidth) / w;
      p.verticalScaleFactor = double(p.outputHeight) / h;
      break;
    default:
      break;  // an unknown mode from a file: the stored values stand
  }
}
