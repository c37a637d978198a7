#include "trace/client_status_files.h"

#include "securestore/file_writes.h"
#include "trace/process_information.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace NEBRIX {

namespace {

constexpr const char* kTemporary = ".tmp";

std::string fileName(const ClientStatus& status) {
  return status.component + "-" + std::to_string(status.pid) + "-" + std::to_string(status.started);
}

// "<component>-<pid>-<started>" with an optional ".tmp"; false for any other
// name, which is none of ours and left alone.
bool parseFileName(const std::string& name, std::string& component, std::int32_t& pid, std::uint64_t& started,
                   bool& temporary) {
  std::string base = name;
  temporary = base.size() > 4 && base.compare(base.size() - 4, 4, kTemporary) == 0;
  if (temporary) base.resize(base.size() - 4);
  const std::size_t first = base.find('-');
  const std::size_t second = first == std::string::npos ? std::string::npos : base.find('-', first + 1);
  if (first == 0 || second == std::string::npos) return false;
  component = base.substr(0, first);
  const std::string pidText = base.substr(first + 1, second - first - 1);
  const std::string startedText = base.substr(second + 1);
  const auto digits = [](const std::string& text) {
    return !text.empty() && text.size() <= 20 && text.find_first_not_of("0123456789") == std::string::npos;
  };
  if (!digits(pidText) || !digits(startedText) || pidText.size() > 10) return false;
  const long long number = std::strtoll(pidText.c_str(), nullptr, 10);
  if (number <= 0 || number > 0x7fffffff) return false;
  pid = static_cast<std::int32_t>(number);
  errno = 0;
  started = std::strtoull(startedText.c_str(), nullptr, 10);
  return errno == 0;
}

// The folder, opened without following a link, when it is a directory of the
// user's that nobody else may write; -1 otherwise (errno set).
int openFolder(const std::string& path) {
  const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return -1;
  struct stat status;
  if (::fstat(folder, &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::close(folder);
    errno = EPERM;
    return -1;
  }
  return folder;
}

// The bytes of the open status file, at most kClientStatusMaxSize of them;
// false for a larger file or one that cannot be read.
bool readStatusFile(int descriptor, off_t size, std::string& bytes) {
  if (size > static_cast<off_t>(kClientStatusMaxSize)) return false;
  char buffer[kClientStatusMaxSize + 1];
  std::size_t length = 0;
  // A file replaced as a whole never grows: reading what fstat saw is enough.
  while (length < static_cast<std::size_t>(size)) {
    const ssize_t got = ::read(descriptor, buffer + length, sizeof buffer - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
  }
  if (length > kClientStatusMaxSize) return false;
  bytes.assign(buffer, length);
  return true;
}

// Whether process `pid` holds the write lock on the open file. A process
// never sees its own lock this way: it looks at other processes' files.
bool heldBy(int descriptor, std::int32_t pid) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(descriptor, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK && lock.l_pid == pid;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens the file `name` of process `pid` in `folder`, when it is a regular
// file of the user's that the process holds its lock on; -1 otherwise. A
// file whose process let its lock go is removed, unless the name meanwhile
// stands for a newer file, which is looked at in its turn. A ".tmp" file
// is locked only after it was made, so it is left alone while its process
// runs.
int openCurrent(int folder, const char* name, std::int32_t pid, bool temporary, uid_t user, struct stat& status) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int descriptor = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return -1;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != user) {
      ::close(descriptor);
      return -1;
    }
    if (heldBy(descriptor, pid)) return descriptor;
    ::close(descriptor);
    struct stat now;
    if (::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (!sameFile(now, status)) continue;
    if (!temporary || (::kill(pid, 0) != 0 && errno == ESRCH)) ::unlinkat(folder, name, 0);
    return -1;
  }
  return -1;
}

// Lists the folder; `each` gets every current file of ours, open, with the
// parts of its name; the files of ended processes are removed on the way.
template <typename Each>
void forEachFile(const std::string& profileDirectory, Each each) {
  const int folder = openFolder(clientStatusFolder(profileDirectory));
  if (folder < 0) return;
  DIR* listing = ::fdopendir(folder);
  if (listing == nullptr) {
    ::close(folder);
    return;
  }
  const uid_t user = ::geteuid();
  while (const dirent* entry = ::readdir(listing)) {
    std::string component;
    std::int32_t pid = 0;
    std::uint64_t started = 0;
    bool temporary = false;
    if (!parseFileName(entry->d_name, component, pid, started, temporary)) continue;
    struct stat status;
    const int descriptor = openCurrent(folder, entry->d_name, pid, temporary, user, status);
    if (descriptor < 0) continue;
    if (!temporary) each(descriptor, status, component, pid, started);
    ::close(descriptor);
  }
  ::closedir(listing);
}

}  // namespace

std::string clientStatusFolder(const std::string& profileDirectory) { return profileDirectory + "/clients"; }

// The start time is the 22nd field of /proc/<pid>/stat, the 20th after
// the state.
bool processStartTime(std::int32_t pid, std::uint64_t& started) {
  char text[1024];
  const char* at = pid > 0 ? System::processStatFields(pid, text, sizeof text) : nullptr;
  if (at == nullptr || at[0] == 'Z' || at[0] == 'X') return false;
  for (int field = 3; field < 22; ++field) {
    at = std::strchr(at, ' ');
    if (at == nullptr) return false;
    ++at;
  }
  char* end = nullptr;
  errno = 0;
  started = std::strtoull(at, &end, 10);
  return errno == 0 && end != at && (*end == ' ' || *end == '\0' || *end == '\n');
}

void StatusFileLock::replace(int descriptor) {
  release();
  struct stat status;
  if (::fstat(descriptor, &status) != 0) {
    ::close(descriptor);
    return;
  }
  m_descriptor = descriptor;
  m_device = status.st_dev;
  m_inode = status.st_ino;
}

void StatusFileLock::release() {
  struct stat status;
  if (m_descriptor >= 0 && ::fstat(m_descriptor, &status) == 0 && status.st_dev == m_device &&
      status.st_ino == m_inode) {
    ::close(m_descriptor);
  }
  m_descriptor = -1;
}

namespace {

// Writes `bytes` into "<name>.tmp", locked before anything is in it, and
// renames it to `name`. The open descriptor holding the lock, or -1 with
// errno set.
int writeLocked(int folder, const std::string& name, const std::string& bytes) {
  const std::string temporary = name + kTemporary;
  const int descriptor =
      ::openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (descriptor < 0) return -1;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  struct stat status;
  int error = 0;
  if (::fstat(descriptor, &status) != 0) {
    error = errno;
  } else if (!S_ISREG(status.st_mode)) {
    error = EPERM;
  } else if (::fcntl(descriptor, F_SETLK, &lock) != 0 || !rsecssfs_writeAll(descriptor, bytes.data(), bytes.size()) ||
             ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    error = errno;
  }
  if (error == 0) return descriptor;
  ::unlinkat(folder, temporary.c_str(), 0);
  ::close(descriptor);
  errno = error;
  return -1;
}

}  // namespace

int publishClientStatus(const std::string& profileDirectory, const ClientStatus& status, StatusFileLock& lock) {
  const std::string path = clientStatusFolder(profileDirectory);
  int folder = openFolder(path);
  if (folder < 0 && errno == ENOENT) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    folder = openFolder(path);
  }
  if (folder < 0) return errno;
  // A console that found the new ".tmp" file before its lock may have taken
  // it for a leftover: the rename then fails, and it is written once more.
  int descriptor = -1;
  for (int attempt = 0; attempt < 2 && descriptor < 0; ++attempt) {
    descriptor = writeLocked(folder, fileName(status), formatClientStatus(status));
    if (descriptor < 0 && errno != ENOENT) break;
  }
  const int error = descriptor < 0 ? errno : 0;
  ::close(folder);
  if (descriptor >= 0) lock.replace(descriptor);
  return error;
}

void withdrawClientStatus(const std::string& profileDirectory, const ClientStatus& status, StatusFileLock& lock) {
  const int folder = openFolder(clientStatusFolder(profileDirectory));
  if (folder >= 0) {
    ::unlinkat(folder, fileName(status).c_str(), 0);
    ::close(folder);
  }
  lock.release();
}

std::vector<ClientStatus> readClientStatuses(const std::string& profileDirectory, const std::string& component) {
  std::vector<ClientStatus> statuses;
  forEachFile(profileDirectory, [&](int descriptor, const struct stat& file, const std::string& owner,
                                    std::int32_t pid, std::uint64_t started) {
    if (owner != component) return;
    std::string bytes;
    std::string problem;
    ClientStatus status;
    // A file must say what its name says: one copied or renamed into place
    // would otherwise speak for another process.
    if (readStatusFile(descriptor, file.st_size, bytes) && parseClientStatus(bytes, status, problem) &&
        status.component == component && status.pid == pid && status.started == started) {
      statuses.push_back(std::move(status));
    }
  });
  std::sort(statuses.begin(), statuses.end(),
            [](const ClientStatus& a, const ClientStatus& b) { return a.pid < b.pid; });
  return statuses;
}

void removeEndedClientStatuses(const std::string& profileDirectory) {
  forEachFile(profileDirectory, [](int, const struct stat&, const std::string&, std::int32_t, std::uint64_t) {});
}

}  // namespace NEBRIX
