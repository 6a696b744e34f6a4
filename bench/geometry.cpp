// Rotation by 30 degrees of a 6000 x 4000 RGB float image (0 and 3 back-projection passes)
// beside OpenCV's warpAffine with Lanczos-4 (8 x 8 taps against our 6 x 6 table) on the
// same three planes, when OpenCV is present; and the flips, the quarter turn and a roll
// beside memcpy of the same planes. Each runs with one thread and with all of them
// (OpenCV with as many). libvips's similarity is timed by geometry_peers.sh.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/warp.h"
#include "platform/progress.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kWidth = 6000, kHeight = 4000;

const fpbuffer& Image() {
  static const fpbuffer image = [] {
    fpbuffer f(kWidth, kHeight, 0x17);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          f.plane[c].z[y][x] =
              128.0f + 60.0f * std::sin(0.013f * x + c) * std::cos(0.011f * y - c) + 0.002f * x;
    return f;
  }();
  return image;
}

void Pixels(benchmark::State& state) {
  state.counters["Mpix/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void Iterations(benchmark::internal::Benchmark* b) { ThreadArgs(b, {0, 3}); }
}  // namespace

static void BM_Rotate30(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  fpbuffer work;
  for (auto _ : state) {
    state.PauseTiming();
    work = Image();
    StartProgress(1e9f);
    state.ResumeTiming();
    work.rotate(30, 0, 0, false, int(state.range(0)));
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_Rotate30)->Apply(Iterations)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ZEP_HAVE_OPENCV
// Three float planes, each warped by warpAffine: the same work as ours with 0 passes.
static void BM_OpenCVWarpAffineLanczos4(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  cv::setNumThreads(int(state.range(0)));
  const cv::Mat m =
      cv::getRotationMatrix2D(cv::Point2f((kWidth - 1) * 0.5f, (kHeight - 1) * 0.5f), 30, 1.0);
  std::vector<cv::Mat> out(3);
  for (auto _ : state) {
    for (int c = 0; c < 3; ++c) {
      const cv::Mat src(kHeight, kWidth, CV_32F, const_cast<float*>(Image().plane[c].x));
      cv::warpAffine(src, out[size_t(c)], m, src.size(), cv::INTER_LANCZOS4,
                     cv::BORDER_REFLECT_101);
    }
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_OpenCVWarpAffineLanczos4)
    ->Apply(OneAndAllThreads)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

// --- Whole-pixel geometry ---

// Both sides write pages already in use: the copy its destination from the untimed first
// copy, the geometry commands that make new planes (turn, roll) blocks the plane allocator
// kept from the untimed first call. A first call into fresh memory costs either of them the
// kernel's clearing of the pages (most of a second for these 288 MB on the benchmark machine),
// once; timed, that single call also set the iteration count of the whole run.
static void BM_Memcpy(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  std::vector<float> out(size_t(kWidth) * kHeight * 3);
  const auto copy = [&out] {
    for (int c = 0; c < 3; ++c) {
      std::memcpy(out.data() + size_t(c) * kWidth * kHeight, Image().plane[c].x,
                  sizeof(float) * size_t(kWidth) * kHeight);
    }
  };
  copy();
  for (auto _ : state) {
    copy();
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_Memcpy)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

namespace {
template <class F>
void WholePixel(benchmark::State& state, F f, bool masked = false) {
  const BenchThreads threads(state, 0);
  fpbuffer work(Image());
  if (masked) {
    work.clearmask();
    for (int k = 0; k < work.n; k += 3) work.mask.setbit(k, true);
  }
  f(work);
  for (auto _ : state) {
    f(work);
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
}  // namespace

static void BM_VerticalFlip(benchmark::State& state) {
  WholePixel(state, [](fpbuffer& f) { f.vflip(); });
}
BENCHMARK(BM_VerticalFlip)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_HorizontalFlip(benchmark::State& state) {
  WholePixel(state, [](fpbuffer& f) { f.hflip(); });
}
BENCHMARK(BM_HorizontalFlip)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Rotate90(benchmark::State& state) {
  WholePixel(state, [](fpbuffer& f) { f.rotate90(); });
}
BENCHMARK(BM_Rotate90)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same with an image mask, which turns with the pixels.
static void BM_Rotate90Masked(benchmark::State& state) {
  WholePixel(
      state, [](fpbuffer& f) { f.rotate90(); }, true);
}
BENCHMARK(BM_Rotate90Masked)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Roll(benchmark::State& state) {
  WholePixel(state, [](fpbuffer& f) { f.roll(10, -10); });
}
BENCHMARK(BM_Roll)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
