// The pages of the option toggles, masks, painting, the view, printing, bar patterns and
// inpainting.
#include "params/pages_build.h"

namespace pages {

namespace {
const Texts kLevels = {"0", "127", "255"};
const Texts kCursorOffsets = {"-2", "-1", "0", "1", "2"};
const Texts kBarSpacings = {"2", "4", "8", "16", "32", "64", "128", "256"};
const Texts kBarOffsets = {"0", "1", "2", "4", "8", "16"};
const Texts kAutoregressive = Cat({Seq(3, 10), {"15"}});
}  // namespace

void AddMiscPages(std::vector<Page>& pages) {
  pages.push_back(
      MakePage(-1, {Flag(1, "Auto Query", "autoQuery"), Flag(2, "Auto Menu", "autoMenu")}));
  pages.push_back(MakePage(90, {Flag(1, "Conditional", "conditional")}));
  pages.push_back(MakePage(91, {Int(1, "Background Grey Level", "backgroundGreyLevel", kLevels),
                                Int(2, "Frame Window Red Level", "frameWindowRed", kLevels),
                                Int(3, "Frame Window Green Level", "frameWindowGreen", kLevels),
                                Int(4, "Frame Window Blue Level", "frameWindowBlue", kLevels)}));
  pages.push_back(
      MakePage(93, {Flag(1, "Sound Process Completion", "soundOnCompletion"),
                    Flag(2, "Awaken Monitor at Process Completion", "monitorWakeAtCompletion"),
                    Flag(3, "Monitor Sleep at Process Beginning", "monitorSleepAtStart"),
                    Num(5, "Color Space Gamma", "colorSpaceGamma", "%f",
                        {"0.4545455", "0.5", "0.5555556", "1.8", "2", "2.2"}),
                    Int(7, "Paint Cursor X Offset", "paintCursorXOffset", kCursorOffsets),
                    Int(8, "Paint Cursor Y Offset", "paintCursorYOffset", kCursorOffsets)}));
  pages.push_back(MakePage(
      114, {Int(1, "Scroll Amount", "scrollAmount", {"-50", "-25", "-10", "10", "25", "50"})}));
  pages.push_back(MakePage(115, {Flag(1, "Scroll Lock Multiple Windows", "scrollLock")}));

  pages.push_back(MakePage(
      71,
      {Num(1, "Tolerance", "colorTolerance", "%f", {}),
       Num(2, "Increment for Tolerance", "colorToleranceIncrement", "%f", {}),
       Int(3, "Number of Queue Colors", "queueColors", Seq(1, 5)), Pick(4, "Norm", "colorNorm")}));
  pages.push_back(
      MakePage(72, {Num(1, "Tolerance", "edgeTolerance", "%f", {}),
                    Num(2, "Increment for Tolerance", "edgeToleranceIncrement", "%f", {}),
                    Pick(3, "Type of Edge Detection", "edgeDetectionType"),
                    Num(4, "LoG Standard Deviation", "logStandardDeviation", "%f",
                        {"0.5", "0.75", "1", "2", "4", "8", "10"}),
                    Flag(5, "Zero Normalization", "zeroNormalization")}));
  pages.push_back(MakePage(
      75, {Pick(1, "Cursor Color", "cursorColor"), Int(2, "Cursor Radius", "cursorRadius", {})}));
  pages.push_back(
      MakePage(76, {Int(1, "Autoregressive Width", "autoregressiveWidth", kAutoregressive),
                    Int(2, "Autoregressive Height", "autoregressiveHeight", kAutoregressive)}));
  pages.push_back(MakePage(
      77, {Flag(1, "Initialize", "initialize"),
           Num(2, "Initialization Exit Tolerance", "initializationExitTolerance", "%f",
               {"0.1", "0.01", "0.001", "0.0001"}),
           Int(4, "Mode", "inpaintMode", {"1", "2"}),
           Pick(5, "Dominant Channel", "inpaintDominantChannel"),
           Num(6, "Step Size", "stepSize", "%f", {"0.5", "1.0", "1.5", "2.0"}),
           Num(7, "Parameter", "inpaintParameter", "%f", {"1", "2", "3"}),
           Int(8, "Step Iterations", "stepIterations",
               {"0", "10", "100", "500", "1000", "2000", "5000"}),
           Num(9, "Standard Deviation", "inpaintStandardDeviation", "%f",
               Cat({Seq(1, 5), {"10", "20"}})),
           Int(10, "Recalculation Interval", "recalculationInterval", {"1", "10", "50", "100"}),
           Int(15, "Enlargement Scale", "enlargementScale", Seq(2, 8)),
           Int(16, "Offset for Even Scale", "evenScaleOffset", kCursorOffsets)}));
  pages.push_back(MakePage(
      92, {Pick(1, "Interpolation Method", "fitInterpolationMethod"),
           Int(2, "Lanczos Order", "fitLanczosOrder", {"2", "3", "4", "15"}),
           Num(3, "Bicubic Parameter", "fitBicubicParameter", "%f", {"0", "-0.5", "-1"})}));
  PageRow printMode = Pick(3, "Interpolation Mode", "printInterpolationMode");
  printMode.unnamedShows = "Driver";  // the printer driver scales any other code
  pages.push_back(
      MakePage(94, {Flag(1, "Horizontal Centering", "horizontalCentering"),
                    Flag(2, "Vertical Centering", "verticalCentering"), printMode,
                    Int(4, "Lanczos Order", "printLanczosOrder", {"2", "3", "4", "15", "64"})}));
  pages.push_back(MakePage(
      116, {Int(1, "Vertical Bar Width", "verticalBarWidth", Seq(1, 10)),
            Int(2, "Vertical Bar Spacing", "verticalBarSpacing", kBarSpacings),
            Int(3, "Vertical Bar Offset from Left", "verticalBarOffset", kBarOffsets),
            Int(5, "Horizontal Bar Width", "horizontalBarWidth", Seq(1, 10)),
            Int(6, "Horizontal Bar Spacing", "horizontalBarSpacing", kBarSpacings),
            Int(7, "Horizontal Bar Offset from Top/Bottom", "horizontalBarOffset", kBarOffsets),
            Flag(8, "Offset from Bottom Instead of Top", "offsetFromBottom")}));
  pages.push_back(
      MakePage(117, {Int(1, "Iterations", "smoothMaskIterations", {"100", "200", "400", "800"})}));
}

}  // namespace pages
