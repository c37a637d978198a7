#include "private_home.h"

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
#include <stdexcept>

namespace nebrix_test {

namespace {

const char* const kHomeVariable = "NEBRIX_TEST_HOME";
// The process the home was made for: a child that libFuzzer starts inherits
// the environment but has another process id, so it gets a home of its own.
const char* const kOwnerVariable = "NEBRIX_TEST_HOME_OWNER";

}  // namespace

void removeTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string readFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

int fileMode(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

PrivateHome::PrivateHome() {
  char pattern[] = "/tmp/nebrix-home-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_root = pattern;
  m_home = m_root + "/home";
  std::filesystem::create_directory(m_home);
  std::ofstream(m_root + "/passwd") << "nebrixtest:x:" << geteuid() << ":" << getegid() << ":Test User:" << m_home
                                    << ":/bin/sh\n";
  std::ofstream(m_root + "/group") << "nebrixtest:x:" << getegid() << ":\n";
}

PrivateHome::~PrivateHome() { removeTree(m_root); }

std::vector<std::string> PrivateHome::environment() const {
  std::vector<std::string> env = {
      "PATH=/usr/bin:/bin",
      "LANG=C",
      std::string("LD_PRELOAD=") + NEBRIX_NSS_WRAPPER_LIBRARY,
      "NSS_WRAPPER_PASSWD=" + m_root + "/passwd",
      "NSS_WRAPPER_GROUP=" + m_root + "/group",
      std::string(kHomeVariable) + "=" + m_home,
      // The sanitizer runtime must not object to nss_wrapper being preloaded;
      // the caller's settings come after these and win.
      std::string("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=1") +
          (getenv("ASAN_OPTIONS") != nullptr ? std::string(":") + getenv("ASAN_OPTIONS") : ""),
  };
  for (const char* name : {"UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

void PrivateHome::clear() const {
  for (const auto& entry : std::filesystem::directory_iterator(m_home)) removeTree(entry.path());
}

std::string privateHomeDirectory() {
  const char* home = getenv(kHomeVariable);
  return home != nullptr ? home : "";
}

std::string privateProfileDirectory() {
  struct utsname names;
  uname(&names);
  return privateHomeDirectory() + "/.orq/" + names.nodename;
}

int rerunUnderPrivateHome(int, char** argv) {
  const char* owner = getenv(kOwnerVariable);
  if (owner != nullptr && std::to_string(getpid()) == owner) {
    const struct passwd* entry = getpwuid(geteuid());
    if (entry == nullptr || entry->pw_dir == nullptr || privateHomeDirectory() != entry->pw_dir) {
      fprintf(stderr, "private home: the user database does not yield it; is nss_wrapper missing?\n");
      abort();
    }
    return -1;
  }
  PrivateHome home;
  std::vector<std::string> environment = home.environment();
  fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // An orphan would go on in a home that is gone. SIGKILL ends it in any
    // state, also stopped or held by the sanitizer's leak check at its exit.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    environment.push_back(std::string(kOwnerVariable) + "=" + std::to_string(getpid()));
    std::vector<char*> envp;
    for (std::string& variable : environment) envp.push_back(&variable[0]);
    envp.push_back(nullptr);
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  // Ctrl-C reaches the whole process group; the child handles it and ends.
  signal(SIGINT, SIG_IGN);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace nebrix_test
