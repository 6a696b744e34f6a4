#include "numeric/levelcg.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "numeric/floatlanes.h"
#include "numeric/matrixarray.h"
#include "numeric/pyramidtaps.h"
#include "numeric/vectorclones.h"
#include "platform/parallel.h"
#include "platform/progress.h"

namespace {
// A transposed tap table: for every input sample the (output, weight) pairs that read it,
// in the order a scatter over the outputs adds them.
struct Gather {
  std::vector<int> start;  // n + 1 offsets
  std::vector<int> from;
  std::vector<float> weight;
};

Gather Transposed(const TapTable& table, int n) {
  std::vector<std::vector<std::pair<int, float>>> into(size_t(std::max(n, 0)));
  for (int k = 0; k < int(table.size()); ++k) {
    const Taps& t = table[size_t(k)];
    for (int j = 0; j < t.count; ++j) into[size_t(t.index[j])].emplace_back(k, t.weight[j]);
  }
  Gather g;
  g.start.push_back(0);
  for (const auto& list : into) {
    for (const auto& [k, w] : list) {
      g.from.push_back(k);
      g.weight.push_back(w);
    }
    g.start.push_back(int(g.from.size()));
  }
  return g;
}

// The stretch of a tap table whose outputs read samples 2k-1 .. 2k+2 with one set of
// weights (all but a few outputs at the ends); there the passes below run without looking
// the taps up, with the same operations.
struct Interior {
  int lo = 0, hi = 0;    // outputs [lo, hi) of the tap table
  int ilo = 0, ihi = 0;  // inputs [ilo, ihi) of its transpose (ilo even)
  float w[4] = {};
};

bool Regular(const Taps& t, int k, const float* w) {
  if (t.count != 4) return false;
  for (int j = 0; j < 4; ++j) {
    if (t.index[j] != 2 * k - 1 + j || t.weight[j] != w[j]) return false;
  }
  return true;
}

Interior FindInterior(const TapTable& table, int n) {
  Interior in;
  const int size = int(table.size());
  const int mid = size / 2;
  if (size < 3 ||
      !std::equal(table[size_t(mid)].index, table[size_t(mid)].index + 4,
                  std::begin({2 * mid - 1, 2 * mid, 2 * mid + 1, 2 * mid + 2})) ||
      table[size_t(mid)].count != 4) {
    return in;
  }
  std::copy(table[size_t(mid)].weight, table[size_t(mid)].weight + 4, in.w);
  int lo = mid, hi = mid + 1;
  while (lo > 0 && Regular(table[size_t(lo - 1)], lo - 1, in.w)) --lo;
  while (hi < size && Regular(table[size_t(hi)], hi, in.w)) ++hi;
  // An input is gathered regularly when every output that reads it is regular and no other
  // output does: inputs 2 lo + 2 .. 2 hi - 2 (exclusive), made to start even.
  int ilo = 2 * lo + 2, ihi = std::min(2 * hi - 1, n);
  ilo += ilo % 2;
  ihi -= (ihi - ilo) % 2;
  if (ihi < ilo) ihi = ilo;
  in.lo = lo;
  in.hi = hi;
  in.ilo = ilo;
  in.ihi = ihi;
  return in;
}

ZEP_VECTOR_CLONES void ReduceInterior(const float* row, float* out, int lo, int hi,
                                      const float* w) {
  const float w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
  for (int k = lo; k < hi; ++k) {
    float v = 0.0f;
    v += w0 * row[2 * k - 1];
    v += w1 * row[2 * k];
    v += w2 * row[2 * k + 1];
    v += w3 * row[2 * k + 2];
    out[k] = v;
  }
}

// Inputs 2q and 2q+1 for q in [q0, q1): read by outputs q-1, q and q, q+1.
ZEP_VECTOR_CLONES void SpreadInterior(const float* r, float* out, int q0, int q1, const float* w) {
  const float w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
  for (int q = q0; q < q1; ++q) {
    float a = 0.0f;
    a += w3 * r[q - 1];
    a += w1 * r[q];
    float b = 0.0f;
    b += w2 * r[q];
    b += w0 * r[q + 1];
    out[2 * q] = a;
    out[2 * q + 1] = b;
  }
}

// Keeps the transpose's stretch only where every input there is gathered exactly as
// SpreadInterior gathers it.
void CheckInterior(const Gather& g, Interior& in) {
  for (int i = in.ilo; i < in.ihi; ++i) {
    const int q = i / 2;
    const int from[2] = {i % 2 ? q : q - 1, i % 2 ? q + 1 : q};
    const float weight[2] = {i % 2 ? in.w[2] : in.w[3], i % 2 ? in.w[0] : in.w[1]};
    const int e = g.start[size_t(i)];
    bool same = g.start[size_t(i) + 1] - e == 2;
    for (int j = 0; same && j < 2; ++j) {
      same = g.from[size_t(e + j)] == from[j] && g.weight[size_t(e + j)] == weight[j];
    }
    if (!same) {
      in.ihi = in.ilo;
      return;
    }
  }
}

// out[k] = the taps of output k over a row, summed from 0 as the pyramid passes do.
void ApplyTaps(const TapTable& table, const Interior& in, const float* row, float* out) {
  for (size_t k = 0; k < table.size(); ++k) {
    if (int(k) == in.lo && in.hi > in.lo) {
      ReduceInterior(row, out, in.lo, in.hi, in.w);
      k = size_t(in.hi) - 1;
      continue;
    }
    const Taps& t = table[k];
    float v = 0.0f;
    for (int j = 0; j < t.count; ++j) v += t.weight[j] * row[t.index[j]];
    out[k] = v;
  }
}

// out[i] = the transposed taps gathered at input sample i, summed from 0.
void ApplyGather(const Gather& g, const Interior& in, const float* row, float* out, int n) {
  for (int i = 0; i < n; ++i) {
    if (i == in.ilo && in.ihi > in.ilo) {
      SpreadInterior(row, out, in.ilo / 2, in.ihi / 2, in.w);
      i = in.ihi - 1;
      continue;
    }
    float v = 0.0f;
    for (int e = g.start[size_t(i)]; e < g.start[size_t(i) + 1]; ++e) {
      v += g.weight[size_t(e)] * row[g.from[size_t(e)]];
    }
    out[i] = v;
  }
}

// The difference rows that belong to pixel row y of a w-sample plane: diagonal d1, d2
// between rows y and y+1, or forward gx of row y and gy between rows y and y+1. b (and a
// for diagonal differences) is null where row y+1 does not exist.
struct DiffRow {
  const float* a = nullptr;
  const float* b = nullptr;
};

// The row loops below are written so that the compiler vectorises them, branch-free, with
// eight float lanes under AVX2. The vector updates round in single precision (the plain
// loop goes through double); the sums of squares stay double.

// The sum of v[i]^2 in double: eight lanes, then the tail.
ZEP_VECTOR_CLONES double SquareSum(const float* v, int n) {
  Double4 s0 = {}, s1 = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) AddSquares(Load8(v + i), s0, s1);
  double tail = 0.0;
  for (; i < n; ++i) tail += double(v[i]) * v[i];
  return Total(s0, s1) + tail;
}

// The sum of (b[i] - a[i])^2 plus that of (d[i] - c[i])^2 in double, for n samples.
ZEP_VECTOR_CLONES double DifferenceSquares(const float* b, const float* a, const float* d,
                                           const float* c, int n) {
  Double4 s0 = {}, s1 = {}, s2 = {}, s3 = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const Float8 u = Load8(b + i) - Load8(a + i), v = Load8(d + i) - Load8(c + i);
    AddSquares(u, s0, s1);
    AddSquares(v, s2, s3);
  }
  double tail = 0.0;
  for (; i < n; ++i) {
    const float u = b[i] - a[i], v = d[i] - c[i];
    tail += double(u) * u + double(v) * v;
  }
  return (Total(s0, s1) + Total(s2, s3)) + tail;
}

// into = beta p + s.
ZEP_VECTOR_CLONES void Direction(const float* p, const float* s, float beta, float* into, int n) {
  for (int i = 0; i < n; ++i) into[i] = beta * p[i] + s[i];
}

// x += a p; returns the sum of squares of t (the row's new A^T r) in double.
ZEP_VECTOR_CLONES double AxpySquares(float* x, const float* p, float a, const float* t, int n) {
  Double4 s0 = {}, s1 = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    Store8(x + i, Load8(x + i) + a * Load8(p + i));
    AddSquares(Load8(t + i), s0, s1);
  }
  double tail = 0.0;
  for (; i < n; ++i) {
    x[i] = x[i] + a * p[i];
    tail += double(t[i]) * t[i];
  }
  return Total(s0, s1) + tail;
}

// d = base + w a (base may be d).
ZEP_VECTOR_CLONES void AddScaled(float* d, const float* base, const float* a, float w, int n) {
  for (int i = 0; i < n; ++i) d[i] = base[i] + w * a[i];
}

// r += step (b - a) for n samples.
ZEP_VECTOR_CLONES void StepDifference(float* r, const float* b, const float* a, float step, int n) {
  for (int i = 0; i < n; ++i) r[i] = r[i] + step * (b[i] - a[i]);
}

// The transposed diagonal differences landing on a row of w >= 2 pixels: +a and -b of the
// difference row above (pa, pb), +b and -a of the row's own (ca, cb), each w - 1 long.
// They go onto base (which may be d).
ZEP_VECTOR_CLONES void DiagonalT(float* d, const float* base, int w, const float* pa,
                                 const float* pb, const float* ca, const float* cb) {
  d[0] = (base[0] - pb[0]) - ca[0];
  for (int i = 1; i + 1 < w; ++i) d[i] = (((base[i] + pa[i - 1]) - pb[i]) + cb[i - 1]) - ca[i];
  d[w - 1] = (base[w - 1] + pa[w - 2]) + cb[w - 2];
}

// The transposed forward differences landing on a row of w >= 2 pixels: the row's own
// across (ca, w - 1 long), + the down difference above (pb), - the row's own (cb).
// Onto base (which may be d).
ZEP_VECTOR_CLONES void ForwardT(float* d, const float* base, int w, const float* ca,
                                const float* pb, const float* cb) {
  d[0] = ((base[0] - ca[0]) + pb[0]) - cb[0];
  for (int i = 1; i + 1 < w; ++i) d[i] = (((base[i] + ca[i - 1]) - ca[i]) + pb[i]) - cb[i];
  d[w - 1] = ((base[w - 1] + ca[w - 2]) + pb[w - 1]) - cb[w - 1];
}

// into = old + step * (the differences of rows r0, r1), the residual's update; r1 null at
// the top row. With step 0 the rows stay as they are, as the plain update leaves them.
// old and into may be the same rows.
void UpdateResidualRow(const float* r0, const float* r1, int w, bool diagonal, DiffRow old,
                       float* intoA, float* intoB, float step) {
  auto keep = [](const float* from, float* to, int n) {
    if (from != to) std::copy(from, from + n, to);
  };
  if (diagonal) {
    if (!r1 || w < 2) return;
    keep(old.a, intoA, w - 1);
    keep(old.b, intoB, w - 1);
    if (step == 0.0f) return;
    StepDifference(intoA, r1 + 1, r0, step, w - 1);  // d1 = z[y+1][i+1] - z[y][i]
    StepDifference(intoB, r0 + 1, r1, step, w - 1);  // d2 = z[y][i+1] - z[y+1][i]
    return;
  }
  if (w >= 2) {
    keep(old.a, intoA, w - 1);
    if (step != 0.0f) StepDifference(intoA, r0 + 1, r0, step, w - 1);
  }
  if (r1) {
    keep(old.b, intoB, w);
    if (step != 0.0f) StepDifference(intoB, r1, r0, step, w);
  }
}

// The sum of squares of the differences of pixel row y (r1 the row above, or null);
// zeros holds w samples.
double RowEnergy(const float* r0, const float* r1, int w, bool diagonal, const float* zeros) {
  if (w < 1) return 0.0;
  if (diagonal) return r1 ? DifferenceSquares(r1 + 1, r0, r0 + 1, r1, w - 1) : 0.0;
  // The across differences, and the down ones of all but the last sample.
  if (!r1) return DifferenceSquares(r0 + 1, r0, zeros, zeros, w - 1);
  const double last = double(r1[w - 1] - r0[w - 1]) * (r1[w - 1] - r0[w - 1]);
  return DifferenceSquares(r0 + 1, r0, r1, r0, w - 1) + last;
}

// d = base + the transposed differences that land on pixel row y: those of difference row
// y - 1 (prev) and of row y (cur); zeros (w samples) stands in for a missing row, and base
// may be d.
void AddDifferencesT(float* d, const float* base, int w, DiffRow prev, DiffRow cur,
                     bool diagonal, const float* zeros) {
  const auto row = [zeros](const float* r) { return r ? r : zeros; };
  if (w >= 2 && diagonal && (prev.b || cur.b)) {
    DiagonalT(d, base, w, row(prev.b ? prev.a : nullptr), row(prev.b),
              row(cur.b ? cur.a : nullptr), row(cur.b));
  } else if (w >= 2 && !diagonal) {
    ForwardT(d, base, w, row(cur.a), row(prev.b), row(cur.b));
  } else if (w == 1 && !diagonal) {
    d[0] = (base[0] + row(prev.b)[0]) - row(cur.b)[0];
  } else if (d != base) {
    std::copy(base, base + w, d);
  }
}

// One pixel row of the backward pass in a single sweep: the row's residual differences
// take their step, the transposed differences of the rows above and of this row go onto
// base, the coarser levels' rows are added, and at level 0 x takes its step and the sum of
// squares of the new row is returned. Every sample goes through the same operations in
// the same order as the separate passes it replaces (UpdateResidualRow, DiagonalT or
// ForwardT, AddScaled, AxpySquares), and the sum adds its lanes in the same order, so the
// bits are theirs.
struct RowT {
  int w = 0;                                    // >= 2
  float* ua = nullptr;                          // the row's a, b to step (null: kept)
  float* ub = nullptr;
  const float* ca = nullptr;                    // the row's a, b as read (zeros if none)
  const float* cb = nullptr;
  const float* pa = nullptr;                    // the rows above (zeros if none)
  const float* pb = nullptr;
  const float* p0 = nullptr;                    // the direction's rows y and y + 1
  const float* p1 = nullptr;
  float step = 0.0f;
  const float* base = nullptr;                  // may be t
  float* t = nullptr;
  int extras = 0;
  const float* extra[4] = {};
  float weight[4] = {};
  float* x = nullptr;                           // null: no step of x
  float alpha = 0.0f;
  bool sum = false;                             // the sum of squares of t is wanted
};

constexpr int kMaxExtras = 4;

// Lane 0 the carried sample, lanes 1-7 lanes 0-6 of v.
[[gnu::always_inline]] inline Float8 ShiftIn(Float8 v, float carried) {
  const Float8 c = {carried, carried, carried, carried, carried, carried, carried, carried};
  return __builtin_shufflevector(v, c, 8, 0, 1, 2, 3, 4, 5, 6);
}

// Sample j by the plain formulas, the residual steps first.
template <bool Diagonal, int Extras>
[[gnu::always_inline]] inline void SweepSample(const RowT& r, int j) {
  const int w = r.w;
  const float step = r.step;
  const float *ca = r.ca, *cb = r.cb, *pa = r.pa, *pb = r.pb, *p0 = r.p0, *p1 = r.p1;
  float d;
  if constexpr (Diagonal) {
    if (j < w - 1) {
      if (r.ua) r.ua[j] = r.ua[j] + step * (p1[j + 1] - p0[j]);
      if (r.ub) r.ub[j] = r.ub[j] + step * (p0[j + 1] - p1[j]);
    }
    if (j == 0) {
      d = (r.base[0] - pb[0]) - ca[0];
    } else if (j == w - 1) {
      d = (r.base[j] + pa[j - 1]) + cb[j - 1];
    } else {
      d = (((r.base[j] + pa[j - 1]) - pb[j]) + cb[j - 1]) - ca[j];
    }
  } else {
    if (r.ua && j < w - 1) r.ua[j] = r.ua[j] + step * (p0[j + 1] - p0[j]);
    if (r.ub) r.ub[j] = r.ub[j] + step * (p1[j] - p0[j]);
    if (j == 0) {
      d = ((r.base[0] - ca[0]) + pb[0]) - cb[0];
    } else if (j == w - 1) {
      d = ((r.base[j] + ca[j - 1]) + pb[j]) - cb[j];
    } else {
      d = (((r.base[j] + ca[j - 1]) - ca[j]) + pb[j]) - cb[j];
    }
  }
  for (int e = 0; e < Extras; ++e) d = d + r.weight[e] * r.extra[e][j];
  r.t[j] = d;
  if (r.x) r.x[j] = r.x[j] + r.alpha * p0[j];
}

// The chunks [from, to) of eight samples, 1 <= from, to + 8 <= w - 1; `carried` is the
// difference that the sample before `from` carries in (a for forward differences, b for
// diagonal ones). The flags are those of r, fixed for the loop.
template <bool Diagonal, int Extras, bool StepA, bool StepB, bool StepX, bool Sum>
[[gnu::always_inline]] inline void SweepChunks(const RowT& r, int from, int to, float carried,
                                               Double4& s0, Double4& s1) {
  float* const ua = r.ua;
  float* const ub = r.ub;
  const float *const ca = r.ca, *const cb = r.cb, *const pa = r.pa, *const pb = r.pb;
  const float *const p0 = r.p0, *const p1 = r.p1, *const base = r.base;
  float* const t = r.t;
  float* const x = r.x;
  const float step = r.step, alpha = r.alpha;
  const float* extra[kMaxExtras] = {};
  float weight[kMaxExtras] = {};
  for (int e = 0; e < Extras; ++e) {
    extra[e] = r.extra[e];
    weight[e] = r.weight[e];
  }
  Double4 a0 = s0, a1 = s1;
  for (int i = from; i < to; i += 8) {
    const Float8 q0 = Load8(p0 + i);
    Float8 a = Load8(ca + i), b = Load8(cb + i), d;
    if constexpr (Diagonal) {
      if constexpr (StepA) {
        a = a + step * (Load8(p1 + i + 1) - q0);
        Store8(ua + i, a);
      }
      if constexpr (StepB) {
        b = b + step * (Load8(p0 + i + 1) - Load8(p1 + i));
        Store8(ub + i, b);
      }
      d = (((Load8(base + i) + Load8(pa + i - 1)) - Load8(pb + i)) + ShiftIn(b, carried)) - a;
      carried = b[7];
    } else {
      if constexpr (StepA) {
        a = a + step * (Load8(p0 + i + 1) - q0);
        Store8(ua + i, a);
      }
      if constexpr (StepB) {
        b = b + step * (Load8(p1 + i) - q0);
        Store8(ub + i, b);
      }
      d = (((Load8(base + i) + ShiftIn(a, carried)) - a) + Load8(pb + i)) - b;
      carried = a[7];
    }
    for (int e = 0; e < Extras; ++e) d = d + weight[e] * Load8(extra[e] + i);
    Store8(t + i, d);
    if constexpr (StepX) Store8(x + i, Load8(x + i) + alpha * q0);
    if constexpr (Sum) AddSquares(d, a0, a1);
  }
  s0 = a0;
  s1 = a1;
}

template <bool Diagonal, int Extras, bool StepA, bool StepB>
[[gnu::always_inline]] inline void SweepChunksBy(const RowT& r, int from, int to, float carried,
                                                 Double4& s0, Double4& s1) {
  if (r.x) {
    SweepChunks<Diagonal, Extras, StepA, StepB, true, true>(r, from, to, carried, s0, s1);
  } else if (r.sum) {
    SweepChunks<Diagonal, Extras, StepA, StepB, false, true>(r, from, to, carried, s0, s1);
  } else {
    SweepChunks<Diagonal, Extras, StepA, StepB, false, false>(r, from, to, carried, s0, s1);
  }
}

template <bool Diagonal, int Extras>
[[gnu::always_inline]] inline double SweepRowT(const RowT& r) {
  const int w = r.w;
  Double4 s0 = {}, s1 = {};
  double tail = 0.0;
  // Chunk 0 and the chunks that reach the last sample go sample by sample; the sum still
  // adds whole chunks of eight from sample 0, then the tail.
  int i = 0;
  const auto scalarChunk = [&r, &s0, &s1](int at) {
    for (int j = at; j < at + 8; ++j) SweepSample<Diagonal, Extras>(r, j);
    if (r.sum) AddSquares(Load8(r.t + at), s0, s1);
  };
  if (w >= 8) {
    scalarChunk(0);
    i = 8;
    const int to = w - 1 >= 16 ? 8 + (w - 1 - 8) / 8 * 8 : 8;
    if (to > 8) {
      const float carried = (Diagonal ? r.cb : r.ca)[7];
      if (r.ua && r.ub) {
        SweepChunksBy<Diagonal, Extras, true, true>(r, 8, to, carried, s0, s1);
      } else if (r.ua) {
        SweepChunksBy<Diagonal, Extras, true, false>(r, 8, to, carried, s0, s1);
      } else if (r.ub) {
        SweepChunksBy<Diagonal, Extras, false, true>(r, 8, to, carried, s0, s1);
      } else {
        SweepChunksBy<Diagonal, Extras, false, false>(r, 8, to, carried, s0, s1);
      }
      i = to;
    }
    for (; i + 8 <= w; i += 8) scalarChunk(i);
  }
  for (; i < w; ++i) {
    SweepSample<Diagonal, Extras>(r, i);
    if (r.sum) tail += double(r.t[i]) * r.t[i];
  }
  return Total(s0, s1) + tail;
}

template <bool Diagonal>
[[gnu::always_inline]] inline double SweepRowBy(const RowT& r) {
  switch (r.extras) {
    case 0: return SweepRowT<Diagonal, 0>(r);
    case 1: return SweepRowT<Diagonal, 1>(r);
    case 2: return SweepRowT<Diagonal, 2>(r);
    case 3: return SweepRowT<Diagonal, 3>(r);
    default: return SweepRowT<Diagonal, 4>(r);
  }
}
ZEP_VECTOR_CLONES double SweepRowForward(const RowT& r) { return SweepRowBy<false>(r); }
ZEP_VECTOR_CLONES double SweepRowDiagonal(const RowT& r) { return SweepRowBy<true>(r); }

struct Level {
  int w = 0, h = 0;
  TapTable across, down;  // to the next level (empty at the coarsest)
  Gather acrossT, downT;
  Interior acrossInterior;
  matrix p;     // the direction reduced to this level (level 1 on)
  matrix t;     // A^T r's part of this level and those below it (level 1 on)
  matrix r[2];  // the residual's two difference planes

  // The residual rows of pixel row y.
  DiffRow Residual(int y, bool diagonal) const {
    const matrix* m = r;
    DiffRow d;
    if (y + 1 < h && m[1].n > 0) d.b = m[1].z[y];
    if (m[0].n > 0 && (diagonal ? y + 1 < h : true)) d.a = m[0].z[y];
    return d;
  }
};

// A few rows made on demand and kept while they are among the last used.
class RowCache {
 public:
  explicit RowCache(int width) : width_(width) {}
  template <class Make>
  const float* Get(int y, Make make) {
    Slot* victim = &slots_[0];
    for (Slot& s : slots_) {
      if (s.y == y) {
        s.used = ++clock_;
        return s.row.data();
      }
      if (s.used < victim->used) victim = &s;
    }
    victim->row.resize(size_t(width_));
    victim->y = y;
    victim->used = ++clock_;
    make(y, victim->row.data());
    return victim->row.data();
  }

 private:
  struct Slot {
    int y = -1;
    long used = 0;
    std::vector<float> row;
  };
  int width_;
  long clock_ = 0;
  Slot slots_[6];
};

// Rows of a band: about this many samples of the level per band, at least two rows.
int BandRows(int width) { return std::max(2, (1 << 17) / std::max(width, 1)); }

class LevelSolver {
 public:
  LevelSolver(int w, int h, int count, LevelReduction reduction, bool diagonal)
      : mirroring_(reduction == LevelReduction::Mirroring), diagonal_(diagonal) {
    levels_.resize(size_t(std::max(count, 1)));
    levels_[0].w = w;
    levels_[0].h = h;
    zeros_.assign(size_t(std::max(w, 1)), 0.0f);
    for (size_t k = 0; k + 1 < levels_.size(); ++k) {
      Level& l = levels_[k];
      l.across = mirroring_ ? MirroringTaps(l.w) : RenormalisingTaps(l.w);
      l.down = mirroring_ ? MirroringTaps(l.h) : RenormalisingTaps(l.h);
      l.acrossT = Transposed(l.across, l.w);
      l.acrossInterior = FindInterior(l.across, l.w);
      CheckInterior(l.acrossT, l.acrossInterior);
      l.downT = Transposed(l.down, l.h);
      Level& next = levels_[k + 1];
      next.w = int(l.across.size());
      next.h = int(l.down.size());
      next.p.dim(next.w, next.h);
      next.t.dim(next.w, next.h);
    }
  }

  void Run(matrix& x, matrix& s, matrixarray& r1, matrixarray& r2, int iterations, bool stopEarly) {
    for (size_t k = 0; k < levels_.size(); ++k) {
      Level& l = levels_[k];
      l.r[0] = std::move(r1[int(k)]);
      l.r[1] = std::move(r2[int(k)]);
    }
    double gamma = s.sumsq();
    matrix p(s);
    float beta = 0.0f;
    bool pending = false;  // p = beta p + s is due
    for (int it = 0; it < iterations; ++it) {
      StepProgressOrThrow();
      const double denom = Forward(p, pending ? &s : nullptr, beta);
      float alpha;
      if (!CgStep(gamma, denom, denom > 0.0, stopEarly, alpha)) break;
      const double gammaNew = Backward(p, s, x, alpha);
      if (!CgStep(gammaNew, gamma, gamma != 0.0, stopEarly, beta)) break;
      pending = true;
      gamma = gammaNew;
    }
  }

 private:
  // The direction's pyramid and the energy of its differences, level by level. With s,
  // level 0 is first made beta p + s.
  double Forward(matrix& p0, const matrix* s, float beta) {
    double total = 0.0;
    for (size_t k = 0; k < levels_.size(); ++k) {
      total += ForwardLevel(k, k == 0 ? p0 : levels_[k].p, k == 0 ? s : nullptr, beta);
    }
    return total;
  }

  // The level-k rows that band [b0, b1) of pass F owns (writes p = beta p + s into).
  void OwnedRows(size_t k, int64_t b0, int64_t b1, int& lo, int& hi) const {
    const int h = levels_[k].h;
    if (k + 1 == levels_.size()) {
      lo = int(b0);
      hi = int(b1);
      return;
    }
    const int next = levels_[k + 1].h;
    lo = std::min<int>(h, int(2 * b0));
    hi = b1 == next ? h : std::min<int>(h, int(2 * b1));
  }

  // The rows outside its own that band [b0, b1) of pass F reads.
  std::vector<int> HaloRows(size_t k, int64_t b0, int64_t b1) const {
    const Level& l = levels_[k];
    int lo, hi;
    OwnedRows(k, b0, b1, lo, hi);
    std::vector<int> rows;
    auto need = [&](int y) {
      if ((y < lo || y >= hi) && std::find(rows.begin(), rows.end(), y) == rows.end()) {
        rows.push_back(y);
      }
    };
    if (lo < hi && hi < l.h) need(hi);  // the differences of the band's last row
    if (k + 1 < levels_.size()) {
      for (int64_t m = b0; m < b1; ++m) {
        const Taps& t = l.down[size_t(m)];
        for (int j = 0; j < t.count; ++j) need(t.index[j]);
      }
    }
    return rows;
  }

  // Pass F of level k: the energy of the level's differences and the next level. With s
  // (level 0), p becomes beta p + s in place first; the rows a band reads beyond its own
  // are kept as they were before the pass, so no band reads what another writes.
  double ForwardLevel(size_t k, matrix& plane, const matrix* s, float beta) {
    const Level& l = levels_[k];
    const int w = l.w, h = l.h;
    const bool last = k + 1 == levels_.size();
    const int items = last ? h : levels_[k + 1].h;
    const int64_t per = last ? BandRows(w) : std::max(1, BandRows(w) / 2);
    if (items <= 0 || w <= 0) return 0.0;
    const int64_t bands = (items + per - 1) / per;
    using Halo = std::vector<std::pair<int, std::vector<float>>>;
    std::vector<Halo> halos(s ? size_t(bands) : 0);
    if (s) {
      ParallelBlocks(bands, 1, [&](int64_t j0, int64_t j1) {
        for (int64_t j = j0; j < j1; ++j) {
          for (const int y : HaloRows(k, j * per, std::min<int64_t>(items, (j + 1) * per))) {
            halos[size_t(j)].emplace_back(y, std::vector<float>(plane.z[y], plane.z[y] + w));
          }
        }
      });
    }
    std::vector<double> energy(size_t(bands), 0.0);
    ParallelBlocks(items, per, [&](int64_t b0, int64_t b1) {
      int lo, hi;
      OwnedRows(k, b0, b1, lo, hi);
      if (s) {
        for (auto& [y, v] : halos[size_t(b0 / per)])
          Direction(v.data(), s->z[y], beta, v.data(), w);
      }
      auto row = [&](int y) -> const float* {
        if (!s || (y >= lo && y < hi)) return plane.z[y];
        for (const auto& [hy, v] : halos[size_t(b0 / per)]) {
          if (hy == y) return v.data();
        }
        return nullptr;  // not reached: HaloRows lists every row read
      };
      // The band goes row by row while its rows are in cache: each owned row becomes
      // beta p + s just before it is first read, its energy follows as soon as the row below
      // is made, and each row of the next level as soon as the rows it reads are.
      int made = lo;  // owned rows [lo, made) are beta p + s
      auto make = [&](int y) {
        for (; s && made <= y && made < hi; ++made) {
          Direction(plane.z[made], s->z[made], beta, plane.z[made], w);
        }
      };
      auto ready = [&](int y) { return !s || y < lo || y >= hi || y < made; };
      Level* n = last ? nullptr : &levels_[k + 1];
      RowCache across(n ? n->w : 0);
      auto acrossRow = [&](int y, float* into) {
        ApplyTaps(l.across, l.acrossInterior, row(y), into);
      };
      int m = int(b0);
      // The rows of the next level whose taps are all made, from m on.
      auto reduceReady = [&](bool all) {
        for (; n && m < int(b1); ++m) {
          const Taps& t = l.down[size_t(m)];
          if (!all && !std::all_of(t.index, t.index + t.count, ready)) return;
          float* d = n->p.z[m];
          for (int j = 0; j < t.count; ++j) {
            AddScaled(d, j == 0 ? zeros_.data() : d, across.Get(t.index[j], acrossRow),
                      t.weight[j], n->w);
          }
          if (t.count == 0) std::fill(d, d + n->w, 0.0f);
        }
      };
      double e = 0.0;
      for (int y = lo; y < hi; ++y) {
        make(y + 1 < h ? y + 1 : y);
        e += RowEnergy(row(y), y + 1 < h ? row(y + 1) : nullptr, w, diagonal_, zeros_.data());
        reduceReady(false);
      }
      make(hi);
      reduceReady(true);
      energy[size_t(b0 / per)] = e;
    });
    double total = 0.0;
    for (const double e : energy) total += e;
    return total;
  }

  // r -= alpha A p and s = A^T r from the coarsest level to level 0, where also
  // x += alpha p; returns the sum of squares of the new s.
  double Backward(const matrix& p0, matrix& s, matrix& x, float alpha) {
    double gamma = 0.0;
    for (size_t k = levels_.size(); k-- > 0;) {
      gamma = BackwardLevel(k, k == 0 ? p0 : levels_[k].p, s, x, alpha);
    }
    return gamma;
  }

  double BackwardLevel(size_t k, const matrix& plane, matrix& s, matrix& x, float alpha) {
    Level& l = levels_[k];
    const int w = l.w, h = l.h;
    const bool last = k + 1 == levels_.size();
    const int64_t per = BandRows(w);
    if (h <= 0 || w <= 0) return 0.0;
    const int64_t bands = (h + per - 1) / per;
    // The residual rows just below each band, as they were: the band updates them in
    // scratch for its first row while the band below updates them in place.
    std::vector<std::vector<float>> below(size_t(bands) * 2);
    ParallelBlocks(bands, 1, [&](int64_t j0, int64_t j1) {
      for (int64_t j = std::max<int64_t>(j0, 1); j < j1; ++j) {
        const DiffRow old = l.Residual(int(j * per) - 1, diagonal_);
        if (old.a) below[size_t(2 * j)].assign(old.a, old.a + l.r[0].nx);
        if (old.b) below[size_t(2 * j + 1)].assign(old.b, old.b + l.r[1].nx);
      }
    });
    std::vector<double> sums(size_t(bands), 0.0);
    ParallelBlocks(h, per, [&](int64_t b0, int64_t b1) {
      auto update = [&](int y, DiffRow old, float* intoA, float* intoB) {
        UpdateResidualRow(plane.z[y], y + 1 < h ? plane.z[y + 1] : nullptr, w, diagonal_, old,
                          intoA, intoB, -alpha);
      };
      DiffRow prev;
      if (b0 > 0) {
        std::vector<float>& a = below[size_t(2 * (b0 / per))];
        std::vector<float>& b = below[size_t(2 * (b0 / per) + 1)];
        DiffRow old;
        old.a = a.empty() ? nullptr : a.data();
        old.b = b.empty() ? nullptr : b.data();
        update(int(b0) - 1, old, a.data(), b.data());
        prev = old;
      }
      const Level* n = last ? nullptr : &levels_[k + 1];
      std::vector<float> downRow(n && !mirroring_ ? size_t(n->w) : 0);
      RowCache across(w);
      auto acrossRow = [&](int m, float* into) {
        ApplyGather(l.acrossT, l.acrossInterior, n->t.z[m], into, w);
      };
      double sum = 0.0;
      for (int y = int(b0); y < int(b1); ++y) {
        const DiffRow cur = l.Residual(y, diagonal_);
        float* t = k == 0 ? s.z[y] : l.t.z[y];
        const int e0 = n ? l.downT.start[size_t(y)] : 0;
        const int e1 = n ? l.downT.start[size_t(y) + 1] : 0;
        if (w >= 2 && (!n || !mirroring_ || e1 - e0 <= kMaxExtras) &&
            !(diagonal_ && !prev.b && !cur.b)) {
          sum += SweepRow(k, y, plane, prev, cur, t, n, e0, e1, across, acrossRow, downRow, x,
                          alpha);
          prev = cur;
          continue;
        }
        update(y, cur, const_cast<float*>(cur.a), const_cast<float*>(cur.b));
        if (n && !mirroring_) {
          // The coarser part pushed down its columns, then across, then the differences.
          float* down = downRow.data();
          for (int e = e0; e < e1; ++e) {
            const float we = l.downT.weight[size_t(e)];
            AddScaled(down, e == e0 ? zeros_.data() : down, n->t.z[l.downT.from[size_t(e)]], we,
                      n->w);
          }
          if (e0 == e1) std::fill(downRow.begin(), downRow.end(), 0.0f);
          ApplyGather(l.acrossT, l.acrossInterior, downRow.data(), t, w);
        }
        AddDifferencesT(t, n && !mirroring_ ? t : zeros_.data(), w, prev, cur, diagonal_,
                        zeros_.data());
        if (n && mirroring_) {
          // The differences first, then the coarser part pushed across, then down.
          for (int e = e0; e < e1; ++e) {
            const float* a = across.Get(l.downT.from[size_t(e)], acrossRow);
            AddScaled(t, t, a, l.downT.weight[size_t(e)], w);
          }
        }
        if (k == 0) {
          sum += alpha != 0.0f ? AxpySquares(x.z[y], plane.z[y], alpha, t, w) : SquareSum(t, w);
        }
        prev = cur;
      }
      sums[size_t(b0 / per)] = sum;
    });
    double total = 0.0;
    for (const double v : sums) total += v;
    return total;
  }

  // Pixel row y (w >= 2) of BackwardLevel in one sweep; returns its part of the sum (level
  // 0 only).
  template <class AcrossRow>
  double SweepRow(size_t k, int y, const matrix& plane, DiffRow prev, DiffRow cur, float* t,
                  const Level* n, int e0, int e1, RowCache& across, AcrossRow& acrossRow,
                  std::vector<float>& down, matrix& x, float alpha) {
    const Level& l = levels_[k];
    const int w = l.w, h = l.h;
    const float* zeros = zeros_.data();
    if (n && !mirroring_) {
      // The coarser part pushed down its columns, then across, as t's base.
      for (int e = e0; e < e1; ++e) {
        const float we = l.downT.weight[size_t(e)];
        AddScaled(down.data(), e == e0 ? zeros : down.data(), n->t.z[l.downT.from[size_t(e)]], we,
                  n->w);
      }
      if (e0 == e1) std::fill(down.begin(), down.end(), 0.0f);
      ApplyGather(l.acrossT, l.acrossInterior, down.data(), t, w);
    }
    RowT r;
    r.w = w;
    r.p0 = plane.z[y];
    r.p1 = y + 1 < h ? plane.z[y + 1] : nullptr;
    r.step = -alpha;
    const bool step = alpha != 0.0f;
    const auto row = [zeros](const float* v) { return v ? v : zeros; };
    if (diagonal_) {
      // Both rows of a difference row or neither; the rows above count only with their b.
      if (step && r.p1) {
        r.ua = const_cast<float*>(cur.a);
        r.ub = const_cast<float*>(cur.b);
      }
      r.ca = row(cur.b ? cur.a : nullptr);
      r.cb = row(cur.b);
      r.pa = row(prev.b ? prev.a : nullptr);
      r.pb = row(prev.b);
    } else {
      if (step) {
        r.ua = const_cast<float*>(cur.a);
        r.ub = r.p1 ? const_cast<float*>(cur.b) : nullptr;
      }
      r.ca = row(cur.a);
      r.cb = row(cur.b);
      r.pb = row(prev.b);
      r.pa = zeros;
    }
    r.base = n && !mirroring_ ? t : zeros;
    r.t = t;
    if (n && mirroring_) {
      // The differences first, then the coarser part pushed across, then down.
      for (int e = e0; e < e1; ++e) {
        r.extra[r.extras] = across.Get(l.downT.from[size_t(e)], acrossRow);
        r.weight[r.extras++] = l.downT.weight[size_t(e)];
      }
    }
    if (k == 0) {
      r.x = step ? x.z[y] : nullptr;
      r.alpha = alpha;
      r.sum = true;
    }
    return diagonal_ ? SweepRowDiagonal(r) : SweepRowForward(r);
  }

  std::vector<Level> levels_;
  bool mirroring_, diagonal_;
  std::vector<float> zeros_;  // a row of zeros as wide as level 0
};
}  // namespace

void LevelConjugateGradients(matrix& x, matrix& s, matrixarray& r1, matrixarray& r2, int levels,
                             LevelReduction reduction, bool diagonal, int iterations,
                             bool stopEarly) {
  if (iterations <= 0 || x.n == 0) return;
  LevelSolver solver(x.nx, x.ny, levels, reduction, diagonal);
  solver.Run(x, s, r1, r2, iterations, stopEarly);
}
