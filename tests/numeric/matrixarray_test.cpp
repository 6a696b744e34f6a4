#include "numeric/matrixarray.h"

#include <cmath>
#include <filesystem>
#include <vector>

#include "numeric/cvector.h"
#include "platform/programdir.h"
#include "support/zep_test.h"
#include "test_planes.h"

using MatrixArrayTest = ZepTest;

TEST_F(MatrixArrayTest, ResizeKeepsEverythingOnlyForTheSameCount) {
  matrixarray a(3, 4, 2);
  a[1].fill(5);
  const float* block = a[1].x;
  a.dim(3);
  EXPECT_EQ(a[1].x, block);
  EXPECT_EQ(a[1].x[0], 5.0f);
  a.dim(3, 4, 2);
  EXPECT_EQ(a[1].x, block);
  a.dim(2);
  EXPECT_EQ(a.n, 2);
  EXPECT_TRUE(a[1].empty());
  a.resize(0);
  EXPECT_EQ(a.n, 0);
  EXPECT_EQ(a.m, nullptr);
  EXPECT_EQ(a.energy(), 0.0);
}

TEST_F(MatrixArrayTest, CopyKeepsTargetsWhereTheSourceIsEmpty) {
  matrixarray target(2, 2, 2);
  target.zero();
  target[1].fill(7);
  const matrixarray empty;
  target.copy(empty);  // nothing to copy: nothing changes
  ASSERT_EQ(target.n, 2);
  EXPECT_EQ(target[1].x[3], 7.0f);

  matrixarray src(2);
  src[0] = Noise(3, 1, 1);  // element 1 stays empty
  target = src;
  EXPECT_EQ(target[0].nx, 3);
  EXPECT_EQ(target[0].x[2], src[0].x[2]);
  EXPECT_EQ(target[1].x[3], 7.0f);

  const matrixarray copied(src);
  EXPECT_EQ(copied.n, 2);
  EXPECT_EQ(copied[0].x[1], src[0].x[1]);
  EXPECT_TRUE(copied[1].empty());
}

TEST_F(MatrixArrayTest, WholeArrayArithmetic) {
  matrixarray a(2, 2, 1), b(2, 2, 1);
  a[0].fill(1);
  a[1].fill(2);
  b[0].fill(3);
  b[1].fill(4);
  a.scaleadd(2, b).mulscalar(0.5f);  // (2a + b)/2
  EXPECT_EQ(a[0].x[0], 2.5f);
  EXPECT_EQ(a[1].x[1], 4.0f);
  EXPECT_DOUBLE_EQ(a.energy(), 2 * 2.5 * 2.5 + 2 * 16.0);
  EXPECT_FLOAT_EQ(a.sum([](const matrix& m) { return m.sum(); }), 13.0f);
  int calls = 0;
  EXPECT_TRUE(
      a.foreach ([&](matrix& m, float lo, float) { return ++calls, m.x[0] > lo; }, 3.0f, 0.0f));
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(a.foreach ([](matrix& m, float lo, float) { return m.x[0] > lo; }, 9.0f, 0.0f));
}

TEST_F(MatrixArrayTest, AtrousLevelsAddBackToThePlane) {
  for (auto [w, h] : {std::pair{17, 13}, {1, 1}, {2, 2}, {1, 5}, {5, 1}}) {
    matrix plane = Noise(w, h, 3);
    const matrix original(plane);
    matrixarray levels;
    levels.atrous(plane, 3);
    ASSERT_EQ(levels.n, 3);
    matrix total(plane);
    for (int i = 0; i < 3; ++i) total.add(levels[i]);
    for (int k = 0; k < plane.n; ++k) EXPECT_NEAR(total.x[k], original.x[k], 1e-3) << w << "x" << h;
  }
  // The plane may be a view of someone else's block (a channel of an image).
  std::vector<float> block(64);
  for (size_t i = 0; i < block.size(); ++i) block[i] = float(i % 9);
  matrix view(block.data(), 8, 8);
  matrixarray levels;
  levels.atrous(view, 2);
  EXPECT_EQ(view.x, block.data());
  view.detach();
}

TEST_F(MatrixArrayTest, SignedPowersPerLevel) {
  matrix plane = Noise(16, 16, 4);
  const matrix original(plane);
  matrixarray plain;
  matrix copy(plane);
  plain.atrous(copy, 2);

  // Accumulating one image with exponent 1 gives the plain details, starting from zero.
  matrixarray acc(2);
  const float ones[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  acc.atrouspow(plane, ones);
  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < plane.n; ++k) ASSERT_NEAR(acc[i].x[k], plain[i].x[k], 1e-4);
  }
  EXPECT_NEAR(plane.x[40], copy.x[40], 1e-4);  // both end as the residual

  const float p[8] = {-1, 2, 0, 0, 0, 0, 0, 0};
  matrixarray s(plain);
  s.signedpow(p, 2);
  for (int k = 0; k < plane.n; ++k) {
    EXPECT_EQ(s[0].x[k], plain[0].x[k]);  // exponent -1: untouched, even with d != 1
    const float half = plain[1].x[k] / 2;
    EXPECT_NEAR(s[1].x[k], std::copysign(half * half, half), 1e-4);
  }
}

TEST_F(MatrixArrayTest, ElementFilesRoundTrip) {
  matrixarray a(3, 2, 2);
  for (int i = 0; i < 3; ++i) a[i].fill(float(i + 1));
  a.write("a", 2);
  for (const char* name : {"a2.0.mat", "a2.1.mat", "a2.2.mat"}) {
    EXPECT_TRUE(std::filesystem::exists(ScratchPath(name))) << name;
  }
  matrixarray b(3);
  b.read("a", 2, true);
  EXPECT_EQ(b[2].nx, 2);
  EXPECT_EQ(b[2].x[3], 3.0f);
  EXPECT_FALSE(std::filesystem::exists(ScratchPath("a2.0.mat")));
  a.write("a", 2).remove("a", 2);
  EXPECT_FALSE(std::filesystem::exists(ScratchPath("a2.1.mat")));
}

TEST_F(MatrixArrayTest, VectorsAndVectorLists) {
  struct Triple {
    float x = 0, y = 0, z = 0;
  };
  cvector<Triple> t(4);
  EXPECT_EQ(t[3].z, 0.0f);  // colour triples start at (0, 0, 0)
  t[3].z = 2;
  t.dim(4);
  EXPECT_EQ(t[3].z, 2.0f);  // same count: values kept
  t.dim(5);
  EXPECT_EQ(t[3].z, 0.0f);

  cvector<int32_t> v(3);
  v[0] = 1;
  v[1] = 5;
  v[2] = 9;
  EXPECT_EQ(v.nearest(7), 5);  // the first of two at distance 2
  EXPECT_EQ(v.nearest(-100), 1);
  cvector<int32_t> w(v);
  w.free();
  EXPECT_EQ(w.n, 0);
  EXPECT_EQ(v.n, 3);

  intmaps maps(3, 4);
  maps.zero();
  maps[1][2] = 6;
  maps.dim(5, 3);  // same count: the rows keep their length and values
  EXPECT_EQ(maps[1].n, 4);
  EXPECT_EQ(maps[1][2], 6);
  intmaps two(2, 4);
  two.dim(5, 3);
  EXPECT_EQ(two.n, 3);
  EXPECT_EQ(two[2].n, 5);

  bytemaps bytes;
  bytes.dim(8, 2);
  bytes.zero();
  EXPECT_EQ(bytes[1].n, 8);
  EXPECT_EQ(bytes[1][7], 0);
  bytes.free();
  EXPECT_EQ(bytes.n, 0);
}
