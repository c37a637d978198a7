#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/console.h"

namespace NEBRIX {
namespace {

// Parses a command line given as one string of blank-separated words.
struct Parsed {
  NEBRIX_Retcode rc;
  Console::Command command;
  bool on;
  int32_t size;
  std::string filename;
  bool stop;
  int32_t code;
  int32_t count;
  bool pidPresent;
  int32_t pid;
};

Parsed parse(const std::vector<std::string>& words) {
  std::vector<std::string> storage = {"nebrix_cons"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char*> argv;
  for (auto& w : storage) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  Console console;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  const NEBRIX_Retcode rc = console.parseArguments(static_cast<int>(storage.size()), argv.data());
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return {rc,
          console.command(),
          console.on(),
          console.size(),
          console.filename() ? console.filename() : "",
          console.stopOnError(),
          console.errorCode(),
          console.errorCount(),
          console.pidPresent(),
          console.pid()};
}

TEST(CommandParser, AcceptedCommandsYieldTheirCode) {
  const struct {
    std::vector<std::string> words;
    Console::Command code;
  } cases[] = {
      {{"t", "sq", "on"}, Console::C_TRACE_SQL},
      {{"TRACE", "SQL", "ON"}, Console::C_TRACE_SQL},
      {{"trace", "Sq", "On"}, Console::C_TRACE_SQL},
      {{"TRACE", "D", "ON"}, Console::C_TRACE_LONG},
      {{"TRACE", "SH", "OFF"}, Console::C_TRACE_SHORT},
      {{"TRACE", "DI", "ON"}, Console::C_TRACE_DISTRIBUTION},
      {{"TRACE", "R"}, Console::C_TRACE_REFRESH},
      {{"TRACE", "O"}, Console::C_TRACE_OFF},
      {{"TRACE", "OFF", "now"}, Console::C_TRACE_OFF},
      {{"TRACE", "T", "ON"}, Console::C_TRACE_TIMESTAMP},
      {{"TRACE", "AP", "OFF"}, Console::C_TRACE_API},
      {{"CONFIG", "TRACE", "DI", "ON"}, Console::C_CONFIG_TRACE_DISTRIBUTION},
      {{"CONFIG", "TRACE", "D", "ON"}, Console::C_CONFIG_TRACE_LONG},
      {{"CONFIG", "TRACE", "T", "ON"}, Console::C_CONFIG_TRACE_TIMESTAMP},
      {{"CONFIG", "TRACE", "C", "ON"}, Console::C_CONFIG_TRACE_COMPRESS},
      {{"CONFIG", "TRACE", "AP", "ON"}, Console::C_CONFIG_TRACE_API},
      {{"c", "t", "sh", "of"}, Console::C_CONFIG_TRACE_SHORT},
      {{"c", "t", "f", "/tmp/x"}, Console::C_CONFIG_TRACE_FILENAME},
      {{"SHOW", "CONFIG"}, Console::C_SHOW_CONFIG},
      {{"SHOW", "T", "x", "y"}, Console::C_SHOW_TRACESETTINGS},
      {{"SHOW", "FILE"}, Console::C_SHOW_TRACEFILE},
      {{"SHOW", "ALL", "now"}, Console::C_SHOW_ALL},
      {{"s", "h"}, Console::C_SHOW_HISTORY},
      {{"SHOW", "PROFILE"}, Console::C_SHOW_PROFILE},
      {{"SHOW", "PROFILE", "DET"}, Console::C_SHOW_PROFILE_DETAIL},
      {{"PROFILE", "RESET"}, Console::C_PROFILE_RESET},
      {{"p", "c", "on"}, Console::C_PROFILE_COLLECT_ON},
      {{"p", "c", "of"}, Console::C_PROFILE_COLLECT_OFF},
      {{"-p", "4711", "PROFILE", "FILENAME", "x"}, Console::C_PROFILE_FILENAME},
      {{"-v"}, Console::C_NONE},
      {{"-h", "TRACE", "FOO"}, Console::C_HELP},
      {{"-f", "SHOW", "CONFIG"}, Console::C_SHOW_CONFIG},
      {{"-H", "myhost", "SHOW", "CONFIG"}, Console::C_SHOW_CONFIG},
  };
  for (const auto& c : cases) {
    const Parsed p = parse(c.words);
    std::string line;
    for (const auto& w : c.words) line += w + " ";
    EXPECT_EQ(p.rc, NEBRIX_OK) << line;
    EXPECT_EQ(p.command, c.code) << line;
  }
}

TEST(CommandParser, ArgumentsReachTheirMembers) {
  Parsed p = parse({"CONFIG", "TRACE", "SIZE", "8k"});
  EXPECT_EQ(p.size, 8192);
  p = parse({"CONFIG", "TRACE", "SIZE", "u"});
  EXPECT_EQ(p.size, -1);
  p = parse({"TRACE", "SIZE", "8192"});
  EXPECT_EQ(p.size, 8192);
  p = parse({"TRACE", "PACKET", "16k"});
  EXPECT_TRUE(p.on);
  EXPECT_EQ(p.size, 16);
  p = parse({"CONFIG", "TRACE", "PACKET", "16k"});
  EXPECT_EQ(p.size, 16384);
  p = parse({"CONFIG", "TRACE", "PACKET", "ON"});
  EXPECT_TRUE(p.on);
  EXPECT_EQ(p.size, 1000);
  p = parse({"TRACE", "PACKET", "OFF"});
  EXPECT_FALSE(p.on);
  p = parse({"TRACE", "STOP", "O", "E", "100"});
  EXPECT_EQ(p.command, Console::C_TRACE_STOP_ON_ERROR);
  EXPECT_TRUE(p.stop);
  EXPECT_EQ(p.code, 100);
  EXPECT_EQ(p.count, 0);
  p = parse({"TRACE", "STOP", "ON", "ERROR", "-100", "C", "3"});
  EXPECT_EQ(p.code, -100);
  EXPECT_EQ(p.count, 3);
  p = parse({"CONFIG", "TRACE", "STOP", "ON", "ERROR", "O"});
  EXPECT_EQ(p.command, Console::C_CONFIG_TRACE_STOP_ON_ERROR);
  EXPECT_FALSE(p.stop);
  p = parse({"CONFIG", "TRACE", "FILENAME", "/tmp/trace-%p.txt"});
  EXPECT_EQ(p.filename, "/tmp/trace-%p.txt");
  p = parse({"-p", "4711", "-p", "4712", "TRACE", "SQL", "ON"});
  EXPECT_TRUE(p.pidPresent);
  EXPECT_EQ(p.pid, 4712);
  p = parse({"-p", "  42", "TRACE", "OFF"});
  EXPECT_EQ(p.pid, 42);
}

}  // namespace
}  // namespace NEBRIX
