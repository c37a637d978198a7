// CONFIG TRACE ... as a user runs it, one console at a time and several at once.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "console_session.h"
#include "private_home.h"

namespace nebrix_test {
namespace {

class ConfigCommands : public ConsoleSession {};

// Each command changes its one setting; letters this version does not know
// are dropped on the next change. A long action is cut to the width of its
// history field. (The on/off settings not here are in ConcurrentChangesAllStay.)
TEST_F(ConfigCommands, EachCommandChangesOneSettingAndIsRecorded) {
  const std::string longName = "/var/tmp/a/rather/long/directory/name/for/traces-%p/trace.txt";
  // The command line, the flags configured after it and its history entry.
  const std::tuple<std::vector<std::string>, std::string, std::string> steps[] = {
      {{"-u", "", "CONFIG", "TRACE", "SQL", "ON"}, "a:p1000", "CONFIG TRACE SQL ON"},  // "": the calling user
      {{"c", "t", "sh", "on"}, "c:a:p1000", "CONFIG TRACE SHORT ON"},
      {{"CONFIG", "TRACE", "PACKET", "OFF"}, "c:a", "CONFIG TRACE PACKET OFF"},
      {{"CONFIG", "TRACE", "PACKET", "4kB"}, "c:a:p4096", "CONFIG TRACE PACKET ON"},
      {{"CONFIG", "TRACE", "COMPRESS", "ON"}, "c:a:z:p4096", "CONFIG TRACE COMPRESS ON"},
      {{"CONFIG", "TRACE", "SIZE", "16M"}, "c:a:z:p4096:s16777216", "CONFIG TRACE SIZE 16777216"},
      {{"CONFIG", "TRACE", "STOP", "ON", "ERROR", "-7", "COUNT", "2"}, "c:a:z:p4096:s16777216:e-7/2",
       "CONFIG TRACE STOP ON ERROR -7 COUNT 2"},
      {{"CONFIG", "TRACE", "FILENAME", longName}, "c:a:z:p4096:s16777216:e-7/2",
       ("CONFIG TRACE FILENAME " + longName).substr(0, 60)},
  };
  setConfiguredFlags("x:p0");
  std::vector<std::string> history;
  for (const auto& [args, flags, entry] : steps) {
    runOk(args);
    EXPECT_EQ(configuredFlags(), flags) << entry;
    history.push_back(entry);
  }
  EXPECT_EQ(historyActions(), history);
}

// A file name that processes cannot use as meant is stored all the same,
// with a warning that says what will happen. A directory with "%p" in it
// differs from process to process and is not looked at.
TEST_F(ConfigCommands, FileNamesThatCannotWorkAreWarnedAbout) {
  const std::string home = privateHomeDirectory(), missing = home + "/missing", file = home + "/file";
  const std::string locked = home + "/locked";
  writeFile(file, "");
  check({
      {{"c", "t", "f", "trace-%p.txt"}, "", relativeNameWarning("trace"), 0},
      {{"p", "f", "./p.prt"}, "", relativeNameWarning("profile"), 0},
      {{"c", "t", "f", missing + "/t-%p.txt"}, "",
       "Warning: The directory " + missing + " does not exist: processes cannot write the trace file until it "
       "exists.\n", 0},
      {{"p", "f", file + "/p.prt"}, "", "Warning: " + file + " is not a directory: processes cannot write the "
       "profile file.\n", 0},
      {{"c", "t", "f", missing + "/%p/t.txt"}, "", "", 0},
      {{"p", "f", home + "/p-%p.prt"}, "", "", 0},
  });
  mkdir(locked.c_str(), 0500);
  EXPECT_EQ(errorAndStatus({"c", "t", "f", locked + "/t.txt"}),
            "Warning: You cannot write in the directory " + locked + ": your processes cannot create the trace file "
            "there.\n0");
  EXPECT_EQ(historyActions().size(), 7u);
}

// Consoles that change different settings at the same time each read the
// flags, change one letter and write them back; none may write over what
// another has just stored, and none fails because another holds the store.
TEST_F(ConfigCommands, ConcurrentChangesAllStay) {
  const std::vector<std::string> settings = {"SHORT", "DEBUG", "SQL", "DISTRIBUTION", "TIMESTAMP", "API"};
  for (int round = 0; round < 5; ++round) {
    removeTree(privateHomeDirectory() + "/.orq");  // the consoles also race to create the profile directories
    std::vector<ProgramResult> results(settings.size());
    std::vector<std::thread> consoles;
    for (size_t i = 0; i < settings.size(); ++i)
      consoles.emplace_back([&, i] { results[i] = runConsole({"CONFIG", "TRACE", settings[i], "ON"}); });
    for (auto& console : consoles) console.join();
    for (const auto& r : results) EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(configuredFlags(), "c:A:d:D:a:T") << "round " << round;  // all six, in their canonical order
  }
}

// Whatever the umask, every file the console creates is for its user alone.
TEST_F(ConfigCommands, FilesAreForTheUserAlone) {
  const mode_t saved = umask(022);
  runOk({"TRACE", "SQL", "ON"});
  umask(saved);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(profileDirectory())) {
    files.push_back(entry.path().filename().string());
    EXPECT_EQ(static_cast<int>(entry.status().permissions()), 0600) << files.back();
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"NEBRIX.shm", "SSFS_ORQ.DAT", "nebrix.his"}));
}

}  // namespace
}  // namespace nebrix_test
