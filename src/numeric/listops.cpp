// Operations on the pixels of index lists (k = x + y*width, ascending), the building
// blocks of the seamless-cloning solve, and the lists of a region's rings and pairs.
#include <algorithm>
#include <cmath>

#include "numeric/bitmask.h"
#include "numeric/blocksum.h"
#include "numeric/cvector.h"
#include "numeric/listruns.h"
#include "numeric/matrix.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"

namespace {
using List = cvector<int>;

// Runs f(k, p, n) on the pieces of the runs, in blocks of list positions; f writes only
// the pixels and positions of its piece. Blocks are large: the pieces are cheap rows.
template <class F>
void EachPiece(const ListRuns& l, F f) {
  ParallelBlocks(l.size(), BlockFor(1),
                 [&](int64_t p0, int64_t p1) { l.pieces(int(p0), int(p1), f); });
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

// The row loops of the runs, in both instruction sets (vectorclones.h).
namespace listrows {
// out = c (b - a).
ZEP_VECTOR_CLONES void Diff(const float* a, const float* b, float* out, float c, int n) {
  for (int i = 0; i < n; ++i) out[i] = c * (b[i] - a[i]);
}
// out = c a.
ZEP_VECTOR_CLONES void Scale(const float* a, float* out, float c, int n) {
  for (int i = 0; i < n; ++i) out[i] = c * a[i];
}
// x += c g.
ZEP_VECTOR_CLONES void AddScaled(float* x, float c, const float* g, int n) {
  for (int i = 0; i < n; ++i) x[i] += c * g[i];
}
// x -= c g.
ZEP_VECTOR_CLONES void SubScaled(float* x, float c, const float* g, int n) {
  for (int i = 0; i < n; ++i) x[i] -= c * g[i];
}
// x = c x + y.
ZEP_VECTOR_CLONES void ScaleAdd(float* x, float c, const float* y, int n) {
  for (int i = 0; i < n; ++i) x[i] = c * x[i] + y[i];
}
}  // namespace listrows

ListRuns::ListRuns(const cvector<int>& l) : length(l.n) {
  for (int p = 0; p < l.n; ++p) {
    if (p == 0 || l.x[p] != l.x[p - 1] + 1) {
      first.push_back(l.x[p]);
      pos.push_back(p);
    }
  }
  pos.push_back(l.n);
}

namespace listruns {
void Diff(const matrix& m, const ListRuns& l, int step, matrix& out, float c) {
  out.dim(l.size(), 1);
  EachPiece(l,
            [&](int k, int p, int n) { listrows::Diff(m.x + k, m.x + k + step, out.x + p, c, n); });
}

// In list order each pixel gets the share of the pair it is the far pixel of before that of
// the pair it is the base of (the far pixel's pair comes first); a run's far pixels first,
// then its bases, keeps that order. Runs in turn: two pairs may share a pixel.
void DiffAdjoint(matrix& m, const ListRuns& l, int step, const matrix& g, float c) {
  l.pieces(0, l.size(), [&](int k, int p, int n) {
    listrows::AddScaled(m.x + k + step, c, g.x + p, n);
    listrows::SubScaled(m.x + k, c, g.x + p, n);
  });
}

void Gather(const matrix& m, float c, const ListRuns& l, matrix& out) {
  out.dim(l.size(), 1);
  EachPiece(l, [&](int k, int p, int n) { listrows::Scale(m.x + k, out.x + p, c, n); });
}

void ScatterAdd(matrix& m, float c, const ListRuns& l, const matrix& g) {
  EachPiece(l, [&](int k, int p, int n) { listrows::AddScaled(m.x + k, c, g.x + p, n); });
}

void Zero(matrix& m, const ListRuns& l) {
  EachPiece(l, [&](int k, int, int n) { std::fill(m.x + k, m.x + k + n, 0.0f); });
}

void Copy(matrix& m, const ListRuns& l, const matrix& y) {
  EachPiece(l, [&](int k, int, int n) { std::copy(y.x + k, y.x + k + n, m.x + k); });
}

void Axpy(matrix& m, const ListRuns& l, float c, const matrix& y) {
  EachPiece(l, [&](int k, int, int n) { listrows::AddScaled(m.x + k, c, y.x + k, n); });
}

void Xpay(matrix& m, const ListRuns& l, float c, const matrix& y) {
  EachPiece(l, [&](int k, int, int n) { listrows::ScaleAdd(m.x + k, c, y.x + k, n); });
}
}  // namespace listruns

const matrix& matrix::listdiffx(const cvector<int>& l, matrix& out, float c) const {
  listruns::Diff(*this, ListRuns(l), 1, out, c);
  return *this;
}

const matrix& matrix::listdiffy(const cvector<int>& l, matrix& out, float c) const {
  listruns::Diff(*this, ListRuns(l), nx, out, c);
  return *this;
}

matrix& matrix::listdiffxadj(const cvector<int>& l, const matrix& g, float c) {
  listruns::DiffAdjoint(*this, ListRuns(l), 1, g, c);
  return *this;
}

matrix& matrix::listdiffyadj(const cvector<int>& l, const matrix& g, float c) {
  listruns::DiffAdjoint(*this, ListRuns(l), nx, g, c);
  return *this;
}

const matrix& matrix::listgather(float c, const cvector<int>& l, matrix& out) const {
  listruns::Gather(*this, c, ListRuns(l), out);
  return *this;
}

matrix& matrix::listscatteradd(float c, const cvector<int>& l, const matrix& g) {
  listruns::ScatterAdd(*this, c, ListRuns(l), g);
  return *this;
}

matrix& matrix::listzero(const cvector<int>& l) {
  listruns::Zero(*this, ListRuns(l));
  return *this;
}

matrix& matrix::listcopy(const cvector<int>& l, const matrix& y) {
  listruns::Copy(*this, ListRuns(l), y);
  return *this;
}

matrix& matrix::listaxpy(const cvector<int>& l, float c, const matrix& y) {
  listruns::Axpy(*this, ListRuns(l), c, y);
  return *this;
}

matrix& matrix::listxpay(const cvector<int>& l, float c, const matrix& y) {
  listruns::Xpay(*this, ListRuns(l), c, y);
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
