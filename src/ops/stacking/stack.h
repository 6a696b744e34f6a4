#pragma once
// Stacking: many exposures of one scene, each in its own file, loaded one after the other
// into the current layer and combined into one float image. The load loop is common to
// every mode; a mode plugs into it with three steps (the first accepted image, each
// further one, the final combination).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/fpbuffer.h"

class CImageView;

namespace ops::stacking {
enum StackMode : int32_t {
  kStackAverage = 0,
  kStackMedian = 1,
  kStackWmmr = 2,
  kStackMultivariateMedian = 3,
  kStackExtendedDof = 4,
  kStackExtendedDynamicRange = 5,
  kStackPyramidFusion = 6,
  kStackExtendedDof2 = 7,
  kStackExtendedDof3 = 8,
};

// The filter of the stacking file dialog.
inline constexpr const char* kStackFilter =
    "PNG, JPG, TIF, BMP, FIT, FDIB, IFS|*.PNG;*.JPG;*.TIF;*.BMP;*.FIT;*.FDIB;*.IFS;*.fit;*.fdib;"
    "*.ifs|PNG|*.PNG|JPG|*.JPG|TIF|*.TIF|BMP|*.BMP|FIT|*.FIT|FDIB|*.FDIB|IFS|*.IFS|";

// The scratch files of one run, in the process's scratch folder. Each is removed by its
// name when the run ends, however it ends; nothing else in the folder is touched.
class StackScratch {
 public:
  StackScratch() = default;
  ~StackScratch();
  StackScratch(const StackScratch&) = delete;
  StackScratch& operator=(const StackScratch&) = delete;
  // The path of the raw file of accepted image k ("temp<k>.frgb").
  static std::string RawPath(int k);
  // Writes accepted image k to its raw file; true when it was not written whole. A file
  // written is removed with the guard.
  bool WriteRaw(const fpbuffer& image, int k);
  // The raw files written, in order.
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<std::string> files_;
};

// A raw float colour file open for reading, its header and length checked against the
// size the caller expects.
class FrgbReader {
 public:
  // False when the file cannot be opened or is not a raw file of width x height.
  bool open(const std::string& path, int width, int height);
  // Reads `rows` rows from firstRow on as float triplets into out; false on a short read.
  bool read(int firstRow, int rows, float* out);
  void close() { file_.reset(); }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  int width_ = 0, height_ = 0;
};

// The messages of a file the run could not read or write, shown with the path as caption.
inline constexpr const char* kStackReadProblem = "Aborted because of problem reading this file.";
inline constexpr const char* kStackWriteProblem = "Aborted because of problem writing this file.";

// What a mode does in the load loop; each step works on the current layer's image.
struct StackSteps {
  std::function<void(fpbuffer& image)> first;
  std::function<void(fpbuffer& image, int k)> further;
  std::function<void(fpbuffer& image, int n)> final;
};

// The status text of the load loop after image k+1 of total, with skipped files so far.
std::string StackStatusText(int mode, int k, int total, int skipped);

// The combination of modes 1-3 over the raw files of n accepted images of the image's
// size: the pixels' combined colours into channels 0-2, rows streamed from the files in
// blocks of at most budget bytes. One progress tick per row; a cancel throws Cancelled,
// and a file that cannot be read throws Cancelled after its message (the path
// as caption).
// The bytes of raw rows the command's combination holds at once for count files. The
// median spends little on a pixel: its block stays small enough to be in the cache between
// its read and its use, but at least 256 KB a file, so that many files are still read in
// long runs. The other combiners spend far more on a pixel than its read costs: their
// large blocks give every thread rows.
inline uint64_t StackRowBudget(int mode, int count) {
  if (mode != kStackMedian) return uint64_t(256) << 20;
  return std::max(uint64_t(4) << 20, uint64_t(std::max(count, 0)) << 18);
}
void CombineRawFiles(fpbuffer& image, const std::vector<std::string>& files, int mode,
                     int iterations, uint64_t budget);
}  // namespace ops::stacking

// Stacking > Stacking (Regular and Modified) (bound in bindings.cpp).
void OnStacking(CImageView& v, int id);
