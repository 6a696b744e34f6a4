#include "fileio/png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "fileio/picturememory.h"
#include "fileio/rgbpixel.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

namespace {
const char* ColourTypeName(int type) {
  switch (type) {
    case 0:
      return "Gray";
    case 2:
      return "RGB";
    case 3:
      return "Palette";
    case 4:
      return "Gray with Alpha Channel";
    case 6:
      return "RGB with Alpha Channel";
    default:
      return "Unknown";
  }
}

constexpr png_uint_32 kMaxSide = 1000000;

// libpng reports errors by longjmp; neither its errors' texts nor its warnings are of
// interest to the user, who gets the reader's own message.
void Quiet(png_structp, png_const_charp) {}
void QuietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

struct ReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~ReadState() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// Decoded rows of 3 samples per pixel, top row first, into the planes of image (bottom row
// first) from picture row top on: the rows in blocks over the threads.
void StoreRows(fpbuffer& image, const png_byte* pixels, int top, int count, int depth) {
  const int w = image.width, h = image.height;
  const size_t rowBytes = size_t(w) * 3 * size_t(depth / 8);
  ParallelBlocks(count, BlockFor(int64_t(w) * 16), [&](int64_t r0, int64_t r1) {
    for (int64_t r = r0; r < r1; ++r) {
      const png_byte* src = pixels + size_t(r) * rowBytes;
      const size_t k0 = size_t(h - 1 - (top + int(r))) * size_t(w);
      for (int i = 0; i < w; ++i) {
        fpixel rgb;
        if (depth == 16) {
          const png_byte* p = src + 6 * size_t(i);
          rgb = fpixel(FromWordSample(uint16_t((p[0] << 8) | p[1])),
                       FromWordSample(uint16_t((p[2] << 8) | p[3])),
                       FromWordSample(uint16_t((p[4] << 8) | p[5])));
        } else {
          const png_byte* p = src + 3 * size_t(i);
          rgb = fpixel(p[0], p[1], p[2]);
        }
        PutRgb(image, k0 + size_t(i), rgb);
      }
    }
  });
}

// Rows decoded at a time from a plain file: a few megabytes of bytes at most, so that the
// decoded image never exists whole beside the float image.
constexpr size_t kChunkBytes = size_t(4) << 20;

// The libpng part of reading, kept free of objects with destructors so that a longjmp out
// of the library skips nothing: everything that owns memory lives in the caller. Fills
// loaded (dimensioned in code) with the picture. Returns null or the complaint.
const char* DecodePng(std::FILE* file, ReadState& s, ImageFileInfo& info, CSpaceCode code,
                      fpbuffer& loaded, std::vector<png_byte>& pixels, std::vector<png_bytep>& rows,
                      bool& interlaced, bool& headerRead) {
  s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, Quiet);
  if (!s.png) return "Problem with PNG Pointer!";
  s.info = png_create_info_struct(s.png);
  if (!s.info) return "Problem with Info Pointer!";
  if (setjmp(png_jmpbuf(s.png))) return "Unspecified Problem!";
  png_init_io(s.png, file);
  // No header is trusted: the sizes stay within what an image can have here, ancillary
  // chunks within a few megabytes, and the image itself is checked against the memory
  // available below.
  png_set_user_limits(s.png, kMaxSide, kMaxSide);
  png_set_chunk_malloc_max(s.png, 8u << 20);
  png_read_info(s.png, s.info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0, interlace = 0;
  png_get_IHDR(s.png, s.info, &width, &height, &bitDepth, &colourType, &interlace, nullptr,
               nullptr);
  info.width = static_cast<int32_t>(width);
  info.height = static_cast<int32_t>(height);
  info.channels = png_get_channels(s.png, s.info);
  info.bitsPerChannel = bitDepth;
  info.colourType = colourType;
  interlaced = interlace != PNG_INTERLACE_NONE;
  headerRead = true;

  // Exactly three samples per pixel: palettes and grey expanded, alpha dropped. Grey of 1,
  // 2 or 4 bits is widened to 8.
  png_set_expand(s.png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_gray_to_rgb(s.png);
  }
  png_set_strip_alpha(s.png);
  // Interlaced files are read here too, pass by pass into the whole image, so that their
  // 16-bit samples arrive as exactly as those of plain files.
  if (interlaced) png_set_interlace_handling(s.png);
  png_read_update_info(s.png, s.info);
  const int depth = png_get_bit_depth(s.png, s.info);
  const size_t rowBytes = png_get_rowbytes(s.png, s.info);
  if (png_get_channels(s.png, s.info) != 3 || (depth != 8 && depth != 16) ||
      rowBytes != size_t(width) * 3 * (depth / 8)) {
    return "Unspecified Problem!";
  }
  // The decoded rows, the float image and the display bitmap made of it must fit the
  // memory available together.
  if (uint64_t(width) * height > INT32_MAX) return "Unspecified Problem!";
  const size_t chunk =
      interlaced ? size_t(height) : std::clamp<size_t>(kChunkBytes / rowBytes, 1, height);
  const uint64_t need = uint64_t(rowBytes) * chunk + sizeof(png_bytep) * uint64_t(chunk) +
                        PictureBytes(width, height, FloatChannels(code));
  if (!MemoryAllows(need)) return kOutOfMemoryText;
  pixels.resize(rowBytes * chunk);
  rows.resize(chunk);
  for (size_t j = 0; j < chunk; ++j) rows[j] = pixels.data() + rowBytes * j;
  // Every value is written below before the image is used.
  loaded.dimunset(int(width), int(height), code);
  if (interlaced) {
    png_read_image(s.png, rows.data());
    StoreRows(loaded, pixels.data(), 0, int(height), depth);
  } else {
    for (png_uint_32 top = 0; top < height; top += png_uint_32(chunk)) {
      const png_uint_32 count = std::min(png_uint_32(chunk), height - top);
      png_read_rows(s.png, rows.data(), nullptr, count);
      StoreRows(loaded, pixels.data(), int(top), int(count), depth);
    }
  }
  png_read_end(s.png, nullptr);
  return nullptr;
}
}  // namespace

void LoadPng(fpbuffer& image, const std::string& path, ImageFileInfo& info) {
  info.reset();
  std::FILE* file = OpenRegularFile(path);
  if (!file) {
    info.message = "Problem Opening File!";
    return;
  }
  // Closed however the reading ends, an allocation that fails included.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
  bool interlaced = false;
  // Everything that owns memory lives outside the decoder, which libpng may leave by longjmp.
  fpbuffer loaded;
  std::vector<png_byte> pixels;
  std::vector<png_bytep> rows;
  const char* problem;
  bool headerRead = false;
  {
    ReadState state;
    problem =
        DecodePng(file, state, info, image.code, loaded, pixels, rows, interlaced, headerRead);
  }
  if (headerRead) {
    info.text = Format(
        "\nUsed %s to load file.\nWidth = %d, Height = %d\nNumber of Channels = %d, Bits per "
        "Channel = %d\nColor Type = %d  (%s), (%s)",
        "FDIB", info.width, info.height, info.channels, info.bitsPerChannel, info.colourType,
        ColourTypeName(info.colourType), interlaced ? "Interlaced" : "Not Interlaced");
  }
  if (problem) {
    info.message = problem;
    return;
  }
  image.swapwith(loaded);
}

namespace {
struct WriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~WriteState() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

const char* EncodePng(std::FILE* file, WriteState& s, int width, int height, int depth, int level,
                      std::vector<png_bytep>& rows) {
  s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, Quiet);
  if (!s.png) return "Problem Creating PNG Write Struct!";
  s.info = png_create_info_struct(s.png);
  if (!s.info) return "Problem Creating PNG Info Struct!";
  if (setjmp(png_jmpbuf(s.png))) return "Unspecified Problem!";
  png_init_io(s.png, file);
  png_set_IHDR(s.png, s.info, png_uint_32(width), png_uint_32(height), depth, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(s.png, level);
  png_write_info(s.png, s.info);
  png_write_image(s.png, rows.data());
  png_write_end(s.png, nullptr);
  return nullptr;
}
}  // namespace

const char* WritePng(const fpbuffer& image, const std::string& path, int bitDepth, int level) {
  if (bitDepth != 8 && bitDepth != 16) return "Bit Depth Must be 8 or 16!";
  if (level < 0 || level > 9) return "Compression Must be Between 0 and 9!";
  const int w = image.width, h = image.height;
  if (image.n == 0 || image.channels == 0) return "Unspecified Problem!";
  const size_t rowBytes = size_t(w) * 3 * size_t(bitDepth / 8);
  std::vector<png_byte> pixels(rowBytes * size_t(h));
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int row = 0; row < h; ++row) rows[size_t(row)] = pixels.data() + rowBytes * size_t(row);
  ParallelBlocks(h, BlockFor(int64_t(w) * 16), [&](int64_t r0, int64_t r1) {
    for (int64_t row = r0; row < r1; ++row) {
      const size_t k0 = size_t(h - 1 - row) * size_t(w);  // top row first
      png_byte* dst = rows[size_t(row)];
      for (int i = 0; i < w; ++i) {
        const fpixel c = GetRgb(image, k0 + size_t(i));
        if (bitDepth == 8) {
          const bytepixel b = bytepixel::fromfpixel(c);
          dst[3 * i] = b.r;
          dst[3 * i + 1] = b.g;
          dst[3 * i + 2] = b.b;
        } else {
          const wordpixel wp = wordpixel::fromfpixel(c);
          const uint16_t v[3] = {wp.r, wp.g, wp.b};
          for (int s = 0; s < 3; ++s) {
            dst[6 * i + 2 * s] = png_byte(v[s] >> 8);  // big-endian
            dst[6 * i + 2 * s + 1] = png_byte(v[s] & 0xFF);
          }
        }
      }
    }
  });
  const char* problem = nullptr;
  const bool opened = WriteFileReplacing(path, [&](std::FILE* file) {
    WriteState state;
    problem = EncodePng(file, state, w, h, bitDepth, level, rows);
    return problem == nullptr;
  });
  if (problem) return problem;
  return opened ? nullptr : "Problem Opening File!";
}
