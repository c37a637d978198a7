#include "console_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "private_home.h"
#include "profile/configuration.h"
#include "profile/user_profile.h"

namespace nebrix_test {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

namespace {

constexpr size_t kRecordSize = 120;
constexpr size_t kPartsOffset = 256;
constexpr size_t kPartSize = 264;

std::string trimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
  return text;
}

int32_t wordAt(const std::string& bytes, size_t offset) {
  int32_t value = 0;
  memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace

void ConsoleSession::SetUp() { removeTree(privateHomeDirectory() + "/.orq"); }

ProgramResult ConsoleSession::run(const std::vector<std::string>& args, const std::string& workingDirectory) {
  return runConsole(args, workingDirectory);
}

void ConsoleSession::runOk(const std::vector<std::string>& args) {
  const ProgramResult r = run(args);
  std::string line;
  for (const auto& a : args) line += a + " ";
  EXPECT_EQ(r.status, 0) << line << r.err;
  EXPECT_EQ(r.err, "") << line;
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

namespace {
// Real records of the history, oldest first (equal stamps keep file order).
std::vector<std::string> historyRecords(const std::string& path) {
  const std::string content = readFile(path);
  std::vector<std::string> records;
  for (size_t offset = 0; offset + kRecordSize <= content.size(); offset += kRecordSize) {
    const std::string record = content.substr(offset, kRecordSize);
    if (record[27] != '-') records.push_back(record);
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const std::string& a, const std::string& b) { return a.compare(0, 26, b, 0, 26) < 0; });
  return records;
}
}  // namespace

std::vector<std::string> ConsoleSession::historyActions() const {
  std::vector<std::string> actions;
  for (const auto& record : historyRecords(profileDirectory() + "/nebrix.his")) {
    actions.push_back(trimRight(record.substr(59)));
  }
  return actions;
}

std::vector<std::string> ConsoleSession::historyProcesses() const {
  std::vector<std::string> processes;
  for (const auto& record : historyRecords(profileDirectory() + "/nebrix.his")) {
    processes.push_back(record.substr(48, 10));
  }
  return processes;
}

int32_t ConsoleSession::updateCount() const {
  const std::string bytes = readFile(profileDirectory() + "/NEBRIX.shm");
  return bytes.size() >= 4 ? wordAt(bytes, 0) : -1;
}

std::vector<ShmPart> ConsoleSession::parts() const {
  const std::string bytes = readFile(profileDirectory() + "/NEBRIX.shm");
  std::vector<ShmPart> result;
  for (size_t i = 0; i < 100 && kPartsOffset + (i + 1) * kPartSize <= bytes.size(); ++i) {
    const size_t offset = kPartsOffset + i * kPartSize;
    if (wordAt(bytes, offset) == 0) continue;
    ShmPart part;
    part.processID = wordAt(bytes, offset);
    part.readCount = wordAt(bytes, offset + 4);
    part.flags = std::string(bytes.data() + offset + 8, strnlen(bytes.data() + offset + 8, 256));
    result.push_back(part);
  }
  return result;
}

void ConsoleSession::writePart(int index, int32_t processID, int32_t readCount, const std::string& flags) const {
  char part[kPartSize] = {};
  memcpy(part, &processID, 4);
  memcpy(part + 4, &readCount, 4);
  memcpy(part + 8, flags.data(), std::min(flags.size(), size_t{255}));
  const int fd = open((profileDirectory() + "/NEBRIX.shm").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, part, sizeof part, kPartsOffset + index * kPartSize), ssize_t(sizeof part));
  close(fd);
}

}  // namespace nebrix_test
