#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "image/fpbuffer.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;
using FdibTest = ZepTest;

namespace {
fpbuffer Sample(int w, int h, CSpaceCode code = 0x17) {
  fpbuffer f(w, h, code);
  for (int c = 0; c < f.channels; ++c) f.plane[c].ramp(0.25f + c, 1.5f);
  return f;
}
std::string Words(std::initializer_list<uint32_t> words) {
  std::string s;
  for (uint32_t w : words) s.append(reinterpret_cast<const char*>(&w), 4);
  return s;
}
}  // namespace

TEST_F(FdibTest, LayoutAndMaskWordCounts) {
  fpbuffer f = Sample(3, 2);
  ASSERT_FALSE(f.write("plain.fdib", true));
  const std::string bytes = ReadBytes(ScratchPath("plain.fdib"));
  ASSERT_EQ(bytes.size(), 88u);
  EXPECT_EQ(bytes.substr(0, 16), Words({3, 2, 0x17, 0}));
  EXPECT_EQ(std::memcmp(bytes.data() + 16, f.plane[0].x, 24), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 64, f.plane[2].x, 24), 0);

  f.clearmask();
  f.mask.setbit(5, true);
  ASSERT_FALSE(f.write("masked.fdib", true));
  const std::string masked = ReadBytes(ScratchPath("masked.fdib"));
  ASSERT_EQ(masked.size(), 92u);
  EXPECT_EQ(masked.substr(12, 4), Words({1}));
  EXPECT_EQ(masked.substr(88, 4), Words({0x20}));

  for (int w : {32, 33}) {
    fpbuffer m = Sample(w, 1);
    m.clearmask();
    ASSERT_FALSE(m.write("w.fdib", true));
    EXPECT_EQ(ReadBytes(ScratchPath("w.fdib")).size(), size_t(16 + 12 * w + 4 * (w == 32 ? 1 : 2)));
  }
}

TEST_F(FdibTest, RoundTripKeepsValuesCodeAndMask) {
  fpbuffer f = Sample(5, 3, 0x2000 | 5);  // CMYK, four planes, some channels hidden
  f.plane[3].x[2] = std::nanf("");
  f.clearmask();
  f.mask.setbit(0, true);
  f.mask.setbit(14, true);
  ASSERT_FALSE(f.write("ZEP3.FDIB", true));
  EXPECT_TRUE(fs::exists(home / "ZEP3.FDIB"));  // slots live in the program directory

  fpbuffer g = Sample(2, 2);
  ASSERT_FALSE(g.read("ZEP3.FDIB", true));
  EXPECT_EQ(g.code, f.code);
  EXPECT_EQ(g.channels, 4);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(std::memcmp(g.plane[c].x, f.plane[c].x, 15 * sizeof(float)), 0) << c;
    EXPECT_EQ(g.view[c].x, g.plane[c].x);
  }
  ASSERT_TRUE(g.mask.present());
  EXPECT_TRUE(g.mask.getbit(14));
  EXPECT_FALSE(g.mask.getbit(13));

  fpbuffer h = Sample(5, 3);
  h.clearmask();
  ASSERT_FALSE(h.read("ZEP3.FDIB", true));
  ASSERT_FALSE(Sample(5, 3).write("nomask.fdib", true));
  ASSERT_FALSE(h.read("nomask.fdib", true));
  EXPECT_FALSE(h.mask.present());  // a file without a mask empties the image's mask
}

TEST_F(FdibTest, BadFilesLeaveTheImage) {
  const std::string header = Words({3, 2, 0x17, 0});
  const std::string planes(72, '\0');
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"short planes", header + planes.substr(0, 70)},
      {"short header", header.substr(0, 10)},
      {"mask promised, missing", Words({3, 2, 0x17, 1}) + planes},
      {"negative size", Words({uint32_t(-3), 2, 0x17, 0}) + planes},
      {"huge size", Words({100000, 100000, 0x17, 0}) + planes},
      {"huge but within int", Words({40000, 40000, 0x17, 0}) + planes},
      {"negative height", Words({3, uint32_t(-2), 0x17, 0}) + planes},
      {"zero width", Words({0, 2, 0x17, 0})},
      {"two colour spaces", Words({3, 2, 0x17 | 0x20000, 0}) + planes},
      {"no colour space", Words({3, 2, 0x7, 0}) + planes},
      {"mask word count off", Words({3, 2, 0x17, 2}) + planes + std::string(8, '\0')},
      {"trailing bytes", header + planes + "x"},
  };
  for (const Case& c : cases) {
    std::ofstream(ScratchPath("bad.fdib"), std::ios::binary) << c.bytes;
    fpbuffer f = Sample(4, 4);
    const float before = f.plane[1].x[7];
    EXPECT_TRUE(f.read("bad.fdib", true)) << c.name;
    EXPECT_EQ(f.width, 4) << c.name;
    EXPECT_EQ(f.plane[1].x[7], before) << c.name;
  }
  fpbuffer f = Sample(4, 4);
  EXPECT_TRUE(f.read("never-stored.fdib", true));
}

TEST_F(FdibTest, AddAndSubtractStored) {
  fpbuffer f = Sample(4, 3);
  ASSERT_FALSE(f.write("ZEP1.FDIB", true));
  const fpbuffer original(f);
  ASSERT_FALSE(f.addstored("ZEP1.FDIB", true));
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < 12; ++k) EXPECT_EQ(f.plane[c].x[k], 2 * original.plane[c].x[k]);
  }
  ASSERT_FALSE(f.subtractstored("ZEP1.FDIB", true));
  for (int k = 0; k < 12; ++k) EXPECT_EQ(f.plane[1].x[k], original.plane[1].x[k]);

  fpbuffer other = Sample(3, 4);
  const fpbuffer before(other);
  EXPECT_TRUE(other.addstored("ZEP1.FDIB", true));
  EXPECT_EQ(std::memcmp(other.plane[0].x, before.plane[0].x, 12 * sizeof(float)), 0);

  fpbuffer::removeseries("Wavelet", 2);  // missing files are no error
  ASSERT_FALSE(f.write("Wavelet1.fdib", true));
  fpbuffer::removeseries("Wavelet", 2);
  EXPECT_FALSE(fs::exists(ScratchPath("Wavelet1.fdib")));
}
