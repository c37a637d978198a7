#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "console/console.h"

namespace NEBRIX {
namespace {

// The command code of a command line and what its arguments set, as in
// "on 8192 e100/3 /tmp/x p42"; "refused" when the line is not accepted.
std::pair<Console::Command, std::string> parse(std::vector<std::string> words) {
  words.insert(words.begin(), "nebrix_cons");
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(&w[0]);
  Console console;
  const NEBRIX_Retcode rc = console.parseArguments(static_cast<int>(words.size()), argv.data());
  std::ostringstream args;
  args << (console.on() ? "on " : "") << console.size();
  if (console.stopOnError()) args << " e" << console.errorCode() << "/" << console.errorCount();
  if (console.filename() != nullptr) args << " " << console.filename();
  if (console.pidPresent()) args << " p" << console.pid();
  if (console.lastRecords() >= 0) args << " last" << console.lastRecords();
  if (console.follow()) args << " follow";
  return {console.command(), rc == NEBRIX_OK ? args.str() : "refused"};
}

// Keywords at their shortest abbreviations, in any case, and the members
// their arguments reach. The messages of refused lines are the CLI tests'.
TEST(CommandParser, KeywordsAndTheirArguments) {
  const std::tuple<std::vector<std::string>, Console::Command, std::string> cases[] = {
      {{"C", "T", "D", "ON"}, Console::C_CONFIG_TRACE_LONG, "on 0"},
      {{"config", "trace", "sq", "On"}, Console::C_CONFIG_TRACE_SQL, "on 0"},
      {{"c", "t", "pa", "16k"}, Console::C_CONFIG_TRACE_PACKET, "on 16384"},
      {{"c", "t", "di", "on"}, Console::C_CONFIG_TRACE_DISTRIBUTION, "on 0"},
      {{"c", "t", "t", "on"}, Console::C_CONFIG_TRACE_TIMESTAMP, "on 0"},
      {{"c", "t", "si", "8k"}, Console::C_CONFIG_TRACE_SIZE, "8192"},
      {{"c", "t", "si", "u"}, Console::C_CONFIG_TRACE_SIZE, "-1"},
      {{"c", "t", "f", "/tmp/x"}, Console::C_CONFIG_TRACE_FILENAME, "0 /tmp/x"},
      {{"c", "t", "c", "on"}, Console::C_CONFIG_TRACE_COMPRESS, "on 0"},
      {{"c", "t", "st", "o", "e", "o"}, Console::C_CONFIG_TRACE_STOP_ON_ERROR, "0"},
      {{"c", "t", "ap", "on"}, Console::C_CONFIG_TRACE_API, "on 0"},
      {{"t", "r"}, Console::C_TRACE_REFRESH, "0"}, {{"t", "sh", "on"}, Console::C_TRACE_SHORT, "on 0"},
      {{"t", "d", "on"}, Console::C_TRACE_LONG, "on 0"}, {{"t", "sq", "on"}, Console::C_TRACE_SQL, "on 0"},
      {{"t", "pa", "16k"}, Console::C_TRACE_PACKET, "on 16"},  // plain numbers without CONFIG
      {{"t", "pa", "of"}, Console::C_TRACE_PACKET, "0"}, {{"t", "di", "on"}, Console::C_TRACE_DISTRIBUTION, "on 0"},
      {{"t", "si", "8192"}, Console::C_TRACE_SIZE, "8192"}, {{"t", "o", "now"}, Console::C_TRACE_OFF, "0"},
      {{"t", "st", "o", "e", "-100", "c", "3"}, Console::C_TRACE_STOP_ON_ERROR, "0 e-100/3"},
      {{"t", "t", "on"}, Console::C_TRACE_TIMESTAMP, "on 0"}, {{"t", "ap", "of"}, Console::C_TRACE_API, "0"},
      {{"s", "c"}, Console::C_SHOW_CONFIG, "0"}, {{"s", "t", "x", "y"}, Console::C_SHOW_TRACESETTINGS, "0"},
      {{"s", "f"}, Console::C_SHOW_TRACEFILE, "0"}, {{"s", "a", "now"}, Console::C_SHOW_ALL, "0"},
      {{"s", "h"}, Console::C_SHOW_HISTORY, "0"}, {{"s", "p"}, Console::C_SHOW_PROFILE, "0"},
      {{"s", "p", "d"}, Console::C_SHOW_PROFILE_DETAIL, "0"}, {{"s", "pro"}, Console::C_SHOW_PROFILE, "0"},
      {{"s", "Proc"}, Console::C_SHOW_PROCESSES, "0"}, {{"p", "r"}, Console::C_PROFILE_RESET, "0"},
      {{"p", "c", "on"}, Console::C_PROFILE_COLLECT_ON, "0"}, {{"p", "c", "of"}, Console::C_PROFILE_COLLECT_OFF, "0"},
      {{"-p", "4711", "-p", "  42", "p", "f", "x"}, Console::C_PROFILE_FILENAME, "0 x p42"},
      {{"s", "rec", "f", "l", "0"}, Console::C_SHOW_RECORDS, "0 last0 follow"}, {{"s", "re"}, Console::C_NONE, "refused"},
      {{"s", "rec", "l", "2147483648"}, Console::C_SHOW_RECORDS, "refused"},
      {{"s", "rec", "f", "f"}, Console::C_SHOW_RECORDS, "refused"},
  };
  for (const auto& [words, code, args] : cases) {
    EXPECT_EQ(parse(words), std::make_pair(code, args)) << testing::PrintToString(words);
  }
}

}  // namespace
}  // namespace NEBRIX
