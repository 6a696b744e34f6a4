#pragma once
// Wall and process CPU milliseconds of one run: on a loaded machine the CPU time of the
// one-thread run is the steadier figure, and at all cores the CPU time shows the work the
// threads shared.
#include <chrono>
#include <ctime>
#include <functional>

inline double ProcessMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return 1e3 * double(t.tv_sec) + 1e-6 * double(t.tv_nsec);
}

struct Times {
  double wall, cpu;
};

inline Times Timed(const std::function<void()>& work) {
  const double cpu0 = ProcessMs();
  const auto t0 = std::chrono::steady_clock::now();
  work();
  const double wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  return {wall, ProcessMs() - cpu0};
}
