// The point operations on a 6000 x 4000 RGB float image beside memcpy of the same bytes,
// with one thread and with all of them. Each reports "vs_memcpy", its time over that of
// copying the image's three planes on the same thread count.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>

#include "image/fpbuffer.h"
#include "numeric/dmatrix.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
constexpr int kW = 6000, kH = 4000;

fpbuffer& Image() {
  static fpbuffer f = [] {
    fpbuffer img(kW, kH, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < img.n; ++k) img.plane[c].x[k] = float((k * 7 + c * 13) % 251) + 2.0f;
    }
    return img;
  }();
  return f;
}

// Copies the three planes, the blocks of each on the parallel helper.
void CopyPlanes(const fpbuffer& from, fpbuffer& to) {
  for (int c = 0; c < 3; ++c) {
    const float* s = from.plane[c].x;
    float* d = to.plane[c].x;
    ParallelBlocks(from.n, BlockFor(1), [&](int64_t b, int64_t e) {
      std::memcpy(d + b, s + b, sizeof(float) * size_t(e - b));
    });
  }
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Seconds of one copy of the image on the current thread count, the best of five.
double MemcpySeconds() {
  static std::map<int, double> best;
  const int threads = ParallelThreads();
  if (best.count(threads)) return best[threads];
  fpbuffer to(Image());
  double t = 1e30;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    CopyPlanes(Image(), to);
    t = std::min(t, Seconds(start));
  }
  return best[threads] = t;
}

// Times op(image, iteration) on a copy of the picture and reports its rate and its ratio to
// memcpy.
template <class Op>
void Run(benchmark::State& state, Op op) {
  const BenchThreads threads(state, 0);
  const double copy = MemcpySeconds();
  fpbuffer image(Image());
  double total = 0;
  int64_t i = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    op(image, i++);
    benchmark::ClobberMemory();
    const double t = Seconds(start);
    state.SetIterationTime(t);
    total += t;
  }
  state.counters["Mpixel"] =
      benchmark::Counter(double(kW) * kH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["vs_memcpy"] = total / double(state.iterations()) / copy;
}
}  // namespace

#define POINT_BENCH(name) \
  BENCHMARK(name)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseManualTime()

static void BM_Memcpy(benchmark::State& state) {
  fpbuffer to(Image());
  Run(state, [&](fpbuffer&, int64_t) { CopyPlanes(Image(), to); });
}
POINT_BENCH(BM_Memcpy);

// Forward and back in turn, so that the values stay where they started.
static void BM_AddConstant(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t i) { f.addconstant(i % 2 ? -0.1f : 0.1f, nullptr, false); });
}
POINT_BENCH(BM_AddConstant);

static void BM_Multiply(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t i) { f.multiply(i % 2 ? 0.5f : 2.0f, nullptr, false); });
}
POINT_BENCH(BM_Multiply);

static void BM_Negative(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t) { f.negative(nullptr, false); });
}
POINT_BENCH(BM_Negative);

static void BM_SetImageToColor(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t) { f.fillcolor({10, 20, 30, 0}, nullptr, false); });
}
POINT_BENCH(BM_SetImageToColor);

static void BM_Gamma(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t i) { f.gamma(i % 2 ? 0.5 : 2.0, nullptr, false); });
}
POINT_BENCH(BM_Gamma);

// Gamma as the command runs it: copies of the channels it changes first, so that a cancel
// can put them back (the window then keeps no copy of its own).
static void BM_GammaGuarded(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t i) { f.gammaguarded(i % 2 ? 0.5 : 2.0, nullptr, false); });
}
POINT_BENCH(BM_GammaGuarded);

static void BM_HistogramEqualization(benchmark::State& state) {
  Run(state, [](fpbuffer& f, int64_t) { f.equalize(false); });
}
POINT_BENCH(BM_HistogramEqualization);

// A 601-sample table of x^2 and its inverse in turn.
static void BM_ApplyCurve(benchmark::State& state) {
  static const dmatrix square = [] {
    dmatrix t(601, 1);
    for (int i = 0; i < t.n; ++i) t.x[i] = (i / 600.0) * (i / 600.0);
    return t;
  }();
  static const dmatrix root = dmatrix().inverse(square);
  Run(state, [](fpbuffer& f, int64_t i) {
    f.applycurve(i % 2 ? root : square, nullptr, false, false, 1);
  });
}
POINT_BENCH(BM_ApplyCurve);

BENCHMARK_MAIN();
