// Opening the files the programs keep for the user: those of the profile
// directory (data, key, lock, backups, history, shared memory, client
// status and their temporary files) and the trace and profile files a client
// process writes. Such a file is ours only when it is a regular file reached
// without a symbolic link: a link could make a write or a chmod land
// elsewhere, and a FIFO would make the command hang. Every open of such a
// file goes through here.
#pragma once

#include <sys/types.h>

#include <cstdio>

// errno of a file that exists but is not a regular file (a FIFO, a device, a
// socket). The system has no number of its own for this; the message texts of
// the base layer know this one too.
constexpr int RSECSSFS_ENOTREGULAR = 4000;

// open(2) with O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC added, then a check that
// the file is a regular file (O_NONBLOCK stays: it changes nothing for a
// regular file, and clearing it would cost every open two system calls).
// Returns the descriptor, or -1 with errno set: ELOOP for a symbolic link,
// EISDIR for a directory, RSECSSFS_ENOTREGULAR for anything else that is not
// a regular file, or open's own error.
int rsecssfs_openRegularFile(const char* path, int flags, mode_t mode = 0600);

// The same as a stream, for reading ("rb") or update ("r+b") of an existing
// file. Returns nullptr with errno set as above.
FILE* rsecssfs_openRegularStream(const char* path, const char* mode);

// Gives `path` mode 0600 when it is a regular file of the calling user's,
// reached without a symbolic link, whose mode is another: the repair of a
// file that cannot be opened (mode 0000, say) to be written again. The file
// is looked at and changed through one O_PATH descriptor, so that nothing put
// in its place meanwhile is changed instead. Returns true when the mode was
// changed.
bool rsecssfs_makeProfileFilePrivate(const char* path);

// The text for an errno from the calls above.
const char* rsecssfs_fileErrorText(int error);
