#include "quor2_slice.h"

#include "quor2_vault.h"
#include "quor2_vault_controller.h"

#include <iostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

quor2_slice::quor2_slice(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                         unsigned id)
    : sc_core::sc_module(name), flitsOutToVSW("flitsOutToVSW"), flitsInFromLSW("flitsInFromLSW"),
      commandCreditReturn("commandCreditReturn"), responseCreditReturn("responseCreditReturn"),
      writeDataCreditReturn("writeDataCreditReturn"), dataBusToDRAM("dataBusToDRAM"),
      dataBusFromDRAM("dataBusFromDRAM"), commandBus("commandBus"), cfg(cfg), stats(stats),
      id(id) {
  m_vault = new quor2_vault(("vault" + std::to_string(id)).c_str(), cfg, stats, id);
  m_vaultController =
      new quor2_vault_controller(("vaultController" + std::to_string(id)).c_str(), cfg, stats, id);

  flitsInFromLSW.init(cfg.FLITS_IN_PER_CYCLE_VC);
  flitsOutToVSW.init(cfg.FLITS_OUT_PER_CYCLE_VC);

  m_vaultController->flitsOutToVSW.bind(flitsOutToVSW);
  m_vaultController->flitsInFromLSW.bind(flitsInFromLSW);
  m_vaultController->commandCreditReturn.bind(commandCreditReturn);
  m_vaultController->responseCreditReturn.bind(responseCreditReturn);
  m_vaultController->writeDataCreditReturn.bind(writeDataCreditReturn);

  m_vaultController->tsvCommandBus.bind(commandBus);
  m_vault->tsvCommandBus.bind(commandBus);
  m_vaultController->tsvDataOut.bind(dataBusToDRAM);
  m_vault->tsvDataIn.bind(dataBusToDRAM);
  m_vault->tsvDataOut.bind(dataBusFromDRAM);
  m_vaultController->tsvDataIn.bind(dataBusFromDRAM);
}

void quor2_slice::DumpState() {
  std::cout << "== Slice" << id << std::endl;
  m_vaultController->DumpState();
}

void quor2_slice::CheckAtRest(RestCheck& check) const { m_vaultController->CheckAtRest(check); }

} // namespace Orvane::Internal::QUOR2
