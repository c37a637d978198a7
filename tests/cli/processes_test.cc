// SHOW PROCESSES, -w and -v with real client processes: which processes a
// change reaches, and whether they have taken it up.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_session.h"
#include "trace_client.h"

namespace nebrix_test {
namespace {

class Processes : public ConsoleSession {
 protected:
  // A started client that has mapped the file and read its settings.
  static std::string ready(TraceClient& client) {
    client.nextLine();
    client.nextLine();
    return client.pid();
  }
};

const std::string kDead = "2147483646";  // never a process
const std::string kHeader =
    "  Process  Command          Source         Acknowledged  Flags\n  " + std::string(70, '-') + "\n";

std::string row(const std::string& pid, const std::string& source, const std::string& acknowledged,
                const std::string& flags) {
  std::string line = "  " + std::string(7 - pid.size(), ' ') + pid + "  nebrix_trace_cl  " + source;
  line += std::string(15 - source.size(), ' ') + acknowledged + std::string(14 - acknowledged.size(), ' ');
  return line + flags + "\n";
}

TEST_F(Processes, ListsFollowersOwnSettingsAndEndedParts) {
  check({{{"SHOW", "PROCESSES"}, "No process is using the trace shared memory.\n", "", 0}});
  EXPECT_EQ(updateCount(), -1);  // the file is not created for the list
  TraceClient first;
  TraceClient second;
  std::string a = ready(first);
  std::string b = ready(second);
  if (std::stoi(a) > std::stoi(b)) std::swap(a, b);
  runOk({"CONFIG", "TRACE", "SQL", "ON"});
  runOk({"-w", "5", "-p", b, "TRACE", "SHORT", "ON"});
  writePart(99, std::stoi(kDead), 0, "d");
  const std::string ended = "\nParts kept for processes that no longer run:\n  Process  Flags\n  " +
                            std::string(70, '-') + "\n  " + kDead +
                            "  d\n  A new process with one of these ids takes over its flags. To make it follow\n"
                            "  the configuration instead: nebrix_cons -p <pid> TRACE REFRESH\n";
  check({{{"SHOW", "PROC"},
          "\nProcesses (update count 1):\n" + kHeader + row(a, "configuration", "yes", "a") +
              row(b, "own", "yes", "c:a") + ended,
          "", 0}});
  nlohmann::json document = nlohmann::json::parse(runConsole({"-o", "json", "SHOW", "PROC"}).out)["processes"];
  EXPECT_EQ(document["clients"][1]["settings"]["short"], true);
  document["clients"][1].erase("settings");
  EXPECT_EQ(document["clients"][1], nlohmann::json::parse(R"({"pid": )" + b + R"(, "command": "nebrix_trace_cl",
      "source": "own", "acknowledged": "yes", "read_count": 1, "flags": "c:a", "part_flags": "c:a"})"));
  EXPECT_EQ(document["ended_parts"][0]["pid"], std::stoi(kDead));
}

// Before the change every client without a part gets one holding "R"; a
// stopped client makes the wait time out, and acknowledges once continued.
TEST_F(Processes, WaitsForAcknowledgement) {
  TraceClient client;
  const std::string pid = ready(client);
  check({{{"-w", "5", "TRACE", "SQL", "ON"}, "", "", 0}});
  EXPECT_EQ(parts(), std::vector<std::string>{pid + " 1 R"});
  EXPECT_EQ(historyActions(), (std::vector<std::string>{"CONFIG TRACE SQL ON", "TRACE REFRESH"}));
  kill(std::stoi(pid), SIGSTOP);
  const std::string late = "Error: Process " + pid + " (nebrix_trace_cl) did not acknowledge the change within ";
  check({{{"-w", "1", "TRACE", "SHORT", "ON"}, "", late + "1 second.\n", 1},
         {{"-w", "0", "-p", pid, "TRACE", "OFF"}, "", late + "0 seconds.\n", 1},
         {{"SHOW", "PROCESSES"}, "\nProcesses (update count 3):\n" + kHeader + row(pid, "own", "no", "(none set)"),
          "", 0}});
  EXPECT_EQ(configuredFlags(), "c:a");  // the change stays
  kill(std::stoi(pid), SIGCONT);
  check({{{"-w", "5", "-p", pid, "TRACE", "REFRESH"}, "", "", 0}});
  for (int i = 0; i < 100; ++i) writePart(i, getpid(), 0, "a");  // no part left for the client
  check({{{"-w", "0", "TRACE", "REFRESH"}, "",
          "Warning: Process " + pid +
              " (nebrix_trace_cl) has no part in the trace shared memory (all are in use); whether it took up "
              "the change cannot be seen.\n",
          0}});
}

TEST_F(Processes, VerboseSaysWhatChangedAndWhere) {
  TraceClient follower;
  TraceClient own;
  const std::string f = ready(follower);
  const std::string o = ready(own);
  runOk({"-p", o, "TRACE", "API", "ON"});
  check({
      {{"-v", "TRACE", "PACKET", "ON"},
       "Configured trace flags : (none set) -> p1000\n"
       "    Packet trace       : disabled -> enabled, size limit is 1000\n"
       "Processes following the configuration : 1\nProcesses keeping their own settings  : " + o + "\n",
       "", 0},
      {{"-v", "-w", "5", "-p", o, "TRACE", "SIZE", "8192"},
       "Trace flags of process " + o + " : A -> A:s8192\n    Trace file size    : unlimited -> 8192 bytes\n"
       "Process " + o + " : running, acknowledged: yes\n",
       "", 0},
      {{"-v", "-p", kDead, "TRACE", "REFRESH"},
       "Trace flags of process " + kDead + " : p1000 -> p1000\n    (no change)\nProcess " + kDead + " : not running\n",
       "", 0},
      {{"-v", "CONFIG", "TRACE", "STOP", "ON", "ERROR", "7", "COUNT", "2"},
       "Configured trace flags : p1000 -> p1000:e7/2\n    Stop on error      : disabled -> after error 7, 2 times\n"
       "Processes following the configuration : 1 (they read it again with the next TRACE command)\n"
       "Processes keeping their own settings  : " + o + "\n",
       "", 0},
  });
}

}  // namespace
}  // namespace nebrix_test
