#pragma once
// The order statistics of the window filters on plain arrays, for the loops that gather a
// window per pixel into scratch buffers of their own.

// The WMMR value of m values sorted ascending (NaN last): of the windows of length L
// (m/2, made odd by adding 1) that start at 0 .. m-L-1, the last one of smallest range
// gives its middle value. m = 1 gives the value itself.
float WmmrSorted(const float* values, int m);

// WeightedMedian on arrays; index is scratch space for m entries.
float WeightedMedianOf(const float* weights, const float* values, int m, int* index);
