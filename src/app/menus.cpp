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
    {3, nullptr, "Histogram", 4099, "F8"},
    {5, nullptr, "Box (Nearest Neighbor)", 4118, nullptr},
    {5, nullptr, "Bilinear", 4007, nullptr},
    {5, nullptr, "Bicubic", 4008, nullptr},
    {5, nullptr, "Lanczos", 4006, nullptr},
    {5, nullptr, "Triangulation", 4162, nullptr},
    {5, nullptr, "Stair Interpolation (SI)", 4217, nullptr},
    {5, nullptr, "Create Floating Point Buffer", 4220, "Ctrl+Y"},
    {5, nullptr, "Destroy Floating Point Buffers", 4167, "Shift+Y"},
    {10, nullptr, "Paint", 4064, "P"},
    {10, nullptr, "Increase Cursor Radius", 4065, "Num++"},
    {10, nullptr, "Decrease Cursor Radius", 4066, "Num+-"},
    {12, nullptr, "Sound Notification of Process Completion", 4105, nullptr},
    {12, nullptr, "Awaken Sleeping Monitor at Process Completion", 4223, nullptr},
    {12, nullptr, "Put Monitor to Sleep at Beginning of Selected Processes ", 4224, nullptr},
    {12, nullptr, "Automatic Popdown Menus", 4142, nullptr},
    {8, nullptr, "Show Combined", 4083, "Shift+C"},
    {8, nullptr, "Show Difference", 4084, "Shift+D"},
    {9, nullptr, "Show Bottom Layer Through Mask", 4098, "Shift+S"},
    {12, "View", "Full Screen", 4027, "F5"},
    {12, "View", "Sized to Fit Screen", 4028, "F6"},
    {12, "View", "Viewing Normal", 4048, "F7"},
    {12, "View", "Scroll Lock Multiple Windows", 4154, nullptr},
    {13, nullptr, "Properties", 4041, "Q"},
    {13, nullptr, "Automatic Query of Properties", 4042, "Ctrl+Q"},
    {13, nullptr, "Set Properties to Default", 4043, nullptr},
    {11, nullptr, "Conditional Operations", 4070, "F12"},
    {13, nullptr, "Set Other Defaults", 4133, nullptr},
    {14, nullptr, "Record Program", 4120, nullptr},
    {14, nullptr, "Delete Last Step", 4123, "Shift+Del"},
    {14, nullptr, "Run Program", 4121, nullptr},
    {14, nullptr, "F2 Programmed Operation", 4018, "F2"},
    {14, nullptr, "F3 Programmed Operation", 4019, "F3"},
    {14, nullptr, "Reopen Dialog Box", 4272, "F4"},
    {14, nullptr, "Prior Operation", 4135, "<"},
    {14, nullptr, "Next Operation", 4134, ">"},
    {17, nullptr, " 1. NoOp", 4276, nullptr},
    {17, nullptr, " 2. NoOp", 4277, nullptr},
    {17, nullptr, " 3. NoOp", 4278, nullptr},
    {17, nullptr, " 4. NoOp", 4279, nullptr},
    {17, nullptr, " 5. NoOp", 4280, nullptr},
    {17, nullptr, " 6. NoOp", 4281, nullptr},
    {17, nullptr, " 7. NoOp", 4282, nullptr},
    {17, nullptr, " 8. NoOp", 4283, nullptr},
    {17, nullptr, " 9. NoOp", 4284, nullptr},
    {17, nullptr, "10. NoOp", 4285, nullptr},
    {17, nullptr, "11. NoOp", 4286, nullptr},
    {17, nullptr, "12. NoOp", 4287, nullptr},
    {17, nullptr, "13. NoOp", 4288, nullptr},
    {17, nullptr, "14. NoOp", 4289, nullptr},
    {17, nullptr, "15. NoOp", 4290, nullptr},
    {17, nullptr, "16. NoOp", 4291, nullptr},
    {17, nullptr, "17. NoOp", 4292, nullptr},
    {17, nullptr, "18. NoOp", 4293, nullptr},
    {17, nullptr, "19. NoOp", 4294, nullptr},
    {17, nullptr, "20. NoOp", 4295, nullptr},
    {17, nullptr, "21. NoOp", 4296, nullptr},
    {17, nullptr, "22. NoOp", 4297, nullptr},
    {17, nullptr, "23. NoOp", 4298, nullptr},
    {17, nullptr, "24. NoOp", 4299, nullptr},
    {17, nullptr, "25. NoOp", 4300, nullptr},
    {17, nullptr, "Delete Checked Op", 4302, "Alt+Del"},
    {17, nullptr, "Delete All Ops", 4305, "Shift+Alt+Del"},
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
    {-1, nullptr, "Ctrl+F2", 4115, "Ctrl+F2"},
    {-1, nullptr, "Ctrl+F3", 4117, "Ctrl+F3"},
    {-1, nullptr, "Shift+F2", 4114, "Shift+F2"},
    {-1, nullptr, "Shift+F3", 4116, "Shift+F3"},
    {-1, nullptr, "Prior Operation", 4135, ","},
    {-1, nullptr, "Next Operation", 4134, "."},
    {-1, nullptr, "Home", 4004, "Home"},
    {-1, nullptr, "Enter", 4022, "Return"},
    {-1, nullptr, "Enter", 4022, "Enter"},
    {-1, nullptr, "Ctrl+Left", 4125, "Ctrl+Left"},
    {-1, nullptr, "Ctrl+Right", 4126, "Ctrl+Right"},
    {-1, nullptr, "Ctrl+Up", 4127, "Ctrl+Up"},
    {-1, nullptr, "Ctrl+Down", 4128, "Ctrl+Down"},
    {-1, nullptr, "F10", 4301, "F10"},
};

// 4043 is answered by the frame only when no image window is active.
const int kFrameCommands[] = {57600, 57602, 57665, 57664, 4041, 4132,
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
