// The rows of the pages: what a typed text stores, table-driven over the edge cases of
// each group of pages, and the rows with rules of their own.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "params/dialog2.h"
#include "params/settings.h"
#include "support/zep_test.h"

namespace {

struct Preset {
  const char* member;
  double value;
};

struct RowCase {
  int page;
  int row;
  const char* text;
  const char* member;
  std::optional<double> stored;  // unset: the member keeps its value
  int element = 0;
  std::vector<Preset> presets = {};
};

const RowCase kRowCases[] = {
    // Files and batch runs.
    {5, 4, "4000", "maximumCharacters", {}},
    {5, 4, "5000", "maximumCharacters", 5000},
    {6, 1, "24", "tiffBitDepth", {}},
    {6, 1, "32", "tiffBitDepth", 32},
    {5, 1, "true", "overwriteInputFile", 0, 0, {{"overwriteInputFile", 1}}},
    {110, 1, "true", "noFloatBuffersOnRead", {}, 0, {{"noFloatBuffersOnRead", 1}}},
    {110, 1, "True", "noFloatBuffersOnRead", 1},
    {3, 2, "RGB", "jpegColorSpace", 2},
    {3, 2, "rgb", "jpegColorSpace", {}},
    {4, 1, "16 bit unsigned", "fitsBitDepth", 20},
    // Resizing.
    {20, 6, "16", "tileHeight", {}},
    {20, 6, "17", "tileHeight", 17},
    {20, 6, "  +40 px", "tileHeight", 40},
    {29, 2, "Lanczoz", "pseudoInverseReduction", 3, 0, {{"pseudoInverseReduction", 0}}},
    {28, 2, "Lanczoz", "windowlessBaseEnlargement", 7},
    {21, 7, "Lanczoz", "backprojectionModeFirstPass", {}, 0, {{"backprojectionModeFirstPass", 2}}},
    {21, 8, "ycbcr", "shortcut", {}, 0, {{"shortcut", 2}}},
    {27, 5, "ycbcr", "windowlessShortcut", 1, 0, {{"windowlessShortcut", 2}}},
    {27, 2, "16", "windowless16Parameters", 1, 0, {{"windowless16Parameters", 0}}},
    {27, 2, "8", "windowless16Parameters", 0},
    {22, 4, "Infinity", "normalizationWeight", 10000},
    {22, 4, "20000", "normalizationWeight", 10000},
    {22, 4, "-1", "normalizationWeight", {}, 0, {{"normalizationWeight", 5}}},
    {22, 4, "inf", "normalizationWeight", {}},
    {30, 3, "3*0.5", "horizontalScaleFactor", 1.5},
    {30, 3, "0", "horizontalScaleFactor", {}},
    {30, 3, "-2", "horizontalScaleFactor", {}},
    {30, 3, "1/0", "horizontalScaleFactor", {}},
    {21, 6, "-3", "bpOrder", -3},
    {21, 6, "6", "bpOrder", {}},
    {21, 11, "3", "edgeSharpeningIters", 3},
    {22, 1, "4", "xinLiWindowSize", 4},
    {22, 1, "5", "xinLiWindowSize", {}},
    {25, 1, "0", "mbsScaleFactor", 0},
    {25, 1, "7", "mbsScaleFactor", 7},
    {25, 1, "1", "mbsScaleFactor", {}},
    {25, 1, "4", "mbsScaleFactor", {}},
    {28, 5, "Medium Low", "windowlessPost.edgeSharpening", 4},
    {35, 1, "1.1", "stairScaleIncrement", static_cast<double>(1.1f)},
    {35, 5, "Lanczos", "stairUsesLanczos", 1},
    {35, 5, "lanczos", "stairUsesLanczos", 0, 0, {{"stairUsesLanczos", 1}}},
    {81, 1, "-5", "seamWidth", -5},
    // Basic, geometry and layer.
    {38, 8, "600", "lookupElements", {}},
    {38, 9, "7", "controlPoints", 7, 0, {{"lookupElements", 601}}},
    {38, 9, "31", "controlPoints", 31, 0, {{"lookupElements", 601}}},
    {38, 9, "7", "controlPoints", {}, 0, {{"lookupElements", 2001}}},
    {38, 9, "31", "controlPoints", {}, 0, {{"lookupElements", 2001}}},
    {38, 9, "21", "controlPoints", 21, 0, {{"lookupElements", 2001}}},
    {38, 9, "1", "controlPoints", {}},
    {15, 1, "1", "interpolateColorCoefficient", {}},
    {15, 1, "0", "interpolateColorCoefficient", {}},
    {14, 1, "2", "addSubtractColorCoefficient", 2},
    {12, 1, "-1, 1.0001", "multiplyDivideConstant", -1},
    {42, 1, "nan", "rotationAngle", {}},
    {64, 7, "100", "levelsPercentile", 100},
    {64, 7, "101", "levelsPercentile", {}},
    {64, 8, "5", "levelsIncrement", 5, 0, {{"levelsPercentile", 5}}},
    {64, 8, "5.5", "levelsIncrement", {}, 0, {{"levelsPercentile", 5}}},
    {64, 13, "LAD", "waveletMatchLad", 1},
    {64, 13, "lad", "waveletMatchLad", 0, 0, {{"waveletMatchLad", 1}}},
    // Masks, view, options.
    {114, 1, "0", "scrollAmount", {}},
    {114, 1, "2000", "scrollAmount", {}},
    {114, 1, "-1024", "scrollAmount", -1024},
    {93, 7, "5", "paintCursorXOffset", 5},
    {93, 7, "6", "paintCursorXOffset", {}},
    {92, 3, "0.5", "fitBicubicParameter", {}},
    {92, 3, "-1", "fitBicubicParameter", -1},
    {71, 3, "0", "queueColors", {}},
    {71, 3, "6", "queueColors", {}},
    {76, 1, "2", "autoregressiveWidth", 2},
    {76, 1, "1", "autoregressiveWidth", {}},
    {-1, 1, "False", "autoQuery", 0},
    // Filters.
    {55, 1, "4", "bilateralWindowSize", {}},
    {55, 1, "5", "bilateralWindowSize", 5},
    {55, 3, "gaussian", "bilateralDistribution", {}},
    {55, 3, "Gaussian", "bilateralDistribution", 3},
    {57, 6, "0", "jensenEdgeIterations", {}},
    {56, 2, "1", "isophoteCoefficient", {}},
    {56, 2, "0.99", "isophoteCoefficient", 0.99},
    {105, 4, "1", "xsharpenAmount", 1},
    {105, 4, "1.01", "xsharpenAmount", {}},
    {52, 5, "-90", "motionBlurAngle", -90},
    // IFS, deconvolution.
    {123, 1, "0", "ifsCbRangeBlockSize", 0},
    {123, 1, "1", "ifsCbRangeBlockSize", {}},
    {122, 1, "0", "ifsYRangeBlockSize", {}},
    {122, 5, "0.5", "ifsYParameter2", {}},
    {122, 5, "0.499", "ifsYParameter2", 0.499},
    {137, 2, "Box", "psfType", 5},
    {137, 2, "my Bicubic kernel", "psfType", 11},
    {137, 2, "Lanczos15+Decimate", "psfType", 9},
    {137, 2, "Custom", "psfType", 10},
    {137, 2, "lens blur", "psfType", {}},
    {137, 1, "LS", "deconvMethod", 1},
    {137, 1, "Whatever", "deconvMethod", 0},
    {137, 9, "yes", "deconvUseScratchDisk", 0, 0, {{"deconvUseScratchDisk", 1}}},
    // Stacking.
    {73, 1, "1", "blockAlignSize", {}},
    {73, 1, "8", "blockAlignSize", 8},
    {73, 1, "128", "blockAlignSize", 128},
    {73, 1, "129", "blockAlignSize", {}},
    {65, 11, "Infinity", "stackLevelParams", -1, 2},
    {65, 11, "16", "stackLevelParams", 16, 2},
    {65, 11, "16.5", "stackLevelParams", {}, 2},
    {61, 1, "Infinity", "fusionContrastExponent", -1},
    {61, 2, "-12", "fusionSaturationExponent", -12},
    {61, 2, "-12.5", "fusionSaturationExponent", {}},
    {65, 8, "1", "stackScaleLevels", 1},
    {65, 8, "9", "stackScaleLevels", {}},
    {68, 10, "0.5", "alignMinScale", 0.5},
    {68, 10, "1", "alignMinScale", 1},
    {68, 11, "0.99", "alignMaxScale", {}},
    {65, 2, "99", "multivariateMedianIterations", {}},
};

class PagesTest : public ZepTest {};

TEST_F(PagesTest, TypedTextStoresOrKeeps) {
  for (const RowCase& c : kRowCases) {
    SCOPED_TRACE(testing::Message()
                 << "page " << c.page << " row " << c.row << " text \"" << c.text << "\"");
    auto record = std::make_unique<Settings>(DefaultSettings());
    for (const Preset& p : c.presets) WriteNumber(*record, FieldNamed(p.member), p.value);
    const Field& field = FieldNamed(c.member);
    const double before = ReadNumber(*record, field, c.element);
    // What the member holds for the expected value (floats round).
    auto expected = std::make_unique<Settings>(*record);
    if (c.stored) WriteNumber(*expected, field, *c.stored, c.element);
    const double want = c.stored ? ReadNumber(*expected, field, c.element) : before;

    Dialog2 dialog(*record);
    dialog.ShowPage(c.page);
    dialog.SetText(c.row, c.text);
    EXPECT_TRUE(dialog.PressOk());
    EXPECT_EQ(ReadNumber(*record, field, c.element), want);
  }
}

TEST_F(PagesTest, TextRows) {
  auto record = std::make_unique<Settings>(DefaultSettings());
  Dialog2 dialog(*record);
  auto type = [&](int row, const std::string& text) {
    dialog.ShowPage(5);
    dialog.SetText(row, text);
    EXPECT_TRUE(dialog.PressOk());
  };
  type(2, "TIF");
  EXPECT_STREQ(record->file.batchExtension, "TIF");
  type(2, "jpg");  // case matters; anything else falls back to PNG
  EXPECT_STREQ(record->file.batchExtension, "PNG");
  type(3, ".v2");
  EXPECT_STREQ(record->file.batchSuffix, ".v2");
  type(3, std::string(65, 'a'));
  EXPECT_STREQ(record->file.batchSuffix, ".v2");
  // The suffix becomes part of output file names: nothing that leaves the folder.
  for (const char* bad : {"/tmp/x", "..", "a\\b"}) {
    type(3, bad);
    EXPECT_STREQ(record->file.batchSuffix, ".v2") << bad;
  }
  type(3, std::string(64, 'a'));
  EXPECT_EQ(std::string(record->file.batchSuffix), std::string(64, 'a'));
  type(3, "");
  EXPECT_STREQ(record->file.batchSuffix, "");
}

TEST_F(PagesTest, ColourRows) {
  struct Case {
    const char* text;
    uint8_t r, g, b;
  };
  const Case cases[] = {{"300,0,0", 44, 0, 0}, {"1.9, -1, 255", 1, 255, 255},
                        {"10,20", 1, 2, 3},    {"10,20,30,40", 1, 2, 3},
                        {"a,b,c", 1, 2, 3},    {"2*3,100/4,7", 6, 25, 7}};
  for (const Case& c : cases) {
    auto record = std::make_unique<Settings>(DefaultSettings());
    const uint8_t start[3] = {1, 2, 3};
    std::memcpy(record->basic.backgroundColor, start, 3);
    Dialog2 dialog(*record);
    dialog.ShowPage(38);
    EXPECT_EQ(dialog.Text(11), "1,2,3");
    dialog.SetText(11, c.text);
    EXPECT_TRUE(dialog.PressOk());
    EXPECT_EQ(record->basic.backgroundColor[0], c.r) << c.text;
    EXPECT_EQ(record->basic.backgroundColor[1], c.g) << c.text;
    EXPECT_EQ(record->basic.backgroundColor[2], c.b) << c.text;
  }
}

TEST_F(PagesTest, ShownForms) {
  auto record = std::make_unique<Settings>(DefaultSettings());
  record->print.printInterpolationMode = 5;
  record->resize.normalizationWeight = 10000;
  record->stack.stackLevelParams[2] = -1;
  record->basic.endPointWeight = 1e-12f;
  record->resize.outputWidth = 0;
  Dialog2 dialog(*record);
  dialog.ShowPage(94);
  EXPECT_EQ(dialog.Text(3), "Driver");
  dialog.ShowPage(22);
  EXPECT_EQ(dialog.Text(4), "Infinity");
  EXPECT_EQ(dialog.Text(2), "1.0");  // "%.1f"
  dialog.ShowPage(65);
  EXPECT_EQ(dialog.Text(11), "Infinity");
  EXPECT_EQ(dialog.Label(11), "Level 3 Param.");
  dialog.ShowPage(38);
  EXPECT_EQ(dialog.Text(6), "0.100000");
  EXPECT_EQ(dialog.Text(5), "1.000000e-12");
  dialog.ShowPage(81);
  EXPECT_EQ(dialog.Text(3), "1.000000e+16");
  dialog.ShowPage(35);
  EXPECT_EQ(dialog.Text(5), "Bicubic");
  dialog.ShowPage(122);
  EXPECT_EQ(dialog.Label(8), "Ey: Range Block Size");
  EXPECT_EQ(dialog.Label(15), "Y & E: Sharpening Factor");
  dialog.ShowPage(137);
  EXPECT_EQ(dialog.Text(2), "Lens Blur");
}

// The precedence row is read before the sizes on page 30; the control-point rule sees
// the lookup size typed on the same page.
TEST_F(PagesTest, RowsThatDependOnEarlierRows) {
  auto record = std::make_unique<Settings>(DefaultSettings());
  Dialog2 dialog(*record);
  dialog.ShowPage(38);
  dialog.SetText(8, "601");
  dialog.SetText(9, "7");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->basic.lookupElements, 601);
  EXPECT_EQ(record->basic.controlPoints, 7);

  ui.ExpectMessage("Please enter an integer.");
  dialog.ShowPage(30);
  dialog.SetText(7, "Width and Height");
  dialog.SetText(1, "wide");
  EXPECT_FALSE(dialog.PressOk());
  EXPECT_EQ(record->resize.precedence, 5);  // read before the row that stopped the page
}

TEST_F(PagesTest, IfsQualityPreset) {
  auto record = std::make_unique<Settings>(DefaultSettings());
  Dialog2 dialog(*record);
  dialog.ShowPage(121);
  dialog.SetText(3, "3");
  dialog.SetText(4, "High");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->ifs.ifsYParameter1, static_cast<float>(0.046875 / 3));
  EXPECT_EQ(record->ifs.ifsYParameter2, static_cast<float>(0.01 / 3));
  EXPECT_EQ(record->ifs.ifsCbParameter2, static_cast<float>(0.002 / 3));
  EXPECT_EQ(record->ifs.ifsYErrorCorrections, 5);

  // With custom settings on, hand-edited planes stay.
  dialog.ShowPage(121);
  dialog.SetText(2, "True");
  EXPECT_TRUE(dialog.PressOk());
  dialog.ShowPage(122);
  dialog.SetText(4, "0.5");
  EXPECT_TRUE(dialog.PressOk());
  dialog.ShowPage(121);
  dialog.SetText(3, "5");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->ifs.ifsYParameter1, 0.5f);
}

TEST_F(PagesTest, PeriodicPatternAndOffsets) {
  auto record = std::make_unique<Settings>(DefaultSettings());
  Dialog2 dialog(*record);
  dialog.ShowPage(140);
  dialog.SetText(3, "12");  // overridden by the pattern
  dialog.SetText(5, "Honeycomb");
  EXPECT_TRUE(dialog.PressOk());
  const int want[7][2] = {{0, 0}, {10, 0}, {5, 9}, {-5, 9}, {-10, 0}, {-5, -9}, {5, -9}};
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(record->periodic.periodicDx[k], want[k][0]) << k;
    EXPECT_EQ(record->periodic.periodicDy[k], want[k][1]) << k;
  }
  EXPECT_EQ(record->periodic.periodicPoints, 7);
  // A new radius alone lays the pattern out again.
  dialog.ShowPage(140);
  dialog.SetText(4, "2");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->periodic.periodicDx[1], 2);

  dialog.ShowPage(141);
  EXPECT_EQ(dialog.Text(2), "2, 0");
  EXPECT_EQ(dialog.Label(2), "dx2, dy2");
  const int32_t dx4 = record->periodic.periodicDx[3];
  const int32_t dy4 = record->periodic.periodicDy[3];
  dialog.SetText(1, "3");
  dialog.SetText(2, "-1.5, 2.7");
  dialog.SetText(3, "-1.5");
  dialog.SetText(4, "x");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->periodic.periodicDx[0], 3);
  EXPECT_EQ(record->periodic.periodicDy[0], 0);
  EXPECT_EQ(record->periodic.periodicDx[1], -2);  // rounded down in this row only
  EXPECT_EQ(record->periodic.periodicDy[1], 2);
  EXPECT_EQ(record->periodic.periodicDx[2], -1);
  EXPECT_EQ(record->periodic.periodicDx[3], dx4);  // "x" leaves the pair
  EXPECT_EQ(record->periodic.periodicDy[3], dy4);

  dialog.ShowPage(140);
  dialog.SetText(5, "Custom");
  EXPECT_TRUE(dialog.PressOk());
  EXPECT_EQ(record->periodic.periodicPattern, 0);
  EXPECT_EQ(record->periodic.periodicDx[0], 3);  // Custom keeps the typed pairs
}

}  // namespace
