// Where client processes keep what they tell about themselves: one small
// file per process, "<profile directory>/clients/<component>-<pid>-<started>",
// replaced as a whole (written to "<name>.tmp", then renamed) whenever the
// process's status changes, and removed when the process closes the library.
//
// The start time in the name tells a file from one of an ended process whose
// id was given to a new one: a file is current only while /proc/<pid>/stat
// shows a running process with that start time. Files of ended processes,
// and their leftover ".tmp" files, are removed by whoever lists the folder.
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

// Writes `status` as the file of its process, making the folder (mode 0700)
// when it is missing. 0, or the errno of what failed.
int publishClientStatus(const std::string& profileDirectory, const ClientStatus& status);
// Removes the file of `status`'s process.
void withdrawClientStatus(const std::string& profileDirectory, const ClientStatus& status);

// The statuses of the running processes of `component`, sorted by pid.
// Files of ended processes are removed; files that are damaged, not the
// user's or not regular are left alone and not listed. A missing or unfit
// folder lists nothing.
std::vector<ClientStatus> readClientStatuses(const std::string& profileDirectory, const std::string& component);
// Removes the files of ended processes only, by their names.
void removeEndedClientStatuses(const std::string& profileDirectory);

}  // namespace NEBRIX
