// The console and a running client process: the stand-in client watches the
// trace shared-memory file and prints its effective flags on every change.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "console_session.h"

namespace nebrix_test {
namespace {

// A running nebrix_trace_client whose standard output is read line by line.
class TraceClient {
 public:
  TraceClient() {
    int fds[2];
    if (pipe(fds) != 0) return;
    std::vector<std::string> env = inheritedTestEnvironment();
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      char interval[] = "20";
      char option[] = "-i";
      char* argv[] = {const_cast<char*>(NEBRIX_TRACE_CLIENT_BINARY), option, interval, nullptr};
      execve(NEBRIX_TRACE_CLIENT_BINARY, argv, envp.data());
      _exit(127);
    }
    close(fds[1]);
    m_out = fds[0];
  }
  ~TraceClient() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) close(m_out);
  }
  pid_t pid() const { return m_pid; }

  // The next line, or "" when none comes within five seconds.
  std::string nextLine() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (true) {
      const size_t end = m_buffer.find('\n');
      if (end != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "";
      pollfd p = {m_out, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
      char chunk[256];
      const ssize_t n = read(m_out, chunk, sizeof chunk);
      if (n <= 0) return "";
      m_buffer.append(chunk, static_cast<size_t>(n));
    }
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_buffer;
};

class TraceClientSession : public ConsoleSession {};

TEST_F(TraceClientSession, ChangesReachTheRunningProcess) {
  TraceClient client;
  ASSERT_GT(client.pid(), 0);
  const std::string pid = std::to_string(client.pid());
  EXPECT_EQ(client.nextLine(), "process " + pid + " watching the trace settings");
  EXPECT_EQ(client.nextLine(), "update 0: flags \"\" (configuration)");

  runOk({"-p", pid, "TRACE", "SQL", "ON"});
  EXPECT_EQ(client.nextLine(), "update 1: flags \"a\" (own settings)");
  // The show command lists the part with the count the process acknowledged.
  ProgramResult r = run({"SHOW", "TRACESETTINGS"});
  char row[64];
  snprintf(row, sizeof row, "    %5d             1  a\n", client.pid());
  EXPECT_NE(r.out.find(row), std::string::npos) << r.out;

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
