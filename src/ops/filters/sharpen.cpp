// The sharpeners of the image window: the pages, F2/F3, Ctrl and programs through
// RunFloatOperation, then the driver on the current layer with the Cond flag and, for
// Unsharp Mask, Xsharpen and Jensen, the painted selection (when it has storage). Only the Poisson
// Sharpener ticks and can be cancelled; a cancel keeps the image the window had.
#include "ops/filters/sharpen.h"
#include "ops/filters/selection.h"

#include <algorithm>

#include "app/imageview.h"
#include "params/settings.h"

void OnUnsharpMask(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.unsharp(UnsharpSmoother(p.unsharpMode), p.unsharpRadius, UnsharpResponse, p.unsharpAmount,
                  p.unsharpBlurThreshold, p.unsharpNoOpThreshold, p.unsharpSharpeningThreshold,
                  PaintedSelection(v), LiveSettings().conditional != 0);
  });
}

void OnXsharpen(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.xsharpen(p.xsharpenWindowSize, p.xsharpenThreshold, p.xsharpenAmount,
                   p.xsharpenIterations, PaintedSelection(v), LiveSettings().conditional != 0);
  });
}

void OnJensenEdgeEnhancement(CImageView& v, int id) {
  v.RunFloatOperation(id, [&v](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    // Each iteration starts from the edge candidates the one before left in the mask.
    for (int i = 0; i < p.jensenEdgeIterations; ++i) {
      image.jensenedges(p.jensenEdgeParameter1, p.jensenEdgeParameter2, p.jensenEdgeBlurring,
                        p.jensenEdgeWindowSize, p.jensenEdgeDominantChannel, p.jensenEdgeMode != 0,
                        PaintedSelection(v), LiveSettings().conditional != 0, p.jensenEdgeSegments,
                        p.jensenEdgeDefringing != 0);
    }
  });
}

void OnPoissonSharpener(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const BlurParams& p = LiveSettings().blur;
    image.poissonsharpen(p.poissonIterations, p.poissonSharpeningAmount, p.poissonScaleFactor,
                         LiveSettings().conditional != 0);
  });
}

void OnPeriodicSmoothing(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const PeriodicParams& p = LiveSettings().periodic;
    const int count = p.periodicPoints < 0 ? 0 : std::min<int>(p.periodicPoints, p.kMaxPoints);
    image.periodicsmooth(p.periodicDx, p.periodicDy, count, p.periodicFunction,
                         p.periodicIterations, LiveSettings().conditional != 0);
  });
}
