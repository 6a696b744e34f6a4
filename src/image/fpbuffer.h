#pragma once
// `fpbuffer`: the floating-point colour image of one layer. Three or four channel planes
// in one colour space, the conversion callbacks of that space, the image's own mask, and
// four views that always borrow the planes' current blocks.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/colorspace.h"
#include "image/pixel.h"
#include "numeric/bitmask.h"
#include "numeric/matrix.h"

class dmatrix;
class matrixarray;
class rgbbuffer;
struct NoiseProfile;
struct IfsPlaneParams;
struct IfsDecoding;
struct PostProcessParams;
struct FusionWeightParams;

class fpbuffer {
 public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t n = 0;
  int32_t channels = 0;
  CSpaceCode code = 0;
  Convert3Fn fromrgb = nullptr;
  Convert3Fn torgb = nullptr;
  ToFourFn fromrgb4 = nullptr;
  FromFourFn torgb4 = nullptr;
  bitmask mask;
  matrix view[4];
  matrix plane[4];

  fpbuffer();
  fpbuffer(int w, int h, CSpaceCode c);
  // Copies size, code and channels; the copy starts without a mask.
  fpbuffer(const fpbuffer& src);
  fpbuffer& operator=(const fpbuffer& src) { return copy(src); }
  ~fpbuffer();

  // Re-dimensions; unless size and code are all unchanged the values become 0 and the
  // mask is emptied.
  fpbuffer& dim(int w, int h, CSpaceCode c);
  // The same without clearing the values: for a caller that writes every one of them
  // before anything reads the image (clearing a fresh block costs as much as filling it).
  fpbuffer& dimunset(int w, int h, CSpaceCode c);
  // dim to src, then its planes, and its mask when it has one.
  fpbuffer& copy(const fpbuffer& src);
  // Empties the image; with keepCode the colour space stays for a later dim.
  fpbuffer& clear(bool keepCode = false);
  fpbuffer& zero();
  // Relabels the image (callbacks, channel count) without touching values.
  fpbuffer& setcode(CSpaceCode c);
  // Converts every pixel into the space of c, through RGB.
  fpbuffer& convert(CSpaceCode c);
  // Fills the dimensioned image from a 24-bit bottom-up bitmap of the same size, given
  // the address of its top picture row.
  fpbuffer& fromdib(const uint8_t* topRow);
  // Renders into a 24-bit bottom-up bitmap of the same size (top-row address) by the byte
  // rule; with a mask only where its bit is set. Row padding is never written.
  const fpbuffer& todib(uint8_t* topRow, const bitmask* only = nullptr) const;
  // Every channel plane = the source's plane resampled by the kernel matrices kx (one row
  // per output column) and ky (one per output row). With startProgress the bar starts for
  // (rows of kx + rows of ky) x 3 ticks; without countProgress the ticks do not count.
  // Returns false (it cannot be cancelled).
  bool resamplefrom(const fpbuffer& source, const matrix& kx, const matrix& ky, bool countProgress,
                    bool startProgress);
  // Every plane resampled in place. True when the user cancelled: the image is then partly
  // resampled and the caller discards it.
  bool resample(const matrix& kx, const matrix& ky, bool countProgress, bool startProgress);
  // out = this image resampled the same way, with the same ticks, without its mask; this
  // image is left as it is. True when the user cancelled (out is then partly written).
  bool resampleinto(fpbuffer& out, const matrix& kx, const matrix& ky, bool countProgress,
                    bool startProgress) const;
  fpbuffer& scale(float c);
  fpbuffer& add(const fpbuffer& other);
  // Takes the size from plane 0 and re-attaches the views, after callers re-dimensioned
  // planes directly.
  fpbuffer& syncviews();
  fpbuffer& clearmask();
  // Mask building (fpmasks.cpp); both make the image mask present first.
  // ORs into the mask the pixels within tolerance t of colour c over the visible channels,
  // each channel weighted by the inverse of its nominal range (norm as bitmask::bycolor2).
  fpbuffer& maskbycolor(const fpixel4& c, float t, int norm);
  // Clears the mask and marks the edges (type 0 Sobel, 1 Prewitt, 2 zero crossings of the
  // Laplacian of Gaussian of the given sigma; other types mark nothing) of every channel,
  // or with cond only of the visible ones.
  fpbuffer& edgemask(float t, bool cond, int type, float sigma, bool zeroMean);
  void ranges(fpixel4& lo, fpixel4& hi) const;
  // The histogram curves of channels 1 to 3 (and 4 of a four-channel image) over the
  // space's nominal ranges, scaled together so that the highest bin is 255. When no value
  // falls in range the curves keep what they held.
  void histogram(uint8_t (*curves)[256]) const;
  // The requested channel (1-based) when not 0, else the space's dominant one.
  int dominantchannel(int requested) const;

  // Tiles: this image, sized by the caller, is filled from the source's channels 0-2
  // starting at (x0, y0); positions outside the source are mirrored (whole-sample rule).
  fpbuffer& gettile(const fpbuffer& source, int x0, int y0);
  // The same from a 24-bit buffer, through this tile's forward conversion.
  fpbuffer& gettilergb(const rgbbuffer& source, int x0, int y0);
  // Copies the tile without its margins into channels 0-2 so that its first kept pixel
  // lands at (x0, y0); positions outside are skipped, with a mask only set ones written.
  fpbuffer& puttile(int x0, int y0, const fpbuffer& tile, const bitmask* only, int left, int right,
                    int bottom, int top);

  // Keeps the w x h block whose lower-left pixel is (x, y), with its mask. The block is
  // cut to the image; nothing happens to an empty image. Either the whole image is cropped
  // or, when memory runs out, it stays as it was.
  fpbuffer& crop(int x, int y, int w, int h);

  // Whole-pixel geometry (fpgeometry.cpp): every channel plane and the mask move
  // together; an empty image stays as it is. rotate90 turns a quarter counter-clockwise
  // as displayed (the bottom edge becomes the right edge). rotate90 and roll make their
  // new planes before giving up the old, so running out of memory leaves the image as it
  // was. roll shifts circularly: positive dx towards higher
  // columns, positive dy towards higher rows; a distance of 0 or at least the width
  // (height) leaves that direction alone.
  fpbuffer& rotate90();
  fpbuffer& hflip();
  fpbuffer& vflip();
  fpbuffer& roll(int dx, int dy);
  // Sub-pixel warps of every channel (fpgeometry.cpp). Each channel is sampled through the
  // forward record with the 1000-entry Lanczos-3 table, then `iterations` back-projection
  // passes move it towards an exact inverse: R = S - warp(channel, inverse), channel +=
  // 0.5 warp(R, forward), S being the channel before. Channel 2 marks the mask (when the
  // image has one) where its stencils left the picture: a similarity clears the mask first,
  // a homography adds to it. The progress bar counts one tick per row of every warp; a
  // cancel throws Cancelled with the image part-way.
  fpbuffer& warp(const matrix& forward, const matrix& inverse, bool perspective, int iterations);
  // Turns by angle degrees counter-clockwise as displayed about the centre, then moves by
  // (dx, dy); with inverse, the exact inverse of that.
  fpbuffer& rotate(float angle, float dx, float dy, bool inverse, int iterations);
  // An RGB colour (0-255) in this image's colour space; the fourth component is 0 for a
  // three-channel space.
  fpixel4 colourfromrgb(float r, float g, float b) const;

  // Two-layer combinations (fplayers.cpp): v, this image's value, and w, the other's at
  // the same pixel, over the channels and pixels of the operation scope of the selection
  // and Cond. Nothing happens when the other image differs in width, height or channel
  // count.
  fpbuffer& copyfrom(const fpbuffer& other, bitmask* selection, bool cond);  // v = w
  // v + c w (c = 1 adds, c = -1 subtracts).
  fpbuffer& addscaledlayer(float c, const fpbuffer& other, bitmask* selection, bool cond);
  // t w + (1 - t) v, with 1 - t rounded to float first.
  fpbuffer& blendlayer(float t, const fpbuffer& other, bitmask* selection, bool cond);
  fpbuffer& minlayer(const fpbuffer& other, bitmask* selection, bool cond);
  fpbuffer& maxlayer(const fpbuffer& other, bitmask* selection, bool cond);
  // Each processed channel i becomes its disc mean of per-pixel radius |w| of channel i
  // (matrix::gradientlensblur), over the scope's pixels; another size or channel count,
  // an empty other image included, changes nothing.
  fpbuffer& gradientlensblur(const fpbuffer& other, bitmask* selection, bool cond);
  // Copies the source's channels into this image with the source's top-left pixel x0
  // columns from the left and y0 rows from the top; what falls outside is cut off, and
  // nothing happens when (x0, y0) lies outside this image.
  fpbuffer& paste(int x0, int y0, const fpbuffer& source);
  // Brings both images to the larger width and height: each one of another size keeps its
  // pixels at their columns and rows (and its mask bits) and the new pixels take the RGB
  // colour converted into a's colour space. An empty image counts as 0 x 0; two empty ones
  // stay empty. Both planes are made before either image changes.
  static void matchcanvas(fpbuffer& a, fpbuffer& b, float r, float g, float blue);

  // Point and colour operations on the channels and pixels of the operation scope
  // (image/opscope.h) that the selection and Cond give. Built in ops/basic, the lowest
  // operation library, which every family that calls them links.
  using Colour = std::array<float, 4>;
  // v + x*(hi - lo) of the channel's nominal range.
  fpbuffer& addconstant(float x, bitmask* selection, bool cond);
  fpbuffer& multiply(float m, bitmask* selection, bool cond);
  // The power p anchored at the channel's range (matrix::gamma).
  fpbuffer& gamma(double p, bitmask* selection, bool cond);
  // The same, leaving the image as it was when a channel's tick cancels or anything throws:
  // every processed channel but the last (no tick follows it) is copied, on all threads,
  // before it changes, and the copies are put back. The caller need keep no copy.
  fpbuffer& gammaguarded(double p, bitmask* selection, bool cond);
  // A tone curve of [0, 1] (a lookup table, or f with parameter c; nothing without f) on
  // every processed channel over its range; with hdr, and only without a selection, on
  // the luminance of the image scaled to [0, 255] in RGB, the colour ratios raised to s.
  fpbuffer& applycurve(const dmatrix& table, bitmask* selection, bool cond, bool hdr, double s);
  fpbuffer& applytonecurve(ToneCurveFn f, double c, bitmask* selection, bool cond, bool hdr,
                           double s);
  // Moves the minimum by x of the range and keeps the maximum (in CMY and Log CMY keeps 0
  // and scales). A factor that comes out infinite changes nothing.
  fpbuffer& changeminimum(float x, bitmask* selection, bool cond);
  fpbuffer& fill(float value, bitmask* selection, bool cond);
  // hi - v of the channel's range.
  fpbuffer& negative(bitmask* selection, bool cond);
  // The ramp from colour c0 at point p0 to c1 at p1; nothing when the points coincide.
  fpbuffer& gradient(const Colour& c0, int x0, int y0, const Colour& c1, int x1, int y1,
                     bitmask* selection, bool cond);
  // Negatives become 0 in the channels Cond gives (every pixel).
  fpbuffer& clipnegative(bool cond);
  // Histogram equalisation of the channels Cond gives (every pixel), onto the channels'
  // ranges; one progress tick per channel, and a cancel there throws Cancelled.
  fpbuffer& equalize(bool cond);
  // Stretches every channel (the pixels of the image's own mask when it has one) so that
  // the extremes over all channels, in RGB, become 0 and 255, from a copy smoothed by a
  // disc median of the radius when it is not 0. Only finite values count; without two
  // different ones nothing is stretched. The colour space comes back afterwards.
  fpbuffer& scaleshift(int radius);
  // The mean, median or WMMR value of each processed channel over the scope's pixels;
  // 0 for a channel not processed or when no pixel is selected.
  Colour meancolor(bitmask* selection, bool cond);
  Colour mediancolor(bitmask* selection, bool cond);
  Colour wmmrcolor(bitmask* selection, bool cond);
  // Per processed channel i: v = c[i], v = v + x*c[i], v = (1 - g)*v + g*c[i].
  fpbuffer& fillcolor(const Colour& c, bitmask* selection, bool cond);
  fpbuffer& addcolor(float x, const Colour& c, bitmask* selection, bool cond);
  fpbuffer& blendcolor(float g, const Colour& c, bitmask* selection, bool cond);

  // The local window filters on the channels of this image (fpfilters.cpp). average3x3
  // smooths the visible channels, whatever Cond, without a mask; the others take the
  // channels and pixels of OperationScope (a selection may be reduced to the image mask in
  // place) and run their passes on each channel.
  fpbuffer& average3x3();
  fpbuffer& lensblur(int passes, int r, bool maskedInput, bitmask* selection, bool cond);
  // Without gaussian a disc median of radius trunc(radius + 0.5), at least 1; with it the
  // median weighted by the outer product of the Gaussian of that sigma (6 sigma wide).
  fpbuffer& median(int passes, float radius, bool maskedInput, bitmask* selection, bool cond,
                   bool gaussian);
  fpbuffer& wmmr(int passes, int r, bool maskedInput, bitmask* selection, bool cond);
  // distribution: 1 Cauchy, 2 Laplace, 4 Uniform, any other the Gaussian (0 "None" too).
  fpbuffer& bilateral(float spread, int passes, int size, int distribution, bitmask* selection,
                      bool cond, bool useMedian);
  // Non-local means (fpnlmeans.cpp) with the search radius b and the patch radius c:
  // distribution 1 Cauchy, 2 Laplace, 4 Uniform, any other the Gaussian. Combined, one
  // weight per candidate from channels 0-2, which are all written; otherwise each channel
  // Cond gives on its own. Starts the progress bar and ticks once per row (and channel);
  // throws the radii message when the image is smaller than a search or patch window.
  fpbuffer& nlmeans(float h, int b, int c, bool median, int distribution, bool combined, bool cond,
                    bool modification);

  // Smoothing along the scan paths (fpsmoothing.cpp). The colour forms read channels 0-2
  // as one vector and write all three (a fourth channel is left alone); with a mask of the
  // image's size they work on a tile around its bounding box and change only its pixels.
  // hysteresiscolour: count passes of the colour backlash of tolerance d along the four
  // paths, each channel then matched to its mean and contrast before the pass.
  // bilateralcolour: count passes of the colour bilateral mean, the paths averaged.
  fpbuffer& hysteresiscolour(int count, float d, const bitmask* mask);
  fpbuffer& bilateralcolour(int count, float s, int r, const bitmask* mask);
  // count passes merging the four colour backlash results in each channel's Laplacian
  // pyramid (smallest detail kept, coarsest level averaged), then with halo > 0 that many
  // conjugate-gradient iterations towards the smallest gradients; starts the progress bar
  // for count x halo x 3 ticks.
  fpbuffer& hysteresismultiscale(int count, float d, int halo);
  // The drivers of the commands: iterations 0 does nothing; combine takes the colour form,
  // otherwise each channel Cond gives runs on its own. hysteresis takes no selection;
  // hysteresissmooth (the multi-scale form) leaves the stretch to [0, 255] of the per
  // channel form to its caller; fastbilateral is limited by the selection alone (the
  // image's own mask is not read) and, combined, writes channels 0-2 whatever Cond.
  fpbuffer& hysteresis(float d, int iterations, bool combine, bool cond, const bitmask* mask);
  fpbuffer& hysteresissmooth(float d, int iterations, int halo, bool combine, bool cond);
  fpbuffer& fastbilateral(float s, int r, int iterations, bool combine, bool cond,
                          bitmask* selection);

  // Fast noise removal (fpdenoise.cpp): the channels 0-2 whose visible bit the profile's
  // code word sets are split into the profile's a-trous levels, each level soft-thresholded
  // by its factor (and rescaled by the channel's autosharpen mode) and added back, in the
  // profile's colour space; the image returns to its own afterwards. Nothing for a level
  // count outside 1 to 10.
  fpbuffer& fastnoiseremoval(const NoiseProfile& profile);

  // The sharpeners (fpsharpen.cpp), on the channels and pixels of OperationScope. unsharp
  // runs matrix::unsharp on each processed channel with the thresholds taken as fractions
  // of the channel's nominal range; xsharpen runs `iterations` passes of matrix::xsharpen.
  fpbuffer& unsharp(Smoother smoother, int radius, UnsharpResponseFn response, float amount,
                    float t1, float t2, float t3, bitmask* selection, bool cond);
  fpbuffer& xsharpen(int w, float threshold, float amount, int iterations, bitmask* selection,
                     bool cond);
  // Periodic smoothing: `iterations` passes of matrix::neighbourhood with the first count
  // offsets on the channels Cond gives (every pixel). function: 1 WMMR, 2 WMMR-average,
  // 3 mean, any other the median.
  fpbuffer& periodicsmooth(const int32_t* dx, const int32_t* dy, int count, int function,
                           int iterations, bool cond);
  // matrix::poissonsharpen on each channel Cond gives (every pixel), after starting the
  // progress bar with iterations x channels ticks; nothing for no iterations.
  fpbuffer& poissonsharpen(int iterations, float amount, float scale, bool cond);
  // Jensen edge enhancement (fpjensen.cpp) with the fit window 2w - 1, the acceptance a,
  // the edge threshold b, the blur k, the dominant channel (1-3, 0 the colour space's),
  // robust (shortest-half) or mean side values. jensenedgescore: the edge candidates of
  // the dominant channel replace the mask (the selection, or under Cond the image mask),
  // and every candidate's accepted model is blended into the w x w block around it; with
  // defringing (YCbCr, YCbCr2 or YUV only, else a message) only channels 2 and 3 change.
  // jensenedges: the core once, or once per strip of JensenStrips with a mask of the
  // strip's rows in place of the selection.
  fpbuffer& jensenedges(float a, float b, float k, int w, int dominant, bool robust,
                        bitmask* selection, bool cond, int segments, bool defringing);
  fpbuffer& jensenedgescore(float a, float b, float k, int w, int dominant, bool robust,
                            bitmask* selection, bool cond, bool defringing);

  // Diffusion inpainting of channels 0-2 (fpinpaint.cpp) over the selection intersected
  // with the image mask (whatever Cond), or whichever of them exists; nothing without
  // either or on an image smaller than 3 x 3. With initialize the region is first filled
  // (matrix::inpaintinit); then `iterations` steps of size step, the structure tensor of
  // the dominant channel (1-3, 4 all three) smoothed by sigma and renewed every
  // `interval` steps, axis differences in mode 1, diagonal ones in mode 2. Border pixels
  // change only in the initial fill; a fourth channel is left alone.
  fpbuffer& tschumperleinpaint(int iterations, float sigma, float step, bitmask* selection,
                               int dominant, int interval, int mode, bool initialize,
                               float parameter, float tolerance);

  // Texture inpainting (src/ops/inpaint/texture.cpp); model holds coefficients 0-2, then
  // residuals 0-2. recordtexture fits channels 0-2 (whatever the visible channels) on the
  // W x H rectangle from column x0, row y0, which lies inside the image; the model changes
  // only when all three fits are done. texturefill fills channels 0-2 under the operation
  // scope (Cond, the image mask, the selection); nothing unless all six hold data.
  fpbuffer& recordtexture(std::array<matrix, 6>& model, int x0, int y0, int W, int H, int w,
                          int h);
  fpbuffer& texturefill(const std::array<matrix, 6>& model, int w, int h, bitmask* selection,
                        bool cond);

  // The orientation-steered filters (fppde.cpp). shockfilter: with Cond on the visible
  // channels, else all; the image mask is always ANDed into the selection (in place) or
  // used as it. Without a selection each channel takes `iterations` shock updates, the
  // direction field rebuilt from its current values before each; with one, a window of the
  // selection's bounding box plus a margin of about 3 sigma is cut (reflected beyond the
  // image), filtered with the window's borders as its own, and its selected pixels written
  // back. Nothing for no iterations or an image narrower or lower than 3 pixels.
  fpbuffer& shockfilter(int iterations, float sigma, float edgeFactor, float step,
                        bitmask* selection, bool cond);
  // Tschumperle regularization (fptschumperle.cpp) of channels 0-2, invisible ones too,
  // never a fourth; the image mask always ANDed into the selection or used as it. Every
  // `recalculationInterval` iterations (below 1 counts as 1) the colour structure tensor of
  // mode 1 (rows and columns) or any other mode (the diagonals) is smoothed by sigma and
  // turned into the diffusion tensor; every iteration adds trace(T H) to each channel, H
  // its Hessian in the same frame. With a selection the work covers its bounding box grown
  // by an odd margin of about 4 sigma, clipped to the image, and only selected pixels
  // change; neighbours are reflected at the image's borders. Nothing for no iterations or
  // an image narrower or lower than 3 pixels.
  fpbuffer& tschumperle(int iterations, float sigma, float blurStep, float edgeStep,
                        float blurParameter, float edgeParameter, int mode,
                        int recalculationInterval, bitmask* selection);
  // Isophote smoothing (fppde.cpp): matrix::isophotesmooth on the channels and pixels of
  // OperationScope.
  fpbuffer& isophote(int iterations, float coefficient, int modulus, int offset, int mode,
                     bitmask* selection, bool cond);
  // Presharpening (ops/resize/presharpen.cpp): the channels that the Cond rule picks
  // (cond as activeOnly) correlated with the kernel of a reduction model (0-4) and a
  // scale (2-9) from the "Kernels" file, blended with the identity by the amount. A model
  // or scale out of range, or a missing or damaged file, shows its message and changes
  // nothing.
  fpbuffer& presharpen(int model, int scale, float amount, bool activeOnly);

  // Seam carving (ops/resize/seamcarve.cpp). The marks of the regions seams avoid or
  // pass through live in the pixel values until the carving: markavoidance sets channels
  // 2 and 3 of the operation scope's pixels (Cond, image mask, selection) to -1e16,
  // markremoval channels 1 and 3. With no selection at all they fill channel 2 (1) with
  // -1e-16 and channel 3 with -1e16 instead, which clears those marks.
  fpbuffer& markavoidance(bitmask* selection, bool cond);
  fpbuffer& markremoval(bitmask* selection, bool cond);
  // Content-aware resizing to w x h (each between half the size less 1 and twice it, and
  // at least 1, else the bounds message is thrown as a TextException): seams of least
  // energy removed, or the first ones found repeated, marked pixels given the avoidance or
  // removal energy. The image carved is the unmarked copy when one of this size is given
  // (the copy is then emptied); marks without it throw the missing-image message. Energy
  // types 0-11 (6-11: the energies of 0-5 in YCbCr2 or Log RGB); with update the energy
  // around each seam is computed again; iterations above 0 rebuild each channel from its
  // carried neighbour differences, diagonal ones with diagonal, the marked pixels held
  // with weight. The image is left as it was when this throws.
  fpbuffer& seamcarve(fpbuffer* unmarked, int w, int h, float avoidance, float removal, int type,
                      bool update, int iterations, bool diagonal, float weight);
  // The energy of types 0-5 of this image as it stands, into a plane of its size.
  const fpbuffer& seamenergy(matrix& energy, int type) const;

  // The tone maps (ops/stacking, tonemap.cpp): the image in RGB stretched to [0, 255], its
  // luminance compressed, the colour ratios raised to the saturation and put back, the
  // result stretched to [0, 255] from extremes smoothed by the outlier radius and returned
  // to its colour space. Tone Map 1 divides the luminance by its hysteresis-smoothed local
  // level (ticks: hysteresis x halo iterations); Tone Map 2 rebuilds the log luminance
  // from compressed gradients of `levels` levels (0 automatic) by `iterations` ticking
  // conjugate-gradient steps, preset being a tone curve number. A cancel throws Cancelled
  // with the image part-way.
  fpbuffer& tonemap1(float k, float saturation, float sharpener, int hysteresisIterations,
                     float hysteresisTolerance, int haloIterations, int outlierRadius);
  fpbuffer& tonemap2(int iterations, int levels, float saturation, bool equalize, int preset,
                     double c, bool diagonal, bool magnitudes, int outlierRadius);
  // Combine Sharpest Features (ops/stacking, sharpest.cpp): each channel Cond gives that
  // both images have (planes of one size) is rebuilt from the stronger, pixel by pixel, of
  // its own and the other's diagonal differences, by `iterations` ticking conjugate-
  // gradient steps on one level or on gradient pyramids. The other image is not changed.
  fpbuffer& combinesharpest(const fpbuffer& other, int iterations, bool usePyramid, bool cond);
  // Exposure fusion (ops/stacking, fusion.cpp), on channels 0-2 in RGB. localcontrast:
  // k = the contrast of every pixel against its 8 neighbours (mirrored borders) averaged
  // over the channels, by mode: 1 the distance to their mean, 2 their RMS difference, any
  // other the largest difference; with wc < 0 runningMax (made and zeroed when empty)
  // keeps the largest k of all calls. fusionweight: w = the pixels' weights from the
  // contrast plane k, added into sum (both made, sum zeroed, when empty).
  const fpbuffer& localcontrast(matrix& k, matrix& runningMax, float wc, int mode) const;
  const fpbuffer& fusionweight(matrix& w, matrix& sum, const matrix& k,
                               const FusionWeightParams& p) const;

  // Integer-factor enlargements (ops/resize). Every channel waits in "temp10.mat",
  // "temp20.mat", ... while one is worked on (none is left behind); the mask is resampled by
  // the factor with shift 0. A shortcut (1 YCbCr, 2 YCbCr2) converts for the work and back,
  // and only the luminance is refined. A factor, order or kernel type outside the lists, and
  // a singular prefilter model ("Singular Matrix"), throw before anything changes; a later
  // failure or cancel throws with the image emptied.
  // pseudoinverseenlarge: each channel by a with the pseudo-inverse of the reduction, then
  // "Super Rez" with the given fields.
  fpbuffer& pseudoinverseenlarge(int a, int reductionType, int baseType, int shortcut, float radius,
                                 float amount, const PostProcessParams& superRes);
  // Every channel reduced by a with DownscaleKernel; a size that a does not divide shows
  // "The dimensions of the test image must be exactly divisible by the scale factor" and
  // changes nothing.
  fpbuffer& reducetest(int a, int reductionType, float radius, float amount);
  // New DDL by 2^k: NewDdlChannel on every channel, or with neither back-projection nor
  // presharpening (and for the chrominance of a shortcut) DdlEnlarge with one shared list
  // of direction maps.
  fpbuffer& newddl(int k, int reductionMethod, int baseMethod, int order, int shortcut,
                   float radius, float amount, int backProjections, const PostProcessParams& params,
                   bool presharpen);
  // Windowless Xin Li by 2^k (ops/resize/windowless.cpp): each channel doubled k times
  // by matrix::windowlessenlarge with the weights a (smoothness), b (prior), c (sum to one)
  // and d (directional), then backProjections rounds of matrix::windowlessbackproject,
  // which centre it, and "Super Rez" with params; with a shortcut the chrominance takes the
  // luminance's weights through matrix::windowlessreapply. A fit that does not fit in
  // memory is refused as an allocation before anything changes.
  fpbuffer& windowless(float a, float b, float c, float d, int iterations, bool clamp,
                       int shortcut, int k, bool priorStart, bool sixteen, int backProjections,
                       int reductionMethod, int baseMethod, float radius, float amount,
                       const PostProcessParams& params);

  bool empty() const { return n == 0; }
  // Exchanges two images whole (planes, mask, code), without copying pixels.
  void swapwith(fpbuffer& other) noexcept;

  // FDIB files. Each returns true on failure; a failed read or combination leaves the
  // image as it was.
  bool write(const std::string& name, bool inProgramDirectory) const;
  bool read(const std::string& name, bool inProgramDirectory);
  bool addstored(const std::string& name, bool inProgramDirectory);
  bool subtractstored(const std::string& name, bool inProgramDirectory);
  static void removefile(const std::string& name);
  static void removeseries(const std::string& stem, int last);
  bool isidentity() const { return fromrgb == &fpixel::copy; }

  // Registration in place (ops/stacking/align.cpp): nothing with an empty template; a
  // reference of another size shows "Improper dimensions!" and changes nothing. Channels
  // 0-2 move, a fourth stays; the mask, when present, gains the marks of the warp.
  fpbuffer& alignfast(const matrixarray& templ, float precision, int passes);
  fpbuffer& alignblock(const matrixarray& templ, int block, int radius, float smoothing,
                       int passes);
  fpbuffer& alignblocklayers(const fpbuffer& reference, int block, int radius, float smoothing,
                             int passes);
  // Rotation and shift, or a similarity fixed by two points (ops/stacking/align2pt.cpp).
  fpbuffer& alignrotation(const matrixarray& templ, float angleRange, float angleStep, bool extra,
                          int errorMode, int passes);
  fpbuffer& alignsimilarity(const matrixarray& templ, bool extra, int errorMode, float minScale,
                            float maxScale, int passes);
  // Raw float colour files of stacking (ops/stacking): int32 width and height, then
  // channels 0-2 of every pixel as float triplets, row 0 first, little-endian; the colour
  // space is not stored. writefrgb returns true when the file was not written whole.
  bool writefrgb(const std::string& path) const;
  // Reads a raw file of width x height into this image, dimensioned with code; true when
  // the file is missing, short or of another size, which leaves the image as it was.
  bool readfrgb(const std::string& path, CSpaceCode code, int width, int height);
  // The exposure merge of stacking over raw files of this image's size: fills this image,
  // keeping its size and code (with noise reduction the result is left in Log RGB for the
  // caller to convert back). Returns the index of a file that could not be read, which
  // ends the merge, else -1.
  int mergeexposures(const std::vector<std::string>& paths, float k, bool noiseReduction);
  // This image = the darker exposure blended into the brighter one brought to its scale
  // (the brighter one's channel 0 is scaled in place, so callers pass a copy).
  fpbuffer& blendexposure(const fpbuffer& darker, fpbuffer& brighter, float k);
  // Fractal IFS files and enlargement (ops/resize/ifsimage.cpp, types in ops/resize/ifs.h).
  // writeifs codes a YCbCr copy of this image into the file; readifs replaces the image by
  // the file decoded at the scale, in the colour space the image had, and throws the
  // reading text for a refused file before it changes anything; ifsenlarge codes and
  // decodes in memory. A cancel throws Cancelled.
  void writeifs(const std::string& path, const std::array<IfsPlaneParams, 4>& planes,
                int smoothing) const;
  fpbuffer& readifs(const std::string& path, const IfsDecoding& decoding);
  fpbuffer& ifsenlarge(const std::array<IfsPlaneParams, 4>& planes, int smoothing,
                       const IfsDecoding& decoding);
  // Xin Li enlargement by 2^passes (ops/resize/xinli*.cpp): each 2x pass fits, on the
  // dominant channel (the setting, 0 the colour space's), the weights of the neighbours of
  // every new sample to a training window around it and applies them to every channel.
  // The window is taken by xinli::EvenWindow; lambda = (bias window / 4)^2 pulls the fits
  // towards their prior. With rotate the second pass works on the image turned by 180
  // degrees, which is turned back after the last pass when there are at least two. The
  // mask is kept and resampled by 2^passes at the end. A dominant channel the image lacks
  // changes nothing. Progress ticks once per row of every phase; a cancel throws Cancelled
  // and leaves the image part-way, at the size of its pass, without its mask.
  // xinli runs XinLiEnlarge with variant set, else xinlipasses.
  fpbuffer& xinli(float bias, int window, float taper, float normalization, int dominant,
                  int passes, bool rotate, float antialias, bool variant);
  // The classic model of four neighbours, triangulation as its prior.
  fpbuffer& xinlipasses(float bias, int window, float taper, float normalization, int dominant,
                        int passes, bool rotate);
  // One classic pass: this image becomes the 2x enlargement of the input, which is left
  // empty (turned by 180 degrees first with rotateInput).
  fpbuffer& xinlipass(fpbuffer& input, float bias, int window, float taper, float normalization,
                      int dominant, bool rotateInput);
  // The twelve-coefficient model on a Lanczos-15 doubling, its statistics read from the
  // dominant channel blurred by sigma. With taper 0 the training sums are built
  // incrementally along each row unless incremental is false (the direct form).
  fpbuffer& XinLiEnlarge(float bias, int window, float taper, float normWeight, int dominantChannel,
                         int passes, bool alternate, float sigma, bool incremental = true);
  fpbuffer& XinLiStep12(fpbuffer& input, float bias, int window, float taper, float normWeight,
                        int dominantChannel, float sigma, bool turnInput, bool incremental = true);
};

// The strips [first, end) of rows that Jensen edge enhancement runs its core on: the
// whole height for segments up to 1, else strips of max(1, height/segments) rows from the
// bottom, the last one shorter when they do not divide the height.
std::vector<std::pair<int, int>> JensenStrips(int height, int segments);

// Seamless cloning (fpclone.cpp) of the source into the destination over the selection
// intersected with the destination's image mask (whatever Cond), or whichever exists;
// nothing without either or for a source of another size. Mode 0 copies the source's
// differences, 1 keeps the destination's where stronger, 2 only across the region's
// edge; 3 and 4 are 0 and 2 with the source's level scaled to the surroundings. Every
// channel both images have is solved, a least-squares fit of `iterations` conjugate-
// gradient steps holding the outer ring with weight a and the boundary pairs with w.
void SeamlessClone(fpbuffer& destination, const fpbuffer& source, int iterations, float a,
                   float w, int mode, bitmask* selection);

// Bytes of padding after each row of a 24-bit bitmap of this width.
inline int GetRowPadding24(int width) { return (4 - (3 * width) % 4) % 4; }
inline int64_t GetRowStride24(int width) { return 3 * int64_t(width) + GetRowPadding24(width); }
inline int64_t GetDibBytes24(int width, int height) { return GetRowStride24(width) * height; }

// FDIB files: the float image as it stands. Four little-endian header words (width,
// height, colour-space code, mask word count), the channel planes row 0 first, then the
// mask words when the count is not 0.
//
// Names are resolved in the program directory when asked: the numbered slots "ZEP<n>.FDIB"
// live there for good, every other name is a temporary file of this process's scratch
// folder.
std::string FdibPath(const std::string& name, bool inProgramDirectory);

// Visits the interior of a tile (without its margins) placed so that its first kept pixel
// lands at (x0, y0) of a width x height target: f(x, y, k) with the target position and the
// tile's element index, skipping positions outside the target and, given a mask of the
// target's size, positions whose bit is clear.
template <class F>
void ForEachTilePixel(const fpbuffer& tile, int x0, int y0, int width, int height,
                      const bitmask* only, int left, int right, int bottom, int top, F f) {
  const bool masked = only && only->present() && only->width == width && only->height == height;
  for (int j = bottom; j < tile.height - top; ++j) {
    const int y = y0 + j - bottom;
    if (y < 0 || y >= height) continue;
    for (int i = left; i < tile.width - right; ++i) {
      const int x = x0 + i - left;
      if (x < 0 || x >= width || (masked && !only->get(x, y))) continue;
      f(x, y, size_t(j) * size_t(tile.width) + size_t(i));
    }
  }
}
