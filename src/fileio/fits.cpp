#include "fileio/fits.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "fileio/picturememory.h"
#include "fileio/rgbpixel.h"
#include "platform/childprocess.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

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

bool BitpixAllowed(int64_t bitpix) {
  return bitpix == 8 || bitpix == 16 || bitpix == 32 || bitpix == 64 || bitpix == -32 ||
         bitpix == -64;
}

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

// The value of a header card, parsed by the FITS rules.
struct CardValue {
  enum Kind { kNone, kText, kLogical, kInteger, kReal, kOther } kind = kNone;
  std::string text;  // a string's contents, trailing blanks removed
  int64_t integer = 0;
  double real = 0.0;  // integers too
};

CardValue ParseValue(const char* card) {
  CardValue v;
  const char* p = card + 10;
  const char* const end = card + 80;
  while (p < end && *p == ' ') ++p;
  if (p == end || *p == '/') return v;
  if (*p == '\'') {
    for (++p; p < end; ++p) {
      if (*p != '\'') {
        v.text += *p;
      } else if (p + 1 < end && p[1] == '\'') {
        v.text += *p++;
      } else {
        while (!v.text.empty() && v.text.back() == ' ') v.text.pop_back();
        v.kind = CardValue::kText;
        return v;
      }
    }
    v.kind = CardValue::kOther;  // no closing quote
    return v;
  }
  const char* stop = p;
  while (stop < end && *stop != '/' && *stop != ' ') ++stop;
  std::string token(p, stop);
  for (; stop < end && *stop != '/'; ++stop) {
    if (*stop != ' ') token += '?';  // a second word: no FITS value has one
  }
  v.kind = CardValue::kOther;
  if (token == "T" || token == "F") {
    v.kind = CardValue::kLogical;
    v.integer = token == "T";
    return v;
  }
  size_t digits = token[0] == '+' || token[0] == '-' ? 1 : 0;
  const bool integer =
      token.size() > digits && token.find_first_not_of("0123456789", digits) == std::string::npos;
  if (integer) {
    // Eighteen digits always fit 64 bits; longer numbers are refused as the library cannot
    // read them either.
    if (token.size() - digits > 18) return v;
    v.kind = CardValue::kInteger;
    v.integer = std::strtoll(token.c_str(), nullptr, 10);
    v.real = double(v.integer);
    return v;
  }
  for (char& c : token) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  if (token.find_first_not_of("0123456789+-.Ee") != std::string::npos) return v;
  char* rest = nullptr;
  v.real = std::strtod(token.c_str(), &rest);
  if (*rest == '\0' && std::isfinite(v.real)) v.kind = CardValue::kReal;
  return v;
}

// The valued cards of one header, by keyword; the first of a repeated keyword counts, as
// in the library.
using Header = std::map<std::string, CardValue>;

std::string Key(const char* stem, int n) { return stem + std::to_string(n); }

const CardValue& Get(const Header& h, const std::string& key) {
  static const CardValue kAbsent;
  const auto it = h.find(key);
  return it == h.end() ? kAbsent : it->second;
}

bool IsInteger(const Header& h, const std::string& key, int64_t lo, int64_t hi) {
  const auto it = h.find(key);
  return it != h.end() && it->second.kind == CardValue::kInteger && it->second.integer >= lo &&
         it->second.integer <= hi;
}

// Integer keywords the library reads while it opens and moves through the file and while it
// sets up a compressed image. It converts their values into fixed buffers and, for a value
// it cannot read, builds an error text that overruns its own buffer; they are checked here
// first, with the text keywords of tables. Returns 0 or the status of the problem.
int KeywordsProblem(const std::vector<std::pair<std::string, CardValue>>& cards, bool binaryTable) {
  static const char* const kPlain[] = {
      "BITPIX",   "NAXIS",   "PCOUNT", "GCOUNT",  "TFIELDS", "THEAP",  "BLANK",    "EXTVER",
      "EXTLEVEL", "ZBITPIX", "ZNAXIS", "ZPCOUNT", "ZGCOUNT", "ZBLANK", "ZDITHER0", "ZBLOCKED"};
  static const char* const kIndexed[] = {"NAXIS", "ZNAXIS", "ZTILE", "TBCOL", "TNULL"};
  for (const auto& [key, value] : cards) {
    bool integer = false;
    for (const char* k : kPlain) integer = integer || key == k;
    for (const char* k : kIndexed) {
      const size_t n = std::strlen(k);
      if (key.size() > n && key.compare(0, n, k) == 0 &&
          key.find_first_not_of("0123456789", n) == std::string::npos) {
        // An ASCII table's null value is a string.
        integer = integer || std::strcmp(k, "TNULL") != 0 || binaryTable;
      }
    }
    if (integer && value.kind != CardValue::kInteger) return BAD_INTKEY;
    // Column names, formats, units and dimensions are copied into fields of 70 bytes; only
    // a quoted string surely fits.
    for (const char* k : {"TTYPE", "TFORM", "TUNIT", "TDISP", "TDIM"}) {
      const size_t n = std::strlen(k);
      if (key.size() > n && key.compare(0, n, k) == 0 &&
          key.find_first_not_of("0123456789", n) == std::string::npos &&
          value.kind != CardValue::kText) {
        return NO_QUOTE;
      }
    }
  }
  return 0;
}

// The parameters of a tile-compressed image, which the library copies into fixed fields and
// divides by (tile sizes, Rice block size) or uses as indexes (the dither offset) without
// checking them all. Returns 0 or the status of the problem.
int CompressionProblem(const Header& h) {
  const CardValue& zcmptype = Get(h, "ZCMPTYPE");
  if (zcmptype.kind != CardValue::kText ||
      std::strcmp(CompressionName(zcmptype.text), "Unknown") == 0) {
    return DATA_DECOMPRESSION_ERR;
  }
  if (!IsInteger(h, "ZBITPIX", -64, 64) || !BitpixAllowed(Get(h, "ZBITPIX").integer)) {
    return BAD_BITPIX;
  }
  if (!IsInteger(h, "ZNAXIS", 1, MAX_COMPRESS_DIM)) return BAD_NAXIS;
  const int axes = int(Get(h, "ZNAXIS").integer);
  uint64_t tileElements = 1;
  for (int n = 1; n <= axes; ++n) {
    if (!IsInteger(h, Key("ZNAXIS", n), 1, INT32_MAX)) return BAD_NAXES;
    // Absent tile sizes mean whole rows.
    const std::string tile = Key("ZTILE", n);
    if (h.count(tile) && !IsInteger(h, tile, 1, INT32_MAX)) return DATA_DECOMPRESSION_ERR;
    tileElements *= uint64_t(h.count(tile) ? Get(h, tile).integer
                             : n == 1      ? Get(h, "ZNAXIS1").integer
                                           : 1);
    if (tileElements > INT32_MAX) return DATA_DECOMPRESSION_ERR;
  }
  // The library holds a tile in buffers of up to 8 bytes a pixel.
  if (!MemoryAllows(tileElements * 8u)) return MEMORY_ALLOCATION;
  for (int n = 1; h.count(Key("ZNAME", n)) || h.count(Key("ZVAL", n)); ++n) {
    const auto name = h.find(Key("ZNAME", n));
    const auto value = h.find(Key("ZVAL", n));
    if (name == h.end() || name->second.kind != CardValue::kText || value == h.end()) {
      return DATA_DECOMPRESSION_ERR;
    }
    const CardValue& v = value->second;
    const std::string& what = name->second.text;
    const bool number = v.kind == CardValue::kInteger || v.kind == CardValue::kReal;
    if (!number && (v.kind != CardValue::kText || v.text.size() > 20)) {
      return DATA_DECOMPRESSION_ERR;
    }
    if (what == "BLOCKSIZE" && !IsInteger(h, value->first, 1, 1 << 16)) {
      return DATA_DECOMPRESSION_ERR;
    }
    if (what == "BYTEPIX" && !(IsInteger(h, value->first, 1, 8) && v.integer != 3 &&
                               v.integer != 5 && v.integer != 6 && v.integer != 7)) {
      return DATA_DECOMPRESSION_ERR;
    }
    if ((what == "SMOOTH" || what == "SCALE" || what == "NOISEBIT") &&
        (!number || v.real < 0.0 || v.real > 1e9)) {
      return DATA_DECOMPRESSION_ERR;
    }
  }
  const auto quantize = h.find("ZQUANTIZ");
  if (quantize != h.end() &&
      (quantize->second.kind != CardValue::kText || quantize->second.text.size() > 20)) {
    return DATA_DECOMPRESSION_ERR;
  }
  // The dither offset indexes a table of 10000 random numbers.
  if (h.count("ZDITHER0") && !IsInteger(h, "ZDITHER0", 1, 10000)) return DATA_DECOMPRESSION_ERR;
  if (h.count("ZBLANK") && !IsInteger(h, "ZBLANK", INT32_MIN, INT32_MAX)) return BAD_INTKEY;
  // The columns of compressed tiles are arrays of variable length, rP or rQ followed by the
  // element type and an optional maximum length, which the library allocates.
  bool tiles = false;
  if (!IsInteger(h, "TFIELDS", 1, 999)) return DATA_DECOMPRESSION_ERR;
  for (int n = 1; n <= Get(h, "TFIELDS").integer; ++n) {
    const std::string& type = Get(h, Key("TTYPE", n)).text;
    if (type != "COMPRESSED_DATA" && type != "GZIP_COMPRESSED_DATA" &&
        type != "UNCOMPRESSED_DATA") {
      continue;
    }
    tiles = true;
    const std::string& form = Get(h, Key("TFORM", n)).text;
    size_t k = form.find_first_not_of("0123456789");
    const std::string repeat = form.substr(0, k);
    if (k == std::string::npos || (!repeat.empty() && repeat != "1") || k + 1 >= form.size() ||
        (form[k] != 'P' && form[k] != 'Q') ||
        std::string("BIJKED").find(form[k + 1]) == std::string::npos) {
      return BAD_TFORM;
    }
    k += 2;
    if (k < form.size()) {
      const size_t close = form.find(')', k);
      const std::string length = form.substr(k + 1, close == std::string::npos ? 0 : close - k - 1);
      if (form[k] != '(' || close + 1 != form.size() || length.empty() || length.size() > 10 ||
          length.find_first_not_of("0123456789") != std::string::npos ||
          !MemoryAllows(std::strtoull(length.c_str(), nullptr, 10) * 8u)) {
        return BAD_TFORM;
      }
    }
  }
  return tiles ? 0 : DATA_DECOMPRESSION_ERR;
}

// The bytes of one element of a binary table column type, 0 for an unknown type (bits are
// counted by the caller).
int64_t ElementBytes(char type) {
  switch (type) {
    case 'L':
    case 'A':
    case 'B':
      return 1;
    case 'I':
      return 2;
    case 'J':
    case 'E':
      return 4;
    case 'K':
    case 'D':
    case 'C':
    case 'P':
      return 8;
    case 'M':
    case 'Q':
      return 16;
    default:
      return 0;
  }
}

// The library allocates what the descriptors of the compressed tiles claim before it reads
// the tile, so every descriptor must point inside the table's heap. f stands at the start of
// the table's data, and is left there. Returns 0 or the status of the problem.
int TileDescriptorsProblem(std::FILE* f, const Header& h) {
  constexpr int64_t kHuge = int64_t(1) << 40;
  if (!IsInteger(h, "NAXIS", 2, 2) || !IsInteger(h, "NAXIS1", 0, INT32_MAX) ||
      !IsInteger(h, "NAXIS2", 0, kHuge) || !IsInteger(h, "PCOUNT", 0, kHuge)) {
    return BAD_NAXES;
  }
  const int64_t rowBytes = Get(h, "NAXIS1").integer, rows = Get(h, "NAXIS2").integer;
  if (!MemoryAllows(uint64_t(rowBytes))) return MEMORY_ALLOCATION;
  int64_t heap = Get(h, "PCOUNT").integer;
  if (h.count("THEAP")) {
    if (!IsInteger(h, "THEAP", rowBytes * rows, rowBytes * rows + heap)) return BAD_TFORM;
    heap -= Get(h, "THEAP").integer - rowBytes * rows;
  }
  struct Descriptor {
    int64_t at, elementBytes;
    bool wide;
  };
  std::vector<Descriptor> descriptors;
  int64_t at = 0;
  for (int n = 1; n <= Get(h, "TFIELDS").integer; ++n) {
    const std::string& form = Get(h, Key("TFORM", n)).text;
    const size_t k = form.find_first_not_of("0123456789");
    if (k == std::string::npos || k > 9) return BAD_TFORM;
    const int64_t repeat = k == 0 ? 1 : std::atoll(form.c_str());
    const int64_t bytes = form[k] == 'X' ? (repeat + 7) / 8 : repeat * ElementBytes(form[k]);
    if (ElementBytes(form[k]) == 0 && form[k] != 'X') return BAD_TFORM;
    const std::string& type = Get(h, Key("TTYPE", n)).text;
    if ((form[k] == 'P' || form[k] == 'Q') &&
        (type == "COMPRESSED_DATA" || type == "GZIP_COMPRESSED_DATA" ||
         type == "UNCOMPRESSED_DATA")) {
      descriptors.push_back({at, ElementBytes(form[k + 1]), form[k] == 'Q'});
    }
    at += bytes;
  }
  if (at != rowBytes) return BAD_TFORM;
  const long start = std::ftell(f);
  std::vector<unsigned char> row(static_cast<size_t>(rowBytes));
  int problem = 0;
  for (int64_t r = 0; r < rows && problem == 0; ++r) {
    if (std::fread(row.data(), 1, row.size(), f) != row.size()) {
      problem = END_OF_FILE;
      break;
    }
    for (const Descriptor& d : descriptors) {
      const auto number = [&](int64_t from, int bytes) {
        uint64_t v = 0;
        for (int b = 0; b < bytes; ++b) v = v << 8 | row[size_t(from + b)];
        return bytes == 4 ? int64_t(int32_t(uint32_t(v))) : int64_t(v);
      };
      const int size = d.wide ? 8 : 4;
      const int64_t count = number(d.at, size), offset = number(d.at + size, size);
      if (count < 0 || offset < 0 || count > heap || offset > heap ||
          count * d.elementBytes > heap - offset) {
        problem = DATA_DECOMPRESSION_ERR;
      }
    }
  }
  std::fseek(f, start, SEEK_SET);
  return problem;
}

// CFITSIO 4.2 trusts parts of the headers it reads: it divides by the tile sizes of a
// compressed image, and overruns a buffer on integer values it cannot read. The headers
// are walked here first, card by card, and such a file is refused before the library sees
// it. Returns 0 or the status of the problem.
int HeadersProblem(const std::string& path) {
  FileKind kind;
  std::FILE* f = OpenRegularFile(path, &kind);
  // The library would wait on a pipe; a missing file it reports itself.
  if (!f) return kind == FileKind::NotRegular ? FILE_NOT_OPENED : 0;
  char block[2880];
  int problem = 0;
  Header header;
  // Every card as well: the library reads each repeated keyword in turn.
  std::vector<std::pair<std::string, CardValue>> cards;
  bool first = true, inHeader = true, headerStart = true;
  while (problem == 0) {
    // The library reads a last, short block too, and the cards of a header without END.
    const size_t got = std::fread(block, 1, sizeof block, f);
    if (got == 0) break;
    std::fill(block + got, block + sizeof block, ' ');
    // After the data, anything but an extension is ignored, by the library too.
    if (headerStart && !first && std::string(block, 9) != "XTENSION=") break;
    headerStart = false;
    for (int card = 0; card < 36 && inHeader; ++card) {
      const char* c = block + 80 * card;
      const std::string key = std::string(c, 8).substr(0, std::string(c, 8).find(' '));
      if (key == "END") inHeader = false;
      // The library reads a value after "=" even without the blank that should follow it.
      if (c[8] == '=') {
        CardValue v;
        if (c[9] == ' ') {
          v = ParseValue(c);
        } else {
          v.kind = CardValue::kOther;
        }
        header.emplace(key, v);
        cards.emplace_back(key, std::move(v));
      }
    }
    const bool binaryTable = Get(header, "XTENSION").text == "BINTABLE";
    if (inHeader) {
      if (got < sizeof block) problem = KeywordsProblem(cards, binaryTable);
      continue;
    }
    problem = KeywordsProblem(cards, binaryTable);
    // The library takes any value starting with T as true.
    const CardValue& zimage = Get(header, "ZIMAGE");
    if (problem == 0 && header.count("ZIMAGE") && zimage.kind != CardValue::kLogical) {
      problem = BAD_LOGICALKEY;
    }
    if (problem == 0 && binaryTable && zimage.kind == CardValue::kLogical && zimage.integer) {
      problem = CompressionProblem(header);
      if (problem == 0) problem = TileDescriptorsProblem(f, header);
    }
    if (problem != 0) break;
    // Skip the data to the next header. The library may move on past a header whose sizes
    // cannot be read here (it reads the mandatory cards by position), so such a file is
    // refused rather than left unwalked.
    constexpr int64_t kHuge = int64_t(1) << 40;
    if (!IsInteger(header, "BITPIX", -64, 64) || !BitpixAllowed(Get(header, "BITPIX").integer)) {
      problem = BAD_BITPIX;
      break;
    }
    if (!IsInteger(header, "NAXIS", 0, 999) ||
        (header.count("PCOUNT") && !IsInteger(header, "PCOUNT", 0, kHuge)) ||
        (header.count("GCOUNT") && !IsInteger(header, "GCOUNT", 0, 1000))) {
      problem = BAD_NAXIS;
      break;
    }
    const int axes = int(Get(header, "NAXIS").integer);
    int64_t elements = axes == 0 ? 0 : 1;
    for (int n = 1; n <= axes && elements >= 0; ++n) {
      if (!IsInteger(header, Key("NAXIS", n), 0, kHuge)) elements = -1;
      if (elements > 0) elements *= Get(header, Key("NAXIS", n)).integer;
      if (elements > kHuge) elements = -1;
    }
    if (elements < 0) {
      problem = BAD_NAXES;
      break;
    }
    const int64_t pcount = header.count("PCOUNT") ? Get(header, "PCOUNT").integer : 0;
    const int64_t gcount = header.count("GCOUNT") ? Get(header, "GCOUNT").integer : 1;
    const int64_t bytes =
        std::abs(Get(header, "BITPIX").integer) / 8 * gcount * (pcount + elements);
    const int64_t blocks = (bytes + 2879) / 2880;
    if (blocks > 0 && std::fseek(f, long(blocks * 2880), SEEK_CUR) != 0) break;
    header.clear();
    cards.clear();
    first = false;
    inHeader = headerStart = true;
  }
  std::fclose(f);
  return problem;
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

namespace {
// The first image of a FITS file, open, with what describes it.
struct FitsImage {
  fitsfile* file = nullptr;
  int bitpix = 0, axisCount = 0;
  LONGLONG axes[4] = {1, 1, 1, 1};
  double scale = 1.0, zero = 0.0;
  bool compressed = false;
  char zcmptype[FLEN_VALUE] = "";

  FitsImage() = default;
  FitsImage(const FitsImage&) = delete;
  FitsImage& operator=(const FitsImage&) = delete;
  ~FitsImage() { Close(); }
  int Close() {
    int status = 0;
    if (file) fits_close_file(file, &status);
    file = nullptr;
    return status;
  }
  // Three planes are always read; fewer would read past the data (which compressed images
  // do not even notice).
  bool HasPlanes() const { return axisCount >= 3 && axes[2] >= 3 && axes[0] >= 1 && axes[1] >= 1; }
  bool FitsInts() const {
    return axes[0] <= INT32_MAX && axes[1] <= INT32_MAX && axes[0] * axes[1] <= INT32_MAX;
  }
};

// Opens the first image of the file at path. Returns null, or the message (taking status) of
// the step that failed.
const char* OpenImage(const std::string& path, FitsImage& image, int& status) {
  // The disk-file call takes the name literally: a path holding brackets is a name here,
  // not a filter expression.
  status = HeadersProblem(path);
  if (status == 0) fits_open_diskfile(&image.file, path.c_str(), READONLY, &status);
  if (status == 0) MoveToFirstImage(image.file, status);
  if (status != 0) return "Problem opening file, status code = %d";
  fits_get_img_type(image.file, &image.bitpix, &status);
  GetFitsScaling(image.file, image.scale, image.zero, status);
  if (status != 0) return "Problem getting image type, status code = %d";
  fits_get_img_dim(image.file, &image.axisCount, &status);
  if (status != 0) return "Problem getting image dimensions, status code = %d";
  fits_get_img_sizell(image.file, 4, image.axes, &status);
  if (status != 0) return "Problem getting axes, status code = %d";
  image.compressed = fits_is_compressed_image(image.file, &status);
  if (image.compressed) {
    fits_read_key(image.file, TSTRING, "ZCMPTYPE", image.zcmptype, nullptr, &status);
  }
  if (status != 0) return "Problem getting compression type, status code = %d";
  return nullptr;
}

// Reads the image row by row, row 0 first, and hands each row (planes R, G and B of width
// samples one after the other) to take, which returns false to stop. Returns the status.
template <class Take>
int ReadRows(fitsfile* file, int width, int height, Take&& take) {
  std::vector<float> row(size_t(width) * 3);
  float nullValue = 0.0f;
  int anyNull = 0, status = 0;
  for (int y = 0; y < height && status == 0; ++y) {
    for (int p = 0; p < 3; ++p) {
      const LONGLONG first = LONGLONG(y) * width + LONGLONG(p) * width * LONGLONG(height) + 1;
      fits_read_img(file, TFLOAT, first, width, &nullValue, row.data() + size_t(p) * width,
                    &anyNull, &status);
    }
    if (status == 0 && !take(y, row.data())) break;
  }
  return status;
}

void StoreRow(fpbuffer& image, int y, const float* row, float factor) {
  const size_t width = size_t(image.width), k0 = size_t(y) * width;
  for (size_t x = 0; x < width; ++x) {
    PutRgb(image, k0 + x,
           fpixel(row[x] * factor, row[width + x] * factor, row[2 * width + x] * factor));
  }
}

// What the decoder sends: kDecodedMagic and a status; when that is 0, a DecodedImage and
// then, for every row, a status and (when it is 0) the row as ReadRows gives it. A status
// other than 0 ends the output. Both ends run on this machine: native byte order.
constexpr char kDecodedMagic[8] = {'Z', 'E', 'P', 'F', 'I', 'T', 'S', '1'};
struct DecodedImage {
  int32_t width, height, planes, bitpix;
  double scale, zero;
};
static_assert(sizeof(DecodedImage) == 32);

constexpr const char* kDecoderName = "zep-fitsdecode";
constexpr const char* kDamaged = "Problem reading image, the file is damaged";

bool Executable(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && access(path.c_str(), X_OK) == 0;
}

// Decodes the tile-compressed image in the decoder's process and stores it in loaded (of the
// image's size). Whatever the decoder sends is checked as a file would be; a decoder that
// dies, overruns its limits or time, or sends anything malformed means damaged data.
// Returns null or the message.
const char* DecodeInHelper(const FitsImage& image, const std::string& path,
                           const FitsDecoder& decoder, fpbuffer& loaded, float factor) {
  const std::filesystem::path program =
      decoder.program.empty() ? FitsDecoderPath() : decoder.program;
  if (program.empty() || !Executable(program)) {
    return Report(Format("Problem reading compressed image, %s is missing", kDecoderName));
  }
  const int width = loaded.width, height = loaded.height;
  const uint64_t samples = uint64_t(width) * uint64_t(height) * 3u;
  // The library holds a tile, at most the image, in buffers of up to 8 bytes a sample.
  const uint64_t memory = decoder.memory ? decoder.memory : (uint64_t(512) << 20) + samples * 24u;
  // A million samples a second is far below any decoder's speed, sanitizers included.
  const uint64_t seconds = decoder.seconds ? uint64_t(decoder.seconds) : 10u + samples / 1000000u;
  ChildProcess child;
  if (!child.Start(program, {std::to_string(memory), std::to_string(seconds), path},
                   std::chrono::seconds(2 * seconds))) {
    return Report(
        Format("Problem reading compressed image, %s could not be started", kDecoderName));
  }
  // A status ends the output: the decoder's own failure, or damage when out of range.
  const auto ended = [&](int32_t status) {
    if (status < 1 || status > 999 || !child.AtEnd() || !child.Finish()) return Report(kDamaged);
    return Report(Format("Problem reading image, status code = %d", status));
  };
  char magic[sizeof kDecodedMagic];
  int32_t status = 0;
  if (!child.Read(magic, sizeof magic) || std::memcmp(magic, kDecodedMagic, sizeof magic) != 0 ||
      !child.Read(&status, sizeof status)) {
    return Report(kDamaged);
  }
  if (status != 0) return ended(status);
  DecodedImage d;
  if (!child.Read(&d, sizeof d) || d.width != width || d.height != height || d.planes != 3 ||
      d.bitpix != image.bitpix || std::memcmp(&d.scale, &image.scale, sizeof d.scale) != 0 ||
      std::memcmp(&d.zero, &image.zero, sizeof d.zero) != 0) {
    return Report(kDamaged);
  }
  std::vector<float> row(size_t(width) * 3);
  for (int y = 0; y < height; ++y) {
    if (!child.Read(&status, sizeof status)) return Report(kDamaged);
    if (status != 0) return ended(status);
    if (!child.Read(row.data(), row.size() * sizeof(float))) return Report(kDamaged);
    StoreRow(loaded, y, row.data(), factor);
  }
  if (!child.AtEnd() || !child.Finish()) return Report(kDamaged);
  return nullptr;
}
}  // namespace

std::filesystem::path FitsDecoderPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  fs::path dir = exe.parent_path();
  if (Executable(dir / kDecoderName)) return dir / kDecoderName;
  // In a build tree the programs and tests sit one or two folders below the build folder
  // (tools/, src/qt/, tests/fileio/) and the decoder in its tools/.
  for (int up = 0; up < 3; ++up, dir = dir.parent_path()) {
    if (fs::exists(dir / "CMakeCache.txt", ec) && Executable(dir / "tools" / kDecoderName)) {
      return dir / "tools" / kDecoderName;
    }
  }
  return {};
}

bool WriteDecodedFits(const std::string& path, int fd) {
  const auto put = [fd](const void* data, size_t size) {
    const char* from = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t done = write(fd, from, size);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      from += done;
      size -= size_t(done);
    }
    return true;
  };
  FitsImage image;
  int status = 0;
  OpenImage(path, image, status);
  if (status == 0 && !(image.HasPlanes() && image.FitsInts())) status = BAD_PIX_NUM;
  if (!put(kDecodedMagic, sizeof kDecodedMagic) || !put(&status, sizeof status)) return false;
  if (status != 0) return true;
  const int width = int(image.axes[0]), height = int(image.axes[1]);
  const DecodedImage d{width, height, 3, image.bitpix, image.scale, image.zero};
  if (!put(&d, sizeof d)) return false;
  bool written = true;
  status = ReadRows(image.file, width, height, [&](int, const float* row) {
    const int32_t fine = 0;
    written = put(&fine, sizeof fine) && put(row, size_t(width) * 3 * sizeof(float));
    return written;
  });
  return written && (status == 0 || put(&status, sizeof status));
}

const char* ReadFits(fpbuffer& image, const std::string& path, ImageFileInfo& info,
                     const FitsDecoder& decoder) {
  info.reset();
  FitsImage file;
  int status = 0;
  auto fail = [&](const char* format) {
    info.message = Report(Format(format, status));
    file.Close();
    return info.message;
  };
  if (const char* format = OpenImage(path, file, status)) return fail(format);

  int code = file.bitpix;
  if (file.bitpix == SHORT_IMG && file.zero != 0.0) code = USHORT_IMG;
  if (file.bitpix == LONG_IMG && file.zero != 0.0) code = ULONG_IMG;
  const SampleType type = TypeOf(code);
  const char* compression = file.compressed ? CompressionName(file.zcmptype) : "None";
  const LONGLONG w = file.axes[0], h = file.axes[1];
  const int axisShown = file.axisCount < 3 ? 1 : int(std::min<LONGLONG>(file.axes[2], INT32_MAX));
  info.text = Format(
      "\nUsed FDIB to load FITS file.\nWidth = %lld, Height = %lld\nNumber of Channels = "
      "%d\nBits Depth = %s\nCompression = %s",
      w, h, axisShown, type.name, compression);

  if (!file.HasPlanes()) {
    status = BAD_PIX_NUM;
    return fail("Problem reading image, status code = %d");
  }
  fpbuffer loaded;
  loaded.setcode(image.code);
  const int channels = loaded.channels ? loaded.channels : 3;
  // The float image, the display bitmap and the row being read, all at once.
  if (!file.FitsInts() ||
      !MemoryAllows(PictureBytes(uint64_t(w), uint64_t(h), channels) + uint64_t(w) * 12u)) {
    file.Close();
    return info.message = Report(kOutOfMemoryText);
  }
  // Plain data must be in the file before anything is allocated for it (compressed data
  // may expand any amount; the memory check above bounds it).
  LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
  fits_get_hduaddrll(file.file, &headStart, &dataStart, &dataEnd, &status);
  const LONGLONG dataBytes = LONGLONG(std::abs(file.bitpix) / 8) * w * h * 3;
  if (status == 0 && !file.compressed && dataStart + dataBytes > FileSize(path)) {
    status = END_OF_FILE;
  }
  if (status != 0) return fail("Problem reading image, status code = %d");

  loaded.dim(int(w), int(h), image.code);
  const float factor = float(1.0 / type.divisor);
  if (file.compressed) {
    // The library's tile decoders crash on damaged tiles: they run in a process of their
    // own, and this one only reads their output.
    status = file.Close();
    if (status != 0) return fail("Problem closing file, status code = %d");
    if (const char* problem = DecodeInHelper(file, path, decoder, loaded, factor)) {
      return info.message = problem;
    }
  } else {
    status = ReadRows(file.file, int(w), int(h), [&](int y, const float* row) {
      StoreRow(loaded, y, row, factor);
      return true;
    });
    if (status != 0) return fail("Problem reading image, status code = %d");
    status = file.Close();
    if (status != 0) return fail("Problem closing file, status code = %d");
  }
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
  // One flag a block, so that the blocks run on the threads.
  const int64_t block = BlockFor(32);
  std::vector<char> holds(size_t((image.n + block - 1) / block), 1);
  ParallelBlocks(image.n, block, [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      fpixel c = GetRgb(image, size_t(k));
      Convert(c, type);
      for (float v : {c.x, c.y, c.z}) {
        if (!(std::floor(double(v) + 0.5) >= 0.0) || std::floor(double(v) + 0.5) > 16777215.0) {
          holds[size_t(k0 / block)] = 0;
          return;
        }
      }
    }
  });
  return std::find(holds.begin(), holds.end(), 0) == holds.end();
}
}  // namespace

const char* WriteFits(const fpbuffer& image, const std::string& path, int type, int compression) {
  if (image.n == 0 || image.channels == 0) return Report("There is no image to write!");
  // The library's PLIO coder reads past its tile buffer on 16-bit samples (an 8 x 8 image
  // is enough), so those are refused rather than written from memory that is not ours.
  if (CompressionAlgorithm(compression) == PLIO_1 && type == SHORT_IMG) {
    return Report("PLIO compression needs 8-bit or 32-bit integer samples!");
  }
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
    if (algorithm) {
      // Compressed images go a whole plane at a time, so that every tile is coded once.
      std::vector<float> values(size_t(width) * size_t(height));
      for (int p = 0; p < 3 && status == 0; ++p) {
        for (size_t k = 0; k < values.size(); ++k) {
          fpixel c = GetRgb(image, k);
          Convert(c, type);
          values[k] = p == 0 ? c.x : p == 1 ? c.y : c.z;
        }
        WriteRow(file, type, LONGLONG(p) * LONGLONG(values.size()) + 1, values, status);
      }
    }
    std::vector<float> rows[3];
    for (auto& r : rows) r.resize(size_t(width));
    for (int y = 0; y < height && status == 0 && !algorithm; ++y) {
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
