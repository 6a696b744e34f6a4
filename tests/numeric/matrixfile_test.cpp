#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "numeric/matrix.h"
#include "platform/errors.h"
#include "platform/programdir.h"
#include "support/zep_test.h"

namespace fs = std::filesystem;
using MatFileTest = ZepTest;

namespace {
matrix Ramp(int w, int h, float start = 0.5f) {
  matrix m(w, h);
  m.ramp(start, 1.0f);
  return m;
}
void WriteRaw(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}
std::string Header(int32_t a, int32_t b, int32_t c) {
  std::string s(12, '\0');
  std::memcpy(s.data(), &a, 4);
  std::memcpy(s.data() + 4, &b, 4);
  std::memcpy(s.data() + 8, &c, 4);
  return s;
}
}  // namespace

TEST_F(MatFileTest, LayoutIsHeaderThenRowMajorFloats) {
  matrix m = Ramp(3, 2);  // 0.5 .. 5.5
  m.write("plane.mat");
  const std::string bytes = ReadBytes(ScratchPath("plane.mat"));
  ASSERT_EQ(bytes.size(), 36u);
  std::string expected = Header(3, 2, 6);
  for (int k = 0; k < 6; ++k) {
    const float v = 0.5f + k;
    expected.append(reinterpret_cast<const char*>(&v), 4);
  }
  EXPECT_EQ(bytes, expected);
  // Float 0.5 is 0x3F000000, little-endian.
  EXPECT_EQ(bytes.substr(12, 4), std::string("\x00\x00\x00\x3f", 4));
}

TEST_F(MatFileTest, ReadReshapesOrKeepsTheBlock) {
  Ramp(3, 2).write("plane.mat");
  matrix other(2, 3);
  other.read("plane.mat");
  EXPECT_EQ(other.nx, 3);
  EXPECT_EQ(other.ny, 2);
  EXPECT_EQ(other.z[1][2], 5.5f);

  matrix factored = Ramp(3, 3);
  factored.lu();
  matrix same(3, 2);
  same.copydata(factored);  // takes the ip block along: same width
  const int32_t* pivots = same.ip;
  const float* block = same.x;
  same.read("plane.mat");
  EXPECT_EQ(same.ip, pivots);
  EXPECT_EQ(same.x, block);
  EXPECT_EQ(same.x[0], 0.5f);
}

TEST_F(MatFileTest, RemoveAfterReadAndMissingFiles) {
  Ramp(2, 2).write("t.mat");
  matrix m;
  m.read("t.mat", true);
  EXPECT_EQ(m.n, 4);
  EXPECT_FALSE(fs::exists(ScratchPath("t.mat")));

  matrix kept = Ramp(2, 2, 7.0f);
  try {
    kept.read("t.mat");
    FAIL() << "no exception";
  } catch (const TextException& e) {
    EXPECT_STREQ(e.what(), "PROBLEM OPENING FILE FOR READING!");
  }
  EXPECT_EQ(kept.x[0], 7.0f);
  EXPECT_NE(matrix::remove("does-not-exist.mat"), 0);
}

TEST_F(MatFileTest, BadFilesAreRejectedAndLeaveThePlane) {
  const std::string sixFloats(24, '\0');
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"truncated elements", Header(3, 2, 6) + std::string(20, '\0')},
      {"truncated header", Header(3, 2, 6).substr(0, 7)},
      {"count disagrees", Header(3, 2, 5) + sixFloats},
      {"negative width", Header(-3, -2, 6) + sixFloats},
      {"huge count, short file", Header(65536, 65536, 0) + sixFloats},
      {"longer than its header", Header(3, 2, 6) + sixFloats + "x"},
  };
  for (const Case& c : cases) {
    WriteRaw(ScratchPath("bad.mat"), c.bytes);
    matrix m = Ramp(2, 5, 3.0f);
    const float* block = m.x;
    EXPECT_THROW(m.read("bad.mat"), TextException) << c.name;
    EXPECT_EQ(m.nx, 2) << c.name;
    EXPECT_EQ(m.ny, 5) << c.name;
    EXPECT_EQ(m.x, block) << c.name;
    EXPECT_EQ(m.x[9], 12.0f) << c.name;
  }
}

TEST_F(MatFileTest, WriteFailureKeepsThePreviousFile) {
  Ramp(2, 1).write("keep.mat");
  const std::string before = ReadBytes(ScratchPath("keep.mat"));
  matrix m = Ramp(2, 2);
  try {
    m.writefile((home / "no-such-folder" / "x.mat").string());
    FAIL() << "no exception";
  } catch (const TextException& e) {
    EXPECT_STREQ(e.what(), "PROBLEM OPENING FILE FOR WRITING!");
  }
  EXPECT_EQ(ReadBytes(ScratchPath("keep.mat")), before);
}

TEST_F(MatFileTest, NumberedNamesAndCopies) {
  Ramp(2, 3).writenumbered("W", 12, "mat");
  EXPECT_TRUE(fs::exists(ScratchPath("W12.mat")));
  EXPECT_EQ(ArrayElementName("a", 2, 1), "a2.1.mat");
  matrix buffer = Ramp(5, 5);
  buffer.copyfile("W12.mat", "copy.mat");
  EXPECT_EQ(buffer.n, 0);
  EXPECT_EQ(buffer.x, nullptr);
  EXPECT_EQ(ReadBytes(ScratchPath("copy.mat")), ReadBytes(ScratchPath("W12.mat")));
  matrix back;
  back.readnumbered("W", 12, "mat", true);
  EXPECT_EQ(back.nx, 2);
  EXPECT_EQ(back.z[2][1], 5.5f);
  EXPECT_FALSE(fs::exists(ScratchPath("W12.mat")));
  EXPECT_THROW(buffer.copyfile("W12.mat", "again.mat"), TextException);
}

TEST_F(MatFileTest, EmptyPlaneIsItsHeaderAlone) {
  matrix e;
  e.write("e.mat");
  EXPECT_EQ(ReadBytes(ScratchPath("e.mat")), Header(0, 0, 0));
  matrix back = Ramp(2, 2);
  back.read("e.mat");
  EXPECT_EQ(back.n, 0);
}
