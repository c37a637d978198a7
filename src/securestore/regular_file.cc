#include "securestore/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

int rsecssfs_openRegularFile(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat status;
  int error = 0;
  if (fstat(fd, &status) != 0) {
    error = errno;
  } else if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(status.st_mode)) {
    error = RSECSSFS_ENOTREGULAR;
  }
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return -1;
}

FILE* rsecssfs_openRegularStream(const char* path, const char* mode) {
  const bool update = std::strchr(mode, '+') != nullptr;
  const int fd = rsecssfs_openRegularFile(path, update ? O_RDWR : O_RDONLY);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, mode);
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

// fchmod refuses an O_PATH descriptor; its entry under /proc/self/fd names
// the very file it was opened on.
bool rsecssfs_makeProfileFilePrivate(const char* path) {
  const int fd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  bool changed = false;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
      (status.st_mode & 07777) != 0600) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    changed = chmod(self.c_str(), 0600) == 0;
  }
  close(fd);
  return changed;
}

const char* rsecssfs_fileErrorText(int error) {
  return error == RSECSSFS_ENOTREGULAR ? "Not a regular file" : std::strerror(error);
}
