#include "platform/messages.h"

#include <clocale>

#include "platform/format.h"
#include "support/zep_test.h"

using MessagesTest = ZepTest;

TEST_F(MessagesTest, ShowMessageIsAPlainOkBox) {
  ui.ExpectMessage("Singular Matrix", DialogResult::Ok);
  EXPECT_EQ(ShowMessage("Singular Matrix"), DialogResult::Ok);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].style.buttons, MessageButtons::Ok);
}

TEST_F(MessagesTest, MemoryStatusReportsTheFigures) {
  platform.memory =
      MemoryFigures{42, 2'000'000, 1'500'000, 3'000'000, 2'500'000, 4'000'000, 3'250'000};
  ui.ExpectMessage(
      "Lead\n\nMEMORY STATUS:\nMemory usage: 42 Percent\nPhysical memory: 2.000000 MB\n"
      "Free physical memory: 1.500000 MB\nTotal Paging file: 3.000000 MB\nAvailable Paging "
      "file: 2.500000 MB\nVirtual memory: 4.000000 MB\nFree virtual memory: 3.250000 MB");
  ShowMemoryStatus("Lead");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Memory Status");
  EXPECT_EQ(ui.messages[0].style.icon, MessageIcon::Information);
}

TEST(FormatTest, IgnoresTheUsersLocale) {
  // A desktop in a comma-decimal language must not change texts and files.
  const char* set = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(Format("%.2f|%d|%s", 1.5, 7, "x"), "1.50|7|x");
  if (set) std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(Format("%s", std::string(2000, 'a').c_str()).size(), 2000u);
}

TEST(SystemMemoryTest, ReadsProcFigures) {
  const MemoryFigures m = ReadSystemMemoryFigures();
  EXPECT_GT(m.totalPhys, 0u);
  EXPECT_LE(m.availPhys, m.totalPhys);
  EXPECT_GE(m.totalPageFile, m.totalPhys);
  EXPECT_GE(m.memoryLoad, 0);
  EXPECT_LE(m.memoryLoad, 100);
}
