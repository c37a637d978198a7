// TRACE ... and PROFILE ... with and without "-p", as a user runs them; files
// of the profile directory that are not what the console made, and a
// configuration that another console holds.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "console_session.h"

namespace nebrix_test {
namespace {

class TraceCommands : public ConsoleSession {};

// With "-p" one process gets settings of its own, starting from the
// configuration; without, the configuration changes and every process is
// told to read it again. Each command moves the update counter once.
TEST_F(TraceCommands, ProcessAndConfigurationSettings) {
  // The command line, the flags configured after it, the parts in use and its history entries.
  using Lines = std::vector<std::string>;
  const std::string& pid = kNoProcess;
  const std::tuple<Lines, std::string, Lines, Lines> steps[] = {
      {{"-u", "", "TRACE", "SHORT", "ON"}, "c", {}, {"CONFIG TRACE SHORT ON", "TRACE REFRESH"}},  // "": the caller
      {{"-p", pid, "TRACE", "SQL", "ON"}, "c", {pid + " 0 c:a"}, {"TRACE SQL ON"}},
      {{"-p", pid, "TRACE", "SHORT", "OFF"}, "c", {pid + " 0 a"}, {"TRACE SHORT OFF"}},
      {{"-p", pid, "TRACE", "PACKET", "ON"}, "c", {pid + " 0 a:p1000"}, {"TRACE PACKET ON"}},
      {{"-p", pid, "TRACE", "STOP", "ON", "ERROR", "10"}, "c", {pid + " 0 a:p1000:e10"}, {"TRACE STOP ON ERROR 10"}},
      {{"-p", pid, "TRACE", "STOP", "ON", "ERROR", "OFF"}, "c", {pid + " 0 a:p1000"}, {"TRACE STOP ON ERROR OFF"}},
      {{"-p", pid, "PROFILE", "COLLECT", "ON"}, "c", {pid + " 0 a:G2:p1000"}, {"PROFILE COLLECT ON"}},
      {{"-p", pid, "PROFILE", "RESET"}, "c", {pid + " 0 a:G1:p1000"}, {"PROFILE RESET"}},
      {{"-p", pid, "PROFILE", "COLLECT", "OFF"}, "c", {pid + " 0 a:p1000"}, {"PROFILE COLLECT OFF"}},
      {{"-p", pid, "TRACE", "DEBUG", "ON"}, "c", {pid + " 0 d:a:p1000"}, {"TRACE DEBUG ON"}},
      {{"-p", pid, "TRACE", "DISTRIBUTION", "ON"}, "c", {pid + " 0 d:D:a:p1000"}, {"TRACE DISTRIBUTION ON"}},
      {{"-p", pid, "TRACE", "TIMESTAMP", "ON"}, "c", {pid + " 0 d:D:a:T:p1000"}, {"TRACE TIMESTAMP ON"}},
      {{"-p", pid, "TRACE", "API", "ON"}, "c", {pid + " 0 A:d:D:a:T:p1000"}, {"TRACE API ON"}},
      {{"-p", pid, "TRACE", "OFF"}, "c", {pid + " 0 "}, {"TRACE OFF"}},
      {{"-p", pid, "TRACE", "REFRESH"}, "c", {pid + " 0 R"}, {"TRACE REFRESH"}},
      {{"PROFILE", "COLLECT", "ON"}, "c:G2", {pid + " 0 R"}, {"PROFILE COLLECT ON", "TRACE REFRESH"}},
      // "R": the process starts from the configuration again.
      {{"-p", pid, "TRACE", "SIZE", "UNLIMITED"}, "c:G2", {pid + " 0 c:G2"}, {"TRACE SIZE -1"}},
      {{"TRACE", "OFF"}, "", {pid + " 0 c:G2"}, {"TRACE OFF", "TRACE REFRESH"}},
  };
  std::vector<std::string> history;
  int32_t count = 0;
  for (const auto& [args, configured, used, entries] : steps) {
    check({{args, "", args[0] == "-p" ? kNoProcessWarning : "", 0}});
    EXPECT_EQ(configuredFlags(), configured) << entries[0];
    EXPECT_EQ(parts(), used) << entries[0];
    EXPECT_EQ(updateCount(), ++count) << entries[0];
    history.insert(history.end(), entries.begin(), entries.end());
  }
  EXPECT_EQ(historyActions(), history);
}

// A process that gets no part changes nothing and is told what can be done.
TEST_F(TraceCommands, NoFreePartIsExplained) {
  runOk({"TRACE", "REFRESH"});  // creates the file
  for (int i = 0; i < 100; ++i) writePart(i, getpid(), 0, "a");  // all held by a live process
  const std::string why =
      "Error: Every part of the trace shared-memory file is in use by a running process; none is left for process "
      "4711.\n\"nebrix_cons SHOW PROCESSES\" shows the clients that hold them; a part is reused as soon as its "
      "process has ended. Without -p the command changes the configuration, which process 4711 follows.\n";
  check({{{"-v", "-p", "4711", "TRACE", "SQL", "ON"}, "", why, 1}, {{"-p", "4711", "TRACE", "REFRESH"}, "", why, 1}});
  EXPECT_EQ(updateCount(), 1);
  EXPECT_EQ(historyActions(), std::vector<std::string>{"TRACE REFRESH"});
}

// A plain file where the shared-memory file's directory should be.
TEST_F(TraceCommands, AnUnusableProfileDirectoryIsReported) {
  const std::string orq = privateHomeDirectory() + "/.orq";
  std::ofstream(orq) << "x";
  check({{{"-p", "4711", "TRACE", "SQL", "ON"}, orq + "\n",
          "Error opening shared memory: File " + orq +
              " exists and is not a directory, cannot read or store profile data, aborting.\n",
          1}});
}

class ProfileFiles : public ConsoleSession {};

// Nothing is written through a link and no FIFO makes a command hang: a lost
// history entry is reported and the command stands; the shared-memory file
// fails its command. A file that cannot be read is made afresh, as one of the
// wrong size is.
TEST_F(ProfileFiles, OnlyReadableRegularFilesAreUsed) {
  const std::string dir = profileDirectory(), history = dir + "/nebrix.his", shm = dir + "/NEBRIX.shm";
  const std::string opening = "Error opening shared memory: Cannot open shared memory file " + shm + ", rc=";
  std::ofstream(dir + "/x") << "x";
  symlink((dir + "/x").c_str(), history.c_str());
  mkfifo(shm.c_str(), 0600);
  EXPECT_EQ(errorAndStatus({"CONFIG", "TRACE", "SQL", "ON"}),
            "Warning: Cannot write history file " + history + ", rc=40:Too many levels of symbolic links\n0");
  EXPECT_EQ(errorAndStatus({"TRACE", "REFRESH"}), opening + "4000:Not a regular file, aborting.\n1");
  // Exit 1 means nothing changed: the file is attached before the configuration is written.
  const std::pair<std::string, std::string> unusable[] = {{"mkdir", "21:Is a directory"},
                                                          {"ln -s x", "40:Too many levels of symbolic links"},
                                                          {"mkfifo", "4000:Not a regular file"}};
  for (const auto& [make, why] : unusable) {
    for (const auto& args : {std::vector<std::string>{"TRACE", "SQL", "OFF"}, {"-w", "1", "TRACE", "OFF"}})
      EXPECT_EQ(errorAndStatus(args, "rm -rf '" + shm + "'; " + make + " '" + shm + "';"),
                opening + why + ", aborting.\n1");
    EXPECT_EQ(configuredFlags(), "a") << make;
  }
  EXPECT_EQ(readFile(dir + "/x"), "x");
  unlink(shm.c_str());  // two entries, one warning
  EXPECT_EQ(errorAndStatus({"TRACE", "SQL", "ON"}),
            "Warning: Cannot write history file " + history + ", rc=40:Too many levels of symbolic links\n0");

  unlink(history.c_str());
  std::ofstream(shm, std::ios::trunc) << std::string(26656, '\1');
  chmod(shm.c_str(), 0200);
  // One that cannot be opened at all is the user's again, and used as it is.
  for (const mode_t mode : {0200, 0000}) {
    std::ofstream(history, std::ios::trunc) << std::string(12000, mode != 0 ? 'x' : '-');
    chmod(history.c_str(), mode);
    EXPECT_EQ(errorAndStatus({"-p", kNoProcess, "TRACE", "SQL", "ON"}), kNoProcessWarning + "0") << mode;
    EXPECT_EQ(historyActions(), std::vector<std::string>{"TRACE SQL ON"}) << mode;
    EXPECT_EQ(fileMode(history), 0600) << mode;
    EXPECT_EQ(readFile(history)[120], mode != 0 ? '1' : '-') << mode;
  }
  EXPECT_EQ(parts(), std::vector<std::string>{kNoProcess + " 0 a"});
}

// A console that another holds up gives up after a while and changes nothing.
TEST_F(ProfileFiles, AConsoleGivesUpWaitingForAnother) {
  const int held = open(profileDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(errorAndStatus({"CONFIG", "TRACE", "SQL", "ON"}),
            "Error getting trace flags (Another nebrix_cons is changing the configuration in " + profileDirectory() +
                "; gave up after 10 seconds).\n1");
  close(held);
  EXPECT_EQ(configuredFlags(), "");
  // Nor does a history that another holds stop a command: only its entry is lost.
  const std::string history = profileDirectory() + "/nebrix.his";
  check({{{"-p", kNoProcess, "TRACE", "REFRESH"}, "", kNoProcessWarning, 0}});
  const int file = open(history.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(file, LOCK_EX), 0);
  EXPECT_EQ(errorAndStatus({"-p", kNoProcess, "TRACE", "OFF"}),
            "Warning: Cannot write history file " + history + ", rc=11:Resource temporarily unavailable\n" +
                kNoProcessWarning + "0");
  close(file);
  EXPECT_EQ(historyActions(), std::vector<std::string>{"TRACE REFRESH"});
}

}  // namespace
}  // namespace nebrix_test
