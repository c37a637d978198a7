#include "client/trace_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "securestore/profile_file.h"

namespace NEBRIX::Client {
namespace {

void lockFile(int descriptor, int operation) {
  while (::flock(descriptor, operation) != 0 && errno == EINTR) {
  }
}

bool writeAll(int descriptor, const char* data, std::size_t size) {
  // O_APPEND writes of a regular file are whole unless the disk is full;
  // a short one is finished rather than lost.
  while (size > 0) {
    const ssize_t n = ::write(descriptor, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

TraceWriter::~TraceWriter() { close(); }

void TraceWriter::close() {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_descriptor >= 0) ::close(m_descriptor);
  m_descriptor = -1;
  m_path.clear();
}

bool TraceWriter::openFile(const std::string& path) {
  if (m_descriptor >= 0) ::close(m_descriptor);
  m_descriptor = rsecssfs_openProfileFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  m_path = m_descriptor >= 0 ? path : std::string();
  return m_descriptor >= 0;
}

// Under the file lock: when another process has moved the file away, the
// descriptor is switched to the file now under the name, locked in its turn.
bool TraceWriter::followCurrentFile(const std::string& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    lockFile(m_descriptor, LOCK_EX);
    struct stat named;
    struct stat held;
    if (::stat(path.c_str(), &named) == 0 && ::fstat(m_descriptor, &held) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino) {
      return true;
    }
    lockFile(m_descriptor, LOCK_UN);
    if (!openFile(path)) return false;
  }
  errno = EAGAIN;
  return false;
}

// The lock of the old file is held until the new one exists, so a process
// that waited for it finds the new file under the name.
bool TraceWriter::rotate(const std::string& path) {
  const std::string old = path + ".1";
  if (::rename(path.c_str(), old.c_str()) != 0) return false;
  const int previous = m_descriptor;
  m_descriptor = rsecssfs_openProfileFile(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
  lockFile(previous, LOCK_UN);
  ::close(previous);
  if (m_descriptor < 0) {
    m_path.clear();
    return false;
  }
  lockFile(m_descriptor, LOCK_EX);
  return true;
}

bool TraceWriter::write(const std::string& path, std::int64_t limit, const std::string& record) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if ((m_descriptor < 0 || m_path != path) && !openFile(path)) return false;
  if (limit < 0) return writeAll(m_descriptor, record.data(), record.size());

  if (!followCurrentFile(path)) return false;
  std::size_t size = record.size();
  if (static_cast<std::int64_t>(size) > limit) size = static_cast<std::size_t>(limit);
  struct stat status;
  bool ok = ::fstat(m_descriptor, &status) == 0;
  if (ok && status.st_size > 0 && status.st_size + static_cast<std::int64_t>(size) > limit) ok = rotate(path);
  if (ok) ok = writeAll(m_descriptor, record.data(), size);
  const int error = errno;
  if (m_descriptor >= 0) lockFile(m_descriptor, LOCK_UN);
  errno = error;
  return ok;
}

}  // namespace NEBRIX::Client
