#pragma once
// A window with a small picture whose every value names its pixel and channel, so that a
// moved pixel can be found again, and a mask whose set bits mark chosen pixels.
#include <cmath>
#include <cstring>
#include <string>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "params/commands.h"
#include "params/settings.h"
#include "support/zep_test.h"

// The value of channel c at pixel (x, y) of the original picture.
inline float Tag(int c, int x, int y) { return float(1000 * c + 10 * x + y) * 0.125f + 1.0f; }

class GeometryTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
  }

  // The current layer holds the tagged picture (and its bitmap); with masked, the bits of
  // the pixels x + y even are set.
  void Make(CImageView& w, int width, int height, bool masked = false, int layer = -1) {
    fpbuffer& f = layer < 0 ? w.currentLayer() : w.layers[size_t(layer)];
    f.dim(width, height, 0x17);
    for (int c = 0; c < 3; ++c)
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) f.plane[c].z[y][x] = Tag(c, x, y);
    if (masked) {
      f.clearmask();
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) f.mask.set(x, y, (x + y) % 2 == 0);
    }
    DisplayBitmap& b = layer < 0 ? w.currentBitmap() : w.bitmaps[size_t(layer)];
    b = DisplayBitmap(width, height);
    f.todib(b.toprow());
  }

  // Every value of the layer as bytes, with its size and mask, for exact comparisons.
  static std::string Bytes(const fpbuffer& f) {
    std::string b = std::to_string(f.width) + "x" + std::to_string(f.height) + ":";
    for (int c = 0; c < f.channels; ++c) {
      b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * sizeof(float));
    }
    if (f.mask.present()) {
      b.append(reinterpret_cast<const char*>(f.mask.bits), size_t(f.mask.words) * 4);
    }
    return b;
  }

  void F2(CommandId id) {
    v.SelectOperation(id, true);
    v.Dispatch(CommandId::F2ProgrammedOperation);
  }
  void F3(CommandId id) {
    v.SelectOperation(id, true);
    v.Dispatch(CommandId::F3ProgrammedOperation);
  }

  FakeHost host;
  CImageView v{&host};
};
