// The layout of the settings record, member by member: offset, type, element count and
// default, from one table, compared with the member table the code uses and with the
// bytes of a default record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "params/fields.h"
#include "params/settings.h"

namespace {

enum Kind { B, I, U, F, D, T };

struct Row {
  const char* name;
  uint32_t offset;
  Kind kind;
  int count;
  // One default per element; a shorter list repeats its last value.
  std::vector<double> defaults;
  const char* text = nullptr;  // the default of a text member
  int textSize = 0;
};

// clang-format off
const Row kRows[] = {
    {"conditional", 0, B, 1, {1}},
    {"soundOnCompletion", 1, B, 1, {0}},
    {"autoQuery", 2, B, 1, {1}},
    {"reserved", 4, U, 1, {0}},
    {"autoMenu", 8, B, 1, {0}},
    {"version", 12, F, 1, {3.7}},
    {"operationList", 16, I, 25, {0}},
    {"operationIndex", 116, I, 1, {0}},
    {"operationCount", 120, I, 1, {25}},
    {"scrollLock", 19516, B, 1, {1}},
    {"scrollAmount", 19520, I, 1, {50}},
    {"backgroundGreyLevel", 19524, I, 1, {0}},
    {"frameWindowRed", 19528, I, 1, {0}},
    {"frameWindowGreen", 19532, I, 1, {0}},
    {"frameWindowBlue", 19536, I, 1, {0}},
    {"monitorSleepAtStart", 19540, B, 1, {0}},
    {"monitorWakeAtCompletion", 19541, B, 1, {1}},
    {"pngBitDepth", 124, I, 1, {8}},
    {"pngCompressionLevel", 128, I, 1, {9}},
    {"jpegQuality", 132, I, 1, {75}},
    {"jpegColorSpace", 136, I, 1, {3}},
    {"fitsBitDepth", 140, I, 1, {-32}},
    {"fitsCompression", 144, I, 1, {0}},
    {"overwriteInputFile", 148, B, 1, {0}},
    {"batchSuffix", 149, T, 1, {}, "", 256},
    {"batchExtension", 405, T, 1, {}, "PNG", 256},
    {"maximumCharacters", 664, I, 1, {50000}},
    {"noFloatBuffersOnRead", 668, B, 1, {0}},
    {"tiffBitDepth", 672, I, 1, {8}},
    {"animationDelay", 676, I, 1, {0}},
    {"animationMode", 680, I, 1, {0}},
    {"destroyAlignmentTemplateAtEnd", 684, B, 1, {0}},
    {"destroyContrastTemplateAtEnd", 685, B, 1, {0}},
    {"useScratchDisk", 688, B, 1, {0}},
    {"centerToHalfPixel", 690, B, 1, {1}},
    {"numberOfIterations", 692, I, 1, {1}},
    {"xinLiWindowSize", 696, I, 1, {8}},
    {"jensenWindowSize", 700, I, 1, {5}},
    {"lanczosOrder", 704, I, 1, {3}},
    {"edgeDetectionParameter1", 724, F, 1, {0.45}},
    {"edgeDetectionParameter2", 728, F, 1, {0.04}},
    {"edgeBlurringParameter", 732, F, 1, {10}},
    {"bicubicSharpeningFactor", 736, F, 1, {-0.5}},
    {"xinLiBias", 740, F, 1, {1}},
    {"outputWidth", 744, I, 1, {0}},
    {"outputHeight", 748, I, 1, {0}},
    {"horizontalScaleFactor", 752, D, 1, {4}},
    {"verticalScaleFactor", 760, D, 1, {4}},
    {"horizontalOffset", 768, D, 1, {0}},
    {"verticalOffset", 776, D, 1, {0}},
    {"precedence", 784, I, 1, {3}},
    {"dominantChannel", 788, I, 1, {0}},
    {"blurAmountForReductions", 792, F, 1, {0.35}},
    {"taperedWindowWeight", 796, F, 1, {0}},
    {"normalizationWeight", 800, F, 1, {0}},
    {"specialMode", 804, B, 1, {1}},
    {"zhaoModified12thOrder", 805, B, 1, {1}},
    {"zhaoAntialiasParameter", 808, F, 1, {1.5}},
    {"kernelExpansionForReductions", 812, B, 1, {1}},
    {"bpIterationsFirstPass", 816, I, 1, {5}},
    {"backprojectionModeFirstPass", 820, I, 1, {0}},
    {"mbsScaleFactor", 828, I, 1, {3}},
    {"oldDdlOrder", 832, I, 1, {3}},
    {"bpOrder", 836, I, 1, {3}},
    {"stairScaleIncrement", 840, D, 1, {1.1}},
    {"stairUsesLanczos", 848, B, 1, {0}},
    {"tileHeight", 852, I, 1, {64}},
    {"oldDdlHaloSuppression", 856, B, 1, {0}},
    {"pyramidScaleIncrement", 860, F, 1, {1.25}},
    {"pyramidSharpness", 864, F, 1, {1}},
    {"haloWidthFactor", 868, F, 1, {1}},
    {"exitTolerance", 872, F, 1, {0.05}},
    {"regularizationAmount", 876, F, 1, {0}},
    {"edgeSharpeningIters", 880, F, 1, {0}},
    {"edgeSharpeningAmount", 884, F, 1, {0.2}},
    {"edgeRejection", 888, F, 1, {0.1}},
    {"bpIterationsSecondPass", 892, I, 1, {0}},
    {"backprojectionModeSecondPass", 896, I, 1, {0}},
    {"shortcut", 900, I, 1, {1}},
    {"presharpenReductionModel", 904, I, 1, {0}},
    {"presharpenScaleFactor", 908, I, 1, {4}},
    {"presharpeningAmount", 912, F, 1, {1}},
    {"presharpenAmount", 916, F, 1, {0}},
    {"laplacianNondirectional", 920, F, 1, {0}},
    {"identityWeight", 924, F, 1, {1}},
    {"normalization", 928, F, 1, {0}},
    {"laplacianDirectional", 932, F, 1, {20}},
    {"cgIterations", 936, I, 1, {500}},
    {"windowlessSizeIters", 940, I, 1, {1}},
    {"windowlessBackProjIters", 944, I, 1, {0}},
    {"windowlessReductionMethod", 952, I, 1, {3}},
    {"windowlessBaseEnlargement", 956, I, 1, {7}},
    {"windowlessInverseSharpeningRadius", 960, F, 1, {0}},
    {"windowlessInverseSharpeningAmount", 964, F, 1, {0}},
    {"windowlessTestReductionParams", 968, B, 1, {0}},
    {"windowlessHaloSuppression", 970, B, 1, {0}},
    {"startingEstimate", 971, B, 1, {1}},
    {"windowless16Parameters", 972, B, 1, {1}},
    {"windowlessShortcut", 976, I, 1, {1}},
    {"windowlessPost.reserved", 984, I, 1, {6}},
    {"windowlessPost.superRezIters", 988, I, 1, {0}},
    {"windowlessPost.edgeSharpeningParam1", 992, F, 1, {0.1}},
    {"windowlessPost.edgeSharpeningParam2", 996, F, 1, {20}},
    {"windowlessPost.jaggyRemoval", 1000, F, 1, {0}},
    {"windowlessPost.edgeSharpening", 1004, I, 1, {2}},
    {"ddlSizeIters", 1008, I, 1, {2}},
    {"ddlReductionMethod", 1012, I, 1, {3}},
    {"ddlBaseEnlargement", 1016, I, 1, {5}},
    {"ddlOrder", 1020, I, 1, {3}},
    {"ddlBackProjIters", 1024, I, 1, {0}},
    {"ddlShortcut", 1028, I, 1, {1}},
    {"ddlPresharpen", 1032, B, 1, {1}},
    {"ddlTestReductionParams", 1033, B, 1, {0}},
    {"ddlInverseSharpeningRadius", 1036, F, 1, {0}},
    {"ddlInverseSharpeningAmount", 1040, F, 1, {0}},
    {"ddlPost.reserved", 1044, I, 1, {6}},
    {"ddlPost.superRezIters", 1048, I, 1, {20}},
    {"ddlPost.edgeSharpeningParam1", 1052, F, 1, {0.2}},
    {"ddlPost.edgeSharpeningParam2", 1056, F, 1, {20}},
    {"ddlPost.jaggyRemoval", 1060, F, 1, {0}},
    {"ddlPost.edgeSharpening", 1064, I, 1, {2}},
    {"integerEnlargementScale", 1068, I, 1, {4}},
    {"pseudoInverseReduction", 1072, I, 1, {3}},
    {"pseudoInverseBaseEnlargement", 1076, I, 1, {5}},
    {"pseudoInverseShortcut", 1080, I, 1, {1}},
    {"pseudoInverseSharpeningRadius", 1084, F, 1, {0}},
    {"pseudoInverseSharpeningAmount", 1088, F, 1, {0}},
    {"pseudoInverseTestReductionParams", 1092, B, 1, {0}},
    {"pseudoInversePost.reserved", 1096, I, 1, {6}},
    {"pseudoInversePost.superRezIters", 1100, I, 1, {20}},
    {"pseudoInversePost.edgeSharpeningParam1", 1104, F, 1, {0.2}},
    {"pseudoInversePost.edgeSharpeningParam2", 1108, F, 1, {20}},
    {"pseudoInversePost.jaggyRemoval", 1112, F, 1, {0.1}},
    {"pseudoInversePost.edgeSharpening", 1116, I, 1, {2}},
    {"seamWidth", 1120, I, 1, {800}},
    {"seamHeight", 1124, I, 1, {800}},
    {"energyFunctionType", 1128, I, 1, {0}},
    {"derivativeBlendingIterations", 1132, I, 1, {0}},
    {"updateEnergyFunction", 1136, B, 1, {0}},
    {"useDiagonalDerivatives", 1137, B, 1, {0}},
    {"avoidanceEnergyValue", 1140, F, 1, {1e16}},
    {"removalEnergyValue", 1144, F, 1, {-1000}},
    {"blendingAvoidanceWeight", 1148, F, 1, {0}},
    {"addSubtractConstant", 1152, F, 1, {0.1}},
    {"multiplyDivideConstant", 1156, F, 1, {1.1}},
    {"gamma", 1160, F, 1, {1.1}},
    {"addSubtractColorCoefficient", 1164, F, 1, {1}},
    {"interpolateColorCoefficient", 1168, F, 1, {0.1}},
    {"outlierSmoothingRadius", 1172, I, 1, {0}},
    {"lookupElements", 1176, I, 1, {601}},
    {"controlPoints", 1180, I, 1, {5}},
    {"presetFunction", 1184, I, 1, {1}},
    {"presetParameter", 1188, F, 1, {0.1}},
    {"middlePointWeight", 1192, F, 1, {0.1}},
    {"endPointWeight", 1196, F, 1, {10}},
    {"curveValues", 1200, F, 31, {0, 0.25, 0.5, 0.75, 1, 0}},
    {"differentialOrder", 1324, I, 1, {2}},
    {"backgroundColor", 1328, B, 3, {10, 10, 10}},
    {"increasingCurveColor", 1331, B, 3, {255, 255, 255}},
    {"nonIncreasingCurveColor", 1334, B, 3, {255, 100, 255}},
    {"verticalLineColor", 1337, B, 3, {200, 0, 0}},
    {"horizontalLineColor", 1340, B, 3, {0, 255, 0}},
    {"centerCrossColor", 1343, B, 3, {0, 0, 255}},
    {"constrainMonotoneIncreasing", 1346, B, 1, {0}},
    {"directlyUsePresetFunction", 1347, B, 1, {0}},
    {"forHdr", 1348, B, 1, {0}},
    {"colorSaturationControl", 1352, F, 1, {1}},
    {"shiftAmount", 1356, F, 1, {0.1}},
    {"rotationAngle", 1360, F, 1, {45}},
    {"rotationHorizontalOffset", 1368, F, 1, {0}},
    {"rotationVerticalOffset", 1372, F, 1, {0}},
    {"rotationAccuracyIterations", 1376, I, 1, {0}},
    {"twoPointAccuracyIterations", 1380, I, 1, {0}},
    {"fourPointAccuracyIterations", 1384, I, 1, {0}},
    {"perspectiveCrop", 1388, B, 1, {0}},
    {"blankWidth", 1392, I, 1, {640}},
    {"blankHeight", 1396, I, 1, {480}},
    {"blankRed", 1400, F, 1, {127.5}},
    {"blankGreen", 1404, F, 1, {127.5}},
    {"blankBlue", 1408, F, 1, {127.5}},
    {"layerCoefficient", 1648, F, 1, {0.1}},
    {"canvasRed", 1652, F, 1, {127.5}},
    {"canvasGreen", 1656, F, 1, {127.5}},
    {"canvasBlue", 1660, F, 1, {127.5}},
    {"minimumForInclusion", 1664, F, 1, {0}},
    {"maximumForInclusion", 1668, F, 1, {255}},
    {"bottomLayerWeight", 1676, F, 1, {1.0 / 3}},
    {"onlyMaskInput", 1680, B, 1, {0}},
    {"waveletLevels", 1684, I, 1, {0}},
    {"waveletMatchLad", 1688, B, 1, {0}},
    {"levelsPercentile", 1692, F, 1, {5}},
    {"levelsIncrement", 1696, F, 1, {2.5}},
    {"cloningIterations", 1700, I, 1, {500}},
    {"cloningMode", 1704, I, 1, {3}},
    {"outsideWeight", 1708, F, 1, {3}},
    {"insideWeight", 1712, F, 1, {2}},
    {"usePyramid", 1716, B, 1, {0}},
    {"colorTolerance", 1720, F, 1, {0.05}},
    {"colorToleranceIncrement", 1724, F, 1, {0.01}},
    {"queueColors", 1728, I, 1, {1}},
    {"colorNorm", 1732, I, 1, {0}},
    {"edgeTolerance", 1736, F, 1, {20}},
    {"edgeToleranceIncrement", 1740, F, 1, {1}},
    {"edgeDetectionType", 1744, I, 1, {0}},
    {"cursorRadius", 1748, I, 1, {15}},
    {"cursorColor", 1752, I, 1, {0}},
    {"logStandardDeviation", 1756, F, 1, {2}},
    {"smoothMaskIterations", 1760, I, 1, {100}},
    {"zeroNormalization", 1764, B, 1, {1}},
    {"fitInterpolationMethod", 1768, I, 1, {1}},
    {"fitLanczosOrder", 1772, I, 1, {3}},
    {"fitBicubicParameter", 1776, F, 1, {-0.5}},
    {"capacity", 1784, I, 1, {32}},
    {"stepCount", 1788, I, 1, {0}},
    {"stepNames", 1792, T, 32, {}, "NoOp", 50},
    {"stepIds", 3392, I, 32, {int(CommandId::NoOp)}},
    {"stepIsF3", 3520, B, 32, {0}},
    {"stepShift", 3552, B, 32, {0}},
    {"stepCtrl", 3584, B, 32, {0}},
    {"horizontalBarWidth", 18464, I, 1, {2}},
    {"horizontalBarSpacing", 18468, I, 1, {8}},
    {"horizontalBarOffset", 18472, I, 1, {-1}},
    {"verticalBarWidth", 18476, I, 1, {2}},
    {"verticalBarSpacing", 18480, I, 1, {8}},
    {"verticalBarOffset", 18484, I, 1, {-1}},
    {"offsetFromBottom", 18488, B, 1, {0}},
    {"horizontalCentering", 18640, B, 1, {1}},
    {"verticalCentering", 18641, B, 1, {0}},
    {"printInterpolationMode", 18644, I, 1, {1}},
    {"printLanczosOrder", 18648, I, 1, {3}},
    {"autoregressiveWidth", 18652, I, 1, {15}},
    {"autoregressiveHeight", 18656, I, 1, {15}},
    {"stepIterations", 18660, I, 1, {5000}},
    {"inpaintDominantChannel", 18664, I, 1, {4}},
    {"inpaintMode", 18668, I, 1, {1}},
    {"recalculationInterval", 18672, I, 1, {100}},
    {"enlargementScale", 18676, I, 1, {4}},
    {"evenScaleOffset", 18680, I, 1, {0}},
    {"stepSize", 18684, F, 1, {0.5}},
    {"inpaintStandardDeviation", 18688, F, 1, {5}},
    {"inpaintParameter", 18692, F, 1, {1}},
    {"initializationExitTolerance", 18696, F, 1, {0.001}},
    {"initialize", 18700, B, 1, {1}},
    {"colorSpaceGamma", 18752, F, 1, {2.2}},
    {"paintCursorXOffset", 18756, I, 1, {2}},
    {"paintCursorYOffset", 18760, I, 1, {1}},
    {"averageIterations", 1412, I, 1, {1}},
    {"lensBlurIterations", 1416, I, 1, {1}},
    {"lensBlurRadius", 1420, I, 1, {1}},
    {"lensBlurMaskedInput", 1424, B, 1, {0}},
    {"medianIterations", 1428, I, 1, {1}},
    {"medianMaskedInput", 1432, B, 1, {0}},
    {"medianGaussianWeighted", 1433, B, 1, {0}},
    {"medianRadius", 1436, F, 1, {1.0}},
    {"wmmrIterations", 1440, I, 1, {1}},
    {"wmmrRadius", 1444, I, 1, {1}},
    {"wmmrMaskedInput", 1448, B, 1, {0}},
    {"bilateralIterations", 1452, I, 1, {1}},
    {"bilateralDistribution", 1456, I, 1, {3}},
    {"bilateralWindowSize", 1460, I, 1, {11}},
    {"bilateralUseMedian", 1464, B, 1, {0}},
    {"bilateralSpreadFactor", 1468, F, 1, {2.5}},
    {"isophoteIterations", 1472, I, 1, {8}},
    {"isophoteOffset", 1476, I, 1, {0}},
    {"isophoteMode", 1480, I, 1, {0}},
    {"isophoteModulus", 1484, I, 1, {0}},
    {"isophoteCoefficient", 1488, F, 1, {0.2}},
    {"jensenEdgeMode", 1492, I, 1, {1}},
    {"jensenEdgeWindowSize", 1496, I, 1, {5}},
    {"jensenEdgeDominantChannel", 1500, I, 1, {0}},
    {"jensenEdgeIterations", 1504, I, 1, {1}},
    {"jensenEdgeSegments", 1508, I, 1, {1}},
    {"jensenEdgeParameter1", 1512, F, 1, {0.6}},
    {"jensenEdgeParameter2", 1516, F, 1, {0.0}},
    {"jensenEdgeBlurring", 1520, F, 1, {10.0}},
    {"jensenEdgeDefringing", 1524, B, 1, {0}},
    {"unsharpRadius", 1528, I, 1, {1}},
    {"unsharpMode", 1532, I, 1, {0}},
    {"unsharpAmount", 1536, F, 1, {1.0}},
    {"unsharpBlurThreshold", 1540, F, 1, {0.0}},
    {"unsharpNoOpThreshold", 1544, F, 1, {0.0}},
    {"unsharpSharpeningThreshold", 1548, F, 1, {1.0}},
    {"gaussianSx", 1552, F, 1, {1.0}},
    {"gaussianSy", 1556, F, 1, {1.0}},
    {"xsharpenWindowSize", 1560, I, 1, {3}},
    {"xsharpenIterations", 1564, I, 1, {1}},
    {"xsharpenThreshold", 1568, F, 1, {5.0}},
    {"xsharpenAmount", 1572, F, 1, {0.5}},
    {"motionBlurDistance", 1576, F, 1, {21.0}},
    {"motionBlurAngle", 1580, F, 1, {0.0}},
    {"nlMeansThreshold", 1584, F, 1, {1.25}},
    {"nlMeansSearchRadius", 1588, I, 1, {20}},
    {"nlMeansWindowRadius", 1592, I, 1, {2}},
    {"nlMeansDistribution", 1596, I, 1, {3}},
    {"nlMeansUseMedian", 1600, B, 1, {0}},
    {"nlMeansCombinedChannels", 1601, B, 1, {1}},
    {"nlMeansUseModification", 1602, B, 1, {1}},
    {"hysteresisIterations", 1604, I, 1, {1}},
    {"hysteresisTolerance", 1608, F, 1, {40.0}},
    {"hysteresisCombineChannels", 1612, B, 1, {0}},
    {"hysteresisArtifactReduction", 1613, B, 1, {1}},
    {"hysteresisHaloIterations", 1616, I, 1, {25}},
    {"fastBilateralRangeStdDev", 1620, F, 1, {5.0}},
    {"fastBilateralRadius", 1624, I, 1, {20}},
    {"fastBilateralIterations", 1628, I, 1, {1}},
    {"fastBilateralCombineChannels", 1632, B, 1, {1}},
    {"poissonIterations", 1636, I, 1, {50}},
    {"poissonSharpeningAmount", 1640, F, 1, {2.0}},
    {"poissonScaleFactor", 1644, F, 1, {0.0}},
    {"ifsYRangeBlockSize", 18492, I, 1, {5}},
    {"ifsYErrorCorrections", 18496, I, 1, {1}},
    {"ifsYDomainRatio", 18500, I, 1, {2}},
    {"ifsYParameter1", 18504, F, 1, {0.125}},
    {"ifsYParameter2", 18508, F, 1, {0.01}},
    {"ifsYMaxMultiplier", 18512, F, 1, {2.0}},
    {"ifsEyRangeBlockSize", 18516, I, 1, {0}},
    {"ifsEyErrorCorrections", 18520, I, 1, {0}},
    {"ifsEyDomainRatio", 18524, I, 1, {2}},
    {"ifsEyParameter1", 18528, F, 1, {0.125}},
    {"ifsEyParameter2", 18532, F, 1, {0.01}},
    {"ifsEyMaxMultiplier", 18536, F, 1, {1.3}},
    {"ifsCbRangeBlockSize", 18540, I, 1, {3}},
    {"ifsCbErrorCorrections", 18544, I, 1, {0}},
    {"ifsCbDomainRatio", 18548, I, 1, {2}},
    {"ifsCbParameter1", 18552, F, 1, {0.03125}},
    {"ifsCbParameter2", 18556, F, 1, {0.04}},
    {"ifsCbMaxMultiplier", 18560, F, 1, {1.3}},
    {"ifsCrRangeBlockSize", 18564, I, 1, {3}},
    {"ifsCrErrorCorrections", 18568, I, 1, {0}},
    {"ifsCrDomainRatio", 18572, I, 1, {2}},
    {"ifsCrParameter1", 18576, F, 1, {0.03125}},
    {"ifsCrParameter2", 18580, F, 1, {0.04}},
    {"ifsCrMaxMultiplier", 18584, F, 1, {1.3}},
    {"ifsScaleFactor", 18588, I, 1, {4}},
    {"ifsIterations", 18592, I, 1, {10}},
    {"ifsYMode", 18596, I, 1, {1}},
    {"ifsEyMode", 18600, I, 1, {0}},
    {"ifsCbMode", 18604, I, 1, {0}},
    {"ifsCrMode", 18608, I, 1, {0}},
    {"ifsUseScratchDisk", 18612, B, 1, {1}},
    {"ifsSharpeningFactor", 18616, I, 1, {0}},
    {"ifsWarningMessage", 18620, B, 1, {1}},
    {"ifsUseCustomSettings", 18621, B, 1, {0}},
    {"ifsImageSizeMp", 18624, I, 1, {3}},
    {"ifsImageQuality", 18628, I, 1, {2}},
    {"ifsTileWidth", 18632, I, 1, {500}},
    {"ifsTileHeight", 18636, I, 1, {500}},
    {"tschumperleIterations", 18704, I, 1, {70}},
    {"tschumperleMode", 18708, I, 1, {1}},
    {"tschumperleRecalcInterval", 18712, I, 1, {1}},
    {"tschumperleStdDev", 18716, F, 1, {5.0}},
    {"tschumperleBlurStep", 18720, F, 1, {0.5}},
    {"tschumperleEdgeStep", 18724, F, 1, {0.5}},
    {"tschumperleBlurParameter", 18728, F, 1, {1.0}},
    {"tschumperleEdgeParameter", 18732, F, 1, {1.0}},
    {"shockIterations", 18736, I, 1, {5}},
    {"shockStdDev", 18740, F, 1, {1.0}},
    {"shockStepSize", 18744, F, 1, {0.1}},
    {"shockEdgeFactor", 18748, F, 1, {0.1}},
    {"deconvMethod", 18764, I, 1, {3}},
    {"lsMinIterations", 18768, I, 1, {50}},
    {"lsMaxIterations", 18772, I, 1, {750}},
    {"ladMaxIterations", 18776, I, 1, {51}},
    {"lsExitTolerance", 18780, F, 1, {1e-6}},
    {"ladExitTolerance", 18784, F, 1, {0.001}},
    {"weightSlopesHV", 18788, F, 1, {0.01}},
    {"weightSlopesDiagonal", 18792, F, 1, {0.01}},
    {"weightCurvaturesHV", 18796, F, 1, {0}},
    {"weightCurvaturesDiagonal", 18800, F, 1, {0}},
    {"weightThirdOrderHV", 18804, F, 1, {0}},
    {"weightThirdOrderDiagonal", 18808, F, 1, {0}},
    {"weightCrossSlopesHV", 18812, F, 1, {0}},
    {"weightCrossSlopesDiagonal", 18816, F, 1, {0}},
    {"weightDdSlopesHVMax", 18820, F, 1, {0}},
    {"weightDdSlopesHVMin", 18824, F, 1, {0}},
    {"weightDdCurvesHVMax", 18828, F, 1, {0}},
    {"weightDdCurvesHVMin", 18832, F, 1, {0}},
    {"weightDdSlopesDMax", 18836, F, 1, {0}},
    {"weightDdSlopesDMin", 18840, F, 1, {0}},
    {"weightDdCurvesDMax", 18844, F, 1, {0}},
    {"weightDdCurvesDMin", 18848, F, 1, {0}},
    {"weightDdCurvesMax", 18852, F, 1, {0}},
    {"weightDdCurvesMin", 18856, F, 1, {0}},
    {"weightDdSlopesMax", 18860, F, 1, {0}},
    {"weightDdSlopesMin", 18864, F, 1, {0}},
    {"weightDd2CurvesMax", 18868, F, 1, {0}},
    {"weightDd2CurvesMin", 18872, F, 1, {0}},
    {"weightDd2SlopesMax", 18876, F, 1, {0}},
    {"weightDd2SlopesMin", 18880, F, 1, {0}},
    {"psfType", 18884, I, 1, {1}},
    {"psfLensBlurRadius", 18888, I, 1, {2}},
    {"psfGaussianStdDevH", 18892, F, 1, {1.0}},
    {"psfGaussianStdDevV", 18896, F, 1, {1.0}},
    {"psfUniformWidth", 18900, I, 1, {3}},
    {"psfUniformHeight", 18904, I, 1, {3}},
    {"deconvUseScratchDisk", 18908, B, 1, {0}},
    {"deconvScaleFactor", 18912, I, 1, {2}},
    {"deconvShortcut", 18916, I, 1, {1}},
    {"weightSlopesHorizontal", 18920, F, 1, {0}},
    {"weightCurvesHorizontal", 18924, F, 1, {0}},
    {"weightOrder3Horizontal", 18928, F, 1, {0}},
    {"weightSlopesVertical", 18932, F, 1, {0}},
    {"weightCurvesVertical", 18936, F, 1, {0}},
    {"weightOrder3Vertical", 18940, F, 1, {0}},
    {"customKernelH", 18944, F, 21, {0}},
    {"customKernelV", 19028, F, 21, {0}},
    {"customKernelHCount", 19112, I, 1, {0}},
    {"customKernelVCount", 19116, I, 1, {0}},
    {"customKernelNormalize", 19120, B, 1, {1}},
    {"psfBicubicFactor", 19124, F, 1, {-0.5}},
    {"tensorBlurStdDev", 19128, F, 1, {1.0}},
    {"periodicFunction", 19132, I, 1, {0}},
    {"periodicIterations", 19136, I, 1, {1}},
    {"periodicPoints", 19140, I, 1, {7}},
    {"periodicPattern", 19144, I, 1, {0}},
    {"periodicRadius", 19148, F, 1, {10.0}},
    {"periodicDx", 19152, I, 16, {0}},
    {"periodicDy", 19216, I, 16, {0}},
    {"contrastTemplateLevels", 19280, I, 1, {0}},
    {"stackReserved", 19284, I, 1, {0}},
    {"stackMode", 19288, I, 1, {0}},
    {"multivariateMedianIterations", 19292, I, 1, {200}},
    {"stackScaleLevels", 19296, I, 1, {5}},
    {"stackLevelParams", 19300, F, 8, {-1}},
    {"edofScratchFiles", 19332, B, 1, {0}},
    {"alignMorphologicalAccuracy", 19333, B, 1, {0}},
    {"alignNoResizing", 19334, B, 1, {1}},
    {"alignErrorMode", 19336, I, 1, {1}},
    {"alignInterpolationAccuracy", 19340, I, 1, {0}},
    {"translationalInterpolationAccuracy", 19344, I, 1, {0}},
    {"alignMinScale", 19348, F, 1, {0.9}},
    {"alignMaxScale", 19352, F, 1, {1.5}},
    {"blockAlignSize", 19356, I, 1, {16}},
    {"translationalPrecision", 19360, F, 1, {1.0}},
    {"blockAlignSearchRadius", 19364, F, 1, {3.0}},
    {"blockAlignSmoothing", 19368, F, 1, {1.0}},
    {"blockAlignInterpolationAccuracy", 19372, I, 1, {0}},
    {"hdrParameter1", 19376, F, 1, {1.0}},
    {"hdrColorSpace", 19380, I, 1, {0x20000}},
    {"hdrNoiseReduction", 19384, B, 1, {1}},
    {"fusionContrastMode", 19388, I, 1, {0}},
    {"fusionPoissonIterations", 19392, I, 1, {0}},
    {"fusionContrastExponent", 19396, F, 1, {1.0}},
    {"fusionSaturationExponent", 19400, F, 1, {1.0}},
    {"fusionExposureExponent", 19404, F, 1, {1.0}},
    {"fusionExposureStdDev", 19408, F, 1, {0.1}},
    {"fusionPoissonSharpening", 19412, F, 1, {1.0}},
    {"fusionCoefA", 19416, F, 1, {1.0}},
    {"fusionCoefB", 19420, F, 1, {0}},
    {"fusionCoefC", 19424, F, 1, {0}},
    {"fusionCoefD", 19428, F, 1, {0}},
    {"edof2Tolerance1", 19432, F, 1, {0}},
    {"edof2Attenuation1", 19436, F, 1, {0.5}},
    {"edof2Tolerance2", 19440, F, 1, {0}},
    {"edof2Attenuation2", 19444, F, 1, {0.5}},
    {"edof2Tolerance3", 19448, F, 1, {0}},
    {"edof2Attenuation3", 19452, F, 1, {0.5}},
    {"edof3PoissonIterations", 19456, I, 1, {50}},
    {"toneMap1Contrast", 19460, F, 1, {0.025}},
    {"toneMap1Saturation", 19464, F, 1, {0.5}},
    {"toneMap1Sharpener", 19468, F, 1, {2.0}},
    {"toneMap1OutlierRadius", 19472, I, 1, {3}},
    {"toneMap2Iterations", 19476, I, 1, {500}},
    {"toneMap2Levels", 19480, I, 1, {0}},
    {"toneMap2Preset", 19484, I, 1, {0}},
    {"toneMap2OutlierRadius", 19488, I, 1, {3}},
    {"toneMap2Equalize", 19492, B, 1, {1}},
    {"toneMap2DiagonalDifferences", 19493, B, 1, {1}},
    {"toneMap2Magnitudes", 19494, B, 1, {1}},
    {"toneMap2Saturation", 19496, F, 1, {0.5}},
    {"toneMap2PresetC", 19500, F, 1, {0.5}},
    {"toneMap1HysteresisIterations", 19504, I, 1, {1}},
    {"toneMap1HysteresisTolerance", 19508, F, 1, {0.5}},
    {"toneMap1HaloIterations", 19512, I, 1, {250}},
};

// Bytes that belong to no member but are written by the defaults: (offset, kind, count,
// value).
struct Unused {
  uint32_t offset;
  Kind kind;
  int count;
  double value;
};
const Unused kUnused[] = {
    {3, B, 1, 0},
    {689, B, 1, 1},
    {691, B, 1, 1},
    {708, I, 4, 0},
    {824, B, 1, 0},
    {948, I, 1, 3},
    {969, B, 1, 0},
    {980, I, 1, 31},
    {1364, F, 1, -0.5},
    {1672, F, 1, 0},
    {1780, I, 1, 0},
    {19517, B, 3, 0},
    {9, B, 3, 0},
    {19542, B, 2, 0},
};
// clang-format on

int KindSize(Kind k) {
  switch (k) {
    case B:
      return 1;
    case I:
    case U:
    case F:
      return 4;
    case D:
      return 8;
    case T:
      return 0;
  }
  return 0;
}

bool SameType(Kind k, FieldType t) {
  switch (k) {
    case B:
      return t == FieldType::Flag || t == FieldType::Byte;
    case I:
      return t == FieldType::Int32;
    case U:
      return t == FieldType::UInt32;
    case F:
      return t == FieldType::Float;
    case D:
      return t == FieldType::Double;
    case T:
      return t == FieldType::Text;
  }
  return false;
}

// The stored value at offset, read as the table's kind says, for comparison with the
// table's default in the member's own precision.
bool StoredEquals(const unsigned char* record, uint32_t at, Kind k, double expected) {
  switch (k) {
    case B:
      return record[at] == expected;
    case I: {
      int32_t v;
      std::memcpy(&v, record + at, 4);
      return v == expected;
    }
    case U: {
      uint32_t v;
      std::memcpy(&v, record + at, 4);
      return v == expected;
    }
    case F: {
      float v;
      std::memcpy(&v, record + at, 4);
      return v == static_cast<float>(expected);
    }
    case D: {
      double v;
      std::memcpy(&v, record + at, 8);
      return v == expected;
    }
    case T:
      break;
  }
  return false;
}

const unsigned char* Bytes(const Settings& s) { return reinterpret_cast<const unsigned char*>(&s); }

}  // namespace

TEST(SettingsLayoutTest, EveryMemberHasItsOffsetTypeAndDefault) {
  const unsigned char* defaults = Bytes(DefaultSettings());
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const Field* field = FindField(row.name);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->offset, row.offset);
    EXPECT_TRUE(SameType(row.kind, field->type));
    EXPECT_EQ(field->count, row.count);
    EXPECT_EQ(field->size, row.kind == T ? row.textSize : KindSize(row.kind));
    for (int i = 0; i < row.count; ++i) {
      const uint32_t at = row.offset + i * field->size;
      if (row.kind == T) {
        EXPECT_EQ(ReadText(DefaultSettings(), *field, i), row.text);
        continue;
      }
      const double expected = row.defaults[std::min<size_t>(i, row.defaults.size() - 1)];
      EXPECT_TRUE(StoredEquals(defaults, at, row.kind, expected)) << "element " << i;
    }
  }
}

TEST(SettingsLayoutTest, TheCodeKnowsExactlyTheseMembers) {
  std::set<std::string> expected;
  for (const Row& row : kRows) EXPECT_TRUE(expected.insert(row.name).second) << row.name;
  std::set<std::string> known;
  for (const Field& f : SettingsFields()) EXPECT_TRUE(known.insert(f.name).second) << f.name;
  EXPECT_EQ(known, expected);
}

// Every byte is a member, an unused byte with its stated value, or a byte without a
// default, which a record built from zeros leaves at 0; no two members overlap.
TEST(SettingsLayoutTest, TheDefaultRecordHasNoStrayBytes) {
  const unsigned char* defaults = Bytes(DefaultSettings());
  std::vector<int> owner(Settings::kSize, 0);
  auto claim = [&](uint32_t from, uint32_t bytes) {
    ASSERT_LE(from + bytes, Settings::kSize);
    for (uint32_t b = from; b < from + bytes; ++b) ++owner[b];
  };
  for (const Field& f : SettingsFields()) claim(f.offset, f.Bytes());
  for (const Unused& u : kUnused) {
    SCOPED_TRACE(u.offset);
    claim(u.offset, u.count * KindSize(u.kind));
    for (int i = 0; i < u.count; ++i) {
      EXPECT_TRUE(StoredEquals(defaults, u.offset + i * KindSize(u.kind), u.kind, u.value));
    }
  }
  for (uint32_t b = 0; b < Settings::kSize; ++b) {
    ASSERT_LE(owner[b], 1) << "byte " << b << " belongs to two members";
    if (owner[b] == 0) {
      EXPECT_EQ(defaults[b], 0) << "byte " << b;
    }
  }
}

TEST(SettingsLayoutTest, BlocksFollowTheHeaderWithoutGaps) {
  uint32_t next = 124;
  for (const SettingsBlock& block : SettingsBlocks()) {
    EXPECT_EQ(block.offset, next) << block.name;
    next = block.offset + block.size;
  }
  EXPECT_EQ(next, 19516u);
  EXPECT_EQ(SettingsBlocks().size(), 19u);
}
