#pragma once
// An ascending index list seen as its runs of consecutive indices, so that the list
// operations walk contiguous rows instead of looking every pixel up: the same arithmetic,
// element by element, in the same order.
#include <algorithm>
#include <vector>

#include "numeric/cvector.h"
#include "numeric/matrix.h"

class ListRuns {
 public:
  explicit ListRuns(const cvector<int>& l);
  int size() const { return length; }  // the list's length

  // Calls f(k, p, n) for the runs' pieces inside the list positions [p0, p1): the n
  // indices k, k + 1, ... at the positions p, p + 1, ...
  template <class F>
  void pieces(int p0, int p1, F f) const {
    size_t r = size_t(std::upper_bound(pos.begin(), pos.end(), p0) - pos.begin()) - 1;
    for (int p = p0; p < p1; ++r) {
      const int end = std::min(p1, pos[r + 1]);
      f(first[r] + (p - pos[r]), p, end - p);
      p = end;
    }
  }

 private:
  std::vector<int> first, pos;  // pos holds one more entry, the length
  int length = 0;
};

// The list operations of matrix.h on a list given by its runs (listops.cpp).
namespace listruns {
void Diff(const matrix& m, const ListRuns& l, int step, matrix& out, float c);
void DiffAdjoint(matrix& m, const ListRuns& l, int step, const matrix& g, float c);
void Gather(const matrix& m, float c, const ListRuns& l, matrix& out);
void ScatterAdd(matrix& m, float c, const ListRuns& l, const matrix& g);
void Zero(matrix& m, const ListRuns& l);
void Copy(matrix& m, const ListRuns& l, const matrix& y);
void Axpy(matrix& m, const ListRuns& l, float c, const matrix& y);
void Xpay(matrix& m, const ListRuns& l, float c, const matrix& y);
}  // namespace listruns

