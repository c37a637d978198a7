// Building grown stores for benchmarks: every change appends a record and
// marks the one before it deleted, so the data file grows until a writer
// compacts it; these files look as if that had not happened yet.
#pragma once

#include <cstddef>
#include <string>

namespace nebrix_bench {

// Writes `value` for `key` as plaintext into the store of `directory`
// (system "ORQ"); returns false when the store refuses.
bool putRecord(const std::string& directory, const char* key, const char* value);

// Rewrites the data file of `directory` so that its last record, which must
// be active, stands after `copies` deleted copies of itself: the same file a
// long series of changes of that key would have left behind.
bool supersedeLastRecord(const std::string& directory, size_t copies);

}  // namespace nebrix_bench
