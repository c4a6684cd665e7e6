// The statistics of a run as one JSON document (STATS_JSON): the version, the
// configuration in force, how the run ended, every figure of the text report
// and the figures only the sources see (delivered bytes, end-to-end latency).
// Each figure names its unit. docs/statistics.md describes every field.
#ifndef QUOR2_STATS_JSON_H
#define QUOR2_STATS_JSON_H

#include "quor2_occupancy.h"
#include "quor2_source_stats.h"
#include "quor2_utils.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace Orvane::Internal::QUOR2 {

// What the statistics file subtracts when it covers the run from a warm-up's
// end on: the counters, the sources and the host's queue areas then.
struct WindowStart {
  sc_time at;
  StatsKeeper stats;
  std::vector<SourceStats> sources;  // in RunFacts::sources' order
  uint64_t outstandingArea = 0;
  uint64_t bufferArea = 0;
};

struct RunFacts {
  sc_time endTime;
  double wallSeconds = 0;
  bool sourcesDone = false;  // ended because every source was done
  int interruptSignal = 0;   // 0: not interrupted
  // The sources in index order, with their names.
  std::vector<std::pair<std::string, const SourceStats*>> sources;
  // The host controller's queues over all links; null: not reported.
  const Occupancy* outstandingRequests = nullptr;
  const Occupancy* bufferedRequestFlits = nullptr;
  // The figures cover the run from this on; null: from time 0.
  const WindowStart* windowStart = nullptr;
};

nlohmann::ordered_json StatsJson(const StatsKeeper& stats, const RunFacts& run);

// Writes the document, indented, replacing the file. False (and an ERROR line
// on standard error) when the file cannot be written.
bool WriteStatsJson(const std::string& path, const nlohmann::ordered_json& doc);

} // namespace Orvane::Internal::QUOR2

#endif
