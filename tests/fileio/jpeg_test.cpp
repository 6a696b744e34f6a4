#include "fileio/jpeg.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "image/rgbbuffer.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;
using JpegTest = ZepTest;

namespace {
DisplayBitmap Gradient(int w, int h) {
  DisplayBitmap b(w, h);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      uint8_t* p = b.row(j) + 3 * i;
      p[0] = uint8_t(4 * i);
      p[1] = uint8_t(4 * j);
      p[2] = uint8_t(128);
    }
  }
  return b;
}
}  // namespace

TEST_F(JpegTest, WriteThenReadIsClose) {
  const DisplayBitmap source = Gradient(37, 21);  // odd sizes: row padding
  const std::string path = (home / "g.jpg").string();
  ASSERT_FALSE(WriteJpeg(path, source.toprow(), 37, 21, 98, 3));
  ImageFileInfo info;
  ASSERT_FALSE(ReadJpegInfo(path, info));
  EXPECT_EQ(info.width, 37);
  EXPECT_EQ(info.height, 21);
  EXPECT_EQ(info.channels, 3);
  EXPECT_EQ(info.colourType, 3);
  EXPECT_EQ(info.text,
            "\nWidth = 37, Height = 21\nNumber of Channels = 3, Bits per Channel = 8\nColor "
            "Type = 3  (YCbCr (YUV))");
  DisplayBitmap back(37, 21);
  ASSERT_FALSE(ReadJpeg(path, back.toprow(), 37, 21));
  int worst = 0;
  for (int j = 0; j < 21; ++j) {
    for (int k = 0; k < 3 * 37; ++k)
      worst = std::max(worst, std::abs(back.row(j)[k] - source.row(j)[k]));
  }
  EXPECT_LE(worst, 6);  // blue ramp along x, green along y: the order of rows and bytes holds
  DisplayBitmap wrongSize(36, 21);
  EXPECT_TRUE(ReadJpeg(path, wrongSize.toprow(), 36, 21));
  if (fs::exists("/usr/bin/identify")) {
    const std::string cmd =
        "/usr/bin/identify -format '%Q %w %h' " + path + " > " + (home / "q.txt").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(ReadBytes(home / "q.txt"), "98 37 21");
  }
}

TEST_F(JpegTest, ColourSpacesOfTheWriter) {
  const DisplayBitmap source = Gradient(8, 8);
  for (int space : {1, 2, 3}) {
    const std::string path = (home / ("s" + std::to_string(space) + ".jpg")).string();
    ASSERT_FALSE(WriteJpeg(path, source.toprow(), 8, 8, 75, space));
    ImageFileInfo info;
    ASSERT_FALSE(ReadJpegInfo(path, info));
    EXPECT_EQ(info.colourType, space);
    EXPECT_EQ(info.channels, space == 1 ? 1 : 3);
    // Another reader of the file: baseline, with the components of the colour space.
    if (fs::exists("/usr/bin/rdjpgcom")) {
      const std::string out = (home / "verbose.txt").string();
      ASSERT_EQ(std::system(("/usr/bin/rdjpgcom -verbose " + path + " > " + out).c_str()), 0);
      const std::string text = ReadBytes(out);
      EXPECT_NE(text.find("JPEG process: Baseline"), std::string::npos) << text;
      EXPECT_NE(text.find(space == 1 ? "1 color components" : "3 color components"),
                std::string::npos)
          << text;
    }
  }
}

TEST_F(JpegTest, BrokenFilesFailQuietly) {
  const std::string path = (home / "bad.jpg").string();
  ImageFileInfo info;
  EXPECT_TRUE(ReadJpegInfo((home / "missing.jpg").string(), info));
  std::ofstream(path, std::ios::binary) << "\xFF\xD8\xFF\xE0 not really a jpeg";
  EXPECT_TRUE(ReadJpegInfo(path, info));
  DisplayBitmap b(4, 4);
  EXPECT_TRUE(ReadJpeg(path, b.toprow(), 4, 4));

  // A real file cut short ends neither the process nor in a picture padded with grey.
  const DisplayBitmap source = Gradient(64, 64);
  const std::string good = (home / "good.jpg").string();
  ASSERT_FALSE(WriteJpeg(good, source.toprow(), 64, 64, 90, 3));
  const std::string bytes = ReadBytes(good);
  std::ofstream(path, std::ios::binary) << bytes.substr(0, bytes.size() / 3);
  DisplayBitmap cut(64, 64);
  EXPECT_TRUE(ReadJpeg(path, cut.toprow(), 64, 64));
  if (fs::exists("/usr/bin/convert")) {
    const std::string cmyk = (home / "cmyk.jpg").string();
    ASSERT_EQ(std::system(("/usr/bin/convert " + good + " -colorspace CMYK " + cmyk).c_str()), 0);
    ASSERT_FALSE(ReadJpegInfo(cmyk, info));
    EXPECT_EQ(info.channels, 4);  // the caller refuses four components
  }
}

TEST_F(JpegTest, EndAfterLastScanIsFoundAcrossThePiecesOfALargeFile) {
  // The file is read in pieces of 64 KiB: markers are put across piece boundaries.
  constexpr size_t kPiece = size_t(1) << 16;
  struct Marker {
    size_t at;  // position of the 0xFF
    unsigned char code;
  };
  const struct {
    const char* what;
    std::vector<Marker> markers;
    bool complete;
  } cases[] = {
      {"scan then end, both split", {{kPiece - 1, 0xDA}, {3 * kPiece - 1, 0xD9}}, true},
      {"end before the last scan", {{10, 0xDA}, {kPiece + 5, 0xD9}, {2 * kPiece - 1, 0xDA}}, false},
      {"no end", {{kPiece - 1, 0xDA}}, false},
      {"no scan", {{kPiece, 0xD9}}, false},
      {"end right after a scan's marker", {{kPiece - 2, 0xDA}, {kPiece, 0xD9}}, true},
  };
  for (const auto& c : cases) {
    std::string bytes(3 * kPiece + 100, '\x11');
    for (const Marker& m : c.markers) {
      bytes[m.at] = '\xFF';
      bytes[m.at + 1] = char(m.code);
    }
    const fs::path path = home / "big.jpg";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(JpegEndsAfterLastScan(path.string()), c.complete) << c.what;
  }
  // A real file, whole and cut short.
  const DisplayBitmap source = Gradient(64, 48);
  const std::string whole = (home / "whole.jpg").string();
  ASSERT_FALSE(WriteJpeg(whole, source.toprow(), 64, 48, 90, 3));
  EXPECT_TRUE(JpegEndsAfterLastScan(whole));
  const std::string bytes = ReadBytes(whole);
  std::ofstream(home / "cut.jpg", std::ios::binary) << bytes.substr(0, bytes.size() - 40);
  EXPECT_FALSE(JpegEndsAfterLastScan((home / "cut.jpg").string()));
  EXPECT_FALSE(JpegEndsAfterLastScan((home / "missing.jpg").string()));
}
