// The end-of-run report for a keeper with known counters, on standard output
// and in the report file. Link utilisation depends on the kernel's current
// time, so every report is made in a child process after running the kernel
// (with no modules) to 800 us.
#include "support/cout_capture.h"
#include "support/scenario.h"
#include "support/temp_dir.h"

#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using quortest::RunScenario;
using sc_core::SC_US;
using sc_core::sc_time;

namespace {

// At 10 Gbps on 16 lanes a flit takes 800 ps, so 800 us hold 1e6 flit slots
// and a byte count B gives B / 800000 GB/s.
void KnownRun(Config& cfg) { cfg.LINK_SPEED = 10.0f; }

void FillKnownCounters(StatsKeeper& s) {
  s.readRequestSizeCounter[0] = 50000;  // 800000 bytes: 1 GB/s
  s.readRequestSizeCounter[7] = 25000;  // 3200000 bytes: 4 GB/s
  s.writeRequestSizeCounter[3] = 12500; // 800000 bytes: 1 GB/s
  s.QUORControllerMovedData = 4000000;
  s.QUORControllerIssuedReads = 75000;
  s.QUORControllerIssuedWrites = 12500;
  s.QUORContPerLinkReadRespLocal[0] = 3;
  s.QUORContPerLinkReadRespRemote[0] = 1;
  s.QUORContPerLinkWriteResponses[1] = 7;
  s.perLinkReads[0] = 3;
  s.perLinkReadResponses[0] = 2;
  s.perLinkWrites[0] = 1;
  s.perLinkWriteResponses[0] = 1;
  s.perLinkWrites[1] = 7;
  s.perLinkWriteResponses[1] = 7;
  s.perLinkAcceptedFlits[0] = 123456; // utilisation 0.123456
  s.perLinkSentFlits[0] = 500000;     // utilisation 0.5
  s.perLinkDataMovement[0] = 1600000;
  s.perLinkDataMovementRead[0] = 800000;
  s.perLinkDataMovementWrite[0] = 800000;
  s.perLinkAvgLatency[0] = 100000; // 4 responses: 25 ns
  s.perLinkMaxLatency[0] = 40000;
  s.perLinkMinLatency[0] = 12345;
  s.perVaultCASs[3] = 25000; // 800000 bytes: 1 GB/s
  s.perVaultCASs[5] = 12500; // 0.5 GB/s
  s.perVaultDataCount[3] = 1000;
  s.perVaultDataCount[5] = 24;
  s.perVaultReads[3] = 10;
  s.perVaultWrites[3] = 5;
  s.perVaultPerBankCounters[3] = {1, 2, 0, 0, 0, 0, 0, 9};
}

std::string ExpectedReport(bool toFile) {
  std::ostringstream e;
  e << "======= Dumping stats at 800000ns / 500000 cube cycles =======\n"
       "==== Generator Requests ====\n"
       "         (READS)    (WRITES)\n"
       " 16B ]      50000\t         0\n"
       " 32B ]          0\t         0\n"
       " 48B ]          0\t         0\n"
       " 64B ]          0\t     12500\n"
       " 80B ]          0\t         0\n"
       " 96B ]          0\t         0\n"
       "112B ]          0\t         0\n"
       "128B ]      25000\t         0\n"
       "-----\n"
       "Total : 87500\n"
       "\n"
       "== QUOR Controller\n"
       "   ==================================\n"
       "     DATA BANDWIDTH  : 5 GB/s\n"
       "     Bytes Moved     : 4000000\n"
       "   ==================================\n"
       "   Reads : 75000 (4 Responses)\n"
       "   Writes: 12500 (7 Responses)\n"
       "   Total : 87500 (11 Responses)\n"
       "   R/W%  : 85.7143 %\n"
       "\n";
  if (!toFile)
    e << "==== Per-Packet Bandwidth ====\n"
         "Size:16B,32B,48B,64B,80B,96B,112B,128B,\n"
         "Reads:1,0,0,0,0,0,0,4,\n"
         "Writes:0,0,0,1,0,0,0,0,\n";
  for (int i = 0; i < 4; ++i) {
    if (toFile)
      e << "== Link " << i << " Statistics\n";
    else
      e << "== Link " << i << " [16 lanes @ 10Gbps = 20 GB/s]\n";
    if (i == 0) {
      e << "   Reads : 3 (Rsp : 2)\n"
           "   Writes: 1 (Rsp : 1)\n";
      if (toFile)
        e << "   Request Utilization  : 12.3456% (2.46912 GB/s)\n";
      else
        e << "   Request Utilization  : 12.35% (2.469 GB/s)\n";
      e << "   Response Utilization : 50% (10 GB/s)\n"
           "   Effective Bandwidth  : 2 GB/s [1600000 bytes]\n"
           "        Read Bandwidth  : 1 GB/s [800000 bytes]\n"
           "       Write Bandwidth  : 1 GB/s [800000 bytes]\n"
           "   Link Avg. Latency : 25 ns\n"
           "   Max Latency       : 40 ns\n";
      e << (toFile ? "   Min Latency       : 12.345 ns\n" : "   Min Latency       : 12.35 ns\n");
      continue;
    }
    e << "   Reads : 0 (Rsp : 0)\n";
    e << (i == 1 ? "   Writes: 7 (Rsp : 7)\n" : "   Writes: 0 (Rsp : 0)\n");
    e << "   Request Utilization  : 0% (0 GB/s)\n"
         "   Response Utilization : 0% (0 GB/s)\n"
         "   Effective Bandwidth  : 0 GB/s [0 bytes]\n"
         "        Read Bandwidth  : 0 GB/s [0 bytes]\n"
         "       Write Bandwidth  : 0 GB/s [0 bytes]\n"
         "   Link Avg. Latency : -\n"
         "   Max Latency       : -\n"
         "   Min Latency       : -\n";
  }
  for (int v = 0; v < 16; ++v) {
    // Four significant digits on standard output turn 800000 into 8e+05.
    e << "== Vault " << v << (toFile ? " at 800000ns\n" : " at 8e+05ns\n");
    e << (v == 3 ? "\tBank Counts : [1 2 0 0 0 0 0 9 ]\n" : "\tBank Counts : [0 0 0 0 0 0 0 0 ]\n");
    e << "\tReads       : " << (v == 3 ? 10 : 0) << "\n";
    e << "\tWrites      : " << (v == 3 ? 5 : 0) << "\n";
    e << "\tTotal       : " << (v == 3 ? 15 : 0) << "\n";
    const char* bw = v == 3 ? "1" : v == 5 ? "0.5" : "0";
    if (toFile) {
      const char* cas = v == 3 ? "25000 (800000 bytes)" : v == 5 ? "12500 (400000 bytes)" : "0 (0 bytes)";
      e << "\tCASs        : " << cas << "\n";
      e << "\tTSV BW      : " << bw << " GB/s\n";
    } else {
      e << "\tVault BW    : " << bw << " GB/s\n";
    }
  }
  e << "===================\n"
       "  Total Vault BW    : 1.5\n"
       "  Total Bytes Moved : 1024\n";
  return e.str();
}

std::string Report(const StatsKeeper& s, bool toFile) {
  std::ostringstream os;
  s.WriteReport(os, sc_core::sc_time_stamp(), toFile);
  return os.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The line of the report that starts with prefix.
std::string LineStarting(const std::string& report, const std::string& prefix) {
  std::istringstream in(report);
  for (std::string l; std::getline(in, l);)
    if (l.rfind(prefix, 0) == 0) return l;
  return "(no line " + prefix + ")";
}

} // namespace

TEST(StatsReport, StandardOutputLayoutLineByLine) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                KnownRun(cfg);
                StatsKeeper stats(cfg);
                FillKnownCounters(stats);
                sc_core::sc_start(sc_time(800, SC_US));
                SCN_CHECK_EQ(Report(stats, false), ExpectedReport(false));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, FileLayoutKeepsSixDigitsAndItsOwnLinkAndVaultLines) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                KnownRun(cfg);
                StatsKeeper stats(cfg);
                FillKnownCounters(stats);
                sc_core::sc_start(sc_time(800, SC_US));
                SCN_CHECK_EQ(Report(stats, true), ExpectedReport(true));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, DumpStatsWritesBothAndLeavesStandardOutputAtFourDigits) {
  EXPECT_EXIT(RunScenario([] {
                quortest::TempDir dir;
                Config cfg;
                KnownRun(cfg);
                cfg.DUMP_STATS_FILE = true;
                cfg.STATS_FILENAME = dir.File("stats.txt");
                StatsKeeper stats(cfg);
                FillKnownCounters(stats);
                sc_core::sc_start(sc_time(800, SC_US));
                std::string out;
                {
                  quortest::CoutCapture capture;
                  stats.DumpStats(sc_core::sc_time_stamp());
                  out = capture.str();
                }
                SCN_CHECK_EQ(out, ExpectedReport(false));
                SCN_CHECK_EQ(std::cout.precision(), 4);
                SCN_CHECK_EQ(ReadFile(cfg.STATS_FILENAME), ExpectedReport(true));
                // A second report replaces the file, and the counters are unchanged.
                {
                  quortest::CoutCapture capture;
                  stats.DumpStats(sc_core::sc_time_stamp());
                }
                SCN_CHECK_EQ(ReadFile(cfg.STATS_FILENAME), ExpectedReport(true));
                SCN_CHECK_EQ(stats.perLinkMinLatency[1], 4294967295u);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, NoFileUnlessAsked) {
  EXPECT_EXIT(RunScenario([] {
                quortest::TempDir dir;
                Config cfg;
                cfg.STATS_FILENAME = dir.File("stats.txt");
                StatsKeeper stats(cfg);
                sc_core::sc_start(sc_time(800, SC_US));
                {
                  quortest::CoutCapture capture;
                  stats.DumpStats(sc_core::sc_time_stamp());
                }
                SCN_CHECK(!std::filesystem::exists(cfg.STATS_FILENAME));
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, UnopenableReportFileIsReportedOnStandardErrorAndOutputIsComplete) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                KnownRun(cfg);
                cfg.DUMP_STATS_FILE = true;
                cfg.STATS_FILENAME = "/nonexistent-quorsim-dir/stats.txt";
                StatsKeeper stats(cfg);
                FillKnownCounters(stats);
                sc_core::sc_start(sc_time(800, SC_US));
                std::string out;
                {
                  quortest::CoutCapture capture;
                  // A report that could not be written is a failed run.
                  SCN_CHECK(!stats.DumpStats(sc_core::sc_time_stamp()));
                  out = capture.str();
                }
                SCN_CHECK_EQ(out, ExpectedReport(false));
              }),
              ::testing::ExitedWithCode(0),
              "\nERROR - Could not write the report file '/nonexistent-quorsim-dir/stats\\.txt'\n$");
}

TEST(StatsReport, OnlyReadsGiveOneHundredPercent) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                stats.QUORControllerIssuedReads = 5;
                sc_core::sc_start(sc_time(800, SC_US));
                SCN_CHECK_EQ(LineStarting(Report(stats, false), "   R/W%"), "   R/W%  : 100 %");
                stats.QUORControllerIssuedReads = 0;
                const std::string none = LineStarting(Report(stats, false), "   R/W%");
                SCN_CHECK(none.find("nan %") != std::string::npos);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, AtomicsLineSitsBetweenWritesAndTotalAndIsNotCounted) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                stats.QUORControllerIssuedReads = 2;
                stats.QUORControllerIssuedWrites = 1;
                stats.QUORControllerIssuedAtomics = 6;
                sc_core::sc_start(sc_time(800, SC_US));
                const std::string r = Report(stats, false);
                const std::string block = "   Writes: 1 (0 Responses)\n"
                                          "   Atomics: 6\n"
                                          "   Total : 3 (0 Responses)\n"
                                          "   R/W%  : 66.6667 %\n";
                SCN_CHECK(r.find(block) != std::string::npos);
                stats.QUORControllerIssuedAtomics = 0;
                SCN_CHECK(Report(stats, false).find("Atomics") == std::string::npos);
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsReport, GeneratorTotalWrapsAtThirtyTwoBits) {
  EXPECT_EXIT(RunScenario([] {
                Config cfg;
                StatsKeeper stats(cfg);
                stats.readRequestSizeCounter[0] = 4294967295u;
                stats.writeRequestSizeCounter[0] = 2;
                SCN_CHECK_EQ(LineStarting(Report(stats, true), "Total : "), "Total : 1");
                SCN_CHECK_EQ(LineStarting(Report(stats, true), " 16B ]"),
                             " 16B ] 4294967295\t         2");
              }),
              ::testing::ExitedWithCode(0), "");
}

TEST(StatsKeeperSizes, CountersAreSizedFromTheConfiguration) {
  Config cfg;
  cfg.NUM_LINKS = 2;
  cfg.NUM_QUADS = 2;
  cfg.NUM_VAULTS = 8;
  cfg.NUM_PARTITIONS = 4;
  StatsKeeper s(cfg);
  EXPECT_EQ(s.readRequestSizeCounter.size(), 8u);
  EXPECT_EQ(s.perVaultReads.size(), 8u);
  EXPECT_EQ(s.perVaultPerBankCounters.size(), 8u);
  EXPECT_EQ(s.perVaultPerBankCounters[7].size(), 16u);
  EXPECT_EQ(s.perVaultTSVUse.size(), 8u);
  EXPECT_EQ(s.perLinkMinLatency, (std::vector<uint32_t>{4294967295u, 4294967295u}));
  EXPECT_EQ(s.perLinkMaxLatency, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(s.perQuadResponse.size(), 2u);
  EXPECT_EQ(s.perQuadResponse[1].size(), 2u);
  EXPECT_EQ(s.perVSWSourceBufferAvg.size(), 2u);
  EXPECT_EQ(s.perVSWSourceBufferAvg[0].size(), 2u + 4u - 1u);
  EXPECT_EQ(s.perLSWSourceBufferAvg[1].size(), 2u);
  EXPECT_EQ(s.perLSWFlitBandwidth.size(), 2u);
}
