// The windowless Xin Li enlargement of the float image: every channel waits in a scratch
// file while one is enlarged; the weights of each doubling wait in files that the
// chrominance of a shortcut and the back-projection read again, and none of them outlives
// the call.
#include "ops/resize/windowless.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "numeric/plane.h"
#include "numeric/shift.h"
#include "ops/resize/resize.h"
#include "params/blocks.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace {

// w 2^p, saturated.
int64_t Doubled(int w, int p) {
  return std::min<int64_t>(int64_t(w) << std::min(p, 31),
                           std::numeric_limits<int32_t>::max() + int64_t(1));
}

}  // namespace

uint64_t WindowlessFitBytes(int w, int h, int k, bool sixteen) {
  if (k <= 0 || w <= 0 || h <= 0) return 0;
  const uint64_t pixels = uint64_t(Doubled(w, k - 1)) * uint64_t(Doubled(h, k - 1));
  const uint64_t K = sixteen ? 16 : 4;
  // Weights, gradient, direction and the two Laplacian terms' residuals and images (7 K
  // planes), the prior residual and image (2 K), the model and sum residuals and images
  // (4), the source (1) and the doubled estimate (4), in floats; the two class maps.
  const uint64_t perPixel = 4 * (9 * K + 9) + 2;
  if (pixels > std::numeric_limits<uint64_t>::max() / perPixel) {
    return std::numeric_limits<uint64_t>::max();
  }
  return pixels * perPixel;
}

bool WindowlessFits(int w, int h, int k, bool sixteen) {
  if (k <= 0) return true;
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  const int64_t W = Doubled(w, k), H = Doubled(h, k);
  const int64_t K = sixteen ? 16 : 4;
  // The prior rows of the last fit hold K planes' worth in one matrix.
  const int64_t fitted = Doubled(w, k - 1) * Doubled(h, k - 1);
  if (W > kMax || H > kMax || W * H > kMax || fitted * K > kMax) return false;
  return MemoryAllows(WindowlessFitBytes(w, h, k, sixteen));
}

int64_t WindowlessTicks(int w, int h, int channels, int iterations, int shortcut, int k,
                        int superRezIters) {
  int64_t fit = 0;
  for (int p = 0; p < k; ++p) {
    if (Doubled(w, p) >= 3 && Doubled(h, p) >= 3) fit += 2 * int64_t(std::max(iterations - 1, 0));
  }
  const int64_t fitted = ShortcutSpace(shortcut) ? std::min(channels, 1) : channels;
  return fitted * (fit + 4 * int64_t(std::max(superRezIters, 0)));
}

fpbuffer& fpbuffer::windowless(float a, float b, float c, float d, int iterations, bool clamp,
                               int shortcut, int k, bool priorStart, bool sixteen,
                               int backProjections, int reductionMethod, int baseMethod,
                               float radius, float amount, const PostProcessParams& params) {
  if (k < 0 || k > 30) throw TextException(kDoublingsMessage);
  CheckEnlargementKernels(1, reductionMethod, baseMethod);
  if (empty() || k == 0) return *this;
  // Refused before anything changes, as an allocation that fails.
  if (!WindowlessFits(width, height, k, sixteen)) {
    ReportPlaneAllocationFailure(
        Format("Out of memory!\n\nFailed to allocate %.2f MB memory for matrix x member.\n\n"
               "fpbuffer::windowless",
               double(WindowlessFitBytes(width, height, k, sixteen)) * 1e-6),
        true);
  }
  const int K = sixteen ? 16 : 4;
  const int f = 1 << k;
  std::vector<std::string> weightFiles;
  for (int p = 0; p < k; ++p) {
    for (int e = 0; e < K; ++e) {
      weightFiles.push_back(ArrayElementName("hv", p, e));
      weightFiles.push_back(ArrayElementName("d", p, e));
    }
  }
  const ScratchFiles weights(std::move(weightFiles));
  const CSpaceCode entry = code;
  const CSpaceCode space = ShortcutSpace(shortcut);
  if (space) convert(space);
  matrix cache;
  int done = 0;
  ForEachChannel(*this, true, DominantFirst(1, channels), [&](matrix& plane) {
    if (done++ > 0 && space) {
      // The chrominance follows the luminance's weights, and its grid: back-projection and
      // "Super Rez" centre the luminance, so the chrominance is centred with it.
      plane.windowlessreapply(clamp, k, sixteen);
      if (backProjections > 0 || params.superRezIters > 0)
        ShiftHalfPixelNoCancel(plane, true, true);
      return false;
    }
    const matrix low(plane);
    plane.windowlessenlarge(a, b, c, d, iterations, clamp, k, true, priorStart, sixteen);
    plane.windowlessbackproject(low, backProjections, reductionMethod, baseMethod, radius, amount,
                                k, sixteen);
    SuperRez(plane, low, cache, f, reductionMethod, baseMethod, params, radius, amount);
    return false;
  });
  if (space) convert(entry);
  if (mask.present()) mask.resample(f, f, 0, 0);
  return *this;
}
