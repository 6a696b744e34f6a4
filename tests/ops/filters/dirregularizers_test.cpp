// The direction-field regularizers: stencils against the written-out differences, the
// transposes, the gradient tensors and fields, and their list entries.
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "numeric/shift.h"
#include "numeric/test_planes.h"
#include "ops/filters/regularizers.h"
#include "platform/parallel.h"
#include "support/adjoint.h"
#include "support/zep_test.h"

namespace {
using DirRegularizersTest = ZepTest;
using FieldOp = matrix& (matrix::*)(const matrix&, const matrix&, float);

// The differences of one pixel, read through a mirrored accessor I(row, column).
using Reader = std::function<double(int, int)>;
using Reference = double (*)(const Reader& I, int i, int j, double u, double v);

struct Dir {
  const char* name;
  FieldOp forward, adjoint;
  double divisor;
  Reference reference;
};

double SlopeMin(const Reader& I, int i, int j, double u, double v) {
  const double d1 = I(i + 1, j + 1) - I(i, j), d2 = I(i + 1, j) - I(i, j + 1);
  return v * d1 - u * d2;
}
double SlopeMax(const Reader& I, int i, int j, double u, double v) {
  const double d1 = I(i + 1, j + 1) - I(i, j), d2 = I(i + 1, j) - I(i, j + 1);
  return u * d1 + v * d2;
}
double RowSum(const Reader& I, int i, int j) {
  return (I(i, j + 1) - I(i, j)) + (I(i + 1, j + 1) - I(i + 1, j));
}
double ColumnSum(const Reader& I, int i, int j) {
  return (I(i + 1, j) - I(i, j)) + (I(i + 1, j + 1) - I(i, j + 1));
}
double Slope2Min(const Reader& I, int i, int j, double u, double v) {
  return RowSum(I, i, j) * v - ColumnSum(I, i, j) * u;
}
double Slope2Max(const Reader& I, int i, int j, double u, double v) {
  return RowSum(I, i, j) * u + ColumnSum(I, i, j) * v;
}
struct Second {
  double d11, d22, x, dxx, dyy, m;
};
Second Seconds(const Reader& I, int i, int j) {
  const double c = I(i, j);
  return {I(i - 1, j - 1) - 2 * c + I(i + 1, j + 1),
          I(i - 1, j + 1) - 2 * c + I(i + 1, j - 1),
          I(i - 1, j) + I(i + 1, j) - I(i, j - 1) - I(i, j + 1),
          I(i, j - 1) - 2 * c + I(i, j + 1),
          I(i - 1, j) - 2 * c + I(i + 1, j),
          I(i - 1, j - 1) + I(i + 1, j + 1) - I(i + 1, j - 1) - I(i - 1, j + 1)};
}
double CurvMin(const Reader& I, int i, int j, double u, double v) {
  const Second s = Seconds(I, i, j);
  return v * v * s.d11 - 2 * u * v * s.x + u * u * s.d22;
}
double CurvMax(const Reader& I, int i, int j, double u, double v) {
  const Second s = Seconds(I, i, j);
  return u * u * s.d11 + 2 * u * v * s.x + v * v * s.d22;
}
double Curv2Min(const Reader& I, int i, int j, double u, double v) {
  const Second s = Seconds(I, i, j);
  return v * v * s.dxx - u * v * s.m / 2 + u * u * s.dyy;
}
double Curv2Max(const Reader& I, int i, int j, double u, double v) {
  const Second s = Seconds(I, i, j);
  return u * u * s.dxx + u * v * s.m / 2 + v * v * s.dyy;
}

const Dir kAll[] = {
    {"dirslopemin", &matrix::dirslopemin, &matrix::dirslopeminadj, std::sqrt(2.0), SlopeMin},
    {"dirslopemax", &matrix::dirslopemax, &matrix::dirslopemaxadj, std::sqrt(2.0), SlopeMax},
    {"dirslope2min", &matrix::dirslope2min, &matrix::dirslope2minadj, 2, Slope2Min},
    {"dirslope2max", &matrix::dirslope2max, &matrix::dirslope2maxadj, 2, Slope2Max},
    {"dircurvmin", &matrix::dircurvmin, &matrix::dircurvminadj, 2, CurvMin},
    {"dircurvmax", &matrix::dircurvmax, &matrix::dircurvmaxadj, 2, CurvMax},
    {"dircurv2min", &matrix::dircurv2min, &matrix::dircurv2minadj, 1, Curv2Min},
    {"dircurv2max", &matrix::dircurv2max, &matrix::dircurv2maxadj, 1, Curv2Max},
};

matrix UnitField(int n, uint32_t seed) {
  matrix f(n, 2);
  for (int k = 0; k < n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    const double angle = double(seed >> 8) / double(1 << 24) * 6.283185307179586;
    f.x[k] = static_cast<float>(std::cos(angle));
    f.x[n + k] = static_cast<float>(std::sin(angle));
  }
  return f;
}

matrix Filled(int w, int h, double (*f)(int i, int j)) {  // i row, j column
  matrix m(w, h);
  for (int i = 0; i < h; ++i)
    for (int j = 0; j < w; ++j) m.z[i][j] = static_cast<float>(f(i, j));
  return m;
}

// Index -1 reads 1 and index n reads n - 2: the edge is not repeated.
int Mirror(int k, int n) {
  if (n == 1) return 0;
  return k < 0 ? -k : k >= n ? 2 * n - 2 - k : k;
}
}  // namespace

TEST_F(DirRegularizersTest, EachOperatorIsItsWrittenOutDifferencesBordersIncluded) {
  for (PlaneSize s : {PlaneSize{9, 7}, PlaneSize{2, 5}, PlaneSize{6, 1}}) {
    const matrix x = Noise(s.first, s.second, 5);
    const Reader I = [&](int i, int j) { return double(x.z[Mirror(i, x.ny)][Mirror(j, x.nx)]); };
    const float w = 0.75f;
    // A random unit field, and an absent one, which reads as (1, 0).
    for (const matrix& field : {UnitField(x.n, 11), matrix()}) {
      for (const Dir& d : kAll) {
        SCOPED_TRACE(testing::Message() << d.name << " " << s.first << "x" << s.second
                                        << (field.n ? "" : " no field"));
        matrix out;
        (out.*d.forward)(x, field, w);
        ASSERT_EQ(out.nx, x.nx);
        ASSERT_EQ(out.ny, x.ny);
        for (int i = 0; i < x.ny; ++i) {
          for (int j = 0; j < x.nx; ++j) {
            const int k = i * x.nx + j;
            const double u = field.n ? field.x[k] : 1.0, v = field.n ? field.x[x.n + k] : 0.0;
            const double want = w / d.divisor * d.reference(I, i, j, u, v);
            EXPECT_NEAR(out.z[i][j], want, 2e-6) << j << "," << i;
          }
        }
      }
    }
  }
}

TEST_F(DirRegularizersTest, AdjointsWithUnitFieldsOverTinyAndOddSizes) {
  const PlaneSize sizes[] = {{31, 29}, {2, 3}, {1, 1}, {1, 7}, {7, 1}};
  for (const Dir& d : kAll) {
    for (PlaneSize s : sizes) {
      for (int fieldKind = 0; fieldKind < 2; ++fieldKind) {
        SCOPED_TRACE(testing::Message()
                     << d.name << " " << s.first << "x" << s.second << " field " << fieldKind);
        // A random unit field, and an absent one (reads as (1, 0)).
        const matrix field = fieldKind == 0 ? UnitField(s.first * s.second, 3) : matrix();
        const float w = 1.3f;
        EXPECT_TRUE(CheckAdjoint(
            [&](const matrix& u) {
              matrix o;
              return PlaneStack{(o.*d.forward)(u, field, w)};
            },
            [&](const PlaneStack& v) {
              matrix o = matrix(s.first, s.second).fill(0.0f);
              return (o.*d.adjoint)(v[0], field, w);
            },
            s, {s}));
      }
    }
  }
}

TEST_F(DirRegularizersTest, ConstantPlanesGiveZeroResiduals) {
  const matrix x = matrix(12, 10).fill(87.5f);
  const matrix field = UnitField(x.n, 9);
  for (const Dir& d : kAll) {
    matrix out;
    (out.*d.forward)(x, field, 2.0f);
    for (int k = 0; k < out.n; ++k) ASSERT_EQ(out.x[k], 0.0f) << d.name;
  }
}

TEST_F(DirRegularizersTest, TensorsOfOneCell) {
  // One 2 x 2 plane: corners a = 1, b = 4, c = 2, d = 9 (row 0: a b; row 1: c d).
  matrix x(2, 2);
  x.z[0][0] = 1, x.z[0][1] = 4, x.z[1][0] = 2, x.z[1][1] = 9;
  matrix a, c, b;
  x.diagtensor(a, c, b, 0, 1, 0);
  EXPECT_EQ(a.z[0][0], 64.0f);   // d1 = 9 - 1
  EXPECT_EQ(c.z[0][0], -16.0f);  // d2 = 2 - 4
  EXPECT_EQ(b.z[0][0], 4.0f);
  x.hvtensor(a, c, b, 0, 1, 0);
  EXPECT_EQ(a.z[0][0], (9.0f + 49.0f) / 2);  // row differences 3 and 7
  EXPECT_EQ(c.z[0][0], 5.0f * 3.0f);         // mean row 5 x mean column 3
  EXPECT_EQ(b.z[0][0], (1.0f + 25.0f) / 2);  // column differences 1 and 5
  for (const matrix* p : {&a, &c, &b}) {
    EXPECT_EQ(p->z[0][1] + p->z[1][0] + p->z[1][1], 0.0f);  // last row and column 0
  }
}

TEST_F(DirRegularizersTest, FieldsFollowTheStructure) {
  {
    SCOPED_TRACE("I = f(j): the row/column field is (1, 0), Min 0, Max w x mean row step");
    const matrix x = Filled(11, 9, [](int, int j) { return double(j * j) / 4; });
    for (int mode : {0, 1}) {
      matrix field;
      field.hvfield(x, 1, 1.0f, mode);
      ASSERT_EQ(field.nx, x.n);
      for (int k = 0; k < x.n; ++k) {
        ASSERT_EQ(field.x[k], 1.0f) << k;
        ASSERT_EQ(field.x[x.n + k], 0.0f) << k;
      }
    }
    matrix field, out;
    field.hvfield(x, 1, 1.0f, 0);
    const float w = 0.5f;
    out.dirslope2min(x, field, w);
    for (int k = 0; k < out.n; ++k) ASSERT_EQ(out.x[k], 0.0f) << k;
    out.dirslope2max(x, field, w);
    for (int i = 0; i < x.ny; ++i) {
      for (int j = 0; j + 1 < x.nx; ++j) {
        EXPECT_NEAR(out.z[i][j], w * (x.z[i][j + 1] - x.z[i][j]), 1e-5) << j << "," << i;
      }
      // The last column differs backwards.
      EXPECT_NEAR(out.z[i][x.nx - 1], w * (x.z[i][x.nx - 2] - x.z[i][x.nx - 1]), 1e-5);
    }
  }
  {
    SCOPED_TRACE("the diagonal field: along i + j (1, 0), along i - j (0, 1)");
    const matrix rising = Filled(8, 7, [](int i, int j) { return 0.5 * (i + j); });
    const matrix falling = Filled(8, 7, [](int i, int j) { return 0.5 * (i - j); });
    matrix f1, f2;
    f1.diagfield(rising, 1, 1.0f, 0);
    f2.diagfield(falling, 1, 1.0f, 1);
    for (int k = 0; k < rising.n; ++k) {
      ASSERT_EQ(f1.x[k], 1.0f) << k;
      ASSERT_EQ(f1.x[rising.n + k], 0.0f) << k;
      ASSERT_EQ(f2.x[k], 0.0f) << k;
      ASSERT_EQ(f2.x[rising.n + k], 1.0f) << k;
    }
  }
  {
    SCOPED_TRACE("a flat plane gives (1, 0)");
    matrix field;
    field.diagfield(matrix(5, 4).fill(3.0f), 1, 1.0f, 1);
    for (int k = 0; k < 20; ++k) ASSERT_EQ(field.x[k], 1.0f);
  }
}

TEST_F(DirRegularizersTest, TensorSmoothingAndScale) {
  const matrix x = Noise(13, 11, 7);
  matrix a0, c0, b0, a1, c1, b1;
  {
    SCOPED_TRACE("sigma 0: the products unsmoothed; sigma 1 smooths");
    x.hvtensor(a0, c0, b0, 0, 1, 0);
    for (int i = 0; i + 1 < x.ny; ++i) {
      for (int j = 0; j + 1 < x.nx; ++j) {
        const double r =
            (double(x.z[i][j + 1]) - x.z[i][j] + x.z[i + 1][j + 1] - x.z[i + 1][j]) / 2;
        const double col =
            (double(x.z[i + 1][j]) - x.z[i][j] + x.z[i + 1][j + 1] - x.z[i][j + 1]) / 2;
        ASSERT_NEAR(c0.z[i][j], r * col, 1e-5) << j << "," << i;
      }
    }
    x.hvtensor(a1, c1, b1, 1, 1, 0);
    matrix blurred = a0;
    blurred.gaussblury(1, 0).gaussblurx(1, 0);
    for (int k = 0; k < a1.n; ++k) ASSERT_EQ(a1.x[k], blurred.x[k]) << k;
  }
  {
    SCOPED_TRACE("mode 1 is the half-pixel shift of the cell products");
    x.diagtensor(a0, c0, b0, 0, 1, 0);
    x.diagtensor(a1, c1, b1, 0, 1, 1);
    ShiftHalfPixelNoCancel(a0, true, true);
    for (int k = 0; k < a1.n; ++k) ASSERT_EQ(a1.x[k], a0.x[k]) << k;
  }
  {
    SCOPED_TRACE("scale 2: planes of 2nx x 2ny and 4 nx ny field columns");
    for (int mode : {0, 1}) {
      x.diagtensor(a1, c1, b1, 1, 2, mode);
      EXPECT_EQ(a1.nx, 26);
      EXPECT_EQ(b1.ny, 22);
      matrix field;
      field.hvfield(x, 2, 1, mode);
      EXPECT_EQ(field.nx, 4 * x.n);
      EXPECT_EQ(field.ny, 2);
    }
  }
  {
    SCOPED_TRACE("majoreigenfield is eigenfield's major mode and keeps the tensors");
    x.diagtensor(a0, c0, b0, 1, 1, 0);
    matrix field, expected;
    field.majoreigenfield(a0, c0, b0);
    ASSERT_EQ(a0.n, x.n);
    ASSERT_EQ(c0.n, x.n);
    ASSERT_EQ(b0.n, x.n);
    expected.eigenfield(a0, c0, b0, 1, true);
    ASSERT_EQ(field.n, expected.n);
    for (int k = 0; k < field.n; ++k) ASSERT_EQ(field.x[k], expected.x[k]);
  }
  {
    SCOPED_TRACE("one row or one column: the fields build");
    for (PlaneSize s : {PlaneSize{1, 6}, PlaneSize{6, 1}}) {
      matrix field;
      field.hvfield(Noise(s.first, s.second, 1), 2, 1, 0);
      EXPECT_EQ(field.nx, 4 * s.first * s.second);
      field.diagfield(Noise(s.first, s.second, 1), 1, 1, 1);
      for (int k = 0; k < field.n; ++k) EXPECT_TRUE(std::isfinite(field.x[k]));
    }
  }
}

TEST_F(DirRegularizersTest, ListEntriesFollowTheRowsWithTheirFields) {
  const matrix x = Noise(8, 6, 2);
  const matrix fields[4] = {UnitField(48, 1), UnitField(48, 2), UnitField(48, 3), UnitField(48, 4)};
  RegularizerMaps& m = CurrentRegularizerMaps();
  m = RegularizerMaps();
  m.diagSlopeField = &fields[0];
  m.diagCurvatureField = &fields[1];
  m.hvSlopeField = &fields[2];
  m.hvCurvatureField = &fields[3];
  RegularizerWeights& w = CurrentRegularizerWeights();
  w = RegularizerWeights();
  w.dirCurvesMin = 1;
  w.dirCurvesMax = 2;
  w.dirSlopesMin = 3;
  w.dirSlopesMax = 0;  // left out
  w.dirCurves2Min = 5;
  w.dirCurves2Max = 6;
  w.dirSlopes2Min = 7;
  w.dirSlopes2Max = 8;
  LinearOpList f, a;
  AppendDirectionFieldRegularizers(f, a);
  struct Want {
    FieldOp op;
    int field;
    float weight;
  } want[] = {{&matrix::dircurvmin, 1, 1},  {&matrix::dircurvmax, 1, 2},
              {&matrix::dirslopemin, 0, 3}, {&matrix::dircurv2min, 3, 5},
              {&matrix::dircurv2max, 3, 6}, {&matrix::dirslope2min, 2, 7},
              {&matrix::dirslope2max, 2, 8}};
  ASSERT_EQ(f.size(), 7u);
  ASSERT_EQ(a.size(), 7u);
  for (size_t k = 0; k < f.size(); ++k) {
    matrix got, expected;
    f[k](got, x);
    (expected.*want[k].op)(x, fields[want[k].field], want[k].weight);
    ASSERT_EQ(got.n, expected.n) << k;
    for (int e = 0; e < got.n; ++e) ASSERT_EQ(got.x[e], expected.x[e]) << k;
    EXPECT_TRUE(CheckEntryAdjoint(f[k], a[k], {8, 6})) << k;
  }
  m = RegularizerMaps();
  w = RegularizerWeights();
}

TEST_F(DirRegularizersTest, SameBytesOnOneAndEightThreads) {
  const matrix x = Noise(301, 517, 4);
  const matrix field = UnitField(x.n, 6);
  std::vector<std::vector<float>> runs[2];
  for (int t = 0; t < 2; ++t) {
    SetParallelThreads(t == 0 ? 1 : 8);
    for (const Dir& d : kAll) {
      matrix out, back = matrix(301, 517).fill(0.0f);
      (out.*d.forward)(x, field, 0.5f);
      (back.*d.adjoint)(out, field, 0.5f);
      runs[t].emplace_back(back.x, back.x + back.n);
    }
    matrix built;
    built.diagfield(x, 2, 1, 0);
    runs[t].emplace_back(built.x, built.x + built.n);
    built.hvfield(x, 1, 1, 1);
    runs[t].emplace_back(built.x, built.x + built.n);
  }
  SetParallelThreads(0);
  EXPECT_TRUE(runs[0] == runs[1]);
}
