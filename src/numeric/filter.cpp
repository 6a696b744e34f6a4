// Correlations along rows and columns, their adjoints, 2-D correlation, padding, shifts and
// the kernel generators.
//
// Every pass is written as a list of taps (offset, weight); the column passes turn the list
// into, for each output row, the input rows and weights that feed it, so a forward pass and
// its adjoint are the same loop over transposed lists. Rows are padded by reflection once,
// so every pass comes down to one loop: the weighted sum of a list of float lines.
#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/lines.h"
#include "numeric/matrix.h"
#include "numeric/streaming.h"
#include "platform/parallel.h"

namespace {
struct Tap {
  int64_t offset;  // the tap reads the input at position + offset
  float w;
};
using Taps = std::vector<Tap>;

// The taps of a 1-D kernel, centre n/2; zero taps are left out.
Taps KernelTaps(const matrix& kernel) {
  Taps taps;
  const int c = kernel.n / 2;
  for (int j = 0; j < kernel.n; ++j) {
    if (kernel.x[j] != 0.0f) taps.push_back({j - c, kernel.x[j]});
  }
  return taps;
}

// The same taps for a line of w samples, each offset reduced by the period of the
// whole-sample reflection (2w - 2): it reads the same samples, and the padding of a row
// stays within a few lengths of the row however wide the holes of the kernel are.
Taps FoldTaps(const Taps& taps, int w) {
  const int64_t period = 2 * int64_t(w) - 2;
  Taps folded = taps;
  for (Tap& t : folded) t.offset = period > 0 ? t.offset % period : 0;
  return folded;
}

// The reach of the taps before and after a position.
std::pair<int64_t, int64_t> Reach(const Taps& taps) {
  int64_t before = 0, after = 0;
  for (const Tap& t : taps) {
    before = std::max(before, -t.offset);
    after = std::max(after, t.offset);
  }
  return {before, after};
}

// pad[p] = row[p - before] for p in [0, size), the margins by whole-sample reflection.
void PadRow(const float* row, int w, int64_t before, float* pad, int64_t size) {
  const int64_t lo = std::min(before, size), hi = std::min(before + w, size);
  for (int64_t p = 0; p < lo; ++p) pad[p] = row[ReflectWhole(p - before, w)];
  std::copy(row + (lo - before), row + (hi - before), pad + lo);
  for (int64_t p = hi; p < size; ++p) pad[p] = row[ReflectWhole(p - before, w)];
}

// out = (or += with add) the rows of in correlated with the taps. out is dimensioned like in
// and may be in: each row is padded aside before it is overwritten.
void RowPass(const Taps& unfolded, const matrix& in, matrix& out, bool add = false) {
  out.dim(in.nx, in.ny);
  const int w = in.nx;
  if (in.n == 0) return;
  const Taps taps = FoldTaps(unfolded, w);
  const auto [before, after] = Reach(taps);
  const int64_t size = w + before + after;
  ParallelBlocks(in.ny, BlockFor(size * int64_t(taps.size())), [&](int64_t y0, int64_t y1) {
    std::vector<float> pad(static_cast<size_t>(size));
    Lines lines;
    for (const Tap& t : taps) lines.push(pad.data() + before + t.offset, t.w);
    for (int64_t y = y0; y < y1; ++y) {
      PadRow(in.z[y], w, before, pad.data(), size);
      lines.apply(w, {nullptr, out.z[y], add});
    }
  });
}

// out += the adjoint of RowPass applied to in: every input sample is spread over the
// padded positions its taps read, and the padding is folded back by the same reflection.
// Spreading a sample over the positions its taps read is gathering, at each padded
// position q, the samples whose taps read it: pad[q] = the sum over the taps of
// w * in[q - before - offset], zero outside the row. Output x takes pad[x + before] and the
// padded positions that fold onto it. Away from both ends nothing folds and every sample is
// inside, so those outputs are a plain correlation of the row with the mirrored taps; only
// the ends are gathered and folded one position at a time, in the same order of terms.
void RowPassAdjoint(const Taps& unfolded, const matrix& in, matrix& out, bool add = true) {
  const int w = in.nx;
  if (in.n == 0) return;
  const Taps taps = FoldTaps(unfolded, w);
  const auto [before, after] = Reach(taps);
  const int64_t span = before + after;
  // Outputs [a, b) are the plain ones: every read inside, no fold lands there.
  int64_t a = std::max(after, before + 1), b = std::min(w - before, w - 1 - after);
  if (before >= w || after >= w || a >= b) a = b = w;
  const int64_t cost = (w + span) * int64_t(taps.size());
  ParallelBlocks(in.ny, BlockFor(cost), [&](int64_t y0, int64_t y1) {
    std::vector<double> pad(static_cast<size_t>(w + span));
    std::vector<double> acc(static_cast<size_t>(w));
    std::vector<float> copy(&in == &out ? static_cast<size_t>(w) : 0);
    Lines lines;
    for (int64_t y = y0; y < y1; ++y) {
      const float* row = in.z[y];
      float* o = out.z[y];
      if (!copy.empty()) {
        std::copy(row, row + w, copy.begin());
        row = copy.data();
      }
      if (a < b) {
        lines.clear();
        for (const Tap& t : taps) lines.push(row + (a - t.offset), t.w);
        lines.apply(int(b - a), {nullptr, o + a, add});
      }
      const auto gather = [&](int64_t q) {
        double sum = 0.0;
        for (const Tap& t : taps) {
          const int64_t i = q - before - t.offset;
          sum += t.w * (i >= 0 && i < w ? double(row[i]) : 0.0);
        }
        pad[size_t(q)] = sum;
      };
      for (int64_t q = 0; q < a + before; ++q) gather(q);
      for (int64_t q = b + before; q < w + span; ++q) gather(q);
      for (int64_t x = 0; x < a; ++x) acc[size_t(x)] = pad[size_t(x + before)];
      for (int64_t x = b; x < w; ++x) acc[size_t(x)] = pad[size_t(x + before)];
      for (int64_t p = 0; p < before; ++p) acc[ReflectWhole(p - before, w)] += pad[size_t(p)];
      for (int64_t p = before + w; p < w + span; ++p) {
        acc[ReflectWhole(p - before, w)] += pad[size_t(p)];
      }
      const auto store = [&](int64_t x) {
        o[x] = static_cast<float>(add ? o[x] + acc[size_t(x)] : acc[size_t(x)]);
      };
      for (int64_t x = 0; x < a; ++x) store(x);
      for (int64_t x = b; x < w; ++x) store(x);
    }
  });
}

RowSources ColumnSources(const Taps& taps, int h, bool adjoint) {
  RowSources sources(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    for (const Tap& t : taps) {
      const int r = ReflectWhole(y + t.offset, h);
      if (adjoint) {
        sources[size_t(r)].push_back({y, t.w});
      } else {
        sources[size_t(y)].push_back({r, t.w});
      }
    }
  }
  return sources;
}

void ColumnPassInto(const Taps& taps, const matrix& in, matrix& out, bool adjoint, bool add) {
  if (&in == &out) {
    const matrix copy(in);
    ColumnPassInto(taps, copy, out, adjoint, add);
    return;
  }
  if (in.n == 0) return;
  SumSourceRows(ColumnSources(taps, in.ny, adjoint), in.z, out.z, in.nx, add);
}

bool SameShape(const matrix& a, const matrix& b) { return a.nx == b.nx && a.ny == b.ny; }
}  // namespace

matrix& matrix::correlatex(const matrix& kernel, const matrix& input) {
  RowPass(KernelTaps(kernel), input, *this);
  return *this;
}

matrix& matrix::correlatey(const matrix& kernel, const matrix& input) {
  if (&input != this) dim(input.nx, input.ny);
  ColumnPassInto(KernelTaps(kernel), input, *this, false, false);
  return *this;
}

matrix& matrix::correlatexadd(const matrix& kernel, const matrix& input) {
  assert(SameShape(*this, input));
  if (!SameShape(*this, input)) return *this;
  RowPass(KernelTaps(kernel), input, *this, true);
  return *this;
}

matrix& matrix::scatterx(const matrix& kernel, const matrix& input) {
  assert(SameShape(*this, input));
  if (!SameShape(*this, input)) return *this;
  RowPassAdjoint(KernelTaps(kernel), input, *this);
  return *this;
}

matrix& matrix::scattery(const matrix& kernel, const matrix& input) {
  assert(SameShape(*this, input));
  if (!SameShape(*this, input)) return *this;
  ColumnPassInto(KernelTaps(kernel), input, *this, true, true);
  return *this;
}

matrix& matrix::correlatexadj(const matrix& kernel, const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return correlatexadj(kernel, copy);
  }
  dim(input.nx, input.ny);
  RowPassAdjoint(KernelTaps(kernel), input, *this, false);
  return *this;
}

matrix& matrix::correlateyadj(const matrix& kernel, const matrix& input) {
  if (&input != this) dim(input.nx, input.ny);
  // Every output row is written: a row that no tap reaches gets zeros.
  ColumnPassInto(KernelTaps(kernel), input, *this, true, false);
  return *this;
}

matrix& matrix::correlatexy(const matrix& kx, const matrix& ky, const matrix& input) {
  if (kx.n > 1 && ky.n > 1) {
    matrix temp;
    temp.correlatex(kx, input);
    dim(input.nx, input.ny);
    ColumnPassInto(KernelTaps(ky), temp, *this, false, false);
    return *this;
  }
  if (kx.n > 1) return correlatex(kx, input);
  if (ky.n > 1) return correlatey(ky, input);
  return assign(input);
}

matrix& matrix::scatterxy(const matrix& kx, const matrix& ky, const matrix& input) {
  if (kx.n > 1 && ky.n > 1) {
    matrix temp;
    temp.correlatexadj(kx, input);
    return scattery(ky, temp);
  }
  if (kx.n > 1) return scatterx(kx, input);
  if (ky.n > 1) return scattery(ky, input);
  // Both kernels are the identity, whose adjoint is the identity: added like every other
  // case, so that accumulating callers get a sum and not a replacement.
  assert(SameShape(*this, input));
  if (SameShape(*this, input)) add(input);
  return *this;
}

matrix& matrix::setscatterxy(const matrix& kx, const matrix& ky, const matrix& input) {
  if (&input == this) {
    const matrix copy(input);
    return setscatterxy(kx, ky, copy);
  }
  dim(input.nx, input.ny).zero();
  return scatterxy(kx, ky, input);
}

matrix& matrix::correlate(matrix& kernel, const matrix& input, bool normalise) {
  if (normalise) {
    const double s = kernel.sum();
    if (s != 0.0) kernel.mulscalar(static_cast<float>(1.0 / s));
  }
  return correlate(static_cast<const matrix&>(kernel), input);
}

matrix& matrix::correlate(const matrix& kernel, const matrix& input) {
  if (&kernel == this) {
    const matrix copy(kernel);
    return correlate(copy, input);
  }
  const int w = input.nx, h = input.ny;
  if (input.n == 0) return dim(w, h);
  // Every input row is padded by reflection once; the padded copy also makes the
  // correlation safe when this plane is the input.
  const int64_t cx = kernel.nx / 2, cy = kernel.ny / 2;
  const int64_t padw = w + int64_t(kernel.nx) - 1;
  std::vector<float> padded(static_cast<size_t>(std::max<int64_t>(0, padw * h)));
  ParallelBlocks(h, BlockFor(padw), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      PadRow(input.z[y], w, cx, padded.data() + size_t(y) * size_t(padw), padw);
    }
  });
  dim(w, h);
  if (n == 0) return *this;
  ParallelBlocks(h, BlockFor(int64_t(w) * kernel.n), [&](int64_t y0, int64_t y1) {
    Lines lines;
    for (int64_t y = y0; y < y1; ++y) {
      lines.clear();
      for (int j = 0; j < kernel.ny; ++j) {
        const float* src = padded.data() + size_t(ReflectWhole(y + j - cy, h)) * size_t(padw);
        for (int i = 0; i < kernel.nx; ++i) {
          if (kernel.z[j][i] != 0.0f) lines.push(src + i, kernel.z[j][i]);
        }
      }
      lines.apply(w, {nullptr, z[y], false});
    }
  });
  return *this;
}

matrix& matrix::mean3x3() {
  if (nx < 3 || ny < 3) return *this;
  const matrix before(*this);
  for (int y = 1; y < ny - 1; ++y) {
    for (int i = 1; i < nx - 1; ++i) {
      double s = 0.0;
      for (int dy = -1; dy <= 1; ++dy) {
        const float* r = before.z[y + dy] + i;
        s += double(r[-1]) + r[0] + r[1];
      }
      z[y][i] = static_cast<float>(s * 0.11111111f);
    }
  }
  return *this;
}

matrix& matrix::convolvefull(const matrix& kernel, const matrix& vector) {
  if (kernel.n == 0 || vector.n == 0) return dim(0, 1);
  const matrix k(kernel), v(vector);  // either may be this plane
  const int length = k.n + v.n - 1;
  if (n != length) dim(length, 1);
  for (int i = 0; i < length; ++i) {
    double s = 0.0;
    const int lo = std::max(0, i - (v.n - 1)), hi = std::min(k.n - 1, i);
    for (int t = lo; t <= hi; ++t) s += double(k.x[t]) * v.x[i - t];
    x[i] = static_cast<float>(s);
  }
  return *this;
}

matrix& matrix::atrous(const matrix& input, int level) {
  // Holes of 2^level samples; the folding reflection keeps any level inside the plane.
  const int64_t h = int64_t{1} << std::clamp(level, 0, 40);
  const Taps taps = {{-2 * h, 0.0625f}, {-h, 0.25f}, {0, 0.375f}, {h, 0.25f}, {2 * h, 0.0625f}};
  matrix rows;
  RowPass(taps, input, rows);
  dim(rows.nx, rows.ny);
  ColumnPassInto(taps, rows, *this, false, false);
  return *this;
}

int GaussianLength(float sigma, float k) {
  if (!(sigma > 0.0f) || !std::isfinite(sigma)) return 3;
  const double want = std::trunc(2.0 * double(k) * sigma + 0.5);
  const int m = static_cast<int>(std::clamp(want, 3.0, double(1 << 30)));
  return m % 2 == 0 ? m + 1 : m;
}

matrix& matrix::gaussian(float sigma, float k) {
  if (!(sigma > 0.0f) || !std::isfinite(sigma)) {
    // No width: the identity, not a kernel of NaN.
    dim(3, 1);
    x[0] = x[2] = 0.0f;
    x[1] = 1.0f;
    return *this;
  }
  const int m = GaussianLength(sigma, k);
  dim(m, 1);
  double s = 0.0;
  for (int i = 0; i < m; ++i) {
    x[i] = static_cast<float>(KernelGaussian(i - m / 2, sigma));
    s += x[i];
  }
  const float scale = static_cast<float>(1.0 / s);
  for (int i = 0; i < m; ++i) x[i] *= scale;
  return *this;
}

matrix& matrix::diffkernel(int order) {
  if (order < 2 || order > 8) {
    dim(2, 1);
    x[0] = -1.0f;
    x[1] = 1.0f;
    return *this;
  }
  // Binomial coefficients with alternating signs, starting positive.
  dim(order + 1, 1);
  double c = 1.0;
  for (int j = 0; j <= order; ++j) {
    x[j] = static_cast<float>(j % 2 ? -c : c);
    c = c * (order - j) / (j + 1);
  }
  return *this;
}

matrix& matrix::mirrorpad(const matrix& src, int k) {
  if (&src == this) {
    const matrix copy(src);
    return mirrorpad(copy, k);
  }
  k = std::max(0, k);
  dim(src.nx + 2 * k, src.ny + 2 * k);
  if (n == 0) return *this;
  if (src.n == 0) return zero();
  // The middle of each row is a plain copy; only the margins are reflected sample by sample.
  const int left = std::min(k, nx), middle = std::min(src.nx, nx - left);
  ParallelBlocks(ny, BlockFor(nx), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* row = src.z[ReflectHalf(y - k, src.ny)];
      float* out = z[y];
      for (int i = 0; i < left; ++i) out[i] = row[ReflectHalf(int64_t(i) - k, src.nx)];
      std::memcpy(out + left, row, sizeof(float) * size_t(middle));
      for (int i = left + middle; i < nx; ++i) out[i] = row[ReflectHalf(int64_t(i) - k, src.nx)];
    }
  });
  return *this;
}

matrix& matrix::extend(const matrix& src) {
  if (&src == this || n == 0) return *this;
  if (src.n == 0) return zero();
  for (int y = 0; y < ny; ++y) {
    const float* row = src.z[ReflectWhole(y, src.ny)];
    for (int i = 0; i < nx; ++i) z[y][i] = row[ReflectWhole(i, src.nx)];
  }
  return *this;
}

matrix& matrix::rollfrom(const matrix& src, int dx, int dy) {
  assert(&src != this);
  dim(src.nx, src.ny);
  if (n == 0) return *this;
  const int w = nx, h = ny;
  // A distance of 0 or of at least the length leaves that direction alone.
  const int sx = (dx != 0 && std::abs(int64_t(dx)) < w) ? (dx > 0 ? dx : w + dx) : 0;
  const int sy = (dy != 0 && std::abs(int64_t(dy)) < h) ? (dy > 0 ? dy : h + dy) : 0;
  // Output row y takes input row y - sy, in two copies.
  const size_t head = size_t(sx), tail = size_t(w - sx);
  const bool streams = int64_t(n) * int64_t(sizeof(float)) >= kStreamBytes;
  ParallelBlocks(h, BlockFor(w), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      const float* in = src.z[(y - sy + h) % h];
      if (streams) {
        StreamFloats(z[y] + sx, in, tail);
        StreamFloats(z[y], in + (w - sx), head);
      } else {
        std::memcpy(z[y] + sx, in, sizeof(float) * tail);
        std::memcpy(z[y], in + (w - sx), sizeof(float) * head);
      }
    }
    if (streams) StreamFence();
  });
  return *this;
}

matrix& matrix::shift(int dx, int dy) {
  if (n == 0) return *this;
  matrix out;
  out.rollfrom(*this, dx, dy);
  // A view keeps its borrowed block; an owned plane takes the new one.
  if (isview()) {
    std::memcpy(x, out.x, sizeof(float) * size_t(n));
  } else {
    moveassign(out);
  }
  return *this;
}
