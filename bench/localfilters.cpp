// The local window filters and the sharpeners on a 4000 x 3000 float RGB picture beside
// OpenCV: Lens Blur radius 1 and 3 against filter2D with the same normalised disc, Median
// radius 1 against medianBlur(3), the bilateral filter (window 11, Gaussian) against
// bilateralFilter with d 11, Unsharp Mask (Gaussian mode, radius 1 to 5) against
// GaussianBlur and addWeighted, Xsharpen (windows 3 to 9) against erode and dilate of the
// same square (its extremes). Each pair runs with one thread and with all of them (OpenCV
// with as many), best of a few runs, and the line ends with the ratio ours / OpenCV's.
// Jensen Edge Enhancement (window 5), the Poisson Sharpener (50 iterations) and Periodic
// Smoothing (honeycomb of radius 10, median) have no peer and are reported alone. An
// argument ("xsharpen", "unsharp", ...) runs only the lines whose name starts with it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <strings.h>

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

const fpbuffer& Picture() {
  static const fpbuffer image = SmoothNoisyPicture(kW, kH);
  return image;
}

#ifdef ZEP_HAVE_OPENCV
cv::Mat Interleaved() {
  cv::Mat m(kH, kW, CV_32FC3);
  for (int y = 0; y < kH; ++y) {
    float* row = m.ptr<float>(y);
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) row[3 * x + c] = Picture().plane[c].z[y][x];
    }
  }
  return m;
}

cv::Mat Disc(int r) {
  cv::Mat k(2 * r + 1, 2 * r + 1, CV_32F);
  float cells = 0;
  for (int j = -r; j <= r; ++j) {
    for (int i = -r; i <= r; ++i) {
      const bool in = std::sqrt(float(i * i + j * j)) <= r + 0.5f;
      k.at<float>(j + r, i + r) = in ? 1.0f : 0.0f;
      cells += in;
    }
  }
  return k / cells;
}
#endif

// Whether the line of this name runs: all of them without an argument.
const char* gOnly = nullptr;
bool Runs(const std::string& name) {
  return gOnly == nullptr || strncasecmp(name.c_str(), gOnly, std::strlen(gOnly)) == 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) gOnly = argv[1];
  const int all = AllThreads();
  const int runs = 3;
  fpbuffer work;
  const auto reset = [&] { work.copy(Picture()); };
#ifdef ZEP_HAVE_OPENCV
  const cv::Mat src = Interleaved();
  cv::Mat dst;
#endif
  std::printf("%d x %d float RGB, best of %d runs\n", kW, kH, runs);
  for (const int threads : {1, all}) {
    SetParallelThreads(threads);
    double theirs = 0;
    for (const int r : {1, 3}) {
      if (!Runs("Lens Blur")) break;
      const double ours = Best(runs, reset, [&] { work.lensblur(1, r, false, nullptr, false); });
#ifdef ZEP_HAVE_OPENCV
      cv::setNumThreads(threads);
      const cv::Mat disc = Disc(r);
      theirs = Best(
          runs, [] {},
          [&] { cv::filter2D(src, dst, CV_32F, disc, cv::Point(-1, -1), 0, cv::BORDER_REFLECT); });
#endif
      Line(("Lens Blur r" + std::to_string(r)).c_str(), threads, ours, "filter2D (disc)", theirs);
    }
    if (Runs("Median")) {
      const double ours =
          Best(runs, reset, [&] { work.median(1, 1.0f, false, nullptr, false, false); });
#ifdef ZEP_HAVE_OPENCV
      theirs = Best(
          runs, [] {}, [&] { cv::medianBlur(src, dst, 3); });
#endif
      Line("Median r1", threads, ours, "medianBlur(3)", theirs);
    }
    if (Runs("Bilateral")) {
      const double ours =
          Best(1, reset, [&] { work.bilateral(25.0f, 1, 11, 3, nullptr, false, false); });
#ifdef ZEP_HAVE_OPENCV
      theirs = Best(
          1, [] {}, [&] { cv::bilateralFilter(src, dst, 11, 25.0, 5.0); });
#endif
      Line("Bilateral 11 Gaussian", threads, ours, "bilateralFilter d 11", theirs);
    }
    for (int r = 1; r <= 5 && Runs("Unsharp"); ++r) {
      const double ours = Best(runs, reset, [&] {
        work.unsharp(UnsharpSmoother(0), r, UnsharpResponse, 1, 0, 0, 1, nullptr, false);
      });
#ifdef ZEP_HAVE_OPENCV
      cv::Mat blurred;
      const int taps = GaussianLength(float(r), 3.0f);
      theirs = Best(
          runs, [] {},
          [&] {
            cv::GaussianBlur(src, blurred, cv::Size(taps, taps), r, r, cv::BORDER_REFLECT);
            cv::addWeighted(src, 2.0, blurred, -1.0, 0.0, dst);
          });
#endif
      Line(("Unsharp Gaussian r" + std::to_string(r)).c_str(), threads, ours,
           "GaussianBlur+addWeighted", theirs);
    }
    for (int w = 3; w <= 9 && Runs("Xsharpen"); w += 2) {
      const double ours =
          Best(runs, reset, [&] { work.xsharpen(w, 5.0f, 0.5f, 1, nullptr, false); });
#ifdef ZEP_HAVE_OPENCV
      cv::Mat lo, hi;
      const cv::Mat square = cv::Mat::ones(w, w, CV_8U);
      theirs = Best(
          runs, [] {},
          [&] {
            cv::erode(src, lo, square);
            cv::dilate(src, hi, square);
          });
#endif
      Line(("Xsharpen w" + std::to_string(w)).c_str(), threads, ours, "erode+dilate", theirs);
    }
    if (Runs("Jensen")) {
      Line("Jensen w5", threads,
           Best(1, reset,
                [&] { work.jensenedges(0.6f, 0, 10, 5, 0, true, nullptr, false, 1, false); }),
           "", 0);
    }
    if (Runs("Poisson")) {
      Line("Poisson 50 iterations", threads,
           Best(1, reset, [&] { work.poissonsharpen(50, 2, 0, false); }), "", 0);
    }
    if (Runs("Periodic")) {
      const int32_t dx[] = {0, 10, 5, -5, -10, -5, 5}, dy[] = {0, 0, 9, 9, 0, -9, -9};
      Line("Periodic honeycomb r10", threads,
           Best(1, reset, [&] { work.periodicsmooth(dx, dy, 7, 0, 1, false); }), "", 0);
    }
  }
  SetParallelThreads(0);
  return 0;
}
