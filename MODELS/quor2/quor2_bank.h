// One DRAM bank's state and timing. The vault keeps the true banks; each vault
// controller keeps a mirror of every bank to decide when a command may issue.
// States: IDLE -> ROW_ACTIVE (activate); any -> PRECHARGING (precharge) -> IDLE
// (stateChangeEvent); any -> REFRESHING (refresh) -> IDLE (stateChangeEvent).
#ifndef QUOR2_BANK_H
#define QUOR2_BANK_H

#include "quor2_dram_bus_packet.h"

#include <systemc>

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
  sc_core::sc_event stateChangeEvent;
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

} // namespace Orvane::Internal::QUOR2

#endif
