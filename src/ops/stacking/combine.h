#pragma once
// The per-pixel combiners of a stack: one colour triple per accepted exposure, in file
// order, in; one robust estimate of the pixel's colour out. They run on plain lists so the
// row driver can hand them a pixel's samples straight from its row buffers, each thread
// with buffers of its own that live across the pixels of its rows.
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "image/pixel.h"

// Work space of the combiners, reused from pixel to pixel (one per thread).
struct CombineBuffers {
  std::vector<float> values;
  std::vector<fpixel> distinct;
  std::vector<int32_t> counts;
};

// Each channel on its own: the middle value of the samples (the mean of the two middle
// ones for an even count).
fpixel CombineMedian(std::span<const fpixel> samples, CombineBuffers& b);

// The compare-exchanges that bring the middle rank(s) of n values into place: those of an
// odd-even merge sort that can reach ranks (n - 1) / 2 and n / 2.
struct MedianNetwork {
  explicit MedianNetwork(int n);
  int n;
  std::vector<std::pair<int32_t, int32_t>> pairs;
};

// The medians of `lanes` columns at once, as CombineMedian takes them of one channel:
// value k of column i at values[k * stride + i], reordered within each column. A column
// holding a NaN is left to the caller (its median follows NaN's place in the total order,
// which the compare-exchanges do not keep).
void MedianColumns(const MedianNetwork& net, float* values, size_t stride, int lanes, float* out);
// Splits n colour triplets into three columns, and adds v - v of each value to check[i]
// (0 while every value of pixel i is finite, NaN after an infinity or NaN).
void SplitTriplets(const float* triplets, int n, float* c0, float* c1, float* c2, float* check);
// Each channel on its own: the weighted majority with minimum range of the samples.
fpixel CombineWmmr(std::span<const fpixel> samples, CombineBuffers& b);
// The colour that minimises the sum of Euclidean distances to the samples (the geometric
// median), by at most `iterations` Weiszfeld steps from the mean.
fpixel CombineMultivariateMedian(std::span<const fpixel> samples, int iterations,
                                 CombineBuffers& b);

// Sorts the samples lexicographically (x, then y, then z) and merges each run of samples
// within 1e-6 in every component of its first one into that first one; counts gets the
// size of every run, and samples keeps the runs' first samples in order.
void MergeColourSamples(std::vector<fpixel>& samples, std::vector<int32_t>& counts);

// One step of the weighted Weiszfeld iteration from (x, y, z) towards the geometric median
// of the distinct samples with their counts; *step gets the norm of the pull on the point
// (less the weight of a sample it sits on), the optimum being where that is not positive.
fpixel WeiszfeldStep(float x, float y, float z, std::span<const fpixel> distinct,
                     std::span<const int32_t> counts, float* step);
