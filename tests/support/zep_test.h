#pragma once
// The base fixture of tests that touch the seam: a scripted Ui, a fake platform, an empty
// program directory of the test's own, the default settings, no command flags, and every
// command built so far bound to its handler.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fake_platform.h"
#include "support/scripted_ui.h"

class ZepTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Bytes of a file, for layout checks.
  static std::string ReadBytes(const std::filesystem::path& path);
  // The test data folder (tests/data of the checkout).
  static std::filesystem::path TestData();

  ScriptedUi ui;
  FakePlatform platform;
  std::filesystem::path home;
};
