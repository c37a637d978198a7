#include "securestore/key_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "securestore/diagnostics.h"
#include "securestore/environment_info.h"
#include "securestore/file_writes.h"
#include "securestore/store_files.h"

namespace {

RSEC_SSFS_RC readKey(const char* path, unsigned char key[kEncryptionKeySize]) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::memcpy(key, rsecssfsDefaultGlobalKey, kEncryptionKeySize);
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Key file \"%s\" not found, using default key", path);
    return RSEC_SSFS_RC_OK;
  }
  rsecssfsKeyfileRecord record;
  const size_t read = std::fread(&record, 1, sizeof record, file);
  std::fclose(file);
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
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Key read from key file \"%s\"", path);
  }
  secureWipe(&record, sizeof record);
  return rc;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_getKeyFromKeyfile(unsigned char pGlobalKey[kEncryptionKeySize]) {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  rc = readKey(config->pKeyFile, pGlobalKey);
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
