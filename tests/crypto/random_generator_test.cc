#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "crypto/high_resolution_timer.h"
#include "crypto/random_generator.h"

namespace {

RngDiagnostics diagnostics() {
  RngDiagnostics d{};
  Rng_GetDiagnostics(&d);
  return d;
}

// The generator's first initialisation spins for up to 0.64 s of CPU time;
// this test must run before any other use of the generator in its process.
TEST(RandomGenerator, InitialisesOnFirstUseAndClampsStrength) {
  ASSERT_EQ(diagnostics().initialised, 0) << "the generator was used before this test";
  EXPECT_EQ(diagnostics().strength, 0u);

  uint8_t byte = 0;
  EXPECT_EQ(Rng_PseudoRandomConvenience(&byte, 0), 0);
  const RngDiagnostics first = diagnostics();
  EXPECT_EQ(first.initialised, 1);
  EXPECT_EQ(first.strength, 128u);
  EXPECT_EQ(first.poolCount, 0u);
  EXPECT_EQ(first.steps, 0u);
  EXPECT_GT(first.timerResolution, 0u);

  // Lower strengths are no-ops unless forced; 10 counts as 40, 1000 as 256.
  EXPECT_EQ(Rng_PseudoRandomInit(10, 0), first.timerResolution);
  EXPECT_EQ(diagnostics().strength, 128u);
  Rng_PseudoRandomInit(10, 1);
  EXPECT_EQ(diagnostics().strength, 40u);
  Rng_PseudoRandomInit(1000, 0);
  EXPECT_EQ(diagnostics().strength, 256u);
  EXPECT_EQ(diagnostics().poolUpdates, first.poolUpdates + 2);
}

class RandomGeneratorSteps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Rng_PseudoRandomInit(128, 0); }
};

TEST_F(RandomGeneratorSteps, EachRequestTakesOneStepPerSixteenBytes) {
  const struct {
    size_t length;
    uint64_t steps;
  } cases[] = {{1, 1}, {8, 1}, {16, 1}, {17, 2}, {20, 2}, {32, 2}, {33, 3}, {1000, 63}};
  for (const auto& c : cases) {
    // Guard bytes around the request must stay untouched.
    std::vector<uint8_t> buffer(c.length + 32, 0xA5);
    const uint64_t before = diagnostics().steps;
    ASSERT_EQ(Rng_PseudoRandomConvenience(buffer.data() + 16, c.length), 0);
    EXPECT_EQ(diagnostics().steps - before, c.steps) << c.length << " bytes";
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + 16, 0xA5), 16);
    EXPECT_EQ(std::count(buffer.end() - 16, buffer.end(), 0xA5), 16);
  }
  EXPECT_EQ(Rng_PseudoRandomConvenience(nullptr, 1), 1);
}

TEST_F(RandomGeneratorSteps, FoldsTheEntropyPoolEvery256Steps) {
  const RngDiagnostics before = diagnostics();
  std::vector<uint8_t> buffer(16);
  for (int i = 0; i < 2560; ++i) {
    ASSERT_EQ(Rng_PseudoRandomConvenience(buffer.data(), buffer.size()), 0);
    ASSERT_LE(diagnostics().poolCount, 128u);
  }
  const uint64_t folds = diagnostics().poolUpdates - before.poolUpdates;
  EXPECT_GE(folds, 9u);
  EXPECT_LE(folds, 10u);
}

TEST_F(RandomGeneratorSteps, NoBlockRepeatsAcrossThreads) {
  constexpr int kPerThread = 5000;
  std::vector<std::array<uint8_t, 16>> blocks[2];
  const uint64_t before = diagnostics().steps;
  auto request = [&blocks](int t) {
    blocks[t].resize(kPerThread);
    for (auto& block : blocks[t]) Rng_PseudoRandomConvenience(block.data(), block.size());
  };
  std::thread other(request, 1);
  request(0);
  other.join();
  std::set<std::array<uint8_t, 16>> distinct(blocks[0].begin(), blocks[0].end());
  distinct.insert(blocks[1].begin(), blocks[1].end());
  EXPECT_EQ(distinct.size(), 2u * kPerThread);
  EXPECT_EQ(diagnostics().steps - before, 2u * kPerThread);
}

TEST(HighResolutionTimer, SelectionRule) {
  const struct {
    uint64_t cpuResolution, nanosecondResolution;
    bool nanosecondClock, defaultTimer;
    uint64_t resolution;
  } cases[] = {
      {1, 1, false, false, 1000000000},     // both 1 ns: the CPU-time clock
      {1000, 1, true, false, 1000000000},   // CPU-time clock at the limit, but slower
      {1001, 1, true, false, 1000000000},   // CPU-time clock too coarse
      {10, 10, false, false, 100000000},    // a tie keeps the CPU-time clock
      {100, 10, true, false, 100000000},
      {0, 1000, true, true, 1000000},       // a 1 MHz clock leaves the default timer on
      {0, 0, false, true, 1000000},         // nothing better than the default timer
      {1, 0, false, false, 1000000000},
  };
  for (const auto& c : cases) {
    HighResolutionTimer timer;
    hrtChooseTimer(&timer, c.cpuResolution, c.nanosecondResolution);
    SCOPED_TRACE(std::to_string(c.cpuResolution) + "/" + std::to_string(c.nanosecondResolution));
    EXPECT_EQ(timer.nanosecondClockInUse, c.nanosecondClock);
    EXPECT_EQ(timer.defaultTimerInUse, c.defaultTimer);
    EXPECT_EQ(timer.resolution, c.resolution);
    EXPECT_NE(hrtRead(timer), 0u);
  }
  EXPECT_EQ(hrtFoldNanoseconds(4294967295ull * 3 + 5), 5u ^ 3u);
  EXPECT_EQ(hrtFoldNanoseconds(4294967294ull), 4294967294u);
}

}  // namespace
