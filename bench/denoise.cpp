// Fast Noise Removal and Fast Bilateral Approximation (radius 20) on an RGB picture with
// Gaussian noise of sigma 10 and 20, with one thread and with all of them. Each method's
// strength is chosen on a small grid as the one of best PSNR on a 400 x 300 crop, then the
// whole picture is timed at it. Fast Noise Removal thresholds by a profile of five levels
// measured on a flat grey picture with the same noise (what a user measures over a flat
// area), its factors scaled on the grid. With "--npy DIR" the clean and noisy pictures are
// written there as .npy files (height x width x 3) for bench/denoise_peers.py; with
// "--only TEXT" only the methods whose name holds TEXT run. Times are the best of three runs.
//   bench_denoise [WIDTHxHEIGHT] [--npy DIR] [--only TEXT]   (default 4000x3000)
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "peerline.h"
#include "files.h"
#include "image/fpbuffer.h"
#include "image/noiseprofile.h"
#include "noise.h"
#include "numeric/matrixarray.h"
#include "platform/parallel.h"
#include "threads.h"

namespace {
constexpr int kLevels = 5;

// The profile measured over the interior of a flat picture with the noise, as Create Noise
// Profile measures a dragged square.
NoiseProfile Profile(float sigma) {
  fpbuffer flat(300, 300, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < flat.n; ++k) flat.plane[c].x[k] = 128.0f;
  }
  flat = NoisyPicture(flat, sigma);
  NoiseProfile p;
  p.levels = kLevels;
  p.code = flat.code;
  matrixarray details;
  matrix factors;
  for (int c = 0; c < 3; ++c) {
    details.atrous(flat.plane[c], kLevels);
    factors.noiseprofile(details, 100, 100, 101, 101);
    for (int i = 0; i < kLevels; ++i) p.factors[c][i] = factors.x[i];
  }
  return p;
}

struct Method {
  const char* name;
  std::vector<float> grid;
  std::function<void(fpbuffer&, float)> run;
};

}  // namespace

int main(int argc, char** argv) {
  int w = 4000, h = 3000;
  const char* npy = nullptr;
  std::string_view only;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a(argv[i]);
    if (a == "--npy" && i + 1 < argc) {
      npy = argv[++i];
    } else if (a == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (!a.empty() && a[0] != '-' &&
               (std::sscanf(argv[i], "%dx%d", &w, &h) != 2 || w < 400 || h < 300)) {
      std::fprintf(stderr, "usage: bench_denoise [WIDTHxHEIGHT] [--npy DIR] [--only TEXT], at least "
                           "400x300\n");
      return 2;
    }
  }
  const int all = AllThreads();
  const fpbuffer clean = CleanPicture(w, h);
  const fpbuffer tuneClean = CropPicture(clean, 400, 300);
  if (npy) WriteNpy(clean, std::string(npy) + "/clean.npy");
  for (float sigma : {10.0f, 20.0f}) {
    const fpbuffer noisy = NoisyPicture(clean, sigma);
    if (npy) WriteNpy(noisy, std::string(npy) + "/noisy-" + std::to_string(int(sigma)) + ".npy");
    const fpbuffer tuneNoisy = CropPicture(noisy, 400, 300);
    const NoiseProfile measured = Profile(sigma);
    const std::vector<Method> methods = {
        {"Fast Noise Removal",
         {0.5f, 0.75f, 1.0f, 1.5f, 2.0f, 3.0f},
         [&measured](fpbuffer& f, float scale) {
           NoiseProfile p = measured;
           for (auto& channel : p.factors) {
             for (float& factor : channel) factor *= scale;
           }
           f.fastnoiseremoval(p);
         }},
        {"Fast Bilateral r 20",
         {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 6.0f},
         [sigma](fpbuffer& f, float scale) {
           f.fastbilateral(scale * sigma, 20, 1, false, false, nullptr);
         }},
        {"Fast Bilateral r 20 comb.",
         {0.5f, 1.0f, 2.0f, 3.0f, 4.0f, 6.0f},
         [sigma](fpbuffer& f, float scale) {
           f.fastbilateral(scale * sigma, 20, 1, true, false, nullptr);
         }},
    };
    std::printf("%dx%d sigma %.0f: noisy PSNR %.2f dB\n", w, h, double(sigma),
                PicturePsnr(noisy, clean));
    for (const Method& m : methods) {
      if (std::string_view(m.name).find(only) == std::string_view::npos) continue;
      float best = m.grid.front();
      double bestPsnr = -1.0;
      for (float g : m.grid) {
        fpbuffer f(tuneNoisy);
        m.run(f, g);
        const double p = PicturePsnr(f, tuneClean);
        if (p > bestPsnr) bestPsnr = p, best = g;
      }
      for (int threads : {1, all}) {
        SetParallelThreads(threads);
        fpbuffer f;
        Times best3{};
        for (int run = 0; run < 3; ++run) {
          f = noisy;
          const Times t = Timed([&] { m.run(f, best); });
          best3 = run == 0 ? t : Times{std::min(best3.wall, t.wall), std::min(best3.cpu, t.cpu)};
        }
        std::printf("sigma %2.0f threads %2d  %-26s x%-5g %10.1f ms (CPU %10.1f)  PSNR %.2f dB\n",
                    double(sigma), threads, m.name, double(best), best3.wall, best3.cpu,
                    PicturePsnr(f, clean));
        std::fflush(stdout);
      }
      SetParallelThreads(0);
    }
  }
  return 0;
}
