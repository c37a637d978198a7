// The lock file exists exactly while an update of the store runs; it keeps
// writers apart, also across processes. Readers take no lock. 70 bytes:
//   offset  size
//        0    12  preamble "RSecSSFsLock"
//       12     1  lockFileType: 1
//       13     1  lockType: 1 for update (0 would mean read)
//       14     8  time the lock was taken, big-endian seconds
//       22    24  user holding it, blank-padded
//       46    24  host from which it was taken, blank-padded
// Taking the lock creates the file exclusively. A writer that finds it
// reports who holds it and gives up at once; a lock is never taken over
// automatically (a person removes a stale one with RSecSSFsRemoveLock).
#pragma once

#include "securestore/rsecssfs.h"

constexpr char rsecssfsLockPreamble[] = "RSecSSFsLock";

struct rsecssfsLockfileRecord {
  char preamble[12];
  unsigned char lockFileType;
  unsigned char lockType;
  rsecssfsEnvironmentInfo environmentInfo;
};
static_assert(sizeof(rsecssfsLockfileRecord) == 70, "lock file layout");

// 0 when this call now holds the lock; 3 when someone else holds it (with a
// message naming lock type, user, host and time); -6 for a lock file of
// unexpected length or content; -3 when it cannot be created or written, or
// when a link, a directory or a FIFO stands under its name.
RSEC_SSFS_RC rsecssfs_lockSet();

// Deletes the lock file; -3 with a message when that fails.
RSEC_SSFS_RC rsecssfs_lockRemove();
