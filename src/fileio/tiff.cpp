#include "fileio/tiff.h"

#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "fileio/rgbpixel.h"
#include "platform/platform.h"
#include "platform/programdir.h"

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
bool Readable(TIFF* tif, uint32_t& width, uint32_t& length, uint16_t& bits) {
  uint16_t samples = 0, planar = PLANARCONFIG_CONTIG, photometric = 0, format = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) || width == 0 || length == 0) {
    return false;
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  if ((bits != 16 && bits != 32) || samples != 3 || planar != PLANARCONFIG_CONTIG ||
      photometric != PHOTOMETRIC_RGB || TIFFIsTiled(tif)) {
    return false;
  }
  // 16-bit samples must be unsigned integers. 32-bit samples are floats, marked as such or
  // (in files written before the mark was added) not marked at all.
  if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format)) {
    if (bits == 16 && format != SAMPLEFORMAT_UINT) return false;
    if (bits == 32 && format != SAMPLEFORMAT_IEEEFP) return false;
  }
  return TIFFScanlineSize64(tif) == uint64_t(width) * 3 * (bits / 8);
}
}  // namespace

int ReadTiffFloat(fpbuffer& image, const std::string& path) {
  TiffCloser file{OpenQuietly(path.c_str(), "r")};
  if (!file.tif) return 1;
  uint32_t width = 0, length = 0;
  uint16_t bits = 0;
  if (!Readable(file.tif, width, length, bits)) return 1;
  fpbuffer loaded;
  loaded.setcode(image.code);
  const uint64_t channels = loaded.channels ? uint64_t(loaded.channels) : 3;
  const uint64_t lineBytes = TIFFScanlineSize64(file.tif);
  if (width > INT32_MAX || length > INT32_MAX || uint64_t(width) * length > INT32_MAX ||
      !MemoryAllows(uint64_t(width) * length * 4 * channels + lineBytes)) {
    return 1;
  }
  const int w = int(width), h = int(length);
  loaded.dim(w, h, image.code);
  std::vector<uint8_t> line(lineBytes);
  // Scanlines in file order, so that a compressed strip is decoded once; the file's first
  // scanline is the top of the picture, the planes' row 0 the bottom.
  for (int s = 0; s < h; ++s) {
    if (TIFFReadScanline(file.tif, line.data(), uint32_t(s), 0) < 0) return 1;
    const size_t k0 = size_t(h - 1 - s) * size_t(w);
    for (int x = 0; x < w; ++x) {
      fpixel rgb;
      if (bits == 16) {
        uint16_t v[3];
        std::memcpy(v, line.data() + 6 * size_t(x), sizeof v);
        rgb = fpixel(FromWordSample(v[0]), FromWordSample(v[1]), FromWordSample(v[2]));
      } else {
        float v[3];
        std::memcpy(v, line.data() + 12 * size_t(x), sizeof v);
        rgb = fpixel(v[0], v[1], v[2]);
      }
      PutRgb(loaded, k0 + size_t(x), rgb);
    }
  }
  image.swapwith(loaded);
  return 0;
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
