#pragma once
// A copy of a whole plane in blocks on the parallel helper: the pages of a fresh plane are
// taken by every thread at once, where one thread copying a large image costs more than
// many commands' own work.
#include <cstdint>
#include <cstring>

#include "numeric/matrix.h"
#include "platform/parallel.h"

// `to` becomes a copy of `from`, as by assignment (its size, its elements, and its row
// entries when it has them: those few are copied as assignment copies them).
inline void CopyPlaneParallel(const matrix& from, matrix& to) {
  if (&from == &to) return;
  if (from.iplength() > 0 || from.n <= 0) {
    to = from;
    return;
  }
  to.dim(from.nx, from.ny);
  const float* s = from.x;
  float* d = to.x;
  ParallelBlocks(from.n, BlockFor(1), [&](int64_t b, int64_t e) {
    std::memcpy(d + b, s + b, sizeof(float) * size_t(e - b));
  });
}
