#include "app/print.h"

#include <array>
#include <filesystem>

#include "app/imageview.h"
#include "fake_host.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/programdir.h"
#include "support/dialog_scripts.h"
#include "support/zep_test.h"

namespace {
PageSetup PaperPage(int32_t paperW, int32_t paperH, int32_t margin, int32_t minMargin, int32_t hdpi,
                    int32_t vdpi) {
  PageSetup p;
  p.marginLeft = p.marginTop = p.marginRight = p.marginBottom = margin;
  p.minMarginLeft = p.minMarginTop = p.minMarginRight = p.minMarginBottom = minMargin;
  p.paperWidth = paperW;
  p.paperHeight = paperH;
  p.hdpi = hdpi;
  p.vdpi = vdpi;
  return p;
}

std::array<int, 4> Corners(const PrintPlacement& p) { return {p.x0, p.y0, p.width, p.height}; }
}  // namespace

TEST(PrintPlacementTest, FillsTheMarginsKeepingTheAspectAndCentresOnlyWhenAsked) {
  // A printable area of 8000 x 10000 dots: 8 x 10 inches at 1000 dpi without margins.
  const PageSetup sheet = PaperPage(8000, 10000, 0, 0, 1000, 1000);
  // 8.5 x 11 inches, 1 inch margins, a quarter inch the printer cannot reach, 600 x 300 dpi:
  // the area is 3900 x 2700 dots, 450 x 225 dots from the printable corner.
  const PageSetup letter = PaperPage(8500, 11000, 1000, 250, 600, 300);
  struct Case {
    PageSetup page;
    int W, H;
    bool h, v;
    PrintPlacement expected;
  } cases[] = {
      {sheet, 1000, 500, false, false, {0, 0, 8000, 4000}},
      {sheet, 1000, 500, true, false, {0, 0, 8000, 4000}},
      {sheet, 1000, 500, false, true, {0, 3000, 8000, 4000}},
      {sheet, 1000, 500, true, true, {0, 3000, 8000, 4000}},
      {sheet, 500, 1000, false, true, {0, 0, 5000, 10000}},
      {sheet, 500, 1000, true, false, {1500, 0, 5000, 10000}},
      {letter, 100, 100, true, true, {450 + 600, 225, 2700, 2700}},
      {letter, 3, 1, true, true, {450, 225 + (2700 - 1300) / 2, 3900, 1300}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Corners(PlaceOnPage(c.page, c.W, c.H, c.h, c.v)), Corners(c.expected))
        << c.W << "x" << c.H << " h " << c.h << " v " << c.v;
  }
}

TEST(PrintPlacementTest, SampleStandsForTheWholeSheet) {
  const PageSetup page = PaperPage(8000, 10000, 1000, 0, 1000, 1000);
  struct Case {
    int W, H;
    bool h, v;
    int x, y, w, hgt;
  } cases[] = {
      {1000, 500, false, false, 10, 10, 60, 30},
      {1000, 500, false, true, 10, 35, 60, 30},
      {100, 1000, false, true, 10, 10, 8, 80},
      {100, 1000, true, false, 36, 10, 8, 80},
  };
  for (const Case& c : cases) {
    const PixelRect r = PlaceOnSample(page, 80, 100, c.W, c.H, c.h, c.v);
    EXPECT_EQ((std::array{r.x, r.y, r.width, r.height}), (std::array{c.x, c.y, c.w, c.hgt}))
        << c.W << "x" << c.H;
  }
}

namespace {
constexpr const char* kDoc = "CDC::StartDoc() Code Fragment";

class PrintCommandTest : public ZepTest {
 protected:
  void SetUp() override {
    ZepTest::SetUp();
    LastPageSetup() = PageSetup();
    Fill(60, 20, 0x204080);
  }
  void Fill(int w, int h, uint32_t colour) {
    v.currentBitmap() = DisplayBitmap(w, h);
    rgbbuffer(v.currentBitmap().toprow(), w, h).fill(colour);
  }
  // 4 x 3 inches with half-inch margins at 50 dpi: an area of 150 x 100 dots, 25 dots in.
  static PageSetup Small() { return PaperPage(4000, 3000, 500, 0, 50, 50); }
  // The dialogs of a print from the menu: the printing page, then the page setup.
  void ExpectDialogs(const PageSetup& page = Small()) {
    ui.ExpectProperties(TypeAndOk(94));
    ui.ExpectPageSetup([page](PageSetup& p, const PageSample&) {
      p = page;
      return DialogResult::Ok;
    });
  }
  const ScriptedUi::PrintedBitmap& OnlyDrawing() {
    EXPECT_EQ(ui.printed.size(), 1u);
    EXPECT_EQ(ui.printed.at(0).drawn.size(), 1u);
    return ui.printed.at(0).drawn.at(0);
  }

  FakeHost host;
  CImageView v{&host};
};
}  // namespace

TEST_F(PrintCommandTest, MenuPrintAsksPageAndSetupThenPrintsAtThePlacement) {
  ui.ExpectProperties(TypeAndOk(94, {{2, "True"}}));  // vertical centring on
  ui.ExpectPageSetup([](PageSetup& p, const PageSample& sample) {
    EXPECT_EQ(sample.bitmap.width, 60);
    EXPECT_EQ(sample.bitmap.height, 20);
    p = Small();
    // The sample places the picture as the page will: 10-pixel margins, 60 x 40 inside.
    const PixelRect r = sample.place(p, 80, 60);
    EXPECT_EQ((std::array{r.x, r.y, r.width, r.height}), (std::array{10, 20, 60, 20}));
    return DialogResult::Ok;
  });
  v.Dispatch(CommandId::PrintImage);
  ASSERT_EQ(ui.printed.size(), 1u);
  const auto& doc = ui.printed[0];
  EXPECT_EQ(doc.name, kDoc);
  EXPECT_TRUE(doc.pageEnded && doc.ended && !doc.aborted);
  const auto& d = OnlyDrawing();
  EXPECT_EQ((std::array{d.x, d.y, d.width, d.height}), (std::array{25, 50, 150, 50}));
  EXPECT_EQ(LastPageSetup().paperWidth, 4000);
  EXPECT_GT(host.invalidated, 0);
}

TEST_F(PrintCommandTest, CtrlMenuOnlyReportsTheResolutionWhileCtrlPPrints) {
  Flags().CtrlHeld = true;
  ExpectDialogs();
  ui.ExpectMessage(
      "Horizontal Resolution = 50 dpi, Vertical Resolution = 50 dpi\n\n\tOptimum "
      "Dimensions:\n\nWidth = 150 pixels, Height = 50 pixels\n\n\tOptimum Scale:\n\nHorizontal "
      "= 2.500000, Vertical = 2.500000");
  v.Dispatch(CommandId::PrintImage);
  EXPECT_TRUE(ui.printed.empty());
  EXPECT_EQ(ui.messages.back().caption, "Information");
  EXPECT_TRUE(ui.messages.back().style.notice);
  EXPECT_EQ(v.f2OperationId, CommandId::PrintImage);
  EXPECT_FALSE(Flags().CtrlHeld);

  // The accelerator's own Ctrl does not divert it.
  Flags().CtrlHeld = true;
  ExpectDialogs();
  v.Dispatch(CommandId::CtrlPrint);
  EXPECT_EQ(ui.printed.size(), 1u);
  EXPECT_TRUE(ui.printed[0].ended);
}

TEST_F(PrintCommandTest, CancelledDialogsPrintNothingAndCtrlLeavesTheEmptyOperation) {
  ui.ExpectProperties(CancelOn(94));
  v.Dispatch(CommandId::PrintImage);
  ui.ExpectProperties(TypeAndOk(94));
  ui.ExpectPageSetup([](PageSetup& p, const PageSample&) {
    p = Small();  // changed, but not confirmed
    return DialogResult::Cancel;
  });
  v.Dispatch(CommandId::PrintImage);
  EXPECT_EQ(LastPageSetup().paperWidth, 0);
  Flags().CtrlHeld = true;
  ui.ExpectProperties(CancelOn(94));
  v.Dispatch(CommandId::PrintImage);
  EXPECT_EQ(v.f2OperationId, CommandId::NoOp);
  EXPECT_TRUE(ui.printed.empty());
}

TEST_F(PrintCommandTest, ReplayUsesTheLastSetupAndAsksOnceWithoutOne) {
  // F2 before any page setup: only the page setup is asked, then the data is kept.
  ui.ExpectPageSetup([](PageSetup& p, const PageSample&) {
    p = Small();
    return DialogResult::Ok;
  });
  {
    FlagScope f2(Flags().F2Active, true);
    v.Dispatch(CommandId::PrintImage);
  }
  {
    FlagScope f3(Flags().F3Active, true);
    v.Dispatch(CommandId::PrintImage);
  }
  ASSERT_EQ(ui.printed.size(), 2u);
  for (const auto& doc : ui.printed) {
    ASSERT_EQ(doc.drawn.size(), 1u);
    EXPECT_EQ(doc.drawn[0].width, 150);
  }
  // While recording the step is only recorded.
  FlagScope f2(Flags().F2Active, true);
  FlagScope recording(Flags().Recording, true);
  v.Dispatch(CommandId::PrintImage);
  EXPECT_EQ(ui.printed.size(), 2u);
}

TEST_F(PrintCommandTest, PrinterFailuresAreReported) {
  LastPageSetup() = Small();
  FlagScope f2(Flags().F2Active, true);
  ui.printerStartFails = true;
  ui.ExpectMessage("Printer wouldn't initalize");
  v.Dispatch(CommandId::PrintImage);
  EXPECT_TRUE(ui.printed.empty());
  ui.printerStartFails = false;
  ui.pageStartFails = true;
  ui.ExpectMessage("Could not start page");
  v.Dispatch(CommandId::PrintImage);
  ASSERT_EQ(ui.printed.size(), 1u);
  EXPECT_TRUE(ui.printed[0].aborted && ui.printed[0].drawn.empty());
  // A printed size no bitmap can hold: the message, and the document is dropped.
  ui.pageStartFails = false;
  LastPageSetup().hdpi = LastPageSetup().vdpi = 20000;
  ui.ExpectMessage(
      "Failed to create bitmap!\n\nPossible cause is fragmented memory.\n\nPlease, read manual.");
  v.Dispatch(CommandId::PrintImage);
  ASSERT_EQ(ui.printed.size(), 2u);
  EXPECT_TRUE(ui.printed[1].aborted && ui.printed[1].drawn.empty());
  EXPECT_EQ(ui.messages.back().style.icon, MessageIcon::Error);
  // Margins that leave no room: a message, not an empty job.
  LastPageSetup() = Small();
  LastPageSetup().marginLeft = LastPageSetup().marginRight = 2500;
  ui.ExpectMessage("The picture does not fit between the margins of the page.");
  v.Dispatch(CommandId::PrintImage);
  EXPECT_EQ(ui.printed.size(), 2u);
}

TEST_F(PrintCommandTest, ACancelledFileChooserEndsThePrintSilently) {
  // A desktop without a printer asks for a file first; the user cancels it.
  class ChooserUi : public ScriptedUi {
   public:
    std::unique_ptr<PrintJob> StartPrintDocument(const PageSetup&, std::string_view) override {
      throw Cancelled{};
    }
    void PlaySoundFile(const std::string&) override { ++sounds; }
    int sounds = 0;
  } screen;
  LastPageSetup() = Small();
  LiveSettings().soundOnCompletion = 1;
  FlagScope f2(Flags().F2Active, true);
  v.Dispatch(CommandId::PrintImage);  // no message: the scripted screen fails the test on one
  EXPECT_TRUE(screen.messages.empty());
  EXPECT_EQ(screen.sounds, 0);
  EXPECT_EQ(v.elapsedText, "");
}

TEST_F(PrintCommandTest, EveryModeKeepsAConstantPictureConstantAtThePrintedSize) {
  LastPageSetup() = Small();
  FlagScope f2(Flags().F2Active, true);
  PrintParams& params = LiveSettings().print;
  struct Case {
    int mode, order, w, h;
  } cases[] = {
      {0, 3, 60, 20},    // the printer stretches the picture itself
      {1, 3, 60, 20},    // enlarged by triangulation
      {1, 3, 600, 200},  // reduced with order-3 Lanczos
      {2, 5, 60, 20},   {2, 2, 600, 200},
      {7, 3, 60, 20},  // an unknown code is the printer's stretching
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("mode %d, %dx%d", c.mode, c.w, c.h));
    params.printInterpolationMode = c.mode;
    params.printLanczosOrder = c.order;
    Fill(c.w, c.h, 0x30a0f0);
    ui.printed.clear();
    v.Dispatch(CommandId::PrintImage);
    const auto& d = OnlyDrawing();
    EXPECT_EQ((std::array{d.width, d.height}), (std::array{150, 50}));
    const bool driver = c.mode != 1 && c.mode != 2;
    EXPECT_EQ(d.smooth, driver);
    EXPECT_EQ((std::array{d.bitmapWidth, d.bitmapHeight}),
              driver ? (std::array{c.w, c.h}) : (std::array{150, 50}));
    const size_t stride = (size_t(d.bitmapWidth) * 3 + 3) & ~size_t(3);
    int off = 0;
    for (int j = 0; j < d.bitmapHeight; ++j) {
      for (int i = 0; i < d.bitmapWidth; ++i) {
        const uint8_t* px = &d.bytes[size_t(j) * stride + size_t(i) * 3];
        off += px[0] != 0xf0 || px[1] != 0xa0 || px[2] != 0x30;
      }
    }
    EXPECT_EQ(off, 0);
  }
}

TEST_F(PrintCommandTest, ReductionInModeOneIsOrderThreeLanczos) {
  LastPageSetup() = Small();
  FlagScope f2(Flags().F2Active, true);
  v.currentBitmap() = DisplayBitmap(300, 100);
  uint8_t* bits = v.currentBitmap().data();
  for (int64_t k = 0; k < v.currentBitmap().bytes(); ++k) bits[k] = uint8_t(k * 37 % 251);
  PrintParams& params = LiveSettings().print;
  params.printInterpolationMode = 1;
  params.printLanczosOrder = 9;
  v.Dispatch(CommandId::PrintImage);
  params.printInterpolationMode = 2;
  params.printLanczosOrder = 3;
  v.Dispatch(CommandId::PrintImage);
  params.printLanczosOrder = 4;
  v.Dispatch(CommandId::PrintImage);
  ASSERT_EQ(ui.printed.size(), 3u);
  EXPECT_EQ(ui.printed[0].drawn.at(0).bytes, ui.printed[1].drawn.at(0).bytes);
  EXPECT_NE(ui.printed[1].drawn.at(0).bytes, ui.printed[2].drawn.at(0).bytes);
}

TEST_F(PrintCommandTest, CancelledResamplingPrintsNothingAndTheFloatImageStays) {
  LastPageSetup() = Small();
  FlagScope f2(Flags().F2Active, true);
  v.currentLayer().dim(60, 20, 0x17);
  for (int c = 0; c < 3; ++c) v.currentLayer().plane[c].ramp(1.0f, 1.0f);
  const float last = v.currentLayer().plane[2].x[60 * 20 - 1];
  platform.CancelAtPoll(10);
  v.Dispatch(CommandId::PrintImage);
  ASSERT_EQ(ui.printed.size(), 1u);
  EXPECT_TRUE(ui.printed[0].aborted);
  EXPECT_TRUE(ui.printed[0].drawn.empty());
  platform.CancelAtPoll(0);
  v.Dispatch(CommandId::PrintImage);
  EXPECT_TRUE(ui.printed[1].ended);
  // The float image was never parked on disk or cleared.
  ASSERT_EQ(v.currentLayer().n, 60 * 20);
  EXPECT_EQ(v.currentLayer().plane[2].x[60 * 20 - 1], last);
  EXPECT_FALSE(std::filesystem::exists(ScratchPath("TEMP.FDIB")));
}
