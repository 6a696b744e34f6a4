#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/cvector.h"
#include "numeric/listruns.h"
#include "numeric/matrix.h"

namespace {
std::vector<int> Items(const cvector<int>& l) { return std::vector<int>(l.x, l.x + l.n); }

cvector<int> ListOf(const std::vector<int>& v) {
  cvector<int> l(int(v.size()));
  for (size_t i = 0; i < v.size(); ++i) l.x[i] = v[i];
  return l;
}

// A 5 x 4 mask holding (1, 1), (2, 1) and (4, 3), the last on two borders:
//   row 3: . . . . X
//   row 1: . X X . .
bitmask Fixture() {
  bitmask m(5, 4);
  m.set(1, 1, true);
  m.set(2, 1, true);
  m.set(4, 3, true);
  return m;
}
}  // namespace

TEST(ListOps, RingsAndPairsOfARegion) {
  const bitmask m = Fixture();
  cvector<int> outer, inner, ih, iv, bh, bv;
  m.ringlist(outer, false).ringlist(inner, true).pairlists(ih, iv, bh, bv);
  // Around the pair: columns 0-3 of rows 0-2; around (4, 3): (3, 2), (4, 2), (3, 3).
  EXPECT_EQ(Items(outer), (std::vector<int>{0, 1, 2, 3, 5, 8, 10, 11, 12, 13, 14, 18}));
  EXPECT_EQ(Items(inner), (std::vector<int>{6, 7, 19}));
  // Base pixels have x <= 3 and y <= 2: (4, 3) is no base pixel.
  EXPECT_EQ(Items(ih), (std::vector<int>{6}));
  EXPECT_TRUE(Items(iv).empty());
  EXPECT_EQ(Items(bh), (std::vector<int>{5, 7}));
  EXPECT_EQ(Items(bv), (std::vector<int>{1, 2, 6, 7}));  // not (4, 2): x is past 3
  bitmask marks(5, 4);
  marks.setlist(inner);
  for (int k = 0; k < 20; ++k) EXPECT_EQ(marks.getbit(k), k == 6 || k == 7 || k == 19);
  // A mask without storage lists nothing.
  bitmask none;
  none.ringlist(outer, true).pairlists(ih, iv, bh, bv);
  EXPECT_EQ(outer.n + ih.n + iv.n + bh.n + bv.n, 0);
}

// Every list difference has its scatter as the exact transpose, and the element-wise
// list operations touch the listed pixels alone.
TEST(ListOps, DifferencesAndTheirAdjointsAgree) {
  matrix x(4, 3), y(4, 3);
  for (int k = 0; k < 12; ++k) {
    x.x[k] = std::sin(1.3f * k) * 10;
    y.x[k] = std::cos(0.7f * k) * 5;
  }
  const cvector<int> l = ListOf({0, 1, 5, 6});  // pairs share pixels 1 and 6
  matrix g(4, 1);
  for (int k = 0; k < 4; ++k) g.x[k] = float(k) - 1.5f;
  for (bool vertical : {false, true}) {
    matrix out;
    vertical ? x.listdiffy(l, out, 2.0f) : x.listdiffx(l, out, 2.0f);
    double lhs = 0.0;
    for (int k = 0; k < 4; ++k) lhs += double(out.x[k]) * g.x[k];
    matrix t(4, 3);
    t.zero();
    vertical ? t.listdiffyadj(l, g, 2.0f) : t.listdiffxadj(l, g, 2.0f);
    double rhs = 0.0;
    for (int k = 0; k < 12; ++k) rhs += double(t.x[k]) * x.x[k];
    EXPECT_NEAR(lhs, rhs, 1e-3);
  }
  matrix z = x;
  z.listaxpy(l, 2.0f, y).listxpay(ListOf({2}), 3.0f, y).listzero(ListOf({11}));
  for (int k = 0; k < 12; ++k) {
    float want = x.x[k];
    if (k == 0 || k == 1 || k == 5 || k == 6) want = x.x[k] + 2.0f * y.x[k];
    if (k == 2) want = 3.0f * x.x[k] + y.x[k];
    if (k == 11) want = 0.0f;
    EXPECT_FLOAT_EQ(z.x[k], want) << k;
  }
  EXPECT_NEAR(x.listsumsq(l),
              double(x.x[0]) * x.x[0] + double(x.x[1]) * x.x[1] + double(x.x[5]) * x.x[5] +
                  double(x.x[6]) * x.x[6],
              1e-3);
  matrix a(3, 1), b(3, 1);
  a.x[0] = 1, a.x[1] = -4, a.x[2] = 2;
  b.x[0] = -3, b.x[1] = 3, b.x[2] = -2;  // a tie keeps a's value
  a.keeplarger(b);
  EXPECT_EQ(a.x[0], -3.0f);
  EXPECT_EQ(a.x[1], -4.0f);
  EXPECT_EQ(a.x[2], 2.0f);
}

// The solve against a direct one: the normal equations of E(x) over the unknowns, formed
// densely and solved by Gaussian elimination in double.
TEST(ListOps, PoissonSolveReachesTheLeastSquaresMinimiser) {
  const int w = 9, h = 8;
  bitmask region(w, h);
  for (int y = 2; y <= 5; ++y)
    for (int x = 3; x <= 8; ++x) region.set(x, y, (x + y) % 7 != 0);  // touches the right edge
  matrix start(w, h);
  for (int k = 0; k < w * h; ++k) start.x[k] = 40.0f + 30.0f * std::sin(0.37f * k);
  cvector<int> outer, ih, iv, bh, bv;
  region.ringlist(outer, false).pairlists(ih, iv, bh, bv);
  matrix e, gih, giv, gbh, gbv;
  start.listgather(1.0f, outer, e);
  const auto targets = [](const cvector<int>& l, matrix& g, float phase) {
    g.dim(l.n, 1);
    for (int k = 0; k < l.n; ++k) g.x[k] = 5.0f * std::cos(phase + 0.9f * k);
  };
  targets(ih, gih, 0.1f);
  targets(iv, giv, 0.7f);
  targets(bh, gbh, 1.3f);
  targets(bv, gbv, 2.1f);
  const float a = 2.0f, wb = 3.0f;

  // Rows of A (over all pixels) and b, then the normal equations restricted to V.
  std::vector<std::vector<double>> rows;
  std::vector<double> rhs;
  const auto pairRows = [&](const cvector<int>& l, const matrix& g, int step, double weight) {
    for (int k = 0; k < l.n; ++k) {
      std::vector<double> r(size_t(w * h), 0.0);
      r[size_t(l.x[k] + step)] = weight;
      r[size_t(l.x[k])] = -weight;
      rows.push_back(r);
      rhs.push_back(weight * g.x[k]);
    }
  };
  for (int k = 0; k < outer.n; ++k) {
    std::vector<double> r(size_t(w * h), 0.0);
    r[size_t(outer.x[k])] = a;
    rows.push_back(r);
    rhs.push_back(a * e.x[k]);
  }
  pairRows(ih, gih, 1, 1.0);
  pairRows(iv, giv, w, 1.0);
  pairRows(bh, gbh, 1, wb);
  pairRows(bv, gbv, w, wb);
  bitmask vm(w, h);
  vm.setlist(outer).setlist(ih).setlist(iv).setlist(bh).setlist(bv);
  cvector<int> v;
  vm.indices(v);
  const int m = v.n;
  // Fixed pixels move to the right-hand side.
  std::vector<double> fixedPart(rhs.size(), 0.0);
  for (size_t i = 0; i < rows.size(); ++i) {
    for (int k = 0; k < w * h; ++k) {
      if (!vm.getbit(k)) fixedPart[i] += rows[i][size_t(k)] * start.x[k];
    }
  }
  std::vector<std::vector<double>> n(size_t(m), std::vector<double>(size_t(m) + 1, 0.0));
  for (size_t i = 0; i < rows.size(); ++i) {
    for (int p = 0; p < m; ++p) {
      const double ap = rows[i][size_t(v.x[p])];
      if (ap == 0.0) continue;
      for (int q = 0; q < m; ++q) n[size_t(p)][size_t(q)] += ap * rows[i][size_t(v.x[q])];
      n[size_t(p)][size_t(m)] += ap * (rhs[i] - fixedPart[i]);
    }
  }
  for (int c = 0; c < m; ++c) {
    int pivot = c;
    for (int r = c + 1; r < m; ++r)
      if (std::fabs(n[size_t(r)][size_t(c)]) > std::fabs(n[size_t(pivot)][size_t(c)])) pivot = r;
    std::swap(n[size_t(c)], n[size_t(pivot)]);
    for (int r = 0; r < m; ++r) {
      if (r == c) continue;
      const double f = n[size_t(r)][size_t(c)] / n[size_t(c)][size_t(c)];
      for (int q = c; q <= m; ++q) n[size_t(r)][size_t(q)] -= f * n[size_t(c)][size_t(q)];
    }
  }

  matrix x = start;
  x.poissoncg(400, a, outer, e, ih, gih, iv, giv, wb, bh, gbh, bv, gbv);
  for (int p = 0; p < m; ++p) {
    EXPECT_NEAR(x.x[v.x[p]], n[size_t(p)][size_t(m)] / n[size_t(p)][size_t(p)], 0.01) << v.x[p];
  }
  // Region pixels of the last column are no base pixels: they keep their start values.
  for (int y = 0; y < h; ++y) {
    const int k = y * w + w - 1;
    if (!vm.getbit(k)) {
      EXPECT_EQ(x.x[k], start.x[k]) << k;
    }
  }
  // No iterations, no change.
  matrix still = start;
  still.poissoncg(0, a, outer, e, ih, gih, iv, giv, wb, bh, gbh, bv, gbv);
  for (int k = 0; k < w * h; ++k) ASSERT_EQ(still.x[k], start.x[k]);
}

// The list operations walk runs of consecutive indices; on a long irregular list (runs of
// every length, some longer than a row, split between blocks) every result equals the
// pixel-by-pixel definition bit for bit, the scatters taken in list order.
TEST(ListOps, RunsGiveThePixelByPixelResults) {
  const int w = 613, h = 500;
  matrix x(w, h), y(w, h);
  for (int k = 0; k < x.n; ++k) {
    x.x[k] = std::sin(0.37f * float(k % 1000)) * 40;
    y.x[k] = std::cos(0.11f * float(k % 777)) * 9;
  }
  std::vector<int> items;
  uint32_t seed = 7;
  for (int k = 0; k + w + 1 < x.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const bool longRun = k > 200000 && k < 203000;
    if (longRun || (seed >> 29) != 0) items.push_back(k);
  }
  const cvector<int> l = ListOf(items);
  matrix g(l.n, 1);
  for (int k = 0; k < l.n; ++k) g.x[k] = std::cos(0.9f * float(k % 313)) * 3;
  // The first element whose bits differ, -1 when none does.
  const auto differs = [](const matrix& a, const matrix& b) {
    if (a.n != b.n) return 0;
    for (int k = 0; k < a.n; ++k) {
      if (std::memcmp(a.x + k, b.x + k, sizeof(float)) != 0) return k;
    }
    return -1;
  };
  for (const int step : {1, w}) {
    matrix out, want(l.n, 1);
    step == 1 ? x.listdiffx(l, out, 0.5f) : x.listdiffy(l, out, 0.5f);
    for (int k = 0; k < l.n; ++k) want.x[k] = 0.5f * (x.x[l.x[k] + step] - x.x[l.x[k]]);
    EXPECT_EQ(differs(out, want), -1) << step;
    matrix adj(y), wantAdj(y);
    step == 1 ? adj.listdiffxadj(l, g, 0.5f) : adj.listdiffyadj(l, g, 0.5f);
    for (int k = 0; k < l.n; ++k) {
      const float v = 0.5f * g.x[k];
      wantAdj.x[l.x[k] + step] += v;
      wantAdj.x[l.x[k]] -= v;
    }
    EXPECT_EQ(differs(adj, wantAdj), -1) << step;
  }
  matrix gathered, want(l.n, 1);
  x.listgather(1.5f, l, gathered);
  for (int k = 0; k < l.n; ++k) want.x[k] = 1.5f * x.x[l.x[k]];
  EXPECT_EQ(differs(gathered, want), -1);
  matrix ops[5] = {x, x, x, x, x}, wants[5] = {x, x, x, x, x};
  ops[0].listscatteradd(0.3f, l, g);
  ops[1].listzero(l);
  ops[2].listcopy(l, y);
  ops[3].listaxpy(l, 0.7f, y);
  ops[4].listxpay(l, 0.7f, y);
  for (int k = 0; k < l.n; ++k) {
    const int i = l.x[k];
    wants[0].x[i] += 0.3f * g.x[k];
    wants[1].x[i] = 0.0f;
    wants[2].x[i] = y.x[i];
    wants[3].x[i] += 0.7f * y.x[i];
    wants[4].x[i] = 0.7f * wants[4].x[i] + y.x[i];
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(differs(ops[i], wants[i]), -1) << i;
}

namespace {
// The listed solve's inputs for a region of a plane: the rings, pairs and their targets.
struct CloneProblem {
  cvector<int> outer, ih, iv, bh, bv;
  matrix e, gih, giv, gbh, gbv;
  CloneProblem(const bitmask& region, const matrix& start) {
    region.ringlist(outer, false).pairlists(ih, iv, bh, bv);
    start.listgather(1.0f, outer, e);
    const auto targets = [](const cvector<int>& l, matrix& g, float phase) {
      g.dim(l.n, 1);
      for (int k = 0; k < l.n; ++k) g.x[k] = 5.0f * std::cos(phase + 0.9f * float(k % 1000));
    };
    targets(ih, gih, 0.1f);
    targets(iv, giv, 0.7f);
    targets(bh, gbh, 1.3f);
    targets(bv, gbv, 2.1f);
  }
  void Solve(matrix& x, int iterations, float a, float w) const {
    x.poissoncg(iterations, a, outer, e, ih, gih, iv, giv, w, bh, gbh, bv, gbv);
  }
};

// The same least squares by the textbook loop over the list operations: every vector
// formed whole, then updated.
void PlainCloneLoop(matrix& x, const CloneProblem& c, int iterations, float a, float w) {
  bitmask marks(x.nx, x.ny);
  marks.setlist(c.outer).setlist(c.ih).setlist(c.iv).setlist(c.bh).setlist(c.bv);
  cvector<int> unknowns, touched;
  marks.indices(unknowns);
  for (const cvector<int>* l : {&c.ih, &c.bh})
    for (int k = 0; k < l->n; ++k) marks.setbit(l->x[k] + 1, true);
  for (const cvector<int>* l : {&c.iv, &c.bv})
    for (int k = 0; k < l->n; ++k) marks.setbit(l->x[k] + x.nx, true);
  marks.indices(touched);
  matrix b[5];
  b[0].assign(c.e).mulscalar(a);
  b[1] = c.gih;
  b[2] = c.giv;
  b[3].assign(c.gbh).mulscalar(w);
  b[4].assign(c.gbv).mulscalar(w);
  const auto forward = [&](const matrix& u, matrix* q) {
    u.listgather(a, c.outer, q[0]).listdiffx(c.ih, q[1], 1.0f).listdiffy(c.iv, q[2], 1.0f);
    u.listdiffx(c.bh, q[3], w).listdiffy(c.bv, q[4], w);
  };
  matrix t(x.nx, x.ny);
  const auto adjoint = [&](const matrix* r) {
    t.listzero(touched).listscatteradd(a, c.outer, r[0]).listdiffxadj(c.ih, r[1], 1.0f);
    t.listdiffyadj(c.iv, r[2], 1.0f).listdiffxadj(c.bh, r[3], w).listdiffyadj(c.bv, r[4], w);
    return t.listsumsq(unknowns);
  };
  matrix r[5], q[5];
  forward(x, r);
  for (int i = 0; i < 5; ++i)
    for (int k = 0; k < r[i].n; ++k) r[i].x[k] = b[i].x[k] - r[i].x[k];
  double gamma = adjoint(r);
  matrix p(x.nx, x.ny);
  p.zero().listcopy(unknowns, t);
  for (int it = 0; it < iterations; ++it) {
    forward(p, q);
    double denom = 0.0;
    for (const matrix& m : q) denom += m.sumsq();
    if (!(denom > 0.0)) break;
    const float alpha = float(gamma / denom);
    x.listaxpy(unknowns, alpha, p);
    for (int i = 0; i < 5; ++i) r[i].axpy(-alpha, q[i]);
    const double next = adjoint(r);
    if (gamma == 0.0) break;
    p.listxpay(unknowns, float(next / gamma), t);
    gamma = next;
  }
}
}  // namespace

// The solve runs its iterations as two fused passes over row bands; it must follow the plain
// loop but for the order of its sums and of a few pixels' transposed terms. Regions: ragged
// with holes and on the borders; a square over several bands; a wide strip of many bands;
// a single pixel.
TEST(ListOps, FusedCloneSolveFollowsThePlainLoop) {
  struct Case {
    int w, h, iterations;
    bool (*inside)(int x, int y);
  };
  const Case cases[] = {
      {61, 47, 400,
       [](int x, int y) {
         return (x * 7 + y * 3) % 11 != 0 && (x - 30) * (x - 30) + (y - 20) * (y - 20) < 500;
       }},
      {61, 47, 200, [](int x, int y) { return x < 9 || y > 40 || (x + y) % 5 == 0; }},
      {300, 290, 60, [](int x, int y) { return x >= 22 && x < 278 && y >= 17 && y < 273; }},
      {2003, 37, 30,
       [](int x, int y) { return x > 2 && y > 1 && y < 34 && (x % 97 != 5 || y > 20); }},
      {9, 8, 5, [](int x, int y) { return x == 4 && y == 3; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    bitmask region(c.w, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) region.set(x, y, c.inside(x, y));
    matrix start(c.w, c.h);
    for (int k = 0; k < start.n; ++k)
      start.x[k] = 40.0f + 30.0f * std::sin(0.37f * float(k % 5000));
    start.x[0] = -0.0f;  // a fixed pixel keeps even its sign
    const CloneProblem problem(region, start);
    matrix fused(start), plain(start);
    problem.Solve(fused, c.iterations, 2.0f, 3.0f);
    PlainCloneLoop(plain, problem, c.iterations, 2.0f, 3.0f);
    float lo, hi;
    plain.minmax(lo, hi);
    double worst = 0.0;
    int moved = 0;
    for (int k = 0; k < plain.n; ++k) {
      worst = std::max(worst, std::fabs(double(fused.x[k]) - plain.x[k]));
      if (plain.x[k] == start.x[k] && std::signbit(plain.x[k]) == std::signbit(start.x[k])) {
        ASSERT_EQ(std::memcmp(fused.x + k, start.x + k, sizeof(float)), 0) << k;
      } else {
        ++moved;
      }
    }
    EXPECT_LE(worst, 1e-4 * (hi - lo));
    EXPECT_GT(moved, 0);
  }
}

// Planes solved together share their passes; each ends with the bytes of its own solve,
// also a plane whose targets it already meets (its loop ends at the first step) beside
// planes that go on.
