// Exposure fusion ("Pyramid Fusion") of a bracket of grey 8-bit exposures, with one thread
// and with all of them, beside the peers in one run:
// - ours in memory: every exposure parked in scratch files and weighed, the pyramids
//   blended (the weights of the peers: exposure weight alone, width 0.2/sqrt(3) of 255 so
//   that on grey pictures the bell of each channel multiplied over three is ours; and our
//   defaults, contrast times saturation times exposure);
// - ours file to file: the PNG exposures read, fused and the result written as PNG;
// - OpenCV's MergeMertens(0, 0, 1) timed in memory (bench/fusion_peer.py), and the PSNR of
//   our result against it;
// - enfuse with exposure weight 1, saturation and contrast weights 0 and the same width,
//   file to file (PNG in, PNG out), with OMP_NUM_THREADS 1 and unset.
// Ratios are our time over the peer's (below 1: we are faster).
//
//   bench_fusion [EXPOSURES WIDTH HEIGHT]   (default: 3 of 3000 x 2000)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "fileio/png.h"
#include "image/fpbuffer.h"
#include "ops/stacking/fusion.h"
#include "peerline.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/programdir.h"

namespace fs = std::filesystem;

namespace {
constexpr float kGreyWidth = 0.11547005f;  // 0.2 / sqrt(3)

double Seconds(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Exposure e of count, from -2 to +2 stops, of a scene of blobs and texture spanning some
// five stops, gamma 2.2, quantised to 8 bits; grey in all three channels.
fpbuffer Exposure(int w, int h, int e, int count) {
  const double stops = count > 1 ? -2.0 + 4.0 * e / (count - 1) : 0.0;
  fpbuffer image(w, h, cspace::kDefault);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double fx = x * 120.0 / w, fy = y * 90.0 / h;
      const double log2 = 1.5 * std::sin(fx / 6.0) * std::cos(fy / 7.0) +
                          0.8 * std::sin(x / 2.3 + y / 3.1) + 0.5 * std::cos(x * 1.3 - y * 0.7);
      const double v = 255.0 * std::pow(std::pow(2.0, log2 + stops) / 4.0, 1 / 2.2);
      const float q = float(std::clamp(std::round(v), 0.0, 255.0));
      for (int c = 0; c < 3; ++c) image.plane[c].z[y][x] = q;
    }
  }
  return image;
}

FusionWeightParams PeerWeights() {
  FusionWeightParams p;
  p.wc = p.ws = 0;
  p.we = 1;
  p.sigma = kGreyWidth;
  return p;
}

double Peer(const std::string& command) {
  return Seconds([&] {
    if (std::system(command.c_str()) != 0) std::printf("peer failed: %s\n", command.c_str());
  });
}

// The seconds the peer script prints for threads 1 and all, -1 when it did not run.
void MergeMertens(const fs::path& dir, int count, int w, int h, double seconds[2]) {
  seconds[0] = seconds[1] = -1;
  const std::string cmd = std::string("/usr/bin/python3 ") + ZEP_BENCH_DIR + "/fusion_peer.py " +
                          dir.string() + " " + std::to_string(count) + " " + std::to_string(w) +
                          " " + std::to_string(h);
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, p)) {
      double t1, tall;
      if (std::sscanf(line, "seconds %lf %lf", &t1, &tall) == 2) {
        seconds[0] = t1;
        seconds[1] = tall;
      } else {
        std::fputs(line, stdout);
      }
    }
    pclose(p);
  }
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int count = 3, w = 3000, h = 2000;
  if (argc == 4) {
    count = std::max(2, std::atoi(argv[1]));
    w = std::max(8, std::atoi(argv[2]));
    h = std::max(8, std::atoi(argv[3]));
  }
  const fs::path dir =
      fs::temp_directory_path() / (std::string("zep-bench-fusion-") + std::to_string(::getpid()));
  fs::create_directories(dir);
  InitProgramDirectory(dir / "home");
  std::printf("%d exposures of %d x %d (%.1f MP)\n", count, w, h, w * double(h) * 1e-6);

  std::vector<fpbuffer> frames;
  std::vector<std::string> files;
  for (int e = 0; e < count; ++e) {
    frames.push_back(Exposure(w, h, e, count));
    files.push_back((dir / Format("e%d.png", e)).string());
    if (const char* error = WritePng(frames.back(), files.back(), 8, 1)) {
      std::printf("cannot write %s: %s\n", files.back().c_str(), error);
      return 1;
    }
  }
  const int all = [] {
    SetParallelThreads(0);
    return ParallelThreads();
  }();
  double matched[2], defaults[2], road[2];
  fpbuffer result;
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : all);
    matched[t] =
        Seconds([&] { result = ops::stacking::FuseFrames(frames, PeerWeights(), 0, 1.0f); });
    defaults[t] =
        Seconds([&] { ops::stacking::FuseFrames(frames, FusionWeightParams{}, 0, 1.0f); });
    road[t] = Seconds([&] {
      std::vector<fpbuffer> loaded(static_cast<size_t>(count));
      for (int e = 0; e < count; ++e) {
        ImageFileInfo info;
        loaded[size_t(e)].setcode(cspace::kDefault);
        LoadPng(loaded[size_t(e)], files[size_t(e)], info);
      }
      const fpbuffer fused = ops::stacking::FuseFrames(loaded, PeerWeights(), 0, 1.0f);
      WritePng(fused, (dir / "ours.png").string(), 8, 1);
    });
  }
  SetParallelThreads(0);
  {
    // Channel 0 of our result, rows top down, for the PSNR against the peer.
    std::ofstream out(dir / "ours.f32", std::ios::binary);
    for (int y = h - 1; y >= 0; --y) {
      out.write(reinterpret_cast<const char*>(result.plane[0].z[y]), std::streamsize(4 * w));
    }
  }

  double mertens[2];
  MergeMertens(dir, count, w, h, mertens);
  std::string list;
  for (const std::string& f : files) list += f + " ";
  double enfuse[2];
  for (int t = 0; t < 2; ++t) {
    const std::string threads = t == 0 ? "OMP_NUM_THREADS=1 " : "";
    enfuse[t] = Peer(threads + "enfuse --exposure-weight=1 --saturation-weight=0 " +
                     "--contrast-weight=0 --exposure-width=" + std::to_string(kGreyWidth) + " -o " +
                     (dir / "enfuse.png").string() + " " + list + ">/dev/null 2>&1");
    if (!fs::exists(dir / "enfuse.png")) enfuse[t] = -1;
    fs::remove(dir / "enfuse.png");
  }
  for (int t = 0; t < 2; ++t) {
    const int threads = t == 0 ? 1 : all;
    Line("fusion, peer weights", threads, 1000 * matched[t], "cv2 MergeMertens", 1000 * mertens[t]);
    Line("fusion file to file", threads, 1000 * road[t], "enfuse file to file", 1000 * enfuse[t]);
    Line("fusion, our defaults", threads, 1000 * defaults[t], "", -1);
  }
  ShutDownProgramDirectory();
  fs::remove_all(dir);
}
