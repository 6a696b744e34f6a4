// The strip loop that runs an enlargement core on a 24-bit bitmap a few rows at a time:
// only one float tile and its enlargement exist at once, and each tile's margin rows, made
// and then dropped, hide the seams between strips.
#include <algorithm>
#include <vector>

#include "image/rgbbuffer.h"
#include "ops/resize/enlarge.h"
#include "platform/errors.h"

namespace {
// One strip: its first source row, its rows, and the margin rows it reads below and above.
// At the picture's own edges the margin stops, so that the core meets the edge exactly as
// it does on the whole image.
struct Strip {
  int y0, rows, below, above;
  int height() const { return below + rows + above; }
};

std::vector<Strip> Strips(int h, int stripHeight, int margin) {
  std::vector<Strip> strips;
  if (h < 1) return strips;
  const int s = std::clamp(stripHeight, 1, h);
  for (int y0 = 0; y0 < h; y0 += s) {
    const int rows = std::min(s, h - y0);
    strips.push_back({y0, rows, std::min(margin, y0), std::min(margin, h - y0 - rows)});
  }
  return strips;
}
}  // namespace

void RunStrips(rgbbuffer& destination, const rgbbuffer& source, const EnlargeCommand& command,
               const EnlargeRun& run, CSpaceCode code, int stripHeight) {
  const int w = source.width;
  if (w < 1) return;
  const int margin = std::max(command.strips.margin(run.p, run.plan), 0);
  const int f = run.plan.factor;
  for (const Strip& s : Strips(source.height, stripHeight, margin)) {
    fpbuffer tile(w, s.height(), code);
    tile.gettilergb(source, 0, s.y0 - s.below);
    command.core(tile, run);
    if (tile.width != w * f || tile.height != s.height() * f) {
      // A core that declined its arguments would place its rows wrongly.
      throw TextException("The enlargement did not produce a strip of the expected size");
    }
    destination.puttile(0, f * s.y0, tile, nullptr, 0, 0, f * s.below, f * s.above);
  }
}

double StripTicks(int w, int h, const EnlargeCommand& command, const EnlargeRun& run,
                  int stripHeight) {
  const int margin = std::max(command.strips.margin(run.p, run.plan), 0);
  double ticks = 0;
  if (w < 1) return ticks;
  for (const Strip& s : Strips(h, stripHeight, margin)) ticks += command.ticks(w, s.height(), run);
  return ticks;
}
