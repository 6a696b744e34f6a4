#pragma once
// Checks the resize command tests share: a bitmap's bytes, and the scratch folder empty.
#include <cstdint>
#include <filesystem>
#include <vector>

#include "image/rgbbuffer.h"
#include "platform/programdir.h"

inline std::vector<uint8_t> BitmapBytes(const DisplayBitmap& b) {
  return std::vector<uint8_t>(b.data(), b.data() + b.bytes());
}

// Nothing in the process's scratch folder but its marker.
inline bool ScratchFolderEmpty() {
  for (const auto& e : std::filesystem::directory_iterator(ScratchDirectory())) {
    if (e.path().filename() != kScratchMarker) return false;
  }
  return true;
}
