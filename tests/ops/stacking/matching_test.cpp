// Layer matching through the dispatcher: the current layer (0) matched to the other one.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "app/menus.h"
#include "params/commands.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
using Id = CommandId;

// A reference value in range (a multiple of 4, so its half is exact) for pixel k of
// channel c.
float Reference(int c, int k) { return float(20 + 4 * ((7 * k + 13 * c) % 50)); }

class MatchTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }
  LayerParams& P() { return LiveSettings().layer; }

  // Both layers w x h: layer 1 the reference, layer 0 (current) its half.
  void HalfOfReference(CImageView& w, int width, int height, CSpaceCode code = cspace::kDefault) {
    for (int l = 0; l < 2; ++l) {
      w.layers[size_t(l)].dim(width, height, code);
      w.bitmaps[size_t(l)] = DisplayBitmap(width, height);
    }
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < width * height; ++k) {
        w.layers[1].plane[c].x[k] = Reference(c, k);
        w.layers[0].plane[c].x[k] = 0.5f * Reference(c, k);
      }
    }
  }

  FakeHost host;
  CImageView v{&host};
};

// Root-mean-square difference of two planes.
double Rmse(const matrix& a, const matrix& b) {
  double s = 0;
  for (int k = 0; k < a.n; ++k) s += (double(a.x[k]) - b.x[k]) * (double(a.x[k]) - b.x[k]);
  return std::sqrt(s / a.n);
}
}  // namespace

TEST_F(MatchTest, TheCommandsAreLayerAndStackingMenuItems) {
  struct Item {
    Id id;
    Menu menu;
    const char* submenu;
    const char* text;
  };
  const Item items[] = {
      {Id::LsMatch2, Menu::Layer, "Match Top to Bottom", "LS Match Top to Bottom (2 Parameter)"},
      {Id::LsMatch1, Menu::Layer, "Match Top to Bottom", "LS Match Top to Bottom (1 Parameter)"},
      {Id::LadMatch1, Menu::Layer, "Match Top to Bottom", "LAD Match Top to Bottom (1 Parameter)"},
      {Id::WaveletMatch, Menu::Layer, "Match Top to Bottom", "Wavelet Match Top to Bottom"},
      {Id::MatchLevels, Menu::Layer, "Match Top to Bottom", "Match Top to Bottom by Levels "},
      {Id::CreateBrightnessContrastTemplate, Menu::Stacking, nullptr,
       "Create Brightness/Contrast Template"},
      {Id::DestroyBrightnessContrastTemplate, Menu::Stacking, nullptr, "Destroy Template"},
      {Id::Adjustment, Menu::Stacking, nullptr, "Set F2 for Adjustment"},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(item.text);
    EXPECT_TRUE(IsCommandBuilt(int(item.id)));
    bool found = false;
    for (const MenuItem& m : MenuItems()) {
      if (m.id != int(item.id)) continue;
      found = true;
      EXPECT_EQ(m.menu, int(item.menu));
      EXPECT_STREQ(m.text, item.text);
      if (item.submenu) {
        EXPECT_STREQ(m.submenu, item.submenu);
      } else {
        EXPECT_EQ(m.submenu, nullptr);
      }
    }
    EXPECT_TRUE(found);
  }
}

TEST_F(MatchTest, TheMatchesNeedTwoLayersOfOneSize) {
  const Id matches[] = {Id::LsMatch2, Id::LsMatch1, Id::LadMatch1, Id::WaveletMatch,
                        Id::MatchLevels};
  for (Id id : matches) EXPECT_FALSE(v.QueryCommand(id).enabled);
  HalfOfReference(v, 4, 3);
  for (Id id : matches) EXPECT_TRUE(v.QueryCommand(id).enabled);
  v.layers[1].dim(3, 4, cspace::kDefault);
  const std::vector<float> before(v.layers[0].plane[0].x, v.layers[0].plane[0].x + 12);
  for (Id id : matches) {
    EXPECT_FALSE(v.QueryCommand(id).enabled);
    v.Dispatch(id);  // dropped
  }
  EXPECT_EQ(std::vector<float>(v.layers[0].plane[0].x, v.layers[0].plane[0].x + 12), before);
}

// The current layer is half the reference wherever a pair enters the fit. The pairs that
// must stay out of it are made to disagree: a reference out of [0, 255], and with a mask
// in force (Cond on) the unmasked pixels. Every matched channel then has gain 2 and each corrected
// pixel doubles; a channel not matched, or a pixel not corrected, keeps its value.
TEST_F(MatchTest, MatchesOfHalfTheReference) {
  struct Case {
    const char* name;
    Id id;
    bool cond;
    CSpaceCode code;
    bool imageMask;      // the image's own mask holds the even pixels
    bool onlyMaskInput;  // the mask limits the pairs alone
    bool selection;      // a painted selection of the odd pixels: never in play
    const char* status;  // the pixel-information text after the command
    std::array<bool, 3> matched;
    bool allCorrected;  // every pixel, else the masked ones
  };
  const char* two = "coefs = [2.000000, 2.000000, 2.000000]";
  const char* first = "coefs = [2.000000, 0.000000, 0.000000]";
  // clang-format off
  const Case cases[] = {
      {"LS1", Id::LsMatch1, false, cspace::kDefault, false, false, false, two, {1, 1, 1}, true},
      {"LAD1", Id::LadMatch1, false, cspace::kDefault, false, false, false, two, {1, 1, 1}, true},
      {"LS2", Id::LsMatch2, false, cspace::kDefault, false, false, false, "", {1, 1, 1}, true},
      {"LS1 Cond, channel 0 visible", Id::LsMatch1, true, cspace::kRGB | 1, false, false, false,
       first, {1, 0, 0}, true},
      {"LAD1 Cond, channel 0 visible", Id::LadMatch1, true, cspace::kRGB | 1, false, false, false,
       first, {1, 0, 0}, true},
      {"LS2 Cond, channels 0 and 2", Id::LsMatch2, true, cspace::kRGB | 5, false, false, false, "",
       {1, 0, 1}, true},
      {"LS1 Cond, image mask", Id::LsMatch1, true, cspace::kDefault, true, false, false, two,
       {1, 1, 1}, false},
      {"LAD1 Cond, image mask, only mask input", Id::LadMatch1, true, cspace::kDefault, true, true,
       false, two, {1, 1, 1}, true},
      {"LS2 Cond, image mask", Id::LsMatch2, true, cspace::kDefault, true, false, false, "",
       {1, 1, 1}, false},
      {"LS1 Cond, selection only", Id::LsMatch1, true, cspace::kDefault, false, false, true, two,
       {1, 1, 1}, true},
      {"LS1 image mask without Cond", Id::LsMatch1, false, cspace::kDefault, true, false, false,
       two, {1, 1, 1}, true},
  };
  // clang-format on
  const int w = 6, h = 5, n = w * h;
  const int outOfRange[] = {3, 17};  // odd, so outside the mask as well
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CImageView win(&host);
    HalfOfReference(win, w, h, c.code);
    LiveSettings().conditional = c.cond ? 1 : 0;
    P().onlyMaskInput = c.onlyMaskInput ? 1 : 0;
    fpbuffer& cur = win.layers[0];
    fpbuffer& ref = win.layers[1];
    for (int ch = 0; ch < 3; ++ch) {
      for (int k : outOfRange) {
        ref.plane[ch].x[k] = ch == 0 ? 300.0f : -4.0f;
        cur.plane[ch].x[k] = 37.0f;
      }
    }
    if (c.imageMask) {
      cur.mask = bitmask(w, h);
      for (int k = 0; k < n; k += 2) cur.mask.setbit(k, true);
      for (int ch = 0; ch < 3 && c.cond; ++ch) {
        for (int k = 1; k < n; k += 2) cur.plane[ch].x[k] = ref.plane[ch].x[k] / 3.0f;
      }
    }
    if (c.selection) {
      win.selection = bitmask(w, h);
      for (int k = 1; k < n; k += 2) win.selection.setbit(k, true);
    }
    const fpbuffer before(cur);
    win.Dispatch(c.id);
    EXPECT_EQ(win.pixelInfoText, c.status);
    for (int ch = 0; ch < 3; ++ch) {
      for (int k = 0; k < n; ++k) {
        const bool corrected = c.matched[size_t(ch)] && (c.allCorrected || k % 2 == 0);
        const float want = corrected ? 2.0f * before.plane[ch].x[k] : before.plane[ch].x[k];
        if (c.id == Id::LsMatch2) {
          ASSERT_NEAR(cur.plane[ch].x[k], want, 1e-3f) << ch << " " << k;
        } else {
          ASSERT_EQ(cur.plane[ch].x[k], want) << ch << " " << k;
        }
      }
    }
    EXPECT_EQ(ref.plane[0].x[3], 300.0f);  // the reference is only read
  }
}

TEST_F(MatchTest, WaveletMatchTakesChannelsZeroToTwoWhateverCond) {
  for (bool lad : {false, true}) {
    SCOPED_TRACE(lad ? "LAD" : "LS");
    CImageView win(&host);
    HalfOfReference(win, 40, 36, cspace::kRGB | 1);
    LiveSettings().conditional = 1;
    P().waveletMatchLad = lad ? 1 : 0;
    P().waveletLevels = 0;
    win.Dispatch(Id::WaveletMatch);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < win.layers[0].n; ++k) {
        ASSERT_NEAR(win.layers[0].plane[c].x[k], win.layers[1].plane[c].x[k], 1e-3f) << c;
      }
    }
  }
}

TEST_F(MatchTest, LevelsMatchFollowsCond) {
  LiveSettings().conditional = 1;
  HalfOfReference(v, 10, 10, cspace::kRGB | 2);
  const fpbuffer before(v.layers[0]);
  v.Dispatch(Id::MatchLevels);
  for (int c = 0; c < 3; ++c) {
    const double d = Rmse(v.layers[0].plane[c], v.layers[1].plane[c]);
    if (c == 1) {
      EXPECT_LT(d, 5.0);  // a monotone stretch of a non-monotone map: close, not exact
    } else {
      EXPECT_EQ(Rmse(v.layers[0].plane[c], before.plane[c]), 0.0);
    }
  }
}

// On a gamma curve with noise the levels match follows the curve about as well as the
// histogram matching of an independent library, and far better than one straight line.
TEST_F(MatchTest, LevelsMatchOfAGammaCurveBesideHistogramMatching) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import skimage' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-skimage is not installed";
  }
  const int w = 96, h = 80;
  CImageView levels(&host), line(&host);
  uint32_t seed = 12345;
  auto uniform = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return (double(seed >> 8) + 0.5) / double(1 << 24);
  };
  for (CImageView* win : {&levels, &line}) {
    for (int l = 0; l < 2; ++l) {
      win->layers[size_t(l)].dim(w, h, cspace::kDefault);
      win->bitmaps[size_t(l)] = DisplayBitmap(w, h);
    }
  }
  // x: an 8-bit picture (many ties); y = 255 (x / 255)^0.6 with Gaussian noise of 2 levels.
  for (int k = 0; k < w * h; ++k) {
    const float x = std::floor(float(uniform() * 256.0));
    const double noise = std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307 * uniform());
    const float y = float(255.0 * std::pow(x / 255.0, 0.6) + 2.0 * noise);
    for (CImageView* win : {&levels, &line}) {
      win->layers[0].plane[0].x[k] = x;
      win->layers[1].plane[0].x[k] = y;
    }
  }
  const std::filesystem::path xs = home / "x.f32", ys = home / "y.f32", out = home / "m.f32";
  const size_t bytes = size_t(w * h) * sizeof(float);
  std::ofstream(xs, std::ios::binary)
      .write(reinterpret_cast<const char*>(levels.layers[0].plane[0].x), std::streamsize(bytes));
  std::ofstream(ys, std::ios::binary)
      .write(reinterpret_cast<const char*>(levels.layers[1].plane[0].x), std::streamsize(bytes));
  const std::string cmd = std::string(python) + " " + ZEP_SOURCE_DIR +
                          "/tests/ops/stacking/reference/match_histograms.py '" + xs.string() +
                          "' '" + ys.string() + "' '" + out.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  matrix theirs(w, h);
  std::ifstream(out, std::ios::binary)
      .read(reinterpret_cast<char*>(theirs.x), std::streamsize(bytes));

  LiveSettings().conditional = 1;  // channel 0 alone
  for (CImageView* win : {&levels, &line}) win->layers[0].setcode(cspace::kRGB | 1);
  levels.Dispatch(Id::MatchLevels);
  line.Dispatch(Id::LsMatch2);
  const matrix& y = levels.layers[1].plane[0];
  const double ours = Rmse(levels.layers[0].plane[0], y);
  const double peer = Rmse(theirs, y);
  const double straight = Rmse(line.layers[0].plane[0], y);
  RecordProperty("levels", std::to_string(ours));
  RecordProperty("match_histograms", std::to_string(peer));
  RecordProperty("ls2", std::to_string(straight));
  EXPECT_LT(ours, 2.0 * peer);
  EXPECT_LT(ours, 0.5 * straight);
  std::printf("RMSE: levels %.4f, match_histograms %.4f, LS2 %.4f\n", ours, peer, straight);
}

TEST_F(MatchTest, CtrlSelectsAndThePageOpensOnTheCommandsRow) {
  struct Case {
    Id id;
    int row;
  };
  const Case cases[] = {{Id::LsMatch2, 2},
                        {Id::LsMatch1, 2},
                        {Id::LadMatch1, 2},
                        {Id::WaveletMatch, 11},
                        {Id::MatchLevels, 7}};
  HalfOfReference(v, 5, 4);
  const fpbuffer before(v.layers[0]);
  LiveSettings().autoQuery = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.id));
    ui.ExpectProperties([&c](Dialog2& d) {
      EXPECT_EQ(d.CurrentPage(), 64);
      EXPECT_EQ(d.FocusRow(), c.row);
      return DialogResult::Ok;
    });
    Flags().CtrlHeld = true;
    v.Dispatch(c.id);
    EXPECT_EQ(v.f2OperationId, int(c.id));
    EXPECT_EQ(Rmse(v.layers[0].plane[0], before.plane[0]), 0.0);
  }
}

// A program recorded with its own LayerParams plays them back, all 18 words, whatever
// the settings of the moment.
TEST_F(MatchTest, ARecordedProgramReplaysTheLayerSettings) {
  static_assert(sizeof(LayerParams) == 18 * 4);
  LayerParams recorded = LiveSettings().layer;
  recorded.layerCoefficient = 0.3f;
  recorded.canvasRed = 10;
  recorded.canvasGreen = 20;
  recorded.canvasBlue = 30;
  recorded.minimumForInclusion = 30;
  recorded.maximumForInclusion = 150;
  recorded.bottomLayerWeight = 0.7f;
  recorded.onlyMaskInput = 1;
  recorded.waveletLevels = 2;
  recorded.waveletMatchLad = 1;
  recorded.levelsPercentile = 20;
  recorded.levelsIncrement = 10;
  recorded.cloningIterations = 25;
  recorded.cloningMode = 3;
  recorded.outsideWeight = 0.1f;
  recorded.insideWeight = 0.01f;
  recorded.usePyramid = 1;
  const Id steps[] = {Id::LsMatch1, Id::MatchLevels, Id::WaveletMatch};

  // A current layer that no single gain maps onto the reference.
  auto draw = [this](CImageView& w) {
    HalfOfReference(w, 12, 10);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < w.layers[0].n; ++k) {
        w.layers[0].plane[c].x[k] = std::sqrt(w.layers[0].plane[c].x[k]) * 8.0f;
      }
    }
  };
  auto bytes = [](const fpbuffer& f) {
    std::string b;
    for (int c = 0; c < 3; ++c)
      b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.n) * sizeof(float));
    return b;
  };
  CImageView direct(&host);
  draw(direct);
  LiveSettings().layer = recorded;
  for (Id id : steps) {
    Flags().F2Active = true;
    direct.Dispatch(id);
  }
  LiveSettings().layer.SetDefaults();

  CImageView recording(&host);
  draw(recording);
  recording.Dispatch(Id::RecordProgram);
  LiveSettings().layer = recorded;
  for (Id id : steps) {
    Flags().CtrlHeld = true;
    recording.Dispatch(id);  // selects
    recording.Dispatch(Id::F2ProgrammedOperation);
  }
  ui.ExpectProperties(TypeAndOk(101));
  recording.Dispatch(Id::RecordProgram);
  const Settings& s = LiveSettings();
  ASSERT_EQ(s.program.stepCount, 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(std::memcmp(s.program.steps[k].bytes, &recorded, sizeof recorded), 0) << k;
  }
  EXPECT_EQ(bytes(recording.layers[0]), bytes(direct.layers[0]));

  CImageView played(&host);
  draw(played);
  LiveSettings().layer.SetDefaults();
  played.Dispatch(Id::RunProgram);
  EXPECT_EQ(bytes(played.layers[0]), bytes(direct.layers[0]));

  // The defaults would have given another picture.
  CImageView defaults(&host);
  draw(defaults);
  for (Id id : steps) {
    Flags().F2Active = true;
    defaults.Dispatch(id);
  }
  EXPECT_NE(bytes(defaults.layers[0]), bytes(direct.layers[0]));
}
