// The fractal plane codec and the .IFS file: block geometry, the mean codes, the search's
// pairing of isometries, the file's layout and the reader's refusals.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric/ifsblocks.h"
#include "ops/resize/ifs.h"
#include "platform/parallel.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace {
class IfsCodecTest : public ZepTest {
 protected:
  std::string Path(const char* name) { return (home / name).string(); }
};

matrix Noise(int w, int h, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(0, 255);
  matrix m(w, h);
  for (int k = 0; k < m.n; ++k) m.x[k] = u(gen);
  return m;
}

IfsPlaneParams Plane(int r, int L, float p1 = 1.0f, float p2 = 0.25f, float maxMul = 2.0f) {
  return IfsPlaneParams{r, L, 2, p1, p2, maxMul};
}

void ExpectMeanCodes(const ifscoding& c, const matrix& padded) {
  for (int i = 0; i < c.N; ++i) {
    const int bx = (i % c.rx) * c.r, by = (i / c.rx) * c.r;
    double sum = 0;
    for (int y = by; y < by + c.r; ++y)
      for (int x = bx; x < bx + c.r; ++x) sum += padded.z[y][x];
    ASSERT_EQ(c.sets[0].scale[size_t(i)], 0.0f) << i;
    ASSERT_EQ(c.sets[0].offset[size_t(i)], float(sum / (c.r * c.r))) << i;
    ASSERT_EQ(c.sets[0].isometry[size_t(i)], 0);
    ASSERT_EQ(c.sets[0].domain[size_t(i)], 0);
  }
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
}  // namespace

TEST(IfsBlocks, IsometriesFollowTheirTableAndUndoEachOther) {
  matrix src(3, 2);  // W 3, H 2: turning codes give 2 x 3
  for (int k = 0; k < 6; ++k) src.x[k] = float(k + 1);
  // Output (x, y) reads source (sx, sy) as the table says, for one sample per code.
  const struct {
    int code, w, h, x, y, sx, sy;
  } rows[] = {{0, 3, 2, 2, 1, 2, 1}, {1, 3, 2, 0, 1, 2, 1}, {2, 3, 2, 2, 0, 2, 1},
              {3, 2, 3, 0, 0, 0, 1}, {4, 3, 2, 0, 0, 2, 1}, {5, 2, 3, 0, 0, 2, 0},
              {6, 2, 3, 0, 0, 2, 1}, {7, 2, 3, 1, 2, 2, 1}};
  for (const auto& r : rows) {
    matrix out;
    out.isometry(src, r.code);
    ASSERT_EQ(out.nx, r.w) << r.code;
    ASSERT_EQ(out.ny, r.h) << r.code;
    EXPECT_EQ(out.z[r.y][r.x], src.z[r.sy][r.sx]) << r.code;
    matrix back;
    back.isometry(out, InverseIsometry(r.code));
    ASSERT_EQ(back.nx, 3);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(back.x[k], src.x[k]) << r.code;
  }
  matrix bad = src;
  bad.isometry(src, 8);
  EXPECT_EQ(bad.nx, 3);
  EXPECT_EQ(bad.sum(), 0.0);
}

TEST(IfsBlocks, ReductionsAndNeighbourDifferences) {
  const matrix src = Noise(6, 6, 1);
  matrix r2, r3, cells;
  r2.reduce2(src);
  r3.reduce3(src);
  ASSERT_EQ(r2.nx, 3);
  ASSERT_EQ(r3.nx, 2);
  EXPECT_NEAR(r2.z[1][2], (src.z[2][4] + src.z[2][5] + src.z[3][4] + src.z[3][5]) / 4, 1e-3);
  cells.cellmeans(src, 3);
  EXPECT_EQ(cells.z[3][3], r3.z[1][1]);  // the same bits by both roads
  cells.cellmeans(src, 2);
  EXPECT_EQ(cells.z[2][4], r2.z[1][2]);

  // The row-at-a-time cell means give CellMean's bits at every cell, negative zeros and
  // values far apart in scale included, across the vector loops' widths and tails.
  matrix wide = Noise(45, 5, 9);
  for (int k = 0; k < wide.n; k += 7) wide.x[k] = k % 2 ? -0.0f : 1e7f * wide.x[k];
  for (int q : {2, 3}) {
    cells.cellmeans(wide, q);
    for (int y = 0; y < cells.ny; ++y)
      for (int x = 0; x < cells.nx; ++x) {
        const float want = CellMean(wide.z, x, y, q);
        ASSERT_EQ(std::memcmp(&cells.z[y][x], &want, sizeof want), 0) << q << " " << x << " " << y;
      }
  }

  matrix m(2, 2);
  m.x[0] = 0, m.x[1] = 1, m.x[2] = 3, m.x[3] = 0;  // the diagonal 1 -> 3 is the largest
  EXPECT_EQ(m.maxneighbourdiff(), 3.0f);
  matrix one(1, 1);
  one.x[0] = 7;
  EXPECT_EQ(one.maxneighbourdiff(), 0.0f);
  matrix s;
  s.smooth3wx(src, 1, 10, 1);
  EXPECT_EQ(s.z[2][0], src.z[2][0]);
  EXPECT_NEAR(s.z[2][1], (src.z[2][0] + 10 * src.z[2][1] + src.z[2][2]) / 12, 1e-3);
}

TEST(IfsCodec, PaddingRepeatsTheLastColumnAndRow) {
  const matrix plane = Noise(7, 6, 2);
  ifscoding c;
  matrix padded;
  c.load(plane, padded, 5, 2, 2, 0);
  EXPECT_EQ(c.pw, 10);
  EXPECT_EQ(c.ph, 10);
  EXPECT_EQ(c.N, 4);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      ASSERT_EQ(padded.z[y][x], plane.z[std::min(y, 5)][std::min(x, 6)]) << x << "," << y;
}

TEST(IfsCodec, MeanCodesWhereNoDomainMayServe) {
  matrix flat(20, 20);
  flat.fill(77.5f);
  const matrix noise = Noise(20, 20, 3);
  // A gentle ramp (neighbours 0.5 apart) beside strong texture: its ranges are flat.
  matrix gentle = noise;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) gentle.z[y][x] = 0.5f * float(x);
  const struct {
    const char* what;
    const matrix* plane;
    IfsPlaneParams p;
    bool onlyGentle;
  } rows[] = {
      {"constant plane", &flat, Plane(4, 0), false},
      {"no pool entry after P1", &noise, Plane(4, 0, 1e-4f), false},
      {"multiplier below every candidate", &noise, Plane(4, 0, 1, 0.5f, 1e-7f), false},
      {"flat ranges beside texture", &gentle, Plane(5, 0), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ifscoding c;
    matrix padded;
    c.load(*row.plane, padded, row.p.rangeBlock, row.p.maxMultiplier, 2, 0);
    c.encode(padded, row.p.parameter1, row.p.parameter2, 0);
    if (!row.onlyGentle) {
      ExpectMeanCodes(c, padded);
      continue;
    }
    // Range block 0 is the ramp's corner: its mean; the textured ones find domains.
    EXPECT_EQ(c.sets[0].scale[0], 0.0f);
    int matched = 0;
    for (int i = 1; i < c.N; ++i) matched += c.sets[0].scale[size_t(i)] != 0.0f;
    EXPECT_GT(matched, 0);
  }
}

TEST(IfsCodec, ConstantPlaneDecodesExactlyAtAnyScale) {
  matrix flat(9, 7);
  flat.fill(31.25f);
  ifsplane plane;
  plane.encode(flat, Plane(3, 1), 1);
  for (int s : {1, 3}) {
    matrix out;
    plane.decode(out, s, 1);
    ASSERT_EQ(out.nx, 9 * s);
    ASSERT_EQ(out.ny, 9 * s);  // 7 pads to 9
    for (int k = 0; k < out.n; ++k) ASSERT_EQ(out.x[k], 31.25f) << s << " " << k;
  }
}

TEST(IfsCodec, EachIsometryIsFoundAndDecodedExactly) {
  // Range block 0 (4 x 4 at the corner) is made from the reduced domain at (8, 8) under
  // isometry j, scaled by 0.5 and moved by 10: the search must find a code that rebuilds
  // it, and the collage step must apply the isometry the way matrix::isometry does.
  for (int j = 0; j < 8; ++j) {
    SCOPED_TRACE(j);
    matrix plane = Noise(16, 16, 10 + unsigned(j));
    matrix domain(8, 8), reduced, turned;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) domain.z[y][x] = plane.z[8 + y][8 + x];
    reduced.reduce2(domain);
    turned.isometry(reduced, j);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) plane.z[y][x] = 0.5f * turned.z[y][x] + 10;
    ifscoding c;
    matrix padded, cells, collage;
    c.load(plane, padded, 4, 2, 2, 0);
    c.encode(padded, 1.0f, 0.5f, 0);
    cells.cellmeans(padded, 2);
    c.apply(cells, collage, 1, 0, 0, false);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) ASSERT_NEAR(collage.z[y][x], plane.z[y][x], 1e-3) << x << y;
  }
}

TEST_F(IfsCodecTest, FileSizesAndBitExactRoundTrip) {
  const matrix y = Noise(10, 10, 4), cb = Noise(10, 10, 5), cr = Noise(10, 10, 6);
  const IfsPlaneParams off{0, 0, 2, 0.5f, 0.1f, 1.3f};
  const struct {
    IfsPlaneSet p;
    uintmax_t bytes;
  } rows[] = {
      {{Plane(5, 1), off, off, off}, 644},
      {{Plane(5, 1), off, Plane(3, 0), Plane(3, 0)}, 644 + 2 * 624},
      {{Plane(5, 0), off, off, off}, 124 + 5 * 1 * 4 * 13},  // four arrays per coding
      {{Plane(5, 2), off, off, off}, 124 + 5 * 3 * 4 * 13},  // twelve
  };
  for (const auto& row : rows) {
    ifscodec codec;
    codec.setup(row.p, ifscodec::kYCbCrCode).encode(y, cb, cr, 0);
    const std::string path = Path("a.IFS");
    codec.write(path);
    ASSERT_EQ(std::filesystem::file_size(path), row.bytes);
    ifscodec back;
    ASSERT_EQ(back.read(path), nullptr);
    EXPECT_EQ(back.w, 10);
    for (int p = 0; p < 4; ++p) {
      const ifsplane &a = codec.planes[size_t(p)], &b = back.planes[size_t(p)];
      ASSERT_EQ(a.codings.size(), b.codings.size());
      for (size_t k = 0; k < a.codings.size(); ++k) {
        ASSERT_EQ(a.codings[k].sets.size(), b.codings[k].sets.size());
        for (size_t l = 0; l < a.codings[k].sets.size(); ++l) {
          const IfsCodes &u = a.codings[k].sets[l], &v = b.codings[k].sets[l];
          EXPECT_EQ(0, std::memcmp(u.scale.data(), v.scale.data(), u.scale.size() * 4));
          EXPECT_EQ(0, std::memcmp(u.offset.data(), v.offset.data(), u.offset.size() * 4));
          EXPECT_EQ(u.isometry, v.isometry);
          EXPECT_EQ(u.domain, v.domain);
        }
      }
    }
  }
}

TEST_F(IfsCodecTest, HostileFilesAreRefusedWhole) {
  // 10 x 10, Y at r 5 with one level (N 4, D 10: one domain), Cb and Cr at r 3.
  const IfsPlaneParams off{0, 0, 2, 0.5f, 0.1f, 1.3f};
  ifscodec codec;
  codec.setup({Plane(5, 1), off, Plane(3, 0), Plane(3, 0)}, ifscodec::kYCbCrCode)
      .encode(Noise(10, 10, 7), Noise(10, 10, 8), Noise(10, 10, 9), 0);
  const std::string good = Path("good.IFS"), bad = Path("bad.IFS");
  codec.write(good);
  const std::vector<uint8_t> bytes = FileBytes(good);
  auto word = [](std::vector<uint8_t>& b, size_t i, int32_t v) { std::memcpy(&b[4 * i], &v, 4); };
  auto real = [](std::vector<uint8_t>& b, size_t at, float v) { std::memcpy(&b[at], &v, 4); };
  // Y's first coding: scale at 124, offset at 140, isometry at 156, domain at 160.
  const struct {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
  } rows[] = {
      {"truncated", [](auto& b) { b.pop_back(); }},
      {"one byte extra", [](auto& b) { b.push_back(0); }},
      {"header only", [](auto& b) { b.resize(124); }},
      {"shorter than a header", [](auto& b) { b.resize(60); }},
      {"unknown colour space", [&](auto& b) { word(b, 0, 0x3); }},
      {"Y range block 0", [&](auto& b) { word(b, 7, 0); }},
      {"Y range block 1", [&](auto& b) { word(b, 7, 1); }},
      {"Cb range block 1", [&](auto& b) { word(b, 9, 1); }},
      {"ratio 5", [&](auto& b) { word(b, 15, 5); }},
      {"negative width", [&](auto& b) { word(b, 4, -10), word(b, 6, -100); }},
      {"huge sizes", [&](auto& b) { word(b, 4, 1 << 30), word(b, 5, 1 << 30), word(b, 6, 0); }},
      {"width times height overflows",
       [&](auto& b) { word(b, 4, 65536), word(b, 5, 65537), word(b, 6, 65536); }},
      {"padded words disagree", [&](auto& b) { word(b, 1, 15); }},
      {"negative levels", [&](auto& b) { word(b, 11, -1); }},
      {"1000 levels", [&](auto& b) { word(b, 11, 1000); }},
      {"NaN parameter", [&](auto& b) { real(b, 4 * 19, std::nanf("")); }},
      {"domain index dx * dy", [&](auto& b) { word(b, 40, 1); }},
      {"negative domain index", [&](auto& b) { word(b, 40, -1); }},
      {"isometry 8", [](auto& b) { b[156] = 8; }},
      {"NaN scale", [&](auto& b) { real(b, 124, std::nanf("")); }},
      {"infinite offset", [&](auto& b) { real(b, 140, std::numeric_limits<float>::infinity()); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<uint8_t> b = bytes;
    row.change(b);
    WriteBytes(bad, b);
    ifscodec c;
    EXPECT_STREQ(c.read(bad), kIfsReadProblem);
    EXPECT_FALSE(c.valid);
    EXPECT_FALSE(c.planes[0].present());
  }
  ifscodec c;
  EXPECT_EQ(c.read(good), nullptr);
  // A decode larger than any memory is refused before anything is allocated.
  EXPECT_STREQ(c.read(good, 1 << 20), kIfsReadProblem);
  EXPECT_STREQ(c.read(Path("missing.IFS")), "PROBLEM OPENING FILE FOR READING!");
}

TEST(IfsCodec, PlaneSmallerThanADomainGetsMeanCodesAndDecodes) {
  // 6 x 6 at r 4, q 2: padded to 8 x 8, D 8 fits once; at r 5: 10 x 10 padded, D 10 fits
  // once; at r 4 q 3: D 12 does not fit at all.
  const matrix plane = Noise(6, 6, 11);
  ifsplane p;
  p.encode(plane, IfsPlaneParams{4, 1, 3, 1, 0.25f, 2}, 0);
  ASSERT_EQ(p.codings[0].domains(), 0);
  for (const ifscoding& c : p.codings)
    for (const IfsCodes& s : c.sets)
      for (int i = 0; i < c.N; ++i) ASSERT_EQ(s.scale[size_t(i)], 0.0f);
  matrix out;
  p.decode(out, 2, 2);
  EXPECT_EQ(out.nx, 16);
  for (int k = 0; k < out.n; ++k) ASSERT_TRUE(std::isfinite(out.x[k]));
}

TEST(IfsCodec, SearchWindowsMatchTheForwardWalk) {
  // The windows found by binary search are those of the walk that moves two positions
  // forward from range to range, key by key.
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(0, 3);
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 1 + trial % 13, count = 30;
    std::vector<float> pool(static_cast<size_t>(n)), keys(static_cast<size_t>(count));
    for (float& k : pool) k = trial % 5 == 0 ? 1.0f : u(gen);  // ties too
    for (float& k : keys) k = u(gen) * 1.2f - 0.3f;
    std::sort(pool.begin(), pool.end());
    std::sort(keys.begin(), keys.end());
    for (int f = 0; f < trial % 4; ++f) keys[size_t(count - 1 - f)] = 1e36f;
    const float p2 = std::array<float, 4>{0.01f, 0.1f, 0.3f, 0.5f}[size_t(trial % 4)];
    std::vector<int> lo(static_cast<size_t>(count)), hi(static_cast<size_t>(count));
    IfsSearchWindows(pool.data(), n, keys.data(), count, p2, lo.data(), hi.data());
    const float minKey = pool[0], maxKey = pool[size_t(n - 1)], W = p2 * (maxKey - minKey);
    int l = 0, h = 0;
    for (int pos = 0; pos < count; ++pos) {
      const float K = keys[size_t(pos)];
      if (K == 1e36f) {
        EXPECT_GE(lo[size_t(pos)], hi[size_t(pos)]);
        continue;
      }
      const float low = K <= minKey + W ? minKey : K > maxKey - W ? maxKey - 2 * W : K - W;
      const float up = K <= minKey + W ? minKey + 2 * W : K > maxKey - W ? maxKey : K + W;
      int p = l;
      while (p < n && pool[size_t(p)] < low) ++p;
      if (p < n) l = p;
      h = std::max(h, l);
      while (h < n && !(pool[size_t(h)] > up)) ++h;
      ASSERT_EQ(lo[size_t(pos)], l) << trial << " " << pos;
      ASSERT_EQ(hi[size_t(pos)], h) << trial << " " << pos;
    }
  }
}

// The decoder's passes (each phase's collage added in place, the roll back taken in two
// runs, the isometries by fixed steps) against the decode written sample by sample: roll
// the estimate by phase k, take its cell means, build the collage through the isometry
// table, add it rolled back, average the phases. Bit for bit, for both domain ratios,
// one and two correction levels, scales, the phases held all at once or a group at a time,
// and a plane whose padding wraps the rolls.
TEST(IfsCodec, DecodeEqualsTheSampleBySampleForm) {
  for (int q : {2, 3}) {
    for (int s : {1, 2}) {
      const int levels = s, atOnce = q == 2 ? s - 1 : s;  // 0 (all), 1 and 2
      SCOPED_TRACE("ratio " + std::to_string(q) + ", scale " + std::to_string(s));
      const matrix picture = Noise(23, 19, unsigned(40 + q * 3 + s));
      ifsplane plane;
      IfsPlaneParams p = Plane(3, levels, 0.5f, 0.3f);
      p.ratio = q;
      plane.encode(picture, p, 1);
      matrix fast;
      plane.decode(fast, s, 3, atOnce);

      const int W = plane.pw * s, H = plane.ph * s;
      matrix out(W, H), acc(W, H), rolled, cells;
      out.zero();
      for (int it = 0; it < 3; ++it) {
        acc.zero();
        for (int k = 0; k < plane.r; ++k) {
          const ifscoding& c = plane.codings[size_t(k)];
          rolled.rollfrom(out, k * s, k * s);
          cells.cellmeans(rolled, q);
          const int b = c.r * s;
          matrix collage(W, H);
          for (int i = 0; i < c.N; ++i) {
            const int bx = (i % c.rx) * b, by = (i / c.rx) * b;
            for (int l = 0; l <= c.L; ++l) {
              const IfsCodes& codes = c.sets[size_t(l)];
              const float sc = codes.scale[size_t(i)], of = codes.offset[size_t(i)];
              const int d = codes.domain[size_t(i)];
              const bool mean = sc == 0.0f || c.domains() == 0;
              const int cx = mean ? 0 : s * (d % c.dx), cy = mean ? 0 : s * (d / c.dx);
              for (int y = 0; y < b; ++y) {
                for (int x = 0; x < b; ++x) {
                  int sx, sy;
                  float v = of;
                  if (!mean && IsometrySource(codes.isometry[size_t(i)], x, y, b, b, sx, sy)) {
                    v = sc * cells.z[cy + q * sy][cx + q * sx] + of;
                  }
                  float& o = collage.z[by + y][bx + x];
                  o = l == 0 ? v : o + v;
                }
              }
            }
          }
          const int shift = k * s;
          for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) acc.z[y][x] += collage.z[(y + shift) % H][(x + shift) % W];
        }
        for (int k = 0; k < acc.n; ++k) acc.x[k] = float(double(float(1.0 / plane.r)) * acc.x[k]);
        std::swap(out, acc);
      }
      ASSERT_EQ(fast.n, out.n);
      EXPECT_EQ(std::memcmp(fast.x, out.x, sizeof(float) * size_t(out.n)), 0);
    }
  }
}

// Planes decoded side by side, in one loop per pass, against each decoded alone: different
// block sizes, ratios, levels and modes (so different iteration counts in the shared
// loop), and a 2 x 2 picture whose ratio-3 planes have no cell plane between planes that do.
TEST(IfsCodec, PlanesSideBySideEqualThePlanesAlone) {
  struct Case {
    int w, h, s, n;
    std::array<IfsPlaneParams, 4> p;
    std::array<int, 4> modes;
  };
  auto with = [](IfsPlaneParams p, int q) {
    p.ratio = q;
    return p;
  };
  const Case cases[] = {
      {23, 19, 2, 4, {Plane(5, 1, 0.5f), with(Plane(3, 0), 3), Plane(3, 0), with(Plane(2, 2), 3)},
       {1, 0, 0, 1}},
      {23, 19, 1, 2, {Plane(4, 0), Plane(3, 1), with(Plane(3, 0), 3), Plane(2, 0)}, {0, 1, 1, 0}},
      {2, 2, 1, 3, {with(Plane(2, 0), 3), Plane(2, 0), with(Plane(2, 0), 3), Plane(2, 1)},
       {0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    std::array<ifsplane, 4> planes;
    std::array<matrix, 4> joint, alone;
    std::vector<IfsPlaneJob> jobs;
    for (size_t k = 0; k < 4; ++k) {
      planes[k].encode(Noise(c.w, c.h, unsigned(7 + k)), c.p[k], 0);
      jobs.push_back({&planes[k], &joint[k], c.modes[k]});
    }
    IfsDecodeModes(jobs, c.s, c.n);
    for (size_t k = 0; k < 4; ++k) {
      planes[k].decodemode(alone[k], c.s, c.n, c.modes[k]);
      ASSERT_EQ(joint[k].nx, c.w * c.s);
      ASSERT_EQ(joint[k].ny, c.h * c.s);
      ASSERT_EQ(alone[k].n, joint[k].n);
      EXPECT_EQ(0, std::memcmp(alone[k].x, joint[k].x, size_t(joint[k].n) * 4)) << k;
    }
  }
}
