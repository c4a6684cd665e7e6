// One DRAM bank's state and timing. The vault keeps the true banks; each vault
// controller keeps a mirror of every bank to decide when a command may issue.
// States: IDLE -> ROW_ACTIVE (activate); any -> PRECHARGING (precharge) -> IDLE
// (stateChangeEvent); any -> REFRESHING (refresh) -> IDLE (stateChangeEvent).
#ifndef QUOR2_BANK_H
#define QUOR2_BANK_H

#include "quor2_dram_bus_packet.h"
#include "quor2_ordered_event.h"
#include "quor2_utils.h"

#include <systemc>

#include <algorithm>

namespace Orvane::Internal::QUOR2 {

enum BankState { ROW_ACTIVE = 0, PRECHARGING = 1, REFRESHING = 2, IDLE = 3 };

class quor2_bank : public sc_core::sc_module {
public:
  BankState currentBankState = IDLE;
  uint32_t openRow = 0;
  sc_core::sc_time nextAct;
  sc_core::sc_time nextRead;
  sc_core::sc_time nextWrite;
  sc_core::sc_time nextPre;
  sc_core::sc_time nextRef;
  DRAMCommand lastCommand = DATA;
  OrderedEvent stateChangeEvent;
  bool refreshWaiting = false;
  bool bankInUse = false;

  SC_HAS_PROCESS(quor2_bank);
  explicit quor2_bank(sc_core::sc_module_name name);

  void UpdateBankStates();
};

// Raises t to at least floor (t = max(t, floor)).
inline void RaiseTo(sc_core::sc_time& t, const sc_core::sc_time& floor) {
  if (t < floor) t = floor;
}

// ------------------------------------------------------------------ DRAM rules
// What a command does to bank timing and when a bank takes a command, as the
// DRAM itself applies them. The vault applies them exactly to its banks. The
// controller applies them to its mirror banks as a floor under its own stricter
// rules and asks DramAccepts before it issues, so the two cannot disagree.
// Banks are reached through bankAt(partition, bank).

struct DramTiming {
  sc_core::sc_time tRRD, tAPA, tRC, tRAS, tRCDr, tRCDw, tRP, tCCD, tRTR2D, tRTP, tWL, BL, tWR,
      rdToWrSame, rdToWrDiff, wrToRdSame, wrToRdDiff;
  // A READ returns two data packets one core cycle apart on the one read-data
  // bus, and the controller takes one packet per core cycle: the next READ of
  // the vault may come two cycles later at the earliest.
  sc_core::sc_time readDataBusy;
  unsigned numPartitions, numBanks;

  explicit DramTiming(const Config& cfg);
};

// Exact: the DRAM's own update. AtLeast: every assignment becomes a raise, so
// a mirror that is never earlier than the DRAM stays so.
enum class DramUpdate { Exact, AtLeast };

namespace dram_detail {
template <DramUpdate mode>
inline void Set(sc_core::sc_time& t, const sc_core::sc_time& value) {
  if constexpr (mode == DramUpdate::Exact)
    t = value;
  else
    RaiseTo(t, value);
}
} // namespace dram_detail

template <DramUpdate mode, class BankAt>
void DramActivate(BankAt&& bankAt, const DRAMBusPacket& p, const sc_core::sc_time& now,
                  const DramTiming& t) {
  for (unsigned b = 0; b < t.numBanks; ++b) {
    auto& bank = bankAt(p.partition, b);
    RaiseTo(bank.nextAct, now + t.tRRD);
    RaiseTo(bank.nextPre, now + t.tAPA);
  }
  auto& bank = bankAt(p.partition, p.bank);
  dram_detail::Set<mode>(bank.nextAct, now + t.tRC);
  bank.currentBankState = ROW_ACTIVE;
  bank.lastCommand = ACTIVATE;
  dram_detail::Set<mode>(bank.nextPre, now + t.tRAS);
  dram_detail::Set<mode>(bank.nextRef, now + t.tRC);
  RaiseTo(bank.nextRead, now + t.tRCDr);
  RaiseTo(bank.nextWrite, now + t.tRCDw);
  bank.openRow = p.row;
}

// The state change to IDLE, tRP later, is the caller's timed event.
template <DramUpdate mode, class BankAt>
void DramPrecharge(BankAt&& bankAt, const DRAMBusPacket& p, const sc_core::sc_time& now,
                   const DramTiming& t) {
  for (unsigned b = 0; b < t.numBanks; ++b) RaiseTo(bankAt(p.partition, b).nextAct, now + t.tAPA);
  auto& bank = bankAt(p.partition, p.bank);
  bank.currentBankState = PRECHARGING;
  bank.lastCommand = PRECHARGE;
  RaiseTo(bank.nextAct, now + t.tRP);
  RaiseTo(bank.nextRef, now + t.tRP);
}

template <DramUpdate mode, class BankAt>
void DramRead(BankAt&& bankAt, const DRAMBusPacket& p, const sc_core::sc_time& now,
              const DramTiming& t) {
  for (unsigned part = 0; part < t.numPartitions; ++part) {
    const bool same = part == p.partition;
    for (unsigned b = 0; b < t.numBanks; ++b) {
      auto& bank = bankAt(part, b);
      RaiseTo(bank.nextRead, now + (same ? t.tCCD : t.tRTR2D + t.tCCD));
      RaiseTo(bank.nextRead, now + t.readDataBusy);
      RaiseTo(bank.nextWrite, now + (same ? t.rdToWrSame : t.rdToWrDiff));
    }
  }
  auto& bank = bankAt(p.partition, p.bank);
  dram_detail::Set<mode>(bank.nextRead, std::max(now + t.tCCD, now + t.readDataBusy));
  bank.lastCommand = READ;
  RaiseTo(bank.nextPre, now + t.tRTP);
}

template <DramUpdate mode, class BankAt>
void DramWrite(BankAt&& bankAt, const DRAMBusPacket& p, const sc_core::sc_time& now,
               const DramTiming& t) {
  for (unsigned part = 0; part < t.numPartitions; ++part) {
    const bool same = part == p.partition;
    for (unsigned b = 0; b < t.numBanks; ++b) {
      auto& bank = bankAt(part, b);
      RaiseTo(bank.nextRead, now + (same ? t.wrToRdSame : t.wrToRdDiff));
      RaiseTo(bank.nextWrite, now + t.tCCD);
    }
  }
  auto& bank = bankAt(p.partition, p.bank);
  dram_detail::Set<mode>(bank.nextWrite, now + t.tCCD);
  bank.lastCommand = WRITE;
  RaiseTo(bank.nextPre, now + t.tWL + t.BL + t.tWR);
}

// Whether the bank is in the state command p needs: IDLE for ACTIVATE and
// REFRESH, an open row reached by a column command for PRECHARGE, p's row open
// for READ and WRITE.
template <class Bank>
bool DramStateAllows(const Bank& b, const DRAMBusPacket& p) {
  switch (p.command) {
  case ACTIVATE:
  case REFRESH: return b.currentBankState == IDLE;
  case PRECHARGE:
    return b.currentBankState == ROW_ACTIVE && (b.lastCommand == READ || b.lastCommand == WRITE);
  case READ:
  case WRITE: return b.currentBankState == ROW_ACTIVE && b.openRow == p.row;
  default: return false;
  }
}

// Earliest time the bank takes command c.
template <class Bank>
const sc_core::sc_time& DramEarliest(const Bank& b, DRAMCommand c) {
  switch (c) {
  case ACTIVATE: return b.nextAct;
  case PRECHARGE: return b.nextPre;
  case REFRESH: return b.nextRef;
  case READ: return b.nextRead;
  default: return b.nextWrite;
  }
}

// True when the DRAM takes p at now without reporting it.
template <class Bank>
bool DramAccepts(const Bank& b, const DRAMBusPacket& p, const sc_core::sc_time& now) {
  return DramStateAllows(b, p) && now >= DramEarliest(b, p.command);
}

} // namespace Orvane::Internal::QUOR2

#endif
