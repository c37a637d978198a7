// A private home directory for tests and fuzz targets. The profile directory
// is found through the user database, not $HOME, so programs under test run
// with nss_wrapper and a passwd file whose entry for the effective user
// points at a temporary directory. The machine user's real home is never
// touched: a program that runs under a private home aborts unless the user
// database yields it.
#pragma once

#include <string>
#include <vector>

namespace nebrix_test {

class PrivateHome {
 public:
  PrivateHome();
  ~PrivateHome();
  PrivateHome(const PrivateHome&) = delete;
  PrivateHome& operator=(const PrivateHome&) = delete;

  const std::string& home() const { return m_home; }
  // The environment of a program that is to see this home.
  std::vector<std::string> environment() const;
  // Removes everything inside the home directory.
  void clear() const;

 private:
  std::string m_root;
  std::string m_home;
};

// For test programs and fuzz targets that use the profile directory: unless
// this very process was started under a private home, runs the program again
// with one and returns its exit status; otherwise returns -1 and the caller
// goes on. Every process gets a home of its own, so the children libFuzzer
// starts for -fork, -jobs and -merge never share files; the second process
// dies with the first.
int rerunUnderPrivateHome(int argc, char** argv);

// The home directory of the private home this process runs under.
std::string privateHomeDirectory();
// Its profile directory: <home>/.orq/<node name>.
std::string privateProfileDirectory();

// Removes a directory tree; missing is fine.
void removeTree(const std::string& path);

// The whole content of a file, "" when it cannot be read.
std::string readFile(const std::string& path);
// Makes or truncates a file and writes `content` into it.
void writeFile(const std::string& path, const std::string& content);
// The permission bits of a file, -1 when there is none.
int fileMode(const std::string& path);

}  // namespace nebrix_test
