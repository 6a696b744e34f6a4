#include "params/program.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "params/commands.h"
#include "params/fields.h"
#include "params/settings.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

void RecordedProgram::SetDefaults() {
  capacity = kSlots;
  stepCount = 0;
  for (int i = 0; i < kSlots; ++i) {
    std::memcpy(stepNames[i], "NoOp", 5);
    stepIds[i] = kEmptyId;
    stepIsF3[i] = 0;
    stepShift[i] = 0;
    stepCtrl[i] = 0;
  }
}

bool RecordedProgram::Save(const std::string& path) const {
  return !WriteFileReplacing(path,
                             [this](std::FILE* f) { return std::fwrite(this, kSize, 1, f) == 1; });
}

bool RecordedProgram::Load(const std::string& path) {
  std::FILE* f = OpenRegularFile(path);
  if (!f) return true;
  // The format has no header, so its length is the one sign that a file is a program.
  // The bookkeeping fields are checked like those of the settings file, inside a record
  // that gives them their defaults.
  auto read = std::make_unique<Settings>(DefaultSettings());
  const size_t n = std::fread(&read->program, 1, kSize, f);
  const bool longer = std::fgetc(f) != EOF;
  const bool failed = std::ferror(f) != 0 || n != kSize || longer;
  std::fclose(f);
  if (failed) return true;
  ValidateFields(*read, kOffset, kOffset + kSize);
  *this = read->program;
  return false;
}

bool IsF2F3Command(int id) {
  switch (CommandId(id)) {
    case CommandId::F2ProgrammedOperation:
    case CommandId::F3ProgrammedOperation:
    case CommandId::ShiftF2:
    case CommandId::CtrlF2:
    case CommandId::ShiftF3:
    case CommandId::CtrlF3:
      return true;
    default:
      return false;
  }
}

const StepSnapshotRange* StepSnapshotOf(int id) {
  const CommandDescriptor* d = CommandDescriptorOf(id);
  return d && d->snapshot.length > 0 ? &d->snapshot : nullptr;
}
