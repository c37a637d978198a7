// The trace shared-memory file through which the console changes the trace
// settings of running client processes.
//
// One file per user and host: <profile directory>/<component>.shm, for the
// console "NEBRIX.shm". Every client process that wants dynamic trace
// settings maps it; the console maps it for the length of one command. The
// file is a shared memory image, not an exchange format: integers are 32-bit
// in the machine's byte order, and a new file is 26656 zero bytes.
//
//   offset  size  header
//        0     4  updateCount   signed; bumped by a writer after every change
//        4     4  totalSize     26656 once initialized
//        8     4  version       1 once initialized; anything else: not yet
//       12     4  globalReRead  1: with every update, clients also re-read the
//                               persistent configuration (always 1)
//       16     4  initialized   1 once initialized
//       20     4  spinLock      0/1 lock word for clients; the console never
//                               touches it
//       24   232  reserved      zero
//      256 100 x 264  parts; part i starts at 256 + i * 264
//
//   offset  size  part
//        0     4  processID  owning process; 0 = free
//        4     4  readCount  the updateCount its process last acknowledged
//        8   256  flags      trace flags string (see trace_flags.h), NUL-
//                            terminated, at most 255 characters
//
// Change protocol. A writer stores flags into one part (or into none) and
// then increments updateCount with a compare-and-swap loop on the mapped
// word; the counter wraps as a signed 32-bit number and is never reset. A
// client compares its last acknowledged count with updateCount (any
// difference counts), re-reads the flags of its own part and, with
// globalReRead set, the persistent configuration, and then acknowledges by
// storing updateCount into its part's readCount. The flags "R" mean "follow
// the configuration": the console writes them to hand a process back to the
// persistent settings.
//
// Parts are claimed by writers: the first part whose processID is 0, or whose
// process has ended (a zombie has), gets the new id (compare-and-swap, so a
// part that changed hands in between is skipped). A reused part keeps its old
// flags until the writer overwrites them, and its old readCount unless that
// is ahead of updateCount (a counter that was reset, a hostile value): then
// it becomes updateCount, so that the new owner never seems to have read a
// change it has not read. Parts are never freed when their process exits;
// clearDeadParts frees them on request.
//
// Writers exclude each other. A LockedScope takes the object's spin lock
// (threads sharing the object) and an exclusive flock(2) on the mapped file
// (other console processes), so two consoles that read-modify-write flags or
// claim parts at the same time lose no change and never give one part to two
// processes. attach holds the same lock while it checks, replaces and maps
// the file, so a console never truncates a file that another has just made
// and begun to use. The lock is advisory, lives outside the file, and client
// processes never take it; it belongs to the open file description, so a
// process that forks while attached shares it with its child, which should
// attach an object of its own.
//
// Every byte of the file may have been written by someone else: flags are
// never read past their field, a negative processID names no process (its
// part is free for reuse), and a file of the wrong size is replaced by a
// zeroed one when attached, as is one that cannot be opened for reading. The
// file is opened only as a regular file and never through a symbolic link:
// a link, a directory, a FIFO or a device in its place fails the attach
// (ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE with the system error) and is left
// as it is. A file that another process truncates while it is mapped cannot
// be guarded against here (the access faults with SIGBUS).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trace/memory_mapping.h"
#include "trace/process_information.h"
#include "trace/profile_action.h"
#include "trace/spin_lock.h"

namespace NEBRIX {

class TraceSharedMemory {
 public:
  using ProfileAction = NEBRIX::ProfileAction;
  static constexpr ProfileAction PROFILE_NOTSET = NEBRIX::PROFILE_NOTSET;
  static constexpr ProfileAction PROFILE_RESET = NEBRIX::PROFILE_RESET;
  static constexpr ProfileAction PROFILE_COLLECT = NEBRIX::PROFILE_COLLECT;

  using ProcessID = System::ProcessID;

  static constexpr std::int32_t HEADER_SIZE = 256;
  static constexpr std::int32_t NUM_PARTS = 100;
  static constexpr std::int32_t FLAGS_SIZE = 256;  // terminating NUL included
  static constexpr std::int32_t VERSION = 1;

  struct Header {
    std::int32_t updateCount;
    std::int32_t totalSize;
    std::int32_t version;
    std::int32_t globalReRead;
    std::int32_t initialized;
    std::int32_t spinLock;
    char reserved[HEADER_SIZE - 6 * sizeof(std::int32_t)];
  };

  struct Part {
    ProcessID processID;
    std::int32_t readCount;
    char flags[FLAGS_SIZE];  // may lack a NUL if someone else wrote it
  };

  // Holds the object's spin lock and, while attached, an exclusive advisory
  // lock on the file, for one read-modify-write of flags or claim of a part.
  // Not recursive; while it is held, the same thread must not attach another
  // object to the file (attach takes the file lock too).
  class LockedScope {
   public:
    explicit LockedScope(TraceSharedMemory& memory);
    ~LockedScope();
    LockedScope(const LockedScope&) = delete;
    LockedScope& operator=(const LockedScope&) = delete;

   private:
    TraceSharedMemory* m_memory;
  };

  TraceSharedMemory();
  ~TraceSharedMemory();
  TraceSharedMemory(const TraceSharedMemory&) = delete;
  TraceSharedMemory& operator=(const TraceSharedMemory&) = delete;

  // Finds or creates <profile directory of hostname>/<component>.shm and maps
  // it. The hostname may be null; a component that is not a plain name
  // (UserProfile::component_is_valid) throws
  // ERR_SECSTORE_INVALID_COMPONENT_NAME before anything is made, as in every
  // attach. Throws ltt::exception: ERR_NEBRIX_TRACESHM_ALREADY_ATTACHED, ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE
  // (creating the file), ERR_SYS_MEMORYMAP_OPEN_ERR (mapping it), or the
  // errors of the profile directory. A failed attach leaves the object
  // detached.
  void attach(const char* component, const char* hostname);
  // The same in another user's profile. Impersonation is not supported:
  // throws ERR_SECSTORE_USE_SUDO_FOR_IMPERSONATION and stays detached.
  void attach(const char* component, const char* hostname, const char* username);
  // Maps the file as it is, for reading only: a file that is missing, not a
  // regular file, unreadable or of the wrong size is never created, replaced
  // or initialised. Throws ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE (ENOENT when
  // there is none), ERR_NEBRIX_TRACESHM_WRONG_SIZE or the errors of the
  // profile directory. While attached so, every call that would write does
  // nothing and fails.
  void attachForReading(const char* component, const char* hostname);
  // Unmaps and releases the file lock. Safe when detached.
  void detach();

  // Console side. Call the part functions inside a LockedScope.
  //
  // Stores `flags` (at most 255 characters) in the part of `pid`, claiming a
  // part if the process has none. False when detached, for pid 0, for null
  // or too long flags, or when every part belongs to a live process; the
  // part is then unchanged. Does not touch updateCount; a claimed part's
  // readCount is set back when it is ahead of updateCount (see createPart).
  bool setFlags(ProcessID pid, const char* flags);
  // Copies the flags of the part of `pid`. False when detached or when the
  // process has no part; never claims one.
  bool getFlags(ProcessID pid, std::string& flags);
  // Atomically adds 1 to updateCount, wrapping, and returns the count it
  // made; nothing and 0 when detached.
  std::int32_t incUpdateCount();
  // 0 when detached.
  std::int32_t getUpdateCount() const;
  // The mapped updateCount, for a caller that polls it with atomic loads of
  // its own; null when detached.
  const std::int32_t* updateCountWord() const;
  std::int32_t getVersion() const;
  // The descriptor of the mapped file, or -1 when detached.
  int mappedDescriptor() const;
  // The profile directory the file is in ("" before an attach).
  std::string profileDirectory() const;
  static std::size_t getTotalSize();
  // The NUM_PARTS parts, or null when detached. A part's flags may lack
  // their NUL: read at most FLAGS_SIZE - 1 characters.
  Part* getAllParts();
  // Frees every part whose process has ended.
  void clearDeadParts();

  // Client side: the calling process watches its own part.
  //
  // True when attached and updateCount differs from the count this object
  // last acknowledged.
  bool isMyReadCountLower() const;
  // Acknowledges the current updateCount, in this object and in the calling
  // process's part if it has one.
  void updateMyReadCount();
  // Acknowledges `count`, an updateCount read before the settings were: a
  // change made while they were read is then still seen as pending.
  void updateMyReadCount(std::int32_t count);
  // The flags addressed to the calling process, or null when detached or
  // without a part. The field's last byte is set to NUL first, so the text
  // ends inside the part whatever was written there.
  const char* getMyFlags();

 private:
  Part* getPart(ProcessID pid, bool create);
  Part* getPart();
  Part* createPart(ProcessID pid);
  void locate(const char* component, const char* hostname);
  bool isSharedMemoryFileValid(int& problem) const;
  void createShmFile();
  void initializeSharedMemoryHeader();
  void validateAndAdjustPermissions(int descriptor);
  void attachToCurrentPath();
  void checkAndMapUnderLock();

  Header* m_header;
  Part* m_ownpart;
  std::int32_t m_readCount;
  Synchronization::impl::SpinLock m_spinlock;
  std::string m_sharedmemorypath;
  bool m_profilepath_opened;
  std::string m_user;
  std::string m_hostname;
  bool m_readonly;
  System::MemoryMappingHandle m_mappedmemory;  // its descriptor carries the file lock
};

static_assert(sizeof(TraceSharedMemory::Header) == TraceSharedMemory::HEADER_SIZE, "header size");
static_assert(offsetof(TraceSharedMemory::Header, updateCount) == 0, "updateCount offset");
static_assert(offsetof(TraceSharedMemory::Header, totalSize) == 4, "totalSize offset");
static_assert(offsetof(TraceSharedMemory::Header, version) == 8, "version offset");
static_assert(offsetof(TraceSharedMemory::Header, globalReRead) == 12, "globalReRead offset");
static_assert(offsetof(TraceSharedMemory::Header, initialized) == 16, "initialized offset");
static_assert(offsetof(TraceSharedMemory::Header, spinLock) == 20, "spinLock offset");
static_assert(sizeof(TraceSharedMemory::Part) == 264, "part size");
static_assert(offsetof(TraceSharedMemory::Part, processID) == 0, "processID offset");
static_assert(offsetof(TraceSharedMemory::Part, readCount) == 4, "readCount offset");
static_assert(offsetof(TraceSharedMemory::Part, flags) == 8, "flags offset");
static_assert(sizeof(TraceSharedMemory::ProfileAction) == 4, "profile action size");

}  // namespace NEBRIX
