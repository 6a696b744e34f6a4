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
#include <algorithm>
#include <cstdint>

#include "platform/parallel.h"

using ScanOrder = unsigned;

inline constexpr ScanOrder kScanRows = 0;
inline constexpr ScanOrder kScanColumns = 1;
inline constexpr ScanOrder kScanDiagonalsFromTop = 2;
inline constexpr ScanOrder kScanDiagonalsFromBottom = 3;

inline bool IsScanOrder(ScanOrder type) { return type <= kScanDiagonalsFromBottom; }

// A path is a run of lines: the rows of path 0, the columns of path 1, the diagonals of
// paths 2 and 3; lines of none for an unknown type or an empty plane.
inline int64_t ScanLines(int nx, int ny, ScanOrder type) {
  if (nx <= 0 || ny <= 0 || !IsScanOrder(type)) return 0;
  if (type == kScanRows) return ny;
  if (type == kScanColumns) return nx;
  return int64_t(nx) + ny - 1;
}

// The index along the path of the first position of line `line`: the positions of the
// lines before it. Those of the diagonals before s are the pairs with column + row < s,
// less those past the last column or the last row (no pair is past both).
inline int64_t ScanLineStart(int nx, int ny, ScanOrder type, int64_t line) {
  if (type == kScanRows) return line * nx;
  if (type == kScanColumns) return line * ny;
  auto triangle = [](int64_t k) { return k > 0 ? k * (k + 1) / 2 : 0; };
  return triangle(line) - triangle(line - nx) - triangle(line - ny);
}

// Calls visit(column, row) for the positions of the lines [first, last) in the order of
// the path.
template <class Visit>
void ForEachScanPositionOfLines(int nx, int ny, ScanOrder type, int64_t first, int64_t last,
                                Visit visit) {
  switch (type) {
    case kScanRows:
      for (int r = int(first); r < last; ++r) {
        if (r % 2 == 0) {
          for (int c = 0; c < nx; ++c) visit(c, r);
        } else {
          for (int c = nx - 1; c >= 0; --c) visit(c, r);
        }
      }
      return;
    case kScanColumns:
      for (int c = int(first); c < last; ++c) {
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
      for (int64_t s = first; s < last; ++s) {
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

// Calls visit(column, row) for every position of an nx x ny plane in the order of the
// path; nothing for an unknown type or an empty plane.
template <class Visit>
void ForEachScanPosition(int nx, int ny, ScanOrder type, Visit visit) {
  ForEachScanPositionOfLines(nx, ny, type, 0, ScanLines(nx, ny, type), visit);
}

// Calls visit(column, row, index along the path) for every position, blocks of lines
// running side by side on the threads: for gathers and scatters, which touch each position
// and each index once, so that their result does not depend on the order.
template <class Visit>
void ForEachScanPositionInBlocks(int nx, int ny, ScanOrder type, Visit visit) {
  const int64_t lines = ScanLines(nx, ny, type);
  if (lines == 0) return;
  const int64_t length = type == kScanRows ? nx : (type == kScanColumns ? ny : std::min(nx, ny));
  ParallelBlocks(lines, BlockFor(length), [&](int64_t first, int64_t last) {
    int64_t k = ScanLineStart(nx, ny, type, first);
    ForEachScanPositionOfLines(nx, ny, type, first, last, [&](int c, int r) { visit(c, r, k++); });
  });
}
