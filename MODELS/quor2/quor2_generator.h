// Synthetic traffic source: a TLM-2.0 initiator that issues NUM_REQUESTS reads,
// writes and atomics to the host controller, on one of five address streams.
// Flow control: the controller accepts (END_REQ at once) or parks a request and
// sends END_REQ later; responses come back as BEGIN_RESP and are completed at
// once with zero delay. `done` rises when everything awaited has come back.
// Under INJECTION_RATE the source is open loop: requests arrive at their own
// times, wait in the source until the controller takes them, and their latency
// counts from their arrival.
#ifndef QUOR2_GENERATOR_H
#define QUOR2_GENERATOR_H

#include "kvl_memory_manager.h"
#include "quor2_offered_load.h"
#include "quor2_ordered_event.h"
#include "quor2_source_stats.h"
#include "quor2_utils.h"

#include <systemc>
#include <tlm>
#include <tlm_utils/simple_initiator_socket.h>

#include <cstdint>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_generator : public sc_core::sc_module {
public:
  using socket_type = tlm_utils::simple_initiator_socket<quor2_generator, 32>;

  sc_core::sc_in<bool> clk;
  sc_core::sc_out<bool> done;
  // The clock's rising edges, met in the model's order of same-instant work.
  ClockTicks ticks{clk};
  const Config& cfg;
  unsigned int randomSeed;
  socket_type requestSocket;
  tlm::tlm_generic_payload* transaction = nullptr;
  sc_core::sc_time tlmDelay;
  kvl_memory_manager memoryManager;
  tlm::tlm_sync_enum returnValue = tlm::TLM_ACCEPTED;
  tlm::tlm_phase tlmPhase;
  unsigned int id;
  uint64_t issuedRequests = 1;
  uint64_t issuedReads = 0;
  uint64_t issuedWrites = 0;
  uint64_t readResponses = 0;
  uint64_t writeResponses = 0;
  // Non-posted atomics accepted: under POSTED_WRITES these are the only
  // requests counted as writes that still await a response.
  uint64_t issuedNonPostedAtomics = 0;
  // End-to-end latencies and delivered bytes, for the statistics file.
  SourceStats sourceStats;
  bool failedRequest = false;
  bool postedAtomic = false;
  OrderedEvent doneEvent;
  unsigned int tempVault = 0;
  unsigned int tempBank = 0;
  unsigned int tempRow = 0;
  unsigned int tempCol = 0;
  unsigned int tempColH = 0;
  unsigned int tempColL = 0;
  uint64_t tempFinalAddress = 0;
  unsigned int requestSizePick = 0;
  unsigned int requestTypePick = 0;
  std::vector<unsigned int> readProbabilities;
  std::vector<unsigned int> writeProbabilities;
  // Open loop: the arrivals, and the arrival time of the oldest request not
  // yet taken by the controller. Arrivals are sent in order, so that one time
  // stands for the queue of arrived requests behind it.
  bool openLoop = false;
  ArrivalStream arrivals;
  sc_core::sc_time nextArrival;

  SC_HAS_PROCESS(quor2_generator);
  quor2_generator(sc_core::sc_module_name name, unsigned int id, const Config& cfg,
                  unsigned int randomSeed);

  void SetClock(sc_core::sc_clock* c);
  void SetDone(sc_core::sc_signal<bool, sc_core::SC_ONE_WRITER>* d);
  socket_type* GetRequestSocket();

  tlm::tlm_sync_enum nb_transport_bw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);

  void SendTraffic();
  void ToggleDone();

  // Reseeds the C generator for the next request and builds its address.
  uint64_t GenerateAddress();
  // Issues requests until the controller parks one or all are issued.
  void GenerateRequestTLM();

private:
  // Shift amounts of the address layout, fixed by the geometry.
  unsigned blockShift = 0;     // log2(MAX_BLOCK_SIZE) - log2(BYTE_OFFSET)
  unsigned offsetShift = 0;    // log2(BYTE_OFFSET)
  unsigned colHighShift = 0;   // log2(NUM_COLS) + log2(BYTE_OFFSET) - log2(MAX_BLOCK_SIZE)
  unsigned bankShift = 0;      // log2(NUM_PARTITIONS * NUM_BANKS)
  unsigned vaultShift = 0;     // log2(NUM_VAULTS)
  unsigned banksPerVault = 0;  // NUM_PARTITIONS * NUM_BANKS

  void PickFields();
  void AdvanceRoundRobin();
  void AdvanceBank();
  void DropAtomicsExtension();
  void AttachAtomic();
  unsigned int PickLength(const std::vector<unsigned int>& probabilities);
  void CountAccepted();
  void PrintFinishLine();
  bool AwaitedResponsesIn() const;
  bool ExpectsWriteResponse(tlm::tlm_generic_payload& trans) const;
  void CheckCompletion();
  bool NextHasArrived() const { return !openLoop || nextArrival <= SimNow(); }
  void TakeNextArrival();
};

} // namespace Orvane::Internal::QUOR2

#endif
