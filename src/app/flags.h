#pragma once
// Process-wide command flags: how the running command was sent and what the keys and
// buttons are doing. Never saved.
#include <cstdint>

struct CommandFlags {
  bool CtrlHeld = false;
  bool ShiftHeld = false;
  bool F2Active = false;
  bool F3Active = false;
  bool CtrlVariant = false;
  bool ShiftVariant = false;
  bool Recording = false;
  bool Playing = false;
  int32_t PlayStep = 0;
  bool LeftButtonDown = false;
  bool MiddleButtonDown = false;
  bool RightButtonDown = false;
  bool SkipPopdown = false;
  bool Quiet = false;
  bool HoverSuppress = false;
  bool IfsReopenable = false;
};

CommandFlags& Flags();

// Sets a flag for the length of a scope and puts its previous value back when the scope
// ends, also when a handler throws.
class FlagScope {
 public:
  FlagScope(bool& flag, bool value) : flag_(flag), saved_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = saved_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool saved_;
};
