#include "profile/console_history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/error_code_table.h"
#include "base/exception.h"
#include "base/system_error.h"
#include "base/text_output.h"
#include "profile/file_lock.h"
#include "profile/user_profile.h"
#include "securestore/file_writes.h"
#include "securestore/regular_file.h"

namespace NEBRIX {

const char ConsoleHistory::EMPTY_RECORD[RECORD_SIZE + 1] =
    "1970-01-01 00:00:00.000000 -------------------- ---------- "
    "------------------------------------------------------------\n";

namespace {

// Closes the file when it goes out of scope.
struct FileCloser {
  FILE* file;
  ~FileCloser() {
    if (file != nullptr) fclose(file);
  }
};

// One line on standard error: the entry is lost, the command's result stands.
void reportLostEntry(const std::string& path, int rc) {
  ltt::exception ex(__FILE__, __LINE__, NEBRIX__ERR_NEBRIX_HISTORY_WRITE_FAILED());
  ex << ltt::msgarg_text("file", path.c_str()) << ltt::msgarg_sysrc(rc);
  Text::err << "Warning: " << ltt::expandedText(ex) << Text::endl;
}

// Closes the descriptor when it goes out of scope.
struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() {
    if (fd >= 0) close(fd);
  }
  int release() {
    const int kept = fd;
    fd = -1;
    return kept;
  }
};

// Reads up to `size` bytes from the start; the count read, and in `error`
// the errno of a read that failed (0 when the file only came up short).
size_t readFully(int fd, unsigned char* target, size_t size, int& error) {
  size_t done = 0;
  error = 0;
  while (done < size) {
    const ssize_t n = pread(fd, target + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// The offset of the record a new entry goes over: the one with the smallest
// time stamp and the blank after it, compared byte by byte; of equals the
// first. Returns 0, or the errno of a file too short to hold the keys.
int findOldestRecord(int fd, size_t& slot) {
  constexpr size_t kRecord = ConsoleHistory::RECORD_SIZE;
  constexpr size_t kKeySize = ConsoleHistory::TIMESTAMP_SIZE + 1;
  std::vector<unsigned char> content(ConsoleHistory::FILE_SIZE);
  const size_t needed = (ConsoleHistory::RECORD_COUNT - 1) * kRecord + kKeySize;
  int rc = 0;
  if (readFully(fd, content.data(), content.size(), rc) < needed) return rc != 0 ? rc : EIO;
  unsigned char minimum[kKeySize];
  memset(minimum, 'X', kKeySize);
  slot = 0;
  for (size_t i = 0; i < ConsoleHistory::RECORD_COUNT; ++i) {
    const unsigned char* key = content.data() + i * kRecord;
    if (memcmp(key, minimum, kKeySize) < 0) {
      memcpy(minimum, key, kKeySize);
      slot = i * kRecord;
    }
  }
  return 0;
}

// The slot is chosen and written under the lock: a console logging at the
// same moment chooses after this entry is in place, never the same slot.
// Returns 0 or the errno for which the entry is lost.
int writeEntry(const std::string& path, const std::string& record) {
  const int fd = rsecssfs_openRegularFile(path.c_str(), O_RDWR);
  if (fd < 0) return errno;
  DescriptorCloser closer{fd};
  int rc = lockExclusiveWithin(fd, ConsoleHistory::LOCK_WAIT_SECONDS);
  size_t slot = 0;
  if (rc == 0) rc = findOldestRecord(fd, slot);
  if (rc != 0) return rc;
  errno = 0;
  if (!rsecssfs_writeAt(fd, static_cast<long>(slot), record.data(), record.size())) rc = errno != 0 ? errno : EIO;
  // A full disk may show only at the close, which therefore counts; the
  // close also ends the lock.
  if (close(closer.release()) != 0 && rc == 0) rc = errno;
  return rc;
}

}  // namespace

std::string formatHistoryRecord(const char* timestamp, int32_t pid, const char* user, const char* action) {
  char pidText[16] = "";
  if (pid != 0) snprintf(pidText, sizeof pidText, "%d", pid);
  char record[ConsoleHistory::RECORD_SIZE + 1];
  snprintf(record, sizeof record, "%-26.26s %20.20s %10.10s %-60.60s\n", timestamp ? timestamp : "",
           user ? user : "", pidText, action ? action : "");
  return std::string(record, ConsoleHistory::RECORD_SIZE);
}

ConsoleHistory::~ConsoleHistory() { undoPrepare(); }

void ConsoleHistory::prepare(const char* component, const char* hostname, const char* username,
                             Prepare_mode mode) {
  undoPrepare();
  SecureStore::UserProfile::checkComponent(component);
  m_component = component;
  m_hostname = hostname ? hostname : "";
  m_user.clear();
  if (username == nullptr) {
    SecureStore::UserProfile::getUserProfilePath(m_file, m_hostname, false, false);
  } else {
    m_user = username;
    SecureStore::UserProfile::openUserProfilePath(m_file, m_user, m_hostname, false);
    m_profilepath_opened = true;
  }
  m_file += "/" + m_component + ".his";

  if (mode == PREPARE_RECREATE || (mode == PREPARE_CREATE_IF_NEEDED && !isHistoryFileValid())) {
    createInitialHistoryFile(mode == PREPARE_RECREATE);
  }
}

// Valid is a file that opens for reading and has the right size: one that
// cannot be read (mode 0200, say) is made afresh like one of the wrong size.
bool ConsoleHistory::isHistoryFileValid() {
  const int fd = rsecssfs_openRegularFile(m_file.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat info;
  const bool valid = fstat(fd, &info) == 0 && info.st_size == static_cast<off_t>(FILE_SIZE);
  close(fd);
  return valid;
}

// Created with 0600 from the start: the history is never readable by others,
// not even for a moment. Nothing is written through a link or into anything
// but a regular file; the entry that follows reports why it cannot be written.
// A file of the user's own that cannot even be opened for writing (mode 0000)
// is given 0600 and then used as it is when its size is right. Another
// console may be logging into the file, or may have made it afresh a moment
// ago: it is only made afresh under the lock, and only when it still must be.
// The empty records are written over the old bytes before any surplus is cut
// off, so a reader never finds the file short.
void ConsoleHistory::createInitialHistoryFile(bool always) {
  constexpr int kFlags = O_WRONLY | O_CREAT;
  int fd = rsecssfs_openRegularFile(m_file.c_str(), kFlags, 0600);
  if (fd < 0 && errno == EACCES && rsecssfs_makeProfileFilePrivate(m_file.c_str())) {
    fd = rsecssfs_openRegularFile(m_file.c_str(), kFlags, 0600);
  }
  if (fd < 0) return;
  DescriptorCloser closer{fd};
  if (lockExclusiveWithin(fd, LOCK_WAIT_SECONDS) != 0 || (!always && isHistoryFileValid())) return;
  validateAndAdjustPermissions(fd);
  std::string content;
  content.reserve(FILE_SIZE);
  for (size_t i = 0; i < RECORD_COUNT; ++i) content.append(EMPTY_RECORD, RECORD_SIZE);
  if (!rsecssfs_writeAt(fd, 0, content.data(), content.size())) return;
  // A surplus that cannot be cut off makes the next console start afresh.
  [[maybe_unused]] const int cut = ftruncate(fd, static_cast<off_t>(FILE_SIZE));
}

// Through the descriptor that was opened: a name could meanwhile be a link.
void ConsoleHistory::validateAndAdjustPermissions(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0) {
    sendSysErrMsgToStdErr();
    memset(&info, 0, sizeof info);
  }
  if ((info.st_mode & 0777) == 0600) return;
  if (fchmod(fd, 0600) != 0) sendSysErrMsgToStdErr();
}

void ConsoleHistory::sendSysErrMsgToStdErr() {
  char text[256];
  Diagnose::getSystemErrorMessage(errno, text, sizeof text);
  Text::err << text << Text::endl;
}

int ConsoleHistory::logAction(const char* timestamp, int32_t pid, const char* user, const char* action,
                              bool report) {
  const int rc = writeEntry(m_file, formatHistoryRecord(timestamp, pid, user, action));
  if (rc != 0 && report) reportLostEntry(m_file, rc);
  return rc;
}

int ConsoleHistory::getHistory(char* target, int32_t size, int32_t& entries) {
  entries = 0;
  if (target == nullptr || size < 0) return 1;
  FileCloser f{rsecssfs_openRegularStream(m_file.c_str(), "rb")};
  if (f.file == nullptr) return 1;
  size_t count = static_cast<size_t>(size) / RECORD_SIZE;
  if (count > RECORD_COUNT) count = RECORD_COUNT;
  if (fread(target, RECORD_SIZE, count, f.file) != count) return 1;
  entries = static_cast<int32_t>(count);
  return 0;
}

void ConsoleHistory::undoPrepare() {
  if (!m_profilepath_opened) return;
  m_profilepath_opened = false;
  // Handing the file back is best effort; the command's result stands.
  try {
    SecureStore::UserProfile::setOwner(m_file, m_user);
  } catch (...) {
  }
  try {
    SecureStore::UserProfile::closeUserProfilePath(m_user, m_hostname, false);
  } catch (...) {
  }
}

}  // namespace NEBRIX
