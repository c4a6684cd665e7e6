// The run as a time series (EPOCH_NS): at the end of every epoch one CSV row
// with what the sources got back in that epoch (bytes per source, per link and
// in all, reads and writes answered, end-to-end latency mean and p99) and the
// host's queues (mean over the epoch and level at its end); with JSON
// statistics on, the same as one JSON Lines record per epoch. The rows of a run
// add up to its totals; with a warm-up the rows start at its end. docs/statistics.md describes every column.
#ifndef QUOR2_EPOCH_LOG_H
#define QUOR2_EPOCH_LOG_H

#include "quor2_run_end.h"
#include "quor2_source_stats.h"
#include "quor2_utils.h"

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace Orvane::Internal::QUOR2 {

class quor2_quor_controller;

class EpochLog : public RunObserver {
public:
  using Sources = std::vector<std::pair<std::string, const SourceStats*>>;

  // `jsonLinesPath` empty: CSV only.
  EpochLog(const Config& cfg, const StatsKeeper& stats, const quor2_quor_controller& controller,
           Sources sources, const std::string& csvPath, const std::string& jsonLinesPath);

  // False (with an ERROR line on standard output) when a file could not be opened.
  bool Open();
  // False when a write failed.
  bool Good() const;

  sc_core::sc_time NextStop() const override {
    return started ? epochStart + epochLength : epochStart;
  }
  void AfterSlice(const sc_core::sc_time& now) override;
  void RunEnded(const sc_core::sc_time& now) override;

  // Where the JSON Lines records go beside a CSV file: its name with .jsonl
  // for .csv (or .jsonl added).
  static std::string JsonLinesPathFor(const std::string& csvPath);

private:
  struct Snapshot {
    std::vector<SourceStats> sources;
    uint64_t postedWriteBytes = 0;
    std::vector<uint64_t> linkBytes;  // delivered, posted writes included
    uint64_t outstandingArea = 0;
    uint64_t bufferArea = 0;
  };
  Snapshot Take(const sc_core::sc_time& now) const;
  void WriteHeader();
  void CloseEpoch(const sc_core::sc_time& end);

  const Config& cfg;
  const StatsKeeper& stats;
  const quor2_quor_controller& controller;
  Sources sources;
  std::string csvPath, jsonLinesPath;
  std::ofstream csv, jsonLines;
  sc_core::sc_time epochLength, epochStart;
  unsigned epochIndex = 0;
  // The first epoch starts when the warm-up (WARMUP_NS) ends.
  bool started = false;
  Snapshot atStart;
};

} // namespace Orvane::Internal::QUOR2

#endif
