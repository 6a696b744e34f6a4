#include "params/fields.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "params/colorcodes.h"
#include "params/settings.h"

const char* ChoiceList::NameOf(int32_t code) const {
  for (const Choice& c : *this) {
    if (c.code == code) return c.name;
  }
  return nullptr;
}

std::optional<int32_t> ChoiceList::CodeOf(std::string_view name) const {
  for (const Choice& c : *this) {
    if (name == c.name) return c.code;
  }
  return std::nullopt;
}

bool IsValidBatchSuffix(std::string_view text) {
  return text.size() <= 64 && text.find_first_of("/\\") == std::string_view::npos &&
         text.find("..") == std::string_view::npos;
}

bool IsBatchExtension(std::string_view text) {
  for (const char* e : {"PNG", "JPG", "BMP", "FIT", "TIF", "GIF", "IFS"}) {
    if (text == e) return true;
  }
  return false;
}

namespace {

constexpr Choice kJpegColorSpaces[] = {{"YCbCr", 3}, {"RGB", 2}, {"BW", 1}};
constexpr Choice kFitsDepths[] = {{"8 bit unsigned", 8},   {"16 bit signed", 16},
                                  {"16 bit unsigned", 20}, {"32 bit signed", 32},
                                  {"32 bit unsigned", 40}, {"32 bit floating point", -32}};
constexpr Choice kAnimationModes[] = {{"Forward", 0}, {"Backward", 1}, {"Forward and Backward", 2}};
constexpr Choice kResizeChannels[] = {{"X", 1}, {"Y", 2}, {"Z", 3}, {"Automatic", 0}};
constexpr Choice kKernels[] = {
    {"Box", 0}, {"Bilinear", 1}, {"Bicubic", 2}, {"Lanczos2", 3}, {"Lanczos3", 4}};
// The second back-projection pass reads codes 2 to 4 as wider kernels.
constexpr Choice kSecondPassKernels[] = {
    {"Box", 0}, {"Bilinear", 1}, {"Lanczos2", 2}, {"Lanczos3", 3}, {"Lanczos5", 4}};
constexpr Choice kReductions[] = {{"Bicubic(0)", -3},    {"Bicubic(-1)", -2}, {"Bicubic(-0.5)", -1},
                                  {"Bicubic(-1.5)", -4}, {"Bicubic(-2)", -5}, {"Box", 0},
                                  {"Bilinear", 1},       {"Lanczos2", 2},     {"Lanczos3", 3},
                                  {"Lanczos4", 4},       {"Lanczos5", 5}};
constexpr Choice kEnlargements[] = {{"Bicubic(0)", -3}, {"Bicubic(-1)", -2}, {"Bicubic(-0.5)", -1},
                                    {"Box", 0},         {"Bilinear", 1},     {"Lanczos2", 2},
                                    {"Lanczos3", 3},    {"Lanczos4", 4},     {"Lanczos5", 5},
                                    {"Lanczos7", 7},    {"Lanczos15", 15}};
constexpr Choice kShortcuts[] = {{"None", 0}, {"YCbCr", 1}, {"YCbCr2", 2}};
constexpr Choice kEdgeSharpening[] = {
    {"Off", 0}, {"Low", 1}, {"Medium Low", 4}, {"Medium", 2}, {"High", 3}};
constexpr Choice kPrecedences[] = {{"Width (Maintain Aspect Ratio)", 1},
                                   {"Height (Maintain Aspect Ratio)", 2},
                                   {"Horizontal Scale (Maintain Aspect Ratio)", 3},
                                   {"Verical Scale (Maintain Aspect Ratio)", 4},
                                   {"Width and Height", 5},
                                   {"Horizontal and Vertical Scale", 6}};
constexpr Choice kStairMethods[] = {{"Bicubic", 0}, {"Lanczos", 1}};
constexpr Choice kWindowlessParameters[] = {{"4", 0}, {"16", 1}};
constexpr Choice kPresetFunctions[] = {
    {"None", 0},          {"Linear", 1},         {"X^C", 2},           {"X^(1/C)", 3},
    {"1-(1-X)^(1/C)", 4}, {"1-(1-X)^C", 5},      {"(C+1)/(1+C/X)", 6}, {"CX/(C+1-X)", 7},
    {"Sigmoid", 8},       {"Inverse Sigmoid", 9}};
constexpr Choice kWaveletModes[] = {{"LS", 0}, {"LAD", 1}};
constexpr Choice kColorNorms[] = {{"L1", 1}, {"L2", 2}, {"Linf", 0}};
constexpr Choice kEdgeDetectionTypes[] = {{"Sobel", 0}, {"Prewitt", 1}, {"LoG", 2}};
constexpr Choice kCursorColors[] = {{"Reverse", 0}, {"White", 1}, {"Black", 2}};
constexpr Choice kInpaintChannels[] = {
    {"Combined", 4}, {"Automatic", 0}, {"X", 1}, {"Y", 2}, {"Z", 3}};
constexpr Choice kFitMethods[] = {{"ColorOnColor", 6}, {"Halftone", 0}, {"Triangulation", 1},
                                  {"Lanczos", 2},      {"Bicubic", 3},  {"Bilinear", 4},
                                  {"Box", 5}};
constexpr Choice kPrintModes[] = {{"Driver", 0}, {"Triangulation", 1}, {"Lanczos", 2}};
constexpr Choice kBilateralDistributions[] = {
    {"None", 0}, {"Cauchy", 1}, {"Laplace", 2}, {"Gaussian", 3}, {"Uniform", 4}};
constexpr Choice kNlMeansDistributions[] = {
    {"Cauchy", 1}, {"Laplace", 2}, {"Gaussian", 3}, {"Uniform", 4}};
constexpr Choice kEdgeChannels[] = {{"Automatic", 0}, {"X", 1}, {"Y", 2}, {"Z", 3}};
constexpr Choice kUnsharpModes[] = {
    {"Gaussian", 0}, {"Median", 1}, {"WMMR", 2}, {"Lens Blur", 3}, {"LoG", 4}};
constexpr Choice kIfsQualities[] = {
    {"Low", 0}, {"Medium Low", 1}, {"Medium", 2}, {"Medium High", 3}, {"High", 4}};
constexpr Choice kDeconvMethods[] = {{"LS", 1}, {"LAD", 0}, {"Convolve", 2}, {"Warning", 3}};
constexpr Choice kPsfTypes[] = {{"Identity", 0},          {"Lens Blur", 1},
                                {"Gaussian", 2},          {"Uniform", 3},
                                {"Custom", 10},           {"Decimate", 4},
                                {"Box+Decimate", 5},      {"Lanczos2+Decimate", 7},
                                {"Lanczos3+Decimate", 6}, {"Lanczos15+Decimate", 9},
                                {"Bilinear+Decimate", 8}, {"Bicubic+Decimate", 11}};
constexpr Choice kPeriodicFunctions[] = {
    {"Median", 0}, {"WMMR", 1}, {"WMMR-Average", 2}, {"Average", 3}};
constexpr Choice kPeriodicPatterns[] = {{"Custom", 0}, {"Honeycomb", 1}, {"Crosshatch", 2}};
constexpr Choice kStackModes[] = {{"Average", 0},        {"Median", 1},
                                  {"WMMR", 2},           {"Multivariate Median", 3},
                                  {"Extended DOF", 4},   {"Extended Dynamic Range", 5},
                                  {"Extended DOF 2", 7}, {"Extended DOF 3", 8},
                                  {"Pyramid Fusion", 6}};
constexpr Choice kHdrColorSpaces[] = {{"YCbCr", int32_t(cspace::kYCbCr)},
                                      {"YCbCr2", int32_t(cspace::kYCbCr2)},
                                      {"YCbCr Gamma X", int32_t(cspace::kYCbCrX)}};

constexpr ChoiceList kJpegColorSpaceList = MakeChoices(kJpegColorSpaces);
constexpr ChoiceList kFitsDepthList = MakeChoices(kFitsDepths);
constexpr ChoiceList kAnimationModeList = MakeChoices(kAnimationModes);
constexpr ChoiceList kResizeChannelList = MakeChoices(kResizeChannels);
constexpr ChoiceList kKernelList = MakeChoices(kKernels);
constexpr ChoiceList kSecondPassKernelList = MakeChoices(kSecondPassKernels);
constexpr ChoiceList kReductionList = MakeChoices(kReductions);
constexpr ChoiceList kEnlargementList = MakeChoices(kEnlargements);
constexpr ChoiceList kShortcutList = MakeChoices(kShortcuts);
constexpr ChoiceList kEdgeSharpeningList = MakeChoices(kEdgeSharpening);
constexpr ChoiceList kPrecedenceList = MakeChoices(kPrecedences);
constexpr ChoiceList kStairMethodList = MakeChoices(kStairMethods);
constexpr ChoiceList kWindowlessParameterList = MakeChoices(kWindowlessParameters);
constexpr ChoiceList kPresetFunctionList = MakeChoices(kPresetFunctions);
constexpr ChoiceList kWaveletModeList = MakeChoices(kWaveletModes);
constexpr ChoiceList kColorNormList = MakeChoices(kColorNorms);
constexpr ChoiceList kEdgeDetectionTypeList = MakeChoices(kEdgeDetectionTypes);
constexpr ChoiceList kCursorColorList = MakeChoices(kCursorColors);
constexpr ChoiceList kInpaintChannelList = MakeChoices(kInpaintChannels);
constexpr ChoiceList kFitMethodList = MakeChoices(kFitMethods);
constexpr ChoiceList kPrintModeList = MakeChoices(kPrintModes);
constexpr ChoiceList kBilateralDistributionList = MakeChoices(kBilateralDistributions);
constexpr ChoiceList kNlMeansDistributionList = MakeChoices(kNlMeansDistributions);
constexpr ChoiceList kEdgeChannelList = MakeChoices(kEdgeChannels);
constexpr ChoiceList kUnsharpModeList = MakeChoices(kUnsharpModes);
constexpr ChoiceList kIfsQualityList = MakeChoices(kIfsQualities);
constexpr ChoiceList kDeconvMethodList = MakeChoices(kDeconvMethods);
constexpr ChoiceList kPsfTypeList = MakeChoices(kPsfTypes);
constexpr ChoiceList kPeriodicFunctionList = MakeChoices(kPeriodicFunctions);
constexpr ChoiceList kPeriodicPatternList = MakeChoices(kPeriodicPatterns);
constexpr ChoiceList kStackModeList = MakeChoices(kStackModes);
constexpr ChoiceList kHdrColorSpaceList = MakeChoices(kHdrColorSpaces);

// The curve's lookup table must divide evenly between the control points; the range
// check before this rule has made sure there are at least three.
bool ControlPointsFitLookup(double v, const Settings& s) {
  return s.basic.lookupElements >= 1 &&
         (s.basic.lookupElements - 1) % (static_cast<int>(v) - 1) == 0;
}
bool WithinPercentile(double v, const Settings& s) { return v <= s.layer.levelsPercentile; }
bool InsideOperationList(double v, const Settings& s) { return v < s.operationCount; }
// F2 or F3 as the operation they send would send itself without end.
bool NotF2F3(double v, const Settings&) { return !IsF2F3Command(int(v)); }
bool HdrColorSpace(double v, const Settings&) {
  return IsHdrColorSpaceCode(static_cast<int32_t>(v));
}

template <class M>
constexpr Field MakeField(const char* name, size_t offset, Accept accept, bool flag) {
  using E = std::remove_all_extents_t<M>;
  const auto off = static_cast<uint32_t>(offset);
  if constexpr (std::is_same_v<E, char>) {
    // A text, or an array of texts: the last extent is the text's size.
    constexpr size_t size = std::extent_v<M, std::rank_v<M> - 1>;
    return Field{name,
                 off,
                 FieldType::Text,
                 static_cast<uint16_t>(sizeof(M) / size),
                 static_cast<uint16_t>(size),
                 accept};
  } else {
    FieldType type;
    if constexpr (std::is_same_v<E, uint8_t>) {
      type = flag ? FieldType::Flag : FieldType::Byte;
    } else if constexpr (std::is_same_v<E, int32_t>) {
      type = FieldType::Int32;
    } else if constexpr (std::is_same_v<E, uint32_t>) {
      type = FieldType::UInt32;
    } else if constexpr (std::is_same_v<E, float>) {
      type = FieldType::Float;
    } else {
      static_assert(std::is_same_v<E, double>);
      type = FieldType::Double;
    }
    return Field{name,
                 off,
                 type,
                 static_cast<uint16_t>(sizeof(M) / sizeof(E)),
                 static_cast<uint16_t>(sizeof(E)),
                 accept};
  }
}

#define REC(block, member) (offsetof(Settings, block) + offsetof(decltype(Settings::block), member))
#define NUM(block, member, accept) \
  MakeField<decltype(decltype(Settings::block)::member)>(#member, REC(block, member), accept, false)
#define FLAG(block, member)                                                           \
  MakeField<decltype(decltype(Settings::block)::member)>(#member, REC(block, member), \
                                                         FlagValues(), true)
#define HEAD(member, accept) \
  MakeField<decltype(Settings::member)>(#member, offsetof(Settings, member), accept, false)
#define HEADFLAG(member) \
  MakeField<decltype(Settings::member)>(#member, offsetof(Settings, member), FlagValues(), true)
#define POST(sub, member, accept)                 \
  MakeField<decltype(PostProcessParams::member)>( \
      #sub "." #member, REC(resize, sub) + offsetof(PostProcessParams, member), accept, false)
#define POSTS(sub)                                                        \
  POST(sub, reserved, AnyNumber()), POST(sub, superRezIters, AtLeast(0)), \
      POST(sub, edgeSharpeningParam1, Between(0, 0.5)),                   \
      POST(sub, edgeSharpeningParam2, AboveAtMost(0, 50)),                \
      POST(sub, jaggyRemoval, Between(0, 0.5)),                           \
      POST(sub, edgeSharpening, OneOf(kEdgeSharpeningList))
// The six fields of one plane of the IFS coder; the luminance plane must be coded, the
// others may be switched off with a range block size of 0.
#define IFSPLANE(p, rangeBlock)                                                                 \
  NUM(ifs, ifs##p##RangeBlockSize, rangeBlock), NUM(ifs, ifs##p##ErrorCorrections, AtLeast(0)), \
      NUM(ifs, ifs##p##DomainRatio, Between(2, 3)),                                             \
      NUM(ifs, ifs##p##Parameter1, AboveAtMost(0, 1)),                                          \
      NUM(ifs, ifs##p##Parameter2, Inside(0, 0.5)), NUM(ifs, ifs##p##MaxMultiplier, Above(0))

constexpr Field kFields[] = {
    // Header. The operation count comes before the index that must lie below it.
    HEADFLAG(conditional),
    HEADFLAG(soundOnCompletion),
    HEADFLAG(autoQuery),
    HEAD(reserved, Unchecked()),
    HEADFLAG(autoMenu),
    // The start-up version check must see the version as read.
    HEAD(version, Unchecked()),
    HEAD(operationList, AnyNumber().Rule(NotF2F3)),
    HEAD(operationCount, Between(1, Settings::kOperationSlots)),
    HEAD(operationIndex, AtLeast(0).Rule(InsideOperationList)),

    // FileParams
    NUM(file, pngBitDepth,
        Between(8, 16).Rule([](double v, const Settings&) { return v == 8 || v == 16; })),
    NUM(file, pngCompressionLevel, Between(0, 9)),
    NUM(file, jpegQuality, Between(0, 100)),
    NUM(file, jpegColorSpace, OneOf(kJpegColorSpaceList)),
    NUM(file, fitsBitDepth, OneOf(kFitsDepthList)),
    NUM(file, fitsCompression, AnyNumber()),
    FLAG(file, overwriteInputFile),
    NUM(file, batchSuffix, AnyText(IsValidBatchSuffix)),
    NUM(file, batchExtension, AnyText(IsBatchExtension)),
    NUM(file, maximumCharacters, AtLeast(5000)),
    FLAG(file, noFloatBuffersOnRead),
    NUM(file, tiffBitDepth, Between(8, 32).Rule([](double v, const Settings&) {
      return v == 8 || v == 16 || v == 32;
    })),
    NUM(file, animationDelay, AtLeast(0)),
    NUM(file, animationMode, OneOf(kAnimationModeList)),
    FLAG(file, destroyAlignmentTemplateAtEnd),
    FLAG(file, destroyContrastTemplateAtEnd),

    // ResizeParams
    FLAG(resize, useScratchDisk),
    FLAG(resize, centerToHalfPixel),
    NUM(resize, numberOfIterations, AtLeast(0)),
    NUM(resize, xinLiWindowSize, AtLeast(2).Even()),
    NUM(resize, jensenWindowSize, Between(3, 11)),
    NUM(resize, lanczosOrder, Between(2, 64)),
    NUM(resize, edgeDetectionParameter1, AtLeast(0)),
    NUM(resize, edgeDetectionParameter2, AtLeast(0)),
    NUM(resize, edgeBlurringParameter, AtLeast(0)),
    NUM(resize, bicubicSharpeningFactor, Between(-5, 0)),
    NUM(resize, xinLiBias, Above(0)),
    NUM(resize, outputWidth, AtLeast(1)),
    NUM(resize, outputHeight, AtLeast(1)),
    NUM(resize, horizontalScaleFactor, Above(0)),
    NUM(resize, verticalScaleFactor, Above(0)),
    NUM(resize, horizontalOffset, Between(-0.5, 0.5)),
    NUM(resize, verticalOffset, Between(-0.5, 0.5)),
    NUM(resize, precedence, OneOf(kPrecedenceList)),
    NUM(resize, dominantChannel, OneOf(kResizeChannelList)),
    NUM(resize, blurAmountForReductions, AtLeast(0)),
    NUM(resize, taperedWindowWeight, AnyNumber()),
    NUM(resize, normalizationWeight, Between(0, 10000).OrInfinity(10000)),
    FLAG(resize, specialMode),
    FLAG(resize, zhaoModified12thOrder),
    NUM(resize, zhaoAntialiasParameter, AtLeast(0)),
    FLAG(resize, kernelExpansionForReductions),
    NUM(resize, bpIterationsFirstPass, AtLeast(0)),
    NUM(resize, backprojectionModeFirstPass, OneOf(kKernelList)),
    NUM(resize, mbsScaleFactor, AtLeast(3).Odd().Or(0)),
    NUM(resize, oldDdlOrder, Between(0, 5)),
    NUM(resize, bpOrder, Between(-5, 5)),
    NUM(resize, stairScaleIncrement, Inside(1, 2)),
    Field{FLAG(resize, stairUsesLanczos)}.WithChoices(kStairMethodList),
    NUM(resize, tileHeight, AtLeast(17)),
    FLAG(resize, oldDdlHaloSuppression),
    NUM(resize, pyramidScaleIncrement, Inside(1, 2)),
    NUM(resize, pyramidSharpness, AtLeast(0)),
    NUM(resize, haloWidthFactor, Above(0)),
    NUM(resize, exitTolerance, AtLeast(0)),
    NUM(resize, regularizationAmount, AtLeast(0)),
    NUM(resize, edgeSharpeningIters, AtLeast(0).Whole()),
    NUM(resize, edgeSharpeningAmount, AtLeast(0)),
    NUM(resize, edgeRejection, AtLeast(0)),
    NUM(resize, bpIterationsSecondPass, AtLeast(0)),
    NUM(resize, backprojectionModeSecondPass, OneOf(kSecondPassKernelList)),
    NUM(resize, shortcut, OneOf(kShortcutList)),
    NUM(resize, presharpenReductionModel, OneOf(kKernelList)),
    NUM(resize, presharpenScaleFactor, Between(2, 9)),
    NUM(resize, presharpeningAmount, AtLeast(0)),
    NUM(resize, presharpenAmount, AtLeast(0)),
    NUM(resize, laplacianNondirectional, AtLeast(0)),
    NUM(resize, identityWeight, AtLeast(0)),
    NUM(resize, normalization, AtLeast(0)),
    NUM(resize, laplacianDirectional, AtLeast(0)),
    NUM(resize, cgIterations, AtLeast(0)),
    NUM(resize, windowlessSizeIters, AtLeast(0)),
    NUM(resize, windowlessBackProjIters, AtLeast(0)),
    NUM(resize, windowlessReductionMethod, OneOf(kReductionList)),
    NUM(resize, windowlessBaseEnlargement, OneOf(kEnlargementList)),
    NUM(resize, windowlessInverseSharpeningRadius, AtLeast(0)),
    NUM(resize, windowlessInverseSharpeningAmount, AnyNumber()),
    FLAG(resize, windowlessTestReductionParams),
    FLAG(resize, windowlessHaloSuppression),
    FLAG(resize, startingEstimate),
    Field{FLAG(resize, windowless16Parameters)}.WithChoices(kWindowlessParameterList),
    NUM(resize, windowlessShortcut, OneOf(kShortcutList)),
    POSTS(windowlessPost),
    NUM(resize, ddlSizeIters, AtLeast(0)),
    NUM(resize, ddlReductionMethod, OneOf(kReductionList)),
    NUM(resize, ddlBaseEnlargement, OneOf(kEnlargementList)),
    NUM(resize, ddlOrder, Between(0, 5)),
    NUM(resize, ddlBackProjIters, AtLeast(0)),
    NUM(resize, ddlShortcut, OneOf(kShortcutList)),
    FLAG(resize, ddlPresharpen),
    FLAG(resize, ddlTestReductionParams),
    NUM(resize, ddlInverseSharpeningRadius, AtLeast(0)),
    NUM(resize, ddlInverseSharpeningAmount, AnyNumber()),
    POSTS(ddlPost),
    NUM(resize, integerEnlargementScale, AtLeast(0).Except(1)),
    NUM(resize, pseudoInverseReduction, OneOf(kReductionList)),
    NUM(resize, pseudoInverseBaseEnlargement, OneOf(kEnlargementList)),
    NUM(resize, pseudoInverseShortcut, OneOf(kShortcutList)),
    NUM(resize, pseudoInverseSharpeningRadius, AtLeast(0)),
    NUM(resize, pseudoInverseSharpeningAmount, AnyNumber()),
    FLAG(resize, pseudoInverseTestReductionParams),
    POSTS(pseudoInversePost),
    NUM(resize, seamWidth, AnyNumber()),
    NUM(resize, seamHeight, AnyNumber()),
    NUM(resize, energyFunctionType, Between(0, 11)),
    NUM(resize, derivativeBlendingIterations, AtLeast(0)),
    FLAG(resize, updateEnergyFunction),
    FLAG(resize, useDiagonalDerivatives),
    NUM(resize, avoidanceEnergyValue, AnyNumber()),
    NUM(resize, removalEnergyValue, AnyNumber()),
    NUM(resize, blendingAvoidanceWeight, AtLeast(0)),

    // BasicParams
    NUM(basic, addSubtractConstant, AboveAtMost(0, 1)),
    NUM(basic, multiplyDivideConstant, AnyNumber()),
    NUM(basic, gamma, Above(0)),
    NUM(basic, addSubtractColorCoefficient, Above(0)),
    NUM(basic, interpolateColorCoefficient, Inside(0, 1)),
    NUM(basic, outlierSmoothingRadius, Between(0, 15)),
    NUM(basic, lookupElements, Above(0).Odd()),
    NUM(basic, controlPoints,
        Between(3, BasicParams::kMaxControlPoints).Odd().Rule(ControlPointsFitLookup)),
    NUM(basic, presetFunction, OneOf(kPresetFunctionList)),
    NUM(basic, presetParameter, Above(0)),
    NUM(basic, middlePointWeight, Above(0)),
    NUM(basic, endPointWeight, Above(0)),
    NUM(basic, curveValues, AnyNumber()),
    NUM(basic, differentialOrder, Between(1, 8)),
    NUM(basic, backgroundColor, AnyNumber()),
    NUM(basic, increasingCurveColor, AnyNumber()),
    NUM(basic, nonIncreasingCurveColor, AnyNumber()),
    NUM(basic, verticalLineColor, AnyNumber()),
    NUM(basic, horizontalLineColor, AnyNumber()),
    NUM(basic, centerCrossColor, AnyNumber()),
    FLAG(basic, constrainMonotoneIncreasing),
    FLAG(basic, directlyUsePresetFunction),
    FLAG(basic, forHdr),
    NUM(basic, colorSaturationControl, AtLeast(0)),
    NUM(basic, shiftAmount, AnyNumber()),

    // GeometryParams
    NUM(geometry, rotationAngle, AnyNumber()),
    NUM(geometry, rotationHorizontalOffset, AnyNumber()),
    NUM(geometry, rotationVerticalOffset, AnyNumber()),
    NUM(geometry, rotationAccuracyIterations, Between(0, 3)),
    NUM(geometry, twoPointAccuracyIterations, Between(0, 3)),
    NUM(geometry, fourPointAccuracyIterations, Between(0, 3)),
    FLAG(geometry, perspectiveCrop),
    NUM(geometry, blankWidth, Above(0)),
    NUM(geometry, blankHeight, Above(0)),
    NUM(geometry, blankRed, Between(0, 255)),
    NUM(geometry, blankGreen, Between(0, 255)),
    NUM(geometry, blankBlue, Between(0, 255)),

    // BlurParams
    NUM(blur, averageIterations, AtLeast(1)),
    NUM(blur, lensBlurIterations, AtLeast(1)),
    NUM(blur, lensBlurRadius, AtLeast(1)),
    FLAG(blur, lensBlurMaskedInput),
    NUM(blur, medianIterations, AtLeast(1)),
    FLAG(blur, medianMaskedInput),
    FLAG(blur, medianGaussianWeighted),
    NUM(blur, medianRadius, Above(0)),
    NUM(blur, wmmrIterations, AtLeast(1)),
    NUM(blur, wmmrRadius, AtLeast(1)),
    FLAG(blur, wmmrMaskedInput),
    NUM(blur, bilateralIterations, AtLeast(1)),
    NUM(blur, bilateralDistribution, OneOf(kBilateralDistributionList)),
    NUM(blur, bilateralWindowSize, AtLeast(3).Odd()),
    FLAG(blur, bilateralUseMedian),
    NUM(blur, bilateralSpreadFactor, Above(0)),
    NUM(blur, isophoteIterations, AtLeast(1)),
    NUM(blur, isophoteOffset, AtLeast(0)),
    NUM(blur, isophoteMode, Between(-1, 1)),
    NUM(blur, isophoteModulus, AtLeast(0)),
    NUM(blur, isophoteCoefficient, Inside(0, 1)),
    NUM(blur, jensenEdgeMode, Between(0, 1)),
    NUM(blur, jensenEdgeWindowSize, AtLeast(3).Odd()),
    NUM(blur, jensenEdgeDominantChannel, OneOf(kEdgeChannelList)),
    NUM(blur, jensenEdgeIterations, AtLeast(1)),
    NUM(blur, jensenEdgeSegments, Between(1, 32)),
    NUM(blur, jensenEdgeParameter1, AtLeast(0)),
    NUM(blur, jensenEdgeParameter2, AtLeast(0)),
    NUM(blur, jensenEdgeBlurring, AtLeast(0)),
    FLAG(blur, jensenEdgeDefringing),
    NUM(blur, unsharpRadius, AtLeast(1)),
    NUM(blur, unsharpMode, OneOf(kUnsharpModeList)),
    NUM(blur, unsharpAmount, Above(0)),
    NUM(blur, unsharpBlurThreshold, AtLeast(0)),
    NUM(blur, unsharpNoOpThreshold, AtLeast(0)),
    NUM(blur, unsharpSharpeningThreshold, AtLeast(0)),
    NUM(blur, gaussianSx, AtLeast(0)),
    NUM(blur, gaussianSy, AtLeast(0)),
    NUM(blur, xsharpenWindowSize, AtLeast(3).Odd()),
    NUM(blur, xsharpenIterations, AtLeast(1)),
    NUM(blur, xsharpenThreshold, Above(0)),
    NUM(blur, xsharpenAmount, AboveAtMost(0, 1)),
    NUM(blur, motionBlurDistance, Above(0)),
    NUM(blur, motionBlurAngle, AnyNumber()),
    NUM(blur, nlMeansThreshold, Above(0)),
    NUM(blur, nlMeansSearchRadius, AtLeast(1)),
    NUM(blur, nlMeansWindowRadius, AtLeast(1)),
    NUM(blur, nlMeansDistribution, OneOf(kNlMeansDistributionList)),
    FLAG(blur, nlMeansUseMedian),
    FLAG(blur, nlMeansCombinedChannels),
    FLAG(blur, nlMeansUseModification),
    NUM(blur, hysteresisIterations, AtLeast(1)),
    NUM(blur, hysteresisTolerance, Above(0)),
    FLAG(blur, hysteresisCombineChannels),
    FLAG(blur, hysteresisArtifactReduction),
    NUM(blur, hysteresisHaloIterations, AtLeast(0)),
    NUM(blur, fastBilateralRangeStdDev, Above(0)),
    NUM(blur, fastBilateralRadius, AtLeast(1)),
    NUM(blur, fastBilateralIterations, AtLeast(1)),
    FLAG(blur, fastBilateralCombineChannels),
    NUM(blur, poissonIterations, AtLeast(1)),
    NUM(blur, poissonSharpeningAmount, AtLeast(0)),
    NUM(blur, poissonScaleFactor, AtLeast(0)),

    // LayerParams
    NUM(layer, layerCoefficient, AnyNumber()),
    NUM(layer, canvasRed, AnyNumber()),
    NUM(layer, canvasGreen, AnyNumber()),
    NUM(layer, canvasBlue, AnyNumber()),
    NUM(layer, minimumForInclusion, AnyNumber()),
    NUM(layer, maximumForInclusion, AnyNumber()),
    NUM(layer, bottomLayerWeight, Inside(0, 1)),
    FLAG(layer, onlyMaskInput),
    NUM(layer, waveletLevels, AtLeast(0)),
    Field{FLAG(layer, waveletMatchLad)}.WithChoices(kWaveletModeList),
    NUM(layer, levelsPercentile, AboveAtMost(0, 100)),
    NUM(layer, levelsIncrement, Above(0).Rule(WithinPercentile)),
    NUM(layer, cloningIterations, AtLeast(0)),
    NUM(layer, cloningMode, Between(0, 4)),
    NUM(layer, outsideWeight, AtLeast(0)),
    NUM(layer, insideWeight, Above(0)),
    FLAG(layer, usePyramid),

    // MaskParams
    NUM(mask, colorTolerance, Above(0)),
    NUM(mask, colorToleranceIncrement, Above(0)),
    NUM(mask, queueColors, Between(1, 5)),
    NUM(mask, colorNorm, OneOf(kColorNormList)),
    NUM(mask, edgeTolerance, Above(0)),
    NUM(mask, edgeToleranceIncrement, Above(0)),
    NUM(mask, edgeDetectionType, OneOf(kEdgeDetectionTypeList)),
    NUM(mask, cursorRadius, AtLeast(0)),
    NUM(mask, cursorColor, OneOf(kCursorColorList)),
    NUM(mask, logStandardDeviation, Above(0)),
    NUM(mask, smoothMaskIterations, Above(0)),
    FLAG(mask, zeroNormalization),

    // ViewParams
    NUM(view, fitInterpolationMethod, OneOf(kFitMethodList)),
    NUM(view, fitLanczosOrder, Between(2, 64)),
    NUM(view, fitBicubicParameter, Between(-1, 0)),

    // RecordedProgram. Only the slots' bookkeeping is checked here; a snapshot is raw
    // bytes of some block and is checked as that block when it is copied back.
    NUM(program, capacity, Between(RecordedProgram::kSlots, RecordedProgram::kSlots)),
    NUM(program, stepCount, Between(0, RecordedProgram::kSlots)),
    NUM(program, stepNames, AnyText()),
    NUM(program, stepIds, AnyNumber().Rule(NotF2F3)),
    FLAG(program, stepIsF3),
    FLAG(program, stepShift),
    FLAG(program, stepCtrl),

    // BarPatternParams
    NUM(barPattern, horizontalBarWidth, AtLeast(0)),
    NUM(barPattern, horizontalBarSpacing, Above(0)),
    NUM(barPattern, horizontalBarOffset, AnyNumber()),
    NUM(barPattern, verticalBarWidth, AtLeast(0)),
    NUM(barPattern, verticalBarSpacing, Above(0)),
    NUM(barPattern, verticalBarOffset, AnyNumber()),
    FLAG(barPattern, offsetFromBottom),

    // IfsParams
    IFSPLANE(Y, AtLeast(2)),
    IFSPLANE(Ey, AtLeast(2).Or(0)),
    IFSPLANE(Cb, AtLeast(2).Or(0)),
    IFSPLANE(Cr, AtLeast(2).Or(0)),
    NUM(ifs, ifsScaleFactor, AtLeast(1)),
    NUM(ifs, ifsIterations, AtLeast(2)),
    NUM(ifs, ifsYMode, Between(0, 1)),
    NUM(ifs, ifsEyMode, Between(0, 1)),
    NUM(ifs, ifsCbMode, Between(0, 1)),
    NUM(ifs, ifsCrMode, Between(0, 1)),
    FLAG(ifs, ifsUseScratchDisk),
    NUM(ifs, ifsSharpeningFactor, AtLeast(0)),
    FLAG(ifs, ifsWarningMessage),
    FLAG(ifs, ifsUseCustomSettings),
    NUM(ifs, ifsImageSizeMp, Between(0, 12)),
    NUM(ifs, ifsImageQuality, OneOf(kIfsQualityList)),
    NUM(ifs, ifsTileWidth, AtLeast(50)),
    NUM(ifs, ifsTileHeight, AtLeast(50)),

    // PrintParams
    FLAG(print, horizontalCentering),
    FLAG(print, verticalCentering),
    NUM(print, printInterpolationMode, OneOf(kPrintModeList)),
    NUM(print, printLanczosOrder, Between(2, 64)),

    // InpaintParams
    NUM(inpaint, autoregressiveWidth, AtLeast(2)),
    NUM(inpaint, autoregressiveHeight, AtLeast(2)),
    NUM(inpaint, stepIterations, AtLeast(0)),
    NUM(inpaint, inpaintDominantChannel, OneOf(kInpaintChannelList)),
    NUM(inpaint, inpaintMode, Between(1, 2)),
    NUM(inpaint, recalculationInterval, AtLeast(1)),
    NUM(inpaint, enlargementScale, AtLeast(2)),
    NUM(inpaint, evenScaleOffset, AnyNumber()),
    NUM(inpaint, stepSize, AtLeast(0)),
    NUM(inpaint, inpaintStandardDeviation, AtLeast(0)),
    NUM(inpaint, inpaintParameter, Above(0)),
    NUM(inpaint, initializationExitTolerance, Above(0)),
    FLAG(inpaint, initialize),

    // RegularizationParams
    NUM(regularization, tschumperleIterations, AtLeast(1)),
    NUM(regularization, tschumperleMode, Between(1, 2)),
    NUM(regularization, tschumperleRecalcInterval, AtLeast(1)),
    NUM(regularization, tschumperleStdDev, AtLeast(0)),
    NUM(regularization, tschumperleBlurStep, AtLeast(0)),
    NUM(regularization, tschumperleEdgeStep, AtLeast(0)),
    NUM(regularization, tschumperleBlurParameter, Above(0)),
    NUM(regularization, tschumperleEdgeParameter, Above(0)),
    NUM(regularization, shockIterations, AtLeast(1)),
    NUM(regularization, shockStdDev, AtLeast(0)),
    NUM(regularization, shockStepSize, Above(0)),
    NUM(regularization, shockEdgeFactor, AtLeast(0)),

    // GammaParams
    NUM(gamma, colorSpaceGamma, Above(0)),
    NUM(gamma, paintCursorXOffset, Between(-5, 5)),
    NUM(gamma, paintCursorYOffset, Between(-5, 5)),

    // DeconvParams
    NUM(deconv, deconvMethod, OneOf(kDeconvMethodList)),
    NUM(deconv, lsMinIterations, AtLeast(1)),
    NUM(deconv, lsMaxIterations, AtLeast(1)),
    NUM(deconv, ladMaxIterations, AtLeast(1)),
    NUM(deconv, lsExitTolerance, AtLeast(0)),
    NUM(deconv, ladExitTolerance, AtLeast(0)),
    NUM(deconv, weightSlopesHV, AtLeast(0)),
    NUM(deconv, weightSlopesDiagonal, AtLeast(0)),
    NUM(deconv, weightCurvaturesHV, AtLeast(0)),
    NUM(deconv, weightCurvaturesDiagonal, AtLeast(0)),
    NUM(deconv, weightThirdOrderHV, AtLeast(0)),
    NUM(deconv, weightThirdOrderDiagonal, AtLeast(0)),
    NUM(deconv, weightCrossSlopesHV, AtLeast(0)),
    NUM(deconv, weightCrossSlopesDiagonal, AtLeast(0)),
    NUM(deconv, weightDdSlopesHVMax, AtLeast(0)),
    NUM(deconv, weightDdSlopesHVMin, AtLeast(0)),
    NUM(deconv, weightDdCurvesHVMax, AtLeast(0)),
    NUM(deconv, weightDdCurvesHVMin, AtLeast(0)),
    NUM(deconv, weightDdSlopesDMax, AtLeast(0)),
    NUM(deconv, weightDdSlopesDMin, AtLeast(0)),
    NUM(deconv, weightDdCurvesDMax, AtLeast(0)),
    NUM(deconv, weightDdCurvesDMin, AtLeast(0)),
    NUM(deconv, weightDdCurvesMax, AtLeast(0)),
    NUM(deconv, weightDdCurvesMin, AtLeast(0)),
    NUM(deconv, weightDdSlopesMax, AtLeast(0)),
    NUM(deconv, weightDdSlopesMin, AtLeast(0)),
    NUM(deconv, weightDd2CurvesMax, AtLeast(0)),
    NUM(deconv, weightDd2CurvesMin, AtLeast(0)),
    NUM(deconv, weightDd2SlopesMax, AtLeast(0)),
    NUM(deconv, weightDd2SlopesMin, AtLeast(0)),
    NUM(deconv, psfType, OneOf(kPsfTypeList)),
    NUM(deconv, psfLensBlurRadius, AtLeast(1)),
    NUM(deconv, psfGaussianStdDevH, AtLeast(0)),
    NUM(deconv, psfGaussianStdDevV, AtLeast(0)),
    NUM(deconv, psfUniformWidth, AtLeast(1)),
    NUM(deconv, psfUniformHeight, AtLeast(1)),
    FLAG(deconv, deconvUseScratchDisk),
    NUM(deconv, deconvScaleFactor, AtLeast(2)),
    NUM(deconv, deconvShortcut, OneOf(kShortcutList)),
    NUM(deconv, weightSlopesHorizontal, AtLeast(0)),
    NUM(deconv, weightCurvesHorizontal, AtLeast(0)),
    NUM(deconv, weightOrder3Horizontal, AtLeast(0)),
    NUM(deconv, weightSlopesVertical, AtLeast(0)),
    NUM(deconv, weightCurvesVertical, AtLeast(0)),
    NUM(deconv, weightOrder3Vertical, AtLeast(0)),
    NUM(deconv, customKernelH, AnyNumber()),
    NUM(deconv, customKernelV, AnyNumber()),
    NUM(deconv, customKernelHCount, Between(0, DeconvParams::kMaxKernel)),
    NUM(deconv, customKernelVCount, Between(0, DeconvParams::kMaxKernel)),
    FLAG(deconv, customKernelNormalize),
    NUM(deconv, psfBicubicFactor, Between(-1, 0)),
    NUM(deconv, tensorBlurStdDev, AtLeast(0)),

    // PeriodicParams
    NUM(periodic, periodicFunction, OneOf(kPeriodicFunctionList)),
    NUM(periodic, periodicIterations, AtLeast(1)),
    NUM(periodic, periodicPoints, Between(2, PeriodicParams::kMaxPoints)),
    NUM(periodic, periodicPattern, OneOf(kPeriodicPatternList)),
    NUM(periodic, periodicRadius, Above(0)),
    NUM(periodic, periodicDx, AnyNumber()),
    NUM(periodic, periodicDy, AnyNumber()),

    // StackParams
    NUM(stack, contrastTemplateLevels, AtLeast(0)),
    NUM(stack, stackReserved, AnyNumber()),
    NUM(stack, stackMode, OneOf(kStackModeList)),
    NUM(stack, multivariateMedianIterations, AtLeast(100)),
    NUM(stack, stackScaleLevels, Between(1, StackParams::kMaxLevels)),
    NUM(stack, stackLevelParams, AboveAtMost(0, 16).OrInfinity(-1)),
    FLAG(stack, edofScratchFiles),
    FLAG(stack, alignMorphologicalAccuracy),
    FLAG(stack, alignNoResizing),
    NUM(stack, alignErrorMode, Between(0, 2)),
    NUM(stack, alignInterpolationAccuracy, Between(0, 3)),
    NUM(stack, translationalInterpolationAccuracy, Between(0, 3)),
    NUM(stack, alignMinScale, Between(0.5, 1)),
    NUM(stack, alignMaxScale, Between(1, 2)),
    NUM(stack, blockAlignSize, Between(8, 128)),
    NUM(stack, translationalPrecision, AboveAtMost(0, 1)),
    NUM(stack, blockAlignSearchRadius, AboveAtMost(0, 10)),
    NUM(stack, blockAlignSmoothing, AtLeast(0)),
    NUM(stack, blockAlignInterpolationAccuracy, Between(0, 3)),
    NUM(stack, hdrParameter1, Above(0)),
    NUM(stack, hdrColorSpace, OneOf(kHdrColorSpaceList).Rule(HdrColorSpace)),
    FLAG(stack, hdrNoiseReduction),
    NUM(stack, fusionContrastMode, Between(0, 2)),
    NUM(stack, fusionPoissonIterations, AtLeast(0)),
    NUM(stack, fusionContrastExponent, Between(0, 12).OrInfinity(-1)),
    NUM(stack, fusionSaturationExponent, Between(-12, 12)),
    NUM(stack, fusionExposureExponent, Between(0, 12)),
    NUM(stack, fusionExposureStdDev, AboveAtMost(0, 0.6)),
    NUM(stack, fusionPoissonSharpening, AtLeast(1)),
    NUM(stack, fusionCoefA, AtLeast(0)),
    NUM(stack, fusionCoefB, AtLeast(0)),
    NUM(stack, fusionCoefC, AtLeast(0)),
    NUM(stack, fusionCoefD, AtLeast(0)),
    NUM(stack, edof2Tolerance1, AtLeast(0)),
    NUM(stack, edof2Attenuation1, Between(0, 1)),
    NUM(stack, edof2Tolerance2, AtLeast(0)),
    NUM(stack, edof2Attenuation2, Between(0, 1)),
    NUM(stack, edof2Tolerance3, AtLeast(0)),
    NUM(stack, edof2Attenuation3, Between(0, 1)),
    NUM(stack, edof3PoissonIterations, AtLeast(0)),

    // ToneMapParams
    NUM(toneMap, toneMap1Contrast, Between(0, 10)),
    NUM(toneMap, toneMap1Saturation, Above(0)),
    NUM(toneMap, toneMap1Sharpener, AtLeast(0)),
    NUM(toneMap, toneMap1OutlierRadius, AtLeast(0)),
    NUM(toneMap, toneMap2Iterations, AtLeast(0)),
    NUM(toneMap, toneMap2Levels, AtLeast(0)),
    NUM(toneMap, toneMap2Preset, OneOf(kPresetFunctionList)),
    NUM(toneMap, toneMap2OutlierRadius, AtLeast(0)),
    FLAG(toneMap, toneMap2Equalize),
    FLAG(toneMap, toneMap2DiagonalDifferences),
    FLAG(toneMap, toneMap2Magnitudes),
    NUM(toneMap, toneMap2Saturation, Above(0)),
    NUM(toneMap, toneMap2PresetC, Above(0)),
    NUM(toneMap, toneMap1HysteresisIterations, AtLeast(0)),
    NUM(toneMap, toneMap1HysteresisTolerance, Above(0)),
    NUM(toneMap, toneMap1HaloIterations, AtLeast(0)),

    // Tail
    HEADFLAG(scrollLock),
    HEAD(scrollAmount, Between(-1024, 1024).Except(0)),
    HEAD(backgroundGreyLevel, Between(0, 255)),
    HEAD(frameWindowRed, Between(0, 255)),
    HEAD(frameWindowGreen, Between(0, 255)),
    HEAD(frameWindowBlue, Between(0, 255)),
    HEADFLAG(monitorSleepAtStart),
    HEADFLAG(monitorWakeAtCompletion),
};

#undef IFSPLANE
#undef POSTS
#undef POST
#undef HEADFLAG
#undef HEAD
#undef FLAG
#undef NUM
#undef REC

unsigned char* Bytes(Settings& record) { return reinterpret_cast<unsigned char*>(&record); }
const unsigned char* Bytes(const Settings& record) {
  return reinterpret_cast<const unsigned char*>(&record);
}

template <class T>
T Load(const Settings& record, uint32_t at) {
  T v;
  std::memcpy(&v, Bytes(record) + at, sizeof v);
  return v;
}
template <class T>
void Store(Settings& record, uint32_t at, T v) {
  std::memcpy(Bytes(record) + at, &v, sizeof v);
}

// Integers saturate; NaN becomes 0.
template <class T>
T ToInteger(double v) {
  if (!(v == v)) return 0;
  if (v <= static_cast<double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (v >= static_cast<double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(v);
}

uint32_t ElementOffset(const Field& field, int element) {
  if (element < 0 || element >= field.count) {
    throw std::out_of_range(std::string("element out of range in ") + field.name);
  }
  return field.offset + static_cast<uint32_t>(element) * field.size;
}

bool InRange(const Accept& a, double v) {
  if (a.minOpen ? !(v > a.min) : !(v >= a.min)) return false;
  if (a.maxOpen ? !(v < a.max) : !(v <= a.max)) return false;
  switch (a.parity) {
    case Parity::Any:
      break;
    case Parity::Odd:
      if (std::fmod(std::fabs(v), 2.0) != 1.0) return false;
      break;
    case Parity::Even:
      if (std::fmod(v, 2.0) != 0.0) return false;
      break;
    case Parity::Whole:
      if (v != std::trunc(v)) return false;
      break;
  }
  return !(v == a.except);
}

}  // namespace

std::span<const Field> SettingsFields() { return kFields; }

const Field* FindField(std::string_view name) {
  for (const Field& f : kFields) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

const Field& FieldNamed(std::string_view name) {
  if (const Field* f = FindField(name)) return *f;
  throw std::out_of_range("no settings member named " + std::string(name));
}

double ReadNumber(const Settings& record, const Field& field, int element) {
  const uint32_t at = ElementOffset(field, element);
  switch (field.type) {
    case FieldType::Flag:
    case FieldType::Byte:
      return Load<uint8_t>(record, at);
    case FieldType::Int32:
      return Load<int32_t>(record, at);
    case FieldType::UInt32:
      return Load<uint32_t>(record, at);
    case FieldType::Float:
      return Load<float>(record, at);
    case FieldType::Double:
      return Load<double>(record, at);
    case FieldType::Text:
      break;
  }
  throw std::logic_error(std::string("not a number: ") + field.name);
}

void WriteNumber(Settings& record, const Field& field, double value, int element) {
  const uint32_t at = ElementOffset(field, element);
  switch (field.type) {
    case FieldType::Flag:
    case FieldType::Byte:
      return Store(record, at, ToInteger<uint8_t>(value));
    case FieldType::Int32:
      return Store(record, at, ToInteger<int32_t>(value));
    case FieldType::UInt32:
      return Store(record, at, ToInteger<uint32_t>(value));
    case FieldType::Float:
      return Store(record, at, static_cast<float>(value));
    case FieldType::Double:
      return Store(record, at, value);
    case FieldType::Text:
      break;
  }
  throw std::logic_error(std::string("not a number: ") + field.name);
}

std::string_view ReadText(const Settings& record, const Field& field, int element) {
  if (field.type != FieldType::Text) {
    throw std::logic_error(std::string("not a text: ") + field.name);
  }
  const char* text = reinterpret_cast<const char*>(Bytes(record) + ElementOffset(field, element));
  const void* end = std::memchr(text, '\0', field.size);
  return {text, end ? static_cast<size_t>(static_cast<const char*>(end) - text) : field.size};
}

bool WriteText(Settings& record, const Field& field, std::string_view text, int element) {
  if (field.type != FieldType::Text) {
    throw std::logic_error(std::string("not a text: ") + field.name);
  }
  if (text.size() >= field.size) return false;
  unsigned char* at = Bytes(record) + ElementOffset(field, element);
  std::memset(at, 0, field.size);
  std::memcpy(at, text.data(), text.size());
  return true;
}

bool Accepts(const Field& field, double value, const Settings& record) {
  const Accept& a = field.accept;
  if (a.unchecked) return true;
  if (!std::isfinite(value)) return false;
  if (value == a.also || value == a.infinity) return true;
  if (a.choices && (value != std::trunc(value) || !a.choices->Has(static_cast<int32_t>(value)))) {
    return false;
  }
  if (!InRange(a, value)) return false;
  return !a.rule || a.rule(value, record);
}

bool AcceptsText(const Field& field, std::string_view text) {
  if (field.type != FieldType::Text || text.size() >= field.size) return false;
  if (text.find('\0') != std::string_view::npos) return false;
  return !field.accept.text || field.accept.text(text);
}

void RestoreDefault(Settings& record, const Field& field) {
  std::memcpy(Bytes(record) + field.offset, Bytes(DefaultSettings()) + field.offset, field.Bytes());
}

int ValidateFields(Settings& record, uint32_t begin, uint32_t end) {
  const Settings& defaults = DefaultSettings();
  int replaced = 0;
  for (const Field& f : kFields) {
    if (f.offset < begin || f.offset + f.Bytes() > end) continue;
    for (int i = 0; i < f.count; ++i) {
      // A text without its terminator reads as the whole array, which never fits.
      const bool ok = f.type == FieldType::Text ? AcceptsText(f, ReadText(record, f, i))
                                                : Accepts(f, ReadNumber(record, f, i), record);
      if (ok) continue;
      // A few defaults lie outside what a page accepts (an output width of 0 means
      // "not set"); putting them back changes nothing and is not counted.
      const uint32_t at = ElementOffset(f, i);
      if (std::memcmp(Bytes(record) + at, Bytes(defaults) + at, f.size) == 0) continue;
      std::memcpy(Bytes(record) + at, Bytes(defaults) + at, f.size);
      ++replaced;
    }
  }
  return replaced;
}
