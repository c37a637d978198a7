#include "securestore/api_frame.h"

#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/store_files.h"

namespace {

char g_lowMemoryText[] =
    "A low-memory situation has occurred, therefore no call-specific error text is available; "
    "information about the incident are recorded in the developer trace";
RSecProcessingInfo g_lowMemoryResult = {RSEC_SSFS_RC_LOW_MEMORY, g_lowMemoryText};

RSecProcessingInfo* buildResult(RSEC_SSFS_RC rc) {
  if (rsecssfs_isLowMemory()) return nullptr;
  auto* result = static_cast<RSecProcessingInfo*>(RSECSSFS_ALLOC(sizeof(RSecProcessingInfo)));
  if (result == nullptr) return nullptr;
  result->rc = rc;
  result->pErrorText = nullptr;
  if (rsecssfs_errorText() != nullptr) {
    result->pErrorText = RSECSSFS_STRDUP(rsecssfs_errorText());
    if (result->pErrorText == nullptr) {
      RSECSSFS_FREE(result);
      return nullptr;
    }
  }
  return result;
}

}  // namespace

RSecProcessingInfo* rsecssfs_lowMemoryProcessingInfo() { return &g_lowMemoryResult; }

void rsecssfs_ProcessingInfoFree(RSecProcessingInfo* processingInfo) {
  if (processingInfo == nullptr || processingInfo == &g_lowMemoryResult) return;
  if (processingInfo->pErrorText != nullptr) RSECSSFS_FREE(processingInfo->pErrorText);
  RSECSSFS_FREE(processingInfo);
}

void rsecssfs_APIFunctionEntry(const char* functionName) {
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Entering function \"%s\"", functionName);
  rsecssfs_fillConfigurationCache();
}

void rsecssfs_APIFunctionExit(const char* functionName, RSEC_SSFS_RC rc,
                              RSecProcessingInfo** ppProcessingInfo) {
  RSecProcessingInfo* result = buildResult(rc);
  if (result == nullptr) result = &g_lowMemoryResult;
  rsecssfs_discardErrorText();
  rsecssfs_ProcessingInfoFree(*ppProcessingInfo);  // the result of an earlier call on the same record
  *ppProcessingInfo = result;
  RSECSSFS_TRACE(RSECSSFS_TRC2, "Exiting function \"%s\" with return code %d (message: %s)", functionName,
                 static_cast<int>(rc),
                 result->pErrorText != nullptr ? result->pErrorText : "<No message available>");
  rsecssfs_emptyConfigurationCache();
}
