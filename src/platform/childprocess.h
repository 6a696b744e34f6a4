#pragma once
// A helper program of ours run in a process of its own, for work on input that may crash the
// library doing it. The helper's standard output comes back through a pipe; its standard
// input and error are /dev/null and it inherits no other descriptor. Started with
// posix_spawn, never a bare fork of this threaded program.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A child still running is killed and reaped.
  ~ChildProcess();

  // Starts program with args (after its own name) and a deadline of timeout from now.
  // Returns false when it could not be started.
  bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
             std::chrono::milliseconds timeout);

  // Reads exactly size bytes of the child's output. False when the output ends first, on a
  // read error or when the deadline passes.
  bool Read(void* data, size_t size);

  // True when the child's output has ended: no byte is left and the pipe is closed.
  bool AtEnd();

  // Waits for the child to end, killing it at the deadline. True when it exited by itself
  // with status 0.
  bool Finish();

  // Kills the child and reaps it.
  void Kill();

 private:
  // Milliseconds left before the deadline, 0 when it has passed.
  int Remaining() const;
  // Waits for output and reads what is there, up to size bytes: the count, 0 at the end of
  // the output, -1 on an error or past the deadline.
  long ReadSome(char* data, size_t size);
  void ClosePipe();

  pid_t pid_ = -1;
  int fd_ = -1;
  std::chrono::steady_clock::time_point deadline_;
};
