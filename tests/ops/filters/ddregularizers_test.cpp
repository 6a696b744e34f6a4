// The data-dependent regularizers: stencil choice by mask bit, transposes, preference maps
// and their list entries.
#include <cmath>
#include <string>
#include <vector>

#include "numeric/bitmask.h"
#include "ops/filters/regularizers.h"
#include "platform/parallel.h"
#include "support/adjoint.h"
#include "support/zep_test.h"

namespace {
using DdRegularizersTest = ZepTest;
using Masked = matrix& (matrix::*)(const matrix&, const bitmask&, float);
using Plain = matrix& (matrix::*)(const matrix&, float);

struct Dd {
  const char* name;
  Masked forward, adjoint;
  int extent;  // 1 for slopes, 2 for curvatures
  // The plain operators a set and a clear bit agree with, their sign, and where the
  // dd output's element (0, 0) sits in the plain output (column, row).
  Plain set, clear;
  float setSign, clearSign;
  int setX, setY, clearX, clearY;
};

const Dd kAll[] = {
    {"ddslopemax", &matrix::ddslopemax, &matrix::ddslopemaxadj, 1, &matrix::slopex, &matrix::slopey,
     1, 1, 0, 0, 0, 0},
    {"ddslopemin", &matrix::ddslopemin, &matrix::ddslopeminadj, 1, &matrix::slopey, &matrix::slopex,
     1, 1, 0, 0, 0, 0},
    {"ddslopediagmax", &matrix::ddslopediagmax, &matrix::ddslopediagmaxadj, 1, &matrix::slopediag,
     &matrix::slopeanti, 1, -1, 0, 0, 0, 0},
    {"ddslopediagmin", &matrix::ddslopediagmin, &matrix::ddslopediagminadj, 1, &matrix::slopeanti,
     &matrix::slopediag, -1, 1, 0, 0, 0, 0},
    {"ddcurvmax", &matrix::ddcurvmax, &matrix::ddcurvmaxadj, 2, &matrix::curvx, &matrix::curvy, 1,
     1, 0, 1, 1, 0},
    {"ddcurvmin", &matrix::ddcurvmin, &matrix::ddcurvminadj, 2, &matrix::curvy, &matrix::curvx, 1,
     1, 1, 0, 0, 1},
    {"ddcurvdiagmax", &matrix::ddcurvdiagmax, &matrix::ddcurvdiagmaxadj, 2, &matrix::curvdiag,
     &matrix::curvanti, 1, 1, 0, 0, 0, 0},
    {"ddcurvdiagmin", &matrix::ddcurvdiagmin, &matrix::ddcurvdiagminadj, 2, &matrix::curvanti,
     &matrix::curvdiag, 1, 1, 0, 0, 0, 0},
};

matrix Random(int w, int h, uint32_t seed) {
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = float(seed >> 8) / float(1 << 23) - 1.0f;
  }
  return m;
}

bitmask RandomMask(int w, int h, uint32_t seed) {
  bitmask m(w, h);
  for (int k = 0; k < w * h; ++k) {
    seed = seed * 1664525u + 1013904223u;
    if (seed >> 31) m.set(k % w, k / w, true);
  }
  return m;
}

matrix Filled(int w, int h, double (*f)(int i, int j)) {  // i row, j column
  matrix m(w, h);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) m.z[i][j] = static_cast<float>(f(i, j));
  return m;
}

int Residual(int n, int extent) { return std::max(0, n - extent); }
}  // namespace

TEST_F(DdRegularizersTest, EachBitTakesItsStencilAtTheRightPixel) {
  const matrix x = Random(9, 8, 5);
  const bitmask mask = RandomMask(9, 8, 7);
  const float w = 0.75f;
  for (const Dd& d : kAll) {
    SCOPED_TRACE(d.name);
    matrix out, set, clear;
    (out.*d.forward)(x, mask, w);
    ASSERT_EQ(out.nx, 9 - d.extent);
    ASSERT_EQ(out.ny, 8 - d.extent);
    (set.*d.set)(x, w);
    (clear.*d.clear)(x, w);
    for (int i = 0; i < out.ny; ++i) {
      for (int j = 0; j < out.nx; ++j) {
        const int o = d.extent - 1;  // the bit of the block's corner or centre
        const float want = mask.get(j + o, i + o)
                               ? d.setSign * set.z[i + d.setY][j + d.setX]
                               : d.clearSign * clear.z[i + d.clearY][j + d.clearX];
        EXPECT_NEAR(out.z[i][j], want, 1e-6) << j << "," << i;
      }
    }
  }
}

TEST_F(DdRegularizersTest, AdjointsWithRandomMasksOverTinyAndOddSizes) {
  const PlaneSize sizes[] = {{31, 29}, {5, 4}, {2, 3}, {1, 1}, {1, 7}, {7, 1}};
  for (const Dd& d : kAll) {
    for (PlaneSize s : sizes) {
      for (int maskKind = 0; maskKind < 3; ++maskKind) {
        SCOPED_TRACE(testing::Message()
                     << d.name << " " << s.first << "x" << s.second << " mask " << maskKind);
        // Random, absent, and of another size (reads as all clear).
        const bitmask mask = maskKind == 0   ? RandomMask(s.first, s.second, 3)
                             : maskKind == 1 ? bitmask()
                                             : RandomMask(s.first + 1, s.second, 3);
        const float w = 1.3f;
        EXPECT_TRUE(CheckAdjoint(
            [&](const matrix& u) {
              matrix o;
              return PlaneStack{(o.*d.forward)(u, mask, w)};
            },
            [&](const PlaneStack& v) {
              matrix o = matrix(s.first, s.second).fill(0.0f);
              return (o.*d.adjoint)(v[0], mask, w);
            },
            s, {{Residual(s.first, d.extent), Residual(s.second, d.extent)}}));
      }
    }
  }
}

TEST_F(DdRegularizersTest, ConstantPlanesGiveZeroResiduals) {
  const matrix x = matrix(12, 10).fill(87.5f);
  const bitmask mask = RandomMask(12, 10, 9);
  for (const Dd& d : kAll) {
    matrix out;
    (out.*d.forward)(x, mask, 2.0f);
    for (int k = 0; k < out.n; ++k) ASSERT_EQ(out.x[k], 0.0f) << d.name;
  }
}

TEST_F(DdRegularizersTest, PreferenceMaps) {
  {
    SCOPED_TRACE("rows only: a clear HV slope mask, Max takes the vertical slopes");
    const matrix x = Filled(10, 9, [](int i, int) { return double(i * i % 7); });
    matrix map;
    map.hvpreference(x, 1, 0);
    bitmask mask;
    mask.positive(map);
    int count, bx, by, bw, bh;
    mask.bounds(count, bx, by, bw, bh);
    EXPECT_EQ(count, 0);
    matrix dd, vertical;
    dd.ddslopemax(x, mask, 1);
    vertical.slopey(x, 1);
    for (int i = 0; i < dd.ny; ++i)
      for (int j = 0; j < dd.nx; ++j) EXPECT_EQ(dd.z[i][j], vertical.z[i][j]);
    dd.ddslopemin(x, mask, 1);
    for (int k = 0; k < dd.n; ++k) EXPECT_EQ(dd.x[k], 0.0f);
  }
  {
    SCOPED_TRACE("equal differences on both stencils: every map 0");
    // A ramp along both axes for HV; one along the rows alone is equal on the diagonals.
    const matrix hv = Filled(8, 7, [](int i, int j) { return 3.0 * i + 3.0 * j; });
    const matrix diag = Filled(8, 7, [](int i, int) { return 3.0 * i; });
    matrix map;
    for (auto build : {&matrix::hvpreference, &matrix::diagpreference}) {
      for (int mode : {0, 1}) {
        (map.*build)(build == &matrix::hvpreference ? hv : diag, 1, mode);
        for (int k = 0; k < map.n; ++k) EXPECT_EQ(map.x[k], 0.0f) << mode << " " << k;
      }
    }
  }
  {
    SCOPED_TRACE("columns only: horizontal differences larger, the border 0");
    const matrix x = Filled(9, 8, [](int, int j) { return double(j * j); });
    matrix map;
    map.hvpreference(x, 1, 0);
    EXPECT_GT(map.z[3][3], 0);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(map.z[i][8], 0.0f);
    map.hvpreference(x, 1, 1);
    EXPECT_GT(map.z[3][3], 0);
    for (int j = 0; j < 9; ++j) EXPECT_EQ(map.z[0][j] + map.z[7][j], 0.0f);
  }
  {
    SCOPED_TRACE("scale 2: twice the size");
    const matrix x = Random(7, 5, 1);
    matrix map;
    for (auto build : {&matrix::hvpreference, &matrix::diagpreference}) {
      for (int mode : {0, 1}) {
        (map.*build)(x, 2, mode);
        EXPECT_EQ(map.nx, 14);
        EXPECT_EQ(map.ny, 10);
      }
    }
  }
}

TEST_F(DdRegularizersTest, ListEntriesFollowTheRowsWithTheirMasks) {
  const matrix x = Random(8, 6, 2);
  const bitmask masks[4] = {RandomMask(8, 6, 1), RandomMask(8, 6, 2), RandomMask(8, 6, 3),
                            RandomMask(8, 6, 4)};
  RegularizerMaps& m = CurrentRegularizerMaps();
  m = {&masks[0], &masks[1], &masks[2], &masks[3]};
  RegularizerWeights& w = CurrentRegularizerWeights();
  w = RegularizerWeights();
  w.ddSlopesHvMin = 1;
  w.ddSlopesHvMax = 2;
  w.ddCurvesHvMin = 3;
  w.ddCurvesHvMax = 4;
  w.ddSlopesDiagMin = 5;
  w.ddSlopesDiagMax = 0;  // left out
  w.ddCurvesDiagMin = 7;
  w.ddCurvesDiagMax = 8;
  LinearOpList f, a;
  AppendDataDependentRegularizers(f, a);
  struct Want {
    Masked op;
    int mask;
    float weight;
  } want[] = {{&matrix::ddslopemin, 0, 1},     {&matrix::ddslopemax, 0, 2},
              {&matrix::ddcurvmin, 1, 3},      {&matrix::ddcurvmax, 1, 4},
              {&matrix::ddslopediagmin, 2, 5}, {&matrix::ddcurvdiagmin, 3, 7},
              {&matrix::ddcurvdiagmax, 3, 8}};
  ASSERT_EQ(f.size(), 7u);
  ASSERT_EQ(a.size(), 7u);
  for (size_t k = 0; k < f.size(); ++k) {
    matrix got, expected;
    f[k](got, x);
    (expected.*want[k].op)(x, masks[want[k].mask], want[k].weight);
    ASSERT_EQ(got.n, expected.n) << k;
    for (int e = 0; e < got.n; ++e) ASSERT_EQ(got.x[e], expected.x[e]) << k;
    EXPECT_TRUE(CheckEntryAdjoint(f[k], a[k], {8, 6})) << k;
  }
  m = RegularizerMaps();
  w = RegularizerWeights();
}

TEST_F(DdRegularizersTest, SameBytesOnOneAndEightThreads) {
  const matrix x = Random(301, 517, 4);
  const bitmask mask = RandomMask(301, 517, 6);
  std::vector<std::vector<float>> runs[2];
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : 8);
    for (const Dd& d : kAll) {
      matrix out, back = matrix(301, 517).fill(0.0f);
      (out.*d.forward)(x, mask, 0.5f);
      (back.*d.adjoint)(out, mask, 0.5f);
      runs[t].emplace_back(back.x, back.x + back.n);
    }
    matrix map;
    map.hvpreference(x, 2, 0);
    runs[t].emplace_back(map.x, map.x + map.n);
    map.diagpreference(x, 1, 1);
    runs[t].emplace_back(map.x, map.x + map.n);
  }
  SetParallelThreads(0);
  EXPECT_TRUE(runs[0] == runs[1]);
}
