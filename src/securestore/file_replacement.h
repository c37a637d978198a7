// Replacing a file of the store as a whole: the new file is written beside
// the old one, synced, renamed over it, and the directory synced. A reader
// finds the old file or the new one, never a part of either; one that has
// the old file open keeps reading it unchanged. Conversions and compactions
// replace the data file this way, under the lock.
#pragma once

#include <cstdio>
#include <string>

#include "securestore/rsecssfs.h"

// The name of the file that is to replace `path` while it is written.
std::string rsecssfs_successorName(const char* path);

// Flushes the stream and the file's data to disk; false when either fails.
bool rsecssfs_flushToDisk(FILE* file);

// Syncs the directory that holds `path`, so that a rename in it lasts.
void rsecssfs_syncDirectoryOf(const char* path);

// Creates the file `name` that is to replace `original`, with the owner and
// the permission bits of `original` (or the process's defaults, when there
// is none; an owner that cannot be given stays the process's user). When new
// files go to their directory's owner (file_owner.h), the owner is that one
// instead, and a file that cannot be given away is a failure. A file
// of that name is what a replacement which died left behind: under the lock
// nobody else writes it, so it goes first. Returns the descriptor, open for
// writing, or -1 with errno set; *made is set once the file exists.
int rsecssfs_createSuccessor(const std::string& name, const char* original, bool* made);

// Renames `from` over `to` and syncs the directory; *made is cleared once
// `from` is gone. -3 with a message naming the data or key file on failure.
RSEC_SSFS_RC rsecssfs_replaceFile(const std::string& from, const char* to, bool isKeyFile, bool* made);
