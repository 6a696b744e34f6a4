#include "platform/childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

extern char** environ;

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         std::chrono::milliseconds timeout) {
  Kill();
  deadline_ = std::chrono::steady_clock::now() + timeout;
  int fds[2];
  // Close-on-exec, so that no other child started meanwhile by another thread holds the pipe.
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // Whatever this process blocks or ignores, the helper starts with the defaults, so that
  // its limits (SIGXCPU) and a closed pipe (SIGPIPE) end it.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int failed =
      posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(fds[1]);
  if (failed != 0) {
    pid_ = -1;
    close(fds[0]);
    return false;
  }
  fd_ = fds[0];
  return true;
}

int ChildProcess::Remaining() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline_ - std::chrono::steady_clock::now());
  return left.count() > 0 ? int(std::min<long long>(left.count(), 1 << 30)) : 0;
}

long ChildProcess::ReadSome(char* data, size_t size) {
  for (;;) {
    if (fd_ < 0) return -1;
    pollfd p{fd_, POLLIN, 0};
    const int ready = poll(&p, 1, Remaining());
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return -1;  // the deadline passed
    const ssize_t got = read(fd_, data, size);
    if (got < 0 && errno == EINTR) continue;
    return long(got);
  }
}

bool ChildProcess::Read(void* data, size_t size) {
  char* to = static_cast<char*>(data);
  while (size > 0) {
    const long got = ReadSome(to, size);
    if (got <= 0) return false;
    to += got;
    size -= size_t(got);
  }
  return true;
}

bool ChildProcess::AtEnd() {
  char c;
  return ReadSome(&c, 1) == 0;
}

bool ChildProcess::Finish() {
  ClosePipe();
  if (pid_ < 0) return false;
  // The output has ended, so the child is on its way out; a child that lingers past the
  // deadline is killed.
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (done < 0 && errno != EINTR) {
      pid_ = -1;
      return false;
    }
    if (Remaining() == 0) {
      Kill();
      return false;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

void ChildProcess::Kill() {
  ClosePipe();
  if (pid_ < 0) return;
  // The child is ours and not yet reaped, so its id cannot have gone to another process.
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

void ChildProcess::ClosePipe() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}
