// The console and a running client process: the stand-in client watches the
// trace shared-memory file and prints its effective flags on every change.
#include <string>

#include "console_session.h"
#include "trace_client.h"

namespace nebrix_test {
namespace {

class TraceClientSession : public ConsoleSession {};

TEST_F(TraceClientSession, ChangesReachTheRunningProcess) {
  TraceClient client;
  const std::string pid = client.pid();
  ASSERT_NE(pid, "0");
  EXPECT_EQ(client.nextLine(), "process " + pid + " watching the trace settings");
  EXPECT_EQ(client.nextLine(), "update 0: flags \"\" (configuration)");

  runOk({"-p", pid, "TRACE", "SQL", "ON"});
  EXPECT_EQ(client.nextLine(), "update 1: flags \"a\" (own settings)");
  // The show command lists the part with the count the process acknowledged.
  const std::string settings = runConsole({"SHOW", "TRACESETTINGS"}).out;
  EXPECT_NE(settings.find(pid + "             1  a\n"), std::string::npos) << settings;

  // Without "-p" the process keeps its own settings...
  runOk({"TRACE", "SHORT", "ON"});
  EXPECT_EQ(client.nextLine(), "update 2: flags \"a\" (own settings)");
  // ...until it is returned to the configuration.
  runOk({"-p", pid, "TRACE", "REFRESH"});
  EXPECT_EQ(client.nextLine(), "update 3: flags \"c\" (configuration)");
  runOk({"TRACE", "SQL", "ON"});
  EXPECT_EQ(client.nextLine(), "update 4: flags \"c:a\" (configuration)");
}

}  // namespace
}  // namespace nebrix_test
