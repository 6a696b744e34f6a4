#include <string>

#include "app/flags.h"
#include "ops/basic/basic_fixture.h"

namespace {
using Id = CommandId;
const Id F2 = Id::F2ProgrammedOperation, F3 = Id::F3ProgrammedOperation;

class InpaintCommandTest : public BasicTest {
 protected:
  InpaintParams& P() { return LiveSettings().inpaint; }
  bitmask& Mask() { return v.currentLayer().mask; }
  void Flat(int w, int h, float value) {
    Make(w, h, 0x17, [=](int, int) { return value; });
  }
};
}  // namespace

TEST_F(InpaintCommandTest, F2InpaintsTheMaskedPixels) {
  Flat(9, 9, 10.0f);
  v.currentLayer().plane[0].z[4][4] = 250.0f;
  v.currentLayer().clearmask();
  Mask().set(4, 4, true);
  P().stepIterations = 0;
  Press(Id::TschumperleInpainting, F2);
  EXPECT_EQ(v.currentLayer().plane[0].z[4][4], 10.0f);
  EXPECT_EQ(v.operationName, "Tschumperle");

  // A selection alone is the region too (a paint drag's).
  v.currentLayer().mask.free();
  v.currentLayer().plane[2].z[1][6] = -40.0f;
  v.selection.dim(9, 9);
  v.selection.set(6, 1, true);
  v.Dispatch(F2);
  EXPECT_EQ(v.currentLayer().plane[2].z[1][6], 10.0f);
}

TEST_F(InpaintCommandTest, MenuAndF3ShowThePageAndSelect) {
  Flat(4, 4, 1.0f);
  ui.ExpectProperties(TypeAndOk(77, {{8, "7"}}));
  LiveSettings().autoQuery = 1;
  v.Dispatch(Id::TschumperleInpainting);
  EXPECT_EQ(P().stepIterations, 7);
  EXPECT_EQ(v.operationName, "Tschumperle");
  // F3 opens the page again instead of inpainting.
  v.currentLayer().clearmask();
  Mask().set(1, 1, true);
  v.currentLayer().plane[0].z[1][1] = 90.0f;
  ui.ExpectProperties(CancelOn(77));
  v.Dispatch(F3);
  EXPECT_EQ(v.currentLayer().plane[0].z[1][1], 90.0f);
}

TEST_F(InpaintCommandTest, MaskEnlargementMasksAllButTheLattice) {
  P().enlargementScale = 3;
  Flat(30, 30, 5.0f);
  v.SelectOperation(Id::MaskEnlargementForTschumperle, true);
  v.Dispatch(F2);
  ASSERT_TRUE(Mask().covers(30, 30));
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_EQ(Mask().get(x, y), !(x % 3 == 1 && y % 3 == 1));

  // A size that is not a multiple of the scale keeps the mask and says why.
  Flat(31, 30, 5.0f);
  v.currentLayer().clearmask();
  Mask().set(2, 2, true);
  ui.ExpectMessage(
      "This image was not enlarged by specified\nscale therefore no action will be "
      "taken.\n\nPlease, read instructions in manual.");
  v.Dispatch(F2);
  int set = 0;
  for (int k = 0; k < Mask().n; ++k) set += Mask().getbit(k);
  EXPECT_EQ(set, 1);
  EXPECT_TRUE(Mask().get(2, 2));
}

TEST_F(InpaintCommandTest, SeamlessCloningFromTheOtherLayer) {
  Flat(8, 8, 10.0f);
  fpbuffer& other = v.otherLayer();
  other.dim(8, 8, 0x17);
  for (int c = 0; c < 3; ++c) other.plane[c].fill(90.0f + c);
  v.otherBitmap() = DisplayBitmap(8, 8);
  LiveSettings().layer.cloningIterations = 0;
  LiveSettings().layer.cloningMode = 0;
  // From the menu the page decides and the command becomes current.
  ui.ExpectProperties(TypeAndOk(82));
  LiveSettings().autoQuery = 1;
  v.Dispatch(Id::SeamlessCloning);
  EXPECT_EQ(v.operationName, "Blended=");
  EXPECT_EQ(v.currentLayer().plane[0].z[3][3], 10.0f);
  LiveSettings().autoQuery = 0;
  // F3 clones as F2 does, over the selection of a drag.
  v.selection.dim(8, 8);
  v.selection.set(3, 3, true);
  v.Dispatch(F3);
  EXPECT_EQ(v.currentLayer().plane[0].z[3][3], 90.0f);
  EXPECT_EQ(v.currentLayer().plane[2].z[3][3], 92.0f);
  EXPECT_EQ(v.currentLayer().plane[0].z[3][4], 10.0f);
}
