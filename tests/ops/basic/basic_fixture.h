#pragma once
// A window holding a small float image (and its display bitmap) for the colour and point
// commands, sent through the dispatcher as the menus, keys and programs send them.
#include <functional>
#include <vector>

#include "app/fake_host.h"
#include "app/imageview.h"
#include "params/settings.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

class BasicTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LiveSettings().autoQuery = 0;
    LiveSettings().conditional = 0;
  }
  // The current layer holds w x h pixels in the space of code, channel c of pixel k being
  // f(c, k); with bothLayers the other layer holds the same.
  void Make(int w, int h, CSpaceCode code, const std::function<float(int, int)>& f) {
    fpbuffer& layer = v.currentLayer();
    layer.dim(w, h, code);
    for (int c = 0; c < layer.channels; ++c)
      for (int k = 0; k < layer.n; ++k) layer.plane[c].x[k] = f(c, k);
    v.currentBitmap() = DisplayBitmap(w, h);
  }
  // One row of pixels whose channels all hold the values given.
  void MakeRow(const std::vector<float>& values, CSpaceCode code = 0x17) {
    Make(int(values.size()), 1, code, [&](int, int k) { return values[size_t(k)]; });
  }
  float At(int c, int k) { return v.currentLayer().plane[c].x[k]; }
  std::vector<float> Channel(int c) {
    const matrix& p = v.currentLayer().plane[c];
    return std::vector<float>(p.x, p.x + p.n);
  }
  // The command becomes the F2/F3 operation, then the key is pressed.
  void Press(CommandId command, CommandId key) {
    v.SelectOperation(command, true);
    v.Dispatch(key);
  }

  FakeHost host;
  CImageView v{&host};
};
