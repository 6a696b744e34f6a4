// The robust per-pixel combiners of stacking.
#include "ops/stacking/combine.h"

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstring>

#include "numeric/orderstats.h"
#include "numeric/sort.h"
#include "numeric/vectorclones.h"

namespace {
// Lexicographic order of colours, total on floats so that NaN samples cannot break the sort.
bool Before(const fpixel& a, const fpixel& b) {
  if (const auto o = std::strong_order(a.x, b.x); o != 0) return o < 0;
  if (const auto o = std::strong_order(a.y, b.y); o != 0) return o < 0;
  return std::strong_order(a.z, b.z) < 0;
}

bool Close(const fpixel& a, const fpixel& b) {
  constexpr float kTolerance = 1e-6f;
  return std::fabs(a.x - b.x) <= kTolerance && std::fabs(a.y - b.y) <= kTolerance &&
         std::fabs(a.z - b.z) <= kTolerance;
}

float Norm(float x, float y, float z) { return std::sqrt(x * x + y * y + z * z); }

// Channel c of every sample into the value buffer.
float* Channel(std::span<const fpixel> samples, int c, CombineBuffers& b) {
  b.values.resize(samples.size());
  for (size_t k = 0; k < samples.size(); ++k) {
    const fpixel& p = samples[k];
    b.values[k] = c == 0 ? p.x : c == 1 ? p.y : p.z;
  }
  return b.values.data();
}
}  // namespace

fpixel CombineMedian(std::span<const fpixel> samples, CombineBuffers& b) {
  const int n = int(samples.size());
  float out[3];
  for (int c = 0; c < 3; ++c) out[c] = MedianFloats(Channel(samples, c, b), n);
  return {out[0], out[1], out[2]};
}

MedianNetwork::MedianNetwork(int count) : n(std::max(count, 0)) {
  // Batcher's odd-even merge sort, cut to n inputs: a comparator that would reach past n
  // meets a value above every real one and exchanges nothing.
  std::vector<std::pair<int32_t, int32_t>> all;
  for (int p = 1; p < n; p += p) {
    for (int k = p; k >= 1; k /= 2) {
      for (int j = k % p; j <= n - 1 - k; j += 2 * k) {
        for (int i = 0; i <= std::min(k - 1, n - j - k - 1); ++i) {
          if ((i + j) / (2 * p) == (i + j + k) / (2 * p)) all.emplace_back(i + j, i + j + k);
        }
      }
    }
  }
  // Backwards from the middle rank(s), keep only the comparators whose outputs are used.
  std::vector<char> used(size_t(n), 0);
  if (n > 0) {
    used[size_t(n / 2)] = 1;
    used[size_t((n - 1) / 2)] = 1;
  }
  for (size_t c = all.size(); c-- > 0;) {
    const auto [a, b] = all[c];
    if (!used[size_t(a)] && !used[size_t(b)]) continue;
    used[size_t(a)] = used[size_t(b)] = 1;
    pairs.push_back(all[c]);
  }
  std::reverse(pairs.begin(), pairs.end());
}

namespace {
using Float8 = float __attribute__((vector_size(32)));

// The compare-exchanges over `kVectors` runs of eight neighbouring columns, each run at a
// fixed width: with the values of 8 * kVectors columns a few cache lines per rank, the
// network's loads and stores stay in the first-level cache and carry no loop of their own.
// Each lane gets std::min's and std::max's choices exactly, ties and signed zeros
// included, so the result is that of the plain loop bit for bit.
template <int kVectors>
[[gnu::always_inline]] inline void ExchangeRuns(const std::pair<int32_t, int32_t>* pairs,
                                                size_t count, float* values, size_t stride) {
  for (size_t c = 0; c < count; ++c) {
    float* const lo = values + size_t(pairs[c].first) * stride;
    float* const hi = values + size_t(pairs[c].second) * stride;
    Float8 u[kVectors], v[kVectors];
    for (int i = 0; i < kVectors; ++i) {
      std::memcpy(&u[i], lo + 8 * i, sizeof(Float8));
      std::memcpy(&v[i], hi + 8 * i, sizeof(Float8));
    }
    for (int i = 0; i < kVectors; ++i) {
      const Float8 low = v[i] < u[i] ? v[i] : u[i];    // std::min(u, v)
      const Float8 high = u[i] < v[i] ? v[i] : u[i];   // std::max(u, v)
      std::memcpy(lo + 8 * i, &low, sizeof(Float8));
      std::memcpy(hi + 8 * i, &high, sizeof(Float8));
    }
  }
}

ZEP_VECTOR_CLONES void ExchangeSixteen(const std::pair<int32_t, int32_t>* pairs, size_t count,
                                       float* values, size_t stride) {
  ExchangeRuns<2>(pairs, count, values, stride);
}

ZEP_VECTOR_CLONES void ExchangeEight(const std::pair<int32_t, int32_t>* pairs, size_t count,
                                     float* values, size_t stride) {
  ExchangeRuns<1>(pairs, count, values, stride);
}

// The same compare-exchanges over fewer than eight columns.
void ExchangeFew(const std::pair<int32_t, int32_t>* pairs, size_t count, float* values,
                 size_t stride, int lanes) {
  for (size_t c = 0; c < count; ++c) {
    float* const lo = values + size_t(pairs[c].first) * stride;
    float* const hi = values + size_t(pairs[c].second) * stride;
    for (int i = 0; i < lanes; ++i) {
      const float u = lo[i], v = hi[i];
      lo[i] = std::min(u, v);
      hi[i] = std::max(u, v);
    }
  }
}
}  // namespace

ZEP_VECTOR_CLONES void MedianColumns(const MedianNetwork& net, float* values, size_t stride,
                                     int lanes, float* out) {
  const int n = net.n;
  if (n <= 0) {
    std::fill(out, out + lanes, 0.0f);
    return;
  }
  // Sixteen columns at a time run the whole network in the first-level cache; the network
  // over all the columns at once, a comparator after another, would stream them through
  // the second.
  const auto* pairs = net.pairs.data();
  const size_t count = net.pairs.size();
  int i = 0;
  for (; i + 16 <= lanes; i += 16) ExchangeSixteen(pairs, count, values + i, stride);
  for (; i + 8 <= lanes; i += 8) ExchangeEight(pairs, count, values + i, stride);
  if (i < lanes) ExchangeFew(pairs, count, values + i, stride, lanes - i);
  const float* upper = values + size_t(n / 2) * stride;
  if (n % 2) {
    std::copy(upper, upper + lanes, out);
    return;
  }
  // As MedianFloats takes the two middle values: their mean in double.
  const float* lower = values + size_t(n / 2 - 1) * stride;
  for (int i = 0; i < lanes; ++i) out[i] = float((double(lower[i]) + upper[i]) * 0.5);
}

ZEP_VECTOR_CLONES void SplitTriplets(const float* __restrict triplets, int n, float* __restrict c0,
                                     float* __restrict c1, float* __restrict c2,
                                     float* __restrict check) {
  for (int i = 0; i < n; ++i) {
    const float a = triplets[3 * i], b = triplets[3 * i + 1], c = triplets[3 * i + 2];
    c0[i] = a;
    c1[i] = b;
    c2[i] = c;
    check[i] += (a - a) + (b - b) + (c - c);
  }
}

fpixel CombineWmmr(std::span<const fpixel> samples, CombineBuffers& b) {
  const int n = int(samples.size());
  if (n == 0) return {};
  float out[3];
  for (int c = 0; c < 3; ++c) {
    float* v = Channel(samples, c, b);
    SortFloats(v, n);
    out[c] = WmmrSorted(v, n);
  }
  return {out[0], out[1], out[2]};
}

void MergeColourSamples(std::vector<fpixel>& samples, std::vector<int32_t>& counts) {
  counts.clear();
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end(), Before);
  size_t kept = 0;
  int32_t run = 1;
  for (size_t k = 1; k < samples.size(); ++k) {
    if (Close(samples[k], samples[kept])) {
      ++run;
      continue;
    }
    counts.push_back(run);
    samples[++kept] = samples[k];
    run = 1;
  }
  counts.push_back(run);
  samples.resize(kept + 1);
}

fpixel WeiszfeldStep(float x, float y, float z, std::span<const fpixel> distinct,
                     std::span<const int32_t> counts, float* step) {
  // A point next to a sample that stands for several is moved onto it, where the pull of
  // the others decides whether it stays.
  for (size_t j = 0; j < distinct.size(); ++j) {
    if (counts[j] == 1) continue;
    const fpixel& u = distinct[j];
    if (Norm(x - u.x, y - u.y, z - u.z) <= 0.0001f) {
      x = u.x;
      y = u.y;
      z = u.z;
      break;
    }
  }
  float s = 0, px = 0, py = 0, pz = 0, rx = 0, ry = 0, rz = 0, m = 1e16f;
  float w0 = 0;
  bool coincident = false;
  for (size_t j = 0; j < distinct.size(); ++j) {
    const fpixel& u = distinct[j];
    const float d = Norm(u.x - x, u.y - y, u.z - z);
    if (d <= 0.00001f) {
      w0 = float(counts[j]);
      coincident = true;
      continue;
    }
    const float f = float(counts[j]) / d;
    s += f;
    px += f * u.x;
    py += f * u.y;
    pz += f * u.z;
    rx += f * (u.x - x);
    ry += f * (u.y - y);
    rz += f * (u.z - z);
    m = std::min(m, d);
  }
  const float r = Norm(rx, ry, rz);
  const float pull = coincident ? r - w0 : r;
  *step = pull;
  if (pull <= 0.0001f) return {x, y, z};
  if (coincident) {
    float t = std::min(m / 2, pull / (4 * s));
    if (!(t > 0)) t = 0;
    const float a = t / r;
    return {x + a * rx, y + a * ry, z + a * rz};
  }
  return {px / s, py / s, pz / s};
}

fpixel CombineMultivariateMedian(std::span<const fpixel> samples, int iterations,
                                 CombineBuffers& b) {
  if (samples.empty()) return {};
  b.distinct.assign(samples.begin(), samples.end());
  MergeColourSamples(b.distinct, b.counts);
  if (b.distinct.size() == 1) return b.distinct[0];
  float sx = 0, sy = 0, sz = 0;
  for (size_t j = 0; j < b.distinct.size(); ++j) {
    const float c = float(b.counts[j]);
    sx += c * b.distinct[j].x;
    sy += c * b.distinct[j].y;
    sz += c * b.distinct[j].z;
  }
  const float count = float(samples.size());
  fpixel p(sx / count, sy / count, sz / count);
  for (int i = 0; i < iterations; ++i) {
    float step;
    p = WeiszfeldStep(p.x, p.y, p.z, b.distinct, b.counts, &step);
    if (step < 0.0001f) break;
  }
  return p;
}
