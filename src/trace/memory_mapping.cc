#include "trace/memory_mapping.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "securestore/regular_file.h"

namespace System {
namespace {

[[noreturn]] void throwOpenError(const std::string& path, int rc) {
  ltt::tThrow(ltt::exception(__FILE__, __LINE__, System__ERR_SYS_MEMORYMAP_OPEN_ERR())
              << ltt::msgarg_text("name", path.c_str()) << ltt::msgarg_sysrc(rc));
}

}  // namespace

MemoryMapping::MemoryMapping(const std::string& path, std::size_t length)
    : m_address(nullptr), m_length(length), m_descriptor(-1) {
  m_descriptor = rsecssfs_openRegularFile(path.c_str(), O_RDWR);
  if (m_descriptor < 0) throwOpenError(path, errno);
  try {
    map(path, PROT_READ | PROT_WRITE);
  } catch (...) {
    ::close(m_descriptor);
    throw;
  }
}

MemoryMapping::MemoryMapping(const std::string& path, int descriptor, std::size_t length, bool readOnly)
    : m_address(nullptr), m_length(length), m_descriptor(descriptor) {
  map(path, readOnly ? PROT_READ : PROT_READ | PROT_WRITE);
}

void MemoryMapping::map(const std::string& path, int protection) {
  void* address = ::mmap(nullptr, m_length, protection, MAP_SHARED, m_descriptor, 0);
  if (address == MAP_FAILED) throwOpenError(path, errno);
  m_address = address;
}

MemoryMapping::~MemoryMapping() {
  (void)::munmap(m_address, m_length);
  ::close(m_descriptor);
}

}  // namespace System
