// The DRAM dies of one vault: the receiving end of the slice's TSV buses. It
// keeps the true state and timing of every bank, reports every command the
// controller sends against those rules, applies the command anyway, and returns
// two read-data packets per column read a fixed latency later. No data is stored.
#ifndef QUOR2_VAULT_H
#define QUOR2_VAULT_H

#include "quor2_event_queue.h"
#include "quor2_bank.h"
#include "quor2_dram_bus_packet.h"
#include "quor2_utils.h"

#include <systemc>

#include <deque>
#include <memory>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_vault : public sc_core::sc_module {
public:
  sc_core::sc_in<DRAMBusPacket> tsvCommandBus;
  sc_core::sc_in<DRAMBusPacket> tsvDataIn;
  sc_core::sc_out<DRAMBusPacket> tsvDataOut;

  const Config& cfg;
  StatsKeeper& stats;
  const unsigned id;

  // One notification per read-data packet still to be sent.
  EventQueue responseDataEvent;
  // A command on the bus is taken tCMD after it appears; the bus is not
  // watched in between (commandPending).
  OrderedEvent commandWake;
  bool commandPending = false;
  std::deque<DRAMBusPacket> readResponseQueue;
  // [partition][bank], named "v_bank<p><b>".
  std::vector<std::vector<std::unique_ptr<quor2_bank>>> banks;

  SC_HAS_PROCESS(quor2_vault);
  quor2_vault(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats, unsigned id);

  void ReceiveCommand();
  void TakeCommand();
  void ResponseDataThread();

  // Checks one command against the bank rules (printing each violation), then
  // applies it as the DRAM would. now is the time the command is seen.
  void HandleCommand(const DRAMBusPacket& p, const sc_core::sc_time& now);

private:
  DramTiming dram;

  // The bank grid as the shared DRAM rules reach it.
  auto BankAt() {
    return [this](unsigned p, unsigned b) -> quor2_bank& { return *banks[p][b]; };
  }
  void CheckCommand(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void ApplyActivate(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void ApplyPrecharge(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void ApplyRefresh(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void ApplyRead(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void ApplyWrite(const DRAMBusPacket& p, const sc_core::sc_time& now);
  void QueueReadData(const DRAMBusPacket& p);
  void ReportViolation(const DRAMBusPacket& p, const char* what);
};

} // namespace Orvane::Internal::QUOR2

#endif
