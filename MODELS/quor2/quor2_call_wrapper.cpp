#include "quor2_call_wrapper.h"

#include "quor2_messages.h"
#include "quor2_quor_controller.h"

#include <iostream>

namespace Orvane::Internal::QUOR2 {

namespace {
// Fixed time by which the controller takes a request in or ends a response.
const sc_core::sc_time kHandshakeDelay(1600, sc_core::SC_PS);
} // namespace

quor2_call_wrapper::quor2_call_wrapper(unsigned int id, quor2_quor_controller* cont)
    : id(id), cont(cont) {}

tlm::tlm_sync_enum quor2_call_wrapper::nb_transport_fw(tlm::tlm_generic_payload& trans,
                                                       tlm::tlm_phase& phase,
                                                       sc_core::sc_time& delay) {
  if (phase == tlm::BEGIN_REQ) {
    if (cont->RefuseHostRequest(trans)) {
      phase = tlm::BEGIN_RESP;
      return tlm::TLM_COMPLETED;
    }
    if (cont->ReceiveRequest(trans, static_cast<int>(id))) {
      phase = tlm::END_REQ;
      delay = kHandshakeDelay;
      return tlm::TLM_UPDATED;
    }
    cont->transactionWaiting[id] = true;
    cont->pendingTransactions[id] = &trans;
    return tlm::TLM_ACCEPTED;
  }
  if (phase == tlm::END_RESP) {
    cont->returningResponse[id] = false;
    cont->responseEvent.notify(kHandshakeDelay);
    return tlm::TLM_COMPLETED;
  }
  return tlm::TLM_ACCEPTED;
}

// Loosely timed: the caller's delay is waited out first, then the request
// takes the non-blocking path; the call returns with delay zero once answered.
void quor2_call_wrapper::b_transport(tlm::tlm_generic_payload& trans, sc_core::sc_time& delay) {
  const auto kind = sc_core::sc_get_current_process_handle().proc_kind();
  if (kind != sc_core::SC_THREAD_PROC_ && kind != sc_core::SC_CTHREAD_PROC_) {
    std::cerr << "quorsim: b_transport needs a thread (it waits for the answer); refused from "
                 "outside one"
              << std::endl;
    trans.set_response_status(tlm::TLM_GENERIC_ERROR_RESPONSE);
    return;
  }
  if (delay > sc_core::SC_ZERO_TIME) sc_core::wait(delay);
  delay = sc_core::SC_ZERO_TIME;
  if (cont->RefuseHostRequest(trans)) return;
  cont->BlockingTransport(id, trans);
}

unsigned int quor2_call_wrapper::transport_dbg(tlm::tlm_generic_payload& trans) {
  return cont->DebugTransport(trans);
}

} // namespace Orvane::Internal::QUOR2
