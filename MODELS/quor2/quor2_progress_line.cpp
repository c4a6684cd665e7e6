#include "quor2_progress_line.h"

#include <cstdio>

namespace Orvane::Internal::QUOR2 {

namespace {
// Quiet for short runs; then redrawn at most this often.
constexpr std::chrono::milliseconds kShowAfter(2000);
constexpr std::chrono::milliseconds kRedrawEvery(250);

double Us(const sc_core::sc_time& t) {
  return static_cast<double>(t.value()) /
         static_cast<double>(sc_core::sc_time(1, sc_core::SC_US).value());
}
} // namespace

ProgressLine::ProgressLine(std::ostream& out, const sc_core::sc_time& limit,
                           std::vector<const SourceStats*> sources, bool quietAtFirst)
    : out(out), limit(limit), sources(std::move(sources)), start(Clock::now()),
      quietAtFirst(quietAtFirst) {}

uint64_t ProgressLine::Answered() const {
  uint64_t answered = 0;
  for (const SourceStats* s : sources)
    answered += s->readLatencyPs.Count() + s->writeLatencyPs.Count();
  return answered;
}

std::string ProgressLine::Text(const sc_core::sc_time& now, const sc_core::sc_time& limit,
                               uint64_t answered, double wallSeconds) {
  const double share = limit.value() ? static_cast<double>(now.value()) /
                                           static_cast<double>(limit.value())
                                     : 1.0;
  const double rate = wallSeconds > 0 ? static_cast<double>(answered) / wallSeconds : 0.0;
  char text[160];
  if (share > 0 && share < 1) {
    const double left = wallSeconds * (1.0 - share) / share;
    std::snprintf(text, sizeof(text),
                  "simulated %.1f of %.1f us (%.0f %%), %.0f answered/s, about %.0f s left",
                  Us(now), Us(limit), share * 100.0, rate, left);
  } else {
    std::snprintf(text, sizeof(text), "simulated %.1f of %.1f us (%.0f %%), %.0f answered/s",
                  Us(now), Us(limit), share * 100.0, rate);
  }
  return text;
}

void ProgressLine::AfterSlice(const sc_core::sc_time& now) {
  const Clock::time_point wall = Clock::now();
  if ((quietAtFirst && wall - start < kShowAfter) || (shown && wall - lastDrawn < kRedrawEvery))
    return;
  lastDrawn = wall;
  shown = true;
  const double seconds = std::chrono::duration<double>(wall - start).count();
  // Padding clears what a longer previous line left behind.
  out << '\r' << Text(now, limit, Answered(), seconds) << "   " << std::flush;
}

void ProgressLine::RunEnded(const sc_core::sc_time& now) {
  if (!shown) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  out << '\r' << Text(now, limit, Answered(), seconds) << "   \n" << std::flush;
}

} // namespace Orvane::Internal::QUOR2
