#include "quor2_link.h"

#include "quor2_clock.h"
#include "quor2_messages.h"

#include <algorithm>
#include <cmath>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;
using sc_core::sc_time_stamp;
using sc_core::SC_ZERO_TIME;

namespace {

const char* const kFlitLine = "           Flit : ";

bool IsStandardRequestSize(uint32_t length) {
  return length >= 16 && length <= 128 && length % 16 == 0;
}

void PrintFlits(const std::deque<Flit_P>& flits) {
  for (size_t i = 0; i < flits.size(); ++i)
    std::cout << "\t\t " << i << "] " << flits[i] << "\n";
}

} // namespace

quor2_link::quor2_link(sc_core::sc_module_name name, const Config& cfg, StatsKeeper& stats,
                       unsigned int id)
    : sc_module(name), requestLinks("requestLinks"), responseLinks("responseLinks"),
      inputsFromVaultSwitch("inputsFromVaultSwitch"), outputsToLinkSwitch("outputsToLinkSwitch"),
      creditReturn("creditReturn"), tokenInput("tokenInput"), inputBufferBusy("inputBufferBusy"),
      cfg(cfg), stats(stats), id(id), receiveFlitEvent("receiveFlitEvent"),
      sendFlitEvent("sendFlitEvent"), responseEvent("responseEvent"),
      creditReturnEvent("creditReturnEvent"), inputBufferEvent("inputBufferEvent"),
      moveFlitsToLSW("moveFlitsToLSW"), tokenDelayEvent("tokenDelayEvent"),
      maxFlitsPerCycle(0), LSWStall(false), sendingPacket(false), tokenCount(cfg.TOKENS_PER_LINK),
      returnTokens(0),
      tailCount(0), tokenReturnTag(0), lastTimeSentToLSW(SC_ZERO_TIME),
      incomingRequestLength(-1), incomingTag(-1), incomingResponseTag(-1),
      incomingCommand(NULL_COMMAND), nextFlitNumber(1), timeOfLastFlit(SC_ZERO_TIME) {
  flitRate = LinkFlitRate(cfg, ConfiguredLinkWidth(cfg, id));
  const double ratio =
      static_cast<double>(cfg.CORE_CLK.value()) / static_cast<double>(flitRate.value());
  // At least one flit per cycle, as many as the host's flits bring in the
  // busiest cycle, and never more than the link has lanes to the link switch:
  // the batch position becomes the lane.
  const unsigned perCycle = std::max(FlitsPerCoreCycle(ratio), MostHostFlitsPerCoreCycle(cfg));
  maxFlitsPerCycle = std::clamp(perCycle, 1u, std::max(1u, cfg.FLITS_PER_CYCLE_LINK));

  lswLanes = cfg.FLITS_PER_CYCLE_LSW;
  blockShift = log2(cfg.MAX_BLOCK_SIZE);
  addressLimit = cfg.NUM_PARTITIONS == 2 ? (uint64_t{1} << 31)
                 : cfg.NUM_PARTITIONS == 4 ? (uint64_t{1} << 32)
                                           : 0;
  capacityText = cfg.NUM_PARTITIONS == 4 ? ") outside of address space for 4GB QUOR"
                                         : ") outside of address space for 2GB QUOR";
  onePs = sc_time(1, sc_core::SC_PS);
  inputDelay = Cycles(cfg.CORE_CLK, cfg.LINK_INPUT_DELAY);
  outputDelay = Cycles(cfg.CORE_CLK, cfg.LINK_OUTPUT_DELAY);
  creditDelay = Cycles(flitRate, cfg.CREDIT_RETURN_DELAY_LM);
  tokenDelay = Cycles(cfg.CORE_CLK, cfg.TOKEN_RETURN_DELAY_LSW);

  inputsFromVaultSwitch.init(cfg.FLITS_PER_CYCLE_VSW);
  outputsToLinkSwitch.init(cfg.FLITS_PER_CYCLE_LINK);
  laneHasFlit.assign(cfg.FLITS_PER_CYCLE_VSW, 0);
  creditReturn.initialize(0);

  AssignRanks(Stage::Link, id,
              {&tokenDelayEvent.Ordered(), &moveFlitsToLSW, &inputBufferEvent,
               &receiveFlitEvent.Ordered(), &boundaryWake, &sendFlitEvent.Ordered(), &responseEvent,
               &responseWake, &creditWake, &creditReturnEvent.Ordered()});

  SC_METHOD(ReceiveRequestFlits);
  sensitive << requestLinks;
  dont_initialize();
  // Every core cycle from the first on.
  SC_METHOD(HandleClockBoundary);
  sensitive << boundaryWake;
  dont_initialize();
  boundaryWake.DueRuns<&quor2_link::HandleClockBoundary>(this);
  boundaryWake.notify(cfg.CORE_CLK);
  SC_METHOD(ReceiveResponseFlits);
  for (auto& lane : inputsFromVaultSwitch) sensitive << lane;
  dont_initialize();
  SC_METHOD(TakeResponseFlits);
  sensitive << responseWake;
  dont_initialize();
  responseWake.DueRuns<&quor2_link::TakeResponseFlits>(this);
  SC_METHOD(SendResponseFlits);
  sensitive << responseEvent;
  dont_initialize();
  responseEvent.DueRuns<&quor2_link::SendResponseFlits>(this);
  SC_METHOD(ReceiveReturnTokensFromLSW);
  sensitive << tokenInput;
  dont_initialize();
  SC_METHOD(IncrementReturnTokens);
  sensitive << tokenDelayEvent;
  dont_initialize();
  tokenDelayEvent.Ordered().DueRuns<&quor2_link::IncrementReturnTokens>(this);
  SC_METHOD(CreditReturn);
  sensitive << creditReturnEvent;
  dont_initialize();
  creditReturnEvent.Ordered().DueRuns<&quor2_link::CreditReturn>(this);
  SC_METHOD(EndCreditReturn);
  sensitive << creditWake;
  dont_initialize();
  creditWake.DueRuns<&quor2_link::EndCreditReturn>(this);
  SC_METHOD(WriteToResponseLink);
  sensitive << sendFlitEvent;
  dont_initialize();
  SC_METHOD(ReceiveRequestFlitsAtLS);
  sensitive << receiveFlitEvent;
  dont_initialize();
  receiveFlitEvent.Ordered().DueRuns<&quor2_link::ReceiveRequestFlitsAtLS>(this);
  SC_METHOD(HandleInputBuffer);
  sensitive << inputBufferEvent;
  dont_initialize();
  inputBufferEvent.DueRuns<&quor2_link::HandleInputBuffer>(this);
  SC_METHOD(MoveFlitsToLSW);
  sensitive << moveFlitsToLSW;
  dont_initialize();
  moveFlitsToLSW.DueRuns<&quor2_link::MoveFlitsToLSW>(this);
  SC_METHOD(ReceiveBusyToggle);
  sensitive << inputBufferBusy;
  dont_initialize();
}

// ---------------------------------------------------------------------------
// Request side

void quor2_link::ReceiveRequestFlits() {
  if (!requestLinks.event()) return;
  Flit_P flit = requestLinks.read();
  SafetyCheck(flit);
  flit->sourceLink = id;
  clockBoundaryBuffer.push_back(flit);
}

void quor2_link::AbortWithFlit(const Flit_P& f) {
  std::cout << kFlitLine << f << std::endl;
  AbortRun();
}

void quor2_link::CheckAddress(const Flit_P& f) {
  if (addressLimit != 0 && f->address >= addressLimit) {
    std::cout << "== ERROR - Address (0x" << std::hex << f->address << std::dec << capacityText
              << std::endl;
    AbortWithFlit(f);
  }
}

void quor2_link::SafetyCheck(Flit_P incomingFlit) {
  Flit& f = *incomingFlit;
  const sc_time now = SimNow();

  if (now + onePs < timeOfLastFlit + flitRate) {
    std::cout << "== ERROR - Receive flit at a rate that does not match link config" << std::endl;
    std::cout << "           Flit rate currently : " << flitRate << std::endl;
    AbortRun();
  }
  timeOfLastFlit = now;

  const unsigned command = static_cast<unsigned>(f.command);
  switch (command) {
  case READ_REQUEST:
  case P_WRITE_REQUEST:
  case WRITE_REQUEST:
    if (!IsStandardRequestSize(f.requestLength)) {
      std::cout << "== ERROR - Request size not acceptable : " << f.requestLength << std::endl;
      std::cout << "           Please use one of the standard request sizes" << std::endl;
      AbortWithFlit(incomingFlit);
    }
    CheckAddress(incomingFlit);
    break;
  case ATOMIC_BWR:
  case ATOMIC_P_BWR:
  case ATOMIC_DADD8:
  case ATOMIC_P_DADD8:
  case ATOMIC_ADD16:
  case ATOMIC_P_ADD16:
    f.requestLength = 16;
    CheckAddress(incomingFlit);
    break;
  case TOKEN_RETURN:
    if (f.returnTokens == 0) {
      std::cout << "== ERROR - Token return packet with 0 tokens attached is not allowed"
                << std::endl;
      AbortWithFlit(incomingFlit);
    }
    break;
  case NULL_COMMAND: break;
  default: // responses and unknown commands: reported, then passed on as requests
    std::cout << "== ERROR - Incorrect command type received on Link " << id << std::endl;
    std::cout << kFlitLine << incomingFlit << std::endl;
    break;
  }

  if (command <= NULL_COMMAND) {
    if (command == READ_REQUEST || command == TOKEN_RETURN || command == NULL_COMMAND) {
      if (!(f.header && f.tail)) {
        std::cout << "== ERROR - Packet header and tail improperly set for this command type"
                  << std::endl;
        AbortWithFlit(incomingFlit);
      }
    } else if (command == P_WRITE_REQUEST || command == WRITE_REQUEST || IsAtomic(f.command)) {
      if (f.header && f.tail) {
        std::cout << "== ERROR - Packet should not be both header and tail" << std::endl;
        AbortWithFlit(incomingFlit);
      }
    }
  }

  const int32_t tag = static_cast<int32_t>(f.tag);
  if (incomingTag != -1 && incomingTag != tag) {
    std::cout << "== ERROR - Received non-contiguous packet - Expecting the rest of packet with "
                 "tag "
              << incomingTag << std::endl;
    AbortWithFlit(incomingFlit);
  }
  if (f.header) {
    incomingRequestLength = static_cast<int32_t>(f.requestLength);
    incomingTag = tag;
    incomingCommand = f.command;
  }
  if (f.tail) {
    incomingCommand = NULL_COMMAND;
    incomingRequestLength = -1;
    incomingTag = -1;
  }
  if (incomingTag != -1 && incomingCommand != f.command) {
    std::cout << "== ERROR - Command type changed mid packet" << std::endl;
    AbortWithFlit(incomingFlit);
  }
  if (f.returnTokens != 0 && !f.tail) {
    std::cout << "== ERROR - Return tokens should only be attached to tail flits" << std::endl;
    AbortWithFlit(incomingFlit);
  }
  if (incomingRequestLength != -1 &&
      static_cast<uint32_t>(incomingRequestLength) != f.requestLength) {
    std::cout << "== ERROR - Request size changed mid-packet - Expecting " << incomingRequestLength
              << std::endl;
    AbortWithFlit(incomingFlit);
  }
  if (f.flitNumber != nextFlitNumber) {
    std::cout << "== ERROR - Expected flit number " << nextFlitNumber << " of incoming packet"
              << std::endl;
    AbortWithFlit(incomingFlit);
  }
  // A packet of L bytes is one header flit plus L / 16 data flits.
  if (f.tail) {
    if (nextFlitNumber > f.requestLength / 16 + 1) {
      std::cout << "== ERROR - Too many flits (" << nextFlitNumber << ") in a " << f.requestLength
                << "B packet" << std::endl;
      AbortWithFlit(incomingFlit);
    }
    nextFlitNumber = 1;
  } else {
    ++nextFlitNumber;
    if (nextFlitNumber > static_cast<uint32_t>(incomingRequestLength / 16 + 1)) {
      std::cout << "== ERROR - Expected tail of " << incomingRequestLength << "B packet"
                << std::endl;
      AbortWithFlit(incomingFlit);
    }
  }
}

void quor2_link::HandleClockBoundary() {
  if (!clockBoundaryBuffer.empty()) {
    std::vector<Flit_P> batch;
    if (!spareBatches.empty()) {
      batch = std::move(spareBatches.back());
      spareBatches.pop_back();
    }
    const size_t n = std::min<size_t>(maxFlitsPerCycle, clockBoundaryBuffer.size());
    for (size_t lane = 0; lane < n; ++lane) {
      Flit_P f = clockBoundaryBuffer.front();
      clockBoundaryBuffer.pop_front();
      f->currentLane = static_cast<int32_t>(lane);
      batch.push_back(f);
    }
    inputDelayBuffer.push_back(std::move(batch));
    receiveFlitEvent.notify(inputDelay);
  }
  if (!clockBoundaryBuffer.empty()) {
    std::cout << "==ERROR - Ring-Buffer overflow in link.  Received too many flits this core "
                 "cycle ("
              << SimNow() << ")" << std::endl;
  }
  boundaryWake.notify(cfg.CORE_CLK);
}

void quor2_link::CreditHostTokens(const Flit& f, const char* origin) {
  tokenCount += f.returnTokens;
  responseEvent.notify(cfg.delayUntilNextPeriod(SimNow(), flitRate));
  if (tokenCount > cfg.TOKENS_PER_LINK)
    TimedLine() << "ERROR - To many tokens in link" << id << origin << tokenCount << std::endl;
}

void quor2_link::ReceiveRequestFlitsAtLS() {
  if (inputDelayBuffer.empty()) return;
  std::vector<Flit_P>& batch = inputDelayBuffer.front();
  for (Flit_P& handle : batch) {
    Flit& f = *handle;
    if (f.command == TOKEN_RETURN) {
      CreditHostTokens(f, " from token return packet : ");
    } else if (f.command != NULL_COMMAND) {
      f.destinationField = static_cast<uint32_t>(ComputeDestinationField(f.address));
      if (f.tail && f.returnTokens != 0) {
        CreditHostTokens(f, " from tail of packet : ");
        f.returnTokens = 0;
      }
      if (f.tail && (f.command == WRITE_REQUEST || f.command == P_WRITE_REQUEST)) {
        stats.perLinkDataMovement[id] += f.requestLength;
        stats.perLinkDataMovementWrite[id] += f.requestLength;
      }
      if (f.header) {
        if (f.command == READ_REQUEST)
          ++stats.perLinkReads[id];
        else
          ++stats.perLinkWrites[id];
      }
      ++stats.perLinkAcceptedFlits[id];
    }
    processedFlits.push_back(handle);
  }
  ForwardProcessedFlits();

  batch.clear();
  spareBatches.push_back(std::move(batch));
  inputDelayBuffer.pop_front();
}

// Up to FLITS_PER_CYCLE_LSW processed flits (null flits included) go on, directly
// when nothing holds them back, else through the input buffer so that arrival
// order is kept.
void quor2_link::ForwardProcessedFlits() {
  const sc_time now = SimNow();
  const size_t n = std::min<size_t>(processedFlits.size(), lswLanes);
  int32_t directLane = 0;
  for (size_t k = 0; k < n; ++k) {
    Flit_P f = processedFlits.front();
    processedFlits.pop_front();
    const bool buffered = (LSWStall && !sendingPacket) || lastTimeSentToLSW == now ||
                          !inputBuffer.empty();
    if (!buffered) {
      // The link switch reads its lanes in increasing order, so lanes follow the
      // forwarding order. A flit left over from an earlier batch (the switch
      // takes fewer flits per cycle than the link delivers) would otherwise keep
      // its high batch position and be read after the new batch's first flits.
      f->currentLane = directLane++;
      flitsForLSW.push_back(f);
      if (f->header) sendingPacket = true;
      if (f->tail) sendingPacket = false;
      moveFlitsToLSW.notify(SC_ZERO_TIME);
    } else if (IsAbsorbed(*f)) {
      delete f.flit;
    } else {
      const uint32_t next = inputBuffer.empty() ? 0 : inputBuffer.back()->currentLane + 1;
      f->currentLane = static_cast<int32_t>(next % lswLanes);
      inputBuffer.push_back(f);
      inputBufferEvent.notify(cfg.CORE_CLK);
    }
  }
  // Null flits and the host's token returns carry nothing onward. One that
  // missed this cycle's limit ends here: kept, it would take a slot of the next
  // cycle, and with the link switch slower than the link the idle flits would
  // pile up ahead of every later request.
  for (auto it = processedFlits.begin(); it != processedFlits.end();) {
    if (IsAbsorbed(**it)) {
      delete it->flit;
      it = processedFlits.erase(it);
    } else {
      ++it;
    }
  }
}

void quor2_link::HandleInputBuffer() {
  if ((LSWStall && !sendingPacket) || inputBuffer.empty()) return;
  const size_t n = std::min<size_t>(inputBuffer.size(), lswLanes);
  for (size_t k = 0; k < n; ++k) {
    Flit_P f = inputBuffer.front();
    inputBuffer.pop_front();
    flitsForLSW.push_back(f);
    if (f->header) sendingPacket = true;
    if (f->tail) {
      sendingPacket = false;
      if (LSWStall) break;
    }
    // A pass never wraps past the last lane.
    if (f->currentLane == static_cast<int32_t>(lswLanes) - 1) break;
  }
  moveFlitsToLSW.notify(SC_ZERO_TIME);
  lastTimeSentToLSW = SimNow();
  if (!inputBuffer.empty()) inputBufferEvent.notify(cfg.CORE_CLK);
}

void quor2_link::MoveFlitsToLSW() {
  const size_t n = std::min<size_t>(flitsForLSW.size(), lswLanes);
  for (size_t k = 0; k < n; ++k) {
    const Flit_P& f = flitsForLSW[k];
    if (IsAbsorbed(*f))
      delete f.flit; // null flits and the host's token returns end here
    else
      outputsToLinkSwitch[f->currentLane].write(f);
  }
  flitsForLSW.erase(flitsForLSW.begin(), flitsForLSW.begin() + static_cast<std::ptrdiff_t>(n));
  // Never more than one pass is waiting; anything beyond it goes a delta later
  // rather than being lost.
  if (!flitsForLSW.empty()) moveFlitsToLSW.notify(SC_ZERO_TIME);
}

void quor2_link::ReceiveBusyToggle() {
  if (inputBufferBusy.read()) {
    LSWStall = true;
  } else {
    LSWStall = false;
    if (!inputBuffer.empty()) inputBufferEvent.notify(cfg.CORE_CLK);
  }
}

uint64_t quor2_link::ComputeDestinationField(uint64_t addr) {
  if (cfg.MAPPING_SCHEME != 0) {
    TimedLine() << "ERROR - Wrong unknown address mapping scheme when computing destination "
                   "field in link"
                << std::endl;
    return ~uint64_t{0};
  }
  return VaultOfAddress(addr, blockShift, cfg.NUM_VAULTS);
}

// ---------------------------------------------------------------------------
// Response side

void quor2_link::ReceiveResponseFlits() {
  if (responsePending) return;
  for (size_t lane = 0; lane < laneHasFlit.size(); ++lane)
    laneHasFlit[lane] = inputsFromVaultSwitch[lane].event() ? 1 : 0;
  responsePending = true;
  responseWake.notify(cfg.CORE_CLK);
}

// A core cycle after the flits appeared on the lanes, as they are then.
void quor2_link::TakeResponseFlits() {
  responsePending = false;
  for (size_t lane = 0; lane < laneHasFlit.size(); ++lane) {
    if (!laneHasFlit[lane]) continue;
    Flit_P f = inputsFromVaultSwitch[lane].read();
    const int32_t tag = static_cast<int32_t>(f->tag);
    if (incomingResponseTag != -1 && incomingResponseTag != tag) {
      std::cout << "== ERROR - Non-contiguous packet in LM" << id << std::endl;
      AbortRun();
    }
    if (f->header) incomingResponseTag = tag;
    if (f->tail) {
      incomingResponseTag = -1;
      f->startTimeRspLink = SimNow();
      ++tailCount;
    }
    outputBuffer.push_back(f);
    if (outputBuffer.size() > cfg.LINK_MASTER_BUFFER_SIZE)
      TimedLine() << "ERROR - Link Master " << id << " buffer exceeded capacity" << std::endl;
  }
  if (tailCount != 0) responseEvent.notify(cfg.delayUntilNextPeriod(SimNow(), flitRate));
}

// Whether the front flit may go now: only with a complete packet waiting, and
// unless responses run open loop, with a token for it (a read response's header
// waits until tokens for the whole packet are there).
bool quor2_link::MayRespond() const {
  if (tailCount == 0) return false;
  if (cfg.RESPONSE_OPEN_LOOP) return true;
  if (tokenCount == 0) return false;
  const Flit& f = *outputBuffer.front();
  return !(f.header && f.command == READ_RESPONSE &&
           tokenCount < f.requestLength / cfg.FLIT_SIZE + 1);
}

void quor2_link::AttachOwedTokens(Flit& f) {
  if (returnTokens > cfg.MAX_TOKEN_RETURN) {
    f.returnTokens = cfg.MAX_TOKEN_RETURN;
    returnTokens -= cfg.MAX_TOKEN_RETURN;
  } else {
    f.returnTokens = returnTokens;
    returnTokens = 0;
  }
}

void quor2_link::SendResponseFlits() {
  if (MayRespond()) {
    if (!cfg.RESPONSE_OPEN_LOOP) --tokenCount;
    Flit_P f = outputBuffer.front();
    if (f->tail) {
      --tailCount;
      AttachOwedTokens(*f);
      if (f->command == READ_RESPONSE) {
        stats.perLinkDataMovement[id] += f->requestLength;
        stats.perLinkDataMovementRead[id] += f->requestLength;
      }
    }
    ++stats.perLinkSentFlits[id];
    outputDelayBuffer.push_back(f);
    sendFlitEvent.notify(outputDelay);
    outputBuffer.pop_front();
    returnCredits.push_back(1);
    creditReturnEvent.notify(creditDelay);
  } else if (returnTokens != 0) {
    // The host deletes the token-return packets it receives.
    Flit_P packet(tokenReturnTag, ~uint64_t{0}, TOKEN_RETURN, 0, true, true, 1);
    ++tokenReturnTag;
    AttachOwedTokens(*packet);
    outputDelayBuffer.push_back(packet);
    sendFlitEvent.notify(outputDelay);
  }
  if (!outputBuffer.empty() || returnTokens != 0) responseEvent.notify(flitRate);
}

// The response lane may be written from the ordered queue's own step only when
// it is one of the model's own signals: a host's signal may check its writer.
void quor2_link::end_of_elaboration() {
  if (dynamic_cast<InnerSignal<Flit_P>*>(responseLinks.get_interface()) != nullptr)
    sendFlitEvent.Ordered().DueRuns<&quor2_link::WriteToResponseLink>(this);
}

void quor2_link::WriteToResponseLink() {
  responseLinks.write(outputDelayBuffer.front());
  outputDelayBuffer.pop_front();
}

void quor2_link::CreditReturn() {
  if (creditPulse.Busy()) return;
  const int amount = static_cast<int>(returnCredits.front());
  returnCredits.pop_front();
  creditPulse.Start(amount, flitRate);
}

void quor2_link::EndCreditReturn() { creditPulse.Step(); }

void quor2_link::ReceiveReturnTokensFromLSW() {
  const int freed = tokenInput.read();
  if (freed > 0) {
    tokenDelayQueue.push_back(static_cast<uint32_t>(freed));
    tokenDelayEvent.notify(tokenDelay);
  }
}

void quor2_link::IncrementReturnTokens() {
  returnTokens += tokenDelayQueue.front();
  if (returnTokens > cfg.TOKENS_PER_LINK)
    TimedLine() << "ERROR - Somehow have too many tokens" << std::endl;
  tokenDelayQueue.pop_front();
  responseEvent.notify(cfg.delayUntilNextPeriod(SimNow(), flitRate));
}

void quor2_link::DumpState() {
  std::cout << "== Link" << id << "\n";
  std::cout << "\t\tToken Count\t\t\t : " << tokenCount << "\n";
  std::cout << "\t\tReturn Tokens\t\t : " << returnTokens << "\n";
  std::cout << "      ReturnTokenQ  : " << tokenDelayQueue.size() << "\n";
  std::cout << "\t\tToken Return Tag : " << tokenReturnTag << "\n";
  std::cout << "   Block Boundary : " << clockBoundaryBuffer.size() << "\n";
  std::cout << "\t\tLS Input Buffer :" << "\n";
  PrintFlits(inputBuffer);
  std::cout << "\t\tLM Output Buffer :" << "\n";
  PrintFlits(outputBuffer);
  std::cout.flush();
}

// Response tokens all home, no host token left to hand back, no flit in any
// buffer, no credit waiting to go back to the vault switch.
void quor2_link::CheckAtRest(RestCheck& check) const {
  const std::string me = name();
  check.Expect(me + ".tokenCount", tokenCount, cfg.TOKENS_PER_LINK);
  check.Expect(me + ".returnTokens", returnTokens, 0);
  check.ExpectEmpty(me + ".tokenDelayQueue", tokenDelayQueue.size());
  check.ExpectEmpty(me + ".returnCredits", returnCredits.size());
  check.ExpectEmpty(me + ".flitsForLSW", flitsForLSW.size());
  check.ExpectEmpty(me + ".processedFlits", processedFlits.size());
  check.ExpectEmpty(me + ".inputBuffer", inputBuffer.size());
  check.ExpectEmpty(me + ".outputBuffer", outputBuffer.size());
  // The host sends a null flit whenever it has nothing else, so those are
  // always on their way in; they carry nothing.
  const auto carrying = [](const auto& flits) {
    std::size_t n = 0;
    for (const auto& f : flits) n += f.flit != nullptr && !IsAbsorbed(*f);
    return n;
  };
  check.ExpectEmpty(me + ".clockBoundaryBuffer", carrying(clockBoundaryBuffer));
  std::size_t delayed = 0;
  for (const auto& batch : inputDelayBuffer) delayed += carrying(batch);
  check.ExpectEmpty(me + ".inputDelayBuffer", delayed);
  check.ExpectEmpty(me + ".outputDelayBuffer", outputDelayBuffer.size());
}

} // namespace Orvane::Internal::QUOR2
