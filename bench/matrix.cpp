// Element-wise operations and reductions of a 4096 x 4096 plane, in GB/s of memory
// traffic, beside a plain memcpy of the same size so the figures can be read against the
// machine's memory bandwidth. Each runs with one thread and with all of them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "numeric/matrix.h"
#include "threads.h"

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
  const BenchThreads threads(state, 0);
  std::vector<float> dst(size_t(kSide) * kSide);
  for (auto _ : state) {
    std::memcpy(dst.data(), A().x, size_t(kPlaneBytes));
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_Memcpy)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Add(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix c(A());
  for (auto _ : state) {
    c.add(B());
    benchmark::ClobberMemory();
  }
  Report(state, 3);
}
BENCHMARK(BM_Add)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_MulScalar(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix c(A());
  for (auto _ : state) {
    c.mulscalar(1.0000001f);
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_MulScalar)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Axpy(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix c(A());
  for (auto _ : state) {
    c.axpy(0.25f, B());
    benchmark::ClobberMemory();
  }
  Report(state, 3);
}
BENCHMARK(BM_Axpy)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Fill(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix c(kSide, kSide);
  for (auto _ : state) {
    c.fill(3.0f);
    benchmark::ClobberMemory();
  }
  Report(state, 1);
}
BENCHMARK(BM_Fill)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Assign(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  matrix c(kSide, kSide);
  for (auto _ : state) {
    c = A();
    benchmark::ClobberMemory();
  }
  Report(state, 2);
}
BENCHMARK(BM_Assign)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Sum(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  for (auto _ : state) benchmark::DoNotOptimize(A().sum());
  Report(state, 1);
}
BENCHMARK(BM_Sum)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_SumSq(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  for (auto _ : state) benchmark::DoNotOptimize(A().sumsq());
  Report(state, 1);
}
BENCHMARK(BM_SumSq)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_Dot(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  for (auto _ : state) benchmark::DoNotOptimize(matrix::dot(A(), B()));
  Report(state, 2);
}
BENCHMARK(BM_Dot)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_MinMax(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  float lo, hi;
  for (auto _ : state) {
    A().minmax(lo, hi);
    benchmark::DoNotOptimize(lo);
    benchmark::DoNotOptimize(hi);
  }
  Report(state, 1);
}
BENCHMARK(BM_MinMax)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
