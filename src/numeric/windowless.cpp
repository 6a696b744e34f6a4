// The windowless Xin Li model: every source pixel carries its own 4 or 16 interpolation
// weights, which predict the pixel from its neighbours on a doubled estimate. Here are the
// stencils, the class priors, the edge classes of the directional regulariser, the model
// and regulariser operators with their transposes, and the fills that use the weights.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/kernels.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/resample.h"
#include "numeric/shift.h"
#include "numeric/windowless.h"
#include "platform/parallel.h"

namespace windowless {

// Offsets (row, column) on the doubled grid from the predicted sample: the inner four
// clockwise from the top left, then the outer ring clockwise from its top-left corner.
const Offset kDiagonal[16] = {{-1, -1}, {-1, 1}, {1, 1},  {1, -1}, {-3, -3}, {-3, -1},
                              {-3, 1},  {-3, 3}, {-1, 3}, {1, 3},  {3, 3},   {3, 1},
                              {3, -1},  {3, -3}, {1, -3}, {-1, -3}};
// The diagonal stencil turned by 45 degrees.
const Offset kAxial[16] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}, {0, -3}, {-1, -2}, {-2, -1}, {-3, 0},
                           {-2, 1}, {-1, 2}, {0, 3}, {1, 2}, {2, 1},  {3, 0},   {2, -1},  {1, -2}};

void Prior(int cls, bool sixteen, float* out) {
  if (cls < 0 || cls > 2) cls = 0;
  // The Lanczos-2 taps at half and one and a half samples, scaled so that the two pairs
  // of a line sum to 1 (9/16 and -1/16).
  const double li = KernelLanczos(0.5, 2), lo = KernelLanczos(1.5, 2);
  const double wi = li / (2 * (li + lo)), wo = lo / (2 * (li + lo));
  const int K = sixteen ? 16 : 4;
  std::fill(out, out + K, 0.0f);
  if (!sixteen) {
    if (cls == 1) {
      out[0] = out[2] = 0.5f;
    } else if (cls == 2) {
      out[1] = out[3] = 0.5f;
    } else {
      std::fill(out, out + 4, 0.25f);
    }
    return;
  }
  if (cls == 1) {
    out[0] = out[2] = float(wi);
    out[4] = out[10] = float(wo);
  } else if (cls == 2) {
    out[1] = out[3] = float(wi);
    out[7] = out[13] = float(wo);
  } else {
    for (int k = 0; k < 4; ++k) out[k] = float(wi * wi);
    for (int k : {4, 7, 10, 13}) out[k] = float(wo * wo);
    for (int k : {5, 6, 8, 9, 11, 12, 14, 15}) out[k] = float(wi * wo);
  }
}

// The regulariser stencils of the nine edge classes, [row + 1][column + 1]; the class-0
// stencil uses the scale 1/8 in the forward pass, its energy and its transpose alike.
const float kClassStencil[9][3][3] = {
    {{1 / 16.f, 1 / 8.f, 1 / 16.f}, {1 / 8.f, -0.75f, 1 / 8.f}, {1 / 16.f, 1 / 8.f, 1 / 16.f}},
    {{0, 0, 0}, {1, -2, 1}, {0, 0, 0}},
    {{0, 1, 0}, {0, -2, 0}, {0, 1, 0}},
    {{0.5f, 0, 0}, {0, -1, 0}, {0, 0, 0.5f}},
    {{0, 0, 0.5f}, {0, -1, 0}, {0.5f, 0, 0}},
    {{0.25f, 0, 0}, {0.5f, -1.5f, 0.5f}, {0, 0, 0.25f}},
    {{0, 0, 0.25f}, {0.5f, -1.5f, 0.5f}, {0.25f, 0, 0}},
    {{0.25f, 0.5f, 0}, {0, -1.5f, 0}, {0, 0.5f, 0.25f}},
    {{0, 0.5f, 0.25f}, {0, -1.5f, 0}, {0.25f, 0.5f, 0}},
};

}  // namespace windowless

using windowless::Offset;

namespace {

// Rows [0, rows) in blocks on the parallel helper, each row costing about `cost` units.
template <class Body>
void ForRows(int rows, int64_t cost, Body body) {
  if (rows <= 0) return;
  ParallelBlocks(rows, BlockFor(std::max<int64_t>(cost, 1)), [&](int64_t r0, int64_t r1) {
    for (int64_t r = r0; r < r1; ++r) body(int(r));
  });
}

// Where each stencil offset of a pixel lands on the doubled plane, with the reflections
// worked out once: for source column c and plane k the column of X, for row r the row.
struct Lookup {
  std::vector<int> column;  // [k][c]
  std::vector<int> row;     // [k][r]
  Lookup(const Offset* stencil, int K, int W, int H, int NX, int NY, int baseRow, int baseCol)
      : column(size_t(K) * W), row(size_t(K) * H) {
    for (int k = 0; k < K; ++k) {
      for (int c = 0; c < W; ++c)
        column[size_t(k) * W + c] = ReflectWhole(2 * c + baseCol + stencil[k].dx, NX);
      for (int r = 0; r < H; ++r)
        row[size_t(k) * H + r] = ReflectWhole(2 * r + baseRow + stencil[k].dy, NY);
    }
  }
};

matrix& Model(matrix& out, const matrix& X, const WindowlessWeights& w, const Offset* stencil) {
  const int W = X.nx / 2, H = X.ny / 2, K = w.n;
  out.dim(W, H);
  const Lookup at(stencil, K, W, H, X.nx, X.ny, 0, 0);
  ForRows(H, int64_t(W) * K, [&](int r) {
    float* o = out.z[r];
    std::fill(o, o + W, 0.0f);
    for (int k = 0; k < K; ++k) {
      const float* xr = X.z[at.row[size_t(k) * H + r]];
      const float* wk = w[k].z[r];
      const int* col = &at.column[size_t(k) * W];
      for (int c = 0; c < W; ++c) o[c] += wk[c] * xr[col[c]];
    }
  });
  return out;
}

void ModelAdjoint(const matrix& X, const matrix& res, WindowlessWeights& w, bool create, int K,
                  const Offset* stencil) {
  const int W = X.nx / 2, H = X.ny / 2;
  if (create) w.dim(K, W, H).zero();
  K = w.n;
  const Lookup at(stencil, K, W, H, X.nx, X.ny, 0, 0);
  ForRows(H, int64_t(W) * K, [&](int r) {
    const float* e = res.z[r];
    for (int k = 0; k < K; ++k) {
      const float* xr = X.z[at.row[size_t(k) * H + r]];
      float* wk = w[k].z[r];
      const int* col = &at.column[size_t(k) * W];
      for (int c = 0; c < W; ++c) wk[c] += e[c] * xr[col[c]];
    }
  });
}

// D = |centre curvature along the class-1 line| - |along the class-2 line|, smoothed;
// class 1 where it is negative, 2 where positive, 0 where 0.
void DirectionClasses(const matrix& y, WindowlessWeights& w, cvector<uint8_t>& classes,
                      bool makePrior, bool sixteen, bool axial) {
  const int W = y.nx, H = y.ny;
  matrix D(W, H);
  ForRows(H, W, [&](int r) {
    const float* m = y.z[ReflectWhole(r - 1, H)];
    const float* o = y.z[r];
    const float* p = y.z[ReflectWhole(r + 1, H)];
    for (int c = 0; c < W; ++c) {
      const int cl = ReflectWhole(c - 1, W), cr = ReflectWhole(c + 1, W);
      const float v = 2 * o[c];
      D.z[r][c] = axial ? std::fabs(v - o[cl] - o[cr]) - std::fabs(v - m[c] - p[c])
                        : std::fabs(v - m[cl] - p[cr]) - std::fabs(v - p[cl] - m[cr]);
    }
  });
  D.mean3x3();
  classes.dim(W * H);
  for (int i = 0; i < W * H; ++i) classes[i] = D.x[i] < 0 ? 1 : D.x[i] > 0 ? 2 : 0;
  if (!makePrior) return;
  const int K = sixteen ? 16 : 4;
  w.dim(K, W, H);
  float prior[3][16];
  for (int e = 0; e < 3; ++e) windowless::Prior(e, sixteen, prior[e]);
  for (int k = 0; k < K; ++k) {
    for (int i = 0; i < W * H; ++i) w[k].x[i] = prior[classes[i]][k];
  }
}

// Dimensions this to the interior of p, or to an empty plane of that shape when p has no
// interior.
void DimInterior(matrix& out, const matrix& p) {
  out.dim(std::max(p.nx - 2, 0), std::max(p.ny - 2, 0));
}

// out(i, j) = a sum of coefficient(i + 1, j + 1) times p around (i + 1, j + 1).
template <class Coefficients>
matrix& InteriorStencil(matrix& out, const matrix& p, float a, Coefficients coefficients) {
  DimInterior(out, p);
  if (out.n == 0) return out;
  const int w = out.nx;
  ForRows(out.ny, int64_t(w) * 9, [&](int i) {
    const float* rows[3] = {p.z[i], p.z[i + 1], p.z[i + 2]};
    float* o = out.z[i];
    for (int j = 0; j < w; ++j) {
      const float(&s)[3][3] = coefficients(i + 1, j + 1);
      float v = 0;
      for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx) v += s[dy][dx] * rows[dy][j + dx];
      }
      o[j] = a * v;
    }
  });
  return out;
}

// this (W x H) += a times the transpose of InteriorStencil applied to q, gathered pixel by
// pixel so that every row is written by one block alone.
template <class Coefficients>
matrix& InteriorStencilAdjoint(matrix& out, const matrix& q, float a, bool zeroFirst,
                               Coefficients coefficients) {
  const int W = q.nx + 2, H = q.ny + 2;
  if (zeroFirst) out.dim(W, H).zero();
  if (q.n == 0) return out;
  ForRows(H, int64_t(W) * 9, [&](int y) {
    float* o = out.z[y];
    for (int x = 0; x < W; ++x) {
      float v = 0;
      for (int dy = -1; dy <= 1; ++dy) {
        const int cy = y + dy;  // the centre that reads (x, y)
        if (cy < 1 || cy > H - 2) continue;
        const float* qr = q.z[cy - 1];
        for (int dx = -1; dx <= 1; ++dx) {
          const int cx = x + dx;
          if (cx < 1 || cx > W - 2) continue;
          v += coefficients(cy, cx)[1 - dy][1 - dx] * qr[cx - 1];
        }
      }
      o[x] += a * v;
    }
  });
  return out;
}

const float kLaplacian8[3][3] = {{-1, -1, -1}, {-1, 8, -1}, {-1, -1, -1}};

struct LaplacianCoefficients {
  const float (&operator()(int, int) const)[3][3] { return kLaplacian8; }
};

struct ClassCoefficients {
  const cvector<uint8_t>& edges;
  int W;
  const float (&operator()(int r, int c) const)[3][3] {
    const int e = edges.x[size_t(r) * W + c];
    return windowless::kClassStencil[e <= 8 ? e : 0];
  }
};

// The fill of the targets (2r + ty, 2c + tx) from the weights moved half a sample forward
// along the given axes.
matrix& Fill(matrix& X, const WindowlessWeights& w, bool clamp, const Offset* stencil, int ty,
             int tx, bool alongX, bool alongY) {
  const int W = X.nx / 2, H = X.ny / 2, K = w.n;
  WindowlessWeights s(w);
  for (int k = 0; k < K; ++k) ShiftHalfPixelReverseNoCancel(s[k], alongX, alongY);
  const Lookup at(stencil, K, W, H, X.nx, X.ny, ty, tx);
  // Targets and the samples they read never share a row parity and column parity, so
  // the blocks' writes do not reach what other blocks read.
  ForRows(H, int64_t(W) * K, [&](int r) {
    float* out = X.z[2 * r + ty];
    for (int c = 0; c < W; ++c) {
      float v = 0, lo = 0, hi = 0;
      for (int k = 0; k < K; ++k) {
        const float sample = X.z[at.row[size_t(k) * H + r]][at.column[size_t(k) * W + c]];
        v += s[k].z[r][c] * sample;
        if (k < 4) {
          lo = k == 0 ? sample : std::min(lo, sample);
          hi = k == 0 ? sample : std::max(hi, sample);
        }
      }
      if (clamp && K >= 4) v = std::clamp(v, lo, hi);
      out[2 * c + tx] = v;
    }
  });
  return X;
}

}  // namespace

const matrix& matrix::diagweights(WindowlessWeights& w, cvector<uint8_t>& classes, bool makePrior,
                                  bool sixteen) const {
  DirectionClasses(*this, w, classes, makePrior, sixteen, false);
  return *this;
}

const matrix& matrix::hvweights(WindowlessWeights& w, cvector<uint8_t>& classes, bool makePrior,
                                bool sixteen) const {
  DirectionClasses(*this, w, classes, makePrior, sixteen, true);
  return *this;
}

const matrix& matrix::edgeclasses(cvector<uint8_t>& edges) const {
  const int W = nx, H = ny;
  matrixarray m(9, W, H);
  m.zero();
  ForRows(H - 2, int64_t(W) * 9, [&](int i0) {
    const int r = i0 + 1;
    const float *u = z[r - 1], *o = z[r], *d = z[r + 1];
    for (int c = 1; c < W - 1; ++c) {
      const float cc = o[c];
      const float sx = o[c - 1] + o[c + 1] - 2 * cc;
      const float sy = u[c] + d[c] - 2 * cc;
      const float sm = (u[c - 1] + d[c + 1]) / 2 - cc;
      const float sa = (u[c + 1] + d[c - 1]) / 2 - cc;
      const float e[9] = {
          (sx + sy + sm + sa) / 4, sx,           sy, sm, sa, (sx + sm) / 2, (sx + sa) / 2,
          (sm + sy) / 2,           (sa + sy) / 2};
      for (int k = 0; k < 9; ++k) m[k].z[r][c] = std::fabs(e[k]);
    }
  });
  if (W >= 3 && H >= 3) {
    for (int k = 0; k < 9; ++k) {
      matrix& p = m[k];
      for (int r = 1; r < H - 1; ++r) {
        p.z[r][0] = p.z[r][1];
        p.z[r][W - 1] = p.z[r][W - 2];
      }
      std::copy(p.z[1], p.z[1] + W, p.z[0]);
      std::copy(p.z[H - 2], p.z[H - 2] + W, p.z[H - 1]);
      p.mean3x3();
    }
  }
  edges.dim(W * H);
  for (int i = 0; i < W * H; ++i) {
    int best = 0;
    for (int k = 1; k < 9; ++k) {
      if (m[k].x[i] < m[best].x[i]) best = k;
    }
    edges[i] = uint8_t(best);
  }
  return *this;
}

matrix& matrix::diagmodel(const matrix& X, const WindowlessWeights& w) {
  return Model(*this, X, w, windowless::kDiagonal);
}

matrix& matrix::hvmodel(const matrix& X, const WindowlessWeights& w) {
  return Model(*this, X, w, windowless::kAxial);
}

const matrix& matrix::diagmodeladjoint(const matrix& r, WindowlessWeights& w, bool create,
                                       bool sixteen) const {
  ModelAdjoint(*this, r, w, create, sixteen ? 16 : 4, windowless::kDiagonal);
  return *this;
}

const matrix& matrix::hvmodeladjoint(const matrix& r, WindowlessWeights& w, bool create,
                                     bool sixteen) const {
  ModelAdjoint(*this, r, w, create, sixteen ? 16 : 4, windowless::kAxial);
  return *this;
}

matrix& matrix::priorresidual(float a, const cvector<uint8_t>& classes,
                              const WindowlessWeights& w) {
  const int K = w.n, n = K > 0 ? w[0].n : 0;
  dim(n, K);
  float prior[3][16];
  for (int e = 0; e < 3; ++e) windowless::Prior(e, K == 16, prior[e]);
  ForRows(K, n, [&](int k) {
    const float* v = w[k].x;
    float* o = z[k];
    for (int i = 0; i < n; ++i) o[i] = a * (prior[classes.x[i] <= 2 ? classes.x[i] : 0][k] - v[i]);
  });
  return *this;
}

matrix& matrix::priorforward(float a, const WindowlessWeights& w) {
  const int K = w.n, n = K > 0 ? w[0].n : 0;
  dim(n, K);
  ForRows(K, n, [&](int k) {
    for (int i = 0; i < n; ++i) z[k][i] = a * w[k].x[i];
  });
  return *this;
}

const matrix& matrix::prioradjoint(float a, WindowlessWeights& w) const {
  ForRows(w.n, nx, [&](int k) {
    float* v = w[k].x;
    for (int i = 0; i < w[k].n; ++i) v[i] += a * z[k][i];
  });
  return *this;
}

matrix& matrix::sumresidual(float a, const WindowlessWeights& w) {
  sumforward(-a, w);
  return addscalar(a);
}

matrix& matrix::sumforward(float a, const WindowlessWeights& w) {
  if (w.n == 0) return *this;
  const int W = w[0].nx, H = w[0].ny;
  dim(W, H);
  ForRows(H, int64_t(W) * w.n, [&](int r) {
    for (int c = 0; c < W; ++c) {
      float s = 0;
      for (int k = 0; k < w.n; ++k) s += w[k].z[r][c];
      z[r][c] = a * s;
    }
  });
  return *this;
}

const matrix& matrix::sumadjoint(float a, WindowlessWeights& w) const {
  for (int k = 0; k < w.n; ++k) {
    ForRows(ny, nx, [&](int r) {
      for (int c = 0; c < nx; ++c) w[k].z[r][c] += a * z[r][c];
    });
  }
  return *this;
}

matrix& matrix::laplacian8(const matrix& p, float a) {
  return InteriorStencil(*this, p, a, LaplacianCoefficients{});
}

double matrix::laplacian8energy(const matrix& p, float a) { return laplacian8(p, a).sumsq(); }

matrix& matrix::laplacian8adjoint(const matrix& q, float a, bool zeroFirst) {
  return InteriorStencilAdjoint(*this, q, a, zeroFirst, LaplacianCoefficients{});
}

matrix& matrix::classstencil(const matrix& p, float a, const cvector<uint8_t>& edges) {
  return InteriorStencil(*this, p, a, ClassCoefficients{edges, p.nx});
}

double matrix::classstencilenergy(const matrix& p, float a, const cvector<uint8_t>& edges) {
  return classstencil(p, a, edges).sumsq();
}

matrix& matrix::classstenciladjoint(const matrix& q, float a, const cvector<uint8_t>& edges,
                                    bool zeroFirst) {
  return InteriorStencilAdjoint(*this, q, a, zeroFirst, ClassCoefficients{edges, q.nx + 2});
}

matrix& matrix::filldiagonal(const WindowlessWeights& w, bool clamp) {
  return Fill(*this, w, clamp, windowless::kDiagonal, 1, 1, true, true);
}

matrix& matrix::fillhorizontal(const WindowlessWeights& w, bool clamp) {
  return Fill(*this, w, clamp, windowless::kAxial, 0, 1, true, false);
}

matrix& matrix::fillvertical(const WindowlessWeights& w, bool clamp) {
  return Fill(*this, w, clamp, windowless::kAxial, 1, 0, false, true);
}

matrix& matrix::spread2(const matrix& y) {
  if (&y == this) return spread2(matrix(y));
  dim(SaturatedProduct(2, y.nx), SaturatedProduct(2, y.ny)).zero();
  ForRows(y.ny, y.nx, [&](int r) {
    for (int c = 0; c < y.nx; ++c) z[2 * r][2 * c] = y.z[r][c];
  });
  return *this;
}

matrix& matrix::lanczos3double(const matrix& y) {
  matrix kx, ky;
  // A shift of half an output sample puts output 2i exactly on input i.
  BuildLanczosKernelForSizes(kx, 3, y.nx, SaturatedProduct(2, y.nx), 0.5f);
  BuildLanczosKernelForSizes(ky, 3, y.ny, SaturatedProduct(2, y.ny), 0.5f);
  return ResampleSeparable(*this, y, kx, ky);
}

matrixarray& matrixarray::laplacian(const matrixarray& source, float a) {
  resize(source.n);
  for (int k = 0; k < n; ++k) m[k].laplacian8(source[k], a);
  return *this;
}

float matrixarray::laplaciannorm(const matrixarray& source, float a) {
  laplacian(source, a);
  return sum([](const matrix& p) { return p.sumsq(); });
}

matrixarray& matrixarray::stencil(const matrixarray& source, float a,
                                  const cvector<uint8_t>& edges) {
  resize(source.n);
  for (int k = 0; k < n; ++k) m[k].classstencil(source[k], a, edges);
  return *this;
}

float matrixarray::stencilnorm(const matrixarray& source, float a, const cvector<uint8_t>& edges) {
  stencil(source, a, edges);
  return sum([](const matrix& p) { return p.sumsq(); });
}

matrixarray& matrixarray::laplacianadj(const matrixarray& input, float a, bool zeroFirst) {
  for (int k = 0; k < n && k < input.n; ++k) m[k].laplacian8adjoint(input[k], a, zeroFirst);
  return *this;
}

matrixarray& matrixarray::stenciladj(const matrixarray& input, float a,
                                     const cvector<uint8_t>& edges, bool zeroFirst) {
  for (int k = 0; k < n && k < input.n; ++k)
    m[k].classstenciladjoint(input[k], a, edges, zeroFirst);
  return *this;
}
