#include "fileio/png.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "support/zep_test.h"

namespace fs = std::filesystem;
using PngTest = ZepTest;

namespace {
const char* kPython = "/usr/bin/python3";

struct Reference {
  int depth = 8;
  int width = 0, height = 0;
  std::vector<int> samples;  // R G B per pixel, top row first
};

// Decodes the files with Python's png module in one run.
std::map<std::string, Reference> ReferenceDecode(const std::vector<fs::path>& files,
                                                 const fs::path& dump) {
  std::string cmd = std::string(kPython) + " " + ZEP_SOURCE_DIR +
                    "/tests/fileio/reference/png_dump.py '" + dump.string() + "'";
  for (const fs::path& f : files) cmd += " '" + f.string() + "'";
  std::map<std::string, Reference> out;
  if (std::system(cmd.c_str()) != 0) return out;
  std::ifstream in(dump);
  std::string name;
  while (in >> name) {
    Reference r;
    in >> r.depth >> r.width >> r.height;
    r.samples.resize(size_t(r.width) * r.height * 3);
    for (int& v : r.samples) in >> v;
    out[name] = std::move(r);
  }
  return out;
}

bool HavePyPng() {
  return fs::exists(kPython) &&
         std::system((std::string(kPython) + " -c 'import png' 2>/dev/null").c_str()) == 0;
}
}  // namespace

TEST_F(PngTest, SuiteDecodesLikeAnIndependentDecoder) {
  if (!HavePyPng()) GTEST_SKIP() << "python3-png is not installed";
  const fs::path suite = TestData() / "pngsuite";
  ASSERT_TRUE(fs::exists(suite)) << suite;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".png" && name[0] != 'x') files.push_back(entry.path());
  }
  const auto reference = ReferenceDecode(files, home / "dump.txt");
  ASSERT_EQ(reference.size(), files.size());
  int compared = 0;
  for (const fs::path& file : files) {
    const std::string name = file.filename().string();
    fpbuffer image;
    ImageFileInfo info;
    LoadPng(image, file.string(), info);
    ASSERT_EQ(info.message, nullptr) << name;
    const Reference& ref = reference.at(name);
    ASSERT_EQ(ref.width, image.width) << name;
    ASSERT_EQ(ref.height, image.height) << name;
    ASSERT_EQ(ref.depth, info.bitsPerChannel == 16 ? 16 : 8) << name;
    int wrong = 0;
    for (int row = 0; row < image.height; ++row) {
      for (int i = 0; i < image.width; ++i) {
        const size_t k = size_t(image.height - 1 - row) * image.width + i;  // bottom-up
        const size_t r = (size_t(row) * image.width + i) * 3;
        for (int c = 0; c < 3; ++c) {
          const int theirs = ref.samples[r + c];
          // 16-bit samples: 65535 is 255.0 and 257 is 1.0, nothing rounded away.
          const float expected = ref.depth == 16 ? float(theirs * (1.0 / 257.0)) : float(theirs);
          wrong += image.plane[c].x[k] != expected;
        }
      }
    }
    EXPECT_EQ(wrong, 0) << name;
    ++compared;
  }
  EXPECT_GT(compared, 100);
}

TEST_F(PngTest, InterlacedFilesMatchTheirPlainTwinsSampleForSample) {
  const fs::path suite = TestData() / "pngsuite";
  int pairs = 0, deep = 0;
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, 4, "basi") != 0) continue;
    const fs::path twin = suite / ("basn" + name.substr(4));
    ASSERT_TRUE(fs::exists(twin)) << name;
    fpbuffer a, b;
    ImageFileInfo ia, ib;
    LoadPng(a, entry.path().string(), ia);
    LoadPng(b, twin.string(), ib);
    ASSERT_EQ(ia.message, nullptr) << name;
    ASSERT_EQ(ib.message, nullptr) << name;
    EXPECT_NE(ia.text.find("(Interlaced)"), std::string::npos) << name;
    ASSERT_EQ(a.width, b.width) << name;
    ASSERT_EQ(a.height, b.height) << name;
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(std::memcmp(a.plane[c].x, b.plane[c].x, size_t(a.n) * sizeof(float)), 0) << name;
    }
    ++pairs;
    deep += ia.bitsPerChannel == 16;
  }
  EXPECT_GE(pairs, 15);
  EXPECT_GE(deep, 4);  // basi0g16, basi2c16, basi4a16, basi6a16
}

TEST_F(PngTest, CorruptFilesLeaveTheImageAndComplain) {
  const fs::path suite = TestData() / "pngsuite";
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string name = entry.path().filename().string();
    if (name[0] != 'x') continue;
    fpbuffer image(2, 2, 0x17);
    image.plane[0].x[0] = 42.0f;
    ImageFileInfo info;
    LoadPng(image, entry.path().string(), info);
    EXPECT_NE(info.message, nullptr) << name;
    EXPECT_EQ(image.width, 2) << name;
    EXPECT_EQ(image.plane[0].x[0], 42.0f) << name;
  }
  fpbuffer image;
  ImageFileInfo info;
  LoadPng(image, (home / "missing.png").string(), info);
  EXPECT_STREQ(info.message, "Problem Opening File!");
}

TEST_F(PngTest, InfoRecordDescribesTheFile) {
  fpbuffer image;
  ImageFileInfo info;
  LoadPng(image, (TestData() / "pngsuite" / "basn4a08.png").string(), info);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.colourType, 4);
  EXPECT_EQ(info.text,
            "\nUsed FDIB to load file.\nWidth = 32, Height = 32\nNumber of Channels = 2, Bits per "
            "Channel = 8\nColor Type = 4  (Gray with Alpha Channel), (Not Interlaced)");
  // Grey with alpha: three equal channels, alpha gone.
  for (int k = 0; k < image.n; ++k) {
    ASSERT_EQ(image.plane[0].x[k], image.plane[1].x[k]);
    ASSERT_EQ(image.plane[1].x[k], image.plane[2].x[k]);
  }
}

TEST_F(PngTest, WriteAndReadBack) {
  fpbuffer image(3, 2, 0x17);
  const float values[6][3] = {{300, 150, 60},
                              {0, 1, 2},
                              {255, 128, 7},
                              {-5, 10.4f, 10.6f},
                              {257 / 257.0f, 65535 / 257.0f, 3},
                              {12, 34, 56}};
  for (int k = 0; k < 6; ++k) {
    for (int c = 0; c < 3; ++c) image.plane[c].x[k] = values[k][c];
  }
  const std::string path8 = (home / "eight.png").string();
  ASSERT_EQ(WritePng(image, path8, 8, 9), nullptr);
  fpbuffer back;
  ImageFileInfo info;
  LoadPng(back, path8, info);
  ASSERT_EQ(info.message, nullptr);
  EXPECT_EQ(back.plane[0].x[0], 255.0f);  // hue kept: scaled by 255/300
  EXPECT_EQ(back.plane[1].x[0], 128.0f);
  EXPECT_EQ(back.plane[2].x[0], 51.0f);
  EXPECT_EQ(back.plane[0].x[3], 0.0f);
  EXPECT_EQ(back.plane[1].x[3], 10.0f);
  EXPECT_EQ(back.plane[2].x[3], 11.0f);
  EXPECT_EQ(back.plane[1].x[5], 34.0f);

  const std::string path16 = (home / "sixteen.png").string();
  ASSERT_EQ(WritePng(image, path16, 16, 0), nullptr);
  LoadPng(back, path16, info);
  EXPECT_EQ(info.bitsPerChannel, 16);
  EXPECT_FLOAT_EQ(back.plane[0].x[4], 1.0f);    // sample 257
  EXPECT_FLOAT_EQ(back.plane[1].x[4], 255.0f);  // sample 65535
  EXPECT_EQ(back.plane[1].x[5], 34.0f);         // whole grey levels survive 16 bits exactly
  if (fs::exists("/usr/bin/pngcheck")) {
    for (const std::string& p : {path8, path16}) {
      EXPECT_EQ(std::system(("/usr/bin/pngcheck -q " + p + " > /dev/null").c_str()), 0) << p;
    }
  }
  // The 16-bit samples as an independent decoder sees them, top row first: negatives to 0,
  // times 257, truncated.
  if (HavePyPng()) {
    const std::string dump = (home / "samples.txt").string();
    const std::string cmd =
        std::string(kPython) +
        " -c \"import png,sys; w,h,rows,i=png.Reader(filename=sys.argv[1]).read();"
        " print(i['bitdepth'], *[v for r in rows for v in r])\" " +
        path16 + " > " + dump;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(dump);
    std::vector<int> v(19);
    for (int& x : v) in >> x;
    EXPECT_EQ(v[0], 16);
    const std::vector<int> top(v.begin() + 1, v.begin() + 10);
    EXPECT_EQ(top, (std::vector<int>{0, 2672, 2724, 257, 65535, 771, 3084, 8738, 14392}));
    const std::vector<int> bottom(v.begin() + 13, v.end());
    EXPECT_EQ(bottom, (std::vector<int>{0, 257, 514, 65535, 32896, 1799}));
  }
}

TEST_F(PngTest, WriterRefusesBadSettingsWithoutTouchingFiles) {
  fpbuffer image(2, 2, 0x17);
  const std::string path = (home / "x.png").string();
  EXPECT_STREQ(WritePng(image, path, 12, 5), "Bit Depth Must be 8 or 16!");
  EXPECT_STREQ(WritePng(image, path, 8, 10), "Compression Must be Between 0 and 9!");
  EXPECT_FALSE(fs::exists(path));
  std::ofstream(path) << "previous";
  EXPECT_STREQ(WritePng(image, (home / "no" / "dir.png").string(), 8, 5), "Problem Opening File!");
  EXPECT_EQ(ReadBytes(path), "previous");
}
