// What a traffic source sees of its own requests: the time each one left the
// source, carried on the payload, and at its response the end-to-end latency
// (host queueing included) and the bytes delivered, reads and writes apart.
#ifndef QUOR2_SOURCE_STATS_H
#define QUOR2_SOURCE_STATS_H

#include "quor2_latency_histogram.h"

#include <systemc>
#include <tlm>

#include <cstdint>

namespace Orvane::Internal::QUOR2 {

// Rides on a pooled payload for its whole life; each new request overwrites it.
class quor2_issue_time_extension : public tlm::tlm_extension<quor2_issue_time_extension> {
public:
  sc_core::sc_time issued;
  tlm::tlm_extension_base* clone() const override;
  void copy_from(const tlm::tlm_extension_base& other) override;
};

struct SourceStats {
  LatencyHistogram readLatencyPs;
  LatencyHistogram writeLatencyPs;
  uint64_t readBytes = 0;
  uint64_t writeBytes = 0;

  // Marks the payload as leaving the source now.
  static void StampIssue(tlm::tlm_generic_payload& trans, const sc_core::sc_time& now);
  // Counts an answered request whose response arrives now.
  void CountResponse(const tlm::tlm_generic_payload& trans, const sc_core::sc_time& now);
};

} // namespace Orvane::Internal::QUOR2

#endif
