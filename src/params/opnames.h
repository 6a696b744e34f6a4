#pragma once
// The short names of the operations that can be made current for F2/F3: the caption of
// the operation-list menu, its entries and the names of recorded program steps.
#include <cstdint>

// The name of a command id, at most 15 characters; "NoOp" for an id without one (0, the
// empty list entry NoOp, ...). The text is static: callers keep the pointer.
const char* OperationName(uint32_t id);

// The longest name has this many characters, so a step name with the longest suffix
// (" (Shift+F2)") always fits a program slot's name field.
inline constexpr int kMaxOperationNameLength = 15;
