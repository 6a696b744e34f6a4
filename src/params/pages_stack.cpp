// The pages of stacking, fusion, alignment and tone mapping.
#include "params/pages_build.h"
#include "platform/format.h"

namespace pages {

namespace {
const Texts kCoefs = {"0", "0.1", "0.01", "0.001", "1"};
const Texts kPoissonIterations = {"0", "10", "20", "30", "50", "100", "500"};
const Texts kTolerances = {"0", "1", "2", "5", "10"};
const Texts kAttenuations = {"0.5", "0.25", "0"};
const Texts kOutlierRadii = {"0", "3", "6"};
}  // namespace

void AddStackPages(std::vector<Page>& pages) {
  Page stack =
      MakePage(65, {Pick(1, "Mode", "stackMode"),
                    Val(2, "Iterations for Multivariate Median", "multivariateMedianIterations",
                        {"100", "200", "300", "400", "500"}),
                    Pick(4, "HDR Color Space", "hdrColorSpace"),
                    Val(5, "HDR Parmeter 1", "hdrParameter1", {}),
                    Flag(6, "HDR Noise Reduction", "hdrNoiseReduction"),
                    Flag(7, "Use Scratch Files for EDOF:", "edofScratchFiles"),
                    Val(8, "Number of Scale Levels", "stackScaleLevels", Seq(3, 8))});
  for (int level = 0; level < 8; ++level) {
    PageRow r =
        At(Val(9 + level, "", "stackLevelParams", {"Infinity", "16", "12", "8", "4", "3", "2"}),
           level);
    r.label = Format("Level %d Param.", level + 1);
    stack.rows.push_back(std::move(r));
  }
  pages.push_back(std::move(stack));
  pages.push_back(MakePage(
      61,
      {Val(1, "Wc, Contrast Exponent", "fusionContrastExponent", {"0", "1", "5", "10", "Infinity"}),
       Val(2, "Ws, Color Saturation Exponent", "fusionSaturationExponent",
           {"0", "1", "5", "10", "-1", "-5", "-10"}),
       Val(3, "We,Exposure Exponent", "fusionExposureExponent", {"0", "1", "5", "10"}),
       Val(4, "Contrast Mode", "fusionContrastMode", {"0", "1", "2"}),
       Val(5, "Exposure Stand. Dev.", "fusionExposureStdDev",
           {"0.1", "0.15", "0.2", "0.25", "0.3", "0.4"}),
       Val(6, "Combo Coef. A", "fusionCoefA", kCoefs),
       Val(7, "Contrast Coef. B", "fusionCoefB", kCoefs),
       Val(8, "Saturation Coef. C", "fusionCoefC", kCoefs),
       Val(9, "Exposure Coef. D", "fusionCoefD", kCoefs),
       Val(10, "Poisson Iterations", "fusionPoissonIterations", kPoissonIterations),
       Val(11, "Poisson Sharpening Factor", "fusionPoissonSharpening",
           {"1", "1.5", "2", "5", "10", "20"}),
       Note(12, "( Weight ="), Note(13, " A*[(c^Wc)*(s^Ws)*(e^We)] +"), Note(14, " B*(c^Wc) +"),
       Note(15, " C*(s^Ws) +"), Note(16, " D*(e^We) )")}));
  pages.push_back(
      MakePage(80, {Note(1, "Noise Reduction Parameters:"),
                    Val(3, "Channel 1 Tolerance", "edof2Tolerance1", kTolerances),
                    Val(4, "Channel 1 Scale Attenuation", "edof2Attenuation1", kAttenuations),
                    Val(6, "Channel 2 Tolerance", "edof2Tolerance2", kTolerances),
                    Val(7, "Channel 2 Scale Attenuation", "edof2Attenuation2", kAttenuations),
                    Val(9, "Channel 3 Tolerance", "edof2Tolerance3", kTolerances),
                    Val(10, "Channel 3 Scale Attenuation", "edof2Attenuation3", kAttenuations)}));
  pages.push_back(
      MakePage(83, {Val(1, "Poisson Iterations", "edof3PoissonIterations", kPoissonIterations)}));
  pages.push_back(MakePage(66, {Val(1, "Number of Levels", "contrastTemplateLevels", {"0", "5"}),
                                Note(2, "(0 is Automatic)")}));
  pages.push_back(
      MakePage(68, {Flag(1, "Extra Morphological Accuracy", "alignMorphologicalAccuracy"),
                    Note(2, "(Warning: Setting to True will"), Note(3, "cause slower execution.)"),
                    Val(5, "Extra Interpolation Accuracy", "alignInterpolationAccuracy", Seq(0, 3)),
                    Val(8, "Error Mode", "alignErrorMode", {"0", "1", "2"}),
                    Flag(9, "No Resizing", "alignNoResizing"),
                    Val(10, "Minimum Scale Factor", "alignMinScale", {"0.75"}),
                    Val(11, "Maximum Scale Factor", "alignMaxScale", {"1.5"})}));
  pages.push_back(MakePage(
      69,
      {Val(1, "Precision in Pixels", "translationalPrecision", {"1", "0.5", "0.25", "0.1"}),
       Val(2, "Extra Interpolation Accuracy", "translationalInterpolationAccuracy", Seq(0, 3))}));
  pages.push_back(MakePage(
      73, {Val(1, "Block Size for Block Align", "blockAlignSize", {"1", "16", "32", "64"}),
           Val(2, "Search Radius for Block Align", "blockAlignSearchRadius", Seq(1, 5)),
           Val(3, "Coordinate Smoothing", "blockAlignSmoothing", {"0.75", "1"}),
           Val(4, "Extra Interpolation Accuracy", "blockAlignInterpolationAccuracy", Seq(0, 3))}));
  pages.push_back(MakePage(
      78,
      {Val(1, "Contrast Parameter", "toneMap1Contrast",
           {"0", "0.0125", "0.025", "0.05", "0.1", "0.5", "0.75", "1", "1.5", "2"}),
       Val(2, "Color Saturation", "toneMap1Saturation", {"0.5", "0.75", "1", "1.5", "2"}),
       Val(3, "Radius For Outlier Removal", "toneMap1OutlierRadius", kOutlierRadii),
       Val(5, "Sharpener", "toneMap1Sharpener", {"0", "1", "1.5", "2", "2.5", "3"}),
       Val(7, "Hysteresis Iterations", "toneMap1HysteresisIterations", {"0", "1", "2", "4", "8"}),
       Val(8, "Hysteresis Tolerance", "toneMap1HysteresisTolerance",
           {"0.1", "0.15", "0.2", "0.25", "0.3"}),
       Val(9, "Iterations for Halo Reduction", "toneMap1HaloIterations",
           {"0", "25", "50", "100", "250", "500"})}));
  pages.push_back(MakePage(
      74, {Val(1, "Color Saturation", "toneMap2Saturation", {"1", "0.75", "0.5", "0.4"}),
           Flag(2, "Equalize", "toneMap2Equalize"), Pick(3, "Preset Function", "toneMap2Preset"),
           Val(4, "Parameter,C, for Above", "toneMap2PresetC", {"0.5", "0.25", "0.125"}),
           Val(5, "Iterations", "toneMap2Iterations", {"25", "50", "100", "500"}),
           Val(6, "No. of Levels, 0-Automatic", "toneMap2Levels", {"0", "1", "2", "3"}),
           Flag(7, "Use Diagonal Differences", "toneMap2DiagonalDifferences"),
           Flag(8, "Use Magnitudes", "toneMap2Magnitudes"),
           Val(9, "Radius for Outlier Removal", "toneMap2OutlierRadius", kOutlierRadii)}));
}

}  // namespace pages
