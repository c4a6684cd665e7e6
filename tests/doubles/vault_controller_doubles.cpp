#include "doubles/vault_controller_doubles.h"

#include "quor2_clock.h"

namespace quortest {

using sc_core::sc_time;
using sc_core::SC_ZERO_TIME;

std::vector<q2::Flit*> BuildRequestPacket(q2::QUORCommand command, unsigned tag, uint64_t address,
                                          unsigned length, unsigned destination,
                                          unsigned flitSize) {
  const unsigned n = q2::PacketFlitCount(command, length, flitSize);
  std::vector<q2::Flit*> flits;
  for (unsigned i = 1; i <= n; ++i) {
    auto* f = new q2::Flit(tag, address, command, length, i == 1, i == n, i);
    f->destinationField = destination;
    f->sourceLink = 0;
    flits.push_back(f);
  }
  return flits;
}

// ---------------------------------------------------------------- link switch side

VcLinkSwitchDouble::VcLinkSwitchDouble(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_core::sc_module(name), lanes("lanes", cfg.FLITS_IN_PER_CYCLE_VC),
      commandCreditIn("commandCreditIn"), writeCreditIn("writeCreditIn"), cfg(cfg) {
  SC_THREAD(Drive);
  SC_METHOD(WatchCommandCredits);
  sensitive << commandCreditIn;
  dont_initialize();
  SC_METHOD(WatchWriteCredits);
  sensitive << writeCreditIn;
  dont_initialize();
}

VcLinkSwitchDouble::~VcLinkSwitchDouble() {
  for (auto& b : schedule)
    for (auto* f : b.flits) delete f;
}

void VcLinkSwitchDouble::SendFlits(uint64_t cycle, std::vector<q2::Flit*> flits, sc_time offset) {
  schedule.push_back({cycle, std::move(flits), offset});
}

void VcLinkSwitchDouble::Send(uint64_t cycle, q2::QUORCommand command, unsigned tag,
                              uint64_t address, unsigned length, unsigned destination) {
  SendFlits(cycle, BuildRequestPacket(command, tag, address, length, destination));
}

void VcLinkSwitchDouble::Drive() {
  while (!schedule.empty()) {
    Batch& b = schedule.front();
    const sc_time start = sc_time::from_value(cfg.CORE_CLK.value() * b.cycle) + b.offset;
    const sc_time now = sc_core::sc_time_stamp();
    if (start > now) wait(start - now);
    size_t next = 0;
    while (next < b.flits.size()) {
      for (size_t lane = 0; lane < lanes.size() && next < b.flits.size(); ++lane) {
        lanes[lane].write(q2::Flit_P(b.flits[next]));
        b.flits[next++] = nullptr;  // the controller owns it now
      }
      wait(cfg.CORE_CLK);
    }
    schedule.pop_front();
  }
}

void VcLinkSwitchDouble::WatchCommandCredits() {
  commandCreditChanges.push_back({sc_core::sc_time_stamp(), commandCreditIn.read() ? 1 : 0});
}

void VcLinkSwitchDouble::WatchWriteCredits() {
  writeCreditChanges.push_back({sc_core::sc_time_stamp(), writeCreditIn.read()});
}

std::vector<sc_time> VcLinkSwitchDouble::CommandCreditTimes() const {
  std::vector<sc_time> times;
  for (const auto& c : commandCreditChanges)
    if (c.value) times.push_back(c.time);
  return times;
}

std::vector<TimedValue> VcLinkSwitchDouble::WriteCreditPulses() const {
  std::vector<TimedValue> pulses;
  for (const auto& c : writeCreditChanges)
    if (c.value > 0) pulses.push_back(c);
  return pulses;
}

int VcLinkSwitchDouble::WriteCreditTotal() const {
  int total = 0;
  for (const auto& p : WriteCreditPulses()) total += p.value;
  return total;
}

// ---------------------------------------------------------------- DRAM

VcDramDouble::VcDramDouble(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_core::sc_module(name), commandIn("commandIn"), dataIn("dataIn"), dataOut("dataOut"),
      cfg(cfg), answer("answer") {
  SC_METHOD(TakeCommand);
  sensitive << commandIn;
  dont_initialize();
  SC_METHOD(TakeData);
  sensitive << dataIn;
  dont_initialize();
  SC_METHOD(SendData);
  sensitive << answer;
  dont_initialize();
}

void VcDramDouble::TakeCommand() {
  const q2::DRAMBusPacket p = commandIn.read();
  commands.push_back({sc_core::sc_time_stamp(), p});
  if (p.command != q2::READ) return;
  q2::DRAMBusPacket first = p;
  first.command = q2::DATA;
  q2::DRAMBusPacket second = first;
  second.even = false;
  answers.push_back(first);
  answer.notify(cfg.tAA + cfg.tAC);
  answers.push_back(second);
  answer.notify(cfg.tAA + cfg.tAC + cfg.CORE_CLK);
}

void VcDramDouble::TakeData() { writeData.push_back({sc_core::sc_time_stamp(), dataIn.read()}); }

void VcDramDouble::SendData() {
  readData.push_back({sc_core::sc_time_stamp(), answers.front()});
  dataOut.write(answers.front());
  answers.pop_front();
}

std::vector<DramRecord> VcDramDouble::CommandsOf(unsigned tag) const {
  std::vector<DramRecord> out;
  for (const auto& c : commands)
    if (c.packet.tag == tag) out.push_back(c);
  return out;
}

unsigned VcDramDouble::CountOf(unsigned tag, q2::DRAMCommand command) const {
  unsigned n = 0;
  for (const auto& c : commands)
    if (c.packet.tag == tag && c.packet.command == command) ++n;
  return n;
}

// ---------------------------------------------------------------- vault switch side

VcVaultSwitchDouble::VcVaultSwitchDouble(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_core::sc_module(name), lanes("lanes", cfg.FLITS_OUT_PER_CYCLE_VC),
      creditOut("creditOut"), cfg(cfg), creditWake("creditWake") {
  SC_METHOD(Take);
  for (auto& l : lanes) sensitive << l;
  dont_initialize();
  SC_THREAD(ReturnCredits);
  sensitive << creditWake;
}

void VcVaultSwitchDouble::ReturnCreditsAt(const sc_time& at, int amount) {
  scripted[at.value()] += amount;
  creditWake.notify(at);  // from elaboration: at is counted from time 0
}

// Response flits end their journey here: copied, then deleted.
void VcVaultSwitchDouble::Take() {
  const sc_time now = sc_core::sc_time_stamp();
  int taken = 0;
  for (unsigned i = 0; i < lanes.size(); ++i) {
    if (!lanes[i].event()) continue;
    const q2::Flit_P f = lanes[i].read();
    received.push_back({now, i, *f});
    delete f.flit;
    ++taken;
  }
  if (autoReturn && taken > 0) {
    pendingAuto += taken;
    creditWake.notify(q2::DelayToNextEdge(now, cfg.CORE_CLK));
  }
}

void VcVaultSwitchDouble::ReturnCredits() {
  while (true) {
    wait();
    const sc_time now = sc_core::sc_time_stamp();
    int amount = pendingAuto;
    pendingAuto = 0;
    const auto it = scripted.find(now.value());
    if (it != scripted.end()) {
      amount += it->second;
      scripted.erase(it);
    }
    if (amount > 0) q2::Pulse(creditOut, amount, 0, cfg.CORE_CLK, pulseWake);
  }
}

// ---------------------------------------------------------------- bench

VcBench::VcBench(const q2::Config& cfg, q2::StatsKeeper& stats, unsigned id)
    : cfg(cfg), stats(stats), requestLanes("requestLanes", cfg.FLITS_IN_PER_CYCLE_VC),
      responseLanes("responseLanes", cfg.FLITS_OUT_PER_CYCLE_VC), commandBus("commandBus"),
      dataToDram("dataToDram"), dataFromDram("dataFromDram"), commandCredit("commandCredit"),
      responseCredit("responseCredit"), writeCredit("writeCredit"),
      vc("vaultController", cfg, stats, id), lsw("lsw", cfg), dram("dram", cfg),
      vsw("vsw", cfg) {
  for (unsigned i = 0; i < cfg.FLITS_IN_PER_CYCLE_VC; ++i) {
    vc.flitsInFromLSW[i](requestLanes[i]);
    lsw.lanes[i](requestLanes[i]);
  }
  for (unsigned i = 0; i < cfg.FLITS_OUT_PER_CYCLE_VC; ++i) {
    vc.flitsOutToVSW[i](responseLanes[i]);
    vsw.lanes[i](responseLanes[i]);
  }
  vc.tsvCommandBus(commandBus);
  dram.commandIn(commandBus);
  vc.tsvDataOut(dataToDram);
  dram.dataIn(dataToDram);
  dram.dataOut(dataFromDram);
  vc.tsvDataIn(dataFromDram);
  vc.commandCreditReturn(commandCredit);
  lsw.commandCreditIn(commandCredit);
  vc.writeDataCreditReturn(writeCredit);
  lsw.writeCreditIn(writeCredit);
  vsw.creditOut(responseCredit);
  vc.responseCreditReturn(responseCredit);
}

} // namespace quortest
