// Lanczos-3 reduction beside an independent implementation: ImageMagick's convert, which
// the test command installs. Both read and write the same float samples; the test is
// skipped where /usr/bin/convert is missing.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "numeric/resample.h"
#include "support/zep_test.h"

using ResamplePeerTest = ZepTest;

namespace {
constexpr int kSide = 512;

// A test picture on the 0..1 scale: gratings of several frequencies and directions up to
// close to the sampling limit, a soft disc and two hard-edged rectangles, all kept within
// 0.1 .. 0.9 so that ringing never reaches the ends of the peer's integer range.
std::vector<float> Picture() {
  std::vector<float> v(size_t(kSide) * kSide);
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x) {
      double p = 0.5;
      p += 0.06 * std::sin(0.05 * x + 0.03 * y);
      p += 0.05 * std::sin(0.9 * x) * std::cos(0.21 * y);
      p += 0.04 * std::sin(2.3 * x + 1.9 * y);
      p += 0.05 * std::exp(-(std::pow(x - 300.0, 2) + std::pow(y - 200.0, 2)) / 2000.0);
      if (x > 60 && x < 180 && y > 300 && y < 420) p += 0.12;
      if (x > 350 && x < 470 && y > 40 && y < 90) p -= 0.12;
      v[size_t(y) * kSide + size_t(x)] = float(p);
    }
  }
  return v;
}
}  // namespace

TEST_F(ResamplePeerTest, LanczosHalvingMatchesImageMagick) {
  if (!std::filesystem::exists("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
  const std::vector<float> picture = Picture();
  const std::filesystem::path in = home / "picture.raw", out = home / "half.raw";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(picture.data()), std::streamsize(picture.size() * 4));
  const std::string command =
      "/usr/bin/convert -size 512x512 -depth 32 -define quantum:format=floating-point "
      "-endian LSB gray:'" +
      in.string() +
      "' -filter Lanczos -resize 50% -depth 32 -define quantum:format=floating-point "
      "-endian LSB gray:'" +
      out.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<float> peer(256 * 256);
  std::ifstream(out, std::ios::binary)
      .read(reinterpret_cast<char*>(peer.data()), std::streamsize(peer.size() * 4));

  matrix plane(kSide, kSide), kx, ky, half;
  for (int k = 0; k < plane.n; ++k) plane.x[k] = picture[size_t(k)] * 255.0f;
  BuildLanczosKernelForScale(kx, 3, kSide, 0.5, 0.0f, true);
  BuildLanczosKernelForScale(ky, 3, kSide, 0.5, 0.0f, true);
  ResampleSeparable(half, plane, kx, ky);
  ASSERT_EQ(half.nx, 256);
  ASSERT_EQ(half.ny, 256);

  double squares = 0;
  int count = 0;
  for (int y = 9; y < 256 - 9; ++y) {
    for (int x = 9; x < 256 - 9; ++x) {
      const double d = half.z[y][x] - peer[size_t(y) * 256 + size_t(x)] * 255.0;
      squares += d * d;
      ++count;
    }
  }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (squares / count));
  RecordProperty("psnr_db", std::to_string(psnr));
  // Measured here: about 105 dB over the interior, the peer's 16-bit samples being the only difference.
  EXPECT_GT(psnr, 50.0) << "PSNR " << psnr << " dB";
}
