#include "quor2_quor_controller.h"

#include "quor2_atomics_extension.h"
#include "quor2_data_store.h"
#include "quor2_flit.h"
#include "quor2_link_extension.h"
#include "quor2_messages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <string>

namespace Orvane::Internal::QUOR2 {

using sc_core::sc_time;

namespace {
constexpr uint64_t kAllOnes = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kNoTag = 0xFFFFFFFF;
constexpr unsigned kAtomicFlits = 2;
constexpr unsigned kAtomicLength = 16;
} // namespace

uint64_t QuadOfAddress(uint64_t address, const Config& cfg) {
  if (cfg.MAPPING_SCHEME != 0) {
    std::cout << "== ERROR - Unknown mapping scheme in Host Controller" << std::endl;
    return kNoQuad;
  }
  const uint64_t vault = (address >> log2(cfg.MAX_BLOCK_SIZE)) & (cfg.NUM_VAULTS - 1);
  return vault >> log2(cfg.VAULTS_PER_QUAD);
}

int RequestSizeSlot(unsigned length) {
  const unsigned units = length / 16;
  if (units < 1 || units > 8) return -1;
  return static_cast<int>(units) - 1;
}

unsigned TakeReturnTokens(unsigned& owed, unsigned maxReturn) {
  const unsigned taken = owed > maxReturn ? maxReturn : owed;
  owed -= taken;
  return taken;
}

quor2_quor_controller::quor2_quor_controller(sc_core::sc_module_name name, const Config& cfg,
                                             StatsKeeper& stats)
    : sc_module(name), requestLinks("requestLinks"), responseLinks("responseLinks"),
      tlmPhase(tlm::BEGIN_REQ), cfg(cfg), stats(stats) {
  clockCounter = 0;
  tokenReturnTag = 0;
  postedWriteTags = uint64_t{cfg.NUM_LINKS} * cfg.TAGS_PER_LINK;

  if (cfg.LINK_SPEED != 10.0f && cfg.LINK_SPEED != 12.5f && cfg.LINK_SPEED != 15.0f) {
    std::cout << "ERROR - Unknown link speed" << std::endl;
    std::cout << "\t\t\t\t Options are 10, 12.5, or 15" << std::endl;
  }
  if (cfg.LINK_0_WIDTH != cfg.LINK_1_WIDTH || cfg.LINK_0_WIDTH != cfg.LINK_2_WIDTH ||
      cfg.LINK_0_WIDTH != cfg.LINK_3_WIDTH) {
    std::cout << "== ERROR - When using example host controller, all links must be the same width"
              << std::endl;
    AbortRun();
  }
  flitRate = LinkFlitRate(cfg, cfg.LINK_0_WIDTH);
  adjustedFlitRate = cfg.LINK_SPEED == 15.0f ? flitRate + sc_time(1, sc_core::SC_PS) : flitRate;

  const unsigned sources = cfg.NUM_GENERATORS;
  const unsigned links = cfg.NUM_LINKS;
  for (unsigned i = 0; i < sources; ++i) {
    callWrappers.push_back(new quor2_call_wrapper(i, this));
    const std::string socketName = "requestSocket" + std::to_string(i);
    auto* socket = new ControllerSocket(socketName.c_str());
    socket->register_nb_transport_fw(callWrappers[i], &quor2_call_wrapper::nb_transport_fw);
    socket->register_b_transport(callWrappers[i], &quor2_call_wrapper::b_transport);
    socket->register_transport_dbg(callWrappers[i], &quor2_call_wrapper::transport_dbg);
    requestSockets.push_back(socket);
  }

  returningResponse.assign(sources, false);
  nextAvailableResponseTime.assign(sources, sc_core::SC_ZERO_TIME);
  pendingResponses.resize(sources);
  pendingTransactions.assign(sources, nullptr);
  transactionWaiting.assign(sources, false);
  requestBuffers.resize(links);
  postedPayloads.resize(links);
  perLinkSpacingCounter.assign(links, 0);
  perLinkTokens.assign(links, cfg.TOKENS_PER_LINK);
  perLinkReturnTokens.assign(links, 0);
  perLinkTokenSample.assign(links, sc_core::SC_ZERO_TIME);

  perLinkFreeTags.resize(links);
  for (unsigned l = 0; l < links; ++l)
    for (unsigned t = 0; t < cfg.TAGS_PER_LINK; ++t)
      perLinkFreeTags[l].push_back(l * cfg.TAGS_PER_LINK + t);
  outstandingTransactions.assign(std::size_t{links} * cfg.TAGS_PER_LINK, nullptr);
  outstandingTransactionSources.assign(std::size_t{links} * cfg.TAGS_PER_LINK, 0);

  requestLinks.init(links);
  responseLinks.init(links);

  AssignRanks(Stage::HostController, 0, {&issueWake, &responseEvent});

  SC_METHOD(IssueRequest);
  sensitive << issueWake;
  dont_initialize();
  NextIssue();
  SC_METHOD(ReturnResponse);
  sensitive << responseEvent;
  dont_initialize();
  SC_METHOD(ReceiveResponse);
  for (auto& port : responseLinks) sensitive << port;

  transaction = new tlm::tlm_generic_payload();
  tlmDelay = sc_core::SC_ZERO_TIME;
  if (cfg.STORE_DATA) store = &DataStoreOf(cfg);
}

quor2_quor_controller::~quor2_quor_controller() {
  // Queued flits were never handed to the cube; nobody else holds them.
  for (auto& buffer : requestBuffers)
    for (auto& handle : buffer) delete handle.flit;
  for (auto* socket : requestSockets) delete socket;
  for (auto* wrapper : callWrappers) delete wrapper;
  delete transaction;
}

// ---------------------------------------------------------------------------
// Request intake

uint64_t quor2_quor_controller::DetermineQuad(uint64_t address) {
  return QuadOfAddress(address, cfg);
}

unsigned quor2_quor_controller::ChooseLink(const tlm::tlm_generic_payload& trans) {
  uint64_t link = 0;
  switch (cfg.HOST_MAPPING) {
  case 0:
    link = static_cast<unsigned>(std::rand()) % cfg.NUM_QUADS;
    break;
  case 1:
    link = DetermineQuad(trans.get_address());
    // An unknown mapping scheme names no quad, so no link can be chosen.
    if (link == kNoQuad) ExitRun(1);
    break;
  case 2:
    // A host's payload names no link: its streaming width is the data length.
    if (const auto* named = trans.get_extension<quor2_link_extension>())
      link = named->link % cfg.NUM_LINKS;
    else if (trans.get_streaming_width() < cfg.NUM_LINKS)
      link = trans.get_streaming_width();
    else
      link = DetermineQuad(trans.get_address());
    if (link == kNoQuad) ExitRun(1);
    break;
  default:
    std::cout << "unknonwn host mapping" << std::endl;
    ExitRun(1);
  }
  // Link l serves quad l; a quad without a link of its own folds onto the links.
  if (link >= cfg.NUM_LINKS) link %= cfg.NUM_LINKS;
  return static_cast<unsigned>(link);
}

bool quor2_quor_controller::ReceiveRequest(tlm::tlm_generic_payload& trans, int generatorID) {
  incomingRequestLength = trans.get_data_length();
  incomingAddress = trans.get_address();
  const unsigned leadingNulls = trans.get_byte_enable_length();
  incomingDestinationLink = ChooseLink(trans);
  const unsigned link = incomingDestinationLink;
  const unsigned length = incomingRequestLength;

  quor2_atomics_extension* atomic = nullptr;
  trans.get_extension(atomic);
  if (atomic != nullptr) return ReceiveAtomic(trans, generatorID, atomic->command, link, leadingNulls);

  if (RequestSizeSlot(length) < 0 || length % 16 != 0) {
    TimedLine() << "ERROR - Unsupported data size : " << length << std::endl;
    std::cout << "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t Please adhere to the standardized request sizes"
              << std::endl;
  }
  if (perLinkFreeTags[link].empty()) return false;

  auto& buffer = requestBuffers[link];
  if (trans.get_command() == tlm::TLM_READ_COMMAND) {
    if (buffer.size() >= cfg.REQUEST_BUFFER_SIZE) return false;
    const unsigned tag = TakeTag(link, trans, generatorID);
    AppendPacket(link, tag, READ_REQUEST, length, 1, leadingNulls, trans);
    CountRequestSize(stats.readRequestSizeCounter, length);
    return true;
  }

  const unsigned flits = length / cfg.FLIT_SIZE + 1;
  if (buffer.size() + flits > cfg.REQUEST_BUFFER_SIZE) return false;
  CountRequestSize(stats.writeRequestSizeCounter, length);
  if (cfg.POSTED_WRITES) {
    const auto tag = static_cast<uint32_t>(postedWriteTags++);
    postedPayloads[link].push_back(&trans);
    AppendPacket(link, tag, P_WRITE_REQUEST, length, flits, leadingNulls, trans);
    return true;
  }
  const unsigned tag = TakeTag(link, trans, generatorID);
  AppendPacket(link, tag, WRITE_REQUEST, length, flits, leadingNulls, trans);
  return true;
}

bool quor2_quor_controller::ReceiveAtomic(tlm::tlm_generic_payload& trans, int generatorID,
                                          QUORCommand command, unsigned link,
                                          unsigned leadingNulls) {
  switch (command) {
  case READ_REQUEST:
  case READ_RESPONSE:
  case P_WRITE_REQUEST:
  case WRITE_RESPONSE:
  case TOKEN_RETURN:
  case NULL_COMMAND:
    std::cout << "== ERROR - Incorrectly set AtomicsExtension on TLM Generic Payload object"
              << std::endl;
    std::cout << "           Please set command to an atomic operation" << std::endl;
    AbortRun();
  default:
    break;
  }
  if (!IsAtomic(command)) {
    std::cout << "== ERROR - Unknown atomic command" << std::endl;
    AbortRun();
  }

  if (requestBuffers[link].size() + kAtomicFlits > cfg.REQUEST_BUFFER_SIZE) return false;
  if (IsPostedAtomic(command)) {
    const auto tag = static_cast<uint32_t>(postedWriteTags++);
    AppendPacket(link, tag, command, kAtomicLength, kAtomicFlits, leadingNulls, trans);
    trans.free_all_extensions();
    trans.set_response_status(tlm::TLM_OK_RESPONSE);
    if (!WakeBlockingCall(trans)) trans.release();
    return true;
  }
  if (perLinkFreeTags[link].empty()) return false;
  const unsigned tag = TakeTag(link, trans, generatorID);
  AppendPacket(link, tag, command, kAtomicLength, kAtomicFlits, leadingNulls, trans);
  // From here on the request is a 16-byte write: one token per response.
  trans.set_data_length(kAtomicLength);
  trans.set_command(tlm::TLM_WRITE_COMMAND);
  return true;
}

// Takes the front tag of the link's pool for a request that awaits a response.
unsigned quor2_quor_controller::TakeTag(unsigned link, tlm::tlm_generic_payload& trans,
                                        int generatorID) {
  const unsigned tag = perLinkFreeTags[link].front();
  perLinkFreeTags[link].pop_front();
  outstandingRequests.Change(1, SimNow());
  trans.set_streaming_width(link);
  outstandingTransactions[tag] = &trans;
  outstandingTransactionSources[tag] = static_cast<unsigned>(generatorID);
  return tag;
}

void quor2_quor_controller::AppendPacket(unsigned link, unsigned tag, QUORCommand command,
                                         unsigned length, unsigned flits, unsigned leadingNulls,
                                         const tlm::tlm_generic_payload& trans) {
  if (store != nullptr) store->Begin(tag, command, incomingAddress, trans);
  auto& buffer = requestBuffers[link];
  for (unsigned n = 1; n <= flits; ++n) {
    Flit_P handle(tag, incomingAddress, command, length, n == 1, n == flits, n);
    if (n == 1) handle->leadingNullFlits = leadingNulls;
    buffer.push_back(handle);
  }
  bufferedRequestFlits.Change(flits, SimNow());
}

void quor2_quor_controller::CountRequestSize(std::vector<uint64_t>& counters, unsigned length) {
  const int slot = RequestSizeSlot(length);
  if (slot >= 0) ++counters[static_cast<std::size_t>(slot)];
}

// ---------------------------------------------------------------------------
// Request links

// Every flit period from the first on; every third one a picosecond longer
// at 15 Gb/s.
void quor2_quor_controller::IssueRequest() {
  clockCounter = clockCounter == 2 ? 0 : clockCounter + 1;
  const sc_time now = SimNow();
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) IssueOnLink(l, now);
  RetryParkedRequests();
  NextIssue();
}

void quor2_quor_controller::NextIssue() {
  issueWake.notify(clockCounter == 2 ? adjustedFlitRate : flitRate);
}

// The request lanes may be written from the ordered queue's step only when
// they are the model's own signals: a host's signal may check its writer.
void quor2_quor_controller::end_of_elaboration() {
  for (auto& lane : requestLinks)
    if (dynamic_cast<InnerSignal<Flit_P>*>(lane.get_interface()) == nullptr) return;
  issueWake.DueRuns<&quor2_quor_controller::IssueRequest>(this);
}

// Writes exactly one new flit on the link: the next request flit when it may
// go, otherwise an idle flit.
void quor2_quor_controller::IssueOnLink(unsigned link, const sc_time& now) {
  auto& buffer = requestBuffers[link];
  if (buffer.empty()) return SendIdleFlit(link);
  Flit& front = *buffer.front();
  if (perLinkSpacingCounter[link] > 0) {
    --perLinkSpacingCounter[link];
    if (front.leadingNullFlits > 0) --front.leadingNullFlits;
    return SendIdleFlit(link);
  }
  if (front.leadingNullFlits > 0) {
    --front.leadingNullFlits;
    return SendIdleFlit(link);
  }
  if (perLinkTokens[link] == 0) return SendIdleFlit(link);
  if (front.header && !HeaderMayGo(link, front)) return SendIdleFlit(link);

  if (front.tail) {
    front.startTimeReqLink = now;
    if (!cfg.RESPONSE_OPEN_LOOP)
      front.returnTokens = TakeReturnTokens(perLinkReturnTokens[link], cfg.MAX_TOKEN_RETURN);
    perLinkSpacingCounter[link] = cfg.REQUEST_SPACING;
  }
  requestLinks[link].write(buffer.front());
  buffer.pop_front();
  bufferedRequestFlits.Change(-1, now);

  const uint64_t ticks = (now - perLinkTokenSample[link]).value();
  stats.perLinkHostTokens[link] += static_cast<uint32_t>(perLinkTokens[link] * ticks);
  perLinkTokenSample[link] = now;
  --perLinkTokens[link];
}

// A header goes only when the link holds tokens for the whole packet; it is
// counted as issued when it goes.
bool quor2_quor_controller::HeaderMayGo(unsigned link, const Flit& header) {
  switch (header.command) {
  case READ_REQUEST:
    ++stats.QUORControllerIssuedReads;
    return true;
  case P_WRITE_REQUEST:
  case WRITE_REQUEST:
    if (perLinkTokens[link] < header.requestLength / cfg.FLIT_SIZE + 1) return false;
    ++stats.QUORControllerIssuedWrites;
    stats.QUORControllerMovedData += header.requestLength;
    if (header.command == P_WRITE_REQUEST && !postedPayloads[link].empty()) {
      tlm::tlm_generic_payload* posted = postedPayloads[link].front();
      postedPayloads[link].pop_front();
      posted->set_response_status(tlm::TLM_OK_RESPONSE);
      if (!WakeBlockingCall(*posted)) posted->release();
    }
    return true;
  default:
    if (perLinkTokens[link] < kAtomicFlits) return false;
    ++stats.QUORControllerIssuedAtomics;
    return true;
  }
}

void quor2_quor_controller::SendIdleFlit(unsigned link) {
  if (perLinkReturnTokens[link] > 0 && !cfg.RESPONSE_OPEN_LOOP) {
    Flit_P handle(static_cast<uint32_t>(tokenReturnTag++), kAllOnes, TOKEN_RETURN, 0, true, true, 1);
    handle->returnTokens = TakeReturnTokens(perLinkReturnTokens[link], cfg.MAX_TOKEN_RETURN);
    requestLinks[link].write(handle);
    return;
  }
  requestLinks[link].write(Flit_P(kNoTag, kAllOnes, NULL_COMMAND, 0, true, true, 1));
}

void quor2_quor_controller::RetryParkedRequests() {
  for (unsigned i = 0; i < transactionWaiting.size(); ++i) {
    if (!transactionWaiting[i]) continue;
    tlm::tlm_generic_payload* parked = pendingTransactions[i];
    if (!ReceiveRequest(*parked, static_cast<int>(i))) continue;
    // Cleared before the call, so a source that sends again from inside it
    // can park its next request.
    transactionWaiting[i] = false;
    pendingTransactions[i] = nullptr;
    tlmPhase = tlm::END_REQ;
    NoteImmediateWork(); // the host may wake a process of its own
    if (!blockingCalls.empty() && blockingCalls.count(parked) != 0) {
      parkFreed.notify(sc_core::SC_ZERO_TIME);
      blockingCalls[parked]->notify(sc_core::SC_ZERO_TIME);
      continue;
    }
    (*requestSockets[i])->nb_transport_bw(*parked, tlmPhase, tlmDelay);
  }
}

// ---------------------------------------------------------------------------
// Response links

void quor2_quor_controller::ReceiveResponse() {
  const sc_time now = SimNow();
  for (unsigned l = 0; l < responseLinks.size(); ++l) {
    if (!responseLinks[l].event()) continue;
    Flit* flit = responseLinks[l].read().flit;
    if (flit->command == TOKEN_RETURN) {
      perLinkTokens[l] += flit->returnTokens;
      if (perLinkTokens[l] > cfg.TOKENS_PER_LINK)
        TimedLine() << "ERROR - To many tokens on QUOR Controller link" << l
                    << " from token return packet" << std::endl;
    } else {
      if (flit->sourceLink != l)
        TimedLine() << "ERROR - Received flit on wrong link (" << l << ") - " << *flit << std::endl;
      if (flit->tail) CompleteResponse(l, *flit, now);
    }
    delete flit;
  }
}

void quor2_quor_controller::CompleteResponse(unsigned link, const Flit& tail, const sc_time& now) {
  const bool isRead = tail.command == READ_RESPONSE;
  const unsigned quad = tail.destinationField / cfg.VAULTS_PER_QUAD;
  if (isRead) {
    if (quad == link)
      ++stats.QUORContPerLinkReadRespLocal[link];
    else
      ++stats.QUORContPerLinkReadRespRemote[link];
    stats.QUORControllerMovedData += tail.requestLength;
  } else if (tail.command == WRITE_RESPONSE) {
    ++stats.QUORContPerLinkWriteResponses[link];
  }

  // Only pooled tags have a waiting payload and a place in a pool.
  const unsigned tag = tail.tag;
  if (tag < outstandingTransactions.size()) {
    tlm::tlm_generic_payload& answered = *outstandingTransactions[tag];
    if (store != nullptr) store->Finish(tag, answered);
    answered.set_response_status(tlm::TLM_OK_RESPONSE);
    pendingResponses[outstandingTransactionSources[tag]].push_back(outstandingTransactions[tag]);
    responseEvent.notify();
  }
  perLinkTokens[link] += tail.returnTokens;
  if (tag < outstandingTransactions.size()) {
    perLinkFreeTags[link].push_back(tag);
    outstandingRequests.Change(-1, now);
  }

  if (isRead) {
    ++stats.perLinkReadResponses[link];
    BookReadLatency(link, tail, quad, now);
  } else if (tail.command == WRITE_RESPONSE) {
    ++stats.perLinkWriteResponses[link];
  }
}

void quor2_quor_controller::BookReadLatency(unsigned link, const Flit& f, unsigned quad,
                                            const sc_time& now) {
  const auto lat = static_cast<uint32_t>((now - f.startTimeReqLink).value());
  if (quad == link) {
    stats.perLinkAvgReqLinkLat_Local[link] += f.startTimeLSW_L - f.startTimeReqLink;
    stats.perLinkAvgLSWLat_Local[link] += f.startTimeTransQ - f.startTimeLSW_L;
    stats.perLinkAvgTransQLat_Local[link] += f.startTimeReqQ - f.startTimeTransQ;
    stats.perLinkAvgReqQLat_Local[link] += f.startTimeVSW_L - f.startTimeReqQ;
    stats.perLinkAvgVSWLat_Local[link] += f.startTimeRspLink - f.startTimeVSW_L;
    stats.perLinkAvgRspLinkLat_Local[link] += now - f.startTimeRspLink;
    stats.perLinkAvgLocalLatency[link] += lat;
  } else {
    stats.perLinkAvgReqLinkLat_Remote[link] += f.startTimeLSW_L - f.startTimeReqLink;
    stats.perLinkAvgLSWLat_L_Remote[link] += f.startTimeLSW_R - f.startTimeLSW_L;
    stats.perLinkAvgLSWLat_R_Remote[link] += f.startTimeTransQ - f.startTimeLSW_R;
    stats.perLinkAvgTransQLat_Remote[link] += f.startTimeReqQ - f.startTimeTransQ;
    stats.perLinkAvgReqQLat_Remote[link] += f.startTimeVSW_L - f.startTimeReqQ;
    stats.perLinkAvgVSWLat_L_Remote[link] += f.startTimeVSW_R - f.startTimeVSW_L;
    stats.perLinkAvgVSWLat_R_Remote[link] += f.startTimeRspLink - f.startTimeVSW_R;
    stats.perLinkAvgRspLinkLat_Remote[link] += now - f.startTimeRspLink;
    stats.perLinkAvgRemoteLatency[link] += lat;
  }
  stats.perLinkAvgLatency[link] += lat;
  if (quad < cfg.NUM_QUADS) {
    stats.perQuadAvgLatency[link][quad] += lat;
    stats.perQuadResponse[link][quad] += 1;
  }
  if (lat > stats.perLinkMaxLatency[link]) stats.perLinkMaxLatency[link] = lat;
  if (lat < stats.perLinkMinLatency[link]) stats.perLinkMinLatency[link] = lat;
  if (now >= cfg.WARMUP_NS) {
    if (lat > stats.perLinkWindowMaxLatency[link]) stats.perLinkWindowMaxLatency[link] = lat;
    if (lat < stats.perLinkWindowMinLatency[link]) stats.perLinkWindowMinLatency[link] = lat;
  }
}

void quor2_quor_controller::ReturnResponse() {
  if (cfg.RESPONSE_OPEN_LOOP)
    ReturnOpenLoop();
  else
    ReturnClosedLoop();
}

void quor2_quor_controller::ReturnOpenLoop() {
  for (unsigned i = 0; i < pendingResponses.size(); ++i) {
    auto& queue = pendingResponses[i];
    while (!queue.empty()) {
      tlm::tlm_generic_payload* payload = queue.front();
      queue.pop_front();
      CountDelivered(*payload);
      tlmPhase = tlm::BEGIN_RESP;
      NoteImmediateWork();
      HandBack(i, *payload);
    }
  }
}

// At most one response per source per activation; each source is paced by
// the delay it returned, or held until its END_RESP.
void quor2_quor_controller::ReturnClosedLoop() {
  const sc_time now = SimNow();
  for (unsigned i = 0; i < pendingResponses.size(); ++i) {
    auto& queue = pendingResponses[i];
    if (!returningResponse[i] && now >= nextAvailableResponseTime[i] && !queue.empty()) {
      tlm::tlm_generic_payload* payload = queue.front();
      queue.pop_front();
      // Read before the call: the source owns the payload again once it has it.
      const tlm::tlm_command command = payload->get_command();
      const unsigned length = payload->get_data_length();
      const unsigned link = payload->get_streaming_width();
      CountDelivered(*payload);
      tlmPhase = tlm::BEGIN_RESP;
      NoteImmediateWork();
      returnValue = HandBack(i, *payload);
      if (returnValue == tlm::TLM_UPDATED || returnValue == tlm::TLM_COMPLETED) {
        nextAvailableResponseTime[i] = now + tlmDelay;
        responseEvent.notify(tlmDelay);
      } else if (returnValue == tlm::TLM_ACCEPTED) {
        returningResponse[i] = true;
      }
      EarnTokens(command, length, link);
    } else if (nextAvailableResponseTime[i] > now && !queue.empty()) {
      // Another notification may have replaced the one for this source's
      // pacing delay: come back when it has passed.
      responseEvent.notify(nextAvailableResponseTime[i] - now);
    }
  }
}

// Bytes of a response handed to its source now, on the link it came by (the
// tag's link, kept in the streaming width): the sources count the same bytes.
void quor2_quor_controller::CountDelivered(const tlm::tlm_generic_payload& payload) {
  const unsigned link = payload.get_streaming_width();
  if (link < stats.perLinkDeliveredBytes.size())
    stats.perLinkDeliveredBytes[link] += payload.get_data_length();
}

void quor2_quor_controller::EarnTokens(tlm::tlm_command command, unsigned length, unsigned link) {
  if (command != tlm::TLM_READ_COMMAND && command != tlm::TLM_WRITE_COMMAND) {
    TimedLine() << "ERROR - Unknown TLM command type in response queue" << std::endl;
    return;
  }
  if (link >= perLinkReturnTokens.size()) return;
  perLinkReturnTokens[link] += command == tlm::TLM_READ_COMMAND ? length / cfg.FLIT_SIZE + 1 : 1;
}

// ---------------------------------------------------------------------------

tlm::tlm_sync_enum quor2_quor_controller::nb_transport_fw(tlm::tlm_generic_payload&, tlm::tlm_phase&,
                                                          sc_time&) {
  ExitRun(1);
}


// A blocking caller's payload is answered by waking its caller, as if it had
// returned TLM_COMPLETED with no delay.
tlm::tlm_sync_enum quor2_quor_controller::HandBack(unsigned source,
                                                    tlm::tlm_generic_payload& payload) {
  if (WakeBlockingCall(payload)) {
    tlmDelay = sc_core::SC_ZERO_TIME;
    return tlm::TLM_COMPLETED;
  }
  return (*requestSockets[source])->nb_transport_bw(payload, tlmPhase, tlmDelay);
}

bool quor2_quor_controller::WakeBlockingCall(const tlm::tlm_generic_payload& payload) {
  if (blockingCalls.empty()) return false;
  const auto it = blockingCalls.find(&payload);
  if (it == blockingCalls.end()) return false;
  it->second->notify(sc_core::SC_ZERO_TIME);
  return true;
}

bool quor2_quor_controller::RefuseHostRequest(tlm::tlm_generic_payload& trans) const {
  if (trans.get_extension<quor2_link_extension>() != nullptr) return false;
  const unsigned length = HasAtomicsExtension(trans) ? kAtomicLength : trans.get_data_length();
  if (trans.get_command() != tlm::TLM_READ_COMMAND && trans.get_command() != tlm::TLM_WRITE_COMMAND) {
    trans.set_response_status(tlm::TLM_COMMAND_ERROR_RESPONSE);
    return true;
  }
  if (RequestSizeSlot(length) < 0 || length % 16 != 0) {
    trans.set_response_status(tlm::TLM_BURST_ERROR_RESPONSE);
    return true;
  }
  const uint64_t size = DeviceBytes(cfg);
  if (trans.get_address() >= size || size - trans.get_address() < length) {
    trans.set_response_status(tlm::TLM_ADDRESS_ERROR_RESPONSE);
    return true;
  }
  return false;
}

void quor2_quor_controller::BlockingTransport(unsigned source, tlm::tlm_generic_payload& trans) {
  const quor2_atomics_extension* atomic = trans.get_extension<quor2_atomics_extension>();
  const bool postedAtomic = atomic != nullptr && IsPostedAtomic(atomic->command);
  sc_core::sc_event done;
  blockingCalls[&trans] = &done;
  trans.set_response_status(tlm::TLM_INCOMPLETE_RESPONSE);
  // One parked request per source, as for a non-blocking source.
  while (transactionWaiting[source]) sc_core::wait(parkFreed);
  if (!ReceiveRequest(trans, static_cast<int>(source))) {
    transactionWaiting[source] = true;
    pendingTransactions[source] = &trans;
    sc_core::wait(done); // taken in
  }
  // A posted atomic is home once taken in; anything else wakes its caller once more.
  if (!postedAtomic) sc_core::wait(done);
  blockingCalls.erase(&trans);
}

unsigned quor2_quor_controller::DebugTransport(tlm::tlm_generic_payload& trans) {
  if (store == nullptr || trans.get_data_ptr() == nullptr) return 0;
  const uint64_t size = DeviceBytes(cfg);
  const uint64_t address = trans.get_address();
  if (address >= size) return 0;
  const auto length = static_cast<unsigned>(std::min<uint64_t>(trans.get_data_length(), size - address));
  if (trans.get_command() == tlm::TLM_READ_COMMAND)
    store->Read(address, trans.get_data_ptr(), length);
  else if (trans.get_command() == tlm::TLM_WRITE_COMMAND)
    store->Write(address, trans.get_data_ptr(), length, trans.get_byte_enable_ptr(),
                 trans.get_byte_enable_ptr() != nullptr ? trans.get_byte_enable_length() : 0);
  else
    return 0;
  trans.set_response_status(tlm::TLM_OK_RESPONSE);
  return length;
}

void quor2_quor_controller::DumpState() {
  const unsigned links = cfg.NUM_LINKS;
  std::cout << "== QUOR Controller" << std::endl;
  std::cout << "\t\tFree tags available : " << std::endl << "\t\t" << std::setfill(' ');
  for (unsigned l = 0; l < links; ++l)
    std::cout << l << "] " << std::setw(6) << perLinkFreeTags[l].size() << " ";
  std::cout << std::endl;

  for (unsigned l = 0; l < links; ++l) {
    const unsigned first = l * cfg.TAGS_PER_LINK;
    std::vector<bool> free(cfg.TAGS_PER_LINK, false);
    for (unsigned tag : perLinkFreeTags[l])
      if (tag >= first && tag - first < cfg.TAGS_PER_LINK) free[tag - first] = true;
    for (unsigned t = 0; t < cfg.TAGS_PER_LINK; ++t)
      if (!free[t])
        std::cout << "!!!!!!!!!!!!!!!!!!! Link" << l << " Tag " << first + t << " not found"
                  << std::endl;
  }

  std::cout << "\t\tTokens available : " << std::endl << "\t\t";
  for (unsigned l = 0; l < links; ++l)
    std::cout << l << "] " << std::setw(6) << perLinkTokens[l] << " ";
  std::cout << std::endl;
  std::cout << "\t\tReturn tokens : " << std::endl << "\t\t";
  for (unsigned l = 0; l < links; ++l)
    std::cout << l << "] " << std::setw(6) << perLinkReturnTokens[l] << " ";
  std::cout << std::endl;

  std::cout << "\t\tRequest Buffers : " << std::endl;
  for (unsigned l = 0; l < links; ++l)
    for (const auto& handle : requestBuffers[l]) std::cout << l << "] " << handle << std::endl;
  std::cout << std::endl;
}

// Every tag back in its pool, every host token home, no response token still
// owed to the cube, no request or response left in the host.
void quor2_quor_controller::CheckAtRest(RestCheck& check) const {
  const std::string me = name();
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
    const std::string link = "[" + std::to_string(l) + "]";
    check.Expect(me + ".perLinkFreeTags" + link, perLinkFreeTags[l].size(), cfg.TAGS_PER_LINK);
    check.Expect(me + ".perLinkTokens" + link, perLinkTokens[l], cfg.TOKENS_PER_LINK);
    check.Expect(me + ".perLinkReturnTokens" + link, perLinkReturnTokens[l], 0);
    check.ExpectEmpty(me + ".requestBuffers" + link, requestBuffers[l].size());
  }
  check.ExpectAllEmpty(me + ".pendingResponses", pendingResponses);
  check.Expect(me + ".outstandingRequests", static_cast<int64_t>(outstandingRequests.Level()), 0);
  check.Expect(me + ".bufferedRequestFlits", static_cast<int64_t>(bufferedRequestFlits.Level()),
               0);
  std::size_t parked = 0;
  for (const bool waiting : transactionWaiting) parked += waiting;
  check.ExpectEmpty(me + ".transactionWaiting", parked);
}

} // namespace Orvane::Internal::QUOR2
