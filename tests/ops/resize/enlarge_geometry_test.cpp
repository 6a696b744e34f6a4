// Where the enlargements put things: a blob must land where the centred grid maps it.
#include "enlarge_harness.h"
#include "support/zep_test.h"

using EnlargeGeometryTest = ZepTest;
using namespace enlarge;

namespace {
// The source position of an output position on the centred grid of factor f.
double Back(double x, int f) { return (x + 0.5) / f - 0.5; }
}  // namespace

TEST_F(EnlargeGeometryTest, DdlDoublingsLandOnTheCentredGridWithTurnAndRecentring) {
  const matrix blob = Blobs(40, 36, {{20.3, 17.7}}, 1.5);
  const auto [sx, sy] = Centroid(blob);
  for (int k = 1; k <= 3; ++k) {
    const int f = 1 << k;
    for (bool recentre : {true, false}) {
      matrix in = blob, out;
      bytemaps maps;
      StartProgress(1e9f);
      out.DdlEnlarge(in, 3, k, true, recentre, false, false, maps, true);
      const auto [x, y] = Centroid(out);
      // With the turn alone the picture sits half an output sample back.
      const double offset = recentre ? 0 : -0.5 / f;
      EXPECT_NEAR(Back(x, f), sx + offset, 0.02) << k << " " << recentre;
      EXPECT_NEAR(Back(y, f), sy + offset, 0.02) << k << " " << recentre;
    }
  }
}

TEST_F(EnlargeGeometryTest, MbsIsCentred) {
  const fpbuffer blob = Grey(Blobs(40, 36, {{20.3, 17.7}}, 1.5));
  const auto [sx, sy] = Centroid(blob.plane[0]);
  for (int f : {3, 5}) {
    fpbuffer image = blob;
    StartProgress(1e9f);
    mbs(image, 0, f, false);
    const auto [x, y] = Centroid(image.plane[0]);
    EXPECT_NEAR(Back(x, f), sx, 0.05) << f;
    EXPECT_NEAR(Back(y, f), sy, 0.05) << f;
  }
}

TEST_F(EnlargeGeometryTest, PseudoInverseAndNewDdlAreCentred) {
  const fpbuffer blob = Grey(Blobs(40, 36, {{20.3, 17.7}}, 1.5));
  const auto [sx, sy] = Centroid(blob.plane[0]);
  for (const Method& m : Methods()) {
    if (m.name != "newddl" && m.name != "pinv-lanczos3") continue;
    for (int f : m.factors) {
      const fpbuffer image = Enlarged(m, blob, f);
      const auto [x, y] = Centroid(image.plane[0]);
      EXPECT_NEAR(Back(x, f), sx, 0.05) << m.name << " " << f;
      EXPECT_NEAR(Back(y, f), sy, 0.05) << m.name << " " << f;
    }
  }
}

TEST_F(EnlargeGeometryTest, XinLiSitsHalfAnOutputSampleOffTheCentredGrid) {
  // Input sample i lands on 2^k i: half an output sample before the centred grid's place.
  const fpbuffer blob = Grey(Blobs(40, 36, {{20.3, 17.7}}, 1.5));
  const auto [sx, sy] = Centroid(blob.plane[0]);
  for (bool twelve : {false, true}) {
    for (int k = 1; k <= 2; ++k) {
      const int f = 1 << k;
      fpbuffer image = blob;
      StartProgress(1e9f);
      image.xinli(1, 8, 0, 0, 0, k, true, 1.5f, twelve);
      const auto [x, y] = Centroid(image.plane[0]);
      EXPECT_NEAR(Back(x, f), sx - 0.5 / f, 0.02) << twelve << " " << k;
      EXPECT_NEAR(Back(y, f), sy - 0.5 / f, 0.02) << twelve << " " << k;
    }
  }
}
