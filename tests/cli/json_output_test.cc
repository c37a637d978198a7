// -o json: every SHOW command as one document, read back with a JSON parser
// and compared by value.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "console_session.h"
#include "profile/console_history.h"

namespace nebrix_test {
namespace {

using nlohmann::json;

class JsonOutput : public ConsoleSession {};

// In a zone with summer time, so that the history shows both offsets and an
// hour that does not exist.
ProgramResult showJson(const std::vector<std::string>& args) {
  std::vector<std::string> environment = inheritedTestEnvironment();
  environment.push_back("TZ=EST5EDT,M3.2.0,M11.1.0");
  std::vector<std::string> all = {"-o", "json"};
  all.insert(all.end(), args.begin(), args.end());
  return runProgram(NEBRIX_CONS_BINARY, all, environment);
}

TEST_F(JsonOutput, EverySettingOfEveryShowCommand) {
  setConfiguredFlags("A:D:z:G2:p2048:s8192:e-100/3");
  runOk({"CONFIG", "TRACE", "FILENAME", "/tmp/caf\xe9-%p.prt"});  // Latin-1
  runOk({"PROFILE", "FILENAME", "/tmp/p-%p.prt"});
  check({{{"-p", kNoProcess, "TRACE", "REFRESH"}, "", kNoProcessWarning, 0}});  // part 0: "R", update count 1
  writePart(1, 42, 1, "c:d:a:T:e5:\xff");  // the other settings than configured
  std::string damaged = NEBRIX::formatHistoryRecord("2026-03-08 02:30:00.000000", 0, nullptr, "TRACE API ON");
  damaged[64] = '\0';  // shown whole, as the text form shows it
  std::ofstream history(profileDirectory() + "/nebrix.his", std::ios::binary | std::ios::trunc);
  history << NEBRIX::formatHistoryRecord("2026-07-01 12:30:00.000002", 0, nullptr, "TRACE SQL ON")
          << NEBRIX::formatHistoryRecord("2026-01-15 10:00:00.000001", 4711, "bob", "TRACE OFF") << damaged;
  for (int i = 3; i < 100; ++i) history << NEBRIX::ConsoleHistory::EMPTY_RECORD;
  history.close();

  const json settings = json::parse(R"({"short": false, "debug": false, "sql": false, "distribution": true,
      "timestamp": false, "api": true, "compression": true, "packet": true, "packet_size": 2048,
      "trace_file_size": 8192, "stop_on_error": {"code": -100, "count": 3}, "profile_action": "collect"})");
  const json profile = json::parse(R"({"profile_file_name": "/tmp/p-%p.prt", "search_path": "/tmp",
      "search_name_pattern": "p-%p.prt", "process_count": 0, "counters": [], "published_files": []})");
  json details = profile;  // and the processes, none
  details["processes"] = json::array();
  const json entries = json::parse(R"([
      {"time": "2026-01-15T10:00:00.000001-05:00", "local_time": "2026-01-15 10:00:00.000001", "user": "bob",
       "pid": 4711, "action": "TRACE OFF"},
      {"time": null, "local_time": "2026-03-08 02:30:00.000000", "user": null, "pid": null,
       "action": "TRACE\u0000API ON", "action_base64": "VFJBQ0UAQVBJIE9O"},
      {"time": "2026-07-01T12:30:00.000002-04:00", "local_time": "2026-07-01 12:30:00.000002", "user": null,
       "pid": null, "action": "TRACE SQL ON"}])");
  // The command, a member given as a JSON pointer, and its value.
  const std::vector<std::tuple<std::vector<std::string>, std::string, json>> rows = {
      {{"SHOW", "CONFIG"}, "/config/settings", settings},
      {{"SHOW", "CONFIG"}, "/config/flags", "A:D:z:G2:p2048:s8192:e-100/3"},
      // Bytes that are not UTF-8: replaced in the text, kept in base64.
      {{"SHOW", "ALL"}, "/config/trace_file_name", "/tmp/caf\xEF\xBF\xBD-%p.prt"},
      {{"SHOW", "ALL"}, "/config/trace_file_name_base64", "L3RtcC9jYWbpLSVwLnBydA=="},
      {{"SHOW", "ALL"}, "/tracesettings/header",
       {{"update_count", 1}, {"total_size", 26656}, {"parts_count", 100}, {"version", 1}}},
      {{"SHOW", "TRACESETTINGS"}, "/tracesettings/parts/0",
       {{"pid", std::stoi(kNoProcess)}, {"read_count", 0}, {"flags", "R"}, {"settings", nullptr}}},
      {{"SHOW", "TRACESETTINGS"}, "/tracesettings/parts/1", json::parse(R"({"pid": 42, "read_count": 1,
       "flags": "c:d:a:T:e5:\ufffd", "flags_base64": "YzpkOmE6VDplNTr/", "settings": {"short": true, "debug": true,
       "sql": true, "distribution": false, "timestamp": true, "api": false, "compression": false, "packet": false,
       "packet_size": null, "trace_file_size": null, "stop_on_error": {"code": 5, "count": null},
       "profile_action": "none"}})")},
      {{"SHOW", "PROFILE"}, "/profile", profile},
      {{"-v", "SHOW", "PROFILE", "DETAILS"}, "/profile", details},
      {{"SHOW", "HISTORY"}, "/history", entries},
  };
  for (const auto& [args, member, expected] : rows) {
    const ProgramResult r = showJson(args);
    EXPECT_EQ(r.err, "") << member;
    EXPECT_EQ(r.status, 0) << member;
    EXPECT_EQ(json::parse(r.out).at(json::json_pointer(member)), expected) << member;
  }
}

// A command that fails prints no document, not even the part it had read.
TEST_F(JsonOutput, FailuresPrintNothing) {
  check({
      {{"-o", "json", "SHOW", "HISTORY"}, "", "Command history is empty.\n", 1},
      {{"-o", "json", "TRACE", "SQL", "ON"}, "", "Error: Option -o json applies to SHOW commands only.\n", 1},
      {{"-o", "JSON", "-o", "text", "TRACE", "SQL", "ON"}, "", "", 0},
      {{"-o", "json", "SHOW", "FILE"}, "", "", 1},
  });
  const std::string shm = profileDirectory() + "/NEBRIX.shm";
  ASSERT_EQ(remove(shm.c_str()), 0);
  ASSERT_EQ(mkdir(shm.c_str(), 0700), 0);
  check({{{"-o", "json", "SHOW", "ALL"}, "",
          "Error opening shared memory: Cannot open shared memory file " + shm + ", rc=21:Is a directory, aborting.\n",
          1}});
}

}  // namespace
}  // namespace nebrix_test
