#pragma once
// `matrixarray`: a counted array of planes (colour channels handled together, pyramid and
// wavelet levels, coefficient fields, image stacks) with whole-array arithmetic and the
// a-trous level decompositions.
#include <cstdint>
#include <string>

#include "numeric/matrix.h"

class fpbuffer;

class matrixarray {
 public:
  int32_t n = 0;
  matrix* m = nullptr;

  matrixarray() = default;
  explicit matrixarray(int count) { resize(count); }
  matrixarray(int count, int nx, int ny) { dim(count, nx, ny); }
  // The same count; non-empty elements copied, empty ones stay empty.
  matrixarray(const matrixarray& other);
  matrixarray(matrixarray&& other) noexcept;
  matrixarray& operator=(const matrixarray& other) { return copy(other); }
  matrixarray& operator=(matrixarray&& other) noexcept;
  ~matrixarray() { delete[] m; }

  // When count differs from n or there is no block, every element is destroyed and count
  // empty ones made (none for 0); otherwise nothing changes.
  matrixarray& resize(int count);
  matrixarray& dim(int count) { return resize(count); }
  // resize, then every element dimensioned nx x ny (kept when already that shape).
  matrixarray& dim(int count, int nx, int ny);
  // Nothing when src has no elements; otherwise resize to its count and copy every
  // non-empty element (an element whose source is empty keeps what it had).
  matrixarray& copy(const matrixarray& src);
  matrixarray& free();

  matrix& operator[](int i) { return m[i]; }
  const matrix& operator[](int i) const { return m[i]; }

  matrixarray& zero();
  matrixarray& mulscalar(float c);
  matrixarray& scaleadd(float a, const matrixarray& other);  // element i = a*i + other i
  // The sum of the squares of all values of all elements; 0 for an empty array.
  double energy() const;
  // The sum of f(element) over the elements, accumulated in single precision.
  template <class F>
  float sum(F f) const {
    float s = 0.0f;
    for (int32_t i = 0; i < n; ++i) s += static_cast<float>(f(m[i]));
    return s;
  }
  // Calls f(element, a, b) in order; true at the first call that returns true.
  template <class F, class A, class B>
  bool foreach (F f, A a, B b) {
    for (int32_t i = 0; i < n; ++i) {
      if (f(m[i], a, b)) return true;
    }
    return false;
  }

  // A-trous decomposition into `levels` detail planes, finest first; the plane is left
  // holding the smooth residual, so residual + all details = the plane as it was.
  matrixarray& atrous(matrix& plane, int levels);
  // The same details, accumulated into the existing elements (at most eight) by
  // matrix::addsignedpower with exponent p[i].
  matrixarray& atrouspow(matrix& plane, const float p[8]);
  // Element i (at most eight) whose p[i] is not exactly -1: times 1/d when d is not 1, then
  // matrix::signedpower(p[i]).
  matrixarray& signedpow(const float p[8], float d);

  // Pyramids (pyramid.cpp), finest level at 0. pyramid: PyramidLevelSizes levels, level 0
  // the plane made even in each dimension when there is more than one level, each further
  // level the mirroring reduction of the one before; with laplacian every level but the
  // coarsest then holds its difference from the expanded coarser one. collapse undoes it.
  matrixarray& pyramid(const matrix& plane, int limit, bool laplacian);
  matrixarray& collapse();
  // The other's count and level sizes; contents undefined.
  matrixarray& dimlike(const matrixarray& other);
  matrixarray& mul(const matrixarray& other);
  matrixarray& add(const matrixarray& other);
  matrixarray& axpy(float a, const matrixarray& other);  // level i += a * other level i
  // The planar forward or diagonal differences of every level.
  const matrixarray& gradients(matrixarray& g1, matrixarray& g2, bool diagonal) const;
  // Every level = the transpose of the differences applied to g1, g2 (sized from them).
  matrixarray& gradientsT(const matrixarray& g1, const matrixarray& g2, bool diagonal);
  matrixarray& keeplargergradients(matrixarray& a2, const matrixarray& b1, const matrixarray& b2);
  matrixarray& keepsmallergradients(matrixarray& a2, const matrixarray& b1, const matrixarray& b2);
  // Exposure fusion (fusion.cpp). sharpenlevels: nothing for s = 1, else level 0 times s and
  // each coarser level times (the finer level's factor + 1) / 2. weightgradients: this
  // array's levels are the weights of g1, g2 level by level (WeightGradients).
  matrixarray& sharpenlevels(float s);
  const matrixarray& weightgradients(matrixarray& g1, matrixarray& g2, bool diagonal) const;
  // Over the first `levels` levels (scanfilters.cpp), matrix::minabs and matrix::minabs5.
  matrixarray& minabs(const matrixarray& other, int levels);
  matrixarray& minabs5(const matrixarray& a, const matrixarray& b, const matrixarray& c,
                       const matrixarray& d, int levels);

  // On detail levels (noiseshrink.cpp): each level soft-thresholded by its factor; mode 1
  // then scales it by the least-squares gain and mode 2 by the least-absolute gain that maps
  // it back onto the level as it was. A factor count other than the level count shows "1",
  // an empty first level "2", and nothing changes.
  matrixarray& noisethreshold(const matrix& factors, int mode);

  // Element files "%s%d.%d.mat" (prefix, array number, element index).
  matrixarray& write(const std::string& prefix, int number);
  matrixarray& read(const std::string& prefix, int number, bool removeAfter = false);
  matrixarray& remove(const std::string& prefix, int number);

  // Alignment pyramids (numeric/align.cpp, ops/stacking/align.cpp). reducepyramid: base
  // at level 0, each further level the one before reduced by 2 with the kernel.
  matrixarray& reducepyramid(const matrix& base, int levels, const matrix& kernel);
  // The luminance pyramid of an image (channel 0 of YCbCr, else 0.299 R + 0.587 G +
  // 0.114 B of an RGB copy); levels 0 picks the count from the size.
  matrixarray& alignpyramid(const fpbuffer& image, int levels);
  // The whole-pixel shift (dx, dy) with this pyramid(x + dx, y + dy) nearest the template
  // by mean square, coarse to fine; (0, 0) when the level counts differ.
  const matrixarray& shiftsearch(const matrixarray& templ, int& dx, int& dy) const;

  // Windowless Xin Li regularisers over lists (windowless.cpp): element k of this = the
  // matrix operation on element k of the source; the norm forms return the single-precision
  // total of the energies; the adjoints add (or, with zeroFirst, write) into element k the
  // transpose applied to input element k.
  matrixarray& laplacian(const matrixarray& source, float a);
  float laplaciannorm(const matrixarray& source, float a);
  matrixarray& stencil(const matrixarray& source, float a, const cvector<uint8_t>& edges);
  float stencilnorm(const matrixarray& source, float a, const cvector<uint8_t>& edges);
  matrixarray& laplacianadj(const matrixarray& input, float a, bool zeroFirst);
  matrixarray& stenciladj(const matrixarray& input, float a, const cvector<uint8_t>& edges,
                          bool zeroFirst);
};
