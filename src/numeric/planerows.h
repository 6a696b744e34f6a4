#pragma once
// One parallel loop over the rows of several planes of one height.
#include <algorithm>
#include <cstdint>
#include <functional>

#include "platform/parallel.h"

// The rows [begin, end) of one plane.
using PlaneRowsBody = std::function<void(int plane, int64_t begin, int64_t end)>;

// Runs body over the rows [0, rows) of `planes` planes, taken as the rows of the first
// plane, then of the second, ..., in blocks of `block` rows; a block that spans two planes
// is cut where they meet, so a plane's rows see the cuts of its own call. Ticks and cancel
// as ParallelBlocksTicking over the rows of all the planes: true when cancelled. Planes
// side by side give the threads more blocks to share and one wait at the end instead of
// one per plane.
inline bool PlaneRowsTicking(int planes, int64_t rows, int64_t block, const PlaneRowsBody& body,
                             int64_t ticks = -1) {
  if (rows <= 0) return ParallelBlocksTicking(0, block, [](int64_t, int64_t) {}, ticks);
  return ParallelBlocksTicking(
      int64_t(planes) * rows, block,
      [&](int64_t a, int64_t b) {
        for (int64_t s = a; s < b;) {
          const int p = int(s / rows);
          const int64_t e = std::min(b, int64_t(p + 1) * rows);
          body(p, s - int64_t(p) * rows, e - int64_t(p) * rows);
          s = e;
        }
      },
      ticks);
}
