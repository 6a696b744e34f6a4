// Hysteresis smoothing and the fast bilateral approximation on the channels of an image:
// per channel through the plane members, or with channels 0-2 read as one colour vector
// along each scan path.
#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/cvector.h"
#include "numeric/matrixarray.h"
#include "platform/progress.h"

namespace {
constexpr int kPyramidLimit = 4;

// The mask's bounding box when it is a mask of the image's size with a pixel set.
bool TileBox(const bitmask* mask, const fpbuffer& image, int& x, int& y, int& w, int& h) {
  if (mask == nullptr || !mask->covers(image.width, image.height)) return false;
  int count = 0;
  mask->bounds(count, x, y, w, h);
  return count > 0;
}

// Runs work on a tile of channels 0-2 around the mask's bounding box, `before` pixels
// before it and `after` after it on each axis (mirrored at the image's borders), and
// writes the box back into the mask's pixels.
template <class Work>
void OnMaskTile(fpbuffer& image, const bitmask& mask, int before, int after, Work work) {
  int bx = 0, by = 0, bw = 0, bh = 0;
  if (!TileBox(&mask, image, bx, by, bw, bh)) return;
  fpbuffer tile(bw + before + after, bh + before + after, image.code);
  tile.gettile(image, bx - before, by - before);
  work(tile);
  image.puttile(bx, by, tile, &mask, before, after, before, after);
}
}  // namespace

fpbuffer& fpbuffer::hysteresiscolour(int count, float d, const bitmask* mask) {
  if (mask != nullptr) {
    OnMaskTile(*this, *mask, 0, 0,
               [&](fpbuffer& tile) { tile.hysteresiscolour(count, d, nullptr); });
    return *this;
  }
  cvector<fpixel> seq;
  for (int pass = 0; pass < count; ++pass) {
    matrix copy[3] = {plane[0], plane[1], plane[2]};
    for (ScanOrder k = 0; k < 4; ++k) {
      seq.gatherscan(copy[0], copy[1], copy[2], k).hysteresis1d(d);
      if (k == 0)
        seq.scatterscan(plane[0], plane[1], plane[2], k);
      else
        seq.addscan(plane[0], plane[1], plane[2], k);
    }
    for (int c = 0; c < 3; ++c) RescaleToInput(plane[c], copy[c]);
  }
  return *this;
}

fpbuffer& fpbuffer::bilateralcolour(int count, float s, int r, const bitmask* mask) {
  if (mask != nullptr) {
    OnMaskTile(*this, *mask, r, r + 1,
               [&](fpbuffer& tile) { tile.bilateralcolour(count, s, r, nullptr); });
    return *this;
  }
  cvector<fpixel> seq, out;
  for (int pass = 0; pass < count; ++pass) {
    const matrix copy[3] = {plane[0], plane[1], plane[2]};
    for (ScanOrder k = 0; k < 4; ++k) {
      seq.gatherscan(copy[0], copy[1], copy[2], k).bilateral1d(s, r, out);
      if (k == 0)
        out.scatterscan(plane[0], plane[1], plane[2], k);
      else
        out.addscan(plane[0], plane[1], plane[2], k);
    }
    for (int c = 0; c < 3; ++c) plane[c].mulscalar(0.25f);
  }
  return *this;
}

fpbuffer& fpbuffer::hysteresismultiscale(int count, float d, int halo) {
  if (halo > 0) StartProgress(float(count) * float(halo) * 3.0f);
  cvector<fpixel> seq;
  matrix work[3];
  matrixarray gauss, h1, h2, w;
  for (int pass = 0; pass < count; ++pass) {
    matrixarray t1[3], t2[3], m[3];
    for (int c = 0; c < 3; ++c) {
      if (halo > 0) plane[c].gradpyramid(gauss, t1[c], t2[c], kPyramidLimit, true);
      m[c].pyramid(plane[c], kPyramidLimit, true);
      m[c][m[c].n - 1].zero();
      work[c].dim(width, height);
    }
    for (ScanOrder k = 0; k < 4; ++k) {
      seq.gatherscan(plane[0], plane[1], plane[2], k).hysteresis1d(d);
      seq.scatterscan(work[0], work[1], work[2], k);
      for (int c = 0; c < 3; ++c) {
        // The colour backlash doubles its centres.
        work[c].mulscalar(0.5f);
        w.pyramid(work[c], kPyramidLimit, true);
        const int last = m[c].n - 1;
        m[c].minabs(w, last);
        m[c][last].add(w[last]);
        if (halo > 0) {
          work[c].gradpyramid(gauss, h1, h2, kPyramidLimit, true);
          t1[c].keepsmallergradients(t2[c], h1, h2);
        }
      }
    }
    for (int c = 0; c < 3; ++c) {
      m[c][m[c].n - 1].mulscalar(0.25f);
      m[c].collapse();
      plane[c].extend(m[c][0]);
      if (halo > 0) plane[c].pyramidcg(halo, t1[c], t2[c], kPyramidLimit, true);
    }
  }
  return *this;
}

fpbuffer& fpbuffer::hysteresis(float d, int iterations, bool combine, bool cond,
                               const bitmask* mask) {
  if (iterations <= 0 || empty()) return *this;
  if (combine) return hysteresiscolour(iterations, d, mask);
  const OperationScope scope(*this, nullptr, cond, ScopeRule{ScopeChannels::ByCond, false});
  for (int c = 0; c < channels; ++c) {
    if (scope.processes(c)) plane[c].hysteresisrepeat(iterations, d, mask);
  }
  return *this;
}

fpbuffer& fpbuffer::hysteresissmooth(float d, int iterations, int halo, bool combine, bool cond) {
  if (iterations <= 0 || empty()) return *this;
  if (combine) return hysteresismultiscale(iterations, d, halo);
  const OperationScope scope(*this, nullptr, cond, ScopeRule{ScopeChannels::ByCond, false});
  int processed = 0;
  for (int c = 0; c < channels; ++c) processed += scope.processes(c) ? 1 : 0;
  if (halo > 0) StartProgress(float(iterations) * float(processed) * float(halo));
  for (int c = 0; c < channels; ++c) {
    if (scope.processes(c)) plane[c].hysteresissmooth(iterations, d, halo, 0);
  }
  return *this;
}

fpbuffer& fpbuffer::fastbilateral(float s, int r, int iterations, bool combine, bool cond,
                                  bitmask* selection) {
  if (iterations <= 0 || empty()) return *this;
  // The selection alone limits the pixels: the image's own mask is not read.
  const OperationScope scope(*this, selection, cond, ScopeRule{ScopeChannels::ByCond, true, false, false});
  if (combine) return bilateralcolour(iterations, s, r, scope.mask());
  for (int c = 0; c < channels; ++c) {
    if (scope.processes(c)) plane[c].bilateralrepeat(iterations, s, r, scope.mask());
  }
  return *this;
}
