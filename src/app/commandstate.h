#pragma once
// What an update handler says of a command: whether it may run, its check mark and its
// menu text.
#include <string>

struct CommandState {
  bool enabled = true;
  int checked = -1;  // -1: no check mark handling; 0 or 1 otherwise
  std::string text;  // empty: the menu keeps its own text

  void Enable(bool on) { enabled = on; }
  void Check(bool on) { checked = on ? 1 : 0; }
};
