#pragma once
// Scan orders: four fixed paths that turn a plane into a sequence and back, so that
// one-dimensional sequence filters run over whole images without jumps between distant
// pixels. Positions are (column, row), row 0 being the plane's first row.
//
//   0 row-wise serpentine: row 0 left to right, row 1 right to left, ...
//   1 column-wise serpentine: column 0 upwards through the rows, column 1 back, ...
//   2 zig-zag over the diagonals from (0, ny-1): path 3 with row r read as row ny-1-r
//   3 zig-zag over the diagonals from (0, 0): (0,0) (0,1) (1,0) (2,0) (1,1) (0,2) ...
//     each diagonal (equal column + row) walked opposite to the previous one
//
// Any other number names no path: the operations that take one then change nothing.
#include <cstdint>

using ScanOrder = unsigned;

inline constexpr ScanOrder kScanRows = 0;
inline constexpr ScanOrder kScanColumns = 1;
inline constexpr ScanOrder kScanDiagonalsFromTop = 2;
inline constexpr ScanOrder kScanDiagonalsFromBottom = 3;

inline bool IsScanOrder(ScanOrder type) { return type <= kScanDiagonalsFromBottom; }

// Calls visit(column, row) for every position of an nx x ny plane in the order of the
// path; nothing for an unknown type or an empty plane.
template <class Visit>
void ForEachScanPosition(int nx, int ny, ScanOrder type, Visit visit) {
  if (nx <= 0 || ny <= 0) return;
  switch (type) {
    case kScanRows:
      for (int r = 0; r < ny; ++r) {
        if (r % 2 == 0) {
          for (int c = 0; c < nx; ++c) visit(c, r);
        } else {
          for (int c = nx - 1; c >= 0; --c) visit(c, r);
        }
      }
      return;
    case kScanColumns:
      for (int c = 0; c < nx; ++c) {
        if (c % 2 == 0) {
          for (int r = 0; r < ny; ++r) visit(c, r);
        } else {
          for (int r = ny - 1; r >= 0; --r) visit(c, r);
        }
      }
      return;
    case kScanDiagonalsFromTop:
    case kScanDiagonalsFromBottom: {
      const bool flip = type == kScanDiagonalsFromTop;
      const int64_t last = int64_t(nx) + ny - 2;
      for (int64_t s = 0; s <= last; ++s) {
        const int lo = static_cast<int>(s > nx - 1 ? s - (nx - 1) : 0);
        const int hi = static_cast<int>(s < ny - 1 ? s : ny - 1);
        // Even diagonals run with the row rising, odd ones with it falling.
        for (int k = 0; k <= hi - lo; ++k) {
          const int r = s % 2 == 0 ? lo + k : hi - k;
          visit(static_cast<int>(s - r), flip ? ny - 1 - r : r);
        }
      }
      return;
    }
    default:
      return;
  }
}
