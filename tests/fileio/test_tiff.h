#pragma once
// Small TIFF files written with libtiff for the tests: samples contiguous or in separate
// planes, two rows to a strip, and the same sample values whatever the layout.
#include <tiffio.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

// The stored sample of pixel (x, y) in channel c, as an integer of 16 bits.
inline int TestTiffSample(int x, int y, int c) {
  return (x * 7919 + y * 104729 + c * 31337) % 65536;
}

// The value a float file stores for that sample: negatives and fractions among them.
inline float TestTiffFloat(int x, int y, int c) {
  return float(TestTiffSample(x, y, c)) / 97.0f - 100.0f;
}

// Writes a w x h RGB (samples 3) or RGB with alpha (samples 4) file of 8 or 16-bit unsigned
// or 32-bit float samples; false when libtiff refused.
inline bool WriteTestTiff(const std::filesystem::path& path, int w, int h, int bits, int samples,
                          bool separate, int compression = COMPRESSION_NONE) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  if (samples == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2u);
  const int perLine = separate ? 1 : samples;
  std::vector<uint8_t> line(size_t(w) * size_t(perLine) * size_t(bits / 8));
  bool ok = true;
  for (int plane = 0; plane < (separate ? samples : 1) && ok; ++plane) {
    for (int y = 0; y < h && ok; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int k = 0; k < perLine; ++k) {
          const int c = separate ? plane : k;
          const size_t at = size_t(x) * size_t(perLine) + size_t(k);
          if (bits == 8) {
            line[at] = uint8_t(TestTiffSample(x, y, c) >> 8);
          } else if (bits == 16) {
            const uint16_t v = uint16_t(TestTiffSample(x, y, c));
            std::memcpy(line.data() + 2 * at, &v, 2);
          } else {
            const float v = TestTiffFloat(x, y, c);
            std::memcpy(line.data() + 4 * at, &v, 4);
          }
        }
      }
      ok = TIFFWriteScanline(tif, line.data(), uint32_t(y), uint16_t(plane)) == 1;
    }
  }
  TIFFClose(tif);
  return ok;
}
