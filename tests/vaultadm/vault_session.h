// A fixture for tests that run vaultadm as the test user, whose home is a
// private directory: every test starts without a profile directory, so the
// console's store is empty.
#pragma once

#include <sys/stat.h>
#include <sys/utsname.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "private_home.h"
#include "program_runner.h"

namespace nebrix_test {

inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// The permission bits, or -1 when there is no such file.
inline int fileMode(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? static_cast<int>(status.st_mode & 07777) : -1;
}

class VaultSession : public testing::Test {
 protected:
  void SetUp() override {
    removeTree(privateHomeDirectory() + "/.orq");
    removeTree(scratch(""));
    mkdir(scratch("").c_str(), 0700);
  }

  // `input` becomes standard input (the shell redirects it and hands the
  // arguments on untouched); `environment` adds to the inherited one.
  ProgramResult vaultadm(const std::vector<std::string>& args, const std::string& input = "",
                         const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> env = inheritedTestEnvironment();
    env.insert(env.end(), environment.begin(), environment.end());
    writeFile(scratch("stdin"), input);
    std::vector<std::string> shellArgs = {"-c", "exec \"$0\" \"$@\" < '" + scratch("stdin") + "'", VAULTADM_BINARY};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    return runProgram("/bin/sh", shellArgs, env);
  }

  // Expects success with nothing on standard error; returns standard output.
  std::string vaultadmOk(const std::vector<std::string>& args, const std::string& input = "") const {
    const ProgramResult r = vaultadm(args, input);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.err, "") << args[0];
    return r.out;
  }

  // SSFS_ORQ.<suffix> in the profile directory.
  std::string storeFile(const std::string& suffix) const {
    struct utsname names;
    uname(&names);
    return privateHomeDirectory() + "/.orq/" + names.nodename + "/SSFS_ORQ." + suffix;
  }

  std::string scratch(const std::string& name) const { return privateHomeDirectory() + "/scratch/" + name; }
};

}  // namespace nebrix_test
