// Jensen edge enhancement: near every edge candidate the dominant channel is fitted by a
// straight line between two constant levels (jensenedge.h), and the pixels of a block
// around it are rebuilt from the levels of all three channels, blended across the line.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "numeric/bitmask.h"
#include "numeric/jensenedge.h"
#include "numeric/matrix.h"
#include "platform/messages.h"
#include "platform/parallel.h"

std::vector<std::pair<int, int>> JensenStrips(int height, int segments) {
  std::vector<std::pair<int, int>> strips;
  if (segments <= 1) {
    strips.emplace_back(0, height);
    return strips;
  }
  // More segments than rows would give strips of no rows, which never advance.
  const int rows = std::max(1, height / segments);
  for (int i = 0; i < height; i += rows) strips.emplace_back(i, std::min(i + rows, height));
  return strips;
}

namespace {
// An accepted edge: the line (r, s, c) and the three channels' values on either side.
struct EdgeModel {
  int i, j;
  float r, s, c;
  float plus[3], minus[3];
};

// The fit of one window, with scratch space of its own for a block of rows.
class EdgeFit {
 public:
  EdgeFit(const fpbuffer& image, const int roles[3], int w, float a, bool robust)
      : image_(image), robust_(robust), a_(a), d_(w - 1), n_(2 * w - 1) {
    for (int q = 0; q < 3; ++q) roles_[q] = roles[q];
    rho_ = MeanDistanceFromCentre(n_);
    for (int q = 0; q < 4; ++q) kernels_[q].momentkernel(n_, q + 1);
    const size_t cells = size_t(n_) * n_;
    window_.resize(cells);
    sides_.resize(cells);
    if (robust) {
      for (auto& list : lists_) list = matrix(n_ * n_, 1);
    }
  }

  // The model of the window centred on (j, i), or false when there is none.
  bool Fit(int i, int j, EdgeModel& m) {
    const matrix& t = image_.plane[roles_[0]];
    const int cells = n_ * n_;
    for (int rr = 0; rr < n_; ++rr) {
      const float* row = t.z[i - d_ + rr] + (j - d_);
      std::copy(row, row + n_, window_.data() + size_t(rr) * n_);
    }
    float moments[4];
    EdgeMoments(window_.data(), n_, kernels_, moments);
    const float m1 = moments[0], m2 = moments[1];
    if (m1 == 0 && m2 == 0) return false;
    const float theta = std::atan2(m2, m1);
    m.r = EdgeLineOffset(rho_, theta, m1, m2, moments[2], moments[3]);
    m.s = std::sin(theta);
    m.c = std::cos(theta);

    double total = 0, sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (int rr = 0; rr < n_; ++rr) {
      for (int cc = 0; cc < n_; ++cc) {
        const int v = rr * n_ + cc;
        const int side = SideOfLine(float(cc - d_), float(rr - d_), m.r, m.s, m.c) > 0 ? 1 : 0;
        sides_[v] = uint8_t(side);
        total += window_[v];
        sum[side] += window_[v];
        ++count[side];
      }
    }
    const double mean = total / cells;
    const double sideMean[2] = {count[0] ? sum[0] / count[0] : 0.0,
                                count[1] ? sum[1] / count[1] : 0.0};
    double spread = 0, residual = 0;
    for (int v = 0; v < cells; ++v) {
      spread += (window_[v] - mean) * (window_[v] - mean);
      const double e = window_[v] - sideMean[sides_[v]];
      residual += e * e;
    }
    if (spread * a_ * a_ < residual) return false;

    // Side 0 is -1 (minus), side 1 is +1 (plus).
    for (int q = 0; q < 3; ++q) {
      const int ch = roles_[q];
      if (ch >= image_.channels) {
        m.plus[q] = m.minus[q] = 0;
        continue;
      }
      const matrix& p = image_.plane[ch];
      if (robust_) {
        // A side without cells has no robust value: the pixel is left alone.
        if (count[0] == 0 || count[1] == 0) return false;
        int filled[2] = {0, 0};
        for (int rr = 0; rr < n_; ++rr) {
          const float* row = p.z[i - d_ + rr] + (j - d_);
          for (int cc = 0; cc < n_; ++cc) {
            const int side = sides_[rr * n_ + cc];
            lists_[side].x[filled[side]++] = row[cc];
          }
        }
        m.minus[q] = lists_[0].shortesthalf(filled[0]);
        m.plus[q] = lists_[1].shortesthalf(filled[1]);
      } else {
        double s[2] = {0, 0};
        for (int rr = 0; rr < n_; ++rr) {
          const float* row = p.z[i - d_ + rr] + (j - d_);
          for (int cc = 0; cc < n_; ++cc) s[sides_[rr * n_ + cc]] += row[cc];
        }
        m.minus[q] = count[0] ? float(s[0] / count[0]) : 0.0f;
        m.plus[q] = count[1] ? float(s[1] / count[1]) : 0.0f;
      }
    }
    m.i = i;
    m.j = j;
    return true;
  }

 private:
  const fpbuffer& image_;
  int roles_[3];
  bool robust_;
  float a_;
  int d_, n_;
  float rho_;
  matrix kernels_[4];
  std::vector<float> window_;
  std::vector<uint8_t> sides_;
  matrix lists_[2];
};

bool DefringingSpace(CSpaceCode code) {
  return (code & (cspace::kYCbCr | cspace::kYCbCr2 | cspace::kYUV)) != 0;
}
}  // namespace

fpbuffer& fpbuffer::jensenedges(float a, float b, float k, int w, int dominant, bool robust,
                                bitmask* selection, bool cond, int segments, bool defringing) {
  if (segments <= 1)
    return jensenedgescore(a, b, k, w, dominant, robust, selection, cond, defringing);
  for (const auto& [first, end] : JensenStrips(height, segments)) {
    bitmask strip(width, height);
    for (int y = first; y < end; ++y) {
      for (int x = 0; x < width; ++x) strip.set(x, y, true);
    }
    jensenedgescore(a, b, k, w, dominant, robust, &strip, cond, defringing);
  }
  return *this;
}

fpbuffer& fpbuffer::jensenedgescore(float a, float b, float k, int w, int dominant, bool robust,
                                    bitmask* selection, bool cond, bool defringing) {
  if (defringing && !DefringingSpace(code)) {
    ShowMessage("Color space must be YCbCr, YCbCr2 or YUV!");
    return *this;
  }
  if (n == 0 || w < 1) return *this;
  const int t = defringing ? 0 : dominantchannel(dominant) - 1;
  if (t < 0 || t > 2 || t >= channels) return *this;
  const int roles[3] = {t, t == 1 ? 0 : 1, t == 2 ? 0 : 2};

  // The candidates overwrite the caller's mask: the selection, the strip or, under Cond,
  // the image's own mask.
  const OperationScope scope(*this, selection, cond, ScopeRule{ScopeChannels::All, true});
  bitmask whole;
  bitmask* mask = scope.target();
  int boxX = 0, boxY = 0, boxW = width, boxH = height;
  if (mask) {
    int count = 0;
    mask->bounds(count, boxX, boxY, boxW, boxH);
  } else {
    whole.dim(width, height);
    mask = &whole;
  }
  mask->edgedetect(plane[t], b, scope.target() != nullptr);
  // A fit window wider than the picture fits nowhere, and every pixel would mix back to
  // its own value.
  if (w > (std::min(width, height) + 1) / 2) return *this;

  // Accumulators and contribution counts over the box; a pixel takes up to w^2
  // contributions.
  const size_t boxCells = size_t(boxW) * size_t(boxH);
  std::vector<float> acc[3];
  for (auto& cells : acc) cells.assign(boxCells, 0.0f);
  std::vector<uint32_t> counts(boxCells, 0);

  const int d = w - 1, lo = -(w / 2), hi = w - w / 2 - 1;
  const float weight = 1.0f / float(w * w);
  const int rowsFit = height - 2 * d, colsFit = width - 2 * d;
  {
    // The windows are fitted in parallel a band of rows at a time, and the models added in
    // the order of their pixels, as one thread would add them.
    const int64_t n2 = int64_t(2 * w - 1) * (2 * w - 1);
    const int64_t rowsPerBlock = BlockFor(int64_t(colsFit) * n2 * 4);
    const int64_t band = std::max<int64_t>(64, rowsPerBlock * 16);
    std::vector<std::vector<EdgeModel>> found;
    for (int64_t b0 = 0; b0 < rowsFit; b0 += band) {
      const int64_t bandRows = std::min<int64_t>(band, rowsFit - b0);
      found.assign(size_t(bandRows), {});
      ParallelBlocks(bandRows, rowsPerBlock, [&](int64_t r0, int64_t r1) {
        EdgeFit fit(*this, roles, w, a, robust);
        EdgeModel model;
        for (int64_t r = r0; r < r1; ++r) {
          const int i = int(d + b0 + r);
          for (int j = d; j < width - d; ++j) {
            if (mask->get(j, i) && fit.Fit(i, j, model)) found[size_t(r)].push_back(model);
          }
        }
      });
      for (const auto& row : found) {
        for (const EdgeModel& m : row) {
          for (int by = lo; by <= hi; ++by) {
            for (int bx = lo; bx <= hi; ++bx) {
              const int x = m.j + bx, y = m.i + by;
              if (!mask->get(x, y)) continue;
              const size_t q = size_t(y - boxY) * boxW + size_t(x - boxX);
              BlendJensenEdge(&acc[0][q], &acc[1][q], &acc[2][q], float(bx), float(by), m.r, m.s,
                              m.c, m.plus, m.minus, k, weight);
              ++counts[q];
            }
          }
        }
      }
    }
  }

  // The channels change only now: every fit above read them as they were.
  for (int q = defringing ? 1 : 0; q < 3; ++q) {
    if (roles[q] >= channels) continue;
    matrix& p = plane[roles[q]];
    for (int y = boxY; y < boxY + boxH; ++y) {
      for (int x = boxX; x < boxX + boxW; ++x) {
        if (!mask->get(x, y)) continue;
        const size_t c = size_t(y - boxY) * boxW + size_t(x - boxX);
        p.z[y][x] = acc[q][c] + (1.0f - float(counts[c]) * weight) * p.z[y][x];
      }
    }
  }
  return *this;
}
