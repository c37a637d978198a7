// CONFIG TRACE ... and PROFILE FILENAME as a user runs them.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console_session.h"
#include "profile/configuration.h"

namespace nebrix_test {
namespace {

class ConfigCommands : public ConsoleSession {};

TEST_F(ConfigCommands, EachCommandChangesOneSettingAndIsRecorded) {
  const struct {
    std::vector<std::string> args;
    std::string flags;
    std::string history;
  } steps[] = {
      {{"CONFIG", "TRACE", "SQL", "ON"}, "a", "CONFIG TRACE SQL ON"},
      {{"c", "t", "sh", "on"}, "c:a", "CONFIG TRACE SHORT ON"},
      {{"CONFIG", "TRACE", "SQL", "OFF"}, "c", "CONFIG TRACE SQL OFF"},
      {{"CONFIG", "TRACE", "PACKET", "ON"}, "c:p1000", "CONFIG TRACE PACKET ON"},
      {{"CONFIG", "TRACE", "PACKET", "4k"}, "c:p4096", "CONFIG TRACE PACKET ON"},
      {{"CONFIG", "TRACE", "PACKET", "OFF"}, "c", "CONFIG TRACE PACKET OFF"},
      {{"CONFIG", "TRACE", "SIZE", "16M"}, "c:s16777216", "CONFIG TRACE SIZE 16777216"},
      {{"CONFIG", "TRACE", "SIZE", "UNLIMITED"}, "c", "CONFIG TRACE SIZE -1"},
      {{"CONFIG", "TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "2"}, "c:e10/2",
       "CONFIG TRACE STOP ON ERROR 10 COUNT 2"},
      {{"CONFIG", "TRACE", "STOP", "ON", "ERROR", "-7", "COUNT", "1"}, "c:e-7/1", "CONFIG TRACE STOP ON ERROR -7"},
      {{"CONFIG", "TRACE", "STOP", "ON", "ERROR", "OFF"}, "c", "CONFIG TRACE STOP ON ERROR OFF"},
      {{"CONFIG", "TRACE", "DEBUG", "ON"}, "c:d", "CONFIG TRACE DEBUG ON"},
      {{"CONFIG", "TRACE", "DISTRIBUTION", "ON"}, "c:d:D", "CONFIG TRACE DISTRIBUTION ON"},
      {{"CONFIG", "TRACE", "TIMESTAMP", "ON"}, "c:d:D:T", "CONFIG TRACE TIMESTAMP ON"},
      {{"CONFIG", "TRACE", "COMPRESS", "ON"}, "c:d:D:z:T", "CONFIG TRACE COMPRESS ON"},
      {{"CONFIG", "TRACE", "API", "ON"}, "c:A:d:D:z:T", "CONFIG TRACE API ON"},
  };
  std::vector<std::string> expectedHistory;
  for (const auto& step : steps) {
    const ProgramResult r = run(step.args);
    EXPECT_EQ(r.status, 0) << step.history << r.err;
    EXPECT_EQ(r.out + r.err, "") << step.history;
    EXPECT_EQ(configuredFlags(), step.flags) << step.history;
    expectedHistory.push_back(step.history);
  }
  EXPECT_EQ(historyActions(), expectedHistory);
  EXPECT_EQ(historyProcesses(), std::vector<std::string>(expectedHistory.size(), std::string(10, ' ')));
}

TEST_F(ConfigCommands, UnknownLettersAreDroppedOnTheNextChange) {
  char errortext[512] = "";
  ASSERT_EQ(NEBRIX::Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, "c:x:p0", errortext, sizeof errortext),
            NEBRIX_OK);
  runOk({"CONFIG", "TRACE", "SQL", "ON"});
  EXPECT_EQ(configuredFlags(), "c:a:p1000");
}

// Consoles that change different settings at the same time each read the
// flags, change one letter and write them back; none may write over what
// another has just stored, and none fails because another holds the store.
TEST_F(ConfigCommands, ConcurrentChangesAllStay) {
  const std::vector<std::string> settings = {"SHORT", "DEBUG", "SQL", "DISTRIBUTION", "TIMESTAMP", "API"};
  for (int round = 0; round < 5; ++round) {
    char errortext[512] = "";
    ASSERT_EQ(NEBRIX::Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, "", errortext, sizeof errortext),
              NEBRIX_OK);
    std::vector<ProgramResult> results(settings.size());
    std::vector<std::thread> consoles;
    for (size_t i = 0; i < settings.size(); ++i)
      consoles.emplace_back([&, i] { results[i] = run({"CONFIG", "TRACE", settings[i], "ON"}); });
    for (auto& console : consoles) console.join();
    for (const auto& r : results) EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> letters;
    std::istringstream flags(configuredFlags());
    for (std::string letter; std::getline(flags, letter, ':');) letters.push_back(letter);
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(letters, (std::vector<std::string>{"A", "D", "T", "a", "c", "d"})) << "round " << round;
  }
}

// Whatever the umask, every file the console creates is for its user alone.
TEST_F(ConfigCommands, FilesAreForTheUserAlone) {
  const mode_t saved = umask(022);
  runOk({"TRACE", "SQL", "ON"});
  umask(saved);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(profileDirectory())) {
    struct stat info;
    ASSERT_EQ(stat(entry.path().c_str(), &info), 0);
    files.push_back(entry.path().filename().string());
    EXPECT_EQ(info.st_mode & 0777, 0600u) << files.back();
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"NEBRIX.shm", "SSFS_ORQ.DAT", "nebrix.his"}));
}

TEST_F(ConfigCommands, FileNamesAreStoredAsTyped) {
  runOk({"CONFIG", "TRACE", "FILENAME", "/tmp/trace-%p.txt"});
  runOk({"-p", "4711", "PROFILE", "FILENAME", "/tmp/prof-%p.prt"});
  EXPECT_EQ(historyActions(), (std::vector<std::string>{"CONFIG TRACE FILENAME /tmp/trace-%p.txt",
                                                        "PROFILE FILENAME /tmp/prof-%p.prt"}));
  char name[1024] = "";
  char errortext[512] = "";
  ASSERT_EQ(NEBRIX::Configuration::getTraceFileName(nullptr, "NEBRIX", nullptr, name, sizeof name, errortext,
                                                    sizeof errortext),
            NEBRIX_OK);
  EXPECT_STREQ(name, "/tmp/trace-%p.txt");
  ASSERT_EQ(NEBRIX::Configuration::getFullProfileFileName(nullptr, "NEBRIX", nullptr, name, sizeof name,
                                                          errortext, sizeof errortext),
            NEBRIX_OK);
  EXPECT_STREQ(name, "/tmp/prof-%p.prt");

  // A long name is cut in the history record, which keeps its width.
  const std::string longName = "/var/tmp/a/rather/long/directory/name/for/traces/trace-%p.txt";
  runOk({"CONFIG", "TRACE", "FILENAME", longName});
  EXPECT_EQ(historyActions().back(), ("CONFIG TRACE FILENAME " + longName).substr(0, 60));
}

TEST_F(ConfigCommands, AnotherUserIsRefusedAndNothingIsRecorded) {
  const std::string refused = "profile path error: Impersonation not supported, use sudo on this platform";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-u", "other", "CONFIG", "TRACE", "SQL", "ON"}, "Error getting trace flags (" + refused + ").\n"},
      {{"-u", "other", "CONFIG", "TRACE", "FILENAME", "x"}, "Error setting trace file name (" + refused + ")\n"},
      {{"-u", "other", "PROFILE", "FILENAME", "x"}, "Error setting trace file name (" + refused + ")\n"},
      {{"-u", "other", "TRACE", "OFF"}, "Failed to write trace configuration (" + refused + ").\n"},
      {{"-u", "other", "TRACE", "SQL", "ON"}, "Error getting trace flags (" + refused + ").\n"},
  };
  for (const auto& c : cases) {
    const ProgramResult r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(historyActions().empty());
}

}  // namespace
}  // namespace nebrix_test
