// The record scanner on which every operation rests: it walks the data file
// record by record from the current position, checks each record header and
// hands the data header to an operation's callback, which may read its own
// record's payload and nothing beyond; the scanner repositions after it.
#pragma once

#include <cstddef>
#include <cstdio>

#include "securestore/compaction.h"
#include "securestore/payload_codec.h"
#include "securestore/record_format.h"
#include "securestore/rsecssfs.h"

// State of the operation that scans, and what the scanner tells it.
struct rsecssfsLooperCallbackComm {
  // Set by the scanner before each callback: where the record begins, or
  // where the end of the file was met; and, at the end, whether bytes of a
  // broken-off record follow from there.
  long recordStart;
  bool endsInsideRecord;

  // Set by a writer that holds the lock: a record broken off at the end of
  // the file (an interrupted append) counts as the end of the file instead of
  // as corruption, so that the writer can cut it off; the writer first makes
  // sure that no record preamble follows it (a damaged length field would
  // otherwise cost every later record).
  bool endsAtIncompleteRecord;

  struct {
    unsigned char recordIdentifier[kRecordIdentifierSize];
    const unsigned char* pEncryptionKey;
    rsecssfsApplicationPayload payload;
    rsecssfsEnvironmentInfo environmentInfo;
    rsecssfsKeySource keySource;
  } get;

  struct {
    unsigned char recordIdentifier[kRecordIdentifierSize];
    const rsecssfsApplicationPayload* pPayload;  // null: a compaction on demand
    const unsigned char* pEncryptionKey;
    const rsecssfsConfiguration* pConfig;
    const char* pDataFile;
    bool recordMarkedDeleted;
    long* pActivePositions;  // isDeleted bytes of the active records with the identifier
    size_t activeCount;
    size_t activeCapacity;
    rsecssfsKeptRecords kept;             // the active records of other keys
    rsecssfsCompactionFigures* pFigures;  // of a compaction on demand, else null
    bool supersededKept;                  // the replaced file awaits release
  } put;

  struct {
    RSecSSFsListRecordsAPI* api;
    bool countOnly;
    size_t linesAvailable;
    size_t linesMissing;  // active records beyond the lines of the first pass
  } list;

  struct {
    FILE* pTempFile;  // the data file being written anew
    const unsigned char* pOldKey;
    const unsigned char* pCurrentKey;
    const unsigned char* pNewKey;
    int* pNumberRecordsPlain;
    int* pNumberRecordsSecureReadable;
    int* pNumberRecordsSecureNotReadable;
  } convert;
};

// Reads up to `length` bytes of the payload of the record that the scan of
// `file` has just handed to a callback; callbacks read payloads only this
// way. Returns the bytes read (fewer when the file ends).
size_t rsecssfs_readPayload(FILE* file, unsigned char* target, size_t length);
// Reads the whole payload; a payload the file cuts short is file corruption
// (RC -6, traced at level 0).
RSEC_SSFS_RC rsecssfs_readWholePayload(FILE* file, unsigned char* payload, size_t length);

// Gets the data header just read (null at the end of the file), the payload
// length, the end-of-file flag and the state; sets *pExit to stop the scan
// and *pRc (0 on entry) to its result.
typedef void (*rsecssfsLooperCallback)(FILE* file, const rsecssfsDataHeader* pDataHeader,
                                       size_t payloadLength, bool isEOF, rsecssfsLooperCallbackComm* comm,
                                       bool* pExit, RSEC_SSFS_RC* pRc);

// Fewer than 24 bytes left count as the end of the file, where the callback
// is called once more. A bad preamble, record length (outside 176..98640) or
// record type, a data header that breaks off, or a read that fails (which is
// no end of the file), ends the scan with RC -6.
// Returns the code the last callback left.
RSEC_SSFS_RC rsecssfs_genericLooper(FILE* file, rsecssfsLooperCallbackComm* comm,
                                    rsecssfsLooperCallback callback);
