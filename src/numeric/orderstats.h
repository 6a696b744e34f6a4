#pragma once
// The order statistics of the window filters on plain arrays, for the loops that gather a
// window per pixel into scratch buffers of their own.

// The start of the window of `length` consecutive values of m sorted ascending with the
// smallest range values[s + length - 1] - values[s], among the windows starting at
// 0 .. m-length-1: the window ending at the largest value is never examined. Of equal
// ranges the last window wins with lastWins, else the first. 0 when no window is examined.
int SmallestRangeStart(const float* values, int m, int length, bool lastWins);

// The WMMR value of m values sorted ascending (NaN last): of the windows of length L
// (m/2, made odd by adding 1) that start at 0 .. m-L-1, the last one of smallest range
// gives its middle value. m = 1 gives the value itself.
float WmmrSorted(const float* values, int m);
// The WMMR-average of m sorted values: the mean of the first window of (m+1)/2 values of
// smallest range (same candidates). m = 1 gives the value itself; 0 for none.
float ShortHalfMeanSorted(const float* values, int m);
// The robust centre of m sorted values: the median of the first window of (m+1)/2 values
// of smallest range (same candidates; the mean of its two middle values for an even
// length). m = 1 gives the value itself, m = 3 the mean of the two smallest; 0 for none.
float ShortestHalfSorted(const float* values, int m);
// The plain mean of m values, summed in double; 0 for none.
float MeanOf(const float* values, int m);

// WeightedMedian on arrays; index is scratch space for m entries.
float WeightedMedianOf(const float* weights, const float* values, int m, int* index);
