// The vault controller's decisions that need no kernel: the address map, how
// many column accesses and write-data credits a request costs, the refresh
// interval, whether a queued DRAM command may issue now, and how issuing a
// command moves the mirror banks' timing. Bank grids are reached through an
// accessor bankAt(partition, bank) returning a bank-like object (quor2_bank or
// a plain record with the same timing members), so all of it is testable
// without a simulation.
#ifndef QUOR2_VAULT_CONTROLLER_RULES_H
#define QUOR2_VAULT_CONTROLLER_RULES_H

#include "quor2_bank.h"
#include "quor2_clock.h"
#include "quor2_dram_bus_packet.h"
#include "quor2_flit_p.h"
#include "quor2_utils.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <iostream>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// A vault controller's queue of DRAM commands: a few dozen entries at most,
// scanned in order at every command slot, so a vector (erase in the middle
// included) serves it faster than a deque.
using CommandQueue = std::vector<DRAMBusPacket>;

// Tag of the three commands that carry out one refresh.
constexpr uint32_t kRefreshTag = 0xFFFFFFFF;

// Splits a physical address into partition, bank, row and column (column in
// units of BYTE_OFFSET bytes). Fields from bit 0 upward: byte offset, column low
// part, vault, bank, partition, column high part, row.
class VaultAddressMap {
public:
  unsigned byteOffset;
  unsigned vaultBitWidth;
  unsigned partitionBitWidth;
  unsigned bankBitWidth;
  unsigned rowBitWidth;
  unsigned colHighBitWidth;
  unsigned colLowBitWidth;

  explicit VaultAddressMap(const Config& cfg);

  void Map(uint64_t physicalAddress, unsigned& partition, unsigned& bank, unsigned& row,
           unsigned& col) const;
};

// Column accesses of a request: length / accessLength rounded up, one more when
// an exact multiple starts at an odd column (the access straddles a boundary).
unsigned ColumnAccessCount(unsigned requestLength, unsigned col, unsigned columnAccessLength);

// Write-data credits a write or atomic gives back: exactly what the link switch
// spent on the packet.
unsigned WriteDataCreditCount(QUORCommand command, unsigned requestLength, unsigned flitSize);

// Time between refreshes: every row of the vault once per 32 ms, or per 16 ms
// above 94 degrees C, rounded to the nearest kernel tick.
sc_core::sc_time RefreshInterval(unsigned tj, unsigned numBanks, unsigned numRows,
                                 unsigned numPartitions, unsigned psScaleFactor);

// The timing the controller schedules with, taken from Config once.
struct VcTiming {
  sc_core::sc_time coreClk, tCMD, tRP, tRAS, tRC, tRCDr, tRCDw, tRTP, tRRD, tAPA, tCCD, tCCDRP,
      tCCDWP, tRTR2D, tWL, BL, tWR, rdToWrSame, rdToWrDiff, wrToRdSame, wrToRdDiff;
  sc_core::sc_time atomicSpacing;      // ATOMICS_SPACING cycles
  sc_core::sc_time atomicSpacingNext;  // ATOMICS_SPACING + 1 cycles
  sc_core::sc_time fixedWait;          // the 100 ns answer of the ordering rules
  unsigned numPartitions, numBanks;
  DramTiming dram;                     // what the DRAM itself holds the mirror to

  explicit VcTiming(const Config& cfg);

  sc_core::sc_time CcdTimes(unsigned k) const {
    return TimeOfValue(tCCD.value() * k);
  }
};

// The read transaction whose READs are under way. Its data comes back in the
// order of the READs and its response leaves packet by packet, so no other read
// transaction's READ may go before its last one: responses never interleave.
struct ReadBurst {
  bool active = false;
  uint32_t tag = 0;
};

template <class BankAt>
sc_core::sc_time IsIssuable(const CommandQueue& queue, size_t i, BankAt&& bankAt,
                            const sc_core::sc_time& now, const VcTiming& t,
                            const ReadBurst& burst = ReadBurst{});

// True when a READ or WRITE after entry i may issue now; the scan stops at the
// first one that may.
template <class BankAt>
bool LaterColumnIssuable(const CommandQueue& queue, size_t i, BankAt&& bankAt,
                         const sc_core::sc_time& now, const VcTiming& t, const ReadBurst& burst) {
  for (size_t j = i + 1; j < queue.size(); ++j) {
    const DRAMCommand c = queue[j].command;
    if ((c == READ || c == WRITE) &&
        IsIssuable(queue, j, bankAt, now, t, burst) == sc_core::SC_ZERO_TIME)
      return true;
  }
  return false;
}

// True when queue[i] is a READ whose data makes a response: not a refresh's,
// not an atomic's (its WRITE follows it directly).
inline bool ReadOfAReadTransaction(const CommandQueue& queue, size_t i) {
  const DRAMBusPacket& e = queue[i];
  if (e.command != READ || e.tag == kRefreshTag) return false;
  return !(i + 1 < queue.size() && queue[i + 1].tag == e.tag && queue[i + 1].command == WRITE);
}

// True when the ACTIVATE of queue[i]'s own transaction is still queued before it.
// A transaction's entries are contiguous and end with its PRECHARGE.
inline bool OwnActivateQueued(const CommandQueue& queue, size_t i) {
  const uint32_t tag = queue[i].tag;
  for (size_t j = i; j > 0 && queue[j - 1].tag == tag && queue[j - 1].command != PRECHARGE; --j)
    if (queue[j - 1].command == ACTIVATE) return true;
  return false;
}

// How long queue[i] waits by the scheduling rules (an estimate, zero when they
// let it go now). The first rule that applies decides.
template <class BankAt>
sc_core::sc_time ScheduleWait(const CommandQueue& queue, size_t i, BankAt&& bankAt,
                              const sc_core::sc_time& now, const VcTiming& t,
                              const ReadBurst& burst) {
  const DRAMBusPacket& e = queue[i];
  const bool sameTagBefore = i > 0 && queue[i - 1].tag == e.tag;
  switch (e.command) {
  case ACTIVATE: {
    const auto& b = bankAt(e.partition, e.bank);
    if (b.currentBankState != IDLE) return t.tRP;
    if (now < b.nextAct) return b.nextAct - now;
    if (!IsOnEdge(now, t.coreClk)) return t.tCMD;
    if (e.readyTime > now) return e.readyTime - now;
    if (LaterColumnIssuable(queue, i, bankAt, now, t, burst)) return t.fixedWait;
    return sc_core::SC_ZERO_TIME;
  }
  case PRECHARGE: {
    const auto& b = bankAt(e.partition, e.bank);
    if (b.currentBankState != ROW_ACTIVE) return t.tRAS;
    if (sameTagBefore) return t.fixedWait;
    if (now < b.nextPre) return b.nextPre - now;
    if (!IsOnEdge(now, t.coreClk)) return t.tCMD;
    if (LaterColumnIssuable(queue, i, bankAt, now, t, burst)) return t.fixedWait;
    return sc_core::SC_ZERO_TIME;
  }
  case READ: {
    const auto& b = bankAt(e.partition, e.bank);
    if (b.currentBankState != ROW_ACTIVE) return t.fixedWait;
    if (b.openRow != e.row) return t.tRCDr + t.tRTP + t.tRP;
    // A refresh is admitted even while another transaction holds its bank, so
    // a row with the same number may be open for the other one. A READ never uses
    // it before its own transaction's ACTIVATE: the refresh's PRECHARGE would
    // follow a bare ACTIVATE, or a read's data would come in two pieces with
    // another response between them.
    if (OwnActivateQueued(queue, i)) return t.fixedWait;
    if (now < b.nextRead) return b.nextRead - now;
    if (IsOnEdge(now, t.coreClk)) return t.tCMD;
    // Held only when it could otherwise go now, so waiting estimates stay as
    // they were.
    if (burst.active && burst.tag != e.tag && ReadOfAReadTransaction(queue, i)) return t.tCMD;
    return sc_core::SC_ZERO_TIME;
  }
  case WRITE: {
    const auto& b = bankAt(e.partition, e.bank);
    if (b.currentBankState != ROW_ACTIVE) return t.fixedWait;
    if (b.openRow != e.row) return t.tRCDw + t.tRTP + t.tRP;
    if (sameTagBefore) return t.fixedWait;
    if (now < b.nextWrite) return b.nextWrite - now;
    if (IsOnEdge(now, t.coreClk)) return t.tCMD;
    return sc_core::SC_ZERO_TIME;
  }
  default:
    std::cout << "=[" << now << "]= ERROR - Wrong packet type trying to be issued " << e
              << std::endl;
    return sc_core::SC_ZERO_TIME;
  }
}

// Zero when queue[i] may issue at now, otherwise how long to wait (an estimate).
// A command the scheduling rules let go must also be one the DRAM takes without
// a report (a rule's estimate can be zero, e.g. tRAS = 0, while the bank is not
// ready); otherwise it waits a command slot.
template <class BankAt>
sc_core::sc_time IsIssuable(const CommandQueue& queue, size_t i, BankAt&& bankAt,
                            const sc_core::sc_time& now, const VcTiming& t,
                            const ReadBurst& burst) {
  const sc_core::sc_time w = ScheduleWait(queue, i, bankAt, now, t, burst);
  if (w != sc_core::SC_ZERO_TIME) return w;
  const DRAMBusPacket& e = queue[i];
  const bool command =
      e.command == ACTIVATE || e.command == PRECHARGE || e.command == READ || e.command == WRITE;
  if (command && !DramAccepts(bankAt(e.partition, e.bank), e, now)) return t.tCMD;
  return sc_core::SC_ZERO_TIME;
}

// READs of the same transaction still queued after entry i (k), and whether any
// other non-PRECHARGE command of it follows (keepOpen).
unsigned ReadLookAhead(const CommandQueue& queue, size_t i, bool& keepOpen);

// WRITEs of the same transaction directly following entry i.
unsigned WriteLookAhead(const CommandQueue& queue, size_t i);

// Mirror timing after an ACTIVATE of e at now.
template <class BankAt>
void ApplyActivateTiming(BankAt&& bankAt, const DRAMBusPacket& e, const sc_core::sc_time& now,
                         const VcTiming& t) {
  for (unsigned b = 0; b < t.numBanks; ++b) {
    auto& bank = bankAt(e.partition, b);
    RaiseTo(bank.nextPre, now + t.tAPA);
    RaiseTo(bank.nextAct, now + t.tRRD);
    RaiseTo(bank.nextRef, now + t.tRRD);
  }
  auto& target = bankAt(e.partition, e.bank);
  RaiseTo(target.nextRead, now + t.tRCDr);
  RaiseTo(target.nextWrite, now + t.tRCDw);
  target.nextAct = now + t.tRC;
  target.nextRef = now + t.tRC;
  target.nextPre = now + t.tRAS;
  target.currentBankState = ROW_ACTIVE;
  target.lastCommand = ACTIVATE;
  target.openRow = e.row;
  DramActivate<DramUpdate::AtLeast>(bankAt, e, now, t.dram);
}

// Mirror timing after a PRECHARGE of e at now (the state change to IDLE is the
// caller's timed event). The mirror adds nothing to the DRAM's own rule here.
template <class BankAt>
void ApplyPrechargeTiming(BankAt&& bankAt, const DRAMBusPacket& e, const sc_core::sc_time& now,
                          const VcTiming& t) {
  DramPrecharge<DramUpdate::AtLeast>(bankAt, e, now, t.dram);
}

// Mirror timing after a READ of e at now, with k more READs of the transaction
// to follow: the k*tCCD terms keep other banks off the data bus meanwhile.
// Every rule ends with the DRAM's own update as a floor, so the mirror is never
// earlier than the DRAM whatever the timing values.
template <class BankAt>
void ApplyReadTiming(BankAt&& bankAt, const DRAMBusPacket& e, const sc_core::sc_time& now,
                     unsigned k, bool atomic, const VcTiming& t) {
  const sc_core::sc_time kCcd = t.CcdTimes(k);
  // The DRAM only raises the target's next WRITE on a READ; the spacing below
  // is assigned and may be shorter than what the bank already had.
  const sc_core::sc_time targetWriteBefore = bankAt(e.partition, e.bank).nextWrite;
  for (unsigned p = 0; p < t.numPartitions; ++p) {
    for (unsigned b = 0; b < t.numBanks; ++b) {
      auto& bank = bankAt(p, b);
      if (atomic) {
        RaiseTo(bank.nextRead, now + t.atomicSpacingNext);
        RaiseTo(bank.nextWrite, now + t.atomicSpacingNext);
      } else if (p != e.partition) {
        RaiseTo(bank.nextRead, now + t.tCCD + t.tRTR2D + kCcd);
        RaiseTo(bank.nextWrite, now + t.rdToWrDiff + kCcd);
      } else {
        if (now + t.tCCD < bank.nextRead && bank.nextRead < now + t.tCCDRP)
          bank.nextRead = now + t.tCCDRP;
        else
          RaiseTo(bank.nextRead, now + t.tCCD + kCcd);
        RaiseTo(bank.nextWrite, now + t.rdToWrSame + kCcd);
      }
    }
  }
  auto& target = bankAt(e.partition, e.bank);
  target.nextRead = now + t.tCCD;
  target.lastCommand = READ;
  target.nextWrite = now + t.atomicSpacing;
  RaiseTo(target.nextPre, now + t.tRTP);
  DramRead<DramUpdate::AtLeast>(bankAt, e, now, t.dram);
  RaiseTo(target.nextWrite, targetWriteBefore);
}

// Mirror timing after a WRITE of e at now, with k more WRITEs of the
// transaction to follow.
template <class BankAt>
void ApplyWriteTiming(BankAt&& bankAt, const DRAMBusPacket& e, const sc_core::sc_time& now,
                      unsigned k, const VcTiming& t) {
  const sc_core::sc_time kCcd = t.CcdTimes(k);
  for (unsigned p = 0; p < t.numPartitions; ++p) {
    for (unsigned b = 0; b < t.numBanks; ++b) {
      auto& bank = bankAt(p, b);
      if (p != e.partition) {
        RaiseTo(bank.nextWrite, now + t.tCCD + kCcd);
        RaiseTo(bank.nextRead, now + t.wrToRdDiff + kCcd);
      } else {
        if (now + t.tCCD < bank.nextWrite && bank.nextWrite < now + t.tCCDWP)
          bank.nextWrite = now + t.tCCDWP;
        else
          RaiseTo(bank.nextWrite, now + t.tCCD + kCcd);
        RaiseTo(bank.nextRead, now + t.wrToRdSame + kCcd);
      }
    }
  }
  auto& target = bankAt(e.partition, e.bank);
  target.nextWrite = now + t.tCCD;
  RaiseTo(target.nextPre, now + t.tWL + t.BL + t.tWR);
  target.lastCommand = WRITE;
  DramWrite<DramUpdate::AtLeast>(bankAt, e, now, t.dram);
}

} // namespace Orvane::Internal::QUOR2

#endif
