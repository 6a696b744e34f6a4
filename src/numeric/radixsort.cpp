#include "numeric/radixsort.h"

#include <algorithm>
#include <vector>

#include "platform/parallel.h"

// Stable LSD radix sort of items by their upper 32 bits, 11 bits a pass. The blocks of a
// pass keep their order in every bucket, so the result is the same on any thread count.
void RadixSortUpper(Words& items, int64_t n) {
  constexpr int kBits = 11;
  constexpr int kBuckets = 1 << kBits;
  constexpr int64_t kBlock = 1 << 16;
  const int64_t blocks = (n + kBlock - 1) / kBlock;
  Words other(n);
  std::vector<uint32_t> counts(size_t(blocks) * kBuckets);
  for (int shift = 32; shift < 64; shift += kBits) {
    std::fill(counts.begin(), counts.end(), 0u);
    ParallelBlocks(blocks, 1, [&](int64_t b0, int64_t b1) {
      for (int64_t b = b0; b < b1; ++b) {
        uint32_t* c = &counts[size_t(b) * kBuckets];
        const int64_t end = std::min(n, (b + 1) * kBlock);
        for (int64_t i = b * kBlock; i < end; ++i)
          ++c[(items[size_t(i)] >> shift) & (kBuckets - 1)];
      }
    });
    // Offsets by bucket, then by block within a bucket; a pass whose digit is the same
    // everywhere moves nothing and is skipped.
    uint64_t run = 0;
    bool single = false;
    for (int v = 0; v < kBuckets; ++v) {
      uint64_t inBucket = 0;
      for (int64_t b = 0; b < blocks; ++b) {
        uint32_t& c = counts[size_t(b) * kBuckets + size_t(v)];
        const uint32_t here = c;
        c = uint32_t(run);
        run += here;
        inBucket += here;
      }
      if (inBucket == uint64_t(n)) single = true;
    }
    if (single) continue;
    ParallelBlocks(blocks, 1, [&](int64_t b0, int64_t b1) {
      for (int64_t b = b0; b < b1; ++b) {
        uint32_t* c = &counts[size_t(b) * kBuckets];
        const int64_t end = std::min(n, (b + 1) * kBlock);
        for (int64_t i = b * kBlock; i < end; ++i) {
          const uint64_t item = items[size_t(i)];
          other[c[(item >> shift) & (kBuckets - 1)]++] = item;
        }
      }
    });
    items.swap(other);
  }
}
