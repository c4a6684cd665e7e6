#include "quor2_stats_json.h"

#include "quor2_run_end.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <utility>

namespace Orvane::Internal::QUOR2 {

using nlohmann::ordered_json;

namespace {
double NsOfTicks(uint64_t ticks) {
  return static_cast<double>(ticks) / static_cast<double>(sc_time(1, sc_core::SC_NS).value());
}
double Ns(const sc_time& t) { return NsOfTicks(t.value()); }

// A figure the report computes in single precision, as the decimal number it
// stands for (630.236, not 630.2360229492188).
double Single(float f) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.7g", static_cast<double>(f));
  return std::strtod(text, nullptr);
}

bool IsSet(const Config& cfg, const char* key) {
  const auto it = cfg.optionMap.find(key);
  return it != cfg.optionMap.end() && it->second > 0;
}

void AddKey(ordered_json& out, const Config& cfg, const char* key, const sc_time& value) {
  out[key] = {{"value_ns", Ns(value)}, {"set", IsSet(cfg, key)}};
}
// A float key as the decimal number it was given as (1.4, not 1.399999976158142).
void AddKey(ordered_json& out, const Config& cfg, const char* key, const float& value) {
  out[key] = {{"value", Single(value)}, {"set", IsSet(cfg, key)}};
}
template <typename T>
void AddKey(ordered_json& out, const Config& cfg, const char* key, const T& value) {
  out[key] = {{"value", value}, {"set", IsSet(cfg, key)}};
}

ordered_json Configuration(const Config& cfg) {
  ordered_json out = ordered_json::object();
#define QUOR_KEY(type, name, def) AddKey(out, cfg, #name, cfg.name);
#include "config.h"
#undef QUOR_KEY
  return out;
}

// The counters the statistics file reports, as counted since `before`.
void Subtract(uint64_t& a, uint64_t b) { a -= b; }
void Subtract(uint32_t& a, uint32_t b) { a -= b; }
void Subtract(StatsKeeper::BankCommands& a, const StatsKeeper::BankCommands& b) {
  a.activates -= b.activates;
  a.reads -= b.reads;
  a.writes -= b.writes;
  a.precharges -= b.precharges;
  a.refreshes -= b.refreshes;
  a.busyTicks -= b.busyTicks;
}
template <class T>
void Subtract(std::vector<T>& a, const std::vector<T>& b) {
  for (size_t i = 0; i < a.size(); ++i) Subtract(a[i], b[i]);
}
StatsKeeper CountedSince(const StatsKeeper& now, const StatsKeeper& before) {
  StatsKeeper w = now;
  for (auto [counter, earlier] : {
           std::pair{&w.readRequestSizeCounter, &before.readRequestSizeCounter},
           {&w.writeRequestSizeCounter, &before.writeRequestSizeCounter},
           {&w.QUORContPerLinkReadRespLocal, &before.QUORContPerLinkReadRespLocal},
           {&w.QUORContPerLinkReadRespRemote, &before.QUORContPerLinkReadRespRemote},
           {&w.QUORContPerLinkWriteResponses, &before.QUORContPerLinkWriteResponses},
           {&w.perLinkReads, &before.perLinkReads},
           {&w.perLinkReadResponses, &before.perLinkReadResponses},
           {&w.perLinkWrites, &before.perLinkWrites},
           {&w.perLinkWriteResponses, &before.perLinkWriteResponses},
           {&w.perLinkAcceptedFlits, &before.perLinkAcceptedFlits},
           {&w.perLinkSentFlits, &before.perLinkSentFlits},
           {&w.perLinkDataMovement, &before.perLinkDataMovement},
           {&w.perLinkDataMovementRead, &before.perLinkDataMovementRead},
           {&w.perLinkDataMovementWrite, &before.perLinkDataMovementWrite},
           {&w.perLinkDeliveredBytes, &before.perLinkDeliveredBytes},
           {&w.perLinkPostedWriteBytes, &before.perLinkPostedWriteBytes},
           {&w.perLinkAvgLatency, &before.perLinkAvgLatency},
           {&w.perVaultReads, &before.perVaultReads},
           {&w.perVaultWrites, &before.perVaultWrites},
           {&w.perVaultCASs, &before.perVaultCASs},
           {&w.perVaultDataCount, &before.perVaultDataCount},
           {&w.perVaultPostedWriteBytes, &before.perVaultPostedWriteBytes},
           {&w.perVaultRefreshTicks, &before.perVaultRefreshTicks}})
    Subtract(*counter, *earlier);
  Subtract(w.perVaultPerBankCounters, before.perVaultPerBankCounters);
  Subtract(w.perVaultBankCommands, before.perVaultBankCommands);
  w.QUORControllerIssuedReads -= before.QUORControllerIssuedReads;
  w.QUORControllerIssuedWrites -= before.QUORControllerIssuedWrites;
  w.QUORControllerIssuedAtomics -= before.QUORControllerIssuedAtomics;
  w.QUORControllerMovedData -= before.QUORControllerMovedData;
  return w;
}

double Percent(uint64_t part, const sc_time& span) {
  return span.value() == 0 ? 0.0
                           : 100.0 * static_cast<double>(part) / static_cast<double>(span.value());
}

// A latency distribution in ns; null figures when nothing was recorded. The
// histogram lists the buckets holding values, each with its bounds (both
// included, whole ps given in ns).
ordered_json Latency(const LatencyHistogram& h) {
  ordered_json out;
  out["count"] = h.Count();
  auto ns = [&](uint64_t ps) -> ordered_json {
    return h.Count() ? ordered_json(static_cast<double>(ps) / 1000.0) : ordered_json(nullptr);
  };
  out["mean_ns"] = h.Count() ? ordered_json(h.Mean() / 1000.0) : ordered_json(nullptr);
  out["min_ns"] = ns(h.Min());
  out["max_ns"] = ns(h.Max());
  out["p50_ns"] = ns(h.Percentile(50));
  out["p90_ns"] = ns(h.Percentile(90));
  out["p99_ns"] = ns(h.Percentile(99));
  out["p99_9_ns"] = ns(h.Percentile(99.9));
  ordered_json& buckets = out["histogram"] = ordered_json::array();
  for (unsigned b = 0; b < LatencyHistogram::kBuckets; ++b) {
    if (h.BucketCount(b) == 0) continue;
    buckets.push_back(
        {{"low_ns", static_cast<double>(LatencyHistogram::BucketLowest(b)) / 1000.0},
         {"high_ns", static_cast<double>(LatencyHistogram::BucketHighest(b)) / 1000.0},
         {"count", h.BucketCount(b)}});
  }
  return out;
}
} // namespace

ordered_json StatsJson(const StatsKeeper& all, const RunFacts& run) {
  const Config& cfg = all.cfg;
  const sc_time& endTime = run.endTime;
  // Every figure but the run's own covers the window: the counters are taken
  // as counted since its start.
  const WindowStart* from = run.windowStart;
  const sc_time start = from ? from->at : sc_core::SC_ZERO_TIME;
  const sc_time span = endTime - start;
  std::optional<StatsKeeper> windowed;
  if (from) windowed.emplace(CountedSince(all, from->stats));
  const StatsKeeper& s = windowed ? *windowed : all;
  // The same arithmetic as the text report, so the figures agree with it.
  const float timeInNS = static_cast<float>(span.to_seconds() * 1e9);
  const float nsScalingFactor =
      static_cast<float>(static_cast<double>(sc_time(1, sc_core::SC_NS).value()) /
                         static_cast<double>(sc_core::sc_get_time_resolution().value()));
  const double ticksPerSecond = static_cast<double>(sc_time(1, sc_core::SC_SEC).value());
  auto gbps = [&](uint64_t bytes) {
    return span.value() == 0 ? 0.0
                             : static_cast<double>(bytes) *
                                   (ticksPerSecond / static_cast<double>(span.value())) / 1e9;
  };

  ordered_json doc;
  doc["format"] = "quorsim-stats";
  doc["format_version"] = 1;
  doc["version"] = VersionText().substr(VersionText().find(' ') + 1);
  doc["seed"] = cfg.RANDOM_SEED;
  ordered_json& r = doc["run"];
  r["end"] = run.interruptSignal ? "interrupted" : run.sourcesDone ? "sources_done" : "time_limit";
  r["interrupted"] = run.interruptSignal != 0;
  r["signal"] = run.interruptSignal ? ordered_json(SignalName(run.interruptSignal))
                                    : ordered_json(nullptr);
  r["wall_time_s"] = run.wallSeconds;
  r["simulated_time_ns"] = Ns(endTime);
  r["simulated_time_ps"] = endTime.value() / sc_time(1, sc_core::SC_PS).value();
  r["core_cycles"] = static_cast<uint64_t>(static_cast<double>(endTime.value()) /
                                           static_cast<double>(cfg.CORE_CLK.value()));
  r["window"] = {{"start_ns", Ns(start)}, {"end_ns", Ns(endTime)}, {"warmup_ns", Ns(cfg.WARMUP_NS)}};
  doc["configuration"] = Configuration(cfg);

  // Requests taken by the host controller, by size.
  ordered_json& req = doc["requests"];
  uint64_t totalRequests = 0;
  req["by_size"] = ordered_json::array();
  for (unsigned k = 0; k < 8; ++k) {
    const unsigned size = (k + 1) * 16;
    req["by_size"].push_back(
        {{"size_bytes", size},
         {"reads", s.readRequestSizeCounter[k]},
         {"writes", s.writeRequestSizeCounter[k]},
         {"read_bandwidth_gbps", gbps(uint64_t{size} * s.readRequestSizeCounter[k])},
         {"write_bandwidth_gbps", gbps(uint64_t{size} * s.writeRequestSizeCounter[k])}});
    totalRequests += s.readRequestSizeCounter[k] + s.writeRequestSizeCounter[k];
  }
  req["total"] = totalRequests;

  uint64_t readResponses = 0;
  uint64_t writeResponses = 0;
  for (unsigned l = 0; l < cfg.NUM_LINKS; ++l) {
    readResponses += s.QUORContPerLinkReadRespLocal[l] + s.QUORContPerLinkReadRespRemote[l];
    writeResponses += s.QUORContPerLinkWriteResponses[l];
  }
  const uint64_t reads = s.QUORControllerIssuedReads;
  const uint64_t writes = s.QUORControllerIssuedWrites;
  ordered_json& host = doc["host_controller"];
  host["data_bandwidth_gbps"] = gbps(s.QUORControllerMovedData);
  host["bytes_moved"] = s.QUORControllerMovedData;
  host["reads"] = reads;
  host["read_responses"] = readResponses;
  host["writes"] = writes;
  host["write_responses"] = writeResponses;
  host["atomics"] = s.QUORControllerIssuedAtomics;
  host["total"] = reads + writes;
  host["total_responses"] = readResponses + writeResponses;
  host["read_percent"] = reads + writes == 0 ? ordered_json(nullptr)
                                             : ordered_json(Single(static_cast<float>(reads) /
                                                                   static_cast<float>(reads + writes) *
                                                                   100.0f));
  auto meanLevel = [&](const Occupancy* o, uint64_t areaAtStart) {
    return o ? ordered_json(MeanLevel(areaAtStart, o->AreaAt(endTime), span)) : ordered_json(nullptr);
  };
  host["outstanding_requests_mean"] =
      meanLevel(run.outstandingRequests, from ? from->outstandingArea : 0);
  host["request_buffer_flits_mean"] =
      meanLevel(run.bufferedRequestFlits, from ? from->bufferArea : 0);

  const auto& maxLatency = from ? s.perLinkWindowMaxLatency : s.perLinkMaxLatency;
  const auto& minLatency = from ? s.perLinkWindowMinLatency : s.perLinkMinLatency;
  doc["links"] = ordered_json::array();
  for (unsigned i = 0; i < cfg.NUM_LINKS; ++i) {
    const unsigned width = ConfiguredLinkWidth(cfg, i);
    const float peak = static_cast<float>(width) * cfg.LINK_SPEED * 0.125f;
    const unsigned uiPerFlit = cfg.FLIT_SIZE * 8 / width;
    const sc_time flitRate(static_cast<float>(uiPerFlit) * (1.0f / cfg.LINK_SPEED), sc_core::SC_NS);
    const uint32_t slots = static_cast<uint32_t>(span.value() / flitRate.value());
    const float up = slots ? static_cast<float>(s.perLinkAcceptedFlits[i]) / static_cast<float>(slots) : 0;
    const float down = slots ? static_cast<float>(s.perLinkSentFlits[i]) / static_cast<float>(slots) : 0;
    ordered_json link;
    link["link"] = i;
    link["width_lanes"] = width;
    link["lane_rate_gbit_per_s"] = Single(cfg.LINK_SPEED);
    link["peak_bandwidth_gbps"] = Single(peak);
    link["reads"] = s.perLinkReads[i];
    link["read_responses"] = s.perLinkReadResponses[i];
    link["writes"] = s.perLinkWrites[i];
    link["write_responses"] = s.perLinkWriteResponses[i];
    link["accepted_request_flits"] = s.perLinkAcceptedFlits[i];
    link["sent_response_flits"] = s.perLinkSentFlits[i];
    link["flit_slots"] = slots;
    link["request_utilization_percent"] = Single(up * 100);
    link["request_bandwidth_gbps"] = Single(up * peak);
    link["response_utilization_percent"] = Single(down * 100);
    link["response_bandwidth_gbps"] = Single(down * peak);
    link["effective_bandwidth_gbps"] = gbps(s.perLinkDataMovement[i]);
    link["bytes"] = s.perLinkDataMovement[i];
    link["read_bandwidth_gbps"] = gbps(s.perLinkDataMovementRead[i]);
    link["read_bytes"] = s.perLinkDataMovementRead[i];
    link["write_bandwidth_gbps"] = gbps(s.perLinkDataMovementWrite[i]);
    link["write_bytes"] = s.perLinkDataMovementWrite[i];
    const uint64_t delivered = s.perLinkDeliveredBytes[i] + s.perLinkPostedWriteBytes[i];
    link["delivered_bytes"] = delivered;
    link["delivered_bandwidth_gbps"] = gbps(delivered);
    const uint64_t n = s.QUORContPerLinkReadRespLocal[i] + s.QUORContPerLinkReadRespRemote[i];
    ordered_json& lat = link["read_latency"];
    lat["count"] = n;
    lat["mean_ns"] = n ? ordered_json(Single(static_cast<float>(s.perLinkAvgLatency[i]) /
                                             static_cast<float>(n) / nsScalingFactor))
                       : ordered_json(nullptr);
    lat["max_ns"] = n ? ordered_json(Single(static_cast<float>(maxLatency[i]) /
                                            nsScalingFactor))
                      : ordered_json(nullptr);
    lat["min_ns"] = n ? ordered_json(Single(static_cast<float>(minLatency[i]) /
                                            nsScalingFactor))
                      : ordered_json(nullptr);
    doc["links"].push_back(std::move(link));
  }

  doc["vaults"] = ordered_json::array();
  float totalVaultBW = 0;
  uint64_t totalMovedBytes = 0;
  uint64_t postedBytes = 0;
  for (unsigned v = 0; v < cfg.NUM_QUADS * cfg.VAULTS_PER_QUAD; ++v) {
    const float tsv = static_cast<float>(s.perVaultCASs[v] * 32) / timeInNS;
    totalVaultBW += tsv;
    totalMovedBytes += s.perVaultDataCount[v];
    postedBytes += s.perVaultPostedWriteBytes[v];
    ordered_json vault;
    vault["vault"] = v;
    vault["quad"] = v / cfg.VAULTS_PER_QUAD;
    vault["reads"] = s.perVaultReads[v];
    vault["writes"] = s.perVaultWrites[v];
    vault["total"] = s.perVaultReads[v] + s.perVaultWrites[v];
    vault["column_accesses"] = s.perVaultCASs[v];
    vault["column_access_bytes"] = s.perVaultCASs[v] * 32;
    vault["tsv_bandwidth_gbps"] = Single(tsv);
    vault["data_bytes"] = s.perVaultDataCount[v];
    vault["posted_write_bytes"] = s.perVaultPostedWriteBytes[v];
    vault["banks"] = ordered_json::array();
    const auto& counts = s.perVaultPerBankCounters[v];
    uint64_t refreshes = 0;
    for (unsigned b = 0; b < counts.size(); ++b) {
      const StatsKeeper::BankCommands& c = s.perVaultBankCommands[v][b];
      refreshes += c.refreshes;
      vault["banks"].push_back({{"partition", b / cfg.NUM_BANKS},
                                {"bank", b % cfg.NUM_BANKS},
                                {"activations", counts[b]},
                                {"activate_commands", c.activates},
                                {"read_commands", c.reads},
                                {"write_commands", c.writes},
                                {"precharge_commands", c.precharges},
                                {"refresh_commands", c.refreshes},
                                {"busy_ns", NsOfTicks(c.busyTicks)},
                                {"busy_percent", Percent(c.busyTicks, span)}});
    }
    vault["refreshes"] = refreshes;
    vault["refresh_ns"] = NsOfTicks(s.perVaultRefreshTicks[v]);
    vault["refresh_percent"] = Percent(s.perVaultRefreshTicks[v], span);
    doc["vaults"].push_back(std::move(vault));
  }
  doc["vault_totals"] = {{"tsv_bandwidth_gbps", Single(totalVaultBW)}, {"data_bytes", totalMovedBytes}};

  // What the sources got back, and the posted writes the vaults took in.
  LatencyHistogram readLatency;
  LatencyHistogram writeLatency;
  uint64_t readBytes = 0;
  uint64_t writeBytes = 0;
  ordered_json sources = ordered_json::array();
  for (size_t i = 0; i < run.sources.size(); ++i) {
    const auto& [name, src] = run.sources[i];
    SourceStats seen = *src;
    if (from) {
      const SourceStats& before = from->sources[i];
      seen.readLatencyPs = src->readLatencyPs.Since(before.readLatencyPs);
      seen.writeLatencyPs = src->writeLatencyPs.Since(before.writeLatencyPs);
      seen.readBytes -= before.readBytes;
      seen.writeBytes -= before.writeBytes;
    }
    readLatency.Merge(seen.readLatencyPs);
    writeLatency.Merge(seen.writeLatencyPs);
    readBytes += seen.readBytes;
    writeBytes += seen.writeBytes;
    sources.push_back({{"name", name},
                       {"read_bytes", seen.readBytes},
                       {"write_bytes", seen.writeBytes},
                       {"read_latency", Latency(seen.readLatencyPs)},
                       {"write_latency", Latency(seen.writeLatencyPs)}});
  }
  ordered_json& delivered = doc["delivered"];
  delivered["read_bytes"] = readBytes;
  delivered["read_bandwidth_gbps"] = gbps(readBytes);
  delivered["write_bytes"] = writeBytes;
  delivered["write_bandwidth_gbps"] = gbps(writeBytes);
  delivered["posted_write_bytes"] = postedBytes;
  delivered["posted_write_bandwidth_gbps"] = gbps(postedBytes);
  delivered["total_bytes"] = readBytes + writeBytes + postedBytes;
  delivered["total_bandwidth_gbps"] = gbps(readBytes + writeBytes + postedBytes);
  doc["end_to_end_latency"] = {{"reads", Latency(readLatency)}, {"writes", Latency(writeLatency)}};
  doc["sources"] = std::move(sources);
  return doc;
}

bool WriteStatsJson(const std::string& path, const ordered_json& doc) {
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (file.is_open()) {
    file << doc.dump(2) << '\n';
    file.close();
  }
  if (!file) {
    std::cerr << "ERROR - Could not write the statistics file '" << path << "'" << std::endl;
    return false;
  }
  return true;
}

} // namespace Orvane::Internal::QUOR2
