// Stacking mode "Pyramid Fusion": the weights of the exposures, their blend over Laplacian
// pyramids and the optional gradient-domain rebuild of the luminance.
#include "ops/stacking/fusion.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/imageview.h"
#include "numeric/border.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// The contrast of one channel at a pixel from its 3x3 neighbourhood (rows below, own and
// above; columns left, own and right, already mirrored at the borders).
struct Neighbourhood {
  const float* rows[3];
  int cols[3];
  float centre() const { return rows[1][cols[1]]; }
  template <class F>
  void each(F f) const {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        if (r != 1 || c != 1) f(rows[r][cols[c]]);
      }
    }
  }
};

float LargestDifference(const Neighbourhood& n) {
  const float centre = n.centre();
  float m = 0.0f;
  n.each([&](float v) { m = std::max(m, std::fabs(v - centre)); });
  return m;
}

float DistanceToMean(const Neighbourhood& n) {
  float sum = 0.0f;
  n.each([&](float v) { sum += v; });
  return std::fabs(n.centre() - sum * 0.125f);
}

double SquaredDifferences(const Neighbourhood& n) {
  const double centre = n.centre();
  double sum = 0.0;
  n.each([&](float v) { sum += (centre - v) * (centre - v); });
  return sum;
}

// pow that leaves the common exponent 1 exact and cheap.
float Power(float v, float p) { return p == 1.0f ? v : std::pow(v, p); }
}  // namespace

const fpbuffer& fpbuffer::localcontrast(matrix& k, matrix& runningMax, float wc, int mode) const {
  k.dim(width, height);
  const bool keepMax = wc < 0;
  if (keepMax && runningMax.n != k.n) runningMax.dim(width, height).zero();
  if (n == 0 || channels < 3) return *this;
  const int w = width, h = height;
  ParallelBlocks(h, BlockFor(int64_t(w) * 27), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const int below = ReflectWhole(y - 1, h), above = ReflectWhole(y + 1, h);
      float* out = k.z[y];
      for (int x = 0; x < w; ++x) {
        Neighbourhood nb{{}, {ReflectWhole(x - 1, w), x, ReflectWhole(x + 1, w)}};
        float total = 0.0f;
        double squares = 0.0;
        for (int c = 0; c < 3; ++c) {
          const matrix& p = plane[c];
          nb.rows[0] = p.z[below];
          nb.rows[1] = p.z[y];
          nb.rows[2] = p.z[above];
          if (mode == 1) {
            total += DistanceToMean(nb);
          } else if (mode == 2) {
            squares += SquaredDifferences(nb);
          } else {
            total += LargestDifference(nb);
          }
        }
        out[x] = mode == 1   ? float(double(total) * (1.0 / 3.0))
                 : mode == 2 ? std::sqrt(float(squares) * 0.041666668f)
                             : total * 0.33333334f;
      }
      if (keepMax) {
        float* m = runningMax.z[y];
        for (int x = 0; x < w; ++x) m[x] = std::max(m[x], out[x]);
      }
    }
  });
  return *this;
}

const fpbuffer& fpbuffer::fusionweight(matrix& w, matrix& sum, const matrix& k,
                                       const FusionWeightParams& p) const {
  w.dim(width, height);
  if (sum.n != w.n) sum.dim(width, height).zero();
  if (n == 0 || channels < 3) return *this;
  const bool useC = p.contrastInUse(), useS = p.saturationInUse(), useE = p.exposureInUse();
  // A contrast plane of another size weighs nothing rather than read past its end.
  const float* contrast = useC && k.n == n ? k.x : nullptr;
  const float spread = 255.0f * p.sigma;
  const float bell = 2.0f * spread * spread;
  const float* r = plane[0].x;
  const float* g = plane[1].x;
  const float* b = plane[2].x;
  ParallelBlocks(n, BlockFor(16), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      float c = 1.0f, s = 1.0f, e = 1.0f;
      float weight = 0.0f;
      if (useC) {
        c = contrast != nullptr ? contrast[i] : 0.0f;
        // With "Infinity" the plane already holds the 0/1 indicator.
        if (p.wc > 0) c = Power(c, p.wc);
        weight += p.b * c;
      }
      if (useS) {
        const float m = (r[i] + g[i] + b[i]) * 0.33333334f;
        const float dr = r[i] - m, dg = g[i] - m, db = b[i] - m;
        float q = std::sqrt(dr * dr + dg * dg + db * db) + 1.0f;
        if (m != 0.0f) q /= std::fabs(m);
        s = Power(q, p.ws);
        weight += p.c * s;
      }
      if (useE) {
        const float dr = r[i] - p.mid, dg = g[i] - p.mid, db = b[i] - p.mid;
        const float v = std::max({dr * dr, dg * dg, db * db});
        e = Power(std::exp(-v / bell), p.we);
        weight += p.d * e;
      }
      weight += p.a * (c * s * e);
      w.x[i] = weight;
      sum.x[i] += weight;
    }
  });
  return *this;
}

namespace ops::stacking {
namespace {
const char* const kChannelPrefix[3] = {"r", "g", "b"};

std::string PlaneFile(const char* prefix, int k) { return NumberedName(prefix, k, "mat"); }

// y = the mean of channels 0-2, the luminance whose gradients are blended.
void MeanOfChannels(const fpbuffer& image, matrix& y) {
  y.dim(image.width, image.height);
  const float* r = image.plane[0].x;
  const float* g = image.plane[1].x;
  const float* b = image.plane[2].x;
  ParallelBlocks(image.n, BlockFor(4), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) y.x[i] = (r[i] + g[i] + b[i]) * 0.33333334f;
  });
}
}  // namespace

FusionWeightParams FusionWeightsOf(const StackParams& p) {
  FusionWeightParams w;
  w.wc = p.fusionContrastExponent;
  w.ws = p.fusionSaturationExponent;
  w.we = p.fusionExposureExponent;
  w.a = p.fusionCoefA;
  w.b = p.fusionCoefB;
  w.c = p.fusionCoefC;
  w.d = p.fusionCoefD;
  w.sigma = p.fusionExposureStdDev;
  w.mid = 127.5f;
  w.contrastMode = p.fusionContrastMode;
  return w;
}

ExposureFusion::ExposureFusion(const FusionWeightParams& weights, int poissonIterations,
                               float sharpening, Status status)
    : p_(weights),
      iterations_(poissonIterations),
      sharpening_(sharpening),
      status_(std::move(status)) {}

void ExposureFusion::show(const char* text, int k) const {
  if (status_) status_(k < 0 ? std::string(text) : Format(text, k + 1, count_));
}

void ExposureFusion::add(fpbuffer& image) {
  const int k = count_;
  // Registered before anything is written, so no file of the run outlives it.
  files_.emplace_back(std::vector<std::string>{PlaneFile("r", k), PlaneFile("g", k),
                                               PlaneFile("b", k), PlaneFile("C", k),
                                               PlaneFile("W", k)});
  for (int c = 0; c < 3; ++c) image.plane[c].writenumbered(kChannelPrefix[c], k, "mat");
  if (p_.contrastInUse()) {
    matrix contrast;
    image.localcontrast(contrast, runningMax_, p_.wc, p_.contrastMode);
    contrast.writenumbered("C", k, "mat");
  }
  ++count_;
}

void ExposureFusion::combine(fpbuffer& image) {
  const int n = count_;
  if (n == 0 || image.n == 0 || image.channels < 3) return;
  const bool useC = p_.contrastInUse();
  matrix contrast, weight, sum;

  // "Infinity": each contrast becomes 1 where it is within 1.0 of the largest, else 0.
  if (useC && runningMax_.n > 0) {
    for (int k = 0; k < n; ++k) {
      contrast.readnumbered("C", k, "mat").maxindicator(runningMax_, 1.0f);
      contrast.writenumbered("C", k, "mat");
      show("Extra Pass for Wc = oo, %d of %d", k);
    }
    runningMax_.free();
  }

  for (int k = 0; k < n; ++k) {
    if (useC) contrast.readnumbered("C", k, "mat");
    for (int c = 0; c < 3; ++c) image.plane[c].readnumbered(kChannelPrefix[c], k, "mat");
    image.fusionweight(weight, sum, contrast, p_);
    weight.writenumbered("W", k, "mat");
    show("Normalizing, %d of %d", k);
  }
  contrast.free();

  const bool poisson = iterations_ != 0;
  const float equal = float(1.0 / n);
  matrixarray gauss, level, blended[3], g1, g2, blendedG1, blendedG2;
  matrix luminance;
  for (int k = 0; k < n; ++k) {
    // Where no exposure weighs anything (a region flat in all of them) each counts alike
    // rather than leaving a black hole.
    weight.readnumbered("W", k, "mat", true).divideby(sum, equal);
    gauss.pyramid(weight, kFusionPyramidLimit, false);
    if (k == 0) {
      for (matrixarray& p : blended) p.dimlike(gauss).zero();
    }
    for (int c = 0; c < 3; ++c) {
      matrix& channel = image.plane[c];
      channel.readnumbered(kChannelPrefix[c], k, "mat");
      blended[c].add(level.pyramid(channel, kFusionPyramidLimit, true).mul(gauss));
    }
    if (poisson) {
      MeanOfChannels(image, luminance);
      matrixarray levels;
      luminance.gradpyramid(levels, g1, g2, kFusionPyramidLimit, true);
      gauss.weightgradients(g1, g2, true);
      if (k == 0) {
        blendedG1.dimlike(g1).zero();
        blendedG2.dimlike(g2).zero();
      }
      blendedG1.add(g1);
      blendedG2.add(g2);
    }
    show("Pyramid Phase, %d of %d", k);
  }
  sum.free();
  weight.free();
  gauss.free();
  level.free();
  g1.free();
  g2.free();

  show("Integrating Pyramids", -1);
  for (int c = 0; c < 3; ++c) {
    image.plane[c].extend(blended[c].collapse()[0]);
    blended[c].free();
  }

  if (poisson) {
    show("Doing Poisson Iterations", -1);
    if (sharpening_ > 1) {
      blendedG1.sharpenlevels(sharpening_);
      blendedG2.sharpenlevels(sharpening_);
    }
    const CSpaceCode blendCode = image.code;
    image.convert(cspace::kYCbCr2 | (blendCode & cspace::kVisibleBits));
    StartProgress(float(iterations_));
    matrix& y = image.plane[0];
    const matrix before(y);
    try {
      y.pyramidcg(iterations_, blendedG1, blendedG2, kFusionPyramidLimit, true);
    } catch (const Cancelled&) {
      // A cancel ends the iterations only; the last completed one is fitted and kept.
    }
    double gain = 1, offset = 0;
    y.lsfit(before, gain, offset, true);
    image.convert(blendCode);
  }
  show("Finished", -1);
}

fpbuffer FuseFrames(const std::vector<fpbuffer>& frames, const FusionWeightParams& weights,
                    int poissonIterations, float sharpening) {
  ExposureFusion run(weights, poissonIterations, sharpening, nullptr);
  fpbuffer image;
  for (const fpbuffer& f : frames) {
    image = f;
    run.add(image);
  }
  run.combine(image);
  return image;
}

StackSteps FusionSteps(CImageView& v, CSpaceCode remembered) {
  StackParams& p = LiveSettings().stack;
  if (p.fusionCoefA == 0 && p.fusionCoefB == 0 && p.fusionCoefC == 0 && p.fusionCoefD == 0) {
    p.fusionCoefA = 1.0f;
  }
  auto run =
      std::make_shared<ExposureFusion>(FusionWeightsOf(p), p.fusionPoissonIterations,
                                       p.fusionPoissonSharpening, [&v](const std::string& text) {
                                         v.pixelInfoText = text;
                                         v.UpdateStatus();
                                       });
  auto add = [run](fpbuffer& image) { run->add(image); };
  return {add, [add](fpbuffer& image, int) { add(image); },
          [run, remembered](fpbuffer& image, int) {
            run->combine(image);
            image.convert(remembered);
          }};
}
}  // namespace ops::stacking
