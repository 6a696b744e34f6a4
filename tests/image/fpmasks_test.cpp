#include <vector>

#include "image/fpbuffer.h"
#include "support/zep_test.h"

using FpMasksTest = ZepTest;

namespace {
std::vector<int> SetBits(const bitmask& m) {
  std::vector<int> k;
  for (int i = 0; i < m.n; ++i) {
    if (m.getbit(i)) k.push_back(i);
  }
  return k;
}
}  // namespace

TEST_F(FpMasksTest, EdgeMaskClearsFirstAndCondChoosesTheChannels) {
  // A 5x5 RGB image: a vertical step of 20 in red (between columns 1 and 2) and a
  // horizontal one in blue (between rows 2 and 3).
  fpbuffer f(5, 5, 0x17);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5; ++x) {
      f.plane[0].at(x, y) = x >= 2 ? 20.0f : 0.0f;
      f.plane[2].at(x, y) = y >= 3 ? 20.0f : 0.0f;
    }
  }
  const std::vector<int> red = {6, 7, 11, 12, 16, 17};     // columns 1, 2 of the inner rows
  const std::vector<int> blue = {11, 12, 13, 16, 17, 18};  // rows 2, 3 of the inner columns
  std::vector<int> both = {6, 7, 11, 12, 13, 16, 17, 18};
  struct Case {
    const char* name;
    CSpaceCode code;
    bool cond;
    int type;
    std::vector<int> bits;
  };
  const Case cases[] = {
      {"Cond off: every channel", 0x14, false, 0, both},
      {"Cond on: red alone", 0x11, true, 0, red},
      {"Cond on: blue alone", 0x14, true, 0, blue},
      {"Prewitt", 0x17, true, 1, both},
      {"unknown type", 0x17, true, 5, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.code = c.code;
    f.clearmask();
    f.mask.setbit(0, true);  // the old bits go
    f.edgemask(20, c.cond, c.type, 1, true);
    EXPECT_EQ(SetBits(f.mask), c.bits);
  }
  // The planes are left alone.
  EXPECT_EQ(f.plane[0].at(2, 0), 20.0f);
  EXPECT_EQ(f.plane[1].at(2, 2), 0.0f);
}
