#include "quor2_epoch_log.h"

#include "quor2_quor_controller.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <iostream>

namespace Orvane::Internal::QUOR2 {

namespace {
double Ns(const sc_core::sc_time& t) {
  return static_cast<double>(t.value()) /
         static_cast<double>(sc_core::sc_time(1, sc_core::SC_NS).value());
}

// Bytes over a span of simulated time, in GB/s (10^9 bytes per second).
double Gbps(uint64_t bytes, const sc_core::sc_time& span) {
  return span.value() == 0 ? 0.0 : static_cast<double>(bytes) / Ns(span);
}

// Mean or p99 of a latency distribution in ps, as ns; empty: null.
nlohmann::ordered_json LatencyNs(const LatencyHistogram& h, bool mean) {
  if (h.Count() == 0) return nullptr;
  return (mean ? h.Mean() : static_cast<double>(h.Percentile(99))) / 1000.0;
}
} // namespace

EpochLog::EpochLog(const Config& cfg, const StatsKeeper& stats,
                   const quor2_quor_controller& controller, Sources sources,
                   const std::string& csvPath, const std::string& jsonLinesPath)
    : cfg(cfg), stats(stats), controller(controller), sources(std::move(sources)),
      csvPath(csvPath), jsonLinesPath(jsonLinesPath),
      epochLength(static_cast<double>(cfg.EPOCH_NS), sc_core::SC_NS),
      epochStart(std::max(sc_core::sc_time_stamp(), cfg.WARMUP_NS)) {}

std::string EpochLog::JsonLinesPathFor(const std::string& csvPath) {
  const std::string suffix = ".csv";
  std::string base = csvPath;
  if (base.size() > suffix.size() && base.compare(base.size() - suffix.size(), suffix.size(),
                                                  suffix) == 0)
    base.resize(base.size() - suffix.size());
  return base + ".jsonl";
}

bool EpochLog::Open() {
  csv.open(csvPath, std::ios::trunc);
  if (!csv) {
    std::cerr << "ERROR - cannot write the epoch file '" << csvPath << "' (EPOCH_FILE)"
              << std::endl;
    return false;
  }
  if (!jsonLinesPath.empty()) {
    jsonLines.open(jsonLinesPath, std::ios::trunc);
    if (!jsonLines) {
      std::cerr << "ERROR - cannot write the epoch records '" << jsonLinesPath << "'"
                << std::endl;
      return false;
    }
  }
  AfterSlice(sc_core::sc_time_stamp());
  WriteHeader();
  return true;
}

bool EpochLog::Good() const {
  return csv.good() && (jsonLinesPath.empty() || jsonLines.good());
}

EpochLog::Snapshot EpochLog::Take(const sc_core::sc_time& now) const {
  Snapshot snap;
  for (const auto& source : sources) snap.sources.push_back(*source.second);
  for (uint64_t bytes : stats.perVaultPostedWriteBytes) snap.postedWriteBytes += bytes;
  for (size_t l = 0; l < stats.perLinkDeliveredBytes.size(); ++l)
    snap.linkBytes.push_back(stats.perLinkDeliveredBytes[l] + stats.perLinkPostedWriteBytes[l]);
  snap.outstandingArea = controller.outstandingRequests.AreaAt(now);
  snap.bufferArea = controller.bufferedRequestFlits.AreaAt(now);
  return snap;
}

void EpochLog::WriteHeader() {
  csv << "epoch,start_ns,end_ns";
  for (const auto& source : sources) csv << ',' << source.first << "_bandwidth_gbps";
  for (size_t l = 0; l < stats.perLinkDeliveredBytes.size(); ++l)
    csv << ",link" << l << "_bandwidth_gbps";
  csv << ",reads_answered,writes_answered,read_share,read_bytes,write_bytes,"
         "posted_write_bytes,total_bandwidth_gbps,read_latency_mean_ns,read_latency_p99_ns,"
         "write_latency_mean_ns,write_latency_p99_ns,outstanding_requests_mean,"
         "outstanding_requests_at_end,host_buffer_flits_mean,host_buffer_flits_at_end\n";
}

void EpochLog::AfterSlice(const sc_core::sc_time& now) {
  if (!started) {
    if (now < epochStart) return;
    epochStart = now;
    atStart = Take(now);
    started = true;
  }
  while (now >= epochStart + epochLength) CloseEpoch(epochStart + epochLength);
}

void EpochLog::RunEnded(const sc_core::sc_time& now) {
  AfterSlice(now);
  if (started && now > epochStart) CloseEpoch(now);
  csv.flush();
  if (jsonLines.is_open()) jsonLines.flush();
}

void EpochLog::CloseEpoch(const sc_core::sc_time& end) {
  const Snapshot atEnd = Take(end);
  const sc_core::sc_time span = end - epochStart;
  LatencyHistogram reads, writes;
  uint64_t readBytes = 0, writeBytes = 0;
  nlohmann::ordered_json perSource = nlohmann::ordered_json::object();
  std::vector<double> sourceGbps;
  for (size_t i = 0; i < sources.size(); ++i) {
    const SourceStats& now = atEnd.sources[i];
    const SourceStats& before = atStart.sources[i];
    reads.Merge(now.readLatencyPs.Since(before.readLatencyPs));
    writes.Merge(now.writeLatencyPs.Since(before.writeLatencyPs));
    const uint64_t r = now.readBytes - before.readBytes;
    const uint64_t w = now.writeBytes - before.writeBytes;
    readBytes += r;
    writeBytes += w;
    sourceGbps.push_back(Gbps(r + w, span));
    perSource[sources[i].first] = sourceGbps.back();
  }
  nlohmann::ordered_json perLink = nlohmann::ordered_json::array();
  for (size_t l = 0; l < atEnd.linkBytes.size(); ++l)
    perLink.push_back(Gbps(atEnd.linkBytes[l] - atStart.linkBytes[l], span));
  const uint64_t posted = atEnd.postedWriteBytes - atStart.postedWriteBytes;
  const uint64_t answered = reads.Count() + writes.Count();
  uint64_t outstanding = 0;
  for (const auto& freeTags : controller.perLinkFreeTags)
    outstanding += cfg.TAGS_PER_LINK - freeTags.size();
  uint64_t bufferFlits = 0;
  for (const auto& buffer : controller.requestBuffers) bufferFlits += buffer.size();

  nlohmann::ordered_json row;
  row["epoch"] = epochIndex;
  row["start_ns"] = Ns(epochStart);
  row["end_ns"] = Ns(end);
  row["source_bandwidth_gbps"] = perSource;
  row["link_bandwidth_gbps"] = perLink;
  row["reads_answered"] = reads.Count();
  row["writes_answered"] = writes.Count();
  row["read_share"] = answered ? nlohmann::ordered_json(static_cast<double>(reads.Count()) /
                                                        static_cast<double>(answered))
                               : nlohmann::ordered_json(nullptr);
  row["read_bytes"] = readBytes;
  row["write_bytes"] = writeBytes;
  row["posted_write_bytes"] = posted;
  row["total_bandwidth_gbps"] = Gbps(readBytes + writeBytes + posted, span);
  row["read_latency_mean_ns"] = LatencyNs(reads, true);
  row["read_latency_p99_ns"] = LatencyNs(reads, false);
  row["write_latency_mean_ns"] = LatencyNs(writes, true);
  row["write_latency_p99_ns"] = LatencyNs(writes, false);
  row["outstanding_requests_mean"] =
      MeanLevel(atStart.outstandingArea, atEnd.outstandingArea, span);
  row["outstanding_requests_at_end"] = outstanding;
  row["host_buffer_flits_mean"] = MeanLevel(atStart.bufferArea, atEnd.bufferArea, span);
  row["host_buffer_flits_at_end"] = bufferFlits;

  // The CSV row holds the same values in the same order; null is an empty cell.
  bool first = true;
  for (const auto& [key, value] : row.items()) {
    if (key == "source_bandwidth_gbps" || key == "link_bandwidth_gbps") {
      for (const auto& [name, gbps] : value.items()) csv << ',' << gbps.dump();
      continue;
    }
    if (!first) csv << ',';
    first = false;
    if (!value.is_null()) csv << value.dump();
  }
  csv << '\n';
  if (jsonLines.is_open()) jsonLines << row.dump() << '\n';

  atStart = atEnd;
  epochStart = end;
  ++epochIndex;
}

} // namespace Orvane::Internal::QUOR2
