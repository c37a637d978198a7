// The counter file: the named counters a client process collects, which it
// writes to the file its settings name (users know it as the profile file:
// the configured profile file name with every "%p" replaced by its process
// id) and the console reads for SHOW PROFILE.
//
// Layout (text, lines ended by '\n', at most kMaxCounterFileSize bytes):
//
//   NEBRIX profile 1
//   pid <process id>
//   <name> <value>
//   ...
//
// The first line names the format and its version. <process id> is a decimal
// number from 1 to 2147483647. Then one counter per line, in the order the
// writer keeps them: <name> is 1 to 64 bytes of printable ASCII without the
// blank (0x21-0x7e), unique in the file; one blank; <value> is a signed
// 64-bit decimal number ("-" for negative values; no "+", blank or leading
// zero, the pid likewise). The last line ends with '\n' too, so that a cut
// file does not read as a shorter one. Anything else makes the whole file
// invalid: a reader skips it rather than show a part of it. Each value has
// one spelling, so a valid file is exactly the text formatCounterFile makes
// of what it holds.
//
// The writer replaces the file as a whole (a file beside it, renamed over
// the name), so a reader finds the old content or the new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace NEBRIX {

struct NamedCounter {
  std::string name;
  int64_t value;
};

struct ProcessCounters {
  int32_t pid;
  std::vector<NamedCounter> counters;
};

constexpr size_t kMaxCounterFileSize = 1024 * 1024;
constexpr size_t kMaxCounterNameSize = 64;

// The file's text for `data`, which is not checked here.
std::string formatCounterFile(const ProcessCounters& data);

// Reads `bytes`, which may be anything. True and `data` filled when they are
// valid as above; false otherwise, `data` unchanged and, when `problem` is
// given, a short reason in it ("line 4: name appears twice").
bool parseCounterFile(const std::string& bytes, ProcessCounters& data, std::string* problem = nullptr);

// A valid counter name made of any name, for writers: cut to 64 bytes, every
// byte outside 0x21-0x7e replaced by '_', an empty or null name "_". Two
// names may come out the same; keeping them apart is the caller's part.
std::string validCounterName(const char* name);

// Replaces the file `path` with the file of `data`: written to
// "<path>.<pid of the caller>.tmp" (mode 0600, created afresh, never through
// a symbolic link) and renamed over `path`. There is no fsync: the file is
// rewritten often, and a crash loses only counters of a process that is
// gone. Data that a reader would skip is not written: EINVAL for an invalid
// pid, name or a name twice, EFBIG for more than kMaxCounterFileSize bytes.
// False with `error` set to the errno on failure; the old file then stays.
// No output and no exception but std::bad_alloc. Calls for one path must not
// overlap within a process: they share the temporary file.
bool writeCounterFile(const std::string& path, const ProcessCounters& data, int& error);

// Reads and parses the profile file `path`, opened as a regular file and
// never through a symbolic link or into a FIFO. A file that the effective
// user does not own is not the user's process's and is refused. False when
// it cannot be read or is refused, with the reason in `problem`.
bool readCounterFile(const std::string& path, ProcessCounters& data, std::string& problem);

// The paths ("<directory>/<name>") of the regular files in `directory` (not
// symbolic links) whose names are `pattern` with every "%p" replaced by the
// same decimal digits, as a writer makes its name; sorted by name. A pattern
// without "%p" matches only itself; any other '%' stands for itself. An
// empty directory is the root. A directory that cannot be read has none.
std::vector<std::string> findCounterFiles(const std::string& directory, const std::string& pattern);

}  // namespace NEBRIX
