// The shipped presharpening kernels, their lookup and checks, the presharpening of a plane
// and of a layer, and the Presharpen command through the dispatcher.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "image/colorspace.h"
#include "image/fpbuffer.h"
#include "numeric/kernelfile.h"
#include "numeric/matrix.h"
#include "numeric/resample.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {

matrix Texture(int w, int h, int seed = 0) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t k = uint32_t(x + seed) * 2654435761u ^ uint32_t(y) * 40503u;
      m.z[y][x] = 110.0f + 50.0f * std::sin(0.9f * x + 0.4f * y + seed) + float(k % 31u);
    }
  }
  return m;
}

std::vector<float> Values(const matrix& m) { return {m.x, m.x + m.n}; }

// The shipped table, read as the commands read it.
matrix Table() {
  matrix table;
  EXPECT_EQ(ReadKernelTable(table), "");
  return table;
}

// A .mat file: header words as given, then the values.
void WriteMat(const std::filesystem::path& path, int32_t w, int32_t h, int32_t count,
              const std::vector<float>& values) {
  std::ofstream f(path, std::ios::binary);
  const int32_t header[3] = {w, h, count};
  f.write(reinterpret_cast<const char*>(header), sizeof header);
  f.write(reinterpret_cast<const char*>(values.data()), std::streamsize(4 * values.size()));
}

// Lanczos-3 enlargement by s, then the model's reduction by s.
matrix RoundTrip(const matrix& y, int model, int s) {
  matrix ex, ey, rx, ry, up, down;
  BuildLanczosKernelForScale(ex, 3, y.nx, s, 0, true);
  BuildLanczosKernelForScale(ey, 3, y.ny, s, 0, true);
  ResampleSeparable(up, y, ex, ey);
  BuildReductionKernel(rx, model, false, up.nx, s);
  BuildReductionKernel(ry, model, false, up.ny, s);
  return ResampleSeparable(down, up, rx, ry);
}

double RmsDifference(const matrix& a, const matrix& b) {
  double sum = 0;
  for (int i = 0; i < a.n; ++i) sum += double(a.x[i] - b.x[i]) * (a.x[i] - b.x[i]);
  return std::sqrt(sum / a.n);
}

TEST(KernelFile, EveryKernelIsANormalisedSymmetricProduct) {
  const matrix table = Table();
  ASSERT_EQ(table.nx, 441);
  ASSERT_EQ(table.ny, kKernelRows);
  for (int row = 0; row < kKernelRows; ++row) {
    const float* k = table.z[row];
    double sum = 0;
    for (int i = 0; i < 441; ++i) sum += k[i];
    EXPECT_NEAR(sum, 1.0, 1e-5) << row;
    for (int i = 0; i < 21; ++i) {
      for (int j = 0; j < 21; ++j) {
        const float v = k[i * 21 + j];
        ASSERT_EQ(v, k[j * 21 + i]) << row;
        ASSERT_EQ(v, k[(20 - i) * 21 + j]) << row;
        ASSERT_EQ(v, k[i * 21 + 20 - j]) << row;
      }
    }
  }
}

TEST(KernelFile, PresharpeningUndoesTheModelsRoundTrip) {
  const matrix table = Table();
  const matrix y = Texture(48, 40);
  for (int model = 0; model < 5; ++model) {
    for (int s : {2, 4}) {
      matrix kernel, sharpened;
      kernel.LoadKernel(table, model, s);
      sharpened.presharpen(y, kernel, 1);
      const double plain = RmsDifference(RoundTrip(y, model, s), y);
      const double presharpened = RmsDifference(RoundTrip(sharpened, model, s), y);
      EXPECT_LE(presharpened, 0.5 * plain) << "model " << model << " scale " << s;
    }
  }
}

TEST(KernelFile, LoadKernelFollowsTheScaleTable) {
  // Row r of a made-up table holds r everywhere.
  matrix table(441, 30);
  for (int r = 0; r < 30; ++r) {
    for (int i = 0; i < 441; ++i) table.z[r][i] = float(r);
  }
  struct Case {
    int model, scale;
    float value;
  };
  const Case cases[] = {{0, 2, 0},  {0, 5, 3},    {0, 7, 4},  {0, 9, 5},
                        {4, 6, 27.5f}, {4, 8, 28.5f}, {2, 3, 13}, {3, 4, 20}};
  for (const Case& c : cases) {
    matrix k;
    k.LoadKernel(table, c.model, c.scale);
    ASSERT_EQ(k.nx, 21);
    ASSERT_EQ(k.ny, 21);
    EXPECT_EQ(Values(k), std::vector<float>(441, c.value)) << c.model << " " << c.scale;
  }
}

TEST(KernelFile, AmountBlendsWithTheIdentity) {
  const matrix table = Table();
  const matrix y = Texture(30, 20);
  matrix kernel, none, once, twice;
  kernel.LoadKernel(table, 2, 3);
  none.presharpen(y, kernel, 0);
  EXPECT_EQ(Values(none), Values(y));
  once.presharpen(y, kernel, 1);
  twice.presharpen(y, kernel, 2);
  EXPECT_NE(Values(once), Values(y));
  for (int i = 0; i < y.n; ++i) {
    ASSERT_NEAR(twice.x[i] - y.x[i], 2 * (once.x[i] - y.x[i]), 2e-3f) << i;
  }
}

class PresharpenCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    P().presharpenReductionModel = 4;
    P().presharpenScaleFactor = 3;
    P().presharpeningAmount = 1;
    Load(Picture());
  }
  static ResizeParams& P() { return LiveSettings().resize; }
  static fpbuffer Picture(CSpaceCode code = cspace::kDefault) {
    fpbuffer f(24, 18, code);
    for (int c = 0; c < 3; ++c) f.plane[c] = Texture(24, 18, c);
    return f;
  }
  void Load(const fpbuffer& image) {
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
  }
  // The picture presharpened by the live settings on the given channels.
  static fpbuffer Expected(const fpbuffer& before, unsigned channels) {
    matrix kernel;
    kernel.LoadKernel(Table(), P().presharpenReductionModel, P().presharpenScaleFactor);
    fpbuffer f = before;
    for (int c = 0; c < 3; ++c) {
      if (channels & (1u << c)) f.plane[c].presharpen(before.plane[c], kernel, P().presharpeningAmount);
    }
    return f;
  }
  void ExpectLayer(const fpbuffer& want) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(Values(v.currentLayer().plane[c]), Values(want.plane[c])) << c;
    }
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(PresharpenCommandTest, RunsFromPageF2AndARecordedProgram) {
  const fpbuffer want = Expected(Picture(), 0x7);
  ASSERT_NE(Values(want.plane[0]), Values(Picture().plane[0]));

  LiveSettings().autoQuery = 1;
  ui.ExpectProperties(TypeAndOk(37));
  v.Dispatch(CommandId::Presharpen);
  ui.VerifyAllAnswered();
  ExpectLayer(want);
  LiveSettings().autoQuery = 0;

  Load(Picture());
  Flags().F2Active = true;
  v.Dispatch(CommandId::Presharpen);
  ExpectLayer(want);

  // A recorded step keeps the block; playing it back wins over later settings.
  Load(Picture());
  LiveSettings().program.stepCount = 1;
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(CommandId::Presharpen);
  Flags().Recording = false;
  P().presharpenScaleFactor = 7;
  Load(Picture());
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  v.Dispatch(CommandId::Presharpen);
  EXPECT_EQ(P().presharpenScaleFactor, 3);
  ExpectLayer(want);
}

TEST_F(PresharpenCommandTest, CondSharpensTheVisibleChannelsOnly) {
  const fpbuffer before = Picture(cspace::kRGB | 0x3);
  Load(before);
  LiveSettings().conditional = 1;
  Flags().F2Active = true;
  v.Dispatch(CommandId::Presharpen);
  ExpectLayer(Expected(before, 0x3));
  EXPECT_EQ(Values(v.currentLayer().plane[2]), Values(before.plane[2]));
}

TEST_F(PresharpenCommandTest, OutOfRangeSettingsShowTheirMessageAndChangeNothing) {
  struct Case {
    int model, scale;
    const char* message;
  };
  const Case cases[] = {{5, 3, "Error.\nShrinkmode out of range."},
                        {-1, 3, "Error.\nShrinkmode out of range."},
                        {0, 1, "Error.\nSize out of range."},
                        {0, 10, "Error.\nSize out of range."}};
  for (const Case& c : cases) {
    Load(Picture());
    P().presharpenReductionModel = c.model;
    P().presharpenScaleFactor = c.scale;
    ui.ExpectMessage(c.message);
    Flags().F2Active = true;
    v.Dispatch(CommandId::Presharpen);
    ui.VerifyAllAnswered();
    ExpectLayer(Picture());
  }
}

TEST_F(PresharpenCommandTest, ADamagedKernelFileShowsOneMessageAndChangesNothing) {
  const std::string damaged =
      "File, \"Kernels\" (included in zep.zip), is damaged.\nError.\nA file included with "
      "ZEP.ZIP is missing.";
  const std::filesystem::path file = home / "Kernels";
  std::vector<float> good(441 * 30, 0.0f);
  std::vector<float> nan = good;
  nan[441 * 7 + 3] = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    int32_t w, h, count;
    std::vector<float> values;
  };
  const Case cases[] = {
      {"short", 441, 30, 441 * 30, std::vector<float>(441 * 29)},
      {"width 440", 440, 30, 440 * 30, std::vector<float>(440 * 30)},
      {"29 rows", 441, 29, 441 * 29, std::vector<float>(441 * 29)},
      {"count mismatch", 441, 30, 441 * 31, good},
      {"NaN", 441, 30, 441 * 30, nan},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteMat(file, c.w, c.h, c.count, c.values);
    Load(Picture());
    ui.ExpectMessage(damaged);
    Flags().F2Active = true;
    v.Dispatch(CommandId::Presharpen);
    ui.VerifyAllAnswered();
    ExpectLayer(Picture());
  }
  std::filesystem::remove(file);

  matrix table;
  EXPECT_EQ(ReadKernelTable(table, home / "nowhere"),
            "File, \"Kernels\" (included in zep.zip), not found.");
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(ReadKernelTable(table, {}), "File, \"Kernels\" (included in zep.zip), not found.");
}
