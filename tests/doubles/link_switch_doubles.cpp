#include "doubles/link_switch_doubles.h"

#include "quor2_clock.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace lswtest {

using namespace Orvane::Internal::QUOR2;

unsigned WriteCreditsOfPacket(QUORCommand command, unsigned requestLength, unsigned flitSize) {
  if (IsAtomic(command)) return 2;
  if (command != WRITE_REQUEST && command != P_WRITE_REQUEST) return 0;
  return requestLength / flitSize + (requestLength % 32 != 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------

FlitSender::FlitSender(sc_core::sc_module_name name, const Config& cfg, unsigned laneCount,
                       unsigned creditPorts)
    : sc_module(name), lanes("lanes", laneCount), busy("busy"), creditIn("creditIn", creditPorts),
      perCycle(laneCount), cfg(cfg) {
  SC_THREAD(Run);
  SC_METHOD(CountCredits);
  for (auto& p : creditIn) sensitive << p;
  dont_initialize();
}

void FlitSender::At(const sc_time& t, unsigned lane, Flit* f) { script.push_back({t, lane, f}); }

void FlitSender::Stream(const std::vector<Flit*>& packet) {
  stream.insert(stream.end(), packet.begin(), packet.end());
}

void FlitSender::Run() {
  std::stable_sort(script.begin(), script.end(),
                   [](const Entry& a, const Entry& b) { return a.time < b.time; });
  size_t next = 0;
  for (;;) {
    sc_core::wait(DelayToNextEdge(sc_core::sc_time_stamp(), cfg.CORE_CLK));
    const sc_time now = sc_core::sc_time_stamp();
    // A lane scripted twice for one instant is written again a delta cycle later.
    std::vector<char> written(lanes.size(), 0);
    while (next < script.size() && script[next].time <= now) {
      const unsigned lane = script[next].lane;
      if (written[lane]) {
        sc_core::wait(sc_core::SC_ZERO_TIME);
        std::fill(written.begin(), written.end(), 0);
      }
      written[lane] = 1;
      lanes[lane].write(Flit_P(script[next].flit));
      ++next;
    }
    unsigned n = 0;
    while (n < perCycle && !stream.empty() && credits > 0) {
      Flit* f = stream.front();
      if (!inPacket && busy.read()) break;
      lanes[n].write(Flit_P(f));
      --credits;
      ++sentFlits;
      inPacket = !f->tail;
      stream.pop_front();
      ++n;
    }
  }
}

void FlitSender::CountCredits() {
  for (unsigned k = 0; k < creditIn.size(); ++k) {
    if (!creditIn[k].event()) continue;
    const int v = creditIn[k].read();
    creditChanges.push_back({sc_core::sc_time_stamp(), k, v});
    if (v > 0) credits += v;
  }
}

// ---------------------------------------------------------------------------

FlitSink::FlitSink(sc_core::sc_module_name name, unsigned laneCount)
    : sc_module(name), lanes("lanes", laneCount) {
  SC_METHOD(Record);
  for (auto& p : lanes) sensitive << p;
  dont_initialize();
}

void FlitSink::Record() {
  for (unsigned i = 0; i < lanes.size(); ++i)
    if (lanes[i].event()) arrivals.push_back({sc_core::sc_time_stamp(), i, lanes[i].read().flit});
}

// ---------------------------------------------------------------------------

VaultDouble::VaultDouble(sc_core::sc_module_name name, const Config& cfg)
    : sc_module(name), lanes("lanes", cfg.FLITS_IN_PER_CYCLE_VC), commandCredit("commandCredit"),
      writeCredit("writeCredit"), cfg(cfg) {
  SC_METHOD(Record);
  for (auto& p : lanes) sensitive << p;
  dont_initialize();
  SC_THREAD(Run);
}

void VaultDouble::GiveCommandCredit(const sc_time& at) {
  commandDue.insert(std::upper_bound(commandDue.begin(), commandDue.end(), at), at);
}

void VaultDouble::GiveWriteCredits(const sc_time& at, unsigned amount) {
  auto pos = std::upper_bound(
      writeDue.begin(), writeDue.end(), at,
      [](const sc_time& t, const std::pair<sc_time, unsigned>& e) { return t < e.first; });
  writeDue.insert(pos, {at, amount});
}

void VaultDouble::Record() {
  const sc_time now = sc_core::sc_time_stamp();
  for (unsigned i = 0; i < lanes.size(); ++i) {
    if (!lanes[i].event()) continue;
    Flit* f = lanes[i].read().flit;
    arrivals.push_back({now, i, f});
    if (autoReturn && f->tail) {
      const sc_time at = now + Cycles(cfg.CORE_CLK, returnDelay);
      GiveCommandCredit(at);
      const unsigned w = WriteCreditsOfPacket(f->command, f->requestLength, cfg.FLIT_SIZE);
      if (w > 0) GiveWriteCredits(at, w);
    }
  }
}

void VaultDouble::Run() {
  for (;;) {
    sc_core::wait(DelayToNextEdge(sc_core::sc_time_stamp(), cfg.CORE_CLK));
    const sc_time now = sc_core::sc_time_stamp();
    bool pulsed = false;
    if (!commandDue.empty() && commandDue.front() <= now) {
      commandDue.erase(commandDue.begin());
      commandCredit.write(true);
      pulsed = true;
    }
    unsigned amount = 0;
    while (!writeDue.empty() && writeDue.front().first <= now && amount < writeCreditsPerCycle) {
      const unsigned take = std::min(writeCreditsPerCycle - amount, writeDue.front().second);
      amount += take;
      writeDue.front().second -= take;
      if (writeDue.front().second == 0) writeDue.erase(writeDue.begin());
    }
    if (amount > 0) {
      writeCredit.write(static_cast<int>(amount));
      pulsed = true;
    }
    if (pulsed) {
      sc_core::wait(HalfPeriod(cfg.CORE_CLK));
      commandCredit.write(false);
      writeCredit.write(0);
    }
  }
}

// ---------------------------------------------------------------------------

QuadReceiver::QuadReceiver(sc_core::sc_module_name name, const Config& cfg)
    : sc_module(name), lanes("lanes", cfg.FLITS_PER_CYCLE_LSW), lineCredits("lineCredits"),
      earlyCredits("earlyCredits"), cfg(cfg) {
  SC_METHOD(Record);
  for (auto& p : lanes) sensitive << p;
  dont_initialize();
  SC_THREAD(Run);
}

void QuadReceiver::Record() {
  const sc_time now = sc_core::sc_time_stamp();
  unsigned n = 0;
  for (unsigned i = 0; i < lanes.size(); ++i) {
    if (!lanes[i].event()) continue;
    arrivals.push_back({now, i, lanes[i].read().flit});
    ++n;
  }
  if (autoReturn && n > 0) due.push_back({now + Cycles(cfg.CORE_CLK, returnDelay), {n - 1, 1}});
}

void QuadReceiver::Run() {
  for (;;) {
    sc_core::wait(DelayToNextEdge(sc_core::sc_time_stamp(), cfg.CORE_CLK));
    const sc_time now = sc_core::sc_time_stamp();
    unsigned early = 0;
    unsigned line = 0;
    while (!due.empty() && due.front().first <= now) {
      early += due.front().second.first;
      line += due.front().second.second;
      due.erase(due.begin());
    }
    if (early > 0) earlyCredits.write(static_cast<int>(early));
    if (line > 0) lineCredits.write(static_cast<int>(line));
    if (early > 0 || line > 0) {
      sc_core::wait(HalfPeriod(cfg.CORE_CLK));
      earlyCredits.write(0);
      lineCredits.write(0);
    }
  }
}

// ---------------------------------------------------------------------------

Actions::Actions(sc_core::sc_module_name name) : sc_module(name) { SC_THREAD(Run); }

void Actions::At(const sc_time& t, std::function<void()> action) {
  actions.emplace_back(t, std::move(action));
}

void Actions::Run() {
  std::stable_sort(actions.begin(), actions.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& a : actions) {
    const sc_time now = sc_core::sc_time_stamp();
    if (a.first > now) sc_core::wait(a.first - now);
    a.second();
  }
}

// ---------------------------------------------------------------------------

namespace {
std::string Name(const char* base, unsigned i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%u", base, i);
  return buf;
}
} // namespace

LswBench::LswBench(const Config& cfg, StatsKeeper& stats, unsigned id)
    : cfg(cfg), stats(stats), id(id), linkLanes("linkLanes", cfg.FLITS_PER_CYCLE_LINK),
      busy("busy"), neverBusy("neverBusy"), creditOut("creditOut", cfg.NUM_QUADS),
      earlyOut("earlyOut", cfg.NUM_QUADS - 1), earlyIn("earlyIn", cfg.NUM_QUADS - 1),
      creditIn("creditIn", cfg.NUM_QUADS - 1), commandCredits("commandCredits", cfg.VAULTS_PER_QUAD),
      writeCredits("writeCredits", cfg.VAULTS_PER_QUAD),
      toSlices("toSlices", cfg.VAULTS_PER_QUAD * cfg.FLITS_IN_PER_CYCLE_VC),
      toQuads("toQuads", (cfg.NUM_QUADS - 1) * cfg.FLITS_PER_CYCLE_LSW),
      fromQuads("fromQuads", (cfg.NUM_QUADS - 1) * cfg.FLITS_PER_CYCLE_LSW) {
  const unsigned ports = cfg.NUM_QUADS - 1;
  const unsigned lanes = cfg.FLITS_PER_CYCLE_LSW;
  const unsigned vaultLanes = cfg.FLITS_IN_PER_CYCLE_VC;

  lsw = std::make_unique<quor2_link_switch>(Name("lsw", id).c_str(), cfg, stats, id);
  lsw->inputBufferBusy(busy);
  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) lsw->creditOutputLanes[q](creditOut[q]);
  for (unsigned k = 0; k < ports; ++k) {
    lsw->earlyCreditOutputLanes[k](earlyOut[k]);
    lsw->earlyCreditInputLanes[k](earlyIn[k]);
    lsw->creditInputLanes[k](creditIn[k]);
    for (unsigned j = 0; j < lanes; ++j) {
      lsw->outputFlitsToInterQuad[k][j](toQuads[k * lanes + j]);
      lsw->inputFlitsFromInterQuad[k][j](fromQuads[k * lanes + j]);
    }
  }
  for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v) {
    lsw->creditsFromSlices[v](commandCredits[v]);
    lsw->writeCreditsFromSlices[v](writeCredits[v]);
  }
  for (unsigned i = 0; i < toSlices.size(); ++i) lsw->outputFlitsToSlices[i](toSlices[i]);
  for (unsigned i = 0; i < linkLanes.size(); ++i) lsw->inputFlitsFromLinkSlave[i](linkLanes[i]);

  link = std::make_unique<FlitSender>("link", cfg, cfg.FLITS_PER_CYCLE_LINK, 1);
  for (unsigned i = 0; i < linkLanes.size(); ++i) link->lanes[i](linkLanes[i]);
  link->busy(busy);
  link->creditIn[0](creditOut[id]);
  link->credits = cfg.TOKENS_PER_LINK;

  for (unsigned k = 0; k < ports; ++k) {
    const unsigned quad = QuadOfInterQuadPort(k, id);
    auto sender = std::make_unique<FlitSender>(Name("quad", quad).c_str(), cfg, lanes, 2);
    for (unsigned j = 0; j < lanes; ++j) sender->lanes[j](fromQuads[k * lanes + j]);
    sender->busy(neverBusy);
    sender->creditIn[0](earlyOut[k]);
    sender->creditIn[1](creditOut[quad]);
    sender->credits = cfg.LSW_INTERQUAD_BUFFER_SIZE;
    neighbours.push_back(std::move(sender));

    auto receiver = std::make_unique<QuadReceiver>(Name("receiver", quad).c_str(), cfg);
    for (unsigned j = 0; j < lanes; ++j) receiver->lanes[j](toQuads[k * lanes + j]);
    receiver->lineCredits(creditIn[k]);
    receiver->earlyCredits(earlyIn[k]);
    receivers.push_back(std::move(receiver));
  }

  for (unsigned v = 0; v < cfg.VAULTS_PER_QUAD; ++v) {
    auto vault = std::make_unique<VaultDouble>(Name("vault", v).c_str(), cfg);
    for (unsigned p = 0; p < vaultLanes; ++p) vault->lanes[p](toSlices[v * vaultLanes + p]);
    vault->commandCredit(commandCredits[v]);
    vault->writeCredit(writeCredits[v]);
    vaults.push_back(std::move(vault));
  }

  creditLanes = std::make_unique<ChangeRecorder<int>>("creditLanes", cfg.NUM_QUADS);
  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) creditLanes->ports[q](creditOut[q]);
  earlyLanes = std::make_unique<ChangeRecorder<int>>("earlyLanes", ports);
  for (unsigned k = 0; k < ports; ++k) earlyLanes->ports[k](earlyOut[k]);
  busyLine = std::make_unique<ChangeRecorder<bool>>("busyLine", 1);
  busyLine->ports[0](busy);
  actions = std::make_unique<Actions>("actions");
}

sc_time LswBench::Cycle(uint64_t n) const { return Cycles(cfg.CORE_CLK, n); }

std::vector<Flit*> LswBench::Packet(unsigned tag, QUORCommand command, unsigned requestLength,
                                    unsigned destinationField, unsigned source) {
  const unsigned count = PacketFlitCount(command, requestLength, cfg.FLIT_SIZE);
  std::vector<Flit*> packet;
  for (unsigned n = 1; n <= count; ++n) {
    auto f = std::make_unique<Flit>(tag, static_cast<uint64_t>(destinationField) << 7, command,
                                    requestLength, n == 1, n == count, n);
    f->destinationField = destinationField;
    f->sourceLink = source;
    packet.push_back(f.get());
    flits.push_back(std::move(f));
  }
  return packet;
}

} // namespace lswtest
