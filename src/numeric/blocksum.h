#pragma once
// Sums over planes in double, formed block by block: fixed blocks of kSumBlock elements,
// each summed on its own, the block sums added in order. The blocks are the units a
// parallel loop can hand out, so a total never depends on the number of threads. Blocks go
// by elements rather than rows because the solvers also sum planes laid out as one row.
#include <algorithm>
#include <cstddef>

constexpr size_t kSumBlock = 16384;

// The sum of term(i) for i in [0, count).
template <class Term>
double BlockSum(size_t count, Term term) {
  double total = 0.0;
  for (size_t b0 = 0; b0 < count; b0 += kSumBlock) {
    const size_t b1 = std::min(count, b0 + kSumBlock);
    // Eight partial sums so that the additions do not wait on one another.
    double s[8] = {};
    size_t i = b0;
    for (; i + 8 <= b1; i += 8) {
      for (size_t k = 0; k < 8; ++k) s[k] += term(i + k);
    }
    for (; i < b1; ++i) s[0] += term(i);
    total += ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
  }
  return total;
}
