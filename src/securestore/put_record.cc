#include "securestore/put_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/environment_info.h"
#include "securestore/file_replacement.h"
#include "securestore/file_owner.h"
#include "securestore/file_writes.h"
#include "securestore/key_file.h"
#include "securestore/lock_file.h"
#include "securestore/regular_file.h"
#include "securestore/record_checksum.h"
#include "securestore/record_key.h"
#include "securestore/signal_block.h"
#include "securestore/store_files.h"
#include "securestore/superseded_file.h"

namespace {

RSEC_SSFS_RC notePosition(rsecssfsLooperCallbackComm* comm, long position) {
  auto& put = comm->put;
  if (put.activeCount == put.activeCapacity) {
    const size_t capacity = put.activeCapacity == 0 ? 4 : 2 * put.activeCapacity;
    auto* grown = static_cast<long*>(RSECSSFS_ALLOC(capacity * sizeof(long)));
    if (grown == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
    if (put.activeCount > 0) std::memcpy(grown, put.pActivePositions, put.activeCount * sizeof(long));
    if (put.pActivePositions != nullptr) RSECSSFS_FREE(put.pActivePositions);
    put.pActivePositions = grown;
    put.activeCapacity = capacity;
  }
  put.pActivePositions[put.activeCount++] = position;
  return RSEC_SSFS_RC_OK;
}

// The whole record for the request, allocated.
RSEC_SSFS_RC buildRecord(const rsecssfsLooperCallbackComm* comm, unsigned char** record,
                         size_t* recordLength) {
  size_t payloadLength = 0;
  unsigned char* payload = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getPayloadRecordDataFromApplicationData(
      comm->put.pPayload, comm->put.pEncryptionKey, &payloadLength, &payload);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  const size_t length = kRecordOverhead + payloadLength;
  auto* bytes = static_cast<unsigned char*>(RSECSSFS_ALLOC(length));
  if (bytes == nullptr) {
    RSECSSFS_WIPE_AND_FREE(payload, payloadLength);
    return RSEC_SSFS_RC_LOW_MEMORY;
  }
  rsecssfsRecordHeader header;
  rsecssfs_fillRecordHeader(&header, static_cast<uint32_t>(length));
  rsecssfsDataHeader data;
  std::memset(&data, 0, sizeof data);
  std::memcpy(data.recordIdentifierA7, comm->put.recordIdentifier, kRecordIdentifierSize);
  rsecssfs_getEnvironmentInfo(&data.environmentInfo);
  data.isDeleted = 0;
  data.isStoredAsPlaintext = comm->put.pPayload->isPlaintext ? 1 : 0;
  data.isBinaryData = comm->put.pPayload->isBinary ? 1 : 0;
  rsecssfs_computeRecordChecksum(&data, payload, payloadLength, data.hmacSHA1DataHeaderAndPayload);
  std::memcpy(bytes, &header, sizeof header);
  std::memcpy(bytes + kRecordHeaderSize, &data, sizeof data);
  if (payloadLength > 0) std::memcpy(bytes + kRecordOverhead, payload, payloadLength);
  RSECSSFS_WIPE_AND_FREE(payload, payloadLength);
  *record = bytes;
  *recordLength = length;
  return RSEC_SSFS_RC_OK;
}

// Whether a record preamble starts somewhere in the bytes from `from` to
// `size`. An append that broke off is the last thing in the file; a record
// that only seems to break off, because its length field is damaged, has
// the next record behind it.
bool preambleIn(int fd, long from, long size) {
  constexpr size_t kPreamble = sizeof rsecssfsDataPreamble - 1;
  unsigned char chunk[4096 + kPreamble];
  size_t kept = 0;  // the end of the previous chunk, for a preamble across the border
  for (long at = from; at < size;) {
    const ssize_t n = pread(fd, chunk + kept, sizeof chunk - kept, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;  // cannot tell: the file is better left alone
    const size_t length = kept + static_cast<size_t>(n);
    if (memmem(chunk, length, rsecssfsDataPreamble, kPreamble) != nullptr) return true;
    kept = length < kPreamble ? length : kPreamble - 1;
    std::memmove(chunk, chunk + length - kept, kept);
    at += n;
  }
  return false;
}

RSEC_SSFS_RC cutIncompleteRecord(FILE* file, const rsecssfsLooperCallbackComm* comm) {
  struct stat status;
  const long size = fstat(fileno(file), &status) == 0 ? static_cast<long>(status.st_size) : comm->recordStart;
  if (size <= comm->recordStart || preambleIn(fileno(file), comm->recordStart + 1, size)) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   "Record at file position %lu of data file \"%s\" is incomplete, but another record follows "
                   "it; the file is damaged and is left as it is",
                   static_cast<unsigned long>(comm->recordStart), comm->put.pDataFile);
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  RSECSSFS_TRACE(
      RSECSSFS_TRC1,
      "Data file \"%s\" ends inside an incomplete record at file position %lu; cutting off its %lu bytes",
      comm->put.pDataFile, static_cast<unsigned long>(comm->recordStart),
      static_cast<unsigned long>(size - comm->recordStart));
  if (ftruncate(fileno(file), comm->recordStart) != 0) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR,
                   "Unable to cut the incomplete record at file position %lu off data file \"%s\"",
                   static_cast<unsigned long>(comm->recordStart), comm->put.pDataFile);
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  return RSEC_SSFS_RC_OK;
}

// The new record must be on disk before an older one is marked deleted, or a
// power loss could keep the mark and lose the record. Without older records
// of the key there is nothing to order, and the sync is saved.
RSEC_SSFS_RC appendRecord(FILE* file, long end, const unsigned char* record, size_t length, bool syncBeforeMarking) {
  const int fd = fileno(file);
  if (!rsecssfs_writeAt(fd, end, record, length) || (syncBeforeMarking && fdatasync(fd) != 0)) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "EOF at writing record data: %s", rsecssfs_fileErrorText(errno));
    // Leave no torn record behind; whatever fails here, the file is as before.
    if (ftruncate(fd, end) != 0)
      RSECSSFS_TRACE(RSECSSFS_TRC1, "Data file could not be cut back after the failed write");
    return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Data written to file::");
  RSECSSFS_HEXTRACE(record, length, 0);
  return RSEC_SSFS_RC_OK;
}

RSEC_SSFS_RC markNotedRecordsDeleted(FILE* file, rsecssfsLooperCallbackComm* comm) {
  static const unsigned char kDeleted = 1;
  for (size_t i = 0; i < comm->put.activeCount; ++i) {
    if (!rsecssfs_writeAt(fileno(file), comm->put.pActivePositions[i], &kDeleted, 1)) {
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "EOF when updating the deletion indicator: %s", rsecssfs_fileErrorText(errno));
      return RSEC_SSFS_RC_NO_WRITE_PERMISSION;
    }
    comm->put.recordMarkedDeleted = true;
  }
  return RSEC_SSFS_RC_OK;
}

// After the change: a file that is mostly deleted records, or on demand one
// with any deleted record at all, is written anew with the records that stay.
RSEC_SSFS_RC compactIfDue(FILE* file, rsecssfsLooperCallbackComm* comm, size_t appended) {
  rsecssfsKeptRecords& kept = comm->put.kept;
  const long size = comm->recordStart + static_cast<long>(appended);
  RSEC_SSFS_RC rc = appended > 0 ? rsecssfs_keepRecord(&kept, comm->recordStart, static_cast<long>(appended))
                                 : RSEC_SSFS_RC_OK;
  rsecssfsCompactionFigures* figures = comm->put.pFigures;
  const bool due = figures != nullptr ? size > kept.keptBytes : rsecssfs_compactionDue(size, kept.keptBytes);
  if (rc == RSEC_SSFS_RC_OK && due) {
    rc = rsecssfs_compactDataFile(fileno(file), comm->put.pConfig, &kept, figures != nullptr,
                                  &comm->put.supersededKept);
    // The change is made once its record is in the file; the next writer compacts.
    if (figures == nullptr) rc = RSEC_SSFS_RC_OK;
  }
  if (figures != nullptr) {
    figures->recordsBefore = kept.records;
    figures->activeRecords = kept.keptRecords;
    figures->sizeAfter = due && rc == RSEC_SSFS_RC_OK ? kept.keptBytes : size;
  }
  return rc;
}

RSEC_SSFS_RC finishAtEnd(FILE* file, rsecssfsLooperCallbackComm* comm) {
  unsigned char* record = nullptr;
  size_t length = 0;
  if (comm->put.pPayload != nullptr && !comm->put.pPayload->isRemoval) {
    const RSEC_SSFS_RC rc = buildRecord(comm, &record, &length);
    if (rc != RSEC_SSFS_RC_OK) return rc;
  }
  RSEC_SSFS_RC rc = comm->endsInsideRecord ? cutIncompleteRecord(file, comm) : RSEC_SSFS_RC_OK;
  if (rc == RSEC_SSFS_RC_OK && record != nullptr)
    rc = appendRecord(file, comm->recordStart, record, length, comm->put.activeCount > 0);
  if (record != nullptr) RSECSSFS_WIPE_AND_FREE(record, length);
  if (rc == RSEC_SSFS_RC_OK) rc = markNotedRecordsDeleted(file, comm);
  if (rc == RSEC_SSFS_RC_OK) rc = compactIfDue(file, comm, length);
  return rc;
}

// Nothing is written, truncated or created through a link, and a FIFO
// never blocks: anything but a regular data file fails the update.
FILE* openForUpdate(const char* dataFile, bool create) {
  FILE* file = rsecssfs_openRegularStream(dataFile, "r+b");
  if (file != nullptr || errno != ENOENT || !create) return file;
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Data file \"%s\" does not exist; creating new", dataFile);
  // Never truncates: the file may have appeared meanwhile.
  const int fd = rsecssfs_openRegularFile(dataFile, O_RDWR | O_CREAT, 0666);
  if (fd < 0) return nullptr;
  file = rsecssfs_giveToDirectoryOwner(fd, dataFile) ? fdopen(fd, "r+b") : nullptr;
  if (file == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_updateDataFile(const char* recordKey, const rsecssfsApplicationPayload* payload,
                                     rsecssfsCompactionFigures* figures, rsecssfsKeySource* keySource) {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  // What a compaction that died left behind; the data file is whole without it.
  unlink(rsecssfs_successorName(config->pDataFile).c_str());
  rsecssfs_releaseLeftSuperseded(config->pDataFile);
  FILE* file = openForUpdate(config->pDataFile, payload != nullptr);
  if (file == nullptr) {
    const bool none = payload == nullptr && errno == ENOENT;  // nothing to compact
    if (!none)
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Data file \"%s\" cannot be opened for update/write: %s", config->pDataFile,
                     rsecssfs_fileErrorText(errno));
    rsecssfs_releaseConfiguration(config, false);
    return none ? RSEC_SSFS_RC_OK : RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Data file \"%s\" opened for update", config->pDataFile);
  rsecssfsLooperCallbackComm comm = {};
  if (recordKey != nullptr) rsecssfs_makeRecordIdentifier(recordKey, comm.put.recordIdentifier);
  struct stat status;
  if (figures != nullptr) figures->sizeBefore = fstat(fileno(file), &status) == 0 ? status.st_size : 0;
  unsigned char key[kEncryptionKeySize];
  rc = rsecssfs_getKeyFromKeyfile(key, keySource);
  if (rc == RSEC_SSFS_RC_OK) {
    comm.endsAtIncompleteRecord = true;
    comm.put.pPayload = payload;
    comm.put.pEncryptionKey = key;
    comm.put.pConfig = config;
    comm.put.pDataFile = config->pDataFile;
    comm.put.pFigures = figures;
    rc = rsecssfs_genericLooper(file, &comm, rsecssfs_loopCallbackPutRecord);
  }
  if (rc == RSEC_SSFS_RC_OK && payload != nullptr && payload->isRemoval && !comm.put.recordMarkedDeleted) {
    RSECSSFS_TRACE(RSECSSFS_TRC2_RETURNED, "Record with key \"%s\" not found in secure storage", recordKey);
    rc = RSEC_SSFS_RC_RECORD_NOT_FOUND;
  }
  if (comm.put.pActivePositions != nullptr) RSECSSFS_FREE(comm.put.pActivePositions);
  rsecssfs_releaseKeptRecords(&comm.put.kept);
  secureWipe(key, sizeof key);
  std::fclose(file);
  if (comm.put.supersededKept) rsecssfs_releaseSuperseded(rsecssfs_supersededName(config->pDataFile));
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

namespace {

RSEC_SSFS_RC putRecord(MERO_RSecSSFsPutRecordAPI* api) {
  const char* recordKey = api->in_pKey;
  api->out_keySource = rsecssfsKeySource{};
  if (recordKey == nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Call record is incomplete: no record key given");
    return RSEC_SSFS_RC_RECORD_KEY_FORMAT;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC3, "Input data::\nKey      : %s\n", recordKey);
  RSEC_SSFS_RC rc = rsecssfs_checkRecordKeyLength(recordKey);
  if (rc != RSEC_SSFS_RC_OK) return rc;

  rsecssfsApplicationPayload payload = {};
  payload.isBinary = api->in_isBinary;
  payload.isPlaintext = api->in_storePlaintext;
  payload.isRemoval = api->in_isBinary ? api->in_pValueX == nullptr : api->in_pValue == nullptr;
  payload.pValueX = api->in_isBinary ? api->in_pValueX : nullptr;
  payload.length = api->in_isBinary ? api->in_pValueXLen : 0;
  payload.pValueC = api->in_isBinary ? nullptr : api->in_pValue;
  if (!payload.isRemoval) {
    rc = rsecssfs_checkRecordKeyFormat(recordKey);
    if (rc == RSEC_SSFS_RC_OK)
      rc = rsecssfs_checkValueLength(recordKey, payload.isBinary, payload.isPlaintext, payload.pValueC,
                                     payload.pValueX, payload.length);
    if (rc != RSEC_SSFS_RC_OK) return rc;
  }

  rc = rsecssfs_checkForExistingBackupFiles();
  if (rc != RSEC_SSFS_RC_OK) return rc;
  const rsecssfsSignalBlock signalsWait;
  rc = rsecssfs_lockSet();
  if (rc != RSEC_SSFS_RC_OK) return rc;
  rsecssfsKeySource source = RSECSSFS_KEYSOURCE_FILE;
  rc = rsecssfs_updateDataFile(recordKey, &payload, nullptr, &source);
  if (rc == RSEC_SSFS_RC_OK && !payload.isRemoval && !payload.isPlaintext) api->out_keySource = source;
  if (api->internalOpaque == nullptr || !api->internalOpaque->in_forgetLockRemoval) rsecssfs_lockRemove();
  return rc;
}

}  // namespace

void rsecssfs_loopCallbackPutRecord(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                    bool isEOF, rsecssfsLooperCallbackComm* comm, bool*, RSEC_SSFS_RC* pRc) {
  if (isEOF) {
    *pRc = finishAtEnd(file, comm);
    return;
  }
  ++comm->put.kept.records;
  if (pDataHeader->isDeleted == 1) return;
  const long length = static_cast<long>(kRecordOverhead + payloadLength);
  if (comm->put.pPayload != nullptr &&
      std::memcmp(pDataHeader->recordIdentifierA7, comm->put.recordIdentifier, kRecordIdentifierSize) == 0)
    *pRc = notePosition(comm, comm->recordStart + static_cast<long>(kRecordHeaderSize +
                                                                    offsetof(rsecssfsDataHeader, isDeleted)));
  else
    *pRc = rsecssfs_keepRecord(&comm->put.kept, comm->recordStart, length);
}

MERO_RSecSSFsPutRecordAPI* MERO_RSecSSFsPutRecordAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* opaque = static_cast<rsecssfsPutRecordOpaqueAPI*>(RSECSSFS_ALLOC(sizeof(rsecssfsPutRecordOpaqueAPI)));
  if (opaque == nullptr) return nullptr;
  auto* api = static_cast<MERO_RSecSSFsPutRecordAPI*>(RSECSSFS_ALLOC(sizeof(MERO_RSecSSFsPutRecordAPI)));
  if (api == nullptr) {
    RSECSSFS_FREE(opaque);
    return nullptr;
  }
  *opaque = rsecssfsPutRecordOpaqueAPI{false};
  *api = MERO_RSecSSFsPutRecordAPI{};
  api->internalOpaque = opaque;
  return api;
}

void MERO_RSecSSFsPutRecordAPIRelease(MERO_RSecSSFsPutRecordAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  if (api->internalOpaque != nullptr) RSECSSFS_FREE(api->internalOpaque);
  RSECSSFS_FREE(api);
}

void MERO_RSecSSFsPutRecord(MERO_RSecSSFsPutRecordAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsPutRecord");
  const RSEC_SSFS_RC rc = putRecord(api);
  rsecssfs_APIFunctionExit("RSecSSFsPutRecord", rc, &api->out_pProcessingInfo);
}
