#include "securestore/compaction.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "securestore/api_frame.h"
#include "securestore/checked_allocator.h"
#include "securestore/diagnostics.h"
#include "securestore/file_replacement.h"
#include "securestore/file_writes.h"
#include "securestore/lock_file.h"
#include "securestore/regular_file.h"
#include "securestore/put_record.h"
#include "securestore/signal_block.h"
#include "securestore/superseded_file.h"

namespace {

bool exists(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 || errno != ENOENT;
}

// Copies the bytes from `from` to `to` of the data file to the end of `out`.
bool copyRun(int fd, int out, long from, long to) {
  unsigned char chunk[64 * 1024];
  while (from < to) {
    const size_t want = to - from < static_cast<long>(sizeof chunk) ? static_cast<size_t>(to - from) : sizeof chunk;
    const ssize_t n = pread(fd, chunk, want, from);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !rsecssfs_writeAll(out, chunk, static_cast<size_t>(n))) {
      // A file shorter than its scan is never taken for all its records.
      if (n == 0) errno = EIO;
      return false;
    }
    from += n;
  }
  return true;
}

bool writeKept(int fd, int out, const rsecssfsKeptRecords* kept) {
  for (size_t i = 0; i < kept->runCount; ++i) {
    if (!copyRun(fd, out, kept->pRuns[2 * i], kept->pRuns[2 * i + 1])) return false;
  }
  return fdatasync(out) == 0;
}

RSEC_SSFS_RC compact(RSecSSFsCompactAPI* api) {
  rsecssfsCompactionFigures figures = {};
  RSEC_SSFS_RC rc = rsecssfs_checkForExistingBackupFiles();
  if (rc != RSEC_SSFS_RC_OK) return rc;
  {
    const rsecssfsSignalBlock signalsWait;
    rc = rsecssfs_lockSet();
    if (rc != RSEC_SSFS_RC_OK) return rc;
    rc = rsecssfs_updateDataFile(nullptr, nullptr, &figures);
    rsecssfs_lockRemove();
  }
  api->out_sizeBefore = figures.sizeBefore;
  api->out_sizeAfter = figures.sizeAfter;
  api->out_recordsBefore = figures.recordsBefore;
  api->out_activeRecords = figures.activeRecords;
  return rc;
}

}  // namespace

RSEC_SSFS_RC rsecssfs_keepRecord(rsecssfsKeptRecords* kept, long start, long length) {
  ++kept->keptRecords;
  kept->keptBytes += length;
  if (kept->runCount > 0 && kept->pRuns[2 * kept->runCount - 1] == start) {
    kept->pRuns[2 * kept->runCount - 1] = start + length;
    return RSEC_SSFS_RC_OK;
  }
  if (kept->runCount == kept->runCapacity) {
    const size_t capacity = kept->runCapacity == 0 ? 8 : 2 * kept->runCapacity;
    auto* grown = static_cast<long*>(RSECSSFS_ALLOC(2 * capacity * sizeof(long)));
    if (grown == nullptr) return RSEC_SSFS_RC_LOW_MEMORY;
    if (kept->runCount > 0) std::memcpy(grown, kept->pRuns, 2 * kept->runCount * sizeof(long));
    if (kept->pRuns != nullptr) RSECSSFS_FREE(kept->pRuns);
    kept->pRuns = grown;
    kept->runCapacity = capacity;
  }
  kept->pRuns[2 * kept->runCount] = start;
  kept->pRuns[2 * kept->runCount + 1] = start + length;
  ++kept->runCount;
  return RSEC_SSFS_RC_OK;
}

void rsecssfs_releaseKeptRecords(rsecssfsKeptRecords* kept) {
  if (kept->pRuns != nullptr) RSECSSFS_FREE(kept->pRuns);
  *kept = rsecssfsKeptRecords{};
}

bool rsecssfs_compactionDue(long size, long keptBytes) {
  return size > kCompactionMinimumFileSize && size > 4 * keptBytes;
}

RSEC_SSFS_RC rsecssfs_compactDataFile(int fd, const rsecssfsConfiguration* config, const rsecssfsKeptRecords* kept,
                                      bool onDemand, bool* superseded) {
  *superseded = false;
  // Updates check for backups before they take the lock; a conversion that
  // left them since then must find its data file as it was.
  if (exists(config->pDataFileBackup) || exists(config->pKeyFileBackup)) {
    RSECSSFS_TRACE(RSECSSFS_TRC1, "Conversion backups exist; the data file is not compacted");
    return RSEC_SSFS_RC_OK;
  }
  const std::string name = rsecssfs_successorName(config->pDataFile);
  bool made = false;
  const int out = rsecssfs_createSuccessor(name, config->pDataFile, &made);
  bool written = out >= 0 && writeKept(fd, out, kept);
  const int error = errno;
  if (out >= 0 && close(out) != 0) written = false;
  RSEC_SSFS_RC rc = RSEC_SSFS_RC_NO_WRITE_PERMISSION;
  if (!written) {
    RSECSSFS_TRACE(onDemand ? RSECSSFS_TRCERR : RSECSSFS_TRC1, "Data file \"%s\" cannot be compacted: %s",
                   config->pDataFile, rsecssfs_fileErrorText(error));
  } else {
    *superseded = rsecssfs_keepSuperseded(config->pDataFile, fd);
    rc = rsecssfs_replaceFile(name, config->pDataFile, false, &made);
  }
  if (made) unlink(name.c_str());
  if (rc != RSEC_SSFS_RC_OK && *superseded) {
    // Still a second name of the data file: dropping it frees nothing.
    unlink(rsecssfs_supersededName(config->pDataFile).c_str());
    *superseded = false;
  }
  if (rc == RSEC_SSFS_RC_OK)
    RSECSSFS_TRACE(RSECSSFS_TRC2, "Data file \"%s\" compacted to %lu bytes", config->pDataFile,
                   static_cast<unsigned long>(kept->keptBytes));
  return rc;
}

RSecSSFsCompactAPI* RSecSSFsCompactAPIGet() {
  rsecssfs_clearAllocatorFlags();
  auto* api = static_cast<RSecSSFsCompactAPI*>(RSECSSFS_ALLOC(sizeof(RSecSSFsCompactAPI)));
  if (api != nullptr) *api = RSecSSFsCompactAPI{};
  return api;
}

void RSecSSFsCompactAPIRelease(RSecSSFsCompactAPI* api) {
  if (api == nullptr) return;
  rsecssfs_ProcessingInfoFree(api->out_pProcessingInfo);
  RSECSSFS_FREE(api);
}

void RSecSSFsCompact(RSecSSFsCompactAPI* api) {
  if (api == nullptr) return;
  rsecssfs_APIFunctionEntry("RSecSSFsCompact");
  const RSEC_SSFS_RC rc = compact(api);
  rsecssfs_APIFunctionExit("RSecSSFsCompact", rc, &api->out_pProcessingInfo);
}
