// Exposure fusion: the plane steps and weights on tiny fixtures, and whole runs of the
// stacking command through the dispatcher of a real window.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "fileio/png.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramid.h"
#include "ops/stacking/fusion.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/parallel.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
using Id = CommandId;

matrix Plane(int w, int h, std::vector<float> values) {
  matrix m(w, h);
  std::copy(values.begin(), values.end(), m.x);
  return m;
}

std::vector<float> Values(const matrix& m) { return std::vector<float>(m.x, m.x + m.n); }

// A colourful busy picture, different for every seed.
float Busy(int seed, int c, int x, int y) {
  const uint32_t h =
      uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u ^ uint32_t(c + 7 * seed) * 977u;
  return 30.0f + 180.0f * float(h % 1000u) / 1000.0f + 20.0f * std::sin(0.3f * float(x + seed));
}

fpbuffer BusyImage(int w, int h, int seed, float gain = 1.0f) {
  fpbuffer f(w, h, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = std::min(255.0f, gain * Busy(seed, c, x, y));
    }
  }
  return f;
}

bool AllFinite(const fpbuffer& f) {
  for (int c = 0; c < f.channels; ++c) {
    for (int k = 0; k < f.n; ++k) {
      if (!std::isfinite(f.plane[c].x[k])) return false;
    }
  }
  return true;
}

std::string Bytes(const fpbuffer& f) {
  std::string b = std::to_string(f.width) + "x" + std::to_string(f.height);
  for (int c = 0; c < f.channels; ++c)
    b.append(reinterpret_cast<const char*>(f.plane[c].x), 4 * size_t(f.n));
  return b;
}
}  // namespace

TEST(FusionPlanes, IndicatorDivisionAndLevelGains) {
  // Two contrast planes and their running maximum: 1 within 1.0 of it, ties both.
  const matrix k1 = Plane(4, 1, {0, 5, 3, 2}), k2 = Plane(4, 1, {0.5f, 3, 3, 3.5f});
  matrix most = k1;
  for (int i = 0; i < 4; ++i) most.x[i] = std::max(k1.x[i], k2.x[i]);
  EXPECT_EQ(Values(matrix(k1).maxindicator(most, 1.0f)), (std::vector<float>{1, 1, 1, 0}));
  EXPECT_EQ(Values(matrix(k2).maxindicator(most, 1.0f)), (std::vector<float>{1, 0, 1, 1}));
  // Without a tolerance only the maximum itself.
  EXPECT_EQ(Values(matrix(k2).maxindicator(most, 0.0f)), (std::vector<float>{1, 0, 1, 1}));
  EXPECT_EQ(Values(matrix(k1).maxindicator(most, 0.0f)), (std::vector<float>{0, 1, 1, 0}));

  matrix w = Plane(3, 1, {2, 4, 0});
  EXPECT_EQ(Values(w.divideby(Plane(3, 1, {4, 0, 0}), 0.25f)),
            (std::vector<float>{0.5f, 0.25f, 0.25f}));

  matrixarray levels(5, 2, 2);
  for (int i = 0; i < 5; ++i) levels[i].fill(1.0f);
  levels.sharpenlevels(1.0f);
  EXPECT_EQ(levels[0].x[0], 1.0f);
  levels.sharpenlevels(2.0f);
  const float want[] = {2, 1.5f, 1.25f, 1.125f, 1.0625f};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Values(levels[i]), std::vector<float>(4, want[i])) << i;
}

TEST(FusionPlanes, GradientsTakeTheMeanWeightOfTheirPixels) {
  const matrix w = Plane(3, 3, {0, 4, 8, 12, 16, 20, 24, 28, 32});
  matrix d1(2, 2), d2(2, 2);
  d1.fill(1.0f);
  d2.fill(-2.0f);
  WeightGradients(w, d1, d2, true);
  EXPECT_EQ(Values(d1), (std::vector<float>{8, 12, 20, 24}));
  EXPECT_EQ(Values(d2), (std::vector<float>{-16, -24, -40, -48}));
  matrix gx(2, 3), gy(3, 2);
  gx.fill(1.0f);
  gy.fill(1.0f);
  WeightGradients(w, gx, gy, false);
  EXPECT_EQ(Values(gx), (std::vector<float>{2, 6, 14, 18, 26, 30}));
  EXPECT_EQ(Values(gy), (std::vector<float>{6, 10, 14, 18, 22, 26}));
  // Planes that do not fit the weights are left alone.
  matrix odd(5, 1);
  odd.fill(1.0f);
  WeightGradients(w, odd, odd, true);
  EXPECT_EQ(Values(odd), std::vector<float>(5, 1.0f));
}

// An impulse of 9 in the middle of a 3x3 black image, in all three channels: the measures
// at the middle, an edge and a corner, whose mirrored neighbours repeat the impulse.
TEST(FusionWeights, LocalContrastMeasures) {
  fpbuffer image(3, 3, cspace::kDefault);
  for (int c = 0; c < 3; ++c) image.plane[c].z[1][1] = 9.0f;
  struct Case {
    int mode, x, y;
    float contrast;
  };
  const Case cases[] = {
      {0, 1, 1, 9}, {0, 1, 0, 9},     {0, 0, 0, 9},
      {1, 1, 1, 9}, {1, 1, 0, 2.25f}, {1, 0, 0, 4.5f},
      {2, 1, 1, 9}, {2, 1, 0, 4.5f},  {2, 0, 0, std::sqrt(40.5f)},
      {7, 0, 0, 9},  // any other mode is the largest difference
  };
  for (const Case& t : cases) {
    matrix k, most;
    image.localcontrast(k, most, 1.0f, t.mode);
    EXPECT_FLOAT_EQ(k.z[t.y][t.x], t.contrast) << t.mode << " " << t.x << "," << t.y;
    EXPECT_EQ(most.n, 0);  // only "Infinity" keeps the maximum
  }
  // "Infinity": the running maximum over the calls.
  fpbuffer dim = image;
  dim.scale(0.5f);
  matrix k, most;
  dim.localcontrast(k, most, -1.0f, 0);
  image.localcontrast(k, most, -1.0f, 0);
  dim.localcontrast(k, most, -1.0f, 0);
  EXPECT_EQ(most.z[0][0], 9.0f);
  EXPECT_EQ(k.z[0][0], 4.5f);
}

TEST(FusionWeights, TermsAndCoefficients) {
  // Pixel 0 grey at 127.5, pixel 1 one channel 255 sigma above the middle, pixel 2 black.
  fpbuffer image(3, 1, cspace::kDefault);
  const float sigma = 0.1f;
  const float rgb[3][3] = {{127.5f, 127.5f, 127.5f}, {127.5f + 25.5f, 127.5f, 127.5f}, {0, 0, 0}};
  for (int k = 0; k < 3; ++k) {
    for (int c = 0; c < 3; ++c) image.plane[c].x[k] = rgb[k][c];
  }
  const matrix contrast = Plane(3, 1, {6, 2, 3});
  auto weights = [&](FusionWeightParams p) {
    p.sigma = sigma;
    matrix w, sum;
    image.fusionweight(w, sum, contrast, p);
    EXPECT_EQ(Values(w), Values(sum));
    return Values(w);
  };
  FusionWeightParams p;  // the defaults: every exponent 1, A = 1
  std::vector<float> w = weights(p);
  EXPECT_FLOAT_EQ(w[0], 6.0f / 127.5f);
  // Exponents 0: each weight is A.
  p.wc = p.ws = p.we = 0;
  p.a = 2.5f;
  EXPECT_EQ(weights(p), std::vector<float>(3, 2.5f));
  // The single terms alone: B c^2, the bell of one sigma, the saturation of black (1).
  p = FusionWeightParams{};
  p.a = 0;
  p.b = 1;
  p.wc = 2;
  EXPECT_EQ(weights(p), (std::vector<float>{36, 4, 9}));
  p = FusionWeightParams{};
  p.a = 0;
  p.d = 1;
  w = weights(p);
  EXPECT_FLOAT_EQ(w[0], 1.0f);
  EXPECT_NEAR(w[1], std::exp(-0.5f), 1e-6f);
  p = FusionWeightParams{};
  p.a = 0;
  p.c = 1;
  EXPECT_EQ(weights(p)[2], 1.0f);
  // "Infinity" takes the contrast plane as it stands (the indicator).
  p = FusionWeightParams{};
  p.wc = -1;
  p.ws = p.we = 0;
  EXPECT_EQ(weights(p), (std::vector<float>{6, 2, 3}));

  // The sum collects every image's weights.
  matrix w1, sum;
  p = FusionWeightParams{};
  image.fusionweight(w1, sum, contrast, p);
  image.fusionweight(w1, sum, contrast, p);
  EXPECT_FLOAT_EQ(sum.x[0], 2 * w1.x[0]);
}

// The run parks its planes in the scratch folder: each test has a folder of its own, so that
// tests running side by side do not read each other's files.
class FusionRun : public ZepTest {};

// The same bytes with one thread and with five, every loop of the run included.
TEST_F(FusionRun, ThreadCountDoesNotChangeTheResult) {
  const std::vector<fpbuffer> frames = {BusyImage(67, 41, 1, 0.5f), BusyImage(67, 41, 2),
                                        BusyImage(67, 41, 3, 2.0f)};
  FusionWeightParams p;
  p.wc = -1;
  std::string results[2];
  for (const int threads : {1, 5}) {
    SetParallelThreads(threads);
    for (int mode = 0; mode < 3; ++mode) {
      p.contrastMode = mode;
      const fpbuffer image = ops::stacking::FuseFrames(frames, p, 4, 2.0f);
      ASSERT_TRUE(AllFinite(image));
      results[threads == 1 ? 0 : 1] += Bytes(image);
    }
  }
  SetParallelThreads(0);
  EXPECT_TRUE(results[0] == results[1]);
}

// One picture given three times is that picture again, by the blend and by the gradient
// pass, whose targets are then its own luminance's gradients.
TEST_F(FusionRun, ARepeatedPictureComesBack) {
  const fpbuffer picture = BusyImage(37, 29, 5);
  for (const int iterations : {0, 30}) {
    SCOPED_TRACE(iterations);
    const fpbuffer image = ops::stacking::FuseFrames({picture, picture, picture},
                                                     FusionWeightParams{}, iterations, 1.0f);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < image.n; ++k)
        ASSERT_NEAR(image.plane[c].x[k], picture.plane[c].x[k], 2e-3f) << c << " " << k;
    }
  }
}

TEST_F(FusionRun, TinyImagesComeOutFinite) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}, std::pair{2, 2}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const fpbuffer image = ops::stacking::FuseFrames(
        {BusyImage(w, h, 0, 0.5f), BusyImage(w, h, 1, 1.5f)}, FusionWeightParams{}, 5, 2.0f);
    EXPECT_EQ(image.width, w);
    EXPECT_EQ(image.height, h);
    EXPECT_TRUE(AllFinite(image));
  }
}

namespace {
class FusionTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    P().stackMode = 6;
    fpbuffer& layer = v.currentLayer();
    layer = BusyImage(5, 4, 9);
    v.currentBitmap() = DisplayBitmap(5, 4);
    layer.todib(v.currentBitmap().toprow());
  }
  StackParams& P() { return LiveSettings().stack; }

  std::string Png(const std::string& name, const fpbuffer& image) {
    const std::string path = (home / name).string();
    EXPECT_EQ(WritePng(image, path, 8, 1), nullptr);
    return path;
  }
  std::string Flat(const std::string& name, int w, int h, float value) {
    fpbuffer f(w, h, cspace::kDefault);
    for (int c = 0; c < 3; ++c) f.plane[c].fill(value);
    return Png(name, f);
  }
  std::vector<std::string> Bracket(int w, int h) {
    std::vector<std::string> files;
    const float gains[] = {0.4f, 1.0f, 2.5f};
    for (int i = 0; i < 3; ++i)
      files.push_back(Png("e" + std::to_string(i) + ".png", BusyImage(w, h, 4, gains[i])));
    return files;
  }
  void Stack(const std::vector<std::string>& picked) {
    ui.ExpectOpenFilesDialog(FileListAnswer{true, picked});
    v.Dispatch(Id::Stacking);
    ui.VerifyAllAnswered();
  }
  static std::vector<std::string> Scratch() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(ScratchDirectory()))
      names.push_back(e.path().filename().string());
    return names;
  }
  // The texts of the status pane from the list given, in the order shown.
  std::vector<std::string> StatusTexts(const std::vector<std::string>& of) {
    std::vector<std::string> texts;
    for (const auto& [pane, text] : ui.paneHistory) {
      if (pane == 4 && std::find(of.begin(), of.end(), text) != of.end() &&
          (texts.empty() || texts.back() != text))
        texts.push_back(text);
    }
    return texts;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

// Flat exposures have no contrast, so every default weight is 0: each then counts alike
// instead of the pixel turning black. The layer's colour space comes back.
TEST_F(FusionTest, FlatExposuresMeetHalfway) {
  v.currentLayer().convert(cspace::kHSV | 7);
  Stack({Flat("a.png", 6, 5, 100), Flat("b.png", 6, 5, 150)});
  fpbuffer result = v.currentLayer();
  EXPECT_EQ(result.code, cspace::kHSV | 7);
  result.convert(cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < result.n; ++k)
      ASSERT_NEAR(result.plane[c].x[k], 125.0f, 1e-3f) << c << " " << k;
  }
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
}

// A = 1 with every exponent 0 weighs every pixel alike: the plain average of the
// exposures, also on sizes the pyramid has to make even.
TEST_F(FusionTest, EqualWeightsGiveTheAverage) {
  const std::vector<std::string> files = Bracket(13, 11);
  P().stackMode = 0;
  Stack(files);
  const fpbuffer average = v.currentLayer();
  P().stackMode = 6;
  P().fusionContrastExponent = P().fusionSaturationExponent = P().fusionExposureExponent = 0;
  Stack(files);
  const fpbuffer& fused = v.currentLayer();
  ASSERT_EQ(fused.n, average.n);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < fused.n; ++k)
      ASSERT_NEAR(fused.plane[c].x[k], average.plane[c].x[k], 1e-3f) << c << " " << k;
  }
}

// Coefficients all 0 leave nothing to weigh: A becomes 1 in the settings, and the run is
// the one with A = 1.
TEST_F(FusionTest, NoCoefficientMakesAOne) {
  const std::vector<std::string> files = Bracket(9, 7);
  Stack(files);
  const std::string withA = Bytes(v.currentLayer());
  P().fusionCoefA = 0;
  Stack(files);
  EXPECT_EQ(P().fusionCoefA, 1.0f);
  EXPECT_TRUE(Bytes(v.currentLayer()) == withA);
}

TEST_F(FusionTest, StatusOfARunWithEveryPass) {
  P().fusionContrastExponent = -1;
  P().fusionPoissonIterations = 3;
  P().fusionPoissonSharpening = 2;
  Stack({Png("a.png", BusyImage(9, 8, 1, 0.5f)), Png("b.png", BusyImage(9, 8, 2))});
  const std::vector<std::string> want = {"Writing Temporary File 1 of 2",
                                         "Writing Temporary File 2 of 2",
                                         "Extra Pass for Wc = oo, 1 of 2",
                                         "Extra Pass for Wc = oo, 2 of 2",
                                         "Normalizing, 1 of 2",
                                         "Normalizing, 2 of 2",
                                         "Pyramid Phase, 1 of 2",
                                         "Pyramid Phase, 2 of 2",
                                         "Integrating Pyramids",
                                         "Doing Poisson Iterations",
                                         "Finished"};
  EXPECT_EQ(StatusTexts(want), want);
  EXPECT_TRUE(AllFinite(v.currentLayer()));
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
}

// A cancel in the gradient pass ends that pass only: the blend is kept whole (as without
// the pass, up to the round trip through YCbCr). A cancel in the load loop keeps the
// window's image.
TEST_F(FusionTest, CancelInTheGradientPassKeepsTheBlend) {
  const std::vector<std::string> files = Bracket(12, 10);
  Stack(files);
  const fpbuffer blend = v.currentLayer();
  P().fusionPoissonIterations = 20;
  Stack(files);
  float change = 0;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < blend.n; ++k)
      change = std::max(change, std::fabs(v.currentLayer().plane[c].x[k] - blend.plane[c].x[k]));
  }
  EXPECT_GT(change, 1.0f);  // the pass itself changes the picture

  platform.CancelAtPoll(int(files.size()) + 1);  // the first tick of the pass
  Stack(files);
  EXPECT_EQ(platform.polls, int(files.size()) + 1);  // nothing polled after it
  const fpbuffer& result = v.currentLayer();
  ASSERT_EQ(result.n, blend.n);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < result.n; ++k)
      ASSERT_NEAR(result.plane[c].x[k], blend.plane[c].x[k], 1e-2f) << c << " " << k;
  }
  EXPECT_FALSE(v.operationFailed);
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});

  const std::string before = Bytes(v.currentLayer());
  platform.CancelAtPoll(1);
  Stack(files);
  EXPECT_TRUE(Bytes(v.currentLayer()) == before);
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
}

// F2 records the 45 words of the stacking block into the step; playing the program puts
// them back, mode 6 and its page included.
TEST_F(FusionTest, RecordedStepsReachTheMode) {
  const std::vector<std::string> files = Bracket(8, 6);
  Settings& s = LiveSettings();
  s.program.stepCount = 1;
  P().fusionExposureStdDev = 0.2f;
  P().fusionContrastMode = 2;
  Flags().F2Active = Flags().Recording = true;
  Stack(files);
  Flags().F2Active = Flags().Recording = false;
  EXPECT_EQ(std::memcmp(s.program.steps[1].bytes, &s.stack, sizeof(StackParams)), 0);
  const std::string recorded = Bytes(v.currentLayer());

  P().SetDefaults();
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  Stack(files);
  Flags().F2Active = Flags().Playing = false;
  EXPECT_EQ(P().stackMode, 6);
  EXPECT_EQ(P().fusionContrastMode, 2);
  EXPECT_TRUE(Bytes(v.currentLayer()) == recorded);

  // F3 runs the same mode.
  Flags().F3Active = true;
  Stack(files);
  Flags().F3Active = false;
  EXPECT_TRUE(Bytes(v.currentLayer()) == recorded);
}
