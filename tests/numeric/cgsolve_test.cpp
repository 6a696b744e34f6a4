#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/pyramid.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/adjoint.h"
#include "support/zep_test.h"
#include "test_planes.h"

namespace fs = std::filesystem;
using CgSolveTest = ZepTest;

namespace {
enum class Kind { Poisson, Pyramid, Multiresolution };

struct Solver {
  const char* name;
  Kind kind;
  bool diagonal;
};

const Solver kSolvers[] = {{"poissoncg", Kind::Poisson, true},
                           {"pyramidcg forward", Kind::Pyramid, false},
                           {"pyramidcg diagonal", Kind::Pyramid, true},
                           {"multiresolutioncg forward", Kind::Multiresolution, false},
                           {"multiresolutioncg diagonal", Kind::Multiresolution, true}};

constexpr int kLimit = 4;   // pyramid levels down to sides of 4
constexpr int kLevels = 3;  // multi-resolution levels

void Split(const PlaneStack& st, matrixarray& g1, matrixarray& g2) {
  const int half = int(st.size() / 2);
  g1.resize(half);
  g2.resize(half);
  for (int i = 0; i < half; ++i) {
    g1[i] = st[i];
    g2[i] = st[half + i];
  }
}

PlaneStack Join(const matrixarray& g1, const matrixarray& g2) {
  PlaneStack st;
  for (int i = 0; i < g1.n; ++i) st.push_back(g1[i]);
  for (int i = 0; i < g2.n; ++i) st.push_back(g2[i]);
  return st;
}

// A x, in the layout each solver takes its targets in.
PlaneStack Forward(const Solver& s, const matrix& u) {
  matrixarray levels, g1, g2;
  switch (s.kind) {
    case Kind::Poisson: {
      PlaneStack st(2);
      u.diagdiff(st[0], st[1], false);
      return st;
    }
    case Kind::Pyramid:
      u.gradpyramid(levels, g1, g2, kLimit, s.diagonal);
      break;
    case Kind::Multiresolution:
      MultiresolutionGradients(u, kLevels, levels, g1, g2, s.diagonal);
      break;
  }
  return Join(g1, g2);
}

void Solve(const Solver& s, matrix& x, int iterations, const PlaneStack& b) {
  matrixarray g1, g2;
  switch (s.kind) {
    case Kind::Poisson:
      x.poissoncg(iterations, b[0], b[1]);
      break;
    case Kind::Pyramid:
      Split(b, g1, g2);
      x.pyramidcg(iterations, g1, g2, kLimit, s.diagonal);
      break;
    case Kind::Multiresolution:
      Split(b, g1, g2);
      x.multiresolutioncg(iterations, g1, g2, s.diagonal);
      break;
  }
}

double Residual(const Solver& s, const matrix& x, const PlaneStack& b) {
  const PlaneStack ax = Forward(s, x);
  double r = 0.0;
  for (size_t i = 0; i < b.size(); ++i) {
    for (int k = 0; k < b[i].n; ++k) r += std::pow(double(ax[i].x[k]) - b[i].x[k], 2);
  }
  return std::sqrt(r);
}

// Targets no plane meets exactly: the differences of a smooth plane plus noise.
PlaneStack Targets(const Solver& s, int w, int h) {
  matrix smooth(w, h);
  for (int y = 0; y < h; ++y) {
    for (int i = 0; i < w; ++i) smooth.at(i, y) = float(10 * std::sin(i * 0.3) + 0.5 * y);
  }
  PlaneStack b = Forward(s, smooth);
  uint32_t seed = 99;
  for (matrix& m : b) m.add(Noise(m.nx, m.ny, seed++).mulscalar(0.5f));
  return b;
}

// Removes what the differences cannot see: the mean, and for diagonal differences the
// mean of each checkerboard colour.
std::vector<double> ModuloNullSpace(const std::vector<double>& v, int w, bool diagonal) {
  double sum[2] = {}, count[2] = {};
  for (size_t k = 0; k < v.size(); ++k) {
    const int colour = diagonal ? int((k % w + k / w) % 2) : 0;
    sum[colour] += v[k];
    count[colour] += 1;
  }
  std::vector<double> out(v);
  for (size_t k = 0; k < v.size(); ++k) {
    const int colour = diagonal ? int((k % w + k / w) % 2) : 0;
    out[k] -= sum[colour] / count[colour];
  }
  return out;
}
}  // namespace

TEST_F(CgSolveTest, OwnGradientTargetsChangeNothing) {
  for (const Solver& s : kSolvers) {
    SCOPED_TRACE(s.name);
    const matrix plane = Noise(32, 24, 5);
    const PlaneStack b = Forward(s, plane);
    matrix x(plane);
    StartProgress(50);
    Solve(s, x, 50, b);
    EXPECT_EQ(Values(x), Values(plane));
    // The two with stops end in their first iteration; the multi-resolution one never ends
    // early.
    EXPECT_EQ(Progress().count, s.kind == Kind::Multiresolution ? 50 : 1);
  }
}

TEST_F(CgSolveTest, ZeroIterationsChangeNothing) {
  for (const Solver& s : kSolvers) {
    SCOPED_TRACE(s.name);
    const matrix start = Noise(20, 14, 3);
    matrix x(start);
    StartProgress(10);
    Solve(s, x, 0, Targets(s, 20, 14));
    EXPECT_EQ(Values(x), Values(start));
    EXPECT_EQ(Progress().count, 0);
  }
}

TEST_F(CgSolveTest, ResidualNeverRises) {
  for (const Solver& s : kSolvers) {
    SCOPED_TRACE(s.name);
    const PlaneStack b = Targets(s, 24, 16);
    const matrix start = Noise(24, 16, 8);
    double previous = Residual(s, start, b);
    for (int k = 1; k <= 25; ++k) {
      matrix x(start);
      Solve(s, x, k, b);
      const double r = Residual(s, x, b);
      EXPECT_LE(r, previous * (1 + 1e-6)) << k << " iterations";
      previous = r;
    }
  }
}

TEST_F(CgSolveTest, CancelKeepsTheLastCompletedIteration) {
  for (const Solver& s : kSolvers) {
    SCOPED_TRACE(s.name);
    const PlaneStack b = Targets(s, 16, 12);
    matrix two(16, 12), cancelled(16, 12);
    two.zero();
    cancelled.zero();
    Solve(s, two, 2, b);
    platform.CancelAtPoll(3);
    EXPECT_THROW(Solve(s, cancelled, 10, b), Cancelled);
    platform.CancelAtPoll(0);
    EXPECT_EQ(Values(cancelled), Values(two));
  }
}

TEST_F(CgSolveTest, AgreesWithLsqr) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import scipy' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-scipy is not installed";
  }
  const int w = 32, h = 24;
  for (const Solver& s : kSolvers) {
    SCOPED_TRACE(s.name);
    const PlaneStack b = Targets(s, w, h);
    // The operator's matrix, column by column from unit planes.
    const fs::path system = home / "system.txt", answer = home / "x.txt";
    std::ofstream out(system);
    out.precision(9);
    int rows = 0;
    for (const matrix& m : b) rows += m.n;
    std::ostringstream text;
    text.precision(9);
    int count = 0;
    for (int c = 0; c < w * h; ++c) {
      matrix unit(w, h);
      unit.zero();
      unit.x[c] = 1.0f;
      int row = 0;
      for (const matrix& m : Forward(s, unit)) {
        for (int k = 0; k < m.n; ++k, ++row) {
          if (m.x[k] == 0.0f) continue;
          text << row << " " << c << " " << m.x[k] << "\n";
          ++count;
        }
      }
    }
    out << rows << " " << w * h << "\n" << count << "\n" << text.str();
    for (const matrix& m : b) {
      for (int k = 0; k < m.n; ++k) out << m.x[k] << "\n";
    }
    out.close();
    const std::string cmd = std::string(python) + " " + ZEP_SOURCE_DIR +
                            "/tests/numeric/reference/lsqr.py '" + system.string() + "' '" +
                            answer.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::vector<double> theirs;
    std::ifstream in(answer);
    for (double v; in >> v;) theirs.push_back(v);
    ASSERT_EQ(theirs.size(), size_t(w * h));

    matrix x = Noise(w, h, 21);  // any start: the null space is taken out below
    Solve(s, x, 1000, b);
    const std::vector<double> mine =
        ModuloNullSpace(std::vector<double>(x.x, x.x + x.n), w, s.diagonal);
    theirs = ModuloNullSpace(theirs, w, s.diagonal);
    const auto [lo, hi] = std::minmax_element(theirs.begin(), theirs.end());
    double worst = 0.0;
    for (size_t k = 0; k < mine.size(); ++k)
      worst = std::max(worst, std::fabs(mine[k] - theirs[k]));
    EXPECT_LT(worst, 1e-3 * (*hi - *lo));
  }
}

namespace {
// The textbook loop on the plane-wide passes: r = b - A x, s = A^T r, then per iteration
// q = A p, alpha, x += alpha p, r -= alpha q, s = A^T r, beta, p = beta p + s.
void PlainLoop(const Solver& s, matrix& x, int iterations, const PlaneStack& b) {
  const bool pyramid = s.kind == Kind::Pyramid;
  matrixarray levels, scratch;
  auto forward = [&](const matrix& u, matrixarray& q1, matrixarray& q2) {
    if (pyramid) {
      u.gradpyramid(levels, q1, q2, kLimit, s.diagonal);
    } else {
      MultiresolutionGradients(u, kLevels, levels, q1, q2, s.diagonal);
    }
  };
  auto adjoint = [&](const matrixarray& r1, const matrixarray& r2, matrix& out) {
    if (pyramid) {
      PyramidGradientsT(out, scratch, r1, r2, s.diagonal);
    } else {
      out.dim(x.nx, x.ny);
      MultiresolutionGradientsT(out, scratch, r1, r2, s.diagonal);
    }
  };
  matrixarray b1, b2, r1, r2, q1, q2;
  Split(b, b1, b2);
  matrix t, p;
  forward(x, r1, r2);
  for (int i = 0; i < r1.n; ++i) r1[i].mulscalar(-1.0f).add(b1[i]);
  for (int i = 0; i < r2.n; ++i) r2[i].mulscalar(-1.0f).add(b2[i]);
  adjoint(r1, r2, t);
  double gamma = t.sumsq();
  p.assign(t);
  for (int it = 0; it < iterations; ++it) {
    forward(p, q1, q2);
    const double denom = q1.energy() + q2.energy();
    if (pyramid && !(denom > 0.0)) break;
    const float alpha = denom > 0.0 ? float(gamma / denom) : float(gamma);
    x.axpy(alpha, p);
    r1.axpy(-alpha, q1);
    r2.axpy(-alpha, q2);
    adjoint(r1, r2, t);
    const double next = t.sumsq();
    if (pyramid && gamma == 0.0) break;
    p.scaleadd(gamma != 0.0 ? float(next / gamma) : float(next), t);
    gamma = next;
  }
}
}  // namespace

// The solvers form A^T A p row band by row band, fused with the vector updates, which round
// in single precision; they must follow the plain loop within 1e-4 of the range. Sizes:
// several levels, many row bands (a tall plane), and a long run on a plane that a Tone Map
// would solve.
TEST_F(CgSolveTest, FusedIterationsFollowThePlainLoop) {
  struct Case {
    int w, h, iterations;
  };
  for (const Case c : {Case{150, 110, 40}, Case{48, 9000, 12}, Case{96, 64, 500}}) {
    for (const Solver& s : kSolvers) {
      if (s.kind == Kind::Poisson) continue;
      SCOPED_TRACE(std::string(s.name) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                   ", " + std::to_string(c.iterations) + " iterations");
      // A pyramid's unknown is made even; the targets come from an even plane here.
      const int w = c.w + c.w % 2, h = c.h + c.h % 2;
      const PlaneStack b = Targets(s, w, h);
      matrix fused = Noise(w, h, 4), plain(fused);
      StartProgress(float(c.iterations));
      Solve(s, fused, c.iterations, b);
      PlainLoop(s, plain, c.iterations, b);
      float lo, hi;
      plain.minmax(lo, hi);
      double worst = 0.0;
      for (int k = 0; k < plain.n; ++k) {
        worst = std::max(worst, std::fabs(double(fused.x[k]) - plain.x[k]));
      }
      EXPECT_LE(worst, 1e-4 * (hi - lo));
    }
  }
}
