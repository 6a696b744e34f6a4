#pragma once
// Streaming stores for the whole-pixel geometry that writes a new plane (the quarter turn,
// the roll). They go round the caches, so the destination is not read in before it is
// overwritten, which is a third of the memory traffic of a copy through the caches; they
// pay off only for planes that would not stay in the caches anyway.
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Planes of at least this many bytes are written with streaming stores.
constexpr int64_t kStreamBytes = int64_t{16} << 20;

// Copies count floats; the destination's whole cache lines are streamed, the partial lines
// at either end (which neighbouring copies may share) are written through the caches.
inline void StreamFloats(float* dst, const float* src, size_t count) {
#ifdef __SSE2__
  size_t i = 0;
  while (i < count && reinterpret_cast<uintptr_t>(dst + i) % 64 != 0) {
    dst[i] = src[i];
    ++i;
  }
  for (; i + 16 <= count; i += 16) {
    _mm_stream_ps(dst + i, _mm_loadu_ps(src + i));
    _mm_stream_ps(dst + i + 4, _mm_loadu_ps(src + i + 4));
    _mm_stream_ps(dst + i + 8, _mm_loadu_ps(src + i + 8));
    _mm_stream_ps(dst + i + 12, _mm_loadu_ps(src + i + 12));
  }
  if (i < count) std::memcpy(dst + i, src + i, sizeof(float) * (count - i));
#else
  if (count > 0) std::memcpy(dst, src, sizeof(float) * count);
#endif
}

// Streamed values are weakly ordered: a block of a parallel loop that streamed calls this
// before it ends, so the values are visible to whichever thread reads the plane next.
inline void StreamFence() {
#ifdef __SSE2__
  _mm_sfence();
#endif
}
