// Geometry of the float image: quarter turn, flips, rolls and the sub-pixel warps.
#include <algorithm>
#include <cstdint>
#include <utility>

#include "image/fpbuffer.h"
#include "numeric/warp.h"
#include "platform/parallel.h"
#include "platform/progress.h"

fpbuffer& fpbuffer::rotate90() {
  if (n == 0) return *this;
  // Everything new is made before anything old is given up.
  matrix turned[4];
  for (int c = 0; c < channels; ++c) turned[c].rotate90from(plane[c]);
  bitmask m;
  if (mask.present()) {
    m.dim(height, width);
    // Output pixel (p, k) is source pixel (k, height-1-p). Blocks of whole output words, so
    // no two blocks write one word; each word gathers its 32 bits, walking down a source
    // column whose words the neighbouring output rows read again from the cache.
    const int64_t total = int64_t(width) * height;
    ParallelBlocks(m.words, BlockFor(32), [&](int64_t q0, int64_t q1) {
      for (int64_t q = q0; q < q1; ++q) {
        const int64_t first = q * 32, last = std::min(first + 32, total);
        int k = int(first / height), p = int(first % height);
        uint32_t word = 0;
        for (int64_t i = first; i < last; ++i) {
          if (mask.get(k, height - 1 - p)) word |= uint32_t{1} << (i - first);
          if (++p == height) {
            p = 0;
            ++k;
          }
        }
        m.bits[q] = word;
      }
    });
  }
  for (int c = 0; c < channels; ++c) plane[c] = std::move(turned[c]);
  if (mask.present()) mask = std::move(m);
  return syncviews();
}

fpbuffer& fpbuffer::hflip() {
  if (n == 0) return *this;
  for (int c = 0; c < channels; ++c) plane[c].fliph();
  if (mask.present()) mask.fliph();
  return *this;
}

fpbuffer& fpbuffer::vflip() {
  if (n == 0) return *this;
  for (int c = 0; c < channels; ++c) plane[c].flipv();
  if (mask.present()) mask.flipv();
  return *this;
}

fpbuffer& fpbuffer::roll(int dx, int dy) {
  if (n == 0) return *this;
  matrix rolled[4];
  for (int c = 0; c < channels; ++c) rolled[c].rollfrom(plane[c], dx, dy);
  for (int c = 0; c < channels; ++c) plane[c] = std::move(rolled[c]);
  if (mask.present()) mask.shift(dx, dy);
  return syncviews();
}

fpixel4 fpbuffer::colourfromrgb(float r, float g, float b) const {
  const fpixel rgb(r, g, b);
  if (channels == 4 && fromrgb4) return fromrgb4(rgb);
  if (!fromrgb) return fpixel4(r, g, b, 0.0f);
  const fpixel q = fromrgb(rgb);
  return fpixel4(q.x, q.y, q.z, 0.0f);
}

fpbuffer& fpbuffer::warp(const matrix& forward, const matrix& inverse, bool perspective,
                         int iterations) {
  if (n == 0) return *this;
  iterations = std::max(iterations, 0);
  weighttable6 table;
  table.lanczos3(1000);
  StartProgress(float(channels) * float(1 + 2 * iterations) * float(height));
  const auto run = [&](matrix& out, const matrix& in, const matrix& record, bitmask* marks) {
    if (perspective) {
      out.dim(width, height);
      out.WarpPerspective6Tap(in, record, table, marks, true);
    } else {
      out.WarpSimilarity6Tap(in, record, table, marks, true);
    }
  };
  // The element-wise steps of a pass run on the parallel helper too, so that the warps are
  // not left waiting on one thread.
  const auto each = [this](const auto& f) {
    ParallelBlocks(n, BlockFor(1), [&f](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) f(k);
    });
  };
  matrix before, back, residual;
  for (int c = 0; c < channels; ++c) {
    before = plane[c];
    run(plane[c], before, forward, c == 2 && mask.present() ? &mask : nullptr);
    float* v = plane[c].x;
    for (int i = 0; i < iterations; ++i) {
      run(back, plane[c], inverse, nullptr);
      residual.dim(width, height);
      each([&](int64_t k) {
        residual.x[k] = static_cast<float>(double(before.x[k]) - double(back.x[k]));
      });
      run(back, residual, forward, nullptr);
      each([&](int64_t k) { v[k] = static_cast<float>(v[k] + 0.5 * double(back.x[k])); });
    }
  }
  return *this;
}

fpbuffer& fpbuffer::rotate(float angle, float dx, float dy, bool inverse, int iterations) {
  if (n == 0) return *this;
  const float cx = float(width - 1) * 0.5f, cy = float(height - 1) * 0.5f;
  const float t = float(double(angle) * 0.017453292519943295);
  SimilarityParams p = RotateShiftTransform(cx, cy, t, dx, dy);
  SimilarityParams q = ShiftRotateTransform(cx, cy, -t, -dx, -dy);
  return inverse ? warp(q, p, false, iterations) : warp(p, q, false, iterations);
}
