#include "numeric/dmatrix.h"
#include "support/zep_test.h"

using DmatrixAllocTest = ZepTest;

TEST_F(DmatrixAllocTest, MessagesNameTheDoublePlane) {
  platform.memory.availPhys = 1'000'000;
  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 8.00 MB memory for dmatrix x member.\n\n"
      "matrix(int,int)\n\nMEMORY STATUS:");
  EXPECT_THROW(dmatrix(1000, 1000), std::bad_alloc);
  dmatrix d(2, 2);
  ui.ExpectMessageStartingWith(
      "Out of memory!\n\nFailed to allocate 8.00 MB memory for dmatrix x member.\n\nmatrix::dim");
  EXPECT_THROW(d.dim(1000, 1000), std::bad_alloc);
  EXPECT_EQ(d.n, 0);
}
