#pragma once
// Sub-pixel warps: the similarity and homography records, the table of Lanczos-3 weights
// and the warps that sample a plane at the positions a record gives.
//
// A record maps every output pixel (x, y) to a source position; rows count from the
// bottom, so the frame is y-up. Stencils that reach outside the source are reflected once
// about the edge sample (ReflectOnce), and the pixels whose stencil did so are marked.
// Positions that are not a number give 0 and are marked; positions further out than
// 2^24 samples are taken as 2^24 out.
#include <array>
#include <cstdint>
#include <memory>

#include "numeric/matrix.h"

// [c, s, tx, ty], a 4 x 1 matrix: output (x, y) samples the source at
// (c x + s y + tx, -s x + c y + ty).
using SimilarityParams = matrix;
// [a, b, c, d, e, f, g, h], an 8 x 1 matrix: output (x, y) samples the source at
// ((a x + b y + c) / (g x + h y + 1), (d x + e y + f) / (g x + h y + 1)).
using HomographyParams = matrix;

// Turned by t radians counter-clockwise as displayed about (cx, cy), then moved by
// (dx, dy): output (cx + dx, cy + dy) samples source (cx, cy).
SimilarityParams RotateShiftTransform(float cx, float cy, float t, float dx, float dy);
// Moved first, then turned: output (cx, cy) samples (cx - dx, cy - dy). With (-t, -dx,
// -dy) it is the inverse of RotateShiftTransform (cx, cy, t, dx, dy).
SimilarityParams ShiftRotateTransform(float cx, float cy, float t, float dx, float dy);
// Output (x1, y1) samples source (sx1, sy1) and output (x2, y2) samples (sx2, sy2). The
// points of a pair must differ (the caller checks).
SimilarityParams SimilarityFromTwoPoints(float x1, float y1, float x2, float y2, float sx1,
                                         float sy1, float sx2, float sy2);
// Output point k (x, y pairs) samples source point k. Throws "Singular Matrix" when the
// points do not fix a homography.
HomographyParams HomographyFromFourPoints(const std::array<float, 8>& source,
                                          const std::array<float, 8>& output);

// Six weights, for the offsets -2 .. 3 of a stencil.
struct Taps6 {
  float w[6] = {};
};

class weighttable6 {
 public:
  int32_t count = 0;
  std::unique_ptr<Taps6[]> taps;

  // Re-allocates (zeroed) when the count differs or nothing is allocated; 0 leaves none.
  weighttable6& dim(int n);
  // dim, then entry k holds the Lanczos-3 weights at -2-f, -1-f, -f, 1-f, 2-f, 3-f for
  // f = k / (count - 1), normalised to sum 1.
  weighttable6& lanczos3(int n);
  // The entry of a fraction in [0, 1]: round((count - 1) f), limited to the table.
  const Taps6& at(float f) const;
};
