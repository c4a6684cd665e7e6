#include "quor2_bank.h"

#include "quor2_clock.h"

#include <iostream>

namespace Orvane::Internal::QUOR2 {

DramTiming::DramTiming(const Config& cfg)
    : tRRD(cfg.tRRD), tAPA(cfg.tAPA), tRC(cfg.tRC), tRAS(cfg.tRAS), tRCDr(cfg.tRCDr),
      tRCDw(cfg.tRCDw), tRP(cfg.tRP), tCCD(cfg.tCCD), tRTR2D(cfg.tRTR2D), tRTP(cfg.tRTP),
      tWL(cfg.tWL), BL(cfg.BL), tWR(cfg.tWR), rdToWrSame(cfg.RD_TO_WR_SAME),
      rdToWrDiff(cfg.RD_TO_WR_DIFF), wrToRdSame(cfg.WR_TO_RD_SAME), wrToRdDiff(cfg.WR_TO_RD_DIFF),
      readDataBusy(Cycles(cfg.CORE_CLK, 2)), numPartitions(cfg.NUM_PARTITIONS),
      numBanks(cfg.NUM_BANKS) {}

quor2_bank::quor2_bank(sc_core::sc_module_name name) : sc_core::sc_module(name) {
  SC_METHOD(UpdateBankStates);
  sensitive << stateChangeEvent;
  dont_initialize();
  stateChangeEvent.DueRuns<&quor2_bank::UpdateBankStates>(this);
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
