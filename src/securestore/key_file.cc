#include "securestore/key_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "securestore/diagnostics.h"
#include "securestore/environment_info.h"
#include "securestore/file_writes.h"
#include "securestore/regular_file.h"
#include "securestore/store_files.h"

namespace {

// Only a missing key file means the built-in default key. A key file that is
// there but cannot be read (no permission, a directory, a link, no file
// descriptor left, an I/O error) fails the call: otherwise a secret would be
// stored under, or a conversion would move every secret to, the public key.
RSEC_SSFS_RC readKey(const char* path, unsigned char key[kEncryptionKeySize], rsecssfsKeySource* source) {
  *source = RSECSSFS_KEYSOURCE_DEFAULT;
  const int fd = rsecssfs_openRegularFile(path, O_RDONLY);
  if (fd < 0 && errno == ENOENT) {
    std::memcpy(key, rsecssfsDefaultGlobalKey, kEncryptionKeySize);
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Key file \"%s\" not found, using default key", path);
    return RSEC_SSFS_RC_OK;
  }
  const char* problem = fd < 0 ? rsecssfs_fileErrorText(errno) : nullptr;
  rsecssfsKeyfileRecord record;
  size_t read = 0;
  while (problem == nullptr && read < sizeof record) {
    const ssize_t n = ::read(fd, reinterpret_cast<char*>(&record) + read, sizeof record - read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) problem = rsecssfs_fileErrorText(errno);
    if (n <= 0) break;
    read += static_cast<size_t>(n);
  }
  if (fd >= 0) close(fd);
  if (problem != nullptr) {
    secureWipe(&record, sizeof record);
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Key file \"%s\" cannot be read: %s", path, problem);
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  if (read == 0) {
    std::memcpy(key, rsecssfsDefaultGlobalKey, kEncryptionKeySize);
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Key file \"%s\" empty; using default key", path);
  } else if (read < sizeof record) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Key file \"%s\" has content that is shorter than the expected length",
                   path);
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  } else if (record.type != 1) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Key file \"%s\" has wrong type code", path);
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  } else {
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Key file content::");
    RSECSSFS_HEXTRACE(&record, sizeof record, 1, record.key, record.key + sizeof record.key);
    std::memcpy(key, record.key, kEncryptionKeySize);
    *source = RSECSSFS_KEYSOURCE_FILE;
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Key read from key file \"%s\"", path);
  }
  secureWipe(&record, sizeof record);
  return rc;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_getKeyFromKeyfile(unsigned char pGlobalKey[kEncryptionKeySize], rsecssfsKeySource* source) {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  rsecssfsKeySource ignored;
  rc = readKey(config->pKeyFile, pGlobalKey, source != nullptr ? source : &ignored);
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

bool rsecssfs_writeKeyFile(int fd, const unsigned char key[kEncryptionKeySize]) {
  rsecssfsKeyfileRecord record;
  std::memcpy(record.preamble, rsecssfsKeyPreamble, sizeof record.preamble);
  record.type = 1;
  std::memcpy(record.key, key, sizeof record.key);
  rsecssfs_getEnvironmentInfo(&record.environmentInfo);
  bool written = rsecssfs_writeAll(fd, &record, sizeof record) && fdatasync(fd) == 0;
  if (close(fd) != 0) written = false;
  if (written) {
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Written key file::");
    RSECSSFS_HEXTRACE(&record, sizeof record, 1, record.key, record.key + sizeof record.key);
  }
  secureWipe(&record, sizeof record);
  return written;
}
