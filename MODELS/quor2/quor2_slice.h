// One vault: a vault controller joined to the vault's DRAM by the three TSV
// buses (commands and write data down, read data up).
#ifndef QUOR2_SLICE_H
#define QUOR2_SLICE_H

#include "quor2_dram_bus_packet.h"
#include "quor2_flit_p.h"
#include "quor2_ports.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

namespace Orvane::Internal::QUOR2 {

class quor2_vault;
class quor2_vault_controller;

class quor2_slice : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> flitsOutToVSW;
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> flitsInFromLSW;
  sc_core::sc_out<bool> commandCreditReturn;
  sc_core::sc_in<int> responseCreditReturn;
  sc_core::sc_out<int> writeDataCreditReturn;

  InnerSignal<DRAMBusPacket> dataBusToDRAM;
  InnerSignal<DRAMBusPacket> dataBusFromDRAM;
  InnerSignal<DRAMBusPacket> commandBus;

  quor2_vault* m_vault;
  quor2_vault_controller* m_vaultController;

  const Config& cfg;
  StatsKeeper& stats;
  unsigned id;

  quor2_slice(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats, unsigned id);

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;
};

} // namespace Orvane::Internal::QUOR2

#endif
