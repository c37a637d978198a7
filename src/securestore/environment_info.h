// The stamp that records, the key file and the lock file carry: when, by
// which user and from which host they were written.
#pragma once

#include "securestore/rsecssfs.h"

// Current time (big-endian seconds since the epoch), the login name of the
// real user id (at most 24 bytes) and the node name (at most 23 bytes, or
// "<Determination failed>"), both blank-padded.
void rsecssfs_getEnvironmentInfo(rsecssfsEnvironmentInfo* info);
