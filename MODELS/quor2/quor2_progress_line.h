// A one-line progress display on standard error: simulated time and its share
// of SIM_TIME, answered requests per wall second and the time left. It shows
// only once a run has taken about two seconds, is redrawn a few times a second,
// and never touches standard output.
#ifndef QUOR2_PROGRESS_LINE_H
#define QUOR2_PROGRESS_LINE_H

#include "quor2_run_end.h"
#include "quor2_source_stats.h"

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class ProgressLine : public RunObserver {
public:
  using Clock = std::chrono::steady_clock;

  // Asked for (quiet = false), the line shows from the start; on a terminal
  // alone only once a run has taken two seconds.
  ProgressLine(std::ostream& out, const sc_core::sc_time& limit,
               std::vector<const SourceStats*> sources, bool quietAtFirst);

  sc_core::sc_time NextStop() const override { return limit; }
  void AfterSlice(const sc_core::sc_time& now) override;
  void RunEnded(const sc_core::sc_time& now) override;

  // The text of the line (without the carriage return) for a run that has
  // simulated `now` of `limit` and answered `answered` requests in `wallSeconds`.
  static std::string Text(const sc_core::sc_time& now, const sc_core::sc_time& limit,
                          uint64_t answered, double wallSeconds);

private:
  uint64_t Answered() const;

  std::ostream& out;
  sc_core::sc_time limit;
  std::vector<const SourceStats*> sources;
  Clock::time_point start;
  Clock::time_point lastDrawn;
  bool quietAtFirst;
  bool shown = false;
};

} // namespace Orvane::Internal::QUOR2

#endif
