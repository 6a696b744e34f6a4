#include "params/settings.h"

#include <bit>
#include <cstdio>
#include <memory>

#include "params/fields.h"
#include "platform/messages.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"

Settings& Settings::SetDefaults() {
  file.SetDefaults();
  resize.SetDefaults();
  basic.SetDefaults();
  geometry.SetDefaults();
  blur.SetDefaults();
  layer.SetDefaults();
  mask.SetDefaults();
  view.SetDefaults();
  program.SetDefaults();
  barPattern.SetDefaults();
  ifs.Reset();
  print.SetDefaults();
  inpaint.SetDefaults();
  regularization.SetDefaults();
  gamma.SetDefaults();
  deconv.SetDefaults();
  periodic.SetDefaults();
  stack.SetDefaults();
  toneMap.SetDefaults();

  conditional = 1;
  soundOnCompletion = 0;
  autoQuery = 1;
  unused3 = 0;
  reserved = 0;
  autoMenu = 0;
  for (uint8_t& b : unused9) b = 0;
  version = kVersion;
  for (int32_t& id : operationList) id = 0;
  operationIndex = 0;
  operationCount = kOperationSlots;

  scrollLock = 1;
  for (uint8_t& b : unused19517) b = 0;
  scrollAmount = 50;
  backgroundGreyLevel = 0;
  frameWindowRed = 0;
  frameWindowGreen = 0;
  frameWindowBlue = 0;
  monitorSleepAtStart = 0;
  monitorWakeAtCompletion = 1;
  for (uint8_t& b : unused19542) b = 0;
  return *this;
}

const Settings& DefaultSettings() {
  static const Settings defaults = [] {
    Settings s{};
    s.SetDefaults();
    return s;
  }();
  return defaults;
}

Settings& LiveSettings() {
  static Settings live = DefaultSettings();
  return live;
}

void Settings::ResetToDefaults() {
  const uint32_t keep = reserved;
  *this = DefaultSettings();
  reserved = keep;
}

bool Settings::HasCurrentVersion() const {
  return std::bit_cast<uint32_t>(version) == std::bit_cast<uint32_t>(kVersion);
}

int Settings::Validate() { return ValidateFields(*this, 0, kSize); }

bool Settings::Save(const std::string& name) const {
  return !WriteFileReplacing(ProgramPath(name),
                             [this](std::FILE* f) { return std::fwrite(this, kSize, 1, f) == 1; });
}

bool Settings::Load(const std::string& name) {
  // A pipe or a device in its place is no settings file: never waited on, never read.
  std::FILE* f = OpenRegularFile(ProgramPath(name).string());
  if (!f) return true;
  // Read over a copy, so that a read error leaves the record as it was; a short file
  // still replaces only the bytes it has.
  auto read = std::make_unique<Settings>(*this);
  std::fread(read.get(), 1, kSize, f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return true;
  read->Validate();
  *this = *read;
  return false;
}

std::span<const SettingsBlock> SettingsBlocks() {
  static constexpr SettingsBlock kBlocks[] = {
      {"FileParams", FileParams::kOffset, FileParams::kSize},
      {"ResizeParams", ResizeParams::kOffset, ResizeParams::kSize},
      {"BasicParams", BasicParams::kOffset, BasicParams::kSize},
      {"GeometryParams", GeometryParams::kOffset, GeometryParams::kSize},
      {"BlurParams", BlurParams::kOffset, BlurParams::kSize},
      {"LayerParams", LayerParams::kOffset, LayerParams::kSize},
      {"MaskParams", MaskParams::kOffset, MaskParams::kSize},
      {"ViewParams", ViewParams::kOffset, ViewParams::kSize},
      {"RecordedProgram", RecordedProgram::kOffset, RecordedProgram::kSize},
      {"BarPatternParams", BarPatternParams::kOffset, BarPatternParams::kSize},
      {"IfsParams", IfsParams::kOffset, IfsParams::kSize},
      {"PrintParams", PrintParams::kOffset, PrintParams::kSize},
      {"InpaintParams", InpaintParams::kOffset, InpaintParams::kSize},
      {"RegularizationParams", RegularizationParams::kOffset, RegularizationParams::kSize},
      {"GammaParams", GammaParams::kOffset, GammaParams::kSize},
      {"DeconvParams", DeconvParams::kOffset, DeconvParams::kSize},
      {"PeriodicParams", PeriodicParams::kOffset, PeriodicParams::kSize},
      {"StackParams", StackParams::kOffset, StackParams::kSize},
      {"ToneMapParams", ToneMapParams::kOffset, ToneMapParams::kSize},
  };
  return kBlocks;
}

void LoadSettingsAtStartUp(Settings& live) {
  // A missing or unreadable file leaves the defaults, without a message.
  live.Load(kSettingsFileName);
  if (!live.HasCurrentVersion()) {
    live.ResetToDefaults();
    live.Save(kSettingsFileName);
  }
}

void SaveSettingsAtShutDown(const Settings& live) {
  if (live.Save(kSettingsFileName)) ShowMessage("Problem writing file zep.ini");
}
