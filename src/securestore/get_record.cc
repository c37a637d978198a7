#include "securestore/get_record.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/key_file.h"
#include "securestore/regular_file.h"
#include "securestore/record_checksum.h"
#include "securestore/store_files.h"

namespace {

constexpr int kReadAttempts = 5;
unsigned g_retryPauseMilliseconds = 600;

void releaseValue(MERO_RSecSSFsGetRecordAPI* api) {
  if (api->out_pValue != nullptr) RSECSSFS_WIPE_AND_FREE(api->out_pValue, std::strlen(api->out_pValue));
  if (api->out_pValueX != nullptr) RSECSSFS_WIPE_AND_FREE(api->out_pValueX, api->out_pValueXLen);
  api->out_pValue = nullptr;
  api->out_pValueX = nullptr;
  api->out_pValueXLen = 0;
  if (api->internalOpaque != nullptr && api->internalOpaque->out_pEnvironmentInfo != nullptr) {
    RSECSSFS_FREE(api->internalOpaque->out_pEnvironmentInfo);
    api->internalOpaque->out_pEnvironmentInfo = nullptr;
  }
}

// Hands the found value over to the call record.
RSEC_SSFS_RC deliver(MERO_RSecSSFsGetRecordAPI* api, rsecssfsLooperCallbackComm* comm) {
  auto* environment = static_cast<rsecssfsEnvironmentInfo*>(RSECSSFS_ALLOC(sizeof(rsecssfsEnvironmentInfo)));
  if (environment == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  *environment = comm->get.environmentInfo;
  rsecssfsApplicationPayload& value = comm->get.payload;
  api->out_isStoredAsPlaintext = value.isPlaintext;
  api->out_isBinary = value.isBinary;
  api->out_pValue = const_cast<char*>(value.pValueC);
  api->out_pValueX = const_cast<unsigned char*>(value.pValueX);
  api->out_pValueXLen = value.length;
  api->internalOpaque->out_pEnvironmentInfo = environment;
  api->internalOpaque->out_keySource = comm->get.keySource;
  value.pValueC = nullptr;
  value.pValueX = nullptr;
  return RSEC_SSFS_RC_OK;
}

// Only a missing data file means that there is no record. One that is there
// but cannot be opened (no permission, a link, a directory, a FIFO, no file
// descriptor left) fails the read: a caller that took it for "not found"
// would go on with defaults, and write them back. Retrying would not help,
// nor with a key file that cannot be read (it is replaced whole, by rename).
RSEC_SSFS_RC scanDataFile(MERO_RSecSSFsGetRecordAPI* api, const char* dataFile, bool* openFailed) {
  FILE* file = rsecssfs_openRegularStream(dataFile, "rb");
  if (file == nullptr && errno == ENOENT) {
    RSECSSFS_TRACE(RSECSSFS_TRC2_RETURNED, "Data file \"%s\" cannot be opened for read", dataFile);
    return RSEC_SSFS_RC_RECORD_NOT_FOUND;
  }
  if (file == nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Data file \"%s\" cannot be opened for read: %s", dataFile,
                   rsecssfs_fileErrorText(errno));
    *openFailed = true;
    return RSEC_SSFS_RC_FILE_CORRUPTION;
  }
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Data file \"%s\" opened for read", dataFile);
  rsecssfsLooperCallbackComm comm = {};
  rsecssfs_makeRecordIdentifier(api->in_pKey, comm.get.recordIdentifier);
  unsigned char key[kEncryptionKeySize];
  RSEC_SSFS_RC rc = rsecssfs_getKeyFromKeyfile(key);
  *openFailed = rc != RSEC_SSFS_RC_OK;
  if (rc == RSEC_SSFS_RC_OK) {
    comm.get.pEncryptionKey = key;
    comm.get.keySource = RSECSSFS_KEYSOURCE_DEFAULT;
    rc = rsecssfs_genericLooper(file, &comm, rsecssfs_loopCallbackGetRecord);
  }
  if (rc == RSEC_SSFS_RC_RECORD_NOT_FOUND)
    RSECSSFS_TRACE(RSECSSFS_TRC2_RETURNED, "Record with key \"%s\" not found in secure storage",
                   api->in_pKey);
  if (rc == RSEC_SSFS_RC_OK) rc = deliver(api, &comm);
  rsecssfs_releaseApplicationPayload(&comm.get.payload);
  secureWipe(key, sizeof key);
  std::fclose(file);
  return rc;
}

RSEC_SSFS_RC readAttempt(MERO_RSecSSFsGetRecordAPI* api, bool* openFailed) {
  releaseValue(api);
  rsecssfsConfiguration* config = nullptr;
  RSEC_SSFS_RC rc = rsecssfs_getConfiguration(&config);
  if (rc != RSEC_SSFS_RC_OK) return rc;
  rc = scanDataFile(api, config->pDataFile, openFailed);
  rsecssfs_releaseConfiguration(config, false);
  return rc;
}

}  // namespace

void rsecssfs_setRetryPauseMillisecondsForTesting(unsigned milliseconds) {
  g_retryPauseMilliseconds = milliseconds;
}

RSEC_SSFS_RC rsecssfs_readRecordValue(FILE* file, const rsecssfsDataHeader* header, size_t payloadLength,
                                      const unsigned char* key, rsecssfsApplicationPayload* value,
                                      rsecssfsKeySource* keySource) {
  *value = rsecssfsApplicationPayload{};
  auto* payload = static_cast<unsigned char*>(RSECSSFS_ALLOC(payloadLength + 1));
  if (payload == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
  RSEC_SSFS_RC rc = rsecssfs_readWholePayload(file, payload, payloadLength);
  if (rc == RSEC_SSFS_RC_OK) {
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Read data header::");
    RSECSSFS_HEXTRACE(header, sizeof *header, 0);
    RSECSSFS_TRACE(RSECSSFS_TRC3, "Read payload::");
    RSECSSFS_HEXTRACE(payload, payloadLength, 0);
    rc = rsecssfs_verifyRecordChecksum(header, payload, payloadLength);
  }
  if (rc == RSEC_SSFS_RC_OK)
    rc = rsecssfs_getPayloadApplicationDataFromRecordData(
        payloadLength, payload, header->recordIdentifierA7, header->isStoredAsPlaintext == 1,
        header->isBinaryData == 1, key, nullptr, nullptr, value, keySource);
  if (rc != RSEC_SSFS_RC_OK) rsecssfs_releaseApplicationPayload(value);
  RSECSSFS_WIPE_AND_FREE(payload, payloadLength + 1);
  return rc;
}

void rsecssfs_loopCallbackGetRecord(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                    bool isEOF, rsecssfsLooperCallbackComm* comm, bool* pExit,
                                    RSEC_SSFS_RC* pRc) {
  if (isEOF) {
    *pRc = RSEC_SSFS_RC_RECORD_NOT_FOUND;
    return;
  }
  if (pDataHeader->isDeleted == 1 ||
      std::memcmp(pDataHeader->recordIdentifierA7, comm->get.recordIdentifier, kRecordIdentifierSize) != 0)
    return;
  *pRc = rsecssfs_readRecordValue(file, pDataHeader, payloadLength, comm->get.pEncryptionKey,
                                  &comm->get.payload, &comm->get.keySource);
  if (*pRc != RSEC_SSFS_RC_OK) return;
  comm->get.environmentInfo = pDataHeader->environmentInfo;
  *pExit = true;
}

MERO_RSecSSFsGetRecordAPI* MERO_RSecSSFsGetRecordAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* opaque = static_cast<rsecssfsGetRecordOpaqueAPI*>(RSECSSFS_ALLOC(sizeof(rsecssfsGetRecordOpaqueAPI)));
  if (opaque == nullptr) return nullptr;
  auto* api = static_cast<MERO_RSecSSFsGetRecordAPI*>(RSECSSFS_ALLOC(sizeof(MERO_RSecSSFsGetRecordAPI)));
  if (api == nullptr) {
    RSECSSFS_FREE(opaque);
    return nullptr;
  }
  *opaque = rsecssfsGetRecordOpaqueAPI{false, nullptr, RSECSSFS_KEYSOURCE_DEFAULT};
  *api = MERO_RSecSSFsGetRecordAPI{};
  api->internalOpaque = opaque;
  return api;
}

void MERO_RSecSSFsGetRecordAPIRelease(MERO_RSecSSFsGetRecordAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  releaseValue(api);
  if (api->internalOpaque != nullptr) RSECSSFS_FREE(api->internalOpaque);
  RSECSSFS_FREE(api);
}

void MERO_RSecSSFsGetRecord(MERO_RSecSSFsGetRecordAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsGetRecord");
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_RECORD_KEY_FORMAT;
  if (api->in_pKey == nullptr || api->internalOpaque == nullptr) {
    RSECSSFS_TRACE(RSECSSFS_TRCERR, "Call record is incomplete: no record key given");
  } else {
    for (int failures = 0;;) {
      RSECSSFS_TRACE(RSECSSFS_TRC3, "Trying to read");
      bool openFailed = false;
      rc = readAttempt(api, &openFailed);
      RSECSSFS_TRACE(RSECSSFS_TRC3, "Read attempt gave RC = %d", static_cast<int>(rc));
      if (rc != RSEC_SSFS_RC_FILE_CORRUPTION || openFailed || api->internalOpaque->in_noRepeatForCorruptFile)
        break;
      if (++failures == kReadAttempts) {
        RSECSSFS_TRACE(RSECSSFS_TRC2, "Waited long enough; exiting without success");
        break;
      }
      RSECSSFS_TRACE(RSECSSFS_TRCERR, "Waiting cycle number %d for 600ms, then retrying", failures);
      usleep(g_retryPauseMilliseconds * 1000);
    }
  }
  rsecssfs_APIFunctionExit("RSecSSFsGetRecord", rc, &api->out_pProcessingInfo);
}
