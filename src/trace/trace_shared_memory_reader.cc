// A client process's side of the trace shared-memory file: it finds its own
// part, reads the flags addressed to it and acknowledges the update count
// of the settings it has taken up. A client never claims a part.
#include "trace/trace_shared_memory.h"

namespace NEBRIX {
namespace {

// The id of the calling process, asked every time: only the slow path wants
// it, and a cached id would go on answering for the parent in the child of a
// fork, also one made without atfork handlers (_Fork).
System::ProcessID ownProcessID() { return System::ProcessInformation::getProcessID(); }

}  // namespace

TraceSharedMemory::Part* TraceSharedMemory::getOwnPart() {
  // The cached part is checked because a forked child inherits the cache of
  // its parent's object.
  const ProcessID pid = ownProcessID();
  if (m_ownpart != nullptr && partProcessID(*m_ownpart) == pid) return m_ownpart;
  m_ownpart = findPart(getAllParts(), pid);
  return m_ownpart;
}

bool TraceSharedMemory::isMyReadCountLower() const {
  return m_header != nullptr && m_readCount != loadWord(m_header->updateCount);
}

void TraceSharedMemory::updateMyReadCount() {
  if (m_header == nullptr || m_readonly) return;
  updateMyReadCount(loadWord(m_header->updateCount));
}

void TraceSharedMemory::updateMyReadCount(std::int32_t count) {
  if (m_header == nullptr || m_readonly) return;
  m_readCount = count;
  if (Part* part = getOwnPart()) storeWord(part->readCount, m_readCount);
}

const char* TraceSharedMemory::getMyFlags() {
  if (m_header == nullptr || m_readonly) return nullptr;
  Part* part = getOwnPart();
  if (part == nullptr) return nullptr;
  part->flags[MAX_FLAGS_LENGTH] = '\0';
  return part->flags;
}

}  // namespace NEBRIX
