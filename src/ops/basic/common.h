#pragma once
// What the basic family's handlers share: the Cond flag, the selection the scope takes,
// the parameter a Set F2/F3 command runs with, and the wait cursor of the commands that
// run without the process timer.
#include <cmath>
#include <limits>

#include "app/imageview.h"

namespace ops::basic {
bool Cond();
// The window's selection (the scope treats one without storage as none).
inline bitmask* Selection(CImageView& v) { return &v.selection; }
// A settings member as the command runs with it: while a program plays a step under
// F2/F3, the step's copy at the member's offset within its block; else the live value.
// Block is the member's settings block, whose offset in the step is its offset in the
// block.
float InForce(const float& member, const void* block);

class WaitCursor {
 public:
  WaitCursor();
  ~WaitCursor();
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// True when a factor leaves every value a number: a factor that is not finite (an
// overflowing inverse, a power of a negative) changes nothing.
inline bool Usable(double factor) {
  return std::isfinite(factor) && std::fabs(factor) <= double(std::numeric_limits<float>::max());
}
}  // namespace ops::basic
