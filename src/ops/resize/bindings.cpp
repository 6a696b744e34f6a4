// The Resize menu's binding table. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"
#include "ops/resize/enlarge.h"
#include "ops/resize/ifs.h"
#include "ops/resize/resize.h"
#include "ops/resize/seamcarve.h"

namespace ops::resize {
void Bind() {
  using Id = CommandId;
  static const CommandEntry rows[] = {
      {Id::BoxNearestNeighbor, OnBoxNearestNeighbor, nullptr},
      {Id::Bilinear, OnBilinear, nullptr},
      {Id::Bicubic, OnBicubic, nullptr},
      {Id::Lanczos, OnLanczos, nullptr},
      {Id::Triangulation, OnTriangulation, nullptr},
      {Id::StairInterpolation, OnStairInterpolation, nullptr},
      {Id::DrawAvoidanceRemovalRegions, OnDrawSeamRegions, nullptr},
      {Id::SeamCarving, OnSeamCarving, nullptr},
      {Id::Presharpen, OnPresharpen, nullptr},
      {Id::IteratedFunctionSystems, OnIteratedFunctionSystems, nullptr},
      {Id::ReopenIfs, OnReopenIfs, nullptr},
  };
  CImageView::RegisterCommands(rows);
  RegisterIfsFormat();
  // The enlargements run from their table.
  for (const EnlargeCommand& c : EnlargeCommands()) {
    const CommandEntry row[] = {{c.id, OnEnlarge, nullptr}};
    CImageView::RegisterCommands(row);
  }
}
}  // namespace ops::resize
