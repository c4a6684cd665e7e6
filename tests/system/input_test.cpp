// What users type and write, end to end: the command line, configuration files
// and traces that quorsim and quorbench take. Every input either runs cleanly
// or ends with an ERROR line and a non-zero status: no signal, no hang.
#include "support/process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quortest::ProgramRun;
using quortest::QuorbenchProgram;
using quortest::QuorsimProgram;
using quortest::RunProgram;
using quortest::TempDir;

namespace {

const char* const kSmall = "NUM_REQUESTS = 100\nSIM_TIME = 2000000\nNUM_GENERATORS = 1\n";
const char* const kRead = "id:1,lnk:0,cmd:enu_read,vlt:5,bnk:1,dram:0x2,dbytes:64,nop:0";
const char* const kWrite = "id:2,lnk:0,cmd:enu_write,vlt:5,bnk:1,dram:0x2,dbytes:64,nop:0";

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A run that replays `trace` on one reader with the small configuration.
ProgramRun ReplayTrace(const TempDir& dir, const std::string& trace,
                       const std::string& extra = "") {
  dir.Write("t.txt", trace);
  dir.Write("t.ini", std::string(kSmall) + "USE_TRACE = true\nTRACE_FILENAME_0 = t.txt\n" + extra);
  return RunProgram(QuorsimProgram(), {"t.ini"}, dir.path);
}

// Clean: exit 0, no ERROR, stopped because the source was done.
void ExpectClean(const ProgramRun& r, const std::string& what) {
  EXPECT_EQ(r.exitCode, 0) << what << "\n" << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "ERROR")) << what;
  EXPECT_TRUE(Has(r.out, "Simulation stopped by user")) << what;
}

void ExpectRefused(const ProgramRun& r, const std::string& what, const std::string& line) {
  EXPECT_EQ(r.signal, 0) << what;
  EXPECT_EQ(r.exitCode, 1) << what << "\n" << r.out << r.err;
  EXPECT_TRUE(Has(r.out + r.err, line)) << what << ": no '" << line << "' in\n" << r.out << r.err;
}

} // namespace

TEST(CommandLine, HelpAndVersionAnswerAndExitZero) {
  TempDir dir;
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--help"}, "Usage: quorsim [-f=]<config file> [KEY=VALUE ...]"},
      {{"-h"}, "configs/default.ini"},
      {{"--version"}, "quorsim "}};
  for (const auto& [args, text] : cases) {
    const ProgramRun r = RunProgram(QuorsimProgram(), args, dir.path);
    EXPECT_EQ(r.exitCode, 0) << args[0];
    EXPECT_TRUE(Has(r.out, text)) << args[0] << "\n" << r.out;
  }
}

TEST(CommandLine, OverridesWinOverTheFileAndAreMarkedInTheListing) {
  TempDir dir;
  dir.Write("c.ini", kSmall);
  for (const char* file : {"c.ini", "-f=c.ini"}) {
    const ProgramRun r = RunProgram(
        QuorsimProgram(), {file, "SIM_TIME=200", "PERCENTAGE_READ=100"}, dir.path);
    EXPECT_EQ(r.exitCode, 0) << file << "\n" << r.err;
    EXPECT_TRUE(Has(r.out, "[*] [sc_time]: 'SIM_TIME'=200 ns\n")) << file;
    EXPECT_TRUE(Has(r.out, "[*] [unsigned]: 'PERCENTAGE_READ'=100\n")) << file;
    EXPECT_TRUE(Has(r.out, "[*] [unsigned]: 'NUM_REQUESTS'=100\n")) << file;
    EXPECT_TRUE(Has(r.out, "======= Dumping stats at 200ns")) << file;
  }
}

TEST(CommandLine, BadOverridesAreRefused) {
  TempDir dir;
  dir.Write("c.ini", kSmall);
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"c.ini", "NUM_REQUESTS=-5"}, "ERROR - command line: NUM_REQUESTS = -5: negative value"},
      {{"c.ini", "NUM_REQESTS=5"}, "closest known key: 'NUM_REQUESTS'"},
      {{"-f="}, "ERROR - no file name after -f="}};
  for (const auto& [args, line] : cases)
    ExpectRefused(RunProgram(QuorsimProgram(), args, dir.path), args.back(), line);
}

// Strict reading, one process per case. A value typed on the command line is
// read as written or refused, strict or not; under --strict (or STRICT = true)
// every warning of the files becomes an ERROR, all are named, and the run ends
// with status 1 before the model is built. Times take a unit.
TEST(CommandLine, StrictCasesRunAsWrittenOrEndWithErrorsNamingEveryProblem) {
  TempDir dir;
  dir.Write("c.ini", kSmall);
  dir.Write("yes.ini", std::string(kSmall) + "POSTED_WRITES = yes\n");
  dir.Write("two.ini", std::string(kSmall) + "SIM_TIME = 20xs\nNUM_REQESTS = 5\n");
  dir.Write("self.ini", std::string(kSmall) + "STRICT = true\nno separator here\n");
  dir.Write("t.txt", std::string(kRead) + ",extra:1\n");
  dir.Write("t.ini", std::string(kSmall) + "USE_TRACE = true\nTRACE_FILENAME_0 = t.txt\n");
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> texts;  // each in standard output or error
  } cases[] = {
      {{"c.ini", "SIM_TIME=2us", "NUM_REQUESTS=100000"}, 0, {"Dumping stats at 2000ns"}},
      {{"c.ini", "SIM_TIME=1.5 us", "NUM_REQUESTS=100000"}, 0, {"Dumping stats at 1500ns"}},
      {{"c.ini", "--epoch-ns", "1us", "--epochs", "e.csv"}, 0, {"'EPOCH_NS'=1000"}},
      {{"c.ini", "--check"}, 0, {"Dumping stats at 0ns"}},
      {{"yes.ini"}, 0, {"WARNING - yes.ini:4: POSTED_WRITES: 'yes' read as false"}},
      {{"c.ini", "SIM_TIME=abc"}, 1, {"ERROR - command line: SIM_TIME: 'abc' is not a number"}},
      {{"c.ini", "POSTED_WRITES=yes"}, 1, {"ERROR - command line: POSTED_WRITES: 'yes'"}},
      {{"c.ini", "POSTED_WRITES=TRUE"}, 1, {"ERROR - command line: POSTED_WRITES: 'TRUE'"}},
      {{"c.ini", "POSTED_WRITES=1"}, 1, {"ERROR - command line: POSTED_WRITES: '1'"}},
      {{"c.ini", "--epoch-ns", "0.5"}, 1, {"ERROR - command line: EPOCH_NS: read as 0"}},
      {{"c.ini", "--epoch-ns=500ps"}, 1, {"EPOCH_NS = 500ps: not a whole number of ns"}},
      {{"c.ini", "SIM_TIME=0.5ps"}, 1, {"SIM_TIME = 0.5ps: not a whole number of ps"}},
      {{"c.ini", "--stat-json", "x.json"}, 1, {"unknown option '--stat-json' (did you mean --stats-json?)"}},
      {{"c.ini", "--progress=1"}, 1, {"ERROR - --progress takes no value"}},
      {{"c.ini", "stray"}, 1, {"ERROR - argument 'stray' is neither an option nor KEY=VALUE"}},
      {{"yes.ini", "--strict"}, 1, {"ERROR - yes.ini:4: POSTED_WRITES: 'yes' read as false"}},
      {{"two.ini", "--strict"},
       1,
       {"ERROR - two.ini:5: unknown key 'NUM_REQESTS'", "ERROR - two.ini:4: SIM_TIME: read as 20 ns"}},
      {{"self.ini"}, 1, {"ERROR - self.ini:5: no '=' in this line"}},
      {{"t.ini", "--strict"}, 1, {"ERROR - t.txt:1: the fields after nop are ignored"}},
      {{"c.ini", "NUM_QUADS=2"},
       1,
       {"ERROR - NUM_LINKS must equal NUM_QUADS", "ERROR - NUM_VAULTS must equal NUM_QUADS"}},
  };
  for (const auto& c : cases) {
    std::string what;
    for (const auto& a : c.args) what += a + " ";
    const ProgramRun r = RunProgram(QuorsimProgram(), c.args, dir.path);
    EXPECT_EQ(r.signal, 0) << what;
    EXPECT_EQ(r.exitCode, c.exitCode) << what << "\n" << r.out << r.err;
    for (const auto& text : c.texts)
      EXPECT_TRUE(Has(r.out + r.err, text)) << what << ": no '" << text << "' in\n" << r.out << r.err;
    // A refused run builds nothing: no source announced itself.
    if (c.exitCode != 0) {
      EXPECT_FALSE(Has(r.out, "=== Creating generator")) << what;
    }
  }
}

TEST(CommandLine, AReportFileThatCannotBeWrittenFailsTheRunAfterAFullReport) {
  TempDir dir;
  dir.Write("c.ini", kSmall);
  const ProgramRun r =
      RunProgram(QuorsimProgram(),
                 {"c.ini", "DUMP_STATS_FILE=true", "STATS_FILENAME=no/such/dir.txt"}, dir.path);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "ERROR - Could not write the report file 'no/such/dir.txt'")) << r.err;
  const auto lines = r.OutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("  Total Bytes Moved : ", 0), 0u);
}

TEST(CommandLine, QuorbenchNamesTheKeysItDoesNotHonour) {
  TempDir dir;
  dir.Write("c.ini", std::string(kSmall) + "DUMP_STATE = false\n");
  const ProgramRun r = RunProgram(QuorbenchProgram(), {"c.ini"}, dir.path);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.err, "WARNING - quorbench does not honour SIM_TIME")) << r.err;
  EXPECT_TRUE(Has(r.err, "WARNING - quorbench does not honour DUMP_STATE")) << r.err;
  EXPECT_FALSE(Has(r.err, "honour CORE_CLK")) << r.err;
}

TEST(TraceRuns, TracesTheModelCanHonourFinishCleanly) {
  // A trace with no request is refused (OpenLoopTracesAndOfferedLoad, TraceLines).
  const std::pair<std::string, std::string> cases[] = {
      {std::string(kRead) + "\r" + kRead + "\r", ""},
      {std::string(kRead) + "\nhello world\n" + kWrite + "\n", ""},
      {std::string(kRead) + "\n" + kWrite + "\n", "POSTED_WRITES = true\n"},
      {std::string(kRead) + "\n" + kWrite, "POSTED_WRITES = true\n"},
  };
  for (const auto& [trace, extra] : cases) {
    TempDir dir;
    const ProgramRun r = ReplayTrace(dir, trace, extra);
    ExpectClean(r, trace + extra);
    // Every request the trace holds is issued, posted writes included.
    const unsigned reads = Has(trace, "enu_read") ? (Has(trace, "\r") ? 2 : 1) : 0;
    const unsigned writes = Has(trace, "enu_write") ? 1 : 0;
    EXPECT_TRUE(Has(r.out, "   Reads : " + std::to_string(reads) + " (")) << trace << extra;
    EXPECT_TRUE(Has(r.out, "   Writes: " + std::to_string(writes) + " (")) << trace << extra;
  }
}

TEST(TraceRuns, LinesTheModelCannotHonourEndTheRunBeforeItStarts) {
  const std::pair<std::string, std::string> cases[] = {
      {"dram:0x20000", "dram: 0x20000 puts the address outside of the 2GB address space"},
      {"dram:0xFFFFFFFF", "t.txt:2: dram:"},
      {"dram:-1", "t.txt:2: dram: '-1' is negative"},
      {"dbytes:256", "ERROR - Unsupported data size : 256"},
      {"dbytes:17", "t.txt:2: dbytes: size 17"},
      {"vlt:abc", "t.txt:2: vlt: 'abc' is not a number"},
      {"nop:-1", "t.txt:2: nop: '-1' is negative"},
  };
  for (const auto& [field, line] : cases) {
    TempDir dir;
    std::string bad = kRead;
    const std::string key = field.substr(0, field.find(':') + 1);
    const auto at = bad.find(key);
    bad.replace(at, bad.find(',', at) - at, field);
    const ProgramRun r = ReplayTrace(dir, std::string(kRead) + "\n" + bad + "\n");
    ExpectRefused(r, field, line);
    EXPECT_FALSE(Has(r.out, "Dumping stats")) << field;
  }
}

TEST(ConfigurationRuns, FilesThatCannotBeMeantAreRefusedWithoutASignal) {
  const std::pair<std::string, std::string> cases[] = {
      {"NUM_REQUESTS = -5\n", "ERROR - c.ini:1: NUM_REQUESTS = -5: negative value"},
      {"SIM_TIME = -1\n", "ERROR - c.ini:1: SIM_TIME = -1: negative time"},
      {"SIM_TIME = 1e300\n", "longer than the kernel can count"},
      {"TAGS_PER_LINK = 99999999999\n", "out of range"},
  };
  for (const auto& [content, line] : cases) {
    TempDir dir;
    dir.Write("c.ini", content);
    ExpectRefused(RunProgram(QuorsimProgram(), {"c.ini"}, dir.path), content, line);
  }
  TempDir dir;
  ExpectRefused(RunProgram(QuorsimProgram(), {"."}, dir.path), "directory", "is a directory");
  ExpectRefused(RunProgram(QuorsimProgram(), {"missing.ini"}, dir.path), "missing",
                "Can't open 'missing.ini'");
  ExpectRefused(RunProgram(QuorbenchProgram(), {"missing.ini"}, dir.path), "bench missing",
                "Can't open 'missing.ini'");
}
