// The Gaussian blur of a 4000 x 3000 RGB float image (three planes), sigma 1, 3, 10 and 32,
// with one thread and with all of them. bench/blur_peers.py times the peers on the same
// job and prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "numeric/matrix.h"
#include "threads.h"

namespace {
constexpr int kW = 4000, kH = 3000;

matrix* Planes() {
  static matrix planes[3];
  if (planes[0].n == 0) {
    uint32_t seed = 777;
    for (matrix& m : planes) {
      m = matrix(kW, kH);
      for (int k = 0; k < m.n; ++k) {
        seed = seed * 1664525u + 1013904223u;
        m.x[k] = float(seed >> 8) * (255.0f / float(1 << 24));
      }
    }
  }
  return planes;
}

void Sigmas(benchmark::internal::Benchmark* b) { ThreadArgs(b, {1, 3, 10, 32}); }
}  // namespace

// Blurs in place over and over: the cost does not depend on the values.
static void BM_GaussianBlur(benchmark::State& state) {
  const BenchThreads threads(state, 1);
  const float sigma = float(state.range(0));
  matrix* planes = Planes();
  for (auto _ : state) {
    for (int c = 0; c < 3; ++c) planes[c].gaussblur(sigma, sigma, nullptr);
    benchmark::ClobberMemory();
  }
  state.counters["Mpix/s"] =
      benchmark::Counter(double(kW) * kH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_GaussianBlur)->Apply(Sigmas)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
