// Where the store's files are.
//
// Three values decide: system name, data path and key path. An explicit
// configuration (MERO_RSecSSFsSetConfiguration), once set, is the only
// source. Otherwise the profile hook (MERO_vxrgparam) and the environment
// variables VXRSYSTEMNAME, RSEC_SSFS_DATAPATH and RSEC_SSFS_KEYPATH are
// asked: without a profile system name all three variables must be set and
// non-empty; with one, each non-empty variable overrides its profile value.
// An empty text counts as absent. The five file names are plain
// concatenations ("<dir>/SSFS_<system>.DAT" and siblings); a directory that
// ends in "/" gives a double slash.
//
// Each public call resolves the configuration once at entry into the call
// cache; every request within the call gets the cached record, and only the
// call's exit frees it. So configuration changes take effect at the next call.
#pragma once

#include "securestore/rsecssfs.h"

struct rsecssfsConfiguration {
  char* pDataFile;
  char* pDataFileBackup;
  char* pKeyFile;
  char* pKeyFileBackup;
  char* pLockFile;
};

// On success *config is the resolved file set (the cached one within a
// call); on failure null, with RC -2 (configuration incomplete) or -9.
RSEC_SSFS_RC rsecssfs_getConfiguration(rsecssfsConfiguration** config);

// Frees a file set. Null is ignored; the cached record only goes with force.
void rsecssfs_releaseConfiguration(rsecssfsConfiguration* config, bool force);

// Resolves the configuration into the call cache (API entry), and releases
// and empties it (API exit).
void rsecssfs_fillConfigurationCache();
void rsecssfs_emptyConfigurationCache();

// 0, or -6 with a message when a data or key backup file exists (or a link,
// a directory, a FIFO or an unreadable file under its name): a conversion
// ended halfway, and updates wait until a person has looked.
RSEC_SSFS_RC rsecssfs_checkForExistingBackupFiles();

// Profile-parameter lookup. There is no profile behind it: always null.
const char* MERO_vxrgparam(const char* name);

// Test seam: forgets the explicit configuration and switches the
// environment evaluation on again, as at program start.
void rsecssfs_resetConfigurationForTesting();
