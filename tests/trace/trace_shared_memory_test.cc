#include "trace/trace_shared_memory.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "private_home.h"
#include "trace/trace_flags.h"

namespace NEBRIX {
namespace {

using Bytes = std::string;
constexpr int kSize = 26656;

std::string shmPath() { return nebrix_test::privateProfileDirectory() + "/NEBRIX.shm"; }
off_t partOffset(int i) { return 256 + i * 264; }

// Writes bytes into the file at offset as another process would; the
// mapping sees them. create starts a new file of mode `mode` first.
void poke(off_t offset, const void* data, size_t size, bool create = false, mode_t mode = 0600) {
  const int fd = open(shmPath().c_str(), O_WRONLY | (create ? O_CREAT | O_TRUNC : 0), mode);
  EXPECT_EQ(pwrite(fd, data, size, offset), ssize_t(size));
  if (create) fchmod(fd, mode);
  close(fd);
}
void writeFile(const Bytes& bytes, mode_t mode = 0600) { poke(0, bytes.data(), bytes.size(), true, mode); }
Bytes validFile(int32_t version = 1, int32_t updateCount = 0) {
  Bytes bytes(kSize, 0);
  std::memcpy(&bytes[0], &updateCount, 4);
  std::memcpy(&bytes[8], &version, 4);
  return bytes;
}
// The expanded message of what call throws, or "" when it does not throw.
std::string failureOf(const std::function<void()>& call) {
  std::ostringstream out;
  try {
    call();
  } catch (const ltt::exception& ex) {
    ex.expandAll(out);
  }
  return out.str();
}

// body must not throw: the child would go on running the tests.
pid_t spawn(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}
int waitFor(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
struct LiveProcess {
  pid_t pid = spawn([] { return pause(); });
  ~LiveProcess() {
    kill(pid, SIGKILL);
    waitFor(pid);
  }
};

class TraceSharedMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(nebrix_test::privateHomeDirectory() + "/.orq");
    shm.attach("NEBRIX", nullptr);  // creates the profile directory
    shm.detach();
    nebrix_test::removeTree(shmPath());
  }
  TraceSharedMemory shm;
};

// A missing file or one of the wrong size becomes zeros with a fresh header,
// for its user alone. One of the right size keeps its counter, lock word,
// parts and mode; its header is written afresh only for another version.
TEST_F(TraceSharedMemoryTest, FileIsReplacedOrKeptByteForByte) {
  const int32_t header[] = {kSize, 1, 1, 1}, spinLock = 1, part[] = {1234, 7};
  Bytes fresh = validFile(), kept = validFile(1, 42);
  std::memcpy(&fresh[4], header, sizeof header);
  std::memcpy(&kept[20], &spinLock, 4);
  std::memcpy(&kept[partOffset(3)], part, sizeof part);
  std::strcpy(&kept[partOffset(3) + 8], "c:a");
  Bytes zeroedByAClient = kept, renewed = kept;
  std::memset(&zeroedByAClient[4], 0, 16);
  std::memcpy(&renewed[4], header, sizeof header);
  // The file before (empty: none) and after attaching, and its mode then.
  const std::tuple<Bytes, Bytes, mode_t> cases[] = {{{}, fresh, 0600},
                                                    {Bytes(kSize - 1, 'x'), fresh, 0600},
                                                    {Bytes(kSize + 1, 'x'), fresh, 0600},
                                                    {kept, kept, 0644},
                                                    {zeroedByAClient, renewed, 0644}};
  for (const auto& [before, after, mode] : cases) {
    nebrix_test::removeTree(shmPath());
    if (!before.empty()) writeFile(before, 0644);
    shm.attach("NEBRIX", nullptr);
    shm.detach();
    struct stat file;
    EXPECT_EQ(nebrix_test::readFile(shmPath()), after) << before.size();
    EXPECT_EQ(stat(shmPath().c_str(), &file) == 0 ? file.st_mode & 0777 : 0, mode) << before.size();
  }
}

// One attachment at a time; the part of one process: flags that do not fit
// are refused, a field without its NUL is cut, and an unknown process gets
// no part by being asked for. The watcher side end to end is the trace
// client's; here what it cannot show.
TEST_F(TraceSharedMemoryTest, PartOfOneProcess) {
  shm.attach("NEBRIX", "");
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr); }), "Shared memory is already attached");
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr, "other"); }), "Shared memory is already attached");
  const std::string longest(255, 'c');
  EXPECT_TRUE(shm.setFlags(getpid(), longest.c_str()));
  EXPECT_FALSE(shm.setFlags(getpid(), (longest + "d").c_str()));
  EXPECT_FALSE(shm.setFlags(getpid(), nullptr));
  EXPECT_FALSE(shm.setFlags(0, "c"));
  std::string flags;
  EXPECT_FALSE(shm.getFlags(getppid(), flags));
  EXPECT_EQ(shm.getAllParts()[1].processID, 0);
  EXPECT_STREQ(shm.getAllParts()[0].flags, longest.c_str());

  poke(partOffset(0) + 8, std::string(256, 'x').data(), 256);  // no NUL in the field
  EXPECT_TRUE(shm.getFlags(getpid(), flags));
  EXPECT_EQ(flags, std::string(255, 'x'));
  EXPECT_EQ(shm.getMyFlags(), std::string(255, 'x'));

  const int32_t lower = -5;  // any difference counts, as after the counter wrapped
  poke(0, &lower, 4);
  EXPECT_TRUE(shm.isMyReadCountLower());
  // A forked child is not its parent: it finds its own part (exit status 1: true).
  const pid_t child = spawn([&] { return shm.setFlags(getpid(), "d") && shm.getMyFlags() == std::string("d"); });
  EXPECT_EQ(waitFor(child), 1);
}

TEST_F(TraceSharedMemoryTest, OnlyPartsOfEndedProcessesAreReused) {
  Bytes bytes = validFile();
  // pid 1 is alive whether signal 0 to it succeeds (root) or fails with EPERM.
  const int32_t alive = 1, garbage = -7;  // no process has a negative id
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) std::memcpy(&bytes[partOffset(i)], &alive, 4);
  const int32_t ended = spawn([] { return 0; });
  waitFor(ended);
  std::memcpy(&bytes[partOffset(57)], &ended, 4);
  std::memcpy(&bytes[partOffset(58)], &garbage, 4);
  writeFile(bytes);
  shm.attach("NEBRIX", nullptr);
  EXPECT_TRUE(shm.setFlags(getpid(), "d"));
  EXPECT_TRUE(shm.setFlags(getppid(), "e"));
  const TraceSharedMemory::Part* parts = shm.getAllParts();
  EXPECT_EQ(parts[57].processID, getpid());
  EXPECT_STREQ(parts[57].flags, "d");
  EXPECT_EQ(parts[58].processID, getppid());
}

TEST_F(TraceSharedMemoryTest, FailuresAndTheirTexts) {
  const std::string path = shmPath(), opening = "Cannot open shared memory file " + path;
  const auto attach = [&] { shm.attach("NEBRIX", nullptr); };
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr, "other"); }),
            "Impersonation not supported, use sudo on this platform");
  EXPECT_EQ(failureOf([&] { shm.attachForReading("../NEBRIX", nullptr); }).rfind("Component \"../NEBRIX\"", 0), 0u);
  mkdir(path.c_str(), 0700);
  EXPECT_EQ(failureOf(attach), opening + ", rc=21:Is a directory");
  nebrix_test::removeTree(path);
  rlimit unlimited, small;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  small = {1000, unlimited.rlim_max};
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_EQ(failureOf(attach), opening + ", rc=27:File too large; $call$=fwrite");
  setrlimit(RLIMIT_FSIZE, &unlimited);
  signal(SIGXFSZ, SIG_DFL);
  nebrix_test::removeTree(path);
  writeFile(validFile(), 0400);  // root may open any file; others get the mapping's error
  EXPECT_EQ(failureOf(attach),
            geteuid() == 0 ? "" : "Error open memory mapping " + path + ", rc=13: Permission denied");
}

// Two consoles at once. Each counts updates, without the lock; then, under
// the lock, changes its own setting of one process and claims parts for the
// same new processes in opposite orders. No count and no change is lost, the
// counter wraps, and every process ends up with exactly one part.
TEST_F(TraceSharedMemoryTest, ConcurrentConsolesLoseNothing) {
  constexpr int kChanges = 3000, kCounts = 1000000;
  const pid_t target = getpid();
  std::vector<LiveProcess> claimed(90);
  writeFile(validFile(1, INT32_MAX - 1000));
  shm.attach("NEBRIX", nullptr);
  ASSERT_TRUE(shm.setFlags(target, "s8192:e1"));
  // Each console in a child process of its own; body must not throw.
  const auto changeAndCount = [&](bool forward) {
    TraceSharedMemory console;
    if (!failureOf([&] { console.attach("NEBRIX", nullptr); }).empty()) return 2;
    for (int n = 0; n < kCounts; ++n) console.incUpdateCount();
    for (int i = 0; i < kChanges; ++i) {
      TraceSharedMemory::LockedScope lock(console);
      std::string text;
      if (!console.getFlags(target, text)) return 1;
      TraceFlags flags(text.c_str());
      ++(forward ? flags.m_filesize : flags.m_errorcode);
      const size_t k = forward ? i % claimed.size() : claimed.size() - 1 - i % claimed.size();
      if (!console.setFlags(target, flags.toString().c_str())) return 1;
      if (!console.setFlags(claimed[k].pid, "c")) return 1;
    }
    return 0;
  };
  const pid_t first = spawn([&] { return changeAndCount(true); });
  const pid_t second = spawn([&] { return changeAndCount(false); });
  EXPECT_EQ(waitFor(first), 0);
  EXPECT_EQ(waitFor(second), 0);
  EXPECT_EQ(shm.getAllParts()[0].flags, "s" + std::to_string(8192 + kChanges) + ":e" + std::to_string(1 + kChanges));
  EXPECT_EQ(shm.getUpdateCount(), static_cast<int32_t>(uint32_t{INT32_MAX - 1000} + 2u * kCounts));
  for (const LiveProcess& process : claimed) {
    int owned = 0;
    for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) owned += shm.getAllParts()[i].processID == process.pid;
    EXPECT_EQ(owned, 1) << process.pid;
  }
}

}  // namespace
}  // namespace NEBRIX
