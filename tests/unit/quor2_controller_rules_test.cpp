// The host controller's plain rules: which quad an address belongs to, the
// flit time of a link, the size-counter slot of a request, and how many owed
// tokens one packet carries.
#include "quor2_quor_controller.h"

#include <gtest/gtest.h>

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
