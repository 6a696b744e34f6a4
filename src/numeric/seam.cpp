// Seams: the dynamic-programming search through the index map, the maps' updates, the
// gathers, and the difference operator with its least-squares rebuild.
#include "numeric/seam.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "numeric/bitmask.h"
#include "numeric/border.h"
#include "numeric/matrix.h"
#include "numeric/matrixarray.h"
#include "numeric/vectorclones.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZEP_SEAM_AVX2 1
#endif

namespace {
// The step bytes of the search: straight, toward the lower index (-1 as a byte), toward
// the higher one.
constexpr uint8_t kStraight = 0, kLower = 255, kHigher = 1;

int StepOf(uint8_t s) { return s == kLower ? -1 : s; }

// The interior of one line of the search, 0 < j < count - 1: cur[j] = e[j] + the least of
// prev[j], prev[j-1], prev[j+1], straight preferred on ties, then the lower index. Written
// without branches, which random energies would mispredict half the time.
ZEP_VECTOR_CLONES void SearchInterior(const double* prev, const float* e, double* cur,
                                      uint8_t* steps, int count) {
  for (int j = 1; j < count - 1; ++j) {
    const double a = prev[j - 1], b = prev[j], c = prev[j + 1];
    const bool lower = a < b;
    const double m = lower ? a : b;
    const bool higher = c < m;
    cur[j] = e[j] + (higher ? c : m);
    steps[j] = higher ? kHigher : (lower ? kLower : kStraight);
  }
}

#ifdef ZEP_SEAM_AVX2
// The step bytes of four positions from the masks of "the higher neighbour wins" (bits
// 0-3) and "the lower one is less than straight" (bits 4-7), as one little-endian word.
constexpr std::array<uint32_t, 256> MakeStepWords() {
  std::array<uint32_t, 256> words{};
  for (uint32_t m = 0; m < 256; ++m) {
    uint32_t word = 0;
    for (uint32_t k = 0; k < 4; ++k) {
      const bool higher = (m >> k) & 1u, lower = (m >> (k + 4)) & 1u;
      const uint32_t step = higher ? kHigher : (lower ? kLower : kStraight);
      word |= step << (8 * k);
    }
    words[m] = word;
  }
  return words;
}
constexpr std::array<uint32_t, 256> kStepWords = MakeStepWords();

// SearchInterior four positions at a time: the same comparisons and the same one addition
// per position, so the same bits. The step bytes come from a table of the two comparison
// masks; the compiler's own vectorisation of the loop above packs them through a long
// chain of shuffles and spills, and took twice as long.
__attribute__((target("avx2"))) void SearchInteriorAvx2(const double* prev, const float* e,
                                                        double* cur, uint8_t* steps, int count) {
  int j = 1;
  for (; j + 4 <= count - 1; j += 4) {
    const __m256d a = _mm256_loadu_pd(prev + j - 1), b = _mm256_loadu_pd(prev + j),
                  c = _mm256_loadu_pd(prev + j + 1);
    const __m256d lower = _mm256_cmp_pd(a, b, _CMP_LT_OQ);
    const __m256d m = _mm256_blendv_pd(b, a, lower);
    const __m256d higher = _mm256_cmp_pd(c, m, _CMP_LT_OQ);
    _mm256_storeu_pd(cur + j, _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(e + j)),
                                            _mm256_blendv_pd(m, c, higher)));
    const int bits = _mm256_movemask_pd(higher) | (_mm256_movemask_pd(lower) << 4);
    const uint32_t word = kStepWords[size_t(bits)];
    std::memcpy(steps + j, &word, sizeof(word));
  }
  // The last few positions by the plain loop, from j - 1 on so that it starts at 1.
  SearchInterior(prev + j - 1, e + j - 1, cur + j - 1, steps + j - 1, count - j + 1);
}
#endif

// One line of the search. Only two lines of cumulative energies are ever kept, in double
// so that long paths of large energies still compare exactly as a double copy of the
// whole plane would.
void SearchLine(const double* prev, const float* e, double* cur, uint8_t* steps, int count) {
  if (count == 1) {
    cur[0] = e[0] + prev[0];
    steps[0] = kStraight;
    return;
  }
  const bool first = prev[1] < prev[0];
  cur[0] = e[0] + (first ? prev[1] : prev[0]);
  steps[0] = first ? kHigher : kStraight;
#ifdef ZEP_SEAM_AVX2
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    SearchInteriorAvx2(prev, e, cur, steps, count);
  } else {
    SearchInterior(prev, e, cur, steps, count);
  }
#else
  SearchInterior(prev, e, cur, steps, count);
#endif
  const int l = count - 1;
  const bool last = prev[l - 1] < prev[l];
  cur[l] = e[l] + (last ? prev[l - 1] : prev[l]);
  steps[l] = last ? kLower : kStraight;
}

// The first position of the least cumulative energy.
int FirstLeast(const double* m, int count) {
  int best = 0;
  for (int j = 1; j < count; ++j) {
    if (m[j] < m[best]) best = j;
  }
  return best;
}

// The number of times the pixels of seam k are repeated when a places are added by the
// h recorded seams.
int Copies(int k, int h, int a) {
  if (k < 1 || k > h) return 0;
  return a > h && k <= a - h ? 2 : 1;
}

// The neighbour offsets (column, row) of the four difference planes.
using Offsets = std::array<std::array<int, 2>, 4>;
constexpr Offsets kAxis = {{{1, 0}, {0, 1}, {-1, 0}, {0, -1}}};
constexpr Offsets kDiagonal = {{{1, 1}, {1, -1}, {-1, -1}, {-1, 1}}};

// f(k, centre index, neighbour index) for every plane and pixel of a w x h plane.
template <class F>
void ForEachNeighbour(int w, int h, bool diagonal, F f) {
  const Offsets& o = diagonal ? kDiagonal : kAxis;
  for (int k = 0; k < 4; ++k) {
    for (int y = 0; y < h; ++y) {
      const int64_t row = int64_t(y) * w;
      const int64_t qrow = int64_t(ReflectWhole(y + o[size_t(k)][1], h)) * w;
      for (int x = 0; x < w; ++x) {
        f(k, row + x, qrow + ReflectWhole(x + o[size_t(k)][0], w));
      }
    }
  }
}
}  // namespace

template <class T>
void SeamLines<T>::dimlines(int length, int count) {
  rows_.free();
  rows_.dim(length, count);
  first_.assign(size_t(rows_.n), 0);
}

template <class T>
void SeamLines<T>::closevertical(const cvector<int32_t>& seam, int width, int height) {
  for (int i = 0; width > 0 && i < height; ++i) {
    const int c = seam[i];
    T* r = line(i);
    if (c < width - 1 - c) {
      std::memmove(r + 1, r, sizeof(T) * size_t(c));
      ++first_[size_t(i)];
    } else {
      std::memmove(r + c, r + c + 1, sizeof(T) * size_t(width - 1 - c));
    }
  }
}

template <class T>
void SeamLines<T>::closehorizontal(const cvector<int32_t>& seam, int width, int height) {
  if (height <= 0) return;
  int m = 0;
  for (int j = 0; j < width; ++j) m = std::max(m, int(seam[j]));
  // Below the seam's lowest row nothing moves; up to its highest row each column closes
  // its own gap; above it whole rows move, which costs no copy.
  for (int j = 0; j < width; ++j) {
    for (int i = seam[j]; i < m; ++i) line(i)[j] = line(i + 1)[j];
  }
  for (int i = m; i + 1 < height; ++i) {
    std::swap(rows_[i], rows_[i + 1]);
    std::swap(first_[size_t(i)], first_[size_t(i) + 1]);
  }
}

template class SeamLines<float>;
template class SeamLines<int32_t>;

SeamEnergyMap& SeamEnergyMap::assign(const matrix& energy) {
  dimlines(energy.nx, energy.ny);
  for (int i = 0; i < energy.ny; ++i) std::copy_n(energy.z[i], energy.nx, line(i));
  return *this;
}

SeamEnergyMap& SeamEnergyMap::verticalseam(cvector<int32_t>& seam, int width, int height) {
  if (width <= 0 || height <= 0) return *this;
  seam.dim(height);
  const size_t w = size_t(width);
  lines_.resize(2 * w);
  steps_.resize(w * size_t(height));
  double *prev = lines_.data(), *cur = prev + w;
  std::copy_n(line(0), w, prev);
  for (int i = 1; i < height; ++i) {
    SearchLine(prev, line(i), cur, &steps_[size_t(i) * w], width);
    std::swap(prev, cur);
  }
  seam[height - 1] = FirstLeast(prev, width);
  for (int i = height - 2; i >= 0; --i) {
    const int j = seam[i + 1];
    seam[i] = j + StepOf(steps_[size_t(i + 1) * w + size_t(j)]);
  }
  return *this;
}

SeamEnergyMap& SeamEnergyMap::horizontalseam(cvector<int32_t>& seam, int width, int height) {
  if (width <= 0 || height <= 0) return *this;
  seam.dim(width);
  const size_t h = size_t(height);
  lines_.resize(2 * h);
  steps_.resize(h * size_t(width));
  std::vector<float> e(h);
  double *prev = lines_.data(), *cur = prev + h;
  for (int i = 0; i < height; ++i) prev[i] = line(i)[0];
  for (int j = 1; j < width; ++j) {
    for (int i = 0; i < height; ++i) e[size_t(i)] = line(i)[j];
    SearchLine(prev, e.data(), cur, &steps_[size_t(j) * h], height);
    std::swap(prev, cur);
  }
  seam[width - 1] = FirstLeast(prev, height);
  for (int j = width - 2; j >= 0; --j) {
    const int i = seam[j + 1];
    seam[j] = i + StepOf(steps_[size_t(j + 1) * h + size_t(i)]);
  }
  return *this;
}

SeamEnergyMap& SeamEnergyMap::removevertical(const cvector<int32_t>& seam, int width, int height) {
  closevertical(seam, width, height);
  return *this;
}

SeamEnergyMap& SeamEnergyMap::removehorizontal(const cvector<int32_t>& seam, int width,
                                               int height) {
  closehorizontal(seam, width, height);
  return *this;
}

SeamIndexMap& SeamIndexMap::identity(int w, int h) {
  dimlines(w, h);
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < w; ++j) line(i)[j] = i * w + j;
  }
  return *this;
}

SeamIndexMap& SeamIndexMap::removevertical(const cvector<int32_t>& seam, int& width, int height) {
  if (width <= 0) return *this;
  closevertical(seam, width, height);
  --width;
  return *this;
}

SeamIndexMap& SeamIndexMap::removehorizontal(const cvector<int32_t>& seam, int width, int& height) {
  if (height <= 0) return *this;
  closehorizontal(seam, width, height);
  --height;
  return *this;
}

SeamIndexMap& SeamIndexMap::widen(SeamOrderMap& order, int a) {
  if (lines() == 0 || order.n == 0) return *this;
  const int h0 = order.n, w0 = order[0].n;
  a = std::max(a, 0);
  int seams = 0;
  for (int i = 0; i < h0; ++i) {
    for (int j = 0; j < w0; ++j) seams = std::max(seams, int(order[i].x[j]));
  }
  dimlines(w0 + a, h0);
  // Each copy goes right after the pixel it repeats, so a row is its source row with the
  // repeated pixels doubled or tripled in place, cut to its new length.
  const int length = w0 + a;
  for (int i = 0; i < h0; ++i) {
    int32_t* r = line(i);
    int out = 0;
    for (int j = 0; j < w0 && out < length; ++j) {
      const int32_t index = i * w0 + j;
      r[out++] = index;
      for (int c = Copies(order[i].x[j], seams, a); c > 0 && out < length; --c) r[out++] = index;
    }
    std::fill(r + out, r + length, 0);
  }
  order.free();
  return *this;
}

SeamIndexMap& SeamIndexMap::heighten(SeamOrderMap& order, int a) {
  if (lines() == 0 || order.n == 0) return *this;
  const int h0 = order.n, w0 = order[0].n;
  a = std::max(a, 0);
  int seams = 0;
  for (int i = 0; i < h0; ++i) {
    for (int j = 0; j < w0; ++j) seams = std::max(seams, -int(order[i].x[j]));
  }
  dimlines(w0, h0 + a);
  const int length = h0 + a;
  for (int m = 0; m < w0; ++m) {
    int out = 0;
    for (int i = 0; i < h0 && out < length; ++i) {
      const int32_t index = i * w0 + m;
      line(out++)[m] = index;
      for (int c = Copies(-order[i].x[m], seams, a); c > 0 && out < length; --c) {
        line(out++)[m] = index;
      }
    }
    for (; out < length; ++out) line(out)[m] = 0;
  }
  order.free();
  return *this;
}

SeamOrderMap& SeamOrderMap::markvertical(const SeamIndexMap& map, const cvector<int32_t>& seam,
                                         int height, int k) {
  if (n == 0) return *this;
  const int w0 = row[0].n;
  for (int i = 0; i < height; ++i) {
    const int32_t p = map.line(i)[seam[i]];
    row[p / w0].x[p % w0] = k;
  }
  return *this;
}

SeamOrderMap& SeamOrderMap::markhorizontal(const SeamIndexMap& map, const cvector<int32_t>& seam,
                                           int width, int k) {
  if (n == 0) return *this;
  const int w0 = row[0].n;
  for (int j = 0; j < width; ++j) {
    const int32_t p = map.line(seam[j])[j];
    row[p / w0].x[p % w0] = -k;
  }
  return *this;
}

matrix& matrix::gatherindex(const matrix& source, const SeamIndexMap& map, int width, int height) {
  if (&source == this) {
    const matrix copy(source);
    return gatherindex(copy, map, width, height);
  }
  dim(width, height);
  for (int i = 0; i < height; ++i) {
    const int32_t* r = map.line(i);
    float* out = z[i];
    for (int j = 0; j < width; ++j) out[j] = source.x[r[j]];
  }
  return *this;
}

bitmask& bitmask::gatherindex(const bitmask& source, const SeamIndexMap& map, int width,
                              int height) {
  if (!present()) return *this;
  if (&source == this) {
    const bitmask copy(source);
    return gatherindex(copy, map, width, height);
  }
  dim(width, height);
  for (int i = 0; i < height; ++i) {
    const int32_t* r = map.line(i);
    for (int j = 0; j < width; ++j) setbit(i * width + j, source.getbit(r[j]));
  }
  return *this;
}

const matrix& matrix::neighbourdiffs(matrixarray& d, bool diagonal) const {
  d.dim(4, nx, ny);
  ForEachNeighbour(nx, ny, diagonal, [&](int k, int64_t p, int64_t q) { d[k].x[p] = x[q] - x[p]; });
  return *this;
}

matrix& matrix::neighbourdiffsadj(const matrixarray& d, bool diagonal) {
  if (d.n < 4) return *this;
  if (nx != d[0].nx || ny != d[0].ny || n == 0) dim(d[0].nx, d[0].ny).zero();
  ForEachNeighbour(nx, ny, diagonal, [&](int k, int64_t p, int64_t q) {
    const float v = d[k].x[p];
    x[q] += v;
    x[p] -= v;
  });
  return *this;
}

matrix& matrix::gradientcg(int iterations, const matrixarray& targets, bool diagonal,
                           const bitmask* mask, float w) {
  if (iterations <= 0 || n == 0 || targets.n < 4) return *this;
  cvector<int> pins;
  if (mask && w != 0.0f && mask->covers(nx, ny)) mask->indices(pins);
  // The residuals of the differences and of the pinning term (which starts at 0: the
  // pinned pixels start at the values they are held to).
  matrixarray r, q;
  neighbourdiffs(r, diagonal);
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < n; ++i) r[k].x[i] = targets[k].x[i] - r[k].x[i];
  }
  std::vector<float> pinResidual(size_t(std::max(pins.n, 0)), 0.0f);
  matrix s(nx, ny), p;
  const auto gradient = [&] {
    s.zero().neighbourdiffsadj(r, diagonal);
    for (int j = 0; j < pins.n; ++j) s.x[pins[j]] += w * pinResidual[size_t(j)];
  };
  gradient();
  double gamma = s.sumsq();
  p.assign(s);
  for (int it = 0; it < iterations; ++it) {
    p.neighbourdiffs(q, diagonal);
    double delta = 0.0;
    for (int k = 0; k < 4; ++k) delta += q[k].sumsq();
    for (int j = 0; j < pins.n; ++j) {
      const double v = double(w) * p.x[pins[j]];
      delta += v * v;
    }
    if (!(delta > 0.0)) break;
    const double alpha = gamma / delta;
    axpy(float(alpha), p);
    for (int k = 0; k < 4; ++k) r[k].axpy(float(-alpha), q[k]);
    for (int j = 0; j < pins.n; ++j) {
      pinResidual[size_t(j)] -= float(alpha * w * p.x[pins[j]]);
    }
    gradient();
    const double next = s.sumsq();
    if (gamma == 0.0) break;
    p.scaleadd(float(next / gamma), s);
    gamma = next;
  }
  return *this;
}
