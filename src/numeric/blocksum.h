#pragma once
// Sums over planes in double, formed block by block: fixed blocks of kSumBlock elements,
// each summed on its own, the block sums added in order. The blocks run on the parallel
// helper and are combined in block order afterwards, so a total never depends on the
// number of threads. Blocks go by elements rather than rows because the solvers also sum
// planes laid out as one row.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/parallel.h"

constexpr size_t kSumBlock = 16384;

// The sum of term(i) for i in [b0, b1).
template <class Term>
double BlockSumOne(size_t b0, size_t b1, Term& term) {
  // Eight partial sums so that the additions do not wait on one another, held as four
  // pairs that fit the vector registers, so that the compiler adds two terms at a time.
  using Pair = double __attribute__((vector_size(16)));
  Pair s0 = {}, s1 = {}, s2 = {}, s3 = {};
  size_t i = b0;
  for (; i + 8 <= b1; i += 8) {
    s0 += Pair{term(i), term(i + 1)};
    s1 += Pair{term(i + 2), term(i + 3)};
    s2 += Pair{term(i + 4), term(i + 5)};
    s3 += Pair{term(i + 6), term(i + 7)};
  }
  for (; i < b1; ++i) s0[0] += term(i);
  return ((s0[0] + s0[1]) + (s1[0] + s1[1])) + ((s2[0] + s2[1]) + (s3[0] + s3[1]));
}

// The sum of term(i) for i in [0, count); term is called from several threads at once.
template <class Term>
double BlockSum(size_t count, Term term) {
  double total = 0.0;
  if (count <= kSumBlock) {
    if (count > 0) total += BlockSumOne(0, count, term);
    return total;
  }
  const size_t blocks = (count + kSumBlock - 1) / kSumBlock;
  std::vector<double> sums(blocks);
  // Sixteen blocks to a task: a sum of a few blocks is quicker on its own than handed out.
  ParallelBlocks(int64_t(blocks), 16, [&](int64_t begin, int64_t end) {
    for (int64_t b = begin; b < end; ++b) {
      const size_t b0 = size_t(b) * kSumBlock;
      sums[size_t(b)] = BlockSumOne(b0, std::min(count, b0 + kSumBlock), term);
    }
  });
  for (const double s : sums) total += s;
  return total;
}
