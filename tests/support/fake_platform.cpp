#include "support/fake_platform.h"

FakePlatform::FakePlatform() {
  // Plenty by default, in round figures so that texts built from them are stable.
  memory.memoryLoad = 25;
  memory.totalPhys = 8'000'000'000;
  memory.availPhys = 6'000'000'000;
  memory.totalPageFile = 10'000'000'000;
  memory.availPageFile = 8'000'000'000;
  memory.totalVirtual = 140'737'488'355'328;
  memory.availVirtual = 140'000'000'000'000;
  previous_ = SetPlatform(this);
}

FakePlatform::~FakePlatform() { SetPlatform(previous_); }

bool FakePlatform::CancelRequested() {
  ++polls;
  return cancelAt > 0 && polls >= cancelAt;
}
