// The fractal plane codec and the .IFS file.
#include <algorithm>
#include <cmath>
#include <cstring>
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
  ParallelBlocks(nd, BlockFor(rr), [&](int64_t d0, int64_t d1) {
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
  std::vector<int> byContrast(static_cast<size_t>(nd));
  IndexSort(byContrast.data(), first.data(), int(nd));
  int64_t contrasted = 0;
  while (contrasted < nd && first[size_t(byContrast[size_t(contrasted)])] < kFlat) ++contrasted;
  const int64_t n =
      std::clamp<int64_t>(int64_t(std::trunc(double(contrasted) * double(p1))), 0, contrasted);
  std::vector<float> mean(static_cast<size_t>(n)), g(static_cast<size_t>(n)),
      key(static_cast<size_t>(n)), v(static_cast<size_t>(n) * size_t(rr));
  ParallelBlocks(n, BlockFor(4 * rr), [&](int64_t j0, int64_t j1) {
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
  ParallelBlocks(N, BlockFor(2 * rr), [&](int64_t i0, int64_t i1) {
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
  TickingLoop(N, FineBlock(int64_t(rr) * 64), [&](int64_t p0, int64_t p1) {
    std::vector<float> block(static_cast<size_t>(rr)), copies(static_cast<size_t>(8 * rr));
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
  });
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
  // order with the same result.
  for (int pos = 0; pos < count; ++pos) lo[pos] = hi[pos] = 0;
  if (n <= 0) return;
  const float minKey = k[0], maxKey = k[n - 1];
  const float W = p2 * (maxKey - minKey);
  int l = 0, h = 0;
  for (int pos = 0; pos < count; ++pos) {
    const float K = keys[pos];
    if (!(K < kFlat)) continue;  // a flat block keeps its mean
    float low, up;
    if (K <= minKey + W) {
      low = minKey, up = minKey + 2 * W;
    } else if (K > maxKey - W) {
      low = maxKey - 2 * W, up = maxKey;
    } else {
      low = K - W, up = K + W;
    }
    const int atLow = int(std::partition_point(k, k + n, [&](float x) { return x < low; }) - k);
    if (std::max(l, atLow) < n) l = std::max(l, atLow);
    const int above = int(std::partition_point(k, k + n, [&](float x) { return !(x > up); }) - k);
    h = std::max({h, l, above});
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
  float sc = 0, of = 0;
  int32_t mapped = 0;
  int32_t row0 = 0, col0 = 0, stepX = 0, stepRowX = 0, stepY = 0, stepRowY = 0;
};

// The maps of coding c at scale s, block i's levels from (i (L + 1)), as apply reads them.
void MapBlocks(const ifscoding& c, int s, BlockMap* maps) {
  const int b = c.r * s, levels = c.L + 1;
  const bool withDomains = c.domains() > 0;
  ParallelBlocks(c.N, FineBlock(8 * levels), [&](int64_t i0, int64_t i1) {
    for (int64_t i = i0; i < i1; ++i) {
      for (int l = 0; l < levels; ++l) {
        const IfsCodes& codes = c.sets[size_t(l)];
        BlockMap& m = maps[i * levels + l];
        m.sc = codes.scale[size_t(i)], m.of = codes.offset[size_t(i)];
        const int code = codes.isometry[size_t(i)], d = codes.domain[size_t(i)];
        const bool mean = m.sc == 0.0f || !withDomains;
        const int cx = mean ? 0 : s * (d % c.dx), cy = mean ? 0 : s * (d / c.dx);
        int sx0 = 0, sy0 = 0, sx1 = 0, sy1 = 0, sx2 = 0, sy2 = 0;
        m.mapped = !mean && IsometrySource(code, 0, 0, b, b, sx0, sy0) &&
                   IsometrySource(code, 1, 0, b, b, sx1, sy1) &&
                   IsometrySource(code, 0, 1, b, b, sx2, sy2);
        m.row0 = cy + c.q * sy0, m.col0 = cx + c.q * sx0;
        m.stepX = c.q * (sx1 - sx0), m.stepRowX = c.q * (sy1 - sy0);
        m.stepY = c.q * (sx2 - sx0), m.stepRowY = c.q * (sy2 - sy0);
      }
    }
  });
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
}  // namespace

// Every phase of an iteration reads the previous estimate only, so an iteration is two
// parallel passes: the cell means of each phase's roll, read straight from the estimate
// kept with its first q - 1 columns and rows wrapped around (ext), and, row by row of the
// new estimate, each phase's collage row added at its rolled-back place in phase order and
// the mean taken. The sums and their order are those of roll, cell means, collage, roll
// back and scale done plane by plane; when the phases' cell planes would take too much
// memory they are done a group at a time, the running sums kept in acc between groups.
void ifsplane::decode(matrix& out, int s, int n, int phasesAtOnce) const {
  if (!present()) return;
  const int W = pw * s, H = ph * s;
  if (out.nx != W || out.ny != H || out.empty()) out.dim(W, H).zero();
  if (n <= 0) return;
  const int e = q - 1, levels = L + 1;
  const int cnx = W - e, cny = H - e;  // the cell-mean plane of one phase
  const bool withCells = cnx > 0 && cny > 0;
  const int64_t N = codings[0].N, rx = codings[0].rx, b = int64_t(r) * s;
  if (phasesAtOnce <= 0) {
    // Up to 256 MB of cell planes and maps at a time.
    const int64_t perPhase = int64_t(sizeof(float)) * std::max(0, cnx) * std::max(0, cny) +
                             int64_t(sizeof(BlockMap)) * N * levels;
    phasesAtOnce = int(std::clamp<int64_t>((int64_t(256) << 20) / std::max<int64_t>(1, perPhase),
                                           1, r));
  }
  const int group = std::min(phasesAtOnce, r);
  matrix ext(W + e, H + e);
  auto wrapRow = [&](int64_t y) {
    float* row = ext.z[y];
    for (int x = 0; x < e; ++x) row[W + x] = row[x];
    if (y < e) std::memcpy(ext.z[H + y], row, sizeof(float) * size_t(W + e));
  };
  ParallelBlocks(H, FineBlock(W), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) {
      std::memcpy(ext.z[y], out.z[y], sizeof(float) * size_t(W));
      wrapRow(y);
    }
  });
  // The group's cell planes one above the other in one block, in huge pages where it
  // spans them: fresh small pages faulted on every decode, threads queueing on the faults.
  matrix cells;
  if (withCells) {
    cells.dim(cnx, cny * group);
    PreferHugePages(cells.x, cells.n);
  }
  std::vector<BlockMap> maps(size_t(group) * size_t(N) * size_t(levels));
  auto mapGroup = [&](int k0, int k1) {
    for (int k = k0; k < k1; ++k)
      MapBlocks(codings[size_t(k)], s, maps.data() + int64_t(k - k0) * N * levels);
  };
  if (group == r) mapGroup(0, r);
  matrix acc;
  if (group < r) acc.dim(W, H);
  const float share = float(1.0 / r);
  for (int it = 0; it < n; ++it) {
    for (int k0 = 0; k0 < r; k0 += group) {
      const int k1 = std::min(r, k0 + group);
      if (group < r) mapGroup(k0, k1);
      if (withCells) {
        ParallelBlocks(int64_t(k1 - k0) * cny, FineBlock(int64_t(cnx) * q * q),
                       [&](int64_t j0, int64_t j1) {
          for (int64_t item = j0; item < j1; ++item) {
            const int k = k0 + int(item / cny), j = int(item % cny), d = k * s;
            float* o = cells.z[int64_t(k - k0) * cny + j];
            const int row = (j - d + H) % H;
            // Cell column i starts at estimate column (i - d) mod W: two runs.
            const int split = std::min(d, cnx);
            CellMeanRow(ext.z, W - d, row, q, split, o);
            if (split < cnx) CellMeanRow(ext.z, split - d, row, q, cnx - split, o + split);
          }
        });
      }
      const bool last = k1 == r;
      const BlockBody body = [&](int64_t y0, int64_t y1) {
        std::vector<float> collage(static_cast<size_t>(W)), sum(static_cast<size_t>(W));
        for (int64_t y = y0; y < y1; ++y) {
          float* a = group < r ? acc.z[y] : sum.data();
          for (int k = k0; k < k1; ++k) {
            const int d = k * s;
            CollageRow(maps.data() + int64_t(k - k0) * N * levels, levels, int(rx), int(b),
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
          if (last) {
            float* o = ext.z[y];
            for (int x = 0; x < W; ++x) o[x] = static_cast<float>(double(share) * a[x]);
            wrapRow(y);  // nothing reads ext until this pass is over
          }
        }
      };
      // One tick per range block and phase, as the collages count them.
      if (ParallelBlocksTicking(H, FineBlock(int64_t(W) * (k1 - k0) * levels), body,
                                int64_t(k1 - k0) * N)) {
        throw Cancelled{};
      }
    }
  }
  ParallelBlocks(H, FineBlock(W), [&](int64_t y0, int64_t y1) {
    for (int64_t y = y0; y < y1; ++y) std::memcpy(out.z[y], ext.z[y], sizeof(float) * size_t(W));
  });
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
    std::vector<float> rows(static_cast<size_t>(r) * size_t(W)), values(static_cast<size_t>(r));
    for (int y = 0; y < H; ++y) {
      for (int k = 0; k < r; ++k) {
        if (std::fread(rows.data() + size_t(k) * size_t(W), sizeof(float), size_t(W),
                       in[size_t(k)].get()) != size_t(W)) {
          throw TextException("PROBLEM OPENING FILE FOR READING!");
        }
      }
      for (int x = 0; x < W; ++x) {
        for (int k = 0; k < r; ++k) values[size_t(k)] = rows[size_t(k) * size_t(W) + size_t(x)];
        out.z[y][x] = MedianFloats(values.data(), r);
      }
    }
  }
}

matrix& ifsplane::decodemode(matrix& out, int s, int n, int mode) const {
  out.free();
  if (mode == 1) {
    decode(out, s, std::max(0, n - 2));
    decodemedian(out, s, 2);
  } else {
    decode(out, s, n);
  }
  return out.crop(0, 0, w * s, h * s);
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
