// Layer matching and gradient-domain work on a 6000 x 4000 float plane (24 Mpixel), with
// one thread and with all of them:
// - a Laplacian pyramid built and collapsed (limit 4), beside OpenCV's pyrDown/pyrUp doing
//   the same (the functions cv2.pyrDown/pyrUp bind), single-threaded and with its default
//   threads;
// - one pyramidcg iteration (limit 4, planar differences) as GB/s of the planes it works
//   on (the solution and its two target pyramids), beside a plain copy of those planes, by
//   wall time and again by the process's CPU time (the steadier on a busy machine);
// - the levels match of a pair (percentile 5, increment 2.5), beside scikit-image's
//   match_histograms (single-threaded numpy).
// Ratios are the peer's time over ours (above 1: we are faster); for the copy, the copy's
// time over the iteration's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "peerline.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kWidth = 6000, kHeight = 4000, kLimit = 4;

// Our seconds by job, at one thread ([0]) and at all of them ([1]).
std::map<std::string, double> ourSeconds[2];

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const matrix& Plane(int which) {
  static const std::vector<matrix> planes = [] {
    std::vector<matrix> p;
    uint32_t seed = 7;
    for (int c = 0; c < 2; ++c) {
      matrix m(kWidth, kHeight);
      for (int j = 0; j < kHeight; ++j) {
        for (int i = 0; i < kWidth; ++i) {
          seed = seed * 1664525u + 1013904223u;
          const float v = float(128 + 60 * std::sin(i * 0.003 * (c + 1)) * std::cos(j * 0.004) +
                                float(seed >> 24) / 16);
          // The second plane is the first through a gamma curve, as two exposures.
          m.z[j][i] = c == 0 ? v : float(255.0 * std::pow(std::max(v, 0.0f) / 255.0, 0.6));
        }
      }
      p.push_back(std::move(m));
    }
    return p;
  }();
  return planes[size_t(which)];
}

void Pyramid(benchmark::State& state, bool all) {
  SetParallelThreads(all ? 0 : 1);
  const matrix& plane = Plane(0);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    matrixarray levels;
    levels.pyramid(plane, kLimit, true);
    levels.collapse();
    benchmark::DoNotOptimize(levels[0].x);
    ourSeconds[all]["pyramid"] = Since(start);
  }
  state.counters["threads"] = ParallelThreads();
  SetParallelThreads(0);
}

int64_t Bytes(const matrixarray& a) {
  int64_t b = 0;
  for (int i = 0; i < a.n; ++i) b += int64_t(a[i].n) * 4;
  return b;
}

// One iteration: the time of 21 less that of 1, over 20; each the shorter of two runs, as
// the first call also pays for the pages of every plane it makes.
void PyramidCg(benchmark::State& state, bool all) {
  SetParallelThreads(all ? 0 : 1);
  matrixarray gauss, g1, g2;
  Plane(1).gradpyramid(gauss, g1, g2, kLimit, false);
  const int64_t bytes = int64_t(Plane(0).n) * 4 + Bytes(g1) + Bytes(g2);
  for (auto _ : state) {
    // Wall and process CPU seconds: on a busy machine the CPU figure is the steadier one.
    double t[2] = {1e30, 1e30}, c[2] = {1e30, 1e30};
    for (int run = 0; run < 3; ++run) {
      int k = 0;
      for (int iterations : {1, 21}) {
        matrix x(Plane(0));
        const Times timed = Timed([&] { x.pyramidcg(iterations, g1, g2, kLimit, false); });
        t[k] = std::min(t[k], timed.wall * 1e-3);
        c[k] = std::min(c[k], timed.cpu * 1e-3);
        ++k;
        benchmark::DoNotOptimize(x.x);
      }
    }
    ourSeconds[all]["pyramidcg"] = (t[1] - t[0]) / 20;
    ourSeconds[all]["pyramidcg cpu"] = (c[1] - c[0]) / 20;
    // The plain copy of the same planes, one block each, into planes of their own; the
    // best of three.
    std::vector<matrix> to;
    to.emplace_back(kWidth, kHeight);
    for (const matrixarray* a : {&g1, &g2})
      for (int i = 0; i < a->n; ++i) to.emplace_back((*a)[i].nx, (*a)[i].ny);
    for (matrix& m : to) m.zero();  // the pages are there before the clock starts
    std::vector<const matrix*> from{&Plane(0)};
    for (const matrixarray* a : {&g1, &g2})
      for (int i = 0; i < a->n; ++i) from.push_back(&(*a)[i]);
    const Times copy = BestTimes(
        3, [] {},
        [&] {
          for (size_t p = 0; p < from.size(); ++p) {
            const matrix& f = *from[p];
            const int64_t chunk = 1 << 16;
            ParallelBlocks((f.n + chunk - 1) / chunk, 1, [&](int64_t b0, int64_t b1) {
              for (int64_t b = b0; b < b1; ++b) {
                const int64_t e0 = b * chunk, e1 = std::min<int64_t>(f.n, e0 + chunk);
                std::memcpy(to[p].x + e0, f.x + e0, size_t(e1 - e0) * 4);
              }
            });
          }
        },
        ProcessMs);
    benchmark::DoNotOptimize(to[0].x);
    ourSeconds[all]["copy"] = copy.wall * 1e-3;
    ourSeconds[all]["copy cpu"] = copy.cpu * 1e-3;
    ourSeconds[all]["cg bytes"] = double(bytes);
  }
  state.counters["threads"] = ParallelThreads();
  SetParallelThreads(0);
}

void Levels(benchmark::State& state, bool all) {
  SetParallelThreads(all ? 0 : 1);
  for (auto _ : state) {
    matrix x(Plane(0));
    const auto start = std::chrono::steady_clock::now();
    x.matchlevels(Plane(1), 5.0f, 2.5f);
    ourSeconds[all]["levels"] = Since(start);
    benchmark::DoNotOptimize(x.x);
  }
  state.counters["threads"] = ParallelThreads();
  SetParallelThreads(0);
}

#ifdef ZEP_HAVE_OPENCV
// The same Laplacian pyramid with OpenCV: as many levels, each the reduction of the one
// before, every level but the coarsest less the expansion of the next; then collapsed.
double OpenCvPyramid(int threads) {
  cv::setNumThreads(threads);
  const matrix& plane = Plane(0);
  cv::Mat source(kHeight, kWidth, CV_32F, const_cast<float*>(plane.x));
  std::vector<int> widths, heights;
  const int count = PyramidLevelSizes(kWidth, kHeight, kLimit, widths, heights);
  const auto start = std::chrono::steady_clock::now();
  std::vector<cv::Mat> levels(static_cast<size_t>(count));
  levels[0] = source;
  for (int i = 1; i < count; ++i) cv::pyrDown(levels[size_t(i - 1)], levels[size_t(i)]);
  cv::Mat up;
  for (int i = 0; i + 1 < count; ++i) {
    cv::pyrUp(levels[size_t(i + 1)], up, levels[size_t(i)].size());
    levels[size_t(i)] = levels[size_t(i)] - up;
  }
  for (int i = count - 2; i >= 0; --i) {
    cv::pyrUp(levels[size_t(i + 1)], up, levels[size_t(i)].size());
    levels[size_t(i)] += up;
  }
  const double t = Since(start);
  cv::setNumThreads(-1);
  return t;
}
#endif

// The peer's seconds of match_histograms, or -1 when scikit-image is missing.
double SkimageMatch() {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zep-bench-stacking";
  std::filesystem::create_directories(dir);
  for (int c = 0; c < 2; ++c) {
    std::ofstream((dir / (std::to_string(c) + ".f32")).string(), std::ios::binary)
        .write(reinterpret_cast<const char*>(Plane(c).x), std::streamsize(Plane(c).n) * 4);
  }
  const std::string cmd = "/usr/bin/python3 " + std::string(ZEP_BENCH_DIR) +
                          "/stacking_peer.py match " + (dir / "0.f32").string() + " " +
                          (dir / "1.f32").string() + " " + std::to_string(Plane(0).n) +
                          " 2>/dev/null";
  double seconds = -1;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    if (pclose(p) != 0) seconds = -1;
  }
  std::filesystem::remove_all(dir);
  return seconds;
}

void Row(const char* job, int threads, double ours, const char* peer, double theirs,
         const char* unit, double scale) {
  if (ours <= 0) return;  // not run (a filter left it out)
  if (theirs < 0) {
    std::printf("%-24s %7d %10.2f | %-26s %10s\n", job, threads, scale / ours, peer, "missing");
    return;
  }
  std::printf("%-24s %7d %10.2f | %-26s %10.2f %7.2f   %s\n", job, threads, scale / ours, peer,
              scale / theirs, theirs / ours, unit);
}

void ComparePeers() {
  const double mpix = double(kWidth) * kHeight * 1e-6;
  std::printf("\n%-24s %7s %10s | %-26s %10s %7s\n", "job", "threads", "ours", "peer", "peer",
              "ratio");
  for (int all = 0; all < 2; ++all) {
    const int threads = all ? AllThreads() : 1;
#ifdef ZEP_HAVE_OPENCV
    const double cv = OpenCvPyramid(all ? -1 : 1);
#else
    const double cv = -1;
#endif
    Row("pyramid + collapse", threads, ourSeconds[all]["pyramid"],
        all ? "cv pyrDown/pyrUp default" : "cv pyrDown/pyrUp 1 thread", cv, "Mpixel/s", mpix);
    const double gb = ourSeconds[all]["cg bytes"] * 1e-9;
    Row("pyramidcg iteration", threads, ourSeconds[all]["pyramidcg"], "copy of its planes",
        ourSeconds[all]["copy"], "GB/s", gb);
    Row("pyramidcg iteration cpu", threads, ourSeconds[all]["pyramidcg cpu"], "copy of its planes cpu",
        ourSeconds[all]["copy cpu"], "GB/s", gb);
  }
  const double sk = SkimageMatch();
  for (int all = 0; all < 2; ++all) {
    Row("levels match", all ? AllThreads() : 1, ourSeconds[all]["levels"],
        "skimage match_histograms", sk, "Mpixel/s", mpix);
  }
}
}  // namespace

int main(int argc, char** argv) {
  struct Job {
    const char* name;
    void (*run)(benchmark::State&, bool);
  };
  for (const Job& job :
       {Job{"Pyramid", Pyramid}, Job{"PyramidCg", PyramidCg}, Job{"Levels", Levels}}) {
    for (bool all : {false, true}) {
      const std::string name = std::string(job.name) + (all ? "/all threads" : "/1 thread");
      benchmark::RegisterBenchmark(name.c_str(),
                                   [run = job.run, all](benchmark::State& s) { run(s, all); })
          ->Iterations(1)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ComparePeers();
  return 0;
}
