// The host side of the serial links: turns TLM transactions from the traffic
// sources into request packets, puts one flit per flit period on every request
// link, and hands completed transactions back. Takes part in two token loops:
// host tokens (spent per request flit, returned by the cube) and response
// tokens (earned per response handed back, returned to the cube on request
// tails or in token-return flits).
#ifndef QUOR2_QUOR_CONTROLLER_H
#define QUOR2_QUOR_CONTROLLER_H

#include "quor2_call_wrapper.h"
#include "quor2_flit_p.h"
#include "quor2_occupancy.h"
#include "quor2_ordered_event.h"
#include "quor2_ports.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_target_socket.h>

#include <cstdint>
#include <deque>
#include <limits>
#include <unordered_map>
#include <vector>

namespace Orvane::Internal::QUOR2 {

using ControllerSocket = tlm_utils::simple_target_socket<quor2_call_wrapper, 32>;

// Quad that holds an address under the configured mapping scheme, or
// kNoQuad (after printing the scheme error) for an unknown scheme.
constexpr uint64_t kNoQuad = std::numeric_limits<uint64_t>::max();
uint64_t QuadOfAddress(uint64_t address, const Config& cfg);

// Slot of a request size in the eight size counters (16..128 bytes), or -1
// when the length falls outside them.
int RequestSizeSlot(unsigned length);

// Tokens to attach to one packet from those owed: at most maxReturn; the rest
// stay owed.
unsigned TakeReturnTokens(unsigned& owed, unsigned maxReturn);

class quor2_data_store;

class quor2_quor_controller : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> requestLinks;
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> responseLinks;
  std::vector<ControllerSocket*> requestSockets;

  tlm::tlm_generic_payload* transaction = nullptr;
  tlm::tlm_phase tlmPhase;
  sc_core::sc_time tlmDelay;
  tlm::tlm_sync_enum returnValue = tlm::TLM_ACCEPTED;

  const Config& cfg;
  StatsKeeper& stats;

  std::vector<std::deque<Flit_P>> requestBuffers;
  std::vector<std::deque<tlm::tlm_generic_payload*>> pendingResponses;
  // Payloads of posted writes per link, in packet order: each goes home when its
  // header leaves, so its source knows the write is out.
  std::vector<std::deque<tlm::tlm_generic_payload*>> postedPayloads;
  std::vector<std::deque<unsigned>> perLinkFreeTags;
  std::vector<unsigned> perLinkTokens;
  std::vector<unsigned> perLinkReturnTokens;
  OrderedEvent responseEvent;
  OrderedEvent issueWake; // the flit-period wait of IssueRequest
  std::vector<sc_core::sc_time> perLinkTokenSample;
  std::vector<unsigned> perLinkSpacingCounter;
  sc_core::sc_time flitRate;
  sc_core::sc_time adjustedFlitRate;
  int clockCounter = 0;
  uint64_t postedWriteTags = 0;
  uint64_t tokenReturnTag = 0;
  std::vector<tlm::tlm_generic_payload*> pendingTransactions;
  std::vector<bool> transactionWaiting;
  // Indexed by pooled tag (all pooled tags are below NUM_LINKS x TAGS_PER_LINK).
  // Entries stay after the response; the next use of the tag overwrites them.
  std::vector<tlm::tlm_generic_payload*> outstandingTransactions;
  std::vector<unsigned> outstandingTransactionSources;
  std::vector<quor2_call_wrapper*> callWrappers;
  uint64_t incomingAddress = 0;
  unsigned incomingRequestLength = 0;
  unsigned incomingDestinationLink = 0;
  std::vector<bool> returningResponse;
  std::vector<sc_core::sc_time> nextAvailableResponseTime;
  // Over all links, for the time series and the statistics file: requests that
  // hold a tag (sent, not yet answered) and flits waiting in requestBuffers.
  Occupancy outstandingRequests;
  Occupancy bufferedRequestFlits;
  // Set under STORE_DATA only.
  quor2_data_store* store = nullptr;
  // Payloads of b_transport calls in flight, each with the event its caller
  // waits on. Looked up, never walked.
  std::unordered_map<const tlm::tlm_generic_payload*, sc_core::sc_event*> blockingCalls;
  sc_core::sc_event parkFreed; // a source's parked request was taken in

  SC_HAS_PROCESS(quor2_quor_controller);
  quor2_quor_controller(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats);
  ~quor2_quor_controller() override;

  bool ReceiveRequest(tlm::tlm_generic_payload& trans, int generatorID);
  uint64_t DetermineQuad(uint64_t address);

  void IssueRequest();
  void NextIssue();
  void end_of_elaboration() override;
  void ReturnResponse();
  void ReceiveResponse();

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

  // Never bound to a socket: the call wrappers take the sources' calls.
  tlm::tlm_sync_enum nb_transport_fw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);

  // A host's request (no link extension) the model cannot serve: sets the
  // error status and returns true. The model's own sources are never refused.
  bool RefuseHostRequest(tlm::tlm_generic_payload& trans) const;
  // Takes a request of a source's blocking call in through the same intake,
  // retries and response path as a non-blocking one; returns when it is
  // answered (a posted write: when it left, a posted atomic: when taken in).
  void BlockingTransport(unsigned source, tlm::tlm_generic_payload& trans);
  // Reads or writes the store without timing; 0 bytes when there is none.
  unsigned DebugTransport(tlm::tlm_generic_payload& trans);

private:
  tlm::tlm_sync_enum HandBack(unsigned source, tlm::tlm_generic_payload& payload);
  bool WakeBlockingCall(const tlm::tlm_generic_payload& payload);
  unsigned ChooseLink(const tlm::tlm_generic_payload& trans);
  bool ReceiveAtomic(tlm::tlm_generic_payload& trans, int generatorID, QUORCommand command,
                     unsigned link, unsigned leadingNulls);
  unsigned TakeTag(unsigned link, tlm::tlm_generic_payload& trans, int generatorID);
  void AppendPacket(unsigned link, unsigned tag, QUORCommand command, unsigned length,
                    unsigned flits, unsigned leadingNulls, const tlm::tlm_generic_payload& trans);
  void CountRequestSize(std::vector<uint64_t>& counters, unsigned length);

  void IssueOnLink(unsigned link, const sc_core::sc_time& now);
  bool HeaderMayGo(unsigned link, const Flit& header);
  void SendIdleFlit(unsigned link);
  void RetryParkedRequests();

  void CompleteResponse(unsigned link, const Flit& tail, const sc_core::sc_time& now);
  void BookReadLatency(unsigned link, const Flit& tail, unsigned quad, const sc_core::sc_time& now);
  void ReturnOpenLoop();
  void ReturnClosedLoop();
  void EarnTokens(tlm::tlm_command command, unsigned length, unsigned link);
  void CountDelivered(const tlm::tlm_generic_payload& payload);
};

} // namespace Orvane::Internal::QUOR2

#endif
