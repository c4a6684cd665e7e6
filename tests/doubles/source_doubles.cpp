#include "doubles/source_doubles.h"

#include "quor2_atomics_extension.h"
#include "quor2_flit_p.h"

#include <iostream>

using namespace sc_core;
using Orvane::Internal::QUOR2::IsPostedAtomic;
using Orvane::Internal::QUOR2::quor2_atomics_extension;

namespace quortest {

SourceTargetDouble::SourceTargetDouble(sc_module_name name) : sc_module(name), socket("socket") {
  socket.register_nb_transport_fw(this, &SourceTargetDouble::nb_transport_fw);
  SC_THREAD(SendResponses);
  SC_METHOD(AcceptParked);
  sensitive << parkOver;
  dont_initialize();
}

tlm::tlm_sync_enum SourceTargetDouble::nb_transport_fw(tlm::tlm_generic_payload& trans,
                                                       tlm::tlm_phase& phase, sc_time& delay) {
  if (phase == tlm::END_RESP) return tlm::TLM_COMPLETED;
  if (phase != tlm::BEGIN_REQ) return tlm::TLM_ACCEPTED;

  SourceRequest r;
  r.time = sc_time_stamp();
  r.address = trans.get_address();
  r.command = trans.get_command();
  r.length = trans.get_data_length();
  r.streamingWidth = trans.get_streaming_width();
  r.byteEnableLength = trans.get_byte_enable_length();
  if (auto* ext = trans.get_extension<quor2_atomics_extension>()) r.atomic = ext->command;
  const unsigned n = static_cast<unsigned>(requests.size());
  r.parked = parkEvery != 0 && n % parkEvery == parkEvery - 1;
  requests.push_back(r);

  if (completeRequests) return tlm::TLM_COMPLETED;
  if (r.parked) {
    parked = &trans;
    parkOver.notify(parkTime);
    return tlm::TLM_ACCEPTED;
  }
  Accept(trans);
  phase = tlm::END_REQ;
  delay = sc_time(1600, SC_PS);
  return tlm::TLM_UPDATED;
}

void SourceTargetDouble::Accept(tlm::tlm_generic_payload& trans) {
  if (auto* ext = trans.get_extension<quor2_atomics_extension>()) {
    if (IsPostedAtomic(ext->command)) {
      trans.free_all_extensions();
      trans.release();
      return;
    }
    trans.set_command(tlm::TLM_WRITE_COMMAND);
    trans.set_data_length(16);
  } else if (postedWrites && trans.get_command() != tlm::TLM_READ_COMMAND) {
    trans.release();
    return;
  }
  responseQueue.emplace_back(sc_time_stamp() + responseDelay, &trans);
  responseQueued.notify(SC_ZERO_TIME);
}

void SourceTargetDouble::AcceptParked() {
  tlm::tlm_generic_payload* trans = parked;
  parked = nullptr;
  Accept(*trans);
  endReqTimes.push_back(sc_time_stamp());
  tlm::tlm_phase phase = tlm::END_REQ;
  sc_time delay = SC_ZERO_TIME;
  socket->nb_transport_bw(*trans, phase, delay);
}

void SourceTargetDouble::SendResponses() {
  while (true) {
    if (responseQueue.empty()) wait(responseQueued);
    if (responseQueue.empty()) continue;
    const sc_time due = responseQueue.front().first;
    if (due > sc_time_stamp()) {
      wait(due - sc_time_stamp());
      continue;
    }
    tlm::tlm_generic_payload* trans = responseQueue.front().second;
    responseQueue.pop_front();
    responseTimes.push_back(sc_time_stamp());
    tlm::tlm_phase phase = responsePhase;
    sc_time delay = SC_ZERO_TIME;
    socket->nb_transport_bw(*trans, phase, delay);
  }
}

DoneProbe::DoneProbe(sc_module_name name) : sc_module(name), in("in") {
  SC_METHOD(Watch);
  sensitive << in.pos();
  dont_initialize();
}

void DoneProbe::Watch() { rises.push_back(sc_time_stamp()); }

DoneDriver::DoneDriver(sc_module_name name, unsigned count)
    : sc_module(name), signals("signals", count) {
  SC_THREAD(Run);
}

void DoneDriver::Run() {
  for (const Step& step : script) {
    if (step.time > sc_time_stamp()) wait(step.time - sc_time_stamp());
    signals[step.index].write(step.value);
  }
}

} // namespace quortest
