// Forwards the TLM calls of one traffic source's socket into the host
// controller, together with the index of that source.
#ifndef QUOR2_CALL_WRAPPER_H
#define QUOR2_CALL_WRAPPER_H

#include <systemc>
#include <tlm>

namespace Orvane::Internal::QUOR2 {

class quor2_quor_controller;

class quor2_call_wrapper {
public:
  unsigned int id;
  quor2_quor_controller* cont;

  quor2_call_wrapper(unsigned int id, quor2_quor_controller* cont);

  // BEGIN_REQ: accepted (END_REQ, 1600 ps, TLM_UPDATED) or parked for retry
  // (TLM_ACCEPTED). END_RESP: lets the next response to this source go.
  tlm::tlm_sync_enum nb_transport_fw(tlm::tlm_generic_payload& trans, tlm::tlm_phase& phase,
                                     sc_core::sc_time& delay);
  // A host's request the model cannot serve comes back at once with an error
  // status (TLM_COMPLETED).
  // Blocking transport: from a thread only (else TLM_GENERIC_ERROR_RESPONSE);
  // waits out delay, then for the answer, and returns with delay zero.
  void b_transport(tlm::tlm_generic_payload& trans, sc_core::sc_time& delay);
  // Reads or writes the stored bytes without timing; 0 without STORE_DATA.
  unsigned int transport_dbg(tlm::tlm_generic_payload& trans);
};

} // namespace Orvane::Internal::QUOR2

#endif
