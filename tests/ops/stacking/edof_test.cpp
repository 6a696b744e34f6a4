// The focus-stacking modes through the stacking command of a real window: their power
// means, selections and reconstructions against values computed here, a synthetic focus
// series against its all-in-focus truth, scratch files, cancel, F2/F3 and programs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "numeric/cvector.h"
#include "numeric/matrixarray.h"
#include "ops/stacking/edof.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
using Id = CommandId;
constexpr float kInfinity = -1.0f;

// Deterministic texture in 0-255 with detail at every scale.
float Texture(int c, int x, int y) {
  const uint32_t h = (uint32_t(x) * 2654435761u) ^ (uint32_t(y) * 40503u) ^ (uint32_t(c) * 977u);
  return 128.0f + 60.0f * float(h % 1000u) / 1000.0f - 30.0f +
         50.0f * std::sin(0.31f * float(x) + 0.17f * float(y) + float(c)) +
         20.0f * std::cos(0.05f * float(x * y % 97));
}

fpbuffer Image(int w, int h, const std::function<float(int, int, int)>& f) {
  fpbuffer image(w, h, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) image.plane[c].z[y][x] = f(c, x, y);
    }
  }
  return image;
}

// Separable Gaussian blur with edge samples repeated; sigma 0 is the identity.
matrix Blur(const matrix& in, float sigma) {
  if (sigma <= 0.0f) return matrix(in);
  const int r = int(std::ceil(3.0f * sigma));
  std::vector<double> k(size_t(2 * r + 1));
  double total = 0;
  for (int i = -r; i <= r; ++i)
    total += k[size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
  for (double& t : k) t /= total;
  matrix across(in.nx, in.ny), out(in.nx, in.ny);
  for (int y = 0; y < in.ny; ++y) {
    for (int x = 0; x < in.nx; ++x) {
      double s = 0;
      for (int i = -r; i <= r; ++i)
        s += k[size_t(i + r)] * in.z[y][std::clamp(x + i, 0, in.nx - 1)];
      across.z[y][x] = float(s);
    }
  }
  for (int y = 0; y < in.ny; ++y) {
    for (int x = 0; x < in.nx; ++x) {
      double s = 0;
      for (int i = -r; i <= r; ++i)
        s += k[size_t(i + r)] * across.z[std::clamp(y + i, 0, in.ny - 1)][x];
      out.z[y][x] = float(s);
    }
  }
  return out;
}

double Psnr(const fpbuffer& a, const fpbuffer& b) {
  double e = 0;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < a.n; ++i) e += std::pow(double(a.plane[c].x[i]) - b.plane[c].x[i], 2);
  }
  return 10.0 * std::log10(255.0 * 255.0 / (e / (3.0 * a.n)));
}

double MaxDifference(const fpbuffer& a, const fpbuffer& b) {
  double worst = 0;
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < std::min(a.n, b.n); ++i) {
      worst = std::max(worst, std::fabs(double(a.plane[c].x[i]) - b.plane[c].x[i]));
      if (!std::isfinite(a.plane[c].x[i])) return INFINITY;
    }
  }
  return worst;
}

fpbuffer Mean(const std::vector<fpbuffer>& images) {
  fpbuffer m = images[0];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < m.n; ++i) {
      double s = 0;
      for (const fpbuffer& f : images) s += f.plane[c].x[i];
      m.plane[c].x[i] = float(s / double(images.size()));
    }
  }
  return m;
}

// Mode 4 as the text defines it, computed in double from matrixarray::atrous of each image:
// per finite level sign(S) (|S|/n)^(1/p), S the sum of sign(d)|d|^p; an "Infinity" level the
// coefficient of largest magnitude (the first on ties); the residual the mean.
fpbuffer PowerMeans(const std::vector<fpbuffer>& images, int levels, const float* p) {
  const double n = double(images.size());
  fpbuffer out = images[0];
  for (int c = 0; c < 3; ++c) {
    std::vector<matrixarray> details(images.size());
    std::vector<matrix> residual(images.size());
    for (size_t k = 0; k < images.size(); ++k) {
      residual[k] = images[k].plane[c];
      details[k].atrous(residual[k], levels);
    }
    for (int i = 0; i < out.n; ++i) {
      double t = 0;
      for (size_t k = 0; k < images.size(); ++k) t += residual[k].x[i] / n;
      for (int l = 0; l < levels; ++l) {
        double s = 0, best = 0;
        for (size_t k = 0; k < images.size(); ++k) {
          const double d = details[k][l].x[i];
          s += (d < 0 ? -1 : 1) * std::pow(std::fabs(d), double(p[l]));
          if (std::fabs(d) > std::fabs(best)) best = d;
        }
        t += p[l] == kInfinity ? best : (s < 0 ? -1 : 1) * std::pow(std::fabs(s) / n, 1.0 / p[l]);
      }
      out.plane[c].x[i] = float(t);
    }
  }
  return out;
}

class EdofTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    v.currentLayer() = Image(9, 7, [](int c, int x, int y) { return float(x + 2 * y + 40 * c); });
    v.currentBitmap() = DisplayBitmap(9, 7);
    v.currentLayer().todib(v.currentBitmap().toprow());
  }
  StackParams& P() { return LiveSettings().stack; }

  std::vector<std::string> Files(const std::vector<fpbuffer>& images) {
    std::vector<std::string> paths;
    for (const fpbuffer& f : images) {
      paths.push_back((home / ("f" + std::to_string(++written) + ".fdib")).string());
      EXPECT_FALSE(f.write(paths.back(), false));
    }
    return paths;
  }

  // Stacks the images as picked; the dialog lists the first one last, so they are picked
  // in the order that loads them as given.
  const fpbuffer& Stack(const std::vector<fpbuffer>& images,
                        const std::vector<std::string>& messages = {}) {
    std::vector<std::string> paths = Files(images);
    std::rotate(paths.rbegin(), paths.rbegin() + 1, paths.rend());
    ui.ExpectOpenFilesDialog(FileListAnswer{true, paths});
    for (const std::string& m : messages) ui.ExpectMessage(m);
    v.Dispatch(Id::Stacking);
    ui.VerifyAllAnswered();
    return v.currentLayer();
  }

  std::string Window() {
    fpbuffer& layer = v.currentLayer();
    std::string bytes = std::to_string(layer.width) + "x" + std::to_string(layer.height);
    for (int c = 0; c < layer.channels; ++c)
      bytes.append(reinterpret_cast<const char*>(layer.plane[c].x), 4 * size_t(layer.n));
    const DisplayBitmap& b = v.currentBitmap();
    return bytes + std::string(reinterpret_cast<const char*>(b.data()), size_t(b.bytes()));
  }

  static std::vector<std::string> Scratch() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(ScratchDirectory()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  void SetLevels(std::initializer_list<float> p) {
    std::fill(std::begin(P().stackLevelParams), std::end(P().stackLevelParams), kInfinity);
    std::copy(p.begin(), p.end(), P().stackLevelParams);
  }

  FakeHost host;
  CImageView v{&host};
  int written = 0;
};

// Three textured images of 40 x 36 that differ at every scale.
std::vector<fpbuffer> Series(int w = 40, int h = 36) {
  std::vector<fpbuffer> s;
  for (int k = 0; k < 3; ++k) {
    s.push_back(Image(w, h, [k](int c, int x, int y) {
      return Texture(c + 3 * k, x + 5 * k, y) * (0.6f + 0.2f * float(k)) + 10.0f * float(k);
    }));
  }
  return s;
}

struct Case {
  const char* what;
  int mode;
  std::function<void(StackParams&)> set;
  std::function<std::vector<fpbuffer>()> images;
  std::function<fpbuffer(const std::vector<fpbuffer>&)> want;
  double tolerance;
};
}  // namespace

TEST_F(EdofTest, ModesAgainstTheirDefinitions) {
  const std::vector<fpbuffer> identical = {Series()[1], Series()[1]};
  const float mixed[8] = {2, kInfinity, 1, 3};
  const float infinite[8] = {kInfinity, kInfinity, kInfinity, kInfinity, kInfinity};
  const float sixteen[8] = {16, 16, 16};
  const float small[8] = {0.05f, 0.5f, 0.05f};
  const auto same = [](const std::vector<fpbuffer>& s) { return s[0]; };
  const auto edges = [] {
    std::vector<fpbuffer> s;
    for (int k = 0; k < 3; ++k) {
      s.push_back(Image(33, 33, [k](int c, int x, int y) {
        return ((x + k) / 4 + (y + c) / 5) % 2 ? 255.0f : 0.0f;
      }));
    }
    return s;
  };
  const Case cases[] = {
      {"mode 4, identical images, exponent 2", 4, [](StackParams& p) { p.stackLevelParams[0] = 2; },
       [&] { return identical; }, same, 1e-3},
      {"mode 4, identical images, Infinity", 4, [](StackParams&) {}, [&] { return identical; },
       same, 0},
      {"mode 7, identical images", 7, [](StackParams&) {}, [&] { return identical; }, same, 1e-3},
      {"mode 7, identical images, averaging", 7,
       [](StackParams& p) { p.edof2Tolerance1 = p.edof2Tolerance2 = p.edof2Tolerance3 = 2; },
       [&] { return identical; }, same, 1e-3},
      {"mode 8, identical images", 8, [](StackParams&) {}, [&] { return identical; }, same, 1e-3},
      {"mode 4, p = 1 is the average", 4,
       [](StackParams& p) { std::fill_n(p.stackLevelParams, 8, 1.0f); }, [] { return Series(); },
       Mean, 1e-3},
      {"mode 4, every level Infinity", 4, [](StackParams&) {}, [] { return Series(); },
       [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 3, infinite); }, 1e-3},
      {"mode 4, mixed exponents", 4,
       [&](StackParams& p) {
         std::copy_n(mixed, 8, p.stackLevelParams);
         p.stackScaleLevels = 3;
       },
       [] { return Series(); },
       [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 3, mixed); }, 1e-3},
      {"mode 4, p = 16 on 0-255 edges", 4,
       [&](StackParams& p) {
         std::copy_n(sixteen, 8, p.stackLevelParams);
         p.stackScaleLevels = 3;
       },
       edges, [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 3, sixteen); }, 1e-3},
      {"mode 4, five levels on 100 x 100 run four", 4,
       [](StackParams& p) { p.stackScaleLevels = 5; }, [] { return Series(100, 100); },
       [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 4, infinite); }, 1e-3},
      {"mode 4, an exponent out of range is Infinity", 4,
       [](StackParams& p) { std::fill_n(p.stackLevelParams, 8, 17.0f); }, [] { return Series(); },
       [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 3, infinite); }, 1e-3},
      // The mean's root 1/p lies above 16 here and is taken all the same.
      {"mode 4, a small exponent", 4,
       [&](StackParams& p) { std::copy_n(small, 8, p.stackLevelParams); }, [] { return Series(); },
       [&](const std::vector<fpbuffer>& s) { return PowerMeans(s, 3, small); }, 1e-3},
      {"mode 7, the residual is the average", 7, [](StackParams&) {},
       [] {
         const fpbuffer a = Series()[0];
         fpbuffer b = a;
         for (int c = 0; c < 3; ++c) b.plane[c].addscalar(10.0f);
         return std::vector<fpbuffer>{a, b};
       },
       [](const std::vector<fpbuffer>& s) { return Mean(s); }, 1e-3},
      {"mode 7, attenuation 1 and a huge tolerance is the Laplacian average", 7,
       [](StackParams& p) {
         p.edof2Tolerance1 = p.edof2Tolerance2 = p.edof2Tolerance3 = 1e30f;
         p.edof2Attenuation1 = p.edof2Attenuation2 = p.edof2Attenuation3 = 1;
       },
       [] { return Series(); }, Mean, 1e-3},
      {"mode 8, no iterations is the average", 8,
       [](StackParams& p) { p.edof3PoissonIterations = 0; }, [] { return Series(); }, Mean, 1e-4},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    P().SetDefaults();
    P().stackMode = k.mode;
    k.set(P());
    const std::vector<fpbuffer> images = k.images();
    const fpbuffer want = k.want(images);
    const fpbuffer& got = Stack(images);
    ASSERT_EQ(got.width, want.width);
    ASSERT_EQ(got.height, want.height);
    // Relative to the values' size where they are large (p = 16 edges).
    EXPECT_LE(MaxDifference(got, want), k.tolerance * 255.0);
    EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
  }
}

// Four slices of a textured scene, each sharp in one vertical band and blurred the more the
// farther the band from its focus: every mode beats every slice and the plain average by
// at least 3 dB against the scene.
TEST_F(EdofTest, AFocusSeriesComesOutSharperThanAnySlice) {
  const int w = 96, h = 64, slices = 4;
  const fpbuffer truth = Image(w, h, Texture);
  std::vector<std::vector<matrix>> blurred(3);
  for (int c = 0; c < 3; ++c) {
    for (int d = 0; d < slices; ++d)
      blurred[size_t(c)].push_back(Blur(truth.plane[c], 1.3f * float(d)));
  }
  std::vector<fpbuffer> series;
  for (int s = 0; s < slices; ++s) {
    series.push_back(Image(w, h, [&](int c, int x, int y) {
      const int depth = x * slices / w;
      return blurred[size_t(c)][size_t(std::abs(depth - s))].z[y][x];
    }));
  }
  double best = Psnr(Mean(series), truth);
  for (const fpbuffer& s : series) best = std::max(best, Psnr(s, truth));
  for (int mode : {4, 7, 8}) {
    SCOPED_TRACE(mode);
    P().SetDefaults();
    P().stackMode = mode;
    const double psnr = Psnr(Stack(series), truth);
    EXPECT_GE(psnr, best + 3.0) << "best input " << best;
  }
}

// With scratch files the sums go through the run's level files and give the same bytes;
// none is left. A level file that cannot be written ends the run with the image kept.
TEST_F(EdofTest, ScratchFilesForModeFour) {
  const std::vector<fpbuffer> images = Series();
  P().stackMode = 4;
  SetLevels({2, kInfinity, 16});
  P().stackScaleLevels = 3;
  const fpbuffer inMemory = Stack(images);
  P().edofScratchFiles = 1;
  EXPECT_EQ(MaxDifference(Stack(images), inMemory), 0.0);
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});

  const std::string before = Window();
  const fs::path blocked = ScratchPath("g0.1.mat");
  fs::create_directory(blocked);
  Stack(images, {blocked.string() + " is not a regular file; it was not replaced.",
                 "Aborted because of problem writing this file."});
  EXPECT_EQ(ui.messages.back().caption, blocked.string());
  EXPECT_EQ(Window(), before);
  EXPECT_EQ(Scratch(), (std::vector<std::string>{kScratchMarker, "g0.1.mat"}));
}

// Tiny images: one level, no band; everything stays finite and a stack of equal images
// returns them.
TEST_F(EdofTest, TinyImages) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{1, 6}, std::pair{6, 1}, std::pair{2, 2}}) {
    for (int mode : {4, 7, 8}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << " mode " << mode);
      P().SetDefaults();
      P().stackMode = mode;
      P().edof2Tolerance1 = 1;
      const fpbuffer one = Image(w, h, Texture);
      EXPECT_LE(MaxDifference(Stack({one, one, one}), one), 1e-3);
    }
  }
}

// A cancel at the solver's first tick leaves the window as it was, bit for bit.
TEST_F(EdofTest, CancelInTheReconstructionKeepsTheImage) {
  const std::vector<fpbuffer> images = Series();
  P().stackMode = 8;
  const std::string before = Window();
  // The load loop polls once per file; the next poll is the solver's first tick.
  platform.CancelAtPoll(int(images.size()) + 1);
  Stack(images);
  EXPECT_EQ(platform.polls, int(images.size()) + 1);
  EXPECT_EQ(v.pixelInfoText, "Doing Poisson Iterations");
  EXPECT_EQ(Window(), before);
  EXPECT_EQ(Scratch(), std::vector<std::string>{kScratchMarker});
}

// The mode's page follows "Stack Images" from the menu; F2 and F3 show neither; a recorded
// step keeps the 45 words of the block and replays them.
TEST_F(EdofTest, PagesF2F3AndPrograms) {
  const std::vector<fpbuffer> images = Series();
  P().stackMode = 8;
  P().edof3PoissonIterations = 7;
  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(65));
  ui.ExpectProperties(TypeAndOk(83));
  const fpbuffer want = Stack(images);
  EXPECT_EQ(v.pixelInfoText, "Finished");
  LiveSettings().autoQuery = 0;
  EXPECT_GT(MaxDifference(want, Mean(images)), 1.0);
  for (bool* key : {&Flags().F2Active, &Flags().F3Active}) {
    *key = true;
    EXPECT_EQ(MaxDifference(Stack(images), want), 0.0);
    Flags() = CommandFlags();
  }

  Settings& s = LiveSettings();
  s.program.stepCount = 1;
  Flags().F2Active = Flags().Recording = true;
  Stack(images);
  Flags() = CommandFlags();
  EXPECT_EQ(std::memcmp(s.program.steps[1].bytes, &s.stack, 45 * 4), 0);
  P().SetDefaults();
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  EXPECT_EQ(MaxDifference(Stack(images), want), 0.0);
  Flags() = CommandFlags();
  EXPECT_EQ(P().stackMode, 8);
  EXPECT_EQ(P().edof3PoissonIterations, 7);
}

// The level helpers on a few values: the larger magnitude wins (ties keep the held one),
// and the mean runs over what lies within the tolerance.
TEST(EdofLevels, KeepMaxAbsAndAccumulateWithin) {
  matrixarray a(2, 3, 1), b(2, 3, 1);
  const float av[] = {1, -4, 2}, bv[] = {-3, 4, 1};
  for (int l = 0; l < 2; ++l) {
    std::copy_n(av, 3, a[l].x);
    std::copy_n(bv, 3, b[l].x);
  }
  ops::stacking::KeepMaxAbs(a, b, 1);
  EXPECT_EQ(std::vector<float>(a[0].x, a[0].x + 3), (std::vector<float>{-3, -4, 2}));
  EXPECT_EQ(std::vector<float>(a[1].x, a[1].x + 3), (std::vector<float>{1, -4, 2}));

  matrix sum(3, 1), reference(3, 1), candidate(3, 1);
  sum.zero();
  cvector<int32_t> counts(3);
  std::fill_n(counts.x, 3, 0);
  std::copy_n(av, 3, reference.x);
  std::copy_n(bv, 3, candidate.x);
  ops::stacking::AccumulateWithin(sum, reference, reference, counts, 0.0f);
  // |1 - (-3)| = 4 counts, |2 - 1| = 1 too, |-4 - 4| = 8 does not.
  ops::stacking::AccumulateWithin(sum, candidate, reference, counts, 4.0f);
  intmaps list(1);
  list.row[0] = counts;
  matrixarray sums(1);
  sums[0] = sum;
  ops::stacking::DivideCounts(sums, list);
  EXPECT_EQ(std::vector<float>(sums[0].x, sums[0].x + 3), (std::vector<float>{-1, -4, 1.5f}));
  EXPECT_EQ(std::vector<int>(counts.x, counts.x + 3), (std::vector<int>{2, 1, 2}));
}
