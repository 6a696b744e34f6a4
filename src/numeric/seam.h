#pragma once
// The maps of content-aware resizing. The image itself is never moved while seams are
// found: a map says which source pixel now stands at each place, only the energies move
// with it, and every plane is gathered through the final map once.
#include <cstdint>
#include <vector>

#include "numeric/cvector.h"

class SeamOrderMap;

// Rows of values, one per current image row, that keep their storage as seams go: the
// current width and height travel beside them. A vertical seam's gap is closed by moving
// the shorter side of each row; when that is the part before the seam, it moves one place
// on and the row's line then starts one place later in its storage.
template <class T>
class SeamLines {
 public:
  // The values of the current row i, from column 0.
  T* line(int i) { return rows_[i].x + first_[size_t(i)]; }
  const T* line(int i) const { return rows_[i].x + first_[size_t(i)]; }
  // The number of rows held (0 when empty).
  int lines() const { return rows_.n; }

 protected:
  // count fresh rows of length values.
  void dimlines(int length, int count);
  // Take a vertical seam (its column in each of the height rows) or a horizontal one (its
  // row in each of the width columns) out of a width x height image.
  void closevertical(const cvector<int32_t>& seam, int width, int height);
  void closehorizontal(const cvector<int32_t>& seam, int width, int height);

 private:
  cvectorlist<T> rows_;
  std::vector<int32_t> first_;
};

// The energies of the pixels now in the image, each at its place in the index map: they
// move with the map's entries as seams go, so that the search reads every line straight
// instead of through the map. Line i starts as row i of the source's energy plane.
class SeamEnergyMap : public SeamLines<float> {
 public:
  // The rows of the energy plane of the uncarved source.
  SeamEnergyMap& assign(const matrix& energy);
  // verticalseam: the connected path of least summed energy from the bottom row to the
  // top of the current width x height image, one column per row (straight steps win ties,
  // then the lower column). horizontalseam: one row per column.
  SeamEnergyMap& verticalseam(cvector<int32_t>& seam, int width, int height);
  SeamEnergyMap& horizontalseam(cvector<int32_t>& seam, int width, int height);
  // Takes out the seam as the index map's removal of the same seam does; the sizes given
  // are those before the removal.
  SeamEnergyMap& removevertical(const cvector<int32_t>& seam, int width, int height);
  SeamEnergyMap& removehorizontal(const cvector<int32_t>& seam, int width, int height);

 private:
  // Kept from seam to seam: the two lines of cumulative energies and the step bytes.
  std::vector<double> lines_;
  std::vector<uint8_t> steps_;
};

// Entry j of line i is the source index (row x source width + column) of the pixel now
// at row i, column j.
class SeamIndexMap : public SeamLines<int32_t> {
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
