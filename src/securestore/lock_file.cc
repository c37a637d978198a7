#include "securestore/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "securestore/byte_fields.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/environment_info.h"
#include "securestore/file_owner.h"
#include "securestore/file_writes.h"
#include "securestore/regular_file.h"
#include "securestore/store_files.h"
#include "securestore/utf8_conversion.h"

namespace {

// How often a lock that vanishes between the exclusive create and the read
// of its content is tried again.
constexpr int kCreateAttempts = 3;

void timeText(const unsigned char timestampBytes[8], char* text, size_t size) {
  const auto seconds = static_cast<int64_t>(DecodeFixed64BE(timestampBytes));
  const auto t = static_cast<time_t>(seconds);
  struct tm utc;
  if (gmtime_r(&t, &utc) == nullptr || std::strftime(text, size, "%Y-%m-%d  %H:%M:%S  UTC", &utc) == 0)
    std::snprintf(text, size, "%lld", static_cast<long long>(seconds));
}

// The lock is held by someone: says by whom, or that the file is broken.
RSEC_SSFS_RC reportExistingLock(const char* path, FILE* file) {
  rsecssfsLockfileRecord record;
  const size_t read = std::fread(&record, 1, sizeof record, file);
  std::fclose(file);
  if (read < sizeof record) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Lockfile at \"%s\" has unexpected length %d instead of %d", path,
                   static_cast<int>(read), static_cast<int>(sizeof record));
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  if (std::memcmp(record.preamble, rsecssfsLockPreamble, sizeof record.preamble) != 0 ||
      record.lockFileType != 1) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Lockfile at \"%s\" has unexpected content", path);
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  const rsecssfsEnvironmentInfo& info = record.environmentInfo;
  char* user = nullptr;
  char* host = nullptr;
  RSEC_SSFS_RC rc =
      rsecssfs_getCHARforUTF8(info.usernameUTF8, TrimmedLength(info.usernameUTF8, 24), &user, 0);
  if (rc == RSEC_SSFS_RC_OK)
    rc = rsecssfs_getCHARforUTF8(info.hostnameUTF8, TrimmedLength(info.hostnameUTF8, 24), &host, 0);
  if (rc == RSEC_SSFS_RC_OK) {
    char since[64];
    timeText(info.timestampBytes, since, sizeof since);
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "Update of the secure storage is locked for %s by user \"%s\" from host \"%s\" since \"%s\"",
        record.lockType != 0 ? "update" : "read", user, host, since);
    rc = RSEC_SSFS_RC_CONCURRENT_UPDATE;
  }
  if (user != nullptr) RSECSSFS_FREE(user);
  if (host != nullptr) RSECSSFS_FREE(host);
  return rc;
}

// The lock file appears under its name with its whole content or not at all:
// the record is written to a file without a name first (or, where the file
// system cannot do that, to a temporary name) and then linked to the lock
// name, which fails when a lock exists. A writer killed half-way therefore
// never leaves a short lock file that no one could remove, and a second
// writer never reads a lock that is still being written.
bool writeLockRecord(int fd, const char* path) {
  rsecssfsLockfileRecord record;
  std::memcpy(record.preamble, rsecssfsLockPreamble, sizeof record.preamble);
  record.lockFileType = 1;
  record.lockType = 1;
  rsecssfs_getEnvironmentInfo(&record.environmentInfo);
  if (rsecssfs_writeAll(fd, &record, sizeof record)) return true;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to write content to lockfile \"%s\": %s", path,
                 rsecssfs_fileErrorText(errno));
  return false;
}

// Where asked for, the lock belongs to its directory's owner before it has a name.
bool prepareLockFile(int fd, const char* path) {
  if (rsecssfs_giveToDirectoryOwner(fd, path)) return writeLockRecord(fd, path);
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to give lockfile \"%s\" to the owner of its directory: %s", path,
                 std::strerror(errno));
  return false;
}

enum class Linked { yes, exists, failed, unsupported };

Linked linkResult(int rc) {
  if (rc == 0) return Linked::yes;
  return errno == EEXIST ? Linked::exists : Linked::failed;
}

// Through an unnamed file of the lock's directory.
Linked linkUnnamed(const char* path, bool* written) {
  const int fd = open(rsecssfs_directoryOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return Linked::unsupported;
  *written = prepareLockFile(fd, path);
  Linked linked = Linked::failed;
  if (*written) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    linked = linkResult(linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW));
    // No /proc, or a file system that cannot link such a file: the named way.
    if (linked == Linked::failed) linked = Linked::unsupported;
  }
  close(fd);
  return linked;
}

// Through a temporary name beside the lock.
Linked linkNamed(const char* path, bool* written) {
  char temporary[4096];
  const int length = std::snprintf(temporary, sizeof temporary, "%s.%ld", path, static_cast<long>(getpid()));
  if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) {
    errno = ENAMETOOLONG;
    return Linked::failed;
  }
  const int fd = rsecssfs_openRegularFile(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return Linked::failed;
  *written = prepareLockFile(fd, path);
  const bool closed = close(fd) == 0;
  Linked linked = Linked::failed;
  if (*written && closed) linked = linkResult(link(temporary, path));
  const int error = errno;
  unlink(temporary);
  errno = error;
  return linked;
}

RSEC_SSFS_RC takeLock(const char* path) {
  // Locks that vanish every time before they can be read: try again later.
  int error = EAGAIN;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    bool written = true;
    Linked linked = linkUnnamed(path, &written);
    if (linked == Linked::unsupported) linked = linkNamed(path, &written);
    if (linked == Linked::yes) return RSEC_SSFS_RC_OK;
    if (!written) return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    if (linked != Linked::exists) {
      error = errno;
      break;
    }
    FILE* existing = rsecssfs_openRegularStream(path, "rb");
    if (existing != nullptr) return reportExistingLock(path, existing);
    if (errno != ENOENT) {  // a link, a directory, a FIFO: nobody's lock
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to open lockfile \"%s\" for write: %s", path,
                     rsecssfs_fileErrorText(errno));
      return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    }
    // removed meanwhile: try again
  }
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to open lockfile \"%s\" for write: %s", path, rsecssfs_fileErrorText(error));
  return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_lockSet() {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  rc = takeLock(config->pLockFile);
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

RSEC_SSFS_RC rsecssfs_lockRemove() {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  if (unlink(config->pLockFile) != 0) {
    const int error = errno;
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to remove lock file \"%s\"; error code %d", config->pLockFile,
                   error);
    rc = RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}
