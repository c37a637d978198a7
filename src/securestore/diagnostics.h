// The store's trace and the error text of the call in progress.
//
// A message is formatted with printf rules; the format gets the end mark
// "##SSFS_ENDMARK##" appended, and the buffer (1024 bytes at first) grows by
// 1024 bytes until the end mark fits, so messages of any length stay whole.
// Levels 1 to 3 go to the trace callback only. Level 0 (and every level that
// is not 1, 2, 3 or -2) and level -2 (shown as 2) also become part of the
// call's error text: the newest message first, then " <-- " and the older
// text; a message that the text already begins with is not added again.
//
// While the allocator is in low-memory mode every message is dropped.
#pragma once

#include <cstddef>

#include "securestore/rsecssfs.h"

// The source location reported with the next messages; set by the macros.
void rsecssfs_setTraceLocation(const char* file, int line);

void rsecssfs_trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Traces `length` bytes at level 3, 16 per line, as "    <offset> <hex> <text>",
// only when a callback receives level 3. The variable part is `numberMasks`
// pairs of byte pointers (first masked byte, first byte after the range);
// masked bytes show as "**" and "*".
void rsecssfs_hextrace(const void* start, size_t length, int numberMasks, ...);

// The error text collected so far in this call, or null.
const char* rsecssfs_errorText();
// Frees the error text; the next call starts without one.
void rsecssfs_discardErrorText();

#define RSECSSFS_TRACE(level, ...) \
  (rsecssfs_setTraceLocation(__FILE__, __LINE__), rsecssfs_trace((level), __VA_ARGS__))
#define RSECSSFS_HEXTRACE(...) (rsecssfs_setTraceLocation(__FILE__, __LINE__), rsecssfs_hextrace(__VA_ARGS__))
