#include "image/noiseprofile.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "platform/errors.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

// The record is the file: its fields are laid out as the file's bytes.
static_assert(std::endian::native == std::endian::little);

void NoiseProfile::Save(const std::string& path) const {
  const bool ok = WriteFileReplacing(
      path, [this](std::FILE* f) { return std::fwrite(this, 1, kFileBytes, f) == kFileBytes; });
  if (!ok) throw TextException("PROBLEM OPENING FILE FOR WRITING!");
}

void NoiseProfile::Load(const std::string& path) {
  std::FILE* f = OpenRegularFile(path);
  if (!f) throw TextException("PROBLEM OPENING FILE FOR READING!");
  NoiseProfile read;
  unsigned char extra = 0;
  const size_t got = std::fread(&read, 1, kFileBytes, f);
  const bool longer = got == kFileBytes && std::fread(&extra, 1, 1, f) == 1;
  std::fclose(f);
  const std::string name = std::filesystem::path(path).filename().string();
  auto refuse = [&](const std::string& why) {
    throw TextException(name + " is not a noise profile: " + why + ".");
  };
  if (got != kFileBytes || longer) refuse("it is not 140 bytes long");
  if (read.levels < 1 || read.levels > kMaxLevels) refuse("its number of levels is not 1 to 10");
  for (const uint32_t mode : read.modes) {
    if (mode > 2) refuse("an autosharpen mode is not 0 to 2");
  }
  for (const auto& channel : read.factors) {
    for (const float factor : channel) {
      if (!std::isfinite(factor)) refuse("a factor is not a finite number");
    }
  }
  if (FindColourSpace(read.code) == nullptr) refuse("its colour space is not known");
  *this = read;
}
