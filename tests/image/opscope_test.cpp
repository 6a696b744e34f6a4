#include "image/opscope.h"

#include "numeric/bitmask.h"
#include "support/zep_test.h"

namespace {
struct ScopeCase {
  const char* name;
  bool cond;
  bool imageMask;  // the image has a mask of its own: pixels 0 and 1
  bool selection;  // the window has a selection: pixels 1 and 2
  ScopeRule rule;
  unsigned channels;        // processed channels as bits
  unsigned pixels;          // processed pixels 0-3 as bits
  unsigned selectionAfter;  // the window's selection afterwards (when it had one)
};
}  // namespace

using OperationScopeTest = ZepTest;

// A 2x2 RGB image whose channel 1 is hidden (code word: RGB with bits 0 and 2).
TEST_F(OperationScopeTest, CondMaskAndSelectionTable) {
  const ScopeRule plain{};
  const ScopeRule visible{ScopeChannels::Visible, false};
  const ScopeRule channelsOnly{ScopeChannels::ByCond, false};
  const ScopeRule neither{ScopeChannels::All, false};
  const ScopeRule inpaint{ScopeChannels::All, true, true};
  const ScopeRule selectionOnly{ScopeChannels::ByCond, true, false, false};
  const ScopeRule shock{ScopeChannels::ByCond, true, true};
  const ScopeRule tschumperle{ScopeChannels::All, true, true};
  const ScopeRule seamMarks{ScopeChannels::All, true};
  const ScopeCase cases[] = {
      {"off, nothing", false, false, false, plain, 0xF, 0xF, 0},
      {"off, mask ignored", false, true, false, plain, 0xF, 0xF, 0},
      {"off, selection", false, true, true, plain, 0xF, 0x6, 0x6},
      {"on, nothing", true, false, false, plain, 0x5, 0xF, 0},
      {"on, mask alone", true, true, false, plain, 0x5, 0x3, 0},
      {"on, selection alone", true, false, true, plain, 0x5, 0x6, 0x6},
      {"on, both: intersected in place", true, true, true, plain, 0x5, 0x2, 0x2},
      {"visible whatever Cond, no mask", false, true, true, visible, 0x5, 0xF, 0x6},
      {"channel rule only", true, true, true, channelsOnly, 0x5, 0xF, 0x6},
      {"neither rule", true, true, true, neither, 0xF, 0xF, 0x6},
      // Clip Negative, Equalization, Periodic Smoothing and the Poisson Sharpener: the
      // channel rule alone.
      {"clip/equalize, Cond off", false, true, true, channelsOnly, 0xF, 0xF, 0x6},
      {"clip/equalize, Cond on, no selection", true, true, false, channelsOnly, 0x5, 0xF, 0},
      {"periodic/poisson, Cond off, selection alone", false, false, true, channelsOnly, 0xF, 0xF,
       0x6},
      // Scale and Shift: neither rule.
      {"scale and shift, Cond off", false, true, false, neither, 0xF, 0xF, 0},
      // Diffusion inpainting and seamless cloning: the image mask whatever Cond, every
      // channel.
      {"inpaint, Cond off, both", false, true, true, inpaint, 0xF, 0x2, 0x2},
      {"inpaint, Cond off, mask alone", false, true, false, inpaint, 0xF, 0x3, 0},
      {"inpaint, Cond on, selection alone", true, false, true, inpaint, 0xF, 0x6, 0x6},
      {"inpaint, neither", false, false, false, inpaint, 0xF, 0xF, 0},
      // Hysteresis Smoothing: the channel rule alone, as "channel rule only".
      {"hysteresis, Cond on", true, true, true, channelsOnly, 0x5, 0xF, 0x6},
      // Fast Bilateral Approximation: the selection alone limits the pixels.
      {"fast bilateral, Cond on, both", true, true, true, selectionOnly, 0x5, 0x6, 0x6},
      {"fast bilateral, Cond on, mask alone", true, true, false, selectionOnly, 0x5, 0xF, 0},
      {"fast bilateral, Cond off", false, true, true, selectionOnly, 0xF, 0x6, 0x6},
      // Shock Filter: the image mask whatever Cond, the channels by Cond.
      {"shock, Cond off, both", false, true, true, shock, 0xF, 0x2, 0x2},
      {"shock, Cond off, mask alone", false, true, false, shock, 0xF, 0x3, 0},
      {"shock, Cond on, both", true, true, true, shock, 0x5, 0x2, 0x2},
      // Tschumperle Regularization: the image mask and every channel whatever Cond.
      {"tschumperle, Cond off, both", false, true, true, tschumperle, 0xF, 0x2, 0x2},
      {"tschumperle, Cond on, mask alone", true, true, false, tschumperle, 0xF, 0x3, 0},
      // Isophote Smoothing: the plain rule.
      {"isophote, Cond off, both", false, true, true, plain, 0xF, 0x6, 0x6},
      {"isophote, Cond on, both", true, true, true, plain, 0x5, 0x2, 0x2},
      // Seam-carving marks: the plain pixels, every channel.
      {"seam marks, Cond off, both", false, true, true, seamMarks, 0xF, 0x6, 0x6},
      {"seam marks, Cond on, mask alone", true, true, false, seamMarks, 0xF, 0x3, 0},
      {"seam marks, Cond on, both", true, true, true, seamMarks, 0xF, 0x2, 0x2},
      // Presharpen: the channel rule alone; no mask or selection is read.
      {"presharpen, Cond on, both", true, true, true, channelsOnly, 0x5, 0xF, 0x6},
      {"presharpen, Cond off, mask alone", false, true, false, channelsOnly, 0xF, 0xF, 0},
      // Combine Sharpest Features: the channel rule alone, whole channels.
      {"combine sharpest, Cond on", true, true, true, channelsOnly, 0x5, 0xF, 0x6},
      {"combine sharpest, Cond off", false, true, true, channelsOnly, 0xF, 0xF, 0x6},
      // The tone maps: every channel and pixel (their stretches read the image mask alone).
      {"tone maps, Cond on", true, true, true, neither, 0xF, 0xF, 0x6},
      // Stacking: channels 0-2 of every pixel whatever Cond, the selection and the mask.
      {"stacking, Cond on, both", true, true, true, neither, 0xF, 0xF, 0x6},
      // Jensen-Xin Li and the back-projected Xin Li cores: every channel of every pixel
      // whatever Cond; the image mask is resampled with the image, not read.
      {"jensen-xin li enlargements, Cond on, both", true, true, true, neither, 0xF, 0xF, 0x6},
      // Texture inpainting's fill: the plain rule.
      {"texture fill, Cond on, both", true, true, true, plain, 0x5, 0x2, 0x2},
      {"texture fill, Cond off, mask alone", false, true, false, plain, 0xF, 0xF, 0},
  };
  for (const ScopeCase& c : cases) {
    SCOPED_TRACE(c.name);
    fpbuffer image(2, 2, cspace::kRGB | 0x5);
    if (c.imageMask) {
      image.mask.dim(2, 2);
      image.mask.setbit(0, true);
      image.mask.setbit(1, true);
    }
    bitmask selection;
    if (c.selection) {
      selection.dim(2, 2);
      selection.setbit(1, true);
      selection.setbit(2, true);
    }
    OperationScope scope(image, &selection, c.cond, c.rule);
    unsigned channels = 0, pixels = 0;
    for (int i = 0; i < 4; ++i) channels |= unsigned(scope.processes(i)) << i;
    for (int k = 0; k < 4; ++k) pixels |= unsigned(scope.selected(k)) << k;
    // An RGB image has three channels: bit 3 never counts.
    EXPECT_EQ(channels, c.channels & 0x7u);
    EXPECT_EQ(pixels, c.pixels);
    EXPECT_EQ(scope.mask() == nullptr, c.pixels == 0xF);
    if (c.selection) {
      unsigned after = 0;
      for (int k = 0; k < 4; ++k) after |= unsigned(selection.getbit(k)) << k;
      EXPECT_EQ(after, c.selectionAfter);
    }
    // The image's own mask never changes.
    if (c.imageMask) {
      EXPECT_TRUE(image.mask.getbit(0));
      EXPECT_TRUE(image.mask.getbit(1));
    }
  }
}

// A selection of another size is not read (it would index past its words).
TEST_F(OperationScopeTest, SelectionOfAnotherSizeCountsAsNone) {
  fpbuffer image(4, 3, cspace::kRGB | 0x7);
  bitmask selection;
  selection.dim(2, 2);
  selection.setbit(0, true);
  OperationScope scope(image, &selection, false);
  EXPECT_EQ(scope.mask(), nullptr);
  EXPECT_TRUE(scope.selected(11));
  OperationScope none(image, nullptr, true);
  EXPECT_EQ(none.mask(), nullptr);
  EXPECT_TRUE(none.processes(2));
  EXPECT_FALSE(none.processes(3));
}
