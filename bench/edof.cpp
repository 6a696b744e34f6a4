// Focus stacking of a synthetic focus series: the slices of a textured scene, each sharp
// in one vertical band and blurred the more the farther the band from its focus. The three
// focus modes ("Extended DOF" with every level at "Infinity", "Extended DOF 2",
// "Extended DOF 3") with one thread and all of them, beside enfuse's hard-mask contrast
// stacking (--exposure-weight=0 --saturation-weight=0 --contrast-weight=1 --hard-mask,
// 16-bit TIFF in and out) when it is installed: the time and the PSNR to the all-in-focus
// scene, with the best slice's and the plain average's for scale. Our time covers the
// load loop's steps on images in memory; enfuse's includes reading and writing its files.
// ImageMagick's convert strips the alpha channel enfuse writes, untimed.
//
//   bench_edof [SLICES WIDTH HEIGHT]...   (default: 5 of 3000 x 2000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/imageview.h"
#include "fileio/tiff.h"
#include "image/fpbuffer.h"
#include "ops/stacking/edof.h"
#include "params/settings.h"
#include "peerline.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/programdir.h"

namespace fs = std::filesystem;

namespace {
struct Job {
  int slices, width, height;
};

float Texture(int c, int x, int y) {
  const uint32_t h = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ (uint32_t(c) * 977u);
  return 128.0f + 60.0f * float(h % 1000u) / 1000.0f - 30.0f +
         50.0f * std::sin(0.31f * float(x) + 0.17f * float(y) + float(c)) +
         20.0f * std::cos(0.05f * float((x * y) % 97));
}

double Psnr(const fpbuffer& a, const fpbuffer& b) {
  double e = 0;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < a.n; ++i) e += std::pow(double(a.plane[c].x[i]) - b.plane[c].x[i], 2);
  }
  return 10.0 * std::log10(255.0 * 255.0 / (e / (3.0 * a.n)));
}

void RunJob(const Job& j, const fs::path& dir) {
  fpbuffer truth(j.width, j.height, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < j.height; ++y) {
      for (int x = 0; x < j.width; ++x) truth.plane[c].z[y][x] = Texture(c, x, y);
    }
  }
  // blurred[d]: the scene blurred for a band d bands from the focus.
  std::vector<fpbuffer> blurred(size_t(j.slices), truth);
  for (int d = 1; d < j.slices; ++d) {
    for (int c = 0; c < 3; ++c) {
      blurred[size_t(d)].plane[c].gaussblurx(1.3f * float(d), 0).gaussblury(1.3f * float(d), 0);
    }
  }
  std::vector<fpbuffer> slices(size_t(j.slices), truth);
  fpbuffer mean = truth;
  mean.zero();
  for (int s = 0; s < j.slices; ++s) {
    for (int c = 0; c < 3; ++c) {
      for (int y = 0; y < j.height; ++y) {
        for (int x = 0; x < j.width; ++x) {
          const int d = std::abs(x * j.slices / j.width - s);
          slices[size_t(s)].plane[c].z[y][x] = blurred[size_t(d)].plane[c].z[y][x];
        }
      }
    }
    mean.add(slices[size_t(s)]);
  }
  mean.scale(1.0f / float(j.slices));
  double bestSlice = 0;
  for (const fpbuffer& s : slices) bestSlice = std::max(bestSlice, Psnr(s, truth));
  std::printf("\n%d slices of %d x %d: best slice %.2f dB, average %.2f dB\n", j.slices, j.width,
              j.height, bestSlice, Psnr(mean, truth));

  // enfuse's time and result first, so its line can sit beside ours.
  double enfuseMs = 0, enfusePsnr = 0;
  if (std::system("enfuse --version >/dev/null 2>&1") == 0) {
    std::string command =
        "enfuse --exposure-weight=0 --saturation-weight=0 --contrast-weight=1 --hard-mask "
        "--depth=16 --output=" +
        (dir / "enfused.tif").string();
    for (int s = 0; s < j.slices; ++s) {
      const std::string path = (dir / Format("s%d.tif", s)).string();
      if (WriteTiffFloat(slices[size_t(s)], path, false) != nullptr) return;
      command += " " + path;
    }
    command += " >/dev/null 2>&1";
    int rc = 0;
    enfuseMs = Best(
        1, [] {}, [&] { rc = std::system(command.c_str()); });
    // enfuse writes an alpha channel; ImageMagick drops it for our TIFF reader (untimed).
    const std::string plain = (dir / "plain.tif").string();
    const std::string strip = "convert " + (dir / "enfused.tif").string() +
                              " -alpha off -compress none -depth 16 " + plain + " >/dev/null 2>&1";
    fpbuffer fused(1, 1, cspace::kDefault);
    if (rc == 0 && std::system(strip.c_str()) == 0 && ReadTiffFloat(fused, plain) == kTiffRead &&
        fused.n == truth.n) {
      enfusePsnr = Psnr(fused, truth);
    } else {
      std::printf("enfuse or convert failed: no peer\n");
      enfuseMs = 0;
    }
  } else {
    std::printf("enfuse is not installed: no peer\n");
  }

  StackParams& p = LiveSettings().stack;
  p.SetDefaults();
  CImageView view;
  const int modes[] = {4, 7, 8};
  const char* names[] = {"Extended DOF (Infinity)", "Extended DOF 2", "Extended DOF 3"};
  for (int m = 0; m < 3; ++m) {
    for (int threads : {1, 0}) {
      SetParallelThreads(threads);
      fpbuffer image;
      const double ms = Best(
          1, [] {},
          [&] {
            const ops::stacking::StackSteps steps = ops::stacking::ExtendedDofSteps(view, modes[m]);
            for (int s = 0; s < j.slices; ++s) {
              image.copy(slices[size_t(s)]);
              if (s == 0) {
                steps.first(image);
              } else {
                steps.further(image, s);
              }
            }
            steps.final(image, j.slices);
          });
      Line(names[m], ParallelThreads(), ms, "enfuse --hard-mask", enfuseMs);
      const std::string peer = enfuseMs > 0 ? Format("   enfuse %.2f dB", enfusePsnr) : "";
      std::printf("%-26s PSNR to the scene %.2f dB%s\n", "", Psnr(image, truth), peer.c_str());
    }
  }
  SetParallelThreads(0);
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const fs::path dir =
      fs::temp_directory_path() / (std::string("zep-bench-edof-") + std::to_string(::getpid()));
  fs::create_directories(dir);
  InitProgramDirectory(dir / "home");
  std::vector<Job> jobs;
  for (int i = 1; i + 2 < argc; i += 3) {
    jobs.push_back({std::atoi(argv[i]), std::atoi(argv[i + 1]), std::atoi(argv[i + 2])});
  }
  if (jobs.empty()) jobs = {{5, 3000, 2000}};
  for (const Job& j : jobs) {
    if (j.slices >= 2 && j.width > 0 && j.height > 0) RunJob(j, dir);
  }
  ShutDownProgramDirectory();
  fs::remove_all(dir);
}
