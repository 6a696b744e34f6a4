// Rotation-scale-translation alignment: exhaustive searches of a rotation and shift, or of
// the two points where the image's corners land, coarse to fine on the luminance pyramids.
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/imageview.h"
#include "numeric/bitmask.h"
#include "numeric/warp.h"
#include "ops/stacking/align.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace ops::stacking {

std::vector<float> SearchValues(float v, float range, float step) {
  std::vector<float> values;
  const float last = v + range;
  float t = v - range;
  // Steps that add nothing would never reach the end.
  while ((t <= last || values.size() < 3) && values.size() < 100000) {
    values.push_back(t);
    const float next = t + step;
    if (!(next > t) && values.size() >= 3) break;
    t = next;
  }
  return values;
}

float AlignCost(const matrix& warped, const bitmask& marks, const matrix& reference, int errorMode) {
  switch (errorMode) {
    case 0:
      return warped.maskedmse(&marks, reference);
    case 2:
      return warped.maskedmedianad(&marks, reference);
    default:
      return warped.maskedmad(&marks, reference);
  }
}

namespace {
// Scores `count` candidates in parallel and keeps the first strictly smaller score in
// their order; the record of candidate k comes from record(k).
template <class Record>
int BestCandidate(int64_t count, const matrix& image, const matrix& reference, int errorMode, float& best,
                  Record record) {
  if (count == 0) return -1;
  std::vector<float> scores(size_t(count), 0.0f);
  ParallelBlocks(count, 1, [&](int64_t begin, int64_t end) {
    matrix warped;
    bitmask marks;
    for (int64_t k = begin; k < end; ++k) {
      warped.WarpSimilarityBicubic(image, record(k), &marks);
      scores[size_t(k)] = AlignCost(warped, marks, reference, errorMode);
    }
  });
  int found = -1;
  for (int64_t k = 0; k < count; ++k) {
    if (scores[size_t(k)] < best) {
      best = scores[size_t(k)];
      found = int(k);
    }
  }
  return found;
}
}  // namespace

float RotationShiftSearch(const matrix& image, const matrix& templ, float cx, float cy, float& theta, float& x,
                          float& y, float thetaRange, float thetaStep, float xRange, float xStep, float yRange,
                          float yStep, int errorMode) {
  const std::vector<float> ts = SearchValues(theta, thetaRange, thetaStep);
  const std::vector<float> ys = SearchValues(y, yRange, yStep);
  const std::vector<float> xs = SearchValues(x, xRange, xStep);
  const int64_t plane = int64_t(ys.size()) * int64_t(xs.size());
  float best = 1e32f;
  // One angle at a time, so a long search ticks and can be cancelled.
  for (float t : ts) {
    StepProgressOrThrow();
    const int k = BestCandidate(plane, image, templ, errorMode, best, [&](int64_t q) {
      return RotateShiftTransform(cx, cy, t, xs[size_t(q % int64_t(xs.size()))], ys[size_t(q / int64_t(xs.size()))]);
    });
    if (k >= 0) {
      theta = t;
      x = xs[size_t(k % int64_t(xs.size()))];
      y = ys[size_t(k / int64_t(xs.size()))];
    }
  }
  return best;
}

// The scale of a point pair relative to the diagonal d, or a negative value for a pair
// whose points coincide.
static float PairScale(float x1, float y1, float x2, float y2, float d) {
  const float dx = x2 - x1, dy = y2 - y1;
  if (dx == 0.0f && dy == 0.0f) return -1.0f;
  return std::sqrt(dx * dx + dy * dy) / d;
}

float TwoPointSearch(const matrix& image, const matrix& templ, float W, float H, float& x1, float& y1, float& x2,
                     float& y2, float range, float step, int errorMode, float minScale, float maxScale) {
  const float d = std::sqrt(W * W + H * H);
  const std::vector<float> y1s = SearchValues(y1, range, step), x1s = SearchValues(x1, range, step);
  const std::vector<float> y2s = SearchValues(y2, range, step), x2s = SearchValues(x2, range, step);
  float best = 1e32f;
  std::vector<std::pair<float, float>> pairs;
  for (float a : y1s) {
    for (float b : x1s) {
      StepProgressOrThrow();
      // Only the second points within the scale range are scored, in loop order.
      pairs.clear();
      for (float c : y2s) {
        for (float e : x2s) {
          const float q = PairScale(b, a, e, c, d);
          if (q >= 0.0f && q >= minScale && q <= maxScale) pairs.emplace_back(e, c);
        }
      }
      const int k = BestCandidate(int64_t(pairs.size()), image, templ, errorMode, best, [&](int64_t p) {
        return SimilarityFromTwoPoints(b, a, pairs[size_t(p)].first, pairs[size_t(p)].second, 0, 0, W, H);
      });
      if (k >= 0) {
        x1 = b;
        y1 = a;
        x2 = pairs[size_t(k)].first;
        y2 = pairs[size_t(k)].second;
      }
    }
  }
  return best;
}

RotationEstimate estimaterotation(const fpbuffer& image, const matrixarray& templ, float angleRange, float angleStep,
                                  bool extra, int errorMode) {
  RotationEstimate r;
  const int L = templ.n;
  matrixarray pyramid;
  pyramid.alignpyramid(image, L);
  const matrix& coarse = templ[L - 1];
  const float xr = float(coarse.nx / 4), yr = float(coarse.ny / 4);
  const float fine = angleStep * 0.33333334f;
  // Ticks: one per angle of every search.
  auto angles = [&](float range, float step) { return float(SearchValues(0.0f, range, step).size()); };
  StartProgress(angles(angleRange, angleStep) + float(L) * angles(angleStep, fine) +
                (extra ? angles(angleStep * 0.5f, angleStep * 0.16666667f) +
                             angles(angleStep * 0.25f, angleStep * 0.083333336f) +
                             angles(angleStep * 0.125f, angleStep * 0.041666668f)
                       : 0.0f));
  // The centre of level 0 is the centre of the final warp; coarser levels halve it.
  std::vector<float> cx(static_cast<size_t>(L)), cy(static_cast<size_t>(L));
  cx[0] = float(templ[0].nx - 1) * 0.5f;
  cy[0] = float(templ[0].ny - 1) * 0.5f;
  for (int k = 1; k < L; ++k) {
    cx[size_t(k)] = cx[size_t(k - 1)] * 0.5f;
    cy[size_t(k)] = cy[size_t(k - 1)] * 0.5f;
  }
  const int c = L - 1;
  RotationShiftSearch(pyramid[c], coarse, cx[size_t(c)], cy[size_t(c)], r.theta, r.x, r.y, angleRange, angleStep, xr,
                      1.0f, yr, 1.0f, errorMode);
  RotationShiftSearch(pyramid[c], coarse, cx[size_t(c)], cy[size_t(c)], r.theta, r.x, r.y, angleStep, fine, 0.5f,
                      0.5f, 0.5f, 0.5f, errorMode);
  for (int k = L - 2; k >= 0; --k) {
    r.x *= 2.0f;
    r.y *= 2.0f;
    RotationShiftSearch(pyramid[k], templ[k], cx[size_t(k)], cy[size_t(k)], r.theta, r.x, r.y, angleStep, fine,
                        0.5f, 0.5f, 0.5f, 0.5f, errorMode);
  }
  if (extra) {
    const float steps[3][3] = {{0.5f, 0.16666667f, 0.25f}, {0.25f, 0.083333336f, 0.125f},
                               {0.125f, 0.041666668f, 0.0625f}};
    for (const auto& s : steps)
      RotationShiftSearch(pyramid[0], templ[0], cx[0], cy[0], r.theta, r.x, r.y, angleStep * s[0], angleStep * s[1],
                          s[2], s[2], s[2], s[2], errorMode);
  }
  return r;
}

TwoPointEstimate estimatesimilarity(const fpbuffer& image, const matrixarray& templ, bool extra, int errorMode,
                                    float minScale, float maxScale) {
  const int L = templ.n;
  matrixarray pyramid;
  pyramid.alignpyramid(image, L);
  float W = float(templ[0].nx), H = float(templ[0].ny);
  TwoPointEstimate p{0, 0, W, H};
  for (int k = 1; k < L; ++k) {
    W *= 0.5f;
    H *= 0.5f;
    p.x2 *= 0.5f;
    p.y2 *= 0.5f;
  }
  const matrix& coarse = templ[L - 1];
  const float R = float(std::max(coarse.nx, coarse.ny) / 2);
  const float third = 0.33333334f;
  auto side = [](float range, float step) { return float(SearchValues(0.0f, range, step).size()); };
  StartProgress(side(R, 1.0f) * side(R, 1.0f) + float(L) * side(third, third) * side(third, third) +
                (extra ? side(0.16666667f, 0.16666667f) * side(0.16666667f, 0.16666667f) +
                             side(0.083333336f, 0.083333336f) * side(0.083333336f, 0.083333336f)
                       : 0.0f));
  const int c = L - 1;
  TwoPointSearch(pyramid[c], coarse, W, H, p.x1, p.y1, p.x2, p.y2, R, 1.0f, errorMode, minScale, maxScale);
  TwoPointSearch(pyramid[c], coarse, W, H, p.x1, p.y1, p.x2, p.y2, 1.0f, third, errorMode, minScale, maxScale);
  for (int k = L - 2; k >= 0; --k) {
    W *= 2.0f;
    H *= 2.0f;
    p.x1 *= 2.0f;
    p.y1 *= 2.0f;
    p.x2 *= 2.0f;
    p.y2 *= 2.0f;
    TwoPointSearch(pyramid[k], templ[k], W, H, p.x1, p.y1, p.x2, p.y2, third, third, errorMode, minScale,
                   maxScale);
  }
  if (extra) {
    const float w0 = float(image.width), h0 = float(image.height);
    for (float s : {0.16666667f, 0.083333336f})
      TwoPointSearch(pyramid[0], templ[0], w0, h0, p.x1, p.y1, p.x2, p.y2, s, s, errorMode, minScale, maxScale);
  }
  return p;
}

namespace {
// A similarity warp that adds its marks to those given instead of replacing them.
PlaneWarp SimilarityWarp(SimilarityParams record, const weighttable6& table) {
  return [record = std::move(record), &table](matrix& out, const matrix& in, bitmask* marks) {
    if (marks == nullptr) {
      out.WarpSimilarity6Tap(in, record, table);
      return;
    }
    bitmask mine;
    out.WarpSimilarity6Tap(in, record, table, &mine);
    marks->orwith(mine);
  };
}
}  // namespace

void ApplyRotation(fpbuffer& image, RotationEstimate r, int passes) {
  const float cx = float(image.width - 1) * 0.5f, cy = float(image.height - 1) * 0.5f;
  weighttable6 table;
  table.lanczos3(1000);
  ApplyWarp(image, SimilarityWarp(RotateShiftTransform(cx, cy, r.theta, r.x, r.y), table),
            SimilarityWarp(ShiftRotateTransform(cx, cy, -r.theta, -r.x, -r.y), table), 0.5f, passes, 0);
}

void ApplyTwoPoints(fpbuffer& image, TwoPointEstimate p, int passes) {
  const float W = float(image.width), H = float(image.height);
  weighttable6 table;
  table.lanczos3(1000);
  ApplyWarp(image, SimilarityWarp(SimilarityFromTwoPoints(p.x1, p.y1, p.x2, p.y2, 0, 0, W, H), table),
            SimilarityWarp(SimilarityFromTwoPoints(0, 0, W, H, p.x1, p.y1, p.x2, p.y2), table), 0.5f, passes, 0);
}
}  // namespace ops::stacking

using namespace ops::stacking;

fpbuffer& fpbuffer::alignrotation(const matrixarray& templ, float angleRange, float angleStep, bool extra,
                                  int errorMode, int passes) {
  if (templ.n == 0 || !AlignSizeMatches(*this, templ[0].nx, templ[0].ny)) return *this;
  ApplyRotation(*this, estimaterotation(*this, templ, angleRange, angleStep, extra, errorMode), passes);
  return *this;
}

fpbuffer& fpbuffer::alignsimilarity(const matrixarray& templ, bool extra, int errorMode, float minScale,
                                    float maxScale, int passes) {
  if (templ.n == 0 || !AlignSizeMatches(*this, templ[0].nx, templ[0].ny)) return *this;
  ApplyTwoPoints(*this, estimatesimilarity(*this, templ, extra, errorMode, minScale, maxScale), passes);
  return *this;
}

void OnAlign2Pt(CImageView& v, int id) {
  if (!AlignSetF2OrRun(v, id, 68) || v.alignmentTemplate.n == 0) return;
  const StackParams& p = LiveSettings().stack;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        if (p.alignNoResizing != 0) {
          image.alignrotation(v.alignmentTemplate, 0.7853982f, 0.008726646f, p.alignMorphologicalAccuracy != 0,
                              p.alignErrorMode, p.alignInterpolationAccuracy);
        } else {
          image.alignsimilarity(v.alignmentTemplate, p.alignMorphologicalAccuracy != 0, p.alignErrorMode,
                                p.alignMinScale, p.alignMaxScale, p.alignInterpolationAccuracy);
        }
      },
      false);
}
