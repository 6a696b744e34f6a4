// Xin Li enlargement with the twelve-coefficient model: each new sample of a Lanczos-15
// doubling is predicted from its four near neighbours and eight neighbour pairs, the
// weights fitted on a lightly blurred copy of the dominant channel over a training lattice
// around it and applied to every channel.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "numeric/resample.h"
#include "numeric/vectorclones.h"
#include "numeric/xinli.h"
#include "ops/resize/xinli.h"
#include "platform/errors.h"
#include "platform/parallel.h"
#include "platform/progress.h"

using xinli::LocalModel12;

fpbuffer& fpbuffer::XinLiEnlarge(float bias, int window, float taper, float normWeight,
                                 int dominantChannel, int passes, bool alternate, float sigma,
                                 bool incremental) {
  return XinLiPasses(*this, dominantChannel, passes, alternate,
                     [&](fpbuffer& image, fpbuffer& copy, bool turn) {
                       image.XinLiStep12(copy, bias, window, taper, normWeight, dominantChannel,
                                         sigma, turn, incremental);
                     });
}

namespace {

enum class Kind { Diagonal, Vertical, Horizontal };

using Regressors = void (*)(const float* const* z, int r, int c, double* x);

struct StepContext {
  Kind kind;
  Regressors regressors;
  int rowParity, columnParity;  // target (2r + rowParity, 2c + columnParity)
  int n, first, lastColumn;     // window; low-resolution columns first .. lastColumn - 1
  double lambda, e;
  bool normalise, exact, incremental;
  const matrix* statistics;
  const matrix* taper;  // null: equal weights
  fpbuffer* out;
};

// The training position (m, k) relative to the target: a lattice of spacing 2 for the
// diagonal step, the same turned by 45 degrees for the axial ones.
inline void Training(Kind kind, int m, int k, int n, int& dr, int& dc) {
  if (kind == Kind::Diagonal) {
    dr = 2 * m - (n - 1);
    dc = 2 * k - (n - 1);
  } else if (kind == Kind::Vertical) {
    dr = k - m;
    dc = k + m - (n - 1);
  } else {
    dr = k + m - (n - 1);
    dc = k - m;
  }
}

// The model of one target from the whole lattice, each sample weighed by the taper.
void DirectSums(const StepContext& s, LocalModel12& model, int row, int column) {
  const float* const* z = s.statistics->z;
  for (int m = 0; m < s.n; ++m) {
    for (int k = 0; k < s.n; ++k) {
      int dr, dc;
      Training(s.kind, m, k, s.n, dr, dc);
      s.regressors(z, row + dr, column + dc, model.x);
      model.y = z[row + dr][column + dc];
      if (s.taper) model.weight(s.taper->z[m][k]);
      model.accumulate();
    }
  }
}

// The targets of one row from sums built whole for each.
void DirectRow(const StepContext& s, int r) {
  const int row = 2 * r + s.rowParity;
  LocalModel12 model;
  double x[12];
  for (int c = s.first; c < s.lastColumn; ++c) {
    const int column = 2 * c + s.columnParity;
    model.reset(s.lambda, 0.25, 0.0);
    DirectSums(s, model, row, column);
    if (model.solve() && s.normalise) model.normalise(s.exact, s.e);
    for (int ch = 0; ch < s.out->channels; ++ch) {
      float* const* z = s.out->plane[ch].z;
      s.regressors(z, row, column, x);
      z[row][column] = float(model.predict(x));
    }
  }
}

// Solves the models of the `count` consecutive targets whose sums are in chunk, side by
// side, and predicts them in every channel.
template <Kind kind>
[[gnu::always_inline]] inline void SolveChunk(const StepContext& s, int row, int firstColumn,
                                              const double (&chunk)[4][xinli::kSums], int count) {
  constexpr auto regressors = kind == Kind::Diagonal ? xinli::DiagonalRegressors
                                                     : xinli::AxialRegressors;
  xinli::LocalModels12x4 models;
  const double* const lanes[4] = {chunk[0], chunk[std::min(1, count - 1)],
                                   chunk[std::min(2, count - 1)], chunk[std::min(3, count - 1)]};
  models.set(lanes, s.lambda, 0.25, 0.0);
  double coefficients[4][12];
  models.solve(s.normalise, s.exact, s.e, 0.25, 0.0, coefficients);
  for (int l = 0; l < count; ++l) {
    const int column = firstColumn + 2 * l;
    for (int ch = 0; ch < s.out->channels; ++ch) {
      float* const* z = s.out->plane[ch].z;
      double x[12];
      regressors(z, row, column, x);
      double v = 0;
      for (int i = 0; i < 12; ++i) v += coefficients[l][i] * x[i];
      z[row][column] = float(v);
    }
  }
}

// The targets of one row, each target's sums built from its neighbour's. The diagonal
// lattice gains a column of n samples and loses one, whose sums are kept in a ring since it
// entered. The turned lattice of the axial steps, in coordinates (M, K) = (m + t, k + t) of
// target t (m counted from the other side for the horizontal step), is the square
// [t, t + n)^2: a sample (M, K) enters at target max(M, K) - n + 1 and is last used at
// target min(M, K), so the samples are summed in buckets by min(M, K), a ring of n, and a
// target's sums are its n live buckets: 2n - 1 new samples per target, and every sum spans
// at most n targets.
template <Kind kind>
[[gnu::always_inline]] inline void IncrementalRowOf(const StepContext& s, int r,
                                                    std::vector<double>& ring) {
  constexpr auto regressors = kind == Kind::Diagonal ? xinli::DiagonalRegressors
                                                     : xinli::AxialRegressors;
  constexpr int kS = xinli::kSums;
  const int row = 2 * r + s.rowParity, n = s.n, count = s.lastColumn - s.first;
  const float* const* z = s.statistics->z;
  const int column0 = 2 * s.first + s.columnParity;
  auto slot = [&](int j) __attribute__((always_inline)) { return &ring[size_t(j % n) * kS]; };
  auto factors = [&](xinli::Factors& f, int pr, int pc) __attribute__((always_inline)) {
    double x[12];
    regressors(z, pr, pc, x);
    f.set(x, z[pr][pc]);
  };
  alignas(32) double total[kS] = {};
  alignas(32) double chunk[4][kS];
  int filled = 0;
  for (int t = 0; t < count; ++t) {
    const int column = column0 + 2 * t;
    double* sums = chunk[filled];
    if constexpr (kind == Kind::Diagonal) {
      // Column k of the lattice of target t is ring slot (t + k) mod n.
      for (int k = t == 0 ? 0 : n - 1; k < n; ++k) {
        double* column_sums = slot(t + k);
        if (t != 0) xinli::SubtractSums(total, column_sums);
        std::fill(column_sums, column_sums + kS, 0.0);
        // The column's samples in groups, each group added in one pass over the sums.
        constexpr int kGroup = 16;
        xinli::Factors f[kGroup] = {};
        for (int m0 = 0; m0 < n; m0 += kGroup) {
          const int group = std::min(kGroup, n - m0);
          for (int m = 0; m < group; ++m) {
            factors(f[m], row + 2 * (m0 + m) - (n - 1), column + 2 * k - (n - 1));
          }
          xinli::AddProducts(column_sums, f, group, 1.0);
        }
        xinli::AddSums(total, column_sums);
      }
      std::copy(total, total + kS, sums);
    } else {
      // Sample (M, K) lies at (K - M, K + M - (n - 1)) from target 0 in both axial steps.
      auto at = [&](xinli::Factors& f, int M, int K) __attribute__((always_inline)) {
        factors(f, row + K - M, column0 + K + M - (n - 1));
      };
      xinli::Factors f[2] = {};
      if (t == 0) {
        std::fill(ring.begin(), ring.end(), 0.0);
        for (int M = 0; M < n; ++M) {
          for (int K = 0; K < n; ++K) {
            at(f[0], M, K);
            xinli::AddProducts(slot(std::min(M, K)), f, 1, 1.0);
          }
        }
      } else {
        // The entering samples (edge, j) and (j, edge) share bucket j.
        const int edge = t + n - 1;
        std::fill(slot(edge), slot(edge) + kS, 0.0);
        for (int j = t; j < edge; ++j) {
          at(f[0], edge, j);
          at(f[1], j, edge);
          xinli::AddProducts(slot(j), f, 2, 1.0);
        }
        at(f[0], edge, edge);
        xinli::AddProducts(slot(edge), f, 1, 1.0);
      }
      std::copy(slot(t), slot(t) + kS, sums);
      for (int j = t + 1; j <= t + n - 1; ++j) xinli::AddSums(sums, slot(j));
    }
    if (++filled == 4 || t == count - 1) {
      SolveChunk<kind>(s, row, column - 2 * (filled - 1), chunk, filled);
      filled = 0;
    }
  }
}

ZEP_VECTOR_CLONES void IncrementalRow(const StepContext& s, int r, std::vector<double>& ring) {
  switch (s.kind) {
    case Kind::Diagonal:
      IncrementalRowOf<Kind::Diagonal>(s, r, ring);
      break;
    case Kind::Vertical:
      IncrementalRowOf<Kind::Vertical>(s, r, ring);
      break;
    case Kind::Horizontal:
      IncrementalRowOf<Kind::Horizontal>(s, r, ring);
      break;
  }
}

}  // namespace

fpbuffer& fpbuffer::XinLiStep12(fpbuffer& input, float bias, int window, float taper,
                                float normWeight, int dominantChannel, float sigma, bool turnInput,
                                bool incremental) {
  if (input.empty()) {
    clear(true);
    return *this;
  }
  // Callers check the channel; a direct call with one the image lacks takes the nearest.
  const int d = std::clamp(input.dominantchannel(dominantChannel), 1, std::min(3, input.channels));
  if (turnInput) input.hflip().vflip();
  const int w = input.width, h = input.height;
  {
    matrix kx, ky;
    BuildLanczosKernelForSizes(kx, 15, w, 2 * w, 0.5f);
    BuildLanczosKernelForSizes(ky, 15, h, 2 * h, 0.5f);
    dimunset(2 * w, 2 * h, input.code);
    resamplefrom(input, kx, ky, false, false);
  }
  // The known samples are the input's, whatever the kernel's rounding at whole offsets.
  for (int c = 0; c < channels; ++c) {
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < w; ++j) plane[c].z[2 * i][2 * j] = input.plane[c].z[i][j];
    }
  }
  input.clear();

  const int n = xinli::EvenWindow(window);
  const int border = n / 2 + 1;
  if (w <= 2 * border || h <= 2 * border) return *this;
  matrix statistics = plane[d - 1];
  statistics.gaussblury(sigma, 0);
  statistics.gaussblurx(sigma, 0);
  matrix weights;
  if (taper > 0) {
    weights.dim(n, n);
    weights.radialweights(taper);
  }

  StepContext s{};
  s.n = n;
  s.first = border;
  s.lastColumn = w - border;
  const double q = double(bias) * n / 4;
  s.lambda = q * q;
  s.normalise = normWeight != 0;
  s.exact = normWeight == 10000.0f;
  s.e = 1.0 / (double(normWeight) * normWeight);
  s.incremental = incremental;
  s.statistics = &statistics;
  s.taper = taper > 0 ? &weights : nullptr;
  s.out = this;
  const int64_t rows = h - 2 * border;
  const int64_t block = BlockFor(int64_t(w - 2 * border) * n * n * 90);
  const struct {
    Kind kind;
    Regressors regressors;
    int rowParity, columnParity;
  } steps[3] = {{Kind::Diagonal, xinli::DiagonalRegressors, 1, 1},
                {Kind::Vertical, xinli::AxialRegressors, 1, 0},
                {Kind::Horizontal, xinli::AxialRegressors, 0, 1}};
  for (const auto& step : steps) {
    s.kind = step.kind;
    s.regressors = step.regressors;
    s.rowParity = step.rowParity;
    s.columnParity = step.columnParity;
    const bool cancelled = ParallelBlocksTicking(rows, block, [&](int64_t r0, int64_t r1) {
      if (!s.incremental || s.taper) {
        for (int64_t r = r0; r < r1; ++r) DirectRow(s, int(r) + border);
        return;
      }
      std::vector<double> ring(size_t(n) * xinli::kSums);
      for (int64_t r = r0; r < r1; ++r) IncrementalRow(s, int(r) + border, ring);
    });
    if (cancelled) throw Cancelled{};
  }
  return syncviews();
}
