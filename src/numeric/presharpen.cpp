// The reductions that back-projection assumes, and the presharpening kernels that invert
// them: the kernel table of the shipped "Kernels" file, the lookup of one kernel and its
// correlation with a plane.
#include <cmath>
#include <string>

#include "numeric/kernelfile.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "platform/errors.h"
#include "platform/programdir.h"

namespace {
// Kernel kind (0 box, 1 bilinear, 2 cubic, 3 Lanczos) x 100 + the Lanczos order.
constexpr int kFirstPass[] = {0, 100, 200, 302, 303};
constexpr int kSecondPass[] = {0, 100, 302, 303, 305, 315};
constexpr int kTaps = 21;
}  // namespace

int ReductionKernelId(int mode, bool secondPass) {
  if (secondPass) return mode >= 0 && mode < 6 ? kSecondPass[mode] : -1;
  return mode >= 0 && mode < 5 ? kFirstPass[mode] : -1;
}

bool BuildReductionKernel(matrix& k, int mode, bool secondPass, int n, int ratio) {
  const int id = ReductionKernelId(mode, secondPass);
  if (id < 0 || ratio < 1) return false;
  const double scale = 1.0 / ratio;
  switch (id / 100) {
    case 0:
      BuildBoxKernelForScale(k, n, scale, 0, true);
      break;
    case 1:
      BuildBilinearKernelForScale(k, n, scale, 0, true);
      break;
    case 2:
      BuildBicubicKernelForScale(k, 0.5, n, scale, 0, true);
      break;
    default:
      BuildLanczosKernelForScale(k, id % 100, n, scale, 0, true);
      break;
  }
  return true;
}

std::string ReadKernelTable(matrix& table) {
  return ReadKernelTable(table, ShippedFile("Kernels"));
}

std::string ReadKernelTable(matrix& table, const std::filesystem::path& path) {
  table.free();
  const std::string missing = "File, \"Kernels\" (included in zep.zip), not found.";
  const std::string damaged = "File, \"Kernels\" (included in zep.zip), is damaged.";
  if (path.empty() || !std::filesystem::exists(path)) return missing;
  matrix read;
  try {
    read.readfile(path.string());
  } catch (const TextException&) {
    // The reader checks the header against the length; a file it cannot take is damaged.
    return damaged;
  }
  if (read.nx != kTaps * kTaps || read.ny < kKernelRows) return damaged;
  for (int i = 0; i < read.n; ++i) {
    if (!std::isfinite(read.x[i])) return damaged;
  }
  table = std::move(read);
  return {};
}

matrix& matrix::LoadKernel(const matrix& table, int model, int scale) {
  dim(kTaps, kTaps);
  zero();
  if (model < 0 || model > 4 || scale < 2 || scale > 9 || table.nx != kTaps * kTaps) return *this;
  // Scales 2-5, 7 and 9 are stored (rows 6 model + 0..5); 6 and 8 take the mean of their
  // neighbours.
  const int base = 6 * model;
  const int first = scale <= 5 ? base + scale - 2 : base + scale / 2 + 1;
  const bool mean = scale > 5 && scale % 2 == 0;
  if (first >= table.ny || (mean && base + scale / 2 >= table.ny)) return *this;
  const float* a = table.z[first];
  const float* b = mean ? table.z[base + scale / 2] : nullptr;
  for (int i = 0; i < n; ++i) x[i] = mean ? (a[i] + b[i]) * 0.5f : a[i];
  return *this;
}

matrix& matrix::presharpen(const matrix& input, const matrix& kernel, float amount) {
  matrix blended = kernel;
  if (amount != 1 && blended.n > 0) {
    // (1 - amount) identity + amount kernel, formed in place on the centre tap.
    float& centre = blended.z[blended.ny / 2][blended.nx / 2];
    centre -= 1;
    blended.mulscalar(amount);
    centre += 1;
  }
  return correlate(blended, input);
}
