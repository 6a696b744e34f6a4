#include "fileio/fits.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "fileio/rgbpixel.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/programdir.h"

namespace {
// The texts of the FITS functions; valid until the next call on this thread.
thread_local std::string fitsText;

const char* Report(const std::string& text) {
  fitsText = text;
  return fitsText.c_str();
}

struct SampleType {
  int code;
  const char* name;
  double divisor;
};

// Full scales that map 255 to the file's range. The signed 32-bit one is 214783647, as the
// files written by this program have always carried it.
constexpr SampleType kSampleTypes[] = {
    {8, "8 bit unsigned integer", 1.0},
    {16, "16 bit signed integer", 128.4980392},
    {20, "16 bit unsigned integer", 257.0},
    {32, "32 bit signed integer", 214783647.0 / 255.0},
    {40, "32 bit unsigned integer", 4294967295.0 / 255.0},
    {64, "64 bit signed integer", 1.0},
    {-32, "32 bit floating point", 1.0},
    {-64, "64 bit floating point", 1.0},
};

SampleType TypeOf(int code) {
  for (const SampleType& t : kSampleTypes) {
    if (t.code == code) return t;
  }
  return {code, "Unknown bit depth", 1.0};
}

// The compression an image carries, by the algorithm named in its header.
const char* CompressionName(const std::string& zcmptype) {
  struct Name {
    const char* keyword;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {"RICE_1", "Rice"},   {"RICE_ONE", "Rice"},          {"GZIP_1", "GZIP"},
      {"PLIO_1", "PLIO"},   {"GZIP_2", "GZIP (shuffled)"}, {"HCOMPRESS_1", "HCompress"},
      {"BZIP2_1", "BZIP2"}, {"NOCOMPRESS", "None"}};
  for (const Name& n : kNames) {
    if (zcmptype == n.keyword) return n.name;
  }
  return "Unknown";
}

bool HoldsImage(fitsfile* file, int& status) {
  int hduType = 0, compressed = 0;
  fits_get_hdu_type(file, &hduType, &status);
  if (status == 0 && hduType != IMAGE_HDU) compressed = fits_is_compressed_image(file, &status);
  return status == 0 && (hduType == IMAGE_HDU || compressed);
}

// Moves to the first HDU that holds image data: the primary array, or for tile-compressed
// files (whose primary array is empty) the extension with the image. When there is none,
// stays on the first extension, so that a table-only file is reported as not an image.
void MoveToFirstImage(fitsfile* file, int& status) {
  int count = 0;
  fits_get_num_hdus(file, &count, &status);
  for (int hdu = 1; hdu <= count && status == 0; ++hdu) {
    int type = 0;
    fits_movabs_hdu(file, hdu, &type, &status);
    if (status != 0) return;
    int axes = 0;
    if (HoldsImage(file, status)) {
      fits_get_img_dim(file, &axes, &status);
      if (status == 0 && axes > 0) return;
    }
  }
  if (status == 0) {
    int type = 0;
    fits_movabs_hdu(file, count >= 2 ? 2 : 1, &type, &status);
  }
}

// CFITSIO 4.2 divides by the tile sizes of a compressed image while it moves to it, so a
// header with a tile size of 0 would stop the program. The headers are walked here first,
// card by card, and such a file is refused before the library sees it.
bool TileSizesSound(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return true;  // the library reports it
  char block[2880];
  bool sound = true, inHeader = true;
  int64_t bitpix = 0, naxis = 0, pcount = 0, gcount = 1, elements = 1;
  while (sound && std::fread(block, 1, sizeof block, f) == sizeof block) {
    for (int card = 0; card < 36 && inHeader; ++card) {
      const std::string c(block + 80 * card, 80);
      const std::string key = c.substr(0, 8);
      const long long value = c[8] == '=' ? std::atoll(c.c_str() + 10) : 0;
      if (key.rfind("ZTILE", 0) == 0 && c[8] == '=' && value <= 0) sound = false;
      if (key == "BITPIX  ") bitpix = value;
      if (key == "NAXIS   ") naxis = value;
      if (key.rfind("NAXIS", 0) == 0 && key[5] >= '1' && key[5] <= '9') {
        elements = value >= 0 && value < (int64_t(1) << 40) ? elements * value : -1;
        if (elements > (int64_t(1) << 50) || elements < 0) elements = -1;
      }
      if (key == "PCOUNT  ") pcount = value;
      if (key == "GCOUNT  ") gcount = value;
      if (key == "END     ") inHeader = false;
    }
    if (inHeader) continue;
    // Skip the data to the next header.
    if (naxis == 0) elements = 0;
    if (elements < 0 || pcount < 0 || pcount > (int64_t(1) << 50) || gcount < 0 || gcount > 1000) {
      break;
    }
    const int64_t bytes = (bitpix < 0 ? -bitpix : bitpix) / 8 * gcount * (pcount + elements);
    const int64_t blocks = (bytes + 2879) / 2880;
    if (blocks > 0 && std::fseek(f, long(blocks * 2880), SEEK_CUR) != 0) break;
    inHeader = true;
    bitpix = naxis = pcount = 0;
    gcount = elements = 1;
  }
  std::fclose(f);
  return sound;
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? -1 : int64_t(size);
}
}  // namespace

void GetFitsScaling(fitsfile* file, double& scale, double& zero, int& status) {
  if (status != 0) return;
  scale = 1.0;
  zero = 0.0;
  if (!HoldsImage(file, status)) {
    if (status == 0) status = NOT_IMAGE;
    return;
  }
  for (auto [key, value] : {std::pair{"BSCALE", &scale}, std::pair{"BZERO", &zero}}) {
    double v = 0.0;
    int keyStatus = 0;
    fits_read_key(file, TDOUBLE, key, &v, nullptr, &keyStatus);
    if (keyStatus == 0) {
      *value = v;
    } else if (keyStatus != KEY_NO_EXIST) {
      status = keyStatus;
      return;
    }
  }
}

const char* ReadFits(fpbuffer& image, const std::string& path, ImageFileInfo& info) {
  info.reset();
  int status = 0;
  fitsfile* file = nullptr;
  // The disk-file call takes the name literally: a path holding brackets is a name here,
  // not a filter expression.
  if (!TileSizesSound(path)) status = DATA_DECOMPRESSION_ERR;
  if (status == 0) fits_open_diskfile(&file, path.c_str(), READONLY, &status);
  if (status == 0) MoveToFirstImage(file, status);
  auto fail = [&](const char* format) {
    info.message = Report(Format(format, status));
    int closeStatus = 0;
    if (file) fits_close_file(file, &closeStatus);
    return info.message;
  };
  if (status != 0) return fail("Problem opening file, status code = %d");

  int bitpix = 0;
  fits_get_img_type(file, &bitpix, &status);
  if (status != 0) return fail("Problem getting image type, status code = %d");
  double scale = 1.0, zero = 0.0;
  GetFitsScaling(file, scale, zero, status);
  if (status != 0) return fail("Problem getting image type, status code = %d");
  int code = bitpix;
  if (bitpix == SHORT_IMG && zero != 0.0) code = USHORT_IMG;
  if (bitpix == LONG_IMG && zero != 0.0) code = ULONG_IMG;
  const SampleType type = TypeOf(code);

  int axisCount = 0;
  fits_get_img_dim(file, &axisCount, &status);
  if (status != 0) return fail("Problem getting image dimensions, status code = %d");
  LONGLONG axes[4] = {1, 1, 1, 1};
  fits_get_img_sizell(file, 4, axes, &status);
  if (status != 0) return fail("Problem getting axes, status code = %d");

  const char* compression = "None";
  const int compressed = fits_is_compressed_image(file, &status);
  char zcmptype[FLEN_VALUE] = "";
  if (compressed) fits_read_key(file, TSTRING, "ZCMPTYPE", zcmptype, nullptr, &status);
  if (status != 0) return fail("Problem getting compression type, status code = %d");
  if (compressed) compression = CompressionName(zcmptype);

  const int axisShown = axisCount < 3 ? 1 : int(std::min<LONGLONG>(axes[2], INT32_MAX));
  info.text = Format(
      "\nUsed FDIB to load FITS file.\nWidth = %lld, Height = %lld\nNumber of Channels = "
      "%d\nBits Depth = %s\nCompression = %s",
      axes[0], axes[1], axisShown, type.name, compression);

  const LONGLONG w = axes[0], h = axes[1];
  // Three planes are always read; fewer would read past the data (which compressed images
  // do not even notice), so such a file is a read problem before anything is touched.
  if (axisCount < 3 || axes[2] < 3 || w < 1 || h < 1) {
    status = BAD_PIX_NUM;
    return fail("Problem reading image, status code = %d");
  }
  fpbuffer loaded;
  loaded.setcode(image.code);
  const int channels = loaded.channels ? loaded.channels : 3;
  if (w > INT32_MAX || h > INT32_MAX || w * h > INT32_MAX ||
      !MemoryAllows(uint64_t(w) * uint64_t(h) * 4u * uint64_t(channels) + uint64_t(w) * 12u)) {
    info.message = Report("Image too large for the memory available!");
    int closeStatus = 0;
    fits_close_file(file, &closeStatus);
    return info.message;
  }
  // Plain data must be in the file before anything is allocated for it (compressed data
  // may expand any amount; the memory check above bounds it).
  LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
  fits_get_hduaddrll(file, &headStart, &dataStart, &dataEnd, &status);
  const LONGLONG dataBytes = LONGLONG(std::abs(bitpix) / 8) * w * h * 3;
  if (status == 0 && !compressed && dataStart + dataBytes > FileSize(path)) status = END_OF_FILE;
  if (status != 0) return fail("Problem reading image, status code = %d");

  const int width = int(w), height = int(h);
  loaded.dim(width, height, image.code);
  const float factor = float(1.0 / type.divisor);
  std::vector<float> row(size_t(width) * 3);
  float* planes[3] = {row.data(), row.data() + width, row.data() + 2 * size_t(width)};
  float nullValue = 0.0f;
  int anyNull = 0;
  for (int y = 0; y < height && status == 0; ++y) {
    for (int p = 0; p < 3; ++p) {
      const LONGLONG first = LONGLONG(y) * w + LONGLONG(p) * w * h + 1;
      fits_read_img(file, TFLOAT, first, width, &nullValue, planes[p], &anyNull, &status);
    }
    if (status != 0) break;
    const size_t k0 = size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x) {
      const fpixel rgb(planes[0][x] * factor, planes[1][x] * factor, planes[2][x] * factor);
      PutRgb(loaded, k0 + size_t(x), rgb);
    }
  }
  if (status != 0) return fail("Problem reading image, status code = %d");
  fits_close_file(file, &status);
  file = nullptr;
  if (status != 0) return fail("Problem closing file, status code = %d");
  image.swapwith(loaded);
  return nullptr;
}

namespace {
// One row of a plane in the file's own sample type. Integer samples are rounded and
// clamped here rather than by the library, so that no sample leaves the type's full scale
// and compressed integer images get the integers they need.
template <class T>
void WritePlaneRow(fitsfile* file, int datatype, LONGLONG first, const std::vector<float>& values,
                   int64_t lo, int64_t hi, int& status) {
  std::vector<T> samples(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    if constexpr (std::is_floating_point_v<T>) {
      samples[i] = T(values[i]);
    } else {
      samples[i] = T(ClampToInteger(std::floor(double(values[i]) + 0.5), lo, hi));
    }
  }
  fits_write_img(file, datatype, first, LONGLONG(samples.size()), samples.data(), &status);
}

void WriteRow(fitsfile* file, int type, LONGLONG first, const std::vector<float>& values,
              int& status) {
  switch (type) {
    case BYTE_IMG:
      return WritePlaneRow<uint8_t>(file, TBYTE, first, values, 0, 255, status);
    case SHORT_IMG:
      return WritePlaneRow<int16_t>(file, TSHORT, first, values, -32767, 32767, status);
    case USHORT_IMG:
      return WritePlaneRow<uint16_t>(file, TUSHORT, first, values, 0, 65535, status);
    case LONG_IMG:
      return WritePlaneRow<int32_t>(file, TINT, first, values, -214783647, 214783647, status);
    case ULONG_IMG:
      return WritePlaneRow<uint32_t>(file, TUINT, first, values, 0, 4294967295, status);
    case LONGLONG_IMG:
      return WritePlaneRow<int64_t>(file, TLONGLONG, first, values, INT64_MIN, INT64_MAX, status);
    case DOUBLE_IMG:
      return WritePlaneRow<double>(file, TDOUBLE, first, values, 0, 0, status);
    default:
      return WritePlaneRow<float>(file, TFLOAT, first, values, 0, 0, status);
  }
}

void Convert(fpixel& p, int type) {
  switch (type) {
    case SHORT_IMG:
      p.limits16();
      break;
    case USHORT_IMG:
      p.limitu16();
      break;
    case LONG_IMG:
      p.limits32();
      break;
    case ULONG_IMG:
      p.limitu32();
      break;
    case FLOAT_IMG:
      break;
    default:
      p.limit8();
  }
}

int CompressionAlgorithm(int compression) {
  switch (compression) {
    case 1:
    case 3:
      return RICE_1;
    case 2:
      return GZIP_1;
    case 4:
      return PLIO_1;
    default:
      return 0;
  }
}
// PLIO holds integers from 0 to 2^24 - 1; the library fails (and leaks) on anything else,
// so such images are refused before a file is made.
bool PlioCanHold(const fpbuffer& image, int type) {
  if (type != BYTE_IMG && type != SHORT_IMG && type != LONG_IMG) return false;
  for (size_t k = 0; k < size_t(image.n); ++k) {
    fpixel c = GetRgb(image, k);
    Convert(c, type);
    for (float v : {c.x, c.y, c.z}) {
      if (!(std::floor(double(v) + 0.5) >= 0.0) || std::floor(double(v) + 0.5) > 16777215.0) {
        return false;
      }
    }
  }
  return true;
}
}  // namespace

const char* WriteFits(const fpbuffer& image, const std::string& path, int type, int compression) {
  if (image.n == 0 || image.channels == 0) return Report("There is no image to write!");
  if (CompressionAlgorithm(compression) == PLIO_1 && !PlioCanHold(image, type)) {
    return Report("PLIO compression needs integer samples from 0 to 16777215!");
  }
  const int width = image.width, height = image.height;
  const char* problem = nullptr;
  const bool written = WritePathReplacing(path, [&](const std::filesystem::path& temp) {
    int status = 0;
    fitsfile* file = nullptr;
    // The disk-file call takes the name literally; the compression is requested through the
    // call that the library's "[compress...]" name suffixes stand for, so that a folder
    // name with brackets can never be read as a filter expression.
    fits_create_diskfile(&file, temp.c_str(), &status);
    if (status != 0) {
      problem = Report(Format("Can't create file, status = %d", status));
      return false;
    }
    const int algorithm = CompressionAlgorithm(compression);
    if (algorithm) fits_set_compression_type(file, algorithm, &status);
    if (algorithm == PLIO_1 && width < 8) {
      // The library's PLIO coder reads past its buffers on tiles of fewer than eight
      // pixels: narrow images go in tiles of whole planes, or of the whole cube.
      long tile[3] = {width, height, width * long(height) < 8 ? 3 : 1};
      if (tile[0] * tile[1] * tile[2] < 8) {
        problem = Report("PLIO compression needs an image of at least three pixels!");
        int closeStatus = 0;
        fits_close_file(file, &closeStatus);
        return false;
      }
      fits_set_tile_dim(file, 3, tile, &status);
    }
    long axes[3] = {width, height, 3};
    fits_create_img(file, type, 3, axes, &status);
    if (status != 0) {
      problem = Report(Format("Can't create image, status = %d", status));
      int closeStatus = 0;
      fits_close_file(file, &closeStatus);
      return false;
    }
    std::vector<float> rows[3];
    for (auto& r : rows) r.resize(size_t(width));
    for (int y = 0; y < height && status == 0; ++y) {
      const size_t k0 = size_t(y) * size_t(width);
      for (int x = 0; x < width; ++x) {
        fpixel c = GetRgb(image, k0 + size_t(x));
        Convert(c, type);
        rows[0][size_t(x)] = c.x;
        rows[1][size_t(x)] = c.y;
        rows[2][size_t(x)] = c.z;
      }
      for (int p = 0; p < 3; ++p) {
        const LONGLONG first =
            LONGLONG(y) * width + LONGLONG(p) * LONGLONG(width) * LONGLONG(height) + 1;
        WriteRow(file, type, first, rows[p], status);
      }
    }
    // A write failure carries its status into the close.
    fits_close_file(file, &status);
    if (status != 0) {
      problem = Report(Format("Can't close file, status = %d", status));
      return false;
    }
    return true;
  });
  if (problem) return problem;
  return written ? nullptr : Report("Can't rename the written file over " + path);
}
