#pragma once
// Asking for transparent huge pages on a freshly allocated block before its first touch.
#include <cstdint>

#include <sys/mman.h>

// A plane of a few megabytes comes as fresh 4 KB pages, each faulting on its first touch: on
// a virtual machine those faults can cost more than the work that fills the plane, and
// threads filling it at once queue on them. The whole 2 MB pages inside [x, x + n) are
// asked for as huge pages, so they fault once each; the rest of the block is left alone.
inline void PreferHugePages(const float* x, int64_t n) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{1} << 21;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(x) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(x + n) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)x;
  (void)n;
#endif
}
