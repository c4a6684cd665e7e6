#include "quor2_vault_controller_rules.h"

namespace Orvane::Internal::QUOR2 {

namespace {
// a - b, or 0 when b is larger (only an unvalidated geometry gets there).
unsigned Difference(unsigned a, unsigned b) { return a > b ? a - b : 0; }

uint64_t Field(uint64_t& rest, unsigned width) {
  const uint64_t value = width >= 64 ? rest : rest & ((uint64_t{1} << width) - 1);
  rest = width >= 64 ? 0 : rest >> width;
  return value;
}
} // namespace

VaultAddressMap::VaultAddressMap(const Config& cfg)
    : byteOffset(log2(cfg.BYTE_OFFSET)),
      vaultBitWidth(log2(cfg.NUM_VAULTS)),
      partitionBitWidth(log2(cfg.NUM_PARTITIONS)),
      bankBitWidth(log2(cfg.NUM_BANKS)),
      rowBitWidth(log2(cfg.NUM_ROWS)),
      colHighBitWidth(Difference(log2(cfg.NUM_COLS) + log2(cfg.BYTE_OFFSET),
                                 log2(cfg.MAX_BLOCK_SIZE))),
      colLowBitWidth(Difference(log2(cfg.MAX_BLOCK_SIZE), log2(cfg.BYTE_OFFSET))) {}

void VaultAddressMap::Map(uint64_t physicalAddress, unsigned& partition, unsigned& bank,
                          unsigned& row, unsigned& col) const {
  uint64_t rest = physicalAddress;
  Field(rest, byteOffset);
  const uint64_t colLow = Field(rest, colLowBitWidth);
  Field(rest, vaultBitWidth);
  bank = static_cast<unsigned>(Field(rest, bankBitWidth));
  partition = static_cast<unsigned>(Field(rest, partitionBitWidth));
  const uint64_t colHigh = Field(rest, colHighBitWidth);
  row = static_cast<unsigned>(Field(rest, rowBitWidth));
  col = static_cast<unsigned>(colLow + (colHigh << colLowBitWidth));
}

unsigned ColumnAccessCount(unsigned requestLength, unsigned col, unsigned columnAccessLength) {
  unsigned n = (requestLength + columnAccessLength - 1) / columnAccessLength;
  if (requestLength % columnAccessLength == 0 && col % 2 == 1) ++n;
  return n;
}

unsigned WriteDataCreditCount(QUORCommand command, unsigned requestLength, unsigned flitSize) {
  if (IsAtomic(command)) return 2;
  return requestLength / flitSize + (requestLength % 32 != 0 ? 1 : 0);
}

sc_core::sc_time RefreshInterval(unsigned tj, unsigned numBanks, unsigned numRows,
                                 unsigned numPartitions, unsigned psScaleFactor) {
  const uint64_t windowPs = tj > 94 ? 16000000000ull : 32000000000ull;
  const uint64_t rows = uint64_t{numBanks} * numRows * numPartitions;
  if (rows == 0) return sc_core::SC_ZERO_TIME;
  const uint64_t ticks = windowPs * psScaleFactor;
  return TimeOfValue((ticks + rows / 2) / rows);
}

VcTiming::VcTiming(const Config& cfg)
    : coreClk(cfg.CORE_CLK), tCMD(cfg.tCMD), tRP(cfg.tRP), tRAS(cfg.tRAS), tRC(cfg.tRC),
      tRCDr(cfg.tRCDr), tRCDw(cfg.tRCDw), tRTP(cfg.tRTP), tRRD(cfg.tRRD), tAPA(cfg.tAPA),
      tCCD(cfg.tCCD), tCCDRP(cfg.tCCDRP), tCCDWP(cfg.tCCDWP), tRTR2D(cfg.tRTR2D), tWL(cfg.tWL),
      BL(cfg.BL), tWR(cfg.tWR), rdToWrSame(cfg.RD_TO_WR_SAME), rdToWrDiff(cfg.RD_TO_WR_DIFF),
      wrToRdSame(cfg.WR_TO_RD_SAME), wrToRdDiff(cfg.WR_TO_RD_DIFF),
      atomicSpacing(Cycles(cfg.CORE_CLK, cfg.ATOMICS_SPACING)),
      atomicSpacingNext(Cycles(cfg.CORE_CLK, uint64_t{cfg.ATOMICS_SPACING} + 1)),
      fixedWait(100, sc_core::SC_NS), numPartitions(cfg.NUM_PARTITIONS),
      numBanks(cfg.NUM_BANKS), dram(cfg) {}

unsigned ReadLookAhead(const CommandQueue& queue, size_t i, bool& keepOpen) {
  keepOpen = false;
  unsigned k = 0;
  const uint32_t tag = queue[i].tag;
  for (size_t j = i + 1; j < queue.size() && queue[j].tag == tag; ++j) {
    if (queue[j].command == READ)
      ++k;
    else if (queue[j].command == PRECHARGE)
      break;
    else
      keepOpen = true;
  }
  return k;
}

unsigned WriteLookAhead(const CommandQueue& queue, size_t i) {
  unsigned k = 0;
  const uint32_t tag = queue[i].tag;
  for (size_t j = i + 1; j < queue.size() && queue[j].tag == tag && queue[j].command == WRITE; ++j)
    ++k;
  return k;
}

} // namespace Orvane::Internal::QUOR2
