// Diffusion inpainting: the region's pixels flow along the isophotes of the image around
// them, by an explicit PDE steered by a smoothed structure tensor.
#include <algorithm>
#include <cmath>
#include <vector>

#include "image/fpbuffer.h"
#include "image/opscope.h"
#include "platform/parallel.h"

namespace {
// The planes of the run: a is the one the tensor comes from unless it is combined.
struct Planes {
  matrix* p[3];
  bool combined;
};

// The raw tensor at every pixel of the working rectangle, from central differences of the
// current values; every pixel of the rectangle has all eight neighbours in the image.
void RawTensor(const Planes& planes, int mode, int rx, int ry, matrix& t11, matrix& t12,
               matrix& t22) {
  const int rw = t11.nx, rh = t11.ny;
  const int sources = planes.combined ? 3 : 1;
  const float diagonal = float(0.5 / std::sqrt(2.0));
  ParallelBlocks(rh, BlockFor(int64_t(rw) * 8 * sources), [&](int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) {
      const int y = ry + int(j);
      for (int i = 0; i < rw; ++i) {
        const int x = rx + i;
        float s11 = 0.0f, s12 = 0.0f, s22 = 0.0f;
        for (int c = 0; c < sources; ++c) {
          float* const* z = planes.p[c]->z;
          float u, v;
          if (mode == 2) {
            u = z[y + 1][x + 1] - z[y - 1][x - 1];
            v = z[y + 1][x - 1] - z[y - 1][x + 1];
          } else {
            u = z[y][x + 1] - z[y][x - 1];
            v = z[y + 1][x] - z[y - 1][x];
          }
          if (!planes.combined) {
            const float scale = mode == 2 ? diagonal : 0.5f;
            u *= scale;
            v *= scale;
          }
          s11 += u * u;
          s12 += u * v;
          s22 += v * v;
        }
        if (planes.combined) {
          // Mean squared derivatives per unit length over the three channels.
          const float d = mode == 2 ? 24.0f : 12.0f;
          s11 /= d;
          s12 /= d;
          s22 /= d;
        }
        t11.z[j][i] = s11;
        t12.z[j][i] = s12;
        t22.z[j][i] = s22;
      }
    }
  });
}

// The second derivative of a plane at pixel g along the tensor's direction (its
// coefficients already hold the step).
inline float Velocity(const float* p, int64_t g, int64_t w, int mode, float a, float b, float c) {
  const float centre = p[g];
  float pxx, pyy, pxy;
  if (mode == 2) {
    pxx = (p[g + w + 1] + p[g - w - 1]) * 0.5f - centre;
    pyy = (p[g - w + 1] + p[g + w - 1]) * 0.5f - centre;
    pxy = (p[g + w] + p[g - w] - p[g - 1] - p[g + 1]) * 0.5f;
  } else {
    pxx = p[g - 1] - 2.0f * centre + p[g + 1];
    pyy = p[g - w] - 2.0f * centre + p[g + w];
    pxy = (p[g + w + 1] + p[g - w - 1] - p[g + w - 1] - p[g - w + 1]) * 0.25f;
  }
  return a * pxx + b * pxy + c * pyy;
}
}  // namespace

fpbuffer& fpbuffer::tschumperleinpaint(int iterations, float sigma, float step, bitmask* selection,
                                       int dominant, int interval, int mode, bool initialize,
                                       float parameter, float tolerance) {
  if (width < 3 || height < 3 || channels < 3) return *this;
  // The image mask narrows the selection whatever Cond; without either nothing is filled.
  const OperationScope scope(*this, selection, false, {ScopeChannels::All, true, true});
  const bitmask* region = scope.mask();
  if (region == nullptr) return *this;
  if (initialize) {
    for (int c = 0; c < 3; ++c) plane[c].inpaintinit(*region, tolerance);
  }
  if (iterations <= 0 || step == 0.0f || !std::isfinite(step)) return *this;

  const int d = dominantchannel(dominant);
  Planes planes{{&plane[0], &plane[1], &plane[2]}, d == 4};
  if (d == 2) std::swap(planes.p[0], planes.p[1]);
  if (d == 3) std::swap(planes.p[0], planes.p[2]);

  int count = 0, x0 = 0, y0 = 0, bw = 0, bh = 0;
  region->bounds(count, x0, y0, bw, bh);
  if (count == 0) return *this;
  if (!(sigma >= 0.0f)) sigma = 0.0f;
  // The smoothing margin: odd, at least 1, and never wider than the image needs.
  int m = int(std::min(std::floor(4.0 * double(sigma) + 0.5), double(width + height)));
  if (m % 2 == 0) ++m;
  const int rx = std::max(1, x0 - m), rw = std::min(bw + 2 * m, width - 1 - rx);
  const int ry = std::max(1, y0 - m), rh = std::min(bh + 2 * m, height - 1 - ry);

  // The region's pixels inside the rectangle, in scan order: their rectangle index and
  // their image index.
  std::vector<int32_t> local;
  std::vector<int64_t> global;
  for (int j = 0; j < rh; ++j) {
    for (int i = 0; i < rw; ++i) {
      if (!region->get(rx + i, ry + j)) continue;
      local.push_back(j * rw + i);
      global.push_back(int64_t(ry + j) * width + rx + i);
    }
  }
  const int64_t masked = int64_t(local.size());
  if (masked == 0) return *this;

  matrix t11(rw, rh), t12(rw, rh), t22(rw, rh);
  t11.zero();
  t12.zero();
  t22.zero();
  interval = std::max(interval, 1);
  if (mode != 2) mode = 1;
  const int64_t w = width;
  const int64_t block = BlockFor(40);
  std::vector<float> velocity(3 * size_t(masked));

  for (int n = 0; n < iterations; ++n) {
    if (n % interval == 0) {
      RawTensor(planes, mode, rx, ry, t11, t12, t22);
      for (matrix* t : {&t11, &t12, &t22}) t->gaussblury(sigma, 0).gaussblurx(sigma, 0);
      // At the region's pixels the tensor becomes the diffusion along the direction of
      // least change, weighted down where the image changes strongly.
      ParallelBlocks(masked, BlockFor(60), [&](int64_t i0, int64_t i1) {
        matrix e(2, 2);
        for (int64_t i = i0; i < i1; ++i) {
          const int32_t k = local[size_t(i)];
          e.x[0] = t11.x[k];
          e.x[1] = t12.x[k];
          e.x[2] = t12.x[k];
          e.x[3] = t22.x[k];
          float smaller = 0.0f, larger = 0.0f;
          e.eig2x2(&smaller, &larger);
          const float e1 = e.x[0], e2 = e.x[1];
          const float sum = smaller + larger + parameter;
          // A weight that cannot be formed (the parameter taken out of range) stops the
          // pixel rather than filling it with infinities.
          const float f = sum > 0.0f ? step / std::sqrt(sum) : 0.0f;
          t11.x[k] = e1 * e1 * f;
          t12.x[k] = 2.0f * e1 * e2 * f;
          t22.x[k] = e2 * e2 * f;
        }
      });
    }
    // Every plane moves by its own velocity from its values before the step.
    ParallelBlocks(masked, block, [&](int64_t i0, int64_t i1) {
      for (int c = 0; c < 3; ++c) {
        const float* p = planes.p[c]->x;
        float* v = velocity.data() + size_t(c) * size_t(masked);
        for (int64_t i = i0; i < i1; ++i) {
          const int32_t k = local[size_t(i)];
          v[i] = Velocity(p, global[size_t(i)], w, mode, t11.x[k], t12.x[k], t22.x[k]);
        }
      }
    });
    ParallelBlocks(masked, block, [&](int64_t i0, int64_t i1) {
      for (int c = 0; c < 3; ++c) {
        float* p = planes.p[c]->x;
        const float* v = velocity.data() + size_t(c) * size_t(masked);
        for (int64_t i = i0; i < i1; ++i) p[global[size_t(i)]] += v[i];
      }
    });
  }
  return *this;
}
