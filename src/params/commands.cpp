#include "params/commands.h"

#include <algorithm>
#include <vector>

#include "params/blocks.h"

namespace {
using Id = CommandId;
using E = EnableRule;
using enum Menu;

// A row under construction: a command with its menu and caption, then what it has.
struct Row : CommandDescriptor {
  constexpr Row(CommandId command, Menu position, const char* text = nullptr)
      : CommandDescriptor{command, position, nullptr,          text,  nullptr,  nullptr,
                          nullptr, {},       {-1, -1, -1, -1}, false, E::Always} {}
  constexpr Row In(const char* title) const { return With(&Row::submenu, title); }
  constexpr Row Key(const char* text) const { return With(&Row::key, text); }
  constexpr Row OtherKey(const char* text) const { return With(&Row::otherKey, text); }
  constexpr Row Name(const char* text) const { return With(&Row::name, text); }
  constexpr Row Keeps(StepSnapshotRange range) const { return With(&Row::snapshot, range); }
  constexpr Row CtrlSelects() const { return With(&Row::ctrlSelects, true); }
  constexpr Row Enable(EnableRule rule) const { return With(&Row::enable, rule); }
  template <class... P>
  constexpr Row Pages(P... list) const {
    static_assert(sizeof...(P) <= kMaxPages);
    Row r = *this;
    int i = 0;
    ((r.pages[size_t(i++)] = int16_t(list)), ...);
    return r;
  }

 private:
  template <class M, class V>
  constexpr Row With(M CommandDescriptor::*member, V value) const {
    Row r = *this;
    r.*member = value;
    return r;
  }
};

// A step keeps the whole block, or one 32-bit word at its offset within the block.
template <class Block>
constexpr StepSnapshotRange Whole() {
  return {Block::kOffset, 0, Block::kSize};
}
template <class Block>
constexpr StepSnapshotRange Word(uint32_t begin) {
  return {Block::kOffset, begin, 4};
}

constexpr const char* kScratchFiles = "Scratch Files";
constexpr const char* kBasicOperations = "Basic Operations";
constexpr const char* kMatchTopToBottom = "Match Top to Bottom";

// clang-format off
constexpr CommandDescriptor kTable[] = {
    // &File
    Row(Id::New, File, "&New").Key("Ctrl+N").Enable(E::Frame),
    Row(Id::OpenImage, File, "Open Image").Key("O").Name("Open").CtrlSelects(),
    Row(Id::Close, File, "Close").Key("Shift+N").Enable(E::Frame),
    Row(Id::SaveImageAs, File, "Save Image As").Key("A").Name("SaveAs").CtrlSelects()
        .Enable(E::NeedsBitmap),
    Row(Id::Refresh, File, "Refresh").Key("F1").Name("Refresh").CtrlSelects()
        .Enable(E::FilePresent),
    Row(Id::MoveToRecycleBin, File, "Move To Recycle Bin").Key("Delete").Enable(E::FilePresent),
    Row(Id::NoFloatingPointBuffersOnRead, File, "No Floating Point Buffers On Read").Key("Ctrl+O")
        .Enable(E::NoFloatOnRead),
    Row(Id::StoreZep1Fdib, File, "Store ZEP1.FDIB").In(kScratchFiles).Key("Shift+1").Name("Store 1")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep2Fdib, File, "Store ZEP2.FDIB").In(kScratchFiles).Key("Shift+2").Name("Store 2")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep3Fdib, File, "Store ZEP3.FDIB").In(kScratchFiles).Key("Shift+3").Name("Store 3")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep4Fdib, File, "Store ZEP4.FDIB").In(kScratchFiles).Key("Shift+4").Name("Store 4")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep5Fdib, File, "Store ZEP5.FDIB").In(kScratchFiles).Key("Shift+5").Name("Store 5")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep6Fdib, File, "Store ZEP6.FDIB").In(kScratchFiles).Key("Shift+6").Name("Store 6")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep7Fdib, File, "Store ZEP7.FDIB").In(kScratchFiles).Key("Shift+7").Name("Store 7")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep8Fdib, File, "Store ZEP8.FDIB").In(kScratchFiles).Key("Shift+8").Name("Store 8")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::StoreZep9Fdib, File, "Store ZEP9.FDIB").In(kScratchFiles).Key("Shift+9").Name("Store 9")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::RecallZep1Fdib, File, "Recall ZEP1.FDIB").In(kScratchFiles).Key("1").Name("Recall 1")
        .CtrlSelects(),
    Row(Id::RecallZep2Fdib, File, "Recall ZEP2.FDIB").In(kScratchFiles).Key("2").Name("Recall 2")
        .CtrlSelects(),
    Row(Id::RecallZep3Fdib, File, "Recall ZEP3.FDIB").In(kScratchFiles).Key("3").Name("Recall 3")
        .CtrlSelects(),
    Row(Id::RecallZep4Fdib, File, "Recall ZEP4.FDIB").In(kScratchFiles).Key("4").Name("Recall 4")
        .CtrlSelects(),
    Row(Id::RecallZep5Fdib, File, "Recall ZEP5.FDIB").In(kScratchFiles).Key("5").Name("Recall 5")
        .CtrlSelects(),
    Row(Id::RecallZep6Fdib, File, "Recall ZEP6.FDIB").In(kScratchFiles).Key("6").Name("Recall 6")
        .CtrlSelects(),
    Row(Id::RecallZep7Fdib, File, "Recall ZEP7.FDIB").In(kScratchFiles).Key("7").Name("Recall 7")
        .CtrlSelects(),
    Row(Id::RecallZep8Fdib, File, "Recall ZEP8.FDIB").In(kScratchFiles).Key("8").Name("Recall 8")
        .CtrlSelects(),
    Row(Id::RecallZep9Fdib, File, "Recall ZEP9.FDIB").In(kScratchFiles).Key("9").Name("Recall 9")
        .CtrlSelects(),
    Row(Id::AddZep1Fdib, File, "Add ZEP1.FDIB").In(kScratchFiles).Key("Alt+1").Name("+ZEP.FDIB")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::AddZep2Fdib, File, "Add ZEP2.FDIB").In(kScratchFiles).Key("Alt+2").Name("+ZEP2.FDIB")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::SubtractZep1Fdib, File, "Subtract ZEP1.FDIB").In(kScratchFiles).Key("Shift+Alt+1")
        .Name("-ZEP.FDIB").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::SubtractZep2Fdib, File, "Subtract ZEP2.FDIB").In(kScratchFiles).Key("Shift+Alt+2")
        .Name("-ZEP2.FDIB").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::DeleteAllScratchFiles, File, "Delete All Scratch Files").In(kScratchFiles)
        .Key("Ctrl+Delete"),
    Row(Id::BatchOperation, File, "Batch Operation"),
    Row(Id::SequentialLoad, File, "Sequential Load").Key("F9"),
    Row(Id::AnimateSequence, File, "Animate Sequence").Key("Alt+F9").Enable(E::Animate),
    Row(Id::PrintImage, File, "Print Image").Name("Print").Enable(E::NeedsBitmap),
    Row(Id::Exit, File, "E&xit").Key("Shift+Esc").Enable(E::Frame),
    // CSpace
    Row(Id::Rgb, CSpace, "RGB").Name("ToRGB").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::Cmy, CSpace, "CMY").Name("ToCMY").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::YCbCr, CSpace, "YCbCr").Name("ToYCbCr").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::YCbCr2, CSpace, "YCbCr2").Name("ToYCbCr2").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::Yuv, CSpace, "YUV").Name("ToYUV").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::Hsv, CSpace, "HSV").Name("ToHSV").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::Hsi, CSpace, "HSI").Name("ToHSI").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::LogRgb, CSpace, "Log RGB").Name("ToLogRGB").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::LogCmy, CSpace, "Log CMY").Name("ToLogCMY").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::RgbGammaX, CSpace, "RGB GammaX").Name("ToRGB GammaX").Keeps(Whole<GammaParams>())
        .CtrlSelects().Enable(E::ColourSpace),
    Row(Id::YCbCrGammaX, CSpace, "YCbCr GammaX").Name("ToYCbCr GammaX").Keeps(Whole<GammaParams>())
        .CtrlSelects().Enable(E::ColourSpace),
    Row(Id::XChannel, CSpace, "X").Name("XChannel").CtrlSelects().Enable(E::Channel),
    Row(Id::YChannel, CSpace, "Y").Name("YChannel").CtrlSelects().Enable(E::Channel),
    Row(Id::ZChannel, CSpace, "Z").Name("ZChannel").CtrlSelects().Enable(E::Channel),
    Row(Id::RotateXyz, CSpace, "Rotate X->Y->Z->X").Name("RotateXYZ").CtrlSelects()
        .Enable(E::NeedsFloat),
    // Queue
    Row(Id::PointColor1, Queue, "Point1, Color1").Enable(E::QueueEntry),
    Row(Id::PointColor2, Queue, "Point2, Color2").Enable(E::QueueEntry),
    Row(Id::PointColor3, Queue, "Point3, Color3").Enable(E::QueueEntry),
    Row(Id::PointColor4, Queue, "Point4, Color4").Enable(E::QueueEntry),
    Row(Id::PointColor5, Queue, "Point5, Color5").Enable(E::QueueEntry),
    Row(Id::EnterAverageColor, Queue, "Enter Average Color").Name("AveColor").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::EnterMedianColor, Queue, "Enter Median Color").Name("MedColor").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::EnterWmmrColor, Queue, "Enter WMMR Color").Name("WmmrColor").CtrlSelects()
        .Enable(E::NeedsFloat),
    // Basic
    Row(Id::Histogram, Basic, "Histogram").Key("F8").Enable(E::NeedsFloat),
    Row(Id::SetImageToColor, Basic, "Set Image to Color").Name("Color").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::AddSubtractColor, Basic, "Set F2/F3 to Add/Subtract Color").Name("+/- Color")
        .Keeps(Word<BasicParams>(12)).Pages(14).Enable(E::NeedsFloat),
    Row(Id::InterpolateExtrapolateColor, Basic, "Set F2/F3 to Interpolate/Extrapolate Color")
        .Name("Int/Ext Color").Keeps(Word<BasicParams>(16)).Pages(15).Enable(E::NeedsFloat),
    Row(Id::AddSubtractConstant, Basic, "Set F2/F3 to Add/Subtract Constant").Name("Add/Sub Const")
        .Keeps(Whole<BasicParams>()).Pages(11).Enable(E::NeedsFloat),
    Row(Id::MultiplyDivideByConstant, Basic, "Set F2/F3 to Multiply/Divide by Constant")
        .Name("Mul/Div Const").Keeps(Whole<BasicParams>()).Pages(12).Enable(E::NeedsFloat),
    Row(Id::GammaAdjustment, Basic, "Set F2/F3 for Gamma Adjustment").Name("Gamma")
        .Keeps(Whole<BasicParams>()).Pages(13).Enable(E::NeedsFloat),
    Row(Id::ChangeMinimumKeepMaximum, Basic, "Set F2/F3 Change Minimum, Keep Maximum")
        .Name("ShiftKeepMax").Keeps(Whole<BasicParams>()).Pages(9).Enable(E::NeedsFloat),
    Row(Id::Clear, Basic, "Clear").Key("0").Name("Clear").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::Negative, Basic, "Negative").Name("Negative").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::Gradient, Basic, "Gradient").Name("Gradient").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::ClipNegativeValuesToZero, Basic, "Clip Negative Values to Zero").Name("ClipZero")
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::HistogramEqualization, Basic, "Histogram Equalization").Name("Equalize").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::ScaleAndShiftTo0255, Basic, "Scale and Shift to [0,255]").Name("[0,255]")
        .Keeps(Whole<BasicParams>()).Pages(16).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::CustomCurve, Basic, "Set F2/F3 for Custom Curve").Pages(38).Enable(E::CustomCurve),
    // Geom
    Row(Id::Crop, Geom, "Crop").Name("Crop").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::SetForCroppingTwoLayers, Geom, "Set for Cropping Two Layers").Name("CropBoth")
        .CtrlSelects().Enable(E::CropBothLayers),
    Row(Id::Rotate90Degrees, Geom, "Rotate 90 Degrees").Key("R").Name("Rotate90").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::VerticalFlip, Geom, "Vertical Flip").Key("V").Name("V Flip").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::HorizontalFlip, Geom, "Horizontal Flip").Key("H").Name("H Flip").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::CreateBlankImage, Geom, "Create Blank Image").Name("Blank")
        .Keeps(Whole<GeometryParams>()).Pages(46).CtrlSelects(),
    Row(Id::ManualOnePointRegistration, Geom, "Set F2/F3 for Manual One Point Registration")
        .Name("Register1").Enable(E::NeedsFloat),
    Row(Id::RotateArbitraryAngle, Geom, "Rotate Arbitrary Angle and/or Shift").Key("Shift+R")
        .Name("Rotate").Keeps(Whole<GeometryParams>()).Pages(42).CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::ManualTwoPointRegistration, Geom, "Set F2/F3 for Manual Two Point Registration")
        .Name("Register2").Pages(44).Enable(E::NeedsFloat),
    Row(Id::ManualFourPointRegistration, Geom, "Set F2/F3 for Manual Four Point Registration or Perspective Crop")
        .Name("Register4").Pages(45).Enable(E::NeedsFloat),
    // Resize
    Row(Id::BoxNearestNeighbor, Resize, "Box (Nearest Neighbor)").Name("Box")
        .Keeps(Whole<ResizeParams>()).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::Bilinear, Resize, "Bilinear").Name("Bilinear").Keeps(Whole<ResizeParams>())
        .CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::Bicubic, Resize, "Bicubic").Name("Bicubic").Keeps(Whole<ResizeParams>()).Pages(32)
        .CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::Lanczos, Resize, "Lanczos").Name("Lanczos").Keeps(Whole<ResizeParams>()).Pages(33)
        .CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::Triangulation, Resize, "Triangulation").Name("Triangulation")
        .Keeps(Whole<ResizeParams>()).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::StairInterpolation, Resize, "Stair Interpolation (SI)").Name("SI")
        .Keeps(Whole<ResizeParams>()).Pages(35).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::XinLi, Resize, "Xin Li").Name("XinLi").Keeps(Whole<ResizeParams>()).Pages(22, 21)
        .CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::JensenXinLi, Resize, "Jensen-Xin Li (JXL)").Name("JXL").Keeps(Whole<ResizeParams>())
        .Pages(23, 22, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::JensenDdl, Resize, "Jensen-DDL (JDDL)").Name("JDDL").Keeps(Whole<ResizeParams>())
        .Pages(23, 26, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::NewDataDependentLanczos, Resize, "New Data Dependent Lanczos (DDL)").Name("DDL")
        .Keeps(Whole<ResizeParams>()).Pages(31).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::PseudoInverseEnlargement, Resize, "Pseudo Inverse Enlargement").Name("PseudoInv")
        .Keeps(Whole<ResizeParams>()).Pages(29).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::OldDataDependentLanczos, Resize, "Old Data Dependent Lanczos (Old DDL)").Name("Old DDL")
        .Keeps(Whole<ResizeParams>()).Pages(26, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::BackprojectedDdl, Resize, "Backprojected DDL (BPDDL)").Name("BPDDL")
        .Keeps(Whole<ResizeParams>()).Pages(26, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::BackprojectedJddl, Resize, "Backprojected JDDL (BPJDDL)").Name("BPJDDL")
        .Keeps(Whole<ResizeParams>()).Pages(23, 26, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::BackprojectedXinLi, Resize, "Backprojected Xin Li (BPXL)").Name("BPXL")
        .Keeps(Whole<ResizeParams>()).Pages(22, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::BackprojectedJensenXinLi, Resize, "Backprojected Jensen-Xin Li (BPJXL)").Name("BPJXL")
        .Keeps(Whole<ResizeParams>()).Pages(23, 22, 21).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::ModifiedBSpline, Resize, "Modified B-Spline (MBS)").Name("B-Spline")
        .Keeps(Whole<ResizeParams>()).Pages(25).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::PyramidSimulation, Resize, "Pyramid Simulation").Name("Pyramid")
        .Keeps(Whole<ResizeParams>()).Pages(36).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::WindowlessXinLi, Resize, "Windowless Xin Li").Name("Windowless")
        .Keeps(Whole<ResizeParams>()).Pages(27, 28).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::IteratedFunctionSystems, Resize, "Iterated Function Systems (IFS)").Name("IFS")
        .Keeps(Whole<IfsParams>()).CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::ReopenIfs, Resize, "Reopen IFS").Name("ReOpenIfs").Keeps(Whole<IfsParams>())
        .CtrlSelects().Enable(E::ReopenIfs),
    Row(Id::SeamCarving, Resize, "Seam Carving").Name("SeamCarve").Keeps(Whole<ResizeParams>())
        .Pages(81).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::DrawAvoidanceRemovalRegions, Resize, "Set F2/F3 to Draw Avoidance/Removal Regions")
        .Name("Avoid/Remove").Enable(E::AvoidanceRegions),
    Row(Id::CreateFloatingPointBuffer, Resize, "Create Floating Point Buffer").Key("Ctrl+Y")
        .Enable(E::CreateFloat),
    // Ctrl selects DestroyBuffers, which the handler sees to.
    Row(Id::DestroyFloatingPointBuffers, Resize, "Destroy Floating Point Buffers").Key("Shift+Y")
        .Enable(E::DestroyFloat),
    // Blur/Sharpen
    Row(Id::Fast3x3Average, BlurSharpen, "Fast 3x3 Average").Name("Blur3x3")
        .Keeps(Word<BlurParams>(0)).Pages(51).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::LensBlur, BlurSharpen, "Lens Blur").Key("G").Name("LensBlur").Keeps(Whole<BlurParams>())
        .Pages(52).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::Median, BlurSharpen, "Median").Key("N").Name("Median").Keeps(Whole<BlurParams>())
        .Pages(53).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::WeightedMajorityWithMinimumRange, BlurSharpen, "Weighted Majority with Minimum Range")
        .Key("W").Name("WMMR").Keeps(Whole<BlurParams>()).Pages(54).CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::BilateralFilter, BlurSharpen, "Bilateral Filter").Key("B").Name("Bilateral")
        .Keeps(Whole<BlurParams>()).Pages(55).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::GaussianBlur, BlurSharpen, "Gaussian Blur").Name("Gaussian").Keeps(Whole<BlurParams>())
        .Pages(59).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::MotionBlur, BlurSharpen, "Motion Blur").Name("MotionBlur").Keeps(Whole<BlurParams>())
        .Pages(52).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::HysteresisSmoothing, BlurSharpen, "Hysteresis Smoothing").Name("Hysteresis")
        .Keeps(Whole<BlurParams>()).Pages(47).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::FastBilateralApproximation, BlurSharpen, "Fast Bilateral Approximation")
        .Name("FastBilateral").Keeps(Whole<BlurParams>()).Pages(48).CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::NlMeans, BlurSharpen, "NL Means").Key("L").Name("NLMeans").Keeps(Whole<BlurParams>())
        .Pages(142).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::TschumperleRegularization, BlurSharpen, "Tschumperle Regularization")
        .Name("TschumperleReg").Keeps(Whole<RegularizationParams>()).Pages(135).CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::ShockFilter, BlurSharpen, "Shock Filter").Name("Shock")
        .Keeps(Whole<RegularizationParams>()).Pages(136).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::IsophoteSmoothing, BlurSharpen, "Isophote Smoothing").Key("T").Name("Isophote")
        .Keeps(Whole<BlurParams>()).Pages(56).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::UnsharpMask, BlurSharpen, "Unsharp Mask (modified)").Key("U").Name("USM")
        .Keeps(Whole<BlurParams>()).Pages(58).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::Xsharpen, BlurSharpen, "Xsharpen").Name("Xsharpen").Keeps(Whole<BlurParams>())
        .Pages(105).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::JensenEdgeEnhancement, BlurSharpen, "Jensen Edge Enhancement").Key("J").Name("Jensen")
        .Keeps(Whole<BlurParams>()).Pages(57).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::PoissonSharpener, BlurSharpen, "Poisson Sharpener").Name("PoissonSharp")
        .Keeps(Whole<BlurParams>()).Pages(84).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::RegularizedDeconvolution, BlurSharpen, "Regularized Deconvolution").Name("Decon")
        .Keeps(Whole<DeconvParams>()).Pages(137).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::PeriodicSmoothing, BlurSharpen, "Periodic Smoothing").Name("Periodic")
        .Keeps(Whole<PeriodicParams>()).Pages(140, 141).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::CreateNoiseProfile, BlurSharpen, "Create Noise Profile").Enable(E::CreateNoiseProfile),
    Row(Id::FastNoiseRemoval, BlurSharpen, "Fast Noise Removal").Name("Denoise").CtrlSelects()
        .Enable(E::NoiseProfile),
    Row(Id::SaveNoiseProfile, BlurSharpen, "Save Noise Profile").Enable(E::NoiseProfile),
    Row(Id::LoadNoiseProfile, BlurSharpen, "Load Noise Profile").Enable(E::NeedsFloat),
    // Stacking
    Row(Id::CreateAlignmentTemplate, Stacking, "Create Alignment Template").Enable(E::NeedsFloat),
    Row(Id::DestroyAlignmentTemplate, Stacking, "Destroy Template").Name("DestroyAlign")
        .CtrlSelects().Enable(E::AlignmentTemplate),
    Row(Id::FastTranslational, Stacking, "Set F2 for Fast Translational").Name("FastAlign")
        .Pages(69).Enable(E::AlignmentTemplate),
    Row(Id::BlockAlign, Stacking, "Set F2 for Block").Name("BlockAlign").Pages(73)
        .Enable(E::AlignmentTemplate),
    Row(Id::Align2Pt, Stacking, "Set F2 for Rotational/Resized/Translational (Align2Pt)")
        .Name("Align2Pt").Pages(68).Enable(E::AlignmentTemplate),
    Row(Id::CreateBrightnessContrastTemplate, Stacking, "Create Brightness/Contrast Template")
        .Pages(66).Enable(E::NeedsFloat),
    Row(Id::DestroyBrightnessContrastTemplate, Stacking, "Destroy Template").Name("DestroyContrast")
        .CtrlSelects().Enable(E::BrightnessTemplate),
    Row(Id::Adjustment, Stacking, "Set F2 for Adjustment").Name("Contrast")
        .Enable(E::BrightnessTemplate),
    Row(Id::Stacking, Stacking, "Stacking (Regular and Modified)").Name("Stack")
        .Keeps(Whole<StackParams>()).Pages(65).CtrlSelects().Enable(E::Stacking),
    Row(Id::ToneMap1, Stacking, "Tone Map 1").Name("ToneMap1").Keeps(Whole<ToneMapParams>())
        .Pages(78).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::ToneMap2, Stacking, "Tone Map 2").Name("ToneMap2").Keeps(Whole<ToneMapParams>())
        .Pages(74).CtrlSelects().Enable(E::NeedsFloat),
    // Layer
    Row(Id::ShowCombined, Layer, "Show Combined").Key("Shift+C").Enable(E::CombinedDifference),
    Row(Id::ShowDifference, Layer, "Show Difference").Key("Shift+D").Enable(E::CombinedDifference),
    Row(Id::CreateSecondLayer, Layer, "Create Second Layer").In(kBasicOperations).Key("Shift+X")
        .Name("2ndLayer").CtrlSelects().Enable(E::SecondLayer),
    Row(Id::ExchangeLayers, Layer, "Exchange Layers").In(kBasicOperations).Key("X").Name("X")
        .CtrlSelects().Enable(E::NeedsBitmap),
    Row(Id::AddSubtractLayers, Layer, "Set F2/F3 to Add/Subtract Layers").In(kBasicOperations)
        .Name("Add/Sub Layers").Enable(E::TwoLayers),
    Row(Id::InterpolateExtrapolateLayers, Layer, "Set F2/F3 to Interpolate/Extrapolate Layers")
        .In(kBasicOperations).Name("Int/Ext").Keeps(Word<LayerParams>(0)).Pages(62)
        .Enable(E::TwoLayers),
    Row(Id::Minimum, Layer, "Minimum").In(kBasicOperations).Name("Minimum").CtrlSelects()
        .Enable(E::TwoLayers),
    Row(Id::Maximum, Layer, "Maximum").In(kBasicOperations).Name("Maximum").CtrlSelects()
        .Enable(E::TwoLayers),
    Row(Id::MatchCanvasSizes, Layer, "Match Canvas Sizes").In(kBasicOperations).Name("MatchSize")
        .Keeps(Whole<LayerParams>()).Pages(63).CtrlSelects().Enable(E::Layer2Float),
    Row(Id::GradientLensBlur, Layer, "Gradient Lens Blur").In(kBasicOperations).Name("GradBlur")
        .CtrlSelects().Enable(E::OtherFloat),
    Row(Id::TopLayerEqualsBottomLayer, Layer, "Top Layer = Bottom Layer").In("Cloning").Key("=")
        .Name("=").CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::SeamlessCloning, Layer, "Set F2 for Seamless Cloning").In("Cloning").Name("Blended=")
        .Keeps(Whole<LayerParams>()).Pages(82).Enable(E::TwoLayers),
    Row(Id::ToggleNormalView, Layer, "Toggle Normal View").In("View Both Layers").Key("F")
        .Enable(E::ToggleNormalView),
    Row(Id::MaskOr, Layer, "Or").In("Masks").Name("Or").CtrlSelects().Enable(E::LayerMasks),
    Row(Id::MaskAnd, Layer, "And").In("Masks").Name("And").CtrlSelects().Enable(E::LayerMasks),
    Row(Id::MaskExclusiveOr, Layer, "Exclusive Or").In("Masks").Name("Xor").CtrlSelects()
        .Enable(E::LayerMasks),
    Row(Id::LsMatch2, Layer, "LS Match Top to Bottom (2 Parameter)").In(kMatchTopToBottom)
        .Name("LS Match").Keeps(Whole<LayerParams>()).Pages(64).CtrlSelects().Enable(E::TwoLayers),
    Row(Id::LsMatch1, Layer, "LS Match Top to Bottom (1 Parameter)").In(kMatchTopToBottom)
        .Name("LS1 Match").Keeps(Whole<LayerParams>()).Pages(64).CtrlSelects().Enable(E::TwoLayers),
    Row(Id::LadMatch1, Layer, "LAD Match Top to Bottom (1 Parameter)").In(kMatchTopToBottom)
        .Name("LAD Match").Keeps(Whole<LayerParams>()).Pages(64).CtrlSelects().Enable(E::TwoLayers),
    Row(Id::WaveletMatch, Layer, "Wavelet Match Top to Bottom").In(kMatchTopToBottom)
        .Name("WaveletMatch").Keeps(Whole<LayerParams>()).Pages(64).CtrlSelects()
        .Enable(E::TwoLayers),
    Row(Id::MatchLevels, Layer, "Match Top to Bottom by Levels ").In(kMatchTopToBottom)
        .Name("MatchLevels").Keeps(Whole<LayerParams>()).Pages(64).CtrlSelects()
        .Enable(E::TwoLayers),
    Row(Id::DifferenceStatistics, Layer, "Difference Statistics").Name("Statistics").CtrlSelects()
        .Enable(E::TwoLayers),
    Row(Id::TilingTopIntoBottom, Layer, "Set F2 for Tiling Top into Bottom").Name("Tile")
        .Enable(E::OtherFloat),
    Row(Id::BlockAlignLayers, Layer, "Set F2 for Block Alignment Top to Bottom").Name("BlockAlign2")
        .Pages(73).Enable(E::BlockAlignment),
    Row(Id::CombineSharpestFeatures, Layer, "Combine Sharpest Features").Name("CombSharp")
        .Keeps(Whole<LayerParams>()).Pages(82).CtrlSelects().Enable(E::TwoLayers),
    // Mask
    Row(Id::ShowBottomLayerThroughMask, Mask, "Show Bottom Layer Through Mask").Key("Shift+S")
        .Enable(E::BottomThroughMask),
    Row(Id::CreateMask, Mask, "Create Mask").Key("M").Name("Mask").CtrlSelects()
        .Enable(E::CreateMask),
    Row(Id::InvertMask, Mask, "Invert (Not)").Key("I").Name("InvMask").CtrlSelects()
        .Enable(E::NeedsFloat),
    Row(Id::Erode, Mask, "Erode").Key("E").Name("Erode").CtrlSelects().Enable(E::NeedsMask),
    Row(Id::EdgeToBorder, Mask, "Edge to Border").Name("Border").CtrlSelects().Enable(E::NeedsMask),
    Row(Id::SmoothMask, Mask, "Smooth Mask").Name("SmoothMask").Keeps(Whole<MaskParams>())
        .Pages(117).CtrlSelects().Enable(E::NeedsMask),
    Row(Id::ClearSetMask, Mask, "Set F2/F3 to Clear/Set Mask").Key("Shift+P").Name("Clr/SetMask")
        .Enable(E::NeedsFloat),
    Row(Id::MaskByColor, Mask, "Set F2, F3 to Mask by Color").Name("Mask by Color")
        .Keeps(Whole<MaskParams>()).Pages(71).Enable(E::NeedsFloat),
    Row(Id::MaskByEdgeDetection, Mask, "Set F2, F3 to Mask by Edge Detection").Name("Edge")
        .Keeps(Whole<MaskParams>()).Pages(72).Enable(E::NeedsFloat),
    Row(Id::FloodFill, Mask, "Set F2, F3 for Flood Fill").Name("FloodFill").Enable(E::NeedsFloat),
    Row(Id::DrawBarPattern, Mask, "Draw Bar Pattern").Name("Bar").Keeps(Whole<BarPatternParams>())
        .Pages(116).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::DrawLine, Mask, "Set F2, F3 to Draw Line").Name("Line").Enable(E::NeedsFloat),
    Row(Id::DrawEllipse, Mask, "Set F2, F3 to Draw Ellipse").Name("Ellipse").Enable(E::NeedsFloat),
    Row(Id::ShowMaskedArea, Mask, "Show Masked Area").In("View").Key("Ctrl+S").Name("ShowMask")
        .CtrlSelects().Enable(E::MaskViews),
    Row(Id::ShowUnmaskedArea, Mask, "Show Unmasked Area").In("View").Key("S").Name("ShowUnmask")
        .CtrlSelects().Enable(E::MaskViews),
    // Paint
    Row(Id::Paint, Paint, "Paint").Key("P").Enable(E::PaintMode),
    Row(Id::IncreaseCursorRadius, Paint, "Increase Cursor Radius").Key("Num++")
        .Enable(E::CursorRadius),
    Row(Id::DecreaseCursorRadius, Paint, "Decrease Cursor Radius").Key("Num+-")
        .Enable(E::CursorRadius),
    Row(Id::RecordTexture, Paint, "Record Texture").Name("Record Texture")
        .Keeps(Whole<InpaintParams>()).Pages(76).Enable(E::RecordTexture),
    Row(Id::TextureInpainting, Paint, "Set F2 for Texture Inpainting").Name("Paint Texture")
        .Keeps(Whole<InpaintParams>()).Enable(E::TextureInpainting),
    Row(Id::TschumperleInpainting, Paint, "Set F2 for Tschumperle Inpainting").Name("Tschumperle")
        .Keeps(Whole<InpaintParams>()).Pages(77).Enable(E::NeedsFloat),
    Row(Id::MaskEnlargementForTschumperle, Paint, "Mask Enlargement for Tschumperle")
        .Name("MaskEnlargement").Keeps(Whole<InpaintParams>()).Pages(77).CtrlSelects()
        .Enable(E::NeedsFloat),
    // Cond(On)
    Row(Id::ConditionalOperations, Cond, "Conditional Operations").Key("F12").Name("TogCond")
        .CtrlSelects().Enable(E::Option),
    // Options
    Row(Id::SoundNotification, Options, "Sound Notification of Process Completion")
        .Enable(E::Option),
    Row(Id::AwakenSleepingMonitor, Options, "Awaken Sleeping Monitor at Process Completion")
        .Enable(E::Option),
    Row(Id::PutMonitorToSleep, Options, "Put Monitor to Sleep at Beginning of Selected Processes ")
        .Enable(E::Option),
    Row(Id::AutomaticPopdownMenus, Options, "Automatic Popdown Menus").Enable(E::Option),
    Row(Id::FullScreen, Options, "Full Screen").In("View").Key("F5"),
    Row(Id::SizedToFitScreen, Options, "Sized to Fit Screen").In("View").Key("F6")
        .Enable(E::NeedsBitmap),
    Row(Id::ViewingNormal, Options, "Viewing Normal").In("View").Key("F7").Enable(E::ViewingNormal),
    Row(Id::ScrollLockMultipleWindows, Options, "Scroll Lock Multiple Windows").In("View")
        .Enable(E::Frame),
    // AutoQ
    Row(Id::Properties, AutoQ, "Properties").Key("Q").Enable(E::Frame),
    Row(Id::AutomaticQueryOfProperties, AutoQ, "Automatic Query of Properties").Key("Ctrl+Q")
        .Enable(E::Option),
    // The frame has its own version, for when no image window is active.
    Row(Id::SetPropertiesToDefault, AutoQ, "Set Properties to Default").Name("DefProp")
        .CtrlSelects(),
    Row(Id::SetOtherDefaults, AutoQ, "Set Other Defaults").Name("Defaults").CtrlSelects(),
    // Prog
    Row(Id::RecordProgram, Prog, "Record Program").Enable(E::RecordProgram),
    Row(Id::DeleteLastStep, Prog, "Delete Last Step").Key("Shift+Del").Enable(E::DeleteLastStep),
    Row(Id::RunProgram, Prog, "Run Program").Name("RunProg").Enable(E::RunProgram),
    Row(Id::LoadProgram, Prog, "Load Program"),
    Row(Id::SaveProgram, Prog, "Save Program").Enable(E::SaveProgram),
    Row(Id::F2ProgrammedOperation, Prog, "F2 Programmed Operation").Key("F2")
        .Enable(E::NeedsBitmap),
    Row(Id::F3ProgrammedOperation, Prog, "F3 Programmed Operation").Key("F3").Enable(E::NeedsFloat),
    Row(Id::ReopenDialogBox, Prog, "Reopen Dialog Box").Key("F4"),
    Row(Id::PriorOperation, Prog, "Prior Operation").Key("<").OtherKey(","),
    Row(Id::NextOperation, Prog, "Next Operation").Key(">").OtherKey("."),
    // &Window: the adapter lists the image windows there.
    // &Help
    Row(Id::LegalDisclaimer, Help, "Legal Disclaimer").Enable(E::Frame),
    Row(Id::ZepHomePage, Help, "ZEP Home Page").Enable(E::Frame),
    Row(Id::OnlineManual, Help, "Online Manual").Enable(E::Frame),
    Row(Id::CurrentMemoryStatus, Help, "Current Memory Status").In("Diagnostic Tools")
        .Enable(E::Frame),
    Row(Id::MaximumDibSize, Help, "Maximum Dib Size").In("Diagnostic Tools").Enable(E::Frame),
    Row(Id::About, Help, "&About ZEP Image Processor").Enable(E::Frame),
    // NoOp: the operation list
    Row(Id::OperationEntry1, OperationList, " 1. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry2, OperationList, " 2. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry3, OperationList, " 3. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry4, OperationList, " 4. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry5, OperationList, " 5. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry6, OperationList, " 6. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry7, OperationList, " 7. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry8, OperationList, " 8. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry9, OperationList, " 9. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry10, OperationList, "10. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry11, OperationList, "11. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry12, OperationList, "12. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry13, OperationList, "13. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry14, OperationList, "14. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry15, OperationList, "15. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry16, OperationList, "16. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry17, OperationList, "17. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry18, OperationList, "18. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry19, OperationList, "19. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry20, OperationList, "20. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry21, OperationList, "21. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry22, OperationList, "22. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry23, OperationList, "23. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry24, OperationList, "24. NoOp").Enable(E::OperationEntry),
    Row(Id::OperationEntry25, OperationList, "25. NoOp").Enable(E::OperationEntry),
    Row(Id::DeleteCheckedOp, OperationList, "Delete Checked Op").Key("Alt+Del"),
    Row(Id::DeleteAllOps, OperationList, "Delete All Ops").Key("Shift+Alt+Del"),
    // Accelerators without a menu item
    Row(Id::KeypadChannelX, HiddenKey, "Channel X").Key("Num+1"),
    Row(Id::KeypadChannelY, HiddenKey, "Channel Y").Key("Num+5"),
    Row(Id::KeypadChannelZ, HiddenKey, "Channel Z").Key("Num+9"),
    Row(Id::Nothing, HiddenKey, "Nothing").Key("Space").Enable(E::Frame),
    Row(Id::CtrlF2, HiddenKey, "Ctrl+F2").Key("Ctrl+F2"),
    Row(Id::CtrlF3, HiddenKey, "Ctrl+F3").Key("Ctrl+F3"),
    Row(Id::ShiftF2, HiddenKey, "Shift+F2").Key("Shift+F2"),
    Row(Id::ShiftF3, HiddenKey, "Shift+F3").Key("Shift+F3"),
    Row(Id::Home, HiddenKey, "Home").Key("Home"),
    Row(Id::Enter, HiddenKey, "Enter").Key("Return").OtherKey("Enter").Name("Enter").CtrlSelects(),
    Row(Id::CtrlLeft, HiddenKey, "Ctrl+Left").Key("Ctrl+Left"),
    Row(Id::CtrlRight, HiddenKey, "Ctrl+Right").Key("Ctrl+Right"),
    Row(Id::CtrlUp, HiddenKey, "Ctrl+Up").Key("Ctrl+Up"),
    Row(Id::CtrlDown, HiddenKey, "Ctrl+Down").Key("Ctrl+Down"),
    Row(Id::F10, HiddenKey, "F10").Key("F10"),
    Row(Id::CtrlPrint, HiddenKey, "Print Image").Key("Ctrl+P").Enable(E::NeedsBitmap),
    Row(Id::NewSequence, HiddenKey, "New Sequence").Key("Ctrl+F9"),
    Row(Id::SequenceBack, HiddenKey, "Sequence Back").Key("Shift+F9"),
    Row(Id::SelectRotate90, HiddenKey).Key("Ctrl+R"),
    Row(Id::RollBottomLeft, HiddenKey).Key("Shift+Left").Name("RollBottomLeft").CtrlSelects()
        .Enable(E::Layer2Float),
    Row(Id::RollBottomRight, HiddenKey).Key("Shift+Right").Name("RollBottomRight").CtrlSelects()
        .Enable(E::Layer2Float),
    Row(Id::RollBottomUp, HiddenKey).Key("Shift+Up").Name("RollBottomUp").CtrlSelects()
        .Enable(E::Layer2Float),
    Row(Id::RollBottomDown, HiddenKey).Key("Shift+Down").Name("RollBottomDown").CtrlSelects()
        .Enable(E::Layer2Float),
    Row(Id::RollLeft10, HiddenKey).Key("Ctrl+Alt+Left").Enable(E::NeedsFloat),
    Row(Id::RollRight10, HiddenKey).Key("Ctrl+Alt+Right").Enable(E::NeedsFloat),
    Row(Id::RollUp10, HiddenKey).Key("Ctrl+Alt+Up").Enable(E::NeedsFloat),
    Row(Id::RollDown10, HiddenKey).Key("Ctrl+Alt+Down").Enable(E::NeedsFloat),
    Row(Id::RollBottomLeft10, HiddenKey).Key("Shift+Alt+Left").Enable(E::OtherLayerFloat),
    Row(Id::RollBottomRight10, HiddenKey).Key("Shift+Alt+Right").Enable(E::OtherLayerFloat),
    Row(Id::RollBottomUp10, HiddenKey).Key("Shift+Alt+Up").Enable(E::OtherLayerFloat),
    Row(Id::RollBottomDown10, HiddenKey).Key("Shift+Alt+Down").Enable(E::OtherLayerFloat),
    // Sent by the program itself (focus, command line, replays, the operation list)
    Row(Id::NoOp, NoItem, "NoOp"),
    Row(Id::FileInformation, NoItem).Enable(E::NeedsBitmap),
    Row(Id::FocusCommand, NoItem),
    Row(Id::DestroyBuffers, NoItem).Name("Destroy Bufs").CtrlSelects(),
    Row(Id::CommandLineOpen, NoItem),
    Row(Id::Lab, NoItem).Name("LAB").CtrlSelects().Enable(E::ColourSpace),
    Row(Id::RollLeft, NoItem).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::RollRight, NoItem).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::RollUp, NoItem).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::RollDown, NoItem).CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::Presharpen, NoItem).Name("Presharpen").Keeps(Whole<ResizeParams>()).Pages(37)
        .CtrlSelects().Enable(E::NeedsFloat),
    Row(Id::ApplyCurve, NoItem).Name("ApplyCurve").Keeps(Whole<BasicParams>()).Pages(79)
        .Enable(E::NeedsFloat),
};
// clang-format on
}  // namespace

std::span<const CommandDescriptor> CommandTable() { return kTable; }

const CommandDescriptor* CommandDescriptorOf(int id) {
  // Sorted once by id for the binary search.
  static const std::vector<const CommandDescriptor*> byId = [] {
    std::vector<const CommandDescriptor*> v;
    for (const CommandDescriptor& d : kTable) v.push_back(&d);
    std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->Id() < b->Id(); });
    return v;
  }();
  const auto it = std::lower_bound(byId.begin(), byId.end(), id,
                                   [](const CommandDescriptor* d, int v) { return d->Id() < v; });
  return it != byId.end() && (*it)->Id() == id ? *it : nullptr;
}

namespace {
struct NamedId {
  const char* name;
  int id;
};
constexpr NamedId kNames[] = {
#define ZEP_COMMAND_NAME(name, number) {#name, number},
    ZEP_COMMAND_IDS(ZEP_COMMAND_NAME)
#undef ZEP_COMMAND_NAME
};
}  // namespace

const char* CommandIdName(int id) {
  for (const NamedId& n : kNames) {
    if (n.id == id) return n.name;
  }
  return nullptr;
}

int CommandIdOfName(std::string_view name) {
  for (const NamedId& n : kNames) {
    if (name == n.name) return n.id;
  }
  return 0;
}
