// Least squares (conjugate gradients on the normal equations, plain and weighted) and least
// absolute deviations (a primal-dual interior-point method whose steps are weighted least
// squares) of a degradation A and regularizers L_k given as LinearOp functions.
//
// Sums and norms are formed in double over fixed blocks (blocksum.h) and the element-wise
// updates run in fixed blocks, so a solve gives the same bytes with any number of threads.
// Step lengths and ratios are rounded to float before use.
#include <algorithm>
#include <cmath>
#include <string>

#include "numeric/blocksum.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
constexpr int kIterationPane = 4;
constexpr int kLadPane = 5;
const char* const kMinName = "a.min.mat";
const char* const kTempName = "a.temp.mat";

size_t Count(const matrix& m) { return size_t(std::max(m.n, 0)); }

template <class Body>
void EachElement(size_t count, Body body) {
  ParallelBlocks(int64_t(count), BlockFor(2), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) body(size_t(i));
  });
}

// y += a p.
void Axpy(matrix& y, float a, const matrix& p) {
  EachElement(Count(y),
              [&](size_t i) { y.x[i] = static_cast<float>(y.x[i] + double(a) * p.x[i]); });
}

// x += alpha p, then p = beta p + g, in one pass over p.
void StepAndTurn(matrix& x, float alpha, matrix& p, float beta, const matrix& g) {
  EachElement(Count(p), [&](size_t i) {
    const double v = p.x[i];
    x.x[i] = static_cast<float>(x.x[i] + double(alpha) * v);
    p.x[i] = static_cast<float>(double(beta) * v + g.x[i]);
  });
}

// The work planes of one conjugate-gradient solve, kept across the solves of a LAD run.
struct Work {
  matrix s, q, g, p;
  matrixarray rk, qk;
};

// g = A^T s + sum_k L_k^T r_k, returning |g|^2.
double Gradient(Work& w, LinearOp At, const LinearOpList& adjoints) {
  At(w.g, w.s);
  for (size_t k = 0; k < adjoints.size(); ++k) adjoints[k](w.g, w.rk[int(k)]);
  return w.g.sumsq();
}

void ShowIteration(int i) { SetStatusText(Format("%d", i), kIterationPane); }

// The conjugate-gradient loop from the state in w: residuals s, r_k and gradient g set,
// p = g, gamma = |g|^2. With weights the products q and q_k are weighted before they are
// squared and subtracted. Stops at the first iteration from minIterations on whose
// gradient is small, at an exact solution (gradient 0), and when a step has no length.
void Iterate(matrix& x, Work& w, double gamma, LinearOp At, LinearOp A,
             const LinearOpList& adjoints, const LinearOpList& forwards, const matrix* weights,
             const matrixarray* regWeights, int maxIterations, float tolerance, int minIterations) {
  const double count = std::max(x.n, 1);
  const int K = int(forwards.size());
  int i = 0;
  for (; i < maxIterations; ++i) {
    if (i % 10 == 0) StepProgressOrThrow();
    A(w.q, w.p);
    for (int k = 0; k < K; ++k) forwards[size_t(k)](w.qk[k], w.p);
    double denominator = weights ? w.q.weightsq(*weights) : w.q.sumsq();
    for (int k = 0; k < K; ++k) {
      if (w.rk[k].nx != w.qk[k].nx || w.rk[k].ny != w.qk[k].ny) {
        w.rk[k].dim(w.qk[k].nx, w.qk[k].ny).zero();
      }
      denominator += regWeights ? w.qk[k].weightsq((*regWeights)[k]) : w.qk[k].sumsq();
    }
    if (!(denominator > 0.0)) break;  // no step: p lies in the null space of every operator
    const float alpha = static_cast<float>(gamma / denominator);
    Axpy(w.s, -alpha, w.q);
    for (int k = 0; k < K; ++k) Axpy(w.rk[k], -alpha, w.qk[k]);
    const double next = Gradient(w, At, adjoints);
    // Exact (a further ratio would be 0 / 0), or small enough.
    if (next == 0.0 || (i >= minIterations && std::sqrt(next / count) <= tolerance)) {
      Axpy(x, alpha, w.p);
      break;
    }
    StepAndTurn(x, alpha, w.p, static_cast<float>(next / gamma), w.g);
    gamma = next;
  }
  ShowIteration(i < maxIterations ? i : maxIterations);
}

void PrepareWork(Work& w, const matrix& x, const matrix& b, int K) {
  w.s.dim(b.nx, b.ny);
  w.q.dim(b.nx, b.ny);
  w.g.dim(x.nx, x.ny);
  w.p.dim(x.nx, x.ny);
  if (w.qk.n != K) w.qk.resize(K);
  if (w.rk.n != K) w.rk.resize(K);
}

bool Cgls(matrix& x, Work& w, const matrix& b, LinearOp At, LinearOp A,
          const LinearOpList& adjoints, const LinearOpList& forwards, intmaps& sizes,
          int maxIterations, float tolerance, int minIterations) {
  const int K = int(forwards.size());
  PrepareWork(w, x, b, K);
  x.zero();
  w.s.assign(b);
  for (int k = 0; k < K; ++k) w.rk[k].free();  // zero residuals, dimensioned when first used
  At(w.g, w.s);
  const double gamma = w.g.sumsq();
  if (gamma == 0.0) return true;
  w.p.assign(w.g);
  Iterate(x, w, gamma, At, A, adjoints, forwards, nullptr, nullptr, maxIterations, tolerance,
          minIterations);
  if (sizes.n != 2 || sizes[0].n != K || sizes[1].n != K) sizes.free().dim(K, 2);
  for (int k = 0; k < K; ++k) {
    if (w.qk[k].nx == 0 && w.qk[k].ny == 0) forwards[size_t(k)](w.qk[k], x);  // loop never ran
    sizes[0].x[k] = w.qk[k].nx;
    sizes[1].x[k] = w.qk[k].ny;
  }
  return false;
}

void WeightedCgls(matrix& x, Work& w, const matrix& b, LinearOp At, const matrix& weights,
                  LinearOp A, const LinearOpList& adjoints, const matrixarray& regWeights,
                  const LinearOpList& forwards, int maxIterations, float tolerance,
                  int minIterations) {
  const int K = int(forwards.size());
  PrepareWork(w, x, b, K);
  // r = -w (A x - b), r_k = -w_k L_k x.
  A(w.s, x);
  w.s.sub(b).scaleweighted(-1.0f, weights);
  for (int k = 0; k < K; ++k) forwards[size_t(k)](w.rk[k], x).scaleweighted(-1.0f, regWeights[k]);
  const double gamma = Gradient(w, At, adjoints);
  w.p.assign(w.g);
  Iterate(x, w, gamma, At, A, adjoints, forwards, &weights, &regWeights, maxIterations, tolerance,
          minIterations);
}

// The state of a LAD run besides x: the dual variables and weights of the data term and
// of each regularizer, and the residual planes of the current iterate.
struct Lad {
  matrix z, u, w, e, t;
  matrixarray zk, uk, wk, ek, tk;
};
}  // namespace

bool matrix::cgls(const matrix& b, LinearOp At, LinearOp A, const LinearOpList& adjoints,
                  const LinearOpList& forwards, intmaps& sizes, int maxIterations, float tolerance,
                  int minIterations) {
  Work w;
  return Cgls(*this, w, b, At, A, adjoints, forwards, sizes, maxIterations, tolerance,
              minIterations);
}

matrix& matrix::weightedcgls(const matrix& b, LinearOp At, const matrix& w, LinearOp A,
                             const LinearOpList& adjoints, const matrixarray& wk,
                             const LinearOpList& forwards, int maxIterations, float tolerance,
                             int minIterations) {
  Work work;
  WeightedCgls(*this, work, b, At, w, A, adjoints, wk, forwards, maxIterations, tolerance,
               minIterations);
  return *this;
}

matrix& matrix::lad(const matrix& b, LinearOp At, LinearOp A, const LinearOpList& adjoints,
                    const LinearOpList& forwards, float* l1, int lsMaxIterations, float lsTolerance,
                    float ladTolerance, int ladMaxIterations, int lsMinIterations,
                    bool memorySaving) {
  const int K = int(forwards.size());
  double best = 1e16;
  *l1 = 0.0f;
  Work work;
  Lad v;
  intmaps sizes;
  if (memorySaving) {
    write(kTempName);
    free();
  }
  const int iterations = std::max(ladMaxIterations, 1);  // the LS solution at least
  for (int j = 0; j < iterations; ++j) {
    if (memorySaving) read(kTempName);
    if (j == 0) {
      if (Cgls(*this, work, b, At, A, adjoints, forwards, sizes, lsMaxIterations, lsTolerance,
               lsMinIterations)) {
        return *this;  // A^T b = 0: x = 0 fits as well as anything
      }
      v.z.dim(b.nx, b.ny).fill(0.5f);
      v.u.dim(b.nx, b.ny).fill(0.5f);
      v.w.dim(b.nx, b.ny).fill(0.5f);
      for (matrixarray* a : {&v.zk, &v.uk, &v.wk}) a->resize(K);
      for (int k = 0; k < K; ++k) {
        v.zk[k].dim(sizes[0].x[k], sizes[1].x[k]).fill(0.5f);
        v.uk[k].dim(sizes[0].x[k], sizes[1].x[k]).fill(0.5f);
        // Weighted like the data term, so that the first dual step treats both alike.
        v.wk[k].dim(sizes[0].x[k], sizes[1].x[k]).fill(0.5f);
      }
      write(kMinName);
    } else {
      EachElement(Count(v.z), [&](size_t i) { v.u.x[i] = 1.0f - v.z.x[i]; });
      v.w.ladweights(v.z, v.u);
      for (int k = 0; k < K; ++k) {
        EachElement(Count(v.zk[k]), [&](size_t i) { v.uk[k].x[i] = 1.0f - v.zk[k].x[i]; });
        v.wk[k].ladweights(v.zk[k], v.uk[k]);
      }
      WeightedCgls(*this, work, b, At, v.w, A, adjoints, v.wk, forwards, lsMaxIterations,
                   lsTolerance, lsMinIterations);
    }
    // Residuals e = b - A x, e_k = -L_k x; primal P = sum |e|, dual D = sum (z-u) e/(z²+u²).
    v.e.dim(b.nx, b.ny);
    A(v.e, *this);
    v.ek.resize(K);
    v.tk.resize(K);
    for (int k = 0; k < K; ++k) forwards[size_t(k)](v.ek[k], *this);
    if (memorySaving) {
      write(kTempName);
      free();
    }
    EachElement(Count(v.e),
                [&](size_t i) { v.e.x[i] = static_cast<float>(double(b.x[i]) - v.e.x[i]); });
    double primal = BlockSum(Count(v.e), [&](size_t i) { return std::fabs(double(v.e.x[i])); });
    double dual = v.t.assign(v.e).ladgapterm(v.z, v.u).sum();
    for (int k = 0; k < K; ++k) {
      matrix& e = v.ek[k];
      e.mulscalar(-1.0f);
      primal += BlockSum(Count(e), [&](size_t i) { return std::fabs(double(e.x[i])); });
      dual += v.tk[k].assign(e).ladgapterm(v.zk[k], v.uk[k]).sum();
    }
    const double gap = primal > 0.0 ? 1.0 - dual / primal : 0.0;
    SetStatusText(Format("%d, %15.0f,         %f", j, primal, std::isfinite(gap) ? gap : 0.0),
                  kLadPane);
    if (primal < best) {
      best = primal;
      if (memorySaving) {
        copyfile(kTempName, kMinName);
      } else {
        write(kMinName);
      }
    }
    // A perfect fit or a gap that is no number ends the run: nothing better can follow,
    // and another dual step would divide by 0.
    if (!(primal > 0.0) || !std::isfinite(gap) || ladTolerance > gap) break;
    // Dual step: d = w e, to 97% of the longest step that keeps every z and u positive.
    v.e.mul(v.w);
    float F = -1e16f;
    v.e.ladmaxratio(&F, v.z, v.u);
    for (int k = 0; k < K; ++k) v.ek[k].mul(v.wk[k]).ladmaxratio(&F, v.zk[k], v.uk[k]);
    if (!(F > 0.0f) || !std::isfinite(F)) break;
    const float sigma = static_cast<float>(0.97 / F);
    Axpy(v.z, sigma, v.e);
    for (int k = 0; k < K; ++k) Axpy(v.zk[k], sigma, v.ek[k]);
  }
  *l1 = static_cast<float>(best);
  read(kMinName, true);
  return *this;
}
