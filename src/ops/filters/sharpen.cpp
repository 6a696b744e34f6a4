// The sharpeners of the image window: the pages, F2/F3, Ctrl and programs through
// RunFloatOperation, then the driver on the current layer with the painted selection (when
// it has storage) and the Cond flag. No message and no cancel.
#include "ops/filters/sharpen.h"

#include "app/imageview.h"
#include "params/settings.h"

namespace {
bitmask* Selection(CImageView& v) { return v.selection.present() ? &v.selection : nullptr; }
}  // namespace

void OnUnsharpMask(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.unsharp(UnsharpSmoother(p.unsharpMode), p.unsharpRadius, UnsharpResponse, p.unsharpAmount,
                  p.unsharpBlurThreshold, p.unsharpNoOpThreshold, p.unsharpSharpeningThreshold,
                  Selection(v), LiveSettings().conditional != 0);
  });
}

void OnXsharpen(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.xsharpen(p.xsharpenWindowSize, p.xsharpenThreshold, p.xsharpenAmount,
                   p.xsharpenIterations, Selection(v), LiveSettings().conditional != 0);
  });
}
