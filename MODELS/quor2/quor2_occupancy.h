// How full a queue is over simulated time: its level and the integral of the
// level over time, kept as it changes, so the mean level over any span is the
// difference of two readings of the integral over the span's length. Reading
// takes no kernel work and changes nothing.
#ifndef QUOR2_OCCUPANCY_H
#define QUOR2_OCCUPANCY_H

#include <systemc>

#include <cstdint>

namespace Orvane::Internal::QUOR2 {

class Occupancy {
public:
  // The level changes by `delta` at `now` (never before the last change).
  void Change(int64_t delta, const sc_core::sc_time& now) {
    area += level * (now.value() - since);
    since = now.value();
    level = static_cast<uint64_t>(static_cast<int64_t>(level) + delta);
  }
  uint64_t Level() const { return level; }
  // The level integrated from time 0 to `now`, in level x kernel ticks (a level
  // of 2048 overflows it only after about 4500 s at 1 ps ticks).
  uint64_t AreaAt(const sc_core::sc_time& now) const {
    return now.value() > since ? area + level * (now.value() - since) : area;
  }

private:
  uint64_t level = 0;
  uint64_t area = 0;
  uint64_t since = 0;
};

// Mean level between two readings of AreaAt taken `span` apart; 0 for no span.
inline double MeanLevel(uint64_t areaBefore, uint64_t areaAfter, const sc_core::sc_time& span) {
  return span.value() == 0 ? 0.0
                           : static_cast<double>(areaAfter - areaBefore) /
                                 static_cast<double>(span.value());
}

} // namespace Orvane::Internal::QUOR2

#endif
