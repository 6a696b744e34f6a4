// Correlation of a 4096 x 4096 plane with 5 x 5 and 21 x 21 kernels, and the plane sort of
// the same plane, beside OpenCV's filter2D (the same whole-sample reflection at the
// borders) and std::sort of the same data when OpenCV is present. The "maxdiff" counter
// is the largest difference between our correlation and OpenCV's. Each runs with one
// thread and with all of them (OpenCV with as many).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "noise.h"
#include "numeric/matrix.h"
#include "numeric/sort.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kSide = 4096;

const matrix& Image() {
  static const matrix image = NoisePlane(kSide, kSide);
  return image;
}

matrix Kernel(int side) {
  matrix k(side, side);
  double sum = 0;
  for (int j = 0; j < side; ++j) {
    for (int i = 0; i < side; ++i) {
      const double dx = i - side / 2, dy = j - side / 2;
      k.z[j][i] = float(std::exp(-(dx * dx + dy * dy) / (side * 0.5)) * (1 + 0.1 * i));
      sum += k.z[j][i];
    }
  }
  return k.mulscalar(float(1 / sum));
}

matrix Kernel1D(int taps) {
  matrix k(taps, 1);
  for (int i = 0; i < taps; ++i) k.x[i] = float(std::exp(-std::pow(i - taps / 2, 2) / taps));
  return k.mulscalar(float(1 / k.sum()));
}

void FiveAnd21(benchmark::internal::Benchmark* b) { ThreadArgs(b, {5, 21}); }

// OpenCV's own pool follows the same count.
void PeerThreads(const benchmark::State& state) {
#ifdef ZEP_HAVE_OPENCV
  cv::setNumThreads(int(state.range(1)));
#else
  (void)state;
#endif
}

void Pixels(benchmark::State& state) {
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
}  // namespace

static void BM_Correlate(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  const matrix k = Kernel(int(state.range(0)));
  matrix out(kSide, kSide);
  for (auto _ : state) {
    out.correlate(k, Image());
    benchmark::ClobberMemory();
  }
  Pixels(state);
#ifdef ZEP_HAVE_OPENCV
  cv::Mat src(kSide, kSide, CV_32F, const_cast<float*>(Image().x));
  cv::Mat ker(k.ny, k.nx, CV_32F, const_cast<float*>(k.x));
  cv::Mat dst;
  cv::filter2D(src, dst, CV_32F, ker, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
  double diff = 0;
  for (int j = 0; j < kSide; ++j) {
    const float* row = dst.ptr<float>(j);
    for (int i = 0; i < kSide; ++i) diff = std::max(diff, double(std::fabs(row[i] - out.z[j][i])));
  }
  state.counters["maxdiff"] = diff;
#endif
}
BENCHMARK(BM_Correlate)->Apply(FiveAnd21)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_CorrelateSeparable(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  const matrix k = Kernel1D(int(state.range(0)));
  matrix out(kSide, kSide);
  for (auto _ : state) {
    out.correlatexy(k, k, Image());
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_CorrelateSeparable)->Apply(FiveAnd21)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef ZEP_HAVE_OPENCV
static void BM_OpenCVFilter2D(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  const matrix k = Kernel(int(state.range(0)));
  PeerThreads(state);
  cv::Mat src(kSide, kSide, CV_32F, const_cast<float*>(Image().x));
  cv::Mat ker(k.ny, k.nx, CV_32F, const_cast<float*>(k.x));
  cv::Mat dst(kSide, kSide, CV_32F);
  for (auto _ : state) {
    cv::filter2D(src, dst, CV_32F, ker, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_OpenCVFilter2D)->Apply(FiveAnd21)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_OpenCVSepFilter2D(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  const matrix k = Kernel1D(int(state.range(0)));
  PeerThreads(state);
  cv::Mat src(kSide, kSide, CV_32F, const_cast<float*>(Image().x));
  cv::Mat ker(1, k.n, CV_32F, const_cast<float*>(k.x));
  cv::Mat dst(kSide, kSide, CV_32F);
  for (auto _ : state) {
    cv::sepFilter2D(src, dst, CV_32F, ker, ker, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_OpenCVSepFilter2D)->Apply(FiveAnd21)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

static void BM_SortPlane(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix work(kSide, kSide);
  for (auto _ : state) {
    state.PauseTiming();
    work.copydata(Image());
    state.ResumeTiming();
    work.sort();
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_SortPlane)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_StdSort(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  std::vector<float> work(size_t(kSide) * kSide);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.data(), Image().x, work.size() * sizeof(float));
    state.ResumeTiming();
    std::sort(work.begin(), work.end());
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_StdSort)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
