#include "trace/trace_shared_memory.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "profile/file_lock.h"
#include "profile/user_profile.h"
#include "securestore/profile_file.h"

namespace NEBRIX {
namespace {

constexpr std::size_t kPartsOffset = TraceSharedMemory::HEADER_SIZE;
constexpr std::size_t kTotalSize =
    kPartsOffset + TraceSharedMemory::NUM_PARTS * sizeof(TraceSharedMemory::Part);
static_assert(kTotalSize == 26656, "file size");

constexpr std::size_t kMaxFlagsLength = TraceSharedMemory::FLAGS_SIZE - 1;

// The mapped words are shared with other processes; every access to them is
// atomic so that no reader sees a torn value and no compiler caches one.
std::int32_t loadWord(const std::int32_t& word) { return __atomic_load_n(&word, __ATOMIC_ACQUIRE); }
void storeWord(std::int32_t& word, std::int32_t value) {
  __atomic_store_n(&word, value, __ATOMIC_RELEASE);
}
bool swapWord(std::int32_t& word, std::int32_t& expected, std::int32_t desired) {
  return __atomic_compare_exchange_n(&word, &expected, desired, false, __ATOMIC_ACQ_REL,
                                     __ATOMIC_ACQUIRE);
}

// The id of the calling process, asked every time: only the slow path wants
// it, and a cached id would go on answering for the parent in the child of a
// fork, also one made without atfork handlers (_Fork).
System::ProcessID ownProcessID() { return System::ProcessInformation::getProcessID(); }

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
      : m_file(rsecssfs_openProfileFile(path.c_str(), O_RDONLY | O_CREAT, 0600)) {
    if (m_file.descriptor < 0 && errno == EACCES) {
      m_file.descriptor = rsecssfs_openProfileFile(path.c_str(), O_WRONLY);
    }
    if (m_file.descriptor >= 0) lockFile(m_file.descriptor, LOCK_EX);
  }

 private:
  OpenFile m_file;
};

}  // namespace

TraceSharedMemory::LockedScope::LockedScope(TraceSharedMemory& memory) : m_memory(&memory) {
  m_memory->m_spinlock.lock();
  // Best effort: flock on a local file only fails for lack of kernel memory,
  // and a console that cannot lock still does what it did before the lock.
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
  OpenFile file(rsecssfs_openProfileFile(m_sharedmemorypath.c_str(), O_RDONLY));
  if (file.descriptor < 0) throwCannotOpen(m_sharedmemorypath, errno, nullptr);
  struct stat status;
  if (::fstat(file.descriptor, &status) != 0) throwCannotOpen(m_sharedmemorypath, errno, "stat");
  if (status.st_size != static_cast<off_t>(kTotalSize)) {
    ltt::exception ex(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_TRACESHM_WRONG_SIZE());
    ex << ltt::msgarg_text("file", m_sharedmemorypath.c_str())
       << ltt::msgarg_text("size", std::to_string(status.st_size).c_str())
       << ltt::msgarg_text("expected", std::to_string(kTotalSize).c_str());
    ltt::tThrow(ex);
  }
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, file.descriptor, kTotalSize, true);
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
// and is mapped. Anything else goes the long way, which tells each case
// apart as it always has.
void TraceSharedMemory::attachToCurrentPath() {
  OpenFile file(rsecssfs_openProfileFile(m_sharedmemorypath.c_str(), O_RDWR | O_CREAT, 0600));
  if (file.descriptor < 0) {
    FileGuard guard(m_sharedmemorypath);
    checkAndMapUnderLock();
    return;
  }
  lockFile(file.descriptor, LOCK_EX);
  struct stat status;
  if (::fstat(file.descriptor, &status) != 0 || status.st_size != static_cast<off_t>(kTotalSize)) {
    checkAndMapUnderLock();
    return;
  }
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, file.descriptor, kTotalSize);
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
  m_mappedmemory = std::make_shared<System::MemoryMapping>(m_sharedmemorypath, kTotalSize);
  m_header = static_cast<Header*>(m_mappedmemory->address());
  if (loadWord(m_header->version) != VERSION) initializeSharedMemoryHeader();
}

// Valid is a file that opens for reading and has the right size; anything
// else sets `problem` to the error of the open, or to 0 for a wrong size. A
// file that cannot be read (mode 0200, say) is thus made afresh.
bool TraceSharedMemory::isSharedMemoryFileValid(int& problem) const {
  problem = 0;
  const int descriptor = rsecssfs_openProfileFile(m_sharedmemorypath.c_str(), O_RDONLY);
  if (descriptor < 0) {
    problem = errno;
    return false;
  }
  struct stat status;
  const bool valid = ::fstat(descriptor, &status) == 0 && status.st_size == static_cast<off_t>(kTotalSize);
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
  OpenFile file(rsecssfs_openProfileFile(m_sharedmemorypath.c_str(), O_WRONLY | O_CREAT, 0600));
  if (file.descriptor < 0) throwCannotOpen(m_sharedmemorypath, errno, nullptr);
  const std::vector<char> zeros(kTotalSize, 0);
  std::size_t written = 0;
  while (written < zeros.size()) {
    const ssize_t n = ::pwrite(file.descriptor, zeros.data() + written, zeros.size() - written,
                               static_cast<off_t>(written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throwCannotOpen(m_sharedmemorypath, n < 0 ? errno : ENOSPC, "fwrite");
    written += static_cast<std::size_t>(n);
  }
  if (::ftruncate(file.descriptor, static_cast<off_t>(kTotalSize)) != 0) {
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
  storeWord(m_header->totalSize, static_cast<std::int32_t>(kTotalSize));
  storeWord(m_header->version, VERSION);
  storeWord(m_header->globalReRead, 1);
  storeWord(m_header->initialized, 1);
}

TraceSharedMemory::Part* TraceSharedMemory::getAllParts() {
  if (m_header == nullptr) return nullptr;
  return reinterpret_cast<Part*>(reinterpret_cast<char*>(m_header) + kPartsOffset);
}

TraceSharedMemory::Part* TraceSharedMemory::getPart(ProcessID pid, bool create) {
  Part* parts = getAllParts();
  if (parts == nullptr || pid == 0) return nullptr;
  for (int i = 0; i < NUM_PARTS; ++i) {
    if (loadWord(parts[i].processID) == pid) return &parts[i];
  }
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
    const std::int32_t lead = static_cast<std::int32_t>(static_cast<std::uint32_t>(loadWord(parts[i].readCount)) -
                                                        static_cast<std::uint32_t>(count));
    if (lead > 0) storeWord(parts[i].readCount, count);
    return &parts[i];
  }
  return nullptr;
}

TraceSharedMemory::Part* TraceSharedMemory::getPart() {
  // The cached part is checked because a forked child inherits the cache of
  // its parent's object.
  const ProcessID pid = ownProcessID();
  if (m_ownpart != nullptr && loadWord(m_ownpart->processID) == pid) return m_ownpart;
  m_ownpart = getPart(pid, false);
  return m_ownpart;
}

bool TraceSharedMemory::setFlags(ProcessID pid, const char* flags) {
  if (m_header == nullptr || m_readonly || flags == nullptr) return false;
  const std::size_t length = ::strnlen(flags, kMaxFlagsLength + 1);
  if (length > kMaxFlagsLength) return false;
  Part* part = getPart(pid, true);
  if (part == nullptr) return false;
  std::memcpy(part->flags, flags, length + 1);
  return true;
}

bool TraceSharedMemory::getFlags(ProcessID pid, std::string& flags) {
  const Part* part = getPart(pid, false);
  if (part == nullptr) return false;
  flags.assign(part->flags, ::strnlen(part->flags, kMaxFlagsLength));
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

std::size_t TraceSharedMemory::getTotalSize() { return kTotalSize; }

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
  if (Part* part = getPart()) storeWord(part->readCount, m_readCount);
}

const char* TraceSharedMemory::getMyFlags() {
  if (m_header == nullptr || m_readonly) return nullptr;
  Part* part = getPart();
  if (part == nullptr) return nullptr;
  part->flags[kMaxFlagsLength] = '\0';
  return part->flags;
}

}  // namespace NEBRIX
