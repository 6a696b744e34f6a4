// The degradation operators: every pair is an exact transpose at any size, the worked
// examples, constants stay constant, and the blurs agree with scipy.ndimage.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "numeric/border.h"
#include "ops/filters/degradation.h"
#include "platform/format.h"
#include "support/adjoint.h"
#include "support/zep_test.h"

namespace {
const char* const kTypeNames[] = {"Identity", "Lens Blur", "Gaussian", "Uniform",
                                  "Decimate", "Box",       "Lanczos3", "Lanczos2",
                                  "Bilinear", "Lanczos15", "Custom",   "Bicubic"};

class DegradationTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    saved = CurrentPsfParameters();
    // Uneven custom kernels, so that a transposed pass that mirrored a kernel would show.
    row = matrix(3, 1);
    row.x[0] = 0.2f, row.x[1] = 0.5f, row.x[2] = 0.3f;
    column = matrix(5, 1);
    const float c[] = {0.1f, -0.2f, 0.6f, 0.3f, 0.2f};
    for (int i = 0; i < 5; ++i) column.x[i] = c[i];
    SetDiscRadius(3);
    SetGaussianSigmas(1.3f, 0.8f);
    SetUniformSize(4, 3);
    SetBicubicParameter(-0.5f);
    SetCustomKernels(&row, &column);
  }
  void TearDown() override {
    CurrentPsfParameters() = saved;
    ZepTest::TearDown();
  }

  PsfParameters saved;
  matrix row, column;
};

matrix Apply(LinearOp op, const matrix& in, PlaneSize outSize) {
  matrix out(outSize.first, outSize.second);
  return op(out, in);
}

::testing::AssertionResult PairIsTransposed(const PsfPair& pair, PlaneSize in, PlaneSize out) {
  return CheckAdjoint([&](const matrix& u) { return PlaneStack{Apply(pair.forward, u, out)}; },
                      [&](const PlaneStack& v) { return Apply(pair.adjoint, v[0], in); }, in,
                      {out});
}

matrix Filled(int w, int h, float (*f)(int x, int y)) {
  matrix m(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) m.z[y][x] = f(x, y);
  }
  return m;
}

float Busy(int x, int y) { return float((x * 7919 + y * 104729) % 251) - 100.0f + 0.25f * x; }

double MaxDifference(const matrix& a, const matrix& b) {
  double d = 0;
  for (int k = 0; k < a.n; ++k) d = std::max(d, std::fabs(double(a.x[k]) - b.x[k]));
  return d;
}
}  // namespace

TEST_F(DegradationTest, EveryPairIsTheTransposeOfItsOperatorAtAnySize) {
  const std::vector<PlaneSize> sizes = {{31, 29}, {33, 27}, {62, 58}, {1, 1},
                                        {2, 3},   {5, 4},   {1, 9}};
  for (int type = 0; type < 12; ++type) {
    const PsfPair pair = PsfOperators(type);
    for (const PlaneSize& s : sizes) {
      if (!pair.decimating) {
        EXPECT_TRUE(PairIsTransposed(pair, s, s))
            << kTypeNames[type] << " " << s.first << "x" << s.second;
        continue;
      }
      for (int f : {2, 3}) {
        const PlaneSize large{f * s.first, f * s.second};
        EXPECT_TRUE(PairIsTransposed(pair, large, s))
            << kTypeNames[type] << " f " << f << " onto " << s.first << "x" << s.second;
      }
    }
  }
}

TEST_F(DegradationTest, AFactorThatDoesNotDivideTheWidthComesFromTheSlotAndFoldsAtTheEnd) {
  SetDecimationFactor(2);
  // 101 columns at f 2 give 51; 5 x 4 at f 2 give 3 x 2 (the last windows fold back).
  const std::vector<std::pair<PlaneSize, PlaneSize>> cases = {{{101, 7}, {51, 4}},
                                                              {{5, 4}, {3, 2}}};
  for (int type : {4, 5, 6, 7, 8, 9, 11}) {
    for (const auto& [large, small] : cases) {
      EXPECT_TRUE(PairIsTransposed(PsfOperators(type), large, small)) << kTypeNames[type];
    }
  }
  EXPECT_EQ(DecimationFactor(101, 51), 2);
  EXPECT_EQ(DecimationFactor(99, 33), 3);  // an exact quotient wins over the slot
  // The window of the last output starts at 100 - 1 and folds: columns 99, 100, 99, 98.
  matrix in = Filled(101, 2, [](int x, int) { return float(x); }), out(51, 1);
  PsfBilinearDecimate(out, in);
  EXPECT_NEAR(out.x[50], 0.125 * 99 + 0.375 * 100 + 0.375 * 99 + 0.125 * 98, 1e-4);
}

TEST_F(DegradationTest, WorkedExamples) {
  const matrix busy = Filled(9, 9, Busy);
  {
    SCOPED_TRACE("Lens Blur of radius 1 is the 3 x 3 mean");
    SetDiscRadius(1);
    matrix out(9, 9), mean(9, 9);
    PsfLensBlur(out, busy);
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 9; ++x) {
        double s = 0;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx)
            s += busy.z[ReflectWhole(y + dy, 9)][ReflectWhole(x + dx, 9)];
        }
        mean.z[y][x] = float(s / 9);
      }
    }
    EXPECT_LT(MaxDifference(out, mean), 1e-4);
  }
  {
    SCOPED_TRACE("Gaussian 0 x 1 blurs the columns with five taps only");
    SetGaussianSigmas(0.0f, 1.0f);
    EXPECT_EQ(GaussianPsfKernel(1.0f).n, 5);
    matrix out(9, 9), expected(9, 9);
    PsfGaussian(out, busy);
    double taps[5], sum = 0;
    for (int k = 0; k < 5; ++k) sum += taps[k] = std::exp(-0.5 * (k - 2) * (k - 2));
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 9; ++x) {
        double s = 0;
        for (int k = 0; k < 5; ++k) s += taps[k] / sum * busy.z[ReflectWhole(y + k - 2, 9)][x];
        expected.z[y][x] = float(s);
      }
    }
    EXPECT_LT(MaxDifference(out, expected), 1e-4);
  }
  {
    SCOPED_TRACE("Kernels: uniform 4, bilinear at f 2");
    const std::vector<float> uniform = {0.125f, 0.25f, 0.25f, 0.25f, 0.125f};
    const matrix u = UniformPsfKernel(4);
    EXPECT_EQ(std::vector<float>(u.x, u.x + u.n), uniform);
    const matrix b = DecimationKernel(8, 2);
    EXPECT_EQ(std::vector<float>(b.x, b.x + b.n),
              (std::vector<float>{0.125f, 0.375f, 0.375f, 0.125f}));
    // Output j of a row reads columns 2j - 1 ... 2j + 2.
    const matrix squares = Filled(10, 2, [](int x, int) { return float(x * x); });
    matrix out(5, 1);
    PsfBilinearDecimate(out, squares);
    for (int j = 0; j < 5; ++j) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += b.x[k] * std::pow(ReflectWhole(2 * j - 1 + k, 10), 2);
      EXPECT_NEAR(out.x[j], s, 1e-4) << j;
    }
  }
  {
    SCOPED_TRACE("Lanczos3 at f 1 is the identity");
    matrix out(9, 9);
    PsfLanczos3Decimate(out, busy);
    EXPECT_LT(MaxDifference(out, busy), 1e-4);
  }
  {
    SCOPED_TRACE("Decimate by 3 picks rows and columns 1, 4, 7");
    matrix out(3, 3);
    PsfDecimate(out, busy);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_EQ(out.z[i][j], busy.z[1 + 3 * i][1 + 3 * j]);
    }
  }
}

TEST_F(DegradationTest, AConstantPlaneStaysConstant) {
  // A disc wider than the plane too: every window folds back onto real samples.
  for (const PlaneSize& s : std::vector<PlaneSize>{{13, 11}, {3, 2}}) {
    for (int type = 0; type < 12; ++type) {
      if (type == 10) continue;  // the custom test kernel does not sum to 1
      const PsfPair pair = PsfOperators(type);
      const int f = pair.decimating ? 2 : 1;
      const matrix in = matrix(f * s.first, f * s.second).fill(100.0f);
      const matrix out = Apply(pair.forward, in, s);
      for (int k = 0; k < out.n; ++k) {
        ASSERT_NEAR(out.x[k], 100.0f, 1e-3)
            << kTypeNames[type] << " " << s.first << "x" << s.second;
      }
    }
  }
}

TEST_F(DegradationTest, BlursAgreeWithScipyMirrorCorrelation) {
  if (std::system("/usr/bin/python3 -c 'import scipy.ndimage' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-scipy missing";
  }
  const std::filesystem::path script =
      std::filesystem::path(ZEP_SOURCE_DIR) / "tests/ops/filters/psf_oracle.py";
  const int nx = 37, ny = 23;
  const matrix plane = Filled(nx, ny, Busy);
  const std::filesystem::path in = home / "plane.raw", out = home / "oracle.raw";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(plane.x), std::streamsize(plane.n * 4));
  auto oracle = [&](const std::string& args) {
    const std::string command = "/usr/bin/python3 '" + script.string() + "' '" + in.string() +
                                "' '" + out.string() + "' " + std::to_string(nx) + " " +
                                std::to_string(ny) + " " + args;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    matrix m(nx, ny);
    std::ifstream(out, std::ios::binary)
        .read(reinterpret_cast<char*>(m.x), std::streamsize(m.n * 4));
    return m;
  };
  auto taps = [](const matrix& k) {
    std::string t;
    for (int i = 0; i < k.n; ++i) t += (i ? "," : "") + Format("%.9g", double(k.x[i]));
    return t;
  };
  const double scale = 1e-5 * 255;  // the values span about 255
  SetGaussianSigmas(1.5f, 0.7f);
  matrix ours(nx, ny);
  PsfGaussian(ours, plane);
  EXPECT_LT(MaxDifference(ours, oracle("separable " + taps(GaussianPsfKernel(0.7f)) + " " +
                                       taps(GaussianPsfKernel(1.5f)))),
            scale);
  for (int r : {2, 3, 5}) {
    SetDiscRadius(r);
    PsfLensBlur(ours, plane);
    EXPECT_LT(MaxDifference(ours, oracle("disc " + std::to_string(r))), scale) << "radius " << r;
  }
}
