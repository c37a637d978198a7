#include "private_home.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace nebrix_fuzz {

namespace {

// The home directory, and the process it was made for: a child that
// libFuzzer starts inherits the environment but has another process id.
const char* const kHomeVariable = "NEBRIX_FUZZ_HOME";
const char* const kOwnerVariable = "NEBRIX_FUZZ_HOME_OWNER";

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "private home: %s\n", what.c_str());
  abort();
}

std::string prepended(const char* variable, const std::string& value, const char* separator) {
  const char* old = getenv(variable);
  return old != nullptr && *old != '\0' ? value + separator + old : value;
}

std::string appended(const char* variable, const std::string& value, const char* separator) {
  const char* old = getenv(variable);
  return old != nullptr && *old != '\0' ? std::string(old) + separator + value : value;
}

// In the child, before exec: the environment of the parent plus nss_wrapper.
[[noreturn]] void execUnder(const std::string& root, char** argv) {
  // An orphaned target would go on fuzzing in a directory that is gone.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  setenv("LD_PRELOAD", prepended("LD_PRELOAD", NEBRIX_NSS_WRAPPER_LIBRARY, ":").c_str(), 1);
  setenv("NSS_WRAPPER_PASSWD", (root + "/passwd").c_str(), 1);
  setenv("NSS_WRAPPER_GROUP", (root + "/group").c_str(), 1);
  // The sanitizer runtime must not object to nss_wrapper being preloaded.
  setenv("ASAN_OPTIONS", appended("ASAN_OPTIONS", "verify_asan_link_order=0", ":").c_str(), 1);
  setenv(kHomeVariable, (root + "/home").c_str(), 1);
  setenv(kOwnerVariable, std::to_string(getpid()).c_str(), 1);
  execv("/proc/self/exe", argv);
  perror("private home: exec");
  _exit(127);
}

bool startedUnderPrivateHome() {
  const char* owner = getenv(kOwnerVariable);
  return owner != nullptr && getenv(kHomeVariable) != nullptr && std::to_string(getpid()) == owner;
}

}  // namespace

void runUnderPrivateHome(char** argv) {
  if (startedUnderPrivateHome()) {
    const struct passwd* entry = getpwuid(geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr || std::string(entry->pw_dir) != getenv(kHomeVariable)) {
      fail("the user database does not yield the private home; is nss_wrapper missing?");
    }
    return;
  }

  char pattern[] = "/tmp/nebrix-fuzz-home-XXXXXX";
  if (mkdtemp(pattern) == nullptr) fail("mkdtemp failed");
  const std::string root = pattern;
  if (mkdir((root + "/home").c_str(), 0700) != 0) fail("mkdir failed");
  std::ofstream(root + "/passwd") << "nebrixfuzz:x:" << geteuid() << ":" << getegid()
                                  << ":Fuzz User:" << root << "/home:/bin/sh\n";
  std::ofstream(root + "/group") << "nebrixfuzz:x:" << getegid() << ":\n";

  fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) fail("fork failed");
  if (child == 0) execUnder(root, argv);

  // Ctrl-C reaches the whole process group; the target handles it and ends.
  signal(SIGINT, SIG_IGN);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

const std::string& profileDirectory() {
  static const std::string directory = [] {
    const struct passwd* entry = getpwuid(geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr) fail("no user database entry");
    struct utsname names;
    if (uname(&names) != 0) fail("uname failed");
    const std::string orq = std::string(entry->pw_dir) + "/.orq";
    const std::string path = orq + "/" + names.nodename;
    mkdir(orq.c_str(), 0700);
    mkdir(path.c_str(), 0700);
    return path;
  }();
  return directory;
}

void writeWholeFile(const std::string& path, const void* data, size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fail("cannot write " + path);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail("cannot write " + path);
    p += n;
    size -= static_cast<size_t>(n);
  }
  close(fd);
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace nebrix_fuzz
