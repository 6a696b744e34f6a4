#pragma once
// `bitmask`: one bit per pixel. Pixel (x, y) has index k = x + y*width; its bit is bit
// (k mod 32) of word k/32, least significant first. A mask is present when words != 0.
// The word count is always ceil(n/32), and bits past n are kept zero, so masks of the same
// size compare and store alike whichever way they were made.
#include <cstdint>

class matrix;
class SeamIndexMap;
template <class T>
class cvector;

class bitmask {
 public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t n = 0;
  int32_t words = 0;
  uint32_t* bits = nullptr;

  bitmask() = default;
  // Allocates the words of a width x height mask, cleared.
  bitmask(int w, int h);
  bitmask(const bitmask& other);
  bitmask(bitmask&& other) noexcept;
  ~bitmask();
  bitmask& operator=(const bitmask& other) { return assign(other); }
  bitmask& operator=(bitmask&& other) noexcept;

  // Re-dimensions: when w*h equals n only width and height change and the bits stay;
  // otherwise the words are reallocated and cleared.
  bitmask& dim(int w, int h);
  bitmask& assign(const bitmask& other);
  bitmask& free();

  bool present() const { return words != 0; }
  // Whether the mask has storage and the shape w x h.
  bool covers(int w, int h) const { return present() && width == w && height == h; }
  bool getbit(int k) const { return (bits[k >> 5] >> (k & 31)) & 1u; }
  void setbit(int k, bool on) {
    const uint32_t bit = 1u << (k & 31);
    if (on) {
      bits[k >> 5] |= bit;
    } else {
      bits[k >> 5] &= ~bit;
    }
  }
  bool get(int xp, int yp) const { return getbit(xp + yp * width); }
  void set(int xp, int yp, bool on) { setbit(xp + yp * width, on); }

  // Fills this pre-dimensioned window from the source: bit (c + r*width) is the source bit
  // at (x0 + c, y0 + r), reflected as matrix::extract reflects.
  bitmask& extract(const bitmask& source, int x0, int y0);

  // Clears the bits past n in the last word.
  void cleartail();

  // Word by word with a mask of the same size ("And", "Or", "Exclusive Or").
  bitmask& andwith(const bitmask& other);
  bitmask& orwith(const bitmask& other);
  bitmask& xorwith(const bitmask& other);
  // Complements every pixel; the bits past n stay clear.
  bitmask& invert();

  // One-pixel dilation over the 8-neighbourhood; set pixels on the outer rows and columns
  // stay set but do not spread.
  bitmask& grow();
  // Keeps the inner set pixels that touch a clear one; the outer rows and columns end clear.
  bitmask& boundary();
  bitmask& fliph();  // reverses every row
  bitmask& flipv();  // reverses the order of the rows
  // Circular shift by dx columns, then dy rows (positive towards larger indices); a
  // distance of 0 or at least the width (height) leaves that direction alone.
  bitmask& shift(int dx, int dy);
  // Sets or clears the pixels of the line between the two points, both ends included, one
  // per step along the longer axis; nothing when the points coincide. Pixels outside the
  // mask are skipped, so a line may run past its edges.
  bitmask& line(int x0, int y0, int x1, int y1, bool on);

  // Mask building (bitmaskops.cpp). Bits are only ever added (or, for the fill, the
  // drawings and the bars, given the value); the planes have the mask's size.
  //
  // ORs in every pixel with |v - c| <= t/w (every pixel when w is negative).
  bitmask& bycolor1(const matrix& p, float c, float w, float t);
  // ORs in the pixels whose weighted distances d_i = w_i |v_i - c_i| over the m planes
  // pass the norm: 0 max d_i <= t, 1 sum d_i <= m t, 2 sum d_i^2 <= m t^2; any other
  // norm adds nothing.
  bitmask& bycolor2(const matrix& a, float ca, float wa, const matrix& b, float cb, float wb,
                    float t, int norm);
  bitmask& bycolor3(const matrix* const planes[3], const float c[3], const float w[3], float t,
                    int norm);
  bitmask& bycolor4(const matrix* const planes[4], const float c[4], const float w[4], float t,
                    int norm);
  // 4-connected fill from (x, y) with the value: nothing when the seed is outside or
  // already holds the value.
  bitmask& floodfill(int x, int y, bool value);
  // Sets whole rows (columns) in bands of `count` every `period` starting at `start`;
  // rows count from the top edge unless fromBottom. Nothing when count or period is not
  // positive.
  bitmask& rowbars(int count, int period, int start, bool fromBottom);
  bitmask& columnbars(int count, int period, int start);
  // The outline of the ellipse whose major axis runs from (x1, y1) to (x2, y2) and which
  // passes through (x3, y3); nothing when the third point does not give a semi-minor axis
  // (on the axis line, or not strictly between the perpendiculars through its ends).
  bitmask& ellipse(int x1, int y1, int x2, int y2, int x3, int y3, bool value);

  // The stencil of the motion blur: a square of odd side holding a line of the given
  // length and angle (degrees) through its centre cell, symmetric about it; a line too
  // short to leave the centre is the centre cell alone. Returns the number of set cells.
  int motionline(float length, float angle);

  // The edge candidates of the Jensen model (jensenedge.cpp): sized to the plane and
  // cleared, then every interior pixel set whose 3x3 Prewitt differences and sum S give
  // gx^2 + gy^2 >= (4 threshold)^2 S^2; with restrict and a mask of the plane's size only
  // the pixels set before are tested, and a threshold of 0 or less leaves it unchanged.
  bitmask& edgedetect(const matrix& plane, float threshold, bool restrict);

  // Dimensions the mask to w x h and masks every pixel except the lattice (d + i s,
  // d + j s), d = s/2 for an odd spacing and the offset for an even one; lattice points
  // outside the mask are skipped (inpaint.cpp).
  bitmask& gridmask(int s, int w, int h, int offset);

  // Lists of a region (listops.cpp), ascending. ringlist: with inside the set pixels with
  // a clear neighbour among their eight, else the clear pixels with a set one (neighbour
  // coordinates clamped to the mask). pairlists: the base pixels b (x <= width-2,
  // y <= height-2) whose pair b, b+1 (b, b+width) is set at both ends, or at exactly one.
  const bitmask& ringlist(cvector<int>& list, bool inside) const;
  const bitmask& pairlists(cvector<int>& innerh, cvector<int>& innerv, cvector<int>& boundh,
                           cvector<int>& boundv) const;
  // Sets the bits of the listed indices; nothing on a mask without storage.
  bitmask& setlist(const cvector<int>& l);

  // The number of set pixels and their bounding box (all zero when none is set).
  void bounds(int& count, int& x, int& y, int& w, int& h) const;
  // The linear indices of the set pixels, ascending; an empty mask leaves v untouched.
  void indices(cvector<int>& v) const;
  // Dimensions the mask to the plane and sets exactly the bits of elements above 0.
  bitmask& positive(const matrix& plane);
  // Nothing on a mask without storage; otherwise this = the width x height mask whose bit
  // (i, j) is the source's bit at the seam map's entry (the source may be this mask).
  bitmask& gatherindex(const bitmask& source, const SeamIndexMap& map, int width, int height);
  // Rescales the mask by sx, sy with shifts dx, dy (in output pixels): Lanczos-3 with
  // antialiasing on the mask as a plane of 1 and 0, set where the result exceeds 0.5.
  bitmask& resample(double sx, double sy, double dx, double dy);
  // Smooths the outline by isophote smoothing of the mask as a plane of 1 and 0 (diagonal
  // stencil, coefficient 0.2), restricted to the mask grown by a pixel, set above 0.5.
  bitmask& smooth(int iterations);

 private:
  // The mask as a plane of 1 (set) and 0 (clear), and back: dimensioned to the plane, set
  // exactly where it exceeds the threshold.
  void toplane(matrix& plane) const;
  void fromplane(const matrix& plane, float threshold);
};

// The outline of the paint cursor: a bit set packed in bytes, most significant bit first
// (the bit of pixel k is 0x80 >> (k mod 8) in byte k/8), as monochrome bitmaps store them.
class bytemask {
 public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t n = 0;
  int32_t bytes = 0;  // n/8 + 1
  uint8_t* data = nullptr;

  bytemask() = default;
  bytemask(const bytemask& other);
  bytemask& operator=(const bytemask& other);
  ~bytemask();

  // Keeps the bytes when the pixel count is unchanged; new bytes are cleared.
  bytemask& dim(int w, int h);
  // Gives the bytes back; every member becomes 0.
  bytemask& free();
  bool get(int xp, int yp) const {
    const int k = xp + yp * width;
    return (data[k >> 3] >> (7 - (k & 7))) & 1u;
  }
  void set(int xp, int yp, bool on) {
    const int k = xp + yp * width;
    const uint8_t bit = uint8_t(0x80u >> (k & 7));
    data[k >> 3] = on ? uint8_t(data[k >> 3] | bit) : uint8_t(data[k >> 3] & ~bit);
  }
  bytemask& invert();
  // As bitmask::boundary.
  bytemask& outline();
  // The cursor outline of a disc of radius r centred at (r + ox, r + oy) in a square of
  // side 2r + 5, its width padded to a multiple of 16 with clear columns, the centre set.
  bytemask& circle(int r, int ox, int oy);
};

// A plain byte matrix, the disc stencil of the disc filters.
class cmatrix {
 public:
  int32_t width = 0;
  int32_t height = 0;
  int32_t n = 0;
  uint8_t* data = nullptr;
  uint8_t** rows = nullptr;

  cmatrix() = default;
  cmatrix(int w, int h) { dim(w, h); }
  cmatrix(const cmatrix&) = delete;
  cmatrix& operator=(const cmatrix&) = delete;
  ~cmatrix() { release(); }

  // Nothing when the size is unchanged; otherwise new bytes, not cleared.
  cmatrix& dim(int w, int h);
  cmatrix& zero();
  // Ones where the distance from the centre ((width-1)/2 on both axes) is at most
  // (width-1)/2 + 0.5, zeros elsewhere; returns the number of ones. Meant for square
  // matrices of odd side.
  int disk();

 private:
  void release();
};
