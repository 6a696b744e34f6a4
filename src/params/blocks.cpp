#include "params/blocks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "params/colorcodes.h"

namespace {
void SetText(char* text, size_t size, const char* value) {
  std::memset(text, 0, size);
  std::strncpy(text, value, size - 1);
}

void SetColor(uint8_t (&color)[3], uint8_t red, uint8_t green, uint8_t blue) {
  color[0] = red;
  color[1] = green;
  color[2] = blue;
}

void SetPost(PostProcessParams& post, int32_t superRezIters, float param1, float param2,
             float jaggyRemoval) {
  post.reserved = 6;
  post.superRezIters = superRezIters;
  post.edgeSharpeningParam1 = param1;
  post.edgeSharpeningParam2 = param2;
  post.jaggyRemoval = jaggyRemoval;
  post.edgeSharpening = 2;  // Medium
}
}  // namespace

void FileParams::SetDefaults() {
  pngBitDepth = 8;
  pngCompressionLevel = 9;
  jpegQuality = 75;
  jpegColorSpace = 3;
  fitsBitDepth = -32;
  fitsCompression = 0;
  overwriteInputFile = 0;
  SetText(batchSuffix, sizeof batchSuffix, "");
  SetText(batchExtension, sizeof batchExtension, "PNG");
  maximumCharacters = 50000;
  noFloatBuffersOnRead = 0;
  tiffBitDepth = 8;
  animationDelay = 0;
  animationMode = 0;
  destroyAlignmentTemplateAtEnd = 0;
  destroyContrastTemplateAtEnd = 0;
}

void ResizeParams::SetDefaults() {
  useScratchDisk = 0;
  unused689 = 1;
  centerToHalfPixel = 1;
  unused691 = 1;
  numberOfIterations = 1;
  xinLiWindowSize = 8;
  jensenWindowSize = 5;
  lanczosOrder = 3;
  for (int32_t& v : unused708) v = 0;
  edgeDetectionParameter1 = 0.45f;
  edgeDetectionParameter2 = 0.04f;
  edgeBlurringParameter = 10;
  bicubicSharpeningFactor = -0.5f;
  xinLiBias = 1;
  outputWidth = 0;
  outputHeight = 0;
  horizontalScaleFactor = 4;
  verticalScaleFactor = 4;
  horizontalOffset = 0;
  verticalOffset = 0;
  precedence = 3;
  dominantChannel = 0;
  blurAmountForReductions = 0.35f;
  taperedWindowWeight = 0;
  normalizationWeight = 0;
  specialMode = 1;
  zhaoModified12thOrder = 1;
  zhaoAntialiasParameter = 1.5f;
  kernelExpansionForReductions = 1;
  bpIterationsFirstPass = 5;
  backprojectionModeFirstPass = 0;
  unused824 = 0;
  mbsScaleFactor = 3;
  oldDdlOrder = 3;
  bpOrder = 3;
  stairScaleIncrement = 1.1;
  stairUsesLanczos = 0;
  tileHeight = 64;
  oldDdlHaloSuppression = 0;
  pyramidScaleIncrement = 1.25f;
  pyramidSharpness = 1;
  haloWidthFactor = 1;
  exitTolerance = 0.05f;
  regularizationAmount = 0;
  edgeSharpeningIters = 0;
  edgeSharpeningAmount = 0.2f;
  edgeRejection = 0.1f;
  bpIterationsSecondPass = 0;
  backprojectionModeSecondPass = 0;
  shortcut = 1;
  presharpenReductionModel = 0;
  presharpenScaleFactor = 4;
  presharpeningAmount = 1;
  presharpenAmount = 0;
  laplacianNondirectional = 0;
  identityWeight = 1;
  normalization = 0;
  laplacianDirectional = 20;
  cgIterations = 500;
  windowlessSizeIters = 1;
  windowlessBackProjIters = 0;
  unused948 = 3;
  windowlessReductionMethod = 3;
  windowlessBaseEnlargement = 7;
  windowlessInverseSharpeningRadius = 0;
  windowlessInverseSharpeningAmount = 0;
  windowlessTestReductionParams = 0;
  unused969 = 0;
  windowlessHaloSuppression = 0;
  startingEstimate = 1;
  windowless16Parameters = 1;
  windowlessShortcut = 1;
  unused980 = 31;
  SetPost(windowlessPost, 0, 0.1f, 20, 0);
  ddlSizeIters = 2;
  ddlReductionMethod = 3;
  ddlBaseEnlargement = 5;
  ddlOrder = 3;
  ddlBackProjIters = 0;
  ddlShortcut = 1;
  ddlPresharpen = 1;
  ddlTestReductionParams = 0;
  ddlInverseSharpeningRadius = 0;
  ddlInverseSharpeningAmount = 0;
  SetPost(ddlPost, 20, 0.2f, 20, 0);
  integerEnlargementScale = 4;
  pseudoInverseReduction = 3;
  pseudoInverseBaseEnlargement = 5;
  pseudoInverseShortcut = 1;
  pseudoInverseSharpeningRadius = 0;
  pseudoInverseSharpeningAmount = 0;
  pseudoInverseTestReductionParams = 0;
  SetPost(pseudoInversePost, 20, 0.2f, 20, 0.1f);
  seamWidth = 800;
  seamHeight = 800;
  energyFunctionType = 0;
  derivativeBlendingIterations = 0;
  updateEnergyFunction = 0;
  useDiagonalDerivatives = 0;
  avoidanceEnergyValue = 1e16f;
  removalEnergyValue = -1000;
  blendingAvoidanceWeight = 0;
}

void BasicParams::SetDefaults() {
  addSubtractConstant = 0.1f;
  multiplyDivideConstant = 1.1f;
  gamma = 1.1f;
  addSubtractColorCoefficient = 1;
  interpolateColorCoefficient = 0.1f;
  outlierSmoothingRadius = 0;
  lookupElements = 601;
  controlPoints = 5;
  presetFunction = 1;
  presetParameter = 0.1f;
  middlePointWeight = 0.1f;
  endPointWeight = 10;
  // The control points are spread evenly over the input range, so the straight line
  // through them is i / (points - 1).
  for (float& v : curveValues) v = 0;
  for (int i = 0; i < controlPoints; ++i) {
    curveValues[i] = static_cast<float>(i) / static_cast<float>(controlPoints - 1);
  }
  differentialOrder = 2;
  SetColor(backgroundColor, 10, 10, 10);
  SetColor(increasingCurveColor, 255, 255, 255);
  SetColor(nonIncreasingCurveColor, 255, 100, 255);
  SetColor(verticalLineColor, 200, 0, 0);
  SetColor(horizontalLineColor, 0, 255, 0);
  SetColor(centerCrossColor, 0, 0, 255);
  constrainMonotoneIncreasing = 0;
  directlyUsePresetFunction = 0;
  forHdr = 0;
  colorSaturationControl = 1;
  shiftAmount = 0.1f;
}

void GeometryParams::SetDefaults() {
  rotationAngle = 45;
  unused1364 = -0.5f;
  rotationHorizontalOffset = 0;
  rotationVerticalOffset = 0;
  rotationAccuracyIterations = 0;
  twoPointAccuracyIterations = 0;
  fourPointAccuracyIterations = 0;
  perspectiveCrop = 0;
  blankWidth = 640;
  blankHeight = 480;
  blankRed = 127.5f;
  blankGreen = 127.5f;
  blankBlue = 127.5f;
}

void BlurParams::SetDefaults() {
  averageIterations = 1;
  lensBlurIterations = 1;
  lensBlurRadius = 1;
  lensBlurMaskedInput = 0;
  medianIterations = 1;
  medianMaskedInput = 0;
  medianGaussianWeighted = 0;
  medianRadius = 1;
  wmmrIterations = 1;
  wmmrRadius = 1;
  wmmrMaskedInput = 0;
  bilateralIterations = 1;
  bilateralDistribution = 3;
  bilateralWindowSize = 11;
  bilateralUseMedian = 0;
  bilateralSpreadFactor = 2.5f;
  isophoteIterations = 8;
  isophoteOffset = 0;
  isophoteMode = 0;
  isophoteModulus = 0;
  isophoteCoefficient = 0.2f;
  jensenEdgeMode = 1;
  jensenEdgeWindowSize = 5;
  jensenEdgeDominantChannel = 0;
  jensenEdgeIterations = 1;
  jensenEdgeSegments = 1;
  jensenEdgeParameter1 = 0.6f;
  jensenEdgeParameter2 = 0;
  jensenEdgeBlurring = 10;
  jensenEdgeDefringing = 0;
  unsharpRadius = 1;
  unsharpMode = 0;
  unsharpAmount = 1;
  unsharpBlurThreshold = 0;
  unsharpNoOpThreshold = 0;
  unsharpSharpeningThreshold = 1;
  gaussianSx = 1;
  gaussianSy = 1;
  xsharpenWindowSize = 3;
  xsharpenIterations = 1;
  xsharpenThreshold = 5;
  xsharpenAmount = 0.5f;
  motionBlurDistance = 21;
  motionBlurAngle = 0;
  nlMeansThreshold = 1.25f;
  nlMeansSearchRadius = 20;
  nlMeansWindowRadius = 2;
  nlMeansDistribution = 3;
  nlMeansUseMedian = 0;
  nlMeansCombinedChannels = 1;
  nlMeansUseModification = 1;
  hysteresisIterations = 1;
  hysteresisTolerance = 40;
  hysteresisCombineChannels = 0;
  hysteresisArtifactReduction = 1;
  hysteresisHaloIterations = 25;
  fastBilateralRangeStdDev = 5;
  fastBilateralRadius = 20;
  fastBilateralIterations = 1;
  fastBilateralCombineChannels = 1;
  poissonIterations = 50;
  poissonSharpeningAmount = 2;
  poissonScaleFactor = 0;
}

void LayerParams::SetDefaults() {
  layerCoefficient = 0.1f;
  canvasRed = 127.5f;
  canvasGreen = 127.5f;
  canvasBlue = 127.5f;
  minimumForInclusion = 0;
  maximumForInclusion = 255;
  unused1672 = 0;
  bottomLayerWeight = 1.0f / 3.0f;
  onlyMaskInput = 0;
  waveletLevels = 0;
  waveletMatchLad = 0;
  levelsPercentile = 5;
  levelsIncrement = 2.5f;
  cloningIterations = 500;
  cloningMode = 3;
  outsideWeight = 3;
  insideWeight = 2;
  usePyramid = 0;
}

void MaskParams::SetDefaults() {
  colorTolerance = 0.05f;
  colorToleranceIncrement = 0.01f;
  queueColors = 1;
  colorNorm = 0;
  edgeTolerance = 20;
  edgeToleranceIncrement = 1;
  edgeDetectionType = 0;
  cursorRadius = 15;
  cursorColor = 0;
  logStandardDeviation = 2;
  smoothMaskIterations = 100;
  zeroNormalization = 1;
}

void ViewParams::SetDefaults() {
  fitInterpolationMethod = 1;
  fitLanczosOrder = 3;
  fitBicubicParameter = -0.5f;
  unused1780 = 0;
}

void BarPatternParams::SetDefaults() {
  horizontalBarWidth = 2;
  horizontalBarSpacing = 8;
  horizontalBarOffset = -1;
  verticalBarWidth = 2;
  verticalBarSpacing = 8;
  verticalBarOffset = -1;
  offsetFromBottom = 0;
}

void IfsParams::ResetPlanes() {
  ifsYRangeBlockSize = 5;
  ifsYErrorCorrections = 1;
  ifsYDomainRatio = 2;
  ifsYParameter1 = 0.125f;
  ifsYParameter2 = 0.01f;
  ifsYMaxMultiplier = 2;
  ifsEyRangeBlockSize = 0;
  ifsEyErrorCorrections = 0;
  ifsEyDomainRatio = 2;
  ifsEyParameter1 = 0.125f;
  ifsEyParameter2 = 0.01f;
  ifsEyMaxMultiplier = 1.3f;
  ifsCbRangeBlockSize = 3;
  ifsCbErrorCorrections = 0;
  ifsCbDomainRatio = 2;
  ifsCbParameter1 = 0.03125f;
  ifsCbParameter2 = 0.04f;
  ifsCbMaxMultiplier = 1.3f;
  ifsCrRangeBlockSize = 3;
  ifsCrErrorCorrections = 0;
  ifsCrDomainRatio = 2;
  ifsCrParameter1 = 0.03125f;
  ifsCrParameter2 = 0.04f;
  ifsCrMaxMultiplier = 1.3f;
  ifsSharpeningFactor = 0;
}

void IfsParams::Reset() {
  ResetPlanes();
  ifsScaleFactor = 4;
  ifsIterations = 10;
  ifsYMode = 1;
  ifsEyMode = 0;
  ifsCbMode = 0;
  ifsCrMode = 0;
  ifsUseScratchDisk = 1;
  ifsWarningMessage = 1;
  ifsUseCustomSettings = 0;
  ifsImageSizeMp = 3;
  ifsImageQuality = 2;
  ifsTileWidth = 500;
  ifsTileHeight = 500;
}

void IfsParams::ApplyPreset() {
  if (ifsUseCustomSettings) return;
  ResetPlanes();
  // Larger images tolerate finer thresholds; the values are worked out in double and
  // stored as floats.
  const int s = ifsImageSizeMp;
  if (s != 0) {
    ifsYParameter1 = static_cast<float>(0.046875 / s);
    ifsYParameter2 = static_cast<float>(0.01 / s);
    ifsCbParameter1 = ifsCrParameter1 = static_cast<float>(0.046875 / s);
    ifsCbParameter2 = ifsCrParameter2 = static_cast<float>(0.002 / s);
  } else {
    ifsYParameter1 = 0.25f;
    ifsYParameter2 = 0.01f;
    ifsCbParameter1 = ifsCrParameter1 = 0.125f;
    ifsCbParameter2 = ifsCrParameter2 = 0.005f;
  }
  switch (ifsImageQuality) {
    case 0:  // Low
      ifsYErrorCorrections = 0;
      ifsSharpeningFactor = 8;
      break;
    case 1:  // Medium Low
      ifsYErrorCorrections = 1;
      ifsSharpeningFactor = 4;
      break;
    case 2:  // Medium
      ifsYErrorCorrections = 1;
      break;
    case 3:  // Medium High
      ifsYErrorCorrections = 2;
      break;
    case 4:  // High
      ifsYErrorCorrections = 5;
      break;
    default:
      break;
  }
}

void PrintParams::SetDefaults() {
  horizontalCentering = 1;
  verticalCentering = 0;
  printInterpolationMode = 1;
  printLanczosOrder = 3;
}

void InpaintParams::SetDefaults() {
  autoregressiveWidth = 15;
  autoregressiveHeight = 15;
  stepIterations = 5000;
  inpaintDominantChannel = 4;
  inpaintMode = 1;
  recalculationInterval = 100;
  enlargementScale = 4;
  evenScaleOffset = 0;
  stepSize = 0.5f;
  inpaintStandardDeviation = 5;
  inpaintParameter = 1;
  initializationExitTolerance = 0.001f;
  initialize = 1;
}

void RegularizationParams::SetDefaults() {
  tschumperleIterations = 70;
  tschumperleMode = 1;
  tschumperleRecalcInterval = 1;
  tschumperleStdDev = 5;
  tschumperleBlurStep = 0.5f;
  tschumperleEdgeStep = 0.5f;
  tschumperleBlurParameter = 1;
  tschumperleEdgeParameter = 1;
  shockIterations = 5;
  shockStdDev = 1;
  shockStepSize = 0.1f;
  shockEdgeFactor = 0.1f;
}

void GammaParams::SetDefaults() {
  colorSpaceGamma = 2.2f;
  paintCursorXOffset = 2;
  paintCursorYOffset = 1;
}

void DeconvParams::SetDefaults() {
  deconvMethod = 3;
  lsMinIterations = 50;
  lsMaxIterations = 750;
  ladMaxIterations = 51;
  lsExitTolerance = 1e-6f;
  ladExitTolerance = 0.001f;
  weightSlopesHV = 0.01f;
  weightSlopesDiagonal = 0.01f;
  weightCurvaturesHV = 0;
  weightCurvaturesDiagonal = 0;
  weightThirdOrderHV = 0;
  weightThirdOrderDiagonal = 0;
  weightCrossSlopesHV = 0;
  weightCrossSlopesDiagonal = 0;
  weightDdSlopesHVMax = 0;
  weightDdSlopesHVMin = 0;
  weightDdCurvesHVMax = 0;
  weightDdCurvesHVMin = 0;
  weightDdSlopesDMax = 0;
  weightDdSlopesDMin = 0;
  weightDdCurvesDMax = 0;
  weightDdCurvesDMin = 0;
  weightDdCurvesMax = 0;
  weightDdCurvesMin = 0;
  weightDdSlopesMax = 0;
  weightDdSlopesMin = 0;
  weightDd2CurvesMax = 0;
  weightDd2CurvesMin = 0;
  weightDd2SlopesMax = 0;
  weightDd2SlopesMin = 0;
  psfType = 1;
  psfLensBlurRadius = 2;
  psfGaussianStdDevH = 1;
  psfGaussianStdDevV = 1;
  psfUniformWidth = 3;
  psfUniformHeight = 3;
  deconvUseScratchDisk = 0;
  deconvScaleFactor = 2;
  deconvShortcut = 1;
  weightSlopesHorizontal = 0;
  weightCurvesHorizontal = 0;
  weightOrder3Horizontal = 0;
  weightSlopesVertical = 0;
  weightCurvesVertical = 0;
  weightOrder3Vertical = 0;
  // Only the first 15 coefficients of each kernel have always been cleared; the rest
  // keep what the record held, which stored files may carry.
  for (int i = 0; i < 15; ++i) customKernelH[i] = customKernelV[i] = 0;
  customKernelHCount = 0;
  customKernelVCount = 0;
  customKernelNormalize = 1;
  psfBicubicFactor = -0.5f;
  tensorBlurStdDev = 1;
}

void PeriodicParams::SetDefaults() {
  periodicFunction = 0;
  periodicIterations = 1;
  periodicPoints = 7;
  periodicPattern = 0;
  periodicRadius = 10;
  for (int i = 0; i < kMaxPoints; ++i) periodicDx[i] = periodicDy[i] = 0;
}

void PeriodicParams::ApplyPattern(int32_t pattern) {
  // Offsets saturate symmetrically, so that neither an absurd radius nor the negation
  // of an offset can overflow.
  auto whole = [](double v) {
    return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483647.0, 2147483647.0));
  };
  struct Pair {
    int32_t dx, dy;
  };
  auto set = [this](std::initializer_list<Pair> pairs) {
    for (int i = 0; i < kMaxPoints; ++i) periodicDx[i] = periodicDy[i] = 0;
    int i = 0;
    for (const Pair& p : pairs) {
      periodicDx[i] = p.dx;
      periodicDy[i] = p.dy;
      ++i;
    }
    periodicPoints = i;
  };
  const double r = periodicRadius;
  const int32_t a = whole(r + 0.5);
  if (pattern == 1) {
    // Six neighbours on a hexagon of the radius around the centre.
    const int32_t b = whole((r + 1) * 0.5);
    const int32_t c = whole((std::sqrt(3.0) * r + 1) * 0.5);
    set({{0, 0}, {a, 0}, {b, c}, {-b, c}, {-a, 0}, {-b, -c}, {b, -c}});
    periodicPattern = 1;
  } else if (pattern == 2) {
    set({{0, 0}, {a, 0}, {a, a}, {0, a}, {-a, a}, {-a, 0}, {-a, -a}, {0, -a}, {a, -a}});
    periodicPattern = 2;
  } else {
    periodicPattern = 0;
  }
}

void StackParams::SetDefaults() {
  contrastTemplateLevels = 0;
  stackReserved = 0;
  stackMode = 0;
  multivariateMedianIterations = 200;
  stackScaleLevels = 5;
  for (float& v : stackLevelParams) v = -1;
  edofScratchFiles = 0;
  alignMorphologicalAccuracy = 0;
  alignNoResizing = 1;
  alignErrorMode = 1;
  alignInterpolationAccuracy = 0;
  translationalInterpolationAccuracy = 0;
  alignMinScale = 0.9f;
  alignMaxScale = 1.5f;
  blockAlignSize = 16;
  translationalPrecision = 1;
  blockAlignSearchRadius = 3;
  blockAlignSmoothing = 1;
  blockAlignInterpolationAccuracy = 0;
  hdrParameter1 = 1;
  hdrColorSpace = int32_t(cspace::kYCbCr);
  hdrNoiseReduction = 1;
  fusionContrastMode = 0;
  fusionPoissonIterations = 0;
  fusionContrastExponent = 1;
  fusionSaturationExponent = 1;
  fusionExposureExponent = 1;
  fusionExposureStdDev = 0.1f;
  fusionPoissonSharpening = 1;
  fusionCoefA = 1;
  fusionCoefB = 0;
  fusionCoefC = 0;
  fusionCoefD = 0;
  edof2Tolerance1 = 0;
  edof2Attenuation1 = 0.5f;
  edof2Tolerance2 = 0;
  edof2Attenuation2 = 0.5f;
  edof2Tolerance3 = 0;
  edof2Attenuation3 = 0.5f;
  edof3PoissonIterations = 50;
}

void ToneMapParams::SetDefaults() {
  toneMap1Contrast = 0.025f;
  toneMap1Saturation = 0.5f;
  toneMap1Sharpener = 2;
  toneMap1OutlierRadius = 3;
  toneMap2Iterations = 500;
  toneMap2Levels = 0;
  toneMap2Preset = 0;
  toneMap2OutlierRadius = 3;
  toneMap2Equalize = 1;
  toneMap2DiagonalDifferences = 1;
  toneMap2Magnitudes = 1;
  toneMap2Saturation = 0.5f;
  toneMap2PresetC = 0.5f;
  toneMap1HysteresisIterations = 1;
  toneMap1HysteresisTolerance = 0.5f;
  toneMap1HaloIterations = 250;
}
