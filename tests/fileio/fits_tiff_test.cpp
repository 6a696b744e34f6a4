#include <fcntl.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "fileio/fits.h"
#include "fileio/imaging.h"
#include "fileio/rgbpixel.h"
#include "fileio/test_tiff.h"
#include "fileio/tiff.h"
#include "platform/format.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;
using FitsTest = ZepTest;
using TiffTest = ZepTest;

namespace {
const std::string kPython = "/usr/bin/python3";

std::string Script() {
  return std::string(ZEP_SOURCE_DIR) + "/tests/fileio/reference/fits_tiff.py";
}

bool Have(const std::string& pythonModule, const std::string& tool) {
  const std::string probe = kPython + " -c 'import " + pythonModule +
                            "' 2>/dev/null && command -v " + tool + " >/dev/null";
  return std::system(probe.c_str()) == 0;
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

struct Samples {
  std::string kind;  // the dump's sample type
  int width = 0, height = 0;
  std::vector<double> v;
};

// The files a make command wrote, with their samples in file order.
std::map<std::string, Samples> Make(const std::string& what, const fs::path& folder) {
  std::map<std::string, Samples> out;
  if (Shell(kPython + " " + Script() + " " + what + " '" + folder.string() + "'") != 0) return out;
  std::ifstream in(folder / "index.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name;
    Samples s;
    words >> name >> s.width >> s.height;
    for (double x; words >> x;) s.v.push_back(x);
    out[name] = std::move(s);
  }
  return out;
}

// The samples of one file as the other library reads them.
Samples Dump(const fs::path& file) {
  const fs::path text = file.string() + ".dump";
  Samples s;
  if (std::system(
          (kPython + " " + Script() + " dump '" + file.string() + "' > '" + text.string() + "'")
              .c_str()) != 0) {
    return s;
  }
  std::ifstream in(text);
  std::string name;
  in >> name >> s.kind;
  for (double x; in >> x;) s.v.push_back(x);
  return s;
}

// A 3 x 2 RGB image whose values exercise rounding at every sample type.
fpbuffer TestImage(bool wide) {
  fpbuffer image(3, 2, 0x17);
  const float values[6][3] = {{0, 12.3f, 255}, {100.5f, 64.25f, 200.7f},
                              {1, 2, 3},       {254.4f, 0.2f, 128},
                              {33, 66, 99},    {250, 5.5f, 77.7f}};
  for (int k = 0; k < 6; ++k) {
    for (int c = 0; c < 3; ++c) image.plane[c].x[k] = values[k][c];
  }
  if (wide) {  // values only float files keep
    image.plane[0].x[2] = -5.25f;
    image.plane[1].x[3] = 1000.125f;
    image.plane[2].x[4] = -1e-7f;
    image.plane[0].x[5] = 65536.5f;
  }
  return image;
}

// A marked 2 x 2 image, to show that a failed read changes nothing.
fpbuffer Marked() {
  fpbuffer image(2, 2, 0x17);
  image.plane[0].x[0] = 42.0f;
  return image;
}

void ExpectMarked(const fpbuffer& image, const std::string& what) {
  EXPECT_EQ(image.width, 2) << what;
  EXPECT_EQ(image.height, 2) << what;
  EXPECT_EQ(image.plane[0].x[0], 42.0f) << what;
}
}  // namespace

TEST_F(FitsTest, FilesOfEveryBitpixFromAnotherWriterLoadWithTheirScales) {
  if (!Have("astropy", "true")) GTEST_SKIP() << "python3-astropy is not installed";
  const auto files = Make("make-fits", home);
  ASSERT_EQ(files.size(), 9u);
  struct Case {
    const char* name;
    const char* typeName;
    double divisor;
    float fullScale;  // what the first (full-scale) sample must give
    float tolerance;
  };
  const Case cases[] = {
      {"b8.fits", "8 bit unsigned integer", 1, 255, 0},
      {"s16.fits", "16 bit signed integer", 128.4980392, 255, 0.01f},
      {"u16.fits", "16 bit unsigned integer", 257, 255, 1e-4f},
      {"u16rice.fits", "16 bit unsigned integer", 257, 255, 1e-4f},
      {"s32.fits", "32 bit signed integer", 214783647 / 255.0, 255, 1e-3f},
      {"u32.fits", "32 bit unsigned integer", 4294967295 / 255.0, 255, 1e-3f},
      {"s64.fits", "64 bit signed integer", 1, 255, 0},
      {"f32.fits", "32 bit floating point", 1, 1000, 0},
      {"f64.fits", "64 bit floating point", 1, 1000, 0},
  };
  for (const Case& c : cases) {
    const Samples& file = files.at(c.name);
    fpbuffer image = Marked();
    ImageFileInfo info;
    ASSERT_EQ(ReadFits(image, (home / c.name).string(), info), nullptr) << c.name;
    EXPECT_EQ(info.message, nullptr);
    const bool compressed = std::string(c.name) == "u16rice.fits";
    EXPECT_EQ(info.text, Format("\nUsed FDIB to load FITS file.\nWidth = 4, Height = 2\nNumber of "
                                "Channels = 3\nBits Depth = %s\nCompression = %s",
                                c.typeName, compressed ? "Rice" : "None"));
    ASSERT_EQ(image.width, file.width);
    ASSERT_EQ(image.height, file.height);
    EXPECT_NEAR(image.plane[0].x[0], c.fullScale, c.tolerance) << c.name;
    const float factor = float(1.0 / c.divisor);
    const size_t n = size_t(file.width) * file.height;
    for (size_t e = 0; e < file.v.size(); ++e) {
      // File order is plane by plane, rows in the float image's own order.
      const float ours = image.plane[e / n].x[e % n];
      const float expected = float(file.v[e]) * factor;
      EXPECT_NEAR(ours, expected, 1e-6f * std::max(1.0f, std::fabs(expected))) << c.name << e;
    }
  }
}

TEST_F(FitsTest, FilesWithoutAColourImageChangeNothing) {
  if (!Have("astropy", "true")) GTEST_SKIP() << "python3-astropy is not installed";
  Make("make-fits", home);
  // A compressed image whose tile size is 0, which the library would divide by.
  fs::copy_file(fs::path(ZEP_SOURCE_DIR) / "tests/fileio/reference/zero_tile.fits",
                home / "zero_tile.fits");
  // Truncated data: the header promises more than the file holds.
  ASSERT_EQ(WriteFits(TestImage(false), (home / "whole.fit").string(), -32, 0), nullptr);
  const std::string whole = ReadBytes(home / "whole.fit");
  std::ofstream(home / "cut.fit", std::ios::binary) << whole.substr(0, 2880 + 40);
  const struct {
    const char* name;
    const char* message;
  } cases[] = {
      {"table.fits", "Problem getting image type, status code = 233"},
      {"grey.fits", "Problem reading image, status code = 321"},
      {"greyz.fits", "Problem reading image, status code = 321"},
      {"cut.fit", "Problem reading image, status code = 107"},
      {"missing.fits", "Problem opening file, status code = 104"},
      {"zero_tile.fits", "Problem opening file, status code = 414"},
  };
  for (const auto& c : cases) {
    fpbuffer image = Marked();
    ImageFileInfo info;
    const char* text = ReadFits(image, (home / c.name).string(), info);
    EXPECT_STREQ(text, c.message) << c.name;
    EXPECT_EQ(info.message, text) << c.name;
    ExpectMarked(image, c.name);
  }
}

namespace {
// The file with one card of its second header (the compressed image) set to value, the card
// inserted before END when the header has none of that keyword.
std::string WithCard(std::string file, const std::string& key, const std::string& value) {
  std::string card = key;
  card.resize(8, ' ');
  card = (card + "= " + value).substr(0, 80);
  card.resize(80, ' ');
  std::string keyField = key;
  keyField.resize(8, ' ');
  for (size_t at = 2880; at + 80 <= file.size(); at += 80) {
    if (file.compare(at, 8, keyField) == 0) return file.replace(at, 80, card);
    if (file.compare(at, 8, "END     ") == 0) {
      file.replace(at + 80, 80, file.substr(at, 80));
      return file.replace(at, 80, card);
    }
  }
  return file;
}
}  // namespace

// Header values that the library would divide by, index with, overrun a buffer on or
// allocate unchecked are refused before it sees them.
TEST_F(FitsTest, DamagedCompressedHeadersAreRefusedCleanly) {
  const fs::path good = home / "good.fit";
  ASSERT_EQ(WriteFits(TestImage(false), good.string(), 16, 1), nullptr);
  const std::string file = ReadBytes(good);
  const std::string longWord(40, 'K'), longNumber(40, '9');
  // The first tile's descriptor claims far more bytes than the heap holds.
  const size_t data = file.find("END     ", 2880) / 2880 * 2880 + 2880;
  std::string hugeTile = file;
  hugeTile.replace(data, 4, "\x7f\xff\xff\xff");
  const struct {
    std::string name, bytes;
    int status;
  } cases[] = {
      {"unreadable axis", WithCard(file, "ZNAXIS1", longWord), BAD_INTKEY},
      {"quoted axis", WithCard(file, "ZNAXIS2", "'" + longWord + "'"), BAD_INTKEY},
      {"huge bit depth", WithCard(file, "ZBITPIX", longNumber), BAD_INTKEY},
      {"unreadable blank", WithCard(file, "ZBLANK", longWord), BAD_INTKEY},
      {"unreadable primary blank", WithCard(file, "BLANK", "-" + longNumber), BAD_INTKEY},
      {"bit depth", WithCard(file, "ZBITPIX", "12"), BAD_BITPIX},
      {"axes", WithCard(file, "ZNAXIS", "7"), BAD_NAXIS},
      {"algorithm", WithCard(file, "ZCMPTYPE", "'RICE_99'"), DATA_DECOMPRESSION_ERR},
      {"block size", WithCard(file, "ZVAL1", "0"), DATA_DECOMPRESSION_ERR},
      {"empty block size", WithCard(file, "ZVAL1", "''"), DATA_DECOMPRESSION_ERR},
      {"bytes per pixel", WithCard(file, "ZVAL2", "3"), DATA_DECOMPRESSION_ERR},
      {"dither offset", WithCard(file, "ZDITHER0", "-5"), DATA_DECOMPRESSION_ERR},
      {"tile beyond 32 bits", WithCard(file, "ZTILE1", "2147483648"), DATA_DECOMPRESSION_ERR},
      {"tile column", WithCard(file, "TFORM1", "'1J'"), BAD_TFORM},
      {"tile beyond the heap", hugeTile, DATA_DECOMPRESSION_ERR},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.bytes, file) << c.name;
    std::ofstream(home / "bad.fit", std::ios::binary | std::ios::trunc) << c.bytes;
    fpbuffer image = Marked();
    ImageFileInfo info;
    const char* text = ReadFits(image, (home / "bad.fit").string(), info);
    EXPECT_STREQ(text, Format("Problem opening file, status code = %d", c.status).c_str())
        << c.name;
    ExpectMarked(image, c.name);
  }
  // The untouched file still reads, so the cases above fail by their damage alone.
  fpbuffer image = Marked();
  ImageFileInfo info;
  EXPECT_EQ(ReadFits(image, good.string(), info), nullptr);
  EXPECT_EQ(image.width, 3);
}

// Inputs with which the fuzz target once stopped the program.
TEST_F(FitsTest, FuzzFindingsAreRefusedCleanly) {
  const fs::path folder = fs::path(ZEP_SOURCE_DIR) / "fuzz/regressions/fits";
  int count = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    fpbuffer image = Marked();
    ImageFileInfo info;
    const std::string name = entry.path().filename().string();
    const char* text = ReadFits(image, entry.path().string(), info);
    ASSERT_NE(text, nullptr) << name;
    EXPECT_EQ(std::string(text).rfind("Problem ", 0), 0u) << name << ": " << text;
    ExpectMarked(image, name);
    ++count;
  }
  EXPECT_GT(count, 0);
}

namespace {
// The descriptors this process holds.
size_t OpenDescriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// No child of this process is left, running or unreaped.
bool NoChildren() {
  errno = 0;
  return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// A stand-in for the decoder: a shell script of body.
fs::path FakeDecoder(const fs::path& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

void ExpectSame(const fpbuffer& a, const fpbuffer& b, const std::string& what) {
  ASSERT_EQ(a.width, b.width) << what;
  ASSERT_EQ(a.height, b.height) << what;
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < a.n; ++k) ASSERT_EQ(a.plane[c].x[k], b.plane[c].x[k]) << what << c << k;
  }
}
}  // namespace

// Files on which the library's tile decoders read or write past their buffers (made by
// tests/fileio/reference/damaged_tiles.py) are refused, the decoder's process ending in
// place of this one.
TEST_F(FitsTest, DamagedTilesAreRefusedAndTheDecoderLeavesNothing) {
  const fs::path folder = fs::path(ZEP_SOURCE_DIR) / "fuzz/regressions/fits";
  const struct {
    const char* name;
    size_t byte;
    int bit;
  } cases[] = {{"rice-tile-flipped-bit.fits", 6530, 3},
               {"hcompress-tile-flipped-bit.fits", 5811, 0}};
  const size_t descriptors = OpenDescriptors();
  for (const auto& c : cases) {
    fpbuffer image = Marked();
    ImageFileInfo info;
    const char* text = ReadFits(image, (folder / c.name).string(), info);
    ASSERT_NE(text, nullptr) << c.name;
    // A sanitizer build's decoder stops at the fault; another may see the damage itself.
    EXPECT_EQ(std::string(text).rfind("Problem reading image, ", 0), 0u) << text;
    EXPECT_EQ(info.message, text);
    ExpectMarked(image, c.name);
    // With its bit put back the file reads: the damage alone was refused.
    std::string mended = ReadBytes(folder / c.name);
    mended[c.byte] = char(mended[c.byte] ^ (1 << c.bit));
    std::ofstream(home / "mended.fits", std::ios::binary | std::ios::trunc) << mended;
    ASSERT_EQ(ReadFits(image, (home / "mended.fits").string(), info), nullptr) << c.name;
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 32);
    for (int p = 0; p < 3; ++p) {
      for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
          const float sample = float((x * 37 + y * 11 + 7 * p) % 1000);
          ASSERT_NEAR(image.plane[p].x[y * 32 + x], sample / 128.4980392f, 1e-4f) << c.name;
        }
      }
    }
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_TRUE(NoChildren());
}

// What the decoder sends back is checked as a file would be: anything malformed, and a
// decoder that fails, dies or never answers, means damaged data and changes nothing.
TEST_F(FitsTest, TheDecodersOutputIsCheckedAsAFileIs) {
  const fs::path good = home / "good.fit";
  ASSERT_EQ(WriteFits(TestImage(false), good.string(), 16, 1), nullptr);
  fpbuffer expected;
  ImageFileInfo info;
  ASSERT_EQ(ReadFits(expected, good.string(), info), nullptr);
  const int fd = open((home / "sent").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(WriteDecodedFits(good.string(), fd));
  close(fd);
  const std::string sent = ReadBytes(home / "sent");
  const size_t rows = 8 + 4 + 32;  // magic, status, image; then status and samples per row
  ASSERT_EQ(sent.size(), rows + 2 * (4 + 3 * 3 * 4));
  const auto with = [&](size_t at, const std::string& bytes) {
    return std::string(sent).replace(at, bytes.size(), bytes);
  };
  const auto int32 = [](int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  const double unit = 1.0;
  const std::string one(reinterpret_cast<const char*>(&unit), sizeof unit);
  const std::string damaged = "Problem reading image, the file is damaged";
  const struct {
    std::string name, output, then, message;
  } cases[] = {
      {"as sent", sent, "", ""},
      {"cut short", sent.substr(0, sent.size() - 5), "", damaged},
      {"a byte more", sent + "x", "", damaged},
      {"another magic", with(0, "ZEPFITS2"), "", damaged},
      {"another width", with(12, int32(4)), "", damaged},
      {"another height", with(16, int32(1)), "", damaged},
      {"four planes", with(20, int32(4)), "", damaged},
      {"another type", with(24, int32(-32)), "", damaged},
      {"another scale", with(28, std::string(8, '\0')), "", damaged},
      {"another zero", with(36, one), "", damaged},
      {"failed at the start", sent.substr(0, 8) + int32(104), "",
       "Problem reading image, status code = 104"},
      {"failed in a row", sent.substr(0, rows) + int32(108), "",
       "Problem reading image, status code = 108"},
      {"failed, then more", sent.substr(0, rows) + int32(108) + "x", "", damaged},
      {"status out of range", sent.substr(0, rows) + int32(-3), "", damaged},
      {"exit status", sent, "exit 3", damaged},
      {"killed", sent, "kill -SEGV $$", damaged},
  };
  const size_t descriptors = OpenDescriptors();
  for (const auto& c : cases) {
    std::ofstream(home / "output", std::ios::binary | std::ios::trunc) << c.output;
    FitsDecoder decoder;
    decoder.program =
        FakeDecoder(home / "decoder", "cat '" + (home / "output").string() + "'\n" + c.then);
    fpbuffer image = Marked();
    const char* text = ReadFits(image, good.string(), info, decoder);
    if (c.message.empty()) {
      EXPECT_EQ(text, nullptr) << c.name;
      ExpectSame(image, expected, c.name);
    } else {
      EXPECT_STREQ(text, c.message.c_str()) << c.name;
      ExpectMarked(image, c.name);
    }
  }
  // A decoder that never answers is stopped when its time is up.
  FitsDecoder silent;
  silent.program = FakeDecoder(home / "silent", "exec sleep 60");
  silent.seconds = 1;
  fpbuffer image = Marked();
  EXPECT_STREQ(ReadFits(image, good.string(), info, silent), damaged.c_str());
  ExpectMarked(image, "silent");
  // Without the decoder, compressed images are refused rather than decoded here.
  std::ofstream(home / "plain") << "#!/bin/sh\n";
  for (const fs::path& missing : {home / "none", home / "plain"}) {
    FitsDecoder decoder;
    decoder.program = missing;
    EXPECT_STREQ(ReadFits(image, good.string(), info, decoder),
                 "Problem reading compressed image, zep-fitsdecode is missing");
    ExpectMarked(image, missing.string());
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_TRUE(NoChildren());
}

TEST_F(FitsTest, TheDecoderKeepsToItsMemory) {
  fpbuffer large(256, 256, 0x17);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < large.n; ++k) large.plane[c].x[k] = float((k * 7 + c) % 256);
  }
  const fs::path path = home / "large.fit";
  ASSERT_EQ(WriteFits(large, path.string(), 16, 2), nullptr);
  FitsDecoder tight;
  tight.memory = 1;
  fpbuffer image = Marked();
  ImageFileInfo info;
  const char* text = ReadFits(image, path.string(), info, tight);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text).rfind("Problem reading image, ", 0), 0u) << text;
  ExpectMarked(image, "tight");
  ASSERT_EQ(ReadFits(image, path.string(), info), nullptr);
  EXPECT_EQ(image.width, 256);
}

TEST_F(FitsTest, WrittenFilesVerifyAndReadBackHereAndElsewhere) {
  if (!Have("astropy", "fitsverify") || !Have("sys", "funpack")) {
    GTEST_SKIP() << "python3-astropy, fitsverify or funpack is missing";
  }
  struct Case {
    int type, compression;
    double scale;  // writer's full-scale factor
  };
  const Case cases[] = {
      {8, 0, 1},
      {16, 0, 128.4980392},
      {20, 0, 257},
      {32, 0, 214783647 / 255.0},
      {40, 0, 4294966016 / 255.0},
      {64, 0, 1},
      {-32, 0, 1},
      {-64, 0, 1},
      {20, 1, 257},
      {-32, 2, 1},
      {16, 3, 128.4980392},
      {8, 4, 1},
  };
  const fpbuffer image = TestImage(false);
  for (const Case& c : cases) {
    const std::string label = Format("type %d compression %d", c.type, c.compression);
    const fs::path path = home / Format("t%d_%d.fit", c.type, c.compression);
    ASSERT_STREQ(WriteFits(image, path.string(), c.type, c.compression), nullptr) << label;
    EXPECT_EQ(Shell("fitsverify -q -e '" + path.string() + "'"), 0) << label;
    if (c.compression) {
      EXPECT_EQ(Shell("funpack -S '" + path.string() + "'"), 0) << label;
    }
    // The other library sees the samples we meant: the scaled values, rounded when integer.
    const Samples theirs = Dump(path);
    EXPECT_EQ(theirs.kind, std::to_string(c.type == 20 ? 16 : c.type == 40 ? 32 : c.type));
    ASSERT_EQ(theirs.v.size(), 18u) << label;
    fpbuffer back = Marked();
    ImageFileInfo info;
    ASSERT_EQ(ReadFits(back, path.string(), info), nullptr) << label;
    ASSERT_EQ(back.width, 3);
    for (size_t e = 0; e < 18; ++e) {
      const float value = image.plane[e / 6].x[e % 6];
      const double scaled = value * c.scale;
      const double sample = c.type < 0 ? scaled : std::floor(scaled + 0.5);
      EXPECT_NEAR(theirs.v[e], sample, 1e-6 * std::max(1.0, scaled)) << label << " " << e;
      const double tolerance = (c.type < 0 ? 1e-6 : 0.5 / c.scale) + 2e-6 * value;
      EXPECT_NEAR(back.plane[e / 6].x[e % 6], value, tolerance) << label << " " << e;
    }
    if (c.compression == 0) {
      EXPECT_NE(info.text.find("Compression = None"), std::string::npos) << label;
    }
  }
  // Signed 32-bit samples never pass the program's full scale.
  fpbuffer bright = TestImage(false);
  bright.plane[0].x[0] = 255.0f;
  ASSERT_EQ(WriteFits(bright, (home / "full.fit").string(), 32, 0), nullptr);
  EXPECT_EQ(Dump(home / "full.fit").v[0], 214783647.0);
}

TEST_F(FitsTest, FloatFilesKeepEveryValueAndCompressionIsReported) {
  const fpbuffer image = TestImage(true);
  const char* names[] = {"None", "Rice", "GZIP", "Rice", "PLIO"};
  for (int compression = 0; compression <= 4; ++compression) {
    const int type = compression == 4 ? 8 : -32;  // PLIO holds small non-negative integers
    const fs::path path = home / Format("f%d.fit", compression);
    ASSERT_STREQ(WriteFits(image, path.string(), type, compression), nullptr) << compression;
    fpbuffer back;
    ImageFileInfo info;
    ASSERT_EQ(ReadFits(back, path.string(), info), nullptr) << compression;
    EXPECT_NE(info.text.find(std::string("Compression = ") + names[compression]), std::string::npos)
        << info.text;
    if (compression == 0 || compression == 2) {  // exact: uncompressed, and lossless GZIP
      for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 6; ++k) EXPECT_EQ(back.plane[c].x[k], image.plane[c].x[k]) << c << k;
      }
    }
  }
}

TEST_F(FitsTest, FailedWritesKeepThePreviousFile) {
  const fs::path path = home / "kept.fit";
  ASSERT_EQ(WriteFits(TestImage(false), path.string(), 8, 0), nullptr);
  const std::string before = ReadBytes(path);
  EXPECT_STREQ(WriteFits(TestImage(false), path.string(), 12, 0),
               "Can't create image, status = 211");
  // PLIO holds non-negative integers only.
  fpbuffer negative = TestImage(false);
  negative.plane[0].x[0] = -100.0f;
  for (int type : {32, -32}) {
    EXPECT_STREQ(WriteFits(type == 32 ? negative : TestImage(false), path.string(), type, 4),
                 "PLIO compression needs integer samples from 0 to 16777215!");
  }
  EXPECT_STREQ(WriteFits(TestImage(false), (home / "no" / "x.fit").string(), 8, 0),
               "Can't create file, status = 105");
  EXPECT_EQ(ReadBytes(path), before);
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(home)) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1u) << "no temporary file is left behind";
}

TEST_F(FitsTest, BracketsInTheFolderNameAreNotFilterSyntax) {
  const fs::path folder = home / "a[1]";
  fs::create_directories(folder);
  ASSERT_STREQ(WriteFits(TestImage(false), (folder / "x.fit").string(), 20, 2), nullptr);
  fpbuffer back;
  ImageFileInfo info;
  EXPECT_EQ(ReadFits(back, (folder / "x.fit").string(), info), nullptr);
  EXPECT_FALSE(fs::exists(home / "a"));
}

TEST_F(FitsTest, OtherColourSpacesGoThroughRgb) {
  // A four-channel image is written as its RGB and read back into its own space.
  fpbuffer cmyk = TestImage(false);
  cmyk.convert(0x2007);
  const fs::path path = home / "cmyk.fit";
  ASSERT_EQ(WriteFits(cmyk, path.string(), -32, 0), nullptr);
  fpbuffer rgb;
  ImageFileInfo info;
  ASSERT_EQ(ReadFits(rgb, path.string(), info), nullptr);
  fpbuffer back(1, 1, 0x2007);
  ASSERT_EQ(ReadFits(back, path.string(), info), nullptr);
  ASSERT_EQ(back.channels, 4);
  const fpbuffer original = TestImage(false);
  for (int k = 0; k < 6; ++k) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(rgb.plane[c].x[k], original.plane[c].x[k], 1e-3f);
    const fpixel4 q =
        back.fromrgb4(fpixel(rgb.plane[0].x[k], rgb.plane[1].x[k], rgb.plane[2].x[k]));
    EXPECT_EQ(back.plane[3].x[k], q.w);
  }
}

TEST_F(TiffTest, FilesOfAnotherWriterAreReadOrDeclined) {
  if (!Have("tifffile", "tiffcp")) GTEST_SKIP() << "python3-tifffile or libtiff-tools is missing";
  const auto files = Make("make-tiff", home);
  ASSERT_EQ(files.size(), 12u);
  const struct {
    const char* name;
    bool read;
  } cases[] = {
      {"rgb16.tif", true},   {"rgb16be.tif", true},  {"rgb16lzw.tif", true}, {"rgbf.tif", true},
      {"rgbfzip.tif", true}, {"planar16.tif", true}, {"planarf.tif", true},  {"tiled16.tif", false},
      {"rgba16.tif", false}, {"int32.tif", false},   {"rgb8.tif", false},    {"grey16.tif", false},
  };
  for (const auto& c : cases) {
    fpbuffer image = Marked();
    const int result = ReadTiffFloat(image, (home / c.name).string());
    if (!c.read) {
      EXPECT_EQ(result, 1) << c.name;
      ExpectMarked(image, c.name);
      continue;
    }
    ASSERT_EQ(result, 0) << c.name;
    const Samples& file = files.at(c.name);
    ASSERT_EQ(image.width, file.width);
    ASSERT_EQ(image.height, file.height);
    const bool words = std::string(c.name).find("16") != std::string::npos;
    for (size_t e = 0; e < file.v.size(); ++e) {
      // R G B per pixel from the top row; the planes keep the bottom row first.
      const size_t pixel = e / 3, row = pixel / file.width, x = pixel % file.width;
      const float ours = image.plane[e % 3].x[(file.height - 1 - row) * file.width + x];
      const float expected = words ? FromWordSample(uint16_t(file.v[e])) : float(file.v[e]);
      EXPECT_EQ(ours, expected) << c.name << " " << e;
    }
  }
}

TEST_F(TiffTest, WrittenFilesReadBackHereAndElsewhere) {
  const bool tools = Have("tifffile", "tiffdump");
  const fpbuffer image = TestImage(true);
  for (bool is32 : {true, false}) {
    const fs::path path = home / (is32 ? "f.tif" : "w.tif");
    ASSERT_EQ(WriteTiffFloat(image, path.string(), is32), nullptr);
    fpbuffer back = Marked();
    ASSERT_EQ(ReadTiffFloat(back, path.string()), 0);
    ASSERT_EQ(back.width, 3);
    ASSERT_EQ(back.height, 2);
    const Samples theirs = tools ? Dump(path) : Samples();
    if (tools) {
      EXPECT_EQ(theirs.kind, is32 ? "float32" : "uint16");
      ASSERT_EQ(theirs.v.size(), 18u);
      EXPECT_EQ(Shell("tiffinfo -D '" + path.string() + "'"), 0);
      EXPECT_EQ(Shell("tiffdump '" + path.string() + "'"), 0);
      // Floats are marked as floats; 16-bit files carry no sample format at all.
      const int marked = Shell("tiffdump '" + path.string() +
                               "' | grep -q 'SampleFormat (339) SHORT (3) 3<3 3 3>'");
      EXPECT_EQ(marked == 0, is32);
    }
    for (int row = 0; row < 2; ++row) {
      for (int x = 0; x < 3; ++x) {
        const size_t k = size_t(1 - row) * 3 + x;  // the file starts with the top row
        const fpixel rgb(image.plane[0].x[k], image.plane[1].x[k], image.plane[2].x[k]);
        const wordpixel wp = wordpixel::fromfpixel(rgb);
        const float in[3] = {rgb.x, rgb.y, rgb.z};
        const uint16_t word[3] = {wp.r, wp.g, wp.b};
        for (int c = 0; c < 3; ++c) {
          const float expected = is32 ? in[c] : FromWordSample(word[c]);
          EXPECT_EQ(back.plane[c].x[k], expected) << is32 << k << c;
          if (tools) {
            EXPECT_EQ(theirs.v[(size_t(row) * 3 + x) * 3 + c], is32 ? in[c] : word[c]);
          }
        }
      }
    }
  }
}

TEST_F(TiffTest, UnmarkedFloatFilesAreFloatsAndDamagedFilesAreDeclined) {
  // A float file of the kind written before the sample format was marked.
  const fs::path old = home / "old.tif";
  TIFF* tif = TIFFOpen(old.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 2u);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 1u);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  float line[6] = {-1.5f, 300.25f, 7, 0, 1e-3f, 255};
  ASSERT_EQ(TIFFWriteScanline(tif, line, 0, 0), 1);
  TIFFClose(tif);
  fpbuffer image;
  ASSERT_EQ(ReadTiffFloat(image, old.string()), 0);
  for (int k = 0; k < 2; ++k) {
    for (int c = 0; c < 3; ++c) EXPECT_EQ(image.plane[c].x[k], line[3 * k + c]);
  }

  ASSERT_EQ(WriteTiffFloat(TestImage(false), (home / "whole.tif").string(), true), nullptr);
  const std::string whole = ReadBytes(home / "whole.tif");
  const std::string cuts[] = {whole.substr(0, 8 + 20), whole.substr(0, whole.size() / 2), ""};
  for (const std::string& bytes : cuts) {
    std::ofstream(home / "cut.tif", std::ios::binary) << bytes;
    fpbuffer marked = Marked();
    EXPECT_EQ(ReadTiffFloat(marked, (home / "cut.tif").string()), 1) << bytes.size();
    ExpectMarked(marked, "cut");
  }
  fpbuffer marked = Marked();
  EXPECT_EQ(ReadTiffFloat(marked, (home / "missing.tif").string()), 1);
  EXPECT_STREQ(WriteTiffFloat(TestImage(false), (home / "no" / "x.tif").string(), true),
               "Problem creating TIFF file!");
  EXPECT_FALSE(fs::exists(home / "no"));
}

TEST_F(TiffTest, SeparatePlanesReadExactlyAsContiguousSamples) {
  // Spaces of three and four planes, and the identity: the planes are put together
  // pixel by pixel only once all three are in.
  const CSpaceCode spaces[] = {0x17, 0x20000 | 7, 0x2000 | 0xF};
  for (int bits : {16, 32}) {
    for (int compression : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
      const fs::path contig = home / "contig.tif", planes = home / "planes.tif";
      ASSERT_TRUE(WriteTestTiff(contig, 7, 5, bits, 3, false, compression));
      ASSERT_TRUE(WriteTestTiff(planes, 7, 5, bits, 3, true, compression));
      for (CSpaceCode code : spaces) {
        const std::string what =
            Format("%d bits, compression %d, space %x", bits, compression, code);
        fpbuffer a(1, 1, code), b(1, 1, code);
        ASSERT_EQ(ReadTiffFloat(a, contig.string()), kTiffRead) << what;
        ASSERT_EQ(ReadTiffFloat(b, planes.string()), kTiffRead) << what;
        ASSERT_EQ(b.width, 7) << what;
        ASSERT_EQ(b.height, 5) << what;
        ASSERT_EQ(a.channels, b.channels) << what;
        for (int c = 0; c < a.channels; ++c) {
          EXPECT_EQ(std::memcmp(a.plane[c].x, b.plane[c].x, 35 * sizeof(float)), 0) << what << c;
        }
      }
      // The top row of the file is the planes' last row.
      fpbuffer rgb;
      ASSERT_EQ(ReadTiffFloat(rgb, planes.string()), kTiffRead);
      const float first =
          bits == 16 ? FromWordSample(uint16_t(TestTiffSample(0, 0, 2))) : TestTiffFloat(0, 0, 2);
      EXPECT_EQ(rgb.plane[2].x[4 * 7], first);
    }
  }
}

TEST_F(TiffTest, TheGeneralLibraryGetsOnlyFilesItReadsWhole) {
  // Deep samples in separate planes, which that library would read only the first plane of.
  ASSERT_TRUE(WriteTestTiff(home / "planes16.tif", 4, 3, 16, 3, true));
  ASSERT_TRUE(WriteTestTiff(home / "rgba16.tif", 4, 3, 16, 4, true));
  ASSERT_TRUE(WriteTestTiff(home / "planes8.tif", 4, 3, 8, 3, true));
  fpbuffer marked = Marked();
  EXPECT_EQ(ReadTiffFloat(marked, (home / "rgba16.tif").string()), kTiffDeclined);
  ExpectMarked(marked, "rgba16");

  // An uncompressed file whose directory comes first, its single strip cut short.
  auto minimal = [](size_t cut) {
    std::string b = "II*";
    b += '\0';
    auto put = [&b](uint32_t v, int bytes) {
      for (int i = 0; i < bytes; ++i) b += char((v >> (8 * i)) & 0xFF);
    };
    put(8, 4);
    const uint32_t entries[][4] = {{256, 3, 1, 4}, {257, 3, 1, 3}, {258, 3, 3, 122},
                                   {259, 3, 1, 1}, {262, 3, 1, 2}, {273, 4, 1, 128},
                                   {277, 3, 1, 3}, {278, 3, 1, 3}, {279, 4, 1, 36}};
    put(9, 2);
    for (const auto& e : entries) put(e[0], 2), put(e[1], 2), put(e[2], 4), put(e[3], 4);
    put(0, 4);
    put(8, 2), put(8, 2), put(8, 2);
    for (int i = 0; i < 36; ++i) b += char(i * 7);
    return b.substr(0, b.size() - cut);
  };
  std::ofstream(home / "whole8.tif", std::ios::binary) << minimal(0);
  std::ofstream(home / "cut8.tif", std::ios::binary) << minimal(10);

  const struct {
    const char* name;
    uint32_t code;
  } cases[] = {{"planes16.tif", kImagingUnknownFormat},
               {"rgba16.tif", kImagingUnknownFormat},
               {"whole8.tif", kImagingOk},
               {"cut8.tif", kImagingDataMissing}};
  for (const auto& c : cases) {
    EXPECT_EQ(TiffCheckForGeneralLibrary((home / c.name).string()), c.code) << c.name;
  }
  // 8-bit samples in separate planes are read whole by that library.
  EXPECT_EQ(TiffCheckForGeneralLibrary((home / "planes8.tif").string()), kImagingOk);
}

// PLIO tiles of every shape the writer makes: wide and narrow images, and heights that
// leave a short last tile, read back sample for sample. 16-bit samples are refused: the
// library's PLIO coder reads past its buffer on them.
TEST_F(FitsTest, PlioFilesOfAnyShapeWriteCleanlyAndReadBack) {
  const std::pair<int, int> sizes[] = {{311, 131}, {1, 9}, {9, 1}, {1, 300}, {300, 1},
                                       {8, 8},     {7, 3}, {2, 5}, {64, 1},  {1, 64}};
  const int type = 8;  // 32-bit samples at full scale are beyond PLIO's range
  for (const auto& [w, h] : sizes) {
    fpbuffer image(w, h, 0x17);
    for (int k = 0; k < w * h; ++k) {
      for (int c = 0; c < 3; ++c) image.plane[c].x[k] = float((k * 7 + c * 31) % 256);
    }
    const fs::path path = home / Format("plio_%d_%dx%d.fit", type, w, h);
    ASSERT_STREQ(WriteFits(image, path.string(), type, 4), nullptr) << w << "x" << h;
    fpbuffer back;
    back.setcode(0x17);
    ImageFileInfo info;
    ASSERT_EQ(ReadFits(back, path.string(), info), nullptr) << w << "x" << h;
    ASSERT_EQ(back.width, w);
    ASSERT_EQ(back.height, h);
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < w * h; ++k) {
        ASSERT_NEAR(back.plane[c].x[k], image.plane[c].x[k], 0.01)
            << type << " " << w << "x" << h << " plane " << c << " sample " << k;
      }
    }
  }
  EXPECT_STREQ(WriteFits(TestImage(false), (home / "plio16.fit").string(), 16, 4),
               "PLIO compression needs 8-bit or 32-bit integer samples!");
  EXPECT_FALSE(fs::exists(home / "plio16.fit"));
}
