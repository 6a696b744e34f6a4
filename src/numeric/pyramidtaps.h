#pragma once
// The tap tables of the 2:1 reductions of the pyramids: each output sample of a 1-D pass
// as up to four weighted input samples. Shared by the pyramid passes and the solvers that
// apply them row by row.
#include <algorithm>
#include <vector>

#include "numeric/border.h"
#include "numeric/pyramid.h"

// One output sample of a 1-D pass: up to four weighted input samples.
struct Taps {
  int count = 0;
  int index[4] = {};
  float weight[4] = {};
};
using TapTable = std::vector<Taps>;

inline constexpr double kReduceWeights[4] = {0.125, 0.375, 0.375, 0.125};

// Renormalising reduction of a line of n samples: output k reads samples 2k-1 .. 2k+2;
// samples past the ends are dropped and the kept weights renormalised, which gives 3/7 and
// 1/7 at the ends and 1/4, 3/4 at the end of an odd line (and stays sound on lines shorter
// than three samples).
inline TapTable RenormalisingTaps(int n) {
  TapTable table(size_t(std::max(0, HalfUp(n))));
  for (int k = 0; k < int(table.size()); ++k) {
    Taps& t = table[k];
    double kept[4] = {};
    double total = 0.0;
    for (int j = 0; j < 4; ++j) {
      const int i = 2 * k - 1 + j;
      if (i < 0 || i >= n) continue;
      t.index[t.count] = i;
      kept[t.count++] = kReduceWeights[j];
      total += kReduceWeights[j];
    }
    for (int j = 0; j < t.count; ++j) t.weight[j] = float(kept[j] / total);
  }
  return table;
}

// Mirroring reduction to n/2 + (n/2)%2 samples, indices reflected about the end samples.
inline TapTable MirroringTaps(int n) {
  const int half = std::max(0, n / 2);
  TapTable table(size_t(half + half % 2));
  for (int k = 0; k < int(table.size()); ++k) {
    Taps& t = table[k];
    t.count = 4;
    for (int j = 0; j < 4; ++j) {
      t.index[j] = ReflectWhole(2 * k - 1 + j, n);
      t.weight[j] = float(kReduceWeights[j]);
    }
  }
  return table;
}
