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
using R = Console::Route;
using A = Console::Action;
using C = TraceCategory;

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
      {{"C", "T", "D", "ON"}, Cmd{R::CONFIG, A::CATEGORY, C::DEBUG}, "on 0"},
      {{"config", "trace", "sq", "On"}, Cmd{R::CONFIG, A::CATEGORY, C::SQL}, "on 0"},
      {{"c", "t", "pa", "16k"}, Cmd{R::CONFIG, A::CATEGORY, C::PACKET}, "on 16384"},
      {{"c", "t", "di", "on"}, Cmd{R::CONFIG, A::CATEGORY, C::DISTRIBUTION}, "on 0"},
      {{"c", "t", "t", "on"}, Cmd{R::CONFIG, A::TIMESTAMP}, "on 0"},
      {{"c", "t", "si", "8k"}, Cmd{R::CONFIG, A::FILE_SIZE}, "8192"},
      {{"c", "t", "si", "u"}, Cmd{R::CONFIG, A::FILE_SIZE}, "-1"},
      {{"c", "t", "f", "/tmp/x"}, Cmd{R::CONFIG, A::FILE_NAME}, "0 /tmp/x"},
      {{"c", "t", "c", "on"}, Cmd{R::CONFIG, A::COMPRESS}, "on 0"},
      {{"c", "t", "st", "o", "e", "o"}, Cmd{R::CONFIG, A::STOP_ON_ERROR}, "0"},
      {{"c", "t", "ap", "on"}, Cmd{R::CONFIG, A::CATEGORY, C::API}, "on 0"},
      {{"t", "r"}, Cmd{R::TRACE, A::REFRESH}, "0"}, {{"t", "sh", "on"}, Cmd{R::TRACE, A::CATEGORY, C::SHORT}, "on 0"},
      {{"t", "d", "on"}, Cmd{R::TRACE, A::CATEGORY, C::DEBUG}, "on 0"}, {{"t", "sq", "on"}, Cmd{R::TRACE, A::CATEGORY, C::SQL}, "on 0"},
      {{"t", "pa", "16k"}, Cmd{R::TRACE, A::CATEGORY, C::PACKET}, "on 16"},  // plain numbers without CONFIG
      {{"t", "pa", "of"}, Cmd{R::TRACE, A::CATEGORY, C::PACKET}, "0"}, {{"t", "di", "on"}, Cmd{R::TRACE, A::CATEGORY, C::DISTRIBUTION}, "on 0"},
      {{"t", "si", "8192"}, Cmd{R::TRACE, A::FILE_SIZE}, "8192"}, {{"t", "o", "now"}, Cmd{R::TRACE, A::OFF}, "0"},
      {{"t", "st", "o", "e", "-100", "c", "3"}, Cmd{R::TRACE, A::STOP_ON_ERROR}, "0 e-100/3"},
      {{"t", "st", "o", "e", "5", "c", "1"}, Cmd{R::TRACE, A::STOP_ON_ERROR}, "0 e5/1"},
      {{"t", "t", "on"}, Cmd{R::TRACE, A::TIMESTAMP}, "on 0"}, {{"t", "ap", "of"}, Cmd{R::TRACE, A::CATEGORY, C::API}, "0"},
      {{"s", "c"}, Cmd{R::SHOW, A::SHOW_CONFIG}, "0"}, {{"s", "t", "x", "y"}, Cmd{R::SHOW, A::SHOW_TRACESETTINGS}, "0"},
      {{"s", "f"}, Cmd{R::SHOW, A::SHOW_TRACEFILE}, "0"}, {{"s", "a", "now"}, Cmd{R::SHOW, A::SHOW_ALL}, "0"},
      {{"s", "h"}, Cmd{R::SHOW, A::SHOW_HISTORY}, "0"}, {{"s", "p"}, Cmd{R::SHOW, A::SHOW_PROFILE}, "0"},
      {{"s", "p", "d"}, Cmd{R::SHOW, A::SHOW_PROFILE_DETAILS}, "0"}, {{"s", "pro"}, Cmd{R::SHOW, A::SHOW_PROFILE}, "0"},
      {{"s", "Proc"}, Cmd{R::SHOW, A::SHOW_PROCESSES}, "0"}, {{"p", "r"}, Cmd{R::PROFILE, A::PROFILE_RESET}, "0"},
      {{"p", "c", "on"}, Cmd{R::PROFILE, A::PROFILE_COLLECT_ON}, "0"}, {{"p", "c", "of"}, Cmd{R::PROFILE, A::PROFILE_COLLECT_OFF}, "0"},
      {{"-p", "4711", "-p", "  42", "p", "f", "x"}, Cmd{R::PROFILE, A::FILE_NAME}, "0 x p42"},
      {{"s", "rec", "f", "l", "0"}, Cmd{R::SHOW, A::SHOW_RECORDS}, "0 last0 follow"}, {{"s", "re"}, Cmd{}, "refused"},
      {{"s", "rec", "l", "2147483648"}, Cmd{R::SHOW, A::SHOW_RECORDS}, "refused"},
      {{"s", "rec", "f", "f"}, Cmd{R::SHOW, A::SHOW_RECORDS}, "refused"},
  };
  for (const auto& [words, code, args] : cases) {
    EXPECT_EQ(parse(words), std::make_pair(code, args)) << testing::PrintToString(words);
  }
}

}  // namespace
}  // namespace NEBRIX
