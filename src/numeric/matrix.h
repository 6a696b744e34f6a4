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
  // Counts the elements into 256 bins spanning lo..hi (bin k centred on lo + k (hi-lo)/255);
  // elements outside the span, NaN and infinities are not counted. Returns the largest
  // count; with lo equal to hi every bin is 0.
  int histogram(int* bins, float lo, float hi) const;

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

  // Filtering; this plane is the output and may be the input too. A 1-D kernel is read as
  // its n elements whatever its shape; tap j weighs the input at offset j - n/2. Borders
  // use the whole-sample reflection (border.h) at every size, also on planes smaller than
  // the kernel. Sums are accumulated in double.
  matrix& correlatex(const matrix& kernel, const matrix& input);  // along rows
  matrix& correlatey(const matrix& kernel, const matrix& input);  // along columns
  // Add the adjoints (transposes) of correlatex and correlatey into this plane.
  matrix& scatterx(const matrix& kernel, const matrix& input);
  matrix& scattery(const matrix& kernel, const matrix& input);
  // Zeroes this plane, then scatterx: the adjoint of correlatex applied to the input.
  matrix& correlatexadj(const matrix& kernel, const matrix& input);
  // Separable correlation, rows then columns; a one-tap kernel is the identity, whatever
  // its value.
  matrix& correlatexy(const matrix& kx, const matrix& ky, const matrix& input);
  // Adds the adjoint of correlatexy into this plane; setscatterxy zeroes first.
  matrix& scatterxy(const matrix& kx, const matrix& ky, const matrix& input);
  matrix& setscatterxy(const matrix& kx, const matrix& ky, const matrix& input);
  // 2-D correlation centred at (kernel nx/2, kernel ny/2). With normalise the kernel
  // itself is first divided by its sum (when that is not 0).
  matrix& correlate(matrix& kernel, const matrix& input, bool normalise);
  matrix& correlate(const matrix& kernel, const matrix& input);
  // Interior elements become the mean of their 3 x 3 neighbourhood; borders unchanged.
  matrix& mean3x3();
  // Full 1-D convolution, kernel.n + vector.n - 1 long.
  matrix& convolvefull(const matrix& kernel, const matrix& vector);
  // A-trous smoothing: rows then columns by (1/16, 1/4, 3/8, 1/4, 1/16) with taps 2^level
  // apart; this plane is dimensioned like the input.
  matrix& atrous(const matrix& input, int level);

  // Isophote (mean-curvature) smoothing in place (isophote.cpp): each interior element
  // moves by coefficient x the isophote curvature x the gradient magnitude, on the axis
  // stencil (mode 1), the diagonal one (-1) or alternately starting diagonal (0); any other
  // mode changes nothing. With a modulus m, elements whose column and row are both offset
  // plus a multiple of m keep their values; with a mask only its set pixels change.
  matrix& isophotesmooth(int iterations, float coefficient, int modulus, int offset, int mode,
                         const bitmask* mask);

  // Gaussian blur in place along rows (x) or columns (y), the kernel reaching 3 sigma; the
  // taps beyond the ends are dropped and the rest renormalised. Sigma <= 0 does nothing.
  matrix& gaussblurx(double sigma);
  matrix& gaussblury(double sigma);

  // Kernel generators.
  matrix& gaussian(float sigma, float k);  // normalised, odd length about 2 k sigma
  matrix& diffkernel(int order);           // finite differences of order 1 to 8

  // This plane = src enlarged by k on every side, the border by half-sample reflection.
  matrix& mirrorpad(const matrix& src, int k);
  // Copies the overlapping part of src; the rest of this plane is filled from src by
  // whole-sample reflection.
  matrix& extend(const matrix& src);
  // Circular shift by dx columns and dy rows (positive towards larger indices).
  matrix& shift(int dx, int dy);

  // Sorting and selection, NaN last (sort.h).
  matrix& sort();
  float select(int k);  // the element of rank k; reorders the elements
  float median();       // reorders the elements; 0 for an empty plane

  // Fills this kernel matrix (ny outputs of nx taps) and its ip block (kernels.h).
  matrix& kernelmatrix(double (*kernel)(double, double), double parameter, double step,
                       double offset, bool antialias);

  // Scan orders (scan.h): this sequence <-> the plane along path `type`; any type other
  // than 0 to 3 changes nothing.
  matrix& gatherscan(const matrix& plane, unsigned type);
  const matrix& scatterscan(matrix& plane, unsigned type) const;
  const matrix& addscan(matrix& plane, unsigned type) const;

  // Number text (numbertext.h): fills this pre-dimensioned plane from a comma-separated
  // list; parselist dimensions it to (terms/k) x k first. Throw the invalid-entry text.
  matrix& parse(const std::string& text);
  matrix& parselist(const std::string& text, int k);

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
