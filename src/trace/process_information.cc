#include "trace/process_information.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace System {

ProcessID ProcessInformation::getProcessID() noexcept { return ::getpid(); }

namespace {

// /proc/<pid>/stat reads "<pid> (<command>) <state> ..."; the command may
// hold blanks and parentheses of its own, so the state follows the last ")".
// A process that cannot be looked at counts as running.
bool hasExited(ProcessID pid) noexcept {
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return errno == ENOENT;
  char status[512];
  ssize_t length = -1;
  while ((length = ::read(descriptor, status, sizeof status - 1)) < 0 && errno == EINTR) {
  }
  ::close(descriptor);
  if (length <= 0) return false;
  status[length] = '\0';
  const char* end = strrchr(status, ')');
  return end != nullptr && end[1] == ' ' && (end[2] == 'Z' || end[2] == 'X');
}

}  // namespace

bool isProcessDead(ProcessID pid) noexcept {
  if (pid == 0) return false;
  if (pid < 0) return true;
  const int saved = errno;
  const bool dead = (::kill(pid, 0) != 0 && errno == ESRCH) || hasExited(pid);
  errno = saved;
  return dead;
}

}  // namespace System
