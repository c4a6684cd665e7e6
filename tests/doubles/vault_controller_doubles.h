// Test doubles around one vault controller: the link switch side (writes
// request packets on the lanes at core edges, records command-credit and
// write-credit pulses), a DRAM on the TSV buses (records commands and write
// data, answers each READ with two DATA packets) and the vault switch side
// (takes response flits, returns response credits). VcBench wires them all to
// one controller.
#ifndef QUORSIM_TEST_VAULT_CONTROLLER_DOUBLES_H
#define QUORSIM_TEST_VAULT_CONTROLLER_DOUBLES_H

#include "quor2_dram_bus_packet.h"
#include "quor2_flit.h"
#include "quor2_ports.h"
#include "quor2_utils.h"
#include "quor2_vault_controller.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace quortest {

namespace q2 = Orvane::Internal::QUOR2;

// The flits of one request packet, shaped as the host builds them, routed to
// vault `destination`.
std::vector<q2::Flit*> BuildRequestPacket(q2::QUORCommand command, unsigned tag, uint64_t address,
                                          unsigned length, unsigned destination,
                                          unsigned flitSize = 16);

struct TimedValue {
  sc_core::sc_time time;
  int value;
};

class VcLinkSwitchDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>> lanes;
  sc_core::sc_in<bool> commandCreditIn;
  sc_core::sc_in<int> writeCreditIn;

  // Every value change seen on the credit ports.
  std::vector<TimedValue> commandCreditChanges;
  std::vector<TimedValue> writeCreditChanges;

  SC_HAS_PROCESS(VcLinkSwitchDouble);
  VcLinkSwitchDouble(sc_core::sc_module_name name, const q2::Config& cfg);
  ~VcLinkSwitchDouble() override;

  // Sends the flits from core cycle `cycle` on (not before the previous batch
  // is out), as many per cycle as there are lanes; `offset` shifts every write
  // off the edge.
  void SendFlits(uint64_t cycle, std::vector<q2::Flit*> flits,
                 sc_core::sc_time offset = sc_core::SC_ZERO_TIME);
  void Send(uint64_t cycle, q2::QUORCommand command, unsigned tag, uint64_t address,
            unsigned length, unsigned destination = 0);

  // Times at which a command credit (true) and a write credit (> 0) arrived.
  std::vector<sc_core::sc_time> CommandCreditTimes() const;
  std::vector<TimedValue> WriteCreditPulses() const;
  int WriteCreditTotal() const;

private:
  struct Batch {
    uint64_t cycle;
    std::vector<q2::Flit*> flits;
    sc_core::sc_time offset;
  };
  const q2::Config& cfg;
  std::deque<Batch> schedule;

  void Drive();
  void WatchCommandCredits();
  void WatchWriteCredits();
};

struct DramRecord {
  sc_core::sc_time time;
  q2::DRAMBusPacket packet;
};

class VcDramDouble : public sc_core::sc_module {
public:
  sc_core::sc_in<q2::DRAMBusPacket> commandIn;
  sc_core::sc_in<q2::DRAMBusPacket> dataIn;
  sc_core::sc_out<q2::DRAMBusPacket> dataOut;

  std::vector<DramRecord> commands;
  std::vector<DramRecord> writeData;
  std::vector<DramRecord> readData;  // DATA packets sent back

  SC_HAS_PROCESS(VcDramDouble);
  VcDramDouble(sc_core::sc_module_name name, const q2::Config& cfg);

  // The commands of one tag (or of the refresh tag), in issue order.
  std::vector<DramRecord> CommandsOf(unsigned tag) const;
  unsigned CountOf(unsigned tag, q2::DRAMCommand command) const;

private:
  const q2::Config& cfg;
  sc_core::sc_event_queue answer;
  std::deque<q2::DRAMBusPacket> answers;

  void TakeCommand();
  void TakeData();
  void SendData();
};

struct ReceivedFlit {
  sc_core::sc_time time;
  unsigned lane;
  q2::Flit flit;
};

class VcVaultSwitchDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<q2::Flit_P>> lanes;
  sc_core::sc_out<int> creditOut;

  std::vector<ReceivedFlit> received;
  // When set, every flit taken is returned as a credit on the next edge.
  bool autoReturn = true;

  SC_HAS_PROCESS(VcVaultSwitchDouble);
  VcVaultSwitchDouble(sc_core::sc_module_name name, const q2::Config& cfg);

  // A credit pulse of `amount` at time `at` (scripted on top of the automatic ones).
  void ReturnCreditsAt(const sc_core::sc_time& at, int amount);

private:
  const q2::Config& cfg;
  sc_core::sc_event_queue creditWake;
  Orvane::Internal::QUOR2::OrderedEvent pulseWake;
  int pendingAuto = 0;
  std::map<uint64_t, int> scripted;

  void Take();
  void ReturnCredits();
};

// One controller (vault `id`) between the three doubles.
struct VcBench {
  const q2::Config& cfg;
  q2::StatsKeeper& stats;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>> requestLanes;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>> responseLanes;
  Orvane::Internal::QUOR2::InnerSignal<q2::DRAMBusPacket> commandBus;
  Orvane::Internal::QUOR2::InnerSignal<q2::DRAMBusPacket> dataToDram;
  Orvane::Internal::QUOR2::InnerSignal<q2::DRAMBusPacket> dataFromDram;
  Orvane::Internal::QUOR2::InnerSignal<bool> commandCredit;
  Orvane::Internal::QUOR2::InnerSignal<int> responseCredit;
  Orvane::Internal::QUOR2::InnerSignal<int> writeCredit;
  q2::quor2_vault_controller vc;
  VcLinkSwitchDouble lsw;
  VcDramDouble dram;
  VcVaultSwitchDouble vsw;

  VcBench(const q2::Config& cfg, q2::StatsKeeper& stats, unsigned id = 0);

  sc_core::sc_time Cycle(uint64_t n) const {
    return sc_core::sc_time::from_value(cfg.CORE_CLK.value() * n);
  }
};

} // namespace quortest

#endif
