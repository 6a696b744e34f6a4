#include "numeric/seam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrixarray.h"
#include "support/adjoint.h"
#include "test_planes.h"

namespace {
std::vector<int> Row(const SeamIndexMap& m, int i, int length) {
  return std::vector<int>(m.line(i), m.line(i) + length);
}

// The least summed energy of a connected top-to-bottom path, by trying every path.
double BruteForceVertical(const matrix& e) {
  double best = std::numeric_limits<double>::infinity();
  std::function<void(int, int, double)> walk = [&](int i, int j, double sum) {
    sum += e.at(j, i);
    if (i == e.ny - 1) {
      best = std::min(best, sum);
      return;
    }
    for (int d = -1; d <= 1; ++d) {
      if (j + d >= 0 && j + d < e.nx) walk(i + 1, j + d, sum);
    }
  };
  for (int j = 0; j < e.nx; ++j) walk(0, j, 0.0);
  return best;
}

// The energies of a plane and its index map, a seam taken out of both as the carver does.
struct Carving {
  explicit Carving(const matrix& e) : w(e.nx), h(e.ny) {
    energy.assign(e);
    map.identity(w, h);
  }
  const cvector<int32_t>& vertical() {
    energy.verticalseam(seam, w, h);
    take(true);
    return seam;
  }
  const cvector<int32_t>& horizontal() {
    energy.horizontalseam(seam, w, h);
    take(false);
    return seam;
  }
  // Takes out the seam last found.
  void take(bool vertical) {
    if (vertical) {
      energy.removevertical(seam, w, h);
      map.removevertical(seam, w, h);
    } else {
      energy.removehorizontal(seam, w, h);
      map.removehorizontal(seam, w, h);
    }
  }
  SeamEnergyMap energy;
  SeamIndexMap map;
  cvector<int32_t> seam;
  int w, h;
};

matrix Transposed(const matrix& m) {
  matrix t(m.ny, m.nx);
  for (int i = 0; i < m.ny; ++i) {
    for (int j = 0; j < m.nx; ++j) t.at(i, j) = m.at(j, i);
  }
  return t;
}
}  // namespace

TEST(SeamSearch, ConstantEnergyTakesColumnZeroAgainAndAgain) {
  matrix e(6, 4);
  e.fill(1.0f);
  Carving c(e);
  for (int k = 0; k < 3; ++k) {
    const cvector<int32_t>& seam = c.vertical();
    for (int i = 0; i < c.h; ++i) EXPECT_EQ(seam[i], 0) << "seam " << k << " row " << i;
  }
  EXPECT_EQ(c.w, 3);
  for (int i = 0; i < c.h; ++i)
    EXPECT_EQ(Row(c.map, i, c.w), (std::vector<int>{6 * i + 3, 6 * i + 4, 6 * i + 5}));
  // The horizontal search alike takes row 0 of every column.
  const cvector<int32_t>& seam = c.horizontal();
  for (int j = 0; j < c.w; ++j) EXPECT_EQ(seam[j], 0);
}

TEST(SeamSearch, OneColumnAndOneRow) {
  const matrix e = Noise(1, 5, 3);
  Carving c(e);
  cvector<int32_t> seam;
  c.energy.verticalseam(seam, 1, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(seam[i], 0);
  // Across a single column the horizontal seam is the least element.
  c.horizontal();
  const int least = int(std::min_element(e.x, e.x + 5) - e.x);
  EXPECT_EQ(c.seam[0], least);
  EXPECT_EQ(c.h, 4);
  for (int i = 0, k = 0; i < 4; ++i, ++k) {
    if (k == least) ++k;
    EXPECT_EQ(c.map.line(i)[0], k);
    EXPECT_EQ(c.energy.line(i)[0], e.x[k]);
  }
}

// The seam is a connected path whose energy is the least of all paths; the horizontal
// search is the vertical one on the transposed plane, ties included.
TEST(SeamSearch, LeastPathAgainstBruteForce) {
  const int sizes[][2] = {{5, 4}, {3, 6}, {7, 3}, {2, 2}};
  for (const auto& s : sizes) {
    SCOPED_TRACE(std::to_string(s[0]) + "x" + std::to_string(s[1]));
    matrix e = Noise(s[0], s[1], uint32_t(s[0] * 31 + s[1]));
    // Coarse values make ties, which the two searches must break alike.
    for (int k = 0; k < e.n; ++k) e.x[k] = std::round(e.x[k] * 2.0f);
    SeamEnergyMap energy;
    cvector<int32_t> seam;
    energy.assign(e).verticalseam(seam, e.nx, e.ny);
    double sum = 0.0;
    for (int i = 0; i < e.ny; ++i) {
      ASSERT_TRUE(seam[i] >= 0 && seam[i] < e.nx);
      if (i > 0) {
        EXPECT_LE(std::abs(seam[i] - seam[i - 1]), 1);
      }
      sum += e.at(seam[i], i);
    }
    EXPECT_DOUBLE_EQ(sum, BruteForceVertical(e));

    const matrix t = Transposed(e);
    cvector<int32_t> across;
    energy.assign(t).horizontalseam(across, t.nx, t.ny);
    EXPECT_EQ(std::vector<int>(across.x, across.x + across.n),
              std::vector<int>(seam.x, seam.x + seam.n));
  }
}

// The least-energy seam by a plain table of every cumulative energy: at each pixel the
// least of straight, lower and higher predecessors in that order of preference, the bottom
// row's first least, traced back. The search keeps two lines and goes four positions at a
// time where the processor can; it must pick the very same seam at every width.
std::vector<int> ReferenceVerticalSeam(const matrix& e) {
  const int w = e.nx, h = e.ny;
  std::vector<double> m(size_t(w) * size_t(h));
  std::vector<int> from(size_t(w) * size_t(h), 0);
  for (int j = 0; j < w; ++j) m[size_t(j)] = e.at(j, 0);
  for (int i = 1; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      int best = j;
      for (int d : {-1, 1}) {
        const int k = j + d;
        if (k >= 0 && k < w && m[size_t(i - 1) * w + k] < m[size_t(i - 1) * w + best]) best = k;
      }
      m[size_t(i) * w + j] = double(e.at(j, i)) + m[size_t(i - 1) * w + best];
      from[size_t(i) * w + j] = best;
    }
  }
  std::vector<int> seam(static_cast<size_t>(h));
  const double* last = &m[size_t(h - 1) * w];
  seam[size_t(h - 1)] = int(std::min_element(last, last + w) - last);
  for (int i = h - 1; i > 0; --i) seam[size_t(i - 1)] = from[size_t(i) * w + seam[size_t(i)]];
  return seam;
}

TEST(SeamSearch, EveryWidthPicksTheTableSeam) {
  for (int w = 1; w <= 41; ++w) {
    for (float scale : {2.0f, 1e6f}) {
      SCOPED_TRACE(std::to_string(w) + " wide, scale " + std::to_string(scale));
      matrix e = Noise(w, 13, uint32_t(w * 7 + 3));
      // Coarse values make ties on every line; large ones make sums beyond a float.
      for (int k = 0; k < e.n; ++k) e.x[k] = std::round(e.x[k] * 3.0f) * scale;
      SeamEnergyMap energy;
      cvector<int32_t> seam;
      energy.assign(e).verticalseam(seam, e.nx, e.ny);
      EXPECT_EQ(std::vector<int>(seam.x, seam.x + seam.n), ReferenceVerticalSeam(e));
    }
  }
  // As seams go, vertical and horizontal ones mixed, the energies move with the map: they
  // are the source's energies the map points at, and the search finds the seam of that
  // gathered plane (across, of its transpose) at every size the removals pass through.
  matrix e = Noise(41, 13, 77);
  for (int k = 0; k < e.n; ++k) e.x[k] = std::round(e.x[k] * 5.0f);
  Carving c(e);
  for (int k = 0; c.w > 1 && c.h > 1; ++k) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    matrix gathered;
    gathered.gatherindex(e, c.map, c.w, c.h);
    for (int i = 0; i < c.h; ++i) {
      ASSERT_EQ(std::vector<float>(c.energy.line(i), c.energy.line(i) + c.w),
                std::vector<float>(gathered.z[i], gathered.z[i] + c.w));
    }
    const bool across = k % 3 == 2;
    const cvector<int32_t>& seam = across ? c.horizontal() : c.vertical();
    ASSERT_EQ(std::vector<int>(seam.x, seam.x + seam.n),
              ReferenceVerticalSeam(across ? Transposed(gathered) : gathered));
  }
}

// Removing seams keeps every row a strictly increasing run of its own source row (and
// every column of its own source column), whatever the energy.
TEST(SeamIndexMap, RemovalsKeepIncreasingSubsequences) {
  const int w0 = 9, h0 = 7;
  Carving c(Noise(w0, h0, 11));
  const SeamIndexMap& map = c.map;
  const int &w = c.w, &h = c.h;
  for (int k = 0; k < 4; ++k) c.vertical();
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) {
      EXPECT_EQ(map.line(i)[j] / w0, i);
      if (j > 0) {
        EXPECT_LT(map.line(i)[j - 1], map.line(i)[j]);
      }
    }
  }
  for (int k = 0; k < 3; ++k) c.horizontal();
  EXPECT_EQ(w, 5);
  EXPECT_EQ(h, 4);
  // Mixed removals: rows stay increasing, and each column keeps one source column.
  for (int j = 0; j < w; ++j) {
    for (int i = 0; i < h; ++i) {
      if (j > 0) {
        EXPECT_LT(map.line(i)[j - 1] % w0, map.line(i)[j] % w0);
      }
      if (i > 0) {
        EXPECT_LT(map.line(i - 1)[j], map.line(i)[j]);
        EXPECT_LT(map.line(i - 1)[j] / w0, map.line(i)[j] / w0);
      }
    }
  }
}

// Enlargement maps: h seams recorded from a source of w0 columns (rows), a added.
TEST(SeamIndexMap, WidenAndHeightenRepeatTheFirstSeams) {
  struct Case {
    bool vertical;
    int w0, h0, a;
    int seams;      // recorded: min(a, ceil(size / 2))
    int twiceUpTo;  // seams 1..twiceUpTo are inserted twice
  };
  const Case cases[] = {
      {true, 10, 3, 8, 5, 3},   // more than half: 5 seams, 1-3 twice
      {true, 10, 3, 4, 4, 0},   // up to half: each once
      {false, 4, 10, 8, 5, 3},  // the same along columns
      {false, 3, 7, 2, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.vertical ? "widen " : "heighten ") + std::to_string(c.a));
    Carving carving(Noise(c.w0, c.h0, uint32_t(c.a + c.w0)));
    SeamIndexMap& map = carving.map;
    SeamOrderMap order;
    order.dim(c.w0, c.h0);
    order.zero();
    for (int k = 1; k <= c.seams; ++k) {
      if (c.vertical) {
        carving.energy.verticalseam(carving.seam, carving.w, carving.h);
        order.markvertical(map, carving.seam, carving.h, k);
      } else {
        carving.energy.horizontalseam(carving.seam, carving.w, carving.h);
        order.markhorizontal(map, carving.seam, carving.w, k);
      }
      carving.take(c.vertical);
    }
    // Every recorded seam went through each line once.
    std::vector<int> marks(size_t(c.w0) * c.h0);
    for (int i = 0; i < c.h0; ++i) {
      for (int j = 0; j < c.w0; ++j) marks[size_t(i) * c.w0 + j] = order[i].x[j];
    }
    if (c.vertical) {
      map.widen(order, c.a);
    } else {
      map.heighten(order, c.a);
    }
    EXPECT_EQ(order.n, 0) << "the order map is consumed";
    const int lines = c.vertical ? c.h0 : c.w0;
    const int length = (c.vertical ? c.w0 : c.h0) + c.a;
    ASSERT_EQ(map.lines(), c.vertical ? c.h0 : c.h0 + c.a);
    for (int line = 0; line < lines; ++line) {
      std::vector<int> entries;
      for (int k = 0; k < length; ++k) {
        entries.push_back(c.vertical ? map.line(line)[k] : map.line(k)[line]);
      }
      ASSERT_EQ(int(entries.size()), length);
      EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
      std::map<int, int> count;
      for (int p : entries) ++count[p];
      const int sourceLength = c.vertical ? c.w0 : c.h0;
      EXPECT_EQ(int(count.size()), sourceLength);
      for (int s = 0; s < sourceLength; ++s) {
        const int p = c.vertical ? line * c.w0 + s : s * c.w0 + line;
        const int k = std::abs(marks[size_t(p)]);
        const int expected = k == 0 ? 1 : (k <= c.twiceUpTo ? 3 : 2);
        EXPECT_EQ(count[p], expected) << "source " << p << " seam " << k;
      }
    }
  }
}

TEST(SeamGather, PlanesAndMasksThroughTheMap) {
  matrix m = Noise(4, 3, 5);
  const matrix before(m);
  SeamIndexMap map;
  map.identity(4, 3);
  cvector<int32_t> seam(3);
  seam[0] = 1, seam[1] = 2, seam[2] = 3;
  int w = 4, h = 3;
  map.removevertical(seam, w, h);
  m.gatherindex(m, map, w, h);  // the source may be the plane itself
  ASSERT_EQ(m.nx, 3);
  EXPECT_EQ(Values(m),
            (std::vector<float>{before.x[0], before.x[2], before.x[3], before.x[4], before.x[5],
                                before.x[7], before.x[8], before.x[9], before.x[10]}));
  bitmask b(4, 3);
  b.setbit(2, true);
  b.setbit(11, true);
  b.gatherindex(b, map, w, h);
  EXPECT_EQ(b.width, 3);
  std::vector<int> set;
  for (int k = 0; k < b.n; ++k) {
    if (b.getbit(k)) set.push_back(k);
  }
  EXPECT_EQ(set, (std::vector<int>{1}));  // bit 11 belonged to the removed pixel
  bitmask empty;
  empty.gatherindex(b, map, w, h);
  EXPECT_FALSE(empty.present());
}

// <D x, y> = <x, D^T y> with the reflected borders, on lines of one pixel too.
TEST(NeighbourDiffs, AdjointIdentityAtTheBorders) {
  for (bool diagonal : {false, true}) {
    for (PlaneSize size :
         {PlaneSize{1, 1}, PlaneSize{1, 5}, PlaneSize{6, 1}, PlaneSize{2, 2}, PlaneSize{7, 5}}) {
      SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second) +
                   (diagonal ? " diagonal" : " axis"));
      EXPECT_TRUE(CheckAdjoint(
          [&](const matrix& x) {
            matrixarray d;
            x.neighbourdiffs(d, diagonal);
            return PlaneStack{d[0], d[1], d[2], d[3]};
          },
          [&](const PlaneStack& y) {
            matrixarray d(4);
            for (int k = 0; k < 4; ++k) d[k] = y[size_t(k)];
            matrix out(size.first, size.second);
            out.zero().neighbourdiffsadj(d, diagonal);
            return out;
          },
          size, std::vector<PlaneSize>(4, size)));
    }
  }
}

TEST(NeighbourDiffs, AxisAndDiagonalNeighbours) {
  // 3 x 2, values 10 x row + column.
  matrix m(3, 2);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 3; ++j) m.at(j, i) = float(10 * i + j);
  }
  matrixarray d;
  m.neighbourdiffs(d, false);
  // Pixel (2, 1): right reflects to column 1, below reflects to row 0.
  EXPECT_EQ(d[0].at(2, 1), -1.0f);
  EXPECT_EQ(d[1].at(2, 1), -10.0f);
  EXPECT_EQ(d[2].at(2, 1), -1.0f);
  EXPECT_EQ(d[3].at(2, 1), -10.0f);
  m.neighbourdiffs(d, true);
  // Pixel (0, 0): below-right (1, 1), above-right (1, 1 reflected), above-left (1, 1),
  // below-left (1, 1).
  for (int k = 0; k < 4; ++k) EXPECT_EQ(d[k].at(0, 0), 11.0f);
  EXPECT_EQ(d[0].at(1, 0), 11.0f);  // (2, 1)
  EXPECT_EQ(d[3].at(1, 0), 9.0f);   // (0, 1)
}

TEST(GradientCg, OwnDifferencesChangeNothing) {
  for (bool diagonal : {false, true}) {
    const matrix start = Noise(6, 5, diagonal ? 7u : 8u);
    matrixarray d;
    start.neighbourdiffs(d, diagonal);
    bitmask pins(6, 5);
    pins.setbit(3, true);
    matrix x(start);
    x.gradientcg(40, d, diagonal, &pins, 2.0f);
    EXPECT_EQ(Values(x), Values(start));
  }
}

// Targets of a reference plane with a few pixels held at its values: the rebuild finds the
// reference from a disturbed start; without pins it keeps the start's mean offset free.
TEST(GradientCg, RebuildsTheReferenceFromItsDifferences) {
  const matrix reference = Noise(8, 6, 21);
  for (bool diagonal : {false, true}) {
    SCOPED_TRACE(diagonal ? "diagonal" : "axis");
    matrixarray d;
    reference.neighbourdiffs(d, diagonal);
    matrix x(reference);
    const matrix disturbance = Noise(8, 6, 99);
    bitmask pins(8, 6);
    for (int k : {0, 14, 47}) pins.setbit(k, true);
    for (int k = 0; k < x.n; ++k) {
      if (!pins.getbit(k)) x.x[k] += 0.5f * disturbance.x[k];
    }
    x.gradientcg(400, d, diagonal, &pins, 1.0f);
    // The diagonal stencil joins only pixels of one colour of the checkerboard; each
    // colour has a pinned pixel here (0 and 14 differ in parity).
    for (int k = 0; k < x.n; ++k) EXPECT_NEAR(x.x[k], reference.x[k], 1e-3) << k;
  }
  // No iterations, no change.
  matrix y = Noise(3, 3, 4);
  const matrix kept(y);
  matrixarray d;
  reference.neighbourdiffs(d, false);
  y.gradientcg(0, d, false, nullptr, 0.0f);
  EXPECT_EQ(Values(y), Values(kept));
}
