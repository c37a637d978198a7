// Conversion of the whole store, under the lock.
//
// The data file is copied to its backup (.DA_) and, when the key changes,
// the key file to its backup (.KE_). The new data file is then written from
// the data backup to a file beside the data file (<data file>.new): deleted
// records are dropped, every other record gets a fresh record header and
// checksum behind its unchanged data header. A readable encrypted value is
// encrypted again with the new key, or else with the current one (which
// migrates values that only the old key given by the caller opens); an
// encrypted value that no key opens is copied as it is. With a new key the
// new key file is written beside the key file (<key file>.new) next. Only
// when both are complete and on disk are they renamed over the data file and
// then the key file, and the directories synced: a reader finds the old data
// file or the new one, never a part of either. A .new file that a
// conversion which died left behind is removed by the next one.
//
// The backups exist exactly while the data or key file may differ from
// them: they are removed after complete success and after every failure
// before the renames, which change nothing. Only a failure between the two
// renames leaves them, and the backup check then refuses every update until
// a person has restored or removed them. Every backup is on disk before a
// new file is renamed over its original, and the new files are on disk
// before the backups go.
//
// A new key under which no encrypted record would be readable (there are
// such records, and none of them opened) is refused with RC -5: nothing is
// renamed, the store stays as it is.
#pragma once

#include <cstddef>
#include <cstdio>

#include "securestore/record_scanner.h"

// Writes the record just read from the data backup into comm->convert's
// file, as above, and counts it.
void rsecssfs_loopCallbackConvert(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                  bool isEOF, rsecssfsLooperCallbackComm* comm, bool* pExit,
                                  RSEC_SSFS_RC* pRc);
