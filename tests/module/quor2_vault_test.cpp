// The vault DRAM model between a scripted controller stand-in: what it reports
// for each command, when read data comes back, and how bank timing moves.
#include "doubles/vault_doubles.h"
#include "support/scenario.h"

#include "quor2_vault.h"

#include <gtest/gtest.h>

using namespace Orvane::Internal::QUOR2;
using quortest::CoutCapture;
using quortest::Ns;
using quortest::Ps;
using quortest::RunScenario;
using quortest::VaultBench;
using sc_core::sc_time;

namespace {

constexpr unsigned kVault = 2;

DRAMBusPacket Pkt(DRAMCommand c, unsigned part, unsigned bank, unsigned row, unsigned col = 0,
                  unsigned tag = 1) {
  return DRAMBusPacket(c, part, bank, row, col, tag, sc_core::SC_ZERO_TIME);
}

// Runs the bench for `length` and returns every line the model printed.
std::string RunCaptured(const sc_time& length) {
  CoutCapture capture;
  sc_core::sc_start(length);
  return capture.str();
}

std::string Text(const DRAMBusPacket& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

} // namespace

// ---------------------------------------------------------------------------
// Legal traffic

TEST(VaultLegalSequence, ActivateReadReadPrechargeActivateAtTheirEarliestPrintsNothing) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                // ACT 10; READs at +tRCDr and +tCCD; PRE at ACT+tRAS (the latest of
                // its bounds); ACT again at PRE+tRP = first ACT+tRC.
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 1, 5, 0, 7));
                bench.CommandSeenAt(Ns(23.6), Pkt(READ, 0, 1, 5, 2, 7));
                bench.CommandSeenAt(Ns(26.8), Pkt(READ, 0, 1, 5, 4, 7));
                bench.CommandSeenAt(Ns(32.4), Pkt(PRECHARGE, 0, 1, 5, 0, 7));
                bench.CommandSeenAt(Ns(45.2), Pkt(ACTIVATE, 0, 1, 6, 0, 8));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out, std::string());
                const auto& rx = bench.driver.received;
                SCN_CHECK_EQ(rx.size(), 4u);
                if (rx.size() == 4) {
                  // tAA + tAC = 11.8 ns after each READ, the second half a core cycle later.
                  SCN_CHECK_EQ(rx[0].time, Ns(35.4));
                  SCN_CHECK_EQ(rx[1].time, Ns(37.0));
                  SCN_CHECK_EQ(rx[2].time, Ns(38.6));
                  SCN_CHECK_EQ(rx[3].time, Ns(40.2));
                  SCN_CHECK_EQ(Text(rx[0].packet), "DATA prt:0 bnk:1 row:5 col:2 (1) tag:7");
                  SCN_CHECK_EQ(Text(rx[1].packet), "DATA prt:0 bnk:1 row:5 col:2 (0) tag:7");
                  SCN_CHECK_EQ(Text(rx[2].packet), "DATA prt:0 bnk:1 row:5 col:4 (1) tag:7");
                  SCN_CHECK_EQ(Text(rx[3].packet), "DATA prt:0 bnk:1 row:5 col:4 (0) tag:7");
                }
                SCN_CHECK_EQ(stats.perVaultTSVUse[kVault], Ns(6.4));
                SCN_CHECK_EQ(bench.vault.banks[0][1]->currentBankState, ROW_ACTIVE);
                SCN_CHECK_EQ(bench.vault.banks[0][1]->openRow, 6u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultLegalSequence, WriteAtTRCDwAndPrechargeAfterWriteRecoveryPrintNothing) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 1, 3, 9));
                bench.CommandSeenAt(Ns(17.2), Pkt(WRITE, 1, 3, 9));  // +tRCDw
                bench.CommandSeenAt(Ns(20.4), Pkt(WRITE, 1, 3, 9, 2)); // +tCCD
                // tWL + BL + tWR = 26.8 ns after the last write.
                bench.CommandSeenAt(Ns(47.2), Pkt(PRECHARGE, 1, 3, 9));
                bench.driver.writeData.push_back({Ns(18), Pkt(DATA, 1, 3, 9)});
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out, std::string());
                SCN_CHECK(bench.driver.received.empty());
                SCN_CHECK_EQ(stats.perVaultTSVUse[kVault], sc_core::SC_ZERO_TIME);
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Reads

TEST(VaultRead, WrongRowPrintsOneLineAndStillReturnsTwoDataPackets) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 1, 5, 0, 7));
                bench.CommandSeenAt(Ns(23.6), Pkt(READ, 0, 1, 6, 3, 7));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out, "=[23600 ps]= ERROR - Received READ prt:0 bnk:1 row:6 col:3 "
                                  "tag:7 in Vault 2 when we shouldn't have\n");
                const auto& rx = bench.driver.received;
                SCN_CHECK_EQ(rx.size(), 2u);
                if (rx.size() == 2) {
                  SCN_CHECK_EQ(rx[0].time, Ns(23.6) + cfg.tAA + cfg.tAC);
                  SCN_CHECK_EQ(rx[1].time, Ns(23.6) + cfg.tAA + cfg.tAC + cfg.CORE_CLK);
                  SCN_CHECK_EQ(rx[0].packet.command, DATA);
                  SCN_CHECK(rx[0].packet.even);
                  SCN_CHECK_EQ(rx[1].packet.command, DATA);
                  SCN_CHECK(!rx[1].packet.even);
                  SCN_CHECK_EQ(rx[1].packet.row, 6u);
                }
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultRead, IdleBankAndTooEarlyEachGiveOneLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(READ, 1, 0, 0)); // bank idle
                bench.CommandSeenAt(Ns(20), Pkt(ACTIVATE, 0, 1, 5));
                // nextRead = 20 + tRCDr = 33.6 ns.
                bench.CommandSeenAt(Ns(33.6) - Ps(1), Pkt(READ, 0, 1, 5));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[10 ns]= ERROR - Received READ prt:1 bnk:0 row:0 col:0 tag:1 in "
                             "Vault 2 when we shouldn't have\n"
                             "=[33599 ps]= ERROR - Received READ prt:0 bnk:1 row:5 col:0 tag:1 "
                             "in Vault 2 when we shouldn't have\n");
                SCN_CHECK_EQ(bench.driver.received.size(), 4u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultRead, OtherPartitionWaitsTRTR2DPlusTCCDAtTheBoundary) {
  for (int early : {1, 0}) {
    EXPECT_EXIT(RunScenario([early] {
                  Config cfg;
                  StatsKeeper stats(cfg);
                  VaultBench bench(cfg, stats, kVault);
                  bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                  bench.CommandSeenAt(Ns(10.8), Pkt(ACTIVATE, 1, 0, 5));
                  bench.CommandSeenAt(Ns(24.4), Pkt(READ, 0, 0, 5));
                  // 24.4 + tRTR2D + tCCD = 29.2 ns.
                  bench.CommandSeenAt(Ns(29.2) - Ps(early), Pkt(READ, 1, 0, 5));
                  const std::string out = RunCaptured(Ns(100));
                  if (early)
                    SCN_CHECK_EQ(out, "=[29199 ps]= ERROR - Received READ prt:1 bnk:0 row:5 "
                                      "col:0 tag:1 in Vault 2 when we shouldn't have\n");
                  else
                    SCN_CHECK_EQ(out, std::string());
                }),
                ::testing::ExitedWithCode(0), "")
        << "early=" << early;
  }
}

TEST(VaultRead, EachDataPacketAddsOneCoreClockToTsvUse) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.CORE_CLK = Ns(2.0); // differs from BL (3.2 ns) and from tCMD
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 2, 1));
                bench.CommandSeenAt(Ns(23.6), Pkt(READ, 0, 2, 1));
                bench.CommandSeenAt(Ns(26.8), Pkt(READ, 0, 2, 1, 2));
                bench.CommandSeenAt(Ns(30.0), Pkt(READ, 0, 2, 1, 4));
                // After the first packet only one core clock has been added.
                bench.ProbeAt(Ns(35.4), [&] {
                  SCN_CHECK_EQ(stats.perVaultTSVUse[kVault], Ns(2.0));
                });
                RunCaptured(Ns(100));
                SCN_CHECK_EQ(bench.driver.received.size(), 6u);
                SCN_CHECK_EQ(stats.perVaultTSVUse[kVault], Ns(12.0));
                SCN_CHECK_EQ(stats.perVaultTSVUse[kVault ^ 1], sc_core::SC_ZERO_TIME);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultRead, OverlappingReadsLeaveInArrivalOrderOnePerNotification) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                bench.CommandSeenAt(Ns(10.8), Pkt(ACTIVATE, 1, 0, 5));
                bench.CommandSeenAt(Ns(30), Pkt(READ, 0, 0, 5, 0, 1));
                // Another partition, 0.8 ns later: reported (tRTR2D) but still returned.
                bench.CommandSeenAt(Ns(30.8), Pkt(READ, 1, 0, 5, 0, 2));
                RunCaptured(Ns(100));
                const auto& rx = bench.driver.received;
                SCN_CHECK_EQ(rx.size(), 4u);
                if (rx.size() == 4) {
                  SCN_CHECK_EQ(rx[0].time, Ns(41.8));
                  SCN_CHECK_EQ(rx[1].time, Ns(42.6));
                  SCN_CHECK_EQ(rx[2].time, Ns(43.4));
                  SCN_CHECK_EQ(rx[3].time, Ns(44.2));
                  SCN_CHECK(rx[0].packet.tag == 1 && rx[0].packet.even);
                  SCN_CHECK(rx[1].packet.tag == 1 && !rx[1].packet.even);
                  SCN_CHECK(rx[2].packet.tag == 2 && rx[2].packet.even);
                  SCN_CHECK(rx[3].packet.tag == 2 && !rx[3].packet.even);
                }
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Writes

TEST(VaultWrite, IdleBankWrongRowTooEarlyPrintsThreeLinesInOrder) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                // A write to partition 1 (idle bank, matching row 0: one line) raises
                // nextWrite of every bank of every partition to 10 + tCCD.
                bench.CommandSeenAt(Ns(10), Pkt(WRITE, 1, 0, 0));
                bench.CommandSeenAt(Ns(10.8), Pkt(WRITE, 0, 2, 7, 1, 4));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[10 ns]= ERROR - Received WRITE prt:1 bnk:0 row:0 col:0 tag:1 in "
                             "Vault 2 - ROW NOT OPEN\n"
                             "=[10800 ps]= ERROR - Received WRITE prt:0 bnk:2 row:7 col:1 tag:4 "
                             "in Vault 2 - ROW NOT OPEN\n"
                             "=[10800 ps]= ERROR - Received WRITE prt:0 bnk:2 row:7 col:1 tag:4 "
                             "in Vault 2 - WRONG ROW\n"
                             "=[10800 ps]= ERROR - Received WRITE prt:0 bnk:2 row:7 col:1 tag:4 "
                             "in Vault 2 - TOO EARLY (next is 13200 ps)\n");
                SCN_CHECK(bench.driver.received.empty());
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultWrite, ReadAfterWriteWaitsSameAndDifferentPartitionTurnarounds) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                bench.CommandSeenAt(Ns(10.8), Pkt(ACTIVATE, 1, 0, 5));
                bench.CommandSeenAt(Ns(30), Pkt(WRITE, 0, 0, 5));
                bench.ProbeAt(Ns(31), [&] {
                  auto& b = bench.vault.banks;
                  // Same partition: WR_TO_RD_SAME = 19.2 ns; other: WR_TO_RD_DIFF = 4.8 ns.
                  SCN_CHECK_EQ(b[0][0]->nextRead, Ns(49.2));
                  SCN_CHECK_EQ(b[0][3]->nextRead, Ns(49.2));
                  SCN_CHECK_EQ(b[1][0]->nextRead, Ns(34.8));
                  SCN_CHECK_EQ(b[1][2]->nextRead, Ns(34.8));
                  SCN_CHECK_EQ(b[0][0]->nextWrite, Ns(33.2));
                  SCN_CHECK_EQ(b[1][1]->nextWrite, Ns(33.2));
                  SCN_CHECK_EQ(b[0][0]->lastCommand, WRITE);
                  SCN_CHECK_EQ(b[0][0]->nextPre, Ns(30) + cfg.tWL + cfg.BL + cfg.tWR);
                });
                bench.CommandSeenAt(Ns(34.8) - Ps(1), Pkt(READ, 1, 0, 5));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out, "=[34799 ps]= ERROR - Received READ prt:1 bnk:0 row:5 col:0 "
                                  "tag:1 in Vault 2 when we shouldn't have\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Activates and precharges

TEST(VaultPrecharge, AfterActivateWithoutColumnCommandPrintsPairAndStillPrecharges) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 1, 5));
                bench.CommandSeenAt(Ns(40), Pkt(PRECHARGE, 0, 1, 5));
                // Idle from 40 + tRP = 52.8 ns.
                bench.ProbeAt(Ns(52.8) - Ps(1), [&] {
                  SCN_CHECK_EQ(bench.vault.banks[0][1]->currentBankState, PRECHARGING);
                  SCN_CHECK_EQ(bench.vault.banks[0][1]->lastCommand, PRECHARGE);
                });
                bench.ProbeAt(Ns(52.8), [&] {
                  SCN_CHECK_EQ(bench.vault.banks[0][1]->currentBankState, IDLE);
                  SCN_CHECK(!bench.vault.banks[0][1]->bankInUse);
                });
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[40 ns]= ERROR - Received PRE prt:0 bnk:1 row:5 col:0 tag:1 in "
                             "Vault 2 when we shouldn't have\n"
                             " Last command was not read or write - last command was : 0\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultPrecharge, ToAnInactiveBankPrintsItsState) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(PRECHARGE, 1, 2, 0));
                // The bank is now precharging (state 1).
                bench.CommandSeenAt(Ns(11.6), Pkt(PRECHARGE, 1, 2, 0, 0, 2));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[10 ns]= ERROR - Received PRE prt:1 bnk:2 row:0 col:0 tag:1 in "
                             "Vault 2 when we shouldn't have\n"
                             "Bank not active - current state : 3\n"
                             "=[11600 ps]= ERROR - Received PRE prt:1 bnk:2 row:0 col:0 tag:2 in "
                             "Vault 2 when we shouldn't have\n"
                             "Bank not active - current state : 1\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultPrecharge, AfterReadBeforeNextPrePrintsTheDeadline) {
  for (int early : {1, 0}) {
    EXPECT_EXIT(RunScenario([early] {
                  Config cfg;
                  StatsKeeper stats(cfg);
                  VaultBench bench(cfg, stats, kVault);
                  bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                  bench.CommandSeenAt(Ns(30), Pkt(READ, 0, 0, 5));
                  // nextPre = max(10 + tRAS, 30 + tRTP) = 34 ns.
                  bench.CommandSeenAt(Ns(34) - Ps(early), Pkt(PRECHARGE, 0, 0, 5));
                  const std::string out = RunCaptured(Ns(100));
                  if (early)
                    SCN_CHECK_EQ(out, "=[33999 ps]= ERROR - Received PRE prt:0 bnk:0 row:5 col:0 "
                                      "tag:1 in Vault 2 when we shouldn't have\nnext:34 ns\n");
                  else
                    SCN_CHECK_EQ(out, std::string());
                }),
                ::testing::ExitedWithCode(0), "")
        << "early=" << early;
  }
}

TEST(VaultActivate, AfterPrechargeReportedBeforeTRPAndLegalAt) {
  for (int early : {1, 0}) {
    EXPECT_EXIT(RunScenario([early] {
                  Config cfg;
                  StatsKeeper stats(cfg);
                  VaultBench bench(cfg, stats, kVault);
                  bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 3, 5));
                  bench.CommandSeenAt(Ns(30), Pkt(READ, 0, 3, 5));
                  bench.CommandSeenAt(Ns(40), Pkt(PRECHARGE, 0, 3, 5));
                  // max(40 + tRP, 40 + tAPA, 10 + tRC) = 52.8 ns.
                  bench.CommandSeenAt(Ns(52.8) - Ps(early), Pkt(ACTIVATE, 0, 3, 6));
                  const std::string out = RunCaptured(Ns(100));
                  // The early activate is still applied, so the end of the precharge
                  // then finds the bank active.
                  if (early)
                    SCN_CHECK_EQ(out, "=[52799 ps]= ERROR - Received ACT prt:0 bnk:3 row:6 col:0 "
                                      "tag:1 in Vault 2 when we shouldn't have\n"
                                      "== ERROR - In vault.v_bank03 updating bankState from wrong "
                                      "state - Last command : 0\tCurrent State : 0\n");
                  else
                    SCN_CHECK_EQ(out, std::string());
                  SCN_CHECK_EQ(bench.vault.banks[0][3]->currentBankState, ROW_ACTIVE);
                  SCN_CHECK_EQ(bench.vault.banks[0][3]->openRow, 6u);
                }),
                ::testing::ExitedWithCode(0), "")
        << "early=" << early;
  }
}

TEST(VaultActivate, AfterPrechargeWaitsTAPAWhenItExceedsTRP) {
  for (int early : {1, 0}) {
    EXPECT_EXIT(RunScenario([early] {
                  Config cfg;
                  cfg.tAPA = Ns(20);
                  StatsKeeper stats(cfg);
                  VaultBench bench(cfg, stats, kVault);
                  bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 3, 5));
                  bench.CommandSeenAt(Ns(30), Pkt(READ, 0, 3, 5));
                  bench.CommandSeenAt(Ns(40), Pkt(PRECHARGE, 0, 3, 5));
                  // Bank idle at 52.8 ns, but the partition waits until 40 + tAPA = 60 ns.
                  bench.CommandSeenAt(Ns(60) - Ps(early), Pkt(ACTIVATE, 0, 3, 6));
                  const std::string out = RunCaptured(Ns(100));
                  if (early)
                    SCN_CHECK_EQ(out, "=[59999 ps]= ERROR - Received ACT prt:0 bnk:3 row:6 col:0 "
                                      "tag:1 in Vault 2 when we shouldn't have\n");
                  else
                    SCN_CHECK_EQ(out, std::string());
                }),
                ::testing::ExitedWithCode(0), "")
        << "early=" << early;
  }
}

TEST(VaultActivate, ToActiveBankOrBeforeTRRDIsReported) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                bench.CommandSeenAt(Ns(11), Pkt(ACTIVATE, 0, 0, 6)); // active
                // Same partition, other bank: nextAct raised to 11 + tRRD = 14.2 ns.
                bench.CommandSeenAt(Ns(14.2) - Ps(1), Pkt(ACTIVATE, 0, 1, 6));
                // ... and then to 14.199 + tRRD, which is legal exactly.
                bench.CommandSeenAt(Ns(17.4) - Ps(1), Pkt(ACTIVATE, 0, 2, 6));
                // Another partition is not held back.
                bench.CommandSeenAt(Ns(18.2), Pkt(ACTIVATE, 1, 0, 6));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[11 ns]= ERROR - Received ACT prt:0 bnk:0 row:6 col:0 tag:1 in "
                             "Vault 2 when we shouldn't have\n"
                             "=[14199 ps]= ERROR - Received ACT prt:0 bnk:1 row:6 col:0 tag:1 in "
                             "Vault 2 when we shouldn't have\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultActivate, SetsTargetTimingAndRaisesThePartition) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 1, 2, 77));
                bench.ProbeAt(Ns(11), [&] {
                  const quor2_bank& t = *bench.vault.banks[1][2];
                  SCN_CHECK_EQ(t.currentBankState, ROW_ACTIVE);
                  SCN_CHECK_EQ(t.lastCommand, ACTIVATE);
                  SCN_CHECK_EQ(t.openRow, 77u);
                  SCN_CHECK_EQ(t.nextAct, Ns(10) + cfg.tRC);
                  SCN_CHECK_EQ(t.nextPre, Ns(10) + cfg.tRAS);
                  SCN_CHECK_EQ(t.nextRef, Ns(10) + cfg.tRC);
                  SCN_CHECK_EQ(t.nextRead, Ns(10) + cfg.tRCDr);
                  SCN_CHECK_EQ(t.nextWrite, Ns(10) + cfg.tRCDw);
                  const quor2_bank& n = *bench.vault.banks[1][0];
                  SCN_CHECK_EQ(n.nextAct, Ns(10) + cfg.tRRD);
                  SCN_CHECK_EQ(n.nextPre, Ns(10) + cfg.tAPA);
                  SCN_CHECK_EQ(n.currentBankState, IDLE);
                  const quor2_bank& o = *bench.vault.banks[0][2];
                  SCN_CHECK_EQ(o.nextAct, sc_core::SC_ZERO_TIME);
                  SCN_CHECK_EQ(o.nextPre, sc_core::SC_ZERO_TIME);
                });
                RunCaptured(Ns(20));
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Refresh and unknown packets

TEST(VaultRefresh, ToActiveBankPrintsBothMessages) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 1, 3, 5));
                bench.CommandSeenAt(Ns(20), Pkt(REFRESH, 1, 3, 0, 0, 0xFFFFFFFF));
                bench.ProbeAt(Ns(21), [&] {
                  SCN_CHECK_EQ(bench.vault.banks[1][3]->currentBankState, REFRESHING);
                });
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[20 ns]= ERROR - Received refresh for partition 1 bank 3 in Vault 2 "
                             "when bank not idle\n"
                             "\t\t State : 0\n"
                             "=[20 ns]= ERROR - Received refresh before we should have in Vault "
                             "2\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultRefresh, IdleBankRefreshesSilentlyAndIsIdleAgainAfterTRC) {
  for (int early : {1, 0}) {
    EXPECT_EXIT(RunScenario([early] {
                  Config cfg;
                  StatsKeeper stats(cfg);
                  VaultBench bench(cfg, stats, kVault);
                  bench.CommandSeenAt(Ns(10), Pkt(REFRESH, 0, 0, 0, 0, 0xFFFFFFFF));
                  // Idle and activatable again from 10 + tRC = 45.2 ns.
                  bench.ProbeAt(Ns(45.2) - Ps(2), [&] {
                    SCN_CHECK_EQ(bench.vault.banks[0][0]->currentBankState, REFRESHING);
                  });
                  bench.CommandSeenAt(Ns(45.2) - Ps(early), Pkt(ACTIVATE, 0, 0, 4));
                  const std::string out = RunCaptured(Ns(100));
                  if (early)
                    SCN_CHECK_EQ(out, "=[45199 ps]= ERROR - Received ACT prt:0 bnk:0 row:4 col:0 "
                                      "tag:1 in Vault 2 when we shouldn't have\n"
                                      "== ERROR - In vault.v_bank00 updating bankState from wrong "
                                      "state - Last command : 0\tCurrent State : 0\n");
                  else
                    SCN_CHECK_EQ(out, std::string());
                }),
                ::testing::ExitedWithCode(0), "")
        << "early=" << early;
  }
}

TEST(VaultRefresh, BeforeNextRefAfterPrechargeIsReported) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 1, 5));
                bench.CommandSeenAt(Ns(30), Pkt(READ, 0, 1, 5));
                bench.CommandSeenAt(Ns(40), Pkt(PRECHARGE, 0, 1, 5));
                // The precharge raised nextRef from 10 + tRC to 40 + tRP = 52.8 ns, when
                // the bank also becomes idle: 1 ps earlier is both not idle and early.
                bench.CommandSeenAt(Ns(52.8) - Ps(1), Pkt(REFRESH, 0, 1, 0, 0, 0xFFFFFFFF));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[52799 ps]= ERROR - Received refresh for partition 0 bank 1 in "
                             "Vault 2 when bank not idle\n"
                             "\t\t State : 1\n"
                             "=[52799 ps]= ERROR - Received refresh before we should have in "
                             "Vault 2\n");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(VaultUnknownPacket, DataOnTheCommandBusIsReportedAndIgnored) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(DATA, 0, 1, 2, 3, 4));
                DRAMBusPacket odd = Pkt(ACTIVATE, 0, 1, 2);
                odd.command = static_cast<DRAMCommand>(7);
                bench.CommandSeenAt(Ns(20), odd);
                // A bank the vault does not have: reported the same way, nothing applied.
                bench.CommandSeenAt(Ns(30), Pkt(ACTIVATE, 2, 0, 2));
                const std::string out = RunCaptured(Ns(100));
                SCN_CHECK_EQ(out,
                             "=[10 ns]= ERROR - Received unknown packet - DATA prt:0 bnk:1 row:2 "
                             "col:3 (1) tag:4\n"
                             "=[20 ns]= ERROR - Received unknown packet - EVEN BIGGER "
                             "ERROR!!!!!!!!!!!!!!!!!!!\n\n"
                             "=[30 ns]= ERROR - Received unknown packet - ACT prt:2 bnk:0 row:2 "
                             "col:0 tag:1\n");
                SCN_CHECK(bench.driver.received.empty());
                SCN_CHECK_EQ(bench.vault.banks[0][1]->currentBankState, IDLE);
                SCN_CHECK_EQ(bench.vault.banks[0][1]->lastCommand, DATA);
              }),
              ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Structure

TEST(VaultStructure, BanksArePartitionMajorAndNamedWithoutSeparator) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                cfg.NUM_PARTITIONS = 4;
                cfg.NUM_BANKS = 2;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, 5);
                SCN_CHECK_EQ(bench.vault.banks.size(), 4u);
                SCN_CHECK_EQ(bench.vault.banks[3].size(), 2u);
                SCN_CHECK_EQ(std::string(bench.vault.banks[3][1]->name()), "vault.v_bank31");
                SCN_CHECK_EQ(std::string(bench.vault.banks[0][0]->basename()), "v_bank00");
                SCN_CHECK_EQ(std::string(bench.vault.tsvCommandBus.basename()), "tsvCommandBus");
                SCN_CHECK_EQ(std::string(bench.vault.tsvDataIn.basename()), "tsvDataIn");
                SCN_CHECK_EQ(std::string(bench.vault.tsvDataOut.basename()), "tsvDataOut");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(BankStates, StateChangeFromWrongStateIsReportedAndChangesNothing) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                VaultBench bench(cfg, stats, kVault);
                bench.CommandSeenAt(Ns(10), Pkt(ACTIVATE, 0, 0, 5));
                bench.ProbeAt(Ns(11), [&] { bench.vault.banks[0][0]->stateChangeEvent.notify(); });
                const std::string out = RunCaptured(Ns(20));
                SCN_CHECK_EQ(out, "== ERROR - In vault.v_bank00 updating bankState from wrong "
                                  "state - Last command : 0\tCurrent State : 0\n");
                SCN_CHECK_EQ(bench.vault.banks[0][0]->currentBankState, ROW_ACTIVE);
              }),
              ::testing::ExitedWithCode(0), "");
}
