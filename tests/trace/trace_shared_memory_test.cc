#include "trace/trace_shared_memory.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/exception.h"
#include "private_home.h"
#include "trace/trace_flags.h"

namespace NEBRIX {
namespace {

using Bytes = std::vector<char>;
constexpr int kSize = 26656;

std::string orqDirectory() { return nebrix_test::privateHomeDirectory() + "/.orq"; }
std::string shmPath() {
  struct utsname names;
  uname(&names);
  return orqDirectory() + "/" + names.nodename + "/NEBRIX.shm";
}
off_t partOffset(int i) { return 256 + i * 264; }

Bytes readFile() {
  std::ifstream in(shmPath(), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
// Writes bytes into the file at offset as another process would; the
// mapping sees them. create starts a new file of mode `mode` first.
void poke(off_t offset, const void* data, size_t size, bool create = false, mode_t mode = 0600) {
  const int fd = open(shmPath().c_str(), O_WRONLY | (create ? O_CREAT | O_TRUNC : 0), mode);
  EXPECT_EQ(pwrite(fd, data, size, offset), ssize_t(size));
  if (create) fchmod(fd, mode);
  close(fd);
}
void writeFile(const Bytes& bytes, mode_t mode = 0600) {
  poke(0, bytes.data(), bytes.size(), true, mode);
}
Bytes validFile(int32_t version = 1, int32_t updateCount = 0) {
  Bytes bytes(kSize, 0);
  std::memcpy(&bytes[0], &updateCount, 4), std::memcpy(&bytes[8], &version, 4);
  return bytes;
}
mode_t fileMode() {
  struct stat st;
  return stat(shmPath().c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
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
pid_t endedProcess() {
  const pid_t pid = spawn([] { return 0; });
  return waitFor(pid), pid;
}
struct LiveProcess {
  pid_t pid = spawn([] { return pause(); });
  ~LiveProcess() { kill(pid, SIGKILL), waitFor(pid); }
};

// Runs body(console, i) in `processes` children at once, each with a
// console attached on its own, and expects every one to succeed.
void runTogether(int processes, const std::function<bool(TraceSharedMemory&, int)>& body) {
  int gate[2];
  EXPECT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < processes; ++i) {
    children.push_back(spawn([&] {
      TraceSharedMemory console;
      if (!failureOf([&] { console.attach("NEBRIX", nullptr); }).empty()) return 2;
      char c;
      close(gate[1]);
      return read(gate[0], &c, 1) == 0 && body(console, i) ? 0 : 1;
    }));
  }
  close(gate[1]), close(gate[0]);
  for (pid_t child : children) EXPECT_EQ(waitFor(child), 0);
}

class TraceSharedMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    nebrix_test::removeTree(orqDirectory());
    shm.attach("NEBRIX", nullptr);  // creates the profile directory
    shm.detach();
    nebrix_test::removeTree(shmPath());
  }
  TraceSharedMemory shm;
};

TEST_F(TraceSharedMemoryTest, MissingOrWrongSizeFileIsRecreatedZeroedAndPrivate) {
  Bytes expected = validFile();
  const int32_t header[] = {kSize, 1, 1, 1};
  std::memcpy(&expected[4], header, sizeof header);
  for (int size : {-1, 0, kSize - 1, kSize + 1}) {
    nebrix_test::removeTree(shmPath());
    if (size >= 0) writeFile(Bytes(size, 'x'), 0644);
    shm.attach("NEBRIX", nullptr);
    shm.detach();
    EXPECT_EQ(readFile(), expected) << size;
    EXPECT_EQ(fileMode(), 0600u) << size;
  }
}

TEST_F(TraceSharedMemoryTest, ValidFileKeepsCounterPartsAndPermissions) {
  for (int32_t version : {1, 0, 7}) {
    Bytes bytes = validFile(version, 42);
    const int32_t spinLock = 1, part[] = {1234, 7}, initialized[] = {kSize, 1, 1, 1};
    std::memcpy(&bytes[20], &spinLock, 4), std::memcpy(&bytes[partOffset(3)], part, sizeof part);
    std::strcpy(&bytes[partOffset(3) + 8], "c:a");
    writeFile(bytes, 0644);
    shm.attach("NEBRIX", nullptr);
    shm.detach();
    if (version != 1) std::memcpy(&bytes[4], initialized, sizeof initialized);
    EXPECT_EQ(readFile(), bytes) << version;
    EXPECT_EQ(fileMode(), 0644u) << version;
  }
}

TEST_F(TraceSharedMemoryTest, FlagsThatDoNotFitAreRefusedOrCut) {
  std::string flags;
  EXPECT_FALSE(shm.setFlags(getpid(), "c"));
  EXPECT_FALSE(shm.getFlags(getpid(), flags));
  EXPECT_EQ(shm.getAllParts(), nullptr);

  shm.attach("NEBRIX", nullptr);
  const std::string longest(255, 'c'), tooLong(256, 'd');
  EXPECT_TRUE(shm.setFlags(getpid(), longest.c_str()));
  EXPECT_FALSE(shm.setFlags(getpid(), tooLong.c_str()));
  EXPECT_FALSE(shm.setFlags(getpid(), nullptr));
  EXPECT_FALSE(shm.setFlags(0, "c"));
  EXPECT_FALSE(shm.getFlags(0, flags));
  EXPECT_FALSE(shm.getFlags(getppid(), flags));  // and takes no part for it
  EXPECT_TRUE(shm.getFlags(getpid(), flags));
  EXPECT_EQ(flags, longest);
  const TraceSharedMemory::Part* parts = shm.getAllParts();
  EXPECT_EQ(parts[0].processID, getpid());
  for (int i = 1; i < TraceSharedMemory::NUM_PARTS; ++i) EXPECT_EQ(parts[i].processID, 0);

  poke(partOffset(0) + 8, std::string(256, 'x').data(), 256);  // no NUL in the field
  EXPECT_TRUE(shm.getFlags(getpid(), flags));
  EXPECT_EQ(flags, std::string(255, 'x'));
  EXPECT_EQ(shm.getMyFlags(), std::string(255, 'x'));
}

TEST_F(TraceSharedMemoryTest, OnlyPartsOfEndedProcessesAreReused) {
  LiveProcess child;
  Bytes bytes = validFile();
  for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
    // pid 1 is alive whether signal 0 to it succeeds (root) or fails with EPERM.
    const int32_t pid = i == 0 ? child.pid : 1;
    std::memcpy(&bytes[partOffset(i)], &pid, 4);
  }
  writeFile(bytes);
  shm.attach("NEBRIX", nullptr);
  EXPECT_FALSE(shm.setFlags(getpid(), "c"));

  const int32_t ended[] = {endedProcess(), 77}, garbage[] = {-7, 0};
  poke(partOffset(57), ended, sizeof ended);
  poke(partOffset(58), garbage, sizeof garbage);  // no process has a negative id
  EXPECT_TRUE(shm.setFlags(getpid(), "d"));
  EXPECT_TRUE(shm.setFlags(getppid(), "e"));
  const TraceSharedMemory::Part* parts = shm.getAllParts();
  EXPECT_EQ(parts[57].processID, getpid());
  EXPECT_EQ(parts[57].readCount, 77);
  EXPECT_STREQ(parts[57].flags, "d");
  EXPECT_EQ(parts[58].processID, getppid());

  poke(partOffset(59), ended, sizeof ended);
  poke(partOffset(59) + 8, "x", 2);
  Bytes expected = readFile();
  std::memset(&expected[partOffset(59)], 0, 9);
  shm.clearDeadParts();
  EXPECT_EQ(readFile(), expected);
}

TEST_F(TraceSharedMemoryTest, UpdateCountWraps) {
  writeFile(validFile(1, INT32_MAX - 1));
  shm.attach("NEBRIX", nullptr);
  for (int32_t expected : {INT32_MAX, INT32_MIN, INT32_MIN + 1}) {
    shm.incUpdateCount();
    EXPECT_EQ(shm.getUpdateCount(), expected);
  }
  EXPECT_EQ(readFile(), validFile(1, INT32_MIN + 1));
}

TEST_F(TraceSharedMemoryTest, AttachAndDetachInAnyOrder) {
  const std::string attached = "Shared memory is already attached";
  shm.detach();
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr, "other"); }),
            "Impersonation not supported, use sudo on this platform");
  EXPECT_EQ(shm.getVersion(), 0);
  shm.attach("NEBRIX", "");
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr); }), attached);
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr, "other"); }), attached);
  EXPECT_EQ(shm.getVersion(), 1);
  shm.detach();
  shm.detach();
  EXPECT_EQ(shm.getVersion(), 0);
  shm.attach("NEBRIX", nullptr);
  EXPECT_EQ(shm.getVersion(), 1);
}

TEST_F(TraceSharedMemoryTest, FailuresNameTheFileAndTheCall) {
  const std::string path = shmPath(), opening = "Cannot open shared memory file " + path;
  rlimit unlimited, small;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  small = {1000, unlimited.rlim_max};
  mkdir(path.c_str(), 0700);
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr); }), opening + ", rc=21:Is a directory");
  nebrix_test::removeTree(path);
  signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr); }), opening + ", rc=27:File too large; $call$=fwrite");
  setrlimit(RLIMIT_FSIZE, &unlimited), signal(SIGXFSZ, SIG_DFL);
  nebrix_test::removeTree(path);
  writeFile(validFile(), 0400);  // root may open any file; others get the mapping's error
  EXPECT_EQ(failureOf([&] { shm.attach("NEBRIX", nullptr); }),
            geteuid() == 0 ? "" : "Error open memory mapping " + path + ", rc=13: Permission denied");
}

TEST_F(TraceSharedMemoryTest, WatcherSeesChangesAndAcknowledgesThem) {
  // The running-process side end to end is the trace client's; here the edges.
  TraceSharedMemory watcher;
  watcher.attach("NEBRIX", nullptr);
  EXPECT_EQ(watcher.getMyFlags(), nullptr);
  watcher.updateMyReadCount();  // without a part
  shm.attach("NEBRIX", nullptr);
  ASSERT_TRUE(shm.setFlags(getpid(), "c:a"));
  shm.incUpdateCount();
  watcher.updateMyReadCount();
  EXPECT_FALSE(watcher.isMyReadCountLower());
  EXPECT_EQ(shm.getAllParts()[0].readCount, 1);

  const int32_t lower = -5;  // any difference counts
  poke(0, &lower, 4);
  EXPECT_TRUE(watcher.isMyReadCountLower());

  // A forked child is not its parent: it finds its own part.
  EXPECT_EQ(waitFor(spawn([&] {
              shm.setFlags(getpid(), "d");
              return watcher.getMyFlags() == std::string("d") ? 0 : 1;
            })),
            0);
}

TEST_F(TraceSharedMemoryTest, ConcurrentIncrementsAreNotLost) {
  constexpr int kIncrements = 100000;
  runTogether(3, [](TraceSharedMemory& console, int) {
    for (int i = 0; i < kIncrements; ++i) console.incUpdateCount();
    return true;
  });
  shm.attach("NEBRIX", nullptr);
  EXPECT_EQ(shm.getUpdateCount(), 3 * kIncrements);
}

// Two consoles change different settings of one process at the same time.
TEST_F(TraceSharedMemoryTest, ConcurrentChangesOfOnePartAreNotLost) {
  constexpr int kChanges = 3000;
  const pid_t target = getpid();
  shm.attach("NEBRIX", nullptr);
  ASSERT_TRUE(shm.setFlags(target, "s8192:e1"));
  runTogether(2, [&](TraceSharedMemory& console, int fileSize) {
    for (int i = 0; i < kChanges; ++i) {
      TraceSharedMemory::LockedScope lock(console);
      std::string text;
      if (!console.getFlags(target, text)) return false;
      TraceFlags flags(text.c_str());
      ++(fileSize ? flags.m_filesize : flags.m_errorcode);
      if (!console.setFlags(target, flags.toString().c_str())) return false;
      console.incUpdateCount();
    }
    return true;
  });
  std::string text;
  ASSERT_TRUE(shm.getFlags(target, text));
  EXPECT_EQ(text, "s" + std::to_string(8192 + kChanges) + ":e" + std::to_string(1 + kChanges));
  EXPECT_EQ(shm.getUpdateCount(), 2 * kChanges);
}

// Two consoles address the same new processes at the same time, in opposite
// orders: every process ends up with exactly one part.
TEST_F(TraceSharedMemoryTest, ConcurrentClaimsGiveEachProcessOnePart) {
  std::vector<LiveProcess> targets(90);
  runTogether(2, [&](TraceSharedMemory& console, int forward) {
    for (size_t i = 0; i < targets.size(); ++i) {
      TraceSharedMemory::LockedScope lock(console);
      const size_t k = forward ? i : targets.size() - 1 - i;
      if (!console.setFlags(targets[k].pid, "c")) return false;
    }
    return true;
  });
  shm.attach("NEBRIX", nullptr);
  for (const LiveProcess& target : targets) {
    int owned = 0;
    for (int i = 0; i < TraceSharedMemory::NUM_PARTS; ++i) {
      owned += shm.getAllParts()[i].processID == target.pid;
    }
    EXPECT_EQ(owned, 1) << target.pid;
  }
}

}  // namespace
}  // namespace NEBRIX
