// TRACE ... and PROFILE ... with and without "-p", as a user runs them.
#include <unistd.h>

#include <fstream>

#include <string>
#include <vector>

#include "console_session.h"
#include "private_home.h"

namespace nebrix_test {
namespace {

class TraceCommands : public ConsoleSession {
 protected:
  // The part of one process, or an empty part when it has none.
  ShmPart partOf(int32_t pid) const {
    for (const ShmPart& part : parts()) {
      if (part.processID == pid) return part;
    }
    return ShmPart();
  }
};

TEST_F(TraceCommands, OneProcessStartsFromTheConfigurationAndKeepsItsOwnSettings) {
  runOk({"TRACE", "SHORT", "ON"});
  const struct {
    std::vector<std::string> args;
    std::string flags;
    std::string history;
  } steps[] = {
      {{"-p", "4711", "TRACE", "SQL", "ON"}, "c:a", "TRACE SQL ON"},
      {{"-p", "4711", "TRACE", "SQL", "OFF"}, "c", "TRACE SQL OFF"},
      {{"-p", "4711", "TRACE", "SQL", "ON"}, "c:a", "TRACE SQL ON"},
      {{"-p", "4711", "TRACE", "SHORT", "OFF"}, "a", "TRACE SHORT OFF"},
      {{"-p", "4711", "TRACE", "PACKET", "500"}, "a:p500", "TRACE PACKET ON"},
      {{"-p", "4711", "TRACE", "SIZE", "8192"}, "a:p500:s8192", "TRACE SIZE 8192"},
      {{"-p", "4711", "TRACE", "SIZE", "UNLIMITED"}, "a:p500", "TRACE SIZE -1"},
      {{"-p", "4711", "TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "1"}, "a:p500:e10/1", "TRACE STOP ON ERROR 10"},
      {{"-p", "4711", "TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "3"}, "a:p500:e10/3",
       "TRACE STOP ON ERROR 10 COUNT 3"},
      {{"-p", "4711", "TRACE", "STOP", "ON", "ERROR", "OFF"}, "a:p500", "TRACE STOP ON ERROR OFF"},
      {{"-p", "4711", "PROFILE", "COLLECT", "ON"}, "a:G2:p500", "PROFILE COLLECT ON"},
      {{"-p", "4711", "PROFILE", "RESET"}, "a:G1:p500", "PROFILE RESET"},
      {{"-p", "4711", "PROFILE", "COLLECT", "OFF"}, "a:p500", "PROFILE COLLECT OFF"},
      {{"-p", "4711", "TRACE", "DEBUG", "ON"}, "d:a:p500", "TRACE DEBUG ON"},
      {{"-p", "4711", "TRACE", "DISTRIBUTION", "ON"}, "d:D:a:p500", "TRACE DISTRIBUTION ON"},
      {{"-p", "4711", "TRACE", "TIMESTAMP", "ON"}, "d:D:a:T:p500", "TRACE TIMESTAMP ON"},
      {{"-p", "4711", "TRACE", "API", "ON"}, "A:d:D:a:T:p500", "TRACE API ON"},
      {{"-p", "4711", "TRACE", "OFF"}, "", "TRACE OFF"},
      {{"-p", "4711", "TRACE", "REFRESH"}, "R", "TRACE REFRESH"},
      {{"-p", "4711", "TRACE", "SQL", "ON"}, "c:a", "TRACE SQL ON"},  // "R": from the configuration again
  };
  std::vector<std::string> history = {"CONFIG TRACE SHORT ON", "TRACE REFRESH"};
  int32_t count = updateCount();
  EXPECT_EQ(count, 1);
  for (const auto& step : steps) {
    runOk(step.args);
    EXPECT_EQ(partOf(4711).flags, step.flags) << step.history;
    EXPECT_EQ(updateCount(), ++count) << step.history;
    history.push_back(step.history);
  }
  EXPECT_EQ(historyActions(), history);
  EXPECT_EQ(historyProcesses().back(), "      4711");
  EXPECT_EQ(configuredFlags(), "c");  // the configuration never changed
  EXPECT_EQ(parts().size(), 1u);
}

TEST_F(TraceCommands, WithoutProcessTheConfigurationChangesAndAllAreRefreshed) {
  runOk({"TRACE", "SQL", "ON"});
  EXPECT_EQ(configuredFlags(), "a");
  EXPECT_EQ(updateCount(), 1);
  EXPECT_TRUE(parts().empty());
  runOk({"PROFILE", "COLLECT", "ON"});
  EXPECT_EQ(configuredFlags(), "a:G2");
  runOk({"TRACE", "REFRESH"});
  EXPECT_EQ(updateCount(), 3);
  runOk({"TRACE", "OFF"});
  EXPECT_EQ(configuredFlags(), "");
  EXPECT_EQ(updateCount(), 4);
  EXPECT_EQ(historyActions(), (std::vector<std::string>{"CONFIG TRACE SQL ON", "TRACE REFRESH", "PROFILE COLLECT ON",
                                                        "TRACE REFRESH", "TRACE REFRESH", "TRACE OFF",
                                                        "TRACE REFRESH"}));
}

TEST_F(TraceCommands, AnotherUserIsRefusedForDynamicSettings) {
  const std::string refused = "Change settings for other user not supported (use 'su' command).\n";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-u", "other", "-p", "4711", "TRACE", "SQL", "ON"},
           {"-u", "other", "-p", "4711", "TRACE", "OFF"},
           {"-u", "other", "TRACE", "REFRESH"},
           {"-u", "other", "SHOW", "TRACESETTINGS"}}) {
    const ProgramResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refused);
  }
  EXPECT_TRUE(historyActions().empty());
}

TEST_F(TraceCommands, NoFreePartFailsSilently) {
  runOk({"TRACE", "REFRESH"});  // creates the file
  for (int i = 0; i < 100; ++i) writePart(i, getpid(), 0, "a");  // all held by a live process
  const ProgramResult r = run({"-p", "4711", "TRACE", "SQL", "ON"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(updateCount(), 1);
  EXPECT_EQ(historyActions(), std::vector<std::string>{"TRACE REFRESH"});
}

TEST_F(TraceCommands, AnUnusableProfileDirectoryIsReported) {
  // A plain file where the shared-memory file's directory should be.
  removeTree(privateHomeDirectory() + "/.orq");
  { std::ofstream(privateHomeDirectory() + "/.orq") << "x"; }
  const ProgramResult r = run({"-p", "4711", "TRACE", "SQL", "ON"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, privateHomeDirectory() + "/.orq\n");
  EXPECT_EQ(r.err, "Error opening shared memory: File " + privateHomeDirectory() +
                       "/.orq exists and is not a directory, cannot read or store profile data, aborting.\n");
  removeTree(privateHomeDirectory() + "/.orq");
}

}  // namespace
}  // namespace nebrix_test
