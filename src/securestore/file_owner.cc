#include "securestore/file_owner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "securestore/rsecssfs.h"

namespace {

bool g_giveToDirectoryOwner = false;

}  // namespace

void RSecSSFsGiveNewFilesToDirectoryOwner(bool enable) { g_giveToDirectoryOwner = enable; }

bool rsecssfs_newFilesGoToDirectoryOwner() { return g_giveToDirectoryOwner; }

std::string rsecssfs_directoryOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ".";
  if (slash == path) return "/";
  return std::string(path, static_cast<size_t>(slash - path));
}

bool rsecssfs_giveToDirectoryOwner(int fd, const char* path) {
  if (!g_giveToDirectoryOwner) return true;
  struct stat directory, file;
  if (stat(rsecssfs_directoryOf(path).c_str(), &directory) != 0 || fstat(fd, &file) != 0) return false;
  if (file.st_uid == directory.st_uid && file.st_gid == directory.st_gid) return true;
  return fchown(fd, directory.st_uid, directory.st_gid) == 0;
}
