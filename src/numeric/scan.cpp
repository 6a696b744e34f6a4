#include "numeric/scan.h"

#include "numeric/matrix.h"

namespace {
// Stores the sequence's values along the path of the plane; a sequence shorter than the
// plane fills the start of the path, extra values are left.
template <class Store>
void AlongScan(const matrix& sequence, matrix& plane, unsigned type, Store store) {
  if (&plane == &sequence) {
    const matrix copy(sequence);
    AlongScan(copy, plane, type, store);
    return;
  }
  ForEachScanPositionInBlocks(plane.nx, plane.ny, type, [&](int c, int r, int64_t k) {
    if (k < sequence.n) store(plane.z[r][c], sequence.x[k]);
  });
}
}  // namespace

matrix& matrix::gatherscan(const matrix& plane, unsigned type) {
  if (!IsScanOrder(type)) return *this;
  if (&plane == this) {
    const matrix copy(plane);
    return gatherscan(copy, type);
  }
  dim(plane.n, 1);
  ForEachScanPositionInBlocks(plane.nx, plane.ny, type,
                              [&](int c, int r, int64_t k) { x[k] = plane.z[r][c]; });
  return *this;
}

const matrix& matrix::scatterscan(matrix& plane, unsigned type) const {
  AlongScan(*this, plane, type, [](float& to, float v) { to = v; });
  return *this;
}

const matrix& matrix::addscan(matrix& plane, unsigned type) const {
  AlongScan(*this, plane, type, [](float& to, float v) { to += v; });
  return *this;
}
