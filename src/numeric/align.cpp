// Registration on planes: the pyramid reduction, the masked difference costs, the six-tap
// shifts and their sub-pixel refinement, the block fields and the warp by fields.
#include "numeric/align.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/kernels.h"
#include "numeric/matrixarray.h"
#include "numeric/resample.h"
#include "platform/errors.h"
#include "platform/parallel.h"

namespace {
// Lanczos-3 with exact zeros at the nonzero whole distances, where sin(pi k) in doubles is
// not quite 0: a whole shift must copy, also next to samples of very different size.
double Lanczos3(double x) {
  if (x != 0.0 && x == std::trunc(x)) return 0.0;
  return KernelLanczos(x, 3.0);
}

constexpr float kNoScore = std::numeric_limits<float>::infinity();

// Whether a mask's bit k excludes the pixel (no mask excludes nothing).
inline bool Excluded(const bitmask* m, int k) { return m != nullptr && m->getbit(k); }
}  // namespace

int AlignLevelCount(int w, int h) {
  int f = std::min(w, h), levels = 1;
  while (f > 16) {
    f /= 2;
    ++levels;
  }
  return levels;
}

Taps6 SixTapShift(float s, int& g) {
  float f;
  if (s < 0.0f) {
    g = int(std::trunc(-s));
    f = -s - float(g);
  } else {
    g = -int(std::trunc(s)) - 1;
    f = 1.0f - (s - std::trunc(s));
  }
  Taps6 t;
  float sum = 0.0f;
  for (int k = 0; k < 6; ++k) {
    t.w[k] = float(Lanczos3(double(k) - 2.0 - double(f)));
    sum += t.w[k];
  }
  const float scale = 1.0f / sum;
  for (float& w : t.w) w *= scale;
  return t;
}

bitmask FrameMask(int w, int h, int left, int right, int bottom, int top) {
  bitmask m(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x < left || y < bottom || x >= w - right || y >= h - top) m.set(x, y, true);
  return m;
}

// --- Pyramid ---

matrix& matrix::downsample(const matrix& input, const matrix& kernel, int factor) {
  if (factor < 1 || kernel.n < 1) return *this;
  const int w = input.nx, h = input.ny, ow = w / factor, oh = h / factor, K = kernel.n;
  const int lead = (K - factor) / 2;
  matrix rows(ow, h);
  ParallelBlocks(h, 16, [&](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) {
      const float* in = input.x + y * w;
      for (int i = 0; i < ow; ++i) {
        double s = 0.0;
        for (int j = 0; j < K; ++j) s += double(kernel.x[j]) * in[ReflectWhole(int64_t(factor) * i - lead + j, w)];
        rows.x[y * ow + i] = float(s);
      }
    }
  });
  dim(ow, oh);
  ParallelBlocks(oh, 16, [&](int64_t begin, int64_t end) {
    for (int64_t i = begin; i < end; ++i) {
      for (int x = 0; x < ow; ++x) {
        double s = 0.0;
        for (int j = 0; j < K; ++j)
          s += double(kernel.x[j]) * rows.x[int64_t(ReflectWhole(int64_t(factor) * i - lead + j, h)) * ow + x];
        this->x[i * ow + x] = float(s);
      }
    }
  });
  return *this;
}

matrixarray& matrixarray::reducepyramid(const matrix& base, int levels, const matrix& kernel) {
  resize(std::max(levels, 0));
  if (n == 0) return *this;
  m[0] = base;
  for (int k = 1; k < n; ++k) m[k].downsample(m[k - 1], kernel, 2);
  return *this;
}

// --- Costs ---

namespace {
// The mean of term(candidate, reference) over the pixels not excluded; no score when
// there is none or the planes do not match.
template <class Term>
float MaskedMean(const matrix& a, const bitmask* exclude, const matrix& reference, Term term) {
  if (reference.n != a.n || (exclude != nullptr && exclude->n != a.n)) return kNoScore;
  double s = 0.0;
  int64_t count = 0;
  for (int k = 0; k < a.n; ++k) {
    if (Excluded(exclude, k)) continue;
    s += term(double(a.x[k]) - double(reference.x[k]));
    ++count;
  }
  return count == 0 ? kNoScore : float(s / double(count));
}
}  // namespace

float matrix::maskedmse(const bitmask* exclude, const matrix& reference) const {
  return MaskedMean(*this, exclude, reference, [](double d) { return d * d; });
}

float matrix::maskedmad(const bitmask* exclude, const matrix& reference) const {
  return MaskedMean(*this, exclude, reference, [](double d) { return std::fabs(d); });
}

float matrix::maskedmedianad(const bitmask* exclude, const matrix& reference) const {
  if (reference.n != n || (exclude != nullptr && exclude->n != n)) return kNoScore;
  std::vector<float> d;
  d.reserve(size_t(n));
  for (int k = 0; k < n; ++k) {
    if (!Excluded(exclude, k)) d.push_back(std::fabs(x[k] - reference.x[k]));
  }
  if (d.empty()) return kNoScore;
  matrix values(d.data(), int(d.size()), 1);
  return values.median();
}

// --- Six-tap shifts ---

namespace {
// Shifts every line of `lines` lines of `length` samples; consecutive samples of a line are
// `step` apart and line l starts at l * `next`.
void ShiftLines(float* out, const float* in, int lines, int length, int64_t step, int64_t next, float s,
                bitmask* marks) {
  int g = 0;
  const Taps6 t = SixTapShift(s, g);
  ParallelBlocks(lines, 16, [&](int64_t begin, int64_t end) {
    for (int64_t l = begin; l < end; ++l) {
      const float* src = in + l * next;
      float* dst = out + l * next;
      for (int y = 0; y < length; ++y) {
        const int64_t first = int64_t(y) + g - 2;
        double sum = 0.0;
        for (int k = 0; k < 6; ++k) sum += double(t.w[k]) * src[ReflectOnce(first + k, length) * step];
        dst[y * step] = float(sum);
      }
    }
  });
  if (marks == nullptr) return;
  // The samples whose six indices are not all inside the line.
  for (int64_t l = 0; l < lines; ++l) {
    for (int y = 0; y < length; ++y) {
      const int64_t first = int64_t(y) + g - 2;
      if (first >= 0 && first + 5 < length) continue;
      marks->setbit(int(l * next + y * step), true);
    }
  }
}

void PrepareMarks(bitmask* marks, const matrix& input) {
  if (marks != nullptr && !marks->covers(input.nx, input.ny)) marks->dim(input.nx, input.ny);
}
}  // namespace

matrix& matrix::shiftx(const matrix& input, float s, bitmask* marks) {
  matrix out(input.nx, input.ny);
  PrepareMarks(marks, input);
  ShiftLines(out.x, input.x, input.ny, input.nx, 1, input.nx, s, marks);
  return *this = std::move(out);
}

matrix& matrix::shifty(const matrix& input, float s, bitmask* marks) {
  matrix out(input.nx, input.ny);
  PrepareMarks(marks, input);
  ShiftLines(out.x, input.x, input.nx, input.ny, input.nx, 1, s, marks);
  return *this = std::move(out);
}

const matrix& matrix::refineshift(const matrix& offsets, const matrix& reference, float& sx, float& sy,
                                  float& best, const bitmask* exclude, bool reset) const {
  if (reset) best = 1e16f;
  const float bx = sx, by = sy;
  matrix across, both;
  bitmask acrossMarks, marks;
  for (int i = 0; i < offsets.n; ++i) {
    if (exclude != nullptr) {
      acrossMarks = *exclude;
    } else {
      acrossMarks.dim(nx, ny);
    }
    across.shiftx(*this, bx + offsets.x[i], &acrossMarks);
    for (int j = 0; j < offsets.n; ++j) {
      marks = acrossMarks;
      both.shifty(across, by + offsets.x[j], &marks);
      const float cost = both.maskedmad(&marks, reference);
      if (cost < best) {
        best = cost;
        sx = bx + offsets.x[i];
        sy = by + offsets.x[j];
      }
    }
  }
  return *this;
}

// --- Integer shift search ---

namespace {
// Mean of (p(x + cx, y + cy) - t(x, y))^2 over the pixels whose partner lies inside p.
float ShiftScore(const matrix& p, const matrix& t, int cx, int cy) {
  const int w = t.nx, h = t.ny;
  const int x0 = std::max(0, -cx), x1 = std::min(w, p.nx - cx);
  const int y0 = std::max(0, -cy), y1 = std::min(h, p.ny - cy);
  if (x0 >= x1 || y0 >= y1) return kNoScore;
  double s = 0.0;
  for (int y = y0; y < y1; ++y) {
    const float* a = p.x + int64_t(y + cy) * p.nx + cx;
    const float* b = t.x + int64_t(y) * w;
    for (int x = x0; x < x1; ++x) {
      const double d = double(a[x]) - double(b[x]);
      s += d * d;
    }
  }
  return float(s / (double(x1 - x0) * double(y1 - y0)));
}

void SearchLevel(const matrix& p, const matrix& t, int r, int& dx, int& dy) {
  if (2 * r + 1 >= t.nx || 2 * r + 1 >= t.ny) return;
  const int side = 2 * r + 1;
  std::vector<float> scores(size_t(side) * size_t(side));
  ParallelBlocks(int64_t(side) * side, 1, [&](int64_t begin, int64_t end) {
    for (int64_t k = begin; k < end; ++k)
      scores[size_t(k)] = ShiftScore(p, t, dx - r + int(k % side), dy - r + int(k / side));
  });
  // The first strictly smaller score in loop order wins.
  float best = 1e32f;
  int bx = dx, by = dy;
  for (int64_t k = 0; k < int64_t(scores.size()); ++k) {
    if (scores[size_t(k)] < best) {
      best = scores[size_t(k)];
      bx = dx - r + int(k % side);
      by = dy - r + int(k / side);
    }
  }
  dx = bx;
  dy = by;
}
}  // namespace

const matrixarray& matrixarray::shiftsearch(const matrixarray& templ, int& dx, int& dy) const {
  dx = dy = 0;
  if (n == 0 || n != templ.n) return *this;
  const matrix& coarse = templ[n - 1];
  SearchLevel(m[n - 1], coarse, int(0.4f * float(std::min(coarse.nx, coarse.ny))), dx, dy);
  for (int k = n - 2; k >= 0; --k) {
    dx *= 2;
    dy *= 2;
    SearchLevel(m[k], templ[k], 1, dx, dy);
  }
  return *this;
}

// --- Warp by displacement fields ---

matrix& matrix::warpfield(const matrix& input, const matrix& dx, const matrix& dy, const weighttable6& table,
                          bitmask* marks) {
  assign(input);
  PrepareMarks(marks, input);
  if (table.count < 1) return *this;
  const int w = input.nx, h = input.ny;
  const int cw = std::min(w, dx.nx), ch = std::min(h, dx.ny);
  if (dy.nx != dx.nx || dy.ny != dx.ny) return *this;
  // The rows of marks are gathered per row so the parallel blocks never share a word.
  std::vector<uint8_t> left(size_t(w) * size_t(h), 0);
  ParallelBlocks(ch, 8, [&](int64_t begin, int64_t end) {
    for (int64_t y = begin; y < end; ++y) {
      for (int x = 0; x < cw; ++x) {
        const int64_t fk = y * dx.nx + x;
        // Far positions are limited so the index arithmetic stays in range.
        const float u = std::clamp(float(x) - dx.x[fk], -16777216.0f, 16777216.0f);
        const float v = std::clamp(float(y) - dy.x[fk], -16777216.0f, 16777216.0f);
        if (std::isnan(u) || std::isnan(v)) {
          this->x[y * w + x] = 0.0f;
          left[size_t(y * w + x)] = 1;
          continue;
        }
        const int64_t bu = int64_t(std::trunc(u)), bv = int64_t(std::trunc(v));
        const Taps6& wu = table.at(u - float(bu));
        const Taps6& wv = table.at(v - float(bv));
        double sum = 0.0;
        for (int m = 0; m < 6; ++m) {
          const float* row = input.x + int64_t(ReflectOnce(bv - 2 + m, h)) * w;
          double line = 0.0;
          for (int k = 0; k < 6; ++k) line += double(wu.w[k]) * row[ReflectOnce(bu - 2 + k, w)];
          sum += double(wv.w[m]) * line;
        }
        this->x[y * w + x] = float(sum);
        if (bu - 2 < 0 || bu + 3 >= w || bv - 2 < 0 || bv + 3 >= h) left[size_t(y * w + x)] = 1;
      }
    }
  });
  if (marks != nullptr) {
    for (int64_t k = 0; k < int64_t(left.size()); ++k)
      if (left[size_t(k)]) marks->setbit(int(k), true);
  }
  return *this;
}

// --- Block fields ---

namespace {
struct BlockRect {
  int x0, y0, x1, y1;
};
BlockRect Rect(const BlockGrid& g, int i, int j, int w, int h) {
  return {j * g.b, i * g.b, std::min(w, (j + 1) * g.b), std::min(h, (i + 1) * g.b)};
}
inline int Wrap(int v, int n) {
  v %= n;
  return v < 0 ? v + n : v;
}

void DimFields(BlockFields& f, const BlockGrid& g) {
  f.dx.dim(g.nbx, g.nby).zero();
  f.dy.dim(g.nbx, g.nby).zero();
  f.cost.dim(g.nbx, g.nby).fill(1e16f);
}

void RunBlocksTicking(const BlockGrid& g, const std::function<void(int i, int j)>& body) {
  if (ParallelBlocksTicking(int64_t(g.nbx) * g.nby, 1, [&](int64_t begin, int64_t end) {
        for (int64_t k = begin; k < end; ++k) body(int(k / g.nbx), int(k % g.nbx));
      }))
    throw Cancelled{};
}
}  // namespace

void BlockIntegerSearch(const matrix* const* planes, const matrix* const* references, int count, int radius,
                        const BlockGrid& grid, BlockFields& f) {
  DimFields(f, grid);
  const int w = references[0]->nx, h = references[0]->ny;
  RunBlocksTicking(grid, [&](int i, int j) {
    const BlockRect r = Rect(grid, i, j, w, h);
    const double pixels = double(r.x1 - r.x0) * double(r.y1 - r.y0) * count;
    float best = 1e16f;
    int bx = 0, by = 0;
    for (int cy = -radius; cy <= radius; ++cy) {
      for (int cx = -radius; cx <= radius; ++cx) {
        double s = 0.0;
        for (int c = 0; c < count; ++c) {
          const matrix& p = *planes[c];
          const matrix& t = *references[c];
          for (int y = r.y0; y < r.y1; ++y) {
            const float* src = p.x + int64_t(Wrap(y - cy, h)) * w;
            const float* ref = t.x + int64_t(y) * w;
            for (int x = r.x0; x < r.x1; ++x) s += std::fabs(double(ref[x]) - double(src[Wrap(x - cx, w)]));
          }
        }
        const float cost = float(s / pixels);
        if (cost < best) {
          best = cost;
          bx = cx;
          by = cy;
        }
      }
    }
    const int k = i * grid.nbx + j;
    f.dx.x[k] = float(bx);
    f.dy.x[k] = float(by);
    f.cost.x[k] = best;
  });
}

void BlockIntegerSearchByRolling(const matrix* const* planes, const matrix* const* references, int count,
                                 int radius, const BlockGrid& grid, BlockFields& f) {
  DimFields(f, grid);
  const int w = references[0]->nx, h = references[0]->ny;
  std::vector<matrix> rolled(static_cast<size_t>(count));
  for (int cy = -radius; cy <= radius; ++cy) {
    for (int cx = -radius; cx <= radius; ++cx) {
      for (int c = 0; c < count; ++c) rolled[size_t(c)].rollfrom(*planes[c], Wrap(cx, w), Wrap(cy, h));
      for (int i = 0; i < grid.nby; ++i) {
        for (int j = 0; j < grid.nbx; ++j) {
          const BlockRect r = Rect(grid, i, j, w, h);
          double s = 0.0;
          for (int c = 0; c < count; ++c)
            for (int y = r.y0; y < r.y1; ++y)
              for (int x = r.x0; x < r.x1; ++x)
                s += std::fabs(double(references[c]->z[y][x]) - double(rolled[size_t(c)].z[y][x]));
          const float cost = float(s / (double(r.x1 - r.x0) * double(r.y1 - r.y0) * count));
          const int k = i * grid.nbx + j;
          if (cost < f.cost.x[k]) {
            f.cost.x[k] = cost;
            f.dx.x[k] = float(cx);
            f.dy.x[k] = float(cy);
          }
        }
      }
    }
  }
}

void BlockActivity(const matrix* const* references, int count, const BlockGrid& grid, matrix& activity) {
  activity.dim(grid.nbx, grid.nby);
  const int w = references[0]->nx, h = references[0]->ny;
  ParallelBlocks(int64_t(grid.nbx) * grid.nby, 1, [&](int64_t begin, int64_t end) {
    for (int64_t k = begin; k < end; ++k) {
      const BlockRect r = Rect(grid, int(k / grid.nbx), int(k % grid.nbx), w, h);
      matrix block(r.x1 - r.x0, r.y1 - r.y0);
      double s = 0.0;
      for (int c = 0; c < count; ++c) {
        for (int y = r.y0; y < r.y1; ++y)
          for (int x = r.x0; x < r.x1; ++x) block.z[y - r.y0][x - r.x0] = references[c]->z[y][x];
        matrix sorted(block);
        const float m = sorted.median();
        for (int q = 0; q < block.n; ++q) s += std::fabs(double(block.x[q]) - double(m));
      }
      activity.x[k] = float(s / (double(block.n) * count));
    }
  });
}

matrix& matrix::smoothfield(const matrix& activity, float sigma) {
  if (!(sigma > 0.0f) || !std::isfinite(sigma) || n == 0) return *this;
  matrix k;
  k.gaussian(sigma, 3.0f);
  const int taps = k.n, half = taps / 2;
  // The window of a block never reaches past one reflection of the padded planes.
  matrix g(taps, taps);
  double total = 0.0;
  for (int a = 0; a < taps; ++a)
    for (int b = 0; b < taps; ++b) total += double(k.x[a]) * double(k.x[b]);
  for (int a = 0; a < taps; ++a)
    for (int b = 0; b < taps; ++b) g.z[a][b] = float(double(k.x[a]) * double(k.x[b]) / total);
  const int w = nx, h = ny;
  matrix field(*this);
  ParallelBlocks(int64_t(w) * h, 1, [&](int64_t begin, int64_t end) {
    matrix weights(taps, taps), values(taps, taps);
    for (int64_t q = begin; q < end; ++q) {
      const int bi = int(q / w), bj = int(q % w);
      double sum = 0.0;
      for (int a = 0; a < taps; ++a) {
        for (int b = 0; b < taps; ++b) {
          const int yy = ReflectHalf(bi - half + a, h), xx = ReflectHalf(bj - half + b, w);
          values.z[a][b] = field.z[yy][xx];
          weights.z[a][b] = g.z[a][b] * activity.z[yy][xx];
          sum += weights.z[a][b];
        }
      }
      if (sum > 0.0) {
        for (int e = 0; e < weights.n; ++e) weights.x[e] = float(weights.x[e] / sum);
        this->x[q] = WeightedMedian(weights, values);
      } else {
        // A flat neighbourhood has no preferred block: the plain median of the window.
        this->x[q] = values.median();
      }
    }
  });
  return *this;
}

void BlockRefine(const matrix* const* planes, const matrix* const* references, int count, int radius,
                 const BlockGrid& grid, BlockFields& f) {
  const int a = radius + 3, t = grid.b + 2 * a;
  RunBlocksTicking(grid, [&](int i, int j) {
    std::vector<matrix> tiles(static_cast<size_t>(count)), refs(static_cast<size_t>(count));
    for (int c = 0; c < count; ++c) {
      tiles[size_t(c)].dim(t, t).extract(*planes[c], j * grid.b - a, i * grid.b - a);
      refs[size_t(c)].dim(t, t).extract(*references[c], j * grid.b - a, i * grid.b - a);
    }
    const bitmask frame = FrameMask(t, t, a, a, a, a);
    const int k = i * grid.nbx + j;
    float sx = f.dx.x[k], sy = f.dy.x[k], best = f.cost.x[k];
    float step = 0.5f;
    for (int stage = 0; stage < 4; ++stage, step *= 0.5f) {
      const float o[3] = {-step, 0.0f, step};
      // Channel 0's marks serve every plane; the cost is the planes' mean (refineshift's
      // cost for one plane).
      if (stage == 0) best = 1e16f;
      const float bx = sx, by = sy;
      for (int oi = 0; oi < 3; ++oi) {
        bitmask acrossMarks = frame;
        std::vector<matrix> across(static_cast<size_t>(count));
        for (int c = 0; c < count; ++c)
          across[size_t(c)].shiftx(tiles[size_t(c)], bx + o[oi], c == 0 ? &acrossMarks : nullptr);
        for (int oj = 0; oj < 3; ++oj) {
          bitmask marks = acrossMarks;
          double cost = 0.0;
          for (int c = 0; c < count; ++c) {
            matrix both;
            both.shifty(across[size_t(c)], by + o[oj], c == 0 ? &marks : nullptr);
            cost += both.maskedmad(&marks, refs[size_t(c)]);
          }
          const float mean = float(cost) * (count == 3 ? 0.33333334f : 1.0f / float(count));
          if (mean < best) {
            best = mean;
            sx = bx + o[oi];
            sy = by + o[oj];
          }
        }
      }
    }
    f.dx.x[k] = sx;
    f.dy.x[k] = sy;
    f.cost.x[k] = best;
  });
}

matrix& BlockFieldToPixels(matrix& out, const matrix& blocks, const BlockGrid& grid) {
  matrix kx, ky;
  BuildBilinearKernelForScale(kx, grid.nbx, double(grid.b), 0.0f, true);
  BuildBilinearKernelForScale(ky, grid.nby, double(grid.b), 0.0f, true);
  return ResampleSeparable(out, blocks, kx, ky);
}
