// One vault controller between a link-switch double, a DRAM double and a
// vault-switch double; each scenario runs in its own child process.
#include "doubles/vault_controller_doubles.h"
#include "support/scenario.h"

#include "quor2_clock.h"
#include "quor2_vault_controller.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace Orvane::Internal::QUOR2;
using quortest::DramRecord;
using quortest::ReceivedFlit;
using quortest::VcBench;
using sc_core::sc_time;
using sc_core::SC_NS;

namespace {

sc_time Ps(uint64_t ps) { return sc_time::from_value(ps); }

// An address of the default vault geometry (16-byte units, 128-byte blocks).
uint64_t Addr(unsigned partition, unsigned bank, unsigned row, unsigned col) {
  return uint64_t{col & 7u} << 4 | uint64_t{col >> 3} << 14 | uint64_t{bank} << 11 |
         uint64_t{partition} << 13 | uint64_t{row} << 17;
}

std::vector<ReceivedFlit> FlitsOf(const VcBench& b, unsigned tag) {
  std::vector<ReceivedFlit> out;
  for (const auto& r : b.vsw.received)
    if (r.flit.tag == tag) out.push_back(r);
  return out;
}

std::vector<DramRecord> Only(const std::vector<DramRecord>& records, DRAMCommand c) {
  std::vector<DramRecord> out;
  for (const auto& r : records)
    if (r.packet.command == c) out.push_back(r);
  return out;
}

// The time the response step for a read-data packet sent at `dataTime` runs:
// taken one cycle after it appears, answered MI_OUT_DELAY cycles from the edge.
sc_time ResponseStepTime(const Config& cfg, const sc_time& dataTime) {
  const sc_time taken = dataTime + cfg.CORE_CLK;
  return taken + CyclesFromEdge(taken, cfg.CORE_CLK, cfg.MI_OUT_DELAY);
}

void NoRefresh(Config& cfg) { cfg.REFRESH_ENABLED = false; }

} // namespace

// ---------------------------------------------------------------- admission

TEST(VaultControllerAdmission, ColumnAccessCountsFollowSizeAndParity) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 4), 64);  // even column
    b.lsw.Send(2, READ_REQUEST, 2, Addr(0, 1, 1, 5), 64);  // odd column
    b.lsw.Send(3, READ_REQUEST, 3, Addr(1, 0, 1, 6), 48);
    b.lsw.Send(4, READ_REQUEST, 4, Addr(1, 1, 1, 3), 48);
    sc_core::sc_start(1, sc_core::SC_US);

    const unsigned expectedReads[] = {2, 3, 2, 2};
    const unsigned firstCol[] = {4, 5, 6, 3};
    for (unsigned tag = 1; tag <= 4; ++tag) {
      const auto cmds = b.dram.CommandsOf(tag);
      const unsigned n = expectedReads[tag - 1];
      SCN_CHECK_EQ(cmds.size(), n + 2);
      SCN_CHECK_EQ(cmds.front().packet.command, ACTIVATE);
      for (unsigned k = 0; k < n; ++k) {
        SCN_CHECK_EQ(cmds[k + 1].packet.command, READ);
        SCN_CHECK_EQ(cmds[k + 1].packet.col, firstCol[tag - 1] + k);
      }
      SCN_CHECK_EQ(cmds.back().packet.command, PRECHARGE);
      SCN_CHECK_EQ(cmds.back().packet.col, firstCol[tag - 1] + n);
      SCN_CHECK_EQ(FlitsOf(b, tag).size(), tag <= 2 ? 5u : 4u);
    }
    SCN_CHECK_EQ(stats.perVaultReads[0], 4u);
    SCN_CHECK_EQ(stats.perVaultCASs[0], 9u);
    SCN_CHECK_EQ(stats.perVaultPerBankCounters[0][0], 1u);
    SCN_CHECK_EQ(stats.perVaultPerBankCounters[0][5], 1u);
    SCN_CHECK_EQ(stats.perVaultDataCount[0], 64u + 64 + 48 + 48);
    SCN_CHECK_EQ(b.vc.responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
    SCN_CHECK(b.vc.pendingReads.empty());
    SCN_CHECK_EQ(b.vc.requestQueueCount, 0u);
    SCN_CHECK_EQ(b.dram.CountOf(kRefreshTag, ACTIVATE), 0u);
    // One command credit per transaction, each true for half a cycle.
    const auto credits = b.lsw.commandCreditChanges;
    SCN_CHECK_EQ(credits.size(), 8u);
    for (size_t i = 0; i + 1 < credits.size(); i += 2) {
      SCN_CHECK_EQ(credits[i].value, 1);
      SCN_CHECK_EQ(credits[i + 1].value, 0);
      SCN_CHECK_EQ(credits[i + 1].time - credits[i].time, cfg.CORE_CLK * 0.5);
    }
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, WriteCreditsPerSizeReturnedTwoPerCycle) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    // Far apart, so each transaction's credits form their own group.
    b.lsw.Send(1, WRITE_REQUEST, 1, Addr(0, 0, 1, 0), 16);
    b.lsw.Send(100, WRITE_REQUEST, 2, Addr(0, 1, 1, 0), 32);
    b.lsw.Send(200, WRITE_REQUEST, 3, Addr(0, 2, 1, 0), 48);
    b.lsw.Send(300, WRITE_REQUEST, 4, Addr(0, 3, 1, 0), 128);
    b.lsw.Send(400, ATOMIC_BWR, 5, Addr(1, 0, 1, 0), 16);
    sc_core::sc_start(1000, SC_NS);

    const auto pulses = b.lsw.WriteCreditPulses();
    const int expected[] = {2, 2, 4, 8, 2};
    for (unsigned g = 0; g < 5; ++g) {
      const sc_time from = b.Cycle(100 * g), to = b.Cycle(100 * (g + 1));
      int sum = 0;
      std::vector<quortest::TimedValue> group;
      for (const auto& p : pulses)
        if (p.time >= from && p.time < to) {
          sum += p.value;
          group.push_back(p);
        }
      SCN_CHECK_EQ(sum, expected[g]);
      for (const auto& p : group) SCN_CHECK(p.value <= 2);
      // Consecutive cycles, no gaps.
      for (size_t i = 1; i < group.size(); ++i)
        SCN_CHECK_EQ(group[i].time - group[i - 1].time, cfg.CORE_CLK);
    }
    // Each amount is held for half a cycle and then cleared.
    const auto& changes = b.lsw.writeCreditChanges;
    for (size_t i = 0; i + 1 < changes.size(); i += 2) {
      SCN_CHECK(changes[i].value > 0);
      SCN_CHECK_EQ(changes[i + 1].value, 0);
      SCN_CHECK_EQ(changes[i + 1].time - changes[i].time, cfg.CORE_CLK * 0.5);
    }
    // Write data: one DATA per column access, tWL after its WRITE.
    SCN_CHECK_EQ(b.dram.writeData.size(), 1u + 1 + 2 + 4 + 1);
    const auto writes = Only(b.dram.commands, WRITE);
    SCN_CHECK_EQ(writes.size(), b.dram.writeData.size());
    for (size_t i = 0; i < writes.size() && i < b.dram.writeData.size(); ++i) {
      SCN_CHECK_EQ(b.dram.writeData[i].time, writes[i].time + cfg.tWL);
      SCN_CHECK_EQ(b.dram.writeData[i].packet.col, writes[i].packet.col);
    }
    SCN_CHECK(b.vc.tagToCreditMap.empty());
    SCN_CHECK_EQ(stats.perVaultWrites[0], 4u);
    SCN_CHECK_EQ(stats.perVaultDataCount[0], 16u + 32 + 48 + 128);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, BusyBankIsPassedOverForAYoungerTransaction) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 32);
    b.lsw.Send(2, READ_REQUEST, 2, Addr(0, 0, 2, 0), 32);  // same bank as tag 1
    b.lsw.Send(3, READ_REQUEST, 3, Addr(0, 1, 1, 0), 32);
    sc_core::sc_start(500, SC_NS);

    const auto acts = Only(b.dram.commands, ACTIVATE);
    SCN_CHECK_EQ(acts.size(), 3u);
    if (acts.size() == 3) {
      SCN_CHECK_EQ(acts[0].packet.tag, 1u);
      SCN_CHECK_EQ(acts[1].packet.tag, 3u);
      SCN_CHECK_EQ(acts[2].packet.tag, 2u);
      // Tag 2 waited for tag 1's bank: it issues only after that precharge completes.
      const auto pre1 = Only(b.dram.CommandsOf(1), PRECHARGE);
      SCN_CHECK(!pre1.empty() && acts[2].time >= pre1[0].time + cfg.tRP);
    }
    SCN_CHECK_EQ(b.lsw.CommandCreditTimes().size(), 3u);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, ResponseCreditGateHoldsTransactionsButNotRefresh) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    cfg.NUM_ROWS = 32768;  // refresh every 122.07 ns
    cfg.REQUEST_Q_CAPACITY = 8;
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.autoReturn = false;
    for (unsigned tag = 1; tag <= 7; ++tag)
      b.lsw.Send(tag, READ_REQUEST, tag, Addr((tag - 1) % 2, (tag - 1) / 2 % 4, 1, 0), 128);
    // 6 x 9 credits taken from 61: 7 left, fewer than the 9 processing needs.
    const uint64_t c = 500;
    b.vsw.ReturnCreditsAt(b.Cycle(c), 9);
    sc_core::sc_start(b.Cycle(c) - Ps(1));

    SCN_CHECK_EQ(b.vc.responseCredits, 7u);
    SCN_CHECK_EQ(b.lsw.CommandCreditTimes().size(), 6u);
    SCN_CHECK_EQ(b.vc.transactionQueue.size(), 1u);
    SCN_CHECK_EQ(b.dram.CountOf(7, ACTIVATE), 0u);
    // Refresh went on meanwhile, as ACT, READ, PRE with the refresh tag.
    const auto lastAdmission = b.lsw.CommandCreditTimes().back();
    unsigned refreshActsWhileHeld = 0;
    for (const auto& r : Only(b.dram.CommandsOf(kRefreshTag), ACTIVATE))
      if (r.time > lastAdmission) ++refreshActsWhileHeld;
    SCN_CHECK(refreshActsWhileHeld >= 2);
    SCN_CHECK(stats.perVaultRefresh[0] >= 2);

    sc_core::sc_start(300, SC_NS);
    // Credits returned at cycle c count from c + CREDIT_RETURN_DELAY_VSW_VC;
    // processing wakes on the next edge, and the command credit follows
    // COMMAND_CREDIT_DELAY cycles after the transaction leaves.
    const auto credits = b.lsw.CommandCreditTimes();
    SCN_CHECK_EQ(credits.size(), 7u);
    if (credits.size() == 7)
      SCN_CHECK_EQ(credits[6], b.Cycle(c + cfg.CREDIT_RETURN_DELAY_VSW_VC + 1 +
                                       cfg.COMMAND_CREDIT_DELAY));
    SCN_CHECK_EQ(b.dram.CountOf(7, ACTIVATE), 1u);
    SCN_CHECK_EQ(b.vc.responseCredits, 7u + 9 - 9);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, PostedWriteHasNoResponseAndTakesNoResponseCredit) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.autoReturn = false;  // any credit taken would stay missing
    b.lsw.Send(1, P_WRITE_REQUEST, 1, Addr(0, 0, 1, 0), 64);
    b.lsw.Send(50, ATOMIC_P_ADD16, 2, Addr(1, 0, 1, 0), 16);
    sc_core::sc_start(500, SC_NS);
    SCN_CHECK(b.vsw.received.empty());
    SCN_CHECK_EQ(b.vc.responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
    SCN_CHECK_EQ(b.dram.CountOf(1, WRITE), 2u);
    SCN_CHECK_EQ(b.dram.CountOf(1, PRECHARGE), 1u);
    SCN_CHECK_EQ(b.dram.CountOf(2, READ), 1u);
    SCN_CHECK_EQ(b.dram.CountOf(2, WRITE), 1u);
    SCN_CHECK_EQ(b.lsw.WriteCreditTotal(), 4 + 2);
    SCN_CHECK(b.vc.pendingWriteResponses.empty());
    SCN_CHECK(b.vc.writeResponses.empty());
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, ResponseCreditsNeverWrapBelowZero) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    cfg.CREDITS_FOR_PROCESSING = 2;  // below the largest response: not a validated value
    cfg.VSW_RESPONSE_BUFFER_SIZE = 12;
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.autoReturn = false;
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 128);  // 9 credits: 3 left
    b.lsw.Send(2, READ_REQUEST, 2, Addr(1, 0, 1, 0), 128);  // would need 9
    sc_core::sc_start(500, SC_NS);
    SCN_CHECK_EQ(b.vc.responseCredits, 3u);
    SCN_CHECK_EQ(b.dram.CountOf(2, ACTIVATE), 0u);
    SCN_CHECK_EQ(b.vc.transactionQueue.size(), 1u);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerAdmission, FullRequestQueueHoldsTheLatchUntilALastColumnCommand) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    cfg.REQUEST_Q_CAPACITY = 1;
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 64);
    b.lsw.Send(2, READ_REQUEST, 2, Addr(1, 0, 1, 0), 64);
    sc_core::sc_start(300, SC_NS);
    const auto reads1 = Only(b.dram.CommandsOf(1), READ);
    const auto act2 = Only(b.dram.CommandsOf(2), ACTIVATE);
    SCN_CHECK_EQ(reads1.size(), 2u);
    SCN_CHECK_EQ(act2.size(), 1u);
    if (reads1.size() == 2 && act2.size() == 1) {
      // Admitted as tag 1's last READ issues; ready one cycle later, on the next edge.
      const sc_time ready = reads1[1].time + cfg.CORE_CLK;
      SCN_CHECK_EQ(act2[0].time, ready + DelayToNextEdge(ready, cfg.CORE_CLK));
    }
    SCN_CHECK_EQ(FlitsOf(b, 2).size(), 5u);
  }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- scheduling

TEST(VaultControllerScheduling, ActivateToReadAtTRCDrWhenItIsAColumnSlot) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 64);
    sc_core::sc_start(200, SC_NS);
    const auto cmds = b.dram.CommandsOf(1);
    SCN_CHECK_EQ(cmds.size(), 4u);
    if (cmds.size() == 4) {
      SCN_CHECK(IsOnEdge(cmds[0].time, cfg.CORE_CLK));
      // 13.6 ns after an edge is an odd tCMD slot: the READ goes exactly then.
      SCN_CHECK_EQ(cmds[1].time, cmds[0].time + cfg.tRCDr);
      SCN_CHECK_EQ(cmds[2].time, cmds[1].time + cfg.tCCD);
      SCN_CHECK(IsOnEdge(cmds[3].time, cfg.CORE_CLK));
      SCN_CHECK(cmds[3].time >= cmds[0].time + cfg.tRAS);
    }
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerScheduling, ActivateToReadWaitsForTheNextColumnSlotAfterTRCDr) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    cfg.tRCDr = sc_time(14.0, SC_NS);  // ends between slots; next slot is an edge
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 32);
    sc_core::sc_start(200, SC_NS);
    const auto cmds = b.dram.CommandsOf(1);
    SCN_CHECK_EQ(cmds.size(), 3u);
    if (cmds.size() == 3) SCN_CHECK_EQ(cmds[1].time, cmds[0].time + sc_time(15.2, SC_NS));
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerScheduling, WriteTransactionIssuesInQueueOrder) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, WRITE_REQUEST, 1, Addr(0, 2, 3, 5), 64);  // odd column: 3 WRITEs
    sc_core::sc_start(300, SC_NS);
    const auto cmds = b.dram.CommandsOf(1);
    const DRAMCommand order[] = {ACTIVATE, WRITE, WRITE, WRITE, PRECHARGE};
    const unsigned cols[] = {5, 5, 6, 7, 8};
    SCN_CHECK_EQ(cmds.size(), 5u);
    for (size_t i = 0; i < cmds.size() && i < 5; ++i) {
      SCN_CHECK_EQ(cmds[i].packet.command, order[i]);
      SCN_CHECK_EQ(cmds[i].packet.col, cols[i]);
      if (i > 0) SCN_CHECK(cmds[i].time > cmds[i - 1].time);
    }
    if (cmds.size() == 5) {
      SCN_CHECK_EQ(cmds[1].time, cmds[0].time + cfg.tRCDw);
      SCN_CHECK(cmds[4].time >= cmds[3].time + cfg.tWL + cfg.BL + cfg.tWR);
      // The response leaves WRITE_RESPONSE_DELAY cycles after the last WRITE,
      // counted from the next edge.
      const auto rsp = FlitsOf(b, 1);
      SCN_CHECK_EQ(rsp.size(), 1u);
      if (rsp.size() == 1) {
        SCN_CHECK_EQ(rsp[0].time, cmds[3].time + CyclesFromEdge(cmds[3].time, cfg.CORE_CLK,
                                                                cfg.WRITE_RESPONSE_DELAY));
        SCN_CHECK_EQ(rsp[0].lane, 0u);
        SCN_CHECK_EQ(rsp[0].flit.command, WRITE_RESPONSE);
        SCN_CHECK(rsp[0].flit.header && rsp[0].flit.tail);
        SCN_CHECK_EQ(rsp[0].flit.flitNumber, 1u);
      }
    }
    SCN_CHECK_EQ(b.vc.responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerScheduling, AtomicWritesAfterTheAtomicSpacing) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, ATOMIC_ADD16, 9, Addr(1, 3, 4, 2), 16);
    sc_core::sc_start(300, SC_NS);
    const auto cmds = b.dram.CommandsOf(9);
    SCN_CHECK_EQ(cmds.size(), 4u);
    if (cmds.size() == 4) {
      SCN_CHECK_EQ(cmds[1].packet.command, READ);
      SCN_CHECK_EQ(cmds[2].packet.command, WRITE);
      SCN_CHECK_EQ(cmds[2].time, cmds[1].time + cfg.CORE_CLK * 12.0);
      SCN_CHECK_EQ(cmds[3].packet.command, PRECHARGE);
    }
    const auto rsp = FlitsOf(b, 9);
    SCN_CHECK_EQ(rsp.size(), 1u);  // the read data are not a response
    if (!rsp.empty()) SCN_CHECK_EQ(rsp[0].flit.command, WRITE_RESPONSE);
    SCN_CHECK_EQ(b.lsw.WriteCreditTotal(), 2);
    SCN_CHECK(b.vc.atomicTags.empty());
    SCN_CHECK(b.vc.pendingReads.empty());
  }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- refresh

TEST(VaultControllerRefresh, RefreshIsAnActivateReadPrechargeWithTheRefreshTag) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;  // Tj 85: every 488.281 ns
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    sc_core::sc_start(1100, SC_NS);
    const auto cmds = b.dram.CommandsOf(kRefreshTag);
    SCN_CHECK_EQ(b.vc.tREFi, Ps(488281));
    SCN_CHECK_EQ(cmds.size(), 6u);
    const DRAMCommand order[] = {ACTIVATE, READ, PRECHARGE};
    for (size_t i = 0; i < cmds.size() && i < 6; ++i) {
      SCN_CHECK_EQ(cmds[i].packet.command, order[i % 3]);
      SCN_CHECK_EQ(cmds[i].packet.partition, i < 3 ? 0u : 1u);  // partition advances first
      SCN_CHECK_EQ(cmds[i].packet.bank, 0u);
      SCN_CHECK_EQ(cmds[i].packet.row, 0u);
    }
    if (!cmds.empty()) {
      // Due at tREFi; processed on the edge after the next; admitted a cycle
      // later; its ACTIVATE may go one cycle after admission.
      const sc_time due = b.vc.tREFi;
      const sc_time processed = due + CyclesFromEdge(due, cfg.CORE_CLK, 1);
      SCN_CHECK_EQ(cmds[0].time, processed + cfg.CORE_CLK * 2.0);
    }
    SCN_CHECK_EQ(stats.perVaultRefresh[0], 2u);
    SCN_CHECK_EQ(stats.perVaultCASs[0], 2u);
    for (auto c : stats.perVaultPerBankCounters[0]) SCN_CHECK_EQ(c, 0u);
    SCN_CHECK(b.vsw.received.empty());  // its read data are dropped
    SCN_CHECK_EQ(b.dram.readData.size(), 4u);
    SCN_CHECK_EQ(b.vc.nextRefreshPartition, 0u);
    SCN_CHECK_EQ(b.vc.nextRefreshRow, 1u);
    SCN_CHECK(!b.vc.bankStates[0][0]->refreshWaiting && !b.vc.bankStates[0][0]->bankInUse);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerRefresh, AboveNinetyFourDegreesRefreshComesTwiceAsOften) {
  for (unsigned tj : {94u, 95u}) {
    EXPECT_EXIT(quortest::RunScenario([tj] {
      Config cfg;
      cfg.Tj = tj;
      StatsKeeper stats(cfg);
      VcBench b(cfg, stats);
      sc_core::sc_start(1000, SC_NS);
      SCN_CHECK_EQ(stats.perVaultRefresh[0], tj == 94 ? 2u : 4u);
      SCN_CHECK_EQ(b.vc.tREFi, tj == 94 ? Ps(488281) : Ps(244141));
    }), ::testing::ExitedWithCode(0), "") << "Tj " << tj;
  }
}

TEST(VaultControllerRefresh, DisabledRefreshMakesNoRefreshTraffic) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    sc_core::sc_start(2000, SC_NS);
    SCN_CHECK(b.dram.commands.empty());
    SCN_CHECK_EQ(stats.perVaultRefresh[0], 0u);
  }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- responses

TEST(VaultControllerResponses, SixteenByteReadSendsHeaderAndTailTogether) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 7, Addr(0, 1, 2, 3), 16);
    sc_core::sc_start(300, SC_NS);
    const auto rsp = FlitsOf(b, 7);
    const auto data = b.dram.readData;
    SCN_CHECK_EQ(data.size(), 2u);  // one column access
    SCN_CHECK_EQ(rsp.size(), 2u);
    if (rsp.size() == 2 && !data.empty()) {
      SCN_CHECK_EQ(rsp[0].time, ResponseStepTime(cfg, data[0].time));
      SCN_CHECK_EQ(rsp[1].time, rsp[0].time);
      SCN_CHECK_EQ(rsp[0].lane, 0u);
      SCN_CHECK_EQ(rsp[1].lane, 1u);
      SCN_CHECK(rsp[0].flit.header && !rsp[0].flit.tail);
      SCN_CHECK(!rsp[1].flit.header && rsp[1].flit.tail);
      SCN_CHECK_EQ(rsp[0].flit.flitNumber, 1u);
      SCN_CHECK_EQ(rsp[1].flit.flitNumber, 2u);
      for (const auto& r : rsp) {
        SCN_CHECK_EQ(r.flit.command, READ_RESPONSE);
        SCN_CHECK_EQ(r.flit.requestLength, 16u);
        SCN_CHECK_EQ(r.flit.address, Addr(0, 1, 2, 3));
      }
    }
    SCN_CHECK(b.vc.pendingReads.empty());
    SCN_CHECK(b.vc.pendingReadResponses.empty());  // the second packet was dropped
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerResponses, SixtyFourByteReadAtEvenColumnTakesFourSteps) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 3, Addr(1, 2, 2, 6), 64);
    sc_core::sc_start(300, SC_NS);
    const auto rsp = FlitsOf(b, 3);
    const auto data = b.dram.readData;
    SCN_CHECK_EQ(data.size(), 4u);
    SCN_CHECK_EQ(rsp.size(), 5u);
    if (rsp.size() == 5 && data.size() == 4) {
      for (unsigned k = 0; k < 4; ++k) {
        SCN_CHECK_EQ(rsp[k].time, ResponseStepTime(cfg, data[k].time));
        SCN_CHECK_EQ(rsp[k].lane, 0u);
      }
      SCN_CHECK_EQ(rsp[4].time, rsp[3].time);
      SCN_CHECK_EQ(rsp[4].lane, 1u);
      for (unsigned k = 0; k < 5; ++k) {
        SCN_CHECK_EQ(rsp[k].flit.flitNumber, k + 1);
        SCN_CHECK_EQ(rsp[k].flit.header, k == 0);
        SCN_CHECK_EQ(rsp[k].flit.tail, k == 4);
      }
    }
    SCN_CHECK_EQ(stats.perVaultDataCount[0], 64u);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerResponses, SixtyFourByteReadAtOddColumnDropsTheSurplusData) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 3, Addr(1, 2, 2, 7), 64);
    b.lsw.Send(150, READ_REQUEST, 4, Addr(1, 2, 2, 0), 32);  // the next read is untouched
    sc_core::sc_start(500, SC_NS);
    SCN_CHECK_EQ(b.dram.CountOf(3, READ), 3u);
    const auto rsp = FlitsOf(b, 3);
    SCN_CHECK_EQ(rsp.size(), 5u);
    if (rsp.size() == 5) SCN_CHECK(rsp[4].flit.tail && rsp[4].time == rsp[3].time);
    const auto next = FlitsOf(b, 4);
    SCN_CHECK_EQ(next.size(), 3u);
    if (next.size() == 3) SCN_CHECK(next[0].flit.header && next[2].flit.tail);
    SCN_CHECK(b.vc.pendingReads.empty());
    SCN_CHECK(b.vc.pendingReadResponses.empty());
    SCN_CHECK_EQ(b.vc.responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerResponses, WriteResponseWaitsForTheReadResponseTail) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    // The write's last WRITE goes ahead of the read's READs; with a longer
    // response delay its response falls due while the read response is going out.
    cfg.WRITE_RESPONSE_DELAY = 15;
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(0, 0, 1, 0), 128);
    b.lsw.Send(4, WRITE_REQUEST, 2, Addr(1, 0, 1, 0), 16);
    sc_core::sc_start(500, SC_NS);
    const auto& all = b.vsw.received;
    const auto read = FlitsOf(b, 1);
    const auto write = FlitsOf(b, 2);
    SCN_CHECK_EQ(read.size(), 9u);
    SCN_CHECK_EQ(write.size(), 1u);
    const auto lastWrite = Only(b.dram.CommandsOf(2), WRITE);
    if (read.size() == 9 && write.size() == 1 && lastWrite.size() == 1) {
      const sc_time due = lastWrite[0].time + CyclesFromEdge(lastWrite[0].time, cfg.CORE_CLK,
                                                             cfg.WRITE_RESPONSE_DELAY);
      // The scenario is only meaningful if the response fell due mid-read.
      SCN_CHECK(due > read.front().time && due < read.back().time);
      SCN_CHECK(write[0].time > read.back().time);
      // Nothing of another packet between the read's header and its tail.
      bool inside = false;
      for (const auto& r : all) {
        if (r.flit.tag == 1 && r.flit.header) inside = true;
        if (inside) SCN_CHECK_EQ(r.flit.tag, 1u);
        if (r.flit.tag == 1 && r.flit.tail) inside = false;
      }
      // It follows two cycles after the tail step.
      SCN_CHECK_EQ(write[0].time, read.back().time + cfg.CORE_CLK * 2.0);
    }
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerResponses, RandomMixIsServedWholeAndEveryCreditComesBack) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    cfg.NUM_ROWS = 32768;  // more refreshes in the window
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    const QUORCommand kinds[] = {READ_REQUEST, WRITE_REQUEST, P_WRITE_REQUEST, ATOMIC_BWR,
                                 ATOMIC_P_DADD8, READ_REQUEST};
    uint64_t seed = 12345;
    auto next = [&seed](uint64_t range) {
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      return (seed >> 33) % range;
    };
    const unsigned count = 300;
    unsigned expectedFlits = 0, expectedWriteCredits = 0;
    std::vector<unsigned> responseFlits(count + 1, 0);
    uint64_t cycle = 1;
    for (unsigned tag = 1; tag <= count; ++tag) {
      const QUORCommand kind = kinds[next(6)];
      const unsigned length = IsAtomic(kind) ? 16 : 16 * (1 + static_cast<unsigned>(next(8)));
      const uint64_t address = Addr(next(2), next(4), next(64), next(64));
      b.lsw.Send(cycle, kind, tag, address, length);
      cycle += PacketFlitCount(kind, length, 16) / 2 + 1 + next(6);
      if (kind == READ_REQUEST) responseFlits[tag] = length / 16 + 1;
      if (kind == WRITE_REQUEST || kind == ATOMIC_BWR) responseFlits[tag] = 1;
      if (kind != READ_REQUEST) expectedWriteCredits += WriteDataCreditCount(kind, length, 16);
      expectedFlits += responseFlits[tag];
    }
    std::ostringstream messages;
    auto* old = std::cout.rdbuf(messages.rdbuf());
    sc_core::sc_start(20, sc_core::SC_US);
    std::cout.rdbuf(old);
    SCN_CHECK_EQ(messages.str(), "");
    SCN_CHECK_EQ(b.vsw.received.size(), expectedFlits);
    for (unsigned tag = 1; tag <= count; ++tag) {
      const auto flits = FlitsOf(b, tag);
      SCN_CHECK_EQ(flits.size(), responseFlits[tag]);
      for (size_t i = 0; i < flits.size(); ++i) {
        SCN_CHECK_EQ(flits[i].flit.header, i == 0);
        SCN_CHECK_EQ(flits[i].flit.tail, i + 1 == flits.size());
      }
    }
    // Response packets never interleave.
    unsigned open = 0;
    for (const auto& r : b.vsw.received) {
      if (open) SCN_CHECK_EQ(r.flit.tag, open);
      open = r.flit.tail ? 0 : r.flit.tag;
    }
    SCN_CHECK_EQ(b.lsw.CommandCreditTimes().size(), count);
    SCN_CHECK_EQ(b.lsw.WriteCreditTotal(), static_cast<int>(expectedWriteCredits));
    SCN_CHECK_EQ(b.vc.responseCredits, cfg.VSW_RESPONSE_BUFFER_SIZE);
    SCN_CHECK(b.vc.transactionQueue.empty() && b.vc.requestQueue.empty());
    SCN_CHECK(b.vc.pendingReads.empty() && b.vc.writeDataBuffer.empty());
    SCN_CHECK_EQ(b.vc.requestQueueCount, 0u);
    SCN_CHECK(stats.perVaultRefresh[0] > 100);
  }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- trace and state

TEST(VaultControllerTrace, DramTraceLinesGiveTimeVaultCommandPartitionBankAndGap) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    cfg.DRAM_TRACING = true;
    char path[] = "/tmp/vc_dram_traceXXXXXX";
    const int fd = mkstemp(path);
    SCN_CHECK(fd >= 0);
    close(fd);
    dramLog.open(path, std::ios::trunc);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats, 5);
    b.lsw.Send(1, READ_REQUEST, 1, Addr(1, 2, 1, 0), 64, 5);
    sc_core::sc_start(200, SC_NS);
    dramLog.close();

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::remove(path);
    const auto cmds = b.dram.CommandsOf(1);
    SCN_CHECK_EQ(cmds.size(), 4u);
    SCN_CHECK_EQ(lines.size(), 4u);
    if (cmds.size() == 4 && lines.size() == 4) {
      const uint64_t act = cmds[0].time.value(), r1 = cmds[1].time.value(),
                     r2 = cmds[2].time.value(), pre = cmds[3].time.value();
      // The first of each kind shows the time since zero, i.e. the time itself.
      SCN_CHECK_EQ(lines[0], std::to_string(act) + ",VC5,ACT,d1,b2," + std::to_string(act));
      SCN_CHECK_EQ(lines[1], std::to_string(r1) + ",VC5,READ,d1,b2," + std::to_string(r1));
      SCN_CHECK_EQ(lines[2], std::to_string(r2) + ",VC5,READ,d1,b2," + std::to_string(r2 - r1));
      SCN_CHECK_EQ(lines[3], std::to_string(pre) + ",VC5,PRE,d1,b2,0");
    }
  }), ::testing::ExitedWithCode(0), "");
}

TEST(VaultControllerState, DumpStateListsQueuesPendingReadsAndWriteBuffer) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    cfg.VSW_RESPONSE_BUFFER_SIZE = 13;
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.autoReturn = false;
    b.lsw.Send(1, WRITE_REQUEST, 3, Addr(0, 0, 1, 0), 16);  // takes 1 credit: 12
    b.lsw.Send(3, READ_REQUEST, 1, Addr(1, 1, 2, 2), 64);   // takes 5: 7 < 9
    b.lsw.Send(4, READ_REQUEST, 2, Addr(0, 2, 3, 0), 16);   // held
    sc_core::sc_start(12, SC_NS);  // both ACTIVATEs out, no column command yet

    std::ostringstream out;
    auto* old = std::cout.rdbuf(out.rdbuf());
    b.vc.DumpState();
    std::cout.rdbuf(old);
    SCN_CHECK_EQ(out.str(),
                 "== VC0 [Response Credits : 7]\n"
                 "\t\tTransaction Queue - 1 entries\n"
                 "\t\t\t0] [HEAD cmd:RD16 tag:2 addr:0x00061000 #:1 tokens:0 TAIL]\n"
                 "\t\tRequest Queue\n"
                 "\t\t\t0] WRITE prt:0 bnk:0 row:1 col:0 tag:3\n"
                 "\t\t\t1] PRE prt:0 bnk:0 row:1 col:1 tag:3\n"
                 "\t\t\t2] READ prt:1 bnk:1 row:2 col:2 tag:1\n"
                 "\t\t\t3] READ prt:1 bnk:1 row:2 col:3 tag:1\n"
                 "\t\t\t4] PRE prt:1 bnk:1 row:2 col:4 tag:1\n"
                 "\t\tPending Reads\n"
                 "\t\t\t0] [HEAD cmd:RD64 tag:1 addr:0x00042820 #:1 tokens:0 TAIL]\n"
                 "\t\tWrite Buffer\n"
                 "\t\t\t0] DATA prt:0 bnk:0 row:1 col:0 (1) tag:3\n");
  }), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------- faults

TEST(VaultControllerFaults, NonContiguousPacketEndsTheRunWithStatusOne) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    auto first = quortest::BuildRequestPacket(WRITE_REQUEST, 1, 0, 32, 0);
    auto other = quortest::BuildRequestPacket(READ_REQUEST, 2, 0, 16, 0);
    b.lsw.SendFlits(1, {first[0], other[0]});  // header of tag 1, then tag 2 beside it
    delete first[1];
    delete first[2];
    sc_core::sc_start(100, SC_NS);
  }), ::testing::ExitedWithCode(1),
              "== ERROR - VC0 did not receive contiguous packet of tag :1 : \\[HEAD cmd:RD16 tag:2");
}

TEST(VaultControllerFaults, FlitsOffTheCoreEdgeAbort) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.SendFlits(1, quortest::BuildRequestPacket(READ_REQUEST, 1, 0, 16, 0), Ps(400));
    sc_core::sc_start(100, SC_NS);
  }), ::testing::KilledBySignal(SIGABRT), "Off timing in VC0 @ 2 ns");
}

TEST(VaultControllerFaults, ResponseCreditsOffTheCoreEdgeAbort) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.ReturnCreditsAt(Ps(2000), 1);
    sc_core::sc_start(100, SC_NS);
  }), ::testing::KilledBySignal(SIGABRT), "Off timing in VC0 because of credit @ 2 ns");
}

TEST(VaultControllerFaults, ResponseCreditOverflowAborts) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.vsw.ReturnCreditsAt(Ps(1600), 1);
    sc_core::sc_start(100, SC_NS);
  }), ::testing::KilledBySignal(SIGABRT), "== ERROR - Response Credit overflow in VC0");
}

TEST(VaultControllerFaults, MisroutedFlitIsReportedAndStillServed) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    b.lsw.Send(1, READ_REQUEST, 4, Addr(0, 0, 1, 0), 16, 3);
    sc_core::sc_start(200, SC_NS);
    SCN_CHECK_EQ(FlitsOf(b, 4).size(), 2u);
  }), ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - \\[HEAD cmd:RD16 tag:4 addr:0x00020000 #:1 tokens:0 "
              "TAIL\\] sent incorrectly to VC0");
}

TEST(VaultControllerFaults, ResponseKindsOnTheRequestLanesAreDropped) {
  EXPECT_EXIT(quortest::RunScenario([] {
    Config cfg;
    NoRefresh(cfg);
    StatsKeeper stats(cfg);
    VcBench b(cfg, stats);
    auto* stray = new Flit(6, 0, WRITE_RESPONSE, 16, true, true, 1);
    stray->destinationField = 0;
    b.lsw.SendFlits(1, {stray});
    sc_core::sc_start(200, SC_NS);
    SCN_CHECK(b.vc.transactionQueue.empty());
    SCN_CHECK(b.dram.commands.empty());
    delete stray;  // not consumed by the controller
  }), ::testing::ExitedWithCode(0),
              "=\\[1600 ps\\]= ERROR - Received wronge packet type in vault controller 0 - "
              "\\[HEAD cmd:WR_RSP tag:6");
}
