#pragma once
// NL Means in its brute form: each pixel's candidates weighed one by one, the patch
// distances summed in double, the edge repeated outside the plane. The filter's fast path
// (fpbuffer::nlmeans) is checked against it and timed beside it.
#include "image/fpbuffer.h"

// What nlmeans with these settings makes of `in`, whose sides must hold the search window
// and the patch. Per channel with cond, only the channels the colour code shows are filtered.
fpbuffer NlMeansBrute(const fpbuffer& in, float h, int b, int c, bool median, int distribution,
                      bool combined, bool cond, bool modification);
