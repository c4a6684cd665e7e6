#include "quor2_run_outputs.h"

#include "quor2_messages.h"
#include "quor2_quor_controller.h"

#include <fstream>
#include <iostream>

#include <unistd.h>

namespace Orvane::Internal::QUOR2 {

WarmUpEnd::WarmUpEnd(const StatsKeeper& stats, const quor2_quor_controller& controller,
                     const EpochLog::Sources& sources, const sc_core::sc_time& at)
    : stats(stats), controller(controller), sources(sources), at(at) {}

void WarmUpEnd::AfterSlice(const sc_core::sc_time& now) {
  if (!start && now >= at) Take(now);
}

void WarmUpEnd::RunEnded(const sc_core::sc_time& now) {
  if (start) return;
  std::cerr << "WARNING - the run ended at " << now << ", before the warm-up (WARMUP_NS = " << at
            << "): the statistics file and the time series cover no time" << std::endl;
  Take(now);
}

void WarmUpEnd::Take(const sc_core::sc_time& now) {
  std::vector<SourceStats> seen;
  for (const auto& source : sources) seen.push_back(*source.second);
  start.reset(new WindowStart{now, stats, std::move(seen),
                              controller.outstandingRequests.AreaAt(now),
                              controller.bufferedRequestFlits.AreaAt(now)});
}

RunOutputs::RunOutputs(const Config& cfg, const StatsKeeper& stats,
                       const quor2_quor_controller& controller, const EpochLog::Sources& sources,
                       const sc_core::sc_time& limit,
                       std::chrono::steady_clock::time_point wallStart)
    : cfg(cfg), stats(stats), wallStart(wallStart) {
  facts.sources = sources;
  facts.outstandingRequests = &controller.outstandingRequests;
  facts.bufferedRequestFlits = &controller.bufferedRequestFlits;
  if (!cfg.VCD_FILE.empty()) {
    // The kernel opens the file only when the run starts, and a failure there
    // ends it with an exception: find out now.
    if (!std::ofstream(Waveforms::PathFor(cfg.VCD_FILE))) {
      std::cerr << "ERROR - cannot write the waveform file '" << Waveforms::PathFor(cfg.VCD_FILE)
                << "' (VCD_FILE)" << std::endl;
      ExitRun(1);
    }
    waveforms = std::make_unique<Waveforms>(cfg.VCD_FILE);
    std::cerr << "Tracing " << waveforms->Count() << " signals to " << waveforms->Path()
              << std::endl;
  }
  if (cfg.WARMUP_NS > sc_core::SC_ZERO_TIME) {
    warmUp = std::make_unique<WarmUpEnd>(stats, controller, facts.sources, cfg.WARMUP_NS);
    observers.push_back(warmUp.get());
  }
  if (cfg.EPOCH_NS > 0) {
    epochs = std::make_unique<EpochLog>(
        cfg, stats, controller, sources, cfg.EPOCH_FILE,
        cfg.STATS_JSON.empty() ? std::string() : EpochLog::JsonLinesPathFor(cfg.EPOCH_FILE));
    if (!epochs->Open()) ExitRun(1);
    observers.push_back(epochs.get());
  }
  if (cfg.PROGRESS || isatty(STDERR_FILENO)) {
    std::vector<const SourceStats*> sourceStats;
    for (const auto& source : sources) sourceStats.push_back(source.second);
    progress = std::make_unique<ProgressLine>(std::cerr, limit, sourceStats, !cfg.PROGRESS);
    observers.push_back(progress.get());
  }
}

bool RunOutputs::Finish(bool sourcesDone, int interruptSignal) {
  bool written = true;
  if (epochs && !epochs->Good()) {
    std::cerr << "ERROR - writing the epoch file '" << cfg.EPOCH_FILE << "' failed" << std::endl;
    written = false;
  }
  if (!cfg.STATS_JSON.empty()) {
    facts.endTime = sc_core::sc_time_stamp();
    facts.sourcesDone = sourcesDone;
    facts.interruptSignal = interruptSignal;
    facts.windowStart = warmUp ? warmUp->Start() : nullptr;
    facts.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    written = WriteStatsJson(cfg.STATS_JSON, StatsJson(stats, facts)) && written;
  }
  return written;
}

} // namespace Orvane::Internal::QUOR2
