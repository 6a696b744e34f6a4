// Stacking of many frames, our combiners beside peer tools in one run:
// - "Average" and "Median" (raw scratch files written, then combined row block by row block)
//   beside ImageMagick's `convert FRAMES -evaluate-sequence mean|median`, hugin_stacker's
//   --mode=avg|median (Debian hugin-tools) and siril-cli's `stack seq rej n|med` (Debian
//   siril), which decode 8-bit PPM frames (their times include that decoding, siril's its
//   own start-up too; its conversion of the frames to a FITS sequence is timed on a line of
//   its own and left out of its stacks; ours starts from frames in memory, the decoding
//   being the file readers' and not the stack's);
// - "Multivariate Median" beside the robust means the peers have instead of a geometric
//   median: hugin_stacker's sigma-clipped mean (--mode=sigma) and siril's winsorized
//   sigma clipping (`rej w`);
// - the median's time beside writing and reading the same bytes of raw files at the disk's
//   sequential speed, measured in the same run;
// - "Multivariate Median" in seconds per megapixel;
// - "Extended Dynamic Range" (no noise reduction) of a linear 8-bit bracket beside OpenCV's
//   Debevec merge with a linear response and the true times (bench/stack_peer.py): times,
//   and the error of each against the true radiance.
// Every job runs with one thread and with all of them.
//
//   bench_stack [--no-peers] [--no-multivariate] [--no-merge] [FRAMES WIDTH HEIGHT]...
//       (default: 16 of 6000 x 4000 and 200 of 1000 x 1000)
// A peer that is not installed is named with its package and its column skipped.
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

#include <time.h>
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

// The process's CPU time in seconds (every thread, the kernel's copies for its reads and
// writes included): beside the wall time, a figure the other processes of a busy machine
// disturb far less.
double CpuSeconds() { return 1e-3 * ProcessMs(); }

struct Times {
  double wall = 1e300, cpu = 1e300;
  void Keep(const Times& t) {
    wall = std::min(wall, t.wall);
    cpu = std::min(cpu, t.cpu);
  }
};

Times Measure(const std::function<void()>& work) {
  const double c0 = CpuSeconds();
  const double wall = Seconds(work);
  return {wall, CpuSeconds() - c0};
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

// The peer's time, or 0 (its column left empty) when it fails; its own messages are kept
// aside in peer.log beside its output, as a failure names every frame.
double Peer(const std::string& command, const fs::path& dir) {
  bool failed = false;
  const double seconds = Seconds([&] {
    failed = std::system((command + " > " + (dir / "peer.log").string() + " 2>&1").c_str()) != 0;
  });
  if (!failed) return seconds;
  std::ifstream log(dir / "peer.log");
  std::string first;
  std::getline(log, first);
  std::printf("peer failed: %.60s ...: %.160s\n", command.c_str(), first.c_str());
  return 0;
}

// Whether a peer tool is on the path; when not, says which package brings it.
bool Have(const char* tool, const char* package) {
  if (std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0) {
    return true;
  }
  std::printf("%s not found (Debian package %s): its column is skipped\n", tool, package);
  return false;
}

struct Options {
  bool peers = true, multivariate = true, merge = true;
};

// The median of the frames as the command runs it: raw files written, then combined.
// Returns the two times.
std::pair<Times, Times> Median(const Job& j, const std::vector<fpbuffer>& frames, int mode) {
  ops::stacking::StackScratch scratch;
  fpbuffer out(j.width, j.height, cspace::kDefault);
  const Times written = Measure([&] {
    for (int f = 0; f < j.frames; ++f) {
      if (scratch.WriteRaw(frames[size_t(f)], f)) std::printf("raw file %d not written\n", f);
    }
  });
  const Times combined = Measure([&] {
    ops::stacking::CombineRawFiles(out, scratch.files(), mode, 200,
                                   ops::stacking::StackRowBudget(mode, j.frames));
  });
  return {written, combined};
}

// The median's bytes written to raw files and read back once, sequentially, as fast as
// the disk and the page cache take them.
Times Disk(const Job& j, const fs::path& dir) {
  const size_t bytes = size_t(12) * size_t(j.width) * size_t(j.height);
  std::vector<char> block(bytes, 1);
  return Measure([&] {
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
}

// siril-cli running one script in folder; its output is kept aside.
double Siril(const fs::path& folder, const std::string& script) {
  {
    std::ofstream out(folder / "run.ssf");
    out << "requires 1.0.0\n" << script << "close\n";
  }
  return Peer("siril-cli -d " + folder.string() + " -s " + (folder / "run.ssf").string(), folder);
}

void RunJob(const Job& j, const fs::path& dir, const Options& options) {
  std::printf("\n%d frames of %d x %d (%.1f MP)\n", j.frames, j.width, j.height,
              j.width * double(j.height) * 1e-6);
  std::vector<fpbuffer> frames;
  for (int f = 0; f < j.frames; ++f) frames.push_back(Frame(j, f));
  const double mp = j.width * double(j.height) * 1e-6;
  const int all = [] {
    SetParallelThreads(0);
    return ParallelThreads();
  }();
  // [threads][Average, Median, Multivariate Median]
  double ours[2][3] = {};
  Times disk, median[2];
  for (int t = 0; t < 2; ++t) {
    const int threads = t == 0 ? 1 : all;
    SetParallelThreads(threads);
    fpbuffer sum;
    ours[t][0] = 1e300;
    for (int r = 0; r < 3; ++r) {
      ours[t][0] = std::min(ours[t][0], Seconds([&] {
                              sum.copy(frames[0]);
                              for (int f = 1; f < j.frames; ++f) sum.add(frames[size_t(f)]);
                              sum.scale(float(1.0 / j.frames));
                            }));
    }
    // The disk's speed is taken between the median's runs, so that both see the same load.
    for (int r = 0; r < 2; ++r) {
      disk.Keep(Disk(j, dir));
      const auto [written, combined] = Median(j, frames, ops::stacking::kStackMedian);
      std::printf(
          "threads %2d  Median: raw files written %.3f s (CPU %.3f s), combined %.3f s (CPU "
          "%.3f s)\n",
          threads, written.wall, written.cpu, combined.wall, combined.cpu);
      median[t].Keep({written.wall + combined.wall, written.cpu + combined.cpu});
    }
    ours[t][1] = median[t].wall;
    if (options.multivariate) {
      const auto [written, combined] = Median(j, frames, ops::stacking::kStackMultivariateMedian);
      ours[t][2] = written.wall + combined.wall;
      std::printf("threads %2d  Multivariate Median: raw files written %.3f s, combined %.3f s\n",
                  threads, written.wall, combined.wall);
    }
    std::printf(
        "threads %2d  Average %8.3f s   Median %8.3f s   Multivariate Median %8.3f s "
        "(%.3f s/MP)\n",
        threads, ours[t][0], ours[t][1], ours[t][2], ours[t][2] / mp);
  }
  SetParallelThreads(0);
  std::printf(
      "raw files written and read at the disk's speed: %.3f s (CPU %.3f s); median over that: "
      "%.2f (one thread), %.2f (all threads); in CPU time %.2f (one thread), %.2f (all "
      "threads)\n",
      disk.wall, disk.cpu, median[0].wall / disk.wall, median[1].wall / disk.wall,
      median[0].cpu / disk.cpu, median[1].cpu / disk.cpu);
  if (!options.peers) return;

  const fs::path framesDir = dir / "frames";
  fs::create_directories(framesDir);
  const std::vector<std::string> ppm = WritePpm(frames, framesDir);
  frames.clear();
  std::string list;
  for (const std::string& p : ppm) list += p + " ";
  const char* names[] = {"Average", "Median", "Multivariate Median"};
  auto line = [&](int m, int t, const char* peer, double seconds) {
    Line(names[m], t == 0 ? 1 : all, 1000 * ours[t][m], peer, 1000 * seconds);
  };
  if (Have("convert", "imagemagick")) {
    for (int m = 0; m < 2; ++m) {
      for (int t = 0; t < 2; ++t) {
        const double theirs = Peer("MAGICK_THREAD_LIMIT=" + std::to_string(t == 0 ? 1 : all) +
                                   " convert " + list + "-evaluate-sequence " +
                                   (m == 0 ? "mean " : "median ") + (dir / "peer.miff").string(),
                                   dir);
        line(m, t, m == 0 ? "convert mean" : "convert median", theirs);
      }
    }
    fs::remove(dir / "peer.miff");
  }
  if (Have("hugin_stacker", "hugin-tools")) {
    const char* modes[] = {"avg", "median", "sigma"};
    for (int m = 0; m < 3; ++m) {
      if (m == 2 && !options.multivariate) continue;
      for (int t = 0; t < 2; ++t) {
        const double theirs =
            Peer("OMP_WAIT_POLICY=PASSIVE OMP_NUM_THREADS=" + std::to_string(t == 0 ? 1 : all) +
                 " hugin_stacker --mode=" + modes[m] + " --output=" + (dir / "peer.tif").string() +
                 " " + list,
                 dir);
        line(m, t, (std::string("hugin_stacker ") + modes[m]).c_str(), theirs);
      }
    }
    fs::remove(dir / "peer.tif");
  }
  if (Have("siril-cli", "siril")) {
    const fs::path sequence = dir / "siril";
    fs::create_directories(sequence);
    const double converted = Siril(framesDir, "convert seq -out=" + sequence.string() + "\n");
    std::printf("siril-cli: the frames converted to its FITS sequence in %.3f s (not counted)\n",
                converted);
    const char* stacks[] = {"rej n", "med", "rej w 3 3"};
    const char* labels[] = {"siril mean", "siril median", "siril winsorized"};
    for (int m = 0; m < 3; ++m) {
      if (m == 2 && !options.multivariate) continue;
      for (int t = 0; t < 2; ++t) {
        const double theirs = Siril(
            sequence, "setcpu " + std::to_string(t == 0 ? 1 : all) + "\nstack seq " + stacks[m] +
                          " -nonorm -out=" + (sequence / "result").string() + "\n");
        line(m, t, labels[m], theirs);
      }
    }
    fs::remove_all(sequence);
  }
  for (const std::string& p : ppm) fs::remove(p);
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
  Options options;
  std::vector<int> numbers;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--no-peers") {
      options.peers = false;
    } else if (a == "--no-merge") {
      options.merge = false;
    } else if (a == "--no-multivariate") {
      options.multivariate = false;
    } else {
      numbers.push_back(std::atoi(argv[i]));
    }
  }
  std::vector<Job> jobs;
  for (size_t i = 0; i + 2 < numbers.size(); i += 3) {
    jobs.push_back({numbers[i], numbers[i + 1], numbers[i + 2]});
  }
  if (jobs.empty()) jobs = {{16, 6000, 4000}, {200, 1000, 1000}};
  for (const Job& j : jobs) RunJob(j, dir, options);
  if (options.peers && options.merge) Merge(dir);
  ShutDownProgramDirectory();
  fs::remove_all(dir);
}
