// The Jensen edge model: the line a window's moments give, the sides it makes, the blend
// across it, the robust side value and the edge candidates.
#include "numeric/jensenedge.h"

#include <cmath>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/test_planes.h"
#include "support/zep_test.h"

namespace {
constexpr double kPi = 3.14159265358979323846;

struct Line {
  float theta, r, s, c;
  std::vector<int> sides;  // row by row
};

// The line of an n x n window as the enhancement fits it.
Line FitLine(const matrix& window) {
  const int n = window.nx;
  matrix k[4];
  for (int q = 0; q < 4; ++q) k[q].momentkernel(n, q + 1);
  float m[4];
  EdgeMoments(window.x, n, k, m);
  Line line;
  line.theta = std::atan2(m[1], m[0]);
  line.r = EdgeLineOffset(MeanDistanceFromCentre(n), line.theta, m[0], m[1], m[2], m[3]);
  line.s = std::sin(line.theta);
  line.c = std::cos(line.theta);
  const int d = n / 2;
  for (int row = 0; row < n; ++row) {
    for (int col = 0; col < n; ++col) {
      line.sides.push_back(SideOfLine(float(col - d), float(row - d), line.r, line.s, line.c));
    }
  }
  return line;
}

matrix Window(int n, bool (*bright)(int row, int col)) {
  matrix m(n, n);
  for (int row = 0; row < n; ++row) {
    for (int col = 0; col < n; ++col) m.z[row][col] = bright(row, col) ? 100.0f : 10.0f;
  }
  return m;
}

matrix Row(const std::vector<float>& v) {
  matrix m(int(v.size()), 1);
  for (int k = 0; k < m.n; ++k) m.x[k] = v[k];
  return m;
}
}  // namespace

using JensenEdgeTest = ZepTest;

TEST_F(JensenEdgeTest, ThreeByThreeWindowGeometry) {
  const struct {
    const char* name;
    bool (*bright)(int row, int col);
    double theta;  // degrees, up to the sign at 180
    int rSign;
  } cases[] = {
      {"two dark columns, three bright", [](int, int col) { return col >= 2; }, 180, -1},
      {"three dark columns, two bright", [](int, int col) { return col >= 3; }, 180, 1},
      {"diagonal", [](int row, int col) { return row + col >= 5; }, -135, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const matrix window = Window(5, c.bright);
    const Line line = FitLine(window);
    if (c.theta == 180) {
      EXPECT_NEAR(std::fabs(line.theta), kPi, 1e-5);
    } else {
      EXPECT_NEAR(line.theta, c.theta * kPi / 180, 1e-5);
    }
    if (c.rSign != 0) {
      EXPECT_EQ(line.r > 0 ? 1 : -1, c.rSign) << line.r;
    }
    // The dark cells on side -1, the bright ones on +1.
    for (int v = 0; v < 25; ++v) EXPECT_EQ(line.sides[v], c.bright(v / 5, v % 5) ? 1 : -1) << v;
  }
}

TEST_F(JensenEdgeTest, KernelsAndMeanDistance) {
  // n = 3: cos t is 1 at the two middle side cells and 1/sqrt(2) at the corners, so the
  // squares sum to 4/pi before the scaling and the middle cells end at sqrt(pi)/4.
  const double middle = std::sqrt(kPi) / 4;
  matrix k1, k2, k0;
  k1.momentkernel(3, 1);
  k2.momentkernel(3, 2);
  EXPECT_NEAR(k1.z[1][0], middle, 1e-6);
  EXPECT_NEAR(k1.z[1][2], -middle, 1e-6);
  EXPECT_NEAR(k1.z[0][0], middle / std::sqrt(2.0), 1e-6);
  EXPECT_NEAR(k2.z[0][1], middle, 1e-6);  // row 0 lies at c - row = +1
  EXPECT_EQ(k1.z[1][1], 0.0f);
  k0.momentkernel(3, 0);  // eight equal cells around a clear centre
  EXPECT_NEAR(k0.z[0][0], 1.0 / 8 / (1 / std::sqrt(2 * kPi)), 1e-5);
  EXPECT_EQ(k0.z[1][1], 0.0f);

  EXPECT_NEAR(MeanDistanceFromCentre(3), (4 + 4 * std::sqrt(2.0)) / 8, 1e-6);
  EXPECT_NEAR(MeanDistanceFromCentre(2), std::sqrt(0.5), 1e-6);
}

TEST_F(JensenEdgeTest, BlendGivesTheSideOfThePointAtLeastHalf) {
  const float plus[3] = {10, 20, 30}, minus[3] = {1, 2, 3};
  // F = y s + x c + r with s = 0, c = 1: the point's x plus r.
  const struct {
    float x, k;
    float want0;  // channel 0 after adding to 0
  } cases[] = {
      {1, 0, 0.5f},    // F > 0, hard: weight x minus
      {-1, 0, 5},      // F < 0, hard: weight x plus
      {0, 0, 2.75f},   // on the line: half each
      {0, 3, 2.75f},   // soft, on the line: half each too
      {40, 1, 0.5f},   // soft, far on side -1: all to minus
      {-40, 1, 5.0f},  // and on side +1
  };
  for (const auto& c : cases) {
    float cells[3] = {0, 0, 0};
    BlendJensenEdge(&cells[0], &cells[1], &cells[2], c.x, 7, 0, 0, 1, plus, minus, c.k, 0.5f);
    EXPECT_NEAR(cells[0], c.want0, 1e-6) << c.x << " k " << c.k;
    EXPECT_NEAR(cells[2], 3 * c.want0, 1e-5);
  }
  float soft[3] = {0, 0, 0};
  BlendJensenEdge(&soft[0], &soft[1], &soft[2], 0.5f, 0, 0, 0, 1, plus, minus, 2, 1);
  const double near = 1 / (1 + std::exp(-1.0));
  EXPECT_NEAR(soft[0], near * 1 + (1 - near) * 10, 1e-5);
  EXPECT_EQ(SideOfLine(0, 0, 0, 0, 1), -1);
  EXPECT_EQ(SideOfLine(-0.5f, 0, 0, 0, 1), 1);
}

TEST_F(JensenEdgeTest, ShortestHalf) {
  const struct {
    std::vector<float> values;
    int count;
    float expected;
  } cases[] = {
      {{1, 2, 100}, 3, 1.5f},  // the two smallest
      {{5}, 1, 5},
      {{1, 2, 3, 4}, 4, 1.5f},         // windows at 0 and 1 only: the first
      {{9, 0, 3, 4, 5}, 5, 4},         // (3, 4, 5) from 2 is narrowest but never examined
      {{30, 1, 2, 3, 4, 31}, 6, 2},    // length 3, (1, 2, 3): odd, its middle
      {{9, 1, 2, 100, -50}, 3, 1.5f},  // only the first three, sorted
  };
  for (const auto& c : cases) {
    matrix m = Row(c.values);
    EXPECT_EQ(m.shortesthalf(c.count), c.expected) << c.values.size();
    if (c.count < m.n) {
      EXPECT_EQ(m.x[3], 100.0f);  // the rest untouched
    }
  }
}

TEST_F(JensenEdgeTest, EdgeCandidates) {
  matrix flat(8, 6);
  for (int k = 0; k < flat.n; ++k) flat.x[k] = 40;
  bitmask mask;
  mask.edgedetect(flat, 0.01f, false);
  int count, x, y, w, h;
  mask.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(mask.width, 8);

  // Threshold 0: every interior pixel, never the border.
  mask.edgedetect(flat, 0, false);
  mask.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 6 * 4);
  EXPECT_EQ(x, 1);
  EXPECT_EQ(w, 6);

  // A step between columns 3 and 4 marks the two columns beside it.
  matrix step(flat);
  for (int r = 0; r < 6; ++r) {
    for (int c = 4; c < 8; ++c) step.z[r][c] = 80;
  }
  mask.edgedetect(step, 0.04f, false);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 8; ++c) {
      EXPECT_EQ(mask.get(c, r), r >= 1 && r <= 4 && (c == 3 || c == 4)) << c << "," << r;
    }
  }
  // Restricted: only the pixels set before are tested; threshold 0 leaves the mask.
  bitmask only(8, 6);
  only.set(3, 2, true);
  only.set(6, 2, true);
  bitmask restricted(only);
  restricted.edgedetect(step, 0.04f, true);
  restricted.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(restricted.get(3, 2));
  bitmask kept(only);
  kept.edgedetect(step, 0, true);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(kept.get(6, 2));
  // A mask of another size is not a restriction.
  bitmask other(3, 3);
  other.edgedetect(step, 0.04f, true);
  other.bounds(count, x, y, w, h);
  EXPECT_EQ(count, 8);
}
