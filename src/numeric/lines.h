#pragma once
// The inner loop of the filters and resamplers: weighted sums of float lines, in double,
// with an AVX2 path chosen at run time.
#include <cstddef>
#include <utility>
#include <vector>

// Where the sums of WeightedLines go: a double line, or a float line set or added to.
struct Sink {
  double* sums = nullptr;
  float* out = nullptr;
  bool add = false;
};

// sink[x] = the sum over k of weight[k] * line[k][x], for x in [0, n), in double, the terms
// added in the order of the list (with AVX2 each term is a fused multiply-add).
void WeightedLines(const float* const* line, const double* weight, size_t count, int n,
                   const Sink& sink);

// A list of lines and their weights for WeightedLines.
struct Lines {
  std::vector<const float*> line;
  std::vector<double> weight;
  void clear() {
    line.clear();
    weight.clear();
  }
  void push(const float* l, double w) {
    line.push_back(l);
    weight.push_back(w);
  }
  void apply(int n, Sink sink) const {
    WeightedLines(line.data(), weight.data(), line.size(), n, sink);
  }
};

// For each output row, the input rows and weights that feed it, in the order they are added.
using RowSources = std::vector<std::vector<std::pair<int, float>>>;

// Output row y (width floats) = the weighted sum of the input rows listed for y, or that
// sum added to it; the rows run in parallel blocks.
void SumSourceRows(const RowSources& sources, const float* const* in, float* const* out, int width,
                   bool add);
