#include "numeric/scan.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "platform/parallel.h"
#include "support/zep_test.h"

using ScanTest = ZepTest;

namespace {
using Path = std::vector<std::pair<int, int>>;  // (column, row)

Path Walk(int nx, int ny, ScanOrder type) {
  Path p;
  ForEachScanPosition(nx, ny, type, [&](int c, int r) { p.push_back({c, r}); });
  return p;
}

// A plane whose element at (c, r) encodes its position.
matrix Positions(int nx, int ny) {
  matrix m(nx, ny);
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) m.z[r][c] = float(100 * r + c);
  }
  return m;
}

struct Triple {
  float x = 0, y = 0, z = 0;
};

const std::pair<int, int> kShapes[] = {{1, 1}, {1, 5}, {5, 1}, {2, 2}, {4, 3},
                                       {3, 4}, {5, 5}, {6, 4}, {2, 7}};
}  // namespace

TEST_F(ScanTest, PathsOfAFourByThreePlane) {
  EXPECT_EQ(Walk(4, 3, 0), (Path{{0, 0},
                                 {1, 0},
                                 {2, 0},
                                 {3, 0},
                                 {3, 1},
                                 {2, 1},
                                 {1, 1},
                                 {0, 1},
                                 {0, 2},
                                 {1, 2},
                                 {2, 2},
                                 {3, 2}}));
  EXPECT_EQ(Walk(4, 3, 1), (Path{{0, 0},
                                 {0, 1},
                                 {0, 2},
                                 {1, 2},
                                 {1, 1},
                                 {1, 0},
                                 {2, 0},
                                 {2, 1},
                                 {2, 2},
                                 {3, 2},
                                 {3, 1},
                                 {3, 0}}));
  EXPECT_EQ(Walk(4, 3, 2), (Path{{0, 2},
                                 {0, 1},
                                 {1, 2},
                                 {2, 2},
                                 {1, 1},
                                 {0, 0},
                                 {1, 0},
                                 {2, 1},
                                 {3, 2},
                                 {3, 1},
                                 {2, 0},
                                 {3, 0}}));
  EXPECT_EQ(Walk(4, 3, 3), (Path{{0, 0},
                                 {0, 1},
                                 {1, 0},
                                 {2, 0},
                                 {1, 1},
                                 {0, 2},
                                 {1, 2},
                                 {2, 1},
                                 {3, 0},
                                 {3, 1},
                                 {2, 2},
                                 {3, 2}}));
  EXPECT_TRUE(Walk(4, 3, 4).empty());
}

// Every path visits each element once and moves only to a neighbouring pixel (no jumps),
// for odd and even sizes and single lines.
TEST_F(ScanTest, EveryPathVisitsEachElementOnceWithoutJumps) {
  for (auto [nx, ny] : kShapes) {
    for (ScanOrder type = 0; type < 4; ++type) {
      const Path p = Walk(nx, ny, type);
      ASSERT_EQ(int(p.size()), nx * ny) << nx << "x" << ny << " type " << type;
      std::vector<int> seen(size_t(nx * ny), 0);
      for (auto [c, r] : p) {
        ASSERT_TRUE(c >= 0 && c < nx && r >= 0 && r < ny);
        ++seen[size_t(r * nx + c)];
      }
      for (int s : seen) EXPECT_EQ(s, 1) << nx << "x" << ny << " type " << type;
      for (size_t k = 1; k < p.size(); ++k) {
        EXPECT_LE(std::abs(p[k].first - p[k - 1].first), 1) << nx << "x" << ny << " " << type;
        EXPECT_LE(std::abs(p[k].second - p[k - 1].second), 1) << nx << "x" << ny << " " << type;
      }
    }
  }
}

TEST_F(ScanTest, GatherScatterAndAddRoundTrip) {
  for (auto [nx, ny] : kShapes) {
    for (ScanOrder type = 0; type < 4; ++type) {
      const matrix plane = Positions(nx, ny);
      matrix seq;
      seq.gatherscan(plane, type);
      ASSERT_EQ(seq.nx, nx * ny);
      ASSERT_EQ(seq.ny, 1);
      const Path p = Walk(nx, ny, type);
      for (size_t k = 0; k < p.size(); ++k) {
        EXPECT_EQ(seq.x[k], plane.z[p[k].second][p[k].first]);
      }
      matrix back(nx, ny);
      back.zero();
      seq.scatterscan(back, type);
      EXPECT_EQ(std::vector<float>(back.x, back.x + back.n),
                std::vector<float>(plane.x, plane.x + plane.n));
      seq.addscan(back, type);
      for (int k = 0; k < plane.n; ++k) EXPECT_EQ(back.x[k], 2 * plane.x[k]);

      cvector<Triple> triples;
      matrix p1(plane), p2(plane);
      p1.mulscalar(2);
      p2.mulscalar(3);
      triples.gatherscan(plane, p1, p2, type);
      ASSERT_EQ(triples.n, nx * ny);
      EXPECT_EQ(triples[0].y, 2 * triples[0].x);
      matrix q0(nx, ny), q1(nx, ny), q2(nx, ny);
      q0.zero();
      q1.zero();
      q2.zero();
      triples.scatterscan(q0, q1, q2, type);
      triples.addscan(q0, q1, q2, type);
      for (int k = 0; k < plane.n; ++k) {
        ASSERT_EQ(q0.x[k], 2 * plane.x[k]);
        ASSERT_EQ(q2.x[k], 2 * p2.x[k]);
      }
    }
  }
}

// Lines (rows, columns, diagonals) start along the path where the walk reaches them; the
// gathers and scatters that run blocks of lines side by side give the walk's order at any
// thread count, on a plane large enough to make several blocks.
TEST_F(ScanTest, LinesStartWhereTheWalkReachesThemAndBlocksKeepTheOrder) {
  for (auto [nx, ny] : kShapes) {
    for (ScanOrder type = 0; type < 4; ++type) {
      const Path p = Walk(nx, ny, type);
      int64_t line = 0;
      for (size_t k = 0; k < p.size(); ++k) {
        const auto [c, r] = p[k];
        // Path 2 reads row r as row ny - 1 - r.
        const int64_t of = type == kScanRows      ? r
                           : type == kScanColumns ? c
                                                  : int64_t(c) + (type == 2 ? ny - 1 - r : r);
        if (of != line) continue;
        EXPECT_EQ(ScanLineStart(nx, ny, type, line), int64_t(k)) << nx << "x" << ny << " " << type;
        ++line;
      }
      EXPECT_EQ(line, ScanLines(nx, ny, type));
    }
  }
  const int nx = 700, ny = 523;
  matrix plane(nx, ny);
  for (int k = 0; k < plane.n; ++k) plane.x[k] = float(k);
  for (ScanOrder type = 0; type < 4; ++type) {
    const Path p = Walk(nx, ny, type);
    for (int threads : {1, 3, 8}) {
      SetParallelThreads(threads);
      matrix seq, back(nx, ny);
      seq.gatherscan(plane, type);
      for (size_t k = 0; k < p.size(); ++k) {
        ASSERT_EQ(seq.x[k], plane.z[p[k].second][p[k].first]) << type << " " << threads << " " << k;
      }
      back.zero();
      seq.addscan(back, type);
      ASSERT_EQ(std::vector<float>(back.x, back.x + back.n),
                std::vector<float>(plane.x, plane.x + plane.n));
      cvector<Triple> triples;
      triples.gatherscan(plane, plane, back, type);
      matrix q(nx, ny);
      q.zero();
      triples.scatterscan(q, back, back, type);
      ASSERT_EQ(std::vector<float>(q.x, q.x + q.n), std::vector<float>(plane.x, plane.x + plane.n));
    }
  }
  SetParallelThreads(0);
}

TEST_F(ScanTest, UnknownTypeChangesNothing) {
  matrix plane = Positions(3, 2);
  matrix seq(4, 1);
  seq.fill(9);
  seq.gatherscan(plane, 4);
  EXPECT_EQ(seq.nx, 4);
  EXPECT_EQ(seq.x[0], 9.0f);
  seq.scatterscan(plane, 4);
  seq.addscan(plane, 7);
  EXPECT_EQ(plane.x[0], 0.0f);
  EXPECT_EQ(plane.x[5], 102.0f);
}

TEST_F(ScanTest, TooManyTriplesAlongRowsAreReportedOnce) {
  matrix p0(3, 2), p1(3, 2), p2(3, 2);
  cvector<Triple> t(8);
  for (int k = 0; k < 8; ++k) t[k] = {float(k), 0, 0};
  ui.ExpectMessage("0, 2");  // the serpentine would go on at column 0 of row 2
  t.scatterscan(p0, p1, p2, kScanRows);
  EXPECT_EQ(p0.z[1][0], 5.0f);  // the last position inside the planes
  // Other paths simply stop at the end of the planes.
  t.scatterscan(p0, p1, p2, kScanColumns);
  EXPECT_EQ(p0.z[1][2], 5.0f);
}
