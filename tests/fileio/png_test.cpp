#include "fileio/png.h"

#include <png.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include "../params/file_size_limit.h"
#include "fileio/rgbpixel.h"
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

namespace {
// A picture with flat parts, gradients, edges and noise, so that rows choose every filter
// and the encoder has work: the samples as stored (top row first, 16-bit ones big-endian)
// and the image that writes them.
struct Picture {
  int width = 0, height = 0, depth = 8;
  std::vector<uint8_t> stored;
  fpbuffer image;
};

Picture MakePicture(int w, int h, int depth, double noise = 1.0) {
  Picture p;
  p.width = w;
  p.height = h;
  p.depth = depth;
  p.image = fpbuffer(w, h, 0x17);
  const int top = depth == 16 ? 65535 : 255;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint32_t hash = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
      hash = (hash ^ (hash >> 16)) * 0x7feb352du;
      hash = (hash ^ (hash >> 15)) * 0x846ca68bu;
      hash ^= hash >> 16;
      for (int c = 0; c < 3; ++c) {
        double v;
        if ((y / 7) % 4 == 0) {
          v = 0.3 + 0.1 * c;  // flat
        } else if (x < w / 3) {
          v = double(x + y * (c + 1)) / double(w + 3 * h);  // gradient
        } else {
          v = 0.5 + 0.3 * std::sin(0.05 * x * (c + 1) + 0.031 * y) +
              noise * 0.1 * (double((hash >> (8 * c)) & 255) / 255.0 - 0.5);
        }
        const int s = std::clamp(int(v * top), 0, top);
        const size_t k = size_t(h - 1 - y) * size_t(w) + size_t(x);  // bottom-up
        p.image.plane[c].x[k] = depth == 16 ? FromWordSample(uint16_t(s)) : float(s);
        if (depth == 16) p.stored.push_back(uint8_t(s >> 8));
        p.stored.push_back(uint8_t(s));
      }
    }
  }
  return p;
}

// The samples of an image read back, as a file of that depth stores them.
std::vector<uint8_t> Stored(const fpbuffer& image, int depth) {
  std::vector<uint8_t> out;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const float f = image.plane[c].x[size_t(image.height - 1 - y) * image.width + x];
        const long s = std::lround(depth == 16 ? f * 257.0 : f);
        if (depth == 16) out.push_back(uint8_t(s >> 8));
        out.push_back(uint8_t(s));
      }
    }
  }
  return out;
}

// The zlib stream of a PNG file's IDAT chunks, inflated: a filter type byte and the filtered
// bytes of each row.
std::string Inflated(const std::string& file) {
  std::string zdata;
  for (size_t at = 8; at + 12 <= file.size();) {
    const auto* b = reinterpret_cast<const uint8_t*>(file.data() + at);
    const size_t n = (size_t(b[0]) << 24) | (size_t(b[1]) << 16) | (size_t(b[2]) << 8) | b[3];
    if (file.compare(at + 4, 4, "IDAT") == 0) zdata.append(file, at + 8, n);
    at += n + 12;
  }
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return "";
  std::string out;
  char buffer[65536];
  z.next_in = reinterpret_cast<Bytef*>(zdata.data());
  z.avail_in = uInt(zdata.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END && z.avail_in == 0 ? out : "bad zlib stream";
}

// libpng's part of writing, apart so that its longjmp on an error skips no object.
bool LibpngEncode(png_structp png, png_infop info, std::FILE* f, const Picture& p, int level,
                  png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), p.depth, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

// The stored rows written by libpng as it writes them by default (adaptive filtering).
bool WriteWithLibpng(const std::string& path, const Picture& p, int level) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<png_bytep> rows(size_t(p.height));
  const size_t rowBytes = size_t(p.width) * 3 * size_t(p.depth / 8);
  for (int y = 0; y < p.height; ++y) {
    rows[size_t(y)] = const_cast<png_bytep>(p.stored.data() + rowBytes * size_t(y));
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const bool ok = LibpngEncode(png, info, f, p, level, rows.data());
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}

// What Pillow or the pure png module decode the files to, by file: a line "depth width
// height", then the samples as stored.
std::map<std::string, std::string> IndependentSamples(const std::vector<std::string>& files) {
  std::map<std::string, std::string> out;
  std::string cmd =
      std::string(kPython) + " " + ZEP_SOURCE_DIR + "/tests/fileio/reference/png_samples.py";
  for (const std::string& f : files) cmd += " '" + f + "'";
  if (std::system(cmd.c_str()) != 0) return out;
  for (const std::string& f : files) {
    std::ifstream in(f + ".samples", std::ios::binary);
    out[f].assign(std::istreambuf_iterator<char>(in), {});
  }
  return out;
}

bool HaveIndependentDecoders() {
  return fs::exists(kPython) &&
         std::system((std::string(kPython) + " -c 'import png, numpy, PIL' 2>/dev/null").c_str()) ==
             0;
}
}  // namespace

TEST_F(PngTest, WrittenFilesDecodeToTheSamplesWritten) {
  struct Case {
    int w, h, depth, level;
  };
  // Single pixels, rows and columns (where libpng narrows the filters), odd sizes, and
  // pictures of many deflate pieces and more than one band of rows.
  const Case cases[] = {{1, 1, 8, 9},      {1, 1, 16, 0},      {1, 53, 8, 6},
                        {53, 1, 16, 9},    {97, 61, 8, 0},     {97, 61, 16, 9},
                        {640, 400, 16, 9}, {1100, 1300, 8, 0}, {1100, 1300, 8, 1}};
  std::vector<std::string> paths;
  std::vector<Picture> pictures;
  for (const Case& c : cases) {
    const std::string path = (home / ("p" + std::to_string(paths.size()) + ".png")).string();
    Picture p = MakePicture(c.w, c.h, c.depth);
    ASSERT_EQ(WritePng(p.image, path, c.depth, c.level), nullptr) << path;
    fpbuffer back;
    ImageFileInfo info;
    LoadPng(back, path, info);
    ASSERT_EQ(info.message, nullptr) << path;
    EXPECT_EQ(info.bitsPerChannel, c.depth);
    EXPECT_EQ(back.width, c.w);
    EXPECT_EQ(back.height, c.h);
    EXPECT_TRUE(Stored(back, c.depth) == p.stored) << path;
    if (fs::exists("/usr/bin/pngcheck")) {
      EXPECT_EQ(std::system(("/usr/bin/pngcheck -q " + path + " > /dev/null").c_str()), 0) << path;
    }
    paths.push_back(path);
    pictures.push_back(std::move(p));
  }
  if (!HaveIndependentDecoders()) GTEST_SKIP() << "python3-png, -numpy or -pil is missing";
  const auto decoded = IndependentSamples(paths);
  ASSERT_EQ(decoded.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    const Picture& p = pictures[i];
    const std::string expected = std::to_string(p.depth) + " " + std::to_string(p.width) + " " +
                                 std::to_string(p.height) + "\n" +
                                 std::string(p.stored.begin(), p.stored.end());
    EXPECT_TRUE(decoded.at(paths[i]) == expected) << paths[i];
  }
}

TEST_F(PngTest, RowsAreFilteredAsLibpngFiltersThem) {
  // The filtered rows themselves, filter type bytes included, equal libpng's.
  std::set<int> types;
  for (const auto& [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {61, 47}, {200, 3}}) {
    for (int depth : {8, 16}) {
      const Picture p = MakePicture(w, h, depth);
      const std::string ours = (home / "ours.png").string(),
                        theirs = (home / "libpng.png").string();
      ASSERT_EQ(WritePng(p.image, ours, depth, 6), nullptr);
      ASSERT_TRUE(WriteWithLibpng(theirs, p, 6));
      const std::string a = Inflated(ReadBytes(ours)), b = Inflated(ReadBytes(theirs));
      ASSERT_EQ(a.size(), size_t(h) * (size_t(w) * 3 * (depth / 8) + 1)) << w << "x" << h;
      const size_t line = a.size() / size_t(h);
      for (int y = 0; y < h; ++y) {
        ASSERT_EQ(a.compare(size_t(y) * line, line, b, size_t(y) * line, line), 0)
            << w << "x" << h << " depth " << depth << " row " << y << ": filter "
            << int(a[size_t(y) * line]) << ", libpng's " << int(b[size_t(y) * line]);
        types.insert(a[size_t(y) * line]);
      }
    }
  }
  // The fixture makes every filter win somewhere.
  EXPECT_EQ(types.size(), 5u) << testing::PrintToString(types);
}

TEST_F(PngTest, FileIsAsSmallAsLibpngMakesIt) {
  // A busy picture like the resized photographs users save, at the level of the settings.
  const Picture p = MakePicture(1500, 1000, 8, 0.3);
  const std::string ours = (home / "ours.png").string(), theirs = (home / "libpng.png").string();
  ASSERT_EQ(WritePng(p.image, ours, 8, 9), nullptr);
  ASSERT_TRUE(WriteWithLibpng(theirs, p, 9));
  const double ratio = double(fs::file_size(ours)) / double(fs::file_size(theirs));
  EXPECT_LT(ratio, 1.01) << fs::file_size(ours) << " bytes against libpng's "
                         << fs::file_size(theirs);
}

TEST_F(PngTest, FailedWriteKeepsThePreviousFile) {
  const Picture p = MakePicture(400, 300, 16);
  fs::create_directory(home / "out");
  const std::string path = (home / "out" / "kept.png").string();
  std::ofstream(path) << "previous";
  {
    const FileSizeLimit limit(20000);
    EXPECT_STREQ(WritePng(p.image, path, 16, 1), "Unspecified Problem!");
  }
  EXPECT_EQ(ReadBytes(path), "previous");
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(home / "out")) ++files;
  EXPECT_EQ(files, 1u);  // no temporary left beside it
}
