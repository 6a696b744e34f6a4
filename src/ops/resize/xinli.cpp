// Classic Xin Li enlargement: each new sample is the weighted sum of four known neighbours,
// the weights fitted by ridge-regularised least squares to how the same four-neighbour
// pattern predicts the known samples of a training window, pulled towards linear
// interpolation along the diagonal that triangulation prefers.
#include "ops/resize/xinli.h"

#include <algorithm>
#include <cstdint>

#include "numeric/triangulate.h"
#include "numeric/xinli.h"
#include "platform/errors.h"
#include "platform/parallel.h"

fpbuffer& XinLiPasses(fpbuffer& image, int dominant, int passes, bool rotate,
                      const std::function<void(fpbuffer& image, fpbuffer& copy, bool turn)>& pass) {
  const int d = image.dominantchannel(dominant);
  if (image.empty() || passes < 1 || d < 1 || d > 3 || d > image.channels) return image;
  const int w0 = image.width, h0 = image.height;
  bitmask kept;
  const bool masked = image.mask.present();
  if (masked) kept = std::move(image.mask);
  image.clearmask();
  for (int i = 0; i < passes; ++i) {
    fpbuffer copy(image);
    pass(image, copy, rotate && i == 1);
  }
  if (rotate && passes >= 2) image.hflip().vflip();
  if (masked) {
    kept.resample(image.width / w0, image.height / h0, 0.5, 0.5);
    image.mask = std::move(kept);
  }
  return image;
}

fpbuffer& fpbuffer::xinli(float bias, int window, float taper, float normalization, int dominant,
                          int passes, bool rotate, float antialias, bool variant) {
  if (variant) {
    return XinLiEnlarge(bias, window, taper, normalization, dominant, passes, rotate, antialias);
  }
  return xinlipasses(bias, window, taper, normalization, dominant, passes, rotate);
}

fpbuffer& fpbuffer::xinlipasses(float bias, int window, float taper, float normalization,
                                int dominant, int passes, bool rotate) {
  return XinLiPasses(*this, dominant, passes, rotate,
                     [&](fpbuffer& image, fpbuffer& copy, bool turn) {
                       image.xinlipass(copy, bias, window, taper, normalization, dominant, turn);
                     });
}

namespace {

using xinli::Offset;

// One phase of a classic pass: the new sample and its four neighbours x0-x3 relative to
// (k, m) = twice the input position, the training centres (d, t) and their neighbours.
struct Phase {
  Offset target;
  Offset neighbours[4];
  Offset sample[4];
  int kind;  // 1, 2 or 3
};

constexpr Phase kPhases[3] = {
    {{1, 1}, {{0, 0}, {0, 2}, {2, 0}, {2, 2}}, {{-2, -2}, {-2, 2}, {2, -2}, {2, 2}}, 1},
    {{1, 0}, {{0, 0}, {2, 0}, {1, -1}, {1, 1}}, {{-2, 0}, {2, 0}, {0, -2}, {0, 2}}, 2},
    {{0, 1}, {{-1, 1}, {1, 1}, {0, 0}, {0, 2}}, {{-2, 0}, {2, 0}, {0, -2}, {0, 2}}, 3},
};

// The two neighbours (of x0-x3) the prior prefers.
inline void PriorPair(int kind, bool mainDiagonal, int& p, int& q) {
  if (kind == 1) {
    p = mainDiagonal ? 0 : 1;
    q = mainDiagonal ? 3 : 2;
  } else if (kind == 2) {
    p = 0;
    q = 1;
  } else {
    p = 2;
    q = 3;
  }
}

struct PassContext {
  fpbuffer* out;
  int channels, d;  // d from 0
  int w, h, n, b;   // input size, window, border width
  float lambda, half;
  bool normalise, exact;
  float e;              // 1 / weight^2
  const matrix* taper;  // null: equal weights
  const bitmask* diagonals;
};

// The fallback of a border position: a mean of two samples or a copy, per channel.
void Fallback(const PassContext& p, int kind, int i, int j) {
  const int k = 2 * i, m = 2 * j;
  const bool lastRow = i == p.h - 1, lastColumn = j == p.w - 1;
  Offset a{0, 0}, b{0, 0};  // b == a: a copy
  if (kind == 1) {
    if (lastRow && lastColumn) {
    } else if (lastRow) {
      b = {0, 2};
    } else if (lastColumn) {
      b = {2, 0};
    } else if (p.diagonals->get(j, i)) {
      b = {2, 2};
    } else {
      a = {0, 2};
      b = {2, 0};
    }
  } else if (kind == 2) {
    if (!lastRow) b = {2, 0};
  } else {
    if (!lastColumn) b = {0, 2};
  }
  const Offset t = kPhases[kind - 1].target;
  for (int c = 0; c < p.channels; ++c) {
    float* const* z = p.out->plane[c].z;
    z[k + t.row][m + t.column] = 0.5f * (z[k + a.row][m + a.column] + z[k + b.row][m + b.column]);
  }
}

// The fitted weights of an inner position, applied to every channel.
void Fit(const PassContext& p, const Phase& phase, int i, int j) {
  const int k = 2 * i, m = 2 * j, n = p.n;
  const float* const* s = p.out->plane[p.d].z;
  int pa, pb;
  PriorPair(phase.kind, phase.kind == 1 && p.diagonals->get(j, i), pa, pb);
  float r[4][4] = {}, rhs[4] = {};
  for (int u = 0; u < 4; ++u) r[u][u] = p.lambda;
  rhs[pa] = p.half;
  rhs[pb] = p.half;
  for (int dd = 0; dd < n; ++dd) {
    for (int t = 0; t < n; ++t) {
      const xinli::Position c = xinli::ClassicCentre(phase.kind, dd, t, n);
      const int cr = k + c.row, cc = m + c.column;
      float y = s[cr][cc], q[4];
      for (int u = 0; u < 4; ++u) q[u] = s[cr + phase.sample[u].row][cc + phase.sample[u].column];
      if (p.taper) {
        const float wt = p.taper->z[dd][t];
        y *= wt;
        for (float& v : q) v *= wt;
      }
      for (int u = 0; u < 4; ++u) {
        for (int v = u; v < 4; ++v) r[u][v] += q[u] * q[v];
        rhs[u] += y * q[u];
      }
    }
  }
  float a[4] = {rhs[0], rhs[1], rhs[2], rhs[3]};
  bool ok = xinli::CholeskyFactor(r);
  if (ok) {
    xinli::CholeskySolve(r, a);
    for (float v : a) ok = ok && std::isfinite(v);
  }
  if (ok && p.normalise) ok = xinli::SumCorrection(r, a, p.exact, p.e);
  if (!ok) {
    // No finite fit (a flat window without a prior): the prior's own prediction.
    for (float& v : a) v = 0;
    a[pa] = a[pb] = 0.5f;
  }
  for (int c = 0; c < p.channels; ++c) {
    float* const* z = p.out->plane[c].z;
    float v = 0;
    for (int u = 0; u < 4; ++u)
      v += a[u] * z[k + phase.neighbours[u].row][m + phase.neighbours[u].column];
    z[k + phase.target.row][m + phase.target.column] = v;
  }
}

}  // namespace

fpbuffer& fpbuffer::xinlipass(fpbuffer& input, float bias, int window, float taper,
                              float normalization, int dominant, bool rotateInput) {
  if (input.empty()) {
    clear(true);
    return *this;
  }
  // Callers check the channel; a direct call with one the image lacks takes the nearest.
  const int d = std::clamp(input.dominantchannel(dominant), 1, std::min(3, input.channels));
  if (rotateInput) input.hflip().vflip();
  const int w = input.width, h = input.height;
  bitmask diagonals;
  ChooseTriangleDiagonals(diagonals, input.plane[d - 1]);
  dimunset(2 * w, 2 * h, input.code);
  for (int c = 0; c < channels; ++c) {
    const matrix& from = input.plane[c];
    matrix& to = plane[c];
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) to.z[2 * i][2 * j] = from.z[i][j];
    }
  }
  input.clear();

  PassContext p{};
  p.out = this;
  p.channels = channels;
  p.d = d - 1;
  p.w = w;
  p.h = h;
  p.n = xinli::EvenWindow(window);
  p.b = p.n / 2 + 1;
  p.lambda = (bias * float(p.n) * 0.25f) * (bias * float(p.n) * 0.25f);
  p.half = 0.5f * p.lambda;
  p.normalise = normalization != 0;
  p.exact = normalization == 10000.0f;
  p.e = 1.0f / (normalization * normalization);
  p.diagonals = &diagonals;
  matrix weights;
  const bool inner = w > 2 * p.b && h > 2 * p.b;
  if (taper > 0 && inner) {
    weights.dim(p.n, p.n);
    weights.radialweights(taper);
    p.taper = &weights;
  }
  const int64_t block = BlockFor(int64_t(w) * p.n * p.n * 16);
  for (const Phase& phase : kPhases) {
    const bool cancelled = ParallelBlocksTicking(h, block, [&](int64_t i0, int64_t i1) {
      for (int i = int(i0); i < int(i1); ++i) {
        const bool borderRow = i < p.b || i >= h - p.b;
        for (int j = 0; j < w; ++j) {
          if (borderRow || j < p.b || j >= w - p.b) {
            Fallback(p, phase.kind, i, j);
          } else {
            Fit(p, phase, i, j);
          }
        }
      }
    });
    if (cancelled) throw Cancelled{};
  }
  return *this;
}
