#pragma once
// `NoiseProfile`: the measured noise of an image, per channel and a-trous level, that Fast
// Noise Removal thresholds by. Each image window holds one; it is kept in a file as these
// 140 bytes, little-endian.
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/colorspace.h"

struct NoiseProfile {
  static constexpr int kMaxLevels = 10;
  static constexpr size_t kFileBytes = 140;

  int32_t levels = 0;   // 1 to 10; 0: no profile
  CSpaceCode code = 0;  // the space measured in, with its visible-channel bits
  float factors[3][kMaxLevels] = {};
  uint32_t modes[3] = {};  // autosharpen: 0 none, 1 least-squares gain, 2 least-absolute gain

  bool present() const { return levels != 0; }

  // Writes the 140 bytes to path through a temporary file. Throws the text
  // "PROBLEM OPENING FILE FOR WRITING!" when it cannot.
  void Save(const std::string& path) const;
  // Replaces this profile by the file's. A file that cannot be opened throws
  // "PROBLEM OPENING FILE FOR READING!"; one that is not a profile (another length, a
  // level count outside 1 to 10, a mode outside 0 to 2, a factor that is not a finite
  // number, a colour space that is not known) throws a text naming the file and what is
  // wrong. Either way this profile stays as it was.
  void Load(const std::string& path);
};

static_assert(sizeof(NoiseProfile) == NoiseProfile::kFileBytes);
static_assert(offsetof(NoiseProfile, levels) == 0);
static_assert(offsetof(NoiseProfile, code) == 4);
static_assert(offsetof(NoiseProfile, factors) == 8);
static_assert(offsetof(NoiseProfile, modes) == 128);
