#include "fileio/tiff.h"

#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "fileio/imaging.h"
#include "fileio/picturememory.h"
#include "fileio/rgbpixel.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

namespace {
// libtiff's complaints are not the user's business: a file it cannot read is declined.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* OpenQuietly(const char* path, const char* mode) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, Quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, Quiet, nullptr);
  TIFF* tif = TIFFOpenExt(path, mode, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

struct TiffCloser {
  TIFF* tif;
  ~TiffCloser() {
    if (tif) TIFFClose(tif);
  }
};

// The sample layout this reader handles; anything else is left to the general library.
bool Readable(TIFF* tif, uint32_t& width, uint32_t& length, uint16_t& bits, bool& separate) {
  uint16_t samples = 0, planar = PLANARCONFIG_CONTIG, photometric = 0, format = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) || width == 0 || length == 0) {
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  separate = planar == PLANARCONFIG_SEPARATE;
  if ((bits != 16 && bits != 32) || samples != 3 || (planar != PLANARCONFIG_CONTIG && !separate) ||
      photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tif)) {
    return false;
  }
  // 16-bit samples must be unsigned integers. 32-bit samples are floats, marked as such or
  // (in files written before the mark was added) not marked at all.
  if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format)) {
    if (bits == 16 && format != SAMPLEFORMAT_UINT) return false;
    if (bits == 32 && format != SAMPLEFORMAT_IEEEFP) return false;
  }
  return TIFFScanlineSize64(tif) == uint64_t(width) * (separate ? 1 : 3) * (bits / 8);
}

// Sample x of a scanline as a value on the 0-255 scale.
float SampleAt(const uint8_t* line, size_t x, int bits) {
  if (bits == 16) {
    uint16_t v;
    std::memcpy(&v, line + 2 * x, sizeof v);
    return FromWordSample(v);
  }
  float v;
  std::memcpy(&v, line + 4 * x, sizeof v);
  return v;
}
}  // namespace

int ReadTiffFloat(fpbuffer& image, const std::string& path) {
  // libtiff opens by name, and would wait on a pipe.
  if (KindOfFile(path) != FileKind::Regular) return kTiffDeclined;
  TiffCloser file{OpenQuietly(path.c_str(), "r")};
  if (!file.tif) return kTiffDeclined;
  uint32_t width = 0, length = 0;
  uint16_t bits = 0;
  bool separate = false;
  if (!Readable(file.tif, width, length, bits, separate)) return kTiffDeclined;
  const uint64_t lineBytes = TIFFScanlineSize64(file.tif);
  if (width > INT32_MAX || length > INT32_MAX || uint64_t(width) * length > INT32_MAX) {
    return kTiffDeclined;
  }
  if (!MemoryAllows(PictureBytes(width, length, FloatChannels(image.code)) + lineBytes)) {
    return kTiffOutOfMemory;
  }
  const int w = int(width), h = int(length);
  fpbuffer loaded;
  // Every value is read from the file before the image is taken over.
  loaded.dimunset(w, h, image.code);
  std::vector<uint8_t> line(lineBytes);
  // Scanlines in file order, so that a compressed strip is decoded once; the file's first
  // scanline is the top of the picture, the planes' row 0 the bottom.
  if (!separate) {
    for (int s = 0; s < h; ++s) {
      if (TIFFReadScanline(file.tif, line.data(), uint32_t(s), 0) < 0) return kTiffDeclined;
      const size_t k0 = size_t(h - 1 - s) * size_t(w);
      for (int x = 0; x < w; ++x) {
        const size_t i = 3 * size_t(x);
        PutRgb(loaded, k0 + size_t(x),
               fpixel(SampleAt(line.data(), i, bits), SampleAt(line.data(), i + 1, bits),
                      SampleAt(line.data(), i + 2, bits)));
      }
    }
    image.swapwith(loaded);
    return kTiffRead;
  }
  // Separate planes come one after another: red, green and blue land in planes 0 to 2 as
  // they are, and once all three are in, every pixel moves into the image's colour space.
  if (loaded.channels < 3) return kTiffDeclined;
  for (uint16_t sample = 0; sample < 3; ++sample) {
    float* plane = loaded.plane[sample].x;
    for (int s = 0; s < h; ++s) {
      if (TIFFReadScanline(file.tif, line.data(), uint32_t(s), sample) < 0) return kTiffDeclined;
      float* row = plane + size_t(h - 1 - s) * size_t(w);
      for (int x = 0; x < w; ++x) row[x] = SampleAt(line.data(), size_t(x), bits);
    }
  }
  if (loaded.channels != 3 || !loaded.isidentity()) {
    ParallelBlocks(loaded.n, BlockFor(32), [&](int64_t k0, int64_t k1) {
      for (int64_t k = k0; k < k1; ++k) {
        PutRgb(loaded, size_t(k),
               fpixel(loaded.plane[0].x[k], loaded.plane[1].x[k], loaded.plane[2].x[k]));
      }
    });
  }
  image.swapwith(loaded);
  return kTiffRead;
}

uint32_t TiffCheckForGeneralLibrary(const std::string& path) {
  TiffCloser file{OpenQuietly(path.c_str(), "r")};
  if (!file.tif) return kImagingOk;  // not a TIFF libtiff can read: the library says so
  TIFF* tif = file.tif;
  uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  // The library reads deep samples scanline by scanline of the first plane only.
  if (planar == PLANARCONFIG_SEPARATE && samples > 1 && bits > 8) return kImagingUnknownFormat;
  std::error_code ec;
  const uint64_t fileLength = std::filesystem::file_size(path, ec);
  if (ec) return kImagingFileNotFound;
  const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (count == 0) return kImagingInvalidData;
  for (uint32_t i = 0; i < count; ++i) {
    int error = 0;
    const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
    const uint64_t bytes = error ? 0 : TIFFGetStrileByteCountWithErr(tif, i, &error);
    if (error || offset > fileLength || bytes > fileLength - offset) return kImagingDataMissing;
  }
  return kImagingOk;
}

const char* WriteTiffFloat(const fpbuffer& image, const std::string& path, bool is32) {
  if (image.n == 0 || image.channels == 0) return "There is no image to write!";
  const int w = image.width, h = image.height;
  const char* problem = nullptr;
  const bool written = WritePathReplacing(path, [&](const std::filesystem::path& temp) {
    TiffCloser file{OpenQuietly(temp.c_str(), "w")};
    if (!file.tif) {
      problem = "Problem creating TIFF file!";
      return false;
    }
    TIFF* tif = file.tif;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h)) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, is32 ? 32 : 16) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 1));
    // Other programs read 32-bit samples as integers unless told they are floats.
    if (ok && is32) ok = TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    std::vector<uint8_t> line(size_t(w) * 3 * (is32 ? 4 : 2));
    for (int s = 0; s < h && ok; ++s) {
      const size_t k0 = size_t(h - 1 - s) * size_t(w);
      for (int x = 0; x < w; ++x) {
        const fpixel c = GetRgb(image, k0 + size_t(x));
        if (is32) {
          const float v[3] = {c.x, c.y, c.z};
          std::memcpy(line.data() + 12 * size_t(x), v, sizeof v);
        } else {
          const wordpixel p = wordpixel::fromfpixel(c);
          const uint16_t v[3] = {p.r, p.g, p.b};
          std::memcpy(line.data() + 6 * size_t(x), v, sizeof v);
        }
      }
      ok = TIFFWriteScanline(tif, line.data(), uint32_t(s), 0) == 1;
    }
    ok = ok && TIFFFlush(tif) == 1;
    if (!ok) problem = "Problem writing TIFF file!";
    return ok;
  });
  if (problem) return problem;
  return written ? nullptr : "Problem writing TIFF file!";
}
