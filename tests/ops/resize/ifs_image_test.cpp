// Images through the fractal codec: files, enlargement, the bitmap path, and the commands
// that use them through a window's dispatcher.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/fake_host.h"
#include "app/flags.h"
#include "app/imageview.h"
#include "fileio/imagefile.h"
#include "image/colorspace.h"
#include "image/rgbbuffer.h"
#include "ops/resize/ifs.h"
#include "params/commands.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;

namespace {
constexpr int kIfs = int(CommandId::IteratedFunctionSystems), kReopen = int(CommandId::ReopenIfs);
constexpr const char* kWarning =
    "Depending on image size and settings, IFS can take hours and even days to process!  "
    "Remember, you can use Break Key to abort processing.  Please, read the online "
    "instructions.";

float Picture(int c, int x, int y) {
  return 120.0f + 50.0f * std::sin(0.9f * x + 0.4f * c) * std::cos(0.7f * y - 0.2f * c) +
         float((x * 7 + y * 13 + c * 5) % 11);
}

fpbuffer MakeImage(int w, int h, CSpaceCode code = cspace::kDefault) {
  fpbuffer f(w, h, cspace::kDefault);
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) f.plane[c].z[y][x] = Picture(c, x, y);
  if (code != cspace::kDefault) f.convert(code);
  return f;
}

std::string Bytes(const fpbuffer& f) {
  std::string b;
  for (int c = 0; c < f.channels; ++c)
    b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.n) * 4);
  return b;
}

const IfsPlaneParams kOff{0, 0, 2, 0.125f, 0.01f, 1.3f};
const IfsPlaneParams kY{3, 1, 2, 0.5f, 0.1f, 2.0f};
const IfsPlaneParams kC{3, 0, 2, 0.5f, 0.1f, 1.3f};

bool NoScratchLeft() {
  for (const auto& e : fs::directory_iterator(ScratchDirectory())) {
    const std::string name = e.path().filename().string();
    if (name.ends_with(".mat") || name == "temp.bgr") return false;
  }
  return true;
}

class IfsImageTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 1;  // every page shows, and must be expected
    IfsParams& p = P();
    p.ifsWarningMessage = 0;
    p.ifsUseCustomSettings = 1;  // the saving page keeps the planes as set here
    p.ifsYRangeBlockSize = 3, p.ifsYParameter1 = 0.5f, p.ifsYParameter2 = 0.1f;
    p.ifsCbParameter1 = p.ifsCrParameter1 = 0.5f;
    p.ifsScaleFactor = 2;
    p.ifsIterations = 3;
    p.ifsUseScratchDisk = 0;
  }
  static IfsParams& P() { return LiveSettings().ifs; }
  std::string Path(const char* name) { return (home / name).string(); }
  void Show(fpbuffer image) {
    v.currentLayer() = image;
    v.currentBitmap() = DisplayBitmap(image.width, image.height);
    v.currentLayer().todib(v.currentBitmap().toprow());
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(IfsImageTest, LuminanceOnlyFileOpensGreyAtExactlyScaleTimesTheSize) {
  // 7 x 5 is no multiple of the range block: the padding never reaches the image.
  const fpbuffer image = MakeImage(7, 5);
  image.writeifs(Path("y.IFS"), {kY, kOff, kOff, kOff}, 0);
  EXPECT_EQ(fs::file_size(Path("y.IFS")), 124u + 3 * 2 * 6 * 13);
  fpbuffer back;
  back.readifs(Path("y.IFS"), IfsDecoding{2, 3, {0, 0, 0, 0}, false});
  ASSERT_EQ(back.width, 14);
  ASSERT_EQ(back.height, 10);
  EXPECT_EQ(back.code, cspace::kDefault);
  for (int k = 0; k < back.n; ++k) {
    ASSERT_NEAR(back.plane[0].x[k], back.plane[1].x[k], 1e-3) << k;
    ASSERT_NEAR(back.plane[2].x[k], back.plane[1].x[k], 1e-3) << k;
  }
}

TEST_F(IfsImageTest, OpenedImagesArriveInTheLayersColourSpace) {
  const fpbuffer image = MakeImage(24, 21);
  image.writeifs(Path("c.IFS"), {kY, kY, kC, kC}, 1);
  const IfsDecoding d{1, 4, {1, 0, 0, 0}, false};
  fpbuffer rgb, hsv;
  hsv.setcode(cspace::kHSV);
  rgb.readifs(Path("c.IFS"), d);
  hsv.readifs(Path("c.IFS"), d);
  EXPECT_EQ(hsv.code, cspace::kHSV);
  hsv.convert(cspace::kDefault);
  double worst = 0, error = 0, spread = 0;
  for (int c = 0; c < 3; ++c) {
    const double mean = image.plane[c].sum() / image.n;
    for (int k = 0; k < rgb.n; ++k) {
      worst = std::max(worst, double(std::fabs(hsv.plane[c].x[k] - rgb.plane[c].x[k])));
      error += std::fabs(rgb.plane[c].x[k] - image.plane[c].x[k]);
      spread += std::fabs(image.plane[c].x[k] - mean);
    }
  }
  EXPECT_LT(worst, 0.01);
  EXPECT_LT(error, 0.3 * spread) << error / spread;  // the decode resembles the picture
}

TEST_F(IfsImageTest, ScratchPlanesSurviveMedianPhasesAndLeaveNothing) {
  const fpbuffer image = MakeImage(8, 8);
  image.writeifs(Path("s.IFS"), {kY, kY, kC, kC}, 0);
  fpbuffer direct, parked;
  direct.readifs(Path("s.IFS"), IfsDecoding{2, 3, {1, 1, 1, 1}, false});
  parked.readifs(Path("s.IFS"), IfsDecoding{2, 3, {1, 1, 1, 1}, true});
  EXPECT_EQ(Bytes(direct), Bytes(parked));
  EXPECT_TRUE(NoScratchLeft());

  // Mode 1 with two iterations is two median iterations from black and no mean one.
  ifscodec codec;
  ASSERT_EQ(codec.read(Path("s.IFS")), nullptr);
  matrix viaMode, viaMedian;
  codec.planes[0].decodemode(viaMode, 2, 2, 1);
  codec.planes[0].decodemedian(viaMedian, 2, 2);
  viaMedian.crop(0, 0, 16, 16);
  ASSERT_EQ(viaMode.n, viaMedian.n);
  EXPECT_EQ(0, std::memcmp(viaMode.x, viaMedian.x, size_t(viaMode.n) * 4));
}

TEST(IfsTiles, TilesAreCutToThePicture) {
  const std::vector<IfsTile> tiles = IfsTiles(700, 300, 500, 500);
  ASSERT_EQ(tiles.size(), 2u);
  EXPECT_EQ(tiles[0].x, 0);
  EXPECT_EQ(tiles[1].x, 500);
  EXPECT_EQ(tiles[1].y, 0);
  EXPECT_EQ(tiles[1].height, 300);
  EXPECT_EQ(IfsTiles(101, 50, 50, 50).size(), 3u);
}

TEST_F(IfsImageTest, CommandCodesAndDecodesThroughTheTemporaryFileThenReopens) {
  Show(MakeImage(8, 6));
  P().ifsWarningMessage = 1;
  EXPECT_FALSE(v.QueryCommand(kReopen).enabled);
  ui.ExpectMessage(kWarning);
  ui.ExpectProperties(TypeAndOk(121));
  ui.ExpectProperties(TypeAndOk(122));
  ui.ExpectProperties(TypeAndOk(123));
  ui.ExpectProperties(TypeAndOk(120));
  v.Dispatch(kIfs);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "WARNING");
  EXPECT_EQ(v.currentLayer().width, 16);
  EXPECT_EQ(v.currentBitmap().width(), 16);
  EXPECT_TRUE(v.QueryCommand(kReopen).enabled);
  std::vector<std::string> pane4;
  for (const auto& [pane, text] : ui.paneHistory)
    if (pane == 4 && text.starts_with("\t")) pane4.push_back(text);
  ASSERT_GE(pane4.size(), 2u);
  EXPECT_EQ(pane4[0], "\tWriting temporary IFS file.");
  EXPECT_EQ(pane4[1], "\tReading temporary IFS file.");
  EXPECT_TRUE(fs::exists(ScratchPath("TEMP.IFS")));
  EXPECT_TRUE(NoScratchLeft());

  // Reopen decodes the same codes again at another scale, without coding anew.
  ui.ExpectProperties(TypeAndOk(120, {{1, "3"}}));
  v.Dispatch(kReopen);
  EXPECT_EQ(v.currentLayer().width, 24);
  EXPECT_EQ(v.currentLayer().height, 18);

  // Without float images on read it decodes into the bitmap alone.
  LiveSettings().file.noFloatBuffersOnRead = 1;
  ui.ExpectProperties(TypeAndOk(120, {{1, "1"}}));
  v.Dispatch(kReopen);
  EXPECT_FALSE(v.HasFloat());
  EXPECT_EQ(v.currentBitmap().width(), 8);
  EXPECT_TRUE(NoScratchLeft());
}

TEST_F(IfsImageTest, CancelOrRefusalKeepsTheImageAndTheFileBefore) {
  Show(MakeImage(8, 6));
  const std::string before = Bytes(v.currentLayer());
  // A cancel while coding: the image as it was, no temporary file yet, Reopen still off.
  Flags().IfsReopenable = false;
  for (int poll : {1, 40}) {
    ui.ExpectProperties(TypeAndOk(121));
    ui.ExpectProperties(TypeAndOk(122));
    ui.ExpectProperties(TypeAndOk(123));
    ui.ExpectProperties(TypeAndOk(120));
    platform.CancelAtPoll(poll);
    v.Dispatch(kIfs);
    platform.CancelAtPoll(0);
    EXPECT_EQ(Bytes(v.currentLayer()), before) << poll;
    EXPECT_TRUE(v.HasBitmap());
    EXPECT_TRUE(NoScratchLeft());
  }

  // A saved file is replaced only by a complete one.
  ui.ExpectProperties(TypeAndOk(121));
  ui.ExpectProperties(TypeAndOk(122));
  ui.ExpectProperties(TypeAndOk(123));
  ASSERT_FALSE(SaveImageFile(v, Path("kept.ifs"), 0));
  const std::string saved = ZepTest::ReadBytes(Path("kept.ifs"));
  ui.ExpectProperties(TypeAndOk(121));
  ui.ExpectProperties(TypeAndOk(122));
  ui.ExpectProperties(TypeAndOk(123));
  platform.CancelAtPoll(5);
  EXPECT_TRUE(SaveImageFile(v, Path("kept.ifs"), 0));
  platform.CancelAtPoll(0);
  EXPECT_EQ(ZepTest::ReadBytes(Path("kept.ifs")), saved);
  EXPECT_EQ(Bytes(v.currentLayer()), before);

  // A crafted file: said, and nothing changed.
  std::string bad = saved;
  bad[4 * 7] = 1;  // Y range block 1
  std::ofstream(Path("bad.IFS"), std::ios::binary) << bad;
  ui.ExpectProperties(TypeAndOk(120));
  ui.ExpectMessage("Problem reading IFS file");
  EXPECT_TRUE(OpenImageFile(v, Path("bad.IFS"), 0, true));
  EXPECT_EQ(ui.messages.back().caption, "ERROR");
  EXPECT_EQ(Bytes(v.currentLayer()), before);
}

TEST_F(IfsImageTest, SaveAndOpenByExtension) {
  Show(MakeImage(10, 7));
  ui.ExpectProperties(TypeAndOk(121));
  ui.ExpectProperties(TypeAndOk(122));
  ui.ExpectProperties(TypeAndOk(123));
  ASSERT_FALSE(SaveImageFile(v, Path("pic.IFS"), 0));
  CImageView other{&host};
  ui.ExpectProperties(TypeAndOk(120, {{1, "2"}}));
  ASSERT_FALSE(OpenImageFile(other, Path("pic.IFS"), 0, true));
  EXPECT_EQ(other.currentLayer().width, 20);
  EXPECT_EQ(other.currentBitmap().height(), 14);

  LiveSettings().file.noFloatBuffersOnRead = 1;
  ui.ExpectProperties(TypeAndOk(120, {{1, "1"}}));
  ASSERT_FALSE(OpenImageFile(other, Path("pic.IFS"), 0, true));
  EXPECT_FALSE(other.HasFloat());
  EXPECT_EQ(other.currentBitmap().width(), 10);
  EXPECT_TRUE(NoScratchLeft());

  ui.ExpectMessage("IFS not supported without floating point buffer.");
  EXPECT_TRUE(SaveImageFile(other, Path("none.IFS"), 0));
}

TEST_F(IfsImageTest, BitmapPathEnlargesTileByTile) {
  // A flat colour is coded by means alone and comes back flat at every tile seam.
  fpbuffer flat(30, 20, cspace::kDefault);
  for (int c = 0; c < 3; ++c) flat.plane[c].fill(40.0f + 60.0f * float(c));
  Show(flat);
  v.currentLayer().clear(true);
  P().ifsTileWidth = P().ifsTileHeight = 50;  // limited to 30 x 20: one tile
  for (int tile : {50, 12}) {
    P().ifsTileWidth = tile;
    ui.ExpectProperties(TypeAndOk(121));
    ui.ExpectProperties(TypeAndOk(122));
    ui.ExpectProperties(TypeAndOk(123));
    ui.ExpectProperties(TypeAndOk(120));
    v.Dispatch(kIfs);
  }
  const DisplayBitmap& b = v.currentBitmap();
  ASSERT_EQ(b.width(), 120);
  ASSERT_EQ(b.height(), 80);
  rgbbuffer view(const_cast<uint8_t*>(b.toprow()), b.width(), b.height());
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) {
      const bytepixel p = view.at(x, y);
      ASSERT_NEAR(p.r, 40, 1) << x << "," << y;
      ASSERT_NEAR(p.g, 100, 1);
      ASSERT_NEAR(p.b, 160, 1);
    }
}

TEST_F(IfsImageTest, F2ReplaysTheWholeBlockFromTheProgramStep) {
  Show(MakeImage(6, 6));
  Settings& s = LiveSettings();
  s.program.stepCount = 1;
  P().ifsScaleFactor = 3;
  Flags().F2Active = Flags().Recording = true;
  v.Dispatch(kIfs);
  Flags().Recording = false;
  EXPECT_EQ(v.currentLayer().width, 18);
  Show(MakeImage(6, 6));
  P().ifsScaleFactor = 1;  // the step's 3 must win
  P().ifsTileHeight = 77;  // the last word of the block comes back too
  Flags().F2Active = Flags().Playing = true;
  Flags().PlayStep = 1;
  v.Dispatch(kIfs);
  EXPECT_EQ(v.currentLayer().width, 18);
  EXPECT_EQ(P().ifsScaleFactor, 3);
  EXPECT_EQ(P().ifsTileHeight, 500);
}
