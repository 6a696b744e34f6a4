#include <cmath>
#include <utility>
#include <vector>

#include "numeric/border.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/progress.h"
#include "support/zep_test.h"
#include "test_planes.h"

using MbsTest = ZepTest;

namespace {

matrix Enlarge(const matrix& source, int c) {
  cvector<uint8_t> classes;
  source.mbsclassify(classes);
  matrix coefficients = source;
  coefficients.bsplineprefilter();
  matrix out;
  return out.mbsfill(coefficients, classes, c).boxblur(c, 3);
}

// The class table read literally: the corner value of block pixel (w, v).
float TableCorner(int cls, int w, int v, int c, float tl, float tr, float bl, float br) {
  const int e = c / 2;
  const double h = c / 2.0;
  switch (cls) {
    case 0:
      if (w <= e) return v > e ? tr : tl;
      return v > e ? br : bl;
    case 1:
      if (v < h) return w - v > h ? bl : tl;
      return v - w > h ? tr : br;
    case 2:
      if (w < h) return v - w > h ? tr : tl;
      return w - v > h ? bl : br;
    case 3:
      if (v < h) return w + v > h ? bl : tl;
      return w + v > 3 * h ? br : tr;
    default:
      if (w < h) return w + v > h ? tr : tl;
      return w + v > 3 * h ? br : bl;
  }
}

}  // namespace

TEST_F(MbsTest, ConstantsStayConstant) {
  // Short lines too: their initial sums fold the line as often as they need.
  for (auto [w, h] : {std::pair{12, 9}, std::pair{1, 6}, std::pair{3, 3}, std::pair{5, 2}}) {
    matrix source(w, h);
    source.fill(100.0f);
    for (int c : {3, 5}) {
      StartProgress(1000);
      const matrix out = Enlarge(source, c);
      ASSERT_EQ(out.nx, c * w);
      ASSERT_EQ(out.ny, c * h);
      for (int k = 0; k < out.n; ++k) ASSERT_NEAR(out.x[k], 100.0f, 1e-3) << w << " " << c;
    }
  }
}

TEST_F(MbsTest, BlocksFollowTheClassTable) {
  // A row of 21 cells, each with four corners of its own and the classes in every order
  // (more than two runs of eight cells, and a few over); the bands are written first, so
  // every block pixel shows the corner its class gives.
  constexpr int kCells = 21;
  matrix coefficients(kCells + 1, 2);
  for (int l = 0; l <= kCells; ++l) {
    coefficients.z[0][l] = float(1 + l);
    coefficients.z[1][l] = float(100 + l);
  }
  cvector<uint8_t> classes(int64_t(kCells + 1) * 2);
  for (int l = 0; l < kCells; ++l) classes.x[l] = uint8_t((l + (l / 5) * 2 + 1) % 5);
  ASSERT_EQ(classes.x[0], 1);
  for (int c : {3, 5, 7}) {
    matrix out;
    out.mbsfill(coefficients, classes, c);
    const int e = c / 2;
    for (int l = 0; l < kCells; ++l) {
      const float tl = coefficients.z[0][l], tr = coefficients.z[0][l + 1];
      const float bl = coefficients.z[1][l], br = coefficients.z[1][l + 1];
      for (int w = 0; w < c; ++w) {
        for (int v = 0; v < c; ++v) {
          ASSERT_EQ(out.z[e + w][e + c * l + v], TableCorner(classes.x[l], w, v, c, tl, tr, bl, br))
              << c << " cell " << l << " class " << int(classes.x[l]) << " at " << w << "," << v;
        }
      }
    }
    if (c == 3) {
      // Class 1 in the first cell.
      EXPECT_EQ(out.z[1 + 2][1 + 0], coefficients.z[1][0]);
      EXPECT_EQ(out.z[1 + 0][1 + 2], coefficients.z[0][1]);
    }
  }
}

TEST_F(MbsTest, ClassesFollowTheEdgeDirection) {
  // A step across the columns: horizontal gradient only and tied diagonals, class 1 + 2.
  // Its transpose: vertical gradient only, 1 + 2 + 1. A step along the main diagonal: the
  // anti-diagonal gradient wins and the axial ones tie, 1 + 1.
  matrix cols(8, 8), rows(8, 8), diag(8, 8);
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      cols.z[r][c] = c < 4 ? 0.0f : 50.0f;
      rows.z[r][c] = r < 4 ? 0.0f : 50.0f;
      diag.z[r][c] = c > r ? 50.0f : 0.0f;
    }
  }
  cvector<uint8_t> classes;
  cols.mbsclassify(classes);
  ASSERT_EQ(classes.n, 64);
  EXPECT_EQ(classes.x[3 * 7 + 3], 3);
  rows.mbsclassify(classes);
  EXPECT_EQ(classes.x[3 * 7 + 3], 4);
  diag.mbsclassify(classes);
  EXPECT_EQ(classes.x[3 * 7 + 3], 2);
  for (int k = 49; k < 64; ++k) EXPECT_EQ(classes.x[k], 0);
}

TEST_F(MbsTest, WidthOneFillsOnlyTheBands) {
  const matrix source = Noise(1, 4, 3);
  cvector<uint8_t> classes;
  source.mbsclassify(classes);
  matrix out;
  StartProgress(100);
  out.mbsfill(source, classes, 3);
  ASSERT_EQ(out.nx, 3);
  ASSERT_EQ(out.ny, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 3; ++x) ASSERT_EQ(out.z[y][x], source.z[y / 3][0]);
  }
}

TEST_F(MbsTest, BoxBlurIsAMirroredMovingAverageAndSkipsSmallPlanes) {
  const matrix source = Noise(9, 7, 4);
  matrix out = source;
  StartProgress(100);
  out.boxblur(5, 1);
  matrix rows(9, 7), expected(9, 7);
  for (int r = 0; r < 7; ++r) {
    for (int c = 0; c < 9; ++c) {
      double s = 0;
      for (int k = -2; k <= 2; ++k) s += source.z[r][ReflectWhole(c + k, 9)];
      rows.z[r][c] = float(s / 5);
    }
  }
  for (int r = 0; r < 7; ++r) {
    for (int c = 0; c < 9; ++c) {
      double s = 0;
      for (int k = -2; k <= 2; ++k) s += rows.z[ReflectWhole(r + k, 7)][c];
      ASSERT_NEAR(out.z[r][c], s / 5, 1e-6) << r << " " << c;
    }
  }
  for (auto [w, h] : {std::pair{4, 2}, std::pair{2, 9}}) {
    matrix small = Noise(w, h, 5);
    const std::vector<float> before = Values(small);
    small.boxblur(3, 3);
    EXPECT_EQ(Values(small), before);
  }
}

TEST_F(MbsTest, PrefilterInvertsTheCubicBSpline) {
  const matrix source = Noise(30, 25, 6);
  matrix coefficients = source;
  coefficients.bsplineprefilter();
  for (int r = 1; r < 24; ++r) {
    for (int c = 1; c < 29; ++c) {
      double s = 0;
      for (int dr = -1; dr <= 1; ++dr) {
        for (int dc = -1; dc <= 1; ++dc) {
          s += (dr == 0 ? 4 : 1) * (dc == 0 ? 4 : 1) * double(coefficients.z[r + dr][c + dc]);
        }
      }
      ASSERT_NEAR(s / 36, source.z[r][c], 1e-5) << r << " " << c;
    }
  }
}

TEST_F(MbsTest, FillAndBlurTickAndACancelThrows) {
  const matrix source = Noise(6, 5, 1);
  cvector<uint8_t> classes;
  source.mbsclassify(classes);
  StartProgress(1000);
  const int before = Progress().count;
  matrix out;
  out.mbsfill(source, classes, 3);
  EXPECT_EQ(Progress().count - before, 4);  // one per cell row
  out.boxblur(3, 2);
  EXPECT_EQ(Progress().count - before, 4 + 2 * (15 + 18));
  platform.CancelAtPoll(1);
  EXPECT_THROW(out.boxblur(3, 1), Cancelled);
  EXPECT_THROW(out.mbsfill(source, classes, 3), Cancelled);
}

TEST_F(MbsTest, BoxBlurMatchesRepeatedRunningSums) {
  // The moving averages as separate running sums in double, rows then columns per pass,
  // the ends mirrored on the end sample: the one-kernel form agrees within float rounding,
  // also on lines shorter than the kernel, where the mirror folds several times.
  auto reference = [](matrix m, int a, int passes) {
    const int half = a / 2;
    for (int p = 0; p < passes; ++p) {
      for (bool rows : {true, false}) {
        const int length = rows ? m.nx : m.ny, lines = rows ? m.ny : m.nx;
        for (int l = 0; l < lines; ++l) {
          auto at = [&](int k) -> float& { return rows ? m.z[l][k] : m.z[k][l]; };
          std::vector<float> in(static_cast<size_t>(length));
          for (int k = 0; k < length; ++k) in[size_t(k)] = at(k);
          double sum = 0;
          for (int k = -half; k <= half; ++k) sum += in[size_t(ReflectWhole(k, length))];
          for (int k = 0; k < length; ++k) {
            at(k) = float(sum / a);
            sum += in[size_t(ReflectWhole(k + half + 1, length))];
            sum -= in[size_t(ReflectWhole(k - half, length))];
          }
        }
      }
    }
    return m;
  };
  struct Case {
    int w, h, a, passes;
  };
  for (const Case& t : {Case{40, 37, 3, 3}, Case{300, 7, 5, 3}, Case{9, 11, 7, 3},
                        Case{33, 5, 4, 2}, Case{70, 66, 9, 1}}) {
    matrix m = Noise(t.w, t.h, uint32_t(t.w * 31 + t.a));
    for (int k = 0; k < m.n; ++k) m.x[k] = 128.0f + 100.0f * m.x[k];
    const matrix expected = reference(m, t.a, t.passes);
    StartProgress(100000);
    m.boxblur(t.a, t.passes);
    for (int k = 0; k < m.n; ++k) {
      ASSERT_NEAR(m.x[k], expected.x[k], 1e-4 * std::fabs(expected.x[k]))
          << t.w << "x" << t.h << " a " << t.a << " at " << k;
    }
  }
}

// The classes come from smoothed gradients computed band by band, row by row; they must be
// those of whole gradient planes smoothed by the plane means, across band seams and on
// planes too small for a 3 x 3 mean.
TEST_F(MbsTest, ClassesEqualThoseOfWholeSmoothedGradientPlanes) {
  for (auto [w, h] : {std::pair{2, 2}, std::pair{3, 2}, std::pair{2, 5}, std::pair{4, 3},
                      std::pair{150, 140}, std::pair{67, 200}}) {
    const matrix source = Noise(w, h, unsigned(w * 13 + h));
    const int cw = w - 1, ch = h - 1;
    matrix gh(cw, ch), gv(cw, ch), gd(cw, ch), ga(cw, ch), across;
    for (int k = 0; k < ch; ++k) {
      for (int l = 0; l < cw; ++l) {
        const float tl = source.z[k][l], tr = source.z[k][l + 1], bl = source.z[k + 1][l],
                    br = source.z[k + 1][l + 1];
        gh.z[k][l] = std::fabs((tr - tl) + (br - bl)) * 0.5f;
        gv.z[k][l] = std::fabs((bl - tl) + (br - tr)) * 0.5f;
        gd.z[k][l] = std::fabs(br - tl) * 0.7071f;
        ga.z[k][l] = std::fabs(tr - bl) * 0.7071f;
      }
    }
    for (matrix* g : {&gh, &gv, &gd, &ga}) g->smooth3x(across.smooth3y(*g));
    cvector<uint8_t> classes;
    source.mbsclassify(classes);
    for (int k = 0; k < ch; ++k) {
      for (int l = 0; l < cw; ++l) {
        const int expected =
            1 + (gd.z[k][l] >= ga.z[k][l] ? 2 : 0) + (gh.z[k][l] <= gv.z[k][l] ? 1 : 0);
        ASSERT_EQ(classes.x[k * cw + l], expected) << w << "x" << h << " " << l << "," << k;
      }
    }
  }
}
