#include "numeric/tonecurves.h"

#include <algorithm>
#include <cmath>

namespace {
// ln(e^p + e^q), either may be -infinity.
double LogAddExp(double p, double q) {
  const double m = std::max(p, q);
  if (m == -HUGE_VAL) return m;
  return m + std::log1p(std::exp(-std::fabs(p - q)));
}

// ln L(z) of the logistic L(z) = 1 / (1 + e^-z).
double LnLogistic(double z) {
  return z >= 0.0 ? -std::log1p(std::exp(-z)) : z - std::log1p(std::exp(z));
}
}  // namespace

double CurveLinear(double x, double) { return x; }
double CurvePower(double x, double c) { return std::pow(x, c); }
double CurveRoot(double x, double c) { return std::pow(x, 1.0 / c); }

double CurveComplementRoot(double x, double c) {
  return x >= 1.0 ? x : 1.0 - std::pow(1.0 - x, 1.0 / c);
}

double CurveComplementPower(double x, double c) {
  return x >= 1.0 ? x : 1.0 - std::pow(1.0 - x, c);
}

double CurveRational(double x, double c) { return x >= 1.0 ? x : (c + 1.0) * x / (c + x); }

double CurveRationalInverse(double x, double c) { return x >= 1.0 ? x : c * x / (c + 1.0 - x); }

// (L((x - 1/2)/C) - L(-a)) / (L(a) - L(-a)) with a = 1/(2C), written through
// L(u) - L(v) = sinh((u - v)/2) / (2 cosh(u/2) cosh(v/2)): no difference of nearly equal
// values. Where the hyperbolic functions would overflow it goes in logarithms, with the
// large terms (multiples of a) cancelled by hand.
double CurveSigmoid(double x, double c) {
  if (x >= 1.0) return x;
  const double a = 0.5 / c;
  const double u = x * a, centre = (x - 0.5) * a, half = 0.5 * a;
  if (half < 350.0) return std::sinh(u) / (2.0 * std::cosh(centre) * std::sinh(half));
  if (x == 0.0) return 0.0;
  // ln |f| = (|u| - |centre| - a/2) + A(|u|) - A(a/2) - B(centre), with
  // ln sinh t = t + A(t) - ln 2 and ln cosh t = |t| + B(t) - ln 2.
  auto tail = [](double t) { return std::log(-std::expm1(-2.0 * t)); };
  const double lead = x >= 0.5 ? 0.0 : (x >= 0.0 ? (2.0 * x - 1.0) * a : -a);
  const double lnF =
      lead + tail(std::fabs(u)) - tail(half) - std::log1p(std::exp(-2.0 * std::fabs(centre)));
  return x < 0.0 ? -std::exp(lnF) : std::exp(lnF);
}

// 1/2 + C ln(y / (1 - y)) with y = L(-a) + x (L(a) - L(-a)), which is
// 1/2 + 2C atanh((2x - 1) tanh(a/2)); that form is exact for large C. For small C,
// y = (1-x) L(-a) + x L(a) and 1 - y = x L(-a) + (1-x) L(a) are formed as sums of
// logarithms, so neither cancels nor underflows to 0 however small C is.
double CurveInverseSigmoid(double x, double c) {
  if (x >= 1.0) return x;
  const double a = 0.5 / c;
  if (a <= 1.0) return 0.5 + 2.0 * c * std::atanh((2.0 * x - 1.0) * std::tanh(0.5 * a));
  const double low = LnLogistic(-a), high = LnLogistic(a);
  const double lnX = std::log(x), ln1mX = std::log1p(-x);
  const double lnY = LogAddExp(ln1mX + low, lnX + high);
  const double ln1mY = LogAddExp(lnX + low, ln1mX + high);
  return 0.5 + c * (lnY - ln1mY);
}

ToneCurveFn ToneCurve(int number, bool inverse) {
  static const ToneCurveFn curves[9] = {
      CurveLinear,   CurvePower,           CurveRoot,    CurveComplementRoot, CurveComplementPower,
      CurveRational, CurveRationalInverse, CurveSigmoid, CurveInverseSigmoid};
  if (number < 1 || number > 9) return nullptr;
  int row = number;
  // Partners: 2 and 3, 4 and 5, 6 and 7, 8 and 9; 1 is its own.
  if (inverse && row > 1) row += row % 2 == 0 ? 1 : -1;
  return curves[row - 1];
}
