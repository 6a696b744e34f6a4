#pragma once
// The parameter blocks of the settings record. The record is written to "zep.ini" and
// into program steps byte for byte, so every block is a file format: each member sits at
// a fixed offset (checked below), little-endian, and every byte of a block is a member
// (padding included), so that a record built from zeroed memory has no undefined bytes.
//
// Each block has a defaults routine that sets the members that have a default and leaves
// the rest (padding, a few tails of arrays) as they are. The comments give the record
// offset of each member.
#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "the settings record is stored as the little-endian memory image");

// Opening, saving, batch processing and sequences.
struct FileParams {
  static constexpr uint32_t kOffset = 124;
  static constexpr uint32_t kSize = 564;

  int32_t pngBitDepth;          // 124
  int32_t pngCompressionLevel;  // 128
  int32_t jpegQuality;          // 132
  int32_t jpegColorSpace;       // 136: 1 BW, 2 RGB, 3 YCbCr
  int32_t fitsBitDepth;         // 140: 8, 16, 20, 32, 40 or -32
  int32_t fitsCompression;      // 144: 1-4 a compression suffix, anything else none
  uint8_t overwriteInputFile;   // 148
  char batchSuffix[256];        // 149
  char batchExtension[256];     // 405
  uint8_t pad661[3];
  int32_t maximumCharacters;     // 664
  uint8_t noFloatBuffersOnRead;  // 668
  uint8_t pad669[3];
  int32_t tiffBitDepth;                   // 672
  int32_t animationDelay;                 // 676
  int32_t animationMode;                  // 680
  uint8_t destroyAlignmentTemplateAtEnd;  // 684
  uint8_t destroyContrastTemplateAtEnd;   // 685
  uint8_t pad686[2];

  void SetDefaults();
};

// Handed whole to the back-projection post-processing of three enlargement methods.
struct PostProcessParams {
  int32_t reserved;  // never edited
  int32_t superRezIters;
  float edgeSharpeningParam1;
  float edgeSharpeningParam2;
  float jaggyRemoval;
  int32_t edgeSharpening;  // edge sharpening list
};

// Every resizing and enlargement method. The largest block but the program itself: a
// recorded step keeps a copy of this size.
struct ResizeParams {
  static constexpr uint32_t kOffset = 688;
  static constexpr uint32_t kSize = 464;

  uint8_t useScratchDisk;  // 688
  uint8_t unused689;
  uint8_t centerToHalfPixel;  // 690
  uint8_t unused691;
  int32_t numberOfIterations;     // 692
  int32_t xinLiWindowSize;        // 696
  int32_t jensenWindowSize;       // 700
  int32_t lanczosOrder;           // 704
  int32_t unused708[4];           // 708
  float edgeDetectionParameter1;  // 724
  float edgeDetectionParameter2;  // 728
  float edgeBlurringParameter;    // 732
  float bicubicSharpeningFactor;  // 736
  float xinLiBias;                // 740
  int32_t outputWidth;            // 744
  int32_t outputHeight;           // 748
  double horizontalScaleFactor;   // 752
  double verticalScaleFactor;     // 760
  double horizontalOffset;        // 768
  double verticalOffset;          // 776
  int32_t precedence;             // 784: 1-6
  int32_t dominantChannel;        // 788: 0 automatic, 1-3 a channel
  float blurAmountForReductions;  // 792
  float taperedWindowWeight;      // 796
  float normalizationWeight;      // 800: 10000 stands for infinity
  uint8_t specialMode;            // 804
  uint8_t zhaoModified12thOrder;  // 805
  uint8_t pad806[2];
  float zhaoAntialiasParameter;          // 808
  uint8_t kernelExpansionForReductions;  // 812
  uint8_t pad813[3];
  int32_t bpIterationsFirstPass;        // 816
  int32_t backprojectionModeFirstPass;  // 820: kernel list
  uint8_t unused824;
  uint8_t pad825[3];
  int32_t mbsScaleFactor;      // 828
  int32_t oldDdlOrder;         // 832
  int32_t bpOrder;             // 836
  double stairScaleIncrement;  // 840
  uint8_t stairUsesLanczos;    // 848
  uint8_t pad849[3];
  int32_t tileHeight;             // 852
  uint8_t oldDdlHaloSuppression;  // 856
  uint8_t pad857[3];
  float pyramidScaleIncrement;           // 860
  float pyramidSharpness;                // 864
  float haloWidthFactor;                 // 868
  float exitTolerance;                   // 872
  float regularizationAmount;            // 876
  float edgeSharpeningIters;             // 880: a whole number
  float edgeSharpeningAmount;            // 884
  float edgeRejection;                   // 888
  int32_t bpIterationsSecondPass;        // 892
  int32_t backprojectionModeSecondPass;  // 896: kernel list
  int32_t shortcut;                      // 900: shortcut list
  int32_t presharpenReductionModel;      // 904: kernel list
  int32_t presharpenScaleFactor;         // 908
  float presharpeningAmount;             // 912
  float presharpenAmount;                // 916
  float laplacianNondirectional;         // 920
  float identityWeight;                  // 924
  float normalization;                   // 928
  float laplacianDirectional;            // 932
  int32_t cgIterations;                  // 936
  int32_t windowlessSizeIters;           // 940
  int32_t windowlessBackProjIters;       // 944
  int32_t unused948;
  int32_t windowlessReductionMethod;        // 952: reduction list
  int32_t windowlessBaseEnlargement;        // 956: enlargement list
  float windowlessInverseSharpeningRadius;  // 960
  float windowlessInverseSharpeningAmount;  // 964
  uint8_t windowlessTestReductionParams;    // 968
  uint8_t unused969;
  uint8_t windowlessHaloSuppression;  // 970
  uint8_t startingEstimate;           // 971
  uint8_t windowless16Parameters;     // 972: 1 sixteen parameters, 0 four
  uint8_t pad973[3];
  int32_t windowlessShortcut;  // 976: shortcut list
  int32_t unused980;
  PostProcessParams windowlessPost;  // 984
  int32_t ddlSizeIters;              // 1008
  int32_t ddlReductionMethod;        // 1012: reduction list
  int32_t ddlBaseEnlargement;        // 1016: enlargement list
  int32_t ddlOrder;                  // 1020
  int32_t ddlBackProjIters;          // 1024
  int32_t ddlShortcut;               // 1028: shortcut list
  uint8_t ddlPresharpen;             // 1032
  uint8_t ddlTestReductionParams;    // 1033
  uint8_t pad1034[2];
  float ddlInverseSharpeningRadius;          // 1036
  float ddlInverseSharpeningAmount;          // 1040
  PostProcessParams ddlPost;                 // 1044
  int32_t integerEnlargementScale;           // 1068
  int32_t pseudoInverseReduction;            // 1072: reduction list
  int32_t pseudoInverseBaseEnlargement;      // 1076: enlargement list
  int32_t pseudoInverseShortcut;             // 1080: shortcut list
  float pseudoInverseSharpeningRadius;       // 1084
  float pseudoInverseSharpeningAmount;       // 1088
  uint8_t pseudoInverseTestReductionParams;  // 1092
  uint8_t pad1093[3];
  PostProcessParams pseudoInversePost;   // 1096
  int32_t seamWidth;                     // 1120
  int32_t seamHeight;                    // 1124
  int32_t energyFunctionType;            // 1128
  int32_t derivativeBlendingIterations;  // 1132
  uint8_t updateEnergyFunction;          // 1136
  uint8_t useDiagonalDerivatives;        // 1137
  uint8_t pad1138[2];
  float avoidanceEnergyValue;     // 1140
  float removalEnergyValue;       // 1144
  float blendingAvoidanceWeight;  // 1148

  void SetDefaults();
};

// Point operations and the custom curve.
struct BasicParams {
  static constexpr uint32_t kOffset = 1152;
  static constexpr uint32_t kSize = 208;
  static constexpr int kMaxControlPoints = 31;

  float addSubtractConstant;             // 1152
  float multiplyDivideConstant;          // 1156
  float gamma;                           // 1160
  float addSubtractColorCoefficient;     // 1164
  float interpolateColorCoefficient;     // 1168
  int32_t outlierSmoothingRadius;        // 1172
  int32_t lookupElements;                // 1176
  int32_t controlPoints;                 // 1180
  int32_t presetFunction;                // 1184: 0-9
  float presetParameter;                 // 1188
  float middlePointWeight;               // 1192
  float endPointWeight;                  // 1196
  float curveValues[kMaxControlPoints];  // 1200: the first controlPoints are used
  int32_t differentialOrder;             // 1324
  uint8_t backgroundColor[3];            // 1328: red, green, blue
  uint8_t increasingCurveColor[3];       // 1331
  uint8_t nonIncreasingCurveColor[3];    // 1334
  uint8_t verticalLineColor[3];          // 1337
  uint8_t horizontalLineColor[3];        // 1340
  uint8_t centerCrossColor[3];           // 1343
  uint8_t constrainMonotoneIncreasing;   // 1346
  uint8_t directlyUsePresetFunction;     // 1347
  uint8_t forHdr;                        // 1348
  uint8_t pad1349[3];
  float colorSaturationControl;  // 1352
  float shiftAmount;             // 1356

  void SetDefaults();
};

// Rotation, point registration and the blank image.
struct GeometryParams {
  static constexpr uint32_t kOffset = 1360;
  static constexpr uint32_t kSize = 52;

  float rotationAngle;  // 1360, degrees
  float unused1364;
  float rotationHorizontalOffset;       // 1368
  float rotationVerticalOffset;         // 1372
  int32_t rotationAccuracyIterations;   // 1376
  int32_t twoPointAccuracyIterations;   // 1380
  int32_t fourPointAccuracyIterations;  // 1384
  uint8_t perspectiveCrop;              // 1388
  uint8_t pad1389[3];
  int32_t blankWidth;   // 1392
  int32_t blankHeight;  // 1396
  float blankRed;       // 1400
  float blankGreen;     // 1404
  float blankBlue;      // 1408

  void SetDefaults();
};

// Blur and sharpen filters. The comments give offsets within the block.
struct BlurParams {
  static constexpr uint32_t kOffset = 1412;
  static constexpr uint32_t kSize = 236;

  int32_t averageIterations;    // 0
  int32_t lensBlurIterations;   // 4
  int32_t lensBlurRadius;       // 8
  uint8_t lensBlurMaskedInput;  // 12
  uint8_t pad13[3];
  int32_t medianIterations;        // 16
  uint8_t medianMaskedInput;       // 20
  uint8_t medianGaussianWeighted;  // 21
  uint8_t pad22[2];
  float medianRadius;       // 24
  int32_t wmmrIterations;   // 28
  int32_t wmmrRadius;       // 32
  uint8_t wmmrMaskedInput;  // 36
  uint8_t pad37[3];
  int32_t bilateralIterations;    // 40
  int32_t bilateralDistribution;  // 44: 0 None, 1 Cauchy, 2 Laplace, 3 Gaussian, 4 Uniform
  int32_t bilateralWindowSize;    // 48
  uint8_t bilateralUseMedian;     // 52
  uint8_t pad53[3];
  float bilateralSpreadFactor;        // 56
  int32_t isophoteIterations;         // 60
  int32_t isophoteOffset;             // 64
  int32_t isophoteMode;               // 68
  int32_t isophoteModulus;            // 72
  float isophoteCoefficient;          // 76
  int32_t jensenEdgeMode;             // 80
  int32_t jensenEdgeWindowSize;       // 84
  int32_t jensenEdgeDominantChannel;  // 88: 0 automatic, 1-3 a channel
  int32_t jensenEdgeIterations;       // 92
  int32_t jensenEdgeSegments;         // 96
  float jensenEdgeParameter1;         // 100
  float jensenEdgeParameter2;         // 104
  float jensenEdgeBlurring;           // 108
  uint8_t jensenEdgeDefringing;       // 112
  uint8_t pad113[3];
  int32_t unsharpRadius;             // 116
  int32_t unsharpMode;               // 120: 0 Gaussian, 1 Median, 2 WMMR, 3 Lens Blur, 4 LoG
  float unsharpAmount;               // 124
  float unsharpBlurThreshold;        // 128
  float unsharpNoOpThreshold;        // 132
  float unsharpSharpeningThreshold;  // 136
  float gaussianSx;                  // 140
  float gaussianSy;                  // 144
  int32_t xsharpenWindowSize;        // 148
  int32_t xsharpenIterations;        // 152
  float xsharpenThreshold;           // 156
  float xsharpenAmount;              // 160
  float motionBlurDistance;          // 164
  float motionBlurAngle;             // 168
  float nlMeansThreshold;            // 172
  int32_t nlMeansSearchRadius;       // 176
  int32_t nlMeansWindowRadius;       // 180
  int32_t nlMeansDistribution;       // 184: 1-4 as bilateralDistribution
  uint8_t nlMeansUseMedian;          // 188
  uint8_t nlMeansCombinedChannels;   // 189
  uint8_t nlMeansUseModification;    // 190
  uint8_t pad191;
  int32_t hysteresisIterations;         // 192
  float hysteresisTolerance;            // 196
  uint8_t hysteresisCombineChannels;    // 200
  uint8_t hysteresisArtifactReduction;  // 201
  uint8_t pad202[2];
  int32_t hysteresisHaloIterations;      // 204
  float fastBilateralRangeStdDev;        // 208
  int32_t fastBilateralRadius;           // 212
  int32_t fastBilateralIterations;       // 216
  uint8_t fastBilateralCombineChannels;  // 220
  uint8_t pad221[3];
  int32_t poissonIterations;      // 224
  float poissonSharpeningAmount;  // 228
  float poissonScaleFactor;       // 232

  void SetDefaults();
};

// Two-layer operations, layer matching, the combined view and blended transfer.
struct LayerParams {
  static constexpr uint32_t kOffset = 1648;
  static constexpr uint32_t kSize = 72;

  float layerCoefficient;     // 1648
  float canvasRed;            // 1652
  float canvasGreen;          // 1656
  float canvasBlue;           // 1660
  float minimumForInclusion;  // 1664
  float maximumForInclusion;  // 1668
  float unused1672;
  float bottomLayerWeight;  // 1676
  uint8_t onlyMaskInput;    // 1680
  uint8_t pad1681[3];
  int32_t waveletLevels;    // 1684: 0 automatic
  uint8_t waveletMatchLad;  // 1688: 1 LAD, 0 LS
  uint8_t pad1689[3];
  float levelsPercentile;     // 1692
  float levelsIncrement;      // 1696
  int32_t cloningIterations;  // 1700
  int32_t cloningMode;        // 1704: 0-4
  float outsideWeight;        // 1708
  float insideWeight;         // 1712
  uint8_t usePyramid;         // 1716
  uint8_t pad1717[3];

  void SetDefaults();
};

// Masks and the paint brush.
struct MaskParams {
  static constexpr uint32_t kOffset = 1720;
  static constexpr uint32_t kSize = 48;

  float colorTolerance;           // 1720
  float colorToleranceIncrement;  // 1724
  int32_t queueColors;            // 1728
  int32_t colorNorm;              // 1732: 0 Linf, 1 L1, 2 L2
  float edgeTolerance;            // 1736
  float edgeToleranceIncrement;   // 1740
  int32_t edgeDetectionType;      // 1744: 0 Sobel, 1 Prewitt, 2 LoG
  int32_t cursorRadius;           // 1748, pixels
  int32_t cursorColor;            // 1752: 0 Reverse, 1 White, 2 Black
  float logStandardDeviation;     // 1756
  int32_t smoothMaskIterations;   // 1760
  uint8_t zeroNormalization;      // 1764
  uint8_t pad1765[3];

  void SetDefaults();
};

// The display fitted to the window.
struct ViewParams {
  static constexpr uint32_t kOffset = 1768;
  static constexpr uint32_t kSize = 16;

  int32_t fitInterpolationMethod;  // 1768: 0 Halftone ... 6 ColorOnColor
  int32_t fitLanczosOrder;         // 1772
  float fitBicubicParameter;       // 1776
  int32_t unused1780;

  void SetDefaults();
};

// The bar pattern.
struct BarPatternParams {
  static constexpr uint32_t kOffset = 18464;
  static constexpr uint32_t kSize = 28;

  int32_t horizontalBarWidth;    // 18464
  int32_t horizontalBarSpacing;  // 18468
  int32_t horizontalBarOffset;   // 18472
  int32_t verticalBarWidth;      // 18476
  int32_t verticalBarSpacing;    // 18480
  int32_t verticalBarOffset;     // 18484
  uint8_t offsetFromBottom;      // 18488
  uint8_t pad18489[3];

  void SetDefaults();
};

// Fractal IFS coding. Comments give offsets within the block. The 24 plane fields (range
// block size to maximum multiplier, for Y, Ey, Cb and Cr) are handed to the codec in this
// order.
struct IfsParams {
  static constexpr uint32_t kOffset = 18492;
  static constexpr uint32_t kSize = 148;

  int32_t ifsYRangeBlockSize;     // 0
  int32_t ifsYErrorCorrections;   // 4
  int32_t ifsYDomainRatio;        // 8
  float ifsYParameter1;           // 12
  float ifsYParameter2;           // 16
  float ifsYMaxMultiplier;        // 20
  int32_t ifsEyRangeBlockSize;    // 24
  int32_t ifsEyErrorCorrections;  // 28
  int32_t ifsEyDomainRatio;       // 32
  float ifsEyParameter1;          // 36
  float ifsEyParameter2;          // 40
  float ifsEyMaxMultiplier;       // 44
  int32_t ifsCbRangeBlockSize;    // 48
  int32_t ifsCbErrorCorrections;  // 52
  int32_t ifsCbDomainRatio;       // 56
  float ifsCbParameter1;          // 60
  float ifsCbParameter2;          // 64
  float ifsCbMaxMultiplier;       // 68
  int32_t ifsCrRangeBlockSize;    // 72
  int32_t ifsCrErrorCorrections;  // 76
  int32_t ifsCrDomainRatio;       // 80
  float ifsCrParameter1;          // 84
  float ifsCrParameter2;          // 88
  float ifsCrMaxMultiplier;       // 92
  int32_t ifsScaleFactor;         // 96
  int32_t ifsIterations;          // 100
  int32_t ifsYMode;               // 104
  int32_t ifsEyMode;              // 108
  int32_t ifsCbMode;              // 112
  int32_t ifsCrMode;              // 116
  uint8_t ifsUseScratchDisk;      // 120
  uint8_t pad121[3];
  int32_t ifsSharpeningFactor;   // 124
  uint8_t ifsWarningMessage;     // 128
  uint8_t ifsUseCustomSettings;  // 129
  uint8_t pad130[2];
  int32_t ifsImageSizeMp;   // 132
  int32_t ifsImageQuality;  // 136: 0 Low, 1 Medium Low, 2 Medium, 3 Medium High, 4 High
  int32_t ifsTileWidth;     // 140
  int32_t ifsTileHeight;    // 144

  // The block's defaults routine; the quality preset is not applied by it.
  void Reset();
  // The defaults of the 24 plane fields and of the sharpening factor.
  void ResetPlanes();
  // With custom settings off, derives the plane fields from the image size and quality;
  // with them on, leaves everything alone.
  void ApplyPreset();
};

// Printing.
struct PrintParams {
  static constexpr uint32_t kOffset = 18640;
  static constexpr uint32_t kSize = 12;

  uint8_t horizontalCentering;  // 18640
  uint8_t verticalCentering;    // 18641
  uint8_t pad18642[2];
  int32_t printInterpolationMode;  // 18644: 0 Driver, 1 Triangulation, 2 Lanczos
  int32_t printLanczosOrder;       // 18648

  void SetDefaults();
};

// Texture and diffusion inpainting.
struct InpaintParams {
  static constexpr uint32_t kOffset = 18652;
  static constexpr uint32_t kSize = 52;

  int32_t autoregressiveWidth;        // 18652
  int32_t autoregressiveHeight;       // 18656
  int32_t stepIterations;             // 18660
  int32_t inpaintDominantChannel;     // 18664: 0 automatic, 1-3 a channel, 4 combined
  int32_t inpaintMode;                // 18668: 1 or 2
  int32_t recalculationInterval;      // 18672
  int32_t enlargementScale;           // 18676
  int32_t evenScaleOffset;            // 18680
  float stepSize;                     // 18684
  float inpaintStandardDeviation;     // 18688
  float inpaintParameter;             // 18692
  float initializationExitTolerance;  // 18696
  uint8_t initialize;                 // 18700
  uint8_t pad18701[3];

  void SetDefaults();
};

// Anisotropic regularization and the shock filter. Offsets within the block.
struct RegularizationParams {
  static constexpr uint32_t kOffset = 18704;
  static constexpr uint32_t kSize = 48;

  int32_t tschumperleIterations;      // 0
  int32_t tschumperleMode;            // 4
  int32_t tschumperleRecalcInterval;  // 8
  float tschumperleStdDev;            // 12
  float tschumperleBlurStep;          // 16
  float tschumperleEdgeStep;          // 20
  float tschumperleBlurParameter;     // 24
  float tschumperleEdgeParameter;     // 28
  int32_t shockIterations;            // 32
  float shockStdDev;                  // 36
  float shockStepSize;                // 40
  float shockEdgeFactor;              // 44

  void SetDefaults();
};

// The gamma of the GammaX colour spaces and the paint-cursor offsets.
struct GammaParams {
  static constexpr uint32_t kOffset = 18752;
  static constexpr uint32_t kSize = 12;

  float colorSpaceGamma;       // 18752
  int32_t paintCursorXOffset;  // 18756
  int32_t paintCursorYOffset;  // 18760

  void SetDefaults();
};

// Regularized deconvolution. Offsets within the block.
struct DeconvParams {
  static constexpr uint32_t kOffset = 18764;
  static constexpr uint32_t kSize = 368;
  static constexpr int kMaxKernel = 21;

  int32_t deconvMethod;             // 0: 0 LAD, 1 LS, 2 Convolve, 3 Warning
  int32_t lsMinIterations;          // 4
  int32_t lsMaxIterations;          // 8
  int32_t ladMaxIterations;         // 12
  float lsExitTolerance;            // 16
  float ladExitTolerance;           // 20
  float weightSlopesHV;             // 24
  float weightSlopesDiagonal;       // 28
  float weightCurvaturesHV;         // 32
  float weightCurvaturesDiagonal;   // 36
  float weightThirdOrderHV;         // 40
  float weightThirdOrderDiagonal;   // 44
  float weightCrossSlopesHV;        // 48
  float weightCrossSlopesDiagonal;  // 52
  float weightDdSlopesHVMax;        // 56
  float weightDdSlopesHVMin;        // 60
  float weightDdCurvesHVMax;        // 64
  float weightDdCurvesHVMin;        // 68
  float weightDdSlopesDMax;         // 72
  float weightDdSlopesDMin;         // 76
  float weightDdCurvesDMax;         // 80
  float weightDdCurvesDMin;         // 84
  float weightDdCurvesMax;          // 88
  float weightDdCurvesMin;          // 92
  float weightDdSlopesMax;          // 96
  float weightDdSlopesMin;          // 100
  float weightDd2CurvesMax;         // 104
  float weightDd2CurvesMin;         // 108
  float weightDd2SlopesMax;         // 112
  float weightDd2SlopesMin;         // 116
  int32_t psfType;                  // 120: 0 Identity ... 11 Bicubic+Decimate
  int32_t psfLensBlurRadius;        // 124
  float psfGaussianStdDevH;         // 128
  float psfGaussianStdDevV;         // 132
  int32_t psfUniformWidth;          // 136
  int32_t psfUniformHeight;         // 140
  uint8_t deconvUseScratchDisk;     // 144
  uint8_t pad145[3];
  int32_t deconvScaleFactor;        // 148
  int32_t deconvShortcut;           // 152: 0 None, 1 YCbCr, 2 YCbCr2
  float weightSlopesHorizontal;     // 156
  float weightCurvesHorizontal;     // 160
  float weightOrder3Horizontal;     // 164
  float weightSlopesVertical;       // 168
  float weightCurvesVertical;       // 172
  float weightOrder3Vertical;       // 176
  float customKernelH[kMaxKernel];  // 180
  float customKernelV[kMaxKernel];  // 264
  int32_t customKernelHCount;       // 348: coefficients used of customKernelH
  int32_t customKernelVCount;       // 352
  uint8_t customKernelNormalize;    // 356
  uint8_t pad357[3];
  float psfBicubicFactor;  // 360
  float tensorBlurStdDev;  // 364

  void SetDefaults();
};

// Periodic smoothing. Offsets within the block.
struct PeriodicParams {
  static constexpr uint32_t kOffset = 19132;
  static constexpr uint32_t kSize = 148;
  static constexpr int kMaxPoints = 16;

  int32_t periodicFunction;        // 0: 0 Median, 1 WMMR, 2 WMMR-Average, 3 Average
  int32_t periodicIterations;      // 4
  int32_t periodicPoints;          // 8: offset pairs used, 2-16
  int32_t periodicPattern;         // 12: 0 Custom, 1 Honeycomb, 2 Crosshatch
  float periodicRadius;            // 16
  int32_t periodicDx[kMaxPoints];  // 20
  int32_t periodicDy[kMaxPoints];  // 84

  void SetDefaults();
  // Sets the pattern: Honeycomb (1) and Crosshatch (2) fill the offset pairs and the
  // number of points from the radius; any other code means Custom (0) and keeps the
  // pairs as they are.
  void ApplyPattern(int32_t pattern);
};

// Alignment and stacking. Offsets within the block.
struct StackParams {
  static constexpr uint32_t kOffset = 19280;
  static constexpr uint32_t kSize = 180;
  static constexpr int kMaxLevels = 8;

  int32_t contrastTemplateLevels;        // 0
  int32_t stackReserved;                 // 4: read by nothing
  int32_t stackMode;                     // 8: 0 Average ... 8 Extended DOF 3
  int32_t multivariateMedianIterations;  // 12
  int32_t stackScaleLevels;              // 16: level parameters used, 1-8
  float stackLevelParams[kMaxLevels];    // 20: -1 stands for infinity
  uint8_t edofScratchFiles;              // 52
  uint8_t alignMorphologicalAccuracy;    // 53
  uint8_t alignNoResizing;               // 54
  uint8_t pad55;
  int32_t alignErrorMode;                      // 56
  int32_t alignInterpolationAccuracy;          // 60
  int32_t translationalInterpolationAccuracy;  // 64
  float alignMinScale;                         // 68
  float alignMaxScale;                         // 72
  int32_t blockAlignSize;                      // 76
  float translationalPrecision;                // 80
  float blockAlignSearchRadius;                // 84
  float blockAlignSmoothing;                   // 88
  int32_t blockAlignInterpolationAccuracy;     // 92
  float hdrParameter1;                         // 96
  int32_t hdrColorSpace;                       // 100: a colour-space code word
  uint8_t hdrNoiseReduction;                   // 104
  uint8_t pad105[3];
  int32_t fusionContrastMode;       // 108
  int32_t fusionPoissonIterations;  // 112
  float fusionContrastExponent;     // 116: -1 stands for infinity
  float fusionSaturationExponent;   // 120
  float fusionExposureExponent;     // 124
  float fusionExposureStdDev;       // 128
  float fusionPoissonSharpening;    // 132
  float fusionCoefA;                // 136
  float fusionCoefB;                // 140
  float fusionCoefC;                // 144
  float fusionCoefD;                // 148
  float edof2Tolerance1;            // 152
  float edof2Attenuation1;          // 156
  float edof2Tolerance2;            // 160
  float edof2Attenuation2;          // 164
  float edof2Tolerance3;            // 168
  float edof2Attenuation3;          // 172
  int32_t edof3PoissonIterations;   // 176

  void SetDefaults();
};

// Tone maps. Offsets within the block.
struct ToneMapParams {
  static constexpr uint32_t kOffset = 19460;
  static constexpr uint32_t kSize = 56;

  float toneMap1Contrast;               // 0
  float toneMap1Saturation;             // 4
  float toneMap1Sharpener;              // 8
  int32_t toneMap1OutlierRadius;        // 12
  int32_t toneMap2Iterations;           // 16
  int32_t toneMap2Levels;               // 20
  int32_t toneMap2Preset;               // 24: 0 None ... 9 Inverse Sigmoid
  int32_t toneMap2OutlierRadius;        // 28
  uint8_t toneMap2Equalize;             // 32
  uint8_t toneMap2DiagonalDifferences;  // 33
  uint8_t toneMap2Magnitudes;           // 34
  uint8_t pad35;
  float toneMap2Saturation;              // 36
  float toneMap2PresetC;                 // 40
  int32_t toneMap1HysteresisIterations;  // 44
  float toneMap1HysteresisTolerance;     // 48
  int32_t toneMap1HaloIterations;        // 52

  void SetDefaults();
};

// Checks a member's offset: a block member against its record offset, or against its
// offset within the block for the blocks whose layout is given that way.
#define ZEP_RECORD_AT(Block, member, offset) \
  static_assert(Block::kOffset + offsetof(Block, member) == (offset), #member)
#define ZEP_BLOCK_AT(Block, member, offset) \
  static_assert(offsetof(Block, member) == (offset), #member)

static_assert(sizeof(FileParams) == FileParams::kSize);
ZEP_RECORD_AT(FileParams, pngBitDepth, 124);
ZEP_RECORD_AT(FileParams, pngCompressionLevel, 128);
ZEP_RECORD_AT(FileParams, jpegQuality, 132);
ZEP_RECORD_AT(FileParams, jpegColorSpace, 136);
ZEP_RECORD_AT(FileParams, fitsBitDepth, 140);
ZEP_RECORD_AT(FileParams, fitsCompression, 144);
ZEP_RECORD_AT(FileParams, overwriteInputFile, 148);
ZEP_RECORD_AT(FileParams, batchSuffix, 149);
ZEP_RECORD_AT(FileParams, batchExtension, 405);
ZEP_RECORD_AT(FileParams, maximumCharacters, 664);
ZEP_RECORD_AT(FileParams, noFloatBuffersOnRead, 668);
ZEP_RECORD_AT(FileParams, tiffBitDepth, 672);
ZEP_RECORD_AT(FileParams, animationDelay, 676);
ZEP_RECORD_AT(FileParams, animationMode, 680);
ZEP_RECORD_AT(FileParams, destroyAlignmentTemplateAtEnd, 684);
ZEP_RECORD_AT(FileParams, destroyContrastTemplateAtEnd, 685);

static_assert(sizeof(PostProcessParams) == 24);
ZEP_BLOCK_AT(PostProcessParams, reserved, 0);
ZEP_BLOCK_AT(PostProcessParams, superRezIters, 4);
ZEP_BLOCK_AT(PostProcessParams, edgeSharpeningParam1, 8);
ZEP_BLOCK_AT(PostProcessParams, edgeSharpeningParam2, 12);
ZEP_BLOCK_AT(PostProcessParams, jaggyRemoval, 16);
ZEP_BLOCK_AT(PostProcessParams, edgeSharpening, 20);

static_assert(sizeof(ResizeParams) == ResizeParams::kSize);
ZEP_RECORD_AT(ResizeParams, useScratchDisk, 688);
ZEP_RECORD_AT(ResizeParams, unused689, 689);
ZEP_RECORD_AT(ResizeParams, centerToHalfPixel, 690);
ZEP_RECORD_AT(ResizeParams, unused691, 691);
ZEP_RECORD_AT(ResizeParams, numberOfIterations, 692);
ZEP_RECORD_AT(ResizeParams, xinLiWindowSize, 696);
ZEP_RECORD_AT(ResizeParams, jensenWindowSize, 700);
ZEP_RECORD_AT(ResizeParams, lanczosOrder, 704);
ZEP_RECORD_AT(ResizeParams, unused708, 708);
ZEP_RECORD_AT(ResizeParams, edgeDetectionParameter1, 724);
ZEP_RECORD_AT(ResizeParams, edgeDetectionParameter2, 728);
ZEP_RECORD_AT(ResizeParams, edgeBlurringParameter, 732);
ZEP_RECORD_AT(ResizeParams, bicubicSharpeningFactor, 736);
ZEP_RECORD_AT(ResizeParams, xinLiBias, 740);
ZEP_RECORD_AT(ResizeParams, outputWidth, 744);
ZEP_RECORD_AT(ResizeParams, outputHeight, 748);
ZEP_RECORD_AT(ResizeParams, horizontalScaleFactor, 752);
ZEP_RECORD_AT(ResizeParams, verticalScaleFactor, 760);
ZEP_RECORD_AT(ResizeParams, horizontalOffset, 768);
ZEP_RECORD_AT(ResizeParams, verticalOffset, 776);
ZEP_RECORD_AT(ResizeParams, precedence, 784);
ZEP_RECORD_AT(ResizeParams, dominantChannel, 788);
ZEP_RECORD_AT(ResizeParams, blurAmountForReductions, 792);
ZEP_RECORD_AT(ResizeParams, taperedWindowWeight, 796);
ZEP_RECORD_AT(ResizeParams, normalizationWeight, 800);
ZEP_RECORD_AT(ResizeParams, specialMode, 804);
ZEP_RECORD_AT(ResizeParams, zhaoModified12thOrder, 805);
ZEP_RECORD_AT(ResizeParams, zhaoAntialiasParameter, 808);
ZEP_RECORD_AT(ResizeParams, kernelExpansionForReductions, 812);
ZEP_RECORD_AT(ResizeParams, bpIterationsFirstPass, 816);
ZEP_RECORD_AT(ResizeParams, backprojectionModeFirstPass, 820);
ZEP_RECORD_AT(ResizeParams, unused824, 824);
ZEP_RECORD_AT(ResizeParams, mbsScaleFactor, 828);
ZEP_RECORD_AT(ResizeParams, oldDdlOrder, 832);
ZEP_RECORD_AT(ResizeParams, bpOrder, 836);
ZEP_RECORD_AT(ResizeParams, stairScaleIncrement, 840);
ZEP_RECORD_AT(ResizeParams, stairUsesLanczos, 848);
ZEP_RECORD_AT(ResizeParams, tileHeight, 852);
ZEP_RECORD_AT(ResizeParams, oldDdlHaloSuppression, 856);
ZEP_RECORD_AT(ResizeParams, pyramidScaleIncrement, 860);
ZEP_RECORD_AT(ResizeParams, pyramidSharpness, 864);
ZEP_RECORD_AT(ResizeParams, haloWidthFactor, 868);
ZEP_RECORD_AT(ResizeParams, exitTolerance, 872);
ZEP_RECORD_AT(ResizeParams, regularizationAmount, 876);
ZEP_RECORD_AT(ResizeParams, edgeSharpeningIters, 880);
ZEP_RECORD_AT(ResizeParams, edgeSharpeningAmount, 884);
ZEP_RECORD_AT(ResizeParams, edgeRejection, 888);
ZEP_RECORD_AT(ResizeParams, bpIterationsSecondPass, 892);
ZEP_RECORD_AT(ResizeParams, backprojectionModeSecondPass, 896);
ZEP_RECORD_AT(ResizeParams, shortcut, 900);
ZEP_RECORD_AT(ResizeParams, presharpenReductionModel, 904);
ZEP_RECORD_AT(ResizeParams, presharpenScaleFactor, 908);
ZEP_RECORD_AT(ResizeParams, presharpeningAmount, 912);
ZEP_RECORD_AT(ResizeParams, presharpenAmount, 916);
ZEP_RECORD_AT(ResizeParams, laplacianNondirectional, 920);
ZEP_RECORD_AT(ResizeParams, identityWeight, 924);
ZEP_RECORD_AT(ResizeParams, normalization, 928);
ZEP_RECORD_AT(ResizeParams, laplacianDirectional, 932);
ZEP_RECORD_AT(ResizeParams, cgIterations, 936);
ZEP_RECORD_AT(ResizeParams, windowlessSizeIters, 940);
ZEP_RECORD_AT(ResizeParams, windowlessBackProjIters, 944);
ZEP_RECORD_AT(ResizeParams, unused948, 948);
ZEP_RECORD_AT(ResizeParams, windowlessReductionMethod, 952);
ZEP_RECORD_AT(ResizeParams, windowlessBaseEnlargement, 956);
ZEP_RECORD_AT(ResizeParams, windowlessInverseSharpeningRadius, 960);
ZEP_RECORD_AT(ResizeParams, windowlessInverseSharpeningAmount, 964);
ZEP_RECORD_AT(ResizeParams, windowlessTestReductionParams, 968);
ZEP_RECORD_AT(ResizeParams, unused969, 969);
ZEP_RECORD_AT(ResizeParams, windowlessHaloSuppression, 970);
ZEP_RECORD_AT(ResizeParams, startingEstimate, 971);
ZEP_RECORD_AT(ResizeParams, windowless16Parameters, 972);
ZEP_RECORD_AT(ResizeParams, windowlessShortcut, 976);
ZEP_RECORD_AT(ResizeParams, unused980, 980);
ZEP_RECORD_AT(ResizeParams, windowlessPost, 984);
ZEP_RECORD_AT(ResizeParams, ddlSizeIters, 1008);
ZEP_RECORD_AT(ResizeParams, ddlReductionMethod, 1012);
ZEP_RECORD_AT(ResizeParams, ddlBaseEnlargement, 1016);
ZEP_RECORD_AT(ResizeParams, ddlOrder, 1020);
ZEP_RECORD_AT(ResizeParams, ddlBackProjIters, 1024);
ZEP_RECORD_AT(ResizeParams, ddlShortcut, 1028);
ZEP_RECORD_AT(ResizeParams, ddlPresharpen, 1032);
ZEP_RECORD_AT(ResizeParams, ddlTestReductionParams, 1033);
ZEP_RECORD_AT(ResizeParams, ddlInverseSharpeningRadius, 1036);
ZEP_RECORD_AT(ResizeParams, ddlInverseSharpeningAmount, 1040);
ZEP_RECORD_AT(ResizeParams, ddlPost, 1044);
ZEP_RECORD_AT(ResizeParams, integerEnlargementScale, 1068);
ZEP_RECORD_AT(ResizeParams, pseudoInverseReduction, 1072);
ZEP_RECORD_AT(ResizeParams, pseudoInverseBaseEnlargement, 1076);
ZEP_RECORD_AT(ResizeParams, pseudoInverseShortcut, 1080);
ZEP_RECORD_AT(ResizeParams, pseudoInverseSharpeningRadius, 1084);
ZEP_RECORD_AT(ResizeParams, pseudoInverseSharpeningAmount, 1088);
ZEP_RECORD_AT(ResizeParams, pseudoInverseTestReductionParams, 1092);
ZEP_RECORD_AT(ResizeParams, pseudoInversePost, 1096);
ZEP_RECORD_AT(ResizeParams, seamWidth, 1120);
ZEP_RECORD_AT(ResizeParams, seamHeight, 1124);
ZEP_RECORD_AT(ResizeParams, energyFunctionType, 1128);
ZEP_RECORD_AT(ResizeParams, derivativeBlendingIterations, 1132);
ZEP_RECORD_AT(ResizeParams, updateEnergyFunction, 1136);
ZEP_RECORD_AT(ResizeParams, useDiagonalDerivatives, 1137);
ZEP_RECORD_AT(ResizeParams, avoidanceEnergyValue, 1140);
ZEP_RECORD_AT(ResizeParams, removalEnergyValue, 1144);
ZEP_RECORD_AT(ResizeParams, blendingAvoidanceWeight, 1148);

static_assert(sizeof(BasicParams) == BasicParams::kSize);
ZEP_RECORD_AT(BasicParams, addSubtractConstant, 1152);
ZEP_RECORD_AT(BasicParams, multiplyDivideConstant, 1156);
ZEP_RECORD_AT(BasicParams, gamma, 1160);
ZEP_RECORD_AT(BasicParams, addSubtractColorCoefficient, 1164);
ZEP_RECORD_AT(BasicParams, interpolateColorCoefficient, 1168);
ZEP_RECORD_AT(BasicParams, outlierSmoothingRadius, 1172);
ZEP_RECORD_AT(BasicParams, lookupElements, 1176);
ZEP_RECORD_AT(BasicParams, controlPoints, 1180);
ZEP_RECORD_AT(BasicParams, presetFunction, 1184);
ZEP_RECORD_AT(BasicParams, presetParameter, 1188);
ZEP_RECORD_AT(BasicParams, middlePointWeight, 1192);
ZEP_RECORD_AT(BasicParams, endPointWeight, 1196);
ZEP_RECORD_AT(BasicParams, curveValues, 1200);
ZEP_RECORD_AT(BasicParams, differentialOrder, 1324);
ZEP_RECORD_AT(BasicParams, backgroundColor, 1328);
ZEP_RECORD_AT(BasicParams, increasingCurveColor, 1331);
ZEP_RECORD_AT(BasicParams, nonIncreasingCurveColor, 1334);
ZEP_RECORD_AT(BasicParams, verticalLineColor, 1337);
ZEP_RECORD_AT(BasicParams, horizontalLineColor, 1340);
ZEP_RECORD_AT(BasicParams, centerCrossColor, 1343);
ZEP_RECORD_AT(BasicParams, constrainMonotoneIncreasing, 1346);
ZEP_RECORD_AT(BasicParams, directlyUsePresetFunction, 1347);
ZEP_RECORD_AT(BasicParams, forHdr, 1348);
ZEP_RECORD_AT(BasicParams, colorSaturationControl, 1352);
ZEP_RECORD_AT(BasicParams, shiftAmount, 1356);

static_assert(sizeof(GeometryParams) == GeometryParams::kSize);
ZEP_RECORD_AT(GeometryParams, rotationAngle, 1360);
ZEP_RECORD_AT(GeometryParams, unused1364, 1364);
ZEP_RECORD_AT(GeometryParams, rotationHorizontalOffset, 1368);
ZEP_RECORD_AT(GeometryParams, rotationVerticalOffset, 1372);
ZEP_RECORD_AT(GeometryParams, rotationAccuracyIterations, 1376);
ZEP_RECORD_AT(GeometryParams, twoPointAccuracyIterations, 1380);
ZEP_RECORD_AT(GeometryParams, fourPointAccuracyIterations, 1384);
ZEP_RECORD_AT(GeometryParams, perspectiveCrop, 1388);
ZEP_RECORD_AT(GeometryParams, blankWidth, 1392);
ZEP_RECORD_AT(GeometryParams, blankHeight, 1396);
ZEP_RECORD_AT(GeometryParams, blankRed, 1400);
ZEP_RECORD_AT(GeometryParams, blankGreen, 1404);
ZEP_RECORD_AT(GeometryParams, blankBlue, 1408);

static_assert(sizeof(BlurParams) == BlurParams::kSize);
ZEP_BLOCK_AT(BlurParams, averageIterations, 0);
ZEP_BLOCK_AT(BlurParams, lensBlurIterations, 4);
ZEP_BLOCK_AT(BlurParams, lensBlurRadius, 8);
ZEP_BLOCK_AT(BlurParams, lensBlurMaskedInput, 12);
ZEP_BLOCK_AT(BlurParams, medianIterations, 16);
ZEP_BLOCK_AT(BlurParams, medianMaskedInput, 20);
ZEP_BLOCK_AT(BlurParams, medianGaussianWeighted, 21);
ZEP_BLOCK_AT(BlurParams, medianRadius, 24);
ZEP_BLOCK_AT(BlurParams, wmmrIterations, 28);
ZEP_BLOCK_AT(BlurParams, wmmrRadius, 32);
ZEP_BLOCK_AT(BlurParams, wmmrMaskedInput, 36);
ZEP_BLOCK_AT(BlurParams, bilateralIterations, 40);
ZEP_BLOCK_AT(BlurParams, bilateralDistribution, 44);
ZEP_BLOCK_AT(BlurParams, bilateralWindowSize, 48);
ZEP_BLOCK_AT(BlurParams, bilateralUseMedian, 52);
ZEP_BLOCK_AT(BlurParams, bilateralSpreadFactor, 56);
ZEP_BLOCK_AT(BlurParams, isophoteIterations, 60);
ZEP_BLOCK_AT(BlurParams, isophoteOffset, 64);
ZEP_BLOCK_AT(BlurParams, isophoteMode, 68);
ZEP_BLOCK_AT(BlurParams, isophoteModulus, 72);
ZEP_BLOCK_AT(BlurParams, isophoteCoefficient, 76);
ZEP_BLOCK_AT(BlurParams, jensenEdgeMode, 80);
ZEP_BLOCK_AT(BlurParams, jensenEdgeWindowSize, 84);
ZEP_BLOCK_AT(BlurParams, jensenEdgeDominantChannel, 88);
ZEP_BLOCK_AT(BlurParams, jensenEdgeIterations, 92);
ZEP_BLOCK_AT(BlurParams, jensenEdgeSegments, 96);
ZEP_BLOCK_AT(BlurParams, jensenEdgeParameter1, 100);
ZEP_BLOCK_AT(BlurParams, jensenEdgeParameter2, 104);
ZEP_BLOCK_AT(BlurParams, jensenEdgeBlurring, 108);
ZEP_BLOCK_AT(BlurParams, jensenEdgeDefringing, 112);
ZEP_BLOCK_AT(BlurParams, unsharpRadius, 116);
ZEP_BLOCK_AT(BlurParams, unsharpMode, 120);
ZEP_BLOCK_AT(BlurParams, unsharpAmount, 124);
ZEP_BLOCK_AT(BlurParams, unsharpBlurThreshold, 128);
ZEP_BLOCK_AT(BlurParams, unsharpNoOpThreshold, 132);
ZEP_BLOCK_AT(BlurParams, unsharpSharpeningThreshold, 136);
ZEP_BLOCK_AT(BlurParams, gaussianSx, 140);
ZEP_BLOCK_AT(BlurParams, gaussianSy, 144);
ZEP_BLOCK_AT(BlurParams, xsharpenWindowSize, 148);
ZEP_BLOCK_AT(BlurParams, xsharpenIterations, 152);
ZEP_BLOCK_AT(BlurParams, xsharpenThreshold, 156);
ZEP_BLOCK_AT(BlurParams, xsharpenAmount, 160);
ZEP_BLOCK_AT(BlurParams, motionBlurDistance, 164);
ZEP_BLOCK_AT(BlurParams, motionBlurAngle, 168);
ZEP_BLOCK_AT(BlurParams, nlMeansThreshold, 172);
ZEP_BLOCK_AT(BlurParams, nlMeansSearchRadius, 176);
ZEP_BLOCK_AT(BlurParams, nlMeansWindowRadius, 180);
ZEP_BLOCK_AT(BlurParams, nlMeansDistribution, 184);
ZEP_BLOCK_AT(BlurParams, nlMeansUseMedian, 188);
ZEP_BLOCK_AT(BlurParams, nlMeansCombinedChannels, 189);
ZEP_BLOCK_AT(BlurParams, nlMeansUseModification, 190);
ZEP_BLOCK_AT(BlurParams, hysteresisIterations, 192);
ZEP_BLOCK_AT(BlurParams, hysteresisTolerance, 196);
ZEP_BLOCK_AT(BlurParams, hysteresisCombineChannels, 200);
ZEP_BLOCK_AT(BlurParams, hysteresisArtifactReduction, 201);
ZEP_BLOCK_AT(BlurParams, hysteresisHaloIterations, 204);
ZEP_BLOCK_AT(BlurParams, fastBilateralRangeStdDev, 208);
ZEP_BLOCK_AT(BlurParams, fastBilateralRadius, 212);
ZEP_BLOCK_AT(BlurParams, fastBilateralIterations, 216);
ZEP_BLOCK_AT(BlurParams, fastBilateralCombineChannels, 220);
ZEP_BLOCK_AT(BlurParams, poissonIterations, 224);
ZEP_BLOCK_AT(BlurParams, poissonSharpeningAmount, 228);
ZEP_BLOCK_AT(BlurParams, poissonScaleFactor, 232);

static_assert(sizeof(LayerParams) == LayerParams::kSize);
ZEP_RECORD_AT(LayerParams, layerCoefficient, 1648);
ZEP_RECORD_AT(LayerParams, canvasRed, 1652);
ZEP_RECORD_AT(LayerParams, canvasGreen, 1656);
ZEP_RECORD_AT(LayerParams, canvasBlue, 1660);
ZEP_RECORD_AT(LayerParams, minimumForInclusion, 1664);
ZEP_RECORD_AT(LayerParams, maximumForInclusion, 1668);
ZEP_RECORD_AT(LayerParams, unused1672, 1672);
ZEP_RECORD_AT(LayerParams, bottomLayerWeight, 1676);
ZEP_RECORD_AT(LayerParams, onlyMaskInput, 1680);
ZEP_RECORD_AT(LayerParams, waveletLevels, 1684);
ZEP_RECORD_AT(LayerParams, waveletMatchLad, 1688);
ZEP_RECORD_AT(LayerParams, levelsPercentile, 1692);
ZEP_RECORD_AT(LayerParams, levelsIncrement, 1696);
ZEP_RECORD_AT(LayerParams, cloningIterations, 1700);
ZEP_RECORD_AT(LayerParams, cloningMode, 1704);
ZEP_RECORD_AT(LayerParams, outsideWeight, 1708);
ZEP_RECORD_AT(LayerParams, insideWeight, 1712);
ZEP_RECORD_AT(LayerParams, usePyramid, 1716);

static_assert(sizeof(MaskParams) == MaskParams::kSize);
ZEP_RECORD_AT(MaskParams, colorTolerance, 1720);
ZEP_RECORD_AT(MaskParams, colorToleranceIncrement, 1724);
ZEP_RECORD_AT(MaskParams, queueColors, 1728);
ZEP_RECORD_AT(MaskParams, colorNorm, 1732);
ZEP_RECORD_AT(MaskParams, edgeTolerance, 1736);
ZEP_RECORD_AT(MaskParams, edgeToleranceIncrement, 1740);
ZEP_RECORD_AT(MaskParams, edgeDetectionType, 1744);
ZEP_RECORD_AT(MaskParams, cursorRadius, 1748);
ZEP_RECORD_AT(MaskParams, cursorColor, 1752);
ZEP_RECORD_AT(MaskParams, logStandardDeviation, 1756);
ZEP_RECORD_AT(MaskParams, smoothMaskIterations, 1760);
ZEP_RECORD_AT(MaskParams, zeroNormalization, 1764);

static_assert(sizeof(ViewParams) == ViewParams::kSize);
ZEP_RECORD_AT(ViewParams, fitInterpolationMethod, 1768);
ZEP_RECORD_AT(ViewParams, fitLanczosOrder, 1772);
ZEP_RECORD_AT(ViewParams, fitBicubicParameter, 1776);
ZEP_RECORD_AT(ViewParams, unused1780, 1780);

static_assert(sizeof(BarPatternParams) == BarPatternParams::kSize);
ZEP_RECORD_AT(BarPatternParams, horizontalBarWidth, 18464);
ZEP_RECORD_AT(BarPatternParams, horizontalBarSpacing, 18468);
ZEP_RECORD_AT(BarPatternParams, horizontalBarOffset, 18472);
ZEP_RECORD_AT(BarPatternParams, verticalBarWidth, 18476);
ZEP_RECORD_AT(BarPatternParams, verticalBarSpacing, 18480);
ZEP_RECORD_AT(BarPatternParams, verticalBarOffset, 18484);
ZEP_RECORD_AT(BarPatternParams, offsetFromBottom, 18488);

static_assert(sizeof(IfsParams) == IfsParams::kSize);
ZEP_BLOCK_AT(IfsParams, ifsYRangeBlockSize, 0);
ZEP_BLOCK_AT(IfsParams, ifsYErrorCorrections, 4);
ZEP_BLOCK_AT(IfsParams, ifsYDomainRatio, 8);
ZEP_BLOCK_AT(IfsParams, ifsYParameter1, 12);
ZEP_BLOCK_AT(IfsParams, ifsYParameter2, 16);
ZEP_BLOCK_AT(IfsParams, ifsYMaxMultiplier, 20);
ZEP_BLOCK_AT(IfsParams, ifsEyRangeBlockSize, 24);
ZEP_BLOCK_AT(IfsParams, ifsEyErrorCorrections, 28);
ZEP_BLOCK_AT(IfsParams, ifsEyDomainRatio, 32);
ZEP_BLOCK_AT(IfsParams, ifsEyParameter1, 36);
ZEP_BLOCK_AT(IfsParams, ifsEyParameter2, 40);
ZEP_BLOCK_AT(IfsParams, ifsEyMaxMultiplier, 44);
ZEP_BLOCK_AT(IfsParams, ifsCbRangeBlockSize, 48);
ZEP_BLOCK_AT(IfsParams, ifsCbErrorCorrections, 52);
ZEP_BLOCK_AT(IfsParams, ifsCbDomainRatio, 56);
ZEP_BLOCK_AT(IfsParams, ifsCbParameter1, 60);
ZEP_BLOCK_AT(IfsParams, ifsCbParameter2, 64);
ZEP_BLOCK_AT(IfsParams, ifsCbMaxMultiplier, 68);
ZEP_BLOCK_AT(IfsParams, ifsCrRangeBlockSize, 72);
ZEP_BLOCK_AT(IfsParams, ifsCrErrorCorrections, 76);
ZEP_BLOCK_AT(IfsParams, ifsCrDomainRatio, 80);
ZEP_BLOCK_AT(IfsParams, ifsCrParameter1, 84);
ZEP_BLOCK_AT(IfsParams, ifsCrParameter2, 88);
ZEP_BLOCK_AT(IfsParams, ifsCrMaxMultiplier, 92);
ZEP_BLOCK_AT(IfsParams, ifsScaleFactor, 96);
ZEP_BLOCK_AT(IfsParams, ifsIterations, 100);
ZEP_BLOCK_AT(IfsParams, ifsYMode, 104);
ZEP_BLOCK_AT(IfsParams, ifsEyMode, 108);
ZEP_BLOCK_AT(IfsParams, ifsCbMode, 112);
ZEP_BLOCK_AT(IfsParams, ifsCrMode, 116);
ZEP_BLOCK_AT(IfsParams, ifsUseScratchDisk, 120);
ZEP_BLOCK_AT(IfsParams, ifsSharpeningFactor, 124);
ZEP_BLOCK_AT(IfsParams, ifsWarningMessage, 128);
ZEP_BLOCK_AT(IfsParams, ifsUseCustomSettings, 129);
ZEP_BLOCK_AT(IfsParams, ifsImageSizeMp, 132);
ZEP_BLOCK_AT(IfsParams, ifsImageQuality, 136);
ZEP_BLOCK_AT(IfsParams, ifsTileWidth, 140);
ZEP_BLOCK_AT(IfsParams, ifsTileHeight, 144);

static_assert(sizeof(PrintParams) == PrintParams::kSize);
ZEP_RECORD_AT(PrintParams, horizontalCentering, 18640);
ZEP_RECORD_AT(PrintParams, verticalCentering, 18641);
ZEP_RECORD_AT(PrintParams, printInterpolationMode, 18644);
ZEP_RECORD_AT(PrintParams, printLanczosOrder, 18648);

static_assert(sizeof(InpaintParams) == InpaintParams::kSize);
ZEP_RECORD_AT(InpaintParams, autoregressiveWidth, 18652);
ZEP_RECORD_AT(InpaintParams, autoregressiveHeight, 18656);
ZEP_RECORD_AT(InpaintParams, stepIterations, 18660);
ZEP_RECORD_AT(InpaintParams, inpaintDominantChannel, 18664);
ZEP_RECORD_AT(InpaintParams, inpaintMode, 18668);
ZEP_RECORD_AT(InpaintParams, recalculationInterval, 18672);
ZEP_RECORD_AT(InpaintParams, enlargementScale, 18676);
ZEP_RECORD_AT(InpaintParams, evenScaleOffset, 18680);
ZEP_RECORD_AT(InpaintParams, stepSize, 18684);
ZEP_RECORD_AT(InpaintParams, inpaintStandardDeviation, 18688);
ZEP_RECORD_AT(InpaintParams, inpaintParameter, 18692);
ZEP_RECORD_AT(InpaintParams, initializationExitTolerance, 18696);
ZEP_RECORD_AT(InpaintParams, initialize, 18700);

static_assert(sizeof(RegularizationParams) == RegularizationParams::kSize);
ZEP_BLOCK_AT(RegularizationParams, tschumperleIterations, 0);
ZEP_BLOCK_AT(RegularizationParams, tschumperleMode, 4);
ZEP_BLOCK_AT(RegularizationParams, tschumperleRecalcInterval, 8);
ZEP_BLOCK_AT(RegularizationParams, tschumperleStdDev, 12);
ZEP_BLOCK_AT(RegularizationParams, tschumperleBlurStep, 16);
ZEP_BLOCK_AT(RegularizationParams, tschumperleEdgeStep, 20);
ZEP_BLOCK_AT(RegularizationParams, tschumperleBlurParameter, 24);
ZEP_BLOCK_AT(RegularizationParams, tschumperleEdgeParameter, 28);
ZEP_BLOCK_AT(RegularizationParams, shockIterations, 32);
ZEP_BLOCK_AT(RegularizationParams, shockStdDev, 36);
ZEP_BLOCK_AT(RegularizationParams, shockStepSize, 40);
ZEP_BLOCK_AT(RegularizationParams, shockEdgeFactor, 44);

static_assert(sizeof(GammaParams) == GammaParams::kSize);
ZEP_RECORD_AT(GammaParams, colorSpaceGamma, 18752);
ZEP_RECORD_AT(GammaParams, paintCursorXOffset, 18756);
ZEP_RECORD_AT(GammaParams, paintCursorYOffset, 18760);

static_assert(sizeof(DeconvParams) == DeconvParams::kSize);
ZEP_BLOCK_AT(DeconvParams, deconvMethod, 0);
ZEP_BLOCK_AT(DeconvParams, lsMinIterations, 4);
ZEP_BLOCK_AT(DeconvParams, lsMaxIterations, 8);
ZEP_BLOCK_AT(DeconvParams, ladMaxIterations, 12);
ZEP_BLOCK_AT(DeconvParams, lsExitTolerance, 16);
ZEP_BLOCK_AT(DeconvParams, ladExitTolerance, 20);
ZEP_BLOCK_AT(DeconvParams, weightSlopesHV, 24);
ZEP_BLOCK_AT(DeconvParams, weightSlopesDiagonal, 28);
ZEP_BLOCK_AT(DeconvParams, weightCurvaturesHV, 32);
ZEP_BLOCK_AT(DeconvParams, weightCurvaturesDiagonal, 36);
ZEP_BLOCK_AT(DeconvParams, weightThirdOrderHV, 40);
ZEP_BLOCK_AT(DeconvParams, weightThirdOrderDiagonal, 44);
ZEP_BLOCK_AT(DeconvParams, weightCrossSlopesHV, 48);
ZEP_BLOCK_AT(DeconvParams, weightCrossSlopesDiagonal, 52);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesHVMax, 56);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesHVMin, 60);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesHVMax, 64);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesHVMin, 68);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesDMax, 72);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesDMin, 76);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesDMax, 80);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesDMin, 84);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesMax, 88);
ZEP_BLOCK_AT(DeconvParams, weightDdCurvesMin, 92);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesMax, 96);
ZEP_BLOCK_AT(DeconvParams, weightDdSlopesMin, 100);
ZEP_BLOCK_AT(DeconvParams, weightDd2CurvesMax, 104);
ZEP_BLOCK_AT(DeconvParams, weightDd2CurvesMin, 108);
ZEP_BLOCK_AT(DeconvParams, weightDd2SlopesMax, 112);
ZEP_BLOCK_AT(DeconvParams, weightDd2SlopesMin, 116);
ZEP_BLOCK_AT(DeconvParams, psfType, 120);
ZEP_BLOCK_AT(DeconvParams, psfLensBlurRadius, 124);
ZEP_BLOCK_AT(DeconvParams, psfGaussianStdDevH, 128);
ZEP_BLOCK_AT(DeconvParams, psfGaussianStdDevV, 132);
ZEP_BLOCK_AT(DeconvParams, psfUniformWidth, 136);
ZEP_BLOCK_AT(DeconvParams, psfUniformHeight, 140);
ZEP_BLOCK_AT(DeconvParams, deconvUseScratchDisk, 144);
ZEP_BLOCK_AT(DeconvParams, deconvScaleFactor, 148);
ZEP_BLOCK_AT(DeconvParams, deconvShortcut, 152);
ZEP_BLOCK_AT(DeconvParams, weightSlopesHorizontal, 156);
ZEP_BLOCK_AT(DeconvParams, weightCurvesHorizontal, 160);
ZEP_BLOCK_AT(DeconvParams, weightOrder3Horizontal, 164);
ZEP_BLOCK_AT(DeconvParams, weightSlopesVertical, 168);
ZEP_BLOCK_AT(DeconvParams, weightCurvesVertical, 172);
ZEP_BLOCK_AT(DeconvParams, weightOrder3Vertical, 176);
ZEP_BLOCK_AT(DeconvParams, customKernelH, 180);
ZEP_BLOCK_AT(DeconvParams, customKernelV, 264);
ZEP_BLOCK_AT(DeconvParams, customKernelHCount, 348);
ZEP_BLOCK_AT(DeconvParams, customKernelVCount, 352);
ZEP_BLOCK_AT(DeconvParams, customKernelNormalize, 356);
ZEP_BLOCK_AT(DeconvParams, psfBicubicFactor, 360);
ZEP_BLOCK_AT(DeconvParams, tensorBlurStdDev, 364);

static_assert(sizeof(PeriodicParams) == PeriodicParams::kSize);
ZEP_BLOCK_AT(PeriodicParams, periodicFunction, 0);
ZEP_BLOCK_AT(PeriodicParams, periodicIterations, 4);
ZEP_BLOCK_AT(PeriodicParams, periodicPoints, 8);
ZEP_BLOCK_AT(PeriodicParams, periodicPattern, 12);
ZEP_BLOCK_AT(PeriodicParams, periodicRadius, 16);
ZEP_BLOCK_AT(PeriodicParams, periodicDx, 20);
ZEP_BLOCK_AT(PeriodicParams, periodicDy, 84);

static_assert(sizeof(StackParams) == StackParams::kSize);
ZEP_BLOCK_AT(StackParams, contrastTemplateLevels, 0);
ZEP_BLOCK_AT(StackParams, stackReserved, 4);
ZEP_BLOCK_AT(StackParams, stackMode, 8);
ZEP_BLOCK_AT(StackParams, multivariateMedianIterations, 12);
ZEP_BLOCK_AT(StackParams, stackScaleLevels, 16);
ZEP_BLOCK_AT(StackParams, stackLevelParams, 20);
ZEP_BLOCK_AT(StackParams, edofScratchFiles, 52);
ZEP_BLOCK_AT(StackParams, alignMorphologicalAccuracy, 53);
ZEP_BLOCK_AT(StackParams, alignNoResizing, 54);
ZEP_BLOCK_AT(StackParams, alignErrorMode, 56);
ZEP_BLOCK_AT(StackParams, alignInterpolationAccuracy, 60);
ZEP_BLOCK_AT(StackParams, translationalInterpolationAccuracy, 64);
ZEP_BLOCK_AT(StackParams, alignMinScale, 68);
ZEP_BLOCK_AT(StackParams, alignMaxScale, 72);
ZEP_BLOCK_AT(StackParams, blockAlignSize, 76);
ZEP_BLOCK_AT(StackParams, translationalPrecision, 80);
ZEP_BLOCK_AT(StackParams, blockAlignSearchRadius, 84);
ZEP_BLOCK_AT(StackParams, blockAlignSmoothing, 88);
ZEP_BLOCK_AT(StackParams, blockAlignInterpolationAccuracy, 92);
ZEP_BLOCK_AT(StackParams, hdrParameter1, 96);
ZEP_BLOCK_AT(StackParams, hdrColorSpace, 100);
ZEP_BLOCK_AT(StackParams, hdrNoiseReduction, 104);
ZEP_BLOCK_AT(StackParams, fusionContrastMode, 108);
ZEP_BLOCK_AT(StackParams, fusionPoissonIterations, 112);
ZEP_BLOCK_AT(StackParams, fusionContrastExponent, 116);
ZEP_BLOCK_AT(StackParams, fusionSaturationExponent, 120);
ZEP_BLOCK_AT(StackParams, fusionExposureExponent, 124);
ZEP_BLOCK_AT(StackParams, fusionExposureStdDev, 128);
ZEP_BLOCK_AT(StackParams, fusionPoissonSharpening, 132);
ZEP_BLOCK_AT(StackParams, fusionCoefA, 136);
ZEP_BLOCK_AT(StackParams, fusionCoefB, 140);
ZEP_BLOCK_AT(StackParams, fusionCoefC, 144);
ZEP_BLOCK_AT(StackParams, fusionCoefD, 148);
ZEP_BLOCK_AT(StackParams, edof2Tolerance1, 152);
ZEP_BLOCK_AT(StackParams, edof2Attenuation1, 156);
ZEP_BLOCK_AT(StackParams, edof2Tolerance2, 160);
ZEP_BLOCK_AT(StackParams, edof2Attenuation2, 164);
ZEP_BLOCK_AT(StackParams, edof2Tolerance3, 168);
ZEP_BLOCK_AT(StackParams, edof2Attenuation3, 172);
ZEP_BLOCK_AT(StackParams, edof3PoissonIterations, 176);

static_assert(sizeof(ToneMapParams) == ToneMapParams::kSize);
ZEP_BLOCK_AT(ToneMapParams, toneMap1Contrast, 0);
ZEP_BLOCK_AT(ToneMapParams, toneMap1Saturation, 4);
ZEP_BLOCK_AT(ToneMapParams, toneMap1Sharpener, 8);
ZEP_BLOCK_AT(ToneMapParams, toneMap1OutlierRadius, 12);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Iterations, 16);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Levels, 20);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Preset, 24);
ZEP_BLOCK_AT(ToneMapParams, toneMap2OutlierRadius, 28);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Equalize, 32);
ZEP_BLOCK_AT(ToneMapParams, toneMap2DiagonalDifferences, 33);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Magnitudes, 34);
ZEP_BLOCK_AT(ToneMapParams, toneMap2Saturation, 36);
ZEP_BLOCK_AT(ToneMapParams, toneMap2PresetC, 40);
ZEP_BLOCK_AT(ToneMapParams, toneMap1HysteresisIterations, 44);
ZEP_BLOCK_AT(ToneMapParams, toneMap1HysteresisTolerance, 48);
ZEP_BLOCK_AT(ToneMapParams, toneMap1HaloIterations, 52);
