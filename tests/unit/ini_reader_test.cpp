// The configuration file reader: line syntax, typed conversions, update marks
// and the ways out for unreadable files and unset keys.
#include "support/temp_dir.h"

#include "quor2_utils.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
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
  // The derived keys are left to their formulas there.
  EXPECT_FALSE(fullReader.finish(full));
  std::ostringstream fromFile, defaults;
  full.print(fromFile, false);
  Config plain;
  plain.print(defaults, false);
  // The shipped file restates every default: same values, every key marked
  // (the derived keys because the file sets the keys they derive from).
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

TEST_F(IniFile, UnreadableFileOrDirectoryEndsWithAnErrorLineAndStatusOne) {
  // The child of a death test makes its own temporary directory: match by shape.
  const std::pair<std::string, const char*> cases[] = {
      {dir.File("missing.ini"), "Can't open '.*missing\\.ini'\nERROR - Could not read"},
      {dir.path, "Can't open '.*'\nERROR - The configuration file '.*' is a directory"}};
  for (const auto& [path, expected] : cases) {
    EXPECT_EXIT(
        {
          dup2(2, 1);
          reader.readFile(path, cfg);
        },
        ::testing::ExitedWithCode(1), expected)
        << path;
  }
}

TEST(IniReaderUnset, ErrorOnUnsetAbortsOnTheFirstMissingKey) {
  EXPECT_EXIT(
      {
        Config cfg;
        IniReader strict(true, true);
        strict.finish(cfg);
      },
      ::testing::ExitedWithCode(1), "ERROR: key 'SIM_TIME' is unset\n");
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

// ---------------------------------------------------------------------------
// Lines and values a user can trust

TEST(IniLines, EachLineIsBlankAPairOrIgnoredWithAReason) {
  const struct {
    const char* line;
    IniLine::Kind kind;
    const char* key;
    const char* value;
  } cases[] = {
      {"", IniLine::Blank, "", ""},
      {"  \t ", IniLine::Blank, "", ""},
      {"; NUM_REQUESTS = 5", IniLine::Blank, "", ""},
      {" NUM_REQUESTS \t= 5 ; five", IniLine::Pair, "NUM_REQUESTS", "5"},
      {"A==B", IniLine::Pair, "A", "B"},
      {"STATS_FILENAME=", IniLine::Pair, "STATS_FILENAME", ""},
      {"[general]", IniLine::NoSeparator, "", ""},
      {"NUM_REQUESTS 5", IniLine::NoSeparator, "", ""},
      {"A=B=C", IniLine::ManySeparators, "", ""},
  };
  for (const auto& c : cases) {
    const IniLine l = ParseIniLine(c.line);
    EXPECT_EQ(l.kind, c.kind) << c.line;
    EXPECT_EQ(l.key, c.key) << c.line;
    EXPECT_EQ(l.value, c.value) << c.line;
  }
}

TEST(IniValues, EveryTypedReadAcceptsWarnsKeepsTheDefaultOrRefuses) {
  using S = Conversion::Status;
  const struct {
    const char* raw;
    S status;
    unsigned value;      // unsigned reading (when not refused)
    const char* note;    // part of the note
  } counts[] = {
      {"10", S::Accepted, 10, ""},
      {"+7", S::Accepted, 7, ""},
      {"12abc", S::Warned, 12, "read as 12"},
      {"0x10", S::Warned, 0, "read as 0"},
      {"5.7", S::Warned, 5, "'.7'"},
      {"4294967295", S::Accepted, 4294967295u, ""},
      {"-0", S::Accepted, 0, ""},
      {"", S::Ignored, 99, "no value"},
      {"many", S::Ignored, 99, "not a number"},
      {"-5", S::Refused, 99, "negative"},
      {"4294967296", S::Refused, 99, "out of range"},
  };
  for (const auto& c : counts) {
    unsigned v = 99;
    const Conversion r = ConvertValue(c.raw, v);
    EXPECT_EQ(r.status, c.status) << c.raw;
    EXPECT_EQ(v, c.value) << c.raw;
    EXPECT_NE(r.note.find(c.note), std::string::npos) << c.raw << ": " << r.note;
  }
  const struct {
    const char* raw;
    S status;
    uint64_t ps;
    const char* note;
  } times[] = {
      {"1.6", S::Accepted, 1600, ""},
      {"10xs", S::Warned, 10000, "read as 10 ns"},
      {"10us", S::Accepted, 10000000, ""},
      {"2.5 ns", S::Accepted, 2500, ""},
      {"1600ps", S::Accepted, 1600, ""},
      {"0.5ps", S::Refused, 7, "whole number of ps"},
      {"-3", S::Refused, 7, "negative"},
      {"1e300", S::Refused, 7, "longer than"},
      // Eight times this (a derived key) would pass the kernel's limit.
      {"6666666666666660", S::Refused, 7, "longer than"},
      {"1e12", S::Accepted, 1000000000000000, ""},
      {"soon", S::Ignored, 7, "not a number"},
  };
  for (const auto& c : times) {
    sc_time t(7, SC_PS);
    const Conversion r = ConvertValue(c.raw, t);
    EXPECT_EQ(r.status, c.status) << c.raw;
    EXPECT_EQ(t.value(), c.ps) << c.raw;
    EXPECT_NE(r.note.find(c.note), std::string::npos) << c.raw << ": " << r.note;
  }
  // A time kept in whole ns: a unit converts exactly or not at all; a bare
  // number reads as a count, as stored files expect.
  const struct {
    const char* raw;
    S status;
    unsigned ns;
    const char* note;
  } wholeNs[] = {
      {"500", S::Accepted, 500, ""},        {"2us", S::Accepted, 2000, ""},
      {"1.5 us", S::Accepted, 1500, ""},    {"3000ps", S::Accepted, 3, ""},
      {"500ps", S::Refused, 9, "whole number of ns"},
      {"0.5", S::Warned, 0, "read as 0"},   {"5ks", S::Warned, 5, "read as 5"},
      {"5000ms", S::Refused, 9, "out of range"},
  };
  for (const auto& c : wholeNs) {
    unsigned v = 9;
    const Conversion r = ConvertWholeNanoseconds(c.raw, v);
    EXPECT_EQ(r.status, c.status) << c.raw;
    EXPECT_EQ(v, c.ns) << c.raw;
    EXPECT_NE(r.note.find(c.note), std::string::npos) << c.raw << ": " << r.note;
  }
  const struct {
    const char* raw;
    S status;
    bool value;
  } bools[] = {{"true", S::Accepted, true},  {"True", S::Accepted, true},
               {"false", S::Accepted, false}, {"False", S::Accepted, false},
               {"1", S::Warned, false},      {"TRUE", S::Warned, false},
               {"yes", S::Warned, false},    {"", S::Warned, false}};
  for (const auto& c : bools) {
    bool b = !c.value;
    const Conversion r = ConvertValue(c.raw, b);
    EXPECT_EQ(r.status, c.status) << c.raw;
    EXPECT_EQ(b, c.value) << c.raw;
    if (c.status == S::Warned) {
      EXPECT_NE(r.note.find("read as false"), std::string::npos) << c.raw;
    }
  }
  float f = 1;
  EXPECT_EQ(ConvertValue("12.5Gbps", f).status, S::Warned);
  EXPECT_EQ(f, 12.5f);
  std::string word = "x";
  EXPECT_EQ(ConvertValue("my stats.txt", word).status, S::Warned);
  EXPECT_EQ(word, "my");
  EXPECT_EQ(ConvertValue("", word).status, S::Ignored);
}

TEST_F(IniFile, WarningsNameFileLineAndKeyAndSayHowAValueWasRead) {
  const std::string path = dir.Write("w.ini", "\xEF\xBB\xBFNUM_REQUESTS = 10\n"
                                              "PERCENTAGE_RAED = 100\n"
                                              "[general]\n"
                                              "USE_TRACE = 1\n"
                                              "SIM_TIME = 10xs\n");
  testing::internal::CaptureStderr();
  reader.readFile(path, cfg);
  reader.finish(cfg);
  const std::string err = testing::internal::GetCapturedStderr();
  // The byte-order mark no longer hides the first key.
  EXPECT_EQ(cfg.NUM_REQUESTS, 10u);
  EXPECT_EQ(cfg.SIM_TIME, sc_time(10, SC_NS));
  for (const std::string& expected :
       {path + ":2: unknown key 'PERCENTAGE_RAED' is ignored (closest known key: "
               "'PERCENTAGE_READ')",
        path + ":3: no '=' in this line", path + ":4: USE_TRACE: '1' read as false",
        path + ":5: SIM_TIME: read as 10 ns"})
    EXPECT_NE(err.find("WARNING - " + expected), std::string::npos) << expected << "\n" << err;
}

TEST_F(IniFile, ANegativeCountIsRefusedWithAnErrorLine) {
  EXPECT_EXIT(
      {
        dup2(2, 1);
        Load("NUM_REQUESTS = -5\n");
      },
      ::testing::ExitedWithCode(1), "ERROR - .*test.ini:1: NUM_REQUESTS = -5: negative value");
}

TEST_F(IniFile, DerivedKeysFollowTheKeysTheyDeriveFromUnlessSetThemselves) {
  const struct {
    const char* file;
    const char* key;
    const sc_time& (*get)(const Config&);
    uint64_t ps;
  } cases[] = {
      {"tRAS = 30\n", "tRC", [](const Config& c) -> const sc_time& { return c.tRC; }, 42800},
      {"tRAS = 30\ntRC = 40\n", "tRC", [](const Config& c) -> const sc_time& { return c.tRC; },
       40000},
      {"UI = 0.2\n", "DRAM_tCK", [](const Config& c) -> const sc_time& { return c.DRAM_tCK; }, 400},
      {"UI = 0.2\n", "BL", [](const Config& c) -> const sc_time& { return c.BL; }, 1600},
      {"UI = 0.2\n", "tCMD", [](const Config& c) -> const sc_time& { return c.tCMD; }, 400},
      {"UI = 0.2\n", "tCCD", [](const Config& c) -> const sc_time& { return c.tCCD; }, 1600},
      {"UI = 0.2\n", "tCCDRP", [](const Config& c) -> const sc_time& { return c.tCCDRP; }, 3200},
      {"UI = 0.2\n", "tCCDWP", [](const Config& c) -> const sc_time& { return c.tCCDWP; }, 2400},
      // tWL + BL + tWTR - UI = 9.6 + 1.6 + 6.8 - 0.2
      {"UI = 0.2\n", "WR_TO_RD_SAME",
       [](const Config& c) -> const sc_time& { return c.WR_TO_RD_SAME; }, 17800},
      // tAA + BL + tRTW - tWL = 10.8 + 1.6 + 3.6 - 9.6
      {"UI = 0.2\n", "RD_TO_WR_SAME",
       [](const Config& c) -> const sc_time& { return c.RD_TO_WR_SAME; }, 6400},
      {"UI = 0.2\nDRAM_tCK = 0.8\n", "tCCD",
       [](const Config& c) -> const sc_time& { return c.tCCD; }, 3200},
      {"CORE_CLK = 2.4\nFLITS_PER_CYCLE_LINK = 5\n", "BUFFER_PRIORITY_WAIT",
       [](const Config& c) -> const sc_time& { return c.BUFFER_PRIORITY_WAIT; }, 153600},
  };
  for (const auto& c : cases) {
    Config fresh;
    IniReader r(true, false);
    testing::internal::CaptureStderr();
    r.readFile(dir.Write("d.ini", c.file), fresh);
    r.finish(fresh);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.get(fresh).value(), c.ps) << c.file << c.key;
    // A derived key recomputed from a key the file set is marked as set.
    EXPECT_EQ(fresh.optionMap.at(c.key), 1u) << c.file << c.key;
  }
}
