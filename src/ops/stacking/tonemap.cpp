// Tone Map 1 and Tone Map 2: the float image's luminance compressed into 0-255, the colour
// ratios put back with a saturation exponent.
#include "ops/stacking/tonemap.h"

#include <algorithm>
#include <cmath>

#include "app/imageview.h"
#include "numeric/pyramid.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// x = f(x) for every element on the parallel helper; each element is its own, so the bytes
// are those of matrix::apply on any number of threads.
void ApplyEach(matrix& m, double (*f)(double)) {
  ParallelBlocks(std::max<int64_t>(m.n, 0), BlockFor(16), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) m.x[k] = static_cast<float>(f(m.x[k]));
  });
}

// The frame both maps share: the image in RGB stretched to [0, 255], its luminance
// (colour ratios left in channels 0-2) handed to work, the ratios raised to the saturation
// and multiplied back, the stretch with the outlier radius, the colour space restored.
template <class Work>
void ThroughLuminance(fpbuffer& image, bool clipNegative, float saturation, int outlierRadius,
                      Work work) {
  const CSpaceCode remembered = image.code;
  image.convert(cspace::kRGB);
  if (clipNegative) image.clipnegative(false);
  image.scaleshift(0);
  matrix l;
  l.SplitLuminance(image.plane[0], image.plane[1], image.plane[2], 0.0001f);
  work(l);
  l.MergeLuminance(image.plane[0], image.plane[1], image.plane[2], saturation);
  image.scaleshift(outlierRadius);
  image.convert(remembered);
}

// Tone Map 2's gradient targets on one level: magnitudes (or each difference plane on its
// own) equalised by rank and bent by the curve.
void ShapeGradients(matrix& g1, matrix& g2, bool equalize, ToneCurveFn curve, double c,
                    bool magnitudes) {
  auto shape = [&](matrix& v) {
    if (equalize) v.rankequalize(0);
    if (curve != nullptr) {
      const float t = v.maxabs();
      v.applytonecurve(curve, c, -t, t);
    }
  };
  if (!magnitudes) {
    shape(g1);
    shape(g2);
    return;
  }
  matrix before;
  before.magnitude(g1, g2);
  matrix after(before);
  shape(after);
  RescaleGradients(before, after, g1, g2);
}
}  // namespace

int ToneMap2Levels(int width, int height, int requested) {
  const int depth = PyramidDepth(std::min(width, height), 32);
  return requested > 0 ? std::min(requested, depth) : depth;
}

fpbuffer& fpbuffer::tonemap1(float k, float saturation, float sharpener, int hysteresisIterations,
                             float hysteresisTolerance, int haloIterations, int outlierRadius) {
  if (n == 0) return *this;
  StartProgress(float(hysteresisIterations) * float(haloIterations));
  ThroughLuminance(*this, false, saturation, outlierRadius, [&](matrix& l) {
    matrix s(l);
    ApplyEach(s, [](double v) { return std::log(v); });
    s.hysteresissmooth(hysteresisIterations, hysteresisTolerance, haloIterations, 1);
    ApplyEach(s, [](double v) { return std::exp(v); });
    l.compressluminance(s, k, sharpener);
  });
  return *this;
}

fpbuffer& fpbuffer::tonemap2(int iterations, int levels, float saturation, bool equalize,
                             int preset, double c, bool diagonal, bool magnitudes,
                             int outlierRadius) {
  if (n == 0) return *this;
  StartProgress(float(iterations));
  const bool diagonalDifferences = diagonal || magnitudes;
  const ToneCurveFn curve = ToneCurve(preset, false);
  const int count = ToneMap2Levels(width, height, levels);
  ThroughLuminance(*this, true, saturation, outlierRadius, [&](matrix& v) {
    ApplyEach(v, [](double t) { return std::log(t); });
    matrixarray gx, gy;
    {
      matrixarray gauss;
      MultiresolutionGradients(v, count, gauss, gx, gy, diagonalDifferences);
    }
    for (int i = 0; i < count; ++i) {
      ShapeGradients(gx[i], gy[i], equalize, curve, c, magnitudes);
    }
    const float mid = float(std::log(127.5));
    v.fill(mid).multiresolutioncg(iterations, gx, gy, diagonalDifferences);
    float lo, hi;
    v.minmax(lo, hi);
    const float med = matrix(v).median();
    if (!(hi > med)) {
      // A flat result: the median and the maximum cannot be told apart, so every pixel
      // takes the median's place.
      v.fill(127.5f);
      return;
    }
    const float ln2 = float(std::log(2.0));
    const float spread = hi - med;
    v.affine(ln2 / spread, mid - ln2 * med / spread);
    ApplyEach(v, [](double t) { return std::exp(t); });
    v.minmax(lo, hi);
    v.affine(255.0f / (255.0f - lo), -lo * 255.0f / (255.0f - lo));
  });
  return *this;
}

namespace {
const ToneMapParams& Params() { return LiveSettings().toneMap; }
}  // namespace

void OnToneMap1(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const ToneMapParams& p = Params();
    image.tonemap1(p.toneMap1Contrast, p.toneMap1Saturation, p.toneMap1Sharpener,
                   p.toneMap1HysteresisIterations, p.toneMap1HysteresisTolerance,
                   p.toneMap1HaloIterations, p.toneMap1OutlierRadius);
  });
}

void OnToneMap2(CImageView& v, int id) {
  v.RunFloatOperation(id, [](fpbuffer& image) {
    const ToneMapParams& p = Params();
    image.tonemap2(p.toneMap2Iterations, p.toneMap2Levels, p.toneMap2Saturation,
                   p.toneMap2Equalize != 0, p.toneMap2Preset, p.toneMap2PresetC,
                   p.toneMap2DiagonalDifferences != 0, p.toneMap2Magnitudes != 0,
                   p.toneMap2OutlierRadius);
  });
}
