// The shock filter's plane steps: the update and the increment with its diffusion terms.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/tensorrows.h"
#include "platform/parallel.h"
#include "support/zep_test.h"
#include "test_planes.h"

namespace {
using ShockTest = ZepTest;

matrix Plane(int w, int h, double (*f)(int k, int j)) {
  matrix m(w, h);
  for (int j = 0; j < h; ++j)
    for (int k = 0; k < w; ++k) m.z[j][k] = static_cast<float>(f(k, j));
  return m;
}

// A field of one vector everywhere.
matrix Uniform(int n, float vx, float vy) {
  matrix field(n, 2);
  for (int i = 0; i < n; ++i) {
    field.x[i] = vx;
    field.x[n + i] = vy;
  }
  return field;
}

// One shock update of the plane steered by its own structure tensor.
matrix Updated(const matrix& p, float edgeFactor, float step, const bitmask* mask,
               float sigma = 1) {
  matrix field, out(p);
  field.tensordirections(p, 1, sigma);
  out.shockupdate(p, field, edgeFactor, step, mask);
  return out;
}
}  // namespace

TEST_F(ShockTest, FlatPlanesAndLinearRampsKeepTheirValues) {
  const matrix flat = Plane(9, 7, [](int, int) { return 42.5; });
  // A ramp along a slant: every second difference is 0 inside.
  const matrix ramp = Plane(9, 7, [](int k, int j) { return 3.0 * k + 2.0 * j; });
  bitmask all;
  all.dim(9, 7);
  all.invert();
  for (float a : {0.0f, 0.1f, 5.0f}) {
    SCOPED_TRACE(a);
    EXPECT_EQ(Values(Updated(flat, a, 0.3f, nullptr)), Values(flat));
    EXPECT_EQ(Values(Updated(flat, a, 0.3f, &all)), Values(flat));
    const matrix r = Updated(ramp, a, 0.3f, nullptr);
    for (int j = 1; j < 6; ++j)
      for (int k = 1; k < 8; ++k) EXPECT_EQ(r.z[j][k], ramp.z[j][k]) << k << "," << j;
  }
}

TEST_F(ShockTest, ASoftEdgeSteepensPastItsLevels) {
  // 0 up to column 5, 1 from column 10, a linear ramp between.
  const matrix edge = Plane(16, 6, [](int k, int) { return std::clamp((k - 5) / 5.0, 0.0, 1.0); });
  const float b = 0.1f;
  const matrix hard = Updated(edge, 0, b, nullptr);
  for (int j = 0; j < 6; ++j) {
    // The knees move by b x |gradient| = 0.1 x 0.1 away from the ramp; nothing clamps.
    EXPECT_NEAR(hard.z[j][5], -0.01f, 1e-6f);
    EXPECT_NEAR(hard.z[j][10], 1.01f, 1e-6f);
    for (int k : {2, 13}) EXPECT_EQ(hard.z[j][k], edge.z[j][k]) << k;
  }
  // With an edge factor the move is smaller than b x |gradient| but has the same sign.
  const matrix soft = Updated(edge, 10, b, nullptr);
  EXPECT_LT(soft.z[3][5], 0.0f);
  EXPECT_GT(soft.z[3][5], -0.01f);
  EXPECT_GT(soft.z[3][10], 1.0f);
  EXPECT_LT(soft.z[3][10], 1.01f);
  // Repeated, the steepest step grows.
  matrix p = edge;
  for (int t = 0; t < 20; ++t) p = Updated(p, 0, b, nullptr);
  float steepest = 0;
  for (int k = 0; k < 15; ++k) steepest = std::max(steepest, p.z[3][k + 1] - p.z[3][k]);
  EXPECT_GT(steepest, 0.3f);
}

TEST_F(ShockTest, AStepNotAboveZeroChangesNothing) {
  const matrix p = Noise(11, 8, 3);
  for (float b : {0.0f, -0.5f, NAN}) EXPECT_EQ(Values(Updated(p, 0.1f, b, nullptr)), Values(p));
}

TEST_F(ShockTest, AMaskLimitsTheUpdateAndTakesTheWholeGradient) {
  const matrix p = Noise(12, 9, 5);
  matrix field;
  field.tensordirections(p, 1, 1);
  bitmask mask;
  mask.dim(12, 9);
  for (int k = 0; k < p.n; k += 3) mask.setbit(k, true);
  matrix masked(p);
  masked.shockupdate(p, field, 0.2f, 0.3f, &mask);
  // The increment of shockstep takes the whole gradient too: inside the mask both agree.
  matrix increment;
  increment.shockstep(p, field, 0.2f, 0.3f, 0, 0);
  const matrix free = Updated(p, 0.2f, 0.3f, nullptr);
  int differs = 0;
  for (int k = 0; k < p.n; ++k) {
    if (!mask.getbit(k)) {
      EXPECT_EQ(masked.x[k], p.x[k]) << k;
      continue;
    }
    EXPECT_NEAR(masked.x[k], p.x[k] + increment.x[k], 1e-6f) << k;
    differs += masked.x[k] != free.x[k];
  }
  // Without a mask the speed is the gradient's part along the field alone.
  EXPECT_GT(differs, 0);
}

TEST_F(ShockTest, TheIncrementsDiffusionTermsFollowTheirWeights) {
  // I = k^2: Ixx = 2 and Iyy = Ixy = 0, so with v = (1, 0) Ivv = 2 and Iww = 0 inside.
  const matrix square = Plane(8, 6, [](int k, int) { return double(k * k); });
  const matrix field = Uniform(square.n, 1, 0);
  struct Case {
    float along, across, inside;
  };
  for (const Case c : {Case{1, 1, 2}, Case{1, 0, 0}, Case{0, 1, 2}, Case{0, 0, 0}}) {
    SCOPED_TRACE(c.along);
    SCOPED_TRACE(c.across);
    matrix d;
    d.shockstep(square, field, 0.1f, 0, c.along, c.across);
    ASSERT_EQ(d.nx, 8);
    ASSERT_EQ(d.ny, 6);
    for (int j = 0; j < 6; ++j)
      for (int k = 1; k < 7; ++k) EXPECT_FLOAT_EQ(d.z[j][k], c.inside) << k << "," << j;
  }
  // No gain and no weights: all zero on any picture, whatever the edge factor.
  const matrix p = Noise(7, 5, 9);
  matrix fieldOfP, d;
  fieldOfP.tensordirections(p, 1, 1);
  d.shockstep(p, fieldOfP, 0.5f, 0, 0, 0);
  EXPECT_EQ(Values(d), std::vector<float>(p.n, 0.0f));
}

namespace {
// The steps written pixel by pixel from their definition, with the library's arctangent: the
// reference for the row loops.
double ReferenceAt(const matrix& p, const matrix& field, int k, int j, double edgeFactor,
                   double step, int speedKind, double along, double across) {
  const auto at = [&](int kk, int jj) -> double {
    const auto reflect = [](int i, int size) { return i < 0 ? 1 : (i >= size ? size - 2 : i); };
    return p.z[reflect(jj, p.ny)][reflect(kk, p.nx)];
  };
  const double c = at(k, j), l = at(k - 1, j), r = at(k + 1, j), u = at(k, j - 1),
               d = at(k, j + 1);
  const double gx = (r - l) / 2, gy = (d - u) / 2, xx = l + r - 2 * c, yy = u + d - 2 * c;
  const double xy = (at(k - 1, j - 1) + at(k + 1, j + 1) - at(k - 1, j + 1) - at(k + 1, j - 1)) / 4;
  const int i = j * p.nx + k;
  const double vx = field.x[i], vy = field.x[p.n + i];
  const double ivv = vx * vx * xx + 2 * vx * vy * xy + vy * vy * yy;
  const double iww = vy * vy * xx - 2 * vx * vy * xy + vx * vx * yy;
  // speedKind 0: no shock term; 1: |g.v|; 2: |g|.
  double s = 0;
  if (speedKind > 0) {
    const double speed =
        speedKind == 1 ? std::fabs(gx * vx + gy * vy) : std::sqrt(gx * gx + gy * gy);
    if (edgeFactor > 0)
      s = -step * 0.63661975 * std::atan(edgeFactor * ivv) * speed;
    else
      s = ivv > 0 ? -step * speed : (ivv < 0 ? step * speed : 0.0);
  }
  if (along > 0) s += along * iww;
  if (across > 0) s += across * ivv;
  return s;
}
}  // namespace

TEST_F(ShockTest, TheRowLoopsFollowThePixelDefinition) {
  // Wide enough for whole vectors and a tail, with large values so the arctangent's argument
  // runs through all of its ranges.
  matrix p = Noise(23, 6, 11);
  for (int k = 0; k < p.n; ++k) p.x[k] *= 40;
  matrix field;
  field.tensordirections(p, 1, 1);
  struct Case {
    float edgeFactor, gain, along, across;
  };
  for (const Case c : {Case{0.1f, 0.3f, 0, 0}, Case{0, 0.3f, 0, 0}, Case{5, 0.2f, 0.5f, 0},
                       Case{-1, 0.2f, 0, 0.7f}, Case{0.3f, 0, 1, 1}, Case{0.3f, 0.1f, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << c.edgeFactor << " " << c.gain << " " << c.along << " "
                                    << c.across);
    matrix updated(p), increment;
    updated.shockupdate(p, field, c.edgeFactor, c.gain, nullptr);
    increment.shockstep(p, field, c.edgeFactor, c.gain, c.along, c.across);
    for (int j = 0; j < p.ny; ++j) {
      for (int k = 0; k < p.nx; ++k) {
        const double s = ReferenceAt(p, field, k, j, c.edgeFactor, c.gain, c.gain > 0 ? 2 : 0,
                                     c.along, c.across);
        EXPECT_NEAR(increment.z[j][k], s, 1e-6 * (1 + std::fabs(s))) << k << "," << j;
        if (c.gain > 0) {
          const double u = p.z[j][k] + ReferenceAt(p, field, k, j, c.edgeFactor, c.gain, 1, 0, 0);
          EXPECT_NEAR(updated.z[j][k], u, 1e-6 * (1 + std::fabs(u))) << k << "," << j;
        }
      }
    }
  }
  // A plane given as its own copy or input reads its values from before the step.
  matrix self(p), apart(p), selfStep(p), apartStep;
  self.shockupdate(self, field, 0.1f, 0.3f, nullptr);
  apart.shockupdate(p, field, 0.1f, 0.3f, nullptr);
  EXPECT_EQ(Values(self), Values(apart));
  selfStep.shockstep(selfStep, field, 0.1f, 0.3f, 1, 0);
  apartStep.shockstep(p, field, 0.1f, 0.3f, 1, 0);
  EXPECT_EQ(Values(selfStep), Values(apartStep));
}

TEST_F(ShockTest, TheWholePlaneIterationGivesTheBytesOfItsSteps) {
  // ShockIteration makes each row's field as its tensor row is smoothed: the same bytes as
  // the field of tensordirections and then shockupdate, with any number of threads. Sizes
  // from the smallest through one wider than the kernel on one side only, sigmas from none
  // through one wider than the plane.
  struct Case {
    int w, h;
    float sigma, edgeFactor, step;
  };
  for (const Case c :
       {Case{3, 3, 1, 0.1f, 0.2f}, Case{17, 5, 0, 0, 0.3f}, Case{5, 40, 2.5f, 0.1f, 0.1f},
        Case{131, 97, 1, 0.1f, 0.1f}, Case{131, 97, 3, 5, 0.2f}, Case{64, 48, 30, 0.1f, 0.1f},
        Case{40, 30, 1, 0.1f, 0}}) {
    for (int threads : {1, 8}) {
      SCOPED_TRACE(testing::Message()
                   << c.w << "x" << c.h << " sigma " << c.sigma << " edge " << c.edgeFactor
                   << " step " << c.step << " threads " << threads);
      SetParallelThreads(threads);
      matrix p = Noise(c.w, c.h, 5);
      for (int k = 0; k < p.n; ++k) p.x[k] *= 60;
      matrix steps(p), field;
      field.tensordirections(p, 1, c.sigma);
      steps.shockupdate(p, field, c.edgeFactor, c.step, nullptr);
      matrix xx, xy, yy, copy;
      ShockIteration(p, c.sigma, c.edgeFactor, c.step, {&xx, &xy, &yy, &copy});
      SetParallelThreads(0);
      EXPECT_EQ(std::memcmp(p.x, steps.x, size_t(p.n) * sizeof(float)), 0);
    }
  }
}
