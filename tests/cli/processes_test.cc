// SHOW PROCESSES, -w and -v with real client processes: which processes a
// change reaches, and whether they have taken it up.
#include <fcntl.h>
#include <sys/file.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_session.h"
#include "trace/client_status_files.h"
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

// Waits up to ten seconds until a running nebrix_cons uses `path`: has it
// open (to lock it) or mapped.
bool consoleUses(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ignored;
  for (int round = 0; round < 1000; ++round, usleep(10000)) {
    for (const fs::directory_entry& process : fs::directory_iterator("/proc", ignored)) {
      for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", ignored)) {
        const bool console = readFile(process.path() / "comm") == "nebrix_cons\n";
        if (console && fs::read_symlink(fd.path(), ignored) == path) return true;
      }
    }
  }
  return false;
}

std::future<ProgramResult> startConsole(const std::vector<std::string>& args) {
  return std::async(std::launch::async, [args] { return runConsole(args); });
}
const std::string kHeader =
    "  Process  Command          Source         Acknowledged  Flags\n  " + std::string(70, '-') + "\n";

// A client working in the private home, and where its trace goes: the state
// it published, or "unknown" when it published nothing.
std::string trace(const std::string& pid, const std::string& state) {
  if (state == "unknown") return "unknown (no status published)";
  return privateHomeDirectory() + "/nebrixtrace-" + pid + ".prt (" + state + ")";
}

std::string row(const std::string& pid, const std::string& source, const std::string& acknowledged,
                const std::string& flags, const std::string& state) {
  std::string line = "  " + std::string(7 - pid.size(), ' ') + pid + "  nebrix_trace_cl  " + source;
  line += std::string(15 - source.size(), ' ') + acknowledged + std::string(14 - acknowledged.size(), ' ');
  return line + flags + "\n           trace: " + trace(pid, state) + "\n";
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
  writePart(99, std::stoi(kNoProcess), 0, "d");
  const std::string ended = "\nParts kept for processes that no longer run:\n  Process  Flags\n  " +
                            std::string(70, '-') + "\n  " + kNoProcess +
                            "  d\n  A new process with one of these ids takes over its flags. To make it follow\n"
                            "  the configuration instead: nebrix_cons -p <pid> TRACE REFRESH\n";
  check({{{"SHOW", "PROC"},
          "\nProcesses (update count 1):\n" + kHeader + row(a, "configuration", "yes", "a", "writing") +
              row(b, "own", "yes", "c:a", "writing") + ended,
          "", 0}});
  nlohmann::json document = nlohmann::json::parse(runConsole({"-o", "json", "SHOW", "PROC"}).out)["processes"];
  EXPECT_EQ(document["header"]["update_count"], 1);
  EXPECT_EQ(document["clients"][1]["settings"]["short"], true);
  document["clients"][1].erase("settings");
  const std::string home = privateHomeDirectory();
  EXPECT_EQ(document["clients"][1], nlohmann::json::parse(R"({"pid": )" + b + R"(, "command": "nebrix_trace_cl",
      "source": "own", "acknowledged": "yes", "read_count": 1, "flags": "c:a", "part_flags": "c:a",
      "published": true, "program": "nebrix_trace_client", "update_count": 1, "trace_file": ")" + home +
      "/nebrixtrace-" + b + R"(.prt", "trace_state": "writing", "trace_reason": null, "trace_since": null,
      "trace_error": null, "compressed": false, "shared": false, "profile_file": ")" + home + "/nebrixprofile-" + b +
      R"(.prt", "profile_state": "none", "profile_reason": null})"));
  EXPECT_EQ(document["ended_parts"][0]["pid"], std::stoi(kNoProcess));
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
  check({{{"-w", "1", "TRACE", "SHORT", "ON"}, "", late + "1 second.\n", 2},
         {{"-w", "0", "-p", pid, "TRACE", "OFF"}, "", late + "0 seconds.\n", 2},
         {{"SHOW", "PROCESSES"},
          "\nProcesses (update count 3):\n" + kHeader + row(pid, "own", "no", "(none set)", "writing"),
          "", 0}});
  EXPECT_EQ(configuredFlags(), "c:a");  // the change stays
  kill(std::stoi(pid), SIGCONT);
  // Nor can a process acknowledge that has ended, or that does not use the library (this test).
  const std::string cannot = " and cannot acknowledge the change; it waits in the trace shared memory ";
  const std::string self = std::to_string(getpid());
  check({{{"-w", "5", "-p", pid, "TRACE", "REFRESH"}, "", "", 0},
         {{"-p", self, "TRACE", "OFF"}, "",
          "Warning: Process " + self + " does not use the trace library; the change waits in the trace shared "
          "memory until the process does.\n", 0},
         {{"-w", "5", "-p", kNoProcess, "TRACE", "OFF"}, "",
          "Error: Process " + kNoProcess + " is not running" + cannot + "for a process with that id.\n", 2},
         {{"-w", "5", "-p", self, "TRACE", "OFF"}, "",
          "Error: Process " + self + " does not use the trace library" + cannot + "until the process does.\n", 2}});
  EXPECT_EQ(parts(), (std::vector<std::string>{pid + " 7 R", self + " 0 ", kNoProcess + " 0 "}));  // all made
  // Taken up, but not done: the trace file cannot be written.
  const std::string missing = privateHomeDirectory() + "/missing/t-" + pid + ".txt";
  runConsole({"CONFIG", "TRACE", "FILENAME", privateHomeDirectory() + "/missing/t-%p.txt"});
  check({{{"-w", "5", "TRACE", "REFRESH"}, "", "Error: Process " + pid + " (nebrix_trace_cl) took the change but "
          "cannot write its trace file " + missing + ": No such file or directory.\n", 2}});
  const std::string shown = runConsole({"SHOW", "PROCESSES"}).out;
  EXPECT_NE(shown.find("trace: " + missing + " (cannot write: No such file or directory)\n"), std::string::npos);
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
       "Process " + o + " : running, acknowledged: yes\nProcess " + o + " trace : " + trace(o, "writing") + "\n",
       "", 0},
      {{"-v", "-p", kNoProcess, "TRACE", "REFRESH"},
       "Trace flags of process " + kNoProcess + " : p1000 -> p1000\n    (no change)\nProcess " + kNoProcess +
           " : not running\n",
       kNoProcessWarning, 0},
      {{"-v", "CONFIG", "TRACE", "STOP", "ON", "ERROR", "7", "COUNT", "2"},
       "Configured trace flags : p1000 -> p1000:e7/2\n    Stop on error      : disabled -> after error 7, 2 times\n"
       "Processes following the configuration : 1 (they read it again with the next TRACE command)\n"
       "Processes keeping their own settings  : " + o + "\n",
       "", 0},
  });
}

// A console that waits for acknowledgements maps the file, but is no client:
// another neither lists it, nor gives it a part, nor waits for it. A client
// that exits without acknowledging is not waited for, reaped or not.
TEST_F(Processes, ConsolesAreNoClientsAndEndedClientsAreNotAwaited) {
  TraceClient client;
  const std::string pid = ready(client);
  kill(std::stoi(pid), SIGSTOP);
  std::future<ProgramResult> waiting = startConsole({"-w", "30", "TRACE", "REFRESH"});
  ASSERT_TRUE(consoleUses(profileDirectory() + "/NEBRIX.shm"));
  check({{{"-w", "0", "TRACE", "REFRESH"}, "",
          "Error: Process " + pid + " (nebrix_trace_cl) did not acknowledge the change within 0 seconds.\n", 2},
         {{"SHOW", "PROCESSES"},
          "\nProcesses (update count 2):\n" + kHeader + row(pid, "configuration", "no", "(none set)", "off"), "", 0}});
  EXPECT_EQ(parts(), std::vector<std::string>{pid + " 0 R"});
  kill(std::stoi(pid), SIGKILL);  // not reaped before the client object goes
  const ProgramResult waited = waiting.get();
  EXPECT_EQ(waited.err + std::to_string(waited.status), "0");
}

// --all hands every live process with settings of its own back to the
// configuration, client or not yet, with the one change it announces; the
// part of an ended process stays as it is.
TEST_F(Processes, AllHandsLiveProcessesBack) {
  TraceClient follower;
  TraceClient own;
  const std::string f = ready(follower);
  const std::string o = ready(own);
  runOk({"-p", o, "TRACE", "SQL", "ON"});
  const std::string self = std::to_string(getpid());  // no client, but alive
  writePart(97, getpid(), 0, "a");
  writePart(98, std::stoi(kNoProcess), 0, "d");
  const std::string back = std::stoi(o) < getpid() ? o + " " + self : self + " " + o;
  std::string traces;  // of the processes that took the change, by pid
  for (const std::string& pid : std::stoi(f) < std::stoi(o) ? std::vector{f, o} : std::vector{o, f}) {
    traces += "Process " + pid + " trace" + std::string(24 - pid.size(), ' ') + ": " + trace(pid, "off") + "\n";
  }
  check({{{"-v", "-w", "5", "--all", "TRACE", "OFF"},
          "Configured trace flags : (none set) -> (none set)\n    (no change)\n"
          "Processes following the configuration : 2\nProcesses keeping their own settings  : none\n"
          "Processes handed back                 : " + back + "\n" + traces,
          "", 0}});
  EXPECT_EQ(parts(), (std::vector<std::string>{o + " 2 R", f + " 2 R", self + " 0 R", kNoProcess + " 0 d"}));
  EXPECT_EQ(historyActions(), (std::vector<std::string>{"TRACE SQL ON", "TRACE OFF", "TRACE REFRESH"}));
  // The status of a process that has replaced its program since (here this
  // test's own): it maps no file and is not waited for.
  NEBRIX::ClientStatus stale;
  stale.component = "NEBRIX";
  stale.pid = getpid();
  ASSERT_TRUE(NEBRIX::processStartTime(stale.pid, stale.started));
  static NEBRIX::StatusFileLock lock;  // held by this process while it runs
  ASSERT_EQ(NEBRIX::publishClientStatus(profileDirectory(), stale, lock), 0);
  check({{{"-w", "1", "TRACE", "REFRESH"}, "", "", 0}});
}

// A client that starts while the change waits for the configuration lock
// gets its part with the change, and is waited for.
TEST_F(Processes, AClientThatStartsDuringTheChangeIsAwaited) {
  runOk({"TRACE", "REFRESH"});
  const int held = open(profileDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  std::future<ProgramResult> change = startConsole({"-w", "10", "TRACE", "SQL", "ON"});
  ASSERT_TRUE(consoleUses(profileDirectory()));
  TraceClient client;
  const std::string pid = ready(client);
  close(held);
  const ProgramResult result = change.get();
  EXPECT_EQ(result.err + std::to_string(result.status), "0");
  EXPECT_EQ(parts(), std::vector<std::string>{pid + " 2 R"});
}

// A part is handed out only with a change that is made, and never carries an
// acknowledgement its new owner did not give: not for a change that failed,
// nor a count from before the counter was reset.
TEST_F(Processes, AcknowledgementsAreOnlyThoseGiven) {
  TraceClient client;
  const std::string pid = ready(client);
  kill(std::stoi(pid), SIGSTOP);
  writePart(0, std::stoi(kNoProcess), 7, "d");
  lockStore();
  EXPECT_EQ(runConsole({"-w", "1", "TRACE", "SQL", "ON"}).status, 1);  // nothing changed
  EXPECT_EQ(parts(), std::vector<std::string>{kNoProcess + " 7 d"});
  unlink((profileDirectory() + "/SSFS_ORQ.LCK").c_str());
  runOk({"-p", pid, "TRACE", "SQL", "ON"});
  EXPECT_EQ(parts(), std::vector<std::string>{pid + " 0 a"});
  std::fstream(profileDirectory() + "/NEBRIX.shm", std::ios::in | std::ios::out | std::ios::binary)
      << std::string(256, '\0');  // a header some client zeroed
  // Without its status (as on an earlier library) the client is found by its part.
  for (const auto& file : std::filesystem::directory_iterator(profileDirectory() + "/clients")) {
    if (file.path().filename().string().rfind("NEBRIX-" + pid + "-", 0) == 0) std::filesystem::remove(file.path());
  }
  check({{{"-w", "1", "TRACE", "REFRESH"}, "",
          "Error: Process " + pid + " (nebrix_trace_cl) did not acknowledge the change within 1 second.\n", 2},
         {{"SHOW", "PROCESSES"}, "\nProcesses (update count 1):\n" + kHeader + row(pid, "own", "no", "a", "unknown"),
          "", 0}});
}

// Looking changes nothing: a file the list cannot use is reported and left
// as it is, and a header that is not initialised stays so.
TEST_F(Processes, ShowProcessesLeavesTheFileAsItIs) {
  runOk({"TRACE", "REFRESH"});
  const std::string shm = profileDirectory() + "/NEBRIX.shm";
  const std::string wrong = "Error opening shared memory: Shared memory file " + shm +
                            " has 30000 bytes instead of 26656, aborting.\nThe file is left as it is; the next TRACE "
                            "command replaces it with an empty one.\n1";
  for (const std::string& content : {std::string(30000, '\1'), std::string(26656, '\0')}) {
    writeFile(shm, content);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"SHOW", "PROCESSES"},
                                                 std::vector<std::string>{"-o", "json", "SHOW", "PROCESSES"}}) {
      const ProgramResult result = runConsole(args);
      EXPECT_EQ(result.err + std::to_string(result.status), content.size() == 30000 ? wrong : "0");
    }
    EXPECT_EQ(readFile(shm), content);
  }
}

}  // namespace
}  // namespace nebrix_test
