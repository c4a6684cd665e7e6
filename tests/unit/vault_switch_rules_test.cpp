#include "quor2_vault_switch.h"

#include <gtest/gtest.h>

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time;
using sc_core::SC_PS;

TEST(VaultSwitchPorts, PortKFacesTheKthOtherQuadInIncreasingOrder) {
  // Quad 0: ports face 1, 2, 3; quad 2: 0, 1, 3; quad 3: 0, 1, 2.
  EXPECT_EQ(vswitch::PortToQuad(0, 0), 1u);
  EXPECT_EQ(vswitch::PortToQuad(0, 2), 3u);
  EXPECT_EQ(vswitch::PortToQuad(2, 1), 1u);
  EXPECT_EQ(vswitch::PortToQuad(2, 2), 3u);
  EXPECT_EQ(vswitch::PortToQuad(3, 2), 2u);
  for (unsigned id = 0; id < 4; ++id)
    for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(vswitch::QuadToPort(id, vswitch::PortToQuad(id, k)), k);
}

TEST(VaultSwitchPorts, DiagonalPairsAreZeroThreeAndOneTwoOnly) {
  EXPECT_TRUE(vswitch::IsDiagonalPair(0, 3));
  EXPECT_TRUE(vswitch::IsDiagonalPair(3, 0));
  EXPECT_TRUE(vswitch::IsDiagonalPair(1, 2));
  EXPECT_TRUE(vswitch::IsDiagonalPair(2, 1));
  EXPECT_FALSE(vswitch::IsDiagonalPair(0, 1));
  EXPECT_FALSE(vswitch::IsDiagonalPair(0, 2));
  EXPECT_FALSE(vswitch::IsDiagonalPair(1, 3));
  EXPECT_FALSE(vswitch::IsDiagonalPair(2, 3));
  EXPECT_FALSE(vswitch::IsDiagonalPair(1, 1));
  EXPECT_FALSE(vswitch::IsDiagonalPair(4, 0)); // beyond four quads nobody is diagonal
  EXPECT_EQ(vswitch::DiagonalNeighbour(0), 3u);
  EXPECT_EQ(vswitch::DiagonalNeighbour(1), 2u);
  EXPECT_EQ(vswitch::DiagonalNeighbour(2), 1u);
  EXPECT_EQ(vswitch::DiagonalNeighbour(3), 0u);
}

TEST(VaultSwitchLanes, EmptyLatchStartsAtZeroElseNextLaneWrapping) {
  EXPECT_EQ(vswitch::NextLane(true, 2, 3), 0);
  EXPECT_EQ(vswitch::NextLane(false, 0, 3), 1);
  EXPECT_EQ(vswitch::NextLane(false, 1, 3), 2);
  EXPECT_EQ(vswitch::NextLane(false, 2, 3), 0);
  EXPECT_EQ(vswitch::NextLane(false, 1, 2), 0);
}

TEST(VaultSwitchThrottle, ThrottlesAtThresholdForTwoCycles) {
  const sc_time cycle(1600, SC_PS);
  const sc_time t0(16000, SC_PS);
  // 11 credits are above the interquad threshold of 10: no throttle.
  vswitch::ThrottleState s = vswitch::UpdateThrottle({}, 11, vswitch::kInterQuadThrottleCredits, t0, cycle);
  EXPECT_FALSE(s.throttled);
  // 10 credits: throttled until two cycles later.
  s = vswitch::UpdateThrottle(s, 10, vswitch::kInterQuadThrottleCredits, t0, cycle);
  EXPECT_TRUE(s.throttled);
  EXPECT_EQ(s.until, t0 + cycle * 2);
  // One picosecond before its time it stays; at its time it ends.
  EXPECT_TRUE(vswitch::UpdateThrottle(s, 10, 10, t0 + cycle * 2 - sc_time(1, SC_PS), cycle).throttled);
  EXPECT_FALSE(vswitch::UpdateThrottle(s, 10, 10, t0 + cycle * 2, cycle).throttled);
  // Credits rising above the threshold end it at once.
  EXPECT_FALSE(vswitch::UpdateThrottle(s, 11, 10, t0 + cycle, cycle).throttled);
}

TEST(VaultSwitchThrottle, LinkMasterThresholdIsSeven) {
  const sc_time cycle(1600, SC_PS);
  EXPECT_FALSE(vswitch::UpdateThrottle({}, 8, vswitch::kLinkMasterThrottleCredits, cycle, cycle).throttled);
  EXPECT_TRUE(vswitch::UpdateThrottle({}, 7, vswitch::kLinkMasterThrottleCredits, cycle, cycle).throttled);
  EXPECT_TRUE(vswitch::UpdateThrottle({}, 0, vswitch::kLinkMasterThrottleCredits, cycle, cycle).throttled);
}

TEST(VaultSwitchThrottle, ServedOneStepInThreeWhileShortOfCredits) {
  const sc_time cycle(1600, SC_PS);
  vswitch::ThrottleState s;
  std::string pattern;
  for (int step = 0; step < 9; ++step) {
    s = vswitch::UpdateThrottle(s, 10, 10, cycle * step, cycle);
    pattern += s.throttled ? 'T' : 'S';
  }
  EXPECT_EQ(pattern, "TTSTTSTTS");
}

TEST(VaultSwitchCredits, PulseCarriesAtMostTheLaneLimit) {
  EXPECT_EQ(vswitch::CreditPulseAmount(5, 2), 2u);
  EXPECT_EQ(vswitch::CreditPulseAmount(1, 2), 1u);
  EXPECT_EQ(vswitch::CreditPulseAmount(5, 3), 3u);
  EXPECT_EQ(vswitch::CreditPulseAmount(0, 3), 0u);
}

TEST(VaultSwitchMasks, MoreThanOneBit) {
  EXPECT_FALSE(vswitch::MoreThanOneBit(0));
  EXPECT_FALSE(vswitch::MoreThanOneBit(1u << 31));
  EXPECT_TRUE(vswitch::MoreThanOneBit(0x5));
  EXPECT_TRUE(vswitch::MoreThanOneBit(0x80000001u));
}
