// The request crossbar of one quad. Request flits from the own link and from
// the other quads' link switches wait in per-source line buffers and leave as
// whole packets to the local vault controllers or to the other quads. Takes part
// in four loops: command and write-data credits per local vault, line credits
// per other quad (with early return), and host tokens towards the own link,
// plus the busy signal that holds flits back in the link's input buffer.
#ifndef QUOR2_LINK_SWITCH_H
#define QUOR2_LINK_SWITCH_H

#include "quor2_event_queue.h"
#include "quor2_flit_p.h"
#include "quor2_rest_check.h"
#include "quor2_utils.h"

#include <systemc>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// Destination index at link switch `id` of a flit for global vault
// `destinationField`: the local vault for the own quad, vaultsPerQuad + k for
// the k-th other quad in increasing quad order. -1 when the vault lies outside
// the cube (no quad of that number).
int LinkSwitchDestination(uint32_t destinationField, unsigned id, unsigned vaultsPerQuad,
                          unsigned numQuads);

// The quad that interquad port k of quad `id` faces (also the quad of
// destination vaultsPerQuad + k).
inline unsigned QuadOfInterQuadPort(unsigned port, unsigned id) {
  return port < id ? port : port + 1;
}

// Credit throttle of one destination. A short destination is closed for the
// stall time, open for the one run in which the stall runs out, then closed again.
struct ThrottleState {
  bool throttled = false;
  sc_core::sc_time end;
};
ThrottleState UpdateThrottle(const ThrottleState& state, bool shortOfCredits,
                             const sc_core::sc_time& now, const sc_core::sc_time& stall);

// Write-data credits one flit takes towards a vault: a read request (header and
// tail) none, any other header one, a data flit one, except the tail of a request
// whose length is a multiple of 32 bytes. A write packet thus takes
// 2 x ceil(length / 32).
unsigned WriteDataCreditsForFlit(bool header, bool tail, unsigned requestLength);

// Whether a flit may go to a vault with the given credits: two write-data credits
// are always needed, and a header also needs a command credit.
bool VaultCreditsAllow(bool header, unsigned commandCredits, unsigned writeDataCredits);

// Lines the own link may still add to the link switch's buffer once it sees the
// busy signal: it stops only between packets, and the rest of a 9-flit packet
// coming one flit per cycle takes a line per flit.
constexpr unsigned kLinesOfAnOpenPacket = 8;

// Lines the own link may add after the buffer grows past the busy threshold,
// before it stops: in the crossing cycle and each cycle of the busy delay up to
// `switchRate` lines, then the rest of an open packet at `linkRate` flits a cycle.
unsigned BusySkidLines(unsigned busyDelay, unsigned switchRate, unsigned linkRate);

// Whether the own link's source buffer, holding `lines`, must hold the link back
// now rather than after the busy delay: one more cycle of `switchRate` new lines
// and the rest of an open packet would no longer fit in `bufferSize` lines.
bool LinkInputNearlyFull(std::size_t lines, unsigned bufferSize, unsigned switchRate);

// Tokens one pulse hands to the own link. Above the link's per-cycle rate the
// pulse carries the switch's rate, never more than is owed.
unsigned TokensForPulse(unsigned owed, unsigned linkRate, unsigned switchRate);

class quor2_link_switch : public sc_core::sc_module {
public:
  sc_core::sc_out<bool> inputBufferBusy;
  sc_core::sc_vector<sc_core::sc_out<int>> earlyCreditOutputLanes;
  sc_core::sc_vector<sc_core::sc_in<int>> earlyCreditInputLanes;
  sc_core::sc_vector<sc_core::sc_out<int>> creditOutputLanes;
  sc_core::sc_vector<sc_core::sc_in<int>> creditInputLanes;
  sc_core::sc_vector<sc_core::sc_in<bool>> creditsFromSlices;
  sc_core::sc_vector<sc_core::sc_in<int>> writeCreditsFromSlices;
  sc_core::sc_vector<sc_core::sc_out<Flit_P>> outputFlitsToSlices;
  sc_core::sc_vector<sc_core::sc_vector<sc_core::sc_out<Flit_P>>> outputFlitsToInterQuad;
  sc_core::sc_vector<sc_core::sc_vector<sc_core::sc_in<Flit_P>>> inputFlitsFromInterQuad;
  sc_core::sc_vector<sc_core::sc_in<Flit_P>> inputFlitsFromLinkSlave;

  const Config& cfg;
  StatsKeeper& stats;
  unsigned id;

  // Flits from one source in one core cycle for one destination: a handful,
  // taken from the front. A vector and a read position cost no allocation per
  // flit taken, unlike a deque's blocks.
  class Line {
  public:
    using const_iterator = std::vector<Flit_P>::const_iterator;
    bool empty() const { return head == flits.size(); }
    std::size_t size() const { return flits.size() - head; }
    const Flit_P& front() const { return flits[head]; }
    const Flit_P& back() const { return flits.back(); }
    const Flit_P& operator[](std::size_t i) const { return flits[head + i]; }
    void push_back(const Flit_P& f) {
      if (flits.capacity() == 0) flits.reserve(4); // one allocation for a usual line
      flits.push_back(f);
    }
    void pop_front() { ++head; }
    const_iterator begin() const { return flits.begin() + static_cast<std::ptrdiff_t>(head); }
    const_iterator end() const { return flits.end(); }

  private:
    std::vector<Flit_P> flits;
    std::size_t head = 0;
  };

  unsigned sourceBufferRoundRobin;
  std::vector<unsigned> vaultRoundRobin;
  std::vector<int32_t> incomingTagInterquad;
  int32_t incomingTagLS;
  std::vector<unsigned> destinationCredits;
  std::vector<unsigned> writeDataCredits;
  std::vector<unsigned> returnCredits;
  std::deque<std::vector<unsigned>> creditDelayQueue;
  std::deque<std::vector<unsigned>> earlyReturnCredits;
  std::vector<unsigned> perSourceDestRR;
  std::vector<std::deque<Line>> sourceBuffers;
  std::vector<std::deque<sc_core::sc_time>> sourceBufferDelays;
  std::vector<unsigned> sourceBufferTailCount;
  std::vector<std::vector<int32_t>> perDestSourceBufferLineIndex;
  std::vector<sc_core::sc_time> perDestThrottleTime;
  std::vector<bool> perDestThrottle;
  std::vector<int32_t> destinationLocks;
  std::vector<unsigned> flitsReceivedThisCycle;
  std::vector<unsigned> flitsSentThisCycle;
  std::deque<bool> bufferStallToggle;
  std::deque<unsigned> tailIncreaseQueue;
  OrderedEvent queueEvent;
  EventQueue earlyCreditReturnEvent;
  EventQueue creditDelayEvent;
  OrderedEvent tokenEvent;
  // Timed waits of the two threads.
  OrderedEvent earlyCreditWake, tokenWake;
  EventQueue inputBufferBusyEvent;
  EventQueue tailIncreaseEvent;
  std::vector<sc_core::sc_time> sourceBufferSample;
  sc_core::sc_time lastReceivedFromLS;

  SC_HAS_PROCESS(quor2_link_switch);
  quor2_link_switch(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                    unsigned id);

  void ReceiveFromLinkSlave();
  void HandleQueues();
  void ReturnTokens();
  void EarlyCreditReturn();
  void ToggleBusy();
  void ReceiveFromInterQuad();
  void ReceiveSliceCredits();
  void ReceiveWriteCredits();
  void ReceiveInterQuadCredits();
  void IncrementCredits();
  void ReceiveEarlyInterQuadCredits();
  void TailIncrease();

  void DumpState();
  // Adds every tag, token, credit and buffer this module owns to a check of a
  // drained run.
  void CheckAtRest(RestCheck& check) const;

  unsigned NumDestinations() const { return numDestinations; }

private:
  unsigned numDestinations;

  // Scratch of one intake call or one arbitration pass, cleared where it ends.
  std::vector<unsigned> creditsThisCycle;
  std::vector<char> usedLanes;
  std::vector<char> lanesUsed;
  unsigned startingSourceIndex = 0;
  bool topPriorityIssued = false;
  bool perSourceTopPriorityIssued = false;
  int startingDestination = -1;

  // Destination index of a flit; ends the run when the flit cannot be routed.
  unsigned RoutableDestination(const Flit_P& f, bool mustBeLocal) const;
  void CheckContiguous(int32_t& incomingTag, const Flit_P& f, const char* what) const;
  void SampleOccupancy(unsigned source, const sc_core::sc_time& now);
  bool LineIsFor(const Line& line, unsigned d) const;
  bool IsShortOfCredits(unsigned d) const;
  void UpdateThrottles(const sc_core::sc_time& now);
  void ServeSource(unsigned s, const sc_core::sc_time& now);
  void SendFromLine(unsigned s, unsigned d, unsigned laneLimit, const sc_core::sc_time& now);
  bool SendOneFlit(unsigned d, const Flit_P& f);
  void RemoveLine(unsigned s, unsigned d, unsigned index);
  void UpdateRoomBusy();
  void OweCredit(unsigned s);

  // The busy signal is the delayed threshold value or, without delay, the lack
  // of room for what the link may still send (LinkInputNearlyFull).
  bool roomGuard = false; // the threshold leaves less room than BusySkidLines
  bool delayedBusy = false;
  bool roomBusy = false;
  OrderedEvent roomBusyEvent;
};

} // namespace Orvane::Internal::QUOR2

#endif
