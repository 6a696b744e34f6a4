// The windowless Xin Li solver and its plane drivers: the weights of each model are fitted
// by conjugate gradients on the normal equations of a regularised least-squares objective,
// then interpolate the doubled plane.
#include <cmath>
#include <string>

#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/shift.h"
#include "platform/format.h"
#include "platform/progress.h"

namespace {

// The residuals of every active term of the objective, and their forward images of a
// direction.
struct Terms {
  const matrix& X;
  const cvector<uint8_t>& classes;
  const cvector<uint8_t>& edges;
  float a, b, c, d;
  bool axial, sixteen;

  matrix& model(matrix& out, const WindowlessWeights& w) const {
    return axial ? out.hvmodel(X, w) : out.diagmodel(X, w);
  }
  // g = the transpose of every term applied to its residual (fresh planes).
  void gradient(WindowlessWeights& g, const matrix& r0, const matrix& r1, const matrix& r2,
                const matrixarray& R3, const matrixarray& R4) const {
    if (axial) {
      X.hvmodeladjoint(r0, g, true, sixteen);
    } else {
      X.diagmodeladjoint(r0, g, true, sixteen);
    }
    if (b > 0) r1.prioradjoint(b, g);
    if (c > 0) r2.sumadjoint(c, g);
    if (a > 0) g.laplacianadj(R3, a, false);
    if (d > 0) g.stenciladj(R4, d, edges, false);
  }
  float energy(const matrix& r0, const matrix& r1, const matrix& r2, const matrixarray& R3,
               const matrixarray& R4) const {
    const auto sq = [](const matrix& p) { return p.sumsq(); };
    double total = r0.sumsq();
    if (b > 0) total += r1.sumsq();
    if (c > 0) total += r2.sumsq();
    if (a > 0) total += R3.sum(sq);
    if (d > 0) total += R4.sum(sq);
    return float(total);
  }
};

}  // namespace

const matrix& matrix::fitweights(const matrix& X, WindowlessWeights& w, float a,
                                 const cvector<uint8_t>& classes, float b, float c, float d,
                                 const cvector<uint8_t>& edges, int iterations, bool axial,
                                 bool sixteen) const {
  const Terms t{X, classes, edges, a, b, c, d, axial, sixteen};
  if (w.n == 0) w.dim(sixteen ? 16 : 4, nx, ny).zero();
  const auto sq = [](const matrix& p) { return p.sumsq(); };
  const char* label = axial ? "HV: %d    r = %f" : "D:  %d    r = %f";
  const char* progressLabel = axial ? "HV: %d    r = %f,   s = %f" : "D:  %d    r = %f,   s = %f";

  matrix r0, r1, r2, q0, q1, q2;
  matrixarray R3, R4, Q3, Q4, g, m;
  t.model(r0, w);
  r0.reflect(0.0f).add(*this);  // y - M w
  if (b > 0) r1.priorresidual(b, classes, w);
  if (c > 0) r2.sumresidual(c, w);
  if (a > 0) R3.laplacian(w, -a);
  if (d > 0) R4.stencil(w, -d, edges);
  t.gradient(g, r0, r1, r2, R3, R4);
  m = g;
  float gamma = g.sum(sq);
  int done = 0;
  for (int it = 1; it < iterations; ++it) {
    StepProgressOrThrow();
    double D = t.model(q0, m).sumsq();
    if (b > 0) D += q1.priorforward(b, m).sumsq();
    if (c > 0) D += q2.sumforward(c, m).sumsq();
    if (a > 0) D += Q3.laplaciannorm(m, a);
    if (d > 0) D += Q4.stencilnorm(m, d, edges);
    // No curvature left (a zero gradient, as on a flat plane from its priors) or none
    // that is a number: the weights are as good as this search can make them.
    if (!(D > 0) || !std::isfinite(D)) break;
    const float alpha = float(gamma / D);
    w.axpy(alpha, m);
    r0.axpy(-alpha, q0);
    if (b > 0) r1.axpy(-alpha, q1);
    if (c > 0) r2.axpy(-alpha, q2);
    if (a > 0) R3.axpy(-alpha, Q3);
    if (d > 0) R4.axpy(-alpha, Q4);
    t.gradient(g, r0, r1, r2, R3, R4);
    const float old = gamma;
    gamma = g.sum(sq);
    done = it;
    if (it % 50 == 0) {
      SetStatusText(Format(progressLabel, it, double(t.energy(r0, r1, r2, R3, R4)), double(gamma)),
                    4);
    }
    m.scaleadd(gamma / old, g);
  }
  // The report recomputes every residual from the weights.
  t.model(r0, w);
  r0.reflect(0.0f).add(*this);
  if (b > 0) r1.priorresidual(b, classes, w);
  if (c > 0) r2.sumresidual(c, w);
  if (a > 0) R3.laplacian(w, -a);
  if (d > 0) R4.stencil(w, -d, edges);
  SetStatusText(Format(label, done, double(t.energy(r0, r1, r2, R3, R4))), 4);
  return *this;
}

namespace {

// Planes with a side below 3 have no interior for the regularisers and no room for the
// stencils; their doublings are the Lanczos-3 estimate alone, in the fit and in the
// reapplication alike.
bool TooSmall(const matrix& p) { return p.nx < 3 || p.ny < 3; }

void Turn(matrix& p) { p.fliph().flipv(); }

// Removes the weight files of one doubling by name, on every path out.
class WeightFiles {
 public:
  WeightFiles(const char* prefix, int doubling, int count, bool active)
      : prefix_(prefix), doubling_(doubling), count_(active ? count : 0) {}
  ~WeightFiles() {
    for (int e = 0; e < count_; ++e) matrix::remove(ArrayElementName(prefix_, doubling_, e));
  }
  WeightFiles(const WeightFiles&) = delete;
  WeightFiles& operator=(const WeightFiles&) = delete;

 private:
  std::string prefix_;
  int doubling_, count_;
};

}  // namespace

matrix& matrix::windowlessenlarge(float a, float b, float c, float d, int iterations, bool clamp,
                                  int k, bool keepFiles, bool priorStart, bool sixteen) {
  const int K = sixteen ? 16 : 4;
  for (int p = 0; p < k; ++p) {
    if (p == 1) Turn(*this);
    matrix y(*this);
    if (TooSmall(y)) {
      lanczos3double(y);
      continue;
    }
    cvector<uint8_t> edges, classes;
    y.edgeclasses(edges);
    lanczos3double(y);
    WindowlessWeights w;
    const WeightFiles hvFiles("hv", p, K, !keepFiles);
    y.hvweights(w, classes, priorStart, sixteen);
    y.fitweights(*this, w, a, classes, b, c, d, edges, iterations, true, sixteen);
    w.write("hv", p);
    w.free();
    y.diagweights(w, classes, priorStart, sixteen);
    y.fitweights(*this, w, a, classes, b, c, d, edges, iterations, false, sixteen);
    if (keepFiles) w.write("d", p);
    classes.free();
    spread2(y).filldiagonal(w, clamp);
    y.free();
    w.resize(K).read("hv", p);
    fillhorizontal(w, clamp).fillvertical(w, clamp);
  }
  if (k > 1) Turn(*this);
  return *this;
}

matrix& matrix::windowlessreapply(bool clamp, int k, bool sixteen) {
  const int K = sixteen ? 16 : 4;
  WindowlessWeights w;
  for (int p = 0; p < k; ++p) {
    if (p == 1) Turn(*this);
    if (TooSmall(*this)) {
      lanczos3double(*this);
      continue;
    }
    spread2(*this);
    filldiagonal(w.resize(K).read("d", p), clamp);
    w.read("hv", p);
    fillhorizontal(w, clamp).fillvertical(w, clamp);
  }
  if (k > 1) Turn(*this);
  return *this;
}

matrix& matrix::windowlessbackproject(const matrix& y, int iterations, int reductionMethod,
                                      int /*baseMethod*/, float radius, float amount, int k,
                                      bool sixteen) {
  if (iterations <= 0) return *this;
  const int f = 1 << k;
  matrix R, e;
  R.DownscaleKernel(f, reductionMethod, radius, amount);
  ShiftHalfPixelNoCancel(*this, true, true);
  for (int it = 0; it < iterations; ++it) {
    e.dim(y.nx, y.ny).decimate(*this, R, f);
    e.sub(y);
    e.windowlessreapply(false, k, sixteen);
    ShiftHalfPixelNoCancel(e, true, true);
    sub(e);
  }
  return *this;
}
