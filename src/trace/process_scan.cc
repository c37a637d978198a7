#include "trace/process_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "securestore/regular_file.h"

namespace System {

namespace {

// The whole content of a small file of /proc; false when it cannot be read.
bool readProcFile(const std::string& path, std::string& content) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  content.clear();
  char buffer[65536];
  ssize_t n = 0;
  while ((n = ::read(descriptor, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) content.append(buffer, static_cast<size_t>(n));
  }
  ::close(descriptor);
  return n == 0;
}

// A line of maps: "<start>-<end> <perms> <offset> <major>:<minor> <inode> [<path>]",
// the device numbers in hexadecimal, the inode in decimal.
bool lineMapsFile(const char* line, const FileIdentity& file) {
  const char* field = line;
  for (int skip = 0; skip < 3; ++skip) {
    field = strchr(field, ' ');
    if (field == nullptr) return false;
    ++field;
  }
  char* end = nullptr;
  const unsigned long major = strtoul(field, &end, 16);
  if (*end != ':') return false;
  const unsigned long minor = strtoul(end + 1, &end, 16);
  if (*end != ' ') return false;
  const unsigned long long inode = strtoull(end + 1, &end, 10);
  return inode == file.inode && major == ::major(file.device) && minor == ::minor(file.device);
}

bool mapsFile(const std::string& maps, const FileIdentity& file) {
  size_t start = 0;
  while (start < maps.size()) {
    size_t end = maps.find('\n', start);
    if (end == std::string::npos) end = maps.size();
    if (lineMapsFile(maps.c_str() + start, file)) return true;
    start = end + 1;
  }
  return false;
}

// Whether the process runs `program`: /proc/<pid>/exe names the file it was
// started from, whatever it calls itself.
bool runsProgram(const std::string& directory, const FileIdentity& program) {
  struct stat status;
  return ::stat((directory + "/exe").c_str(), &status) == 0 && status.st_dev == program.device &&
         status.st_ino == program.inode;
}

}  // namespace

bool identifyOwnProgram(FileIdentity& program) {
  struct stat status;
  if (::stat("/proc/self/exe", &status) != 0) return false;
  program = {status.st_dev, status.st_ino};
  return true;
}

bool runsProgram(ProcessID pid, const FileIdentity& program) {
  return runsProgram("/proc/" + std::to_string(pid), program);
}

bool identifyDescriptor(int descriptor, FileIdentity& identity, int& error) {
  struct stat status;
  const bool known = ::fstat(descriptor, &status) == 0;
  error = known ? 0 : errno;
  if (known) identity = {status.st_dev, status.st_ino};
  return known;
}

bool identifyFile(const std::string& path, FileIdentity& identity, int& error) {
  const int descriptor = rsecssfs_openRegularFile(path.c_str(), O_RDONLY);
  if (descriptor < 0) {
    error = errno;
    return false;
  }
  const bool known = identifyDescriptor(descriptor, identity, error);
  ::close(descriptor);
  return known;
}

std::string commandName(ProcessID pid) {
  const std::string directory = "/proc/" + std::to_string(pid);
  std::string name;
  if (!readProcFile(directory + "/comm", name)) return "";
  if (!name.empty() && name.back() == '\n') name.pop_back();
  for (char& c : name) {
    if (c < 0x20 || c > 0x7e) c = '?';
  }
  return name;
}

// Only the user's own processes use the user's file, and only theirs are
// looked at: the maps of a process of another user that happens to be
// readable (as root, all of them) tell nothing of ours.
bool processMapsFile(ProcessID pid, const FileIdentity& file) {
  const std::string directory = "/proc/" + std::to_string(pid);
  struct stat owner;
  if (pid <= 0 || ::stat(directory.c_str(), &owner) != 0 || owner.st_uid != ::geteuid()) return false;
  std::string maps;
  return readProcFile(directory + "/maps", maps) && mapsFile(maps, file);
}

}  // namespace System
