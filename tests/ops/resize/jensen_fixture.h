#pragma once
// What the Jensen and back-projected core tests share: plane values, a colour image from a
// plane, image comparison and the empty scratch folder.
#include <filesystem>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace jensentest {

inline std::vector<float> Values(const matrix& m) { return {m.x, m.x + m.n}; }

// Three channels of the plane, 10 apart.
inline fpbuffer Rgb(const matrix& m) {
  fpbuffer f(m.nx, m.ny, cspace::kRGB | 0x7);
  for (int c = 0; c < 3; ++c) {
    f.plane[c] = m;
    f.plane[c].addscalar(float(10 * c));
  }
  return f;
}

inline void ExpectSame(const fpbuffer& a, const fpbuffer& b, const char* what) {
  ASSERT_EQ(a.width, b.width) << what;
  ASSERT_EQ(a.height, b.height) << what;
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Values(a.plane[c]), Values(b.plane[c])) << what << c;
}

// Nothing but the folder's marker.
inline bool ScratchEmpty() {
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDirectory())) {
    if (entry.path().filename() != kScratchMarker) return false;
  }
  return true;
}

// Back-projection with a first-pass mode and iterations, and a presharpening amount.
inline BackProjection Refining(int mode, int iterations, float presharpen) {
  BackProjection bp;
  bp.mode1 = mode;
  bp.iterations1 = iterations;
  bp.presharpenAmount = presharpen;
  return bp;
}

// How a mask compares with the coverage counts of an edge-model pass: the pixels painted,
// and the pixels whose mark is not "no window painted here" (none after the final inversion).
struct Marks {
  int painted = 0, wrong = 0;
};
inline Marks CompareWithPaint(const bitmask& mask, const bytemaps& counts) {
  Marks m;
  for (int y = 0; y < counts.n; ++y) {
    for (int x = 0; x < counts[y].n; ++x) {
      m.wrong += mask.get(x, y) != (counts[y][x] == 0);
      m.painted += counts[y][x] != 0;
    }
  }
  return m;
}

}  // namespace jensentest
