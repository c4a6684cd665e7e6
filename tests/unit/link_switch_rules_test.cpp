#include "quor2_flit.h"
#include "quor2_link_switch.h"

#include <gtest/gtest.h>

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time;
using sc_core::SC_PS;

TEST(LinkSwitchDestination, OwnQuadVaultsThenOtherQuadsInIncreasingOrder) {
  // Quad 0: vaults 0..3 are local, quads 1, 2, 3 are destinations 4, 5, 6.
  EXPECT_EQ(LinkSwitchDestination(0, 0, 4, 4), 0);
  EXPECT_EQ(LinkSwitchDestination(3, 0, 4, 4), 3);
  EXPECT_EQ(LinkSwitchDestination(4, 0, 4, 4), 4);
  EXPECT_EQ(LinkSwitchDestination(7, 0, 4, 4), 4);
  EXPECT_EQ(LinkSwitchDestination(13, 0, 4, 4), 6);
  // Quad 2: its own vaults 8..11 map to 0..3; quads 0, 1, 3 to 4, 5, 6.
  EXPECT_EQ(LinkSwitchDestination(9, 2, 4, 4), 1);
  EXPECT_EQ(LinkSwitchDestination(2, 2, 4, 4), 4);
  EXPECT_EQ(LinkSwitchDestination(5, 2, 4, 4), 5);
  EXPECT_EQ(LinkSwitchDestination(15, 2, 4, 4), 6);
}

TEST(LinkSwitchDestination, VaultOutsideTheCubeHasNoDestination) {
  EXPECT_EQ(LinkSwitchDestination(16, 0, 4, 4), -1);
  EXPECT_EQ(LinkSwitchDestination(0xFFFFFFFFu, 3, 4, 4), -1);
  EXPECT_EQ(LinkSwitchDestination(7, 1, 4, 2), 3);
  EXPECT_EQ(LinkSwitchDestination(3, 1, 4, 2), 4);
  EXPECT_EQ(LinkSwitchDestination(8, 1, 4, 2), -1);
}

TEST(InterQuadPorts, PortKFacesTheKthOtherQuad) {
  EXPECT_EQ(QuadOfInterQuadPort(0, 2), 0u);
  EXPECT_EQ(QuadOfInterQuadPort(1, 2), 1u);
  EXPECT_EQ(QuadOfInterQuadPort(2, 2), 3u);
  EXPECT_EQ(QuadOfInterQuadPort(0, 0), 1u);
  EXPECT_EQ(QuadOfInterQuadPort(2, 3), 2u);
}

TEST(Throttle, ShortDestinationClosesForTheStallAndOpensWhenItEnds) {
  const sc_time stall(4800, SC_PS);
  ThrottleState s = UpdateThrottle({}, true, sc_time(3200, SC_PS), stall);
  EXPECT_TRUE(s.throttled);
  EXPECT_EQ(s.end, sc_time(8000, SC_PS));
  EXPECT_TRUE(UpdateThrottle(s, true, sc_time(7999, SC_PS), stall).throttled);
  const ThrottleState open = UpdateThrottle(s, true, sc_time(8000, SC_PS), stall);
  EXPECT_FALSE(open.throttled);
  // Still short in the next run: closed again for a whole stall.
  const ThrottleState again = UpdateThrottle(open, true, sc_time(9600, SC_PS), stall);
  EXPECT_TRUE(again.throttled);
  EXPECT_EQ(again.end, sc_time(14400, SC_PS));
}

TEST(Throttle, CreditsBackOpensAtOnceAndAFullDestinationStaysOpen) {
  const sc_time stall(4800, SC_PS);
  ThrottleState s = UpdateThrottle({}, true, sc_time(3200, SC_PS), stall);
  EXPECT_FALSE(UpdateThrottle(s, false, sc_time(4800, SC_PS), stall).throttled);
  EXPECT_FALSE(UpdateThrottle({}, false, sc_time(4800, SC_PS), stall).throttled);
}

TEST(WriteDataCredits, PerPacketTwiceTheWhole32ByteBlocks) {
  for (unsigned len = 16; len <= 128; len += 16) {
    const unsigned n = PacketFlitCount(WRITE_REQUEST, len, 16);
    unsigned total = 0;
    for (unsigned k = 1; k <= n; ++k) total += WriteDataCreditsForFlit(k == 1, k == n, len);
    EXPECT_EQ(total, 2 * ((len + 31) / 32)) << len;
    // What the vault controller gives back for the same write.
    EXPECT_EQ(total, len / 16 + (len % 32 != 0 ? 1 : 0)) << len;
  }
  // An atomic: header and one data tail of 16 bytes.
  EXPECT_EQ(WriteDataCreditsForFlit(true, false, 16) + WriteDataCreditsForFlit(false, true, 16),
            2u);
  EXPECT_EQ(WriteDataCreditsForFlit(true, true, 64), 0u);
}

TEST(VaultCredits, TwoWriteDataCreditsAlwaysNeededAndHeadersNeedACommandCredit) {
  EXPECT_FALSE(VaultCreditsAllow(true, 5, 1));  // a read, though it takes no write credit
  EXPECT_TRUE(VaultCreditsAllow(true, 1, 2));
  EXPECT_FALSE(VaultCreditsAllow(true, 0, 40));
  EXPECT_TRUE(VaultCreditsAllow(false, 0, 2));
  EXPECT_FALSE(VaultCreditsAllow(false, 9, 1));
}

TEST(TokenPulse, AtMostTheSwitchRateAboveTheLinkRate) {
  EXPECT_EQ(TokensForPulse(5, 3, 3), 3u);
  EXPECT_EQ(TokensForPulse(2, 3, 3), 2u);
  EXPECT_EQ(TokensForPulse(3, 3, 3), 3u);
  EXPECT_EQ(TokensForPulse(0, 3, 3), 0u);
  EXPECT_EQ(TokensForPulse(9, 2, 4), 4u);
  // Owed more than the link rate but less than the switch rate: never more than owed.
  EXPECT_EQ(TokensForPulse(2, 1, 3), 2u);
}

TEST(BusySignal, SkidIsTheDelayedCyclesAtTheSwitchRatePlusTheRestOfAPacket) {
  // The defaults leave exactly this room above the threshold (57 - 33).
  EXPECT_EQ(BusySkidLines(6, 3, 3), 24u);
  // A link slower than the switch sends the rest of a packet over more cycles.
  EXPECT_EQ(BusySkidLines(6, 3, 1), 29u);
  EXPECT_EQ(BusySkidLines(6, 2, 3), 18u);
  EXPECT_EQ(BusySkidLines(0, 1, 1), 9u);
}

TEST(BusySignal, HeldBackAtOnceWhenAnotherCycleAndAPacketWouldNotFit) {
  EXPECT_FALSE(LinkInputNearlyFull(13, 24, 3));
  EXPECT_TRUE(LinkInputNearlyFull(14, 24, 3));
  // The smallest buffer validation accepts lets the link send when it is empty.
  EXPECT_FALSE(LinkInputNearlyFull(0, 11, 3));
  EXPECT_TRUE(LinkInputNearlyFull(1, 11, 3));
  EXPECT_FALSE(LinkInputNearlyFull(0, 9, 1));
}
