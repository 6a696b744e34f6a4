#pragma once
// Helpers of image registration that are not members of a plane: the reduction kernel of
// the alignment pyramids, their level rule and the six-tap shift filter.
#include "numeric/bitmask.h"
#include "numeric/matrix.h"
#include "numeric/warp.h"

// The automatic level count of an alignment pyramid: with f the shorter side, one level
// plus one for every halving while f > 16.
int AlignLevelCount(int w, int h);

// The six taps of a shift by s (out(y) = in(y - s)) and the offset g of their first
// sample: out(y) = sum_k w_k in(y + g - 2 + k). Taps at whole-sample distances are exactly
// 0 or 1, so whole shifts copy.
Taps6 SixTapShift(float s, int& g);

// A w x h mask whose set bits are the frame: `left` columns at x = 0, `right` at the other
// side, `bottom` rows at y = 0 and `top` at the other end.
bitmask FrameMask(int w, int h, int left, int right, int bottom, int top);

// The block grid of block alignment: ceil(w / b) x ceil(h / b) blocks of side b.
struct BlockGrid {
  int nbx = 0, nby = 0, b = 0;
  BlockGrid(int w, int h, int block) : nbx((w + block - 1) / block), nby((h + block - 1) / block), b(block) {}
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
