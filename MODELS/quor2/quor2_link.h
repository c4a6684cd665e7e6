// The cube's end of one serial link. The link slave takes request flits from the
// host at the flit rate, checks each against the packet protocol, batches them per
// core cycle and hands them to the quad's link switch, holding them back while the
// switch reports its input buffer busy. The link master sends whole response
// packets to the host while it holds host tokens, hands back the tokens freed by
// the link switch, and returns one credit per response flit to the vault switch.
#ifndef QUOR2_LINK_H
#define QUOR2_LINK_H

#include "quor2_clock.h"
#include "quor2_event_queue.h"
#include "quor2_flit_p.h"
#include "quor2_ordered_event.h"
#include "quor2_ports.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// Global vault number of an address under mapping scheme 0: consecutive blocks of
// 2^blockShift bytes (blockShift = log2(MAX_BLOCK_SIZE)) go to consecutive vaults.
inline uint64_t VaultOfAddress(uint64_t addr, unsigned blockShift, unsigned numVaults) {
  return (addr >> blockShift) & (uint64_t{numVaults} - 1);
}

class quor2_link : public sc_core::sc_module {
public:
  sc_core::sc_in<Flit_P> requestLinks;
  sc_core::sc_out<Flit_P> responseLinks;
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> inputsFromVaultSwitch;
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> outputsToLinkSwitch;
  sc_core::sc_out<int> creditReturn;
  sc_core::sc_in<int> tokenInput;
  sc_core::sc_in<bool> inputBufferBusy;

  const Config& cfg;
  StatsKeeper& stats;
  unsigned int id;

  // Buffers in flow order; inputDelayBuffer holds one batch per core cycle.
  std::deque<Flit_P> flitsForLSW;
  std::deque<Flit_P> processedFlits;
  std::deque<Flit_P> inputBuffer;
  std::deque<Flit_P> outputBuffer;
  std::deque<Flit_P> clockBoundaryBuffer;
  std::deque<std::vector<Flit_P>> inputDelayBuffer;
  std::deque<Flit_P> outputDelayBuffer;

  EventQueue receiveFlitEvent;
  EventQueue sendFlitEvent;
  OrderedEvent responseEvent;
  EventQueue creditReturnEvent;
  OrderedEvent inputBufferEvent;
  OrderedEvent moveFlitsToLSW;
  EventQueue tokenDelayEvent;
  // The core-cycle step, the response intake a cycle on, the credit pulse's
  // second half.
  OrderedEvent boundaryWake, responseWake, creditWake;
  PulseSteps<sc_core::sc_out<int>, int> creditPulse{creditReturn, 0, creditWake};

  sc_core::sc_time flitRate;
  uint32_t maxFlitsPerCycle;
  bool LSWStall;
  bool sendingPacket;
  uint32_t tokenCount;
  std::deque<uint32_t> tokenDelayQueue;
  uint32_t returnTokens;
  std::deque<uint32_t> returnCredits;
  uint32_t tailCount;
  uint32_t tokenReturnTag;
  sc_core::sc_time lastTimeSentToLSW;
  int32_t incomingRequestLength;
  int32_t incomingTag;
  int32_t incomingResponseTag;
  QUORCommand incomingCommand;
  uint32_t nextFlitNumber;
  sc_core::sc_time timeOfLastFlit;

  SC_HAS_PROCESS(quor2_link);
  quor2_link(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
             unsigned int id);

  // Processes.
  void ReceiveRequestFlits();
  void HandleClockBoundary();
  void ReceiveResponseFlits();
  void TakeResponseFlits();
  void SendResponseFlits();
  void ReceiveReturnTokensFromLSW();
  void IncrementReturnTokens();
  void end_of_elaboration() override;
  void CreditReturn();
  void EndCreditReturn();
  void WriteToResponseLink();
  void ReceiveRequestFlitsAtLS();
  void HandleInputBuffer();
  void MoveFlitsToLSW();
  void ReceiveBusyToggle();

  uint64_t ComputeDestinationField(uint64_t addr);
  void SafetyCheck(Flit_P incomingFlit);
  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

private:
  // Fixed at construction.
  unsigned lswLanes;        // FLITS_PER_CYCLE_LSW
  unsigned blockShift;      // log2(MAX_BLOCK_SIZE)
  uint64_t addressLimit;    // device capacity in bytes, 0 when unchecked
  const char* capacityText; // the end of the address message
  sc_core::sc_time onePs;
  sc_core::sc_time inputDelay;    // LINK_INPUT_DELAY core cycles
  sc_core::sc_time outputDelay;   // LINK_OUTPUT_DELAY core cycles
  sc_core::sc_time creditDelay;   // CREDIT_RETURN_DELAY_LM flit periods
  sc_core::sc_time tokenDelay;    // TOKEN_RETURN_DELAY_LSW core cycles

  // Per-pass scratch and recycled batch storage.
  std::vector<char> laneHasFlit;
  bool responsePending = false; // lanes not watched until TakeResponseFlits
  std::vector<std::vector<Flit_P>> spareBatches;

  void CreditHostTokens(const Flit& f, const char* origin);
  void AttachOwedTokens(Flit& f);
  bool MayRespond() const;
  void ForwardProcessedFlits();
  [[noreturn]] void AbortWithFlit(const Flit_P& f);
  void CheckAddress(const Flit_P& f);
  static bool IsAbsorbed(const Flit& f) {
    return f.command == NULL_COMMAND || f.command == TOKEN_RETURN;
  }
};

} // namespace Orvane::Internal::QUOR2

#endif
