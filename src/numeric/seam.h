#pragma once
// The maps of content-aware resizing. The image itself is never moved while seams are
// found: a map says which source pixel now stands at each place, and every plane is
// gathered through the final map once.
#include <cstdint>

#include "numeric/cvector.h"

class SeamOrderMap;

// One row per current image row; entry j of row i is the source index (row x source
// width + column) of the pixel now at column j. Rows keep their storage as seams go: the
// current width and height travel beside the map.
class SeamIndexMap : public intmaps {
 public:
  // The identity of a w x h source.
  SeamIndexMap& identity(int w, int h);
  // Removes a vertical seam (its column in each of the height rows); width shrinks by 1.
  SeamIndexMap& removevertical(const cvector<int32_t>& seam, int& width, int height);
  // Removes a horizontal seam (its row in each of the width columns); height shrinks by 1.
  SeamIndexMap& removehorizontal(const cvector<int32_t>& seam, int width, int& height);
  // Rebuilds this as the map of the order map's source widened by a columns (heightened
  // by a rows): the recorded seams are repeated, the first a - h of the h seams twice
  // when a exceeds h, every other once, each copy beside the pixel it repeats. Nothing
  // when this map is empty; otherwise the order map is consumed.
  SeamIndexMap& widen(SeamOrderMap& order, int a);
  SeamIndexMap& heighten(SeamOrderMap& order, int a);
};

// The source's size: 0 for a pixel never removed, k for one removed by the k-th vertical
// seam, -k by the k-th horizontal one.
class SeamOrderMap : public intmaps {
 public:
  SeamOrderMap& markvertical(const SeamIndexMap& map, const cvector<int32_t>& seam, int height,
                             int k);
  SeamOrderMap& markhorizontal(const SeamIndexMap& map, const cvector<int32_t>& seam, int width,
                               int k);
};
