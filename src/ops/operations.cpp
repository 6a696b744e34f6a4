#include "ops/operations.h"

#include "fileio/imagefile.h"

// Each family's binding function, from the list src/ops/CMakeLists.txt writes.
#define ZEP_OPS_FAMILY(folder) \
  namespace ops::folder {      \
  void Bind();                 \
  }
#include "ops/families.inc"
#undef ZEP_OPS_FAMILY

void RegisterOperations() {
  RegisterFileCommands();
#define ZEP_OPS_FAMILY(folder) ops::folder::Bind();
#include "ops/families.inc"
#undef ZEP_OPS_FAMILY
}
