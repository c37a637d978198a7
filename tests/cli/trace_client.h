// A running nebrix_trace_client for the tests of the binary.
#pragma once

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "private_home.h"

namespace nebrix_test {

// A running nebrix_trace_client (or another program) whose standard output
// is read line by line. The shell prints its own process id, which the
// program keeps through exec. It works in the private home, where a
// relative trace file name puts its trace.
class TraceClient {
 public:
  explicit TraceClient(const std::string& options = "-i 20", const std::string& program = NEBRIX_TRACE_CLIENT_BINARY)
      : m_pipe(popen(("cd '" + privateHomeDirectory() + "' && echo $$ && exec '" + program + "' " + options).c_str(),
                     "r")) {
    if (m_pipe == nullptr) return;
    setvbuf(m_pipe, nullptr, _IONBF, 0);  // so that poll sees all that is not read yet
    m_pid = atoi(nextLine().c_str());
  }
  // A stopped client ends only when continued, and it is continued before it
  // is told to end, never after: once it exits, the sanitizer's leak check
  // stops it to look at its memory, and a late SIGCONT throws that stop away,
  // leaving the check waiting for it forever.
  ~TraceClient() {
    if (m_pid > 0) kill(m_pid, SIGCONT);
    if (m_pid > 0) kill(m_pid, SIGTERM);
    if (m_pipe != nullptr) pclose(m_pipe);
  }
  std::string pid() const { return std::to_string(m_pid); }
  // Waits for the program to end by itself; its wait status.
  int end() {
    const int status = pclose(m_pipe);
    m_pipe = nullptr;
    m_pid = 0;
    return status;
  }

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

}  // namespace nebrix_test
