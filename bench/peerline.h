#pragma once
// The timing and the report line of the benchmarks that run beside a peer tool in one
// program: the best of a few runs, and ours, theirs and the ratio on one line.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>

// The best wall time of `runs` runs of work, in milliseconds; prepare runs untimed first.
inline double Best(int runs, const std::function<void()>& prepare,
                   const std::function<void()>& work) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    prepare();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

// The best wall time and the best CPU time (from cpuClock, in milliseconds) of `runs` runs
// of work, in milliseconds; prepare runs untimed first. On a busy machine the CPU time is
// the steadier figure.
struct Times {
  double wall = 1e300, cpu = 1e300;
};

// This process's CPU time in milliseconds, every thread's.
inline double ProcessMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return 1e3 * double(t.tv_sec) + 1e-6 * double(t.tv_nsec);
}

// The wall and process CPU milliseconds of one run of work.
inline Times Timed(const std::function<void()>& work) {
  const double cpu0 = ProcessMs();
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const double wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  return {wall, ProcessMs() - cpu0};
}

inline Times BestTimes(int runs, const std::function<void()>& prepare,
                       const std::function<void()>& work, double (*cpuClock)()) {
  Times best;
  for (int r = 0; r < runs; ++r) {
    prepare();
    const double c0 = cpuClock();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const auto t1 = std::chrono::steady_clock::now();
    best.cpu = std::min(best.cpu, cpuClock() - c0);
    best.wall = std::min(best.wall, std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  return best;
}

inline void Line(const char* name, int threads, double ours, const char* peer, double theirs) {
  if (theirs > 0) {
    std::printf("%-26s threads %2d  ZEP %9.1f ms   %-22s %9.1f ms   ratio %5.2f\n", name, threads,
                ours, peer, theirs, ours / theirs);
  } else {
    std::printf("%-26s threads %2d  ZEP %9.1f ms\n", name, threads, ours);
  }
}
