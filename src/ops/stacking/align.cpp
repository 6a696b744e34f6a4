// Registration to an alignment template: the template commands, fast translational and
// block alignment, each an estimate followed by the warp with back-projection.
#include "ops/stacking/align.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/imageview.h"
#include "numeric/bitmask.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace ops::stacking {

namespace {
bool IsYCbCr(const fpbuffer& image) { return (image.code & ~cspace::kVisibleBits) == cspace::kYCbCr; }
}  // namespace

matrix AlignLuminance(const fpbuffer& image) {
  if (IsYCbCr(image)) return image.plane[0];
  // The image itself is only read: another colour space is converted on a copy.
  fpbuffer converted;
  const fpbuffer* rgb = &image;
  if ((image.code & ~cspace::kVisibleBits) != cspace::kRGB) {
    converted = image;
    converted.convert(cspace::kDefault);
    rgb = &converted;
  }
  matrix y(image.width, image.height);
  const float *r = rgb->plane[0].x, *g = rgb->plane[1].x, *b = rgb->plane[2].x;
  ParallelBlocks(y.n, BlockFor(3), [&](int64_t begin, int64_t end) {
    for (int64_t k = begin; k < end; ++k) y.x[k] = float(0.299 * r[k] + 0.587 * g[k] + 0.114 * b[k]);
  });
  return y;
}

namespace {
// The luminance an estimate reads: channel 0 itself for a YCbCr image (a view of it,
// read only, so nothing is copied), else AlignLuminance's plane.
matrix EstimateLuminance(const fpbuffer& image) {
  if (IsYCbCr(image)) return matrix(const_cast<float*>(image.plane[0].x), image.width, image.height);
  return AlignLuminance(image);
}

// The image pyramid of an estimate: alignpyramid's levels on EstimateLuminance.
matrixarray EstimatePyramid(const fpbuffer& image, int levels) {
  matrixarray p;
  p.resize(std::max(levels, 0));
  if (p.n == 0) return p;
  p[0] = EstimateLuminance(image);
  ReduceAlignLevels(p);
  return p;
}
}  // namespace

bool AlignSizeMatches(const fpbuffer& image, int w, int h) {
  if (image.width == w && image.height == h) return true;
  ShowMessage(Format("Improper dimensions!\nImage: %d x %d\nTempl: %d x %d", image.width, image.height, w, h));
  return false;
}

// --- Fast translational ---

ShiftEstimate estimatefast(const fpbuffer& image, const matrixarray& templ, float precision) {
  const matrixarray pyramid = EstimatePyramid(image, templ.n);
  int dx = 0, dy = 0;
  pyramid.shiftsearch(templ, dx, dy);
  ShiftEstimate s{float(-dx), float(-dy)};
  if (!(precision < 1.0f)) return s;
  // The band the whole shift brings in from outside takes no part.
  const int w = image.width, h = image.height;
  const int left = s.sx >= 0 ? int(s.sx) : 0, right = s.sx < 0 ? int(-s.sx) : 0;
  const int bottom = s.sy >= 0 ? int(s.sy) : 0, top = s.sy < 0 ? int(-s.sy) : 0;
  const bitmask frame = FrameMask(w, h, left, right, bottom, top);
  // refineshift's stages, with the offsets -0.5, 0, 0.5 halved while precision is finer;
  // each later stage starts from the pair the last chose and does not score it again.
  const matrix* planes[1] = {&pyramid[0]};
  const matrix* refs[1] = {&templ[0]};
  const ShiftRefiner refiner(planes, refs, 1, &frame);
  float offsets[3] = {-0.5f, 0.0f, 0.5f};
  float best = 1e16f;
  refiner.stage(offsets, 3, s.sx, s.sy, best, false);
  while (precision < offsets[2]) {
    for (float& o : offsets) o *= 0.5f;
    refiner.stage(offsets, 3, s.sx, s.sy, best, true);
  }
  return s;
}

void ApplyWarp(fpbuffer& image, const PlaneWarp& forward, const PlaneWarp& inverse, float beta, int passes,
               int markChannel) {
  bitmask* marks = image.mask.covers(image.width, image.height) ? &image.mask : nullptr;
  matrix orig, back, r;
  for (int c = 0; c < 3 && c < image.channels; ++c) {
    matrix& plane = image.plane[c];
    orig = plane;
    forward(plane, orig, c == markChannel ? marks : nullptr);
    for (int pass = 0; pass < passes; ++pass) {
      inverse(back, plane, nullptr);
      r = orig;
      r.sub(back);
      forward(back, r, nullptr);
      plane.axpy(beta, back);
    }
  }
  image.syncviews();
}

void ApplyShift(fpbuffer& image, ShiftEstimate s, int passes) {
  const bool whole = s.sx == std::trunc(s.sx) && s.sy == std::trunc(s.sy);
  auto shift = [](float sx, float sy) {
    return [sx, sy](matrix& out, const matrix& in, bitmask* marks) {
      matrix columns;
      columns.shifty(in, sy, marks);
      out.shiftx(columns, sx, marks);
    };
  };
  // A whole shift is an exact copy by index: nothing to correct.
  ApplyWarp(image, shift(s.sx, s.sy), shift(-s.sx, -s.sy), 1.0f, whole ? 0 : passes, 2);
}

// --- Block alignment ---

BlockFields EstimateBlockFields(const matrix* const* planes, const matrix* const* references, int count,
                                int block, int radius, float smoothing) {
  const BlockGrid grid(references[0]->nx, references[0]->ny, block);
  // One tick per block in the search and again in the refinement.
  StartProgress(2.0f * float(grid.nbx) * float(grid.nby));
  BlockFields f;
  BlockIntegerSearch(planes, references, count, radius, grid, f);
  BlockActivity(references, count, grid, f.activity);
  f.dx.smoothfield(f.activity, smoothing);
  f.dy.smoothfield(f.activity, smoothing);
  BlockRefine(planes, references, count, radius, grid, f);
  return f;
}

BlockFields estimateblock(const fpbuffer& image, const matrixarray& templ, int block, int radius,
                          float smoothing) {
  // Only level 0 of the image's pyramid takes part: its luminance.
  const matrix luminance = EstimateLuminance(image);
  const matrix* planes[1] = {&luminance};
  const matrix* references[1] = {&templ[0]};
  return EstimateBlockFields(planes, references, 1, block, radius, smoothing);
}

BlockFields estimateblocklayers(const fpbuffer& image, const fpbuffer& reference, int block, int radius,
                                float smoothing) {
  const matrix* planes[3] = {&image.plane[0], &image.plane[1], &image.plane[2]};
  const matrix* references[3] = {&reference.plane[0], &reference.plane[1], &reference.plane[2]};
  return EstimateBlockFields(planes, references, 3, block, radius, smoothing);
}

void ApplyBlockFields(fpbuffer& image, const BlockFields& f, int block, int passes) {
  const BlockGrid grid(image.width, image.height, block);
  matrix dx, dy;
  BlockFieldToPixels(dx, f.dx, grid);
  BlockFieldToPixels(dy, f.dy, grid);
  matrix ndx(dx), ndy(dy);
  ndx.mulscalar(-1.0f);
  ndy.mulscalar(-1.0f);
  weighttable6 table;
  table.lanczos3(1000);
  ApplyWarp(
      image, [&](matrix& out, const matrix& in, bitmask* marks) { out.warpfield(in, dx, dy, table, marks); },
      [&](matrix& out, const matrix& in, bitmask* marks) { out.warpfield(in, ndx, ndy, table, marks); }, 1.0f,
      passes, 2);
}
}  // namespace ops::stacking

using namespace ops::stacking;

// --- Entry points ---

matrixarray& matrixarray::alignpyramid(const fpbuffer& image, int levels) {
  const int count = levels > 0 ? levels : AlignLevelCount(image.width, image.height);
  // reducepyramid's levels, the luminance taken in rather than copied.
  resize(std::max(count, 0));
  if (n == 0) return *this;
  m[0] = AlignLuminance(image);
  ReduceAlignLevels(*this);
  return *this;
}

fpbuffer& fpbuffer::alignfast(const matrixarray& templ, float precision, int passes) {
  if (templ.n == 0 || !AlignSizeMatches(*this, templ[0].nx, templ[0].ny)) return *this;
  ApplyShift(*this, estimatefast(*this, templ, precision), passes);
  return *this;
}

fpbuffer& fpbuffer::alignblock(const matrixarray& templ, int block, int radius, float smoothing, int passes) {
  block = std::max(block, 1);
  radius = std::max(radius, 0);
  if (templ.n == 0 || !AlignSizeMatches(*this, templ[0].nx, templ[0].ny)) return *this;
  ApplyBlockFields(*this, estimateblock(*this, templ, block, radius, smoothing), block, passes);
  return *this;
}

fpbuffer& fpbuffer::alignblocklayers(const fpbuffer& reference, int block, int radius, float smoothing,
                                     int passes) {
  block = std::max(block, 1);
  radius = std::max(radius, 0);
  if (reference.n == 0 || reference.channels < 3 || channels < 3) return *this;
  if (!AlignSizeMatches(*this, reference.width, reference.height)) return *this;
  ApplyBlockFields(*this, estimateblocklayers(*this, reference, block, radius, smoothing), block, passes);
  return *this;
}

// --- Commands ---

void ops::stacking::DestroyTemplateCommand(CImageView& v, int id, const std::function<void()>& destroy) {
  CommandFlags& f = Flags();
  if (f.CtrlHeld && !f.F2Active && !f.F3Active) {
    v.SelectOperation(id, true);
    return;
  }
  {
    ProcessTimer timer(v.startClock, nullptr);
    destroy();
  }
  if (v.HasFloat()) {
    v.RefreshDisplay(true);
    return;
  }
  // A layer with a bitmap alone keeps it: rendering an empty float image would replace it.
  f.F2Active = f.F3Active = f.CtrlHeld = false;
  v.ReportCompletion(true);
  v.UpdateStatus();
}

bool ops::stacking::AlignSetF2OrRun(CImageView& v, int id, int page) {
  const CommandFlags& f = Flags();
  if (!f.F2Active && !f.F3Active) {
    if (Dialog2(LiveSettings()).RunPage(page, 1, 0) == DialogResult::Ok) v.SelectOperation(id, true);
    return false;
  }
  return v.HasFloat();
}

namespace {
bool HasTemplate(const CImageView& v) { return v.alignmentTemplate.n > 0; }

// The page accepts radii up to 10; a stored value out of range (or not a number) is held
// to what the page allows.
int BlockRadius(const StackParams& p) {
  const float r = p.blockAlignSearchRadius;
  return r > 0.0f ? int(std::min(r, 10.0f)) : 0;
}
}  // namespace

void OnCreateAlignmentTemplate(CImageView& v, int) {
  const bool existed = HasTemplate(v);
  // Made aside and taken whole; the image is only read.
  const bool completed = v.RunOnFloat(
      [&](fpbuffer& image) {
        matrixarray pyramid;
        pyramid.alignpyramid(image, 0);
        v.alignmentTemplate = std::move(pyramid);
      },
      false, true);
  if (completed && !existed) v.PopdownMenu(8);
}

void OnDestroyAlignmentTemplate(CImageView& v, int id) {
  DestroyTemplateCommand(v, id, [&v] { v.alignmentTemplate.free(); });
}

void OnFastTranslational(CImageView& v, int id) {
  if (!AlignSetF2OrRun(v, id, 69) || !HasTemplate(v)) return;
  const StackParams& p = LiveSettings().stack;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        image.alignfast(v.alignmentTemplate, p.translationalPrecision, p.translationalInterpolationAccuracy);
      },
      false);
}

void OnBlockAlign(CImageView& v, int id) {
  if (!AlignSetF2OrRun(v, id, 73) || !HasTemplate(v)) return;
  const StackParams& p = LiveSettings().stack;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        image.alignblock(v.alignmentTemplate, p.blockAlignSize, BlockRadius(p), p.blockAlignSmoothing,
                         p.blockAlignInterpolationAccuracy);
      },
      false);
}

void OnBlockAlignLayers(CImageView& v, int id) {
  if (!AlignSetF2OrRun(v, id, 73)) return;
  const StackParams& p = LiveSettings().stack;
  v.RunOnFloat(
      [&](fpbuffer& image) {
        image.alignblocklayers(v.otherLayer(), p.blockAlignSize, BlockRadius(p), p.blockAlignSmoothing,
                               p.blockAlignInterpolationAccuracy);
      },
      false);
}
