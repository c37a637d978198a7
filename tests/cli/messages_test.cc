// The usage text and every message of the option scan and the parser,
// exactly as a user sees them.
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "console_session.h"

namespace nebrix_test {
namespace {

class Messages : public ConsoleSession {};

const std::string kNoCommand =
    "Error: No command given, use the -h option for an overview \non commands and options.\n";
const std::string kInvalidPid = "Error: Invalid process id specified as argument to -p option.\n";
const std::string kInvalidWait =
    "Error: Invalid number of seconds specified as argument to -w option (a whole number from 0 to 3600).\n";
const std::string kDeprecated =
    "Warning: The -H option has been deprecated. The settings will be updated for the physical "
    "host instead.\n";

TEST_F(Messages, UsageAndOptionScan) {
  std::string usage = readFile(std::string(NEBRIX_CLI_TEST_DIR) + "/usage.txt");
  usage.replace(usage.find("@VERSION@"), 9, NEBRIX_VERSION);
  check({
      {{}, "", usage, 1},
      {{"-h"}, usage, "", 0},
      {{"-v", "-h", "TRACE", "FOO"}, usage, "", 0},  // nothing after "-h" is read
      {{"-v", "-f"}, "", kNoCommand, 1},
      {{"-p"}, "", "Error: Option -p requires an argument.\n", 1},
      {{"-u"}, "", "Error: Option -u requires an argument.\n", 1},
      {{"-o"}, "", "Error: Option -o requires an argument.\n", 1},
      {{"-o", "xml", "SHOW", "ALL"}, "",
       "Error: Invalid output format specified as argument to -o option, use json or text.\n", 1},
      {{"-p", "0", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "12x", "TRACE", "OFF"}, "", kInvalidPid, 1},
      {{"-p", "4294967297", "TRACE", "OFF"}, "", kInvalidPid, 1},  // not cut to process 1
      {{"-hv"}, "", "Error: Unknown option -hv given.\n", 1},
      {{"-H"}, kDeprecated, kNoCommand, 1},
      {{"-H", "myhost", "SHOW", "FILE"}, kDeprecated, "", 1},  // parsed, but there is nothing to run
      {{"-w"}, "", "Error: Option -w requires an argument.\n", 1},
      {{"-w", "3601", "TRACE", "OFF"}, "", kInvalidWait, 1},
      {{"-w", "+1", "TRACE", "OFF"}, "", kInvalidWait, 1},
      {{"-w", "1.5", "TRACE", "OFF"}, "", kInvalidWait, 1},
      {{"-w", "18446744073709551617", "TRACE", "OFF"}, "", kInvalidWait, 1},
      {{"-w", "1", "c", "t", "sql", "on"}, "", "Error: CONFIG command is not applicable with -w option.\n", 1},
      {{"-w", "1", "s", "proc"}, "", "Error: SHOW command is not applicable with -w option.\n", 1},
      {{"-w", "1", "p", "f", "x"}, "", "Error: PROFILE FILENAME command is not applicable with -w option.\n", 1},
      {{"--all", "-p", "1", "TRACE", "OFF"}, "", "Error: Option --all is not applicable with -p option.\n", 1},
      {{"--all", "c", "t", "sql", "on"}, "", "Error: CONFIG command is not applicable with --all option.\n", 1},
      {{"--all", "s", "c"}, "", "Error: SHOW command is not applicable with --all option.\n", 1},
      // With -o json, standard output carries the document alone, wherever -H stands.
      {{"-H", "x", "-o", "json", "TRACE", "OFF"}, "",
       kDeprecated + "Error: Option -o json applies to SHOW commands only.\n", 1},
      {{"-o", "json", "-H", "x", "SHOW", "FILE"}, "", kDeprecated, 1},
  });
  // --help adds what came later to the usage text (--version: see the release test).
  EXPECT_EQ(runConsole({"-v", "--help", "TRACE"}).out.find(usage + "\nFurther options:\n  --help "), 0u);
}

TEST_F(Messages, CommandWords) {
  const std::string endOf = "Error: Unexpected end of command, expected ";
  const std::string syntax = "Error: Syntax error, found ";
  check({
      {{"HELLO"}, "", syntax + "HELLO, expected one of CONFIG,TRACE,PROFILE,SHOW.\n", 1},
      {{"-p", "4711", "CONFIG"}, "", "Error: CONFIG command is not applicable with -p option.\n", 1},
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
      {{"TRACE", "SQL"}, "", endOf + "one of ON, OFF.\n", 1},
      {{"TRACE", "SQL", "O"}, "", syntax + "O, expected one of ON, OFF.\n", 1},
      {{"TRACE", "PACKET"}, "", endOf + "one of ON, OFF, <size>.\n", 1},
      {{"CONFIG", "TRACE", "PACKET", "0"}, "", syntax + "0, expected one of ON, OFF, <size>.\n", 1},
      {{"TRACE", "SIZE"}, "", endOf + "one of UNLIMITED, <size>.\n", 1},
      {{"TRACE", "SIZE", "8k"}, "", syntax + "8k, expected UNLIMITED or a number > 8192.\n", 1},  // no units
      {{"CONFIG", "TRACE", "SIZE", "8191"}, "", syntax + "8191, expected UNLIMITED or a number > 8192.\n", 1},
      // Values that do not fit their 32-bit field are refused, not cut to fit.
      {{"CONFIG", "TRACE", "SIZE", "5G"}, "", syntax + "5G, expected UNLIMITED or a number > 8192.\n", 1},
      {{"CONFIG", "TRACE", "SIZE", "4294975488"}, "", syntax + "4294975488, expected UNLIMITED or a number > 8192.\n",
       1},
      {{"TRACE", "PACKET", "4294968296"}, "", syntax + "4294968296, expected one of ON, OFF, <size>.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "4294967306"}, "", syntax + "4294967306, expected an error code.\n", 1},
      {{"TRACE", "STOP"}, "", endOf + "ON.\n", 1},
      {{"TRACE", "STOP", "X"}, "", syntax + "X, expected ON.\n", 1},
      {{"TRACE", "STOP", "ON"}, "", endOf + "ERROR.\n", 1},
      {{"TRACE", "STOP", "ON", "X"}, "", syntax + "X, expected ERROR.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR"}, "", endOf + "<errorcode> or OFF.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "abc"}, "", syntax + "abc, expected an error code.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "X"}, "", syntax + "X, expected COUNT.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "COUNT"}, "", endOf + "<errorcount>.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "0"}, "", syntax + "0, expected a positive number.\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "10", "COUNT", "99999999999"}, "",
       syntax + "99999999999, expected a positive number.\n", 1},
      {{"SHOW", "CONFIG", "now"}, "", "Error: Extra arguments after CONFIG: now\n", 1},
      {{"TRACE", "SQL", "ON", "a", "b"}, "", "Error: Extra arguments after ON: a b\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "OFF", "x"}, "", "Error: Extra arguments after OFF: x\n", 1},
      {{"TRACE", "STOP", "ON", "ERROR", "5", "COUNT", "2", "x"}, "", "Error: Extra arguments after 2: x\n", 1},
      {{"SHOW", "PROFILE", "D", "x"}, "", "Error: Extra arguments after D: x\n", 1},
      {{"SHOW", "PROCESSES", "x"}, "", "Error: Extra arguments after PROCESSES: x\n", 1},
      {{"SHOW", "FILE", "now"}, "", "", 1},  // words after it are ignored; it has nothing to run
  });
}

TEST_F(Messages, AnotherUserIsRefusedAndNothingIsRecorded) {
  const std::string refused = "profile path error: Impersonation not supported, use sudo on this platform";
  const std::string dynamic = "Change settings for other user not supported (use 'su' command).\n";
  check({
      {{"-u", "x", "CONFIG", "TRACE", "SQL", "ON"}, "", "Error getting trace flags (" + refused + ").\n", 1},
      {{"-u", "x", "PROFILE", "FILENAME", "x"}, "", "Error setting trace file name (" + refused + ")\n", 1},
      {{"-u", "x", "TRACE", "OFF"}, "", "Failed to write trace configuration (" + refused + ").\n", 1},
      {{"-u", "x", "SHOW", "HISTORY"}, "", "Error: Impersonation not supported, use sudo on this platform\n", 1},
      {{"-u", "x", "-p", "4711", "TRACE", "SQL", "ON"}, "", dynamic, 1},
      {{"-u", "x", "-p", "4711", "TRACE", "OFF"}, "", dynamic, 1},
      {{"-u", "x", "TRACE", "REFRESH"}, "", dynamic, 1},
      {{"-u", "x", "SHOW", "TRACESETTINGS"}, "", dynamic, 1},
      {{"-u", "x", "SHOW", "PROCESSES"}, "", dynamic, 1},
  });
  EXPECT_TRUE(historyActions().empty());
}

// Every failure of the store is followed by its reason: a store that another
// update holds, with what to do about it, also for a SHOW that stores a
// default; a damaged lock file, with what to do instead; a profile directory
// that cannot be written, a data file that cannot be read. (The system
// errors of the store's writes: RecordsTest.) A name too long to store says so.
TEST_F(Messages, EveryStoreFailureSaysWhy) {
  lockStore();
  const std::string holder = "Update of the secure storage is locked for update by user \"alice\" from host \"host-x\" "
                             "since \"1973-03-03  09:46:40  UTC\". When no nebrix_cons or vaultadm is running, remove "
                             "the lock with \"vaultadm unlock\".\n";
  check({{{"CONFIG", "TRACE", "SQL", "ON"}, "", "Error setting trace flags (error putuser).\n" + holder, 1},
         {{"SHOW", "CONFIG"}, "", "Error getting trace file name (error putuser).\n" + holder, 1},
         {{"c", "t", "f", std::string(1024, 'n')}, "",
          "Error setting trace file name (file name too long: 1024 bytes, at most 1023)\n", 1}});
  const std::string dir = profileDirectory(), data = dir + "/SSFS_ORQ.DAT", lock = dir + "/SSFS_ORQ.LCK";
  const std::string byHand = ". When no nebrix_cons or vaultadm is running, delete that file by hand; \"vaultadm "
                             "unlock\" removes only a lock that names its holder.\n";
  const std::pair<std::string, std::string> damaged[] = {{"", "has unexpected length 0 instead of 70"},
                                                         {std::string(70, 'x'), "has unexpected content"}};
  for (const auto& [content, why] : damaged) {
    std::ofstream(lock, std::ios::trunc) << content;
    check({{{"TRACE", "OFF"}, "", "Failed to write trace configuration (error putuser).\nLockfile at \"" + lock +
                                      "\" " + why + byHand, 1}});
  }
  unlink(lock.c_str());
  runOk({"CONFIG", "TRACE", "SQL", "OFF"});
  EXPECT_EQ(errorAndStatus({"c", "t", "sql", "on"}, "chmod 500 '" + dir + "';"),
            "Error setting trace flags (error putuser).\nUnable to open lockfile \"" + lock +
                "\" for write: Permission denied\n1");
  EXPECT_EQ(errorAndStatus({"-o", "json", "s", "prof"}, "chmod 700 '" + dir + "'; chmod 0 '" + data + "';"),
            "Error getting profile file name (error getuser).\nData file \"" + data +
                "\" cannot be opened for read: Permission denied\n1");
}

}  // namespace
}  // namespace nebrix_test
