// The pages of the blurring, sharpening and noise filters.
#include "params/pages_build.h"

namespace pages {

namespace {
const Texts kDoubling = {"1", "2", "4", "8"};
const Texts kThresholds = {"0.000", "0.010", "0.015", "0.020", "0.025"};
const Texts kSigmas = {"0", "0.5", "1", "2", "4", "8", "16", "32"};
const Texts kSpreads = {"1.0", "2.0", "3.0", "4.0", "5.0"};
const Texts kOddWindows = {"3", "5", "7", "9"};
}  // namespace

void AddFilterPages(std::vector<Page>& pages) {
  pages.push_back(MakePage(47, {Val(1, "Tolerance", "hysteresisTolerance", {"5", "10", "20", "40"}),
                                Val(2, "Iterations", "hysteresisIterations", kDoubling),
                                Flag(3, "Combine Channels", "hysteresisCombineChannels"),
                                Flag(4, "Artifact Reduction", "hysteresisArtifactReduction"),
                                Val(5, "Iterations for Halo Reduction", "hysteresisHaloIterations",
                                    {"0", "25", "50", "100", "250", "500"})}));
  pages.push_back(
      MakePage(48, {Val(1, "Range Std. Dev.", "fastBilateralRangeStdDev", {"5", "10", "20", "40"}),
                    Val(2, "Radius", "fastBilateralRadius", {"5", "10", "20", "30"}),
                    Val(3, "Iterations", "fastBilateralIterations", kDoubling),
                    Flag(4, "Combine Channels", "fastBilateralCombineChannels")}));
  pages.push_back(MakePage(51, {Val(1, "Iterations", "averageIterations", Seq(1, 10))}));
  pages.push_back(MakePage(52, {Val(1, "Lens Blur Radius", "lensBlurRadius", Seq(1, 9)),
                                Val(2, "Iterations", "lensBlurIterations", Seq(1, 10)),
                                Flag(3, "Masked Input", "lensBlurMaskedInput"),
                                Val(4, "Motion Blur Distance", "motionBlurDistance", Seq(3, 10)),
                                Val(5, "Motion Blur Angle", "motionBlurAngle",
                                    {"0", "30", "45", "60", "-30", "-45", "-60"})}));
  pages.push_back(
      MakePage(53, {Val(1, "Radius", "medianRadius", Cat({{"0.65", "0.675", "0.7"}, Seq(1, 9)})),
                    Val(2, "Iterations", "medianIterations", Seq(1, 5)),
                    Flag(3, "Masked Input", "medianMaskedInput"),
                    Flag(4, "Gaussian Weighted", "medianGaussianWeighted")}));
  pages.push_back(MakePage(54, {Val(1, "Radius", "wmmrRadius", Seq(1, 9)),
                                Val(2, "Iterations", "wmmrIterations", Seq(1, 10)),
                                Flag(3, "Masked Input", "wmmrMaskedInput")}));
  pages.push_back(
      MakePage(55, {Val(1, "Window Size", "bilateralWindowSize", kOddWindows),
                    Val(2, "Intensity Spread Factor", "bilateralSpreadFactor", kSpreads),
                    Pick(3, "Intensity Distribution", "bilateralDistribution"),
                    Val(4, "Iterations", "bilateralIterations", Seq(1, 10)),
                    Flag(5, "Use Bilateral Median", "bilateralUseMedian")}));
  pages.push_back(
      MakePage(56, {Val(1, "Iterations", "isophoteIterations", {"1", "2", "4", "8", "16", "32"}),
                    Val(2, "Coefficient", "isophoteCoefficient", {"0.1", "0.2"}),
                    Val(3, "Modulus", "isophoteModulus", Seq(0, 10)),
                    Val(4, "Offset", "isophoteOffset", Seq(0, 10)),
                    Val(5, "Mode", "isophoteMode", {"-1", "0", "1"})}));
  pages.push_back(
      MakePage(57, {Val(1, "Window Size", "jensenEdgeWindowSize", {"3", "5", "7", "9", "11"}),
                    Val(2, "Edge Detection Parameter 1", "jensenEdgeParameter1",
                        Steps(0.40, 0.50, 0.01, "%.2f")),
                    Val(3, "Edge Detection Parameter 2", "jensenEdgeParameter2",
                        Steps(0.00, 0.07, 0.01, "%.2f")),
                    Pick(4, "Dominant Channel", "jensenEdgeDominantChannel"),
                    Val(5, "Mode", "jensenEdgeMode", {"0", "1"}),
                    Val(6, "Iterations", "jensenEdgeIterations", Seq(1, 5)),
                    Val(7, "Edge Blurring Parameter", "jensenEdgeBlurring", {"0", "5", "10"}),
                    Val(8, "Segments", "jensenEdgeSegments", {"1", "2", "4", "8", "16", "32"}),
                    Flag(10, "Use for Defringing", "jensenEdgeDefringing"),
                    Note(11, "(Color Space Must be Y**)")}));
  pages.push_back(
      MakePage(58, {Pick(1, "Mode", "unsharpMode"), Val(2, "Radius", "unsharpRadius", Seq(1, 10)),
                    Val(3, "Amount", "unsharpAmount",
                        Cat({Steps(0.1, 0.9, 0.1, "%.1f"), {"1.0", "1.5", "2.0"}})),
                    Val(4, "(1) Blur Threshold", "unsharpBlurThreshold", kThresholds),
                    Val(5, "(2) NoOp Threshold", "unsharpNoOpThreshold", kThresholds),
                    Val(6, "(3) Sharpening Threshold", "unsharpSharpeningThreshold",
                        Cat({{"0"}, Steps(0.1, 0.9, 0.1, "%.1f"), {"1"}}))}));
  pages.push_back(
      MakePage(59, {Val(1, "Sx", "gaussianSx", kSigmas), Val(2, "Sy", "gaussianSy", kSigmas)}));
  pages.push_back(MakePage(
      84, {Val(1, "Sharpening Amount", "poissonSharpeningAmount",
               {"1", "1.5", "2", "2.5", "3", "4", "5"}),
           Val(2, "Scale Factor", "poissonScaleFactor", {"0", "0.25", "0.5"}),
           Val(3, "Poisson Iterations", "poissonIterations", {"25", "50", "100", "250", "500"})}));
  pages.push_back(
      MakePage(105, {Val(1, "Iterations", "xsharpenIterations", {"1", "2", "3", "4", "5", "10"}),
                     Val(2, "Window Size", "xsharpenWindowSize", kOddWindows),
                     Val(3, "Threshold", "xsharpenThreshold", {"5", "10", "20"}),
                     Val(4, "Amount", "xsharpenAmount",
                         {"0.1", "0.2", "0.5", "0.6", "0.7", "0.8", "0.9", "1"})}));
  pages.push_back(
      MakePage(142, {Val(1, "Window Radius", "nlMeansWindowRadius", {"1", "2", "3", "4"}),
                     Val(2, "Search Radius", "nlMeansSearchRadius", {"5", "10", "15", "20", "25"}),
                     Val(3, "Threshhold", "nlMeansThreshold", kSpreads),
                     Pick(4, "Intensity Distribution", "nlMeansDistribution"),
                     Flag(5, "Use NL Means Median", "nlMeansUseMedian"),
                     Flag(6, "Combined Color Channels", "nlMeansCombinedChannels"),
                     Flag(7, "Use Modification", "nlMeansUseModification")}));
}

}  // namespace pages
