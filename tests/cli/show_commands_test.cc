// SHOW CONFIG, TRACESETTINGS, ALL, PROFILE and HISTORY: exact output.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_session.h"
#include "trace/client_status_files.h"
#include "trace/counter_file.h"

namespace nebrix_test {
namespace {

class ShowCommands : public ConsoleSession {};

const std::string kFreshSettings =
    "\nSettings:\n"
    "  Update count : 0\n"
    "  Total size   : 26656\n"
    "    equivalent to 100 process-specific parts.\n"
    "  Version flag : 1\n"
    "  Forced re-read of global configuration with last update.\n"
    "\n"
    "  Process  Update count  Flags\n"
    "  ----------------------------------------------------------------------\n";

// A fresh configuration stores and shows the default file name; an empty
// name stands for the working directory of the client, cut as documented.
// Showing is not recorded.
TEST_F(ShowCommands, Config) {
  const std::string head = "\nConfiguration:\n  Trace file name    : ";
  const std::string flags =
      "\n  Trace flags        : d:a:T:p2048\n"
      "    Short trace        : disabled\n"
      "    Debug trace        : enabled\n"
      "    SQL trace          : enabled\n"
      "    Distribution trace : disabled\n"
      "    Time stamp prefix  : enabled\n"
      "    Packet trace       : enabled, size limit is 2048\n";
  const std::string home = privateHomeDirectory();
  // A working directory of 1010 bytes: one component of 101 to 201, the others of 100.
  std::string deep = home + "/" + std::string((1009 - home.size()) % 101 + 101, 'd');
  for (mkdir(deep.c_str(), 0700); deep.size() < 1010; mkdir(deep.c_str(), 0700)) deep += "/" + std::string(100, 'd');
  setConfiguredFlags("d:a:T:p2048");
  check({
      {{"SHOW", "CONFIG"}, head + "nebrixtrace-%p.prt" + flags, "", 0},
      {{"CONFIG", "TRACE", "FILENAME", ""}, "", relativeNameWarning("trace"), 0},
      {{"SHOW", "CONFIG"}, head + home + "/NEBRIX-%p.txt" + flags, "", 0, home},
      // A name of 1024 bytes is cut to the 1023 that a 1024-byte buffer holds.
      {{"SHOW", "CONFIG"}, head + (deep + "/NEBRIX-%p.txt").substr(0, 1023) + flags, "", 0, deep},
  });
  EXPECT_EQ(historyActions(), std::vector<std::string>{"CONFIG TRACE FILENAME"});
}

TEST_F(ShowCommands, TraceSettingsOfAFreshFileAndOfParts) {
  check({{{"SHOW", "TRACESETTINGS"}, kFreshSettings, "", 0}});
  writePart(3, 4711, 3, "a");
  writePart(7, 42, 0, "c:p1000");
  // "-p" changes nothing here.
  check({{{"-p", "1", "SHOW", "TRACESETTINGS"},
          kFreshSettings + "     4711             3  a\n       42" + std::string(16, ' ') + "c:p1000\n", "", 0}});
}

TEST_F(ShowCommands, AllShowsBothOrNothingOfTheSettings) {
  runOk({"CONFIG", "TRACE", "FILENAME", "/tmp/t\xe9-%p.prt"});  // stored as typed, Latin-1 and all
  const std::string config =
      "\nConfiguration:\n  Trace file name    : /tmp/t\xe9-%p.prt\n  Trace flags        : (none set)\n";
  check({{{"SHOW", "ALL"}, config + kFreshSettings, "", 0}});
  // A damaged record of the file name, or a data file that is not a store:
  // the configuration cannot be read, the store says why, and the default
  // is not written over the user's setting.
  const std::string dataFile = profileDirectory() + "/SSFS_ORQ.DAT";
  std::string data = readFile(dataFile);
  const size_t name = data.rfind("/tmp/t\xe9-%p.prt");
  ASSERT_NE(name, std::string::npos);
  data[name + 5] ^= 0x01;
  for (const auto& [damaged, reason] :
       {std::pair(data, "Checksum over data header and payload incorrect"),
        std::pair(std::string(300, 'x'), "Record at file position 0 does not start with preamble; maybe file is no "
                                         "RSecSSFs file")}) {
    std::ofstream(dataFile, std::ios::trunc | std::ios::binary) << damaged;
    check({{{"SHOW", "ALL"}, "", "Error getting trace file name (error getuser).\n" + std::string(reason) + "\n", 1}});
    EXPECT_EQ(readFile(dataFile), damaged);
  }
}

// The name is shown as stored, byte for byte and "%p" and all; a name
// relative to "./" is looked for in the working directory. "-p" changes
// nothing here.
TEST_F(ShowCommands, ProfileLocation) {
  const std::string home = privateHomeDirectory();
  const std::string none = "no profile data found.\n";
  check({
      {{"-p", "4711", "PROFILE", "FILENAME", "/tmp/p\xe9-%p.prt"}, "", "", 0},  // Latin-1
      {{"-v", "SHOW", "PROFILE", "DETAILS"}, "\nsearch path:/tmp\n\nsearch name pattern:p\xe9-%p.prt\n" + none, "", 0},
      {{"PROFILE", "FILENAME", "./q-%p.prt"}, "", relativeNameWarning("profile"), 0},
      {{"-v", "SHOW", "PROFILE"}, "\nsearch path:" + home + "\n\nsearch name pattern:q-%p.prt\n" + none, "", 0, home},
      {{"SHOW", "PROFILE"}, none, "", 0},
  });
  // A relative name, the default among them: the files the running processes
  // name are read, here one this test publishes for itself.
  runConsole({"PROFILE", "FILENAME", "nebrixprofile-%p.prt"});
  NEBRIX::ClientStatus self;
  self.component = "NEBRIX";
  self.pid = getpid();
  ASSERT_TRUE(NEBRIX::processStartTime(self.pid, self.started));
  self.profileFile = home + "/nebrixprofile-" + std::to_string(self.pid) + ".prt";
  self.profileState = NEBRIX::ClientStatus::PROFILE_WRITTEN;
  int error = 0;
  ASSERT_TRUE(NEBRIX::writeCounterFile(self.profileFile, {self.pid, {{"queries", 3}}}, error));
  static NEBRIX::StatusFileLock lock;  // held by this process while it runs
  ASSERT_EQ(NEBRIX::publishClientStatus(profileDirectory(), self, lock), 0);
  check({{{"-v", "SHOW", "PROFILE"},
          "\nsearch path: none, \"nebrixprofile-%p.prt\" is relative, so each client process writes it in its own "
          "working directory\n\nfiles named by running processes:\n  " + self.profileFile +
              "\n\nProfile of 1 process:\n  Counter  Value\n  --------------\n  queries      3\n",
          "", 0}});
  const nlohmann::json json = nlohmann::json::parse(runConsole({"-o", "json", "SHOW", "PROFILE"}).out)["profile"];
  EXPECT_EQ(json["published_files"][0]["path"], self.profileFile);
  EXPECT_EQ(json["search_path"], nullptr);
}

// Two processes' files and damaged ones (empty, an unended line, a bad
// value), which are skipped and named with -v; sums are by name, details by
// pid and then name.
TEST_F(ShowCommands, Profile) {
  const std::string dir = privateHomeDirectory() + "/profiles";
  removeTree(dir);
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  int error = 0;
  ASSERT_TRUE(NEBRIX::writeCounterFile(dir + "/p-12.prt", {12, {{"rows", INT64_MAX}, {"queries", 1000}}}, error));
  ASSERT_TRUE(NEBRIX::writeCounterFile(dir + "/p-7.prt", {7, {{"queries", 234}, {"rows", 5}}}, error));
  writeFile(dir + "/p-9.prt", "NEBRIX profile 1\npid 9\nqueries 12x\n");
  writeFile(dir + "/p-10.prt", "");
  writeFile(dir + "/p-11.prt", "NEBRIX profile 1\npid 11");
  runOk({"PROFILE", "FILENAME", dir + "/p-%p.prt"});
  const std::string warning = "Warning: Profile file " + dir, skipped = warning + "/p-10.prt skipped: empty.\n" +
      warning + "/p-11.prt skipped: the last line is not ended.\n" +
      warning + "/p-9.prt skipped: line 3: invalid counter value.\n";
  check({
      {{"SHOW", "PROFILE"},
       "\nProfile of 2 processes:\n"
       "  Counter                 Value\n"
       "  -----------------------------\n"
       "  queries                  1234\n"
       "  rows     >9223372036854775807\n",
       "", 0},
      {{"-v", "SHOW", "PROFILE", "DETAILS"},
       "\nsearch path:" + dir + "\n\nsearch name pattern:p-%p.prt\n\nProfile of 2 processes:\n"
       "  Process  Counter                Value\n"
       "  -------------------------------------\n"
       "        7  queries                  234\n"
       "        7  rows                       5\n"
       "       12  queries                 1000\n"
       "       12  rows     9223372036854775807\n",
       skipped, 0},
  });
  const nlohmann::json profile = nlohmann::json::parse(runConsole({"-o", "json", "SHOW", "PROFILE", "DETAILS"}).out);
  EXPECT_EQ(profile["profile"]["counters"], nlohmann::json::parse(R"([{"name": "queries", "value": 1234,
      "clamped": false}, {"name": "rows", "value": 9223372036854775807, "clamped": true}])"));
  EXPECT_EQ(profile["profile"]["processes"][0], nlohmann::json::parse(R"({"pid": 7, "counters": [
      {"name": "queries", "value": 234}, {"name": "rows", "value": 5}]})"));
  EXPECT_EQ(profile["profile"]["processes"][1]["pid"], 12);
}

TEST_F(ShowCommands, History) {
  check({
      {{"SHOW", "HISTORY"}, "Command history is empty.\n", "", 1},
      {{"CONFIG", "TRACE", "SQL", "ON"}, "", "", 0},
      {{"-p", kNoProcess, "TRACE", "DEBUG", "ON"}, "", kNoProcessWarning, 0},
  });
  // The records as stored, in fixed columns: time stamp (blanked here), user,
  // process, action.
  const std::string head =
      "DATE                       USER                PROCESS     COMMAND\n" + std::string(120, '-') + "\n";
  std::string out = runConsole({"SHOW", "HISTORY"}).out;
  ASSERT_EQ(out.size(), head.size() + 2 * 120 + 1) << out;
  for (const size_t at : {head.size(), head.size() + 120}) out.replace(at, 26, 26, ' ');
  EXPECT_EQ(out, head + std::string(59, ' ') + "CONFIG TRACE SQL ON" + std::string(41, ' ') + "\n" +
                     std::string(48, ' ') + kNoProcess + " TRACE DEBUG ON" + std::string(46, ' ') + "\n\n");

  // Only empty records: the same text as without a file, but success.
  const std::string empty = "1970-01-01 00:00:00.000000 -------------------- ---------- " + std::string(60, '-');
  std::ofstream history(profileDirectory() + "/nebrix.his", std::ios::binary | std::ios::trunc);
  for (int i = 0; i < 100; ++i) history << empty << "\n";
  history.close();
  check({{{"SHOW", "HISTORY"}, "Command history is empty.\n\n", "", 0}});
}

}  // namespace
}  // namespace nebrix_test
