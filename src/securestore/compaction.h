// Compaction of the data file: dropping the deleted records.
//
// Every change of a record appends a record and marks the earlier one
// deleted, so the data file only grows. A writer that holds the lock
// therefore notes, during the scan that every update makes anyway, which
// records stay active, as runs of adjacent records. Once its own change is
// in the file, it compacts the file when the deleted records make up more
// than three quarters of a data file above 64 KiB: the active records are
// copied byte for byte (headers, time stamps, users, hosts, flags, payloads
// and checksums as they are; nothing depends on a record's position in the
// file) to a new file beside the data file, which is synced, renamed over
// the data file, and the directory synced. A reader that has the old file
// open reads it to its end unchanged; a reader that opens the data file
// afterwards gets the new one; nobody ever sees a part of it. A file left by
// a writer that died meanwhile is removed by the next writer; until then the
// old data file is in force with all its records.
//
// So a store holds at most four times its active records' bytes, or 64 KiB,
// and each compaction copies only what is active. No compaction runs while
// conversion backups exist; a compaction that fails leaves the data file as
// it was, and a change that caused it stays made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "securestore/rsecssfs.h"
#include "securestore/store_files.h"

constexpr long kCompactionMinimumFileSize = 64 * 1024;

// What the writer's scan found: the runs of records that stay, and counts.
struct rsecssfsKeptRecords {
  long* pRuns;  // start and end of each run of adjacent records that stay
  size_t runCount;
  size_t runCapacity;
  size_t records;  // every whole record in the file
  size_t keptRecords;
  long keptBytes;
};

// What a compaction on demand found and left.
struct rsecssfsCompactionFigures {
  int64_t sizeBefore;
  int64_t sizeAfter;
  size_t recordsBefore;
  size_t activeRecords;
};

// Notes that the record of `length` bytes at `start` stays; -9 when the
// list cannot grow.
RSEC_SSFS_RC rsecssfs_keepRecord(rsecssfsKeptRecords* kept, long start, long length);
void rsecssfs_releaseKeptRecords(rsecssfsKeptRecords* kept);

// Whether a data file of `size` bytes, of which the records that stay take
// `keptBytes`, is due: above 64 KiB, and more than three quarters deleted.
bool rsecssfs_compactionDue(long size, long keptBytes);

// Replaces the data file, open as `fd`, by a file of its kept records, as
// above. Without a change (conversion backups exist) 0. Failures are traced
// as errors when `onDemand`, else at level 1, and return -3. *superseded is
// set when the replaced file kept a second name, which the caller releases
// (superseded_file.h) once it has closed `fd`.
RSEC_SSFS_RC rsecssfs_compactDataFile(int fd, const rsecssfsConfiguration* config, const rsecssfsKeptRecords* kept,
                                      bool onDemand, bool* superseded);
