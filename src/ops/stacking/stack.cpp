// Stacking > Stacking (Regular and Modified): the file selection, the load loop that every
// mode shares, "Average", the row driver of the per-pixel combiners and the ending.
#include "ops/stacking/stack.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>

#include "app/imageview.h"
#include "fileio/batch.h"
#include "fileio/imagefile.h"
#include "ops/stacking/combine.h"
#include "ops/stacking/edof.h"
#include "ops/stacking/fusion.h"
#include "params/dialog2.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/ui.h"

namespace ops::stacking {
namespace {

// Shows a file's problem with its path as caption and ends the run.
[[noreturn]] void Abort(const char* text, const std::string& path) {
  GetUi().MessageBox(text, path, MessageStyle{});
  throw Cancelled{};
}

bool RawMode(int mode) {
  return mode == kStackMedian || mode == kStackWmmr || mode == kStackMultivariateMedian ||
         mode == kStackExtendedDynamicRange;
}

// Every mode of the list runs; only a record edited by hand can hold another number.
bool KnownMode(int mode) {
  return mode == kStackAverage || mode == kStackPyramidFusion || RawMode(mode) ||
         ExtendedDofMode(mode);
}

// The page a mode asks for after "Stack Images" (page, focus row); 0 for none.
std::pair<int, int> ModePage(int mode) {
  switch (mode) {
    case kStackPyramidFusion:
      return {61, 1};
    case kStackExtendedDof2:
      return {80, 3};
    case kStackExtendedDof3:
      return {83, 1};
    default:
      return {0, 0};
  }
}

// Whether the mode's status text follows its per-image step.
bool StatusAfter(int mode) { return mode == kStackAverage || mode == kStackExtendedDof; }
}  // namespace

std::string StackStatusText(int mode, int k, int total, int skipped) {
  const char* text = StatusAfter(mode)            ? "Processed %d of %d"
                     : mode == kStackExtendedDof3 ? "Processing %d of %d"
                                                  : "Writing Temporary File %d of %d";
  std::string s = Format(text, k + 1, total);
  if (skipped > 0) s += Format(" (%d skipped)", skipped);
  return s;
}

namespace {
// The median of one row, tile by tile: each file's triplets are split into channel
// columns (value k of pixel i at k * tile + i) and the middle ranks brought into place
// over whole columns at once. A pixel with a sample that is not finite takes the
// one-pixel path, which orders NaN as the total order says.
void MedianRow(const float* rows, size_t fileBlock, size_t rowStart, int count, int w,
               const MedianNetwork& net, fpbuffer& image, size_t out, CombineBuffers& buffers) {
  // Some 64 KB of columns per channel, a whole number of sixteen-column runs, each rank of
  // a run on a cache line of its own. An odd number of runs: ranks a power of two apart in
  // memory (4 KB for 16 files) would all fall in one set of the first-level cache, which
  // holds only eight of a run's lines.
  int tile = std::clamp((16384 / std::max(count, 1)) & ~15, 16, 1024);
  if ((tile / 16) % 2 == 0) tile -= 16;
  thread_local std::vector<float> columns, check;
  thread_local std::vector<fpixel> samples;
  columns.resize(size_t(3) * size_t(count) * size_t(tile) + 16);
  check.resize(size_t(tile));
  const size_t plane = size_t(count) * size_t(tile);
  float* const c0 = columns.data() + (-(reinterpret_cast<uintptr_t>(columns.data()) / 4) & 15);
  float* const c1 = c0 + plane;
  float* const c2 = c1 + plane;
  for (int x0 = 0; x0 < w; x0 += tile) {
    const int lanes = std::min(tile, w - x0);
    std::fill(check.begin(), check.begin() + lanes, 0.0f);
    for (int k = 0; k < count; ++k) {
      const float* src = rows + fileBlock * size_t(k) + rowStart + 3 * size_t(x0);
      const size_t at = size_t(k) * size_t(tile);
      SplitTriplets(src, lanes, c0 + at, c1 + at, c2 + at, check.data());
    }
    MedianColumns(net, c0, size_t(tile), lanes, image.plane[0].x + out + size_t(x0));
    MedianColumns(net, c1, size_t(tile), lanes, image.plane[1].x + out + size_t(x0));
    MedianColumns(net, c2, size_t(tile), lanes, image.plane[2].x + out + size_t(x0));
    for (int i = 0; i < lanes; ++i) {
      if (check[size_t(i)] == 0) continue;
      samples.resize(size_t(count));
      for (int k = 0; k < count; ++k) {
        const float* p = rows + fileBlock * size_t(k) + rowStart + 3 * size_t(x0 + i);
        samples[size_t(k)] = fpixel(p[0], p[1], p[2]);
      }
      const fpixel m = CombineMedian(samples, buffers);
      const size_t at = out + size_t(x0 + i);
      image.plane[0].x[at] = m.x;
      image.plane[1].x[at] = m.y;
      image.plane[2].x[at] = m.z;
    }
  }
}
}  // namespace

namespace {
// The row buffers of the chunks, each taken by a thread for one chunk and given back after:
// as many are made as chunks run at once, and they live as long as the combination.
class ChunkBuffers {
 public:
  explicit ChunkBuffers(size_t floats) : floats_(floats) {}
  std::unique_ptr<float[]> take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        std::unique_ptr<float[]> buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
      }
    }
    // Filled by the reads before it is used: not cleared first.
    return std::unique_ptr<float[]>(new float[floats_]);
  }
  void give(std::unique_ptr<float[]> buffer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(buffer));
  }

 private:
  size_t floats_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<float[]>> free_;
};

// The file of a chunk's rows that could not be read.
struct UnreadFile {
  size_t index;
};
}  // namespace

void CombineRawFiles(fpbuffer& image, const std::vector<std::string>& files, int mode,
                     int iterations, uint64_t budget) {
  const int count = int(files.size());
  const int w = image.width, h = image.height;
  if (count == 0 || image.n == 0 || image.channels < 3) return;
  const uint64_t rowBytes = 12 * uint64_t(w) * uint64_t(count);
  const int chunkRows = int(std::clamp<uint64_t>(budget / rowBytes, 1, uint64_t(h)));
  const size_t fileChunk = size_t(3) * size_t(w) * size_t(chunkRows);
  ChunkBuffers buffers(fileChunk * size_t(count));
  const std::optional<MedianNetwork> network =
      mode == kStackMedian ? std::optional<MedianNetwork>(count) : std::nullopt;
  StartProgress(float(h));
  bool cancelled = false;
  try {
    // A thread reads its chunk's rows from every file and combines them at once, while they
    // are still in its cache. Each thread has one file open at a time, so any number of
    // files works.
    cancelled = ParallelBlocksTicking(h, chunkRows, [&](int64_t y0, int64_t y1) {
      const int r = int(y1 - y0);
      std::unique_ptr<float[]> block = buffers.take();
      float* const rows = block.get();
      FrgbReader reader;
      // The files in order: where several cannot be read, the first is the one reported.
      for (size_t k = 0; k < files.size(); ++k) {
        if (!reader.open(files[k], w, h) || !reader.read(int(y0), r, &rows[fileChunk * k])) {
          throw UnreadFile{k};
        }
      }
      reader.close();
      thread_local CombineBuffers combine;
      thread_local std::vector<fpixel> samples;
      samples.resize(size_t(count));
      for (int j = 0; j < r; ++j) {
        const size_t rowStart = size_t(j) * 3 * size_t(w);
        const size_t out = size_t(y0 + j) * size_t(w);
        if (network) {
          MedianRow(rows, fileChunk, rowStart, count, w, *network, image, out, combine);
          continue;
        }
        for (int x = 0; x < w; ++x) {
          for (int k = 0; k < count; ++k) {
            const float* p = &rows[fileChunk * size_t(k) + rowStart + 3 * size_t(x)];
            samples[size_t(k)] = fpixel(p[0], p[1], p[2]);
          }
          const std::span<const fpixel> list(samples);
          const fpixel c = mode == kStackWmmr
                               ? CombineWmmr(list, combine)
                               : CombineMultivariateMedian(list, iterations, combine);
          image.plane[0].x[out + size_t(x)] = c.x;
          image.plane[1].x[out + size_t(x)] = c.y;
          image.plane[2].x[out + size_t(x)] = c.z;
        }
      }
      buffers.give(std::move(block));
    });
  } catch (const UnreadFile& unread) {
    // The lowest chunk that failed is the one reported.
    Abort(kStackReadProblem, files[unread.index]);
  }
  if (cancelled) throw Cancelled{};
}
}  // namespace ops::stacking

using namespace ops::stacking;

namespace {
// What the load loop keeps for the ending.
struct StackRun {
  int accepted = 0;
  int skipped = 0;
  std::string skippedList;
};

// The window state a run changes besides the float image, put back when it ends early.
struct WindowBefore {
  explicit WindowBefore(CImageView& v)
      : hadFloat(v.HasFloat()),
        code(v.currentLayer().code),
        filePath(v.filePath),
        frameTitle(v.frameTitle),
        fileInfo(v.fileInfo),
        panX(v.panX),
        panY(v.panY) {
    // The float image itself comes back through RunOnFloat; a window without one keeps its
    // bitmap here.
    const DisplayBitmap& shown = v.currentBitmap();
    if (!hadFloat && !shown.empty()) {
      bitmap = DisplayBitmap(shown.width(), shown.height());
      std::memcpy(bitmap.data(), shown.data(), size_t(shown.bytes()));
    }
  }
  void Restore(CImageView& v) {
    v.filePath = filePath;
    v.frameTitle = frameTitle;
    v.fileInfo = fileInfo;
    v.panX = panX;
    v.panY = panY;
    if (!hadFloat) {
      v.currentLayer().clear(false);
      v.currentLayer().setcode(code);
      v.currentBitmap() = std::move(bitmap);
    }
    if (v.host) {
      v.host->SetFrameTitle(v.frameTitle);
      v.host->Invalidate();
    }
    v.UpdateStatus();
  }
  bool hadFloat;
  CSpaceCode code;
  std::string filePath, frameTitle;
  ImageFileInfo fileInfo;
  int32_t panX, panY;
  DisplayBitmap bitmap;
};

// The steps of the built modes.
StackSteps AverageSteps(fpbuffer& sum) {
  return {[&sum](fpbuffer& image) { sum.copy(image); },
          [&sum](fpbuffer& image, int) { sum.add(image); },
          [&sum](fpbuffer& image, int n) {
            sum.scale(float(1.0 / n));
            image.swapwith(sum);
            sum.clear();
          }};
}

StackSteps RawSteps(CImageView& v, StackScratch& scratch, int mode, CSpaceCode remembered) {
  // Each image's file is written while the next one loads.
  auto write = [&scratch](fpbuffer& image, int k) {
    int failed;
    if (scratch.WriteRawBehind(image, k, &failed)) {
      Abort(kStackWriteProblem, StackScratch::RawPath(failed));
    }
  };
  return {[write](fpbuffer& image) { write(image, 0); }, write,
          [&v, &scratch, mode, remembered](fpbuffer& image, int n) {
            int failed;
            if (scratch.Settle(&failed)) Abort(kStackWriteProblem, StackScratch::RawPath(failed));
            const StackParams& p = LiveSettings().stack;
            const std::vector<std::string>& files = scratch.files();
            if (mode == kStackExtendedDynamicRange) {
              const int failed = image.mergeexposures(files, p.hdrParameter1, p.hdrNoiseReduction);
              if (failed >= 0) Abort(kStackReadProblem, files[size_t(failed)]);
              image.convert(remembered);
            } else {
              v.pixelInfoText = Format("Now Processing %d Temporary Files", n);
              v.UpdateStatus();
              CombineRawFiles(image, files, mode, p.multivariateMedianIterations,
                              StackRowBudget(int(files.size())));
            }
            v.pixelInfoText = Format("Completed Processing %d Files", n);
            v.UpdateStatus();
          }};
}

// The load loop: every file in processing order into the current layer, the first one's
// size the stack size, files of another size skipped, each accepted image handed to the
// mode's steps; then the final step.
void LoadAndCombine(CImageView& v, const std::vector<std::string>& files, int mode,
                    CSpaceCode runCode, const StackSteps& steps, StackRun& run) {
  int total = int(files.size());
  int width = 0, height = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& path = files[i];
    if (OpenImageFile(v, path, i == 0 ? 0 : -1, false)) Abort(kStackReadProblem, path);
    if (v.host) v.host->Invalidate();
    fpbuffer& image = v.currentLayer();
    // A file that brings its own colour space (FDIB) joins the others in the run's space.
    if (image.code != runCode) image.convert(runCode);
    if (run.accepted == 0) {
      width = image.width;
      height = image.height;
    }
    if (image.width != width || image.height != height) {
      ++run.skipped;
      run.skippedList += "\n" + path;
      --total;
      image.dim(width, height, image.code);
    } else {
      const int k = run.accepted;
      auto status = [&] {
        v.pixelInfoText = StackStatusText(mode, k, total, run.skipped);
        v.UpdateStatus();
      };
      if (!StatusAfter(mode)) status();
      if (k == 0) {
        steps.first(image);
      } else {
        steps.further(image, k);
      }
      ++run.accepted;
      if (StatusAfter(mode)) status();
    }
    if (GetPlatform().CancelRequested()) throw Cancelled{};
  }
  steps.final(v.currentLayer(), run.accepted);
}
}  // namespace

void OnStacking(CImageView& v, int id) {
  Settings& s = LiveSettings();
  auto unavailable = [&s] {
    const int mode = s.stack.stackMode;
    if (KnownMode(mode)) return false;
    ShowMessage(Format("The stacking mode %d is not one of the list.", mode));
    return true;
  };
  bool refused = false;
  const bool run = v.PrepareOperation(id, [&] {
    if ((refused = unavailable())) return false;
    const auto [page, row] = ModePage(s.stack.stackMode);
    return page == 0 || Dialog2(s).RunPage(page, row, 0) == DialogResult::Ok;
  });
  if (!run || refused || unavailable()) return;
  const std::optional<std::vector<std::string>> files = PickFiles(kStackFilter);
  if (!files) return;

  const int mode = s.stack.stackMode;
  StackScratch scratch;
  StackRun state;
  WindowBefore before(v);
  const bool completed = v.RunOnFloat(
      [&](fpbuffer& layer) {
        const int64_t start = v.startClock;
        const CSpaceCode remembered = layer.code;
        CSpaceCode runCode = remembered;
        if (mode == kStackExtendedDynamicRange) {
          const CSpaceCode hdr = CSpaceCode(s.stack.hdrColorSpace);
          runCode =
              (FindColourSpace(hdr) ? hdr : cspace::kYCbCr) | (remembered & cspace::kVisibleBits);
          layer.convert(runCode);
        }
        if (mode == kStackPyramidFusion) {
          // The weights read colours in RGB: every file arrives in it.
          runCode = cspace::kRGB | (remembered & cspace::kVisibleBits);
          layer.convert(runCode);
        }
        fpbuffer sum;
        const StackSteps steps = mode == kStackAverage         ? AverageSteps(sum)
                                 : mode == kStackPyramidFusion ? FusionSteps(v, remembered)
                                 : ExtendedDofMode(mode)       ? ExtendedDofSteps(v, mode)
                                                         : RawSteps(v, scratch, mode, remembered);
        LoadAndCombine(v, *files, mode, runCode, steps, state);
        v.startClock = start;
      },
      false);
  if (!completed) before.Restore(v);
  if (state.skipped > 0) {
    ShowMessage(Format("These %d files were skipped because their image dimensions did not match "
                       "those of the first file loaded:\n",
                       state.skipped) +
                state.skippedList);
  }
}
