// Regularized Deconvolution through the image window's dispatcher: its dialogs and
// prompts, the operator lists, Convolve, the per-channel driver with its enlargement
// shortcut and scratch files, and what a solve gains on a blurred picture.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/flags.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "numeric/bitmask.h"
#include "numeric/resample.h"
#include "ops/filters/deconv.h"
#include "ops/filters/degradation.h"
#include "ops/filters/regularizers.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr CommandId kDecon = CommandId::RegularizedDeconvolution;
constexpr int kLAD = 0, kLS = 1, kConvolve = 2;

float Texture(int c, int x, int y) {
  return 120.0f + 50.0f * std::sin(0.9f * x + 0.3f * c) * std::cos(0.7f * y) +
         30.0f * std::sin(0.35f * (x + 2 * y));
}

std::string Bytes(const matrix& m) {
  return std::string(reinterpret_cast<const char*>(m.x), size_t(std::max(m.n, 0)) * sizeof(float));
}

double Psnr(const matrix& a, const matrix& b) {
  double s = 0.0;
  for (int k = 0; k < a.n; ++k) s += (double(a.x[k]) - b.x[k]) * (double(a.x[k]) - b.x[k]);
  return 10.0 * std::log10(255.0 * 255.0 / (s / a.n));
}

class DeconvTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    program_ = LiveSettings().program;  // the defaults keep the steps: one test records
    LiveSettings().autoQuery = 0;       // no page unless a test turns them on
    LiveSettings().conditional = 0;
    P().deconvMethod = kLS;
    P().lsMaxIterations = 30;
    P().lsMinIterations = 1;
  }
  void TearDown() override {
    CurrentRegularizerWeights() = RegularizerWeights();
    LiveSettings().program = program_;
    ZepTest::TearDown();
  }
  static DeconvParams& P() { return LiveSettings().deconv; }
  void Picture(int w, int h, float (*f)(int, int, int) = Texture,
               CSpaceCode code = cspace::kDefault) {
    fpbuffer& image = v.currentLayer();
    image.dim(w, h, code);
    for (int c = 0; c < image.channels; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.plane[c].z[y][x] = f(c, x, y);
  }
  fpbuffer& Image() { return v.currentLayer(); }
  static std::vector<std::string> ScratchFilesLeft() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(ScratchDirectory())) {
      const std::string name = e.path().filename().string();
      if (name.rfind("temp", 0) == 0) names.push_back(name);
    }
    return names;
  }

  FakeHost host;
  CImageView v{&host};
  RecordedProgram program_;
};
}  // namespace

TEST_F(DeconvTest, WarningModeShowsTheBoxAndThePageAndRunsNothing) {
  LiveSettings().autoQuery = 1;
  P().deconvMethod = 3;
  Picture(12, 10);
  const std::string before = Bytes(Image().plane[0]);
  ui.ExpectMessage(
      "These operations can take hours or days to complete.  Please, read instruction manual.");
  ui.ExpectProperties(TypeAndOk(137));
  v.Dispatch(kDecon);
  ui.VerifyAllAnswered();
  EXPECT_EQ(Bytes(Image().plane[0]), before);
}

TEST_F(DeconvTest, WithoutARegularizerTheMessageAndThePageAgain) {
  DeconvParams& p = P();
  p.weightSlopesHV = p.weightSlopesDiagonal = 0;
  Picture(12, 10);
  const std::string before = Bytes(Image().plane[0]);
  for (int mode : {kLS, kConvolve}) {
    SCOPED_TRACE(mode);
    p.deconvMethod = mode;
    LiveSettings().autoQuery = 1;
    ui.ExpectProperties(TypeAndOk(137));
    if (mode != kConvolve) {
      ui.ExpectProperties(TypeAndOk(138));
      ui.ExpectProperties(TypeAndOk(139));
    }
    ui.ExpectMessage("At least one regularization constraint must be specified.\nTry Again");
    ui.ExpectProperties(CancelOn(137));
    v.Dispatch(kDecon);
    ui.VerifyAllAnswered();
    // Without pages the message comes once and the command ends.
    LiveSettings().autoQuery = 0;
    ui.ExpectMessage("At least one regularization constraint must be specified.\nTry Again");
    v.Dispatch(kDecon);
    ui.VerifyAllAnswered();
    EXPECT_EQ(Bytes(Image().plane[0]), before);
  }
}

TEST_F(DeconvTest, CustomKernelsArePromptedAndNormalised) {
  DeconvParams& p = P();
  p.deconvMethod = kConvolve;
  p.psfType = 10;
  p.customKernelHCount = p.customKernelVCount = 5;
  Picture(9, 8);
  const matrix before = Image().plane[1];
  ui.ExpectPrompt(Enter("22, 1"));
  ui.ExpectMessage("Bad entry.\nNumber of coefficients must be between 1 and 21.\nTry again.");
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.title, "Horizontal");
    d.text = "3, 1";
    return DialogResult::Ok;
  });
  ui.ExpectPrompt(Enter("1,2,1"));
  ui.ExpectPrompt([](Dialog1& d) {
    EXPECT_EQ(d.title, "Vertical");
    d.text = "3, 1";
    return DialogResult::Ok;
  });
  ui.ExpectPrompt(Enter("1,2,1"));
  v.Dispatch(kDecon);
  ui.VerifyAllAnswered();
  EXPECT_EQ(p.customKernelHCount, 3);
  EXPECT_EQ(p.customKernelVCount, 3);
  const PsfParameters& psf = CurrentPsfParameters();
  for (const matrix* k : {psf.customRow, psf.customColumn}) {
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->n, 3);
    EXPECT_EQ(k->x[0], 0.25f);
    EXPECT_EQ(k->x[1], 0.5f);
    EXPECT_EQ(k->x[2], 0.25f);
  }
  // The image went through that kernel both ways: an interior pixel checks it.
  double want = 0.0;
  const float k[3] = {0.25f, 0.5f, 0.25f};
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) want += k[a] * k[b] * before.z[3 + a][3 + b];
  EXPECT_NEAR(Image().plane[1].z[4][4], want, 1e-3);

  // A cancelled prompt ends the command with the image untouched.
  const std::string now = Bytes(Image().plane[1]);
  ui.ExpectPrompt(CancelPrompt());
  v.Dispatch(kDecon);
  ui.VerifyAllAnswered();
  EXPECT_EQ(Bytes(Image().plane[1]), now);
}

TEST_F(DeconvTest, TheListsFollowTheWeightRows) {
  struct Case {
    const char* name;
    std::function<void(DeconvParams&)> set;
    std::vector<std::function<matrix&(matrix&, const matrix&)>> want;
  };
  using M = matrix;
  const matrix x = [] {
    matrix m(9, 8);
    for (int k = 0; k < m.n; ++k) m.x[k] = float((k * 37) % 11) - 5.0f;
    return m;
  }();
  const Case cases[] = {
      {"defaults",
       [](DeconvParams&) {},
       {[](M& o, const M& i) -> M& { return o.slopex(i, 0.01f); },
        [](M& o, const M& i) -> M& { return o.slopey(i, 0.01f); },
        [](M& o, const M& i) -> M& { return o.slopediag(i, 0.01f); },
        [](M& o, const M& i) -> M& { return o.slopeanti(i, 0.01f); }}},
      {"slopes both ways and horizontal only, a dd row and a field row between",
       [](DeconvParams& p) {
         p.weightSlopesHV = 2;
         p.weightSlopesDiagonal = 0;
         p.weightSlopesHorizontal = 3;
         p.weightDdCurvesHVMax = 4;
         p.weightDdSlopesHVMin = 5;
         p.weightDd2SlopesMax = 6;
         p.weightDdCurvesMin = 7;
         p.weightCurvesVertical = 8;
       },
       {[](M& o, const M& i) -> M& { return o.slopex(i, 2); },
        [](M& o, const M& i) -> M& { return o.slopey(i, 2); },
        [](M& o, const M& i) -> M& { return o.ddslopemin(i, bitmask(), 5); },
        [](M& o, const M& i) -> M& { return o.ddcurvmax(i, bitmask(), 4); },
        [](M& o, const M& i) -> M& { return o.dircurvmin(i, matrix(), 7); },
        [](M& o, const M& i) -> M& { return o.dirslope2max(i, matrix(), 6); },
        [](M& o, const M& i) -> M& { return o.slopex(i, 3); },
        [](M& o, const M& i) -> M& { return o.curvy(i, 8); }}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeconvParams p;
    p.SetDefaults();
    c.set(p);
    int factor = 0;
    SetDeconvParameters(p, factor);
    EXPECT_EQ(factor, 1);
    LinearOpList f, a;
    AppendRegularizers(f, a);
    ASSERT_EQ(f.size(), c.want.size());
    ASSERT_EQ(a.size(), c.want.size());
    for (size_t k = 0; k < f.size(); ++k) {
      matrix got, expected;
      f[k](got, x);
      c.want[k](expected, x);
      EXPECT_EQ(Bytes(got), Bytes(expected)) << k;
    }
  }
}

TEST_F(DeconvTest, ConvolveReducesByTheRoundedFactor) {
  DeconvParams& p = P();
  p.deconvMethod = kConvolve;
  struct Case {
    int type, f, w, h, rw, rh;
  } cases[] = {{4, 3, 99, 60, 33, 20}, {6, 2, 101, 60, 51, 30}, {2, 2, 40, 30, 40, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " f " << c.f);
    p.psfType = c.type;
    p.deconvScaleFactor = c.f;
    Picture(c.w, c.h, [](int c, int, int) { return 40.0f + 10.0f * c; });
    Image().mask.dim(c.w, c.h).set(3, 4, true);
    v.Dispatch(kDecon);
    ASSERT_EQ(Image().width, c.rw);
    ASSERT_EQ(Image().height, c.rh);
    EXPECT_EQ(Image().mask.present(), c.rw == c.w);  // a reduction drops the mask
    for (int ch = 0; ch < 3; ++ch) {
      ASSERT_EQ(Image().plane[ch].nx, c.rw);
      for (int k = 0; k < Image().plane[ch].n; ++k) {
        ASSERT_NEAR(Image().plane[ch].x[k], 40.0f + 10.0f * ch, 1e-3) << ch << " " << k;
      }
    }
  }
}

TEST_F(DeconvTest, LeastSquaresKeepsAConstantForEverySizePreservingType) {
  DeconvParams& p = P();
  p.customKernelHCount = p.customKernelVCount = 3;
  p.customKernelH[0] = p.customKernelV[0] = 1;
  p.customKernelH[1] = p.customKernelV[1] = 2;
  p.customKernelH[2] = p.customKernelV[2] = 1;
  p.customKernelNormalize = 1;
  p.lsMaxIterations = 300;
  for (int type : {0, 1, 2, 3, 10}) {
    SCOPED_TRACE(type);
    p.psfType = type;
    Picture(17, 13, [](int, int, int) { return 77.0f; });
    if (type == 10) {
      ui.ExpectPrompt(Enter("3, 1")).ExpectPrompt(Enter("1,2,1"));
      ui.ExpectPrompt(Enter("3, 1")).ExpectPrompt(Enter("1,2,1"));
    }
    v.Dispatch(kDecon);
    ui.VerifyAllAnswered();
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < Image().plane[c].n; ++k)
        ASSERT_NEAR(Image().plane[c].x[k], 77.0f, 77e-4) << c << " " << k;
    EXPECT_EQ(v.pixelInfoText, "L1 Errors: X = 0, Y = 0, Z = 0");
  }
}

TEST_F(DeconvTest, CondSolvesOnlyTheVisibleChannels) {
  LiveSettings().conditional = 1;
  P().psfType = 2;
  Picture(16, 12, Texture, cspace::kRGB | 2);
  const fpbuffer before(Image());
  v.Dispatch(kDecon);
  EXPECT_EQ(Bytes(Image().plane[0]), Bytes(before.plane[0]));
  EXPECT_EQ(Bytes(Image().plane[2]), Bytes(before.plane[2]));
  EXPECT_NE(Bytes(Image().plane[1]), Bytes(before.plane[1]));
}

TEST_F(DeconvTest, EnlargementRescalesTheMaskAndTheScratchPathAgrees) {
  DeconvParams& p = P();
  p.psfType = 4;
  p.deconvScaleFactor = 2;
  p.deconvShortcut = 0;
  p.lsMaxIterations = 8;
  fpbuffer results[2];
  for (int scratch = 0; scratch < 2; ++scratch) {
    SCOPED_TRACE(scratch);
    p.deconvUseScratchDisk = uint8_t(scratch);
    Picture(100, 80);
    Image().mask.dim(100, 80);
    for (int y = 10; y < 30; ++y)
      for (int x = 20; x < 60; ++x) Image().mask.set(x, y, true);
    v.Dispatch(kDecon);
    ASSERT_EQ(Image().width, 200);
    ASSERT_EQ(Image().height, 160);
    ASSERT_EQ(Image().plane[2].ny, 160);
    int count, bx, by, bw, bh;
    Image().mask.bounds(count, bx, by, bw, bh);
    EXPECT_EQ(bx, 40);
    EXPECT_EQ(by, 20);
    EXPECT_EQ(bw, 80);
    EXPECT_EQ(bh, 40);
    EXPECT_TRUE(ScratchFilesLeft().empty());
    results[scratch].copy(Image());
  }
  for (int c = 0; c < 3; ++c) EXPECT_EQ(Bytes(results[0].plane[c]), Bytes(results[1].plane[c]));
}

TEST_F(DeconvTest, TheShortcutSolvesTheLuminanceAlone) {
  DeconvParams& p = P();
  p.deconvMethod = kLAD;
  p.ladMaxIterations = 3;
  p.lsMaxIterations = 10;
  p.psfType = 6;  // Lanczos3 + Decimate
  p.deconvScaleFactor = 2;
  p.deconvShortcut = 1;
  for (int scratch = 0; scratch < 2; ++scratch) {
    SCOPED_TRACE(scratch);
    p.deconvUseScratchDisk = uint8_t(scratch);
    Picture(20, 14);
    v.Dispatch(kDecon);
    EXPECT_EQ(Image().width, 40);
    EXPECT_EQ(Image().code, cspace::kDefault);
    ASSERT_EQ(v.pixelInfoText.rfind("L1 Errors: X = ", 0), 0u) << v.pixelInfoText;
    EXPECT_NE(v.pixelInfoText, "L1 Errors: X = 0, Y = 0, Z = 0");
    EXPECT_EQ(v.pixelInfoText.substr(v.pixelInfoText.size() - 14), ", Y = 0, Z = 0");
    EXPECT_TRUE(ScratchFilesLeft().empty());
  }
  // At factor 1 (a Gaussian) the shortcut is not taken: every channel gets its own solve
  // in RGB, so LAD reports all three.
  p.psfType = 2;
  Picture(20, 14);
  v.Dispatch(kDecon);
  EXPECT_EQ(Image().width, 20);
  float x = 0, y = 0, z = 0;
  ASSERT_EQ(std::sscanf(v.pixelInfoText.c_str(), "L1 Errors: X = %f, Y = %f, Z = %f", &x, &y, &z),
            3);
  EXPECT_GT(x, 0);
  EXPECT_GT(y, 0);
  EXPECT_GT(z, 0);
}

TEST_F(DeconvTest, ACancelKeepsTheImageAndLeavesNoScratchFile) {
  DeconvParams& p = P();
  struct Case {
    int type, scratch, shortcut;
  } cases[] = {{2, 0, 0}, {2, 1, 0}, {4, 0, 0}, {4, 1, 0}, {4, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " " << c.scratch << " " << c.shortcut);
    p.psfType = c.type;
    p.deconvUseScratchDisk = uint8_t(c.scratch);
    p.deconvShortcut = c.shortcut;
    Picture(24, 18);
    Image().mask.dim(24, 18).set(5, 5, true);
    const fpbuffer before(Image());
    v.pixelInfoText = "unchanged";
    platform.CancelAtPoll(1);
    v.Dispatch(kDecon);
    platform.CancelAtPoll(0);
    ASSERT_EQ(Image().width, 24);
    EXPECT_EQ(Image().code, before.code);
    for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(Bytes(Image().plane[ch]), Bytes(before.plane[ch]));
    EXPECT_TRUE(Image().mask.get(5, 5));
    EXPECT_EQ(v.pixelInfoText, "unchanged");
    EXPECT_TRUE(ScratchFilesLeft().empty());
  }
}

TEST_F(DeconvTest, F2RunsWithoutDialogsCtrlSelectsAndProgramsReplayTheBlock) {
  LiveSettings().autoQuery = 1;  // any dialog would fail the test: none is expected
  DeconvParams& p = P();
  p.deconvMethod = 3;  // "Warning" under F2 runs LAD
  p.ladMaxIterations = 2;
  p.lsMaxIterations = 5;
  p.psfType = 2;
  for (bool f3 : {false, true}) {
    Picture(12, 10);
    (f3 ? Flags().F3Active : Flags().F2Active) = true;
    v.Dispatch(kDecon);
    EXPECT_FALSE(Flags().F2Active || Flags().F3Active);
    EXPECT_NE(v.pixelInfoText.find("L1 Errors: X = "), std::string::npos);
    EXPECT_NE(v.pixelInfoText, "L1 Errors: X = 0, Y = 0, Z = 0");
  }

  // Ctrl: the dialogs, then the command becomes the F2/F3 operation and nothing runs.
  p.deconvMethod = kLS;
  Picture(12, 10);
  const std::string before = Bytes(Image().plane[0]);
  Flags().CtrlHeld = true;
  ui.ExpectProperties(TypeAndOk(137)).ExpectProperties(TypeAndOk(138));
  ui.ExpectProperties(TypeAndOk(139));
  v.Dispatch(kDecon);
  ui.VerifyAllAnswered();
  Flags().CtrlHeld = false;
  EXPECT_EQ(v.f2OperationId, int(kDecon));
  EXPECT_EQ(Bytes(Image().plane[0]), before);

  // Recording keeps the whole block (92 words); playing puts it back before the run.
  Settings& s = LiveSettings();
  s.program.stepCount = 1;
  p.deconvMethod = kConvolve;
  p.psfType = 4;
  p.deconvScaleFactor = 2;
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(kDecon);
  Flags().Recording = false;
  EXPECT_EQ(Image().width, 6);
  p.SetDefaults();
  Picture(12, 10);
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  v.Dispatch(kDecon);
  Flags().Playing = false;
  EXPECT_EQ(Image().width, 6);
  EXPECT_EQ(p.deconvMethod, kConvolve);
  EXPECT_EQ(p.deconvScaleFactor, 2);
}

TEST_F(DeconvTest, LeastSquaresUndoesAGaussianBlur) {
  DeconvParams& p = P();
  p.psfType = 2;
  p.psfGaussianStdDevH = p.psfGaussianStdDevV = 1.5f;
  p.weightSlopesHV = p.weightSlopesDiagonal = 0.002f;
  p.lsMaxIterations = 300;
  p.lsMinIterations = 50;
  Picture(64, 48);
  const matrix original = Image().plane[0];
  p.deconvMethod = kConvolve;
  v.Dispatch(kDecon);
  const double blurred = Psnr(Image().plane[0], original);
  p.deconvMethod = kLS;
  v.Dispatch(kDecon);
  const double restored = Psnr(Image().plane[0], original);
  RecordProperty("blurred_psnr", std::to_string(blurred));
  RecordProperty("restored_psnr", std::to_string(restored));
  EXPECT_GE(restored, blurred + 5.0) << blurred << " dB blurred, " << restored << " restored";
}

TEST_F(DeconvTest, EnlargementAgainstTheDecimationModelMatchesLanczos) {
  DeconvParams& p = P();
  p.psfType = 6;  // Lanczos3 + Decimate
  p.deconvScaleFactor = 2;
  p.deconvShortcut = 0;
  p.weightSlopesHV = p.weightSlopesDiagonal = 0.001f;
  p.lsMaxIterations = 200;
  Picture(64, 48);
  const matrix original = Image().plane[0];
  p.deconvMethod = kConvolve;
  v.Dispatch(kDecon);
  ASSERT_EQ(Image().width, 32);
  matrix kx, ky, lanczos;
  BuildLanczosKernelForSizes(kx, 3, 32, 64, 0);
  BuildLanczosKernelForSizes(ky, 3, 24, 48, 0);
  ResampleSeparable(lanczos, Image().plane[0], kx, ky);
  p.deconvMethod = kLS;
  v.Dispatch(kDecon);
  ASSERT_EQ(Image().width, 64);
  const double plain = Psnr(lanczos, original), model = Psnr(Image().plane[0], original);
  RecordProperty("lanczos_psnr", std::to_string(plain));
  RecordProperty("ls_psnr", std::to_string(model));
  EXPECT_GE(model, plain - 0.5) << "Lanczos " << plain << " dB, LS " << model << " dB";
}
