// Test doubles around one link switch: a link and neighbour quads that send
// flits (scripted, or as a stream under credits and busy), vault controllers and
// neighbour quads that record what arrives and return credits, recorders of
// credit and busy signals, and a bench that wires all of them to the switch.
#ifndef QUORSIM_LINK_SWITCH_DOUBLES_H
#define QUORSIM_LINK_SWITCH_DOUBLES_H

#include "quor2_flit.h"
#include "quor2_link_switch.h"
#include "quor2_ports.h"
#include "quor2_utils.h"

#include <systemc>

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace lswtest {

using Orvane::Internal::QUOR2::Config;
using Orvane::Internal::QUOR2::Flit;
using Orvane::Internal::QUOR2::Flit_P;
using Orvane::Internal::QUOR2::QUORCommand;
using Orvane::Internal::QUOR2::StatsKeeper;
using sc_core::sc_time;

struct Arrival {
  sc_time time;
  unsigned lane;
  Flit* flit;
};

struct Change {
  sc_time time;
  unsigned index;
  int value;
};

// Write-data credits a vault controller returns for a finished packet.
unsigned WriteCreditsOfPacket(QUORCommand command, unsigned requestLength, unsigned flitSize);

// Sends flits on its lanes at core clock edges. Scripted flits go at their time
// on their lane. Streamed flits go in order, at most perCycle per cycle on lanes
// 0 upward, one credit each; no packet starts while `busy` reads true.
class FlitSender : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> lanes;
  sc_core::sc_in<bool> busy;
  sc_core::sc_vector<sc_core::sc_in<int>> creditIn;

  long credits = 0;
  unsigned perCycle;
  size_t sentFlits = 0;
  std::vector<Change> creditChanges;

  SC_HAS_PROCESS(FlitSender);
  FlitSender(sc_core::sc_module_name name, const Config& cfg, unsigned laneCount,
             unsigned creditPorts);

  void At(const sc_time& t, unsigned lane, Flit* f);
  void Stream(const std::vector<Flit*>& packet);
  bool StreamEmpty() const { return stream.empty(); }

private:
  struct Entry {
    sc_time time;
    unsigned lane;
    Flit* flit;
  };
  const Config& cfg;
  std::vector<Entry> script;
  std::deque<Flit*> stream;
  bool inPacket = false;

  void Run();
  void CountCredits();
};

// Records flits arriving on a set of lanes.
class FlitSink : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> lanes;
  std::vector<Arrival> arrivals;

  SC_HAS_PROCESS(FlitSink);
  FlitSink(sc_core::sc_module_name name, unsigned laneCount);

private:
  void Record();
};

// A vault controller as the link switch sees it: records request flits and, when
// autoReturn is set, returns one command credit per packet and the packet's
// write-data credits returnDelay cycles after its tail (at most one command
// credit and writeCreditsPerCycle write credits per cycle, as pulses).
class VaultDouble : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> lanes;
  sc_core::sc_out<bool> commandCredit;
  sc_core::sc_out<int> writeCredit;
  std::vector<Arrival> arrivals;
  bool autoReturn = false;
  unsigned returnDelay = 10;
  unsigned writeCreditsPerCycle = 2;

  SC_HAS_PROCESS(VaultDouble);
  VaultDouble(sc_core::sc_module_name name, const Config& cfg);

  void GiveCommandCredit(const sc_time& at);
  void GiveWriteCredits(const sc_time& at, unsigned amount);

private:
  const Config& cfg;
  std::vector<sc_time> commandDue;
  std::vector<std::pair<sc_time, unsigned>> writeDue;

  void Record();
  void Run();
};

// Another quad's link switch as a receiver: records flits and, when autoReturn
// is set, returns their line credits returnDelay cycles later: one per flit,
// all but one of a cycle's flits as early credits.
class QuadReceiver : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> lanes;
  sc_core::sc_out<int> lineCredits;
  sc_core::sc_out<int> earlyCredits;
  std::vector<Arrival> arrivals;
  bool autoReturn = false;
  unsigned returnDelay = 4;

  SC_HAS_PROCESS(QuadReceiver);
  QuadReceiver(sc_core::sc_module_name name, const Config& cfg);

private:
  const Config& cfg;
  std::vector<std::pair<sc_time, std::pair<unsigned, unsigned>>> due;

  void Record();
  void Run();
};

// Records every change of a set of signals.
template <typename T>
class ChangeRecorder : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<T>> ports;
  std::vector<Change> changes;

  SC_HAS_PROCESS(ChangeRecorder);
  ChangeRecorder(sc_core::sc_module_name name, unsigned count)
      : sc_core::sc_module(name), ports("ports", count) {
    SC_METHOD(Record);
    for (auto& p : ports) sensitive << p;
    dont_initialize();
  }

  // Positive values written on one port, in order.
  std::vector<Change> Positive(unsigned index) const {
    std::vector<Change> out;
    for (const Change& c : changes)
      if (c.index == index && c.value > 0) out.push_back(c);
    return out;
  }

private:
  void Record() {
    for (unsigned i = 0; i < ports.size(); ++i)
      if (ports[i].event())
        changes.push_back({sc_core::sc_time_stamp(), i, static_cast<int>(ports[i].read())});
  }
};

// Runs actions at chosen times (for reading or setting the switch's state).
class Actions : public sc_core::sc_module {
public:
  SC_HAS_PROCESS(Actions);
  explicit Actions(sc_core::sc_module_name name);
  void At(const sc_time& t, std::function<void()> action);

private:
  std::vector<std::pair<sc_time, std::function<void()>>> actions;
  void Run();
};

// One link switch with a double on every port.
struct LswBench {
  std::vector<std::unique_ptr<Flit>> flits;
  const Config& cfg;
  StatsKeeper& stats;
  unsigned id;

  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> linkLanes;
  Orvane::Internal::QUOR2::InnerSignal<bool> busy;
  Orvane::Internal::QUOR2::InnerSignal<bool> neverBusy;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> creditOut;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> earlyOut;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> earlyIn;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> creditIn;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<bool>> commandCredits;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<int>> writeCredits;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> toSlices;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> toQuads;
  sc_core::sc_vector<Orvane::Internal::QUOR2::InnerSignal<Flit_P>> fromQuads;

  std::unique_ptr<Orvane::Internal::QUOR2::quor2_link_switch> lsw;
  std::unique_ptr<FlitSender> link;
  std::vector<std::unique_ptr<FlitSender>> neighbours;   // by interquad port
  std::vector<std::unique_ptr<VaultDouble>> vaults;      // by local vault
  std::vector<std::unique_ptr<QuadReceiver>> receivers; // by interquad port
  std::unique_ptr<ChangeRecorder<int>> creditLanes;      // creditOutputLanes, by quad
  std::unique_ptr<ChangeRecorder<int>> earlyLanes;       // earlyCreditOutputLanes, by port
  std::unique_ptr<ChangeRecorder<bool>> busyLine;
  std::unique_ptr<Actions> actions;

  LswBench(const Config& cfg, StatsKeeper& stats, unsigned id);

  sc_time Cycle(uint64_t n) const;
  // The flits of one request packet for a global vault, marked with its source quad.
  std::vector<Flit*> Packet(unsigned tag, QUORCommand command, unsigned requestLength,
                            unsigned destinationField, unsigned source);
};

} // namespace lswtest

#endif
