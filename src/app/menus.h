#pragma once
// The menu bar as data: the eighteen menus and the items of every command, with their
// accelerators, read from the command table (params/commands.h). The adapter builds its
// menus and shortcuts from these views; update handlers decide each item's state before a
// menu shows, and an item whose command has no handler yet stays greyed.
#include <span>
#include <string>
#include <vector>

#include "params/commandids.h"

struct MenuItem {
  int menu;             // menu-bar position, 0 "&File" to 17 (the operation name)
  const char* submenu;  // null, or the title of the submenu the item sits in
  const char* text;     // the item's text
  int id;               // the command id
  const char* key;      // the accelerator in portable text ("Ctrl+N", "Shift+Y"), or null
};

// The menu titles as the resource has them, by position.
const char* MenuTitle(int position);
inline constexpr int kMenuCount = 18;

// Every item, in menu order.
std::span<const MenuItem> MenuItems();

// Accelerators without a menu item (keypad channel toggles, Space, second keys) of the
// commands that have a handler now: the image window's bound commands and the frame's.
// Until its command is built, such a key still reaches the window as a plain key press.
std::vector<MenuItem> HiddenAccelerators();

// Whether a command's handler is built: the frame's commands and those the image window
// has a handler for; the others show greyed.
bool IsCommandBuilt(int id);

// Whether a command belongs to the main frame rather than to an image window.
bool IsFrameCommand(int id);
inline bool IsFrameCommand(CommandId id) { return IsFrameCommand(static_cast<int>(id)); }
