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
// On a busy machine the wall times of one thread wander, so the one-thread lines of Lens
// Blur, Median and Bilateral are followed by a "(cpu)" line: the best CPU time of the
// calling thread, which does all the work of both sides when they run on one thread.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <strings.h>
#include <time.h>

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

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// Best's twin on the CPU time of the calling thread.
double BestCpu(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    prepare();
    const double t0 = ThreadCpuMs();
    work();
    best = std::min(best, ThreadCpuMs() - t0);
  }
  return best;
}

// Times ours and the peer's job and prints the line; with one thread also the line of the
// CPU times.
void Pair(const std::string& name, int threads, int runs, const std::function<void()>& reset,
          const std::function<void()>& ours, const char* peer,
          const std::function<void()>& theirs) {
  const auto none = [] {};
  const double wall = Best(runs, reset, ours);
  const double peerWall = theirs ? Best(runs, none, theirs) : 0.0;
  Line(name.c_str(), threads, wall, peer, peerWall);
  if (threads != 1) return;
  const double cpu = BestCpu(runs, reset, ours);
  const double peerCpu = theirs ? BestCpu(runs, none, theirs) : 0.0;
  Line((name + " (cpu)").c_str(), threads, cpu, peer, peerCpu);
}

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
#ifdef ZEP_HAVE_OPENCV
    cv::setNumThreads(threads);
#endif
    double theirs = 0;
    std::function<void()> peer;
    for (const int r : {1, 3}) {
      if (!Runs("Lens Blur")) break;
#ifdef ZEP_HAVE_OPENCV
      const cv::Mat disc = Disc(r);
      peer = [&, disc] {
        cv::filter2D(src, dst, CV_32F, disc, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
      };
#endif
      Pair(
          "Lens Blur r" + std::to_string(r), threads, runs, reset,
          [&] { work.lensblur(1, r, false, nullptr, false); }, "filter2D (disc)", peer);
    }
    if (Runs("Median")) {
#ifdef ZEP_HAVE_OPENCV
      peer = [&] { cv::medianBlur(src, dst, 3); };
#endif
      Pair(
          "Median r1", threads, runs, reset,
          [&] { work.median(1, 1.0f, false, nullptr, false, false); }, "medianBlur(3)", peer);
    }
    if (Runs("Bilateral")) {
#ifdef ZEP_HAVE_OPENCV
      peer = [&] { cv::bilateralFilter(src, dst, 11, 25.0, 5.0); };
#endif
      Pair(
          "Bilateral 11 Gaussian", threads, 1, reset,
          [&] { work.bilateral(25.0f, 1, 11, 3, nullptr, false, false); }, "bilateralFilter d 11",
          peer);
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
