// Conversion of the whole store, under the lock.
//
// The data file is copied to its backup (.DA_) and, when the key changes,
// the key file to its backup (.KE_); then the data file is written anew from
// the data backup: deleted records are dropped, every other record gets a
// fresh record header and checksum behind its unchanged data header. A
// readable encrypted value is encrypted again with the new key, or else with
// the current one (which migrates values that only the old key given by the
// caller opens); an encrypted value that no key opens is copied as it is.
// With a new key the key file is written last.
//
// The backups exist exactly while the data or key file may differ from
// them: they are removed after complete success, and also when a step fails
// before anything was changed. A failure in between leaves them, and the
// backup check then refuses every update until a person has restored or
// removed them. Every backup is on disk before its original is overwritten,
// and the new files are on disk before the backups go.
//
// A new key under which no encrypted record would be readable (there are
// such records, and none of them opened) is refused with RC -5: the key file
// stays as it is, and the rewritten data file holds exactly the records it
// held before, since nothing was re-encrypted.
#pragma once

#include <cstddef>
#include <cstdio>

#include "securestore/record_scanner.h"

// Writes the record just read from the data backup into comm->convert's
// file, as above, and counts it.
void rsecssfs_loopCallbackConvert(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                  bool isEOF, rsecssfsLooperCallbackComm* comm, bool* pExit,
                                  RSEC_SSFS_RC* pRc);
