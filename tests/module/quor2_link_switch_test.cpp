// One link switch between test doubles, one simulation per death-test child.
// Default timing: CORE_CLK 1600 ps, a line from the link is ready 4 cycles after
// intake, a line from another quad 5 cycles after.
#include "doubles/link_switch_doubles.h"
#include "support/scenario.h"

#include "quor2_flit.h"
#include "quor2_link_switch.h"
#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <random>
#include <sstream>

using namespace Orvane::Internal::QUOR2;
using lswtest::Arrival;
using lswtest::Change;
using lswtest::LswBench;
using quortest::RunScenario;
using sc_core::SC_PS;
using sc_core::sc_time;

namespace {

sc_time Ps(uint64_t ps) { return sc_time(static_cast<double>(ps), SC_PS); }

// Sends the flits of a packet from the link, `perCycle` per cycle from `start` on lanes 0 up.
void LinkPacket(LswBench& b, const std::vector<Flit*>& p, sc_time start, unsigned lane0 = 0) {
  for (size_t i = 0; i < p.size(); ++i) b.link->At(start, lane0 + static_cast<unsigned>(i), p[i]);
}

void CheckArrival(const Arrival& a, uint64_t ps, unsigned lane, const Flit* f) {
  SCN_CHECK_EQ(a.time, Ps(ps));
  SCN_CHECK_EQ(a.lane, lane);
  SCN_CHECK(a.flit == f);
}

void CheckChanges(const std::vector<Change>& got, const std::vector<std::pair<uint64_t, int>>& want) {
  SCN_CHECK_EQ(got.size(), want.size());
  for (size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    SCN_CHECK_EQ(got[i].time, Ps(want[i].first));
    SCN_CHECK_EQ(got[i].value, want[i].second);
  }
}

std::vector<Change> OnPort(const std::vector<Change>& all, unsigned index) {
  std::vector<Change> out;
  for (const Change& c : all)
    if (c.index == index) out.push_back(c);
  return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Intake from the link

TEST(LinkIntake, ThreeSameCycleFlitsOfOnePacketFormOneLineAndReturnTwoTokens) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w = b.Packet(1, WRITE_REQUEST, 64, 0, 0);
                LinkPacket(b, {w[0], w[1], w[2]}, Ps(1600));
                b.actions->At(Ps(2000), [&] {
                  SCN_CHECK_EQ(b.lsw->sourceBuffers[0].size(), 1u);
                  SCN_CHECK_EQ(b.lsw->sourceBuffers[0][0].size(), 3u);
                  SCN_CHECK_EQ(b.lsw->returnCredits[0], 0u);
                  SCN_CHECK_EQ(b.lsw->sourceBufferDelays[0][0], Ps(1600 + 4 * 1600));
                });
                sc_core::sc_start(Ps(4000));
                CheckChanges(OnPort(b.creditLanes->changes, 0), {{1600, 2}, {2400, 0}});
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkIntake, TwoLocalVaultsMakeTwoLinesTwoVaultsOfOneRemoteQuadMakeOne) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto r1 = b.Packet(1, READ_REQUEST, 64, 1, 0);
                auto r2 = b.Packet(2, READ_REQUEST, 64, 2, 0);
                auto r4 = b.Packet(3, READ_REQUEST, 64, 4, 0);
                auto r5 = b.Packet(4, READ_REQUEST, 64, 5, 0);
                b.link->At(Ps(1600), 0, r1[0]);
                b.link->At(Ps(1600), 1, r2[0]);
                b.link->At(Ps(3200), 0, r4[0]);
                b.link->At(Ps(3200), 1, r5[0]);
                b.actions->At(Ps(2000), [&] { SCN_CHECK_EQ(b.lsw->sourceBuffers[0].size(), 2u); });
                b.actions->At(Ps(3600), [&] {
                  SCN_CHECK_EQ(b.lsw->sourceBuffers[0].size(), 3u);
                  SCN_CHECK_EQ(b.lsw->perDestSourceBufferLineIndex[0][4], 2);
                });
                sc_core::sc_start(Ps(12000));
                SCN_CHECK_EQ(b.vaults[1]->arrivals.size(), 1u);
                SCN_CHECK_EQ(b.vaults[2]->arrivals.size(), 1u);
                if (!b.vaults[1]->arrivals.empty()) CheckArrival(b.vaults[1]->arrivals[0], 8000, 0, r1[0]);
                if (!b.vaults[2]->arrivals.empty()) CheckArrival(b.vaults[2]->arrivals[0], 8000, 0, r2[0]);
                const auto& q1 = b.receivers[0]->arrivals;
                SCN_CHECK_EQ(q1.size(), 2u);
                if (q1.size() == 2) {
                  CheckArrival(q1[0], 9600, 0, r4[0]);
                  CheckArrival(q1[1], 9600, 1, r5[0]);
                }
                // One token for the joined flit at once, then one per line that left.
                CheckChanges(b.creditLanes->Positive(0), {{3200, 1}, {8000, 2}, {9600, 1}});
                SCN_CHECK_EQ(b.lsw->destinationCredits[4], cfg.LSW_INTERQUAD_BUFFER_SIZE - 2);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkIntake, BusyRisesWhenTheLinesPassTheThresholdAndFallsBackAtIt) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.CREDIT_THROTTLE_VC = 0;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                for (unsigned v = 0; v < 4; ++v) b.lsw->destinationCredits[v] = 0;
                // 34 reads, three a cycle to vaults 0, 1, 2: nothing can leave.
                for (unsigned n = 0; n < 34; ++n) {
                  auto r = b.Packet(n + 1, READ_REQUEST, 32, n % 3, 0);
                  b.link->At(Ps(1600 * (1 + n / 3)), n % 3, r[0]);
                }
                // The 34th line opens at 19200; one command credit lets one read leave at 32000.
                b.vaults[0]->GiveCommandCredit(Ps(30400));
                b.actions->At(Ps(19300), [&] { SCN_CHECK_EQ(b.lsw->sourceBuffers[0].size(), 34u); });
                sc_core::sc_start(Ps(45000));
                CheckChanges(b.busyLine->changes, {{19200 + 9600, 1}, {32000 + 9600, 0}});
                SCN_CHECK_EQ(b.lsw->sourceBuffers[0].size(), 33u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(LinkIntake, MoreLinesThanTheBufferSizeAreReportedAndKept) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LSW_INPUT_BUFFER_SIZE = 2;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                for (unsigned n = 0; n < 3; ++n)
                  b.link->At(Ps(1600), n, b.Packet(n + 1, READ_REQUEST, 32, n, 0)[0]);
                sc_core::sc_start(Ps(12000));
                for (unsigned v = 0; v < 3; ++v) SCN_CHECK_EQ(b.vaults[v]->arrivals.size(), 1u);
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - Link Switch 0 input buffer exceeded max capacity \\(3\\)");
}

TEST(LinkIntake, SecondIntakeAtOneInstantEndsTheRunWithStatusOne) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.link->At(Ps(1600), 0, b.Packet(1, READ_REQUEST, 32, 0, 0)[0]);
                b.link->At(Ps(1600), 0, b.Packet(2, READ_REQUEST, 32, 1, 0)[0]);
                sc_core::sc_start(Ps(4000));
              }),
              ::testing::ExitedWithCode(1),
              "=\\[1600 ps\\]= ERROR - LS sent to DIS twice on one cycle!!!!");
}

TEST(LinkIntake, OtherTagBeforeTheTailEndsTheRunWithStatusOne) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w = b.Packet(1, WRITE_REQUEST, 32, 0, 0);
                b.link->At(Ps(1600), 0, w[0]);
                b.link->At(Ps(3200), 0, b.Packet(2, READ_REQUEST, 32, 1, 0)[0]);
                sc_core::sc_start(Ps(6000));
              }),
              ::testing::ExitedWithCode(1),
              "== ERROR - Non-contiguous tag received from LS in LSW0\n"
              "\\[HEAD cmd:RD32 tag:2 addr:0x00000080 #:1 tokens:0 TAIL\\]");
}

TEST(LinkIntake, FlitForAVaultOutsideTheCubeEndsTheRunWithStatusOne) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.link->At(Ps(1600), 0, b.Packet(1, READ_REQUEST, 32, 0xFFFFFFFFu, 0)[0]);
                sc_core::sc_start(Ps(4000));
              }),
              ::testing::ExitedWithCode(1),
              "=\\[1600 ps\\]= ERROR - Link Switch 0 cannot route a flit for vault 4294967295");
}

// ---------------------------------------------------------------------------
// Intake from other quads

TEST(InterQuadIntake, SameCycleJoinReturnsAnEarlyCreditAndTheLineOneCredit) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w = b.Packet(1, WRITE_REQUEST, 16, 3, 2);  // from quad 2, port 1
                b.neighbours[1]->At(Ps(1600), 0, w[0]);
                b.neighbours[1]->At(Ps(1600), 1, w[1]);
                b.actions->At(Ps(2000), [&] {
                  SCN_CHECK_EQ(b.lsw->sourceBuffers[2].size(), 1u);
                  SCN_CHECK_EQ(b.lsw->sourceBufferDelays[2][0], Ps(1600 + 5 * 1600));
                });
                sc_core::sc_start(Ps(16000));
                CheckChanges(OnPort(b.earlyLanes->changes, 1), {{4800, 1}, {5600, 0}});
                SCN_CHECK(OnPort(b.earlyLanes->changes, 0).empty());
                SCN_CHECK_EQ(b.vaults[3]->arrivals.size(), 2u);
                CheckChanges(b.creditLanes->Positive(2), {{9600, 1}});
                SCN_CHECK(b.creditLanes->Positive(1).empty());
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(InterQuadIntake, WithoutPackingAFlitNeverJoinsALineOfAnEarlierCycle) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto r1 = b.Packet(1, READ_REQUEST, 32, 2, 1);
                auto r2 = b.Packet(2, READ_REQUEST, 32, 2, 1);
                b.neighbours[0]->At(Ps(1600), 0, r1[0]);
                b.neighbours[0]->At(Ps(3200), 0, r2[0]);
                b.actions->At(Ps(3600), [&] { SCN_CHECK_EQ(b.lsw->sourceBuffers[1].size(), 2u); });
                sc_core::sc_start(Ps(16000));
                const auto& a = b.vaults[2]->arrivals;
                SCN_CHECK_EQ(a.size(), 2u);
                if (a.size() == 2) {
                  CheckArrival(a[0], 9600, 0, r1[0]);
                  CheckArrival(a[1], 11200, 0, r2[0]);
                }
                CheckChanges(b.creditLanes->Positive(1), {{9600, 1}, {11200, 1}});
                SCN_CHECK(b.earlyLanes->changes.empty());
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(InterQuadIntake, WithPackingAFlitTakesTheNextFreeLaneOfTheNewestLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.PACK_INTERQUAD = 1;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto r1 = b.Packet(1, READ_REQUEST, 32, 2, 1);
                auto r2 = b.Packet(2, READ_REQUEST, 32, 2, 1);
                b.neighbours[0]->At(Ps(1600), 0, r1[0]);
                b.neighbours[0]->At(Ps(3200), 0, r2[0]);
                b.actions->At(Ps(3600), [&] {
                  SCN_CHECK_EQ(b.lsw->sourceBuffers[1].size(), 1u);
                  SCN_CHECK_EQ(r2[0]->currentLane, 1);
                });
                sc_core::sc_start(Ps(16000));
                const auto& a = b.vaults[2]->arrivals;
                SCN_CHECK_EQ(a.size(), 2u);
                if (a.size() == 2) {
                  CheckArrival(a[0], 9600, 0, r1[0]);
                  CheckArrival(a[1], 9600, 1, r2[0]);
                }
                // A credit per flit as it leaves, one per pulse.
                CheckChanges(b.creditLanes->Positive(1), {{9600, 1}, {11200, 1}});
                SCN_CHECK(b.earlyLanes->changes.empty());
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(InterQuadIntake, WithPackingAFullLineOpensANewLineAndNoEarlyCreditGoes) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.PACK_INTERQUAD = 1;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w32 = b.Packet(1, WRITE_REQUEST, 32, 1, 1);
                auto w16 = b.Packet(2, WRITE_REQUEST, 16, 1, 1);
                for (unsigned i = 0; i < 3; ++i) b.neighbours[0]->At(Ps(1600), i, w32[i]);
                b.neighbours[0]->At(Ps(3200), 0, w16[0]);
                b.neighbours[0]->At(Ps(3200), 1, w16[1]);
                b.actions->At(Ps(3600), [&] {
                  const auto& buf = b.lsw->sourceBuffers[1];
                  SCN_CHECK_EQ(buf.size(), 2u);
                  if (buf.size() == 2) {
                    SCN_CHECK_EQ(buf[0].size(), 3u);
                    SCN_CHECK_EQ(buf[1].size(), 2u);
                  }
                  SCN_CHECK_EQ(w16[0]->currentLane, 0);
                  SCN_CHECK_EQ(w16[1]->currentLane, 1);
                });
                sc_core::sc_start(Ps(24000));
                SCN_CHECK(b.earlyLanes->changes.empty());
                SCN_CHECK_EQ(b.vaults[1]->arrivals.size(), 5u);
                SCN_CHECK_EQ(b.creditLanes->Positive(1).size(), 5u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(InterQuadIntake, QuadTwoNumbersItsPortsAndCreditLanesByQuad) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 2);
                auto toQuad3 = b.Packet(1, READ_REQUEST, 32, 13, 2);
                auto fromQuad0 = b.Packet(2, READ_REQUEST, 32, 9, 0);
                auto fromQuad3 = b.Packet(3, READ_REQUEST, 32, 10, 3);
                b.link->At(Ps(1600), 0, toQuad3[0]);
                b.neighbours[0]->At(Ps(1600), 0, fromQuad0[0]);
                b.neighbours[2]->At(Ps(1600), 0, fromQuad3[0]);
                sc_core::sc_start(Ps(16000));
                SCN_CHECK_EQ(b.receivers[2]->arrivals.size(), 1u);
                SCN_CHECK_EQ(b.lsw->destinationCredits[6], cfg.LSW_INTERQUAD_BUFFER_SIZE - 1);
                SCN_CHECK_EQ(b.vaults[1]->arrivals.size(), 1u);
                SCN_CHECK_EQ(b.vaults[2]->arrivals.size(), 1u);
                SCN_CHECK_EQ(b.creditLanes->Positive(0).size(), 1u);
                SCN_CHECK_EQ(b.creditLanes->Positive(3).size(), 1u);
                SCN_CHECK(b.creditLanes->Positive(1).empty());
                CheckChanges(b.creditLanes->Positive(2), {{8000, 1}});  // token to the own link
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(InterQuadIntake, MoreLinesThanTheInterquadBufferAreReported) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LSW_INTERQUAD_BUFFER_SIZE = 1;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.neighbours[0]->At(Ps(1600), 0, b.Packet(1, READ_REQUEST, 32, 0, 1)[0]);
                b.neighbours[0]->At(Ps(1600), 1, b.Packet(2, READ_REQUEST, 32, 1, 1)[0]);
                sc_core::sc_start(Ps(4000));
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - Link Switch 0 interquad buffer 1 exceeded max capacity");
}

TEST(InterQuadIntake, OtherTagBeforeTheTailEndsTheRunWithStatusOne) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.neighbours[2]->At(Ps(1600), 0, b.Packet(1, ATOMIC_ADD16, 16, 0, 3)[0]);
                b.neighbours[2]->At(Ps(3200), 0, b.Packet(2, READ_REQUEST, 32, 0, 3)[0]);
                sc_core::sc_start(Ps(6000));
              }),
              ::testing::ExitedWithCode(1),
              "== ERROR - Non-contiguous tag received from interquad in LSW0");
}

// ---------------------------------------------------------------------------
// Arbitration

TEST(Arbitration, Write64ToLocalVaultTakesOneCommandAndFourWriteCreditsTwoFlitsAPass) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w = b.Packet(1, WRITE_REQUEST, 64, 0, 0);
                LinkPacket(b, {w[0], w[1], w[2]}, Ps(1600));
                LinkPacket(b, {w[3], w[4]}, Ps(3200));
                // A read from quad 1 for the same vault, ready at 9600.
                auto r = b.Packet(2, READ_REQUEST, 32, 0, 1);
                b.neighbours[0]->At(Ps(1600), 0, r[0]);
                b.actions->At(Ps(8800), [&] {
                  SCN_CHECK_EQ(b.lsw->destinationCredits[0], 23u);
                  SCN_CHECK_EQ(b.lsw->writeDataCredits[0], 51u);
                  SCN_CHECK_EQ(b.lsw->destinationLocks[0], 0);
                });
                b.actions->At(Ps(12000), [&] {
                  SCN_CHECK_EQ(b.lsw->destinationCredits[0], 23u);
                  SCN_CHECK_EQ(b.lsw->writeDataCredits[0], 49u);
                  SCN_CHECK_EQ(b.lsw->destinationLocks[0], -1);
                });
                sc_core::sc_start(Ps(16000));
                const auto& a = b.vaults[0]->arrivals;
                SCN_CHECK_EQ(a.size(), 6u);
                if (a.size() == 6) {
                  CheckArrival(a[0], 8000, 0, w[0]);
                  CheckArrival(a[1], 8000, 1, w[1]);
                  CheckArrival(a[2], 9600, 0, w[2]);  // one line per destination per pass
                  CheckArrival(a[3], 11200, 0, w[3]);
                  CheckArrival(a[4], 11200, 1, w[4]);
                  CheckArrival(a[5], 12800, 0, r[0]);  // locked out until the tail has gone
                }
                SCN_CHECK_EQ(b.lsw->destinationCredits[0], 22u);
                SCN_CHECK_EQ(b.lsw->writeDataCredits[0], 49u);
                SCN_CHECK_EQ(stats.perLSWFlitBandwidth[0], 6u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, ReadWaitsWhileOnlyOneWriteDataCreditIsLeft) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.CREDIT_THROTTLE_VC = 0;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->writeDataCredits[0] = 1;
                auto r = b.Packet(1, READ_REQUEST, 64, 0, 0);
                b.link->At(Ps(1600), 0, r[0]);
                b.vaults[0]->GiveWriteCredits(Ps(16000), 1);
                sc_core::sc_start(Ps(24000));
                const auto& a = b.vaults[0]->arrivals;
                SCN_CHECK_EQ(a.size(), 1u);
                // Counted on arrival at 16000; the pass of that instant has already run.
                if (!a.empty()) CheckArrival(a[0], 17600, 0, r[0]);
                SCN_CHECK_EQ(b.lsw->writeDataCredits[0], 2u);
                SCN_CHECK_EQ(b.lsw->destinationCredits[0], cfg.TRANSACTION_Q_CAPACITY - 1);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, DestinationWithSevenCreditsIsThrottledForTheStall) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LSW_INPUT_DELAY = 2;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->destinationCredits[0] = 7;
                auto r0 = b.Packet(1, READ_REQUEST, 64, 0, 0);
                auto r1 = b.Packet(2, READ_REQUEST, 64, 1, 0);
                b.link->At(Ps(1600), 0, r0[0]);
                b.link->At(Ps(1600), 1, r1[0]);
                b.actions->At(Ps(4000), [&] {
                  SCN_CHECK(b.lsw->perDestThrottle[0]);
                  SCN_CHECK_EQ(b.lsw->perDestThrottleTime[0], Ps(3200 + 3 * 1600));
                  SCN_CHECK(!b.lsw->perDestThrottle[1]);
                });
                sc_core::sc_start(Ps(12000));
                SCN_CHECK_EQ(b.vaults[1]->arrivals.size(), 1u);
                SCN_CHECK_EQ(b.vaults[0]->arrivals.size(), 1u);
                if (!b.vaults[1]->arrivals.empty()) CheckArrival(b.vaults[1]->arrivals[0], 4800, 0, r1[0]);
                if (!b.vaults[0]->arrivals.empty()) CheckArrival(b.vaults[0]->arrivals[0], 8000, 0, r0[0]);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, ThrottleIsReleasedAsSoonAsCreditsReachTheThreshold) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.LSW_INPUT_DELAY = 2;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->destinationCredits[0] = 7;
                auto r0 = b.Packet(1, READ_REQUEST, 64, 0, 0);
                b.link->At(Ps(1600), 0, r0[0]);
                b.vaults[0]->GiveCommandCredit(Ps(4800));
                sc_core::sc_start(Ps(12000));
                SCN_CHECK_EQ(b.vaults[0]->arrivals.size(), 1u);
                if (!b.vaults[0]->arrivals.empty()) CheckArrival(b.vaults[0]->arrivals[0], 6400, 0, r0[0]);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, RemoteAtomicHoldsTheVaultAgainstAnOlderLocalLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto atomic = b.Packet(1, ATOMIC_ADD16, 16, 0, 1);
                b.neighbours[0]->At(Ps(1600), 0, atomic[0]);  // ready 9600
                b.neighbours[0]->At(Ps(8000), 0, atomic[1]);  // ready 16000
                auto r = b.Packet(2, READ_REQUEST, 64, 0, 0);
                b.link->At(Ps(4800), 0, r[0]);  // older than the tail's line, ready 11200
                b.actions->At(Ps(12000), [&] { SCN_CHECK_EQ(b.lsw->destinationLocks[0], 1); });
                sc_core::sc_start(Ps(24000));
                const auto& a = b.vaults[0]->arrivals;
                SCN_CHECK_EQ(a.size(), 3u);
                if (a.size() == 3) {
                  CheckArrival(a[0], 9600, 0, atomic[0]);
                  CheckArrival(a[1], 16000, 0, atomic[1]);
                  SCN_CHECK(a[2].flit == r[0]);
                  // Right after the tail: in the tail's pass behind it, or in the next pass.
                  SCN_CHECK((a[2].time == Ps(16000) && a[2].lane == 1) ||
                            (a[2].time == Ps(17600) && a[2].lane == 0));
                }
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, TopSourceKeepsFirstTurnWhileItHoldsAReadyTail) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.CREDIT_THROTTLE_VC = 0;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->destinationCredits[0] = 0;
                auto r = b.Packet(1, READ_REQUEST, 64, 0, 0);
                b.link->At(Ps(1600), 0, r[0]);  // ready, and its tail counted, at 8000
                b.vaults[0]->GiveCommandCredit(Ps(12800));
                std::vector<unsigned> seen;
                for (uint64_t t = 4000; t <= 16800; t += 1600)
                  b.actions->At(Ps(t), [&] { seen.push_back(b.lsw->sourceBufferRoundRobin); });
                sc_core::sc_start(Ps(18000));
                // Rotates while no source holds a ready tail; stays on the link's source
                // from 8000 until its tail leaves at 14400. Then nothing is buffered and
                // no pass runs, so it stays at 1.
                const std::vector<unsigned> want{1, 2, 3, 0, 0, 0, 0, 1, 1};
                SCN_CHECK(seen == want);
                SCN_CHECK_EQ(b.vaults[0]->arrivals.size(), 1u);
                if (!b.vaults[0]->arrivals.empty()) SCN_CHECK_EQ(b.vaults[0]->arrivals[0].time, Ps(14400));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Arbitration, RunOffTheClockEdgeIsReported) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 3);
                b.actions->At(Ps(800), [&] { b.lsw->queueEvent.notify(sc_core::SC_ZERO_TIME); });
                sc_core::sc_start(Ps(2000));
              }),
              ::testing::ExitedWithCode(0), "ERROR: off timing in LSW3 @ 800 ps");
}

// ---------------------------------------------------------------------------
// Credits and tokens

TEST(Tokens, FiveOwedGoAsPulsesOfThreeThenTwoAndLineCreditsOneAPulse) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.actions->At(Ps(3200), [&] {
                  b.lsw->returnCredits[0] = 5;
                  b.lsw->returnCredits[2] = 2;
                  b.lsw->tokenEvent.notify();
                });
                sc_core::sc_start(Ps(8000));
                CheckChanges(OnPort(b.creditLanes->changes, 0),
                             {{3200, 3}, {4000, 0}, {4800, 2}, {5600, 0}});
                CheckChanges(OnPort(b.creditLanes->changes, 2),
                             {{3200, 1}, {4000, 0}, {4800, 1}, {5600, 0}});
                SCN_CHECK_EQ(b.link->credits, static_cast<long>(cfg.TOKENS_PER_LINK) + 5);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Tokens, LineCreditsToEachOfThreeQuadsAtMostOnePerCycle) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                for (auto& v : b.vaults) v->autoReturn = true;
                unsigned tag = 1;
                for (unsigned k = 0; k < 3; ++k) {
                  const unsigned quad = k + 1;
                  for (unsigned j = 0; j < 3; ++j) {
                    b.neighbours[k]->At(Ps(1600), j, b.Packet(tag++, READ_REQUEST, 32, j, quad)[0]);
                    b.neighbours[k]->At(Ps(3200), j, b.Packet(tag++, READ_REQUEST, 32, (j + 3) % 4, quad)[0]);
                  }
                }
                sc_core::sc_start(Ps(60000));
                size_t delivered = 0;
                for (auto& v : b.vaults) delivered += v->arrivals.size();
                SCN_CHECK_EQ(delivered, 18u);
                for (unsigned q = 1; q < 4; ++q) {
                  const auto pulses = b.creditLanes->Positive(q);
                  SCN_CHECK_EQ(pulses.size(), 6u);
                  for (size_t i = 0; i < pulses.size(); ++i) {
                    SCN_CHECK_EQ(pulses[i].value, 1);
                    if (i > 0) SCN_CHECK(pulses[i].time - pulses[i - 1].time >= cfg.CORE_CLK);
                  }
                  SCN_CHECK_EQ(b.neighbours[q - 1]->credits, static_cast<long>(cfg.LSW_INTERQUAD_BUFFER_SIZE) + 6);
                }
                SCN_CHECK(b.earlyLanes->changes.empty());
                for (unsigned v = 0; v < 4; ++v)
                  SCN_CHECK_EQ(b.lsw->destinationCredits[v], cfg.TRANSACTION_Q_CAPACITY);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Credits, MoreThanCapacityFromAVaultIsReportedWithTheGlobalVaultNumber) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 1);
                b.vaults[0]->GiveCommandCredit(Ps(1600));
                b.vaults[1]->GiveWriteCredits(Ps(3200), 2);
                sc_core::sc_start(Ps(6000));
                SCN_CHECK_EQ(b.lsw->destinationCredits[0], cfg.TRANSACTION_Q_CAPACITY + 1);
                SCN_CHECK_EQ(b.lsw->writeDataCredits[1], cfg.DATA_Q_CAPACITY + 2);
              }),
              ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - LSW1 Received too many credits from VC4 \\[Now have : 25\\]\n"
              "=\\[3200 ps\\]= ERROR - LSW1 Received too many write credits from VC5\n");
}

TEST(Credits, LineCreditsCountAfterTheDelayAndEarlyCreditsAtOnce) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->destinationCredits[5] = 10;
                b.lsw->destinationCredits[6] = 10;
                std::vector<std::pair<uint64_t, unsigned>> seen;
                b.actions->At(Ps(1600), [&] {
                  b.creditIn[1].write(2);  // quad 2's line credits
                  b.earlyIn[2].write(3);   // quad 3's early credits
                });
                b.actions->At(Ps(2000), [&] {
                  SCN_CHECK_EQ(b.lsw->destinationCredits[5], 10u);
                  SCN_CHECK_EQ(b.lsw->destinationCredits[6], 13u);
                });
                b.actions->At(Ps(1600 + 6 * 1600 - 1), [&] { SCN_CHECK_EQ(b.lsw->destinationCredits[5], 10u); });
                b.actions->At(Ps(1600 + 6 * 1600 + 1), [&] { SCN_CHECK_EQ(b.lsw->destinationCredits[5], 12u); });
                sc_core::sc_start(Ps(16000));
              }),
              ::testing::ExitedWithCode(0), "");
}

// A credit that comes home at an edge counts before the arbitration of that
// edge: a line that waits for it leaves at that very edge, not one cycle later.
TEST(Credits, LineCreditCountedAtAnEdgeIsSpentAtThatEdge) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.CREDIT_THROTTLE_LSW = 0;  // no throttle: the line waits for the credit alone
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                b.lsw->destinationCredits[5] = 0;
                auto r = b.Packet(1, READ_REQUEST, 64, 8, 0);  // to quad 2, from the link
                b.link->At(Ps(1600), 0, r[0]);
                b.actions->At(Ps(1600), [&] { b.creditIn[1].write(1); });
                b.actions->At(Ps(2400), [&] { b.creditIn[1].write(0); });
                sc_core::sc_start(Ps(20000));
                SCN_CHECK_EQ(b.receivers[1]->arrivals.size(), 1u);
                if (!b.receivers[1]->arrivals.empty())
                  CheckArrival(b.receivers[1]->arrivals[0], 1600 + 6 * 1600, 0, r[0]);
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------

TEST(DumpState, PrintsCreditsOwedCountsAndEveryLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                LswBench b(cfg, stats, 0);
                auto w = b.Packet(7, WRITE_REQUEST, 32, 1, 0);
                LinkPacket(b, w, Ps(1600));
                auto r = b.Packet(8, READ_REQUEST, 16, 2, 3);
                b.neighbours[2]->At(Ps(1600), 0, r[0]);
                sc_core::sc_start(Ps(4000));
                std::ostringstream out;
                std::streambuf* old = std::cout.rdbuf(out.rdbuf());
                b.lsw->DumpState();
                std::cout.rdbuf(old);
                SCN_CHECK_EQ(out.str(),
                             std::string("== LSW0\n"
                                         "\t Destination Credits [[24,53], [24,53], [24,53], [24,53], 15, 15, 15, ]\n"
                                         "  Return Credits [0, 0, 0, 0, ]"
                                         "\t SourceBuffer 0 - 1 entries\n"
                                         "   == Line 0\n"
                                         "\t\t   [HEAD cmd:WR32 tag:7 addr:0x00000080 #:1 tokens:0\n"
                                         "\t\t         cmd:WR32 tag:7 addr:0x00000080 #:2 tokens:0\n"
                                         "\t\t         cmd:WR32 tag:7 addr:0x00000080 #:3 tokens:0 TAIL]\n"
                                         "\t SourceBuffer 1 - 0 entries\n"
                                         "\t SourceBuffer 2 - 0 entries\n"
                                         "\t SourceBuffer 3 - 1 entries\n"
                                         "   == Line 0\n"
                                         "\t\t   [HEAD cmd:RD16 tag:8 addr:0x00000100 #:1 tokens:0 TAIL]\n"));
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// A long random mix from the link and the three other quads.

namespace {

// Order keys: a global vault number, or this offset plus a quad number.
constexpr unsigned kQuadKey = 1000;

// Checks that a sink's arrivals are whole packets, never interleaved, that the
// lanes of each pass are used from 0 upward, and collects the packet order per
// (source, key).
void CheckStream(const std::vector<Arrival>& arrivals,
                 std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>>& order,
                 unsigned vaultsPerQuad, bool keyByQuad) {
  int open = -1;
  unsigned next = 1;
  for (size_t i = 0; i < arrivals.size(); ++i) {
    const Flit& f = *arrivals[i].flit;
    if (i == 0 || arrivals[i].time != arrivals[i - 1].time) SCN_CHECK_EQ(arrivals[i].lane, 0u);
    else SCN_CHECK_EQ(arrivals[i].lane, arrivals[i - 1].lane + 1);
    if (open == -1) {
      SCN_CHECK(f.header);
      open = static_cast<int>(f.tag);
      next = 1;
    }
    SCN_CHECK_EQ(static_cast<int>(f.tag), open);
    SCN_CHECK_EQ(f.flitNumber, next);
    ++next;
    if (f.tail) {
      const unsigned key = keyByQuad ? kQuadKey + f.destinationField / vaultsPerQuad : f.destinationField;
      order[{f.sourceLink, key}].push_back(f.tag);
      open = -1;
    }
  }
  SCN_CHECK_EQ(open, -1);
}

void RandomMix(unsigned id, unsigned pack, unsigned seed) {
  Config cfg;
  cfg.PACK_INTERQUAD = pack;
  cfg.TRANSACTION_Q_CAPACITY = 12;
  cfg.DATA_Q_CAPACITY = 24;
  cfg.LSW_INPUT_BUFFER_THRESHOLD = 12;
  StatsKeeper stats(cfg);
  std::ostringstream captured;
  std::streambuf* old = std::cout.rdbuf(captured.rdbuf());
  {
    LswBench b(cfg, stats, id);
    for (auto& v : b.vaults) {
      v->autoReturn = true;
      v->returnDelay = 15;
    }
    for (auto& r : b.receivers) r->autoReturn = true;

    std::mt19937 rng(seed);
    const QUORCommand commands[] = {READ_REQUEST, WRITE_REQUEST, P_WRITE_REQUEST, ATOMIC_ADD16,
                                    ATOMIC_P_BWR};
    std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>> expected;
    size_t totalFlits = 0;
    unsigned tag = 1;
    auto makePacket = [&](unsigned source, unsigned vault, bool keyByQuad) {
      const QUORCommand c = commands[rng() % 5];
      const unsigned len = IsAtomic(c) ? 16 : 16 * (1 + rng() % 8);
      auto p = b.Packet(tag, c, len, vault, source);
      const unsigned key = keyByQuad ? kQuadKey + vault / cfg.VAULTS_PER_QUAD : vault;
      expected[{source, key}].push_back(tag);
      ++tag;
      totalFlits += p.size();
      return p;
    };
    for (unsigned n = 0; n < 300; ++n) {
      const unsigned vault = rng() % cfg.NUM_VAULTS;
      const bool local = vault / cfg.VAULTS_PER_QUAD == id;
      b.link->Stream(makePacket(id, vault, !local));
    }
    for (unsigned k = 0; k < 3; ++k)
      for (unsigned n = 0; n < 150; ++n)
        b.neighbours[k]->Stream(
            makePacket(QuadOfInterQuadPort(k, id), id * cfg.VAULTS_PER_QUAD + rng() % 4, false));

    auto delivered = [&] {
      size_t n = 0;
      for (auto& v : b.vaults) n += v->arrivals.size();
      for (auto& r : b.receivers) n += r->arrivals.size();
      return n;
    };
    while (delivered() < totalFlits && sc_core::sc_time_stamp() < Ps(2000000000))
      sc_core::sc_start(Ps(20000000));
    sc_core::sc_start(Ps(200000));  // let the last credits come home
    std::cout.rdbuf(old);
    if (captured.str().find("ERROR") != std::string::npos) std::cout << captured.str();
    SCN_CHECK(captured.str().find("ERROR") == std::string::npos);

    SCN_CHECK_EQ(delivered(), totalFlits);
    std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>> order;
    for (auto& v : b.vaults) CheckStream(v->arrivals, order, cfg.VAULTS_PER_QUAD, false);
    for (unsigned k = 0; k < 3; ++k) {
      CheckStream(b.receivers[k]->arrivals, order, cfg.VAULTS_PER_QUAD, true);
      for (const Arrival& a : b.receivers[k]->arrivals)
        SCN_CHECK_EQ(a.flit->destinationField / cfg.VAULTS_PER_QUAD, QuadOfInterQuadPort(k, id));
    }
    for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v)
      for (const Arrival& a : b.vaults[v]->arrivals)
        SCN_CHECK_EQ(a.flit->destinationField, id * cfg.VAULTS_PER_QUAD + v);
    SCN_CHECK(order == expected);
    for (auto& [key, tags] : expected) {
      if (order[key] == tags) continue;
      std::cout << "order " << key.first << "," << key.second << ":";
      for (unsigned t : order[key]) std::cout << " " << t;
      std::cout << "\n want:";
      for (unsigned t : tags) std::cout << " " << t;
      std::cout << std::endl;
    }

    for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v) {
      SCN_CHECK_EQ(b.lsw->destinationCredits[v], cfg.TRANSACTION_Q_CAPACITY);
      SCN_CHECK_EQ(b.lsw->writeDataCredits[v], cfg.DATA_Q_CAPACITY);
    }
    for (unsigned d = cfg.VAULTS_PER_QUAD; d < b.lsw->NumDestinations(); ++d)
      SCN_CHECK_EQ(b.lsw->destinationCredits[d], cfg.LSW_INTERQUAD_BUFFER_SIZE);
    for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) {
      SCN_CHECK_EQ(b.lsw->returnCredits[q], 0u);
      SCN_CHECK(b.lsw->sourceBuffers[q].empty());
    }
    for (int lock : b.lsw->destinationLocks) SCN_CHECK_EQ(lock, -1);
    SCN_CHECK_EQ(b.link->credits, static_cast<long>(cfg.TOKENS_PER_LINK));
    for (auto& n : b.neighbours) SCN_CHECK_EQ(n->credits, static_cast<long>(cfg.LSW_INTERQUAD_BUFFER_SIZE));
    SCN_CHECK(!b.busy.read());
    SCN_CHECK(!b.busyLine->changes.empty());  // the threshold was crossed on the way
  }
}

} // namespace

TEST(RandomMix, EveryPacketArrivesWholeAndInOrderAndAllCreditsComeHome) {
  EXPECT_EXIT(RunScenario([] { RandomMix(0, 0, 11); }), ::testing::ExitedWithCode(0), "");
}

TEST(RandomMix, QuadTwoWithPackingDrainsAsWell) {
  EXPECT_EXIT(RunScenario([] { RandomMix(2, 1, 23); }), ::testing::ExitedWithCode(0), "");
}
