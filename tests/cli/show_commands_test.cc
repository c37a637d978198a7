// SHOW CONFIG, TRACESETTINGS, ALL, PROFILE and HISTORY: exact output.
#include <fstream>
#include <string>
#include <vector>

#include "console_session.h"
#include "private_home.h"
#include "profile/configuration.h"

namespace nebrix_test {
namespace {

class ShowCommands : public ConsoleSession {
 protected:
  void configure(const char* traceFileName, const char* flags) {
    char errortext[512] = "";
    if (traceFileName != nullptr) {
      ASSERT_EQ(NEBRIX::Configuration::setTraceFileName(nullptr, "NEBRIX", nullptr, traceFileName, errortext,
                                                        sizeof errortext),
                NEBRIX_OK);
    }
    if (flags != nullptr) {
      ASSERT_EQ(NEBRIX::Configuration::setTraceFlags(nullptr, "NEBRIX", nullptr, flags, errortext, sizeof errortext),
                NEBRIX_OK);
    }
  }
};

const std::string kFreshSettings =
    "\nSettings:\n"
    "  Update count : 0\n"
    "  Total size   : 26656\n"
    "    equivalent to 100 process-specific parts.\n"
    "  Version flag : 1\n"
    "  Forced re-read of global configuration with last update.\n"
    "\n"
    "  Process  Update count  Flags\n"
    "  ----------------------------------------------------------------------\n";

TEST_F(ShowCommands, ConfigWithAllDetails) {
  configure("/tmp/t-%p.prt", "c:a:p2048");
  const ProgramResult r = run({"SHOW", "CONFIG"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "\nConfiguration:\n"
            "  Trace file name    : /tmp/t-%p.prt\n"
            "  Trace flags        : c:a:p2048\n"
            "    Short trace        : enabled\n"
            "    Debug trace        : disabled\n"
            "    SQL trace          : enabled\n"
            "    Distribution trace : disabled\n"
            "    Time stamp prefix  : disabled\n"
            "    Packet trace       : enabled, size limit is 2048\n");
  configure(nullptr, "T:z");
  EXPECT_EQ(run({"SHOW", "CONFIG"}).out,
            "\nConfiguration:\n"
            "  Trace file name    : /tmp/t-%p.prt\n"
            "  Trace flags        : T:z\n"
            "    Short trace        : disabled\n"
            "    Debug trace        : disabled\n"
            "    SQL trace          : disabled\n"
            "    Distribution trace : disabled\n"
            "    Time stamp prefix  : enabled\n"
            "    Packet trace       : disabled\n");
}

TEST_F(ShowCommands, FreshConfigurationStoresTheDefaultFileName) {
  const ProgramResult r = run({"SHOW", "CONFIG"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\nConfiguration:\n"
            "  Trace file name    : nebrixtrace-%p.prt\n"
            "  Trace flags        : (none set)\n");
  EXPECT_TRUE(historyActions().empty());
}

TEST_F(ShowCommands, EmptyFileNameShowsTheWorkingDirectory) {
  configure("", nullptr);
  const ProgramResult r = run({"SHOW", "CONFIG"}, privateHomeDirectory());
  EXPECT_EQ(r.out,
            "\nConfiguration:\n"
            "  Trace file name    : " + privateHomeDirectory() + "/NEBRIX-%p.txt\n"
            "  Trace flags        : (none set)\n");
}

TEST_F(ShowCommands, TraceSettingsOfAFreshFileAndOfParts) {
  ProgramResult r = run({"SHOW", "TRACESETTINGS"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kFreshSettings);
  writePart(3, 4711, 3, "a");
  writePart(7, 42, 0, "c:p1000");
  r = run({"-p", "1", "SHOW", "TRACESETTINGS"});  // "-p" changes nothing here
  EXPECT_EQ(r.out, kFreshSettings +
                       "     4711             3  a\n"
                       "       42" + std::string(16, ' ') + "c:p1000\n");
}

TEST_F(ShowCommands, AllShowsBothOrNothingOfTheSettings) {
  configure("/tmp/t.prt", nullptr);
  ProgramResult r = run({"SHOW", "ALL"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nConfiguration:\n  Trace file name    : /tmp/t.prt\n  Trace flags        : (none set)\n" +
                       kFreshSettings);
  // A damaged record of the file name, or a data file that is not a store:
  // the configuration cannot be read, and the default is not written over
  // the user's setting.
  const std::string dataFile = profileDirectory() + "/SSFS_ORQ.DAT";
  std::string data = readFile(dataFile);
  const size_t name = data.rfind("/tmp/t.prt");
  ASSERT_NE(name, std::string::npos);
  data[name + 5] ^= 0x01;
  for (const std::string& damaged : {data, std::string(300, 'x')}) {
    std::ofstream(dataFile, std::ios::trunc | std::ios::binary) << damaged;
    r = run({"SHOW", "ALL"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error getting trace file name (error getuser).\n");
    EXPECT_EQ(readFile(dataFile), damaged);
  }
}

TEST_F(ShowCommands, ProfileLocation) {
  ProgramResult r = run({"SHOW", "PROFILE"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error getting profile file name ().\n");
  char errortext[512] = "";
  ASSERT_EQ(NEBRIX::Configuration::setProfileFileName(nullptr, "NEBRIX", nullptr, "/tmp/p-%p.prt", errortext,
                                                      sizeof errortext),
            NEBRIX_OK);
  r = run({"-v", "SHOW", "PROFILE", "DETAILS"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nsearch path:/tmp\n\nsearch name pattern:p-%p.prt\nno profile data found.\n");
  r = run({"SHOW", "PROFILE"});
  EXPECT_EQ(r.out, "no profile data found.\n");
}

TEST_F(ShowCommands, History) {
  ProgramResult r = run({"SHOW", "HISTORY"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Command history is empty.\n");

  runOk({"CONFIG", "TRACE", "SQL", "ON"});
  runOk({"-p", "4711", "TRACE", "DEBUG", "ON"});
  r = run({"SHOW", "HISTORY"});
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> lines = [&] {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
      result.push_back(r.out.substr(start, end - start));
    }
    return result;
  }();
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], "DATE                       USER                PROCESS     COMMAND");
  EXPECT_EQ(lines[1], std::string(120, '-'));
  EXPECT_EQ(lines[2].substr(26), std::string(33, ' ') + "CONFIG TRACE SQL ON" + std::string(41, ' '));
  EXPECT_EQ(lines[3].substr(26), std::string(28, ' ') + "4711 TRACE DEBUG ON" + std::string(46, ' '));
  EXPECT_EQ(lines[4], "");

  // Only empty records: the same text as without a file, but success.
  std::ofstream(profileDirectory() + "/nebrix.his", std::ios::binary | std::ios::trunc)
      << [] {
           std::string empty;
           for (int i = 0; i < 100; ++i) {
             empty += "1970-01-01 00:00:00.000000 -------------------- ---------- "
                      "------------------------------------------------------------\n";
           }
           return empty;
         }();
  r = run({"SHOW", "HISTORY"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Command history is empty.\n\n");
  r = run({"-u", "other", "SHOW", "HISTORY"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Impersonation not supported, use sudo on this platform\n");
}

}  // namespace
}  // namespace nebrix_test
