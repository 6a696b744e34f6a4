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
#include <thread>
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
  // Waits for a write in flight, then removes the files.
  ~StackScratch();
  StackScratch(const StackScratch&) = delete;
  StackScratch& operator=(const StackScratch&) = delete;
  // The path of the raw file of accepted image k ("temp<k>.frgb").
  static std::string RawPath(int k);
  // Writes accepted image k to its raw file; true when it was not written whole. A file
  // written is removed with the guard.
  bool WriteRaw(const fpbuffer& image, int k);
  // The same for the load loop: after the write of the image before has ended, a copy of
  // image k is written on a thread of its own while the caller loads the next image (at once
  // when the loops run on one thread, or when the copy does not fit). True when a write
  // failed, *failed the number of its image.
  bool WriteRawBehind(const fpbuffer& image, int k, int* failed);
  // Waits for the write in flight; true when it failed, *failed the number of its image.
  bool Settle(int* failed);
  // The raw files written, in order (whole once Settle has said so).
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<std::string> files_;
  std::thread writer_;
  fpbuffer pending_;
  int pendingIndex_ = -1;
  bool pendingFailed_ = false;
};

// A raw float colour file open for reading, its header and length checked against the
// size the caller expects. Reads at given places, so threads may share one open file.
class FrgbReader {
 public:
  FrgbReader() = default;
  ~FrgbReader() { close(); }
  FrgbReader(const FrgbReader&) = delete;
  FrgbReader& operator=(const FrgbReader&) = delete;
  // False when the file cannot be opened or is not a regular raw file of width x height.
  bool open(const std::string& path, int width, int height);
  // Reads `rows` rows from firstRow on as float triplets into out; false on a short read.
  bool read(int firstRow, int rows, float* out) const;
  void close();

 private:
  int fd_ = -1;
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
// size: the pixels' combined colours into channels 0-2. The rows go in chunks of at most
// budget bytes of raw rows (one row at least), each thread reading a chunk's rows from every
// file in turn, each file open only while its rows are read, and combining them while they
// are in its cache. One progress tick per row; a cancel throws Cancelled, and a file that
// cannot be read throws Cancelled after its message (the path as caption).
// The chunk budget for count files: some 4 MB, so that the chunks of all the threads stay
// in the shared cache between their read and their use, but at least 256 KB a file, so
// that many files are still read in long runs; at most 16 MB, which a thread holds.
inline uint64_t StackRowBudget(int count) {
  return std::clamp(uint64_t(std::max(count, 0)) << 18, uint64_t(4) << 20, uint64_t(16) << 20);
}
void CombineRawFiles(fpbuffer& image, const std::vector<std::string>& files, int mode,
                     int iterations, uint64_t budget);
}  // namespace ops::stacking

// Stacking > Stacking (Regular and Modified) (bound in bindings.cpp).
void OnStacking(CImageView& v, int id);
