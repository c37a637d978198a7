// The processes that have one particular file mapped, found through
// /proc/<pid>/maps by the file's device and inode: a process that mapped the
// file under another name still counts, and one that maps another file of
// the same name does not.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "trace/process_information.h"

namespace System {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

struct MappingProcess {
  ProcessID pid = 0;
  // /proc/<pid>/comm; a process chooses its own, so every byte that is not
  // printable ASCII is shown as '?'.
  std::string command;
};

// Opens `path` as a profile file (a regular file, not through a link) and
// reads its device and inode. False with `error` set to the errno when the
// file cannot be opened or examined.
bool identifyFile(const std::string& path, FileIdentity& identity, int& error);
// The same for a file already open as `descriptor`.
bool identifyDescriptor(int descriptor, FileIdentity& identity, int& error);

// The program the calling process runs (/proc/self/exe). False when it
// cannot be examined.
bool identifyOwnProgram(FileIdentity& program);
// Whether process `pid` runs `program` (/proc/<pid>/exe); false when that
// cannot be examined.
bool runsProgram(ProcessID pid, const FileIdentity& program);

// Every process of the calling (effective) user that maps the file, sorted
// by pid, except `exclude` and every process that runs `program` (unless it
// is null): a console maps the file too, but is not a client. Processes that
// end while they are looked at, and those the caller may not inspect, are
// left out.
std::vector<MappingProcess> findProcessesMapping(const FileIdentity& file, ProcessID exclude,
                                                 const FileIdentity* program = nullptr);

}  // namespace System
