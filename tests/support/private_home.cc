#include "private_home.h"

#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace nebrix_test {

namespace {

const char* const kHomeVariable = "NEBRIX_TEST_HOME";

std::string nodeName() {
  struct utsname names;
  uname(&names);
  return names.nodename;
}

}  // namespace

void removeTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

PrivateHome::PrivateHome() {
  char pattern[] = "/tmp/nebrix-home-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_root = pattern;
  m_home = m_root + "/home";
  std::filesystem::create_directory(m_home);
  std::ofstream(m_root + "/passwd") << "nebrixtest:x:" << geteuid() << ":" << getegid()
                                    << ":Test User:" << m_home << ":/bin/sh\n";
  std::ofstream(m_root + "/group") << "nebrixtest:x:" << getegid() << ":\n";
}

PrivateHome::~PrivateHome() { removeTree(m_root); }

std::string PrivateHome::profileDirectory() const { return m_home + "/.orq/" + nodeName(); }

std::vector<std::string> PrivateHome::environment() const {
  std::vector<std::string> env = {
      "PATH=/usr/bin:/bin",
      "LANG=C",
      std::string("LD_PRELOAD=") + NEBRIX_NSS_WRAPPER_LIBRARY,
      "NSS_WRAPPER_PASSWD=" + m_root + "/passwd",
      "NSS_WRAPPER_GROUP=" + m_root + "/group",
      std::string(kHomeVariable) + "=" + m_home,
      // The sanitizer runtime must not object to nss_wrapper being preloaded.
      "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=1",
  };
  if (const char* ubsan = getenv("UBSAN_OPTIONS")) env.push_back(std::string("UBSAN_OPTIONS=") + ubsan);
  return env;
}

void PrivateHome::clear() const {
  for (const auto& entry : std::filesystem::directory_iterator(m_home)) removeTree(entry.path());
}

std::string privateHomeDirectory() {
  const char* home = getenv(kHomeVariable);
  return home != nullptr ? home : "";
}

int rerunUnderPrivateHome(int argc, char** argv) {
  if (getenv(kHomeVariable) != nullptr) return -1;
  PrivateHome home;
  std::vector<std::string> env = home.environment();
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  (void)argc;
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace nebrix_test
