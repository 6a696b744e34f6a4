// The pages of the IFS codec, regularization, deconvolution and periodic smoothing.
#include <cmath>
#include <string>

#include "numeric/matrix.h"
#include "params/pages_build.h"
#include "params/settings.h"
#include "platform/errors.h"
#include "platform/format.h"

namespace pages {

namespace {

const Texts kModes = {"0", "1"};
const Texts kWeights = {"0", "0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1"};
const Texts kStdDevs = {"0", "1", "2", "3", "4", "5", "10"};

// The six rows of one IFS plane from row first on: "Y: Range Block Size" and so on.
void AddPlane(std::vector<PageRow>& rows, int first, const char* plane, Texts blockSizes) {
  auto label = [plane](const char* what) { return Format("%s: %s", plane, what); };
  auto member = [plane](const char* what) { return Format("ifs%s%s", plane, what); };
  const std::pair<const char*, const char*> names[] = {
      {"Range Block Size", "RangeBlockSize"},
      {"Number of Error Corrections", "ErrorCorrections"},
      {"Domain to Range Ratio", "DomainRatio"},
      {"Parameter 1", "Parameter1"},
      {"Parameter 2", "Parameter2"},
      {"Maximum Multiplier Size", "MaxMultiplier"}};
  const Texts suggestions[] = {
      std::move(blockSizes),
      Seq(0, 8),
      {"2", "3"},
      {"0.0078125", "0.015625", "0.03125", "0.0625", "0.125", "0.25", "0.5", "1"},
      {"0.005", "0.010", "0.020", "0.040", "0.080", "0.160", "0.499"},
      {"1.0", "1.3", "2.0", "10"}};
  for (int i = 0; i < 6; ++i) {
    PageRow r = Val(first + i, "", member(names[i].second).c_str(), suggestions[i]);
    r.label = label(names[i].first);
    rows.push_back(std::move(r));
  }
}

// Exact names first; then a kernel name anywhere in the text picks that kernel's
// decimation, in the order the list has always been searched.
ReadOutcome ReadPsf(Settings& record, const PageRow& row, const std::string& text) {
  int32_t code = -1;
  const std::pair<const char*, int32_t> exact[] = {
      {"Identity", 0}, {"Lens Blur", 1}, {"Gaussian", 2}, {"Uniform", 3}, {"Decimate", 4}};
  for (const auto& [name, c] : exact) {
    if (text == name) code = c;
  }
  auto has = [&text](const char* part) { return text.find(part) != std::string::npos; };
  if (code < 0) {
    if (has("Box")) {
      code = 5;
    } else if (has("Lanczos3")) {
      code = 6;
    } else if (has("Lanczos2")) {
      code = 7;
    } else if (has("Bilinear")) {
      code = 8;
    } else if (has("Lanczos15")) {
      code = 9;
    } else if (text == "Custom") {
      code = 10;
    } else if (has("Bicubic")) {
      code = 11;
    } else {
      return ReadOutcome::Kept;
    }
  }
  WriteNumber(record, *row.field, code);
  return ReadOutcome::Stored;
}

// Honeycomb and Crosshatch lay out the offsets from the radius read just before; any
// other text makes the pattern Custom and keeps the pairs typed on the next page.
ReadOutcome ReadPattern(Settings& record, const PageRow&, const std::string& text) {
  record.periodic.ApplyPattern(text == "Honeycomb" ? 1 : text == "Crosshatch" ? 2 : 0);
  return ReadOutcome::Stored;
}

std::string ShowOffset(const Settings& record, const PageRow& row) {
  return Format("%d, %d", record.periodic.periodicDx[row.element],
                record.periodic.periodicDy[row.element]);
}

// "dx, dy": a missing dy is 0 and further numbers are ignored; both are truncated toward
// zero, except the dx of the second pair, which has always been rounded down.
ReadOutcome ReadOffset(Settings& record, const PageRow& row, const std::string& text) {
  matrix pair(2, 1);
  try {
    pair.parse(text);
  } catch (const TextException&) {
    return ReadOutcome::Kept;
  }
  const double dx = row.element == 1 ? std::floor(pair.x[0]) : std::trunc(pair.x[0]);
  WriteNumber(record, FieldNamed("periodicDx"), dx, row.element);
  WriteNumber(record, FieldNamed("periodicDy"), std::trunc(pair.x[1]), row.element);
  return ReadOutcome::Stored;
}

}  // namespace

void AddRestorationPages(std::vector<Page>& pages) {
  pages.push_back(
      MakePage(120, {Val(1, "Integer Scale Factor", "ifsScaleFactor", Seq(1, 16)),
                     Val(2, "Number of Iterations", "ifsIterations", {"5", "10", "15"}),
                     Val(3, "Y Mode", "ifsYMode", kModes), Val(4, "Ey Mode", "ifsEyMode", kModes),
                     Val(5, "Cb Mode", "ifsCbMode", kModes), Val(6, "Cr Mode", "ifsCrMode", kModes),
                     Flag(7, "Use Scratch Disk", "ifsUseScratchDisk")}));
  Page saving =
      MakePage(121, {Flag(1, "Warning Message", "ifsWarningMessage"),
                     Flag(2, "Use Custom Settings", "ifsUseCustomSettings"),
                     Val(3, "Approx. Size of Input Image, MP", "ifsImageSizeMp", Seq(0, 12)),
                     Pick(4, "Approx. Quality of Input Image", "ifsImageQuality"),
                     Note(6, "(For use without"), Note(7, "floating point buffer:)"),
                     Val(8, "Tile Width", "ifsTileWidth", {"100", "500", "1000"}),
                     Val(9, "Tile Height", "ifsTileHeight", {"100", "500", "1000"})});
  saving.after = [](Settings& s) { s.ifs.ApplyPreset(); };
  pages.push_back(std::move(saving));
  Page luma = MakePage(122, {});
  AddPlane(luma.rows, 1, "Y", Seq(2, 9));
  AddPlane(luma.rows, 8, "Ey", Seq(3, 8));
  luma.rows.push_back(Val(15, "Y & E: Sharpening Factor", "ifsSharpeningFactor", Seq(0, 8)));
  pages.push_back(std::move(luma));
  Page chroma = MakePage(123, {});
  AddPlane(chroma.rows, 1, "Cb", Cat({{"0"}, Seq(3, 8)}));
  AddPlane(chroma.rows, 8, "Cr", Cat({{"0"}, Seq(3, 8)}));
  pages.push_back(std::move(chroma));

  pages.push_back(MakePage(
      135,
      {Val(1, "Iterations", "tschumperleIterations", {}),
       Val(2, "Recalculation Interval", "tschumperleRecalcInterval", {"1", "5", "10", "50", "100"}),
       Val(3, "Mode", "tschumperleMode", {"1", "2"}),
       Val(4, "Standard Deviation", "tschumperleStdDev", kStdDevs),
       Val(5, "Blur Step Size", "tschumperleBlurStep", {"0", "0.1", "0.5", "1"}),
       Val(6, "Blur Parameter", "tschumperleBlurParameter", {"1", "2", "3"}),
       Val(7, "Edge Step Size", "tschumperleEdgeStep", {"0", "0.1", "0.5", "1"}),
       Val(8, "Edge Parameter", "tschumperleEdgeParameter", {"1", "2", "3"})}));
  pages.push_back(MakePage(136, {Val(1, "Iterations", "shockIterations", Seq(1, 5)),
                                 Val(2, "Step Size", "shockStepSize", {"0.1", "0.2", "0.3"}),
                                 Val(3, "Standard Deviation", "shockStdDev", kStdDevs),
                                 Val(4, "Edge Factor", "shockEdgeFactor", {"0", "0.1", "0.2"})}));

  PageRow psf = Pick(2, "Point Spread Function", "psfType");
  psf.read = ReadPsf;
  PageRow lsTolerance = Val(13, "Exit Tolerance, LS", "lsExitTolerance", {});
  lsTolerance.format = "%e";
  pages.push_back(MakePage(137, {Pick(1, "LS or LAD Decon. or Convolve ", "deconvMethod").OrElse(0),
                                 psf, Val(3, "Lens Blur Radius", "psfLensBlurRadius", Seq(1, 5)),
                                 Val(4, "Gaussian Std. Dev., H", "psfGaussianStdDevH", Seq(1, 5)),
                                 Val(5, "Gaussian Std. Dev., V", "psfGaussianStdDevV", Seq(1, 5)),
                                 Val(6, "Uniform Width", "psfUniformWidth", Seq(2, 10)),
                                 Val(7, "Uniform Height", "psfUniformHeight", Seq(2, 10)),
                                 Val(8, "Bicubic Factor", "psfBicubicFactor", {"0", "-0.5", "-1"}),
                                 Flag(9, "Use Scratch Disk", "deconvUseScratchDisk").OrElse(0),
                                 Pick(10, "Enlargement Shortcut", "deconvShortcut"),
                                 Val(11, "Max. Iterations, LS", "lsMaxIterations", {}),
                                 Val(12, "Min. Iterations, LS", "lsMinIterations", {}), lsTolerance,
                                 Val(14, "Max. Iterations, LAD", "ladMaxIterations", {}),
                                 Val(15, "Exit Tolerance, LAD", "ladExitTolerance", {}),
                                 Val(16, "Integer Scale Factor", "deconvScaleFactor", Seq(2, 8))}));
  pages.push_back(
      MakePage(138, {Val(1, "Slopes, Horizontal and Vertical", "weightSlopesHV", kWeights),
                     Val(2, "Slopes, Diagonals.", "weightSlopesDiagonal", kWeights),
                     Val(3, "Curvatures, Horiz. and Vert.", "weightCurvaturesHV", kWeights),
                     Val(4, "Curvatures, Diagonals", "weightCurvaturesDiagonal", kWeights),
                     Val(5, "3rd Order, Horiz. and Vert.", "weightThirdOrderHV", kWeights),
                     Val(6, "3rd Order, Diagonals", "weightThirdOrderDiagonal", kWeights),
                     Val(7, "Cross Slopes, Horiz. and Vert.", "weightCrossSlopesHV", kWeights),
                     Val(8, "Cross Slopes, Diagonals", "weightCrossSlopesDiagonal", kWeights),
                     Val(9, "Slopes, Data Dependent, HV, Min", "weightDdSlopesHVMin", kWeights),
                     Val(10, "Slopes, Data Dependent, HV, Max", "weightDdSlopesHVMax", kWeights),
                     Val(11, "Slopes, Data Dependent, D, Min", "weightDdSlopesDMin", kWeights),
                     Val(12, "Slopes, Data Dependent, D, Max", "weightDdSlopesDMax", kWeights),
                     Val(13, "Curves, Data Dependent, HV, Min", "weightDdCurvesHVMin", kWeights),
                     Val(14, "Curves, Data Dependent, HV, Max", "weightDdCurvesHVMax", kWeights),
                     Val(15, "Curves, Data Dependent, D, Min", "weightDdCurvesDMin", kWeights),
                     Val(16, "Curves, Data Dependent, D, Max", "weightDdCurvesDMax", kWeights)}));
  pages.push_back(
      MakePage(139, {Val(1, "Curves, Data Dependent, Min", "weightDdCurvesMin", kWeights),
                     Val(2, "Curves, Data Dependent, Max", "weightDdCurvesMax", kWeights),
                     Val(3, "Slopes, Data Dependent, Min", "weightDdSlopesMin", kWeights),
                     Val(4, "Slopes, Data Dependent, Max", "weightDdSlopesMax", kWeights),
                     Val(5, "Std. Dev. for Tensor Blur", "tensorBlurStdDev", {"0", "1"}),
                     Val(6, "Curves, Data Dependent 2, Min", "weightDd2CurvesMin", kWeights),
                     Val(7, "Curves, Data Dependent 2, Max", "weightDd2CurvesMax", kWeights),
                     Val(8, "Slopes, Data Dependent 2, Min", "weightDd2SlopesMin", kWeights),
                     Val(9, "Slopes, Data Dependent 2, Max", "weightDd2SlopesMax", kWeights),
                     Val(11, "Slopes, Horizontal Only", "weightSlopesHorizontal", kWeights),
                     Val(12, "Curves, Horizontal Only", "weightCurvesHorizontal", kWeights),
                     Val(13, "Order 3, Horizontal Only", "weightOrder3Horizontal", kWeights),
                     Val(14, "Slopes, Vertical Only", "weightSlopesVertical", kWeights),
                     Val(15, "Curves, Vertical Only", "weightCurvesVertical", kWeights),
                     Val(16, "Order 3, Vertical Only", "weightOrder3Vertical", kWeights)}));

  const RecordRange periodicBlock{PeriodicParams::kOffset, PeriodicParams::kSize};
  PageRow pattern = Pick(5, "Type of Pattern", "periodicPattern");
  pattern.read = ReadPattern;
  pattern.readWhenPageEdited = true;
  Page smoothing = MakePage(
      140, {Pick(1, "Smoothing Function", "periodicFunction"),
            Val(2, "Iterations", "periodicIterations", Seq(1, 5)),
            Val(3, "Number of Points (2-16)", "periodicPoints", Seq(2, 7)),
            Val(4, "Radius or Period of Repetition", "periodicRadius", Seq(1, 9)), pattern});
  smoothing.alsoRestore = {periodicBlock};
  pages.push_back(std::move(smoothing));
  Page offsets = MakePage(141, {});
  for (int k = 0; k < PeriodicParams::kMaxPoints; ++k) {
    PageRow r = At(Val(k + 1, "", "periodicDx", {}), k);
    r.kind = RowKind::Custom;
    r.label = Format("dx%d, dy%d", k + 1, k + 1);
    r.show = ShowOffset;
    r.read = ReadOffset;
    offsets.rows.push_back(std::move(r));
  }
  offsets.alsoRestore = {periodicBlock};
  pages.push_back(std::move(offsets));
}

}  // namespace pages
