// The quarter turn of a plane: a transpose with the output rows reversed.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "numeric/matrix.h"
#include "numeric/streaming.h"
#include "platform/parallel.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZEP_TURN_X86 1
#endif

namespace {
// The plane is cut into tiles of kStrip source rows by kCols source columns. Inside a tile,
// 8 (or 4) output rows are filled together from the top of the strip to its bottom, so each
// output row receives a run of up to kStrip values, whole cache lines in one memory page,
// while the tile's source lines (a few hundred kilobytes) stay in the second-level cache
// between the neighbouring column groups that share them. Short runs (tiles of 32 or 128
// rows) left the memory writing a few lines per page and ran at twice the time of a copy.
constexpr int kStrip = 1024, kCols = 32;

// Output element (k, h - 1 - r) is source element (r, k); h is the source's row count.
struct Turn {
  const float* const* src;
  float* const* out;
  int h;
};

void TurnScalar(const Turn& t, int r0, int r1, int k0, int k1) {
  for (int k = k0; k < k1; ++k) {
    float* out = t.out[k] + (t.h - 1);
    for (int r = r0; r < r1; ++r) out[-r] = t.src[r][k];
  }
}

#ifdef ZEP_TURN_X86
// The rows and columns of a tile that the vector blocks of side `side` leave over.
void TurnRemainders(const Turn& t, int r0, int r1, int k0, int k1, int side) {
  const int kv = k0 + (k1 - k0) / side * side, rv = r0 + (r1 - r0) / side * side;
  TurnScalar(t, rv, r1, k0, kv);
  TurnScalar(t, r0, r1, kv, k1);
}

// Four by four: the source rows are loaded last first, so the transposed registers hold the
// output rows in their order.
template <bool kStream>
void TurnSse(const Turn& t, int r0, int r1, int k0, int k1) {
  const int kv = k0 + (k1 - k0) / 4 * 4, rv = r0 + (r1 - r0) / 4 * 4;
  for (int k = k0; k < kv; k += 4) {
    float* const o0 = t.out[k] + (t.h - 4);
    float* const o1 = t.out[k + 1] + (t.h - 4);
    float* const o2 = t.out[k + 2] + (t.h - 4);
    float* const o3 = t.out[k + 3] + (t.h - 4);
    for (int r = r0; r < rv; r += 4) {
      __m128 a0 = _mm_loadu_ps(t.src[r + 3] + k), a1 = _mm_loadu_ps(t.src[r + 2] + k);
      __m128 a2 = _mm_loadu_ps(t.src[r + 1] + k), a3 = _mm_loadu_ps(t.src[r] + k);
      _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
      if constexpr (kStream) {
        _mm_stream_ps(o0 - r, a0);
        _mm_stream_ps(o1 - r, a1);
        _mm_stream_ps(o2 - r, a2);
        _mm_stream_ps(o3 - r, a3);
      } else {
        _mm_storeu_ps(o0 - r, a0);
        _mm_storeu_ps(o1 - r, a1);
        _mm_storeu_ps(o2 - r, a2);
        _mm_storeu_ps(o3 - r, a3);
      }
    }
  }
  TurnRemainders(t, r0, r1, k0, k1, 4);
}

// Eight by eight in AVX2 registers; the same bytes as the four-by-four form.
template <bool kStream>
__attribute__((target("avx2"))) void TurnAvx2(const Turn& t, int r0, int r1, int k0, int k1) {
  const int kv = k0 + (k1 - k0) / 8 * 8, rv = r0 + (r1 - r0) / 8 * 8;
  for (int k = k0; k < kv; k += 8) {
    float* o[8];
    for (int j = 0; j < 8; ++j) o[j] = t.out[k + j] + (t.h - 8);
    for (int r = r0; r < rv; r += 8) {
      __m256 a[8];
      for (int i = 0; i < 8; ++i) a[i] = _mm256_loadu_ps(t.src[r + 7 - i] + k);
      const __m256 t0 = _mm256_unpacklo_ps(a[0], a[1]), t1 = _mm256_unpackhi_ps(a[0], a[1]);
      const __m256 t2 = _mm256_unpacklo_ps(a[2], a[3]), t3 = _mm256_unpackhi_ps(a[2], a[3]);
      const __m256 t4 = _mm256_unpacklo_ps(a[4], a[5]), t5 = _mm256_unpackhi_ps(a[4], a[5]);
      const __m256 t6 = _mm256_unpacklo_ps(a[6], a[7]), t7 = _mm256_unpackhi_ps(a[6], a[7]);
      const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
      const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
      const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
      const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
      const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
      const __m256 v[8] = {
          _mm256_permute2f128_ps(u0, u4, 0x20), _mm256_permute2f128_ps(u1, u5, 0x20),
          _mm256_permute2f128_ps(u2, u6, 0x20), _mm256_permute2f128_ps(u3, u7, 0x20),
          _mm256_permute2f128_ps(u0, u4, 0x31), _mm256_permute2f128_ps(u1, u5, 0x31),
          _mm256_permute2f128_ps(u2, u6, 0x31), _mm256_permute2f128_ps(u3, u7, 0x31)};
      for (int j = 0; j < 8; ++j) {
        if constexpr (kStream) {
          _mm256_stream_ps(o[j] - r, v[j]);
        } else {
          _mm256_storeu_ps(o[j] - r, v[j]);
        }
      }
    }
  }
  TurnRemainders(t, r0, r1, k0, k1, 8);
}

bool HasAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

// Streaming stores need aligned addresses: every output row and every block start (tiles
// begin at multiples of 8 source rows) is aligned when the plane is and its rows are a
// multiple of the block side long.
bool Streams(const matrix& out, int h, int side) {
  const auto start = reinterpret_cast<uintptr_t>(out.x);
  return int64_t(out.n) * int64_t(sizeof(float)) >= kStreamBytes && h % side == 0 &&
         start % (sizeof(float) * size_t(side)) == 0;
}
#endif

using TileKernel = void (*)(const Turn&, int, int, int, int);

TileKernel ChooseKernel([[maybe_unused]] const matrix& out, [[maybe_unused]] int h, bool& streams) {
  streams = false;
#ifdef ZEP_TURN_X86
  if (HasAvx2() && Streams(out, h, 8)) {
    streams = true;
    return TurnAvx2<true>;
  }
  // Without AVX2, or with rows a multiple of 4 long but not of 8: streaming four wide beats
  // storing eight wide through the caches.
  if (Streams(out, h, 4)) {
    streams = true;
    return TurnSse<true>;
  }
  return HasAvx2() ? TurnAvx2<false> : TurnSse<false>;
#else
  return TurnScalar;
#endif
}
}  // namespace

matrix& matrix::rotate90from(const matrix& src) {
  assert(&src != this);
  dim(src.ny, src.nx);
  const int h = src.ny, w = src.nx;
  if (n == 0) return *this;
  bool streams = false;
  const TileKernel kernel = ChooseKernel(*this, h, streams);
  const Turn t{src.z, z, h};
  const int strips = (h + kStrip - 1) / kStrip, columns = (w + kCols - 1) / kCols;
  ParallelBlocks(int64_t(strips) * columns, 1, [&](int64_t b0, int64_t b1) {
    for (int64_t b = b0; b < b1; ++b) {
      const int r0 = int(b / columns) * kStrip, k0 = int(b % columns) * kCols;
      kernel(t, r0, std::min(r0 + kStrip, h), k0, std::min(k0 + kCols, w));
    }
    if (streams) StreamFence();
  });
  return *this;
}
