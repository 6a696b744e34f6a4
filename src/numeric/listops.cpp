// Operations on the pixels of index lists (k = x + y*width, ascending), the building
// blocks of the seamless-cloning solve, and the lists of a region's rings and pairs.
#include <algorithm>
#include <cmath>

#include "numeric/bitmask.h"
#include "numeric/blocksum.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"

namespace {
using List = cvector<int>;

// Runs f(k) for every position k of the list, in blocks; f writes only position k.
template <class F>
void EachOf(const List& l, F f) {
  ParallelBlocks(l.n, BlockFor(4), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) f(int(k));
  });
}

// Fills the list with the indices k of [0, n) for which keep(k) holds, ascending.
template <class Keep>
void Collect(List& l, int n, Keep keep) {
  int count = 0;
  for (int k = 0; k < n; ++k) count += keep(k);
  l.dim(count);
  int i = 0;
  for (int k = 0; k < n && i < count; ++k) {
    if (keep(k)) l.x[i++] = k;
  }
}
}  // namespace

const bitmask& bitmask::ringlist(cvector<int>& list, bool inside) const {
  const auto ring = [&](int k) {
    const int x = k % width, y = k / width;
    const bool in = getbit(k);
    if (in != inside) return false;
    // A neighbour on the other side; coordinates clamped, so the image edge is no side.
    for (int dy = -1; dy <= 1; ++dy) {
      const int yy = std::clamp(y + dy, 0, height - 1);
      for (int dx = -1; dx <= 1; ++dx) {
        const int xx = std::clamp(x + dx, 0, width - 1);
        if (get(xx, yy) != in) return true;
      }
    }
    return false;
  };
  Collect(list, present() ? n : 0, ring);
  return *this;
}

const bitmask& bitmask::pairlists(cvector<int>& innerh, cvector<int>& innerv, cvector<int>& boundh,
                                  cvector<int>& boundv) const {
  const int limit = present() ? n : 0;
  const auto base = [&](int k) { return k % width <= width - 2 && k / width <= height - 2; };
  Collect(innerh, limit, [&](int k) { return base(k) && getbit(k) && getbit(k + 1); });
  Collect(innerv, limit, [&](int k) { return base(k) && getbit(k) && getbit(k + width); });
  Collect(boundh, limit, [&](int k) { return base(k) && getbit(k) != getbit(k + 1); });
  Collect(boundv, limit, [&](int k) { return base(k) && getbit(k) != getbit(k + width); });
  return *this;
}

bitmask& bitmask::setlist(const cvector<int>& l) {
  if (!present()) return *this;
  for (int k = 0; k < l.n; ++k) setbit(l.x[k], true);
  return *this;
}

const matrix& matrix::listdiffx(const cvector<int>& l, matrix& out, float c) const {
  out.dim(l.n, 1);
  EachOf(l, [&](int k) { out.x[k] = c * (x[l.x[k] + 1] - x[l.x[k]]); });
  return *this;
}

const matrix& matrix::listdiffy(const cvector<int>& l, matrix& out, float c) const {
  out.dim(l.n, 1);
  EachOf(l, [&](int k) { out.x[k] = c * (x[l.x[k] + nx] - x[l.x[k]]); });
  return *this;
}

// The scatters run in list order: two pairs may share a pixel.
matrix& matrix::listdiffxadj(const cvector<int>& l, const matrix& g, float c) {
  for (int k = 0; k < l.n; ++k) {
    const float v = c * g.x[k];
    x[l.x[k] + 1] += v;
    x[l.x[k]] -= v;
  }
  return *this;
}

matrix& matrix::listdiffyadj(const cvector<int>& l, const matrix& g, float c) {
  for (int k = 0; k < l.n; ++k) {
    const float v = c * g.x[k];
    x[l.x[k] + nx] += v;
    x[l.x[k]] -= v;
  }
  return *this;
}

const matrix& matrix::listgather(float c, const cvector<int>& l, matrix& out) const {
  out.dim(l.n, 1);
  EachOf(l, [&](int k) { out.x[k] = c * x[l.x[k]]; });
  return *this;
}

matrix& matrix::listscatteradd(float c, const cvector<int>& l, const matrix& g) {
  EachOf(l, [&](int k) { x[l.x[k]] += c * g.x[k]; });
  return *this;
}

matrix& matrix::listzero(const cvector<int>& l) {
  EachOf(l, [&](int k) { x[l.x[k]] = 0.0f; });
  return *this;
}

matrix& matrix::listcopy(const cvector<int>& l, const matrix& y) {
  EachOf(l, [&](int k) { x[l.x[k]] = y.x[l.x[k]]; });
  return *this;
}

matrix& matrix::listaxpy(const cvector<int>& l, float c, const matrix& y) {
  EachOf(l, [&](int k) { x[l.x[k]] += c * y.x[l.x[k]]; });
  return *this;
}

matrix& matrix::listxpay(const cvector<int>& l, float c, const matrix& y) {
  EachOf(l, [&](int k) { x[l.x[k]] = c * x[l.x[k]] + y.x[l.x[k]]; });
  return *this;
}

double matrix::listsumsq(const cvector<int>& l) const {
  return BlockSum(size_t(l.n), [&](size_t k) {
    const double v = x[l.x[k]];
    return v * v;
  });
}

matrix& matrix::keeplarger(const matrix& y) {
  for (int k = 0; k < n; ++k) {
    if (std::fabs(x[k]) < std::fabs(y.x[k])) x[k] = y.x[k];
  }
  return *this;
}
