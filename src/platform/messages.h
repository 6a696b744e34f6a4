#pragma once
// The two message helpers of the numeric code.
#include <string>

#include "platform/ui.h"

// A plain message box with an OK button; returns the button pressed.
DialogResult ShowMessage(const std::string& text);

// The memory report: the leading text followed by the global memory figures, in a box
// titled "Memory Status".
void ShowMemoryStatus(const std::string& text);

// The text of that report, as ShowMemoryStatus shows it.
std::string MemoryStatusText(const std::string& text);
