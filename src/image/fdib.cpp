#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "image/fpbuffer.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

static_assert(std::endian::native == std::endian::little);

namespace {
struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

struct FdibHeader {
  int32_t width, height;
  uint32_t code;
  int32_t maskWords;
};
static_assert(sizeof(FdibHeader) == 16);

bool IsSlotName(const std::string& name) {
  if (name.size() != 9) return false;
  std::string upper;
  for (char c : name) upper += char(std::toupper(static_cast<unsigned char>(c)));
  return upper.compare(0, 3, "ZEP") == 0 && upper[3] >= '1' && upper[3] <= '9' &&
         upper.compare(4, 5, ".FDIB") == 0;
}

int32_t MaskWordsFor(int64_t pixels) { return static_cast<int32_t>((pixels + 31) / 32); }

// Opens an FDIB file and checks its header against its length: a size above zero, one
// known colour space, no mask or exactly the mask words of the image, and a length that is
// the header, the planes of that space and those mask words to the byte. The header is
// never trusted further than that, and the image must fit the memory available. Returns
// null when the file is missing, is no regular file or does not hold what its header
// promises.
File OpenChecked(const std::string& path, FdibHeader& h, int& channels) {
  File f(OpenRegularFile(path));
  if (!f) return nullptr;
  if (std::fread(&h, sizeof h, 1, f.get()) != 1) return nullptr;
  const ColourSpace* space = FindColourSpace(h.code);
  if (!space || h.width <= 0 || h.height <= 0) return nullptr;
  channels = space->channels;
  const int64_t pixels = int64_t(h.width) * h.height;
  if (pixels > INT32_MAX) return nullptr;
  if (h.maskWords != 0 && h.maskWords != MaskWordsFor(pixels)) return nullptr;
  const uint64_t planes = uint64_t(channels) * 4 * uint64_t(pixels);
  const uint64_t need = 16 + planes + 4 * uint64_t(uint32_t(h.maskWords));
  std::error_code ec;
  const auto length = std::filesystem::file_size(path, ec);
  if (ec || length != need || !MemoryAllows(planes)) return nullptr;
  return f;
}
}  // namespace

std::string FdibPath(const std::string& name, bool inProgramDirectory) {
  if (!inProgramDirectory) return name;
  return (IsSlotName(name) ? ProgramPath(name) : ScratchPath(name)).string();
}

bool fpbuffer::write(const std::string& name, bool inProgramDirectory) const {
  const FdibHeader h{width, height, code, mask.present() ? MaskWordsFor(n) : 0};
  return !WriteFileReplacing(FdibPath(name, inProgramDirectory), [&](std::FILE* f) {
    if (std::fwrite(&h, sizeof h, 1, f) != 1) return false;
    for (int c = 0; c < channels; ++c) {
      if (n > 0 && std::fwrite(plane[c].x, sizeof(float), size_t(n), f) != size_t(n)) return false;
    }
    if (h.maskWords > 0 &&
        std::fwrite(mask.bits, sizeof(uint32_t), size_t(h.maskWords), f) != size_t(h.maskWords)) {
      return false;
    }
    return true;
  });
}

bool fpbuffer::read(const std::string& name, bool inProgramDirectory) {
  FdibHeader h;
  int stored = 0;
  File f = OpenChecked(FdibPath(name, inProgramDirectory), h, stored);
  if (!f) return true;
  // Read aside and take it over only when complete.
  fpbuffer loaded;
  loaded.dim(h.width, h.height, h.code);
  for (int c = 0; c < loaded.channels; ++c) {
    if (loaded.n > 0 && std::fread(loaded.plane[c].x, sizeof(float), size_t(loaded.n), f.get()) !=
                            size_t(loaded.n)) {
      return true;
    }
  }
  if (h.maskWords != 0) {
    loaded.mask.dim(h.width, h.height);
    const size_t words = size_t(loaded.mask.words);
    if (words && std::fread(loaded.mask.bits, sizeof(uint32_t), words, f.get()) != words)
      return true;
    loaded.mask.cleartail();
  }
  swapwith(loaded);
  return false;
}

namespace {
bool Combine(fpbuffer& image, const std::string& path, float sign) {
  FdibHeader h;
  int stored = 0;
  File f = OpenChecked(path, h, stored);
  if (!f || h.width != image.width || h.height != image.height) return true;
  // The planes are combined as numbers, whatever space each image is in; the stored image
  // must have exactly the planes this one has.
  if (stored != image.channels) return true;
  std::vector<float> row(size_t(image.width));
  for (int c = 0; c < image.channels; ++c) {
    for (int j = 0; j < image.height; ++j) {
      if (image.width > 0 &&
          std::fread(row.data(), sizeof(float), row.size(), f.get()) != row.size()) {
        return true;  // cannot happen after the length check, short of a failing disk
      }
      float* target = image.plane[c].z[j];
      for (int i = 0; i < image.width; ++i) {
        target[i] = static_cast<float>(double(target[i]) + sign * double(row[size_t(i)]));
      }
    }
  }
  return false;
}
}  // namespace

bool fpbuffer::addstored(const std::string& name, bool inProgramDirectory) {
  return Combine(*this, FdibPath(name, inProgramDirectory), 1.0f);
}

bool fpbuffer::subtractstored(const std::string& name, bool inProgramDirectory) {
  return Combine(*this, FdibPath(name, inProgramDirectory), -1.0f);
}

void fpbuffer::removefile(const std::string& name) {
  std::error_code ec;
  std::filesystem::remove(FdibPath(name, true), ec);
}

void fpbuffer::removeseries(const std::string& stem, int last) {
  for (int i = 0; i <= last; ++i) removefile(Format("%s%d%s", stem.c_str(), i, ".fdib"));
  removefile(stem + ".fdib");
}
