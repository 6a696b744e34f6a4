#pragma once
// What the last reader learnt about a file, shown on request; a reader's complaint makes
// the caller hand the file to the general image library instead.
#include <cstdint>
#include <string>

struct ImageFileInfo {
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t bitsPerChannel = 0;
  int32_t colourType = 0;
  const char* message = nullptr;  // a fixed text, or null
  std::string text;

  void reset() { *this = ImageFileInfo(); }
};
