#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "console/console.h"

namespace NEBRIX {
namespace {

using Cmd = Console::Command;

// The command of a command line and what its arguments set, as in
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
      {{"C", "T", "D", "ON"}, Cmd{Console::Route::CONFIG, Console::Action::CATEGORY, TraceCategory::DEBUG}, "on 0"},
      {{"config", "trace", "sq", "On"}, Cmd{Console::Route::CONFIG, Console::Action::CATEGORY, TraceCategory::SQL}, "on 0"},
      {{"c", "t", "pa", "16k"}, Cmd{Console::Route::CONFIG, Console::Action::CATEGORY, TraceCategory::PACKET}, "on 16384"},
      {{"c", "t", "di", "on"}, Cmd{Console::Route::CONFIG, Console::Action::CATEGORY, TraceCategory::DISTRIBUTION}, "on 0"},
      {{"c", "t", "t", "on"}, Cmd{Console::Route::CONFIG, Console::Action::TIMESTAMP}, "on 0"},
      {{"c", "t", "si", "8k"}, Cmd{Console::Route::CONFIG, Console::Action::FILE_SIZE}, "8192"},
      {{"c", "t", "si", "u"}, Cmd{Console::Route::CONFIG, Console::Action::FILE_SIZE}, "-1"},
      {{"c", "t", "f", "/tmp/x"}, Cmd{Console::Route::CONFIG, Console::Action::FILE_NAME}, "0 /tmp/x"},
      {{"c", "t", "c", "on"}, Cmd{Console::Route::CONFIG, Console::Action::COMPRESS}, "on 0"},
      {{"c", "t", "st", "o", "e", "o"}, Cmd{Console::Route::CONFIG, Console::Action::STOP_ON_ERROR}, "0"},
      {{"c", "t", "ap", "on"}, Cmd{Console::Route::CONFIG, Console::Action::CATEGORY, TraceCategory::API}, "on 0"},
      {{"t", "r"}, Cmd{Console::Route::TRACE, Console::Action::REFRESH}, "0"}, {{"t", "sh", "on"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::SHORT}, "on 0"},
      {{"t", "d", "on"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::DEBUG}, "on 0"}, {{"t", "sq", "on"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::SQL}, "on 0"},
      {{"t", "pa", "16k"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::PACKET}, "on 16"},  // plain numbers without CONFIG
      {{"t", "pa", "of"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::PACKET}, "0"}, {{"t", "di", "on"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::DISTRIBUTION}, "on 0"},
      {{"t", "si", "8192"}, Cmd{Console::Route::TRACE, Console::Action::FILE_SIZE}, "8192"}, {{"t", "o", "now"}, Cmd{Console::Route::TRACE, Console::Action::OFF}, "0"},
      {{"t", "st", "o", "e", "-100", "c", "3"}, Cmd{Console::Route::TRACE, Console::Action::STOP_ON_ERROR}, "0 e-100/3"},
      {{"t", "t", "on"}, Cmd{Console::Route::TRACE, Console::Action::TIMESTAMP}, "on 0"}, {{"t", "ap", "of"}, Cmd{Console::Route::TRACE, Console::Action::CATEGORY, TraceCategory::API}, "0"},
      {{"s", "c"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_CONFIG}, "0"}, {{"s", "t", "x", "y"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_TRACESETTINGS}, "0"},
      {{"s", "f"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_TRACEFILE}, "0"}, {{"s", "a", "now"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_ALL}, "0"},
      {{"s", "h"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_HISTORY}, "0"}, {{"s", "p"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_PROFILE}, "0"},
      {{"s", "p", "d"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_PROFILE_DETAILS}, "0"}, {{"s", "pro"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_PROFILE}, "0"},
      {{"s", "Proc"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_PROCESSES}, "0"}, {{"p", "r"}, Cmd{Console::Route::PROFILE, Console::Action::PROFILE_RESET}, "0"},
      {{"p", "c", "on"}, Cmd{Console::Route::PROFILE, Console::Action::PROFILE_COLLECT_ON}, "0"}, {{"p", "c", "of"}, Cmd{Console::Route::PROFILE, Console::Action::PROFILE_COLLECT_OFF}, "0"},
      {{"-p", "4711", "-p", "  42", "p", "f", "x"}, Cmd{Console::Route::PROFILE, Console::Action::FILE_NAME}, "0 x p42"},
      {{"s", "rec", "f", "l", "0"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_RECORDS}, "0 last0 follow"}, {{"s", "re"}, Cmd{}, "refused"},
      {{"s", "rec", "l", "2147483648"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_RECORDS}, "refused"},
      {{"s", "rec", "f", "f"}, Cmd{Console::Route::SHOW, Console::Action::SHOW_RECORDS}, "refused"},
  };
  for (const auto& [words, code, args] : cases) {
    EXPECT_EQ(parse(words), std::make_pair(code, args)) << testing::PrintToString(words);
  }
}

}  // namespace
}  // namespace NEBRIX
