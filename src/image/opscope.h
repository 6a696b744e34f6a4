#pragma once
// The channels and pixels a per-channel operation touches, from the Cond flag, the
// image's own mask, the window's selection and the visible-channel bits. Every
// per-channel command asks this one helper; a command whose rule differs says so with
// the options below rather than with code of its own.
#include "image/fpbuffer.h"

class bitmask;

enum class ScopeChannels {
  ByCond,   // Cond off: every channel; Cond on: the visible ones
  Visible,  // the visible ones whatever Cond
  All,      // every channel whatever Cond
};

struct ScopeRule {
  ScopeChannels channels = ScopeChannels::ByCond;
  // Off: every pixel, whatever the selection, the image mask and Cond.
  bool pixels = true;
  // On: the image mask narrows the pixels (as Cond on would) whatever Cond.
  bool maskWhateverCond = false;
  // Off: the selection alone limits the pixels; the image mask is not read, whatever Cond.
  bool imageMask = true;
};

class OperationScope {
 public:
  // With Cond on (or the rule's maskWhateverCond), the rule's pixels and imageMask on and
  // an image mask present, a selection is intersected with the image mask in place (the
  // window keeps the intersection), and without a selection the image mask itself is used.
  // A selection with no storage, or not of the image's size, counts as none.
  OperationScope(fpbuffer& image, bitmask* selection, bool cond, ScopeRule rule = {});

  // Whether channel i (below the image's channel count) is processed.
  bool processes(int i) const { return i >= 0 && i < channels_ && ((bits_ >> i) & 1u); }
  // The pixel mask, or nullptr when every pixel is processed.
  const bitmask* mask() const { return mask_; }
  // The same mask (the selection or the image's own) for an operation that rewrites it.
  bitmask* target() const { return mask_; }
  // Whether pixel k (column + row x width) is processed.
  bool selected(int64_t k) const;
  int channels() const { return channels_; }

 private:
  bitmask* mask_ = nullptr;
  unsigned bits_ = 0;
  int channels_ = 0;
};
