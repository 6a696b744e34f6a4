#pragma once
// The painted selection a filter command works on: the window's, when it has storage.
#include "app/imageview.h"

inline bitmask* PaintedSelection(CImageView& v) {
  return v.selection.present() ? &v.selection : nullptr;
}
