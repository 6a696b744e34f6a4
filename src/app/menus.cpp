#include "app/menus.h"

#include "app/imageview.h"
#include "params/commands.h"

namespace {
const char* const kTitles[kMenuCount] = {"&File",   "CSpace",       "Queue",    "Basic", "Geom",
                                         "Resize",  "Blur/Sharpen", "Stacking", "Layer", "Mask",
                                         "Paint",   "Cond(On)",     "Options",  "AutoQ", "Prog",
                                         "&Window", "&Help",        "NoOp"};

MenuItem ItemOf(const CommandDescriptor& d, int menu, const char* key) {
  return {menu, menu >= 0 ? d.submenu : nullptr, d.caption, d.Id(), key};
}

}  // namespace

const char* MenuTitle(int position) {
  return position >= 0 && position < kMenuCount ? kTitles[position] : "";
}

std::span<const MenuItem> MenuItems() {
  static const std::vector<MenuItem> items = [] {
    std::vector<MenuItem> v;
    for (const CommandDescriptor& d : CommandTable()) {
      if (d.HasMenuItem()) v.push_back(ItemOf(d, static_cast<int>(d.menu), d.key));
    }
    return v;
  }();
  return items;
}

std::vector<MenuItem> HiddenAccelerators() {
  std::vector<MenuItem> keys;
  for (const CommandDescriptor& d : CommandTable()) {
    if (!IsCommandBuilt(d.Id())) continue;
    if (d.menu == Menu::HiddenKey && d.key) keys.push_back(ItemOf(d, -1, d.key));
    if (d.otherKey) keys.push_back(ItemOf(d, -1, d.otherKey));
  }
  return keys;
}

bool IsCommandBuilt(int id) {
  if (IsFrameCommand(id)) return true;
  const CommandEntry* entry = CImageView::FindCommand(id);
  return entry && entry->handler;
}

bool IsFrameCommand(int id) {
  const CommandDescriptor* d = CommandDescriptorOf(id);
  return d && d->enable == EnableRule::Frame;
}
