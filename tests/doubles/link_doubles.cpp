#include "doubles/link_doubles.h"

#include "quor2_clock.h"

#include <algorithm>

namespace quortest {

using namespace Orvane::Internal::QUOR2;
using sc_core::sc_time_stamp;

Flit* MakeFlit(uint32_t tag, uint64_t addr, QUORCommand cmd, uint32_t length, bool header,
               bool tail, uint32_t number, uint32_t tokens) {
  Flit* f = new Flit(tag, addr, cmd, length, header, tail, number);
  f->returnTokens = tokens;
  return f;
}

Flit* MakeNullFlit() {
  return MakeFlit(0xFFFFFFFF, ~uint64_t{0}, NULL_COMMAND, 0, true, true, 1);
}

Flit* MakeTokenReturn(uint32_t tag, uint32_t tokens) {
  return MakeFlit(tag, ~uint64_t{0}, TOKEN_RETURN, 0, true, true, 1, tokens);
}

std::vector<Flit*> MakePacket(uint32_t tag, uint64_t addr, QUORCommand cmd, uint32_t length) {
  const unsigned n = PacketFlitCount(cmd, length, 16);
  std::vector<Flit*> packet;
  for (unsigned i = 1; i <= n; ++i)
    packet.push_back(MakeFlit(tag, addr, cmd, length, i == 1, i == n, i));
  return packet;
}

namespace {
SeenFlit Seen(const Flit& f, unsigned lane) {
  SeenFlit s;
  s.at = sc_time_stamp();
  s.lane = lane;
  s.tag = f.tag;
  s.address = f.address;
  s.command = f.command;
  s.requestLength = f.requestLength;
  s.header = f.header;
  s.tail = f.tail;
  s.flitNumber = f.flitNumber;
  s.returnTokens = f.returnTokens;
  s.sourceLink = f.sourceLink;
  s.destinationField = f.destinationField;
  s.currentLane = f.currentLane;
  return s;
}

void WaitUntil(const sc_time& t) {
  if (t > sc_time_stamp()) sc_core::wait(t - sc_time_stamp());
}
} // namespace

// ---------------------------------------------------------------------------

LinkHostDouble::LinkHostDouble(sc_core::sc_module_name name)
    : sc_module(name), requestLink("requestLink"), responseLink("responseLink") {
  SC_THREAD(Run);
  SC_METHOD(Receive);
  sensitive << responseLink;
  dont_initialize();
}

void LinkHostDouble::Run() {
  for (const Timed& e : timed) {
    WaitUntil(e.at);
    requestLink.write(Flit_P(e.flit));
  }
  timed.clear();
  if (!streaming) return;
  WaitUntil(streamStart);
  for (size_t k = 0;; ++k) {
    sc_core::wait(periods[k % periods.size()]);
    requestLink.write(Flit_P(NextStreamFlit()));
  }
}

Flit* LinkHostDouble::NextStreamFlit() {
  if (!queue.empty()) {
    Flit* f = queue.front();
    const uint64_t need = f->header ? PacketFlitCount(f->command, f->requestLength, 16) : 1;
    if (!spendTokens || hostTokens >= need) {
      if (spendTokens) --hostTokens;
      if (f->tail && autoReturnTokens && owedTokens > 0) {
        f->returnTokens = static_cast<uint32_t>(std::min<uint64_t>(owedTokens, 31));
        owedTokens -= f->returnTokens;
        tokensReturned += f->returnTokens;
      }
      queue.pop_front();
      ++requestFlitsSent;
      return f;
    }
  }
  if (autoReturnTokens && owedTokens > 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(owedTokens, 31));
    owedTokens -= n;
    tokensReturned += n;
    return MakeTokenReturn(tokenReturnTag++, n);
  }
  return MakeNullFlit();
}

void LinkHostDouble::Receive() {
  if (!responseLink.event()) return;
  const Flit_P f = responseLink.read();
  received.push_back(Seen(*f, 0));
  if (f->command == TOKEN_RETURN) {
    ++tokenReturnPackets;
  } else {
    ++responseFlits;
    ++owedTokens;
  }
  tokensReceived += f->returnTokens;
  hostTokens += f->returnTokens;
  delete f.flit;
}

// ---------------------------------------------------------------------------

LinkSwitchDouble::LinkSwitchDouble(sc_core::sc_module_name name, const Config& cfg)
    : sc_module(name), lanes("lanes", cfg.FLITS_PER_CYCLE_LINK), busy("busy"), tokens("tokens"),
      cfg(cfg) {
  SC_METHOD(Receive);
  for (auto& lane : lanes) sensitive << lane;
  dont_initialize();
  SC_THREAD(RunBusy);
  SC_THREAD(RunTokens);
}

void LinkSwitchDouble::Receive() {
  for (unsigned i = 0; i < lanes.size(); ++i) {
    if (!lanes[i].event()) continue;
    const Flit_P f = lanes[i].read();
    received.push_back(Seen(*f, i));
    if (autoFreeTokens) ++pendingFree;
    delete f.flit;
  }
}

void LinkSwitchDouble::RunBusy() {
  for (const auto& [at, value] : busyScript) {
    WaitUntil(at);
    busy.write(value);
  }
}

void LinkSwitchDouble::RunTokens() {
  for (const auto& [at, amount] : tokenScript) {
    WaitUntil(at);
    tokensFreed += static_cast<uint64_t>(amount);
    Orvane::Internal::QUOR2::Pulse(tokens, amount, 0, cfg.CORE_CLK, pulseWake);
  }
  if (!autoFreeTokens) return;
  while (true) {
    sc_core::wait(DelayToNextEdge(sc_time_stamp(), cfg.CORE_CLK));
    if (pendingFree == 0) continue;
    const int amount = static_cast<int>(pendingFree);
    pendingFree = 0;
    tokensFreed += static_cast<uint64_t>(amount);
    Orvane::Internal::QUOR2::Pulse(tokens, amount, 0, cfg.CORE_CLK, pulseWake);
  }
}

// ---------------------------------------------------------------------------

VaultSwitchDouble::VaultSwitchDouble(sc_core::sc_module_name name, const Config& cfg)
    : sc_module(name), lanes("lanes", cfg.FLITS_PER_CYCLE_VSW), credit("credit"),
      credits(cfg.LINK_MASTER_BUFFER_SIZE), cfg(cfg) {
  SC_THREAD(Run);
  SC_METHOD(WatchCredit);
  sensitive << credit;
  dont_initialize();
}

void VaultSwitchDouble::Run() {
  for (const Timed& e : timed) {
    WaitUntil(e.at);
    lanes[e.lane].write(Flit_P(e.flit));
    ++flitsSent;
  }
  timed.clear();
  if (!streaming) return;
  WaitUntil(streamStart);
  while (!queue.empty()) {
    for (unsigned lane = 0; lane < lanes.size() && !queue.empty() && credits > 0; ++lane) {
      lanes[lane].write(Flit_P(queue.front()));
      queue.pop_front();
      --credits;
      ++flitsSent;
    }
    sc_core::wait(cfg.CORE_CLK);
  }
}

void VaultSwitchDouble::WatchCredit() {
  const int v = credit.read();
  if (v > 0) {
    credits += v;
    pulses.push_back({sc_time_stamp(), v, sc_core::SC_ZERO_TIME});
  } else if (!pulses.empty()) {
    pulses.back().width = sc_time_stamp() - pulses.back().start;
  }
}

// ---------------------------------------------------------------------------

LinkBench::LinkBench(const Config& cfg, unsigned id)
    : cfg(cfg), stats(cfg), request("request"), response("response"),
      toLinkSwitch("toLinkSwitch", cfg.FLITS_PER_CYCLE_LINK),
      fromVaultSwitch("fromVaultSwitch", cfg.FLITS_PER_CYCLE_VSW), credit("credit"),
      freedTokens("freedTokens"), busy("busy"),
      link(("link" + std::to_string(id)).c_str(), cfg, stats, id), host("host"), lsw("lsw", cfg),
      vsw("vsw", cfg) {
  link.requestLinks(request);
  link.responseLinks(response);
  link.outputsToLinkSwitch.bind(toLinkSwitch);
  link.inputsFromVaultSwitch.bind(fromVaultSwitch);
  link.creditReturn(credit);
  link.tokenInput(freedTokens);
  link.inputBufferBusy(busy);
  host.requestLink(request);
  host.responseLink(response);
  lsw.lanes.bind(toLinkSwitch);
  lsw.busy(busy);
  lsw.tokens(freedTokens);
  vsw.lanes.bind(fromVaultSwitch);
  vsw.credit(credit);
}

LinkBench& MakeLinkBench(const std::function<void(Config&)>& tweak, unsigned id) {
  // Both live to the end of the process, as the cube and its configuration do.
  static Config* cfg = nullptr;
  static LinkBench* bench = nullptr;
  cfg = new Config();
  if (tweak) tweak(*cfg);
  bench = new LinkBench(*cfg, id);
  return *bench;
}

} // namespace quortest
