// The pages of the resizing and enlargement methods.
#include "params/pages_build.h"

namespace pages {

namespace {
// A text naming no reduction or enlargement kernel falls back to Lanczos3 or Lanczos7;
// most shortcut rows fall back to YCbCr.
constexpr int32_t kReductionFallback = 3;
constexpr int32_t kEnlargementFallback = 7;
constexpr int32_t kShortcutFallback = 1;

const Texts kSharpeningAmounts = {"0", "0.1", "1", "2", "-0.1", "-1", "-2"};
const Texts kSharpeningRadii = {"0", "0.25", "1", "2"};
const Texts kBackProjections = Cat({Seq(0, 5), {"10"}});
const Texts kParam1 = {"0", "0.5", "0.1", "0.2", "0.3"};
const Texts kSizes = {"240", "320", "480", "600", "640", "768", "800", "1024", "1280"};
const Texts kScales = {"0.25", "0.33333333", "0.5", "0.66666667", "1", "1.5", "2", "3", "4"};
const Texts kHalfOffsets = {"0.0", "-0.5", "0.5"};
const Texts kSeamSizes = {"240", "360", "480", "600", "768", "800", "1024"};

// The back-projection post-processing rows of one sub-record, at their rows of a page.
PageRow SuperRez(int row, const std::string& sub) {
  return Int(row, "Super Rez Iters (0 is off)", (sub + ".superRezIters").c_str(), Seq(0, 100, 10));
}
}  // namespace

void AddResizePages(std::vector<Page>& pages) {
  pages.push_back(
      MakePage(20, {Flag(1, "Use Scratch Disk", "useScratchDisk"),
                    Pick(2, "Dominant Channel", "dominantChannel"),
                    Note(3, "(For use with Triangulation,"), Note(4, "Xin Li, or Jensen, only)"),
                    Int(6, "Tile Height", "tileHeight", {"16", "32", "64", "128", "256"}),
                    Note(7, "(For use with No Floating Ping Buffer)")}));
  pages.push_back(MakePage(
      21,
      {Int(1, "Number of Iterations", "numberOfIterations", Seq(1, 5)),
       Note(2, "(0 - Automatic Arbitrary Scaling"),
       Flag(3, "Center to Half Pixel", "centerToHalfPixel"),
       Int(5, "BP Iterations (1st Pass)", "bpIterationsFirstPass", {"0", "1", "2", "5", "10"}),
       Int(6, "BP Order (1 to 5)", "bpOrder", Seq(0, 5)),
       Pick(7, "Backprojection Mode (1st Pass)", "backprojectionModeFirstPass"),
       Pick(8, "Shortcut", "shortcut"),
       Num(9, "Exit Tolerance", "exitTolerance", "%f", {"0", "0.1", "0.05", "0.01"}),
       Num(10, "Regularization Amount", "regularizationAmount", "%f", {"0", "0.1", "0.5", "1"}),
       Int(11, "Edge Sharpening Iters.", "edgeSharpeningIters", {"0", "2", "3", "4", "5"})
           .Shown("%f"),
       Num(12, "Edge Sharpening Amount", "edgeSharpeningAmount", "%f", {"0.1", "0.2", "0.3"}),
       Num(13, "Edge Rejection (0 is off)", "edgeRejection", "%f", {"0", "0.1", "0.5"}),
       Int(14, "BP Iterations (2nd Pass)", "bpIterationsSecondPass", {"0", "1", "2", "5", "10"}),
       Pick(15, "Backprojection Mode (2nd Pass)", "backprojectionModeSecondPass"),
       Num(16, "Presharpen Amount", "presharpenAmount", "%f", {"0", "1", "1.1", "1.2"})}));
  PageRow normalization = Num(4, "Normalization Weight", "normalizationWeight", "%f",
                              {"Infinity", "500", "400", "300", "200", "100", "0"});
  normalization.clampToMax = true;
  pages.push_back(
      MakePage(22, {Int(1, "Window Size", "xinLiWindowSize", Seq(2, 12, 2)),
                    Num(2, "Bias", "xinLiBias", "%.1f",
                        {"1", "12.5", "25", "50", "75", "100", "200", "300", "400", "500"}),
                    Num(3, "Tapered Window Weight", "taperedWindowWeight", "%.8f",
                        {"0", "0.5", "1.0", "1.5", "2.0"}),
                    normalization, Flag(5, "Zhao Modified 12th Order", "zhaoModified12thOrder"),
                    Num(6, "Antialias Parameter for Zhao", "zhaoAntialiasParameter", "%f",
                        {"0", "0.5", "1.0", "1.5", "2.0"})}));
  pages.push_back(MakePage(23, {Int(1, "Window Size", "jensenWindowSize", Seq(3, 11)),
                                Num(2, "Edge Detection Parameter 1", "edgeDetectionParameter1",
                                    "%.2f", Steps(0.42, 0.48, 0.01, "%.2f")),
                                Num(3, "Edge Detection Parameter 2", "edgeDetectionParameter2",
                                    "%.2f", Steps(0, 0.07, 0.01, "%.2f")),
                                Num(4, "Edge Blurring Parameter", "edgeBlurringParameter", "%.1f",
                                    {"0.0", "5.0", "10.0"}),
                                Flag(5, "Special Mode", "specialMode")}));
  pages.push_back(
      MakePage(25, {Int(1, "Scale Factor", "mbsScaleFactor", {"0", "3", "5", "7", "9", "11"}),
                    Note(2, "(Must be odd integer,"), Note(3, "except, 0 for automatic"),
                    Note(4, "arbitrary rescaling.)")}));
  pages.push_back(MakePage(
      26, {Int(1, "Order", "oldDdlOrder", Seq(0, 5)), Note(2, "(Only 0 to 5 allowed here.)"),
           Note(3, "(Order 1 is Bilinear)"), Note(4, "(Order 0 is Experimental)"),
           Flag(6, "Halo Suppression", "oldDdlHaloSuppression")}));
  pages.push_back(MakePage(
      27, {Int(1, "Size Iters., k (2^k scale factor)", "windowlessSizeIters", {"1", "2", "3"}),
           Flag(2, "4 or 16 Parameter?", "windowless16Parameters", {"4", "16"}).OrElse(0),
           Int(3, "Iterations, Conjugate Gradients", "cgIterations",
               {"100", "200", "300", "400", "500", "1000", "2000"}),
           Flag(4, "Starting Estimate", "startingEstimate"),
           Pick(5, "Shortcut", "windowlessShortcut").OrElse(kShortcutFallback),
           Flag(6, "Halo Suppression", "windowlessHaloSuppression"),
           Note(7, "Regularization Parameters:"),
           Num(8, "Laplacian, Nondirectional", "laplacianNondirectional", "%f", {"0", "0.5", "1"}),
           Num(9, "Laplacian, Directional", "laplacianDirectional", "%f", {"10", "15", "20"}),
           Num(10, "Identity", "identityWeight", "%f", {"0", "1", "2"}),
           Num(11, "Normalization", "normalization", "%f", {"0", "1", "2"}),
           Int(12, "Back Proj. Iters. (0 is off)", "windowlessBackProjIters", kBackProjections),
           Pick(13, "(1) Reduction Method", "windowlessReductionMethod").OrElse(kReductionFallback),
           Num(14, "(2) Inverse Sharpening Amount", "windowlessInverseSharpeningAmount", "%f",
               kSharpeningAmounts),
           Num(15, "(3) Inverse Sharpening Radius", "windowlessInverseSharpeningRadius", "%f",
               kSharpeningRadii),
           Flag(16, "Test Reduction Params. 1, 2, 3", "windowlessTestReductionParams")}));
  pages.push_back(MakePage(
      28,
      {SuperRez(1, "windowlessPost"),
       Pick(2, "Base on Enlargement by:", "windowlessBaseEnlargement").OrElse(kEnlargementFallback),
       Pick(3, "Shortcut", "windowlessShortcut").OrElse(kShortcutFallback),
       Num(4, "Jaggy Removal Parameter", "windowlessPost.jaggyRemoval", "%f",
           {"0", "0.1", "0.2", "0.3", "0.4", "0.5"}),
       Pick(5, "Edge Sharpening", "windowlessPost.edgeSharpening"),
       Num(6, "Edge Sharpening Param 1", "windowlessPost.edgeSharpeningParam1", "%f", kParam1),
       Num(7, "Edge Sharpening Param 2", "windowlessPost.edgeSharpeningParam2", "%f",
           Seq(5, 35, 5))}));
  pages.push_back(MakePage(
      29,
      {Int(1, "Integer Enlargement Scale", "integerEnlargementScale", Seq(2, 10)),
       Pick(2, "(1) Pseudoinverse of Reduction:", "pseudoInverseReduction")
           .OrElse(kReductionFallback),
       Num(3, "(2) Inverse Sharpening Amount", "pseudoInverseSharpeningAmount", "%f",
           kSharpeningAmounts),
       Num(4, "(3) Inverse Sharpening Radius", "pseudoInverseSharpeningRadius", "%f",
           kSharpeningRadii),
       Pick(5, "Base on Enlargement by:", "pseudoInverseBaseEnlargement")
           .OrElse(kEnlargementFallback),
       Pick(6, "Shortcut", "pseudoInverseShortcut").OrElse(kShortcutFallback),
       SuperRez(7, "pseudoInversePost"),
       Num(8, "Jaggy Removal Parameter", "pseudoInversePost.jaggyRemoval", "%f",
           Steps(0, 0.5, 0.1, "%g")),
       Pick(9, "Edge Sharpening", "pseudoInversePost.edgeSharpening"),
       Num(10, "Edge Sharpening Param 1", "pseudoInversePost.edgeSharpeningParam1", "%f", kParam1),
       Num(11, "Edge Sharpening Param 2", "pseudoInversePost.edgeSharpeningParam2", "%f",
           Seq(5, 35, 5)),
       Flag(16, "Test Reduction Params. 1, 2, 3", "pseudoInverseTestReductionParams")}));
  Page arbitrary =
      MakePage(30, {Int(1, "Output Width", "outputWidth", kSizes),
                    Int(2, "Output Height", "outputHeight", kSizes),
                    Expr(3, "Horizontal Scale Factor", "horizontalScaleFactor", "%.16f", kScales),
                    Expr(4, "Vertical Scale Factor", "verticalScaleFactor", "%.16f", kScales),
                    Num(5, "Horizontal Offset", "horizontalOffset", "%f", kHalfOffsets),
                    Num(6, "Vertical Offset", "verticalOffset", "%f", kHalfOffsets),
                    Pick(7, "Precedence", "precedence"),
                    Flag(8, "Kernel Expansion for Reductions", "kernelExpansionForReductions")});
  // The precedence decides which of the sizes the resize command takes, so it is read
  // before them.
  arbitrary.readOrder = {7};
  pages.push_back(std::move(arbitrary));
  pages.push_back(MakePage(
      31,
      {Int(1, "Size Iters., k (2^k scale factor)", "ddlSizeIters", {"1", "2", "3"}),
       Pick(2, "Shortcut", "ddlShortcut").OrElse(kShortcutFallback),
       Int(3, "DDL Order", "ddlOrder", Seq(0, 5)), Flag(4, "Presharpen", "ddlPresharpen"),
       Int(5, "Back Proj. Iters. (0 is off)", "ddlBackProjIters", kBackProjections),
       Pick(6, "(1) Reduction Method", "ddlReductionMethod").OrElse(kReductionFallback),
       Num(7, "(2) Inverse Sharpening Amount", "ddlInverseSharpeningAmount", "%f",
           kSharpeningAmounts),
       Num(8, "(3) Inverse Sharpening Radius", "ddlInverseSharpeningRadius", "%f",
           kSharpeningRadii),
       SuperRez(9, "ddlPost"),
       Pick(10, "Base on Enlargement by:", "ddlBaseEnlargement").OrElse(kEnlargementFallback),
       Num(11, "Jaggy Removal Parameter", "ddlPost.jaggyRemoval", "%f", Steps(0, 0.5, 0.1, "%g")),
       Pick(12, "Edge Sharpening", "ddlPost.edgeSharpening"),
       Num(13, "Edge Sharpening Param 1", "ddlPost.edgeSharpeningParam1", "%f", kParam1),
       Num(14, "Edge Sharpening Param 2", "ddlPost.edgeSharpeningParam2", "%f", Seq(5, 35, 5)),
       Flag(16, "Test Reduction Params. 1, 2, 3", "ddlTestReductionParams")}));
  pages.push_back(MakePage(32, {Num(1, "Bicubic Sharpening Factor", "bicubicSharpeningFactor",
                                    "%.2f", {"0", "-0.5", "-1.0"})}));
  pages.push_back(MakePage(33, {Int(1, "Order", "lanczosOrder", {"2", "3", "15", "64"})}));
  pages.push_back(MakePage(34, {Num(1, "Blur Amount for Reductions", "blurAmountForReductions",
                                    "%f", Cat({{"0"}, Steps(0.1, 0.5, 0.05, "%g")}))}));
  PageRow increment = Num(1, "Approximate Scale for Increment", "stairScaleIncrement", "%f",
                          {"1.05", "1.1", "1.15", "1.2"});
  increment.viaFloat = true;
  pages.push_back(MakePage(
      35, {increment, Note(2, "(Reciprocal is automatically"), Note(3, "used for reductions.)"),
           Flag(5, "Bicubic or Lanczos?", "stairUsesLanczos", {"Bicubic", "Lanczos"}).OrElse(0)}));
  pages.push_back(
      MakePage(36, {Num(1, "Sharpness", "pyramidSharpness", "%f", {"0", "0.5", "1"}),
                    Num(2, "Approximate Scale for Increment", "pyramidScaleIncrement", "%f",
                        {"1.2", "1.25", "1.3", "1.35"}),
                    Num(3, "Halo Width Factor", "haloWidthFactor", "%f", {"0.9", "1", "1.1"})}));
  pages.push_back(
      MakePage(37, {Int(1, "Approximate Scale Factor", "presharpenScaleFactor", Seq(2, 9)),
                    Pick(2, "Reduction Model", "presharpenReductionModel"),
                    Num(3, "Amount", "presharpeningAmount", "%f", {"1"})}));
  pages.push_back(MakePage(
      81,
      {Int(1, "Width", "seamWidth", kSeamSizes), Int(2, "Height", "seamHeight", kSeamSizes),
       Num(3, "Avoidance Energy Value", "avoidanceEnergyValue", "%e", {"1.0e16"}),
       Num(4, "Removal Energy Value", "removalEnergyValue", "%f",
           {"0", "-10", "-100", "-1000", "-10000"}),
       Int(5, "Energy Function Type", "energyFunctionType", Seq(0, 11)),
       Flag(6, "Update Energy Function", "updateEnergyFunction"),
       Int(7, "Iterations for Derivative Blending", "derivativeBlendingIterations",
           {"0", "10", "25", "50", "100", "200", "300", "400", "500"}),
       Flag(8, "Use Diagonal Derivatives", "useDiagonalDerivatives"),
       Num(9, "Blending Avoidance Weight", "blendingAvoidanceWeight", "%f", {"0", "0.1", "1"})}));
}

}  // namespace pages
