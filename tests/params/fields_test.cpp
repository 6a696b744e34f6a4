// The accepted values of the members, their choice lists and the access through the
// member table.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <string>

#include "params/fields.h"
#include "params/settings.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct AcceptCase {
  const char* member;
  double value;
  bool accepted;
};

// The boundaries the properties pages are known for, checked against the defaults record
// (members some rule looks at hold their defaults).
const AcceptCase kCases[] = {
    {"tileHeight", 16, false},
    {"tileHeight", 17, true},
    {"maximumCharacters", 4000, false},
    {"maximumCharacters", 5000, true},
    {"tiffBitDepth", 24, false},
    {"tiffBitDepth", 16, true},
    {"tiffBitDepth", 32, true},
    {"pngBitDepth", 12, false},
    {"pngBitDepth", 16, true},
    {"normalizationWeight", 10000, true},  // "Infinity"
    {"normalizationWeight", 10001, false},
    {"normalizationWeight", -1, false},
    {"normalizationWeight", 0, true},
    {"horizontalScaleFactor", 1.5, true},
    {"horizontalScaleFactor", 0, false},
    {"horizontalScaleFactor", -1, false},
    {"horizontalScaleFactor", kInf, false},
    {"bpOrder", -3, true},
    {"bpOrder", 6, false},
    {"xinLiWindowSize", 4, true},
    {"xinLiWindowSize", 5, false},
    {"xinLiWindowSize", 0, false},
    {"mbsScaleFactor", 0, true},
    {"mbsScaleFactor", 7, true},
    {"mbsScaleFactor", 1, false},
    {"mbsScaleFactor", 4, false},
    {"mbsScaleFactor", -3, false},
    {"windowlessPost.edgeSharpening", 4, true},  // "Medium Low"
    {"windowlessPost.edgeSharpening", 5, false},
    {"ddlPost.edgeSharpeningParam2", 0, false},
    {"ddlPost.edgeSharpeningParam2", 50, true},
    {"windowlessReductionMethod", -5, true},
    {"windowlessReductionMethod", 6, false},
    {"ddlBaseEnlargement", 15, true},
    {"ddlBaseEnlargement", 6, false},
    {"backprojectionModeFirstPass", 4, true},
    {"backprojectionModeFirstPass", 5, false},
    {"integerEnlargementScale", 1, false},
    {"integerEnlargementScale", 0, true},
    {"stairScaleIncrement", 1, false},
    {"stairScaleIncrement", 1.05, true},
    {"edgeSharpeningIters", 2, true},
    {"edgeSharpeningIters", 2.5, false},
    {"lookupElements", 600, false},
    {"lookupElements", 601, true},
    {"controlPoints", 1, false},
    {"controlPoints", 33, false},
    {"interpolateColorCoefficient", 1, false},
    {"interpolateColorCoefficient", 0, false},
    {"interpolateColorCoefficient", 0.5, true},
    {"addSubtractColorCoefficient", 2, true},
    {"addSubtractConstant", 1, true},
    {"addSubtractConstant", 1.01, false},
    {"levelsPercentile", 100, true},
    {"levelsPercentile", 101, false},
    {"levelsIncrement", 5, true},  // equal to the default percentile
    {"levelsIncrement", 5.5, false},
    {"scrollAmount", 0, false},
    {"scrollAmount", 2000, false},
    {"scrollAmount", -1024, true},
    {"paintCursorXOffset", 5, true},
    {"paintCursorXOffset", 6, false},
    {"fitBicubicParameter", 0.5, false},
    {"fitBicubicParameter", -1, true},
    {"queueColors", 0, false},
    {"queueColors", 6, false},
    {"autoregressiveWidth", 2, true},
    {"autoregressiveWidth", 1, false},
    {"bilateralWindowSize", 4, false},
    {"bilateralWindowSize", 5, true},
    {"jensenEdgeIterations", 0, false},
    {"isophoteCoefficient", 1, false},
    {"isophoteCoefficient", 0.99, true},
    {"isophoteMode", -1, true},
    {"isophoteMode", 2, false},
    {"xsharpenAmount", 1, true},
    {"xsharpenAmount", 1.01, false},
    {"motionBlurAngle", -90, true},
    {"motionBlurAngle", kNaN, false},
    {"motionBlurAngle", -kInf, false},
    {"nlMeansDistribution", 0, false},  // "None" is the bilateral filter's only
    {"bilateralDistribution", 0, true},
    {"ifsCbRangeBlockSize", 0, true},
    {"ifsCbRangeBlockSize", 1, false},
    {"ifsYRangeBlockSize", 0, false},
    {"ifsYParameter2", 0.5, false},
    {"ifsYParameter2", 0.499, true},
    {"ifsYDomainRatio", 4, false},
    {"ifsImageSizeMp", 13, false},
    {"psfType", 11, true},
    {"psfType", 12, false},
    {"customKernelHCount", 21, true},
    {"customKernelHCount", 22, false},
    {"periodicPoints", 16, true},
    {"periodicPoints", 1, false},
    {"blockAlignSize", 1, false},
    {"blockAlignSize", 8, true},
    {"blockAlignSize", 128, true},
    {"blockAlignSize", 129, false},
    {"stackLevelParams", -1, true},  // "Infinity"
    {"stackLevelParams", 16, true},
    {"stackLevelParams", 16.5, false},
    {"stackLevelParams", 0, false},
    {"fusionContrastExponent", -1, true},
    {"fusionContrastExponent", -0.5, false},
    {"fusionSaturationExponent", -12, true},
    {"fusionSaturationExponent", -12.5, false},
    {"stackScaleLevels", 1, true},
    {"stackScaleLevels", 9, false},
    {"alignMinScale", 0.5, true},
    {"alignMinScale", 1, true},
    {"alignMaxScale", 0.99, false},
    {"multivariateMedianIterations", 99, false},
    {"stackMode", 8, true},
    {"stackMode", 9, false},
    {"hdrColorSpace", 0x20000, true},
    {"hdrColorSpace", 0x400000, true},
    {"hdrColorSpace", 0x200000, true},
    {"hdrColorSpace", 0x20007, false},  // a code word with visible channels is not stored
    {"hdrColorSpace", 0x10, false},
    {"operationCount", 0, false},
    {"operationCount", 26, false},
    {"operationIndex", 24, true},
    {"operationIndex", 25, false},
    {"stepCount", 32, true},
    {"stepCount", 33, false},
    {"capacity", 31, false},
    {"autoQuery", 2, false},
    {"stepIsF3", 1, true},
    {"version", kNaN, true},  // judged by the start-up, not here
    {"reserved", 4294967295.0, true},
    {"fitsCompression", -7, true},
};

TEST(FieldAcceptTest, EachMemberAcceptsItsRange) {
  for (const AcceptCase& c : kCases) {
    EXPECT_EQ(Accepts(FieldNamed(c.member), c.value, DefaultSettings()), c.accepted)
        << c.member << " " << c.value;
  }
}

// The number of control points must divide the lookup table evenly, with the lookup
// table the record holds at the time.
TEST(FieldAcceptTest, ControlPointsDependOnTheLookupTable) {
  auto s = std::make_unique<Settings>(DefaultSettings());
  const Field& points = FieldNamed("controlPoints");
  for (int n : {3, 5, 7, 9, 11, 21, 31}) EXPECT_TRUE(Accepts(points, n, *s)) << n;
  s->basic.lookupElements = 2001;
  EXPECT_FALSE(Accepts(points, 7, *s));
  EXPECT_FALSE(Accepts(points, 31, *s));
  EXPECT_TRUE(Accepts(points, 21, *s));

  // A file pairing 2001 lookup elements with 7 points keeps the elements and drops the
  // points to their default.
  s->basic.controlPoints = 7;
  EXPECT_EQ(s->Validate(), 1);
  EXPECT_EQ(s->basic.lookupElements, 2001);
  EXPECT_EQ(s->basic.controlPoints, 5);
}

TEST(FieldAcceptTest, EveryDefaultIsAcceptedButTheUnsetOutputSize) {
  const std::set<std::string> unset = {"outputWidth", "outputHeight"};
  for (const Field& f : SettingsFields()) {
    for (int i = 0; i < f.count; ++i) {
      if (f.type == FieldType::Text) {
        EXPECT_TRUE(AcceptsText(f, ReadText(DefaultSettings(), f, i))) << f.name;
      } else {
        EXPECT_EQ(Accepts(f, ReadNumber(DefaultSettings(), f, i), DefaultSettings()),
                  !unset.contains(f.name))
            << f.name << "[" << i << "]";
      }
    }
  }
  auto copy = std::make_unique<Settings>(DefaultSettings());
  EXPECT_EQ(copy->Validate(), 0);
}

TEST(FieldAcceptTest, TextMembers) {
  const Field& suffix = FieldNamed("batchSuffix");
  EXPECT_TRUE(AcceptsText(suffix, ""));
  EXPECT_TRUE(AcceptsText(suffix, ".Batch"));
  EXPECT_TRUE(AcceptsText(suffix, std::string(64, 'x')));
  EXPECT_FALSE(AcceptsText(suffix, std::string(65, 'x')));
  for (const char* bad : {"a/b", "/", "\\x", "..", "x..y"}) {
    EXPECT_FALSE(AcceptsText(suffix, bad)) << bad;
  }

  const Field& extension = FieldNamed("batchExtension");
  for (const char* ok : {"PNG", "JPG", "BMP", "FIT", "TIF", "GIF", "IFS"}) {
    EXPECT_TRUE(AcceptsText(extension, ok)) << ok;
  }
  for (const char* bad : {"jpg", "", "PNG ", "TIFF"}) {
    EXPECT_FALSE(AcceptsText(extension, bad)) << bad;
  }

  const Field& names = FieldNamed("stepNames");
  EXPECT_TRUE(AcceptsText(names, std::string(49, 'n')));
  EXPECT_FALSE(AcceptsText(names, std::string(50, 'n')));  // no room for the terminator
}

TEST(FieldAcceptTest, ChoiceListsMapNamesAndCodesBothWays) {
  for (const Field& f : SettingsFields()) {
    const ChoiceList* list = f.accept.choices;
    if (!list) continue;
    std::set<std::string> names;
    std::set<int32_t> codes;
    for (const Choice& c : *list) {
      EXPECT_TRUE(names.insert(c.name).second) << f.name << " " << c.name;
      EXPECT_TRUE(codes.insert(c.code).second) << f.name << " " << c.code;
      EXPECT_EQ(list->CodeOf(c.name), c.code);
      EXPECT_STREQ(list->NameOf(c.code), c.name);
    }
  }
  const ChoiceList& sharpening = *FieldNamed("ddlPost.edgeSharpening").accept.choices;
  EXPECT_EQ(sharpening.CodeOf("Medium Low"), 4);
  EXPECT_EQ(sharpening.CodeOf("medium low"), std::nullopt);
  EXPECT_EQ(FieldNamed("stackMode").accept.choices->CodeOf("Pyramid Fusion"), 6);
  EXPECT_STREQ(FieldNamed("precedence").accept.choices->NameOf(4),
               "Verical Scale (Maintain Aspect Ratio)");
  EXPECT_EQ(FieldNamed("printInterpolationMode").accept.choices->NameOf(5), nullptr);
  EXPECT_STREQ(FieldNamed("windowless16Parameters").accept.choices->NameOf(1), "16");
  EXPECT_EQ(FieldNamed("hdrColorSpace").accept.choices->CodeOf("YCbCr Gamma X"), 0x200000);
}

TEST(FieldAccessTest, ReadAndWriteThroughTheTable) {
  auto s = std::make_unique<Settings>(DefaultSettings());
  WriteNumber(*s, FieldNamed("horizontalScaleFactor"), 1.0 / 3.0);
  EXPECT_EQ(s->resize.horizontalScaleFactor, 1.0 / 3.0);
  WriteNumber(*s, FieldNamed("stackLevelParams"), 12.5, 7);
  EXPECT_EQ(s->stack.stackLevelParams[7], 12.5f);
  WriteNumber(*s, FieldNamed("pseudoInversePost.jaggyRemoval"), 0.25);
  EXPECT_EQ(s->resize.pseudoInversePost.jaggyRemoval, 0.25f);
  // Integers saturate rather than wrap.
  WriteNumber(*s, FieldNamed("tileHeight"), 1e12);
  EXPECT_EQ(s->resize.tileHeight, std::numeric_limits<int32_t>::max());
  WriteNumber(*s, FieldNamed("backgroundColor"), 300, 2);
  EXPECT_EQ(s->basic.backgroundColor[2], 255);
  EXPECT_EQ(ReadNumber(*s, FieldNamed("centerCrossColor"), 2), 255);
  EXPECT_THROW(ReadNumber(*s, FieldNamed("stepIds"), 32), std::out_of_range);
  EXPECT_THROW(FieldNamed("noSuchMember"), std::out_of_range);

  const Field& suffix = FieldNamed("batchSuffix");
  EXPECT_TRUE(WriteText(*s, suffix, ".0"));
  EXPECT_EQ(ReadText(*s, suffix), ".0");
  EXPECT_FALSE(WriteText(*s, suffix, std::string(256, 'x')));
  EXPECT_EQ(ReadText(*s, suffix), ".0");
  EXPECT_TRUE(WriteText(*s, FieldNamed("stepNames"), "Lanczos (F2)", 3));
  EXPECT_STREQ(s->program.stepNames[3], "Lanczos (F2)");

  RestoreDefault(*s, FieldNamed("stackLevelParams"));
  EXPECT_EQ(s->stack.stackLevelParams[7], -1.0f);
}

// With custom settings off, the plane fields follow the image size and quality; with
// them on, hand-edited values stay.
TEST(IfsPresetTest, SizeAndQualityDeriveThePlaneFields) {
  IfsParams ifs{};
  ifs.Reset();
  ifs.ifsImageSizeMp = 3;
  ifs.ifsImageQuality = 4;  // High
  ifs.ApplyPreset();
  EXPECT_EQ(ifs.ifsYParameter1, static_cast<float>(0.046875 / 3));
  EXPECT_EQ(ifs.ifsYParameter2, static_cast<float>(0.01 / 3));
  EXPECT_EQ(ifs.ifsCbParameter1, static_cast<float>(0.046875 / 3));
  EXPECT_EQ(ifs.ifsCrParameter2, static_cast<float>(0.002 / 3));
  EXPECT_EQ(ifs.ifsYErrorCorrections, 5);
  EXPECT_EQ(ifs.ifsSharpeningFactor, 0);
  EXPECT_EQ(ifs.ifsYRangeBlockSize, 5);

  ifs.ifsImageSizeMp = 0;
  ifs.ifsImageQuality = 0;  // Low
  ifs.ApplyPreset();
  EXPECT_EQ(ifs.ifsYParameter1, 0.25f);
  EXPECT_EQ(ifs.ifsCbParameter2, 0.005f);
  EXPECT_EQ(ifs.ifsYErrorCorrections, 0);
  EXPECT_EQ(ifs.ifsSharpeningFactor, 8);

  ifs.ifsUseCustomSettings = 1;
  ifs.ifsYParameter1 = 0.5f;
  ifs.ifsImageQuality = 1;
  ifs.ApplyPreset();
  EXPECT_EQ(ifs.ifsYParameter1, 0.5f);
  EXPECT_EQ(ifs.ifsSharpeningFactor, 8);
}

TEST(PeriodicPatternTest, PatternsFillTheOffsetPairs) {
  PeriodicParams p{};
  p.SetDefaults();
  p.periodicDx[15] = 4;
  p.ApplyPattern(1);  // Honeycomb
  const int32_t honeyX[] = {0, 10, 5, -5, -10, -5, 5};
  const int32_t honeyY[] = {0, 0, 9, 9, 0, -9, -9};
  EXPECT_EQ(p.periodicPoints, 7);
  EXPECT_EQ(p.periodicPattern, 1);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(p.periodicDx[i], i < 7 ? honeyX[i] : 0) << i;
    EXPECT_EQ(p.periodicDy[i], i < 7 ? honeyY[i] : 0) << i;
  }

  p.periodicRadius = 2.4f;
  p.ApplyPattern(2);  // Crosshatch
  const int32_t crossX[] = {0, 2, 2, 0, -2, -2, -2, 0, 2};
  const int32_t crossY[] = {0, 0, 2, 2, 2, 0, -2, -2, -2};
  EXPECT_EQ(p.periodicPoints, 9);
  EXPECT_EQ(p.periodicPattern, 2);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(p.periodicDx[i], crossX[i]) << i;
    EXPECT_EQ(p.periodicDy[i], crossY[i]) << i;
  }

  p.ApplyPattern(0);  // Custom keeps the pairs
  EXPECT_EQ(p.periodicPattern, 0);
  EXPECT_EQ(p.periodicDx[8], 2);
  EXPECT_EQ(p.periodicPoints, 9);

  p.periodicRadius = 1e30f;
  p.ApplyPattern(1);
  EXPECT_EQ(p.periodicDx[1], std::numeric_limits<int32_t>::max());
  EXPECT_EQ(p.periodicDx[4], -std::numeric_limits<int32_t>::max());
}

}  // namespace
