#include "securestore/checked_allocator.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "crypto/secure_wipe.h"

namespace {

constexpr unsigned char kGuardChars = 'X';
constexpr unsigned char kGuardBytes = 0xFA;

rsecssfs_memory* g_head = nullptr;
bool g_checking = false;
bool g_error = false;
bool g_lowMemory = false;
unsigned g_failCountdown = 0;

bool systemRefuses() {
  if (g_failCountdown == 0) return false;
  return --g_failCountdown == 0;
}

}  // namespace

void* rsecssfs_alloc(bool isU, size_t sizeR, size_t sizeU, const char* file, int line) {
  if (g_lowMemory) return nullptr;
  unsigned char* block = nullptr;
  if (!systemRefuses() && sizeR < SIZE_MAX) block = static_cast<unsigned char*>(std::malloc(sizeR + 1));
  if (block == nullptr) {
    g_lowMemory = true;
    return nullptr;
  }
  block[sizeR] = isU ? kGuardChars : kGuardBytes;
  if (g_checking) {
    auto* record = static_cast<rsecssfs_memory*>(std::malloc(sizeof(rsecssfs_memory)));
    if (record == nullptr) {
      g_lowMemory = true;
      return block;
    }
    *record = rsecssfs_memory{block, isU, sizeR, sizeU, file, line, g_head};
    g_head = record;
  }
  return block;
}

void rsecssfs_free(void* pointer, const char*, int) {
  if (!g_checking) {
    std::free(pointer);
    return;
  }
  if (pointer == nullptr) {
    g_error = true;
    return;
  }
  rsecssfs_memory** link = &g_head;
  while (*link != nullptr && (*link)->pPointer != pointer) link = &(*link)->pNext;
  rsecssfs_memory* record = *link;
  if (record == nullptr) {  // unknown block, or freed twice: leave it alone
    g_error = true;
    return;
  }
  const unsigned char guard = record->isU ? kGuardChars : kGuardBytes;
  if (static_cast<unsigned char*>(pointer)[record->sizeR] != guard) g_error = true;
  *link = record->pNext;
  std::free(record);
  std::free(pointer);
}

void rsecssfs_activateMemoryCheck(bool activate) {
  while (g_head != nullptr) {
    rsecssfs_memory* next = g_head->pNext;
    std::free(g_head);
    g_head = next;
  }
  g_error = false;
  g_lowMemory = false;
  g_checking = activate;
}

bool rsecssfs_checkMemoryState() {
  while (g_head != nullptr) {
    rsecssfs_memory* next = g_head->pNext;
    std::free(g_head);
    g_head = next;
    g_error = true;
  }
  return g_error;
}

bool rsecssfs_isLowMemory() { return g_lowMemory; }

void rsecssfs_clearAllocatorFlags() {
  g_lowMemory = false;
  g_error = false;
}

void rsecssfs_wipeAndFree(void* pointer, size_t length, const char* file, int line) {
  if (pointer == nullptr) return;
  secureWipe(pointer, length);
  rsecssfs_free(pointer, file, line);
}

char* rsecssfs_strdup(const char* text, const char* file, int line) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(rsecssfs_alloc(true, length + 1, length + 1, file, line));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void rsecssfs_failAllocationForTesting(unsigned n) { g_failCountdown = n; }
