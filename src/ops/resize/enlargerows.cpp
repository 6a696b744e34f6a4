// The rows of the enlargement table: each command's factor and offset rules, its core on a
// float image or a tile, the ticks that core makes, and its strip margin.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "numeric/xinli.h"
#include "ops/resize/enlarge.h"
#include "ops/resize/resize.h"
#include "ops/resize/windowless.h"
#include "platform/errors.h"

namespace {
using Id = CommandId;

int Iterations(const ResizeParams& p) { return p.numberOfIterations; }
int NewDdlIterations(const ResizeParams& p) { return p.ddlSizeIters; }
int MbsFactor(const ResizeParams& p) { return p.mbsScaleFactor; }
int PseudoInverseFactor(const ResizeParams& p) { return p.integerEnlargementScale; }
int WindowlessIterations(const ResizeParams& p) { return p.windowlessSizeIters; }

// Scratch files only for the whole layer; a tile is small.
bool Scratch(const EnlargeRun& r) { return !r.tile && r.p.useScratchDisk != 0; }

JensenModel Edges(const ResizeParams& p) {
  JensenModel m;
  m.accept = p.edgeDetectionParameter1;
  m.threshold = p.edgeDetectionParameter2;
  m.blur = p.edgeBlurringParameter;
  m.window = p.jensenWindowSize;
  m.robust = p.specialMode != 0;
  return m;
}

XinLiModel XinLiValues(const ResizeParams& p) {
  XinLiModel xl;
  xl.bias = p.xinLiBias;
  xl.window = std::abs(p.xinLiWindowSize);
  xl.taper = p.taperedWindowWeight;
  xl.normalization = p.normalizationWeight;
  xl.twelve = p.zhaoModified12thOrder != 0;
  xl.antialias = p.zhaoAntialiasParameter;
  return xl;
}

BackProjection Refinement(const ResizeParams& p) {
  BackProjection bp;
  bp.exitTolerance = p.exitTolerance;
  bp.mode1 = p.backprojectionModeFirstPass;
  bp.order = p.bpOrder;
  bp.iterations1 = p.bpIterationsFirstPass;
  bp.regularization = p.regularizationAmount;
  bp.sharpenIterations = int(p.edgeSharpeningIters);
  bp.sharpenAmount = p.edgeSharpeningAmount;
  bp.edgeRejection = p.edgeRejection;
  bp.mode2 = p.backprojectionModeSecondPass;
  bp.iterations2 = p.bpIterationsSecondPass;
  bp.presharpenAmount = p.presharpenAmount;
  return bp;
}

// Rows worked over all doublings: h (2^n - 1) for a source of h rows.
double DoubledRows(int h, const EnlargePlan& plan) { return double(h) * (double(plan.factor) - 1); }

// --- cores ---

void XinLiCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  image.xinli(p.xinLiBias, std::abs(p.xinLiWindowSize), p.taperedWindowWeight,
              p.normalizationWeight, p.dominantChannel, r.plan.passes, r.centre,
              p.zhaoAntialiasParameter, p.zhaoModified12thOrder != 0);
}

void JxlCore(fpbuffer& image, const EnlargeRun& r) {
  jensenxinli(image, r.plan.passes, r.p.dominantChannel, XinLiValues(r.p), r.centre, Edges(r.p),
              Scratch(r));
}

void JddlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  jddl(image, r.plan.passes, p.dominantChannel, p.oldDdlOrder, r.centre, Edges(p), Scratch(r),
       p.oldDdlHaloSuppression != 0);
}

void OldDdlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  bytemaps maps;
  ddl(image, p.dominantChannel, p.oldDdlOrder, r.plan.passes, r.centre, false, Scratch(r),
      p.oldDdlHaloSuppression != 0, maps, true);
}

// The test reduction of a page's reduction model (on: its flag): it only reduces, so the
// strips always enlarge. True when it ran instead of the enlargement.
bool TestReduction(fpbuffer& image, const EnlargeRun& r, bool on, int type, float radius,
                   float amount) {
  if (!on || r.tile) return false;
  image.reducetest(r.plan.factor, type, radius, amount);
  return true;
}

void NewDdlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  if (TestReduction(image, r, p.ddlTestReductionParams, p.ddlReductionMethod,
                    p.ddlInverseSharpeningRadius, p.ddlInverseSharpeningAmount)) {
    return;
  }
  image.newddl(r.plan.passes, p.ddlReductionMethod, p.ddlBaseEnlargement, p.ddlOrder, p.ddlShortcut,
               p.ddlInverseSharpeningRadius, p.ddlInverseSharpeningAmount, p.ddlBackProjIters,
               p.ddlPost, p.ddlPresharpen != 0);
}

void BpddlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  bpddl(image, p.dominantChannel, Refinement(p), Scratch(r), p.shortcut, p.oldDdlOrder,
        r.plan.passes, p.oldDdlHaloSuppression != 0, r.kernels);
}

void BpjddlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  bpjddl(image, p.dominantChannel, Edges(p), Refinement(p), Scratch(r), p.shortcut, p.oldDdlOrder,
         r.plan.passes, p.oldDdlHaloSuppression != 0, r.kernels);
}

void BpxlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  bpxl(image, p.dominantChannel, Refinement(p), Scratch(r), p.shortcut, XinLiValues(p),
       r.plan.passes, r.kernels);
}

void BpjxlCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  bpjxl(image, p.dominantChannel, Edges(p), Refinement(p), Scratch(r), p.shortcut, XinLiValues(p),
        r.plan.passes, r.kernels);
}

void MbsCore(fpbuffer& image, const EnlargeRun& r) {
  mbs(image, r.p.dominantChannel, r.plan.factor, Scratch(r));
}

void PseudoInverseCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  if (TestReduction(image, r, p.pseudoInverseTestReductionParams, p.pseudoInverseReduction,
                    p.pseudoInverseSharpeningRadius, p.pseudoInverseSharpeningAmount)) {
    return;
  }
  image.pseudoinverseenlarge(r.plan.factor, p.pseudoInverseReduction,
                             p.pseudoInverseBaseEnlargement, p.pseudoInverseShortcut,
                             p.pseudoInverseSharpeningRadius, p.pseudoInverseSharpeningAmount,
                             p.pseudoInversePost);
}

void WindowlessCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  if (TestReduction(image, r, p.windowlessTestReductionParams, p.windowlessReductionMethod,
                    p.windowlessInverseSharpeningRadius, p.windowlessInverseSharpeningAmount)) {
    return;
  }
  image.windowless(
      p.laplacianNondirectional, p.identityWeight, p.normalization, p.laplacianDirectional,
      p.cgIterations, p.windowlessHaloSuppression != 0, p.windowlessShortcut, r.plan.passes,
      p.startingEstimate != 0, p.windowless16Parameters != 0, p.windowlessBackProjIters,
      p.windowlessReductionMethod, p.windowlessBaseEnlargement, p.windowlessInverseSharpeningRadius,
      p.windowlessInverseSharpeningAmount, p.windowlessPost);
}

bool WindowlessFitsIn(int w, int h, const EnlargeRun& r) {
  if (!r.tile && r.p.windowlessTestReductionParams) return true;
  return WindowlessFits(w, h, r.plan.passes, r.p.windowless16Parameters != 0);
}

// Back-projection and "Super Rez" reduce the result back onto the source, which centres
// it; otherwise the doubled grid starts at the first sample.
OffsetRule WindowlessOffsets(const ResizeParams& p) {
  return p.windowlessBackProjIters != 0 || p.windowlessPost.superRezIters != 0
             ? OffsetRule::Given
             : OffsetRule::HalfShift;
}

// The halo width a tile passes on: none without sharpening.
float PyramidHalo(const ResizeParams& p) { return p.pyramidSharpness != 0 ? p.haloWidthFactor : 0; }

void PyramidCore(fpbuffer& image, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  const double a = r.plan.factor;
  const bool cancelled =
      r.tile ? pyramidsim(image, a, a, 0, 0, p.useScratchDisk != 0, p.pyramidScaleIncrement,
                          p.pyramidSharpness, PyramidHalo(p))
             : pyramidsim(image, p.horizontalScaleFactor, p.verticalScaleFactor, p.horizontalOffset,
                          p.verticalOffset, p.useScratchDisk != 0, p.pyramidScaleIncrement,
                          p.pyramidSharpness, p.haloWidthFactor);
  if (cancelled) throw Cancelled{};
}

// --- ticks ---

// Three phases a pass, one tick per input row of each; the twelve-coefficient model
// leaves out a border of half its window and one row.
double XinLiTicks(int w, int h, const EnlargeRun& r) {
  if (!r.p.zhaoModified12thOrder) return 3 * DoubledRows(h, r.plan);
  const int border = xinli::EvenWindow(std::abs(r.p.xinLiWindowSize)) / 2 + 1;
  double ticks = 0;
  for (int k = 0; k < r.plan.passes; ++k) {
    const double pw = std::ldexp(double(w), k), ph = std::ldexp(double(h), k);
    if (pw > 2 * border && ph > 2 * border) ticks += 3 * (ph - 2 * border);
  }
  return ticks;
}
// The Xin Li doublings of a back-projected core, then its back-projection as in bpddl.
double BpxlTicks(int w, int h, const EnlargeRun& r) {
  return XinLiTicks(w, h, r) + 3.0 * h * r.plan.factor * r.plan.passes;
}
// As bpjddl's, with three ticks a row for a Xin Li doubling.
double BpjxlTicks(int, int h, const EnlargeRun& r) {
  double ticks = 0, bp = 6;
  for (int k = 0; k < r.plan.passes; ++k, bp *= 2.0 / 3)
    ticks += std::ldexp(double(h), k) * (3 + bp);
  return ticks;
}
double WindowlessTicksOf(int w, int h, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  return double(WindowlessTicks(w, h, 3, p.cgIterations, p.windowlessShortcut, r.plan.passes,
                                p.windowlessPost.superRezIters));
}
// Two fills of every row per doubling and channel.
double DdlTicks(int, int h, const EnlargeRun& r) { return 6 * DoubledRows(h, r.plan); }
// The doublings, then the back-projection, whose rounds grow with the enlargement and the
// number of doublings.
double BpddlTicks(int, int h, const EnlargeRun& r) {
  return 6 * DoubledRows(h, r.plan) + 3.0 * h * r.plan.factor * r.plan.passes;
}
// One back-projected doubling per pass: six ticks a row for the doubling and, as measured,
// six for the back-projection of the first pass and two thirds as many for each later one.
double BpjddlTicks(int, int h, const EnlargeRun& r) {
  double ticks = 0, bp = 6;
  for (int k = 0; k < r.plan.passes; ++k, bp *= 2.0 / 3)
    ticks += std::ldexp(double(h), k) * (6 + bp);
  return ticks;
}
// Per channel: a tick per row of cells, then three box-blur passes over the rows and the
// columns of the enlargement.
double MbsTicks(int w, int h, const EnlargeRun& r) {
  const int f = r.plan.factor;
  if (f < 3 || f % 2 == 0) return 1;
  return 3.0 * ((h - 1) + 3.0 * f * (double(w) + h));
}
// Three ticks a channel for the enlargement, four an iteration of Super Rez, which refines
// only the luminance with a shortcut.
double PseudoInverseTicks(int, int, const EnlargeRun& r) {
  const int refined = ShortcutSpace(r.p.pseudoInverseShortcut) ? 1 : 3;
  return 9.0 + 4.0 * refined * std::max(r.p.pseudoInversePost.superRezIters, 0);
}
// Triangulation steps of about the scale increment, each one tick per output row and
// channel.
double PyramidTicks(int, int h, const EnlargeRun& r) {
  const ResizeParams& p = r.p;
  const double sy = r.tile ? r.plan.factor : p.verticalScaleFactor;
  const double sx = r.tile ? r.plan.factor : p.horizontalScaleFactor;
  const double q = p.pyramidScaleIncrement > 1 ? p.pyramidScaleIncrement : 1.25;
  const double s = std::max(sx, sy);
  if (!(s >= 1)) return 1;
  const int count = int(std::clamp(std::trunc(std::log(s) / std::log(q) + 0.5), 5.0, 10000.0));
  const double e = std::pow(sy, 1.0 / count);
  double rows = 0, height = h;
  for (int i = 0; i < count; ++i) {
    height *= e;
    rows += std::trunc(height + 0.5);
  }
  return 3 * rows;
}

// --- margins ---

// The back-projection's reach: its kernel order, presharpening, and the long mode 5.
int BackProjectionMargin(int m, const ResizeParams& p) {
  const bool pass1 = p.bpIterationsFirstPass > 0, pass2 = p.bpIterationsSecondPass > 0;
  if (pass1 || pass2) m = std::max(m, 2 * p.bpOrder);
  if (p.presharpenAmount != 0) m = std::max(m, 11);
  if ((pass1 && p.backprojectionModeFirstPass == 5) ||
      (pass2 && p.backprojectionModeSecondPass == 5)) {
    m = 16;
  }
  return m;
}

int XinLiReach(const ResizeParams& p) { return std::max(std::abs(p.xinLiWindowSize), 4); }
int XinLiMargin(const ResizeParams& p, const EnlargePlan&) { return XinLiReach(p); }
// The later doublings of the Jensen-Xin Li cores work on what the first made of its
// margin rows: from the second one on, the margin reaches twice as far.
int LaterDoublings(int m, const EnlargePlan& plan) { return plan.passes > 1 ? 2 * m : m; }
int JxlMargin(const ResizeParams& p, const EnlargePlan& plan) {
  return LaterDoublings(std::max(JensenMargin(p.jensenWindowSize), XinLiReach(p)), plan);
}
int BpxlMargin(const ResizeParams& p, const EnlargePlan& plan) {
  return LaterDoublings(BackProjectionMargin(XinLiReach(p), p), plan);
}
// The fit is global: 20 source rows whatever the doublings.
int WindowlessMargin(const ResizeParams&, const EnlargePlan&) { return 20; }
int OldDdlMargin(const ResizeParams& p, const EnlargePlan&) { return 2 * std::abs(p.oldDdlOrder); }
int JddlMargin(const ResizeParams& p, const EnlargePlan&) {
  return std::max(JensenMargin(p.jensenWindowSize), 2 * std::abs(p.oldDdlOrder));
}
int NewDdlMargin(const ResizeParams& p, const EnlargePlan&) {
  return p.ddlPost.superRezIters != 0 ? 20 : 2 * std::abs(p.ddlOrder);
}
int BpddlMargin(const ResizeParams& p, const EnlargePlan&) {
  return BackProjectionMargin(std::max(6, 2 * std::abs(p.oldDdlOrder)), p);
}
int BpjddlMargin(const ResizeParams& p, const EnlargePlan&) {
  const int m = std::max(JensenMargin(p.jensenWindowSize), 2 * std::abs(p.oldDdlOrder));
  return BackProjectionMargin(std::max(m, 6), p);
}
int MbsMargin(const ResizeParams&, const EnlargePlan&) { return 3; }
int PseudoInverseMargin(const ResizeParams&, const EnlargePlan&) { return 20; }
int PyramidMargin(const ResizeParams& p, const EnlargePlan& plan) {
  const double x = p.pyramidSharpness != 0 ? std::max(p.haloWidthFactor, 1.0f) : 1.0;
  return int(std::min(4.0 * plan.factor * x, 1e6));
}

constexpr FactorRule kDoubling = FactorRule::Doubling;
constexpr OffsetRule kGiven = OffsetRule::Given, kHalf = OffsetRule::HalfShift;

// clang-format off
const EnlargeCommand kRows[] = {
    // id, factor, offsets, setting, centres, monitor, tile page first, adjustment always
    // with scratch, core, ticks, strips {margin, tile code}, exact on float, presharpens
    {Id::XinLi, kDoubling, kHalf, Iterations, true, true, true, false,
     XinLiCore, XinLiTicks, {XinLiMargin}},
    {Id::JensenXinLi, kDoubling, OffsetRule::HalfOnly, Iterations, true, true, true, false,
     JxlCore, XinLiTicks, {JxlMargin}},
    {Id::JensenDdl, kDoubling, kHalf, Iterations, true, false, true, false,
     JddlCore, DdlTicks, {JddlMargin}},
    {Id::OldDataDependentLanczos, kDoubling, kHalf, Iterations, true, false, true, false,
     OldDdlCore, DdlTicks, {OldDdlMargin}},
    {Id::NewDataDependentLanczos, kDoubling, kGiven, NewDdlIterations, false, false, true, false,
     NewDdlCore, DdlTicks, {NewDdlMargin}},
    {Id::BackprojectedDdl, kDoubling, kGiven, Iterations, false, true, true, false,
     BpddlCore, BpddlTicks, {BpddlMargin}, false, true},
    {Id::BackprojectedJddl, kDoubling, kGiven, Iterations, false, true, true, false,
     BpjddlCore, BpjddlTicks, {BpjddlMargin}, false, true},
    {Id::BackprojectedXinLi, kDoubling, kGiven, Iterations, false, true, true, false,
     BpxlCore, BpxlTicks, {BpxlMargin}, false, true},
    {Id::BackprojectedJensenXinLi, kDoubling, kGiven, Iterations, false, false, true, false,
     BpjxlCore, BpjxlTicks, {BpxlMargin}, false, true},
    {Id::ModifiedBSpline, FactorRule::OddInteger, kGiven, MbsFactor, false, false, true, false,
     MbsCore, MbsTicks, {MbsMargin}},
    {Id::PseudoInverseEnlargement, FactorRule::Integer, kGiven, PseudoInverseFactor, false, false,
     true, true, PseudoInverseCore, PseudoInverseTicks, {PseudoInverseMargin}},
    {Id::PyramidSimulation, FactorRule::Pyramid, kGiven, nullptr, false, false, false, false,
     PyramidCore, PyramidTicks, {PyramidMargin, cspace::kYCbCr | 7}, true},
    {Id::WindowlessXinLi, kDoubling, kHalf, WindowlessIterations, false, false, true, true,
     WindowlessCore, WindowlessTicksOf, {WindowlessMargin}, false, false, WindowlessOffsets,
     WindowlessFitsIn},
};
// clang-format on
}  // namespace

std::span<const EnlargeCommand> EnlargeCommands() { return kRows; }
