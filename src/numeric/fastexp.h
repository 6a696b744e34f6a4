#pragma once
// A fast exponential for weights, shared by the filters that weigh every tap.
#include <bit>
#include <cstdint>

// exp(x) for x <= 0 in single precision, within a few parts in 10^7 of std::exp; written
// without branches or calls so that the loops over a row vectorise. Arguments below -87
// (and NaN) give exp(-87), whose weight is nothing beside the centre's 1.
inline float ExpNegative(float x) {
  x = x > -87.0f ? x : -87.0f;
  const float t = x * 1.44269504088896341f;                // log2(e)
  const int k = static_cast<int>(t - 0.5f);                // t <= 0: rounds to the nearest integer
  const float g = (t - float(k)) * 0.693147180559945309f;  // |g| <= ln 2 / 2
  // e^g by its Taylor series to the sixth power; the error stays below 2e-7.
  float p = 1.0f / 720.0f;
  p = p * g + 1.0f / 120.0f;
  p = p * g + 1.0f / 24.0f;
  p = p * g + 1.0f / 6.0f;
  p = p * g + 0.5f;
  p = p * g + 1.0f;
  p = p * g + 1.0f;
  return p * std::bit_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(k + 127) << 23));
}
