#include "profile/file_lock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace NEBRIX {

int lockExclusiveWithin(int fd, int seconds) {
  constexpr useconds_t kPollMicroseconds = 20000;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) return error;
    usleep(kPollMicroseconds);
  }
  return 0;
}

void lockFile(int fd, int operation) {
  while (flock(fd, operation) != 0 && errno == EINTR) {
  }
}

}  // namespace NEBRIX
