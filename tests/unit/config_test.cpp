// The configuration record: defaults and derived keys, the listing, the option
// map, clock-period arithmetic, and the small helpers that come with it.
#include "support/temp_dir.h"

#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <unistd.h>
#include <vector>

using namespace Orvane::Internal::QUOR2;
using sc_core::SC_NS;
using sc_core::SC_PS;
using sc_core::sc_time;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string Listing(const Config& cfg, bool onlyNonDefault) {
  std::ostringstream os;
  cfg.print(os, onlyNonDefault);
  return os.str();
}

// Reads a configuration file the way the entry does.
void Load(Config& cfg, const std::string& content) {
  quortest::TempDir dir;
  IniReader reader(true, false);
  reader.readFile(dir.Write("run.ini", content), cfg);
  reader.finish(cfg);
}

} // namespace

// ---------------------------------------------------------------------------
// Defaults and derived keys

TEST(ConfigDerivedKeys, DefaultsFollowTheirFormulas) {
  Config cfg;
  EXPECT_EQ(cfg.psScaleFactor, 1u);
  EXPECT_EQ(cfg.BUFFER_PRIORITY_TIME, sc_time(409.6, SC_NS));
  EXPECT_EQ(cfg.BUFFER_PRIORITY_WAIT, sc_time(102.4, SC_NS));
  EXPECT_EQ(cfg.DRAM_tCK, sc_time(0.8, SC_NS));
  EXPECT_EQ(cfg.BL, sc_time(3.2, SC_NS));
  EXPECT_EQ(cfg.tCMD, sc_time(0.8, SC_NS));
  EXPECT_EQ(cfg.tRC, sc_time(35.2, SC_NS));
  EXPECT_EQ(cfg.tCCD, sc_time(3.2, SC_NS));
  EXPECT_EQ(cfg.tCCDRP, sc_time(6.4, SC_NS));
  EXPECT_EQ(cfg.tCCDWP, sc_time(4.8, SC_NS));
  EXPECT_EQ(cfg.RD_TO_WR_SAME, sc_time(8.0, SC_NS));
  EXPECT_EQ(cfg.RD_TO_WR_DIFF, sc_time(8.0, SC_NS));
  // WR_TO_RD_SAME subtracts UI, WR_TO_RD_DIFF subtracts tAA.
  EXPECT_EQ(cfg.WR_TO_RD_SAME, sc_time(19.2, SC_NS));
  EXPECT_EQ(cfg.WR_TO_RD_DIFF, sc_time(4.8, SC_NS));
}

TEST(ConfigDerivedKeys, FileMaySetADerivedKeyDirectly) {
  Config cfg;
  Load(cfg, "BL = 4\ntRAS = 30\n");
  EXPECT_EQ(cfg.BL, sc_time(4, SC_NS));
  EXPECT_EQ(cfg.tRAS, sc_time(30, SC_NS));
  // Computed after the file from the values in force: tRAS + tRP, and with
  // the file's BL, tAA + BL + tRTW - tWL.
  EXPECT_EQ(cfg.tRC, sc_time(42.8, SC_NS));
  EXPECT_EQ(cfg.RD_TO_WR_SAME, sc_time(8.8, SC_NS));
}

// ---------------------------------------------------------------------------
// Listing

TEST(ConfigListing, AllKeysInTableOrderWithTypesAndValueForms) {
  Config cfg;
  const auto lines = Lines(Listing(cfg, false));
  ASSERT_EQ(lines.size(), 140u);
  EXPECT_EQ(lines.front(), "[sc_time]: 'SIM_TIME'=100 us");
  EXPECT_EQ(lines[1], "[unsigned]: 'NUM_GENERATORS'=4");
  EXPECT_EQ(lines[3], "[bool]: 'ALIGNED_32B'=1");
  EXPECT_EQ(lines[6], "[bool]: 'USE_TRACE'=0");
  EXPECT_EQ(lines[7], "[string]: 'TRACE_FILENAME_0'=traces/test.txt");
  EXPECT_EQ(lines.back(), "[sc_time]: 'WR_TO_RD_DIFF'=4800 ps");
  auto find = [&](const std::string& key) {
    for (const auto& l : lines)
      if (l.find("'" + key + "'=") != std::string::npos) return l;
    return std::string("missing ") + key;
  };
  EXPECT_EQ(find("LINK_SPEED"), "[float]: 'LINK_SPEED'=15");
  EXPECT_EQ(find("CORE_CLK"), "[sc_time]: 'CORE_CLK'=1600 ps");
  EXPECT_EQ(find("REFRESH_ENABLED"), "[bool]: 'REFRESH_ENABLED'=1");
  EXPECT_EQ(find("STATS_FILENAME"), "[string]: 'STATS_FILENAME'=stats.txt");
  EXPECT_EQ(find("MAX_REQUEST_SIZE"), "[unsigned]: 'MAX_REQUEST_SIZE'=128");
  EXPECT_EQ(find("TSV_WIDTH"), "[unsigned]: 'TSV_WIDTH'=32");
  EXPECT_EQ(find("Tj"), "[unsigned]: 'Tj'=85");
  for (const auto& l : lines) EXPECT_NE(l.rfind("[*] ", 0), 0u) << l;
}

TEST(ConfigListing, OnlyTheKeyTheFileSetCarriesTheMarker) {
  Config cfg;
  Load(cfg, "NUM_REQUESTS = 500\n");
  const auto lines = Lines(Listing(cfg, false));
  ASSERT_EQ(lines.size(), 140u);
  int marked = 0;
  for (const auto& l : lines) {
    if (l.rfind("[*] ", 0) == 0) {
      ++marked;
      EXPECT_EQ(l, "[*] [unsigned]: 'NUM_REQUESTS'=500");
    }
  }
  EXPECT_EQ(marked, 1);
  EXPECT_EQ(Listing(cfg, true), "[*] [unsigned]: 'NUM_REQUESTS'=500\n");
}

TEST(ConfigListing, LaterKeysAreListedOnlyWhenSetAfterTheOthers) {
  Config cfg;
  Load(cfg, "DRAM_TRACE_FILE = cmds.csv\nRANDOM_SEED = 7\n");
  const auto lines = Lines(Listing(cfg, false));
  ASSERT_EQ(lines.size(), 142u);
  EXPECT_EQ(lines[139], "[sc_time]: 'WR_TO_RD_DIFF'=4800 ps");
  EXPECT_EQ(lines[140], "[*] [unsigned]: 'RANDOM_SEED'=7");
  EXPECT_EQ(lines[141], "[*] [string]: 'DRAM_TRACE_FILE'=cmds.csv");
  EXPECT_EQ(cfg.RANDOM_SEED, 7u);
  EXPECT_EQ(cfg.STATS_JSON, "");
}

TEST(ConfigListing, OnlyNonDefaultIsEmptyWithoutAFile) {
  Config cfg;
  EXPECT_EQ(Listing(cfg, true), "");
}

TEST(ConfigListing, BoolSetByFilePrintsAsOneOrZero) {
  Config cfg;
  Load(cfg, "DUMP_STATE = true\nALIGNED_32B = false\n");
  EXPECT_EQ(Listing(cfg, true),
            "[*] [bool]: 'ALIGNED_32B'=0\n[*] [bool]: 'DUMP_STATE'=1\n");
}

TEST(ConfigListing, PrinterLeavesTheStreamFormattingAsItFoundIt) {
  Config cfg;
  std::ostringstream os;
  os.precision(3);
  os.setf(std::ios::fixed, std::ios::floatfield);
  os.fill('*');
  const auto flags = os.flags();
  cfg.print(os, false);
  EXPECT_EQ(os.precision(), 3);
  EXPECT_EQ(os.flags(), flags);
  EXPECT_EQ(os.fill(), '*');
}

// ---------------------------------------------------------------------------
// Option map

TEST(ConfigOptionMap, EveryKeyIsAnOptionStartingAtZero) {
  Config cfg;
  // The 140 listed keys and the 14 listed only when set.
  EXPECT_EQ(cfg.optionMap.size(), 154u);
  EXPECT_TRUE(cfg.hasOption("SIM_TIME"));
  EXPECT_TRUE(cfg.hasOption("tRCDr"));
  EXPECT_FALSE(cfg.hasOption("trcdr"));
  EXPECT_FALSE(cfg.hasOption("NO_SUCH_KEY"));
  for (const auto& entry : cfg.optionMap) EXPECT_EQ(entry.second, 0u) << entry.first;
}

TEST(ConfigOptionMap, MarkUpdatedCountsKnownKeysAndIgnoresOthers) {
  Config cfg;
  cfg.markUpdated("NUM_LINKS");
  cfg.markUpdated("NUM_LINKS");
  cfg.markUpdated("NO_SUCH_KEY");
  EXPECT_EQ(cfg.optionMap.at("NUM_LINKS"), 2u);
  EXPECT_EQ(cfg.optionMap.size(), 154u);
  EXPECT_FALSE(cfg.hasOption("NO_SUCH_KEY"));
}

// ---------------------------------------------------------------------------
// Period arithmetic

TEST(ConfigDelayUntilNextPeriod, WholePeriodOnAnEdgeRemainderOtherwise) {
  Config cfg;
  const sc_time period(1600, SC_PS);
  EXPECT_EQ(cfg.delayUntilNextPeriod(sc_time(1600, SC_PS), period), sc_time(1600, SC_PS));
  EXPECT_EQ(cfg.delayUntilNextPeriod(sc_time(1700, SC_PS), period), sc_time(1500, SC_PS));
  EXPECT_EQ(cfg.delayUntilNextPeriod(sc_core::SC_ZERO_TIME, period), sc_time(1600, SC_PS));
  EXPECT_EQ(cfg.delayUntilNextPeriod(sc_time(3199, SC_PS), period), sc_time(1, SC_PS));
  EXPECT_EQ(cfg.delayUntilNextPeriod(sc_time(3200, SC_PS), period), sc_time(1600, SC_PS));
}

TEST(ConfigDelayUntilNextPeriod, BoundaryHelpersAgree) {
  Config cfg;
  EXPECT_TRUE(cfg.isOnClockCycleBoundary(sc_time(3200, SC_PS)));
  EXPECT_FALSE(cfg.isOnClockCycleBoundary(sc_time(3199, SC_PS)));
  EXPECT_EQ(cfg.delayUntilNextClock(sc_time(1700, SC_PS)), sc_time(1500, SC_PS));
}

// ---------------------------------------------------------------------------
// Helpers

TEST(CeilingLog2, SmallestPowerThatCovers) {
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(0), 0u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(1), 0u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(2), 1u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(3), 2u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(4), 2u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(5), 3u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(8192), 13u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(8193), 14u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2(uint64_t{1} << 63), 63u);
  EXPECT_EQ(Orvane::Internal::QUOR2::log2((uint64_t{1} << 63) + 1), 64u);
}

TEST(StringSplit, SeparatorRunsMergeAndEndsGiveEmptyPieces) {
  using L = std::list<std::string>;
  const unsigned long all = static_cast<unsigned long>(-1);
  EXPECT_EQ(split("a;;b;", ";", all), (L{"a", "b", ""}));
  EXPECT_EQ(split("", "=", all), (L{""}));
  EXPECT_EQ(split(";x", ";", all), (L{"", "x"}));
  EXPECT_EQ(split("abc", "=", all), (L{"abc"}));
  EXPECT_EQ(split("A==B", "=", all), (L{"A", "B"}));
  EXPECT_EQ(split("A=B=C", "=", all), (L{"A", "B", "C"}));
  EXPECT_EQ(split("k=", "=", all), (L{"k", ""}));
  EXPECT_EQ(split("a b\tc", " \t", all), (L{"a", "b", "c"}));
}

TEST(StringSplit, MaxsplitBoundsThePieces) {
  using L = std::list<std::string>;
  EXPECT_EQ(split("a=b=c", "=", 2), (L{"a", "b=c"}));
  EXPECT_EQ(split("a=b=c", "=", 1), (L{"a=b=c"}));
  EXPECT_EQ(split("a=b=c", "=", 0), (L{"a=b=c"}));
}

TEST(StringStrip, RemovesOnlyTheGivenCharactersAtBothEnds) {
  EXPECT_EQ(strip(" \t inner text\t \t", " \t"), "inner text");
  EXPECT_EQ(strip(" \t\t ", " \t"), "");
  EXPECT_EQ(strip("", " \t"), "");
  EXPECT_EQ(strip("value\r", " \t"), "value\r");
  EXPECT_EQ(strip("xxaxx", "x"), "a");
}

TEST(ConvertUint64, ParsesDecimalDigits) {
  uint64_t v = 0;
  convert_uint64_t(v, "18446744073709551615", "max");
  EXPECT_EQ(v, 18446744073709551615ull);
  convert_uint64_t(v, "42", "small");
  EXPECT_EQ(v, 42u);
}

TEST(ConvertUint64, NonDigitEndsTheRunWithItsLineAndStatusOne) {
  EXPECT_EXIT(
      {
        std::cout.flush();
        dup2(2, 1);
        uint64_t v = 0;
        convert_uint64_t(v, "12a4", "address");
      },
      ::testing::ExitedWithCode(1), "ERROR: Non-digit character found: address : 12a4\n");
}

TEST(ConfirmDirectory, CreatesAMissingDirectoryAndAcceptsAnExistingOne) {
  quortest::TempDir dir;
  const std::string sub = dir.File("out");
  confirm_directory_exists(sub);
  EXPECT_TRUE(std::filesystem::is_directory(sub));
  confirm_directory_exists(sub);
  EXPECT_TRUE(std::filesystem::is_directory(sub));
}

TEST(ConfirmDirectory, UncreatablePathAbortsWithItsLine) {
  EXPECT_EXIT(
      {
        std::cout.flush();
        dup2(2, 1);
        confirm_directory_exists("/nonexistent-quorsim-parent/child");
      },
      ::testing::KilledBySignal(SIGABRT),
      "system command to confirm directory /nonexistent-quorsim-parent/child exists has "
      "failed\\.$");
}

// Options that stand for keys may come anywhere, joined by '=' or not, and end
// as overrides after those of KEY=VALUE; a missing value is an error.
TEST(CommandLine, KeyOptionsBecomeOverrides) {
  struct Case {
    std::vector<const char*> args;
    CommandLine::Action action;
    std::vector<std::pair<std::string, std::string>> overrides;
  };
  const Case cases[] = {
      {{"a.ini", "--epoch-ns", "500", "SIM_TIME=10"},
       CommandLine::Run,
       {{"SIM_TIME", "10"}, {"EPOCH_NS", "500"}}},
      {{"--progress", "a.ini", "--epochs=e.csv", "--stats-json", "s.json"},
       CommandLine::Run,
       {{"PROGRESS", "true"}, {"EPOCH_FILE", "e.csv"}, {"STATS_JSON", "s.json"}}},
      {{"--stats-json=x.json"}, CommandLine::Run, {{"STATS_JSON", "x.json"}}},
      {{"a.ini", "--epoch-ns"}, CommandLine::Error, {}},
      {{"a.ini", "--epochs="}, CommandLine::Error, {}},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv = {"quorsim"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const CommandLine cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(cl.action, c.action) << c.args.front();
    if (c.action == CommandLine::Run) EXPECT_EQ(cl.overrides, c.overrides) << c.args.front();
    else EXPECT_FALSE(cl.error.empty());
  }
}
