#pragma once
// The enlargement commands of the Resize menu: one table-driven flow for every method that
// enlarges by passes of 2 or by an integer factor and reaches the target size by a final
// Lanczos-3 adjustment, on the float image or, strip by strip, on the display bitmap.
#include <span>

#include "image/fpbuffer.h"
#include "params/blocks.h"
#include "params/commandids.h"

class CImageView;
class rgbbuffer;

// How a command chooses its factor from its pass setting (0: automatic, from the target).
enum class FactorRule {
  Doubling,    // n doublings, F = 2^n; automatic: the fewest that reach the target
  OddInteger,  // F = m; automatic: 1 for a scale up to 1, else the smallest odd m >= scale
  Integer,     // F = m; automatic: 2 for a scale up to 2, else the smallest m >= scale
  Pyramid,     // no setting; F = the smallest integer >= the larger scale (at least 1)
};

// The offsets of the final adjustment.
enum class OffsetRule {
  Given,      // dx, dy
  HalfShift,  // dx - rx/2, dy - ry/2 after a doubling (the doubled grid starts at a sample)
  HalfOnly,   // -rx/2, -ry/2 after a doubling; the stored offsets are not used
};

// One run's factor and adjustment.
struct EnlargePlan {
  bool automatic = false;  // the setting was 0: the size dialog decides
  int passes = 0;          // doublings (Doubling rule)
  int factor = 1;          // F, the core's growth in both directions
  bool adjust = false;     // the Lanczos-3 adjustment follows the core
  double rx = 1, ry = 1, ox = 0, oy = 0;
};

// The plan for a source of w x h, the target tw x th with scales sx, sy and offsets dx, dy
// (only read in the automatic case) and the pass setting. The half-pixel part of the
// offsets applies only when a doubling ran.
EnlargePlan PlanEnlargement(FactorRule factor, OffsetRule offsets, int setting, int w, int h,
                            int tw, int th, double sx, double sy, double dx, double dy);

// What a core needs of one run: the plan, the parameters, the centring flag, and the
// loaded presharpening kernel table (null: the core reads it when needed).
struct EnlargeRun {
  const EnlargePlan& plan;
  const ResizeParams& p;
  bool centre;
  const matrix* kernels = nullptr;
  bool tile = false;  // a strip's tile: no scratch files, and the plan's factor
};

// The strip form of a method: the margin in source rows and the colour space of the tiles
// (0: the layer's).
struct StripRule {
  int (*margin)(const ResizeParams& p, const EnlargePlan& plan);
  CSpaceCode tileCode = 0;
};

// One enlargement command: a row of the table the flow runs from.
struct EnlargeCommand {
  CommandId id;
  FactorRule factor;
  OffsetRule offsets;
  int (*setting)(const ResizeParams& p);  // the pass setting; null: none (always automatic)
  bool centres;                           // takes the centring flag as its turn flag
  bool monitor;                           // the process timer may sleep the monitor
  bool tileFirst;                         // the tile page precedes the pages, else follows
  bool scratchAdjust;                     // the float adjustment always uses the scratch disk
  // The core on a float image (whole layer or one tile); a cancel throws Cancelled.
  void (*core)(fpbuffer& image, const EnlargeRun& run);
  // The core's progress ticks on a w x h source (a tile's size on the strip path).
  double (*ticks)(int w, int h, const EnlargeRun& run);
  StripRule strips;
  // Pyramid Simulation reaches the exact size on the float path itself.
  bool exactOnFloat = false;
  // Presharpens with the kernel file's table: the strip path reads it once for all strips.
  bool presharpens = false;
  // An offset rule that depends on the settings (null: offsets above).
  OffsetRule (*offsetsFor)(const ResizeParams& p) = nullptr;
  // Whether the core's own working memory for a w x h source fits (null: the sizes alone
  // decide); checked before anything is released.
  bool (*fits)(int w, int h, const EnlargeRun& run) = nullptr;
};

// The rows of the commands built so far.
std::span<const EnlargeCommand> EnlargeCommands();
const EnlargeCommand* FindEnlargeCommand(int id);

// The strip loop: source enlarged by the row's core into the destination, which is already
// F times the source in both directions, strip height rows (at most the source's) at a
// time. Each tile takes the row's margin of neighbouring rows above and below, cut at the
// picture's edges, where the core meets the edge as it does on the whole image; the
// margins' enlarged rows are dropped, and nothing is written past the destination. The
// tiles are in the colour space code. A cancel or failure throws with the strips so far
// written.
void RunStrips(rgbbuffer& destination, const rgbbuffer& source, const EnlargeCommand& command,
               const EnlargeRun& run, CSpaceCode code, int stripHeight);
// The ticks of the whole strip loop.
double StripTicks(int w, int h, const EnlargeCommand& command, const EnlargeRun& run,
                  int stripHeight);

// The margin of a Jensen window L: 3 per 2 of window, the odd table 3, 6, 9, 12, 15 and
// 3 ceil(L/2) for even lengths.
int JensenMargin(int L);

inline constexpr const char* kOddFactorMessage = "The MBS scale factor must be odd";

// The handler every row of the table is bound to.
void OnEnlarge(CImageView& v, int id);
