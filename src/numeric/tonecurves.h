#pragma once
// Tone curves: maps of [0, 1] onto [0, 1] with one shape parameter C > 0, each with a
// partner that is its inverse. Above 1 the power curves follow their formulas and the
// others continue as f(x) = x, so partners stay inverse there and nothing is NaN.
using ToneCurveFn = double (*)(double x, double c);

double CurveLinear(double x, double c);           // x
double CurvePower(double x, double c);            // x^C
double CurveRoot(double x, double c);             // x^(1/C)
double CurveComplementRoot(double x, double c);   // 1 - (1 - x)^(1/C)
double CurveComplementPower(double x, double c);  // 1 - (1 - x)^C
double CurveRational(double x, double c);         // (C + 1) x / (C + x)
double CurveRationalInverse(double x, double c);  // C x / (C + 1 - x)
double CurveSigmoid(double x, double c);          // the logistic, rescaled onto [0, 1]
double CurveInverseSigmoid(double x, double c);   // its inverse

// Curve 1 to 9 in the order of the "Preset Function" list, or its inverse partner; none
// (nullptr) for any other number.
ToneCurveFn ToneCurve(int number, bool inverse);
