// Tiles let an algorithm work on a large image in pieces: take a tile with mirrored margins,
// process it, put its interior back so that the margins never reach the result.
#include "image/fpbuffer.h"
#include "image/rgbbuffer.h"
#include "numeric/border.h"

fpbuffer& fpbuffer::gettile(const fpbuffer& source, int x0, int y0) {
  if (n == 0 || source.n == 0) return *this;
  const int planes = std::min(3, std::min(channels, source.channels));
  for (int j = 0; j < height; ++j) {
    const int sy = ReflectWhole(int64_t(y0) + j, source.height);
    for (int i = 0; i < width; ++i) {
      const int sx = ReflectWhole(int64_t(x0) + i, source.width);
      for (int c = 0; c < planes; ++c) plane[c].z[j][i] = source.plane[c].z[sy][sx];
    }
  }
  return *this;
}

fpbuffer& fpbuffer::gettilergb(const rgbbuffer& source, int x0, int y0) {
  if (n == 0 || source.n == 0 || channels == 0) return *this;
  for (int j = 0; j < height; ++j) {
    const int sy = ReflectWhole(int64_t(y0) + j, source.height);
    for (int i = 0; i < width; ++i) {
      const int sx = ReflectWhole(int64_t(x0) + i, source.width);
      const fpixel rgb = fpixel::frombgr(source.at(sx, sy));
      if (channels == 4) {
        const fpixel4 q = fromrgb4(rgb);
        plane[0].z[j][i] = q.x;
        plane[1].z[j][i] = q.y;
        plane[2].z[j][i] = q.z;
        plane[3].z[j][i] = q.w;
      } else {
        const fpixel q = isidentity() ? rgb : fromrgb(rgb);
        plane[0].z[j][i] = q.x;
        plane[1].z[j][i] = q.y;
        plane[2].z[j][i] = q.z;
      }
    }
  }
  return *this;
}

fpbuffer& fpbuffer::puttile(int x0, int y0, const fpbuffer& tile, const bitmask* only, int left,
                            int right, int bottom, int top) {
  const int planes = std::min(3, std::min(channels, tile.channels));
  ForEachTilePixel(tile, x0, y0, width, height, only, left, right, bottom, top,
                   [&](int x, int y, size_t k) {
                     for (int c = 0; c < planes; ++c) plane[c].z[y][x] = tile.plane[c].x[k];
                   });
  return *this;
}
