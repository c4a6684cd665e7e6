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

void quor2_call_wrapper::b_transport(tlm::tlm_generic_payload&, sc_core::sc_time&) {
  PrintBlockingTransportRefusal();
  ExitRun(1);
}

void PrintBlockingTransportRefusal() {
  std::cout << "== ERROR - TLM2.0 Blocking Transport (b_transport) calls NOT supported in this model"
            << std::endl;
  std::cout << "\t\t\t\t\t\tPlease use the Non-Blocking Transport (nb_transport_fw) calls to issue "
               "requests"
            << std::endl;
}

} // namespace Orvane::Internal::QUOR2
