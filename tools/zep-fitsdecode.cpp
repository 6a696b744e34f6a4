// zep-fitsdecode MEMORY SECONDS FILE: decodes the tile-compressed FITS image FILE for the
// program, which runs it in a process of its own because the library's tile decoders crash
// on damaged tiles. Before it opens the file it limits itself: MEMORY bytes of address
// space beyond what it holds at start, SECONDS of processor time, no core file. The image
// goes to standard output in the form ReadFits checks.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>

#include "fileio/fits.h"

namespace {
bool ParseCount(const char* text, uint64_t& value) {
  const char* end = text + std::strlen(text);
  const auto [rest, error] = std::from_chars(text, end, value);
  return error == std::errc() && rest == end && rest != text;
}

// A figure of this process's memory (VmSize: its address space, VmData: its private
// writable part) in bytes; 0 when unknown. Measured rather than assumed, as a sanitizer
// build reserves terabytes at start.
uint64_t Held(const std::string& figure) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    uint64_t kb = 0;
    if (line.rfind(figure + ":", 0) == 0) {
      const size_t at = line.find_first_not_of(" \t", figure.size() + 1);
      const size_t stop = line.find(' ', at);
      if (at != std::string::npos &&
          std::from_chars(line.data() + at, line.data() + std::min(stop, line.size()), kb).ec ==
              std::errc()) {
        return kb * 1024u;
      }
    }
  }
  return 0;
}

bool Limit(int resource, uint64_t soft, uint64_t hard) {
  const rlimit r{rlim_t(soft), rlim_t(hard)};
  return setrlimit(resource, &r) == 0;
}
}  // namespace

int main(int argc, char** argv) {
  uint64_t memory = 0, seconds = 0;
  if (argc != 4 || !ParseCount(argv[1], memory) || !ParseCount(argv[2], seconds) || seconds == 0 ||
      seconds > 1000000) {
    return 2;
  }
  // Ends with the program rather than outliving it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // The data limit also holds where a sanitizer's allocator maps memory into space it
  // reserved at start, which the address space limit does not see.
  for (const auto& [figure, resource] : {std::pair{"VmSize", RLIMIT_AS}, {"VmData", RLIMIT_DATA}}) {
    const uint64_t held = Held(figure);
    const uint64_t limit = memory > UINT64_MAX / 2 - held ? UINT64_MAX / 2 : held + memory;
    if (held == 0 || !Limit(resource, limit, limit)) return 2;
  }
  if (!Limit(RLIMIT_CPU, seconds, seconds + 1) || !Limit(RLIMIT_CORE, 0, 0)) return 2;
  const bool written = WriteDecodedFits(argv[3], STDOUT_FILENO);
  // Nothing is torn down: the process ends here, and a sanitizer build's leak check would
  // take the library's leaks on damaged tiles for a failure.
  _exit(written ? 0 : 1);
}
