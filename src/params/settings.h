#pragma once
// `Settings`: the one record that holds every parameter of every operation, the option
// toggles of its header and tail, the operation list and the recorded program. The
// settings file "zep.ini" in the program directory is nothing but its 19,544 bytes.
//
// The record is a plain aggregate: `Settings{}` is all zeros, and a default record is
// built from zeros by SetDefaults, so no byte of a written file is ever left to chance.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

#include "params/blocks.h"
#include "params/program.h"

struct Settings {
  static constexpr uint32_t kSize = 19544;
  static constexpr int kOperationSlots = 25;
  // Files of another version are replaced by defaults at start-up.
  static constexpr float kVersion = 3.7f;

  uint8_t conditional;        // 0: conditional operations (F12)
  uint8_t soundOnCompletion;  // 1
  uint8_t autoQuery;          // 2: show the operation's page before it runs
  uint8_t unused3;
  uint32_t reserved;  // 4: every reset of the live record keeps it
  uint8_t autoMenu;   // 8: open the menu bar's popups on hover
  uint8_t unused9[3];
  float version;                           // 12
  int32_t operationList[kOperationSlots];  // 16: command ids, newest first
  int32_t operationIndex;                  // 116: the current entry
  int32_t operationCount;                  // 120: entries in use, 25

  FileParams file;                      // 124
  ResizeParams resize;                  // 688
  BasicParams basic;                    // 1152
  GeometryParams geometry;              // 1360
  BlurParams blur;                      // 1412
  LayerParams layer;                    // 1648
  MaskParams mask;                      // 1720
  ViewParams view;                      // 1768
  RecordedProgram program;              // 1784
  BarPatternParams barPattern;          // 18464
  IfsParams ifs;                        // 18492
  PrintParams print;                    // 18640
  InpaintParams inpaint;                // 18652
  RegularizationParams regularization;  // 18704
  GammaParams gamma;                    // 18752
  DeconvParams deconv;                  // 18764
  PeriodicParams periodic;              // 19132
  StackParams stack;                    // 19280
  ToneMapParams toneMap;                // 19460

  uint8_t scrollLock;  // 19516: pan linked windows together
  uint8_t unused19517[3];
  int32_t scrollAmount;             // 19520: pixels per arrow key, sign is direction
  int32_t backgroundGreyLevel;      // 19524
  int32_t frameWindowRed;           // 19528
  int32_t frameWindowGreen;         // 19532
  int32_t frameWindowBlue;          // 19536
  uint8_t monitorSleepAtStart;      // 19540
  uint8_t monitorWakeAtCompletion;  // 19541
  uint8_t unused19542[2];

  // Sets every member that has a default: each block's routine in record order, then
  // the header and tail (the reserved word to 0). Bytes without a default (snapshots,
  // padding) keep what they held. Returns the record.
  Settings& SetDefaults();

  // The reset of the live record: the default record, but the reserved word keeps its
  // current value.
  void ResetToDefaults();

  // Whether the version word is exactly 3.7, bit for bit (a NaN never is).
  bool HasCurrentVersion() const;

  // Puts every member whose value lies outside its accepted values back to its default
  // (see fields.h). Returns how many values were changed.
  int Validate();

  // Writes the record to the program directory's file name through a temporary file;
  // the previous file survives a failed write. Returns true when it could not be
  // written.
  bool Save(const std::string& name) const;
  // Reads up to the record's size from the program directory's file name over the
  // record, then validates it; a shorter file changes only the bytes it has. Returns
  // true, changing nothing, when the file cannot be read.
  bool Load(const std::string& name);
};

static_assert(sizeof(Settings) == Settings::kSize);
static_assert(std::is_trivially_copyable_v<Settings> && std::is_standard_layout_v<Settings>);
static_assert(offsetof(Settings, conditional) == 0);
static_assert(offsetof(Settings, soundOnCompletion) == 1);
static_assert(offsetof(Settings, autoQuery) == 2);
static_assert(offsetof(Settings, reserved) == 4);
static_assert(offsetof(Settings, autoMenu) == 8);
static_assert(offsetof(Settings, version) == 12);
static_assert(offsetof(Settings, operationList) == 16);
static_assert(offsetof(Settings, operationIndex) == 116);
static_assert(offsetof(Settings, operationCount) == 120);
static_assert(offsetof(Settings, file) == FileParams::kOffset);
static_assert(offsetof(Settings, resize) == ResizeParams::kOffset);
static_assert(offsetof(Settings, basic) == BasicParams::kOffset);
static_assert(offsetof(Settings, geometry) == GeometryParams::kOffset);
static_assert(offsetof(Settings, blur) == BlurParams::kOffset);
static_assert(offsetof(Settings, layer) == LayerParams::kOffset);
static_assert(offsetof(Settings, mask) == MaskParams::kOffset);
static_assert(offsetof(Settings, view) == ViewParams::kOffset);
static_assert(offsetof(Settings, program) == RecordedProgram::kOffset);
static_assert(offsetof(Settings, barPattern) == BarPatternParams::kOffset);
static_assert(offsetof(Settings, ifs) == IfsParams::kOffset);
static_assert(offsetof(Settings, print) == PrintParams::kOffset);
static_assert(offsetof(Settings, inpaint) == InpaintParams::kOffset);
static_assert(offsetof(Settings, regularization) == RegularizationParams::kOffset);
static_assert(offsetof(Settings, gamma) == GammaParams::kOffset);
static_assert(offsetof(Settings, deconv) == DeconvParams::kOffset);
static_assert(offsetof(Settings, periodic) == PeriodicParams::kOffset);
static_assert(offsetof(Settings, stack) == StackParams::kOffset);
static_assert(offsetof(Settings, toneMap) == ToneMapParams::kOffset);
static_assert(offsetof(Settings, scrollLock) == 19516);
static_assert(offsetof(Settings, scrollAmount) == 19520);
static_assert(offsetof(Settings, backgroundGreyLevel) == 19524);
static_assert(offsetof(Settings, frameWindowRed) == 19528);
static_assert(offsetof(Settings, frameWindowGreen) == 19532);
static_assert(offsetof(Settings, frameWindowBlue) == 19536);
static_assert(offsetof(Settings, monitorSleepAtStart) == 19540);
static_assert(offsetof(Settings, monitorWakeAtCompletion) == 19541);

// A default record, built once from zeroed memory. Restore Defaults copies members from
// it and validation falls back to it.
const Settings& DefaultSettings();

// The process's live record, holding the defaults until the settings file is read.
Settings& LiveSettings();

// One parameter block of the record: what a program step snapshots and what a page's
// Restore All Defaults covers.
struct SettingsBlock {
  const char* name;
  uint32_t offset;
  uint32_t size;
};
// The nineteen blocks in record order.
std::span<const SettingsBlock> SettingsBlocks();

// The settings file's name in the program directory.
inline constexpr const char* kSettingsFileName = "zep.ini";

// Start-up: reads "zep.ini" over the record (a missing file leaves it as it is); when the
// version read is not 3.7 the record is reset to its defaults, keeping the reserved word
// read, and the file is rewritten at once.
void LoadSettingsAtStartUp(Settings& live);
// Shut-down: writes "zep.ini"; a failure is reported as "Problem writing file zep.ini".
void SaveSettingsAtShutDown(const Settings& live);
