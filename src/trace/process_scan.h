// Whether a process has one particular file mapped, seen in
// /proc/<pid>/maps by the file's device and inode: a process that mapped the
// file under another name still counts, and one that maps another file of
// the same name does not.
#pragma once

#include <sys/types.h>

#include <string>

#include "trace/process_information.h"

namespace System {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
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

// Whether process `pid`, one of the calling (effective) user's, maps the
// file. False for a process of another user, one that has ended, and one
// the caller may not inspect.
bool processMapsFile(ProcessID pid, const FileIdentity& file);
// Its /proc/<pid>/comm; a process chooses its own, so every byte that is not
// printable ASCII is shown as '?'. "" when it cannot be read.
std::string commandName(ProcessID pid);

}  // namespace System
