// Focus stacking: each detail is taken from the image where it is strongest, scale by
// scale. The three modes plug into the stacking load loop (stack.cpp).
#include "ops/stacking/edof.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "app/imageview.h"
#include "numeric/cvector.h"
#include "numeric/dmatrix.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "platform/regularfile.h"
#include "platform/ui.h"

namespace ops::stacking {
namespace {
// A-trous levels stop while the smaller side is at least this; pyramids stop at 4.
constexpr int kAtrousLimit = 16;
constexpr int kPyramidLimit = 4;
const char* const kPrefixes[3] = {"r", "g", "b"};

void Status(CImageView& v, const std::string& text) {
  v.pixelInfoText = text;
  v.UpdateStatus();
}

// Shows a scratch file's problem with its path as caption and ends the run.
[[noreturn]] void Fail(const char* text, const std::string& path) {
  GetUi().MessageBox(text, path, MessageStyle{});
  throw Cancelled{};
}

// The scratch files a run has written, removed by name when the run ends, however it ends.
// A name is added once its file is there: what stood under it before is not the run's.
class RunFiles {
 public:
  RunFiles() = default;
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;
  ~RunFiles() {
    for (const std::string& name : names_) matrix::remove(name);
  }
  void add(const std::string& name) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(name);
  }

 private:
  std::vector<std::string> names_;
};

// The load loop's steps of a run that adds every accepted image and finishes with the count.
template <class Run>
StackSteps StepsOf(const std::shared_ptr<Run>& run) {
  return {[run](fpbuffer& image) { run->add(image, 0); },
          [run](fpbuffer& image, int k) { run->add(image, k); },
          [run](fpbuffer& image, int n) { run->finish(image, n); }};
}

// ---- "Extended DOF": signed power means of a-trous coefficients ----

// An exponent in (0, 16] is a power; anything else counts as "Infinity", in the
// accumulation and at the end alike.
bool FinitePower(float p) { return p > 0.0f && p <= 16.0f; }

double SignedPower(double v, double p) {
  if (p == 1.0) return v;
  if (p == 2.0) return v * std::fabs(v);
  return v < 0 ? -std::pow(-v, p) : std::pow(v, p);
}

// Adds one image's detail level into its sum, in double: |d|^16 of 0-255 data overflows
// a float. For "Infinity" the coefficient of larger magnitude is kept (ties keep the held).
void AccumulateLevel(dmatrix& sum, const matrix& detail, float p) {
  double* s = sum.x;
  const float* d = detail.x;
  const bool finite = FinitePower(p);
  const double e = p;
  ParallelBlocks(detail.n, BlockFor(16), [=](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) {
      if (finite) {
        s[i] += SignedPower(d[i], e);
      } else if (std::fabs(double(d[i])) > std::fabs(s[i])) {
        s[i] = d[i];
      }
    }
  });
}

// residual += every level's mean: sign(S) (|S|/n)^(1/p) of a finite level, the kept
// coefficient of an "Infinity" one.
void AddLevelMeans(matrix& residual, const std::vector<dmatrix>& sums, const float* p, int count) {
  float* r = residual.x;
  ParallelBlocks(residual.n, BlockFor(16 * int64_t(sums.size())), [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) {
      double t = r[i];
      for (size_t l = 0; l < sums.size(); ++l) {
        const double s = sums[l].x[i];
        t += FinitePower(p[l]) ? SignedPower(s / count, 1.0 / double(p[l])) : s;
      }
      r[i] = float(t);
    }
  });
}

// One channel's sums between images, with scratch files: per level the level file's name,
// three int32 (width, height, count) and the doubles, row 0 first.
void WriteSums(const std::vector<dmatrix>& sums, int c, RunFiles& files) {
  for (size_t l = 0; l < sums.size(); ++l) {
    const std::string name = ArrayElementName(kPrefixes[c], 0, int(l));
    const dmatrix& s = sums[l];
    const bool ok = WriteFileReplacing(ScratchPath(name), [&s](std::FILE* f) {
      const int32_t header[3] = {s.nx, s.ny, s.n};
      return std::fwrite(header, sizeof header, 1, f) == 1 &&
             std::fwrite(s.x, sizeof(double), size_t(s.n), f) == size_t(s.n);
    });
    if (!ok) Fail(kStackWriteProblem, ScratchPath(name).string());
    files.add(name);
  }
}

void ReadSums(std::vector<dmatrix>& sums, int c, int levels, int w, int h, bool removeAfter) {
  sums.resize(size_t(levels));
  for (int l = 0; l < levels; ++l) {
    const std::string name = ArrayElementName(kPrefixes[c], 0, l);
    const std::string path = ScratchPath(name).string();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(OpenRegularFile(path), &std::fclose);
    int32_t header[3] = {};
    std::error_code ec;
    const uint64_t length = std::filesystem::file_size(path, ec);
    const uint64_t count = uint64_t(w) * uint64_t(h);
    if (!f || ec || std::fread(header, sizeof header, 1, f.get()) != 1 || header[0] != w ||
        header[1] != h || uint64_t(header[2]) != count || length != 12 + 8 * count) {
      Fail(kStackReadProblem, path);
    }
    sums[size_t(l)].dim(w, h);
    if (std::fread(sums[size_t(l)].x, sizeof(double), count, f.get()) != count) {
      Fail(kStackReadProblem, path);
    }
    f.reset();
    if (removeAfter) matrix::remove(name);
  }
}

struct PowerMeanRun {
  int levels = 0;
  float p[StackParams::kMaxLevels] = {};
  bool scratch = false;
  std::array<std::vector<dmatrix>, 3> sums;
  fpbuffer mean;
  RunFiles files;

  // The image's detail levels of channels 0-2 into the sums; its channels keep their
  // residuals, which the mean adds.
  void add(fpbuffer& image, int k) {
    if (k == 0) {
      const int wanted =
          std::clamp(LiveSettings().stack.stackScaleLevels, 1, StackParams::kMaxLevels);
      levels = std::min(wanted, PyramidDepth(std::min(image.width, image.height), kAtrousLimit));
    }
    matrixarray details;
    for (int c = 0; c < 3; ++c) {
      std::vector<dmatrix>& s = sums[size_t(c)];
      if (scratch && k > 0) ReadSums(s, c, levels, image.width, image.height, false);
      if (s.empty()) {
        s.resize(size_t(levels));
        for (dmatrix& level : s) level.dim(image.width, image.height).zero();
      }
      details.atrous(image.plane[c], levels);
      for (int l = 0; l < levels; ++l) AccumulateLevel(s[size_t(l)], details[l], p[l]);
      if (scratch) {
        WriteSums(s, c, files);
        s.clear();
      }
    }
    if (k == 0) {
      mean.copy(image);
    } else {
      mean.add(image);
    }
  }

  void finish(fpbuffer& image, int n) {
    mean.scale(float(1.0 / n));
    for (int c = 0; c < 3; ++c) {
      std::vector<dmatrix>& s = sums[size_t(c)];
      if (scratch) ReadSums(s, c, levels, mean.width, mean.height, true);
      AddLevelMeans(mean.plane[c], s, p, n);
      s.clear();
    }
    image.swapwith(mean);
    mean.clear();
  }
};

StackSteps PowerMeanSteps() {
  auto run = std::make_shared<PowerMeanRun>();
  const StackParams& sp = LiveSettings().stack;
  std::copy(std::begin(sp.stackLevelParams), std::end(sp.stackLevelParams), run->p);
  run->scratch = sp.edofScratchFiles != 0;
  return StepsOf(run);
}

// ---- "Extended DOF 2": Laplacian pyramids, the largest coefficient ----

struct LaplacianRun {
  CImageView* v = nullptr;
  std::array<float, 3> tolerance{}, attenuation{};
  std::array<matrixarray, 3> fused;
  RunFiles files;

  bool averages(int c) const { return tolerance[size_t(c)] > 0.0f; }

  void add(fpbuffer& image, int k) {
    matrixarray p;
    for (int c = 0; c < 3; ++c) {
      p.pyramid(image.plane[c], kPyramidLimit, true);
      matrixarray& f = fused[size_t(c)];
      if (k == 0) f.dimlike(fused[0].n ? fused[0] : p).zero();
      // Band levels keep the largest coefficient, the residual level is summed.
      const int bands = p.n - 1;
      if (bands > 0) KeepMaxAbs(f, p, bands);
      f[bands].add(p[bands]);
      if (averages(c)) {
        const std::string name = NumberedName(kPrefixes[c], k, "mat");
        image.plane[c].write(name);
        files.add(name);
      }
    }
  }

  void finish(fpbuffer& image, int n) {
    const int bands = fused[0].n - 1;
    if (averages(0) || averages(1) || averages(2)) {
      Status(*v, "Starting Noise Reduction Phase");
      matrixarray sums(bands);
      intmaps counts;
      counts.dim(0, bands);
      for (int i = 0; i < bands; ++i) {
        sums[i].dim(fused[0][i].nx, fused[0][i].ny);
        counts.row[i].dim(fused[0][i].n);
      }
      matrix plane;
      for (int c = 0; c < 3; ++c) {
        if (!averages(c)) continue;
        sums.zero();
        for (int i = 0; i < bands; ++i) std::fill_n(counts.row[i].x, counts.row[i].n, 0);
        for (int k = 0; k < n; ++k) {
          plane.readnumbered(kPrefixes[c], k, "mat", true);
          AccumulateWithin(sums, plane, fused[size_t(c)], counts, tolerance[size_t(c)],
                           attenuation[size_t(c)], kPyramidLimit);
        }
        DivideCounts(sums, counts);
        AssignLevels(fused[size_t(c)], sums);
      }
    }
    for (int c = 0; c < 3; ++c) {
      matrixarray& f = fused[size_t(c)];
      f[bands].mulscalar(float(1.0 / n));
      f.collapse();
      image.plane[c].extend(f[0]);
      f.free();
    }
    Status(*v, "Finished");
  }
};

StackSteps LaplacianSteps(CImageView& v) {
  auto run = std::make_shared<LaplacianRun>();
  const StackParams& sp = LiveSettings().stack;
  run->v = &v;
  run->tolerance = {sp.edof2Tolerance1, sp.edof2Tolerance2, sp.edof2Tolerance3};
  run->attenuation = {sp.edof2Attenuation1, sp.edof2Attenuation2, sp.edof2Attenuation3};
  return StepsOf(run);
}

// ---- "Extended DOF 3": the strongest gradients, rebuilt by conjugate gradients ----

struct GradientRun {
  CImageView* v = nullptr;
  int iterations = 0;
  std::array<matrixarray, 3> b1, b2;
  fpbuffer sum;

  void add(fpbuffer& image, int k) {
    matrixarray gauss, a1, a2;
    for (int c = 0; c < 3; ++c) {
      image.plane[c].gradpyramid(gauss, a1, a2, kPyramidLimit, true);
      if (k == 0) {
        b1[size_t(c)].dimlike(a1).zero();
        b2[size_t(c)].dimlike(a2).zero();
      }
      b1[size_t(c)].keeplargergradients(b2[size_t(c)], a1, a2);
    }
    if (k == 0) {
      sum.dim(image.width, image.height, image.code).zero();
    }
    sum.add(image);
  }

  // The average image, then every channel rebuilt from the kept gradients. A cancel
  // throws out of the solver, and the window keeps the image it had.
  void finish(fpbuffer& image, int n) {
    sum.scale(float(1.0 / n));
    image.swapwith(sum);
    sum.clear();
    Status(*v, "Doing Poisson Iterations");
    StartProgress(3.0f * float(iterations));
    for (int c = 0; c < 3; ++c) {
      image.plane[c].pyramidcg(iterations, b1[size_t(c)], b2[size_t(c)], kPyramidLimit, true);
      b1[size_t(c)].free();
      b2[size_t(c)].free();
    }
    Status(*v, "Finished");
  }
};

StackSteps GradientSteps(CImageView& v) {
  auto run = std::make_shared<GradientRun>();
  run->v = &v;
  run->iterations = std::max(0, LiveSettings().stack.edof3PoissonIterations);
  return StepsOf(run);
}
}  // namespace

bool ExtendedDofMode(int mode) {
  return mode == kStackExtendedDof || mode == kStackExtendedDof2 || mode == kStackExtendedDof3;
}

StackSteps ExtendedDofSteps(CImageView& v, int mode) {
  switch (mode) {
    case kStackExtendedDof:
      return PowerMeanSteps();
    case kStackExtendedDof2:
      return LaplacianSteps(v);
    default:
      return GradientSteps(v);
  }
}
}  // namespace ops::stacking
