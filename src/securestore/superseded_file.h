// Letting go of a large data file that a compaction replaced.
//
// The kernel frees a file's blocks and cached pages when its last name and
// its last descriptor are gone, in the process that lets go last. For a
// data file that grew to hundreds of megabytes (as stores did before
// writers compacted them) that takes longer than everything else a command
// does. So before such a file is replaced, the writer gives it a second name
// beside the data file, `SSFS_ORQ.DAT.old`; once the writer has closed it,
// a process of its own removes that name and with it the file, while the
// command finishes. The second name is never anything but the replaced file
// or, before the rename, a second name of the data file itself, so removing
// it never loses a record; a name left by a process that died is released
// by the next writer.
#pragma once

#include <string>

// From this size on, the replaced file is let go of by another process;
// smaller files are freed faster than a process starts.
constexpr long kSupersededReleaseSize = 8L * 1024 * 1024;

// The second name of the replaced data file `path`.
std::string rsecssfs_supersededName(const char* path);

// Before the data file `path`, open as `fd`, is replaced: when it is large,
// gives it its second name; returns whether it has one. A file left under
// that name goes first.
bool rsecssfs_keepSuperseded(const char* path, int fd);

// Once the writer has closed the replaced file: removes its second name in a
// process of its own that holds nothing else of this one (no descriptor, no
// controlling terminal), so that nobody waits for it. Without a process, the
// name is removed here.
void rsecssfs_releaseSuperseded(const std::string& name);

// Releases a replaced file that is still there: one whose remover died, or,
// when changes follow each other closely, one whose remover has not yet
// come to it.
void rsecssfs_releaseLeftSuperseded(const char* path);
