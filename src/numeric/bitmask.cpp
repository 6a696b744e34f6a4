#include "numeric/bitmask.h"

#include <cstring>
#include <new>
#include <utility>

#include "platform/errors.h"
#include "platform/platform.h"

namespace {
int32_t WordCount(int64_t count) { return static_cast<int32_t>((count + 31) / 32); }

uint32_t* NewWords(int32_t count) {
  if (count == 0) return nullptr;
  if (!MemoryAllows(static_cast<uint64_t>(count) * 4)) throw OutOfMemory();
  uint32_t* words = new uint32_t[static_cast<size_t>(count)];
  std::memset(words, 0, sizeof(uint32_t) * static_cast<size_t>(count));
  return words;
}
}  // namespace

bitmask::bitmask(int w, int h) { dim(w, h); }

bitmask::bitmask(const bitmask& other)
    : width(other.width), height(other.height), n(other.n), words(other.words) {
  bits = NewWords(words);
  if (words) std::memcpy(bits, other.bits, sizeof(uint32_t) * static_cast<size_t>(words));
}

bitmask::bitmask(bitmask&& other) noexcept
    : width(other.width), height(other.height), n(other.n), words(other.words), bits(other.bits) {
  other.width = other.height = other.n = other.words = 0;
  other.bits = nullptr;
}

bitmask::~bitmask() { delete[] bits; }

bitmask& bitmask::operator=(bitmask&& other) noexcept {
  if (this != &other) {
    delete[] bits;
    width = std::exchange(other.width, 0);
    height = std::exchange(other.height, 0);
    n = std::exchange(other.n, 0);
    words = std::exchange(other.words, 0);
    bits = std::exchange(other.bits, nullptr);
  }
  return *this;
}

bitmask& bitmask::dim(int w, int h) {
  const int64_t count = static_cast<int64_t>(w) * h;
  if (w < 0 || h < 0 || count > INT32_MAX) throw OutOfMemory();
  if (count == n && (words != 0 || count == 0)) {
    width = w;
    height = h;
    return *this;
  }
  uint32_t* fresh = NewWords(WordCount(count));
  delete[] bits;
  bits = fresh;
  width = w;
  height = h;
  n = static_cast<int32_t>(count);
  words = WordCount(count);
  return *this;
}

bitmask& bitmask::assign(const bitmask& other) {
  if (this == &other) return *this;
  dim(other.width, other.height);
  if (words) std::memcpy(bits, other.bits, sizeof(uint32_t) * static_cast<size_t>(words));
  return *this;
}

bitmask& bitmask::free() {
  delete[] bits;
  bits = nullptr;
  width = height = n = words = 0;
  return *this;
}

void bitmask::cleartail() {
  if (words == 0 || (n & 31) == 0) return;
  bits[words - 1] &= (1u << (n & 31)) - 1u;
}
