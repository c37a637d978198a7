#include "base/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace Diagnose {

void occupyClosedStandardDescriptors() noexcept {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open returns the lowest free descriptor, which is this one.
    const int standIn = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (standIn >= 0 && standIn != fd) close(standIn);
  }
}

bool finishStandardOutput() noexcept {
  // A write that failed earlier (at a line end) left only the stream's error
  // flag; its errno is long gone. A failure of the final flush or close is
  // reported with its reason.
  std::cout.flush();
  const bool failedEarlier = std::cout.fail() || std::ferror(stdout) != 0;
  int error = 0;
  if (std::fflush(stdout) != 0) error = errno;
  if (std::fclose(stdout) != 0 && error == 0) error = errno;
  if (!failedEarlier && error == 0) return true;
  if (error != 0) {
    std::fprintf(stderr, "Error: Output to standard output was lost: %s.\n", std::strerror(error));
  } else {
    std::fputs("Error: Output to standard output was lost.\n", stderr);
  }
  return false;
}

}  // namespace Diagnose
