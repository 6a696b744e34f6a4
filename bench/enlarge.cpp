// The enlargement cores on a 1000 x 1000 picture beside OpenCV's cv::resize to the same
// sizes: data-dependent Lanczos order 3 by 2 and by 4 of one plane against INTER_LANCZOS4
// and INTER_CUBIC, the colour driver by 2 on RGB, modified B-spline by 3 on RGB against
// INTER_CUBIC, the pseudo-inverse by 4 (and the cost of one Super Rez iteration) and New
// DDL by 4 against INTER_LANCZOS4; the Xin Li models from 500 x 500 to 1000 x 1000 on RGB
// against INTER_LANCZOS4. Each runs with one thread and with all of them (OpenCV with as
// many); the table at the end gives the best times and the ratio ours / OpenCV's (below 1
// we are faster), and for one thread also the calling thread's CPU time, which a busy
// machine disturbs far less than the wall time. Beside them the Jensen-DDL doubling and back-projected DDL by 4 (five
// iterations) of a 500 x 500 picture, Jensen-Xin Li by 2 and back-projected (Jensen-)Xin Li
// by 4 of the same, and one back-projection iteration beside the data-dependent
// enlargement of its residual, which it contains.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <time.h>

#include "image/fpbuffer.h"
#include "numeric/cvector.h"
#include "ops/resize/resize.h"
#include "peerline.h"
#include "picture.h"
#include "platform/progress.h"
#include "threads.h"

#ifdef ZEP_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {
constexpr int kSide = 1000;
constexpr int kSuperRezRounds = 2;

const fpbuffer& Picture() {
  static const fpbuffer image = SmoothNoisyPicture(kSide, kSide, 0.02f, 0.017f, 777);
  return image;
}

// 0.25 MP, the input of the Xin Li jobs.
constexpr int kQuarterSide = 500;
const fpbuffer& QuarterPicture() {
  static const fpbuffer image = SmoothNoisyPicture(kQuarterSide, kQuarterSide, 0.04f, 0.034f, 777);
  return image;
}

// Best milliseconds by job name and thread count, of wall time and of the process's CPU
// time; on one thread the CPU time is the working thread's alone and is the steadier figure
// on a busy machine.
std::map<std::string, std::map<int, double>> best, bestCpu;

// Times work alone: prepare (the copy of an input a job changes in place) runs before
// each run, outside the time, as OpenCV's inputs need none.
void Timed(benchmark::State& state, const std::string& job, int threads,
           const std::function<void()>& work, const std::function<void()>& prepare) {
  SetParallelThreads(threads);
  double ms = 1e300, cpu = 1e300;
  for (auto _ : state) {
    if (prepare) prepare();
    const double c0 = ProcessMs();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const auto t1 = std::chrono::steady_clock::now();
    cpu = std::min(cpu, ProcessMs() - c0);
    ms = std::min(ms, std::chrono::duration<double, std::milli>(t1 - t0).count());
    benchmark::ClobberMemory();
  }
  best[job][threads] = std::min(best[job].count(threads) ? best[job][threads] : 1e300, ms);
  bestCpu[job][threads] =
      std::min(bestCpu[job].count(threads) ? bestCpu[job][threads] : 1e300, cpu);
  SetParallelThreads(0);
}

struct Job {
  std::string name;
  std::function<void()> run;
  std::function<void()> prepare = {};
};

// The colour picture a job enlarges in place, copied afresh before each run.
fpbuffer& Working() {
  static fpbuffer image;
  return image;
}
void CopyPicture() { Working() = Picture(); }

std::vector<Job> Jobs() {
  std::vector<Job> jobs;
  static matrix out;
  // In memory the data-dependent enlargement only reads its source.
  static matrix green = Picture().plane[1];
  for (int passes : {1, 2}) {
    jobs.push_back({"DDL3 x" + std::to_string(1 << passes), [passes] {
                      bytemaps maps;
                      StartProgress(1e9f);
                      out.DdlEnlarge(green, 3, passes, true, true, false, false, maps, true);
                    }});
  }
  jobs.push_back({"DDL3 RGB x2",
                  [] {
                    bytemaps maps;
                    StartProgress(1e9f);
                    ddl(Working(), 0, 3, 1, true, true, false, false, maps, true);
                  },
                  CopyPicture});
  jobs.push_back({"MBS RGB x3",
                  [] {
                    StartProgress(1e9f);
                    mbs(Working(), 0, 3, false);
                  },
                  CopyPicture});
  // The Jensen and back-projected cores on a quarter megapixel.
  jobs.push_back({"JDDL RGB x2", [] {
                    fpbuffer image = QuarterPicture();
                    StartProgress(1e9f);
                    jddl(image, 1, 0, 3, true, JensenModel{}, false, false);
                  }});
  jobs.push_back({"BPDDL RGB x4", [] {
                    fpbuffer image = QuarterPicture();
                    BackProjection bp;
                    bp.mode1 = 4;
                    bp.iterations1 = 5;
                    StartProgress(1e9f);
                    bpddl(image, 0, bp, false, 1, 3, 2, false, nullptr);
                  }});
  // Jensen-Xin Li by 2, and the back-projected Xin Li cores by 4 with the same refinement.
  jobs.push_back({"JXL RGB x2", [] {
                    fpbuffer image = QuarterPicture();
                    StartProgress(1e9f);
                    jensenxinli(image, 1, 0, XinLiModel{}, true, JensenModel{}, false);
                  }});
  for (bool jensen : {false, true}) {
    jobs.push_back({jensen ? "BPJXL RGB x4" : "BPXL RGB x4", [jensen] {
                      fpbuffer image = QuarterPicture();
                      BackProjection bp;
                      bp.mode1 = 4;
                      bp.iterations1 = 5;
                      StartProgress(1e9f);
                      if (jensen) {
                        bpjxl(image, 0, JensenModel{}, bp, false, 1, XinLiModel{}, 2, nullptr);
                      } else {
                        bpxl(image, 0, bp, false, 1, XinLiModel{}, 2, nullptr);
                      }
                    }});
  }
  // One back-projection iteration against the enlargement of its residual alone.
  static matrix estimate = [] {
    matrix in = QuarterPicture().plane[1], x;
    bytemaps maps;
    StartProgress(1e9f);
    return x.DdlEnlarge(in, 3, 2, true, true, false, false, maps, true);
  }();
  // The estimate is copied before each run, outside the time: the copy is no part of an
  // iteration.
  static matrix refined;
  for (int iterations : {1, 5}) {
    jobs.push_back({"BP iteration" + std::string(iterations > 1 ? "s 5" : "") + " x4",
                    [iterations] {
                      StartProgress(1e9f);
                      refined.BackProject(QuarterPicture().plane[1], -1, false, 4, 3, iterations,
                                          0, 0, 0, 0, 0, 0);
                    },
                    [] { refined = estimate; }});
  }
  jobs.push_back({"DDL3 residual x4", [] {
                    matrix in = QuarterPicture().plane[1];
                    bytemaps maps;
                    StartProgress(1e9f);
                    out.DdlEnlarge(in, 3, 2, true, true, false, false, maps, true);
                  }});
  // The pseudo-inverse by 4 of one plane with the page's kernels (Lanczos-3 reduction,
  // Lanczos-5 base), without and with two rounds of Super Rez, and New DDL by 4 with the
  // presharpening of its defaults and two rounds of Super Rez.
  for (int rounds : {0, kSuperRezRounds}) {
    jobs.push_back(
        {"PINV x4" + std::string(rounds ? " SR" + std::to_string(rounds) : ""), [rounds] {
           const matrix& low = Picture().plane[1];
           matrix cache;
           StartProgress(1e9f);
           out.pseudoinverseenlarge(low, 4, 3, 5, cache, false, 0, 0, false);
           out.superrez(low, cache, 4, 3, 5, 0.2f, 20, 0.1f, rounds, 2, 0, 0);
         }});
  }
  jobs.push_back({"NewDDL x4 SR" + std::to_string(kSuperRezRounds), [] {
                    StartProgress(1e9f);
                    out.NewDdlChannel(Picture().plane[1], 2, 3, 5, 3, 0, 0, 0, 0.2f, 20, 0,
                                      kSuperRezRounds, 2, true);
                  }});
  // Xin Li from 0.25 MP to 1 MP on RGB with the default settings: the twelve-coefficient
  // model with its training sums built whole per target and incrementally, and the classic
  // model.
  for (bool incremental : {false, true}) {
    jobs.push_back({incremental ? "XinLi12 RGB x2" : "XinLi12 direct RGB x2", [incremental] {
                      fpbuffer image = QuarterPicture();
                      StartProgress(1e9f);
                      image.XinLiEnlarge(1, 8, 0, 0, 0, 1, false, 1.5f, incremental);
                    }});
  }
  jobs.push_back({"XinLi classic RGB x2", [] {
                    fpbuffer image = QuarterPicture();
                    StartProgress(1e9f);
                    image.xinlipasses(1, 8, 0, 0, 0, 1, false);
                  }});
#ifdef ZEP_HAVE_OPENCV
  static cv::Mat dst;
  auto plane = [] {
    return cv::Mat(kSide, kSide, CV_32F, const_cast<float*>(Picture().plane[1].x));
  };
  auto rgb = [] {
    std::vector<cv::Mat> planes;
    for (int c = 0; c < 3; ++c) {
      planes.emplace_back(kSide, kSide, CV_32F, const_cast<float*>(Picture().plane[c].x));
    }
    cv::Mat m;
    cv::merge(planes, m);
    return m;
  };
  for (int f : {2, 4}) {
    for (auto [name, mode] :
         {std::pair{"lanczos4", cv::INTER_LANCZOS4}, std::pair{"cubic", cv::INTER_CUBIC}}) {
      jobs.push_back({std::string("OpenCV ") + name + " x" + std::to_string(f), [=] {
                        cv::resize(plane(), dst, cv::Size(kSide * f, kSide * f), 0, 0, mode);
                      }});
    }
  }
  static const cv::Mat colour = rgb();
  jobs.push_back(
      {"OpenCV lanczos4 RGB x2",
       [] { cv::resize(colour, dst, cv::Size(kSide * 2, kSide * 2), 0, 0, cv::INTER_LANCZOS4); }});
  static const cv::Mat quarter = [] {
    std::vector<cv::Mat> planes;
    for (int c = 0; c < 3; ++c) {
      planes.emplace_back(kQuarterSide, kQuarterSide, CV_32F,
                          const_cast<float*>(QuarterPicture().plane[c].x));
    }
    cv::Mat m;
    cv::merge(planes, m);
    return m;
  }();
  jobs.push_back({"OpenCV lanczos4 RGB 0.25 MP x2", [] {
                    cv::resize(quarter, dst, cv::Size(2 * kQuarterSide, 2 * kQuarterSide), 0, 0,
                               cv::INTER_LANCZOS4);
                  }});
  jobs.push_back({"OpenCV cubic RGB x3", [] {
                    cv::resize(colour, dst, cv::Size(kSide * 3, kSide * 3), 0, 0, cv::INTER_CUBIC);
                  }});
#endif
  return jobs;
}

void Compare(const char* ours, const char* peer) {
  for (const auto& [threads, ms] : best[ours]) {
    const auto it = best.count(peer) ? best[peer].find(threads) : best[peer].end();
    if (it == best[peer].end()) {
      std::printf("%-14s threads %2d  ZEP %8.1f ms\n", ours, threads, ms);
      continue;
    }
    std::printf("%-14s threads %2d  ZEP %8.1f ms   %-24s %8.1f ms   ratio %5.2f\n", ours, threads,
                ms, peer, it->second, ms / it->second);
    if (threads == 1 && bestCpu[ours].count(1) && bestCpu[peer].count(1)) {
      const double a = bestCpu[ours][1], b = bestCpu[peer][1];
      std::printf("%-14s threads  1  CPU %8.1f ms   %-24s %8.1f ms   ratio %5.2f\n", ours, a, peer,
                  b, a / b);
    }
  }
}
}  // namespace

int main(int argc, char** argv) {
  const int all = AllThreads();
  for (const Job& job : Jobs()) {
    for (int threads : {1, all}) {
      const std::string name = job.name + "/threads:" + std::to_string(threads);
      benchmark::RegisterBenchmark(name.c_str(),
                                   [job, threads](benchmark::State& s) {
#ifdef ZEP_HAVE_OPENCV
                                     cv::setNumThreads(threads);
#endif
                                     Timed(s, job.name, threads, job.run, job.prepare);
                                   })
          ->Iterations(3)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\n%d x %d, best of 3 runs\n", kSide, kSide);
  Compare("DDL3 x2", "OpenCV lanczos4 x2");
  Compare("DDL3 x2", "OpenCV cubic x2");
  Compare("DDL3 x4", "OpenCV lanczos4 x4");
  Compare("DDL3 x4", "OpenCV cubic x4");
  Compare("DDL3 RGB x2", "OpenCV lanczos4 RGB x2");
  Compare("MBS RGB x3", "OpenCV cubic RGB x3");
  Compare("BP iteration x4", "DDL3 residual x4");
  // One iteration is the residual's enlargement and two reductions; each further one has a
  // single reduction, so (5 iterations - 1) / 4 is the cost of an iteration in a longer run.
  for (const auto& [threads, ms] : best["BP iterations 5 x4"]) {
    const auto& one = best["BP iteration x4"];
    const auto& ddl = best["DDL3 residual x4"];
    if (!one.count(threads) || !ddl.count(threads)) continue;
    std::printf("BP x4 threads %2d  one iteration / DDL %5.2f, a further iteration / DDL %5.2f\n",
                threads, one.at(threads) / ddl.at(threads),
                (ms - one.at(threads)) / 4 / ddl.at(threads));
  }
  if (bestCpu["BP iteration x4"].count(1) && bestCpu["DDL3 residual x4"].count(1)) {
    const double one = bestCpu["BP iteration x4"][1], ddl = bestCpu["DDL3 residual x4"][1];
    std::printf("BP x4 thread CPU, one thread: iteration %.1f ms, DDL %.1f ms, ratio %5.2f",
                one, ddl, one / ddl);
    if (bestCpu["BP iterations 5 x4"].count(1)) {
      std::printf(", a further iteration %5.2f", (bestCpu["BP iterations 5 x4"][1] - one) / 4 / ddl);
    }
    std::printf("\n");
  }
  Compare("PINV x4", "OpenCV lanczos4 x4");
  Compare("NewDDL x4 SR2", "OpenCV lanczos4 x4");
  const std::string sr = "PINV x4 SR" + std::to_string(kSuperRezRounds);
  for (const auto& [threads, ms] : best[sr]) {
    if (best["PINV x4"].count(threads)) {
      std::printf("Super Rez x4    threads %2d  %8.1f ms per iteration\n", threads,
                  (ms - best["PINV x4"][threads]) / kSuperRezRounds);
    }
  }
  if (bestCpu[sr].count(1) && bestCpu["PINV x4"].count(1)) {
    std::printf("Super Rez x4    thread CPU  %8.1f ms per iteration\n",
                (bestCpu[sr][1] - bestCpu["PINV x4"][1]) / kSuperRezRounds);
  }
  std::printf("\nXin Li, %d x %d to %d x %d RGB\n", kQuarterSide, kQuarterSide, 2 * kQuarterSide,
              2 * kQuarterSide);
  for (const char* job :
       {"XinLi12 direct RGB x2", "XinLi12 RGB x2", "XinLi classic RGB x2", "JXL RGB x2"}) {
    Compare(job, "OpenCV lanczos4 RGB 0.25 MP x2");
  }
  for (const auto& [threads, ms] : best["XinLi12 RGB x2"]) {
    if (best["XinLi12 direct RGB x2"].count(threads)) {
      std::printf("XinLi12 direct / incremental, threads %2d: %5.2f\n", threads,
                  best["XinLi12 direct RGB x2"][threads] / ms);
    }
  }
  if (bestCpu["XinLi12 RGB x2"].count(1) && bestCpu["XinLi12 direct RGB x2"].count(1)) {
    std::printf("XinLi12 direct / incremental, thread CPU: %5.2f\n",
                bestCpu["XinLi12 direct RGB x2"][1] / bestCpu["XinLi12 RGB x2"][1]);
  }
  // Beside each speed-up the process CPU time on all threads over that on one: the work the
  // threads add (waits, faults, memory stalls), which a busy machine disturbs less than the
  // wall times. OpenCV's own speed-ups on the matching jobs come last.
  for (const char* job :
       {"DDL3 x2", "DDL3 x4", "DDL3 RGB x2", "MBS RGB x3", "JDDL RGB x2", "BPDDL RGB x4",
        "XinLi12 RGB x2", "XinLi classic RGB x2", "JXL RGB x2", "BPXL RGB x4", "BPJXL RGB x4",
        "OpenCV lanczos4 x2", "OpenCV lanczos4 RGB x2", "OpenCV cubic RGB x3"}) {
    if (best[job].count(1) && best[job].count(all)) {
      std::printf("%-22s speed-up on %d threads %5.2f   CPU %d / 1 threads %5.2f\n", job, all,
                  best[job][1] / best[job][all], all, bestCpu[job][all] / bestCpu[job][1]);
    }
  }
  return 0;
}
