#pragma once
// `bitmask`: one bit per pixel. Pixel (x, y) has index k = x + y*width; its bit is bit
// (k mod 32) of word k/32, least significant first. A mask is present when words != 0.
// The word count is always ceil(n/32), and bits past n are kept zero, so masks of the same
// size compare and store alike whichever way they were made.
#include <cstdint>

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

  // Clears the bits past n in the last word.
  void cleartail();
};
