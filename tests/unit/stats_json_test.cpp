// The latency histogram and the statistics document built from known counters.
#include "quor2_latency_histogram.h"
#include "quor2_occupancy.h"
#include "quor2_stats_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>

using namespace Orvane::Internal::QUOR2;
using sc_core::SC_NS;
using sc_core::SC_US;
using sc_core::sc_time;

TEST(LatencyHistogram, ValuesBelow128AreKeptExactly) {
  for (uint64_t v = 0; v < 128; ++v)
    EXPECT_EQ(LatencyHistogram::BucketHighest(LatencyHistogram::BucketOf(v)), v);
}

TEST(LatencyHistogram, EveryValueLiesInABucketAtMostOneSixtyFourthWide) {
  std::mt19937_64 rng(20261209);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t v = rng() >> (rng() % 64);
    const unsigned b = LatencyHistogram::BucketOf(v);
    ASSERT_LT(b, LatencyHistogram::kBuckets);
    const uint64_t high = LatencyHistogram::BucketHighest(b);
    ASSERT_GE(high, v);
    ASSERT_LE(high - v, v / 64) << v;
    // Buckets are ordered: the previous bucket ends below v.
    if (b > 0) {
      ASSERT_LT(LatencyHistogram::BucketHighest(b - 1), v) << v;
    }
  }
  EXPECT_EQ(LatencyHistogram::BucketOf(UINT64_MAX), LatencyHistogram::kBuckets - 1);
}

TEST(LatencyHistogram, PercentilesMeanAndExtremesOfAUniformSample) {
  LatencyHistogram h;
  EXPECT_EQ(h.Count(), 0u);
  EXPECT_EQ(h.Percentile(50), 0u);
  EXPECT_EQ(h.Mean(), 0.0);
  for (uint64_t v = 1; v <= 10000; ++v) h.Add(v * 1000);
  EXPECT_EQ(h.Count(), 10000u);
  EXPECT_EQ(h.Min(), 1000u);
  EXPECT_EQ(h.Max(), 10000000u);
  EXPECT_DOUBLE_EQ(h.Mean(), 5000500.0);
  for (double p : {50.0, 90.0, 99.0, 99.9}) {
    const double exact = p / 100 * 10000 * 1000;
    EXPECT_GE(h.Percentile(p), exact) << p;
    EXPECT_LE(h.Percentile(p), exact * (1 + 1.0 / 64)) << p;
  }
  EXPECT_EQ(h.Percentile(100), 10000000u);
  EXPECT_GE(h.Percentile(0), 1000u);
  EXPECT_LE(h.Percentile(0), 1000u + 1000u / 64);
}

TEST(LatencyHistogram, MergingEqualsAddingEverythingToOne) {
  LatencyHistogram a, b, all;
  for (uint64_t v = 0; v < 5000; ++v) {
    (v % 3 ? a : b).Add(v * 37 + 5);
    all.Add(v * 37 + 5);
  }
  a.Merge(b);
  EXPECT_EQ(a.Count(), all.Count());
  EXPECT_EQ(a.Min(), all.Min());
  EXPECT_EQ(a.Max(), all.Max());
  EXPECT_DOUBLE_EQ(a.Mean(), all.Mean());
  for (double p : {1.0, 50.0, 99.9}) EXPECT_EQ(a.Percentile(p), all.Percentile(p));
}

// What was added since a copy equals a histogram of only those values: count
// and mean exactly, percentiles and extremes to a bucket.
TEST(LatencyHistogram, SinceACopyHoldsOnlyTheLaterValues) {
  std::mt19937_64 rng(77);
  for (int round = 0; round < 20; ++round) {
    LatencyHistogram all, later;
    for (int i = 0; i < 300; ++i) all.Add(rng() % 2000000);
    const LatencyHistogram copy = all;
    for (int i = 0, n = static_cast<int>(rng() % 400); i < n; ++i) {
      const uint64_t v = rng() >> (rng() % 64);
      all.Add(v);
      later.Add(v);
    }
    const LatencyHistogram recent = all.Since(copy);
    ASSERT_EQ(recent.Count(), later.Count());
    EXPECT_NEAR(recent.Mean(), later.Mean(), 1e-9 * later.Mean() + 1e-9);
    for (double p : {0.0, 50.0, 99.0, 100.0})
      EXPECT_EQ(LatencyHistogram::BucketOf(recent.Percentile(p)),
                LatencyHistogram::BucketOf(later.Percentile(p))) << p;
    EXPECT_EQ(LatencyHistogram::BucketOf(recent.Min()), LatencyHistogram::BucketOf(later.Min()));
    EXPECT_EQ(LatencyHistogram::BucketOf(recent.Max()), LatencyHistogram::BucketOf(later.Max()));
  }
}

// Random changes against a level kept picosecond by picosecond: the area at
// any time, and so the mean over any span, is the exact time-weighted count.
TEST(Occupancy, AreaIsTheLevelSummedOverEveryPicosecond) {
  std::mt19937_64 rng(5);
  Occupancy o;
  uint64_t level = 0, area = 0, now = 0;
  for (int i = 0; i < 2000; ++i) {
    const uint64_t step = rng() % 50;
    area += level * step;
    now += step;
    const sc_time t(static_cast<double>(now), sc_core::SC_PS);
    ASSERT_EQ(o.AreaAt(t), area) << i;
    const int64_t down = static_cast<int64_t>(std::min<uint64_t>(level, 4));
    const int64_t delta = static_cast<int64_t>(rng() % 9) - down;  // never below 0
    level = static_cast<uint64_t>(static_cast<int64_t>(level) + delta);
    o.Change(delta, t);
    ASSERT_EQ(o.Level(), level);
    ASSERT_EQ(o.AreaAt(t), area);
  }
  const sc_time end(static_cast<double>(now + 100), sc_core::SC_PS);
  EXPECT_DOUBLE_EQ(MeanLevel(area, o.AreaAt(end), sc_time(100, sc_core::SC_PS)),
                   static_cast<double>(level));
  EXPECT_EQ(MeanLevel(5, 5, sc_core::SC_ZERO_TIME), 0.0);
}

// 800 us at 10 Gbps on 16 lanes: 1e6 flit slots per link, and a byte count B
// gives B / 800000 GB/s.
TEST(StatsJson, CarriesTheReportFiguresWithUnitsAndTheSourcesFigures) {
  Config cfg;
  cfg.LINK_SPEED = 10.0f;
  cfg.markUpdated("LINK_SPEED");
  cfg.INJECTION_RATE = 1.4f;  // no float holds 1.4 exactly
  StatsKeeper s(cfg);
  s.readRequestSizeCounter[7] = 25000;  // 3200000 bytes: 4 GB/s
  s.QUORControllerMovedData = 4000000;
  s.QUORControllerIssuedReads = 75000;
  s.QUORControllerIssuedWrites = 25000;
  s.QUORContPerLinkReadRespLocal[0] = 3;
  s.QUORContPerLinkReadRespRemote[0] = 1;
  s.perLinkAvgLatency[0] = 4 * 250000;  // 250 ns each, in ps
  s.perLinkMaxLatency[0] = 400000;
  s.perLinkMinLatency[0] = 100000;
  s.perLinkAcceptedFlits[1] = 250000;
  s.perLinkDataMovement[1] = 800000;
  s.perVaultCASs[2] = 1000;
  s.perVaultPerBankCounters[2][5] = 9;
  s.perVaultPostedWriteBytes[3] = 1600;

  SourceStats src;
  tlm::tlm_generic_payload read;
  read.set_command(tlm::TLM_READ_COMMAND);
  read.set_data_length(64);
  SourceStats::StampIssue(read, sc_time(10, SC_NS));
  src.CountResponse(read, sc_time(110, SC_NS));
  tlm::tlm_generic_payload write;
  write.set_command(tlm::TLM_WRITE_COMMAND);
  write.set_data_length(32);
  SourceStats::StampIssue(write, sc_time(0, SC_NS));
  src.CountResponse(write, sc_time(50, SC_NS));

  RunFacts run;
  run.endTime = sc_time(800, SC_US);
  run.interruptSignal = SIGINT;
  run.sources.emplace_back("generator0", &src);
  const auto doc = StatsJson(s, run);

  EXPECT_EQ(doc["seed"], 1u);
  EXPECT_EQ(doc["run"]["end"], "interrupted");
  EXPECT_EQ(doc["run"]["interrupted"], true);
  EXPECT_EQ(doc["run"]["signal"], "SIGINT");
  EXPECT_DOUBLE_EQ(doc["run"]["simulated_time_ns"].get<double>(), 800000.0);
  EXPECT_EQ(doc["run"]["core_cycles"], 500000u);
  EXPECT_EQ(doc["configuration"]["LINK_SPEED"]["set"], true);
  EXPECT_EQ(doc["configuration"]["SIM_TIME"]["set"], false);
  EXPECT_EQ(doc["configuration"]["INJECTION_RATE"]["value"].get<double>(), 1.4);
  EXPECT_DOUBLE_EQ(doc["configuration"]["SIM_TIME"]["value_ns"].get<double>(), 100000.0);
  EXPECT_EQ(doc["configuration"].size(), cfg.optionMap.size());

  EXPECT_EQ(doc["requests"]["by_size"][7]["reads"], 25000u);
  EXPECT_DOUBLE_EQ(doc["requests"]["by_size"][7]["read_bandwidth_gbps"].get<double>(), 4.0);
  EXPECT_DOUBLE_EQ(doc["host_controller"]["data_bandwidth_gbps"].get<double>(), 5.0);
  EXPECT_EQ(doc["host_controller"]["read_responses"], 4u);
  EXPECT_DOUBLE_EQ(doc["host_controller"]["read_percent"].get<double>(), 75.0);

  const auto& link0 = doc["links"][0];
  EXPECT_DOUBLE_EQ(link0["read_latency"]["mean_ns"].get<double>(), 250.0);
  EXPECT_DOUBLE_EQ(link0["read_latency"]["max_ns"].get<double>(), 400.0);
  EXPECT_DOUBLE_EQ(link0["read_latency"]["min_ns"].get<double>(), 100.0);
  EXPECT_TRUE(doc["links"][1]["read_latency"]["mean_ns"].is_null());
  EXPECT_DOUBLE_EQ(doc["links"][1]["request_utilization_percent"].get<double>(), 25.0);
  EXPECT_DOUBLE_EQ(doc["links"][1]["request_bandwidth_gbps"].get<double>(), 5.0);
  EXPECT_DOUBLE_EQ(doc["links"][1]["effective_bandwidth_gbps"].get<double>(), 1.0);
  EXPECT_EQ(doc["links"][1]["bytes"], 800000u);

  // 1000 column accesses of 32 bytes in 800000 ns: 0.04 GB/s.
  EXPECT_DOUBLE_EQ(doc["vaults"][2]["tsv_bandwidth_gbps"].get<double>(), 0.04);
  // 4 banks per partition by default: entry 5 is partition 1, bank 1.
  EXPECT_EQ(doc["vaults"][2]["banks"][5]["partition"], 1u);
  EXPECT_EQ(doc["vaults"][2]["banks"][5]["bank"], 1u);
  EXPECT_EQ(doc["vaults"][2]["banks"][5]["activations"], 9u);

  EXPECT_EQ(doc["delivered"]["read_bytes"], 64u);
  EXPECT_EQ(doc["delivered"]["write_bytes"], 32u);
  EXPECT_EQ(doc["delivered"]["posted_write_bytes"], 1600u);
  EXPECT_EQ(doc["delivered"]["total_bytes"], 1696u);
  const auto& reads = doc["end_to_end_latency"]["reads"];
  EXPECT_EQ(reads["count"], 1u);
  EXPECT_DOUBLE_EQ(reads["mean_ns"].get<double>(), 100.0);
  EXPECT_GE(reads["p50_ns"].get<double>(), 100.0);
  EXPECT_LE(reads["p50_ns"].get<double>(), 100.0);  // clamped to the one value
  EXPECT_DOUBLE_EQ(doc["end_to_end_latency"]["writes"]["max_ns"].get<double>(), 50.0);
  EXPECT_EQ(doc["sources"][0]["name"], "generator0");
}
