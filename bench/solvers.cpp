// The restoration operators on a 4000 x 3000 plane: the Gaussian blur (sigma 1.5) and its
// transpose beside OpenCV's sepFilter2D with the same taps and the same whole-sample
// reflection, the Lanczos-3 decimation by 2 and its transpose, and one CGLS iteration with
// the default degradation (disc of radius 2) and the four default slopes. Each runs with one
// thread and with all of them. Where OpenCV is present, each iteration of the Gaussian rows
// also times sepFilter2D on the same plane, and "ratio" is our time over OpenCV's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

#include "noise.h"
#include "numeric/cvector.h"
#include "ops/filters/degradation.h"
#include "ops/filters/regularizers.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kWidth = 4000, kHeight = 3000;

const matrix& Image() {
  static const matrix image = NoisePlane(kWidth, kHeight);
  return image;
}

void Pixels(benchmark::State& state) {
  state.counters["Mpix/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Times op on every iteration and, with OpenCV, sepFilter2D with the Gaussian's taps right
// after it, so that both see the same load.
template <class Op>
void BesideSepFilter(benchmark::State& state, Op op) {
  const BenchThreads threads(state, 0);
  SetGaussianSigmas(1.5f, 1.5f);
#ifdef ZEP_HAVE_OPENCV
  cv::setNumThreads(int(state.range(0)));
  const matrix k = GaussianPsfKernel(1.5f);
  cv::Mat src(kHeight, kWidth, CV_32F, const_cast<float*>(Image().x));
  cv::Mat ker(1, k.n, CV_32F, const_cast<float*>(k.x));
  cv::Mat dst(kHeight, kWidth, CV_32F);
#endif
  matrix out(kWidth, kHeight);
  double ours = 0, peer = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    op(out, Image());
    const auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(Seconds(t0, t1));
    ours += Seconds(t0, t1);
#ifdef ZEP_HAVE_OPENCV
    cv::sepFilter2D(src, dst, CV_32F, ker, ker, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
    peer += Seconds(t1, std::chrono::steady_clock::now());
#endif
    benchmark::ClobberMemory();
  }
  Pixels(state);
  if (peer > 0) {
    state.counters["opencv_ms"] = 1e3 * peer / double(state.iterations());
    state.counters["ratio"] = ours / peer;
  }
}
}  // namespace

static void BM_PsfGaussian(benchmark::State& state) { BesideSepFilter(state, PsfGaussian); }
BENCHMARK(BM_PsfGaussian)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseManualTime();

static void BM_PsfGaussianAdj(benchmark::State& state) { BesideSepFilter(state, PsfGaussianAdj); }
BENCHMARK(BM_PsfGaussianAdj)
    ->Apply(OneAndAllThreads)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

static void BM_PsfLanczos3Decimate(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix out(kWidth / 2, kHeight / 2);
  for (auto _ : state) {
    PsfLanczos3Decimate(out, Image());
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_PsfLanczos3Decimate)
    ->Apply(OneAndAllThreads)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

static void BM_PsfLanczos3DecimateAdj(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix small(kWidth / 2, kHeight / 2), out(kWidth, kHeight);
  PsfLanczos3Decimate(small, Image());
  for (auto _ : state) {
    PsfLanczos3DecimateAdj(out, small);
    benchmark::ClobberMemory();
  }
  Pixels(state);
}
BENCHMARK(BM_PsfLanczos3DecimateAdj)
    ->Apply(OneAndAllThreads)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A solve of one iteration beside one of 31: the difference is thirty iterations, the
// manual time one of them; "first_ms" is the whole solve of one iteration (the initial
// gradient and the work planes included).
static void BM_CglsIteration(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  SetDiscRadius(2);
  CurrentRegularizerWeights() = RegularizerWeights();
  LinearOpList forwards, adjoints;
  AppendDifferenceRegularizers(forwards, adjoints);
  matrix x(kWidth, kHeight);
  intmaps sizes;
  Image();
  double first = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    x.cgls(Image(), PsfLensBlurAdj, PsfLensBlur, adjoints, forwards, sizes, 1, 0.0f, 0);
    const auto t1 = std::chrono::steady_clock::now();
    x.cgls(Image(), PsfLensBlurAdj, PsfLensBlur, adjoints, forwards, sizes, 31, 0.0f, 0);
    const auto t2 = std::chrono::steady_clock::now();
    state.SetIterationTime((Seconds(t1, t2) - Seconds(t0, t1)) / 30);
    first += Seconds(t0, t1);
    benchmark::ClobberMemory();
  }
  Pixels(state);
  state.counters["first_ms"] = 1e3 * first / double(state.iterations());
}
BENCHMARK(BM_CglsIteration)
    ->Apply(OneAndAllThreads)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

BENCHMARK_MAIN();
