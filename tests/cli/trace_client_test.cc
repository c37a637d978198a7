// The console and a running client process: the stand-in client watches the
// trace shared-memory file and prints its effective flags on every change.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console_session.h"

namespace nebrix_test {
namespace {

// A running nebrix_trace_client whose standard output is read line by line.
// The shell prints its own process id, which the client keeps through exec.
class TraceClient {
 public:
  TraceClient() : m_pipe(popen("echo $$ && exec '" NEBRIX_TRACE_CLIENT_BINARY "' -i 20", "r")) {
    if (m_pipe == nullptr) return;
    setvbuf(m_pipe, nullptr, _IONBF, 0);  // so that poll sees all that is not read yet
    m_pid = atoi(nextLine().c_str());
  }
  ~TraceClient() {
    if (m_pid > 0) kill(m_pid, SIGTERM);
    if (m_pipe != nullptr) pclose(m_pipe);
  }
  std::string pid() const { return std::to_string(m_pid); }

  // The next line, or "" when none comes within five seconds.
  std::string nextLine() {
    char line[256] = "";
    pollfd p = {fileno(m_pipe), POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0 || fgets(line, sizeof line, m_pipe) == nullptr) return "";
    return std::string(line, strcspn(line, "\n"));
  }

 private:
  FILE* m_pipe;
  pid_t m_pid = 0;
};

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
