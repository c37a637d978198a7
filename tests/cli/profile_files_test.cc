// Files of the profile directory that are not what the console made, and a
// configuration that another console holds.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "console_session.h"

namespace nebrix_test {
namespace {

class ProfileFiles : public ConsoleSession {};

// What the console prints on standard error and its exit status. Root runs it
// without its power to bypass file permissions, as any other user would.
std::string errorAndStatus(std::vector<std::string> args) {
  args.insert(args.begin(), {"--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search", NEBRIX_CONS_BINARY});
  const ProgramResult r = geteuid() == 0 ? runProgram("/usr/bin/setpriv", args, inheritedTestEnvironment())
                                         : runConsole({args.begin() + 3, args.end()});
  return r.err + std::to_string(r.status);
}

// Nothing is written through a link and no FIFO makes a command hang: a lost
// history entry is reported and the command stands; the shared-memory file
// fails its command. A file that cannot be read is made afresh, as one of the
// wrong size is.
TEST_F(ProfileFiles, OnlyReadableRegularFilesAreUsed) {
  const std::string dir = profileDirectory(), history = dir + "/nebrix.his", shm = dir + "/NEBRIX.shm";
  std::ofstream(dir + "/x") << "x";
  symlink((dir + "/x").c_str(), history.c_str());
  mkfifo(shm.c_str(), 0600);
  EXPECT_EQ(errorAndStatus({"CONFIG", "TRACE", "SQL", "ON"}),
            "Warning: Cannot write history file " + history + ", rc=40:Too many levels of symbolic links\n0");
  EXPECT_EQ(errorAndStatus({"TRACE", "REFRESH"}), "Error opening shared memory: Cannot open shared memory file " +
                                                      shm + ", rc=4000:Not a regular file, aborting.\n1");
  EXPECT_EQ(readFile(dir + "/x"), "x");

  unlink(history.c_str()), unlink(shm.c_str());
  std::ofstream(history) << std::string(12000, 'x');
  std::ofstream(shm) << std::string(26656, '\1');
  chmod(history.c_str(), 0200), chmod(shm.c_str(), 0200);
  EXPECT_EQ(errorAndStatus({"-p", "4711", "TRACE", "SQL", "ON"}), "0");
  EXPECT_EQ(historyActions(), std::vector<std::string>{"TRACE SQL ON"});
  EXPECT_EQ(parts(), std::vector<std::string>{"4711 0 a"});
}

// A console that another holds up gives up after a while and changes nothing.
TEST_F(ProfileFiles, AConsoleGivesUpWaitingForAnother) {
  const int held = open(profileDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(errorAndStatus({"CONFIG", "TRACE", "SQL", "ON"}),
            "Error getting trace flags (Another nebrix_cons is changing the configuration in " + profileDirectory() +
                "; gave up after 10 seconds).\n1");
  close(held);
  EXPECT_EQ(configuredFlags(), "");
}

}  // namespace
}  // namespace nebrix_test
