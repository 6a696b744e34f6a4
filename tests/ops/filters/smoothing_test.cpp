// Hysteresis Smoothing and Fast Bilateral Approximation: the drivers on colour images and
// the commands through the dispatcher of a real image window.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
constexpr int kW = 29, kH = 21;

// A piecewise-smooth picture: a shaded background, a disc and a bar of other colours.
float Clean(int c, int x, int y, int w, int h) {
  const float fx = float(x) / float(w), fy = float(y) / float(h);
  const float dx = fx - 0.35f, dy = fy - 0.55f;
  if (dx * dx + dy * dy < 0.06f) return 180.0f - 30.0f * float(c) + 20.0f * fx;
  if (fx > 0.65f && fy > 0.2f && fy < 0.45f) return 60.0f + 40.0f * float(c);
  return 90.0f + 50.0f * fx + 20.0f * fy + 10.0f * float(c);
}

// Gaussian noise of the given sigma from a fixed generator (Box-Muller).
struct Gauss {
  uint64_t state = 88172645463325252ull;
  double uniform() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (double(state >> 11) + 0.5) / 9007199254740992.0;
  }
  float operator()(float sigma) {
    const double u = uniform(), v = uniform();
    return float(sigma * std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v));
  }
};

fpbuffer Picture(int w, int h, float sigma, CSpaceCode code = cspace::kDefault) {
  fpbuffer f(w, h, code);
  Gauss noise;
  for (int c = 0; c < f.channels; ++c) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = Clean(c, x, y, w, h) + noise(sigma);
    }
  }
  return f;
}

fpbuffer Noisy(CSpaceCode code = cspace::kDefault) { return Picture(kW, kH, 10.0f, code); }

std::vector<float> Channel(const fpbuffer& f, int c) {
  return std::vector<float>(f.plane[c].x, f.plane[c].x + f.plane[c].n);
}

double Psnr(const fpbuffer& f) {
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    for (int y = 0; y < f.height; ++y) {
      for (int x = 0; x < f.width; ++x) {
        const double e = f.plane[c].z[y][x] - Clean(c, x, y, f.width, f.height);
        sum += e * e;
      }
    }
  }
  return 10.0 * std::log10(255.0 * 255.0 / (sum / (3.0 * f.n)));
}

BlurParams& P() { return LiveSettings().blur; }
bool Cond() { return LiveSettings().conditional != 0; }

struct Command {
  CommandId id;
  int page;
  const char* name;
  // The driver call the command makes with the live settings.
  std::function<void(fpbuffer&, bitmask*)> driver;
};

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {CommandId::HysteresisSmoothing, 47, "Hysteresis",
       [](fpbuffer& f, bitmask*) {
         const bool combine = P().hysteresisCombineChannels != 0;
         if (P().hysteresisArtifactReduction == 0) {
           f.hysteresis(P().hysteresisTolerance, P().hysteresisIterations, combine, Cond(),
                        nullptr);
           return;
         }
         f.hysteresissmooth(P().hysteresisTolerance, P().hysteresisIterations,
                            P().hysteresisHaloIterations, combine, Cond());
         if (!combine) f.scaleshift(0);
       }},
      {CommandId::FastBilateralApproximation, 48, "FastBilateral",
       [](fpbuffer& f, bitmask* selection) {
         f.fastbilateral(P().fastBilateralRangeStdDev, P().fastBilateralRadius,
                         P().fastBilateralIterations, P().fastBilateralCombineChannels != 0, Cond(),
                         selection);
       }},
  };
  return commands;
}

class SmoothingCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    P().hysteresisHaloIterations = 5;
    P().fastBilateralRadius = 3;  // the default 20 has no full window in the picture's rows
    P().fastBilateralRangeStdDev = 20.0f;
    Load(v, Noisy());
  }
  static void Load(CImageView& w, const fpbuffer& image) {
    w.currentLayer() = image;
    w.currentBitmap() = DisplayBitmap(image.width, image.height);
    w.currentLayer().todib(w.currentBitmap().toprow());
    w.Paint(image.width, image.height);
  }
  static fpbuffer Expected(const Command& c, bitmask* selection = nullptr) {
    fpbuffer f = Noisy();
    c.driver(f, selection);
    return f;
  }
  static void ExpectImage(const fpbuffer& got, const fpbuffer& want) {
    ASSERT_EQ(got.channels, want.channels);
    for (int c = 0; c < got.channels; ++c) EXPECT_EQ(Channel(got, c), Channel(want, c)) << c;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(SmoothingCommandTest, FromTheMenuF2F3AndCtrl) {
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    Load(v, Noisy());
    LiveSettings().autoQuery = 1;
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ui.VerifyAllAnswered();
    ExpectImage(v.currentLayer(), Expected(c));
    EXPECT_NE(Channel(v.currentLayer(), 0), Channel(Noisy(), 0));

    for (const bool f3 : {false, true}) {
      Load(v, Noisy());
      (f3 ? Flags().F3Active : Flags().F2Active) = true;
      v.Dispatch(c.id);  // no page
      ExpectImage(v.currentLayer(), Expected(c));
    }

    Load(v, Noisy());
    Flags().CtrlHeld = true;
    ui.ExpectProperties(TypeAndOk(c.page));
    v.Dispatch(c.id);
    ExpectImage(v.currentLayer(), Noisy());
    EXPECT_EQ(v.f2OperationId, int(c.id));
    Flags() = CommandFlags();
    LiveSettings().autoQuery = 0;
  }
}

TEST_F(SmoothingCommandTest, ARecordedStepKeepsTheBlockAndReplaysIt) {
  for (const Command& c : Commands()) {
    SCOPED_TRACE(c.name);
    P().hysteresisTolerance = 25.0f;
    P().hysteresisCombineChannels = 1;
    P().fastBilateralIterations = 2;
    const BlurParams recorded = P();
    Load(v, Noisy());
    v.Dispatch(CommandId::RecordProgram);
    v.SelectOperation(c.id, false);
    v.Dispatch(CommandId::F2ProgrammedOperation);
    ASSERT_EQ(LiveSettings().program.stepCount, 1);
    EXPECT_EQ(std::memcmp(LiveSettings().program.steps[0].bytes, &recorded, 4 * 59), 0);
    ui.ExpectProperties(TypeAndOk(101));
    v.Dispatch(CommandId::RecordProgram);

    const fpbuffer want = Expected(c);
    P() = BlurParams();
    P().SetDefaults();
    Load(v, Noisy());
    v.Dispatch(CommandId::RunProgram);
    ExpectImage(v.currentLayer(), want);
  }
}

// The per-channel merge ends with the image stretched to 0..255.
TEST_F(SmoothingCommandTest, PerChannelArtifactReductionEndsOnTheFullRange) {
  for (const int halo : {0, 5}) {
    SCOPED_TRACE(halo);
    P().hysteresisHaloIterations = halo;
    Load(v, Noisy());
    Flags().F2Active = true;
    v.Dispatch(CommandId::HysteresisSmoothing);
    float lo = 1e9f, hi = -1e9f;
    for (int c = 0; c < 3; ++c) {
      float a = 0, b = 0;
      v.currentLayer().plane[c].finiteminmax(a, b);
      lo = std::min(lo, a);
      hi = std::max(hi, b);
    }
    EXPECT_EQ(lo, 0.0f);
    EXPECT_NEAR(hi, 255.0f, 1e-3f);  // the stretch's scale rounds
  }
}

TEST_F(SmoothingCommandTest, ACancelAtTheFirstTickKeepsTheImage) {
  for (const bool combine : {false, true}) {
    SCOPED_TRACE(combine);
    P().hysteresisCombineChannels = combine;
    Load(v, Noisy());
    Flags().F2Active = true;
    platform.CancelAtPoll(1);
    v.Dispatch(CommandId::HysteresisSmoothing);
    ExpectImage(v.currentLayer(), Noisy());
    EXPECT_TRUE(v.operationFailed);
    platform.CancelAtPoll(0);
  }
}

// Hysteresis takes every pixel whatever the selection; Fast Bilateral takes the selection
// alone, not the image's own mask, and combined filters the channels Cond hides too.
TEST_F(SmoothingCommandTest, SelectionMaskAndCond) {
  const CSpaceCode hidden1 = cspace::kRGB | 0x5;
  LiveSettings().conditional = 1;
  bitmask selection(kW, kH);
  for (int k = 0; k < kW * kH; k += 3) selection.setbit(k, true);
  fpbuffer masked = Noisy(hidden1);
  masked.mask.dim(kW, kH);
  for (int k = 0; k < kW * kH; k += 2) masked.mask.setbit(k, true);

  P().hysteresisArtifactReduction = 0;
  Load(v, masked);
  v.selection = selection;
  Flags().F2Active = true;
  v.Dispatch(CommandId::HysteresisSmoothing);
  fpbuffer want = Noisy(hidden1);
  want.hysteresis(P().hysteresisTolerance, P().hysteresisIterations, false, true, nullptr);
  ExpectImage(v.currentLayer(), want);
  EXPECT_EQ(Channel(v.currentLayer(), 1), Channel(Noisy(hidden1), 1));

  for (const bool combine : {false, true}) {
    SCOPED_TRACE(combine);
    fpbuffer f = masked;
    bitmask s = selection;
    f.fastbilateral(20.0f, 3, 1, combine, true, &s);
    const fpbuffer before = Noisy(hidden1);
    int changed[3] = {0, 0, 0};
    for (int k = 0; k < f.n; ++k) {
      EXPECT_EQ(s.getbit(k), k % 3 == 0);  // not narrowed by the image mask
      for (int c = 0; c < 3; ++c) {
        if (k % 3 != 0) {
          EXPECT_EQ(f.plane[c].x[k], before.plane[c].x[k]) << c << ":" << k;
        }
        changed[c] += f.plane[c].x[k] != before.plane[c].x[k];
      }
    }
    EXPECT_GT(changed[0], kW * kH / 6);  // also where the image mask is clear
    EXPECT_EQ(changed[1] > 0, combine);
  }
}

TEST(SmoothingDrivers, ConstantsStayConstant) {
  fpbuffer flat(40, 30, cspace::kDefault);
  for (int c = 0; c < 3; ++c) flat.plane[c].fill(50.0f + 20.0f * float(c));
  for (const bool combine : {false, true}) {
    fpbuffer f = flat;
    f.hysteresis(20.0f, 2, combine, false, nullptr);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Channel(f, c), Channel(flat, c)) << combine;
    f = flat;
    f.fastbilateral(5.0f, 4, 2, combine, false, nullptr);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(Channel(f, c), Channel(flat, c)) << combine;
  }
}

// Regression baselines on a 128 x 128 piecewise-smooth picture with Gaussian noise.
TEST(SmoothingDrivers, EachRaisesThePsnrOfANoisyPicture) {
  struct Case {
    const char* name;
    float sigma;
    std::function<void(fpbuffer&)> run;
  };
  const Case cases[] = {
      {"hysteresis", 10.0f, [](fpbuffer& f) { f.hysteresis(20.0f, 1, false, false, nullptr); }},
      {"hysteresis", 20.0f, [](fpbuffer& f) { f.hysteresis(40.0f, 1, false, false, nullptr); }},
      {"hysteresis combined", 10.0f,
       [](fpbuffer& f) { f.hysteresis(20.0f, 1, true, false, nullptr); }},
      {"hysteresis combined", 20.0f,
       [](fpbuffer& f) { f.hysteresis(40.0f, 1, true, false, nullptr); }},
      {"fast bilateral", 10.0f,
       [](fpbuffer& f) { f.fastbilateral(20.0f, 5, 1, false, false, nullptr); }},
      {"fast bilateral", 20.0f,
       [](fpbuffer& f) { f.fastbilateral(40.0f, 5, 1, false, false, nullptr); }},
      {"fast bilateral combined", 10.0f,
       [](fpbuffer& f) { f.fastbilateral(20.0f, 5, 1, true, false, nullptr); }},
      {"fast bilateral combined", 20.0f,
       [](fpbuffer& f) { f.fastbilateral(40.0f, 5, 1, true, false, nullptr); }},
  };
  for (const Case& c : cases) {
    fpbuffer f = Picture(128, 128, c.sigma);
    const double before = Psnr(f);
    c.run(f);
    const double after = Psnr(f);
    std::printf("%s, sigma %g: PSNR %.2f -> %.2f dB\n", c.name, c.sigma, before, after);
    EXPECT_GT(after, before + 1.0) << c.name << " " << c.sigma;
  }
}
