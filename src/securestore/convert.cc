#include "securestore/convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "crypto/secure_wipe.h"
#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/file_owner.h"
#include "securestore/file_replacement.h"
#include "securestore/key_file.h"
#include "securestore/lock_file.h"
#include "securestore/regular_file.h"
#include "securestore/record_checksum.h"
#include "securestore/signal_block.h"
#include "securestore/store_files.h"

namespace {

constexpr size_t kBackupChunkSize = 1024;

// What one conversion has done so far, for the steps after it and for the
// clean-up at its end.
struct Conversion {
  RSecSSFsConvertAPI* api;
  const rsecssfsConfiguration* config;
  FILE* dataBackup;  // open for reading while the data file is written anew
  bool dataBackupMade;
  bool keyBackupMade;
  // The new data and key file, written beside the old ones under these names
  // and renamed over them once complete; *Made while such a file exists.
  std::string newDataFile;
  std::string newKeyFile;
  bool newDataMade;
  bool newKeyMade;
  bool filesChanged;  // the data or key file may differ from its backup
  // The call record's counters only ever grow; this call's share decides.
  int readableBefore;
  int notReadableBefore;
};

// Makes sure that the file can be updated, or created if it does not exist.
// A file created here is removed again: it is ours, since it is created
// exclusively. (An existing file that cannot be read is never truncated.)
RSEC_SSFS_RC probeFile(const char* path, bool isKeyFile) {
  RSECSSFS_TRACE(RSECSSFS_TRC2, isKeyFile ? "Key file is \"%s\"" : "Data file is \"%s\"", path);
  int fd = rsecssfs_openRegularFile(path, O_RDONLY);
  if (fd >= 0 || errno != ENOENT) {
    if (fd >= 0) {
      RSECSSFS_TRACE(RSECSSFS_TRC2, "File exists already");
      close(fd);
      fd = rsecssfs_openRegularFile(path, O_RDWR);
    }
    if (fd < 0) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR,
                     isKeyFile ? "Key file \"%s\" cannot be opened for write: %s"
                               : "Data file \"%s\" cannot be opened for write: %s",
                     path, rsecssfs_fileErrorText(errno));
      return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    }
    RSECSSFS_TRACE(RSECSSFS_TRC2, "File can be opened for update; closing again");
    close(fd);
    return RSEC_SSFS_RC_OK;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Open for read failed");
  fd = rsecssfs_openRegularFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   isKeyFile ? "Key file \"%s\" does not exist and cannot be created"
                             : "Data file \"%s\" does not exist and cannot be created",
                   path);
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC2,
                 "Open for write to create successful; will remove again to restore previous state");
  close(fd);
  unlink(path);
  return RSEC_SSFS_RC_OK;
}

bool copyInChunks(FILE* source, FILE* target) {
  unsigned char chunk[kBackupChunkSize];
  bool copied = true;
  size_t n = 0;
  while (copied && (n = std::fread(chunk, 1, sizeof chunk, source)) > 0)
    copied = std::fwrite(chunk, 1, n, target) == n;
  secureWipe(chunk, sizeof chunk);  // a key file passes through here
  return copied && std::ferror(source) == 0;
}

// Copies `source` (open for reading) into the new file `backupPath` and
// closes it. The backup is created exclusively, so that nothing unseen is
// overwritten, with the permission bits of its original (and at least the
// owner's read and write, or the backup check could not see it). On success
// *backup is the backup, open for reading from its start and on disk; on
// failure it is null and no backup is left.
RSEC_SSFS_RC copyToBackup(FILE* source, const char* backupPath, bool isKeyFile, FILE** backup) {
  *backup = nullptr;
  struct stat status;
  const mode_t mode =
      (fstat(fileno(source), &status) == 0 ? status.st_mode & 0777 : 0600) | S_IRUSR | S_IWUSR;
  const int fd = rsecssfs_openRegularFile(backupPath, O_RDWR | O_CREAT | O_EXCL, mode);
  FILE* target = fd >= 0 && rsecssfs_giveToDirectoryOwner(fd, backupPath) ? fdopen(fd, "w+b") : nullptr;
  if (target == nullptr) {
    if (fd >= 0) {
      close(fd);
      unlink(backupPath);
    }
    std::fclose(source);
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        isKeyFile ? "Key file backup \"%s\" cannot be created" : "Data file backup \"%s\" cannot be created",
        backupPath);
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC2, isKeyFile ? "Backup key file is \"%s\"" : "Backup data file is \"%s\"",
                 backupPath);
  const bool copied = copyInChunks(source, target) && rsecssfs_flushToDisk(target);
  std::fclose(source);
  if (!copied) {
    std::fclose(target);
    unlink(backupPath);
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   isKeyFile ? "Key file backup \"%s\" cannot be written completely"
                             : "Data file backup \"%s\" cannot be written completely",
                   backupPath);
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  rsecssfs_syncDirectoryOf(backupPath);
  std::rewind(target);
  *backup = target;
  return RSEC_SSFS_RC_OK;
}

// The file to back up, or null without one (there is nothing to back up or
// convert then). Probed before, it is a regular file that can be read.
RSEC_SSFS_RC openOriginal(const char* path, bool isKeyFile, FILE** file) {
  *file = rsecssfs_openRegularStream(path, "rb");
  if (*file != nullptr || errno == ENOENT) return RSEC_SSFS_RC_OK;
  RSECSSFS_TRACE(RSECSSFS_TRCERR,
                 isKeyFile ? "Key file \"%s\" cannot be opened for read: %s"
                           : "Data file \"%s\" cannot be opened for read: %s",
                 path, rsecssfs_fileErrorText(errno));
  return RSEC_SSFS_RC_FILE_CORRUPTION;
}

RSEC_SSFS_RC backUpDataFile(Conversion* c) {
  FILE* source = nullptr;
  RSEC_SSFS_RC rc = openOriginal(c->config->pDataFile, false, &source);
  if (source == nullptr) return rc;
  rc = copyToBackup(source, c->config->pDataFileBackup, false, &c->dataBackup);
  c->dataBackupMade = c->dataBackup != nullptr;
  return rc;
}

RSEC_SSFS_RC backUpKeyFile(Conversion* c) {
  FILE* source = nullptr;
  RSEC_SSFS_RC rc = openOriginal(c->config->pKeyFile, true, &source);
  if (source == nullptr) return rc;
  FILE* backup = nullptr;
  rc = copyToBackup(source, c->config->pKeyFileBackup, true, &backup);
  if (backup != nullptr) {
    c->keyBackupMade = true;
    std::fclose(backup);
  }
  return rc;
}

// The current key is read before anything is written, so that a broken key
// file changes nothing. The data file itself is not touched here: the new
// one is written beside it and takes its place in putInPlace.
RSEC_SSFS_RC rewriteDataFile(Conversion* c) {
  unsigned char currentKey[kEncryptionKeySize];
  RSEC_SSFS_RC rc = rsecssfs_getKeyFromKeyfile(currentKey);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  const int fd = rsecssfs_createSuccessor(c->newDataFile, c->config->pDataFile, &c->newDataMade);
  FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    if (fd >= 0) close(fd);
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Data file \"%s\" cannot be opened for write: %s", c->config->pDataFile,
                   rsecssfs_fileErrorText(error));
    rc = RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  } else {
    RSecSSFsConvertAPI* api = c->api;
    rsecssfsLooperCallbackComm comm = {};
    comm.convert.pTempFile = file;
    comm.convert.pOldKey = api->in_pOldKey;
    comm.convert.pCurrentKey = currentKey;
    comm.convert.pNewKey = api->in_pNewKey;
    comm.convert.pNumberRecordsPlain = &api->out_numberRecordsPlain;
    comm.convert.pNumberRecordsSecureReadable = &api->out_numberRecordsSecureReadable;
    comm.convert.pNumberRecordsSecureNotReadable = &api->out_numberRecordsSecureNotReadable;
    rc = rsecssfs_genericLooper(c->dataBackup, &comm, rsecssfs_loopCallbackConvert);
    const bool written = rsecssfs_flushToDisk(file);
    const bool closed = std::fclose(file) == 0;
    if (rc == RSEC_SSFS_RC_OK && !(written && closed)) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "EOF at writing record data to temporary file");
      rc = RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    }
  }
  secureWipe(currentKey, sizeof currentKey);
  return rc;
}

// The new key file, beside the old one.
RSEC_SSFS_RC writeKeyFile(Conversion* c) {
  const char* path = c->config->pKeyFile;
  const int fd = rsecssfs_createSuccessor(c->newKeyFile, path, &c->newKeyMade);
  if (fd < 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Key file \"%s\" cannot be opened for write: %s", path,
                   rsecssfs_fileErrorText(errno));
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  if (!rsecssfs_writeKeyFile(fd, c->api->in_pNewKey)) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Cannot write new key into key file \"%s\"", path);
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  return RSEC_SSFS_RC_OK;
}

// Both new files are complete and on disk: the data file goes first, then
// the key file, as the old files were written in that order.
RSEC_SSFS_RC putInPlace(Conversion* c) {
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  if (c->newDataMade) {
    rc = rsecssfs_replaceFile(c->newDataFile, c->config->pDataFile, false, &c->newDataMade);
    c->filesChanged = rc == RSEC_SSFS_RC_OK;
  }
  if (rc == RSEC_SSFS_RC_OK && c->newKeyMade) {
    rc = rsecssfs_replaceFile(c->newKeyFile, c->config->pKeyFile, true, &c->newKeyMade);
    c->filesChanged = c->filesChanged || rc == RSEC_SSFS_RC_OK;
  }
  return rc;
}

RSEC_SSFS_RC installNewKey(Conversion* c) {
  const int readable = c->api->out_numberRecordsSecureReadable - c->readableBefore;
  const int notReadable = c->api->out_numberRecordsSecureNotReadable - c->notReadableBefore;
  if (readable == 0 && notReadable != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   "No encrypted record in the secure storage could be successfully converted to the new "
                   "key because none was readable with the current key, the default key or an externally "
                   "provided key; no update was executed");
    // The new data file is not put in place; the backups can go.
    return RSEC_SSFS_RC_INCORRECT_KEY;
  }
  return writeKeyFile(c);
}

RSEC_SSFS_RC removeBackup(const char* path) {
  if (unlink(path) == 0 || errno == ENOENT) return RSEC_SSFS_RC_OK;
  const int error = errno;
  RSECSSFS_TRACE(RSECSSFS_TRCERR, "Unable to remove backup file \"%s\"; error code %d", path, error);
  return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
}

RSEC_SSFS_RC removeBackups(const Conversion* c) {
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_OK;
  if (c->dataBackupMade) rc = removeBackup(c->config->pDataFileBackup);
  if (c->keyBackupMade) {
    const RSEC_SSFS_RC keyRc = removeBackup(c->config->pKeyFileBackup);
    if (rc == RSEC_SSFS_RC_OK) rc = keyRc;
  }
  return rc;
}

RSEC_SSFS_RC runConversion(Conversion* c) {
  const bool newKey = c->api->in_pNewKey != nullptr;
  RSEC_SSFS_RC rc = rsecssfs_checkForExistingBackupFiles();
  if (rc == RSEC_SSFS_RC_OK) rc = probeFile(c->config->pDataFile, false);
  if (rc == RSEC_SSFS_RC_OK && newKey) rc = probeFile(c->config->pKeyFile, true);
  if (rc == RSEC_SSFS_RC_OK) rc = backUpDataFile(c);
  if (rc == RSEC_SSFS_RC_OK && newKey) rc = backUpKeyFile(c);
  if (rc == RSEC_SSFS_RC_OK && c->dataBackup != nullptr) rc = rewriteDataFile(c);
  if (rc == RSEC_SSFS_RC_OK && newKey) rc = installNewKey(c);
  if (rc == RSEC_SSFS_RC_OK) rc = putInPlace(c);
  return rc;
}

RSEC_SSFS_RC convertUnderLock(RSecSSFsConvertAPI* api) {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  Conversion c = {};
  c.api = api;
  c.config = config;
  c.newDataFile = rsecssfs_successorName(config->pDataFile);
  c.newKeyFile = rsecssfs_successorName(config->pKeyFile);
  c.readableBefore = api->out_numberRecordsSecureReadable;
  c.notReadableBefore = api->out_numberRecordsSecureNotReadable;
  rc = runConversion(&c);
  if (c.dataBackup != nullptr) std::fclose(c.dataBackup);
  if (c.newDataMade) unlink(c.newDataFile.c_str());
  if (c.newKeyMade) unlink(c.newKeyFile.c_str());
  // After a failure that may have changed a file the backups stay for a
  // person to restore from; the backup check refuses updates till then.
  if (rc == RSEC_SSFS_RC_OK || !c.filesChanged) {
    const RSEC_SSFS_RC removal = removeBackups(&c);
    if (rc == RSEC_SSFS_RC_OK) rc = removal;
  }
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

// The payload a record gets in the new data file: its value encoded again,
// or the stored bytes themselves (*newPayload == payload) when no key opens
// them. The value is taken as bytes also when it is a character value: it is
// stored as its UTF-8 bytes, and carrying those over as they are keeps it
// exactly, where a detour through a NUL-terminated text would cut it at a
// zero byte. The data header keeps telling what kind of value it is.
RSEC_SSFS_RC convertPayload(const rsecssfsDataHeader* header, unsigned char* payload, size_t length,
                            const rsecssfsLooperCallbackComm* comm, unsigned char** newPayload,
                            size_t* newLength) {
  const auto& convert = comm->convert;
  const bool plaintext = header->isStoredAsPlaintext == 1;
  rsecssfsApplicationPayload value;
  rsecssfsKeySource source = RSECSSFS_KEYSOURCE_DEFAULT;
  RSEC_SSFS_RC rc = rsecssfs_getPayloadApplicationDataFromRecordData(
      length, payload, header->recordIdentifierA7, plaintext, true, convert.pCurrentKey, convert.pOldKey,
      convert.pNewKey, &value, &source);
  if (rc == RSEC_SSFS_RC_INCORRECT_KEY) {
    ++*convert.pNumberRecordsSecureNotReadable;
    *newPayload = payload;
    *newLength = length;
    return RSEC_SSFS_RC_OK;
  }
  if (rc != RSEC_SSFS_RC_OK) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "During conversion an error has occurred when reading the source record");
    return rc;
  }
  rc = rsecssfs_getPayloadRecordDataFromApplicationData(
      &value, convert.pNewKey != nullptr ? convert.pNewKey : convert.pCurrentKey, newLength, newPayload);
  rsecssfs_releaseApplicationPayload(&value);
  if (rc == RSEC_SSFS_RC_OK)
    ++*(plaintext ? convert.pNumberRecordsPlain : convert.pNumberRecordsSecureReadable);
  return rc;
}

// A fresh record header and checksum; the data header as it was.
RSEC_SSFS_RC writeRecord(FILE* file, const rsecssfsDataHeader* dataHeader, const unsigned char* payload,
                         size_t length) {
  rsecssfsRecordHeader header;
  rsecssfs_fillRecordHeader(&header, static_cast<uint32_t>(kRecordOverhead + length));
  rsecssfsDataHeader data = *dataHeader;
  rsecssfs_computeRecordChecksum(&data, payload, length, data.hmacSHA1DataHeaderAndPayload);
  if (std::fwrite(&header, sizeof header, 1, file) != 1 || std::fwrite(&data, sizeof data, 1, file) != 1 ||
      (length > 0 && std::fwrite(payload, length, 1, file) != 1)) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "EOF at writing record data to temporary file");
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  return RSEC_SSFS_RC_OK;
}

}  // namespace

void rsecssfs_loopCallbackConvert(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                  bool isEOF, rsecssfsLooperCallbackComm* comm, bool*, RSEC_SSFS_RC* pRc) {
  if (isEOF || pDataHeader->isDeleted == 1) return;
  auto* payload = static_cast<unsigned char*>(RSECSSFS_ALLOC(payloadLength + 1));
  if (payload == nullptr) {
    *pRc = RSEC_SSFS_RC_LOW_MEMORY;
    return;
  }
  RSEC_SSFS_RC rc = rsecssfs_readWholePayload(file, payload, payloadLength);
  if (rc == RSEC_SSFS_RC_OK) {
    rc = rsecssfs_verifyRecordChecksum(pDataHeader, payload, payloadLength);
  }
  unsigned char* newPayload = nullptr;
  size_t newLength = 0;
  if (rc == RSEC_SSFS_RC_OK)
    rc = convertPayload(pDataHeader, payload, payloadLength, comm, &newPayload, &newLength);
  if (rc == RSEC_SSFS_RC_OK) rc = writeRecord(comm->convert.pTempFile, pDataHeader, newPayload, newLength);
  if (newPayload != nullptr && newPayload != payload) RSECSSFS_WIPE_AND_FREE(newPayload, newLength);
  RSECSSFS_WIPE_AND_FREE(payload, payloadLength + 1);
  *pRc = rc;
}

RSecSSFsConvertAPI* RSecSSFsConvertAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* api = static_cast<RSecSSFsConvertAPI*>(RSECSSFS_ALLOC(sizeof(RSecSSFsConvertAPI)));
  if (api != nullptr) *api = RSecSSFsConvertAPI{};
  return api;
}

void RSecSSFsConvertAPIRelease(RSecSSFsConvertAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  RSECSSFS_FREE(api);
}

void RSecSSFsConvert(RSecSSFsConvertAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsConvert");
  RSEC_SSFS_RC rc;
  {
    const rsecssfsSignalBlock signalsWait;
    rc = rsecssfs_lockSet();
    if (rc == RSEC_SSFS_RC_OK) {
      rc = convertUnderLock(api);
      rsecssfs_lockRemove();
    }
  }
  rsecssfs_APIFunctionExit("RSecSSFsConvert", rc, &api->out_pProcessingInfo);
}
