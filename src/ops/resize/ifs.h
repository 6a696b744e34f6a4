#pragma once
// The fractal (IFS) codec: every range block of a plane described as a reduced, turned,
// scaled and offset copy of a larger domain block of the same plane, coded r times with
// the block grid moved along the diagonal; decoding at an integer scale enlarges. The
// .IFS file holds the codes of up to four planes (Y, its error Ey, Cb, Cr).
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "numeric/matrix.h"

struct IfsParams;
class fpbuffer;
class rgbbuffer;

// The six values of one plane, in the order of the settings block.
struct IfsPlaneParams {
  int32_t rangeBlock = 0;  // r; 0 leaves the plane out
  int32_t corrections = 0;  // error-correction levels L
  int32_t ratio = 2;        // domain-to-range ratio q
  float parameter1 = 0;     // fraction of the high-contrast domains in the pool
  float parameter2 = 0;     // key-window half-width, of the pool's key range
  float maxMultiplier = 0;  // largest |scale| allowed
};
using IfsPlaneSet = std::array<IfsPlaneParams, 4>;  // Y, Ey, Cb, Cr

// The decoding controls: scale, iterations, the mode of each plane (0 mean of the phases,
// 1 the last two iterations take their median) and the scratch flag.
struct IfsDecoding {
  int scale = 1;
  int iterations = 2;
  std::array<int, 4> modes{};
  bool scratch = false;
};

IfsPlaneSet IfsPlanesOf(const IfsParams& p);
IfsDecoding IfsDecodingOf(const IfsParams& p);

// The candidate windows of a search pass: for the range keys in the order visited
// (ascending, 1e36 for a flat block), the pool positions [lo, hi) of the ascending pool
// keys k[0..n) that the window of half-width p2 x the key range admits. The positions only
// move forward from range to range; a flat block gets an empty window.
void IfsSearchWindows(const float* k, int n, const float* keys, int count, float p2, int* lo,
                      int* hi);

// One set of codes: per range block scale, offset, isometry code and domain index.
struct IfsCodes {
  std::vector<float> scale, offset;
  std::vector<uint8_t> isometry;
  std::vector<int32_t> domain;
  void dim(int n);
};

// The code of one phase of one plane; sets[0] holds the base codes, sets[l] level l.
class ifscoding {
 public:
  int32_t pw = 0, ph = 0;      // padded size, multiples of r
  int32_t w = 0, h = 0;        // the plane's size
  int32_t D = 0, r = 0, q = 2;  // domain and range block sizes, ratio
  int32_t dx = 0, dy = 0;      // domain positions per row and column (may be below 1)
  int32_t rx = 0, ry = 0, N = 0;  // range blocks per row, per column, in all
  int32_t L = 0;
  float maxMultiplier = 0;
  std::vector<IfsCodes> sets;

  // Domain blocks exist only when one fits in the padded plane.
  int64_t domains() const { return dx > 0 && dy > 0 ? int64_t(dx) * dy : 0; }
  ifscoding& setup(int w, int h, int r, float maxMultiplier, int q, int L);
  // padded = plane in its top-left corner, the last column and then the last row
  // repeated; the coding is set up for the plane's size.
  ifscoding& load(const matrix& plane, matrix& padded, int r, float maxMultiplier, int q, int L);
  // Codes the padded plane (one tick per range block and search pass).
  ifscoding& encode(const matrix& padded, float p1, float p2, int smoothing);
  // One collage step at scale s: out (pw s x ph s) from the cell means of the current
  // plane, code sets first..last added; one tick per range block when ticks.
  void apply(const matrix& cells, matrix& out, int s, int first, int last, bool ticks) const;
};

// The code of one plane: r codings, phase k coded on the plane rolled by (k, k).
class ifsplane {
 public:
  int32_t pw = 0, ph = 0, w = 0, h = 0, r = 0, L = 0, q = 2;
  std::vector<ifscoding> codings;

  bool present() const { return r > 0; }
  ifsplane& setup(int w, int h, int r, float maxMultiplier, int q, int L);
  ifsplane& encode(const matrix& plane, const IfsPlaneParams& p, int smoothing);
  // n iterations at scale s into out (from black when empty); out keeps the padded size
  // (pw s x ph s). decodemedian takes the median of the phases instead of their mean,
  // through the scratch files "phase0.mat", ... phasesAtOnce (0: as memory allows) only
  // sets how many phases' cell planes are held at once; the result is the same.
  void decode(matrix& out, int s, int n, int phasesAtOnce = 0) const;
  void decodemedian(matrix& out, int s, int n) const;
  // Decodes with a mode (0: n iterations of decode; 1: n - 2 of them, then 2 median ones)
  // and keeps the top-left (w s) x (h s).
  matrix& decodemode(matrix& out, int s, int n, int mode) const;
};

// Decodes planes as decodemode does, each into its own out (emptied first; left empty for
// an absent plane). Planes small enough are decoded side by side, every pass of all of them
// in one parallel loop; the results are those of decoding them one by one.
struct IfsPlaneJob {
  const ifsplane* plane;
  matrix* out;
  int mode;
};
void IfsDecodeModes(const std::vector<IfsPlaneJob>& jobs, int s, int n);

// The codes of an image: the 31 header words and the planes Y, Ey, Cb, Cr.
class ifscodec {
 public:
  static constexpr int kHeaderWords = 31;
  static constexpr uint32_t kYCbCrCode = 0x20000;
  uint32_t colourCode = 0;
  int32_t pw = 0, ph = 0, w = 0, h = 0;
  IfsPlaneSet params{};
  std::array<ifsplane, 4> planes;
  bool valid = false;

  ifscodec& setup(const IfsPlaneSet& p, uint32_t colour);
  // Codes Y (with the smoothing passes), its error plane Ey, Cb and Cr.
  ifscodec& encode(const matrix& y, const matrix& cb, const matrix& cr, int smoothing);
  // Writes the file through a temporary one beside it; throws the text when it fails.
  void write(const std::string& path) const;
  // Reads and checks the whole file before it keeps anything: nullptr when it was read,
  // else the text to show. With scale s, a decode at s must fit the memory available.
  const char* read(const std::string& path, int s = 1);
  // The ticks one decode of every present plane issues with n iterations.
  int64_t decodeticks(int n) const;
};

inline constexpr const char* kIfsReadProblem = "Problem reading IFS file";

// Image level (fpbuffer::writeifs, readifs and ifsenlarge are declared in fpbuffer.h). A
// refused file throws TextException with kIfsReadProblem; a cancel throws Cancelled.
// The image = the decoded codec at the scale, in the colour space it had.
void IfsDecodeImage(fpbuffer& image, const ifscodec& codec, const IfsDecoding& d);
// The tiles of the bitmap path: rows of tiles from y = 0, tiles from x = 0 within each,
// the tile size limited to the picture's.
struct IfsTile {
  int x, y, width, height;
};
std::vector<IfsTile> IfsTiles(int width, int height, int tileWidth, int tileHeight);
// The bitmap path: output (pre-sized, s times the input) filled tile by tile.
void IfsEnlarge(rgbbuffer& output, const rgbbuffer& input, const IfsPlaneSet& p, int smoothing,
                const IfsDecoding& d, int tileWidth, int tileHeight);
// Decodes the file into the raw 24-bit scratch file `name`; the output size comes back.
void DecodeIfsToBgrFile(const std::string& path, const std::string& name, int& width,
                        int& height, const IfsDecoding& d);

// The handlers of the two IFS commands and the registration of the .IFS file row.
class CImageView;
void OnIteratedFunctionSystems(CImageView& v, int id);
void OnReopenIfs(CImageView& v, int id);
void RegisterIfsFormat();
