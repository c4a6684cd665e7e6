#include "quor2_source_stats.h"

namespace Orvane::Internal::QUOR2 {

tlm::tlm_extension_base* quor2_issue_time_extension::clone() const {
  auto* copy = new quor2_issue_time_extension;
  copy->issued = issued;
  return copy;
}

void quor2_issue_time_extension::copy_from(const tlm::tlm_extension_base& other) {
  issued = static_cast<const quor2_issue_time_extension&>(other).issued;
}

void SourceStats::StampIssue(tlm::tlm_generic_payload& trans, const sc_core::sc_time& now) {
  auto* stamp = trans.get_extension<quor2_issue_time_extension>();
  if (!stamp) {
    stamp = new quor2_issue_time_extension;
    trans.set_extension(stamp);
  }
  stamp->issued = now;
}

void SourceStats::CountResponse(const tlm::tlm_generic_payload& trans,
                                const sc_core::sc_time& now) {
  const bool read = trans.get_command() == tlm::TLM_READ_COMMAND;
  (read ? readBytes : writeBytes) += trans.get_data_length();
  const auto* stamp = trans.get_extension<quor2_issue_time_extension>();
  if (!stamp) return;
  const uint64_t ticks = (now - stamp->issued).value();
  // In ps whatever the kernel's resolution (never coarser than 1 ps).
  const uint64_t perPs = sc_core::sc_time(1, sc_core::SC_PS).value();
  (read ? readLatencyPs : writeLatencyPs).Add(ticks / (perPs ? perPs : 1));
}

} // namespace Orvane::Internal::QUOR2
