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

// A running nebrix_trace_client whose standard output is read line by line.
// The shell prints its own process id, which the client keeps through exec.
// It works in the private home, where a relative trace file name puts its
// trace.
class TraceClient {
 public:
  TraceClient()
      : m_pipe(popen(("cd '" + privateHomeDirectory() + "' && echo $$ && exec '" NEBRIX_TRACE_CLIENT_BINARY "' -i 20")
                         .c_str(),
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
