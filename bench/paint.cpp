// Composing the fitted picture of a 24-megapixel image into a 1920 x 1080 client with each
// scaling code of the fitted display, in frames per second, with one thread and with all
// of them. Panning and resizing repaint this way.
#include <benchmark/benchmark.h>

#include "app/imageview.h"
#include "params/settings.h"
#include "threads.h"

namespace {
constexpr int kW = 6000, kH = 4000;

CImageView& View() {
  static CImageView* view = [] {
    auto* v = new CImageView;
    v->currentBitmap() = DisplayBitmap(kW, kH);
    DisplayBitmap& b = v->currentBitmap();
    for (int j = 0; j < kH; ++j) {
      uint8_t* row = b.row(j);
      for (int i = 0; i < 3 * kW; ++i) row[i] = uint8_t((i * 7 + j * 3) ^ (i >> 4));
    }
    v->fitToWindow = true;
    return v;
  }();
  return *view;
}
}  // namespace

static void BM_FittedPaint(benchmark::State& state) {
  LiveSettings().SetDefaults();
  LiveSettings().view.fitInterpolationMethod = int(state.range(0));
  const BenchThreads threads(state, 1);
  CImageView& v = View();
  for (auto _ : state) {
    benchmark::DoNotOptimize(v.Paint(1920, 1080).data());
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FittedPaint)
    ->Apply([](benchmark::internal::Benchmark* b) {
      ThreadArgs(b, {0, 1, 2, 3, 4, 5, 6});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

static void BM_OneToOnePaint(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  CImageView& v = View();
  v.fitToWindow = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v.Paint(1920, 1080).data());
    benchmark::ClobberMemory();
  }
  v.fitToWindow = true;
  state.counters["fps"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_OneToOnePaint)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
