#include "crypto/random_generator.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/system_random.h"

namespace {

// The first use initialises the generator at strength 128, with the
// nanosecond clocks Linux offers. A request takes one step per 16 bytes and
// writes nothing around it; two threads never draw the same block.
TEST(RandomGenerator, FillsExactlyTheRequestAndNeverRepeatsABlock) {
  std::vector<uint8_t> buffer(17 + 32, 0xA5);
  RngDiagnostics before{}, after{};
  Rng_GetDiagnostics(&before);
  ASSERT_EQ(Rng_PseudoRandomConvenience(buffer.data() + 16, 17), 0);
  Rng_GetDiagnostics(&after);
  EXPECT_EQ(after.steps - before.steps, 2u);
  EXPECT_EQ(after.strength, 128u);
  EXPECT_EQ(after.timerResolution, 1000000000u);
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 16, 0xA5), 16);
  EXPECT_EQ(std::count(buffer.end() - 16, buffer.end(), 0xA5), 16);

  std::vector<std::array<uint8_t, 16>> blocks[2] = {std::vector<std::array<uint8_t, 16>>(5000),
                                                    std::vector<std::array<uint8_t, 16>>(5000)};
  auto request = [&blocks](int t) {
    for (auto& block : blocks[t]) Rng_PseudoRandomConvenience(block.data(), block.size());
  };
  std::thread other(request, 1);
  request(0);
  other.join();
  std::set<std::array<uint8_t, 16>> distinct(blocks[0].begin(), blocks[0].end());
  distinct.insert(blocks[1].begin(), blocks[1].end());
  EXPECT_EQ(distinct.size(), 10000u);
}

// A forked child draws other bytes than its parent, both having drawn before
// the fork. Where getrandom fails, a new seed fails, and so do the requests
// and keys that would need one: nothing falls back to the clocks.
TEST(RandomGenerator, EachProcessIsSeededByTheSystemOrFails) {
  uint8_t parent[16], child[19] = {};  // its first 16 bytes, then the results without getrandom
  int channel[2];
  ASSERT_TRUE(Rng_PseudoRandomConvenience(parent, 16) == 0 && pipe(channel) == 0);
  if (fork() == 0) {
    Rng_PseudoRandomConvenience(child, 16);
    sock_filter deny[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
                          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
                          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    const sock_fprog filter = {4, deny};
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter);
    Rng_PseudoRandomInit(128, 1);
    child[16] = uint8_t(Rng_PseudoRandomConvenience(parent, 1));
    child[17] = uint8_t(errno);
    child[18] = uint8_t(systemRandomBytes(parent, 1));
    _exit(write(channel[1], child, sizeof child) == sizeof child ? 0 : 1);
  }
  ASSERT_EQ(Rng_PseudoRandomConvenience(parent, 16), 0);
  ASSERT_EQ(read(channel[0], child, sizeof child), 19);
  EXPECT_NE(std::vector<uint8_t>(parent, parent + 16), std::vector<uint8_t>(child, child + 16));
  EXPECT_EQ(std::vector<uint8_t>(child + 16, child + 19), std::vector<uint8_t>({1, EIO, EIO}));
  wait(nullptr);
}

}  // namespace
