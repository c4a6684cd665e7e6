// Whole runs of the quorsim program on small configurations: every request is
// answered, the monitor ends the run, nothing reports an error, the end state is
// at rest, and runs are reproducible.
#include "support/process.h"
#include "support/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using namespace quortest;

namespace {

struct Mix {
  const char* name;
  const char* settings;
};

void PrintTo(const Mix& mix, std::ostream* os) { *os << mix.name; }

// Every traffic mix a user can choose, each small enough to finish in well
// under a second of wall time.
const Mix kMixes[] = {
    {"Reads64", "PERCENTAGE_READ = 100\n"},
    {"Writes64", "PERCENTAGE_READ = 0\n"},
    {"Mixed", "PERCENTAGE_READ = 50\n"},
    {"PostedWrites", "PERCENTAGE_READ = 30\nPOSTED_WRITES = true\n"},
    {"Atomics", "USE_ATOMICS = 1\nATOMICS_PERCENTAGE = 30\n"},
    {"AtomicsWithPostedWrites", "USE_ATOMICS = 1\nATOMICS_PERCENTAGE = 30\nPOSTED_WRITES = true\n"},
    {"OnlyAtomicsPostedWrites", "USE_ATOMICS = 1\nATOMICS_PERCENTAGE = 100\nPOSTED_WRITES = true\n"},
    {"AllSizes",
     "PERCENTAGE_RD_16B = 12\nPERCENTAGE_RD_32B = 12\nPERCENTAGE_RD_48B = 12\nPERCENTAGE_RD_64B = 12\n"
     "PERCENTAGE_RD_80B = 13\nPERCENTAGE_RD_96B = 13\nPERCENTAGE_RD_112B = 13\nPERCENTAGE_RD_128B = 13\n"
     "PERCENTAGE_WR_16B = 12\nPERCENTAGE_WR_32B = 12\nPERCENTAGE_WR_48B = 12\nPERCENTAGE_WR_64B = 12\n"
     "PERCENTAGE_WR_80B = 13\nPERCENTAGE_WR_96B = 13\nPERCENTAGE_WR_112B = 13\nPERCENTAGE_WR_128B = 13\n"},
    {"Stream1LocalRandom", "REQUEST_STREAM = 1\n"},
    {"Stream2LocalRoundRobin", "REQUEST_STREAM = 2\n"},
    {"Stream3TwoLinks", "REQUEST_STREAM = 3\nNUM_GENERATORS = 2\n"},
    {"Stream4TwoLinks", "REQUEST_STREAM = 4\nNUM_GENERATORS = 2\n"},
    {"HostMappingRandom", "HOST_MAPPING = 0\n"},
    {"HostMappingLocal", "HOST_MAPPING = 1\n"},
    {"OpenLoop", "RESPONSE_OPEN_LOOP = true\n"},
    {"NarrowLinks",
     "LINK_0_WIDTH = 8\nLINK_1_WIDTH = 8\nLINK_2_WIDTH = 8\nLINK_3_WIDTH = 8\n"},
    {"Speed12_5", "LINK_SPEED = 12.5\n"},
    {"Speed10", "LINK_SPEED = 10\n"},
    {"FourPartitions", "NUM_PARTITIONS = 4\n"},
    {"OneGenerator", "NUM_GENERATORS = 1\nNUM_REQUESTS = 400\n"},
    {"Spacing", "REQUEST_SPACING = 3\n"},
    {"PackedInterquad", "PACK_INTERQUAD = 1\n"},
    {"NoRefresh", "REFRESH_ENABLED = false\n"},
    // A link switch slower than its link, and a busy threshold at or above the
    // buffer size: the link must keep packets whole and the buffer must hold.
    {"SwitchSlowerThanLink", "FLITS_PER_CYCLE_LSW = 2\nFLITS_PER_CYCLE_LSW_REMOTE = 2\n"},
    {"SlowestSwitchFewestTokens",
     "FLITS_PER_CYCLE_LSW = 1\nFLITS_PER_CYCLE_LSW_REMOTE = 1\nTOKENS_PER_LINK = 9\n"},
    {"LinkSwitchBufferBelowThreshold", "LSW_INPUT_BUFFER_SIZE = 24\n"},
    {"SmallestLinkSwitchBuffer",
     "LSW_INPUT_BUFFER_SIZE = 11\nLSW_INPUT_BUFFER_THRESHOLD = 10\nBUSY_SIGNAL_DELAY = 9\n"},
    // Tight and slow DRAM timing: the controller issues nothing the DRAM calls
    // early or out of place, and every response arrives whole.
    {"ShortColumnSpacing", "tCCD = 0.8\nRD_TO_WR_DIFF = 0\nNUM_REQUESTS = 200\n"},
    {"SlowCoreClock",
     "CORE_CLK = 3.2\nLINK_0_WIDTH = 8\nLINK_1_WIDTH = 8\nLINK_2_WIDTH = 8\nLINK_3_WIDTH = 8\n"},
    {"LongReadToWrite", "RD_TO_WR_SAME = 28\n"},
    // Write responses fall due while read responses go out back to back.
    {"LateReadData", "tAA = 28\n"},
    {"UnspacedAtomicsNoTRAS",
     "USE_ATOMICS = 1\nATOMICS_PERCENTAGE = 30\nATOMICS_SPACING = 0\ntRAS = 0\n"},
    // Every credit loop at its smallest legal size, with every packet size and
    // atomics: a loop that cannot pass a whole 128-byte packet deadlocks here.
    {"SmallestCreditLoops",
     "TRANSACTION_Q_CAPACITY = 2\nREQUEST_Q_CAPACITY = 1\nLSW_INTERQUAD_BUFFER_SIZE = 1\n"
     "VSW_INTERQUAD_BUFFER_SIZE = 9\nSMOOTHING_BUFFER_LM_SIZE = 1\nSMOOTHING_BUFFER_Q_SIZE = 1\n"
     "LINK_MASTER_BUFFER_SIZE = 9\nTOKENS_PER_LINK = 9\nTAGS_PER_LINK = 4\nREQUEST_BUFFER_SIZE = 9\n"
     "CREDITS_FOR_PROCESSING = 9\nVSW_RESPONSE_BUFFER_SIZE = 9\nDATA_Q_CAPACITY = 10\n"
     "USE_ATOMICS = 1\nATOMICS_PERCENTAGE = 20\nPACK_INTERQUAD = 1\nHOST_MAPPING = 0\n"
     "PERCENTAGE_RD_16B = 12\nPERCENTAGE_RD_32B = 12\nPERCENTAGE_RD_48B = 12\nPERCENTAGE_RD_64B = 12\n"
     "PERCENTAGE_RD_80B = 13\nPERCENTAGE_RD_96B = 13\nPERCENTAGE_RD_112B = 13\nPERCENTAGE_RD_128B = 13\n"
     "PERCENTAGE_WR_16B = 12\nPERCENTAGE_WR_32B = 12\nPERCENTAGE_WR_48B = 12\nPERCENTAGE_WR_64B = 12\n"
     "PERCENTAGE_WR_80B = 13\nPERCENTAGE_WR_96B = 13\nPERCENTAGE_WR_112B = 13\nPERCENTAGE_WR_128B = 13\n"},
};

std::string ConfigText(const Mix& mix) {
  // Small runs: the monitor, not SIM_TIME, ends them.
  return std::string("NUM_REQUESTS = 150\nDUMP_STATE = true\n") + mix.settings;
}

class EndToEnd : public ::testing::TestWithParam<Mix> {};

TEST_P(EndToEnd, EveryRequestAnsweredAndStateAtRest) {
  const Mix& mix = GetParam();
  TempDir dir;
  const auto config = dir.Write("run.ini", ConfigText(mix));
  const ProgramRun run = RunProgram(QuorsimProgram(), {config}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out.substr(0, 4000);
  const Report report = ParseReport(run.out);

  for (const auto& line : run.OutLines()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
  EXPECT_EQ(report.doneSources, report.expectedSources) << "every source raises done";
  EXPECT_LT(report.endTimeNs, 100000.0) << "the monitor stops the run";

  EXPECT_GT(report.issuedReads + report.issuedWrites + report.issuedAtomics, 0u);
  EXPECT_EQ(report.readResponses, report.issuedReads);
  if (report.postedWrites) {
    // Only non-posted atomics are answered.
    EXPECT_LE(report.writeResponses, report.issuedAtomics);
  } else {
    EXPECT_GE(report.writeResponses, report.issuedWrites);
    EXPECT_LE(report.writeResponses, report.issuedWrites + report.issuedAtomics);
  }

  for (const auto& link : report.links) {
    EXPECT_LE(link.requestUtilization, 100.0) << "link " << link.id;
    EXPECT_LE(link.responseUtilization, 100.0) << "link " << link.id;
    EXPECT_LE(link.effectiveBandwidth, 2 * link.peak) << "link " << link.id;
  }

  // End state: tags home, host buffers empty, no flit left in any cube buffer,
  // every credit and token home. Posted writes are done when issued, not when
  // delivered, so a run of them may stop with the last ones still in flight.
  if (report.postedWrites) return;
  EXPECT_TRUE(report.allTagsFree) << run.out.substr(run.out.find("== QUOR Controller\n\t\tFree"));
  EXPECT_TRUE(report.hostRequestBuffersEmpty);
  EXPECT_EQ(report.flitsLeftInCube, 0u);
  EXPECT_TRUE(report.cubeCreditsAtRest) << report.creditMismatch;
}

INSTANTIATE_TEST_SUITE_P(TrafficMixes, EndToEnd, ::testing::ValuesIn(kMixes),
                         [](const ::testing::TestParamInfo<Mix>& info) {
                           return std::string(info.param.name);
                         });

TEST(EndToEndRuns, SameConfigurationGivesByteIdenticalOutput) {
  TempDir dir;
  const auto config = dir.Write("run.ini", "NUM_REQUESTS = 300\nUSE_ATOMICS = 1\nHOST_MAPPING = 0\n");
  const ProgramRun first = RunProgram(QuorsimProgram(), {config}, dir.path);
  const ProgramRun second = RunProgram(QuorsimProgram(), {config}, dir.path);
  ASSERT_EQ(first.exitCode, 0);
  EXPECT_EQ(first.out, second.out);
}

TEST(EndToEndRuns, TraceReplayReachesEveryNamedVaultAndBank) {
  TempDir dir;
  const std::string trace = SourceDir() + "/traces/test.txt";
  const auto config = dir.Write("run.ini", "USE_TRACE = true\nNUM_GENERATORS = 1\nTRACE_FILENAME_0 = " +
                                               trace + "\nDRAM_TRACING = true\n");
  const ProgramRun run = RunProgram(QuorsimProgram(), {config}, dir.path);
  ASSERT_EQ(run.exitCode, 0) << run.err << run.out;
  const Report report = ParseReport(run.out);
  EXPECT_EQ(report.doneSources, 1u);
  for (const auto& line : run.OutLines()) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;

  const auto expected = TraceAccesses(trace);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(report.readResponses, expected.reads);
  EXPECT_EQ(report.writeResponses, expected.writes);
  // Each trace line's vault counts it once, in the bank it names.
  for (const auto& [vault, count] : expected.perVault) {
    ASSERT_LT(vault, report.vaults.size());
    EXPECT_EQ(report.vaults[vault].reads + report.vaults[vault].writes, count) << "vault " << vault;
  }
  const auto actsPerVaultBank = DramTraceActivates(std::filesystem::path(dir.path) / "dram_trace.csv");
  for (const auto& [key, count] : expected.perVaultBank)
    EXPECT_GE(actsPerVaultBank.count(key) ? actsPerVaultBank.at(key) : 0u, count)
        << "vault " << key.first << " bank " << key.second;
}

TEST(EndToEndRuns, QuorbenchAndQuorsimReportTheSame) {
  TempDir dir;
  const auto config = dir.Write("run.ini", "NUM_REQUESTS = 200\nPERCENTAGE_READ = 70\n");
  const ProgramRun sim = RunProgram(QuorsimProgram(), {config}, dir.path);
  const ProgramRun bench = RunProgram(QuorbenchProgram(), {config}, dir.path);
  ASSERT_EQ(sim.exitCode, 0);
  ASSERT_EQ(bench.exitCode, 0) << bench.err << bench.out;
  EXPECT_NE(bench.out.find("Starting simulation!!!!\n"), std::string::npos);
  EXPECT_EQ(ReportSection(sim.out), ReportSection(bench.out));
}

TEST(EndToEndRuns, QuorbenchRefusesWhatTheLibraryRefuses) {
  TempDir dir;
  const auto config = dir.Write("run.ini", "NUM_GENERATORS = 5\n");
  const ProgramRun bench = RunProgram(QuorbenchProgram(), {config}, dir.path);
  EXPECT_EQ(bench.exitCode, 1);
  EXPECT_EQ(bench.out, "ERROR - Please use between 1 and 4 traffic generators\n");
}

TEST(EndToEndRuns, QuorbenchUsage) {
  TempDir dir;
  const ProgramRun bench = RunProgram(QuorbenchProgram(), {}, dir.path);
  EXPECT_EQ(bench.exitCode, 0);
  EXPECT_EQ(bench.out, "== Usage : Tester.o <Config File>\n");
}

} // namespace
