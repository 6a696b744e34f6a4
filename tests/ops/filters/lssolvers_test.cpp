// The least-squares and least-absolute-deviation solvers against a dense solve, and their
// stopping, file and cancel behaviour.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/matrixarray.h"
#include "ops/filters/degradation.h"
#include "ops/filters/regularizers.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {
struct Problem {
  LinearOp A;
  LinearOp At;
  LinearOpList forwards;
  LinearOpList adjoints;
};

float Busy(int x, int y) {
  return float((x * 7919 + y * 104729) % 97) + 0.5f * float(x) - 0.25f * float(y);
}

matrix Plane(int w, int h, float (*f)(int, int)) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) m.z[y][x] = f(x, y);
  }
  return m;
}

double SumOf(const matrix& m, bool squares) {
  double s = 0;
  for (int k = 0; k < m.n; ++k) s += squares ? double(m.x[k]) * m.x[k] : std::fabs(m.x[k]);
  return s;
}

// |A x - b|^2 + sum |L_k x|^2, or the same with absolute values.
double Objective(const Problem& p, const matrix& x, const matrix& b, bool squares) {
  matrix ax(b.nx, b.ny);
  p.A(ax, x).sub(b);
  double total = SumOf(ax, squares);
  for (LinearOp L : p.forwards) {
    matrix r;
    total += SumOf(L(r, x), squares);
  }
  return total;
}

bool AnyNaN(const matrix& m) {
  for (int k = 0; k < m.n; ++k) {
    if (std::isnan(m.x[k])) return true;
  }
  return false;
}

bool SameBits(const matrix& a, const matrix& b) {
  return a.nx == b.nx && a.ny == b.ny && std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0;
}

class SolversTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    savedPsf = CurrentPsfParameters();
    savedWeights = CurrentRegularizerWeights();
  }
  void TearDown() override {
    CurrentPsfParameters() = savedPsf;
    CurrentRegularizerWeights() = savedWeights;
    SetParallelThreads(0);
    ZepTest::TearDown();
  }

  // The degradation of `type` with the rows of the difference regularizers as weighted.
  static Problem Make(int type, float slopes, float curvatures) {
    RegularizerWeights& w = CurrentRegularizerWeights();
    w = RegularizerWeights();
    w.slopes = w.slopesDiagonal = slopes;
    w.curvatures = w.curvaturesDiagonal = curvatures;
    Problem p;
    p.A = PsfOperators(type).forward;
    p.At = PsfOperators(type).adjoint;
    AppendDifferenceRegularizers(p.forwards, p.adjoints);
    return p;
  }

  bool Cgls(const Problem& p, matrix& x, const matrix& b, int maxIt, float tol, int minIt) {
    intmaps sizes;
    return x.cgls(b, p.At, p.A, p.adjoints, p.forwards, sizes, maxIt, tol, minIt);
  }

  matrix Lad(const Problem& p, matrix x, const matrix& b, int ladMax, float* l1,
             bool memorySaving = false) {
    x.lad(b, p.At, p.A, p.adjoints, p.forwards, l1, 200, 1e-6f, 1e-4f, ladMax, 5, memorySaving);
    return x;
  }

  PsfParameters savedPsf;
  RegularizerWeights savedWeights;
};

// The normal equations (A^T A + sum L_k^T L_k) x = A^T b built from unit vectors and solved
// with SolveLinear, refined in double until the float solve's error is gone.
matrix DenseSolution(const Problem& p, int w, int h, const matrix& b) {
  const int n = w * h;
  std::vector<std::vector<double>> columns(static_cast<size_t>(n));  // [A e_i, L_1 e_i, ...]
  for (int i = 0; i < n; ++i) {
    matrix e = matrix(w, h).fill(0.0f);
    e.x[i] = 1.0f;
    matrix ae(b.nx, b.ny);
    p.A(ae, e);
    columns[size_t(i)].assign(ae.x, ae.x + ae.n);
    for (LinearOp L : p.forwards) {
      matrix le;
      L(le, e);
      columns[size_t(i)].insert(columns[size_t(i)].end(), le.x, le.x + le.n);
    }
  }
  std::vector<double> normal(static_cast<size_t>(n) * n), rhs(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double s = 0;
      for (size_t k = 0; k < columns[0].size(); ++k)
        s += columns[size_t(i)][k] * columns[size_t(j)][k];
      normal[size_t(i) * n + j] = s;
    }
    for (int k = 0; k < b.n; ++k) rhs[size_t(i)] += columns[size_t(i)][size_t(k)] * b.x[k];
  }
  matrix a(n, n);
  for (size_t k = 0; k < normal.size(); ++k) a.x[k] = float(normal[k]);
  std::vector<double> x(static_cast<size_t>(n), 0.0);
  for (int round = 0; round < 4; ++round) {
    matrix residual(n, 1), step;
    for (int i = 0; i < n; ++i) {
      double r = rhs[size_t(i)];
      for (int j = 0; j < n; ++j) r -= normal[size_t(i) * n + j] * x[size_t(j)];
      residual.x[i] = float(r);
    }
    SolveLinear(step, residual, a);
    for (int i = 0; i < n; ++i) x[size_t(i)] += step.x[i];
  }
  matrix result(w, h);
  for (int i = 0; i < n; ++i) result.x[i] = float(x[size_t(i)]);
  return result;
}
}  // namespace

TEST_F(SolversTest, CglsReachesTheDenseLeastSquaresSolution) {
  struct Case {
    const char* name;
    int type, w, h, f;
    float slopes, curvatures;
  };
  const Case cases[] = {{"Gaussian and slopes", 2, 7, 9, 1, 0.1f, 0.0f},
                        {"Lanczos3 by 2 and curvatures", 6, 8, 8, 2, 0.0f, 0.1f}};
  for (const Case& c : cases) {
    const Problem p = Make(c.type, c.slopes, c.curvatures);
    const matrix b = Plane(c.w / c.f, c.h / c.f, Busy);
    const matrix expected = DenseSolution(p, c.w, c.h, b);
    matrix x(c.w, c.h);
    EXPECT_FALSE(Cgls(p, x, b, 2000, 0.0f, 0));
    double error = 0, norm = 0;
    for (int k = 0; k < x.n; ++k) {
      error += std::pow(double(x.x[k]) - expected.x[k], 2);
      norm += std::pow(double(expected.x[k]), 2);
    }
    EXPECT_LT(std::sqrt(error / norm), 1e-4) << c.name;
  }
}

TEST_F(SolversTest, CglsIterationsAndTheirCount) {
  const Problem p = Make(2, 0.01f, 0.0f);
  matrix ramp = Plane(16, 12, [](int x, int y) { return 3.0f * x + 2.0f * y; }), b(16, 12);
  p.A(b, ramp);
  {
    SCOPED_TRACE("the objective never grows from one iteration to the next");
    double previous = Objective(p, matrix(16, 12).fill(0.0f), b, true);
    for (int it = 1; it <= 25; ++it) {
      matrix x(16, 12);
      Cgls(p, x, b, it, 0.0f, 0);
      const double now = Objective(p, x, b, true);
      EXPECT_LE(now, previous * (1 + 1e-6)) << it;
      previous = now;
    }
  }
  {
    SCOPED_TRACE("a tolerance met at once still runs iterations 0 to 50");
    matrix x(16, 12);
    platform.polls = 0;
    Cgls(p, x, b, 750, 1e3f, 50);
    EXPECT_EQ(ui.paneText[4], "50");
    EXPECT_EQ(platform.polls, 6);  // iterations 0, 10, ..., 50
    Cgls(p, x, b, 750, 1e3f, 0);
    EXPECT_EQ(ui.paneText[4], "0");
  }
  {
    SCOPED_TRACE("one iteration at most");
    matrix x(16, 12);
    Cgls(p, x, b, 1, 0.0f, 50);
    EXPECT_EQ(ui.paneText[4], "1");
  }
}

TEST_F(SolversTest, CglsEndsCleanlyOnExactAndEmptyProblems) {
  const Problem p = Make(0, 0.01f, 0.0f);
  {
    SCOPED_TRACE("A^T b = 0 returns at once with x = 0");
    matrix x = matrix(9, 7).fill(5.0f);
    EXPECT_TRUE(Cgls(p, x, matrix(9, 7).fill(0.0f), 750, 1e-6f, 50));
    EXPECT_EQ(SumOf(x, false), 0.0);
  }
  {
    SCOPED_TRACE("a constant image is solved exactly in one step, without 0 / 0");
    const matrix b = matrix(9, 7).fill(100.0f);
    matrix x(9, 7);
    EXPECT_FALSE(Cgls(p, x, b, 750, 1e-6f, 50));
    EXPECT_TRUE(SameBits(x, b));
    EXPECT_EQ(ui.paneText[4], "0");
  }
  {
    SCOPED_TRACE("weighted: a start that is already exact stays as it is");
    const matrix b = matrix(9, 7).fill(100.0f);
    matrix x(b);
    const matrix w = matrix(9, 7).fill(0.25f);
    matrixarray wk(int(p.forwards.size()));
    for (int k = 0; k < wk.n; ++k) {
      matrix r;
      p.forwards[size_t(k)](r, b);
      wk[k].dim(r.nx, r.ny).fill(0.25f);
    }
    x.weightedcgls(b, p.At, w, p.A, p.adjoints, wk, p.forwards, 750, 1e-6f, 50);
    EXPECT_TRUE(SameBits(x, b));
  }
}

TEST_F(SolversTest, LadStartsFromLeastSquaresAndKeepsTheBestIterate) {
  const Problem p = Make(2, 0.05f, 0.0f);
  matrix b = Plane(12, 10, Busy);
  b.z[5][6] += 300.0f;
  {
    SCOPED_TRACE("one LAD iteration is the LS solution and its L1 objective");
    float l1 = -1;
    const matrix lad = Lad(p, matrix(12, 10), b, 1, &l1);
    matrix ls(12, 10);
    Cgls(p, ls, b, 200, 1e-6f, 5);
    EXPECT_TRUE(SameBits(lad, ls));
    EXPECT_NEAR(l1, Objective(p, ls, b, false), 1e-5 * l1);
  }
  {
    SCOPED_TRACE("the result is the best iterate: its objective is the one reported");
    float previous = 1e30f;
    for (int iterations = 1; iterations <= 6; ++iterations) {
      float l1 = -1;
      const matrix x = Lad(p, matrix(12, 10), b, iterations, &l1);
      EXPECT_NEAR(l1, Objective(p, x, b, false), 1e-5 * l1) << iterations;
      EXPECT_LE(l1, previous) << iterations;
      previous = l1;
    }
  }
}

TEST_F(SolversTest, LadOnDegenerateData) {
  const Problem p = Make(0, 0.01f, 0.0f);
  {
    SCOPED_TRACE("a zero observation gives 0");
    float l1 = -1;
    const matrix x = Lad(p, matrix(8, 6).fill(3.0f), matrix(8, 6).fill(0.0f), 20, &l1);
    EXPECT_EQ(SumOf(x, false), 0.0);
    EXPECT_EQ(l1, 0.0f);
  }
  {
    SCOPED_TRACE("a constant image, fitted exactly, ends without NaN");
    const matrix b = matrix(8, 6).fill(100.0f);
    float l1 = -1;
    const matrix x = Lad(p, matrix(8, 6), b, 20, &l1);
    EXPECT_FALSE(AnyNaN(x));
    EXPECT_TRUE(SameBits(x, b));
    EXPECT_EQ(l1, 0.0f);
  }
}

TEST_F(SolversTest, LadResistsAGrossOutlierBetterThanLeastSquares) {
  const Problem p = Make(0, 0.3f, 0.0f);
  const matrix truth = Plane(15, 15, [](int x, int y) { return 50.0f + 2.0f * x + y; });
  matrix b(truth);
  b.z[7][7] += 200.0f;
  matrix ls(15, 15);
  Cgls(p, ls, b, 500, 1e-6f, 5);
  float l1 = 0;
  matrix lad(15, 15);
  lad.lad(b, p.At, p.A, p.adjoints, p.forwards, &l1, 500, 1e-6f, 1e-5f, 40, 5, false);
  auto error = [&](const matrix& x) {
    double e = 0;
    for (int y = 6; y <= 8; ++y) {
      for (int i = 6; i <= 8; ++i) e += std::fabs(x.z[y][i] - truth.z[y][i]);
    }
    return e;
  };
  EXPECT_LT(error(lad), 0.25 * error(ls)) << "LS " << error(ls) << ", LAD " << error(lad);
}

TEST_F(SolversTest, LadFilesAndCancel) {
  const Problem p = Make(6, 0.05f, 0.02f);
  const matrix b = Plane(9, 7, Busy);
  float inMemory = 0, saving = 0;
  const matrix a = Lad(p, matrix(18, 14), b, 5, &inMemory, false);
  EXPECT_FALSE(std::filesystem::exists(ScratchPath("a.min.mat")));
  const matrix c = Lad(p, matrix(18, 14), b, 5, &saving, true);
  EXPECT_FALSE(std::filesystem::exists(ScratchPath("a.min.mat")));
  EXPECT_TRUE(SameBits(a, c));
  EXPECT_EQ(inMemory, saving);
  platform.CancelAtPoll(1);
  matrix x(18, 14);
  float l1 = 0;
  EXPECT_THROW(x.lad(b, p.At, p.A, p.adjoints, p.forwards, &l1, 200, 1e-6f, 1e-4f, 5, 5, true),
               Cancelled);
}

TEST_F(SolversTest, SameBytesWithOneThreadAndEight) {
  const matrix big = Plane(600, 400, Busy);
  auto run = [&](int threads) {
    SetParallelThreads(threads);
    std::vector<matrix> results;
    SetDiscRadius(4);
    matrix blur(600, 400), back(600, 400);
    results.push_back(PsfLensBlur(blur, big));
    results.push_back(PsfLensBlurAdj(back, big));
    const Problem p = Make(6, 0.02f, 0.01f);
    matrix small(300, 200);
    p.A(small, big);
    results.push_back(small);
    matrix adj(600, 400);
    results.push_back(p.At(adj, small));
    float l1 = 0;
    matrix x(600, 400);
    x.lad(small, p.At, p.A, p.adjoints, p.forwards, &l1, 6, 0.0f, 0.0f, 3, 0, false);
    results.push_back(x);
    results.push_back(matrix(1, 1).fill(l1));
    return results;
  };
  const std::vector<matrix> one = run(1), eight = run(8);
  for (size_t k = 0; k < one.size(); ++k) EXPECT_TRUE(SameBits(one[k], eight[k])) << k;
}
