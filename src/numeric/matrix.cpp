#include "numeric/matrix.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <malloc.h>
#ifdef __SSE2__
#include <xmmintrin.h>
#endif
#include <sys/mman.h>

#include "numeric/bitmask.h"
#include "numeric/blocksum.h"
#include "platform/errors.h"
#include "platform/messages.h"
#include "platform/parallel.h"
#include "platform/platform.h"

void ReportPlaneAllocationFailure(const std::string& message, bool element) {
  if (element) {
    ShowMemoryStatus(message);
  } else {
    ShowMessage(message);
  }
  throw OutOfMemory();
}

#if defined(__SANITIZE_ADDRESS__)
#define ZEP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEP_ASAN 1
#endif
#endif
#ifdef ZEP_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {
constexpr uint64_t kHugePage = uint64_t{1} << 21;
constexpr uint64_t kHugeBlock = uint64_t{16} << 20;

// Large planes come and go many times in one command: every temporary of a filter, every
// pass of a solver, every stage of a resize. A block returned to the system comes back as
// fresh pages the kernel clears on first touch, which costs as much as a pass over the
// plane, so a few freed blocks are kept and handed out again to a request of about their
// size. The cache is bounded and is emptied before an allocation would be refused.
class LargeBlockCache {
 public:
  static LargeBlockCache& Instance() {
    // Never destroyed: a plane freed while the process exits still finds it.
    static LargeBlockCache* cache = new LargeBlockCache;
    return *cache;
  }

  // A kept block of at least `bytes` and at most a quarter more, or null.
  void* Take(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t best = blocks_.size();
    for (size_t i = 0; i < blocks_.size(); ++i) {
      const uint64_t c = blocks_[i].capacity;
      if (c >= bytes && c - bytes <= bytes / 4 &&
          (best == blocks_.size() || c < blocks_[best].capacity)) {
        best = i;
      }
    }
    if (best == blocks_.size()) return nullptr;
    const Block b = blocks_[best];
    Unpoison(b);
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(best));
    kept_ -= b.capacity;
    live_.push_back(b);
    return b.p;
  }

  void Register(void* p, uint64_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    live_.push_back({p, capacity});
  }

  // True when `p` was a large block; it is then kept or freed here.
  bool Give(void* p) {
    std::vector<void*> release;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = std::find_if(live_.begin(), live_.end(), [p](const Block& b) { return b.p == p; });
      if (it == live_.end()) return false;
      const Block b = *it;
      live_.erase(it);
      if (b.capacity > kMaxKept) {
        release.push_back(b.p);
      } else {
        Poison(b);
        blocks_.push_back(b);
        kept_ += b.capacity;
        // The oldest go first when the cache holds too many or too much.
        while (blocks_.size() > kMaxBlocks || kept_ > kMaxKept) {
          Unpoison(blocks_.front());
          release.push_back(blocks_.front().p);
          kept_ -= blocks_.front().capacity;
          blocks_.erase(blocks_.begin());
        }
      }
    }
    for (void* r : release) std::free(r);
    return true;
  }

  // Gives every kept block back to the system; true when there was any.
  bool Flush() {
    std::vector<Block> release;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      release.swap(blocks_);
      for (const Block& b : release) Unpoison(b);
      kept_ = 0;
    }
    for (const Block& b : release) std::free(b.p);
    return !release.empty();
  }

 private:
  struct Block {
    void* p;
    uint64_t capacity;
  };
  // Under the address sanitizer a kept block is marked unusable, so a plane read or
  // written after it was freed is still reported.
  static void Poison([[maybe_unused]] const Block& b) {
#ifdef ZEP_ASAN
    ASAN_POISON_MEMORY_REGION(b.p, b.capacity);
#endif
  }
  static void Unpoison([[maybe_unused]] const Block& b) {
#ifdef ZEP_ASAN
    ASAN_UNPOISON_MEMORY_REGION(b.p, b.capacity);
#endif
  }

  static constexpr size_t kMaxBlocks = 8;
  static constexpr uint64_t kMaxKept = uint64_t{1} << 30;

  std::mutex mutex_;
  std::vector<Block> blocks_;  // freed, oldest first
  std::vector<Block> live_;    // handed out
  uint64_t kept_ = 0;
};
}  // namespace

void* AllocatePlaneBlock(uint64_t bytes) {
  // Aligned for vector loads; aligned_alloc wants a multiple of the alignment.
  const uint64_t rounded = (bytes + 63) & ~uint64_t{63};
  if (rounded < kHugeBlock) {
    if (!MemoryAllows(bytes)) return nullptr;
    return std::aligned_alloc(64, static_cast<size_t>(rounded));
  }
  LargeBlockCache& cache = LargeBlockCache::Instance();
  // The memory check comes first also for a kept block, so a request is refused or granted
  // the same way whether or not an earlier plane left a block behind.
  if (!MemoryAllows(bytes) && !(cache.Flush() && MemoryAllows(bytes))) return nullptr;
  const uint64_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  if (void* kept = cache.Take(whole)) {
#ifndef NDEBUG
    // A reused block holds an earlier plane's values: debug builds fill it with NaN so
    // code that counts on fresh memory reading as zeros shows up in tests.
    std::memset(kept, 0xFF, static_cast<size_t>(whole));
#endif
    return kept;
  }
  // Large planes in huge pages where the system offers them: the first touch of a fresh
  // plane of hundreds of megabytes otherwise costs a page fault every 4 KB, and those faults
  // queue behind one another when all threads write at once.
  void* block = std::aligned_alloc(kHugePage, static_cast<size_t>(whole));
  if (!block && cache.Flush()) block = std::aligned_alloc(kHugePage, static_cast<size_t>(whole));
  if (!block) return nullptr;
#ifdef MADV_HUGEPAGE
  madvise(block, static_cast<size_t>(whole), MADV_HUGEPAGE);
#endif
  cache.Register(block, whole);
  return block;
}

void FreePlaneBlock(void* block) {
  if (!block) return;
  if (malloc_usable_size(block) >= kHugeBlock && LargeBlockCache::Instance().Give(block)) return;
  std::free(block);
}

namespace {
size_t Count(const matrix& m) { return m.n > 0 ? static_cast<size_t>(m.n) : 0; }
}  // namespace

matrix& matrix::add(const matrix& y) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(x[i]) + double(y.x[i]));
  return *this;
}

matrix& matrix::sub(const matrix& y) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(x[i]) - double(y.x[i]));
  return *this;
}

matrix& matrix::mul(const matrix& y) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(x[i]) * double(y.x[i]));
  return *this;
}

matrix& matrix::addscalar(float c) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(x[i]) + c);
  return *this;
}

matrix& matrix::subscalar(float c) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(x[i]) - c);
  return *this;
}

matrix& matrix::mulscalar(float c) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(c) * x[i]);
  return *this;
}

matrix& matrix::fill(float c) {
  std::fill(x, x + Count(*this), c);
  return *this;
}

matrix& matrix::zero() { return fill(0.0f); }

matrix& matrix::apply(double (*f)(double)) {
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(f(x[i]));
  return *this;
}

// The two steps of the gradient solvers, element by element on the parallel helper.
matrix& matrix::scaleadd(float a, const matrix& y) {
  ParallelBlocks(int64_t(Count(*this)), BlockFor(1), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) x[i] = static_cast<float>(double(a) * x[i] + y.x[i]);
  });
  return *this;
}

matrix& matrix::axpy(float a, const matrix& y) {
  if (a == 0.0f) return *this;  // bit for bit unchanged, NaN and all
  ParallelBlocks(int64_t(Count(*this)), BlockFor(1), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) x[i] = static_cast<float>(x[i] + double(a) * y.x[i]);
  });
  return *this;
}

matrix& matrix::blend(float t, const matrix& y, const bitmask* mask) {
  const double keep = static_cast<float>(1.0f - t);
  const size_t count = Count(*this);
  if (mask && mask->present()) {
    for (size_t i = 0; i < count; ++i) {
      if (mask->getbit(static_cast<int>(i))) {
        x[i] = static_cast<float>(double(t) * y.x[i] + keep * x[i]);
      }
    }
  } else {
    for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(double(t) * y.x[i] + keep * x[i]);
  }
  return *this;
}

namespace {
inline double SignedPow(double v, double p) { return v < 0 ? -std::pow(-v, p) : std::pow(v, p); }
bool PowerInRange(float p) { return p > 0.0f && p <= 16.0f; }
}  // namespace

matrix& matrix::signedpower(float p) {
  if (!PowerInRange(p)) return *this;
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(SignedPow(x[i], p));
  return *this;
}

matrix& matrix::addsignedpower(const matrix& y, float p) {
  const size_t count = Count(*this);
  if (PowerInRange(p)) {
    for (size_t i = 0; i < count; ++i) x[i] = static_cast<float>(x[i] + SignedPow(y.x[i], p));
  } else {
    // The element of larger magnitude wins; ties keep this plane's.
    for (size_t i = 0; i < count; ++i) {
      if (std::fabs(y.x[i]) > std::fabs(x[i])) x[i] = y.x[i];
    }
  }
  return *this;
}

matrix& matrix::ramp(float a, float b) {
  double running = a;
  const size_t count = Count(*this);
  for (size_t i = 0; i < count; ++i) {
    x[i] = static_cast<float>(running);
    running += b;
  }
  return *this;
}

// Sums go by fixed blocks (blocksum.h), so they never depend on how a loop is split.
double matrix::sum() const {
  return BlockSum(Count(*this), [this](size_t i) { return double(x[i]); });
}

double matrix::sumsq() const {
  return BlockSum(Count(*this), [this](size_t i) { return double(x[i]) * x[i]; });
}

double matrix::dot(const matrix& a, const matrix& b) {
  return BlockSum(Count(a), [&](size_t i) { return double(a.x[i]) * b.x[i]; });
}

void matrix::minmax(float& lo, float& hi) const {
  // Sixteen lanes of selects vectorise; a NaN element never wins a comparison.
  float l[16], h[16];
  for (int k = 0; k < 16; ++k) {
    l[k] = 1e16f;
    h[k] = -1e16f;
  }
  const size_t count = Count(*this);
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    for (int k = 0; k < 16; ++k) {
      const float v = x[i + k];
      l[k] = v < l[k] ? v : l[k];
      h[k] = v > h[k] ? v : h[k];
    }
  }
  for (; i < count; ++i) {
    l[0] = x[i] < l[0] ? x[i] : l[0];
    h[0] = x[i] > h[0] ? x[i] : h[0];
  }
  for (int k = 1; k < 16; ++k) {
    l[0] = l[k] < l[0] ? l[k] : l[0];
    h[0] = h[k] > h[0] ? h[k] : h[0];
  }
  lo = l[0];
  hi = h[0];
}

matrix& matrix::getrow(const matrix& src, int r) {
  assert(r >= 0 && r <= src.ny && int64_t(r) * src.nx + n <= src.n);
  if (r < 0 || n <= 0) return *this;
  const int64_t start = int64_t(r) * src.nx;
  const int64_t avail = std::max<int64_t>(0, src.n - start);
  const int64_t count = std::min<int64_t>(n, avail);
  if (count > 0) std::memcpy(x, src.x + start, sizeof(float) * static_cast<size_t>(count));
  return *this;
}

matrix& matrix::getcol(const matrix& src, int c) {
  assert(c >= 0 && c < src.nx && n <= src.ny);
  if (c < 0 || c >= src.nx) return *this;
  const int count = std::min(n, src.ny);
  for (int k = 0; k < count; ++k) x[k] = src.z[k][c];
  return *this;
}

matrix& matrix::pastecentre(const matrix& small) {
  const int ox = (nx - small.nx) / 2, oy = (ny - small.ny) / 2;
  assert(ox >= 0 && oy >= 0);
  for (int j = 0; j < small.ny; ++j) {
    const int row = j + oy;
    if (row < 0 || row >= ny) continue;
    const int from = std::max(0, -ox), to = std::min(small.nx, nx - ox);
    if (to > from) {
      std::memcpy(z[row] + ox + from, small.z[j] + from, sizeof(float) * size_t(to - from));
    }
  }
  return *this;
}

matrix& matrix::crop(int x0, int y0, int w, int h) {
  if (n == 0 || w > nx || h > ny) return *this;
  assert(x0 >= 0 && y0 >= 0 && w >= 0 && h >= 0 && x0 + w <= nx && y0 + h <= ny);
  // A block reaching outside the plane is cut to the part inside it.
  const int left = std::max(0, x0), bottom = std::max(0, y0);
  const int right = std::min(nx, x0 + std::max(0, w)), top = std::min(ny, y0 + std::max(0, h));
  const int cw = std::max(0, right - left), ch = std::max(0, top - bottom);
  if (cw == nx && ch == ny) return *this;
  matrix block;
  block.dim(cw, ch);
  for (int j = 0; j < ch; ++j) {
    std::memcpy(block.z[j], z[bottom + j] + left, sizeof(float) * static_cast<size_t>(cw));
  }
  moveassign(block);
  return *this;
}

namespace {
// std::reverse swaps one float at a time; four at a time, with the next row's lines asked for
// while this one is reversed (a row reversed in place runs two short streams, one of them
// backwards, that the processor's own prefetching barely follows), the flip keeps up with
// a copy of the plane.
void ReverseFloats(float* p, int n, [[maybe_unused]] const float* next) {
  int i = 0, j = n;
#ifdef __SSE2__
  for (; j - i >= 8; i += 4, j -= 4) {
    if (next && i % 16 == 0) {
      _mm_prefetch(reinterpret_cast<const char*>(next + 2 * i), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(next + 2 * i + 16), _MM_HINT_T0);
    }
    const __m128 a = _mm_loadu_ps(p + i), b = _mm_loadu_ps(p + j - 4);
    _mm_storeu_ps(p + i, _mm_shuffle_ps(b, b, _MM_SHUFFLE(0, 1, 2, 3)));
    _mm_storeu_ps(p + j - 4, _mm_shuffle_ps(a, a, _MM_SHUFFLE(0, 1, 2, 3)));
  }
#endif
  std::reverse(p + i, p + j);
}
}  // namespace

matrix& matrix::fliph() {
  ParallelBlocks(ny, BlockFor(nx), [this](int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) ReverseFloats(z[j], nx, j + 1 < j1 ? z[j + 1] : nullptr);
  });
  return *this;
}

matrix& matrix::flipv() {
  // Row j trades places with row ny-1-j; a block holds the lower rows of its pairs.
  const size_t bytes = sizeof(float) * static_cast<size_t>(nx);
  ParallelBlocks(ny / 2, BlockFor(2 * int64_t(nx)), [this, bytes](int64_t j0, int64_t j1) {
    std::vector<float> row(static_cast<size_t>(nx));
    for (int64_t j = j0; j < j1; ++j) {
      std::memcpy(row.data(), z[j], bytes);
      std::memcpy(z[j], z[ny - 1 - j], bytes);
      std::memcpy(z[ny - 1 - j], row.data(), bytes);
    }
  });
  return *this;
}

matrix& matrix::setdiag(float v) {
  for (int k = 0; k < nx && int64_t(k) * (nx + 1) < n; ++k) x[size_t(k) * size_t(nx + 1)] = v;
  return *this;
}

matrix& matrix::swapcols(int i, int j) {
  if (i == j) return *this;
  assert(i >= 0 && j >= 0 && i < nx && j < nx);
  if (i < 0 || j < 0 || i >= nx || j >= nx) return *this;
  for (int r = 0; r < ny; ++r) std::swap(z[r][i], z[r][j]);
  return *this;
}

matrix& matrix::outer(const matrix& a, const matrix& b) {
  // a or b may be this plane: only then are they read from a copy.
  if (&a == this || &b == this) {
    const matrix ca(a), cb(b);
    return outer(ca, cb);
  }
  dim(a.n, b.n);
  for (int j = 0; j < b.n; ++j) {
    for (int i = 0; i < a.n; ++i) z[j][i] = static_cast<float>(double(b.x[j]) * a.x[i]);
  }
  return *this;
}

matrix MatrixDifference(const matrix& a, const matrix& b) {
  matrix d(a);
  d.sub(b);
  return d;
}
