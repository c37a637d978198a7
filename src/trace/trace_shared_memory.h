// The trace shared-memory file through which the console changes the trace
// settings of running client processes: the object that finds, creates and
// maps it. Its layout and the rules for its words are in
// trace_shared_memory_format.h; what the console writes into it is in
// trace_shared_memory_writer.cc, what a client reads from it in
// trace_shared_memory_reader.cc.
//
// One file per user and host: <profile directory>/<component>.shm, for the
// console "NEBRIX.shm". Every client process that wants dynamic trace
// settings maps it; the console maps it for the length of one command.
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
// A file of the wrong size is replaced by a zeroed one when attached, as is
// one that cannot be opened for reading. The file is opened only as a
// regular file and never through a symbolic link: a link, a directory, a
// FIFO or a device in its place fails the attach
// (ERR_NEBRIX_TRACESHM_CANNOT_OPEN_FILE with the system error) and is left
// as it is. A file that another process truncates while it is mapped cannot
// be guarded against here (the access faults with SIGBUS).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trace/memory_mapping.h"
#include "trace/spin_lock.h"
#include "trace/trace_shared_memory_format.h"

namespace NEBRIX {

// The layout's names (Part, NUM_PARTS, ...) are the object's too.
class TraceSharedMemory : public TraceSharedMemoryFormat {
 public:

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
  // their NUL: read them with partFlags.
  Part* getAllParts();

  // Console side (trace_shared_memory_writer.cc). Call the part functions
  // inside a LockedScope.
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
  // Frees every part whose process has ended.
  void clearDeadParts();

  // Client side (trace_shared_memory_reader.cc): the calling process watches
  // its own part.
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
  void locate(const char* component, const char* hostname);
  bool isSharedMemoryFileValid(int& problem) const;
  void createShmFile();
  void initializeSharedMemoryHeader();
  void validateAndAdjustPermissions(int descriptor);
  void attachToCurrentPath();
  void checkAndMapUnderLock();
  // Writer: the part of `pid`, claimed when `create` and there is none.
  Part* getPart(ProcessID pid, bool create);
  Part* createPart(ProcessID pid);
  // Reader: the calling process's part.
  Part* getOwnPart();

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

}  // namespace NEBRIX
