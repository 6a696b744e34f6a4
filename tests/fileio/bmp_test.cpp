// The BMP header check made before the general image library decodes a BMP: the pixel data
// the header declares must lie inside the file.
#include "fileio/bmp.h"

#include <filesystem>
#include <fstream>

#include "support/zep_test.h"

namespace fs = std::filesystem;
using BmpTest = ZepTest;

namespace {
struct Bmp {
  int32_t width = 5, height = 4;
  int bits = 24;
  uint32_t compression = 0, imageSize = 0;
  uint32_t offset = 54;
  bool core = false;       // the old 12-byte info header
  int64_t dataBytes = -1;  // pixel bytes actually stored; -1: as many as declared
};

// The file the case describes: headers, padding up to the pixel offset, pixel bytes.
std::string Build(const Bmp& c) {
  std::string b = "BM";
  auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b += char((v >> (8 * i)) & 0xFF);
  };
  put(0, 4), put(0, 4), put(c.offset, 4);
  if (c.core) {
    put(12, 4), put(uint32_t(c.width), 2), put(uint32_t(c.height), 2), put(1, 2);
    put(uint32_t(c.bits), 2);
  } else {
    put(40, 4), put(uint32_t(c.width), 4), put(uint32_t(c.height), 4), put(1, 2);
    put(uint32_t(c.bits), 2), put(c.compression, 4), put(c.imageSize, 4);
    put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  }
  const int64_t stride = (int64_t(c.width) * c.bits + 31) / 32 * 4;
  const int64_t rows = c.height < 0 ? -int64_t(c.height) : c.height;
  const int64_t declared = c.compression == 0 || c.compression == 3 ? stride * rows : c.imageSize;
  const int64_t stored = c.dataBytes >= 0 ? c.dataBytes : declared;
  if (b.size() < c.offset) b.resize(c.offset, '\0');
  b += std::string(size_t(std::max<int64_t>(stored, 0)), '\x5A');
  return b;
}
}  // namespace

TEST_F(BmpTest, DeclaredPixelDataMustBeInTheFile) {
  // 5 pixels of 24 bits: rows of 15 bytes padded to 16.
  const struct {
    const char* what;
    Bmp bmp;
    bool fits;
  } cases[] = {
      {"whole", {}, true},
      {"one byte short", {.dataBytes = 63}, false},
      {"half the rows", {.dataBytes = 32}, false},
      {"offset past the end", {.offset = 5000, .dataBytes = 0}, false},
      {"offset inside the headers", {.offset = 20}, false},
      {"top-down, whole", {.height = -4}, true},
      {"top-down, cut", {.height = -4, .dataBytes = 40}, false},
      {"32 bits, whole", {.bits = 32}, true},
      {"32 bits with 24 bits' data", {.bits = 32, .dataBytes = 64}, false},
      {"bit fields, whole", {.bits = 16, .compression = 3, .offset = 66}, true},
      {"1 bit, rows of 4 bytes", {.bits = 1, .offset = 62}, true},
      {"run-length, stored size present", {.bits = 8, .compression = 1, .imageSize = 30}, true},
      {"run-length, stored size past the end",
       {.bits = 8, .compression = 1, .imageSize = 30, .dataBytes = 10},
       false},
      {"run-length without a stored size", {.bits = 8, .compression = 1}, false},
      {"core header, whole", {.offset = 26, .core = true}, true},
      {"core header, cut", {.offset = 26, .core = true, .dataBytes = 50}, false},
      {"no width", {.width = 0}, false},
      {"no height", {.height = 0}, false},
      {"huge height", {.height = 0x7FFFFFFF, .dataBytes = 64}, false},
  };
  for (const auto& c : cases) {
    const fs::path path = home / "x.bmp";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << Build(c.bmp);
    BmpHeader header;
    ASSERT_TRUE(ReadBmpHeader(path.string(), header)) << c.what;
    EXPECT_EQ(header.bitCount, c.bmp.bits) << c.what;
    EXPECT_EQ(BmpPixelDataFits(header), c.fits) << c.what;
  }
  // Not a BMP, or too short for its headers.
  std::ofstream(home / "not.bmp", std::ios::binary) << "PK\x03\x04 zip, not a picture, at all..";
  std::ofstream(home / "short.bmp", std::ios::binary) << "BM\x10";
  BmpHeader header;
  EXPECT_FALSE(ReadBmpHeader((home / "not.bmp").string(), header));
  EXPECT_FALSE(ReadBmpHeader((home / "short.bmp").string(), header));
  EXPECT_FALSE(ReadBmpHeader((home / "missing.bmp").string(), header));
}
