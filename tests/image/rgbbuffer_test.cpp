#include "image/rgbbuffer.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/errors.h"
#include "platform/programdir.h"
#include "platform/progress.h"
#include "support/zep_test.h"

using RgbbufferTest = ZepTest;

TEST_F(RgbbufferTest, PaddingAndBottomUpLayout) {
  EXPECT_EQ(GetRowPadding24(5), 1);
  EXPECT_EQ(GetRowStride24(5), 16);
  EXPECT_EQ(GetRowPadding24(4), 0);
  EXPECT_EQ(GetRowStride24(4), 12);
  EXPECT_EQ(GetDibBytes24(3, 2), 24);

  // A 3x2 image: bottom row first in memory, blue-green-red, 3 padding bytes per row.
  fpbuffer f(3, 2, 0x17);
  for (int k = 0; k < 6; ++k) {
    f.plane[0].x[k] = float(10 * k + 1);
    f.plane[1].x[k] = float(10 * k + 2);
    f.plane[2].x[k] = float(10 * k + 3);
  }
  DisplayBitmap out(3, 2);
  f.todib(out.toprow());
  const uint8_t expected[24] = {3,  2,  1,  13, 12, 11, 23, 22, 21, 0, 0, 0,
                                33, 32, 31, 43, 42, 41, 53, 52, 51, 0, 0, 0};
  EXPECT_EQ(std::memcmp(out.data(), expected, 24), 0);

  rgbbuffer wrap(out.toprow(), 3, 2);
  EXPECT_EQ(wrap.bytes, 0);
  EXPECT_EQ(wrap.at(1, 1).r, 41);
  wrap.fill(0x123456);
  EXPECT_EQ(out.row(0)[0], 0x56);
  EXPECT_EQ(out.row(0)[1], 0x34);
  EXPECT_EQ(out.row(0)[2], 0x12);
  EXPECT_EQ(out.row(0)[9], 0);  // padding untouched
}

TEST_F(RgbbufferTest, RawScratchFileRoundTrip) {
  rgbbuffer a(5, 3);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 5; ++i) a.at(i, j) = bytepixel{uint8_t(i), uint8_t(j), uint8_t(i + j)};
  }
  for (int j = 0; j < 3; ++j) a.rows[size_t(j)][15] = 0;
  a.write("cimage.temp");
  EXPECT_EQ(std::filesystem::file_size(ScratchPath("cimage.temp")), 48u);
  rgbbuffer b(5, 3);
  b.read("cimage.temp");
  EXPECT_EQ(std::memcmp(a.bits, b.bits, 48), 0);

  rgbbuffer wrong(4, 3);
  wrong.fill(0x010203);
  EXPECT_THROW(wrong.read("cimage.temp"), TextException);  // another size
  EXPECT_EQ(wrong.at(0, 0).b, 3);
  try {
    b.read("missing.temp");
    FAIL();
  } catch (const TextException& e) {
    EXPECT_STREQ(e.what(), "PROBLEM OPENING FILE FOR READING!");
  }
}

TEST_F(RgbbufferTest, BlendAndDifference) {
  rgbbuffer a(2, 1), b(2, 1);
  a.fill(0x0A0A0A);
  b.fill(0x141E28);
  a.blend(b, 0.5f);
  EXPECT_EQ(a.at(0, 0).b, 25);
  EXPECT_EQ(a.at(0, 0).g, 20);
  EXPECT_EQ(a.at(1, 0).r, 15);
  a.absdiff(b);
  EXPECT_EQ(a.at(0, 0).b, 15);
  EXPECT_EQ(a.at(0, 0).r, 5);
}

TEST_F(RgbbufferTest, LinesStepAlongTheLongerAxisAndSkipWhatFallsOutside) {
  const uint32_t red = 0xFF0000;
  const auto drawn = [&](int x0, int y0, int x1, int y1) {
    rgbbuffer b(6, 5);
    b.fill(0);
    b.line(x0, y0, x1, y1, red);
    std::string rows;  // top row first, '#' where the line is
    for (int j = b.height - 1; j >= 0; --j) {
      for (int i = 0; i < b.width; ++i) rows += b.at(i, j).r == 255 ? '#' : '.';
      rows += '/';
    }
    return rows;
  };
  struct Case {
    const char* name;
    int x0, y0, x1, y1;
    const char* rows;
  };
  const Case cases[] = {
      // y = 0.4 x: 0, 0.4, 0.8, 1.2, 1.6, 2 plus 0.5, truncated.
      {"shallow", 0, 0, 5, 2, "....../....../....##/..##../##..../"},
      {"steep, drawn downwards", 1, 4, 2, 0, ".#..../.#..../..#.../..#.../..#.../"},
      {"backwards", 4, 1, 1, 1, "....../....../....../.####./....../"},
      {"ends outside", -3, 2, 8, 2, "....../....../######/....../....../"},
      {"equal ends", 2, 2, 2, 2, "....../....../....../....../....../"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(drawn(c.x0, c.y0, c.x1, c.y1), c.rows);
  }
  rgbbuffer b(2, 1);
  b.fill(0);
  b.line(0, 0, 1, 0, 0x123456);
  EXPECT_EQ(b.at(1, 0).r, 0x12);
  EXPECT_EQ(b.at(1, 0).g, 0x34);
  EXPECT_EQ(b.at(1, 0).b, 0x56);
}
