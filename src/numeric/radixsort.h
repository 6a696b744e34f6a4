#pragma once
// The stable radix sort of 64-bit items by their upper 32 bits that the rank transforms
// and the levels match share, and the uninitialised word blocks it sorts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "numeric/plane.h"

// An uninitialised block of words, in the plane allocator's huge pages where it offers
// them: clearing it first, and taking its pages one fault at a time, cost more than the
// sort that fills it.
class Words {
 public:
  explicit Words(int64_t n)
      : p_(static_cast<uint64_t*>(AllocatePlaneBlock(uint64_t(std::max<int64_t>(n, 1)) * 8))) {
    if (p_ == nullptr) throw std::bad_alloc();
  }
  ~Words() { FreePlaneBlock(p_); }
  Words(const Words&) = delete;
  Words& operator=(const Words&) = delete;
  uint64_t& operator[](size_t i) { return p_[i]; }
  const uint64_t& operator[](size_t i) const { return p_[i]; }
  void swap(Words& other) noexcept { std::swap(p_, other.p_); }

 private:
  uint64_t* p_;
};

// Sorts items[0 .. n-1] by their upper 32 bits, items of equal upper bits keeping their
// order; the same result on any number of threads.
void RadixSortUpper(Words& items, int64_t n);
