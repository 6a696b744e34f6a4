// The per-pixel combiners of stacking, the exposure merge and the raw float colour files,
// on plain lists and tiny images.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "ops/stacking/combine.h"
#include "ops/stacking/stack.h"
#include "platform/errors.h"
#include "support/zep_test.h"

namespace {
using Samples = std::vector<fpixel>;

float Distance(const fpixel& a, const fpixel& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

// The sum of distances the multivariate median minimises, in double.
double Objective(const Samples& s, double x, double y, double z) {
  double sum = 0;
  for (const fpixel& p : s)
    sum += std::sqrt((p.x - x) * (p.x - x) + (p.y - y) * (p.y - y) + (p.z - z) * (p.z - z));
  return sum;
}

struct Random {
  uint32_t seed;
  double uniform() {
    seed = seed * 1664525u + 1013904223u;
    return (double(seed >> 8) + 0.5) / double(1 << 24);
  }
  double gauss() {
    return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307 * uniform());
  }
};

void ExpectPixel(const fpixel& got, const fpixel& want, float tolerance = 0) {
  EXPECT_NEAR(got.x, want.x, tolerance);
  EXPECT_NEAR(got.y, want.y, tolerance);
  EXPECT_NEAR(got.z, want.z, tolerance);
}
}  // namespace

TEST(StackCombiners, EdgeCases) {
  CombineBuffers b;
  struct Case {
    const char* name;
    Samples samples;
    fpixel median;
    std::optional<fpixel> wmmr, multivariate;
  };
  const Case cases[] = {
      {"one sample", {{3, 4, 5}}, {3, 4, 5}, fpixel{3, 4, 5}, fpixel{3, 4, 5}},
      {"identical samples",
       {{7, 1, 2}, {7, 1, 2}, {7, 1, 2}},
       {7, 1, 2},
       fpixel{7, 1, 2},
       fpixel{7, 1, 2}},
      // Each channel on its own: (2, 1, 0) of three, (3, 2.5, 1.5) of four.
      {"three", {{1, 0, 0}, {2, 5, 0}, {9, 1, 3}}, {2, 1, 0}, fpixel{2, 1, 0}, {}},
      {"four", {{1, 0, 0}, {2, 5, 0}, {9, 1, 3}, {4, 4, 4}}, {3, 2.5f, 1.5f}, {}, {}},
      // A sample standing for two draws the point onto itself and holds it there.
      {"double sample",
       {{0, 0, 0}, {0, 0, 0}, {10, 0, 0}},
       {0, 0, 0},
       fpixel{0, 0, 0},
       fpixel{0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectPixel(CombineMedian(c.samples, b), c.median);
    if (c.wmmr) ExpectPixel(CombineWmmr(c.samples, b), *c.wmmr);
    if (c.multivariate) ExpectPixel(CombineMultivariateMedian(c.samples, 200, b), *c.multivariate);
  }
}

TEST(StackCombiners, MergeCountsRunsAndTheWeiszfeldStepStaysOnAHeavySample) {
  Samples s = {{10, 0, 0}, {0, 0, 0}, {0, 0, 5e-7f}, {10, 0, 0}, {-1, 2, 0}};
  std::vector<int32_t> counts;
  MergeColourSamples(s, counts);
  ASSERT_EQ(s.size(), 3u);
  ExpectPixel(s[0], {-1, 2, 0});
  ExpectPixel(s[1], {0, 0, 0});
  ExpectPixel(s[2], {10, 0, 0});
  EXPECT_EQ(counts, (std::vector<int32_t>{1, 2, 2}));

  // (0,0,0) twice and (10,0,0) once: from the mean (3.33, 0, 0) the steps head for the
  // double sample, and once on it the pull of the other (1) is below its weight (2).
  Samples u = {{0, 0, 0}, {10, 0, 0}};
  const std::vector<int32_t> c = {2, 1};
  float step = 0;
  const fpixel first = WeiszfeldStep(10.0f / 3, 0, 0, u, c, &step);
  EXPECT_LT(first.x, 10.0f / 3);
  EXPECT_GT(step, 0.0001f);
  const fpixel held = WeiszfeldStep(0, 0, 0, u, c, &step);
  ExpectPixel(held, {0, 0, 0});
  EXPECT_FLOAT_EQ(step, -1.0f);
  // Within 1e-4 of it the point is snapped onto it first.
  ExpectPixel(WeiszfeldStep(5e-5f, 0, 0, u, c, &step), {0, 0, 0});
}

// The multivariate median reaches the minimum of the sum of distances that a general
// minimiser finds, and one wild sample among nine hardly moves it.
TEST(StackCombiners, MultivariateMedianMinimisesTheSumOfDistances) {
  CombineBuffers b;
  Random r{99};
  for (int set = 0; set < 20; ++set) {
    SCOPED_TRACE(set);
    Samples s;
    const int n = 3 + set % 9;
    for (int k = 0; k < n; ++k)
      s.push_back(
          fpixel(float(255 * r.uniform()), float(255 * r.uniform()), float(255 * r.uniform())));
    const fpixel m = CombineMultivariateMedian(s, 200, b);
    const double at = Objective(s, m.x, m.y, m.z);
    // No nearby point does better (beyond float rounding of the objective).
    for (int axis = 0; axis < 3; ++axis) {
      for (double d : {-0.01, 0.01}) {
        const double x = m.x + (axis == 0) * d, y = m.y + (axis == 1) * d,
                     z = m.z + (axis == 2) * d;
        EXPECT_GE(Objective(s, x, y, z), at * (1 - 1e-6));
      }
    }
  }
  Samples inliers;
  for (int k = 0; k < 8; ++k)
    inliers.push_back(
        fpixel(float(100 + 2 * r.gauss()), float(80 + 2 * r.gauss()), float(60 + 2 * r.gauss())));
  const fpixel clean = CombineMultivariateMedian(inliers, 200, b);
  Samples wild = inliers;
  wild.push_back({1e4f, 1e4f, 1e4f});
  EXPECT_LT(Distance(CombineMultivariateMedian(wild, 200, b), clean), 1.0f);
}

// scipy's minimiser of the sum of distances on random colour sets: our minimum is as low.
TEST(StackCombiners, MultivariateMedianMatchesScipy) {
  const char* python = "/usr/bin/python3";
  if (std::system((std::string(python) + " -c 'import scipy.optimize' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "python3-scipy is not installed";
  }
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("zep-mvm-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Random r{7};
  CombineBuffers b;
  const int sets = 12;
  std::vector<Samples> all;
  {
    std::ofstream out(dir / "sets.txt");
    for (int set = 0; set < sets; ++set) {
      Samples s;
      const int n = 4 + set;
      for (int k = 0; k < n; ++k)
        s.push_back(
            fpixel(float(255 * r.uniform()), float(255 * r.uniform()), float(255 * r.uniform())));
      for (const fpixel& p : s) out << p.x << ' ' << p.y << ' ' << p.z << ' ';
      out << '\n';
      all.push_back(s);
    }
  }
  const std::string script =
      "import numpy as np, scipy.optimize as o, sys\n"
      "d = sys.argv[1]\n"
      "with open(d + '/sets.txt') as f, open(d + '/min.txt', 'w') as g:\n"
      "  for line in f:\n"
      "    u = np.array(line.split(), float).reshape(-1, 3)\n"
      "    f_ = lambda p: np.sqrt(((u - p) ** 2).sum(1)).sum()\n"
      "    r = o.minimize(f_, u.mean(0), method='Nelder-Mead', options={'xatol': 1e-9, 'fatol': "
      "1e-12, 'maxiter': 20000})\n"
      "    g.write('%.12g\\n' % r.fun)\n";
  { std::ofstream(dir / "mvm.py") << script; }
  ASSERT_EQ(
      std::system(
          (std::string(python) + " " + (dir / "mvm.py").string() + " " + dir.string()).c_str()),
      0);
  std::ifstream in(dir / "min.txt");
  for (int set = 0; set < sets; ++set) {
    double reference = 0;
    ASSERT_TRUE(in >> reference);
    const fpixel m = CombineMultivariateMedian(all[size_t(set)], 200, b);
    EXPECT_LE(Objective(all[size_t(set)], m.x, m.y, m.z), reference * (1 + 1e-4)) << set;
  }
  std::filesystem::remove_all(dir);
}

// One frame of eight with an occluder: the robust combiners see through it to within
// 2 sigma / sqrt(8) on average; the plain mean shows an eighth of it.
TEST(StackCombiners, AnOccludedFrameDropsOut) {
  CombineBuffers b;
  Random r{2024};
  const float truth = 100, sigma = 4, occluder = 250;
  const int pixels = 2000;
  double median = 0, wmmr = 0, multivariate = 0, mean = 0;
  Samples s(8);
  for (int p = 0; p < pixels; ++p) {
    for (int k = 0; k < 8; ++k) {
      const float v = k == 5 ? occluder : float(truth + sigma * r.gauss());
      s[size_t(k)] = fpixel(v, v, v);
    }
    median += CombineMedian(s, b).x;
    wmmr += CombineWmmr(s, b).x;
    multivariate += CombineMultivariateMedian(s, 200, b).x;
    double sum = 0;
    for (const fpixel& q : s) sum += q.x;
    mean += sum / 8;
  }
  const double bound = 2 * sigma / std::sqrt(8.0);
  EXPECT_NEAR(median / pixels, truth, bound);
  EXPECT_NEAR(wmmr / pixels, truth, bound);
  EXPECT_NEAR(multivariate / pixels, truth, bound);
  EXPECT_NEAR(mean / pixels, truth + (occluder - truth) / 8, bound);
}

namespace {
fpbuffer Grey(int w, int h, const std::vector<float>& values) {
  fpbuffer image(w, h, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < image.n; ++k) image.plane[c].x[k] = values[size_t(k)];
  }
  return image;
}
}  // namespace

TEST(ExposureBlend, HalfBrightnessGainDarkerAboveTheMaximumAndABlackBrighterOne) {
  // The darker exposure is exactly half the brighter: gain 0.5, and the blend is the darker.
  fpbuffer bright(3, 2, cspace::kDefault), dark(3, 2, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 6; ++k) {
      bright.plane[c].x[k] = float(20 + 30 * k + 7 * c);
      dark.plane[c].x[k] = bright.plane[c].x[k] / 2;
    }
  }
  for (float k : {0.5f, 1.0f, 3.0f}) {
    fpbuffer b = bright, out;
    out.blendexposure(dark, b, k);
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(out.plane[c].x[i], dark.plane[c].x[i], 1e-4f) << c << i;
    }
  }
  // A darker pixel above the scaled maximum of the brighter result is taken as it stands.
  fpbuffer brighter = Grey(2, 2, {10, 20, 30, 40}), darker = Grey(2, 2, {5, 10, 15, 90});
  darker.plane[1].x[3] = 77;
  for (float k : {0.2f, 1.0f, 5.0f}) {
    fpbuffer b = brighter, out;
    out.blendexposure(darker, b, k);
    EXPECT_EQ(out.plane[0].x[3], 90);
    EXPECT_EQ(out.plane[1].x[3], 77);
  }
  // A black brighter result: no NaN, the darker exposure whole.
  fpbuffer black = Grey(2, 2, {0, 0, 0, 0}), out;
  out.blendexposure(darker, black, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(std::isnan(out.plane[0].x[i]));
    EXPECT_EQ(out.plane[0].x[i], darker.plane[0].x[i]);
  }
}

using StackFiles = ZepTest;

// A linear bracket of a scene spanning 1 to 10^4, each exposure quantised and clipped to 8
// bits: the merge is proportional to the radiance (log-log slope 1 within 1 %).
TEST_F(StackFiles, ExposureMergeOfALinearBracketIsProportional) {
  const int w = 200, h = 2;
  std::vector<double> radiance(size_t(w * h));
  for (int k = 0; k < w * h; ++k) radiance[size_t(k)] = std::pow(10.0, 4.0 * (k % w) / (w - 1));
  ops::stacking::StackScratch scratch;
  const double times[] = {1, 4, 16, 64, 256, 1024, 4096};
  for (int j = 0; j < 7; ++j) {
    std::vector<float> v(radiance.size());
    for (size_t k = 0; k < v.size(); ++k)
      v[k] = float(std::min(255.0, std::round(radiance[k] * times[j] * 255 / 1e4)));
    ASSERT_FALSE(scratch.WriteRaw(Grey(w, h, v), j));
  }
  fpbuffer merged(w, h, cspace::kDefault);
  ASSERT_EQ(merged.mergeexposures(scratch.files(), 1.0f, false), -1);
  // Least-squares slope of log(result) on log(radiance).
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int count = 0;
  for (int k = 0; k < w * h; ++k) {
    const double v = merged.plane[0].x[k];
    ASSERT_GT(v, 0) << k;
    const double x = std::log(radiance[size_t(k)]), y = std::log(v);
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
    ++count;
  }
  const double slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
  EXPECT_NEAR(slope, 1.0, 0.01);
}

TEST_F(StackFiles, RawFilesRoundTripAndRefuseWhatIsNotTheirSize) {
  fpbuffer image(3, 2, cspace::kDefault);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 6; ++k)
      image.plane[c].x[k] = float(k) + 0.25f * float(c) - 1e-3f * float(k * k);
  }
  const std::string path = (home / "a.frgb").string();
  ASSERT_FALSE(image.writefrgb(path));
  const std::string bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 8u + 12 * 6);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\3\0\0\0\2\0\0\0", 8));
  // Pixel 1 (row 0, column 1), channel 2 at 8 + 12 + 8.
  float v;
  std::memcpy(&v, bytes.data() + 28, 4);
  EXPECT_EQ(v, image.plane[2].x[1]);

  fpbuffer back;
  ASSERT_FALSE(back.readfrgb(path, cspace::kYCbCr | 7, 3, 2));
  EXPECT_EQ(back.code, cspace::kYCbCr | 7);
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 6; ++k) EXPECT_EQ(back.plane[c].x[k], image.plane[c].x[k]);
  }

  // Another size than the stack's, a cut file and a missing one leave the image alone.
  fpbuffer kept = image;
  EXPECT_TRUE(kept.readfrgb(path, cspace::kDefault, 2, 3));
  std::filesystem::resize_file(path, bytes.size() - 4);
  EXPECT_TRUE(kept.readfrgb(path, cspace::kDefault, 3, 2));
  EXPECT_TRUE(kept.readfrgb((home / "none.frgb").string(), cspace::kDefault, 3, 2));
  for (int k = 0; k < 6; ++k) EXPECT_EQ(kept.plane[0].x[k], image.plane[0].x[k]);
  // A file of the right header but a longer body is refused too.
  ASSERT_FALSE(image.writefrgb(path));
  std::ofstream(path, std::ios::app | std::ios::binary) << "xx";
  EXPECT_TRUE(kept.readfrgb(path, cspace::kDefault, 3, 2));
  // An unwritable path says so.
  EXPECT_TRUE(image.writefrgb((home / "no-such-folder" / "b.frgb").string()));
}

// The row driver reads blocks of rows from each file in turn; the result does not depend
// on the block size, and a cut file ends the run with its message.
TEST_F(StackFiles, RowDriverAgreesAcrossBlockSizesAndStopsAtACutFile) {
  const int w = 5, h = 7, n = 5;
  ops::stacking::StackScratch scratch;
  Random r{5};
  for (int k = 0; k < n; ++k) {
    fpbuffer f(w, h, cspace::kDefault);
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < f.n; ++i) f.plane[c].x[i] = float(255 * r.uniform());
    }
    ASSERT_FALSE(scratch.WriteRaw(f, k));
  }
  const std::vector<std::string>& files = scratch.files();
  for (int mode : {1, 2, 3}) {
    SCOPED_TRACE(mode);
    fpbuffer whole(w, h, cspace::kDefault), rows(w, h, cspace::kDefault);
    ops::stacking::CombineRawFiles(whole, files, mode, 200, uint64_t(1) << 30);
    ops::stacking::CombineRawFiles(rows, files, mode, 200, 12 * w * n * 2);  // two rows a block
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < whole.n; ++i) ASSERT_EQ(whole.plane[c].x[i], rows.plane[c].x[i]);
    }
    if (mode == 1) {
      // The middle pixel's red is the median of the five files' reds.
      std::vector<float> reds;
      for (const std::string& f : files) {
        fpbuffer one;
        ASSERT_FALSE(one.readfrgb(f, cspace::kDefault, w, h));
        reds.push_back(one.plane[0].x[17]);
      }
      std::sort(reds.begin(), reds.end());
      EXPECT_EQ(whole.plane[0].x[17], reds[2]);
    }
  }
  std::filesystem::resize_file(files[3], 8 + 12 * w * h - 12);
  ui.ExpectMessage("Aborted because of problem reading this file.");
  fpbuffer out(w, h, cspace::kDefault);
  EXPECT_THROW(ops::stacking::CombineRawFiles(out, files, 1, 200, 1 << 20), Cancelled);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back().caption, files[3]);
}

// The column median takes the same values as the one-pixel median for every count the
// network is cut to (ties included), odd counts being a sample and even ones the mean.
// 29 columns go through a run of sixteen, one of eight and five single columns.
TEST(StackCombiners, ColumnMedianEqualsTheOnePixelMedian) {
  CombineBuffers b;
  Random r{11};
  for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 64, 100, 200}) {
    SCOPED_TRACE(n);
    const int lanes = 29;
    const MedianNetwork net(n);
    std::vector<float> columns(size_t(n) * lanes), out(lanes);
    std::vector<Samples> pixels(lanes, Samples(size_t(n)));
    for (int k = 0; k < n; ++k) {
      for (int i = 0; i < lanes; ++i) {
        // Few levels in some lanes, so that ties at the middle ranks are common.
        const float v = i % 3 ? float(255 * r.uniform()) : float(int(4 * r.uniform()) - 1);
        columns[size_t(k) * lanes + i] = v;
        pixels[size_t(i)][size_t(k)] = fpixel(v, 0, 0);
      }
    }
    MedianColumns(net, columns.data(), lanes, lanes, out.data());
    for (int i = 0; i < lanes; ++i)
      ASSERT_EQ(out[size_t(i)], CombineMedian(pixels[size_t(i)], b).x);
  }
}

// The row driver's median, columns at a time, equals the one-pixel median bit for bit,
// also where a pixel holds NaN or an infinity, and across tiles of a wide row.
TEST_F(StackFiles, RowDriverMedianEqualsTheOnePixelMedian) {
  CombineBuffers b;
  Random r{23};
  const float nan = std::numeric_limits<float>::quiet_NaN(),
              inf = std::numeric_limits<float>::infinity();
  for (int n : {4, 9, 130}) {
    SCOPED_TRACE(n);
    const int w = 131, h = 3;  // 130 frames split the row into tiles of 112 pixels
    ops::stacking::StackScratch scratch;
    std::vector<fpbuffer> frames;
    for (int k = 0; k < n; ++k) {
      fpbuffer f(w, h, cspace::kDefault);
      for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < f.n; ++i) f.plane[c].x[i] = float(int(20 * r.uniform()));
      }
      // NaN in some frames of pixel 5, an infinity in pixel 7, a NaN majority in pixel 125.
      if (k % 3 == 0) f.plane[1].x[5] = nan;
      if (k == 1) f.plane[2].x[7] = -inf;
      if (k % 4 != 1) f.plane[0].x[125] = nan;
      ASSERT_FALSE(scratch.WriteRaw(f, k));
      frames.push_back(std::move(f));
    }
    fpbuffer out(w, h, cspace::kDefault);
    ops::stacking::CombineRawFiles(out, scratch.files(), 1, 200, uint64_t(1) << 30);
    for (int i = 0; i < w * h; ++i) {
      Samples s;
      for (const fpbuffer& f : frames)
        s.emplace_back(f.plane[0].x[i], f.plane[1].x[i], f.plane[2].x[i]);
      const fpixel want = CombineMedian(s, b);
      const float got[3] = {out.plane[0].x[i], out.plane[1].x[i], out.plane[2].x[i]};
      const float expect[3] = {want.x, want.y, want.z};
      ASSERT_EQ(0, std::memcmp(got, expect, sizeof got)) << "pixel " << i;
    }
  }
}
