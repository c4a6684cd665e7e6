#include "quor2_vault_controller_rules.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <sstream>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time;
using sc_core::SC_NS;
using sc_core::SC_PS;
using sc_core::SC_ZERO_TIME;

namespace {

sc_time Ps(uint64_t ps) { return sc_time::from_value(ps); }

// A bank with the timing members the rules read and write.
struct FakeBank {
  BankState currentBankState = IDLE;
  uint32_t openRow = 0;
  sc_time nextAct, nextRead, nextWrite, nextPre, nextRef;
  DRAMCommand lastCommand = DATA;
};

struct Grid {
  std::vector<std::vector<FakeBank>> banks;
  Grid(unsigned partitions, unsigned perPartition)
      : banks(partitions, std::vector<FakeBank>(perPartition)) {}
  FakeBank& operator()(unsigned p, unsigned b) { return banks[p][b]; }
};

DRAMBusPacket Cmd(DRAMCommand c, unsigned p, unsigned b, unsigned row, unsigned tag,
                  sc_time ready = SC_ZERO_TIME) {
  return DRAMBusPacket(c, p, b, row, 0, tag, ready);
}

class IssueRules : public ::testing::Test {
protected:
  Config cfg;
  VcTiming t{cfg};
  Grid grid{cfg.NUM_PARTITIONS, cfg.NUM_BANKS};
  CommandQueue q;
  const sc_time edge = Ps(16000);  // a core edge (10 cycles)
  const sc_time between = Ps(16800);  // the column slot after it

  sc_time Ask(size_t i, sc_time now, const ReadBurst& burst = ReadBurst{}) {
    return IsIssuable(q, i, [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); },
                      now, t, burst);
  }
  void OpenRow(unsigned p, unsigned b, unsigned row) {
    grid(p, b).currentBankState = ROW_ACTIVE;
    grid(p, b).openRow = row;
  }
};

} // namespace

// ---------------------------------------------------------------- address map

TEST(VaultAddressMapTest, DefaultGeometryGivesTheFieldWidths) {
  Config cfg;
  VaultAddressMap m(cfg);
  EXPECT_EQ(m.byteOffset, 4u);
  EXPECT_EQ(m.colLowBitWidth, 3u);   // 128-byte block / 16-byte units
  EXPECT_EQ(m.vaultBitWidth, 4u);
  EXPECT_EQ(m.bankBitWidth, 2u);
  EXPECT_EQ(m.partitionBitWidth, 1u);
  EXPECT_EQ(m.colHighBitWidth, 3u);  // 64 columns x 16 bytes / 128
  EXPECT_EQ(m.rowBitWidth, 13u);
}

TEST(VaultAddressMapTest, FieldsComeFromBitZeroUpwardInTheirOrder) {
  Config cfg;
  VaultAddressMap m(cfg);
  const uint64_t byte = 0xF, colLow = 6, vault = 9, bank = 2, partition = 1, colHigh = 5,
                 row = 0x1ABC;
  const uint64_t address = byte | colLow << 4 | vault << 7 | bank << 11 | partition << 13 |
                           colHigh << 14 | row << 17;
  unsigned p, b, r, c;
  m.Map(address, p, b, r, c);
  EXPECT_EQ(p, 1u);
  EXPECT_EQ(b, 2u);
  EXPECT_EQ(r, 0x1ABCu);
  EXPECT_EQ(c, 6u + (5u << 3));
  // Bits above the row are not part of any field.
  m.Map(address | uint64_t{1} << 40, p, b, r, c);
  EXPECT_EQ(r, 0x1ABCu);
}

TEST(VaultAddressMapTest, WorkedAddressMapsToColumnFourBankThree) {
  Config cfg;
  VaultAddressMap m(cfg);
  unsigned p, b, r, c;
  m.Map(0x1A40, p, b, r, c);
  EXPECT_EQ(c, 4u);
  EXPECT_EQ(b, 3u);
  EXPECT_EQ(p, 0u);
  EXPECT_EQ(r, 0u);
}

TEST(VaultAddressMapTest, OtherGeometryMovesTheColumnSplit) {
  Config cfg;
  cfg.NUM_PARTITIONS = 4;
  cfg.NUM_BANKS = 8;
  cfg.MAX_BLOCK_SIZE = 64;
  cfg.BYTE_OFFSET = 32;
  VaultAddressMap m(cfg);
  EXPECT_EQ(m.colLowBitWidth, 1u);
  EXPECT_EQ(m.colHighBitWidth, 5u);
  unsigned p, b, r, c;
  // col low 1, vault 3, bank 5, partition 2, col high 17, row 7
  const uint64_t address = uint64_t{1} << 5 | uint64_t{3} << 6 | uint64_t{5} << 10 |
                           uint64_t{2} << 13 | uint64_t{17} << 15 | uint64_t{7} << 20;
  m.Map(address, p, b, r, c);
  EXPECT_EQ(p, 2u);
  EXPECT_EQ(b, 5u);
  EXPECT_EQ(r, 7u);
  EXPECT_EQ(c, 1u + (17u << 1));
}

// ---------------------------------------------------------------- counts

TEST(ColumnAccessCountTest, ExactMultiplesAtAnOddColumnNeedOneMore) {
  EXPECT_EQ(ColumnAccessCount(64, 4, 32), 2u);
  EXPECT_EQ(ColumnAccessCount(64, 5, 32), 3u);
  EXPECT_EQ(ColumnAccessCount(32, 1, 32), 2u);
  EXPECT_EQ(ColumnAccessCount(128, 0, 32), 4u);
  EXPECT_EQ(ColumnAccessCount(128, 3, 32), 5u);
}

TEST(ColumnAccessCountTest, PartialAccessesRoundUpAtEitherParity) {
  EXPECT_EQ(ColumnAccessCount(48, 4, 32), 2u);
  EXPECT_EQ(ColumnAccessCount(48, 5, 32), 2u);
  EXPECT_EQ(ColumnAccessCount(16, 0, 32), 1u);
  EXPECT_EQ(ColumnAccessCount(16, 1, 32), 1u);
  EXPECT_EQ(ColumnAccessCount(112, 7, 32), 4u);
}

TEST(WriteDataCreditCountTest, MatchesWhatTheLinkSwitchSpent) {
  EXPECT_EQ(WriteDataCreditCount(WRITE_REQUEST, 16, 16), 2u);
  EXPECT_EQ(WriteDataCreditCount(WRITE_REQUEST, 32, 16), 2u);
  EXPECT_EQ(WriteDataCreditCount(WRITE_REQUEST, 48, 16), 4u);
  EXPECT_EQ(WriteDataCreditCount(P_WRITE_REQUEST, 64, 16), 4u);
  EXPECT_EQ(WriteDataCreditCount(WRITE_REQUEST, 80, 16), 6u);
  EXPECT_EQ(WriteDataCreditCount(WRITE_REQUEST, 128, 16), 8u);
  for (QUORCommand c : {ATOMIC_BWR, ATOMIC_P_BWR, ATOMIC_DADD8, ATOMIC_P_DADD8, ATOMIC_ADD16,
                        ATOMIC_P_ADD16})
    EXPECT_EQ(WriteDataCreditCount(c, 16, 16), 2u);
}

TEST(RefreshIntervalTest, AboveNinetyFourDegreesTheIntervalHalves) {
  // 4 banks x 8192 rows x 2 partitions = 65536 rows per window.
  EXPECT_EQ(RefreshInterval(85, 4, 8192, 2, 1), Ps(488281));  // 32 ms / 65536 = 488281.25 ps
  EXPECT_EQ(RefreshInterval(94, 4, 8192, 2, 1), Ps(488281));
  EXPECT_EQ(RefreshInterval(95, 4, 8192, 2, 1), Ps(244141));  // 244140.625 rounds up
  EXPECT_EQ(RefreshInterval(105, 4, 8192, 2, 1), Ps(244141));
  // Rows that divide the window evenly: exactly half.
  EXPECT_EQ(RefreshInterval(94, 4, 4096, 2, 1), Ps(976563));
  EXPECT_EQ(RefreshInterval(94, 1, 1000, 1, 1), Ps(32000000));
  EXPECT_EQ(RefreshInterval(95, 1, 1000, 1, 1), Ps(16000000));
}

TEST(RefreshIntervalTest, RoundsToTheKernelTick) {
  // At 1 fs resolution a tick is 1/1000 ps: 488281.25 ps is exact.
  EXPECT_EQ(RefreshInterval(85, 4, 8192, 2, 1000).value(), 488281250u);
}

// ---------------------------------------------------------------- IsIssuable

TEST_F(IssueRules, ActivateRulesInOrder) {
  q.push_back(Cmd(ACTIVATE, 0, 1, 7, 1, edge));
  grid(0, 1).currentBankState = PRECHARGING;
  grid(0, 1).nextAct = edge + Ps(5000);
  EXPECT_EQ(Ask(0, edge), cfg.tRP);  // not idle beats everything
  grid(0, 1).currentBankState = IDLE;
  EXPECT_EQ(Ask(0, edge), Ps(5000));
  grid(0, 1).nextAct = edge;
  EXPECT_EQ(Ask(0, edge - Ps(1)), Ps(1));
  EXPECT_EQ(Ask(0, edge), SC_ZERO_TIME);
  EXPECT_EQ(Ask(0, between), cfg.tCMD);  // row commands only on core edges
  q[0].readyTime = edge + Ps(1600);
  EXPECT_EQ(Ask(0, edge), Ps(1600));
  EXPECT_EQ(Ask(0, edge + Ps(1600)), SC_ZERO_TIME);
}

TEST_F(IssueRules, PrechargeRulesInOrder) {
  q.push_back(Cmd(READ, 0, 2, 7, 4));
  q.push_back(Cmd(PRECHARGE, 0, 2, 7, 4));
  EXPECT_EQ(Ask(1, edge), cfg.tRAS);  // bank not active
  OpenRow(0, 2, 7);
  EXPECT_EQ(Ask(1, edge), t.fixedWait);  // its own READ is still ahead of it
  EXPECT_EQ(t.fixedWait, sc_time(100, SC_NS));
  q.erase(q.begin());
  EXPECT_EQ(Ask(0, edge), cfg.tCMD);  // the DRAM takes a PRECHARGE only after a column command
  grid(0, 2).lastCommand = READ;
  grid(0, 2).nextPre = edge;
  EXPECT_EQ(Ask(0, edge - Ps(1)), Ps(1));
  EXPECT_EQ(Ask(0, edge), SC_ZERO_TIME);
  EXPECT_EQ(Ask(0, between), cfg.tCMD);
}

TEST_F(IssueRules, ReadRulesInOrder) {
  q.push_back(Cmd(READ, 1, 3, 9, 2));
  EXPECT_EQ(Ask(0, between), t.fixedWait);  // row not open
  OpenRow(1, 3, 8);
  EXPECT_EQ(Ask(0, between), cfg.tRCDr + cfg.tRTP + cfg.tRP);  // another row open
  OpenRow(1, 3, 9);
  grid(1, 3).nextRead = between;
  EXPECT_EQ(Ask(0, between - Ps(1)), Ps(1));
  EXPECT_EQ(Ask(0, between), SC_ZERO_TIME);
  EXPECT_EQ(Ask(0, edge + Ps(1600)), cfg.tCMD);  // column commands only between edges
}

TEST_F(IssueRules, ReadsOfOneTransactionMayIssueInAnyOrder) {
  OpenRow(0, 0, 3);
  q.push_back(Cmd(READ, 0, 0, 3, 5));
  q.push_back(Cmd(READ, 0, 0, 3, 5));
  EXPECT_EQ(Ask(1, between), SC_ZERO_TIME);
}

TEST_F(IssueRules, WriteRulesInOrder) {
  q.push_back(Cmd(WRITE, 0, 1, 4, 6));
  q.push_back(Cmd(WRITE, 0, 1, 4, 6));
  EXPECT_EQ(Ask(1, between), t.fixedWait);  // row not open
  OpenRow(0, 1, 5);
  EXPECT_EQ(Ask(1, between), cfg.tRCDw + cfg.tRTP + cfg.tRP);
  OpenRow(0, 1, 4);
  EXPECT_EQ(Ask(1, between), t.fixedWait);  // its earlier WRITE goes first
  EXPECT_EQ(Ask(0, between), SC_ZERO_TIME);
  grid(0, 1).nextWrite = between;
  EXPECT_EQ(Ask(0, between - Ps(1)), Ps(1));
  EXPECT_EQ(Ask(0, edge), cfg.tCMD);
}

TEST_F(IssueRules, RowCommandsIssueWhenNoLaterColumnCommandCan) {
  OpenRow(0, 0, 3);
  q.push_back(Cmd(ACTIVATE, 0, 1, 2, 8));
  q.push_back(Cmd(READ, 0, 0, 3, 9));
  // At a core edge no column command can go, so the row command is not held back.
  EXPECT_EQ(Ask(1, edge), cfg.tCMD);
  EXPECT_EQ(Ask(0, edge), SC_ZERO_TIME);
}

TEST_F(IssueRules, OtherPacketKindsAreReportedAndIssuable) {
  q.push_back(Cmd(DATA, 0, 0, 0, 3));
  ::testing::internal::CaptureStdout();
  const sc_time w = Ask(0, edge);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(w, SC_ZERO_TIME);
  EXPECT_EQ(out, "=[16 ns]= ERROR - Wrong packet type trying to be issued DATA prt:0 bnk:0 "
                 "row:0 col:0 (1) tag:3\n");
}

// ---------------------------------------------------------------- look-ahead and mirror timing

TEST(LookAheadTest, CountsTheRestOfTheTransaction) {
  CommandQueue q = {Cmd(ACTIVATE, 0, 0, 1, 1), Cmd(READ, 0, 0, 1, 1),
                                 Cmd(READ, 0, 0, 1, 1),     Cmd(READ, 0, 0, 1, 1),
                                 Cmd(PRECHARGE, 0, 0, 1, 1), Cmd(READ, 0, 1, 1, 2)};
  bool keepOpen = true;
  EXPECT_EQ(ReadLookAhead(q, 1, keepOpen), 2u);
  EXPECT_FALSE(keepOpen);
  EXPECT_EQ(ReadLookAhead(q, 3, keepOpen), 0u);
  EXPECT_FALSE(keepOpen);
  CommandQueue atomic = {Cmd(READ, 0, 0, 1, 3), Cmd(WRITE, 0, 0, 1, 3),
                                      Cmd(PRECHARGE, 0, 0, 1, 3)};
  EXPECT_EQ(ReadLookAhead(atomic, 0, keepOpen), 0u);
  EXPECT_TRUE(keepOpen);  // the atomic's WRITE still follows
  EXPECT_EQ(WriteLookAhead(atomic, 1), 0u);
  CommandQueue writes = {Cmd(WRITE, 0, 0, 1, 4), Cmd(WRITE, 0, 0, 1, 4),
                                      Cmd(PRECHARGE, 0, 0, 1, 4), Cmd(WRITE, 0, 0, 1, 4)};
  EXPECT_EQ(WriteLookAhead(writes, 0), 1u);
}

TEST_F(IssueRules, WriteInsideTheCcdWindowPushesSamePartitionBanksToTCCDWP) {
  const sc_time now = between;
  grid(0, 1).nextWrite = now + cfg.tCCD + Ps(1);  // strictly inside (tCCD, tCCDWP)
  grid(0, 2).nextWrite = now + cfg.tCCD;          // on the lower bound: only raised
  grid(0, 3).nextWrite = now + cfg.tCCDWP;        // on the upper bound: kept
  auto at = [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  ApplyWriteTiming(at, Cmd(WRITE, 0, 0, 1, 1), now, 0, t);
  EXPECT_EQ(grid(0, 1).nextWrite, now + cfg.tCCDWP);
  EXPECT_EQ(grid(0, 2).nextWrite, now + cfg.tCCD);
  EXPECT_EQ(grid(0, 3).nextWrite, now + cfg.tCCDWP);
  EXPECT_EQ(grid(0, 1).nextRead, now + cfg.WR_TO_RD_SAME);
  EXPECT_EQ(grid(1, 0).nextWrite, now + cfg.tCCD);
  EXPECT_EQ(grid(1, 0).nextRead, now + cfg.WR_TO_RD_DIFF);
  EXPECT_EQ(grid(0, 0).nextWrite, now + cfg.tCCD);
  EXPECT_EQ(grid(0, 0).nextPre, now + cfg.tWL + cfg.BL + cfg.tWR);
  EXPECT_EQ(grid(0, 0).lastCommand, WRITE);
}

TEST_F(IssueRules, LookAheadKeepsOtherBanksOffTheBusForTheRestOfTheTransaction) {
  const sc_time now = between;
  auto at = [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  ApplyWriteTiming(at, Cmd(WRITE, 0, 0, 1, 1), now, 2, t);
  EXPECT_EQ(grid(0, 1).nextWrite, now + cfg.tCCD * 3.0);
  EXPECT_EQ(grid(0, 1).nextRead, now + cfg.WR_TO_RD_SAME + cfg.tCCD * 2.0);
  EXPECT_EQ(grid(1, 2).nextWrite, now + cfg.tCCD * 3.0);
  EXPECT_EQ(grid(1, 2).nextRead, now + cfg.WR_TO_RD_DIFF + cfg.tCCD * 2.0);

  Grid fresh(cfg.NUM_PARTITIONS, cfg.NUM_BANKS);
  auto at2 = [&fresh](unsigned p, unsigned b) -> FakeBank& { return fresh(p, b); };
  ApplyReadTiming(at2, Cmd(READ, 1, 0, 1, 1), now, 3, false, t);
  EXPECT_EQ(fresh(1, 2).nextRead, now + cfg.tCCD * 4.0);
  EXPECT_EQ(fresh(1, 2).nextWrite, now + cfg.RD_TO_WR_SAME + cfg.tCCD * 3.0);
  EXPECT_EQ(fresh(0, 2).nextRead, now + cfg.tCCD + cfg.tRTR2D + cfg.tCCD * 3.0);
  EXPECT_EQ(fresh(0, 2).nextWrite, now + cfg.RD_TO_WR_DIFF + cfg.tCCD * 3.0);
  // The target itself may take its next READ one tCCD later.
  EXPECT_EQ(fresh(1, 0).nextRead, now + cfg.tCCD);
  EXPECT_EQ(fresh(1, 0).nextWrite, now + cfg.CORE_CLK * 12.0);
  EXPECT_EQ(fresh(1, 0).nextPre, now + cfg.tRTP);
}

TEST_F(IssueRules, ReadInsideTheCcdWindowPushesSamePartitionBanksToTCCDRP) {
  const sc_time now = between;
  grid(0, 1).nextRead = now + cfg.tCCD + Ps(1);
  auto at = [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  ApplyReadTiming(at, Cmd(READ, 0, 0, 1, 1), now, 0, false, t);
  EXPECT_EQ(grid(0, 1).nextRead, now + cfg.tCCDRP);
  EXPECT_EQ(grid(0, 2).nextRead, now + cfg.tCCD);
}

TEST_F(IssueRules, AtomicReadHoldsEveryBankForTheAtomicSpacing) {
  const sc_time now = between;
  auto at = [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  ApplyReadTiming(at, Cmd(READ, 0, 1, 1, 1), now, 0, true, t);
  EXPECT_EQ(grid(1, 3).nextRead, now + cfg.CORE_CLK * 13.0);
  EXPECT_EQ(grid(1, 3).nextWrite, now + cfg.CORE_CLK * 13.0);
  EXPECT_EQ(grid(0, 0).nextWrite, now + cfg.CORE_CLK * 13.0);
  // Its own WRITE may follow after the spacing itself.
  EXPECT_EQ(grid(0, 1).nextWrite, now + cfg.CORE_CLK * 12.0);
  EXPECT_EQ(grid(0, 1).nextRead, now + cfg.tCCD);
}

TEST_F(IssueRules, ActivateAndPrechargeMoveTheirPartitionOnly) {
  const sc_time now = edge;
  auto at = [this](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  ApplyActivateTiming(at, Cmd(ACTIVATE, 1, 2, 77, 1), now, t);
  EXPECT_EQ(grid(1, 0).nextAct, now + cfg.tRRD);
  EXPECT_EQ(grid(1, 0).nextPre, now + cfg.tAPA);
  EXPECT_EQ(grid(1, 0).nextRef, now + cfg.tRRD);
  EXPECT_EQ(grid(0, 0).nextAct, SC_ZERO_TIME);
  EXPECT_EQ(grid(1, 2).nextAct, now + cfg.tRC);
  EXPECT_EQ(grid(1, 2).nextPre, now + cfg.tRAS);
  EXPECT_EQ(grid(1, 2).nextRead, now + cfg.tRCDr);
  EXPECT_EQ(grid(1, 2).nextWrite, now + cfg.tRCDw);
  EXPECT_EQ(grid(1, 2).currentBankState, ROW_ACTIVE);
  EXPECT_EQ(grid(1, 2).openRow, 77u);

  const sc_time later = now + cfg.tRC;
  ApplyPrechargeTiming(at, Cmd(PRECHARGE, 1, 2, 77, 1), later, t);
  EXPECT_EQ(grid(1, 2).currentBankState, PRECHARGING);
  EXPECT_EQ(grid(1, 2).nextAct, later + cfg.tRP);
  EXPECT_EQ(grid(1, 2).nextRef, later + cfg.tRP);
  EXPECT_EQ(grid(1, 1).nextAct, later + cfg.tAPA);
  EXPECT_EQ(grid(0, 1).nextAct, SC_ZERO_TIME);
}

// A refresh may sit in the queue behind another transaction of its bank. When
// that transaction's row has the refresh's row number, the refresh READ must
// still wait for the refresh's own ACTIVATE.
TEST_F(IssueRules, RefreshReadWaitsForItsOwnActivateEvenWhenItsRowIsOpen) {
  const unsigned refresh = 0xFFFFFFFF;
  q = {Cmd(WRITE, 0, 0, 98, 1509), Cmd(PRECHARGE, 0, 0, 98, 1509), Cmd(ACTIVATE, 0, 0, 98, refresh),
       Cmd(READ, 0, 0, 98, refresh), Cmd(PRECHARGE, 0, 0, 98, refresh)};
  OpenRow(0, 0, 98);
  EXPECT_EQ(Ask(3, between), t.fixedWait);
  // Once the refresh's ACTIVATE has gone, its READ is an ordinary column command.
  q.erase(q.begin() + 2);
  EXPECT_EQ(Ask(2, between), SC_ZERO_TIME);
}

// The other way round: a read waits behind a refresh of its bank whose row has
// the read's row number. None of its READs may use the refresh's open row, or
// its data would come in two pieces with other responses between them.
TEST_F(IssueRules, NoReadOfATransactionRunsAheadOfItsOwnActivate) {
  const unsigned refresh = 0xFFFFFFFF;
  q = {Cmd(PRECHARGE, 1, 0, 127, refresh), Cmd(ACTIVATE, 1, 0, 127, 726), Cmd(READ, 1, 0, 127, 726),
       Cmd(READ, 1, 0, 127, 726), Cmd(PRECHARGE, 1, 0, 127, 726)};
  OpenRow(1, 0, 127);
  EXPECT_EQ(Ask(2, between), t.fixedWait);
  EXPECT_EQ(Ask(3, between), t.fixedWait);
  // Entries of an earlier transaction with the same tag (back-to-back refreshes)
  // do not hold a later one back: the scan stops at the earlier PRECHARGE.
  q = {Cmd(ACTIVATE, 1, 1, 5, refresh), Cmd(READ, 1, 1, 5, refresh), Cmd(PRECHARGE, 1, 1, 5, refresh),
       Cmd(READ, 1, 0, 127, refresh), Cmd(PRECHARGE, 1, 0, 127, refresh)};
  EXPECT_EQ(Ask(3, between), SC_ZERO_TIME);
}

// ---------------------------------------------------------------- against the DRAM's own rules

// While one read transaction's READs are under way, no other read transaction's
// READ goes (its data would land inside the first response); refresh and atomic
// READs make no response and may.
TEST_F(IssueRules, ReadsOfOtherReadTransactionsWaitForTheBurstToEnd) {
  const unsigned refresh = 0xFFFFFFFF;
  q = {Cmd(READ, 0, 0, 3, 5), Cmd(PRECHARGE, 0, 0, 3, 5), Cmd(READ, 0, 1, 4, 9),
       Cmd(PRECHARGE, 0, 1, 4, 9), Cmd(READ, 1, 0, 6, refresh), Cmd(PRECHARGE, 1, 0, 6, refresh),
       Cmd(READ, 1, 1, 7, 11), Cmd(WRITE, 1, 1, 7, 11), Cmd(PRECHARGE, 1, 1, 7, 11)};
  OpenRow(0, 0, 3);
  OpenRow(0, 1, 4);
  OpenRow(1, 0, 6);
  OpenRow(1, 1, 7);
  const ReadBurst burst{true, 5};
  EXPECT_EQ(Ask(0, between, burst), SC_ZERO_TIME);  // the burst's own READ
  EXPECT_EQ(Ask(2, between, burst), cfg.tCMD);
  EXPECT_EQ(Ask(4, between, burst), SC_ZERO_TIME);  // refresh
  EXPECT_EQ(Ask(6, between, burst), SC_ZERO_TIME);  // atomic
  EXPECT_EQ(Ask(2, between), SC_ZERO_TIME);         // no burst under way
  // A held READ keeps the estimate of the rule that holds it first.
  grid(0, 1).nextRead = between + Ps(4000);
  EXPECT_EQ(Ask(2, between, burst), Ps(4000));
}

// With tRAS = 0 the "bank not active" estimate of a PRECHARGE is zero; the
// command still waits until the DRAM would take it.
TEST(IssueRulesDram, AZeroEstimateDoesNotIssueACommandTheDramRefuses) {
  Config cfg;
  cfg.tRAS = SC_ZERO_TIME;
  VcTiming t(cfg);
  Grid grid(cfg.NUM_PARTITIONS, cfg.NUM_BANKS);
  CommandQueue q = {Cmd(PRECHARGE, 0, 0, 1, 1)};
  auto at = [&grid](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  EXPECT_EQ(IsIssuable(q, 0, at, Ps(16000), t), cfg.tCMD);
}

TEST(DramRulesTest, ReadsOfAVaultAreTwoCoreCyclesApartOnTheReadDataBus) {
  Config cfg;
  cfg.CORE_CLK = Ps(3200);
  cfg.tCCD = Ps(800);
  DramTiming d(cfg);
  Grid grid(cfg.NUM_PARTITIONS, cfg.NUM_BANKS);
  auto at = [&grid](unsigned p, unsigned b) -> FakeBank& { return grid(p, b); };
  const sc_time now = Ps(16800);
  DramRead<DramUpdate::Exact>(at, Cmd(READ, 0, 1, 1, 1), now, d);
  for (unsigned p = 0; p < cfg.NUM_PARTITIONS; ++p)
    for (unsigned b = 0; b < cfg.NUM_BANKS; ++b) EXPECT_GE(grid(p, b).nextRead, now + Ps(6400));
  EXPECT_EQ(grid(0, 1).nextRead, now + Ps(6400));
}

namespace {

// Random timing values of the kind a configuration may set (validation's
// limits kept: tCMD 0.8 ns, CORE_CLK a multiple of at least 2, tRP at least 3
// core cycles).
void RandomTiming(std::mt19937& rng, Config& cfg) {
  auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
  auto ns = [&pick](double max) { return Ps(400 * static_cast<uint64_t>(pick(int(max / 0.4)))); };
  cfg.CORE_CLK = Ps(800 * (2 + pick(3)));
  cfg.NUM_PARTITIONS = pick(1) ? 4 : 2;
  cfg.tRCDr = ns(30);
  cfg.tRCDw = ns(30);
  cfg.tRAS = ns(40);
  cfg.tRP = cfg.CORE_CLK * 3.0 + ns(20);
  cfg.tRC = ns(60);
  cfg.tCCD = ns(8);
  cfg.tCCDRP = ns(12);
  cfg.tCCDWP = ns(12);
  cfg.tRTR2D = ns(6);
  cfg.tRTP = ns(12);
  cfg.tRRD = ns(8);
  cfg.tAPA = ns(6);
  cfg.tWL = ns(20);
  cfg.tWR = ns(20);
  cfg.RD_TO_WR_SAME = ns(30);
  cfg.RD_TO_WR_DIFF = ns(30);
  cfg.WR_TO_RD_SAME = ns(30);
  cfg.WR_TO_RD_DIFF = ns(30);
  cfg.ATOMICS_SPACING = static_cast<unsigned>(pick(15));
}

std::string Describe(const Config& c) {
  std::ostringstream os;
  os << "CORE_CLK " << c.CORE_CLK << " partitions " << c.NUM_PARTITIONS << " tRCDr " << c.tRCDr
     << " tRCDw " << c.tRCDw << " tRAS " << c.tRAS << " tRP " << c.tRP << " tRC " << c.tRC
     << " tCCD " << c.tCCD << " tCCDRP " << c.tCCDRP << " tCCDWP " << c.tCCDWP << " tRTR2D "
     << c.tRTR2D << " tRTP " << c.tRTP << " tRRD " << c.tRRD << " tAPA " << c.tAPA << " tWL "
     << c.tWL << " tWR " << c.tWR << " RD_TO_WR " << c.RD_TO_WR_SAME << "/" << c.RD_TO_WR_DIFF
     << " WR_TO_RD " << c.WR_TO_RD_SAME << "/" << c.WR_TO_RD_DIFF << " ATOMICS_SPACING "
     << c.ATOMICS_SPACING;
  return os.str();
}

} // namespace

// The controller's mirror and the DRAM's banks see the same random commands:
// every command the controller finds issuable is one the DRAM takes without a
// report, for any timing values, any look-ahead count and atomic or not.
TEST(IssueRulesDram, EveryCommandTheControllerIssuesTheDramTakes) {
  std::mt19937 rng(2026);
  auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n)(rng); };
  for (int round = 0; round < 300; ++round) {
    Config cfg;
    RandomTiming(rng, cfg);
    const VcTiming t(cfg);
    Grid mirror(cfg.NUM_PARTITIONS, cfg.NUM_BANKS), dram(cfg.NUM_PARTITIONS, cfg.NUM_BANKS);
    auto mirrorAt = [&mirror](unsigned p, unsigned b) -> FakeBank& { return mirror(p, b); };
    auto dramAt = [&dram](unsigned p, unsigned b) -> FakeBank& { return dram(p, b); };
    // When each precharging bank turns idle: the mirror three cycles early.
    std::vector<std::pair<sc_time, FakeBank*>> idleAt;
    unsigned issued = 0;
    sc_time now = cfg.tCMD * 8.0;
    for (int step = 0; step < 800; ++step) {
      now += cfg.tCMD * static_cast<double>(1 + pick(3));
      for (auto& [when, bank] : idleAt)
        if (bank && when <= now) {
          bank->currentBankState = IDLE;
          bank = nullptr;
        }
      const unsigned p = static_cast<unsigned>(pick(int(cfg.NUM_PARTITIONS) - 1));
      const unsigned b = static_cast<unsigned>(pick(int(cfg.NUM_BANKS) - 1));
      const FakeBank& m = mirror(p, b);
      const DRAMCommand c = m.currentBankState == IDLE ? ACTIVATE
                            : m.currentBankState != ROW_ACTIVE ? ACTIVATE
                            : pick(3) == 0 ? PRECHARGE
                            : pick(1)      ? READ
                                           : WRITE;
      const DRAMBusPacket e(c, p, b, c == ACTIVATE ? unsigned(pick(7)) : m.openRow, 0, 1,
                            SC_ZERO_TIME);
      const CommandQueue q = {e};
      if (IsIssuable(q, 0, mirrorAt, now, t) != SC_ZERO_TIME) continue;
      ++issued;
      ASSERT_TRUE(DramAccepts(dram(p, b), e, now))
          << "round " << round << " step " << step << " " << e << " at " << now << "\n"
          << Describe(cfg);
      const unsigned k = static_cast<unsigned>(pick(3));
      switch (c) {
      case ACTIVATE:
        ApplyActivateTiming(mirrorAt, e, now, t);
        DramActivate<DramUpdate::Exact>(dramAt, e, now, t.dram);
        break;
      case PRECHARGE:
        ApplyPrechargeTiming(mirrorAt, e, now, t);
        DramPrecharge<DramUpdate::Exact>(dramAt, e, now, t.dram);
        idleAt.emplace_back(now + cfg.tRP - cfg.CORE_CLK * 3.0, &mirror(p, b));
        idleAt.emplace_back(now + cfg.tRP, &dram(p, b));
        break;
      case READ:
        ApplyReadTiming(mirrorAt, e, now, k, pick(1) == 1, t);
        DramRead<DramUpdate::Exact>(dramAt, e, now, t.dram);
        break;
      default:
        ApplyWriteTiming(mirrorAt, e, now, k, t);
        DramWrite<DramUpdate::Exact>(dramAt, e, now, t.dram);
        break;
      }
    }
    EXPECT_GT(issued, 50u) << "round " << round << " issues too little to test anything";
  }
}
