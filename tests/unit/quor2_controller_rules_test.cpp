// The host controller's plain rules: which quad an address belongs to, the
// flit time of a link, the size-counter slot of a request, and how many owed
// tokens one packet carries.
#include "quor2_quor_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time;
using sc_core::SC_PS;

TEST(ControllerRules, QuadIsTheUpperBitsOfTheVaultAboveTheBlockOffset) {
  Config cfg;  // 128-byte blocks, 16 vaults, 4 per quad
  EXPECT_EQ(QuadOfAddress(0, cfg), 0u);
  EXPECT_EQ(QuadOfAddress((3u << 7) | 0x7F, cfg), 0u);  // vault 3, last byte of its block
  EXPECT_EQ(QuadOfAddress(4u << 7, cfg), 1u);           // vault 4
  EXPECT_EQ(QuadOfAddress(13u << 7, cfg), 3u);
  EXPECT_EQ(QuadOfAddress(16u << 7, cfg), 0u);          // vault bits wrap
  cfg.MAX_BLOCK_SIZE = 32;
  EXPECT_EQ(QuadOfAddress(4u << 5, cfg), 1u);
}

TEST(ControllerRules, UnknownMappingSchemeNamesNoQuad) {
  Config cfg;
  cfg.MAPPING_SCHEME = 2;
  testing::internal::CaptureStdout();
  EXPECT_EQ(QuadOfAddress(0, cfg), kNoQuad);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "== ERROR - Unknown mapping scheme in Host Controller\n");
}

TEST(ControllerRules, FlitTimeFollowsLanesAndSpeed) {
  Config cfg;
  EXPECT_EQ(LinkFlitRate(cfg, cfg.LINK_0_WIDTH), sc_time(533, SC_PS));
  cfg.LINK_SPEED = 12.5f;
  EXPECT_EQ(LinkFlitRate(cfg, cfg.LINK_0_WIDTH), sc_time(640, SC_PS));
  cfg.LINK_SPEED = 10.0f;
  EXPECT_EQ(LinkFlitRate(cfg, cfg.LINK_0_WIDTH), sc_time(800, SC_PS));
  cfg.LINK_0_WIDTH = 8;
  EXPECT_EQ(LinkFlitRate(cfg, cfg.LINK_0_WIDTH), sc_time(1600, SC_PS));
}

// The busiest core cycle, against a count of the host's flit times cycle by
// cycle over whole common periods of the two clocks (flits at an edge belong to
// the cycle after it), for random clocks and the shipped cases.
TEST(ControllerRules, BusiestCoreCycleMatchesACountOfEveryCycle) {
  const auto countCycles = [](uint64_t core, uint64_t flit, uint64_t adjusted) {
    const uint64_t period = 2 * flit + adjusted;
    const uint64_t span = std::lcm(core, period) * 2;
    std::vector<unsigned> perCycle(span / core + 2, 0);
    uint64_t t = 0;
    for (unsigned n = 0; t < span; ++n) {
      t += n % 3 == 2 ? adjusted : flit;
      if (t < span) ++perCycle[t / core];
    }
    return *std::max_element(perCycle.begin() + 1, perCycle.end() - 2);
  };
  const auto ps = [](uint64_t v) { return sc_time(static_cast<double>(v), SC_PS); };
  struct Case { uint64_t core, flit, adjusted; unsigned most; };
  const Case shipped[] = {{1600, 533, 534, 3}, {3750, 533, 534, 8}, {7500, 1066, 1067, 8},
                          {2400, 533, 534, 5}, {1600, 800, 800, 2}};
  for (const Case& c : shipped) {
    EXPECT_EQ(MostFlitsInACoreCycle(ps(c.core), ps(c.flit), ps(c.adjusted)), c.most) << c.core << "/" << c.flit;
    EXPECT_EQ(countCycles(c.core, c.flit, c.adjusted), c.most) << c.core << "/" << c.flit;
  }
  std::srand(7);
  for (int i = 0; i < 300; ++i) {
    const uint64_t core = 200 + std::rand() % 4000, flit = 100 + std::rand() % 1500;
    const uint64_t adjusted = flit + std::rand() % 2;
    EXPECT_EQ(MostFlitsInACoreCycle(ps(core), ps(flit), ps(adjusted)), countCycles(core, flit, adjusted))
        << core << " ps core, " << flit << "/" << adjusted << " ps flits";
  }
}

TEST(ControllerRules, SizeSlotsCoverSixteenToOneHundredTwentyEightBytes) {
  EXPECT_EQ(RequestSizeSlot(16), 0);
  EXPECT_EQ(RequestSizeSlot(64), 3);
  EXPECT_EQ(RequestSizeSlot(128), 7);
  EXPECT_EQ(RequestSizeSlot(24), 0);   // counted with 16 bytes, as length / 16 - 1 says
  EXPECT_EQ(RequestSizeSlot(143), 7);
  EXPECT_EQ(RequestSizeSlot(15), -1);  // no slot below 16 bytes
  EXPECT_EQ(RequestSizeSlot(0), -1);
  EXPECT_EQ(RequestSizeSlot(144), -1); // nor above the eighth
}

TEST(ControllerRules, APacketCarriesAtMostMaxTokenReturnOwedTokens) {
  unsigned owed = 40;
  EXPECT_EQ(TakeReturnTokens(owed, 31), 31u);
  EXPECT_EQ(owed, 9u);
  EXPECT_EQ(TakeReturnTokens(owed, 31), 9u);
  EXPECT_EQ(owed, 0u);
  EXPECT_EQ(TakeReturnTokens(owed, 31), 0u);
  owed = 31;
  EXPECT_EQ(TakeReturnTokens(owed, 31), 31u);
  EXPECT_EQ(owed, 0u);
}
