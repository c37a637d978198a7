// The console's side of the trace shared-memory file: it stores the flags of
// a process into that process's part, announces a change by moving the
// update count, hands out parts and takes over those of ended processes.
//
// Parts are claimed by writers: the first part whose processID is 0, or whose
// process has ended (a zombie has), gets the new id (compare-and-swap, so a
// part that changed hands in between is skipped). A reused part keeps its old
// flags until the writer overwrites them, and its old readCount unless that
// is ahead of updateCount (a counter that was reset, a hostile value): then
// it becomes updateCount, so that the new owner never seems to have read a
// change it has not read. Parts are never freed when their process exits;
// clearDeadParts frees them on request.
#include <cstring>

#include "trace/trace_shared_memory.h"

namespace NEBRIX {

TraceSharedMemory::Part* TraceSharedMemory::getPart(ProcessID pid, bool create) {
  Part* parts = getAllParts();
  if (parts == nullptr || pid == 0) return nullptr;
  if (Part* part = findPart(parts, pid)) return part;
  return create ? createPart(pid) : nullptr;
}

// A part is taken by swapping the id that was seen for the new one, so a
// part that someone else claimed after it was looked at is left to them.
TraceSharedMemory::Part* TraceSharedMemory::createPart(ProcessID pid) {
  Part* parts = getAllParts();
  if (parts == nullptr || pid == 0) return nullptr;
  for (int i = 0; i < NUM_PARTS; ++i) {
    std::int32_t seen = loadWord(parts[i].processID);
    if (seen != 0 && !System::isProcessDead(seen)) continue;
    if (!swapWord(parts[i].processID, seen, pid)) continue;
    // A read count ahead of the counter (it was reset, or someone wrote it)
    // would pass for the new owner's acknowledgement once the counter gets
    // there.
    const std::int32_t count = loadWord(m_header->updateCount);
    if (countsAhead(partReadCount(parts[i]), count) > 0) storeWord(parts[i].readCount, count);
    return &parts[i];
  }
  return nullptr;
}

bool TraceSharedMemory::setFlags(ProcessID pid, const char* flags) {
  if (m_header == nullptr || m_readonly || flags == nullptr) return false;
  const std::size_t length = ::strnlen(flags, MAX_FLAGS_LENGTH + 1);
  if (length > MAX_FLAGS_LENGTH) return false;
  Part* part = getPart(pid, true);
  if (part == nullptr) return false;
  std::memcpy(part->flags, flags, length + 1);
  return true;
}

bool TraceSharedMemory::getFlags(ProcessID pid, std::string& flags) {
  const Part* part = getPart(pid, false);
  if (part == nullptr) return false;
  flags = partFlags(*part);
  return true;
}

// The arithmetic is unsigned, so 2147483647 + 1 wraps to -2147483648 without
// signed overflow.
std::int32_t TraceSharedMemory::incUpdateCount() {
  if (m_header == nullptr || m_readonly) return 0;
  std::int32_t seen = loadWord(m_header->updateCount);
  std::int32_t next = 0;
  do {
    next = static_cast<std::int32_t>(static_cast<std::uint32_t>(seen) + 1u);
  } while (!swapWord(m_header->updateCount, seen, next));
  return next;
}

// Inside a LockedScope no other console claims the part while it is
// cleared; the id is swapped back last, so that a claim made without the
// lock at least keeps its new owner.
void TraceSharedMemory::clearDeadParts() {
  Part* parts = getAllParts();
  if (parts == nullptr || m_readonly) return;
  for (int i = 0; i < NUM_PARTS; ++i) {
    std::int32_t pid = loadWord(parts[i].processID);
    if (pid == 0 || !System::isProcessDead(pid)) continue;
    storeWord(parts[i].readCount, 0);
    parts[i].flags[0] = '\0';
    swapWord(parts[i].processID, pid, 0);
  }
}

}  // namespace NEBRIX
