// Jensen enlargement: a straight-edge model fitted to every edge window of the input is
// painted at twice the size and blended, pixel by pixel, into a partner enlargement in
// proportion to how many windows covered the pixel. The data-dependent Lanczos
// combination runs the partner on the same doubling grid.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "image/fpbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/jensenedge.h"
#include "numeric/matrix.h"
#include "ops/resize/resize.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/regularfile.h"

namespace {
// Counts are bytes: windows whose overlap divisor passes 255 paint nothing.
constexpr int kLargestWindow = 29;

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

struct Anchored {
  int i, j;
  EdgeModel m;
};
}  // namespace

float OverlapDivisor(int L) {
  const int half = (L + 1) / 2;
  return float(half * half);
}

void TurnHalf(fpbuffer& image) {
  for (int c = 0; c < image.channels; ++c) image.plane[c].fliph().flipv();
  if (image.mask.present()) image.mask.fliph().flipv();
}

fpbuffer& jensen2x(fpbuffer& out, bytemaps& counts, const fpbuffer& input, float a, float t,
                   float k, int L, int dominant, bool robust) {
  const int w = input.width, h = input.height, W = 2 * w, H = 2 * h;
  out.dim(W, H, input.code);
  for (int c = 0; c < out.channels; ++c) out.plane[c].zero();
  out.mask.free();
  if (input.mask.present()) out.mask.dim(W, H);
  counts.dim(W, H);
  for (int r = 0; r < H; ++r) std::memset(counts[r].x, 0, size_t(W));
  const int d = std::clamp(dominant, 1, std::min(3, input.channels)) - 1;
  const int h2 = L / 2;
  if (L < 1 || L > kLargestWindow || w - 2 * h2 <= 0 || h - 2 * h2 <= 0) return out;

  bitmask edges;
  edges.edgedetect(input.plane[d], t, false);
  const bool odd = L % 2 != 0;
  const int lo = odd ? -h2 : 1 - h2, hi = odd ? h2 : h2 - 1, back = odd ? 0 : 1;
  const float weight = 1.0f / OverlapDivisor(L);
  const bool marks = out.mask.present();
  const int rows = h - 2 * h2, cols = w - 2 * h2;
  const int64_t rowsPerBlock = BlockFor(int64_t(cols) * L * L * 4);
  const int64_t band = std::max<int64_t>(64, rowsPerBlock * 16);
  std::vector<std::vector<Anchored>> found;
  for (int64_t b0 = 0; b0 < rows; b0 += band) {
    const int64_t bandRows = std::min<int64_t>(band, rows - b0);
    found.assign(size_t(bandRows), {});
    // The windows are fitted in parallel; the paint below adds them in the order of their
    // anchors, as one thread would.
    ParallelBlocks(bandRows, rowsPerBlock, [&](int64_t r0, int64_t r1) {
      const matrix* colours[3] = {&input.plane[0], &input.plane[1], &input.plane[2]};
      EdgeWindowFit fit(input.plane[d], colours, L, a, robust, true);
      Anchored e;
      for (int64_t r = r0; r < r1; ++r) {
        e.i = int(h2 + b0 + r);
        for (e.j = h2; e.j < w - h2; ++e.j) {
          if (edges.get(e.j, e.i) && fit.Fit(e.i - h2, e.j - h2, e.m)) found[size_t(r)].push_back(e);
        }
      }
    });
    for (const auto& row : found) {
      for (const Anchored& e : row) {
        const float r2 = 2 * e.m.r;
        const int cx = 2 * e.j - back, cy = 2 * e.i - back;
        for (int v = lo; v <= hi; ++v) {
          const int y = cy + v;
          for (int u = lo; u <= hi; ++u) {
            const int x = cx + u;
            BlendJensenEdge(&out.plane[0].z[y][x], &out.plane[1].z[y][x], &out.plane[2].z[y][x],
                            float(u), float(v), r2, e.m.s, e.m.c, e.m.plus, e.m.minus, k, weight);
            ++counts[y][x];
            if (marks) out.mask.set(x, y, true);
          }
        }
      }
    }
  }
  return out;
}

namespace {
// this = (1 - c / D) this + J, row by row, where c is not 0.
void BlendRow(float* x, const float* j, const uint8_t* c, int n, float divisor) {
  for (int k = 0; k < n; ++k) {
    if (c[k] != 0) x[k] = (1.0f - float(c[k]) / divisor) * x[k] + j[k];
  }
}

bool CountsFit(const bytemaps& counts, const fpbuffer& image) {
  return counts.n == image.height && (image.height == 0 || counts[0].n == image.width);
}
}  // namespace

fpbuffer& blendjensen(fpbuffer& image, const bytemaps& counts, const fpbuffer& J, int L) {
  if (J.width != image.width || J.height != image.height || !CountsFit(counts, image)) return image;
  const float divisor = OverlapDivisor(L);
  for (int c = 0; c < 3 && c < image.channels; ++c) {
    for (int y = 0; y < image.height; ++y) {
      BlendRow(image.plane[c].z[y], J.plane[c].z[y], counts[y].x, image.width, divisor);
    }
  }
  if (J.mask.present()) image.mask = J.mask;
  return image;
}

fpbuffer& blendjensenfile(fpbuffer& image, const bytemaps& counts, const std::string& name,
                          int L) {
  const std::string path = FdibPath(name, true);
  struct Remove {
    std::string path;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove(path, ec);
    }
  } remove{path};
  // The file must be the three planes (and the mask words, if any) of an image of this
  // size, to the byte, before anything is blended.
  File f(OpenRegularFile(path));
  int32_t header[4] = {0, 0, 0, 0};
  const int64_t n = int64_t(image.width) * image.height;
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  const bool fits = f && std::fread(header, sizeof header, 1, f.get()) == 1 &&
                    header[0] == image.width && header[1] == image.height &&
                    (header[3] == 0 || int64_t(header[3]) == (n + 31) / 32) && !ec &&
                    length == uint64_t(16 + 12 * n + 4 * int64_t(header[3])) &&
                    CountsFit(counts, image) && image.channels >= 3;
  if (!fits) {
    ShowMessage("Problem Opening Temp File");
    return image;
  }
  const float divisor = OverlapDivisor(L);
  std::vector<float> row(size_t(std::max(image.width, 1)));
  for (int c = 0; c < 3; ++c) {
    if (std::fseek(f.get(), long(16 + 4 * n * c), SEEK_SET) != 0) {
      ShowMessage("Problem Opening Temp File");
      return image;
    }
    for (int y = 0; y < image.height; ++y) {
      if (std::fread(row.data(), sizeof(float), size_t(image.width), f.get()) !=
          size_t(image.width)) {
        ShowMessage("Problem Opening Temp File");
        return image;
      }
      BlendRow(image.plane[c].z[y], row.data(), counts[y].x, image.width, divisor);
    }
  }
  if (header[3] != 0) {
    bitmask marks(image.width, image.height);
    if (std::fread(marks.bits, sizeof(uint32_t), size_t(header[3]), f.get()) == size_t(header[3])) {
      image.mask = std::move(marks);
    }
  }
  return image;
}

void BlendAfterPartner(fpbuffer& image, const bytemaps& counts, fpbuffer& J, int L, bool scratch,
                       const char* name, const std::function<void()>& partner) {
  if (!scratch) {
    partner();
    blendjensen(image, counts, J, L);
    return;
  }
  const ScratchFiles guard({name});
  // A failed write is seen by the blend, which then keeps the partner's result.
  J.write(name, true);
  J.clear(false);
  partner();
  blendjensenfile(image, counts, name, L);
}

void JensenPass(fpbuffer& image, const JensenModel& model, bool scratch,
                const std::function<void()>& partner) {
  bytemaps counts;
  fpbuffer J;
  jensen2x(J, counts, image, model.accept, model.threshold, model.blur, model.window,
           model.dominant, model.robust);
  BlendAfterPartner(image, counts, J, model.window, scratch, "temp2.fdib", partner);
}

fpbuffer& JensenPasses(fpbuffer& image, int passes, bool rotate, const JensenModel& model,
                       bool scratch, const std::function<void()>& partner) {
  if (passes < 1) return image;
  for (int i = 0; i < passes; ++i) {
    if (rotate && i == 1) TurnHalf(image);
    JensenPass(image, model, scratch, partner);
  }
  if (rotate && passes > 1) TurnHalf(image);
  // The mask marks what no edge model painted in the last pass.
  if (image.mask.present()) image.mask.invert();
  return image;
}

fpbuffer& jddl(fpbuffer& image, int passes, int dominantSetting, int order, bool rotate,
               const JensenModel& edges, bool scratch, bool halo) {
  JensenModel model = edges;
  model.dominant = image.dominantchannel(dominantSetting);
  return JensenPasses(image, passes, rotate, model, scratch, [&] {
    bytemaps maps;
    ddl(image, model.dominant, order, 1, false, false, scratch, halo, maps, true);
  });
}
