#include "fileio/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/fpbuffer.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

// The library's header wants FILE and size_t first.
#include <jpeglib.h>

namespace {
// Codec errors jump back to the caller instead of ending the process; messages stay quiet.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void NoMessage(j_common_ptr) {}

void Install(jpeg_error_mgr* pub) {
  jpeg_std_error(pub);
  pub->error_exit = ErrorExit;
  pub->output_message = NoMessage;
}

const char* SpaceName(int space) {
  switch (space) {
    case 0:
      return "space unspecified";
    case 1:
      return "monochrome";
    case 2:
      return "RGB";
    case 3:
      return "YCbCr (YUV)";
    case 4:
      return "CMYK";
    case 5:
      return "YCbCrK";
    default:
      return "space unspecified";
  }
}

// The memory the decoder works in for the image a header describes: files of several scans
// (progressive ones among them) keep every coefficient of the image, two bytes per sample
// of the block-padded image, besides the rows it decodes through.
uint64_t DecodeBytes(jpeg_decompress_struct& cinfo) {
  const uint64_t w = (uint64_t(cinfo.image_width) + 15) / 16 * 16;
  const uint64_t h = (uint64_t(cinfo.image_height) + 15) / 16 * 16;
  const uint64_t components = uint64_t(std::max(cinfo.num_components, 1));
  return (jpeg_has_multiple_scans(&cinfo) ? w * h * components * 2 : 0) + w * components * 64;
}

bool FitsMemory(jpeg_decompress_struct& cinfo) {
  return uint64_t(cinfo.image_width) * cinfo.image_height <= INT32_MAX &&
         MemoryAllows(DecodeBytes(cinfo));
}

struct Decompressor {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  bool created = false;
  ~Decompressor() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};
}  // namespace

namespace {
// The library part of reading a header, apart from anything a longjmp could skip. Nothing
// of the image is allocated yet: the caller checks the memory first.
bool ReadHeader(std::FILE* file, Decompressor& d, ImageFileInfo& info, uint64_t& decodeBytes) {
  d.cinfo.err = &d.err.pub;
  Install(&d.err.pub);
  if (setjmp(d.err.jump) != 0) return false;
  jpeg_create_decompress(&d.cinfo);
  d.created = true;
  jpeg_stdio_src(&d.cinfo, file);
  jpeg_read_header(&d.cinfo, TRUE);
  if (uint64_t(d.cinfo.image_width) * d.cinfo.image_height > INT32_MAX) return false;
  jpeg_calc_output_dimensions(&d.cinfo);
  decodeBytes = DecodeBytes(d.cinfo);
  info.width = int32_t(d.cinfo.output_width);
  info.height = int32_t(d.cinfo.output_height);
  info.channels = d.cinfo.output_components;
  info.bitsPerChannel = 8;
  info.colourType = d.cinfo.jpeg_color_space;
  return true;
}
}  // namespace

bool ReadJpegInfo(const std::string& path, ImageFileInfo& info, uint64_t* decodeBytes) {
  info.reset();
  std::FILE* file = OpenRegularFile(path);
  if (!file) return true;
  bool read;
  uint64_t bytes = 0;
  {
    Decompressor d;
    read = ReadHeader(file, d, info, bytes);
  }
  std::fclose(file);
  if (!read) return true;
  if (decodeBytes) *decodeBytes = bytes;
  info.text = Format(
      "\nWidth = %d, Height = %d\nNumber of Channels = %d, Bits per Channel = %d\nColor Type = %d"
      "  (%s)",
      info.width, info.height, info.channels, info.bitsPerChannel, info.colourType,
      SpaceName(info.colourType));
  return false;
}

bool JpegEndsAfterLastScan(const std::string& path) {
  std::FILE* file = OpenRegularFile(path);
  if (!file) return false;
  // Read in pieces, whatever the file's size; a marker may straddle two pieces.
  std::vector<unsigned char> piece(size_t(1) << 16);
  bool scan = false, end = false, afterFF = false;
  size_t got;
  while ((got = std::fread(piece.data(), 1, piece.size(), file)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      const unsigned char c = piece[i];
      if (afterFF && c == 0xDA) {
        scan = true;
        end = false;
      } else if (afterFF && c == 0xD9 && scan) {
        end = true;
      }
      afterFF = c == 0xFF;
    }
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed && scan && end;
}

bool ReadJpeg(const std::string& path, uint8_t* topRow, int width, int height) {
  std::FILE* file = OpenRegularFile(path);
  if (!file) return true;
  Decompressor d;
  volatile bool failed = true;
  const int64_t stride = GetRowStride24(width);
  d.cinfo.err = &d.err.pub;
  Install(&d.err.pub);
  if (setjmp(d.err.jump) == 0) {
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_stdio_src(&d.cinfo, file);
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = JCS_RGB;
    d.cinfo.dct_method = JDCT_FLOAT;
    if (FitsMemory(d.cinfo)) {
      jpeg_start_decompress(&d.cinfo);
      if (int(d.cinfo.output_width) == width && int(d.cinfo.output_height) == height &&
          d.cinfo.output_components == 3) {
        uint8_t* row = topRow;
        while (d.cinfo.output_scanline < d.cinfo.output_height) {
          JSAMPROW rows[1] = {row};
          jpeg_read_scanlines(&d.cinfo, rows, 1);
          for (int i = 0; i < width; ++i) std::swap(row[3 * i], row[3 * i + 2]);
          row -= stride;  // the next picture row down sits one stride lower in memory
        }
        jpeg_finish_decompress(&d.cinfo);
        // The library warns and pads with grey where data is missing or corrupt; such a
        // picture is not the file's, so the caller takes its other road.
        failed = d.err.pub.num_warnings > 0;
      }
    }
  }
  std::fclose(file);
  return failed;
}

namespace {
struct Compressor {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  bool created = false;
  ~Compressor() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

bool Encode(std::FILE* file, Compressor& c, const uint8_t* topRow, int width, int height,
            int quality, int colourSpace, std::vector<uint8_t>& line) {
  c.cinfo.err = &c.err.pub;
  Install(&c.err.pub);
  if (setjmp(c.err.jump) != 0) return false;
  jpeg_create_compress(&c.cinfo);
  c.created = true;
  jpeg_stdio_dest(&c.cinfo, file);
  c.cinfo.image_width = JDIMENSION(width);
  c.cinfo.image_height = JDIMENSION(height);
  c.cinfo.input_components = 3;
  c.cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c.cinfo);
  jpeg_set_quality(&c.cinfo, quality, TRUE);
  c.cinfo.dct_method = JDCT_FLOAT;
  jpeg_set_colorspace(&c.cinfo, colourSpace == 1   ? JCS_GRAYSCALE
                                : colourSpace == 2 ? JCS_RGB
                                                   : JCS_YCbCr);
  jpeg_start_compress(&c.cinfo, TRUE);
  const int64_t stride = GetRowStride24(width);
  const uint8_t* row = topRow;
  while (c.cinfo.next_scanline < c.cinfo.image_height) {
    for (int i = 0; i < width; ++i) {
      line[size_t(3 * i)] = row[3 * i + 2];
      line[size_t(3 * i + 1)] = row[3 * i + 1];
      line[size_t(3 * i + 2)] = row[3 * i];
    }
    JSAMPROW rows[1] = {line.data()};
    jpeg_write_scanlines(&c.cinfo, rows, 1);
    row -= stride;
  }
  jpeg_finish_compress(&c.cinfo);
  return true;
}
}  // namespace

bool WriteJpeg(const std::string& path, const uint8_t* topRow, int width, int height, int quality,
               int colourSpace) {
  if (width <= 0 || height <= 0 || width > 65500 || height > 65500) return true;
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  std::vector<uint8_t> line(size_t(width) * 3);
  return !WriteFileReplacing(path, [&](std::FILE* file) {
    Compressor c;
    return Encode(file, c, topRow, width, height, quality, colourSpace, line);
  });
}
