#include "console_session.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "profile/configuration.h"
#include "profile/user_profile.h"

namespace nebrix_test {

namespace {
constexpr size_t kRecordSize = 120;
constexpr size_t kPartsOffset = 256;
constexpr size_t kPartSize = 264;

int32_t wordAt(const std::string& bytes, size_t offset) {
  int32_t value = 0;
  memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}
}  // namespace

void ConsoleSession::SetUp() { removeTree(privateHomeDirectory() + "/.orq"); }

void ConsoleSession::check(const std::vector<Expected>& runs) const {
  for (const Expected& run : runs) {
    const std::string line = testing::PrintToString(run.args);
    const ProgramResult r = runConsole(run.args, run.workingDirectory);
    EXPECT_EQ(r.err, run.err) << line;
    EXPECT_EQ(r.out, run.out) << line;
    EXPECT_EQ(r.status, run.status) << line;
  }
}

std::string ConsoleSession::errorAndStatus(const std::vector<std::string>& args, const std::string& shell) {
  std::vector<std::string> command = {"-c", shell + " exec \"$0\" \"$@\"", "/usr/bin/setpriv", "--inh-caps=-all",
                                      "--bounding-set=-dac_override,-dac_read_search", NEBRIX_CONS_BINARY};
  if (geteuid() != 0) command.erase(command.begin() + 2, command.begin() + 5);
  command.insert(command.end(), args.begin(), args.end());
  const ProgramResult r = runProgram("/bin/sh", command, inheritedTestEnvironment());
  return r.err + std::to_string(r.status);
}

std::string ConsoleSession::profileDirectory() const {
  std::string path;
  SecureStore::UserProfile::getUserProfilePath(path, "", false, false);
  return path;
}

std::string ConsoleSession::configuredFlags() const {
  char flags[1024] = "";
  char errortext[512] = "";
  EXPECT_EQ(NEBRIX::Configuration::getTraceFlags(nullptr, "NEBRIX", nullptr, flags, sizeof flags, errortext,
                                                 sizeof errortext),
            NEBRIX_OK)
      << errortext;
  return flags;
}

void ConsoleSession::setConfiguredFlags(const char* flags) const {
  char errortext[512] = "";
  ASSERT_EQ(NEBRIX::Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, flags, errortext, sizeof errortext),
            NEBRIX_OK)
      << errortext;
}

// Unused records have '-' in the user field.
std::vector<std::string> ConsoleSession::historyActions() const {
  const std::string content = readFile(profileDirectory() + "/nebrix.his");
  std::vector<std::string> actions;
  for (size_t offset = 0; offset + kRecordSize <= content.size(); offset += kRecordSize) {
    if (content[offset + 27] == '-') continue;
    const std::string action = content.substr(offset + 59, kRecordSize - 59);
    actions.push_back(action.substr(0, action.find_last_not_of(" \n") + 1));
  }
  return actions;
}

int32_t ConsoleSession::updateCount() const {
  const std::string bytes = readFile(profileDirectory() + "/NEBRIX.shm");
  return bytes.size() >= 4 ? wordAt(bytes, 0) : -1;
}

std::vector<std::string> ConsoleSession::parts() const {
  const std::string bytes = readFile(profileDirectory() + "/NEBRIX.shm");
  std::vector<std::string> result;
  for (size_t offset = kPartsOffset; offset + kPartSize <= bytes.size(); offset += kPartSize) {
    if (wordAt(bytes, offset) == 0) continue;
    result.push_back(std::to_string(wordAt(bytes, offset)) + " " + std::to_string(wordAt(bytes, offset + 4)) + " " +
                     std::string(bytes.c_str() + offset + 8));  // the flags end in a NUL within their field
  }
  return result;
}

void ConsoleSession::writePart(int index, int32_t processID, int32_t readCount, const std::string& flags) const {
  std::string part(kPartSize, '\0');
  memcpy(&part[0], &processID, 4);
  memcpy(&part[4], &readCount, 4);
  memcpy(&part[8], flags.data(), std::min(flags.size(), size_t{255}));
  std::fstream file(profileDirectory() + "/NEBRIX.shm", std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(file.seekp(kPartsOffset + index * kPartSize).write(part.data(), kPartSize).flush().good());
}

void ConsoleSession::lockStore() const {
  std::ofstream(profileDirectory() + "/SSFS_ORQ.LCK")
      << "RSecSSFsLock\1\1" << std::string("\0\0\0\0\5\xF5\xE1\0", 8) << "alice" << std::string(19, ' ') << "host-x"
      << std::string(18, ' ');
}

}  // namespace nebrix_test
