// Colour conversions and rendering a 24-megapixel float image into its display bitmap,
// in Mpixel/s, with one thread and with all of them.
#include <benchmark/benchmark.h>

#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"
#include "threads.h"

namespace {
constexpr int kW = 6000, kH = 4000;

fpbuffer& Image() {
  static fpbuffer f = [] {
    fpbuffer img(kW, kH, cspace::kDefault);
    for (int c = 0; c < 3; ++c) img.plane[c].ramp(float(c), 0.00001f);
    return img;
  }();
  return f;
}

void Rate(benchmark::State& state) {
  state.counters["Mpixel"] =
      benchmark::Counter(double(kW) * kH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
}  // namespace

static void BM_Render(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  DisplayBitmap out(kW, kH);
  Image();  // made before the clock starts
  for (auto _ : state) {
    Image().todib(out.toprow());
    benchmark::ClobberMemory();
  }
  Rate(state);
}
BENCHMARK(BM_Render)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_RoundTrip(benchmark::State& state) {
  const CSpaceCode space = CSpaceCode(state.range(0)) | 7;
  const BenchThreads threads(state, 1);
  fpbuffer f(Image());
  for (auto _ : state) {
    f.convert(space);
    f.convert(cspace::kDefault);
    benchmark::ClobberMemory();
  }
  Rate(state);
}
BENCHMARK(BM_RoundTrip)
    ->Apply([](benchmark::internal::Benchmark* b) {
      ThreadArgs(b, {cspace::kYCbCr, cspace::kLAB});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
