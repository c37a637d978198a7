#include "trace/client_status.h"

#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "trace/client_status_files.h"

namespace NEBRIX {
namespace {

// Whatever another process of the user may have put into a status file: each
// row is a whole file that must be refused, and why.
TEST(ClientStatus, RefusesWhatNoWriterWrites) {
  const std::string head = "NEBRIX client status 1\ncomponent NEBRIX\npid 4711\nstarted 9\n";
  const std::pair<std::string, std::string> cases[] = {
      {"NEBRIX client status 2\ncomponent NEBRIX\npid 4711\nstarted 9\n", "not a client status"},
      {"NEBRIX client status 1\ncomponent NE-BRIX\npid 4711\nstarted 9\n", "invalid \"component\""},
      {"NEBRIX client status 1\ncomponent NEBRIX\npid 0\nstarted 9\n", "invalid \"pid\""},
      {"NEBRIX client status 1\ncomponent NEBRIX\nstarted 9\n", "no \"pid\""},
      {head + "pid 4712\n", "\"pid\" twice"},
      {head + "trace_state reading\n", "invalid \"trace_state\""},
      {head + "profile_state lost\n", "invalid \"profile_state\""},
      {head + "trace_file relative.prt\n", "invalid \"trace_file\""},
      {head + "update_count 2147483648\n", "invalid \"update_count\""},
      {head + "compressed yes\n", "invalid \"compressed\""},
      {head + "trace_since -1\n", "invalid \"trace_since\""},
      {"NEBRIX client status 1\ncomponent NEBRIX\npid 4711\nstarted -1\n", "invalid \"started\""},
      {head + "program a\tb\n", "damaged line"},
      {head + "program cut", "cut short"},
      {head + std::string(16384, 'x'), "too large"},
  };
  for (const auto& [bytes, why] : cases) {
    ClientStatus status;
    std::string problem;
    EXPECT_FALSE(parseClientStatus(bytes, status, problem)) << bytes;
    EXPECT_EQ(problem, why) << bytes;
  }
  ClientStatus status;
  std::string problem;
  ASSERT_TRUE(parseClientStatus("NEBRIX client status 1\ncomponent Nbx_9z\npid 1\nstarted 9\nlater_key any\n"
                                "trace_state stopped\ntrace_error -3\n", status, problem));
  EXPECT_EQ(traceStateSummary(status), "stopped after error -3");
  // A process that has exited has no start time, also before it is reaped.
  std::uint64_t started = 0;
  EXPECT_TRUE(processStartTime(getpid(), started));
  const pid_t child = fork();
  if (child == 0) _exit(0);
  usleep(100000);
  EXPECT_FALSE(processStartTime(child, started));
  waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace NEBRIX
