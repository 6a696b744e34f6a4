// Element-wise operations and reductions of a 4096 x 4096 plane, in GB/s of memory
// traffic, beside a plain memcpy of the same size so the figures can be read against the
// machine's memory bandwidth.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "numeric/matrix.h"

namespace {
constexpr int kSide = 4096;
constexpr double kPlaneBytes = double(kSide) * kSide * sizeof(float);

matrix& A() {
  static matrix a = [] {
    matrix m(kSide, kSide);
    m.ramp(0.0f, 1e-6f);
    return m;
  }();
  return a;
}
matrix& B() {
  static matrix b = [] {
    matrix m(kSide, kSide);
    m.fill(0.5f);
    return m;
  }();
  return b;
}

// planes: how many plane-sized blocks each iteration reads or writes.
void Report(benchmark::State& state, int planes) {
  state.counters["GB"] = benchmark::Counter(kPlaneBytes * planes * 1e-9,
                                            benchmark::Counter::kIsIterationInvariantRate);
}
}  // namespace

static void BM_Memcpy(benchmark::State& state) {
  std::vector<float> dst(size_t(kSide) * kSide);
  for (auto _ : state) {
    std::memcpy(dst.data(), A().x, size_t(kPlaneBytes));
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

static void BM_Add(benchmark::State& state) {
  matrix c(A());
  for (auto _ : state) {
    c.add(B());
    benchmark::ClobberMemory();
  }
  Report(state, 3);
}
BENCHMARK(BM_Add)->Unit(benchmark::kMillisecond);

static void BM_MulScalar(benchmark::State& state) {
  matrix c(A());
  for (auto _ : state) {
    c.mulscalar(1.0000001f);
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_MulScalar)->Unit(benchmark::kMillisecond);

static void BM_Axpy(benchmark::State& state) {
  matrix c(A());
  for (auto _ : state) {
    c.axpy(0.25f, B());
    benchmark::ClobberMemory();
  }
  Report(state, 3);
}
BENCHMARK(BM_Axpy)->Unit(benchmark::kMillisecond);

static void BM_Fill(benchmark::State& state) {
  matrix c(kSide, kSide);
  for (auto _ : state) {
    c.fill(3.0f);
    benchmark::ClobberMemory();
  }
  Report(state, 1);
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond);

static void BM_Assign(benchmark::State& state) {
  matrix c(kSide, kSide);
  for (auto _ : state) {
    c = A();
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_Assign)->Unit(benchmark::kMillisecond);

static void BM_Sum(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(A().sum());
  Report(state, 1);
}
BENCHMARK(BM_Sum)->Unit(benchmark::kMillisecond);

static void BM_SumSq(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(A().sumsq());
  Report(state, 1);
}
BENCHMARK(BM_SumSq)->Unit(benchmark::kMillisecond);

static void BM_Dot(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(matrix::dot(A(), B()));
  Report(state, 2);
}
BENCHMARK(BM_Dot)->Unit(benchmark::kMillisecond);

static void BM_MinMax(benchmark::State& state) {
  float lo, hi;
  for (auto _ : state) {
    A().minmax(lo, hi);
    benchmark::DoNotOptimize(lo);
    benchmark::DoNotOptimize(hi);
  }
  Report(state, 1);
}
BENCHMARK(BM_MinMax)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
