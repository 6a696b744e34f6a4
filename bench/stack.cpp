// Stacking of many frames, each tool's whole road from the same input files to its result
// file, in one run:
// - the frames are 16-bit RGB TIFFs (uncompressed), which every tool reads;
// - "Average", "Median" and "Multivariate Median" as the command runs them, through zep-run
//   (start-up, the files loaded, the raw scratch files written, the combination, a 32-bit
//   float TIFF saved) beside ImageMagick's `convert FRAMES -evaluate-sequence mean|median`,
//   hugin_stacker's --mode=avg|median|sigma (Debian hugin-tools) and siril-cli (Debian
//   siril), whose road is its conversion of the frames to its FITS sequence and then
//   `stack seq rej n|med|rej w`, in one script. The robust means of the peers stand beside
//   the multivariate median, which none of them has;
// - the parts of each road apart: ours in this process (the frames decoded, the raw files
//   written, the combination), siril's conversion and its stack each in a script of its own;
// - the median's time beyond decoding beside writing and reading the same bytes of raw
//   files at the disk's sequential speed, measured in the same run;
// - "Multivariate Median" in seconds per megapixel;
// - "Extended Dynamic Range" (no noise reduction) of a linear 8-bit bracket beside OpenCV's
//   Debevec merge with a linear response and the true times (bench/stack_peer.py): times,
//   and the error of each against the true radiance.
// Every job runs with one thread and with all of them; the wall times are printed with the
// CPU times of our parts (the steadier figure on a busy machine).
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

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "fileio/tiff.h"
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

// Writes the frames as 16-bit TIFFs, the input of every road.
std::vector<std::string> WriteFrames(const std::vector<fpbuffer>& frames, const fs::path& dir) {
  std::vector<std::string> names;
  for (size_t f = 0; f < frames.size(); ++f) {
    // Numbered from 100000, so that the names sort in the frames' order.
    char base[32];
    std::snprintf(base, sizeof base, "f%zu.tif", 100000 + f);
    const std::string name = (dir / base).string();
    if (const char* error = WriteTiffFloat(frames[f], name, false)) {
      std::printf("%s: %s\n", name.c_str(), error);
      std::exit(1);
    }
    names.push_back(name);
  }
  return names;
}

// The CPU seconds of the children this process has waited for, every thread's.
double ChildCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The peer's wall and CPU times, or zeros (its column left empty) when it fails; its own
// messages are kept aside in peer.log beside its output, as a failure names every frame.
Times Peer(const std::string& command, const fs::path& dir) {
  bool failed = false;
  const double c0 = ChildCpuSeconds();
  const double seconds = Seconds([&] {
    failed = std::system((command + " > " + (dir / "peer.log").string() + " 2>&1").c_str()) != 0;
  });
  if (!failed) return {seconds, ChildCpuSeconds() - c0};
  std::ifstream log(dir / "peer.log");
  std::string first;
  std::getline(log, first);
  std::printf("peer failed: %.60s ...: %.160s\n", command.c_str(), first.c_str());
  return {0, 0};
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
                                   ops::stacking::StackRowBudget(j.frames));
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
Times Siril(const fs::path& folder, const std::string& script) {
  {
    std::ofstream out(folder / "run.ssf");
    out << "requires 1.0.0\n" << script << "close\n";
  }
  return Peer("siril-cli -d " + folder.string() + " -s " + (folder / "run.ssf").string(), folder);
}

// The modes timed, by their names in the settings.
const char* const kModeNames[] = {"Average", "Median", "Multivariate Median"};

// Our road: zep-run stacks the files by the mode on that many threads and saves the result
// as a 32-bit float TIFF.
Times OurRoad(const std::vector<std::string>& files, const char* mode, int threads,
              const fs::path& dir) {
  const fs::path script = dir / "stack.zep";
  {
    std::ofstream out(script);
    out << "new\nset autoQuery False\nset stackMode " << mode << "\nset tiffBitDepth 32\n"
        << "answer files";
    for (const std::string& f : files) out << " " << f;
    out << "\ncommand Stacking\nsave " << (dir / "ours.tif").string() << "\nquit\n";
  }
  const Times seconds = Peer(std::string(ZEP_RUN) + " --threads " + std::to_string(threads) +
                                 " --home " + (dir / "home").string() + " " + script.string(),
                             dir);
  if (!fs::exists(dir / "ours.tif")) std::printf("zep-run wrote no result\n");
  fs::remove(dir / "ours.tif");
  return seconds;
}

void RunJob(const Job& j, const fs::path& dir, const Options& options) {
  std::printf("\n%d frames of %d x %d (%.1f MP)\n", j.frames, j.width, j.height,
              j.width * double(j.height) * 1e-6);
  const fs::path framesDir = dir / "frames";
  fs::create_directories(framesDir);
  std::vector<fpbuffer> frames;
  for (int f = 0; f < j.frames; ++f) frames.push_back(Frame(j, f));
  const std::vector<std::string> files = WriteFrames(frames, framesDir);
  const double mp = j.width * double(j.height) * 1e-6;
  const int all = [] {
    SetParallelThreads(0);
    return ParallelThreads();
  }();
  const int modes = options.multivariate ? 3 : 2;

  // Our parts in this process.
  Times disk, median[2];
  for (int t = 0; t < 2; ++t) {
    const int threads = t == 0 ? 1 : all;
    SetParallelThreads(threads);
    Times load;
    for (int r = 0; r < 2; ++r) {
      fpbuffer image(j.width, j.height, cspace::kDefault);
      load.Keep(Measure([&] {
        for (const std::string& f : files) {
          if (ReadTiffFloat(image, f) != kTiffRead) std::printf("%s not read\n", f.c_str());
        }
      }));
    }
    Times average;
    fpbuffer sum;
    for (int r = 0; r < 3; ++r) {
      average.Keep(Measure([&] {
        sum.copy(frames[0]);
        for (int f = 1; f < j.frames; ++f) sum.add(frames[size_t(f)]);
        sum.scale(float(1.0 / j.frames));
      }));
    }
    std::printf(
        "threads %2d  parts: frames decoded %.3f s (CPU %.3f s); Average's sums %.3f s "
        "(CPU %.3f s)\n",
        threads, load.wall, load.cpu, average.wall, average.cpu);
    // The disk's speed is taken between the median's runs, so that both see the same load.
    for (int r = 0; r < 2; ++r) {
      disk.Keep(Disk(j, dir));
      const auto [written, combined] = Median(j, frames, ops::stacking::kStackMedian);
      std::printf(
          "threads %2d  parts: Median's raw files written %.3f s (CPU %.3f s), combined %.3f s "
          "(CPU %.3f s)\n",
          threads, written.wall, written.cpu, combined.wall, combined.cpu);
      median[t].Keep({written.wall + combined.wall, written.cpu + combined.cpu});
    }
  }
  SetParallelThreads(0);
  frames.clear();
  std::printf(
      "raw files written and read at the disk's speed: %.3f s (CPU %.3f s); median over that: "
      "%.2f (one thread), %.2f (all threads); in CPU time %.2f (one thread), %.2f (all "
      "threads)\n",
      disk.wall, disk.cpu, median[0].wall / disk.wall, median[1].wall / disk.wall,
      median[0].cpu / disk.cpu, median[1].cpu / disk.cpu);

  // The roads, file to file.
  Times ours[2][3];
  for (int m = 0; m < modes; ++m) {
    for (int t = 0; t < 2; ++t) {
      ours[t][m] = OurRoad(files, kModeNames[m], t == 0 ? 1 : all, dir);
      std::printf("%-26s threads %2d  ZEP %9.1f ms (CPU %9.1f ms), the whole road\n", kModeNames[m],
                  t == 0 ? 1 : all, 1000 * ours[t][m].wall, 1000 * ours[t][m].cpu);
    }
  }
  if (options.multivariate) {
    std::printf(
        "Multivariate Median's road: %.3f s/MP (one thread), %.3f s/MP (all threads); in CPU "
        "time %.3f s/MP, %.3f s/MP\n",
        ours[0][2].wall / mp, ours[1][2].wall / mp, ours[0][2].cpu / mp, ours[1][2].cpu / mp);
  }
  if (options.peers) {
    std::string list;
    for (const std::string& p : files) list += p + " ";
    // The wall times, then the CPU times (the steadier on a busy machine).
    auto line = [&](int m, int t, const std::string& peer, const Times& theirs) {
      const Times& o = ours[t][m];
      Line(kModeNames[m], t == 0 ? 1 : all, 1000 * o.wall, peer.c_str(), 1000 * theirs.wall);
      if (theirs.cpu > 0) {
        std::printf("%-26s threads %2d  CPU %9.1f ms   %-22s %9.1f ms   ratio %5.2f\n", "",
                    t == 0 ? 1 : all, 1000 * o.cpu, peer.c_str(), 1000 * theirs.cpu,
                    o.cpu / theirs.cpu);
      }
    };
    if (Have("convert", "imagemagick")) {
      for (int m = 0; m < 2; ++m) {
        for (int t = 0; t < 2; ++t) {
          const Times theirs =
              Peer("MAGICK_THREAD_LIMIT=" + std::to_string(t == 0 ? 1 : all) + " convert " + list +
                       "-evaluate-sequence " + (m == 0 ? "mean " : "median ") +
                       (dir / "peer.miff").string(),
                   dir);
          line(m, t, m == 0 ? "convert mean" : "convert median", theirs);
        }
      }
      fs::remove(dir / "peer.miff");
    }
    if (Have("hugin_stacker", "hugin-tools")) {
      const char* hugin[] = {"avg", "median", "sigma"};
      for (int m = 0; m < modes; ++m) {
        for (int t = 0; t < 2; ++t) {
          const Times theirs =
              Peer("OMP_WAIT_POLICY=PASSIVE OMP_NUM_THREADS=" + std::to_string(t == 0 ? 1 : all) +
                       " hugin_stacker --mode=" + hugin[m] +
                       " --output=" + (dir / "peer.tif").string() + " " + list,
                   dir);
          line(m, t, std::string("hugin_stacker ") + hugin[m], theirs);
        }
      }
      fs::remove(dir / "peer.tif");
    }
    if (Have("siril-cli", "siril")) {
      // The conversion and each stack alone (the parts), then both in one script (the road).
      const fs::path sequence = dir / "siril";
      const char* stacks[] = {"rej n", "med", "rej w 3 3"};
      const char* labels[] = {"siril mean", "siril median", "siril winsorized"};
      for (int t = 0; t < 2; ++t) {
        const std::string cpus = "setcpu " + std::to_string(t == 0 ? 1 : all) + "\n";
        const std::string convert = cpus + "convert seq -out=" + sequence.string() + "\n";
        fs::remove_all(sequence);
        fs::create_directories(sequence);
        const Times converted = Siril(framesDir, convert);
        for (int m = 0; m < modes; ++m) {
          const std::string stack = "stack seq " + std::string(stacks[m]) +
                                    " -nonorm -out=" + (sequence / "result").string() + "\n";
          const Times stacked = Siril(sequence, cpus + stack);
          fs::remove_all(sequence);
          fs::create_directories(sequence);
          const Times road = Siril(framesDir, convert + "cd " + sequence.string() + "\n" + stack);
          if (!fs::exists(sequence / "result.fit")) std::printf("siril-cli wrote no result\n");
          std::printf(
              "siril-cli, threads %2d: road %.3f s = conversion to its FITS sequence "
              "%.3f s + %s %.3f s, each alone\n",
              t == 0 ? 1 : all, road.wall, converted.wall, labels[m], stacked.wall);
          line(m, t, labels[m], road);
        }
      }
      fs::remove_all(sequence);
    }
  }
  fs::remove_all(framesDir);
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
