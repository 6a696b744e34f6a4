// The exposure merge of stacking: exposures of one scene at different brightness blended
// from the brightest to the darkest, each step keeping the brighter (less noisy) result
// where the darker exposure is dark and taking the darker one where the brighter clips.
#include <algorithm>
#include <cmath>
#include <vector>

#include "numeric/matching.h"
#include "numeric/sort.h"
#include "ops/stacking/stack.h"
#include "ops/stacking/stacking.h"

namespace {
// The brightness ratio of the darker exposure to the brighter result. Saturated pixels (at
// either image's maximum) tell nothing of it: in a bracket the brighter frames clip much of
// the scene, and their clipped pixels, the heaviest in the fit, would drag the ratio down.
float ExposureGain(const matrix& brighter, const matrix& darker) {
  const int n = std::min(brighter.n, darker.n);
  if (n == 0) return 1.0f;
  const float bTop = *std::max_element(brighter.x, brighter.x + n);
  const float dTop = *std::max_element(darker.x, darker.x + n);
  int kept = 0;
  for (int i = 0; i < n; ++i) kept += brighter.x[i] < bTop && darker.x[i] < dTop;
  if (kept == 0) return LeastAbsoluteGain(brighter, darker);
  matrix x(kept, 1), y(kept, 1);
  for (int i = 0, j = 0; i < n; ++i) {
    if (brighter.x[i] < bTop && darker.x[i] < dTop) {
      x.x[j] = brighter.x[i];
      y.x[j++] = darker.x[i];
    }
  }
  return LeastAbsoluteGain(x, y);
}
}  // namespace

fpbuffer& fpbuffer::blendexposure(const fpbuffer& darker, fpbuffer& brighter, float k) {
  const float g = ExposureGain(brighter.plane[0], darker.plane[0]);
  matrix& b0 = brighter.plane[0];
  float top = -INFINITY;
  for (int i = 0; i < b0.n; ++i) {
    b0.x[i] *= g;
    top = std::max(top, b0.x[i]);
  }
  dimunset(darker.width, darker.height, darker.code);
  for (int c = 0; c < std::min(channels, 3); ++c) {
    std::copy(darker.plane[c].x, darker.plane[c].x + n, plane[c].x);
  }
  for (int c = 3; c < channels; ++c) std::fill(plane[c].x, plane[c].x + n, 0.0f);
  // A black brighter result has no scale to blend on: the darker exposure stands alone.
  if (!(top > 0)) return *this;
  const float* d0 = darker.plane[0].x;
  const float* d1 = darker.plane[1].x;
  const float* d2 = darker.plane[2].x;
  const float* s1 = brighter.plane[1].x;
  const float* s2 = brighter.plane[2].x;
  for (int i = 0; i < n; ++i) {
    const float d = d0[i];
    if (d > top) continue;  // the darker exposure's pixel as it is
    float t = d / top;
    if (!(t > 0)) t = 0;
    const float w = std::pow(t, k);
    plane[0].x[i] = (1 - w) * b0.x[i] + w * d;
    plane[1].x[i] = (1 - w) * s1[i] * g + w * d1[i];
    plane[2].x[i] = (1 - w) * s2[i] * g + w * d2[i];
  }
  return *this;
}

int fpbuffer::mergeexposures(const std::vector<std::string>& paths, float k, bool noiseReduction) {
  const int count = int(paths.size());
  if (count == 0) return -1;
  const int w = width, h = height;
  const CSpaceCode c = code;
  // Brightest first: ordered by the sum of channel 0, largest first.
  std::vector<float> keys(size_t(count), 0.0f);
  std::vector<int32_t> order(static_cast<size_t>(count));
  for (int j = 0; j < count; ++j) {
    if (readfrgb(paths[size_t(j)], c, w, h)) return j;
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += plane[0].x[i];
    keys[size_t(j)] = -float(sum);
    order[size_t(j)] = j;
  }
  SortFloatKeys(keys.data(), order.data(), count);
  auto read = [&](fpbuffer& into, int j) {
    return into.readfrgb(paths[size_t(order[size_t(j)])], c, w, h);
  };
  fpbuffer darker, brighter;
  if (!noiseReduction) {
    if (read(*this, 0)) return order[0];
    for (int j = 1; j < count; ++j) {
      if (read(darker, j)) return order[size_t(j)];
      brighter = *this;
      blendexposure(darker, brighter, k);
    }
    return -1;
  }
  fpbuffer merged;
  if (read(merged, 0)) return order[0];
  *this = merged;
  for (int j = 1; j < count; ++j) {
    if (read(darker, j)) return order[size_t(j)];
    for (int ch = 0; ch < 3; ++ch) {
      float* to = plane[ch].x;
      const float* from = darker.plane[ch].x;
      for (int i = 0; i < n; ++i) to[i] += from[i];
    }
    brighter = merged;
    merged.blendexposure(darker, brighter, k);
  }
  // The plain average has the least noise; the levels of the merge give it its range.
  const float inverse = 1.0f / float(count);
  for (int ch = 0; ch < 3; ++ch) {
    for (int i = 0; i < n; ++i) plane[ch].x[i] *= inverse;
  }
  const CSpaceCode logRgb = cspace::kLogRGB | (c & cspace::kVisibleBits);
  convert(logRgb);
  merged.convert(logRgb);
  ops::stacking::matchlevels(*this, merged, 5.0f, 2.5f, false);
  return -1;
}
