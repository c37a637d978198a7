#include "trace/process_information.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace System {

ProcessID ProcessInformation::getProcessID() noexcept { return ::getpid(); }

bool isProcessDead(ProcessID pid) noexcept {
  if (pid == 0) return false;
  if (pid < 0) return true;
  const int saved = errno;
  const bool dead = ::kill(pid, 0) != 0 && errno == ESRCH;
  errno = saved;
  return dead;
}

}  // namespace System
