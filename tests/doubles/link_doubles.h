// Test doubles around one quor2_link: the host end of the serial link, the
// quad's link switch (request lanes, busy, freed tokens) and vault switch
// (response lanes, credits), and a bench that wires them to a link.
#ifndef QUORSIM_TEST_LINK_DOUBLES_H
#define QUORSIM_TEST_LINK_DOUBLES_H

#include "quor2_flit_p.h"
#include "quor2_link.h"
#include "quor2_ports.h"
#include "quor2_utils.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace quortest {

using Orvane::Internal::QUOR2::Config;
using Orvane::Internal::QUOR2::Flit;
using Orvane::Internal::QUOR2::Flit_P;
using Orvane::Internal::QUOR2::QUORCommand;
using Orvane::Internal::QUOR2::StatsKeeper;
using Orvane::Internal::QUOR2::quor2_link;
using sc_core::sc_time;

// Flits built as the host controller and vault controller build them.
Flit* MakeFlit(uint32_t tag, uint64_t addr, QUORCommand cmd, uint32_t length, bool header,
               bool tail, uint32_t number, uint32_t tokens = 0);
Flit* MakeNullFlit();
Flit* MakeTokenReturn(uint32_t tag, uint32_t tokens);
// Every flit of one packet, numbered from 1 (16-byte flits).
std::vector<Flit*> MakePacket(uint32_t tag, uint64_t addr, QUORCommand cmd, uint32_t length);

// What a double saw arrive, copied before the flit is deleted.
struct SeenFlit {
  sc_time at;
  unsigned lane = 0;
  uint32_t tag = 0;
  uint64_t address = 0;
  QUORCommand command = Orvane::Internal::QUOR2::NULL_COMMAND;
  uint32_t requestLength = 0;
  bool header = false;
  bool tail = false;
  uint32_t flitNumber = 0;
  uint32_t returnTokens = 0;
  uint32_t sourceLink = 0;
  uint32_t destinationField = 0;
  int32_t currentLane = 0;
};

// The host end: writes request flits (a new handle per write) and takes the
// response flits and token returns, deleting them as the host controller does.
class LinkHostDouble : public sc_core::sc_module {
public:
  sc_core::sc_out<Flit_P> requestLink;
  sc_core::sc_in<Flit_P> responseLink;

  // Timed script: each flit written at its time (ascending, distinct times).
  void At(const sc_time& t, Flit* f) { timed.push_back({t, f}); }

  // Stream mode: one write per flit period, the first one period after `start`
  // (the periods cycle through `periodPattern`, each waited before a write): the
  // next queued flit when the host holds tokens for it (spendTokens: a header
  // waits for the whole packet), else a token return of owed tokens
  // (autoReturnTokens, at most 31), else a null flit.
  void StartStream(const sc_time& start, std::vector<sc_time> periodPattern) {
    streaming = true;
    streamStart = start;
    periods = std::move(periodPattern);
  }
  void Enqueue(const std::vector<Flit*>& packet) {
    for (Flit* f : packet) queue.push_back(f);
  }
  bool spendTokens = false;
  bool autoReturnTokens = false;
  uint64_t hostTokens = 0;

  std::vector<SeenFlit> received;
  uint64_t responseFlits = 0;
  uint64_t tokenReturnPackets = 0;
  uint64_t tokensReceived = 0;
  uint64_t owedTokens = 0;
  uint64_t tokensReturned = 0;
  uint64_t requestFlitsSent = 0;
  size_t queued() const { return queue.size(); }

  SC_HAS_PROCESS(LinkHostDouble);
  explicit LinkHostDouble(sc_core::sc_module_name name);

private:
  struct Timed {
    sc_time at;
    Flit* flit;
  };
  std::vector<Timed> timed;
  std::deque<Flit*> queue;
  bool streaming = false;
  sc_time streamStart;
  std::vector<sc_time> periods;
  uint32_t tokenReturnTag = 0;

  void Run();
  void Receive();
  Flit* NextStreamFlit();
};

// The link switch side: records what arrives on each lane (and deletes it, the
// end of the request's journey here), drives the busy signal from a script and
// reports freed tokens as pulses, scripted or one pulse per core cycle for every
// flit received (autoFreeTokens).
class LinkSwitchDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> lanes;
  sc_core::sc_out<bool> busy;
  sc_core::sc_out<int> tokens;

  std::vector<std::pair<sc_time, bool>> busyScript;
  std::vector<std::pair<sc_time, int>> tokenScript;
  bool autoFreeTokens = false;

  std::vector<SeenFlit> received;
  uint64_t tokensFreed = 0;

  SC_HAS_PROCESS(LinkSwitchDouble);
  LinkSwitchDouble(sc_core::sc_module_name name, const Config& cfg);

private:
  const Config& cfg;
  uint64_t pendingFree = 0;
  Orvane::Internal::QUOR2::OrderedEvent pulseWake;
  void Receive();
  void RunBusy();
  void RunTokens();
};

// The vault switch side: writes response flits on its lanes, scripted or as a
// stream under the link master's credits, and measures the credit pulses.
class VaultSwitchDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> lanes;
  sc_core::sc_in<int> credit;

  void At(const sc_time& t, unsigned lane, Flit* f) { timed.push_back({t, lane, f}); }
  // Stream mode: from `start` (a core clock edge), each core cycle up to one flit
  // per lane, in order, while credits last.
  void StartStream(const sc_time& start) {
    streaming = true;
    streamStart = start;
  }
  void Enqueue(const std::vector<Flit*>& packet) {
    for (Flit* f : packet) queue.push_back(f);
  }

  struct Pulse {
    sc_time start;
    int amount;
    sc_time width;
  };
  std::vector<Pulse> pulses;
  int64_t credits;
  uint64_t flitsSent = 0;
  size_t queued() const { return queue.size(); }

  SC_HAS_PROCESS(VaultSwitchDouble);
  VaultSwitchDouble(sc_core::sc_module_name name, const Config& cfg);

private:
  struct Timed {
    sc_time at;
    unsigned lane;
    Flit* flit;
  };
  const Config& cfg;
  std::vector<Timed> timed;
  std::deque<Flit*> queue;
  bool streaming = false;
  sc_time streamStart;
  void Run();
  void WatchCredit();
};

// One link (id 0 unless told) between the three doubles.
struct LinkBench {
  const Config& cfg;
  StatsKeeper stats;
  Orvane::Internal::QUOR2::InnerSignal<Flit_P> request;
  Orvane::Internal::QUOR2::InnerSignal<Flit_P> response;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> toLinkSwitch;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> fromVaultSwitch;
  Orvane::Internal::QUOR2::InnerSignal<int> credit;
  Orvane::Internal::QUOR2::InnerSignal<int> freedTokens;
  Orvane::Internal::QUOR2::InnerSignal<bool> busy;
  quor2_link link;
  LinkHostDouble host;
  LinkSwitchDouble lsw;
  VaultSwitchDouble vsw;

  LinkBench(const Config& cfg, unsigned id);
};

// Builds a default Config, lets `tweak` change it, and returns a bench that
// lives to the end of the process (as the cube does in a run).
LinkBench& MakeLinkBench(const std::function<void(Config&)>& tweak = {}, unsigned id = 0);

} // namespace quortest

#endif
