// The pages of the point operations, the custom curve, geometry and the layer operations.
#include <cmath>

#include "params/pages_build.h"
#include "params/settings.h"
#include "platform/format.h"

namespace pages {

namespace {
// Curve weights can be tiny; below 1e-8 the six decimals of "%f" would show 0.
std::string ShowWeight(const Settings& record, const PageRow& row) {
  const double v = ReadNumber(record, *row.field, row.element);
  return Format(v <= 1e-8 ? "%e" : "%f", v);
}

const Texts kColours = {"0,0,0",     "255,0,0",   "0,255,0",  "0,0,255",
                        "255,255,0", "0,255,255", "255,0,255"};
const Texts kAccuracy = Seq(0, 3);
const Texts kLevels = {"0.0", "127.5", "255"};
const Texts kCanvas = {"0", "127.5", "255"};
}  // namespace

void AddBasicPages(std::vector<Page>& pages) {
  pages.push_back(
      MakePage(9, {Num(1, "Shift Amount", "shiftAmount", "%f", {"0.1", "0.25", "0.5"})}));
  pages.push_back(
      MakePage(11, {Num(1, "Constant (Fraction of Domain)", "addSubtractConstant", "%f",
                        {"0.001", "0.005", "0.01", "0.05", "0.1", "0.2", "0.3", "0.4", "0.5"})}));
  // The first suggestion has always been one text with a comma in it; it reads as -1.
  pages.push_back(MakePage(12, {Num(1, "Constant", "multiplyDivideConstant", "%f",
                                    {"-1, 1.0001", "1.0005", "1.001", "1.005", "1.01", "1.05",
                                     "1.10", "1.15", "1.20", "2.0"})}));
  pages.push_back(MakePage(13, {Num(1, "Gamma", "gamma", "%f",
                                    {"1.001", "1.005", "1.01", "1.05", "1.10", "1.50", "2.00",
                                     "2.50", "3.00", "3.50", "4.00"})}));
  pages.push_back(
      MakePage(14, {Num(1, "Coefficient", "addSubtractColorCoefficient", "%f",
                        Cat({Steps(1.0, 0.1, -0.1, "%.1f"), {"0.05", "0.025", "0.0125"}}))}));
  pages.push_back(MakePage(15, {Num(1, "Coefficient", "interpolateColorCoefficient", "%f",
                                    Steps(0.1, 0.9, 0.1, "%.1f"))}));
  pages.push_back(MakePage(16, {Int(1, "Radius for Outlier Smoothing", "outlierSmoothingRadius",
                                    {"0", "1", "2", "4", "5"})}));
  pages.push_back(MakePage(79, {Flag(1, "For HDR", "forHdr"),
                                Num(2, "Color Saturation Control", "colorSaturationControl", "%f",
                                    {"1", "0.75", "0.5"})}));

  PageRow endWeight =
      Num(5, "Weight for End Points", "endPointWeight", "%f", {".01", "0.1", "1", "10", "100"});
  endWeight.show = ShowWeight;
  PageRow middleWeight =
      Num(6, "Weight for Middle Points", "middlePointWeight", "%f",
          {"1e-16", "1e-12", "1e-11", "1e-10", "1e-9", "1e-8", "0.01", "0.1", "1", "10", "100"});
  middleWeight.show = ShowWeight;
  Page curve = MakePage(
      38,
      {Flag(1, "Directly Use Preset Function", "directlyUsePresetFunction"),
       Pick(2, "Preset Function", "presetFunction"),
       Num(3, "Parameter,C, for Preset", "presetParameter", "%f", {"0.1", "0.01", "0.5"}),
       Int(4, "Differential Order", "differentialOrder", Seq(1, 8)), endWeight, middleWeight,
       Flag(7, "Constrain Monotone Increasing", "constrainMonotoneIncreasing"),
       Int(8, "Number of Lookup Elements", "lookupElements", {"2001", "1001", "801", "601"}),
       Int(9, "Number of Control Points", "controlPoints", {"3", "5", "7", "9", "11", "21", "31"}),
       Note(10, "Graph RGB Colors:"),
       Colour(11, "Background Color", "backgroundColor",
              {"0,0,0", "10,10,10", "255,0,0", "0,255,0", "0,0,255", "255,255,0", "0,255,255",
               "255,0,255"}),
       Colour(12, "Curve Color for Increasing", "increasingCurveColor", kColours),
       Colour(13, "Curve Color for Non-increasing", "nonIncreasingCurveColor", kColours),
       Colour(14, "Vertical Line Color", "verticalLineColor", kColours),
       Colour(15, "Horizontal Line Color", "horizontalLineColor", kColours),
       Colour(16, "Center Cross Color", "centerCrossColor", kColours)});
  const Field& curveValues = FieldNamed("curveValues");
  curve.alsoRestore = {{curveValues.offset, curveValues.Bytes()}};
  pages.push_back(std::move(curve));

  pages.push_back(MakePage(
      42, {Num(1, "Angle (degrees)", "rotationAngle", "%f", {"-45", "-30", "30", "45"}),
           Num(2, "Horizontal Offset", "rotationHorizontalOffset", "%f", {"0.0"}),
           Num(3, "Vertical Offset", "rotationVerticalOffset", "%f", {"0.0"}),
           Int(4, "Iterations for Extra Accuracy", "rotationAccuracyIterations", kAccuracy)}));
  pages.push_back(MakePage(
      44, {Int(1, "Iterations for Extra Accuracy", "twoPointAccuracyIterations", kAccuracy)}));
  pages.push_back(MakePage(
      45, {Int(1, "Iterations for Extra Accuracy", "fourPointAccuracyIterations", kAccuracy),
           Flag(2, "Perspective Crop", "perspectiveCrop")}));
  pages.push_back(
      MakePage(46, {Int(1, "Width", "blankWidth", {}), Int(2, "Height", "blankHeight", {}),
                    Num(3, "Background Red", "blankRed", "%f", kLevels),
                    Num(4, "Background Green", "blankGreen", "%f", kLevels),
                    Num(5, "Background Blue", "blankBlue", "%f", kLevels)}));

  pages.push_back(MakePage(62, {Num(1, "Coefficient", "layerCoefficient", "%f",
                                    Cat({Steps(0.1, 0.9, 0.1, "%.1f"), {"1"}}))}));
  pages.push_back(MakePage(63, {Num(1, "R (Background)", "canvasRed", "%f", kCanvas),
                                Num(2, "G (Background)", "canvasGreen", "%f", kCanvas),
                                Num(3, "B (Background)", "canvasBlue", "%f", kCanvas)}));
  pages.push_back(MakePage(
      64,
      {Note(1, "LS and LAD Match Only:"),
       Num(2, "Minimum for Inclusion", "minimumForInclusion", "%f", {}),
       Num(3, "Maximum for Inclusion", "maximumForInclusion", "%f", {}),
       Flag(4, "Only Mask Input", "onlyMaskInput"), Note(6, "Levels Match Only:"),
       Num(7, "Percentile", "levelsPercentile", "%f", {"2.5", "5", "10"}),
       Num(8, "Increment (<= Percentile)", "levelsIncrement", "%f", {"1.25", "2.5", "5"}),
       Note(10, "Wavelet Match Only:"), Int(11, "Number of Levels", "waveletLevels", Seq(0, 6)),
       Note(12, "(0 - Automatic)"), Flag(13, "Mode", "waveletMatchLad", {"LS", "LAD"}).OrElse(0)}));
  pages.push_back(MakePage(67, {Num(1, "Weight for Bottom Layer", "bottomLayerWeight", "%f",
                                    Steps(0.1, 0.9, 0.1, "%.1f"))}));
  pages.push_back(MakePage(
      82, {Int(1, "Iterations", "cloningIterations", {"10", "25", "50", "100", "500"}),
           Num(2, "Outside Weight", "outsideWeight", "%f", {"0", "0.01", "0.1", "1"}),
           Num(3, "Inside Weight", "insideWeight", "%f", {"1", "0.1", "0.01"}),
           Int(4, "Mode", "cloningMode", Seq(0, 4)), Note(5, "(0-Normal)"),
           Note(6, "(1-Transparent)"), Note(7, "(2-Transparent Inner Border)"),
           Note(8, "(3-0 + Light Level Compensation)"), Note(9, "(4-2 + Light Level Compenstaion)"),
           Flag(11, "Use Pyramid", "usePyramid", {"False", "True"})}));
}

}  // namespace pages
