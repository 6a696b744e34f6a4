// Resizing an 8000 x 6000 float RGB image to 50% and to 200% with Lanczos-3, bicubic
// (Keys -0.5, Catmull-Rom) and bilinear kernels, beside ImageMagick's convert -resize and
// libvips' vips resize on the same image in the same run: ours with one thread beside each
// peer single-threaded, ours with all threads beside each peer with its default threads.
//
// Rates are input Mpixel/s. A peer's time is its command's wall time less that of the same
// command without the resampling (ImageMagick: load and discard; vips: the same resize
// with the nearest kernel), so loading and saving do not count against it. The ratio is
// the peer's time over ours: above 1 we are faster. Debian's ImageMagick policy caps an
// image at 128 Mpixel, so its 200% runs (192 Mpixel) are refused and show "failed".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "numeric/resample.h"
#include "threads.h"

namespace {
constexpr int kWidth = 8000, kHeight = 6000;
const std::filesystem::path kDir = std::filesystem::temp_directory_path() / "zep-bench-resample";

struct Kernel {
  const char* name;
  const char* magick;
  const char* vips;
};
constexpr Kernel kKernels[] = {{"lanczos3", "Lanczos", "lanczos3"},
                               {"bicubic", "Catrom", "cubic"},
                               {"bilinear", "Triangle", "linear"}};
constexpr double kScales[] = {0.5, 2.0};

// Our seconds by kernel and scale, at one thread ([0]) and at all of them ([1]).
std::map<std::string, double> ourSeconds[2];

const std::vector<matrix>& Image() {
  static const std::vector<matrix> planes = [] {
    std::vector<matrix> p;
    uint32_t seed = 99;
    for (int c = 0; c < 3; ++c) {
      matrix m(kWidth, kHeight);
      for (int j = 0; j < kHeight; ++j) {
        for (int i = 0; i < kWidth; ++i) {
          seed = seed * 1664525u + 1013904223u;
          m.z[j][i] = float(128 + 60 * std::sin(i * 0.01 * (c + 1)) * std::cos(j * 0.013) +
                            float(seed >> 24) / 8);
        }
      }
      p.push_back(std::move(m));
    }
    return p;
  }();
  return planes;
}

std::string Key(const Kernel& k, double scale) {
  return std::string(k.name) + (scale < 1 ? " 50%" : " 200%");
}

void Resize(benchmark::State& state, const Kernel& k, double scale, bool all) {
  SetParallelThreads(all ? 0 : 1);
  const std::vector<matrix>& planes = Image();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    matrix kx, ky, out;
    for (const matrix& p : planes) {
      if (k.name[0] == 'l') {
        BuildLanczosKernelForScale(kx, 3, kWidth, scale, 0, true);
        BuildLanczosKernelForScale(ky, 3, kHeight, scale, 0, true);
      } else if (k.name[1] == 'i') {
        BuildBicubicKernelForScale(kx, -0.5, kWidth, scale, 0, true);
        BuildBicubicKernelForScale(ky, -0.5, kHeight, scale, 0, true);
      } else {
        BuildBilinearKernelForScale(kx, kWidth, scale, 0, true);
        BuildBilinearKernelForScale(ky, kHeight, scale, 0, true);
      }
      ResampleSeparable(out, p, kx, ky);
      benchmark::DoNotOptimize(out.x);
    }
    ourSeconds[all][Key(k, scale)] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["Mpix/s"] = benchmark::Counter(double(kWidth) * kHeight * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
  state.counters["threads"] = ParallelThreads();
  SetParallelThreads(0);
}

double Seconds(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the image once as interleaved float RGB and converts it to each peer's own fast
// format; false when a peer is missing.
bool PreparePeerFiles(bool& haveMagick, bool& haveVips) {
  std::filesystem::create_directories(kDir);
  const std::string raw = (kDir / "in.raw").string();
  {
    std::ofstream f(raw, std::ios::binary);
    std::vector<float> row(size_t(kWidth) * 3);
    const std::vector<matrix>& p = Image();
    for (int j = kHeight - 1; j >= 0; --j) {  // top row first, as the peers read
      for (int i = 0; i < kWidth; ++i) {
        for (int c = 0; c < 3; ++c) row[size_t(i) * 3 + size_t(c)] = p[size_t(c)].z[j][i];
      }
      f.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size() * 4));
    }
  }
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  haveMagick = Seconds("/usr/bin/convert -size " + size +
                       " -depth 32 -define quantum:format=floating-point -endian LSB rgb:" + raw +
                       " " + (kDir / "in.mpc").string()) >= 0;
  haveVips = Seconds("vips rawload " + raw + " " + (kDir / "t.v").string() + " " +
                     std::to_string(kWidth) + " " + std::to_string(kHeight) + " 12") >= 0 &&
             Seconds("vips copy " + (kDir / "t.v").string() + " " + (kDir / "in.v").string() +
                     " --bands 3 --format float --interpretation rgb") >= 0;
  std::filesystem::remove(raw);
  std::filesystem::remove(kDir / "t.v");
  return haveMagick || haveVips;
}

void ComparePeers() {
  bool magick = false, vips = false;
  if (!PreparePeerFiles(magick, vips)) {
    std::printf("\nNo peer found (ImageMagick /usr/bin/convert, vips): nothing to compare.\n");
    return;
  }
  const std::string mpc = (kDir / "in.mpc").string(), v = (kDir / "in.v").string();
  const std::string outV = (kDir / "out.v").string();
  const double mpix = double(kWidth) * kHeight * 1e-6;
  std::printf("\n%-16s %-8s %10s | %-22s %10s %8s\n", "resize", "threads", "ours Mp/s", "peer",
              "Mp/s", "ratio");
  for (const Kernel& k : kKernels) {
    for (double scale : kScales) {
      const std::string key = Key(k, scale);
      if (!ourSeconds[0].count(key) || !ourSeconds[1].count(key)) continue;
      const std::string percent = scale < 1 ? "50%" : "200%";
      struct Peer {
        std::string name, command, baseline;
      };
      std::vector<Peer> peers;
      for (const char* threads : {"1", ""}) {
        const std::string single = threads[0] ? " 1 thread" : " default";
        if (magick) {
          const std::string limit = threads[0] ? " -limit thread 1" : "";
          peers.push_back({std::string("convert") + single,
                           "/usr/bin/convert " + mpc + limit + " -filter " + k.magick +
                               " -resize " + percent + " null:",
                           "/usr/bin/convert " + mpc + limit + " null:"});
        }
        if (vips) {
          const std::string env = threads[0] ? "VIPS_CONCURRENCY=1 " : "";
          const std::string base = env + "vips resize " + v + " " + outV + " " +
                                   (scale < 1 ? "0.5" : "2") + " --kernel ";
          peers.push_back({std::string("vips") + single, base + k.vips, base + "nearest"});
        }
      }
      for (const Peer& p : peers) {
        // A single-threaded peer beside our single thread, a default one beside all ours.
        const bool all = p.name.find("default") != std::string::npos;
        const double ours = ourSeconds[all][key];
        const std::string threads = all ? std::to_string(AllThreads()) : "1";
        const double t = Seconds(p.command), b = Seconds(p.baseline);
        if (t < 0 || b < 0) {
          std::printf("%-16s %-8s %10.1f | %-22s %10s\n", key.c_str(), threads.c_str(), mpix / ours,
                      p.name.c_str(), "failed");
          continue;
        }
        const double net = std::max(t - b, 1e-3);
        std::printf("%-16s %-8s %10.1f | %-22s %10.1f %8.2f\n", key.c_str(), threads.c_str(),
                    mpix / ours, p.name.c_str(), mpix / net, net / ours);
      }
    }
  }
  std::filesystem::remove_all(kDir);
}
}  // namespace

int main(int argc, char** argv) {
  for (const Kernel& k : kKernels) {
    for (double scale : kScales) {
      for (bool all : {false, true}) {
        const std::string name = "Resize/" + Key(k, scale) + (all ? "/all threads" : "/1 thread");
        benchmark::RegisterBenchmark(
            name.c_str(), [&k, scale, all](benchmark::State& s) { Resize(s, k, scale, all); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ComparePeers();
  return 0;
}
