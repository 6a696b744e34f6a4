#include "params/program.h"

#include <vector>

#include <cstdio>
#include <cstring>
#include <memory>

#include "params/fields.h"
#include "params/settings.h"
#include "platform/programdir.h"

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
  std::FILE* f = std::fopen(path.c_str(), "rb");
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

bool IsF2F3Command(int id) { return id == 4018 || id == 4019 || (id >= 4114 && id <= 4117); }

namespace {
struct SnapshotRow {
  int id;
  StepSnapshotRange range;
};

// The commands that keep a snapshot, by parameter block.
std::vector<SnapshotRow> BuildSnapshotRows() {
  std::vector<SnapshotRow> rows;
  auto whole = [&](uint32_t offset, uint32_t size, std::initializer_list<int> ids) {
    for (int id : ids) rows.push_back({id, {offset, 0, size}});
  };
  whole(ResizeParams::kOffset, ResizeParams::kSize,
        {4005, 4006, 4007, 4008, 4009, 4118, 4162, 4197, 4198, 4212, 4213,
         4214, 4215, 4216, 4217, 4227, 4229, 4230, 4234, 4236, 4252});
  whole(BlurParams::kOffset, BlurParams::kSize,
        {4034, 4035, 4060, 4061, 4062, 4063, 4131, 4164, 4178, 4207, 4235, 4274, 4275, 4306});
  whole(DeconvParams::kOffset, DeconvParams::kSize, {4222});
  whole(BasicParams::kOffset, BasicParams::kSize, {4091, 4255, 4054, 4056, 4069, 4303});
  whole(StackParams::kOffset, StackParams::kSize, {4093});
  whole(IfsParams::kOffset, IfsParams::kSize, {4168, 4181});
  whole(PeriodicParams::kOffset, PeriodicParams::kSize, {4226});
  whole(LayerParams::kOffset, LayerParams::kSize, {4088, 4092, 4139, 4219, 4244, 4246, 4253, 4256});
  whole(ToneMapParams::kOffset, ToneMapParams::kSize, {4247, 4248});
  whole(GeometryParams::kOffset, GeometryParams::kSize, {4087, 4101});
  whole(InpaintParams::kOffset, InpaintParams::kSize, {4182, 4183, 4208, 4209});
  whole(MaskParams::kOffset, MaskParams::kSize, {4076, 4110, 4225});
  whole(RegularizationParams::kOffset, RegularizationParams::kSize, {4210, 4211});
  whole(BarPatternParams::kOffset, BarPatternParams::kSize, {4155});
  whole(GammaParams::kOffset, GammaParams::kSize, {4176, 4177});
  // One word at its own offset in the block.
  rows.push_back({4021, {BlurParams::kOffset, 0, 4}});
  rows.push_back({4086, {BasicParams::kOffset, 16, 4}});
  rows.push_back({4085, {BasicParams::kOffset, 12, 4}});
  rows.push_back({4058, {LayerParams::kOffset, 0, 4}});
  return rows;
}
}  // namespace

const StepSnapshotRange* StepSnapshotOf(int id) {
  static const std::vector<SnapshotRow> rows = BuildSnapshotRows();
  for (const SnapshotRow& row : rows) {
    if (row.id == id) return &row.range;
  }
  return nullptr;
}
