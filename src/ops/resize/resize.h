#pragma once
// The Resize menu: the linear kernels as one value, the start-up registration of the
// resize commands, and the pieces the enlargement commands will share.
#include <cstdint>
#include <functional>
#include <string>

#include "image/fpbuffer.h"
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

// Joins the resize commands' handlers to the image window's command table.
void RegisterResizeCommands();

// trunc(scale x length + 0.5), the output length of every resize, saturated so that an
// absurd scale gives a size that the checks refuse instead of an overflow.
int32_t ResizedLength(int length, double scale);

// Brings every channel plane to w x h: rows and columns beyond the present ones repeat the
// last row and then the last column, surplus ones are dropped. The mask follows.
void RepeatEdgesTo(fpbuffer& image, int w, int h);

// The channel files "temp1.mat", "temp2.mat", ... of the scratch-disk paths; whatever
// happens, none outlives the object.
class ChannelFiles {
 public:
  explicit ChannelFiles(int count) : count_(count) {}
  ~ChannelFiles() {
    for (int c = 1; c <= count_; ++c) matrix::remove(name(c));
  }
  ChannelFiles(const ChannelFiles&) = delete;
  ChannelFiles& operator=(const ChannelFiles&) = delete;
  static std::string name(int c) { return Format("temp%d.mat", c); }

 private:
  int count_;
};

// Runs work on every channel plane of the image in turn (work returns true when the user
// cancelled, which ends the loop and returns true). With scratch the planes wait in the
// channel files and the image is empty meanwhile (and stays empty after a cancel); at the
// end the image takes the planes' new size. The mask is kept as it is.
bool ForEachChannel(fpbuffer& image, bool scratch, const std::function<bool(matrix&)>& work);

// Replaces the display bitmap of a window's current layer by one of w x h that
// resample(target, source) fills from the old pixels; the old bitmap is parked in
// "cimage.temp" meanwhile when "Use Scratch Disk" is on. True when it completed; on a
// cancel (resample returns true) or a failure the layer keeps its bitmap, and failures
// other than a bitmap that cannot be created reach the caller.
bool ReplaceBitmap(CImageView& view, int w, int h,
                   const std::function<bool(rgbbuffer& target, const rgbbuffer& source)>& resample);
