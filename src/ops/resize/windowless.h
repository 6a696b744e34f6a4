#pragma once
// What the windowless Xin Li enlargement of a float image needs, for its callers to check
// and count before they start it.
#include <cstdint>

// The bytes the largest fit of an enlargement of a w x h image by 2^k holds at once (the
// last doubling's estimate, source and seven weight lists with the residuals); saturated
// at the largest value so that an absurd size is refused.
uint64_t WindowlessFitBytes(int w, int h, int k, bool sixteen);
// Whether that fit, and an image of 2^k w x 2^k h, fit in 32-bit counts and in the memory
// available.
bool WindowlessFits(int w, int h, int k, bool sixteen);
// The progress ticks fpbuffer::windowless makes on a w x h image whose fits all run their
// course: iterations - 1 per fit, two fits per doubling of a plane with both sides at least
// 3, for every channel fitted (the first alone with a shortcut, else all), plus four per
// "Super Rez" iteration of each refined channel.
int64_t WindowlessTicks(int w, int h, int channels, int iterations, int shortcut, int k,
                        int superRezIters);
