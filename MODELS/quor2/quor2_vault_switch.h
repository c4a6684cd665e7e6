// The response crossbar of a quad. Response flits from the local vault
// controllers wait out a latch, sit in a buffer per vault, move whole packets
// into a smoothing buffer per destination and leave for the local link master
// or for the quad whose link the request came in on; responses from other quads
// go straight to the link master. Flow-control loops: response credits to the
// vault controllers, credits to and from the other quads' vault switches,
// credits from the link master; a priority mode favours buffers over threshold
// and destinations short of credits are throttled.
#ifndef QUOR2_VAULT_SWITCH_H
#define QUOR2_VAULT_SWITCH_H

#include "quor2_event_queue.h"
#include "quor2_flit_p.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

#include <cstdint>
#include <deque>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// Decisions of the vault switch that need no kernel.
namespace vswitch {

// Quad faced by interquad port k of quad id.
unsigned PortToQuad(unsigned id, unsigned port);
// Interquad port of quad id that carries traffic to quad q (q != id).
unsigned QuadToPort(unsigned id, unsigned quad);
// Quads 0 and 3, and quads 1 and 2, are diagonal neighbours.
bool IsDiagonalPair(unsigned a, unsigned b);
// The diagonal neighbour of quad q (q <= 3).
unsigned DiagonalNeighbour(unsigned q);
// Lane of a flit entering a vault latch: 0 when the latch is empty, else the
// lane after the last latched flit's, wrapping at lanesPerCycle.
int NextLane(bool latchEmpty, int lastLane, unsigned lanesPerCycle);

// A destination is throttled at this many credits or fewer.
constexpr int kLinkMasterThrottleCredits = 7;
constexpr int kInterQuadThrottleCredits = 10;
constexpr uint64_t kThrottleCycles = 2;

struct ThrottleState {
  bool throttled = false;
  sc_core::sc_time until;
};
// One step of a destination's throttle: leaves it when credits rise above the
// threshold or its time is over, enters it (for kThrottleCycles) at or below
// the threshold.
ThrottleState UpdateThrottle(ThrottleState s, int credits, int threshold,
                             const sc_core::sc_time& now, const sc_core::sc_time& cycle);

// Credits written in one pulse: what is owed, at most the lane's limit.
unsigned CreditPulseAmount(unsigned owed, unsigned limit);

inline bool MoreThanOneBit(uint32_t mask) { return (mask & (mask - 1)) != 0; }

} // namespace vswitch

class quor2_vault_switch : public sc_core::sc_module {
public:
  sc_core::sc_vector<sc_core::sc_vector<sc_core::sc_in<Flit_P>>> inputFlitsFromSlices;
  sc_core::sc_vector<sc_core::sc_vector<sc_core::sc_in<Flit_P>>> inputFlitsFromInterQuad;
  sc_core::sc_vector<sc_core::sc_vector<sc_core::sc_out<Flit_P>>> outputFlitsToInterQuad;
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> outputFlitsToLM;
  sc_core::sc_vector<sc_core::sc_out<int>> creditOutputLanes;
  sc_core::sc_vector<sc_core::sc_in<int>> creditInputLanes;
  sc_core::sc_in<int> creditInputFromLM;

  const Config& cfg;
  StatsKeeper& stats;
  unsigned id;

  std::vector<std::deque<Flit_P>> vaultResponseBuffers;
  std::vector<unsigned> vaultResponseBufferTailCount;
  std::vector<std::deque<Flit_P>> vaultDelayLatches;
  std::vector<std::deque<sc_core::sc_time>> vaultDelayLatchTiming;
  std::vector<std::deque<Flit_P>> interquadBuffers;
  std::vector<unsigned> sourceBufferTailCount;
  std::vector<std::deque<Flit_P>> interquadDelayLatches;
  std::vector<std::deque<sc_core::sc_time>> interquadDelayLatchTiming;
  unsigned lmSmoothingBufferTailCount = 0;
  std::vector<std::deque<Flit_P>> smoothingBuffers;
  std::vector<std::deque<sc_core::sc_time>> smoothingBufferReadyTimes;
  std::vector<unsigned> returnCredits;
  std::vector<int> destinationBufferLocks;
  std::vector<int> destinationCredits;
  // Plain interquad credits in flight: NUM_QUADS entries per arrival, oldest first.
  std::deque<int> creditDelayQueue;
  std::deque<int> zcreditDelayQueue;
  std::vector<bool> destinationThrottle;
  std::vector<sc_core::sc_time> destinationThrottleTime;
  std::vector<unsigned> perDestVaultRR;
  uint32_t priorityMask = 0;
  uint32_t tailMask = 0;
  uint32_t notEmptyMask = 0;
  bool usePriority = false;
  std::vector<bool> perDestUsePriority;
  std::vector<std::vector<int>> bufferFlitCountForDest;
  bool priorityLock = false;
  std::vector<sc_core::sc_time> sourceBufferSample;
  OrderedEvent priorityOffEvent, priorityLockEvent, smoothingBufferEvent, queueEvent,
      returnCreditEvent;
  // Timed waits of the threads, one each.
  OrderedEvent interQuadWake, creditWake;
  // Where the credit return stands: waiting for credits to return, for the
  // next edge (credits left over), for the last pulse's idle value to show,
  // or for the end of a pulse.
  enum class CreditReturn { Idle, Edge, Showing, High } creditReturn = CreditReturn::Idle;
  void BeginCreditPulse();
  void RaiseCreditPulse();
  EventQueue creditDelayEvent, zcreditDelayEvent, vaultLatchStallEvent,
      interquadLatchStallEvent;
  unsigned lmRoundRobin = 0;
  bool lmLocked = false;
  unsigned destinationRoundRobin = 0;
  std::vector<unsigned> flitsReceivedThisCycle;
  std::vector<unsigned> flitsSentThisCycle;
  uint64_t lastReceiveFromSlice = 0;

  SC_HAS_PROCESS(quor2_vault_switch);
  quor2_vault_switch(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                     unsigned id);

  // Processes.
  void ReceiveFromSlices();
  void ReturnCreditsOnRequest();
  void ReturnCreditsStep();
  void IncrementCreditCount();
  void IncrementZCreditCount();
  void ReceiveLMCredits();
  void HandleQueues();
  void MoveToSmoothingBuffers();
  void MoveToResponseBuffer();
  void MoveToSourceBuffer();
  void ReceiveFromInterQuad();
  void ReceiveInterQuadCredits();
  void TurnOffPriority();
  void TurnOffPriorityLock();

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

private:
  const unsigned numVaults;
  const unsigned numPorts; // NUM_QUADS - 1
  const unsigned lanes;    // FLITS_PER_CYCLE_VSW
  const sc_core::sc_time cycle;
  // Ports noted by ReceiveFromInterQuad while it waits its cycle (k * lanes + j).
  std::vector<unsigned> notedInterQuadPorts;

  void CheckAlignment() const;
  sc_core::sc_time Now() const { return SimNow(); }
  void SampleSource(unsigned s, std::size_t length);
  void SwitchPriorityOn();
  void SetDestinationsOfVault(unsigned v);
  void UpdateVaultPriority(unsigned v);
  // One vault's walk for destination d; returns true when the scan for d ends.
  bool WalkVault(unsigned d, unsigned v, std::size_t capacity, bool& tookAny);
  void TakeIntoSmoothingBuffer(unsigned d, unsigned v, std::size_t index, int& previousLane,
                               bool& spanned);
  void LocalPriority();
  void InterQuadPriority();
  void UpdateThrottles();
  // Output to the link master; returns true when a source still holds flits.
  bool ServeLinkMaster(bool& creditsToReturn);
  bool ServeQuad(unsigned d);
  bool DestinationHasFlits(unsigned d) const;
  void PrintBuffer(const std::deque<Flit_P>& buffer) const;
};

} // namespace Orvane::Internal::QUOR2

#endif
