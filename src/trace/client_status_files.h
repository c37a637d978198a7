// Where client processes keep what they tell about themselves: one small
// file per process, "<profile directory>/clients/<component>-<pid>-<started>",
// replaced as a whole (written to "<name>.tmp", then renamed) whenever the
// process's status changes, and removed when the process closes the library.
//
// A file is current only while its process holds a write lock on it
// (fcntl(2)): such a lock belongs to the process, so it ends with the
// process, is not inherited by a child of fork, and is let go by exec (the
// descriptor is closed on exec), and the lock's holder must be the process
// the name names. No look at /proc is needed. The start time in the name
// keeps apart the files of two processes that had the same id. Files of
// ended processes, and their leftover ".tmp" files, are removed by whoever
// lists the folder.
//
// The folder follows the rules of the profile directory: a real directory,
// not a link, owned by the user and writable by nobody else. Files are
// opened without following links, and read only when they are regular files
// of the user no larger than kClientStatusMaxSize.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace/client_status.h"

namespace NEBRIX {

// "<profile directory>/clients".
std::string clientStatusFolder(const std::string& profileDirectory);

// The start time of process `pid` in clock ticks after boot. False when no
// such process runs (ended, or exited and waiting to be reaped) or it cannot
// be looked at.
bool processStartTime(std::int32_t pid, std::uint64_t& started);

// The lock a process holds on the file it published last, through a
// descriptor of its own. Destroyed, it lets the lock go.
class StatusFileLock {
 public:
  StatusFileLock() = default;
  StatusFileLock(const StatusFileLock&) = delete;
  StatusFileLock& operator=(const StatusFileLock&) = delete;
  ~StatusFileLock() { release(); }
  // Takes `descriptor`, which holds the lock on the file now published, and
  // closes the one before.
  void replace(int descriptor);
  // Closes the descriptor, unless the program closed it and the number now
  // stands for another file of its own.
  void release();

 private:
  int m_descriptor = -1;
  std::uint64_t m_device = 0;
  std::uint64_t m_inode = 0;
};

// Writes `status` as the file of its process, making the folder (mode 0700)
// when it is missing, and moves `lock` to it. 0, or the errno of what failed.
int publishClientStatus(const std::string& profileDirectory, const ClientStatus& status, StatusFileLock& lock);
// Removes the file of `status`'s process and lets its lock go.
void withdrawClientStatus(const std::string& profileDirectory, const ClientStatus& status, StatusFileLock& lock);

// The statuses of the running processes of `component`, sorted by pid.
// Files of ended processes are removed; files that are damaged, not the
// user's or not regular are left alone and not listed. A missing or unfit
// folder lists nothing.
std::vector<ClientStatus> readClientStatuses(const std::string& profileDirectory, const std::string& component);
// Removes the files of ended processes only.
void removeEndedClientStatuses(const std::string& profileDirectory);

}  // namespace NEBRIX
