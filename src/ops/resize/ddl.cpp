// The channel drivers of the data-dependent Lanczos enlargement and the quarter shift.
#include <vector>

#include "numeric/ddl.h"
#include "numeric/shift.h"
#include "ops/resize/resize.h"

fpbuffer& ddl(fpbuffer& image, int dominantSetting, int order, int passes, bool rotate, bool centre,
              bool scratch, bool halo, bytemaps& maps, bool drop) {
  const ChannelPlan plan = DominantFirst(image.dominantchannel(dominantSetting), image.channels);
  if (!scratch) {
    // In memory the channels double side by side, sharing each doubling's loops.
    std::vector<matrix*> planes;
    for (int c : plan.order) planes.push_back(&image.plane[c]);
    AllChannelsAtOnce(image, [&] {
      DdlEnlargeTogether(planes.data(), int(planes.size()), order, passes, rotate, centre, halo,
                         maps, drop);
    });
    return image;
  }
  size_t done = 0;
  ForEachChannel(image, scratch, plan, [&](matrix& plane) {
    matrix source = std::move(plane);
    const bool last = ++done == plan.order.size();
    plane.DdlEnlarge(source, order, passes, rotate, centre, scratch, halo, maps, drop && last);
    return false;
  });
  return image;
}

fpbuffer& shiftquarter(fpbuffer& image) {
  for (int c = 0; c < image.channels; ++c) ShiftQuarterPixel(image.plane[c], true, true);
  return image;
}
