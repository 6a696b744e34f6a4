// NL Means on a float RGB picture with Gaussian noise of sigma 10 and 20, beside OpenCV's
// fastNlMeansDenoisingColored with the same windows (search 21 x 21, patch 7 x 7). Each
// method's filtering strength is chosen on a small grid as the one of best PSNR on a crop
// of the picture, then the whole picture is timed once at that strength with one thread
// and with all of them (OpenCV with as many); the line ends with the PSNR against the
// clean picture and the ratios of the wall and CPU times, ours / OpenCV's. A second line
// times ours on the noisy picture plus 0.5, whose distances are summed in double. Last, the
// brute form (each candidate's patch distance summed on its own, in double) on a crop of at
// most 1000 x 1000 of the sigma 10 picture with all threads, beside the fast path on the
// same crop at the strength chosen for it, with the largest difference of their means.
//   bench_nlmeans [WIDTHxHEIGHT]   (default 4000x3000; the run takes some minutes)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "peerline.h"
#include "image/fpbuffer.h"
#include "image/nlmeansbrute.h"
#include "noise.h"
#include "platform/parallel.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV_PHOTO
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#endif

namespace {
constexpr int kSearch = 10, kPatch = 3;  // radii: OpenCV's 21 and 7 windows

fpbuffer Ours(const fpbuffer& noisy, float h) {
  fpbuffer f(noisy);
  f.nlmeans(h, kSearch, kPatch, false, 3, true, false, true);
  return f;
}

fpbuffer Brute(const fpbuffer& noisy, float h) {
  return NlMeansBrute(noisy, h, kSearch, kPatch, false, 3, true, false, true);
}

#ifdef ZEP_HAVE_OPENCV_PHOTO
cv::Mat ToMat(const fpbuffer& f) {
  cv::Mat m(f.height, f.width, CV_8UC3);
  for (int y = 0; y < f.height; ++y) {
    uint8_t* row = m.ptr<uint8_t>(y);
    for (int x = 0; x < f.width; ++x) {
      for (int c = 0; c < 3; ++c) row[3 * x + c] = uint8_t(f.plane[c].z[y][x]);
    }
  }
  return m;
}

fpbuffer FromMat(const cv::Mat& m) {
  fpbuffer f(m.cols, m.rows, 0x17);
  for (int y = 0; y < m.rows; ++y) {
    const uint8_t* row = m.ptr<uint8_t>(y);
    for (int x = 0; x < m.cols; ++x) {
      for (int c = 0; c < 3; ++c) f.plane[c].z[y][x] = row[3 * x + c];
    }
  }
  return f;
}

fpbuffer Peer(const fpbuffer& noisy, float h) {
  cv::Mat out;
  cv::fastNlMeansDenoisingColored(ToMat(noisy), out, h, h, 2 * kPatch + 1, 2 * kSearch + 1);
  return FromMat(out);
}
#endif

// The strength of best PSNR on the crop, from sigma times a few factors.
float BestStrength(const fpbuffer& clean, const fpbuffer& noisy, float sigma,
                   const std::function<fpbuffer(const fpbuffer&, float)>& method) {
  float best = sigma;
  double bestPsnr = -1.0;
  for (float factor : {0.2f, 0.3f, 0.4f, 0.6f, 0.8f, 1.0f, 1.25f, 1.5f}) {
    const double p = PicturePsnr(method(noisy, sigma * factor), clean);
    if (p > bestPsnr) bestPsnr = p, best = sigma * factor;
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  int w = 4000, h = 3000;
  // Options meant for the Google benchmarks (scripts/bench passes its own to every one)
  // are not a size.
  if (argc > 1 && argv[1][0] != '-' &&
      (std::sscanf(argv[1], "%dx%d", &w, &h) != 2 || w < 64 || h < 64)) {
    std::fprintf(stderr, "usage: bench_nlmeans [WIDTHxHEIGHT], each side at least 64\n");
    return 2;
  }
  const int all = AllThreads();
  const fpbuffer clean = CleanPicture(w, h);
  const fpbuffer tuneClean = CropPicture(clean, std::min(w, 400), std::min(h, 300));
  std::printf("NL Means %dx%d RGB, search %d x %d, patch %d x %d\n", w, h, 2 * kSearch + 1,
              2 * kSearch + 1, 2 * kPatch + 1, 2 * kPatch + 1);
  float strength = 0.0f;  // ours at sigma 10
  for (float sigma : {10.0f, 20.0f}) {
    const fpbuffer noisy = NoisyPicture(clean, sigma);
    const fpbuffer tuneNoisy = CropPicture(noisy, tuneClean.width, tuneClean.height);
    std::printf("sigma %.0f: noisy PSNR %.2f dB\n", sigma, PicturePsnr(noisy, clean));
    const float ours = BestStrength(tuneClean, tuneNoisy, sigma, Ours);
    if (sigma == 10.0f) strength = ours;
#ifdef ZEP_HAVE_OPENCV_PHOTO
    const float theirs = BestStrength(tuneClean, tuneNoisy, sigma, Peer);
#endif
    // Samples off the integers: the patch distances are summed in double, not in single
    // precision as for 8-bit samples.
    fpbuffer shifted(noisy);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < shifted.n; ++k) shifted.plane[c].x[k] += 0.5f;
    }
    for (int threads : {1, all}) {
      SetParallelThreads(threads);
      fpbuffer result;
      const Times t = Timed([&] { result = Ours(noisy, ours); });
      std::printf("  threads %2d  ZEP h %5.1f %8.0f ms (CPU %8.0f)  PSNR %.2f dB", threads, ours,
                  t.wall, t.cpu, PicturePsnr(result, clean));
#ifdef ZEP_HAVE_OPENCV_PHOTO
      cv::setNumThreads(threads);
      const cv::Mat in = ToMat(noisy);
      cv::Mat out;
      const Times tp = Timed([&] {
        cv::fastNlMeansDenoisingColored(in, out, theirs, theirs, 2 * kPatch + 1, 2 * kSearch + 1);
      });
      const fpbuffer peer = FromMat(out);
      std::printf("   OpenCV h %5.1f %8.0f ms (CPU %8.0f)  PSNR %.2f dB   ratio %5.2f (CPU %5.2f)",
                  theirs, tp.wall, tp.cpu, PicturePsnr(peer, clean), t.wall / tp.wall,
                  t.cpu / tp.cpu);
#endif
      const Times td = Timed([&] { result = Ours(shifted, ours); });
      std::printf("\n  threads %2d  ZEP, samples + 0.5 (double sums) %8.0f ms (CPU %8.0f)\n",
                  threads, td.wall, td.cpu);
    }
    SetParallelThreads(0);
  }
  const fpbuffer crop = CropPicture(NoisyPicture(clean, 10.0f), std::min(w, 1000), std::min(h, 1000));
  fpbuffer fast, brute;
  const Times tf = Timed([&] { fast = Ours(crop, strength); });
  const Times tb = Timed([&] { brute = Brute(crop, strength); });
  float largest = 0.0f;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < crop.n; ++k) {
      largest = std::max(largest, std::fabs(fast.plane[c].x[k] - brute.plane[c].x[k]));
    }
  }
  std::printf("brute form %dx%d sigma 10 h %.1f, threads %d: %8.0f ms (CPU %8.0f), fast path "
              "%6.0f ms (CPU %6.0f), ratio %.0f (CPU %.0f), largest difference %.2g\n",
              crop.width, crop.height, strength, all, tb.wall, tb.cpu, tf.wall, tf.cpu,
              tb.wall / tf.wall, tb.cpu / tf.cpu, largest);
  return 0;
}
