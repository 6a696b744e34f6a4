#pragma once
// Data-dependent Lanczos enlargement of several planes together.
#include <cstdint>

#include "numeric/matrix.h"

// Each of `count` planes of one shape replaced by its DdlEnlarge in memory with the flags
// given, planes[0] deciding the maps that the others reuse: the same bits as DdlEnlarge of
// the planes in turn with one map list, the planes of a doubling sharing its parallel
// loops.
void DdlEnlargeTogether(matrix* const* planes, int count, int order, int passes, bool rotate,
                        bool recentre, bool negate, cvectorlist<uint8_t>& maps, bool releaseMaps);
