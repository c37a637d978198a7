// TRACE ... and PROFILE ... with and without "-p", as a user runs them.
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "console_session.h"
#include "private_home.h"

namespace nebrix_test {
namespace {

class TraceCommands : public ConsoleSession {};

// With "-p" one process gets settings of its own, starting from the
// configuration; without, the configuration changes and every process is
// told to read it again. Each command moves the update counter once.
TEST_F(TraceCommands, ProcessAndConfigurationSettings) {
  const struct {
    std::vector<std::string> args;
    std::string configured;
    std::vector<std::string> parts;
    std::vector<std::string> history;
  } steps[] = {
      {{"-u", "", "TRACE", "SHORT", "ON"}, "c", {}, {"CONFIG TRACE SHORT ON", "TRACE REFRESH"}},  // "": the caller
      {{"-p", "4711", "TRACE", "SQL", "ON"}, "c", {"4711 0 c:a"}, {"TRACE SQL ON"}},
      {{"-p", "4711", "TRACE", "SHORT", "OFF"}, "c", {"4711 0 a"}, {"TRACE SHORT OFF"}},
      {{"-p", "4711", "TRACE", "PACKET", "ON"}, "c", {"4711 0 a:p1000"}, {"TRACE PACKET ON"}},
      {{"-p", "4711", "TRACE", "STOP", "ON", "ERROR", "10"}, "c", {"4711 0 a:p1000:e10"}, {"TRACE STOP ON ERROR 10"}},
      {{"-p", "4711", "TRACE", "STOP", "ON", "ERROR", "OFF"}, "c", {"4711 0 a:p1000"}, {"TRACE STOP ON ERROR OFF"}},
      {{"-p", "4711", "PROFILE", "COLLECT", "ON"}, "c", {"4711 0 a:G2:p1000"}, {"PROFILE COLLECT ON"}},
      {{"-p", "4711", "PROFILE", "RESET"}, "c", {"4711 0 a:G1:p1000"}, {"PROFILE RESET"}},
      {{"-p", "4711", "PROFILE", "COLLECT", "OFF"}, "c", {"4711 0 a:p1000"}, {"PROFILE COLLECT OFF"}},
      {{"-p", "4711", "TRACE", "DEBUG", "ON"}, "c", {"4711 0 d:a:p1000"}, {"TRACE DEBUG ON"}},
      {{"-p", "4711", "TRACE", "DISTRIBUTION", "ON"}, "c", {"4711 0 d:D:a:p1000"}, {"TRACE DISTRIBUTION ON"}},
      {{"-p", "4711", "TRACE", "TIMESTAMP", "ON"}, "c", {"4711 0 d:D:a:T:p1000"}, {"TRACE TIMESTAMP ON"}},
      {{"-p", "4711", "TRACE", "API", "ON"}, "c", {"4711 0 A:d:D:a:T:p1000"}, {"TRACE API ON"}},
      {{"-p", "4711", "TRACE", "OFF"}, "c", {"4711 0 "}, {"TRACE OFF"}},
      {{"-p", "4711", "TRACE", "REFRESH"}, "c", {"4711 0 R"}, {"TRACE REFRESH"}},
      {{"PROFILE", "COLLECT", "ON"}, "c:G2", {"4711 0 R"}, {"PROFILE COLLECT ON", "TRACE REFRESH"}},
      // "R": the process starts from the configuration again.
      {{"-p", "4711", "TRACE", "SIZE", "UNLIMITED"}, "c:G2", {"4711 0 c:G2"}, {"TRACE SIZE -1"}},
      {{"TRACE", "OFF"}, "", {"4711 0 c:G2"}, {"TRACE OFF", "TRACE REFRESH"}},
  };
  std::vector<std::string> history;
  int32_t count = 0;
  for (const auto& step : steps) {
    runOk(step.args);
    EXPECT_EQ(configuredFlags(), step.configured) << step.history[0];
    EXPECT_EQ(parts(), step.parts) << step.history[0];
    EXPECT_EQ(updateCount(), ++count) << step.history[0];
    history.insert(history.end(), step.history.begin(), step.history.end());
  }
  EXPECT_EQ(historyActions(), history);
}

TEST_F(TraceCommands, NoFreePartFailsSilently) {
  runOk({"TRACE", "REFRESH"});  // creates the file
  for (int i = 0; i < 100; ++i) writePart(i, getpid(), 0, "a");  // all held by a live process
  check({{{"-p", "4711", "TRACE", "SQL", "ON"}, "", "", 1}});
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

}  // namespace
}  // namespace nebrix_test
