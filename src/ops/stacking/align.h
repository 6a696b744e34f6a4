#pragma once
// Registration of the current layer to the window's alignment template (or to the other
// layer): each mode is an estimate, which only reads the image, followed by the
// application of its result, the warp with back-projection.
#include <functional>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/align.h"
#include "numeric/matrixarray.h"

class CImageView;

namespace ops::stacking {
// The shift (sx, sy) that registers an image: out(x, y) = in(x - sx, y - sy).
struct ShiftEstimate {
  float sx = 0, sy = 0;
};

// The luminance of channels 0-2: channel 0 of a YCbCr image, else of an RGB copy.
matrix AlignLuminance(const fpbuffer& image);

// The common check: true when the image is w x h; otherwise shows "Improper dimensions!"
// with both sizes and returns false.
bool AlignSizeMatches(const fpbuffer& image, int w, int h);

// Fast translational: the whole-pixel search on the pyramids, then, with precision < 1,
// the sub-pixel stages down to it. The template must be non-empty and of the image's size.
ShiftEstimate estimatefast(const fpbuffer& image, const matrixarray& templ, float precision);
// The smoothed, refined block fields against the template's level 0 (against the three
// channels of a reference image for estimateblocklayers); dx and dy per block.
BlockFields estimateblock(const fpbuffer& image, const matrixarray& templ, int block, int radius,
                          float smoothing);
BlockFields estimateblocklayers(const fpbuffer& image, const fpbuffer& reference, int block,
                                int radius, float smoothing);
// The block search and refinement alone, on planes (tests compare it with the plain form).
BlockFields EstimateBlockFields(const matrix* const* planes, const matrix* const* references,
                                int count, int block, int radius, float smoothing);

// out = W(in); given marks, adds the pixels whose stencil left the plane.
using PlaneWarp = std::function<void(matrix& out, const matrix& in, bitmask* marks)>;
// For channels 0-2: plane := W(orig), then `passes` times plane += beta W(orig - W^-1(plane)).
// The forward warp of markChannel adds its marks to the image mask when there is one.
void ApplyWarp(fpbuffer& image, const PlaneWarp& forward, const PlaneWarp& inverse, float beta,
               int passes, int markChannel);
// The two applications of the modes above (channel 2 marks, factor 1).
void ApplyShift(fpbuffer& image, ShiftEstimate s, int passes);
void ApplyBlockFields(fpbuffer& image, const BlockFields& f, int block, int passes);

// Rotation-scale-translation (align2pt.cpp). A rotation by theta about the image centre
// ((W-1)/2, (H-1)/2) and a shift (x, y), as RotateShiftTransform takes them.
struct RotationEstimate {
  float theta = 0, x = 0, y = 0;
};
// The points of the template's frame where the image's corners (0, 0) and (W, H) land.
struct TwoPointEstimate {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};
// The values one coordinate takes in a search: v - range, then steps added in floats while
// the value stays <= v + range or fewer than three were taken.
std::vector<float> SearchValues(float v, float range, float step);
// Error mode 0 mean square, 2 median absolute, any other mean absolute difference.
float AlignCost(const matrix& warped, const bitmask& marks, const matrix& reference, int errorMode);
// One exhaustive search at one level (angle outer, then y, then x), every candidate warped
// with Catmull-Rom weights and scored over its unmarked pixels; the first minimum wins.
// Ticks and polls cancel once per angle. Returns the best cost.
float RotationShiftSearch(const matrix& image, const matrix& templ, float cx, float cy, float& theta,
                          float& x, float& y, float thetaRange, float thetaStep, float xRange,
                          float xStep, float yRange, float yStep, int errorMode);
// The same over the two points (y1, x1, y2, x2 from outer to inner), scoring only pairs
// whose scale against the level's diagonal lies in [minScale, maxScale]. Ticks and polls
// cancel once per first point.
float TwoPointSearch(const matrix& image, const matrix& templ, float W, float H, float& x1, float& y1,
                     float& x2, float& y2, float range, float step, int errorMode, float minScale,
                     float maxScale);
RotationEstimate estimaterotation(const fpbuffer& image, const matrixarray& templ, float angleRange,
                                  float angleStep, bool extra, int errorMode);
TwoPointEstimate estimatesimilarity(const fpbuffer& image, const matrixarray& templ, bool extra,
                                    int errorMode, float minScale, float maxScale);
// The six-tap warps of the two forms with back-projection factor 0.5, channel 0 marking.
void ApplyRotation(fpbuffer& image, RotationEstimate r, int passes);
void ApplyTwoPoints(fpbuffer& image, TwoPointEstimate p, int passes);

// The Set F2 pattern of the alignment modes: from the menu the page alone, and on OK the
// command becomes the F2/F3 operation (false); under F2 or F3 true when the current layer
// has a float image to align.
bool AlignSetF2OrRun(CImageView& v, int id, int page);
// The Destroy Template pattern: with Ctrl held (and not under F2/F3) the command only
// becomes the F2/F3 operation; otherwise destroy() runs timed and the window refreshes
// (a layer holding a bitmap alone keeps it).
void DestroyTemplateCommand(CImageView& v, int id, const std::function<void()>& destroy);
}  // namespace ops::stacking

// Stacking > alignment template and the F2 alignment modes; Layer > block alignment.
void OnCreateAlignmentTemplate(CImageView& v, int id);
void OnDestroyAlignmentTemplate(CImageView& v, int id);
void OnFastTranslational(CImageView& v, int id);
void OnBlockAlign(CImageView& v, int id);
void OnBlockAlignLayers(CImageView& v, int id);
void OnAlign2Pt(CImageView& v, int id);
