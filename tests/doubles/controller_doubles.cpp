#include "doubles/controller_doubles.h"

#include "quor2_atomics_extension.h"
#include "quor2_flit.h"
#include "quor2_link_extension.h"
#include "quor2_quor_controller.h"

#include <sstream>

namespace quortest {

using sc_core::sc_time;
using sc_core::sc_time_stamp;

// ---------------------------------------------------------------------------
// Scripted source

ControllerTestSource::ControllerTestSource(sc_core::sc_module_name name,
                                           std::vector<SourceRequest> script)
    : sc_module(name), socket("socket"), script(std::move(script)) {
  records.resize(this->script.size());
  for (std::size_t i = 0; i < this->script.size(); ++i)
    payloads.emplace_back(new Payload(this, i));
  socket.register_nb_transport_bw(this, &ControllerTestSource::nb_transport_bw);
  SC_THREAD(Send);
  SC_METHOD(SendEndResp);
  sensitive << endRespEvent;
  dont_initialize();
}

void ControllerTestSource::free(tlm::tlm_generic_payload*) { ++released; }

void ControllerTestSource::Send() {
  for (std::size_t i = 0; i < script.size(); ++i) {
    const SourceRequest& r = script[i];
    if (sc_time_stamp() < r.at) wait(r.at - sc_time_stamp());
    Payload& p = *payloads[i];
    p.set_command(r.command);
    p.set_address(r.address);
    p.set_data_length(r.length);
    p.set_byte_enable_length(r.leadingNulls);
    p.set_streaming_width(r.link);
    Orvane::Internal::QUOR2::SetLinkExtension(p, r.link);
    if (r.atomic >= 0) p.set_extension(new q2::quor2_atomics_extension(static_cast<q2::QUORCommand>(r.atomic)));
    p.acquire();
    SourceRecord& rec = records[i];
    rec.sentAt = sc_time_stamp();
    if (r.blocking) {
      sc_time delay = sc_core::SC_ZERO_TIME;
      socket->b_transport(p, delay);
      continue;
    }
    tlm::tlm_phase phase = tlm::BEGIN_REQ;
    sc_time delay = sc_core::SC_ZERO_TIME;
    rec.result = socket->nb_transport_fw(p, phase, delay);
    rec.phase = phase;
    rec.delay = delay;
    if (rec.result == tlm::TLM_ACCEPTED) {
      wait(endReqEvent);
    } else {
      rec.commandAfterAccept = p.get_command();
      rec.lengthAfterAccept = p.get_data_length();
      rec.linkAfterAccept = p.get_streaming_width();
    }
  }
}

void ControllerTestSource::SendEndResp() {
  tlm::tlm_phase phase = tlm::END_RESP;
  sc_time delay = sc_core::SC_ZERO_TIME;
  endRespSentAt.push_back(sc_time_stamp());
  socket->nb_transport_fw(*lastResponse, phase, delay);
}

tlm::tlm_sync_enum ControllerTestSource::nb_transport_bw(tlm::tlm_generic_payload& trans,
                                                         tlm::tlm_phase& phase, sc_time& delay) {
  Payload& p = static_cast<Payload&>(trans);
  SourceRecord& rec = records[p.index];
  if (phase == tlm::END_REQ) {
    rec.endReqOnBackward = true;
    rec.endReqAt = sc_time_stamp();
    rec.commandAfterAccept = p.get_command();
    rec.lengthAfterAccept = p.get_data_length();
    rec.linkAfterAccept = p.get_streaming_width();
    endReqEvent.notify();
    return tlm::TLM_ACCEPTED;
  }
  if (phase == tlm::BEGIN_RESP) {
    rec.responded = true;
    rec.responseAt = sc_time_stamp();
    rec.responseCommand = p.get_command();
    rec.responseLength = p.get_data_length();
    rec.responseLink = p.get_streaming_width();
    responseOrder.push_back(p.index);
    p.release();
    delay = answerDelay;
    if (answer == tlm::TLM_ACCEPTED) {
      lastResponse = &p;
      endRespEvent.notify(endRespAfter);
    }
    return answer;
  }
  return tlm::TLM_ACCEPTED;
}

// ---------------------------------------------------------------------------
// Loopback cube

ControllerTestCube::ControllerTestCube(sc_core::sc_module_name name, const q2::Config& cfg)
    : sc_module(name), requestLinks("requestLinks", cfg.NUM_LINKS),
      responseLinks("responseLinks", cfg.NUM_LINKS), cfg(cfg) {
  const unsigned links = cfg.NUM_LINKS;
  flitRate = q2::LinkFlitRate(cfg, cfg.LINK_0_WIDTH);
  adjustedFlitRate = cfg.LINK_SPEED == 15.0f ? flitRate + sc_time(1, sc_core::SC_PS) : flitRate;
  for (unsigned l = 0; l < links; ++l) {
    sourceLinkOf.push_back(l);
    destinationOf.push_back(l * cfg.VAULTS_PER_QUAD);
  }
  extraLatency.assign(links, sc_core::SC_ZERO_TIME);
  times.resize(links);
  hostReturnedTokens.assign(links, 0);
  responseFlitsSent.assign(links, 0);
  tokenFlitsSent.assign(links, 0);
  requestFlits.assign(links, 0);
  outgoing.resize(links);
  nextFreeSlot.assign(links, sc_core::SC_ZERO_TIME);
  expectedNumber.assign(links, 0);
  packetFlits.assign(links, 0);

  SC_METHOD(ReceiveRequests);
  for (auto& port : requestLinks) sensitive << port;
  dont_initialize();
  SC_THREAD(SendResponses);
}

ControllerTestCube::~ControllerTestCube() {
  for (auto& queue : outgoing)
    for (auto& o : queue) delete o.flit;
}

void ControllerTestCube::Problem(const std::string& what) {
  std::ostringstream os;
  os << "cube double at " << sc_time_stamp() << ": " << what;
  problems.push_back(os.str());
}

void ControllerTestCube::CheckTiming(unsigned link, const sc_time& now) {
  const std::size_t k = times[link].size() + 1;  // this flit's period, from 1
  const sc_time last = times[link].empty() ? sc_core::SC_ZERO_TIME : times[link].back();
  const sc_time expected = last + (k % 3 == 0 ? adjustedFlitRate : flitRate);
  if (now != expected) {
    std::ostringstream os;
    os << "link " << link << " flit " << k << " at " << now << ", expected " << expected;
    Problem(os.str());
  }
}

void ControllerTestCube::ReceiveRequests() {
  const sc_time now = sc_time_stamp();
  for (unsigned l = 0; l < requestLinks.size(); ++l) {
    if (!requestLinks[l].event()) continue;
    const q2::Flit_P handle = requestLinks[l].read();
    CheckTiming(l, now);
    times[l].push_back(now);
    if (!seenIDs.insert(handle.uniqueID).second) Problem("request link handle seen before");

    const q2::Flit& f = *handle;
    if (f.command != q2::NULL_COMMAND || recordNulls)
      seen.push_back(SeenFlit{now, l, handle.uniqueID, f.command, f.tag, f.address, f.requestLength,
                              f.header, f.tail, f.flitNumber, f.returnTokens, f.leadingNullFlits});
    const bool idleShape = f.address == ~0ull && f.requestLength == 0 && f.header && f.tail &&
                           f.flitNumber == 1;
    if (f.command == q2::NULL_COMMAND) {
      if (!idleShape || f.tag != 0xFFFFFFFF || f.returnTokens != 0) Problem("malformed null flit");
    } else if (f.command == q2::TOKEN_RETURN) {
      if (!idleShape || f.returnTokens == 0) Problem("malformed token-return flit");
      hostReturnedTokens[l] += f.returnTokens;
    } else {
      ++requestFlits[l];
      if (f.header) {
        if (expectedNumber[l] != 0) Problem("header inside an open packet");
        expectedNumber[l] = 1;
        packetFlits[l] = 0;
      }
      if (f.flitNumber != expectedNumber[l]) Problem("request flit out of order");
      ++expectedNumber[l];
      ++packetFlits[l];
      if (f.tail) {
        hostReturnedTokens[l] += f.returnTokens;
        expectedNumber[l] = 0;
        if (packetFlits[l] != q2::PacketFlitCount(f.command, f.requestLength, cfg.FLIT_SIZE))
          Problem("request packet of the wrong length");
        AnswerPacket(l, f, packetFlits[l]);
      } else if (f.returnTokens != 0) {
        Problem("tokens on a flit that is not a tail");
      }
    }
    delete handle.flit;
  }
}

void ControllerTestCube::AnswerPacket(unsigned link, const q2::Flit& tail, unsigned flits) {
  const sc_time now = sc_time_stamp();
  const q2::QUORCommand c = tail.command;
  const bool posted = c == q2::P_WRITE_REQUEST || q2::IsPostedAtomic(c);
  if (!posted) {
    const bool read = c == q2::READ_REQUEST;
    const unsigned n = read ? tail.requestLength / cfg.FLIT_SIZE + 1 : 1;
    const sc_time ready = now + responseLatency + extraLatency[link];
    for (unsigned i = 1; i <= n; ++i) {
      auto* r = new q2::Flit(tail);
      r->command = read ? q2::READ_RESPONSE : q2::WRITE_RESPONSE;
      r->header = i == 1;
      r->tail = i == n;
      r->flitNumber = i;
      r->returnTokens = (i == n && tokenMode == kOnResponseTails) ? flits : 0;
      r->leadingNullFlits = 0;
      r->sourceLink = sourceLinkOf[link];
      r->destinationField = destinationOf[link];
      Enqueue(link, ready, r);
    }
  }
  if (tokenMode == kTokenFlits || (tokenMode == kOnResponseTails && posted)) {
    auto* t = new q2::Flit(0, ~0ull, q2::TOKEN_RETURN, 0, true, true, 1);
    t->returnTokens = flits;
    Enqueue(link, now + tokenDelay, t);
  }
}

void ControllerTestCube::Inject(unsigned link, const sc_time& at, q2::Flit* flit) {
  Enqueue(link, at, flit);
}

void ControllerTestCube::Enqueue(unsigned link, const sc_time& at, q2::Flit* flit) {
  const sc_time when = at > nextFreeSlot[link] ? at : nextFreeSlot[link];
  nextFreeSlot[link] = when + responsePeriod;
  outgoing[link].push_back(Outgoing{when, flit});
  workEvent.notify(sc_core::SC_ZERO_TIME);
}

void ControllerTestCube::SendResponses() {
  while (true) {
    const sc_time now = sc_time_stamp();
    bool pending = false;
    sc_time next;
    for (unsigned l = 0; l < outgoing.size(); ++l) {
      auto& queue = outgoing[l];
      if (!queue.empty() && queue.front().at <= now) {
        q2::Flit* flit = queue.front().flit;
        ++(flit->command == q2::TOKEN_RETURN ? tokenFlitsSent[l] : responseFlitsSent[l]);
        responseLinks[l].write(q2::Flit_P(flit));
        queue.pop_front();
      }
      if (!queue.empty()) {
        if (!pending || queue.front().at < next) next = queue.front().at;
        pending = true;
      }
    }
    if (!pending)
      wait(workEvent);
    else
      wait(next - now, workEvent);
  }
}

std::vector<SeenFlit> ControllerTestCube::Seen(unsigned link, q2::QUORCommand command) const {
  std::vector<SeenFlit> out;
  for (const auto& s : seen)
    if (s.link == link && s.command == command) out.push_back(s);
  return out;
}

std::vector<SeenFlit> ControllerTestCube::Headers(unsigned link) const {
  std::vector<SeenFlit> out;
  for (const auto& s : seen)
    if (s.link == link && s.header && s.command != q2::NULL_COMMAND &&
        s.command != q2::TOKEN_RETURN)
      out.push_back(s);
  return out;
}

} // namespace quortest
