#pragma once
// The system half of the desktop seam: clock, cancel polling and memory figures.
#include <cstdint>

// Global memory figures in bytes, in the shape the memory report prints them.
struct MemoryFigures {
  long memoryLoad = 0;  // percent of physical memory in use
  uint64_t totalPhys = 0;
  uint64_t availPhys = 0;
  uint64_t totalPageFile = 0;  // physical memory plus swap: what can be committed
  uint64_t availPageFile = 0;
  uint64_t totalVirtual = 0;  // address space of this process
  uint64_t availVirtual = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // True when the user has asked to cancel (Ctrl+Break, Ctrl+Pause or Escape) since the
  // last query or holds the key now. Called at every progress tick, so it must be cheap.
  virtual bool CancelRequested() = 0;

  // Milliseconds on a monotonic clock.
  virtual int64_t ClockMs() = 0;

  virtual MemoryFigures Memory() = 0;
};

// The Linux implementation without a toolkit: no cancel keys, steady clock, /proc.
class SystemPlatform : public Platform {
 public:
  bool CancelRequested() override { return false; }
  int64_t ClockMs() override;
  MemoryFigures Memory() override;
};

// Reads /proc/meminfo and /proc/self/status; zeroes when they cannot be read.
MemoryFigures ReadSystemMemoryFigures();

Platform& GetPlatform();
// Installs platform (not owned); nullptr restores the SystemPlatform. Returns the previous one.
Platform* SetPlatform(Platform* platform);

// Whether an allocation of bytes may go ahead. Linux overcommits, so a request larger
// than the memory available would "succeed" and kill the process later; requests of a
// mebibyte and more are therefore checked against the available memory first.
bool MemoryAllows(uint64_t bytes);
