#pragma once
// `matrix`: the float plane every colour channel and every intermediate is made of.
// Element (i, j) is column i of row j: x[j*nx + i] = z[j][i]. Planes holding image data
// store row 0 at the bottom of the picture.
#include <cstdint>
#include <string>

#include "numeric/plane.h"

class bitmask;

class matrix : public planebase<float, matrix> {
 public:
  static constexpr const char* kName = "matrix";

  matrix() = default;
  // Allocates nx*ny elements, not cleared; a zero-size request is the empty plane.
  matrix(int w, int h) { construct(w, h, "matrix(int,int)", "matrix::matrix(int,int)"); }
  matrix(const matrix& src) : planebase() {
    constructcopy(src, "(matrix::matrix(matrix&))", "matrix::matrix(matrix&)",
                  "matrix::matrix(matrix&)");
  }
  matrix(matrix&& src) noexcept : planebase(std::move(src)) {}
  // A view of data: the block is borrowed, never freed by this plane.
  matrix(float* data, int w, int h) { attach(data, w, h); }

  matrix& operator=(const matrix& src) { return assign(src); }
  matrix& operator=(matrix&& src) noexcept {
    moveassign(src);
    return *this;
  }
  // Copies src, re-dimensioning only when the shape differs.
  matrix& assign(const matrix& src) {
    assignfrom(src);
    return *this;
  }

  // Element-wise, in place over n elements, computed in double and rounded to float. The
  // operand must hold at least n elements; shapes are not checked.
  matrix& add(const matrix& y);
  matrix& sub(const matrix& y);
  matrix& mul(const matrix& y);
  matrix& addscalar(float c);
  matrix& subscalar(float c);
  matrix& mulscalar(float c);
  matrix& fill(float c);
  matrix& zero();
  matrix& apply(double (*f)(double));
  matrix& scaleadd(float a, const matrix& y);  // a*x + y
  matrix& axpy(float a, const matrix& y);      // x + a*y; nothing at all when a is 0
  // t*y + (1-t)*x, with 1-t rounded to float first; with a mask only where its bit is set.
  matrix& blend(float t, const matrix& y, const bitmask* mask = nullptr);
  matrix& signedpower(float p);
  matrix& addsignedpower(const matrix& y, float p);
  matrix& ramp(float a, float b);

  // Reductions, accumulated in double.
  double sum() const;
  double sumsq() const;
  static double dot(const matrix& a, const matrix& b);
  // Smallest and largest element; 1e16 and -1e16 for an empty plane. NaN is skipped.
  void minmax(float& lo, float& hi) const;

  // Rows, columns and regions. None of them reads or writes outside a plane.
  matrix& getrow(const matrix& src, int r);
  matrix& getcol(const matrix& src, int c);
  matrix& pastecentre(const matrix& small);
  matrix& crop(int x0, int y0, int w, int h);
  matrix& fliph();
  matrix& flipv();
  matrix& setdiag(float v);
  matrix& swapcols(int i, int j);
  matrix& outer(const matrix& a, const matrix& b);

  // Dense linear algebra (rows as vectors: X A = B).
  matrix& lu();
  matrix& lusolve(const matrix& factored);
  matrix& backsolve(const matrix& lower);
  matrix& givens(matrix& r, matrix& rhs, float c);

  // .mat files. Names are plain file names in this process's scratch folder.
  matrix& write(const std::string& name);
  matrix& read(const std::string& name, bool removeAfter = false);
  matrix& writenumbered(const std::string& prefix, int number, const std::string& extension);
  matrix& readnumbered(const std::string& prefix, int number, const std::string& extension,
                       bool removeAfter = false);
  matrix& copyfile(const std::string& source, const std::string& target);
  // Deletes a scratch file; 0 when deleted (callers ignore the result).
  static int remove(const std::string& name);
  // The same file operations on a full path, for files outside the scratch folder.
  matrix& writefile(const std::string& path);
  matrix& readfile(const std::string& path);
};

// a - b, element by element, in a new plane of a's shape.
matrix MatrixDifference(const matrix& a, const matrix& b);

// X with X A = B, on copies: A and B are unchanged. Throws "Singular Matrix".
void SolveLinear(matrix& result, const matrix& b, const matrix& a);

// The numbered name forms of the scratch files.
std::string NumberedName(const std::string& prefix, int number, const std::string& extension);
std::string ArrayElementName(const std::string& prefix, int arrayNumber, int element);
