#include "doubles/vault_switch_doubles.h"

#include "quor2_clock.h"

#include <algorithm>
#include <string>

namespace quortest {

using q2::Flit;
using q2::Flit_P;
using sc_core::sc_time;

namespace {
VswSeenFlit Seen(const Flit& f, unsigned lane) {
  return VswSeenFlit{sc_core::sc_time_stamp(), lane,  f.tag,       f.address,
                     f.header,                 f.tail, f.flitNumber, f.sourceLink};
}
uint64_t CycleOf(const sc_time& t, const sc_time& clk) { return t.value() / clk.value(); }
} // namespace

std::vector<Flit*> MakeVswPacket(unsigned tag, uint64_t address, unsigned sourceLink,
                                 unsigned flits) {
  std::vector<Flit*> packet;
  for (unsigned i = 1; i <= flits; ++i) {
    const q2::QUORCommand cmd = flits == 1 ? q2::WRITE_RESPONSE : q2::READ_RESPONSE;
    auto* f = new Flit(tag, address, cmd, (flits - 1) * 16, i == 1, i == flits, i);
    f->sourceLink = sourceLink;
    packet.push_back(f);
  }
  return packet;
}

// ---------------------------------------------------------------- sender

VswFlitSender::VswFlitSender(sc_core::sc_vector<sc_core::sc_out<Flit_P>>& ports, int credits,
                             unsigned perCycle)
    : credits(credits), ports(ports), perCycle(perCycle) {}

VswFlitSender::~VswFlitSender() {
  for (auto& entry : script)
    for (Flit* f : entry.second) delete f;
  for (auto& p : queue)
    for (Flit* f : p.flits) delete f;
  for (Flit* f : current) delete f;
}

void VswFlitSender::WriteAt(uint64_t cycle, std::vector<Flit*> flits) {
  script.emplace(cycle, std::move(flits));
}

void VswFlitSender::Queue(std::vector<Flit*> packet, uint64_t notBeforeCycle) {
  queue.push_back(Pending{notBeforeCycle, std::move(packet)});
}

void VswFlitSender::Step(uint64_t cycle) {
  unsigned port = 0;
  auto range = script.equal_range(cycle);
  for (auto it = range.first; it != range.second; ++it) {
    for (Flit* f : it->second) {
      ports[port++].write(Flit_P(f));
      ++sentFlits;
    }
  }
  script.erase(range.first, range.second);
  if (port != 0) return;
  while (port < perCycle && port < ports.size()) {
    if (current.empty()) {
      if (queue.empty() || queue.front().notBefore > cycle) break;
      const int size = static_cast<int>(queue.front().flits.size());
      if (credits < size) break;
      credits -= size;
      current.assign(queue.front().flits.begin(), queue.front().flits.end());
      queue.pop_front();
    }
    ports[port++].write(Flit_P(current.front()));
    current.pop_front();
    ++sentFlits;
  }
}

// ---------------------------------------------------------------- slice

VswSliceDouble::VswSliceDouble(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_module(name), flitsOut("flitsOut", cfg.FLITS_OUT_PER_CYCLE_VC),
      responseCreditReturn("responseCreditReturn"),
      sender(flitsOut, static_cast<int>(cfg.VSW_RESPONSE_BUFFER_SIZE), cfg.FLITS_OUT_PER_CYCLE_VC),
      cfg(cfg) {
  SC_THREAD(Send);
  SC_METHOD(TakeCredits);
  sensitive << responseCreditReturn;
  dont_initialize();
}

void VswSliceDouble::Send() {
  const sc_time clk = cfg.CORE_CLK;
  while (true) {
    if (sender.Idle()) {
      wait(work);
      continue;
    }
    const sc_time now = sc_core::sc_time_stamp();
    if (!q2::IsOnEdge(now, clk)) {
      wait(q2::DelayToNextEdge(now, clk));
      continue;
    }
    sender.Step(CycleOf(now, clk));
    wait(clk);
  }
}

void VswSliceDouble::TakeCredits() {
  const int amount = responseCreditReturn.read();
  if (amount <= 0) return;
  if (!q2::IsOnEdge(sc_core::sc_time_stamp(), cfg.CORE_CLK)) creditOffEdge = true;
  creditPulses.push_back(VswCreditPulse{sc_core::sc_time_stamp(), amount});
  sender.credits += amount;
}

// ---------------------------------------------------------------- link master

VswLinkMasterDouble::VswLinkMasterDouble(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_module(name), inputs("inputs", cfg.FLITS_PER_CYCLE_VSW), creditReturn("creditReturn"),
      returnDelay(sc_time(1600, sc_core::SC_PS)), flitPeriod(sc_time(533, sc_core::SC_PS)),
      cfg(cfg) {
  SC_METHOD(Receive);
  for (auto& in : inputs) sensitive << in;
  dont_initialize();
  SC_THREAD(ReturnCredits);
}

void VswLinkMasterDouble::ScheduleCredit(const sc_time& at, int amount) {
  pending.emplace(at, amount);
  lastScheduled = std::max(lastScheduled, at);
  if (sc_core::sc_is_running()) newCredit.notify();
}

void VswLinkMasterDouble::Receive() {
  const sc_time now = sc_core::sc_time_stamp();
  for (unsigned i = 0; i < inputs.size(); ++i) {
    if (!inputs[i].event()) continue;
    Flit_P f = inputs[i].read();
    received.push_back(Seen(*f, i));
    delete f.flit;
    ++outstanding;
    maxOutstanding = std::max(maxOutstanding, outstanding);
    if (autoReturn) ScheduleCredit(std::max(now + returnDelay, lastScheduled + flitPeriod), 1);
  }
}

void VswLinkMasterDouble::ReturnCredits() {
  while (true) {
    if (pending.empty()) {
      wait(newCredit);
      continue;
    }
    const sc_time now = sc_core::sc_time_stamp();
    if (pending.begin()->first > now) {
      wait(pending.begin()->first - now, newCredit);
      continue;
    }
    const int amount = pending.begin()->second;
    pending.erase(pending.begin());
    outstanding -= amount;
    creditReturn.write(amount);
    wait(q2::HalfPeriod(flitPeriod));
    creditReturn.write(0);
    wait(flitPeriod - q2::HalfPeriod(flitPeriod));
  }
}

// ---------------------------------------------------------------- other quad

VswQuadDouble::VswQuadDouble(sc_core::sc_module_name name, const q2::Config& cfg, unsigned quad)
    : sc_module(name), toSwitch("toSwitch", cfg.FLITS_PER_CYCLE_VSW),
      fromSwitch("fromSwitch", cfg.FLITS_PER_CYCLE_VSW), creditOut("creditOut"),
      creditIn("creditIn"), quad(quad),
      sender(toSwitch, static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE), cfg.FLITS_PER_CYCLE_VSW),
      cfg(cfg) {
  SC_THREAD(Send);
  SC_METHOD(Receive);
  for (auto& in : fromSwitch) sensitive << in;
  dont_initialize();
  SC_METHOD(TakeCredits);
  sensitive << creditIn;
  dont_initialize();
  SC_THREAD(ReturnCredits);
}

void VswQuadDouble::ScheduleCredit(uint64_t cycle, int amount) {
  pending[cycle] += amount;
  if (sc_core::sc_is_running()) newCredit.notify();
}

void VswQuadDouble::Send() {
  const sc_time clk = cfg.CORE_CLK;
  while (true) {
    if (sender.Idle()) {
      wait(work);
      continue;
    }
    const sc_time now = sc_core::sc_time_stamp();
    if (!q2::IsOnEdge(now, clk)) {
      wait(q2::DelayToNextEdge(now, clk));
      continue;
    }
    sender.Step(CycleOf(now, clk));
    wait(clk);
  }
}

void VswQuadDouble::Receive() {
  const uint64_t cycle = CycleOf(sc_core::sc_time_stamp(), cfg.CORE_CLK);
  for (unsigned i = 0; i < fromSwitch.size(); ++i) {
    if (!fromSwitch[i].event()) continue;
    Flit_P f = fromSwitch[i].read();
    received.push_back(Seen(*f, i));
    delete f.flit;
    ++outstanding;
    maxOutstanding = std::max(maxOutstanding, outstanding);
    if (autoReturn) ScheduleCredit(cycle + returnDelayCycles, 1);
  }
}

void VswQuadDouble::TakeCredits() {
  const int amount = creditIn.read();
  if (amount <= 0) return;
  creditPulses.push_back(VswCreditPulse{sc_core::sc_time_stamp(), amount});
  sender.credits += amount;
}

void VswQuadDouble::ReturnCredits() {
  const sc_time clk = cfg.CORE_CLK;
  while (true) {
    if (pending.empty()) {
      wait(newCredit);
      continue;
    }
    const sc_time now = sc_core::sc_time_stamp();
    const sc_time at = q2::Cycles(clk, pending.begin()->first);
    if (at > now) {
      wait(at - now, newCredit);
      continue;
    }
    const int amount = pending.begin()->second;
    pending.erase(pending.begin());
    outstanding -= amount;
    creditOut.write(amount);
    wait(q2::HalfPeriod(clk));
    creditOut.write(0);
  }
}

// ---------------------------------------------------------------- probe and checks

VswProbe::VswProbe(sc_core::sc_module_name name, std::function<void()> body)
    : sc_module(name), body(std::move(body)) {
  SC_THREAD(Run);
}

std::string CheckVswStream(const std::vector<VswSeenFlit>& flits, unsigned lanes) {
  bool open = false;
  uint32_t tag = 0;
  uint32_t number = 0;
  unsigned sameTime = 0;
  for (std::size_t i = 0; i < flits.size(); ++i) {
    const VswSeenFlit& f = flits[i];
    const std::string at = "flit " + std::to_string(i) + " tag " + std::to_string(f.tag) + ": ";
    sameTime = (i > 0 && flits[i - 1].time == f.time) ? sameTime + 1 : 0;
    if (sameTime >= lanes) return at + "more flits in one step than lanes";
    if (f.lane != sameTime) return at + "lanes not filled from 0 upward";
    if (!open) {
      if (!f.header || f.flitNumber != 1) return at + "packet does not start with its header";
      open = true;
      tag = f.tag;
      number = 1;
    } else {
      if (f.tag != tag) return at + "interleaved with packet " + std::to_string(tag);
      if (f.header || f.flitNumber != number + 1) return at + "flit out of order";
      number = f.flitNumber;
    }
    if (f.tail) open = false;
  }
  if (open) return "last packet not complete";
  return "";
}

// ---------------------------------------------------------------- bench

namespace {
template <typename T>
auto SignalRow(unsigned n) {
  return [n](const char* name, std::size_t) {
    return new sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<T>>(name, n);
  };
}
} // namespace

VswBench::VswBench(const q2::Config& cfg, q2::StatsKeeper& stats, unsigned id)
    : cfg(cfg), vsw("vsw", cfg, stats, id), sliceToSwitch("sliceToSwitch"),
      switchToLM("switchToLM", cfg.FLITS_PER_CYCLE_VSW), switchToQuad("switchToQuad"),
      quadToSwitch("quadToSwitch"),
      creditsOut("creditsOut", cfg.VAULTS_PER_QUAD + cfg.NUM_QUADS - 1),
      creditsIn("creditsIn", cfg.NUM_QUADS - 1), lmCredits("lmCredits"), lm("lm", cfg) {
  const unsigned vaults = cfg.VAULTS_PER_QUAD;
  const unsigned ports = cfg.NUM_QUADS - 1;
  const unsigned lanes = cfg.FLITS_PER_CYCLE_VSW;
  sliceToSwitch.init(vaults, SignalRow<Flit_P>(cfg.FLITS_OUT_PER_CYCLE_VC));
  switchToQuad.init(ports, SignalRow<Flit_P>(lanes));
  quadToSwitch.init(ports, SignalRow<Flit_P>(lanes));

  for (unsigned v = 0; v < vaults; ++v) {
    slices.emplace_back(new VswSliceDouble(("slice" + std::to_string(v)).c_str(), cfg));
    for (unsigned j = 0; j < cfg.FLITS_OUT_PER_CYCLE_VC; ++j) {
      slices[v]->flitsOut[j](sliceToSwitch[v][j]);
      vsw.inputFlitsFromSlices[v][j](sliceToSwitch[v][j]);
    }
    slices[v]->responseCreditReturn(creditsOut[v]);
    vsw.creditOutputLanes[v](creditsOut[v]);
  }
  for (unsigned i = 0; i < lanes; ++i) {
    vsw.outputFlitsToLM[i](switchToLM[i]);
    lm.inputs[i](switchToLM[i]);
  }
  vsw.creditInputFromLM(lmCredits);
  lm.creditReturn(lmCredits);
  for (unsigned k = 0; k < ports; ++k) {
    const unsigned quad = q2::vswitch::PortToQuad(id, k);
    quads.emplace_back(new VswQuadDouble(("quad" + std::to_string(quad)).c_str(), cfg, quad));
    VswQuadDouble& q = *quads[k];
    for (unsigned i = 0; i < lanes; ++i) {
      vsw.outputFlitsToInterQuad[k][i](switchToQuad[k][i]);
      q.fromSwitch[i](switchToQuad[k][i]);
      q.toSwitch[i](quadToSwitch[k][i]);
      vsw.inputFlitsFromInterQuad[k][i](quadToSwitch[k][i]);
    }
    vsw.creditInputLanes[k](creditsIn[k]);
    q.creditOut(creditsIn[k]);
    vsw.creditOutputLanes[vaults + k](creditsOut[vaults + k]);
    q.creditIn(creditsOut[vaults + k]);
  }
}

VswBench::~VswBench() { DeleteHeldFlits(); }

void VswBench::DeleteHeldFlits() {
  auto drop = [](std::vector<std::deque<Flit_P>>& buffers) {
    for (auto& b : buffers) {
      for (auto& f : b) delete f.flit;
      b.clear();
    }
  };
  drop(vsw.vaultDelayLatches);
  drop(vsw.vaultResponseBuffers);
  drop(vsw.interquadDelayLatches);
  drop(vsw.interquadBuffers);
  drop(vsw.smoothingBuffers);
}

sc_time VswBench::Cycle(uint64_t n) const { return q2::Cycles(cfg.CORE_CLK, n); }

} // namespace quortest
