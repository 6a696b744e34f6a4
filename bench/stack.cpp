// Stacking of many frames, our combiners beside peer tools in one run:
// - "Average" and "Median" (raw scratch files written, then combined row block by row block)
//   beside ImageMagick's `convert FRAMES -evaluate-sequence mean|median`, which decodes
//   8-bit PPM frames (its time includes that decoding; ours starts from frames in memory,
//   the decoding being the file readers' and not the stack's);
// - the median's time beside writing and reading the same bytes of raw files at the disk's
//   sequential speed, measured in the same run;
// - "Multivariate Median" in seconds per megapixel;
// - "Extended Dynamic Range" (no noise reduction) of a linear 8-bit bracket beside OpenCV's
//   Debevec merge with a linear response and the true times (bench/stack_peer.py): times,
//   and the error of each against the true radiance.
// Every job runs with one thread and with all of them.
//
//   bench_stack [FRAMES WIDTH HEIGHT]...   (default: 16 of 3000 x 2000 and 200 of 1000 x 1000)
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

#include "image/fpbuffer.h"
#include "ops/stacking/stack.h"
#include "peerline.h"
#include "platform/parallel.h"
#include "platform/programdir.h"

namespace fs = std::filesystem;

namespace {
struct Job {
  int frames, width, height;
};

float Scene(int x, int y, int c) {
  return 60.0f + 50.0f * std::sin(0.013f * float(x) + 0.7f * float(c)) +
         40.0f * std::cos(0.021f * float(y));
}

// Frame f: the scene with noise, a bright square in one frame of every eight.
fpbuffer Frame(const Job& j, int f) {
  fpbuffer image(j.width, j.height, cspace::kDefault);
  uint32_t seed = 977u * uint32_t(f) + 1;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < j.height; ++y) {
      for (int x = 0; x < j.width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        float v = Scene(x, y, c) + float(int(seed >> 24) - 128) / 16.0f;
        if (f % 8 == 3 && x > j.width / 3 && x < j.width / 2 && y > j.height / 3 &&
            y < j.height / 2) {
          v = 250;
        }
        image.plane[c].z[y][x] = v;
      }
    }
  }
  return image;
}

double Seconds(const std::function<void()>& work) {
  const auto t0 = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Writes the frames as 8-bit PPM files for the peer (rows top down).
std::vector<std::string> WritePpm(const std::vector<fpbuffer>& frames, const fs::path& dir) {
  std::vector<std::string> names;
  for (size_t f = 0; f < frames.size(); ++f) {
    const fpbuffer& image = frames[f];
    const std::string name = (dir / (std::string("f") + std::to_string(f) + ".ppm")).string();
    std::ofstream out(name, std::ios::binary);
    out << "P6\n" << image.width << " " << image.height << "\n255\n";
    std::vector<unsigned char> row(size_t(3) * size_t(image.width));
    for (int y = image.height - 1; y >= 0; --y) {
      for (int x = 0; x < image.width; ++x) {
        for (int c = 0; c < 3; ++c) {
          row[size_t(3 * x + c)] =
              (unsigned char)std::clamp(std::lround(image.plane[c].z[y][x]), 0L, 255L);
        }
      }
      out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
    }
    names.push_back(name);
  }
  return names;
}

double Peer(const std::string& command) {
  return Seconds([&] {
    if (std::system(command.c_str()) != 0) std::printf("peer failed: %s\n", command.c_str());
  });
}

void RunJob(const Job& j, const fs::path& dir) {
  std::printf("\n%d frames of %d x %d (%.1f MP)\n", j.frames, j.width, j.height,
              j.width * double(j.height) * 1e-6);
  std::vector<fpbuffer> frames;
  for (int f = 0; f < j.frames; ++f) frames.push_back(Frame(j, f));
  const double mp = j.width * double(j.height) * 1e-6;
  const int all = [] {
    SetParallelThreads(0);
    return ParallelThreads();
  }();
  double ours[2][3] = {};
  for (int t = 0; t < 2; ++t) {
    const int threads = t == 0 ? 1 : all;
    SetParallelThreads(threads);
    fpbuffer sum;
    ours[t][0] = Seconds([&] {
      sum.copy(frames[0]);
      for (int f = 1; f < j.frames; ++f) sum.add(frames[size_t(f)]);
      sum.scale(float(1.0 / j.frames));
    });
    for (int m = 1; m <= 2; ++m) {
      const int mode =
          m == 1 ? ops::stacking::kStackMedian : ops::stacking::kStackMultivariateMedian;
      ops::stacking::StackScratch scratch;
      fpbuffer out(j.width, j.height, cspace::kDefault);
      const double written = Seconds([&] {
        for (int f = 0; f < j.frames; ++f) scratch.WriteRaw(frames[size_t(f)], f);
      });
      const double combined = Seconds([&] {
        ops::stacking::CombineRawFiles(out, scratch.files(), mode, 200, uint64_t(256) << 20);
      });
      ours[t][m] = written + combined;
      std::printf("threads %2d  %s: raw files written %.3f s, combined %.3f s\n", threads,
                  m == 1 ? "Median" : "Multivariate Median", written, combined);
    }
    std::printf(
        "threads %2d  Average %8.3f s   Median %8.3f s   Multivariate Median %8.3f s "
        "(%.3f s/MP)\n",
        threads, ours[t][0], ours[t][1], ours[t][2], ours[t][2] / mp);
  }
  SetParallelThreads(0);

  // The disk: the median's bytes written and read once, sequentially.
  const size_t bytes = size_t(12) * size_t(j.width) * size_t(j.height);
  std::vector<char> block(bytes, 1);
  const double disk = Seconds([&] {
    for (int f = 0; f < j.frames; ++f) {
      const fs::path p = dir / (std::string("disk") + std::to_string(f));
      std::FILE* out = std::fopen(p.c_str(), "wb");
      std::fwrite(block.data(), 1, bytes, out);
      std::fclose(out);
    }
    for (int f = 0; f < j.frames; ++f) {
      const fs::path p = dir / (std::string("disk") + std::to_string(f));
      std::FILE* in = std::fopen(p.c_str(), "rb");
      if (std::fread(block.data(), 1, bytes, in) != bytes) std::printf("short read\n");
      std::fclose(in);
      fs::remove(p);
    }
  });
  std::printf(
      "raw files written and read at the disk's speed: %.3f s; median (all threads) "
      "over that: %.2f\n",
      disk, ours[1][1] / disk);

  const std::vector<std::string> ppm = WritePpm(frames, dir);
  std::string list;
  for (const std::string& p : ppm) list += p + " ";
  for (const char* op : {"mean", "median"}) {
    const bool mean = op[1] == 'e' && op[2] == 'a';
    for (int t = 0; t < 2; ++t) {
      const int threads = t == 0 ? 1 : all;
      const double theirs =
          Peer("MAGICK_THREAD_LIMIT=" + std::to_string(threads) + " convert " + list +
               "-evaluate-sequence " + op + " " + (dir / "peer.miff").string());
      Line(mean ? "Average" : "Median", threads, 1000 * ours[t][mean ? 0 : 1],
           mean ? "convert mean" : "convert median", 1000 * theirs);
    }
  }
  for (const std::string& p : ppm) fs::remove(p);
  fs::remove(dir / "peer.miff");
}

// A linear bracket of a scene spanning 10^4, quantised and clipped to 8 bits: our merge
// (channel 0) and the peer's, timed, and each one's error against the radiance.
void Merge(const fs::path& dir) {
  const int w = 2000, h = 1500;
  const double times[] = {1, 4, 16, 64, 256, 1024, 4096};
  std::vector<double> radiance(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      radiance[size_t(y) * w + x] =
          std::pow(10.0, 4.0 * (0.5 + 0.5 * std::sin(0.004 * x) * std::cos(0.003 * y)));
    }
  }
  ops::stacking::StackScratch scratch;
  std::ofstream truth(dir / "radiance.f32", std::ios::binary);
  for (double r : radiance) {
    const float f = float(r);
    truth.write(reinterpret_cast<const char*>(&f), 4);
  }
  truth.close();
  for (int e = 0; e < 7; ++e) {
    fpbuffer frame(w, h, cspace::kDefault);
    for (size_t k = 0; k < radiance.size(); ++k) {
      const float v = float(std::min(255.0, std::round(radiance[k] * times[e] * 255 / 1e4)));
      for (int c = 0; c < 3; ++c) frame.plane[c].x[k] = v;
    }
    scratch.WriteRaw(frame, e);
    // The same frame as 8-bit grey for the peer, rows as stored.
    std::ofstream out(dir / (std::string("e") + std::to_string(e) + ".u8"), std::ios::binary);
    for (size_t k = 0; k < radiance.size(); ++k) out.put(char((unsigned char)frame.plane[0].x[k]));
  }
  for (int threads : {1, [] {
                        SetParallelThreads(0);
                        return ParallelThreads();
                      }()}) {
    SetParallelThreads(threads);
    fpbuffer merged(w, h, cspace::kDefault);
    const double s = Seconds([&] { merged.mergeexposures(scratch.files(), 1.0f, false); });
    std::printf("Extended Dynamic Range, 7 frames of %d x %d, threads %2d: %.3f s\n", w, h, threads,
                s);
    std::ofstream out(dir / "ours.f32", std::ios::binary);
    out.write(reinterpret_cast<const char*>(merged.plane[0].x), std::streamsize(4 * merged.n));
  }
  SetParallelThreads(0);
  const std::string command = std::string("/usr/bin/python3 ") + ZEP_BENCH_DIR + "/stack_peer.py " +
                              dir.string() + " " + std::to_string(w) + " " + std::to_string(h);
  if (std::system(command.c_str()) != 0) std::printf("the Debevec peer did not run\n");
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // the peers print between our lines
  const fs::path dir =
      fs::temp_directory_path() / (std::string("zep-bench-stack-") + std::to_string(::getpid()));
  fs::create_directories(dir);
  InitProgramDirectory(dir / "home");
  std::vector<Job> jobs;
  for (int i = 1; i + 2 < argc; i += 3) {
    jobs.push_back({std::atoi(argv[i]), std::atoi(argv[i + 1]), std::atoi(argv[i + 2])});
  }
  if (jobs.empty()) jobs = {{16, 3000, 2000}, {200, 1000, 1000}};
  for (const Job& j : jobs) RunJob(j, dir);
  Merge(dir);
  ShutDownProgramDirectory();
  fs::remove_all(dir);
}
