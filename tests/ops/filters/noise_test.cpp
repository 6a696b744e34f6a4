// Noise profiles and Fast Noise Removal through the dispatcher of a real image window:
// measuring, editing, the 140-byte file, and the thresholding in the profile's colour space.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "image/noiseprofile.h"
#include "numeric/matrixarray.h"
#include "params/dialog1.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
// Gaussian noise of the given sigma about 128 from a fixed generator (Box-Muller).
fpbuffer NoiseImage(int w, int h, float sigma, uint64_t state = 88172645463325252ull) {
  auto uniform = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return (double(state >> 11) + 0.5) / 9007199254740992.0;
  };
  fpbuffer f(w, h, cspace::kDefault);
  for (int c = 0; c < f.channels; ++c) {
    for (int k = 0; k < f.plane[c].n; ++k) {
      const double u = uniform(), v = uniform();
      f.plane[c].x[k] = float(128.0 + 20.0 * std::sin(0.05 * (k % w)) +
                              sigma * std::sqrt(-2.0 * std::log(u)) *
                                  std::cos(6.283185307179586 * v));
    }
  }
  return f;
}

ScriptedUi::PromptScript KeepValues(std::string* title = nullptr) {
  return [title](Dialog1& d) {
    if (title) *title = d.title;
    return DialogResult::Ok;
  };
}

class NoiseProfileTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    Load(NoiseImage(64, 60, 10.0f));
  }
  void Load(const fpbuffer& image) {
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
    v.Paint(image.width, image.height);
  }
  void Drag(int x0, int y0, int x1, int y1) {
    v.dragStart = {x0, y0};
    v.dragEnd = {x1, y1};
  }
  static NoiseProfile Profile(int levels, float factor, CSpaceCode code = cspace::kDefault) {
    NoiseProfile p;
    p.levels = levels;
    p.code = code;
    for (auto& channel : p.factors) {
      for (float& f : channel) f = factor;
    }
    return p;
  }
  static std::string Bytes(const NoiseProfile& p) {
    return std::string(reinterpret_cast<const char*>(&p), sizeof p);
  }
  static FileDialogAnswer Chosen(const std::string& path, bool typed = true) {
    FileDialogAnswer a;
    a.ok = true;
    a.path = path;
    a.extensionTyped = typed;
    return a;
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

// The factors are the RMS of each a-trous level over the dragged square (ends included),
// the modes are taken by their integer part with anything outside 0-2 as 0, and the three
// factor prompts come in channel order.
TEST_F(NoiseProfileTest, CreateMeasuresTheDraggedSquare) {
  Drag(60, 55, 10, 5);  // dragged up and to the left: 51 x 51 from (10, 5)
  ASSERT_TRUE(v.QueryCommand(CommandId::CreateNoiseProfile).enabled);
  ASSERT_FALSE(v.QueryCommand(CommandId::FastNoiseRemoval).enabled);
  ui.ExpectPrompt(Enter("0, 0, 0, 0"));
  ui.ExpectMessage("Must enter Number of Levels (1-10)");
  ui.ExpectPrompt(Enter("11, 0, 0, 0"));
  ui.ExpectMessage("Must enter Number of Levels (1-10)");
  ui.ExpectPrompt(Enter("3, 1.7, 3, -1"));
  std::string titles[3];
  for (std::string& t : titles) ui.ExpectPrompt(KeepValues(&t));
  v.Dispatch(CommandId::CreateNoiseProfile);
  ui.VerifyAllAnswered();

  const NoiseProfile& p = v.noiseProfile;
  EXPECT_EQ(p.levels, 3);
  EXPECT_EQ(p.modes[0], 1u);
  EXPECT_EQ(p.modes[1], 0u);
  EXPECT_EQ(p.modes[2], 0u);
  EXPECT_EQ(p.code, v.currentLayer().code);
  EXPECT_EQ(titles[0], "Inspect and Edit Channel 1 Factors:");
  EXPECT_EQ(titles[2], "Inspect and Edit Channel 3 Factors:");
  for (int c = 0; c < 3; ++c) {
    matrix channel = v.currentLayer().plane[c];
    matrixarray levels;
    levels.atrous(channel, 3);
    for (int i = 0; i < 3; ++i) {
      // The prompt shows three decimals and the accepted text is read back.
      EXPECT_NEAR(p.factors[c][i], levels[i].windowrms(10, 5, 51, 51), 5e-4) << c << i;
    }
    for (int i = 3; i < NoiseProfile::kMaxLevels; ++i) EXPECT_EQ(p.factors[c][i], 0.0f);
  }
  EXPECT_TRUE(v.QueryCommand(CommandId::FastNoiseRemoval).enabled);

  // A factor edited by hand as a product is stored as typed.
  ui.ExpectPrompt(Enter("1, 0, 0, 0"));
  ui.ExpectPrompt(Enter("2*0.5"));
  ui.ExpectPrompt(Enter("0.25/2"));
  ui.ExpectPrompt(KeepValues());
  v.Dispatch(CommandId::CreateNoiseProfile);
  EXPECT_EQ(v.noiseProfile.levels, 1);
  EXPECT_FLOAT_EQ(v.noiseProfile.factors[0][0], 1.0f);
  EXPECT_FLOAT_EQ(v.noiseProfile.factors[1][0], 0.125f);
}

// A cancel at any prompt keeps the previous profile byte for byte; a drag of 48 in x does
// not enable the command at all.
TEST_F(NoiseProfileTest, ACancelKeepsThePreviousProfileWhole) {
  Drag(0, 0, 50, 50);
  const NoiseProfile before = Profile(4, 2.5f, cspace::kYCbCr);
  for (int at = 0; at < 4; ++at) {
    SCOPED_TRACE(at);
    v.noiseProfile = before;
    ui.ExpectPrompt(at == 0 ? CancelPrompt() : Enter("2, 1, 1, 1"));
    for (int k = 1; k <= at; ++k) ui.ExpectPrompt(k == at ? CancelPrompt() : KeepValues());
    v.Dispatch(CommandId::CreateNoiseProfile);
    ui.VerifyAllAnswered();
    EXPECT_EQ(Bytes(v.noiseProfile), Bytes(before));
  }
  Drag(0, 0, 48, 79);
  EXPECT_FALSE(v.QueryCommand(CommandId::CreateNoiseProfile).enabled);
}

// On white Gaussian noise the measured factors are sigma times the a-trous levels' known
// noise gains. The square keeps off the mirrored borders, which correlate the noise there,
// and the three channels are averaged: a coarse level has few independent samples.
TEST_F(NoiseProfileTest, WhiteNoiseGivesTheLevelsNoiseGains) {
  const float sigma = 10.0f;
  const int size = 1024;
  fpbuffer noise = NoiseImage(size, size, sigma, 12345);
  for (int c = 0; c < 3; ++c) {
    // The gentle sine of the helper would add to the coarse levels: white noise only.
    for (int k = 0; k < noise.plane[c].n; ++k)
      noise.plane[c].x[k] -= float(20.0 * std::sin(0.05 * (k % size)));
  }
  Load(noise);
  Drag(64, 64, size - 65, size - 65);
  ui.ExpectPrompt(Enter("5, 0, 0, 0"));
  for (int c = 0; c < 3; ++c) ui.ExpectPrompt(KeepValues());
  v.Dispatch(CommandId::CreateNoiseProfile);
  const double gains[] = {0.891, 0.201, 0.086, 0.041, 0.020};
  for (int i = 0; i < 5; ++i) {
    double mean = 0.0;
    for (int c = 0; c < 3; ++c) mean += v.noiseProfile.factors[c][i] / 3.0;
    EXPECT_NEAR(mean / (sigma * gains[i]), 1.0, 0.03) << i;
  }
}

// Save, load and save again give the same 140 bytes; a name without extension gets .PRFL;
// a hostile file is refused with its name and the profile stays.
TEST_F(NoiseProfileTest, TheFileRoundTripsAndHostileOnesAreRefused) {
  NoiseProfile p = Profile(3, 0.0f, cspace::kYCbCr);
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 10; ++i) p.factors[c][i] = 0.1f * float(c + 1) + 0.01f * float(i);
    p.modes[c] = uint32_t(c);
  }
  v.noiseProfile = p;
  const std::string first = (home / "a.PRFL").string();
  ui.ExpectSaveDialog(Chosen(first));
  v.Dispatch(CommandId::SaveNoiseProfile);
  ASSERT_EQ(ui.fileDialogs.back().defaultExtension, "PRFL");
  const std::string bytes = ReadBytes(first);
  ASSERT_EQ(bytes.size(), 140u);
  EXPECT_EQ(bytes, Bytes(p));
  int32_t levels;
  std::memcpy(&levels, bytes.data(), 4);
  EXPECT_EQ(levels, 3);
  float factor;
  std::memcpy(&factor, bytes.data() + 48 + 4 * 2, 4);  // channel 1, level 2
  EXPECT_FLOAT_EQ(factor, 0.22f);
  uint32_t mode;
  std::memcpy(&mode, bytes.data() + 136, 4);
  EXPECT_EQ(mode, 2u);

  v.noiseProfile = NoiseProfile();
  ui.ExpectOpenDialog(Chosen(first));
  v.Dispatch(CommandId::LoadNoiseProfile);
  EXPECT_EQ(Bytes(v.noiseProfile), Bytes(p));
  ui.ExpectSaveDialog(Chosen((home / "b").string(), false));
  v.Dispatch(CommandId::SaveNoiseProfile);
  EXPECT_EQ(ReadBytes(home / "b.PRFL"), bytes);
  EXPECT_EQ(v.profileFileName, (home / "b.PRFL").string());

  struct Case {
    const char* name;
    size_t offset;  // where the change goes; npos: the file is cut to 139 bytes
    std::string change;
  };
  auto word = [](auto value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
  const Case cases[] = {
      {"139 bytes", std::string::npos, ""},
      {"141 bytes", 140, "x"},
      {"levels 11", 0, word(int32_t(11))},
      {"levels 0", 0, word(int32_t(0))},
      {"mode 7", 132, word(uint32_t(7))},
      {"NaN factor", 8 + 4 * 9, word(std::numeric_limits<float>::quiet_NaN())},
      {"unknown colour space", 4, word(uint32_t(0x7770))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string hostile = bytes;
    if (c.offset == std::string::npos)
      hostile.resize(139);
    else
      hostile.replace(c.offset, c.change.size(), c.change);
    const std::string path = (home / "hostile.PRFL").string();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << hostile;
    v.noiseProfile = Profile(2, 1.5f);
    const NoiseProfile kept = v.noiseProfile;
    ui.ExpectOpenDialog(Chosen(path));
    ui.ExpectMessageStartingWith("hostile.PRFL is not a noise profile: ");
    v.Dispatch(CommandId::LoadNoiseProfile);
    ui.VerifyAllAnswered();
    EXPECT_EQ(Bytes(v.noiseProfile), Bytes(kept));
  }
  ui.ExpectOpenDialog(Chosen((home / "missing.PRFL").string()));
  ui.ExpectMessage("PROBLEM OPENING FILE FOR READING!");
  v.Dispatch(CommandId::LoadNoiseProfile);
}

// Factors of 0 give the image back; a huge one removes its level; Ctrl only selects and
// F2 runs; a YCbCr profile with only Y visible leaves an RGB image's chroma alone.
TEST_F(NoiseProfileTest, FastNoiseRemovalThresholdsInTheProfilesSpace) {
  const fpbuffer original = v.currentLayer();
  v.noiseProfile = Profile(4, 0.0f);
  v.Dispatch(CommandId::FastNoiseRemoval);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < original.plane[c].n; ++k)
      ASSERT_NEAR(v.currentLayer().plane[c].x[k], original.plane[c].x[k], 1e-4) << c << k;
  }

  Load(original);
  v.noiseProfile = Profile(2, 0.0f);
  v.noiseProfile.factors[1][0] = 1e30f;  // channel 1 loses its finest level
  Flags().CtrlHeld = true;
  v.Dispatch(CommandId::FastNoiseRemoval);
  EXPECT_EQ(v.f2OperationId, int(CommandId::FastNoiseRemoval));
  EXPECT_EQ(v.currentLayer().plane[1].x[7], original.plane[1].x[7]);  // only selected
  Flags() = CommandFlags();
  Flags().F2Active = true;
  v.Dispatch(CommandId::FastNoiseRemoval);
  {
    matrix channel = original.plane[1];
    matrixarray levels;
    levels.atrous(channel, 2);  // channel keeps the residual
    for (int k = 0; k < channel.n; ++k) {
      ASSERT_NEAR(v.currentLayer().plane[1].x[k], channel.x[k] + levels[1].x[k], 1e-3) << k;
    }
    EXPECT_NEAR(v.currentLayer().plane[0].x[7], original.plane[0].x[7], 1e-4);
  }
  Flags() = CommandFlags();

  Load(original);
  v.noiseProfile = Profile(3, 1e30f, cspace::kYCbCr | 1u);  // only Y visible
  v.Dispatch(CommandId::FastNoiseRemoval);
  const fpbuffer& out = v.currentLayer();
  EXPECT_EQ(out.code, original.code);
  fpbuffer a = original, b = out;
  a.convert(cspace::kYCbCr);
  b.convert(cspace::kYCbCr);
  double changedY = 0.0;
  for (int k = 0; k < a.plane[0].n; ++k) {
    ASSERT_NEAR(b.plane[1].x[k], a.plane[1].x[k], 2e-3) << k;
    ASSERT_NEAR(b.plane[2].x[k], a.plane[2].x[k], 2e-3) << k;
    changedY += std::fabs(b.plane[0].x[k] - a.plane[0].x[k]);
  }
  EXPECT_GT(changedY / a.plane[0].n, 1.0);  // three levels of noise gone from Y
}
