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

// The power and curve loops also have an AVX-512 form. No form contracts a product and a sum
// by itself; the fused multiply-adds are written out (std::fma), and every form rounds them
// once, in the instruction or in the library's function, so all give the same bits. The
// middle form is Haswell's, which has the instruction.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define ZEP_POINT_CLONES __attribute__((target_clones("avx512f", "arch=haswell", "default")))
#else
#define ZEP_POINT_CLONES
#endif

namespace {
// The power runs as 2^(p log2|v| + c) in double, both halves from 16-entry tables and short
// polynomials, so that the wide form reads its tables from registers. scripts/power_tables.py
// derives the constants and the polynomials' error bounds.
//
// log2: |v| = 2^k m with m in [1, 2), cut into 16 pieces by the top four bits of its
// mantissa. Piece i has a centre whose reciprocal kInverseCentre[i] has 29 significant bits,
// so r = m/c_i - 1 comes exactly from m's 24 (a float's), with -0.0295 < r < 0.0313;
// log2(1 + r) = r q(r), q of degree 5 interpolating at Chebyshev nodes of that interval,
// within 2^-42.5 of it.
alignas(64) constexpr double kInverseCentre[16] = {
    0x1.f0f0f0fp-1, 0x1.d47f29dp-1, 0x1.bb226edp-1, 0x1.a46102bp-1, 0x1.8fd8fd9p-1, 0x1.7d3abc6p-1,
    0x1.6c44ce7p-1, 0x1.5cc0ed7p-1, 0x1.4e81b4fp-1, 0x1.4160e2ep-1, 0x1.353dfe9p-1, 0x1.29fd4a8p-1,
    0x1.1f86efap-1, 0x1.15c6539p-1, 0x1.0ca990dp-1, 0x1.0421084p-1};
// log2 c_i = -log2 kInverseCentre[i], rounded.
constexpr double kLog2Centre[16] = {
    0x1.60d1a81694c01p-5, 0x1.065bd2c4ba5b9p-3, 0x1.aacd2c234c03fp-3, 0x1.2347bfda873dap-2,
    0x1.6d411074623a6p-2, 0x1.b3b22738ad2edp-2, 0x1.f6ed877e0922ap-2, 0x1.1b9d729e60d1dp-1,
    0x1.3a6c797559339p-1, 0x1.57ff6b2c35ce8p-1, 0x1.746ea8ce8a1e7p-1, 0x1.8fcfdbcf3a219p-1,
    0x1.aa365965c51a2p-1, 0x1.c3b3759d38262p-1, 0x1.dc56c745ad91ap-1, 0x1.f42e627f1306cp-1};
constexpr double kLog2Poly[6] = {0x1.71547652bd97cp+0, -0x1.715476513840bp-1,
                                 0x1.ec709749aba27p-2, -0x1.7154b65ec0ec1p-2,
                                 0x1.27c098d4b1df2p-2, -0x1.eaa01796972a0p-3};
// 2^y: y = n/16 + f with n the nearest integer to 16 y and |f| <= 1/32;
// 2^(n/16) = 2^(n >> 4) 2^(j/16) with j = n & 15, and 2^f = 1 + f e(f), e of degree 3
// interpolating at Chebyshev nodes, within 2^-37.5 of 2^f relatively. kExp2Table[j] is
// 2^(j/16) rounded; its bit pattern less j << 48 plus n << 48 puts n >> 4 into the
// exponent field as well.
alignas(64) constexpr uint64_t kExp2Table[16] = {
    0x3ff0000000000000ull, 0x3ff0b5586cf9890full, 0x3ff172b83c7d517bull, 0x3ff2387a6e756238ull,
    0x3ff306fe0a31b715ull, 0x3ff3dea64c123422ull, 0x3ff4bfdad5362a27ull, 0x3ff5ab07dd485429ull,
    0x3ff6a09e667f3bcdull, 0x3ff7a11473eb0187ull, 0x3ff8ace5422aa0dbull, 0x3ff9c49182a3f090ull,
    0x3ffae89f995ad3adull, 0x3ffc199bdd85529cull, 0x3ffd5818dcfba487ull, 0x3ffea4afa2a490daull};
constexpr double kExp2Poly[4] = {0x1.62e42fee4615fp-1, 0x1.ebfbdff78ad41p-3, 0x1.c6b3488206d06p-5,
                                 0x1.3b2bfa0553142p-7};
// Adding it rounds to a multiple of 1/16: the low bits of the sum's pattern hold 16 y.
constexpr double kExp2Shifter = 0x1.8p48;
// The one-element form clamps the exponent to +-200, far beyond the floats, so that
// 2^(n >> 4) stays a normal double; the wide form scales with an instruction that
// saturates by itself.
constexpr double kExponentBound = 200.0;

// The power of ThroughRange, h (v/h)^p above 0 and s (v/s)^p below, as
// sign * 2^(p log2|v| + (1 - p) log2 S) with S = h or |s|: no division per element. The
// tables fold p and the positive side's constant in once per plane.
struct PowerRange {
  alignas(64) double base[16];  // p log2 c_i + (1 - p) log2 h
  double p;
  double poly[6];        // p kLog2Poly
  double negativeShift;  // (1 - p) (log2 |s| - log2 h), added below 0
  double atInfinity;     // (|v|/S)^p at |v| = inf
  PowerRange(double power, double log2High, double log2Low) : p(power) {
    const double addPositive = (1.0 - p) * log2High;
    for (int i = 0; i < 16; ++i) base[i] = p * kLog2Centre[i] + addPositive;
    for (int j = 0; j < 6; ++j) poly[j] = p * kLog2Poly[j];
    negativeShift = (1.0 - p) * log2Low - addPositive;
    atInfinity = p > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
};

// (|v|/S)^p S for |v| = a, a positive or infinite double from a float (not 0, not NaN:
// their results are not taken). Every operation is spelled out in the order the wide
// form does it, so that both give the same bits.
inline double PowerOf(double a, bool positive, const PowerRange& t) {
  const uint64_t ix = std::bit_cast<uint64_t>(a);
  const int i = int((ix >> 48) & 15);
  const double k = double(int(ix >> 52) - 1023);
  const double m = std::bit_cast<double>((ix & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);
  const double r = std::fma(m, kInverseCentre[i], -1.0);
  // Estrin's scheme: a short chain of dependent operations keeps the pipelines full.
  const double* c = t.poly;
  const double r2 = r * r;
  const double q = std::fma(std::fma(c[5], r, c[4]), r2 * r2,
                            std::fma(std::fma(c[3], r, c[2]), r2, std::fma(c[1], r, c[0])));
  double y = std::fma(r, q, std::fma(t.p, k, t.base[i]));
  y = positive ? y : y + t.negativeShift;
  y = std::min(std::max(y, -kExponentBound), kExponentBound);
  const double n16 = y + kExp2Shifter;
  const double f = y - (n16 - kExp2Shifter);
  const uint64_t nb = std::bit_cast<uint64_t>(n16);
  const double scale = std::bit_cast<double>(kExp2Table[nb & 15] - ((nb & 15) << 48) + (nb << 48));
  const double* b = kExp2Poly;
  const double e = std::fma(std::fma(b[3], f, b[2]), f * f, std::fma(b[1], f, b[0]));
  const double power = scale * std::fma(f, e, 1.0);
  return a == std::numeric_limits<double>::infinity() ? t.atInfinity : power;
}

// out[i] = the power of in[i]; 0 and NaN pass as they are.
ZEP_POINT_CLONES void PowerRun(const float* in, float* out, int64_t n, const PowerRange& r) {
  for (int64_t i = 0; i < n; ++i) {
    const float v = in[i];
    const bool positive = v > 0.0f;
    const double power = PowerOf(std::fabs(double(v)), positive, r);
    const float result = float(positive ? power : -power);
    out[i] = v > 0.0f || v < 0.0f ? result : v;
  }
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
// PowerRun with AVX-512 for eight elements at a time, the rest through PowerRun. Each
// 16-entry table sits in two registers and is read with one permute, not a gather. The
// arithmetic is PowerOf's, step for step; only 2^(n >> 4) multiplies the other factors'
// product instead of 2^(j/16), which is exact as long as the product is a normal double,
// as it is for every exponent the clamp lets through. So the bits are the same.
// Mirrored: the negative side has its own range, so its exponent is shifted.
template <bool Mirrored>
__attribute__((target("avx512f,avx512vl,avx512dq"))) void PowerRunAvx512(const float* in,
                                                                         float* out, int64_t n,
                                                                         const PowerRange& t) {
  const __m512d inverse0 = _mm512_load_pd(kInverseCentre);
  const __m512d inverse1 = _mm512_load_pd(kInverseCentre + 8);
  const __m512d base0 = _mm512_load_pd(t.base), base1 = _mm512_load_pd(t.base + 8);
  const __m512d steps0 = _mm512_castsi512_pd(_mm512_load_si512(kExp2Table));
  const __m512d steps1 = _mm512_castsi512_pd(_mm512_load_si512(kExp2Table + 8));
  const __m512d one = _mm512_set1_pd(1.0), p = _mm512_set1_pd(t.p);
  const __m512d c0 = _mm512_set1_pd(t.poly[0]), c1 = _mm512_set1_pd(t.poly[1]);
  const __m512d c2 = _mm512_set1_pd(t.poly[2]), c3 = _mm512_set1_pd(t.poly[3]);
  const __m512d c4 = _mm512_set1_pd(t.poly[4]), c5 = _mm512_set1_pd(t.poly[5]);
  const __m512d b0 = _mm512_set1_pd(kExp2Poly[0]), b1 = _mm512_set1_pd(kExp2Poly[1]);
  const __m512d b2 = _mm512_set1_pd(kExp2Poly[2]), b3 = _mm512_set1_pd(kExp2Poly[3]);
  const __m512d negativeShift = _mm512_set1_pd(t.negativeShift);
  const __m512d shifter = _mm512_set1_pd(kExp2Shifter);
  const __m512d atInfinity = _mm512_set1_pd(t.atInfinity);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256 infinity = _mm256_set1_ps(std::numeric_limits<float>::infinity());
  const __m256i sign = _mm256_set1_epi32(int32_t(0x80000000u));
  // The operations in their masked forms with every lane on: the plain ones leave GCC
  // warning about their undefined pass-through operand.
  const __mmask8 all = 0xFF;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 v = _mm256_loadu_ps(in + i);
    const __mmask8 nonzero = _mm256_cmp_ps_mask(v, zero, _CMP_NEQ_OQ);
    const __m256 absolute = _mm256_and_ps(v, magnitude);
    const __m512d a = _mm512_maskz_cvtps_pd(all, absolute);
    const __m512i piece = _mm512_maskz_srli_epi64(all, _mm512_castpd_si512(a), 48);  // 4 bits read
    const __m512d k = _mm512_maskz_getexp_pd(all, a);
    const __m512d m = _mm512_maskz_getmant_pd(all, a, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
    const __m512d r = _mm512_fmsub_pd(m, _mm512_permutex2var_pd(inverse0, piece, inverse1), one);
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d q = _mm512_fmadd_pd(
        _mm512_fmadd_pd(c5, r, c4), _mm512_mul_pd(r2, r2),
        _mm512_fmadd_pd(_mm512_fmadd_pd(c3, r, c2), r2, _mm512_fmadd_pd(c1, r, c0)));
    __m512d y =
        _mm512_fmadd_pd(r, q, _mm512_fmadd_pd(p, k, _mm512_permutex2var_pd(base0, piece, base1)));
    if constexpr (Mirrored) {
      const __mmask8 negative = _mm256_cmp_ps_mask(v, zero, _CMP_LT_OQ);
      y = _mm512_mask_add_pd(y, negative, y, negativeShift);
    }
    const __m512d n16 = _mm512_add_pd(y, shifter);
    const __m512d whole = _mm512_sub_pd(n16, shifter);
    const __m512d f = _mm512_sub_pd(y, whole);
    const __m512d step = _mm512_permutex2var_pd(steps0, _mm512_castpd_si512(n16), steps1);
    const __m512d e = _mm512_fmadd_pd(_mm512_fmadd_pd(b3, f, b2), _mm512_mul_pd(f, f),
                                      _mm512_fmadd_pd(b1, f, b0));
    __m512d power =
        _mm512_maskz_scalef_pd(all, _mm512_mul_pd(step, _mm512_fmadd_pd(f, e, one)), whole);
    power =
        _mm512_mask_blend_pd(_mm256_cmp_ps_mask(absolute, infinity, _CMP_EQ_OQ), power, atInfinity);
    // The power is positive: the sign of v goes onto it.
    const __m256i result = _mm256_ternarylogic_epi32(
        _mm256_castps_si256(_mm512_maskz_cvtpd_ps(all, power)), _mm256_castps_si256(v), sign, 0xF8);
    _mm256_storeu_ps(out + i, _mm256_mask_blend_ps(nonzero, v, _mm256_castsi256_ps(result)));
  }
  if (i < n) PowerRun(in + i, out + i, n - i, t);
}
#define ZEP_POWER_AVX512 1

// Whether the processor runs the AVX-512 forms.
bool RunsAvx512() {
  static const bool avx512 = __builtin_cpu_supports("avx512f") &&
                             __builtin_cpu_supports("avx512vl") &&
                             __builtin_cpu_supports("avx512dq");
  return avx512;
}
#endif

// The power loop in the widest form the processor runs.
void PowerRunBest(const float* in, float* out, int64_t n, const PowerRange& r) {
#ifdef ZEP_POWER_AVX512
  if (RunsAvx512()) {
    if (r.negativeShift != 0.0) {
      PowerRunAvx512<true>(in, out, n, r);
    } else {
      PowerRunAvx512<false>(in, out, n, r);
    }
    return;
  }
#endif
  PowerRun(in, out, n, r);
}

// The lookup of ThroughRange, S T(|v|/S) with the sign of v, as the table position
// |v| (m - 1)/S: no division per element.
struct CurveRange {
  const double* table;
  int last;                             // the table's last index, at least 1
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
  const __m512i lastIndex = _mm512_set1_epi64(r.last - 1);
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
    const __m512i j = _mm512_maskz_min_epi64(all, _mm512_maskz_cvttpd_epi64(all, q), lastIndex);
    const __m512d f = _mm512_sub_pd(q, _mm512_maskz_cvtepi64_pd(all, j));
    // The indices go through memory: the compiler would otherwise pull each out of the
    // register with an extract, which costs the vector units more than a store and eight
    // loads cost the load units.
    alignas(64) int64_t at[8];
    _mm512_store_si512(at, j);
    __asm__("" : "+m"(at));
    // Broadcasts under a mask place the pairs without the shuffle units.
    __m512d low = _mm512_zextpd128_pd512(_mm_loadu_pd(t + at[0]));
    low = _mm512_mask_broadcast_f64x2(low, 0x0C, _mm_loadu_pd(t + at[1]));
    low = _mm512_mask_broadcast_f64x2(low, 0x30, _mm_loadu_pd(t + at[2]));
    low = _mm512_mask_broadcast_f64x2(low, 0xC0, _mm_loadu_pd(t + at[3]));
    __m512d high = _mm512_zextpd128_pd512(_mm_loadu_pd(t + at[4]));
    high = _mm512_mask_broadcast_f64x2(high, 0x0C, _mm_loadu_pd(t + at[5]));
    high = _mm512_mask_broadcast_f64x2(high, 0x30, _mm_loadu_pd(t + at[6]));
    high = _mm512_mask_broadcast_f64x2(high, 0xC0, _mm_loadu_pd(t + at[7]));
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
  if (RunsAvx512()) {
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
  const PowerRange range(p, std::log2(h), std::log2(-s));
  EachRun(*this, mask,
          [&](const float* in, float* out, int64_t count) { PowerRunBest(in, out, count, range); });
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
