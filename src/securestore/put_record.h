// Writing or deleting a record, under the lock.
//
// A replacement never leaves its key without a value: the scan only notes
// where the active records with the key are; at the end the new record is
// encoded and appended in one piece, and only then are the noted records
// marked deleted. A failure before or during the append leaves the old value
// in force; a crash between append and marking leaves two active records, of
// which readers take the first (the old value) and the next write of the key
// marks both. A deletion marks every active record with the key.
//
// The scan also notes the records that stay active; when its change leaves
// mostly deleted records, the writer compacts the file (compaction.h).
//
// A data file that ends inside a record (an append that was interrupted)
// is cut back to that record's start before anything is written, so that
// one torn write cannot block the store for good.
#pragma once

#include <cstddef>
#include <cstdio>

#include "securestore/record_scanner.h"

void rsecssfs_loopCallbackPutRecord(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                    bool isEOF, rsecssfsLooperCallbackComm* comm, bool* pExit,
                                    RSEC_SSFS_RC* pRc);

// The update of the data file under the lock: `payload` under `recordKey`,
// or, with both null, a compaction on demand that fills `figures`.
// `keySource`, when given, is set to the store's current key once it is read.
RSEC_SSFS_RC rsecssfs_updateDataFile(const char* recordKey, const rsecssfsApplicationPayload* payload,
                                     rsecssfsCompactionFigures* figures, rsecssfsKeySource* keySource = nullptr);
