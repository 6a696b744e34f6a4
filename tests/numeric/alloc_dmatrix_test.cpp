#include "numeric/dmatrix.h"
#include "numeric/matrix.h"
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

TEST_F(DmatrixAllocTest, AFreedLargePlaneIsHandedOutAgainButNeverPastTheMemoryCheck) {
  // 2400 x 2400 floats: past the size from which freed blocks are kept for reuse.
  const float* first = nullptr;
  {
    matrix a(2400, 2400);
    a.x[a.n - 1] = 7.0f;
    first = a.x;
  }
  {
    matrix b(2400, 2300);  // within a quarter of the freed block: it comes back
    EXPECT_EQ(b.x, first);
    b.x[b.n - 1] = 1.0f;  // and the whole plane is usable
  }
  // A kept block does not bypass the memory check: the request is refused as it would be
  // without one, and the kept block goes back to the system.
  platform.memory.availPhys = 1'000'000;
  ui.ExpectMessageStartingWith("Out of memory!");
  EXPECT_THROW(matrix(2400, 2400), std::bad_alloc);
}
