#include "securestore/file_replacement.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "securestore/diagnostics.h"
#include "securestore/file_owner.h"
#include "securestore/regular_file.h"

std::string rsecssfs_successorName(const char* path) { return std::string(path) + ".new"; }

bool rsecssfs_flushToDisk(FILE* file) { return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0; }

void rsecssfs_syncDirectoryOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return;
  const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  char directory[PATH_MAX];
  if (length >= sizeof directory) return;
  std::memcpy(directory, path, length);
  directory[length] = '\0';
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

int rsecssfs_createSuccessor(const std::string& name, const char* original, bool* made) {
  unlink(name.c_str());
  struct stat status;
  const bool keepMode = lstat(original, &status) == 0 && S_ISREG(status.st_mode);
  const int fd = rsecssfs_openRegularFile(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, keepMode ? 0600 : 0666);
  if (fd < 0) return fd;
  *made = true;
  // Given to the directory's owner, the successor does not take over an
  // original that an earlier run left to the wrong user.
  bool given = true;
  if (rsecssfs_newFilesGoToDirectoryOwner()) {
    given = rsecssfs_giveToDirectoryOwner(fd, name.c_str());
  } else if (keepMode && fchown(fd, status.st_uid, status.st_gid) != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRC2, "The owner of \"%s\" stays the current user", name.c_str());
  }
  if (!given || (keepMode && fchmod(fd, status.st_mode & 07777) != 0)) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

RSEC_SSFS_RC rsecssfs_replaceFile(const std::string& from, const char* to, bool isKeyFile, bool* made) {
  if (std::rename(from.c_str(), to) != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   isKeyFile ? "Key file \"%s\" cannot be replaced: %s" : "Data file \"%s\" cannot be replaced: %s", to,
                   rsecssfs_fileErrorText(errno));
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  *made = false;
  rsecssfs_syncDirectoryOf(to);
  return RSEC_SSFS_RC_OK;
}
