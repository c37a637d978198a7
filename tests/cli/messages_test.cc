// Every message of the option scan and the parser, exactly as a user sees it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_runner.h"

namespace nebrix_test {
namespace {

struct Case {
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status;
};

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += "[" + a + "]";
    const ProgramResult r = runConsole(c.args);
    EXPECT_EQ(r.err, c.err) << line;
    EXPECT_EQ(r.out, c.out) << line;
    EXPECT_EQ(r.status, c.status) << line;
  }
}

const std::string kNoCommand =
    "Error: No command given, use the -h option for an overview \non commands and options.\n";
const std::string kInvalidPid = "Error: Invalid process id specified as argument to -p option.\n";
const std::string kDeprecated =
    "Warning: The -H option has been deprecated. The settings will be updated for the physical "
    "host instead.\n";

TEST(Messages, OptionScan) {
  check({
      {{"-v"}, "", kNoCommand, 1},
      {{"-f"}, "", kNoCommand, 1},
      {{"-p"}, "", "Error: Option -p requires an argument.\n", 1},
      {{"-u"}, "", "Error: Option -u requires an argument.\n", 1},
      {{"-v", "-u"}, "", "Error: Option -u requires an argument.\n", 1},
      {{"-p", "0", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "-5", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "12x", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "12 ", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "4294967297", "TRACE", "OFF"}, "", kInvalidPid, 1},  // not cut to process 1
      {{"-hv"}, "", "Error: Unknown option -hv given.\n", 1},
      {{"-p4711"}, "", "Error: Unknown option -p4711 given.\n", 1},
      {{"-"}, "", "Error: Unknown option - given.\n", 1},
      {{"-P", "1", "SHOW", "ALL"}, "", "Error: Unknown option -P given.\n", 1},
      {{"-H"}, kDeprecated, kNoCommand, 1},
      {{"-H", "myhost"}, kDeprecated, kNoCommand, 1},
      {{"-p", "4711", "-H"}, kDeprecated, kNoCommand, 1},
  });
}

TEST(Messages, CommandWords) {
  const std::string endOf = "Error: Unexpected end of command, expected ";
  const std::string syntax = "Error: Syntax error, found ";
  check({
      {{"HELLO"}, "", syntax + "HELLO, expected one of CONFIG,TRACE,PROFILE,SHOW.\n", 1},
      {{"-p", "4711", "CONFIG"}, "", "Error: CONFIG command is not applicable with -p option.\n", 1},
      {{"-p", "4711", "CONFIG", "TRACE", "SQL", "ON"}, "",
       "Error: CONFIG command is not applicable with -p option.\n", 1},
      {{"CONFIG"}, "", endOf + "TRACE.\n", 1},
      {{"CONFIG", "TRAX"}, "", syntax + "TRAX, expected TRACE.\n", 1},
      {{"CONFIG", "TRACE"}, "", endOf + "one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL.\n", 1},
      {{"CONFIG", "TRACE", "PROFILE", "ON"}, "",
       syntax + "PROFILE, expected one of SHORT,DEBUG,PROFILE,PACKET,DISTRIBUTION,SIZE,FILENAME,SQL,STOP.\n", 1},
      {{"TRACE"}, "", endOf + "one of SHORT,SQL,PACKET,DISTRIBUTION,DEBUG,REFRESH,OFF.\n", 1},
      {{"TRACE", "S", "ON"}, "",
       syntax + "S, expected one of SHORT,DEBUG,PACKET,DISTRIBUTION,REFRESH,OFF,SQL,STOP.\n", 1},
      {{"SHOW"}, "", endOf + "one of CONFIG,TRACESETTINGS,ALL.\n", 1},
      {{"SHOW", "X"}, "", syntax + "X, expected one of CONFIG,TRACESETTINGS,ALL.\n", 1},
      {{"SHOW", "PROFILE", "X"}, "", syntax + "X, expected DETAILS.\n", 1},
      {{"PROFILE"}, "", endOf + "one of RESET,COLLECT,FILENAME.\n", 1},
      {{"PROFILE", "X"}, "", syntax + "X, expected one of RESET,COLLECT,FILENAME.\n", 1},
      {{"PROFILE", "COLLECT"}, "", endOf + "one of ON, OFF.\n", 1},
      {{"PROFILE", "COLLECT", "O"}, "", syntax + "O, expected one of ON, OFF.\n", 1},
      {{"PROFILE", "FILENAME"}, "", endOf + "<filename>.\n", 1},
      {{"CONFIG", "TRACE", "FILENAME"}, "", endOf + "<filename>.\n", 1},
      {{"TRACE", "SQL"}, "", endOf + "one of ON, OFF.\n", 1},
      {{"TRACE", "SQL", "O"}, "", syntax + "O, expected one of ON, OFF.\n", 1},
      {{"TRACE", "PACKET"}, "", endOf + "one of ON, OFF, <size>.\n", 1},
      {{"CONFIG", "TRACE", "PACKET", "0"}, "", syntax + "0, expected one of ON, OFF, <size>.\n", 1},
      {{"CONFIG", "TRACE", "PACKET", "x"}, "", syntax + "x, expected one of ON, OFF, <size>.\n", 1},
      {{"TRACE", "SIZE"}, "", endOf + "one of UNLIMITED, <size>.\n", 1},
      {{"TRACE", "SIZE", "8k"}, "", syntax + "8k, expected UNLIMITED or a number > 8192.\n", 1},
      {{"CONFIG", "TRACE", "SIZE", "8191"}, "", syntax + "8191, expected UNLIMITED or a number > 8192.\n", 1},
      {{"CONFIG", "TRACE", "SIZE", "10x"}, "", syntax + "10x, expected UNLIMITED or a number > 8192.\n", 1},
      {{"TRACE", "STOP"}, "", endOf + "ON.\n", 1},
      {{"TRACE", "STOP", "X"}, "", syntax + "X, expected ON.\n", 1},
      {{"TRACE", "STOP", "ON"}, "", endOf + "ERROR.\n", 1},
      {{"TRACE", "STOP", "ON", "X"}, "", syntax + "X, expected ERROR.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR"}, "", endOf + "<errorcode> or OFF.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "0"}, "", syntax + "0, expected an error code.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "abc"}, "", syntax + "abc, expected an error code.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "X"}, "", syntax + "X, expected COUNT.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "COUNT"}, "", endOf + "<errorcount>.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "0"}, "", syntax + "0, expected a positive number.\n", 1},
      {{"SHOW", "CONFIG", "now"}, "", "Error: Extra arguments after CONFIG: now\n", 1},
      {{"TRACE", "SQL", "ON", "a", "b"}, "", "Error: Extra arguments after ON: a b\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "OFF", "x"}, "", "Error: Extra arguments after OFF: x\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "5", "COUNT", "2", "x"}, "", "Error: Extra arguments after 2: x\n", 1},
      {{"SHOW", "PROFILE", "D", "x"}, "", "Error: Extra arguments after D: x\n", 1},
      {{"PROFILE", "RESET", "x"}, "", "Error: Extra arguments after RESET: x\n", 1},
  });
}

TEST(Messages, ParsedCommandsReachTheirOperation) {
  check({
      {{"SHOW", "FILE"}, "", "", 1},  // parsed, but there is nothing to run
      {{"SHOW", "FILE", "now"}, "", "", 1},
      {{"-H", "myhost", "SHOW", "FILE"}, kDeprecated, "", 1},
      {{"-f", "SHOW", "PROFILE"}, "", "Error getting profile file name ().\n", 1},
      {{"TRACE", "OFF", "now"}, "", "", 0},
      {{"-p", "4711", "PROFILE", "FILENAME", "x"}, "", "", 0},
      {{"trace", "Sq", "On"}, "", "", 0},
  });
}

}  // namespace
}  // namespace nebrix_test
