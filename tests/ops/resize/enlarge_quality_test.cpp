// Enlargement quality: pictures reduced by box area average and enlarged back by every
// method of the harness, PSNR and edge-PSNR on luma against the recorded baseline.
//
// To record the baseline again (only on purpose, after a change meant to alter the
// figures): ZEP_RECORD_ENLARGE_BASELINE=1 ctest -R EnlargeQuality
#include <cmath>
#include <filesystem>
#include <map>

#include "enlarge_harness.h"
#include "fileio/png.h"
#include "support/figure_baseline.h"
#include "support/zep_test.h"

using namespace enlarge;

namespace {

constexpr double kTolerance = 0.05;  // dB

struct Picture {
  std::string name;
  fpbuffer image;
};

// The 96 x 96 centre of a photo of skimage's data folder; a photo that is missing or
// unreadable fails the test.
fpbuffer PhotoCrop(const std::string& file) {
  const std::string path = std::string(ZEP_SKIMAGE_DATA) + "/" + file;
  fpbuffer photo(1, 1, 0x17);
  ImageFileInfo info;
  LoadPng(photo, path, info);
  EXPECT_EQ(info.message, nullptr) << path << ": " << info.text;
  EXPECT_GE(photo.width, 96) << path;
  EXPECT_GE(photo.height, 96) << path;
  if (photo.width < 96 || photo.height < 96) return fpbuffer(96, 96, 0x17);
  photo.crop((photo.width - 96) / 2, (photo.height - 96) / 2, 96, 96);
  return photo;
}

std::vector<Picture> Pictures() {
  std::vector<Picture> p;
  p.push_back({"zone-plate", Grey(ZonePlate(96))});
  p.push_back({"slanted-edge", Grey(SlantedEdge(96, 96, 5.0))});
  p.push_back({"checkerboard", Grey(Checkerboard(96, 12))});
  p.push_back({"blobs", Grey(Blobs(96, 96, {{30.3, 40.6}, {62.8, 57.1}, {47.5, 20.2}}, 3.0))});
  for (const char* photo : {"astronaut", "coffee", "chelsea"}) {
    p.push_back({photo, PhotoCrop(std::string(photo) + ".png")});
  }
  return p;
}

using Key = std::string;  // "picture method factor"

}  // namespace

using EnlargeQualityTest = ZepTest;

TEST_F(EnlargeQualityTest, EveryMethodKeepsItsRecordedFigures) {
  std::map<Key, Quality> measured;
  std::vector<Key> order;
  for (const Picture& p : Pictures()) {
    for (const Method& m : Methods()) {
      for (int f : m.factors) {
        const fpbuffer small = BoxReduce(p.image, f);
        const fpbuffer big = Enlarged(m, small, f);
        ASSERT_EQ(big.width, p.image.width) << m.name << " " << f;
        ASSERT_EQ(big.height, p.image.height) << m.name << " " << f;
        const Key key = p.name + " " + m.name + " " + std::to_string(f);
        measured[key] = Measure(big, p.image, f);
        order.push_back(key);
        if (m.name == "pinv-box") {
          // Matched to the degradation, the enlargement reduces back to its input.
          for (int c = 0; c < 3; ++c) {
            matrix back = BoxReduce(big.plane[c], f);
            back.sub(small.plane[c]);
            EXPECT_LT(std::sqrt(back.sumsq() / back.n), 0.5) << key << " " << c;
          }
        }
      }
    }
  }

  FigureRows rows;
  for (const Key& key : order) rows[key] = {measured[key].psnr, measured[key].edgePsnr};
  if (CheckFigureBaseline(ZEP_ENLARGE_BASELINE, "ZEP_RECORD_ENLARGE_BASELINE",
                          "picture method factor psnr edge-psnr (dB, luma, 2f border left out)",
                          order, rows, {"PSNR", "edge PSNR"}, kTolerance)) {
    GTEST_SKIP() << "baseline recorded in " << ZEP_ENLARGE_BASELINE;
  }

  // Data-dependent Lanczos of order 3 keeps edges at least as well as bicubic: on the
  // slanted edge, and on average over the photos.
  for (int f : {2, 4}) {
    const std::string fs = " " + std::to_string(f);
    EXPECT_GE(measured["slanted-edge ddl3" + fs].edgePsnr,
              measured["slanted-edge bicubic" + fs].edgePsnr)
        << f;
    double ddl = 0, bicubic = 0;
    for (const char* photo : {"astronaut", "coffee", "chelsea"}) {
      ddl += measured[photo + std::string(" ddl3") + fs].edgePsnr;
      bicubic += measured[photo + std::string(" bicubic") + fs].edgePsnr;
    }
    EXPECT_GE(ddl, bicubic) << f;

    // Back-projection with the reduction that made the input gains at least half a
    // decibel over Lanczos-3, on the slanted edge and on average over the photos; the
    // Jensen model sharpens the slanted edge beyond bicubic.
    for (const char* core : {" bpddl-box", " bpxl-box"}) {
      double bp = 0, lanczos = 0;
      for (const char* photo : {"astronaut", "coffee", "chelsea"}) {
        bp += measured[photo + std::string(core) + fs].psnr / 3;
        lanczos += measured[photo + std::string(" lanczos3") + fs].psnr / 3;
      }
      EXPECT_GE(bp, lanczos + 0.5) << core << f;
      EXPECT_GE(measured["slanted-edge" + std::string(core) + fs].psnr,
                measured["slanted-edge lanczos3" + fs].psnr + 0.5)
          << core << f;
    }
    for (const char* jensen : {" jddl", " bpjddl-box", " jxl"}) {
      EXPECT_GE(measured["slanted-edge" + std::string(jensen) + fs].edgePsnr,
                measured["slanted-edge bicubic" + fs].edgePsnr)
          << jensen << f;
    }
    // Jensen-Xin Li keeps the edge at least as well as its Xin Li partner alone.
    EXPECT_GE(measured["slanted-edge jxl" + fs].edgePsnr,
              measured["slanted-edge xinli" + fs].edgePsnr)
        << f;
  }

  // The pseudo-inverse matched to the degradation beats Lanczos-3 by half a decibel, on
  // average over the pictures.
  const std::vector<Picture> pictures = Pictures();
  for (int f : {2, 3, 4}) {
    double pinv = 0, lanczos = 0;
    for (const Picture& p : pictures) {
      pinv += measured[p.name + " pinv-box " + std::to_string(f)].psnr;
      lanczos += measured[p.name + " lanczos3 " + std::to_string(f)].psnr;
    }
    const double count = double(pictures.size());
    EXPECT_GE(pinv / count, lanczos / count + 0.5) << f;
  }

  // Both Xin Li models keep edges at least as well as bicubic, the same two ways.
  for (const char* xinli : {" xinli", " xinli12"}) {
    for (int f : {2, 4}) {
      const std::string fs = " " + std::to_string(f);
      EXPECT_GE(measured["slanted-edge" + std::string(xinli) + fs].edgePsnr,
                measured["slanted-edge bicubic" + fs].edgePsnr)
          << xinli << f;
      double ours = 0, bicubic = 0;
      for (const char* photo : {"astronaut", "coffee", "chelsea"}) {
        ours += measured[photo + std::string(xinli) + fs].edgePsnr;
        bicubic += measured[photo + std::string(" bicubic") + fs].edgePsnr;
      }
      EXPECT_GE(ours, bicubic) << xinli << f;
    }
  }
}

TEST_F(EnlargeQualityTest, MatchedBackProjectionReproducesTheInput) {
  // Enlarged and reduced again by the same box, the result gives back the input to within
  // half a level.
  for (const Picture& p : Pictures()) {
    for (int f : {2, 4}) {
      const fpbuffer small = BoxReduce(p.image, f);
      for (bool xinli : {false, true}) {
        fpbuffer big = small;
        StartProgress(1e9f);
        if (xinli) {
          bpxl(big, 0, Refine(0), false, 0, XinLiModel{}, Doublings(f), nullptr);
        } else {
          bpddl(big, 0, Refine(0), false, 0, 3, Doublings(f), false, nullptr);
        }
        const fpbuffer again = BoxReduce(big, f);
        for (int c = 0; c < 3; ++c) {
          matrix d = again.plane[c];
          d.sub(small.plane[c]);
          EXPECT_LT(std::sqrt(d.sumsq() / d.n), 0.5) << p.name << " " << f << " " << xinli << c;
        }
      }
    }
  }
}
