// Neighbours of the host controller in module tests: a scripted traffic source
// that speaks the controller's non-blocking protocol, and a loopback cube that
// checks the request flit streams and answers every request packet.
#ifndef QUORSIM_TEST_CONTROLLER_DOUBLES_H
#define QUORSIM_TEST_CONTROLLER_DOUBLES_H

#include "quor2_flit_p.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_initiator_socket.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace quortest {

namespace q2 = Orvane::Internal::QUOR2;

// One request of a source's script.
struct SourceRequest {
  sc_core::sc_time at;  // not sent before this time
  tlm::tlm_command command = tlm::TLM_READ_COMMAND;
  uint64_t address = 0;
  unsigned length = 64;
  unsigned leadingNulls = 0;  // travels in the byte-enable length
  unsigned link = 0;          // travels in the streaming width
  int atomic = -1;            // a QUORCommand for the atomics extension, or none
  bool blocking = false;      // use b_transport instead
};

// What happened to one scripted request.
struct SourceRecord {
  sc_core::sc_time sentAt;
  tlm::tlm_sync_enum result = tlm::TLM_ACCEPTED;
  tlm::tlm_phase phase;       // as the controller left it
  sc_core::sc_time delay;     // as the controller left it
  bool endReqOnBackward = false;
  sc_core::sc_time endReqAt;  // time of the backward END_REQ
  bool responded = false;
  sc_core::sc_time responseAt;
  tlm::tlm_command responseCommand = tlm::TLM_IGNORE_COMMAND;
  unsigned responseLength = 0;
  unsigned responseLink = 0;  // streaming width at the response
  tlm::tlm_command commandAfterAccept = tlm::TLM_IGNORE_COMMAND;
  unsigned lengthAfterAccept = 0;
  unsigned linkAfterAccept = 0;
};

class ControllerTestSource : public sc_core::sc_module, public tlm::tlm_mm_interface {
public:
  tlm_utils::simple_initiator_socket<ControllerTestSource, 32> socket;

  std::vector<SourceRequest> script;
  std::vector<SourceRecord> records;
  std::vector<std::size_t> responseOrder;  // script indexes, in order of response
  std::vector<sc_core::sc_time> endRespSentAt;
  unsigned released = 0;  // payloads whose last holder let go

  // How the source answers BEGIN_RESP.
  tlm::tlm_sync_enum answer = tlm::TLM_COMPLETED;
  sc_core::sc_time answerDelay;
  sc_core::sc_time endRespAfter;  // when answering TLM_ACCEPTED

  SC_HAS_PROCESS(ControllerTestSource);
  ControllerTestSource(sc_core::sc_module_name name, std::vector<SourceRequest> script);

  void free(tlm::tlm_generic_payload* trans) override;

private:
  struct Payload : tlm::tlm_generic_payload {
    explicit Payload(tlm::tlm_mm_interface* mm, std::size_t index)
        : tlm::tlm_generic_payload(mm), index(index) {}
    std::size_t index;
  };
  std::vector<std::unique_ptr<Payload>> payloads;
  sc_core::sc_event endReqEvent;
  sc_core::sc_event endRespEvent;
  Payload* lastResponse = nullptr;

  void Send();
  void SendEndResp();
  tlm::tlm_sync_enum nb_transport_bw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);
};

// A flit as the loopback cube saw it on a request link.
struct SeenFlit {
  sc_core::sc_time at;
  unsigned link;
  uint64_t uniqueID;
  q2::QUORCommand command;
  uint32_t tag;
  uint64_t address;
  unsigned length;
  bool header;
  bool tail;
  unsigned number;
  unsigned returnTokens;
  unsigned leadingNulls;
};

class ControllerTestCube : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_in<q2::Flit_P>> requestLinks;
  sc_core::sc_vector<sc_core::sc_out<q2::Flit_P>> responseLinks;

  enum TokenMode { kNoTokens, kTokenFlits, kOnResponseTails };

  // Behaviour, set before the run.
  sc_core::sc_time responseLatency{2, sc_core::SC_NS};  // request tail to first response flit
  sc_core::sc_time responsePeriod{1, sc_core::SC_NS};   // between flits on a response link
  TokenMode tokenMode = kTokenFlits;
  sc_core::sc_time tokenDelay{1, sc_core::SC_NS};
  std::vector<unsigned> sourceLinkOf;     // per link: sourceLink put on responses
  std::vector<unsigned> destinationOf;    // per link: destinationField put on responses
  std::vector<sc_core::sc_time> extraLatency;  // per link, added to responseLatency
  bool recordNulls = false;

  // What was seen.
  std::vector<SeenFlit> seen;                       // every non-null flit (and nulls if asked)
  std::vector<std::vector<sc_core::sc_time>> times; // per link: time of every flit
  std::vector<uint64_t> hostReturnedTokens;         // per link: tokens the host gave back
  std::vector<uint64_t> responseFlitsSent;          // per link, response packets' flits
  std::vector<uint64_t> tokenFlitsSent;             // per link, token-return flits
  std::vector<uint64_t> requestFlits;               // per link
  std::vector<std::string> problems;                // protocol faults found on the links

  SC_HAS_PROCESS(ControllerTestCube);
  ControllerTestCube(sc_core::sc_module_name name, const q2::Config& cfg);
  ~ControllerTestCube() override;

  // Puts a flit on a response link at (or after) the given time; the cube owns it.
  void Inject(unsigned link, const sc_core::sc_time& at, q2::Flit* flit);
  // Flits of one command seen on a link, in order.
  std::vector<SeenFlit> Seen(unsigned link, q2::QUORCommand command) const;
  std::vector<SeenFlit> Headers(unsigned link) const;

private:
  const q2::Config& cfg;
  sc_core::sc_time flitRate;
  sc_core::sc_time adjustedFlitRate;
  struct Outgoing {
    sc_core::sc_time at;
    q2::Flit* flit;
  };
  std::vector<std::deque<Outgoing>> outgoing;
  std::vector<sc_core::sc_time> nextFreeSlot;
  std::unordered_set<uint64_t> seenIDs;
  std::vector<unsigned> expectedNumber;  // next flit number of the open packet, 0 = none
  std::vector<unsigned> packetFlits;
  sc_core::sc_event workEvent;

  void ReceiveRequests();
  void SendResponses();
  void CheckTiming(unsigned link, const sc_core::sc_time& now);
  void AnswerPacket(unsigned link, const q2::Flit& tail, unsigned flits);
  void Enqueue(unsigned link, const sc_core::sc_time& at, q2::Flit* flit);
  void Problem(const std::string& what);
};

} // namespace quortest

#endif
