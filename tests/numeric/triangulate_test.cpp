#include "numeric/triangulate.h"

#include <cmath>

#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using TriangulateTest = ZepTest;

TEST_F(TriangulateTest, LinearPlaneIsReproducedExactly) {
  // Any plane linear in x and y lies in every triangle's plane, whatever the diagonals, and
  // beyond the grid too (extrapolation of the nearest cell).
  matrix plane(9, 7);
  for (int j = 0; j < plane.ny; ++j) {
    for (int i = 0; i < plane.nx; ++i) plane.z[j][i] = 3.0f + 1.5f * i - 2.25f * j;
  }
  bitmask chosen, mixed;
  ChooseTriangleDiagonals(chosen, Noise(9, 7, 4));
  mixed.dim(9, 7);
  for (int k = 0; k < mixed.n; ++k) mixed.setbit(k, k % 3 == 0);
  const double params[][4] = {{1, 1, 0, 0}, {2, 2, 0, 0}, {3.3, 0.7, 0.25, -0.4}, {0.5, 1.6, 0, 0}};
  for (const bitmask* mask : {&chosen, &mixed}) {
    for (auto& p : params) {
      matrix out;
      StartProgress(100);
      EXPECT_FALSE(ResampleTriangulation(out, plane, *mask, p[0], p[1], p[2], p[3]));
      ASSERT_EQ(out.nx, int(std::trunc(9 * p[0] + 0.5)));
      ASSERT_EQ(out.ny, int(std::trunc(7 * p[1] + 0.5)));
      for (int j = 0; j < out.ny; ++j) {
        const double y = (1 / p[1] - 1) / 2 + p[3] / p[1] + j / p[1];
        for (int i = 0; i < out.nx; ++i) {
          const double x = (1 / p[0] - 1) / 2 + p[2] / p[0] + i / p[0];
          EXPECT_NEAR(out.z[j][i], 3 + 1.5 * x - 2.25 * y, 1e-4) << i << " " << j;
        }
      }
    }
  }
}

TEST_F(TriangulateTest, DiagonalFollowsTheEdge) {
  // An edge along the main diagonal (constant along x = y): the cells take the main
  // diagonal; along the anti-diagonal they stay clear; a constant plane leaves all clear.
  matrix along(8, 8), across(8, 8), flat(8, 8);
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) {
      along.z[j][i] = i > j ? 200.0f : 10.0f;
      across.z[j][i] = i + j > 7 ? 200.0f : 10.0f;
    }
  }
  flat.fill(5);
  bitmask m;
  ChooseTriangleDiagonals(m, along);
  EXPECT_TRUE(m.get(3, 3));
  EXPECT_TRUE(m.get(0, 0));  // border copies
  ChooseTriangleDiagonals(m, across);
  EXPECT_FALSE(m.get(3, 3));
  ChooseTriangleDiagonals(m, flat);
  for (int k = 0; k < m.n; ++k) EXPECT_FALSE(m.getbit(k));

  // The enlarged diagonal edge stays sharp: no sample between the two levels off the edge.
  matrix out;
  ChooseTriangleDiagonals(m, along);
  StartProgress(100);
  ResampleTriangulation(out, along, m, 1.0, 1.0, 0, 0);
  for (int k = 0; k < out.n; ++k) EXPECT_EQ(out.x[k], along.x[k]);

  // Tiny planes: only the border copies, and no read outside.
  for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 5}, std::pair{3, 2}}) {
    matrix small = Noise(w, h, 1);
    ChooseTriangleDiagonals(m, small);
    EXPECT_EQ(m.width, w);
    ResampleTriangulation(out, small, m, 2.0, 2.0, 0, 0);
    EXPECT_EQ(out.nx, 2 * w);
  }
}

TEST_F(TriangulateTest, CancelStopsAtARow) {
  matrix plane = Noise(6, 6, 3), out;
  bitmask m;
  ChooseTriangleDiagonals(m, plane);
  StartProgress(100);
  platform.CancelAtPoll(2);
  EXPECT_TRUE(ResampleTriangulation(out, plane, m, 2.0, 2.0, 0, 0));
  EXPECT_EQ(out.nx, 12);
}

TEST_F(TriangulateTest, IsophoteSmoothingKeepsStraightIsophotesAndBorders) {
  // Straight isophotes have no curvature: a ramp and a straight edge stay; a disc's
  // staircase moves; the outer rows and columns never change.
  matrix ramp(8, 8), edge(8, 8), disc(12, 12);
  for (int j = 0; j < 8; ++j) {
    for (int i = 0; i < 8; ++i) {
      ramp.z[j][i] = 2.0f * i + 3.0f * j;
      edge.z[j][i] = i < 4 ? 0.0f : 100.0f;
    }
  }
  for (int j = 0; j < 12; ++j) {
    for (int i = 0; i < 12; ++i) disc.z[j][i] = std::hypot(i - 5.5, j - 5.5) < 4 ? 100.0f : 0.0f;
  }
  for (int mode : {-1, 0, 1}) {
    matrix a(ramp), b(edge), c(disc);
    a.isophotesmooth(4, 0.2f, 0, 0, mode, nullptr);
    b.isophotesmooth(4, 0.2f, 0, 0, mode, nullptr);
    c.isophotesmooth(4, 0.2f, 0, 0, mode, nullptr);
    for (int k = 0; k < a.n; ++k) EXPECT_NEAR(a.x[k], ramp.x[k], 1e-4) << mode;
    EXPECT_EQ(Values(b), Values(edge)) << mode;
    double moved = 0;
    for (int k = 0; k < c.n; ++k) moved += std::fabs(c.x[k] - disc.x[k]);
    EXPECT_GT(moved, 10.0) << mode;
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(c.z[0][i], disc.z[0][i]);
      EXPECT_EQ(c.z[11][i], disc.z[11][i]);
      EXPECT_EQ(c.z[i][0], disc.z[i][0]);
      EXPECT_EQ(c.z[i][11], disc.z[i][11]);
    }
  }
  // Locks and the mask: modulus 1 locks everything; an unset mask pixel keeps its value;
  // an unknown mode changes nothing.
  matrix c(disc);
  c.isophotesmooth(3, 0.2f, 1, 0, 0, nullptr);
  EXPECT_EQ(Values(c), Values(disc));
  c.isophotesmooth(3, 0.2f, 0, 0, 7, nullptr);
  EXPECT_EQ(Values(c), Values(disc));
  matrix even(disc);
  even.isophotesmooth(3, 0.2f, 2, 0, 0, nullptr);
  bitmask only(12, 12);
  only.set(3, 2, true);
  c.isophotesmooth(3, 0.2f, 0, 0, 1, &only);
  for (int j = 0; j < 12; ++j) {
    for (int i = 0; i < 12; ++i) {
      if (i % 2 == 0 && j % 2 == 0) {
        EXPECT_EQ(even.z[j][i], disc.z[j][i]);
      }
      if (i != 3 || j != 2) {
        EXPECT_EQ(c.z[j][i], disc.z[j][i]);
      }
    }
  }
  EXPECT_NE(c.z[2][3], disc.z[2][3]);
}
