#include "app/menus.h"

#include <algorithm>

namespace {
const char* const kTitles[kMenuCount] = {"&File",   "CSpace",       "Queue",    "Basic", "Geom",
                                         "Resize",  "Blur/Sharpen", "Stacking", "Layer", "Mask",
                                         "Paint",   "Cond(On)",     "Options",  "AutoQ", "Prog",
                                         "&Window", "&Help",        "NoOp"};

const MenuItem kItems[] = {
    {0, nullptr, "&New", 57600, "Ctrl+N"},
    {0, nullptr, "Close", 57602, "Shift+N"},
    {0, nullptr, "E&xit", 57665, "Shift+Esc"},
    {5, nullptr, "Box (Nearest Neighbor)", 4118, nullptr},
    {5, nullptr, "Bilinear", 4007, nullptr},
    {5, nullptr, "Bicubic", 4008, nullptr},
    {5, nullptr, "Lanczos", 4006, nullptr},
    {5, nullptr, "Triangulation", 4162, nullptr},
    {5, nullptr, "Stair Interpolation (SI)", 4217, nullptr},
    {5, nullptr, "Create Floating Point Buffer", 4220, "Ctrl+Y"},
    {5, nullptr, "Destroy Floating Point Buffers", 4167, "Shift+Y"},
    {12, nullptr, "Sound Notification of Process Completion", 4105, nullptr},
    {12, nullptr, "Awaken Sleeping Monitor at Process Completion", 4223, nullptr},
    {12, nullptr, "Put Monitor to Sleep at Beginning of Selected Processes ", 4224, nullptr},
    {12, nullptr, "Automatic Popdown Menus", 4142, nullptr},
    {12, "View", "Scroll Lock Multiple Windows", 4154, nullptr},
    {13, nullptr, "Properties", 4041, "Q"},
    {13, nullptr, "Automatic Query of Properties", 4042, "Ctrl+Q"},
    {13, nullptr, "Set Properties to Default", 4043, nullptr},
    {14, nullptr, "Reopen Dialog Box", 4272, "F4"},
    {16, nullptr, "Legal Disclaimer", 4132, nullptr},
    {16, nullptr, "ZEP Home Page", 4143, nullptr},
    {16, nullptr, "Online Manual", 4144, nullptr},
    {16, "Diagnostic Tools", "Current Memory Status", 4158, nullptr},
    {16, "Diagnostic Tools", "Maximum Dib Size", 4179, nullptr},
    {16, nullptr, "&About ZEP Image Processor", 57664, nullptr},
};

const MenuItem kHidden[] = {
    {-1, nullptr, "Channel X", 4145, "Num+1"},
    {-1, nullptr, "Channel Y", 4146, "Num+5"},
    {-1, nullptr, "Channel Z", 4147, "Num+9"},
    {-1, nullptr, "Nothing", 4148, "Space"},
};

const int kFrameCommands[] = {57600, 57602, 57665, 57664, 4041, 4043, 4132,
                              4143,  4144,  4154,  4158,  4179, 4148};
}  // namespace

const char* MenuTitle(int position) {
  return position >= 0 && position < kMenuCount ? kTitles[position] : "";
}

std::span<const MenuItem> MenuItems() { return kItems; }
std::span<const MenuItem> HiddenAccelerators() { return kHidden; }

bool IsFrameCommand(int id) {
  return std::find(std::begin(kFrameCommands), std::end(kFrameCommands), id) !=
         std::end(kFrameCommands);
}
