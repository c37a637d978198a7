// A whole file mapped shared between processes (read-write, or read-only for
// a process that only looks), owned by one object and handed around through a reference-counted handle: the memory is
// unmapped when the last handle goes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace System {

class MemoryMapping {
 public:
  // Opens `path` read-write, as a regular file and not through a symbolic
  // link, and maps `length` bytes from offset 0, readable, writable and
  // shared. Throws ERR_SYS_MEMORYMAP_OPEN_ERR (name = path, and the system
  // error) when the file cannot be opened or mapped.
  MemoryMapping(const std::string& path, std::size_t length);
  // Maps `length` bytes of the file open as `descriptor`, which the mapping
  // then owns: readable and writable, or with `readOnly` only readable (the
  // descriptor may then be open for reading only). When mapping fails,
  // throws as above and leaves the descriptor to the caller; `path` names the
  // file in the message.
  MemoryMapping(const std::string& path, int descriptor, std::size_t length, bool readOnly = false);
  // Unmaps and closes. A failing unmap is not raised: there is nothing a
  // caller could do about it, and the address range is gone with the process.
  ~MemoryMapping();
  MemoryMapping(const MemoryMapping&) = delete;
  MemoryMapping& operator=(const MemoryMapping&) = delete;

  void* address() const noexcept { return m_address; }
  std::size_t length() const noexcept { return m_length; }
  // The descriptor the file was mapped through. It stays open for as long
  // as the mapping lives, so that the owner can take advisory locks on the
  // very file it has mapped (see flock(2)); it is closed on exec.
  int descriptor() const noexcept { return m_descriptor; }

 private:
  void map(const std::string& path, int protection);

  void* m_address;
  std::size_t m_length;
  int m_descriptor;
};

using MemoryMappingHandle = std::shared_ptr<MemoryMapping>;

}  // namespace System
