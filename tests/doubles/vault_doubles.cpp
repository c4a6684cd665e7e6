#include "doubles/vault_doubles.h"

namespace quortest {

using sc_core::sc_time;
using sc_core::sc_time_stamp;

VaultBusDriver::VaultBusDriver(sc_core::sc_module_name name)
    : sc_core::sc_module(name), commandOut("commandOut"), writeDataOut("writeDataOut"),
      readDataIn("readDataIn") {
  SC_THREAD(DriveCommands);
  SC_THREAD(DriveWriteData);
  SC_METHOD(RecordReadData);
  sensitive << readDataIn;
  dont_initialize();
  SC_THREAD(RunProbes);
}

namespace {
void WaitUntil(const sc_time& t) {
  if (t > sc_time_stamp()) sc_core::wait(t - sc_time_stamp());
}
} // namespace

void VaultBusDriver::DriveCommands() {
  for (const auto& c : commands) {
    WaitUntil(c.time);
    commandOut.write(c.packet);
  }
}

void VaultBusDriver::DriveWriteData() {
  for (const auto& d : writeData) {
    WaitUntil(d.time);
    writeDataOut.write(d.packet);
  }
}

void VaultBusDriver::RecordReadData() { received.push_back({sc_time_stamp(), readDataIn.read()}); }

void VaultBusDriver::RunProbes() {
  for (const auto& p : probes) {
    WaitUntil(p.first);
    sc_core::wait(sc_core::SC_ZERO_TIME);
    p.second();
  }
}

VaultBench::VaultBench(const Orvane::Internal::QUOR2::Config& cfg,
                       Orvane::Internal::QUOR2::StatsKeeper& stats, unsigned id)
    : vault("vault", cfg, stats, id), cfg(cfg) {
  vault.tsvCommandBus(commandBus);
  vault.tsvDataIn(dataToDRAM);
  vault.tsvDataOut(dataFromDRAM);
  driver.commandOut(commandBus);
  driver.writeDataOut(dataToDRAM);
  driver.readDataIn(dataFromDRAM);
}

void VaultBench::CommandSeenAt(const sc_time& seenAt, const DRAMBusPacket& p) {
  driver.commands.push_back({seenAt - cfg.tCMD, p});
}

void VaultBench::ProbeAt(const sc_time& at, std::function<void()> action) {
  driver.probes.emplace_back(at, std::move(action));
}

} // namespace quortest
