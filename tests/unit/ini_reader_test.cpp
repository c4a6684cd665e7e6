// The configuration file reader: line syntax, typed conversions, update marks
// and the ways out for unreadable files and unset keys.
#include "support/temp_dir.h"

#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace Orvane::Internal::QUOR2;
using sc_core::SC_NS;
using sc_core::SC_PS;
using sc_core::sc_time;

namespace {

class IniFile : public ::testing::Test {
protected:
  // Reads content as a file into the reader (without finishing).
  IniReader& Read(const std::string& content) {
    reader.readFile(dir.Write("test.ini", content), cfg);
    return reader;
  }
  // Reads content and moves every key into cfg, with validation.
  void Load(const std::string& content) {
    Read(content);
    reader.finish(cfg);
  }
  std::string Raw(const std::string& key) {
    const std::string* v = reader.getValue(key);
    return v ? "'" + *v + "'" : "unset";
  }

  quortest::TempDir dir;
  Config cfg;
  IniReader reader{true, false};
};

} // namespace

// ---------------------------------------------------------------------------
// Line syntax

TEST_F(IniFile, CommentsEndTheLineAndCommentLinesAreSkipped) {
  Load("NUM_GENERATORS = 2 ; two sources for now\n"
       "; NUM_REQUESTS = 5\n"
       "  ;TAGS_PER_LINK = 3\n");
  EXPECT_EQ(cfg.NUM_GENERATORS, 2u);
  EXPECT_EQ(cfg.NUM_REQUESTS, 1000000u);
  EXPECT_EQ(cfg.TAGS_PER_LINK, 512u);
  EXPECT_EQ(reader.allOptions.size(), 1u);
}

TEST_F(IniFile, TwoSeparateEqualSignsSkipTheLine) {
  Load("NUM_GENERATORS=2=3\n");
  EXPECT_EQ(Raw("NUM_GENERATORS"), "unset");
  EXPECT_EQ(cfg.NUM_GENERATORS, 4u);
  EXPECT_EQ(cfg.optionMap.at("NUM_GENERATORS"), 0u);
}

TEST_F(IniFile, ARunOfEqualSignsIsOneSeparator) {
  Load("NUM_REQUESTS==77\n");
  EXPECT_EQ(cfg.NUM_REQUESTS, 77u);
}

TEST_F(IniFile, LinesWithoutSeparatorAndSectionHeadersAreSkipped) {
  Read("[general]\nNUM_REQUESTS 5\n\n   \nNUM_LINKS\t=\t4\t\n");
  EXPECT_EQ(reader.allOptions.size(), 1u);
  EXPECT_EQ(Raw("NUM_LINKS"), "'4'");
}

TEST_F(IniFile, SpacesAndTabsAroundKeyAndValueAreStripped) {
  Read(" \tSTATS_FILENAME \t=  \t out.txt \t\n");
  EXPECT_EQ(Raw("STATS_FILENAME"), "'out.txt'");
}

TEST_F(IniFile, EmptyValueIsStoredButDoesNotConvertAndStillCountsAsSet) {
  Load("STATS_FILENAME=\nNUM_REQUESTS =   \nUSE_TRACE=\n");
  EXPECT_EQ(Raw("STATS_FILENAME"), "''");
  EXPECT_EQ(Raw("NUM_REQUESTS"), "''");
  EXPECT_EQ(cfg.STATS_FILENAME, "stats.txt");
  EXPECT_EQ(cfg.NUM_REQUESTS, 1000000u);
  EXPECT_FALSE(cfg.USE_TRACE);
  EXPECT_EQ(cfg.optionMap.at("STATS_FILENAME"), 1u);
  EXPECT_EQ(cfg.optionMap.at("NUM_REQUESTS"), 1u);
}

TEST_F(IniFile, ADuplicateKeyKeepsTheLastValueAndCountsOnce) {
  Load("NUM_REQUESTS = 10\nNUM_REQUESTS = 20\n");
  EXPECT_EQ(cfg.NUM_REQUESTS, 20u);
  EXPECT_EQ(cfg.optionMap.at("NUM_REQUESTS"), 1u);
}

TEST_F(IniFile, UnknownKeysAreStoredAndIgnored) {
  Load("NO_SUCH_KEY = 12\n");
  EXPECT_EQ(Raw("NO_SUCH_KEY"), "'12'");
  EXPECT_FALSE(cfg.hasOption("NO_SUCH_KEY"));
  std::ostringstream listing;
  cfg.print(listing, true);
  EXPECT_EQ(listing.str(), "");
}

TEST_F(IniFile, KeysAreCaseSensitive) {
  Load("num_requests = 5\nTj = 90\n");
  EXPECT_EQ(cfg.NUM_REQUESTS, 1000000u);
  EXPECT_EQ(cfg.Tj, 90u);
}

TEST_F(IniFile, WindowsLineEndsAreReadWithoutTheCarriageReturn) {
  Load("NUM_REQUESTS = 12\r\nSTATS_FILENAME = out.txt\r\nUSE_TRACE = true\r\nCORE_CLK = 1.6\r\n");
  EXPECT_EQ(Raw("STATS_FILENAME"), "'out.txt'");
  EXPECT_EQ(cfg.NUM_REQUESTS, 12u);
  EXPECT_EQ(cfg.STATS_FILENAME, "out.txt");
  EXPECT_TRUE(cfg.USE_TRACE);
}

TEST_F(IniFile, LastLineWithoutNewlineIsRead) {
  Load("NUM_REQUESTS = 33");
  EXPECT_EQ(cfg.NUM_REQUESTS, 33u);
}

TEST_F(IniFile, ReadFileReturnsTrueAndLeavesTheRecordUnchanged) {
  EXPECT_TRUE(reader.readFile(dir.Write("a.ini", "NUM_REQUESTS = 3\n"), cfg));
  EXPECT_EQ(cfg.NUM_REQUESTS, 1000000u);
  EXPECT_EQ(cfg.optionMap.at("NUM_REQUESTS"), 0u);
}

// ---------------------------------------------------------------------------
// Typed reads

TEST_F(IniFile, UnsignedStopsAtTheFirstCharacterThatIsNotPartOfTheNumber) {
  Read("A = 12abc\nHEX = 0x10\nB = abc\n");
  unsigned v = 99;
  EXPECT_TRUE(reader.read<unsigned>("A", v));
  EXPECT_EQ(v, 12u);
  EXPECT_TRUE(reader.read<unsigned>("HEX", v));
  EXPECT_EQ(v, 0u);
  v = 99;
  EXPECT_FALSE(reader.read<unsigned>("B", v));
  EXPECT_EQ(v, 99u);
  EXPECT_FALSE(reader.read<unsigned>("ABSENT", v));
  EXPECT_EQ(v, 99u);
}

TEST_F(IniFile, HexNumberOfRequestsEndsTheRunAtTheZeroRequestsRule) {
  EXPECT_EXIT(
      {
        std::cout.flush();
        dup2(2, 1);
        Load("NUM_REQUESTS = 0x10\n");
      },
      ::testing::ExitedWithCode(1), "ERROR - No point in simulating with 0 requests\n$");
}

TEST_F(IniFile, BoolIsTrueOnlyForTrueAndTrueCapitalised) {
  Read("A = True\nB = true\nC = TRUE\nD = 1\nE =\nF = yes\n");
  const std::pair<const char*, bool> cases[] = {{"A", true},  {"B", true},  {"C", false},
                                                {"D", false}, {"E", false}, {"F", false}};
  for (const auto& c : cases) {
    bool v = !c.second;
    EXPECT_TRUE(reader.read(c.first, v)) << c.first;
    EXPECT_EQ(v, c.second) << c.first;
  }
  bool untouched = true;
  EXPECT_FALSE(reader.read("ABSENT", untouched));
  EXPECT_TRUE(untouched);
}

TEST_F(IniFile, StringKeepsTheFirstWordOnly) {
  Load("STATS_FILENAME = my stats.txt\n");
  EXPECT_EQ(cfg.STATS_FILENAME, "my");
}

TEST_F(IniFile, FloatReadsLinkSpeed) {
  Load("LINK_SPEED = 12.5\n");
  EXPECT_EQ(cfg.LINK_SPEED, 12.5f);
}

TEST_F(IniFile, TimesAreNanosecondsRoundedToThePicosecond) {
  // Read only: 1.25 ns is no multiple of tCMD, which validation would refuse.
  Read("CORE_CLK = 1.25\ntRP = 12.8\n");
  EXPECT_TRUE(reader.read("CORE_CLK", cfg.CORE_CLK));
  EXPECT_TRUE(reader.read("tRP", cfg.tRP));
  EXPECT_EQ(cfg.CORE_CLK, sc_time(1250, SC_PS));
  EXPECT_EQ(cfg.CORE_CLK.value(), 1250u);
  EXPECT_EQ(cfg.tRP.value(), 12800u);
}

TEST_F(IniFile, LongTimesKeepEveryDigit) {
  // 2^24 + 1 ns: a single-precision float would read 16777216.
  Load("SIM_TIME = 16777217\n");
  EXPECT_EQ(cfg.SIM_TIME.value(), 16777217000ull);
}

TEST_F(IniFile, ValueThatDoesNotConvertKeepsTheDefaultButCountsAsUpdated) {
  Load("NUM_REQUESTS = many\nCORE_CLK = fast\n");
  EXPECT_EQ(cfg.NUM_REQUESTS, 1000000u);
  EXPECT_EQ(cfg.CORE_CLK, sc_time(1.6, SC_NS));
  EXPECT_EQ(cfg.optionMap.at("NUM_REQUESTS"), 1u);
  EXPECT_EQ(cfg.optionMap.at("CORE_CLK"), 1u);
}

// ---------------------------------------------------------------------------
// finish and markAsUpdated

TEST_F(IniFile, FinishIsTrueOnlyWhenEveryKeyWasReadAndConverted) {
  Read("NUM_REQUESTS = 3\n");
  EXPECT_FALSE(reader.finish(cfg));
  EXPECT_EQ(cfg.NUM_REQUESTS, 3u);

  Config full;
  IniReader fullReader(true, false);
  fullReader.readFile(QUORSIM_SOURCE_DIR "/configs/default.ini", full);
  EXPECT_TRUE(fullReader.finish(full));
  std::ostringstream fromFile, defaults;
  full.print(fromFile, false);
  Config plain;
  plain.print(defaults, false);
  // The shipped file restates every default: same values, every key marked.
  std::string marked;
  std::istringstream in(defaults.str());
  for (std::string l; std::getline(in, l);) marked += "[*] " + l + "\n";
  EXPECT_EQ(fromFile.str(), marked);
}

TEST_F(IniFile, MarkAsUpdatedRaisesKnownKeysOnce) {
  std::map<std::string, std::string> options{{"NUM_LINKS", "4"}, {"BOGUS", "1"}, {"UI", "x"}};
  reader.markAsUpdated(cfg, options);
  EXPECT_EQ(cfg.optionMap.at("NUM_LINKS"), 1u);
  EXPECT_EQ(cfg.optionMap.at("UI"), 1u);
  EXPECT_EQ(cfg.optionMap.at("SIM_TIME"), 0u);
  EXPECT_FALSE(cfg.hasOption("BOGUS"));
}

// ---------------------------------------------------------------------------
// Ways out

TEST_F(IniFile, ReadingAnnouncesTheFileOnStandardError) {
  const std::string path = dir.Write("x.ini", "");
  testing::internal::CaptureStderr();
  reader.readFile(path, cfg);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Reading ini file '" + path + "'\n");
}

TEST_F(IniFile, UnreadableFileAbortsWithItsLine) {
  EXPECT_EXIT(reader.readFile(dir.File("missing.ini"), cfg), ::testing::KilledBySignal(SIGABRT),
              "Can't open '.*missing\\.ini'\n");
}

TEST(IniReaderUnset, ErrorOnUnsetAbortsOnTheFirstMissingKey) {
  EXPECT_EXIT(
      {
        Config cfg;
        IniReader strict(true, true);
        strict.finish(cfg);
      },
      ::testing::KilledBySignal(SIGABRT), "ERROR: key 'SIM_TIME' is unset\n");
}

TEST(IniReaderUnset, WithoutErrorOnUnsetDefaultsStaySilently) {
  Config cfg;
  IniReader lenient(true, false);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(lenient.finish(cfg));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(cfg.NUM_GENERATORS, 4u);
}

TEST(GetConfigLoader, NullNameGivesTheValidatedDefaults) {
  testing::internal::CaptureStderr();
  Config* cfg = GetConfig(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(cfg->NUM_REQUESTS, 1000000u);
  for (const auto& entry : cfg->optionMap) EXPECT_EQ(entry.second, 0u);
  delete cfg;
}

TEST(GetConfigLoader, NamedFileIsReadAndMarked) {
  quortest::TempDir dir;
  const std::string path = dir.Write("g.ini", "NUM_REQUESTS = 8\n");
  testing::internal::CaptureStderr();
  Config* cfg = GetConfig(path);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(cfg->NUM_REQUESTS, 8u);
  EXPECT_EQ(cfg->optionMap.at("NUM_REQUESTS"), 1u);
  delete cfg;
}
