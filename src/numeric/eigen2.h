#pragma once
// The eigen analysis of a symmetric 2 x 2 tensor [a c; c b], written without branches so that
// row loops calling it vectorise (with -fno-trapping-math and -fno-math-errno): matrix::eig2x2,
// the eigen fields and the regularizers' diffusion tensors all take their values from it.
#include <cmath>

struct Eigen2 {
  float smaller, larger;
  float minor[2], major[2];
};

// (1, t) normalised into v.
[[gnu::always_inline]] inline void UnitWithSlope(double t, float* v) {
  const double norm = std::sqrt(1.0 + t * t);
  v[0] = static_cast<float>(1.0 / norm);
  v[1] = static_cast<float>(t / norm);
}

[[gnu::always_inline]] inline Eigen2 EigenOf(double a, double c, double b) {
  Eigen2 e;
  const double h = std::sqrt((a - b) * (a - b) + 4 * c * c);
  // The slope of an eigenvector is (lambda - a)/c or, the same, c/(lambda - b); each
  // eigenvector takes the form whose difference adds two terms of one sign. The other
  // form cancels when c is small beside |a - b| (a nearly axis-aligned edge) and can turn
  // the vector by far more than the rounding of its components.
  // The operands are chosen before the one division: a vector loop computes both sides of
  // a choice between two quotients.
  const bool aFirst = a >= b;
  const double major = (aFirst ? c : (b - a + h) / 2) / (aFirst ? (a - b + h) / 2 : c);
  const double minor = (aFirst ? (b - a - h) / 2 : c) / (aFirst ? c : (a - b - h) / 2);
  UnitWithSlope(major, e.major);
  UnitWithSlope(minor, e.minor);
  e.larger = static_cast<float>((a + b + h) / 2);
  e.smaller = static_cast<float>((a + b - h) / 2);
  if (!(c != 0)) {
    // A diagonal tensor: its axes, the larger of a and b the major one; a when a = b (the
    // zero tensor of a flat region included) or a NaN is on the diagonal.
    const bool bLarger = a < b;
    e.smaller = static_cast<float>(bLarger ? a : b);
    e.larger = static_cast<float>(bLarger ? b : a);
    e.minor[0] = bLarger ? 1.0f : 0.0f;
    e.minor[1] = bLarger ? 0.0f : 1.0f;
    e.major[0] = bLarger ? 0.0f : 1.0f;
    e.major[1] = bLarger ? 1.0f : 0.0f;
  }
  return e;
}
