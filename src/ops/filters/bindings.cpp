// The Blur/Sharpen menu's binding table. The rows keep the update handlers of their
// descriptors' enable rules.
#include "app/imageview.h"

namespace ops::filters {
void Bind() {
  // The filter commands join this table as they are built; until then none is bound
  // and their menu items stay greyed.
}
}  // namespace ops::filters
