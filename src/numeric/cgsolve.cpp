// The gradient-domain solvers: one conjugate-gradient loop on the normal equations,
// minimising |A x - b|^2 where A maps a plane to two stacks of difference planes.
#include <algorithm>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/levelcg.h"
#include "numeric/listruns.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "platform/errors.h"
#include "platform/progress.h"

namespace {
// r := b - r, level by level.
void SubtractFrom(const matrixarray& b, matrixarray& r) {
  for (int i = 0; i < std::min(b.n, r.n); ++i) {
    const int count = std::min(b[i].n, r[i].n);
    for (int k = 0; k < count; ++k) r[i].x[k] = b[i].x[k] - r[i].x[k];
  }
}

// The unknowns are every element of the plane, with a progress tick per iteration.
struct WholePlane {
  static constexpr bool kTicks = true;
  double sumsq(const matrix& s) const { return s.sumsq(); }
  void start(matrix& p, const matrix& s) const { p.assign(s); }
  void axpy(matrix& x, float a, const matrix& p) const { x.axpy(a, p); }
  void xpay(matrix& p, float b, const matrix& s) const { p.scaleadd(b, s); }
};

// The unknowns are the listed elements alone; the direction is 0 elsewhere.
struct Listed {
  static constexpr bool kTicks = false;
  const cvector<int>& v;
  const ListRuns& runs;  // of v
  double sumsq(const matrix& s) const { return s.listsumsq(v); }
  void start(matrix& p, const matrix& s) const {
    p.dim(s.nx, s.ny).zero();
    listruns::Copy(p, runs, s);
  }
  void axpy(matrix& x, float a, const matrix& p) const { listruns::Axpy(x, runs, a, p); }
  void xpay(matrix& p, float b, const matrix& s) const { listruns::Xpay(p, runs, b, s); }
};

// forward(x, q1, q2) sets q = A x; adjoint(r1, r2, s) sets s = A^T r. With stopEarly the
// loop ends when the step's denominator is not positive (before the update) or when the
// previous gamma was 0 (after the new residual, the direction left as it was); without
// it those cases take gamma itself as the step and gamma_new as beta and carry on.
template <class Forward, class Adjoint, class Space = WholePlane>
void ConjugateGradients(matrix& x, const matrixarray& b1, const matrixarray& b2, int iterations,
                        bool stopEarly, Forward forward, Adjoint adjoint, const Space& space = {}) {
  if (iterations <= 0) return;
  matrixarray r1, r2, q1, q2;
  matrix s, p;
  forward(x, r1, r2);
  SubtractFrom(b1, r1);
  SubtractFrom(b2, r2);
  adjoint(r1, r2, s);
  double gamma = space.sumsq(s);
  space.start(p, s);
  for (int it = 0; it < iterations; ++it) {
    if constexpr (Space::kTicks) StepProgressOrThrow();
    forward(p, q1, q2);
    const double denom = q1.energy() + q2.energy();
    float alpha;
    if (!CgStep(gamma, denom, denom > 0.0, stopEarly, alpha)) break;
    space.axpy(x, alpha, p);
    r1.axpy(-alpha, q1);
    r2.axpy(-alpha, q2);
    adjoint(r1, r2, s);
    const double gammaNew = space.sumsq(s);
    float beta;
    if (!CgStep(gammaNew, gamma, gamma != 0.0, stopEarly, beta)) break;
    space.xpay(p, beta, s);
    gamma = gammaNew;
  }
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
  // The unknowns: the ring and the base pixels of every pair.
  bitmask marks(nx, ny);
  marks.setlist(ring).setlist(innerh).setlist(innerv).setlist(boundh).setlist(boundv);
  cvector<int> unknowns, touched;
  marks.indices(unknowns);
  // The gradient is also written at the far pixels of the pairs (a pixel of the last
  // column or the top row need not be an unknown); all of them are cleared before it.
  for (const cvector<int>* l : {&innerh, &boundh}) {
    for (int k = 0; k < l->n; ++k) marks.setbit(l->x[k] + 1, true);
  }
  for (const cvector<int>* l : {&innerv, &boundv}) {
    for (int k = 0; k < l->n; ++k) marks.setbit(l->x[k] + nx, true);
  }
  marks.indices(touched);
  marks.free();
  // b = (a e, the inner targets; w times the boundary targets).
  matrixarray b1(3), b2(2);
  b1[0].assign(e).mulscalar(a);
  b1[1] = gih;
  b1[2] = giv;
  b2[0].assign(gbh).mulscalar(w);
  b2[1].assign(gbv).mulscalar(w);
  const int width = nx, height = ny;
  // The lists as runs, made once for all the iterations.
  const ListRuns ringRuns(ring), ihRuns(innerh), ivRuns(innerv), bhRuns(boundh), bvRuns(boundv),
      touchedRuns(touched), unknownRuns(unknowns);
  using namespace listruns;
  ConjugateGradients(
      *this, b1, b2, iterations, true,
      [&](const matrix& u, matrixarray& q1, matrixarray& q2) {
        q1.resize(3);
        q2.resize(2);
        Gather(u, a, ringRuns, q1[0]);
        Diff(u, ihRuns, 1, q1[1], 1.0f);
        Diff(u, ivRuns, width, q1[2], 1.0f);
        Diff(u, bhRuns, 1, q2[0], w);
        Diff(u, bvRuns, width, q2[1], w);
      },
      [&](const matrixarray& r1, const matrixarray& r2, matrix& t) {
        if (t.nx != width || t.ny != height) t.dim(width, height).zero();
        Zero(t, touchedRuns);
        ScatterAdd(t, a, ringRuns, r1[0]);
        DiffAdjoint(t, ihRuns, 1, r1[1], 1.0f);
        DiffAdjoint(t, ivRuns, width, r1[2], 1.0f);
        DiffAdjoint(t, bhRuns, 1, r2[0], w);
        DiffAdjoint(t, bvRuns, width, r2[1], w);
      },
      Listed{unknowns, unknownRuns});
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
