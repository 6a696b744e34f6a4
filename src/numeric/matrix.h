#pragma once
// `matrix`: the float plane every colour channel and every intermediate is made of.
// Element (i, j) is column i of row j: x[j*nx + i] = z[j][i]. Planes holding image data
// store row 0 at the bottom of the picture.
#include <cstdint>
#include <string>
#include <vector>

#include "numeric/plane.h"
#include "numeric/tonecurves.h"

class bitmask;
class dmatrix;
class matrix;
class matrixarray;
class SeamIndexMap;
class weighttable6;

template <class T>
class cvector;
template <class T>
class cvectorlist;
template <class T>
class cvector;

// A linear operator of the restoration solvers: writes out from in and returns out. Its
// parameters come from process-wide slots filled before a solve.
// The weight planes of the windowless Xin Li models.
using WindowlessWeights = matrixarray;

using LinearOp = matrix& (*)(matrix& out, const matrix& in);
using LinearOpList = std::vector<LinearOp>;

// Replaces the plane in place by its smoothed version: (plane, radius, mask or none, flag).
using Smoother = void (*)(matrix& plane, int radius, const bitmask* mask, bool flag);
// The change an unsharp pass adds to a pixel of detail d.
using UnsharpResponseFn = float (*)(float d, float amount, float t1, float t2, float t3);

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

  // Reductions, accumulated in double by fixed blocks added in order (blocksum.h).
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
  // This plane (not src) = src turned a quarter counter-clockwise as displayed, row 0
  // being the bottom: src.ny x src.nx, element (src.ny-1-r, k) = src element (k, r).
  matrix& rotate90from(const matrix& src);
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
  // The adjoint of correlatex applied to the input (what scatterx adds to a zero plane).
  matrix& correlatexadj(const matrix& kernel, const matrix& input);
  // The adjoint of correlatey applied to the input (what scattery adds to a zero plane).
  matrix& correlateyadj(const matrix& kernel, const matrix& input);
  // this += correlatex of the input, which has this plane's shape.
  matrix& correlatexadd(const matrix& kernel, const matrix& input);
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

  // Gaussian blur in place (gaussblur.cpp) with the kernel gaussian(sigma, 3) of L taps,
  // f = L/2: one pass along rows (x) or columns (y); sigma <= 0 (or NaN) does nothing.
  // Samples f .. N-f-2 of a line of N take the plain sum. With flag 0 the first f and the
  // last f+1 samples take the taps that fall inside the line, renormalised (on a line not
  // longer than L, every sample); with flag 1 they keep their values.
  matrix& gaussblurx(float sigma, int flag);
  matrix& gaussblury(float sigma, int flag);
  // Gradient edges from the 3x3 Sobel (weights 1, 2, 1) or Prewitt (1, 1, 1) stencils.
  // With a mask of the plane's size: sets the bit of every interior pixel whose squared
  // gradient reaches (4t)^2 (Sobel) or (3t)^2 (Prewitt); border pixels are never marked.
  // Without one: the plane becomes the gradient magnitude inside and 0 on the border.
  matrix& sobel(float t, bitmask* mask);
  matrix& prewitt(float t, bitmask* mask);
  // Columns by sy, then rows by sx. Without a mask, flag 0 (borders renormalised). With a
  // mask, a tile around its bounding box is cut with whole-sample mirroring, blurred with
  // flag 1, and written back into the mask's pixels alone; an empty mask changes nothing.
  matrix& gaussblur(float sx, float sy, const bitmask* mask);
  matrix& gaussbluri(int sigma, const bitmask* mask);
  // The mean over the motion stencil (bitmask::motionline) centred on each pixel, read from
  // a half-sample mirrored copy. With a mask only its pixels change; with maskedInput too
  // the mean takes only the stencil cells inside the image whose mask bit is set.
  matrix& motionblur(float length, float angle, const bitmask* mask, bool maskedInput);
  // The mean over a disc (cmatrix::disk) of radius trunc(|radius| + 0.5) per pixel, read
  // from a half-sample mirrored copy; a NaN radius counts as 0 and one beyond the larger
  // side as that side. The radius plane has this plane's shape. With a mask only its
  // pixels change, each the mean of the disc cells inside the image whose bit is set.
  matrix& gradientlensblur(const matrix& radius, const bitmask* mask);

  // Kernel generators.
  // Normalised, of length GaussianLength(sigma, k); the identity of 3 taps for a sigma not
  // above 0 or not finite.
  matrix& gaussian(float sigma, float k);
  matrix& diffkernel(int order);  // finite differences of order 1 to 8

  // This plane = src enlarged by k on every side, the border by half-sample reflection.
  matrix& mirrorpad(const matrix& src, int k);
  // Copies the overlapping part of src; the rest of this plane is filled from src by
  // whole-sample reflection.
  matrix& extend(const matrix& src);
  // Circular shift by dx columns and dy rows (positive towards larger indices); a
  // distance of 0 or at least the width (height) leaves that direction alone. An owned
  // plane receives a new block.
  matrix& shift(int dx, int dy);
  // This plane (not src) = src shifted the same way.
  matrix& rollfrom(const matrix& src, int dx, int dy);

  // Warps (warp.h): this plane = source sampled at the positions of a similarity or
  // homography record, with the 6 x 6 table weights or 4 x 4 Catmull-Rom weights (a =
  // -0.5). The similarity warps dimension this plane to the source and, given marks,
  // dimension them to it cleared; the perspective warp keeps this plane's size (it does
  // nothing unless the record has 8 values) and adds its marks to those already set. A
  // marked pixel's stencil left the source. With ticks, one progress tick per output row,
  // and a cancel throws Cancelled. Source must not be this plane.
  matrix& WarpSimilarity6Tap(const matrix& source, const matrix& record, const weighttable6& table,
                             bitmask* marks = nullptr, bool ticks = false);
  matrix& WarpPerspective6Tap(const matrix& source, const matrix& record, const weighttable6& table,
                              bitmask* marks = nullptr, bool ticks = false);
  matrix& WarpSimilarityBicubic(const matrix& source, const matrix& record,
                                bitmask* marks = nullptr);

  // Windows of a plane (windows.cpp). extract fills this pre-dimensioned window: sample
  // (c, r) is the source sample (x0 + c, y0 + r), reflected on the whole sample when it lies
  // outside (folding again when it lies further out than one reflection reaches).
  // pasteinner writes the window less `left`/`right` columns and `top`/`bottom` rows into
  // this plane with its first kept sample at (x0, y0); samples falling outside this plane
  // are skipped, and with a mask of this plane's size only set pixels are written.
  matrix& extract(const matrix& source, int x0, int y0);
  matrix& pasteinner(int x0, int y0, const matrix& window, const bitmask* mask, int left, int right,
                     int top, int bottom);

  // Sharpening and the Mexican hat (sharpen.cpp). unsharp smooths a copy with the
  // smoother (radius, mask, flag 0), then adds response(d, amount, t1, t2, t3) to every
  // pixel (those of the mask alone, when one of this plane's size is given), d being the
  // value less the smoothed value, or the smoothed value itself for the LoG smoother.
  matrix& unsharp(Smoother smoother, int radius, UnsharpResponseFn response, float amount, float t1,
                  float t2, float t3, const bitmask* mask);
  // One pass over the w x w windows of a copy, the last full window of each axis left out
  // (the last w/2 + 1 rows and columns keep their values): a centre at least
  // `threshold` from both extremes of its window moves by `amount` towards the nearer one,
  // the maximum on a tie. A width below 1 changes nothing.
  matrix& xsharpen(int w, float threshold, float amount, const bitmask* mask);
  // The smoother of the LoG mode: logfilter with sigma = radius (the flag is not used).
  matrix& logresponse(int radius, const bitmask* mask, bool flag);
  // In place, the Mexican-hat response (gain 1, zero mean); with a mask of this plane's
  // size only its pixels change, from a tile around its bounding box.
  matrix& logfilter(float sigma, const bitmask* mask);
  // This = the Mexican-hat response of the input: columns by h then rows by g, plus
  // columns by g then rows by h, both kernels scaled by sqrt(gain) when gain is not 1.
  // Borders fold. A sigma that is not a positive finite number gives a response of 0.
  matrix& mexicanhat(float sigma, const matrix& input, float gain, bool zeroMean);
  // Sets (never clears) the mask bits of the zero crossings of this plane's Mexican-hat
  // response whose strength exceeds the threshold; nothing without a mask of this plane's
  // size. The plane is not changed.
  void edgemask(float sigma, float threshold, bitmask* mask, bool zeroMean) const;
  // On a response plane: sets the bit of every interior sample where a pair of opposite
  // neighbours changes sign by more than the threshold (diagonals weighted 0.707106781373095).
  void zerocrossings(bitmask& mask, float threshold) const;

  // Local window filters (localfilters.cpp), one pass in place. A mask that is absent or
  // not of this plane's size counts as none; with one only its set pixels change. The disc
  // filters read a copy padded with the edge sample repeated; with a mask and maskedInput
  // their window keeps only the cells inside the plane whose bit is set (the centre always).
  matrix& discmean(int r, const bitmask* mask, bool maskedInput);
  matrix& discmedian(int r, const bitmask* mask, bool maskedInput);
  matrix& discwmmr(int r, const bitmask* mask, bool maskedInput);
  // Square window of the weights' width, each pixel the WeightedMedian of its window. With
  // a mask and maskedInput the positions outside the plane are dropped and the other
  // weights renormalised.
  matrix& weightedmedianfilter(const matrix& weights, const bitmask* mask, bool maskedInput);
  // `repeats` passes in which every pixel (j, i) becomes function(v) of the values
  // v_k = plane(j + dx[k], i + dy[k]), k < count, of the plane as it was before the pass,
  // gathered into a count x 1 matrix the function may reorder. Positions outside the
  // plane fold back by whole-sample reflection, again and again for offsets beyond it.
  matrix& neighbourhood(const int32_t* dx, const int32_t* dy, int count,
                        float (*function)(matrix& values), int repeats);
  // This = input, then every interior sample along rows (x) or columns (y) becomes the mean
  // of its three neighbours on that axis; the end samples keep the input's value.
  matrix& smooth3x(const matrix& input);
  matrix& smooth3y(const matrix& input);
  // `passes` passes of the range-weighted mean (or weighted median) over a size x size
  // square; the first size/2 rows and columns and the last size/2 + 1 keep their values.
  // Nothing happens without a weight function.
  matrix& bilateral(float spread, int passes, int size, double (*weight)(float),
                    const bitmask* mask);
  matrix& bilateralmedian(float spread, int passes, int size, double (*weight)(float),
                          const bitmask* mask);
  // Weighted majority with minimum range of the n elements: sorts them in place.
  float wmmr();
  // The WMMR-average of the n elements (ShortHalfMeanSorted): sorts them in place.
  float shorthmean();
  // The mean of the n elements, summed in double; 0 for an empty plane.
  float mean() const;
  // The robust centre of the first count elements (ShortestHalfSorted), which it sorts in
  // place; 0 for none (jensenedge.cpp).
  float shortesthalf(int count);
  // An n x n moment kernel of the Jensen edge model (jensenedge.cpp): with c = (n-1)/2
  // and t = atan2(c - row, c - column), type 1-4 cos t, sin t, cos 2t or sin 2t over
  // 1.7724539, any other 1/sqrt(2 pi); 0 at the centre; then scaled by 1 / (sum of squares).
  matrix& momentkernel(int size, int type);
  // The median or WMMR value of the elements whose bit is set (all without a mask),
  // computed on a copy; 0 when nothing is selected.
  float maskedmedian(const bitmask* mask) const;
  float maskedwmmr(const bitmask* mask) const;

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

  // Edge-preserving smoothing along the scan paths (scanfilters.cpp), on sequences and
  // planes. hysteresis1d: a backlash of play d run backwards and then forwards over a copy,
  // each adding its band's low + high, so the sequence becomes 4 times the mean of the two
  // band centres. bilateral1d: positions 2r .. n-2r-1 become the mean of their 4r + 1
  // neighbours weighted by a Gaussian of sigma r and exp(-((c - h) / (sqrt 2 s))^2); the
  // ends, and a sequence with no full window, keep their values.
  matrix& hysteresis1d(float d);
  matrix& bilateral1d(float s, int r);
  // The four paths combined into this plane. hysteresis4 sums them, then matches the mean
  // and least-squares contrast of the input, from which it subtracts its mean;
  // bilateral4 averages them.
  matrix& hysteresis4(matrix& input, float d);
  matrix& bilateral4(const matrix& input, float s, int r);
  // count passes, each from the result of the one before. With a mask of this plane's size
  // only its pixels change, from a tile around its bounding box (the bilateral tile has r
  // mirrored samples before the box and r + 1 after it); an empty mask changes nothing.
  matrix& hysteresisrepeat(int count, float d, const bitmask* mask);
  matrix& bilateralrepeat(int count, float s, int r, const bitmask* mask);
  // The four directional results (each 4 times its band centres) into out; their Laplacian
  // pyramids and that of 4 x input merged by keeping the smallest detail and averaging the
  // coarsest level; this = the collapsed merge / 4.
  matrix& hysteresismultiscale(const matrix& input, float d, matrix (&out)[4]);
  // hysteresismultiscale, then with halo > 0 halo conjugate-gradient iterations towards the
  // smallest of the input's and the directions' diagonal differences: flag 0 on the plane
  // itself, 1 on gradient pyramids.
  matrix& hysteresispass(const matrix& input, float d, int halo, int flag);
  matrix& hysteresissmooth(int count, float d, int halo, int flag);
  // Element by element the value of smallest magnitude, this plane's own winning ties.
  matrix& minabs(const matrix& other);
  matrix& minabs5(const matrix& a, const matrix& b, const matrix& c, const matrix& d);

  // Wavelet shrinkage (noiseshrink.cpp). windowrms: the RMS over the w x h rectangle from
  // column x, row y (the part inside the plane; 0 when none is). noiseprofile: this factor
  // vector = L x 1, element i the windowrms of level i; unchanged when the array is empty
  // or its first level has no elements. softthreshold: sign(v) max(|v| - t, 0); nothing
  // for t = 0.
  float windowrms(int x, int y, int w, int h) const;
  matrix& noiseprofile(const matrixarray& levels, int x, int y, int w, int h);
  matrix& softthreshold(float t);

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

  // 2:1 reductions and 1:2 expansion (pyramid.cpp). Renormalising: this = source reduced
  // to HalfUp samples along rows (h) or columns (v), the taps falling outside dropped and
  // the rest renormalised. The T forms add the transpose into this plane, which has the
  // unreduced size; setreducevT zeroes it first.
  matrix& reduceh(const matrix& source);
  matrix& reducev(const matrix& source);
  matrix& reducehT(const matrix& reduced);
  matrix& reducevT(const matrix& reduced);
  matrix& setreducevT(const matrix& reduced);
  // Mirroring: w/2 + (w/2)%2 samples, always even, whole-sample reflection.
  matrix& reducemirrorh(const matrix& source);
  matrix& reducemirrorv(const matrix& source);
  matrix& reducemirror(const matrix& source);
  matrix& reducemirrorhT(const matrix& reduced);
  matrix& reducemirrorvT(const matrix& reduced);
  matrix& setreducemirrorhT(const matrix& reduced);
  // This (finer) plane += the transpose of reducemirror applied to the coarser plane.
  matrix& addreducemirrorT(const matrix& coarser);
  // The coarser plane expanded to this plane's size: mode 1 adds it, -1 subtracts it, any
  // other mode stores it. An odd size leaves the last column or row untouched.
  matrix& expand(const matrix& coarser, int mode);

  // Differences. Forward: gx (w-1) x h, gy w x (h-1); diagonal: d1 and d2 (w-1) x (h-1);
  // planar, or single rows holding the same values in row-major order. The T forms add
  // the transpose into this plane.
  const matrix& forwarddiff(matrix& gx, matrix& gy, bool planar) const;
  matrix& forwarddiffT(const matrix& gx, const matrix& gy);
  const matrix& diagdiff(matrix& d1, matrix& d2, bool planar) const;
  matrix& diagdiffT(const matrix& d1, const matrix& d2);
  // The Gaussian pyramid of this plane and the planar differences of every level.
  const matrix& gradpyramid(matrixarray& gauss, matrixarray& g1, matrixarray& g2, int limit,
                            bool diagonal) const;
  // This plane = the transpose of the Gaussian pyramid applied to the levels.
  matrix& pyramidT(const matrixarray& levels);
  matrix& magnitude(const matrix& a, const matrix& b);  // sqrt(a^2 + b^2)
  float maxabs() const;                                 // 0 for an empty plane
  // Exposure fusion (fusion.cpp). maxindicator: 1 where t >= |m - this| (t > 0) or where
  // this == m (t <= 0), else 0. divideby: this /= s where s != 0, whereZero where s is 0.
  matrix& maxindicator(const matrix& m, float t);
  matrix& divideby(const matrix& s, float whereZero);

  // Gradient-domain solvers (cgsolve.cpp): least squares by conjugate gradients on the
  // normal equations from this plane as the start; one progress tick per iteration, a
  // cancel leaves the last completed iteration. poissoncg takes single-row diagonal
  // targets; pyramidcg target pyramids; multiresolutioncg one target pair per level of
  // the renormalising reduction.
  matrix& poissoncg(int iterations, const matrix& d1, const matrix& d2);
  // The seamless-cloning solve: least squares of a^2 |x_O - e|^2 plus the squared misfits
  // of the differences over the inner pairs to their targets, plus w^2 those over the
  // boundary pairs, for the pixels of the outer ring O and the pairs' base pixels, every
  // other pixel fixed. No progress and no cancel.
  matrix& poissoncg(int iterations, float a, const cvector<int>& ring, const matrix& e,
                    const cvector<int>& innerh, const matrix& gih, const cvector<int>& innerv,
                    const matrix& giv, float w, const cvector<int>& boundh, const matrix& gbh,
                    const cvector<int>& boundv, const matrix& gbv);
  matrix& pyramidcg(int iterations, const matrixarray& g1, const matrixarray& g2, int limit,
                    bool diagonal);
  matrix& multiresolutioncg(int iterations, const matrixarray& gx, const matrixarray& gy,
                            bool diagonal);
  // Gradient-domain sharpening (sharpen.cpp): the diagonal differences of every level of
  // the Gaussian pyramid (size limit 4) scaled by PoissonLevelGain, then the plane whose
  // pyramid differences fit them best by `iterations` steps of pyramidcg from this plane.
  // A cancel (the solver's tick) leaves the plane as it was.
  matrix& poissonsharpen(int iterations, float amount, float scale);

  // Degradation building blocks (psf.cpp, decimate.cpp). Every border folds by whole-sample
  // reflection, so no plane is too small for a kernel and every adjoint is the exact
  // transpose of its forward pass.
  // The mean over the disc of radius r (cells within r + 0.5 of the centre) about every
  // pixel; this plane has the input's shape. discpsfadj adds the transpose, setdiscpsfadj
  // zeroes first.
  matrix& discpsf(int r, const matrix& input);
  matrix& discpsfadj(int r, const matrix& input);
  matrix& setdiscpsfadj(int r, const matrix& input);
  // Kernel decimation by f of a W x H input into this w x h plane: output j reads input
  // j f - (n - f)/2 ... + n - 1 through the kernel's n taps, rows then columns. f of 0 is
  // W / w. decimateadj writes the transpose into this W x H plane.
  matrix& decimate(const matrix& input, const matrix& kernel, int f = 0);
  matrix& decimateadj(const matrix& input, const matrix& kernel, int f = 0);
  // Decimation kernels for the factor f, scaled to sum 1; called on any matrix, which
  // becomes the n x 1 kernel.
  matrix& lanczosdecimationkernel(int a, int f);
  matrix& cubicdecimationkernel(float a, int f);
  matrix& triangledecimationkernel(int f);

  // The initial fill of diffusion inpainting (inpaint.cpp), on the pixels of a region of
  // this plane's size (another size changes nothing). fillmasked gives the region's
  // pixels, pass by pass from its edge inward, the mean of their known neighbours (border
  // pixels never change); inpaintinit then repeats 3 x 3 averaging of the region's pixels,
  // mirrored at the plane's edges, until no pixel moves by more than the tolerance or
  // after 10000 sweeps.
  matrix& fillmasked(const bitmask& region);
  matrix& inpaintinit(const bitmask& region, float tolerance);

  // Index lists (listops.cpp): k runs over the positions of a list L of pixel indices of
  // this plane. diffx/diffy: out_k = c (x[L_k + 1 (or + width)] - x[L_k]); their adj forms
  // add c g_k at the far pixel and subtract it at L_k; gather: out_k = c x[L_k];
  // scatteradd: x[L_k] += c g_k. The out vectors become single rows of L's length.
  const matrix& listdiffx(const cvector<int>& l, matrix& out, float c) const;
  const matrix& listdiffy(const cvector<int>& l, matrix& out, float c) const;
  matrix& listdiffxadj(const cvector<int>& l, const matrix& g, float c);
  matrix& listdiffyadj(const cvector<int>& l, const matrix& g, float c);
  const matrix& listgather(float c, const cvector<int>& l, matrix& out) const;
  matrix& listscatteradd(float c, const cvector<int>& l, const matrix& g);
  // At the indices of L: x := 0, x := y, x += c y, x := c x + y, and the sum of x^2.
  matrix& listzero(const cvector<int>& l);
  matrix& listcopy(const cvector<int>& l, const matrix& y);
  matrix& listaxpy(const cvector<int>& l, float c, const matrix& y);
  matrix& listxpay(const cvector<int>& l, float c, const matrix& y);
  double listsumsq(const cvector<int>& l) const;
  // Element by element, x_k := y_k where |x_k| < |y_k|.
  matrix& keeplarger(const matrix& y);

  // Structure tensors (tensor.cpp). eig2x2 is called on a 2 x 2 tensor [[a, c], [c', b]]
  // (c' is not read) and overwrites its rows with the unit eigenvectors, row 0 for the
  // smaller eigenvalue and row 1 for the larger; with c not 0 both have a positive x
  // component, with c = 0 they are the axis vectors and a >= b makes (1, 0) the major one.
  matrix& eig2x2(float* smaller, float* larger);
  // The structure tensor of this plane into xx, xy, yy: products of half-pixel-centred
  // differences (the last row and column 0), smoothed by a Gaussian of sigma (none for
  // sigma <= 0), then enlarged by scale with the shift when scale > 1. Runs with progress
  // suspended and cannot be cancelled.
  const matrix& structuretensor(matrix& xx, matrix& xy, matrix& yy, float sigma, float scale,
                                float shift) const;
  // This field = the eigenvectors of the tensors xx, xy, yy, one column per pixel: mode 0
  // four rows (major, then minor), 1 the major, 2 the minor; any other mode leaves the
  // field alone. With release the three planes are emptied afterwards in every mode.
  matrix& eigenfield(matrix& xx, matrix& xy, matrix& yy, int mode, bool release);
  // This field = the major eigenvectors of the input's structure tensor (shift 0).
  matrix& tensordirections(const matrix& input, float scale, float sigma);

  // Modified B-spline enlargement by an odd factor c (mbs.cpp). mbsclassify writes one
  // class byte per 2 x 2 cell (cell (k, l) at k (W - 1) + l of a vector of W H bytes, the
  // rest 0): 1 + 2 when the main-diagonal gradient is not below the anti-diagonal one, + 1
  // when the horizontal one is not above the vertical one, from the gradients smoothed by
  // 3-tap means. bsplineprefilter turns the samples into cubic B-spline coefficients (rows,
  // then columns). mbsfill makes this c W x c H: the border bands take the nearest
  // coefficient, every cell's c x c block one of its corners by its class (a class
  // vector too short for the cells reads as class 0); one tick per cell row, a cancel
  // throws. boxblur runs `passes` moving averages of width a along rows, then columns,
  // ends mirrored on the whole sample; nothing when a side is shorter than a. One tick per
  // row and per column; a cancel throws.
  const matrix& mbsclassify(cvector<uint8_t>& classes) const;
  matrix& bsplineprefilter();
  matrix& mbsfill(const matrix& coefficients, const cvector<uint8_t>& classes, int c);
  matrix& boxblur(int a, int passes);

  // Data-dependent Lanczos doubling (ddl.cpp). A direction map holds one byte per source
  // pixel (i, j) at i W + j: bit 0 the anti-diagonal for the diagonal midpoint, bit 2 the
  // vertical line for the horizontal midpoint, bit 4 the horizontal line for the vertical
  // midpoint; the fills test the masks 0x03, 0x0C and 0x30 (the decisions write 0 to
  // the other bits). Orders 0 to 5 interpolate, -2 to -5 clamp to the chosen pair, -1 is
  // order 1; any other order leaves the midpoints 0. Every read past an edge reflects on
  // the whole sample, on the source grid for the decisions and on the doubled grid for
  // the fills. ddldirections decides the map from this plane (progress suspended, no
  // ticks).
  const matrix& ddldirections(cvector<uint8_t>& map, int order) const;
  // This = 2W x 2H, the source (another plane) on the even positions and the diagonal
  // midpoints filled; the horizontal and vertical midpoints are left for ddlfillhv (0 when
  // the order has no taps). One tick per source row; a cancel throws Cancelled.
  matrix& ddlfilldiagonal(const matrix& source, const cvector<uint8_t>& map, int order);
  // Fills the horizontal and vertical midpoints of this doubled plane in place; ticks as
  // the diagonal fill.
  matrix& ddlfillhv(const cvector<uint8_t>& map, int order);
  // This = the source enlarged by 2^passes. Negate uses -order. A list of exactly `passes`
  // maps is reused (an entry that does not fit its pass is decided again), otherwise the
  // list is remade and filled. Rotate turns the plane by 180 degrees after the first
  // doubling and back at the end; recentre then shifts it by half an output sample, so
  // the output grid is centred on the source's. With scratch the working plane waits in
  // "temp1.mat" between doublings and the source in "temp2.mat" (emptied meanwhile and
  // restored, also when the call throws). releaseMaps frees each map after its doubling.
  // Zero passes give a plain copy.
  matrix& DdlEnlarge(matrix& source, int order, int passes, bool rotate, bool recentre,
                     bool scratch, bool negate, cvectorlist<uint8_t>& maps, bool releaseMaps);

  // The shock filter (shock.cpp). Derivatives take neighbours reflected on the edge sample:
  // g = central differences, Ivv the second derivative along the field's vector (across the
  // edge), Iww along the edge. shockupdate moves this plane, whose values the copy holds,
  // by one explicit step: -step x (2/pi) atan(edgeFactor x Ivv) x G, or -/+ step x G by the
  // sign of Ivv when the edge factor is not above 0; G is |g.v|, or |g| with a mask, whose
  // set pixels alone change. A step not above 0 changes nothing. shockstep makes this plane
  // the increment of the input's size: the same shock term with G = |g| and the gain as
  // step (none for a gain not above 0), plus alongWeight x Iww and acrossWeight x Ivv for
  // the weights above 0. The field holds one column (vx, vy) per pixel.
  matrix& shockupdate(const matrix& copy, const matrix& field, float edgeFactor, float step,
                      const bitmask* mask);
  matrix& shockstep(const matrix& input, const matrix& field, float edgeFactor, float gain,
                    float alongWeight, float acrossWeight);

  // Difference regularizers (regularize.cpp). A forward operator dimensions this plane to
  // the stencil's valid region of the input (empty where the stencil does not fit) and
  // writes w times the difference; its adjoint adds the transpose of a residual plane into
  // this plane, which has the image's size and already holds a partial sum.
  matrix& slopex(const matrix& in, float w);
  matrix& slopey(const matrix& in, float w);
  matrix& slopediag(const matrix& in, float w);
  matrix& slopeanti(const matrix& in, float w);
  matrix& curvx(const matrix& in, float w);
  matrix& curvy(const matrix& in, float w);
  matrix& curvdiag(const matrix& in, float w);
  matrix& curvanti(const matrix& in, float w);
  matrix& order3x(const matrix& in, float w);
  matrix& order3y(const matrix& in, float w);
  matrix& order3diag(const matrix& in, float w);
  matrix& order3anti(const matrix& in, float w);
  matrix& crossslope(const matrix& in, float w);
  matrix& crossslopediag(const matrix& in, float w);
  matrix& slopexadj(const matrix& r, float w);
  matrix& slopeyadj(const matrix& r, float w);
  matrix& slopediagadj(const matrix& r, float w);
  matrix& slopeantiadj(const matrix& r, float w);
  matrix& curvxadj(const matrix& r, float w);
  matrix& curvyadj(const matrix& r, float w);
  matrix& curvdiagadj(const matrix& r, float w);
  matrix& curvantiadj(const matrix& r, float w);
  matrix& order3xadj(const matrix& r, float w);
  matrix& order3yadj(const matrix& r, float w);
  matrix& order3diagadj(const matrix& r, float w);
  matrix& order3antiadj(const matrix& r, float w);
  matrix& crossslopeadj(const matrix& r, float w);
  matrix& crossslopediagadj(const matrix& r, float w);

  // Data-dependent regularizers (regularize.cpp): per output element a mask bit picks one
  // of two stencils of the same extent, the bit of the stencil block's upper-left pixel for
  // the slopes and of its centre for the curvatures. Max takes the horizontal (main
  // diagonal) stencil where the bit is set, Min the vertical (anti-diagonal) one. A mask
  // not of the input's size reads as all clear. Sizes and adjoints as above.
  matrix& ddslopemax(const matrix& in, const bitmask& mask, float w);
  matrix& ddslopemin(const matrix& in, const bitmask& mask, float w);
  matrix& ddslopediagmax(const matrix& in, const bitmask& mask, float w);
  matrix& ddslopediagmin(const matrix& in, const bitmask& mask, float w);
  matrix& ddcurvmax(const matrix& in, const bitmask& mask, float w);
  matrix& ddcurvmin(const matrix& in, const bitmask& mask, float w);
  matrix& ddcurvdiagmax(const matrix& in, const bitmask& mask, float w);
  matrix& ddcurvdiagmin(const matrix& in, const bitmask& mask, float w);
  matrix& ddslopemaxadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddslopeminadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddslopediagmaxadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddslopediagminadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddcurvmaxadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddcurvminadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddcurvdiagmaxadj(const matrix& r, const bitmask& mask, float w);
  matrix& ddcurvdiagminadj(const matrix& r, const bitmask& mask, float w);
  // This map = |horizontal| - |vertical| first (mode 0) or second (mode 1) differences of
  // the input (main diagonal against anti-diagonal for diagpreference), 0 where the stencil
  // does not fit, box-smoothed 3 x 3; at a scale other than 1 enlarged by the triangle
  // kernel to round(scale n), slope maps on the half-pixel grid. A scale not above 0 counts
  // as 1; any mode but 1 is a slope map.
  matrix& hvpreference(const matrix& input, float scale, int mode);
  matrix& diagpreference(const matrix& input, float scale, int mode);

  // Direction-field regularizers (directional.cpp): the output has the input's size; pixel
  // (i, j) takes differences to its neighbours (mirrored without repeating the edge, a
  // one-sample line folding onto itself) weighted by the unit vector (u, v) of the field's
  // column i nx + j. A field of another pixel count reads as (1, 0) everywhere. The adjoints
  // add the transpose into this plane of the input's size.
  matrix& dirslopemin(const matrix& in, const matrix& field, float w);
  matrix& dirslopemax(const matrix& in, const matrix& field, float w);
  matrix& dirslope2min(const matrix& in, const matrix& field, float w);
  matrix& dirslope2max(const matrix& in, const matrix& field, float w);
  matrix& dircurvmin(const matrix& in, const matrix& field, float w);
  matrix& dircurvmax(const matrix& in, const matrix& field, float w);
  matrix& dircurv2min(const matrix& in, const matrix& field, float w);
  matrix& dircurv2max(const matrix& in, const matrix& field, float w);
  matrix& dirslopeminadj(const matrix& r, const matrix& field, float w);
  matrix& dirslopemaxadj(const matrix& r, const matrix& field, float w);
  matrix& dirslope2minadj(const matrix& r, const matrix& field, float w);
  matrix& dirslope2maxadj(const matrix& r, const matrix& field, float w);
  matrix& dircurvminadj(const matrix& r, const matrix& field, float w);
  matrix& dircurvmaxadj(const matrix& r, const matrix& field, float w);
  matrix& dircurv2minadj(const matrix& r, const matrix& field, float w);
  matrix& dircurv2maxadj(const matrix& r, const matrix& field, float w);
  // Gradient tensors of this plane into a, c, b (nx x ny): per 2 x 2 cell the products of
  // its two diagonal differences (diagtensor) or of its mean row and mean column
  // differences (hvtensor), the last row and column 0; mode 1 shifts them by half a pixel
  // onto the pixels; a scale above 1 enlarges them by Lanczos-3 (shifted by half an output
  // sample in mode 0) and multiplies sigma; then a Gaussian blur of sigma (none for 0).
  // Progress suspended, no cancel.
  const matrix& diagtensor(matrix& a, matrix& c, matrix& b, float sigma, float scale,
                           int mode) const;
  const matrix& hvtensor(matrix& a, matrix& c, matrix& b, float sigma, float scale, int mode) const;
  // This field = the major eigenvectors of [[a, c], [c, b]], one column per pixel; the
  // tensors are kept.
  matrix& majoreigenfield(matrix& a, matrix& c, matrix& b);
  // This field = majoreigenfield of the input's diagtensor or hvtensor.
  matrix& diagfield(const matrix& input, float scale, float sigma, int mode);
  matrix& hvfield(const matrix& input, float scale, float sigma, int mode);

  // Element-wise terms of the least-absolute-deviation solver (ladterms.cpp), all planes
  // of this plane's size. ladweights: this = z^2 u^2 / (z^2 + u^2); ladgapterm: this =
  // (z - u) this / (z^2 + u^2); ladmaxratio: F = max(F, every max(-this/z, this/u));
  // weightsq: this *= w and returns the sum of w t^2 over the values t before; scaleweighted:
  // this = s w this.
  matrix& ladweights(const matrix& z, const matrix& u);
  matrix& ladgapterm(const matrix& z, const matrix& u);
  matrix& ladmaxratio(float* F, const matrix& z, const matrix& u);
  double weightsq(const matrix& w);
  matrix& scaleweighted(float s, const matrix& w);

  // Least squares and least absolute deviations of A x against b with the regularizers
  // L_k, called on the estimate x, which the caller has dimensioned (ops/filters,
  // lssolvers.cpp, beside the operators they run with). cgls starts from 0 and returns
  // true, x left 0, when A^T b is 0; sizes receives each regularizer output's width (list
  // 0) and height (list 1). weightedcgls starts from x. lad starts from the LS solution and
  // returns the best iterate, its L1 objective in *l1.
  bool cgls(const matrix& b, LinearOp At, LinearOp A, const LinearOpList& adjoints,
            const LinearOpList& forwards, cvectorlist<int32_t>& sizes, int maxIterations,
            float tolerance, int minIterations);
  matrix& weightedcgls(const matrix& b, LinearOp At, const matrix& w, LinearOp A,
                       const LinearOpList& adjoints, const matrixarray& wk,
                       const LinearOpList& forwards, int maxIterations, float tolerance,
                       int minIterations);
  matrix& lad(const matrix& b, LinearOp At, LinearOp A, const LinearOpList& adjoints,
              const LinearOpList& forwards, float* l1, int lsMaxIterations, float lsTolerance,
              float ladTolerance, int ladMaxIterations, int lsMinIterations, bool memorySaving);

  // Luminance and colour ratios (luminance.cpp); this plane is the luminance.
  matrix& SplitLuminance(matrix& r, matrix& g, matrix& b, float eps);
  const matrix& MergeLuminance(matrix& r, matrix& g, matrix& b, double gamma) const;
  // Tone Map 1's compression of this luminance by its adaptation plane s (tonemap.cpp):
  // with k = 0, L - a s ln(s/L); otherwise L / (a s ln(s/L) + L + k mean(L)), the detail
  // term held at -L or above, then scaled so that the largest value is 255.
  matrix& compressluminance(const matrix& s, float k, float sharpener);
  // The signed rank transform: magnitudes ranked in [0, 1] (ties share the lower middle
  // position, one value gives 1), signs restored; types 1, 2, 3 then match the largest,
  // the median or the sum of the magnitudes as they were.
  matrix& rankequalize(int type);

  // Point operations (pointops.cpp), one pass over the elements; with a mask only the
  // elements whose bit is set change.
  matrix& affine(float a, float b, const bitmask* mask = nullptr);  // a*v + b
  matrix& fill(float c, const bitmask* mask);
  matrix& reflect(float u, const bitmask* mask = nullptr);  // u - v
  matrix& clipnegative();                                   // max(v, 0); NaN stays
  // v > 0 becomes hi*(v/hi)^p, v < 0 lo*(v/lo)^p when lo < 0 and -hi*(-v/hi)^p otherwise;
  // 0 and NaN stay. Powers in double.
  matrix& gamma(double p, float lo, float hi, const bitmask* mask = nullptr);
  // The same shape with a tone curve of [0, 1]: a table looked up linearly (nothing when
  // empty), or f(x, c) (nothing without a function).
  matrix& applycurve(const dmatrix& table, float lo, float hi, const bitmask* mask = nullptr);
  matrix& applytonecurve(ToneCurveFn f, double c, float lo, float hi,
                         const bitmask* mask = nullptr);
  // The ramp through a at (x0, y0) and b at (x1, y1), constant across the line between
  // them and unclamped beyond; nothing when the points (nearly) coincide.
  matrix& gradient(float a, int x0, int y0, float b, int x1, int y1, const bitmask* mask = nullptr);
  // This plane = the order values of source's elements: the k-th smallest of n (k from 0)
  // gets (k + 0.5)/n, and a run of equal elements shares the median of its order values.
  // Elements are ranked by a total order: -0 equals +0, every NaN comes last and they tie.
  matrix& ranktransform(const matrix& source);
  // Each element becomes lo + (hi - lo) times its order value.
  matrix& equalize(float lo, float hi);
  // The smallest and largest finite element (of those whose bit is set, with a mask);
  // lo > hi when there is none.
  void finiteminmax(float& lo, float& hi, const bitmask* mask = nullptr) const;
  // The mean of the elements whose bit is set (of all without a mask); 0 when none.
  float maskedmean(const bitmask* mask) const;
  // Absolute differences against another plane of this size: the average (AAE), the root
  // mean square (RMSE) and the largest (MAE, -1 for no element).
  struct DiffStats {
    double aae, rmse, mae;
  };
  DiffStats diffstats(const matrix& other) const;

  // Layer matching (matching.cpp): this plane's values x against a reference y.
  // The least-squares line y = gain x + offset; with apply, x := gain x + offset.
  matrix& lsfit(const matrix& y, double& gain, double& offset, bool apply);
  // The same over the included pairs (minimum <= y <= maximum, and the mask bit when a
  // mask is given); applied to every pixel without a mask or with allPixels, else to the
  // masked ones. With no included pair the plane is left alone (gain 1, offset 0).
  matrix& lsmatch2(const matrix& reference, double& gain, double& offset, float minimum,
                   float maximum, const bitmask* mask, bool allPixels, bool apply);
  // One-parameter gains of the included pairs, applied the same way; 1 when none.
  float lsmatch1(const matrix& reference, float minimum, float maximum, const bitmask* mask,
                 bool allPixels);
  float ladmatch1(const matrix& reference, float minimum, float maximum, const bitmask* mask,
                  bool allPixels);
  // this += every element; nothing when the array is empty or its first element's count
  // differs.
  matrix& addall(const matrixarray& levels);
  matrix& waveletmatch(const matrix& reference, int levels, bool lad);
  matrix& matchlevels(const matrix& reference, float percentile, float increment);

  // Brightness/contrast templates (bctemplate.cpp). bctemplate records this plane's
  // statistics without changing it: the mean and RMS of its a-trous residual and the RMS
  // of each detail level (levels becomes L x 1; the requested count when 0 < requested <=
  // the automatic one, else the automatic one). bcadjust imposes them in place; a flat
  // residual or level stays flat.
  const matrix& bctemplate(matrix& levels, float& mean, float& rms, int requested) const;
  matrix& bcadjust(const matrix& levels, float mean, float rms);

  // Seams (seam.cpp). This = the width x height plane whose element (i, j) is the source's
  // element at the seam map's entry; the source may be this plane.
  matrix& gatherindex(const matrix& source, const SeamIndexMap& map, int width, int height);
  // The four neighbour differences into d (4 planes of this size): with diagonal off
  // right, below, left, above minus the centre; on: below-right, above-right, above-left,
  // below-left. "Below" is the next row index. Neighbours outside are reflected without
  // repeating the edge sample. neighbourdiffsadj adds the exact transpose of d into this.
  const matrix& neighbourdiffs(matrixarray& d, bool diagonal) const;
  matrix& neighbourdiffsadj(const matrixarray& d, bool diagonal);
  // Rebuilds this plane so that its neighbour differences approach the four targets, the
  // set pixels of the mask (when it has storage and w is not 0) held near their start
  // values with weight w: at most `iterations` conjugate-gradient steps on the normal
  // equations. No progress.
  matrix& gradientcg(int iterations, const matrixarray& targets, bool diagonal,
                     const bitmask* mask, float w);
  // Back-projection of enlargements (dejaggy.cpp, ops/resize/backproject.cpp). dejaggy
  // subtracts amount x (estimate - mean of its 8 neighbours) from every pixel of this
  // correction plane (the estimate's size) off the outermost rows and columns; nothing for
  // amount 0 or fewer than 3 rows. BackProject refines this estimate, an enlargement of the
  // input by a power of two, so that its reduction by the mode's kernel matches the input:
  // the residual enlarged by DdlEnlarge (order), scaled by its least-squares gain and added
  // while the residual's RMS falls (a step that does not lower it is not taken), up to
  // iterations1 times with the first-pass reduction mode1, then optional shock-filter
  // sharpening, then up to iterations2 times with the second-pass mode2. A mode outside its
  // table, or an estimate that is not a power-of-two enlargement of the input, skips its
  // pass.
  matrix& dejaggy(float amount, const matrix& estimate);
  matrix& BackProject(const matrix& input, float exitTolerance, bool scratch, int mode1, int order,
                      int iterations1, float regularization, int sharpenIterations,
                      float sharpenAmount, float edgeRejection, int mode2, int iterations2);

  // Presharpening kernels (presharpen.cpp). LoadKernel makes this plane the 21 x 21 kernel
  // of a reduction model (0-4) and scale (2-9) from a checked kernel table
  // (ReadKernelTable); presharpen makes this plane the input correlated with a kernel
  // blended with the identity by the amount (the kernel as it is at amount 1).
  matrix& LoadKernel(const matrix& table, int model, int scale);
  matrix& presharpen(const matrix& input, const matrix& kernel, float amount);
  // Registration (align.cpp). downsample: this = input reduced by the factor with the
  // kernel, rows then columns, sample i of a line from input factor*i - (K - factor)/2
  // onwards, whole-sample mirrored; sums in double.
  matrix& downsample(const matrix& input, const matrix& kernel, int factor);
  // Differences from a reference over the pixels whose bit in `exclude` is clear (all
  // without one): mean square, mean absolute and median absolute. Sums in double. With
  // no pixel left, or planes of different counts, there is no score: +infinity, which
  // never beats a real one.
  float maskedmse(const bitmask* exclude, const matrix& reference) const;
  float maskedmad(const bitmask* exclude, const matrix& reference) const;
  float maskedmedianad(const bitmask* exclude, const matrix& reference) const;
  // This = input shifted by s along rows (x) or columns (y), out(i) = in(i - s), with the
  // six Lanczos-3 taps; given marks (dimensioned to the input when they are not), sets
  // the bits of the samples whose stencil left the line.
  matrix& shiftx(const matrix& input, float s, bitmask* marks);
  matrix& shifty(const matrix& input, float s, bitmask* marks);
  // This plane shifted by (sx + o_i, sy + o_j) for the 3 x 3 offset pairs (rows first,
  // `exclude` plus the shifts' marks left out) against the reference by maskedmad; the
  // first strictly smaller cost than best replaces it and the pair. reset starts best at
  // 1e16.
  const matrix& refineshift(const matrix& offsets, const matrix& reference, float& sx, float& sy,
                            float& best, const bitmask* exclude, bool reset) const;
  // This = input sampled at (x - dx, y - dy) with the 6 x 6 table weights where the
  // fields cover the plane (a copy elsewhere); given marks, sets those whose stencil left.
  matrix& warpfield(const matrix& input, const matrix& dx, const matrix& dy,
                    const weighttable6& table, bitmask* marks);
  // A block field smoothed by the activity-weighted median over a Gaussian window of
  // sigma (gaussian(sigma, 3) taps, edge blocks repeated); sigma <= 0 leaves it, and a
  // window without activity takes its plain median.
  matrix& smoothfield(const matrix& activity, float sigma);
  // Blocks of the fractal (IFS) codec (ifsblocks.cpp). scaleoffset: x = a x + b.
  // maxneighbourdiff: the largest |difference| of two horizontal, vertical or diagonal
  // neighbours (0 for one sample). smooth3wx/smooth3wy: this = src with every interior
  // sample along rows (columns) (a prev + b centre + c next) / (a + b + c); the end
  // columns (rows) stay copies. isometry: this = the isometry `code` (0-7, IfsIsometry) of
  // src; any other code zeroes this plane at its size. reduce2/reduce3: this = src with
  // every 2 x 2 (3 x 3) cell replaced by its mean. cellmeans: this = the mean of the q x q
  // cell whose first sample is at every position where one fits (q 3, else 2), computed
  // as reduce2/reduce3 compute theirs, so a reduced block can be read from it.
  matrix& scaleoffset(float a, float b);
  float maxneighbourdiff() const;
  matrix& smooth3wx(const matrix& src, float a, float b, float c);
  matrix& smooth3wy(const matrix& src, float a, float b, float c);
  matrix& isometry(const matrix& src, int code);
  matrix& reduce2(const matrix& src);
  matrix& reduce3(const matrix& src);
  matrix& cellmeans(const matrix& src, int q);
  // Integer-factor reduction and the pseudo-inverse enlargement (downscale.cpp,
  // pseudoinverse.cpp, superrez.cpp). Kernel types: 0 box, 1 triangle, -1 to -5 the Keys
  // cubic of -0.5, -1, 0, -1.5, -2, 2 to 64 Lanczos of that order.
  // DownscaleKernel: this n x 1 kernel = the type sampled at offsets of 1/a from the centre
  // (between the middle taps for even a), a taps for the box, 2a (+1 when a is odd) for the
  // triangle, 4a (+1) for the cubics, 2ab (+1) for Lanczos b; scaled to sum 1. With radius >
  // 0 convolved with the Gaussian of sigma radius a, or with amount != 0 with (1 + amount)
  // identity - amount Gaussian. Another type, or a below 1, gives the empty kernel.
  matrix& DownscaleKernel(int a, int type, float radius, float amount);
  // This (N columns, a N rows) = the transpose of the reduction by a with the kernel: column
  // i holds the taps at rows i a - (len - a)/2 + k, rows outside dropped, nothing renormalised.
  matrix& decimationmatrix(const matrix& kernel, int a, int N);
  // this[i][j] = sum over k of B[k][i] A[k][j]; dimensioned to B.nx rows of A.nx.
  matrix& transposeproduct(const matrix& A, const matrix& B);
  // This kernel = the symmetric low-resolution prefilter g with which the base enlargement
  // followed by the reduction gives back the input, solved on a 99-sample model, its tails
  // below 2e-5 cut and scaled to sum 1. A singular model throws "Singular Matrix".
  matrix& pseudoinversekernel(int a, int reductionType, int baseType, float radius, float amount);
  // This plane correlated with the cached prefilter (built when the cache is empty) along rows
  // and columns, borders mirrored; left alone when the kernel is not shorter than both sides.
  matrix& pseudoinverseprefilter(int a, int reductionType, int baseType, matrix& cache,
                                 float radius, float amount);
  // This (a w x a h) = the separable base enlargement with shift 0 of the prefiltered low
  // plane; with subtract it is subtracted from the present values. Three progress ticks;
  // a base type without an enlargement (-4, -5, unknown) throws kUnknownBaseMessage.
  matrix& pseudoinverseenlarge(const matrix& low, int a, int reductionType, int baseType,
                               matrix& cache, bool subtract, float radius, float amount,
                               bool skipPrefilter);
  // "Super Rez" on this enlargement of low (a times its size): per iteration one tick, the
  // edge-stopping diffusion (weight type 1-4, another is off) and the diagonal curvature
  // step, then the re-projection X -= pseudoinverseenlarge(reduce(X) - low), which brings X's
  // reduction back close to low. Row blocks run on the parallel helper. Nothing for no
  // iterations, or when this plane is not a times low's size.
  matrix& superrez(const matrix& low, matrix& cache, int a, int reductionType, int baseType,
                   float step, float gradientScale, float jaggy, int iterations, int weightType,
                   float radius, float amount);
  // The New DDL enlargement of one plane by 2^k (newddl.cpp): DdlEnlarge with the turn and
  // the recentring, of the source or (presharpen) of its prefiltered copy, then the given
  // back-projection rounds against the reduction and "Super Rez" (only when one of the two
  // is on).
  matrix& NewDdlChannel(const matrix& source, int k, int reductionMethod, int baseMethod, int order,
                        float radius, float amount, int backProjections, float edgeParam1,
                        float edgeParam2, float jaggy, int superResIterations, int edgeType,
                        bool presharpen);
  // The training weights of the Xin Li models (xinli.cpp), on a plane already dimensioned
  // n x n: element (i, j) = d^-p, d the distance from ((n-1)/2, (n-1)/2), in single
  // precision, then scaled so that the elements average 1.
  matrix& radialweights(float p);

  // Texture inpainting (texture.cpp). texturemodel on this W x H sample fits the causal
  // predictor of a pixel (x, y) from the other d = w h - 1 pixels (x + i, y + j) of its
  // w x h block, row by row, by least squares with the prior rows 1e-6 c_k = 1e-6/d, over
  // the block origins 1 <= x < W - w, 1 <= y < H - h: coefficients becomes d x 1, residuals
  // (W - w) x (H - h) holding the misfit of every origin (0 elsewhere). A sample not larger
  // than the block leaves both empty. texturefill replaces the pixels of the region (every
  // pixel without one) but row 0 and column 0, from the top right in reverse scan order, by
  // the prediction from their neighbourhood (reflected past the right and top edges) plus a
  // residual drawn at random; nothing when the coefficient count is not w h - 1.
  const matrix& texturemodel(matrix& coefficients, matrix& residuals, int w, int h) const;
  matrix& texturefill(const matrix& coefficients, const matrix& residuals, const bitmask* region,
                      int w, int h);
  // Windowless Xin Li (windowless.cpp, windowlessfit.cpp). A doubled plane X (2W x 2H)
  // holds source sample (c, r) at (2c, 2r); reads past its edges reflect on the whole
  // sample. Weight lists hold 16 or 4 planes of W x H, one weight per stencil offset and
  // source pixel; class maps one byte per source pixel at r W + c. The regularisers map a
  // plane to its (W-2) x (H-2) interior; every adjoint is the transpose of its forward
  // operator, sums of squares are in double. Rows run in blocks on the parallel helper.
  // diagweights/hvweights: on the source plane, the direction classes of the diagonal or
  // axial model (0 none, 1 main diagonal or horizontal, 2 the other); with makePrior the
  // list is made 16 or 4 planes holding each pixel's class prior.
  const matrix& diagweights(WindowlessWeights& w, cvector<uint8_t>& classes, bool makePrior,
                            bool sixteen) const;
  const matrix& hvweights(WindowlessWeights& w, cvector<uint8_t>& classes, bool makePrior,
                          bool sixteen) const;
  // The nine-class map of the direction along which the source plane bends least.
  const matrix& edgeclasses(cvector<uint8_t>& edges) const;
  // This (W x H) = the model of X with the weights; the adjoints, members of X, add
  // r times X at offset k into plane k (made K zero planes first with create).
  matrix& diagmodel(const matrix& X, const WindowlessWeights& w);
  matrix& hvmodel(const matrix& X, const WindowlessWeights& w);
  const matrix& diagmodeladjoint(const matrix& r, WindowlessWeights& w, bool create,
                                 bool sixteen) const;
  const matrix& hvmodeladjoint(const matrix& r, WindowlessWeights& w, bool create,
                               bool sixteen) const;
  // Prior rows (W H columns, one row per plane): a (prior - w), a w, and its adjoint.
  matrix& priorresidual(float a, const cvector<uint8_t>& classes, const WindowlessWeights& w);
  matrix& priorforward(float a, const WindowlessWeights& w);
  const matrix& prioradjoint(float a, WindowlessWeights& w) const;
  // Sum-to-one rows (W x H): a (1 - sum w), a sum w, and its adjoint.
  matrix& sumresidual(float a, const WindowlessWeights& w);
  matrix& sumforward(float a, const WindowlessWeights& w);
  const matrix& sumadjoint(float a, WindowlessWeights& w) const;
  // a (8 centre - the 8 neighbours) on the interior, its energy and its adjoint (this
  // W x H; zeroFirst dimensions and zeroes it first, otherwise it adds).
  matrix& laplacian8(const matrix& p, float a);
  double laplacian8energy(const matrix& p, float a);
  matrix& laplacian8adjoint(const matrix& q, float a, bool zeroFirst);
  // a times the stencil of each interior pixel's edge class, its energy and its adjoint.
  matrix& classstencil(const matrix& p, float a, const cvector<uint8_t>& edges);
  double classstencilenergy(const matrix& p, float a, const cvector<uint8_t>& edges);
  matrix& classstenciladjoint(const matrix& q, float a, const cvector<uint8_t>& edges,
                              bool zeroFirst);
  // The fills of the midpoints of this doubled plane from weights moved half a sample
  // forward; with clamp a value stays within its four inner neighbours. No ticks.
  matrix& filldiagonal(const WindowlessWeights& w, bool clamp);
  matrix& fillhorizontal(const WindowlessWeights& w, bool clamp);
  matrix& fillvertical(const WindowlessWeights& w, bool clamp);
  // This = 2W x 2H zeros with y on the even grid; this = y doubled by Lanczos-3 with
  // y(c, r) at (2c, 2r).
  matrix& spread2(const matrix& y);
  matrix& lanczos3double(const matrix& y);
  // On the source plane y: fits w to predict y from X by conjugate gradients on the
  // regularised least squares (terms whose weight is not above 0 left out), at most
  // iterations - 1 steps, one tick each, ending early when the curvature is not positive
  // and finite; reports to status pane 4. An empty w starts at 0.
  const matrix& fitweights(const matrix& X, WindowlessWeights& w, float a,
                           const cvector<uint8_t>& classes, float b, float c, float d,
                           const cvector<uint8_t>& edges, int iterations, bool axial,
                           bool sixteen) const;
  // Enlarges this plane by 2^k: per doubling the axial and the diagonal fit against the
  // Lanczos-3 estimate and the fills; the weights wait in "hv%d.%d.mat" and (keepFiles)
  // "d%d.%d.mat". A plane side below 3 is doubled by Lanczos-3 alone. The result lies
  // half an output sample off the centred grid.
  matrix& windowlessenlarge(float a, float b, float c, float d, int iterations, bool clamp, int k,
                            bool keepFiles, bool priorStart, bool sixteen);
  // The same doublings with the stored weights of doublings 0 .. k-1.
  matrix& windowlessreapply(bool clamp, int k, bool sixteen);
  // Recentres this enlargement of y by half an output sample and corrects it by
  // `iterations` back-projections of its reduction's error through the stored weights;
  // nothing for no iterations. The base method is not used.
  matrix& windowlessbackproject(const matrix& y, int iterations, int reductionMethod,
                                int baseMethod, float radius, float amount, int k, bool sixteen);
};

// max(3, trunc(2 k sigma + 0.5)), plus 1 when even (at most 2^30 + 1): the taps of
// matrix::gaussian.
int GaussianLength(float sigma, float k);

// The automatic level count of a brightness/contrast template of a w x h plane: one more
// than the halvings of the shorter side while it exceeds 15.
int TemplateLevelCount(int w, int h);

// The value at which the weights, added in the order of ascending values, first exceed
// one half (the largest value when they never do); with one or two values the first unless
// the second weighs at least as much. Weights and values have the same element count.
float WeightedMedian(const matrix& weights, const matrix& values);

// Matches result to the input's mean and contrast: both lose their means (the input is
// changed) and result = g result + input mean, g the least-squares gain of result onto the
// input (1 when result is flat).
matrix& RescaleToInput(matrix& result, matrix& input);

// a - b, element by element, in a new plane of a's shape.
matrix MatrixDifference(const matrix& a, const matrix& b);

// X with X A = B, on copies: A and B are unchanged. Throws "Singular Matrix".
void SolveLinear(matrix& result, const matrix& b, const matrix& a);

// Scratch files that no path outlives, cancels and exceptions included: every name given
// is deleted when the object ends.
class ScratchFiles {
 public:
  explicit ScratchFiles(std::vector<std::string> names) : names_(std::move(names)) {}
  ~ScratchFiles() {
    for (const std::string& name : names_) matrix::remove(name);
  }
  ScratchFiles(const ScratchFiles&) = delete;
  ScratchFiles& operator=(const ScratchFiles&) = delete;
  const std::string& operator[](size_t k) const { return names_[k]; }
  size_t size() const { return names_.size(); }

 private:
  std::vector<std::string> names_;
};

// The numbered name forms of the scratch files.
std::string NumberedName(const std::string& prefix, int number, const std::string& extension);
std::string ArrayElementName(const std::string& prefix, int arrayNumber, int element);

// The five smoothers of the unsharp "Mode": 0 Gaussian (sigma = radius), 1 disc median,
// 2 disc WMMR, 3 disc mean, 4 the Mexican hat (logresponse); any other mode is 0.
Smoother UnsharpSmoother(int mode);
// With m = |d|: below t1 the pixel goes to (amount above 1) or towards the smoothed value,
// from t2 up to below t3 the detail is amplified by amount, otherwise nothing changes.
float UnsharpResponse(float d, float amount, float t1, float t2, float t3);
// The 1-D Gaussian g (sum 1) and Mexican hat h of sigma, so that g(x)h(y) + h(x)g(y) has
// an L1 norm of 1 and, with zeroMean, a sum of 0; GaussianLength(sigma, 3) taps. work
// receives that 2-D kernel. Without a positive finite sigma h is 0.
void MexicanHatKernels(float sigma, matrix& g, matrix& h, bool zeroMean, matrix& work);
// The Poisson sharpener's gain of pyramid level i: amount at level 0; above it
// scale * (the gain below) + 1 in single precision when scale > 0, else 1.
float PoissonLevelGain(float amount, float scale, int level);

// Kernel types of the reduction list (-5 to 5) and of the base enlargement list (-3 to 5,
// 7, 15), and the refusal of one outside them.
bool IsReductionType(int type);
bool IsBaseType(int type);
inline constexpr const char* kUnknownReductionMessage = "Unknown reduction method";
inline constexpr const char* kUnknownBaseMessage = "Unknown base enlargement method";
// Scales a kernel's elements to sum 1 (unless the sum is 0 or not finite).
matrix& NormaliseSum(matrix& k);
// a b, saturated at the largest int so that an absurd size reaches the allocation's refusal.
int SaturatedProduct(int a, int b);
