#include "image/triangulate_rgb.h"

#include "numeric/triangulate.h"

bitmask& ChooseTriangleDiagonalsRgb(bitmask& mask, const rgbbuffer& image) {
  return ChooseDiagonals(mask, image.width, image.height,
                         [&](int u, int o) { return image.at(u, o).g; });
}
