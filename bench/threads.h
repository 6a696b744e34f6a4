#pragma once
// Every benchmark runs with one thread and with all of them: the count is its last argument
// ("threads"), set for the run by BenchThreads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>

#include "platform/parallel.h"

// The thread count of a plain run: ZEP_THREADS or every hardware thread.
inline int AllThreads() {
  SetParallelThreads(0);
  return ParallelThreads();
}

// Registers the benchmark once per value of its first argument (or once when there is
// none), with 1 thread and with all of them.
inline void ThreadArgs(benchmark::internal::Benchmark* b, std::initializer_list<int64_t> first) {
  const int all = AllThreads();
  if (first.size() == 0) {
    b->ArgName("threads");
    for (int t : {1, all}) b->Arg(t);
    return;
  }
  b->ArgNames({"", "threads"});
  for (int64_t a : first) {
    for (int t : {1, all}) b->Args({a, t});
  }
}
inline void OneAndAllThreads(benchmark::internal::Benchmark* b) { ThreadArgs(b, {}); }

// Runs the loops of one benchmark on the count of its argument `index`.
class BenchThreads {
 public:
  BenchThreads(const benchmark::State& state, int index) {
    SetParallelThreads(int(state.range(index)));
  }
  ~BenchThreads() { SetParallelThreads(0); }
  BenchThreads(const BenchThreads&) = delete;
  BenchThreads& operator=(const BenchThreads&) = delete;
};
