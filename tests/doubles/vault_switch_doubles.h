// Test doubles around one vault switch: the quad's slices (write response
// packets, take response credits), the link master (takes flits, returns
// credits as pulses) and the other quads' vault switches (send flits one port
// write per cycle, take flits, return credits). VswBench wires one switch to
// all of them exactly as a quad does.
#ifndef QUORSIM_TEST_VAULT_SWITCH_DOUBLES_H
#define QUORSIM_TEST_VAULT_SWITCH_DOUBLES_H

#include "quor2_flit.h"
#include "quor2_ports.h"
#include "quor2_utils.h"
#include "quor2_vault_switch.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quortest {

namespace q2 = Orvane::Internal::QUOR2;

// What a double saw of one flit; the flit itself is deleted on arrival.
struct VswSeenFlit {
  sc_core::sc_time time;
  unsigned lane;
  uint32_t tag;
  uint64_t address;
  bool header;
  bool tail;
  uint32_t flitNumber;
  uint32_t sourceLink;
};

struct VswCreditPulse {
  sc_core::sc_time time;
  int amount;
};

// A response packet of n flits; every flit carries tag, address and sourceLink.
std::vector<q2::Flit*> MakeVswPacket(unsigned tag, uint64_t address, unsigned sourceLink,
                                     unsigned flits);

// Writes flits on a set of ports, on core-clock edges: scripted writes at exact
// cycles (no credits asked), then queued whole packets, in order, each once the
// sender holds credits for all its flits, at most perCycle flits per cycle.
class VswFlitSender {
public:
  VswFlitSender(sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>>& ports, int credits,
                unsigned perCycle);
  ~VswFlitSender();
  void WriteAt(uint64_t cycle, std::vector<q2::Flit*> flits);
  void Queue(std::vector<q2::Flit*> packet, uint64_t notBeforeCycle = 0);
  bool Idle() const { return script.empty() && queue.empty() && current.empty(); }
  void Step(uint64_t cycle);

  int credits;
  unsigned sentFlits = 0;

private:
  struct Pending {
    uint64_t notBefore;
    std::vector<q2::Flit*> flits;
  };
  sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>>& ports;
  unsigned perCycle;
  std::multimap<uint64_t, std::vector<q2::Flit*>> script;
  std::deque<Pending> queue;
  std::deque<q2::Flit*> current;
};

class VswSliceDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>> flitsOut;
  sc_core::sc_in<int> responseCreditReturn;

  SC_HAS_PROCESS(VswSliceDouble);
  VswSliceDouble(sc_core::sc_module_name name, const q2::Config& cfg);

  VswFlitSender sender;
  std::vector<VswCreditPulse> creditPulses;
  bool creditOffEdge = false;
  sc_core::sc_event work;

private:
  const q2::Config& cfg;
  void Send();
  void TakeCredits();
};

class VswLinkMasterDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<q2::Flit_P>> inputs;
  sc_core::sc_out<int> creditReturn;

  SC_HAS_PROCESS(VswLinkMasterDouble);
  VswLinkMasterDouble(sc_core::sc_module_name name, const q2::Config& cfg);

  // A credit pulse of amount at time at (pulses are a flit period apart at least).
  void ScheduleCredit(const sc_core::sc_time& at, int amount);

  bool autoReturn = true;               // one credit per flit, a flit period apart
  sc_core::sc_time returnDelay;         // from the flit's arrival
  sc_core::sc_time flitPeriod;
  std::vector<VswSeenFlit> received;
  int outstanding = 0;                  // flits taken and not yet credited
  int maxOutstanding = 0;

private:
  const q2::Config& cfg;
  std::multimap<sc_core::sc_time, int> pending;
  sc_core::sc_time lastScheduled;
  sc_core::sc_event newCredit;
  void Receive();
  void ReturnCredits();
};

class VswQuadDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>> toSwitch;
  sc_core::sc_vector<sc_core::sc_in<q2::Flit_P>> fromSwitch;
  sc_core::sc_out<int> creditOut;
  sc_core::sc_in<int> creditIn;

  SC_HAS_PROCESS(VswQuadDouble);
  VswQuadDouble(sc_core::sc_module_name name, const q2::Config& cfg, unsigned quad);

  // A credit pulse at the edge of the given cycle (amounts of one cycle add up).
  void ScheduleCredit(uint64_t cycle, int amount);

  unsigned quad;
  VswFlitSender sender;
  bool autoReturn = true;               // one credit per flit taken, returnDelayCycles later
  uint64_t returnDelayCycles = 2;
  std::vector<VswSeenFlit> received;
  std::vector<VswCreditPulse> creditPulses;
  int outstanding = 0;
  int maxOutstanding = 0;
  sc_core::sc_event work;

private:
  const q2::Config& cfg;
  std::map<uint64_t, int> pending;
  sc_core::sc_event newCredit;
  void Send();
  void Receive();
  void TakeCredits();
  void ReturnCredits();
};

// Runs a test body as a thread of its own (to look at the switch at chosen times).
class VswProbe : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(VswProbe);
  VswProbe(sc_core::sc_module_name name, std::function<void()> body);

private:
  std::function<void()> body;
  void Run() { body(); }
};

// Checks a destination's flit stream: packets whole (header, numbers in order,
// tail) and never interleaved, at most lanes flits per time on distinct lanes.
// Returns an empty string when all holds, else what broke first.
std::string CheckVswStream(const std::vector<VswSeenFlit>& flits, unsigned lanes);

// One vault switch between doubles, bound like a quad binds it.
struct VswBench {
  VswBench(const q2::Config& cfg, q2::StatsKeeper& stats, unsigned id);
  ~VswBench();

  const q2::Config& cfg;
  q2::quor2_vault_switch vsw;
  sc_core::sc_vector<sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>>> sliceToSwitch;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>> switchToLM;
  sc_core::sc_vector<sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>>> switchToQuad;
  sc_core::sc_vector<sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<q2::Flit_P>>> quadToSwitch;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> creditsOut;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> creditsIn;
  Orvane::Internal::QUOR2::InnerSignal<int> lmCredits;
  std::vector<std::unique_ptr<VswSliceDouble>> slices;
  VswLinkMasterDouble lm;
  std::vector<std::unique_ptr<VswQuadDouble>> quads; // index = interquad port

  // Deletes every flit still held by the switch (latches and buffers).
  void DeleteHeldFlits();
  sc_core::sc_time Cycle(uint64_t n) const;
};

} // namespace quortest

#endif
