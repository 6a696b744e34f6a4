// Saving a 3000 x 2000 8-bit PNG at zlib level 9 (the resize road's output), with one
// thread and with all of them, beside libpng writing the same rows in one stream with its
// adaptive filtering. The counter "bytes" is the file's size.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "fileio/png.h"
#include "threads.h"

namespace {
constexpr int kW = 3000, kH = 2000, kLevel = 9;
const std::filesystem::path kFile = std::filesystem::temp_directory_path() / "zep-bench.png";

// Smooth colour with fine noise, like a photograph reduced.
float Sample(int c, int x, int y) {
  const uint32_t h = uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c) * 977u;
  const double v =
      128 +
      90 * std::sin(0.004 * x * (c + 1) + 0.003 * y) * std::cos(0.002 * y * (3 - c) + 0.001 * x) +
      8 * (double(h % 1000u) / 1000.0 - 0.5);
  return float(std::lround(v));
}

const fpbuffer& Image() {
  static const fpbuffer f = [] {
    fpbuffer img(kW, kH, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) img.plane[c].z[y][x] = Sample(c, x, y);
      }
    }
    return img;
  }();
  return f;
}

void Report(benchmark::State& state) {
  state.counters["Mpix/s"] =
      benchmark::Counter(double(kW) * kH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = double(std::filesystem::file_size(kFile));
}

// libpng's part of writing, apart so that its longjmp on an error skips no object.
bool LibpngEncode(png_structp png, png_infop info, std::FILE* f, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, kLevel);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

bool LibpngWrite(std::vector<png_bytep>& rows) {
  std::FILE* f = std::fopen(kFile.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const bool ok = LibpngEncode(png, info, f, rows.data());
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}
}  // namespace

static void BM_SavePng(benchmark::State& state) {
  const BenchThreads threads(state, 0);
  Image();
  for (auto _ : state) {
    if (WritePng(Image(), kFile.string(), 8, kLevel)) state.SkipWithError("not written");
  }
  Report(state);
}
BENCHMARK(BM_SavePng)->Apply(OneAndAllThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_LibpngSave(benchmark::State& state) {
  std::vector<png_byte> pixels(size_t(kW) * kH * 3);
  std::vector<png_bytep> rows(kH);
  for (int y = 0; y < kH; ++y) {
    rows[size_t(y)] = pixels.data() + size_t(y) * kW * 3;
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) {
        rows[size_t(y)][3 * x + c] = png_byte(Image().plane[c].z[kH - 1 - y][x]);
      }
    }
  }
  for (auto _ : state) {
    if (!LibpngWrite(rows)) state.SkipWithError("not written");
  }
  Report(state);
}
BENCHMARK(BM_LibpngSave)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
