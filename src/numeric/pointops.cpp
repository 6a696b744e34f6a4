// Point operations on planes: each element changes by a rule on its own value (or its
// position), one pass over the elements on the parallel helper; and the rank transform,
// which orders the elements by a radix sort of their keys.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include "numeric/bitmask.h"
#include "numeric/blocksum.h"
#include "numeric/dmatrix.h"
#include "numeric/matrix.h"
#include "numeric/radixsort.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
// The number of leading elements a mask can speak for: a mask smaller than the plane
// leaves the elements beyond it alone rather than reading past its words.
int64_t MaskedCount(const matrix& m, const bitmask* mask) {
  const int64_t bits = int64_t(mask->width) * int64_t(mask->height);
  return std::min<int64_t>(m.n, std::max<int64_t>(bits, 0));
}

// Element i becomes f(element i, i) for every element, or for those whose bit is set.
template <class F>
void EachElement(matrix& m, const bitmask* mask, F f) {
  float* x = m.x;
  if (m.n <= 0) return;
  if (mask == nullptr || !mask->present()) {
    ParallelBlocks(m.n, BlockFor(1), [&](int64_t b, int64_t e) {
      for (int64_t i = b; i < e; ++i) x[i] = f(x[i], i);
    });
    return;
  }
  ParallelBlocks(MaskedCount(m, mask), BlockFor(1), [&](int64_t b, int64_t e) {
    for (int64_t i = b; i < e; ++i) {
      if (mask->getbit(int(i))) x[i] = f(x[i], i);
    }
  });
}

// The key of a float in the order of values, as an unsigned word: negatives below
// positives, -0 the same as +0, and every NaN one value above infinity.
inline uint32_t OrderKey(float v) {
  if (v != v) return 0xFFFFFFFFu;
  if (v == 0.0f) v = 0.0f;
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return (u & 0x80000000u) ? ~u : (u | 0x80000000u);
}

// out[k] = base + range * (order value of source element k).
void RankInto(const matrix& source, float* out, double base, double range) {
  const int64_t n = source.n;
  if (n <= 0) return;
  Words items(n);
  const float* x = source.x;
  ParallelBlocks(n, BlockFor(1), [&](int64_t b, int64_t e) {
    for (int64_t i = b; i < e; ++i)
      items[size_t(i)] = (uint64_t(OrderKey(x[i])) << 32) | uint64_t(i);
  });
  RadixSortUpper(items, n);
  const double twiceN = 2.0 * double(n);
  auto key = [&](int64_t k) { return uint32_t(items[size_t(k)] >> 32); };
  // The end of the run of equal keys that holds k, and its start, found by galloping
  // and then halving, so that a long run costs a block only the logarithm of its length.
  auto runEnd = [&](int64_t k) {
    const uint32_t value = key(k);
    int64_t lo = k + 1, hi = k + 1, step = 1;  // every key before lo equals value
    while (hi < n && key(hi) == value) {
      lo = hi + 1;
      hi = std::min(n, hi + step);
      step *= 2;
    }
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (key(mid) == value) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  };
  auto runStart = [&](int64_t k) {
    const uint32_t value = key(k);
    int64_t lo = k, hi = k, step = 1;  // every key from hi on (to k) equals value
    while (lo > 0 && key(lo - 1) == value) {
      hi = lo - 1;
      lo = std::max<int64_t>(0, lo - 1 - step);
      step *= 2;
    }
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (key(mid) == value) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  };
  // The run [a, b) of equal keys holds order values (a + 0.5)/n .. (b - 0.5)/n, whose
  // median is (a + b)/(2n).
  ParallelBlocks(n, BlockFor(4), [&](int64_t b0, int64_t b1) {
    for (int64_t a = runStart(b0); a < b1;) {
      const int64_t b = runEnd(a);
      const float value = float(base + range * (double(a + b) / twiceN));
      for (int64_t k = std::max(a, b0); k < std::min(b, b1); ++k) {
        out[uint32_t(items[size_t(k)])] = value;
      }
      a = b;
    }
  });
}
}  // namespace

matrix& matrix::affine(float a, float b, const bitmask* mask) {
  EachElement(*this, mask, [a, b](float v, int64_t) { return a * v + b; });
  return *this;
}

matrix& matrix::fill(float c, const bitmask* mask) {
  if (mask == nullptr || !mask->present()) return fill(c);
  EachElement(*this, mask, [c](float, int64_t) { return c; });
  return *this;
}

matrix& matrix::reflect(float u, const bitmask* mask) {
  EachElement(*this, mask, [u](float v, int64_t) { return u - v; });
  return *this;
}

matrix& matrix::clipnegative() {
  EachElement(*this, nullptr, [](float v, int64_t) { return v < 0.0f ? 0.0f : v; });
  return *this;
}

// Element v > 0 becomes hi*f(v/hi) and v < 0 becomes s*f(v/s), s being lo when lo < 0
// and -hi otherwise, so a curve of [0, 1] serves the channel's range and mirrors below 0;
// 0 and NaN stay. In double.
template <class F>
void ThroughRange(matrix& m, float lo, float hi, const bitmask* mask, F f) {
  const double l = lo, h = hi;
  const double s = l < 0.0 ? l : -h;
  EachElement(m, mask, [&f, h, s](float v, int64_t) {
    if (v > 0.0f) return float(h * f(double(v) / h));
    if (v < 0.0f) return float(s * f(double(v) / s));
    return v;
  });
}

// The power and curve loops also have an AVX-512 form; none of the forms contracts to fused
// multiply-adds, so all give the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_POINT_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define ZEP_POINT_CLONES
#endif

namespace {
// log2 x for a positive normal double x: x = 2^k m with m in [sqrt(1/2), sqrt(2)), and
// log2 m = (2/ln 2) atanh(s) with s = (m - 1)/(m + 1), |s| < 0.172, by its series in s^2 to
// the eighth term (the next is below 2e-14). Integer arithmetic on the bits and no
// branches, so that a loop of it vectorises.
inline double Log2Positive(double x) {
  constexpr uint64_t kRootHalf = 0x3FE6A09E667F3BCDull;  // the bits of sqrt(1/2)
  constexpr uint64_t kBias = uint64_t(1024) << 52;
  const uint64_t ix = std::bit_cast<uint64_t>(x);
  const uint64_t shifted = ix - kRootHalf + kBias;  // k + 1024 in the exponent field
  const double m = std::bit_cast<double>(ix - (shifted & 0xFFF0000000000000ull) + kBias);
  const double k =
      std::bit_cast<double>((shifted >> 52) | 0x4330000000000000ull) - 0x1p52 - 1024.0;
  const double s = (m - 1.0) / (m + 1.0);
  const double z = s * s;
  // Estrin's scheme: a short chain of dependent operations keeps the pipelines full.
  constexpr double c = 2.8853900817779268;  // 2 / ln 2
  const double z2 = z * z, z4 = z2 * z2;
  const double low = (c + c / 3.0 * z) + (c / 5.0 + c / 7.0 * z) * z2;
  const double high = (c / 9.0 + c / 11.0 * z) + (c / 13.0 + c / 15.0 * z) * z2;
  return k + s * (low + high * z4);
}

// 2^y for |y| <= 1000: y = k + f with k the nearest integer and |f| <= 1/2, 2^f by the
// series of e^(f ln 2) to the eleventh power (the next term is below 7e-15), 2^k put
// into the exponent field.
inline double Exp2Bounded(double y) {
  constexpr double kShifter = 0x1.8p52;  // adding it rounds to an integer in the low bits
  const double shifted = y + kShifter;
  const double f = y - (shifted - kShifter);
  const double g = f * 0.69314718055994531;
  const double g2 = g * g, g4 = g2 * g2, g8 = g4 * g4;
  const double p0 = (1.0 + g) + (0.5 + g * (1.0 / 6.0)) * g2;
  const double p4 = (1.0 / 24.0 + g * (1.0 / 120.0)) + (1.0 / 720.0 + g * (1.0 / 5040.0)) * g2;
  const double p8 =
      (1.0 / 40320.0 + g * (1.0 / 362880.0)) + (1.0 / 3628800.0 + g * (1.0 / 39916800.0)) * g2;
  const double poly = (p0 + p4 * g4) + p8 * g8;
  const uint64_t scale = (std::bit_cast<uint64_t>(shifted) + 1023) << 52;
  return poly * std::bit_cast<double>(scale);
}

// The power of ThroughRange, h (v/h)^p above 0 and s (v/s)^p below, as
// sign * 2^(p log2|v| + (1 - p) log2 S) with S = h or |s|: no division per element.
struct PowerRange {
  double p;
  double addPositive, addNegative;  // (1 - p) log2 S on either side
  double atInfinity;                // (|v|/S)^p at |v| = inf
};

// out[i] = the power of in[i]; 0 and NaN pass as they are. The exponent is clamped to
// +-200, far beyond the floats, so 2^k stays a normal double.
ZEP_POINT_CLONES void PowerRun(const float* in, float* out, int64_t n, const PowerRange& r) {
  const double p = r.p, addPositive = r.addPositive, addNegative = r.addNegative;
  const double atInfinity = r.atInfinity;
  for (int64_t i = 0; i < n; ++i) {
    const float v = in[i];
    const double a = std::fabs(double(v));
    const bool positive = v > 0.0f;
    double y = p * Log2Positive(a) + (positive ? addPositive : addNegative);
    y = std::min(std::max(y, -200.0), 200.0);
    double power = Exp2Bounded(y);
    power = a == std::numeric_limits<double>::infinity() ? atInfinity : power;
    const float result = float(positive ? power : -power);
    out[i] = v > 0.0f || v < 0.0f ? result : v;
  }
}

// The lookup of ThroughRange, S T(|v|/S) with the sign of v, as the table position
// |v| (m - 1)/S: no division per element.
struct CurveRange {
  const double* table;
  int last;                              // the table's last index, at least 1
  double scalePositive, scaleNegative;  // (m - 1)/S on either side
  double hi, s;
};

ZEP_POINT_CLONES void CurveRun(const float* in, float* out, int64_t n, const CurveRange& r) {
  const double* t = r.table;
  const int last = r.last;
  const double scalePositive = r.scalePositive, scaleNegative = r.scaleNegative;
  const double hi = r.hi, s = r.s;
  for (int64_t i = 0; i < n; ++i) {
    const float v = in[i];
    const bool positive = v > 0.0f;
    double q = std::fabs(double(v)) * (positive ? scalePositive : scaleNegative);
    q = q < double(last) ? q : double(last);  // NaN too: its result is not taken
    const int j = std::min(int(q), last - 1);
    const double f = q - double(j);
    const double value = (1.0 - f) * t[j] + f * t[j + 1];
    const float result = float((positive ? hi : s) * value);
    out[i] = v > 0.0f || v < 0.0f ? result : v;
  }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
// CurveRun with AVX-512 for eight elements at a time, the rest through CurveRun. A gather
// per table side costs more than reading each element's pair t[j], t[j + 1] with one
// 16-byte load and sorting the pairs into two vectors; the arithmetic is CurveRun's, step
// for step, so the bits are the same.
__attribute__((target("avx512f,avx512vl,avx512dq"))) void CurveRunAvx512(const float* in,
                                                                         float* out, int64_t n,
                                                                         const CurveRange& r) {
  const double* t = r.table;
  const __m512d scalePositive = _mm512_set1_pd(r.scalePositive);
  const __m512d scaleNegative = _mm512_set1_pd(r.scaleNegative);
  const __m512d hi = _mm512_set1_pd(r.hi), s = _mm512_set1_pd(r.s);
  const __m512d last = _mm512_set1_pd(double(r.last)), one = _mm512_set1_pd(1.0);
  const __m256i lastIndex = _mm256_set1_epi32(r.last - 1);
  const __m512i even = _mm512_setr_epi64(0, 2, 4, 6, 8, 10, 12, 14);
  const __m512i odd = _mm512_setr_epi64(1, 3, 5, 7, 9, 11, 13, 15);
  const __m256 zero = _mm256_setzero_ps();
  // The conversions in their masked forms with every lane on: the plain ones leave GCC
  // warning about their undefined pass-through operand.
  const __mmask8 all = 0xFF;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 v = _mm256_loadu_ps(in + i);
    const __mmask8 positive = _mm256_cmp_ps_mask(v, zero, _CMP_GT_OQ);
    const __mmask8 nonzero = positive | _mm256_cmp_ps_mask(v, zero, _CMP_LT_OQ);
    const __m512d a = _mm512_abs_pd(_mm512_maskz_cvtps_pd(all, v));
    __m512d q = _mm512_mul_pd(a, _mm512_mask_blend_pd(positive, scaleNegative, scalePositive));
    q = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(q, last, _CMP_LT_OQ), last, q);
    const __m256i j = _mm256_min_epi32(_mm512_maskz_cvttpd_epi32(all, q), lastIndex);
    const __m512d f = _mm512_sub_pd(q, _mm512_maskz_cvtepi32_pd(all, j));
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), j);
    __m512d low = _mm512_zextpd128_pd512(_mm_loadu_pd(t + at[0]));
    low = _mm512_insertf64x2(low, _mm_loadu_pd(t + at[1]), 1);
    low = _mm512_insertf64x2(low, _mm_loadu_pd(t + at[2]), 2);
    low = _mm512_insertf64x2(low, _mm_loadu_pd(t + at[3]), 3);
    __m512d high = _mm512_zextpd128_pd512(_mm_loadu_pd(t + at[4]));
    high = _mm512_insertf64x2(high, _mm_loadu_pd(t + at[5]), 1);
    high = _mm512_insertf64x2(high, _mm_loadu_pd(t + at[6]), 2);
    high = _mm512_insertf64x2(high, _mm_loadu_pd(t + at[7]), 3);
    const __m512d left = _mm512_permutex2var_pd(low, even, high);
    const __m512d right = _mm512_permutex2var_pd(low, odd, high);
    const __m512d value =
        _mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(one, f), left), _mm512_mul_pd(f, right));
    const __m256 result =
        _mm512_maskz_cvtpd_ps(all, _mm512_mul_pd(_mm512_mask_blend_pd(positive, s, hi), value));
    _mm256_storeu_ps(out + i, _mm256_mask_blend_ps(nonzero, v, result));
  }
  if (i < n) CurveRun(in + i, out + i, n - i, r);
}
#define ZEP_CURVE_AVX512 1
#endif

// The curve loop in the widest form the processor runs.
void CurveRunBest(const float* in, float* out, int64_t n, const CurveRange& r) {
#ifdef ZEP_CURVE_AVX512
  static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512vl") &&
                             __builtin_cpu_supports("avx512dq");
  if (avx512) {
    CurveRunAvx512(in, out, n, r);
    return;
  }
#endif
  CurveRun(in, out, n, r);
}

// Runs run(in, out, count) over the plane in blocks, or over the masked elements: those
// blocks go through a buffer and only the set bits take their result.
template <class Run>
void EachRun(matrix& m, const bitmask* mask, Run run) {
  float* x = m.x;
  if (m.n <= 0) return;
  if (mask == nullptr || !mask->present()) {
    ParallelBlocks(m.n, BlockFor(4), [&](int64_t b, int64_t e) { run(x + b, x + b, e - b); });
    return;
  }
  ParallelBlocks(MaskedCount(m, mask), BlockFor(4), [&](int64_t b, int64_t e) {
    constexpr int64_t kPiece = 1024;
    float buffer[kPiece];
    for (int64_t p = b; p < e; p += kPiece) {
      const int64_t count = std::min(kPiece, e - p);
      run(x + p, buffer, count);
      for (int64_t i = 0; i < count; ++i) {
        if (mask->getbit(int(p + i))) x[p + i] = buffer[i];
      }
    }
  });
}

// Whether the sides' scales make sense for the division-free forms: a positive finite
// hi, and s negative and finite.
bool UsableRange(double h, double s) {
  return h > 0.0 && std::isfinite(h) && s < 0.0 && std::isfinite(s);
}
}  // namespace

matrix& matrix::gamma(double p, float lo, float hi, const bitmask* mask) {
  const double h = hi, s = double(lo) < 0.0 ? double(lo) : -h;
  // Beyond these powers the sum of the logarithms loses digits a float would show, and
  // p = 0 must give exactly 1 also at infinity: there std::pow serves.
  if (!UsableRange(h, s) || !std::isfinite(p) || p == 0.0 || std::fabs(p) > 1000.0) {
    ThroughRange(*this, lo, hi, mask, [p](double t) { return std::pow(t, p); });
    return *this;
  }
  const PowerRange range{p, (1.0 - p) * std::log2(h), (1.0 - p) * std::log2(-s),
                         p > 0.0 ? std::numeric_limits<double>::infinity() : 0.0};
  EachRun(*this, mask,
          [&](const float* in, float* out, int64_t count) { PowerRun(in, out, count, range); });
  return *this;
}

matrix& matrix::applycurve(const dmatrix& table, float lo, float hi, const bitmask* mask) {
  if (table.n <= 0) return *this;
  const double h = hi, s = double(lo) < 0.0 ? double(lo) : -h;
  if (table.n < 2 || !UsableRange(h, s)) {
    ThroughRange(*this, lo, hi, mask, [&table](double t) { return table.lookup(t); });
    return *this;
  }
  const double last = double(table.n - 1);
  const CurveRange range{table.x, table.n - 1, last / h, last / -s, h, s};
  EachRun(*this, mask,
          [&](const float* in, float* out, int64_t count) { CurveRunBest(in, out, count, range); });
  return *this;
}

matrix& matrix::applytonecurve(ToneCurveFn f, double c, float lo, float hi, const bitmask* mask) {
  if (f == nullptr) return *this;
  ThroughRange(*this, lo, hi, mask, [f, c](double t) { return f(t, c); });
  return *this;
}

matrix& matrix::gradient(float a, int x0, int y0, float b, int x1, int y1, const bitmask* mask) {
  const double dx = double(x1) - x0, dy = double(y1) - y0;
  const double l2 = dx * dx + dy * dy;
  if (std::sqrt(l2) < 0.00001 || nx <= 0) return *this;
  const double from = a, step = double(b) - double(a);
  const int64_t w = nx;
  EachElement(*this, mask, [=](float, int64_t i) {
    const double x = double(i % w) - x0, y = double(i / w) - y0;
    return float(from + step * ((x * dx + y * dy) / l2));
  });
  return *this;
}

matrix& matrix::ranktransform(const matrix& source) {
  if (this != &source && (nx != source.nx || ny != source.ny)) dim(source.nx, source.ny);
  RankInto(source, x, 0.0, 1.0);
  return *this;
}

matrix& matrix::equalize(float lo, float hi) {
  RankInto(*this, x, lo, double(hi) - double(lo));
  return *this;
}

float matrix::maskedmean(const bitmask* mask) const {
  if (n <= 0) return 0.0f;
  const float* v = x;
  if (mask == nullptr || !mask->present()) {
    return float(BlockSum(size_t(n), [v](size_t i) { return double(v[i]); }) / double(n));
  }
  const size_t count = size_t(MaskedCount(*this, mask));
  const double sum =
      BlockSum(count, [v, mask](size_t i) { return mask->getbit(int(i)) ? double(v[i]) : 0.0; });
  const double selected =
      BlockSum(count, [mask](size_t i) { return mask->getbit(int(i)) ? 1.0 : 0.0; });
  return selected > 0 ? float(sum / selected) : 0.0f;
}

void matrix::finiteminmax(float& lo, float& hi, const bitmask* mask) const {
  const bool masked = mask != nullptr && mask->present();
  const int64_t count = masked ? MaskedCount(*this, mask) : int64_t(std::max(n, 0));
  const int64_t block = BlockFor(1);
  const int64_t blocks = (count + block - 1) / block;
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> los(size_t(blocks), inf), his(size_t(blocks), -inf);
  ParallelBlocks(blocks, 1, [&](int64_t b0, int64_t b1) {
    for (int64_t k = b0; k < b1; ++k) {
      float l = inf, h = -inf;
      for (int64_t i = k * block; i < std::min(count, (k + 1) * block); ++i) {
        const float v = x[i];
        if (!std::isfinite(v) || (masked && !mask->getbit(int(i)))) continue;
        l = std::min(l, v);
        h = std::max(h, v);
      }
      los[size_t(k)] = l;
      his[size_t(k)] = h;
    }
  });
  lo = inf;
  hi = -inf;
  for (int64_t k = 0; k < blocks; ++k) {
    lo = std::min(lo, los[size_t(k)]);
    hi = std::max(hi, his[size_t(k)]);
  }
}

matrix::DiffStats matrix::diffstats(const matrix& other) const {
  const int64_t count = std::min(n, other.n);
  const float* a = x;
  const float* b = other.x;
  auto d = [a, b](size_t i) { return double(std::fabs(a[i] - b[i])); };
  const double sum = BlockSum(size_t(std::max<int64_t>(count, 0)), d);
  const double sumsq =
      BlockSum(size_t(std::max<int64_t>(count, 0)), [&d](size_t i) { return d(i) * d(i); });
  // The largest difference, block by block and then over the blocks in order.
  const int64_t block = BlockFor(1);
  const int64_t blocks = count > 0 ? (count + block - 1) / block : 0;
  std::vector<float> largest(size_t(blocks), -1.0f);
  ParallelBlocks(blocks, 1, [&](int64_t b0, int64_t b1) {
    for (int64_t k = b0; k < b1; ++k) {
      float m = -1.0f;
      for (int64_t i = k * block; i < std::min(count, (k + 1) * block); ++i) {
        const float v = std::fabs(a[i] - b[i]);
        if (v > m) m = v;
      }
      largest[size_t(k)] = m;
    }
  });
  float mae = -1.0f;
  for (const float m : largest) mae = std::max(mae, m);
  // 1/n as the single-precision factor the figures have always been scaled by.
  const float inverse = 1.0f / float(n > 0 ? n : 1);
  return {sum * inverse, std::sqrt(sumsq * inverse), mae};
}
