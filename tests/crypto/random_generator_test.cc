#include "crypto/random_generator.h"

#include <algorithm>
#include <array>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

}  // namespace
