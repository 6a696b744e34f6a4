#pragma once
// The test planes of the filter benchmarks: uniform noise on 0 .. 255 from a fixed seed;
// and the pictures of the denoising benchmarks: a clean RGB picture, the same with Gaussian
// noise rounded to 8 bits as the peers take it, and the PSNR between two.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "image/fpbuffer.h"
#include "numeric/matrix.h"

inline matrix NoisePlane(int w, int h) {
  matrix m(w, h);
  uint32_t seed = 12345;
  for (int k = 0; k < m.n; ++k) {
    seed = seed * 1664525u + 1013904223u;
    m.x[k] = float(seed >> 8) * (255.0f / float(1 << 24));
  }
  return m;
}

// Smooth shading, a few hard edges and fine texture: what a denoiser must keep.
inline fpbuffer CleanPicture(int w, int h) {
  fpbuffer f(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        float v = 128.0f + 70.0f * std::sin(0.004f * x + c) * std::cos(0.005f * y);
        if (((x / 97) + (y / 83)) % 2 == 0) v += 40.0f;
        v += 12.0f * std::sin(0.35f * x + 0.2f * y);
        f.plane[c].z[y][x] = std::clamp(v, 0.0f, 255.0f);
      }
    }
  }
  return f;
}

// The picture with Gaussian noise of sigma added, rounded and clamped to 8 bits.
inline fpbuffer NoisyPicture(const fpbuffer& clean, float sigma) {
  fpbuffer f(clean);
  std::mt19937 gen(2024);
  std::normal_distribution<float> noise(0.0f, sigma);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < f.n; ++k) {
      f.plane[c].x[k] = std::clamp(std::round(f.plane[c].x[k] + noise(gen)), 0.0f, 255.0f);
    }
  }
  return f;
}

// PSNR of a (clamped to 0 .. 255) against b over channels 0-2.
inline double PicturePsnr(const fpbuffer& a, const fpbuffer& b) {
  double se = 0.0;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < a.n; ++k) {
      const double d = double(std::clamp(a.plane[c].x[k], 0.0f, 255.0f)) - b.plane[c].x[k];
      se += d * d;
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (se / (3.0 * a.n)));
}

// The lower left w x h of f's channels 0-2.
inline fpbuffer CropPicture(const fpbuffer& f, int w, int h) {
  fpbuffer out(w, h, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) out.plane[c].z[y][x] = f.plane[c].z[y][x];
    }
  }
  return out;
}
