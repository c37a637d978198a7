// Forced removal of the lock, for a person who knows that the update that
// left it behind is gone. A lock file with bad length or content is left
// alone, since it cannot be told whose it is.
#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/lock_file.h"
#include "securestore/signal_block.h"

RSecSSFsRemoveLockAPI* RSecSSFsRemoveLockAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* api = static_cast<RSecSSFsRemoveLockAPI*>(RSECSSFS_ALLOC(sizeof(RSecSSFsRemoveLockAPI)));
  if (api != nullptr) api->out_pProcessingInfo = nullptr;
  return api;
}

void RSecSSFsRemoveLockAPIRelease(RSecSSFsRemoveLockAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  RSECSSFS_FREE(api);
}

void RSecSSFsRemoveLock(RSecSSFsRemoveLockAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsRemoveLock");
  const rsecssfsSignalBlock signalsWait;
  RSEC_SSFS_RC rc = rsecssfs_lockSet();
  if (rc == RSEC_SSFS_RC_OK) {
    RSECSSFS_TRACE(
        RSECSSFS_TRCERR,
        "The secure storage is currently not locked, therefore the operation for forced removal of the "
        "lock has no effect");
    rsecssfs_lockRemove();
    rc = RSEC_SSFS_RC_VAULTADM_USAGE;
  } else if (rc == RSEC_SSFS_RC_CONCURRENT_UPDATE) {
    rc = rsecssfs_lockRemove();
  }
  rsecssfs_APIFunctionExit("RSecSSFsRemoveLock", rc, &api->out_pProcessingInfo);
}
