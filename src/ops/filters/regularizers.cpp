#include "ops/filters/regularizers.h"

namespace {
RegularizerWeights weights;
RegularizerMaps maps;
const bitmask kNoMask;
const matrix kNoField;

using Operator = matrix& (matrix::*)(const matrix&, float);

// One operator with one weight slot, read at every call.
template <float RegularizerWeights::*Weight, Operator Op>
matrix& Entry(matrix& out, const matrix& in) {
  return (out.*Op)(in, weights.*Weight);
}

using MaskedOperator = matrix& (matrix::*)(const matrix&, const bitmask&, float);

template <float RegularizerWeights::*Weight, const bitmask* RegularizerMaps::*Map,
          MaskedOperator Op>
matrix& MaskedEntry(matrix& out, const matrix& in) {
  const bitmask* mask = maps.*Map;
  return (out.*Op)(in, mask ? *mask : kNoMask, weights.*Weight);
}

using FieldOperator = matrix& (matrix::*)(const matrix&, const matrix&, float);

template <float RegularizerWeights::*Weight, const matrix* RegularizerMaps::*Field,
          FieldOperator Op>
matrix& FieldEntry(matrix& out, const matrix& in) {
  const matrix* field = maps.*Field;
  return (out.*Op)(in, field ? *field : kNoField, weights.*Weight);
}

struct Row {
  float RegularizerWeights::*weight;
  struct Pair {
    LinearOp forward = nullptr;
    LinearOp adjoint = nullptr;
  } entries[2];  // a row of one operator leaves the second empty
};

using W = RegularizerWeights;
using M = matrix;

#define ZEP_ENTRY(slot, op) \
  { &Entry<&W::slot, &M::op>, &Entry<&W::slot, &M::op##adj> }

const Row kDifferenceRows[] = {
    {&W::slopes, {ZEP_ENTRY(slopes, slopex), ZEP_ENTRY(slopes, slopey)}},
    {&W::slopesDiagonal,
     {ZEP_ENTRY(slopesDiagonal, slopediag), ZEP_ENTRY(slopesDiagonal, slopeanti)}},
    {&W::curvatures, {ZEP_ENTRY(curvatures, curvx), ZEP_ENTRY(curvatures, curvy)}},
    {&W::curvaturesDiagonal,
     {ZEP_ENTRY(curvaturesDiagonal, curvdiag), ZEP_ENTRY(curvaturesDiagonal, curvanti)}},
    {&W::order3, {ZEP_ENTRY(order3, order3x), ZEP_ENTRY(order3, order3y)}},
    {&W::order3Diagonal,
     {ZEP_ENTRY(order3Diagonal, order3diag), ZEP_ENTRY(order3Diagonal, order3anti)}},
    {&W::crossSlopes, {ZEP_ENTRY(crossSlopes, crossslope)}},
    {&W::crossSlopesDiagonal, {ZEP_ENTRY(crossSlopesDiagonal, crossslopediag)}},
};

#define ZEP_MASKED_ENTRY(slot, map, op)                            \
  {                                                                \
    &MaskedEntry<&W::slot, &RegularizerMaps::map, &M::op>,         \
        &MaskedEntry<&W::slot, &RegularizerMaps::map, &M::op##adj> \
  }

const Row kDataDependentRows[] = {
    {&W::ddSlopesHvMin, {ZEP_MASKED_ENTRY(ddSlopesHvMin, hvSlope, ddslopemin)}},
    {&W::ddSlopesHvMax, {ZEP_MASKED_ENTRY(ddSlopesHvMax, hvSlope, ddslopemax)}},
    {&W::ddCurvesHvMin, {ZEP_MASKED_ENTRY(ddCurvesHvMin, hvCurvature, ddcurvmin)}},
    {&W::ddCurvesHvMax, {ZEP_MASKED_ENTRY(ddCurvesHvMax, hvCurvature, ddcurvmax)}},
    {&W::ddSlopesDiagMin, {ZEP_MASKED_ENTRY(ddSlopesDiagMin, diagSlope, ddslopediagmin)}},
    {&W::ddSlopesDiagMax, {ZEP_MASKED_ENTRY(ddSlopesDiagMax, diagSlope, ddslopediagmax)}},
    {&W::ddCurvesDiagMin, {ZEP_MASKED_ENTRY(ddCurvesDiagMin, diagCurvature, ddcurvdiagmin)}},
    {&W::ddCurvesDiagMax, {ZEP_MASKED_ENTRY(ddCurvesDiagMax, diagCurvature, ddcurvdiagmax)}},
};

#define ZEP_FIELD_ENTRY(slot, field, op)                            \
  {                                                                 \
    &FieldEntry<&W::slot, &RegularizerMaps::field, &M::op>,         \
        &FieldEntry<&W::slot, &RegularizerMaps::field, &M::op##adj> \
  }

const Row kDirectionFieldRows[] = {
    {&W::dirCurvesMin, {ZEP_FIELD_ENTRY(dirCurvesMin, diagCurvatureField, dircurvmin)}},
    {&W::dirCurvesMax, {ZEP_FIELD_ENTRY(dirCurvesMax, diagCurvatureField, dircurvmax)}},
    {&W::dirSlopesMin, {ZEP_FIELD_ENTRY(dirSlopesMin, diagSlopeField, dirslopemin)}},
    {&W::dirSlopesMax, {ZEP_FIELD_ENTRY(dirSlopesMax, diagSlopeField, dirslopemax)}},
    {&W::dirCurves2Min, {ZEP_FIELD_ENTRY(dirCurves2Min, hvCurvatureField, dircurv2min)}},
    {&W::dirCurves2Max, {ZEP_FIELD_ENTRY(dirCurves2Max, hvCurvatureField, dircurv2max)}},
    {&W::dirSlopes2Min, {ZEP_FIELD_ENTRY(dirSlopes2Min, hvSlopeField, dirslope2min)}},
    {&W::dirSlopes2Max, {ZEP_FIELD_ENTRY(dirSlopes2Max, hvSlopeField, dirslope2max)}},
};

const Row kAxisOnlyRows[] = {
    {&W::slopesHorizontal, {ZEP_ENTRY(slopesHorizontal, slopex)}},
    {&W::curvesHorizontal, {ZEP_ENTRY(curvesHorizontal, curvx)}},
    {&W::order3Horizontal, {ZEP_ENTRY(order3Horizontal, order3x)}},
    {&W::slopesVertical, {ZEP_ENTRY(slopesVertical, slopey)}},
    {&W::curvesVertical, {ZEP_ENTRY(curvesVertical, curvy)}},
    {&W::order3Vertical, {ZEP_ENTRY(order3Vertical, order3y)}},
};

template <size_t N>
void Append(const Row (&rows)[N], LinearOpList& forwards, LinearOpList& adjoints) {
  for (const Row& row : rows) {
    if (!(weights.*row.weight > 0.0f)) continue;
    for (const Row::Pair& pair : row.entries) {
      if (!pair.forward) continue;
      forwards.push_back(pair.forward);
      adjoints.push_back(pair.adjoint);
    }
  }
}
}  // namespace

RegularizerWeights& CurrentRegularizerWeights() { return weights; }
RegularizerMaps& CurrentRegularizerMaps() { return maps; }

void SetHorizontalOnlyWeights(float slopes, float curves, float order3) {
  weights.slopesHorizontal = slopes;
  weights.curvesHorizontal = curves;
  weights.order3Horizontal = order3;
}

void SetVerticalOnlyWeights(float slopes, float curves, float order3) {
  weights.slopesVertical = slopes;
  weights.curvesVertical = curves;
  weights.order3Vertical = order3;
}

void AppendDifferenceRegularizers(LinearOpList& forwards, LinearOpList& adjoints) {
  Append(kDifferenceRows, forwards, adjoints);
}

void AppendDataDependentRegularizers(LinearOpList& forwards, LinearOpList& adjoints) {
  Append(kDataDependentRows, forwards, adjoints);
}

void AppendDirectionFieldRegularizers(LinearOpList& forwards, LinearOpList& adjoints) {
  Append(kDirectionFieldRows, forwards, adjoints);
}

void AppendAxisOnlyRegularizers(LinearOpList& forwards, LinearOpList& adjoints) {
  Append(kAxisOnlyRows, forwards, adjoints);
}

void AppendRegularizers(LinearOpList& forwards, LinearOpList& adjoints) {
  AppendDifferenceRegularizers(forwards, adjoints);
  AppendDataDependentRegularizers(forwards, adjoints);
  AppendDirectionFieldRegularizers(forwards, adjoints);
  AppendAxisOnlyRegularizers(forwards, adjoints);
}
