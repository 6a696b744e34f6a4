#pragma once
// The recorded program: up to 32 F2/F3 presses, each with its command, direction, unit
// variant and a raw copy of the command's parameter block. It lives inside the settings
// record and is also, byte for byte, the program file (*.ZEP), which has no header: the
// layout is the format.
#include <cstddef>
#include <cstdint>
#include <string>

#include "params/blocks.h"
#include "params/commandids.h"

// A raw copy of one parameter block, from the block's first byte; big enough for the
// largest block but the program itself. Bytes beyond the copied block are not written.
struct StepParams {
  uint8_t bytes[ResizeParams::kSize];
};

struct RecordedProgram {
  static constexpr uint32_t kOffset = 1784;
  static constexpr uint32_t kSize = 16680;
  static constexpr int kSlots = 32;
  static constexpr int kNameSize = 50;
  // The command id of an empty slot; it has no handler, so sending it does nothing.
  static constexpr int32_t kEmptyId = int(CommandId::NoOp);

  int32_t capacity;                   // 0: always kSlots
  int32_t stepCount;                  // 4: steps 0 .. stepCount-1 are valid
  char stepNames[kSlots][kNameSize];  // 8
  int32_t stepIds[kSlots];            // 1608
  uint8_t stepIsF3[kSlots];           // 1736: 0 runs as F2, 1 as F3
  uint8_t stepShift[kSlots];          // 1768: ten-unit variant
  uint8_t stepCtrl[kSlots];           // 1800: tenth-unit variant
  StepParams steps[kSlots];           // 1832

  // The defaults routine: capacity 32, no steps, every slot named "NoOp" with the empty
  // id and clear flags. Only the first five bytes of each name are written, and the
  // snapshots keep whatever they held.
  void SetDefaults();

  // Writes the 16,680 bytes to path, exactly as given, through a temporary file, so that
  // a failed write leaves the previous file. Returns true when the file could not be
  // written.
  bool Save(const std::string& path) const;
  // Reads a program file over this program. A file that cannot be read, or whose length
  // is not that of a program, changes nothing and returns true. Fields outside their
  // accepted values (a step count beyond 32, an unterminated name, ...) take their
  // defaults.
  bool Load(const std::string& path);
};

static_assert(sizeof(StepParams) == 464);
static_assert(sizeof(RecordedProgram) == RecordedProgram::kSize);
ZEP_BLOCK_AT(RecordedProgram, capacity, 0);
ZEP_BLOCK_AT(RecordedProgram, stepCount, 4);
ZEP_BLOCK_AT(RecordedProgram, stepNames, 8);
ZEP_BLOCK_AT(RecordedProgram, stepIds, 1608);
ZEP_BLOCK_AT(RecordedProgram, stepIsF3, 1736);
ZEP_BLOCK_AT(RecordedProgram, stepShift, 1768);
ZEP_BLOCK_AT(RecordedProgram, stepCtrl, 1800);
ZEP_BLOCK_AT(RecordedProgram, steps, 1832);

// F2, F3 and their Ctrl and Shift variants: they send the current
// operation, so as a program step or an operation-list entry they would send themselves
// without end.
bool IsF2F3Command(int id);

// Which bytes of the settings record a command's program step keeps: the command's
// parameter block (or one word of it) copied into the step's snapshot at the same offset
// within the block. record offset = blockOffset + begin.
struct StepSnapshotRange {
  uint32_t blockOffset;
  uint32_t begin;
  uint32_t length;
};
// The range of a command, or null for commands that keep no snapshot.
const StepSnapshotRange* StepSnapshotOf(int id);
