// Tschumperle regularization of a colour image: the diffusion it adds, its recalculation
// interval, and the pixels and channels it touches.
#include <cmath>
#include <string>
#include <utility>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/test_planes.h"
#include "support/zep_test.h"

namespace {
using TschumperleTest = ZepTest;

struct Params {
  int iterations = 1;
  float sigma = 1, blurStep = 0.5f, edgeStep = 0.5f, blurParameter = 1, edgeParameter = 1;
  int mode = 1, interval = 1;
};

fpbuffer Regularized(const fpbuffer& in, const Params& p, bitmask* selection = nullptr) {
  fpbuffer f(in);
  if (in.mask.present()) f.mask = in.mask;
  f.tschumperle(p.iterations, p.sigma, p.blurStep, p.edgeStep, p.blurParameter, p.edgeParameter,
                p.mode, p.interval, selection);
  return f;
}

// Every channel its own noise of the given amplitude about the level.
fpbuffer Noisy(int w, int h, float amplitude, float level = 100,
               CSpaceCode code = cspace::kDefault) {
  fpbuffer f(w, h, code);
  for (int c = 0; c < f.channels; ++c) {
    const matrix noise = Noise(w, h, 11 + c);
    for (int k = 0; k < f.n; ++k) f.plane[c].x[k] = level + amplitude * noise.x[k];
  }
  return f;
}

std::string Bytes(const fpbuffer& f) {
  std::string b;
  for (int c = 0; c < f.channels; ++c)
    b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.n) * sizeof(float));
  return b;
}
}  // namespace

TEST_F(TschumperleTest, ConstantImagesAndZeroStepsChangeNothing) {
  fpbuffer flat(9, 8, cspace::kDefault);
  for (int c = 0; c < 3; ++c) flat.plane[c].fill(37.5f);
  const fpbuffer noisy = Noisy(9, 8, 30);
  bitmask some;
  some.dim(9, 8);
  for (int k = 0; k < 72; k += 5) some.setbit(k, true);
  for (int mode : {1, 2}) {
    for (bool masked : {false, true}) {
      SCOPED_TRACE(mode * 10 + masked);
      Params p;
      p.iterations = 3;
      p.mode = mode;
      bitmask selection = some;
      EXPECT_EQ(Bytes(Regularized(flat, p, masked ? &selection : nullptr)), Bytes(flat));
      p.blurStep = p.edgeStep = 0;
      EXPECT_EQ(Bytes(Regularized(noisy, p, masked ? &selection : nullptr)), Bytes(noisy));
    }
  }
}

TEST_F(TschumperleTest, OnAFlatPictureTheTensorIsIsotropic) {
  // With s near 0 both coefficients are 0.1: T = 0.1 I, and one iteration adds 0.1 times
  // the five-point Laplacian (mode 1) or its diagonal form (mode 2), neighbours reflected.
  const fpbuffer in = Noisy(10, 7, 1e-3f, 0);
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    Params p;
    p.blurStep = p.edgeStep = 0.1f;
    p.mode = mode;
    const fpbuffer out = Regularized(in, p);
    for (int c = 0; c < 3; ++c) {
      const matrix& q = in.plane[c];
      const auto at = [&q](int k, int j) {
        const auto fold = [](int i, int n) { return i < 0 ? -i : i >= n ? 2 * n - 2 - i : i; };
        return double(q.z[fold(j, q.ny)][fold(k, q.nx)]);
      };
      for (int j = 0; j < q.ny; ++j) {
        for (int k = 0; k < q.nx; ++k) {
          const double centre = at(k, j);
          const double laplacian =
              mode == 1
                  ? at(k - 1, j) + at(k + 1, j) + at(k, j - 1) + at(k, j + 1) - 4 * centre
                  : (at(k - 1, j - 1) + at(k + 1, j + 1) + at(k - 1, j + 1) + at(k + 1, j - 1)) /
                            2 -
                        2 * centre;
          const double added = double(out.plane[c].z[j][k]) - centre;
          EXPECT_NEAR(added, 0.1 * laplacian, 1e-4 * std::fabs(0.1 * laplacian) + 1e-11)
              << c << " " << k << "," << j;
        }
      }
    }
  }
}

TEST_F(TschumperleTest, ALinearRampBendsOnlyAtTheImageBorder) {
  fpbuffer ramp(12, 9, cspace::kDefault);
  for (int c = 0; c < 3; ++c)
    for (int j = 0; j < 9; ++j)
      for (int k = 0; k < 12; ++k) ramp.plane[c].z[j][k] = float(2 * k + 3 * j + 10 * c);
  for (int mode : {1, 2}) {
    SCOPED_TRACE(mode);
    Params p;
    p.mode = mode;
    const fpbuffer out = Regularized(ramp, p);
    int sides[4] = {};  // left, right, bottom, top rows and columns that changed
    for (int j = 0; j < 9; ++j) {
      for (int k = 0; k < 12; ++k) {
        const bool same = out.plane[0].z[j][k] == ramp.plane[0].z[j][k];
        if (k > 0 && k < 11 && j > 0 && j < 8) {
          EXPECT_TRUE(same) << k << "," << j;
        }
        sides[0] += k == 0 && !same;
        sides[1] += k == 11 && !same;
        sides[2] += j == 0 && !same;
        sides[3] += j == 8 && !same;
      }
    }
    for (int side : sides) EXPECT_GT(side, 0);
  }
}

TEST_F(TschumperleTest, TheTensorIsRebuiltEveryIntervalOnly) {
  const fpbuffer in = Noisy(14, 11, 40);
  Params p;
  p.iterations = 3;
  const auto with = [&](int interval) {
    Params q = p;
    q.interval = interval;
    return Bytes(Regularized(in, q));
  };
  // Built once at the first iteration whenever the interval reaches past the last one.
  EXPECT_EQ(with(3), with(100));
  EXPECT_NE(with(1), with(100));
  EXPECT_NE(with(2), with(100));
  // An interval below 1, from an edited file, counts as 1.
  EXPECT_EQ(with(0), with(1));
  EXPECT_EQ(with(-4), with(1));
}

TEST_F(TschumperleTest, ASelectionChangesItsPixelsSteeredByTheirNeighbours) {
  // 12 x 10 under sigma 1 (margin 5): the working rectangle is the whole image, so one
  // iteration gives the selected pixels exactly what the whole-image run gives them. With
  // sigma 0 the rectangle of a selection in the corner sees no smoothing across its edge,
  // so there too they agree with the whole image.
  // A wide band across 300 x 70 is updated in more than one block of rows.
  struct Case {
    const char* name;
    int x0, y0, x1, y1;  // the selected box, inclusive
    float sigma;
    int w = 12, h = 10;
  };
  for (const Case c :
       {Case{"middle", 5, 4, 6, 5, 1}, Case{"corner", 0, 0, 1, 2, 0},
        Case{"far corner", 9, 8, 11, 9, 0}, Case{"wide band", 20, 10, 279, 60, 0, 300, 70}}) {
    SCOPED_TRACE(c.name);
    const fpbuffer in = Noisy(c.w, c.h, 40);
    for (int mode : {1, 2}) {
      Params p;
      p.sigma = c.sigma;
      p.mode = mode;
      const fpbuffer whole = Regularized(in, p);
      bitmask selection;
      selection.dim(c.w, c.h);
      for (int y = c.y0; y <= c.y1; ++y)
        for (int x = c.x0; x <= c.x1; ++x) selection.set(x, y, true);
      const fpbuffer part = Regularized(in, p, &selection);
      for (int ch = 0; ch < 3; ++ch) {
        for (int k = 0; k < in.n; ++k) {
          const float want = selection.getbit(k) ? whole.plane[ch].x[k] : in.plane[ch].x[k];
          EXPECT_EQ(part.plane[ch].x[k], want) << ch << " " << k;
        }
      }
    }
  }
}

TEST_F(TschumperleTest, TheImageMaskAlwaysAppliesAndOnlyTheColourChannelsChange) {
  // Four channels, the second and the fourth hidden: channels 0-2 change, never 3.
  const fpbuffer in = Noisy(10, 8, 40, 100, cspace::kCMYK | 0x5);
  ASSERT_EQ(in.channels, 4);
  const fpbuffer out = Regularized(in, Params{});
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(Values(out.plane[c]) == Values(in.plane[c]), c == 3) << c;
  }
  // The image mask is taken without any Cond, and ANDed into the selection in place.
  fpbuffer masked(in);
  masked.mask.dim(10, 8);
  for (int x = 2; x < 8; ++x) masked.mask.set(x, 4, true);
  bitmask selection;
  selection.dim(10, 8);
  for (int x = 0; x < 5; ++x) selection.set(x, 4, true);
  const fpbuffer result = Regularized(masked, Params{}, &selection);
  for (int k = 0; k < in.n; ++k) {
    const bool both = k / 10 == 4 && k % 10 >= 2 && k % 10 < 5;
    EXPECT_EQ(selection.getbit(k), both) << k;
    EXPECT_EQ(result.plane[0].x[k] != in.plane[0].x[k], both) << k;
  }
}

TEST_F(TschumperleTest, AStraightEdgeAtAnyOrientationBarelyMoves) {
  // The diffusion runs along the edge, where a straight edge does not change, whatever its
  // direction: a cross term of the wrong sign would diffuse diagonal edges across in mode 1
  // (and axis edges in mode 2, whose frame is diagonal) and move them by 0.3 or more here.
  const int n = 31;
  for (int mode : {1, 2}) {
    for (int kind : {0, 1, 2}) {  // vertical, falling diagonal, rising diagonal
      SCOPED_TRACE(testing::Message() << "mode " << mode << " edge " << kind);
      fpbuffer f(n, n, cspace::kDefault);
      for (int c = 0; c < 3; ++c) {
        for (int y = 0; y < n; ++y) {
          for (int x = 0; x < n; ++x) {
            const int u = kind == 0 ? x - 15 : kind == 1 ? x - y : x + y - 30;
            f.plane[c].z[y][x] = 100.0f + 50.0f * std::tanh(float(u) / 2.0f);
          }
        }
      }
      Params p;
      p.mode = mode;
      const fpbuffer g = Regularized(f, p);
      for (int y = 5; y < n - 5; ++y) {
        for (int x = 5; x < n - 5; ++x) {
          ASSERT_LT(std::fabs(g.plane[0].z[y][x] - f.plane[0].z[y][x]), 0.15f) << x << "," << y;
        }
      }
    }
  }
}

namespace {
// One unblurred iteration (sigma 0) written pixel by pixel from the definition: the colour
// tensor of the three channels, its diffusion tensor through matrix::eig2x2, trace(T H).
fpbuffer ReferenceStep(const fpbuffer& in, const Params& p) {
  fpbuffer out(in);
  const auto at = [&](int c, int k, int j) -> double {
    const auto reflect = [](int i, int size) { return i < 0 ? 1 : (i >= size ? size - 2 : i); };
    return in.plane[c].z[reflect(j, in.height)][reflect(k, in.width)];
  };
  const bool axes = p.mode == 1;
  for (int j = 0; j < in.height; ++j) {
    for (int k = 0; k < in.width; ++k) {
      double sxx = 0, sxy = 0, syy = 0;
      for (int c = 0; c < 3; ++c) {
        const double a = axes ? at(c, k + 1, j) - at(c, k - 1, j)
                              : at(c, k + 1, j + 1) - at(c, k - 1, j - 1);
        const double b = axes ? at(c, k, j + 1) - at(c, k, j - 1)
                              : at(c, k - 1, j + 1) - at(c, k + 1, j - 1);
        sxx += a * a;
        sxy += a * b;
        syy += b * b;
      }
      const double scale = axes ? 1.0 / 12 : 1.0 / 24;
      matrix e(2, 2);
      e.x[0] = float(sxx * scale);
      e.x[1] = float(sxy * scale);
      e.x[3] = float(syy * scale);
      float smaller, larger;
      e.eig2x2(&smaller, &larger);
      const double s = double(larger) + smaller;
      const double ce = p.edgeStep / std::sqrt(p.edgeParameter + s);
      const double cb = p.blurStep / (p.blurParameter + s);
      const double ux = e.x[0], uy = e.x[1], wx = e.x[2], wy = e.x[3];
      const double txx = ce * ux * ux + cb * wx * wx, tyy = cb * wy * wy + ce * uy * uy;
      const double txy = 2 * (cb * wx * wy + ce * ux * uy);
      for (int c = 0; c < 3; ++c) {
        const double m = at(c, k, j);
        const double hxx = axes ? at(c, k + 1, j) + at(c, k - 1, j) - 2 * m
                                : (at(c, k - 1, j - 1) + at(c, k + 1, j + 1)) / 2 - m;
        const double hyy = axes ? at(c, k, j + 1) + at(c, k, j - 1) - 2 * m
                                : (at(c, k - 1, j + 1) + at(c, k + 1, j - 1)) / 2 - m;
        const double hxy = axes ? (at(c, k - 1, j - 1) + at(c, k + 1, j + 1) -
                                   at(c, k - 1, j + 1) - at(c, k + 1, j - 1)) / 4
                                : (at(c, k, j - 1) + at(c, k, j + 1) - at(c, k - 1, j) -
                                   at(c, k + 1, j)) / 2;
        out.plane[c].z[j][k] = float(m + (txx * hxx + txy * hxy + tyy * hyy));
      }
    }
  }
  return out;
}
}  // namespace

TEST_F(TschumperleTest, TheRowLoopsFollowThePixelDefinition) {
  // Widths with whole vectors and tails; 3 leaves a single inner column. 300 x 70 is updated
  // in several blocks of rows, each reading the old rows beside it.
  for (auto [w, h] : {std::pair{3, 7}, std::pair{21, 7}, std::pair{300, 70}}) {
    for (int mode : {1, 2}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " mode " << mode);
      const fpbuffer in = Noisy(w, h, 40);
      Params p;
      p.sigma = 0;
      p.mode = mode;
      const fpbuffer ours = Regularized(in, p), reference = ReferenceStep(in, p);
      for (int c = 0; c < 3; ++c)
        for (int k = 0; k < in.n; ++k)
          EXPECT_NEAR(ours.plane[c].x[k], reference.plane[c].x[k],
                      1e-5 * (1 + std::fabs(reference.plane[c].x[k])))
              << c << " " << k;
    }
  }
}
