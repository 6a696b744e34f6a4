#include "numeric/matrix.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "numeric/bitmask.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

namespace {
matrix Filled(int w, int h, float start = 0.0f) {
  matrix m(w, h);
  m.ramp(start, 1.0f);
  return m;
}
bool BitsEqual(const matrix& a, const matrix& b) {
  return a.n == b.n && std::memcmp(a.x, b.x, sizeof(float) * size_t(a.n)) == 0;
}
}  // namespace

using MatrixTest = ZepTest;

TEST_F(MatrixTest, ZeroSizeShapes) {
  matrix a(0, 7);
  EXPECT_EQ(a.nx, 0);
  EXPECT_EQ(a.ny, 0);
  EXPECT_EQ(a.n, 0);
  EXPECT_EQ(a.x, nullptr);
  EXPECT_EQ(a.z, nullptr);

  matrix b = Filled(3, 3);
  b.dim(0, 7);
  EXPECT_EQ(b.nx, 0);
  EXPECT_EQ(b.ny, 7);
  EXPECT_EQ(b.n, 0);
  EXPECT_EQ(b.x, nullptr);

  matrix copy(b);  // an empty plane's shape is copied, without storage
  EXPECT_EQ(copy.nx, 0);
  EXPECT_EQ(copy.ny, 7);
  EXPECT_EQ(copy.n, 0);
  EXPECT_EQ(copy.x, nullptr);
}

TEST_F(MatrixTest, DimKeepsBlockAndIpOnlyForTheSameShape) {
  matrix a = Filled(4, 4);
  a.lu();  // gives the plane an ip block
  ASSERT_NE(a.ip, nullptr);
  const float* block = a.x;
  const float first = a.x[0];
  a.dim(4, 4);
  EXPECT_EQ(a.x, block);
  EXPECT_EQ(a.x[0], first);
  EXPECT_NE(a.ip, nullptr);
  a.dim(8, 2);  // same count, new shape: storage is rebuilt and ip dropped
  EXPECT_EQ(a.ip, nullptr);
  EXPECT_EQ(a.nx, 8);
  EXPECT_EQ(a.ny, 2);
  EXPECT_EQ(a.z[1], a.x + 8);
}

TEST_F(MatrixTest, AssignmentTakesTheSourceShape) {
  matrix target(10, 20);
  matrix source = Filled(20, 10, 5.0f);
  target = source;
  EXPECT_EQ(target.nx, 20);
  EXPECT_EQ(target.ny, 10);
  EXPECT_TRUE(BitsEqual(target, source));
  EXPECT_EQ(target.z[3][7], source.z[3][7]);
  EXPECT_NE(target.x, source.x);
}

TEST_F(MatrixTest, AssignmentKeepsTargetIpWhenSourceHasNone) {
  matrix target = Filled(3, 3);
  target.lu();
  int32_t* pivots = target.ip;
  const int32_t flag = target.ip[3];
  const matrix nines = Filled(3, 3, 9.0f);
  target = nines;
  EXPECT_EQ(target.ip, pivots);
  EXPECT_EQ(target.ip[3], flag);
  EXPECT_EQ(target.x[0], 9.0f);
  target = Filled(3, 3, 4.0f);  // moving a temporary in keeps the pivots too
  EXPECT_EQ(target.ip[3], flag);
  EXPECT_EQ(target.x[0], 4.0f);

  matrix factored = Filled(3, 3);
  factored.lu();
  matrix other(3, 3);
  other = factored;  // a source with ip passes a copy of it on
  ASSERT_NE(other.ip, nullptr);
  EXPECT_NE(other.ip, factored.ip);
  EXPECT_EQ(other.iplength(), 4);
  EXPECT_EQ(std::memcmp(other.ip, factored.ip, 4 * sizeof(int32_t)), 0);
  matrix copy(factored);
  EXPECT_EQ(std::memcmp(copy.ip, factored.ip, 4 * sizeof(int32_t)), 0);
}

TEST_F(MatrixTest, ViewsNeverFreeTheirBlock) {
  float data[6] = {1, 2, 3, 4, 5, 6};
  {
    matrix v(data, 3, 2);
    EXPECT_TRUE(v.isview());
    EXPECT_EQ(v.z[1][0], 4.0f);
    v.mulscalar(2.0f);
  }  // the view's destructor leaves data alone (ASan would catch a free)
  EXPECT_EQ(data[5], 12.0f);
  matrix w;
  w.attach(data, 2, 3);
  EXPECT_EQ(w.z[2][1], 12.0f);
  w.detach();
  EXPECT_EQ(w.n, 0);
  EXPECT_EQ(w.x, nullptr);
  EXPECT_EQ(data[0], 2.0f);
}

TEST_F(MatrixTest, ElementWiseOperations) {
  matrix a = Filled(5, 1, 1.0f);   // 1 2 3 4 5
  matrix b = Filled(5, 1, 10.0f);  // 10 11 12 13 14
  struct Case {
    const char* name;
    void (*op)(matrix&, const matrix&);
    float expected[5];
  };
  const Case cases[] = {
      {"add", [](matrix& m, const matrix& y) { m.add(y); }, {11, 13, 15, 17, 19}},
      {"sub", [](matrix& m, const matrix& y) { m.sub(y); }, {-9, -9, -9, -9, -9}},
      {"mul", [](matrix& m, const matrix& y) { m.mul(y); }, {10, 22, 36, 52, 70}},
      {"addscalar", [](matrix& m, const matrix&) { m.addscalar(0.5f); }, {1.5, 2.5, 3.5, 4.5, 5.5}},
      {"subscalar", [](matrix& m, const matrix&) { m.subscalar(1.0f); }, {0, 1, 2, 3, 4}},
      {"mulscalar", [](matrix& m, const matrix&) { m.mulscalar(-2.0f); }, {-2, -4, -6, -8, -10}},
      {"fill", [](matrix& m, const matrix&) { m.fill(7.0f); }, {7, 7, 7, 7, 7}},
      {"zero", [](matrix& m, const matrix&) { m.zero(); }, {0, 0, 0, 0, 0}},
      {"apply",
       [](matrix& m, const matrix&) { m.apply([](double v) { return v * v; }); },
       {1, 4, 9, 16, 25}},
      {"scaleadd", [](matrix& m, const matrix& y) { m.scaleadd(2.0f, y); }, {12, 15, 18, 21, 24}},
      {"axpy", [](matrix& m, const matrix& y) { m.axpy(0.5f, y); }, {6, 7.5, 9, 10.5, 12}},
      {"blend",
       [](matrix& m, const matrix& y) { m.blend(0.25f, y); },
       {3.25, 4.25, 5.25, 6.25, 7.25}},
      {"signedpower", [](matrix& m, const matrix&) { m.signedpower(2.0f); }, {1, 4, 9, 16, 25}},
      {"addsignedpower",
       [](matrix& m, const matrix& y) { m.addsignedpower(y, 1.0f); },
       {11, 13, 15, 17, 19}},
      {"ramp", [](matrix& m, const matrix&) { m.ramp(-1.0f, 0.5f); }, {-1, -0.5, 0, 0.5, 1}},
  };
  for (const Case& c : cases) {
    matrix m(a);
    c.op(m, b);
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(m.x[i], c.expected[i]) << c.name << " at " << i;
  }
}

TEST_F(MatrixTest, PowersOutsideTheirRange) {
  matrix a(4, 1);
  const float values[4] = {-2.0f, 3.0f, -0.5f, 1.0f};
  a.copyfrom(values);
  matrix unchanged(a);
  a.signedpower(0.0f);
  EXPECT_TRUE(BitsEqual(a, unchanged));
  a.signedpower(16.5f);
  EXPECT_TRUE(BitsEqual(a, unchanged));
  a.signedpower(16.0f);
  EXPECT_FLOAT_EQ(a.x[0], -65536.0f);
  EXPECT_FLOAT_EQ(a.x[2], std::pow(0.5f, 16.0f) * -1.0f);

  matrix m(a);
  m.copyfrom(values);
  matrix y(4, 1);
  const float others[4] = {5.0f, -3.0f, 0.25f, -1.0f};  // larger, tie, smaller, tie
  y.copyfrom(others);
  m.addsignedpower(y, -1.0f);
  EXPECT_EQ(m.x[0], 5.0f);
  EXPECT_EQ(m.x[1], 3.0f);
  EXPECT_EQ(m.x[2], -0.5f);
  EXPECT_EQ(m.x[3], 1.0f);
}

TEST_F(MatrixTest, AxpyWithZeroLeavesNaNAlone) {
  matrix a = Filled(4, 1);
  a.x[2] = std::numeric_limits<float>::quiet_NaN();
  matrix y(4, 1);
  y.fill(std::numeric_limits<float>::infinity());
  matrix before(a);
  a.axpy(0.0f, y);
  EXPECT_TRUE(BitsEqual(a, before));
}

TEST_F(MatrixTest, BlendWithMaskChangesOnlySetBits) {
  matrix a(5, 2);
  a.fill(1.0f);
  matrix y(5, 2);
  y.fill(9.0f);
  bitmask mask(5, 2);
  mask.setbit(0, true);
  mask.setbit(7, true);
  a.blend(1.0f, y, &mask);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(a.x[k], (k == 0 || k == 7) ? 9.0f : 1.0f) << k;
}

TEST_F(MatrixTest, Reductions) {
  matrix a = Filled(100, 3, -50.0f);  // -50 .. 249
  EXPECT_DOUBLE_EQ(a.sum(), 29850.0);
  double squares = 0;
  for (int v = -50; v < 250; ++v) squares += double(v) * v;
  EXPECT_DOUBLE_EQ(a.sumsq(), squares);
  matrix ones(100, 3);
  ones.fill(2.0f);
  EXPECT_DOUBLE_EQ(matrix::dot(a, ones), 2 * 29850.0);
  EXPECT_EQ(matrix::dot(matrix(), ones), 0.0);
  float lo, hi;
  a.minmax(lo, hi);
  EXPECT_EQ(lo, -50.0f);
  EXPECT_EQ(hi, 249.0f);
  matrix().minmax(lo, hi);
  EXPECT_EQ(lo, 1e16f);
  EXPECT_EQ(hi, -1e16f);
}

TEST_F(MatrixTest, SumKeepsDoublePrecision) {
  // 2^24 + 1 ones: a float accumulator would stick at 2^24.
  matrix a(4097, 4097);
  a.fill(1.0f);
  EXPECT_EQ(a.sum(), 4097.0 * 4097.0);
}

TEST_F(MatrixTest, RowsColumnsAndRegions) {
  matrix a = Filled(4, 3);  // rows 0..3, 4..7, 8..11
  matrix row(4, 1);
  row.getrow(a, 2);
  EXPECT_EQ(row.x[0], 8.0f);
  EXPECT_EQ(row.x[3], 11.0f);
  matrix col(3, 1);
  col.getcol(a, 1);
  EXPECT_EQ(col.x[0], 1.0f);
  EXPECT_EQ(col.x[2], 9.0f);

  matrix big(6, 5);
  big.zero();
  big.pastecentre(a);  // offsets (1, 1)
  EXPECT_EQ(big.z[1][1], 0.0f);
  EXPECT_EQ(big.z[3][4], 11.0f);
  EXPECT_EQ(big.z[0][1], 0.0f);
  EXPECT_EQ(big.sum(), a.sum());

  matrix c(a);
  c.crop(1, 1, 2, 2);
  EXPECT_EQ(c.nx, 2);
  EXPECT_EQ(c.ny, 2);
  EXPECT_EQ(c.x[0], 5.0f);
  EXPECT_EQ(c.x[3], 10.0f);
  matrix d(a);
  d.crop(0, 0, 5, 1);  // wider than the plane: unchanged
  EXPECT_EQ(d.nx, 4);
  EXPECT_TRUE(BitsEqual(d, a));

  matrix f(a);
  f.fliph();
  EXPECT_EQ(f.z[0][0], 3.0f);
  f.flipv();
  EXPECT_EQ(f.z[0][0], 11.0f);  // both flips: a half turn
  EXPECT_EQ(f.z[2][3], 0.0f);

  matrix s = Filled(3, 2);
  s.swapcols(0, 2);
  EXPECT_EQ(s.z[1][0], 5.0f);
  EXPECT_EQ(s.z[1][2], 3.0f);
  matrix sq(3, 3);
  sq.zero();
  sq.setdiag(1.0f);
  EXPECT_EQ(sq.sum(), 3.0);
  EXPECT_EQ(sq.z[2][2], 1.0f);

  matrix u = Filled(3, 1, 1.0f), v = Filled(2, 1, 10.0f);
  matrix o;
  o.outer(u, v);
  EXPECT_EQ(o.nx, 3);
  EXPECT_EQ(o.ny, 2);
  EXPECT_EQ(o.z[1][2], 33.0f);  // b[1] * a[2]

  matrix diff = MatrixDifference(v, u);
  EXPECT_EQ(diff.nx, 2);
  EXPECT_EQ(diff.x[1], 9.0f);
}

// Every value lands where the turn puts it: tiny planes, tiles with leftover rows and
// columns, and planes large enough for streaming stores with rows a multiple of 8, of 4
// only, and odd; with one thread and with several.
TEST_F(MatrixTest, QuarterTurnPutsEveryValueInPlace) {
  struct Size {
    int w, h;
  };
  for (const Size s : {Size{1, 1}, Size{1, 9}, Size{9, 1}, Size{13, 11}, Size{37, 1030},
                       Size{2051, 2048}, Size{2049, 2052}, Size{2047, 2049}}) {
    const matrix a = Filled(s.w, s.h);  // distinct values, exact in floats
    matrix expected(s.h, s.w);
    for (int r = 0; r < s.h; ++r) {
      for (int k = 0; k < s.w; ++k) expected.z[k][s.h - 1 - r] = a.z[r][k];
    }
    for (int threads : {1, 8}) {
      SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " threads " << threads);
      SetParallelThreads(threads);
      matrix turned(3, 5);  // a plane of another shape is replaced
      turned.rotate90from(a);
      ASSERT_EQ(turned.nx, s.h);
      ASSERT_EQ(turned.ny, s.w);
      EXPECT_TRUE(BitsEqual(turned, expected));
    }
  }
  SetParallelThreads(0);
}

// The roll, also on planes large enough for streaming stores, with rows whose ends share
// cache lines with their neighbours; a distance of at least the length moves nothing.
TEST_F(MatrixTest, RollPutsEveryValueInPlace) {
  struct Case {
    int w, h, dx, dy;
  };
  for (const Case c : {Case{13, 11, 3, -2}, Case{13, 11, -13, 11}, Case{2047, 2049, 5, -7},
                       Case{2047, 2049, -2046, 1}, Case{2048, 2048, 16, 0}}) {
    const matrix a = Filled(c.w, c.h);
    const auto along = [](int d, int len) { return std::abs(d) < len ? (d + len) % len : 0; };
    const int sx = along(c.dx, c.w), sy = along(c.dy, c.h);
    matrix expected(c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < c.w; ++x) expected.z[(y + sy) % c.h][(x + sx) % c.w] = a.z[y][x];
    }
    for (int threads : {1, 8}) {
      SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " by " << c.dx << ", " << c.dy
                                      << " threads " << threads);
      SetParallelThreads(threads);
      matrix rolled;
      rolled.rollfrom(a, c.dx, c.dy);
      EXPECT_TRUE(BitsEqual(rolled, expected));
    }
  }
  SetParallelThreads(0);
}

TEST_F(MatrixTest, CropOutsideThePlaneIsCaughtOrClipped) {
  matrix a = Filled(4, 3);
  EXPECT_DEBUG_DEATH(a.crop(3, 2, 2, 2), "");
#ifdef NDEBUG
  EXPECT_EQ(a.nx, 1);  // what lies inside: column 3 of row 2
  EXPECT_EQ(a.ny, 1);
  EXPECT_EQ(a.x[0], 11.0f);
#endif
}

TEST_F(MatrixTest, FailedAllocationEmptiesThePlaneWithTheMessage) {
  platform.memory.availPhys = 1'000'000;  // 1 MB
  matrix a = Filled(4, 4);
  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 4.00 MB memory for matrix x member.\n\n"
      "matrix::dim\n\nMEMORY STATUS:\n");
  EXPECT_THROW(a.dim(1000, 1000), std::bad_alloc);
  EXPECT_EQ(a.nx, 0);
  EXPECT_EQ(a.ny, 0);
  EXPECT_EQ(a.n, 0);
  EXPECT_EQ(a.x, nullptr);
  EXPECT_EQ(ui.messages.back().caption, "Memory Status");

  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 4.00 MB memory for matrix x member.\n\n"
      "matrix(int,int)\n\n");
  EXPECT_THROW(matrix(1000, 1000), std::bad_alloc);
  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 4.00 MB memory for matrix x member.\n\n"
      "(matrix::matrix(matrix&))\n\n");
  platform.memory.availPhys = 6'000'000'000;
  matrix big(1000, 1000);
  platform.memory.availPhys = 1'000'000;
  EXPECT_THROW(matrix copy(big), std::bad_alloc);
}

TEST_F(MatrixTest, CountsBeyondThirtyTwoBitsFailBeforeAllocating) {
  // 65536 x 65536 elements do not fit a 32-bit count: refused, never wrapped.
  matrix a;
  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 17179.87 MB memory for matrix x member.\n\n"
      "matrix::dim");
  EXPECT_THROW(a.dim(65536, 65536), std::bad_alloc);
  EXPECT_EQ(a.n, 0);
}
