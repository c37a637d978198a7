#include "securestore/lock_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "securestore/allocator.h"
#include "securestore/byte_fields.h"
#include "securestore/configuration.h"
#include "securestore/environment_info.h"
#include "securestore/file_writes.h"
#include "securestore/trace.h"
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

RSEC_SSFS_RC takeLock(const char* path) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      rsecssfsLockfileRecord record;
      std::memcpy(record.preamble, rsecssfsLockPreamble, sizeof record.preamble);
      record.lockFileType = 1;
      record.lockType = 1;
      rsecssfs_getEnvironmentInfo(&record.environmentInfo);
      const bool written = rsecssfs_writeAll(fd, &record, sizeof record);
      if (close(fd) == 0 && written) return RSEC_SSFS_RC_OK;
      // A lock file without its full content would block every writer.
      unlink(path);
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to write content to lockfile \"%s\"", path);
      return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    }
    if (errno != EEXIST) break;
    FILE* existing = std::fopen(path, "rb");
    if (existing != nullptr) return reportExistingLock(path, existing);
    if (errno != ENOENT) break;  // removed meanwhile: try again
  }
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to open lockfile \"%s\" for write", path);
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
