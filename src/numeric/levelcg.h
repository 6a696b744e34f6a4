#pragma once
// The iterations of the two pyramid solvers done in a few passes over memory.
//
// The operator A takes a plane to the differences of every level of its pyramid (level 0
// the plane, each further level the 2:1 reduction of the one before, across then down).
// The plain loop makes A p and A^T r as whole pyramids and then updates four vectors, a
// dozen passes over the planes and their pyramids. Here each level is one pass of row
// bands for A p (with p = beta p + s made on the way and only the energy of A p kept, the
// differences being remade where they are needed) and one for r -= alpha A p, s = A^T r and
// x += alpha p. The updates round in single precision, eight lanes at a time, where the
// plain loop forms r + alpha q and x + alpha p in double; the results differ from the
// plain loop's by less than 1e-4 of their range. The sums of squares stay double, added in an order fixed
// by the level sizes alone, so no result depends on the thread count.
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"

enum class LevelReduction { Renormalising, Mirroring };

// A step of the gradient loops, num / den in single precision where `usable`; otherwise
// false with stopEarly (the loop ends), else num itself.
inline bool CgStep(double num, double den, bool usable, bool stopEarly, float& step) {
  if (usable) {
    step = float(num / den);
    return true;
  }
  if (stopEarly) return false;
  step = float(num);
  return true;
}

// `levels` levels of the given reduction from x's size, forward or diagonal differences.
// x is the start and receives the result; r1, r2 hold b - A x for that start (planar, level
// by level, as the plane-wide passes make them) and s = A^T (b - A x); all three are used
// up. With stopEarly the loop ends when the step's denominator is not positive (before the
// update) or when the previous gamma was 0 (after it); without it gamma itself is the step
// and gamma_new the next beta. Each iteration ticks StepProgressOrThrow; a cancel leaves x
// at the last completed iteration.
void LevelConjugateGradients(matrix& x, matrix& s, matrixarray& r1, matrixarray& r2, int levels,
                             LevelReduction reduction, bool diagonal, int iterations,
                             bool stopEarly);
