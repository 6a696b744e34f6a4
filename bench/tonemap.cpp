// The two tone maps on one float HDR scene (6000 x 4000 by default, about 10^5 from the
// darkest to the brightest pixel), with one thread and with all of them, beside the
// pfstmo operators of the same families when pfstools is installed:
// - Tone Map 2 at its default settings (500 conjugate-gradient iterations), and the same
//   with 0 iterations, which leaves the solve out, beside pfstmo_fattal02;
// - Tone Map 1 at its default settings beside pfstmo_durand02.
// The scene goes to the peers as a PFM file; their time is the whole pipe pfsin | operator |
// pfsout (file reading and writing included, which a few runs of pfsin | pfsout alone show
// to be small beside the operators). Ratios are the peer's time over ours (above 1: we are
// faster). On a busy machine the wall times say little, so each run also gives its CPU time
// (ours the process's, the peers' that of the pipe's programs); the one-thread ratio is
// given for both.
//
//   bench_tonemap [WIDTH HEIGHT [ITERATIONS [JOB]]]
//
// JOB 1 runs Tone Map 1 alone and 2 Tone Map 2 alone (with and without the solve), each
// beside its own peer; without it both run.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// User and system seconds of this process (or of its finished children).
double CpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// A street-like HDR scene: a sky three decades above the ground, a window of sun, shadows,
// textured surfaces and fine noise, every channel a little different.
fpbuffer Scene(int w, int h) {
  fpbuffer f(w, h, cspace::kDefault);
  uint32_t seed = 11;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const double u = double(x) / w, v = double(y) / h;
      double l =
          v > 0.6 ? 3000 * (1 + v) : 5 + 40 * (0.5 + 0.5 * std::sin(u * 60) * std::cos(v * 45));
      if (std::hypot(u - 0.7, v - 0.8) < 0.05) l = 1e5;
      if (u < 0.3 && v < 0.5) l *= 0.05;
      l *= 1 + 0.04 * (double(seed >> 8) / 16777216.0 - 0.5);
      f.plane[0].z[y][x] = float(l * (1.1 + 0.1 * u));
      f.plane[1].z[y][x] = float(l);
      f.plane[2].z[y][x] = float(l * (0.8 + 0.3 * v));
    }
  }
  return f;
}

bool WritePfm(const fpbuffer& f, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fprintf(file, "PF\n%d %d\n-1.0\n", f.width, f.height);
  // Rows bottom first, as the planes hold them.
  std::vector<float> row(size_t(f.width) * 3);
  bool ok = true;
  for (int y = 0; y < f.height && ok; ++y) {
    for (int x = 0; x < f.width; ++x) {
      for (int c = 0; c < 3; ++c) row[size_t(3 * x + c)] = f.plane[c].z[y][x];
    }
    ok = std::fwrite(row.data(), sizeof(float), row.size(), file) == row.size();
  }
  return std::fclose(file) == 0 && ok;
}

bool Have(const char* program) {
  const std::string probe = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
}

// Seconds of a shell pipe, or -1 when it fails; cpu receives its programs' CPU seconds.
double TimePipe(const std::string& pipe, double& cpu) {
  const auto start = std::chrono::steady_clock::now();
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const int rc = std::system((pipe + " 2>/dev/null").c_str());
  const double s = Since(start);
  cpu = CpuSeconds(RUSAGE_CHILDREN) - before;
  return rc == 0 ? s : -1;
}
}  // namespace

int main(int argc, char** argv) {
  const int w = argc > 2 ? std::atoi(argv[1]) : 6000;
  const int h = argc > 2 ? std::atoi(argv[2]) : 4000;
  ToneMapParams p{};
  p.SetDefaults();
  const int iterations = argc > 3 ? std::atoi(argv[3]) : p.toneMap2Iterations;
  const int only = argc > 4 ? std::atoi(argv[4]) : 0;
  auto wanted = [only](int job) { return only == 0 || (only == 1) == (job == 0); };
  const fpbuffer scene = Scene(w, h);
  std::printf("scene %d x %d, Tone Map 2 with %d iterations\n", w, h, iterations);

  struct Job {
    const char* name;
    void (*run)(fpbuffer&, const ToneMapParams&, int);
  };
  const Job jobs[] = {
      {"ToneMap1",
       [](fpbuffer& f, const ToneMapParams& q, int) {
         f.tonemap1(q.toneMap1Contrast, q.toneMap1Saturation, q.toneMap1Sharpener,
                    q.toneMap1HysteresisIterations, q.toneMap1HysteresisTolerance,
                    q.toneMap1HaloIterations, q.toneMap1OutlierRadius);
       }},
      {"ToneMap2",
       [](fpbuffer& f, const ToneMapParams& q, int it) {
         f.tonemap2(it, q.toneMap2Levels, q.toneMap2Saturation, q.toneMap2Equalize != 0,
                    q.toneMap2Preset, q.toneMap2PresetC, q.toneMap2DiagonalDifferences != 0,
                    q.toneMap2Magnitudes != 0, q.toneMap2OutlierRadius);
       }},
      {"ToneMap2 without solve",
       [](fpbuffer& f, const ToneMapParams& q, int) {
         f.tonemap2(0, q.toneMap2Levels, q.toneMap2Saturation, q.toneMap2Equalize != 0,
                    q.toneMap2Preset, q.toneMap2PresetC, q.toneMap2DiagonalDifferences != 0,
                    q.toneMap2Magnitudes != 0, q.toneMap2OutlierRadius);
       }},
  };
  const int threads[2] = {1, AllThreads()};
  double ours[3][2] = {}, oursCpu[3][2] = {};
  for (int j = 0; j < 3; ++j) {
    if (!wanted(j)) continue;
    for (int t = 0; t < 2; ++t) {
      SetParallelThreads(threads[t]);
      fpbuffer f = scene;
      const auto start = std::chrono::steady_clock::now();
      const double cpu = CpuSeconds(RUSAGE_SELF);
      jobs[j].run(f, p, iterations);
      ours[j][t] = Since(start);
      oursCpu[j][t] = CpuSeconds(RUSAGE_SELF) - cpu;
      std::printf("%-24s threads %3d  %9.3f s  cpu %9.3f s\n", jobs[j].name, threads[t],
                  ours[j][t], oursCpu[j][t]);
      std::fflush(stdout);
    }
  }
  SetParallelThreads(0);

  if (!Have("pfsin") || !Have("pfstmo_fattal02") || !Have("pfstmo_durand02")) {
    std::printf("pfstools (pfsin, pfstmo_fattal02, pfstmo_durand02) not installed: no peers\n");
    return 0;
  }
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "zep-bench-tonemap";
  std::filesystem::create_directories(dir);
  const std::string in = (dir / "scene.pfm").string(), out = (dir / "out.pfm").string();
  if (!WritePfm(scene, in)) {
    std::printf("could not write %s\n", in.c_str());
    return 1;
  }
  double ioCpu = 0;
  const double io = TimePipe("pfsin " + in + " 2>/dev/null | pfsout " + out, ioCpu);
  const struct {
    const char* name;
    const char* op;
    int ours;
  } peers[] = {{"pfstmo_fattal02", "pfstmo_fattal02", 1},
               {"pfstmo_durand02", "pfstmo_durand02", 0}};
  std::printf("pfsin | pfsout alone: %.3f s  cpu %.3f s\n", io, ioCpu);
  for (const auto& peer : peers) {
    if (!wanted(peer.ours)) continue;
    double cpu = 0;
    const double s = TimePipe(
        "pfsin " + in + " 2>/dev/null | " + peer.op + " 2>/dev/null | pfsout " + out, cpu);
    std::printf("%-24s %9.3f s  cpu %9.3f s   ratio to ours: 1 thread %.3f (cpu %.3f), "
                "%d threads %.3f\n",
                peer.name, s, cpu, s / ours[peer.ours][0], cpu / oursCpu[peer.ours][0],
                threads[1], s / ours[peer.ours][1]);
  }
  std::filesystem::remove(in);
  std::filesystem::remove(out);
  std::filesystem::remove(dir);
  return 0;
}
