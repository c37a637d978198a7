// Listing the records: one pass counts active and deleted records, a second
// one fills a line per active record, with a status found by reading that
// record as GetRecord would. No lock is taken and nothing is retried; should
// the file grow between the passes, the second pass fills no more lines than
// the first one counted. Only a missing data file is an empty list; one that
// is there but cannot be opened or read fails the call (RC -6).
#include <cerrno>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "securestore/api_frame.h"
#include "securestore/byte_fields.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/get_record.h"
#include "securestore/key_file.h"
#include "securestore/regular_file.h"
#include "securestore/record_scanner.h"
#include "securestore/store_files.h"

namespace {

RSecSSFsListRecordStatus statusOf(RSEC_SSFS_RC rc, const rsecssfsDataHeader* header) {
  if (rc == RSEC_SSFS_RC_INCORRECT_KEY) return RSEC_SSFS_RECORD_STATUS_WRONG_KEY;
  if (rc != RSEC_SSFS_RC_OK) return RSEC_SSFS_RECORD_STATUS_ERROR;
  const bool plain = header->isStoredAsPlaintext == 1;
  if (header->isBinaryData == 1)
    return plain ? RSEC_SSFS_RECORD_STATUS_OK_BINARY_PLAIN : RSEC_SSFS_RECORD_STATUS_OK_BINARY_ENCRYPTED;
  return plain ? RSEC_SSFS_RECORD_STATUS_OK_TEXT_PLAIN : RSEC_SSFS_RECORD_STATUS_OK_TEXT_ENCRYPTED;
}

// Fills the next line; the current key is read again for every record.
RSEC_SSFS_RC fillLine(FILE* file, const rsecssfsDataHeader* header, size_t payloadLength,
                      RSecSSFsListRecordLine* line) {
  char key[kRecordIdentifierSize + 1];
  rsecssfs_identifierText(header->recordIdentifierA7, key);
  line->pKey = RSECSSFS_STRDUP(key);
  if (line->pKey == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  line->lastUpdated = static_cast<int64_t>(DecodeFixed64BE(header->environmentInfo.timestampBytes));
  line->status = RSEC_SSFS_RECORD_STATUS_ERROR;

  unsigned char encryptionKey[kEncryptionKeySize];
  RSEC_SSFS_RC rc = rsecssfs_getKeyFromKeyfile(encryptionKey);
  if (rc == RSEC_SSFS_RC_OK) {
    rsecssfsApplicationPayload value;
    rsecssfsKeySource source = RSECSSFS_KEYSOURCE_DEFAULT;
    const RSEC_SSFS_RC readRc =
        rsecssfs_readRecordValue(file, header, payloadLength, encryptionKey, &value, &source);
    rsecssfs_releaseApplicationPayload(&value);
    line->status = statusOf(readRc, header);
    if (readRc == RSEC_SSFS_RC_LOW_MEMORY) rc = readRc;
  }
  secureWipe(encryptionKey, sizeof encryptionKey);
  return rc;
}

void loopCallbackList(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength, bool isEOF,
                      rsecssfsLooperCallbackComm* comm, bool*, RSEC_SSFS_RC* pRc) {
  if (isEOF) return;
  RSecSSFsListRecordsAPI* api = comm->list.api;
  if (pDataHeader->isDeleted == 1) {
    ++api->out_numberDeletedRecords;
  } else if (comm->list.countOnly) {
    ++api->out_numberActiveRecords;
  } else if (api->out_numberActiveRecords == comm->list.linesAvailable) {
    ++comm->list.linesMissing;
  } else {
    RSecSSFsListRecordLine* line = &api->out_pRecords[api->out_numberActiveRecords];
    *pRc = fillLine(file, pDataHeader, payloadLength, line);
    if (line->pKey != nullptr) ++api->out_numberActiveRecords;
  }
}

RSEC_SSFS_RC scanTwice(RSecSSFsListRecordsAPI* api, FILE* file, const char* dataFile) {
  rsecssfsLooperCallbackComm comm = {};
  comm.list.api = api;
  comm.list.countOnly = true;
  RSEC_SSFS_RC rc = rsecssfs_genericLooper(file, &comm, loopCallbackList);
  if (rc != RSEC_SSFS_RC_OK) {  // no lines: no counts that would promise some
    api->out_numberActiveRecords = api->out_numberDeletedRecords = 0;
    return rc;
  }

  const size_t lines = api->out_numberActiveRecords;
  api->out_pRecords =
      static_cast<RSecSSFsListRecordLine*>(RSECSSFS_ALLOC((lines + 1) * sizeof(RSecSSFsListRecordLine)));
  if (api->out_pRecords == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  std::memset(api->out_pRecords, 0, (lines + 1) * sizeof(RSecSSFsListRecordLine));
  comm.list.countOnly = false;
  comm.list.linesAvailable = lines;
  api->out_numberActiveRecords = 0;
  api->out_numberDeletedRecords = 0;
  std::rewind(file);
  rc = rsecssfs_genericLooper(file, &comm, loopCallbackList);
  if (comm.list.linesMissing > 0)
    RSECSSFS_TRACE(RSECSSFS_TRC1,
                   "Data file \"%s\" grew during the listing; %lu active records are not listed", dataFile,
                   static_cast<unsigned long>(comm.list.linesMissing));
  return rc;
}

RSEC_SSFS_RC listRecords(RSecSSFsListRecordsAPI* api) {
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  api->out_pDatafile = RSECSSFS_STRDUP(config->pDataFile);
  api->out_pKeyfile = RSECSSFS_STRDUP(config->pKeyFile);
  FILE* file = nullptr;
  // Which key is in use is part of the listing, with or without records.
  unsigned char key[kEncryptionKeySize];
  rc = rsecssfs_getKeyFromKeyfile(key, &api->out_keySource);
  secureWipe(key, sizeof key);
  if (rc != RSEC_SSFS_RC_OK) {
    api->out_keySource = rsecssfsKeySource{};
  } else if (api->out_pDatafile == nullptr || api->out_pKeyfile == nullptr) {
    rc = RSEC_SSFS_RC_LOW_MEMORY;
  } else if ((file = rsecssfs_openRegularStream(config->pDataFile, "rb")) == nullptr && errno == ENOENT) {
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Data file \"%s\" not existing; returning empty list", config->pDataFile);
  } else if (file == nullptr) {  // an empty list would claim an empty store
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Data file \"%s\" cannot be opened for read: %s", config->pDataFile,
                   rsecssfs_fileErrorText(errno));
    rc = RSEC_SSFS_RC_FILE_CORRUPTION;
  } else {
    rc = scanTwice(api, file, config->pDataFile);
    std::fclose(file);
  }
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

void releaseResults(RSecSSFsListRecordsAPI* api) {
  if (api->out_pRecords != nullptr) {
    for (size_t i = 0; i < api->out_numberActiveRecords; ++i)
      if (api->out_pRecords[i].pKey != nullptr) RSECSSFS_FREE(api->out_pRecords[i].pKey);
    RSECSSFS_FREE(api->out_pRecords);
  }
  if (api->out_pDatafile != nullptr) RSECSSFS_FREE(api->out_pDatafile);
  if (api->out_pKeyfile != nullptr) RSECSSFS_FREE(api->out_pKeyfile);
  api->out_pRecords = nullptr;
  api->out_pDatafile = api->out_pKeyfile = nullptr;
  api->out_numberActiveRecords = api->out_numberDeletedRecords = 0;
  api->out_keySource = rsecssfsKeySource{};
}

}  // namespace

RSecSSFsListRecordsAPI* RSecSSFsListRecordsAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* api = static_cast<RSecSSFsListRecordsAPI*>(RSECSSFS_ALLOC(sizeof(RSecSSFsListRecordsAPI)));
  if (api != nullptr) *api = RSecSSFsListRecordsAPI{};
  return api;
}

void RSecSSFsListRecordsAPIRelease(RSecSSFsListRecordsAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  releaseResults(api);
  RSECSSFS_FREE(api);
}

void RSecSSFsListRecords(RSecSSFsListRecordsAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsListRecords");
  releaseResults(api);
  const RSEC_SSFS_RC rc = listRecords(api);
  rsecssfs_APIFunctionExit("RSecSSFsListRecords", rc, &api->out_pProcessingInfo);
}
