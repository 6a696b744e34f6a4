// Regularized Deconvolution: the command, the operator lists it builds from the settings,
// the Convolve mode and the per-channel driver with its enlargement shortcut and its
// scratch-file paths.
#include "ops/filters/deconv.h"

#include <cmath>
#include <string>

#include "app/flags.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/opscope.h"
#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/resample.h"
#include "ops/filters/degradation.h"
#include "ops/filters/regularizers.h"
#include "params/dialog1.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace {
constexpr int kLS = 1, kConvolve = 2, kWarningMode = 3;
constexpr int kCustomType = 10;
const char* const kWarning =
    "These operations can take hours or days to complete.  Please, read instruction manual.";
const char* const kNoRegularizer =
    "At least one regularization constraint must be specified.\nTry Again";
const char* const kBadCount =
    "Bad entry.\nNumber of coefficients must be between 1 and 21.\nTry again.";
const char* const kCountPrompt =
    "Enter Number of Coeficients, Automatically Normalize Sum? 1-Yes, 0-No";
const char* const kChannelNames[] = {"X", "Y", "Z"};

DeconvParams& Params() { return LiveSettings().deconv; }

// The custom kernels handed to the degradation operators; they live as long as the
// process, so the slots never point at a freed kernel.
matrix customRow, customColumn;

// The two prompts of one custom kernel. False when the user cancelled.
bool EditCustomKernel(const char* title, int32_t& count, float* coefficients, uint8_t& normalise) {
  for (;;) {
    matrix values(2, 1);
    values.x[0] = static_cast<float>(count);
    values.x[1] = normalise ? 1.0f : 0.0f;
    if (EditNumbers(values, 0, kCountPrompt, " %0.0f", true, title)) return false;
    const float length = values.x[0];
    if (length >= 1 && length < DeconvParams::kMaxKernel + 1) {
      count = static_cast<int32_t>(length);
      normalise = values.x[1] == 1.0f;
      break;
    }
    ShowMessage(kBadCount);
  }
  matrix values(count, 1);
  for (int k = 0; k < count; ++k) values.x[k] = coefficients[k];
  if (EditNumbers(values, 0, "Enter Coeficients:", normalise ? " %2.0f" : " %0.2f", true, title)) {
    return false;
  }
  for (int k = 0; k < count; ++k) coefficients[k] = values.x[k];
  return true;
}

// Pages 138 and 139 (not in Convolve mode) and the custom kernels, after page 137.
bool MoreDialogs() {
  DeconvParams& p = Params();
  if (p.deconvMethod == kWarningMode) return false;
  if (p.deconvMethod != kConvolve) {
    for (int page : {138, 139}) {
      if (Dialog2(LiveSettings()).RunPage(page, 1, 0) != DialogResult::Ok) return false;
    }
  }
  if (p.psfType == kCustomType) {
    if (!EditCustomKernel("Horizontal", p.customKernelHCount, p.customKernelH,
                          p.customKernelNormalize) ||
        !EditCustomKernel("Vertical", p.customKernelVCount, p.customKernelV,
                          p.customKernelNormalize)) {
      return false;
    }
  }
  return true;
}

// A 1-D kernel of the stored coefficients, scaled to sum 1 when asked and possible.
void BuildCustomKernel(matrix& k, int32_t count, const float* coefficients, bool normalise) {
  const int n = count >= 1 && count <= DeconvParams::kMaxKernel ? count : 1;
  k.dim(n, 1);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += k.x[i] = count >= 1 ? coefficients[i] : 1.0f;
  if (normalise && sum != 0.0) {
    for (int i = 0; i < n; ++i) k.x[i] = static_cast<float>(k.x[i] / sum);
  }
}

}  // namespace

PsfPair SetDeconvParameters(const DeconvParams& p, int& factor) {
  SetDiscRadius(p.psfLensBlurRadius);
  SetGaussianSigmas(p.psfGaussianStdDevH, p.psfGaussianStdDevV);
  SetUniformSize(p.psfUniformWidth, p.psfUniformHeight);
  RegularizerWeights& w = CurrentRegularizerWeights();
  w.slopes = p.weightSlopesHV;
  w.slopesDiagonal = p.weightSlopesDiagonal;
  w.curvatures = p.weightCurvaturesHV;
  w.curvaturesDiagonal = p.weightCurvaturesDiagonal;
  w.order3 = p.weightThirdOrderHV;
  w.order3Diagonal = p.weightThirdOrderDiagonal;
  w.crossSlopes = p.weightCrossSlopesHV;
  w.crossSlopesDiagonal = p.weightCrossSlopesDiagonal;
  w.ddSlopesHvMax = p.weightDdSlopesHVMax;
  w.ddSlopesHvMin = p.weightDdSlopesHVMin;
  w.ddCurvesHvMax = p.weightDdCurvesHVMax;
  w.ddCurvesHvMin = p.weightDdCurvesHVMin;
  w.ddSlopesDiagMax = p.weightDdSlopesDMax;
  w.ddSlopesDiagMin = p.weightDdSlopesDMin;
  w.ddCurvesDiagMax = p.weightDdCurvesDMax;
  w.ddCurvesDiagMin = p.weightDdCurvesDMin;
  w.dirCurvesMin = p.weightDdCurvesMin;
  w.dirCurvesMax = p.weightDdCurvesMax;
  w.dirSlopesMin = p.weightDdSlopesMin;
  w.dirSlopesMax = p.weightDdSlopesMax;
  w.dirCurves2Min = p.weightDd2CurvesMin;
  w.dirCurves2Max = p.weightDd2CurvesMax;
  w.dirSlopes2Min = p.weightDd2SlopesMin;
  w.dirSlopes2Max = p.weightDd2SlopesMax;
  SetHorizontalOnlyWeights(p.weightSlopesHorizontal, p.weightCurvesHorizontal,
                           p.weightOrder3Horizontal);
  SetVerticalOnlyWeights(p.weightSlopesVertical, p.weightCurvesVertical, p.weightOrder3Vertical);
  SetBicubicParameter(p.psfBicubicFactor);
  const PsfPair pair = PsfOperators(p.psfType);
  factor = pair.decimating ? std::max(p.deconvScaleFactor, 1) : 1;
  SetDecimationFactor(factor);
  if (p.psfType == kCustomType) {
    BuildCustomKernel(customRow, p.customKernelHCount, p.customKernelH,
                      p.customKernelNormalize != 0);
    BuildCustomKernel(customColumn, p.customKernelVCount, p.customKernelV,
                      p.customKernelNormalize != 0);
    SetCustomKernels(&customRow, &customColumn);
  }
  return pair;
}

namespace {
// The masks and direction fields of one channel, built only for the families whose
// weights put an entry in the lists; the slots point at them while the driver runs.
class ChannelMaps {
 public:
  ChannelMaps() {
    RegularizerMaps& m = CurrentRegularizerMaps();
    m = {&hvSlope_,        &hvCurvature_,        &diagSlope_,    &diagCurvature_,
         &diagSlopeField_, &diagCurvatureField_, &hvSlopeField_, &hvCurvatureField_};
  }
  ~ChannelMaps() { CurrentRegularizerMaps() = RegularizerMaps(); }
  ChannelMaps(const ChannelMaps&) = delete;
  ChannelMaps& operator=(const ChannelMaps&) = delete;

  void Build(const matrix& channel, int factor, float sigma) {
    const RegularizerWeights& w = CurrentRegularizerWeights();
    const float scale = static_cast<float>(factor);
    matrix map;
    auto mask = [&](bitmask& m, float a, float b, bool hv, int mode) {
      if (!(a > 0) && !(b > 0)) return;
      if (hv) {
        map.hvpreference(channel, scale, mode);
      } else {
        map.diagpreference(channel, scale, mode);
      }
      m.positive(map);
    };
    mask(hvSlope_, w.ddSlopesHvMin, w.ddSlopesHvMax, true, 0);
    mask(hvCurvature_, w.ddCurvesHvMin, w.ddCurvesHvMax, true, 1);
    mask(diagSlope_, w.ddSlopesDiagMin, w.ddSlopesDiagMax, false, 0);
    mask(diagCurvature_, w.ddCurvesDiagMin, w.ddCurvesDiagMax, false, 1);
    if (w.dirSlopesMin > 0 || w.dirSlopesMax > 0)
      diagSlopeField_.diagfield(channel, scale, sigma, 0);
    if (w.dirCurvesMin > 0 || w.dirCurvesMax > 0) {
      diagCurvatureField_.diagfield(channel, scale, sigma, 1);
    }
    if (w.dirSlopes2Min > 0 || w.dirSlopes2Max > 0) hvSlopeField_.hvfield(channel, scale, sigma, 0);
    if (w.dirCurves2Min > 0 || w.dirCurves2Max > 0) {
      hvCurvatureField_.hvfield(channel, scale, sigma, 1);
    }
  }

 private:
  bitmask hvSlope_, hvCurvature_, diagSlope_, diagCurvature_;
  matrix diagSlopeField_, diagCurvatureField_, hvSlopeField_, hvCurvatureField_;
};

// The deconvolution's scratch files, removed however the run ends.
class ScratchFiles {
 public:
  static std::string Name(int k) { return Format("temp%d.mat", k); }
  ~ScratchFiles() {
    for (int k = 0; k < 5; ++k) matrix::remove(Name(k));
  }
};

// Solves for x (already of the estimate's size) against the observation b.
void Solve(matrix& x, const matrix& b, const DeconvJob& job, float* l1) {
  if (job.leastSquares) {
    intmaps sizes;
    x.cgls(b, job.adjoint, job.forward, job.adjoints, job.forwards, sizes, job.lsMaxIterations,
           job.lsTolerance, job.lsMinIterations);
  } else {
    x.lad(b, job.adjoint, job.forward, job.adjoints, job.forwards, l1, job.lsMaxIterations,
          job.lsTolerance, job.ladTolerance, job.ladMaxIterations, job.lsMinIterations,
          job.scratch);
  }
}

void Enlarge(matrix& plane, const matrix& kx, const matrix& ky) {
  if (ResampleSeparableInPlace(plane, kx, ky)) throw Cancelled();
}

// Solves the luminance alone and enlarges the chroma by Lanczos-3.
void Shortcut(fpbuffer& image, const DeconvJob& job, ChannelMaps& maps, float* l1) {
  const int w = image.width, h = image.height, f = job.factor;
  const CSpaceCode entry = image.code;
  const CSpaceCode space =
      (job.shortcut == 2 ? cspace::kYCbCr2 : cspace::kYCbCr) | (entry & cspace::kVisibleBits);
  image.convert(space);
  matrix kx, ky;
  BuildLanczosKernelForSizes(kx, 3, w, f * w, 0);
  BuildLanczosKernelForSizes(ky, 3, h, f * h, 0);
  SetStatusText(kChannelNames[0], 3);
  if (job.scratch) {
    const ScratchFiles files;
    for (int c = 0; c < 3; ++c) image.plane[c].write(ScratchFiles::Name(c));
    bitmask mask = std::move(image.mask);
    image.clear(true);
    {
      matrix b;
      b.read(ScratchFiles::Name(0));
      maps.Build(b, f, job.tensorSigma);
      matrix x(f * w, f * h);
      Solve(x, b, job, l1);
      x.write(ScratchFiles::Name(0));
    }
    for (int c = 1; c < 3; ++c) {
      matrix plane;
      plane.read(ScratchFiles::Name(c));
      Enlarge(plane, kx, ky);
      plane.write(ScratchFiles::Name(c));
    }
    image.dim(f * w, f * h, space);
    for (int c = 0; c < 3; ++c) image.plane[c].read(ScratchFiles::Name(c), true);
    image.mask = std::move(mask);
  } else {
    maps.Build(image.plane[0], f, job.tensorSigma);
    const matrix b = image.plane[0];
    image.plane[0].dim(f * w, f * h);
    Solve(image.plane[0], b, job, l1);
    for (int c = 1; c < image.channels; ++c) Enlarge(image.plane[c], kx, ky);
  }
  image.syncviews();
  image.convert(entry);
}

// Every active channel on its own, in memory or through the scratch files.
void PerChannel(fpbuffer& image, const DeconvJob& job, ChannelMaps& maps, float* l1) {
  const int f = job.factor;
  const int w = image.width, h = image.height, channels = image.channels;
  const CSpaceCode entry = image.code;
  const OperationScope scope(image, nullptr, job.cond && f == 1, {ScopeChannels::ByCond, false});
  float spare = 0.0f;
  auto result = [&](int c) { return c < 3 ? &l1[c] : &spare; };
  if (!job.scratch) {
    for (int c = 0; c < channels; ++c) {
      if (c < 3) SetStatusText(kChannelNames[c], 3);
      if (!scope.processes(c)) continue;
      maps.Build(image.plane[c], f, job.tensorSigma);
      const matrix b = image.plane[c];
      if (f != 1) image.plane[c].dim(f * w, f * h);
      Solve(image.plane[c], b, job, result(c));
    }
    image.syncviews();
    return;
  }
  const ScratchFiles files;
  for (int c = 0; c < channels; ++c) image.plane[c].write(ScratchFiles::Name(c + 1));
  bitmask mask = std::move(image.mask);
  image.clear(true);
  for (int c = 0; c < channels; ++c) {
    if (c < 3) SetStatusText(kChannelNames[c], 3);
    if (!scope.processes(c)) continue;
    matrix b;
    b.read(ScratchFiles::Name(c + 1));
    maps.Build(b, f, job.tensorSigma);
    matrix x(f * w, f * h);
    Solve(x, b, job, result(c));
    x.write(ScratchFiles::Name(c + 1));
  }
  image.dim(f * w, f * h, entry);
  for (int c = 0; c < channels; ++c) image.plane[c].read(ScratchFiles::Name(c + 1), true);
  image.syncviews();
  image.mask = std::move(mask);
}

// The settings as a job, with the regularizer lists of the weights now in the slots.
DeconvJob MakeJob(const DeconvParams& p, const PsfPair& psf, int factor) {
  DeconvJob job;
  job.forward = psf.forward;
  job.adjoint = psf.adjoint;
  AppendRegularizers(job.forwards, job.adjoints);
  job.factor = factor;
  job.leastSquares = p.deconvMethod == kLS;
  job.lsMinIterations = p.lsMinIterations;
  job.lsMaxIterations = p.lsMaxIterations;
  job.lsTolerance = p.lsExitTolerance;
  job.ladMaxIterations = p.ladMaxIterations;
  job.ladTolerance = p.ladExitTolerance;
  job.shortcut = p.deconvShortcut;
  job.scratch = p.deconvUseScratchDisk != 0;
  job.tensorSigma = p.tensorBlurStdDev;
  job.cond = LiveSettings().conditional != 0;
  return job;
}

// Page 137 and what follows it, when the command asks again; then Ctrl.
bool AskAgain(CImageView& v, int id) {
  if (Dialog2(LiveSettings()).RunPage(137, 1, 0) != DialogResult::Ok) return false;
  if (!MoreDialogs()) return false;
  if (Flags().CtrlHeld) {
    v.SelectOperation(id, true);
    return false;
  }
  return true;
}
}  // namespace

void convolve(fpbuffer& image, LinearOp forward, bool cond, int factor) {
  const int f = std::max(factor, 1);
  if (f > 1) {
    image.mask.free();
    cond = false;
  }
  const OperationScope scope(image, nullptr, cond, {ScopeChannels::ByCond, false});
  const int w = image.width, h = image.height;
  for (int c = 0; c < image.channels; ++c) {
    if (!scope.processes(c)) continue;
    const matrix copy = image.plane[c];
    if (f > 1) image.plane[c].dim(int(double(w) / f + 0.5), int(double(h) / f + 0.5));
    forward(image.plane[c], copy);
  }
  if (f > 1) image.syncviews();
}

std::array<float, 3> deconvolve(fpbuffer& image, const DeconvJob& job) {
  std::array<float, 3> l1{};
  ChannelMaps maps;
  const int f = std::max(job.factor, 1);
  if (image.mask.present() && f != 1) image.mask.resample(f, f, 0, 0);
  if (job.shortcut != 0 && f > 1 && image.channels >= 3) {
    Shortcut(image, job, maps, l1.data());
  } else {
    PerChannel(image, job, maps, l1.data());
  }
  return l1;
}

uint64_t DeconvMemory(int w, int h, int channels, const DeconvJob& job) {
  const uint64_t f = uint64_t(std::max(job.factor, 1));
  const uint64_t estimate = f * f * uint64_t(std::max(w, 0)) * uint64_t(std::max(h, 0)) * 4;
  const uint64_t k = job.forwards.size();
  // The result's channels, then the solver's planes: residual, search direction, gradient
  // and product beside two residuals per regularizer; the interior-point method adds its
  // dual variables, weights and residuals of the data term and of each regularizer.
  uint64_t planes = uint64_t(std::max(channels, 1)) + 4 + 2 * k;
  if (!job.leastSquares) planes += 5 + 5 * k;
  return estimate * planes;
}

void OnRegularizedDeconvolution(CImageView& v, int id) {
  const CommandFlags& flags = Flags();
  if (!flags.F2Active && !flags.F3Active && Params().deconvMethod == kWarningMode) {
    GetUi().MessageBox(kWarning, "Warning", MessageStyle{});
  }
  for (bool first = true;; first = false) {
    if (!(first ? v.PrepareOperation(id, MoreDialogs) : AskAgain(v, id))) return;
    const DeconvParams& p = Params();
    int factor = 1;
    const PsfPair psf = SetDeconvParameters(p, factor);
    DeconvJob job = MakeJob(p, psf, factor);
    if (job.forwards.empty()) {
      ShowMessage(kNoRegularizer);
      // Without the page nothing could change before the same message came back.
      if (!LiveSettings().autoQuery) return;
      continue;
    }
    if (p.deconvMethod == kConvolve) {
      v.RunOnFloat([&](fpbuffer& image) { convolve(image, psf.forward, job.cond, factor); });
      return;
    }
    const fpbuffer& image = v.currentLayer();
    if (!MemoryAllows(DeconvMemory(image.width, image.height, image.channels, job))) {
      ShowMessage(Format("Not enough memory for a %d x %d estimate.", factor * image.width,
                         factor * image.height));
      return;
    }
    v.RunOnFloat([&](fpbuffer& layer) {
      const std::array<float, 3> l1 = deconvolve(layer, job);
      v.pixelInfoText = Format("L1 Errors: X = %.0f, Y = %.0f, Z = %.0f", l1[0], l1[1], l1[2]);
    });
    return;
  }
}
