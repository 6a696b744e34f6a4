#pragma once
// What a picture costs once it is in a window, for the readers' memory checks. Each reader
// adds what it decodes through and checks the whole sum once, before it decodes anything:
// allocations that each fit can still together exceed the memory available.
#include <cstdint>

#include "image/colorspace.h"

// The program's message when an image does not fit the memory available.
inline constexpr const char* kOutOfMemoryText = "Out of Memory";

// The 24-bit display bitmap of a w x h picture (rows padded to four bytes) and, with
// floatChannels above 0, its float image of that many planes.
inline uint64_t PictureBytes(uint64_t w, uint64_t h, int floatChannels) {
  const uint64_t stride = (3 * w + 3) & ~uint64_t{3};
  return stride * h + uint64_t(floatChannels > 0 ? floatChannels : 0) * 4 * w * h;
}

// The planes of a float image in colour space code (3 for a code not known).
inline int FloatChannels(CSpaceCode code) {
  const ColourSpace* space = FindColourSpace(code);
  return space && space->channels > 0 ? space->channels : 3;
}
