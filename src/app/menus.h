#pragma once
// The menu bar as data: the eighteen menus and the items of the commands that have
// handlers, with their accelerators. The adapter builds its menus and shortcuts from this
// one table; update handlers decide each item's state before a menu shows.
#include <span>
#include <string>

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

// Accelerators without a menu item (keypad channel toggles, Space).
std::span<const MenuItem> HiddenAccelerators();

// Whether a command belongs to the main frame rather than to an image window.
bool IsFrameCommand(int id);
