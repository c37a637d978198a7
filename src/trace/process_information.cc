#include "trace/process_information.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace System {

ProcessID ProcessInformation::getProcessID() noexcept { return ::getpid(); }

// /proc/<pid>/stat reads "<pid> (<command>) <state> ..."; the command may
// hold blanks and parentheses of its own, so the fields follow the last ")".
const char* processStatFields(ProcessID pid, char* text, std::size_t size) noexcept {
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  ssize_t length = -1;
  while ((length = ::read(descriptor, text, size - 1)) < 0 && errno == EINTR) {
  }
  const int error = errno;
  ::close(descriptor);
  errno = error;
  if (length <= 0) return nullptr;
  text[length] = '\0';
  const char* end = strrchr(text, ')');
  if (end == nullptr || end[1] != ' ' || end[2] == '\0') {
    errno = EINVAL;
    return nullptr;
  }
  return end + 2;
}

namespace {

// A process that cannot be looked at counts as running.
bool hasExited(ProcessID pid) noexcept {
  char text[512];
  const char* fields = processStatFields(pid, text, sizeof text);
  if (fields == nullptr) return errno == ENOENT;
  return fields[0] == 'Z' || fields[0] == 'X';
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
