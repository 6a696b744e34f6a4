#pragma once
// The fixture of the pseudo-inverse and New DDL driver tests: a colour picture whose
// channels differ, a mask, and the count of scratch files left in the program directory.
#include <cmath>
#include <filesystem>
#include <string>

#include "enlarge_harness.h"
#include "params/blocks.h"
#include "support/zep_test.h"

class PseudoInverseFixture : public ZepTest {
 protected:
  // RGB channels of three different pictures, a 3 x 2 block of the mask set.
  static fpbuffer Colour(int w, int h) {
    fpbuffer image(w, h, 0x17);
    image.plane[0] = enlarge::SlantedEdge(w, h, 12.0);
    image.plane[1] = enlarge::Checkerboard(std::max(w, h), 5);
    image.plane[1].crop(0, 0, w, h);
    image.plane[2] = enlarge::Blobs(w, h, {{w * 0.3, h * 0.6}}, 2.0);
    image.syncviews();
    image.mask.dim(w, h);
    for (int y = 2; y < 4; ++y) {
      for (int x = 3; x < 6; ++x) image.mask.set(x, y, true);
    }
    return image;
  }

  static std::string Bytes(const fpbuffer& f) {
    std::string b = std::to_string(f.width) + "x" + std::to_string(f.height) + ":" +
                    std::to_string(f.code) + ":";
    for (int c = 0; c < f.channels; ++c) {
      b.append(reinterpret_cast<const char*>(f.plane[c].x), size_t(f.plane[c].n) * sizeof(float));
    }
    for (int y = 0; y < f.mask.height; ++y) {
      for (int x = 0; x < f.mask.width; ++x) b += f.mask.get(x, y) ? '1' : '0';
    }
    return b;
  }

  int ScratchFiles() const {
    int count = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(home)) {
      count += e.path().extension() == ".mat";
    }
    return count;
  }

  static PostProcessParams SuperRez(int iterations, float step, float scale, float jaggy,
                                    int type) {
    return {0, iterations, step, scale, jaggy, type};
  }
};
