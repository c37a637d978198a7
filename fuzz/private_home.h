// A private home directory for fuzz targets that use the profile directory.
// That directory is found through the user database (getpwuid), not $HOME,
// so the target runs itself again under nss_wrapper with a passwd file whose
// entry for the effective user points at a temporary directory. The machine
// user's real home is never touched.
#pragma once

#include <cstddef>
#include <string>

namespace nebrix_fuzz {

// Call from LLVMFuzzerInitialize. Unless this very process was started under
// a private home, creates one, runs the program again in a child process
// with it, removes it when the child ends and exits with the child's status;
// it does not return then. Returns in the child, after checking that the
// user database really yields the private home (it aborts otherwise).
// Every process gets a home of its own, so libFuzzer's -fork, -jobs and
// -merge children never share files.
void runUnderPrivateHome(char** argv);

// <private home>/.orq/<node name>, the profile directory the code under test
// uses; it exists after the first call.
const std::string& profileDirectory();

// Writes `size` bytes as the whole content of `path` (mode 0600 if new).
void writeWholeFile(const std::string& path, const void* data, size_t size);
// The content of `path`, or "" when it cannot be read.
std::string readWholeFile(const std::string& path);

}  // namespace nebrix_fuzz
