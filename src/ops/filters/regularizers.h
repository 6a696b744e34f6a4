#pragma once
// The weight slots of the plain difference regularizers and the operator lists built from
// them. Each entry is a LinearOp that runs one matrix operator with one slot; an adjoint
// entry adds into a gradient plane of the image's size.
#include "numeric/bitmask.h"
#include "numeric/matrix.h"

struct RegularizerWeights {
  float slopes = 0.01f;  // "Slopes, Horizontal and Vertical"
  float slopesDiagonal = 0.01f;
  float curvatures = 0.0f;
  float curvaturesDiagonal = 0.0f;
  float order3 = 0.0f;
  float order3Diagonal = 0.0f;
  float crossSlopes = 0.0f;
  float crossSlopesDiagonal = 0.0f;
  float slopesHorizontal = 0.0f;  // the horizontal-only and vertical-only rows
  float curvesHorizontal = 0.0f;
  float order3Horizontal = 0.0f;
  float slopesVertical = 0.0f;
  float curvesVertical = 0.0f;
  float order3Vertical = 0.0f;
  float ddSlopesHvMin = 0.0f;  // the data-dependent rows
  float ddSlopesHvMax = 0.0f;
  float ddCurvesHvMin = 0.0f;
  float ddCurvesHvMax = 0.0f;
  float ddSlopesDiagMin = 0.0f;
  float ddSlopesDiagMax = 0.0f;
  float ddCurvesDiagMin = 0.0f;
  float ddCurvesDiagMax = 0.0f;
  float dirCurvesMin = 0.0f;  // the direction-field rows
  float dirCurvesMax = 0.0f;
  float dirSlopesMin = 0.0f;
  float dirSlopesMax = 0.0f;
  float dirCurves2Min = 0.0f;
  float dirCurves2Max = 0.0f;
  float dirSlopes2Min = 0.0f;
  float dirSlopes2Max = 0.0f;
};

// The masks the data-dependent entries read and the direction fields of the direction-field
// entries, owned by the deconvolution, which sets them for each channel before its solve.
// An absent mask reads as all clear, an absent field as (1, 0).
struct RegularizerMaps {
  const bitmask* hvSlope = nullptr;
  const bitmask* hvCurvature = nullptr;
  const bitmask* diagSlope = nullptr;
  const bitmask* diagCurvature = nullptr;
  const matrix* diagSlopeField = nullptr;
  const matrix* diagCurvatureField = nullptr;
  const matrix* hvSlopeField = nullptr;
  const matrix* hvCurvatureField = nullptr;
};

RegularizerWeights& CurrentRegularizerWeights();
RegularizerMaps& CurrentRegularizerMaps();
void SetHorizontalOnlyWeights(float slopes, float curves, float order3);
void SetVerticalOnlyWeights(float slopes, float curves, float order3);

// Append the entries of the rows whose weight is above 0: the eight rows of slopes,
// curvatures, third differences and cross slopes (two entries for each of the first six),
// and separately the six horizontal-only and vertical-only rows, which the lists take
// after the data-dependent ones.
void AppendDifferenceRegularizers(LinearOpList& forwards, LinearOpList& adjoints);
// The eight data-dependent rows, one entry each: HV slopes Min, Max, HV curvatures Min, Max,
// then the same on the diagonals.
void AppendDataDependentRegularizers(LinearOpList& forwards, LinearOpList& adjoints);
// The eight direction-field rows, one entry each: diagonal curvatures Min, Max, diagonal
// slopes Min, Max, then row/column curvatures Min, Max and slopes Min, Max.
void AppendDirectionFieldRegularizers(LinearOpList& forwards, LinearOpList& adjoints);
void AppendAxisOnlyRegularizers(LinearOpList& forwards, LinearOpList& adjoints);
// All four groups in the order of the deconvolution's lists: the plain rows, the
// data-dependent ones, the direction-field ones, then the horizontal- and vertical-only.
void AppendRegularizers(LinearOpList& forwards, LinearOpList& adjoints);
