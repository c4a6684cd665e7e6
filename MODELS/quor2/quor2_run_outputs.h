// What a run writes besides its text report, set up and finished in one place
// for every program that runs the model: waveforms (VCD_FILE), the time series
// (EPOCH_NS), the progress line (PROGRESS or a terminal) and the statistics file
// (STATS_JSON), with its warm-up (WARMUP_NS).
#ifndef QUOR2_RUN_OUTPUTS_H
#define QUOR2_RUN_OUTPUTS_H

#include "quor2_epoch_log.h"
#include "quor2_progress_line.h"
#include "quor2_run_end.h"
#include "quor2_stats_json.h"
#include "quor2_waveforms.h"

#include <chrono>
#include <memory>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_quor_controller;

// Takes the counters when the warm-up (WARMUP_NS) ends, at a slice's end as
// the epochs do, so the statistics file's window starts where the time series
// does and the model runs as it would without it.
class WarmUpEnd : public RunObserver {
public:
  WarmUpEnd(const StatsKeeper& stats, const quor2_quor_controller& controller,
            const EpochLog::Sources& sources, const sc_core::sc_time& at);

  sc_core::sc_time NextStop() const override {
    return start ? sc_core::sc_max_time() : at;
  }
  void AfterSlice(const sc_core::sc_time& now) override;
  // A run that ends before the warm-up does covers no time.
  void RunEnded(const sc_core::sc_time& now) override;
  // Null until taken.
  const WindowStart* Start() const { return start.get(); }

private:
  void Take(const sc_core::sc_time& now);

  const StatsKeeper& stats;
  const quor2_quor_controller& controller;
  const EpochLog::Sources& sources;
  sc_core::sc_time at;
  std::unique_ptr<WindowStart> start;
};

class RunOutputs {
public:
  // Opens what the configuration asks for; an output that cannot be opened
  // ends the program with an ERROR line and exit status 1. Call after the
  // model is built and before it runs. `limit`: how long the run may last;
  // `wallStart`: when the program started.
  RunOutputs(const Config& cfg, const StatsKeeper& stats, const quor2_quor_controller& controller,
             const EpochLog::Sources& sources, const sc_core::sc_time& limit,
             std::chrono::steady_clock::time_point wallStart);

  // To be handed to RunUntilSourcesDone.
  const std::vector<RunObserver*>& Observers() const { return observers; }

  // Writes the statistics file for a run that ended now. False (with an ERROR
  // line) when an output could not be written.
  bool Finish(bool sourcesDone, int interruptSignal);

private:
  const Config& cfg;
  const StatsKeeper& stats;
  RunFacts facts;
  std::chrono::steady_clock::time_point wallStart;
  std::unique_ptr<Waveforms> waveforms;
  std::unique_ptr<EpochLog> epochs;
  std::unique_ptr<ProgressLine> progress;
  std::unique_ptr<WarmUpEnd> warmUp;
  std::vector<RunObserver*> observers;
};

} // namespace Orvane::Internal::QUOR2

#endif
