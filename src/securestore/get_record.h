// Reading a record. A reader takes no lock: when it meets a record that a
// writer is still appending (RC -6), it tries again, up to five attempts with
// pauses of 600 ms.
#pragma once

#include <cstddef>
#include <cstdio>

#include "securestore/payload_codec.h"
#include "securestore/record_scanner.h"

// For the record whose data header was just read: reads its payload, checks
// the record checksum and decodes the value with `key`. *keySource is left
// alone for a plaintext record.
RSEC_SSFS_RC rsecssfs_readRecordValue(FILE* file, const rsecssfsDataHeader* header, size_t payloadLength,
                                      const unsigned char* key, rsecssfsApplicationPayload* value,
                                      rsecssfsKeySource* keySource);

// Stops at the first active record with the identifier; RC 1 at the end.
void rsecssfs_loopCallbackGetRecord(FILE* file, const rsecssfsDataHeader* pDataHeader, size_t payloadLength,
                                    bool isEOF, rsecssfsLooperCallbackComm* comm, bool* pExit,
                                    RSEC_SSFS_RC* pRc);

// Test seam: the pause between two read attempts (600 ms).
void rsecssfs_setRetryPauseMillisecondsForTesting(unsigned milliseconds);
