#pragma once
// A Platform for tests: a clock that moves only when told, a cancel key pressed at a
// chosen poll, and memory figures set by the test.
#include "platform/platform.h"

class FakePlatform : public Platform {
 public:
  // Installs itself; the destructor restores the previous platform.
  FakePlatform();
  ~FakePlatform() override;
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  bool CancelRequested() override;
  int64_t ClockMs() override { return clock; }
  MemoryFigures Memory() override { return memory; }

  // The cancel key reads as pressed from the poll with this number on (1 = the first);
  // 0 never.
  void CancelAtPoll(int poll) {
    cancelAt = poll;
    polls = 0;
  }

  int64_t clock = 1000;
  MemoryFigures memory;
  int cancelAt = 0;
  int polls = 0;

 private:
  Platform* previous_;
};
