#include "ops/basic/common.h"

#include <cstring>

#include "app/flags.h"
#include "params/settings.h"
#include "platform/ui.h"

namespace ops::basic {
bool Cond() { return LiveSettings().conditional != 0; }

float InForce(const float& member, const void* block) {
  const CommandFlags& f = Flags();
  const Settings& s = LiveSettings();
  if (!f.Playing || !(f.F2Active || f.F3Active)) return member;
  if (f.PlayStep < 0 || f.PlayStep >= RecordedProgram::kSlots) return member;
  const auto offset =
      size_t(reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(block));
  if (offset + sizeof(float) > sizeof(StepParams)) return member;
  float value;
  std::memcpy(&value, s.program.steps[f.PlayStep].bytes + offset, sizeof value);
  return value;
}

WaitCursor::WaitCursor() { GetUi().BeginWaitCursor(); }
WaitCursor::~WaitCursor() { GetUi().EndWaitCursor(); }
}  // namespace ops::basic
