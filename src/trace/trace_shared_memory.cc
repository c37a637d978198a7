// Finding, creating, checking and mapping the trace shared-memory file, and
// the lock that keeps consoles from changing it at the same time. What is
// written into the mapped file and read from it is in
// trace_shared_memory_writer.cc and trace_shared_memory_reader.cc.
#include "trace/trace_shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "profile/file_lock.h"
#include "profile/user_profile.h"
#include "securestore/regular_file.h"

namespace NEBRIX {
namespace {

[[noreturn]] void throwCannotOpen(const std::string& path, int rc, const char* call) {
  ltt::exception ex(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE());
  ex << ltt::msgarg_text("file", path.c_str()) << ltt::msgarg_sysrc(rc);
  if (call != nullptr) ex << ltt::msgarg_text("call", call);
  ltt::tThrow(ex);
}

// A descriptor that is closed when it goes out of scope.
struct OpenFile {
  explicit OpenFile(int opened) : descriptor(opened) {}
  ~OpenFile() {
    if (descriptor >= 0) ::close(descriptor);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int release() {
    const int kept = descriptor;
    descriptor = -1;
    return kept;
  }
  int descriptor;
};

// Holds the file lock through a descriptor of its own while it lives; opening
// creates an empty file with mode 0600 if there is none. A file its owner may
// write but not read is locked through a write-only descriptor. When not even
// that can be opened, nothing is held, and the caller's next step reports why.
class FileGuard {
 public:
  explicit FileGuard(const std::string& path)
      : m_file(rsecssfs_openRegularFile(path.c_str(), O_RDONLY | O_CREAT, 0600)) {
    if (m_file.descriptor < 0 && errno == EACCES) {
      m_file.descriptor = rsecssfs_openRegularFile(path.c_str(), O_WRONLY);
    }
    if (m_file.descriptor >= 0) lockFile(m_file.descriptor, LOCK_EX);
  }

 private:
  OpenFile m_file;
};

}  // namespace

TraceSharedMemory::LockedScope::LockedScope(TraceSharedMemory& memory) : m_memory(&memory) {
  m_memory->m_spinlock.lock();
  // Best effort: flock on a local file only fails for lack of kernel memory;
  // the change is then still made, only not guarded against another
  // console's.
  if (m_memory->m_mappedmemory) lockFile(m_memory->m_mappedmemory->descriptor(), LOCK_EX);
}

TraceSharedMemory::LockedScope::~LockedScope() {
  if (m_memory->m_mappedmemory) lockFile(m_memory->m_mappedmemory->descriptor(), LOCK_UN);
  m_memory->m_spinlock.unlock();
}

TraceSharedMemory::TraceSharedMemory()
    : m_header(nullptr), m_ownpart(nullptr), m_readCount(0), m_profilepath_opened(false), m_readonly(false) {}

TraceSharedMemory::~TraceSharedMemory() { detach(); }

void TraceSharedMemory::attach(const char* component, const char* hostname) {
  locate(component, hostname);
  attachToCurrentPath();
}

void TraceSharedMemory::locate(const char* component, const char* hostname) {
  if (m_header != nullptr) {
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED()));
  }
  SecureStore::UserProfile::checkComponent(component);
  m_sharedmemorypath.clear();
  SecureStore::UserProfile::getUserProfilePath(m_sharedmemorypath, hostname ? hostname : "", false,
                                               false);
  m_sharedmemorypath += "/";
  m_sharedmemorypath += component;
  m_sharedmemorypath += ".shm";
}

// Whoever only looks changes nothing: not even a header that is not
// initialised, nor a file of the wrong size that a change would replace.
void TraceSharedMemory::attachForReading(const char* component, const char* hostname) {
  locate(component, hostname);
  OpenFile file(rsecssfs_openRegularFile(m_sharedmemorypath.c_str(), O_RDONLY));
  if (file.descriptor < 0) throwCannotOpen(m_sharedmemorypath, errno, nullptr);
  struct stat status;
  if (::fstat(file.descriptor, &status) != 0) throwCannotOpen(m_sharedmemorypath, errno, "stat");
  if (status.st_size != static_cast<off_t>(TOTAL_SIZE)) {
    ltt::exception ex(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_WRONG_SIZE());
    ex << ltt::msgarg_text("file", m_sharedmemorypath.c_str())
       << ltt::msgarg_text("size", std::to_string(status.st_size).c_str())
       << ltt::msgarg_text("expected", std::to_string(TOTAL_SIZE).c_str());
    ltt::tThrow(ex);
  }
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, file.descriptor, TOTAL_SIZE, true);
  file.release();
  m_readonly = true;
  m_header = static_cast<Header*>(m_mappedmemory->address());
}

void TraceSharedMemory::attach(const char* component, const char* hostname, const char* username) {
  if (m_header != nullptr) {
    ltt::tThrow(ltt::exception(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED()));
  }
  SecureStore::UserProfile::checkComponent(component);
  m_hostname = hostname ? hostname : "";
  m_user = username ? username : "";
  try {
    SecureStore::UserProfile::openUserProfilePath(m_sharedmemorypath, m_user, m_hostname, false);
    m_profilepath_opened = true;
    m_sharedmemorypath += "/";
    m_sharedmemorypath += component;
    m_sharedmemorypath += ".shm";
    attachToCurrentPath();
  } catch (...) {
    if (m_profilepath_opened) {
      m_profilepath_opened = false;
      try {
        SecureStore::UserProfile::closeUserProfilePath(m_user, m_hostname, false);
      } catch (...) {
        // The first error is the one to report.
      }
    }
    throw;
  }
}

void TraceSharedMemory::detach() {
  m_spinlock.reset();
  m_ownpart = nullptr;
  m_header = nullptr;
  m_readonly = false;
  m_mappedmemory.reset();
  if (m_profilepath_opened) {
    m_profilepath_opened = false;
    try {
      SecureStore::UserProfile::setOwner(m_sharedmemorypath, m_user);
    } catch (...) {
    }
    try {
      SecureStore::UserProfile::closeUserProfilePath(m_user, m_hostname, false);
    } catch (...) {
    }
  }
}

// The file is checked, replaced if need be and mapped under the file lock:
// otherwise a console that finds the file half-written by another would
// truncate it again and wipe what the other has changed in the meantime.
// What is not a regular file (a link, a directory, a FIFO, a device) is never
// replaced: it is reported, so that nothing is written through a link.
//
// Mostly the file is there, a regular file of the right size that opens for
// reading and writing: then one descriptor takes the lock, shows the size
// and is mapped. Anything else goes the long way, which opens the file once
// per question so that it can tell the cases apart: what is not a regular
// file is reported, what cannot be read or has the wrong size is replaced.
void TraceSharedMemory::attachToCurrentPath() {
  OpenFile file(rsecssfs_openRegularFile(m_sharedmemorypath.c_str(), O_RDWR | O_CREAT, 0600));
  if (file.descriptor < 0) {
    FileGuard guard(m_sharedmemorypath);
    checkAndMapUnderLock();
    return;
  }
  lockFile(file.descriptor, LOCK_EX);
  struct stat status;
  if (::fstat(file.descriptor, &status) != 0 || status.st_size != static_cast<off_t>(TOTAL_SIZE)) {
    checkAndMapUnderLock();
    return;
  }
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, file.descriptor, TOTAL_SIZE);
  file.release();
  m_header = static_cast<Header*>(m_mappedmemory->address());
  if (loadWord(m_header->version) != VERSION) initializeSharedMemoryHeader();
  // The mapping's descriptor takes the lock again for each LockedScope.
  lockFile(m_mappedmemory->descriptor(), LOCK_UN);
}

void TraceSharedMemory::checkAndMapUnderLock() {
  int problem = 0;
  if (!isSharedMemoryFileValid(problem)) {
    if (problem == ELOOP || problem == EISDIR || problem == RSECSSFS_ENOTREGULAR) {
      throwCannotOpen(m_sharedmemorypath, problem, nullptr);
    }
    createShmFile();
  }
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, TOTAL_SIZE);
  m_header = static_cast<Header*>(m_mappedmemory->address());
  if (loadWord(m_header->version) != VERSION) initializeSharedMemoryHeader();
}

// Valid is a file that opens for reading and has the right size; anything
// else sets `problem` to the error of the open, or to 0 for a wrong size. A
// file that cannot be read (mode 0200, say) is thus made afresh.
bool TraceSharedMemory::isSharedMemoryFileValid(int& problem) const {
  problem = 0;
  const int descriptor = rsecssfs_openRegularFile(m_sharedmemorypath.c_str(), O_RDONLY);
  if (descriptor < 0) {
    problem = errno;
    return false;
  }
  struct stat status;
  const bool valid = ::fstat(descriptor, &status) == 0 && status.st_size == static_cast<off_t>(TOTAL_SIZE);
  ::close(descriptor);
  return valid;
}

// The file is created with mode 0600, so it is never readable by others, not
// even for a moment; the check afterwards also fixes a file that existed with
// the wrong size and other permissions, or a umask that took bits away.
// The zeros are written over whatever the file held and the file is then cut
// to its size; truncating it to nothing first would make ext4 write the file
// out on close, for no gain.
void TraceSharedMemory::createShmFile() {
  OpenFile file(rsecssfs_openRegularFile(m_sharedmemorypath.c_str(), O_WRONLY | O_CREAT, 0600));
  if (file.descriptor < 0) throwCannotOpen(m_sharedmemorypath, errno, nullptr);
  const std::vector<char> zeros(TOTAL_SIZE, 0);
  std::size_t written = 0;
  while (written < zeros.size()) {
    const ssize_t n = ::pwrite(file.descriptor, zeros.data() + written, zeros.size() - written,
                               static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throwCannotOpen(m_sharedmemorypath, n < 0 ? errno : ENOSPC, "fwrite");
    written += static_cast<std::size_t>(n);
  }
  if (::ftruncate(file.descriptor, static_cast<off_t>(TOTAL_SIZE)) != 0) {
    throwCannotOpen(m_sharedmemorypath, errno, "ftruncate");
  }
  validateAndAdjustPermissions(file.descriptor);
  // A file left short would fault when mapped, so a failing close counts.
  if (::close(file.release()) != 0) throwCannotOpen(m_sharedmemorypath, errno, "close");
}

// Through the descriptor that was written: the name could meanwhile be a
// link.
void TraceSharedMemory::validateAndAdjustPermissions(int descriptor) {
  struct stat status;
  if (::fstat(descriptor, &status) != 0) throwCannotOpen(m_sharedmemorypath, errno, "stat");
  if ((status.st_mode & 0777) == 0600) return;
  if (::fchmod(descriptor, 0600) != 0) throwCannotOpen(m_sharedmemorypath, errno, "chmod");
}

// updateCount, spinLock and the parts are left alone: a file that some client
// zeroed or an older layout wrote still carries the processes' state.
void TraceSharedMemory::initializeSharedMemoryHeader() {
  storeWord(m_header->totalSize, static_cast<std::int32_t>(TOTAL_SIZE));
  storeWord(m_header->version, VERSION);
  storeWord(m_header->globalReRead, 1);
  storeWord(m_header->initialized, 1);
}

TraceSharedMemory::Part* TraceSharedMemory::getAllParts() {
  if (m_header == nullptr) return nullptr;
  return reinterpret_cast<Part*>(reinterpret_cast<char*>(m_header) + HEADER_SIZE);
}

std::int32_t TraceSharedMemory::getUpdateCount() const {
  return m_header == nullptr ? 0 : loadWord(m_header->updateCount);
}

const std::int32_t* TraceSharedMemory::updateCountWord() const {
  return m_header == nullptr ? nullptr : &m_header->updateCount;
}

std::string TraceSharedMemory::profileDirectory() const {
  const std::size_t slash = m_sharedmemorypath.rfind('/');
  return slash == std::string::npos ? std::string() : m_sharedmemorypath.substr(0, slash);
}

int TraceSharedMemory::mappedDescriptor() const { return m_mappedmemory ? m_mappedmemory->descriptor() : -1; }

std::int32_t TraceSharedMemory::getVersion() const {
  return m_header == nullptr ? 0 : loadWord(m_header->version);
}

std::size_t TraceSharedMemory::getTotalSize() { return TOTAL_SIZE; }

}  // namespace NEBRIX
