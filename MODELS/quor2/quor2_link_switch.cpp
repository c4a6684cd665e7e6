#include "quor2_link_switch.h"

#include "quor2_clock.h"
#include "quor2_flit.h"
#include "quor2_messages.h"
#include "quor2_ports.h"

#include <algorithm>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;

int LinkSwitchDestination(uint32_t destinationField, unsigned id, unsigned vaultsPerQuad,
                          unsigned numQuads) {
  const uint32_t quad = destinationField / vaultsPerQuad;
  if (quad >= numQuads) return -1;
  if (quad == id) return static_cast<int>(destinationField % vaultsPerQuad);
  return static_cast<int>(vaultsPerQuad + (quad > id ? quad - 1 : quad));
}

ThrottleState UpdateThrottle(const ThrottleState& state, bool shortOfCredits, const sc_time& now,
                             const sc_time& stall) {
  ThrottleState next = state;
  if (state.throttled) {
    if (!shortOfCredits || now >= state.end) next.throttled = false;
  } else if (shortOfCredits) {
    next.throttled = true;
    next.end = now + stall;
  }
  return next;
}

unsigned WriteDataCreditsForFlit(bool header, bool tail, unsigned requestLength) {
  if (header) return tail ? 0 : 1;
  return tail && requestLength % 32 == 0 ? 0 : 1;
}

bool VaultCreditsAllow(bool header, unsigned commandCredits, unsigned writeDataCredits) {
  if (writeDataCredits < 2) return false;
  return !header || commandCredits >= 1;
}

unsigned BusySkidLines(unsigned busyDelay, unsigned switchRate, unsigned linkRate) {
  const unsigned rate = std::max(1u, std::min(switchRate, linkRate));
  return (busyDelay + 1) * switchRate + (kLinesOfAnOpenPacket + rate - 1) / rate;
}

bool LinkInputNearlyFull(std::size_t lines, unsigned bufferSize, unsigned switchRate) {
  return lines + switchRate + kLinesOfAnOpenPacket > bufferSize;
}

unsigned TokensForPulse(unsigned owed, unsigned linkRate, unsigned switchRate) {
  return owed > linkRate ? std::min(owed, switchRate) : owed;
}

quor2_link_switch::quor2_link_switch(sc_core::sc_module_name name, const Config& cfg,
                                     StatsKeeper& stats, unsigned id)
    : sc_module(name), inputBufferBusy("inputBufferBusy"),
      earlyCreditOutputLanes("earlyCreditOutputLanes", cfg.NUM_QUADS - 1),
      earlyCreditInputLanes("earlyCreditInputLanes", cfg.NUM_QUADS - 1),
      creditOutputLanes("creditOutputLanes", cfg.NUM_QUADS),
      creditInputLanes("creditInputLanes", cfg.NUM_QUADS - 1),
      creditsFromSlices("creditsFromSlices", cfg.VAULTS_PER_QUAD),
      writeCreditsFromSlices("writeCreditsFromSlices", cfg.VAULTS_PER_QUAD),
      outputFlitsToSlices("outputFlitsToSlices", cfg.VAULTS_PER_QUAD * cfg.FLITS_IN_PER_CYCLE_VC),
      outputFlitsToInterQuad("outputFlitsToInterQuad"),
      inputFlitsFromInterQuad("inputFlitsFromInterQuad"),
      inputFlitsFromLinkSlave("inputFlitsFromLinkSlave", cfg.FLITS_PER_CYCLE_LINK), cfg(cfg),
      stats(stats), id(id) {
  const unsigned quads = cfg.NUM_QUADS;
  const unsigned vaults = cfg.VAULTS_PER_QUAD;
  const unsigned lanes = cfg.FLITS_PER_CYCLE_LSW;
  numDestinations = vaults + quads - 1;

  InitNested(outputFlitsToInterQuad, quads - 1, lanes);
  InitNested(inputFlitsFromInterQuad, quads - 1, lanes);

  sourceBufferRoundRobin = id;
  vaultRoundRobin.assign(quads, 0);
  incomingTagInterquad.assign(quads - 1, -1);
  incomingTagLS = -1;
  destinationCredits.assign(numDestinations, cfg.LSW_INTERQUAD_BUFFER_SIZE);
  std::fill(destinationCredits.begin(), destinationCredits.begin() + vaults,
            cfg.TRANSACTION_Q_CAPACITY);
  writeDataCredits.assign(vaults, cfg.DATA_Q_CAPACITY);
  returnCredits.assign(quads, 0);
  perSourceDestRR.resize(quads);
  for (unsigned s = 0; s < quads; ++s) perSourceDestRR[s] = s == id ? id : s % vaults;
  sourceBuffers.resize(quads);
  sourceBufferDelays.resize(quads);
  sourceBufferTailCount.assign(quads, 0);
  perDestSourceBufferLineIndex.assign(quads, std::vector<int32_t>(numDestinations, -1));
  perDestThrottleTime.assign(numDestinations, sc_core::SC_ZERO_TIME);
  perDestThrottle.assign(numDestinations, false);
  destinationLocks.assign(numDestinations, -1);
  flitsReceivedThisCycle.assign(numDestinations, 0);
  flitsSentThisCycle.assign(quads, 0);
  sourceBufferSample.assign(quads, sc_core::SC_ZERO_TIME);
  lastReceivedFromLS = sc_core::SC_ZERO_TIME;
  creditsThisCycle.assign(quads - 1, 0);
  usedLanes.assign(lanes, 0);
  lanesUsed.assign(std::max(cfg.FLITS_PER_CYCLE_LINK, lanes), 0);
  const unsigned linkRate =
      LinkFlitsPerCycle(cfg, LinkFlitRate(cfg, ConfiguredLinkWidth(cfg, id)));
  roomGuard = uint64_t{cfg.LSW_INPUT_BUFFER_SIZE} <
              uint64_t{cfg.LSW_INPUT_BUFFER_THRESHOLD} +
                  BusySkidLines(cfg.BUSY_SIGNAL_DELAY, lanes, linkRate);

  AssignRanks(Stage::LinkSwitch, id,
              {&creditDelayEvent.Ordered(), &tailIncreaseEvent.Ordered(),
               &inputBufferBusyEvent.Ordered(), &roomBusyEvent, &queueEvent, &earlyCreditWake,
               &earlyCreditReturnEvent.Ordered(), &tokenWake, &tokenEvent});

  SC_METHOD(ReceiveFromLinkSlave);
  for (auto& lane : inputFlitsFromLinkSlave) sensitive << lane;
  dont_initialize();
  SC_METHOD(HandleQueues);
  sensitive << queueEvent;
  dont_initialize();
  queueEvent.DueRuns<&quor2_link_switch::HandleQueues>(this);
  SC_THREAD(ReturnTokens);
  sensitive << tokenEvent;
  SC_THREAD(EarlyCreditReturn);
  sensitive << earlyCreditReturnEvent;
  SC_METHOD(ToggleBusy);
  sensitive << inputBufferBusyEvent << roomBusyEvent;
  dont_initialize();
  SC_METHOD(ReceiveFromInterQuad);
  for (auto& port : inputFlitsFromInterQuad)
    for (auto& lane : port) sensitive << lane;
  dont_initialize();
  SC_METHOD(ReceiveSliceCredits);
  for (auto& p : creditsFromSlices) sensitive << p;
  dont_initialize();
  SC_METHOD(ReceiveWriteCredits);
  for (auto& p : writeCreditsFromSlices) sensitive << p;
  dont_initialize();
  SC_METHOD(ReceiveInterQuadCredits);
  for (auto& p : creditInputLanes) sensitive << p;
  dont_initialize();
  SC_METHOD(IncrementCredits);
  sensitive << creditDelayEvent;
  dont_initialize();
  creditDelayEvent.Ordered().DueRuns<&quor2_link_switch::IncrementCredits>(this);
  SC_METHOD(ReceiveEarlyInterQuadCredits);
  for (auto& p : earlyCreditInputLanes) sensitive << p;
  dont_initialize();
  SC_METHOD(TailIncrease);
  sensitive << tailIncreaseEvent;
  dont_initialize();
  tailIncreaseEvent.Ordered().DueRuns<&quor2_link_switch::TailIncrease>(this);
}

// ---------------------------------------------------------------------------
// Intake

unsigned quor2_link_switch::RoutableDestination(const Flit_P& f, bool mustBeLocal) const {
  const int d =
      LinkSwitchDestination(f->destinationField, id, cfg.VAULTS_PER_QUAD, cfg.NUM_QUADS);
  if (d < 0 || (mustBeLocal && d >= static_cast<int>(cfg.VAULTS_PER_QUAD))) {
    TimedLine() << "ERROR - Link Switch " << id << " cannot route a flit for vault "
                << f->destinationField << std::endl;
    std::cout << *f << std::endl;
    ExitRun(1);
  }
  return static_cast<unsigned>(d);
}

void quor2_link_switch::CheckContiguous(int32_t& incomingTag, const Flit_P& f,
                                        const char* what) const {
  const int32_t tag = static_cast<int32_t>(f->tag);
  if (incomingTag != -1 && incomingTag != tag) {
    std::cout << "== ERROR - Non-contiguous tag received from " << what << " in LSW" << id
              << std::endl;
    std::cout << *f << std::endl;
    ExitRun(1);
  }
  if (f->header) incomingTag = tag;
  if (f->tail) incomingTag = -1;
}

void quor2_link_switch::SampleOccupancy(unsigned source, const sc_time& now) {
  stats.perLSWSourceBufferAvg[id][source] +=
      sourceBuffers[source].size() * (now.value() - sourceBufferSample[source].value());
  sourceBufferSample[source] = now;
}

void quor2_link_switch::ReceiveFromLinkSlave() {
  const sc_time now = SimNow();
  if (lastReceivedFromLS == now) {
    TimedLine() << "ERROR - LS sent to DIS twice on one cycle!!!!" << std::endl;
    ExitRun(1);
  }
  auto& buffer = sourceBuffers[id];
  const size_t n0 = buffer.size();
  const unsigned vaults = cfg.VAULTS_PER_QUAD;

  for (unsigned i = 0; i < inputFlitsFromLinkSlave.size(); ++i) {
    if (!inputFlitsFromLinkSlave[i].event()) continue;
    Flit_P f = inputFlitsFromLinkSlave[i].read();
    f->currentLane = static_cast<int32_t>(i);
    CheckContiguous(incomingTagLS, f, "LS");
    if (f->tail) {
      f->startTimeLSW_L = now;
      tailIncreaseQueue.push_back(id);
      tailIncreaseEvent.notify(Cycles(cfg.CORE_CLK, cfg.LSW_INPUT_DELAY));
    }
    const unsigned d = RoutableDestination(f, false);

    // A line opened in this call takes the flit when it goes the same way: the
    // same vault of the own quad, or anywhere in the same other quad.
    const uint32_t quad = f->destinationField / vaults;
    bool joined = false;
    for (size_t l = n0; l < buffer.size() && !joined; ++l) {
      const Flit& first = *buffer[l].front();
      const uint32_t firstQuad = first.destinationField / vaults;
      const bool sameWay = firstQuad == id ? first.destinationField == f->destinationField
                                           : firstQuad == quad;
      if (sameWay) {
        buffer[l].push_back(f);
        joined = true;
      }
    }
    if (joined) {
      OweCredit(id);
      continue;
    }

    if (perDestSourceBufferLineIndex[id][d] == -1)
      perDestSourceBufferLineIndex[id][d] = static_cast<int32_t>(buffer.size());
    SampleOccupancy(id, now);
    buffer.emplace_back();
    buffer.back().push_back(f);
    sourceBufferDelays[id].push_back(now + Cycles(cfg.CORE_CLK, cfg.LSW_INPUT_DELAY));
    if (buffer.size() == cfg.LSW_INPUT_BUFFER_THRESHOLD + 1) {
      bufferStallToggle.push_back(true);
      inputBufferBusyEvent.notify(Cycles(cfg.CORE_CLK, cfg.BUSY_SIGNAL_DELAY));
    }
    if (buffer.size() > cfg.LSW_INPUT_BUFFER_SIZE) {
      TimedLine() << "ERROR - Link Switch " << id << " input buffer exceeded max capacity ("
                  << buffer.size() << ")" << std::endl;
    }
  }
  UpdateRoomBusy();
  queueEvent.notify(cfg.CORE_CLK);
  lastReceivedFromLS = now;
}

void quor2_link_switch::ReceiveFromInterQuad() {
  const sc_time now = SimNow();
  const unsigned lanes = cfg.FLITS_PER_CYCLE_LSW;
  bool earlyReturn = false;

  for (unsigned i = 0; i < inputFlitsFromInterQuad.size(); ++i) {
    const unsigned s = QuadOfInterQuadPort(i, id);
    auto& buffer = sourceBuffers[s];
    const size_t n0 = buffer.size();
    std::fill(usedLanes.begin(), usedLanes.end(), 0);

    for (unsigned j = 0; j < lanes; ++j) {
      if (!inputFlitsFromInterQuad[i][j].event()) continue;
      Flit_P f = inputFlitsFromInterQuad[i][j].read();
      f->currentLane = static_cast<int32_t>(j);
      CheckContiguous(incomingTagInterquad[i], f, "interquad");
      if (f->tail) {
        f->startTimeLSW_R = now;
        tailIncreaseQueue.push_back(s);
        tailIncreaseEvent.notify(Cycles(cfg.CORE_CLK, cfg.LSW_INTERQUAD_DELAY));
      }
      const unsigned v = RoutableDestination(f, true);
      SampleOccupancy(s, now);

      bool placed = false;
      if (cfg.PACK_INTERQUAD != 0 && perDestSourceBufferLineIndex[s][v] != -1) {
        // Packing: the newest line for this vault takes the flit on the first
        // lane after its last flit's lane that is still free in this cycle.
        for (size_t l = buffer.size(); l-- > 0;) {
          if (buffer[l].front()->destinationField != f->destinationField) continue;
          for (unsigned lane = static_cast<unsigned>(buffer[l].back()->currentLane) + 1;
               lane < lanes; ++lane) {
            if (usedLanes[lane]) continue;
            usedLanes[lane] = 1;
            f->currentLane = static_cast<int32_t>(lane);
            buffer[l].push_back(f);
            placed = true;
            break;
          }
          break;
        }
      } else {
        for (size_t l = n0; l < buffer.size(); ++l) {
          if (buffer[l].front()->destinationField != f->destinationField) continue;
          buffer[l].push_back(f);
          ++creditsThisCycle[i];
          earlyReturn = true;
          placed = true;
          break;
        }
      }
      if (!placed) {
        if (perDestSourceBufferLineIndex[s][v] == -1)
          perDestSourceBufferLineIndex[s][v] = static_cast<int32_t>(buffer.size());
        buffer.emplace_back();
        buffer.back().push_back(f);
        sourceBufferDelays[s].push_back(now + Cycles(cfg.CORE_CLK, cfg.LSW_INTERQUAD_DELAY));
      }
      if (buffer.size() > cfg.LSW_INTERQUAD_BUFFER_SIZE) {
        TimedLine() << "ERROR - Link Switch " << id << " interquad buffer " << s
                    << " exceeded max capacity" << std::endl;
      }
    }
  }
  if (earlyReturn) {
    earlyReturnCredits.push_back(creditsThisCycle);
    earlyCreditReturnEvent.notify(Cycles(cfg.CORE_CLK, cfg.EARLY_CREDIT_RETURN_DELAY_LSW));
  }
  std::fill(creditsThisCycle.begin(), creditsThisCycle.end(), 0);
  queueEvent.notify(cfg.CORE_CLK);
}

void quor2_link_switch::ToggleBusy() {
  if (inputBufferBusyEvent.default_event().triggered()) {
    if (bufferStallToggle.empty()) return;
    delayedBusy = bufferStallToggle.front();
    bufferStallToggle.pop_front();
  }
  inputBufferBusy.write(delayedBusy || roomBusy);
}

// A threshold close to (or above) the buffer size leaves too little room for
// what the link sends while the delayed signal is on its way: the buffer would
// overflow. With such a threshold the link is held back at once when room runs
// that short.
void quor2_link_switch::UpdateRoomBusy() {
  if (!roomGuard) return;
  const bool full = LinkInputNearlyFull(sourceBuffers[id].size(), cfg.LSW_INPUT_BUFFER_SIZE,
                                        cfg.FLITS_PER_CYCLE_LSW);
  if (full == roomBusy) return;
  roomBusy = full;
  roomBusyEvent.notify(sc_core::SC_ZERO_TIME);
}

void quor2_link_switch::TailIncrease() {
  if (tailIncreaseQueue.empty()) return;
  ++sourceBufferTailCount[tailIncreaseQueue.front()];
  tailIncreaseQueue.pop_front();
}

// ---------------------------------------------------------------------------
// Arbitration

bool quor2_link_switch::IsShortOfCredits(unsigned d) const {
  if (d < cfg.VAULTS_PER_QUAD)
    return destinationCredits[d] < cfg.CREDIT_THROTTLE_VC ||
           writeDataCredits[d] < cfg.CREDIT_THROTTLE_VC;
  return destinationCredits[d] < cfg.CREDIT_THROTTLE_LSW;
}

void quor2_link_switch::UpdateThrottles(const sc_time& now) {
  const sc_time stall = Cycles(cfg.CORE_CLK, cfg.THROTTLE_STALL_TIME);
  for (unsigned d = 0; d < numDestinations; ++d) {
    const ThrottleState next =
        UpdateThrottle({perDestThrottle[d], perDestThrottleTime[d]}, IsShortOfCredits(d), now,
                       stall);
    perDestThrottle[d] = next.throttled;
    perDestThrottleTime[d] = next.end;
  }
}

void quor2_link_switch::HandleQueues() {
  const sc_time now = SimNow();
  if (!IsOnEdge(now, cfg.CORE_CLK))
    std::cout << "ERROR: off timing in LSW" << id << " @ " << now << std::endl;
  UpdateThrottles(now);

  startingSourceIndex = sourceBufferRoundRobin;
  topPriorityIssued = false;
  for (unsigned k = 0; k < cfg.NUM_QUADS; ++k)
    ServeSource((startingSourceIndex + k) % cfg.NUM_QUADS, now);

  if (topPriorityIssued || sourceBufferTailCount[startingSourceIndex] == 0)
    sourceBufferRoundRobin = (startingSourceIndex + 1) % cfg.NUM_QUADS;

  std::fill(flitsReceivedThisCycle.begin(), flitsReceivedThisCycle.end(), 0);
  std::fill(flitsSentThisCycle.begin(), flitsSentThisCycle.end(), 0);
}

void quor2_link_switch::ServeSource(unsigned s, const sc_time& now) {
  const unsigned vaults = cfg.VAULTS_PER_QUAD;
  const unsigned quads = cfg.NUM_QUADS;
  const unsigned startingVaultIndex = vaultRoundRobin[s];

  if (sourceBuffers[s].empty()) {
    // Nothing to send: the visits would only walk the round robins, and the
    // walk ends where it began except that the own link's block of local
    // vaults starts one vault later next time.
    if (s == id) vaultRoundRobin[id] = (startingVaultIndex + 1) % vaults;
    return;
  }

  const unsigned inputLanes = s == id ? cfg.FLITS_PER_CYCLE_LINK : cfg.FLITS_PER_CYCLE_LSW;
  std::fill(lanesUsed.begin(), lanesUsed.begin() + inputLanes, 0);
  perSourceTopPriorityIssued = false;
  startingDestination = -1;

  for (unsigned visit = 0; visit < numDestinations; ++visit) {
    unsigned d;
    unsigned laneLimit;
    bool localVisit;
    if (s == id) {
      const unsigned q = perSourceDestRR[id];
      localVisit = q == id;
      if (localVisit) {
        d = vaultRoundRobin[id];
        laneLimit = cfg.FLITS_IN_PER_CYCLE_VC;
      } else {
        d = vaults + (q > id ? q - 1 : q);
        // The port towards another quad has FLITS_PER_CYCLE_LSW lanes.
        laneLimit = std::min(cfg.FLITS_PER_CYCLE_LSW_REMOTE, cfg.FLITS_PER_CYCLE_LSW);
      }
    } else {
      localVisit = true;
      d = perSourceDestRR[s];
      laneLimit = cfg.FLITS_IN_PER_CYCLE_VC;
    }
    if (startingDestination < 0) startingDestination = static_cast<int>(d);

    const int32_t index = perDestSourceBufferLineIndex[s][d];
    if (index >= 0 && sourceBufferDelays[s][index] <= now &&
        (destinationLocks[d] == -1 || destinationLocks[d] == static_cast<int32_t>(s)) &&
        !perDestThrottle[d]) {
      SendFromLine(s, d, laneLimit, now);
    }

    if (s == id && localVisit) {
      vaultRoundRobin[id] = (vaultRoundRobin[id] + 1) % vaults;
      if (vaultRoundRobin[id] == startingVaultIndex) {
        vaultRoundRobin[id] = (startingVaultIndex + 1) % vaults;
        perSourceDestRR[id] = (perSourceDestRR[id] + 1) % quads;
      }
    } else if (s == id) {
      perSourceDestRR[id] = (perSourceDestRR[id] + 1) % quads;
    } else {
      perSourceDestRR[s] = (perSourceDestRR[s] + 1) % vaults;
      if (static_cast<int>(perSourceDestRR[s]) == startingDestination) break;
    }
  }

  if (!sourceBuffers[s].empty()) queueEvent.notify(cfg.CORE_CLK);
  if (perSourceTopPriorityIssued)
    perSourceDestRR[s] = (perSourceDestRR[s] + 1) % (s == id ? quads : vaults);
}

void quor2_link_switch::SendFromLine(unsigned s, unsigned d, unsigned laneLimit,
                                     const sc_time& now) {
  const unsigned index = static_cast<unsigned>(perDestSourceBufferLineIndex[s][d]);
  Line& line = sourceBuffers[s][index];
  while (!line.empty()) {
    if (flitsSentThisCycle[s] >= cfg.FLITS_PER_CYCLE_LSW) return;
    const Flit_P f = line.front();
    const unsigned lane = static_cast<unsigned>(f->currentLane);
    if (lanesUsed[lane]) return;
    if (flitsReceivedThisCycle[d] >= laneLimit) return;
    if (!SendOneFlit(d, f)) return;

    lanesUsed[lane] = 1;
    ++flitsReceivedThisCycle[d];
    ++flitsSentThisCycle[s];
    if (f->header) destinationLocks[d] = static_cast<int32_t>(s);
    if (f->tail) {
      if (s == startingSourceIndex) topPriorityIssued = true;
      if (static_cast<int>(d) == startingDestination) perSourceTopPriorityIssued = true;
      destinationLocks[d] = -1;
      --sourceBufferTailCount[s];
    }
    SampleOccupancy(s, now);
    line.pop_front();
    if (cfg.PACK_INTERQUAD != 0 && s != id) OweCredit(s);
  }
  RemoveLine(s, d, index);
}

// Takes the credits for one flit and writes it on its output lane. False when
// the credits are not there.
bool quor2_link_switch::SendOneFlit(unsigned d, const Flit_P& f) {
  const unsigned vaults = cfg.VAULTS_PER_QUAD;
  if (d < vaults) {
    if (!VaultCreditsAllow(f->header, destinationCredits[d], writeDataCredits[d])) return false;
    if (f->header) --destinationCredits[d];
    writeDataCredits[d] -= WriteDataCreditsForFlit(f->header, f->tail, f->requestLength);
    outputFlitsToSlices[d * cfg.FLITS_IN_PER_CYCLE_VC + flitsReceivedThisCycle[d]].write(
        Flit_P(f.flit));
  } else {
    if (destinationCredits[d] < 1) return false;
    --destinationCredits[d];
    outputFlitsToInterQuad[d - vaults][flitsReceivedThisCycle[d]].write(Flit_P(f.flit));
  }
  ++stats.perLSWFlitBandwidth[id];
  return true;
}

bool quor2_link_switch::LineIsFor(const Line& line, unsigned d) const {
  const unsigned vaults = cfg.VAULTS_PER_QUAD;
  const uint32_t field = line.front()->destinationField;
  if (d < vaults) return field == id * vaults + d;
  return field / vaults == QuadOfInterQuadPort(d - vaults, id);
}

void quor2_link_switch::RemoveLine(unsigned s, unsigned d, unsigned index) {
  auto& buffer = sourceBuffers[s];
  perDestSourceBufferLineIndex[s][d] = -1;
  buffer.erase(buffer.begin() + index);
  sourceBufferDelays[s].erase(sourceBufferDelays[s].begin() + index);

  if (s == id && buffer.size() == cfg.LSW_INPUT_BUFFER_THRESHOLD) {
    bufferStallToggle.push_back(false);
    inputBufferBusyEvent.notify(Cycles(cfg.CORE_CLK, cfg.BUSY_SIGNAL_DELAY));
  }
  if (s == id) UpdateRoomBusy();
  if (cfg.PACK_INTERQUAD == 0 || s == id) OweCredit(s);

  auto& indices = perDestSourceBufferLineIndex[s];
  for (unsigned x = 0; x < numDestinations; ++x)
    if (x != d && indices[x] > static_cast<int32_t>(index)) --indices[x];
  for (size_t l = index; l < buffer.size(); ++l) {
    if (LineIsFor(buffer[l], d)) {
      indices[d] = static_cast<int32_t>(l);
      break;
    }
  }
}

void quor2_link_switch::OweCredit(unsigned s) {
  ++returnCredits[s];
  tokenEvent.notify();
}

// ---------------------------------------------------------------------------
// Credit intake

void quor2_link_switch::ReceiveSliceCredits() {
  const sc_time now = SimNow();
  for (unsigned v = 0; v < creditsFromSlices.size(); ++v) {
    if (!creditsFromSlices[v].event() || !creditsFromSlices[v].read()) continue;
    ++destinationCredits[v];
    queueEvent.notify(cfg.CORE_CLK + DelayToNextEdge(now, cfg.CORE_CLK));
    if (destinationCredits[v] > cfg.TRANSACTION_Q_CAPACITY) {
      TimedLine() << "ERROR - LSW" << id << " Received too many credits from VC"
                  << v + id * cfg.VAULTS_PER_QUAD << " [Now have : " << destinationCredits[v]
                  << "]" << std::endl;
    }
  }
}

void quor2_link_switch::ReceiveWriteCredits() {
  const sc_time now = SimNow();
  for (unsigned v = 0; v < writeCreditsFromSlices.size(); ++v) {
    if (!writeCreditsFromSlices[v].event()) continue;
    const int amount = writeCreditsFromSlices[v].read();
    if (amount <= 0) continue;
    writeDataCredits[v] += static_cast<unsigned>(amount);
    queueEvent.notify(cfg.CORE_CLK + DelayToNextEdge(now, cfg.CORE_CLK));
    if (writeDataCredits[v] > cfg.DATA_Q_CAPACITY) {
      TimedLine() << "ERROR - LSW" << id << " Received too many write credits from VC"
                  << v + id * cfg.VAULTS_PER_QUAD << std::endl;
    }
  }
}

void quor2_link_switch::ReceiveInterQuadCredits() {
  std::vector<unsigned> credits(creditInputLanes.size(), 0);
  bool any = false;
  for (unsigned k = 0; k < creditInputLanes.size(); ++k) {
    if (!creditInputLanes[k].event()) continue;
    const int amount = creditInputLanes[k].read();
    if (amount <= 0) continue;
    credits[k] = static_cast<unsigned>(amount);
    any = true;
  }
  if (!any) return;
  creditDelayQueue.push_back(std::move(credits));
  creditDelayEvent.notify(Cycles(cfg.CORE_CLK, cfg.CREDIT_RETURN_DELAY_LSW));
}

void quor2_link_switch::IncrementCredits() {
  if (creditDelayQueue.empty()) return;
  const std::vector<unsigned>& credits = creditDelayQueue.front();
  for (unsigned k = 0; k < credits.size(); ++k)
    destinationCredits[cfg.VAULTS_PER_QUAD + k] += credits[k];
  creditDelayQueue.pop_front();
  queueEvent.notify(cfg.CORE_CLK);
}

void quor2_link_switch::ReceiveEarlyInterQuadCredits() {
  for (unsigned k = 0; k < earlyCreditInputLanes.size(); ++k) {
    if (!earlyCreditInputLanes[k].event()) continue;
    const int amount = earlyCreditInputLanes[k].read();
    if (amount <= 0) continue;
    destinationCredits[cfg.VAULTS_PER_QUAD + k] += static_cast<unsigned>(amount);
    queueEvent.notify(cfg.CORE_CLK);
  }
}

// ---------------------------------------------------------------------------
// Credit and token return

void quor2_link_switch::EarlyCreditReturn() {
  for (;;) {
    sc_core::wait();
    if (earlyReturnCredits.empty()) continue;
    LetIdleShow(earlyCreditOutputLanes, 0);
    const std::vector<unsigned>& credits = earlyReturnCredits.front();
    for (unsigned k = 0; k < earlyCreditOutputLanes.size(); ++k)
      earlyCreditOutputLanes[k].write(static_cast<int>(credits[k]));
    earlyReturnCredits.pop_front();
    WaitFor(earlyCreditWake, HalfPeriod(cfg.CORE_CLK));
    WriteAll(earlyCreditOutputLanes, 0);
  }
}

void quor2_link_switch::ReturnTokens() {
  bool owedAfterPulse = false;
  for (;;) {
    if (!owedAfterPulse) sc_core::wait();
    LetIdleShow(creditOutputLanes, 0);
    for (unsigned i = 0; i < cfg.NUM_QUADS; ++i) {
      if (i == id) {
        const unsigned tokens =
            TokensForPulse(returnCredits[id], cfg.FLITS_PER_CYCLE_LINK, cfg.FLITS_PER_CYCLE_LSW);
        creditOutputLanes[id].write(static_cast<int>(tokens));
        returnCredits[id] -= tokens;
      } else if (returnCredits[i] != 0) {
        creditOutputLanes[i].write(1);
        --returnCredits[i];
      }
      if (returnCredits[i] != 0) tokenEvent.notify(cfg.CORE_CLK);
    }
    WaitFor(tokenWake, HalfPeriod(cfg.CORE_CLK));
    WriteAll(creditOutputLanes, 0);
    // A notification made while the pulse was held is not seen, and it replaced
    // the re-notification above. Whatever is still owed goes at the next
    // notification or one cycle after this pulse, whichever comes first, so a
    // neighbour short of credits is never left waiting for traffic that cannot come.
    owedAfterPulse = false;
    for (unsigned i = 0; i < cfg.NUM_QUADS; ++i) owedAfterPulse = owedAfterPulse || returnCredits[i] != 0;
    if (owedAfterPulse) {
      WaitForOr(tokenWake, cfg.CORE_CLK - HalfPeriod(cfg.CORE_CLK), tokenEvent);
      tokenEvent.cancel();
    }
  }
}

// ---------------------------------------------------------------------------

void quor2_link_switch::DumpState() {
  std::cout << "== LSW" << id << std::endl;
  std::cout << "\t Destination Credits [";
  for (unsigned d = 0; d < numDestinations; ++d) {
    if (d < cfg.VAULTS_PER_QUAD)
      std::cout << "[" << destinationCredits[d] << "," << writeDataCredits[d] << "], ";
    else
      std::cout << destinationCredits[d] << ", ";
  }
  std::cout << "]" << std::endl;
  std::cout << "  Return Credits [";
  for (unsigned q = 0; q < cfg.NUM_QUADS; ++q) std::cout << returnCredits[q] << ", ";
  std::cout << "]";
  for (unsigned s = 0; s < cfg.NUM_QUADS; ++s) {
    std::cout << "\t SourceBuffer " << s << " - " << sourceBuffers[s].size() << " entries"
              << std::endl;
    for (size_t l = 0; l < sourceBuffers[s].size(); ++l) {
      std::cout << "   == Line " << l << std::endl;
      for (const Flit_P& f : sourceBuffers[s][l]) std::cout << "\t\t   " << *f << std::endl;
    }
  }
}

// Command and write-data credits of every local vault and line credits of every
// other quad home, nothing owed, no line left in any source buffer.
void quor2_link_switch::CheckAtRest(RestCheck& check) const {
  const std::string me = name();
  std::vector<unsigned> startCredits(numDestinations, cfg.LSW_INTERQUAD_BUFFER_SIZE);
  std::fill(startCredits.begin(), startCredits.begin() + cfg.VAULTS_PER_QUAD,
            cfg.TRANSACTION_Q_CAPACITY);
  check.ExpectAll(me + ".destinationCredits", destinationCredits, startCredits);
  check.ExpectAll(me + ".writeDataCredits", writeDataCredits,
                  std::vector<unsigned>(cfg.VAULTS_PER_QUAD, cfg.DATA_Q_CAPACITY));
  check.ExpectAll(me + ".returnCredits", returnCredits, std::vector<unsigned>(cfg.NUM_QUADS, 0));
  check.ExpectEmpty(me + ".creditDelayQueue", creditDelayQueue.size());
  check.ExpectEmpty(me + ".earlyReturnCredits", earlyReturnCredits.size());
  check.ExpectEmpty(me + ".tailIncreaseQueue", tailIncreaseQueue.size());
  check.ExpectAllEmpty(me + ".sourceBuffers", sourceBuffers);
}

} // namespace Orvane::Internal::QUOR2
