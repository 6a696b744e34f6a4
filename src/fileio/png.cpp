#include "fileio/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
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
// The writer makes the file itself, so that filtering and deflating use every core: the rows
// are filtered a band at a time, and the filtered stream is deflated in pieces of a fixed
// size, each primed with the 32 KB before it, that join into one zlib stream. Every boundary
// is a fixed count of rows or bytes, so the file is the same with any number of threads.
constexpr size_t kBandBytes = size_t(4) << 20;     // filtered rows held at a time
constexpr size_t kPieceBytes = size_t(128) << 10;  // filtered bytes deflated as one piece
constexpr size_t kWindow = 32768;                  // deflate's reach back
constexpr size_t kIdatBytes = size_t(256) << 10;   // data of one IDAT chunk

enum FilterSet : unsigned { kNone = 1, kSub = 2, kUp = 4, kAverage = 8, kPaeth = 16 };

// A filtered byte taken as signed, its magnitude.
inline uint32_t Cost(uint8_t v) { return v < 128 ? v : 256u - v; }

inline int PaethPredictor(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// The prediction of filter type F from the bytes left (a), above (b) and above left (c).
template <int F>
inline int Predict(int a, int b, int c) {
  if constexpr (F == 0) return 0;
  if constexpr (F == 1) return a;
  if constexpr (F == 2) return b;
  if constexpr (F == 3) return (a + b) >> 1;
  if constexpr (F == 4) return PaethPredictor(a, b, c);
}

// The row x of n bytes filtered with type F against the raw row above it, with bpp bytes per
// pixel: its cost, and the bytes into out when that is not null.
template <int F>
uint64_t FilterWith(const uint8_t* x, const uint8_t* up, size_t n, size_t bpp, uint8_t* out) {
  uint64_t sum = 0;
  const size_t head = std::min(bpp, n);
  for (size_t i = 0; i < head; ++i) {
    const uint8_t v = uint8_t(x[i] - Predict<F>(0, up[i], 0));
    sum += Cost(v);
    if (out) out[i] = v;
  }
  for (size_t i = head; i < n; ++i) {
    const uint8_t v = uint8_t(x[i] - Predict<F>(x[i - bpp], up[i], up[i - bpp]));
    sum += Cost(v);
    if (out) out[i] = v;
  }
  return sum;
}

// Writes the filter type and the filtered row x to out (n + 1 bytes). The type is the one of
// the allowed set whose filtered bytes, taken as signed, have the least sum of magnitudes,
// the earliest on a tie: libpng's adaptive choice, which keeps the files as small as it
// makes them.
void FilterRow(const uint8_t* x, const uint8_t* up, size_t n, size_t bpp, unsigned allowed,
               uint8_t* out) {
  int best = 0;
  uint64_t least = FilterWith<0>(x, up, n, bpp, nullptr);
  const auto consider = [&](int type, uint64_t sum) {
    if (sum < least) least = sum, best = type;
  };
  if (allowed & kSub) consider(1, FilterWith<1>(x, up, n, bpp, nullptr));
  if (allowed & kUp) consider(2, FilterWith<2>(x, up, n, bpp, nullptr));
  if (allowed & kAverage) consider(3, FilterWith<3>(x, up, n, bpp, nullptr));
  if (allowed & kPaeth) consider(4, FilterWith<4>(x, up, n, bpp, nullptr));
  out[0] = uint8_t(best);
  switch (best) {
    case 0:
      std::memcpy(out + 1, x, n);
      break;
    case 1:
      FilterWith<1>(x, up, n, bpp, out + 1);
      break;
    case 2:
      FilterWith<2>(x, up, n, bpp, out + 1);
      break;
    case 3:
      FilterWith<3>(x, up, n, bpp, out + 1);
      break;
    default:
      FilterWith<4>(x, up, n, bpp, out + 1);
  }
}

// Deflates the n bytes of data as raw deflate primed with the dictionary before it, ending
// on a byte boundary with a sync flush, or as the final block of the stream when last.
bool DeflatePiece(const uint8_t* dict, size_t dictBytes, const uint8_t* data, size_t n, int level,
                  bool last, std::vector<uint8_t>& out) {
  z_stream z{};
  // The strategy and memory level libpng uses for filtered rows.
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_FILTERED) != Z_OK) return false;
  bool ok = dictBytes == 0 || deflateSetDictionary(&z, dict, uInt(dictBytes)) == Z_OK;
  out.resize(deflateBound(&z, uLong(n)) + 64);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(n);
  size_t done = 0;
  while (ok) {
    z.next_out = out.data() + done;
    z.avail_out = uInt(out.size() - done);
    const int rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    done = out.size() - z.avail_out;
    if (rc == Z_STREAM_END || (!last && rc == Z_OK && z.avail_out != 0)) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) ok = false;
    if (ok) out.resize(out.size() * 2);  // more output to come
  }
  out.resize(done);
  deflateEnd(&z);
  return ok;
}

void PutBigEndian(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

// The chunks of a PNG file on an open file; the zlib stream goes into IDAT chunks of
// kIdatBytes (the last shorter).
class PngChunks {
 public:
  explicit PngChunks(std::FILE* file) : file_(file) { idat_.reserve(kIdatBytes); }
  void Put(const void* data, size_t n) {
    ok_ = ok_ && (n == 0 || std::fwrite(data, 1, n, file_) == n);
  }
  void Chunk(const char* type, const uint8_t* data, size_t n) {
    uint8_t head[8];
    PutBigEndian(head, uint32_t(n));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0, head + 4, 4);
    if (n) crc = crc32(crc, data, uInt(n));
    uint8_t tail[4];
    PutBigEndian(tail, uint32_t(crc));
    Put(head, 8);
    Put(data, n);
    Put(tail, 4);
  }
  void Compressed(const uint8_t* data, size_t n) {
    while (n) {
      const size_t take = std::min(n, kIdatBytes - idat_.size());
      idat_.insert(idat_.end(), data, data + take);
      data += take;
      n -= take;
      if (idat_.size() == kIdatBytes) EndCompressed();
    }
  }
  void EndCompressed() {
    if (!idat_.empty()) Chunk("IDAT", idat_.data(), idat_.size());
    idat_.clear();
  }
  bool ok() const { return ok_; }

 private:
  std::FILE* file_;
  std::vector<uint8_t> idat_;
  bool ok_ = true;
};

// The samples of image row `row` (top row first) as the file stores them: big-endian when 16
// bits.
void PackRow(const fpbuffer& image, int row, int depth, uint8_t* dst) {
  const int w = image.width;
  const size_t k0 = size_t(image.height - 1 - row) * size_t(w);
  for (int i = 0; i < w; ++i) {
    const fpixel c = GetRgb(image, k0 + size_t(i));
    if (depth == 8) {
      const bytepixel b = bytepixel::fromfpixel(c);
      dst[3 * i] = b.r;
      dst[3 * i + 1] = b.g;
      dst[3 * i + 2] = b.b;
    } else {
      const wordpixel wp = wordpixel::fromfpixel(c);
      const uint16_t v[3] = {wp.r, wp.g, wp.b};
      for (int s = 0; s < 3; ++s) {
        dst[6 * i + 2 * s] = uint8_t(v[s] >> 8);
        dst[6 * i + 2 * s + 1] = uint8_t(v[s] & 0xFF);
      }
    }
  }
}

const char* EncodePng(std::FILE* file, const fpbuffer& image, int depth, int level) {
  const int w = image.width, h = image.height;
  const size_t bpp = size_t(3 * depth / 8), rowBytes = size_t(w) * bpp, line = rowBytes + 1;
  PngChunks png(file);
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  png.Put(kSignature, 8);
  uint8_t ihdr[13];
  PutBigEndian(ihdr, uint32_t(w));
  PutBigEndian(ihdr + 4, uint32_t(h));
  ihdr[8] = uint8_t(depth);
  ihdr[9] = 2;  // RGB
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  png.Chunk("IHDR", ihdr, 13);

  // The filters libpng tries: all of them, but none that reads a row above a single row
  // or a pixel beside a single column.
  unsigned allowed = kNone | kSub | kUp | kAverage | kPaeth;
  if (h == 1) allowed &= ~unsigned(kUp | kAverage | kPaeth);
  if (w == 1) allowed &= ~unsigned(kSub | kAverage | kPaeth);

  // The zlib header zlib itself writes for a 32 KB window at this level.
  const unsigned levelFlags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (levelFlags << 6);
  header += 31 - header % 31;
  const uint8_t zhead[2] = {uint8_t(header >> 8), uint8_t(header)};
  png.Compressed(zhead, 2);

  const size_t bandRows = std::clamp<size_t>(kBandBytes / line, 1, size_t(h));
  // Row 0 holds the last raw row of the band before (zeros above the first row).
  std::vector<uint8_t> raw((bandRows + 1) * rowBytes, 0);
  // The filtered stream not yet deflated, after the `history` bytes deflated last, which
  // prime the next piece.
  std::vector<uint8_t> stream;
  size_t history = 0;
  uLong adler = adler32(0, nullptr, 0);
  std::vector<std::vector<uint8_t>> pieces;
  std::vector<uLong> adlers;
  std::vector<char> fine;
  for (int top = 0; top < h; top += int(bandRows)) {
    const int rows = std::min(int(bandRows), h - top);
    const bool last = top + rows == h;
    ParallelBlocks(rows, BlockFor(int64_t(w) * 16), [&](int64_t r0, int64_t r1) {
      for (int64_t r = r0; r < r1; ++r) {
        PackRow(image, top + int(r), depth, raw.data() + size_t(r + 1) * rowBytes);
      }
    });
    const size_t start = stream.size();
    stream.resize(start + size_t(rows) * line);
    ParallelBlocks(rows, BlockFor(int64_t(line) * 4), [&](int64_t r0, int64_t r1) {
      for (int64_t r = r0; r < r1; ++r) {
        const uint8_t* x = raw.data() + size_t(r + 1) * rowBytes;
        FilterRow(x, x - rowBytes, rowBytes, bpp, allowed,
                  stream.data() + start + size_t(r) * line);
      }
    });
    // Whole pieces only, but for the end of the stream.
    const size_t fresh = stream.size() - history;
    const size_t count = last ? (fresh + kPieceBytes - 1) / kPieceBytes : fresh / kPieceBytes;
    pieces.resize(count);
    adlers.assign(count, 0);
    fine.assign(count, 0);
    ParallelBlocks(int64_t(count), 1, [&](int64_t i0, int64_t i1) {
      for (int64_t i = i0; i < i1; ++i) {
        const size_t at = history + size_t(i) * kPieceBytes;
        const size_t n = std::min(kPieceBytes, stream.size() - at);
        const size_t from = at > kWindow ? at - kWindow : 0;
        const uint8_t* data = stream.data() + at;
        fine[size_t(i)] = DeflatePiece(stream.data() + from, at - from, data, n, level,
                                       last && size_t(i) + 1 == count, pieces[size_t(i)]);
        adlers[size_t(i)] = adler32(adler32(0, nullptr, 0), data, uInt(n));
      }
    });
    size_t end = history;
    for (size_t i = 0; i < count; ++i) {
      if (!fine[i]) return "Unspecified Problem!";
      const size_t n = std::min(kPieceBytes, stream.size() - end);
      adler = adler32_combine(adler, adlers[i], z_off_t(n));
      end += n;
      png.Compressed(pieces[i].data(), pieces[i].size());
    }
    if (!png.ok()) return "Unspecified Problem!";
    const size_t keep = std::min(kWindow, end);
    stream.erase(stream.begin(), stream.begin() + std::ptrdiff_t(end - keep));
    history = keep;
    std::memcpy(raw.data(), raw.data() + size_t(rows) * rowBytes, rowBytes);
  }
  uint8_t check[4];
  PutBigEndian(check, uint32_t(adler));
  png.Compressed(check, 4);
  png.EndCompressed();
  png.Chunk("IEND", nullptr, 0);
  return png.ok() ? nullptr : "Unspecified Problem!";
}
}  // namespace

const char* WritePng(const fpbuffer& image, const std::string& path, int bitDepth, int level) {
  if (bitDepth != 8 && bitDepth != 16) return "Bit Depth Must be 8 or 16!";
  if (level < 0 || level > 9) return "Compression Must be Between 0 and 9!";
  if (image.n == 0 || image.channels == 0) return "Unspecified Problem!";
  const char* problem = nullptr;
  const bool opened = WriteFileReplacing(path, [&](std::FILE* file) {
    problem = EncodePng(file, image, bitDepth, level);
    return problem == nullptr;
  });
  if (problem) return problem;
  return opened ? nullptr : "Problem Opening File!";
}
