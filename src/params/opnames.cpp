#include "params/opnames.h"

#include "params/commands.h"

const char* OperationName(uint32_t id) {
  if (id > uint32_t(INT32_MAX)) return "NoOp";
  const CommandDescriptor* d = CommandDescriptorOf(int(id));
  return d && d->name ? d->name : "NoOp";
}
