#pragma once
// The enlargement test harness: synthetic pictures, the reduction that makes the inputs,
// the enlargement methods on one centred grid, and the measures they are judged by.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/cvector.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "params/blocks.h"
#include "platform/progress.h"

namespace enlarge {

constexpr double kPi = 3.14159265358979323846;

// Samples f at a 4 x 4 grid inside every pixel and averages, so that edges are area
// sampled rather than aliased.
template <class F>
matrix AreaSampled(int w, int h, F f) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double s = 0;
      for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) s += f(x - 0.375 + 0.25 * b, y - 0.375 + 0.25 * a);
      }
      m.z[y][x] = float(s / 16);
    }
  }
  return m;
}

// cos(pi r^2 / (2 n)) about the centre: the frequency rises to half the sampling rate at
// distance n from the centre.
inline matrix ZonePlate(int n) {
  const double c = (n - 1) / 2.0;
  return AreaSampled(n, n, [&](double x, double y) {
    const double r2 = (x - c) * (x - c) + (y - c) * (y - c);
    return 128.0 + 100.0 * std::cos(kPi * r2 / (2.0 * n));
  });
}

// A dark/bright edge through the centre, tilted `degrees` from the vertical.
inline matrix SlantedEdge(int w, int h, double degrees) {
  const double t = std::tan(degrees * kPi / 180.0), cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  return AreaSampled(
      w, h, [&](double x, double y) { return (x - cx) - t * (y - cy) > 0 ? 200.0 : 50.0; });
}

inline matrix Checkerboard(int n, int cell) {
  return AreaSampled(n, n, [&](double x, double y) {
    const int a = int(std::floor((x + 0.5) / cell)), b = int(std::floor((y + 0.5) / cell));
    return (a + b) % 2 == 0 ? 60.0 : 190.0;
  });
}

// Gaussian blobs of sigma s at the given centres, on 0.
inline matrix Blobs(int w, int h, const std::vector<std::pair<double, double>>& centres, double s) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double v = 0;
      for (auto [cx, cy] : centres) {
        v += 200.0 * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * s * s));
      }
      m.z[y][x] = float(v);
    }
  }
  return m;
}

// The intensity-weighted mean position (column, row).
inline std::pair<double, double> Centroid(const matrix& m) {
  double s = 0, sx = 0, sy = 0;
  for (int y = 0; y < m.ny; ++y) {
    for (int x = 0; x < m.nx; ++x) {
      s += m.z[y][x];
      sx += double(m.z[y][x]) * x;
      sy += double(m.z[y][x]) * y;
    }
  }
  return {sx / s, sy / s};
}

// The mean of every f x f block (the area average of a reduction by f).
inline matrix BoxReduce(const matrix& m, int f) {
  matrix r(m.nx / f, m.ny / f);
  for (int y = 0; y < r.ny; ++y) {
    for (int x = 0; x < r.nx; ++x) {
      double s = 0;
      for (int a = 0; a < f; ++a) {
        for (int b = 0; b < f; ++b) s += m.z[y * f + a][x * f + b];
      }
      r.z[y][x] = float(s / (f * f));
    }
  }
  return r;
}

inline fpbuffer BoxReduce(const fpbuffer& image, int f) {
  fpbuffer r(image.width / f, image.height / f, image.code);
  for (int c = 0; c < image.channels; ++c) r.plane[c] = BoxReduce(image.plane[c], f);
  return r.syncviews();
}

// The grey picture as an RGB image of three equal channels.
inline fpbuffer Grey(const matrix& m) {
  fpbuffer f(m.nx, m.ny, 0x17);
  for (int c = 0; c < 3; ++c) f.plane[c] = m;
  return f.syncviews();
}

// BT.601 luma of an RGB image.
inline matrix Luma(const fpbuffer& f) {
  matrix y(f.width, f.height);
  for (int k = 0; k < y.n; ++k) {
    y.x[k] = float(0.299 * f.plane[0].x[k] + 0.587 * f.plane[1].x[k] + 0.114 * f.plane[2].x[k]);
  }
  return y;
}

// The pixels at least `border` from every edge whose Sobel magnitude in the truth is
// positive and lies in its top 10%, grown by one pixel on every side: where the edges are
// (on a picture with few edges, only those).
inline std::vector<bool> EdgeMask(const matrix& truth, int border) {
  matrix g = truth;
  g.sobel(0, nullptr);
  std::vector<float> inner;
  for (int y = border; y < g.ny - border; ++y) {
    for (int x = border; x < g.nx - border; ++x) inner.push_back(g.z[y][x]);
  }
  std::vector<bool> mask(size_t(g.n), false);
  if (inner.empty()) return mask;
  const size_t k = inner.size() * 9 / 10;
  std::nth_element(inner.begin(), inner.begin() + long(k), inner.end());
  const float threshold = inner[k];
  for (int y = border; y < g.ny - border; ++y) {
    for (int x = border; x < g.nx - border; ++x) {
      if (g.z[y][x] < threshold || !(g.z[y][x] > 0)) continue;
      for (int a = -1; a <= 1; ++a) {
        for (int b = -1; b <= 1; ++b) {
          const int yy = y + a, xx = x + b;
          if (yy >= border && yy < g.ny - border && xx >= border && xx < g.nx - border) {
            mask[size_t(yy) * g.nx + xx] = true;
          }
        }
      }
    }
  }
  return mask;
}

// PSNR (peak 255) of a against the truth over the pixels at least `border` from every edge,
// or over the mask's pixels when one is given.
inline double Psnr(const matrix& a, const matrix& truth, int border,
                   const std::vector<bool>* mask = nullptr) {
  double s = 0;
  int64_t count = 0;
  for (int y = border; y < truth.ny - border; ++y) {
    for (int x = border; x < truth.nx - border; ++x) {
      if (mask && !(*mask)[size_t(y) * truth.nx + x]) continue;
      const double d = double(a.z[y][x]) - truth.z[y][x];
      s += d * d;
      ++count;
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / std::max(s / double(count), 1e-12));
}

struct Quality {
  double psnr, edgePsnr;
};

// PSNR and edge-PSNR of an enlargement by f on luma, a 2f border left out.
inline Quality Measure(const fpbuffer& result, const fpbuffer& truth, int f) {
  const matrix y = Luma(result), t = Luma(truth);
  const std::vector<bool> mask = EdgeMask(t, 2 * f);
  return {Psnr(y, t, 2 * f), Psnr(y, t, 2 * f, &mask)};
}

// An enlargement method of the harness, by name, and the factors it takes.
struct Method {
  std::string name;
  std::vector<int> factors;
  // Enlarges the image in place by f onto the centred grid.
  void (*run)(fpbuffer& image, int f);
};

inline int Doublings(int f) {
  int k = 0;
  while ((1 << k) < f) ++k;
  return k;
}

template <int kOrder>
void OldDdl(fpbuffer& image, int f) {
  bytemaps maps;
  ddl(image, 0, std::abs(kOrder), Doublings(f), true, true, false, kOrder < 0, maps, true);
}

// Jensen-DDL with the turn between its passes, brought onto the centred grid as the
// commands' final adjustment does.
inline void Jddl(fpbuffer& image, int f) {
  jddl(image, Doublings(f), 0, 3, true, JensenModel{}, false, false);
  shifthalf(image, false);
}

// The back-projected cores with a first-pass reduction model (0 box, 4 Lanczos-3) and five
// iterations.
inline BackProjection Refine(int mode) {
  BackProjection bp;
  bp.mode1 = mode;
  bp.iterations1 = 5;
  return bp;
}
template <int kMode>
void Bpddl(fpbuffer& image, int f) {
  bpddl(image, 0, Refine(kMode), false, 0, 3, Doublings(f), false, nullptr);
}
template <int kMode>
void Bpjddl(fpbuffer& image, int f) {
  bpjddl(image, 0, JensenModel{}, Refine(kMode), false, 0, 3, Doublings(f), false, nullptr);
}

// Both Xin Li models with their default settings and the turn, then the half-pixel shift
// that puts their grid on the centred one, as the command does.
template <bool kTwelve>
void XinLi(fpbuffer& image, int f) {
  image.xinli(1, 8, 0, 0, 0, Doublings(f), true, 1.5f, kTwelve);
  resizelanczos(image, 3, 1, 1, -0.5, -0.5, false, false, false);
}

// Jensen-Xin Li with the turn, onto the centred grid as Jensen-DDL; the back-projected Xin
// Li cores as the DDL ones.
inline void Jxl(fpbuffer& image, int f) {
  jensenxinli(image, Doublings(f), 0, XinLiModel{}, true, JensenModel{}, false);
  shifthalf(image, false);
}
template <int kMode>
void Bpxl(fpbuffer& image, int f) {
  bpxl(image, 0, Refine(kMode), false, 0, XinLiModel{}, Doublings(f), nullptr);
}
template <int kMode>
void Bpjxl(fpbuffer& image, int f) {
  bpjxl(image, 0, JensenModel{}, Refine(kMode), false, 0, XinLiModel{}, Doublings(f), nullptr);
}

inline const std::vector<Method>& Methods() {
  static const std::vector<Method> methods = {
      {"bicubic",
       {2, 3, 4},
       [](fpbuffer& image, int f) { resizebicubic(image, -0.5f, f, f, 0, 0, false, false); }},
      {"lanczos3",
       {2, 3, 4},
       [](fpbuffer& image, int f) { resizelanczos(image, 3, f, f, 0, 0, false, false, false); }},
      {"ddl1", {2, 4}, OldDdl<1>},
      {"ddl3", {2, 4}, OldDdl<3>},
      {"ddl-3", {2, 4}, OldDdl<-3>},
      {"mbs", {3}, [](fpbuffer& image, int f) { mbs(image, 0, f, false); }},
      {"jddl", {2, 4}, Jddl},
      {"bpddl-box", {2, 4}, Bpddl<0>},
      {"bpddl-lanczos3", {2, 4}, Bpddl<4>},
      {"bpjddl-box", {2, 4}, Bpjddl<0>},
      {"bpjddl-lanczos3", {2, 4}, Bpjddl<4>},
      // New DDL with the page's defaults; the pseudo-inverse with its page's Super Rez,
      // reducing by the box that made the input (matched) or by Lanczos-3 (mismatched).
      {"newddl",
       {2, 4},
       [](fpbuffer& image, int f) {
         image.newddl(Doublings(f), 3, 5, 3, 1, 0, 0, 0, {6, 20, 0.2f, 20, 0, 2}, true);
       }},
      {"pinv-box",
       {2, 3, 4},
       [](fpbuffer& image, int f) {
         image.pseudoinverseenlarge(f, 0, 3, 0, 0, 0, {6, 20, 0.2f, 20, 0.1f, 2});
       }},
      {"pinv-lanczos3",
       {2, 3, 4},
       [](fpbuffer& image, int f) {
         image.pseudoinverseenlarge(f, 3, 3, 0, 0, 0, {6, 20, 0.2f, 20, 0.1f, 2});
       }},
      {"xinli", {2, 4}, XinLi<false>},
      {"xinli12", {2, 4}, XinLi<true>},
      {"jxl", {2, 4}, Jxl},
      {"bpxl-box", {2, 4}, Bpxl<0>},
      {"bpxl-lanczos3", {2, 4}, Bpxl<4>},
      {"bpjxl-box", {2, 4}, Bpjxl<0>},
      {"bpjxl-lanczos3", {2, 4}, Bpjxl<4>},
  };
  return methods;
}

inline fpbuffer Enlarged(const Method& method, const fpbuffer& small, int f) {
  fpbuffer image = small;
  StartProgress(1e9f);
  method.run(image, f);
  return image;
}

}  // namespace enlarge
