// The windowless Xin Li model: its operators against their transposes, the class maps,
// the fills, and the conjugate-gradient fit.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/windowless.h"
#include "platform/progress.h"
#include "support/adjoint.h"
#include "support/zep_test.h"

using WindowlessTest = ZepTest;

namespace {

using Map = cvector<uint8_t>;

matrix Random(int w, int h, uint32_t seed, float scale = 100.0f) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = scale * (float(seed >> 8) / float(1 << 24));
  }
  return m;
}

Map Classes(int count, int value) {
  Map map(count);
  for (int i = 0; i < count; ++i) map[i] = uint8_t(value < 0 ? (i * 7 + i / 5) % 9 : value);
  return map;
}

// K planes of W x H stacked into one W x (K H) plane and back, so that a list is one
// operand of the adjoint check.
WindowlessWeights Split(const matrix& packed, int K) {
  const int H = packed.ny / K;
  WindowlessWeights w(K, packed.nx, H);
  for (int k = 0; k < K; ++k) std::copy(packed.z[k * H], packed.z[k * H] + packed.nx * H, w[k].x);
  return w;
}
matrix Pack(const WindowlessWeights& w) {
  const int W = w[0].nx, H = w[0].ny;
  matrix packed(W, H * w.n);
  for (int k = 0; k < w.n; ++k) std::copy(w[k].x, w[k].x + W * H, packed.z[k * H]);
  return packed;
}
WindowlessWeights Zeros(int K, int W, int H) {
  WindowlessWeights w(K, W, H);
  return std::move(w.zero());
}

// J of the fit as the objective writes it, from the operators' forward forms.
double Objective(const matrix& y, const matrix& X, const WindowlessWeights& w, float a,
                 const Map& classes, float b, float c, float d, const Map& edges, bool axial) {
  matrix r;
  if (axial) {
    r.hvmodel(X, w);
  } else {
    r.diagmodel(X, w);
  }
  double J = MatrixDifference(y, r).sumsq();
  if (b > 0) J += r.priorresidual(b, classes, w).sumsq();
  if (c > 0) J += r.sumresidual(c, w).sumsq();
  matrixarray l;
  if (a > 0) J += l.laplaciannorm(w, a);
  if (d > 0) J += l.stencilnorm(w, d, edges);
  return J;
}

// The class map and prior weights of either model.
void Priors(const matrix& y, WindowlessWeights& w, Map& classes, bool sixteen, bool axial) {
  if (axial) {
    y.hvweights(w, classes, true, sixteen);
  } else {
    y.diagweights(w, classes, true, sixteen);
  }
}

// A random source plane with its Lanczos-3 estimate and its edge classes.
struct Source {
  matrix y, X;
  Map edges;
  Source(int w, int h, uint32_t seed) : y(Random(w, h, seed)) {
    X.lanczos3double(y);
    y.edgeclasses(edges);
  }
};

int StatusLines(const ScriptedUi& ui, const std::string& prefix) {
  int n = 0;
  for (const auto& [pane, text] : ui.paneHistory) n += pane == 4 && text.rfind(prefix, 0) == 0;
  return n;
}

}  // namespace

TEST_F(WindowlessTest, EveryOperatorIsTheTransposeOfItsForwardForm) {
  const int W = 7, H = 5;
  const matrix X = Random(2 * W, 2 * H, 7);
  for (int K : {4, 16}) {
    const bool sixteen = K == 16;
    const PlaneSize packed{W, K * H};
    for (bool axial : {false, true}) {
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            matrix o;
            return PlaneStack{axial ? o.hvmodel(X, Split(u, K)) : o.diagmodel(X, Split(u, K))};
          },
          [&](const PlaneStack& v) {
            WindowlessWeights g;
            if (axial) {
              X.hvmodeladjoint(v[0], g, true, sixteen);
            } else {
              X.diagmodeladjoint(v[0], g, true, sixteen);
            }
            return Pack(g);
          },
          packed, {{W, H}}, 1e-4))
          << "model, axial " << axial << ", K " << K;
    }
    // The prior rows and the sum-to-one rows, both pixel by pixel.
    struct Pointwise {
      const char* name;
      std::function<void(matrix&, const WindowlessWeights&)> forward;
      std::function<void(const matrix&, WindowlessWeights&)> adjoint;
      PlaneSize out;
    } pointwise[] = {
        {"prior rows",
         [](matrix& o, const WindowlessWeights& w) { o.priorforward(0.7f, w); },
         [](const matrix& v, WindowlessWeights& g) { v.prioradjoint(0.7f, g); },
         {W * H, K}},
        {"sum",
         [](matrix& o, const WindowlessWeights& w) { o.sumforward(1.3f, w); },
         [](const matrix& v, WindowlessWeights& g) { v.sumadjoint(1.3f, g); },
         {W, H}},
    };
    for (const Pointwise& op : pointwise) {
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            matrix o;
            op.forward(o, Split(u, K));
            return PlaneStack{o};
          },
          [&](const PlaneStack& v) {
            WindowlessWeights g = Zeros(K, W, H);
            op.adjoint(v[0], g);
            return Pack(g);
          },
          packed, {op.out}, 1e-4))
          << op.name << ", K " << K;
    }
    // The list forms, every edge class alone and a mixed map.
    for (int e = -1; e <= 8; ++e) {
      const Map edges = Classes(W * H, e);
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& u) {
            matrixarray o;
            o.stencil(Split(u, K), 0.9f, edges);
            return PlaneStack(o.m, o.m + o.n);
          },
          [&](const PlaneStack& v) {
            WindowlessWeights q(K);
            for (int k = 0; k < K; ++k) q[k] = v[size_t(k)];
            WindowlessWeights g = Zeros(K, W, H);
            return Pack(g.stenciladj(q, 0.9f, edges, false));
          },
          packed, std::vector<PlaneSize>(size_t(K), {W - 2, H - 2}), 1e-4))
          << "class stencil " << e << ", K " << K;
    }
    EXPECT_TRUE(CheckAdjoint(
        [&](const matrix& u) {
          matrixarray o;
          o.laplacian(Split(u, K), 1.1f);
          return PlaneStack(o.m, o.m + o.n);
        },
        [&](const PlaneStack& v) {
          WindowlessWeights q(K);
          for (int k = 0; k < K; ++k) q[k] = v[size_t(k)];
          WindowlessWeights g(K);
          return Pack(g.laplacianadj(q, 1.1f, true));
        },
        packed, std::vector<PlaneSize>(size_t(K), {W - 2, H - 2}), 1e-4))
        << "Laplacian, K " << K;
  }
}

TEST_F(WindowlessTest, AConstantPlaneHasNoDirectionAndItsPriorsReproduceIt) {
  const int W = 9, H = 6;
  const matrix y = matrix(W, H).fill(57.0f);
  matrix X;
  X.lanczos3double(y);
  Map edges;
  y.edgeclasses(edges);
  for (int i = 0; i < W * H; ++i) ASSERT_EQ(edges[i], 0);
  for (bool sixteen : {false, true}) {
    for (bool axial : {false, true}) {
      WindowlessWeights w;
      Map classes;
      Priors(y, w, classes, sixteen, axial);
      ASSERT_EQ(w.n, sixteen ? 16 : 4);
      for (int i = 0; i < W * H; ++i) ASSERT_EQ(classes[i], 0);
      matrix r;
      if (axial) {
        r.hvmodel(X, w);
      } else {
        r.diagmodel(X, w);
      }
      EXPECT_LT(MatrixDifference(y, r).maxabs(), 1e-4) << sixteen << axial;
      EXPECT_EQ(r.priorresidual(1, classes, w).maxabs(), 0);
      EXPECT_LT(r.sumresidual(1, w).maxabs(), 1e-6);
      for (int k = 0; k < w.n; ++k) {
        EXPECT_LT(r.laplacian8(w[k], 1).maxabs(), 1e-6);
        EXPECT_LT(r.classstencil(w[k], 1, edges).maxabs(), 1e-6);
      }
      // Every class's prior sums to 1.
      for (int cls = 0; cls < 3; ++cls) {
        float p[16];
        windowless::Prior(cls, sixteen, p);
        double s = 0;
        for (int k = 0; k < w.n; ++k) s += p[k];
        EXPECT_NEAR(s, 1.0, 1e-6) << cls;
      }
    }
  }
}

TEST_F(WindowlessTest, ClassesFollowTheFlattestDirectionAndTiesKeepTheLowerClass) {
  // Values exact in floats: x^2 bends along rows only; x^2 + x y leaves the vertical, the
  // anti-diagonal and the class between them (2, 4, 8) tied at 0.
  struct Case {
    const char* name;
    float (*f)(int x, int y);
    int edge, diagonal, axial;
  } cases[] = {
      {"x^2", [](int x, int) { return float(x * x); }, 2, 0, 2},
      {"y^2", [](int, int y) { return float(y * y); }, 1, 0, 1},
      {"x^2 + x y", [](int x, int y) { return float(x * x + x * y); }, 2, 2, 2},
      {"x y", [](int x, int y) { return float(x * y); }, 0, 0, 0},
  };
  for (const Case& t : cases) {
    matrix y(8, 8);
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 8; ++c) y.z[r][c] = t.f(c, r);
    }
    Map edges, diag, axial;
    WindowlessWeights w;
    y.edgeclasses(edges);
    y.diagweights(w, diag, false, true);
    y.hvweights(w, axial, false, true);
    EXPECT_EQ(w.n, 0) << "planes made without a prior";
    // An interior pixel away from the reflected borders.
    const int i = 4 * 8 + 4;
    EXPECT_EQ(edges[i], t.edge) << t.name;
    EXPECT_EQ(diag[i], t.diagonal) << t.name;
    EXPECT_EQ(axial[i], t.axial) << t.name;
  }
}

TEST_F(WindowlessTest, ClampedFillsStayWithinTheirInnerFour) {
  const int W = 6, H = 5;
  const matrix y = Random(W, H, 3);
  for (bool sixteen : {false, true}) {
    const int K = sixteen ? 16 : 4;
    WindowlessWeights w(K);
    for (int k = 0; k < K; ++k) w[k] = Random(W, H, 11 + k, 3.0f).subscalar(1.0f);
    matrix X;
    X.spread2(y).filldiagonal(w, true);
    X.fillhorizontal(w, true).fillvertical(w, true);
    // Every target against the four samples its stencil's inner planes read.
    for (int r = 0; r < 2 * H; ++r) {
      for (int c = 0; c < 2 * W; ++c) {
        if (r % 2 == 0 && c % 2 == 0) continue;
        const windowless::Offset* s =
            r % 2 == 1 && c % 2 == 1 ? windowless::kDiagonal : windowless::kAxial;
        float lo = 1e30f, hi = -1e30f;
        for (int k = 0; k < 4; ++k) {
          const float v = X.z[ReflectWhole(r + s[k].dy, X.ny)][ReflectWhole(c + s[k].dx, X.nx)];
          lo = std::min(lo, v);
          hi = std::max(hi, v);
        }
        ASSERT_GE(X.z[r][c], lo) << r << "," << c << " K " << K;
        ASSERT_LE(X.z[r][c], hi) << r << "," << c << " K " << K;
      }
    }
    // Without the clamp these weights overshoot somewhere.
    matrix free;
    free.spread2(y).filldiagonal(w, false);
    float lo, hi, flo, fhi;
    y.minmax(lo, hi);
    free.minmax(flo, fhi);
    EXPECT_TRUE(flo < lo || fhi > hi) << K;
  }
}

TEST_F(WindowlessTest, FewIterationsKeepTheStartAndMoreRunOneLessWithOneInterimReport) {
  const Source source(12, 10, 5);
  const matrix &y = source.y, &X = source.X;
  const Map& edges = source.edges;
  for (bool prior : {false, true}) {
    for (int iterations : {0, 1}) {
      WindowlessWeights w, start;
      Map classes;
      y.hvweights(w, classes, prior, true);
      start = w;
      ui.paneHistory.clear();
      y.fitweights(X, w, 0.5f, classes, 1, 0.5f, 2, edges, iterations, true, true);
      ASSERT_EQ(w.n, 16);
      for (int k = 0; k < 16; ++k) {
        if (prior) {
          EXPECT_EQ(MatrixDifference(w[k], start[k]).maxabs(), 0) << k;
        } else {
          EXPECT_EQ(w[k].maxabs(), 0) << k;
        }
      }
      EXPECT_EQ(StatusLines(ui, "HV: 0    r = "), 1);
    }
  }
  WindowlessWeights w;
  Map classes;
  y.diagweights(w, classes, true, false);
  ui.paneHistory.clear();
  StartProgress(1e6f);
  y.fitweights(X, w, 0.1f, classes, 1, 0.1f, 1, edges, 100, false, false);
  EXPECT_EQ(Progress().count, 99);
  EXPECT_EQ(StatusLines(ui, "D:  50    r = "), 1);
  EXPECT_EQ(StatusLines(ui, "D:  99    r = "), 1);
  int interim = 0;
  for (const auto& [pane, text] : ui.paneHistory)
    interim += text.find(",   s = ") != std::string::npos;
  EXPECT_EQ(interim, 1);
}

TEST_F(WindowlessTest, TheObjectiveNeverRisesWithMoreIterations) {
  const Source source(10, 9, 9);
  const matrix &y = source.y, &X = source.X;
  const Map& edges = source.edges;
  // All terms, and the model term alone (negative weights leave theirs out).
  const float weights[2][4] = {{0.3f, 1.0f, 0.5f, 2.0f}, {0, -1, 0, -2}};
  for (const auto& p : weights) {
    for (bool axial : {false, true}) {
      for (bool sixteen : {false, true}) {
        double previous = 1e300, first = 0;
        for (int iterations = 1; iterations <= 30; iterations += 3) {
          WindowlessWeights w;
          Map classes;
          Priors(y, w, classes, sixteen, axial);
          StartProgress(1e6f);
          y.fitweights(X, w, p[0], classes, p[1], p[2], p[3], edges, iterations, axial, sixteen);
          const double J = Objective(y, X, w, p[0], classes, p[1], p[2], p[3], edges, axial);
          if (iterations == 1) first = J;
          // Rounding alone once the fit has reached (nearly) zero.
          EXPECT_LE(J, previous + std::max(previous * 1e-5, first * 1e-7))
              << iterations << " axial " << axial << " K16 " << sixteen << " a " << p[0];
          previous = J;
        }
      }
    }
  }
}

TEST_F(WindowlessTest, AConstantPlaneStaysConstantAndTinyPlanesDoubleSafely) {
  for (bool sixteen : {false, true}) {
    matrix p = matrix(9, 7).fill(80.0f);
    StartProgress(1e6f);
    p.windowlessenlarge(0, 1, 0, 20, 50, false, 2, false, true, sixteen);
    ASSERT_EQ(p.nx, 36);
    ASSERT_EQ(p.ny, 28);
    float lo, hi;
    p.minmax(lo, hi);
    EXPECT_NEAR(lo, 80.0f, 1e-3);
    EXPECT_NEAR(hi, 80.0f, 1e-3);
  }
  struct Size {
    int w, h;
  } sizes[] = {{1, 1}, {1, 6}, {6, 2}, {2, 2}, {3, 3}};
  for (Size s : sizes) {
    matrix p = Random(s.w, s.h, 21);
    StartProgress(1e6f);
    p.windowlessenlarge(0.1f, 1, 0.1f, 1, 5, true, 2, true, true, true);
    ASSERT_EQ(p.nx, 4 * s.w);
    ASSERT_EQ(p.ny, 4 * s.h);
    EXPECT_TRUE(std::isfinite(p.sum()));
    matrix q = Random(s.w, s.h, 22);
    q.windowlessreapply(true, 2, true);
    EXPECT_EQ(q.nx, 4 * s.w);
    EXPECT_TRUE(std::isfinite(q.sum()));
    for (int d = 0; d < 2; ++d) {
      WindowlessWeights w(16);
      w.remove("hv", d).remove("d", d);
    }
  }
}
