#include "image/colorspace.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {
constexpr double kRadToDeg = 57.29577951308232;
constexpr float kDegToRadF = 0.0174532924f;
// The small lifts that keep grey pixels from dividing by zero, as single-precision values.
constexpr double kHsvLift = static_cast<double>(0.00001f);
constexpr double kHsiLift = 1e-6;

inline double Pos(double v) { return v > 0.0 ? v : 0.0; }

// A 3x3 linear map and its exact inverse. The inverse constants usually quoted for these
// spaces are the forward ones' inverse rounded to four or five figures, which lets a round
// trip drift by up to 0.016 grey levels per conversion; inverting the forward weights
// themselves makes RGB -> space -> RGB exact to float rounding.
struct Linear3 {
  double m[3][3];
  double inv[3][3];
  explicit Linear3(const double (&f)[3][3]) {
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) m[r][c] = f[r][c];
    }
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 3; ++c) {
        const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
        inv[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
      }
    }
  }
  static void Apply(const double (&a)[3][3], double x, double y, double z, double out[3]) {
    for (int r = 0; r < 3; ++r) out[r] = a[r][0] * x + a[r][1] * y + a[r][2] * z;
  }
};

const Linear3& LabWeights() {
  static const Linear3 w({{0.0017018, 0.0014754, 0.0007444},
                          {0.000834, 0.0028046, 0.000283},
                          {0.0000696, 0.0004293, 0.0034226}});
  return w;
}
const Linear3& YCbCrWeights() {
  static const Linear3 w({{0.299, 0.587, 0.114}, {-0.1687, -0.3313, 0.5}, {0.5, -0.4187, -0.0813}});
  return w;
}
const Linear3& YuvWeights() {
  static const Linear3 w(
      {{0.299, 0.587, 0.114}, {-0.14713, -0.28886, 0.436}, {0.615, -0.51499, -0.10001}});
  return w;
}

inline fpixel Forward(const Linear3& w, const fpixel& p) {
  double o[3];
  Linear3::Apply(w.m, p.x, p.y, p.z, o);
  return fpixel(static_cast<float>(o[0]), static_cast<float>(o[1]), static_cast<float>(o[2]));
}
inline fpixel Inverse(const Linear3& w, const fpixel& p) {
  double o[3];
  Linear3::Apply(w.inv, p.x, p.y, p.z, o);
  return fpixel(static_cast<float>(o[0]), static_cast<float>(o[1]), static_cast<float>(o[2]));
}

// Reduces an angle in degrees to [0, 360).
inline double Wrap360(double h) {
  double r = std::fmod(h, 360.0);
  if (r < 0) r += 360.0;
  return r;
}

struct Hsv {
  double h, s, v;
};

// The hue computations run in double: in single precision the lifted grey pixel's
// difference of channels vanishes for grey levels of 32 and up and the hue turns NaN.
Hsv RgbToHsv(double r, double g, double b) {
  r = Pos(r);
  g = Pos(g);
  b = Pos(b);
  const double lo = std::min(r, std::min(g, b));
  double v = std::max(r, std::max(g, b));
  if (v == lo) {
    v += kHsvLift;
    r += kHsvLift;
  }
  const double delta = v - lo;
  double h;
  if (lo == b) {
    h = 60.0 * (1.0 + (g - r) / delta);
  } else if (lo == g) {
    h = 60.0 * (5.0 + (r - b) / delta);
  } else {
    h = 60.0 * (3.0 + (b - g) / delta);
  }
  return {h, delta / v, v};
}

fpixel HsvToRgb(double h, double s, double v, const fpixel& untouched) {
  v = std::clamp(v, 0.0, 255.0);
  h = Wrap360(h) / 60.0;
  s = std::clamp(s, 0.0, 1.0);
  if (!(h >= 0.0 && h < 7.0)) return untouched;  // a NaN hue
  const int i = static_cast<int>(h);
  double f = h - i;
  if ((i & 1) == 0) f = 1.0 - f;
  const double p = v * (1.0 - s), q = v * (1.0 - s * f);
  auto out = [](double a, double b, double c) {
    return fpixel(static_cast<float>(a), static_cast<float>(b), static_cast<float>(c));
  };
  switch (i) {
    case 0:
    case 6:
      return out(v, q, p);
    case 1:
      return out(q, v, p);
    case 2:
      return out(p, v, q);
    case 3:
      return out(p, q, v);
    case 4:
      return out(q, p, v);
    case 5:
      return out(v, p, q);
    default:
      return untouched;
  }
}

// CIE-like Lab with this program's own weights (the white point and the 0-255 scale are
// folded into them).
struct Lab {
  double l, a, b;
};
inline double LabF(double t) {
  return t > 0.008856 ? std::pow(t, static_cast<double>(1.0f / 3.0f)) : 7.787 * t + 0.13793;
}
inline double LabG(double f) { return f > 0.20689 ? f * f * f : (f - 0.13793) / 7.787; }

Lab RgbToLab(fpixel p) {
  p.limit8();
  double xyz[3];
  Linear3::Apply(LabWeights().m, p.x, p.y, p.z, xyz);
  const double fx = LabF(xyz[0]), fy = LabF(xyz[1]), fz = LabF(xyz[2]);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

fpixel LabToRgb(double l, double a, double b) {
  const double fy = (l + 16.0) / 116.0;
  const double fx = fy + 0.002 * a, fz = fy - 0.005 * b;
  double rgb[3];
  Linear3::Apply(LabWeights().inv, LabG(fx), LabG(fy), LabG(fz), rgb);
  return fpixel(static_cast<float>(rgb[0]), static_cast<float>(rgb[1]), static_cast<float>(rgb[2]));
}

inline float GammaX(float v, double g) {
  const double m = std::pow(std::fabs(v) * static_cast<double>(0.003921569f), g) * 255.0;
  return static_cast<float>(v < 0 ? -m : m);
}

template <int Kind>  // 1: L1, 2: L2, 3: Linf
fpixel4 RgbToNorm(fpixel p) {
  const double r = Pos(p.x), g = Pos(p.y), b = Pos(p.z);
  double s;
  float zero;
  if constexpr (Kind == 1) {
    s = r + g + b;
    zero = 0.33333334f;
  } else if constexpr (Kind == 2) {
    s = std::sqrt(r * r + g * g + b * b);
    zero = 0.57735026f;
  } else {
    s = std::max(r, std::max(g, b));
    zero = 1.0f;
  }
  if (s == 0.0) return fpixel4(zero, zero, zero, 0.0f);
  return fpixel4(static_cast<float>(r / s), static_cast<float>(g / s), static_cast<float>(b / s),
                 static_cast<float>(s));
}

template <int Kind>
fpixel NormToRgb(fpixel4 p) {
  const double r = Pos(p.x), g = Pos(p.y), b = Pos(p.z), s = Pos(p.w);
  double t;
  if constexpr (Kind == 1) {
    t = r + g + b;
  } else if constexpr (Kind == 2) {
    t = std::sqrt(r * r + g * g + b * b);
  } else {
    t = std::max(r, std::max(g, b));
  }
  if (t == 0.0 || s == 0.0) return fpixel(0, 0, 0);
  const double k = s / t;
  return fpixel(static_cast<float>(r * k), static_cast<float>(g * k), static_cast<float>(b * k));
}
}  // namespace

float& ColourGammaX() {
  static float gamma = 2.2f;
  return gamma;
}

fpixel fpixel::rgbtocmy(fpixel p) { return fpixel(255.0f - p.x, 255.0f - p.y, 255.0f - p.z); }

fpixel fpixel::rgbtohsv(fpixel p) {
  const Hsv c = RgbToHsv(p.x, p.y, p.z);
  return fpixel(static_cast<float>(c.h), static_cast<float>(c.s), static_cast<float>(c.v));
}

fpixel fpixel::hsvtorgb(fpixel p) { return HsvToRgb(p.x, p.y, p.z, p); }

fpixel fpixel::rgbtohsl(fpixel p) {
  const Hsv c = RgbToHsv(p.x, p.y, p.z);
  double s, l;
  if (c.s <= 0.0) {
    s = 0.0;
    l = c.v;
  } else {
    const double d = c.s * c.v / 2.0;
    l = c.v - d;
    s = l < 127.5 ? d / l : d / (255.0 - l);
  }
  return fpixel(static_cast<float>(c.h), static_cast<float>(s), static_cast<float>(l));
}

fpixel fpixel::hsltorgb(fpixel p) {
  const double l = Pos(p.z);
  double s = p.y, v, sv;
  if (s <= 0.0 || l == 0.0) {
    v = l;
    sv = 0.0;
  } else {
    s = std::min(s, 1.0);
    const double e = l * s;
    if (l < 127.5) {
      v = l + e;
      sv = 2.0 * e / (l + e);
    } else {
      v = l + 255.0 * s - e;
      sv = 2.0 * s * (255.0 - l) / v;
    }
  }
  return HsvToRgb(p.x, sv, v, fpixel(p.x, static_cast<float>(sv), static_cast<float>(v)));
}

fpixel fpixel::rgbtohsi(fpixel p) {
  double r = Pos(p.x);
  const double g = Pos(p.y), b = Pos(p.z);
  if (r == g && g == b) r += kHsiLift;
  const double i = (r + g + b) / 3.0;
  const double s = 1.0 - std::min(r, std::min(g, b)) / i;
  // The cosine is clamped rather than the spread inflated (the usual 6.00000001 in place of
  // 6): inflating it tilts every hue by up to a few thousandths of a degree, enough to move
  // saturated colours by 0.01 grey levels on the way back.
  const double spread =
      std::sqrt(6.0 * ((i - r) * (i - r) + (i - g) * (i - g) + (i - b) * (i - b)));
  const double c = std::clamp((2.0 * r - g - b) / spread, -1.0, 1.0);
  double h = std::acos(c) * kRadToDeg;
  if (g < b) h = 360.0 - h;
  return fpixel(static_cast<float>(h), static_cast<float>(s), static_cast<float>(i));
}

fpixel fpixel::hsitorgb(fpixel p) {
  const double i = Pos(p.z);
  const double h = Wrap360(p.x);
  const double s = std::clamp(static_cast<double>(p.y), 0.0, 1.0);
  const double t = kDegToRadF;
  const double a = i * (1.0 - s);
  auto sector = [&](double hh) {
    return i * (1.0 + s * std::cos(t * hh) / std::cos(t * (60.0 - hh)));
  };
  double r, g, b;
  if (h <= 120.0) {
    b = a;
    r = sector(h);
    g = 3.0 * i - r - b;
  } else if (h <= 240.0) {
    r = a;
    g = sector(h - 120.0);
    b = 3.0 * i - r - g;
  } else if (h <= 360.0) {
    g = a;
    b = sector(h - 240.0);
    r = 3.0 * i - g - b;
  } else {
    return p;  // a NaN hue
  }
  return fpixel(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

fpixel fpixel::rgbtologrgb(fpixel p) {
  p.limit8();
  return fpixel(static_cast<float>(std::log(p.x + 0.001)),
                static_cast<float>(std::log(p.y + 0.001)),
                static_cast<float>(std::log(p.z + 0.001)));
}

fpixel fpixel::logrgbtorgb(fpixel p) {
  return fpixel(static_cast<float>(std::exp(double(p.x)) - 0.001),
                static_cast<float>(std::exp(double(p.y)) - 0.001),
                static_cast<float>(std::exp(double(p.z)) - 0.001));
}

fpixel fpixel::rgbtologcmy(fpixel p) {
  p.limit8();
  const double top = std::log(255.001);
  return fpixel(static_cast<float>(top - std::log(p.x + 0.001)),
                static_cast<float>(top - std::log(p.y + 0.001)),
                static_cast<float>(top - std::log(p.z + 0.001)));
}

fpixel fpixel::logcmytorgb(fpixel p) {
  const double top = std::log(255.001);
  return fpixel(static_cast<float>(std::exp(top - p.x) - 0.001),
                static_cast<float>(std::exp(top - p.y) - 0.001),
                static_cast<float>(std::exp(top - p.z) - 0.001));
}

fpixel fpixel::rgbtolab(fpixel p) {
  const Lab c = RgbToLab(p);
  return fpixel(static_cast<float>(c.l), static_cast<float>(c.a), static_cast<float>(c.b));
}

fpixel fpixel::labtorgb(fpixel p) { return LabToRgb(p.x, p.y, p.z); }

fpixel fpixel::rgbtohcl(fpixel p) {
  const Lab c = RgbToLab(p);
  const double chroma = std::sqrt(c.a * c.a + c.b * c.b);
  double h;
  if (c.a == 0.0) {
    h = c.b > 0 ? 90.0 : (c.b < 0 ? 270.0 : -1e32);  // -1e32: the hue of grey
  } else {
    const double m = std::atan(std::fabs(c.b / c.a)) * 57.29578;
    if (c.a > 0) {
      h = c.b >= 0 ? m : 360.0 - m;
    } else {
      h = c.b > 0 ? 180.0 - m : 180.0 + m;
    }
  }
  return fpixel(static_cast<float>(h), static_cast<float>(chroma), static_cast<float>(c.l));
}

fpixel fpixel::hcltorgb(fpixel p) {
  double a = 0.0, b = 0.0;
  if (p.y != 0.0f) {
    const double h = Wrap360(p.x) * kDegToRadF;
    a = p.y * std::cos(h);
    b = p.y * std::sin(h);
  }
  return LabToRgb(p.z, a, b);
}

fpixel fpixel::rgbtoycbcr(fpixel p) { return Forward(YCbCrWeights(), p); }

fpixel fpixel::ycbcrtorgb(fpixel p) { return Inverse(YCbCrWeights(), p); }

fpixel fpixel::rgbtoycbcr2(fpixel p) {
  const double r = p.x, g = p.y, b = p.z;
  return fpixel(static_cast<float>((r + g + b) / 3.0), static_cast<float>((2 * b - r - g) / 3.0),
                static_cast<float>((2 * r - g - b) / 3.0));
}

fpixel fpixel::ycbcr2torgb(fpixel p) {
  const double y = p.x, cb = p.y, cr = p.z;
  return fpixel(static_cast<float>(y + cr), static_cast<float>(y - cb - cr),
                static_cast<float>(y + cb));
}

fpixel fpixel::rgbtoyuv(fpixel p) { return Forward(YuvWeights(), p); }

fpixel fpixel::yuvtorgb(fpixel p) { return Inverse(YuvWeights(), p); }

fpixel fpixel::rgbtorgbx(fpixel p) {
  const double g = ColourGammaX();
  return fpixel(GammaX(p.x, g), GammaX(p.y, g), GammaX(p.z, g));
}

fpixel fpixel::rgbxtorgb(fpixel p) {
  const double g = 1.0f / ColourGammaX();
  return fpixel(GammaX(p.x, g), GammaX(p.y, g), GammaX(p.z, g));
}

fpixel fpixel::rgbtoycbcrx(fpixel p) { return rgbtoycbcr(rgbtorgbx(p)); }
fpixel fpixel::ycbcrxtorgb(fpixel p) { return rgbxtorgb(ycbcrtorgb(p)); }

fpixel4 fpixel4::rgbtocmyk(fpixel p) {
  p.limit8();
  const float c = 255.0f - p.x, m = 255.0f - p.y, y = 255.0f - p.z;
  const float k = std::min(c, std::min(m, y));
  const float rest = 255.0f - k;
  if (rest > 0.0f) return fpixel4((c - k) / rest, (m - k) / rest, (y - k) / rest, k);
  return fpixel4(1.0f, 1.0f, 1.0f, k);
}

fpixel fpixel4::cmyktorgb(fpixel4 p) {
  const float k = std::clamp(p.w, 0.0f, 255.0f);
  const float c = std::clamp(p.x, 0.0f, 1.0f), m = std::clamp(p.y, 0.0f, 1.0f),
              y = std::clamp(p.z, 0.0f, 1.0f);
  const float rest = 255.0f - k;
  return fpixel(255.0f - (k + c * rest), 255.0f - (k + m * rest), 255.0f - (k + y * rest));
}

fpixel4 fpixel4::rgbtol1(fpixel p) { return RgbToNorm<1>(p); }
fpixel fpixel4::l1torgb(fpixel4 p) { return NormToRgb<1>(p); }
fpixel4 fpixel4::rgbtol2(fpixel p) { return RgbToNorm<2>(p); }
fpixel fpixel4::l2torgb(fpixel4 p) { return NormToRgb<2>(p); }
fpixel4 fpixel4::rgbtolinf(fpixel p) { return RgbToNorm<3>(p); }
fpixel fpixel4::linftorgb(fpixel4 p) { return NormToRgb<3>(p); }

namespace {
const float kLogLo = -6.9077554f;  // ln(0.001)
const float kLogHi = 5.5412674f;   // ln(255.001)

const ColourSpace kSpaces[] = {
    {cspace::kRGB,
     "RGB",
     {"R", "G", "B", ""},
     3,
     2,
     {0, 0, 0, 0},
     {255, 255, 255, 0},
     fpixel::copy,
     fpixel::copy,
     nullptr,
     nullptr},
    {cspace::kL1,
     "L1",
     {"r", "g", "b", "L1"},
     4,
     2,
     {0, 0, 0, 0},
     {1, 1, 1, 765},
     nullptr,
     nullptr,
     fpixel4::rgbtol1,
     fpixel4::l1torgb},
    {cspace::kL2,
     "L2",
     {"r", "g", "b", "L2"},
     4,
     2,
     {0, 0, 0, 0},
     {1, 1, 1, 441.673f},
     nullptr,
     nullptr,
     fpixel4::rgbtol2,
     fpixel4::l2torgb},
    {cspace::kLinf,
     "Linf",
     {"r", "g", "b", "Linf"},
     4,
     2,
     {0, 0, 0, 0},
     {1, 1, 1, 255},
     nullptr,
     nullptr,
     fpixel4::rgbtolinf,
     fpixel4::linftorgb},
    {cspace::kHSV,
     "HSV",
     {"H", "S", "V", ""},
     3,
     3,
     {0, 0, 0, 0},
     {360, 1, 255, 0},
     fpixel::rgbtohsv,
     fpixel::hsvtorgb,
     nullptr,
     nullptr},
    {cspace::kHSL,
     "HSL",
     {"H", "S", "L", ""},
     3,
     3,
     {0, 0, 0, 0},
     {360, 1, 255, 0},
     fpixel::rgbtohsl,
     fpixel::hsltorgb,
     nullptr,
     nullptr},
    {cspace::kHSI,
     "HSI",
     {"H", "S", "I", ""},
     3,
     3,
     {0, 0, 0, 0},
     {360, 1, 255, 0},
     fpixel::rgbtohsi,
     fpixel::hsitorgb,
     nullptr,
     nullptr},
    {cspace::kCMY,
     "CMY",
     {"C", "M", "Y", ""},
     3,
     2,
     {0, 0, 0, 0},
     {255, 255, 255, 0},
     fpixel::rgbtocmy,
     fpixel::rgbtocmy,
     nullptr,
     nullptr},
    {cspace::kCMYK,
     "CMYK",
     {"C", "M", "Y", "K"},
     4,
     2,
     {0, 0, 0, 0},
     {1, 1, 1, 255},
     nullptr,
     nullptr,
     fpixel4::rgbtocmyk,
     fpixel4::cmyktorgb},
    {cspace::kLogCMY,
     "Log CMY",
     {"C", "M", "Y", ""},
     3,
     2,
     {kLogLo, kLogLo, kLogLo, 0},
     {kLogHi, kLogHi, kLogHi, 0},
     fpixel::rgbtologcmy,
     fpixel::logcmytorgb,
     nullptr,
     nullptr},
    {cspace::kLAB,
     "LAB",
     {"L", "A", "B", ""},
     3,
     1,
     {0, -86.2f, -107.9f, 0},
     {100, 98.3f, 94.5f, 0},
     fpixel::rgbtolab,
     fpixel::labtorgb,
     nullptr,
     nullptr},
    {cspace::kHCL,
     "HCL",
     {"H", "C", "L", ""},
     3,
     2,
     {0, 0, 0, 0},
     {360, 133.82f, 100, 0},
     fpixel::rgbtohcl,
     fpixel::hcltorgb,
     nullptr,
     nullptr},
    {cspace::kYCbCr,
     "YCbCr",
     {"Y", "Cb", "Cr", ""},
     3,
     1,
     {0, -127.5f, -127.5f, 0},
     {255, 127.5f, 127.5f, 0},
     fpixel::rgbtoycbcr,
     fpixel::ycbcrtorgb,
     nullptr,
     nullptr},
    {cspace::kLogRGB,
     "Log RGB",
     {"R", "G", "B", ""},
     3,
     2,
     {kLogLo, kLogLo, kLogLo, 0},
     {kLogHi, kLogHi, kLogHi, 0},
     fpixel::rgbtologrgb,
     fpixel::logrgbtorgb,
     nullptr,
     nullptr},
    {cspace::kRGBX,
     "RGBX",
     {"R", "G", "B", ""},
     3,
     2,
     {0, 0, 0, 0},
     {255, 255, 255, 0},
     fpixel::rgbtorgbx,
     fpixel::rgbxtorgb,
     nullptr,
     nullptr},
    {cspace::kYCbCrX,
     "YCbCrX",
     {"Y", "Cb", "Cr", ""},
     3,
     1,
     {0, -127.5f, -127.5f, 0},
     {255, 127.5f, 127.5f, 0},
     fpixel::rgbtoycbcrx,
     fpixel::ycbcrxtorgb,
     nullptr,
     nullptr},
    {cspace::kYCbCr2,
     "YCbCr2",
     {"Y", "Cb", "Cr", ""},
     3,
     1,
     {0, -127.5f, -127.5f, 0},
     {255, 127.5f, 127.5f, 0},
     fpixel::rgbtoycbcr2,
     fpixel::ycbcr2torgb,
     nullptr,
     nullptr},
    {cspace::kYUV,
     "YUV",
     {"Y", "U", "V", ""},
     3,
     1,
     {0, -127.5f, -127.5f, 0},
     {255, 127.5f, 127.5f, 0},
     fpixel::rgbtoyuv,
     fpixel::yuvtorgb,
     nullptr,
     nullptr},
};
}  // namespace

const ColourSpace* FindColourSpace(CSpaceCode code) {
  const CSpaceCode bits = code & ~cspace::kVisibleBits;
  if (std::popcount(bits) != 1) return nullptr;
  for (const ColourSpace& s : kSpaces) {
    if (s.bit == bits) return &s;
  }
  return nullptr;
}

const ColourSpace* ColourSpaces(int& count) {
  count = static_cast<int>(std::size(kSpaces));
  return kSpaces;
}
