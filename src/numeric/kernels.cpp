#include "numeric/kernels.h"

#include <cmath>

namespace {
constexpr double kPi = 3.141592653589793;
}

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  return std::sin(kPi * x) / (kPi * x);
}

double KernelLanczos(double x, double a) {
  if (std::fabs(x) >= a) return 0.0;
  return Sinc(x) * Sinc(x / a);
}

double KernelTriangle(double x, double s) {
  const double t = x / s;
  if (t > -1.0 && t <= 0.0) return t + 1.0;
  if (t > 0.0 && t < 1.0) return 1.0 - t;
  return 0.0;
}

double KernelBox(double x, double s) {
  const double t = x / s;
  return (t >= -0.5 && t < 0.5) ? 1.0 : 0.0;
}

double KernelCubic(double x, double a) {
  const double t = std::fabs(x);
  if (t < 1.0) return ((a + 2.0) * t - (a + 3.0)) * t * t + 1.0;
  if (t < 2.0) return a * (((t - 5.0) * t + 8.0) * t - 4.0);
  return 0.0;
}

double KernelGaussian(double x, double s) {
  const double t = x / s;
  return std::exp(-0.5 * t * t);
}

double WeightInverseQuadratic(float x) { return 1.0 / (1.0 + double(x) * x); }
double WeightExpAbs(float x) { return std::exp(-std::fabs(double(x))); }
double WeightGaussian(float x) { return std::exp(-double(x) * x); }
double WeightBox(float x) { return std::fabs(x) <= 1.0f ? 1.0 : 0.0; }
double WeightInverseRoot(float x) { return 1.0 / std::sqrt(1.0 + double(x) * x); }
double WeightInversePower(float x) { return 1.0 / std::pow(1.0 + double(x) * x, 0.4); }
double WeightInverseLinear(float x) { return 1.0 / (1.0 + double(x)); }
double WeightExpSqrt(float x) { return std::exp(-std::sqrt(double(x))); }
double WeightExp(float x) { return std::exp(-double(x)); }

matrix& matrix::kernelmatrix(KernelFunction kernel, double parameter, double step, double offset,
                             bool antialias) {
  if (n == 0) return *this;
  makeip(ny);
  const int d = (nx - 1) / 2;
  // Reducing with antialiasing stretches the kernel by the step to low-pass the input.
  const double s = (step > 1.0 && antialias) ? 1.0 / step : 1.0;
  for (int i = 0; i < ny; ++i) {
    const double c = i * step + offset;
    // An absurd step or offset must not overflow the first index; such rows fall
    // outside any input and are dropped by the applier.
    const double k = std::trunc(std::fmin(std::fmax(c, -1e9), 1e9));
    ip[i] = static_cast<int32_t>(k) - d;
    const double f = c - k;
    double sum = 0.0;
    float* row = z[i];
    for (int j = 0; j < nx; ++j) {
      row[j] = static_cast<float>(kernel(((j - d) - f) * s, parameter));
      sum += row[j];
    }
    if (sum != 0.0) {
      const float scale = static_cast<float>(1.0 / sum);
      for (int j = 0; j < nx; ++j) row[j] *= scale;
    }
  }
  return *this;
}

uint32_t randgen::next() {
  s0 += 7;
  s1 += 1907;
  s2 += 73939;
  if (s0 >= 9973u) s0 -= 9871;
  if (s1 >= 99991u) s1 -= 89989;
  if (s2 >= 224729u) s2 -= 96233;
  s3 = ((s3 * s0 + s2 + s1) % 100000u) / 10u;  // unsigned: wraps modulo 2^32
  return s3;
}

double randgen::uniform() {
  const uint32_t a = next();
  const uint32_t b = next();
  return (a + 10000.0 * b + 0.5) * 1e-8;
}

randgen& GlobalRandom() {
  static randgen generator;
  return generator;
}

double RandomUniform() { return GlobalRandom().uniform(); }
