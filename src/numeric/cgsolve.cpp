// The gradient-domain solvers: one conjugate-gradient loop on the normal equations,
// minimising |A x - b|^2 where A maps a plane to two stacks of difference planes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/floatlanes.h"
#include "numeric/levelcg.h"
#include "numeric/listruns.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "numeric/scratchpool.h"
#include "numeric/vectorclones.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// r := b - r, level by level.
void SubtractFrom(const matrixarray& b, matrixarray& r) {
  for (int i = 0; i < std::min(b.n, r.n); ++i) {
    const int count = std::min(b[i].n, r[i].n);
    for (int k = 0; k < count; ++k) r[i].x[k] = b[i].x[k] - r[i].x[k];
  }
}

// forward(x, q1, q2) sets q = A x; adjoint(r1, r2, s) sets s = A^T r. With stopEarly the
// loop ends when the step's denominator is not positive (before the update) or when the
// previous gamma was 0 (after the new residual, the direction left as it was); without
// it those cases take gamma itself as the step and gamma_new as beta and carry on. The
// unknowns are every element of the plane, with a progress tick per iteration.
template <class Forward, class Adjoint>
void ConjugateGradients(matrix& x, const matrixarray& b1, const matrixarray& b2, int iterations,
                        bool stopEarly, Forward forward, Adjoint adjoint) {
  if (iterations <= 0) return;
  matrixarray r1, r2, q1, q2;
  matrix s, p;
  forward(x, r1, r2);
  SubtractFrom(b1, r1);
  SubtractFrom(b2, r2);
  adjoint(r1, r2, s);
  double gamma = s.sumsq();
  p.assign(s);
  for (int it = 0; it < iterations; ++it) {
    StepProgressOrThrow();
    forward(p, q1, q2);
    const double denom = q1.energy() + q2.energy();
    float alpha;
    if (!CgStep(gamma, denom, denom > 0.0, stopEarly, alpha)) break;
    x.axpy(alpha, p);
    r1.axpy(-alpha, q1);
    r2.axpy(-alpha, q2);
    adjoint(r1, r2, s);
    const double gammaNew = s.sumsq();
    float beta;
    if (!CgStep(gammaNew, gamma, gamma != 0.0, stopEarly, beta)) break;
    p.scaleadd(beta, s);
    gamma = gammaNew;
  }
}

// The seamless-cloning solve: the same loop with the vector passes fused into two passes
// over the rectangle of the pixels the lists touch. Pass F makes the direction
// p = beta p + s and the energy of A p; pass B makes r -= alpha A p, x += alpha p,
// s = A^T r and the sum of squares of s over the unknowns. A p is made again where it is
// needed instead of being kept. Each element gets the float operations of the plain list
// loop, the transposed pairs of a pixel added in its order too; only the double sums go in
// another (fixed) order: by row, then by band.
//
// The residuals are kept at the pixels: a pixel is the base of at most one horizontal and
// one vertical pair (inner or boundary), as a region's pair lists are, and the ring's
// residuals stay in list order. The rectangle's rows are padded to whole vectors of eight
// with inert cells (no pair, no unknown), and x is worked on in a copy of the rectangle.
enum : int32_t { kUnknown = 1, kInnerH = 2, kBoundH = 4, kInnerV = 8, kBoundV = 16 };
constexpr int kLanes = 8;

using Int8 = int32_t __attribute__((vector_size(32)));

[[gnu::always_inline]] inline Int8 Classes(const int32_t* c) {
  Int8 v;
  std::memcpy(&v, c, sizeof v);
  return v;
}
[[gnu::always_inline]] inline Int8 Has(Int8 c, int32_t bit) { return (c & bit) != 0; }
[[gnu::always_inline]] inline Float8 Pick(Int8 m, Float8 a, Float8 b) { return m ? a : b; }
// The weight of a pixel's pair of one direction: 1 inner, w boundary, 0 none.
[[gnu::always_inline]] inline Float8 PairWeight(Int8 c, int32_t inner, int32_t bound, float w) {
  return Pick(Has(c, inner), Float8{} + 1.0f, Pick(Has(c, bound), Float8{} + w, Float8{}));
}
// float(r + step q) lane by lane, in double, as matrix::axpy makes it.
[[gnu::always_inline]] inline Float8 Step(Float8 r, double step, Float8 q) {
  const auto half = [&](Float4 a, Float4 b) {
    return __builtin_convertvector(
        __builtin_convertvector(a, Double4) + step * __builtin_convertvector(b, Double4), Float4);
  };
  const Float4 lo =
      half(__builtin_shufflevector(r, r, 0, 1, 2, 3), __builtin_shufflevector(q, q, 0, 1, 2, 3));
  const Float4 hi =
      half(__builtin_shufflevector(r, r, 4, 5, 6, 7), __builtin_shufflevector(q, q, 4, 5, 6, 7));
  return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
}

// The row loops: n a multiple of kLanes.

// The unknowns' new direction: beta p + s there, p (0) elsewhere.
ZEP_VECTOR_CLONES void NewDirection(const float* p, const float* s, const int32_t* c, float beta,
                                    float* into, int n) {
  for (int i = 0; i < n; i += kLanes) {
    const Float8 pv = Load8(p + i);
    Store8(into + i, Pick(Has(Classes(c + i), kUnknown), beta * pv + Load8(s + i), pv));
  }
}

// The sum of squares of one row's pairs of A p (above: the row above; p[n] readable).
ZEP_VECTOR_CLONES double PairEnergy(const float* p, const float* above, const int32_t* c, float w,
                                    int n) {
  Double4 s0 = {}, s1 = {};
  for (int i = 0; i < n; i += kLanes) {
    const Int8 cl = Classes(c + i);
    const Float8 pv = Load8(p + i);
    AddSquares(PairWeight(cl, kInnerH, kBoundH, w) * (Load8(p + i + 1) - pv), s0, s1);
    AddSquares(PairWeight(cl, kInnerV, kBoundV, w) * (Load8(above + i) - pv), s0, s1);
  }
  return Total(s0, s1);
}

// The transposed terms of one row's pairs, inner and boundary apart: the plain loop adds a
// pixel's inner pairs before its boundary pairs. h[i + 1] of the horizontal pair based at i,
// v[i] of the vertical one; 0 where a pixel bases no pair of that kind.
struct Terms {
  float* hi;
  float* hb;
  float* vi;
  float* vb;
};

// r -= alpha A p for one row's pairs, x += alpha p at the unknowns, and the transposed
// terms of the new residuals. With alpha 0 nothing is updated (rvIn is copied to rvOut).
ZEP_VECTOR_CLONES void UpdatePairs(const float* p, const float* above, const int32_t* c, float w,
                                   float alpha, float* rh, const float* rvIn, float* rvOut,
                                   float* x, Terms t, int n) {
  const double step = -alpha;
  const bool still = alpha == 0.0f;
  for (int i = 0; i < n; i += kLanes) {
    const Int8 cl = Classes(c + i);
    const Float8 ch = PairWeight(cl, kInnerH, kBoundH, w);
    const Float8 cv = PairWeight(cl, kInnerV, kBoundV, w);
    const Float8 pv = Load8(p + i);
    Float8 h = Load8(rh + i), v = Load8(rvIn + i);
    if (!still) {
      h = Step(h, step, ch * (Load8(p + i + 1) - pv));
      v = Step(v, step, cv * (Load8(above + i) - pv));
      const Float8 xv = Load8(x + i);
      Store8(x + i, Pick(Has(cl, kUnknown), xv + alpha * pv, xv));
    }
    Store8(rh + i, h);
    Store8(rvOut + i, v);
    const Float8 th = ch * h, tv = cv * v;
    const Int8 innerH = Has(cl, kInnerH), innerV = Has(cl, kInnerV);
    Store8(t.hi + i + 1, Pick(innerH, th, Float8{}));
    Store8(t.hb + i + 1, Pick(innerH, Float8{}, th));
    Store8(t.vi + i, Pick(innerV, tv, Float8{}));
    Store8(t.vb + i, Pick(innerV, Float8{}, tv));
  }
}

// The vertical terms alone of a row's updated residuals, the residuals left as they were:
// the row below a band, whose update the band below keeps to itself until the pass ends.
ZEP_VECTOR_CLONES void VerticalTerms(const float* p, const float* above, const int32_t* c, float w,
                                     float alpha, const float* rv, Terms t, int n) {
  const double step = -alpha;
  for (int i = 0; i < n; i += kLanes) {
    const Int8 cl = Classes(c + i);
    const Float8 cv = PairWeight(cl, kInnerV, kBoundV, w);
    Float8 v = Load8(rv + i);
    if (alpha != 0.0f) v = Step(v, step, cv * (Load8(above + i) - Load8(p + i)));
    const Float8 tv = cv * v;
    const Int8 innerV = Has(cl, kInnerV);
    Store8(t.vi + i, Pick(innerV, tv, Float8{}));
    Store8(t.vb + i, Pick(innerV, Float8{}, tv));
  }
}

// s = A^T r for one row in the plain loop's order (base: the ring's terms; below: the
// vertical terms of the row below; cur.hi[0] = cur.hb[0] = 0); returns the sum of squares
// of the unknowns' s. An absent term adds +0, which changes no sum: s is never -0.
ZEP_VECTOR_CLONES double Transposed(const float* base, Terms below, Terms cur, const int32_t* c,
                                    float* s, int n) {
  Double4 s0 = {}, s1 = {};
  for (int i = 0; i < n; i += kLanes) {
    Float8 v = Load8(base + i) + Load8(cur.hi + i);
    v -= Load8(cur.hi + i + 1);
    v += Load8(below.vi + i);
    v -= Load8(cur.vi + i);
    v += Load8(cur.hb + i);
    v -= Load8(cur.hb + i + 1);
    v += Load8(below.vb + i);
    v -= Load8(cur.vb + i);
    Store8(s + i, v);
    AddSquares(Pick(Has(Classes(c + i), kUnknown), v, Float8{}), s0, s1);
  }
  return Total(s0, s1);
}

class ClonePoisson {
 public:
  // The pair lists and their targets: inner h, v, then boundary h, v.
  struct Pairs {
    const cvector<int>* ih;
    const matrix* gih;
    const cvector<int>* iv;
    const matrix* giv;
    const cvector<int>* bh;
    const matrix* gbh;
    const cvector<int>* bv;
    const matrix* gbv;
  };

  ClonePoisson(matrix& x, float a, float w, const cvector<int>& ring, const matrix& e,
               const Pairs& pairs)
      : x_(x), a_(a), w_(w) {
    const int nx = x.nx;
    // The rectangle of every pixel the lists name, far pixels included.
    int lo = x.n, hi = -1;
    const auto extend = [&](const cvector<int>& l, int far) {
      if (l.n == 0) return;
      lo = std::min(lo, l.x[0]);
      hi = std::max(hi, l.x[l.n - 1] + far);
    };
    extend(ring, 0);
    extend(*pairs.ih, 1);
    extend(*pairs.bh, 1);
    extend(*pairs.iv, nx);
    extend(*pairs.bv, nx);
    if (hi < 0) return;
    int xlo = nx, xhi = -1;
    const auto columns = [&](const cvector<int>& l, int far) {
      for (int q = 0; q < l.n; ++q) {
        xlo = std::min(xlo, l.x[q] % nx);
        xhi = std::max(xhi, l.x[q] % nx + far);
      }
    };
    columns(ring, 0);
    columns(*pairs.ih, 1);
    columns(*pairs.bh, 1);
    columns(*pairs.iv, 0);
    columns(*pairs.bv, 0);
    x0_ = xlo;
    y0_ = lo / nx;
    width_ = xhi - xlo + 1;
    bw_ = (width_ + kLanes - 1) / kLanes * kLanes;
    bh_ = hi / nx - y0_ + 1;
    const size_t cells = size_t(bw_) * size_t(bh_);
    cls_.assign(cells, 0);
    // A zero row above the rectangle and a vector more: the pairs of the top row and the
    // last column read there, with weight 0.
    p_.assign(cells + size_t(bw_) + kLanes, 0.0f);
    s_.assign(cells, 0.0f);
    rh_.assign(cells, 0.0f);
    rv_.assign(cells, 0.0f);
    x_box_.assign(cells, 0.0f);
    for (int y = 0; y < bh_; ++y) std::copy(x.z[y0_ + y] + x0_, x.z[y0_ + y] + x0_ + width_, X(y));
    rr_.resize(size_t(ring.n));
    ringAt_.resize(size_t(ring.n));
    rows_ = int(std::min<int64_t>(bh_, BlockFor(int64_t(bw_) * 16)));
    bands_ = (bh_ + rows_ - 1) / rows_;
    edgeP_.assign(size_t(bands_) * size_t(bw_ + kLanes), 0.0f);
    edgeV_.assign(size_t(bands_) * size_t(bw_), 0.0f);

    // r = b - A x at the start, as the plain loop forms b and A x.
    const auto pairsOf = [&](const cvector<int>& l, const matrix& g, int step, int32_t bit,
                             float weight, bool scaled, std::vector<float>& r) {
      for (int q = 0; q < l.n; ++q) {
        const int k = l.x[q];
        const size_t i = Cell(k);
        cls_[i] |= bit | kUnknown;
        const float target = scaled ? float(double(weight) * g.x[q]) : g.x[q];
        r[i] = target - weight * (x.x[k + step] - x.x[k]);
      }
    };
    pairsOf(*pairs.ih, *pairs.gih, 1, kInnerH, 1.0f, false, rh_);
    pairsOf(*pairs.iv, *pairs.giv, nx, kInnerV, 1.0f, false, rv_);
    pairsOf(*pairs.bh, *pairs.gbh, 1, kBoundH, w, true, rh_);
    pairsOf(*pairs.bv, *pairs.gbv, nx, kBoundV, w, true, rv_);
    ringRow_.assign(size_t(bh_) + 1, ring.n);
    for (int q = ring.n - 1; q >= 0; --q) {
      const int k = ring.x[q];
      const size_t i = Cell(k);
      cls_[i] |= kUnknown;
      ringAt_[size_t(q)] = int(i);
      rr_[size_t(q)] = float(double(a) * e.x[q]) - a * x.x[k];
      ringRow_[size_t(k / nx - y0_)] = q;
    }
    for (int y = bh_ - 1; y >= 0; --y) {
      ringRow_[size_t(y)] = std::min(ringRow_[size_t(y)], ringRow_[size_t(y) + 1]);
    }
  }

  int bands() const { return bands_; }

  // The start: s = A^T r over the bands in turn (their outputs are their own), then p = s.
  void Start() {
    if (bw_ == 0) return;
    gamma_ = 0.0;
    for (int j = 0; j < bands_; ++j) gamma_ += BackwardBand(j);
    AfterBackward();
    for (size_t i = 0; i < s_.size(); ++i) p_[i] = (cls_[i] & kUnknown) ? s_[i] : 0.0f;
  }

  // Pass F of band j with the step already taken: its energy of A p.
  double ForwardBand(int j) {
    const int b0 = j * rows_, b1 = std::min(bh_, b0 + rows_);
    ScratchPool<float>::Lease lease(pool_);
    lease->assign(size_t(bw_ + kLanes), 0.0f);
    float* halo = lease->data();  // the row above the band, a zero vector after it
    const auto make = [&](int y, float* into) { NewDirection(P(y), S(y), C(y), beta_, into, bw_); };
    // A band's first row goes to its edge buffer, copied in after the pass, so that the
    // band below can make that row again from the values before the pass.
    float* cur = P(b0);
    if (pending_) {
      cur = edgeP_.data() + size_t(j) * size_t(bw_ + kLanes);
      make(b0, cur);
    }
    double sum = 0.0;
    for (int y = b0; y < b1; ++y) {
      float* above = P(y + 1);  // the zero row above the rectangle at the top
      if (pending_ && y + 1 < bh_) {
        if (y + 1 == b1) above = halo;
        make(y + 1, above);
      }
      double e = PairEnergy(cur, above, C(y), w_, bw_);
      for (int q = ringRow_[size_t(y)]; q < ringRow_[size_t(y) + 1]; ++q) {
        const float v = a_ * cur[ringAt_[size_t(q)] - y * bw_];
        e += double(v) * v;
      }
      sum += e;
      cur = above;
    }
    return sum;
  }

  // After every band's pass F: the step from the bands' energies in band order; false when
  // the loop ends here.
  bool AfterForward(const double* energies) {
    if (pending_) {
      for (int j = 0; j < bands_; ++j) {
        const float* edge = edgeP_.data() + size_t(j) * size_t(bw_ + kLanes);
        std::copy(edge, edge + bw_, P(j * rows_));
      }
    }
    double denom = 0.0;
    for (int j = 0; j < bands_; ++j) denom += energies[j];
    return CgStep(gamma_, denom, denom > 0.0, true, alpha_);
  }

  // Pass B of band j: r -= alpha A p, x += alpha p, s = A^T r; the sum of squares of its
  // unknowns' s.
  double BackwardBand(int j) {
    const int b0 = j * rows_, b1 = std::min(bh_, b0 + rows_);
    ScratchPool<float>::Lease lease(pool_);
    const size_t row = size_t(bw_ + kLanes);
    lease->assign(9 * row, 0.0f);
    float* base = lease->data();
    // Two sets of terms, the row's and the row below's; hi[0] and hb[0] stay 0.
    Terms terms[2];
    for (int t = 0; t < 2; ++t) {
      float* at = base + row * size_t(1 + 4 * t);
      terms[t] = {at, at + row, at + 2 * row, at + 3 * row};
    }
    Terms below = terms[0], cur = terms[1];
    // A band's last row of vertical residuals goes to its edge buffer, copied in after the
    // pass; the band above makes that row's update again from the values before.
    if (b0 > 0) VerticalTerms(P(b0 - 1), P(b0), C(b0 - 1), w_, alpha_, Rv(b0 - 1), below, bw_);
    double sum = 0.0;
    for (int y = b0; y < b1; ++y) {
      const int r0 = ringRow_[size_t(y)], r1 = ringRow_[size_t(y) + 1];
      for (int q = r0; q < r1; ++q) {
        const int col = ringAt_[size_t(q)] - y * bw_;
        float& r = rr_[size_t(q)];
        if (alpha_ != 0.0f) r = float(r + double(-alpha_) * (a_ * P(y)[col]));
        base[col] = 0.0f + a_ * r;
      }
      float* rvOut = y + 1 == b1 ? edgeV_.data() + size_t(j) * size_t(bw_) : Rv(y);
      UpdatePairs(P(y), P(y + 1), C(y), w_, alpha_, Rh(y), Rv(y), rvOut, X(y), cur, bw_);
      sum += Transposed(base, below, cur, C(y), S(y), bw_);
      for (int q = r0; q < r1; ++q) base[ringAt_[size_t(q)] - y * bw_] = 0.0f;
      std::swap(below, cur);
    }
    return sum;
  }

  // After every band's pass B: beta from the bands' sums in band order; false when the loop
  // ends here.
  bool AfterBackward(const double* sums) {
    AfterBackward();
    double gammaNew = 0.0;
    for (int j = 0; j < bands_; ++j) gammaNew += sums[j];
    if (!CgStep(gammaNew, gamma_, gamma_ != 0.0, true, beta_)) return false;
    pending_ = true;
    gamma_ = gammaNew;
    return true;
  }

  // The unknowns into the plane.
  void Finish() {
    for (int y = 0; y < bh_; ++y) {
      float* row = x_.z[y0_ + y] + x0_;
      for (int i = 0; i < width_; ++i) {
        if (C(y)[i] & kUnknown) row[i] = X(y)[i];
      }
    }
  }

 private:
  size_t Cell(int k) const {
    return size_t(k / x_.nx - y0_) * size_t(bw_) + size_t(k % x_.nx - x0_);
  }
  float* P(int y) { return p_.data() + size_t(y) * size_t(bw_); }
  float* S(int y) { return s_.data() + size_t(y) * size_t(bw_); }
  float* Rh(int y) { return rh_.data() + size_t(y) * size_t(bw_); }
  float* Rv(int y) { return rv_.data() + size_t(y) * size_t(bw_); }
  float* X(int y) { return x_box_.data() + size_t(y) * size_t(bw_); }
  const int32_t* C(int y) const { return cls_.data() + size_t(y) * size_t(bw_); }

  void AfterBackward() {
    for (int j = 0; j < bands_; ++j) {
      const float* edge = edgeV_.data() + size_t(j) * size_t(bw_);
      std::copy(edge, edge + bw_, Rv(std::min(bh_, (j + 1) * rows_) - 1));
    }
  }

  matrix& x_;
  float a_, w_;
  int x0_ = 0, y0_ = 0, width_ = 0, bw_ = 0, bh_ = 0, rows_ = 1, bands_ = 0;
  double gamma_ = 0.0;
  float alpha_ = 0.0f, beta_ = 0.0f;
  bool pending_ = false;  // p = beta p + s is due
  std::vector<int32_t> cls_;
  std::vector<float> p_, s_, rh_, rv_, x_box_, rr_, edgeP_, edgeV_;
  std::vector<int> ringAt_, ringRow_;  // a ring pixel's cell; each row's first ring position
  ScratchPool<float> pool_;
};

// Runs the solve's iterations: each pass is one parallel loop over its row bands, whose
// sums the solve adds in band order.
void Run(ClonePoisson& solve, int iterations) {
  solve.Start();
  std::vector<double> sums(size_t(solve.bands()), 0.0);
  const auto pass = [&](bool forward) {
    ParallelBlocks(solve.bands(), 1, [&](int64_t j0, int64_t j1) {
      for (int64_t j = j0; j < j1; ++j)
        sums[size_t(j)] = forward ? solve.ForwardBand(int(j)) : solve.BackwardBand(int(j));
    });
    return forward ? solve.AfterForward(sums.data()) : solve.AfterBackward(sums.data());
  };
  for (int it = 0; it < iterations && pass(true) && pass(false); ++it) {
  }
  solve.Finish();
}

matrixarray Single(const matrix& plane) {
  matrixarray a(1);
  a[0] = plane;
  return a;
}

// r = b - A x and s = A^T r, where the fused iterations start.
template <class Forward, class Adjoint>
matrix StartingResidual(const matrix& x, const matrixarray& b1, const matrixarray& b2,
                        matrixarray& r1, matrixarray& r2, Forward forward, Adjoint adjoint) {
  matrix s;
  forward(x, r1, r2);
  SubtractFrom(b1, r1);
  SubtractFrom(b2, r2);
  adjoint(r1, r2, s);
  return s;
}
}  // namespace

matrix& matrix::poissoncg(int iterations, const matrix& d1, const matrix& d2) {
  const matrixarray b1 = Single(d1), b2 = Single(d2);
  ConjugateGradients(
      *this, b1, b2, iterations, true,
      [](const matrix& u, matrixarray& q1, matrixarray& q2) {
        q1.resize(1);
        q2.resize(1);
        u.diagdiff(q1[0], q2[0], false);
      },
      [this](const matrixarray& r1, const matrixarray& r2, matrix& s) {
        s.dim(nx, ny).zero().diagdiffT(r1[0], r2[0]);
      });
  return *this;
}

matrix& matrix::poissoncg(int iterations, float a, const cvector<int>& ring, const matrix& e,
                          const cvector<int>& innerh, const matrix& gih, const cvector<int>& innerv,
                          const matrix& giv, float w, const cvector<int>& boundh, const matrix& gbh,
                          const cvector<int>& boundv, const matrix& gbv) {
  if (iterations <= 0) return *this;
  ClonePoisson solve(*this, a, w, ring, e,
                     {&innerh, &gih, &innerv, &giv, &boundh, &gbh, &boundv, &gbv});
  Run(solve, iterations);
  return *this;
}

matrix& matrix::pyramidcg(int iterations, const matrixarray& g1, const matrixarray& g2, int limit,
                          bool diagonal) {
  if (iterations <= 0 || g1.n == 0 || g2.n == 0) return *this;
  // The unknown has the pyramid's level-0 size, made even.
  matrix u(g1[0].nx + 1, g2[0].ny + 1);
  u.extend(*this);
  matrixarray gauss, scratch;
  auto forward = [&](const matrix& v, matrixarray& q1, matrixarray& q2) {
    v.gradpyramid(gauss, q1, q2, limit, diagonal);
  };
  auto adjoint = [&](const matrixarray& r1, const matrixarray& r2, matrix& s) {
    PyramidGradientsT(s, scratch, r1, r2, diagonal);
  };
  std::vector<int> widths, heights;
  const int levels = PyramidLevelSizes(u.nx, u.ny, limit, widths, heights);
  try {
    if (widths[0] == u.nx && heights[0] == u.ny) {
      matrixarray r1, r2;
      matrix s = StartingResidual(u, g1, g2, r1, r2, forward, adjoint);
      gauss.free();
      scratch.free();
      LevelConjugateGradients(u, s, r1, r2, levels, LevelReduction::Mirroring, diagonal, iterations,
                              true);
    } else {
      // Targets of an odd level 0 under more levels: the pyramid would not start at u.
      ConjugateGradients(u, g1, g2, iterations, true, forward, adjoint);
    }
  } catch (const Cancelled&) {
    extend(u);  // the last completed iteration
    throw;
  }
  return extend(u);
}

matrix& matrix::multiresolutioncg(int iterations, const matrixarray& gx, const matrixarray& gy,
                                  bool diagonal) {
  const int count = std::min(gx.n, gy.n);
  if (count == 0 || iterations <= 0) return *this;
  matrixarray levels, back, r1, r2;
  matrix s = StartingResidual(
      *this, gx, gy, r1, r2,
      [&](const matrix& v, matrixarray& q1, matrixarray& q2) {
        MultiresolutionGradients(v, count, levels, q1, q2, diagonal);
      },
      [&](const matrixarray& r1, const matrixarray& r2, matrix& t) {
        t.dim(nx, ny);
        MultiresolutionGradientsT(t, back, r1, r2, diagonal);
      });
  levels.free();
  back.free();
  LevelConjugateGradients(*this, s, r1, r2, count, LevelReduction::Renormalising, diagonal,
                          iterations, false);
  return *this;
}
