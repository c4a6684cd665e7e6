#include "quor2_bank.h"

#include <iostream>

namespace Orvane::Internal::QUOR2 {

quor2_bank::quor2_bank(sc_core::sc_module_name name) : sc_core::sc_module(name) {
  SC_METHOD(UpdateBankStates);
  sensitive << stateChangeEvent;
  dont_initialize();
}

void quor2_bank::UpdateBankStates() {
  if (lastCommand == PRECHARGE) {
    currentBankState = IDLE;
    bankInUse = false;
  } else if (lastCommand == REFRESH) {
    currentBankState = IDLE;
    refreshWaiting = false;
  } else {
    std::cout << "== ERROR - In " << name()
              << " updating bankState from wrong state - Last command : "
              << static_cast<int>(lastCommand)
              << "\tCurrent State : " << static_cast<int>(currentBankState) << std::endl;
  }
}

} // namespace Orvane::Internal::QUOR2
