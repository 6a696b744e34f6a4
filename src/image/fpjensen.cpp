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
// An accepted edge at the window centred on (j, i).
struct FoundEdge {
  int i, j;
  EdgeModel m;
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
    std::vector<std::vector<FoundEdge>> found;
    for (int64_t b0 = 0; b0 < rowsFit; b0 += band) {
      const int64_t bandRows = std::min<int64_t>(band, rowsFit - b0);
      found.assign(size_t(bandRows), {});
      ParallelBlocks(bandRows, rowsPerBlock, [&](int64_t r0, int64_t r1) {
        const matrix* colours[3];
        for (int q = 0; q < 3; ++q) colours[q] = roles[q] < channels ? &plane[roles[q]] : nullptr;
        EdgeWindowFit fit(plane[t], colours, 2 * w - 1, a, robust, false);
        FoundEdge edge;
        for (int64_t r = r0; r < r1; ++r) {
          const int i = int(d + b0 + r);
          for (int j = d; j < width - d; ++j) {
            if (!mask->get(j, i) || !fit.Fit(i - d, j - d, edge.m)) continue;
            edge.i = i;
            edge.j = j;
            found[size_t(r)].push_back(edge);
          }
        }
      });
      // Each block of rows gathers the models that reach its own rows, and every pixel takes
      // them in the order of their windows (row, then column), as one thread adding the
      // models one after the other would.
      const int64_t yFirst = d + b0 + lo, yEnd = d + b0 + bandRows + hi;
      ParallelBlocks(yEnd - yFirst, BlockFor(int64_t(width) * w), [&](int64_t s0, int64_t s1) {
        for (int64_t s = s0; s < s1; ++s) {
          const int y = int(yFirst + s);
          for (int by = hi; by >= lo; --by) {
            const int64_t r = y - by - d - b0;
            if (r < 0 || r >= bandRows) continue;
            for (const FoundEdge& e : found[size_t(r)]) {
              const EdgeModel& m = e.m;
              for (int bx = lo; bx <= hi; ++bx) {
                const int x = e.j + bx;
                if (!mask->get(x, y)) continue;
                const size_t q = size_t(y - boxY) * boxW + size_t(x - boxX);
                BlendJensenEdge(&acc[0][q], &acc[1][q], &acc[2][q], float(bx), float(by), m.r,
                                m.s, m.c, m.plus, m.minus, k, weight);
                ++counts[q];
              }
            }
          }
        }
      });
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
