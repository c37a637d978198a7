#include "trace/counter_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "securestore/file_writes.h"
#include "securestore/regular_file.h"

namespace NEBRIX {

namespace {

const char kVersionLine[] = "NEBRIX profile 1";

bool isNameByte(char byte) { return byte >= 0x21 && byte <= 0x7e; }

bool isValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxCounterNameSize && std::all_of(name.begin(), name.end(), isNameByte);
}

// The whole of `text` as a decimal number within [min, max], written as the
// writer writes it: no blank, no '+', no leading zero, no "-0", so that each
// value has one spelling. from_chars reports overflow.
bool parseNumber(std::string_view text, int64_t min, int64_t max, int64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  const size_t first = !text.empty() && text[0] == '-' ? 1 : 0;
  const bool canonical = first < text.size() && (text[first] != '0' || text == "0");
  return error == std::errc() && stop == end && canonical && value >= min && value <= max;
}

bool fail(std::string* problem, size_t line, const char* reason) {
  if (problem != nullptr) *problem = (line > 0 ? "line " + std::to_string(line) + ": " : std::string()) + reason;
  return false;
}

// One "<name> <value>" line into `counter`; the reason when it is not one.
const char* parseCounter(std::string_view line, NamedCounter& counter) {
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return "no blank between name and value";
  if (!isValidName(line.substr(0, blank))) return "invalid counter name";
  if (!parseNumber(line.substr(blank + 1), INT64_MIN, INT64_MAX, counter.value)) return "invalid counter value";
  counter.name.assign(line.data(), blank);
  return nullptr;
}

// "<pattern>" with every "%p" replaced by `digits`, read from left to right
// as a writer replaces it.
std::string withProcessId(const std::string& pattern, const std::string& digits) {
  std::string name;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'p') {
      name += digits;
      ++i;
    } else {
      name += pattern[i];
    }
  }
  return name;
}

// Every "%p" stands for the same process id, so the digits at the first one
// decide: each run of digits there is tried in full, which keeps a name of
// many digits from costing more than a few comparisons per digit.
bool matchesPattern(const std::string& pattern, const std::string& name) {
  const size_t first = pattern.find("%p");
  if (first == std::string::npos) return pattern == name;
  if (name.compare(0, first, pattern, 0, first) != 0) return false;
  for (size_t end = first; end < name.size() && name[end] >= '0' && name[end] <= '9'; ++end) {
    if (withProcessId(pattern, name.substr(first, end + 1 - first)) == name) return true;
  }
  return false;
}

// Reads at most `limit` bytes; false with errno set on a read error.
bool readAtMost(int fd, size_t limit, std::string& bytes) {
  char buffer[65536];
  while (bytes.size() < limit) {
    const ssize_t got = read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

// Writes `text` into the new file `temporary` and renames it over `path`;
// the errno of the step that failed, or 0.
int replaceFile(const std::string& temporary, const std::string& path, const std::string& text) {
  const int fd = rsecssfs_openRegularFile(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return errno;
  errno = 0;
  int error = rsecssfs_writeAll(fd, text.data(), text.size()) ? 0 : (errno != 0 ? errno : EIO);
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) unlink(temporary.c_str());
  return error;
}

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};

}  // namespace

std::string formatCounterFile(const ProcessCounters& data) {
  std::string text = std::string(kVersionLine) + "\npid " + std::to_string(data.pid) + "\n";
  for (const NamedCounter& counter : data.counters) {
    text += counter.name + ' ' + std::to_string(counter.value) + '\n';
  }
  return text;
}

bool parseCounterFile(const std::string& bytes, ProcessCounters& data, std::string* problem) {
  if (bytes.size() > kMaxCounterFileSize) return fail(problem, 0, "larger than 1 MiB");
  if (!bytes.empty() && bytes.back() != '\n') return fail(problem, 0, "the last line is not ended");
  ProcessCounters parsed{0, {}};
  std::unordered_set<std::string_view> names;
  const std::string_view text(bytes);
  size_t line = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string_view content = text.substr(at, end - at);
    at = end + 1;
    ++line;
    int64_t pid = 0;
    if (line == 1) {
      if (content != kVersionLine) return fail(problem, line, "not \"NEBRIX profile 1\"");
    } else if (line == 2) {
      if (content.substr(0, 4) != "pid " || !parseNumber(content.substr(4), 1, INT32_MAX, pid)) {
        return fail(problem, line, "not \"pid <process id>\"");
      }
      parsed.pid = static_cast<int32_t>(pid);
    } else {
      NamedCounter counter;
      if (const char* reason = parseCounter(content, counter)) return fail(problem, line, reason);
      if (!names.insert(content.substr(0, counter.name.size())).second) {
        return fail(problem, line, "the counter name appears twice");
      }
      parsed.counters.push_back(std::move(counter));
    }
  }
  if (line < 2) return fail(problem, 0, line == 0 ? "empty" : "no pid line");
  data = std::move(parsed);
  return true;
}

std::string validCounterName(const char* name) {
  std::string valid(name != nullptr ? name : "");
  if (valid.size() > kMaxCounterNameSize) valid.resize(kMaxCounterNameSize);
  for (char& byte : valid) {
    if (!isNameByte(byte)) byte = '_';
  }
  return valid.empty() ? "_" : valid;
}

bool writeCounterFile(const std::string& path, const ProcessCounters& data, int& error) {
  const std::string text = formatCounterFile(data);
  ProcessCounters check;
  if (text.size() > kMaxCounterFileSize || !parseCounterFile(text, check)) {
    error = text.size() > kMaxCounterFileSize ? EFBIG : EINVAL;
    return false;
  }
  const std::string temporary = path + "." + std::to_string(getpid()) + ".tmp";
  // One left by a process of the same id that died while writing.
  unlink(temporary.c_str());
  error = replaceFile(temporary, path, text);
  return error == 0;
}

bool readCounterFile(const std::string& path, ProcessCounters& data, std::string& problem) {
  const int fd = rsecssfs_openRegularFile(path.c_str(), O_RDONLY);
  if (fd < 0) {
    problem = rsecssfs_fileErrorText(errno);
    return false;
  }
  struct stat status;
  std::string bytes;
  // One byte more than allowed tells a file that is too large.
  const bool read = fstat(fd, &status) == 0 && readAtMost(fd, kMaxCounterFileSize + 1, bytes);
  const int error = errno;
  close(fd);
  if (!read) {
    problem = rsecssfs_fileErrorText(error);
    return false;
  }
  // Anyone may make a file of a matching name in a directory such as /tmp.
  if (status.st_uid != geteuid()) {
    problem = "owned by another user";
    return false;
  }
  return parseCounterFile(bytes, data, &problem);
}

std::vector<std::string> findCounterFiles(const std::string& directory, const std::string& pattern) {
  std::vector<std::string> paths;
  std::unique_ptr<DIR, DirectoryCloser> listing(opendir(directory.empty() ? "/" : directory.c_str()));
  if (!listing) return paths;
  while (const dirent* entry = readdir(listing.get())) {
    struct stat status;
    if (!matchesPattern(pattern, entry->d_name)) continue;
    if (fstatat(dirfd(listing.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(status.st_mode)) paths.push_back(directory + "/" + entry->d_name);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

}  // namespace NEBRIX
