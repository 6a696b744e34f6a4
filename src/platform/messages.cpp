#include "platform/messages.h"

#include "platform/format.h"
#include "platform/platform.h"

DialogResult ShowMessage(const std::string& text) {
  return GetUi().MessageBox(text, "", MessageStyle{MessageButtons::Ok, MessageIcon::None});
}

std::string MemoryStatusText(const std::string& text) {
  const MemoryFigures m = GetPlatform().Memory();
  return Format(
      "%s\n\nMEMORY STATUS:\nMemory usage: %ld Percent\nPhysical memory: %f MB\nFree physical "
      "memory: %f MB\nTotal Paging file: %f MB\nAvailable Paging file: %f MB\nVirtual memory: "
      "%f MB\nFree virtual memory: %f MB",
      text.c_str(), m.memoryLoad, m.totalPhys * 1e-6, m.availPhys * 1e-6, m.totalPageFile * 1e-6,
      m.availPageFile * 1e-6, m.totalVirtual * 1e-6, m.availVirtual * 1e-6);
}

void ShowMemoryStatus(const std::string& text) {
  GetUi().MessageBox(MemoryStatusText(text), "Memory Status",
                     MessageStyle{MessageButtons::Ok, MessageIcon::Information});
}
