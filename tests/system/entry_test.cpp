// The quorsim program's front door, run as a separate process in a temporary
// directory: usage, unreadable files, validation and an empty configuration.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Outcome {
  int exitCode = -1;  // when it exited
  int signal = 0;     // when a signal ended it
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// Runs the program with args in dir, its two streams collected in files.
Outcome RunProgram(const quortest::TempDir& dir, const std::vector<std::string>& args) {
  const std::string outPath = dir.File(".stdout");
  const std::string errPath = dir.File(".stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path.c_str()) != 0) _exit(127);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    std::vector<char*> argv;
    static const std::string program = QUORSIM_BINARY_DIR "/quorsim";
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  Outcome o;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) o.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  o.out = Slurp(outPath);
  o.err = Slurp(errPath);
  return o;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

} // namespace

TEST(ProgramEntry, WithoutArgumentPrintsOnlyTheUsageLineAndExitsZero) {
  quortest::TempDir dir;
  const Outcome o = RunProgram(dir, {});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "== Usage : blah.o -f=<Config File>\n");
  EXPECT_EQ(o.err.find("Reading ini file"), std::string::npos);
}

TEST(ProgramEntry, TheFormTheUsageLineShowsIsAcceptedAndAMissingFileEndsWithStatusOne) {
  quortest::TempDir dir;
  const Outcome o = RunProgram(dir, {"-f=nothing.ini"});
  EXPECT_EQ(o.signal, 0);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("Can't open 'nothing.ini'\n"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("Reading ini file"), std::string::npos);
  EXPECT_EQ(o.out, "ERROR - Could not read the configuration file 'nothing.ini'\n");
}

TEST(ProgramEntry, FiveGeneratorsEndAtTheFirstRuleWithStatusOne) {
  quortest::TempDir dir;
  dir.Write("five.ini", "NUM_GENERATORS = 5\n");
  const Outcome o = RunProgram(dir, {"five.ini"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "ERROR - Please use between 1 and 4 traffic generators\n");
  EXPECT_NE(o.err.find("Reading ini file 'five.ini'\n"), std::string::npos) << o.err;
}

TEST(ProgramEntry, ReadPercentageRuleAlsoExitsOne) {
  quortest::TempDir dir;
  dir.Write("pct.ini", "PERCENTAGE_READ = 150\n");
  const Outcome o = RunProgram(dir, {"pct.ini"});
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_EQ(o.out, "ERROR - Read percentage should be between 0 and 100\n");
}

// Index of the first configuration line (the sources announce themselves first).
static size_t ListingStart(const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find("[sc_time]: 'SIM_TIME'=") != std::string::npos) return i;
  return lines.size();
}

TEST(ProgramEntry, EmptyFileProceedsWithTheDefaultListingAndAReport) {
  quortest::TempDir dir;
  dir.Write("empty.ini", "");
  const Outcome o = RunProgram(dir, {"empty.ini"});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_NE(o.err.find("Reading ini file 'empty.ini'\n"), std::string::npos) << o.err;
  const auto lines = Lines(o.out);
  const size_t first = ListingStart(lines);
  ASSERT_GT(lines.size(), first + 141);
  EXPECT_EQ(lines[0], "=== Creating generator 0 ===");
  EXPECT_EQ(lines[first], "[sc_time]: 'SIM_TIME'=100 us");
  EXPECT_EQ(lines[first + 139], "[sc_time]: 'WR_TO_RD_DIFF'=4800 ps");
  for (size_t i = first; i < first + 140; ++i)
    EXPECT_EQ(lines[i].find("[*] "), std::string::npos) << lines[i];
  // The defaults run for the whole SIM_TIME: a million requests per source do
  // not finish in 100 us.
  size_t report = first + 140;
  while (report < lines.size() && lines[report].rfind("======= Dumping stats at", 0) != 0) ++report;
  ASSERT_LT(report, lines.size());
  EXPECT_EQ(lines[report], "======= Dumping stats at 100000ns / 62500 cube cycles =======");
  EXPECT_EQ(lines.back().rfind("  Total Bytes Moved : ", 0), 0u);
}

TEST(ProgramEntry, KeysSetByTheFileAreMarkedInTheListing) {
  quortest::TempDir dir;
  dir.Write("set.ini", "NUM_REQUESTS = 5 ; fewer\r\nNUM_GENERATORS = 1\r\n");
  const Outcome o = RunProgram(dir, {"set.ini"});
  EXPECT_EQ(o.exitCode, 0);
  const auto lines = Lines(o.out);
  const size_t first = ListingStart(lines);
  ASSERT_GT(lines.size(), first + 140);
  int marked = 0;
  for (size_t i = first; i < first + 140; ++i) marked += lines[i].rfind("[*] ", 0) == 0;
  EXPECT_EQ(marked, 2);
  EXPECT_EQ(lines[first + 1], "[*] [unsigned]: 'NUM_GENERATORS'=1");
  EXPECT_EQ(lines[first + 2], "[*] [unsigned]: 'NUM_REQUESTS'=5");
}
