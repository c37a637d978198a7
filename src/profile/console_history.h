// The console's usage history: the last 100 logged commands in a ring of
// fixed-width text records, the file <profile directory>/<component>.his.
//
// The file is exactly 12000 bytes, 100 records of 120 bytes, no header, mode
// 0600. A record is one line:
//   bytes   0-25  time stamp "YYYY-MM-DD hh:mm:ss.uuuuuu" (local time)
//   byte     26   space
//   bytes  27-46  user the command was issued for, right-aligned (blank: self)
//   byte     47   space
//   bytes  48-57  process id the command addressed, right-aligned (blank: none)
//   byte     58   space
//   bytes 59-118  command text, left-aligned, blank-padded
//   byte    119   newline
// An empty record carries the time stamp 1970-01-01 00:00:00.000000 and
// dashes in the other fields, so it sorts before every real entry. A new
// entry overwrites the record with the smallest time stamp (the first of
// equals), so a fresh file fills from the front and a full one drops its
// oldest entry. A file of any other size, or one that cannot be opened for
// reading, is replaced by a fresh one before the next entry is written; one
// that cannot be opened at all (mode 0000) but is the user's own is given
// mode 0600 instead, so that the entry can be written. The file is only ever
// opened as a regular file and never through a symbolic link.
//
// Consoles that log at the same moment exclude each other: choosing the slot
// and writing it, and replacing the file, happen under an exclusive flock(2)
// on the descriptor of the history file itself, so no entry overwrites
// another's and none is torn. A console waits up to LOCK_WAIT_SECONDS for the
// lock; then the entry is lost and reported with rc=11 (EWOULDBLOCK). Readers
// take no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace NEBRIX {

class ConsoleHistory {
 public:
  enum Prepare_mode {
    PREPARE_CREATE_IF_NEEDED = 0,  // create the file unless it has the right size
    PREPARE_RECREATE = 1,          // always start a fresh file
    PREPARE_READ = 2,              // only locate the file
  };

  static constexpr size_t RECORD_SIZE = 120;
  static constexpr size_t RECORD_COUNT = 100;
  static constexpr size_t FILE_SIZE = RECORD_SIZE * RECORD_COUNT;
  static constexpr size_t TIMESTAMP_SIZE = 26;
  static constexpr int LOCK_WAIT_SECONDS = 3;
  static const char EMPTY_RECORD[RECORD_SIZE + 1];
  // An empty record has dashes where a real one has its user field.
  static bool isEmptyRecord(const char* record) { return record[TIMESTAMP_SIZE + 1] == '-'; }

  ConsoleHistory() = default;
  ~ConsoleHistory();
  ConsoleHistory(const ConsoleHistory&) = delete;
  ConsoleHistory& operator=(const ConsoleHistory&) = delete;

  // Locates the history file of `component` in the profile directory and,
  // depending on `mode`, creates it. Throws ltt::exception when `component`
  // is not a plain name (UserProfile::checkComponent), when the profile
  // directory cannot be had, and always when a `username` is given: acting
  // for another user is not supported.
  void prepare(const char* component, const char* hostname, const char* username, Prepare_mode mode);

  // Writes one entry over the oldest record. Fields longer than their column
  // are cut, so every record keeps its width and its newline. Returns 0, or
  // the system error for which the entry could not be written; with
  // `report`, that is also said in one line on standard error, naming the
  // file and the error. The history never stops a command.
  int logAction(const char* timestamp, int32_t pid, const char* user, const char* action, bool report = true);

  // Copies up to `size` / 120 records (at most 100) in file order into
  // `target` and sets `entries`. Returns 0, or 1 when the file cannot be
  // read or holds fewer records than asked for.
  int getHistory(char* target, int32_t size, int32_t& entries);

  const std::string& fileName() const { return m_file; }

 private:
  bool isHistoryFileValid();
  void createInitialHistoryFile(bool always);
  void validateAndAdjustPermissions(int fd);
  void sendSysErrMsgToStdErr();
  void undoPrepare();

  std::string m_component;
  std::string m_user;
  std::string m_hostname;
  std::string m_file;
  bool m_profilepath_opened = false;
};

// Formats one history record of exactly RECORD_SIZE bytes (newline included).
std::string formatHistoryRecord(const char* timestamp, int32_t pid, const char* user, const char* action);

}  // namespace NEBRIX
