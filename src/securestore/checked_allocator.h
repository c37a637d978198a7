// The store's allocator. Every block carries one guard byte after its end:
// "X" for a block counted in characters, 0xFA for one counted in bytes. With
// checking active, each live block has a bookkeeping record, so that frees of
// unknown blocks, double frees, overwritten guards and leaks are noticed.
//
// Low-memory mode: once the system refuses an allocation, every further
// allocation fails at once (and the trace drops its messages) until the next
// call record is requested; the call then ends with the static low-memory
// result.
#pragma once

#include <cstddef>

struct rsecssfs_memory {
  void* pPointer;
  bool isU;      // the size is counted in characters
  size_t sizeR;  // bytes
  size_t sizeU;  // characters
  const char* pFile;
  int line;
  rsecssfs_memory* pNext;
};

// A block of sizeR bytes, or null (also at once in low-memory mode).
void* rsecssfs_alloc(bool isU, size_t sizeR, size_t sizeU, const char* file, int line);
void rsecssfs_free(void* pointer, const char* file, int line);

// Empties the bookkeeping list (freeing no block), clears the error and
// low-memory flags and switches checking on or off.
void rsecssfs_activateMemoryCheck(bool activate);
// Counts every block still in the bookkeeping list as a leak, empties the
// list and returns whether any error was recorded.
bool rsecssfs_checkMemoryState();

bool rsecssfs_isLowMemory();
// What every Get function of a call record does first.
void rsecssfs_clearAllocatorFlags();

// Overwrites `length` bytes with zeros, then frees; for keys and values. A
// null pointer is ignored.
void rsecssfs_wipeAndFree(void* pointer, size_t length, const char* file, int line);
// A copy of a NUL-terminated text, or null.
char* rsecssfs_strdup(const char* text, const char* file, int line);

// Test seam: the n-th allocation from now (1 = the next) is refused as if by
// the system; 0 switches this off.
void rsecssfs_failAllocationForTesting(unsigned n);

#define RSECSSFS_ALLOC(size) rsecssfs_alloc(false, (size), (size), __FILE__, __LINE__)
#define RSECSSFS_ALLOC_CHARS(count) rsecssfs_alloc(true, (count), (count), __FILE__, __LINE__)
#define RSECSSFS_FREE(pointer) rsecssfs_free((pointer), __FILE__, __LINE__)
#define RSECSSFS_WIPE_AND_FREE(pointer, length) rsecssfs_wipeAndFree((pointer), (length), __FILE__, __LINE__)
#define RSECSSFS_STRDUP(text) rsecssfs_strdup((text), __FILE__, __LINE__)
