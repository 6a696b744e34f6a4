#pragma once
// The command table: one row for every command of the program, those whose handlers are
// not built yet included. Its menu, caption, accelerator, operation name, the settings a
// program step keeps, the pages of its menu path, its Ctrl behaviour and its enable rule
// all live in the row; the menu bar, the operation names, the program snapshots and the
// window's enable rules are views of it.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "params/commandids.h"
#include "params/program.h"

// Where a command sits: a menu-bar position (0 "&File" to 17, the operation list), or no
// menu item at all.
enum class Menu : int8_t {
  File,
  CSpace,
  Queue,
  Basic,
  Geom,
  Resize,
  BlurSharpen,
  Stacking,
  Layer,
  Mask,
  Paint,
  Cond,
  Options,
  AutoQ,
  Prog,
  Window,
  Help,
  OperationList,
  HiddenKey = -1,  // reached by its accelerator alone
  NoItem = -2,     // sent by the program itself: focus, command line, replays, the list
};

// When the image window lets a command run (and what its menu item shows). Each rule is
// one update handler of the window; Frame marks the commands the main frame answers.
enum class EnableRule : uint8_t {
  Always,
  Frame,
  NeedsFloat,
  NeedsBitmap,
  ColourSpace,
  Channel,
  QueueEntry,
  ViewingNormal,
  SecondLayer,
  Animate,
  CreateMask,
  FilePresent,
  MaskViews,
  NeedsMask,
  LayerMasks,
  CropBothLayers,
  TwoLayers,
  BottomThroughMask,
  CombinedDifference,
  ToggleNormalView,
  Layer2Float,
  OtherFloat,
  OtherLayerFloat,
  BlockAlignment,
  Stacking,
  RecordProgram,
  DestroyFloat,
  CreateFloat,
  NoFloatOnRead,
  ReopenIfs,
  RecordTexture,
  TextureInpainting,
  CreateNoiseProfile,
  NoiseProfile,
  AlignmentTemplate,
  BrightnessTemplate,
  AvoidanceRegions,
  CustomCurve,
  Option,
  OperationEntry,
  DeleteLastStep,
  RunProgram,
  SaveProgram,
  PaintMode,
  CursorRadius,
};

struct CommandDescriptor {
  static constexpr int kMaxPages = 4;

  CommandId id;
  Menu menu;
  const char* submenu;   // null, or the title of the submenu the item sits in
  const char* caption;   // the menu text; for a key alone a short description, or null
  const char* key;       // the accelerator in portable text ("Ctrl+N", "Shift+Y"), or null
  const char* otherKey;  // a second accelerator, without a menu item of its own, or null
  const char* name;      // the operation name of F2/F3 and program steps; null: "NoOp"
  // The bytes of the settings record a recorded step keeps; length 0: none.
  StepSnapshotRange snapshot;
  // The properties pages every run from the menu shows, in order (-1 ends the list).
  // Pages a handler shows only under a condition are the handler's.
  std::array<int16_t, kMaxPages> pages;
  bool ctrlSelects;  // Ctrl makes the command the current F2/F3 operation instead of running it
  EnableRule enable;

  constexpr int Id() const { return static_cast<int>(id); }
  constexpr bool HasMenuItem() const { return static_cast<int8_t>(menu) >= 0; }
};

// Every row: the menu items in menu order, then the accelerators without an item, then the
// commands the program sends itself.
std::span<const CommandDescriptor> CommandTable();

// The row of an id, or null for a number that is no command.
const CommandDescriptor* CommandDescriptorOf(int id);
inline const CommandDescriptor* CommandDescriptorOf(CommandId id) {
  return CommandDescriptorOf(static_cast<int>(id));
}

// A command's name as CommandId spells it ("Lanczos"), or null for a number that is no
// command; and the number of such a name, 0 for none. Scripts name commands this way.
const char* CommandIdName(int id);
int CommandIdOfName(std::string_view name);
