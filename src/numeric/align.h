#pragma once
// Helpers of image registration that are not members of a plane: the reduction kernel of
// the alignment pyramids, their level rule and the six-tap shift filter.
#include <cstdint>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/warp.h"

// The automatic level count of an alignment pyramid: with f the shorter side, one level
// plus one for every halving while f > 16.
int AlignLevelCount(int w, int h);

// Levels 1.. of an alignment pyramid from its level 0: each the one before reduced by 2
// with the Lanczos-3 halving kernel (DownscaleKernel (2, 3)).
void ReduceAlignLevels(matrixarray& pyramid);

// The six taps of a shift by s (out(y) = in(y - s)) and the offset g of their first
// sample: out(y) = sum_k w_k in(y + g - 2 + k). Taps at whole-sample distances are exactly
// 0 or 1, so whole shifts copy.
Taps6 SixTapShift(float s, int& g);

// The sub-pixel refinement of the shift of `count` planes against references of their
// size, one stage at a time: a stage scores the candidates (sx + o_i, sy + o_j), i outer
// and j inner, by the planes' mean maskedmad between the plane shifted along x by the
// first and then along y by the second and its reference, over the pixels neither
// excluded nor marked by the two shifts (the marks of plane 0 serve every plane); the
// first cost strictly below best replaces it and the pair. Each candidate sums its
// pixels in the order a pass over the shifted plane would, so the costs are those of
// shiftx, shifty and maskedmad bit for bit; yet no shifted plane is made: the rows of the
// x-shift are made as the y-shifts reach them.
class ShiftRefiner {
 public:
  ShiftRefiner(const matrix* const* planes, const matrix* const* references, int count,
               const bitmask* exclude);
  // One stage over the offsets o[0..m). `scored`: best already holds the cost of (sx, sy)
  // on these planes (an earlier stage found it), so that pair is not scored again.
  void stage(const float* offsets, int m, float& sx, float& sy, float& best, bool scored) const;

 private:
  // The taps of a shift along one axis and the offset of their first sample.
  struct Shift1D {
    Taps6 t;
    int g = 0;
  };
  void score(int i, const float* offsets, int m, const Shift1D* across, const Shift1D* down,
             bool scored, float* costs) const;
  std::vector<const matrix*> planes_, refs_;
  std::vector<bool> valid_;
  int nx_ = 0, ny_ = 0;
  // The runs [x0, x1) of pixels the exclusion leaves in, row by row, and the columns
  // [lo_, hi_) and rows [runRow0_, runRow1_) they cover.
  std::vector<int64_t> rowStart_;
  std::vector<std::pair<int, int>> runs_;
  int lo_ = 0, hi_ = 0, runRow0_ = 0, runRow1_ = 0;
};

// A w x h mask whose set bits are the frame: `left` columns at x = 0, `right` at the other
// side, `bottom` rows at y = 0 and `top` at the other end.
bitmask FrameMask(int w, int h, int left, int right, int bottom, int top);

// The block grid of block alignment: ceil(w / b) x ceil(h / b) blocks of side b.
struct BlockGrid {
  int nbx = 0, nby = 0, b = 0;
  BlockGrid(int w, int h, int block)
      : nbx((w + block - 1) / block), nby((h + block - 1) / block), b(block) {}
};

// Block displacement fields (dx, dy per block) of a plane against a reference of its size.
struct BlockFields {
  matrix dx, dy, cost, activity;
};

// The integer search of every block: each block's (dx, dy) is the first shift in the
// order cy = -r .. r (outer), cx = -r .. r (inner) whose mean abs(reference - p) over the
// block is smallest, p(x, y) = planes(x - cx, y - cy) with circular wrap, summed over the
// planes and divided by their count. Ticks once per block and polls cancel.
void BlockIntegerSearch(const matrix* const* planes, const matrix* const* references, int count,
                        int radius, const BlockGrid& grid, BlockFields& f);
// The same by shifting the whole planes circularly, (2r+1)^2 times: the plain reference of
// the indexed search above, kept for tests.
void BlockIntegerSearchByRolling(const matrix* const* planes, const matrix* const* references,
                                 int count, int radius, const BlockGrid& grid, BlockFields& f);
// The per-block activity of the references: mean abs(v - block median), averaged over the
// planes.
void BlockActivity(const matrix* const* references, int count, const BlockGrid& grid,
                   matrix& activity);
// The four sub-pixel stages (0.5, 0.25, 0.125, 0.0625) of every block on tiles cut around
// it with a margin trunc(radius + 3). Ticks once per block and polls cancel.
void BlockRefine(const matrix* const* planes, const matrix* const* references, int count,
                 int radius, const BlockGrid& grid, BlockFields& f);
// Block values interpolated linearly between the block centres: (b nbx) x (b nby).
matrix& BlockFieldToPixels(matrix& out, const matrix& blocks, const BlockGrid& grid);
