// Appends records to the trace file. Each record goes out with one write(2)
// on a descriptor opened with O_APPEND, so the records of threads and of
// processes sharing the file never interleave.
//
// With a size limit the file never grows past it: a record that would pass
// the limit first moves the file to "<name>.1" (replacing an older one) and
// starts a new one. Processes sharing the file take turns with flock(2) on
// it; a process that finds the name moved to another file follows it, and
// looks at the size of that file again under its lock. A record longer than
// the whole limit is cut to fit.
//
// A record that a full disk took only part of is cut off again (ftruncate),
// so that the next one starts on a line, or a gzip member, of its own. Only
// kGzipStream keeps the bytes instead, since its member goes on with them.
//
// Compressed, the file is a series of gzip members, which gzip readers take
// as one stream:
//  - kGzipStream: the file is the process's own. One member runs from the
//    open of the file to its close, a rotation or a change of the settings;
//    each record is deflated with a sync flush, so what is on disk is always
//    readable up to the last record, and the member is ended (its trailer
//    written) when it closes.
//  - kGzipMembers: other processes may write the same file, and a member
//    cannot be continued after another one's bytes; each record is a whole
//    member of its own.
// The limit counts compressed bytes, with room kept for the member's end.
// A file is either text or gzip: when the first write after an open finds
// the file in the other form, the file is moved to "<name>.1" first.
//
// The first line a process writes into a file (one it opened, found under
// the name after another process moved the old one, or started itself on a
// rotation) is the target's header, which says who writes; a file it wrote
// its header into before gets none again when it is opened anew.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "client/gzip_stream.h"

namespace NEBRIX::Client {

enum class Encoding { kText, kGzipStream, kGzipMembers };

struct TraceTarget {
  std::string path;
  std::int64_t limit = -1;  // bytes on disk; -1: unlimited
  Encoding encoding = Encoding::kText;
  std::string header;  // the header line's text, without prefix and newline
};

// The writer's lock is held across the write(2) of a record whenever the
// file needs more than the write (a size limit, compression, a header or its
// form to check). Threads that trace at once then wait for each other there
// all the time: an adaptive mutex spins a little while the holder runs, as
// the kernel does for the file's own lock, before it sleeps, and spares the
// waiter and the holder a futex call each for the common short wait.
class AdaptiveMutex {
 public:
  AdaptiveMutex() = default;
  AdaptiveMutex(const AdaptiveMutex&) = delete;
  AdaptiveMutex& operator=(const AdaptiveMutex&) = delete;
  ~AdaptiveMutex() { pthread_mutex_destroy(&m_mutex); }
  void lock() { pthread_mutex_lock(&m_mutex); }
  bool try_lock() { return pthread_mutex_trylock(&m_mutex) == 0; }
  void unlock() { pthread_mutex_unlock(&m_mutex); }

 private:
  pthread_mutex_t m_mutex = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
};

class TraceWriter {
 public:
  TraceWriter() = default;
  ~TraceWriter();
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  // Closes the file and writes to `target` from now on.
  void reset(TraceTarget target);
  // Writes `prefix` and `record` (a line, or lines, ending in a newline) to
  // the target, after the header line with the same prefix when one is due.
  // A `marker` record is written only when no header is due, which says the
  // same. False with errno set when the file cannot be opened or written.
  bool write(std::string_view prefix, std::string_view record, bool marker = false);
  // Ends the member and closes the file; the next record opens it again.
  void close();
  // Ends the member without waiting: for the end of the process, when
  // another thread may be stuck in a write.
  void finishIfIdle();

 private:
  // How a write without the mutex went, and what a failed one leaves for
  // the mutex's holder to clear up.
  enum class Unlocked { kNotTried, kWritten, kFailed };
  struct UnlockedFailure {
    int descriptor = -1;
    std::size_t written = 0;
    unsigned writesBefore = 0;
    int error = 0;
  };
  Unlocked writeUnlocked(std::string_view prefix, std::string_view record, UnlockedFailure& failure);
  int stopUnlockedWrites();
  void afterUnlockedFailure(const UnlockedFailure& failure, int stopped);
  bool openFile();
  void closeLocked();
  bool followCurrentFile();
  // `needed`: the room for the line without the header, and with it.
  bool takeTurn(const std::size_t (&needed)[2]);
  bool unlockAfterFailure();
  bool wrongForm();
  bool rotate();
  void cutBack(std::size_t written, bool locked);
  bool encode(std::string_view line, std::string& bytes);
  void endMember();
  void noteFile();
  std::size_t fitted(std::size_t size, bool text) const;
  std::string_view compose(std::string_view prefix, std::string_view record, bool marker, bool header, char* small,
                           std::size_t smallSize, std::string& large) const;
  std::size_t composedSize(std::string_view prefix, std::string_view record, bool marker, bool header) const;

  AdaptiveMutex m_mutex;
  TraceTarget m_target;
  int m_descriptor = -1;
  bool m_formChecked = false;
  // The file the header was last written into, and whether the open one is
  // another.
  dev_t m_headerDevice = 0;
  ino_t m_headerInode = 0;
  bool m_headerDue = false;
  GzipStream m_gzip;
  // Bytes of the open member that a failed write left out: the member can
  // only go on with them, so they go first in the next write.
  std::string m_unwritten;
  // While the file is text without a size limit, its form checked and its
  // header written, a record needs nothing but its write(2): threads write
  // it without the mutex, to this descriptor (-1: take the mutex). Whoever
  // takes the mutex first takes the descriptor away and waits until no
  // thread is writing to it any longer; so a descriptor is never closed or
  // replaced under a write.
  std::atomic<int> m_unlockedDescriptor{-1};
  std::atomic<int> m_unlockedWriters{0};
  // Writes that ended (whole or not) with bytes in the file: a record cut
  // short is taken out again only when no other write ended meanwhile.
  std::atomic<unsigned> m_writesEnded{0};
};

}  // namespace NEBRIX::Client
