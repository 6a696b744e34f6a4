// Xin Li enlargement with the twelve-coefficient model: each new sample of a Lanczos-15
// doubling is predicted from its four near neighbours and eight neighbour pairs, the
// weights fitted on a lightly blurred copy of the dominant channel over a training lattice
// around it and applied to every channel.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "numeric/resample.h"
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

// sums += sign x the products of the training sample (m, k) of the target (row, column).
inline void AddSample(const StepContext& s, double* sums, int row, int column, int m, int k,
                      double sign) {
  int dr, dc;
  Training(s.kind, m, k, s.n, dr, dc);
  double x[12];
  s.regressors(s.statistics->z, row + dr, column + dc, x);
  xinli::AddProducts(sums, x, s.statistics->z[row + dr][column + dc], sign);
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

// The targets of one row. Incrementally, the sums of the first target are built whole and
// each next target's from its neighbour's: the diagonal lattice gains a column and loses
// one (kept from when it entered); the turned lattice of the axial steps gains its
// leading edge (a line of m and a line of k) and loses its trailing one.
void Row(const StepContext& s, int r, std::vector<double>& columns) {
  const int row = 2 * r + s.rowParity, n = s.n;
  const bool incremental = s.incremental && !s.taper;
  double sums[xinli::kSums];
  LocalModel12 model;
  double x[12];
  for (int c = s.first; c < s.lastColumn; ++c) {
    const int column = 2 * c + s.columnParity;
    model.reset(s.lambda, 0.25, 0.0);
    if (!incremental) {
      DirectSums(s, model, row, column);
    } else {
      if (c == s.first) std::fill(std::begin(sums), std::end(sums), 0.0);
      if (s.kind == Kind::Diagonal) {
        // Column k of the lattice of target c is ring slot (c + k) mod n.
        const int from = c == s.first ? 0 : n - 1;
        for (int k = from; k < n; ++k) {
          double* slot = &columns[size_t((c + k) % n) * xinli::kSums];
          if (c != s.first) {
            for (int i = 0; i < xinli::kSums; ++i) sums[i] -= slot[i];
          }
          std::fill(slot, slot + xinli::kSums, 0.0);
          for (int m = 0; m < n; ++m) AddSample(s, slot, row, column, m, k, 1.0);
          for (int i = 0; i < xinli::kSums; ++i) sums[i] += slot[i];
        }
      } else if (c == s.first) {
        for (int m = 0; m < n; ++m) {
          for (int k = 0; k < n; ++k) AddSample(s, sums, row, column, m, k, 1.0);
        }
      } else {
        // Two columns on, sample (m, k) of the vertical step is (m + 1, k + 1) of the target
        // before, of the horizontal step (m - 1, k + 1).
        const int previous = column - 2;
        const int lead = s.kind == Kind::Vertical ? n - 1 : 0, trail = n - 1 - lead;
        for (int k = 0; k < n; ++k) AddSample(s, sums, row, previous, trail, k, -1.0);
        for (int m = 0; m < n; ++m) {
          if (m != trail) AddSample(s, sums, row, previous, m, 0, -1.0);
        }
        for (int k = 0; k < n; ++k) AddSample(s, sums, row, column, lead, k, 1.0);
        for (int m = 0; m < n; ++m) {
          if (m != lead) AddSample(s, sums, row, column, m, n - 1, 1.0);
        }
      }
      model.add(sums);
    }
    if (model.solve() && s.normalise) model.normalise(s.exact, s.e);
    for (int ch = 0; ch < s.out->channels; ++ch) {
      float* const* z = s.out->plane[ch].z;
      s.regressors(z, row, column, x);
      z[row][column] = float(model.predict(x));
    }
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
      std::vector<double> columns(size_t(n) * xinli::kSums);
      for (int64_t r = r0; r < r1; ++r) Row(s, int(r) + border, columns);
    });
    if (cancelled) throw Cancelled{};
  }
  return syncviews();
}
