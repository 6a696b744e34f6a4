#include "numeric/lines.h"

#include <algorithm>

#include "platform/parallel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {
// The sums of outputs x .. x + count - 1 into the sink.
inline void StoreSums(const double* sums, int x, int count, const Sink& sink) {
  if (sink.sums) {
    std::copy(sums, sums + count, sink.sums + x);
  } else if (sink.add) {
    float* out = sink.out + x;
    for (int b = 0; b < count; ++b) out[b] = static_cast<float>(out[b] + sums[b]);
  } else {
    float* out = sink.out + x;
    for (int b = 0; b < count; ++b) out[b] = static_cast<float>(sums[b]);
  }
}

// The sums of outputs [x, n) one at a time, for what the blocks leave.
inline void WeightedLinesFrom(int x, const float* const* line, const double* weight, size_t count,
                              int n, const Sink& sink) {
  for (; x < n; ++x) {
    double s = 0.0;
    for (size_t k = 0; k < count; ++k) s += weight[k] * line[k][x];
    StoreSums(&s, x, 1, sink);
  }
}

// sink[x] = the sum over k of weight[k] * line[k][x], for x in [0, n), in double, the terms
// added in the order of the list. The outputs are taken a block at a time and every line is
// applied to the block while its sums stay in registers: a sum per sample kept in memory
// costs a load and a store for every term.
void WeightedLinesPortable(const float* const* line, const double* weight, size_t count, int n,
                           const Sink& sink) {
  constexpr int kBlock = 16;
  int x = 0;
  for (; x + kBlock <= n; x += kBlock) {
    double s[kBlock] = {};
    for (size_t k = 0; k < count; ++k) {
      const float* src = line[k] + x;
      const double wt = weight[k];
      for (int b = 0; b < kBlock; ++b) s[b] += wt * src[b];
    }
    StoreSums(s, x, kBlock, sink);
  }
  WeightedLinesFrom(x, line, weight, count, n, sink);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZEP_FILTER_AVX2 1
// The same with AVX2 and FMA, chosen at run time: this is the inner loop of every filter.
// 32 outputs in eight vectors of four doubles are enough independent sums to hide the
// latency of the multiply-adds and few enough to stay in the sixteen registers.
__attribute__((target("avx2,fma"))) void WeightedLinesAvx2(const float* const* line,
                                                           const double* weight, size_t count,
                                                           int n, const Sink& sink) {
  constexpr int kVectors = 8, kBlock = 4 * kVectors;
  int x = 0;
  for (; x + kBlock <= n; x += kBlock) {
    __m256d s[kVectors];
    for (__m256d& v : s) v = _mm256_setzero_pd();
    for (size_t k = 0; k < count; ++k) {
      const float* src = line[k] + x;
      const __m256d wt = _mm256_set1_pd(weight[k]);
      for (int v = 0; v < kVectors; ++v) {
        s[v] = _mm256_fmadd_pd(wt, _mm256_cvtps_pd(_mm_loadu_ps(src + 4 * v)), s[v]);
      }
    }
    double sums[kBlock];
    for (int v = 0; v < kVectors; ++v) _mm256_storeu_pd(sums + 4 * v, s[v]);
    StoreSums(sums, x, kBlock, sink);
  }
  WeightedLinesFrom(x, line, weight, count, n, sink);
}
#endif
}  // namespace

void WeightedLines(const float* const* line, const double* weight, size_t count, int n,
                   const Sink& sink) {
#ifdef ZEP_FILTER_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) return WeightedLinesAvx2(line, weight, count, n, sink);
#endif
  WeightedLinesPortable(line, weight, count, n, sink);
}

void SumSourceRows(const RowSources& sources, const float* const* in, float* const* out, int width,
                   bool add) {
  size_t most = 1;
  for (const auto& s : sources) most = std::max(most, s.size());
  ParallelBlocks(int64_t(sources.size()), BlockFor(int64_t(width) * int64_t(most)),
                 [&](int64_t y0, int64_t y1) {
                   Lines lines;
                   for (int64_t y = y0; y < y1; ++y) {
                     lines.clear();
                     for (const auto& [r, w] : sources[size_t(y)]) lines.push(in[r], w);
                     lines.apply(width, {nullptr, out[y], add});
                   }
                 });
}
