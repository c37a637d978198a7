#include "trace/client_status_files.h"

#include <dirent.h>
#include <fcntl.h>
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

bool writeAll(int descriptor, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(descriptor, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// The bytes of a regular file of the user's in `folder`, at most
// kClientStatusMaxSize of them; false for anything else.
bool readStatusFile(int folder, const char* name, std::string& bytes) {
  const int descriptor = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status;
  bool fit = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
             status.st_size <= static_cast<off_t>(kClientStatusMaxSize);
  if (fit) {
    char buffer[kClientStatusMaxSize + 1];
    std::size_t length = 0;
    for (;;) {
      const ssize_t got = ::read(descriptor, buffer + length, sizeof buffer - length);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        fit = got == 0;
        break;
      }
      length += static_cast<std::size_t>(got);
      if (length == sizeof buffer) break;
    }
    fit = fit && length <= kClientStatusMaxSize;
    if (fit) bytes.assign(buffer, length);
  }
  ::close(descriptor);
  return fit;
}

bool isCurrent(std::int32_t pid, std::uint64_t started) {
  std::uint64_t now = 0;
  return processStartTime(pid, now) && now == started;
}

// Lists the folder; `each` gets every name of ours with its parts, and the
// files of ended processes are removed on the way.
template <typename Each>
void forEachFile(const std::string& profileDirectory, Each each) {
  const int folder = openFolder(clientStatusFolder(profileDirectory));
  if (folder < 0) return;
  DIR* listing = ::fdopendir(folder);
  if (listing == nullptr) {
    ::close(folder);
    return;
  }
  while (const dirent* entry = ::readdir(listing)) {
    std::string component;
    std::int32_t pid = 0;
    std::uint64_t started = 0;
    bool temporary = false;
    if (!parseFileName(entry->d_name, component, pid, started, temporary)) continue;
    if (!isCurrent(pid, started)) {
      ::unlinkat(folder, entry->d_name, 0);
    } else if (!temporary) {
      each(folder, entry->d_name, component, pid, started);
    }
  }
  ::closedir(listing);
}

}  // namespace

std::string clientStatusFolder(const std::string& profileDirectory) { return profileDirectory + "/clients"; }

// /proc/<pid>/stat reads "<pid> (<command>) <state> <ppid> ..."; the command
// may hold blanks and parentheses, so the fields are counted from the last
// ")". The start time is the 22nd field, the 20th after the command.
bool processStartTime(std::int32_t pid, std::uint64_t& started) {
  if (pid <= 0) return false;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  char text[1024];
  ssize_t length = -1;
  while ((length = ::read(descriptor, text, sizeof text - 1)) < 0 && errno == EINTR) {
  }
  ::close(descriptor);
  if (length <= 0) return false;
  text[length] = '\0';
  const char* at = std::strrchr(text, ')');
  if (at == nullptr || at[1] != ' ' || at[2] == 'Z' || at[2] == 'X' || at[2] == '\0') return false;
  at += 2;
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

int publishClientStatus(const std::string& profileDirectory, const ClientStatus& status) {
  const std::string path = clientStatusFolder(profileDirectory);
  int folder = openFolder(path);
  if (folder < 0 && errno == ENOENT) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    folder = openFolder(path);
  }
  if (folder < 0) return errno;
  const std::string name = fileName(status);
  const std::string temporary = name + kTemporary;
  int error = 0;
  const int descriptor =
      ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    error = errno;
  } else {
    struct stat file;
    if (::fstat(descriptor, &file) != 0) {
      error = errno;
    } else if (!S_ISREG(file.st_mode)) {
      error = EPERM;
    } else if (!writeAll(descriptor, formatClientStatus(status))) {
      error = errno;
    }
    if (::close(descriptor) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error == 0 && ::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) error = errno;
    if (error != 0) ::unlinkat(folder, temporary.c_str(), 0);
  }
  ::close(folder);
  return error;
}

void withdrawClientStatus(const std::string& profileDirectory, const ClientStatus& status) {
  const int folder = openFolder(clientStatusFolder(profileDirectory));
  if (folder < 0) return;
  ::unlinkat(folder, fileName(status).c_str(), 0);
  ::close(folder);
}

std::vector<ClientStatus> readClientStatuses(const std::string& profileDirectory, const std::string& component) {
  std::vector<ClientStatus> statuses;
  forEachFile(profileDirectory, [&](int folder, const char* name, const std::string& owner, std::int32_t pid,
                                    std::uint64_t started) {
    if (owner != component) return;
    std::string bytes;
    std::string problem;
    ClientStatus status;
    // A file must say what its name says: one copied or renamed into place
    // would otherwise speak for another process.
    if (readStatusFile(folder, name, bytes) && parseClientStatus(bytes, status, problem) &&
        status.component == component && status.pid == pid && status.started == started) {
      statuses.push_back(std::move(status));
    }
  });
  std::sort(statuses.begin(), statuses.end(),
            [](const ClientStatus& a, const ClientStatus& b) { return a.pid < b.pid; });
  return statuses;
}

void removeEndedClientStatuses(const std::string& profileDirectory) {
  forEachFile(profileDirectory, [](int, const char*, const std::string&, std::int32_t, std::uint64_t) {});
}

}  // namespace NEBRIX
