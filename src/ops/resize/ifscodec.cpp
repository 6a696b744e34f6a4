// The fractal plane codec and the .IFS file.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include "image/colorspace.h"
#include "numeric/hugepages.h"
#include "numeric/ifsblocks.h"
#include "numeric/sort.h"
#include "ops/resize/ifs.h"
#include "params/blocks.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/parallel.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/progress.h"

namespace {
// The key of a flat block or a domain without contrast: never inside a search window.
constexpr float kFlat = 1e36f;
constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

int64_t RoundUp(int64_t v, int64_t r) { return (v + r - 1) / r * r; }

// The codec's planes are small (a 256 x 256 image decodes planes of a quarter of a million
// samples), and a loop of blocks of the usual size would run on one or two threads, or
// leave the search's uneven range blocks to a few; its loops take blocks a sixteenth of
// that size, still many times the cost of starting one.
int64_t FineBlock(int64_t itemCost) { return std::max<int64_t>(1, BlockFor(itemCost) / 16); }

// Runs body over [0, count) with one tick per item; a cancel throws.
void TickingLoop(int64_t count, int64_t block, const BlockBody& body) {
  if (ParallelBlocksTicking(count, block, body)) throw Cancelled{};
}

// The domain pool of one coding: the high-contrast domains of the search plane, their
// reduced blocks' statistics, and their order by smoothness key.
struct Pool {
  int n = 0;
  std::vector<int32_t> domain;
  std::vector<float> mean, g, key;  // by pool entry
  std::vector<float> v;             // entry j's deviations / G, r*r values from j*r*r
  std::vector<int> order;           // pool entries by ascending key
  std::vector<float> sorted;        // their keys
};

// Reads the reduced r x r block of domain d from the cell means of the plane.
inline float Reduced(const matrix& cells, const ifscoding& c, int64_t d, int i, int j) {
  const int x = int(d % c.dx), y = int(d / c.dx);
  return cells.z[y + c.q * j][x + c.q * i];
}

Pool BuildPool(const ifscoding& c, const matrix& search, float p1) {
  Pool pool;
  const int64_t nd = c.domains();
  if (nd == 0) return pool;
  const int r = c.r, rr = r * r;
  matrix cells;
  cells.cellmeans(search, c.q);
  // Contrast of every domain: the pool takes the highest ones.
  std::vector<float> first(static_cast<size_t>(nd), 0.0f);
  ParallelBlocks(nd, FineBlock(rr), [&](int64_t d0, int64_t d1) {
    for (int64_t d = d0; d < d1; ++d) {
      float lo = Reduced(cells, c, d, 0, 0), hi = lo;
      for (int j = 0; j < r; ++j)
        for (int i = 0; i < r; ++i) {
          const float v = Reduced(cells, c, d, i, j);
          lo = std::min(lo, v);
          hi = std::max(hi, v);
        }
      const float contrast = hi - lo;
      first[size_t(d)] = contrast > 1.0f ? 1.0f / contrast : kFlat;
    }
  });
  // Ascending, the keys below kFlat come first; only the n taken need their sorted order.
  const int64_t contrasted =
      std::count_if(first.begin(), first.end(), [](float f) { return f < kFlat; });
  const int64_t n =
      std::clamp<int64_t>(int64_t(std::trunc(double(contrasted) * double(p1))), 0, contrasted);
  std::vector<int> byContrast(static_cast<size_t>(nd));
  IndexSortPrefix(byContrast.data(), first.data(), int(nd), int(n));
  std::vector<float> mean(static_cast<size_t>(n)), g(static_cast<size_t>(n)),
      key(static_cast<size_t>(n)), v(static_cast<size_t>(n) * size_t(rr));
  ParallelBlocks(n, FineBlock(4 * rr), [&](int64_t j0, int64_t j1) {
    std::vector<float> dev(static_cast<size_t>(rr));
    std::vector<float*> rows(static_cast<size_t>(r));
    for (int k = 0; k < r; ++k) rows[size_t(k)] = dev.data() + size_t(k) * size_t(r);
    for (int64_t j = j0; j < j1; ++j) {
      const int64_t d = byContrast[size_t(j)];
      double sum = 0;
      for (int b = 0; b < r; ++b)
        for (int a = 0; a < r; ++a) sum += (dev[size_t(b * r + a)] = Reduced(cells, c, d, a, b));
      const float m = float(sum / rr);
      double ss = 0;
      for (float& x : dev) {
        x -= m;
        ss += double(x) * x;
      }
      const float G = float(ss);
      float* out = v.data() + size_t(j) * size_t(rr);
      for (int k = 0; k < rr; ++k) out[k] = dev[size_t(k)] / G;
      mean[size_t(j)] = m;
      g[size_t(j)] = G;
      key[size_t(j)] = float(std::sqrt(double(G) / rr)) / MaxNeighbourDiff(rows.data(), 0, 0, r, r);
    }
  });
  // An entry whose statistics overflowed cannot be matched; it leaves the pool.
  for (int64_t j = 0; j < n; ++j) {
    const size_t s = size_t(j);
    if (!std::isfinite(key[s]) || !std::isfinite(g[s]) || !std::isfinite(mean[s])) continue;
    bool finite = true;
    for (int k = 0; k < rr && finite; ++k) finite = std::isfinite(v[s * size_t(rr) + size_t(k)]);
    if (!finite) continue;
    pool.domain.push_back(byContrast[s]);
    pool.mean.push_back(mean[s]);
    pool.g.push_back(g[s]);
    pool.key.push_back(key[s]);
    pool.v.insert(pool.v.end(), v.begin() + int64_t(s) * rr, v.begin() + int64_t(s + 1) * rr);
  }
  pool.n = int(pool.domain.size());
  pool.order.resize(size_t(pool.n));
  IndexSort(pool.order.data(), pool.key.data(), pool.n);
  for (int p = 0; p < pool.n; ++p) pool.sorted.push_back(pool.key[size_t(pool.order[size_t(p)])]);
  return pool;
}

// The source index of every output sample of the eight isometries of an r x r block.
std::vector<int> IsometryTables(int r) {
  std::vector<int> t(static_cast<size_t>(8 * r * r));
  for (int code = 0; code < 8; ++code)
    for (int y = 0; y < r; ++y)
      for (int x = 0; x < r; ++x) {
        int sx, sy;
        IsometrySource(code, x, y, r, r, sx, sy);
        t[size_t(code * r * r + y * r + x)] = sy * r + sx;
      }
  return t;
}

// Σ a·b in double, in four interleaved partial sums added in a fixed order, so that the
// compiler may keep them in vector registers.
inline double Dot(const float* a, const float* b, int n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int q = 0;
  for (; q + 4 <= n; q += 4) {
    s0 += double(a[q]) * b[q];
    s1 += double(a[q + 1]) * b[q + 1];
    s2 += double(a[q + 2]) * b[q + 2];
    s3 += double(a[q + 3]) * b[q + 3];
  }
  for (; q < n; ++q) s0 += double(a[q]) * b[q];
  return (s0 + s1) + (s2 + s3);
}

// One search pass: every range block of the plane e gets the best code the pool offers
// within its key window, or its mean.
void Search(const ifscoding& c, const matrix& e, const Pool& pool, float p2, IfsCodes& out) {
  const int r = c.r, rr = r * r, N = c.N;
  std::vector<float> meanR(static_cast<size_t>(N)), ssR(static_cast<size_t>(N)),
      keyR(static_cast<size_t>(N));
  ParallelBlocks(N, FineBlock(2 * rr), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const int bx = int(i % c.rx) * r, by = int(i / c.rx) * r;
      double s = 0, s2 = 0;
      for (int y = by; y < by + r; ++y)
        for (int x = bx; x < bx + r; ++x) {
          s += e.z[y][x];
          s2 += double(e.z[y][x]) * e.z[y][x];
        }
      const double ss = s2 - s * s / rr;
      meanR[size_t(i)] = float(s / rr);
      ssR[size_t(i)] = float(ss);
      const float diff = MaxNeighbourDiff(e.z, bx, by, r, r);
      keyR[size_t(i)] = diff > 1.0f ? float(std::sqrt(std::max(ss, 0.0) / rr)) / diff : kFlat;
    }
  });
  std::vector<int> order(static_cast<size_t>(N));
  IndexSort(order.data(), keyR.data(), N);

  std::vector<float> visited(static_cast<size_t>(N));
  for (int pos = 0; pos < N; ++pos) visited[size_t(pos)] = keyR[size_t(order[size_t(pos)])];
  std::vector<int> lo(static_cast<size_t>(N), 0), hi(static_cast<size_t>(N), 0);
  IfsSearchWindows(pool.sorted.data(), pool.n, visited.data(), N, p2, lo.data(), hi.data());

  const std::vector<int> tables = IsometryTables(r);
  const double maxMultiplier = c.maxMultiplier;
  // A range costs eight products per candidate in its window, and the windows differ
  // widely: blocks of neighbouring keys can hold most of the work. The blocks start
  // costliest first, so that none is left to run alone at the end.
  const int64_t span = FineBlock(int64_t(rr) * 64), blocks = (N - 1) / span + 1;
  std::vector<int64_t> cost(static_cast<size_t>(blocks), 0);
  for (int pos = 0; pos < N; ++pos)
    cost[size_t(pos / span)] += 9 + 8 * int64_t(hi[size_t(pos)] - lo[size_t(pos)]);
  std::vector<int> costliest(static_cast<size_t>(blocks));
  for (int64_t k = 0; k < blocks; ++k) costliest[size_t(k)] = int(k);
  std::stable_sort(costliest.begin(), costliest.end(),
                   [&](int a, int b) { return cost[size_t(a)] > cost[size_t(b)]; });
  const auto body = [&](int64_t k0, int64_t k1) {
    std::vector<float> block(static_cast<size_t>(rr)), copies(static_cast<size_t>(8 * rr));
    for (int64_t k = k0; k < k1; ++k) {
      const int64_t p0 = costliest[size_t(k)] * span, p1 = std::min<int64_t>(N, p0 + span);
      for (int64_t pos = p0; pos < p1; ++pos) {
        const int i = order[size_t(pos)];
        out.scale[size_t(i)] = 0;
        out.offset[size_t(i)] = meanR[size_t(i)];
        out.isometry[size_t(i)] = 0;
        out.domain[size_t(i)] = 0;
        if (lo[size_t(pos)] >= hi[size_t(pos)]) continue;
        const int bx = (i % c.rx) * r, by = (i / c.rx) * r;
        for (int y = 0; y < r; ++y)
          for (int x = 0; x < r; ++x) block[size_t(y * r + x)] = e.z[by + y][bx + x];
        // Code t pairs the domain with the range turned by t's inverse, so that the decoder
        // applying t to the domain reproduces the range; the eight turned copies are made
        // once per range, not per candidate.
        for (int t = 0; t < 8; ++t) {
          const int* perm = tables.data() + size_t(InverseIsometry(t) * rr);
          for (int q = 0; q < rr; ++q) copies[size_t(t * rr + q)] = block[size_t(perm[q])];
        }
        double best = 1e37;
        for (int p = lo[size_t(pos)]; p < hi[size_t(pos)]; ++p) {
          const int j = pool.order[size_t(p)];
          const float G = pool.g[size_t(j)];
          if (std::fabs(G) <= 0.001f) continue;
          const float* v = pool.v.data() + size_t(j) * size_t(rr);
          float s = 0;
          int code = 0;
          for (int t = 0; t < 8; ++t) {
            const float st = float(Dot(copies.data() + size_t(t * rr), v, rr));
            if (t == 0 || std::fabs(st) > std::fabs(s)) s = st, code = t;
          }
          const double error = double(ssR[size_t(i)]) - double(G) * s * s;
          if (error < best && std::fabs(double(s)) <= maxMultiplier) {
            best = error;
            out.scale[size_t(i)] = s;
            out.offset[size_t(i)] =
                float(double(meanR[size_t(i)]) - double(s) * pool.mean[size_t(j)]);
            out.domain[size_t(i)] = pool.domain[size_t(j)];
            out.isometry[size_t(i)] = uint8_t(code);
          }
        }
      }
    }
  };
  if (ParallelBlocksTicking(blocks, 1, body, N)) throw Cancelled{};  // one tick per range
}

// Bytes of one plane's codes in the file, or -1 beyond any file.
int64_t PlaneBytes(int64_t w, int64_t h, const IfsPlaneParams& p) {
  if (p.rangeBlock <= 0) return 0;
  const int64_t r = p.rangeBlock;
  const int64_t n = (RoundUp(w, r) / r) * (RoundUp(h, r) / r);
  int64_t bytes;
  if (__builtin_mul_overflow(n, int64_t(13), &bytes) || __builtin_mul_overflow(bytes, r, &bytes) ||
      __builtin_mul_overflow(bytes, int64_t(p.corrections) + 1, &bytes)) {
    return -1;
  }
  return bytes;
}

template <class T>
bool Put(std::FILE* f, const std::vector<T>& v) {
  return v.empty() || std::fwrite(v.data(), sizeof(T), v.size(), f) == v.size();
}

template <class T>
const uint8_t* Take(const uint8_t* p, std::vector<T>& v) {
  std::memcpy(v.data(), p, v.size() * sizeof(T));
  return p + v.size() * sizeof(T);
}

// Keeps the phases of a median decode in their scratch files and removes them by name.
struct PhaseFiles {
  int count;
  explicit PhaseFiles(int n) : count(n) {}
  ~PhaseFiles() {
    for (int k = 0; k < count; ++k) matrix::remove(Name(k));
  }
  static std::string Name(int k) { return Format("phase%d.mat", k); }
};

}  // namespace

void IfsSearchWindows(const float* k, int n, const float* keys, int count, float p2, int* lo,
                      int* hi) {
  // In key order the window ends never move back, so the two forward positions of a
  // sequential walk are found by binary search, and the ranges can then be matched in any
  // order with the same result. The searches run side by side; the walk then only carries
  // the positions forward.
  for (int pos = 0; pos < count; ++pos) lo[pos] = hi[pos] = 0;
  if (n <= 0) return;
  const float minKey = k[0], maxKey = k[n - 1];
  const float W = p2 * (maxKey - minKey);
  ParallelBlocks(count, FineBlock(64), [&](int64_t p0, int64_t p1) {
    for (int64_t pos = p0; pos < p1; ++pos) {
      const float K = keys[pos];
      if (!(K < kFlat)) {
        lo[pos] = -1;  // a flat block keeps its mean
        continue;
      }
      float low, up;
      if (K <= minKey + W) {
        low = minKey, up = minKey + 2 * W;
      } else if (K > maxKey - W) {
        low = maxKey - 2 * W, up = maxKey;
      } else {
        low = K - W, up = K + W;
      }
      lo[pos] = int(std::partition_point(k, k + n, [&](float x) { return x < low; }) - k);
      hi[pos] = int(std::partition_point(k, k + n, [&](float x) { return !(x > up); }) - k);
    }
  });
  int l = 0, h = 0;
  for (int pos = 0; pos < count; ++pos) {
    if (lo[pos] < 0) {
      lo[pos] = 0;
      continue;
    }
    if (std::max(l, lo[pos]) < n) l = std::max(l, lo[pos]);
    h = std::max({h, l, hi[pos]});
    lo[pos] = l;
    hi[pos] = h;
  }
}

IfsPlaneSet IfsPlanesOf(const IfsParams& p) {
  auto one = [](int32_t r, int32_t l, int32_t q, float p1, float p2, float m) {
    return IfsPlaneParams{r, l, q == 3 ? 3 : 2, p1, p2, m};
  };
  return {one(p.ifsYRangeBlockSize, p.ifsYErrorCorrections, p.ifsYDomainRatio, p.ifsYParameter1,
              p.ifsYParameter2, p.ifsYMaxMultiplier),
          one(p.ifsEyRangeBlockSize, p.ifsEyErrorCorrections, p.ifsEyDomainRatio, p.ifsEyParameter1,
              p.ifsEyParameter2, p.ifsEyMaxMultiplier),
          one(p.ifsCbRangeBlockSize, p.ifsCbErrorCorrections, p.ifsCbDomainRatio, p.ifsCbParameter1,
              p.ifsCbParameter2, p.ifsCbMaxMultiplier),
          one(p.ifsCrRangeBlockSize, p.ifsCrErrorCorrections, p.ifsCrDomainRatio, p.ifsCrParameter1,
              p.ifsCrParameter2, p.ifsCrMaxMultiplier)};
}

IfsDecoding IfsDecodingOf(const IfsParams& p) {
  return {std::max(1, p.ifsScaleFactor),
          std::max(2, p.ifsIterations),
          {p.ifsYMode, p.ifsEyMode, p.ifsCbMode, p.ifsCrMode},
          p.ifsUseScratchDisk != 0};
}

void IfsCodes::dim(int n) {
  scale.assign(size_t(n), 0.0f);
  offset.assign(size_t(n), 0.0f);
  isometry.assign(size_t(n), 0);
  domain.assign(size_t(n), 0);
}

// --- One coding ---

ifscoding& ifscoding::setup(int width, int height, int range, float multiplier, int ratio,
                            int levels) {
  w = width, h = height, r = range, q = ratio == 3 ? 3 : 2, L = std::max(0, levels);
  maxMultiplier = multiplier;
  D = q * r;
  pw = int32_t(RoundUp(w, r));
  ph = int32_t(RoundUp(h, r));
  dx = pw - D + 1;
  dy = ph - D + 1;
  rx = pw / r;
  ry = ph / r;
  N = rx * ry;
  sets.resize(size_t(L) + 1);
  for (IfsCodes& s : sets) s.dim(N);
  return *this;
}

ifscoding& ifscoding::load(const matrix& plane, matrix& padded, int range, float multiplier,
                           int ratio, int levels) {
  sets.clear();
  setup(plane.nx, plane.ny, range, multiplier, ratio, levels);
  padded.dim(pw, ph);
  // A value that is not finite cannot be matched or stored; it is coded as 0.
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const float v = plane.z[y][x];
      padded.z[y][x] = std::isfinite(v) ? v : 0.0f;
    }
    for (int x = w; x < pw; ++x) padded.z[y][x] = padded.z[y][w - 1];
  }
  for (int y = h; y < ph; ++y)
    std::memcpy(padded.z[y], padded.z[h - 1], sizeof(float) * size_t(pw));
  return *this;
}

ifscoding& ifscoding::encode(const matrix& padded, float p1, float p2, int smoothing) {
  // The domains are judged on a smoothed copy when asked; the ranges, the residuals and
  // the collages always read the plane itself.
  matrix smoothed;
  if (smoothing > 0) {
    smoothed = padded;
    matrix t;
    for (int k = 0; k < smoothing; ++k) {
      t.smooth3wy(smoothed, 1, 10, 1);
      smoothed.smooth3wx(t, 1, 10, 1);
    }
  }
  const Pool pool = BuildPool(*this, smoothing > 0 ? smoothed : padded, p1);
  smoothed.free();
  Search(*this, padded, pool, p2, sets[0]);
  if (L > 0) {
    matrix cells, collage, e = padded;
    cells.cellmeans(padded, q);
    apply(cells, collage, 1, 0, 0, false);
    for (int l = 1; l <= L; ++l) {
      e.sub(collage);
      Search(*this, e, pool, p2, sets[size_t(l)]);
      if (l < L) apply(cells, collage, 1, l, l, false);
    }
  }
  return *this;
}

void ifscoding::apply(const matrix& cells, matrix& out, int s, int first, int last,
                      bool ticks) const {
  const int b = r * s;
  out.dim(pw * s, ph * s);
  const bool withDomains = domains() > 0;
  const BlockBody body = [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      const int bx = int(i % rx) * b, by = int(i / rx) * b;
      for (int l = first; l <= last; ++l) {
        const IfsCodes& c = sets[size_t(l)];
        const float sc = c.scale[size_t(i)], of = c.offset[size_t(i)];
        const int code = c.isometry[size_t(i)];
        const int d = c.domain[size_t(i)];
        // A scale of 0 is the block's mean alone: no domain is read.
        const bool mean = sc == 0.0f || !withDomains;
        const int cx = mean ? 0 : s * (d % dx), cy = mean ? 0 : s * (d / dx);
        // Every isometry moves the source position by fixed steps along x and y: the
        // three corners give them, so no sample goes through the code's switch.
        int sx0 = 0, sy0 = 0, sx1 = 0, sy1 = 0, sx2 = 0, sy2 = 0;
        const bool mapped = !mean && IsometrySource(code, 0, 0, b, b, sx0, sy0) &&
                            IsometrySource(code, 1, 0, b, b, sx1, sy1) &&
                            IsometrySource(code, 0, 1, b, b, sx2, sy2);
        const int stepX = q * (sx1 - sx0), stepRowX = q * (sy1 - sy0);
        const int stepY = q * (sx2 - sx0), stepRowY = q * (sy2 - sy0);
        for (int y = 0; y < b; ++y) {
          float* o = out.z[by + y] + bx;
          if (!mapped) {
            for (int x = 0; x < b; ++x) o[x] = l == first ? of : o[x] + of;
            continue;
          }
          // Column and row in the cells of sample (0, y) of the block.
          const int col = cx + q * sx0 + y * stepY, row = cy + q * sy0 + y * stepRowY;
          for (int x = 0; x < b; ++x) {
            const float v = sc * cells.z[row + x * stepRowX][col + x * stepX] + of;
            o[x] = l == first ? v : o[x] + v;
          }
        }
      }
    }
  };
  const int64_t block = FineBlock(int64_t(b) * b * (last - first + 1));
  if (ticks) {
    TickingLoop(N, block, body);
  } else {
    ParallelBlocks(N, block, body);
  }
}

// --- One plane ---

ifsplane& ifsplane::setup(int width, int height, int range, float multiplier, int ratio,
                          int levels) {
  w = width, h = height, r = std::max(0, range), L = std::max(0, levels), q = ratio == 3 ? 3 : 2;
  codings.assign(size_t(r), ifscoding());
  for (ifscoding& c : codings) c.setup(w, h, r, multiplier, q, L);
  pw = r ? codings[0].pw : 0;
  ph = r ? codings[0].ph : 0;
  return *this;
}

ifsplane& ifsplane::encode(const matrix& plane, const IfsPlaneParams& p, int smoothing) {
  setup(plane.nx, plane.ny, p.rangeBlock, p.maxMultiplier, p.ratio, p.corrections);
  matrix padded;
  for (int k = 0; k < r; ++k) {
    ifscoding& c = codings[size_t(k)];
    c.load(plane, padded, r, p.maxMultiplier, q, L);
    padded.shift(k, k);
    c.encode(padded, p.parameter1, p.parameter2, smoothing);
  }
  return *this;
}

namespace {
// One range block's collage at one correction level, read by the decoder for every sample
// row of the block: the cell of block sample (x, y) is row row0 + y stepRowY + x stepRowX,
// column col0 + y stepY + x stepX. A block without a mapped domain is its offset alone.
struct BlockMap {
  float sc, of;
  int32_t mapped;
  int32_t row0, col0, stepX, stepRowX, stepY, stepRowY;
};

// The map of block i of coding c at scale s, level l, as apply reads it.
void MapBlock(const ifscoding& c, int s, int64_t i, int l, BlockMap& m) {
  const int b = c.r * s;
  const IfsCodes& codes = c.sets[size_t(l)];
  m.sc = codes.scale[size_t(i)], m.of = codes.offset[size_t(i)];
  const int code = codes.isometry[size_t(i)], d = codes.domain[size_t(i)];
  const bool mean = m.sc == 0.0f || c.domains() == 0;
  const int cx = mean ? 0 : s * (d % c.dx), cy = mean ? 0 : s * (d / c.dx);
  int sx0 = 0, sy0 = 0, sx1 = 0, sy1 = 0, sx2 = 0, sy2 = 0;
  m.mapped = !mean && IsometrySource(code, 0, 0, b, b, sx0, sy0) &&
             IsometrySource(code, 1, 0, b, b, sx1, sy1) &&
             IsometrySource(code, 0, 1, b, b, sx2, sy2);
  m.row0 = cy + c.q * sy0, m.col0 = cx + c.q * sx0;
  m.stepX = c.q * (sx1 - sx0), m.stepRowX = c.q * (sy1 - sy0);
  m.stepY = c.q * (sx2 - sx0), m.stepRowY = c.q * (sy2 - sy0);
}

// Row Y of phase k's collage (what apply writes into its row Y), levels added in order.
void CollageRow(const BlockMap* maps, int levels, int rx, int b, const float* const* cells, int Y,
                float* row) {
  const int by = Y / b, y = Y % b;
  for (int bc = 0; bc < rx; ++bc) {
    float* o = row + bc * b;
    const BlockMap* m = maps + (int64_t(by) * rx + bc) * levels;
    for (int l = 0; l < levels; ++l, ++m) {
      if (!m->mapped) {
        for (int x = 0; x < b; ++x) o[x] = l == 0 ? m->of : o[x] + m->of;
        continue;
      }
      const int rowAt = m->row0 + y * m->stepRowY, colAt = m->col0 + y * m->stepY;
      const float sc = m->sc, of = m->of;
      if (m->stepRowX == 0) {
        // Identity-like isometries walk along one row of the cells.
        const float* in = cells[rowAt] + colAt;
        const int step = m->stepX;
        if (l == 0) {
          for (int x = 0; x < b; ++x) o[x] = sc * in[x * step] + of;
        } else {
          for (int x = 0; x < b; ++x) o[x] = o[x] + (sc * in[x * step] + of);
        }
      } else {
        for (int x = 0; x < b; ++x) {
          const float v = sc * cells[rowAt + x * m->stepRowX][colAt + x * m->stepX] + of;
          o[x] = l == 0 ? v : o[x] + v;
        }
      }
    }
  }
}

// Runs the items of several loops as one parallel loop, so that planes decoded side by
// side share the threads and each pass waits for its slowest block once: loop p's items
// [0, count) in blocks of its own size, body(p, begin, end). With ticks >= 0, that many
// ticks spread over the blocks as ParallelBlocksTicking spreads them; true on a cancel.
class JointLoop {
 public:
  using Body = std::function<void(size_t, int64_t, int64_t)>;
  void add(int64_t count, int64_t block) {
    block = std::max<int64_t>(1, block);
    loops_.push_back({std::max<int64_t>(0, count), block, blocks_});
    blocks_ += count > 0 ? (count - 1) / block + 1 : 0;
  }
  bool run(const Body& body, int64_t ticks = -1) const {
    const BlockBody each = [&](int64_t b0, int64_t b1) {
      for (int64_t b = b0; b < b1; ++b) {
        size_t p = loops_.size() - 1;
        while (loops_[p].first > b) --p;  // the last loop starting at or before b
        const Loop& l = loops_[p];
        const int64_t begin = (b - l.first) * l.block;
        body(p, begin, std::min(l.count, begin + l.block));
      }
    };
    if (ticks < 0) {
      ParallelBlocks(blocks_, 1, each);
      return false;
    }
    // A decode issues a tick for every range block of every phase, hundreds of thousands
    // of them: they go to the bar in batches, one poll of the cancel keys each.
    return ParallelBlocksTickingInBatches(blocks_, 1, each, ticks);
  }

 private:
  struct Loop {
    int64_t count, block, first;  // first: the loop's first block in the joint loop
  };
  std::vector<Loop> loops_;
  int64_t blocks_ = 0;
};

// The bytes of one phase's cell plane and block maps.
int64_t PhaseBytes(const ifsplane& p, int s) {
  const int W = p.pw * s, H = p.ph * s, e = p.q - 1;
  return int64_t(sizeof(float)) * std::max(0, W - e) * std::max(0, H - e) +
         int64_t(sizeof(BlockMap)) * p.codings[0].N * (p.L + 1);
}

// Cell planes and maps are held up to this size at a time.
constexpr int64_t kPhaseBudget = int64_t(256) << 20;

// One plane's decode: n iterations at scale s into out, from out's values when it has the
// padded size, else from black; out then holds the top-left outW x outH of the result.
struct PlaneDecode {
  const ifsplane& p;
  matrix& out;
  int s, n, outW, outH;
  int W, H, e, levels, cnx, cny, group;
  bool withCells, fromOut;
  int64_t N, rx, b;
  matrix ext, cells, acc;  // the estimate with its wrap, the group's cell planes, sums
  matrix result;           // what out becomes, written by the last pass
  // With every phase held at once, the collage pass also takes the next iteration's cell
  // means, into nextCells, each row as soon as the estimate rows it reads are written:
  // rowsDone[b] becomes the pass's stamp when collage block b (rowsPerBlock rows) is done,
  // kFailed when it threw (the rows waiting for it then give up: the pass rethrows).
  bool ahead = false;       // this plane takes its cells ahead
  bool cellsReady = false;  // cells already hold this iteration's cell means
  matrix nextCells;
  int64_t rowsPerBlock = 1;
  std::unique_ptr<std::atomic<int>[]> rowsDone;
  static constexpr int kFailed = -1;
  std::unique_ptr<BlockMap[]> maps;  // every field set by MapBlock before it is read
  int k0 = 0, k1 = 0;                // the phases of the current group
  bool finalPass = false;            // the last group of the last iteration

  PlaneDecode(const ifsplane& plane, matrix& o, int scale, int iterations, int phasesAtOnce,
              int width, int height)
      : p(plane), out(o), s(scale), n(iterations), outW(width), outH(height) {
    W = p.pw * s, H = p.ph * s, e = p.q - 1, levels = p.L + 1;
    cnx = W - e, cny = H - e;  // the cell-mean plane of one phase
    withCells = cnx > 0 && cny > 0;
    N = p.codings[0].N, rx = p.codings[0].rx, b = int64_t(p.r) * s;
    fromOut = out.nx == W && out.ny == H && !out.empty();
    if (phasesAtOnce <= 0)
      phasesAtOnce =
          int(std::clamp<int64_t>(kPhaseBudget / std::max<int64_t>(1, PhaseBytes(p, s)), 1, p.r));
    group = std::min(phasesAtOnce, p.r);
    // One thread has no waits to save.
    ahead = group == p.r && withCells && n > 1 && ParallelThreads() > 1;
  }
  int groups() const { return (p.r + group - 1) / group; }
  // The bytes of the second set of cell planes taking the cells ahead.
  int64_t AheadBytes() const { return int64_t(sizeof(float)) * cnx * cny * group; }
  // The first q - 1 columns of row y after its last, and the first rows after the last.
  void wrapRow(int64_t y) {
    float* row = ext.z[y];
    for (int x = 0; x < e; ++x) row[W + x] = row[x];
    if (y < e) std::memcpy(ext.z[H + y], row, sizeof(float) * size_t(W + e));
  }
  // Allocates the planes (serially: the parallel passes fill them).
  void allocate() {
    ext.dim(W + e, H + e);
    // The group's cell planes one above the other in one block, in huge pages where it
    // spans them: fresh small pages faulted on every decode, threads queueing on the faults.
    if (withCells) {
      cells.dim(cnx, cny * group);
      PreferHugePages(cells.x, cells.n);
    }
    if (ahead) {
      nextCells.dim(cnx, cny * group);
      PreferHugePages(nextCells.x, nextCells.n);
      rowsPerBlock = CollageBlock(p.r);
      const int64_t blocks = (H - 1) / rowsPerBlock + 1;
      rowsDone.reset(new std::atomic<int>[size_t(blocks)]);
      for (int64_t k = 0; k < blocks; ++k) rowsDone[size_t(k)].store(0, std::memory_order_relaxed);
    }
    maps.reset(new BlockMap[size_t(group) * size_t(N) * size_t(levels)]);
    if (group < p.r) acc.dim(W, H);
    result.dim(outW, outH);
  }
  // The maps of phases k0..k1 - 1, items [j0, j1) of their (k1 - k0) N blocks.
  void mapBlocks(int64_t j0, int64_t j1) {
    for (int64_t j = j0; j < j1; ++j) {
      const int k = k0 + int(j / N);
      for (int l = 0; l < levels; ++l)
        MapBlock(p.codings[size_t(k)], s, j % N, l, maps[size_t(j * levels + l)]);
    }
  }
  // Rows of the blocks of a collage pass over that many phases.
  int64_t CollageBlock(int phases) const { return FineBlock(int64_t(W) * phases * levels); }
  // Cell row j of phase k of the group, from the estimate rolled by (k s, k s), into cells
  // or into `into`.
  void cellRow(int k, int j, matrix* into = nullptr) {
    const int d = k * s;
    float* o = (into ? *into : cells).z[int64_t(k - k0) * cny + j];
    const int row = (j - d + H) % H;
    // Cell column i starts at estimate column (i - d) mod W: two runs.
    const int split = std::min(d, cnx);
    CellMeanRow(ext.z, W - d, row, p.q, split, o);
    if (split < cnx) CellMeanRow(ext.z, split - d, row, p.q, cnx - split, o + split);
  }
  // Rows [y0, y1) of the collage pass stamped `stamp`, then marked done for the rows of
  // the next cell means that wait for them.
  void collageBlock(int64_t y0, int64_t y1, int stamp) {
    if (!ahead) return collageRows(y0, y1);
    std::atomic<int>& done = rowsDone[size_t(y0 / rowsPerBlock)];
    try {
      collageRows(y0, y1);
    } catch (...) {
      done.store(kFailed);
      done.notify_all();
      throw;
    }
    done.store(stamp, std::memory_order_release);
    done.notify_all();
  }
  // Items [i0, i1) of the next iteration's cell rows, phase by phase, into nextCells; phase
  // k's rows start where its roll reads the estimate's first row (the one done first).
  // Every row first waits for the estimate rows it reads, written by collage blocks that
  // threads already run: the joint loop hands out all of them before any of these.
  void nextCellRows(int64_t i0, int64_t i1, int stamp) {
    for (int64_t i = i0; i < i1; ++i) {
      const int k = int(i / cny), d = k * s;
      const int j = int((i % cny + d) % cny);
      const int row = (j - d + H) % H;
      for (int t = 0; t <= e; ++t) {
        const int64_t y = row + t < H ? row + t : row + t - H;  // written by y's block
        const std::atomic<int>& done = rowsDone[size_t(y / rowsPerBlock)];
        for (int v; (v = done.load(std::memory_order_acquire)) != stamp;) {
          if (v == kFailed) return;
          done.wait(v, std::memory_order_acquire);
        }
      }
      cellRow(k, j, &nextCells);
    }
  }
  // Rows [y0, y1) of the group's phases' collages added at their rolled-back places; with
  // the last group, the mean of the phases written into the estimate.
  void collageRows(int64_t y0, int64_t y1) {
    const bool last = k1 == p.r;
    const float share = float(1.0 / p.r);
    std::vector<float> collage(static_cast<size_t>(W)), sum(static_cast<size_t>(W));
    for (int64_t y = y0; y < y1; ++y) {
      float* a = group < p.r ? acc.z[y] : sum.data();
      for (int k = k0; k < k1; ++k) {
        const int d = k * s;
        CollageRow(maps.get() + int64_t(k - k0) * N * levels, levels, int(rx), int(b),
                   withCells ? cells.z + int64_t(k - k0) * cny : ext.z, int((y + d) % H),
                   collage.data());
        // Sample x takes collage sample (x + d) mod W.
        const float* in = collage.data();
        const int split = W - d;
        if (k == 0) {
          for (int x = 0; x < split; ++x) a[x] = 0.0f + in[x + d];
          for (int x = split; x < W; ++x) a[x] = 0.0f + in[x - split];
        } else {
          for (int x = 0; x < split; ++x) a[x] += in[x + d];
          for (int x = split; x < W; ++x) a[x] += in[x - split];
        }
      }
      if (finalPass) {
        if (y < outH) {
          float* o = result.z[y];
          for (int x = 0; x < outW; ++x) o[x] = static_cast<float>(double(share) * a[x]);
        }
      } else if (last) {
        float* o = ext.z[y];
        for (int x = 0; x < W; ++x) o[x] = static_cast<float>(double(share) * a[x]);
        wrapRow(y);  // only the next cell means read ext in this pass, once the row is done
      }
    }
  }
};

// Decodes the planes side by side: each pass of every plane runs in one parallel loop.
//
// Every phase of an iteration reads the previous estimate only, so an iteration is two
// parallel passes: the cell means of each phase's roll, read straight from the estimate
// kept with its first q - 1 columns and rows wrapped around (ext), and, row by row of the
// new estimate, each phase's collage row added at its rolled-back place in phase order and
// the mean taken. The sums and their order are those of roll, cell means, collage, roll
// back and scale done plane by plane; when the phases' cell planes would take too much
// memory they are done a group at a time, the running sums kept in acc between groups.
void DecodeSideBySide(std::vector<PlaneDecode>& ds) {
  std::vector<PlaneDecode*> run;
  // Taking the cells ahead doubles the cell planes: only while the second sets stay within
  // half the budget.
  int64_t aheadBytes = 0;
  for (PlaneDecode& d : ds) {
    if (!d.ahead || d.n <= 0) continue;
    d.ahead = aheadBytes + d.AheadBytes() <= kPhaseBudget / 2;
    if (d.ahead) aheadBytes += d.AheadBytes();
  }
  for (PlaneDecode& d : ds) {
    if (d.n > 0) {
      d.allocate();
      run.push_back(&d);
    } else if (d.fromOut) {
      d.out.crop(0, 0, d.outW, d.outH);
    } else {
      d.out.dim(d.outW, d.outH).zero();
    }
  }
  if (run.empty()) return;
  // The planes whose phases are all held at once get their maps in the first pass and,
  // from black, their first cell planes too: the cell means of zeros are +0.
  std::vector<PlaneDecode*> whole, black;
  for (PlaneDecode* d : run) {
    if (d->group < d->p.r) continue;
    d->k0 = 0, d->k1 = d->p.r;
    whole.push_back(d);
    if (!d->fromOut && d->withCells) black.push_back(d);
  }
  JointLoop start;
  for (PlaneDecode* d : run) start.add(d->H, FineBlock(d->W));
  for (PlaneDecode* d : whole) start.add(int64_t(d->p.r) * d->N, FineBlock(8 * d->levels));
  for (PlaneDecode* d : black) start.add(d->cells.ny, FineBlock(d->cnx));
  start.run([&](size_t i, int64_t j0, int64_t j1) {
    if (i >= run.size() + whole.size()) {
      const PlaneDecode& d = *black[i - run.size() - whole.size()];
      for (int64_t j = j0; j < j1; ++j) std::memset(d.cells.z[j], 0, sizeof(float) * size_t(d.cnx));
      return;
    }
    if (i >= run.size()) return whole[i - run.size()]->mapBlocks(j0, j1);
    PlaneDecode& d = *run[i];
    for (int64_t y = j0; y < j1; ++y) {
      if (d.fromOut) {
        std::memcpy(d.ext.z[y], d.out.z[y], sizeof(float) * size_t(d.W));
      } else {
        std::memset(d.ext.z[y], 0, sizeof(float) * size_t(d.W));
      }
      d.wrapRow(y);
    }
  });
  int iterations = 0, steps = 0;
  for (PlaneDecode* d : run)
    iterations = std::max(iterations, d->n), steps = std::max(steps, d->groups());
  for (int it = 0; it < iterations; ++it) {
    for (int g = 0; g < steps; ++g) {
      std::vector<PlaneDecode*> part, grouped;
      for (PlaneDecode* d : run) {
        if (it >= d->n || g >= d->groups()) continue;
        part.push_back(d);
        if (d->group < d->p.r) grouped.push_back(d);
      }
      if (part.empty()) continue;
      if (!grouped.empty()) {
        JointLoop mapping;
        for (PlaneDecode* d : grouped) {
          d->k0 = g * d->group, d->k1 = std::min(d->p.r, d->k0 + d->group);
          mapping.add(int64_t(d->k1 - d->k0) * d->N, FineBlock(8 * d->levels));
        }
        mapping.run([&](size_t i, int64_t j0, int64_t j1) { grouped[i]->mapBlocks(j0, j1); });
      }
      for (PlaneDecode* d : part) d->finalPass = it == d->n - 1 && g == d->groups() - 1;
      JointLoop cellPass, collagePass;
      int64_t ticks = 0;
      const int stamp = it + 1;
      for (PlaneDecode* d : part) {
        const int phases = d->k1 - d->k0;
        const bool ready = (it == 0 && std::count(black.begin(), black.end(), d)) || d->cellsReady;
        cellPass.add(d->withCells && !ready ? int64_t(phases) * d->cny : 0,
                     FineBlock(int64_t(d->cnx) * d->p.q * d->p.q));
        collagePass.add(d->H, d->CollageBlock(phases));
        ticks += int64_t(phases) * d->N;  // one per range block and phase
      }
      // The next iteration's cell means come after every collage block, so that the rows
      // they wait for are always being made.
      for (PlaneDecode* d : part) {
        const bool next = d->ahead && it + 1 < d->n;
        collagePass.add(next ? int64_t(d->p.r) * d->cny : 0,
                        FineBlock(int64_t(d->cnx) * d->p.q * d->p.q));
      }
      cellPass.run([&](size_t i, int64_t j0, int64_t j1) {
        PlaneDecode& d = *part[i];
        for (int64_t item = j0; item < j1; ++item)
          d.cellRow(d.k0 + int(item / d.cny), int(item % d.cny));
      });
      if (collagePass.run(
              [&](size_t i, int64_t j0, int64_t j1) {
                if (i < part.size()) return part[i]->collageBlock(j0, j1, stamp);
                part[i - part.size()]->nextCellRows(j0, j1, stamp);
              },
              ticks)) {
        throw Cancelled{};
      }
      for (PlaneDecode* d : part) {
        d->cellsReady = d->ahead && it + 1 < d->n;
        if (d->cellsReady) std::swap(d->cells, d->nextCells);
      }
    }
  }
  // Only now is out replaced: a cancel leaves it as it was.
  for (PlaneDecode* d : run) d->out = std::move(d->result);
}
}  // namespace

void ifsplane::decode(matrix& out, int s, int n, int phasesAtOnce) const {
  if (!present()) return;
  std::vector<PlaneDecode> ds;
  ds.emplace_back(*this, out, s, n, phasesAtOnce, pw * s, ph * s);
  DecodeSideBySide(ds);
}

void ifsplane::decodemedian(matrix& out, int s, int n) const {
  if (!present()) return;
  const int W = pw * s, H = ph * s;
  if (out.nx != W || out.ny != H || out.empty()) out.dim(W, H).zero();
  PhaseFiles files(r);
  matrix rolled, cells, result, back;
  for (int it = 0; it < n; ++it) {
    for (int k = 0; k < r; ++k) {
      rolled.rollfrom(out, k * s, k * s);
      cells.cellmeans(rolled, q);
      codings[size_t(k)].apply(cells, result, s, 0, L, true);
      back.rollfrom(result, -k * s, -k * s);
      back.write(PhaseFiles::Name(k));
    }
    rolled.free(), cells.free(), result.free(), back.free();
    std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE*)>> in;
    for (int k = 0; k < r; ++k) {
      std::FILE* f = std::fopen(ScratchPath(PhaseFiles::Name(k)).c_str(), "rb");
      in.emplace_back(f, &std::fclose);
      if (!f || std::fseek(f, 12, SEEK_SET) != 0) {
        if (!f) in.back().release();
        throw TextException("PROBLEM OPENING FILE FOR READING!");
      }
    }
    // A band of rows of every phase at a time, their medians taken side by side.
    const int band = int(std::clamp<int64_t>((int64_t(1) << 20) / (int64_t(r) * W), 1, H));
    std::vector<float> rows(static_cast<size_t>(r) * size_t(band) * size_t(W));
    for (int y0 = 0; y0 < H; y0 += band) {
      const int count = std::min(band, H - y0);
      const size_t samples = size_t(count) * size_t(W);
      for (int k = 0; k < r; ++k) {
        if (std::fread(rows.data() + size_t(k) * samples, sizeof(float), samples,
                       in[size_t(k)].get()) != samples) {
          throw TextException("PROBLEM OPENING FILE FOR READING!");
        }
      }
      ParallelBlocks(count, FineBlock(int64_t(W) * r * 8), [&](int64_t j0, int64_t j1) {
        std::vector<float> values(static_cast<size_t>(r));
        for (int64_t j = j0; j < j1; ++j) {
          const float* row = rows.data() + size_t(j) * size_t(W);
          float* o = out.z[y0 + j];
          for (int x = 0; x < W; ++x) {
            for (int k = 0; k < r; ++k) values[size_t(k)] = row[size_t(k) * samples + size_t(x)];
            o[x] = MedianFloats(values.data(), r);
          }
        }
      });
    }
  }
}

void IfsDecodeModes(const std::vector<IfsPlaneJob>& jobs, int s, int n) {
  std::vector<const IfsPlaneJob*> todo;
  int64_t bytes = 0;
  for (const IfsPlaneJob& j : jobs) {
    j.out->free();
    if (!j.plane->present()) continue;
    todo.push_back(&j);
    const ifsplane& p = *j.plane;
    bytes += PhaseBytes(p, s) * p.r + 2 * int64_t(sizeof(float)) * p.pw * s * p.ph * s;
  }
  // Small planes are decoded side by side on several threads, their passes sharing the
  // threads and the waits; planes whose phases, estimates and results would not all fit in
  // the budget together go one after another, each holding as many phases as the budget
  // allows. One thread has no waits to save, and one plane at a time keeps its cell planes
  // in the cache: side by side, it ran a third slower.
  const bool together = ParallelThreads() > 1 && bytes <= kPhaseBudget;
  std::vector<PlaneDecode> ds;
  ds.reserve(todo.size());
  for (const IfsPlaneJob* j : todo) {
    const ifsplane& p = *j->plane;
    // The median's two iterations read the whole padded plane; the mean's result is kept
    // at the plane's size straight away.
    const bool median = j->mode == 1;
    ds.emplace_back(p, *j->out, s, median ? std::max(0, n - 2) : n, 0, median ? p.pw * s : p.w * s,
                    median ? p.ph * s : p.h * s);
    if (!together) {
      DecodeSideBySide(ds);
      ds.clear();
    }
  }
  if (together) DecodeSideBySide(ds);
  for (const IfsPlaneJob* j : todo) {
    if (j->mode != 1) continue;
    j->plane->decodemedian(*j->out, s, 2);
    j->out->crop(0, 0, j->plane->w * s, j->plane->h * s);
  }
}

matrix& ifsplane::decodemode(matrix& out, int s, int n, int mode) const {
  IfsDecodeModes({{this, &out, mode}}, s, n);
  return out;
}

// --- The codec and its file ---

ifscodec& ifscodec::setup(const IfsPlaneSet& p, uint32_t colour) {
  params = p;
  colourCode = colour;
  valid = true;
  return *this;
}

ifscodec& ifscodec::encode(const matrix& y, const matrix& cb, const matrix& cr, int smoothing) {
  if (!valid || y.empty() || cb.empty() || cr.empty()) return *this;
  planes[0].encode(y, params[0], smoothing);
  planes[1].setup(y.nx, y.ny, 0, 0, 2, 0);
  if (params[1].rangeBlock > 0) {
    // The error plane: what decoding the luminance gets wrong.
    matrix e;
    planes[0].decode(e, 1, 8);
    planes[0].decodemedian(e, 1, 2);
    e.crop(0, 0, y.nx, y.ny);
    e.sub(y);
    planes[1].encode(e, params[1], smoothing);
  }
  for (int c = 2; c < 4; ++c) {
    const matrix& plane = c == 2 ? cb : cr;
    if (params[size_t(c)].rangeBlock > 0) {
      planes[size_t(c)].encode(plane, params[size_t(c)], 0);
    } else {
      planes[size_t(c)].setup(plane.nx, plane.ny, 0, 0, 2, 0);
    }
  }
  pw = planes[0].pw, ph = planes[0].ph, w = planes[0].w, h = planes[0].h;
  return *this;
}

void ifscodec::write(const std::string& path) const {
  uint32_t head[kHeaderWords] = {};
  auto word = [&](int i, int32_t v) { std::memcpy(&head[i], &v, 4); };
  auto real = [&](int i, float v) { std::memcpy(&head[i], &v, 4); };
  head[0] = colourCode;
  word(1, pw), word(2, ph), word(3, pw * ph), word(4, w), word(5, h), word(6, w * h);
  for (int p = 0; p < 4; ++p) {
    const IfsPlaneParams& a = params[size_t(p)];
    word(7 + p, planes[size_t(p)].r);
    word(11 + p, a.corrections);
    word(15 + p, a.ratio);
    real(19 + p, a.parameter1);
    real(23 + p, a.parameter2);
    real(27 + p, a.maxMultiplier);
  }
  const bool ok = WriteFileReplacing(path, [&](std::FILE* f) {
    if (std::fwrite(head, 4, kHeaderWords, f) != size_t(kHeaderWords)) return false;
    for (const ifsplane& plane : planes)
      for (const ifscoding& c : plane.codings)
        for (const IfsCodes& s : c.sets)
          if (!Put(f, s.scale) || !Put(f, s.offset) || !Put(f, s.isometry) || !Put(f, s.domain))
            return false;
    return true;
  });
  if (!ok) throw TextException("PROBLEM OPENING FILE FOR WRITING!");
}

const char* ifscodec::read(const std::string& path, int s) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    file.release();
    return "PROBLEM OPENING FILE FOR READING!";
  }
  std::FILE* f = file.get();
  if (fseeko(f, 0, SEEK_END) != 0) return kIfsReadProblem;
  const int64_t length = ftello(f);
  if (length < 4 * kHeaderWords || fseeko(f, 0, SEEK_SET) != 0) return kIfsReadProblem;
  uint32_t head[kHeaderWords];
  if (std::fread(head, 4, kHeaderWords, f) != size_t(kHeaderWords)) return kIfsReadProblem;
  auto word = [&](int i) {
    int32_t v;
    std::memcpy(&v, &head[i], 4);
    return int64_t(v);
  };
  auto real = [&](int i) {
    float v;
    std::memcpy(&v, &head[i], 4);
    return v;
  };

  // Everything the header says is checked against itself, the file's length and the
  // memory before anything is allocated.
  const ColourSpace* space = FindColourSpace(head[0]);
  if (!space || space->channels != 3) return kIfsReadProblem;
  const int64_t W = word(4), H = word(5);
  if (W < 1 || H < 1 || W * H != word(6)) return kIfsReadProblem;
  IfsPlaneSet p{};
  for (int k = 0; k < 4; ++k) {
    IfsPlaneParams& a = p[size_t(k)];
    a.rangeBlock = int32_t(word(7 + k));
    a.corrections = int32_t(word(11 + k));
    a.ratio = int32_t(word(15 + k));
    a.parameter1 = real(19 + k), a.parameter2 = real(23 + k), a.maxMultiplier = real(27 + k);
    const bool present = a.rangeBlock != 0;
    if (a.rangeBlock < 0 || (a.rangeBlock == 1) || (k == 0 && !present)) return kIfsReadProblem;
    if (!present) continue;
    if ((a.ratio != 2 && a.ratio != 3) || a.corrections < 0) return kIfsReadProblem;
    if (!std::isfinite(a.parameter1) || !std::isfinite(a.parameter2) ||
        !std::isfinite(a.maxMultiplier)) {
      return kIfsReadProblem;
    }
  }
  const int64_t yr = p[0].rangeBlock;
  const int64_t ypw = RoundUp(W, yr), yph = RoundUp(H, yr);
  if (ypw != word(1) || yph != word(2) || ypw * yph != word(3)) return kIfsReadProblem;
  int64_t expected = 4 * kHeaderWords;
  int64_t largest = 0;  // samples of the largest padded plane at scale s
  for (const IfsPlaneParams& a : p) {
    const int64_t bytes = PlaneBytes(W, H, a);
    if (bytes < 0 || __builtin_add_overflow(expected, bytes, &expected)) return kIfsReadProblem;
    if (a.rangeBlock == 0) continue;
    const int64_t pw = RoundUp(W, a.rangeBlock) * s, ph = RoundUp(H, a.rangeBlock) * s;
    if (pw > kMaxCount || ph > kMaxCount || pw * ph > kMaxCount) return kIfsReadProblem;
    largest = std::max(largest, pw * ph);
  }
  if (expected != length) return kIfsReadProblem;
  // The codes (as large as the file) and a decode: five planes of the largest padded size
  // and the three channels of the image.
  const int64_t out = W * s * H * s;
  if (W * s > kMaxCount || H * s > kMaxCount || out > kMaxCount) return kIfsReadProblem;
  if (!MemoryAllows(uint64_t(2 * length) + 4 * uint64_t(5 * largest + 3 * out))) {
    return kIfsReadProblem;
  }

  std::vector<uint8_t> body(static_cast<size_t>(length - 4 * kHeaderWords));
  if (!body.empty() && std::fread(body.data(), 1, body.size(), f) != body.size()) {
    return kIfsReadProblem;
  }
  ifscodec c;
  c.setup(p, head[0]);
  const uint8_t* at = body.data();
  for (int k = 0; k < 4; ++k) {
    const IfsPlaneParams& a = p[size_t(k)];
    ifsplane& plane = c.planes[size_t(k)];
    plane.setup(int(W), int(H), a.rangeBlock, a.maxMultiplier, a.ratio, a.corrections);
    for (ifscoding& coding : plane.codings) {
      const int64_t domains = coding.domains();
      for (IfsCodes& set : coding.sets) {
        at = Take(Take(Take(Take(at, set.scale), set.offset), set.isometry), set.domain);
        for (int i = 0; i < coding.N; ++i) {
          const size_t u = size_t(i);
          if (set.isometry[u] > 7 || set.domain[u] < 0 ||
              (domains ? set.domain[u] >= domains : set.domain[u] != 0) ||
              !std::isfinite(set.scale[u]) || !std::isfinite(set.offset[u])) {
            return kIfsReadProblem;
          }
        }
      }
    }
  }
  c.pw = int32_t(ypw), c.ph = int32_t(yph), c.w = int32_t(W), c.h = int32_t(H);
  *this = std::move(c);
  return nullptr;
}

int64_t ifscodec::decodeticks(int n) const {
  int64_t total = 0;
  for (const ifsplane& p : planes)
    if (p.present()) total += int64_t(n) * (int64_t(w) * h / p.r);
  return total;
}
