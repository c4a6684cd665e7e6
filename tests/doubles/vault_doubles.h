// Test doubles around one vault: a controller stand-in that places scripted
// commands on the TSV command bus, records the read data that comes back with
// its arrival time, and runs probes at chosen times.
#ifndef QUORSIM_TEST_VAULT_DOUBLES_H
#define QUORSIM_TEST_VAULT_DOUBLES_H

#include "quor2_dram_bus_packet.h"
#include "quor2_ports.h"
#include "quor2_utils.h"
#include "quor2_vault.h"
#include "support/cout_capture.h"

#include <systemc>

#include <functional>
#include <string>
#include <vector>

namespace quortest {

using Orvane::Internal::QUOR2::DRAMBusPacket;

struct TimedPacket {
  sc_core::sc_time time;
  DRAMBusPacket packet;
};

// Drives the command and write-data buses and listens on the read-data bus.
class VaultBusDriver : public sc_core::sc_module {
public:
  sc_core::sc_out<DRAMBusPacket> commandOut;
  sc_core::sc_out<DRAMBusPacket> writeDataOut;
  sc_core::sc_in<DRAMBusPacket> readDataIn;

  // Written on the command bus at the given absolute times (ascending).
  std::vector<TimedPacket> commands;
  // Written on the write-data bus at the given absolute times (ascending).
  std::vector<TimedPacket> writeData;
  // Every read-data packet seen, with the time it arrived.
  std::vector<TimedPacket> received;
  // Actions run at the given absolute times (ascending), one delta cycle after
  // everything else scheduled for that time.
  std::vector<std::pair<sc_core::sc_time, std::function<void()>>> probes;

  SC_HAS_PROCESS(VaultBusDriver);
  explicit VaultBusDriver(sc_core::sc_module_name name);

  void DriveCommands();
  void DriveWriteData();
  void RecordReadData();
  void RunProbes();
};

// One vault wired to a driver through the three buses.
struct VaultBench {
  Orvane::Internal::QUOR2::InnerSignal<DRAMBusPacket> commandBus{"commandBus"};
  Orvane::Internal::QUOR2::InnerSignal<DRAMBusPacket> dataToDRAM{"dataToDRAM"};
  Orvane::Internal::QUOR2::InnerSignal<DRAMBusPacket> dataFromDRAM{"dataFromDRAM"};
  Orvane::Internal::QUOR2::quor2_vault vault;
  VaultBusDriver driver{"driver"};

  VaultBench(const Orvane::Internal::QUOR2::Config& cfg,
             Orvane::Internal::QUOR2::StatsKeeper& stats, unsigned id);

  // Schedules a command so that the vault reads it at seenAt (the vault samples
  // the bus tCMD after it changes).
  void CommandSeenAt(const sc_core::sc_time& seenAt, const DRAMBusPacket& p);
  void ProbeAt(const sc_core::sc_time& at, std::function<void()> action);

private:
  const Orvane::Internal::QUOR2::Config& cfg;
};

inline sc_core::sc_time Ns(double v) { return sc_core::sc_time(v, sc_core::SC_NS); }
inline sc_core::sc_time Ps(double v) { return sc_core::sc_time(v, sc_core::SC_PS); }

} // namespace quortest

#endif
