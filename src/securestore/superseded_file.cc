#include "securestore/superseded_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

std::string rsecssfs_supersededName(const char* path) { return std::string(path) + ".old"; }

bool rsecssfs_keepSuperseded(const char* path, int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0 || status.st_size < kSupersededReleaseSize) return false;
  const std::string name = rsecssfs_supersededName(path);
  unlink(name.c_str());
  // Where a file system has no second names, the writer lets go of it itself.
  return link(path, name.c_str()) == 0;
}

void rsecssfs_releaseSuperseded(const std::string& name) {
  const char* path = name.c_str();
  // Two forks: the remover is nobody's child that anyone must wait for, and
  // the one in between is reaped at once. After fork only calls that are
  // safe in the child of a process with threads.
  const pid_t child = fork();
  if (child == 0) {
    const pid_t remover = fork();
    if (remover == 0) {
      setsid();
      closefrom(0);
    }
    if (remover <= 0) unlink(path);
    _exit(0);
  }
  if (child < 0) {
    unlink(path);
    return;
  }
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void rsecssfs_releaseLeftSuperseded(const char* path) {
  const std::string name = rsecssfs_supersededName(path);
  struct stat status;
  if (lstat(name.c_str(), &status) == 0) rsecssfs_releaseSuperseded(name);
}
