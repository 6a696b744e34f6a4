// Unsharp Mask (Gaussian mode, radius 1 to 5, the defaults: every detail doubled) on a
// 4000 x 3000 float RGB picture beside OpenCV's composition GaussianBlur + addWeighted
// (interleaved float, the same taps, whole-sample reflection) and ImageMagick's
// `convert -unsharp 0xR+1+0` on a 16-bit PPM of the same picture. One thread and all of
// them; best of a few runs. Wall times are noisy on a shared machine, so each line also
// gives the CPU time of the calling thread (ours and OpenCV's at one thread run there) and
// the ratio of those. convert's figure is the whole call less a plain `convert in out` of
// the same file (reading and writing the picture), with MAGICK_THREAD_LIMIT for the count.
// Without convert (package imagemagick) its column is left out. An argument R runs radius R
// alone, without convert.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "image/fpbuffer.h"
#include "peerline.h"
#include "picture.h"
#include "platform/parallel.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kW = 4000, kH = 3000;
namespace fs = std::filesystem;

const fpbuffer& Picture() {
  static const fpbuffer image = SmoothNoisyPicture(kW, kH);
  return image;
}

double ThreadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return 1e3 * double(t.tv_sec) + 1e-6 * double(t.tv_nsec);
}

// The picture as a 16-bit binary PPM (the values clamped to 0-255 and scaled by 257).
bool WritePpm(const fs::path& path) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%d %d\n65535\n", kW, kH);
  std::vector<unsigned char> row(size_t(kW) * 6);
  bool ok = true;
  for (int y = kH - 1; y >= 0 && ok; --y) {
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) {
        const float v = std::clamp(Picture().plane[c].z[y][x], 0.0f, 255.0f) * 257.0f;
        const unsigned s = unsigned(v + 0.5f);
        row[size_t(6 * x + 2 * c)] = static_cast<unsigned char>(s >> 8);
        row[size_t(6 * x + 2 * c + 1)] = static_cast<unsigned char>(s & 255);
      }
    }
    ok = std::fwrite(row.data(), 1, row.size(), f) == row.size();
  }
  return std::fclose(f) == 0 && ok;
}

double CommandMs(const std::string& command) {
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The best of `runs` calls of a command, in milliseconds; -1 when it fails.
double BestCommand(int runs, const std::string& command) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const double ms = CommandMs(command);
    if (ms < 0) return -1;
    best = std::min(best, ms);
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  const int only = argc > 1 ? std::atoi(argv[1]) : 0;
  const int all = AllThreads();
  const int runs = 3;
  fpbuffer work;
  const auto reset = [&] { work.copy(Picture()); };
#ifdef ZEP_HAVE_OPENCV
  cv::Mat src(kH, kW, CV_32FC3), blurred, dst;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) src.ptr<float>(y)[3 * x + c] = Picture().plane[c].z[y][x];
    }
  }
#endif
  const bool magick = only == 0 && std::system("convert -version >/dev/null 2>&1") == 0;
  const fs::path dir = fs::temp_directory_path() / ("zep-bench-unsharp-" + std::to_string(getpid()));
  const fs::path in = dir / "in.ppm", out = dir / "out.ppm";
  const bool files = magick && fs::create_directories(dir) && WritePpm(in);
  if (!magick && only == 0) std::printf("convert not found (package imagemagick): its column is left out\n");
  std::printf("%d x %d float RGB, best of %d runs; cpu = the calling thread's CPU time\n", kW, kH,
              runs);
  for (const int threads : {1, all}) {
    SetParallelThreads(threads);
    double plain = -1;
    const std::string limit = "MAGICK_THREAD_LIMIT=" + std::to_string(threads) + " ";
    if (files) plain = BestCommand(runs, limit + "convert " + in.string() + " " + out.string());
    for (int r = 1; r <= 5; ++r) {
      if (only != 0 && r != only) continue;
      const Times ours = BestTimes(
          runs, reset,
          [&] { work.unsharp(UnsharpSmoother(0), r, UnsharpResponse, 1, 0, 0, 1, nullptr, false); },
          ThreadMilliseconds);
      std::printf("Unsharp Gaussian r%d threads %2d  ZEP %7.1f ms (cpu %7.1f)", r, threads,
                  ours.wall, ours.cpu);
#ifdef ZEP_HAVE_OPENCV
      cv::setNumThreads(threads);
      const int taps = GaussianLength(float(r), 3.0f);
      const Times cv = BestTimes(
          runs, [] {},
          [&] {
            cv::GaussianBlur(src, blurred, cv::Size(taps, taps), r, r, cv::BORDER_REFLECT);
            cv::addWeighted(src, 2.0, blurred, -1.0, 0.0, dst);
          },
          ThreadMilliseconds);
      std::printf("   OpenCV %7.1f ms (cpu %7.1f)  ratio %4.2f (cpu %4.2f)", cv.wall, cv.cpu,
                  ours.wall / cv.wall, ours.cpu / cv.cpu);
#endif
      if (files && plain > 0) {
        const std::string unsharp = limit + "convert " + in.string() + " -unsharp 0x" +
                                    std::to_string(r) + "+1+0 " + out.string();
        const double im = BestCommand(runs, unsharp);
        if (im > 0) {
          std::printf("   convert -unsharp %7.1f ms (less i/o %7.1f)  ratio %4.2f", im, im - plain,
                      ours.wall / std::max(1e-3, im - plain));
        }
      }
      std::printf("\n");
    }
  }
  SetParallelThreads(0);
  std::error_code ignored;
  fs::remove(in, ignored);
  fs::remove(out, ignored);
  fs::remove(dir, ignored);
  return 0;
}
