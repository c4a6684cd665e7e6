#include "quor2_vault_switch.h"

#include "quor2_clock.h"
#include "quor2_flit.h"
#include "quor2_messages.h"
#include "quor2_ports.h"

#include <iostream>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_in;
using sc_core::sc_out;
using sc_core::sc_time;
using sc_core::sc_vector;

namespace vswitch {

unsigned PortToQuad(unsigned id, unsigned port) { return port < id ? port : port + 1; }

unsigned QuadToPort(unsigned id, unsigned quad) { return quad < id ? quad : quad - 1; }

bool IsDiagonalPair(unsigned a, unsigned b) { return a != b && a <= 3 && b <= 3 && a + b == 3; }

unsigned DiagonalNeighbour(unsigned q) { return 3 - q; }

int NextLane(bool latchEmpty, int lastLane, unsigned lanesPerCycle) {
  if (latchEmpty) return 0;
  return static_cast<int>((static_cast<unsigned>(lastLane) + 1) % lanesPerCycle);
}

ThrottleState UpdateThrottle(ThrottleState s, int credits, int threshold, const sc_time& now,
                             const sc_time& cycle) {
  if (s.throttled) {
    if (credits > threshold || now >= s.until) s.throttled = false;
  } else if (credits <= threshold) {
    s.throttled = true;
    s.until = now + Cycles(cycle, kThrottleCycles);
  }
  return s;
}

unsigned CreditPulseAmount(unsigned owed, unsigned limit) { return owed < limit ? owed : limit; }

} // namespace vswitch

namespace {
inline uint32_t Bit(unsigned i) { return uint32_t{1} << i; }
} // namespace

quor2_vault_switch::quor2_vault_switch(sc_core::sc_module_name name, const Config& cfg,
                                       StatsKeeper& stats, unsigned id)
    : sc_module(name), inputFlitsFromSlices("inputFlitsFromSlices"),
      inputFlitsFromInterQuad("inputFlitsFromInterQuad"),
      outputFlitsToInterQuad("outputFlitsToInterQuad"),
      outputFlitsToLM("outputFlitsToLM", cfg.FLITS_PER_CYCLE_VSW),
      creditOutputLanes("creditOutputLanes", cfg.VAULTS_PER_QUAD + cfg.NUM_QUADS - 1),
      creditInputLanes("creditInputLanes", cfg.NUM_QUADS - 1),
      creditInputFromLM("creditInputFromLM"), cfg(cfg), stats(stats), id(id),
      vaultResponseBuffers(cfg.VAULTS_PER_QUAD), vaultResponseBufferTailCount(cfg.VAULTS_PER_QUAD, 0),
      vaultDelayLatches(cfg.VAULTS_PER_QUAD), vaultDelayLatchTiming(cfg.VAULTS_PER_QUAD),
      interquadBuffers(cfg.NUM_QUADS - 1), sourceBufferTailCount(cfg.NUM_QUADS - 1, 0),
      interquadDelayLatches(cfg.NUM_QUADS - 1), interquadDelayLatchTiming(cfg.NUM_QUADS - 1),
      smoothingBuffers(cfg.NUM_QUADS), smoothingBufferReadyTimes(cfg.NUM_QUADS),
      returnCredits(cfg.VAULTS_PER_QUAD + cfg.NUM_QUADS - 1, 0),
      destinationBufferLocks(cfg.NUM_QUADS, -1), destinationCredits(cfg.NUM_QUADS, 0),
      destinationThrottle(cfg.NUM_QUADS, false), destinationThrottleTime(cfg.NUM_QUADS),
      perDestVaultRR(cfg.NUM_QUADS, 0), perDestUsePriority(cfg.NUM_QUADS, false),
      bufferFlitCountForDest(cfg.VAULTS_PER_QUAD, std::vector<int>(cfg.NUM_QUADS, 0)),
      sourceBufferSample(cfg.VAULTS_PER_QUAD + cfg.NUM_QUADS - 1),
      creditDelayEvent("creditDelayEvent"), zcreditDelayEvent("zcreditDelayEvent"),
      vaultLatchStallEvent("vaultLatchStallEvent"),
      interquadLatchStallEvent("interquadLatchStallEvent"),
      flitsReceivedThisCycle(cfg.NUM_QUADS, 0), flitsSentThisCycle(cfg.VAULTS_PER_QUAD, 0),
      numVaults(cfg.VAULTS_PER_QUAD), numPorts(cfg.NUM_QUADS - 1), lanes(cfg.FLITS_PER_CYCLE_VSW),
      cycle(cfg.CORE_CLK) {
  const unsigned slicePorts = cfg.FLITS_OUT_PER_CYCLE_VC;
  const unsigned laneCount = lanes;
  InitNested(inputFlitsFromSlices, numVaults, slicePorts);
  InitNested(inputFlitsFromInterQuad, numPorts, laneCount);
  InitNested(outputFlitsToInterQuad, numPorts, laneCount);
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d)
    destinationCredits[d] =
        static_cast<int>(d == id ? cfg.LINK_MASTER_BUFFER_SIZE : cfg.VSW_INTERQUAD_BUFFER_SIZE);
  notedInterQuadPorts.reserve(numPorts * lanes);

  AssignRanks(Stage::VaultSwitch, id,
              {&creditDelayEvent.Ordered(), &zcreditDelayEvent.Ordered(), &priorityOffEvent,
               &priorityLockEvent, &queueEvent, &smoothingBufferEvent, &vaultLatchStallEvent.Ordered(),
               &interquadLatchStallEvent.Ordered(), &interQuadWake, &creditWake, &returnCreditEvent});

  SC_THREAD(ReceiveFromSlices);
  for (auto& vault : inputFlitsFromSlices)
    for (auto& port : vault) sensitive << port;
  SC_METHOD(ReturnCreditsOnRequest);
  sensitive << returnCreditEvent;
  dont_initialize();
  SC_METHOD(ReturnCreditsStep);
  sensitive << creditWake;
  dont_initialize();
  creditWake.DueRuns<&quor2_vault_switch::ReturnCreditsStep>(this);
  SC_METHOD(IncrementCreditCount);
  sensitive << creditDelayEvent;
  dont_initialize();
  creditDelayEvent.Ordered().DueRuns<&quor2_vault_switch::IncrementCreditCount>(this);
  SC_METHOD(IncrementZCreditCount);
  sensitive << zcreditDelayEvent;
  dont_initialize();
  zcreditDelayEvent.Ordered().DueRuns<&quor2_vault_switch::IncrementZCreditCount>(this);
  SC_METHOD(ReceiveLMCredits);
  sensitive << creditInputFromLM;
  dont_initialize();
  SC_METHOD(HandleQueues);
  sensitive << queueEvent;
  dont_initialize();
  queueEvent.DueRuns<&quor2_vault_switch::HandleQueues>(this);
  SC_METHOD(MoveToSmoothingBuffers);
  sensitive << smoothingBufferEvent;
  dont_initialize();
  smoothingBufferEvent.DueRuns<&quor2_vault_switch::MoveToSmoothingBuffers>(this);
  SC_METHOD(MoveToResponseBuffer);
  sensitive << vaultLatchStallEvent;
  dont_initialize();
  vaultLatchStallEvent.Ordered().DueRuns<&quor2_vault_switch::MoveToResponseBuffer>(this);
  SC_METHOD(MoveToSourceBuffer);
  sensitive << interquadLatchStallEvent;
  dont_initialize();
  interquadLatchStallEvent.Ordered().DueRuns<&quor2_vault_switch::MoveToSourceBuffer>(this);
  SC_THREAD(ReceiveFromInterQuad);
  for (auto& port : inputFlitsFromInterQuad)
    for (auto& lane : port) sensitive << lane;
  SC_METHOD(ReceiveInterQuadCredits);
  for (auto& port : creditInputLanes) sensitive << port;
  SC_METHOD(TurnOffPriority);
  sensitive << priorityOffEvent;
  dont_initialize();
  priorityOffEvent.DueRuns<&quor2_vault_switch::TurnOffPriority>(this);
  SC_METHOD(TurnOffPriorityLock);
  sensitive << priorityLockEvent;
  dont_initialize();
  priorityLockEvent.DueRuns<&quor2_vault_switch::TurnOffPriorityLock>(this);
}

void quor2_vault_switch::CheckAlignment() const {
  if (!IsOnEdge(Now(), cycle)) std::cout << "ERROR: off timing in VSW @ " << Now() << std::endl;
}

void quor2_vault_switch::SampleSource(unsigned s, std::size_t length) {
  const sc_time now = Now();
  stats.perVSWSourceBufferAvg[id][s] +=
      length * ((now - sourceBufferSample[s]).value() / cfg.psScaleFactor);
  sourceBufferSample[s] = now;
}

// ---------------------------------------------------------------- intake

void quor2_vault_switch::ReceiveFromSlices() {
  const sc_time latch = Cycles(cycle, cfg.VSW_LATCH_DELAY);
  while (true) {
    wait();
    const sc_time now = Now();
    lastReceiveFromSlice = now.value();
    for (unsigned v = 0; v < numVaults; ++v) {
      auto& latchFlits = vaultDelayLatches[v];
      for (auto& port : inputFlitsFromSlices[v]) {
        if (!port.event()) continue;
        Flit_P f = port.read();
        f->currentLane = vswitch::NextLane(latchFlits.empty(),
                                       latchFlits.empty() ? 0 : latchFlits.back()->currentLane,
                                       lanes);
        if (f.IsTail()) f->startTimeVSW_L = now;
        latchFlits.push_back(f);
        vaultDelayLatchTiming[v].push_back(now + latch);
      }
    }
    vaultLatchStallEvent.notify(latch);
  }
}

void quor2_vault_switch::MoveToResponseBuffer() {
  const sc_time now = Now();
  for (unsigned v = 0; v < numVaults; ++v) {
    auto& latchFlits = vaultDelayLatches[v];
    auto& times = vaultDelayLatchTiming[v];
    auto& buffer = vaultResponseBuffers[v];
    while (!times.empty() && times.front() <= now) {
      Flit_P f = latchFlits.front();
      latchFlits.pop_front();
      times.pop_front();
      buffer.push_back(f);
      if (f.IsTail()) ++vaultResponseBufferTailCount[v];
      ++bufferFlitCountForDest[v][f->sourceLink];
      SampleSource(v, buffer.size());
      if (buffer.size() > cfg.VSW_RESPONSE_BUFFER_SIZE)
        TimedLine() << "ERROR - Vault Switch " << id << " overflowed buffer " << v << std::endl;
    }
  }
  smoothingBufferEvent.notify(cycle);
}

void quor2_vault_switch::ReceiveFromInterQuad() {
  while (true) {
    wait();
    notedInterQuadPorts.clear();
    for (unsigned k = 0; k < numPorts; ++k)
      for (unsigned j = 0; j < lanes; ++j)
        if (inputFlitsFromInterQuad[k][j].event()) notedInterQuadPorts.push_back(k * lanes + j);
    WaitFor(interQuadWake, cycle);
    const sc_time now = Now();
    for (unsigned noted : notedInterQuadPorts) {
      const unsigned k = noted / lanes;
      Flit_P f = inputFlitsFromInterQuad[k][noted % lanes].read();
      if (f.IsTail()) f->startTimeVSW_R = now;
      const unsigned delay = vswitch::IsDiagonalPair(id, vswitch::PortToQuad(id, k))
                                 ? cfg.VSW_INTERQUAD_LATCH_DELAY_Z
                                 : cfg.VSW_INTERQUAD_LATCH_DELAY;
      interquadDelayLatches[k].push_back(f);
      interquadDelayLatchTiming[k].push_back(now + Cycles(cycle, delay));
      interquadLatchStallEvent.notify(Cycles(cycle, delay));
    }
  }
}

void quor2_vault_switch::MoveToSourceBuffer() {
  const sc_time now = Now();
  for (unsigned k = 0; k < numPorts; ++k) {
    auto& latchFlits = interquadDelayLatches[k];
    auto& times = interquadDelayLatchTiming[k];
    auto& buffer = interquadBuffers[k];
    while (!times.empty() && times.front() <= now) {
      Flit_P f = latchFlits.front();
      latchFlits.pop_front();
      times.pop_front();
      buffer.push_back(f);
      if (f.IsTail()) ++sourceBufferTailCount[k];
      SampleSource(numVaults + k, buffer.size());
      if (buffer.size() > cfg.VSW_INTERQUAD_BUFFER_SIZE)
        TimedLine() << "ERROR - Vault Switch " << id << " overflowed buffer Q"
                    << vswitch::PortToQuad(id, k) << std::endl;
    }
  }
  queueEvent.notify(cycle);
}

// ---------------------------------------------------------------- priority

void quor2_vault_switch::SwitchPriorityOn() {
  usePriority = true;
  priorityOffEvent.notify(cfg.BUFFER_PRIORITY_TIME);
}

void quor2_vault_switch::SetDestinationsOfVault(unsigned v) {
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d)
    if (bufferFlitCountForDest[v][d] != 0) perDestUsePriority[d] = true;
}

void quor2_vault_switch::UpdateVaultPriority(unsigned v) {
  if (vaultResponseBuffers[v].size() < cfg.VSW_RESPONSE_BUFFER_THRESHOLD) {
    priorityMask &= ~Bit(v);
    return;
  }
  priorityMask |= Bit(v);
  if (usePriority) {
    SetDestinationsOfVault(v);
  } else if (!priorityLock) {
    SwitchPriorityOn();
    SetDestinationsOfVault(v);
  }
}

void quor2_vault_switch::LocalPriority() {
  for (unsigned v = 0; v < numVaults; ++v) {
    if (vaultResponseBuffers[v].size() < cfg.VSW_RESPONSE_BUFFER_THRESHOLD) {
      priorityMask &= ~Bit(v);
      continue;
    }
    for (unsigned u = 0; u < numVaults; ++u) priorityMask |= Bit(u);
    if (usePriority) {
      SetDestinationsOfVault(v);
    } else if (!priorityLock) {
      SwitchPriorityOn();
      SetDestinationsOfVault(v);
    }
    return;
  }
}

void quor2_vault_switch::InterQuadPriority() {
  for (unsigned k = 0; k < numPorts; ++k) {
    const uint32_t bit = Bit(numVaults + k);
    if (interquadBuffers[k].size() >= cfg.VSW_INTERQUAD_BUFFER_THRESHOLD) {
      priorityMask |= bit;
      if (usePriority) {
        perDestUsePriority[id] = true;
      } else if (!priorityLock) {
        SwitchPriorityOn();
        perDestUsePriority[id] = true;
      }
    } else {
      priorityMask &= ~bit;
    }
    if (!interquadBuffers[k].empty()) notEmptyMask |= Bit(k);
    if (sourceBufferTailCount[k] != 0) tailMask |= Bit(k);
  }
}

void quor2_vault_switch::TurnOffPriority() {
  usePriority = false;
  priorityLock = true;
  priorityLockEvent.notify(cfg.BUFFER_PRIORITY_WAIT);
}

void quor2_vault_switch::TurnOffPriorityLock() {
  if (!priorityLock) {
    std::cout << "ERROR - Priority lock was not set when event triggered" << std::endl;
    return;
  }
  priorityLock = false;
}

// ---------------------------------------------------------------- vault buffers to smoothing buffers

void quor2_vault_switch::MoveToSmoothingBuffers() {
  CheckAlignment();
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d) perDestUsePriority[d] = false;
  for (unsigned v = 0; v < numVaults; ++v) {
    UpdateVaultPriority(v);
    if (!vaultResponseBuffers[v].empty()) notEmptyMask |= Bit(v);
    if (vaultResponseBufferTailCount[v] != 0) tailMask |= Bit(v);
  }

  bool tookAny = false;
  const unsigned startDestination = destinationRoundRobin;
  for (unsigned i = 0; i < cfg.NUM_QUADS; ++i) {
    const unsigned d = (startDestination + i) % cfg.NUM_QUADS;
    const std::size_t capacity = d == id ? cfg.SMOOTHING_BUFFER_LM_SIZE : cfg.SMOOTHING_BUFFER_Q_SIZE;
    if (smoothingBuffers[d].size() >= capacity) continue;
    const unsigned startVault = perDestVaultRR[d];
    while (true) {
      const unsigned v = perDestVaultRR[d];
      // While any vault holds a complete packet, only such vaults are served.
      const bool passOver = tailMask != 0 && (tailMask & Bit(v)) == 0;
      const bool scanEnds = !passOver && WalkVault(d, v, capacity, tookAny);
      if (scanEnds || flitsReceivedThisCycle[d] >= lanes) break;
      perDestVaultRR[d] = (v + 1) % numVaults;
      if (perDestVaultRR[d] == startVault) break;
    }
    if (destinationBufferLocks[d] == -1) perDestVaultRR[d] = (perDestVaultRR[d] + 1) % numVaults;
  }
  destinationRoundRobin = (startDestination + 1) % cfg.NUM_QUADS;

  for (auto& n : flitsSentThisCycle) n = 0;
  for (auto& n : flitsReceivedThisCycle) n = 0;
  if (tookAny) returnCreditEvent.notify();
  for (const auto& buffer : vaultResponseBuffers) {
    if (!buffer.empty()) {
      smoothingBufferEvent.notify(cycle);
      break;
    }
  }
  tailMask = 0;
  notEmptyMask = 0;
}

bool quor2_vault_switch::WalkVault(unsigned d, unsigned v, std::size_t capacity, bool& tookAny) {
  auto& buffer = vaultResponseBuffers[v];
  int& lock = destinationBufferLocks[d];
  const int vault = static_cast<int>(v);
  const bool severalSources = vswitch::MoreThanOneBit(notEmptyMask);
  int previousLane = -1;
  bool spanned = false;
  bool walkTook = false;
  std::size_t index = 0;
  while (index < buffer.size()) {
    if (flitsReceivedThisCycle[d] >= lanes || flitsSentThisCycle[v] >= lanes ||
        smoothingBuffers[d].size() >= capacity)
      break;
    if (perDestUsePriority[d] && (priorityMask & Bit(v)) == 0 && lock != vault) break;
    const Flit_P& f = buffer[index];
    bool walkEnds = false;
    if (f->sourceLink == d && (lock == vault || lock == -1)) {
      const bool tail = f.IsTail();
      TakeIntoSmoothingBuffer(d, v, index, previousLane, spanned);
      walkTook = true;
      tookAny = true;
      walkEnds = tail && severalSources;
    } else {
      // Stepped over: flits behind it, for other destinations, may overtake it.
      ++index;
      walkEnds = walkTook && lock == -1 && severalSources;
    }
    if (spanned && previousLane == 0) return true;
    if (walkEnds) break;
  }
  return false;
}

void quor2_vault_switch::TakeIntoSmoothingBuffer(unsigned d, unsigned v, std::size_t index,
                                                 int& previousLane, bool& spanned) {
  auto& buffer = vaultResponseBuffers[v];
  Flit_P f = buffer[index];
  const int oldLane = f->currentLane;
  if (oldLane < previousLane) spanned = true;
  previousLane = oldLane;
  f->currentLane = static_cast<int>(flitsReceivedThisCycle[d]);
  smoothingBuffers[d].push_back(f);
  smoothingBufferReadyTimes[d].push_back(Now() + cycle);
  if (d == id && f.IsTail()) ++lmSmoothingBufferTailCount;
  if (f.IsHead()) destinationBufferLocks[d] = static_cast<int>(v);
  if (f.IsTail()) {
    --vaultResponseBufferTailCount[v];
    destinationBufferLocks[d] = -1;
  }
  ++flitsSentThisCycle[v];
  ++flitsReceivedThisCycle[d];
  queueEvent.notify(cycle);
  ++returnCredits[v];
  SampleSource(v, buffer.size());
  if (index == 0)
    buffer.pop_front();
  else
    buffer.erase(buffer.begin() + static_cast<std::ptrdiff_t>(index));
  --bufferFlitCountForDest[v][d];
}

// ---------------------------------------------------------------- output

void quor2_vault_switch::HandleQueues() {
  CheckAlignment();
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d) perDestUsePriority[d] = false;
  LocalPriority();
  if (cfg.NUM_QUADS > 1) InterQuadPriority();
  const uint32_t smoothingBit = Bit(cfg.NUM_QUADS - 1);
  if (!smoothingBuffers[id].empty()) notEmptyMask |= smoothingBit;
  if (lmSmoothingBufferTailCount != 0) tailMask |= smoothingBit;
  if (priorityMask == 0) {
    usePriority = false;
    priorityOffEvent.cancel();
  }
  UpdateThrottles();

  bool moreWork = false;
  bool creditsToReturn = false;
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d) {
    if (destinationThrottle[d]) {
      // A throttled destination that could send keeps the step running, so its
      // throttle runs out even when nothing else wakes the switch.
      if (destinationCredits[d] > 0 && DestinationHasFlits(d)) moreWork = true;
      continue;
    }
    if (d == id) {
      if (ServeLinkMaster(creditsToReturn)) moreWork = true;
    } else if (ServeQuad(d)) {
      moreWork = true;
    }
  }
  if (creditsToReturn) returnCreditEvent.notify();
  if (moreWork) queueEvent.notify(cycle);
  tailMask = 0;
  notEmptyMask = 0;
}

void quor2_vault_switch::UpdateThrottles() {
  const sc_time now = Now();
  for (unsigned d = 0; d < cfg.NUM_QUADS; ++d) {
    const int threshold = d == id ? vswitch::kLinkMasterThrottleCredits : vswitch::kInterQuadThrottleCredits;
    vswitch::ThrottleState s{destinationThrottle[d], destinationThrottleTime[d]};
    s = vswitch::UpdateThrottle(s, destinationCredits[d], threshold, now, cycle);
    destinationThrottle[d] = s.throttled;
    destinationThrottleTime[d] = s.until;
  }
}

bool quor2_vault_switch::DestinationHasFlits(unsigned d) const {
  if (!smoothingBuffers[d].empty()) return true;
  if (d != id) return false;
  for (const auto& buffer : interquadBuffers)
    if (!buffer.empty()) return true;
  return false;
}

bool quor2_vault_switch::ServeLinkMaster(bool& creditsToReturn) {
  const sc_time now = Now();
  const unsigned sources = cfg.NUM_QUADS;
  const unsigned smoothingSource = sources - 1;
  const bool severalSources = vswitch::MoreThanOneBit(notEmptyMask);
  int& credits = destinationCredits[id];
  unsigned sent = 0;
  bool moreWork = false;
  const unsigned start = lmRoundRobin;
  while (true) {
    const unsigned source = lmRoundRobin;
    if (source == smoothingSource) {
      auto& buffer = smoothingBuffers[id];
      auto& ready = smoothingBufferReadyTimes[id];
      const bool passOver = perDestUsePriority[id] && (priorityMask & Bit(0)) == 0 && !lmLocked;
      if (!passOver) {
        while (sent < lanes && !buffer.empty() && credits > 0 && ready.front() <= now) {
          Flit_P f = buffer.front();
          buffer.pop_front();
          ready.pop_front();
          if (f.IsHead()) lmLocked = true;
          if (f.IsTail()) {
            lmLocked = false;
            --lmSmoothingBufferTailCount;
          }
          outputFlitsToLM[sent].write(Flit_P(f.flit));
          ++sent;
          --credits;
          if (!lmLocked && severalSources) break;
        }
      }
      if (!buffer.empty()) moreWork = true;
    } else {
      const unsigned k = source;
      auto& buffer = interquadBuffers[k];
      const bool passOver =
          perDestUsePriority[id] && (priorityMask & Bit(numVaults + k)) == 0 && !lmLocked;
      if (!passOver) {
        while (sent < lanes && !buffer.empty() && credits > 0) {
          Flit_P f = buffer.front();
          buffer.pop_front();
          if (f.IsHead()) lmLocked = true;
          if (f.IsTail()) {
            lmLocked = false;
            --sourceBufferTailCount[k];
          }
          outputFlitsToLM[sent].write(Flit_P(f.flit));
          ++sent;
          --credits;
          ++returnCredits[numVaults + k];
          creditsToReturn = true;
          if (!lmLocked && severalSources) break;
        }
      }
      if (!buffer.empty()) moreWork = true;
    }
    // A packet in progress keeps the link master on its source.
    if (lmLocked) break;
    lmRoundRobin = (lmRoundRobin + 1) % sources;
    if (lmRoundRobin == start) {
      lmRoundRobin = (lmRoundRobin + 1) % sources;
      break;
    }
  }
  return moreWork;
}

bool quor2_vault_switch::ServeQuad(unsigned d) {
  const sc_time now = Now();
  auto& buffer = smoothingBuffers[d];
  auto& ready = smoothingBufferReadyTimes[d];
  auto& port = outputFlitsToInterQuad[vswitch::QuadToPort(id, d)];
  for (unsigned lane = 0; lane < lanes; ++lane) {
    if (buffer.empty() || destinationCredits[d] <= 0 || ready.front() > now) break;
    port[lane].write(Flit_P(buffer.front().flit));
    --destinationCredits[d];
    buffer.pop_front();
    ready.pop_front();
  }
  return !buffer.empty();
}

// ---------------------------------------------------------------- credits

// Credits go back as pulses of at most the lane's rate, one per core cycle
// while any are owed; a request to return them is not seen while a pulse runs.
void quor2_vault_switch::ReturnCreditsOnRequest() {
  if (creditReturn == CreditReturn::Idle) BeginCreditPulse();
}

void quor2_vault_switch::ReturnCreditsStep() {
  switch (creditReturn) {
  case CreditReturn::Edge: BeginCreditPulse(); return;
  case CreditReturn::Showing: RaiseCreditPulse(); return;
  case CreditReturn::High: break;
  case CreditReturn::Idle: return;
  }
  WriteAll(creditOutputLanes, 0);
  bool owed = false;
  for (unsigned n : returnCredits) owed = owed || n > 0;
  // Credits left over from the last pulse go at the next edge, so none stays
  // owed once the switch falls idle.
  if (owed) {
    creditReturn = CreditReturn::Edge;
    creditWake.notify(DelayToNextEdge(Now(), cycle));
  } else {
    creditReturn = CreditReturn::Idle;
  }
}

// As LetIdleShow: a delta cycle first when the last pulse's idle value is not
// on a lane yet.
void quor2_vault_switch::BeginCreditPulse() {
  for (auto& lane : creditOutputLanes) {
    if (lane.read() == 0) continue;
    creditReturn = CreditReturn::Showing;
    creditWake.notify(sc_core::SC_ZERO_TIME);
    return;
  }
  RaiseCreditPulse();
}

void quor2_vault_switch::RaiseCreditPulse() {
  for (unsigned s = 0; s < returnCredits.size(); ++s) {
    if (returnCredits[s] == 0) continue;
    const unsigned limit = s < numVaults ? cfg.FLITS_OUT_PER_CYCLE_VC : cfg.FLITS_PER_CYCLE_VSW;
    const unsigned amount = vswitch::CreditPulseAmount(returnCredits[s], limit);
    creditOutputLanes[s].write(static_cast<int>(amount));
    returnCredits[s] -= amount;
  }
  creditReturn = CreditReturn::High;
  creditWake.notify(HalfPeriod(cycle));
}

void quor2_vault_switch::ReceiveLMCredits() {
  const int amount = creditInputFromLM.read();
  if (amount <= 0) return;
  destinationCredits[id] += amount;
  queueEvent.notify(DelayToNextEdge(Now(), cycle));
}

void quor2_vault_switch::ReceiveInterQuadCredits() {
  const std::size_t base = creditDelayQueue.size();
  bool filled = false;
  for (unsigned k = 0; k < numPorts; ++k) {
    if (!creditInputLanes[k].event()) continue;
    const int amount = creditInputLanes[k].read();
    if (amount <= 0) continue;
    const unsigned q = vswitch::PortToQuad(id, k);
    if (vswitch::IsDiagonalPair(id, q)) {
      zcreditDelayQueue.push_back(amount);
      zcreditDelayEvent.notify(Cycles(cycle, cfg.CREDIT_RETURN_DELAY_VSW_VSW_Z));
      continue;
    }
    if (!filled) {
      creditDelayQueue.insert(creditDelayQueue.end(), cfg.NUM_QUADS, 0);
      filled = true;
    }
    creditDelayQueue[base + q] += amount;
  }
  if (filled) creditDelayEvent.notify(Cycles(cycle, cfg.CREDIT_RETURN_DELAY_VSW_VSW));
}

void quor2_vault_switch::IncrementCreditCount() {
  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) {
    const int amount = creditDelayQueue[q];
    if (amount <= 0) continue;
    destinationCredits[q] += amount;
    if (destinationCredits[q] > static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE)) {
      std::cout << "== ERROR - Credit overflow in quad " << id << " - index " << q << std::endl;
      AbortRun();
    }
  }
  creditDelayQueue.erase(creditDelayQueue.begin(), creditDelayQueue.begin() + cfg.NUM_QUADS);
  queueEvent.notify(cycle);
}

void quor2_vault_switch::IncrementZCreditCount() {
  const unsigned q = vswitch::DiagonalNeighbour(id);
  destinationCredits[q] += zcreditDelayQueue.front();
  if (destinationCredits[q] > static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE)) {
    std::cout << "== ERROR - Z-Credit overflow in quad " << id << std::endl;
    AbortRun();
  }
  zcreditDelayQueue.pop_front();
  queueEvent.notify(cycle);
}

// ---------------------------------------------------------------- state dump

void quor2_vault_switch::PrintBuffer(const std::deque<Flit_P>& buffer) const {
  for (std::size_t i = 0; i < buffer.size(); ++i)
    std::cout << "\t\t " << i << "] " << *buffer[i].flit << std::endl;
}

void quor2_vault_switch::DumpState() {
  std::cout << "== VSW" << id << std::endl;
  std::cout << "\t\tDestination Credits [";
  for (int c : destinationCredits) std::cout << c << ", ";
  std::cout << "]" << std::endl;
  for (unsigned v = 0; v < numVaults; ++v) {
    std::cout << "\t\tVC" << (v + numVaults * id) << " Buffer - " << vaultResponseBuffers[v].size()
              << " entries" << std::endl;
    PrintBuffer(vaultResponseBuffers[v]);
  }
  std::cout << "\t\tLocal Smoothing Buffer : " << smoothingBuffers[id].size() << " entries"
            << std::endl;
  PrintBuffer(smoothingBuffers[id]);
  if (cfg.NUM_QUADS == 1) return;
  for (unsigned k = 0; k < numPorts; ++k) {
    std::cout << "\t\tQ" << vswitch::PortToQuad(id, k) << " : " << interquadBuffers[k].size()
              << " entries" << std::endl;
    PrintBuffer(interquadBuffers[k]);
  }
}

// Credits towards the link master and the other quads home, nothing owed to the
// vault controllers or the other quads, no flit in any latch or buffer.
void quor2_vault_switch::CheckAtRest(RestCheck& check) const {
  const std::string me = name();
  std::vector<int> startCredits(cfg.NUM_QUADS, static_cast<int>(cfg.VSW_INTERQUAD_BUFFER_SIZE));
  startCredits[id] = static_cast<int>(cfg.LINK_MASTER_BUFFER_SIZE);
  check.ExpectAll(me + ".destinationCredits", destinationCredits, startCredits);
  check.ExpectAll(me + ".returnCredits", returnCredits,
                  std::vector<unsigned>(returnCredits.size(), 0));
  check.ExpectEmpty(me + ".creditDelayQueue", creditDelayQueue.size());
  check.ExpectEmpty(me + ".zcreditDelayQueue", zcreditDelayQueue.size());
  check.ExpectAllEmpty(me + ".vaultDelayLatches", vaultDelayLatches);
  check.ExpectAllEmpty(me + ".vaultResponseBuffers", vaultResponseBuffers);
  check.ExpectAllEmpty(me + ".interquadDelayLatches", interquadDelayLatches);
  check.ExpectAllEmpty(me + ".interquadBuffers", interquadBuffers);
  check.ExpectAllEmpty(me + ".smoothingBuffers", smoothingBuffers);
}

} // namespace Orvane::Internal::QUOR2
