#include "client/trace_writer.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "profile/file_lock.h"
#include "securestore/regular_file.h"

namespace NEBRIX::Client {
namespace {

// While the disk is full the member's bytes wait in memory for the next
// write; beyond this much they are given up, and the file goes on with a
// new member after the cut one.
constexpr std::size_t kMaxUnwritten = std::size_t{1} << 20;

// How often a writer looks for room again after moving a full file away,
// while other processes fill or move the new ones before it gets its turn.
constexpr int kTurns = 64;

// The number of bytes written: all of them unless an error stopped it.
std::size_t writeAll(int descriptor, const char* data, std::size_t size) {
  // O_APPEND writes of a regular file are whole unless the disk is full;
  // a short one is finished rather than lost.
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(descriptor, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// Read access as well, to see the form of what the file holds already; a
// file we may only write is taken as it is.
int openAppending(const std::string& path) {
  const int descriptor = rsecssfs_openRegularFile(path.c_str(), O_RDWR | O_APPEND | O_CREAT, 0600);
  if (descriptor >= 0 || errno != EACCES) return descriptor;
  return rsecssfs_openRegularFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
}

}  // namespace

TraceWriter::~TraceWriter() { close(); }

void TraceWriter::reset(TraceTarget target) {
  std::lock_guard<AdaptiveMutex> guard(m_mutex);
  closeLocked();
  m_target = std::move(target);
}

void TraceWriter::close() {
  std::lock_guard<AdaptiveMutex> guard(m_mutex);
  closeLocked();
}

void TraceWriter::finishIfIdle() {
  std::unique_lock<AdaptiveMutex> lock(m_mutex, std::try_to_lock);
  if (lock.owns_lock()) endMember();
}

void TraceWriter::closeLocked() {
  stopUnlockedWrites();
  endMember();
  m_gzip.reset();
  if (m_descriptor >= 0) ::close(m_descriptor);
  m_descriptor = -1;
}

// The end goes to the file the member was begun in, even when the name has
// moved on; the room for it was kept under the size limit.
// It runs in destructors too, so nothing may escape.
void TraceWriter::endMember() {
  std::string bytes;
  bytes.swap(m_unwritten);
  try {
    if (m_gzip.finish(bytes) && m_descriptor >= 0) writeAll(m_descriptor, bytes.data(), bytes.size());
  } catch (...) {
    m_gzip.reset();
  }
}

bool TraceWriter::openFile() {
  closeLocked();
  m_descriptor = openAppending(m_target.path);
  m_formChecked = false;
  noteFile();
  return m_descriptor >= 0;
}

// After a file was opened: a header is due unless it is the one this
// process wrote its header into last.
void TraceWriter::noteFile() {
  struct stat status;
  m_headerDue = m_descriptor >= 0 && (::fstat(m_descriptor, &status) != 0 || status.st_dev != m_headerDevice ||
                                      status.st_ino != m_headerInode);
}

// The line as it goes out, in `small` when it fits (no memory taken for the
// common record), else in `large`.
std::string_view TraceWriter::compose(std::string_view prefix, std::string_view record, bool marker, bool header,
                                      char* small, std::size_t smallSize, std::string& large) const {
  const std::size_t size = composedSize(prefix, record, marker, header);
  char* out = small;
  if (size > smallSize) {
    large.resize(size);
    out = &large[0];
  }
  char* next = out;
  const auto append = [&next](std::string_view part) {
    if (!part.empty()) std::memcpy(next, part.data(), part.size());
    next += part.size();
  };
  if (header) {
    append(prefix);
    append(m_target.header);
    append("\n");
  }
  if (!header || !marker) {
    append(prefix);
    append(record);
  }
  return {out, size};
}

std::size_t TraceWriter::composedSize(std::string_view prefix, std::string_view record, bool marker,
                                      bool header) const {
  const std::size_t line = prefix.size() + record.size();
  if (!header) return line;
  return prefix.size() + m_target.header.size() + 1 + (marker ? 0 : line);
}

// Under the file lock: when another process has moved the file away, the
// descriptor is switched to the file now under the name, locked in its turn.
bool TraceWriter::followCurrentFile() {
  for (int attempt = 0; attempt < 8; ++attempt) {
    lockFile(m_descriptor, LOCK_EX);
    struct stat named;
    struct stat held;
    if (::stat(m_target.path.c_str(), &named) == 0 && ::fstat(m_descriptor, &held) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      return true;
    }
    lockFile(m_descriptor, LOCK_UN);
    if (!openFile()) return false;
  }
  errno = EAGAIN;
  return false;
}

// Takes the lock of the file under the name, with room in it for `needed`
// bytes. A file in the other form or without the room is moved away first,
// and the look is taken again, under the new file's lock: between the move
// and that lock another process may have filled the new file, or moved it
// on in turn.
bool TraceWriter::takeTurn(const std::size_t (&needed)[2]) {
  for (int attempt = 0; attempt < kTurns; ++attempt) {
    if (!followCurrentFile()) return false;
    bool move = !m_formChecked && wrongForm();
    m_formChecked = true;
    if (!move && m_target.limit >= 0) {
      struct stat status;
      if (::fstat(m_descriptor, &status) != 0) return unlockAfterFailure();
      const std::uint64_t total =
          static_cast<std::uint64_t>(status.st_size) + needed[m_headerDue ? 1 : 0] + m_unwritten.size();
      move = status.st_size > 0 && total > static_cast<std::uint64_t>(m_target.limit);
    }
    if (!move) return true;
    if (!rotate()) return unlockAfterFailure();
  }
  errno = EAGAIN;
  return unlockAfterFailure();
}

bool TraceWriter::unlockAfterFailure() {
  const int error = errno;
  if (m_descriptor >= 0) lockFile(m_descriptor, LOCK_UN);
  errno = error;
  return false;
}

// Once per open: text is never appended to gzip members or the other way
// round.
bool TraceWriter::wrongForm() {
  struct stat status;
  unsigned char magic[2];
  if (::fstat(m_descriptor, &status) != 0 || status.st_size == 0) return false;
  if (::pread(m_descriptor, magic, sizeof magic, 0) != static_cast<ssize_t>(sizeof magic)) return false;
  const bool gzip = magic[0] == 0x1f && magic[1] == 0x8b;
  return gzip != (m_target.encoding != Encoding::kText);
}

// Under the lock of the file. The lock is held until the new file exists,
// so that a process that waited for it finds the new file under the name;
// the new file is not locked here, the next turn does that and looks again.
bool TraceWriter::rotate() {
  endMember();
  const std::string old = m_target.path + ".1";
  if (::rename(m_target.path.c_str(), old.c_str()) != 0) return false;
  const int previous = m_descriptor;
  m_descriptor = openAppending(m_target.path);
  m_formChecked = false;
  noteFile();
  ::close(previous);
  return m_descriptor >= 0;
}

// A record that the disk took only part of is taken out again, so that the
// next record starts on a line, or a gzip member, of its own. It is cut off
// under the file's lock, and only while the file still ends with its bytes:
// without a size limit other processes append without the lock, and a record
// of theirs that already follows is not cut off with it.
void TraceWriter::cutBack(std::size_t written, bool locked) {
  const int error = errno;
  const off_t end = ::lseek(m_descriptor, 0, SEEK_CUR);
  if (!locked) lockFile(m_descriptor, LOCK_EX);
  struct stat status;
  if (end >= static_cast<off_t>(written) && ::fstat(m_descriptor, &status) == 0 && status.st_size == end) {
    // Should the cut fail, the bytes stay: nothing better is left to do.
    const int cut = ::ftruncate(m_descriptor, end - static_cast<off_t>(written));
    static_cast<void>(cut);
  }
  if (!locked) lockFile(m_descriptor, LOCK_UN);
  errno = error;
}

bool TraceWriter::encode(std::string_view line, std::string& bytes) {
  if (m_target.encoding == Encoding::kGzipMembers) {
    return m_gzip.append(line.data(), line.size(), bytes) && m_gzip.finish(bytes);
  }
  bytes.swap(m_unwritten);
  return m_gzip.append(line.data(), line.size(), bytes);
}

// Under the mutex, before anything the unlocked writes rely on changes:
// the descriptor they used, or -1.
int TraceWriter::stopUnlockedWrites() {
  const int stopped = m_unlockedDescriptor.exchange(-1, std::memory_order_seq_cst);
  while (m_unlockedWriters.load(std::memory_order_seq_cst) != 0) ::sched_yield();
  return stopped;
}

TraceWriter::Unlocked TraceWriter::writeUnlocked(std::string_view prefix, std::string_view record,
                                                 UnlockedFailure& failure) {
  // Counted in for as long as the descriptor is used, even should making
  // the line throw.
  struct Writing {
    std::atomic<int>& writers;
    explicit Writing(std::atomic<int>& counted) : writers(counted) { writers.fetch_add(1, std::memory_order_seq_cst); }
    ~Writing() { writers.fetch_sub(1, std::memory_order_seq_cst); }
  } writing(m_unlockedWriters);
  const int descriptor = m_unlockedDescriptor.load(std::memory_order_seq_cst);
  if (descriptor < 0) return Unlocked::kNotTried;
  char small[1024];
  std::string large;
  const std::string_view line = compose(prefix, record, false, false, small, sizeof small, large);
  const unsigned before = m_writesEnded.load(std::memory_order_seq_cst);
  const std::size_t written = writeAll(descriptor, line.data(), line.size());
  if (written > 0) m_writesEnded.fetch_add(1, std::memory_order_seq_cst);
  if (written == line.size()) return Unlocked::kWritten;
  failure = {descriptor, written, before, errno};
  return Unlocked::kFailed;
}

// Under the mutex, after the unlocked writes stopped: a record the disk took
// only part of is cut off, when no other write ended since it began (the
// descriptor's offset is then the end of its bytes) and the file is still
// the one written to.
void TraceWriter::afterUnlockedFailure(const UnlockedFailure& failure, int stopped) {
  if (failure.written > 0 && stopped == failure.descriptor && stopped == m_descriptor &&
      m_writesEnded.load(std::memory_order_seq_cst) == failure.writesBefore + 1) {
    cutBack(failure.written, false);
  }
  errno = failure.error;
}

bool TraceWriter::write(std::string_view prefix, std::string_view record, bool marker) {
  UnlockedFailure failure;
  const Unlocked unlocked = writeUnlocked(prefix, record, failure);
  if (unlocked == Unlocked::kWritten) return true;
  std::lock_guard<AdaptiveMutex> guard(m_mutex);
  const int stopped = stopUnlockedWrites();
  if (unlocked == Unlocked::kFailed) {
    afterUnlockedFailure(failure, stopped);
    return false;
  }
  if (m_descriptor < 0 && !openFile()) return false;
  const std::int64_t limit = m_target.limit;
  const bool text = m_target.encoding == Encoding::kText;
  const bool locked = limit >= 0 || !m_formChecked;
  // A turn may find a new file, which is due a header of its own: it
  // looks for room for the line with or without it.
  if (locked) {
    std::size_t needed[2];
    for (const bool header : {false, true}) {
      const std::size_t length = fitted(composedSize(prefix, record, marker, header), text);
      needed[header ? 1 : 0] = text ? length : GzipStream::bound(length);
    }
    if (!takeTurn(needed)) return false;
  }
  char small[1024];
  std::string large;
  const std::string_view line = compose(prefix, record, marker, m_headerDue, small, sizeof small, large);
  const std::size_t size = fitted(line.size(), text);

  std::string bytes;
  bool ok = text || encode(line.substr(0, size), bytes);
  if (ok) {
    const char* data = text ? line.data() : bytes.data();
    const std::size_t length = text ? size : bytes.size();
    const std::size_t written = writeAll(m_descriptor, data, length);
    if (written > 0) m_writesEnded.fetch_add(1, std::memory_order_seq_cst);
    ok = written == length;
    if (!ok && m_target.encoding == Encoding::kGzipStream) {
      if (length - written > kMaxUnwritten) {
        m_gzip.reset();
      } else {
        m_unwritten.assign(bytes, written, std::string::npos);
      }
    } else if (!ok && written > 0) {
      cutBack(written, locked);
    }
  }
  if (ok && m_headerDue) {
    struct stat status;
    if (::fstat(m_descriptor, &status) == 0) {
      m_headerDevice = status.st_dev;
      m_headerInode = status.st_ino;
    }
    m_headerDue = false;
  }
  const int error = errno;
  if (locked) lockFile(m_descriptor, LOCK_UN);
  if (ok && text && limit < 0 && m_formChecked) m_unlockedDescriptor.store(m_descriptor, std::memory_order_seq_cst);
  errno = error;
  return ok;
}

// The bytes of a line of `size` that the size limit lets through; a
// compressed one is cut so that even stored uncompressed it fits.
std::size_t TraceWriter::fitted(std::size_t size, bool text) const {
  if (m_target.limit < 0) return size;
  const std::size_t room = static_cast<std::size_t>(m_target.limit);
  if (text) return std::min(size, room);
  if (GzipStream::bound(size) > room) return room - (GzipStream::bound(room) - room);
  return size;
}

}  // namespace NEBRIX::Client
