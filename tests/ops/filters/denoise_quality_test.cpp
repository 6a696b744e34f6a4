// Denoising quality: Fast Noise Removal, Hysteresis Smoothing, Fast Bilateral Approximation
// and NL Means through the dispatcher of a real image window, on a piecewise-smooth picture
// with Gaussian noise of sigma 10 and 20. Each command must raise the PSNR, and its figures
// must stay at the recorded baseline.
//
// To record the baseline again (only on purpose, after a change meant to alter the
// figures): ZEP_RECORD_DENOISE_BASELINE=1 ctest -R DenoiseQuality
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/fpbuffer.h"
#include "image/noiseprofile.h"
#include "numeric/matrixarray.h"
#include "params/settings.h"
#include "support/figure_baseline.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 128, kH = 96;
constexpr double kTolerance = 0.05;  // dB

// A shaded background, a disc, a bar and a soft ramp: flat areas and hard edges.
float Clean(int c, int x, int y) {
  const float fx = float(x) / kW, fy = float(y) / kH;
  const float dx = fx - 0.35f, dy = fy - 0.55f;
  if (dx * dx + dy * dy < 0.06f) return 180.0f - 30.0f * float(c) + 20.0f * fx;
  if (fx > 0.65f && fy > 0.2f && fy < 0.45f) return 60.0f + 40.0f * float(c);
  if (fy < 0.15f) return 40.0f + 150.0f * fx * fx;
  return 90.0f + 50.0f * fx + 20.0f * fy + 10.0f * float(c);
}

// Gaussian noise from a fixed generator (xorshift and Box-Muller).
fpbuffer Noisy(float sigma) {
  uint64_t state = 88172645463325252ull;
  auto uniform = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (double(state >> 11) + 0.5) / 9007199254740992.0;
  };
  fpbuffer f(kW, kH, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const double u = uniform(), v = uniform();
        f.plane[c].z[y][x] = Clean(c, x, y) + float(sigma * std::sqrt(-2.0 * std::log(u)) *
                                                    std::cos(6.283185307179586 * v));
      }
    }
  }
  return f;
}

double Psnr(const fpbuffer& f) {
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const double e = double(f.plane[c].z[y][x]) - Clean(c, x, y);
        sum += e * e;
      }
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (sum / (3.0 * kW * kH)));
}

// The profile a user measures over a flat 48 x 46 part of the background: five levels,
// the measured factors as they stand.
NoiseProfile Measured(const fpbuffer& image) {
  NoiseProfile p;
  p.levels = 5;
  p.code = image.code;
  matrixarray details;
  matrix factors;
  for (int c = 0; c < 3; ++c) {
    matrix channel = image.plane[c];  // the split leaves the residual in it
    details.atrous(channel, p.levels);
    factors.noiseprofile(details, 80, 50, 48, 46);
    for (int i = 0; i < p.levels; ++i) p.factors[c][i] = factors.x[i];
  }
  return p;
}

BlurParams& P() { return LiveSettings().blur; }

struct Case {
  const char* name;
  CommandId id;
  // Sets the command's settings for the noise sigma (and the window's profile).
  std::function<void(CImageView&, float)> set;
};

// Hysteresis with Artifact Reduction off, per channel or combined.
std::function<void(CImageView&, float)> Hysteresis(bool combine) {
  return [combine](CImageView&, float sigma) {
    P().hysteresisArtifactReduction = 0;
    P().hysteresisCombineChannels = combine ? 1 : 0;
    P().hysteresisIterations = 1;
    P().hysteresisTolerance = 3.0f * sigma;
  };
}

// NL Means on the combined channels, the weighted mean or median.
std::function<void(CImageView&, float)> NlMeans(bool median) {
  return [median](CImageView&, float sigma) {
    P().nlMeansSearchRadius = 7;
    P().nlMeansWindowRadius = 2;
    P().nlMeansThreshold = 0.5f * sigma;
    P().nlMeansCombinedChannels = 1;
    P().nlMeansUseMedian = median ? 1 : 0;
  };
}

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"fast-noise-removal", CommandId::FastNoiseRemoval,
       [](CImageView& v, float) { v.noiseProfile = Measured(v.currentLayer()); }},
      {"hysteresis", CommandId::HysteresisSmoothing, Hysteresis(false)},
      {"hysteresis-combined", CommandId::HysteresisSmoothing, Hysteresis(true)},
      {"fast-bilateral", CommandId::FastBilateralApproximation,
       [](CImageView&, float sigma) {
         P().fastBilateralCombineChannels = 0;
         P().fastBilateralRadius = 20;
         P().fastBilateralIterations = 1;
         P().fastBilateralRangeStdDev = 2.0f * sigma;
       }},
      {"nl-means", CommandId::NlMeans, NlMeans(false)},
      {"nl-means-median", CommandId::NlMeans, NlMeans(true)},
  };
  return cases;
}

struct Figures {
  double before = 0, after = 0;
};

}  // namespace

using DenoiseQualityTest = ZepTest;

TEST_F(DenoiseQualityTest, EachCommandRaisesThePsnrAndKeepsItsRecordedFigures) {
  LiveSettings().autoQuery = 0;
  std::map<std::string, Figures> measured;
  std::vector<std::string> order;
  for (const float sigma : {10.0f, 20.0f}) {
    const fpbuffer noisy = Noisy(sigma);
    for (const Case& c : Cases()) {
      const std::string key = std::string(c.name) + " " + std::to_string(int(sigma));
      SCOPED_TRACE(key);
      FakeHost host;
      CImageView v{&host};
      v.currentLayer() = noisy;
      v.currentBitmap() = DisplayBitmap(kW, kH);
      v.currentLayer().todib(v.currentBitmap().toprow());
      v.Paint(kW, kH);
      c.set(v, sigma);
      Flags().F2Active = true;  // the settings as they stand, no page
      v.Dispatch(c.id);
      Flags() = CommandFlags();
      measured[key] = {Psnr(noisy), Psnr(v.currentLayer())};
      order.push_back(key);
      EXPECT_GT(measured[key].after, measured[key].before + 1.0);
    }
  }

  FigureRows rows;
  for (const std::string& key : order) rows[key] = {measured[key].before, measured[key].after};
  if (CheckFigureBaseline(ZEP_DENOISE_BASELINE, "ZEP_RECORD_DENOISE_BASELINE",
                          "command sigma psnr-noisy psnr-denoised (dB, RGB, against the clean "
                          "picture)",
                          order, rows, {"noisy", "denoised"}, kTolerance)) {
    GTEST_SKIP() << "baseline recorded in " << ZEP_DENOISE_BASELINE;
  }
}
