// Test doubles for the traffic sources and the end-of-run monitor: a host
// controller stand-in behind one TLM target socket, a probe that times a done
// signal, a driver that scripts done signals, and a capture of standard output.
#ifndef QUORSIM_TEST_SOURCE_DOUBLES_H
#define QUORSIM_TEST_SOURCE_DOUBLES_H

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_target_socket.h>

#include <cstdint>
#include <deque>
#include <sstream>
#include <string>
#include <vector>

#include "support/cout_capture.h"

namespace quortest {

// One BEGIN_REQ as the source sent it, before the double changed anything.
struct SourceRequest {
  sc_core::sc_time time;
  uint64_t address = 0;
  tlm::tlm_command command = tlm::TLM_IGNORE_COMMAND;
  unsigned length = 0;
  unsigned streamingWidth = 0;
  unsigned byteEnableLength = 0;
  int atomic = -1; // command held by the atomics extension, -1 without one
  bool parked = false;
};

// Plays the host controller's side of the protocol towards one source: accepts
// a request (TLM_UPDATED, END_REQ, 1600 ps) or parks it (TLM_ACCEPTED, END_REQ
// on the backward path parkTime later), turns non-posted atomics into 16-byte
// writes, releases posted requests at acceptance, and answers the others with
// BEGIN_RESP responseDelay after acceptance.
class SourceTargetDouble : public sc_core::sc_module {
public:
  tlm_utils::simple_target_socket<SourceTargetDouble, 32> socket;

  std::vector<SourceRequest> requests;
  std::vector<sc_core::sc_time> endReqTimes;   // END_REQ sent on the backward path
  std::vector<sc_core::sc_time> responseTimes; // responses delivered

  // Behaviour; set before the run.
  unsigned parkEvery = 0; // park request n when n % parkEvery == parkEvery - 1 (0: never)
  sc_core::sc_time parkTime{3200, sc_core::SC_PS};
  sc_core::sc_time responseDelay{10, sc_core::SC_NS};
  bool postedWrites = false;                     // writes released, never answered
  tlm::tlm_phase responsePhase = tlm::BEGIN_RESP; // phase used to deliver responses
  bool completeRequests = false;                 // answer BEGIN_REQ with TLM_COMPLETED

  SC_HAS_PROCESS(SourceTargetDouble);
  explicit SourceTargetDouble(sc_core::sc_module_name name);

private:
  std::deque<std::pair<sc_core::sc_time, tlm::tlm_generic_payload*>> responseQueue;
  sc_core::sc_event responseQueued;
  tlm::tlm_generic_payload* parked = nullptr;
  sc_core::sc_event parkOver;

  tlm::tlm_sync_enum nb_transport_fw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);
  void Accept(tlm::tlm_generic_payload& trans);
  void AcceptParked();
  void SendResponses();
};

// Records when a done signal rises.
class DoneProbe : public sc_core::sc_module {
public:
  sc_core::sc_in<bool> in;
  std::vector<sc_core::sc_time> rises;

  SC_HAS_PROCESS(DoneProbe);
  explicit DoneProbe(sc_core::sc_module_name name);

private:
  void Watch();
};

// Writes done signals at chosen times, in the order given (times ascending).
class DoneDriver : public sc_core::sc_module {
public:
  struct Step {
    sc_core::sc_time time;
    unsigned index;
    bool value;
  };
  sc_core::sc_vector<sc_core::sc_signal<bool>> signals;
  std::vector<Step> script;

  SC_HAS_PROCESS(DoneDriver);
  DoneDriver(sc_core::sc_module_name name, unsigned count);

private:
  void Run();
};


} // namespace quortest

#endif
