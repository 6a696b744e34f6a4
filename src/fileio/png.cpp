#include "fileio/png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fileio/picturememory.h"
#include "fileio/rgbpixel.h"
#include "platform/format.h"
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

// The libpng part of reading, kept free of objects with destructors so that a longjmp out
// of the library skips nothing. Fills rows with 3 samples per pixel, top row first.
// Returns null or the complaint.
const char* DecodePng(std::FILE* file, ReadState& s, ImageFileInfo& info, int floatChannels,
                      int& depth, std::vector<png_byte>& pixels, std::vector<png_bytep>& rows,
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
  depth = png_get_bit_depth(s.png, s.info);
  const size_t rowBytes = png_get_rowbytes(s.png, s.info);
  if (png_get_channels(s.png, s.info) != 3 || (depth != 8 && depth != 16) ||
      rowBytes != size_t(width) * 3 * (depth / 8)) {
    return "Unspecified Problem!";
  }
  // The whole decoded image, the float image and the display bitmap made of it must fit
  // the memory available together.
  if (uint64_t(width) * height > INT32_MAX) return "Unspecified Problem!";
  const uint64_t need = uint64_t(rowBytes) * height + sizeof(png_bytep) * uint64_t(height) +
                        PictureBytes(width, height, floatChannels);
  if (!MemoryAllows(need)) return kOutOfMemoryText;
  pixels.resize(rowBytes * height);
  rows.resize(height);
  for (png_uint_32 j = 0; j < height; ++j) rows[j] = pixels.data() + rowBytes * j;
  png_read_image(s.png, rows.data());
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
  int depth = 8;
  bool interlaced = false;
  // Everything that owns memory lives outside the decoder, which libpng may leave by longjmp.
  std::vector<png_byte> pixels;
  std::vector<png_bytep> rows;
  const char* problem;
  bool headerRead = false;
  {
    ReadState state;
    problem = DecodePng(file, state, info, FloatChannels(image.code), depth, pixels, rows,
                        interlaced, headerRead);
  }
  std::fclose(file);
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
  const int w = info.width, h = info.height;
  fpbuffer loaded;
  loaded.dim(w, h, image.code);
  for (int row = 0; row < h; ++row) {
    // The file's first row is the top of the picture; planes store the bottom row first.
    const int j = h - 1 - row;
    const png_byte* src = pixels.data() + size_t(row) * size_t(w) * 3 * size_t(depth / 8);
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
      PutRgb(loaded, size_t(j) * size_t(w) + size_t(i), rgb);
    }
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
  for (int row = 0; row < h; ++row) {
    const int j = h - 1 - row;  // top row first
    png_byte* dst = pixels.data() + rowBytes * size_t(row);
    rows[size_t(row)] = dst;
    for (int i = 0; i < w; ++i) {
      const fpixel c = GetRgb(image, size_t(j) * size_t(w) + size_t(i));
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
  const char* problem = nullptr;
  const bool opened = WriteFileReplacing(path, [&](std::FILE* file) {
    WriteState state;
    problem = EncodePng(file, state, w, h, bitDepth, level, rows);
    return problem == nullptr;
  });
  if (problem) return problem;
  return opened ? nullptr : "Problem Opening File!";
}
