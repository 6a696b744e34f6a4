#pragma once
// The Resize menu: its command handlers, the resampling of the float image, the linear
// kernels as one value, and the pieces the enlargement commands will share.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "platform/format.h"

class CImageView;
class rgbbuffer;

// One of the four linear kernels with its parameter (the Keys parameter of the cubic, the
// order of the Lanczos kernel).
struct ResizeKernel {
  enum Kind { Box, Bilinear, Bicubic, Lanczos };
  Kind kind = Lanczos;
  double parameter = 3;

  // The kernel matrix for n input samples resized by scale with the shift in output
  // samples.
  matrix& build(matrix& k, int n, double scale, float shift, bool antialias) const;
};

// The handlers of the Resize menu (bound in bindings.cpp).
void OnBoxNearestNeighbor(CImageView& v, int id);
void OnBilinear(CImageView& v, int id);
void OnBicubic(CImageView& v, int id);
void OnLanczos(CImageView& v, int id);
void OnTriangulation(CImageView& v, int id);
void OnStairInterpolation(CImageView& v, int id);
// Presharpen (no menu entry): fpbuffer::presharpen with the page-37 settings and Cond.
void OnPresharpen(CImageView& v, int id);

// The size dialog: the "Arbitrary" page with the focus on the row of the resize mode.
// True when the user cancelled it.
bool AskTargetSize();
// Target size and scale factors from the resize mode and the display bitmap's size,
// stored back into the resize parameters.
void ComputeTargetSize(CImageView& v);
// Replaces the display bitmap of a layer without float image by its resampling with the
// kernel. True when it completed; on a cancel or a failure the layer keeps its bitmap.
bool ResizeBitmap(CImageView& v, const ResizeKernel& kernel, bool antialias, double sx, double sy,
                  double dx, double dy);
bool ResizeBitmapLanczos3(CImageView& v, double sx, double sy, double dx, double dy);

// Linear resizing of a float image by scale factors and offsets in output samples, each
// with its own kernel. Nothing happens for a scale not above 0 or for scales 1 without
// offsets. The mask follows the image. With scratch the channels wait in scratch files
// while each one is resampled. True when the user cancelled: the image is then partly
// resampled (or empty) and the caller discards it.
bool resizelanczos(fpbuffer& image, int order, double sx, double sy, double dx, double dy,
                   bool scratch, bool startProgress, bool antialias);
bool resizebicubic(fpbuffer& image, float p, double sx, double sy, double dx, double dy,
                   bool scratch, bool antialias);
bool resizebilinear(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch,
                    bool antialias);
bool resizebox(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch,
               bool antialias);
// Whether the four leave the image as it was when cancelled or failing (they then work
// aside): not with scratch, nor for the half-pixel shift, which work in place.
bool ResizeKeepsImage(const ResizeKernel& kernel, double sx, double sy, double dx, double dy,
                      bool scratch);
// The core of the four: every channel resampled by the two kernel matrices.
bool applykernels(fpbuffer& image, const matrix& kx, const matrix& ky, bool scratch,
                  bool startProgress);
// Every channel shifted by half a pixel in x and y (to j - 1/2). True when cancelled.
bool shifthalf(fpbuffer& image, bool startProgress);
// Triangulation: every channel interpolated on the triangles that the dominant channel
// (1-3) chooses; reductions are first blurred with sigma blur / scale.
bool triangulate(fpbuffer& image, float blur, int dominant, double sx, double sy, double dx,
                 double dy, bool scratch);
// Stair interpolation: equal small steps of the Lanczos or the bicubic front up to the
// scales, then the last rows and columns repeated or dropped to the exact target size.
bool stair(fpbuffer& image, int order, double sx, double sy, double dx, double dy, bool scratch,
           double q, float p, bool lanczos, bool antialias);

// trunc(scale x length + 0.5), the output length of every resize, saturated so that an
// absurd scale gives a size that the checks refuse instead of an overflow.
int32_t ResizedLength(int length, double scale);

// Brings every channel plane to w x h: rows and columns beyond the present ones repeat the
// last row and then the last column, surplus ones are dropped. The mask follows.
void RepeatEdgesTo(fpbuffer& image, int w, int h);

// The channels of a loop in the order they are worked on, each with the scratch file it
// waits in: channel order[k] (from 0) in files[k].
struct ChannelPlan {
  std::vector<int> order;
  std::vector<std::string> files;
};
// Channels 1, 2, ... in turn, in "temp1.mat", "temp2.mat", ...
ChannelPlan ChannelsInTurn(int count);
// The dominant channel (1-3) first, then the others as the enlargement cores take them
// (1, 2, 3 / 2, 1, 3 / 3, 2, 1; a fourth last), in "temp10.mat", "temp20.mat", ...
ChannelPlan DominantFirst(int dominant, int count);

// Runs work on every channel plane of the image in the plan's order (work returns true
// when the user cancelled, which ends the loop and returns true). With scratch the planes
// wait in the plan's files and the image is empty meanwhile (and stays empty after a
// cancel); an exception from work or the files leaves the image empty, with or without
// scratch. No file outlives the call. At the end the image takes the
// planes' new size. The mask is kept as it is.
bool ForEachChannel(fpbuffer& image, bool scratch, const ChannelPlan& plan,
                    const std::function<bool(matrix&)>& work);
bool ForEachChannel(fpbuffer& image, bool scratch, const std::function<bool(matrix&)>& work);
// Runs work, which replaces every channel plane of the image in memory at once (the planes
// side by side in the parallel loops); as with ForEachChannel an exception leaves the
// image empty, and at the end the image takes the planes' new size.
void AllChannelsAtOnce(fpbuffer& image, const std::function<void()>& work);

// Data-dependent Lanczos enlargement by 2^passes of every channel, the dominant channel
// (resolved from the setting) first: it decides the direction maps, which the other
// channels reuse (DdlEnlarge with the flags given; the maps are freed after the last
// channel when drop is set). With scratch the channels wait in scratch files. A cancel
// throws Cancelled.
fpbuffer& ddl(fpbuffer& image, int dominantSetting, int order, int passes, bool rotate, bool centre,
              bool scratch, bool halo, bytemaps& maps, bool drop);
// Every channel shifted by a quarter pixel in x and y (to j - 1/4); a cancel throws.
fpbuffer& shiftquarter(fpbuffer& image);
// Modified B-spline enlargement by an odd factor s above 2 (anything else, or a dominant
// channel outside 1-3, changes nothing): the dominant channel's cells decide the block
// splits of every channel. The mask follows. A cancel throws Cancelled.
fpbuffer& mbs(fpbuffer& image, int dominantSetting, int s, bool scratch);
// Enlargement by (sx, sy) in at least five triangulation steps of about q each in YCbCr,
// the last with the offsets, then an unsharp mask of the luminance of amount 1.2 s and
// sigmas (sx, sy) x the halo width factor, and the last rows and columns repeated or
// dropped to the exact size. A scale below 1 changes nothing. True when cancelled (the
// image is then partly enlarged, in YCbCr).
bool pyramidsim(fpbuffer& image, double sx, double sy, double dx, double dy, bool scratch, double q,
                float sharpness, float haloWidth);

// Replaces the display bitmap of a window's current layer by one of w x h that
// resample(target, source) fills from the old pixels; the old bitmap is parked in
// "cimage.temp" meanwhile when "Use Scratch Disk" is on. True when it completed; on a
// cancel (resample returns true) or a failure the layer keeps its bitmap, and failures
// other than a bitmap that cannot be created reach the caller.
bool ReplaceBitmap(CImageView& view, int w, int h,
                   const std::function<bool(rgbbuffer& target, const rgbbuffer& source)>& resample);

// Jensen enlargement (jensen.cpp). The edge model's settings: accept ratio, edge-test
// threshold, blur (steepness of the transition; 0 a hard edge), window length L, the
// dominant channel (1-3, resolved) and the robust side values.
struct JensenModel {
  float accept = 0.45f, threshold = 0.04f, blur = 10;
  int window = 5;
  int dominant = 1;
  bool robust = true;
};
// ((L + 1) / 2)^2: how many windows cover a pixel of the doubled grid at most.
float OverlapDivisor(int L);
// Turns every channel and the mask by 180 degrees.
void TurnHalf(fpbuffer& image);
// out = the doubled edge-model accumulation of the input (0 where no model painted; the
// input's pixel (i, j) at (2i, 2j)), counts = how many windows painted each output pixel;
// with an input mask, out's mask marks the painted pixels. Windows with an empty side are
// rejected; inputs of at most L - 1 pixels in a direction have none.
fpbuffer& jensen2x(fpbuffer& out, bytemaps& counts, const fpbuffer& input, float a, float t,
                   float k, int L, int dominant, bool robust);
// Where a count c is not 0: image = (1 - c / D) image + J, in channels 1 to 3; J's mask
// (when it has one) becomes the image's. The file form reads J from an FDIB scratch file,
// removes it, and on a file that does not hold J shows "Problem Opening Temp File" and
// leaves the image as the partner made it.
fpbuffer& blendjensen(fpbuffer& image, const bytemaps& counts, const fpbuffer& J, int L);
fpbuffer& blendjensenfile(fpbuffer& image, const bytemaps& counts, const std::string& name,
                          int L);
// partner() doubling the image in place, then J blended in with the counts; with scratch J
// waits in the named FDIB scratch file (and is freed) while the partner runs, the file never
// outliving the call.
void BlendAfterPartner(fpbuffer& image, const bytemaps& counts, fpbuffer& J, int L, bool scratch,
                       const char* name, const std::function<void()>& partner);
// One Jensen pass: the edge model of the image, partner() doubling the image in place,
// and the blend (through "temp2.fdib" with scratch, which never outlives the pass).
void JensenPass(fpbuffer& image, const JensenModel& model, bool scratch,
                const std::function<void()>& partner);
// Jensen passes with a partner doubling: with rotate the second pass works on the image
// turned by 180 degrees, turned back at the end. The mask ends inverted: it marks the
// pixels no edge model painted in the last pass. The model's dominant channel is resolved.
// No passes change nothing.
fpbuffer& JensenPasses(fpbuffer& image, int passes, bool rotate, const JensenModel& model,
                       bool scratch, const std::function<void()>& partner);
// Jensen with one data-dependent Lanczos doubling as partner, per pass; with rotate the
// second pass works on the image turned by 180 degrees, turned back at the end. The mask
// ends inverted: it marks the pixels no edge model painted in the last pass.
fpbuffer& jddl(fpbuffer& image, int passes, int dominantSetting, int order, bool rotate,
               const JensenModel& edges, bool scratch, bool halo);

// The Xin Li settings of the combined cores: bias, window, taper, normalization weight, and
// the twelve-coefficient model (with its antialias sigma) in place of the classic one.
struct XinLiModel {
  float bias = 1;
  int window = 8;
  float taper = 0, normalization = 0;
  bool twelve = false;
  float antialias = 1.5f;
};
// Jensen-Xin Li by 2^passes: per pass the Jensen edge model and one Xin Li doubling (input
// pixel (i, j) at (2i, 2j)), blended; rotate and the mask as in jddl. The dominant channel
// (the setting resolved, the nearest one the image has) drives both.
fpbuffer& jensenxinli(fpbuffer& image, int passes, int dominantSetting, const XinLiModel& xl,
                      bool rotate, const JensenModel& edges, bool scratch);

// Back-projection settings of the back-projected cores (BackProject's arguments, the
// first-pass mode being also the presharpening kernel's reduction model).
struct BackProjection {
  float exitTolerance = 0;
  int mode1 = 0, order = 3, iterations1 = 0;
  float regularization = 0;
  int sharpenIterations = 0;
  float sharpenAmount = 0, edgeRejection = 0;
  int mode2 = 0, iterations2 = 0;
  float presharpenAmount = 0;
};
// Whether presharpening runs: an amount not 0 and a scale 2^passes the kernel table
// covers (at most 9).
bool PresharpenApplies(float amount, int passes);
// The presharpening kernel of the model for 2^passes from the loaded table, or, without
// one, from the "Kernels" file, whose problem is then shown. Empty when presharpening
// does not apply or the file cannot serve.
matrix& PresharpenKernel(matrix& kernel, const matrix* table, int model, int passes,
                         float amount);
// Back-projected DDL: every channel (the dominant first, whose doubling decisions the
// others reuse unless they are presharpened on their own) enlarged by 2^passes with
// DdlEnlarge onto the centred grid, then back-projected against its source. With a
// shortcut (1 YCbCr, 2 YCbCr2) the image works in that space, only the luminance is
// presharpened and refined, and the image returns to its entry space. The table is the
// loaded kernel file (null: read here when needed). With scratch the planes wait in
// "temp10.mat", "temp20.mat", "temp30.mat". The mask follows the image.
fpbuffer& bpddl(fpbuffer& image, int dominantSetting, const BackProjection& bp, bool scratch,
                int shortcut, int ddlOrder, int passes, bool halo, const matrix* table);
// Back-projected Jensen-DDL: per pass, the Jensen edge model of the image shifted by a
// quarter pixel, one pass of bpddl, and the blend (through "temp01.fdib" with scratch);
// the mask ends inverted as in jddl.
fpbuffer& bpjddl(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                 const BackProjection& bp, bool scratch, int shortcut, int ddlOrder, int passes,
                 bool halo, const matrix* table);
// Back-projected Xin Li: the source planes kept (with scratch in "temp10.mat", ...),
// presharpened, the image enlarged by 2^passes with Xin Li (the given model, the turn) and
// shifted by half a pixel onto the centred grid, then every plane back-projected against
// its source (with scratch the enlarged planes wait in "temp100.mat", ... meanwhile). The
// shortcut, the table and the mask as in bpddl; no passes change nothing.
fpbuffer& bpxl(fpbuffer& image, int dominantSetting, const BackProjection& bp, bool scratch,
               int shortcut, const XinLiModel& xl, int passes, const matrix* table);
// Back-projected Jensen-Xin Li: bpjddl with one pass of bpxl as the partner.
fpbuffer& bpjxl(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                const BackProjection& bp, bool scratch, int shortcut, const XinLiModel& xl,
                int passes, const matrix* table);

// The colour space the back-projected cores work in: with a shortcut the image is
// converted to it and the luminance (channel 1) is dominant, else the setting resolved;
// back() returns the image to its entry space.
struct EnlargementSpace {
  EnlargementSpace(fpbuffer& image, int shortcut, int dominantSetting);
  fpbuffer& back(fpbuffer& image) const;
  CSpaceCode entry, space;
  int dominant;
};
// BackProject of the plane against its source with the settings.
matrix& RefineAgainst(matrix& plane, const matrix& source, const BackProjection& bp, bool scratch);
// The back-projected Jensen cores: in the shortcut's space, per pass the edge model of the
// image shifted by a quarter pixel, partner(dominant, settings, kernels) doubling the image
// by one pass of its back-projected core, and the blend (through "temp01.fdib" with
// scratch); the mask ends inverted as in jddl. The kernel table is read once (its problem
// shown once, presharpening then off). No passes change nothing.
using BackProjectedPartner =
    std::function<void(int dominant, const BackProjection& step, const matrix* kernels)>;
fpbuffer& BackProjectedJensen(fpbuffer& image, int dominantSetting, const JensenModel& edges,
                              const BackProjection& bp, bool scratch, int shortcut, int passes,
                              const matrix* table, const BackProjectedPartner& partner);
// The same with the scratch flag given (a command with a flag of its own).
bool ReplaceBitmap(CImageView& view, int w, int h,
                   const std::function<bool(rgbbuffer& target, const rgbbuffer& source)>& resample,
                   bool scratch);
// The checks of the pseudo-inverse family's arguments, made before anything changes: a
// factor below 1 or a kernel type outside the reduction or base list throws its message.
void CheckEnlargementKernels(int factor, int reductionType, int baseType);
inline constexpr const char* kFactorMessage = "The scale factor must be at least 1";
inline constexpr const char* kDoublingsMessage = "The number of doublings must be 0 to 30";
inline constexpr const char* kOrderMessage = "The DDL order must be 0 to 5";
// The colour space of an enlargement shortcut: 1 YCbCr, 2 YCbCr2, any other none (0).
CSpaceCode ShortcutSpace(int shortcut);

// The bytes of a 24-bit bitmap of w x h pixels, in 64 bits whatever the size.
inline uint64_t DibBytes(int64_t w, int64_t h) {
  return w > 0 && h > 0 ? uint64_t((3 * w + 3) / 4 * 4) * uint64_t(h) : 0;
}
// The refusal of a new size of tw x th pixels that is not valid, not at least 1 x 1, beyond
// what the image formats hold, or whose bytes exceed the memory available: the message,
// and false. True when the resize may run.
bool SizeAcceptable(int64_t tw, int64_t th, uint64_t bytes, bool valid);
// Clears F2Active, F3Active and CtrlHeld at the end of a resize command.
void EndOfCommand();
// The path without float image: resize() under the process timer (with the window when
// monitor); a cancel, memory and file failures leave the layer its bitmap, the failures
// with their message; completion (resize() true) is reported.
void RunBitmapResize(CImageView& v, const std::function<bool()>& resize, bool monitor = false);
// "Super Rez" (matrix::superrez) of an enlargement of low by a with the fields of params.
matrix& SuperRez(matrix& plane, const matrix& low, matrix& cache, int a, int reductionType,
                 int baseType, const PostProcessParams& params, float radius, float amount);
