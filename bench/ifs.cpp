// Fractal IFS coding and decoding of 256 x 256 and 512 x 512 crops of a photograph (the
// astronaut of scikit-image's data when it is installed, else the benchmarks' synthetic
// picture), with one thread and with all of them; the speed-up is printed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "fileio/png.h"
#include "image/fpbuffer.h"
#include "ops/resize/ifs.h"
#include "params/blocks.h"
#include "picture.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
const fpbuffer& Photo() {
  static const fpbuffer image = [] {
    fpbuffer f;
#ifdef ZEP_SKIMAGE_DATA
    ImageFileInfo info;
    LoadPng(f, std::string(ZEP_SKIMAGE_DATA) + "/astronaut.png", info);
    if (info.message || f.width < 512 || f.height < 512) f.clear();
#endif
    const bool photo = !f.empty();
    if (!photo) f = SmoothNoisyPicture(512, 512);
    std::printf("picture: %s\n", photo ? "astronaut" : "synthetic");
    return f;
  }();
  return image;
}

fpbuffer Crop(int side) {
  fpbuffer f = Photo();
  f.crop((f.width - side) / 2, (f.height - side) / 2, side, side);
  return f;
}

IfsPlaneSet Planes() {
  IfsParams p;
  p.Reset();
  return IfsPlanesOf(p);
}

std::map<std::string, std::map<int, double>> best;

void Record(benchmark::State& state, const std::string& job, int threads, double ms) {
  double& b = best[job][threads];
  b = b == 0 ? ms : std::min(b, ms);
  state.counters["ms"] = ms;
}

void Coding(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  const fpbuffer image = Crop(side);
  SetParallelThreads(threads);
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    ifscodec codec;
    fpbuffer ycc(image);
    ycc.convert(ifscodec::kYCbCrCode);
    codec.setup(Planes(), ifscodec::kYCbCrCode).encode(ycc.plane[0], ycc.plane[1], ycc.plane[2], 0);
    const auto t1 = std::chrono::steady_clock::now();
    Record(state, "coding " + std::to_string(side), threads,
           std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  SetParallelThreads(0);
}

void Decoding(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  const fpbuffer image = Crop(side);
  ifscodec codec;
  fpbuffer ycc(image);
  ycc.convert(ifscodec::kYCbCrCode);
  codec.setup(Planes(), ifscodec::kYCbCrCode).encode(ycc.plane[0], ycc.plane[1], ycc.plane[2], 0);
  SetParallelThreads(threads);
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    fpbuffer out;
    IfsDecodeImage(out, codec, IfsDecoding{2, 10, {0, 0, 0, 0}, false});
    const auto t1 = std::chrono::steady_clock::now();
    Record(state, "decoding x2 " + std::to_string(side), threads,
           std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  SetParallelThreads(0);
}

void Sides(benchmark::internal::Benchmark* b) { ThreadArgs(b, {256, 512}); }
}  // namespace

BENCHMARK(Coding)->Apply(Sides)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Decoding)->Apply(Sides)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const int all = AllThreads();
  std::printf("\n%-22s %12s %12s %9s (%d threads)\n", "job", "1 thread ms", "all ms", "speed-up",
              all);
  for (const auto& [job, byThreads] : best) {
    if (!byThreads.count(1) || !byThreads.count(all)) continue;
    const double one = byThreads.at(1), many = byThreads.at(all);
    std::printf("%-22s %12.1f %12.1f %9.2f\n", job.c_str(), one, many, one / many);
  }
  benchmark::Shutdown();
  return 0;
}
