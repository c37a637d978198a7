// Who owns the files the store creates. Normally the process's user, as
// always. An administrator who works on another user's store for that user
// (vaultadm as root on ~user/.orq/<host>) asks for the files to go to the
// owner of the directory they are created in instead: a key, data or lock
// file that belonged to root would lock the user out of the store.
#pragma once

#include <string>

// The directory part of `path`: "." without a slash, "/" for a file at the
// root.
std::string rsecssfs_directoryOf(const char* path);

// Whether the files created from now on are given to their directory's
// owner (see RSecSSFsGiveNewFilesToDirectoryOwner).
bool rsecssfs_newFilesGoToDirectoryOwner();

// Called on every file the store has just created (or opened to create), at
// `path`, open at `fd`: when asked for, gives it to the owner and group of
// its directory through the descriptor, never by name, so that nothing put
// in its place meanwhile is changed. True when nothing had to be done or it
// was done; false with errno set when the file could not be given away.
bool rsecssfs_giveToDirectoryOwner(int fd, const char* path);
