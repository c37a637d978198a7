#include "base/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Diagnose {
namespace {
bool g_outputWasClosed = false;
}  // namespace

void occupyClosedStandardDescriptors() noexcept {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // open returns the lowest free descriptor, which is this one; opened the
    // other way round, every use of it fails with EBADF as before.
    const int standIn = open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (standIn >= 0 && standIn != fd) close(standIn);
    if (fd == STDOUT_FILENO) g_outputWasClosed = true;
  }
}

bool finishStandardOutput(int lostWriteError) noexcept {
  // A write that failed earlier (at a line end) left only the stream's error
  // flag; its errno is long gone. A std::cout synchronised with stdio (the
  // default) writes through stdout as well: a write of it that failed has
  // set the same flag. A failure of the final flush or close, or of a write
  // the caller made itself, is reported with its reason.
  const bool failedEarlier = lostWriteError != 0 || std::ferror(stdout) != 0;
  int error = lostWriteError;
  if (std::fflush(stdout) != 0 && error == 0) error = errno;
  if (std::fclose(stdout) != 0 && error == 0) error = errno;
  if (!failedEarlier && error == 0) return true;
  if (g_outputWasClosed) error = EBADF;
  if (error != 0) {
    std::fprintf(stderr, "Error: Standard output cannot be written: %s.\n", std::strerror(error));
  } else {
    std::fputs("Error: Standard output cannot be written.\n", stderr);
  }
  return false;
}

}  // namespace Diagnose
