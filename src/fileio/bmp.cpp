#include "fileio/bmp.h"

#include <cstdio>
#include <cstdlib>

#include "platform/regularfile.h"

namespace {
uint32_t U16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t U32(const unsigned char* p) { return U16(p) | U16(p + 2) << 16; }

// Compression codes of the info header.
constexpr uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
}  // namespace

bool ReadBmpHeader(const std::string& path, BmpHeader& header) {
  header = BmpHeader();
  std::FILE* f = OpenRegularFile(path);
  if (!f) return false;
  unsigned char h[54] = {};
  const size_t got = std::fread(h, 1, sizeof h, f);
  const bool sized = std::fseek(f, 0, SEEK_END) == 0;
  const long length = sized ? std::ftell(f) : -1;
  std::fclose(f);
  if (got < 26 || length < 0 || h[0] != 'B' || h[1] != 'M') return false;
  header.fileLength = uint64_t(length);
  header.pixelOffset = U32(h + 10);
  header.infoSize = U32(h + 14);
  if (header.infoSize == 12) {
    header.width = U16(h + 18);
    header.height = U16(h + 20);
    header.bitCount = int(U16(h + 24));
    return true;
  }
  if (header.infoSize < 40 || got < 54) return false;
  header.width = int32_t(U32(h + 18));
  header.height = int32_t(U32(h + 22));
  header.bitCount = int(U16(h + 28));
  header.compression = U32(h + 30);
  header.imageSize = U32(h + 34);
  return true;
}

bool BmpPixelDataFits(const BmpHeader& header) {
  if (header.width <= 0 || header.height == 0 || header.bitCount <= 0 || header.bitCount > 32) {
    return false;
  }
  if (uint64_t(header.pixelOffset) < 14 + uint64_t(header.infoSize)) return false;
  uint64_t bytes;
  if (header.compression == kRgb || header.compression == kBitFields ||
      header.compression == kAlphaBitFields) {
    const uint64_t stride = (uint64_t(header.width) * uint64_t(header.bitCount) + 31) / 32 * 4;
    const uint64_t rows = uint64_t(std::llabs(header.height));
    if (rows > header.fileLength / stride) return false;
    bytes = stride * rows;
  } else {
    // Run-length and embedded data have no row size: the stored size must be there.
    bytes = header.imageSize;
    if (bytes == 0) return false;
  }
  return uint64_t(header.pixelOffset) <= header.fileLength &&
         bytes <= header.fileLength - header.pixelOffset;
}
