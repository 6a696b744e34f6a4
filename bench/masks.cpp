// The masks built from a 6000 x 4000 float RGB picture beside OpenCV: Mask by Color (Linf
// around one colour) against inRange, the Sobel edge mask of one channel against two
// Sobel passes, magnitude and compare, and the 4-connected flood fill of a mask against
// floodFill on a byte image of the same bits. Each pair runs with one thread and with all
// of them (OpenCV with as many), best of a few runs; the line ends with ours / OpenCV's.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "peerline.h"
#include "picture.h"
#include "platform/parallel.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kW = 6000, kH = 4000;

const fpbuffer& Picture() {
  static const fpbuffer image = SmoothNoisyPicture(kW, kH);
  return image;
}

// Walls one pixel wide every 50 columns with a gap every 40 rows, so that the fill winds
// through every cell.
bool Wall(int x, int y) { return x % 50 == 25 && y % 40 != 0; }
}  // namespace

int main() {
  const int all = AllThreads();
  const int runs = 3;
  fpbuffer image(Picture());
  image.clearmask();
  bitmask walls(kW, kH);
  const auto reset = [&] {
    std::fill(walls.bits, walls.bits + walls.words, 0u);
    for (int y = 0; y < kH; ++y)
      for (int x = 25; x < kW; x += 50)
        if (Wall(x, y)) walls.set(x, y, true);
  };
  const fpixel4 colour(128, 100, 150, 0);
  const float tolerance = 0.1f;
#ifdef ZEP_HAVE_OPENCV
  cv::Mat interleaved(kH, kW, CV_32FC3), red(kH, kW, CV_32F), bytes(kH, kW, CV_8U), out;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const int k = x + y * kW;
      for (int c = 0; c < 3; ++c) interleaved.ptr<float>(y)[3 * x + c] = Picture().plane[c].x[k];
      red.ptr<float>(y)[x] = Picture().plane[0].x[k];
    }
  }
  const auto resetBytes = [&] {
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) bytes.ptr<uint8_t>(y)[x] = Wall(x, y) ? 1 : 0;
  };
  // The colour box of the Linf test: each channel's range is 255 wide.
  const cv::Scalar lower(128 - 25.5, 100 - 25.5, 150 - 25.5),
      upper(128 + 25.5, 100 + 25.5, 150 + 25.5);
  cv::Mat gx, gy, magnitude;
#endif
  std::printf("%d x %d float RGB, best of %d runs\n", kW, kH, runs);
  for (const int threads : {1, all}) {
    SetParallelThreads(threads);
    double theirs = 0;
#ifdef ZEP_HAVE_OPENCV
    cv::setNumThreads(threads);
#endif
    {
      const double ours = Best(
          runs, [&] { image.clearmask(); }, [&] { image.maskbycolor(colour, tolerance, 0); });
#ifdef ZEP_HAVE_OPENCV
      theirs = Best(
          runs, [] {}, [&] { cv::inRange(interleaved, lower, upper, out); });
#endif
      Line("Mask by Color (Linf)", threads, ours, "inRange", theirs);
    }
    {
      const double ours = Best(
          runs, [&] { image.clearmask(); }, [&] { image.plane[0].sobel(20, &image.mask); });
#ifdef ZEP_HAVE_OPENCV
      theirs = Best(
          runs, [] {},
          [&] {
            cv::Sobel(red, gx, CV_32F, 1, 0, 3);
            cv::Sobel(red, gy, CV_32F, 0, 1, 3);
            cv::magnitude(gx, gy, magnitude);
            cv::compare(magnitude, 80.0, out, cv::CMP_GE);
          });
#endif
      Line("Sobel mask", threads, ours, "Sobel x2, magnitude", theirs);
    }
    {
      const double ours = Best(runs, reset, [&] { walls.floodfill(0, 0, true); });
#ifdef ZEP_HAVE_OPENCV
      theirs = Best(runs, resetBytes, [&] {
        cv::floodFill(bytes, cv::Point(0, 0), cv::Scalar(1), nullptr, cv::Scalar(0), cv::Scalar(0),
                      4);
      });
#endif
      Line("Flood fill", threads, ours, "floodFill (4)", theirs);
    }
  }
  return 0;
}
